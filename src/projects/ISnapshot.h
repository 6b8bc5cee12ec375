#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class ILocation;
class IProject;

// Names of the volume snapshots a clone run asks the copy engine and the snapshot tool to make
// (read-only btrfs snapshots in "<volume root>/.qvsnapshots/<name>"), and whether a named
// snapshot exists on both volumes of a project. The application itself makes and deletes none:
// its delete operations are entry points that leave every snapshot in place.
class ISnapshot
{
public:
    static QString prefix(); // "com.brisoltica.qv"
    // "com.brisoltica.qv::<kind>::yyyy-MM-dd_HH-mm-ss" in local time from the current clock;
    // the kind is "ASRIncrementalClone" for type 1 and "Unknown" for every other type.
    static QString generateSnapshotName(int type);

    // Every snapshot of the volume mounted at mountPoint (read-only subvolumes in its
    // .qvsnapshots folder), sorted; nullopt when there are none, when the volume is no btrfs
    // volume, or on an error (which is logged).
    static std::optional<QStringList> getSnapshotListForMountPoint(const QString& mountPoint);

    // True when both places hold the snapshot: the project's first and second location (a
    // synchronization's source and destination of its first pass).
    static bool isActualSnapshotByName(const QString& name, IProject* project);
    static bool isActualSnapshotByName(const QString& name, const ILocation* first, const ILocation* second);
    static bool deleteSnapshotByName(const QString& name, IProject* project);
    static bool deleteSnapshot(const QString& name, const QString& mountPoint);
    static void deleteAllOldSnapshotsForMountPoint(const QString& mountPoint);
    static void deleteAllOldSnapshots();
};
