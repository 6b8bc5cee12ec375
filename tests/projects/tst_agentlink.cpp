// kv-test: labels=dbus timeout=120
#include "KvTest.h"
#include "PrivateBus.h"
#include "RecordingShellServices.h"
#include "TempTree.h"
#include "platform/AppPaths.h"
#include "platform/DistributedNotificationCenter.h"
#include "platform/LoginItem.h"
#include "platform/ProcessTable.h"
#include "platform/Subprocess.h"
#include "projects/AgentStateMerge.h"
#include "projects/IAgentTool.h"
#include "projects/QVAgentState.h"
#include "projects/QVConnectMessage.h"
#include "utilities/IAgentMessageSender.h"
#include "utilities/QVLog.h"

#include <QDBusConnectionInterface>
#include <QFile>
#include <QtTest>
#include <memory>

// The main application's side of the agent link against a fake agent in a separate process, on
// a private session bus, with the application tree copied to a path holding blanks and "$".
class TestAgentLink : public QObject
{
    Q_OBJECT
    std::unique_ptr<PrivateBus> m_bus;
    std::unique_ptr<TempTree> m_tree;
    RecordingShellServices m_shell;
    std::unique_ptr<ShellServicesScope> m_scope;
    QStringList m_heard; // every QV_CONNECT_MESSAGE object, own posts included
    QStringList m_posted; // what the test posted in the agent's name, to tell it apart
    QString m_contents;

    const QString agentId = QStringLiteral("com.brisoltica.QVP3Launcher");
    QString transcriptPath() const { return m_tree->filePath(QStringLiteral("transcript.txt")); }
    QString stateFilePath() const { return m_tree->filePath(QStringLiteral("agent-state.json")); }
    QString agentProgram() const { return IAgentTool::agentExecutable(IAgentTool::shared().launcherPath()); }
    QString autostartFile() const { return LoginItem::autostartFilePath(agentId); }

    pid_t startAgent(const QStringList& arguments = {})
    {
        Subprocess::Options options;
        options.program = agentProgram();
        options.arguments = arguments;
        options.toolLocale = false;
        QString error;
        const pid_t pid = Subprocess::startDetached(options, &error);
        if (pid <= 0)
            qWarning("cannot start the fake agent: %s", qPrintable(error));
        return pid;
    }
    bool agentRuns(int timeoutMs = 5000)
    {
        return LoginItem::waitUntil([&] { return LoginItem::isRunning(agentId); }, timeoutMs);
    }

    QStringList transcript() const
    {
        QFile file(transcriptPath());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }
    QVConnectMessage agentStateFile() const
    {
        QFile file(stateFilePath());
        return file.open(QIODevice::ReadOnly)
            ? QVConnectMessage::messageWithString(QString::fromUtf8(file.readAll()))
            : QVConnectMessage();
    }
    QList<QVConnectMessage> fromAgent() const
    {
        QList<QVConnectMessage> list;
        for (const QString& object : m_heard) {
            if (m_posted.contains(object))
                continue;
            const auto message = QVConnectMessage::messageWithString(object);
            if (message.senderProgramType() == QVConnectMessage::Agent)
                list << message;
        }
        return list;
    }

    static QString json(int type, const QString& more = QString(), int program = 1, int promotion = 1)
    {
        return QStringLiteral("{\"Type\":%1,\"SenderData\":{\"ProgramType\":%2,\"PromotionType\":%3,"
                              "\"ProtocolVersion\":1}%4}")
            .arg(type)
            .arg(program)
            .arg(promotion)
            .arg(more.isEmpty() ? QString() : u',' + more);
    }

    // Posts one object and waits for the fake agent to note what it did with it. When an answer
    // is expected, it is returned; otherwise a state request afterwards shows that none came.
    QVConnectMessage exchange(const QString& object, const QString& action, int answerType = 0)
    {
        m_heard.clear();
        m_posted << object;
        const int before = transcript().size();
        if (!DistributedNotificationCenter::shared().post(QStringLiteral("QV_CONNECT_MESSAGE"), object))
            return {};
        // The agent's notes of its own answers may come in between: find the note of this object.
        auto noteOf = [&] {
            const QStringList lines = transcript();
            for (int i = before; i < lines.size(); ++i) {
                if (lines[i].section(u'\t', 1) == object)
                    return lines[i].section(u'\t', 0, 0);
            }
            return QString();
        };
        if (!LoginItem::waitUntil([&] { return !noteOf().isNull(); }, 5000)) {
            qWarning("the fake agent noted nothing for %s", qPrintable(object));
            return {};
        }
        const QString noted = noteOf();
        if (noted != action) {
            qWarning("noted \"%s\", expected \"%s\" for %s", qPrintable(noted), qPrintable(action),
                qPrintable(object));
            return {};
        }
        if (answerType) {
            LoginItem::waitUntil([&] { return !fromAgent().isEmpty(); }, 5000);
            const auto answers = fromAgent();
            return answers.size() == 1 && answers[0].type() == answerType ? answers[0] : QVConnectMessage();
        }
        // The agent's answers travel in order: the state answer to this ping comes after any other.
        DistributedNotificationCenter::shared().post(QStringLiteral("QV_CONNECT_MESSAGE"), json(3));
        LoginItem::waitUntil([&] { return !fromAgent().isEmpty(); }, 5000);
        const auto answers = fromAgent();
        if (answers.size() == 1 && answers[0].type() == 4)
            return QVConnectMessage::messageWithSender();
        qWarning("unexpected answers: %s", qPrintable(m_heard.join(u'\n')));
        return QVConnectMessage();
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_bus = std::make_unique<PrivateBus>(); // before the first use of the session bus
        QVERIFY2(m_bus->isValid(), qPrintable(m_bus->errorString()));
        m_tree = std::make_unique<TempTree>(QStringLiteral("agent link"));
        QVERIFY(m_tree->isValid());
        m_contents = m_tree->filePath(QStringLiteral("apps $HOME `x`/Kelvane Pro 3.app/Contents"));
        const QString launcher = QStringLiteral(
            "apps $HOME `x`/Kelvane Pro 3.app/Contents/Library/LoginItems/QVP3Launcher.app/Contents");
        const QString built = KvTest::appContentsDir();
        auto copy = [&](const QString& from, const QString& to, mode_t mode) {
            QFile file(from);
            return file.open(QIODevice::ReadOnly) && m_tree->writeFile(to, file.readAll(), mode);
        };
        QVERIFY(copy(built + QStringLiteral("/Info.plist"),
            QStringLiteral("apps $HOME `x`/Kelvane Pro 3.app/Contents/Info.plist"), 0644));
        QVERIFY(copy(built + QStringLiteral("/Library/LoginItems/QVP3Launcher.app/Contents/Info.plist"),
            launcher + QStringLiteral("/Info.plist"), 0644));
        QVERIFY(copy(KvTest::testBinDir() + QStringLiteral("/fakeagent"),
            launcher + QStringLiteral("/MacOS/QVP3Launcher"), 0755));
        AppPaths::setContentsDirOverride(m_contents);
        qputenv("XDG_CONFIG_HOME", m_tree->filePath(QStringLiteral("config")).toUtf8());
        qputenv("KV_FAKEAGENT_TRANSCRIPT", transcriptPath().toUtf8());
        qputenv("KV_FAKEAGENT_STATE_FILE", stateFilePath().toUtf8());
        m_scope = std::make_unique<ShellServicesScope>(&m_shell);
        DistributedNotificationCenter::shared().observe(QStringLiteral("QV_CONNECT_MESSAGE"), this,
            [this](const QString&, const QString& object) { m_heard << object; });
        QVERIFY(DistributedNotificationCenter::shared().isConnected());
    }

    void cleanup()
    {
        LoginItem::disable(agentId);
        QVERIFY(!LoginItem::isRunning(agentId));
        QFile::remove(transcriptPath());
        QFile::remove(stateFilePath());
        m_heard.clear();
        m_shell.clear();
    }

    void cleanupTestCase()
    {
        AppPaths::setContentsDirOverride(QString());
        m_scope.reset();
    }

    void protocolTable()
    {
        const pid_t pid = startAgent(
            { QStringLiteral("--mount"), QStringLiteral("/media/u/My \"Disk\""), QStringLiteral("--state"),
                QStringLiteral("1"), QStringLiteral("--stamp"), QStringLiteral("100") });
        QVERIFY(pid > 0 && agentRuns());

        // Its own posts, and posts of unknown promotion, are dropped.
        QVERIFY(exchange(json(1, {}, 2), QStringLiteral("dropped")).hasContent());
        QVERIFY(exchange(json(1, {}, 1, 0), QStringLiteral("dropped")).hasContent());
        QVERIFY(exchange(json(3, {}, 1, 3), QStringLiteral("dropped")).hasContent());
        QVERIFY(exchange(QStringLiteral("{\"Type\":1}"), QStringLiteral("dropped")).hasContent());

        // Type 1 → type 2 with the main application's build.
        auto build = exchange(json(1), QStringLiteral("build"), 2);
        QCOMPARE(build.floatForKey(QStringLiteral("Build"), -1),
            AppPaths::infoPlistValue(QStringLiteral("CFBundleVersion")).toString().toDouble());
        QVERIFY(m_heard.contains(json(1))); // the sender hears its own post
        // ... and so does the agent, which drops its own answer.
        QTRY_VERIFY_WITH_TIMEOUT(transcript().contains(QStringLiteral("dropped\t") + build.string()), 5000);

        // Type 3 → type 4 with the agent's state.
        QVAgentState state;
        QVERIFY(exchange(json(3), QStringLiteral("state"), 4).getAgentStateTo(state));
        QCOMPARE(state.getInt(), 1);
        QCOMPARE(state.modifyInterval(), 100.0);

        // Type 4: an equal stamp is taken and saved; an older one is answered; no "State" is dropped.
        QVERIFY(exchange(json(4, QStringLiteral("\"AgentState\":{\"State\":5,\"ModifyInterval\":100}")),
            QStringLiteral("taken"))
                    .hasContent());
        QVERIFY(agentStateFile().getAgentStateTo(state));
        QCOMPARE(state.getInt(), 5);
        QVERIFY(exchange(json(4, QStringLiteral("\"AgentState\":{\"State\":9,\"ModifyInterval\":99.5}")),
            QStringLiteral("answered"), 4)
                    .getAgentStateTo(state));
        QCOMPARE(state.getInt(), 5);
        QVERIFY(exchange(
            json(4, QStringLiteral("\"AgentState\":{\"ModifyInterval\":500}")), QStringLiteral("dropped"))
                    .hasContent());

        // Type 5 stores the next date, path and volumes; absent keys clear date and volumes.
        const QDateTime next(QDate(2026, 3, 2), QTime(4, 5, 6));
        auto five = QVConnectMessage::messageWithSenderAndType(5);
        five.setDate(next, QStringLiteral("FirstProcessDate"));
        five.setString(m_contents, QStringLiteral("MainAppWorkingPath"));
        five.setArray({ QStringLiteral("UUID-1"), QStringLiteral("UUID-2") },
            QStringLiteral("StartOnMountVolumeIdArray"));
        QVERIFY(exchange(five.string(), QStringLiteral("stored")).hasContent());
        QCOMPARE(agentStateFile().dateForKey(QStringLiteral("NextDateKey")), next);
        QCOMPARE(agentStateFile().arrayForKey(QStringLiteral("VolumeIDArray"))->size(), 2);
        QVERIFY(exchange(json(5), QStringLiteral("stored")).hasContent());
        QVERIFY(!agentStateFile().dateForKey(QStringLiteral("NextDateKey")).isValid());
        QVERIFY(!agentStateFile().arrayForKey(QStringLiteral("VolumeIDArray")));
        QCOMPARE(agentStateFile().stringForKey(QStringLiteral("LaunchPath")), m_contents);

        // Type 6 after a mount launch → type 7, reason 2 with the mount point; then reason 3.
        auto seven = exchange(json(6), QStringLiteral("start-parameters"), 7);
        QCOMPARE(seven.intForKey(QStringLiteral("LaunchingReason"), 0), 2);
        QCOMPARE(
            seven.stringForKey(QStringLiteral("LastMountedVolume")), QStringLiteral("/media/u/My \"Disk\""));
        QVERIFY(seven.getAgentStateTo(state));
        seven = exchange(json(6), QStringLiteral("start-parameters"), 7);
        QCOMPARE(seven.intForKey(QStringLiteral("LaunchingReason"), 0), 3);
        QVERIFY(seven.stringForKey(QStringLiteral("LastMountedVolume")).isNull());

        // A debug text reaches the other process as type 8 with its text unchanged, and is
        // answered by nothing.
        IAgentTool::installDebugMessageSender();
        m_heard.clear();
        const int before = transcript().size();
        QVDebugMessage(QStringLiteral("say \"hi\" \\ ok"));
        auto debugNote = [&] {
            const QStringList lines = transcript();
            for (int i = before; i < lines.size(); ++i) {
                if (lines[i].contains(QStringLiteral("\"Type\":8")))
                    return lines[i];
            }
            return QString();
        };
        QVERIFY(LoginItem::waitUntil([&] { return !debugNote().isNull(); }, 5000));
        const QString line = debugNote();
        QCOMPARE(line.section(u'\t', 0, 0), QStringLiteral("ignored"));
        const auto debug = QVConnectMessage::messageWithString(line.section(u'\t', 1));
        QCOMPARE(debug.type(), 8);
        QCOMPARE(debug.text(), QStringLiteral("say \"hi\" \\ ok"));
        IAgentMessageSender::setShared(nullptr);

        // Unknown types and text that is not one JSON object start nothing.
        QVERIFY(exchange(json(9), QStringLiteral("ignored")).hasContent());
        QVERIFY(exchange(json(0), QStringLiteral("ignored")).hasContent());
        QVERIFY(exchange(QStringLiteral("{\"Type\":3} tail"), QStringLiteral("dropped")).hasContent());
        QVERIFY(exchange(QStringLiteral("[3]"), QStringLiteral("dropped")).hasContent());
        QVERIFY(exchange(QStringLiteral("{\"Type\":\"3\",\"SenderData\":[1]}"), QStringLiteral("dropped"))
                    .hasContent());
        QCOMPARE(LoginItem::ownerPid(agentId), pid); // still the same, healthy agent
    }

    void stateMergesBothWays_data()
    {
        QTest::addColumn<int>("agentBits");
        QTest::addColumn<double>("agentStamp");
        QTest::addColumn<int>("mainBits");
        QTest::addColumn<double>("mainStamp");
        QTest::newRow("agent newer") << 5 << 2000.25 << 9 << 1000.0;
        QTest::newRow("main newer") << 5 << 1000.0 << 13 << 2000.125;
    }
    void stateMergesBothWays()
    {
        QFETCH(int, agentBits);
        QFETCH(double, agentStamp);
        QFETCH(int, mainBits);
        QFETCH(double, mainStamp);
        QVERIFY(startAgent({ QStringLiteral("--state"), QString::number(agentBits), QStringLiteral("--stamp"),
                    QString::number(agentStamp, 'g', 17) })
            > 0);
        QVERIFY(agentRuns());

        // The main side as the hub merges: newer taken, older answered with its own state.
        QVAgentState own;
        own.set(mainBits, mainStamp, QDateTime());
        int saves = 0;
        QList<AgentStateMerge::Result> results;
        QObject context; // ends this observer with the function
        DistributedNotificationCenter::shared().observe(
            QStringLiteral("QV_CONNECT_MESSAGE"), &context, [&](const QString&, const QString& object) {
                const auto message = QVConnectMessage::messageWithString(object);
                if (message.senderProgramType() == QVConnectMessage::Agent && message.type() == 4)
                    results << AgentStateMerge::apply(own, message, [&] { ++saves; });
            });
        QVERIFY(QVConnectMessage::messageWithSenderAndType(3).send());
        QTRY_COMPARE_WITH_TIMEOUT(results.size(), 1, 5000);
        const double newest = qMax(agentStamp, mainStamp);
        const int newestBits = agentStamp > mainStamp ? agentBits : mainBits;
        if (agentStamp > mainStamp) {
            QCOMPARE(results[0], AgentStateMerge::Result::Taken);
            QCOMPARE(saves, 1);
        } else {
            QCOMPARE(results[0], AgentStateMerge::Result::Answered);
            QTRY_VERIFY_WITH_TIMEOUT(transcript().last().startsWith(QStringLiteral("taken")), 5000);
        }
        QCOMPARE(own.getInt(), newestBits);
        QCOMPARE(own.modifyInterval(), newest);
        QVAgentState agent;
        QVERIFY(QVConnectMessage::messageWithSenderAndType(3).send());
        QTRY_COMPARE_WITH_TIMEOUT(results.size(), 2, 5000);
        QCOMPARE(results[1], AgentStateMerge::Result::Taken); // equal stamps: taken, no further answer
        QCOMPARE(own.getInt(), newestBits);
        QCOMPARE(own.modifyInterval(), newest);

        // Equal stamps from the main side: the agent takes it and the exchange ends at once.
        auto equal = QVConnectMessage::messageWithSenderAndType(4);
        own.set(newestBits | 4, newest, QDateTime());
        equal.setAgentState(own);
        QVERIFY(exchange(equal.string(), QStringLiteral("taken")).hasContent());
    }

    void receiverRouting_data()
    {
        QTest::addColumn<QString>("object");
        QTest::addColumn<QStringList>("calls");
        QTest::newRow("cat request") << "qv3_cat::input_file_name"
                                     << QStringList { "qv3CatFileRequestProcess" };
        QTest::newRow("cat error") << "qv3_cat:: error_can_not_open_file /media/u/My Disk/a.tgz.002"
                                   << QStringList { "qv3CatFileErrorProcess:/media/u/My Disk/a.tgz.002" };
        QTest::newRow("cat acknowledgement") << "qv3_cat:: принял" << QStringList {};
        QTest::newRow("other cat text") << "qv3_cat::input_file_name " << QStringList {};
        QTest::newRow("build answer") << json(2, QStringLiteral("\"Build\":417"), 2) << QStringList {};
        QTest::newRow("unparsable") << "{\"Type\":4" << QStringList { "connectMessageProcess:0" };
        QTest::newRow("own type 1") << json(1) << QStringList { "connectMessageProcess:1" };
        QTest::newRow("agent state") << json(4, {}, 2) << QStringList { "connectMessageProcess:4" };
    }
    void receiverRouting()
    {
        QFETCH(QString, object);
        QFETCH(QStringList, calls);
        IAgentTool::shared().connectMessageProcess(object);
        QCOMPARE(m_shell.calls(), calls);
        if (QTest::currentDataTag() == QLatin1String("build answer"))
            QCOMPARE(IAgentTool::shared().lastLauncherBuild(), 417.0);
    }

    void receiverHearsTheBus()
    {
        IAgentTool::shared().setConnectMessageReceiver();
        IAgentTool::shared().setConnectMessageReceiver(); // once only
        QVERIFY(DistributedNotificationCenter::shared().post(
            QStringLiteral("QV_CONNECT_MESSAGE"), QStringLiteral("qv3_cat::input_file_name")));
        QTRY_COMPARE_WITH_TIMEOUT(m_shell.calls(), QStringList { "qv3CatFileRequestProcess" }, 5000);
    }

    void buildCheck_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("restarted");
        QTest::newRow("same build") << QStringList {} << false;
        QTest::newRow("other build") << QStringList { "--build", "1" } << true;
        QTest::newRow("never answers, ignores SIGTERM")
            << QStringList { "--silent", "--ignore-term" } << true;
    }
    void buildCheck()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, restarted);
        const pid_t old = startAgent(arguments);
        QVERIFY(old > 0 && agentRuns());
        QCOMPARE(LoginItem::ownerPid(agentId), old);

        IAgentTool::shared().validateLauncher();
        QVERIFY(agentRuns());
        const pid_t now = LoginItem::ownerPid(agentId);
        if (restarted) {
            QVERIFY(now != old);
            QVERIFY(!ProcessTable::isProcessAlive(old)); // exactly one agent is left
            QVERIFY(IAgentTool::shared().getAutostart());
        } else {
            QCOMPARE(now, old);
            QVERIFY(!QFile::exists(autostartFile()));
            // One build request, then one state request (the agent's own answers it drops).
            auto handled = [&] {
                QStringList actions;
                for (const QString& line : transcript()) {
                    if (!line.startsWith(QStringLiteral("dropped\t")))
                        actions << line.section(u'\t', 0, 0);
                }
                return actions;
            };
            QTRY_COMPARE_WITH_TIMEOUT(handled(), (QStringList { "build", "state" }), 5000);
        }
    }

    void mainApplicationClaimsItsName()
    {
        const QString main = QStringLiteral("com.brisoltica.KelvanePro3");
        QVERIFY(!LoginItem::isRunning(main));
        QVERIFY(IAgentTool::startMainApplicationLink());
        QVERIFY(LoginItem::isRunning(main));
        QCOMPARE(LoginItem::ownerPid(main), ::getpid());
        // The main application's state reports its changes to the hub.
        QVAgentState state;
        state.setOn(1);
        QCOMPARE(m_shell.calls(), QStringList { "validateScheduleSuspenderControls" });
        QVAgentState::setChangeHook({});
        IAgentMessageSender::setShared(nullptr);
    }

    void noAgentRunning()
    {
        QCOMPARE(IAgentTool::shared().getLauncherBuild(), -1.0);
        m_heard.clear();
        IAgentTool::shared().validateLauncher();
        QVERIFY(DistributedNotificationCenter::shared().post(
            QStringLiteral("QV_CONNECT_MESSAGE"), QStringLiteral("marker")));
        QTRY_VERIFY_WITH_TIMEOUT(m_heard.contains(QStringLiteral("marker")), 5000);
        QCOMPARE(m_heard, QStringList { QStringLiteral("marker") });
        QVERIFY(!IAgentTool::shared().killAgent());
        QVERIFY(!QFile::exists(autostartFile()));
    }

    void loginItemEndToEnd()
    {
        IAgentTool& tool = IAgentTool::shared();
        QVERIFY(!tool.getAutostart());
        QVERIFY(tool.setAgentAutostart(true));
        QCOMPARE(tool.autostartState(), 2);
        QVERIFY(QFile::exists(autostartFile()));
        QVERIFY(agentRuns());
        QVERIFY(tool.isAgentWorking());
        QVERIFY(tool.getAutostart());
        QCOMPARE(tool.agentIdentifier(tool.launcherPath()), agentId);

        // Enabling again starts no second agent.
        const pid_t first = LoginItem::ownerPid(agentId);
        QVERIFY(tool.setAgentAutostart(true));
        QCOMPARE(LoginItem::ownerPid(agentId), first);

        QVERIFY(tool.killAgent());
        QVERIFY(!tool.isAgentWorking());
        QVERIFY(!ProcessTable::isProcessAlive(first));

        // The desktop's own launcher runs the file: the Exec line names the path with its blanks,
        // "$HOME" and backquotes as one literal argument.
        // gio starts the agent as its own child and leaves it running: started detached, so that
        // nothing of this test's waits or process groups holds on to the agent.
        Subprocess::Options gio;
        gio.program = QStringLiteral("gio");
        gio.arguments = { QStringLiteral("launch"), autostartFile() };
        const pid_t launcher = Subprocess::startDetached(gio);
        QVERIFY(launcher > 0);
        QVERIFY(LoginItem::waitUntil([&] { return !ProcessTable::isProcessAlive(launcher); }, 20000));
        QVERIFY(agentRuns());
        const pid_t second = LoginItem::ownerPid(agentId);
        QVERIFY(second > 0 && second != first);

        QVERIFY(tool.setAgentAutostart(false));
        QVERIFY(!QFile::exists(autostartFile()));
        QVERIFY(!tool.isAgentWorking());
        QVERIFY(!ProcessTable::isProcessAlive(second));
        QVERIFY(!tool.getAutostart());
    }

    void autostartFileStates_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("enabled");
        const QByteArray head = "[Desktop Entry]\nType=Application\nName=QVP3Launcher\nExec=/x\n";
        QTest::newRow("plain") << head << true;
        QTest::newRow("hidden") << head + "Hidden=true\n" << false;
        QTest::newRow("disabled") << head + "X-GNOME-Autostart-enabled = false\n" << false;
        QTest::newRow("enabled") << head + "X-GNOME-Autostart-enabled=true\nHidden=false\n" << true;
        QTest::newRow("other group") << head + "[Desktop Action x]\nHidden=true\n" << true;
    }
    void autostartFileStates()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, enabled);
        QVERIFY(m_tree->writeFile(
            QStringLiteral("config/autostart/com.brisoltica.QVP3Launcher.desktop"), content));
        QCOMPARE(IAgentTool::shared().getAutostart(), enabled);
    }

    void execQuoting_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("exec");
        QTest::newRow("blank") << "/a b/c"
                               << "\"/a b/c\"";
        QTest::newRow("dollar, quote, backquote") << "/a$b\"c`d"
                                                  << "\"/a\\\\$b\\\\\"c\\\\`d\"";
        QTest::newRow("backslash") << "/a\\b"
                                   << "\"/a\\\\\\\\b\"";
        QTest::newRow("percent") << "/100%/x"
                                 << "\"/100%%/x\"";
    }
    void execQuoting()
    {
        QFETCH(QString, program);
        QFETCH(QString, exec);
        QCOMPARE(LoginItem::execValue(program), exec);
    }

    void agentQuitsWhenItsBusEnds()
    {
        auto bus = std::make_unique<PrivateBus>(PrivateBus::Kind::Session, false);
        QVERIFY(bus->isValid());
        Subprocess::Options options;
        options.program = agentProgram();
        options.toolLocale = false;
        options.environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus->address());
        const pid_t pid = Subprocess::startDetached(options);
        QVERIFY(pid > 0);
        QDBusConnection watcher = bus->connect(QStringLiteral("watcher"));
        QVERIFY(LoginItem::waitUntil(
            [&] { return watcher.interface()->isServiceRegistered(agentId).value(); }, 5000));
        bus.reset();
        QVERIFY(LoginItem::waitUntil([&] { return !ProcessTable::isProcessAlive(pid); }, 10000));
    }
};

QTEST_GUILESS_MAIN(TestAgentLink)
#include "tst_agentlink.moc"
