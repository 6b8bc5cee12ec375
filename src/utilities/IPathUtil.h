#pragma once

#include <QByteArray>
#include <QString>
#include <memory>
#include <string>
#include <vector>

// The workspace folder and the path helpers the run engines share.
//
// The workspace holds "QVPrefs.plist", the project lists in "Backups", "Syncs" and "Clones" and
// the run logs in "Logs". Home folders follow the XDG base directories; the workspaces of the
// earlier product generations are looked for at the same XDG-mapped places, so an older
// workspace can still be found and copied into the current place.
class IPathUtil
{
public:
    static IPathUtil& shared();
    // Tests: forget the shared instance (override, recent folders, flags).
    static void resetShared();

    // Workspace override (null or empty = none). Also handed to AppPaths, so every reader of
    // the workspace (per-key preferences included) sees the same folder.
    QString workspacePath() const { return m_currentWorkspacePath; }
    void setWorkspacePath(const QString& path);

    // The override, then "QVCurrentProjectsPath" of the application's settings, then
    // $XDG_DATA_HOME/"Kelvane 3". Read on every call; nothing caches it.
    static QString currentWorkspacePath();

    // Derived folders.
    static QString getBackupsPath(); // <workspace>/Backups
    static QString getPreferencesPath(); // $XDG_CONFIG_HOME
    static QString getTuvimoBackupsPath(); // $XDG_DATA_HOME/Tuvimo Backuper/Backups
    static QString getTmpFolderPath(); // the custom temporary folder when in use, else the default
    static QByteArray getTmpFolderPath_utf8();
    static QString getLogFolderPath(); // the run-log folder
    static QString realHomeDirectory(); // the user record's home, else $HOME
    // "~" and "~/..." on $HOME; "~bob/x" and anything else unchanged.
    static QString expandHome(const QString& path);
    static QString getLauncherPath(); // Contents/Library/LoginItems/QVP3Launcher.app
    static QString
    snaphotToolPath(); // <app>/Contents/Resources/QVSnap.app/Contents/MacOS/QVSnap, null when missing

    // Product generations 1..6; null for any other number.
    static QString QVSupportPathForVersion(int version);
    static QString QV2SupportPathFromAppSupport(); // "Brisolt Software/Kelvane 2"
    static QString QV3SupportPathFromAppSupport(); // "Kelvane 3"
    bool isWorkspaceExistsForVersion(int version) const;
    // Copies the workspace of generation `from` to the place of generation `to`. The copy is
    // made in a private sibling folder and swapped in only when complete, so a failure leaves
    // the source and any existing target as they were.
    bool copyWorkspaceFromVersion(int from, int to, QString* comment = nullptr);

    // Two slots of remembered folders; a slot holds "empty" while unset.
    QString recentFolder(int slot) const;
    void setRecentFolder(int slot, const QString& path);

    // Whether files were written with administrator rights (fixOwnerForFile acts only then).
    static void setUsedAdminPrivileges(bool used);
    static bool usedAdminPrivileges();
    // The run log that is open now, null when none.
    static QString logFileName();
    static void setLogFileName(const QString& path);

    // File helpers.
    static bool removeToTrashFileAtPath(const QString& path, QString* comment = nullptr);
    static bool removeFileAtPath(const QString& path, QString* comment = nullptr);
    static QString mountPointForPath(const QString& path);
    static bool isPathExists(const QString& path, bool* dir = nullptr);
    static bool isFirmLinkPath(const QString& path);
    static bool isFolderSupportHardLinks(const QString& folder, QString* comment = nullptr);
    // Hands a file written as root back to the real user (lchown, a second later).
    static void fixOwnerForFile(const QString& path);
    // Hands a tree written as root back to the real user: "chown -R -h --" as root, started a
    // second later and not waited for; a failure is logged.
    static void fixOwnerForDirectory(const QString& path);
    static QString generateUUID();

    // The system exclude list of clones and backups ("clone_system_excludes" of ParamProc.plist),
    // with "/System/Volumes/Data/" appended for types 1 and 4. Empty when there is none.
    static std::vector<std::string> systemExcludeListWithType(int type);

    static const QStringList& firmLinkRoots();

private:
    IPathUtil() = default;
    friend struct std::default_delete<IPathUtil>;

    QString m_recentFolders[2] = { QStringLiteral("empty"), QStringLiteral("empty") };
    QString m_currentWorkspacePath;
};
