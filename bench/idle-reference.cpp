// The reference for the agent's idle cost: a bare Qt program with one session-bus connection and
// one 30 s timer, doing nothing else. agent-bench runs it beside the agent.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QTimer>
#include <csignal>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::signal(SIGTERM, [](int) { QCoreApplication::quit(); });
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return 2;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, &app, [] {});
    timer.start(30000);
    return app.exec();
}
