// kv-test: labels=unit timeout=60
#include "platform/TimerScale.h"

#include <QtTest>

// KV_TIMER_SCALE: an integer from 1 to 100 divides the long intervals; anything else counts as 1.
class TestTimerScale : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void factor_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<int>("factor");
        QTest::addColumn<int>("tick"); // the 30 s tick
        QTest::newRow("unset") << QByteArray() << 1 << 30000;
        QTest::newRow("10") << QByteArray("10") << 10 << 3000;
        QTest::newRow("100") << QByteArray(" 100 ") << 100 << 300;
        QTest::newRow("0") << QByteArray("0") << 1 << 30000;
        QTest::newRow("101") << QByteArray("101") << 1 << 30000;
        QTest::newRow("negative") << QByteArray("-5") << 1 << 30000;
        QTest::newRow("fraction") << QByteArray("2.5") << 1 << 30000;
        QTest::newRow("text") << QByteArray("fast") << 1 << 30000;
    }
    void factor()
    {
        QFETCH(QByteArray, value);
        if (value.isNull())
            qunsetenv("KV_TIMER_SCALE");
        else
            qputenv("KV_TIMER_SCALE", value);
        TimerScale::reset();
        QTEST(TimerScale::factor(), "factor");
        QTEST(TimerScale::scaled(30000), "tick");
        // Read once: a later change of the variable does not count.
        qputenv("KV_TIMER_SCALE", "50");
        QTEST(TimerScale::factor(), "factor");
        QVERIFY(TimerScale::scaled(0) >= 1);
    }
};

QTEST_GUILESS_MAIN(TestTimerScale)
#include "tst_timerscale.moc"
