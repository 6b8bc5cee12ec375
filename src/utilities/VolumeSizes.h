#pragma once

#include "platform/DiskFacts.h"

#include <QString>

// Size figures of a volume, from statvfs (no tool, no shell). MB are 1,000,000 bytes, truncated.
// total = f_blocks, used = f_blocks - f_bfree, available = f_bavail, each × f_frsize.
void duUpdateVolumeSizeInfo(const QString& path, qint64* totalMB, qint64* usedMB, qint64* availableMB);
void volumeSizesFromSpace(
    const DiskFacts::Space& space, qint64* totalMB, qint64* usedMB, qint64* availableMB);
inline void duUpdateVolumeBase() { }
// btrfs keeps no consumed space per subvolume without quotas, so the figure is always the
// file system's used space at the device's mount point, and the answer NO (no group figure);
// -1 when the device is not mounted.
bool getUsedSize(const QString& device, qint64* usedMB, qint64* groupUsedMB);
