#pragma once

#include "MountInfo.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <optional>

// What the machine says about its disks and mounted volumes: the mount table
// (/proc/self/mountinfo), statvfs, sysfs (whole disks, partitions, removable, transport,
// vendor and model), libblkid's low-level probe of a device (never its cache, whose answers can
// belong to a device attached earlier), udev's database while a udev daemon keeps it, and the
// btrfs volume model for subvolume volumes.
//
// Descriptions use the keys the callers know from the disk-arbitration dictionaries:
//   DAVolumePath, DAVolumeName, DAVolumeUUID, DAVolumeKind, DAVolumeNetwork, DAVolumeMountable,
//   DADeviceProtocol ("PCI-Express", "SATA", "USB", "Virtual Interface"), DADeviceVendor,
//   DADeviceModel, DAMediaBSDName, DAMediaWholeDisk, DAMediaLeaf, DAMediaRemovable,
//   DAMediaEjectable, DAMediaContent, DAMediaName, DAMediaSize.
class DiskFacts
{
public:
    // File-system facts of one block device.
    struct Probe
    {
        QString type; // "ext4", "btrfs", … (blkid TYPE)
        QString uuid; // UuidText form
        QString uuidSub; // btrfs: the device's own UUID
        QString label;
        QString ptType; // "gpt", "dos" for a partitioned disk
        QString partEntryScheme; // for a partition: the scheme of its disk
        QString origin; // "blkid", "udev", "by-uuid", or empty when nothing was found
    };

    // A block device as sysfs shows it.
    struct BlockDevice
    {
        QString name; // "sda1", "loop0", "nvme0n1p2"
        QString wholeDisk; // "sda" for "sda1"; the device itself for a whole disk
        bool isPartition = false;
        int partitionNumber = 0;
        quint32 major = 0, minor = 0;
        quint64 sizeBytes = 0;
        bool removable = false;
        bool readOnly = false;
        QString protocol; // "PCI-Express", "SATA", "USB", "Virtual Interface", or empty
        QString vendor, model;
    };

    struct Space
    {
        bool ok = false;
        quint64 blockSize = 0; // f_frsize
        quint64 blocks = 0, freeBlocks = 0, availableBlocks = 0;
        bool readOnly = false; // ST_RDONLY
        quint64 totalBytes() const { return blocks * blockSize; }
        quint64 usedBytes() const { return (blocks - freeBlocks) * blockSize; }
        quint64 availableBytes() const { return availableBlocks * blockSize; }
    };

    // Registry facts of a btrfs-model volume (roles, names, groups).
    struct VolumeRegistryFacts
    {
        QString name;
        QString role; // "System", "Data", … or empty
        QString groupUUID; // empty when in no group
    };

    // Tests point the udev and /dev lookups at a fixture tree ("/" by default).
    static void setSystemRoot(const QString& root);
    static QString systemRoot();
    // Tests point sysfs lookups at a fixture ("/sys/class/block" by default).
    static void setSysClassBlock(const QString& path);
    static QString sysClassBlock();

    static Probe probeDevice(const QString& deviceName); // "loop3" or "/dev/loop3"
    static std::optional<BlockDevice> blockDevice(const QString& deviceName);
    static QStringList wholeDisks(); // /sys/block entries with a medium (size > 0)
    static QStringList partitionsOf(const QString& wholeDisk); // sorted by partition number
    // "GUID_partition_scheme", "FDisk_partition_scheme", or the libblkid name; empty when none
    static QString schemeText(const QString& ptType);

    static Space space(const QString& path);
    static bool isNetworkFsType(const QString& fsType); // cifs, smb3, nfs, nfs4, fuse.sshfs

    // The device name of a mount's source: "loop0", "loop0s256" for a btrfs subvolume volume,
    // "dm-0" for a device-mapper link; non-device sources ("//host/share", "user@host:/path",
    // "tmpfs") come back as they stand.
    static QString sourceName(const MountEntry& mount);
    // The block device behind a mount ("loop0" for "loop0s256"), empty for non-device sources.
    static QString blockDeviceOf(const MountEntry& mount);

    // The description of a mounted volume; registry facts are filled in for btrfs-model volumes
    // whose file system's top level is mounted (*registry is nullopt otherwise).
    static QVariantMap describeMount(const MountEntry& mount, const QList<MountEntry>& mounts,
        std::optional<VolumeRegistryFacts>* registry = nullptr);
    // The description of the mount holding path; empty when none.
    static QVariantMap describePath(
        const QString& path, std::optional<VolumeRegistryFacts>* registry = nullptr);
    // The description of an unmounted block device (whole disk or partition).
    static QVariantMap describeDevice(const QString& deviceName);
    // Registry facts of a mounted btrfs-model volume; nullopt when it has no registry object
    // (not btrfs, top level not mounted, no registry file, or a registry that cannot be read).
    static std::optional<VolumeRegistryFacts> registryFacts(
        const MountEntry& mount, const QList<MountEntry>& mounts, QString* error = nullptr);

    // The disk list ("list -plist" shape): AllDisksAndPartitions → per whole disk
    // DeviceIdentifier, Content, Size, Partitions [{DeviceIdentifier, Content, VolumeName,
    // VolumeUUID, MountPoint, Size}], APFSVolumes [{DeviceIdentifier "<dev>s<id>", VolumeName,
    // VolumeUUID, MountPoint}]; a partition holding btrfs adds an entry of its own for its volumes.
    static QVariantMap diskList();
};
