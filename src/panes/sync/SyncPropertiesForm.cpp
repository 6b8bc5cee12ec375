#include "panes/sync/SyncPropertiesForm.h"

#include "platform/NameCodec.h"
#include "projects/ILocation.h"
#include "projects/ProjectNames.h"
#include "projects/ScheduleDates.h"
#include "sync/ISynchron.h"

#include <QFileInfo>

namespace SyncPropertiesForm {

namespace {

Schedule scheduleFrom(ISynchron& P)
{
    Schedule s;
    s.scheduled = P.isScheduled();
    s.type = P.getScheduleIntervalType();
    s.weekDayMask = P.getScheduleWeekDay();
    s.monthDay = qBound(1, P.getScheduleMonthDay(), 31);
    s.hour = qBound(0, P.getScheduleTimeHH(), 23);
    s.minute = qBound(0, P.getScheduleTimeMM(), 59);
    s.interval = P.getScheduleTimeInterval();
    s.startIfLate = P.isScheduleProcessStartIfLate();
    return s;
}

void storeSchedule(const Schedule& in, ISynchron& P, const QDateTime& now)
{
    Schedule s = in;
    // A week-days schedule with no day set would never run: it is switched off.
    if (s.scheduled && s.type == 2 && (s.weekDayMask & 0x7f) == 0)
        s.scheduled = false;
    P.setScheduled(s.scheduled);
    P.setScheduleIntervalType(s.type);
    P.setScheduleWeekDay(qint16(s.weekDayMask & 0x7f));
    P.setScheduleMonthDay(qint16(s.monthDay));
    P.setScheduleTimeHHMM(qint16(s.hour), qint16(s.minute));
    P.setScheduleTimeInterval(qint16(s.interval));
    P.setScheduleProcessStartIfLate(startIfLateBox(s.scheduled, s.type, s.startIfLate).checked);
    P.setNextProcessDate(s.scheduled ? nextProcessDate(now, CBSchedIntervalType(s.type), unsigned(s.monthDay),
                                           s.weekDayMask, unsigned(s.hour), unsigned(s.minute), unsigned(s.interval))
                                     : QDateTime());
}

QString storedName(const QString& text, ISynchron& P, const std::function<bool(const QString&)>& isUnique)
{
    const QString name = text.trimmed().isEmpty() ? QString() : ProjectNames::fromInput(text);
    if (name.isNull() || name == P.name())
        return P.name();
    return ProjectNames::makeUnique(name, isUnique);
}

} // namespace

StartIfLateBox startIfLateBox(bool scheduled, int type, bool stored)
{
    StartIfLateBox b;
    b.enabled = scheduled && type != 4;
    b.checked = b.enabled ? stored : true;
    return b;
}

SyncForm fromSynchron(ISynchron& P)
{
    SyncForm f;
    f.name = P.name();
    f.noDelete = !P.isOptionDelete();
    f.considerModDate = P.isOptionConsiderModDate();
    f.deleteAndDateEnabled = P.direction() != 2;
    f.excludeInvisible = P.isExcludeInvisible();
    f.excludeFinderData = P.isExcludeFinderData();
    f.excludeApplications = P.isExcludeApplications();
    f.excludeAliases = P.isExcludeAliases();
    f.excludeByPattern = P.isExcludeByPattern();
    f.pattern = P.getExcludePattern();
    f.extendedAttrs = P.extendedAttrsProcessType();
    f.schedule = scheduleFrom(P);
    f.processOnMountEnabled = P.isSynchronProcessOnMountEnabled();
    f.processOnMount = f.processOnMountEnabled && P.isProcessOnMount();
    f.color = P.color();
    f.admin = P.isUseAdminPrivilegesForPass(-1);
    AutomountInput a;
    auto remote = [](const std::shared_ptr<ILocation>& l) { return l && (l->getDeviceType() == 6 || l->isBDI()); };
    const auto L1 = P.firstLocation(), L2 = P.secondLocation();
    a.firstRemote = remote(L1);
    a.secondRemote = remote(L2);
    a.firstAutomount = L1 && L1->isAutomount();
    a.secondAutomount = L2 && L2->isAutomount();
    a.fullAutomount = P.isFullAutomount();
    a.secondActive = L2 && L2->isActive();
    a.imageNotMounted = (L1 && L1->isBDI() && !L1->isBDIActive()) || (L2 && L2->isBDI() && !L2->isBDIActive());
    const AutomountControls c = automountControls(a);
    f.automountEnabled = c.boxEnabled;
    f.automount = c.boxChecked;
    f.mountButtonEnabled = c.mountEnabled;
    return f;
}

void store(const SyncForm& f, ISynchron& P, const std::function<bool(const QString&)>& isUnique, const QDateTime& now)
{
    P.setName(storedName(f.name, P, isUnique));
    if (f.deleteAndDateEnabled) {
        P.setOptionDelete(!f.noDelete);
        P.setOptionConsiderModDate(f.considerModDate);
    }
    if (f.color.isValid())
        P.setColor(f.color);
    P.setExcludeInvisible(f.excludeInvisible);
    P.setExcludeFinderData(f.excludeFinderData);
    P.setExcludeApplications(f.excludeApplications);
    P.setExcludeAliases(f.excludeAliases);
    P.setExcludeByPattern(f.excludeByPattern);
    P.setExcludePattern(f.excludeByPattern ? f.pattern : QString());
    P.setExtendedAttrsProcessType(f.extendedAttrs);
    storeSchedule(f.schedule, P, now);
    P.setProcessOnMount(f.processOnMount && f.processOnMountEnabled);
    P.setFullAutomount(f.automountEnabled && f.automount);
    P.setUseAdminPrivileges(f.admin);
    P.setModified(true);
}

CloneForm fromClone(ISynchron& P)
{
    CloneForm f;
    f.name = P.name();
    f.noDelete = !P.isOptionDelete();
    f.color = P.color();
    f.schedule = scheduleFrom(P);
    // No intervals here: an older file or a hand edit may hold another type, shown as daily.
    if (f.schedule.type < 1 || f.schedule.type > 3)
        f.schedule.type = 1;
    if (const auto D = P.secondLocation()) {
        D->correctRemovable();
        f.usbRemovableDestination = D->getDeviceType() == 1 && D->isRemovable();
    }
    f.processOnMount = P.isProcessOnMount();
    f.usbAutomount = P.isUSBAutomountForProcess();
    f.startWarning = P.isStartCloningWarnDialog();
    return f;
}

void store(const CloneForm& f, ISynchron& P, const std::function<bool(const QString&)>& isUnique, const QDateTime& now)
{
    P.setName(storedName(f.name, P, isUnique));
    P.setOptionDelete(!f.noDelete);
    if (f.color.isValid())
        P.setColor(f.color);
    Schedule s = f.schedule;
    if (s.type < 1 || s.type > 3)
        s.type = 1;
    storeSchedule(s, P, now);
    P.setProcessOnMount(f.processOnMount && f.usbRemovableDestination);
    P.setUSBAutomountForProcess(f.usbAutomount && f.usbRemovableDestination);
    P.setStartCloningWarnDialog(f.startWarning);
    P.setModified(true);
}

QString capturePattern(const QString& current, int rule, const QString& chosenPath, bool combine)
{
    const QFileInfo info(chosenPath);
    QString added;
    switch (rule) {
    case 0:
        added = QStringLiteral("*.%1").arg(info.suffix());
        break;
    case 1:
        added = QStringLiteral("%1.*").arg(info.completeBaseName());
        break;
    case 2:
        added = info.fileName();
        break;
    default:
        return current;
    }
    if (combine && !current.isEmpty() && current != added) {
        // The same pattern is not listed twice.
        if (current.split(QLatin1Char('|')).contains(added))
            return current;
        return current + QLatin1Char('|') + added;
    }
    return added;
}

AutomountControls automountControls(const AutomountInput& in)
{
    AutomountControls c;
    const bool remote = in.firstRemote || in.secondRemote;
    c.boxEnabled = remote;
    c.boxChecked = remote && (in.firstAutomount || in.secondAutomount || in.fullAutomount);
    c.mountEnabled = remote && (!in.secondActive || in.imageNotMounted);
    return c;
}

} // namespace SyncPropertiesForm
