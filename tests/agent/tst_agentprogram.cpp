// kv-test: labels=dbus timeout=180 serial
// Runs alone: its agents look at every new mount, so other tests' mounts would wake them (and
// their look at a share can hold off that share's unmount for a moment).
#include "AgentHarness.h"
#include "platform/ProcessTable.h"
#include "projects/IAgentTool.h"
#include "projects/QVAgentState.h"

#include <QDBusConnectionInterface>
#include <QDir>
#include <QElapsedTimer>
#include <QtTest>
#include <csignal>

// The real agent program on a private session bus: its messages on the wire, the launch of a due
// date, its life (quit paths, restart, a second agent, a kill in the middle of a save), its login
// item and its cost while it waits.
class TestAgentProgram : public QObject
{
    Q_OBJECT
    AgentHarness h;

    // Posts, then a data request, and answers the agent's messages in between (the data
    // request's type 4 comes last: the agent answers in order).
    QList<QVConnectMessage> exchange(const QString& object)
    {
        h.heard.clear();
        h.post(object);
        h.post(AgentHarness::json(3));
        h.waitFor([&] { return !h.fromAgent(4).isEmpty() && h.fromAgent().last().type() == 4; });
        // The test's own posts in the agent's name are no answers.
        h.heard.removeAll(object);
        QList<QVConnectMessage> answers = h.fromAgent();
        if (!answers.isEmpty())
            answers.removeLast();
        return answers;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(h.setUp(QStringLiteral("agent program"))); }

    void cleanup()
    {
        QFile::remove(h.recordPath());
        QDir(h.tree->filePath(QStringLiteral("data/QVP3Launcher"))).removeRecursively();
        QFile::remove(LoginItem::autostartFilePath(AgentHarness::agentId()));
        h.heard.clear();
    }

    void dueDateLaunchesOnce()
    {
        auto agent = h.startAgent();
        QVERIFY(agent && h.agentRuns());
        const QString stamp = QString::number(QVAgentState::nowInterval() + 10, 'f', 3);
        QVERIFY(
            AgentHarness::kvConnect({ QStringLiteral("send"), QStringLiteral("4"), QStringLiteral("--state"),
                                        QStringLiteral("9"), QStringLiteral("--stamp"), stamp })
                .succeeded());
        const QString due = QDateTime::currentDateTime().addSecs(2).toString(Qt::ISODate);
        QVERIFY(AgentHarness::kvConnect(
            { QStringLiteral("send"), QStringLiteral("5"), QStringLiteral("--date"), due,
                QStringLiteral("--volume"), QStringLiteral("0A1B2C3D-0000-4000-8000-000000000001"),
                QStringLiteral("--path"), h.appBundle() })
                    .succeeded());
        QVERIFY(h.waitFor([&] { return !h.recorded(QStringLiteral("end")).isEmpty(); }, 15000));
        QCOMPARE(AgentHarness::argvOf(h.recorded(QStringLiteral("argv")).value(0)),
            QStringList({ QStringLiteral("launcher"), QStringLiteral("minimize") }));
        const auto answer
            = QVConnectMessage::messageWithString(h.recorded(QStringLiteral("answer")).value(0));
        QCOMPARE(answer.type(), 7);
        QCOMPARE(answer.intForKey(QStringLiteral("LaunchingReason"), 0), 3);
        QVERIFY(!h.stateFile().contains(QStringLiteral("NextDateKey")));
        QCOMPARE(h.stateFile().value(QStringLiteral("VolumeIDArray")).toStringList().size(), 1);
        // Two more ticks launch nothing.
        QTest::qWait(6500);
        QCOMPARE(h.recorded(QStringLiteral("argv")).size(), 1);
        QCOMPARE(AgentHarness::terminate(*agent), 0);
    }

    void messagesOnTheWire()
    {
        auto agent = h.startAgent();
        QVERIFY(agent && h.agentRuns());
        using H = AgentHarness;

        // Dropped without an answer: own program type, unknown promotions, no JSON object,
        // unknown types.
        for (const QString& object : { H::json(1, {}, 2), H::json(1, {}, 1, 0), H::json(3, {}, 1, 3),
                 QStringLiteral("[1]"), QStringLiteral("{\"Type\":1"), QStringLiteral(""), H::json(9) })
            QVERIFY2(exchange(object).isEmpty(), qPrintable(object + u' ' + h.heard.join(u'\n')));

        auto build = exchange(H::json(1));
        QCOMPARE(build.size(), 1);
        QCOMPARE(build[0].type(), 2);
        QCOMPARE(build[0].floatForKey(QStringLiteral("Build"), -1), AgentHarness::agentBuild().toDouble());

        // States: newer and equal stamps are taken and saved, an older one is answered.
        QCOMPARE(exchange(H::json(4, H::stateJson(9, 500))).size(), 0);
        QCOMPARE(h.stateFile().value(QStringLiteral("AgentState")).toLongLong(), 9);
        QCOMPARE(exchange(H::json(4, H::stateJson(8, 500))).size(), 0);
        QCOMPARE(h.stateFile().value(QStringLiteral("AgentState")).toLongLong(), 8);
        auto older = exchange(H::json(4, H::stateJson(9, 400)));
        QCOMPARE(older.size(), 1);
        QCOMPARE(older[0].intForKey(QStringLiteral("Type"), 0), 4);
        QVERIFY(older[0].string().contains(QStringLiteral("\"State\":8")));
        QFile file(h.stateFilePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray before = file.readAll();
        file.close();
        QCOMPARE(exchange(H::json(4, QStringLiteral("\"AgentState\":{\"ModifyInterval\":9000}"))).size(), 0);
        QCOMPARE(exchange(H::json(4, QStringLiteral("\"AgentState\":\"13\""))).size(), 0);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
        file.close();

        // Data: a date and volumes, then a message without them clears both.
        QVConnectMessage five = QVConnectMessage::messageWithSenderAndType(5);
        five.setDate(QDateTime::currentDateTime().addDays(1), QStringLiteral("FirstProcessDate"));
        five.setArray({ QStringLiteral("AA") }, QStringLiteral("StartOnMountVolumeIdArray"));
        QCOMPARE(exchange(five.string()).size(), 0);
        QVERIFY(h.stateFile().contains(QStringLiteral("NextDateKey")));
        QVERIFY(h.stateFile().contains(QStringLiteral("VolumeIDArray")));
        QCOMPARE(exchange(H::json(5)).size(), 0);
        QVERIFY(!h.stateFile().contains(QStringLiteral("NextDateKey")));
        QVERIFY(!h.stateFile().contains(QStringLiteral("VolumeIDArray")));

        auto params = exchange(H::json(6));
        QCOMPARE(params.size(), 1);
        QCOMPARE(params[0].intForKey(QStringLiteral("LaunchingReason"), 0), 3);

        // The older notifications: the last mounted volume is unknown, so no answer.
        QStringList returns;
        DistributedNotificationCenter::shared().observe(QStringLiteral("QVP3_DATA_RETURN"), this,
            [&](const QString&, const QString& object) { returns << object; });
        DistributedNotificationCenter::shared().post(
            QStringLiteral("QVP3_DATA_QUERY"), QStringLiteral("MOUNTED VOLUME"));
        DistributedNotificationCenter::shared().post(
            QStringLiteral("QVP3_NextDate"), QStringLiteral("05 03 2031 14:00:00 +0100"));
        QVERIFY(h.waitFor([&] { return h.stateFile().contains(QStringLiteral("NextDateKey")); }));
        QCOMPARE(h.stateFile().value(QStringLiteral("NextDateKey")).toDateTime(),
            QDateTime(QDate(2031, 3, 5), QTime(13, 0), Qt::UTC));
        QVERIFY(returns.isEmpty());
        QCOMPARE(AgentHarness::terminate(*agent), 0);
    }

    void life()
    {
        using H = AgentHarness;
        // As a login item the agent keeps its date over a quit.
        const QString autostart = LoginItem::autostartFilePath(H::agentId());
        QVERIFY(QDir().mkpath(QFileInfo(autostart).absolutePath()));
        QFile desktop(autostart);
        QVERIFY(desktop.open(QIODevice::WriteOnly));
        desktop.write(LoginItem::desktopEntry(QStringLiteral("QVP3Launcher"), H::agentProgram()));
        desktop.close();

        auto agent = h.startAgent();
        QVERIFY(agent && h.agentRuns());
        QVConnectMessage five = QVConnectMessage::messageWithSenderAndType(5);
        five.setDate(QDateTime::currentDateTime().addSecs(3600), QStringLiteral("FirstProcessDate"));
        five.setArray(
            { QStringLiteral("AA"), QStringLiteral("BB") }, QStringLiteral("StartOnMountVolumeIdArray"));
        five.setString(h.appBundle(), QStringLiteral("MainAppWorkingPath"));
        QCOMPARE(exchange(five.string()).size(), 0);
        QCOMPARE(exchange(H::json(4, H::stateJson(9, 700))).size(), 0);
        QElapsedTimer t;
        t.start();
        QCOMPARE(H::terminate(*agent), 0);
        QVERIFY(t.elapsed() < 2000);
        QVariantMap saved = h.stateFile();
        QVERIFY(saved.contains(QStringLiteral("NextDateKey")));
        QCOMPARE(saved.value(QStringLiteral("LaunchPath")).toString(), h.appBundle());
        QCOMPARE(saved.value(QStringLiteral("VolumeIDArray")).toStringList(),
            QStringList({ QStringLiteral("AA"), QStringLiteral("BB") }));
        QCOMPARE(saved.value(QStringLiteral("AgentState")).toLongLong(), 9);

        // A restart reads them back.
        agent = h.startAgent();
        QVERIFY(agent && h.agentRuns());
        h.heard.clear();
        h.post(H::json(3));
        QVERIFY(h.waitFor([&] { return !h.fromAgent(4).isEmpty(); }));
        QVAgentState state;
        QVERIFY(h.fromAgent(4)[0].getAgentStateTo(state));
        QCOMPARE(state.getInt(), 9);
        QCOMPARE(state.modifyInterval(), 700.0);

        // A second agent leaves, the first keeps the name; one stopped while it waits saves nothing.
        auto second = h.startAgent();
        QVERIFY(second);
        QVERIFY(second->waitForFinished(6000));
        QCOMPARE(second->exitCode(), 0);
        QCOMPARE(LoginItem::ownerPid(H::agentId()), agent->pid());
        QVERIFY(QFile::remove(autostart));
        second = h.startAgent();
        QTest::qWait(500);
        QCOMPARE(H::terminate(*second), 0);
        QVERIFY(h.stateFile().contains(QStringLiteral("NextDateKey")));
        QVERIFY(desktop.open(QIODevice::WriteOnly));
        desktop.write(LoginItem::desktopEntry(QStringLiteral("QVP3Launcher"), H::agentProgram()));
        desktop.close();

        // Without a bus: one line, exit 2.
        auto nobus = h.startAgent(
            { { QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent/bus") } });
        QVERIFY(nobus && nobus->waitForFinished(5000));
        QCOMPARE(nobus->exitCode(), 2);

        // No login item: the date goes at the quit.
        QVERIFY(QFile::remove(autostart));
        QCOMPARE(H::terminate(*agent), 0);
        saved = h.stateFile();
        QVERIFY(!saved.contains(QStringLiteral("NextDateKey")));
        QCOMPARE(saved.value(QStringLiteral("VolumeIDArray")).toStringList().size(), 2);

        // The end of the bus daemon ends the agent.
        {
            auto other = std::make_unique<PrivateBus>(PrivateBus::Kind::Session, false);
            QVERIFY(other->isValid());
            QDBusConnection c = other->connect(QStringLiteral("other"));
            auto lonely = h.startAgent({ { QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), other->address() } });
            QVERIFY(lonely);
            QVERIFY(h.waitFor([&] { return c.interface()->isServiceRegistered(H::agentId()).value(); }));
            other.reset();
            QVERIFY(lonely->waitForFinished(2000));
            QCOMPARE(lonely->exitCode(), 0);
        }

        // A kill in the middle of a stream of saves leaves a file that parses with one of them.
        agent = h.startAgent();
        QVERIFY(agent && h.agentRuns());
        QCOMPARE(exchange(H::json(4, H::stateJson(9, 1000))).size(), 0);
        for (int i = 1; i <= 200; ++i)
            h.post(H::json(4, H::stateJson(i % 2 ? 8 : 9, 1000 + i)));
        QTest::qWait(30);
        ::kill(agent->pid(), SIGKILL);
        QVERIFY(agent->waitForFinished(2000));
        const auto read = PlistBridge::readFile(h.stateFilePath());
        QVERIFY(read.ok());
        const double stamp = PlistValue::real(read.map(), QStringLiteral("AgentStateModifyInterval"));
        QVERIFY2(stamp >= 1000 && stamp <= 1200, qPrintable(QString::number(stamp)));
        QCOMPARE(PlistValue::integer(read.map(), QStringLiteral("AgentState")), int(stamp) % 2 ? 8 : 9);
    }

    void loginItem()
    {
        using H = AgentHarness;
        QVERIFY(IAgentTool::shared().setAgentAutostart(true));
        QVERIFY(QFile::exists(LoginItem::autostartFilePath(H::agentId())));
        QVERIFY(h.agentRuns());
        QVERIFY(LoginItem::stop(H::agentId()));
        QVERIFY(!LoginItem::isRunning(H::agentId()));

        // The desktop's launcher starts it from the file again.
        // Detached: the agent it starts keeps gio's standard streams open.
        Subprocess::Options gio;
        gio.program = QStringLiteral("gio");
        gio.arguments = QStringList { QStringLiteral("launch"), LoginItem::autostartFilePath(H::agentId()) };
        QString error;
        QVERIFY2(Subprocess::startDetached(gio, &error) > 0, qPrintable(error));
        QVERIFY(h.agentRuns());
        const pid_t pid = LoginItem::ownerPid(H::agentId());

        QElapsedTimer t;
        t.start();
        QVERIFY(IAgentTool::shared().setAgentAutostart(false));
        QVERIFY2(t.elapsed() < LoginItem::termGraceMs, qPrintable(QString::number(t.elapsed())));
        QVERIFY(!LoginItem::isRunning(H::agentId()));
        QVERIFY(!ProcessTable::isProcessAlive(pid));
        QVERIFY(!QFile::exists(LoginItem::autostartFilePath(H::agentId())));
    }

    void idleCost()
    {
        auto agent = h.startAgent();
        QVERIFY(agent && h.agentRuns());
        QCOMPARE(exchange(AgentHarness::json(4, AgentHarness::stateJson(9, 100))).size(), 0);
        auto switches = [&] {
            qint64 sum = 0;
            const QString tasks = QStringLiteral("/proc/%1/task").arg(agent->pid());
            for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
                QFile status(tasks + u'/' + task + QStringLiteral("/status"));
                if (!status.open(QIODevice::ReadOnly))
                    continue;
                for (const QByteArray& line : status.readAll().split('\n'))
                    if (line.startsWith("voluntary_ctxt_switches:"))
                        sum += line.mid(24).trimmed().toLongLong();
            }
            return sum;
        };
        const qint64 before = switches();
        QTest::qWait(10000);
        const qint64 grown = switches() - before;
        // A waiting agent wakes for its 30 s timer and the bus only; a polling loop would show
        // hundreds.
        QVERIFY2(grown < 100, qPrintable(QString::number(grown)));
        QCOMPARE(AgentHarness::terminate(*agent), 0);
    }
};

QTEST_MAIN(TestAgentProgram)
#include "tst_agentprogram.moc"
