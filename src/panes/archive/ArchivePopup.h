#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

class CBackup;

// The archive pop-up of the restore view and whether an archive can be reached now.
namespace ArchivePopup {

// What the check needs of the system; tests inject all three.
struct Environment
{
    // Mounted volumes (the volume table's filter 19: no system paths, network or nullfs mounts).
    std::function<QStringList()> mountPoints;
    // Prepares (mounts) a network place within a time limit and answers its local folder, or
    // empty when it cannot be reached.
    std::function<QString(const QString& url, const QString& pathFromMountPoint)> prepareNetwork;
    std::function<bool(const QString& path)> exists;
    static Environment system();
};

struct Item
{
    QString title;
    int tag = -1; // the archive's index; -1 for "Not found"
    bool accessible = false;
};

// The file that must exist for the archive at index (the first volume "<name>.aaa" of a split
// archive) is there: on its fixed volume, on any mounted volume for USB and optical devices, in
// the prepared network place.
bool isArchiveFileAccessible(const CBackup& backup, int index, const Environment& env);

// Newest first, tags from the list's indexes; "… multi-volume" for a split archive, "(N/A) …"
// for one that cannot be reached; the single "Not found" (tag -1) when there is none.
QList<Item> fillBackupArchives(const CBackup& backup, const Environment& env);

} // namespace ArchivePopup
