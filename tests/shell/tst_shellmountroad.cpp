// kv-test: labels=root,dbus timeout=600
// kv-test: fixtures=kv_loop_cleanup
#include "../e2e/E2eWorkspace.h"
#include "AppRoad.h"

#include <QtTest>

// The mount road through the real pieces: the application tells the agent at its quit which
// volume starts a project; that volume mounted at a new path makes the agent launch the
// application hidden, which builds the archive on the volume and quits when idle.
class TestShellMountRoad : public QObject
{
    Q_OBJECT
    AppRoad road;

private Q_SLOTS:
    void initTestCase()
    {
        KV_REQUIRE_ROOT();
        QVERIFY(road.setUp(QStringLiteral("shell mount road")));
    }

    void mountRoad()
    {
        KV_REQUIRE_ROOT();
        AgentHarness& h = road.h;
        const QString uuid = E2e::newUUID();
        LoopImage image;
        image.setUuid(uuid.toLower());
        QVERIFY2(image.createImage(LoopImage::FsType::Ext4, 64) && image.attach(), qPrintable(image.errorString()));
        QVERIFY(h.tree->writeFile(QStringLiteral("source/a.txt"), "alpha\n"));
        QVERIFY(h.tree->writeFile(QStringLiteral("source/sub dir/b.txt"), "beta\n"));

        const double stamp = QVAgentState::nowInterval() - 100;
        const int bits = QVAgentState::ScheduleOn | QVAgentState::AgentNeeded;
        QVERIFY(road.writeAppPrefs(bits, stamp));
        QVERIFY(road.writeAgentState(bits, stamp, QDateTime()));
        auto agent = h.startAgent();
        QVERIFY(agent && h.agentRuns());

        {
            // The project is made, and the application used once, while the volume sits elsewhere.
            ScopedMount earlier;
            QVERIFY2(earlier.mount({ QStringLiteral("-t"), QStringLiteral("ext4"), image.device() },
                         LoopImage::loopRoot() + QStringLiteral("/road-earlier-") + E2e::newUUID().left(8)),
                qPrintable(earlier.errorString()));
            QVERIFY(QDir().mkpath(earlier.dir() + QStringLiteral("/dest")));
            const AppRoad::Driven made = road.archiveDriver({ QStringLiteral("--new"), QStringLiteral("Mail"),
                QStringLiteral("--source"), h.tree->filePath(QStringLiteral("source")), QStringLiteral("--dest"),
                earlier.dir() + QStringLiteral("/dest"), QStringLiteral("--method"), QStringLiteral("full"),
                QStringLiteral("--start-on-mount") });
            QVERIFY2(made.code == 0, QByteArray(made.last + made.err).constData());

            QProcess app;
            app.start(AppRoad::realProgram(), {});
            QVERIFY(app.waitForStarted(10000));
            QVERIFY(AgentHarness::catchesTerm(pid_t(app.processId()), 30000));
            QVERIFY(h.waitFor([] { return LoginItem::isRunning(AgentHarness::appId()); }, 30000));
            QTest::qWait(1000);
            ::kill(pid_t(app.processId()), SIGTERM);
            QVERIFY(app.waitForFinished(30000));
            QCOMPARE(app.exitCode(), 0);
            QVERIFY2(h.waitFor([&] {
                return h.stateFile().value(QStringLiteral("VolumeIDArray")).toStringList().contains(uuid, Qt::CaseInsensitive);
            }),
                qPrintable(QString::fromUtf8(road.runLogs())));
            QVERIFY(earlier.unmount());
        }

        ScopedMount fresh;
        QVERIFY2(fresh.mount({ QStringLiteral("-t"), QStringLiteral("ext4"), image.device() },
                     LoopImage::loopRoot() + QStringLiteral("/road new mount ") + E2e::newUUID().left(8)),
            qPrintable(fresh.errorString()));
        QVERIFY2(h.waitFor([&] { return !road.statuses().isEmpty(); }, 120000),
            qPrintable(road.argvLines().join(u'\n') + u'\n' + QString::fromUtf8(road.runLogs())));
        QCOMPARE(road.argvLines(), QStringList { QStringLiteral("launcher minimize") });
        QCOMPARE(road.statuses(), QStringList { QStringLiteral("0") });
        const QStringList archives = AppRoad::archivesIn(fresh.dir() + QStringLiteral("/dest"));
        QCOMPARE(archives.size(), 1);
        QVERIFY(AppRoad::tarList(archives.first()).filter(QStringLiteral("sub dir/b.txt")).size() == 1);
        const QByteArray log = road.runLogs();
        QVERIFY2(log.contains("started by launcher"), log.constData());
        QVERIFY2(log.contains("\" has succeeded"), log.constData());

        QCOMPARE(AgentHarness::terminate(*agent), 0);
        QVERIFY(fresh.unmount());
        image.release();
    }
};

QTEST_MAIN(TestShellMountRoad)
#include "tst_shellmountroad.moc"
