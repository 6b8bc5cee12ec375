#pragma once

#include <QMenu>
#include <QObject>
#include <QString>
#include <memory>

class QAction;
class QDBusServiceWatcher;
class QSystemTrayIcon;
class QTimer;
class QVAgentState;
class QVLMainController;
class ThemeWatcher;

// What the status menu shows for a scheduler state and appearance: the comment line, the
// scheduler toggle with its tag, and the icon names (resources ":/icons/<name>.svg"). The
// highlighted icon is always the white image of the state.
struct QVLStatusMenuModel
{
    QString comment;
    QString toggleTitle;
    int toggleTag = 0;
    QString icon;
    QString highlightedIcon;

    static QVLStatusMenuModel forState(const QVAgentState& state, bool darkMode);
};

// The agent's item in the tray while state bit 4 is set: a comment line on the scheduler state,
// the suspend/resume toggle, "Open Kelvane Pro", "Preferences..." and "Send Feedback...". The
// tray icon is made only once a StatusNotifierWatcher owns its bus name (at login the tray may
// come after the agent), or after a long bound for trays of the older kind; scheduling never
// waits for it.
class QVLStatusMenu : public QObject
{
    Q_OBJECT
public:
    static constexpr const char* watcherService = "org.kde.StatusNotifierWatcher";
    static constexpr int trayBoundMs = 120000;

    explicit QVLStatusMenu(QVLMainController& controller);
    ~QVLStatusMenu() override;

    QMenu& menu() { return m_menu; }
    QSystemTrayIcon* trayIcon() const { return m_tray; }
    QVLStatusMenuModel model() const;
    QString toolTip() const;

    // Titles and icon again from the state.
    void validateAgentStateControls();
    void validateAgentIcon();
    void validateAgentMenu();
    bool isDarkMode() const;

private:
    void createTrayIcon();

    QVLMainController& m_controller;
    QMenu m_menu;
    QAction* m_comment = nullptr;
    QAction* m_toggle = nullptr;
    QSystemTrayIcon* m_tray = nullptr;
    QDBusServiceWatcher* m_watcher = nullptr;
    QTimer* m_bound = nullptr;
    ThemeWatcher* m_theme = nullptr;
};
