#include "archive/CBackupContainer.h"
#include "panes/archive/ArchivePane.h"
#include "panes/backup/Backup3Pane.h"
#include "panes/backup/IDiskImageCreater.h"
#include "panes/backup/Backup3PaneController.h"
#include "panes/sync/CloneStartWarner.h"
#include "panes/sync/SynchronizePane.h"
#include "panes/sync/SynchronizePaneController.h"
#include "platform/DistributedNotificationCenter.h"
#include "platform/QuitSignals.h"
#include "platform/SleepInhibitor.h"
#include "projects/IAgentTool.h"
#include "shell/AppActivation.h"
#include "shell/IQV3MainWindow.h"
#include "shell/MainWndController.h"
#include "shell/dialogs/IFileCopierController.h"
#include "shell/dialogs/WidgetUiPrompts.h"
#include "sync/QVProcEngineRunner.h"
#include "snapshot/IBackup3Container.h"
#include "snapshot/IBackup3Processor.h"
#include "sync/ISynchronContainer.h"
#include "sync/ISynchronProcController.h"
#include "utilities/IColorUtil.h"
#include "utilities/IDiskUtil.h"
#include "utilities/IVolumeBase.h"
#include "utilities/MainPreferences.h"
#include "utilities/RegistryVolumeRoles.h"
#include "utilities/RunLog.h"
#include "utilities/TempFolder.h"
#include "utilities/ThemeWatcher.h"

#include <QApplication>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <csignal>

int main(int argc, char** argv)
{
    // Our own programs see EPIPE on writes to a closed pipe instead of dying.
    std::signal(SIGPIPE, SIG_IGN);
    // SIGTERM and SIGINT reach the hub's one quit path.
    QuitSignals::catchSignals();

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kelvane Pro 3"));
    QGuiApplication::setDesktopFileName(QStringLiteral("com.brisoltica.KelvanePro3"));
    // Only the hub's quit ends the process: an application started hidden must not end when
    // the user closes an alert.
    QApplication::setQuitOnLastWindowClosed(false);
    QuitSignals quitSignals;

    // The agent finds the running application by its name on the session bus. Without a bus the
    // application works without its agent; with the name owned by another process this is a
    // second start, which hands its arguments to the first and ends.
    const bool busConnected = DistributedNotificationCenter::shared().connection().isConnected();
    if (!IAgentTool::startMainApplicationLink()) {
        if (busConnected)
            return AppActivation::activateRunning(QCoreApplication::arguments().mid(1)) ? 0 : 1;
        std::fprintf(stderr, "No session bus: the agent link is off\n");
    }

    // Registered before the volume table's first fill and before any container loads.
    MainWndController hub;
    IShellServices::setShared(&hub);
    QObject::connect(&quitSignals, &QuitSignals::quitRequested, &hub, [&hub] {
        // Nobody can answer at a logout: go on as "Terminate and Quit".
        hub.requestQuit(true);
    });
    // Dialogs and alerts that the engine asks for are answered by these widgets.
    WidgetUiPrompts prompts;
    UiPrompts::setShared(&prompts);
    // Disk images moved to another place are copied in the copier's window.
    IFileCopierController copierWindow;
    IFileCopierWindow::setShared(&copierWindow);
    // Mounting and unmounting volumes as root goes through the privilege backend (sudo or pkexec
    // for a user, direct for root), and the volume-model roles come from the btrfs registries.
    IDiskUtil::setRootRunner(&IDiskUtil::runWithPrivilegeBackend);
    RegistryVolumeRoles volumeRoles;
    IVolumeRoles::setShared(&volumeRoles);
    // The common functions' run-log lines and temporary names go to the workspace's run log.
    RunLog::install();
    // Analyses and volume-group clones run through the outside engine.
    QVProcEngineRunner::install();
    QThread* volumeFill = QThread::create([] { IVolumeBase::shared().fill(); });
    volumeFill->start();

    hub.validateCurrentWorkspacePath(true);
    // The archive projects, their run queue, the scheduler state and the main preferences live
    // while the application does; the container goes before Qt does.
    CBackupContainer& archives = CBackupContainer::shared();
    MainPreferences::shared().loadPreferences();
    archives.loadRecentBackups();
    // Private temporary folders left by runs that ended without quitting go now; ours goes at exit.
    TempFolder::removeStale(TempFolder::defaultBase());

    IBackup3Container backups(std::make_unique<IBackup3Processor>());
    // The snapshot-backup pane's controller answers the snapshot engine in place of the
    // headless one: its prompts, its text router and its schedule timer.
    Backup3PaneController backupPaneController(&backups);
    IBackup3Controller::setShared(&backupPaneController);
    backups.initFirstBackup3();
    ISynchronContainer synchrons(std::make_unique<ISynchronProcController>());
    // The synchronization and clone panes' controller answers the sync engine in place of the
    // headless one (the analysis outline, the pre-flight verdict, the text router).
    SynchronizePaneController syncPaneController(&synchrons);
    ISynchronizeController::setShared(&syncPaneController);
    synchrons.reInit();
    hub.setArchiveContainer(&archives);
    hub.setContainers(&backups, &synchrons);

    AppActivation activation(&hub);
    SleepInhibitor sleepControl;
    hub.setSleepControl(&sleepControl);
    // The light or dark appearance, now and whenever the desktop changes it.
    IColorUtil::themeInit();
    ThemeWatcher theme;
    QObject::connect(&theme, &ThemeWatcher::changed, &hub, &MainWndController::themeChanged);
    IAgentTool::shared().setConnectMessageReceiver();
    hub.launch(QCoreApplication::arguments().mid(1));
    if (IQV3MainWindow* window = hub.mainWindow3()) {
        window->setKitPane(1, Backup3Pane::create(&backupPaneController, window));
        QObject::connect(window, &IQV3MainWindow::createDiskImageRequested, window,
            [window] { IDiskImageCreater::showDialog(window); });
    }
    // The archive pane on the kit-2 page: its coordinator answers in place of the headless one,
    // and the hub's archive members reach its list and content view.
    QPointer<ArchivePane> archivePane;
    if (IQV3MainWindow* window = hub.mainWindow3()) {
        archivePane = ArchivePane::create(&archives, window);
        ICoordinator::setShared(archivePane->coordinator());
        hub.setArchiveKit(archivePane);
        archivePane->loadBackups(backups.archiveOrderList());
        window->setKitPane(2, archivePane);
    }
    backupPaneController.startSchedule();
    CloneStartWarner cloneStartWarner(hub.mainWindow3());
    ICloneStartWarner::setShared(&cloneStartWarner);
    if (IQV3MainWindow* window = hub.mainWindow3()) {
        window->setKitPane(3, SynchronizePane::create(&syncPaneController, 1, window));
        window->setKitPane(4, SynchronizePane::create(&syncPaneController, 0, window));
    }
    syncPaneController.eventFunctionKitChanged(hub.currentKit());
    QObject::connect(&hub, &MainWndController::kitChanged, &syncPaneController,
        &SynchronizePaneController::eventFunctionKitChanged);
    syncPaneController.startSchedule();
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &syncPaneController,
        &SynchronizePaneController::stopSchedule);
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &backupPaneController,
        &Backup3PaneController::stopSchedule);
    prompts.setParentWidget(hub.mainWindow3());
    QTimer::singleShot(0, &hub, &MainWndController::pochatokEvent);

    const int status = app.exec();
    volumeFill->wait();
    delete volumeFill;
    IBackup3Controller::setShared(nullptr);
    // The archive pane holds nodes of the projects' trees: it goes before the container.
    hub.setArchiveKit(nullptr);
    ICoordinator::setShared(nullptr);
    delete archivePane.data();
    ICloneStartWarner::setShared(nullptr);
    ISynchronizeController::setShared(nullptr);
    hub.setContainers(nullptr, nullptr);
    hub.setArchiveContainer(nullptr);
    hub.setSleepControl(nullptr);
    CBackupContainer::resetShared();
    IVolumeRoles::setShared(nullptr);
    IDiskUtil::setRootRunner({});
    IFileCopierWindow::setShared(nullptr);
    UiPrompts::setShared(nullptr);
    IShellServices::setShared(nullptr);
    return status;
}
