#pragma once

#include "PrivilegeBackend.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <optional>

// Sparse-bundle disk images. An image is a folder "<name>.sparsebundle" holding a sparse file
// "disk.img" with one file system (ext4 for the Mac OS Extended kinds, btrfs for the APFS kinds)
// and "info.plist" with the image's metadata. It is attached through a loop device and mounted at
// "/media/<user>/<name>" (" 1", " 2" on clashes); the volume's content lives in "<mount>/data".
//
// Encrypted images are always ext4 and use the file system's own encryption (fscrypt v2 on the
// data folder). A random 64-byte master key is wrapped with AES-256-GCM under a key derived from
// the password with PBKDF2-HMAC-SHA256; a password change rewraps the master key and nothing
// else. Passwords stay in memory: they never reach a tool's argument list or a file.
//
// Steps that need root (losetup, mount, umount, e2fsck and btrfs on a device) go as argument
// vectors through the privilege backend; steps on the user's own image file (mkfs, offline
// e2fsck and resize2fs) run as the user; the metadata, the encryption ioctls and the questions
// "which images are attached where" run in-process.
class DiskImageTool
{
public:
    enum class FileSystem
    {
        MacExtended, // ext4
        Apfs // btrfs
    };

    struct Attachment
    {
        QString imagePath; // the bundle
        QString device; // "/dev/loop3"
        QString mountPoint; // empty when the device is attached but not mounted
        bool readOnly = false;
    };

    struct ImageInfo
    {
        QString fileSystem; // "ext4", "btrfs"
        QString partitionUUID; // the file system's UUID
        QString volumeName;
        bool encrypted = false;
        qint64 sizeBytes = 0; // apparent size of disk.img
    };

    // failure kinds callers turn into their working states
    enum class Failure
    {
        None,
        WrongPassword, // wrong or missing password of an encrypted image
        Missing, // the bundle or its image file is not there
        BadMetadata, // info.plist missing or unreadable
        Busy, // attached where the operation needs it detached, or in use
        Tool // a tool or system call failed; the comment says which
    };

    static constexpr qint64 BtrfsMinimumBytes = 114294784; // smallest file system mkfs.btrfs makes
    static constexpr qint64 BtrfsResizeMinimumBytes = 256LL * 1024 * 1024; // smallest resize target
    static constexpr qint64 DefaultSizeBytes = 10LL * 1000 * 1000 * 1000;

    explicit DiskImageTool(PrivilegeBackend& backend = PrivilegeBackend::shared());

    // Creates a detached image; a size of 0 or less makes 10 GB. Returns the file system's UUID,
    // or a null string with *comment (a partial bundle is removed).
    QString create(const QString& bundlePath, const QString& volumeName, double sizeInGB, FileSystem fs,
        const QByteArray& password, QString* comment = nullptr);

    // Attaches and mounts an image (the mount point) or returns the mount it already has. An image
    // mounted read-only cannot be attached for writing. ext4 is checked with e2fsck -p first.
    QString attach(const QString& bundlePath, const QByteArray& password, bool readOnly = false,
        QString* comment = nullptr);

    // Unmounts and releases the loop device of an image, given its bundle or its mount point.
    bool detach(const QString& bundleOrMountPoint, QString* comment = nullptr);

    // Rewraps the master key under the new password; the old one must open it.
    bool changePassword(const QString& bundlePath, const QByteArray& oldPassword,
        const QByteArray& newPassword, QString* comment = nullptr);

    // Size limits in 512-byte sectors: the smallest size the file system shrinks to, the
    // current apparent size, and the current size plus the holding volume's free space.
    bool sizeLimits(const QString& bundlePath, const QByteArray& password, quint64* minSectors,
        quint64* curSectors, quint64* maxSectors, QString* comment = nullptr);

    // Grows or shrinks a detached image to sizeInGB (1 GB = 10^9 bytes).
    bool resize(
        const QString& bundlePath, const QByteArray& password, double sizeInGB, QString* comment = nullptr);

    // The file system of an image, read in-process (libblkid on disk.img and info.plist).
    std::optional<ImageInfo> imageInfo(const QString& bundlePath, QString* comment = nullptr) const;

    Failure lastFailure() const { return m_failure; }

    // Which images are attached: loop devices whose backing file is a bundle's disk.img
    // (matched by device and inode) and their mounts. In-process, no root needed.
    static QList<Attachment> attachedImages();
    static std::optional<Attachment> attachment(const QString& bundlePath);
    static QString mountPointForImage(const QString& bundlePath);
    static QString imagePathForMountPoint(const QString& mountPoint);
    static QString contentPath(const QString& mountPoint); // "<mount>/data"

    static QString imageFilePath(const QString& bundlePath); // "<bundle>/disk.img"
    static QString infoFilePath(const QString& bundlePath); // "<bundle>/info.plist"

    // "/media/<user>", or "<root>/<user>" after setMediaRoot (tests mount under their own folder).
    static QString mediaFolder();
    static void setMediaRoot(const QString& root); // empty restores "/media"

    // Sizes the volume holding path cannot take: vfat caps a file below 4 GiB, and vfat and exfat
    // have no sparse files, so the whole size must fit in the free space. Empty when it fits.
    static QString holdingVolumeRefusal(const QString& folder, qint64 sizeBytes);

private:
    bool fail(Failure failure, const QString& text, QString* comment);
    bool runRoot(const QStringList& args, QString* output, int timeoutMs = 600000, int* exitCode = nullptr);
    static bool runUser(
        const QStringList& args, QString* output, int timeoutMs = -1, int* exitCode = nullptr);
    bool unwrapKey(
        const QVariantMap& info, const QByteArray& password, QByteArray* masterKey, QString* comment);
    QString chooseMountPoint(const QString& bundlePath, QString* comment);
    bool makeFolderAsRoot(const QString& path, QString* comment);
    void removeMountFolder(const QString& path);
    bool ensureDataFolder(const QString& mountPoint, QString* comment);
    bool checkExt4(const QString& target, bool onDevice, bool readOnly, QString* comment);
    QString attachDevice(const QString& imagePath, bool readOnly, QString* comment);
    bool mountDevice(const QString& device, const QString& mountPoint, const QString& fsType, bool readOnly,
        QString* comment);
    bool releaseDevice(const QString& device, QString* comment);
    bool btrfsResize(const QString& bundlePath, const QString& target, QString* output);
    qint64 minimumBytes(const QString& bundlePath, const QString& fsType, QString* comment);

    PrivilegeBackend& m_backend;
    Failure m_failure = Failure::None;
};
