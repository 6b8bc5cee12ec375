#include "utilities/VolumeSizes.h"

#include "utilities/CVolumeMounter.h"

void volumeSizesFromSpace(const DiskFacts::Space& space, qint64* totalMB, qint64* usedMB, qint64* availableMB)
{
    if (!space.ok)
        return;
    if (totalMB)
        *totalMB = qint64(space.totalBytes() / 1000000);
    if (usedMB)
        *usedMB = qint64(space.usedBytes() / 1000000);
    if (availableMB)
        *availableMB = qint64(space.availableBytes() / 1000000);
}

void duUpdateVolumeSizeInfo(const QString& path, qint64* totalMB, qint64* usedMB, qint64* availableMB)
{
    volumeSizesFromSpace(DiskFacts::space(path), totalMB, usedMB, availableMB);
}

bool getUsedSize(const QString& device, qint64* usedMB, qint64* groupUsedMB)
{
    Q_UNUSED(groupUsedMB);
    if (device.isEmpty())
        return false;
    const QString mountPoint = getMountPointForDevice(device);
    if (mountPoint.isEmpty()) {
        if (usedMB)
            *usedMB = -1;
        return false;
    }
    duUpdateVolumeSizeInfo(mountPoint, nullptr, usedMB, nullptr);
    return false;
}
