#pragma once

#include "shell/IQVFuncSelectorView.h"
#include "shell/IStatusLine.h"

#include <QMainWindow>
#include <QMap>
#include <QPointer>
#include <QRect>
#include <optional>

class IQV3ProjectListView;
class MainWndController;
class QAction;
class QLabel;
class QMenu;
class QSplitter;
class QStackedWidget;
class QToolButton;

// What a menu item shows for the state of the current kit.
struct MenuItemState
{
    bool enabled = true;
    bool visible = true;
    QString title; // null keeps the item's title
};

// The state of the current kit, as the menu rules read it.
struct KitState
{
    int kit = 1;
    bool empty = true; // no project
    bool running = false; // the current project is in process
    bool content = false; // the current project has content (sources, folders)
    bool rowsSelected = false; // rows selected in the kit's file list
    bool versions = false; // the current project has a backup to restore
    bool ready = false; // kits 3 and 4: the project is ready to start
    bool logVisible = false;
};

// The main window: the function kit bar on top, below it a split view with the kit's project
// list on the left and its content on the right, and the status line. Each kit has a page in
// three stacks ("backup3", "backup", "clone", "synchron"); the kits' panes put their own views
// there with setKitPages.
class IQV3MainWindow : public QMainWindow, public IStatusLine, public IFuncSelectorController
{
    Q_OBJECT
public:
    enum MenuItem
    {
        MenuAddProject,
        MenuDeleteProject,
        MenuProjectProperties,
        MenuColorLabel, // tag 754
        MenuProcessProject,
        MenuProcessProject2,
        MenuRestoreProject,
        MenuToggleLog,
        MenuSuspendStartSchedule,
        MenuShowWelcome,
        MenuQuit,
        MenuOther
    };

    static constexpr int kMinWidth = 740;
    static constexpr int kMinHeight = 500;
    static constexpr int kLeftMin = 200;
    static constexpr int kRightMin = 540;

    explicit IQV3MainWindow(MainWndController* hub, QWidget* parent = nullptr);
    ~IQV3MainWindow() override;

    // Where a new window goes on a screen's available geometry (Qt's top-left terms); without a
    // screen (50, 50). A short screen keeps the title bar on the screen.
    static QPoint placement(const std::optional<QRect>& available);
    // The stored frame, checked: four integers, at least 740 x 500, meeting a screen; else none.
    static std::optional<QRect> frameFromPreference(const QVariant& value, const QList<QRect>& screens);
    // What a menu item shows: enabled, visible (a disabled item is hidden) and title.
    // inProcessMenu: the item belongs to the "Process" menu; other items see an empty kit.
    static MenuItemState menuRule(MenuItem item, const KitState& state, bool inProcessMenu);
    static QString startTitle(int kit);
    static QString stopTitle(int kit);
    static QString kitIdentifier(int kit); // "backup3", "backup", "clone", "synchron"

    IQVFuncSelectorView* selector() const { return m_selector; }
    QSplitter* splitter() const { return m_splitter; }
    QStackedWidget* projectsStack() const { return m_projects; }
    QStackedWidget* contentsStack() const { return m_contents; }
    QStackedWidget* statusesStack() const { return m_statuses; }
    IQV3ProjectListView* listView(int kit) const;
    // A pane's own views for its kit (null keeps that page).
    void setKitPages(int kit, QWidget* projectList, QWidget* content, QWidget* status);
    // A kit's pane: its parts go onto the kit's pages (setKitPages) and its list becomes the
    // kit's list; the pane itself is kept, hidden, as a child of the window.
    void setKitPane(int kit, QWidget* pane);
    QAction* action(MenuItem item) const { return m_actions.value(item); }
    QAction* kitAction(int kit) const { return m_kitActions.value(kit); }
    QToolButton* suspenderButton() const { return m_suspender; }
    QLabel* statusLabel() const { return m_status; }

    void showKit(int kit);
    KitState kitState() const;
    // Runs the menu rules over every item.
    void validateMenus();
    void validateSuspender();
    void reloadLists();
    void redrawSelector();
    void focusActiveList();
    void setDockProgress(int position);
    int leftPaneWidth() const;

    void restoreSplitterPosition();
    void restoreFrame();
    // The frame and kit into the main preferences, the divider into the application's settings.
    void saveState();

    void setStatusText(const QString& text) override;

    // IFuncSelectorController
    bool funcSelectorNeedChangeFromIndex(int from, int to) override;
    bool funcSelectorNeedShowIndicator(int kit) override;
    void changeCurrentFuncInterface3(int kit) override;
    void eventFunctionKitChanged() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildMenus();
    void buildKitPages();
    QAction* addMenuAction(QMenu* menu, MenuItem item, const QString& title, const QKeySequence& key = {});
    void validateTitle();

    MainWndController* m_hub;
    IQVFuncSelectorView* m_selector = nullptr;
    QSplitter* m_splitter = nullptr;
    QStackedWidget* m_projects = nullptr;
    QStackedWidget* m_contents = nullptr;
    QStackedWidget* m_statuses = nullptr;
    QLabel* m_status = nullptr;
    QToolButton* m_suspender = nullptr;
    // A pane may be deleted before the window (the archive pane goes before its container).
    QMap<int, QPointer<IQV3ProjectListView>> m_lists;
    QMap<MenuItem, QAction*> m_actions;
    QMap<int, QAction*> m_kitActions;
    QMap<QAction*, bool> m_inProcessMenu;
    int m_leftWidth = kLeftMin;
    int m_dockPosition = -1;
};
