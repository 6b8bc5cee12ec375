#include "projects/IAgentTool.h"
#include "shell/dialogs/IFileCopierController.h"
#include "shell/dialogs/WidgetUiPrompts.h"
#include "utilities/IDiskUtil.h"
#include "utilities/RegistryVolumeRoles.h"
#include "utilities/RunLog.h"
#include "utilities/TempFolder.h"

#include <QApplication>
#include <QMainWindow>
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = { -1, -1 };

void onTerminateSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] auto n = ::write(g_signalPipe[1], &byte, 1);
}

// SIGTERM and SIGINT end the run loop, so the quit sequence runs as for a normal quit. The
// signals are caught from the first line of main on; one that arrives before the run loop
// exists waits in the socket and ends the loop as soon as it starts.
void catchQuitSignals()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return;
    struct sigaction sa = {};
    sa.sa_handler = onTerminateSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}

void quitOnCaughtSignals(QApplication& app)
{
    if (g_signalPipe[0] < 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
        char byte;
        [[maybe_unused]] auto n = ::read(g_signalPipe[0], &byte, 1);
        QCoreApplication::quit();
    });
}

} // namespace

int main(int argc, char** argv)
{
    // Our own programs see EPIPE on writes to a closed pipe instead of dying.
    std::signal(SIGPIPE, SIG_IGN);
    catchQuitSignals();

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kelvane Pro 3"));
    quitOnCaughtSignals(app);
    // The common functions' run-log lines and temporary names go to the workspace's run log.
    RunLog::install();
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

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Kelvane Pro 3"));
    window.resize(900, 600);
    window.show();

    const int status = app.exec();
    IVolumeRoles::setShared(nullptr);
    IDiskUtil::setRootRunner({});
    IFileCopierWindow::setShared(nullptr);
    UiPrompts::setShared(nullptr);
    return status;
}
