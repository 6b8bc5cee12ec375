#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <sys/types.h>

// The user's login items: programs that the desktop starts at login, each an XDG autostart file
// "$XDG_CONFIG_HOME/autostart/<identifier>.desktop". A login item's program claims its identifier
// as its name on the session bus, which is how it is found while it runs: enabling an item also
// starts its program (unless the name already has an owner), disabling also stops the name's
// owner, by its pid: SIGTERM, then SIGKILL after a bound. Stopping waits, with a bound and without
// user input, until the process has ended and the name is free.
class LoginItem
{
public:
    static QString autostartFilePath(const QString& identifier);
    // The Exec= value that runs exactly this program with no arguments, whatever its path holds.
    static QString execValue(const QString& program);
    static QByteArray desktopEntry(const QString& name, const QString& program);

    // The file exists and neither hides nor disables the item.
    static bool isEnabled(const QString& identifier);
    // Writes the file atomically and starts the program when its name has no owner.
    static bool enable(
        const QString& identifier, const QString& name, const QString& program, QString* error = nullptr);
    // Removes the file and stops the program; true when the file is gone and the program ended.
    static bool disable(const QString& identifier, QString* error = nullptr);

    // The bus name's owner, through the shared notification centre's connection.
    static bool isRunning(const QString& identifier);
    static pid_t ownerPid(const QString& identifier);
    // Stops the name's owner and a program this process started for the item; true when none
    // runs afterwards.
    static bool stop(const QString& identifier);

    static constexpr int termGraceMs = 3000;
    static constexpr int killGraceMs = 2000;

    // Runs the event loop (no user input, modal depth raised) until done() or the deadline.
    static bool waitUntil(const std::function<bool()>& done, int timeoutMs);
};
