#pragma once

#include "projects/ILocationServices.h"

#include <QList>
#include <QString>
#include <QStringList>

// A volume table, disk information and share mounter made of plain records, for tests of code
// that binds places to volumes. Install it for a scope with FakeLocationServicesScope.
class FakeLocationServices : public ILocationServices
{
public:
    QList<VolumeItemPtr> items;
    QString deviceForUUID; // answer of volumeBSDNameByUUID
    QString uuidForMountPoint; // answer of volumeUUIDForMountPoint
    qint64 running = 101507;
    bool shareMounted = false; // answer of isVolumeMounted
    bool mountSucceeds = false;
    LocationVolumeInfo mountInfo;
    QStringList unmounted; // mount points passed to unmountVolume

    // Adds a mounted volume; fsType is the kernel's name ("ext4", "btrfs", "vfat" ...).
    VolumeItemPtr add(const QString& name, const QString& mountPoint, const QString& uuid,
        const QString& fsType = QStringLiteral("ext4"), int connection = VolumeBaseItem::ConnectionInternal,
        qint64 flags = 0);

    QList<VolumeItemPtr> volumeItems() override { return items; }
    bool isVolumeBaseFilled() override { return true; }
    void correctGroupDataItem(const VolumeItemPtr&) override { }
    QString volumeBSDNameByUUID(const QString& uuid, bool* isMounted) override;
    QString volumeUUIDForMountPoint(const QString&) override { return uuidForMountPoint; }
    VolumeSysVersion fullSystemVersionForMountPoint(const QString&) override { return VolumeSysVersion(); }
    qint64 runningSystemVersion() override { return running; }
    bool isVolumeMounted(LocationVolumeInfo& info) override;
    bool mountVolume(LocationVolumeInfo& info, QString* error) override;
    bool unmountVolume(const QString& mountPoint) override;
    bool attachDiskImage(const QString&, QString*, QString*) override { return false; }
    bool detachDiskImage(const QString&) override { return false; }
};

struct FakeLocationServicesScope
{
    explicit FakeLocationServicesScope(ILocationServices* s) { ILocationServices::setShared(s); }
    ~FakeLocationServicesScope() { ILocationServices::setShared(nullptr); }
    FakeLocationServicesScope(const FakeLocationServicesScope&) = delete;
    FakeLocationServicesScope& operator=(const FakeLocationServicesScope&) = delete;
};
