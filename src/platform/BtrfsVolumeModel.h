#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

struct MountEntry;

// One subvolume of a btrfs file system, as libbtrfsutil reports it.
struct BtrfsSubvolume
{
    quint64 id = 0;
    quint64 parentId = 0; // the subvolume that holds it (0 for the top level)
    QString path; // below the top level, without a leading "/" ("" for the top level)
    QString uuid; // UuidText form, empty when the file system keeps none (the top level)
    QString parentUuid; // for snapshots: the UUID of the subvolume they were taken of
    bool readOnly = false;
};

// The result of one call into the file system: errno (0 = done) and the failing call's text.
struct BtrfsStatus
{
    int error = 0;
    QString message;
    bool ok() const { return error == 0; }
};

// The volume model that stands in for containers, volumes and snapshots:
//  - a btrfs file system is a container, each of its subvolumes a volume; a volume's device
//    name is "<device>s<subvolume id>" (DeviceNames), the top level being subvolume 5;
//  - names, roles and groups live in a registry plist at the file system's top level
//    (BtrfsVolumeRegistry), readable wherever the top level is mounted;
//  - snapshots of a volume are read-only subvolumes in "<volume root>/.qvsnapshots/<name>".
// Every call works on paths inside mounted file systems; nothing here mounts or starts tools.
class BtrfsVolumeModel
{
public:
    static constexpr quint64 topLevelId = 5; // BTRFS_FS_TREE_OBJECTID
    static QString snapshotFolderName(); // ".qvsnapshots"

    // statfs says btrfs
    static bool isBtrfs(const QString& path);
    // The subvolume that holds path (its id), or nullopt with *status set.
    static std::optional<quint64> subvolumeId(const QString& path, BtrfsStatus* status = nullptr);
    // Facts of subvolume id (0: the one holding path) of the file system holding path.
    // Reading another subvolume than the one at path needs root.
    static std::optional<BtrfsSubvolume> subvolumeInfo(
        const QString& path, quint64 id = 0, BtrfsStatus* status = nullptr);
    static bool isSubvolume(const QString& path); // path is the root of a subvolume
    static bool isReadOnly(const QString& path); // the subvolume at path is read-only
    // The file system's UUID (what blkid calls UUID), in UuidText form; empty when unknown.
    static QString fileSystemUuid(const QString& path);
    // Every subvolume below the top level (not the top level itself), ordered by id.
    // Needs root; path is any path inside the file system.
    static QList<BtrfsSubvolume> listSubvolumes(const QString& path, BtrfsStatus* status = nullptr);

    static BtrfsStatus createSubvolume(const QString& path);
    // Deletes an empty-of-subvolumes subvolume; refuses one that is mounted (btrfs would
    // delete it under the live mount) with EBUSY.
    static BtrfsStatus deleteSubvolume(const QString& path);

    // Mount-table facts: the subvolume id a btrfs mount shows (its "subvolid=" option), 0 when
    // none; the mount of the same file system's top level, when one exists.
    static quint64 subvolumeIdOfMount(const MountEntry& mount);
    static std::optional<MountEntry> topLevelMount(
        const MountEntry& anyMountOfFs, const QList<MountEntry>& mounts);
    // Mounts of the same file system (same device numbers in the mount table).
    static QList<MountEntry> mountsOfFileSystem(
        const MountEntry& anyMountOfFs, const QList<MountEntry>& mounts);

    // Snapshots. A name is one path component: "", ".", "..", names with "/" or NUL and
    // names over 255 bytes are refused (EINVAL), so nothing outside .qvsnapshots is touched.
    static bool isValidSnapshotName(const QString& name);
    static QString snapshotFolder(const QString& volumeRoot);
    static QString snapshotPath(const QString& volumeRoot, const QString& name);
    // A read-only snapshot of the volume; makes .qvsnapshots when missing; EEXIST when taken.
    static BtrfsStatus createSnapshot(const QString& volumeRoot, const QString& name);
    // The names of the read-only subvolumes in .qvsnapshots (plain folders are left out), sorted.
    static QStringList listSnapshots(const QString& volumeRoot, BtrfsStatus* status = nullptr);
    // Deletes a read-only snapshot of .qvsnapshots; EINVAL for anything else, EBUSY when mounted.
    static BtrfsStatus deleteSnapshot(const QString& volumeRoot, const QString& name);
    // A writable snapshot of the subvolume at source, made at target (which must not exist): the
    // way to a usable volume from a received one, whose read-only flag cannot be cleared.
    static BtrfsStatus createWritableSnapshot(const QString& source, const QString& target);
};
