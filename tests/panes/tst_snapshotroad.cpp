// kv-test: labels=gui,dbus timeout=300 env=KV_TIMER_SCALE=10

// The schedule road of a snapshot-backup project through the real pieces: the agent's timer
// launches the application hidden ("launcher minimize"), the snapshot pane's schedule timer
// starts the due project, rsync writes its version, and the application quits by itself at its
// second idle check, telling the agent the project's next date.

#include "../e2e/E2eWorkspace.h"
#include "../shell/AppRoad.h"

#include <QtTest>

using namespace E2e;

class TestSnapshotRoad : public QObject
{
    Q_OBJECT
    AppRoad road;

private Q_SLOTS:
    void initTestCase() { QVERIFY(road.setUp(QStringLiteral("snapshot road"))); }

    void scheduleRoad()
    {
        AgentHarness& h = road.h;
        QVERIFY(h.tree->writeFile(QStringLiteral("source/a.txt"), "alpha\n"));
        QVERIFY(h.tree->writeFile(QStringLiteral("source/sub dir/b.txt"), "beta\n"));
        QVERIFY(h.tree->mkdir("snapshots"));
        // Daily at the last minute, its next date a minute ago: due now, started late.
        const QDateTime now = QDateTime::currentDateTime();
        ProjectPlan plan;
        plan.sources = { h.tree->filePath(QStringLiteral("source")) };
        plan.destination = h.tree->filePath(QStringLiteral("snapshots"));
        plan.scheduled = true;
        plan.scheduleHH = now.addSecs(-60).time().hour();
        plan.scheduleMM = now.addSecs(-60).time().minute();
        QVariantMap project = projectDict(plan);
        project.insert(QStringLiteral("NextDate"), now.addSecs(-60));
        QVERIFY(writeWorkspace(road.workspace(), { project }));

        const double stamp = QVAgentState::nowInterval() - 100;
        const int bits = QVAgentState::ScheduleOn | QVAgentState::AgentNeeded;
        QVERIFY(road.writeAppPrefs(bits, stamp));
        QVERIFY(road.writeAgentState(bits, stamp, QDateTime::currentDateTime().addSecs(3)));

        auto agent = h.startAgent();
        QVERIFY(agent && h.agentRuns());
        QVERIFY2(h.waitFor([&] { return !road.statuses().isEmpty(); }, 200000),
            qPrintable(QString::fromUtf8(road.runLogs())));
        QCOMPARE(road.argvLines(), QStringList { QStringLiteral("launcher minimize") });
        QCOMPARE(road.statuses(), QStringList { QStringLiteral("0") });

        // The version the pane's timer started.
        const QStringList versions = versionFolders(projectFolder(plan));
        QVERIFY2(versions.size() == 1, qPrintable(QString::fromUtf8(road.runLogs())));
        QFile b(projectFolder(plan) + QLatin1Char('/') + versions.first()
            + QStringLiteral("/source.wrp1/source/sub dir/b.txt"));
        QVERIFY(b.open(QIODevice::ReadOnly));
        QCOMPARE(b.readAll(), QByteArray("beta\n"));

        // The quit told the agent the project's next date (tomorrow's run).
        QVERIFY(h.waitFor([&] {
            return h.stateFile().value(QStringLiteral("NextDateKey")).toDateTime()
                > QDateTime::currentDateTime();
        }));
        QVERIFY(h.stateFile().value(QStringLiteral("NextDateKey")).toDateTime()
            > QDateTime::currentDateTime().addSecs(20 * 3600));
        QCOMPARE(AgentHarness::terminate(*agent), 0);
    }
};

QTEST_MAIN(TestSnapshotRoad)
#include "tst_snapshotroad.moc"
