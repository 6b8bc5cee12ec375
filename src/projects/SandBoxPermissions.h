#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVariantMap>
#include <functional>

// The store of folders the user allowed the program to use ("QV2Perm.bip" in the workspace).
// Linux has no sandbox, so a record keeps the folder's plain path where a sandboxed build kept a
// bookmark: the "bookmark data" is the path's bytes, resolving it checks that the path exists,
// and starting access does nothing. The store keeps its interface so that the preparers of the
// project kinds work unchanged; nothing in the system calls it.
//
// Records: the folder's path in lower case -> [bookmark data, date of last use]; bare bookmark
// data is accepted when read. A record whose stored path differs from the path asked for (the
// same folder name in another case on a case-sensitive file system) counts as absent.
class SandBoxPermissions
{
public:
    // The user's folder choice: the folder chosen for the proposed one, or a null text when
    // the user cancelled. The shell installs its open dialog; without one, nothing is chosen.
    using FolderChooser = std::function<QString(const QString& proposedPath, const QString& prompt)>;
    static void setFolderChooser(FolderChooser chooser);

    static constexpr qint64 maxUnusedSeconds = 15552000; // 180 days

    // Whether the store runs at all (bookmarks exist from 10.7 on; true on this system).
    static bool isSandBoxBookmarkAvailable();
    static void setSandBoxBookmarkAvailable(bool available); // tests

    static QVariantMap& permDict();
    // Loads the store once (again when reload is true). A file that does not parse is set
    // aside, never overwritten, and the failure is logged.
    static void SBPLoad(bool reload);
    // Drops records unused for more than 180 days, then writes the store (when not empty).
    static bool SBPSave();
    // The workspace's "QV2Perm.bip".
    static QString prefsFileName();

    // Makes path usable: a stored record is resolved; the path is then recorded. When that
    // fails and askUser is true, the user is asked for the folder; true only when the user chose
    // the proposed folder.
    static bool pathPermissionsPrepare(const QString& path, bool askUser);
    static bool pathPermissionsPrepare(const QString& path, bool askUser, const QString& prompt);
    static bool pathForcePermissionsPrepare(const QString& path);
    // Records path (when it exists) with the current date; false when it does not exist.
    static bool URLPermissionsBookmark(const QString& path);

    // The bookmark data of a record (null when absent); using it moves its last use to now.
    static QByteArray permObjectForKey(const QString& path);
    static void setPermObject(const QByteArray& data, const QString& path);

    // Asks the user for the folder; true only when exactly the proposed folder was chosen.
    static bool getPermissionByUserForURL(const QString& path, bool isFolder, const QString& prompt);

    // Forget everything loaded (tests).
    static void resetForTests();
};

// Preparers of an archive project: sources, restore folders, destination, temporary and log
// folders, each with its own prompt.
class QVSandBoxPermissions : public SandBoxPermissions
{
public:
    static QString BIPFileName();
    // "<backups folder>/<project file name>.bip".
    static QString QVProjectSBPermFileName(const QString& backupsFolder, const QString& projectFileName);

    static bool prepareSourcePath(const QString& path, bool ask);
    static bool prepareRestorePath(const QString& path, bool ask);
    static bool prepareDestinationPath(const QString& path, bool ask);
    static bool prepareTempFolder(const QString& path, bool ask);
    static bool prepareLogFolder(const QString& path, bool ask);
};

// The synchronization project's two folders; the project keeps each folder's bookmark data.
class SNSandBoxPermissions : public QVSandBoxPermissions
{
public:
    static bool prepareFolder(const QString& path, bool ask, QByteArray* permData);
};

// The same preparers for a snapshot-backup project (the restore destination of an external
// restore included).
class QV3SandBoxPermissions : public SandBoxPermissions
{
public:
    static bool prepareSourcePath(const QString& path, bool ask);
    static bool prepareDestinationPath(const QString& path, bool ask);
    static bool prepareRestorePath(const QString& path, bool ask);
};
