// A stand-in for the agent QVP3Launcher on the session bus, for the tests of the agent link.
// It claims the agent's bus name, speaks the agent's side of the agent messages and quits on
// SIGTERM or when its bus connection is lost.
//
//   fakeagent [--build N] [--silent] [--ignore-term] [--state BITS --stamp SECONDS]
//             [--mount PATH | --menu TAG] [--transcript FILE] [--state-file FILE]
//
// --build: the build it answers (default: "Bundle version" of its bundle's Info.plist, else 0);
// --silent: never answers a build request; --ignore-term: as an agent of an older build;
// --mount/--menu: why it launched the main application (answered on type 6);
// --transcript: one line per heard message, "<what it did>\t<object text>";
// --state-file: its state, written as a message text after every save.
// KV_FAKEAGENT_TRANSCRIPT and KV_FAKEAGENT_STATE_FILE give the last two when it is started
// without arguments (as a login item).
#include "platform/AppPaths.h"
#include "platform/AtomicFile.h"
#include "platform/DistributedNotificationCenter.h"
#include "platform/PlistBridge.h"
#include "projects/AgentStateMerge.h"
#include "projects/QVAgentState.h"
#include "projects/QVConnectMessage.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <csignal>
#include <cstdio>

namespace {

volatile std::sig_atomic_t g_terminate = 0;
void onTerm(int)
{
    g_terminate = 1;
}

struct Agent
{
    double build = 0;
    bool silent = false;
    QVAgentState state;
    QDateTime nextDate;
    QString launchPath;
    QVariantList volumes;
    int menuTag = 0;
    QString lastMountedVolume;
    QString transcript;
    QString stateFile;

    void note(const QString& what, const QString& object)
    {
        if (transcript.isEmpty())
            return;
        QFile file(transcript);
        if (!file.open(QIODevice::Append))
            return;
        QString line = what + u'\t' + object;
        line.replace(u'\n', QStringLiteral("\\n"));
        file.write(line.toUtf8() + '\n');
    }

    void save()
    {
        if (stateFile.isEmpty())
            return;
        QVConnectMessage data = QVConnectMessage::messageWithSender();
        data.setAgentState(state);
        data.setDate(nextDate, QStringLiteral("NextDateKey"));
        data.setString(launchPath, QStringLiteral("LaunchPath"));
        if (!volumes.isEmpty())
            data.setArray(volumes, QStringLiteral("VolumeIDArray"));
        AtomicFile::write(stateFile, data.string().toUtf8());
    }

    void reply(int type, const std::function<void(QVConnectMessage&)>& fill = {})
    {
        QVConnectMessage answer = QVConnectMessage::messageWithSenderAndType(type);
        if (fill)
            fill(answer);
        answer.send();
    }

    void receive(const QString& object)
    {
        const QVConnectMessage message = QVConnectMessage::messageWithString(object);
        if (message.senderProgramType() == QVConnectMessage::Agent
            || (message.senderPromotionType() != 1 && message.senderPromotionType() != 2)) {
            note(QStringLiteral("dropped"), object);
            return;
        }
        switch (message.type()) {
        case QVConnectMessage::TypeBuildRequest:
            if (silent) {
                note(QStringLiteral("silent"), object);
                return;
            }
            reply(QVConnectMessage::TypeBuildAnswer,
                [&](QVConnectMessage& m) { m.setFloat(build, QStringLiteral("Build")); });
            note(QStringLiteral("build"), object);
            return;
        case QVConnectMessage::TypeDataRequest:
            reply(QVConnectMessage::TypeAgentState, [&](QVConnectMessage& m) { m.setAgentState(state); });
            note(QStringLiteral("state"), object);
            return;
        case QVConnectMessage::TypeAgentState:
            switch (AgentStateMerge::apply(state, message, [&] { save(); })) {
            case AgentStateMerge::Result::Taken:
                note(QStringLiteral("taken"), object);
                return;
            case AgentStateMerge::Result::Answered:
                note(QStringLiteral("answered"), object);
                return;
            case AgentStateMerge::Result::Dropped:
                note(QStringLiteral("dropped"), object);
                return;
            }
            return;
        case QVConnectMessage::TypeNextProcessData: {
            const QString path = message.stringForKey(QStringLiteral("MainAppWorkingPath"));
            if (!path.isNull())
                launchPath = path;
            nextDate = message.dateForKey(QStringLiteral("FirstProcessDate"));
            volumes
                = message.arrayForKey(QStringLiteral("StartOnMountVolumeIdArray")).value_or(QVariantList());
            save();
            note(QStringLiteral("stored"), object);
            return;
        }
        case QVConnectMessage::TypeStartParametersRequest:
            reply(QVConnectMessage::TypeStartParameters, [&](QVConnectMessage& m) {
                m.setAgentState(state);
                if (menuTag) {
                    m.setInt(1, QStringLiteral("LaunchingReason"));
                    m.setInt(menuTag, QStringLiteral("StatusMenuSelectedItemTag"));
                } else if (!lastMountedVolume.isEmpty()) {
                    m.setInt(2, QStringLiteral("LaunchingReason"));
                    m.setString(lastMountedVolume, QStringLiteral("LastMountedVolume"));
                } else {
                    m.setInt(3, QStringLiteral("LaunchingReason"));
                }
            });
            // The reason is answered once: the tag and the mounted volume are forgotten together.
            menuTag = 0;
            lastMountedVolume.clear();
            note(QStringLiteral("start-parameters"), object);
            return;
        default:
            note(QStringLiteral("ignored"), object);
            return;
        }
    }
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::signal(SIGPIPE, SIG_IGN);
    QVConnectMessage::setProgramType(QVConnectMessage::Agent);

    Agent agent;
    const QString infoPlist
        = QFileInfo(QCoreApplication::applicationDirPath() + QStringLiteral("/../Info.plist"))
              .absoluteFilePath();
    const auto info = PlistBridge::readFile(infoPlist);
    agent.build = PlistValue::string(info.value.toMap(), QStringLiteral("Bundle version")).toDouble();
    // Started as a login item it gets no arguments: the tests hand these over in the environment.
    agent.transcript = qEnvironmentVariable("KV_FAKEAGENT_TRANSCRIPT");
    agent.stateFile = qEnvironmentVariable("KV_FAKEAGENT_STATE_FILE");
    bool ignoreTerm = false;
    int bits = -1;
    double stamp = 0;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        const QString next = i + 1 < args.size() ? args[i + 1] : QString();
        if (a == QLatin1String("--build"))
            agent.build = next.toDouble(), ++i;
        else if (a == QLatin1String("--silent"))
            agent.silent = true;
        else if (a == QLatin1String("--ignore-term"))
            ignoreTerm = true;
        else if (a == QLatin1String("--state"))
            bits = next.toInt(), ++i;
        else if (a == QLatin1String("--stamp"))
            stamp = next.toDouble(), ++i;
        else if (a == QLatin1String("--mount"))
            agent.lastMountedVolume = next, ++i;
        else if (a == QLatin1String("--menu"))
            agent.menuTag = next.toInt(), ++i;
        else if (a == QLatin1String("--transcript"))
            agent.transcript = next, ++i;
        else if (a == QLatin1String("--state-file"))
            agent.stateFile = next, ++i;
    }
    if (bits >= 0)
        agent.state.set(bits, stamp, QDateTime());
    std::signal(SIGTERM, ignoreTerm ? SIG_IGN : onTerm);

    DistributedNotificationCenter& center = DistributedNotificationCenter::shared();
    QDBusConnection bus = center.connection();
    if (!bus.isConnected()) {
        std::fprintf(stderr, "fakeagent: no session bus\n");
        return 2;
    }
    center.observe(QString::fromLatin1(QVConnectMessage::notificationName), &app,
        [&agent](const QString&, const QString& object) { agent.receive(object); });
    // The name is claimed last, so that whoever sees it owned can talk to the agent at once.
    if (!bus.registerService(QStringLiteral("com.brisoltica.QVP3Launcher"))) {
        std::fprintf(stderr, "fakeagent: another agent runs\n");
        return 3;
    }

    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &app, [&] {
        if (g_terminate || !bus.isConnected())
            app.quit();
    });
    watch.start(50);
    return app.exec();
}
