#pragma once

#include "utilities/VolumeBaseItem.h"

#include <QList>
#include <QString>
#include <memory>

using VolumeItemPtr = std::shared_ptr<VolumeBaseItem>;

// The facts of one mounted volume as the share mounter reports them.
struct LocationVolumeInfo
{
    QString displayName;
    QString mountPoint; // a path
    bool writable = false;
    bool removable = false;
    bool unmountable = false;
    qint64 totalMB = 0;
    qint64 freeMB = 0;
    QString URL; // the volume's URL; for a network share its server URL
    bool directAccess = false;
    bool local = false;
};

// What a location asks of the machine: the volume table, disk information, the share mounter
// and disk images. The system's own services answer by default; tests install a fake with
// setShared(), so that binding, refreshing and access levels run without real volumes.
class ILocationServices
{
public:
    virtual ~ILocationServices() = default;

    static ILocationServices& shared();
    // nullptr restores the system's services; the caller keeps ownership
    static void setShared(ILocationServices* services);

    // The records of the volume table, in slot order.
    virtual QList<VolumeItemPtr> volumeItems() = 0;
    virtual bool isVolumeBaseFilled() = 0;
    // Links a System/Data pair again (the table's pair linking).
    virtual void correctGroupDataItem(const VolumeItemPtr& item) = 0;

    // Disk information: the device of the volume with that UUID (null when none; *isMounted
    // says whether it is mounted), the UUID of the volume mounted at a path, system versions.
    virtual QString volumeBSDNameByUUID(const QString& uuid, bool* isMounted) = 0;
    virtual QString volumeUUIDForMountPoint(const QString& mountPoint) = 0;
    virtual VolumeSysVersion fullSystemVersionForMountPoint(const QString& mountPoint) = 0;
    virtual qint64 runningSystemVersion() = 0;

    // Network shares: whether the share of info.URL is mounted (info then holds its facts),
    // mounting it (info filled on success) and unmounting the volume at a mount point.
    virtual bool isVolumeMounted(LocationVolumeInfo& info) = 0;
    virtual bool mountVolume(LocationVolumeInfo& info, QString* error) = 0;
    virtual bool unmountVolume(const QString& mountPoint) = 0;

    // Disk images of disk-image destinations: attaching gives the mounted content path.
    virtual bool attachDiskImage(const QString& imagePath, QString* contentPath, QString* comment) = 0;
    virtual bool detachDiskImage(const QString& imagePath) = 0;
};
