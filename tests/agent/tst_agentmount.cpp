// kv-test: labels=root,dbus timeout=600
// kv-test: fixtures=kv_loop_cleanup
#include "../e2e/E2eWorkspace.h"
#include "AgentHarness.h"
#include "projects/QVAgentState.h"

#include <QDBusConnectionInterface>
#include <QtTest>

// The real agent and a real mount: a listed ext4 volume mounted at a new path starts the stand-in
// main application, whose follow-up runs the snapshot project onto that volume through
// kv-run-project; while the main application's name is owned, a mount launches nothing.
class TestAgentMount : public QObject
{
    Q_OBJECT
    AgentHarness h;

private Q_SLOTS:
    void initTestCase()
    {
        KV_REQUIRE_ROOT();
        QVERIFY(h.setUp(QStringLiteral("agent mount")));
    }

    void mountStartsARun()
    {
        KV_REQUIRE_ROOT();
        const QString uuid = E2e::newUUID();
        LoopImage image;
        image.setUuid(uuid.toLower());
        QVERIFY2(image.createImage(LoopImage::FsType::Ext4, 64) && image.attach(),
            qPrintable(image.errorString()));

        // The project is written while the volume sits at an earlier mount point.
        QVERIFY(h.tree->writeFile(QStringLiteral("source/a.txt"), "alpha\n"));
        QVERIFY(h.tree->writeFile(QStringLiteral("source/sub dir/b.txt"), "beta\n"));
        E2e::ProjectPlan plan;
        plan.sources = QStringList { h.tree->filePath(QStringLiteral("source")) };
        plan.destinationVolumeUUID = uuid;
        const QString workspace = h.tree->filePath(QStringLiteral("workspace"));
        {
            ScopedMount earlier;
            QVERIFY2(earlier.mount({ QStringLiteral("-t"), QStringLiteral("ext4"), image.device() },
                         LoopImage::loopRoot() + QStringLiteral("/agent-earlier-") + E2e::newUUID().left(8)),
                qPrintable(earlier.errorString()));
            QVERIFY(QDir().mkpath(earlier.dir() + QStringLiteral("/dest")));
            plan.destination = earlier.dir() + QStringLiteral("/dest");
            QVERIFY(E2e::writeWorkspace(workspace, { E2e::projectDict(plan) }));
            QVERIFY(earlier.unmount());
        }

        // The stand-in's follow-up: the driver run of that project.
        QByteArray then;
        for (const QString& a : { E2e::driverPath(), QStringLiteral("--workspace"), workspace,
                 QStringLiteral("--project"), plan.name })
            then += a.toUtf8() + '\0';
        then += '\0';
        QVERIFY(h.tree->writeFile(QStringLiteral("then.argv"), then));
        qputenv("KV_FAKEAPP_THEN", h.tree->filePath(QStringLiteral("then.argv")).toUtf8());

        auto agent = h.startAgent();
        QVERIFY(agent && h.agentRuns());
        const QString stamp = QString::number(QVAgentState::nowInterval() + 10, 'f', 3);
        QVERIFY(
            AgentHarness::kvConnect({ QStringLiteral("send"), QStringLiteral("4"), QStringLiteral("--state"),
                                        QStringLiteral("9"), QStringLiteral("--stamp"), stamp })
                .succeeded());
        QVERIFY(
            AgentHarness::kvConnect({ QStringLiteral("send"), QStringLiteral("5"), QStringLiteral("--volume"),
                                        uuid, QStringLiteral("--path"), h.appBundle() })
                .succeeded());
        QVERIFY(h.waitFor([&] { return h.stateFile().contains(QStringLiteral("VolumeIDArray")); }));

        ScopedMount fresh;
        QVERIFY2(fresh.mount({ QStringLiteral("-t"), QStringLiteral("ext4"), image.device() },
                     LoopImage::loopRoot() + QStringLiteral("/agent new mount ") + E2e::newUUID().left(8)),
            qPrintable(fresh.errorString()));
        QVERIFY(h.waitFor([&] { return !h.recorded(QStringLiteral("end")).isEmpty(); }, 300000));
        QCOMPARE(h.recorded(QStringLiteral("argv")).size(), 1);
        QCOMPARE(AgentHarness::argvOf(h.recorded(QStringLiteral("argv")).value(0)),
            QStringList({ QStringLiteral("launcher"), QStringLiteral("minimize") }));
        const auto answer
            = QVConnectMessage::messageWithString(h.recorded(QStringLiteral("answer")).value(0));
        QCOMPARE(answer.intForKey(QStringLiteral("LaunchingReason"), 0), 2);
        QCOMPARE(answer.stringForKey(QStringLiteral("LastMountedVolume")), fresh.dir());
        const QString run = h.recorded(QStringLiteral("then")).value(0);
        QVERIFY2(run.startsWith(QStringLiteral("0\t0 b3_"))
                && run.endsWith(QStringLiteral(" Backup was successful")),
            qPrintable(run));
        const QString folder = fresh.dir() + QStringLiteral("/dest/") + plan.name + u'_' + plan.uuid;
        const QStringList versions = E2e::versionFolders(folder);
        QCOMPARE(versions.size(), 1);
        QCOMPARE(run.section(u' ', 1, 1), versions[0]);
        QFile copied(folder + u'/' + versions[0] + QStringLiteral("/source.wrp1/source/sub dir/b.txt"));
        QVERIFY(copied.open(QIODevice::ReadOnly));
        QCOMPARE(copied.readAll(), QByteArray("beta\n"));
        copied.close();
        QVERIFY(fresh.unmount());

        // While the main application's name is owned, a mount launches nothing and is not
        // remembered.
        QFile::remove(h.recordPath());
        QDBusConnection bus = DistributedNotificationCenter::shared().connection();
        QVERIFY(bus.registerService(AgentHarness::appId()));
        ScopedMount again;
        QVERIFY2(again.mount({ QStringLiteral("-t"), QStringLiteral("ext4"), image.device() },
                     LoopImage::loopRoot() + QStringLiteral("/agent again ") + E2e::newUUID().left(8)),
            qPrintable(again.errorString()));
        QTest::qWait(1500);
        QVERIFY(h.record().isEmpty());
        h.heard.clear();
        h.post(AgentHarness::json(6));
        QVERIFY(h.waitFor([&] { return !h.fromAgent(7).isEmpty(); }));
        QCOMPARE(h.fromAgent(7)[0].intForKey(QStringLiteral("LaunchingReason"), 0), 3);
        QVERIFY(bus.unregisterService(AgentHarness::appId()));
        QVERIFY(again.unmount());

        // A volume without a readable UUID launches nothing.
        ScopedMount memory;
        QVERIFY2(memory.mount({ QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("none") },
                     LoopImage::loopRoot() + QStringLiteral("/agent tmpfs ") + E2e::newUUID().left(8)),
            qPrintable(memory.errorString()));
        QTest::qWait(1000);
        QVERIFY(h.record().isEmpty());
        QVERIFY(memory.unmount());
        QCOMPARE(AgentHarness::terminate(*agent), 0);

        // A listed volume that was mounted before the agent started launches nothing.
        ScopedMount before;
        QVERIFY2(before.mount({ QStringLiteral("-t"), QStringLiteral("ext4"), image.device() },
                     LoopImage::loopRoot() + QStringLiteral("/agent before ") + E2e::newUUID().left(8)),
            qPrintable(before.errorString()));
        agent = h.startAgent();
        QVERIFY(agent && h.agentRuns());
        QCOMPARE(h.stateFile().value(QStringLiteral("VolumeIDArray")).toStringList(), QStringList { uuid });
        QTest::qWait(1500);
        QVERIFY(h.record().isEmpty());
        QCOMPARE(AgentHarness::terminate(*agent), 0);
        QVERIFY(before.unmount());
        image.release();
    }
};

QTEST_MAIN(TestAgentMount)
#include "tst_agentmount.moc"
