// kv-test: labels=unit env=TZ=Europe/Berlin
#include "KvTest.h"
#include "projects/QVAgentState.h"
#include "projects/QVConnectMessage.h"

#include <QtTest>
#include <cstring>

// The message format: what is written, what is read back, and what untrusted text gives.
class TestQVConnectMessage : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { QVConnectMessage::setProgramType(QVConnectMessage::MainApplication); }

    void untrustedText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("content");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("program");
        QTest::newRow("array") << "[1,2]" << false << 0 << 0;
        QTest::newRow("text after the object") << "{\"Type\":4} tail" << false << 0 << 0;
        QTest::newRow("leading blank") << " {\"Type\":4}" << false << 0 << 0;
        QTest::newRow("not JSON") << "{Type: 4" << false << 0 << 0;
        QTest::newRow("empty") << "" << false << 0 << 0;
        QTest::newRow("qv3_cat text") << "qv3_cat::input_file_name" << false << 0 << 0;
        QTest::newRow("Type as text") << "{\"Type\":\"4\"}" << true << 0 << 0;
        QTest::newRow("other case") << "{\"TYPE\":4,\"senderdata\":{\"ProgramType\":2}}" << true << 0 << 0;
        QTest::newRow("SenderData not a dictionary") << "{\"Type\":3,\"SenderData\":[2]}" << true << 3 << 0;
        QTest::newRow("first duplicate wins")
            << "{\"Type\":3,\"Type\":4,\"SenderData\":{\"ProgramType\":2}}" << true << 3 << 2;
        QTest::newRow("huge type") << "{\"Type\":1e300}" << true << INT_MAX << 0;
    }
    void untrustedText()
    {
        QFETCH(QString, text);
        QFETCH(bool, content);
        QFETCH(int, type);
        QFETCH(int, program);
        const auto message = QVConnectMessage::messageWithString(text);
        QCOMPARE(message.hasContent(), content);
        QCOMPARE(message.type(), type);
        QCOMPARE(message.senderProgramType(), program);
        QCOMPARE(message.intForKey(QStringLiteral("Type"), -7), content && type ? type : -7);
        QCOMPARE(message.stringForKey(QStringLiteral("Text"), QStringLiteral("d")),
            content ? QString() : QStringLiteral("d"));
        QVERIFY(!message.dateForKey(QStringLiteral("FirstProcessDate")).isValid());
        QCOMPARE(message.text(), QStringLiteral("-empty-"));
        if (!content) {
            QVERIFY(message.string().isNull());
            QVERIFY(!message.send()); // nothing is posted for text that did not parse
        }
    }

    void cutAndHostileTextNeverCrashes()
    {
        auto full = QVConnectMessage::messageWithSenderAndType(7);
        QVAgentState state;
        state.setScheduleResumeDate(QDateTime::currentDateTime().addDays(1));
        full.setAgentState(state);
        full.setString(QStringLiteral("/media/u/Ключ \"x\""), QStringLiteral("LastMountedVolume"));
        full.setArray({ QStringLiteral("a"), 1, true }, QStringLiteral("StartOnMountVolumeIdArray"));
        const QString text = full.string();
        for (int length = 0; length < text.size(); ++length) {
            const auto cut = QVConnectMessage::messageWithString(text.left(length));
            QVERIFY(!cut.hasContent()); // no prefix of one object is an object
            QVERIFY(!cut.getAgentStateTo(state));
        }
        QVERIFY(QVConnectMessage::messageWithString(text).hasContent());
        // Deep nesting, huge and odd numbers, wrong types everywhere.
        const QString deep
            = QStringLiteral("{\"a\":").repeated(5000) + QStringLiteral("1") + QString(5000, u'}');
        QVERIFY(!QVConnectMessage::messageWithString(deep).hasContent());
        const auto odd = QVConnectMessage::messageWithString(QStringLiteral(
            "{\"Type\":-1e400,\"SenderData\":{\"ProgramType\":1e400,\"PromotionType\":null},"
            "\"AgentState\":{\"State\":-99999999999,\"ModifyInterval\":\"x\",\"ScheduleResumeDate\":7},"
            "\"StartOnMountVolumeIdArray\":{\"a\":1},\"Text\":[\"x\"],\"LastMountedVolume\":\"\\u0000x\"}"));
        QVERIFY(odd.hasContent());
        QCOMPARE(odd.type(), INT_MIN);
        QCOMPARE(odd.senderProgramType(), INT_MAX);
        QCOMPARE(odd.senderPromotionType(), 0);
        QVERIFY(odd.getAgentStateTo(state));
        QCOMPARE(state.getInt(), INT_MIN);
        QCOMPARE(state.modifyInterval(), 0.0);
        QVERIFY(!state.scheduleResumeDate().isValid());
        QVERIFY(!odd.arrayForKey(QStringLiteral("StartOnMountVolumeIdArray")));
        QCOMPARE(odd.text(), QStringLiteral("-empty-"));
        QCOMPARE(odd.stringForKey(QStringLiteral("LastMountedVolume")), QString());
    }

    void senderData()
    {
        auto main = QVConnectMessage::messageWithSenderAndType(1);
        QCOMPARE(main.string(),
            QStringLiteral(
                "{\"SenderData\":{\"ProgramType\":1,\"PromotionType\":1,\"ProtocolVersion\":1},\"Type\":1}"));
        QVConnectMessage::setProgramType(QVConnectMessage::Agent);
        auto agent = QVConnectMessage::messageWithSenderAndType(
            2, QStringLiteral("{\"Type\":9,\"SenderData\":{\"ProgramType\":1},\"Build\":30000}"));
        QCOMPARE(agent.type(), 2);
        QCOMPARE(agent.senderProgramType(), 2);
        QCOMPARE(agent.senderPromotionType(), 1);
        QCOMPARE(agent.floatForKey(QStringLiteral("Build"), 0), 30000.0);
        QVERIFY(!QVConnectMessage::messageWithSenderAndType(2, QStringLiteral("[1]")).hasContent());
        QVERIFY(!QVConnectMessage::messageWithSender().send()); // type 0 is never sent
    }

    void debugTextKeepsQuotes()
    {
        const QString text = QStringLiteral("say \"hi\" \\ ok\n\t{\"Type\":1}");
        auto message = QVConnectMessage::messageWithSenderAndType(8);
        message.setString(text, QStringLiteral("Text"));
        const auto back = QVConnectMessage::messageWithString(message.string());
        QCOMPARE(back.text(), text);
        QCOMPARE(back.type(), 8);
    }

    void textThatIsNotUtf8IsLeftOut()
    {
        auto message = QVConnectMessage::messageWithSenderAndType(7);
        const QString bad = QStringLiteral("/media/u/disk") + QChar(0xDCE9);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("LastMountedVolume"));
        message.setString(bad, QStringLiteral("LastMountedVolume"));
        QVERIFY(message.stringForKey(QStringLiteral("LastMountedVolume")).isNull());
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("StartOnMountVolumeIdArray"));
        message.setArray({ QStringLiteral("A-1"), bad, 2 }, QStringLiteral("StartOnMountVolumeIdArray"));
        QCOMPARE(*message.arrayForKey(QStringLiteral("StartOnMountVolumeIdArray")),
            (QVariantList { QStringLiteral("A-1"), 2.0 }));
    }

    void stampIsBitIdentical()
    {
        QVAgentState state;
        state.set(13, 786543210.123, QDateTime());
        auto message = QVConnectMessage::messageWithSenderAndType(4);
        message.setAgentState(state);
        QVAgentState back;
        QVERIFY(QVConnectMessage::messageWithString(message.string()).getAgentStateTo(back));
        const double a = back.modifyInterval(), b = 786543210.123;
        QVERIFY(std::memcmp(&a, &b, sizeof a) == 0);
        QCOMPARE(back.getInt(), 13);
        QVERIFY(!back.scheduleResumeDate().isValid());
        QVERIFY(!message.string().contains(QStringLiteral("ScheduleResumeDate")));

        // Many millisecond stamps, none may change.
        for (qint64 ms = 786543210000; ms < 786543210000 + 2000; ms += 7) {
            state.set(1, ms / 1000.0, QDateTime());
            message.setAgentState(state);
            QVERIFY(QVConnectMessage::messageWithString(message.string()).getAgentStateTo(back));
            QCOMPARE(back.modifyInterval(), ms / 1000.0);
        }
    }

    void resumeDateRoundTripsToTheSecond()
    {
        QVAgentState state;
        const QDateTime now = QDateTime::currentDateTime();
        const QDateTime resume = now.addDays(2).addMSecs(-now.time().msec());
        state.setScheduleResumeDate(resume.addMSecs(400));
        auto message = QVConnectMessage::messageWithSenderAndType(4);
        message.setAgentState(state);
        QVAgentState back;
        QVERIFY(QVConnectMessage::messageWithString(message.string()).getAgentStateTo(back));
        QCOMPARE(back.scheduleResumeDate(), resume);
        QCOMPARE(back.getInt(), 1 | 2 | 8);
    }

    void dates()
    {
        QCOMPARE(QVConnectMessage::textFromDate(QDateTime()), QStringLiteral("None"));
        QCOMPARE(QVConnectMessage::textFromDate(QDateTime::fromSecsSinceEpoch(0)), QStringLiteral("None"));
        const QDateTime september(QDate(2026, 9, 3), QTime(7, 5, 9));
        QCOMPARE(QVConnectMessage::textFromDate(september), QStringLiteral("3 Sept 2026, 07:05:09"));
        QCOMPARE(QVConnectMessage::dateFromText(QStringLiteral("3 Sept 2026, 07:05:09")), september);
        QCOMPARE(QVConnectMessage::dateFromText(QStringLiteral("3 Sep 2026, 07:05:09")), september);
        for (int month = 1; month <= 12; ++month) {
            const QDateTime date(QDate(2026, month, 28), QTime(23, 59, 59));
            QCOMPARE(QVConnectMessage::dateFromText(QVConnectMessage::textFromDate(date)), date);
        }
        QVERIFY(!QVConnectMessage::dateFromText(QString()).isValid());
        QVERIFY(!QVConnectMessage::dateFromText(QStringLiteral("None")).isValid());
        QVERIFY(!QVConnectMessage::dateFromText(QStringLiteral("3 Sept 2026")).isValid());

        // Type 5 without "FirstProcessDate": null even with a default; with it: the date.
        auto message = QVConnectMessage::messageWithSenderAndType(5);
        QVERIFY(!message.dateForKey(QStringLiteral("FirstProcessDate"), september).isValid());
        message.setDate(QDateTime::fromSecsSinceEpoch(0), QStringLiteral("FirstProcessDate"));
        QVERIFY(!message.arrayForKey(QStringLiteral("StartOnMountVolumeIdArray")));
        QVERIFY(!message.string().contains(QStringLiteral("FirstProcessDate")));
        message.setDate(september, QStringLiteral("FirstProcessDate"));
        QCOMPARE(message.dateForKey(QStringLiteral("FirstProcessDate")), september);
        QCOMPARE(message.dateForKey(QString(), september), september); // null key: the default
    }

    void typedAccess()
    {
        auto message = QVConnectMessage::messageWithSenderAndType(7);
        message.setInt(2, QStringLiteral("LaunchingReason"));
        message.setBool(true, QStringLiteral("Flag"));
        message.setFloat(2.5, QStringLiteral("Build"));
        message.setInt(1, QString()); // null key: nothing
        QCOMPARE(message.intForKey(QStringLiteral("LaunchingReason"), 0), 2);
        QCOMPARE(message.intForKey(QStringLiteral("Flag"), 0), 1);
        QCOMPARE(message.boolForKey(QStringLiteral("LaunchingReason"), false), true);
        QCOMPARE(message.floatForKey(QStringLiteral("Build"), 0), 2.5);
        QCOMPARE(message.intForKey(QStringLiteral("Missing"), -1), -1);
        // Replacing a key leaves one entry.
        message.setInt(3, QStringLiteral("LaunchingReason"));
        QCOMPARE(message.string().count(QStringLiteral("LaunchingReason")), 1);
        QVERIFY(message.description().contains(QStringLiteral("reason 3")));
        // Without content every setter does nothing.
        QVConnectMessage empty;
        empty.setInt(1, QStringLiteral("Type"));
        empty.setAgentState(nullptr);
        QVERIFY(!empty.hasContent());
        QVAgentState state;
        QVERIFY(!empty.getAgentStateTo(state));
    }
};

QTEST_GUILESS_MAIN(TestQVConnectMessage)
#include "tst_qvconnectmessage.moc"
