#include "archive/CBackupContainer.h"
#include "platform/QuitSignals.h"
#include "projects/IAgentTool.h"
#include "shell/dialogs/IFileCopierController.h"
#include "shell/dialogs/WidgetUiPrompts.h"
#include "sync/QVProcEngineRunner.h"
#include "utilities/IDiskUtil.h"
#include "utilities/RegistryVolumeRoles.h"
#include "utilities/RunLog.h"
#include "utilities/TempFolder.h"

#include <QApplication>
#include <QMainWindow>
#include <csignal>

int main(int argc, char** argv)
{
    // Our own programs see EPIPE on writes to a closed pipe instead of dying.
    std::signal(SIGPIPE, SIG_IGN);
    // SIGTERM and SIGINT end the run loop, so the quit sequence runs as for a normal quit.
    QuitSignals::catchSignals();

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kelvane Pro 3"));
    QuitSignals quitSignals;
    QObject::connect(&quitSignals, &QuitSignals::quitRequested, &app, &QCoreApplication::quit);
    // The common functions' run-log lines and temporary names go to the workspace's run log.
    RunLog::install();
    // Analyses and volume-group clones run through the outside engine.
    QVProcEngineRunner::install();
    // Private temporary folders left by runs that ended without quitting go now; ours goes at exit.
    TempFolder::removeStale(TempFolder::defaultBase());
    // The agent finds the running application by its name on the session bus; a missing bus
    // leaves the application working without its agent.
    IAgentTool::startMainApplicationLink();
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
    // The archive projects, their run queue and the main preferences live while the
    // application does; the container goes before Qt does.
    CBackupContainer::shared();

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Kelvane Pro 3"));
    window.resize(900, 600);
    window.show();

    const int status = app.exec();
    CBackupContainer::resetShared();
    IVolumeRoles::setShared(nullptr);
    IDiskUtil::setRootRunner({});
    IFileCopierWindow::setShared(nullptr);
    UiPrompts::setShared(nullptr);
    return status;
}
