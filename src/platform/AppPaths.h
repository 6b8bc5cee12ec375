#pragma once

#include <QSettings>
#include <QString>
#include <QVariant>

// Where the application tree and the user's folders are.
// The tree keeps the bundle's shape: "<...>/Kelvane Pro 3.app/Contents/{MacOS,Resources,...}".
// Home folders follow the XDG base directories.
class AppPaths
{
public:
    // "<...>/Kelvane Pro 3.app/Contents": the override when a test set one, else env
    // KV_APP_CONTENTS if set, else derived from /proc/self/exe (the outermost "*.app" folder
    // above the program, so tools and the login item inside the tree find the same one).
    static QString contentsDir();
    static void setContentsDirOverride(const QString& dir); // tests; empty clears it
    static QString macOSDir();
    static QString resourcesDir();
    static QString infoPlistPath();
    static QString resourcePath(const QString& name); // resourcesDir()/name
    static QString launcherAppPath(); // Contents/Library/LoginItems/QVP3Launcher.app
    static QVariant infoPlistValue(const QString& key); // read (and cached) from Info.plist
    static QString systemRoot(); // "/" or env KV_SYSTEM_ROOT (SystemVersion.plist lookup)

    static QString homeDir(); // $HOME, else the user record
    static QString dataHome(); // $XDG_DATA_HOME or ~/.local/share
    static QString configHome(); // $XDG_CONFIG_HOME or ~/.config
    static QString stateHome(); // $XDG_STATE_HOME or ~/.local/state
    static QString cacheHome(); // $XDG_CACHE_HOME or ~/.cache

    // The override, then QSettings key "QVCurrentProjectsPath", then dataHome()/"Kelvane 3".
    static QString currentWorkspacePath();
    static void setWorkspacePathOverride(const QString& path); // empty clears it

    // QSettings("brisoltica", "KelvanePro3"), one per process, for the main thread.
    static QSettings* appSettings();
    // Tests that point XDG_CONFIG_HOME elsewhere drop the instance so the next call reopens it.
    static void resetAppSettings();

    static constexpr const char* kSettingsOrganization = "brisoltica";
    static constexpr const char* kSettingsApplication = "KelvanePro3";
};
