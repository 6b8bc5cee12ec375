#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <cjson/cJSON.h>
#include <memory>
#include <optional>
#include <string>

class APFSContainer;

// The engine's volume-group clones. A group is a System and a Data volume of one btrfs file
// system, registered with one group UUID in the file system's volume registry.
//
//  - byCopy ("clone_RSYNC"): the source group is found from "SourceVolume" (its Data volume, the
//    System partner from the registry). The volume preparer makes or finds the destination's
//    group and names its two volumes; then the source System volume is copied onto the new
//    System volume and the Data volume onto the new Data volume, each by rsync within its own
//    file system (-x), with the program's options and both exclude files.
//  - byImage ("clone_ASR"): a read-only snapshot of each source volume is sent with btrfs send
//    and received into a work folder of the destination file system. Only when every receive
//    succeeded are the destination volumes replaced (a writable snapshot of the received copy
//    takes each old volume's place, registry entry and mount points); a destination without a
//    group becomes the System volume of a new group, with a new Data volume beside it. Before
//    anything is touched the destination's free space must hold the snapshots.
//
// Both print id::{"device": …} with the destination's new System volume. Work mounts, work
// subvolumes, the source snapshots and the private work folder are removed on every path.
class VolumeGroupClone
{
public:
    explicit VolumeGroupClone(cJSON* interfaceData);
    ~VolumeGroupClone();
    VolumeGroupClone(const VolumeGroupClone&) = delete;
    VolumeGroupClone& operator=(const VolumeGroupClone&) = delete;

    bool byCopy();
    bool byImage();

    // The snapshot name a clone takes of each source volume (one per engine process).
    static QString workSnapshotName(const QString& role);

private:
    struct GroupVolume
    {
        quint64 id = 0;
        QString role;
        QString name;
        QString mountPoint; // where it is mounted (a work mount when it was not)
    };

    bool makeWorkFolder();
    bool openSource(bool needMountPoints);
    QString mountForReading(quint64 id, const QString& role);
    // The volume at path is one of the source group's (or in that group).
    bool isInSourceGroup(const QString& path) const;
    bool copyVolume(const QString& tool, const QString& from, const QString& to, const QString& what);
    void removeSnapshots();
    void removeWorkSubvolumes();
    bool fail(const std::string& text);

    cJSON* m_data = nullptr;
    QString m_work; // the private work folder, 0700
    std::unique_ptr<APFSContainer> m_source;
    std::unique_ptr<APFSContainer> m_destination;
    QList<GroupVolume> m_group; // System first, then Data
    QStringList m_workMounts; // unmounted at the end, last first
    QStringList m_snapshotVolumes; // volume roots holding a work snapshot
    QString m_receiveFolder; // on the destination file system
    QStringList m_received; // received work subvolumes
};
