// kv-test: labels=unit env=DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/kv-no-bus
#include "KvTest.h"
#include "platform/DistributedNotificationCenter.h"
#include "platform/Subprocess.h"
#include "projects/IAgentTool.h"
#include "projects/QVConnectMessage.h"

#include <QtTest>

// Without a session bus the agent link answers "no agent" and sends nothing, and the agent
// itself refuses to start: no crash and no work started.
class TestAgentLinkNoBus : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void answersNoAgent()
    {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("no session bus"));
        QVERIFY(!DistributedNotificationCenter::shared().isConnected());
        IAgentTool& tool = IAgentTool::shared();
        QVERIFY(!tool.isAgentWorking());
        QCOMPARE(tool.getLauncherBuild(), -1.0);
        tool.validateLauncher();
        tool.setConnectMessageReceiver();
        QVERIFY(!tool.killAgent());
        QVERIFY(!QVConnectMessage::messageWithSenderAndType(3).send());
        QVERIFY(!tool.sendConnectMessage(QVConnectMessage::messageWithSenderAndType(8)));
    }

    void agentRefusesToStart()
    {
        Subprocess::Options options;
        options.program = KvTest::testBinDir() + QStringLiteral("/fakeagent");
        const auto result = Subprocess::run(options, 20000);
        QVERIFY(result.started);
        QCOMPARE(result.exitCode, 2);
    }
};

QTEST_GUILESS_MAIN(TestAgentLinkNoBus)
#include "tst_agentlink_nobus.moc"
