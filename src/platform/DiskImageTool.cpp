#include "DiskImageTool.h"

#include "MountInfo.h"
#include "NameCodec.h"
#include "PlistBridge.h"
#include "RootProcess.h"
#include "Subprocess.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <blkid/blkid.h>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <linux/fscrypt.h>
#include <linux/loop.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int MasterKeySize = 64; // AES-256-XTS contents key material for fscrypt v2
constexpr int SaltSize = 16;
constexpr int GcmIvSize = 12;
constexpr int GcmTagSize = 16;
constexpr int KdfIterations = 200000;
constexpr qint64 JournalFromBytes = 1024LL * 1024 * 1024;
const char KeyWrapAad[] = "kelvane-sparsebundle-key-v1";

QString tr(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

QString& mediaRootStorage()
{
    static QString root;
    return root;
}

std::string enc(const QString& path)
{
    return NameCodec::encodeStd(path);
}

// Zeroes a secret when it goes out of scope.
struct SecretBytes
{
    QByteArray bytes;
    ~SecretBytes()
    {
        if (!bytes.isEmpty())
            OPENSSL_cleanse(bytes.data(), size_t(bytes.size()));
    }
};

QString toolPath(const QString& name)
{
    for (const char* dir : { "/usr/sbin/", "/sbin/", "/usr/bin/", "/bin/" }) {
        const QString p = QString::fromLatin1(dir) + name;
        if (::access(enc(p).c_str(), X_OK) == 0)
            return p;
    }
    return name;
}

bool statPath(const QString& path, struct stat* st)
{
    return ::stat(enc(path).c_str(), st) == 0;
}

QString trimmedOutput(const QByteArray& out, const QByteArray& err)
{
    QByteArray all = out;
    if (!err.isEmpty()) {
        if (!all.isEmpty() && !all.endsWith('\n'))
            all += '\n';
        all += err;
    }
    return QString::fromUtf8(all).trimmed();
}

bool deriveKek(const QByteArray& password, const QByteArray& salt, int iterations, unsigned char* kek)
{
    return PKCS5_PBKDF2_HMAC(password.constData(), int(password.size()),
               reinterpret_cast<const unsigned char*>(salt.constData()), int(salt.size()), iterations,
               EVP_sha256(), 32, kek)
        == 1;
}

// iv || ciphertext || tag
QByteArray wrapKey(
    const QByteArray& masterKey, const QByteArray& password, const QByteArray& salt, int iterations)
{
    unsigned char kek[32];
    if (!deriveKek(password, salt, iterations, kek))
        return {};
    QByteArray iv(GcmIvSize, '\0');
    RAND_bytes(reinterpret_cast<unsigned char*>(iv.data()), GcmIvSize);
    QByteArray out(masterKey.size(), '\0');
    QByteArray tag(GcmTagSize, '\0');
    bool ok = false;
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int len = 0;
    if (ctx && EVP_EncryptInit_ex(ctx, EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1
        && EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_IVLEN, GcmIvSize, nullptr) == 1
        && EVP_EncryptInit_ex(
               ctx, nullptr, nullptr, kek, reinterpret_cast<const unsigned char*>(iv.constData()))
            == 1
        && EVP_EncryptUpdate(ctx, nullptr, &len, reinterpret_cast<const unsigned char*>(KeyWrapAad),
               int(sizeof(KeyWrapAad) - 1))
            == 1
        && EVP_EncryptUpdate(ctx, reinterpret_cast<unsigned char*>(out.data()), &len,
               reinterpret_cast<const unsigned char*>(masterKey.constData()), int(masterKey.size()))
            == 1
        && EVP_EncryptFinal_ex(ctx, reinterpret_cast<unsigned char*>(out.data()) + len, &len) == 1
        && EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_GET_TAG, GcmTagSize, tag.data()) == 1)
        ok = true;
    EVP_CIPHER_CTX_free(ctx);
    OPENSSL_cleanse(kek, sizeof kek);
    return ok ? iv + out + tag : QByteArray();
}

// false when the tag does not match: the password is wrong (or the metadata was altered)
bool unwrap(const QByteArray& wrapped, const QByteArray& password, const QByteArray& salt, int iterations,
    QByteArray* masterKey)
{
    if (wrapped.size() != GcmIvSize + MasterKeySize + GcmTagSize)
        return false;
    unsigned char kek[32];
    if (!deriveKek(password, salt, iterations, kek))
        return false;
    const QByteArray iv = wrapped.left(GcmIvSize);
    const QByteArray body = wrapped.mid(GcmIvSize, MasterKeySize);
    QByteArray tag = wrapped.right(GcmTagSize);
    QByteArray out(MasterKeySize, '\0');
    bool ok = false;
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int len = 0;
    if (ctx && EVP_DecryptInit_ex(ctx, EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1
        && EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_IVLEN, GcmIvSize, nullptr) == 1
        && EVP_DecryptInit_ex(
               ctx, nullptr, nullptr, kek, reinterpret_cast<const unsigned char*>(iv.constData()))
            == 1
        && EVP_DecryptUpdate(ctx, nullptr, &len, reinterpret_cast<const unsigned char*>(KeyWrapAad),
               int(sizeof(KeyWrapAad) - 1))
            == 1
        && EVP_DecryptUpdate(ctx, reinterpret_cast<unsigned char*>(out.data()), &len,
               reinterpret_cast<const unsigned char*>(body.constData()), int(body.size()))
            == 1
        && EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_TAG, GcmTagSize, tag.data()) == 1
        && EVP_DecryptFinal_ex(ctx, reinterpret_cast<unsigned char*>(out.data()) + len, &len) == 1)
        ok = true;
    EVP_CIPHER_CTX_free(ctx);
    OPENSSL_cleanse(kek, sizeof kek);
    if (ok)
        *masterKey = out;
    else
        OPENSSL_cleanse(out.data(), size_t(out.size()));
    return ok;
}

// Adds the master key to the file system's keyring; the kernel answers its identifier.
bool addFsKey(const QString& mountPoint, const QByteArray& masterKey, QByteArray* identifier, QString* error)
{
    const int fd = ::open(enc(mountPoint).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    const size_t size = sizeof(fscrypt_add_key_arg) + size_t(masterKey.size());
    std::vector<unsigned char> buffer(size, 0);
    auto* arg = reinterpret_cast<fscrypt_add_key_arg*>(buffer.data());
    arg->key_spec.type = FSCRYPT_KEY_SPEC_TYPE_IDENTIFIER;
    arg->raw_size = __u32(masterKey.size());
    std::memcpy(arg->raw, masterKey.constData(), size_t(masterKey.size()));
    const int rc = ::ioctl(fd, FS_IOC_ADD_ENCRYPTION_KEY, arg);
    const int err = errno;
    ::close(fd);
    if (rc == 0)
        *identifier = QByteArray(
            reinterpret_cast<const char*>(arg->key_spec.u.identifier), FSCRYPT_KEY_IDENTIFIER_SIZE);
    OPENSSL_cleanse(buffer.data(), buffer.size());
    if (rc != 0) {
        *error = QString::fromLocal8Bit(std::strerror(err));
        return false;
    }
    return true;
}

bool setFsPolicy(const QString& folder, const QByteArray& identifier, QString* error)
{
    const int fd = ::open(enc(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    fscrypt_policy_v2 policy;
    std::memset(&policy, 0, sizeof policy);
    policy.version = FSCRYPT_POLICY_V2;
    policy.contents_encryption_mode = FSCRYPT_MODE_AES_256_XTS;
    policy.filenames_encryption_mode = FSCRYPT_MODE_AES_256_CTS;
    policy.flags = FSCRYPT_POLICY_FLAGS_PAD_32;
    std::memcpy(policy.master_key_identifier, identifier.constData(), FSCRYPT_KEY_IDENTIFIER_SIZE);
    const int rc = ::ioctl(fd, FS_IOC_SET_ENCRYPTION_POLICY, &policy);
    const int err = errno;
    ::close(fd);
    if (rc != 0) {
        *error = QString::fromLocal8Bit(std::strerror(err));
        return false;
    }
    return true;
}

struct LoopDevice
{
    QString name; // "loop3"
    dev_t backingDevice = 0;
    ino_t backingInode = 0;
    bool readOnly = false;
};

// Loop devices with a backing file, with the file's device and inode: from LOOP_GET_STATUS64
// when the device can be opened, else from stat() of the backing-file path sysfs gives.
QList<LoopDevice> loopDevices()
{
    QList<LoopDevice> result;
    DIR* dir = ::opendir("/sys/block");
    if (!dir)
        return result;
    while (dirent* e = ::readdir(dir)) {
        const QString name = QString::fromLatin1(e->d_name);
        if (!name.startsWith(QLatin1String("loop")))
            continue;
        const QString sys = QStringLiteral("/sys/block/") + name + QStringLiteral("/loop/backing_file");
        QFile backing(sys);
        if (!backing.open(QIODevice::ReadOnly))
            continue; // not attached
        QByteArray backingPath = backing.readAll();
        if (backingPath.endsWith('\n'))
            backingPath.chop(1);
        // A device left on a file that was deleted can share its old inode number with a new
        // image file: it is no image of ours.
        if (backingPath.endsWith(" (deleted)"))
            continue;
        LoopDevice dev;
        dev.name = name;
        QFile ro(QStringLiteral("/sys/block/") + name + QStringLiteral("/ro"));
        if (ro.open(QIODevice::ReadOnly))
            dev.readOnly = ro.readAll().trimmed() == "1";
        bool found = false;
        const int fd = ::open(("/dev/" + name.toStdString()).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            loop_info64 info;
            std::memset(&info, 0, sizeof info);
            if (::ioctl(fd, LOOP_GET_STATUS64, &info) == 0) {
                dev.backingDevice = dev_t(info.lo_device);
                dev.backingInode = ino_t(info.lo_inode);
                found = true;
            }
            ::close(fd);
        }
        if (!found) {
            struct stat st;
            if (::stat(backingPath.constData(), &st) == 0) {
                dev.backingDevice = st.st_dev;
                dev.backingInode = st.st_ino;
                found = true;
            }
        }
        if (found)
            result.append(dev);
    }
    ::closedir(dir);
    return result;
}

std::optional<MountEntry> mountOfDevice(const QString& device, const QList<MountEntry>& mounts)
{
    std::optional<MountEntry> best;
    for (const MountEntry& m : mounts) {
        if (m.source != device || m.root != QLatin1String("/"))
            continue;
        if (!best || m.mountPoint.startsWith(DiskImageTool::mediaFolder()))
            best = m;
    }
    return best;
}

QString userName()
{
    if (const passwd* pw = ::getpwuid(::getuid()))
        return QString::fromLocal8Bit(pw->pw_name);
    return QString::number(::getuid());
}

bool removeBundle(const QString& bundlePath)
{
    std::error_code ec;
    std::filesystem::remove(enc(DiskImageTool::imageFilePath(bundlePath)), ec);
    std::filesystem::remove(enc(DiskImageTool::infoFilePath(bundlePath)), ec);
    return ::rmdir(enc(bundlePath).c_str()) == 0;
}

bool isMountPoint(const QString& path)
{
    for (const MountEntry& m : MountInfo::read())
        if (m.mountPoint == path)
            return true;
    return false;
}

// Whether the ext4 superblock says "cleanly unmounted, no errors, no journal to replay". Then
// e2fsck -p would only confirm it, after the multi-mount protection's wait of several seconds.
bool ext4MarkedClean(const QString& imageFile)
{
    QFile f(imageFile);
    if (!f.open(QIODevice::ReadOnly) || !f.seek(1024))
        return false;
    const QByteArray sb = f.read(1024);
    if (sb.size() < 0x64)
        return false;
    auto le16 = [&](int at) { return quint16(quint8(sb[at]) | (quint8(sb[at + 1]) << 8)); };
    auto le32 = [&](int at) { return quint32(le16(at)) | (quint32(le16(at + 2)) << 16); };
    constexpr quint16 Magic = 0xEF53, ValidFs = 0x1, ErrorFs = 0x2;
    constexpr quint32 IncompatRecover = 0x4;
    const quint16 state = le16(0x3A);
    return le16(0x38) == Magic && (state & ValidFs) && !(state & ErrorFs) && !(le32(0x60) & IncompatRecover);
}

} // namespace

DiskImageTool::DiskImageTool(PrivilegeBackend& backend)
    : m_backend(backend)
{ }

bool DiskImageTool::fail(Failure failure, const QString& text, QString* comment)
{
    m_failure = failure;
    if (comment)
        *comment = text;
    return false;
}

QString DiskImageTool::imageFilePath(const QString& bundlePath)
{
    return bundlePath + QStringLiteral("/disk.img");
}

QString DiskImageTool::infoFilePath(const QString& bundlePath)
{
    return bundlePath + QStringLiteral("/info.plist");
}

QString DiskImageTool::contentPath(const QString& mountPoint)
{
    return mountPoint.isEmpty() ? QString() : mountPoint + QStringLiteral("/data");
}

void DiskImageTool::setMediaRoot(const QString& root)
{
    mediaRootStorage() = root;
}

QString DiskImageTool::mediaFolder()
{
    const QString root = mediaRootStorage().isEmpty() ? QStringLiteral("/media") : mediaRootStorage();
    return root + QLatin1Char('/') + userName();
}

bool DiskImageTool::runRoot(const QStringList& args, QString* output, int timeoutMs, int* exitCode)
{
    PrivilegeBackend::RootCommand cmd;
    cmd.arguments = args;
    cmd.mergeStderr = true;
    const RootProcess::Result r = RootProcess::run(cmd, timeoutMs, m_backend);
    if (output)
        *output = r.started ? trimmedOutput(r.out, r.err) : r.error;
    if (exitCode)
        *exitCode = r.started && r.signal == 0 ? r.exitCode : -1;
    return r.succeeded();
}

bool DiskImageTool::runUser(const QStringList& args, QString* output, int timeoutMs, int* exitCode)
{
    Subprocess::Options o;
    o.program = args.value(0);
    o.arguments = args.mid(1);
    o.mergeStderr = true;
    const Subprocess::Result r = Subprocess::run(o, timeoutMs);
    if (output)
        *output = r.started ? trimmedOutput(r.out, r.err) : r.error;
    if (exitCode)
        *exitCode = r.started && r.signal == 0 ? r.exitCode : -1;
    return r.succeeded();
}

QString DiskImageTool::holdingVolumeRefusal(const QString& folder, qint64 sizeBytes)
{
    const auto mount = MountInfo::mountEntryForPath(folder);
    const QString type = mount ? mount->fsType : QString();
    const bool fat = type == QLatin1String("vfat") || type == QLatin1String("msdos");
    const bool noSparse = fat || type == QLatin1String("exfat");
    if (fat && sizeBytes >= 4LL * 1024 * 1024 * 1024)
        return tr("The volume holding the disk image cannot hold files of 4 GB or more.");
    if (noSparse) {
        struct statvfs vfs;
        if (::statvfs(enc(folder).c_str(), &vfs) == 0
            && quint64(sizeBytes) > quint64(vfs.f_bavail) * quint64(vfs.f_frsize))
            return tr("The volume holding the disk image has no sparse files and not enough free space for "
                      "the whole image.");
    }
    return {};
}

QList<DiskImageTool::Attachment> DiskImageTool::attachedImages()
{
    // The bundles are found from the loop devices' backing files (text in sysfs, which goes stale
    // after a rename, so each is confirmed by device and inode).
    QList<Attachment> result;
    const QList<MountEntry> mounts = MountInfo::read();
    for (const LoopDevice& dev : loopDevices()) {
        QFile backing(QStringLiteral("/sys/block/") + dev.name + QStringLiteral("/loop/backing_file"));
        if (!backing.open(QIODevice::ReadOnly))
            continue;
        QByteArray path = backing.readAll();
        if (path.endsWith('\n'))
            path.chop(1);
        const QString file = NameCodec::decode(path);
        if (!file.endsWith(QLatin1String("/disk.img")))
            continue;
        Attachment a;
        a.imagePath = file.left(file.size() - int(qstrlen("/disk.img")));
        a.device = QStringLiteral("/dev/") + dev.name;
        a.readOnly = dev.readOnly;
        if (const auto m = mountOfDevice(a.device, mounts)) {
            a.mountPoint = m->mountPoint;
            a.readOnly = a.readOnly || m->readOnly();
        }
        result.append(a);
    }
    return result;
}

std::optional<DiskImageTool::Attachment> DiskImageTool::attachment(const QString& bundlePath)
{
    struct stat st;
    if (!statPath(imageFilePath(bundlePath), &st))
        return std::nullopt;
    const QList<MountEntry> mounts = MountInfo::read();
    for (const LoopDevice& dev : loopDevices()) {
        if (dev.backingDevice != st.st_dev || dev.backingInode != st.st_ino)
            continue;
        Attachment a;
        a.imagePath = bundlePath;
        a.device = QStringLiteral("/dev/") + dev.name;
        a.readOnly = dev.readOnly;
        if (const auto m = mountOfDevice(a.device, mounts)) {
            a.mountPoint = m->mountPoint;
            a.readOnly = a.readOnly || m->readOnly();
        }
        return a;
    }
    return std::nullopt;
}

QString DiskImageTool::mountPointForImage(const QString& bundlePath)
{
    const auto a = attachment(bundlePath);
    return a ? a->mountPoint : QString();
}

QString DiskImageTool::imagePathForMountPoint(const QString& mountPoint)
{
    const QString clean = MountInfo::cleanPath(mountPoint);
    for (const Attachment& a : attachedImages())
        if (!a.mountPoint.isEmpty() && a.mountPoint == clean)
            return a.imagePath;
    return {};
}

std::optional<DiskImageTool::ImageInfo> DiskImageTool::imageInfo(
    const QString& bundlePath, QString* comment) const
{
    const QString file = imageFilePath(bundlePath);
    struct stat st;
    if (!statPath(file, &st)) {
        if (comment)
            *comment = tr("The disk image file was not found.");
        return std::nullopt;
    }
    ImageInfo info;
    info.sizeBytes = st.st_size;
    const PlistBridge::ReadResult meta = PlistBridge::readFile(infoFilePath(bundlePath));
    const QVariantMap map = meta.value.toMap();
    info.encrypted = !PlistValue::data(map, QStringLiteral("wrapped-key")).isEmpty();
    blkid_probe pr = blkid_new_probe_from_filename(enc(file).c_str());
    if (!pr) {
        if (comment)
            *comment = tr("The disk image file cannot be read.");
        return std::nullopt;
    }
    blkid_probe_enable_superblocks(pr, 1);
    blkid_probe_set_superblocks_flags(pr, BLKID_SUBLKS_TYPE | BLKID_SUBLKS_UUID | BLKID_SUBLKS_LABEL);
    if (blkid_do_safeprobe(pr) == 0) {
        const char* value = nullptr;
        if (blkid_probe_lookup_value(pr, "TYPE", &value, nullptr) == 0)
            info.fileSystem = QString::fromUtf8(value);
        if (blkid_probe_lookup_value(pr, "UUID", &value, nullptr) == 0)
            info.partitionUUID = QString::fromUtf8(value).toUpper();
        if (blkid_probe_lookup_value(pr, "LABEL", &value, nullptr) == 0)
            info.volumeName = QString::fromUtf8(value);
    }
    blkid_free_probe(pr);
    if (info.fileSystem.isEmpty()) {
        if (comment)
            *comment = tr("The disk image holds no known file system.");
        return std::nullopt;
    }
    return info;
}

bool DiskImageTool::unwrapKey(
    const QVariantMap& info, const QByteArray& password, QByteArray* masterKey, QString* comment)
{
    const QByteArray salt = PlistValue::data(info, QStringLiteral("kdf-salt"));
    const qint64 iterations = PlistValue::integer(info, QStringLiteral("kdf-iterations"));
    const QByteArray wrapped = PlistValue::data(info, QStringLiteral("wrapped-key"));
    if (salt.isEmpty() || iterations <= 0 || iterations > 100000000 || wrapped.isEmpty())
        return fail(Failure::BadMetadata, tr("The disk image's key information is damaged."), comment);
    if (password.isEmpty() || !unwrap(wrapped, password, salt, int(iterations), masterKey))
        return fail(
            Failure::WrongPassword, tr("Authentication error: the password is not correct."), comment);
    return true;
}

QString DiskImageTool::create(const QString& bundlePath, const QString& volumeName, double sizeInGB,
    FileSystem fs, const QByteArray& password, QString* comment)
{
    m_failure = Failure::None;
    const bool encrypted = !password.isEmpty();
    if (encrypted && fs == FileSystem::Apfs)
        fs = FileSystem::MacExtended; // the file system's own encryption exists only on ext4
    qint64 size = sizeInGB > 0 ? qint64(sizeInGB * 1e9) : DefaultSizeBytes;
    size -= size % 4096;
    if (fs == FileSystem::Apfs && size < BtrfsMinimumBytes) {
        fail(Failure::Tool,
            tr("The disk image is too small: at least %1 MB are needed.")
                .arg(BtrfsMinimumBytes / 1000000 + 1),
            comment);
        return {};
    }
    if (size < 8LL * 1024 * 1024) {
        fail(Failure::Tool, tr("The disk image is too small."), comment);
        return {};
    }
    const QString folder = QFileInfo(bundlePath).absolutePath();
    const QString refusal = holdingVolumeRefusal(folder, size);
    if (!refusal.isEmpty()) {
        fail(Failure::Tool, refusal, comment);
        return {};
    }
    if (::mkdir(enc(bundlePath).c_str(), 0755) != 0) {
        fail(errno == EEXIST ? Failure::Busy : Failure::Tool,
            errno == EEXIST ? tr("A disk image with this name already exists.")
                            : tr("The disk image cannot be created: %1")
                                  .arg(QString::fromLocal8Bit(std::strerror(errno))),
            comment);
        return {};
    }
    // From here on, a failure removes what was made so that no half-made bundle stays behind.
    auto abandon = [&](const QString& why) {
        fail(m_failure == Failure::None ? Failure::Tool : m_failure, why, comment);
        removeBundle(bundlePath);
        return QString();
    };
    const QString file = imageFilePath(bundlePath);
    {
        const int fd = ::open(enc(file).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0)
            return abandon(
                tr("The disk image cannot be created: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
        const int rc = ::ftruncate(fd, off_t(size));
        const int err = errno;
        ::close(fd);
        if (rc != 0)
            return abandon(QString::fromLocal8Bit(std::strerror(err)));
    }
    QString output;
    QStringList mkfs;
    if (fs == FileSystem::Apfs) {
        mkfs << toolPath(QStringLiteral("mkfs.btrfs")) << QStringLiteral("-q") << QStringLiteral("-L")
             << volumeName << QStringLiteral("--") << file;
    } else {
        QString features = QStringLiteral("mmp");
        if (encrypted)
            features += QStringLiteral(",encrypt");
        mkfs << toolPath(QStringLiteral("mkfs.ext4")) << QStringLiteral("-q") << QStringLiteral("-F")
             << QStringLiteral("-m") << QStringLiteral("0") << QStringLiteral("-L") << volumeName
             << QStringLiteral("-e") << QStringLiteral("remount-ro") << QStringLiteral("-E")
             << QStringLiteral("root_owner=%1:%2").arg(::getuid()).arg(::getgid()) << QStringLiteral("-O")
             << features;
        if (size >= JournalFromBytes)
            mkfs << QStringLiteral("-J") << QStringLiteral("size=64");
        mkfs << QStringLiteral("--") << file;
    }
    if (!runUser(mkfs, &output, 600000))
        return abandon(output.isEmpty() ? tr("The file system could not be made.") : output);

    QVariantMap info;
    info.insert(
        QStringLiteral("fs"), fs == FileSystem::Apfs ? QStringLiteral("btrfs") : QStringLiteral("ext4"));
    info.insert(QStringLiteral("volume-name"), volumeName);
    info.insert(QStringLiteral("made"), QDateTime::currentDateTimeUtc());
    SecretBytes masterKey;
    if (encrypted) {
        masterKey.bytes = QByteArray(MasterKeySize, '\0');
        QByteArray salt(SaltSize, '\0');
        if (RAND_bytes(reinterpret_cast<unsigned char*>(masterKey.bytes.data()), MasterKeySize) != 1
            || RAND_bytes(reinterpret_cast<unsigned char*>(salt.data()), SaltSize) != 1)
            return abandon(tr("No random key could be made for the disk image."));
        const QByteArray wrapped = wrapKey(masterKey.bytes, password, salt, KdfIterations);
        if (wrapped.isEmpty())
            return abandon(tr("The disk image's key could not be protected."));
        info.insert(QStringLiteral("encryption"), QStringLiteral("AES-256"));
        info.insert(QStringLiteral("kdf"), QStringLiteral("PBKDF2-HMAC-SHA256"));
        info.insert(QStringLiteral("kdf-salt"), salt);
        info.insert(QStringLiteral("kdf-iterations"), qint64(KdfIterations));
        info.insert(QStringLiteral("wrapped-key"), wrapped);
    }
    QString error;
    if (!PlistBridge::writeFileAtomically(infoFilePath(bundlePath), info, &error))
        return abandon(error);

    // Mount once to make the content folder (and its encryption policy), then detach.
    const QString mountPoint = attach(bundlePath, password, false, &error);
    if (mountPoint.isEmpty())
        return abandon(error);
    bool ok = true;
    if (encrypted) {
        // attach() added the key; adding it again answers its identifier for the policy on the
        // still empty content folder.
        QByteArray id;
        QString why;
        if (!addFsKey(mountPoint, masterKey.bytes, &id, &why)
            || !setFsPolicy(contentPath(mountPoint), id, &why)) {
            error = tr("The disk image could not be encrypted: %1").arg(why);
            ok = false;
        } else {
            info.insert(QStringLiteral("key-identifier"), id);
            if (!PlistBridge::writeFileAtomically(infoFilePath(bundlePath), info, &why)) {
                error = why;
                ok = false;
            }
        }
    }
    QString detachError;
    if (!detach(bundlePath, &detachError) && ok) {
        error = detachError;
        ok = false;
    }
    if (!ok)
        return abandon(error);
    const auto probed = imageInfo(bundlePath, &error);
    if (!probed || probed->partitionUUID.isEmpty())
        return abandon(error.isEmpty() ? tr("The new disk image has no file-system identifier.") : error);
    m_failure = Failure::None;
    return probed->partitionUUID;
}

QString DiskImageTool::chooseMountPoint(const QString& bundlePath, QString* comment)
{
    QString base = QFileInfo(bundlePath).fileName();
    if (base.endsWith(QLatin1String(".sparsebundle")))
        base.chop(int(qstrlen(".sparsebundle")));
    const QString folder = mediaFolder();
    const QList<MountEntry> mounts = MountInfo::read();
    for (int n = 0; n < 1000; ++n) {
        const QString candidate
            = folder + QLatin1Char('/') + (n == 0 ? base : base + QLatin1Char(' ') + QString::number(n));
        bool mounted = false;
        for (const MountEntry& m : mounts)
            if (m.mountPoint == candidate)
                mounted = true;
        if (mounted)
            continue;
        struct stat st;
        if (::lstat(enc(candidate).c_str(), &st) != 0)
            return candidate;
        // an empty folder left by an earlier mount can be used again; anything else is a clash
        if (S_ISDIR(st.st_mode)) {
            std::error_code ec;
            if (std::filesystem::is_empty(enc(candidate), ec) && !ec)
                return candidate;
        }
    }
    fail(Failure::Tool, tr("No free mount point was found for the disk image."), comment);
    return {};
}

bool DiskImageTool::makeFolderAsRoot(const QString& path, QString* comment)
{
    struct stat st;
    if (statPath(path, &st) && S_ISDIR(st.st_mode))
        return true;
    if (::geteuid() == 0) {
        std::error_code ec;
        std::filesystem::create_directories(enc(path), ec);
        if (!ec)
            return true;
        return fail(Failure::Tool, QString::fromStdString(ec.message()), comment);
    }
    QString output;
    if (runRoot(
            { QStringLiteral("mkdir"), QStringLiteral("-p"), QStringLiteral("--"), path }, &output, 60000))
        return true;
    return fail(Failure::Tool, output, comment);
}

void DiskImageTool::removeMountFolder(const QString& path)
{
    if (!path.startsWith(mediaFolder() + QLatin1Char('/')))
        return; // only folders this tool made
    if (::rmdir(enc(path).c_str()) == 0 || errno == ENOENT || errno == ENOTEMPTY)
        return;
    runRoot({ QStringLiteral("rmdir"), QStringLiteral("--"), path }, nullptr, 60000);
}

bool DiskImageTool::ensureDataFolder(const QString& mountPoint, QString* comment)
{
    const QString data = contentPath(mountPoint);
    struct stat st;
    if (::lstat(enc(data).c_str(), &st) == 0)
        return S_ISDIR(st.st_mode)
            ? true
            : fail(Failure::Tool, tr("The disk image's content is not a folder."), comment);
    if (::mkdir(enc(data).c_str(), 0755) == 0)
        return true;
    if (errno != EACCES && errno != EPERM)
        return fail(Failure::Tool, QString::fromLocal8Bit(std::strerror(errno)), comment);
    // A btrfs root belongs to root: the folder is made for the user through the backend.
    QString output;
    if (runRoot({ QStringLiteral("install"), QStringLiteral("-d"), QStringLiteral("-m"),
                    QStringLiteral("0755"), QStringLiteral("-o"), QString::number(::getuid()),
                    QStringLiteral("-g"), QString::number(::getgid()), QStringLiteral("--"), data },
            &output, 60000))
        return true;
    return fail(Failure::Tool, output, comment);
}

bool DiskImageTool::checkExt4(const QString& target, bool onDevice, bool readOnly, QString* comment)
{
    // e2fsck -p: 0-2 mean clean or fixed; 4 and above leave the file system unusable for writing.
    // Offline on the image file the check is forced (-f), as resize2fs asks for it.
    QStringList args { toolPath(QStringLiteral("e2fsck")) };
    if (!onDevice)
        args << QStringLiteral("-f");
    args << (readOnly ? QStringLiteral("-n") : QStringLiteral("-p")) << QStringLiteral("--") << target;
    QString output;
    int code = -1;
    if (onDevice)
        runRoot(args, &output, -1, &code);
    else
        runUser(args, &output, -1, &code);
    if (code >= 0 && (code <= 2 || (readOnly && code == 4)))
        return true;
    return fail(Failure::Tool,
        output.isEmpty() ? tr("The file system of the disk image could not be checked.") : output, comment);
}

QString DiskImageTool::attachDevice(const QString& imagePath, bool readOnly, QString* comment)
{
    QStringList args { toolPath(QStringLiteral("losetup")), QStringLiteral("--nooverlap"),
        QStringLiteral("--find"), QStringLiteral("--show") };
    if (readOnly)
        args << QStringLiteral("--read-only");
    args << QStringLiteral("--") << imagePath;
    QString output;
    if (!runRoot(args, &output, 120000)) {
        fail(Failure::Tool, output, comment);
        return {};
    }
    const QString device = output.section(QLatin1Char('\n'), -1).trimmed();
    if (!device.startsWith(QLatin1String("/dev/loop"))) {
        fail(Failure::Tool, output, comment);
        return {};
    }
    return device;
}

bool DiskImageTool::mountDevice(
    const QString& device, const QString& mountPoint, const QString& fsType, bool readOnly, QString* comment)
{
    QString options = QStringLiteral("nodev,nosuid");
    if (readOnly)
        options += QStringLiteral(",ro");
    QString output;
    if (runRoot({ toolPath(QStringLiteral("mount")), QStringLiteral("-t"), fsType, QStringLiteral("-o"),
                    options, QStringLiteral("--"), device, mountPoint },
            &output, 600000))
        return true;
    return fail(Failure::Tool, output, comment);
}

bool DiskImageTool::releaseDevice(const QString& device, QString* comment)
{
    QString output;
    if (runRoot({ toolPath(QStringLiteral("losetup")), QStringLiteral("-d"), device }, &output, 120000)) {
        // A device another program still has open (a volume scan probing it) is only marked for
        // release and lets go at its last close: wait for that, so the next attach of this image
        // never finds the device half released.
        const QString backing = QStringLiteral("/sys/block/")
            + device.mid(device.lastIndexOf(QLatin1Char('/')) + 1) + QStringLiteral("/loop/backing_file");
        for (int waited = 0; waited < 10000 && QFile::exists(backing); waited += 50)
            ::usleep(50000);
        return true;
    }
    return fail(Failure::Busy,
        output.isEmpty() ? tr("The loop device %1 could not be released.").arg(device) : output, comment);
}

QString DiskImageTool::attach(
    const QString& bundlePath, const QByteArray& password, bool readOnly, QString* comment)
{
    m_failure = Failure::None;
    const QString file = imageFilePath(bundlePath);
    struct stat st;
    if (!statPath(file, &st) || !S_ISREG(st.st_mode)) {
        fail(Failure::Missing,
            tr("The disk image \"%1\" was not found.").arg(QFileInfo(bundlePath).fileName()), comment);
        return {};
    }
    const PlistBridge::ReadResult meta = PlistBridge::readFile(infoFilePath(bundlePath));
    if (meta.status != PlistBridge::ReadStatus::Ok || meta.value.typeId() != QMetaType::QVariantMap) {
        fail(Failure::BadMetadata,
            meta.status == PlistBridge::ReadStatus::Missing
                ? tr("The disk image's information file is missing.")
                : tr("The disk image's information file cannot be read: %1").arg(meta.error),
            comment);
        return {};
    }
    const QVariantMap info = meta.value.toMap();
    const QString fsType = PlistValue::string(info, QStringLiteral("fs"));
    if (fsType != QLatin1String("ext4") && fsType != QLatin1String("btrfs")) {
        fail(Failure::BadMetadata, tr("The disk image's information file names no known file system."),
            comment);
        return {};
    }
    const bool encrypted = !PlistValue::data(info, QStringLiteral("wrapped-key")).isEmpty();
    SecretBytes masterKey;
    if (encrypted && !unwrapKey(info, password, &masterKey.bytes, comment))
        return {};

    QString device;
    bool newDevice = false;
    if (const auto existing = attachment(bundlePath)) {
        if (!existing->mountPoint.isEmpty()) {
            if (existing->readOnly && !readOnly) {
                fail(Failure::Busy, tr("The disk image is attached read-only and cannot be written."),
                    comment);
                return {};
            }
            if (encrypted) {
                QByteArray id;
                QString why;
                addFsKey(existing->mountPoint, masterKey.bytes, &id, &why); // idempotent: the key may be gone
            }
            return existing->mountPoint;
        }
        if (existing->readOnly && !readOnly) {
            fail(Failure::Busy, tr("The disk image is attached read-only and cannot be written."), comment);
            return {};
        }
        device = existing->device;
    } else {
        device = attachDevice(file, readOnly, comment);
        if (device.isEmpty())
            return {};
        newDevice = true;
    }
    auto giveUp = [&](const QString& mountPoint) {
        if (!mountPoint.isEmpty())
            removeMountFolder(mountPoint);
        if (newDevice)
            releaseDevice(device, nullptr);
        return QString();
    };
    if (fsType == QLatin1String("ext4") && !ext4MarkedClean(file)
        && !checkExt4(device, true, readOnly, comment))
        return giveUp({});
    const QString mountPoint = chooseMountPoint(bundlePath, comment);
    if (mountPoint.isEmpty() || !makeFolderAsRoot(mediaFolder(), comment)
        || !makeFolderAsRoot(mountPoint, comment))
        return giveUp(mountPoint);
    if (!mountDevice(device, mountPoint, fsType, readOnly, comment))
        return giveUp(mountPoint);
    if (encrypted) {
        QByteArray id;
        QString why;
        const QByteArray expected = PlistValue::data(info, QStringLiteral("key-identifier"));
        if (!addFsKey(mountPoint, masterKey.bytes, &id, &why) || (!expected.isEmpty() && id != expected)) {
            fail(Failure::Tool, tr("The disk image's key could not be added: %1").arg(why), comment);
            runRoot(
                { toolPath(QStringLiteral("umount")), QStringLiteral("--"), mountPoint }, nullptr, 120000);
            return giveUp(mountPoint);
        }
    }
    if (!readOnly && !ensureDataFolder(mountPoint, comment)) {
        runRoot({ toolPath(QStringLiteral("umount")), QStringLiteral("--"), mountPoint }, nullptr, 120000);
        return giveUp(mountPoint);
    }
    return mountPoint;
}

bool DiskImageTool::detach(const QString& bundleOrMountPoint, QString* comment)
{
    m_failure = Failure::None;
    std::optional<Attachment> a = attachment(bundleOrMountPoint);
    if (!a) {
        const QString bundle = imagePathForMountPoint(bundleOrMountPoint);
        if (!bundle.isEmpty())
            a = attachment(bundle);
    }
    if (!a)
        return fail(Failure::Missing, tr("The disk image is not attached."), comment);
    if (!a->mountPoint.isEmpty()) {
        // Unmounting drops the file system's keyring with it, so the master key leaves the kernel
        // together with the mount; a busy volume stays mounted with its key and nothing is lost.
        // A program that just looked into the volume can hold it for a moment: the unmount is
        // tried again for a few seconds before the volume counts as busy.
        QString output;
        bool unmounted = false;
        for (int attempt = 0; attempt < 30 && !unmounted; ++attempt) {
            if (attempt > 0)
                ::usleep(300000);
            unmounted = runRoot({ toolPath(QStringLiteral("umount")), QStringLiteral("--"), a->mountPoint },
                            &output, 300000)
                || !isMountPoint(a->mountPoint);
        }
        if (!unmounted)
            return fail(Failure::Busy,
                output.isEmpty() ? tr("The disk image could not be unmounted: it is in use.") : output,
                comment);
        removeMountFolder(a->mountPoint);
    }
    return releaseDevice(a->device, comment);
}

bool DiskImageTool::changePassword(
    const QString& bundlePath, const QByteArray& oldPassword, const QByteArray& newPassword, QString* comment)
{
    m_failure = Failure::None;
    const QString path = infoFilePath(bundlePath);
    const PlistBridge::ReadResult meta = PlistBridge::readFile(path);
    if (meta.status != PlistBridge::ReadStatus::Ok || meta.value.typeId() != QMetaType::QVariantMap)
        return fail(Failure::BadMetadata, tr("The disk image's information file cannot be read."), comment);
    QVariantMap info = meta.value.toMap();
    if (PlistValue::data(info, QStringLiteral("wrapped-key")).isEmpty())
        return fail(Failure::Tool, tr("The disk image is not encrypted."), comment);
    if (newPassword.isEmpty())
        return fail(Failure::WrongPassword, tr("The new password is empty."), comment);
    SecretBytes masterKey;
    if (!unwrapKey(info, oldPassword, &masterKey.bytes, comment))
        return false;
    QByteArray salt(SaltSize, '\0');
    RAND_bytes(reinterpret_cast<unsigned char*>(salt.data()), SaltSize);
    const QByteArray wrapped = wrapKey(masterKey.bytes, newPassword, salt, KdfIterations);
    if (wrapped.isEmpty())
        return fail(Failure::Tool, tr("The disk image's key could not be protected."), comment);
    info.insert(QStringLiteral("kdf-salt"), salt);
    info.insert(QStringLiteral("kdf-iterations"), qint64(KdfIterations));
    info.insert(QStringLiteral("wrapped-key"), wrapped);
    QString error;
    if (!PlistBridge::writeFileAtomically(path, info, &error))
        return fail(Failure::Tool, error, comment);
    return true;
}

qint64 DiskImageTool::minimumBytes(const QString& bundlePath, const QString& fsType, QString* comment)
{
    QString output;
    if (fsType == QLatin1String("btrfs")) {
        // min-dev-size needs the mounted file system
        const bool wasMounted = !mountPointForImage(bundlePath).isEmpty();
        const QString mountPoint
            = wasMounted ? mountPointForImage(bundlePath) : attach(bundlePath, {}, false, comment);
        if (mountPoint.isEmpty())
            return -1;
        const bool ok = runRoot({ toolPath(QStringLiteral("btrfs")), QStringLiteral("inspect-internal"),
                                    QStringLiteral("min-dev-size"), mountPoint },
            &output, 600000);
        if (!wasMounted)
            detach(bundlePath, nullptr);
        const qint64 bytes = ok ? output.section(QLatin1Char(' '), 0, 0).toLongLong() : 0;
        if (bytes <= 0) {
            fail(Failure::Tool, output, comment);
            return -1;
        }
        return std::max(bytes, BtrfsResizeMinimumBytes);
    }
    const QString file = imageFilePath(bundlePath);
    const QString tool = toolPath(QStringLiteral("resize2fs"));
    if (!runUser({ tool, QStringLiteral("-P"), QStringLiteral("--"), file }, &output, 600000)
        && mountPointForImage(bundlePath).isEmpty()) {
        // resize2fs asks for a fresh check first after the image was mounted
        if (!checkExt4(file, false, false, comment))
            return -1;
        runUser({ tool, QStringLiteral("-P"), QStringLiteral("--"), file }, &output, 600000);
    }
    static const QRegularExpression estimate(QStringLiteral("minimum size of the filesystem: (\\d+)"));
    const auto m = estimate.match(output);
    QString dump;
    runUser({ toolPath(QStringLiteral("dumpe2fs")), QStringLiteral("-h"), QStringLiteral("--"), file }, &dump,
        600000);
    static const QRegularExpression blockSize(
        QStringLiteral("^Block size:\\s+(\\d+)"), QRegularExpression::MultilineOption);
    const auto b = blockSize.match(dump);
    if (!m.hasMatch() || !b.hasMatch()) {
        fail(Failure::Tool, output, comment);
        return -1;
    }
    return m.captured(1).toLongLong() * b.captured(1).toLongLong();
}

bool DiskImageTool::sizeLimits(const QString& bundlePath, const QByteArray& password, quint64* minSectors,
    quint64* curSectors, quint64* maxSectors, QString* comment)
{
    m_failure = Failure::None;
    struct stat st;
    if (!statPath(imageFilePath(bundlePath), &st))
        return fail(Failure::Missing, tr("The disk image file was not found."), comment);
    const PlistBridge::ReadResult meta = PlistBridge::readFile(infoFilePath(bundlePath));
    const QVariantMap info = meta.value.toMap();
    if (meta.status != PlistBridge::ReadStatus::Ok)
        return fail(Failure::BadMetadata, tr("The disk image's information file cannot be read."), comment);
    if (!PlistValue::data(info, QStringLiteral("wrapped-key")).isEmpty()) {
        SecretBytes key;
        if (!unwrapKey(info, password, &key.bytes, comment))
            return false;
    }
    const qint64 minimum = minimumBytes(bundlePath, PlistValue::string(info, QStringLiteral("fs")), comment);
    if (minimum <= 0)
        return false;
    struct statvfs vfs;
    quint64 available = 0;
    if (::statvfs(enc(bundlePath).c_str(), &vfs) == 0)
        available = quint64(vfs.f_bavail) * quint64(vfs.f_frsize);
    if (minSectors)
        *minSectors = (quint64(minimum) + 511) / 512;
    if (curSectors)
        *curSectors = quint64(st.st_size) / 512;
    if (maxSectors)
        *maxSectors = (quint64(st.st_size) + available) / 512;
    return true;
}

bool DiskImageTool::btrfsResize(const QString& bundlePath, const QString& target, QString* output)
{
    QString comment;
    const QString mountPoint = attach(bundlePath, {}, false, &comment);
    if (mountPoint.isEmpty()) {
        *output = comment;
        return false;
    }
    const bool ok = runRoot({ toolPath(QStringLiteral("btrfs")), QStringLiteral("filesystem"),
                                QStringLiteral("resize"), target, mountPoint },
        output, -1);
    QString detachError;
    if (!detach(bundlePath, &detachError)) {
        *output = detachError;
        return false;
    }
    return ok;
}

bool DiskImageTool::resize(
    const QString& bundlePath, const QByteArray& password, double sizeInGB, QString* comment)
{
    m_failure = Failure::None;
    const QString file = imageFilePath(bundlePath);
    struct stat st;
    if (!statPath(file, &st))
        return fail(Failure::Missing, tr("The disk image file was not found."), comment);
    const PlistBridge::ReadResult meta = PlistBridge::readFile(infoFilePath(bundlePath));
    const QVariantMap info = meta.value.toMap();
    if (meta.status != PlistBridge::ReadStatus::Ok)
        return fail(Failure::BadMetadata, tr("The disk image's information file cannot be read."), comment);
    if (!PlistValue::data(info, QStringLiteral("wrapped-key")).isEmpty()) {
        SecretBytes key;
        if (!unwrapKey(info, password, &key.bytes, comment))
            return false;
    }
    if (attachment(bundlePath))
        return fail(
            Failure::Busy, tr("The disk image is attached; it is resized only while detached."), comment);
    const QString fsType = PlistValue::string(info, QStringLiteral("fs"));
    qint64 size = qint64(sizeInGB * 1e9);
    size -= size % 4096;
    const qint64 current = st.st_size;
    if (size <= 0)
        return fail(Failure::Tool, tr("The new size of the disk image is not valid."), comment);
    if (size == current)
        return true;
    if (fsType == QLatin1String("btrfs") && size < BtrfsResizeMinimumBytes)
        return fail(
            Failure::Tool, tr("A disk image with this file system cannot be smaller than 256 MB."), comment);
    const QString refusal = holdingVolumeRefusal(QFileInfo(bundlePath).absolutePath(), size);
    if (!refusal.isEmpty())
        return fail(Failure::Tool, refusal, comment);

    auto truncateTo = [&](qint64 bytes, QString* why) {
        if (::truncate(enc(file).c_str(), off_t(bytes)) == 0)
            return true;
        *why = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    };
    QString output;
    if (size > current) {
        if (!truncateTo(size, &output))
            return fail(Failure::Tool, output, comment);
        bool ok;
        if (fsType == QLatin1String("btrfs")) {
            ok = btrfsResize(bundlePath, QStringLiteral("max"), &output);
        } else {
            ok = checkExt4(file, false, false, &output)
                && runUser(
                    { toolPath(QStringLiteral("resize2fs")), QStringLiteral("--"), file }, &output, -1);
        }
        if (!ok) {
            // the file system did not take the new room: give the file its old size back
            QString ignored;
            truncateTo(current, &ignored);
            return fail(Failure::Tool, output, comment);
        }
        return true;
    }
    bool ok;
    if (fsType == QLatin1String("btrfs")) {
        ok = btrfsResize(bundlePath, QString::number(size), &output);
    } else {
        ok = checkExt4(file, false, false, &output)
            && runUser({ toolPath(QStringLiteral("resize2fs")), QStringLiteral("--"), file,
                           QString::number(size / 1024) + QLatin1Char('K') },
                &output, -1);
    }
    if (!ok)
        return fail(Failure::Tool, output, comment);
    // only after the file system has left the tail free is the file cut
    if (!truncateTo(size, &output))
        return fail(Failure::Tool, output, comment);
    return true;
}
