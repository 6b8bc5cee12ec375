#pragma once

#include <QString>

// The three numbers of a macOS-style system version found on a volume: version integer
// (major * 10000 + minor * 100 + patch), update number and security-data number; version 0 =
// not computed yet.
struct VolumeSysVersion
{
    qint32 version = 0;
    qint32 update = 0;
    qint32 securityData = 0;
};

// One record of the volume table (IVolumeBase): the facts of one mounted volume.
class VolumeBaseItem
{
public:
    // Role codes (roleString gives the text).
    enum Role
    {
        RoleUnknown = 0,
        RoleNone = 1,
        RolePreboot = 2,
        RoleVM = 3,
        RoleRecovery = 4,
        RoleUpdate = 5,
        RoleSystem = 6,
        RoleData = 7
    };
    // Connection kinds (mountString gives the text for 1 to 4).
    enum Connection
    {
        ConnectionUnknown = 0,
        ConnectionInternal = 1,
        ConnectionUSB = 2,
        ConnectionNet = 3,
        ConnectionVirtual = 4,
        ConnectionNetNoDevice = 5
    };
    // Flag bits.
    enum Flag : qint64
    {
        FlagReadOnly = 0x10,
        FlagNotWritable = 0x20,
        FlagRemovable = 0x40,
        FlagBigSurGroup = 0x80,
        FlagMontereyGroup = 0x100
    };

    static constexpr int nameMaxBytes = 249;
    static constexpr int textMaxBytes = 1023;

    QString name; // display name
    QString source; // device of the mount ("loop3", "loop3s256"), or the share text of a network volume
    QString deviceDescription; // vendor and model
    QString volumeUUID; // UuidText form, or empty
    QString groupUUID; // volume-group UUID, or empty
    qint32 role = RoleUnknown;
    qint32 connection = ConnectionUnknown;
    qint32 fileSystem = 0; // FSTypeFromName code
    VolumeSysVersion sysVersionData;
    QString reserved; // cleared at fill, not used further
    QString partnerDevice; // source of the other member of the System/Data pair
    QString mountPoint; // mount-point URL text ("file:///media/u/Disk/"), or a plain path
    double totalMB = 0;
    double usedMB = 0;
    double groupUsedMB = -1.0; // -1 = not grouped
    double freeMB = 0;
    qint64 flags = 0;
    qint32 BSDUnit = -1;
    // Linux facts the table keeps beside the record's own fields.
    QString fsTypeName; // the kernel's file-system type ("ext4", "tmpfs", "fuse.sshfs")
    int mountId = 0; // the mount's id in /proc/self/mountinfo (0 = not known)

    // Resets the record to the state of a new slot.
    void itemToDefault();
    // The mount path of the record (from the URL text or the plain path); empty when none.
    // Returned by value: callers keep it however long they like.
    QString strMountPoint() const;
    // For a System-role record whose version is not computed yet, computes it from the volume.
    VolumeSysVersion sysVersion();

    // The one way every mount-point URL text is made: "file://" + the path's bytes
    // percent-encoded (bytes that are not UTF-8 survive) + "/" at the end, as volume URLs have.
    static QString mountPointURLText(const QString& path);
    // The path of a "file://" URL text (percent-decoded through NameCodec, cleaned, no trailing
    // "/" except for the root), a plain path cleaned, or an empty text for anything else.
    static QString pathFromURLText(const QString& urlText);

    static QString roleString(int role); // "" above 7
    static QString mountString(int connection); // "unknown" outside 1..4
    static QString fileSystemString(int code); // "unknown" outside 1..14 and for 9, 11
    // Code of a file-system type name, for the Linux names and the system's own names.
    // fuseblk needs the libblkid type of its device: pass it as blkidType.
    static int FSTypeFromName(const QString& name, const QString& blkidType = QString());
};
