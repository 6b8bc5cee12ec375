#include "FsKinds.h"

namespace FsKinds {

Family family(const QString& fsType)
{
    const QString t = fsType.trimmed().toLower();
    if (t == QLatin1String("btrfs"))
        return Family::Apfs;
    if (t == QLatin1String("ext2") || t == QLatin1String("ext3") || t == QLatin1String("ext4")
        || t == QLatin1String("xfs"))
        return Family::MacExtended;
    return Family::Other;
}

bool isMacFileSystem(const QString& fsType)
{
    return family(fsType) != Family::Other;
}

} // namespace FsKinds
