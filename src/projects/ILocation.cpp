#include "projects/ILocation.h"

#include "platform/FsKinds.h"
#include "platform/MainThread.h"
#include "platform/MountInfo.h"
#include "platform/NameCodec.h"
#include "platform/PlistBridge.h"
#include "platform/UuidText.h"
#include "utilities/CVolumeMounter.h"
#include "utilities/ICommon.h"
#include "utilities/IPathUtil.h"
#include "utilities/IProcController.h"
#include "utilities/QVLog.h"

#include <QAbstractFileIconProvider>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QGuiApplication>
#include <QUrl>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

const QString ILocation::cnsB3URL = QStringLiteral("URL");
const QString ILocation::cnsB3PathFromMountPoint = QStringLiteral("PathFromMountPoint");
const QString ILocation::cnsB3DisplayName = QStringLiteral("DisplayName");
const QString ILocation::cnsB3VolumeUUID = QStringLiteral("VolumeUUID");
const QString ILocation::cnsB3MountPoint = QStringLiteral("MountPoint");
const QString ILocation::cnsB3DeviceType = QStringLiteral("DeviceType");
const QString ILocation::cnsB3Automount = QStringLiteral("Automount");
const QString ILocation::cnsB3Tag = QStringLiteral("Tag");
const QString ILocation::cnsB3Removable = QStringLiteral("Removable");
const QString ILocation::cnsDiskImageFileNameExtension = QStringLiteral("sparsebundle");

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

QString nullIfEmpty(const QString& s)
{
    return s.isEmpty() ? QString() : s;
}

// A stored "number": a plist integer, real or boolean; texts never count.
bool isNumber(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
        return true;
    default:
        return false;
    }
}

qint64 numberValue(const QVariant& v)
{
    return v.typeId() == QMetaType::Double ? qint64(v.toDouble()) : v.toLongLong();
}

// "-" stands for an empty text in the stored form.
QString storedText(const QVariantMap& dict, const QString& key)
{
    const QVariant v = dict.value(key);
    if (v.typeId() != QMetaType::QString || v.toString() == QLatin1String("-"))
        return QString();
    return v.toString();
}

QString textOrDash(const QString& s)
{
    return s.isEmpty() ? QStringLiteral("-") : s;
}

bool pathExists(const QString& path)
{
    struct stat st;
    return !path.isEmpty() && ::stat(ILocation::pathBytes(path).constData(), &st) == 0;
}

// Share URLs are the same when scheme and host match without case and the rest matches as is.
bool sameShareURL(const QString& a, const QString& b)
{
    const QUrl ua(a), ub(b);
    if (!ua.isValid() || !ub.isValid())
        return a == b;
    return ua.scheme().compare(ub.scheme(), Qt::CaseInsensitive) == 0
        && ua.host().compare(ub.host(), Qt::CaseInsensitive) == 0 && ua.port() == ub.port()
        && ua.userName() == ub.userName() && ua.path() == ub.path();
}

// Whether a mounted share (the URL its record or mount names) is the share of a location's URL.
// A mount's source never names the port (sshfs keeps it in its options), so a port counts only
// when both name one.
bool isMountOfShare(const QString& mounted, const QString& wanted)
{
    const QUrl um(mounted), uw(wanted);
    if (mounted.isEmpty() || !um.isValid() || !uw.isValid())
        return false;
    return um.scheme().compare(uw.scheme(), Qt::CaseInsensitive) == 0
        && um.host().compare(uw.host(), Qt::CaseInsensitive) == 0
        && (um.port() < 0 || uw.port() < 0 || um.port() == uw.port()) && um.userName() == uw.userName()
        && um.path() == uw.path();
}

QString sizeText(double bytes)
{
    return ICommon::sizeDescriptionWithFileSize(quint64(bytes < 0 ? 0 : bytes));
}

} // namespace

// ---- path helpers ------------------------------------------------------------------------

QByteArray ILocation::pathBytes(const QString& path)
{
    return NameCodec::encode(path);
}

QString ILocation::pathFromBytes(const QByteArray& bytes)
{
    return NameCodec::decode(bytes);
}

QString ILocation::joinPath(const QString& mountPoint, const QString& inner)
{
    if (inner.isEmpty())
        return mountPoint;
    if (mountPoint.isEmpty())
        return inner;
    const bool slashEnd = mountPoint.endsWith(QLatin1Char('/'));
    const bool slashStart = inner.startsWith(QLatin1Char('/'));
    if (slashEnd && slashStart)
        return mountPoint + inner.mid(1);
    if (!slashEnd && !slashStart)
        return mountPoint + QLatin1Char('/') + inner;
    return mountPoint + inner;
}

QString ILocation::innerPathBelow(const QString& mountPoint, const QString& path)
{
    if (mountPoint.isEmpty() || path.isEmpty())
        return QString();
    QString mp = mountPoint;
    while (mp.size() > 1 && mp.endsWith(QLatin1Char('/')))
        mp.chop(1);
    QString p = path;
    while (p.size() > 1 && p.endsWith(QLatin1Char('/')))
        p.chop(1);
    if (mp == QLatin1String("/"))
        return p.startsWith(QLatin1Char('/')) ? p.mid(1) : QString();
    if (p == mp)
        return QStringLiteral("");
    if (p.startsWith(mp) && p.at(mp.size()) == QLatin1Char('/'))
        return p.mid(mp.size());
    return QString();
}

// ---- construction ------------------------------------------------------------------------

ILocation::ILocation() = default;
ILocation::~ILocation() = default;

ILocation* ILocation::create()
{
    return new ILocation();
}

ILocation* ILocation::createCopy(const ILocation& o)
{
    ILocation* l = create();
    l->m_DisplayName = o.m_DisplayName;
    l->m_MountPoint = o.m_MountPoint;
    l->m_URLStr = o.m_URLStr;
    l->setPathFromMountPoint(o.m_Path);
    l->m_Image = o.m_Image;
    l->m_FreeMB = o.m_FreeMB;
    l->m_Writable = o.m_Writable;
    l->m_Removable = o.m_Removable;
    l->m_Local = o.m_Local;
    l->m_DirectAccess = o.m_DirectAccess;
    l->m_Automount = o.m_Automount;
    l->m_Active = o.m_Active;
    l->m_volumeUUID = o.m_volumeUUID;
    l->_flags = o._flags;
    l->m_DeviceType = o.m_DeviceType;
    l->m_Empty = o.m_Empty;
    l->m_tag = o.m_tag;
    l->m_APFS = o.m_APFS;
    l->m_HFSp = o.m_HFSp;
    l->m_FUSE = o.m_FUSE;
    l->_role = o._role;
    return l;
}

void ILocation::fillFromLocation(const ILocation& o, bool copyPath, bool copyAutomount)
{
    m_DisplayName = o.m_DisplayName;
    m_MountPoint = o.m_MountPoint;
    m_URLStr = o.m_URLStr;
    if (copyPath)
        setPathFromMountPoint(o.m_Path);
    m_Image = o.m_Image;
    m_FreeMB = o.m_FreeMB;
    m_Writable = o.m_Writable;
    m_Removable = o.m_Removable;
    m_Local = o.m_Local;
    m_DirectAccess = o.m_DirectAccess;
    if (copyAutomount)
        m_Automount = o.m_Automount;
    m_Active = o.m_Active;
    m_DeviceType = o.m_DeviceType;
    m_volumeUUID = o.m_volumeUUID;
    m_Empty = o.m_Empty;
    m_tag = o.m_tag;
    m_APFS = o.m_APFS;
    m_HFSp = o.m_HFSp;
    _sysVersion = o._sysVersion;
}

void ILocation::clear()
{
    m_DisplayName = QStringLiteral("");
    m_MountPoint = QString();
    m_URLStr = QString();
    m_Path = QString();
    m_Image = QIcon();
    m_BSDName = QString();
    m_groupVolumeUUID = QString();
    m_volumeUUID = QString();
    m_userDevice = QString();
    _useBDI = false;
    m_BDIImagePath = QString();
    m_BDIContentPath = QString();
    m_Empty = true;
    m_Automount = false;
    m_DeviceType = DeviceFixed;
    m_FreeMB = m_TotalMB = 0;
    m_usedSizeMB = 0;
    _groupUsedSizeMB = -1;
    _grouped = false;
    m_Writable = m_Removable = m_Local = m_DirectAccess = false;
    m_tag = -1;
    _flags = 0;
    m_HFSp = m_APFS = m_FUSE = m_caseSensitiveFS = false;
    m_bootable = m_system = false;
    _sysVersion = SysVersion();
}

// ---- stored form -------------------------------------------------------------------------

ILocation* ILocation::locationFromDict(const QVariantMap& dict)
{
    ILocation* l = create();
    if (const QString s = storedText(dict, cnsB3URL); !s.isEmpty())
        l->setURLStr(s);
    if (const QString s = storedText(dict, cnsB3PathFromMountPoint); !s.isEmpty())
        l->setPathFromMountPoint(s);
    if (const QString s = storedText(dict, cnsB3DisplayName); !s.isEmpty())
        l->setDisplayName(s);
    if (const QString s = storedText(dict, cnsB3VolumeUUID); !s.isEmpty())
        l->setVolumeUUID(s);
    if (const QString s = storedText(dict, cnsB3MountPoint); !s.isEmpty())
        l->setMountPoint(s);
    if (const QVariant v = dict.value(cnsB3DeviceType); isNumber(v)) {
        const qint64 type = numberValue(v);
        if (type >= -1 && type <= 6)
            l->m_DeviceType = int(type);
    }
    const QVariant automount = dict.value(cnsB3Automount);
    l->m_Automount = isNumber(automount) && numberValue(automount) != 0;
    if (const QVariant v = dict.value(cnsB3Tag); isNumber(v))
        l->m_tag = numberValue(v);
    const QVariant removable = dict.value(cnsB3Removable);
    l->m_Removable = isNumber(removable) && numberValue(removable) != 0;
    // The root volume is found again by its mount point: its UUID changes with each system.
    if (l->m_MountPoint == QLatin1String("/"))
        l->m_volumeUUID = QString();
    l->reset();
    return l;
}

QVariantMap ILocation::dictFromLocation(const ILocation& l)
{
    QVariantMap d;
    d.insert(cnsB3URL, textOrDash(l.m_URLStr));
    d.insert(cnsB3PathFromMountPoint, textOrDash(l.m_Path));
    d.insert(cnsB3DisplayName, l.m_DisplayName.isNull() ? QStringLiteral("-") : l.m_DisplayName);
    d.insert(cnsB3VolumeUUID, textOrDash(l.m_volumeUUID));
    d.insert(cnsB3MountPoint, textOrDash(l.m_MountPoint));
    d.insert(cnsB3DeviceType, qint64(l.m_DeviceType));
    d.insert(cnsB3Automount, l.m_Automount);
    d.insert(cnsB3Tag, l.m_tag);
    d.insert(cnsB3Removable, l.m_Removable);
    return d;
}

// ---- binding to the volume table ---------------------------------------------------------

VolumeItemPtr ILocation::itemWithDevice(const QString& device) const
{
    if (device.isEmpty())
        return nullptr;
    for (const VolumeItemPtr& item : ILocationServices::shared().volumeItems()) {
        if (item && item->source == device)
            return item;
    }
    return nullptr;
}

VolumeItemPtr ILocation::volumeItem() const
{
    const QList<VolumeItemPtr> items = ILocationServices::shared().volumeItems();
    VolumeItemPtr found;
    if (!m_volumeUUID.isEmpty()) {
        // Bind mounts and second mounts share a UUID: the one at the stored mount point wins.
        for (const VolumeItemPtr& item : items) {
            if (!item || !UuidText::equal(item->volumeUUID, m_volumeUUID))
                continue;
            if (!found)
                found = item;
            if (!m_MountPoint.isEmpty() && item->strMountPoint() == m_MountPoint) {
                found = item;
                break;
            }
        }
    } else if (isNetwork() && !m_URLStr.isEmpty()) {
        std::optional<QList<MountEntry>> mounts;
        for (const VolumeItemPtr& item : items) {
            if (!item)
                continue;
            if (item->connection == VolumeBaseItem::ConnectionNet && isMountOfShare(item->source, m_URLStr)) {
                found = item;
                break;
            }
            // Shares whose mount names no device (sshfs, nfs) keep no URL in their record: the
            // mount behind the record says which share it is.
            if (item->connection != VolumeBaseItem::ConnectionNetNoDevice || item->mountId <= 0)
                continue;
            if (!mounts)
                mounts = MountInfo::read();
            for (const MountEntry& m : *mounts) {
                if (m.mountId == item->mountId
                    && isMountOfShare(CVolumeMounter::shareURLFromSource(m.fsType, m.source), m_URLStr)) {
                    found = item;
                    break;
                }
            }
            if (found)
                break;
        }
    } else if (!m_MountPoint.isEmpty()) {
        for (const VolumeItemPtr& item : items) {
            if (item && item->strMountPoint() == m_MountPoint) {
                found = item;
                break;
            }
        }
    }
    if (!found && (m_DeviceType == DeviceFixed || m_DeviceType == DeviceUSB)
        && !m_groupVolumeUUID.isEmpty()) {
        for (const VolumeItemPtr& item : items) {
            if (item && item->role == VolumeBaseItem::RoleSystem && item->groupUUID == m_groupVolumeUUID)
                return item;
        }
    }
    return found;
}

bool ILocation::setupWithPath(const QString& rawPath)
{
    if (rawPath.isEmpty())
        return false;
    const QString path = QFileInfo(rawPath).isAbsolute() ? rawPath : QFileInfo(rawPath).absoluteFilePath();
    VolumeItemPtr skipping, any;
    QString skippingInner, anyInner;
    int skippingLength = -1, anyLength = -1;
    for (const VolumeItemPtr& item : ILocationServices::shared().volumeItems()) {
        if (!item)
            continue;
        const QString mp = item->strMountPoint();
        const QString inner = innerPathBelow(mp, path);
        if (inner.isNull())
            continue;
        const int length = pathBytes(mp).size();
        if (length > anyLength) {
            any = item;
            anyInner = inner;
            anyLength = length;
        }
        if (item->role != VolumeBaseItem::RoleData && length > skippingLength) {
            skipping = item;
            skippingInner = inner;
            skippingLength = length;
        }
    }
    if (!skipping)
        return false;
    if (skipping == any) {
        setupFromVBI(*skipping);
        setPathFromMountPoint(skippingInner);
        return true;
    }
    // The path lies on the Data volume of a group: the location names the System volume.
    const VolumeItemPtr system = itemWithDevice(any->partnerDevice);
    if (!system)
        return false;
    setupFromVBI(*system);
    setPathFromMountPoint(anyInner);
    return true;
}

void ILocation::setupFromVBI(const VolumeBaseItem& item)
{
    // A share place bound to its mount: a share mounted without a device record (sshfs, NFS)
    // keeps the server URL the place was given, as the mount-point URL would not find it again
    // once it is unmounted.
    const bool keepShare = item.connection == VolumeBaseItem::ConnectionNetNoDevice && isNetwork()
        && !m_URLStr.isEmpty() && !m_URLStr.startsWith(QLatin1String("file:"));
    const QString fsType = item.fsTypeName;
    m_HFSp = item.fileSystem == 7 || FsKinds::family(fsType) == FsKinds::Family::MacExtended;
    m_APFS = item.fileSystem == 8 || item.fileSystem == 9 || FsKinds::family(fsType) == FsKinds::Family::Apfs;
    m_FUSE = item.fileSystem == 12 || item.fileSystem == 13 || fsType.startsWith(QLatin1String("fuse"));
    m_bootable = m_HFSp || m_APFS;

    m_Writable = !(item.flags & (0x04 | VolumeBaseItem::FlagReadOnly));
    m_Removable = (item.flags & VolumeBaseItem::FlagRemovable)
        || item.connection == VolumeBaseItem::ConnectionUSB
        || item.connection == VolumeBaseItem::ConnectionVirtual;
    m_Local = item.connection == VolumeBaseItem::ConnectionInternal
        || item.connection == VolumeBaseItem::ConnectionUSB
        || item.connection == VolumeBaseItem::ConnectionVirtual;
    m_DirectAccess = item.connection == VolumeBaseItem::ConnectionInternal;

    m_DisplayName = item.name;
    if (!keepShare)
        m_URLStr = item.connection == VolumeBaseItem::ConnectionNet
            ? item.source
            : VolumeBaseItem::mountPointURLText(item.strMountPoint());
    m_BSDName = (item.connection == VolumeBaseItem::ConnectionNet
                    || item.connection == VolumeBaseItem::ConnectionNetNoDevice)
        ? QString()
        : item.source;

    m_FreeMB = item.freeMB < 0 ? 0 : quint64(item.freeMB);
    m_TotalMB = item.totalMB < 0 ? 0 : quint64(item.totalMB);
    m_usedSizeMB = qint64(item.usedMB);
    _grouped = !item.partnerDevice.isEmpty();
    _role = item.role;
    m_Active = true;
    m_volumeUUID = item.volumeUUID;

    // A volume outside a group has no group size (-1): a size of 0 or more marks a System/Data pair.
    _groupUsedSizeMB = -1;
    if (_grouped) {
        _groupUsedSizeMB = m_usedSizeMB;
        if (const VolumeItemPtr partner = itemWithDevice(item.partnerDevice)) {
            const qint64 running = ILocationServices::shared().runningSystemVersion();
            if (running >= 101500)
                _groupUsedSizeMB = m_usedSizeMB + qint64(partner->usedMB);
        }
    }

    m_Empty = false;
    m_MountPoint = item.strMountPoint();
    if (item.flags & (VolumeBaseItem::FlagBigSurGroup | VolumeBaseItem::FlagMontereyGroup))
        m_groupVolumeUUID = item.groupUUID;

    switch (item.connection) {
    case VolumeBaseItem::ConnectionUSB:
        m_DeviceType = DeviceUSB;
        break;
    case VolumeBaseItem::ConnectionNet:
        m_DeviceType = DeviceNetworkVolume;
        break;
    case VolumeBaseItem::ConnectionVirtual:
        m_DeviceType = DeviceImage;
        break;
    case VolumeBaseItem::ConnectionNetNoDevice:
        m_DeviceType = keepShare ? DeviceNetworkVolume : DeviceCloud;
        break;
    default:
        m_DeviceType = DeviceFixed;
        break;
    }

    m_Image = QIcon(); // made again by getImage() for the new kind
    if (item.connection == VolumeBaseItem::ConnectionInternal)
        m_userDevice = QStringLiteral("");
    else
        m_userDevice = item.deviceDescription;
    if (m_DeviceType == DeviceCloud)
        m_userDevice = tr("Cloud disks");
    else if (m_DeviceType == DeviceNetworkVolume)
        m_userDevice = tr("Network");

    _flags &= ~(qint64(FlagSealedBigSur) | qint64(FlagSealedMonterey));
    if (item.flags & VolumeBaseItem::FlagBigSurGroup)
        _flags |= FlagSealedBigSur;
    else if (item.flags & VolumeBaseItem::FlagMontereyGroup)
        _flags |= FlagSealedMonterey;
    _sysVersion = SysVersion { item.sysVersionData.version, item.sysVersionData.update,
        item.sysVersionData.securityData };
}

void ILocation::setVolumeInfo(const LocationVolumeInfo& info)
{
    m_DisplayName = info.displayName;
    m_MountPoint = info.mountPoint;
    m_URLStr = info.URL;
    setFreeMB(info.freeMB);
    m_TotalMB = info.totalMB < 0 ? 0 : quint64(info.totalMB);
    m_Writable = info.writable;
    m_Removable = info.removable;
    m_Local = info.local;
    m_DirectAccess = info.directAccess;
    if (info.URL.isEmpty()) {
        m_Empty = true;
        return;
    }
    m_Empty = false;
    if (info.URL.startsWith(QLatin1String("file:")))
        m_DeviceType = info.mountPoint == QLatin1String("/") ? DeviceFixed : DeviceUSB;
    else
        m_DeviceType = DeviceNetworkVolume;
}

void ILocation::reset()
{
    if (const VolumeItemPtr item = volumeItem())
        setupFromVBI(*item);
    else
        m_Active = false;
}

void ILocation::correctRemovable()
{
    reset();
}

bool ILocation::correctActive()
{
    m_Active = volumeItem() != nullptr;
    return m_Active;
}

namespace {
thread_local int t_eventRoundsPaused = 0;
} // namespace

ILocation::EventRoundsPause::EventRoundsPause()
{
    ++t_eventRoundsPaused;
}

ILocation::EventRoundsPause::~EventRoundsPause()
{
    --t_eventRoundsPaused;
}

bool ILocation::eventRoundsPaused()
{
    return t_eventRoundsPaused > 0;
}

void ILocation::processEventsBriefly(int rounds) const
{
    // Interface events may run here, but no user input: a click must not delete the project
    // whose location is being asked.
    if (!QCoreApplication::instance() || !isMainThread() || eventRoundsPaused())
        return;
    ModalDepthGuard guard;
    for (int i = 0; i < rounds; ++i)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

bool ILocation::isActiveForce()
{
    QElapsedTimer timer;
    timer.start();
    while (!ILocationServices::shared().isVolumeBaseFilled() && timer.elapsed() < 10000 && !eventRoundsPaused())
        processEventsBriefly(1);
    reset();
    return m_Active;
}

// ---- fields ------------------------------------------------------------------------------

QString ILocation::getDisplayName() const
{
    return nullIfEmpty(m_DisplayName);
}

void ILocation::setDisplayName(const QString& name)
{
    m_DisplayName = name.isNull() ? QStringLiteral("") : name;
}

QString ILocation::getMountPoint() const
{
    return nullIfEmpty(m_MountPoint);
}

void ILocation::setMountPoint(const QString& mountPoint)
{
    m_MountPoint = mountPoint;
}

QString ILocation::getURLStr() const
{
    return nullIfEmpty(m_URLStr);
}

void ILocation::setURLStr(const QString& url)
{
    m_URLStr = url;
    m_Empty = url.isEmpty() && m_DeviceType != DeviceCD;
}

QString ILocation::getPathFromMountPoint() const
{
    return nullIfEmpty(m_Path);
}

void ILocation::setPathFromMountPoint(const QString& path)
{
    if (path == m_Path && !(path.isNull() != m_Path.isNull()))
        return;
    m_Path = path;
    if (m_Path.endsWith(cnsDiskImageFileNameExtension)) {
        _useBDI = true;
        m_BDIImagePath = getUnverifiedFullPath();
        m_BDIContentPath = QString();
    } else {
        _useBDI = false;
        m_BDIImagePath = QString();
        m_BDIContentPath = QString();
    }
}

QString ILocation::getVolumeUUID() const
{
    return nullIfEmpty(m_volumeUUID);
}

void ILocation::setVolumeUUID(const QString& uuid)
{
    m_volumeUUID = uuid;
}

QString ILocation::getVolumeUUIDForced()
{
    if (m_volumeUUID.isEmpty() && !m_MountPoint.isEmpty())
        m_volumeUUID = ILocationServices::shared().volumeUUIDForMountPoint(m_MountPoint);
    return getVolumeUUID();
}

void ILocation::setUsedSizeMB(qint64 used)
{
    _grouped = false;
    m_usedSizeMB = used;
    _groupUsedSizeMB = -1;
}

void ILocation::setUsedSizeMB(qint64 used, qint64 groupUsed)
{
    _grouped = true;
    m_usedSizeMB = used;
    _groupUsedSizeMB = groupUsed;
}

QString ILocation::getDeviceTypeString() const
{
    switch (m_DeviceType) {
    case DeviceFixed:
        return tr("Fixed");
    case DeviceUSB:
        return m_Removable ? tr("USB") : tr("Fixed");
    case DeviceCD:
        return tr("CD/DVD(RW)");
    case DeviceImage:
        return tr("Disk Image");
    case DeviceNetwork:
    case DeviceNetworkVolume:
        return tr("Network Volume");
    case DeviceToast:
        return QStringLiteral("CDRW_TOAST");
    default:
        return tr("Unknown");
    }
}

QIcon ILocation::getImage() const
{
    if (!m_Active)
        return QIcon();
    return m_Image.isNull() ? findDeviceImage() : m_Image;
}

ILocation::SysVersion ILocation::getSysVersion()
{
    if (_role == VolumeBaseItem::RoleSystem && _sysVersion.version == 0) {
        if (const VolumeItemPtr item = volumeItem()) {
            const VolumeSysVersion v = item->sysVersion();
            _sysVersion = SysVersion { v.version, v.update, v.securityData };
        }
    }
    return _sysVersion;
}

// ---- derived answers ---------------------------------------------------------------------

bool ILocation::isUnmountable() const
{
    return (m_DeviceType == DeviceFixed || m_DeviceType == DeviceUSB) && m_MountPoint != QLatin1String("/");
}

bool ILocation::isBroken() const
{
    return m_DisplayName.isEmpty() && m_MountPoint.isEmpty() && m_volumeUUID.isEmpty() && m_URLStr.isEmpty()
        && m_Path.isEmpty() && m_BSDName.isEmpty() && m_DeviceType == DeviceNone;
}

bool ILocation::isDoubleVolume() const
{
    return ILocationServices::shared().runningSystemVersion() >= 101500 && _groupUsedSizeMB >= 0;
}

qint64 ILocation::getUsedSpace() const
{
    if (m_APFS)
        return _grouped ? _groupUsedSizeMB : m_usedSizeMB;
    return qint64(m_TotalMB) - qint64(m_FreeMB);
}

bool ILocation::hasSytemFolders() const
{
    if (!m_Active || m_MountPoint.isEmpty())
        return false;
    for (const char* name : { "bin", "private", "etc", "Library", "System", "Users", "sbin", "usr", "var" }) {
        if (!pathExists(joinPath(m_MountPoint, QLatin1String(name))))
            return false;
    }
    return true;
}

bool ILocation::isSystem()
{
    if (m_MountPoint.isEmpty())
        return false;
    const VolumeSysVersion v = ILocationServices::shared().fullSystemVersionForMountPoint(m_MountPoint);
    if (v.version == 0 || (v.version >= 101500 && !_grouped))
        return false;
    return hasSytemFolders() && (m_APFS || m_HFSp);
}

bool ILocation::isPresentBySnapshot() const
{
    // A volume mounted from one of its snapshots: the mounted subvolume lies in a .qvsnapshots folder.
    if (m_MountPoint.isEmpty())
        return false;
    for (const MountEntry& m : MountInfo::read()) {
        if (m.mountPoint == m_MountPoint && m.root.contains(QLatin1String("/.qvsnapshots/")))
            return true;
    }
    return false;
}

bool ILocation::isEqualToLocation(const ILocation& o) const
{
    const QString inner = getPathFromMountPoint(), otherInner = o.getPathFromMountPoint();
    if (m_DeviceType == DeviceFixed || m_DeviceType == DeviceUSB) {
        if (!m_volumeUUID.isEmpty() && !o.m_volumeUUID.isEmpty())
            return UuidText::equal(m_volumeUUID, o.m_volumeUUID) && inner == otherInner;
        return getMountPoint() == o.getMountPoint() && inner == otherInner;
    }
    if (m_DisplayName != o.m_DisplayName || inner != otherInner)
        return false;
    // Shares of one name on two servers are two places.
    if (isNetwork() && !m_URLStr.isEmpty() && !o.m_URLStr.isEmpty())
        return sameShareURL(m_URLStr, o.m_URLStr);
    return true;
}

bool ILocation::isEqualToLocationVolume(const ILocation& o) const
{
    if (m_DeviceType == DeviceFixed || m_DeviceType == DeviceUSB) {
        if (!m_volumeUUID.isEmpty() && !o.m_volumeUUID.isEmpty())
            return UuidText::equal(m_volumeUUID, o.m_volumeUUID);
        return getMountPoint() == o.getMountPoint();
    }
    return m_DisplayName == o.m_DisplayName;
}

// ---- display texts -----------------------------------------------------------------------

QString ILocation::macFS() const
{
    if (m_FUSE)
        return QStringLiteral(" FUSE");
    if (m_HFSp)
        return QStringLiteral(" HFS+");
    if (m_APFS) {
        if (!_grouped)
            return QStringLiteral(" APFS");
        if (!isFlag(FlagSealedBigSur))
            return QStringLiteral(" APFS vg");
        return isPresentBySnapshot() ? QStringLiteral(" APFS vgS") : QStringLiteral(" APFS vgs");
    }
    return QStringLiteral("");
}

QString ILocation::getVersionString() const
{
    const int v = _sysVersion.version;
    if (v == 0)
        return QString();
    QString s = QString::asprintf("%d.%02d.%02d", (v / 10000) % 100, (v / 100) % 100, v % 100);
    if (_sysVersion.sysUpdate != 0)
        s += QStringLiteral("(%1)").arg(_sysVersion.sysUpdate);
    if (_sysVersion.softUpdate != 0)
        s += QStringLiteral(" U%1").arg(_sysVersion.softUpdate);
    return s;
}

QString ILocation::getMenuItemTooltip() const
{
    const QString fs = macFS();
    QString tip;
    if (fs.endsWith(QLatin1String("vg")))
        tip = QStringLiteral("vg - volume group");
    else if (fs.endsWith(QLatin1String("vgs")))
        tip = QStringLiteral("vg - volume group\ns - BIG SUR");
    else if (fs.endsWith(QLatin1String("vgS")))
        tip = QStringLiteral("vg - volume group\nS - BIG SUR (with snapshot)");
    else
        tip = QStringLiteral("");
    const QString version = getVersionString();
    if (!version.isNull())
        tip += QStringLiteral("\nver. %1").arg(version);
    return tip;
}

QString ILocation::getMenuTitleFreeSpace() const
{
    if (m_DeviceType != DeviceToast && (m_Writable || _role == VolumeBaseItem::RoleSystem) && m_FreeMB != 0
        && m_Active) {
        const QString size = sizeText(double(m_FreeMB) * 1000000.0);
        if (size.isNull())
            return m_DisplayName + macFS();
        return m_DisplayName + QStringLiteral(" (Free: %1)%2").arg(size, macFS());
    }
    return m_DisplayName;
}

QString ILocation::getMenuTitleSpaceForClone() const
{
    if (m_DeviceType != DeviceToast && (m_Writable || _role == VolumeBaseItem::RoleSystem) && m_Active)
        return m_DisplayName
            + QStringLiteral(" (%1)%2").arg(sizeText(double(m_TotalMB) * 1000000.0), macFS());
    return m_DisplayName;
}

QString ILocation::getMenuTitleUsedSpace() const
{
    if (m_DeviceType != DeviceToast && m_TotalMB != 0 && m_Active)
        return m_DisplayName
            + QStringLiteral(" (%1: %2) %3")
                  .arg(tr("Used"), sizeText(double(getUsedSpace()) * 1000000.0), macFS());
    return m_DisplayName;
}

QString ILocation::getMenuTitleFullSpace() const
{
    if (m_DeviceType != DeviceToast && m_Writable && m_TotalMB != 0 && m_Active) {
        const QString size = sizeText(double(m_TotalMB) * 1000000.0);
        if (size.isNull())
            return m_DisplayName + macFS();
        return m_DisplayName + QStringLiteral(" (%1)%2").arg(size, macFS());
    }
    return m_DisplayName;
}

QString ILocation::deviceImageName() const
{
    if (m_MountPoint == QLatin1String("/"))
        return QString();
    switch (m_DeviceType) {
    case DeviceNone:
    case DeviceFixed:
        return m_Removable ? QStringLiteral("LocalMountedLocation") : QStringLiteral("HDLocation");
    case DeviceUSB:
        return QStringLiteral("LocalMountedLocation");
    case DeviceCD:
        return QStringLiteral("CDAudioVolumeIcon");
    case DeviceImage:
        return QStringLiteral("diskimagedoc");
    case DeviceNetwork:
    case DeviceNetworkVolume:
        return m_Active ? QStringLiteral("NETMntLocation") : QStringLiteral("NETUnmLocation");
    case DeviceCloud:
        return m_Active ? QString() : QStringLiteral("NETUnmLocation");
    default:
        return QStringLiteral("CDAudioVolumeIcon"); // no burning application on this system
    }
}

QIcon ILocation::findDeviceImage() const
{
    // Icons need a GUI application (themes, pixmaps); engine tools without one get none.
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return QIcon();
    const QString name = deviceImageName();
    if (name.isEmpty()) {
        if (m_MountPoint == QLatin1String("/"))
            return QIcon::fromTheme(QStringLiteral("drive-harddisk"));
        if (const QIcon own(joinPath(m_MountPoint, QStringLiteral(".VolumeIcon.icns")));
            !own.isNull() && pathExists(joinPath(m_MountPoint, QStringLiteral(".VolumeIcon.icns"))))
            return own;
        QAbstractFileIconProvider provider;
        return provider.icon(QFileInfo(m_MountPoint));
    }
    const QString resource = QStringLiteral(":/images/%1.png").arg(name);
    if (QFileInfo::exists(resource))
        return QIcon(resource);
    static const QHash<QString, QString> theme {
        { QStringLiteral("HDLocation"), QStringLiteral("drive-harddisk") },
        { QStringLiteral("LocalMountedLocation"), QStringLiteral("drive-removable-media") },
        { QStringLiteral("CDAudioVolumeIcon"), QStringLiteral("media-optical") },
        { QStringLiteral("diskimagedoc"), QStringLiteral("application-x-raw-disk-image") },
        { QStringLiteral("NETMntLocation"), QStringLiteral("folder-remote") },
        { QStringLiteral("NETUnmLocation"), QStringLiteral("network-offline") },
    };
    QIcon icon = QIcon::fromTheme(theme.value(name));
    if (icon.isNull()) {
        QAbstractFileIconProvider provider;
        icon = provider.icon(m_DeviceType == DeviceNetwork || m_DeviceType == DeviceNetworkVolume
                ? QAbstractFileIconProvider::Network
                : QAbstractFileIconProvider::Drive);
    }
    return icon;
}

// ---- paths -------------------------------------------------------------------------------

QString ILocation::getUnverifiedFullPath() const
{
    if (!m_MountPoint.isEmpty())
        return joinPath(m_MountPoint, m_Path);
    if (!m_URLStr.isEmpty()) {
        const QString urlPath = QUrl(m_URLStr).path();
        return m_Path.isEmpty() ? urlPath : joinPath(urlPath, m_Path);
    }
    return nullIfEmpty(m_Path);
}

QString ILocation::getFullPath()
{
    processEventsBriefly(10);
    correctActive();
    if (!m_Active || m_MountPoint.isEmpty())
        return QString();
    const QString path = joinPath(m_MountPoint, m_Path);
    const int fd = ::open(pathBytes(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return QString();
    ::close(fd);
    return path;
}

QString ILocation::getContentPathVerify(bool verify)
{
    if (isBDI())
        return nullIfEmpty(m_BDIContentPath);
    return verify ? getFullPath() : getUnverifiedFullPath();
}

bool ILocation::isBDI() const
{
    return _useBDI && !m_BDIImagePath.isEmpty();
}

bool ILocation::isBDIActive() const
{
    return !m_BDIImagePath.isEmpty() && !m_BDIContentPath.isEmpty();
}

QString ILocation::getBDIFileName() const
{
    return m_BDIImagePath.isEmpty() ? QString() : QFileInfo(m_BDIImagePath).fileName();
}

bool ILocation::mountBDI()
{
    if (m_BDIImagePath.isEmpty())
        return false;
    QString content, comment;
    if (ILocationServices::shared().attachDiskImage(m_BDIImagePath, &content, &comment)
        && !content.isEmpty()) {
        m_BDIContentPath = content;
        return true;
    }
    if (!comment.isEmpty())
        QVFullLog(QStringLiteral("Disk image attaching error:  %1").arg(comment));
    return false;
}

bool ILocation::unmountBDI()
{
    if (m_BDIImagePath.isEmpty())
        return false;
    if (ILocationServices::shared().detachDiskImage(m_BDIImagePath)) {
        m_BDIContentPath = QString();
        return true;
    }
    QVFullLog(QStringLiteral("Disk image detataching error"));
    return false;
}

// ---- access and mounting -----------------------------------------------------------------

bool ILocation::isAccessMayBePreparedWithAutomount(bool automount)
{
    if (m_Path.endsWith(cnsDiskImageFileNameExtension))
        return true;
    if (isNetwork() && m_Automount)
        return true;
    if (!automount || !isUnmountable() || m_volumeUUID.isEmpty())
        return false;
    bool mounted = false;
    return !ILocationServices::shared().volumeBSDNameByUUID(m_volumeUUID, &mounted).isEmpty();
}

int ILocation::getAccessWithAdmin(bool admin, bool automount, bool hardLinkTest)
{
    const VolumeItemPtr item = volumeItem();
    if (!item)
        return isAccessMayBePreparedWithAutomount(automount) ? AccessPreparable : AccessNone;
    if (isBDI() && !isBDIActive())
        return AccessPreparable;
    const bool readOnly = item->flags & VolumeBaseItem::FlagReadOnly;
    if (item->role != VolumeBaseItem::RoleSystem && readOnly)
        return AccessReadOnly;
    if (item->role == VolumeBaseItem::RoleSystem) {
        if (item->partnerDevice.size() < 5)
            ILocationServices::shared().correctGroupDataItem(item);
        if (item->partnerDevice.size() < 5)
            return AccessDataMissing;
        if (!IPathUtil::isFirmLinkPath(m_Path)) {
            if (readOnly)
                return AccessReadOnly;
        } else {
            const VolumeItemPtr partner = itemWithDevice(item->partnerDevice);
            if (!partner)
                return AccessNone;
            if (partner->flags & VolumeBaseItem::FlagReadOnly)
                return AccessReadOnly;
        }
    }
    const QString path = isBDI() ? m_BDIContentPath : getFullPath();
    if (path.isEmpty())
        return AccessNone;
    int level;
    if (admin && m_DeviceType != DeviceNetwork && m_DeviceType != DeviceNetworkVolume
        && m_DeviceType != DeviceCloud) {
        if (m_DeviceType > DeviceImage || m_DeviceType == DeviceCD || m_DeviceType == DeviceNone)
            return AccessNone;
        level = AccessReadWrite;
    } else {
        const QByteArray bytes = pathBytes(path);
        if (::access(bytes.constData(), R_OK) != 0)
            return AccessNone;
        level = ::access(bytes.constData(), W_OK) != 0 ? AccessReadOnly : AccessReadWrite;
    }
    if (!hardLinkTest || level < AccessReadWrite)
        return level;
    if (m_DeviceType == DeviceNetwork || m_DeviceType == DeviceNetworkVolume)
        return IProcController::isFolderSupportHardLinks(path, false) ? AccessHardLinks : AccessReadWrite;
    if (m_DeviceType == DeviceFixed || m_DeviceType == DeviceUSB || m_DeviceType == DeviceImage)
        return (m_HFSp || m_APFS) ? AccessHardLinks : AccessReadWrite;
    return AccessReadWrite;
}

bool ILocation::innerPathExists(bool useAdmin, bool admin) const
{
    if (m_Path.isEmpty())
        return true;
    const QString path = joinPath(m_MountPoint, m_Path);
    if (useAdmin) {
        bool isDir = false;
        return IProcController::fileExistsAtPath(path, &isDir, admin, nullptr);
    }
    return pathExists(path);
}

bool ILocation::prepareShare(bool useAdmin, bool admin)
{
    if (m_URLStr.isEmpty())
        return false;
    ILocationServices& services = ILocationServices::shared();
    LocationVolumeInfo info;
    info.URL = m_URLStr;
    if (services.isVolumeMounted(info)) {
        m_Active = true;
        removeFlag(FlagUnmountedByProgram);
        if (m_MountPoint.isEmpty())
            setVolumeInfo(info);
        return innerPathExists(useAdmin, admin);
    }
    m_Active = false;
    if (!m_Automount)
        return false;
    QString error;
    if (!services.mountVolume(info, &error))
        return !m_MountPoint.isEmpty() && innerPathExists(useAdmin, admin);
    setVolumeInfo(info);
    m_Active = true;
    removeFlag(FlagUnmountedByProgram);
    addFlag(FlagMountedByProgram | FlagUnmountAfterRun);
    return innerPathExists(useAdmin, admin);
}

bool ILocation::mount()
{
    if (m_URLStr.isEmpty())
        return false;
    ILocationServices& services = ILocationServices::shared();
    LocationVolumeInfo info;
    info.URL = m_URLStr;
    m_Active = services.isVolumeMounted(info);
    if (m_Active) {
        if (m_MountPoint.isEmpty())
            setVolumeInfo(info);
        return innerPathExists(false, false);
    }
    QString error;
    if (services.mountVolume(info, &error)) {
        setVolumeInfo(info);
        m_Active = true;
    }
    return !m_MountPoint.isEmpty() && innerPathExists(false, false);
}

bool ILocation::prepare()
{
    return prepareShare(false, false);
}

bool ILocation::prepareWithAdmin(bool admin)
{
    return prepareShare(true, admin);
}

// Unmounts only what this call's prepare mounted (flag 16 set by it), and only when its mount
// point really is a mount now: never a share someone else mounted, never the volume that happens
// to hold a missing mount point.
void ILocation::unmountWhatThisCallMounted(bool mountedBefore)
{
    if (mountedBefore || !isFlag(FlagMountedByProgram) || m_MountPoint.isEmpty())
        return;
    bool isMount = false;
    for (const MountEntry& m : MountInfo::read())
        isMount = isMount || m.mountPoint == m_MountPoint;
    if (isMount && ILocationServices::shared().unmountVolume(m_MountPoint))
        removeFlag(FlagMountedByProgram | FlagUnmountAfterRun);
}

bool ILocation::canRead()
{
    if (!getFullPath().isEmpty() || m_Active)
        return true;
    const bool mountedBefore = isFlag(FlagMountedByProgram);
    if (!prepare())
        return false;
    const bool result = !getFullPath().isEmpty();
    unmountWhatThisCallMounted(mountedBefore);
    return result;
}

bool ILocation::writeTest()
{
    const QString folder = getFullPath();
    if (folder.isEmpty() || !m_Writable)
        return false;
    // A unique name made with O_EXCL: a user's file of the same name is never touched.
    QByteArray pattern = pathBytes(joinPath(folder, QStringLiteral("WriteTestFile_Kelvane2.XXXXXX")));
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0)
        return false;
    ::close(fd);
    ::unlink(pattern.constData());
    return true;
}

bool ILocation::canWrite()
{
    if (!getFullPath().isEmpty())
        return writeTest();
    if (m_Active)
        return true;
    const bool mountedBefore = isFlag(FlagMountedByProgram);
    if (!prepare())
        return false;
    const bool result = !getFullPath().isEmpty() && writeTest();
    unmountWhatThisCallMounted(mountedBefore);
    return result;
}

bool ILocation::isValidForWriteSize()
{
    if (!canWrite())
        return false;
    const QString path = getFullPath();
    if (path.size() < 3)
        return m_DeviceType != DeviceFixed;
    return true;
}
