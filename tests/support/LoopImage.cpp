#include "LoopImage.h"

#include "KvTest.h"
#include "platform/MountInfo.h"
#include "platform/NameCodec.h"
#include "platform/WholeFile.h"

#include <QDir>
#include <QProcess>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString readSmallFile(const std::string& path)
{
    QByteArray out = WholeFile::read(path);
    while (out.endsWith('\n'))
        out.chop(1);
    return NameCodec::decode(out);
}

// Unmounts one mount point, lazily when it is busy.
bool unmountPath(const QString& mountPoint)
{
    const std::string p = NameCodec::encodeStd(mountPoint);
    if (::umount2(p.c_str(), 0) == 0)
        return true;
    if (errno == EINVAL || errno == ENOENT)
        return false;
    return ::umount2(p.c_str(), MNT_DETACH) == 0;
}

bool detachDevice(const QString& device)
{
    const int fd = ::open(NameCodec::encodeStd(device).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = ::ioctl(fd, LOOP_CLR_FD, 0) == 0;
    if (!ok && errno == ENXIO)
        ok = true; // already free
    ::close(fd);
    return ok;
}

// Unmounts every mount whose source is device or whose mount point lies under folder,
// deepest first; returns the mount points.
QStringList unmountAll(const QString& device, const QString& folder)
{
    QStringList done;
    for (int round = 0; round < 8; ++round) {
        QStringList points;
        for (const MountEntry& m : MountInfo::read()) {
            if ((!device.isEmpty() && m.source == device)
                || (!folder.isEmpty() && MountInfo::isPathUnder(m.mountPoint, folder)))
                points.append(m.mountPoint);
        }
        if (points.isEmpty())
            break;
        std::sort(points.begin(), points.end(),
            [](const QString& a, const QString& b) { return a.size() > b.size(); });
        bool any = false;
        for (const QString& p : points) {
            if (unmountPath(p)) {
                done.append(p);
                any = true;
            }
        }
        if (!any)
            break;
    }
    return done;
}

} // namespace

LoopImage::~LoopImage()
{
    release();
}

QString LoopImage::loopRoot()
{
    return KvTest::buildDir() + QStringLiteral("/tests/loop");
}

bool LoopImage::runTool(const QString& program, const QStringList& args, QString* output, int timeoutMs)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForStarted(10000)) {
        if (output)
            *output = program + QStringLiteral(": ") + p.errorString();
        return false;
    }
    const bool finished = p.waitForFinished(timeoutMs);
    if (!finished) {
        p.kill();
        p.waitForFinished(5000);
    }
    const QString text = QString::fromUtf8(p.readAll());
    if (output)
        *output = text;
    return finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool LoopImage::fail(const QString& what)
{
    m_error = what;
    return false;
}

QString LoopImage::fsTypeName() const
{
    switch (m_type) {
    case FsType::Btrfs:
        return QStringLiteral("btrfs");
    case FsType::Xfs:
        return QStringLiteral("xfs");
    case FsType::Raw:
        return QStringLiteral("raw");
    case FsType::Ext4:
        break;
    }
    return QStringLiteral("ext4");
}

QString LoopImage::deviceName() const
{
    return m_device.mid(m_device.lastIndexOf(QLatin1Char('/')) + 1);
}

bool LoopImage::make(FsType type, qint64 sizeMiB, const QString& label)
{
    return createImage(type, sizeMiB, label) && attach() && mount();
}

bool LoopImage::createImage(FsType type, qint64 sizeMiB, const QString& label)
{
    if (!m_image.isEmpty())
        return fail(QStringLiteral("the image is already made"));
    m_type = type;
    if (sizeMiB <= 0)
        sizeMiB = type == FsType::Ext4 || type == FsType::Raw ? 32 : (type == FsType::Btrfs ? 128 : 320);
    std::string root = NameCodec::encodeStd(loopRoot());
    std::error_code ec;
    std::filesystem::create_directories(root, ec);
    // The kernel shows the resolved path as the backing file; use the same form.
    if (char* resolved = ::realpath(root.c_str(), nullptr)) {
        root = resolved;
        ::free(resolved);
    }
    std::string tmpl = root + "/" + NameCodec::encodeStd(fsTypeName()) + "-XXXXXX.img";
    const int fd = ::mkstemps(tmpl.data(), 4);
    if (fd < 0)
        return fail(
            QStringLiteral("cannot make the image file: ") + QString::fromLocal8Bit(std::strerror(errno)));
    m_image = NameCodec::decode(tmpl);
    const bool sized = ::ftruncate(fd, off_t(sizeMiB) * 1024 * 1024) == 0;
    ::close(fd);
    if (!sized)
        return fail(QStringLiteral("cannot size the image file"));
    if (type == FsType::Raw)
        return true;

    QStringList args;
    QString program;
    const QString name = label.isEmpty() ? QStringLiteral("kvtest") : label;
    switch (type) {
    case FsType::Ext4:
        program = QStringLiteral("mkfs.ext4");
        args = { QStringLiteral("-q"), QStringLiteral("-F"), QStringLiteral("-m"), QStringLiteral("0"),
            QStringLiteral("-L"), name, m_image };
        if (!m_uuid.isEmpty()) {
            args.insert(args.size() - 1, QStringLiteral("-U"));
            args.insert(args.size() - 1, m_uuid);
        }
        break;
    case FsType::Btrfs:
        program = QStringLiteral("mkfs.btrfs");
        args = { QStringLiteral("-q"), QStringLiteral("-f"), QStringLiteral("-L"), name, m_image };
        break;
    case FsType::Xfs:
        program = QStringLiteral("mkfs.xfs");
        args = { QStringLiteral("-q"), QStringLiteral("-f"), QStringLiteral("-L"), name.left(12), m_image };
        break;
    case FsType::Raw:
        break;
    }
    QString out;
    if (!runTool(program, args, &out))
        return fail(program + QStringLiteral(" failed: ") + out);
    return true;
}

bool LoopImage::attach()
{
    if (m_image.isEmpty())
        return fail(QStringLiteral("no image to attach"));
    if (!m_device.isEmpty())
        return true;
    QString out;
    if (!runTool(
            QStringLiteral("losetup"), { QStringLiteral("--find"), QStringLiteral("--show"), m_image }, &out))
        return fail(QStringLiteral("losetup failed: ") + out);
    m_device = out.trimmed();
    if (!m_device.startsWith(QLatin1String("/dev/loop"))) {
        const QString got = m_device;
        m_device.clear();
        return fail(QStringLiteral("losetup printed no device: ") + got);
    }
    return true;
}

bool LoopImage::mount(const QStringList& options)
{
    if (m_type == FsType::Raw)
        return fail(QStringLiteral("a raw image has no file system to mount"));
    if (m_device.isEmpty())
        return fail(QStringLiteral("no device to mount"));
    if (!m_mountPoint.isEmpty())
        return true;
    std::string tmpl = NameCodec::encodeStd(m_image) + ".mnt-XXXXXX";
    if (!::mkdtemp(tmpl.data()))
        return fail(QStringLiteral("cannot make the mount folder"));
    const QString point = NameCodec::decode(tmpl);
    QStringList args { QStringLiteral("-t"), fsTypeName() };
    if (!options.isEmpty())
        args << QStringLiteral("-o") << options.join(QLatin1Char(','));
    args << m_device << point;
    QString out;
    if (!runTool(QStringLiteral("mount"), args, &out)) {
        ::rmdir(tmpl.c_str());
        return fail(QStringLiteral("mount failed: ") + out);
    }
    m_mountPoint = point;
    return true;
}

bool LoopImage::unmount()
{
    if (m_mountPoint.isEmpty())
        return true;
    unmountAll(QString(), m_mountPoint);
    // Success means nothing is mounted there any more.
    for (const MountEntry& m : MountInfo::read()) {
        if (MountInfo::isPathUnder(m.mountPoint, m_mountPoint))
            return fail(QStringLiteral("cannot unmount ") + m_mountPoint);
    }
    ::rmdir(NameCodec::encodeStd(m_mountPoint).c_str());
    m_mountPoint.clear();
    return true;
}

bool LoopImage::detach()
{
    if (m_device.isEmpty())
        return true;
    unmountAll(m_device, QString());
    // Only while our image is still the backing file: the number may have gone to another user.
    const QString backing
        = readSmallFile("/sys/block/" + NameCodec::encodeStd(deviceName()) + "/loop/backing_file");
    if (!backing.isEmpty() && backing != m_image && !backing.startsWith(m_image + QLatin1Char(' '))) {
        m_device.clear();
        return true;
    }
    if (!detachDevice(m_device))
        return fail(QStringLiteral("cannot detach ") + m_device);
    m_device.clear();
    return true;
}

void LoopImage::release()
{
    unmount();
    detach();
    if (!m_image.isEmpty() && m_device.isEmpty()) {
        ::unlink(NameCodec::encodeStd(m_image).c_str());
        m_image.clear();
    }
}

QStringList LoopImage::cleanupStale(const QString& root)
{
    QStringList log;
    const QString cleanRoot = MountInfo::cleanPath(root);
    // Mounts under the folder first (mount folders of images, and whatever tests put in them).
    for (const QString& p : unmountAll(QString(), cleanRoot))
        log << QStringLiteral("unmounted ") + p;

    DIR* d = ::opendir("/sys/block");
    if (!d)
        return log;
    QStringList devices;
    while (dirent* e = ::readdir(d)) {
        if (std::strncmp(e->d_name, "loop", 4) == 0)
            devices << QString::fromLatin1(e->d_name);
    }
    ::closedir(d);
    for (const QString& name : std::as_const(devices)) {
        QString backing = readSmallFile("/sys/block/" + name.toStdString() + "/loop/backing_file");
        if (backing.isEmpty())
            continue;
        if (backing.endsWith(QLatin1String(" (deleted)")))
            backing.chop(10);
        if (!MountInfo::isPathUnder(MountInfo::cleanPath(backing), cleanRoot))
            continue;
        const QString device = QStringLiteral("/dev/") + name;
        for (const QString& p : unmountAll(device, QString()))
            log << QStringLiteral("unmounted ") + p;
        log << (detachDevice(device) ? QStringLiteral("detached ") : QStringLiteral("could not detach "))
                + device + QStringLiteral(" (") + backing + QLatin1Char(')');
    }
    return log;
}
