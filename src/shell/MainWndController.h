#pragma once

#include "archive/IArchiveKit.h"
#include "projects/QVAgentState.h"
#include "projects/QVAgentStatePrefs.h"
#include "shell/LogSink.h"
#include "shell/dialogs/IScheduleSuspendDialog.h"
#include "utilities/IShellServices.h"

#include <QDateTime>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

class CBackupContainer;
class IBackup3Container;
class ILogDrawerController;
class IQV3MainWindow;
class ISynchronContainer;
class SleepInhibitor;
class QVConnectMessage;

// Process-wide start and closing flags: the agent started us, with "minimize", a mount start is
// being handled now, the quit is agreed, the processor is ARM.
extern bool g_startedByLauncher;
extern bool g_startedMinimize;
extern bool g_startedByMount;
extern bool g_startedByLauncherWithPreferences;
extern bool g_appClosing;
extern bool g_procARM;

// The hub of the application: the one implementation of IShellServices. It owns the log sink,
// the main window and the log window, keeps the scheduler state in step with the agent, runs the
// schedule, ready, reaper and Dock timers, starts projects on mounts and runs the one quit path.
// Main thread only, except processMessage, sendTextInfo and DIIProcessIndicatorPositionCollect.
class MainWndController : public QObject, public IShellServices, public IScheduleSuspendController
{
    Q_OBJECT
public:
    // What the hub asks of the agent's login item and the bus; tests replace them.
    struct AgentHooks
    {
        std::function<bool()> isAgentWorking;
        std::function<bool()> getAutostart;
        std::function<bool(bool)> setAgentAutostart;
        std::function<bool()> killAgent;
        std::function<void()> startAgent;
        std::function<bool(const QVConnectMessage&)> send;
        std::function<QString()> mainAppPath;
    };

    MainWndController();
    ~MainWndController() override;
    static MainWndController* shared();

    LogSink& logSink() { return m_sink; }
    // The scheduler state: the archive container's once it is attached, else the hub's own.
    QVAgentState& agentState() const;
    // The archive projects and their run queue (not owned; null while absent).
    void setArchiveContainer(CBackupContainer* archives) { m_archives = archives; }
    CBackupContainer* archiveContainer() const { return m_archives; }
    // The archive pane's side of the hub's archive members (not owned; null while absent).
    void setArchiveKit(IArchiveKit* kit) { m_archiveKit = kit; }
    IArchiveKit* archiveKit() const { return m_archiveKit; }
    void setAgentHooks(const AgentHooks& hooks) { m_agent = hooks; }
    AgentHooks& agentHooks() { return m_agent; }
    // The containers the kits show and the timers drive (not owned; null while absent).
    void setContainers(IBackup3Container* backups, ISynchronContainer* synchrons);
    IBackup3Container* backup3Container() const { return m_backups; }
    ISynchronContainer* synchronContainer() const { return m_synchrons; }
    // How the process ends; QCoreApplication::exit by default.
    void setExitHook(std::function<void(int)> exit) { m_exit = std::move(exit); }

    // ---- Start-up ------------------------------------------------------------------------------
    struct StartFlags
    {
        bool launcher = false;
        bool minimize = false;
    };
    // Arguments after the program path, compared whole and without regard to case.
    static StartFlags parseArguments(const QStringList& arguments);
    static QString startedLine(const StartFlags& flags);
    void startByLauncherCheck(const QStringList& arguments);
    // The kit stored under "SelectedFunctionKit": 2, 3 and 4 as they are, anything else 1.
    static int functionKitFromPreference(const QVariant& value);
    static bool machineIsArm(const QString& machine);
    // The workspace: the stored existing folder, else (create) generation 4, 5, or a copy of the
    // first of 1 to 3 into 4; empty when none.
    QString validateCurrentWorkspacePath(bool create);
    QString currentWorkspacePath() const { return m_currentWorkspacePath; }
    // The tar tool: the preference, else /usr/bin/gnutar, else the tree's Resources/gnutar.
    static QString gnutarPath();
    // Shows the alert when no tar tool exists; false when the user chose "Exit".
    bool checkGnutar();
    QStringList versionLines() const;
    // Start-up steps before the run loop: window, log window, kit.
    void launch(const QStringList& arguments);
    // The first event of the run loop.
    void pochatokEvent();
    bool isLaunched() const { return m_launched; }

    // ---- Windows -------------------------------------------------------------------------------
    IQV3MainWindow* mainWindow3() const { return m_window; }
    ILogDrawerController* logWindow() const { return m_logWindow; }
    void showMainWindow3();
    void mainWindowShow();
    void toggleLog();
    // The appearance changed: every view that paints with the interface colours redraws.
    void themeChanged();
    int currentKit() const;
    void toggleFunctionKit(int kit);
    void selectFunctionKitAndActivate(int kit);

    // ---- Agent link ----------------------------------------------------------------------------
    void invalidateLauncher();
    void sendCMWithActiveDatas();
    bool removeAgentIfNeed();
    void menuSuspendStartSchedule(bool fromMenu);
    QString suspenderToolTip() const;
    // The Help menu: the help book's first page, the updater's check, the feedback item.
    void showHelp();
    void onlineUpdate();
    // The product's page ("DSProductSiteURL" of the Info.plist) in the browser; without a web
    // address there, one log line.
    void goToProductSite();
    void sendFeedback();
    // The preferences dialog (a stand-in until the dialog exists: one log line).
    void showPreferences();
    int preferencesShown() const { return m_preferencesShown; }

    // ---- Timers --------------------------------------------------------------------------------
    void startSchedule();
    void stopSchedule();
    void startReady();
    void stopReady();
    void scheduleEvent(const QDateTime& now);
    void readyEvent();
    void closeQVWhenHiddenStart(const QDateTime& now);
    QTimer& scheduleTimer() { return m_scheduleTimer; }
    QTimer& readyTimer() { return m_readyTimer; }
    QTimer& dockTimer() { return m_dockTimer; }
    int systemInSleep() const { return _systemInSleep; }
    void setSystemInSleep(int value) { _systemInSleep = value; }
    // The Dock progress: the mean of the running projects' percentages, -1 when hidden.
    int dockPosition() const { return m_dockPosition; }
    const QMap<QString, int>& indicatorPositions() const { return _processIndicatorPositions; }
    // The mean of the stored percentages, truncated; 0 for none.
    static int dockMean(const QMap<QString, int>& positions);
    void collectIndicatorPosition(const QString& code, int percent);
    // Whether the archive settings view shows its Schedule tab (the archive pane answers).
    std::function<bool()> archiveScheduleTabShown;

    // ---- Run state -----------------------------------------------------------------------------
    bool isBackupNow() const;
    bool isSynchronizationNow() const;
    bool isBackupProcessing() const;
    bool isArchiveProcessing() const;
    bool isSyncProcessing() const;
    bool isCloneProcessing() const;
    bool isAnyProcessNow() const;
    // The archive queue has work or an archive tool job runs.
    bool isArchiveRunning() const;
    void startProjectsWithProcessOnMount(const QString& path);
    // The same once the volume table's first fill is done (or after triesLeft tenths of a second).
    void startOnMountWhenVolumesKnown(const QString& path, int triesLeft);

    // ---- Sleep ---------------------------------------------------------------------------------
    // The sleep control (not owned); null keeps none.
    void setSleepControl(SleepInhibitor* inhibitor);
    // Before a sleep (true): work running is ended at once and the delay lock released; after the
    // wake-up (false): awake again and a new delay lock.
    void prepareForSleep(bool start);
    // At every run start and end: the idle lock follows the work.
    void validateSleepLock();
    // The Dock timer ticks only while something runs; a run's start or progress starts it.
    void validateDockTimer();

    // ---- Quit ----------------------------------------------------------------------------------
    // The one quit path: Quit, the main window's close, the idle exit, SIGTERM and SIGINT. With
    // work running it asks (unless nobody can answer: noQuestion), then runs the quit sequence
    // and ends the run loop with 0. False when the user kept the application.
    bool requestQuit(bool noQuestion = false);
    bool mayMainWindowClose(bool noQuestion = false);
    // The log packer, started in the background: [packer, tar path, logs folder].
    QStringList packLogsCommand() const;
    void packLogs();
    // Tests: forget that the quit was agreed.
    void resetQuitState();

    // ---- IShellServices ------------------------------------------------------------------------
    void processMessage(const LogText& text, quint64 options, QObject* sender) override;
    void sendTextInfo(const QString& text, qint32 type, quint8 target, QObject* sender) override;
    QWindow* window() override;
    void funcSelectorRedraw() override;
    void eventChangedProjectStatus(IProject* project) override;
    void DIIProcessIndicatorPositionCollect(IProject* project) override;
    void DIITEvent() override;
    void validateProcessIndicator() override;
    void validateStatusString() override;
    IBackup* currentBackup() override { return m_archiveKit ? m_archiveKit->currentBackup() : nullptr; }
    IBackup* getViewIBackup() override { return m_archiveKit ? m_archiveKit->getViewIBackup() : nullptr; }
    void reloadContentViewData(IBackup* backup) override
    {
        if (m_archiveKit)
            m_archiveKit->reloadContentViewData(backup);
    }
    void eventChangedCurrentBackup() override
    {
        if (m_archiveKit)
            m_archiveKit->eventChangedCurrentBackup();
    }
    void registerStartRestore() override;
    void registerStopRestore() override;
    bool burnDisc(int volume) override;
    bool toastDisc(int volume) override;
    bool isWindowClosing() override { return g_appClosing; }
    bool isStartedByAgent() override { return g_startedByLauncher; }
    void validateDeviceMount(const QString& devicePath) override;
    void volumeBaseUpdated() override;
    void qv3CatFileRequestProcess() override;
    void connectMessageProcess(const QVConnectMessage& message) override;
    void validateScheduleSuspenderControls() override;
    void SSD_OkButton(const std::optional<QDateTime>& resumeDate) override;
    QDateTime nextGlobalProcessDate() override;
    void prepareDataForNextScheduleProcess() override;
    void saveProjectOrderListToDict(QVariantList& list) override
    {
        if (m_archiveKit)
            m_archiveKit->saveProjectOrderListToDict(list);
    }
    void setSandboxFirstNotNormalMigration(bool flag) override { m_sandboxFirstNotNormalMigration = flag; }
    void saveMainState() override;
    void showLog() override;
    void appendToWinLog(const QString& text) override { m_sink.appendToWinLog(text); }
    // The suspend dialog's OK.
    void SSD_OkButton(IScheduleSuspendDialog& dialog) override;

Q_SIGNALS:
    // After every kit, run, status and selection change: the menus and the window follow.
    void controlsChanged();
    void kitChanged(int kit);

private:
    void quitSequence();
    void log129(const QString& line);
    void textLog(const QString& text, quint8 target);
    void ensureWindows();

    LogSink m_sink;
    mutable QVAgentState m_state;
    QVAgentStatePrefs m_statePrefs { m_state };
    AgentHooks m_agent;
    IBackup3Container* m_backups = nullptr;
    CBackupContainer* m_archives = nullptr;
    IArchiveKit* m_archiveKit = nullptr;
    ISynchronContainer* m_synchrons = nullptr;
    std::function<void(int)> m_exit;

    IQV3MainWindow* m_window = nullptr; // m_ownedWindow's, or a test's
    ILogDrawerController* m_logWindow = nullptr;
    std::unique_ptr<IQV3MainWindow> m_ownedWindow;
    std::unique_ptr<ILogDrawerController> m_ownedLog;

    QTimer m_scheduleTimer;
    QTimer m_readyTimer;
    QTimer m_zombieTimer;
    QTimer m_dockTimer;
    int _systemInSleep = 0;
    bool m_quitDialogUsed = false;
    bool m_quitSequenceRan = false;
    bool m_idleChecked = false; // nothing ran at the last idle check
    bool m_launched = false;
    bool m_startFlagsTaken = false; // the arguments set the start flags once
    bool m_workspaceLogged = false;
    bool m_sandboxFirstNotNormalMigration = false;
    bool m_agentInAutostartOnPoshatoc = false;
    bool m_useAgentOnPoshatoc = false;
    QString m_currentWorkspacePath;
    QMap<QString, int> _processIndicatorPositions;
    int m_dockPosition = -1;
    int m_preferencesShown = 0;
    int m_mountStartsPending = 0;
    SleepInhibitor* m_sleep = nullptr;
};
