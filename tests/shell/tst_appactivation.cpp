// kv-test: labels=gui,dbus timeout=60
#include "PrivateBus.h"
#include "platform/DistributedNotificationCenter.h"
#include "projects/IAgentTool.h"
#include "shell/AppActivation.h"
#include "shell/IQV3MainWindow.h"
#include "shell/MainWndController.h"

#include <QtTest>
#include <QtWidgets>

// A second start hands its arguments to the running application over the bus, also while that
// one is still starting (its name claimed, its object not yet there).
class TestAppActivation : public QObject
{
    Q_OBJECT
    std::unique_ptr<PrivateBus> m_bus;

private Q_SLOTS:
    void initTestCase()
    {
        m_bus = std::make_unique<PrivateBus>();
        QVERIFY2(m_bus->isValid(), qPrintable(m_bus->errorString()));
        QVERIFY(IAgentTool::startMainApplicationLink());
    }

    void secondStartWhileTheFirstStarts()
    {
        MainWndController hub;
        hub.setAgentHooks({ [] { return false; }, [] { return false; }, [](bool) { return true; },
            [] { return true; }, [] {}, [](const QVConnectMessage&) { return true; }, [] { return QString(); } });
        g_startedByLauncher = true;
        // The first start's own check of its arguments.
        hub.startByLauncherCheck({ QStringLiteral("launcher"), QStringLiteral("minimize") });

        bool answered = false;
        QThread* second = QThread::create([&] { answered = AppActivation::activateRunning({}); });
        second->start();
        // The object comes a moment later, as after the containers have loaded.
        QTest::qWait(400);
        QVERIFY(second->isRunning());
        AppActivation activation(&hub);
        QTRY_VERIFY_WITH_TIMEOUT(second->isFinished(), 10000);
        delete second;
        QVERIFY(answered);
        QVERIFY(!g_startedByLauncher);
        QVERIFY(hub.mainWindow3() && hub.mainWindow3()->isVisible());
        // The start-up's second check of the same arguments keeps it the user's.
        hub.startByLauncherCheck({ QStringLiteral("launcher"), QStringLiteral("minimize") });
        QVERIFY(!g_startedByLauncher);
    }

    void platformData_data()
    {
        QTest::addColumn<QVariant>("arguments");
        QTest::addColumn<bool>("shown");
        QTest::newRow("none") << QVariant(QStringList()) << true;
        QTest::newRow("minimize") << QVariant(QStringList { QStringLiteral("launcher"), QStringLiteral("MINIMIZE") })
                                  << false;
        QTest::newRow("a text, not a list") << QVariant(QStringLiteral("minimize")) << true;
    }
    void platformData()
    {
        QFETCH(QVariant, arguments);
        QFETCH(bool, shown);
        MainWndController hub;
        g_startedByLauncher = true;
        AppActivation activation(&hub);
        activation.Activate({ { QStringLiteral("arguments"), arguments } });
        QCOMPARE(!g_startedByLauncher, shown);
        g_startedByLauncher = false;
    }
};

QTEST_MAIN(TestAppActivation)
#include "tst_appactivation.moc"
