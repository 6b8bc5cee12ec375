#pragma once

#include <QString>
#include <QStringList>

class IVolumeLocation;

// The facts of one mounted volume.
struct VMVolumeInfoRec
{
    QString displayName;
    QString mountPoint; // a path
    bool writable = false;
    bool removable = false;
    bool unmountable = false;
    qint64 totalMB = 0; // MB of 1,000,000 bytes, truncated
    qint64 freeMB = 0;
    QString URL; // a file URL, or the server URL of a share
    bool directAccess = false;
    bool local = false;
};

// A local path split at its volume.
struct VMSeparatedPath
{
    QString mountPoint;
    QString displayName;
    QString pathBelow; // the components after the mount point, without a leading "/"
};

// Mounts and unmounts the network share behind a location, tells whether a share is mounted,
// reads the facts of a mounted volume and splits a local path at its volume.
// Shares by URL scheme: sftp:// and ssh:// through sshfs as the user; smb:// through mount.cifs
// and nfs:// through mount.nfs as root, offered only where those programs are installed.
// Shares are mounted under /media/<user>/<last URL component>. Nothing passes through a shell;
// URLs whose host, user or path could turn into options are refused.
class CVolumeMounter
{
public:
    static CVolumeMounter& sharedVolumeMounter();

    static bool getVolumeInfo(const QString& path, VMVolumeInfoRec& rec);
    static bool isVolumeMounted(VMVolumeInfoRec& rec);
    static bool mountVolume(VMVolumeInfoRec& rec);
    static bool unmountVolume(const QString& path);
    static bool mountLocation(IVolumeLocation* location, qint64 extraFlag);
    static bool unmountLocation(IVolumeLocation* location, qint64 extraFlag);
    static bool separateLocalPath(const QString& path, VMSeparatedPath* separated);
    // The volume's reference is its mount path on Linux; 0, or -43 when no volume holds path.
    static int PathToVRefNum(const QString& path, QString* refNum);
    static QString currentHost();
    // The record as one value under key in <config home>/<domain>.plist.
    static bool saveVolumeInfo(const QString& domain, const QString& key, const VMVolumeInfoRec& rec);
    static bool loadVolumeInfo(const QString& domain, const QString& key, VMVolumeInfoRec& rec);

    // Mounts the share of a URL; the mount path in *mountPath, or NO with the tool's exit status
    // in *errorNumber and its message in *message.
    static bool mountShare(const QString& urlText, QString* mountPath, int* errorNumber, QString* message);
    // A share URL rebuilt from a mount's source: cifs "//h/s" → "smb://h/s", nfs "h:/p" →
    // "nfs://h/p", fuse.sshfs "u@h:/p" → "sftp://u@h/p"; null for other file systems.
    static QString shareURLFromSource(const QString& fsType, const QString& source);
    // Options added to every sshfs mount (tests name their key and known-hosts file here).
    static void setExtraSshfsOptions(const QStringList& options);
};

// The mount point of the volume holding path (whole components); null when none.
QString mountPointForPath(const QString& path);
// The container of a volume-model volume ("loop0s256" → "loop0"); null for anything else.
QString containerForVolume(const QString& device);
// The System and Data members of the group the volume belongs to (device names).
bool findGroup(const QString& volumeDevice, QString* systemDevice, QString* dataDevice);
QString getMountPointForDevice(const QString& BSDName);
// Answers the mount point and runs nothing.
QString mountVolumeBSDName(const QString& BSDName);
