#include "projects/ScheduleFormRules.h"

#include "projects/ScheduleDates.h"

#include <QCoreApplication>

namespace ScheduleFormRules {

namespace {

QString loc(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

QString intervalTitle(int minutes)
{
    if (minutes % 60 == 0)
        return minutes == 60 ? loc("1 hour") : loc("%1 hours").arg(minutes / 60);
    return loc("%1 minutes").arg(minutes);
}

} // namespace

bool uses12HourClock(const QLocale& locale, const QTime& now)
{
    const QString text = locale.toString(now, QLocale::ShortFormat);
    return text.contains(QLatin1String("AM")) || text.contains(QLatin1String("PM"));
}

QList<Item> hourItems(bool twelveHour)
{
    QList<Item> items;
    const int count = twelveHour ? 12 : 24;
    for (int h = 0; h < count; ++h)
        items.append({ (twelveHour && h == 0) ? QStringLiteral("12") : QString::number(h), h });
    return items;
}

QList<Item> amPmItems(const QLocale& locale)
{
    const QString am = locale.amText().isEmpty() ? QStringLiteral("AM") : locale.amText();
    const QString pm = locale.pmText().isEmpty() ? QStringLiteral("PM") : locale.pmText();
    return { { am, 0 }, { pm, 1 } };
}

FormHour toForm(int hour24, bool twelveHour)
{
    const int h = qBound(0, hour24, 23);
    if (!twelveHour)
        return { h, false };
    return { h % 12, h >= 12 };
}

int fromForm(const FormHour& form, bool twelveHour)
{
    if (!twelveHour)
        return qBound(0, form.hourTag, 23);
    return qBound(0, form.hourTag, 11) + (form.pm ? 12 : 0);
}

QList<Item> intervalItems(int storedMinutes, int* selected)
{
    QList<Item> items;
    for (int m : { 15, 30, 60, 120, 180, 240 })
        items.append({ intervalTitle(m), m });
    int index = -1;
    for (int i = 0; i < items.size(); ++i)
        if (items.at(i).tag == storedMinutes)
            index = i;
    if (index < 0 && storedMinutes > 0) {
        items.append({ intervalTitle(storedMinutes), storedMinutes });
        index = int(items.size()) - 1;
    }
    if (selected)
        *selected = index < 0 ? 5 : index;
    return items;
}

QList<Item> typeItems()
{
    return { { loc("Time intervals"), 4 }, { loc("Daily"), 1 }, { loc("Week Days"), 2 },
        { loc("Monthly"), 3 } };
}

QList<Item> minuteItems()
{
    QList<Item> items;
    for (int m = 0; m < 60; ++m)
        items.append({ QStringLiteral("%1").arg(m, 2, 10, QLatin1Char('0')), m });
    return items;
}

QList<Item> dayItems(bool monthDays)
{
    QList<Item> items;
    if (monthDays) {
        for (int d = 1; d <= 31; ++d)
            items.append({ QString::number(d), d });
        return items;
    }
    static const char* const names[]
        = { "Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday" };
    for (int d = 0; d < 7; ++d)
        items.append({ loc(names[d]), d });
    return items;
}

ScheduleForm stored(ScheduleForm form)
{
    form.weekDays &= 0x7f;
    if (form.type == CBSchedIntervalWeekDays && form.weekDays == 0)
        form.scheduled = false;
    return form;
}

bool dayEnabled(const ScheduleForm& form)
{
    return form.scheduled && form.type != CBSchedIntervalDaily;
}

bool startIfLateEnabled(const ScheduleForm& form)
{
    return form.scheduled && form.type != CBSchedIntervalMinutes;
}

bool startIfLateShown(const ScheduleForm& form, bool stored)
{
    return startIfLateEnabled(form) ? stored : true;
}

QDateTime nextDate(const ScheduleForm& form, const QDateTime& now)
{
    if (!form.scheduled)
        return QDateTime();
    return nextProcessDate(now, CBSchedIntervalType(form.type), unsigned(qMax(0, form.monthDay)),
        form.weekDays, unsigned(qMax(0, form.hour)), unsigned(qMax(0, form.minute)),
        unsigned(qMax(0, form.interval)));
}

} // namespace ScheduleFormRules
