#include "shell/dialogs/ScheduleControls.h"

#include "projects/ScheduleDates.h"
#include "utilities/ICommon.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

using namespace ScheduleFormRules;

namespace {

QString loc(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

void fill(QComboBox* box, const QList<Item>& items)
{
    box->clear();
    for (const Item& item : items)
        box->addItem(item.title, item.tag);
}

bool selectTag(QComboBox* box, int tag)
{
    const int index = box->findData(tag);
    if (index >= 0)
        box->setCurrentIndex(index);
    return index >= 0;
}

int tagOf(const QComboBox* box)
{
    return box->currentData().toInt();
}

QWidget* row(QWidget* parent, const QString& label, std::initializer_list<QWidget*> widgets)
{
    auto* box = new QWidget(parent);
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    if (!label.isEmpty())
        layout->addWidget(new QLabel(label, box));
    for (QWidget* w : widgets) {
        w->setParent(box);
        layout->addWidget(w);
    }
    layout->addStretch(1);
    return box;
}

} // namespace

ScheduleControls::ScheduleControls(QWidget* parent, const QLocale& locale)
    : QWidget(parent)
    , m_twelveHour(uses12HourClock(locale))
{
    m_use = new QCheckBox(loc("Scheduled"), this);
    m_use->setToolTip(loc("Enable/Disable scheduling for backup"));
    m_type = new QComboBox(this);
    m_type->setToolTip(loc("Choose time interval for regular backup"));
    fill(m_type, typeItems());

    m_interval = new QComboBox;
    m_intervalBox = row(this, loc("Every:"), { m_interval });

    m_day = new QComboBox;
    m_dayBox = row(this, loc("On the day:"), { m_day });
    m_dayBox->setToolTip(loc("Select the day when backup should process"));

    m_weekDaysBox = new QWidget(this);
    auto* segments = new QHBoxLayout(m_weekDaysBox);
    segments->setContentsMargins(0, 0, 0, 0);
    segments->setSpacing(0);
    m_weekDays = new QButtonGroup(this);
    m_weekDays->setExclusive(false);
    const QStringList names = ICommon::fillWeekDayNamesToSC();
    for (int s = 0; s < 7; ++s) {
        auto* b = new QToolButton(m_weekDaysBox);
        b->setCheckable(true);
        b->setText(names.value(s));
        b->setMinimumWidth(34);
        // A chosen day must read as chosen in every style and palette.
        b->setStyleSheet(QStringLiteral("QToolButton:checked { background: palette(highlight); "
                                        "color: palette(highlighted-text); }"));
        m_weekDays->addButton(b, s);
        segments->addWidget(b);
    }
    segments->addStretch(1);

    m_hour = new QComboBox;
    m_minute = new QComboBox;
    m_amPm = new QComboBox;
    fill(m_hour, hourItems(m_twelveHour));
    fill(m_minute, minuteItems());
    fill(m_amPm, amPmItems(locale));
    m_timeBox = row(this, loc("At:"), { m_hour, new QLabel(QStringLiteral(":")), m_minute, m_amPm });
    m_timeBox->setToolTip(loc("Select the time when backup should process"));
    m_amPm->setVisible(m_twelveHour);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(row(this, QString(), { m_use, m_type }));
    layout->addWidget(m_intervalBox);
    layout->addWidget(m_dayBox);
    layout->addWidget(m_weekDaysBox);
    layout->addWidget(m_timeBox);

    connect(m_use, &QCheckBox::toggled, this, [this] {
        enableControls();
        Q_EMIT scheduleChanged();
    });
    connect(m_type, qOverload<int>(&QComboBox::activated), this, [this] {
        m_form.weekDays = ICommon::getCompactWeekDaysFromSC(quint8(weekDaySegments()));
        selectSchedule(tagOf(m_type));
        enableControls();
        Q_EMIT scheduleChanged();
    });
    setForm(m_form);
}

QAbstractButton* ScheduleControls::weekDaySegment(int segment) const
{
    return m_weekDays->button(segment);
}

int ScheduleControls::weekDaySegments() const
{
    int segments = 0;
    for (int s = 0; s < 7; ++s)
        if (m_weekDays->button(s)->isChecked())
            segments |= 1 << s;
    return segments;
}

void ScheduleControls::setWeekDaySegments(int segments)
{
    for (int s = 0; s < 7; ++s)
        m_weekDays->button(s)->setChecked(segments & (1 << s));
}

void ScheduleControls::setForm(const ScheduleForm& form)
{
    m_form = form;
    m_use->setChecked(form.scheduled);
    selectSchedule(form.type);
    const FormHour h = toForm(form.hour, m_twelveHour);
    selectTag(m_hour, h.hourTag);
    selectTag(m_amPm, h.pm ? 1 : 0);
    selectTag(m_minute, qBound(0, form.minute, 59));
    enableControls();
}

void ScheduleControls::selectSchedule(int type)
{
    if (!selectTag(m_type, type)) {
        type = CBSchedIntervalWeekDays;
        selectTag(m_type, type);
    }
    m_intervalBox->setVisible(type == CBSchedIntervalMinutes);
    m_dayBox->setVisible(type == CBSchedIntervalMonthly);
    m_weekDaysBox->setVisible(type == CBSchedIntervalWeekDays);
    m_timeBox->setVisible(type != CBSchedIntervalMinutes);
    if (type == CBSchedIntervalWeekDays)
        setWeekDaySegments(ICommon::setCompactWeekDaysToSC(quint8(m_form.weekDays & 0x7f)));
    // The day pop-up holds month days for a monthly schedule and week days otherwise; the
    // form tells them apart by the item count.
    fill(m_day, dayItems(type == CBSchedIntervalMonthly));
    if (type == CBSchedIntervalMonthly && !selectTag(m_day, m_form.monthDay))
        m_day->setCurrentIndex(0);
    int selected = 0;
    fill(m_interval, intervalItems(m_form.interval, &selected));
    m_interval->setCurrentIndex(selected);
}

void ScheduleControls::enableControls()
{
    const bool on = m_use->isChecked();
    for (QWidget* w :
        { static_cast<QWidget*>(m_type), static_cast<QWidget*>(m_hour), static_cast<QWidget*>(m_minute),
            static_cast<QWidget*>(m_amPm), static_cast<QWidget*>(m_interval), m_weekDaysBox })
        w->setEnabled(on);
    ScheduleForm f;
    f.scheduled = on;
    f.type = tagOf(m_type);
    m_day->setEnabled(dayEnabled(f));
}

ScheduleForm ScheduleControls::form() const
{
    ScheduleForm f = m_form;
    f.scheduled = m_use->isChecked();
    f.type = tagOf(m_type);
    if (m_day->count() > 7)
        f.monthDay = tagOf(m_day);
    f.hour = fromForm({ tagOf(m_hour), m_twelveHour && tagOf(m_amPm) == 1 }, m_twelveHour);
    f.minute = tagOf(m_minute);
    f.interval = tagOf(m_interval);
    if (f.type == CBSchedIntervalWeekDays)
        f.weekDays = ICommon::getCompactWeekDaysFromSC(quint8(weekDaySegments()));
    return f;
}
