// Stands in for the main application in the piece handshake of qv3_cat: answers each question
// "qv3_cat::input_file_name" with the next of its arguments, and prints every QV_CONNECT_MESSAGE
// object it hears as one line "MSG <object>" (UTF-8). Prints "ready" once it listens.
// Usage: cat_responder [--own-name] [--drop-name-at N] ANSWER...
//   --own-name        own the bus name com.brisoltica.KelvanePro3, as the application does
//   --drop-name-at N  give the name up instead of answering question N (1 = first)
// Quits when its bus connection is lost.

#include "platform/DistributedNotificationCenter.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QTimer>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList answers = app.arguments().mid(1);
    bool ownName = false;
    int dropAt = 0;
    while (!answers.isEmpty() && answers.first().startsWith(QLatin1String("--"))) {
        const QString option = answers.takeFirst();
        if (option == QLatin1String("--own-name"))
            ownName = true;
        else if (option == QLatin1String("--drop-name-at") && !answers.isEmpty())
            dropAt = answers.takeFirst().toInt();
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr, "cat_responder: no session bus\n");
        return 1;
    }
    const QString name = QStringLiteral("com.brisoltica.KelvanePro3");
    if (ownName && !bus.registerService(name)) {
        std::fprintf(stderr, "cat_responder: cannot own %s\n", qPrintable(name));
        return 1;
    }

    int questions = 0;
    DistributedNotificationCenter& center = DistributedNotificationCenter::shared();
    center.observe(QStringLiteral("QV_CONNECT_MESSAGE"), &app, [&](const QString&, const QString& object) {
        std::printf("MSG %s\n", object.toUtf8().constData());
        std::fflush(stdout);
        if (object != QLatin1String("qv3_cat::input_file_name"))
            return;
        ++questions;
        if (questions == dropAt) {
            QDBusConnection::sessionBus().unregisterService(name);
            return;
        }
        if (!answers.isEmpty())
            DistributedNotificationCenter::shared().post(QStringLiteral("QV3_CAT"), answers.takeFirst());
    });

    // The daemon handles one connection's messages in order: once this call has its reply, the
    // match rule is in place and no question can be missed.
    bus.call(QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus.Peer"),
        QStringLiteral("Ping")));

    QTimer busCheck;
    QObject::connect(&busCheck, &QTimer::timeout, &app, [] {
        if (!QDBusConnection::sessionBus().isConnected())
            QCoreApplication::exit(0);
    });
    busCheck.start(200);

    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}
