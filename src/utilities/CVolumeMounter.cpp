#include "utilities/CVolumeMounter.h"

#include "platform/AppPaths.h"
#include "platform/BtrfsVolumeModel.h"
#include "platform/BtrfsVolumeRegistry.h"
#include "platform/DeviceNames.h"
#include "platform/DiskFacts.h"
#include "platform/MountInfo.h"
#include "platform/NameCodec.h"
#include "platform/NameSanitizer.h"
#include "platform/PlistBridge.h"
#include "platform/Subprocess.h"
#include "utilities/CommonFunctions.h"
#include "utilities/IDiskUtil.h"
#include "utilities/IShellServices.h"
#include "utilities/IVolumeLocation.h"
#include "utilities/LogOptions.h"
#include "utilities/VolumeBaseItem.h"

#include <QThread>
#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QUrl>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QMutex g_optionsMutex;
QStringList g_sshfsOptions;

void mountLog(const QString& text)
{
    IShellServices::shared().processMessage(text, LogWord::UtilLog, nullptr);
}

bool hasControl(const QString& s)
{
    for (QChar c : s) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    }
    return false;
}

// A host, user or path that would turn into an option of ssh or mount is refused.
bool safeWord(const QString& s)
{
    return !s.startsWith(QLatin1Char('-')) && !s.contains(QLatin1Char(',')) && !hasControl(s);
}

QString userName()
{
    if (const passwd* pw = ::getpwuid(::getuid()))
        return NameCodec::decode(std::string(pw->pw_name));
    return QString::number(::getuid());
}

// /media/<user>/<name>, made unique and owned by the user (a FUSE mount point must be
// writable by the one who mounts).
QString makeMountFolder(const QString& wanted, QString* error)
{
    const QString base = QStringLiteral("/media/") + userName();
    QString name = NameSanitizer::sanitize(wanted);
    if (name.isEmpty())
        name = QStringLiteral("Share");
    const QList<MountEntry> mounts = MountInfo::read();
    auto taken = [&](const QString& p) {
        for (const MountEntry& e : mounts) {
            if (e.mountPoint == p)
                return true;
        }
        return QFileInfo::exists(p) || QFileInfo(p).isSymLink();
    };
    QString dir = base + QLatin1Char('/') + name;
    for (int i = 1; taken(dir) && i < 1000; ++i)
        dir = base + QLatin1Char('/') + name + QLatin1Char(' ') + QString::number(i);
    // Root, or a user whose own media folder exists and is writable, makes the folder directly;
    // otherwise it is made as root and handed to the user.
    if (::geteuid() == 0 || ::access(NameCodec::encode(base).constData(), W_OK | X_OK) == 0) {
        if (!QDir().mkpath(dir)) {
            *error = QStringLiteral("cannot make %1").arg(dir);
            return QString();
        }
        return dir;
    }
    const QString owner = QStringLiteral("%1:%2").arg(::getuid()).arg(::getgid());
    for (const QStringList& argv :
        { QStringList { "mkdir", "-p", "--", dir }, QStringList { "chown", "--", owner, dir } }) {
        const IDiskUtil::RootResult r = IDiskUtil::runRooted(argv);
        if (!r.started || r.exitCode != 0) {
            *error = r.output;
            return QString();
        }
    }
    return dir;
}

bool runTool(const QStringList& argv, bool asRoot, int* exitCode, QString* output)
{
    if (asRoot && ::geteuid() != 0) {
        const IDiskUtil::RootResult r = IDiskUtil::runRooted(argv);
        *exitCode = r.started ? r.exitCode : -1;
        *output = r.output;
        return r.started && r.exitCode == 0;
    }
    Subprocess::Options o;
    o.program = argv.first();
    o.arguments = argv.mid(1);
    o.mergeStderr = true;
    o.standardInput = QByteArray(); // nothing to read: no prompt can wait for an answer
    const Subprocess::Result r = Subprocess::run(o, 120000);
    *exitCode = r.started ? (r.signal ? 128 + r.signal : r.exitCode) : -1;
    *output = r.started ? QString::fromUtf8(r.out).trimmed() : r.error;
    return r.succeeded();
}

bool toolInstalled(const QString& name)
{
    for (const char* dir : { "/sbin/", "/usr/sbin/", "/usr/bin/", "/bin/" }) {
        if (QFileInfo(QLatin1String(dir) + name).isExecutable())
            return true;
    }
    return false;
}

std::optional<MountEntry> exactMount(const QString& path)
{
    const QString clean = MountInfo::cleanPath(path);
    std::optional<MountEntry> found;
    for (const MountEntry& e : MountInfo::read()) {
        if (e.mountPoint == clean)
            found = e; // the last one wins for stacked mounts
    }
    return found;
}

QString upperHost(const QUrl& u)
{
    const QString h = u.host().toUpper();
    return h == QLatin1String("LOCALHOST") ? QString() : h;
}

} // namespace

CVolumeMounter& CVolumeMounter::sharedVolumeMounter()
{
    static CVolumeMounter instance;
    return instance;
}

void CVolumeMounter::setExtraSshfsOptions(const QStringList& options)
{
    QMutexLocker lock(&g_optionsMutex);
    g_sshfsOptions = options;
}

QString CVolumeMounter::shareURLFromSource(const QString& fsType, const QString& source)
{
    QUrl u;
    if (fsType == QLatin1String("cifs") || fsType == QLatin1String("smb3")) {
        if (!source.startsWith(QLatin1String("//")))
            return QString();
        const QString rest = source.mid(2);
        u.setScheme(QStringLiteral("smb"));
        u.setHost(rest.section(QLatin1Char('/'), 0, 0));
        u.setPath(QLatin1Char('/') + rest.section(QLatin1Char('/'), 1));
    } else if (fsType == QLatin1String("nfs") || fsType == QLatin1String("nfs4")) {
        const int colon = source.indexOf(QLatin1Char(':'));
        if (colon <= 0)
            return QString();
        u.setScheme(QStringLiteral("nfs"));
        u.setHost(source.left(colon));
        u.setPath(source.mid(colon + 1));
    } else if (fsType == QLatin1String("fuse.sshfs")) {
        const int colon = source.indexOf(QLatin1Char(':'));
        if (colon <= 0)
            return QString();
        const QString userHost = source.left(colon);
        u.setScheme(QStringLiteral("sftp"));
        if (userHost.contains(QLatin1Char('@'))) {
            u.setUserName(userHost.section(QLatin1Char('@'), 0, -2));
            u.setHost(userHost.section(QLatin1Char('@'), -1));
        } else {
            u.setHost(userHost);
        }
        QString path = source.mid(colon + 1);
        if (!path.startsWith(QLatin1Char('/')))
            path.prepend(QLatin1Char('/'));
        u.setPath(path);
    } else {
        return QString();
    }
    return u.toString(QUrl::FullyEncoded);
}

bool CVolumeMounter::getVolumeInfo(const QString& path, VMVolumeInfoRec& rec)
{
    if (path.isEmpty())
        return false;
    const std::optional<MountEntry> m = exactMount(path);
    if (!m)
        return false;
    const DiskFacts::Space s = DiskFacts::space(m->mountPoint);
    rec.mountPoint = m->mountPoint;
    rec.displayName
        = m->mountPoint == QLatin1String("/") ? m->mountPoint : QFileInfo(m->mountPoint).fileName();
    const std::string p = NameCodec::encodeStd(m->mountPoint);
    rec.writable = !(s.ok && s.readOnly) && !m->readOnly();
    struct stat st;
    if (!rec.writable && ::stat(p.c_str(), &st) == 0 && (st.st_mode & 0222) && !m->readOnly())
        rec.writable = true;
    const QString dev = DiskFacts::blockDeviceOf(*m);
    const std::optional<DiskFacts::BlockDevice> bd
        = dev.isEmpty() ? std::nullopt : DiskFacts::blockDevice(dev);
    rec.removable = bd && bd->removable;
    rec.unmountable = m->mountPoint != QLatin1String("/") && !IDiskUtil::isSystemMount(*m);
    rec.totalMB = s.ok ? qint64(s.totalBytes() / 1000000) : 0;
    rec.freeMB = s.ok ? qint64(s.availableBytes() / 1000000) : 0;
    const QString share = shareURLFromSource(m->fsType, m->source);
    rec.URL = share.isEmpty() ? VolumeBaseItem::mountPointURLText(m->mountPoint) : share;
    rec.directAccess = true;
    rec.local = true;
    return true;
}

bool CVolumeMounter::isVolumeMounted(VMVolumeInfoRec& rec)
{
    const QUrl wanted(rec.URL);
    if (rec.URL.isEmpty() || !wanted.isValid())
        return false;
    for (const QString& p : IDiskUtil::mountPointList(0x13)) {
        VMVolumeInfoRec info;
        if (!getVolumeInfo(p, info))
            continue;
        const QUrl have(info.URL);
        // SMB compares without regard to case; NFS exports differing only in case then match.
        if (have.path().compare(wanted.path(), Qt::CaseInsensitive) != 0)
            continue;
        const QString h1 = upperHost(have), h2 = upperHost(wanted);
        if ((!h1.isEmpty() || !h2.isEmpty()) && h1 != h2)
            continue;
        rec = info;
        return true;
    }
    return false;
}

bool CVolumeMounter::mountShare(
    const QString& urlText, QString* mountPath, int* errorNumber, QString* message)
{
    *errorNumber = -1;
    const QUrl url(urlText, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    const QString host = url.host();
    const QString user = url.userName();
    const QString path = url.path();
    if (!url.isValid() || host.isEmpty() || !safeWord(host) || !safeWord(user) || hasControl(path)
        || path.contains(QLatin1Char(','))) {
        *message = QStringLiteral("refused share URL");
        return false;
    }
    QString lastComponent = path;
    while (lastComponent.endsWith(QLatin1Char('/')))
        lastComponent.chop(1);
    lastComponent = lastComponent.section(QLatin1Char('/'), -1);
    if (lastComponent.isEmpty())
        lastComponent = host;

    QStringList argv;
    bool asRoot = false;
    if (scheme == QLatin1String("sftp") || scheme == QLatin1String("ssh")) {
        if (!toolInstalled(QStringLiteral("sshfs"))) {
            *message = QStringLiteral("sshfs is not installed");
            return false;
        }
        const QString remote = (user.isEmpty() ? host : user + QLatin1Char('@') + host) + QLatin1Char(':')
            + (path.isEmpty() ? QStringLiteral("/") : path);
        QStringList options { QStringLiteral("BatchMode=yes") };
        if (url.port() > 0)
            options << QStringLiteral("port=%1").arg(url.port());
        {
            QMutexLocker lock(&g_optionsMutex);
            options << g_sshfsOptions;
        }
        argv = { QStringLiteral("sshfs"), remote, QString(), QStringLiteral("-o"),
            options.join(QLatin1Char(',')) };
    } else if (scheme == QLatin1String("smb") || scheme == QLatin1String("cifs")) {
        if (!toolInstalled(QStringLiteral("mount.cifs"))) {
            *message = QStringLiteral("mount.cifs is not installed");
            return false;
        }
        const QString share = path.section(QLatin1Char('/'), 1, 1);
        if (!safeWord(share) || share.isEmpty()) {
            *message = QStringLiteral("refused share URL");
            return false;
        }
        argv = { QStringLiteral("mount.cifs"), QStringLiteral("//%1/%2").arg(host, share), QString() };
        if (!user.isEmpty())
            argv << QStringLiteral("-o") << QStringLiteral("username=") + user;
        asRoot = true;
    } else if (scheme == QLatin1String("nfs")) {
        if (!toolInstalled(QStringLiteral("mount.nfs"))) {
            *message = QStringLiteral("mount.nfs is not installed");
            return false;
        }
        argv = { QStringLiteral("mount.nfs"),
            host + QLatin1Char(':') + (path.isEmpty() ? QStringLiteral("/") : path), QString() };
        asRoot = true;
    } else {
        *message = QStringLiteral("no way to mount %1 shares").arg(scheme);
        return false;
    }
    QString error;
    const QString dir = makeMountFolder(lastComponent, &error);
    if (dir.isEmpty()) {
        *message = error;
        return false;
    }
    argv[2] = dir;
    int code = -1;
    QString output;
    if (!runTool(argv, asRoot, &code, &output)) {
        *errorNumber = code;
        *message = output;
        QDir().rmdir(dir);
        return false;
    }
    *mountPath = dir;
    return true;
}

bool CVolumeMounter::mountVolume(VMVolumeInfoRec& rec)
{
    if (isVolumeMounted(rec))
        return true;
    if (rec.URL.startsWith(QLatin1String("file://"), Qt::CaseInsensitive))
        return false;
    QString mountPath, message;
    int errorNumber = -1;
    if (!mountShare(rec.URL, &mountPath, &errorNumber, &message)) {
        const QUrl url(rec.URL);
        QVSetFuncStatus(QStringLiteral("CVolumeMounter::mountVolume"),
            QStringLiteral("Host \"%1\" path \"%2\" mount error: %3\n")
                .arg(url.host(), url.path())
                .arg(errorNumber));
        mountLog(QStringLiteral("Mount of %1: %2").arg(url.toDisplayString(QUrl::RemovePassword), message));
        return false;
    }
    // The backend names the new mount: read the record back from there.
    return getVolumeInfo(mountPath, rec);
}

bool CVolumeMounter::unmountVolume(const QString& path)
{
    const std::optional<MountEntry> m = MountInfo::mountEntryForPath(path);
    if (!m || m->mountPoint == QLatin1String("/"))
        return false;
    QStringList argv;
    bool asRoot = true;
    if (m->fsType.startsWith(QLatin1String("fuse"))) {
        argv = { QStringLiteral("fusermount3"), QStringLiteral("-u"), QStringLiteral("--"), m->mountPoint };
        asRoot = false;
    } else {
        // No lazy unmount: it reports done while the volume is still in use.
        argv = { QStringLiteral("umount"), QStringLiteral("--"), m->mountPoint };
    }
    int code = -1;
    QString output;
    // A volume that another program touches at that moment (a listing, a file manager's look)
    // is busy; it is usually free again a moment later, so a busy answer is tried twice more.
    bool ok = false;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (attempt > 0)
            QThread::msleep(400);
        ok = runTool(argv, asRoot, &code, &output);
        if (ok || !output.contains(QLatin1String("busy"), Qt::CaseInsensitive))
            break;
    }
    if (!ok)
        mountLog(QStringLiteral("Unmount of %1: %2").arg(m->mountPoint, output));
    return ok;
}

bool CVolumeMounter::mountLocation(IVolumeLocation* location, qint64 extraFlag)
{
    if (!location)
        return false;
    location->removeFlag(8);
    if (location->isActive() || location->deviceType() != 6)
        return true;
    VMVolumeInfoRec rec;
    rec.URL = location->URLStr();
    if (!mountVolume(rec)) {
        QVSetFuncStatus(QStringLiteral("CVolumeMounter::mountLocation"),
            QVFuncStatus(QStringLiteral("CVolumeMounter::mountVolume")));
        return false;
    }
    location->removeFlag(8);
    location->addFlag(16);
    if (extraFlag)
        location->addFlag(extraFlag);
    return true;
}

bool CVolumeMounter::unmountLocation(IVolumeLocation* location, qint64 extraFlag)
{
    if (!location || location->isEmpty() || (location->deviceType() != 6 && location->deviceType() != 1))
        return false;
    if (!location->isActive()) {
        location->removeFlag(2 | 16);
        return true;
    }
    const qint64 saved = location->getFlags();
    location->removeFlag(2 | 16);
    location->addFlag(8);
    if (extraFlag)
        location->addFlag(extraFlag);
    const QString mp = location->mountPoint();
    if (!mp.isEmpty() && unmountVolume(mp) && !exactMount(mp)) {
        location->setActive(false);
        return true;
    }
    location->setFlags(saved);
    return false;
}

bool CVolumeMounter::separateLocalPath(const QString& path, VMSeparatedPath* separated)
{
    if (!separated || path.isEmpty())
        return false;
    const QString clean = MountInfo::cleanPath(path);
    const QString mp = mountPointForPath(clean);
    if (mp.isEmpty())
        return false;
    separated->mountPoint = mp;
    separated->displayName = clean == QLatin1String("/") ? clean : QFileInfo(clean).fileName();
    QString below = clean.mid(mp.size());
    while (below.startsWith(QLatin1Char('/')))
        below.remove(0, 1);
    separated->pathBelow = below;
    return true;
}

int CVolumeMounter::PathToVRefNum(const QString& path, QString* refNum)
{
    if (path.isEmpty() || !refNum)
        return -50;
    const QString mp = mountPointForPath(path);
    if (mp.isEmpty())
        return -43;
    *refNum = mp;
    return 0;
}

QString CVolumeMounter::currentHost()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return QString();
    return QString::fromUtf8(name);
}

bool CVolumeMounter::saveVolumeInfo(const QString& domain, const QString& key, const VMVolumeInfoRec& rec)
{
    if (domain.isEmpty() || key.isEmpty())
        return false;
    const QString file
        = QDir(AppPaths::configHome()).filePath(NameSanitizer::sanitize(domain) + QStringLiteral(".plist"));
    QVariantMap root;
    const PlistBridge::ReadResult r = PlistBridge::readFile(file);
    if (r.ok())
        root = r.map();
    QVariantMap v;
    v.insert(QStringLiteral("FreeMB"), rec.freeMB);
    v.insert(QStringLiteral("TotalMB"), rec.totalMB);
    v.insert(QStringLiteral("DisplayName"), rec.displayName);
    v.insert(QStringLiteral("MountPoint"), rec.mountPoint);
    v.insert(QStringLiteral("URL"), rec.URL);
    v.insert(QStringLiteral("Writable"), rec.writable);
    v.insert(QStringLiteral("Removable"), rec.removable);
    v.insert(QStringLiteral("Unmountable"), rec.unmountable);
    v.insert(QStringLiteral("DirectAccess"), rec.directAccess);
    v.insert(QStringLiteral("Local"), rec.local);
    root.insert(key, v);
    QDir().mkpath(AppPaths::configHome());
    return PlistBridge::writeFileAtomically(file, root);
}

bool CVolumeMounter::loadVolumeInfo(const QString& domain, const QString& key, VMVolumeInfoRec& rec)
{
    if (domain.isEmpty())
        return false;
    const QString file
        = QDir(AppPaths::configHome()).filePath(NameSanitizer::sanitize(domain) + QStringLiteral(".plist"));
    const PlistBridge::ReadResult r = PlistBridge::readFile(file);
    if (!r.ok())
        return false;
    const QVariant value = r.map().value(key);
    if (value.typeId() != QMetaType::QVariantMap)
        return false;
    const QVariantMap v = value.toMap();
    auto text = [&](const char* k, QString& field) {
        const QVariant x = v.value(QLatin1String(k));
        if (x.typeId() == QMetaType::QString)
            field = x.toString();
    };
    auto number = [&](const char* k, qint64& field) {
        const QVariant x = v.value(QLatin1String(k));
        if (PlistValue::isNumber(x) && x.typeId() != QMetaType::Bool)
            field = x.toLongLong();
    };
    auto flag = [&](const char* k, bool& field) {
        const QVariant x = v.value(QLatin1String(k));
        if (PlistValue::isNumber(x) || x.typeId() == QMetaType::Bool)
            field = x.toBool();
    };
    number("FreeMB", rec.freeMB);
    number("TotalMB", rec.totalMB);
    text("DisplayName", rec.displayName);
    text("MountPoint", rec.mountPoint);
    text("URL", rec.URL);
    flag("Writable", rec.writable);
    flag("Removable", rec.removable);
    flag("Unmountable", rec.unmountable);
    flag("DirectAccess", rec.directAccess);
    flag("Local", rec.local);
    return true;
}

QString mountPointForPath(const QString& path)
{
    if (path.isEmpty())
        return QString();
    return MountInfo::mountPointForPath(path);
}

QString containerForVolume(const QString& device)
{
    QString name = device.startsWith(QLatin1String("/dev/")) ? device.mid(5) : device;
    if (name.isEmpty() || name.contains(QLatin1Char('/')))
        return QString();
    const DeviceNames::Parsed p = DeviceNames::parse(name, DiskFacts::sysClassBlock());
    return p.isSubvolume ? p.container : QString();
}

bool findGroup(const QString& volumeDevice, QString* systemDevice, QString* dataDevice)
{
    const QString name = volumeDevice.section(QLatin1Char('/'), -1);
    const DeviceNames::Parsed p = DeviceNames::parse(name, DiskFacts::sysClassBlock());
    if (!p.isSubvolume)
        return false;
    const QList<MountEntry> mounts = MountInfo::read();
    for (const MountEntry& e : mounts) {
        if (DiskFacts::blockDeviceOf(e) != p.container)
            continue;
        const std::optional<MountEntry> top = BtrfsVolumeModel::topLevelMount(e, mounts);
        if (!top)
            continue;
        BtrfsVolumeRegistry reg;
        if (reg.load(top->mountPoint) != BtrfsVolumeRegistry::Status::Ok || !reg.contains(p.subvolumeId))
            return false;
        const QString group = reg.entry(p.subvolumeId).groupUUID;
        const quint64 sys = group.isEmpty() ? 0 : reg.memberWithRole(group, QStringLiteral("System"));
        const quint64 data = group.isEmpty() ? 0 : reg.memberWithRole(group, QStringLiteral("Data"));
        if (!sys || !data)
            return false;
        if (systemDevice)
            *systemDevice = DeviceNames::subvolumeDeviceName(p.container, sys);
        if (dataDevice)
            *dataDevice = DeviceNames::subvolumeDeviceName(p.container, data);
        return true;
    }
    return false;
}

QString getMountPointForDevice(const QString& BSDName)
{
    const QString name = BSDName.startsWith(QLatin1String("/dev/")) ? BSDName.mid(5) : BSDName;
    if (name.isEmpty())
        return QString();
    for (const MountEntry& e : MountInfo::read()) {
        if (!IDiskUtil::isBindMount(e) && DiskFacts::sourceName(e) == name)
            return e.mountPoint;
    }
    return QString();
}

QString mountVolumeBSDName(const QString& BSDName)
{
    return getMountPointForDevice(BSDName);
}
