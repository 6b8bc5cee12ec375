#include "MainWndController.h"

#include "archive/CBackupContainer.h"
#include "archive/CToastTool.h"
#include "archive/DiscBurnFlow.h"
#include "archive/IArchiveContainer.h"
#include "platform/AppPaths.h"
#include "platform/Clock.h"
#include "platform/DesktopServices.h"
#include "platform/MainThread.h"
#include "platform/MountInfo.h"
#include "platform/SleepInhibitor.h"
#include "platform/Subprocess.h"
#include "platform/SUUpdater.h"
#include "platform/TimerScale.h"
#include "projects/AgentStateMerge.h"
#include "projects/IAgentTool.h"
#include "projects/IProject.h"
#include "projects/QVConnectMessage.h"
#include "shell/IBPreferencesController.h"
#include "shell/ILogDrawerController.h"
#include "shell/IPreferencesHub.h"
#include "shell/IQV3MainWindow.h"
#include "shell/QVDockIconView.h"

#include "shell/dialogs/BurnProgressPanel.h"
#include "shell/dialogs/IScheduleSuspendDialog.h"
#include "snapshot/IBackup3Container.h"
#include "snapshot/IBackup3Controller.h"
#include "sync/ISynchron.h"
#include "sync/ISynchronContainer.h"
#include "sync/ISynchronizeController.h"
#include "utilities/HelpAnchor.h"
#include "utilities/ICommon.h"
#include "utilities/IPathUtil.h"
#include "utilities/IVolumeBase.h"
#include "utilities/LogOptions.h"
#include "utilities/MainPreferences.h"
#include "utilities/QVExecutor.h"
#include "utilities/RunLog.h"
#include "utilities/UiPrompts.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QSysInfo>
#include <sys/stat.h>

bool g_startedByLauncher = false;
bool g_startedMinimize = false;
bool g_startedByMount = false;
bool g_startedByLauncherWithPreferences = false;
bool g_appClosing = false;
bool g_procARM = false;

namespace {
MainWndController* g_MainWndController = nullptr;

QString dateOrNever(const QDateTime& date)
{
    return date.isValid() ? ICommon::generalStringFromDateTime(date) : QStringLiteral("never");
}

// Earlier or equal dates replace the choice, as the quit message's date is chosen.
void takeEarliest(QDateTime& choice, const QDateTime& date)
{
    if (date.isValid() && (!choice.isValid() || date <= choice))
        choice = date;
}
} // namespace

MainWndController::MainWndController()
{
    g_MainWndController = this;
    m_agent.isAgentWorking = [] { return IAgentTool::shared().isAgentWorking(); };
    m_agent.getAutostart = [] { return IAgentTool::shared().getAutostart(); };
    m_agent.setAgentAutostart = [](bool on) { return IAgentTool::shared().setAgentAutostart(on); };
    m_agent.killAgent = [] { return IAgentTool::shared().killAgent(); };
    m_agent.startAgent = [] { IAgentTool::shared().startAgent(); };
    m_agent.send = [](const QVConnectMessage& m) { return IAgentTool::shared().sendConnectMessage(m); };
    m_agent.mainAppPath = [] { return IAgentTool::shared().mainAppPath(); };
    m_exit = [](int code) { QCoreApplication::exit(code); };
    // The archive container keeps the scheduler state once it exists.
    if (!CBackupContainer::global())
        MainPreferences::shared().setAgentState(&m_statePrefs);

    m_scheduleTimer.setInterval(TimerScale::scaled(30000));
    m_readyTimer.setInterval(TimerScale::scaled(10000));
    m_zombieTimer.setInterval(TimerScale::scaled(300000));
    m_dockTimer.setInterval(TimerScale::scaled(500));
    connect(&m_scheduleTimer, &QTimer::timeout, this, [this] { scheduleEvent(Clock::current().now()); });
    connect(&m_readyTimer, &QTimer::timeout, this, &MainWndController::readyEvent);
    connect(&m_zombieTimer, &QTimer::timeout, this, [] { QVExecutor::zombieKill(); });
    connect(&m_dockTimer, &QTimer::timeout, this, &MainWndController::DIITEvent);
}

MainWndController::~MainWndController()
{
    m_sink.setLogWindow(nullptr);
    m_sink.setStatusLine(nullptr);
    if (!CBackupContainer::global())
        MainPreferences::shared().setAgentState(nullptr);
    if (IShellServices* current = &IShellServices::shared(); current == this)
        IShellServices::setShared(nullptr);
    m_ownedWindow.reset();
    m_ownedLog.reset();
    if (g_MainWndController == this)
        g_MainWndController = nullptr;
}

QVAgentState& MainWndController::agentState() const
{
    return m_archives ? m_archives->agentState() : m_state;
}

MainWndController* MainWndController::shared()
{
    return g_MainWndController;
}

void MainWndController::setContainers(IBackup3Container* backups, ISynchronContainer* synchrons)
{
    m_backups = backups;
    m_synchrons = synchrons;
    if (m_window)
        m_window->reloadLists();
}

void MainWndController::log129(const QString& line)
{
    m_sink.processMessage(LogText(line), LogWord::UtilLog, this);
}

void MainWndController::textLog(const QString& text, quint8 target)
{
    m_sink.sendTextInfo(text, 1, target, this);
}

// ---- Start-up ------------------------------------------------------------------------------

MainWndController::StartFlags MainWndController::parseArguments(const QStringList& arguments)
{
    StartFlags flags;
    for (const QString& a : arguments) {
        if (a.compare(QLatin1String("launcher"), Qt::CaseInsensitive) == 0)
            flags.launcher = true;
        else if (a.compare(QLatin1String("minimize"), Qt::CaseInsensitive) == 0)
            flags.minimize = true;
    }
    return flags;
}

QString MainWndController::startedLine(const StartFlags& flags)
{
    if (flags.launcher)
        return flags.minimize ? QStringLiteral("started by launcher") : QStringLiteral("started by menu");
    return QStringLiteral("started by user");
}

void MainWndController::startByLauncherCheck(const QStringList& arguments)
{
    const StartFlags flags = parseArguments(arguments);
    // The second check of the start-up only logs: a user who opened the application in between
    // (a second start, the agent's "Open") must stay counted as such.
    if (!m_startFlagsTaken) {
        m_startFlagsTaken = true;
        g_startedByLauncher = g_startedByLauncher || flags.launcher;
        g_startedMinimize = g_startedMinimize || flags.minimize;
    }
    log129(startedLine(flags));
}

int MainWndController::functionKitFromPreference(const QVariant& value)
{
    if (!value.isValid())
        return 1;
    const int type = value.typeId();
    // A text is no kit, even "3".
    if (type != QMetaType::Int && type != QMetaType::LongLong && type != QMetaType::UInt
        && type != QMetaType::ULongLong && type != QMetaType::Double)
        return 1;
    const double kit = value.toDouble();
    return (kit == 2 || kit == 3 || kit == 4) ? int(kit) : 1;
}

bool MainWndController::machineIsArm(const QString& machine)
{
    if (machine.contains(QLatin1String("x86_64"), Qt::CaseInsensitive))
        return false;
    return machine.contains(QLatin1String("arm64"), Qt::CaseInsensitive)
        || machine.contains(QLatin1String("aarch64"), Qt::CaseInsensitive);
}

QString MainWndController::validateCurrentWorkspacePath(bool create)
{
    QSettings* settings = AppPaths::appSettings();
    const QString stored = settings->value(QStringLiteral("QVCurrentProjectsPath")).toString();
    QString path;
    if (!stored.isEmpty() && QFileInfo(stored).isDir()) {
        path = stored;
    } else if (create) {
        IPathUtil& util = IPathUtil::shared();
        if (util.isWorkspaceExistsForVersion(4)) {
            path = IPathUtil::QVSupportPathForVersion(4);
        } else if (util.isWorkspaceExistsForVersion(5)) {
            path = IPathUtil::QVSupportPathForVersion(5);
        } else {
            for (int version = 1; version <= 3; ++version) {
                if (!util.isWorkspaceExistsForVersion(version))
                    continue;
                QString comment;
                if (util.copyWorkspaceFromVersion(version, 4, &comment)) {
                    path = IPathUtil::QVSupportPathForVersion(4);
                    IPathUtil::shared().setWorkspacePath(path);
                    MainPreferences::shared().loadPreferences();
                    if (m_synchrons)
                        m_synchrons->reInit();
                    if (m_backups)
                        m_backups->load();
                } else {
                    log129(QStringLiteral("Workspace copy failed: %1").arg(comment));
                }
                break;
            }
        }
    }
    if (!path.isEmpty() || create) {
        m_currentWorkspacePath = path;
        if (!path.isEmpty()) {
            IPathUtil::shared().setWorkspacePath(path);
            settings->setValue(QStringLiteral("QVCurrentProjectsPath"), path);
            settings->sync();
        }
    }
    if (!m_workspaceLogged) {
        m_workspaceLogged = true;
        log129(QStringLiteral("Workspace folder: %1\n").arg(m_currentWorkspacePath));
    }
    return m_currentWorkspacePath;
}

QString MainWndController::gnutarPath()
{
    const QString configured = MainPreferences::shared().tarTool();
    if (!configured.isEmpty() && QFileInfo::exists(configured))
        return configured;
    if (QFileInfo::exists(QStringLiteral("/usr/bin/gnutar")))
        return QStringLiteral("/usr/bin/gnutar");
    return AppPaths::resourcePath(QStringLiteral("gnutar"));
}

bool MainWndController::checkGnutar()
{
    // Existence through the link: a dangling Resources/gnutar counts as missing.
    if (QFileInfo::exists(gnutarPath()))
        return true;
    UiPrompts::Alert alert;
    alert.style = UiPrompts::AlertStyle::Warning;
    alert.title = tr("Warning! The required 'gnutar' tool has not been detected!");
    alert.text = QStringLiteral("%1 %2 %3")
                     .arg(tr("The program will not work properly without 'gnutar' tool installed."),
                         tr("You have to install this tool first."),
                         tr("Please contact Brisolt Software technical support for more information."));
    alert.buttons = { tr("Exit"), tr("Continue") };
    return UiPrompts::shared().showAlert(alert) != 0;
}

QStringList MainWndController::versionLines() const
{
    QString pretty;
    QFile osRelease(AppPaths::systemRoot() + QStringLiteral("/etc/os-release"));
    if (osRelease.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : osRelease.readAll().split('\n'))
            if (line.startsWith("PRETTY_NAME=")) {
                pretty = QString::fromUtf8(line.mid(12)).remove(QLatin1Char('"'));
                break;
            }
    }
    const QString info = AppPaths::infoPlistValue(QStringLiteral("CFBundleName")).toString();
    return {
        QStringLiteral("System version: %1 (%2) %3 ")
            .arg(ICommon::systemVersionString(), pretty,
                g_procARM ? QStringLiteral("ARM") : QStringLiteral("INTEL")),
        QStringLiteral("Qt version = %1").arg(QString::fromLatin1(qVersion())),
        QStringLiteral("%1 version: %2 (%3), build %4\n")
            .arg(info.isEmpty() ? QCoreApplication::applicationName() : info,
                AppPaths::infoPlistValue(QStringLiteral("CFBundleShortVersionString")).toString(),
                g_procARM ? QStringLiteral("ARM") : QStringLiteral("INTEL"),
                AppPaths::infoPlistValue(QStringLiteral("CFBundleVersion")).toString()),
    };
}

void MainWndController::ensureWindows()
{
    if (!m_logWindow) {
        m_ownedLog = std::make_unique<ILogDrawerController>();
        m_logWindow = m_ownedLog.get();
        m_sink.setLogWindow(m_logWindow);
    }
    if (!m_window) {
        m_ownedWindow = std::make_unique<IQV3MainWindow>(this);
        m_window = m_ownedWindow.get();
        m_sink.setStatusLine(m_window);
    }
}

void MainWndController::launch(const QStringList& arguments)
{
    g_procARM = machineIsArm(QSysInfo::currentCpuArchitecture());
    startByLauncherCheck(arguments);
    validateCurrentWorkspacePath(true);
    AppPaths::appSettings()->setValue(
        QStringLiteral("QVLastRunningPath"), QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget());
    if (ICommon::currentFunctionKit() == 0)
        ICommon::setCurrentFunctionKit(functionKitFromPreference(
            ICommon::loadMainPrefValueForKey(QStringLiteral("SelectedFunctionKit"))));
    ensureWindows();
    showMainWindow3();
    if (!g_startedByLauncher) {
        bool showLog = true;
        const bool stored = ICommon::loadMainPrefValueForKeyToBool(QStringLiteral("qvShowLog"), &showLog);
        if (showLog)
            m_logWindow->showWindow(!stored ? m_window : nullptr);
    }
    m_window->restoreSplitterPosition();
    // The scheduler state's start-up exchange with the agent.
    if (g_startedByLauncher)
        m_agent.send(
            QVConnectMessage::messageWithSenderAndType(QVConnectMessage::TypeStartParametersRequest));
    if (!checkGnutar()) {
        // "Exit": after the start-up steps, through the one quit path.
        QTimer::singleShot(0, this, [this] { requestQuit(true); });
    }
    QVDockIconView::setup();
    validateDockTimer();
}

void MainWndController::pochatokEvent()
{
    if (m_launched)
        return;
    m_launched = true;
    startByLauncherCheck(QCoreApplication::arguments().mid(1));
    ICommon::setPpochatok();
    if (SUUpdater::checkAtStartupRequested())
        SUUpdater::sharedUpdater().setAutomaticallyChecksForUpdates(true);
    invalidateLauncher();
    for (const QString& line : versionLines())
        log129(line);
    RunLog::removeExcessLogging(MainPreferences::shared().getKeepLogFilesCount());
    startSchedule();
    startReady();
    m_zombieTimer.start();
    if (m_window)
        m_window->focusActiveList();
}

// ---- Windows -------------------------------------------------------------------------------

void MainWndController::showMainWindow3()
{
    ensureWindows();
    if (g_startedByLauncher)
        return;
    m_window->show();
}

void MainWndController::mainWindowShow()
{
    if (g_startedByLauncher)
        return;
    ensureWindows();
    m_window->showNormal();
    m_window->raise();
    m_window->activateWindow();
}

void MainWndController::toggleLog()
{
    ensureWindows();
    m_logWindow->toggleLogWindow();
    Q_EMIT controlsChanged();
}

void MainWndController::themeChanged()
{
    if (m_window) {
        m_window->validateSuspender();
        m_window->reloadLists();
        m_window->update();
    }
    if (m_logWindow)
        m_logWindow->update();
}

void MainWndController::showLog()
{
    ensureWindows();
    m_logWindow->showWindow(nullptr);
    Q_EMIT controlsChanged();
}

int MainWndController::currentKit() const
{
    const int kit = ICommon::currentFunctionKit();
    return kit >= 1 && kit <= 4 ? kit : 1;
}

void MainWndController::toggleFunctionKit(int kit)
{
    if (kit < 1 || kit > 4)
        kit = 1;
    ICommon::setCurrentFunctionKit(kit);
    if (m_window)
        m_window->showKit(kit);
    Q_EMIT kitChanged(kit);
    Q_EMIT controlsChanged();
}

void MainWndController::selectFunctionKitAndActivate(int kit)
{
    g_startedByLauncher = false;
    mainWindowShow();
    toggleFunctionKit(kit);
}

// ---- Agent link ----------------------------------------------------------------------------

void MainWndController::invalidateLauncher()
{
    const bool agentNeeded = agentState().isOn(QVAgentState::AgentNeeded);
    const bool working = m_agent.isAgentWorking();
    m_agentInAutostartOnPoshatoc = m_agent.getAutostart();
    const bool normal = MainPreferences::lastWorkingVersionID() == QLatin1String("QV3_NORMAL_PRO");
    if (!normal) {
        if (!g_startedByLauncher && !working)
            showMainWindow3();
        agentState().setOn(QVAgentState::ScheduleOn | QVAgentState::ShowStatusMenu);
    }
    if ((!normal || agentNeeded) && (!working || !m_agentInAutostartOnPoshatoc)) {
        m_agent.setAgentAutostart(true);
        if (!working)
            m_agent.startAgent();
    }
    m_useAgentOnPoshatoc = m_agent.getAutostart();
    if (!m_useAgentOnPoshatoc)
        agentState().setOff(QVAgentState::ScheduleOn | QVAgentState::ShowStatusMenu);
}

void MainWndController::sendCMWithActiveDatas()
{
    QVConnectMessage message = QVConnectMessage::messageWithSenderAndType(QVConnectMessage::TypeAgentState);
    message.setAgentState(agentState());
    m_agent.send(message);
}

bool MainWndController::removeAgentIfNeed()
{
    const bool keep
        = (agentState().isOn(QVAgentState::AgentNeeded) && agentState().isOn(QVAgentState::ShowStatusMenu))
        || agentState().isOn(QVAgentState::ScheduleOn);
    if (!keep) {
        m_agent.setAgentAutostart(false);
        m_agent.killAgent();
    }
    return true;
}

void MainWndController::connectMessageProcess(const QVConnectMessage& message)
{
    // Only the agent talks to us, with a known promotion.
    if (message.senderProgramType() == QVConnectMessage::MainApplication)
        return;
    const int promotion = message.senderPromotionType();
    if (promotion != 1 && promotion != 2)
        return;
    const auto save = [this] { saveMainState(); };
    switch (message.type()) {
    case QVConnectMessage::TypeDataRequest:
        sendCMWithActiveDatas();
        break;
    case QVConnectMessage::TypeAgentState:
        if (AgentStateMerge::apply(agentState(), message, save) == AgentStateMerge::Result::Taken)
            validateScheduleSuspenderControls();
        break;
    case QVConnectMessage::TypeStartParameters: {
        if (AgentStateMerge::apply(agentState(), message, save) == AgentStateMerge::Result::Taken)
            validateScheduleSuspenderControls();
        const int reason = message.intForKey(QStringLiteral("LaunchingReason"), 0);
        if (reason == 2) {
            const QString path = message.stringForKey(QStringLiteral("LastMountedVolume"));
            // Only a path that is a mount point now starts on-mount projects.
            bool mounted = false;
            if (!path.isEmpty())
                for (const MountEntry& e : MountInfo::read())
                    if (e.mountPoint == MountInfo::cleanPath(path))
                        mounted = true;
            if (mounted)
                startOnMountWhenVolumesKnown(path, 100);
            else if (!path.isNull())
                log129(QStringLiteral("Mount start ignored: %1 is no mount point").arg(path));
        } else if (reason == 1) {
            const int tag = message.intForKey(QStringLiteral("StatusMenuSelectedItemTag"), 0);
            if (tag == 3 || tag == 4) {
                g_startedByLauncher = false;
                mainWindowShow();
                if (m_window)
                    m_window->focusActiveList();
            }
            if (tag == 4) {
                g_startedByLauncherWithPreferences = true;
                // After the bus handler has returned.
                QMetaObject::invokeMethod(this, &MainWndController::showPreferences, Qt::QueuedConnection);
            }
        }
        break;
    }
    default:
        break;
    }
}

void MainWndController::showHelp()
{
    if (MyGotoHelpAnchor(QString()) != 0)
        log129(QStringLiteral("The help book could not be opened"));
}

void MainWndController::onlineUpdate()
{
    log129(SUUpdater::checkForUpdatesText());
}

void MainWndController::goToProductSite()
{
    const QUrl url(
        AppPaths::infoPlistValue(QStringLiteral("DSProductSiteURL")).toString(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    const bool web = scheme == QLatin1String("https") || scheme == QLatin1String("http");
    if (!url.isValid() || url.host().isEmpty() || !web) {
        log129(QStringLiteral("The product's web site is not known to this build"));
        return;
    }
    if (!DesktopServices::openUrl(url))
        log129(QStringLiteral("The web site %1 could not be opened").arg(url.toString()));
}

void MainWndController::sendFeedback()
{
    // No feedback address is shipped.
    log129(QStringLiteral("Feedback: please write to the address on the product's web site"));
}

namespace {

// The preferences dialog's view of the hub. The updater's switch and interval belong to the
// updater itself; updates come from the package manager, so nothing else is done.
class HubPreferences : public IPreferencesHub
{
public:
    explicit HubPreferences(MainWndController& hub)
        : m_hub(hub)
    { }
    bool removeAgentIfNeed() override { return m_hub.removeAgentIfNeed(); }
    bool isAgentWorking() override { return IAgentTool::shared().isAgentWorking(); }
    // The login item's autostart file, then the agent.
    void startAgent() override { IAgentTool::shared().setAgentAutostart(true); }
    void sendCMWithActiveDatas() override { m_hub.sendCMWithActiveDatas(); }
    bool automaticallyChecksForUpdates() override
    {
        return SUUpdater::sharedUpdater().automaticallyChecksForUpdates();
    }
    void setAutomaticallyChecksForUpdates(bool on) override
    {
        SUUpdater::sharedUpdater().setAutomaticallyChecksForUpdates(on);
    }
    double updateCheckInterval() override { return SUUpdater::sharedUpdater().updateCheckInterval(); }
    void setUpdateCheckInterval(double seconds) override
    {
        SUUpdater::sharedUpdater().setUpdateCheckInterval(seconds);
    }

private:
    MainWndController& m_hub;
};

} // namespace

void MainWndController::showPreferences()
{
    ++m_preferencesShown;
    HubPreferences hub(*this);
    IBPreferencesController dialog(hub, m_window);
    dialog.runDialog();
}

void MainWndController::menuSuspendStartSchedule(bool fromMenu)
{
    if (agentState().isOn(QVAgentState::ScheduleOn) && !agentState().isOn(QVAgentState::Suspended)) {
        IScheduleSuspendDialog::shared().showWithController(this, fromMenu);
        return;
    }
    agentState().setOn(QVAgentState::ScheduleOn);
    agentState().setOff(QVAgentState::Suspended);
    m_agent.setAgentAutostart(true);
    if (!m_agent.getAutostart())
        agentState().setOff(QVAgentState::ScheduleOn | QVAgentState::ShowStatusMenu);
    validateScheduleSuspenderControls();
    sendCMWithActiveDatas();
}

void MainWndController::SSD_OkButton(const std::optional<QDateTime>& resumeDate)
{
    if (resumeDate && resumeDate->isValid()) {
        agentState().setOn(QVAgentState::ScheduleOn | QVAgentState::Suspended);
        agentState().setScheduleResumeDate(*resumeDate);
    } else {
        agentState().setOff(QVAgentState::ScheduleOn | QVAgentState::Suspended);
    }
    validateScheduleSuspenderControls();
    sendCMWithActiveDatas();
}

void MainWndController::SSD_OkButton(IScheduleSuspendDialog& dialog)
{
    const QDateTime date = dialog.scheduleResumeDate();
    SSD_OkButton(date.isValid() ? std::optional<QDateTime>(date) : std::nullopt);
}

QString MainWndController::suspenderToolTip() const
{
    if (agentState().isOn(QVAgentState::ScheduleOn) && !agentState().isOn(QVAgentState::Suspended))
        return tr("Suspend scheduler");
    QString tip = tr("Resume scheduler");
    if (agentState().isOn(QVAgentState::Suspended) && agentState().scheduleResumeDate().isValid())
        tip = tr("%1.\nIt was suspended until %2")
                  .arg(tip,
                      IScheduleSuspendDialog::localStringFromDateTime(agentState().scheduleResumeDate()));
    return tip;
}

void MainWndController::validateScheduleSuspenderControls()
{
    if (m_window)
        m_window->validateSuspender();
    Q_EMIT controlsChanged();
}

void MainWndController::saveMainState()
{
    MainPreferences::shared().savePreferences();
}

QDateTime MainWndController::nextGlobalProcessDate()
{
    QDateTime earliest;
    if (m_synchrons) {
        takeEarliest(earliest, m_synchrons->getFirstNextDateByType(0));
        takeEarliest(earliest, m_synchrons->getFirstNextDateByType(1));
    }
    if (m_backups)
        takeEarliest(earliest, m_backups->getFirstNextDate());
    if (m_archives)
        takeEarliest(earliest, m_archives->getFirstNextDate());
    return earliest;
}

void MainWndController::prepareDataForNextScheduleProcess()
{
    if (!agentState().isOn(QVAgentState::AgentNeeded))
        return;
    const QDateTime sync = m_synchrons ? m_synchrons->getFirstNextDateByType(0) : QDateTime();
    const QDateTime clone = m_synchrons ? m_synchrons->getFirstNextDateByType(1) : QDateTime();
    const QDateTime archive = m_archives ? m_archives->getFirstNextDate() : QDateTime();
    const QDateTime backup = m_backups ? m_backups->getFirstNextDate() : QDateTime();
    const quint8 target = 16;
    textLog(QStringLiteral("Next schedule dates:"), target);
    textLog(QStringLiteral("\tsynchronize:\t%1").arg(dateOrNever(sync)), target);
    textLog(QStringLiteral("\tclone:\t\t%1").arg(dateOrNever(clone)), target);
    textLog(QStringLiteral("\tarchive:\t%1").arg(dateOrNever(archive)), target);
    textLog(QStringLiteral("\tbackup:\t\t%1\n").arg(dateOrNever(backup)), target);
    QDateTime first;
    for (const QDateTime& d : { sync, clone, archive, backup })
        takeEarliest(first, d);
    textLog(QStringLiteral("Date for autostart:\t%1").arg(dateOrNever(first)), target);

    if (!m_agent.isAgentWorking())
        return;
    QVConnectMessage message
        = QVConnectMessage::messageWithSenderAndType(QVConnectMessage::TypeNextProcessData);
    QVariantList volumes;
    QStringList lists;
    if (m_backups)
        lists += m_backups->getVolumeUUIDListForStartOnMountEvent();
    if (m_synchrons)
        lists += m_synchrons->getVolumeUUIDListForStartOnMountEvent();
    if (m_archives)
        lists += m_archives->getVolumeUUIDListForStartOnMountEvent();
    for (const QString& uuid : std::as_const(lists))
        volumes << uuid;
    if (!volumes.isEmpty())
        message.setArray(volumes, QStringLiteral("StartOnMountVolumeIdArray"));
    if (first.isValid())
        message.setDate(first, QStringLiteral("FirstProcessDate"));
    const QString appPath = m_agent.mainAppPath();
    if (!appPath.isEmpty())
        message.setString(appPath, QStringLiteral("MainAppWorkingPath"));
    m_agent.send(message);
}

// ---- Timers --------------------------------------------------------------------------------

void MainWndController::startSchedule()
{
    if (!m_scheduleTimer.isActive())
        m_scheduleTimer.start();
}

void MainWndController::stopSchedule()
{
    if (!m_scheduleTimer.isActive())
        return;
    m_scheduleTimer.stop();
    m_sink.sendTextInfo(QStringLiteral("Schedule stoped\n"), 1, tpLog, this);
}

void MainWndController::startReady()
{
    m_readyTimer.stop();
    m_readyTimer.start();
}

void MainWndController::stopReady()
{
    m_readyTimer.stop();
}

void MainWndController::scheduleEvent(const QDateTime& now)
{
    // Timers fire inside modal dialogs too; nothing starts while one is open.
    if (ModalDepthGuard::depth() > 0)
        return;
    if (_systemInSleep == 2)
        return;
    if (m_archives && m_archives->isQueueNotEmpty())
        m_archives->processNext();
    if (agentState().isOn(QVAgentState::ScheduleOn)) {
        if (agentState().isOn(QVAgentState::Suspended)) {
            const QDateTime resume = agentState().scheduleResumeDate();
            if (resume.isValid() && resume > now)
                return;
            agentState().setOff(QVAgentState::Suspended);
            agentState().setScheduleResumeDate(QDateTime());
            validateScheduleSuspenderControls();
            sendCMWithActiveDatas();
            saveMainState();
        }
        if (archiveScheduleTabShown && archiveScheduleTabShown())
            return;
        // The snapshot and synchronization due checks are their panes' timers.
        if (m_archives && m_archives->checkNeedBackupingOnSchedule() > 0)
            startReady();
        closeQVWhenHiddenStart(now);
    }
}

void MainWndController::closeQVWhenHiddenStart(const QDateTime& now)
{
    if (!g_startedByLauncher || g_startedByMount || m_mountStartsPending > 0)
        return;
    const QDateTime next = nextGlobalProcessDate();
    const qint64 minutes = next.isValid() ? now.secsTo(next) / 60 : 1000;
    if (minutes <= 10)
        return;
    if (!m_idleChecked) {
        m_idleChecked = !isBackupNow() && !isSynchronizationNow();
        return;
    }
    if (isBackupNow()) {
        m_idleChecked = false;
        return;
    }
    m_idleChecked = !isSynchronizationNow();
    if (m_idleChecked) {
        log129(QStringLiteral("Nothing to do: the application started by the agent quits"));
        requestQuit(true);
    }
}

void MainWndController::readyEvent()
{
    if (ModalDepthGuard::depth() > 0)
        return;
    if (!isArchiveRunning())
        stopReady();
}

void MainWndController::collectIndicatorPosition(const QString& code, int percent)
{
    if (percent < 0)
        return;
    if (percent == 0) {
        _processIndicatorPositions.remove(code);
        DIITEvent();
        return;
    }
    _processIndicatorPositions.insert(code, percent);
    validateDockTimer();
    if (percent >= 100)
        DIITEvent();
}

void MainWndController::DIIProcessIndicatorPositionCollect(IProject* project)
{
    if (!project)
        return;
    const QString code = project->processingCodeString();
    const int percent = int(project->indicatorPositionForGlobal());
    // Reader threads post; the main thread never waits for them.
    if (!isMainThread()) {
        QPointer<MainWndController> self(this);
        runOnMain([self, code, percent] {
            if (self)
                self->collectIndicatorPosition(code, percent);
        });
        return;
    }
    collectIndicatorPosition(code, percent);
}

int MainWndController::dockMean(const QMap<QString, int>& positions)
{
    if (positions.isEmpty())
        return 0;
    double sum = 0;
    for (int v : positions)
        sum += v;
    return int(sum / positions.size());
}

void MainWndController::DIITEvent()
{
    if (!isAnyProcessNow())
        _processIndicatorPositions.clear();
    m_dockPosition = isAnyProcessNow() ? dockMean(_processIndicatorPositions) : -1;
    if (m_window)
        m_window->setDockProgress(m_dockPosition);
    // The tile is redrawn only when what it shows changes: the timer ticks while nothing runs.
    const bool shown = m_dockPosition >= 0;
    if (shown != QVDockIconView::isIndicatorVisible())
        QVDockIconView::setIndicatorVisible(shown);
    if (shown && QVDockIconView::position() != m_dockPosition)
        QVDockIconView::setPosition(m_dockPosition);
    // Nothing runs: the tile is cleared and the timer rests until the next run.
    if (!shown)
        m_dockTimer.stop();
}

void MainWndController::validateDockTimer()
{
    if (!g_appClosing && !m_dockTimer.isActive() && isAnyProcessNow())
        m_dockTimer.start();
}

// ---- Run state -----------------------------------------------------------------------------

bool MainWndController::isArchiveRunning() const
{
    return m_archives && (m_archives->isQueueNotEmpty() || m_archives->getBackupInProcess());
}

bool MainWndController::isBackupNow() const
{
    return isArchiveRunning() || (m_backups && m_backups->isProcessing());
}

bool MainWndController::isSynchronizationNow() const
{
    return m_synchrons && m_synchrons->isProcessing();
}

bool MainWndController::isBackupProcessing() const
{
    return !g_appClosing && m_backups && m_backups->isProcessing();
}

bool MainWndController::isArchiveProcessing() const
{
    return !g_appClosing && isArchiveRunning();
}

namespace {
bool synchronRunning(ISynchronContainer* container, int type)
{
    if (!container || g_appClosing)
        return false;
    for (const auto& project : container->processingList())
        if (project && project->isInProcess() && project->synchronType() == type)
            return true;
    return false;
}
} // namespace

bool MainWndController::isSyncProcessing() const
{
    return synchronRunning(m_synchrons, 0);
}

bool MainWndController::isCloneProcessing() const
{
    return synchronRunning(m_synchrons, 1);
}

bool MainWndController::isAnyProcessNow() const
{
    return isBackupProcessing() || isArchiveProcessing() || isSyncProcessing() || isCloneProcessing();
}

void MainWndController::validateDeviceMount(const QString& devicePath)
{
    if (g_appClosing)
        return;
    startProjectsWithProcessOnMount(devicePath);
}

void MainWndController::startOnMountWhenVolumesKnown(const QString& path, int triesLeft)
{
    // The projects find their volumes through the volume table, whose first fill runs on a thread
    // during the start-up, when the agent's answer with the mount may already be here: the start
    // waits for it (at most ten seconds), and the idle exit waits for the start.
    if (!IVolumeBase::shared().isBaseFilled() && triesLeft > 0) {
        ++m_mountStartsPending;
        QTimer::singleShot(100, this, [this, path, triesLeft] {
            --m_mountStartsPending;
            startOnMountWhenVolumesKnown(path, triesLeft - 1);
        });
        return;
    }
    startProjectsWithProcessOnMount(path);
}

void MainWndController::startProjectsWithProcessOnMount(const QString& path)
{
    if (g_appClosing)
        return;
    g_startedByMount = true;
    if (m_backups)
        m_backups->checkNeedBackupingOnMount(path);
    if (m_synchrons)
        m_synchrons->checkNeedSynchronizeOnMount(path);
    if (m_archives)
        m_archives->checkNeedBackupingOnMount(path);
    g_startedByMount = false;
}

void MainWndController::setSleepControl(SleepInhibitor* inhibitor)
{
    if (m_sleep)
        disconnect(m_sleep, nullptr, this, nullptr);
    m_sleep = inhibitor;
    if (!m_sleep)
        return;
    if (!m_sleep->isAvailable())
        log129(QStringLiteral("Sleep control is off: %1").arg(m_sleep->unavailableReason()));
    connect(m_sleep, &SleepInhibitor::prepareForSleep, this, &MainWndController::prepareForSleep);
}

void MainWndController::prepareForSleep(bool start)
{
    if (!start) {
        _systemInSleep = 0;
        if (m_sleep)
            m_sleep->takeDelayLock();
        return;
    }
    if (isBackupNow() || isSynchronizationNow()) {
        _systemInSleep = 2;
        // logind waits a few seconds at most: the terminations go out at once.
        if (m_synchrons)
            m_synchrons->stopProcessAnyProjects();
        if (m_archives)
            m_archives->stopTar();
        if (m_backups)
            m_backups->terminateProcess();
        m_sink.processMessage(LogText(QStringLiteral("Processes were terminated due to hard system sleep")),
            LogWord::StatusAndWindow, this);
    } else {
        _systemInSleep = 1;
    }
    if (m_sleep)
        m_sleep->releaseDelayLock();
}

void MainWndController::validateSleepLock()
{
    if (m_sleep)
        m_sleep->setWorkRunning(isBackupNow() || isSynchronizationNow());
}

void MainWndController::volumeBaseUpdated()
{
    if (g_appClosing)
        return;
    // The snapshot pane refills an open settings sheet's destination menu.
    IBackup3Controller::shared().eventDeviceListChanged();
    Q_EMIT controlsChanged();
}

void MainWndController::qv3CatFileRequestProcess()
{
    // No archive restore runs without the archive container.
}

// ---- Redraws -------------------------------------------------------------------------------

void MainWndController::processMessage(const LogText& text, quint64 options, QObject* sender)
{
    m_sink.processMessage(text, options, sender);
}

void MainWndController::sendTextInfo(const QString& text, qint32 type, quint8 target, QObject* sender)
{
    m_sink.sendTextInfo(text, type, target, sender);
}

QWindow* MainWndController::window()
{
    return m_window ? m_window->windowHandle() : nullptr;
}

void MainWndController::funcSelectorRedraw()
{
    if (m_window)
        m_window->redrawSelector();
}

void MainWndController::eventChangedProjectStatus(IProject*)
{
    if (g_appClosing)
        return;
    validateSleepLock();
    validateDockTimer();
    if (m_window)
        m_window->reloadLists();
    Q_EMIT controlsChanged();
}

void MainWndController::validateProcessIndicator()
{
    Q_EMIT controlsChanged();
}

void MainWndController::validateStatusString()
{
    Q_EMIT controlsChanged();
}

void MainWndController::registerStartRestore()
{
    Q_EMIT controlsChanged();
}

void MainWndController::registerStopRestore()
{
    Q_EMIT controlsChanged();
}

bool MainWndController::burnDisc(int)
{
    CBackupContainer* container = CBackupContainer::global();
    if (!container)
        return false;
    // The flow's setup panels are UiPrompts questions; its progress panel sits over the window.
    DiscBurnFlow flow;
    BurnProgressPanel panel(&flow, m_window);
    flow.onFinishedClean = [this] { startReady(); };
    return flow.burnDisc(container->addArchivesToDRFolder());
}

bool MainWndController::toastDisc(int)
{
    // The outside burning application does not exist on Linux: its stand-in never burns.
    CToastTool tool;
    if (CBackupContainer* container = CBackupContainer::global())
        container->addArchivesToToast(&tool);
    sendTextInfo(QCoreApplication::translate("Localizable", "Burning..."), 1, quint8(tpStatus | tpLog | tpTime), nullptr);
    const bool burnt = tool.execute();
    sendTextInfo(burnt ? QCoreApplication::translate("Localizable", "Burning succeeded")
                       : QCoreApplication::translate("Localizable", "Burning failed!"),
        1, quint8(tpStatus | tpLog | tpTime | tpMessage), nullptr);
    return burnt;
}

// ---- Quit ----------------------------------------------------------------------------------

bool MainWndController::mayMainWindowClose(bool noQuestion)
{
    if (m_quitDialogUsed)
        return true;
    if (!isBackupNow() && !isSynchronizationNow()) {
        m_quitDialogUsed = true;
        g_appClosing = true;
        return true;
    }
    bool agreed = noQuestion;
    if (!agreed) {
        if (!QCoreApplication::instance() || !m_window || !m_window->isVisible())
            mainWindowShow();
        UiPrompts::Alert alert;
        alert.style = UiPrompts::AlertStyle::Warning;
        alert.title = tr("Some processes are still running, quitting the program will terminate them.");
        alert.text = tr("This interruption will cause your Backup, Synchronization or Cloning project not to "
                        "be completed.");
        alert.buttons = { tr("Terminate and Quit"), tr("Cancel") };
        agreed = UiPrompts::shared().showAlert(alert) == 0;
    }
    if (agreed && isSynchronizationNow() && m_synchrons)
        m_synchrons->stopProcessAnyProjects();
    m_quitDialogUsed = agreed;
    g_appClosing = agreed;
    return agreed;
}

bool MainWndController::requestQuit(bool noQuestion)
{
    if (!mayMainWindowClose(noQuestion))
        return false;
    quitSequence();
    m_exit(0);
    return true;
}

void MainWndController::resetQuitState()
{
    m_quitDialogUsed = false;
    m_quitSequenceRan = false;
    g_appClosing = false;
}

void MainWndController::quitSequence()
{
    // Once per process: a second quit request (a signal during the sequence) adds nothing.
    if (m_quitSequenceRan)
        return;
    m_quitSequenceRan = true;
    m_scheduleTimer.stop();
    m_readyTimer.stop();
    m_dockTimer.stop();
    if (m_archiveKit)
        m_archiveKit->appClosing();
    textLog(QStringLiteral("..."), tpFullLog);
    textLog(QStringLiteral("Closing...\n"), tpFullLog);
    prepareDataForNextScheduleProcess();
    if (m_backups) {
        m_backups->terminateProcess();
        m_backups->save();
    }
    if (m_archives) {
        m_archives->stopTar();
        m_archives->saveAllBackups();
    }
    if (m_synchrons) {
        m_synchrons->stopProcessAnyProjects();
        m_synchrons->save();
    }
    if (m_window)
        m_window->saveState();
    saveMainState();
    m_sink.processMessage(LogText(QStringLiteral("Exit")), LogWord::RunLogWithTime, this);
    RunLog::shared().closeLog();
    if (m_logWindow)
        m_logWindow->closeAndTruncate();
    packLogs();
}

QStringList MainWndController::packLogsCommand() const
{
    return { AppPaths::resourcePath(QStringLiteral("qv3_logpacker")), gnutarPath(),
        RunLog::shared().getLogsPath() };
}

void MainWndController::packLogs()
{
    const QStringList command = packLogsCommand();
    if (!QFileInfo(command.first()).isExecutable())
        return;
    Subprocess::Options options;
    options.program = command.first();
    options.arguments = command.mid(1);
    options.newSession = true;
    QString error;
    if (Subprocess::startDetached(options, &error) <= 0)
        log129(QStringLiteral("The log packer did not start: %1").arg(error));
}
