#include "APFSPreparer.h"

#include "APFSContainer.h"
#include "IAPFSUtil.h"
#include "platform/BtrfsVolumeModel.h"
#include "platform/DiskFacts.h"
#include "platform/NameCodec.h"
#include "platform/NameSanitizer.h"
#include "platform/UuidText.h"
#include "utilities/CommonFunctions.h"

#include <QFileInfo>
#include <QUuid>
#include <cerrno>
#include <cjson/cJSON.h>
#include <cstdlib>
#include <linux/magic.h>
#include <memory>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

const QString kRoleSystem = QStringLiteral("System");
const QString kRoleData = QStringLiteral("Data");
const QString kRolePreboot = QStringLiteral("Preboot");
const QString kRoleRecovery = QStringLiteral("Recovery");
const QString kRoleVM = QStringLiteral("VM");
constexpr int kMountTries = 10;

void d(const QString& t)
{
    IAPFSUtil::print('d', t);
}
void e(const QString& t)
{
    IAPFSUtil::print('e', t);
}
void i(const QString& t)
{
    IAPFSUtil::print('i', t);
}
void o(const QString& t)
{
    IAPFSUtil::print('o', t);
}
void p(const QString& t)
{
    IAPFSUtil::print('p', t);
}

bool isDir(const QString& path)
{
    struct stat st = {};
    return ::lstat(NameCodec::encode(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool makeDir(const QString& path, mode_t mode)
{
    return ::mkdir(NameCodec::encode(path).constData(), mode) == 0 || (errno == EEXIST && isDir(path));
}

bool isMountPoint(const QString& folder)
{
    const QList<MountEntry> mounts = MountInfo::read();
    const QString clean = MountInfo::cleanPath(folder);
    return std::any_of(
        mounts.begin(), mounts.end(), [&](const MountEntry& m) { return m.mountPoint == clean; });
}

// Removes a work folder only when nothing is mounted on it: an empty folder, never recursively.
void removeWorkFolder(const QString& folder)
{
    if (!isMountPoint(folder))
        ::rmdir(NameCodec::encode(folder).constData());
}

// A JSON string literal for the text, escaped by cJSON.
QString jsonString(const QString& text)
{
    cJSON* item = cJSON_CreateString(text.toUtf8().constData());
    char* printed = cJSON_PrintUnformatted(item);
    const QString literal = QString::fromUtf8(printed);
    cJSON_free(printed);
    cJSON_Delete(item);
    return literal;
}

// "::{"KEY" : {"name" : "…", "mountPoint" : "…"}}", with every value escaped as JSON.
QString jsonLine(const char* key, const QString& name, const QString& mountPoint)
{
    return QStringLiteral("::{\"%1\" : {\"name\" : %2, \"mountPoint\" : %3}}")
        .arg(QLatin1String(key), jsonString(name), jsonString(mountPoint));
}

// The role type of a role text: 0 no specific role, 1 Data, 2 Preboot, 3 Recovery, 4 VM,
// 5 System; -1 for any other role.
int roleType(const QString& role)
{
    if (role.isEmpty())
        return 0;
    const QStringList roles { QString(), kRoleData, kRolePreboot, kRoleRecovery, kRoleVM, kRoleSystem };
    for (int t = 1; t < roles.size(); ++t) {
        if (role.compare(roles.at(t), Qt::CaseInsensitive) == 0)
            return t;
    }
    return -1;
}


} // namespace

QString APFSPreparer::freeFolderBeside(const QString& mountPoint, const QString& name)
{
    const QString parent = QFileInfo(mountPoint).path();
    bool refused = false;
    QString base = NameSanitizer::sanitize(name, &refused);
    if (refused || base.isEmpty())
        base = QStringLiteral("Volume");
    QString folder = parent + QLatin1Char('/') + base;
    for (int n = 1; QFileInfo::exists(folder) && (!isDir(folder) || isMountPoint(folder)); ++n)
        folder = parent + QLatin1Char('/') + base + QLatin1Char(' ') + QString::number(n);
    return makeDir(folder, 0755) ? folder : QString();
}

QString APFSPreparer::version()
{
    return QStringLiteral("4.2");
}

std::pair<QString, QString> APFSPreparer::groupNames(const QString& volumeName)
{
    if (volumeName.endsWith(QLatin1String("- Data")))
        return { volumeName.size() >= 7 ? volumeName.chopped(7) : QString(), volumeName };
    return { volumeName, volumeName + QStringLiteral(" - Data") };
}

void APFSPreparer::printUsage()
{
    i(QStringLiteral("qv3_apfs_preparer, ver. ") + version());
    i(QStringLiteral("   Usage: <rc_APFS_volume> <Dest_APFS_volume> [SourceDoubleVolume/CleanVolume]"));
    i(QStringLiteral("   Src_APFS_volume - source mount point"));
    i(QStringLiteral("   Dest_APFS_volume - destination mount point"));
    i(QStringLiteral("   SourceDoubleVolume (optional) - key for Catalina (or higher) system source disk"));
    i(QStringLiteral("   OR"));
    i(QStringLiteral(
        "   CleanVolume (optional) - key for target container CLEANING (<rc_APFS_volume> must be '-')"));
}

APFSPreparer::Side APFSPreparer::examine(const QString& path)
{
    Side side;
    side.path = path;
    struct statfs fs = {};
    if (::statfs(NameCodec::encode(path).constData(), &fs) != 0)
        return side;
    side.isBtrfs = static_cast<unsigned long>(fs.f_type) == BTRFS_SUPER_MAGIC;
    const auto mount = MountInfo::mountEntryForPath(path);
    if (!side.isBtrfs || !mount)
        return side;
    side.mount = *mount;
    side.mountPoint = mount->mountPoint;
    const auto id = BtrfsVolumeModel::subvolumeId(path);
    const QString block = DiskFacts::blockDeviceOf(*mount);
    if (id && !block.isEmpty()) {
        side.subvolumeId = *id;
        side.device = block + QLatin1Char('s') + QString::number(*id);
    }
    return side;
}

int APFSPreparer::run(const QStringList& arguments)
{
    const QString mode = arguments.value(2);
    if (arguments.size() < 2 || arguments.size() > 3
        || (arguments.size() == 3 && mode != QLatin1String("SourceDoubleVolume")
            && mode != QLatin1String("CleanVolume"))) {
        printUsage();
        return 255;
    }

    // 1-2. Both sides must be volumes of this kind; nothing is touched otherwise.
    Side destination = examine(arguments.at(1));
    if (!destination.isBtrfs) {
        e(QStringLiteral("Destination is not APFS!"));
        return 1;
    }
    const bool sourceGiven = arguments.at(0) != QLatin1String("-");
    Side source = sourceGiven ? examine(arguments.at(0)) : destination;
    if (!source.isBtrfs)
        e(QStringLiteral("Source is not APFS!"));
    if (source.isBtrfs && (source.device.isEmpty() || destination.device.isEmpty()))
        e(QStringLiteral("Source or Destination was not found!"));
    if (!source.isBtrfs || source.device.isEmpty() || destination.device.isEmpty()) {
        p(QStringLiteral("APFS Accessory volumes preparing: Not completed"));
        return 1;
    }

    // Every work mount of this run lives in one private folder.
    const char* tmp = std::getenv("TMPDIR");
    QByteArray work = QByteArray(tmp && *tmp ? tmp : "/tmp") + "/qv3_apfs_preparer.XXXXXX";
    if (!::mkdtemp(work.data())) {
        d(QStringLiteral("Folder creation failed: %1").arg(NameCodec::decode(work)));
        p(QStringLiteral("APFS Accessory volumes preparing: Not completed"));
        return mode == QLatin1String("SourceDoubleVolume") ? 2 : 1;
    }
    const QString workFolder = NameCodec::decode(work);

    int status = 0;
    {
        APFSContainer destinationContainer;
        std::unique_ptr<APFSContainer> sourceOwn;
        APFSContainer* sourceContainer = &destinationContainer;
        QString error;
        bool opened
            = destinationContainer.open(destination.mount, workFolder + QStringLiteral("/dst_top"), &error);
        if (!opened)
            e(QStringLiteral("Destination container: %1").arg(error));
        if (opened && sourceGiven
            && (source.mount.major != destination.mount.major
                || source.mount.minor != destination.mount.minor)) {
            sourceOwn = std::make_unique<APFSContainer>();
            sourceContainer = sourceOwn.get();
            opened = sourceOwn->open(source.mount, workFolder + QStringLiteral("/src_top"), &error);
            if (!opened)
                e(QStringLiteral("Source container: %1").arg(error));
        }

        if (!opened) {
            p(QStringLiteral("APFS Accessory volumes preparing: Not completed"));
            status = mode == QLatin1String("SourceDoubleVolume") ? 2 : 1;
        } else if (mode == QLatin1String("CleanVolume")) {
            p(QStringLiteral("APFS container cleaning..."));
            d(QStringLiteral("Destination: %1 (%2)").arg(destination.device, destination.path));
            status = cleanContainer(destinationContainer);
        } else {
            bool groupReady = true;
            if (mode == QLatin1String("SourceDoubleVolume")) {
                d(QStringLiteral("Source double-volume"));
                p(QStringLiteral("APFS Volume Group preparing..."));
                groupReady = prepareGroup(destinationContainer, destination);
                p(groupReady ? QStringLiteral("APFS Volume Group preparing: Succeeded.")
                             : QStringLiteral("APFS Volume Group preparing: Not completed"));
                if (!groupReady)
                    status = 2;
                // The source container may be the destination's: read its registry again.
                if (groupReady && sourceContainer == &destinationContainer && !sourceGiven)
                    source = destination;
            }
            if (groupReady) {
                const AccessoryResult preboot = prepareAccessory(
                    true, *sourceContainer, source, destinationContainer, destination, workFolder);
                const AccessoryResult recovery = prepareAccessory(
                    false, *sourceContainer, source, destinationContainer, destination, workFolder);
                p(preboot.copied && recovery.copied
                        ? QStringLiteral("APFS Accessory volumes preparing: Succeeded.")
                        : QStringLiteral("APFS Accessory volumes preparing: Not completed"));
                status = (!recovery.destinationReached || recovery.createdWithoutFolder) ? 1 : 0;
            }
        }
        removeWorkFolder(workFolder + QStringLiteral("/src_mp"));
        removeWorkFolder(workFolder + QStringLiteral("/dst_mp"));
    }
    // The containers have unmounted their top levels by now.
    removeWorkFolder(workFolder);
    return status;
}

bool APFSPreparer::prepareGroup(APFSContainer& container, Side& destination)
{
    if (destination.subvolumeId == BtrfsVolumeModel::topLevelId) {
        e(QStringLiteral("Dest group prepare: the destination is the top level of its container"));
        return false;
    }
    if (container.registryStatus() != BtrfsVolumeRegistry::Status::Ok) {
        e(QStringLiteral("Key \"VolumeGroups\" was not found in diskutil output"));
        return false;
    }

    quint64 systemId = 0;
    quint64 dataId = 0;
    // A group that holds the destination and has both volumes is taken as it is.
    const auto own = container.volume(destination.subvolumeId);
    if (own && !UuidText::isNull(own->groupUUID)) {
        for (const APFSContainer::Volume& v : container.volumes()) {
            if (!UuidText::equal(v.groupUUID, own->groupUUID))
                continue;
            if (v.role.compare(kRoleSystem, Qt::CaseInsensitive) == 0 && !systemId)
                systemId = v.id;
            if (v.role.compare(kRoleData, Qt::CaseInsensitive) == 0 && !dataId)
                dataId = v.id;
        }
    }
    QString systemMount;
    QString dataMount;
    if (systemId && dataId) {
        d(QStringLiteral("Dest group found: System %1 and Data %2")
                .arg(container.deviceName(systemId), container.deviceName(dataId)));
        systemMount = container.mountPointOf(systemId);
        dataMount = container.mountPointOf(dataId);
    } else {
        // Make the group from the single destination volume.
        const auto [systemName, dataName] = groupNames(container.volumeName(destination.subvolumeId));
        const QString oldMountPoint = destination.mountPoint;
        QString error;
        if (!container.deleteVolume(destination.subvolumeId, &error)) {
            e(QStringLiteral("Dest group prepare: can't delete %1").arg(destination.device));
            d(error);
            // The volume stays: put it back where it was mounted.
            if (!oldMountPoint.isEmpty() && container.mountPointOf(destination.subvolumeId).isEmpty())
                IAPFSUtil::mountQuietly(container.blockDevice(), destination.subvolumeId, oldMountPoint);
            return false;
        }
        const QString group = UuidText::normalized(QUuid::createUuid().toString(QUuid::WithoutBraces));
        const auto data = container.createVolume(dataName, kRoleData, group, &error);
        if (!data) {
            e(QStringLiteral("Dest group prepare: can't create volume (Data) \"%1\"").arg(dataName));
            d(error);
            return false;
        }
        const auto system = container.createVolume(systemName, kRoleSystem, group, &error);
        if (!system) {
            e(QStringLiteral("Dest group prepare: can't create volume (System) \"%1\"").arg(systemName));
            d(error);
            return false;
        }
        systemId = system->id;
        dataId = data->id;
        d(QStringLiteral("Dest group created: System %1 and Data %2").arg(system->device, data->device));
        // Mounted as the new volumes would be: System where the destination was, Data beside it.
        if (IAPFSUtil::mountVolume(
                container.blockDevice(), systemId, oldMountPoint, QStringLiteral("Mount System volume")))
            systemMount = oldMountPoint;
        const QString dataFolder = freeFolderBeside(oldMountPoint, dataName);
        if (!dataFolder.isEmpty()
            && IAPFSUtil::mountVolume(
                container.blockDevice(), dataId, dataFolder, QStringLiteral("Mount Data volume")))
            dataMount = dataFolder;
    }

    destination.subvolumeId = systemId;
    destination.device = container.deviceName(systemId);
    destination.mountPoint = systemMount;
    i(jsonLine("DestSystemVolume", container.deviceName(systemId), systemMount));
    i(jsonLine("DestDataVolume", container.deviceName(dataId), dataMount));
    return true;
}

int APFSPreparer::cleanContainer(APFSContainer& container)
{
    const DiskFacts::Probe probe = DiskFacts::probeDevice(container.blockDevice());
    d(QStringLiteral("Container for clearning: %1  %2").arg(container.blockDevice(), probe.label));
    const QList<APFSContainer::Volume> volumes = container.volumes();
    if (volumes.isEmpty()) {
        d(QStringLiteral("Container is enpty"));
        return 0;
    }
    for (const APFSContainer::Volume& v : volumes) {
        const int type = roleType(v.role);
        if (type < 0)
            continue;
        d(QStringLiteral("Found: %1 (%2)")
                .arg(v.device, type == 0 ? QStringLiteral("No specific role") : v.role));
        if (type == 1) {
            p(QStringLiteral("Unmount %1(%2)...").arg(v.device, v.name));
            if (!IAPFSUtil::unmountSubvolume(container.anyMount(), v.id))
                e(QStringLiteral("Can't unmount %1").arg(v.device));
        }
        if (type >= 1 && type <= 4) {
            p(QStringLiteral("Deleting %1(%2)...").arg(v.device, v.name));
            QString error;
            if (!container.deleteVolume(v.id, &error)) {
                e(QStringLiteral("Can't delete %1").arg(v.device));
                d(error);
            }
        }
    }
    return 1;
}

APFSPreparer::AccessoryResult APFSPreparer::prepareAccessory(bool preboot, APFSContainer& source,
    const Side& sourceSide, APFSContainer& destination, const Side& destinationSide,
    const QString& workFolder)
{
    AccessoryResult result;
    const QString kind = preboot ? kRolePreboot : kRoleRecovery;
    auto info = [preboot](const QString& t) { IAPFSUtil::print(preboot ? 'i' : 'd', t); };

    p(QStringLiteral("%1 APFS volume preparing...").arg(kind));
    d(QStringLiteral("Source and destination: %1 (%2), %3 (%4)")
            .arg(sourceSide.device, sourceSide.path, destinationSide.device, destinationSide.path));
    const QString srcMp = workFolder + QStringLiteral("/src_mp");
    const QString dstMp = workFolder + QStringLiteral("/dst_mp");
    bool foldersMade = true;
    for (const QString& folder : { srcMp, dstMp }) {
        if (!makeDir(folder, 0700)) {
            d(QStringLiteral("Folder creation failed: %1").arg(folder));
            foldersMade = false;
        }
    }
    if (foldersMade)
        d(QStringLiteral("%1 volume mount points: %2 %3").arg(kind, srcMp, dstMp));
    const QString destinationUuid = destination.volumeUuid(destinationSide.subvolumeId);
    const QString sourceUuid = source.volumeUuid(sourceSide.subvolumeId);

    info(QStringLiteral("Source %1:").arg(kind));
    const QString sourceMountLabel
        = preboot ? QStringLiteral("Source Preboot mount") : QStringLiteral("Source Recovery Mount");
    const auto sourceVolume = source.firstWithRole(kind);
    bool sourceMounted = false;
    if (!sourceVolume)
        e(sourceMountLabel + QStringLiteral(": volume not found"));
    else if (foldersMade)
        sourceMounted
            = IAPFSUtil::mountVolume(source.blockDevice(), sourceVolume->id, srcMp, sourceMountLabel);

    const bool sameContainer = source.sameFileSystem(destination);
    bool destinationMounted = false;
    bool created = false;
    QString destinationBase = dstMp;
    if (sameContainer) {
        // One mount serves both sides.
        result.destinationReached = sourceVolume.has_value();
        destinationMounted = sourceMounted;
        destinationBase = srcMp;
    } else {
        info(QStringLiteral("Destination %1:").arg(kind));
        const QString mountLabel = preboot ? QStringLiteral("Mount Destination Preboot")
                                           : QStringLiteral("Destination Recovery Mount");
        auto destinationVolume = destination.firstWithRole(kind);
        if (destinationVolume) {
            result.destinationReached = true;
            if (foldersMade)
                destinationMounted = IAPFSUtil::mountVolume(
                    destination.blockDevice(), destinationVolume->id, dstMp, mountLabel);
        } else {
            const QString createLabel = QStringLiteral("Create Destination %1").arg(kind);
            QString error;
            destinationVolume = destination.createVolume(kind, kind, QString(), &error);
            if (!destinationVolume) {
                e(createLabel + QStringLiteral(": ") + error);
            } else {
                o(createLabel);
                created = true;
                result.destinationReached = true;
                d(destinationVolume->device);
                // A new subvolume is not mounted anywhere, so there is nothing to unmount.
                o(QStringLiteral("Unmount after creation"));
                for (int attempt = 1; foldersMade && attempt <= kMountTries && !destinationMounted;
                     ++attempt) {
                    destinationMounted
                        = IAPFSUtil::mountQuietly(destination.blockDevice(), destinationVolume->id, dstMp);
                    if (!destinationMounted && attempt < kMountTries)
                        ::sleep(1);
                }
                if (destinationMounted)
                    o(QStringLiteral("Mount"));
                else
                    e(QStringLiteral("Mount"));
            }
        }
    }

    bool folderReady = false;
    if (destinationMounted && !destinationUuid.isEmpty()) {
        d(QStringLiteral("-- Destination %1 volume -------").arg(kind));
        const QString folder = destinationBase + QLatin1Char('/') + destinationUuid;
        d(QStringLiteral("(%1)").arg(folder));
        if (isDir(folder)) {
            d(QStringLiteral("%1 volume UID folder was found").arg(kind));
            folderReady = true;
        } else {
            d(QStringLiteral("%1 volume UID folder was not found").arg(kind));
            folderReady = makeDir(folder, 0755);
            d((folderReady ? QStringLiteral("%1 volume UID folder was created: %2")
                           : QStringLiteral("%1 volume UID folder was not created: %2"))
                    .arg(kind, folder));
        }
        d(QStringLiteral("-- Source %1 volume -------").arg(kind));
        const QString sourceFolder = srcMp + QLatin1Char('/') + sourceUuid;
        d(QStringLiteral("(%1)").arg(sourceFolder));
        if (sourceMounted && !sourceUuid.isEmpty() && isDir(sourceFolder)) {
            if (folderReady) {
                result.copied = IAPFSUtil::waitProcessCommandWithParams(
                    { QStringLiteral("rsync"), QStringLiteral("-E"), QStringLiteral("-X"),
                        QStringLiteral("-tlH"), QStringLiteral("-x"), QStringLiteral("-S"),
                        QStringLiteral("-v"), QStringLiteral("-pgo"), QStringLiteral("-r"),
                        QStringLiteral("--delete-before"), sourceFolder + QLatin1Char('/'), folder },
                    QStringLiteral("Copy %1 volume content").arg(kind));
            }
        } else {
            i(QStringLiteral("%1 volume UID folder was not found").arg(kind));
        }
        // Nothing on Linux keeps a boot index of the Preboot volume: the step has nothing to do.
        if (preboot && QVSystemVersion() > 101299)
            o(QStringLiteral("Update Preboot content"));
    }
    result.createdWithoutFolder = created && !folderReady;

    if (sourceMounted)
        IAPFSUtil::unmountFolder(srcMp,
            preboot ? QStringLiteral("Unmount Source Preboot") : QStringLiteral("Source Recovery Unmount"));
    else
        i(preboot ? QStringLiteral("Source Preboot not currently mounted")
                  : QStringLiteral("Source Recovery not currently mounted"));
    if (!sameContainer && destinationMounted)
        IAPFSUtil::unmountFolder(dstMp,
            preboot ? QStringLiteral("Unmount Destination Preboot")
                    : QStringLiteral("Destination Recovery Unmount"));
    else
        i(preboot ? QStringLiteral("Destination Preboot not currently mounted")
                  : QStringLiteral("Destination Recovery not currently mounted"));
    return result;
}
