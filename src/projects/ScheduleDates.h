#pragma once

#include <QDateTime>
#include <cstdint>
#include <functional>

// How a project is scheduled; stored in the project files as its number.
enum CBSchedIntervalType : int
{
    CBSchedIntervalNone = 0, // not scheduled
    CBSchedIntervalDaily = 1, // every day at HH:MM
    CBSchedIntervalWeekDays = 2, // on the chosen week days at HH:MM
    CBSchedIntervalMonthly = 3, // every month on a day of the month at HH:MM
    CBSchedIntervalMinutes = 4, // every N minutes from now
};

// The next chosen week day after today in a compact week-day mask (bit 0 Monday ... bit 6 Sunday;
// higher bits are ignored), wrapping to the next week with today itself last; -1 when no day is
// chosen. Sets *todaySet to 1 when today's bit is set and never clears it.
int getNextWeekDayInCompactWeekDays(uint16_t mask, uint16_t today, uint8_t* todaySet);

// The date of a project's next run, in local time, or a null QDateTime when there is none (not
// scheduled, an hour or minute out of range, no week day chosen, a month day outside 1-31, an
// unknown type). Daily and weekly dates move by calendar days, so the hour stays across a
// daylight-saving change; a time that falls into the spring-forward gap moves forward by the gap
// (02:30 becomes 03:30). A month day beyond the month's length falls into the next month.
QDateTime nextProcessDate(
    CBSchedIntervalType type, unsigned monthDay, int weekDayMask, unsigned HH, unsigned MM, unsigned minutes);
// The same, computed from the given moment instead of the clock.
QDateTime nextProcessDate(const QDateTime& now, CBSchedIntervalType type, unsigned monthDay, int weekDayMask,
    unsigned HH, unsigned MM, unsigned minutes);

// The week day (0 Sunday), day of month, hour and minute of a moment in local time, as the
// schedule passes read them ("%w %d %H %M").
void scheduleNumbers(const QDateTime& now, int* W, int* D, int* H, int* M);

// The schedule due test every project kind uses. Not scheduled or no moment: not due. A missing
// next date is computed from now (nextFrom) and stored (storeNext) first. With start-if-late a
// project is due any time after its next date; without, only within the ten minutes after it,
// and a project ten or more minutes late gets a new next date from now and is skipped.
bool isScheduledRunDue(const QDateTime& now, bool scheduled, bool startIfLate, const QDateTime& nextDate,
    const std::function<QDateTime(const QDateTime&)>& nextFrom,
    const std::function<void(const QDateTime&)>& storeNext);
