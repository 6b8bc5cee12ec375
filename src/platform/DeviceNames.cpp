#include "DeviceNames.h"

#include "NameCodec.h"

#include <sys/stat.h>

namespace DeviceNames {

namespace {

bool isBlockDevice(const QString& sysClassBlock, const QString& name)
{
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name == QLatin1String(".")
        || name == QLatin1String(".."))
        return false;
    struct stat st
    {
    };
    return ::stat(NameCodec::encodeStd(sysClassBlock + QLatin1Char('/') + name).c_str(), &st) == 0;
}

} // namespace

Parsed parse(const QString& name, const QString& sysClassBlock)
{
    Parsed p;
    p.device = name.startsWith(QLatin1String("/dev/")) ? name.mid(5) : name;

    // The suffix: an "s" followed by a subvolume id without leading zeros.
    const qsizetype s = p.device.lastIndexOf(QLatin1Char('s'));
    if (s <= 0 || s + 1 >= p.device.size())
        return p;
    const QString digits = p.device.mid(s + 1);
    for (const QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return p;
    }
    if (digits.startsWith(QLatin1Char('0')) || digits.size() > 19)
        return p;
    const QString prefix = p.device.left(s);
    if (!isBlockDevice(sysClassBlock, prefix) || isBlockDevice(sysClassBlock, p.device))
        return p;
    p.container = prefix;
    p.subvolumeId = digits.toULongLong();
    p.isSubvolume = p.subvolumeId > 0;
    if (!p.isSubvolume)
        p.container.clear();
    return p;
}

QString subvolumeDeviceName(const QString& device, quint64 subvolumeId)
{
    const QString base = device.startsWith(QLatin1String("/dev/")) ? device.mid(5) : device;
    return base + QLatin1Char('s') + QString::number(subvolumeId);
}

} // namespace DeviceNames
