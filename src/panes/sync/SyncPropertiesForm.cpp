#include "panes/sync/SyncPropertiesForm.h"

#include "platform/NameCodec.h"
#include "projects/ILocation.h"
#include "projects/ProjectNames.h"
#include "sync/ISynchron.h"


namespace SyncPropertiesForm {

namespace {

Schedule scheduleFrom(ISynchron& P)
{
    Schedule s;
    s.form.scheduled = P.isScheduled();
    s.form.type = P.getScheduleIntervalType();
    s.form.weekDays = P.getScheduleWeekDay() & 0x7f;
    s.form.monthDay = qBound(1, P.getScheduleMonthDay(), 31);
    s.form.hour = qBound(0, P.getScheduleTimeHH(), 23);
    s.form.minute = qBound(0, P.getScheduleTimeMM(), 59);
    s.form.interval = P.getScheduleTimeInterval();
    s.startIfLate = P.isScheduleProcessStartIfLate();
    return s;
}

void storeSchedule(const Schedule& in, ISynchron& P, const QDateTime& now)
{
    // A week-days schedule with no day set would never run: it is switched off.
    const ScheduleFormRules::ScheduleForm s = ScheduleFormRules::stored(in.form);
    P.setScheduled(s.scheduled);
    P.setScheduleIntervalType(s.type);
    P.setScheduleWeekDay(qint16(s.weekDays));
    P.setScheduleMonthDay(qint16(s.monthDay));
    P.setScheduleTimeHHMM(qint16(s.hour), qint16(s.minute));
    P.setScheduleTimeInterval(qint16(s.interval));
    P.setScheduleProcessStartIfLate(ScheduleFormRules::startIfLateShown(s, in.startIfLate));
    P.setNextProcessDate(s.scheduled ? ScheduleFormRules::nextDate(s, now) : QDateTime());
}

QString storedName(const QString& text, ISynchron& P, const std::function<bool(const QString&)>& isUnique)
{
    const QString name = text.trimmed().isEmpty() ? QString() : ProjectNames::fromInput(text);
    if (name.isNull() || name == P.name())
        return P.name();
    return ProjectNames::makeUnique(name, isUnique);
}

} // namespace

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
    if (f.schedule.form.type < 1 || f.schedule.form.type > 3)
        f.schedule.form.type = 1;
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
    if (s.form.type < 1 || s.form.type > 3)
        s.form.type = 1;
    storeSchedule(s, P, now);
    P.setProcessOnMount(f.processOnMount && f.usbRemovableDestination);
    P.setUSBAutomountForProcess(f.usbAutomount && f.usbRemovableDestination);
    P.setStartCloningWarnDialog(f.startWarning);
    P.setModified(true);
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
