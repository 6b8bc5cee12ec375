#include "QVSnap.h"

#include "platform/BtrfsVolumeModel.h"
#include "platform/BtrfsVolumeRegistry.h"
#include "platform/MountInfo.h"
#include "platform/NameCodec.h"

#include <QString>
#include <algorithm>
#include <array>
#include <btrfsutil.h>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// The snapshot calls answer -1 on failure; the tool exits with that result.
constexpr int kCallFailed = 255;
// A parent that is not one of the system's programs: -36.
constexpr int kRefusedParent = 220;
constexpr uint64_t kTopLevelSubvolume = 5;
const char* const kSnapshotFolder = ".qvsnapshots";

class Fd
{
public:
    explicit Fd(int fd = -1)
        : m_fd(fd)
    { }
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept
        : m_fd(std::exchange(other.m_fd, -1))
    { }
    Fd& operator=(Fd&& other) noexcept
    {
        if (this != &other) {
            if (m_fd >= 0)
                ::close(m_fd);
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }

private:
    int m_fd;
};

void printVersion()
{
    std::fputs("qv_snap version 1.2\n", stdout);
    std::fflush(stdout);
}

int failWith(const char* label, int error)
{
    errno = error;
    std::perror(label);
    return kCallFailed;
}

int fail(const char* label)
{
    std::perror(label);
    return kCallFailed;
}

int usage(const char* synopsis)
{
    std::fprintf(stderr, "usage: QVSnap %s\n", synopsis);
    return 1;
}

// libbtrfsutil leaves errno alone for the answers that do not come from a system call.
bool btrfsOk(btrfs_util_error error)
{
    switch (error) {
    case BTRFS_UTIL_OK:
        return true;
    case BTRFS_UTIL_ERROR_NOT_BTRFS:
        errno = ENOTSUP;
        break;
    case BTRFS_UTIL_ERROR_NOT_SUBVOLUME:
    case BTRFS_UTIL_ERROR_INVALID_ARGUMENT:
        errno = EINVAL;
        break;
    case BTRFS_UTIL_ERROR_NO_MEMORY:
        errno = ENOMEM;
        break;
    default:
        if (errno == 0)
            errno = EIO;
        break;
    }
    return false;
}

// Opens the volume read-only; prints "open" and answers an invalid descriptor when it cannot.
Fd openVolume(const std::string& volume)
{
    Fd fd(::open(volume.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid())
        std::perror("open");
    return fd;
}

// The volume must be the root of a btrfs subvolume.
bool checkVolume(int volumeFd)
{
    errno = 0;
    return btrfsOk(btrfs_util_is_subvolume_fd(volumeFd));
}

// The snapshot folder of the volume, made when asked. It must be a real folder of the volume's
// own subvolume, so that nothing done here lands outside it.
Fd openSnapshotFolder(int volumeFd, bool create)
{
    struct stat volumeStat = {};
    if (::fstat(volumeFd, &volumeStat) != 0)
        return Fd();
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::openat(volumeFd, kSnapshotFolder, flags);
    if (fd < 0 && errno == ENOENT && create) {
        if (::mkdirat(volumeFd, kSnapshotFolder, 0700) != 0 && errno != EEXIST)
            return Fd();
        fd = ::openat(volumeFd, kSnapshotFolder, flags);
    }
    if (fd < 0) {
        if (errno == ELOOP)
            errno = ENOTDIR;
        return Fd();
    }
    Fd folder(fd);
    struct stat folderStat = {};
    if (::fstat(folder.get(), &folderStat) != 0)
        return Fd();
    if (folderStat.st_dev != volumeStat.st_dev) {
        errno = EXDEV;
        return Fd();
    }
    return folder;
}

// A snapshot is a read-only subvolume directly inside the snapshot folder; anything else there
// (a plain folder, a writable subvolume, a link) is refused with EINVAL.
Fd openSnapshot(int folderFd, const std::string& name, uint64_t* id)
{
    Fd fd(::openat(folderFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid()) {
        if (errno == ENOTDIR || errno == ELOOP)
            errno = EINVAL;
        return Fd();
    }
    errno = 0;
    if (!btrfsOk(btrfs_util_is_subvolume_fd(fd.get())))
        return Fd();
    bool readOnly = false;
    if (!btrfsOk(btrfs_util_get_subvolume_read_only_fd(fd.get(), &readOnly)))
        return Fd();
    if (!readOnly) {
        errno = EINVAL;
        return Fd();
    }
    if (id && !btrfsOk(btrfs_util_subvolume_id_fd(fd.get(), id)))
        return Fd();
    return fd;
}

std::optional<MountEntry> mountOfVolume(const std::string& volume, const QList<MountEntry>& mounts)
{
    char resolved[PATH_MAX];
    if (!::realpath(volume.c_str(), resolved))
        return std::nullopt;
    auto entry
        = MountInfo::mountForPath(NameCodec::decode(resolved, qsizetype(std::strlen(resolved))), mounts);
    if (!entry || entry->fsType != QLatin1String("btrfs")) {
        errno = ENOTSUP;
        return std::nullopt;
    }
    return entry;
}

quint64 subvolumeIdOption(const MountEntry& entry)
{
    return entry.superOption(QStringLiteral("subvolid")).toULongLong();
}

// True when a subvolume of the volume's file system is mounted somewhere (btrfs would delete it
// under the mount).
bool isSubvolumeMounted(const MountEntry& volumeMount, uint64_t id, const QList<MountEntry>& mounts)
{
    return std::any_of(mounts.begin(), mounts.end(), [&](const MountEntry& m) {
        return m.fsType == QLatin1String("btrfs") && m.major == volumeMount.major
            && m.minor == volumeMount.minor && subvolumeIdOption(m) == id;
    });
}

std::string temporaryParent()
{
    const char* tmp = std::getenv("TMPDIR");
    return (tmp && *tmp) ? std::string(tmp) : std::string("/tmp");
}

} // namespace

std::string QVSnap::processName(pid_t pid)
{
    const std::string path = "/proc/" + std::to_string(pid) + "/comm";
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid())
        return {};
    std::array<char, 64> buffer = {};
    const ssize_t n = ::read(fd.get(), buffer.data(), buffer.size() - 1);
    if (n <= 0)
        return {};
    std::string name(buffer.data(), static_cast<size_t>(n));
    if (!name.empty() && name.back() == '\n')
        name.pop_back();
    return name;
}

bool QVSnap::isAllowedParent(const std::string& name)
{
    static const std::array<const char*, 6> allowed
        = { "qv_proc", "Kelvane Pro 3", "Kelvane Pro", "Pardix Stellact", "QVP3Launcher", "ZRTLauncher" };
    if (name.empty())
        return false;
    return std::any_of(allowed.begin(), allowed.end(), [&](const char* a) { return name == a; });
}

bool QVSnap::isValidName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos
        && name.size() <= 255;
}

int QVSnap::run(int argc, char** argv)
{
    if (!isAllowedParent(processName(::getppid()))) {
        printVersion();
        return kRefusedParent;
    }
    if (argc < 2 || std::strlen(argv[1]) < 2) {
        printVersion();
        return 0;
    }
    const int operands = argc - 2;
    switch (argv[1][1]) {
    case 'c':
        if (operands != 2)
            return usage("-c <snapshot> <volume>");
        if (!isAllowedParent(processName(::getppid())))
            return kRefusedParent;
        return create(argv[2], argv[3]);
    case 'd':
        if (operands != 2)
            return usage("-d <snapshot> <volume>");
        return remove(argv[2], argv[3]);
    case 'r':
        if (operands != 2)
            return usage("-r <snapshot> <volume>");
        return revert(argv[2], argv[3]);
    case 'n':
        if (operands != 3)
            return usage("-n <old name> <new name> <volume>");
        return rename(argv[2], argv[3], argv[4]);
    case 's':
        if (operands != 3)
            return usage("-s <snapshot> <volume> <folder>");
        return mount(argv[2], argv[3], argv[4]);
    case 'l':
        if (operands != 1)
            return usage("-l <volume>");
        return list(argv[2]);
    default:
        printVersion();
        return 0;
    }
}

int QVSnap::create(const std::string& name, const std::string& volume)
{
    const char* label = "fs_snapshot_create";
    if (!isValidName(name))
        return failWith(label, EINVAL);
    Fd vol = openVolume(volume);
    if (!vol.valid())
        return 1;
    if (!checkVolume(vol.get()))
        return fail(label);
    Fd folder = openSnapshotFolder(vol.get(), true);
    if (!folder.valid())
        return fail(label);
    errno = 0;
    if (!btrfsOk(btrfs_util_create_snapshot_fd2(
            vol.get(), folder.get(), name.c_str(), BTRFS_UTIL_CREATE_SNAPSHOT_READ_ONLY, nullptr, nullptr)))
        return fail(label);
    return 0;
}

int QVSnap::remove(const std::string& name, const std::string& volume)
{
    const char* label = "fs_snapshot_delete";
    if (!isValidName(name))
        return failWith(label, EINVAL);
    Fd vol = openVolume(volume);
    if (!vol.valid())
        return 1;
    if (!checkVolume(vol.get()))
        return fail(label);
    Fd folder = openSnapshotFolder(vol.get(), false);
    if (!folder.valid())
        return fail(label);
    uint64_t id = 0;
    if (!openSnapshot(folder.get(), name, &id).valid())
        return fail(label);
    const QList<MountEntry> mounts = MountInfo::read();
    const auto volumeMount = mountOfVolume(volume, mounts);
    if (!volumeMount)
        return fail(label);
    if (isSubvolumeMounted(*volumeMount, id, mounts))
        return failWith(label, EBUSY);
    errno = 0;
    if (!btrfsOk(btrfs_util_delete_subvolume_fd(folder.get(), name.c_str(), 0)))
        return fail(label);
    return 0;
}

int QVSnap::rename(const std::string& oldName, const std::string& newName, const std::string& volume)
{
    const char* label = "fs_snapshot_rename";
    if (!isValidName(oldName) || !isValidName(newName))
        return failWith(label, EINVAL);
    Fd vol = openVolume(volume);
    if (!vol.valid())
        return 1;
    if (!checkVolume(vol.get()))
        return fail(label);
    Fd folder = openSnapshotFolder(vol.get(), false);
    if (!folder.valid())
        return fail(label);
    if (!openSnapshot(folder.get(), oldName, nullptr).valid())
        return fail(label);
    if (::renameat2(folder.get(), oldName.c_str(), folder.get(), newName.c_str(), RENAME_NOREPLACE) != 0)
        return fail(label);
    return 0;
}

int QVSnap::mount(const std::string& name, const std::string& volume, const std::string& folderPath)
{
    const char* label = "fs_snapshot_mount";
    if (!isValidName(name))
        return failWith(label, EINVAL);
    Fd vol = openVolume(volume);
    if (!vol.valid())
        return 1;
    if (!checkVolume(vol.get()))
        return fail(label);
    Fd folder = openSnapshotFolder(vol.get(), false);
    if (!folder.valid())
        return fail(label);
    uint64_t id = 0;
    if (!openSnapshot(folder.get(), name, &id).valid())
        return fail(label);
    const auto volumeMount = mountOfVolume(volume, MountInfo::read());
    if (!volumeMount)
        return fail(label);
    // The subvolume goes by number, so no character of a name can reach the option text.
    const std::string options = "subvolid=" + std::to_string(id);
    const QByteArray source = NameCodec::encode(volumeMount->source);
    if (::mount(source.constData(), folderPath.c_str(), "btrfs", MS_RDONLY, options.c_str()) != 0)
        return fail(label);
    std::fputs("mount_apfs: snapshot implicitly mounted readonly\n", stdout);
    std::fflush(stdout);
    return 0;
}

int QVSnap::list(const std::string& volume)
{
    const char* label = "fs_snapshot_list";
    Fd vol = openVolume(volume);
    if (!vol.valid())
        return 1;
    if (!checkVolume(vol.get())) {
        std::perror(label);
        return 1;
    }
    Fd folder = openSnapshotFolder(vol.get(), false);
    if (!folder.valid()) {
        if (errno == ENOENT)
            return 0; // no snapshot was ever made
        std::perror(label);
        return 1;
    }
    const int dirFd = ::dup(folder.get());
    DIR* dir = dirFd >= 0 ? ::fdopendir(dirFd) : nullptr;
    if (!dir) {
        if (dirFd >= 0)
            ::close(dirFd);
        std::perror(label);
        return 1;
    }
    std::vector<std::pair<uint64_t, std::string>> snapshots;
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        uint64_t id = 0;
        if (openSnapshot(folder.get(), name, &id).valid())
            snapshots.emplace_back(id, name);
        errno = 0;
    }
    const int readError = errno;
    ::closedir(dir);
    if (readError != 0) {
        errno = readError;
        std::perror(label);
        return 1;
    }
    // Oldest first: subvolume ids grow with every snapshot made.
    std::sort(snapshots.begin(), snapshots.end());
    for (const auto& snapshot : snapshots) {
        std::fwrite(snapshot.second.data(), 1, snapshot.second.size(), stdout);
        std::fputc('\n', stdout);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

int QVSnap::revert(const std::string& name, const std::string& volume)
{
    const char* label = "fs_snapshot_revert";
    if (!isValidName(name))
        return failWith(label, EINVAL);
    Fd vol = openVolume(volume);
    if (!vol.valid())
        return 1;
    if (!checkVolume(vol.get()))
        return fail(label);
    uint64_t volumeId = 0;
    errno = 0;
    if (!btrfsOk(btrfs_util_subvolume_id_fd(vol.get(), &volumeId)))
        return fail(label);
    // The top level cannot be replaced by another subvolume.
    if (volumeId == kTopLevelSubvolume)
        return failWith(label, ENOTSUP);
    {
        Fd folder = openSnapshotFolder(vol.get(), false);
        if (!folder.valid() || !openSnapshot(folder.get(), name, nullptr).valid())
            return fail(label);
    }
    char* pathInFs = nullptr;
    errno = 0;
    if (!btrfsOk(btrfs_util_subvolume_path_fd(vol.get(), 0, &pathInFs)))
        return fail(label);
    const std::string relative(pathInFs);
    std::free(pathInFs);
    const auto volumeMount = mountOfVolume(volume, MountInfo::read());
    if (!volumeMount)
        return fail(label);
    vol = Fd();

    // The top level is mounted privately to swap the volume's subvolume for a writable copy of the
    // snapshot. The old subvolume is kept under a free name: it holds the snapshots.
    std::string work = temporaryParent() + "/kelvane-qvsnap.XXXXXX";
    if (!::mkdtemp(work.data()))
        return fail(label);
    const QByteArray source = NameCodec::encode(volumeMount->source);
    if (::mount(source.constData(), work.c_str(), "btrfs", MS_NOSUID | MS_NODEV | MS_NOEXEC, "subvolid=5")
        != 0) {
        const int error = errno;
        ::rmdir(work.c_str());
        return failWith(label, error);
    }

    int error = 0;
    const QString topPath = NameCodec::decode(work);
    // The volume's name, role and group go with it to its new subvolume. A registry that cannot
    // be read stops the revert before anything changed.
    BtrfsVolumeRegistry registry;
    const BtrfsVolumeRegistry::Status registryStatus = registry.load(topPath);
    if (registryStatus == BtrfsVolumeRegistry::Status::Corrupt
        || registryStatus == BtrfsVolumeRegistry::Status::Unreadable)
        error = EIO;
    if (error == 0) {
        const size_t slash = relative.rfind('/');
        const std::string parentPath = slash == std::string::npos ? "." : relative.substr(0, slash);
        const std::string leaf = slash == std::string::npos ? relative : relative.substr(slash + 1);
        Fd top(::open(work.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        Fd parent(
            top.valid() ? ::openat(top.get(), parentPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1);
        std::string oldLeaf;
        if (!parent.valid()) {
            error = errno;
        } else {
            for (int i = 1; i <= 1000 && oldLeaf.empty(); ++i) {
                const std::string candidate = leaf + ".qvs-old" + (i > 1 ? "-" + std::to_string(i) : "");
                if (candidate.size() > 255) {
                    error = ENAMETOOLONG;
                    break;
                }
                if (::renameat2(parent.get(), leaf.c_str(), parent.get(), candidate.c_str(), RENAME_NOREPLACE)
                    == 0)
                    oldLeaf = candidate;
                else if (errno != EEXIST) {
                    error = errno;
                    break;
                }
            }
            if (oldLeaf.empty() && error == 0)
                error = EEXIST;
        }
        if (!oldLeaf.empty()) {
            const std::string snapshotPath = oldLeaf + "/" + kSnapshotFolder + "/" + name;
            Fd snapshot(::openat(parent.get(), snapshotPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            errno = 0;
            if (!snapshot.valid()
                || !btrfsOk(btrfs_util_create_snapshot_fd2(
                    snapshot.get(), parent.get(), leaf.c_str(), 0, nullptr, nullptr))) {
                error = errno;
            } else if (registry.contains(volumeId)) {
                const QString newPath = topPath + QLatin1Char('/') + NameCodec::decode(relative);
                const auto info = BtrfsVolumeModel::subvolumeInfo(newPath);
                BtrfsVolumeRegistry::Entry entry = registry.entry(volumeId);
                if (info)
                    entry.uuid = info->uuid;
                bool moved = false;
                if (info) {
                    registry.removeEntry(volumeId);
                    registry.setEntry(info->id, entry);
                    moved = registry.save(topPath);
                }
                if (!moved) {
                    // Without its registry entry the volume would lose its role: undo the swap.
                    error = EIO;
                    btrfs_util_delete_subvolume_fd(parent.get(), leaf.c_str(), 0);
                }
            }
            if (error != 0) {
                // Put the volume back as it was.
                ::renameat2(parent.get(), oldLeaf.c_str(), parent.get(), leaf.c_str(), RENAME_NOREPLACE);
            }
        }
    }

    if (::umount2(work.c_str(), 0) != 0)
        ::umount2(work.c_str(), MNT_DETACH);
    ::rmdir(work.c_str());
    if (error != 0)
        return failWith(label, error);
    return 0;
}
