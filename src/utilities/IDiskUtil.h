#pragma once

#include "platform/MountInfo.h"
#include "utilities/DiskDescription.h"
#include "utilities/VolumeBaseItem.h"

#include <QMutex>
#include <QStringList>
#include <QVariantMap>
#include <functional>
#include <optional>

// Questions about disks and volumes that the volume table does not keep: the description of
// the volume at a path, system versions on volumes, mount-point lists, space, roles and groups
// of the volume model, mounting and unmounting volumes, ownership, and a cached disk list.
// Facts come in process from DiskFacts (mount table, sysfs, libblkid, the btrfs volume model);
// nothing runs through a shell and no temporary file is written.
class IDiskUtil
{
public:
    // How a root command runs: argv only, the tool's combined output and exit status. The
    // default runs the command directly when the process is root and answers "no way to get
    // administrator rights" otherwise; the application installs the privilege backend here.
    struct RootResult
    {
        bool started = false;
        int exitCode = -1;
        QString output;
    };
    using RootRunner = std::function<RootResult(const QStringList& argv)>;
    static void setRootRunner(RootRunner runner); // empty restores the default
    static RootResult runRooted(const QStringList& argv);
    // The runner the application installs: the privilege backend's root shell (direct as root,
    // sudo or pkexec otherwise); the output is the tool's, without the root shell's pid line.
    static RootResult runWithPrivilegeBackend(const QStringList& argv);

    static IDiskUtil& shared();

    // Loads the description of the volume at path; false for an empty path or one that no
    // mounted volume holds. The accessors below read the loaded description (main thread).
    bool getDiskInfo(const QString& path);
    bool loadDiskInfoToDictionaryFor(const QString& path);
    // The text form: kind 2 with the keys of a volume's info text.
    bool oldLoadDiskInfoToDictionaryFor(const QString& path);
    // Adds "Owners" (YES for file systems that keep owners) to dict; kind 3.
    bool loadAdvancedDiskInfoToDictionary(QVariantMap& dict, const QString& path);
    // The description object of the volume at path (kind 0 and empty when none).
    static DiskDescription describe(const QString& path);

    const DiskDescription& description() const { return m_description; }
    int currentInfoType() const { return m_description.currentInfoType(); }
    QString wholePartititonType() const { return m_description.wholePartititonType(); }
    void setWholePartitionType(const QString& type) { m_description.setWholePartitionType(type); }
    QString protocol() const { return m_description.protocol(); }
    QString volumeUUID() const { return m_description.volumeUUID(); }
    QString fileSystem() const { return m_description.fileSystem(); }
    bool isHFS() const { return m_description.isHFS(); }
    bool isAPFS() const { return m_description.isAPFS(); }
    QString BSDName() const { return m_description.BSDName(); }
    bool isOwnersEnabled() const { return m_description.isOwnersEnabled(); }
    QString strForKey(const QString& key) const { return m_description.strForKey(key); }
    qint64 intForKey(const QString& key) const { return m_description.intForKey(key); }
    bool boolForKey(const QString& key) const { return m_description.boolForKey(key); }
    bool isBootable() const { return m_description.isBootable(); }
    bool isVisible() const { return m_description.isVisible(); }

    // The cached disk list ("AllDisksAndPartitions"); reloaded after mounts and unmounts.
    bool reloadDiskUtilFullInfo();
    QVariantMap diskList() const;
    // The device of the volume with that UUID; *isMounted is YES for any entry with a mount
    // point. Null when none (the flag is then left alone).
    QString getVolumeBSDNameByUUID(const QString& uuid, bool* isMounted);
    static void setPrintDebug(bool on);
    QString diskUtilFullInfoPrint() const; // also written to the debug log

    static bool containsString(const QString& text, const QString& part);
    // A key/value text file: "key: value" lines; nullopt when missing, empty or without ":".
    static std::optional<QVariantMap> loadFile(const QString& path);

    // Versions: major * 10000 + minor * 100 + patch; 10.16 counts as 11.0.
    static qint64 systemVersion(); // the running system (101507 without SystemVersion.plist)
    static void resetSystemVersionCache();
    static qint64 systemVersionToInt(const QString& versionText);
    static qint64 systemVersionForMountPoint(const QString& path); // 0 without the file
    static VolumeSysVersion fullSystemVersionForMountPoint(const QString& path);

    // Device names: a subvolume volume's container, a partition's disk; null for a whole disk
    // and for names that are neither.
    static QString wholeDiskForVolumeBSDName(const QString& name);
    // Role and group of a volume-model volume ("System", "Data", …, "No specific role"); null
    // when the volume has no registry object. The group text is empty when in no group.
    static QString getStringWithRoleForBSDName(const QString& name);
    static QString getStringWithGroupForBSDName(const QString& name);

    // Mounting through mount(8)/umount(8) as root, argv only. Answers contain "successfully"
    // on success and "failed" with the tool's message otherwise; null for names that are not
    // volumes.
    static QString mountDiskForVolumeBSDName(const QString& name);
    static QString unmountDiskForVolumeBSDName(const QString& name, bool tryContainer);

    // Mount paths in mount-table order; bits: 0x1 system mounts, 0x2 the /Network and /net
    // automount trees, 0x10 bind
    // mounts left out. Empty when none is left.
    static QStringList mountPointList(int bits);
    static QString getMountPointWithUUID(const QString& uuid);
    static quint64 availableSpaceOnVolume(const QString& path); // bytes, 0 when unknown
    static quint64 maxSpaceOnVolume(const QString& path);
    // YES only when the volume already is in the requested state (owners are a property of the
    // file system on Linux); NO with a log line otherwise.
    static bool setToVolume(const QString& volumePath, bool ownersEnabled);

    // Mounts that are no volumes: kernel and pseudo file systems (proc, sysfs, cgroup, …),
    // squashfs under /snap, autofs on /home. Bind mounts repeat a folder of another volume
    // (mountinfo root other than "/"), except btrfs subvolume mounts, whose root is the
    // subvolume's path.
    static bool isSystemMount(const MountEntry& mount);
    static bool isBindMount(const MountEntry& mount);

private:
    IDiskUtil();
    DiskDescription m_description;
    mutable QMutex m_listMutex;
    QVariantMap m_diskList;
};
