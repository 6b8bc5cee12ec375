#include "APFSContainer.h"

#include "IAPFSUtil.h"
#include "platform/BtrfsVolumeModel.h"
#include "platform/DiskFacts.h"
#include "platform/NameCodec.h"
#include "platform/NameSanitizer.h"
#include "platform/UuidText.h"

#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

APFSContainer::~APFSContainer()
{
    close();
}

bool APFSContainer::open(const MountEntry& volumeMount, const QString& workFolder, QString* error)
{
    m_anyMount = volumeMount;
    m_blockDevice = DiskFacts::blockDeviceOf(volumeMount);
    const QList<MountEntry> mounts = MountInfo::read();
    if (const auto top = BtrfsVolumeModel::topLevelMount(volumeMount, mounts)) {
        m_topPath = top->mountPoint;
    } else {
        if (::mkdir(NameCodec::encode(workFolder).constData(), 0700) != 0 && errno != EEXIST) {
            *error = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        // Private to this run: nothing in it may run or count as a device.
        if (!IAPFSUtil::mountQuietly(
                m_blockDevice, BtrfsVolumeModel::topLevelId, workFolder, MS_NOSUID | MS_NODEV | MS_NOEXEC)) {
            *error = QString::fromLocal8Bit(std::strerror(errno));
            ::rmdir(NameCodec::encode(workFolder).constData());
            return false;
        }
        m_topPath = m_ownTopMount = workFolder;
    }
    reloadRegistry();
    return true;
}

void APFSContainer::close()
{
    if (m_ownTopMount.isEmpty())
        return;
    const QByteArray folder = NameCodec::encode(m_ownTopMount);
    // Removed only once unmounted: an empty folder, never a recursive removal.
    if (::umount2(folder.constData(), 0) == 0 || ::umount2(folder.constData(), MNT_DETACH) == 0)
        ::rmdir(folder.constData());
    m_ownTopMount.clear();
}

bool APFSContainer::reloadRegistry()
{
    m_registry = BtrfsVolumeRegistry();
    m_registryStatus = m_registry.load(m_topPath);
    return m_registryStatus == BtrfsVolumeRegistry::Status::Ok;
}

bool APFSContainer::saveRegistry(QString* error)
{
    return m_registry.save(m_topPath, error);
}

bool APFSContainer::sameFileSystem(const APFSContainer& other) const
{
    return m_anyMount.major == other.m_anyMount.major && m_anyMount.minor == other.m_anyMount.minor;
}

QString APFSContainer::deviceName(quint64 id) const
{
    return m_blockDevice + QLatin1Char('s') + QString::number(id);
}

QString APFSContainer::subvolumePath(quint64 id) const
{
    if (id == BtrfsVolumeModel::topLevelId)
        return m_topPath;
    const auto info = BtrfsVolumeModel::subvolumeInfo(m_topPath, id);
    if (!info || info->path.isEmpty())
        return QString();
    return m_topPath + QLatin1Char('/') + info->path;
}

QList<APFSContainer::Volume> APFSContainer::volumes() const
{
    QList<Volume> list;
    for (auto it = m_registry.entries().cbegin(); it != m_registry.entries().cend(); ++it)
        list.append({ it.key(), deviceName(it.key()), it->name, it->role, it->groupUUID });
    return list; // QMap keeps the ids in order
}

std::optional<APFSContainer::Volume> APFSContainer::volume(quint64 id) const
{
    if (!m_registry.contains(id))
        return std::nullopt;
    const BtrfsVolumeRegistry::Entry e = m_registry.entry(id);
    return Volume { id, deviceName(id), e.name, e.role, e.groupUUID };
}

std::optional<APFSContainer::Volume> APFSContainer::firstWithRole(const QString& role) const
{
    for (const Volume& v : volumes()) {
        if (v.role.compare(role, Qt::CaseInsensitive) == 0)
            return v;
    }
    return std::nullopt;
}

QString APFSContainer::volumeName(quint64 id) const
{
    if (m_registry.contains(id) && !m_registry.entry(id).name.isEmpty())
        return m_registry.entry(id).name;
    const auto info = BtrfsVolumeModel::subvolumeInfo(m_topPath, id);
    if (info && !info->path.isEmpty())
        return info->path.section(QLatin1Char('/'), -1);
    return m_blockDevice;
}

QString APFSContainer::volumeUuid(quint64 id) const
{
    if (id == BtrfsVolumeModel::topLevelId)
        return BtrfsVolumeModel::fileSystemUuid(m_topPath);
    const auto info = BtrfsVolumeModel::subvolumeInfo(m_topPath, id);
    return info ? UuidText::normalized(info->uuid) : QString();
}

QStringList APFSContainer::mountPointsOf(quint64 id) const
{
    QStringList points;
    for (const MountEntry& m : BtrfsVolumeModel::mountsOfFileSystem(m_anyMount, MountInfo::read())) {
        if (BtrfsVolumeModel::subvolumeIdOfMount(m) == id && m.mountPoint != m_ownTopMount)
            points.append(m.mountPoint);
    }
    return points;
}

QString APFSContainer::mountPointOf(quint64 id) const
{
    for (const MountEntry& m : BtrfsVolumeModel::mountsOfFileSystem(m_anyMount, MountInfo::read())) {
        if (BtrfsVolumeModel::subvolumeIdOfMount(m) == id && m.mountPoint != m_ownTopMount)
            return m.mountPoint;
    }
    return QString();
}

QString APFSContainer::freeVolumePath(const QString& name) const
{
    bool refused = false;
    QString folder = NameSanitizer::sanitize(name, &refused);
    if (refused || folder.isEmpty())
        folder = QStringLiteral("Volume");
    QString path = m_topPath + QLatin1Char('/') + folder;
    for (int i = 2; QFileInfo::exists(path) || QFileInfo(path).isSymLink(); ++i)
        path = m_topPath + QLatin1Char('/') + folder + QLatin1Char(' ') + QString::number(i);
    return path;
}

std::optional<APFSContainer::Volume> APFSContainer::createVolume(
    const QString& name, const QString& role, const QString& groupUUID, QString* error)
{
    return makeVolume(QString(), name, role, groupUUID, error);
}

std::optional<APFSContainer::Volume> APFSContainer::makeVolume(const QString& snapshotOf,
    const QString& name, const QString& role, const QString& groupUUID, QString* error)
{
    if (m_registryStatus == BtrfsVolumeRegistry::Status::Corrupt
        || m_registryStatus == BtrfsVolumeRegistry::Status::Unreadable) {
        *error = QStringLiteral("the volume registry cannot be read");
        return std::nullopt;
    }
    const QString path = freeVolumePath(name);
    const BtrfsStatus made = snapshotOf.isEmpty() ? BtrfsVolumeModel::createSubvolume(path)
                                                  : BtrfsVolumeModel::createWritableSnapshot(snapshotOf, path);
    if (!made.ok()) {
        *error = made.message;
        return std::nullopt;
    }
    const auto info = BtrfsVolumeModel::subvolumeInfo(path);
    if (!info) {
        *error = QStringLiteral("the new volume cannot be examined");
        BtrfsVolumeModel::deleteSubvolume(path);
        return std::nullopt;
    }
    m_registry.setEntry(info->id, { name, role, groupUUID, info->uuid });
    if (!saveRegistry(error)) {
        // A volume without its entry would be nobody's: take it back.
        m_registry.removeEntry(info->id);
        BtrfsVolumeModel::deleteSubvolume(path);
        return std::nullopt;
    }
    m_registryStatus = BtrfsVolumeRegistry::Status::Ok;
    return Volume { info->id, deviceName(info->id), name, role, groupUUID };
}

bool APFSContainer::deleteVolume(quint64 id, QString* error)
{
    if (!m_registry.contains(id) || id == BtrfsVolumeModel::topLevelId) {
        *error = QStringLiteral("not a registered volume");
        return false;
    }
    const QString path = subvolumePath(id);
    if (path.isEmpty()) {
        *error = QStringLiteral("volume not found");
        return false;
    }
    // btrfs deletes a subvolume under a live mount: every mount goes first.
    if (!IAPFSUtil::unmountSubvolume(m_anyMount, id)) {
        *error = IAPFSUtil::lastMountError();
        return false;
    }
    const BtrfsStatus deleted = BtrfsVolumeModel::deleteSubvolume(path);
    if (!deleted.ok()) {
        *error = deleted.message;
        return false;
    }
    m_registry.removeEntry(id);
    return saveRegistry(error);
}

std::optional<APFSContainer::Volume> APFSContainer::addVolumeFromSnapshot(const QString& source,
    const QString& name, const QString& role, const QString& groupUUID, QString* error)
{
    return makeVolume(source, name, role, groupUUID, error);
}

std::optional<quint64> APFSContainer::replaceVolume(quint64 id, const QString& replacement, QString* error)
{
    if (!m_registry.contains(id) || id == BtrfsVolumeModel::topLevelId) {
        *error = QStringLiteral("not a registered volume");
        return std::nullopt;
    }
    const QString path = subvolumePath(id);
    if (path.isEmpty()) {
        *error = QStringLiteral("volume not found");
        return std::nullopt;
    }
    // The new volume exists before anything of the old one goes.
    QString beside = path + QStringLiteral(".qvnew");
    for (int i = 2; QFileInfo::exists(beside) || QFileInfo(beside).isSymLink(); ++i)
        beside = path + QStringLiteral(".qvnew") + QString::number(i);
    const BtrfsStatus made = BtrfsVolumeModel::createWritableSnapshot(replacement, beside);
    if (!made.ok()) {
        *error = made.message;
        return std::nullopt;
    }
    auto dropNew = [&] { BtrfsVolumeModel::deleteSubvolume(beside); };
    const auto info = BtrfsVolumeModel::subvolumeInfo(beside);
    if (!info) {
        *error = QStringLiteral("the new volume cannot be examined");
        dropNew();
        return std::nullopt;
    }
    if (!IAPFSUtil::unmountSubvolume(m_anyMount, id)) {
        *error = IAPFSUtil::lastMountError();
        dropNew();
        return std::nullopt;
    }
    const BtrfsStatus deleted = BtrfsVolumeModel::deleteSubvolume(path);
    if (!deleted.ok()) {
        *error = deleted.message;
        dropNew();
        return std::nullopt;
    }
    if (::rename(NameCodec::encode(beside).constData(), NameCodec::encode(path).constData()) != 0) {
        // The new volume stays beside the old folder name: still a whole volume, registered below.
        *error = QString::fromLocal8Bit(std::strerror(errno));
    }
    BtrfsVolumeRegistry::Entry entry = m_registry.entry(id);
    entry.uuid = info->uuid;
    m_registry.removeEntry(id);
    m_registry.setEntry(info->id, entry);
    QString saveError;
    if (!saveRegistry(&saveError)) {
        *error = saveError;
        return std::nullopt;
    }
    return info->id;
}

bool APFSContainer::setGroupMember(quint64 id, const QString& groupUUID, const QString& role, QString* error)
{
    if (!m_registry.contains(id)) {
        *error = QStringLiteral("not a registered volume");
        return false;
    }
    BtrfsVolumeRegistry::Entry entry = m_registry.entry(id);
    entry.groupUUID = groupUUID;
    entry.role = role;
    m_registry.setEntry(id, entry);
    return saveRegistry(error);
}
