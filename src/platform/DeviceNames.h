#pragma once

#include <QString>

// Device names are Linux's own ("sda1", "nvme0n1p2", "loop3"). A btrfs subvolume that stands
// for a volume gets the name "<device>s<subvolid>". Whether a name carries that suffix is
// decided against /sys/class/block, never from the text alone: "sds1" is partition 1 of the
// disk sds, "loop3s256" is subvolume 256 of loop3.
namespace DeviceNames {

struct Parsed
{
    QString device; // the name as given, without "/dev/"
    QString container; // for a subvolume: the block device holding it ("loop3"); else empty
    quint64 subvolumeId = 0;
    bool isSubvolume = false;
};

// "loop3s256" -> container "loop3", subvolume 256 when <sysClassBlock>/loop3 exists and
// "loop3s256" is not itself a block device; "sda1", "sds1", "nvme0n1p2" -> no container.
Parsed parse(const QString& name, const QString& sysClassBlock = QStringLiteral("/sys/class/block"));
QString subvolumeDeviceName(const QString& device, quint64 subvolumeId); // "loop3s256"

} // namespace DeviceNames
