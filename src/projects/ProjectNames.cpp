#include "projects/ProjectNames.h"

#include "platform/NameSanitizer.h"

namespace ProjectNames {

QString fromInput(const QString& text)
{
    QString name = text;
    name.replace(QLatin1Char('/'), QLatin1Char('|'));
    bool refused = false;
    const QString clean = NameSanitizer::sanitize(name, &refused);
    return refused ? QString() : clean;
}

QString makeUnique(const QString& base, const std::function<bool(const QString&)>& isUnique)
{
    if (isUnique(base))
        return base;
    for (int i = 1;; ++i) {
        const QString candidate = base + QString::number(i);
        if (isUnique(candidate))
            return candidate;
    }
}

QString trimStatus(const QString& text)
{
    if (text.isNull())
        return QStringLiteral("");
    if (text.endsWith(QLatin1Char('.')) && !text.endsWith(QLatin1String("..")))
        return text.chopped(1);
    return text;
}

} // namespace ProjectNames

AgentBitsResult agentBitsAfterProperties(const AgentBitsInput& in)
{
    constexpr int ScheduleOn = 1, Suspended = 2, ShowMenu = 4, AgentNeeded = 8;
    AgentBitsResult r { in.bits, false };
    // The agent state's own rules: bit 8 follows bits 1 and 4, a suspension needs bit 1.
    auto on = [&r](int b) {
        r.bits |= b;
        if (r.bits & (ScheduleOn | ShowMenu))
            r.bits |= AgentNeeded;
    };
    auto off = [&r](int b) {
        r.bits &= ~b;
        if (!(r.bits & (ScheduleOn | ShowMenu)))
            r.bits &= ~AgentNeeded;
        if (!(r.bits & ScheduleOn))
            r.bits &= ~Suspended;
    };
    const bool needed = in.bits & AgentNeeded;
    if (in.wasScheduled || (in.isScheduled && needed) || (!in.isScheduled && !in.processOnMount)
        || (!in.isScheduled && in.processOnMount && needed))
        return r;
    if (in.userWantsAgent)
        on(ScheduleOn);
    else
        off(ScheduleOn | ShowMenu);
    if (r.bits & AgentNeeded) {
        r.setAutostart = true;
        if (in.agentAutostart)
            on(ScheduleOn);
        else
            off(ScheduleOn);
    }
    return r;
}
