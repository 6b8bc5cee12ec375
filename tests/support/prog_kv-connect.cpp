// Talks to the agent (or to the main application) on the session bus of DBUS_SESSION_BUS_ADDRESS,
// for tests and checkers.
//
//   kv-connect [--as main|agent] send TYPE [--state BITS --stamp S] [--date ISO] [--path P]
//              [--volume UUID]... [--reason N] [--tag N] [--mounted P]
//   kv-connect [--as main|agent] wait TYPE|NAME [--timeout S]
//   kv-connect post NAME OBJECT
//
// send posts one agent message as the main application (program type 1) unless --as agent.
// wait prints the next agent message of that type from the other program, or the object of the
// next notification NAME, and exits 1 at the deadline (default 10 s); "ready" on standard error
// tells that it listens. post posts any notification.
#include "platform/DistributedNotificationCenter.h"
#include "projects/QVAgentState.h"
#include "projects/QVConnectMessage.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QTimer>
#include <cstdio>

namespace {

int usage()
{
    std::fprintf(stderr,
        "usage: kv-connect [--as main|agent] send TYPE [options] | wait TYPE|NAME [--timeout S] | "
        "post NAME OBJECT\n");
    return 2;
}

// Signals leave in order: once a call to the bus daemon is answered, every earlier post has gone.
void flush(const QDBusConnection& bus)
{
    if (bus.interface())
        bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.DBus"));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    int program = QVConnectMessage::MainApplication;
    if (args.size() >= 2 && args[0] == QLatin1String("--as")) {
        if (args[1] == QLatin1String("agent"))
            program = QVConnectMessage::Agent;
        else if (args[1] != QLatin1String("main"))
            return usage();
        args = args.mid(2);
    }
    if (args.size() < 2)
        return usage();
    QVConnectMessage::setProgramType(program);
    DistributedNotificationCenter& center = DistributedNotificationCenter::shared();
    if (!center.isConnected()) {
        std::fprintf(stderr, "kv-connect: no session bus\n");
        return 2;
    }
    const QString verb = args[0];

    if (verb == QLatin1String("post")) {
        if (args.size() != 3)
            return usage();
        const bool ok = center.post(args[1], args[2]);
        flush(center.connection());
        return ok ? 0 : 1;
    }

    if (verb == QLatin1String("send")) {
        bool numeric = false;
        const int type = args[1].toInt(&numeric);
        if (!numeric)
            return usage();
        QVConnectMessage message = QVConnectMessage::messageWithSenderAndType(type);
        QVariantList volumes;
        int bits = -1;
        double stamp = 0;
        for (int i = 2; i < args.size(); ++i) {
            const QString& a = args[i];
            if (i + 1 >= args.size())
                return usage();
            const QString value = args[++i];
            if (a == QLatin1String("--state"))
                bits = value.toInt();
            else if (a == QLatin1String("--stamp"))
                stamp = value.toDouble();
            else if (a == QLatin1String("--date"))
                message.setDate(
                    QDateTime::fromString(value, Qt::ISODate), QStringLiteral("FirstProcessDate"));
            else if (a == QLatin1String("--path"))
                message.setString(value, QStringLiteral("MainAppWorkingPath"));
            else if (a == QLatin1String("--volume"))
                volumes << value;
            else if (a == QLatin1String("--reason"))
                message.setInt(value.toInt(), QStringLiteral("LaunchingReason"));
            else if (a == QLatin1String("--tag"))
                message.setInt(value.toInt(), QStringLiteral("StatusMenuSelectedItemTag"));
            else if (a == QLatin1String("--mounted"))
                message.setString(value, QStringLiteral("LastMountedVolume"));
            else
                return usage();
        }
        if (bits >= 0) {
            QVAgentState state;
            state.set(bits, stamp, QDateTime());
            message.setAgentState(state);
        }
        if (!volumes.isEmpty())
            message.setArray(volumes, QStringLiteral("StartOnMountVolumeIdArray"));
        const bool ok = message.send();
        flush(center.connection());
        return ok ? 0 : 1;
    }

    if (verb == QLatin1String("wait")) {
        int timeoutMs = 10000;
        if (args.size() == 4 && args[2] == QLatin1String("--timeout"))
            timeoutMs = int(args[3].toDouble() * 1000);
        else if (args.size() != 2)
            return usage();
        bool numeric = false;
        const int type = args[1].toInt(&numeric);
        const QString name = numeric ? QString::fromLatin1(QVConnectMessage::notificationName) : args[1];
        int status = 1;
        center.observe(name, &app, [&](const QString&, const QString& object) {
            if (numeric) {
                const QVConnectMessage message = QVConnectMessage::messageWithString(object);
                if (message.type() != type || message.senderProgramType() == program
                    || message.senderProgramType() == 0)
                    return;
            }
            std::printf("%s\n", object.toUtf8().constData());
            std::fflush(stdout);
            status = 0;
            app.quit();
        });
        flush(center.connection());
        std::fprintf(stderr, "ready\n");
        QTimer::singleShot(timeoutMs, &app, &QCoreApplication::quit);
        app.exec();
        return status;
    }
    return usage();
}
