#include "BtrfsVolumeModel.h"

#include "MountInfo.h"
#include "NameCodec.h"
#include "UuidText.h"

#include <QFile>
#include <algorithm>
#include <btrfsutil.h>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/btrfs.h>
#include <linux/btrfs_tree.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

std::string enc(const QString& path)
{
    return NameCodec::encodeStd(path);
}

// libbtrfsutil sets errno for the system call that failed; keep both texts.
BtrfsStatus statusOf(enum btrfs_util_error err, const char* what)
{
    BtrfsStatus s;
    if (err == BTRFS_UTIL_OK)
        return s;
    s.error = errno != 0 ? errno : EIO;
    if (err == BTRFS_UTIL_ERROR_NOT_BTRFS || err == BTRFS_UTIL_ERROR_NOT_SUBVOLUME)
        s.error = EINVAL;
    else if (err == BTRFS_UTIL_ERROR_SUBVOLUME_NOT_FOUND)
        s.error = ENOENT;
    s.message = QStringLiteral("%1: %2 (%3)")
                    .arg(QString::fromLatin1(what), QString::fromUtf8(btrfs_util_strerror(err)),
                        QString::fromLocal8Bit(strerror(s.error)));
    return s;
}

BtrfsStatus errnoStatus(int error, const QString& what)
{
    BtrfsStatus s;
    s.error = error;
    s.message = QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(strerror(error)));
    return s;
}

BtrfsSubvolume fromInfo(const struct btrfs_util_subvolume_info& info)
{
    BtrfsSubvolume v;
    v.id = info.id;
    v.parentId = info.parent_id;
    v.uuid = UuidText::fromBytes(info.uuid);
    v.parentUuid = UuidText::fromBytes(info.parent_uuid);
    v.readOnly = (info.flags & BTRFS_ROOT_SUBVOL_RDONLY) != 0;
    return v;
}

QString optionValue(const QString& options, const QString& key)
{
    const QString prefix = key + QLatin1Char('=');
    for (const QString& o : options.split(QLatin1Char(','))) {
        if (o.startsWith(prefix))
            return o.mid(prefix.size());
    }
    return QString();
}

// Whether subvolume id of the file system holding path is mounted somewhere.
bool isSubvolumeMounted(const QString& path, quint64 id)
{
    const QList<MountEntry> mounts = MountInfo::read();
    const std::optional<MountEntry> m = MountInfo::mountForPath(path, mounts);
    if (!m || m->fsType != QLatin1String("btrfs"))
        return false;
    for (const MountEntry& e : BtrfsVolumeModel::mountsOfFileSystem(*m, mounts)) {
        if (BtrfsVolumeModel::subvolumeIdOfMount(e) == id)
            return true;
    }
    return false;
}

} // namespace

QString BtrfsVolumeModel::snapshotFolderName()
{
    return QStringLiteral(".qvsnapshots");
}

bool BtrfsVolumeModel::isBtrfs(const QString& path)
{
    struct statfs sfs;
    return ::statfs(enc(path).c_str(), &sfs) == 0 && sfs.f_type == BTRFS_SUPER_MAGIC;
}

std::optional<quint64> BtrfsVolumeModel::subvolumeId(const QString& path, BtrfsStatus* status)
{
    uint64_t id = 0;
    errno = 0;
    const auto err = btrfs_util_subvolume_id(enc(path).c_str(), &id);
    if (status)
        *status = statusOf(err, "btrfs_util_subvolume_id");
    if (err != BTRFS_UTIL_OK)
        return std::nullopt;
    return id;
}

std::optional<BtrfsSubvolume> BtrfsVolumeModel::subvolumeInfo(
    const QString& path, quint64 id, BtrfsStatus* status)
{
    struct btrfs_util_subvolume_info info
    {
    };
    errno = 0;
    const auto err = btrfs_util_subvolume_info(enc(path).c_str(), id, &info);
    if (status)
        *status = statusOf(err, "btrfs_util_subvolume_info");
    if (err != BTRFS_UTIL_OK)
        return std::nullopt;
    BtrfsSubvolume v = fromInfo(info);
    // The path below the top level (needs root for subvolumes other than the one at path).
    char* sub = nullptr;
    if (btrfs_util_subvolume_path(enc(path).c_str(), v.id, &sub) == BTRFS_UTIL_OK && sub) {
        v.path = NameCodec::decode(std::string(sub));
        free(sub);
    }
    return v;
}

bool BtrfsVolumeModel::isSubvolume(const QString& path)
{
    return btrfs_util_is_subvolume(enc(path).c_str()) == BTRFS_UTIL_OK;
}

bool BtrfsVolumeModel::isReadOnly(const QString& path)
{
    bool ro = false;
    return btrfs_util_get_subvolume_read_only(enc(path).c_str(), &ro) == BTRFS_UTIL_OK && ro;
}

QString BtrfsVolumeModel::fileSystemUuid(const QString& path)
{
    const int fd = ::open(enc(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return QString();
    btrfs_ioctl_fs_info_args args {};
    const int rc = ::ioctl(fd, BTRFS_IOC_FS_INFO, &args);
    ::close(fd);
    if (rc != 0)
        return QString();
    return UuidText::fromBytes(args.fsid);
}

QList<BtrfsSubvolume> BtrfsVolumeModel::listSubvolumes(const QString& path, BtrfsStatus* status)
{
    QList<BtrfsSubvolume> result;
    btrfs_util_subvolume_iterator* iter = nullptr;
    errno = 0;
    auto err = btrfs_util_create_subvolume_iterator(enc(path).c_str(), topLevelId, 0, &iter);
    if (err != BTRFS_UTIL_OK) {
        if (status)
            *status = statusOf(err, "btrfs_util_create_subvolume_iterator");
        return result;
    }
    for (;;) {
        char* sub = nullptr;
        struct btrfs_util_subvolume_info info
        {
        };
        errno = 0;
        err = btrfs_util_subvolume_iterator_next_info(iter, &sub, &info);
        if (err != BTRFS_UTIL_OK)
            break;
        BtrfsSubvolume v = fromInfo(info);
        v.path = NameCodec::decode(std::string(sub));
        free(sub);
        result.append(v);
    }
    btrfs_util_destroy_subvolume_iterator(iter);
    if (status)
        *status = err == BTRFS_UTIL_ERROR_STOP_ITERATION
            ? BtrfsStatus()
            : statusOf(err, "btrfs_util_subvolume_iterator_next_info");
    std::sort(result.begin(), result.end(),
        [](const BtrfsSubvolume& a, const BtrfsSubvolume& b) { return a.id < b.id; });
    return result;
}

BtrfsStatus BtrfsVolumeModel::createSubvolume(const QString& path)
{
    errno = 0;
    return statusOf(
        btrfs_util_create_subvolume(enc(path).c_str(), 0, nullptr, nullptr), "btrfs_util_create_subvolume");
}

BtrfsStatus BtrfsVolumeModel::deleteSubvolume(const QString& path)
{
    BtrfsStatus st;
    const std::optional<quint64> id = subvolumeId(path, &st);
    if (!id)
        return st;
    if (!isSubvolume(path) || *id == topLevelId)
        return errnoStatus(EINVAL, QStringLiteral("btrfs_util_delete_subvolume"));
    if (isSubvolumeMounted(path, *id))
        return errnoStatus(EBUSY, QStringLiteral("btrfs_util_delete_subvolume"));
    errno = 0;
    return statusOf(btrfs_util_delete_subvolume(enc(path).c_str(), 0), "btrfs_util_delete_subvolume");
}

quint64 BtrfsVolumeModel::subvolumeIdOfMount(const MountEntry& mount)
{
    if (mount.fsType != QLatin1String("btrfs"))
        return 0;
    QString v = optionValue(mount.superOptions, QStringLiteral("subvolid"));
    if (v.isEmpty())
        v = optionValue(mount.mountOptions, QStringLiteral("subvolid"));
    bool ok = false;
    const quint64 id = v.toULongLong(&ok);
    return ok ? id : 0;
}

QList<MountEntry> BtrfsVolumeModel::mountsOfFileSystem(
    const MountEntry& anyMountOfFs, const QList<MountEntry>& mounts)
{
    QList<MountEntry> result;
    for (const MountEntry& e : mounts) {
        if (e.major == anyMountOfFs.major && e.minor == anyMountOfFs.minor && e.fsType == anyMountOfFs.fsType)
            result.append(e);
    }
    return result;
}

std::optional<MountEntry> BtrfsVolumeModel::topLevelMount(
    const MountEntry& anyMountOfFs, const QList<MountEntry>& mounts)
{
    if (anyMountOfFs.fsType != QLatin1String("btrfs"))
        return std::nullopt;
    for (const MountEntry& e : mountsOfFileSystem(anyMountOfFs, mounts)) {
        if (e.root == QLatin1String("/") && subvolumeIdOfMount(e) == topLevelId)
            return e;
    }
    return std::nullopt;
}

bool BtrfsVolumeModel::isValidSnapshotName(const QString& name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    if (name.contains(QLatin1Char('/')) || name.contains(QChar(0)))
        return false;
    return NameCodec::encode(name).size() <= 255;
}

QString BtrfsVolumeModel::snapshotFolder(const QString& volumeRoot)
{
    QString root = volumeRoot;
    while (root.size() > 1 && root.endsWith(QLatin1Char('/')))
        root.chop(1);
    return root == QLatin1String("/") ? QStringLiteral("/.qvsnapshots")
                                      : root + QStringLiteral("/.qvsnapshots");
}

QString BtrfsVolumeModel::snapshotPath(const QString& volumeRoot, const QString& name)
{
    return snapshotFolder(volumeRoot) + QLatin1Char('/') + name;
}

BtrfsStatus BtrfsVolumeModel::createSnapshot(const QString& volumeRoot, const QString& name)
{
    if (!isValidSnapshotName(name))
        return errnoStatus(EINVAL, QStringLiteral("btrfs_util_create_snapshot"));
    const std::string folder = enc(snapshotFolder(volumeRoot));
    if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST)
        return errnoStatus(errno, QStringLiteral("mkdir"));
    struct stat st;
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return errnoStatus(ENOTDIR, QStringLiteral("mkdir"));
    const std::string target = enc(snapshotPath(volumeRoot, name));
    if (::lstat(target.c_str(), &st) == 0)
        return errnoStatus(EEXIST, QStringLiteral("btrfs_util_create_snapshot"));
    errno = 0;
    return statusOf(btrfs_util_create_snapshot(enc(volumeRoot).c_str(), target.c_str(),
                        BTRFS_UTIL_CREATE_SNAPSHOT_READ_ONLY, nullptr, nullptr),
        "btrfs_util_create_snapshot");
}

QStringList BtrfsVolumeModel::listSnapshots(const QString& volumeRoot, BtrfsStatus* status)
{
    QStringList names;
    if (status)
        *status = BtrfsStatus();
    const QString folder = snapshotFolder(volumeRoot);
    DIR* dir = ::opendir(enc(folder).c_str());
    if (!dir) {
        if (status && errno != ENOENT)
            *status = errnoStatus(errno, QStringLiteral("opendir"));
        return names;
    }
    while (dirent* de = ::readdir(dir)) {
        const std::string n = de->d_name;
        if (n == "." || n == "..")
            continue;
        const QString name = NameCodec::decode(n);
        const QString p = folder + QLatin1Char('/') + name;
        // Later snapshots hold earlier ones as empty placeholder folders: keep subvolumes only.
        if (isSubvolume(p) && isReadOnly(p))
            names.append(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

BtrfsStatus BtrfsVolumeModel::deleteSnapshot(const QString& volumeRoot, const QString& name)
{
    if (!isValidSnapshotName(name))
        return errnoStatus(EINVAL, QStringLiteral("btrfs_util_delete_subvolume"));
    const QString p = snapshotPath(volumeRoot, name);
    struct stat st;
    if (::lstat(enc(p).c_str(), &st) != 0)
        return errnoStatus(errno, QStringLiteral("btrfs_util_delete_subvolume"));
    if (!S_ISDIR(st.st_mode) || !isSubvolume(p) || !isReadOnly(p))
        return errnoStatus(EINVAL, QStringLiteral("btrfs_util_delete_subvolume"));
    return deleteSubvolume(p);
}

BtrfsStatus BtrfsVolumeModel::createWritableSnapshot(const QString& source, const QString& target)
{
    if (!isSubvolume(source))
        return errnoStatus(EINVAL, QStringLiteral("btrfs_util_create_snapshot"));
    struct stat st;
    if (::lstat(enc(target).c_str(), &st) == 0)
        return errnoStatus(EEXIST, QStringLiteral("btrfs_util_create_snapshot"));
    errno = 0;
    return statusOf(btrfs_util_create_snapshot(enc(source).c_str(), enc(target).c_str(), 0, nullptr, nullptr),
        "btrfs_util_create_snapshot");
}
