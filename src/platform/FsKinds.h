#pragma once

#include <QString>

// Which file systems stand for which Mac file systems: btrfs for APFS; ext2/3/4 and xfs
// for Mac OS Extended. These "Mac file systems" keep owners, extended attributes and hard
// links, so copies on them use rsync -X -H and incremental hard-linked backups.
namespace FsKinds {

enum class Family
{
    Apfs,
    MacExtended,
    Other
};

Family family(const QString& fsType);
bool isMacFileSystem(const QString& fsType); // owners, xattrs, hard links

} // namespace FsKinds
