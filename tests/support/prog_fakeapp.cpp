// A stand-in for the main application, started by the agent with the agent's arguments only, so
// its settings come from the environment:
//   KV_FAKEAPP_RECORD  a file that gets one line per event: "argv\t<JSON array>" at once,
//                      "answer\t<type 7 text>" (or "answer\tnone"), "then\t<status>\t<last line>"
//                      and "end";
//   KV_FAKEAPP_THEN    a file holding an argument vector (NUL after each element, as kv-run-project's
//                      --argv-out writes them), run after a type 7 answer with reason 2, with
//                      "{mount}" replaced by its "LastMountedVolume".
// It claims the main application's bus name, asks the agent for its start parameters (type 6),
// then releases the name and exits 0.
#include "platform/DistributedNotificationCenter.h"
#include "platform/Subprocess.h"
#include "projects/IAgentTool.h"
#include "projects/QVConnectMessage.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>

namespace {

void record(const QByteArray& line)
{
    const QString path = qEnvironmentVariable("KV_FAKEAPP_RECORD");
    if (path.isEmpty())
        return;
    QFile file(path);
    if (file.open(QIODevice::Append))
        file.write(line + '\n');
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    record("argv\t"
        + QJsonDocument(QJsonArray::fromStringList(app.arguments().mid(1))).toJson(QJsonDocument::Compact));

    DistributedNotificationCenter& center = DistributedNotificationCenter::shared();
    QDBusConnection bus = center.connection();
    const QString name = QString::fromLatin1(IAgentTool::mainAppBundleIdentifier);
    if (!bus.isConnected() || !bus.registerService(name)) {
        record("answer\tnone");
        record("end");
        return 0;
    }
    QVConnectMessage answer;
    center.observe(QString::fromLatin1(QVConnectMessage::notificationName), &app,
        [&](const QString&, const QString& object) {
            const QVConnectMessage message = QVConnectMessage::messageWithString(object);
            if (message.senderProgramType() == QVConnectMessage::Agent
                && message.type() == QVConnectMessage::TypeStartParameters && !answer.hasContent()) {
                answer = message;
                app.quit();
            }
        });
    // The observer is in place before the request leaves.
    bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.DBus"));
    QVConnectMessage::messageWithSenderAndType(QVConnectMessage::TypeStartParametersRequest).send();
    QTimer::singleShot(10000, &app, &QCoreApplication::quit);
    app.exec();
    record("answer\t" + (answer.hasContent() ? answer.string().toUtf8() : QByteArray("none")));

    const QString thenPath = qEnvironmentVariable("KV_FAKEAPP_THEN");
    if (answer.intForKey(QStringLiteral("LaunchingReason"), 0) == 2 && !thenPath.isEmpty()) {
        QFile file(thenPath);
        QStringList vector;
        if (file.open(QIODevice::ReadOnly)) {
            for (const QByteArray& part : file.readAll().split('\0')) {
                if (part.isEmpty())
                    break;
                vector << QString::fromUtf8(part).replace(
                    QStringLiteral("{mount}"), answer.stringForKey(QStringLiteral("LastMountedVolume")));
            }
        }
        if (!vector.isEmpty()) {
            Subprocess::Options options;
            options.program = vector.takeFirst();
            options.arguments = vector;
            const Subprocess::Result result = Subprocess::run(options, 300000);
            const QList<QByteArray> lines = result.out.trimmed().split('\n');
            const int status = result.signal ? 128 + result.signal : result.exitCode;
            record("then\t" + QByteArray::number(status) + '\t'
                + (lines.isEmpty() ? QByteArray() : lines.last()));
        }
    }
    bus.unregisterService(name);
    record("end");
    return 0;
}
