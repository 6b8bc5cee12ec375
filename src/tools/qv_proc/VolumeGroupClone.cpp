#include "VolumeGroupClone.h"

#include "EngineOutput.h"
#include "QvProcEngine.h"
#include "platform/BtrfsVolumeModel.h"
#include "platform/DeviceNames.h"
#include "platform/MountInfo.h"
#include "platform/NameCodec.h"
#include "platform/UuidText.h"
#include "tools/qv3_apfs_preparer/APFSContainer.h"
#include "tools/qv3_apfs_preparer/APFSPreparer.h"
#include "tools/qv3_apfs_preparer/IAPFSUtil.h"
#include "utilities/IFolderUtil.h"
#include "utilities/JSONLookup.h"

#include <QUuid>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <tuple>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

const QString kSystem = QStringLiteral("System");
const QString kData = QStringLiteral("Data");

std::string bytes(const QString& text)
{
    return NameCodec::encodeStd(text);
}

QString fromProgram(cJSON* data, const char* path)
{
    return NameCodec::decode(std::string(paramString(data, path, "")));
}

// id::{"device":"<name>"}, the text escaped by cJSON.
void deviceLine(const QString& device)
{
    cJSON* object = cJSON_CreateObject();
    setStringToObject(object, "device", bytes(device).c_str());
    char* printed = cJSON_PrintUnformatted(object);
    if (printed)
        EngineOutput::line("id::", printed);
    cJSON_free(printed);
    cJSON_Delete(object);
}

void progress(int percent)
{
    EngineOutput::line("pi::", std::to_string(percent));
}

// Other tools' messages: passed on as texts, never raw.
void toolLine(const char* line)
{
    if (*line)
        EngineOutput::line("st::", line);
}

bool isDirectory(const QString& path)
{
    struct stat st = {};
    return ::lstat(NameCodec::encode(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

VolumeGroupClone::VolumeGroupClone(cJSON* interfaceData)
    : m_data(interfaceData)
{
    // The container steps report through the preparer's output: here they become texts.
    IAPFSUtil::setOutputSink([](const QByteArray& line) {
        QByteArray text = line.trimmed();
        const qsizetype colon = text.indexOf(": ");
        if (text.startsWith("v3ap_") && colon > 0)
            text = text.mid(colon + 2);
        toolLine(text.constData());
    });
}

VolumeGroupClone::~VolumeGroupClone()
{
    removeWorkSubvolumes();
    removeSnapshots();
    for (auto it = m_workMounts.crbegin(); it != m_workMounts.crend(); ++it) {
        if (IAPFSUtil::unmountFolder(*it))
            ::rmdir(NameCodec::encode(*it).constData());
    }
    m_destination.reset();
    m_source.reset();
    if (!m_work.isEmpty()) {
        // Empty folders only: whatever is still mounted keeps its folder.
        for (const char* sub : { "/src_top", "/dst_top" })
            ::rmdir(NameCodec::encode(m_work + QLatin1String(sub)).constData());
        ::rmdir(NameCodec::encode(m_work).constData());
    }
    IAPFSUtil::setOutputSink(nullptr);
}

QString VolumeGroupClone::workSnapshotName(const QString& role)
{
    return QStringLiteral("qv_proc-clone-%1-%2").arg(long(::getpid())).arg(role);
}

bool VolumeGroupClone::fail(const std::string& text)
{
    EngineOutput::line("er::", text);
    return false;
}

bool VolumeGroupClone::makeWorkFolder()
{
    const char* tmp = std::getenv("TMPDIR");
    QByteArray folder = QByteArray(tmp && *tmp ? tmp : "/tmp") + "/qv_proc.XXXXXX";
    if (!::mkdtemp(folder.data()))
        return fail(std::string("Cannot make a work folder: ") + std::strerror(errno));
    m_work = NameCodec::decode(folder);
    return true;
}

bool VolumeGroupClone::openSource(bool needMountPoints)
{
    const QString path = fromProgram(m_data, "SourceVolume:mountPoint");
    if (path.isEmpty())
        return fail("The program names no source volume");
    const auto mount = MountInfo::mountEntryForPath(path);
    const auto id = BtrfsVolumeModel::isBtrfs(path) ? BtrfsVolumeModel::subvolumeId(path) : std::nullopt;
    if (!mount || !id)
        return fail("The source " + bytes(path) + " is not a volume of a btrfs file system");
    m_source = std::make_unique<APFSContainer>();
    QString error;
    if (!m_source->open(*mount, m_work + QStringLiteral("/src_top"), &error))
        return fail("The source file system cannot be reached: " + bytes(error));
    const auto own = m_source->volume(*id);
    if (!own || UuidText::isNull(own->groupUUID))
        return fail("The source " + bytes(path) + " is not a volume of a System and Data volume group");
    // The group's System volume first, then its Data volume.
    for (const QString& role : { kSystem, kData }) {
        std::optional<APFSContainer::Volume> member;
        for (const APFSContainer::Volume& v : m_source->volumes()) {
            if (UuidText::equal(v.groupUUID, own->groupUUID) && v.role.compare(role, Qt::CaseInsensitive) == 0) {
                member = v;
                break;
            }
        }
        if (!member)
            return fail("The volume group of " + bytes(path) + " has no " + bytes(role) + " volume");
        m_group.append({ member->id, role, member->name, QString() });
    }
    if (!needMountPoints)
        return true;
    for (GroupVolume& v : m_group) {
        v.mountPoint = m_source->mountPointOf(v.id);
        if (v.mountPoint.isEmpty())
            v.mountPoint = mountForReading(v.id, v.role);
        if (v.mountPoint.isEmpty())
            return fail("The source " + bytes(v.role) + " volume cannot be mounted: "
                + bytes(IAPFSUtil::lastMountError()));
    }
    return true;
}

bool VolumeGroupClone::isInSourceGroup(const QString& path) const
{
    const auto mount = MountInfo::mountEntryForPath(path);
    const auto id = BtrfsVolumeModel::isBtrfs(path) ? BtrfsVolumeModel::subvolumeId(path) : std::nullopt;
    if (!mount || !id || mount->major != m_source->anyMount().major || mount->minor != m_source->anyMount().minor)
        return false;
    const auto own = m_source->volume(*id);
    const auto system = m_source->volume(m_group.at(0).id);
    return *id == m_group.at(0).id || *id == m_group.at(1).id
        || (own && system && !UuidText::isNull(own->groupUUID) && UuidText::equal(own->groupUUID, system->groupUUID));
}

QString VolumeGroupClone::mountForReading(quint64 id, const QString& role)
{
    const QString folder = m_work + QStringLiteral("/src_") + role.toLower();
    if (::mkdir(NameCodec::encode(folder).constData(), 0700) != 0)
        return QString();
    if (!IAPFSUtil::mountQuietly(m_source->blockDevice(), id, folder, MS_RDONLY | MS_NOSUID | MS_NODEV)) {
        ::rmdir(NameCodec::encode(folder).constData());
        return QString();
    }
    m_workMounts.append(folder);
    return folder;
}

// ---- Clone by copy ------------------------------------------------------------------------------

bool VolumeGroupClone::byCopy()
{
    if (!makeWorkFolder() || !openSource(true))
        return false;
    const QString tool = fromProgram(m_data, "toolPath");
    const QString preparer = fromProgram(m_data, "APFSPreparePath");
    const QString destination = fromProgram(m_data, "DestVolume:mountPoint");
    if (tool.isEmpty() || preparer.isEmpty() || destination.isEmpty())
        return fail("The program names no tool, preparer or destination volume");
    if (isInSourceGroup(destination))
        return fail("The destination is a volume of the source group");

    // The preparer names the destination group in two JSON lines; its errors before them mean
    // no group, after them only a destination that may not start the computer.
    struct Prepared
    {
        std::mutex mutex;
        QString system, systemMount, data, dataMount;
        bool groupNamed() const { return !system.isEmpty() && !data.isEmpty(); }
    };
    auto prepared = std::make_shared<Prepared>();
    auto out = [prepared](const char* line) {
        const QByteArray text(line);
        if (!text.startsWith("v3ap_") || text.size() < 8 || text.at(6) != ':') {
            toolLine(line);
            return;
        }
        const char letter = text.at(5);
        const QByteArray rest = text.mid(8);
        std::lock_guard lock(prepared->mutex);
        if (letter == 'i' && rest.startsWith("::")) {
            cJSON* json = cJSON_Parse(rest.constData() + 2);
            for (const char* key : { "DestSystemVolume", "DestDataVolume" }) {
                cJSON* volume = cJSON_GetObjectItemCaseSensitive(json, key);
                const char* name = cJSON_GetStringValue(cJSON_GetObjectItemCaseSensitive(volume, "name"));
                const char* mp = cJSON_GetStringValue(cJSON_GetObjectItemCaseSensitive(volume, "mountPoint"));
                if (!name || !*name)
                    continue;
                const bool system = std::strcmp(key, "DestSystemVolume") == 0;
                (system ? prepared->system : prepared->data) = NameCodec::decode(std::string(name));
                (system ? prepared->systemMount : prepared->dataMount)
                    = mp ? NameCodec::decode(std::string(mp)) : QString();
            }
            cJSON_Delete(json);
        } else if (letter == 'p') {
            EngineOutput::line("wp::", rest.toStdString());
        } else if (letter == 'e') {
            EngineOutput::line(prepared->groupNamed() ? "wg::" : "er::", rest.toStdString());
        } else if (letter == 'd') {
            EngineOutput::line("db::", rest.toStdString());
        } else {
            toolLine(rest.constData());
        }
    };
    const GroupVolume& system = m_group.at(0);
    const GroupVolume& data = m_group.at(1);
    const QvProcEngine::ChildEnd end = QvProcEngine::runCommand(
        { preparer, system.mountPoint, destination, QStringLiteral("SourceDoubleVolume") }, out, toolLine);
    if (!end.started || end.stopped)
        return false;
    if (!prepared->groupNamed())
        return fail("The volume preparer did not prepare the destination volume group");
    if (end.signal != 0 || end.exitCode != 0)
        EngineOutput::line("wg::",
            "The clone may not start the computer: the volume preparer ended with "
                + (end.signal ? "signal " + std::to_string(end.signal) : "code " + std::to_string(end.exitCode)));
    // A volume of a group found as it was may be unmounted: it is mounted for the copy.
    for (auto [device, mount, role] : { std::tuple { prepared->system, &prepared->systemMount, "system" },
             std::tuple { prepared->data, &prepared->dataMount, "data" } }) {
        if (!mount->isEmpty())
            continue;
        const DeviceNames::Parsed parsed = DeviceNames::parse(device);
        const QString folder = m_work + QStringLiteral("/dst_") + QLatin1String(role);
        if (parsed.isSubvolume && ::mkdir(NameCodec::encode(folder).constData(), 0700) == 0) {
            if (IAPFSUtil::mountQuietly(parsed.container, parsed.subvolumeId, folder, MS_NOSUID | MS_NODEV)) {
                m_workMounts.append(folder);
                *mount = folder;
            } else {
                ::rmdir(NameCodec::encode(folder).constData());
            }
        }
    }
    if (prepared->systemMount.isEmpty() || prepared->dataMount.isEmpty()
        || !isDirectory(prepared->systemMount) || !isDirectory(prepared->dataMount))
        return fail("The destination volumes of the group are not mounted");
    deviceLine(prepared->system);
    progress(10);

    if (!copyVolume(tool, system.mountPoint, prepared->systemMount, kSystem))
        return false;
    progress(55);
    if (!copyVolume(tool, data.mountPoint, prepared->dataMount, kData))
        return false;
    progress(100);
    return true;
}

bool VolumeGroupClone::copyVolume(const QString& tool, const QString& from, const QString& to, const QString& what)
{
    if (EngineOutput::stopRequested())
        return false;
    EngineOutput::line("wp::", "Copying the " + bytes(what) + " volume...");
    QStringList args { tool };
    args << QvProcEngine::splitParams(paramString(m_data, "Params", ""));
    // Each volume is copied within its own file system: nested volumes are not its content.
    if (!args.contains(QStringLiteral("-x")) && !args.contains(QStringLiteral("--one-file-system")))
        args << QStringLiteral("-x");
    args << QvProcEngine::excludeArguments(m_data);
    args << (from.endsWith(QLatin1Char('/')) ? from : from + QLatin1Char('/')) << to;
    // The item list of a whole volume is not the log's: only the messages count.
    const QvProcEngine::ChildEnd end
        = QvProcEngine::runCommand(args, [](const char*) { }, QvProcEngine::rsyncErrorLine);
    return QvProcEngine::rsyncEnded(end, "some files of the " + bytes(what) + " volume were not copied",
        "Copying the " + bytes(what) + " volume failed: ");
}

// ---- Clone by send and receive ------------------------------------------------------------------

bool VolumeGroupClone::byImage()
{
    if (!makeWorkFolder() || !openSource(false))
        return false;
    const QString destination = fromProgram(m_data, "DestVolume:mountPoint");
    if (destination.isEmpty())
        return fail("The program names no destination volume");
    const auto mount = MountInfo::mountEntryForPath(destination);
    const auto destinationId
        = BtrfsVolumeModel::isBtrfs(destination) ? BtrfsVolumeModel::subvolumeId(destination) : std::nullopt;
    if (!mount || !destinationId)
        return fail("The destination " + bytes(destination) + " is not a volume of a btrfs file system");
    m_destination = std::make_unique<APFSContainer>();
    QString error;
    if (!m_destination->open(*mount, m_work + QStringLiteral("/dst_top"), &error))
        return fail("The destination file system cannot be reached: " + bytes(error));
    const auto target = m_destination->volume(*destinationId);
    if (!target)
        return fail("The destination " + bytes(destination) + " is not a registered volume of its file system");
    if (isInSourceGroup(destination))
        return fail("The destination is a volume of the source group");

    // What each source volume replaces: the member of that role in the destination's group; a
    // destination without a group takes the System volume, the Data volume is made new.
    QList<quint64> targets;
    for (const GroupVolume& v : std::as_const(m_group)) {
        quint64 id = 0;
        if (!UuidText::isNull(target->groupUUID)) {
            for (const APFSContainer::Volume& d : m_destination->volumes())
                if (UuidText::equal(d.groupUUID, target->groupUUID) && d.role.compare(v.role, Qt::CaseInsensitive) == 0)
                    id = d.id;
        }
        if (!id && v.role == kSystem)
            id = target->id;
        targets.append(id);
    }

    // Read-only snapshots: what is sent is one consistent state of each volume.
    EngineOutput::line("wp::", "Taking snapshots of the source volumes...");
    QStringList snapshots;
    for (const GroupVolume& v : std::as_const(m_group)) {
        const QString root = m_source->volumePath(v.id);
        const QString name = workSnapshotName(v.role);
        const BtrfsStatus made = BtrfsVolumeModel::createSnapshot(root, name);
        if (!made.ok())
            return fail("A snapshot of the source " + bytes(v.role) + " volume cannot be taken: " + bytes(made.message));
        m_snapshotVolumes.append(root);
        snapshots.append(BtrfsVolumeModel::snapshotPath(root, name));
    }
    if (EngineOutput::stopRequested())
        return false;

    // Nothing of the destination is touched unless the copies fit beside the old volumes.
    quint64 needed = 0;
    for (const QString& s : std::as_const(snapshots))
        needed += IFolderUtil::getSizeOnDisk(s);
    struct statvfs fs = {};
    if (::statvfs(NameCodec::encode(m_destination->topLevelPath()).constData(), &fs) != 0)
        return fail(std::string("The destination's free space cannot be read: ") + std::strerror(errno));
    const quint64 available = quint64(fs.f_bavail) * quint64(fs.f_frsize);
    if (available < needed)
        return fail("Destination has insufficient space");
    progress(5);

    QByteArray receive = NameCodec::encode(m_destination->topLevelPath()) + "/.qvclone.XXXXXX";
    if (!::mkdtemp(receive.data()))
        return fail(std::string("Cannot make a work folder on the destination: ") + std::strerror(errno));
    m_receiveFolder = NameCodec::decode(receive);
    for (qsizetype i = 0; i < m_group.size(); ++i) {
        const GroupVolume& v = m_group.at(i);
        EngineOutput::line("wp::", "Sending the " + bytes(v.role) + " volume...");
        const QString name = snapshots.at(i).section(QLatin1Char('/'), -1);
        const std::vector<QvProcEngine::ChildEnd> ends = QvProcEngine::runPipeline(
            { { QStringLiteral("btrfs"), QStringLiteral("send"), snapshots.at(i) },
                { QStringLiteral("btrfs"), QStringLiteral("receive"), m_receiveFolder } },
            toolLine, { toolLine, toolLine });
        const QString received = m_receiveFolder + QLatin1Char('/') + name;
        if (isDirectory(received))
            m_received.append(received);
        if (ends.size() != 2 || !ends[0].started || !ends[1].started || ends[0].stopped || ends[1].stopped)
            return false;
        auto status = [](const QvProcEngine::ChildEnd& e) {
            return e.signal ? "signal " + std::to_string(e.signal) : "code " + std::to_string(e.exitCode);
        };
        const bool sent = ends[0].signal == 0 && ends[0].exitCode == 0;
        const bool got = ends[1].signal == 0 && ends[1].exitCode == 0;
        if (!sent || !got || !BtrfsVolumeModel::isSubvolume(received))
            return fail("Receiving the " + bytes(v.role) + " volume failed (btrfs send ended with " + status(ends[0])
                + ", btrfs receive with " + status(ends[1]) + ")");
        progress(int(5 + 85 * (i + 1) / m_group.size()));
    }
    if (EngineOutput::stopRequested())
        return false;

    // Every copy arrived: now the destination volumes are replaced. Once an old volume is gone
    // a stop no longer silences the engine: the replacement finishes and its outcome (the new
    // System volume's device, or why a volume is missing) still reaches the application.
    EngineOutput::line("wp::", "Replacing the destination volumes...");
    struct OutcomeStep
    {
        OutcomeStep() { EngineOutput::beginOutcome(); }
        ~OutcomeStep() { EngineOutput::endOutcome(); }
    } outcome;
    const QString group = !UuidText::isNull(target->groupUUID)
        ? target->groupUUID
        : UuidText::normalized(QUuid::createUuid().toString(QUuid::WithoutBraces));
    QString systemMount;
    for (qsizetype i = 0; i < m_group.size(); ++i) {
        const GroupVolume& v = m_group.at(i);
        const quint64 old = targets.at(i);
        quint64 made = 0;
        QStringList mountPoints;
        if (old) {
            mountPoints = m_destination->mountPointsOf(old);
            const auto replaced = m_destination->replaceVolume(old, m_received.at(i), &error);
            if (!replaced) {
                // The old volume is still there: it goes back where it was mounted.
                for (const QString& mp : std::as_const(mountPoints))
                    IAPFSUtil::mountQuietly(m_destination->blockDevice(), old, mp);
                return fail("The destination " + bytes(v.role) + " volume cannot be replaced: " + bytes(error));
            }
            made = *replaced;
        } else {
            const QString name = APFSPreparer::groupNames(m_destination->volumeName(targets.at(0))).second;
            const auto added = m_destination->addVolumeFromSnapshot(m_received.at(i), name, v.role, group, &error);
            if (!added)
                return fail("The destination " + bytes(v.role) + " volume cannot be made: " + bytes(error));
            made = added->id;
            const QString folder = systemMount.isEmpty() ? QString() : APFSPreparer::freeFolderBeside(systemMount, name);
            if (!folder.isEmpty())
                mountPoints.append(folder);
        }
        if (!m_destination->setGroupMember(made, group, v.role, &error))
            return fail("The volume registry of the destination cannot be written: " + bytes(error));
        for (const QString& mp : std::as_const(mountPoints)) {
            if (!IAPFSUtil::mountQuietly(m_destination->blockDevice(), made, mp))
                EngineOutput::line("er::",
                    "The new " + bytes(v.role) + " volume cannot be mounted at " + bytes(mp) + ": "
                        + bytes(IAPFSUtil::lastMountError()));
        }
        if (v.role == kSystem) {
            // The new System volume is the destination from now on, whatever comes next.
            systemMount = mountPoints.value(0);
            deviceLine(m_destination->deviceName(made));
        }
    }
    progress(100);
    return true;
}

void VolumeGroupClone::removeWorkSubvolumes()
{
    for (const QString& received : std::as_const(m_received)) {
        const BtrfsStatus deleted = BtrfsVolumeModel::deleteSubvolume(received);
        if (!deleted.ok())
            EngineOutput::line("wg::", "A work copy was not removed: " + bytes(received));
    }
    m_received.clear();
    if (!m_receiveFolder.isEmpty()) {
        // A receive that failed early may leave a partial subvolume of its own name.
        const QByteArray folder = NameCodec::encode(m_receiveFolder);
        if (::rmdir(folder.constData()) != 0) {
            for (const GroupVolume& v : std::as_const(m_group)) {
                const QString left = m_receiveFolder + QLatin1Char('/') + workSnapshotName(v.role);
                if (BtrfsVolumeModel::isSubvolume(left))
                    BtrfsVolumeModel::deleteSubvolume(left);
            }
            if (::rmdir(folder.constData()) != 0)
                EngineOutput::line("wg::", "The work folder was not removed: " + bytes(m_receiveFolder));
        }
        m_receiveFolder.clear();
    }
}

void VolumeGroupClone::removeSnapshots()
{
    for (qsizetype i = 0; i < m_snapshotVolumes.size(); ++i) {
        const BtrfsStatus deleted = BtrfsVolumeModel::deleteSnapshot(m_snapshotVolumes.at(i),
            workSnapshotName(m_group.value(i).role));
        if (!deleted.ok())
            EngineOutput::line("wg::", "A work snapshot of the source was not removed: " + bytes(m_snapshotVolumes.at(i)));
    }
    m_snapshotVolumes.clear();
}
