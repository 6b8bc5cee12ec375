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

QString APFSContainer::mountPointOf(quint64 id) const
{
    for (const MountEntry& m : BtrfsVolumeModel::mountsOfFileSystem(m_anyMount, MountInfo::read())) {
        if (BtrfsVolumeModel::subvolumeIdOfMount(m) == id && m.mountPoint != m_ownTopMount)
            return m.mountPoint;
    }
    return QString();
}

std::optional<APFSContainer::Volume> APFSContainer::createVolume(
    const QString& name, const QString& role, const QString& groupUUID, QString* error)
{
    if (m_registryStatus == BtrfsVolumeRegistry::Status::Corrupt
        || m_registryStatus == BtrfsVolumeRegistry::Status::Unreadable) {
        *error = QStringLiteral("the volume registry cannot be read");
        return std::nullopt;
    }
    bool refused = false;
    QString folder = NameSanitizer::sanitize(name, &refused);
    if (refused || folder.isEmpty())
        folder = QStringLiteral("Volume");
    QString path = m_topPath + QLatin1Char('/') + folder;
    for (int i = 2; QFileInfo::exists(path) || QFileInfo(path).isSymLink(); ++i)
        path = m_topPath + QLatin1Char('/') + folder + QLatin1Char(' ') + QString::number(i);
    const BtrfsStatus made = BtrfsVolumeModel::createSubvolume(path);
    if (!made.ok()) {
        *error = made.message;
        return std::nullopt;
    }
    const auto info = BtrfsVolumeModel::subvolumeInfo(path);
    if (!info) {
        *error = QStringLiteral("the new volume cannot be examined");
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
