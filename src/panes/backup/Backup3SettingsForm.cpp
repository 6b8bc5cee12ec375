#include "panes/backup/Backup3SettingsForm.h"

#include "projects/ILocation.h"
#include "projects/ProjectNames.h"
#include "snapshot/IBackup3.h"
#include "snapshot/IBackup3Container.h"
#include "snapshot/IDiskImage.h"

Backup3SettingsForm formFromProject(const IBackup3& p)
{
    Backup3SettingsForm f;
    f.name = p.name();
    f.targetType = p.backupTargetType() == 0 ? 0 : 1;
    if (const std::shared_ptr<ILocation> dest = p.destLocation())
        f.destination.reset(ILocation::createCopy(*dest));
    f.automount = p.destLocation() ? p.destLocation()->isAutomount() : false;
    f.admin = p.isUseAdminPrivilegesForPass(-1);
    f.neverDelete = !p.isOptionDelete();
    f.considerModDate = p.isOptionConsiderModDate();
    f.excludeInvisible = p.isExcludeInvisible();
    f.excludeFinderData = p.isExcludeFinderData();
    f.excludeApplications = p.isExcludeApplications();
    f.excludeAliases = p.isExcludeAliases();
    f.extendedAttrs = p.extendedAttrsProcessType();
    f.useExcludePattern = p.isExcludeByPattern();
    f.excludePattern = p.getExcludePattern().isNull() ? QString("") : p.getExcludePattern();
    // The stored include pattern is shown too, so that OK does not drop it unseen.
    f.useIncludePattern = p.isIncludeByPattern();
    f.includePattern = p.getIncludePattern().isNull() ? QString("") : p.getIncludePattern();
    f.color = p.color();
    f.schedule.scheduled = p.isScheduled();
    f.schedule.type = p.getScheduleIntervalType();
    f.schedule.monthDay = p.getScheduleMonthDay();
    f.schedule.weekDays = p.getScheduleWeekDay();
    f.schedule.hour = p.getScheduleTimeHH();
    f.schedule.minute = p.getScheduleTimeMM();
    f.schedule.interval = p.getScheduleTimeInterval();
    IBackup3& mutableProject = const_cast<IBackup3&>(p);
    f.processOnMountEnabled = mutableProject.removableLocationCountWithExtDest(nullptr) > 0;
    f.processOnMount = p.isProcessOnMount() && f.processOnMountEnabled;
    f.startIfLate = ScheduleFormRules::startIfLateShown(f.schedule, p.isScheduleProcessStartIfLate());
    f.cuttingType = p.backupCuttingType();
    f.cuttingCount = p.backupCuttingCount();
    f.cuttingUnit = p.backupCuttingCountItem();
    f.diMaxSizeType = p.DIMaxSizeType();
    f.diCustomSizeGB = p.DIMaxSizeCustomValue() >= 0.1 ? p.DIMaxSizeCustomValue() : 0;
    f.diCustomInUse = f.targetType == 1 && f.diMaxSizeType == 1;
    return f;
}

QString settingsName(const QString& typed, const IBackup3& project, const IBackup3Container* container)
{
    const QString name = ProjectNames::fromInput(typed);
    if (name.isEmpty())
        return project.name();
    if (!container)
        return name;
    return ProjectNames::makeUnique(
        name, [&](const QString& n) { return container->isUniqueName(n, &project); });
}

void applyForm(
    const Backup3SettingsForm& f, IBackup3& p, const IBackup3Container* container, const QDateTime& now)
{
    // 1. Name.
    const QString name = settingsName(f.name, p, container);
    if (name != p.name())
        p.setName(name);

    // 2-3. Destination and automount.
    std::shared_ptr<ILocation> chosen = f.destination;
    if (!chosen) {
        chosen.reset(ILocation::create());
        chosen->setEmpty(true);
    }
    std::shared_ptr<ILocation> dest = p.destLocation();
    if (!dest || !dest->isEqualToLocation(*chosen))
        p.setTargetChanged(true);
    if (chosen->getDeviceType() == ILocation::DeviceNone) {
        p.setDestLocation(std::shared_ptr<ILocation>(ILocation::createCopy(*chosen)));
    } else {
        if (!dest) {
            dest.reset(ILocation::create());
            p.setDestLocation(dest);
        }
        dest->fillFromLocation(*chosen, true, true);
        dest->setAutomount(f.automount);
    }
    p.setFullAutomount(f.automount);

    // 4. Options and colour.
    p.setOptionDelete(!f.neverDelete);
    p.setOptionConsiderModDate(f.considerModDate);
    p.setColor(f.color);

    // 5. Schedule: a week-day schedule without a day is switched off.
    const ScheduleFormRules::ScheduleForm s = ScheduleFormRules::stored(f.schedule);
    p.setScheduled(s.scheduled);
    p.setScheduleIntervalType(s.type);
    p.setScheduleMonthDay(qint16(s.monthDay));
    p.setScheduleTimeHHMM(qint16(s.hour), qint16(s.minute));
    p.setScheduleTimeInterval(qint16(s.interval));
    p.setScheduleWeekDay(qint16(s.weekDays));

    // 6. Process on mount.
    p.setProcessOnMount(f.processOnMount && f.processOnMountEnabled);

    // 7. Exclusions.
    p.setExcludeInvisible(f.excludeInvisible);
    p.setExcludeFinderData(f.excludeFinderData);
    p.setExcludeApplications(f.excludeApplications);
    p.setExcludeAliases(f.excludeAliases);
    p.setExtendedAttrsProcessType(f.extendedAttrs);
    p.setExcludeByPattern(f.useExcludePattern);
    p.setExcludePattern(f.useExcludePattern ? f.excludePattern : QString());
    p.setIncludeByPattern(f.useIncludePattern);
    p.setIncludePattern(f.useIncludePattern ? f.includePattern : QString());

    // 8. The next date.
    if (s.scheduled)
        p.setNextProcessDate(ScheduleFormRules::nextDate(s, now));

    // 9. Thinning: a count below 1 means none.
    p.setBackupCuttingCount(qMax(0L, f.cuttingCount));
    p.setBackupCuttingType(f.cuttingCount >= 1 ? f.cuttingType : 0);
    p.setBackupCuttingCountItem(f.cuttingUnit);

    // 10. Administrator rights.
    p.setUseAdminPrivileges(f.admin);

    // 11. Target: folder or disk image. An encrypted image stays encrypted while the sheet
    // keeps "Disk image" (the pop-up does not tell the two kinds apart).
    const bool wasImage = p.backupTargetType() != 0;
    if (wasImage != (f.targetType != 0))
        p.setTargetChanged(true);
    if (p.isTargetChanged()) {
        if (f.targetType == 0)
            p.setBDI(nullptr);
        else
            p.setBDI(IDiskImage::createWithBackup(&p));
    }
    if (wasImage != (f.targetType != 0))
        p.setBackupTargetType(f.targetType);

    // 12. Image size.
    p.setDIMaxSizeType(f.diMaxSizeType);
    p.setDIMaxSizeCustomValue(f.diCustomInUse ? f.diCustomSizeGB : 0);

    // 13. Start if late.
    p.setScheduleProcessStartIfLate(f.startIfLate);
}
