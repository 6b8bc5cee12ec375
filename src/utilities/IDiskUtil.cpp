#include "utilities/IDiskUtil.h"

#include "platform/AppPaths.h"
#include "platform/BtrfsVolumeModel.h"
#include "platform/DeviceNames.h"
#include "platform/DiskFacts.h"
#include "platform/FsKinds.h"
#include "platform/MountInfo.h"
#include "platform/NameCodec.h"
#include "platform/NameSanitizer.h"
#include "platform/PlistBridge.h"
#include "platform/RootProcess.h"
#include "platform/Subprocess.h"
#include "platform/UuidText.h"
#include "utilities/IShellServices.h"
#include "utilities/LogOptions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QRegularExpression>
#include <atomic>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A line for the run log through the hub's log sink.
void diskLog(const QString& text)
{
    IShellServices::shared().processMessage(text, LogWord::UtilLog, nullptr);
}

QMutex g_runnerMutex;
IDiskUtil::RootRunner g_runner;
std::atomic<bool> g_printDebug { false };
QMutex g_versionMutex;
qint64 g_systemVersion = 0;

QString stripDev(const QString& name)
{
    return name.startsWith(QLatin1String("/dev/")) ? name.mid(5) : name;
}

IDiskUtil::RootResult runDirect(const QStringList& argv)
{
    IDiskUtil::RootResult r;
    if (argv.isEmpty())
        return r;
    if (::geteuid() != 0) {
        r.output = QStringLiteral("no way to get administrator rights");
        return r;
    }
    Subprocess::Options o;
    o.program = argv.first();
    o.arguments = argv.mid(1);
    o.mergeStderr = true;
    const Subprocess::Result res = Subprocess::run(o, 120000);
    r.started = res.started;
    r.exitCode = res.signal == 0 ? res.exitCode : -1;
    r.output = res.started ? QString::fromUtf8(res.out).trimmed() : res.error;
    return r;
}

// major.minor.patch → integer; 10.16 counts as 11.0 when bigSurRule is set.
qint64 versionFromText(const QString& text, bool bigSurRule)
{
    const QStringList parts = text.trimmed().split(QLatin1Char('.'));
    if (text.trimmed().isEmpty())
        return 0;
    qint64 v[3] = { 0, 0, 0 };
    for (int i = 0; i < 3 && i < parts.size(); ++i)
        v[i] = qBound(qint64(0), parts[i].toLongLong(), qint64(i == 0 ? 9999 : 99));
    if (bigSurRule && v[0] == 10 && v[1] == 16) {
        v[0] = 11;
        v[1] = 0;
    }
    return v[0] * 10000 + v[1] * 100 + v[2];
}

QString productVersionAt(const QString& root)
{
    const QString path
        = QDir(root).filePath(QStringLiteral("System/Library/CoreServices/SystemVersion.plist"));
    const PlistBridge::ReadResult r = PlistBridge::readFile(path);
    if (!r.ok())
        return QString();
    return PlistValue::string(r.map(), QStringLiteral("ProductVersion"));
}

bool plistExistsAt(const QString& root)
{
    return QFileInfo::exists(
        QDir(root).filePath(QStringLiteral("System/Library/CoreServices/SystemVersion.plist")));
}

// The first run of characters that begins with a digit and ends at a blank or the end.
QString versionToken(const QString& text)
{
    static const QRegularExpression re(QStringLiteral("\\d[^ ]*"));
    const QRegularExpressionMatch m = re.match(text);
    return m.hasMatch() ? m.captured(0) : QString();
}

qint32 clampedInt(const QString& digits)
{
    bool ok = false;
    const qint64 v = digits.toLongLong(&ok);
    if (!ok)
        return 0;
    return qint32(qBound(qint64(0), v, qint64(2147483647)));
}

QString userName()
{
    if (const passwd* pw = ::getpwuid(::getuid()))
        return NameCodec::decode(std::string(pw->pw_name));
    return QString::number(::getuid());
}

QString mediaFolderFor(const QString& wanted)
{
    const QString base = QStringLiteral("/media/") + userName();
    QString name = NameSanitizer::sanitize(wanted);
    if (name.isEmpty())
        name = QStringLiteral("Untitled");
    const QList<MountEntry> mounts = MountInfo::read();
    auto taken = [&](const QString& p) {
        for (const MountEntry& e : mounts) {
            if (e.mountPoint == p)
                return true;
        }
        QDir d(p);
        return d.exists() ? !d.isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)
                          : QFileInfo::exists(p);
    };
    QString candidate = base + QLatin1Char('/') + name;
    for (int i = 1; taken(candidate) && i < 1000; ++i)
        candidate = base + QLatin1Char('/') + name + QLatin1Char(' ') + QString::number(i);
    return candidate;
}

struct VolumeRef
{
    QString name; // "sda1", "loop0s256"
    QString device; // the block device ("loop0" for "loop0s256")
    QString whole; // the disk or container
    quint64 subvolumeId = 0;
};

std::optional<VolumeRef> parseVolume(const QString& given)
{
    const QString name = stripDev(given);
    if (name.isEmpty() || name.contains(QLatin1Char('/')))
        return std::nullopt;
    const DeviceNames::Parsed p = DeviceNames::parse(name, DiskFacts::sysClassBlock());
    if (p.isSubvolume) {
        if (p.subvolumeId < BtrfsVolumeModel::topLevelId)
            return std::nullopt;
        return VolumeRef { name, p.container, p.container, p.subvolumeId };
    }
    const std::optional<DiskFacts::BlockDevice> bd = DiskFacts::blockDevice(name);
    if (!bd || !bd->isPartition)
        return std::nullopt;
    return VolumeRef { name, name, bd->wholeDisk, 0 };
}

QList<MountEntry> mountsOfName(const QString& name, const QList<MountEntry>& mounts)
{
    QList<MountEntry> result;
    for (const MountEntry& e : mounts) {
        if (!IDiskUtil::isBindMount(e) && DiskFacts::sourceName(e) == name)
            result.append(e);
    }
    return result;
}

QString mountOne(const VolumeRef& v)
{
    const QList<MountEntry> mounts = MountInfo::read();
    const QList<MountEntry> mine = mountsOfName(v.name, mounts);
    if (!mine.isEmpty())
        return QStringLiteral("Volume %1 on %2 mounted successfully").arg(v.name, mine.first().mountPoint);
    const DiskFacts::Probe probe = DiskFacts::probeDevice(v.device);
    if (probe.type.isEmpty())
        return QStringLiteral("Volume %1 failed to mount: no file system found").arg(v.name);
    const QString dir
        = mediaFolderFor(v.subvolumeId ? v.name : (probe.label.isEmpty() ? v.name : probe.label));
    IDiskUtil::RootResult r
        = IDiskUtil::runRooted({ QStringLiteral("mkdir"), QStringLiteral("-p"), QStringLiteral("--"), dir });
    if (!r.started || r.exitCode != 0)
        return QStringLiteral("Volume %1 failed to mount: %2").arg(v.name, r.output);
    QStringList argv { QStringLiteral("mount") };
    if (v.subvolumeId)
        argv << QStringLiteral("-t") << QStringLiteral("btrfs") << QStringLiteral("-o")
             << QStringLiteral("subvolid=%1").arg(v.subvolumeId);
    argv << QStringLiteral("--") << QStringLiteral("/dev/") + v.device << dir;
    r = IDiskUtil::runRooted(argv);
    if (!r.started || r.exitCode != 0) {
        IDiskUtil::runRooted({ QStringLiteral("rmdir"), QStringLiteral("--"), dir });
        return QStringLiteral("Volume %1 failed to mount: %2").arg(v.name, r.output);
    }
    return QStringLiteral("Volume %1 on %2 mounted successfully").arg(v.name, dir);
}

} // namespace

void IDiskUtil::setRootRunner(RootRunner runner)
{
    QMutexLocker lock(&g_runnerMutex);
    g_runner = std::move(runner);
}

IDiskUtil::RootResult IDiskUtil::runWithPrivilegeBackend(const QStringList& argv)
{
    RootResult r;
    if (argv.isEmpty())
        return r;
    PrivilegeBackend::RootCommand command;
    command.arguments = argv;
    const RootProcess::Result res = RootProcess::run(command, 120000);
    r.started = res.started;
    r.exitCode = res.started && res.signal == 0 ? res.exitCode : -1;
    r.output = QString::fromUtf8(res.out + res.err).trimmed();
    if (r.output.isEmpty())
        r.output = res.error;
    return r;
}

IDiskUtil::RootResult IDiskUtil::runRooted(const QStringList& argv)
{
    RootRunner runner;
    {
        QMutexLocker lock(&g_runnerMutex);
        runner = g_runner;
    }
    RootResult r = runner ? runner(argv) : runDirect(argv);
    diskLog(QStringLiteral("%1: %2").arg(argv.join(QLatin1Char(' ')),
        r.started ? QString::number(r.exitCode) : QStringLiteral("not started")));
    return r;
}

IDiskUtil::IDiskUtil()
{
    reloadDiskUtilFullInfo();
}

IDiskUtil& IDiskUtil::shared()
{
    static IDiskUtil instance;
    return instance;
}

DiskDescription IDiskUtil::describe(const QString& path)
{
    if (path.isEmpty())
        return DiskDescription();
    std::optional<DiskFacts::VolumeRegistryFacts> reg;
    QVariantMap dict = DiskFacts::describePath(path, &reg);
    if (dict.isEmpty())
        return DiskDescription();
    if (reg) {
        dict.insert(
            QStringLiteral("Role"), reg->role.isEmpty() ? QStringLiteral("No specific role") : reg->role);
        dict.insert(QStringLiteral("VolGroupUUID"), reg->groupUUID);
    }
    const QString scheme = dict.value(QStringLiteral("DAPartitionScheme")).toString();
    return DiskDescription(dict, DiskDescription::DiskArbitration, scheme);
}

bool IDiskUtil::getDiskInfo(const QString& path)
{
    return loadDiskInfoToDictionaryFor(path);
}

bool IDiskUtil::loadDiskInfoToDictionaryFor(const QString& path)
{
    if (path.isEmpty() || !QFileInfo::exists(path)) {
        m_description = DiskDescription();
        return false;
    }
    m_description = describe(path);
    return m_description.currentInfoType() != DiskDescription::None;
}

bool IDiskUtil::oldLoadDiskInfoToDictionaryFor(const QString& path)
{
    const DiskDescription d = describe(path);
    if (d.currentInfoType() == DiskDescription::None)
        return false;
    const QVariantMap& da = d.dict();
    QVariantMap text;
    auto put = [&](const char* key, const QString& value) {
        if (!value.isEmpty())
            text.insert(QLatin1String(key), value);
    };
    put("Device Identifier", da.value(QStringLiteral("DAMediaBSDName")).toString());
    put("Volume Name", da.value(QStringLiteral("DAVolumeName")).toString());
    put("Mount Point", da.value(QStringLiteral("DAVolumePath")).toString());
    put("File System Personality", da.value(QStringLiteral("DAVolumeKind")).toString().toUpper());
    put("Volume UUID", da.value(QStringLiteral("DAVolumeUUID")).toString());
    put("Protocol", da.value(QStringLiteral("DADeviceProtocol")).toString());
    put("Owners",
        FsKinds::isMacFileSystem(da.value(QStringLiteral("DAVolumeKind")).toString())
            ? QStringLiteral("Enabled")
            : QStringLiteral("Disabled"));
    m_description = DiskDescription(text, DiskDescription::InfoText, d.wholePartititonType());
    return true;
}

bool IDiskUtil::loadAdvancedDiskInfoToDictionary(QVariantMap& dict, const QString& path)
{
    const DiskDescription d = describe(path);
    if (d.currentInfoType() == DiskDescription::None)
        return false;
    dict.insert(QStringLiteral("Owners"),
        FsKinds::isMacFileSystem(d.dict().value(QStringLiteral("DAVolumeKind")).toString()));
    m_description.setCurrentInfoType(DiskDescription::Ownership);
    return true;
}

bool IDiskUtil::reloadDiskUtilFullInfo()
{
    const QVariantMap list = DiskFacts::diskList();
    QMutexLocker lock(&m_listMutex);
    m_diskList = list;
    return true;
}

QVariantMap IDiskUtil::diskList() const
{
    QMutexLocker lock(&m_listMutex);
    return m_diskList;
}

QString IDiskUtil::getVolumeBSDNameByUUID(const QString& uuid, bool* isMounted)
{
    const QVariantMap list = diskList();
    for (const QVariant& diskValue : PlistValue::array(list, QStringLiteral("AllDisksAndPartitions"))) {
        const QVariantMap disk = diskValue.toMap();
        for (const char* group : { "Partitions", "APFSVolumes" }) {
            for (const QVariant& v : PlistValue::array(disk, QLatin1String(group))) {
                const QVariantMap entry = v.toMap();
                if (!UuidText::equal(PlistValue::string(entry, QStringLiteral("VolumeUUID")), uuid))
                    continue;
                const QString mountPoint = PlistValue::string(entry, QStringLiteral("MountPoint"));
                if (isMounted)
                    *isMounted = !mountPoint.isEmpty();
                if (g_printDebug) {
                    diskLog(QStringLiteral("***     Mount Point:  %1").arg(mountPoint));
                    diskLog(QStringLiteral("***     Target info:\n  %1")
                                .arg(QString::fromUtf8(PlistBridge::toXml(entry))));
                }
                return PlistValue::string(entry, QStringLiteral("DeviceIdentifier"));
            }
        }
    }
    return QString();
}

void IDiskUtil::setPrintDebug(bool on)
{
    g_printDebug = on;
}

QString IDiskUtil::diskUtilFullInfoPrint() const
{
    QStringList lines;
    for (const QVariant& diskValue : PlistValue::array(diskList(), QStringLiteral("AllDisksAndPartitions"))) {
        const QVariantMap disk = diskValue.toMap();
        lines << QStringLiteral("container disk ===== %1 =====")
                     .arg(PlistValue::string(disk, QStringLiteral("DeviceIdentifier")));
        for (const char* group : { "Partitions", "APFSVolumes" }) {
            const QVariantList entries = PlistValue::array(disk, QLatin1String(group));
            const bool parts = QLatin1String(group) == QLatin1String("Partitions");
            if (entries.isEmpty()) {
                lines << (parts ? QStringLiteral("No partitions") : QStringLiteral("No APFSVolumes"));
                continue;
            }
            lines << (parts ? QStringLiteral("partitions %1") : QStringLiteral("APFSVolumes %1"))
                         .arg(entries.size());
            for (const QVariant& v : entries) {
                const QVariantMap e = v.toMap();
                const QString id = PlistValue::string(e, QStringLiteral("DeviceIdentifier"));
                const QString name = PlistValue::string(e, QStringLiteral("VolumeName"));
                lines << (name.isEmpty() ? QStringLiteral("    disk %1").arg(id)
                                         : QStringLiteral("    disk %1 (%2)").arg(id, name));
                const QString mp = PlistValue::string(e, QStringLiteral("MountPoint"));
                lines << (mp.isEmpty() ? QStringLiteral("        NOT MOUNTED")
                                       : QStringLiteral("        mounted %1").arg(mp));
                lines << QStringLiteral("        VolumeUUID %1")
                             .arg(PlistValue::string(e, QStringLiteral("VolumeUUID")));
            }
        }
    }
    const QString text = lines.join(QLatin1Char('\n'));
    return text;
}

bool IDiskUtil::containsString(const QString& text, const QString& part)
{
    return text.toUpper().contains(part);
}

std::optional<QVariantMap> IDiskUtil::loadFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QString text = QString::fromUtf8(f.readAll());
    if (text.isEmpty())
        return std::nullopt;
    QVariantMap dict;
    bool anyColon = false;
    for (QString line : text.split(QRegularExpression(QStringLiteral("[\r\n]")))) {
        int i = 0;
        while (i < line.size() && (line[i] == QLatin1Char(' ') || line[i] == QLatin1Char('\t')))
            ++i;
        line = line.mid(i);
        const int colon = line.indexOf(QLatin1Char(':'));
        if (colon < 0)
            continue;
        anyColon = true;
        const QString key = line.left(colon);
        const QString value = line.mid(colon + 1).trimmed();
        if (key.isEmpty() || value.isEmpty())
            continue;
        dict.insert(key, value);
    }
    if (!anyColon)
        return std::nullopt;
    return dict;
}

qint64 IDiskUtil::systemVersion()
{
    QMutexLocker lock(&g_versionMutex);
    if (g_systemVersion == 0) {
        const QString root = AppPaths::systemRoot();
        // Without the file the system behaves as 10.15.7, never as the distribution's version.
        g_systemVersion = plistExistsAt(root) ? versionFromText(productVersionAt(root), true) : 101507;
        // A file that does not parse (or names no version) counts as no file.
        if (g_systemVersion <= 0)
            g_systemVersion = 101507;
    }
    return g_systemVersion;
}

void IDiskUtil::resetSystemVersionCache()
{
    QMutexLocker lock(&g_versionMutex);
    g_systemVersion = 0;
}

qint64 IDiskUtil::systemVersionToInt(const QString& versionText)
{
    return versionFromText(versionText, false);
}

qint64 IDiskUtil::systemVersionForMountPoint(const QString& path)
{
    if (path.isEmpty())
        return 0;
    return versionFromText(productVersionAt(path), true);
}

VolumeSysVersion IDiskUtil::fullSystemVersionForMountPoint(const QString& path)
{
    VolumeSysVersion result;
    if (systemVersionForMountPoint(path) == 0)
        return result;
    const PlistBridge::ReadResult r
        = PlistBridge::readFile(QDir(path).filePath(QStringLiteral("Library/Receipts/InstallHistory.plist")));
    if (!r.ok() || r.value.typeId() != QMetaType::QVariantList)
        return result;
    const QVariantList history = r.value.toList();
    if (history.isEmpty())
        return result;
    bool securityFound = false;
    for (int i = history.size() - 1; i >= 0; --i) {
        if (history[i].typeId() != QMetaType::QVariantMap)
            continue; // entries of another type are skipped
        const QVariantMap entry = history[i].toMap();
        const QVariantList ids = PlistValue::array(entry, QStringLiteral("packageIdentifiers"));
        const QString id = ids.isEmpty() ? QString() : ids.first().toString();
        const QString displayName = PlistValue::string(entry, QStringLiteral("displayName"));
        const QString displayVersion = PlistValue::string(entry, QStringLiteral("displayVersion"));
        if (!securityFound
            && (id.startsWith(QLatin1String("com.apple.pkg.XProtect"))
                || id.startsWith(QLatin1String("com.apple.pkg.MRTConfig")))) {
            const int u = id.indexOf(QLatin1Char('U'));
            if (u >= 0) {
                static const QRegularExpression digits(QStringLiteral("^\\d+"));
                result.securityData = clampedInt(digits.match(id.mid(u + 1)).captured(0));
                securityFound = true;
            }
            continue;
        }
        if (!displayName.startsWith(QLatin1String("macOS ")))
            continue;
        const QString token = versionToken(displayName);
        if (!token.isEmpty()) {
            result.version = qint32(systemVersionToInt(token));
            result.update = displayVersion.contains(QLatin1Char('.')) ? 0 : clampedInt(displayVersion);
        } else if (displayName.contains(QLatin1String("Catalina"))) {
            result.version = 101500;
            result.update = clampedInt(displayVersion);
        } else if (displayName.contains(QLatin1String("Big Sur"))) {
            const QString vt = versionToken(displayVersion);
            if (!vt.isEmpty()) {
                result.version = qint32(systemVersionToInt(vt));
                result.update = 0;
            } else {
                result.version = 110000;
                result.update = clampedInt(displayVersion);
            }
        }
        return result;
    }
    return result;
}

QString IDiskUtil::wholeDiskForVolumeBSDName(const QString& name)
{
    const std::optional<VolumeRef> v = parseVolume(name);
    return v ? v->whole : QString();
}

QString IDiskUtil::getStringWithRoleForBSDName(const QString& name)
{
    const QList<MountEntry> mounts = MountInfo::read();
    const QList<MountEntry> mine = mountsOfName(stripDev(name), mounts);
    if (mine.isEmpty())
        return QString();
    const auto reg = DiskFacts::registryFacts(mine.first(), mounts);
    if (!reg)
        return QString();
    return reg->role.isEmpty() ? QStringLiteral("No specific role") : reg->role;
}

QString IDiskUtil::getStringWithGroupForBSDName(const QString& name)
{
    const QList<MountEntry> mounts = MountInfo::read();
    const QList<MountEntry> mine = mountsOfName(stripDev(name), mounts);
    if (mine.isEmpty())
        return QString();
    const auto reg = DiskFacts::registryFacts(mine.first(), mounts);
    return reg ? reg->groupUUID : QString();
}

QString IDiskUtil::mountDiskForVolumeBSDName(const QString& name)
{
    const std::optional<VolumeRef> v = parseVolume(name);
    if (!v)
        return QString();
    QString answer;
    if (v->subvolumeId) {
        // Listing the other subvolumes of a container needs a mount: mount the one asked for.
        answer = mountOne(*v);
    } else {
        // Every unmounted volume of the disk.
        QStringList failures;
        const QList<MountEntry> mounts = MountInfo::read();
        for (const QString& part : DiskFacts::partitionsOf(v->whole)) {
            if (!mountsOfName(part, mounts).isEmpty() || DiskFacts::probeDevice(part).type.isEmpty())
                continue;
            const QString a = mountOne(VolumeRef { part, part, v->whole, 0 });
            if (a.contains(QLatin1String("failed")))
                failures << a;
        }
        answer = failures.isEmpty() ? QStringLiteral("Volume(s) on %1 mounted successfully").arg(v->whole)
                                    : QStringLiteral("Volume(s) on %1 failed to mount: %2")
                                          .arg(v->whole, failures.join(QLatin1String("; ")));
    }
    if (answer.contains(QLatin1String("failed")))
        answer = mountOne(*v);
    return answer;
}

QString IDiskUtil::unmountDiskForVolumeBSDName(const QString& name, bool tryContainer)
{
    const std::optional<VolumeRef> v = parseVolume(name);
    if (!v)
        return QString();
    const QList<MountEntry> mounts = MountInfo::read();
    QList<MountEntry> targets;
    for (const MountEntry& e : mounts) {
        if (isBindMount(e))
            continue;
        const QString dev = DiskFacts::blockDeviceOf(e);
        if (dev.isEmpty())
            continue;
        if (tryContainer) {
            const std::optional<DiskFacts::BlockDevice> bd = DiskFacts::blockDevice(dev);
            if (dev == v->whole || (bd && bd->wholeDisk == v->whole))
                targets.append(e);
        } else if (DiskFacts::sourceName(e) == v->name) {
            targets.append(e);
        }
    }
    // Stacked and nested mounts come off in the reverse order of mounting; no lazy unmount:
    // a busy volume stays mounted and the answer says so.
    QStringList failures;
    for (int i = targets.size() - 1; i >= 0; --i) {
        const RootResult r
            = runRooted({ QStringLiteral("umount"), QStringLiteral("--"), targets[i].mountPoint });
        if (!r.started || r.exitCode != 0)
            failures << r.output;
    }
    const QString what = tryContainer ? v->whole : v->name;
    if (!failures.isEmpty())
        return QStringLiteral("Volume(s) on %1 failed to unmount: %2")
            .arg(what, failures.join(QLatin1String("; ")));
    return QStringLiteral("Volume(s) on %1 unmounted successfully").arg(what);
}

bool IDiskUtil::isSystemMount(const MountEntry& e)
{
    static const QStringList types = {
        QStringLiteral("proc"),
        QStringLiteral("sysfs"),
        QStringLiteral("devtmpfs"),
        QStringLiteral("devpts"),
        QStringLiteral("cgroup"),
        QStringLiteral("cgroup2"),
        QStringLiteral("securityfs"),
        QStringLiteral("debugfs"),
        QStringLiteral("tracefs"),
        QStringLiteral("bpf"),
        QStringLiteral("pstore"),
        QStringLiteral("mqueue"),
        QStringLiteral("hugetlbfs"),
        QStringLiteral("configfs"),
        QStringLiteral("fusectl"),
        QStringLiteral("binfmt_misc"),
        QStringLiteral("autofs"),
        QStringLiteral("efivarfs"),
        QStringLiteral("rpc_pipefs"),
        QStringLiteral("nsfs"),
        QStringLiteral("overlay"),
    };
    if (types.contains(e.fsType))
        return true;
    if (e.fsType == QLatin1String("squashfs")
        && MountInfo::isPathUnder(e.mountPoint, QStringLiteral("/snap")))
        return true;
    return false;
}

bool IDiskUtil::isBindMount(const MountEntry& e)
{
    if (e.root == QLatin1String("/"))
        return false;
    if (e.fsType == QLatin1String("btrfs")) {
        // A subvolume mount's root is the subvolume's path ("subvol=" option).
        const QString subvol = e.superOption(QStringLiteral("subvol"));
        return subvol.isNull() || MountInfo::cleanPath(subvol) != MountInfo::cleanPath(e.root);
    }
    return true;
}

QStringList IDiskUtil::mountPointList(int bits)
{
    QStringList list;
    for (const MountEntry& e : MountInfo::read()) {
        const QString& p = e.mountPoint;
        if (p.isEmpty())
            continue;
        if (bits & 0x1) {
            if ((p.startsWith(QLatin1String("/System/Volumes"))
                    && !p.startsWith(QLatin1String("/System/Volumes/Data")))
                || p.startsWith(QLatin1String("/dev")) || p.startsWith(QLatin1String("/private/var/vm")))
                continue;
            if (isSystemMount(e))
                continue;
        }
        // Shares mounted by the system sit under /media like other volumes and stay in.
        if ((bits & 0x2) && (p.startsWith(QLatin1String("/Network")) || p.startsWith(QLatin1String("/net"))))
            continue;
        if ((bits & 0x10) && isBindMount(e))
            continue;
        list.append(p);
    }
    return list;
}

QString IDiskUtil::getMountPointWithUUID(const QString& uuid)
{
    for (const QString& p : mountPointList(0x13)) {
        const DiskDescription d = describe(p);
        if (d.currentInfoType() != DiskDescription::None && UuidText::equal(d.volumeUUID(), uuid))
            return p;
    }
    return QString();
}

quint64 IDiskUtil::availableSpaceOnVolume(const QString& path)
{
    const DiskFacts::Space s = DiskFacts::space(path);
    return s.ok ? s.availableBytes() : 0;
}

quint64 IDiskUtil::maxSpaceOnVolume(const QString& path)
{
    const DiskFacts::Space s = DiskFacts::space(path);
    return s.ok ? s.totalBytes() : 0;
}

bool IDiskUtil::setToVolume(const QString& volumePath, bool ownersEnabled)
{
    const std::optional<MountEntry> m = MountInfo::mountEntryForPath(volumePath);
    if (!m) {
        diskLog(QStringLiteral("Ownership of \"%1\": no mounted volume").arg(volumePath));
        return false;
    }
    const bool keepsOwners = FsKinds::isMacFileSystem(m->fsType);
    if (keepsOwners == ownersEnabled)
        return true;
    diskLog(QStringLiteral("Ownership of \"%1\" (%2) cannot be switched %3")
                .arg(volumePath, m->fsType, ownersEnabled ? QStringLiteral("on") : QStringLiteral("off")));
    return false;
}
