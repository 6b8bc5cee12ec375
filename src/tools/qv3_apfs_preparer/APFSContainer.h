#pragma once

#include "platform/BtrfsVolumeRegistry.h"
#include "platform/MountInfo.h"

#include <QList>
#include <QString>
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

private:
    bool reloadRegistry();
    bool saveRegistry(QString* error);
    QString subvolumePath(quint64 id) const; // absolute, under the top-level mount

    MountEntry m_anyMount;
    QString m_blockDevice;
    QString m_topPath;
    QString m_ownTopMount; // set when this object mounted the top level
    BtrfsVolumeRegistry m_registry;
    BtrfsVolumeRegistry::Status m_registryStatus = BtrfsVolumeRegistry::Status::Missing;
};
