#pragma once

#include "platform/BtrfsVolumeRegistry.h"
#include "platform/MountInfo.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// One container of the volume preparer: a btrfs file system, with its subvolumes as volumes and
// their names, roles and groups in the registry at its top level. The top level is used where it
// is mounted already, otherwise it is mounted in the preparer's private work folder and unmounted
// again by close().
class APFSContainer
{
public:
    struct Volume
    {
        quint64 id = 0;
        QString device; // "<device>s<id>"
        QString name;
        QString role; // registry role text, empty for none
        QString groupUUID;
    };

    APFSContainer() = default;
    ~APFSContainer();
    APFSContainer(const APFSContainer&) = delete;
    APFSContainer& operator=(const APFSContainer&) = delete;

    // Opens the container of a mounted volume; false and *error when its top level cannot be
    // reached. `workFolder` receives a top-level mount when none exists.
    bool open(const MountEntry& volumeMount, const QString& workFolder, QString* error);
    void close();

    QString blockDevice() const { return m_blockDevice; } // "loop3"
    QString topLevelPath() const { return m_topPath; }
    BtrfsVolumeRegistry::Status registryStatus() const { return m_registryStatus; }
    bool sameFileSystem(const APFSContainer& other) const;
    const MountEntry& anyMount() const { return m_anyMount; }

    QString deviceName(quint64 id) const;
    // The registered volumes in id order (volumes without a registry entry are not the
    // container's to touch).
    QList<Volume> volumes() const;
    std::optional<Volume> volume(quint64 id) const;
    std::optional<Volume> firstWithRole(const QString& role) const;
    // The registry name, else the subvolume's own name.
    QString volumeName(quint64 id) const;
    QString volumeUuid(quint64 id) const;
    // The first mount point of the subvolume, empty when it is not mounted.
    QString mountPointOf(quint64 id) const;

    // A new subvolume with its registry entry; the folder name below the top level comes from
    // the name through the one name sanitiser, the registry keeps the name as given.
    std::optional<Volume> createVolume(
        const QString& name, const QString& role, const QString& groupUUID, QString* error);
    // Unmounts the volume everywhere, deletes its subvolume and its registry entry. Refuses a
    // volume that is not registered and one that stays mounted.
    bool deleteVolume(quint64 id, QString* error);

    // The folder of a volume under the top-level mount; empty when it is not found.
    QString volumePath(quint64 id) const { return subvolumePath(id); }
    // A new registered volume made as a writable snapshot of the subvolume at `source` (a
    // received copy), named as createVolume names it.
    std::optional<Volume> addVolumeFromSnapshot(const QString& source, const QString& name,
        const QString& role, const QString& groupUUID, QString* error);
    // Puts a writable snapshot of the subvolume at `replacement` in the place of the registered
    // volume id. The new volume is made beside the old one first; only then is the old one
    // unmounted everywhere and deleted, and the new one takes its folder and its registry entry.
    // Returns the new id; on failure the old volume keeps its place (unmounted when the failure
    // came after the unmount) and *error says why.
    std::optional<quint64> replaceVolume(quint64 id, const QString& replacement, QString* error);
    // Writes a group and a role into a volume's registry entry.
    bool setGroupMember(quint64 id, const QString& groupUUID, const QString& role, QString* error);
    // Every mount point of the volume, except this object's own top-level mount.
    QStringList mountPointsOf(quint64 id) const;

private:
    bool reloadRegistry();
    bool saveRegistry(QString* error);
    QString subvolumePath(quint64 id) const; // absolute, under the top-level mount
    QString freeVolumePath(const QString& name) const; // a new folder under the top level
    // A new registered volume: an empty subvolume, or a writable snapshot of snapshotOf.
    std::optional<Volume> makeVolume(const QString& snapshotOf, const QString& name, const QString& role,
        const QString& groupUUID, QString* error);

    MountEntry m_anyMount;
    QString m_blockDevice;
    QString m_topPath;
    QString m_ownTopMount; // set when this object mounted the top level
    BtrfsVolumeRegistry m_registry;
    BtrfsVolumeRegistry::Status m_registryStatus = BtrfsVolumeRegistry::Status::Missing;
};
