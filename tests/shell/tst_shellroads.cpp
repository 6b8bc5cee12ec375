// kv-test: labels=gui,dbus timeout=300
#include "AppRoad.h"

#include <QtTest>

// The schedule road through the real pieces: the agent's timer launches the application hidden,
// the application's own schedule timer starts the due archive project, tar builds it, and the
// application quits by itself once it has been idle for two checks, telling the agent the next date
// and its place.
class TestShellRoads : public QObject
{
    Q_OBJECT
    AppRoad road;

private Q_SLOTS:
    void initTestCase() { QVERIFY(road.setUp(QStringLiteral("shell roads"))); }

    void scheduleRoad()
    {
        AgentHarness& h = road.h;
        QVERIFY(h.tree->writeFile(QStringLiteral("source/a.txt"), "alpha\n"));
        QVERIFY(h.tree->writeFile(QStringLiteral("source/sub dir/b.txt"), "beta\n"));
        QVERIFY(h.tree->mkdir("archives"));
        // Daily at the last minute, made two minutes ago: due now and started late.
        const QDateTime now = QDateTime::currentDateTime();
        const AppRoad::Driven made = road.archiveDriver({ QStringLiteral("--new"), QStringLiteral("Docs"),
            QStringLiteral("--source"), h.tree->filePath(QStringLiteral("source")), QStringLiteral("--dest"),
            h.tree->filePath(QStringLiteral("archives")), QStringLiteral("--method"), QStringLiteral("full"),
            QStringLiteral("--schedule"), now.addSecs(-60).toString(QStringLiteral("HH:mm")), QStringLiteral("--now"),
            now.addSecs(-120).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) });
        QVERIFY2(made.code == 0, QByteArray(made.last + made.err).constData());

        const double stamp = QVAgentState::nowInterval() - 100;
        const int bits = QVAgentState::ScheduleOn | QVAgentState::AgentNeeded;
        QVERIFY(road.writeAppPrefs(bits, stamp));
        QVERIFY(road.writeAgentState(bits, stamp, QDateTime::currentDateTime().addSecs(3)));

        auto agent = h.startAgent();
        QVERIFY(agent && h.agentRuns());
        // Launched hidden, run, idle twice, quit.
        QVERIFY2(h.waitFor([&] { return !road.statuses().isEmpty(); }, 200000),
            qPrintable(QString::fromUtf8(road.runLogs())));
        QCOMPARE(road.argvLines(), QStringList { QStringLiteral("launcher minimize") });
        QCOMPARE(road.statuses(), QStringList { QStringLiteral("0") });

        const QStringList archives = AppRoad::archivesIn(h.tree->filePath(QStringLiteral("archives")));
        QCOMPARE(archives.size(), 1);
        const QStringList names = AppRoad::tarList(archives.first());
        QVERIFY2(names.filter(QStringLiteral("sub dir/b.txt")).size() == 1, qPrintable(names.join(u'\n')));
        // The quit hands the logs to the packer, which may still be writing the packed copy.
        QByteArray log;
        h.waitFor([&] {
            log = road.runLogs();
            return log.contains("started by launcher") && log.contains("Nothing to do");
        }, 30000);
        QVERIFY2(log.contains("started by launcher"), log.constData());
        QVERIFY2(log.contains("\" has succeeded"), log.constData());
        QVERIFY2(log.contains("Nothing to do"), log.constData());

        // The quit told the agent the next date (tomorrow's run) and where the application is.
        QVERIFY(h.waitFor([&] {
            return h.stateFile().value(QStringLiteral("NextDateKey")).toDateTime() > QDateTime::currentDateTime();
        }));
        const QDateTime next = h.stateFile().value(QStringLiteral("NextDateKey")).toDateTime();
        QVERIFY(next > QDateTime::currentDateTime().addSecs(20 * 3600));
        QCOMPARE(h.stateFile().value(QStringLiteral("LaunchPath")).toString(), road.bundle());
        QCOMPARE(AgentHarness::terminate(*agent), 0);
    }
};

QTEST_MAIN(TestShellRoads)
#include "tst_shellroads.moc"
