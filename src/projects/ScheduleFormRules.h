#pragma once

#include <QDateTime>
#include <QList>
#include <QLocale>
#include <QString>
#include <QStringList>

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

} // namespace ScheduleFormRules
