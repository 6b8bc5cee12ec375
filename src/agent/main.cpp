// QVP3Launcher: the login-item agent. It keeps the next scheduled date and the volumes that start
// projects, launches the main application when work is due or such a volume is mounted, and shows
// the scheduler's switches in the tray.
#include "agent/QVLMainController.h"
#include "platform/DistributedNotificationCenter.h"
#include "platform/PlistBridge.h"
#include "platform/QuitSignals.h"
#include "projects/IAgentTool.h"
#include "projects/QVConnectMessage.h"

#include <QApplication>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QFileInfo>
#include <QTimer>
#include <csignal>
#include <cstdio>

namespace {

constexpr int kNameWaitMs = 5000;

} // namespace

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    QuitSignals::catchSignals();

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("QVP3Launcher"));
    // The suspend panel is the agent's only window; closing it must not end the agent.
    QApplication::setQuitOnLastWindowClosed(false);

    // The agent's own Info.plist, beside its MacOS folder.
    const QString infoPath
        = QFileInfo(QCoreApplication::applicationDirPath() + QStringLiteral("/../Info.plist"))
              .absoluteFilePath();
    const QVariantMap info = PlistBridge::readFile(infoPath).map();

    QVLMainController controller;
    controller.setInfo(info);
    const QString start = QStringLiteral("start ver. %1").arg(controller.bundleVersion());
    controller.log(start);
    QVConnectMessage::setProgramType(QVConnectMessage::Agent);

    QDBusConnection bus = DistributedNotificationCenter::shared().connection();
    if (!bus.isConnected() || !bus.interface()) {
        std::fprintf(stderr, "QVP3Launcher: no session bus\n");
        return 2;
    }

    bool started = false;
    // An agent still waiting for the name has loaded nothing: it must not save over the state of
    // the one that runs.
    auto quit = [&controller, &started] {
        if (started)
            controller.applicationShouldTerminate();
        QCoreApplication::exit(0);
    };
    QuitSignals quitSignals;
    QObject::connect(&quitSignals, &QuitSignals::quitRequested, &app, quit);
    // The bus daemon going away (the session ends) is a quit as well.
    bus.connect(QString(), QStringLiteral("/org/freedesktop/DBus/Local"),
        QStringLiteral("org.freedesktop.DBus.Local"), QStringLiteral("Disconnected"), &quitSignals,
        SIGNAL(quitRequested()));

    const QString name = QString::fromLatin1(IAgentTool::agentBundleIdentifier);
    auto begin = [&] {
        if (started)
            return;
        if (bus.interface()->isServiceRegistered(name).value())
            return;
        started = true;
        controller.applicationDidFinishLaunching();
        // The name is claimed last, so that whoever sees it owned can talk to the agent at once.
        if (!bus.registerService(name)) {
            controller.log(QStringLiteral("Another agent claimed %1 first").arg(name));
            QCoreApplication::exit(0);
        }
    };
    QDBusServiceWatcher watcher(name, bus, QDBusServiceWatcher::WatchForUnregistration);
    QObject::connect(&watcher, &QDBusServiceWatcher::serviceUnregistered, &app, begin);
    begin();
    if (!started) {
        QTimer::singleShot(kNameWaitMs, &app, [&] {
            if (started)
                return;
            std::fprintf(stderr, "QVP3Launcher: another agent runs\n");
            QCoreApplication::exit(0);
        });
    }

    const int status = app.exec();
    controller.log(QStringLiteral("stop"));
    return status;
}
