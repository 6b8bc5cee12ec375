#include "projects/QVAgentState.h"

#include "platform/Clock.h"
#include "utilities/ICommon.h"

#include <QTimeZone>
#include <cmath>
#include <cstdlib>

namespace {

// 1 January 2001 00:00:00 UTC in Unix seconds: the origin of the stamps both programs exchange.
constexpr double kReferenceDateOffset = 978307200.0;

std::function<void()>& changeHook()
{
    static std::function<void()> hook;
    return hook;
}

} // namespace

QVAgentState::QVAgentState()
    : _modifyTimeInterval(nowInterval())
{ }

double QVAgentState::nowInterval()
{
    return double(Clock::current().now().toMSecsSinceEpoch()) / 1000.0 - kReferenceDateOffset;
}

void QVAgentState::setChangeHook(std::function<void()> hook)
{
    changeHook() = std::move(hook);
}

void QVAgentState::stamp()
{
    _modifyTimeInterval = nowInterval();
}

void QVAgentState::stateChanged()
{
    if (const auto& hook = changeHook())
        hook();
}

void QVAgentState::setOn(int bits)
{
    _value |= bits;
    if (_value & (ScheduleOn | ShowStatusMenu))
        _value |= AgentNeeded;
    stamp();
    stateChanged();
}

void QVAgentState::setOff(int bits)
{
    _value &= ~bits;
    if (!(_value & (ScheduleOn | ShowStatusMenu)))
        _value &= ~AgentNeeded;
    if (!(_value & ScheduleOn))
        _value &= ~Suspended;
    if (!(_value & Suspended))
        _scheduleResumeDate = QDateTime();
    stamp();
    stateChanged();
}

void QVAgentState::setScheduleResumeDate(const QDateTime& date)
{
    _scheduleResumeDate = date;
    if (_scheduleResumeDate.isValid() && _scheduleResumeDate < Clock::current().now())
        _scheduleResumeDate = QDateTime();
    if (_scheduleResumeDate.isValid()) {
        setOn(ScheduleOn);
        setOn(Suspended);
    } else {
        setOff(Suspended);
    }
}

bool QVAgentState::isTimeToResumeSchedile()
{
    if (_scheduleResumeDate.isValid() && _scheduleResumeDate > Clock::current().now())
        return false;
    _scheduleResumeDate = QDateTime();
    setOff(Suspended);
    return true;
}

void QVAgentState::set(int bits, double modifyInterval, const QDateTime& scheduleResumeDate)
{
    _value = bits;
    _modifyTimeInterval = (modifyInterval < 0 || std::isnan(modifyInterval)) ? 0 : modifyInterval;
    _scheduleResumeDate = scheduleResumeDate;
    stateChanged();
}

QString QVAgentState::resumeDateText(const QDateTime& date)
{
    if (!date.isValid())
        return QString();
    const int offset = date.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return date.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")) + QLatin1Char(offset < 0 ? '-' : '+')
        + QStringLiteral("%1%2")
              .arg(minutes / 60, 2, 10, QLatin1Char('0'))
              .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QDateTime QVAgentState::resumeDateFromText(const QString& text)
{
    if (text.isEmpty())
        return QDateTime();
    const QDateTime date = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd HH:mm:ss t"));
    return date.isValid() ? date.toLocalTime() : QDateTime();
}

QVariantMap QVAgentState::toPrefsDictionary() const
{
    QVariantMap dict;
    dict.insert(QStringLiteral("State"), qint64(_value));
    dict.insert(QStringLiteral("ModifyInterval"), _modifyTimeInterval);
    if (_scheduleResumeDate.isValid())
        dict.insert(QStringLiteral("ScheduleResumeDate"), resumeDateText(_scheduleResumeDate));
    return dict;
}

bool QVAgentState::setFromPrefsValue(const QVariant& value)
{
    auto isNumber = [](const QVariant& v) {
        switch (v.typeId()) {
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Double:
        case QMetaType::Bool:
            return true;
        default:
            return false;
        }
    };
    if (isNumber(value)) {
        set(value.toInt(), 0.0, _scheduleResumeDate);
        return true;
    }
    if (value.typeId() != QMetaType::QVariantMap)
        return false;
    const QVariantMap dict = value.toMap();
    const QVariant state = dict.value(QStringLiteral("State"));
    if (!isNumber(state))
        return false;
    const QVariant interval = dict.value(QStringLiteral("ModifyInterval"));
    const QVariant date = dict.value(QStringLiteral("ScheduleResumeDate"));
    set(state.toInt(), isNumber(interval) ? interval.toDouble() : 0.0,
        date.typeId() == QMetaType::QString ? resumeDateFromText(date.toString()) : QDateTime());
    return true;
}

bool QVAgentState::saveToMainPrefs() const
{
    return ICommon::saveMainPrefValue(toPrefsDictionary(), QStringLiteral("AgentState"));
}

bool QVAgentState::loadFromMainPrefs()
{
    return setFromPrefsValue(ICommon::loadMainPrefValueForKey(QStringLiteral("AgentState")));
}
