#include "utilities/IVolumeBase.h"

#include "platform/AppPaths.h"
#include "platform/DeviceNames.h"
#include "platform/MountWatcher.h"
#include "platform/NameCodec.h"
#include "platform/UuidText.h"
#include "utilities/DiskDescription.h"
#include "utilities/IDiskUtil.h"
#include "utilities/IShellServices.h"
#include "utilities/IVolumeLocation.h"
#include "utilities/LogOptions.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QThread>
#include <unistd.h>

namespace {

IVolumeBase* g_shared = nullptr;

QString cutBytes(const QString& text, int maxBytes)
{
    QByteArray b = NameCodec::encode(text);
    if (b.size() <= maxBytes)
        return text;
    b.truncate(maxBytes);
    // do not end inside a UTF-8 sequence
    int i = b.size();
    while (i > 0 && (uchar(b[i - 1]) & 0xC0) == 0x80)
        --i;
    if (i > 0 && uchar(b[i - 1]) >= 0xC0)
        b.truncate(i - 1);
    return NameCodec::decode(b);
}

QString displayNameOf(const QString& path)
{
    if (path == QLatin1String("/"))
        return path;
    return QFileInfo(path).fileName();
}

bool isVolatileType(const QString& type)
{
    return type == QLatin1String("tmpfs") || type == QLatin1String("ramfs");
}

// One comparison of mount-point texts: the paths they name, cleaned.
bool samePath(const QString& urlA, const QString& urlB)
{
    const QString a = VolumeBaseItem::pathFromURLText(urlA);
    return !a.isEmpty() && a == VolumeBaseItem::pathFromURLText(urlB);
}

} // namespace

IVolumeBase& IVolumeBase::shared()
{
    if (!g_shared)
        g_shared = new IVolumeBase(true);
    return *g_shared;
}

void IVolumeBase::resetShared()
{
    delete g_shared;
    g_shared = nullptr;
}

IVolumeBase::IVolumeBase(bool watchMounts, QObject* parent)
    : QObject(parent)
{
    m_settleTimer.setSingleShot(true);
    m_settleTimer.setInterval(settleMs);
    connect(&m_settleTimer, &QTimer::timeout, this, &IVolumeBase::updateDiskList);
    if (watchMounts) {
        m_watcher = new MountWatcher(this);
        connect(m_watcher, &MountWatcher::mounted, this, &IVolumeBase::deviceNotifyMount);
        connect(m_watcher, &MountWatcher::unmounted, this, &IVolumeBase::deviceNotifyUnmount);
        connect(m_watcher, &MountWatcher::renamed, this, &IVolumeBase::deviceNotifyRename);
    }
}

IVolumeBase::~IVolumeBase() = default;

// ---- fill ------------------------------------------------------------------------------------

IVolumeBase::Built IVolumeBase::build() const
{
    Built b;
    const QList<MountEntry> mounts = MountInfo::read();
    rootDevicesFor(mounts, &b.rootDevice, &b.rootSnapshotDevice);
    for (const MountEntry& e : mounts) {
        if (isSkippedFor(e, b.rootDevice, b.rootSnapshotDevice))
            continue;
        if (VolumeItemPtr item = makeItem(e, mounts))
            b.items.append(item);
    }
    return b;
}

void IVolumeBase::fill()
{
    ++m_fillsInFlight;
    const Built built = build();
    if (QThread::currentThread() == thread()) {
        install(built);
    } else {
        QMetaObject::invokeMethod(
            this, [this, built] { install(built); }, Qt::QueuedConnection);
    }
}

void IVolumeBase::install(const Built& built)
{
    clear();
    m_rootDevice = built.rootDevice;
    m_rootSnapshotDevice = built.rootSnapshotDevice;
    for (const VolumeItemPtr& item : built.items) {
        const int slot = insertItem();
        if (slot < 0) {
            m_status = StatusNotCreated;
            break;
        }
        m_slots[slot] = item;
    }
    correctGroupData();
    sortIndex();
    m_filled = true;
    if (--m_fillsInFlight == 0) {
        const QList<Event> queued = m_queued;
        m_queued.clear();
        for (const Event& e : queued)
            applyEvent(e);
        if (!queued.isEmpty())
            sortIndex();
    }
    Q_EMIT baseFilled();
}

void IVolumeBase::baseFill()
{
    ++m_fillsInFlight;
    install(build());
}

// ---- slots -----------------------------------------------------------------------------------

int IVolumeBase::insertItem()
{
    m_status = StatusDone;
    if (itemCount() >= maxItems) {
        m_status = StatusFull;
        return -1;
    }
    for (int i = 0; i < maxItems; ++i) {
        if (!m_slots[i]) {
            m_slots[i] = std::make_shared<VolumeBaseItem>();
            return i;
        }
    }
    m_status = StatusFull;
    return -1;
}

bool IVolumeBase::removeItemAtIndex(int slot)
{
    if (slot < 0 || slot >= maxItems) {
        m_status = StatusOutOfRange;
        return false;
    }
    if (!m_slots[slot]) {
        m_status = StatusEmpty;
        return false;
    }
    m_slots[slot].reset();
    m_status = StatusDone;
    return true;
}

bool IVolumeBase::removeItem(const VolumeItemPtr& item)
{
    const int slot = slotOf(item.get());
    if (!item || slot < 0)
        return false;
    m_slots[slot].reset();
    m_status = StatusDone;
    return true;
}

int IVolumeBase::itemCount() const
{
    int n = 0;
    for (const VolumeItemPtr& p : m_slots)
        n += p ? 1 : 0;
    return n;
}

void IVolumeBase::clear()
{
    m_rootDevice.clear();
    m_rootSnapshotDevice.clear();
    for (VolumeItemPtr& p : m_slots)
        p.reset();
    m_sortIndex.clear();
    m_filterList.clear();
    m_filterPos = -1;
}

VolumeItemPtr IVolumeBase::itemAtIndex(int slot) const
{
    return slot >= 0 && slot < maxItems ? m_slots[slot] : nullptr;
}

int IVolumeBase::slotOf(const VolumeBaseItem* item) const
{
    if (!item)
        return -1;
    for (int i = 0; i < maxItems; ++i) {
        if (m_slots[i].get() == item)
            return i;
    }
    return -1;
}

// ---- record creation -------------------------------------------------------------------------

void IVolumeBase::defineRootDevices(const QList<MountEntry>& mounts)
{
    rootDevicesFor(mounts, &m_rootDevice, &m_rootSnapshotDevice);
}

void IVolumeBase::rootDevicesFor(
    const QList<MountEntry>& mounts, QString* rootDevice, QString* rootSnapshotDevice)
{
    rootDevice->clear();
    rootSnapshotDevice->clear();
    const std::optional<MountEntry> root = MountInfo::mountForPath(QStringLiteral("/"), mounts);
    if (!root)
        return;
    const QString name = DiskFacts::sourceName(*root);
    // A root mounted from a subvolume of the volume model: the subvolume is the snapshot
    // device and its container the root device. The suffix counts only when the device-name
    // module says so ("sds1" is a partition, not a snapshot of "sd").
    const DeviceNames::Parsed parsed = DeviceNames::parse(name, DiskFacts::sysClassBlock());
    if (parsed.isSubvolume) {
        *rootSnapshotDevice = name;
        *rootDevice = parsed.container;
    } else {
        *rootDevice = name;
    }
}

bool IVolumeBase::isSkipped(const MountEntry& entry) const
{
    return isSkippedFor(entry, m_rootDevice, m_rootSnapshotDevice);
}

bool IVolumeBase::isSkippedFor(
    const MountEntry& e, const QString& rootDevice, const QString& rootSnapshotDevice) const
{
    const QString& p = e.mountPoint;
    if (p.isEmpty())
        return true;
    static const QStringList exact = { QStringLiteral("/net"), QStringLiteral("/dev"),
        QStringLiteral("/private/var/vm"), QStringLiteral("/System/Volumes/Data/home"),
        QStringLiteral("/System/Volumes/Hardware"), QStringLiteral("/System/Volumes/xarts") };
    if (exact.contains(p) || p.startsWith(QLatin1String("/Volumes/.timemachine")))
        return true;
    if (p == QLatin1String("/home") && e.fsType == QLatin1String("autofs"))
        return true;
    if (p.startsWith(QLatin1String("/private/var/folders/")) && p.contains(QLatin1String("AppTranslocation")))
        return true;
    if (!rootSnapshotDevice.isEmpty() && DiskFacts::sourceName(e) == rootDevice)
        return true;
    if (p.contains(QLatin1String("com.apple.TimeMachine")) || e.source.contains(QLatin1String("app/Wrapper")))
        return true;
    return IDiskUtil::isSystemMount(e) || IDiskUtil::isBindMount(e);
}

void IVolumeBase::fillItemFromStatfs(
    VolumeBaseItem& item, const MountEntry& entry, const DiskFacts::Space& space)
{
    item.source = DiskFacts::sourceName(entry);
    const QString blkidType = entry.fsType == QLatin1String("fuseblk")
        ? DiskFacts::probeDevice(DiskFacts::blockDeviceOf(entry)).type
        : QString();
    item.fileSystem = VolumeBaseItem::FSTypeFromName(entry.fsType, blkidType);
    item.fsTypeName = entry.fsType;
    item.mountId = entry.mountId;
    item.mountPoint = entry.mountPoint;
    if (space.ok) {
        const double bs = double(space.blockSize);
        item.totalMB = double(space.blocks) * bs / 1e6;
        item.freeMB = double(space.availableBlocks) * bs / 1e6;
        item.usedMB = item.totalMB - double(space.freeBlocks) * bs / 1e6;
    }
    item.groupUsedMB = -1.0;
    item.partnerDevice.clear();
    item.reserved.clear();
    item.flags = 0;
}

void IVolumeBase::fillItemFromDADict(VolumeBaseItem& item, const QVariantMap& dict)
{
    if (dict.isEmpty())
        return;
    const QString vendor = dict.value(QStringLiteral("DADeviceVendor")).toString();
    const QString model = dict.value(QStringLiteral("DADeviceModel")).toString();
    QString description = vendor;
    if (!vendor.isEmpty())
        description += QLatin1Char(' ');
    description += model.trimmed();
    item.deviceDescription = cutBytes(description.trimmed(), VolumeBaseItem::textMaxBytes);

    const QString protocol = dict.value(QStringLiteral("DADeviceProtocol")).toString();
    item.connection = VolumeBaseItem::ConnectionUnknown;
    if (protocol == QLatin1String("SATA") || protocol == QLatin1String("PCI-Express"))
        item.connection = VolumeBaseItem::ConnectionInternal;
    else if (protocol == QLatin1String("USB"))
        item.connection = VolumeBaseItem::ConnectionUSB;
    else if (dict.value(QStringLiteral("DAVolumeNetwork")).toBool())
        item.connection = VolumeBaseItem::ConnectionNet;
    else if (protocol == QLatin1String("Virtual Interface"))
        item.connection = VolumeBaseItem::ConnectionVirtual;

    if (item.connection == VolumeBaseItem::ConnectionNet) {
        if (item.fileSystem == 5)
            item.source = QStringLiteral("afp:") + item.source;
        else if (item.fileSystem == 6)
            item.source = QStringLiteral("smb:") + item.source;
        else
            item.source = item.deviceDescription;
    }
    const QString name = dict.value(QStringLiteral("DAVolumeName")).toString();
    if (!name.isEmpty())
        item.name = cutBytes(name, VolumeBaseItem::nameMaxBytes);
    const QString path = dict.value(QStringLiteral("DAVolumePath")).toString();
    if (!path.isEmpty())
        item.mountPoint = VolumeBaseItem::mountPointURLText(path);
    const QVariant unit = dict.value(QStringLiteral("DAMediaBSDUnit"));
    item.BSDUnit = dict.value(QStringLiteral("DAMediaLeaf")).toBool() && unit.isValid() ? unit.toInt() : -1;
    item.volumeUUID = UuidText::normalized(dict.value(QStringLiteral("DAVolumeUUID")).toString());
    if (item.connection == VolumeBaseItem::ConnectionNet && item.source.isEmpty()
        && item.deviceDescription.isEmpty() && item.volumeUUID.isEmpty()
        && (item.fileSystem == 4 || item.fileSystem == 12 || item.fileSystem == 13 || item.fileSystem == 14))
        item.connection = VolumeBaseItem::ConnectionNetNoDevice;
    item.flags = dict.value(QStringLiteral("DAMediaRemovable")).toBool()
        ? qint64(VolumeBaseItem::FlagRemovable)
        : qint64(0);
}

void IVolumeBase::fillAdditionalItem(
    VolumeBaseItem& item, const std::optional<DiskFacts::VolumeRegistryFacts>& registry)
{
    if (!registry) {
        item.role = VolumeBaseItem::RoleNone;
        return;
    }
    QString group = registry->groupUUID;
    if (group.startsWith(QLatin1String("00000000")))
        group.clear();
    const QString role = registry->role;
    auto versionFlags = [&] {
        const qint64 v = IDiskUtil::systemVersionForMountPoint(item.strMountPoint());
        if (v >= 101600 && v <= 119999)
            item.flags |= VolumeBaseItem::FlagBigSurGroup;
        else if (v >= 120000)
            item.flags |= VolumeBaseItem::FlagMontereyGroup;
        return v;
    };
    if (!role.isEmpty()) {
        static const QHash<QString, int> codes = { { QStringLiteral("Preboot"), 2 },
            { QStringLiteral("Recovery"), 4 }, { QStringLiteral("VM"), 3 }, { QStringLiteral("System"), 6 },
            { QStringLiteral("Data"), 7 }, { QStringLiteral("Update"), 5 } };
        item.role = codes.value(role, VolumeBaseItem::RoleUnknown);
        if (item.role == VolumeBaseItem::RoleSystem || item.role == VolumeBaseItem::RoleData)
            versionFlags();
        item.groupUUID = UuidText::normalized(group);
        return;
    }
    if (group.isEmpty()) {
        item.role = VolumeBaseItem::RoleNone;
        item.groupUUID.clear();
        return;
    }
    const qint64 v = IDiskUtil::systemVersionForMountPoint(item.strMountPoint());
    if (v >= 101600 && v <= 119999) {
        item.role = VolumeBaseItem::RoleSystem;
        item.flags |= VolumeBaseItem::FlagBigSurGroup;
    } else if (v >= 120000) {
        item.role = VolumeBaseItem::RoleSystem;
        item.flags |= VolumeBaseItem::FlagMontereyGroup;
    } else {
        item.role = VolumeBaseItem::RoleNone;
    }
    item.groupUUID = UuidText::normalized(group);
}

VolumeItemPtr IVolumeBase::makeItem(const MountEntry& entry, const QList<MountEntry>& mounts)
{
    auto item = std::make_shared<VolumeBaseItem>();
    item->name = cutBytes(displayNameOf(entry.mountPoint), VolumeBaseItem::nameMaxBytes);
    const DiskFacts::Space space = DiskFacts::space(entry.mountPoint);
    fillItemFromStatfs(*item, entry, space);
    std::optional<DiskFacts::VolumeRegistryFacts> registry;
    fillItemFromDADict(*item, DiskFacts::describeMount(entry, mounts, &registry));
    fillAdditionalItem(*item, registry);
    if (item->role == VolumeBaseItem::RoleSystem)
        item->sysVersionData = IDiskUtil::fullSystemVersionForMountPoint(entry.mountPoint);
    if (space.ok && space.readOnly)
        item->flags |= VolumeBaseItem::FlagReadOnly;
    if (::access(NameCodec::encodeStd(entry.mountPoint).c_str(), W_OK) != 0)
        item->flags |= VolumeBaseItem::FlagNotWritable;
    return item;
}

VolumeItemPtr IVolumeBase::createAndFillItemFromStatfs(
    const MountEntry& entry, const QList<MountEntry>& mounts)
{
    if (isSkipped(entry))
        return nullptr;
    const int slot = insertItem();
    if (slot < 0) {
        m_status = StatusNotCreated;
        return nullptr;
    }
    m_slots[slot] = makeItem(entry, mounts);
    correctGroupDataItem(m_slots[slot]);
    return m_slots[slot];
}

// ---- lookups ---------------------------------------------------------------------------------

VolumeItemPtr IVolumeBase::itemWithDevice(const QString& device) const
{
    if (device.isEmpty())
        return nullptr;
    const QString name = device.startsWith(QLatin1String("/dev/")) ? device.mid(5) : device;
    for (const VolumeItemPtr& p : m_slots) {
        if (p && p->source == name)
            return p;
    }
    return nullptr;
}

VolumeItemPtr IVolumeBase::itemWithUUID(const QString& uuid) const
{
    if (uuid.isEmpty())
        return nullptr;
    for (const VolumeItemPtr& p : m_slots) {
        if (p && UuidText::equal(p->volumeUUID, uuid))
            return p;
    }
    return nullptr;
}

VolumeItemPtr IVolumeBase::itemWithMountPointURL(const QString& url) const
{
    if (url.isEmpty())
        return nullptr;
    for (const VolumeItemPtr& p : m_slots) {
        if (p && samePath(p->mountPoint, url))
            return p;
    }
    return nullptr;
}

VolumeItemPtr IVolumeBase::itemWithMountPointURL(const QString& url, int noRole) const
{
    if (url.isEmpty())
        return nullptr;
    for (const VolumeItemPtr& p : m_slots) {
        if (p && p->role != noRole && samePath(p->mountPoint, url))
            return p;
    }
    return nullptr;
}

VolumeItemPtr IVolumeBase::itemWithLocalURL(const QString& url, int noRole) const
{
    const QString path = VolumeBaseItem::pathFromURLText(url);
    if (path.isEmpty())
        return nullptr;
    VolumeItemPtr best;
    int bestLength = -1;
    for (const VolumeItemPtr& p : m_slots) {
        if (!p || p->role == noRole)
            continue;
        const QString mp = p->strMountPoint();
        if (mp.isEmpty() || !MountInfo::isPathUnder(path, mp))
            continue;
        if (mp.size() > bestLength) {
            best = p;
            bestLength = int(mp.size());
        }
    }
    return best;
}

VolumeItemPtr IVolumeBase::itemWithNetworkURL(const QString& url) const
{
    if (url.isEmpty())
        return nullptr;
    for (const VolumeItemPtr& p : m_slots) {
        if (p && p->connection == VolumeBaseItem::ConnectionNet && p->source == url)
            return p;
    }
    return nullptr;
}

VolumeItemPtr IVolumeBase::itemWithRole(int role, const QString& groupUUID) const
{
    if (groupUUID.isEmpty())
        return nullptr;
    for (const VolumeItemPtr& p : m_slots) {
        if (p && p->role == role && UuidText::equal(p->groupUUID, groupUUID))
            return p;
    }
    return nullptr;
}

VolumeItemPtr IVolumeBase::itemWithMountId(int mountId) const
{
    if (mountId <= 0)
        return nullptr;
    for (const VolumeItemPtr& p : m_slots) {
        if (p && p->mountId == mountId)
            return p;
    }
    return nullptr;
}

VolumeItemPtr IVolumeBase::itemWithLocation(const IVolumeLocation* location) const
{
    if (!location)
        return nullptr;
    VolumeItemPtr found;
    if (!location->volumeUUID().isEmpty())
        found = itemWithUUID(location->volumeUUID());
    else if (location->isNetwork() && !location->URLStr().isEmpty())
        found = itemWithNetworkURL(location->URLStr());
    else if (!location->mountPoint().isEmpty())
        found = itemWithMountPointURL(VolumeBaseItem::mountPointURLText(location->mountPoint()));
    if (!found && (location->deviceType() == 0 || location->deviceType() == 1))
        found = itemWithRole(VolumeBaseItem::RoleSystem, location->groupVolumeUUID());
    return found;
}

bool IVolumeBase::syncLocation(IVolumeLocation* location) const
{
    const VolumeItemPtr item = itemWithLocation(location);
    if (item)
        location->setupFromVBI(*item);
    else if (location)
        location->setActive(false);
    return item != nullptr;
}

bool IVolumeBase::findGroupWithLocation(
    const IVolumeLocation* location, VolumeItemPtr* systemItem, VolumeItemPtr* dataItem) const
{
    const VolumeItemPtr item = itemWithLocation(location);
    if (!item || item->partnerDevice.isEmpty())
        return false;
    const VolumeItemPtr partner = itemWithDevice(item->partnerDevice);
    if (!partner)
        return false;
    const bool itemIsSystem = item->role == VolumeBaseItem::RoleSystem;
    if (systemItem)
        *systemItem = itemIsSystem ? item : partner;
    if (dataItem)
        *dataItem = itemIsSystem ? partner : item;
    return true;
}

// ---- sort and filtered walk ------------------------------------------------------------------

QList<int> IVolumeBase::sortIndex()
{
    QList<int> order;
    for (int i = 0; i < maxItems; ++i) {
        if (m_slots[i])
            order.append(i);
    }
    auto before = [this](int a, int b) {
        const VolumeBaseItem& x = *m_slots[a];
        const VolumeBaseItem& y = *m_slots[b];
        if (x.connection != y.connection)
            return x.connection < y.connection;
        const QByteArray dx = NameCodec::encode(x.deviceDescription),
                         dy = NameCodec::encode(y.deviceDescription);
        if (dx != dy)
            return dx < dy;
        return NameCodec::encode(x.name) < NameCodec::encode(y.name);
    };
    std::stable_sort(order.begin(), order.end(), before);
    m_sortIndex = order;
    QList<int> full = order;
    while (full.size() < maxItems)
        full.append(-1);
    return full;
}

bool IVolumeBase::isItemFiltering(const VolumeBaseItem& item, qint64 bits)
{
    const QString& mp = item.mountPoint; // the stored text: path tests only match plain paths
    if ((bits & 0x1)
        && (mp.startsWith(QLatin1String("/System/Volumes")) || mp.startsWith(QLatin1String("/dev"))
            || mp.startsWith(QLatin1String("/private/var/vm")) || mp.startsWith(QLatin1String("/home"))))
        return false;
    if ((bits & 0x2) && item.connection == VolumeBaseItem::ConnectionNet)
        return false;
    if ((bits & 0x8) && item.fileSystem == 7)
        return false;
    // Temporary volumes: tmpfs and ramfs lose their content at shutdown.
    if ((bits & 0x10) && isVolatileType(item.fsTypeName))
        return false;
    if ((bits & 0x20) && item.role >= 2 && item.role <= 5)
        return false;
    if ((bits & 0x40) && item.role == VolumeBaseItem::RoleData)
        return false;
    if ((bits & 0x80) && item.fileSystem == 1)
        return false;
    if ((bits & 0x100) && (item.fileSystem == 8 || item.fileSystem == 9))
        return false;
    if ((bits & 0x200) && item.connection == VolumeBaseItem::ConnectionNetNoDevice)
        return false;
    return true;
}

VolumeItemPtr IVolumeBase::firstItemWithFilter(qint64 bits)
{
    m_filterPos = -1;
    m_filterList.clear();
    m_filterBits = bits;
    for (int slot : m_sortIndex) {
        if (m_slots[slot] && isItemFiltering(*m_slots[slot], bits))
            m_filterList.append(slot);
    }
    if (m_filterList.isEmpty())
        return nullptr;
    m_filterPos = 0;
    return m_slots[m_filterList[0]];
}

VolumeItemPtr IVolumeBase::nextItem()
{
    if (m_filterPos < 0 || m_filterPos + 1 >= m_filterList.size()) {
        if (m_filterPos >= 0)
            m_filterPos = int(m_filterList.size());
        return nullptr;
    }
    ++m_filterPos;
    return m_slots[m_filterList[m_filterPos]];
}

QString IVolumeBase::printFiltered(qint64 bits)
{
    QStringList lines;
    for (VolumeItemPtr p = firstItemWithFilter(bits); p; p = nextItem())
        lines << printItem(*p);
    return lines.join(QLatin1Char('\n'));
}

// ---- groups ----------------------------------------------------------------------------------

void IVolumeBase::correctGroupDataItem(const VolumeItemPtr& item)
{
    if (!item || (item->role != VolumeBaseItem::RoleSystem && item->role != VolumeBaseItem::RoleData))
        return;
    const int otherRole
        = item->role == VolumeBaseItem::RoleSystem ? VolumeBaseItem::RoleData : VolumeBaseItem::RoleSystem;
    VolumeItemPtr other;
    for (const VolumeItemPtr& p : m_slots) {
        if (p && p != item && p->role == otherRole && !item->groupUUID.isEmpty()
            && UuidText::equal(p->groupUUID, item->groupUUID)) {
            other = p;
            break;
        }
    }
    if (!other) {
        item->partnerDevice.clear();
        return;
    }
    for (qint64 f : { qint64(VolumeBaseItem::FlagBigSurGroup), qint64(VolumeBaseItem::FlagMontereyGroup) }) {
        if ((item->flags | other->flags) & f) {
            item->flags |= f;
            other->flags |= f;
        }
    }
    item->partnerDevice = other->source;
    other->partnerDevice = item->source;
    const qint64 v = IDiskUtil::systemVersion();
    const bool catalinaOrBigSur = (v >= 101500 && v <= 101599) || (v >= 101600 && v <= 119999);
    if (catalinaOrBigSur) {
        item->groupUsedMB = other->groupUsedMB = item->usedMB + other->usedMB;
    } else {
        item->groupUsedMB = item->usedMB;
        other->groupUsedMB = item->usedMB;
    }
}

void IVolumeBase::correctGroupData()
{
    for (const VolumeItemPtr& p : m_slots) {
        if (p)
            correctGroupDataItem(p);
    }
}

bool IVolumeBase::findGroupForItem(const VolumeItemPtr& item)
{
    // The volume model's registry answers instead of a tool: the record's own group decides.
    if (!item || item->groupUUID.isEmpty())
        return false;
    const VolumeItemPtr system = itemWithRole(VolumeBaseItem::RoleSystem, item->groupUUID);
    const VolumeItemPtr data = itemWithRole(VolumeBaseItem::RoleData, item->groupUUID);
    if (!system || !data)
        return false;
    if (item->source == system->source) {
        item->role = VolumeBaseItem::RoleSystem;
        item->partnerDevice = data->source;
    } else {
        item->role = VolumeBaseItem::RoleData;
        item->partnerDevice = system->source;
    }
    return true;
}

// ---- listings --------------------------------------------------------------------------------

QStringList IVolumeBase::getListOfEjectableMedia()
{
    QStringList urls;
    const QList<MountEntry> mounts = MountInfo::read();
    for (const MountEntry& e : mounts) {
        if (IDiskUtil::isSystemMount(e) || IDiskUtil::isBindMount(e))
            continue;
        const QVariantMap d = DiskFacts::describeMount(e, mounts);
        const DiskDescription desc(d, DiskDescription::DiskArbitration, QString());
        if (!desc.isVisible())
            continue;
        if (d.value(QStringLiteral("DAMediaEjectable")).toBool()
            && d.value(QStringLiteral("DADeviceProtocol")).toString() == QLatin1String("USB"))
            urls.append(VolumeBaseItem::mountPointURLText(e.mountPoint));
    }
    return urls;
}

QString IVolumeBase::printItem(const VolumeBaseItem& item)
{
    auto c = [](const QString& s) { return NameCodec::encode(s); };
    const char* access = (item.flags & VolumeBaseItem::FlagReadOnly) ? "RO"
        : (item.flags & VolumeBaseItem::FlagNotWritable)             ? "RR"
                                                                     : "WR";
    const char* group = (item.flags & VolumeBaseItem::FlagBigSurGroup) ? "SUR"
        : (item.flags & VolumeBaseItem::FlagMontereyGroup)             ? "Monterey(12)"
                                                                       : "";
    const QByteArray source
        = item.connection == VolumeBaseItem::ConnectionNet ? QByteArray("Network") : c(item.source);
    QString line = QString::fromUtf8(
        QByteArray(QString::asprintf("volume  %-10s :: %-20s %-70s %-6s %-10s %-30s %-8s %-7s %s %s %s",
            source.constData(), c(item.name).constData(), c(item.strMountPoint()).constData(),
            VolumeBaseItem::fileSystemString(item.fileSystem).toUtf8().constData(),
            (item.flags & VolumeBaseItem::FlagRemovable) ? "removable" : "fixed",
            c(item.deviceDescription).constData(),
            VolumeBaseItem::mountString(item.connection).toUtf8().constData(),
            VolumeBaseItem::roleString(item.role).toUtf8().constData(), access,
            item.volumeUUID.toUtf8().constData(), group)
                       .toUtf8()));
    if (item.role == VolumeBaseItem::RoleSystem && !item.groupUUID.isEmpty())
        line += QStringLiteral("\n\tdata/group %1").arg(item.groupUUID);
    if (item.connection == VolumeBaseItem::ConnectionNet)
        line += QStringLiteral("\n\t%1").arg(item.source);
    return line;
}

void IVolumeBase::printList()
{
    if (!AppPaths::infoPlistValue(QStringLiteral("g_FullLogDebug")).toBool())
        return;
    const QString rule(60, QLatin1Char('='));
    IShellServices& hub = IShellServices::shared();
    hub.processMessage(rule.toUtf8(), LogWord::Utf8RunLog, nullptr);
    for (int slot : m_sortIndex) {
        if (m_slots[slot])
            hub.processMessage(printItem(*m_slots[slot]).toUtf8(), LogWord::Utf8RunLog, nullptr);
    }
    hub.processMessage(rule.toUtf8(), LogWord::Utf8RunLog, nullptr);
}

// ---- notifications ---------------------------------------------------------------------------

void IVolumeBase::applyEvent(const Event& e)
{
    switch (e.kind) {
    case Event::Mount: {
        if (const VolumeItemPtr seen = itemWithMountId(e.entry.mountId)) {
            if (seen->strMountPoint() == MountInfo::cleanPath(e.entry.mountPoint))
                break; // the fill saw it already
            removeItem(seen); // a record whose mount went unseen; its id now names another
        }
        const QList<MountEntry> mounts = m_watcher ? m_watcher->mounts() : MountInfo::read();
        if (createAndFillItemFromStatfs(e.entry, mounts))
            IShellServices::shared().validateDeviceMount(e.entry.mountPoint);
        IDiskUtil::shared().reloadDiskUtilFullInfo();
        // Settle: the hub hears once, a fixed time after the first mount of a burst, so a
        // steady stream of other mounts cannot hold the news back.
        if (!m_settleTimer.isActive())
            m_settleTimer.start();
        break;
    }
    case Event::Unmount: {
        VolumeItemPtr item = itemWithMountId(e.entry.mountId);
        if (item && item->strMountPoint() != MountInfo::cleanPath(e.entry.mountPoint))
            item.reset(); // the id names another mount by now
        if (!item && e.entry.mountId <= 0)
            item = itemWithMountPointURL(VolumeBaseItem::mountPointURLText(e.entry.mountPoint));
        if (item) {
            if (!item->partnerDevice.isEmpty()) {
                if (const VolumeItemPtr partner = itemWithDevice(item->partnerDevice)) {
                    partner->partnerDevice.clear();
                    partner->groupUsedMB = -1.0;
                }
            }
            removeItem(item);
        }
        sortIndex();
        IShellServices::shared().volumeBaseUpdated();
        IDiskUtil::shared().reloadDiskUtilFullInfo();
        break;
    }
    case Event::Rename: {
        VolumeItemPtr item = itemWithMountId(e.entry.mountId);
        if (!item)
            item = itemWithMountPointURL(VolumeBaseItem::mountPointURLText(e.entry.mountPoint));
        if (item) {
            item->name = cutBytes(displayNameOf(e.newEntry.mountPoint), VolumeBaseItem::nameMaxBytes);
            const QVariantMap d = DiskFacts::describeMount(e.newEntry, MountInfo::read());
            const QString label = d.value(QStringLiteral("DAVolumeName")).toString();
            if (!label.isEmpty())
                item->name = cutBytes(label, VolumeBaseItem::nameMaxBytes);
            item->mountPoint = VolumeBaseItem::mountPointURLText(e.newEntry.mountPoint);
            item->mountId = e.newEntry.mountId;
            sortIndex();
            IShellServices::shared().volumeBaseUpdated();
        }
        break;
    }
    }
}

void IVolumeBase::deviceNotifyMount(const MountEntry& entry)
{
    if (entry.mountPoint.isEmpty())
        return;
    const Event e { Event::Mount, entry, MountEntry() };
    if (m_fillsInFlight > 0)
        m_queued.append(e);
    else
        applyEvent(e);
}

void IVolumeBase::deviceNotifyUnmount(const MountEntry& entry)
{
    const Event e { Event::Unmount, entry, MountEntry() };
    if (m_fillsInFlight > 0)
        m_queued.append(e);
    else
        applyEvent(e);
}

void IVolumeBase::deviceNotifyRename(const MountEntry& oldEntry, const MountEntry& newEntry)
{
    const Event e { Event::Rename, oldEntry, newEntry };
    if (m_fillsInFlight > 0)
        m_queued.append(e);
    else
        applyEvent(e);
}

void IVolumeBase::updateDiskList()
{
    sortIndex();
    IShellServices::shared().volumeBaseUpdated();
}
