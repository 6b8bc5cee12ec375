#include "FakeLocationServices.h"

#include "utilities/VolumeBaseItem.h"

#include <memory>

VolumeItemPtr FakeLocationServices::add(const QString& name, const QString& mountPoint, const QString& uuid,
    const QString& fsType, int connection, qint64 flags)
{
    auto item = std::make_shared<VolumeBaseItem>();
    item->name = name;
    item->source = QStringLiteral("fake%1").arg(items.size());
    item->mountPoint = VolumeBaseItem::mountPointURLText(mountPoint);
    item->volumeUUID = uuid;
    item->connection = connection;
    item->fsTypeName = fsType;
    item->fileSystem = VolumeBaseItem::FSTypeFromName(fsType);
    item->flags = flags;
    item->totalMB = 1000;
    item->freeMB = 400;
    item->usedMB = 600;
    items.append(item);
    return item;
}

QString FakeLocationServices::volumeBSDNameByUUID(const QString&, bool* isMounted)
{
    if (isMounted)
        *isMounted = false;
    return deviceForUUID;
}

bool FakeLocationServices::isVolumeMounted(LocationVolumeInfo& info)
{
    if (shareMounted)
        info = mountInfo;
    return shareMounted;
}

bool FakeLocationServices::mountVolume(LocationVolumeInfo& info, QString*)
{
    if (mountSucceeds)
        info = mountInfo;
    return mountSucceeds;
}

bool FakeLocationServices::unmountVolume(const QString& mountPoint)
{
    unmounted.append(mountPoint);
    return true;
}
