// kv-test: labels=unit
// kv-test: env=TZ=Europe/Berlin
#include "ScriptedClock.h"
#include "projects/ScheduleDates.h"

#include <QtTest>

namespace {

QDateTime local(const char* text)
{
    return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate);
}

// The local time with the offset it takes, "2024-03-31T18:30:00+02:00".
QString withOffset(const QDateTime& dt)
{
    return dt.toOffsetFromUtc(dt.offsetFromUtc()).toString(Qt::ISODate);
}

} // namespace

class TestScheduleDates : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        // The daylight-saving rows mean nothing in another zone.
        QCOMPARE(local("2024-01-15T12:00:00").offsetFromUtc(), 3600);
        QCOMPARE(local("2024-07-15T12:00:00").offsetFromUtc(), 7200);
    }

    void next_data()
    {
        QTest::addColumn<QString>("now");
        QTest::addColumn<int>("type");
        QTest::addColumn<uint>("monthDay");
        QTest::addColumn<int>("mask");
        QTest::addColumn<uint>("HH");
        QTest::addColumn<uint>("MM");
        QTest::addColumn<uint>("minutes");
        QTest::addColumn<QString>("expected"); // ISO with offset; empty = none
        auto row = [](const char* name, const char* now, int type, uint monthDay, int mask, uint HH, uint MM,
                       uint minutes, const char* expected) {
            QTest::newRow(name) << QString::fromLatin1(now) << type << monthDay << mask << HH << MM << minutes
                                << QString::fromLatin1(expected);
        };
        // 2024-06-10 is a Monday.
        row("daily before", "2024-06-10T18:29:59", 1, 0, 0, 18, 30, 0, "2024-06-10T18:30:00+02:00");
        row("daily at the time", "2024-06-10T18:30:00", 1, 0, 0, 18, 30, 0, "2024-06-10T18:30:00+02:00");
        row("daily after", "2024-06-10T18:30:01", 1, 0, 0, 18, 30, 0, "2024-06-11T18:30:00+02:00");
        row("Monday only, after", "2024-06-10T19:00:00", 2, 0, 1, 18, 30, 0, "2024-06-17T18:30:00+02:00");
        row("Monday only, before", "2024-06-10T10:00:00", 2, 0, 1, 18, 30, 0, "2024-06-10T18:30:00+02:00");
        row("Sunday only, after", "2024-06-16T19:00:00", 2, 0, 64, 18, 30, 0, "2024-06-23T18:30:00+02:00");
        row("mask 31 Friday evening", "2024-06-14T19:00:00", 2, 0, 31, 18, 30, 0,
            "2024-06-17T18:30:00+02:00");
        row("mask 128 none", "2024-06-10T10:00:00", 2, 0, 128, 18, 30, 0, "");
        row("bits above 6 ignored", "2024-06-16T19:00:00", 2, 0, 128 | 1, 18, 30, 0,
            "2024-06-17T18:30:00+02:00");
        row("mask 0 none", "2024-06-10T10:00:00", 2, 0, 0, 18, 30, 0, "");
        row("monthly 1st before", "2024-06-01T10:00:00", 3, 1, 0, 18, 30, 0, "2024-06-01T18:30:00+02:00");
        row("monthly 1st after", "2024-06-01T19:00:00", 3, 1, 0, 18, 30, 0, "2024-07-01T18:30:00+02:00");
        row("monthly 20th on the 5th", "2024-06-05T10:00:00", 3, 20, 0, 18, 30, 0,
            "2024-06-20T18:30:00+02:00");
        row("31st in April", "2024-04-10T10:00:00", 3, 31, 0, 18, 30, 0, "2024-05-01T18:30:00+02:00");
        row("31st after the time in January", "2024-01-31T19:00:00", 3, 31, 0, 18, 30, 0,
            "2024-03-02T18:30:00+01:00");
        row("31st in December", "2024-12-31T19:00:00", 3, 31, 0, 18, 30, 0, "2025-01-31T18:30:00+01:00");
        row("month day 0 none", "2024-06-30T19:00:00", 3, 0, 0, 18, 30, 0, "");
        row("month day 32 none", "2024-06-05T10:00:00", 3, 32, 0, 18, 30, 0, "");
        row("HH 24 none", "2024-06-10T10:00:00", 1, 0, 0, 24, 0, 0, "");
        row("MM 60 none", "2024-06-10T10:00:00", 1, 0, 0, 18, 60, 0, "");
        row("type 0 none", "2024-06-10T10:00:00", 0, 0, 0, 18, 30, 0, "");
        row("type 5 none", "2024-06-10T10:00:00", 5, 0, 0, 18, 30, 0, "");
        row("minutes 0 is now", "2024-06-10T10:00:07", 4, 0, 0, 0, 0, 0, "2024-06-10T10:00:07+02:00");
        row("minutes across spring forward", "2024-03-31T01:30:00", 4, 0, 0, 0, 0, 90,
            "2024-03-31T04:00:00+02:00");
        // Daylight-saving changes: calendar days keep the hour.
        row("daily into summer time", "2024-03-30T19:00:00", 1, 0, 0, 18, 30, 0, "2024-03-31T18:30:00+02:00");
        row("daily into winter time", "2024-10-26T19:00:00", 1, 0, 0, 18, 30, 0, "2024-10-27T18:30:00+01:00");
        row("weekly into summer time", "2024-03-30T19:00:00", 2, 0, 32, 18, 30, 0,
            "2024-04-06T18:30:00+02:00");
        row("weekly into winter time", "2024-10-26T19:00:00", 2, 0, 32, 18, 30, 0,
            "2024-11-02T18:30:00+01:00");
        row("daily in the gap", "2024-03-31T01:00:00", 1, 0, 0, 2, 30, 0, "2024-03-31T03:30:00+02:00");
        row("weekly onto the gap", "2024-03-30T10:00:00", 2, 0, 64, 2, 30, 0, "2024-03-31T03:30:00+02:00");
        // In the repeated hour the first pass counts; after a run there the second pass is not due.
        row("daily in the repeated hour", "2024-10-27T01:00:00", 1, 0, 0, 2, 30, 0,
            "2024-10-27T02:30:00+02:00");
        row("daily after the repeated hour's first pass", "2024-10-27T02:31:00+02:00", 1, 0, 0, 2, 30, 0,
            "2024-10-28T02:30:00+01:00");
    }

    void next()
    {
        QFETCH(QString, now);
        QFETCH(int, type);
        QFETCH(uint, monthDay);
        QFETCH(int, mask);
        QFETCH(uint, HH);
        QFETCH(uint, MM);
        QFETCH(uint, minutes);
        QFETCH(QString, expected);
        const QDateTime at = QDateTime::fromString(now, Qt::ISODate);
        QVERIFY(at.isValid());
        const QDateTime got
            = nextProcessDate(at, static_cast<CBSchedIntervalType>(type), monthDay, mask, HH, MM, minutes);
        if (expected.isEmpty()) {
            QVERIFY2(got.isNull(), qPrintable(withOffset(got)));
            return;
        }
        QVERIFY(got.isValid());
        QCOMPARE(got.timeSpec(), Qt::LocalTime);
        QCOMPARE(withOffset(got), expected);
        QVERIFY(got >= at); // never in the past
        // The clock-driven form gives the same answer.
        ScriptedClock clock(at);
        QCOMPARE(
            nextProcessDate(static_cast<CBSchedIntervalType>(type), monthDay, mask, HH, MM, minutes), got);
    }

    void nextWeekDay_data()
    {
        QTest::addColumn<int>("mask");
        QTest::addColumn<int>("today");
        QTest::addColumn<int>("next");
        QTest::addColumn<bool>("todaySet");
        QTest::newRow("later this week") << 0b0010100 << 2 << 4 << true;
        QTest::newRow("wraps") << 0b0000101 << 4 << 0 << false;
        QTest::newRow("only today: same day next week") << 0b0001000 << 3 << 3 << true;
        QTest::newRow("Sunday to Monday") << 0b0000001 << 6 << 0 << false;
        QTest::newRow("none") << 0 << 1 << -1 << false;
        QTest::newRow("bit 7 only") << 0b10000000 << 1 << -1 << false;
    }

    void nextWeekDay()
    {
        QFETCH(int, mask);
        QFETCH(int, today);
        QFETCH(int, next);
        QFETCH(bool, todaySet);
        uint8_t set = 0;
        QCOMPARE(
            getNextWeekDayInCompactWeekDays(static_cast<uint16_t>(mask), static_cast<uint16_t>(today), &set),
            next);
        QCOMPARE(set != 0, todaySet);
        // Never cleared by the function.
        set = 1;
        getNextWeekDayInCompactWeekDays(static_cast<uint16_t>(mask), static_cast<uint16_t>(today), &set);
        QCOMPARE(set, uint8_t(1));
    }
};

QTEST_GUILESS_MAIN(TestScheduleDates)
#include "tst_scheduledates.moc"
