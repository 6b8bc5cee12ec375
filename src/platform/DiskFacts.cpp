#include "DiskFacts.h"

#include "BtrfsVolumeModel.h"
#include "BtrfsVolumeRegistry.h"
#include "DeviceNames.h"
#include "NameCodec.h"
#include "UuidText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QVariantList>
#include <algorithm>
#include <blkid/blkid.h>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

QMutex g_rootMutex;
QString g_systemRoot = QStringLiteral("/");
QString g_sysClassBlock = QStringLiteral("/sys/class/block");

QString under(const QString& root, const QString& absolute)
{
    if (root.isEmpty() || root == QLatin1String("/"))
        return absolute;
    QString r = root;
    while (r.endsWith(QLatin1Char('/')))
        r.chop(1);
    return r + absolute;
}

QByteArray readSmallFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.read(64 * 1024);
}

QString readAttr(const QString& path)
{
    return QString::fromUtf8(readSmallFile(path)).trimmed();
}

QString realPath(const QString& path)
{
    char buf[PATH_MAX];
    if (!::realpath(NameCodec::encodeStd(path).c_str(), buf))
        return QString();
    return NameCodec::decode(std::string(buf));
}

QString stripDev(const QString& name)
{
    return name.startsWith(QLatin1String("/dev/")) ? name.mid(5) : name;
}

// udev writes "\x20" style escapes into ID_FS_LABEL_ENC.
QString udevUnescape(const QByteArray& value)
{
    QByteArray out;
    for (int i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 3 < value.size() && value[i + 1] == 'x') {
            bool ok = false;
            const int c = value.mid(i + 2, 2).toInt(&ok, 16);
            if (ok) {
                out.append(char(c));
                i += 3;
                continue;
            }
        }
        out.append(value[i]);
    }
    return NameCodec::decode(out);
}

// udev's database and /dev/disk/by-uuid are only kept current while a udev daemon runs;
// without it they are leftovers that can describe a device attached earlier.
bool udevIsRunning(const QString& root)
{
    struct stat st;
    return ::stat(NameCodec::encodeStd(under(root, QStringLiteral("/run/udev/control"))).c_str(), &st) == 0;
}

bool probeWithBlkid(const QString& devPath, DiskFacts::Probe& p)
{
    blkid_probe pr = blkid_new_probe_from_filename(NameCodec::encodeStd(devPath).c_str());
    if (!pr)
        return false;
    blkid_probe_enable_superblocks(pr, 1);
    blkid_probe_set_superblocks_flags(pr, BLKID_SUBLKS_LABEL | BLKID_SUBLKS_UUID | BLKID_SUBLKS_TYPE);
    blkid_probe_enable_partitions(pr, 1);
    blkid_probe_set_partitions_flags(pr, BLKID_PARTS_ENTRY_DETAILS);
    const int rc = blkid_do_safeprobe(pr);
    if (rc == 0) {
        const int n = blkid_probe_numof_values(pr);
        for (int i = 0; i < n; ++i) {
            const char* name = nullptr;
            const char* data = nullptr;
            size_t len = 0;
            if (blkid_probe_get_value(pr, i, &name, &data, &len) != 0 || !name || !data)
                continue;
            const QByteArray key(name);
            const QByteArray raw(data, int(len > 0 && data[len - 1] == '\0' ? len - 1 : len));
            if (key == "TYPE")
                p.type = QString::fromUtf8(raw);
            else if (key == "UUID")
                p.uuid = UuidText::normalized(QString::fromUtf8(raw));
            else if (key == "UUID_SUB")
                p.uuidSub = UuidText::normalized(QString::fromUtf8(raw));
            else if (key == "LABEL")
                p.label = NameCodec::decode(raw);
            else if (key == "PTTYPE")
                p.ptType = QString::fromUtf8(raw);
            else if (key == "PART_ENTRY_SCHEME")
                p.partEntryScheme = QString::fromUtf8(raw);
        }
    }
    blkid_free_probe(pr);
    if (rc < 0)
        return false;
    p.origin = QStringLiteral("blkid");
    return true;
}

bool probeWithUdev(const QString& root, quint32 major, quint32 minor, DiskFacts::Probe& p)
{
    const QByteArray text
        = readSmallFile(under(root, QStringLiteral("/run/udev/data/b%1:%2").arg(major).arg(minor)));
    if (text.isEmpty())
        return false;
    QString labelEnc, label;
    for (const QByteArray& line : text.split('\n')) {
        if (!line.startsWith("E:"))
            continue;
        const int eq = line.indexOf('=');
        if (eq < 0)
            continue;
        const QByteArray key = line.mid(2, eq - 2);
        const QByteArray value = line.mid(eq + 1);
        if (key == "ID_FS_TYPE")
            p.type = QString::fromUtf8(value);
        else if (key == "ID_FS_UUID")
            p.uuid = UuidText::normalized(QString::fromUtf8(value));
        else if (key == "ID_FS_UUID_SUB")
            p.uuidSub = UuidText::normalized(QString::fromUtf8(value));
        else if (key == "ID_FS_LABEL_ENC")
            labelEnc = udevUnescape(value);
        else if (key == "ID_FS_LABEL")
            label = NameCodec::decode(value);
        else if (key == "ID_PART_TABLE_TYPE")
            p.ptType = QString::fromUtf8(value);
        else if (key == "ID_PART_ENTRY_SCHEME")
            p.partEntryScheme = QString::fromUtf8(value);
    }
    p.label = labelEnc.isEmpty() ? label : labelEnc;
    p.origin = QStringLiteral("udev");
    return true;
}

bool probeWithByUuid(const QString& root, const QString& name, DiskFacts::Probe& p)
{
    const QString dir = under(root, QStringLiteral("/dev/disk/by-uuid"));
    DIR* d = ::opendir(NameCodec::encodeStd(dir).c_str());
    if (!d)
        return false;
    bool found = false;
    while (dirent* de = ::readdir(d)) {
        if (de->d_name[0] == '.')
            continue;
        char target[PATH_MAX];
        const std::string link = NameCodec::encodeStd(dir) + "/" + de->d_name;
        const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
        if (n <= 0)
            continue;
        target[n] = '\0';
        const QString t = NameCodec::decode(std::string(target));
        if (t.section(QLatin1Char('/'), -1) == name) {
            p.uuid = UuidText::normalized(NameCodec::decode(std::string(de->d_name)));
            p.origin = QStringLiteral("by-uuid");
            found = true;
            break;
        }
    }
    ::closedir(d);
    return found;
}

QString protocolFromSysPath(const QString& devicePath)
{
    if (devicePath.contains(QLatin1String("/virtual/block/loop")))
        return QStringLiteral("Virtual Interface");
    if (devicePath.contains(QLatin1String("/usb")))
        return QStringLiteral("USB");
    if (devicePath.contains(QLatin1String("/nvme")))
        return QStringLiteral("PCI-Express");
    if (devicePath.contains(QLatin1String("/ata")) || devicePath.contains(QLatin1String("/host")))
        return QStringLiteral("SATA");
    return QString();
}

void putText(QVariantMap& m, const char* key, const QString& value)
{
    if (!value.isEmpty())
        m.insert(QLatin1String(key), value);
}

QString subvolumeLeafName(const QString& subvolPath)
{
    QString p = subvolPath;
    while (p.endsWith(QLatin1Char('/')))
        p.chop(1);
    return p.section(QLatin1Char('/'), -1);
}

} // namespace

void DiskFacts::setSystemRoot(const QString& root)
{
    QMutexLocker lock(&g_rootMutex);
    g_systemRoot = root.isEmpty() ? QStringLiteral("/") : root;
}

QString DiskFacts::systemRoot()
{
    QMutexLocker lock(&g_rootMutex);
    return g_systemRoot;
}

void DiskFacts::setSysClassBlock(const QString& path)
{
    QMutexLocker lock(&g_rootMutex);
    g_sysClassBlock = path.isEmpty() ? QStringLiteral("/sys/class/block") : path;
}

QString DiskFacts::sysClassBlock()
{
    QMutexLocker lock(&g_rootMutex);
    return g_sysClassBlock;
}

DiskFacts::Probe DiskFacts::probeDevice(const QString& deviceName)
{
    Probe p;
    const QString name = stripDev(deviceName);
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.startsWith(QLatin1Char('.')))
        return p;
    if (probeWithBlkid(QStringLiteral("/dev/") + name, p))
        return p;
    const QString root = systemRoot();
    if (!udevIsRunning(root))
        return p;
    const std::optional<BlockDevice> dev = blockDevice(name);
    if (dev && probeWithUdev(root, dev->major, dev->minor, p))
        return p;
    probeWithByUuid(root, name, p);
    return p;
}

std::optional<DiskFacts::BlockDevice> DiskFacts::blockDevice(const QString& deviceName)
{
    const QString name = stripDev(deviceName);
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.startsWith(QLatin1Char('.')))
        return std::nullopt;
    const QString cls = sysClassBlock();
    const QString base = cls + QLatin1Char('/') + name;
    const QString devText = readAttr(base + QStringLiteral("/dev"));
    if (devText.isEmpty())
        return std::nullopt; // vanished, or never existed
    BlockDevice d;
    d.name = name;
    d.major = devText.section(QLatin1Char(':'), 0, 0).toUInt();
    d.minor = devText.section(QLatin1Char(':'), 1, 1).toUInt();
    d.sizeBytes = readAttr(base + QStringLiteral("/size")).toULongLong() * 512;
    d.readOnly = readAttr(base + QStringLiteral("/ro")) == QLatin1String("1");
    d.isPartition = QFileInfo::exists(base + QStringLiteral("/partition"));
    QString diskBase = base;
    if (d.isPartition) {
        d.partitionNumber = readAttr(base + QStringLiteral("/partition")).toInt();
        const QString resolved = realPath(base);
        d.wholeDisk = resolved.section(QLatin1Char('/'), -2, -2);
        diskBase = cls + QLatin1Char('/') + d.wholeDisk;
    } else {
        d.wholeDisk = name;
    }
    d.removable = readAttr(diskBase + QStringLiteral("/removable")) == QLatin1String("1");
    d.protocol = protocolFromSysPath(realPath(diskBase));
    d.vendor = readAttr(diskBase + QStringLiteral("/device/vendor"));
    d.model = readAttr(diskBase + QStringLiteral("/device/model"));
    return d;
}

QStringList DiskFacts::wholeDisks()
{
    QStringList disks;
    const QString cls = sysClassBlock();
    DIR* d = ::opendir(NameCodec::encodeStd(cls).c_str());
    if (!d)
        return disks;
    while (dirent* de = ::readdir(d)) {
        const QString name = NameCodec::decode(std::string(de->d_name));
        if (name.startsWith(QLatin1Char('.'))
            || QFileInfo::exists(cls + QLatin1Char('/') + name + QStringLiteral("/partition")))
            continue;
        if (readAttr(cls + QLatin1Char('/') + name + QStringLiteral("/size")).toULongLong() == 0)
            continue;
        disks.append(name);
    }
    ::closedir(d);
    std::sort(disks.begin(), disks.end());
    return disks;
}

QStringList DiskFacts::partitionsOf(const QString& wholeDisk)
{
    QList<QPair<int, QString>> parts;
    const QString base = sysClassBlock() + QLatin1Char('/') + stripDev(wholeDisk);
    DIR* d = ::opendir(NameCodec::encodeStd(base).c_str());
    if (!d)
        return {};
    while (dirent* de = ::readdir(d)) {
        const QString name = NameCodec::decode(std::string(de->d_name));
        if (name.startsWith(QLatin1Char('.')))
            continue;
        const QString num = readAttr(base + QLatin1Char('/') + name + QStringLiteral("/partition"));
        if (!num.isEmpty())
            parts.append({ num.toInt(), name });
    }
    ::closedir(d);
    std::sort(parts.begin(), parts.end());
    QStringList names;
    for (const auto& p : parts)
        names.append(p.second);
    return names;
}

QString DiskFacts::schemeText(const QString& ptType)
{
    if (ptType == QLatin1String("gpt"))
        return QStringLiteral("GUID_partition_scheme");
    if (ptType == QLatin1String("dos"))
        return QStringLiteral("FDisk_partition_scheme");
    return ptType;
}

DiskFacts::Space DiskFacts::space(const QString& path)
{
    Space s;
    struct statvfs v;
    if (::statvfs(NameCodec::encodeStd(path).c_str(), &v) != 0)
        return s;
    s.ok = true;
    s.blockSize = v.f_frsize ? v.f_frsize : v.f_bsize;
    s.blocks = v.f_blocks;
    s.freeBlocks = v.f_bfree;
    s.availableBlocks = v.f_bavail;
    s.readOnly = (v.f_flag & ST_RDONLY) != 0;
    return s;
}

bool DiskFacts::isNetworkFsType(const QString& fsType)
{
    static const QStringList types = { QStringLiteral("cifs"), QStringLiteral("smb3"), QStringLiteral("nfs"),
        QStringLiteral("nfs4"), QStringLiteral("fuse.sshfs") };
    return types.contains(fsType);
}

QString DiskFacts::blockDeviceOf(const MountEntry& mount)
{
    if (!mount.source.startsWith(QLatin1String("/dev/")))
        return QString();
    QString name = mount.source.mid(5);
    if (name.contains(QLatin1Char('/'))) {
        // /dev/mapper/x and /dev/disk/by-…/y are links to the kernel's device node.
        const QString resolved = realPath(mount.source);
        if (!resolved.startsWith(QLatin1String("/dev/")))
            return QString();
        name = resolved.mid(5);
    }
    return name;
}

QString DiskFacts::sourceName(const MountEntry& mount)
{
    const QString dev = blockDeviceOf(mount);
    if (dev.isEmpty())
        return stripDev(mount.source);
    if (mount.fsType == QLatin1String("btrfs")) {
        const quint64 id = BtrfsVolumeModel::subvolumeIdOfMount(mount);
        if (id != 0)
            return DeviceNames::subvolumeDeviceName(dev, id);
    }
    return dev;
}

std::optional<DiskFacts::VolumeRegistryFacts> DiskFacts::registryFacts(
    const MountEntry& mount, const QList<MountEntry>& mounts, QString* error)
{
    if (mount.fsType != QLatin1String("btrfs"))
        return std::nullopt;
    const std::optional<MountEntry> top = BtrfsVolumeModel::topLevelMount(mount, mounts);
    if (!top)
        return std::nullopt;
    BtrfsVolumeRegistry registry;
    const auto status = registry.load(top->mountPoint, error);
    if (status != BtrfsVolumeRegistry::Status::Ok)
        return std::nullopt;
    VolumeRegistryFacts facts;
    const quint64 id = BtrfsVolumeModel::subvolumeIdOfMount(mount);
    if (registry.contains(id)) {
        const BtrfsVolumeRegistry::Entry e = registry.entry(id);
        facts.name = e.name;
        facts.role = e.role;
        facts.groupUUID = e.groupUUID;
    }
    return facts;
}

QVariantMap DiskFacts::describeMount(
    const MountEntry& mount, const QList<MountEntry>& mounts, std::optional<VolumeRegistryFacts>* registry)
{
    QVariantMap m;
    m.insert(QStringLiteral("DAVolumePath"), mount.mountPoint);
    m.insert(QStringLiteral("DAVolumeKind"), mount.fsType);
    m.insert(QStringLiteral("DAVolumeMountable"), true);
    const bool network = isNetworkFsType(mount.fsType);
    m.insert(QStringLiteral("DAVolumeNetwork"), network);
    if (registry)
        registry->reset();
    if (network)
        return m;

    const QString dev = blockDeviceOf(mount);
    if (dev.isEmpty())
        return m;
    const std::optional<BlockDevice> bd = blockDevice(dev);
    if (!bd)
        return m; // the device vanished while we looked: keep the mount-table facts only
    const QString name = sourceName(mount);
    m.insert(QStringLiteral("DAMediaBSDName"), name);
    m.insert(QStringLiteral("DAMediaWholeDisk"), bd->isPartition ? bd->wholeDisk : dev);
    m.insert(QStringLiteral("DAMediaLeaf"), bd->isPartition || partitionsOf(dev).isEmpty());
    m.insert(QStringLiteral("DAMediaRemovable"), bd->removable);
    m.insert(QStringLiteral("DAMediaEjectable"), bd->removable || bd->protocol == QLatin1String("USB"));
    m.insert(QStringLiteral("DAMediaSize"), qint64(bd->sizeBytes));
    putText(m, "DADeviceProtocol", bd->protocol);
    putText(m, "DADeviceVendor", bd->vendor);
    putText(m, "DADeviceModel", bd->model);

    const Probe probe = probeDevice(dev);
    QString volumeName = probe.label;
    QString uuid = probe.uuid;
    if (mount.fsType == QLatin1String("btrfs")) {
        const quint64 id = BtrfsVolumeModel::subvolumeIdOfMount(mount);
        if (id != BtrfsVolumeModel::topLevelId) {
            // A subvolume volume has its own UUID and, without a registry name, the name of
            // its folder below the top level.
            const std::optional<BtrfsSubvolume> info = BtrfsVolumeModel::subvolumeInfo(mount.mountPoint);
            if (info && info->id == id && !info->uuid.isEmpty())
                uuid = info->uuid;
            else
                uuid.clear(); // never hand out the file system's UUID for a subvolume
            volumeName = subvolumeLeafName(mount.root);
        }
        const std::optional<VolumeRegistryFacts> reg = registryFacts(mount, mounts);
        if (reg && !reg->name.isEmpty())
            volumeName = reg->name;
        if (registry)
            *registry = reg;
    }
    putText(m, "DAVolumeName", volumeName);
    putText(m, "DAVolumeUUID", uuid);
    // The medium content: the partition scheme of a disk, the file system of a partition.
    const Probe diskProbe = bd->isPartition ? probeDevice(bd->wholeDisk) : probe;
    putText(m, "DAMediaContent", bd->isPartition ? probe.type : schemeText(probe.ptType));
    putText(m, "DAMediaName", bd->model.isEmpty() ? dev : bd->model);
    putText(m, "DAPartitionScheme", schemeText(diskProbe.ptType));
    return m;
}

QVariantMap DiskFacts::describePath(const QString& path, std::optional<VolumeRegistryFacts>* registry)
{
    const QList<MountEntry> mounts = MountInfo::read();
    const std::optional<MountEntry> m = MountInfo::mountForPath(path, mounts);
    if (!m) {
        if (registry)
            registry->reset();
        return QVariantMap();
    }
    return describeMount(*m, mounts, registry);
}

QVariantMap DiskFacts::describeDevice(const QString& deviceName)
{
    QVariantMap m;
    const std::optional<BlockDevice> bd = blockDevice(deviceName);
    if (!bd)
        return m;
    const Probe probe = probeDevice(bd->name);
    m.insert(QStringLiteral("DAMediaBSDName"), bd->name);
    m.insert(QStringLiteral("DAMediaWholeDisk"), bd->wholeDisk);
    m.insert(QStringLiteral("DAMediaLeaf"), bd->isPartition || partitionsOf(bd->name).isEmpty());
    m.insert(QStringLiteral("DAMediaRemovable"), bd->removable);
    m.insert(QStringLiteral("DAMediaSize"), qint64(bd->sizeBytes));
    putText(m, "DADeviceProtocol", bd->protocol);
    putText(m, "DADeviceVendor", bd->vendor);
    putText(m, "DADeviceModel", bd->model);
    putText(m, "DAVolumeKind", probe.type);
    putText(m, "DAVolumeName", probe.label);
    putText(m, "DAVolumeUUID", probe.uuid);
    putText(m, "DAMediaContent", bd->isPartition ? probe.type : schemeText(probe.ptType));
    putText(m, "DAMediaName", bd->model.isEmpty() ? bd->name : bd->model);
    const Probe diskProbe = bd->isPartition ? probeDevice(bd->wholeDisk) : probe;
    putText(m, "DAPartitionScheme", schemeText(diskProbe.ptType));
    return m;
}

namespace {

// The mounted volumes of one block device: the mount of a plain file system, or one entry per
// mounted subvolume of a btrfs file system.
QList<MountEntry> mountsOfDevice(const QString& dev, const QList<MountEntry>& mounts)
{
    QList<MountEntry> result;
    QStringList seen;
    for (const MountEntry& e : mounts) {
        if (DiskFacts::blockDeviceOf(e) != dev)
            continue;
        // bind mounts of a plain file system repeat the volume
        if (e.fsType != QLatin1String("btrfs") && e.root != QLatin1String("/"))
            continue;
        const QString name = DiskFacts::sourceName(e);
        if (seen.contains(name))
            continue;
        seen.append(name);
        result.append(e);
    }
    return result;
}

QVariantList btrfsVolumes(const QString& dev, const DiskFacts::Probe& probe, const QList<MountEntry>& mounts)
{
    QVariantList vols;
    const QList<MountEntry> mine = mountsOfDevice(dev, mounts);
    if (mine.isEmpty()) {
        // Listing subvolumes needs a mount: an unmounted file system is one entry.
        QVariantMap v;
        v.insert(QStringLiteral("DeviceIdentifier"), dev);
        putText(v, "VolumeName", probe.label);
        putText(v, "VolumeUUID", probe.uuid);
        vols.append(v);
        return vols;
    }
    for (const MountEntry& e : mine) {
        const QVariantMap d = DiskFacts::describeMount(e, mounts);
        QVariantMap v;
        v.insert(QStringLiteral("DeviceIdentifier"), DiskFacts::sourceName(e));
        v.insert(QStringLiteral("MountPoint"), e.mountPoint);
        putText(v, "VolumeName", d.value(QStringLiteral("DAVolumeName")).toString());
        putText(v, "VolumeUUID", d.value(QStringLiteral("DAVolumeUUID")).toString());
        vols.append(v);
    }
    return vols;
}

} // namespace

QVariantMap DiskFacts::diskList()
{
    const QList<MountEntry> mounts = MountInfo::read();
    QVariantList all;
    QVariantList containers;
    for (const QString& disk : wholeDisks()) {
        const std::optional<BlockDevice> bd = blockDevice(disk);
        if (!bd)
            continue;
        const Probe probe = probeDevice(disk);
        QVariantMap entry;
        entry.insert(QStringLiteral("DeviceIdentifier"), disk);
        entry.insert(QStringLiteral("Size"), qint64(bd->sizeBytes));
        QVariantList partitions;
        const QStringList parts = partitionsOf(disk);
        for (const QString& part : parts) {
            const std::optional<BlockDevice> pd = blockDevice(part);
            if (!pd)
                continue;
            const Probe pp = probeDevice(part);
            QVariantMap p;
            p.insert(QStringLiteral("DeviceIdentifier"), part);
            p.insert(QStringLiteral("Size"), qint64(pd->sizeBytes));
            putText(p, "Content", pp.type);
            putText(p, "VolumeName", pp.label);
            putText(p, "VolumeUUID", pp.uuid);
            if (pp.type == QLatin1String("btrfs")) {
                QVariantMap c;
                c.insert(QStringLiteral("DeviceIdentifier"), part);
                c.insert(QStringLiteral("Content"), QStringLiteral("btrfs"));
                c.insert(QStringLiteral("Size"), qint64(pd->sizeBytes));
                c.insert(QStringLiteral("APFSVolumes"), btrfsVolumes(part, pp, mounts));
                containers.append(c);
            } else {
                const QList<MountEntry> pm = mountsOfDevice(part, mounts);
                if (!pm.isEmpty())
                    p.insert(QStringLiteral("MountPoint"), pm.first().mountPoint);
            }
            partitions.append(p);
        }
        if (parts.isEmpty() && !probe.type.isEmpty()) {
            // The disk holds a file system itself.
            putText(entry, "Content", probe.type);
            if (probe.type == QLatin1String("btrfs")) {
                entry.insert(QStringLiteral("APFSVolumes"), btrfsVolumes(disk, probe, mounts));
            } else {
                QVariantMap p;
                p.insert(QStringLiteral("DeviceIdentifier"), disk);
                p.insert(QStringLiteral("Size"), qint64(bd->sizeBytes));
                putText(p, "Content", probe.type);
                putText(p, "VolumeName", probe.label);
                putText(p, "VolumeUUID", probe.uuid);
                const QList<MountEntry> dm = mountsOfDevice(disk, mounts);
                if (!dm.isEmpty())
                    p.insert(QStringLiteral("MountPoint"), dm.first().mountPoint);
                partitions.append(p);
            }
        } else {
            putText(entry, "Content", schemeText(probe.ptType));
        }
        entry.insert(QStringLiteral("Partitions"), partitions);
        all.append(entry);
    }
    all.append(containers);
    QVariantMap root;
    root.insert(QStringLiteral("AllDisksAndPartitions"), all);
    return root;
}
