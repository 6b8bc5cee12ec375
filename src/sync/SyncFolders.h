#pragma once

#include <QString>

// Relations between the two folders of a synchronization.
namespace SyncFolders {

// True when the folders are the same or one lies inside the other: both are resolved to their
// real paths (symbolic links followed; a missing tail is kept as written) and compared by whole
// path components, so "/a/b" is inside "/a" but "/a/bc" is not.
bool areNested(const QString& first, const QString& second);

} // namespace SyncFolders
