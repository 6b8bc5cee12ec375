#pragma once

// Shared pieces of the tests that run the real agent program: a private session bus, a home with
// every XDG folder of its own, the stand-in main application copied to a path with a blank, the
// agent started as a child, the agent messages heard on the bus, the state file and the stand-in's
// record.

#include "KvTest.h"
#include "PrivateBus.h"
#include "TempTree.h"
#include "platform/DistributedNotificationCenter.h"
#include "platform/LoginItem.h"
#include "platform/PlistBridge.h"
#include "platform/Subprocess.h"
#include "projects/QVConnectMessage.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QObject>
#include <csignal>
#include <memory>

class AgentHarness : public QObject
{
public:
    std::unique_ptr<PrivateBus> bus;
    std::unique_ptr<TempTree> tree;
    QStringList heard; // every QV_CONNECT_MESSAGE object

    static QString agentProgram()
    {
        return KvTest::appContentsDir()
            + QStringLiteral("/Library/LoginItems/QVP3Launcher.app/Contents/MacOS/QVP3Launcher");
    }
    static QString agentBuild()
    {
        return PlistValue::string(
            PlistBridge::readFile(KvTest::appContentsDir()
                + QStringLiteral("/Library/LoginItems/QVP3Launcher.app/Contents/Info.plist"))
                .map(),
            QStringLiteral("Bundle version"));
    }
    static QString agentId() { return QStringLiteral("com.brisoltica.QVP3Launcher"); }
    static QString appId() { return QStringLiteral("com.brisoltica.KelvanePro3"); }

    // Call before anything uses the session bus.
    bool setUp(const QString& label)
    {
        bus = std::make_unique<PrivateBus>();
        tree = std::make_unique<TempTree>(label);
        if (!bus->isValid() || !tree->isValid())
            return false;
        for (const char* name : { "data", "config", "state", "cache", "runtime" })
            tree->mkdir(name, 0700);
        qputenv("HOME", tree->path().toUtf8());
        qputenv("XDG_DATA_HOME", tree->filePath(QStringLiteral("data")).toUtf8());
        qputenv("XDG_CONFIG_HOME", tree->filePath(QStringLiteral("config")).toUtf8());
        qputenv("XDG_STATE_HOME", tree->filePath(QStringLiteral("state")).toUtf8());
        qputenv("XDG_CACHE_HOME", tree->filePath(QStringLiteral("cache")).toUtf8());
        qputenv("XDG_RUNTIME_DIR", tree->filePath(QStringLiteral("runtime")).toUtf8());
        qputenv("KV_TIMER_SCALE", "10");
        qputenv("KV_FAKEAPP_RECORD", recordPath().toUtf8());
        // The stand-in main application, where the agent looks for it in a told bundle.
        QFile fake(KvTest::testBinDir() + QStringLiteral("/fakeapp"));
        if (!fake.open(QIODevice::ReadOnly)
            || !tree->writeFile(
                QStringLiteral("apps dir/K Pro.app/Contents/MacOS/Kelvane Pro 3"), fake.readAll(), 0755))
            return false;
        DistributedNotificationCenter::shared().observe(
            QString::fromLatin1(QVConnectMessage::notificationName), this,
            [this](const QString&, const QString& object) { heard << object; });
        return DistributedNotificationCenter::shared().isConnected();
    }

    QString appBundle() const { return tree->filePath(QStringLiteral("apps dir/K Pro.app")); }
    QString recordPath() const { return tree->filePath(QStringLiteral("fakeapp.record")); }
    QString stateFilePath() const
    {
        return tree->filePath(QStringLiteral("data/QVP3Launcher/QVP3Launcher.plist"));
    }
    QVariantMap stateFile() const { return PlistBridge::readFile(stateFilePath()).map(); }

    // The record lines of the stand-in: {what, rest}.
    QList<QPair<QString, QString>> record() const
    {
        QList<QPair<QString, QString>> lines;
        QFile file(recordPath());
        if (file.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : file.readAll().split('\n')) {
                const int tab = line.indexOf('\t');
                if (!line.isEmpty())
                    lines << qMakePair(QString::fromUtf8(line.left(tab < 0 ? line.size() : tab)),
                        tab < 0 ? QString() : QString::fromUtf8(line.mid(tab + 1)));
            }
        }
        return lines;
    }
    QStringList recorded(const QString& what) const
    {
        QStringList out;
        for (const auto& [w, rest] : record())
            if (w == what)
                out << rest;
        return out;
    }
    static QStringList argvOf(const QString& json)
    {
        QStringList args;
        for (const QJsonValue& v : QJsonDocument::fromJson(json.toUtf8()).array())
            args << v.toString();
        return args;
    }

    static bool waitFor(const std::function<bool()>& done, int timeoutMs = 8000)
    {
        return LoginItem::waitUntil(done, timeoutMs);
    }

    // Messages the agent sent since the list was last cleared.
    QList<QVConnectMessage> fromAgent(int type = 0) const
    {
        QList<QVConnectMessage> list;
        for (const QString& object : heard) {
            const auto message = QVConnectMessage::messageWithString(object);
            if (message.senderProgramType() == QVConnectMessage::Agent && (!type || message.type() == type))
                list << message;
        }
        return list;
    }

    std::unique_ptr<Subprocess> startAgent(const QMap<QString, QString>& environment = {})
    {
        auto agent = std::make_unique<Subprocess>();
        Subprocess::Options options;
        options.program = agentProgram();
        options.toolLocale = false;
        options.environment = environment;
        if (!agent->start(options))
            return nullptr;
        return agent;
    }
    static bool agentRuns(int timeoutMs = 8000)
    {
        return waitFor([] { return LoginItem::isRunning(agentId()); }, timeoutMs);
    }
    // True once the process has installed its SIGTERM handler (SigCgt in /proc/PID/status). A
    // program that is still being loaded dies of the default action instead of quitting, which
    // says nothing about its quit path.
    static bool catchesTerm(pid_t pid, int timeoutMs = 8000)
    {
        return waitFor(
            [pid] {
                QFile status(QStringLiteral("/proc/%1/status").arg(pid));
                if (!status.open(QIODevice::ReadOnly))
                    return false;
                for (const QByteArray& line : status.readAll().split('\n'))
                    if (line.startsWith("SigCgt:"))
                        return ((line.mid(7).trimmed().toULongLong(nullptr, 16) >> (SIGTERM - 1)) & 1) != 0;
                return false;
            },
            timeoutMs);
    }
    // SIGTERM once the agent catches it, then the exit status within the bound (-1 when it did
    // not end in time).
    static int terminate(Subprocess& agent, int boundMs = 2000)
    {
        catchesTerm(agent.pid());
        ::kill(agent.pid(), SIGTERM);
        if (!agent.waitForFinished(boundMs))
            return -1;
        return agent.exitSignal() ? 128 + agent.exitSignal() : agent.exitCode();
    }

    bool post(const QString& object)
    {
        return DistributedNotificationCenter::shared().post(
            QString::fromLatin1(QVConnectMessage::notificationName), object);
    }
    static QString json(int type, const QString& more = QString(), int program = 1, int promotion = 1)
    {
        return QStringLiteral(
            "{\"Type\":%1,\"SenderData\":{\"ProgramType\":%2,\"PromotionType\":%3,\"ProtocolVersion\":1}%4}")
            .arg(type)
            .arg(program)
            .arg(promotion)
            .arg(more.isEmpty() ? QString() : u',' + more);
    }
    static QString stateJson(int bits, double stamp)
    {
        return QStringLiteral("\"AgentState\":{\"State\":%1,\"ModifyInterval\":%2}")
            .arg(bits)
            .arg(stamp, 0, 'f', 3);
    }

    // kv-connect, waited for.
    static Subprocess::Result kvConnect(const QStringList& arguments)
    {
        Subprocess::Options options;
        options.program = KvTest::testBinDir() + QStringLiteral("/kv-connect");
        options.arguments = arguments;
        return Subprocess::run(options, 20000);
    }
};
