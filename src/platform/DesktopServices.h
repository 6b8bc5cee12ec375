#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>

// The desktop's file manager and browser. Programs are started detached (DESIGN: xdg-open
// outlives the call); nothing waits for them.
class DesktopServices
{
public:
    // Shows the file or folder selected in the file manager: the FileManager1 service's
    // ShowItems on the session bus, else xdg-open of the folder that holds it. False when the
    // path does not exist or nothing could be asked.
    static bool reveal(const QString& path);
    // Opens an outside address (help pages, the store) with xdg-open.
    static bool openUrl(const QUrl& url);

    // The file URL of a path, its bytes percent-encoded (names that are not UTF-8 included).
    static QString fileUri(const QString& path);

    // Tests: what would be started or called instead ("ShowItems <uri>" or the xdg-open argv).
    using Hook = std::function<bool(const QStringList& request)>;
    static void setHookForTests(Hook hook);
};
