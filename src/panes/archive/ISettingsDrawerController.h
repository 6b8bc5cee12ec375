#pragma once

#include <QDialog>
#include <QList>
#include <QPointer>
#include <QString>
#include <functional>

class ArchiveCoordinator;
class IBSettingsViewController;
class QButtonGroup;
class QFrame;
class QLabel;
class QPushButton;
class QScrollArea;
class QStackedWidget;
class QToolButton;
class QWidget;

// The archive project's settings pages in a collapsible side panel of a window-modal sheet. The
// pages are the settings sheet's own: while the panel is open they are lent to its page stack
// (without tabs; a segmented switcher selects them) and given back when it closes, so the form
// logic stays in one place. The panel's widths and offsets come from setSizeMax(); the controls
// inside it are placed by correctControls() whenever its size changes.
class ISettingsDrawerController : public QDialog
{
    Q_OBJECT
public:
    enum DrawerState { Closed, Opening, Open, Closing };

    // `sheet` lends its pages; the coordinator (may be null) answers isSettingsDrawerOpened()
    // from this panel while it lives.
    ISettingsDrawerController(IBSettingsViewController* sheet, ArchiveCoordinator* coordinator,
        QWidget* parent = nullptr);
    ~ISettingsDrawerController() override;

    // Shows the window as a sheet on `parent` with the panel open; `didEnd` gets the end of the
    // sheet (once) when closeButton() ends it.
    void showWindowForParentWindow(QWidget* parent, std::function<void(int returnCode)> didEnd);
    // Ends the sheet: the panel closes (the pages go back to the settings sheet), the window is
    // hidden and the delegate told.
    void closeButton();
    void reject() override { closeButton(); }

    // The selected segment selects the page of the same index.
    void switchTabs();
    // Minimum, maximum and current width of the panel (the current one kept between the two) and
    // its offsets from the window's top and bottom edges; lays the controls out.
    void setSizeMax(int maxWidth, int minWidth, int contentWidth, int leadingOffset, int trailingOffset);
    void toggle();
    void openDrawer();
    void closeDrawer();
    DrawerState drawerState() const { return m_state; }
    // Places the controls for the panel's current size (width W, height H): the switcher centred
    // at the top, the pages at x 5 with width W - 10 below it, the sheet's folder field ending
    // 35 px before W, the scroll view filling what is left below the pages.
    void correctControls();

    int minContentWidth() const { return m_minWidth; }
    int maxContentWidth() const { return m_maxWidth; }
    int contentWidth() const { return m_contentWidth; }
    int leadingOffset() const { return m_leadingOffset; }
    int trailingOffset() const { return m_trailingOffset; }

    QFrame* drawer() const { return m_drawer; }
    QStackedWidget* tabView() const { return m_tabView; }
    QButtonGroup* optionSwitcher() const { return m_optionSwitcher; }
    QWidget* switcherBar() const { return m_switcherBar; }
    QScrollArea* scrollView() const { return m_scrollView; }
    QPushButton* closePushButton() const { return m_close; }
    QPushButton* togglePushButton() const { return m_toggle; }
    IBSettingsViewController* settingsSheet() const;
    // The coordinator is going away: the panel stops reporting to it.
    void forgetCoordinator() { m_coordinator = nullptr; }

    // Height of the page stack: the tallest page, at least 193 px.
    int pagesHeight() const;
    static constexpr int kMargin = 5;
    static constexpr int kSwitcherTop = 8;
    static constexpr int kFolderGap = 35;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void borrowPages();
    void returnPages();
    void updateSummary();

    QPointer<IBSettingsViewController> m_sheet;
    ArchiveCoordinator* m_coordinator;
    std::function<void(int)> m_didEnd;
    DrawerState m_state = Closed;
    int m_minWidth = 0;
    int m_maxWidth = QWIDGETSIZE_MAX;
    int m_contentWidth = 520;
    int m_leadingOffset = 0;
    int m_trailingOffset = 0;
    int m_sheetTabIndex = 0;
    QList<QPointer<QWidget>> m_pages;
    QStringList m_titles;
    QString m_chooseText;

    QFrame* m_drawer = nullptr;
    QWidget* m_switcherBar = nullptr;
    QButtonGroup* m_optionSwitcher = nullptr;
    QStackedWidget* m_tabView = nullptr;
    QScrollArea* m_scrollView = nullptr;
    QLabel* m_summary = nullptr;
    QPushButton* m_toggle = nullptr;
    QPushButton* m_close = nullptr;
};
