// kv-test: labels=unit env=TZ=Europe/Berlin
#include "KvTest.h"
#include "TempTree.h"
#include "platform/AppPaths.h"
#include "platform/Clock.h"
#include "projects/AgentStateMerge.h"
#include "projects/QVAgentState.h"
#include "projects/QVConnectMessage.h"

#include <QtTest>

namespace {
class FixedClock : public Clock
{
public:
    QDateTime at;
    QDateTime now() const override { return at; }
    qint64 monotonicMs() const override { return 0; }
};
} // namespace

// The scheduler state's bit rules, its resume date and the merge of received states.
class TestQVAgentState : public QObject
{
    Q_OBJECT
    FixedClock m_clock;

    QDateTime tenOClock() const { return QDateTime(QDate(2026, 9, 14), QTime(10, 0, 0)); }

private Q_SLOTS:
    void init()
    {
        m_clock.at = tenOClock();
        Clock::setCurrent(&m_clock);
    }
    void cleanup()
    {
        Clock::setCurrent(nullptr);
        QVAgentState::setChangeHook({});
    }

    void bits_data()
    {
        QTest::addColumn<QList<int>>("steps"); // positive: setOn, negative: setOff
        QTest::addColumn<int>("expected");
        QTest::newRow("on 1|4, off 1 keeps 4 and 8") << QList<int> { 1 | 4, 2, -1 } << (4 | 8);
        QTest::newRow("then off 4 clears 8") << QList<int> { 1 | 4, -1, -4 } << 0;
        QTest::newRow("off 1 clears 2") << QList<int> { 1 | 2 | 4, -1 } << (4 | 8);
        QTest::newRow("on 2 alone") << QList<int> { 2 } << 2;
        QTest::newRow("on 2 with 4 adds 8") << QList<int> { 4, 2 } << (2 | 4 | 8);
        QTest::newRow("on 1") << QList<int> { 1 } << (1 | 8);
        QTest::newRow("off 2 keeps 1 and 8") << QList<int> { 1 | 2, -2 } << (1 | 8);
    }
    void bits()
    {
        QFETCH(QList<int>, steps);
        QFETCH(int, expected);
        QVAgentState state;
        for (int step : steps)
            step > 0 ? state.setOn(step) : state.setOff(-step);
        QCOMPARE(state.getInt(), expected);
    }

    void resumeDate()
    {
        QVAgentState state;
        state.setScheduleResumeDate(tenOClock().addSecs(1800));
        QCOMPARE(state.getInt(), 1 | 2 | 8);
        QCOMPARE(state.scheduleResumeDate(), tenOClock().addSecs(1800));
        QVERIFY(!state.isTimeToResumeSchedile());
        QCOMPARE(state.getInt(), 1 | 2 | 8);

        m_clock.at = tenOClock().addSecs(1801);
        QVERIFY(state.isTimeToResumeSchedile());
        QCOMPARE(state.getInt(), 1 | 8);
        QVERIFY(!state.scheduleResumeDate().isValid());

        // A date already past suspends nothing.
        state.setOn(2);
        state.setScheduleResumeDate(tenOClock());
        QCOMPARE(state.getInt(), 1 | 8);
        QVERIFY(!state.scheduleResumeDate().isValid());

        // No date at all: time to resume, bit 2 cleared.
        QVAgentState suspended;
        suspended.setOn(1 | 2);
        QVERIFY(suspended.isTimeToResumeSchedile());
        QCOMPARE(suspended.getInt(), 1 | 8);

        // Clearing bit 2 drops the date.
        state.setScheduleResumeDate(m_clock.at.addDays(1));
        state.setOff(2);
        QVERIFY(!state.scheduleResumeDate().isValid());
    }

    void stampsAndHook()
    {
        int reports = 0;
        QVAgentState::setChangeHook([&] { ++reports; });
        QVAgentState state;
        // 2026-09-14 08:00:00 UTC in seconds after 2001-01-01 UTC.
        const double ten = double(tenOClock().toSecsSinceEpoch()) - 978307200.0;
        QCOMPARE(state.modifyInterval(), ten);
        m_clock.at = tenOClock().addMSecs(1500);
        state.setOn(1);
        QCOMPARE(state.modifyInterval(), ten + 1.5);
        state.set(5, -3, QDateTime());
        QCOMPARE(state.getInt(), 5);
        QCOMPARE(state.modifyInterval(), 0.0); // no new stamp, negative counts as 0
        QCOMPARE(reports, 2);
    }

    void resumeDateText()
    {
        const QDateTime summer(QDate(2026, 7, 1), QTime(23, 59, 58));
        QCOMPARE(QVAgentState::resumeDateText(summer), QStringLiteral("2026-07-01 23:59:58 +0200"));
        QCOMPARE(QVAgentState::resumeDateFromText(QStringLiteral("2026-07-01 21:59:58 +0000")), summer);
        QCOMPARE(QVAgentState::resumeDateFromText(QStringLiteral("2026-12-01 10:00:00 +0100")),
            QDateTime(QDate(2026, 12, 1), QTime(10, 0)));
        QVERIFY(!QVAgentState::resumeDateFromText(QStringLiteral("tomorrow")).isValid());
        QVERIFY(QVAgentState::resumeDateText(QDateTime()).isNull());
    }

    void merge_data()
    {
        QTest::addColumn<QString>("received"); // object text; %1 is the own stamp
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("bitsAfter");
        QTest::newRow("equal stamp is taken") << "{\"AgentState\":{\"State\":5,\"ModifyInterval\":%1}}"
                                              << int(AgentStateMerge::Result::Taken) << 5;
        QTest::newRow("newer is taken") << "{\"AgentState\":{\"State\":13,\"ModifyInterval\":%1.5}}"
                                        << int(AgentStateMerge::Result::Taken) << 13;
        QTest::newRow("older is answered") << "{\"AgentState\":{\"State\":5,\"ModifyInterval\":1}}"
                                           << int(AgentStateMerge::Result::Answered) << 9;
        QTest::newRow("no stamp counts as 0")
            << "{\"AgentState\":{\"State\":5}}" << int(AgentStateMerge::Result::Answered) << 9;
        QTest::newRow("no State") << "{\"AgentState\":{\"ModifyInterval\":%1}}"
                                  << int(AgentStateMerge::Result::Dropped) << 9;
        QTest::newRow("State as text") << "{\"AgentState\":{\"State\":\"5\",\"ModifyInterval\":%1}}"
                                       << int(AgentStateMerge::Result::Dropped) << 9;
        QTest::newRow("AgentState not a dictionary")
            << "{\"AgentState\":[5]}" << int(AgentStateMerge::Result::Dropped) << 9;
    }
    void merge()
    {
        QFETCH(QString, received);
        QFETCH(int, result);
        QFETCH(int, bitsAfter);
        QVAgentState own;
        own.setOn(1);
        own.setModifyInterval(811000000);
        int saves = 0;
        const auto message = QVConnectMessage::messageWithString(received.arg(811000000));
        QCOMPARE(int(AgentStateMerge::apply(own, message, [&] { ++saves; })), result);
        QCOMPARE(own.getInt(), bitsAfter);
        QCOMPARE(saves, result == int(AgentStateMerge::Result::Taken) ? 1 : 0);
    }

    void prefsDictionary()
    {
        QVAgentState state;
        state.setScheduleResumeDate(tenOClock().addSecs(3600));
        QVAgentState copy;
        QVERIFY(copy.setFromPrefsValue(state.toPrefsDictionary()));
        QCOMPARE(copy.getInt(), state.getInt());
        QCOMPARE(copy.modifyInterval(), state.modifyInterval());
        QCOMPARE(copy.scheduleResumeDate(), state.scheduleResumeDate());
        QVERIFY(copy.setFromPrefsValue(qint64(5))); // the older plain-number form
        QCOMPARE(copy.getInt(), 5);
        QCOMPARE(copy.modifyInterval(), 0.0);
        QVERIFY(!copy.setFromPrefsValue(QStringLiteral("5")));
        QVERIFY(!copy.setFromPrefsValue(QVariantMap { { QStringLiteral("ModifyInterval"), 3.0 } }));
        QCOMPARE(copy.getInt(), 5);
    }

    void mainPreferences()
    {
        TempTree workspace(QStringLiteral("workspace"));
        AppPaths::setWorkspacePathOverride(workspace.path());
        QVAgentState state;
        state.setScheduleResumeDate(tenOClock().addSecs(3600));
        state.setModifyInterval(811111111.125);
        QVERIFY(state.saveToMainPrefs());
        QVAgentState loaded;
        QVERIFY(loaded.loadFromMainPrefs());
        QCOMPARE(loaded.getInt(), 1 | 2 | 8);
        QCOMPARE(loaded.modifyInterval(), 811111111.125);
        QCOMPARE(loaded.scheduleResumeDate(), tenOClock().addSecs(3600));
        AppPaths::setWorkspacePathOverride(QString());
    }
};

QTEST_GUILESS_MAIN(TestQVAgentState)
#include "tst_qvagentstate.moc"
