#include "sync/ISynchron.h"
#include "sync/SyncFolders.h"

#include "platform/DiskImageTool.h"
#include "platform/MainThread.h"
#include "platform/NameCodec.h"
#include "platform/PlistBridge.h"
#include "platform/UuidText.h"
#include "projects/ILocation.h"
#include "projects/IPlaceMounter.h"
#include "projects/ProjectColor.h"
#include "projects/ScheduleDates.h"
#include "sync/ISynchronContainer.h"
#include "sync/ISynchronizeController.h"
#include "utilities/CommonFunctions.h"
#include "utilities/ICommon.h"
#include "utilities/IDiskUtil.h"
#include "utilities/IShellServices.h"
#include "utilities/IVolumeBase.h"
#include "utilities/LogOptions.h"
#include "utilities/QVLog.h"
#include "utilities/RsyncExcludes.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>

namespace {

bool isNumber(const QVariantMap& d, const QString& key)
{
    const QVariant v = d.value(key);
    return PlistValue::isNumber(v) || v.typeId() == QMetaType::Bool;
}

qint64 intOf(const QVariantMap& d, const QString& key)
{
    const QVariant v = d.value(key);
    if (v.typeId() == QMetaType::Bool)
        return v.toBool() ? 1 : 0;
    return PlistValue::isInteger(v) ? v.toLongLong() : qint64(v.toDouble());
}

bool boolOf(const QVariantMap& d, const QString& key)
{
    return intOf(d, key) != 0;
}

bool isString(const QVariantMap& d, const QString& key)
{
    return d.value(key).typeId() == QMetaType::QString;
}

QVariant textOrDash(const QString& s)
{
    return s.isEmpty() ? QStringLiteral("-") : s;
}

bool isRemovableUSB(const ILocation* l)
{
    return l && l->getDeviceType() == ILocation::DeviceUSB && l->isRemovable();
}

bool usable(int level)
{
    return level == ILocation::AccessPreparable || level == ILocation::AccessReadWrite;
}

} // namespace

ISynchron::ISynchron()
    : m_name(defaultName(0))
    , m_color(ProjectColor::defaultColor())
{
    setExtendedAttrsProcessType(0);
    card().setType(1);
}

ISynchron::~ISynchron()
{
    removeExcludesTmpFileNameCustom(true, true);
}

QString ISynchron::defaultName(int syncType)
{
    return syncType == 1 ? tr("New cloning project") : tr("New synchronize project");
}

void ISynchron::setName(const QString& name)
{
    setMarked(m_name, name);
}

void ISynchron::setColor(const QColor& color)
{
    if (m_color == color)
        return;
    m_color = color;
    m_colorData.clear();
    m_bModified = true;
}

void ISynchron::setSynchronType(int type)
{
    if (type != 0 && type != 1)
        return;
    setMarked(m_syncType, type);
    card().setType(type == 1 ? 0 : 1);
}

bool ISynchron::isConfigured() const
{
    return m_firstLocation || m_secondLocation || m_lastSyncDate.isValid() || m_bScheduled;
}

void ISynchron::setDirection(int direction)
{
    if (direction < 0 || direction > 2)
        return;
    setMarked(m_direction, direction);
    if (direction == 2) {
        setOptionDelete(false);
        setOptionConsiderModDate(true);
    }
}

void ISynchron::setScheduleTimeHHMM(qint16 hh, qint16 mm)
{
    setMarked(m_nScheduleTimeHH, hh);
    setMarked(m_nScheduleTimeMM, mm);
}

QDateTime ISynchron::computeNextProcessDate(const QDateTime& now) const
{
    return nextProcessDate(now, CBSchedIntervalType(m_ScheduleIntervalType), unsigned(m_nScheduleMonthDay),
        m_nScheduleWeekDay, unsigned(m_nScheduleTimeHH), unsigned(m_nScheduleTimeMM),
        unsigned(m_nScheduleTimeInterval));
}

bool ISynchron::isUseAdminPrivilegesForPass(long pass) const
{
    return isClone() || IProject::isUseAdminPrivilegesForPass(pass);
}

ISynchronContainer* ISynchron::synchronContainer() const
{
    if (IShellServices::shared().isWindowClosing())
        return nullptr;
    return ISynchronContainer::shared();
}

void ISynchron::tellContainer(int change)
{
    m_lastStateChange = change;
    if (ISynchronContainer* container = synchronContainer())
        container->eventChangedProjectStatus(this);
}

// ---- Places ------------------------------------------------------------------------------------

void ISynchron::setFirstLocation(std::shared_ptr<ILocation> location)
{
    if (m_firstLocation != location) {
        m_firstLocation = std::move(location);
        m_bModified = true;
    }
    tellContainer(ChangePlaces);
}

void ISynchron::setSecondLocation(std::shared_ptr<ILocation> location)
{
    // A clone that gets another destination asks again before it overwrites it.
    if (isClone() && m_secondLocation && location && !m_secondLocation->isEqualToLocation(*location))
        setStartCloningWarnDialog(true);
    if (m_secondLocation != location) {
        m_secondLocation = std::move(location);
        m_bModified = true;
    }
    tellContainer(ChangePlaces);
}

QString ISynchron::ownImageBundleForPath(const QString& path)
{
    QString mountPoint = path;
    while (mountPoint.size() > 1 && mountPoint.endsWith(QLatin1Char('/')))
        mountPoint.chop(1);
    QString bundle = DiskImageTool::imagePathForMountPoint(mountPoint);
    if (bundle.isEmpty() && mountPoint.endsWith(QLatin1String("/data")))
        bundle = DiskImageTool::imagePathForMountPoint(mountPoint.chopped(5));
    if (bundle.isEmpty())
        return QString();
    // The system's own image: its info.plist says who made it, as a text or as the date of making.
    const PlistBridge::ReadResult read = PlistBridge::readFile(bundle + QStringLiteral("/info.plist"));
    if (read.status != PlistBridge::ReadStatus::Ok || read.value.typeId() != QMetaType::QVariantMap)
        return QString();
    const QVariant made = read.value.toMap().value(QStringLiteral("made"));
    if ((made.typeId() == QMetaType::QString && !made.toString().isEmpty())
        || made.typeId() == QMetaType::QDateTime)
        return bundle;
    return QString();
}

static std::shared_ptr<ILocation> placeForFolder(const QString& path)
{
    const QString bundle = ISynchron::ownImageBundleForPath(path);
    std::shared_ptr<ILocation> l(ILocation::create());
    if (!l->setupWithPath(bundle.isEmpty() ? path : bundle))
        return nullptr;
    return l;
}

void ISynchron::setFirstFolder(const QString& path)
{
    auto l = placeForFolder(path);
    if (!l)
        return;
    m_bModified = true;
    setFirstLocation(l);
}

void ISynchron::setSecondFolder(const QString& path)
{
    auto l = placeForFolder(path);
    if (!l)
        return;
    m_bModified = true;
    setSecondLocation(l);
}

QString ISynchron::firstFolder() const
{
    return m_firstLocation ? m_firstLocation->getContentPathVerify(true) : QString();
}

QString ISynchron::secondFolder() const
{
    return m_secondLocation ? m_secondLocation->getContentPathVerify(true) : QString();
}

ILocation* ISynchron::sourceLocationForPass(long pass) const
{
    if (pass == 1)
        return m_secondLocation.get();
    if (pass != 0)
        return nullptr;
    if (m_direction == 0 || m_direction == 2)
        return m_firstLocation.get();
    if (m_direction == 1)
        return m_secondLocation.get();
    return nullptr;
}

ILocation* ISynchron::destLocationForPass(long pass) const
{
    if (pass == 1)
        return m_firstLocation.get();
    if (pass != 0)
        return nullptr;
    if (m_direction == 0 || m_direction == 2)
        return m_secondLocation.get();
    if (m_direction == 1)
        return m_firstLocation.get();
    return nullptr;
}

QString ISynchron::sourcePathForPass(long pass) const
{
    ILocation* l = sourceLocationForPass(pass);
    return l ? l->getContentPathVerify(true) : QString();
}

QString ISynchron::destPathForPass(long pass) const
{
    ILocation* l = destLocationForPass(pass);
    return l ? l->getContentPathVerify(true) : QString();
}

// ---- Due tests ---------------------------------------------------------------------------------

bool ISynchron::isTimeToSynchronizeDate(const QDateTime& now, int, int, int, int)
{
    return isScheduledRunDue(
        now, m_bScheduled, isScheduleProcessStartIfLate(), m_nextProcessDate,
        [this](const QDateTime& from) { return computeNextProcessDate(from); },
        [this](const QDateTime& date) { setNextProcessDate(date); });
}

bool ISynchron::isNeedToProcessOnMount(const QString& mountedPath)
{
    if (!m_firstLocation || !m_secondLocation)
        return false;
    m_firstLocation->reset();
    m_secondLocation->reset();
    if (m_firstLocation->getMountPoint().isEmpty() || m_secondLocation->getMountPoint().isEmpty())
        return false;
    const bool eligible = _processOnMount && (!m_bScheduled || _lastProcessFailed);
    std::unique_ptr<ILocation> mounted(ILocation::create());
    // The volume table may not have taken in the new mount yet: the mount point alone then asks
    // the disk information for the volume's UUID.
    if (!mounted->setupWithPath(mountedPath))
        mounted->setMountPoint(mountedPath);
    const QString uuid = mounted->getVolumeUUIDForced();
    if (uuid.isEmpty())
        return false;
    if (UuidText::equal(uuid, m_firstLocation->getVolumeUUID())
        || UuidText::equal(uuid, m_secondLocation->getVolumeUUID()))
        return eligible;
    return false;
}

bool ISynchron::isSynchronProcessOnMountEnabled()
{
    for (const auto& l : { m_firstLocation, m_secondLocation }) {
        if (!l)
            continue;
        l->correctRemovable();
        if (isRemovableUSB(l.get()))
            return true;
    }
    return false;
}

QStringList ISynchron::volumeUUIDsForStartOnMount()
{
    QStringList uuids;
    for (const auto& l : { m_secondLocation, m_firstLocation }) {
        if (!l)
            continue;
        l->correctRemovable();
        if (isRemovableUSB(l.get()) && !l->getVolumeUUID().isEmpty())
            uuids.append(l->getVolumeUUID());
    }
    return uuids;
}

// ---- File systems and the run's engine ---------------------------------------------------------

static bool isMacFileSystem(const ILocation* l)
{
    return l && (l->isAPFS() || l->isHFSp());
}

bool ISynchron::isMacSrcDestForPass(long) const
{
    auto mac = [](const ILocation* l) { return isMacFileSystem(l) || (l && l->isBDI()); };
    return mac(m_firstLocation.get()) && mac(m_secondLocation.get());
}

bool ISynchron::isMacDest() const
{
    const ILocation* dest = (isClone() || m_direction != 1) ? m_secondLocation.get() : m_firstLocation.get();
    return isMacFileSystem(dest);
}

bool ISynchron::isSourceDoubleVolumeSystemForPass(long) const
{
    return m_firstLocation && QVSystemVersion() >= 101500 && m_firstLocation->isDoubleVolume();
}

bool ISynchron::isDoubleVolumeClone() const
{
    return isSourceDoubleVolumeSystemForPass(0) && m_secondLocation && m_secondLocation->isAPFS();
}

bool ISynchron::isNeedFullDoubleVolumeClone()
{
    if (m_firstLocation)
        m_firstLocation->reset();
    resetLocationsFileSystem();
    auto clearFlags = [this] {
        card().remove(taskFullCloning);
        card().remove(analyticUnmountNotReasonForTermination);
    };
    if (!m_firstLocation || !m_firstLocation->isDoubleVolume() || !m_secondLocation
        || !m_secondLocation->isAPFS()) {
        clearFlags();
        return false;
    }
    if (card().isFlag(analyticRSYNCOnlyClone)) {
        clearFlags();
        return false;
    }
    const ILocation::SysVersion a = m_firstLocation->getSysVersion(), b = m_secondLocation->getSysVersion();
    auto record = [](const ILocation::SysVersion& v) {
        return SystemVersion { v.version / 10000, (v.version / 100) % 100, v.version % 100 };
    };
    if (card().isFlag(taskFullCloning) || card().isFlag(analyticASROnlyClone)
        || QVSysVersionsCompare(record(a), record(b)) != 0) {
        card().add(taskFullCloning);
        card().add(analyticUnmountNotReasonForTermination);
        return true;
    }
    return false;
}

void ISynchron::validateProcessFlags()
{
    const qint64 first = m_firstLocation && !m_firstLocation->getMountPoint().isEmpty()
        ? IDiskUtil::systemVersionForMountPoint(m_firstLocation->getMountPoint())
        : 0;
    _needPostProcess = IDiskUtil::systemVersion() > 101199 && first > 101299;
}

void ISynchron::resetLocationsFileSystem()
{
    ILocation* dest = (isClone() || m_direction != 1) ? m_secondLocation.get() : m_firstLocation.get();
    if (!dest || dest->getMountPoint().isEmpty())
        return;
    IDiskUtil& disk = IDiskUtil::shared();
    if (!disk.getDiskInfo(dest->getMountPoint()))
        return;
    dest->setAPFS(disk.isAPFS());
    dest->setHFSp(disk.isHFS());
}

void ISynchron::printStartStatisticToLog()
{
    processMessage(_processingBySchedule ? tr("Started by scheduler") : tr("Started by user"),
        LogWord::RunLogPrefixedNow, this);
    processMessage(tr("First Volume Info: %1")
                       .arg(m_firstLocation ? infoTextForLocation(m_firstLocation.get()) : QString()),
        LogWord::RunLogPrefixedNow, this);
    processMessage(tr("Second Volume Info: %1")
                       .arg(m_secondLocation ? infoTextForLocation(m_secondLocation.get()) : QString()),
        LogWord::RunLogPrefixedNow, this);
}

void ISynchron::ITCorrectDestinationDevice(const QString& device)
{
    if (device.isEmpty())
        return;
    auto find = [&device]() -> VolumeItemPtr {
        for (const VolumeItemPtr& item : ILocationServices::shared().volumeItems())
            if (item && item->source == device)
                return item;
        return nullptr;
    };
    VolumeItemPtr item = find();
    if (!item) {
        IVolumeBase::shared().fill();
        item = find();
    }
    if (!item)
        return;
    std::shared_ptr<ILocation> place(ILocation::create());
    place->setupFromVBI(*item);
    setSecondLocation(place);
    if (ISynchronContainer* container = synchronContainer())
        container->save();
}

std::shared_ptr<ISynchron> ISynchron::duplicateProject()
{
    ISynchronContainer* container = synchronContainer();
    if (!container || m_name.isEmpty())
        return nullptr;
    const int kind = container->currentSyncType();
    if (kind != 0 && kind != 1)
        return nullptr;
    const QString base = m_name + QStringLiteral("-copy");
    QString name = base;
    for (int n = 1; !container->isUniqueName(name, nullptr); ++n)
        name = QStringLiteral("%1%2").arg(base).arg(n);
    const auto copy = container->createNewSynchron(name, kind);
    if (!copy)
        return nullptr;
    copy->setUseAdminPrivileges(IProject::isUseAdminPrivilegesForPass(-1));
    copy->setColor(m_color);
    // Places are copied, never shared: run marks and mounts of one project must not reach the other.
    if (m_firstLocation)
        copy->setFirstLocation(std::shared_ptr<ILocation>(ILocation::createCopy(*m_firstLocation)));
    if (m_secondLocation)
        copy->setSecondLocation(std::shared_ptr<ILocation>(ILocation::createCopy(*m_secondLocation)));
    copy->setDirection(m_direction);
    copy->setOptionDelete(isOptionDelete());
    copy->setOptionConsiderModDate(isOptionConsiderModDate());
    if (m_bScheduled) {
        copy->setScheduleIntervalType(m_ScheduleIntervalType);
        copy->setScheduleTimeHHMM(m_nScheduleTimeHH, m_nScheduleTimeMM);
        copy->setScheduleTimeInterval(m_nScheduleTimeInterval);
        copy->setScheduleWeekDay(m_nScheduleWeekDay);
        copy->setScheduleMonthDay(m_nScheduleMonthDay);
    }
    copy->m_exclude = m_exclude;
    copy->setExcludePattern(m_nsExcludePattern);
    copy->setExcludePathList(m_excludePathList);
    return copy;
}

// ---- Readiness ---------------------------------------------------------------------------------

int ISynchron::getReady()
{
    const bool inProcess = isInProcess();
    const bool analysing = m_currentOperation == OpAnalysing || card().isFlag(taskAnalyze);
    const bool unmountTolerated = inProcess && card().isFlag(analyticUnmountNotReasonForTermination);
    const bool unsupported = card().isFlag(analyticNoSupportClone);
    // An unsupported clone never offers a run, whichever way the answer is reached.
    auto answer = [unsupported](int bits) { return unsupported ? (bits & ~ReadyRun) : bits; };

    bool automount = isFullAutomount();
    if (isClone()) {
        setUseAdminPrivileges(true);
        automount = _USBAutomountForProcess;
    }
    const bool admin = IProject::isUseAdminPrivilegesForPass(-1);
    int a1 = m_firstLocation ? m_firstLocation->getAccessWithAdmin(admin, automount, false) : 0;
    int a2 = m_secondLocation ? m_secondLocation->getAccessWithAdmin(admin, automount, false) : 0;
    if (a2 == ILocation::AccessDataMissing)
        return answer(isClone() ? 20 : 16);

    bool s = false, d = false;
    switch (m_direction) {
    case 0:
        s = a1 > 0;
        d = usable(a2);
        break;
    case 1:
        s = a2 > 0;
        d = usable(a1);
        break;
    case 2:
        s = usable(a1);
        d = usable(a2);
        break;
    default:
        break;
    }
    int result = 0;
    if (isClone()) {
        // A system volume is read-only by nature and is prepared for the clone.
        if (a2 == ILocation::AccessReadOnly && m_secondLocation && m_secondLocation->getRole() == 6) {
            d = true;
            a2 = ILocation::AccessPreparable;
        }
        if (!inProcess && (a1 == ILocation::AccessPreparable || a2 == ILocation::AccessPreparable))
            result |= ReadyMountVolumes;
    }
    if (a1 >= 2 && (isClone() ? a2 >= 1 : a2 >= 2))
        result |= ReadyLoadContent;
    const bool ready = s && d && m_firstLocation && m_secondLocation
        && m_firstLocation->getUnverifiedFullPath() != m_secondLocation->getUnverifiedFullPath();
    if (!inProcess && ready)
        result |= ReadyRun | ReadyAnalyse;
    else if (inProcess && ready && analysing)
        result |= ReadyAnalyse;
    else if (!analysing && inProcess && (unmountTolerated || ready))
        result |= ReadyStop;
    if (!inProcess)
        result |= ReadyParameterChange;
    if (m_firstLocation && m_firstLocation->isBDI() && !m_firstLocation->isBDIActive())
        return answer(result | ReadyMountImages | (inProcess ? 0 : ReadyParameterChange));
    if (m_secondLocation && m_secondLocation->isBDI() && !m_secondLocation->isBDIActive())
        result |= ReadyMountImages | (inProcess ? 0 : ReadyParameterChange);
    return answer(result);
}

bool ISynchron::isReady()
{
    if (!m_firstLocation || !m_secondLocation)
        return false;
    if (isClone())
        return m_firstLocation->isActive() && m_secondLocation->isActive()
            && m_firstLocation->getMountPoint() != m_secondLocation->getMountPoint();
    const bool admin = IProject::isUseAdminPrivilegesForPass(-1);
    auto writable = [admin](ILocation* l) {
        return l->getAccessWithAdmin(admin, false, false) == ILocation::AccessReadWrite
            || l->isAccessMayBePreparedWithAutomount(false);
    };
    auto readable = [admin](ILocation* l) {
        return l->getAccessWithAdmin(admin, false, false) >= ILocation::AccessReadOnly
            || l->isAccessMayBePreparedWithAutomount(false);
    };
    ILocation* first = m_firstLocation.get();
    ILocation* second = m_secondLocation.get();
    switch (m_direction) {
    case 0:
        return writable(second) && readable(first);
    case 1:
        return writable(first) && readable(second);
    case 2:
        return writable(first) && writable(second);
    default:
        return false;
    }
}

bool ISynchron::isReadyForInterface() const
{
    if (!m_firstLocation || !m_secondLocation)
        return false;
    ILocation* first = m_firstLocation.get();
    ILocation* second = m_secondLocation.get();
    if (isClone()) {
        if (!first->isActive() || !second->isActive() || first->getMountPoint() == second->getMountPoint())
            return false;
    } else {
        const bool admin = IProject::isUseAdminPrivilegesForPass(-1);
        auto fit = [admin](ILocation* l) {
            const int level = l->getAccessWithAdmin(admin, false, false);
            return l->isNetwork() || level == ILocation::AccessReadWrite
                || level == ILocation::AccessReadOnly;
        };
        bool ok = false;
        switch (m_direction) {
        case 0:
            ok = fit(second) && (!second->isNetwork() || fit(first));
            break;
        case 1:
            ok = fit(first) && (!first->isNetwork() || fit(second));
            break;
        case 2:
            ok = fit(first) && fit(second);
            break;
        default:
            break;
        }
        if (!ok)
            return false;
    }
    const QString a = first->getUnverifiedFullPath(), b = second->getUnverifiedFullPath();
    return !a.isEmpty() && !b.isEmpty() && !SyncFolders::areNested(a, b);
}

// ---- Exclusions --------------------------------------------------------------------------------

void ISynchron::addPathToExcludePathList(const QString& path)
{
    if (path.isEmpty())
        return;
    if (!m_excludePathList)
        m_excludePathList = QStringList();
    if (m_excludePathList->contains(path))
        return;
    removePathesFromExcludePathListWithPrefix(path + QLatin1Char('/'));
    m_excludePathList->append(path);
    m_bModified = true;
}

bool ISynchron::isPathInExcludePathList(const QString& path) const
{
    return m_excludePathList && m_excludePathList->contains(path);
}

bool ISynchron::isPathChildInExcludePathList(const QString& path) const
{
    if (!m_excludePathList)
        return false;
    const QString prefix = path + QLatin1Char('/');
    for (const QString& entry : *m_excludePathList)
        if (entry.startsWith(prefix))
            return true;
    return false;
}

void ISynchron::removePathFromExcludePathList(const QString& path)
{
    if (m_excludePathList && m_excludePathList->removeOne(path))
        m_bModified = true;
}

void ISynchron::removePathesFromExcludePathListWithPrefix(const QString& prefix)
{
    if (!m_excludePathList)
        return;
    const qsizetype before = m_excludePathList->size();
    m_excludePathList->erase(std::remove_if(m_excludePathList->begin(), m_excludePathList->end(),
                                 [&](const QString& e) { return e.startsWith(prefix); }),
        m_excludePathList->end());
    if (m_excludePathList->size() != before)
        m_bModified = true;
}

void ISynchron::validateExcludePathList()
{
    if (!m_excludePathList)
        return;
    auto exists = [](const QString& path) { return !path.isEmpty() && QFileInfo::exists(path); };
    QStringList kept;
    for (const QString& entry : *m_excludePathList) {
        bool keep;
        if (isClone()) {
            // An entry on a volume that is not mounted now may exist again later.
            std::unique_ptr<ILocation> l(ILocation::create());
            keep = exists(entry) || !l->setupWithPath(entry) || !l->isActive();
        } else {
            const QString a = firstFolder(), b = secondFolder();
            // Without both folders nothing can be told: the entry stays.
            keep = a.isEmpty() || b.isEmpty() || exists(ILocation::joinPath(a, entry))
                || exists(ILocation::joinPath(b, entry));
        }
        if (keep)
            kept.append(entry);
    }
    if (kept.size() != m_excludePathList->size()) {
        m_excludePathList = kept;
        m_bModified = true;
    }
}

ISynchron::ExcludeRules ISynchron::customExcludeRules() const
{
    ExcludeRules rules;
    if (!m_excludePathList)
        return rules;
    QString folder;
    if (isClone()) {
        folder = m_firstLocation ? m_firstLocation->getUnverifiedFullPath() : QString();
        while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
            folder.chop(1);
    }
    for (const QString& entry : *m_excludePathList) {
        QString rule = entry;
        if (isClone() && !folder.isEmpty()) {
            // Entries inside the source folder are re-rooted there; "/x2" is no entry of "/x".
            if (folder == QLatin1String("/"))
                rule = entry;
            else if (entry == folder)
                continue; // the whole source: nothing to copy would be left; not a rule
            else if (entry.startsWith(folder + QLatin1Char('/')))
                rule = entry.mid(folder.size());
        }
        while (rule.size() > 1 && rule.endsWith(QLatin1Char('/')))
            rule.chop(1);
        if (rule.isEmpty() || rule == QLatin1String("/"))
            continue;
        if (!rule.startsWith(QLatin1Char('/')))
            rule.prepend(QLatin1Char('/'));
        const QByteArray line = RsyncExcludes::shieldRule(NameCodec::encode(rule));
        // A line end inside a name would split the rule: such a name goes on the command line.
        if (line.contains('\n') || line.contains('\r'))
            rules.arguments.append(QStringLiteral("--exclude=") + NameCodec::decode(line));
        else if (!rules.lines.contains(line))
            rules.lines.append(line);
    }
    return rules;
}

bool ISynchron::saveCustomExcludesIntoTmpFileForPass(long)
{
    ISynchronContainer* container = synchronContainer();
    return saveCustomExcludeLines(
        customExcludeRules().lines, container ? container->tempFolderPath() : QString());
}

bool ISynchron::addExcludesIntoTmpFile(const QString& path) const
{
    const ExcludeRules rules = customExcludeRules();
    if (!m_excludePathList || m_excludePathList->isEmpty())
        return false;
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        for (const QByteArray& line : rules.lines)
            file.write(line + '\n');
    return true;
}

// ---- Run state ---------------------------------------------------------------------------------

bool ISynchron::isInProcess() const
{
    return m_currentOperation != OpIdle || card().isFlag(stateRunning);
}

void ISynchron::setInState(int operation)
{
    const int previous = m_currentOperation;
    m_currentOperation = operation;
    if (previous == operation)
        return;
    if (operation == OpAnalysing) {
        m_indicatorPosition = 0;
        m_buttonState = mainButtonState();
    } else {
        m_buttonState = operation == OpIdle ? 1 : 2;
    }
    tellContainer(ChangeOperation);
    tellContainer(ChangeButton);
    IShellServices::shared().DIIProcessIndicatorPositionCollect(this);
}

void ISynchron::setInProcess(bool inProcess, int operation)
{
    const int previous = m_currentOperation;
    m_currentOperation = operation;
    if (!inProcess)
        m_indicatorPosition = 0;
    if (previous == operation)
        return;
    m_buttonState = inProcess ? 2 : 1;
    tellContainer(ChangeOperation);
    tellContainer(ChangeButton);
}

int ISynchron::mainButtonState() const
{
    const int ready = const_cast<ISynchron*>(this)->getReady();
    if (ready & ReadyRun) {
        const_cast<ISynchron*>(this)->processMessage(tr("Ready"), LogWord::StatusNow, nullptr);
        m_buttonState = 1;
    } else if (ready & ReadyStop) {
        m_buttonState = 2;
    } else {
        m_buttonState = 0;
    }
    return m_buttonState;
}

void ISynchron::setMainButtonState(int state)
{
    m_buttonState = state;
    if (state == 0)
        m_indicatorPosition = 0;
    if (isSelected())
        tellContainer(ChangeButton);
}

double ISynchron::indicatorPositionForGlobal() const
{
    const double p = m_indicatorPosition.load();
    return (p < 0 || p > 100) ? -1.0 : p;
}

void ISynchron::setIndicatorPosition(double position, bool showNow)
{
    position = qBound(0.0, position, 100.0);
    const double old = m_indicatorPosition.load();
    if (showNow && position != 0 && old != 0 && position < old)
        return;
    m_indicatorPosition = position;
    IShellServices::shared().DIIProcessIndicatorPositionCollect(this);
    // The list itself belongs to the main thread: reader threads go by the selection mark.
    if (old == position || !m_selected.load())
        return;
    m_lastStateChange = ChangeStatus;
    // Reader threads call this too: the pane is redrawn on the main thread.
    runOnMain([] { ISynchronizeController::shared().processIndicator(); });
}

void ISynchron::setSelected(bool flag)
{
    const bool changed = m_selected.load() != flag;
    m_selected = flag;
    if (changed && flag) {
        validateExcludePathList();
        m_lastStateChange = ChangeCurrent;
        if (ISynchronContainer* container = synchronContainer())
            container->eventChangedProjectStatus(this);
    }
}

bool ISynchron::isSelected() const
{
    ISynchronContainer* container = synchronContainer();
    return container && container->currentSynchronByType(m_syncType).get() == this;
}

void ISynchron::setLastStatusString(const QString& text)
{
    m_textInfo.set(text.toUtf8());
    m_lastStateChange = ChangeStatus;
    if (isSelected())
        tellContainer(ChangeStatus);
}

void ISynchron::processMessage(const LogText& text, quint64 options, QObject*)
{
    // An analysis shows its own results: its texts are dropped.
    if (card().isFlag(taskAnalyze))
        return;
    if (!(options & (LogOption::Utf8 | LogOption::String)))
        return;
    const QByteArray utf8 = text.toUtf8();
    // rsync's per-file progress lines are read elsewhere.
    if (utf8.contains("to-chk=") || utf8.contains("to-check="))
        return;
    if (options & LogOption::Status) {
        m_textInfo.set(utf8);
        m_lastStateChange = ChangeStatus;
        if ((options & LogOption::RefreshNow) && isMainThread() && isSelected())
            ISynchronizeController::shared().validateStatusString();
    }
    if (options & (LogOption::Window | LogOption::RunLog))
        IShellServices::shared().processMessage(text, options, this);
}

void ISynchron::sendTextInfo(const QString& text, qint32 type, quint8 target, QObject*)
{
    if (target & tpStatus)
        m_textInfo.set(text.toUtf8());
    if (!text.isNull())
        if (ISynchronContainer* container = synchronContainer())
            container->sendTextInfo(text, type, target, this);
}

// ---- Mounting ----------------------------------------------------------------------------------

bool ISynchron::doAutomount()
{
    const bool ok = mountPlaces(true);
    // Let the volume table take in what was mounted.
    ModalDepthGuard guard;
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    return ok;
}

bool ISynchron::doMount()
{
    return mountPlaces(false);
}

bool ISynchron::mountUnmountedVolume(ILocation* place, bool automount, const QString& announce)
{
    if (!place || place->isActiveForce() || !place->isUnmountable())
        return true;
    IPlaceMounter& mounter = IPlaceMounter::shared();
    processMessage(announce, LogWord::StatusAndWindow, this);
    bool mounted = false;
    const QString device = mounter.volumeBSDNameByUUID(place->getVolumeUUID(), &mounted);
    if (device.isEmpty())
        return false;
    if (mounted)
        return true;
    QString answer = mounter.mountDiskForVolumeBSDName(device);
    if (answer.isEmpty())
        return false;
    while (answer.endsWith(QLatin1Char('\n')))
        answer.chop(1);
    processMessage(answer, LogWord::StatusAndWindow, this);
    if (!answer.contains(QLatin1String("success")))
        return false;
    if (automount)
        place->addFlag(ILocation::FlagUnmountAfterRun);
    place->reset();
    return true;
}

bool ISynchron::mountPlaces(bool automount)
{
    IPlaceMounter& mounter = IPlaceMounter::shared();
    const qint64 mark = automount ? qint64(ILocation::FlagUnmountAfterRun) : qint64(0);
    ILocation* first = m_firstLocation.get();
    ILocation* second = m_secondLocation.get();
    // (1) a share as the first place
    if (first && first->getDeviceType() == ILocation::DeviceNetworkVolume && !first->isActiveForce()
        && (!automount || first->isAutomount())) {
        if (!mounter.mountLocation(first, mark)) {
            processMessage(tr("Left Target automount error"), LogWord::WindowPrefixedNow, this);
            processMessage(QVFuncStatus(QStringLiteral("CVolumeMounter::mountLocation")),
                LogWord::RunLogPrefixedNow, this);
            return false;
        }
    }
    // (2) the first place's disk image
    if (first && first->isBDI() && !first->isBDIActive()) {
        processMessage(
            tr("Mounting disk image \"%1\"...").arg(first->getBDIFileName()), LogWord::StatusAndWindow, this);
        if (!first->mountBDI()) {
            processMessage(tr("Left Target (Disk Image) automount error"), LogWord::WindowPrefixedNow, this);
            return false;
        }
        if (automount)
            first->addFlag(ILocation::FlagUnmountAfterRun);
    }
    bool ok = true;
    // (3) a share as the second place, else (4) its disk image
    if (second && second->getDeviceType() == ILocation::DeviceNetworkVolume && !second->isActiveForce()
        && (!automount || second->isAutomount())) {
        processMessage(tr("Mounting Right target volume..."), LogWord::StatusAndWindow, this);
        if (!mounter.mountLocation(second, mark)) {
            processMessage(tr("Right Target automount error"), LogWord::WindowPrefixedNow, this);
            processMessage(QVFuncStatus(QStringLiteral("CVolumeMounter::mountLocation")),
                LogWord::RunLogPrefixedNow, this);
            ok = false;
        }
    } else if (second && second->isBDI() && !second->isBDIActive()) {
        processMessage(tr("Mounting disk image \"%1\"...").arg(second->getBDIFileName()),
            LogWord::StatusAndWindow, this);
        if (second->mountBDI()) {
            if (automount)
                second->addFlag(ILocation::FlagUnmountAfterRun);
        } else {
            processMessage(tr("Right Target (Disk Image) automount error"), LogWord::WindowPrefixedNow, this);
            ok = false;
        }
    }
    // (5) a clone mounts its unmounted volumes for the run
    if (isClone() && _USBAutomountForProcess) {
        if (!mountUnmountedVolume(first, automount, tr("Mounting source volume...")))
            ok = false;
        if (!mountUnmountedVolume(second, automount, tr("Mounting target volume...")))
            ok = false;
    }
    return ok;
}

void ISynchron::doAutoUnmount()
{
    // On the first use the volume table may still be taking in what the run mounted.
    if (!m_unmountEventsPassed) {
        m_unmountEventsPassed = true;
        ModalDepthGuard guard;
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    IPlaceMounter& mounter = IPlaceMounter::shared();
    const bool volumeAutomount = isClone() ? _USBAutomountForProcess : isFullAutomount();
    const struct
    {
        ILocation* place;
        const char* imageError;
        const char* shareText;
    } places[] = {
        { m_firstLocation.get(), "Left Target (Disk Image) autoUnmount error",
            "Unmounting Left Target volume..." },
        { m_secondLocation.get(), "Right Target (Disk Image) autoUnmount error",
            "Unmounting Right Target volume..." },
    };
    for (const auto& p : places) {
        ILocation* l = p.place;
        if (!l || !l->isFlag(ILocation::FlagUnmountAfterRun))
            continue;
        if (l->isBDI()) {
            processMessage(tr("Unmounting disk image \"%1\"...").arg(l->getBDIFileName()),
                LogWord::StatusAndWindow, this);
            if (l->unmountBDI())
                l->removeFlag(ILocation::FlagUnmountAfterRun);
            else
                processMessage(tr(p.imageError), LogWord::WindowPrefixedNow, this);
        } else if (l->isNetwork()) {
            processMessage(tr(p.shareText), LogWord::StatusAndWindow, this);
            if (mounter.unmountLocation(l, 0))
                l->removeFlag(ILocation::FlagUnmountAfterRun);
        } else if (volumeAutomount && l->isUnmountable()) {
            processMessage(tr("Unmounting target volume..."), LogWord::StatusAndWindow, this);
            bool mounted = false;
            const QString device = mounter.volumeBSDNameByUUID(l->getVolumeUUID(), &mounted);
            if (!device.isEmpty()
                && mounter.unmountDiskForVolumeBSDName(device, l->isAPFS())
                       .contains(QLatin1String("success")))
                l->removeFlag(ILocation::FlagUnmountAfterRun);
        }
    }
}

// ---- Stored form -------------------------------------------------------------------------------

std::shared_ptr<ILocation> ISynchron::locationFromDict(const QVariantMap& dict)
{
    // The stored form of every kind ("-" for a missing text, device types -1 to 6, the start
    // volume found by its mount point), plus the volume group.
    std::shared_ptr<ILocation> l(ILocation::locationFromDict(dict));
    const QVariant group = dict.value(QStringLiteral("GroupVolumeUUID"));
    if (group.typeId() == QMetaType::QString && group.toString() != QLatin1String("-"))
        l->setGroupVolumeUUID(group.toString());
    return l;
}

QVariantMap ISynchron::dictFromLocation(const ILocation& l)
{
    QVariantMap d;
    d.insert(ILocation::cnsB3URL, textOrDash(l.getURLStr()));
    d.insert(ILocation::cnsB3PathFromMountPoint, textOrDash(l.getPathFromMountPoint()));
    d.insert(ILocation::cnsB3DisplayName, textOrDash(l.getDisplayName()));
    d.insert(ILocation::cnsB3VolumeUUID, textOrDash(l.getVolumeUUID()));
    d.insert(QStringLiteral("GroupVolumeUUID"), textOrDash(l.getGroupVolumeUUID()));
    d.insert(ILocation::cnsB3MountPoint, textOrDash(l.getMountPoint()));
    d.insert(ILocation::cnsB3Automount, l.isAutomount());
    d.insert(ILocation::cnsB3DeviceType, qint64(l.getDeviceType()));
    d.insert(ILocation::cnsB3Removable, l.isRemovable());
    return d;
}

void ISynchron::saveToDict(QVariantMap& dict) const
{
    dict.insert(QStringLiteral("Name"), m_name);
    if (m_lastSyncDate.isValid())
        dict.insert(QStringLiteral("LastDate"), m_lastSyncDate.toUTC());
    if (m_nextProcessDate.isValid())
        dict.insert(QStringLiteral("NextDate"), m_nextProcessDate.toUTC());
    if (m_firstLocation)
        dict.insert(QStringLiteral("FirstLocation"), dictFromLocation(*m_firstLocation));
    if (m_secondLocation)
        dict.insert(QStringLiteral("SecondLocation"), dictFromLocation(*m_secondLocation));
    dict.insert(QStringLiteral("Direction"), qint64(m_direction));
    dict.insert(QStringLiteral("Options"), qint64(m_options));
    dict.insert(QStringLiteral("Color"), m_colorData.isEmpty() ? ProjectColor::encode(m_color) : m_colorData);

    QVariantMap filters;
    filters.insert(QStringLiteral("ExcludeInvisible"), isExcludeInvisible());
    filters.insert(QStringLiteral("ExcludeFinderData"), isExcludeFinderData());
    filters.insert(QStringLiteral("ExcludeApplications"), isExcludeApplications());
    filters.insert(QStringLiteral("ExcludeAliases"), isExcludeAliases());
    filters.insert(QStringLiteral("ExcludeExtAttrs"), qint64(extendedAttrsProcessType()));
    filters.insert(QStringLiteral("ExcludeByPattern"), isExcludeByPattern());
    if (!m_nsExcludePattern.isNull())
        filters.insert(QStringLiteral("ExcludePattern"), m_nsExcludePattern);
    dict.insert(QStringLiteral("Filters"), filters);

    QVariantMap schedule;
    schedule.insert(QStringLiteral("UseScheduled"), m_bScheduled);
    schedule.insert(QStringLiteral("ScheduleIntervalType"), qint64(m_ScheduleIntervalType));
    schedule.insert(QStringLiteral("TimeHH"), qint64(m_nScheduleTimeHH));
    schedule.insert(QStringLiteral("TimeMM"), qint64(m_nScheduleTimeMM));
    schedule.insert(QStringLiteral("WeekDay"), qint64(m_nScheduleWeekDay));
    schedule.insert(QStringLiteral("MonthDay"), qint64(m_nScheduleMonthDay));
    schedule.insert(QStringLiteral("TimeInterval"), qint64(m_nScheduleTimeInterval));
    dict.insert(QStringLiteral("Schedule"), schedule);

    dict.insert(QStringLiteral("LastProcessFailed"), _lastProcessFailed);
    dict.insert(QStringLiteral("UseAdminPrivileges"), IProject::isUseAdminPrivilegesForPass(-1));
    dict.insert(QStringLiteral("ProcessOnMount"), _processOnMount);
    dict.insert(QStringLiteral("USBAutomountForProcess"), _USBAutomountForProcess);
    dict.insert(QStringLiteral("CloneWarnDialog"), _startCloningWarnDialog);
    dict.insert(QStringLiteral("SynchronizeType"), qint64(m_syncType));
    if (m_excludePathList && !m_excludePathList->isEmpty())
        dict.insert(QStringLiteral("ExcludePathList"), QVariant(*m_excludePathList).toList());
    IProject::saveToDict(dict);
}

bool ISynchron::loadFromDict(const QVariantMap& dict, int scheme)
{
    const bool hasName = isString(dict, QStringLiteral("Name"));
    if (hasName)
        setName(dict.value(QStringLiteral("Name")).toString());
    if (dict.value(QStringLiteral("LastDate")).typeId() == QMetaType::QDateTime)
        setLastSyncDate(dict.value(QStringLiteral("LastDate")).toDateTime());
    if (dict.value(QStringLiteral("NextDate")).typeId() == QMetaType::QDateTime)
        setNextProcessDate(dict.value(QStringLiteral("NextDate")).toDateTime());
    if (scheme < 1) {
        // Lists older than the scheme kept folder paths and synchronizations only.
        if (isString(dict, QStringLiteral("FirstFolder")))
            setFirstFolder(dict.value(QStringLiteral("FirstFolder")).toString());
        if (isString(dict, QStringLiteral("SecondFolder")))
            setSecondFolder(dict.value(QStringLiteral("SecondFolder")).toString());
    } else {
        if (dict.value(QStringLiteral("FirstLocation")).typeId() == QMetaType::QVariantMap)
            m_firstLocation = locationFromDict(dict.value(QStringLiteral("FirstLocation")).toMap());
        if (dict.value(QStringLiteral("SecondLocation")).typeId() == QMetaType::QVariantMap)
            m_secondLocation = locationFromDict(dict.value(QStringLiteral("SecondLocation")).toMap());
    }
    if (isNumber(dict, QStringLiteral("Direction"))) {
        const qint64 d = intOf(dict, QStringLiteral("Direction"));
        if (d >= 0 && d <= 2)
            m_direction = int(d);
    }
    if (isNumber(dict, QStringLiteral("Options")))
        m_options = quint64(intOf(dict, QStringLiteral("Options")));
    if (dict.value(QStringLiteral("Color")).typeId() == QMetaType::QByteArray) {
        const QByteArray data = dict.value(QStringLiteral("Color")).toByteArray();
        bool ok = false;
        setColor(ProjectColor::decode(data, &ok));
        if (ok)
            m_colorData = data;
    }
    const QVariant filtersValue = dict.value(QStringLiteral("Filters"));
    if (filtersValue.typeId() == QMetaType::QVariantMap) {
        const QVariantMap f = filtersValue.toMap();
        const struct
        {
            const char* key;
            quint64 bit;
        } bits[] = { { "ExcludeInvisible", FilterInvisible }, { "ExcludeFinderData", FilterFinderData },
            { "ExcludeApplications", FilterApplications }, { "ExcludeAliases", FilterAliases },
            { "ExcludeByPattern", FilterExcludeByPattern } };
        for (const auto& b : bits)
            if (isNumber(f, QLatin1String(b.key)))
                setBit(m_exclude, b.bit, boolOf(f, QLatin1String(b.key)));
        if (isNumber(f, QStringLiteral("ExcludeExtAttrs")))
            setExtendedAttrsProcessType(int(intOf(f, QStringLiteral("ExcludeExtAttrs"))));
        if (isString(f, QStringLiteral("ExcludePattern")))
            setExcludePattern(f.value(QStringLiteral("ExcludePattern")).toString());
    }
    const QVariant scheduleValue = dict.value(QStringLiteral("Schedule"));
    if (scheduleValue.typeId() == QMetaType::QVariantMap) {
        const QVariantMap s = scheduleValue.toMap();
        if (isNumber(s, QStringLiteral("UseScheduled")))
            setScheduled(boolOf(s, QStringLiteral("UseScheduled")));
        if (isNumber(s, QStringLiteral("ScheduleIntervalType")))
            setScheduleIntervalType(int(intOf(s, QStringLiteral("ScheduleIntervalType"))));
        if (isNumber(s, QStringLiteral("TimeHH")))
            m_nScheduleTimeHH = qint16(intOf(s, QStringLiteral("TimeHH")));
        if (isNumber(s, QStringLiteral("TimeMM")))
            m_nScheduleTimeMM = qint16(intOf(s, QStringLiteral("TimeMM")));
        if (isNumber(s, QStringLiteral("WeekDay"))) {
            const qint64 w = intOf(s, QStringLiteral("WeekDay"));
            if (scheme < 2)
                // older lists: one day number, 1 Monday ... 7 Sunday; 0 stood for Sunday
                m_nScheduleWeekDay = (w >= 1 && w <= 7) ? qint16(1 << (w - 1)) : qint16(64);
            else
                m_nScheduleWeekDay = qint16(w);
        }
        if (isNumber(s, QStringLiteral("MonthDay")))
            m_nScheduleMonthDay = qint16(intOf(s, QStringLiteral("MonthDay")));
        if (isNumber(s, QStringLiteral("TimeInterval")))
            m_nScheduleTimeInterval = qint16(intOf(s, QStringLiteral("TimeInterval")));
    }
    // An interval below one minute would rerun a type-4 project at every pass of the timer.
    if (m_nScheduleTimeInterval < 1)
        m_nScheduleTimeInterval = 240;
    if (isNumber(dict, QStringLiteral("LastProcessFailed")))
        setLastProcessFailed(boolOf(dict, QStringLiteral("LastProcessFailed")));
    if (isNumber(dict, QStringLiteral("UseAdminPrivileges")))
        setUseAdminPrivileges(boolOf(dict, QStringLiteral("UseAdminPrivileges")));
    if (isNumber(dict, QStringLiteral("ProcessOnMount")))
        setProcessOnMount(boolOf(dict, QStringLiteral("ProcessOnMount")));
    if (isNumber(dict, QStringLiteral("USBAutomountForProcess")))
        setUSBAutomountForProcess(boolOf(dict, QStringLiteral("USBAutomountForProcess")));
    setStartCloningWarnDialog(isNumber(dict, QStringLiteral("CloneWarnDialog"))
            ? boolOf(dict, QStringLiteral("CloneWarnDialog"))
            : true);
    int type = 0;
    if (scheme >= 1 && isNumber(dict, QStringLiteral("SynchronizeType"))) {
        const qint64 t = intOf(dict, QStringLiteral("SynchronizeType"));
        if (t == 0 || t == 1)
            type = int(t);
    }
    m_syncType = -1;
    setSynchronType(type);
    const QVariant excludes = dict.value(QStringLiteral("ExcludePathList"));
    if (excludes.typeId() == QMetaType::QVariantList) {
        QStringList list;
        for (const QVariant& v : excludes.toList())
            if (v.typeId() == QMetaType::QString && !v.toString().isEmpty() && !list.contains(v.toString()))
                list.append(v.toString());
        m_excludePathList = list;
    }
    IProject::loadFromDict(dict);
    m_bModified = false;
    return hasName;
}

void ISynchron::setToDefault()
{
    m_firstLocation.reset();
    m_secondLocation.reset();
    removeExcludesTmpFileNameCustom(true, true);
    m_direction = 0;
    m_options = 0;
    _startCloningWarnDialog = true;
    m_lastSyncDate = QDateTime();
    m_exclude = 0;
    m_nsExcludePattern = QString();
    m_bScheduled = false;
    m_ScheduleIntervalType = 2;
    m_nScheduleTimeHH = 18;
    m_nScheduleTimeMM = 30;
    m_nScheduleTimeInterval = 240;
    m_nScheduleWeekDay = 31;
    m_nScheduleMonthDay = 1;
    _processOnMount = false;
    _lastProcessFailed = false;
    m_color = ProjectColor::defaultColor();
    m_colorData.clear();
    m_nextProcessDate = QDateTime();
    m_textInfo.set(QByteArray());
    m_bModified = true;
}
