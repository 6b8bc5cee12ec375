#pragma once

#include <QDateTime>
#include <QList>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <QTime>

// The rules of the schedule controls the settings sheets share (snapshot, archive,
// synchronization and clone): the clock the locale uses, the hour, AM/PM and interval items, and
// the hour a form stores.
namespace ScheduleFormRules {

struct Item
{
    QString title;
    int tag = 0;
};

// True when the locale's short time form of `now` holds "AM" or "PM".
bool uses12HourClock(const QLocale& locale, const QTime& now = QTime::currentTime());
// "0".."23", or "0".."11" on a 12-hour clock with the item of tag 0 titled "12".
QList<Item> hourItems(bool twelveHour);
// The locale's AM and PM texts, "AM"/"PM" when it has none (tags 0, 1).
QList<Item> amPmItems(const QLocale& locale);

// An hour of the day as the form shows it: the hour item's tag and, on a 12-hour clock, PM.
struct FormHour
{
    int hourTag = 0;
    bool pm = false;
};
FormHour toForm(int hour24, bool twelveHour);
int fromForm(const FormHour& form, bool twelveHour);

// "15 minutes" 15 ... "4 hours" 240; a stored interval not in the list is added as an extra
// item (so OK keeps it). *selected is the index of the item to select.
QList<Item> intervalItems(int storedMinutes, int* selected);

// Schedule types in menu order: 4 "Time intervals", 1 "Daily", 2 "Week Days", 3 "Monthly".
QList<Item> typeItems();
// "00".."59" (tags 0..59).
QList<Item> minuteItems();
// Month days "1".."31" (tags 1..31), or the week days "Sunday".."Saturday" (tags 0..6).
QList<Item> dayItems(bool monthDays);

// What a schedule form holds, in the project's terms: the hour is 0..23, weekDays the compact
// mask (bit 0 Monday ... bit 6 Sunday), interval in minutes.
struct ScheduleForm
{
    bool scheduled = false;
    int type = 2;
    int monthDay = 1;
    int weekDays = 31;
    int hour = 18;
    int minute = 30;
    int interval = 240;
    bool operator==(const ScheduleForm&) const = default;
};
// The form as it is stored: a week-day schedule with no day chosen is switched off.
ScheduleForm stored(ScheduleForm form);
// Which controls a form enables: everything follows the schedule check box, the day pop-up only
// for types other than daily.
bool dayEnabled(const ScheduleForm& form);
// Start-if-late applies only to scheduled, non-interval types; a disabled check box shows on.
bool startIfLateEnabled(const ScheduleForm& form);
bool startIfLateShown(const ScheduleForm& form, bool stored);
// The next run of a stored form from now (null when not scheduled or nothing is due).
QDateTime nextDate(const ScheduleForm& form, const QDateTime& now);

} // namespace ScheduleFormRules
