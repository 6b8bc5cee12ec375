#pragma once

#include "projects/ScheduleFormRules.h"

#include <QLocale>
#include <QWidget>

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QWidget;

// The schedule controls of the settings sheets (snapshot, archive, synchronization, clone): the
// on/off check box, the type pop-up, and per type the interval, the month day, the seven
// week-day segments and the time (hour, minute and, on a 12-hour clock, AM/PM). The clock the
// locale uses is read once, when the controls are made. The form goes in and out as a
// ScheduleForm; the owner reads form() on OK.
class ScheduleControls : public QWidget
{
    Q_OBJECT
public:
    explicit ScheduleControls(QWidget* parent = nullptr, const QLocale& locale = QLocale());

    void setForm(const ScheduleFormRules::ScheduleForm& form);
    // The form as the controls show it (not yet normalised: see ScheduleFormRules::stored).
    ScheduleFormRules::ScheduleForm form() const;

    bool isTwelveHour() const { return m_twelveHour; }
    QCheckBox* useScheduledCheck() const { return m_use; }
    QComboBox* typePopup() const { return m_type; }
    QComboBox* dayPopup() const { return m_day; }
    QComboBox* hourPopup() const { return m_hour; }
    QComboBox* minutePopup() const { return m_minute; }
    QComboBox* amPmPopup() const { return m_amPm; }
    QComboBox* intervalPopup() const { return m_interval; }
    QAbstractButton* weekDaySegment(int segment) const;

Q_SIGNALS:
    // The check box or the type changed (the owner updates start-if-late).
    void scheduleChanged();

private:
    void selectSchedule(int type);
    void enableControls();
    int weekDaySegments() const;
    void setWeekDaySegments(int segments);

    bool m_twelveHour = false;
    ScheduleFormRules::ScheduleForm m_form;
    QCheckBox* m_use = nullptr;
    QComboBox* m_type = nullptr;
    QWidget* m_dayBox = nullptr;
    QComboBox* m_day = nullptr;
    QWidget* m_weekDaysBox = nullptr;
    QButtonGroup* m_weekDays = nullptr;
    QWidget* m_timeBox = nullptr;
    QComboBox* m_hour = nullptr;
    QComboBox* m_minute = nullptr;
    QComboBox* m_amPm = nullptr;
    QWidget* m_intervalBox = nullptr;
    QComboBox* m_interval = nullptr;
};
