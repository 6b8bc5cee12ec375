#pragma once

#include <QString>
#include <functional>

// A separate keeper of folder permissions in the application's settings, keyed by the folder's
// path (plain paths: Linux has no sandbox). Before asking for a folder it explains why with an
// alert ("Choose" / "Don't Allow"); both the alert and the open panel are hooks of the shell.
class CCSecurityScopedBookmark
{
public:
    // true for "Choose"
    using Alert = std::function<bool(const QString& message, const QString& explanation)>;
    // The chosen folder for a start folder, or a null text when cancelled.
    using OpenPanel = std::function<QString(const QString& startFolder, const QString& itemPath)>;

    CCSecurityScopedBookmark(const QString& message, const QString& explanation);
    static CCSecurityScopedBookmark& defaultBookmark();

    void setAlert(Alert alert) { m_alert = std::move(alert); }
    void setOpenPanel(OpenPanel panel) { m_openPanel = std::move(panel); }

    // Asks (after the alert) for the folder of path and stores it; the path to use afterwards
    // (the chosen folder joined with the file name for a file), or path unchanged when refused.
    QString bookmarkURL(const QString& path);
    QString bookmarkURL(const QString& path, const QString& message, const QString& explanation);
    // The stored folder of path joined as above; null when none is stored.
    QString bookmarkedURL(const QString& path) const;
    bool hasBookmarkFor(const QString& path) const;
    void removeBookmarkFor(const QString& path);

private:
    static QString settingsKey(const QString& folder);

    QString m_message;
    QString m_explanation;
    Alert m_alert;
    OpenPanel m_openPanel;
};

// The open panel's rule for packages: a folder is enabled only when the wanted item (the last
// path component of the requested path, through symbolic links) exists inside it.
class PackageValidator
{
public:
    static bool isEnabled(const QString& candidateFolder, const QString& requestedPath);
};
