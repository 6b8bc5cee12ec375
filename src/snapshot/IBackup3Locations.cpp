// The places of a snapshot-backup project in its stored dictionary.

#include "platform/NameSanitizer.h"
#include "platform/PlistBridge.h"
#include "platform/UuidText.h"
#include "projects/ILocation.h"
#include "projects/ProjectNames.h"
#include "projects/IPlaceMounter.h"
#include "snapshot/B3DictKeys.h"
#include "snapshot/B3Places.h"
#include "snapshot/IBackup3.h"
#include "snapshot/IBackup3Container.h"
#include "snapshot/IDiskImage.h"
#include "utilities/CommonFunctions.h"
#include "utilities/LogOptions.h"
#include "utilities/QVLog.h"
#include "utilities/WorkEndStatus.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <unistd.h>

using namespace B3DictKeys;

QString IBackup3::defaultFileName(const QString& name, const QString& uuid)
{
    // "/" reads as a separator in a folder name, so it becomes "|" as the name dialog shows it.
    QString base = ProjectNames::fromInput(name);
    if (base.isNull())
        base.clear();
    // leave room for "_" and the identifier within one path component
    const int room = NameSanitizer::kMaxComponentBytes - 1 - int(uuid.toUtf8().size());
    QByteArray bytes = base.toUtf8();
    if (bytes.size() > room) {
        int cut = qMax(room, 0);
        while (cut > 0 && (uchar(bytes.at(cut)) & 0xC0) == 0x80)
            --cut;
        bytes.truncate(cut);
        base = QString::fromUtf8(bytes);
    }
    return base + QLatin1Char('_') + uuid;
}

// ---- Stored places ----------------------------------------------------------------------------

namespace {

bool isStoredNumber(const QVariant& v)
{
    return PlistValue::isNumber(v) || v.typeId() == QMetaType::Bool;
}

qint64 storedNumber(const QVariant& v)
{
    if (v.typeId() == QMetaType::Bool)
        return v.toBool() ? 1 : 0;
    return PlistValue::isInteger(v) ? v.toLongLong() : qint64(v.toDouble());
}

// A stored text: a string other than "-", which stands for "none".
QString storedText(const QVariantMap& d, const QString& key)
{
    const QVariant v = d.value(key);
    if (v.typeId() != QMetaType::QString || v.toString() == QLatin1String("-"))
        return QString();
    return v.toString();
}

QVariant textOrDash(const QString& s)
{
    return s.isEmpty() ? QStringLiteral("-") : s;
}

} // namespace

std::shared_ptr<ILocation> IBackup3::locationFromDict(const QVariantMap& dict)
{
    std::shared_ptr<ILocation> l(ILocation::create());
    l->setMountPoint(QString());
    if (const QString s = storedText(dict, ILocation::cnsB3URL); !s.isNull())
        l->setURLStr(s);
    if (const QString s = storedText(dict, ILocation::cnsB3PathFromMountPoint); !s.isNull())
        l->setPathFromMountPoint(s);
    if (const QString s = storedText(dict, ILocation::cnsB3DisplayName); !s.isNull())
        l->setDisplayName(s);
    if (const QString s = storedText(dict, ILocation::cnsB3VolumeUUID); !s.isNull())
        l->setVolumeUUID(s);
    if (const QString s = storedText(dict, ILocation::cnsB3MountPoint); !s.isNull())
        l->setMountPoint(s);
    // The generic location reader takes -1 to 6; snapshot-backup lists have also stored cloud-disk
    // places (7), so this reader keeps that type too.
    if (const QVariant v = dict.value(ILocation::cnsB3DeviceType); isStoredNumber(v)) {
        const qint64 type = storedNumber(v);
        if (type >= -1 && type <= 7)
            l->setDeviceType(int(type));
    }
    const QVariant automount = dict.value(ILocation::cnsB3Automount);
    l->setAutomount(isStoredNumber(automount) && storedNumber(automount) != 0);
    if (const QVariant v = dict.value(ILocation::cnsB3Tag); isStoredNumber(v))
        l->setTag(storedNumber(v));
    const QVariant removable = dict.value(ILocation::cnsB3Removable);
    l->setRemovable(isStoredNumber(removable) && storedNumber(removable) != 0);
    // The start volume is found by its mount point: its UUID changes with each installation.
    if (l->getMountPoint() == QLatin1String("/"))
        l->setVolumeUUID(QString());
    // Bind to the mounted volume; an unbound place is kept (its volume may be mounted later)
    // unless it names nothing at all.
    l->reset();
    if (!l->isActive() && l->isBroken())
        return nullptr;
    return l;
}

QVariantMap IBackup3::dictFromLocation(const ILocation& l)
{
    QVariantMap d;
    d.insert(ILocation::cnsB3URL, textOrDash(l.getURLStr()));
    d.insert(ILocation::cnsB3PathFromMountPoint, textOrDash(l.getPathFromMountPoint()));
    d.insert(ILocation::cnsB3DisplayName, textOrDash(l.getDisplayName()));
    d.insert(ILocation::cnsB3VolumeUUID, textOrDash(l.getVolumeUUID()));
    d.insert(ILocation::cnsB3MountPoint, textOrDash(l.getMountPoint()));
    d.insert(ILocation::cnsB3DeviceType, qint64(l.getDeviceType()));
    d.insert(ILocation::cnsB3Automount, l.isAutomount());
    d.insert(ILocation::cnsB3Tag, qint64(l.getTag()));
    d.insert(ILocation::cnsB3Removable, l.isRemovable());
    return d;
}

QVariantList IBackup3::arrayFromSrcLocations() const
{
    QVariantList array;
    for (const auto& l : m_srcLocations)
        if (l)
            array.append(dictFromLocation(*l));
    return array;
}

QList<std::shared_ptr<ILocation>> IBackup3::loadSrcLocationsFromArray(const QVariantList& array)
{
    QList<std::shared_ptr<ILocation>> result;
    for (qsizetype i = 0; i < array.size(); ++i) {
        if (array.at(i).typeId() != QMetaType::QVariantMap)
            continue;
        std::shared_ptr<ILocation> l = locationFromDict(array.at(i).toMap());
        if (!l)
            continue;
        if (l->getTag() < 0)
            l->setTag(i + 1);
        result.append(l);
    }
    return result;
}

void IBackup3::saveLocationsToDict(QVariantMap& dict) const
{
    if (m_destLocation)
        dict.insert(cnsB3DestLocation, dictFromLocation(*m_destLocation));
    dict.insert(cnsB3SrcLocations, arrayFromSrcLocations());
}

void IBackup3::loadLocationsFromDict(const QVariantMap& dict, int scheme)
{
    // Lists written before the property scheme existed load without a destination: the user
    // chooses it anew.
    if (scheme > 0 && dict.value(cnsB3DestLocation).typeId() == QMetaType::QVariantMap)
        m_destLocation = locationFromDict(dict.value(cnsB3DestLocation).toMap());
    if (dict.value(cnsB3SrcLocations).typeId() == QMetaType::QVariantList)
        setSrcLocations(loadSrcLocationsFromArray(dict.value(cnsB3SrcLocations).toList()));
}

void IBackup3::raiseTagCounterToSources()
{
    for (const auto& l : m_srcLocations)
        if (l && l->getTag() > m_tagForLocations)
            m_tagForLocations = long(l->getTag());
}

// ---- Sources -----------------------------------------------------------------------------------

bool IBackup3::addSrcLocation(std::shared_ptr<ILocation> location)
{
    if (!location)
        return false;
    for (const auto& l : m_srcLocations)
        if (l && l->isEqualToLocation(*location))
            return false;
    ++m_tagForLocations;
    location->setTag(m_tagForLocations);
    m_srcLocations.append(std::move(location));
    return true;
}

bool IBackup3::isConfigured() const
{
    return !m_srcLocations.isEmpty() || m_destLocation || m_lastProcessDate.isValid();
}

bool IBackup3::isDestinationActive() const
{
    return m_destLocation && m_destLocation->correctActive();
}

static bool isRemovableUSB(const ILocation& l)
{
    return l.getDeviceType() == ILocation::DeviceUSB && l.isRemovable();
}

long IBackup3::removableLocationCountWithExtDest(ILocation* dest)
{
    ILocation* d = dest ? dest : m_destLocation.get();
    long count = 0;
    if (d) {
        d->correctRemovable();
        if (isRemovableUSB(*d))
            ++count;
    }
    for (const auto& s : m_srcLocations)
        if (s && isRemovableUSB(*s))
            ++count;
    return count;
}

QList<std::shared_ptr<ILocation>> IBackup3::removableLocationList()
{
    QList<std::shared_ptr<ILocation>> list;
    if (removableLocationCountWithExtDest(nullptr) == 0)
        return list;
    if (m_destLocation && isRemovableUSB(*m_destLocation))
        list.append(m_destLocation);
    for (const auto& s : m_srcLocations)
        if (s && isRemovableUSB(*s))
            list.append(s);
    return list;
}

QStringList IBackup3::removableVolumeUUIDs()
{
    QStringList uuids;
    for (const auto& l : removableLocationList())
        if (!l->getVolumeUUID().isEmpty())
            uuids.append(l->getVolumeUUID());
    return uuids;
}

bool IBackup3::isAnySourcesNetworkMounted(bool* notActive) const
{
    bool any = false;
    for (const auto& s : m_srcLocations) {
        if (!s || s->getDeviceType() != ILocation::DeviceNetworkVolume)
            continue;
        any = true;
        if (notActive && !s->isActive())
            *notActive = true;
    }
    return any;
}

bool IBackup3::isNeedToProcessOnMount(const QString& mountedPath)
{
    if (!m_destLocation)
        return false;
    m_destLocation->reset();
    if (m_destLocation->getMountPoint().isEmpty())
        return false;
    std::unique_ptr<ILocation> mounted(ILocation::create());
    // The volume table may not have taken in the new mount yet: the mount point alone then asks
    // the disk information for the volume's UUID.
    if (!mounted->setupWithPath(mountedPath))
        mounted->setMountPoint(mountedPath);
    const QString uuid = mounted->getVolumeUUIDForced();
    const bool wanted = m_processOnMount && (!m_bScheduled || m_lastProcessFailed);
    const QList<std::shared_ptr<ILocation>> removable = removableLocationList();
    if (removable.isEmpty() || uuid.isEmpty())
        return false;
    for (const auto& l : removable)
        if (UuidText::equal(l->getVolumeUUID(), uuid))
            return wanted;
    return false;
}

// The last component of a place's inner path; its display name when it has none.
static QString innerLastComponent(const ILocation& l)
{
    QString inner = l.getPathFromMountPoint();
    while (inner.endsWith(QLatin1Char('/')))
        inner.chop(1);
    const QString last = inner.mid(inner.lastIndexOf(QLatin1Char('/')) + 1);
    return last.isEmpty() ? l.getDisplayName() : last;
}

bool IBackup3::testSrcLocations(QList<long>& indexes, quint32* preProcessStatus)
{
    indexes.clear();
    if (m_srcLocations.isEmpty())
        return false;
    for (qsizetype i = 0; i < m_srcLocations.size(); ++i) {
        ILocation* s = m_srcLocations.at(i).get();
        if (!s || isPathInExcludePathList(s->getUnverifiedFullPath()))
            continue;
        s->setAutomount(isFullAutomount());
        // A local place is ready when its volume is mounted and the folder is there; a share may
        // be mounted here.
        const bool ready = s->isNetwork() ? s->prepare() : !s->getFullPath().isEmpty();
        if (!ready) {
            processMessage(QCoreApplication::translate(
                               "Localizable", "Warning: Source file/folder \"%1\" was not found!")
                               .arg(innerLastComponent(*s)),
                LogWord::ProjectRunLog, this);
            if (preProcessStatus)
                *preProcessStatus |= wesWarnings;
        } else if (!isPathInExcludePathList(s->getUnverifiedFullPath())) {
            indexes.append(long(i));
        }
        s->setAutomount(false);
    }
    if (!indexes.isEmpty())
        return true;
    processMessage(QCoreApplication::translate("Localizable", "Files to back up are not found"),
        LogWord::ProjectWindowRunLog, this);
    return false;
}

QString IBackup3::srcFolderPathForPass(long pass) const
{
    const ILocation* s = sourceLocationForPass(pass);
    return s ? s->getUnverifiedFullPath() : QString();
}

QString IBackup3::destinationFullPath() const
{
    return m_destLocation ? m_destLocation->getUnverifiedFullPath() : QString();
}

B3ExcludeFile::Rules IBackup3::customExcludeRulesForPass(long pass) const
{
    const QString src = srcFolderPathForPass(pass);
    if (src.isEmpty())
        return B3ExcludeFile::Rules();
    // A backup must never copy its own earlier versions: the project folder is left out when it
    // lies inside the source.
    QStringList extra;
    const QString dest = destinationFullPath();
    if (!dest.isEmpty() && !useBDI())
        extra << B3Places::joinPath(dest, projectBackupFolder());
    // The same for the image bundle of an image destination.
    if (useBDI() && m_BDI && !m_BDI->imagePathVerified(false).isEmpty())
        extra << m_BDI->imagePathVerified(false);
    return B3ExcludeFile::rulesForSource(src, m_excludePathList.value_or(QStringList()), extra);
}

QStringList IBackup3::customExcludeArgumentsForPass(long pass) const
{
    return customExcludeRulesForPass(pass).arguments;
}

bool IBackup3::saveCustomExcludesIntoTmpFileForPass(long pass)
{
    IBackup3Container* container = backup3Container();
    return saveCustomExcludeLines(
        customExcludeRulesForPass(pass).lines, container ? container->tempFolderPath() : QString());
}

// ---- What a run asks of the project ------------------------------------------------------------

QString IBackup3::sourcePathForPass(long pass) const
{
    return needRestore() ? QString() : srcFolderPathForPass(pass);
}

QString IBackup3::destPathForPass(long) const
{
    return needRestore() ? QString() : destFolderPath();
}

QString IBackup3::linkFolderPath() const
{
    if (m_lastProcessFolder.isEmpty() || !B3RestoreItem::isSinglePathComponent(m_lastProcessFolder))
        return QString();
    const QString project = projectFolderPath();
    return project.isEmpty() ? QString() : B3Places::joinPath(project, m_lastProcessFolder);
}

QString IBackup3::QV3InfoPath() const
{
    if (!m_destLocation || !m_destLocation->correctActive() || !m_destLocation->canRead())
        return QString();
    const QString folder = B3Places::joinPath(m_destLocation->getUnverifiedFullPath(), projectBackupFolder());
    if (!QFileInfo(folder).isDir())
        return QString();
    const QString path
        = B3Places::joinPath(folder, QString::fromLatin1(B3Places::cnsB3BackupProjectFolderInfoName));
    const PlistBridge::ReadResult read = PlistBridge::readFile(path);
    if (read.status != PlistBridge::ReadStatus::Ok || read.value.typeId() != QMetaType::QVariantMap)
        return QString();
    const QString uuid = PlistValue::string(read.value.toMap(), cnsB3UUIDKey);
    return !uuid.isEmpty() && uuid == m_UUID ? path : QString();
}

static bool isMacFileSystem(const ILocation& l)
{
    return l.isAPFS() || l.isHFSp();
}

bool IBackup3::isMacDest() const
{
    return m_destLocation && isMacFileSystem(*m_destLocation);
}

bool IBackup3::isMacSrcDestForPass(long pass) const
{
    std::unique_ptr<ILocation> source(ILocation::create());
    std::shared_ptr<ILocation> dest;
    if (needRestore()) {
        if (!source->setupWithPath(restoreSrcFolderPathForPass(pass)))
            source.reset();
        dest.reset(ILocation::create());
        if (!dest->setupWithPath(restoreDestFolderPathForPass(pass)))
            dest.reset();
    } else {
        if (!source->setupWithPath(srcFolderPathForPass(pass)))
            source.reset();
        dest = m_destLocation;
    }
    if (source)
        source->reset();
    if (dest)
        dest->reset();
    const bool destIsMac = useBDI() || (dest && isMacFileSystem(*dest));
    return destIsMac && source && isMacFileSystem(*source);
}

bool IBackup3::isSourceDoubleVolumeSystemForPass(long pass) const
{
    const ILocation* source = sourceLocationForPass(pass);
    return source && QVSystemVersion() >= 101500 && source->isGrouped();
}

void IBackup3::printStartStatisticToLog()
{
    auto tr = [](const char* text) { return QCoreApplication::translate("Localizable", text); };
    processMessage(m_processingBySchedule ? tr("Started by scheduler") : tr("Started by user"),
        LogWord::ProjectRunLog, this);
    for (const auto& s : m_srcLocations) {
        if (!s)
            continue;
        processMessage(tr("Source \"%1\" Info: %2").arg(innerLastComponent(*s), infoTextForLocation(s.get())),
            LogWord::ProjectRunLog, this);
    }
    const QString destInfo = m_destLocation ? infoTextForLocation(m_destLocation.get()) : QString();
    processMessage(useBDI() ? tr("Destination Volume Info: Disk Image; %1").arg(destInfo)
                            : tr("Destination Volume Info: %1").arg(destInfo),
        LogWord::ProjectRunLog, this);
}

// ---- Mounting ----------------------------------------------------------------------------------

bool IBackup3::doMount()
{
    return mountPlaces(false);
}

bool IBackup3::doAutomount()
{
    return mountPlaces(true);
}

bool IBackup3::mountPlaces(bool automount)
{
    auto tr = [](const char* text) { return QCoreApplication::translate("Localizable", text); };
    IPlaceMounter& mounter = IPlaceMounter::shared();
    const qint64 mark = automount ? qint64(ILocation::FlagUnmountAfterRun) : 0;
    const bool skip = automount && !isFullAutomount();
    bool ok = true;
    ILocation* dest = m_destLocation.get();
    if (dest && dest->getDeviceType() == ILocation::DeviceNetworkVolume && !dest->isActiveForce()) {
        if (!skip && !mounter.mountLocation(dest, mark)) {
            processMessage(tr("Target automount error"), LogWord::ProjectWindowRunLog, this);
            processMessage(
                QVFuncStatus(QStringLiteral("CVolumeMounter::mountLocation")), LogWord::ProjectRunLog, this);
            ok = false;
        }
    } else if (dest
        && (dest->getDeviceType() == ILocation::DeviceFixed || dest->getDeviceType() == ILocation::DeviceUSB)
        && !dest->isActiveForce() && dest->isUnmountable() && !skip) {
        if (automount)
            processMessage(tr("Mounting target volume..."), LogWord::ProjectStatusWindowRunLog, this);
        for (int i = 0; i < 3; ++i)
            QVProcessEvents();
        bool mounted = false;
        const QString device = mounter.volumeBSDNameByUUID(dest->getVolumeUUID(), &mounted);
        if (device.isEmpty()) {
            QVFullLog(QStringLiteral("***     Target bsdName not found"));
            return false;
        }
        QString answer = mounter.mountDiskForVolumeBSDName(device);
        if (!answer.isEmpty()) {
            if (answer.endsWith(QLatin1Char('\n')))
                answer.chop(1);
            if (automount)
                processMessage(answer, LogWord::ProjectStatusWindowRunLog, this);
            if (answer.contains(QLatin1String("success"))) {
                if (mark)
                    dest->addFlag(mark);
                dest->reset(); // now bound to the volume just mounted
            } else {
                QVFullLog(QStringLiteral("***     Target not mounted"));
                ok = false;
            }
        }
    }
    if (!ok || m_srcLocations.isEmpty())
        return false;
    bool anyMounted = false;
    for (const auto& s : m_srcLocations) {
        if (!s || s->getDeviceType() != ILocation::DeviceNetworkVolume || s->isActiveForce() || skip)
            continue;
        if (mounter.mountLocation(s.get(), mark)) {
            anyMounted = true;
        } else {
            processMessage(tr("Source \"%1\" automount error").arg(s->getDisplayName()),
                LogWord::ProjectWindowRunLog, this);
            processMessage(
                QVFuncStatus(QStringLiteral("CVolumeMounter::mountLocation")), LogWord::ProjectRunLog, this);
        }
    }
    return anyMounted;
}

void IBackup3::doAutoUnmount()
{
    IPlaceMounter& mounter = IPlaceMounter::shared();
    ILocation* dest = m_destLocation.get();
    if (dest && dest->isActive() && dest->isFlag(ILocation::FlagUnmountAfterRun)) {
        processMessage(QCoreApplication::translate("Localizable", "Unmounting Target volume..."),
            LogWord::ProjectStatusWindowRunLog, this);
        mounter.unmountLocation(dest, 0);
        dest->removeFlag(ILocation::FlagUnmountAfterRun);
    }
    // Only what this project's run mounted: a volume someone else mounted stays.
    for (const auto& s : m_srcLocations)
        if (s && s->isFlag(ILocation::FlagUnmountAfterRun))
            mounter.unmountLocation(s.get(), 0);
}

// ---- Ownership ---------------------------------------------------------------------------------

bool IBackup3::doOwnersEnablePepare()
{
    if (::geteuid() != 0 || !m_destLocation)
        return true;
    // Linux file systems always keep owners: ownership counts as on, and there is nothing to
    // switch, so the mark of a switch made by the program is set for the ending to clear.
    m_destLocation->addFlag(1);
    if (!useBDI())
        m_destLocation->addFlag(ILocation::FlagOwnersEnabled);
    return true;
}

bool IBackup3::doOwnersEnableEnding()
{
    if (::geteuid() != 0 || !m_destLocation)
        return true;
    if (!useBDI() && m_destLocation->isFlag(ILocation::FlagOwnersEnabled))
        m_destLocation->removeFlag(ILocation::FlagOwnersEnabled);
    return true;
}
