#pragma once

#include <QDialog>

class QCheckBox;
class QTextBrowser;

// The welcome window: the tutorial page of the application's resources (there is no online
// page and no web engine here), the "show at start" box and Close; Ctrl+R loads the page again.
class CCWellcomeWindowController : public QDialog
{
    Q_OBJECT
public:
    explicit CCWellcomeWindowController(QWidget* parent = nullptr);

    // The start-up never opens the window by itself.
    static bool isNeedShowWellcomeWindow() { return false; }
    // The box's choice, kept in the application's settings.
    static void setNeedShowWellcomeWindow(bool show);

    void refreshPage();
    QTextBrowser* browser() const { return m_browser; }
    QCheckBox* showAtStartBox() const { return m_showAtStart; }

private:
    QTextBrowser* m_browser = nullptr;
    QCheckBox* m_showAtStart = nullptr;
};
