#include "agent/QVLStatusMenu.h"

#include "agent/QVLMainController.h"
#include "platform/TimerScale.h"
#include "projects/QVAgentState.h"
#include "shell/dialogs/IScheduleSuspendDialog.h"
#include "utilities/CommonFunctions.h"
#include "utilities/IColorUtil.h"
#include "utilities/ThemeWatcher.h"

#include <QAction>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QIcon>
#include <QSystemTrayIcon>
#include <QTimer>

namespace {

QIcon iconOf(const QVLStatusMenuModel& model)
{
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/%1.svg").arg(model.icon), QSize(), QIcon::Normal);
    icon.addFile(QStringLiteral(":/icons/%1.svg").arg(model.highlightedIcon), QSize(), QIcon::Selected);
    return icon;
}

} // namespace

QVLStatusMenuModel QVLStatusMenuModel::forState(const QVAgentState& state, bool darkMode)
{
    QVLStatusMenuModel m;
    m.comment = IScheduleSuspendDialog::scheduleEnabledCommentItemTitle(state);
    m.toggleTitle = IScheduleSuspendDialog::scheduleEnabledToggleItemTitle(state);
    m.toggleTag = IScheduleSuspendDialog::scheduleEnabledToggleItemTag(state);
    const bool active = state.isOn(QVAgentState::ScheduleOn) && !state.isOn(QVAgentState::Suspended);
    const QString stem = active ? QStringLiteral("menubar_icon_") : QStringLiteral("menubar_icon_pause_");
    m.icon = stem + (darkMode ? QStringLiteral("white") : QStringLiteral("black"));
    m.highlightedIcon = stem + QStringLiteral("white");
    return m;
}

QVLStatusMenu::QVLStatusMenu(QVLMainController& controller)
    : m_controller(controller)
{
    m_comment = m_menu.addAction(QString());
    m_comment->setEnabled(false);
    m_toggle = m_menu.addAction(QString());
    connect(
        m_toggle, &QAction::triggered, &m_controller, &QVLMainController::statusMenuScheduleEnabledToggle);
    m_menu.addSeparator();
    QAction* open = m_menu.addAction(
        QCoreApplication::translate("Localizable", "Open %1").arg(QStringLiteral("Kelvane Pro")));
    connect(open, &QAction::triggered, &m_controller, &QVLMainController::statusMenuStartMainApp);
    m_menu.addSeparator();
    QAction* prefs = m_menu.addAction(QCoreApplication::translate("Localizable", "Preferences..."));
    connect(prefs, &QAction::triggered, &m_controller, &QVLMainController::statusMenuStartMainAppWithPrefs);
    QAction* feedback = m_menu.addAction(QCoreApplication::translate("Localizable", "Send Feedback..."));
    connect(feedback, &QAction::triggered, &m_controller, &QVLMainController::statusMenuSendFeebback);
    validateAgentMenu();

    m_theme = new ThemeWatcher(this);
    connect(m_theme, &ThemeWatcher::changed, this, [this] {
        QVProcessEvents();
        validateAgentIcon();
    });

    // The tray's watcher may start after the agent at login: asking for the tray before it owns
    // its name would settle on "no tray" for good.
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString service = QString::fromLatin1(watcherService);
    if (bus.isConnected()) {
        if (bus.interface() && bus.interface()->isServiceRegistered(service)) {
            createTrayIcon();
            return;
        }
        m_watcher = new QDBusServiceWatcher(service, bus, QDBusServiceWatcher::WatchForRegistration, this);
        connect(m_watcher, &QDBusServiceWatcher::serviceRegistered, this, [this] { createTrayIcon(); });
    }
    m_bound = new QTimer(this);
    m_bound->setSingleShot(true);
    connect(m_bound, &QTimer::timeout, this, [this] {
        m_controller.log(QStringLiteral("No status notifier watcher appeared; the tray icon is made anyway"));
        qInfo("No status notifier watcher appeared; the tray icon is made anyway");
        createTrayIcon();
    });
    m_bound->start(TimerScale::scaled(trayBoundMs));
}

QVLStatusMenu::~QVLStatusMenu()
{
    if (m_tray) {
        m_tray->hide();
        delete m_tray;
    }
}

void QVLStatusMenu::createTrayIcon()
{
    if (m_tray)
        return;
    if (m_bound)
        m_bound->stop();
    delete m_watcher;
    m_watcher = nullptr;
    m_tray = new QSystemTrayIcon(this);
    m_tray->setContextMenu(&m_menu);
    m_tray->setToolTip(toolTip());
    validateAgentIcon();
    m_tray->show();
}

QString QVLStatusMenu::toolTip() const
{
    return QStringLiteral("%1 (b%2)").arg(QStringLiteral("Kelvane Pro"), m_controller.bundleVersion());
}

bool QVLStatusMenu::isDarkMode() const
{
    return IColorUtil::effectiveMode() == IColorUtil::ModeDark;
}

QVLStatusMenuModel QVLStatusMenu::model() const
{
    return QVLStatusMenuModel::forState(m_controller.agentState(), isDarkMode());
}

void QVLStatusMenu::validateAgentStateControls()
{
    validateAgentIcon();
    validateAgentMenu();
}

void QVLStatusMenu::validateAgentIcon()
{
    if (m_tray)
        m_tray->setIcon(iconOf(model()));
}

void QVLStatusMenu::validateAgentMenu()
{
    const QVLStatusMenuModel m = model();
    m_comment->setText(m.comment);
    m_toggle->setText(m.toggleTitle);
}
