#include "ScheduleDates.h"

#include "platform/Clock.h"

namespace {

// HH:MM:00 local time on the date. In the repeated hour of an autumn change the first pass is
// taken, so that a run there is not due a second time an hour later. A wall time that does not
// exist (spring-forward gap) is read with the offset in force before the gap, which moves it
// forward by the gap's length (02:30 becomes 03:30).
QDateTime localAt(const QDate& date, const QTime& time)
{
    const int offsetBefore = QDateTime(date.addDays(-1), QTime(12, 0), Qt::LocalTime).offsetFromUtc();
    const int offsetAfter = QDateTime(date.addDays(1), QTime(12, 0), Qt::LocalTime).offsetFromUtc();
    QDateTime best;
    for (const int offset : { offsetBefore, offsetAfter }) {
        const QDateTime candidate = QDateTime(date, time, Qt::OffsetFromUTC, offset).toLocalTime();
        if (candidate.date() == date && candidate.time() == time && (!best.isValid() || candidate < best))
            best = candidate;
    }
    if (best.isValid())
        return best;
    return QDateTime(date, time, Qt::OffsetFromUTC, offsetBefore).toLocalTime();
}

} // namespace

int getNextWeekDayInCompactWeekDays(uint16_t mask, uint16_t today, uint8_t* todaySet)
{
    mask &= 0x7F;
    if (today > 6)
        return -1;
    if ((mask & (1u << today)) && todaySet)
        *todaySet = 1;
    for (int day = today + 1; day <= 6; ++day) {
        if (mask & (1u << day))
            return day;
    }
    for (int day = 0; day <= today; ++day) {
        if (mask & (1u << day))
            return day;
    }
    return -1;
}

QDateTime nextProcessDate(
    CBSchedIntervalType type, unsigned monthDay, int weekDayMask, unsigned HH, unsigned MM, unsigned minutes)
{
    return nextProcessDate(Clock::current().now(), type, monthDay, weekDayMask, HH, MM, minutes);
}

QDateTime nextProcessDate(const QDateTime& nowIn, CBSchedIntervalType type, unsigned monthDay,
    int weekDayMask, unsigned HH, unsigned MM, unsigned minutes)
{
    if (HH > 23 || MM > 59 || !nowIn.isValid())
        return {};
    const QDateTime now = nowIn.toLocalTime();
    const QDate today = now.date();
    const QTime at(static_cast<int>(HH), static_cast<int>(MM));
    const QDateTime candidate = localAt(today, at);

    switch (type) {
    case CBSchedIntervalDaily:
        return candidate >= now ? candidate : localAt(today.addDays(1), at);

    case CBSchedIntervalWeekDays: {
        const auto mask = static_cast<uint16_t>(weekDayMask & 0x7F);
        if (mask == 0)
            return {};
        const int t = today.dayOfWeek() - 1; // 0 Monday ... 6 Sunday
        uint8_t todaySet = 0;
        const int d = getNextWeekDayInCompactWeekDays(mask, static_cast<uint16_t>(t), &todaySet);
        if (todaySet && candidate > now)
            return candidate;
        return localAt(today.addDays(d > t ? d - t : d + 7 - t), at);
    }

    case CBSchedIntervalMonthly: {
        if (monthDay < 1 || monthDay > 31)
            return {};
        const QDate first(today.year(), today.month(), 1);
        const int day = static_cast<int>(monthDay);
        if (today.day() == day && candidate >= now)
            return candidate;
        // A day beyond the month's length falls into the first days of the month after it.
        if (day > today.day())
            return localAt(first.addDays(day - 1), at);
        return localAt(first.addMonths(1).addDays(day - 1), at);
    }

    case CBSchedIntervalMinutes:
        return now.addSecs(static_cast<qint64>(minutes) * 60);

    case CBSchedIntervalNone:
    default:
        return {};
    }
}

void scheduleNumbers(const QDateTime& now, int* W, int* D, int* H, int* M)
{
    const QDateTime local = now.toLocalTime();
    *W = local.date().dayOfWeek() % 7; // Qt counts Sunday as 7
    *D = local.date().day();
    *H = local.time().hour();
    *M = local.time().minute();
}

bool isScheduledRunDue(const QDateTime& now, bool scheduled, bool startIfLate, const QDateTime& nextDate,
    const std::function<QDateTime(const QDateTime&)>& nextFrom,
    const std::function<void(const QDateTime&)>& storeNext)
{
    if (!scheduled || !now.isValid())
        return false;
    QDateTime next = nextDate;
    if (!next.isValid()) {
        next = nextFrom(now);
        storeNext(next);
        if (!next.isValid())
            return false;
    }
    if (startIfLate)
        return now > next;
    const double minutes = double(next.msecsTo(now)) / 1000.0 / 60.0;
    if (minutes > 0 && minutes < 10)
        return true;
    if (minutes >= 10)
        storeNext(nextFrom(now));
    return false;
}
