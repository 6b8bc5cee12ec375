#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

class CBackupItem;
class CBackupItemsContainer;

// The members a restore extracts, typed: groups of member names, each with the folder tar
// changes to before them (empty: the restore's own folder). A name is never read as an option
// or a folder change, whatever it looks like ("-C", "-rf").
struct RestoreMemberGroup
{
    QString folder;
    QStringList names;
    bool operator==(const RestoreMemberGroup& o) const { return folder == o.folder && names == o.names; }
};
using RestoreMembers = QList<RestoreMemberGroup>;

namespace ArchiveRestoreMembers {

// The members of the chosen items, in order, as the restore view hands them over:
// - into a folder: one group without a folder, the items' names (a deeper item: its path);
// - to the original places: each item under the folder that holds its top-level item (items
//   with the same folder share one group);
// - an archive made with absolute paths: the absolute paths, in one group without a folder.
RestoreMembers forItems(
    const QList<const CBackupItem*>& items, bool toOriginalPlaces, bool absolutePathArchive);

// The tree's item for an absolute path, or nullptr when the tree has none.
const CBackupItem* findItem(const CBackupItemsContainer& tree, const QString& absolutePath);

// The driver's "--item" paths: each known one as forItems makes it, an unknown one as given.
RestoreMembers forPathsInTree(const CBackupItemsContainer& tree, const QStringList& paths,
    bool toOriginalPlaces, bool absolutePathArchive);

// Adds a name to the group of that folder, or to a new group at the end.
void append(RestoreMembers& members, const QString& folder, const QString& name);

// A group's list file for tar's "--null -T": each name's bytes (as the build stored them, never
// quoted) followed by a NUL.
QByteArray nullList(const QStringList& names);

// tar's arguments that extract the members: "--no-unquote" (tar would unquote a "-C" folder
// given in argv), then per group "-C <folder> --null -T <its list>". A group without a folder
// changes to extractFolder. Every folder is absolute, since each "-C" is relative to the one
// before. listPaths holds one list file per group.
QStringList tarArguments(
    const RestoreMembers& members, const QString& extractFolder, const QStringList& listPaths);

} // namespace ArchiveRestoreMembers
