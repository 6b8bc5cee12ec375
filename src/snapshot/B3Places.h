#pragma once

#include "snapshot/B3RestoreItem.h"

#include <QDateTime>
#include <QList>
#include <QString>

// Names and paths of a snapshot-backup project's places that depend on nothing but their inputs:
// the wrapper folder of a source, the version folder of a run and the target folder of a restore
// item. The project (IBackup3) feeds them its locations and settings.
namespace B3Places {

// Name of the work folder inside the project folder, and of the version list.
inline constexpr const char* cnsB3BackupWorkFolderName = "QV3ProcessTemporaryFolder";
inline constexpr const char* cnsB3BackupProjectFolderInfoName = "qv3info.plist";

// "<name>.wrp<tag>", with "ROOT" in place of the name "/".
QString topLevelItemWrapperFolder2(const QString& folderName, qint64 tag);

// The folder name of a source for its wrapper folder: the last component of its full path; for
// the path "/" the display name, or "noName" when that is empty.
QString sourceFolderName(const QString& fullPath, const QString& displayName);

// "b3_yyyy-MM-dd_HH-mm-ss" of the date in local time.
QString generateNewArchiveFolder(const QDateTime& date);

// True when two or more items (compared without regard to case) have the name at the position
// of their restored top folder, when the request is empty, or when an item has no path.
bool isNotUniqueRestoreFirstFolder(const QList<B3RestoreItem>& items, const QString& name);

// The folder an item is restored into, not yet created: with a target folder, the target plus the
// parent folders the item's level asks for (one more when its top folder name clashes with
// another item's); without one, the parent of sourceFullPath plus the level's parent folders.
// Null for an index outside the request, an item without a path, or a level the path cannot
// give (every index is bounded; the engine then fails that item).
QString restoreDestFolderPath(const QList<B3RestoreItem>& items, qsizetype pass, const QString& restorePath,
    const QString& sourceFullPath);

// Joins two paths with exactly one "/" between them.
QString joinPath(const QString& base, const QString& relative);

} // namespace B3Places
