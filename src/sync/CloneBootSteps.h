#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <sys/types.h>

// The steps that make a clone's destination able to start the computer, around the copy: before
// it the owners check, the boot folder, the boot-loader stand-in and (both volumes btrfs) the
// preparer; after it the shared-library cache of the destination. Each tool is one entry of a
// table behind an interface, so tests inject fakes. A step that fails leaves a copy that will not
// boot and a warning; it never stops the copy.
class CloneBootTools
{
public:
    struct Outcome
    {
        bool started = false;
        int exitCode = -1;
        QByteArray output;
    };
    virtual ~CloneBootTools() = default;
    // Runs argv as root (directly when this process is root) and waits for its end inside a
    // nested event loop, so the interface (and a stop) stays alive. A stop asked for meanwhile
    // (stopWanted) lets the tool finish, but stops its process group after stopGraceMs.
    virtual Outcome run(const QStringList& argv);
    // The destination's file system keeps owners (ext2/3/4, xfs, btrfs).
    virtual bool keepsOwners(const QString& destination);
    // Both places lie on btrfs.
    virtual bool bothBtrfs(const QString& source, const QString& destination);
    // The preparer of the application, null when it is not there.
    virtual QString preparerPath();
    // Installs the boot loader for the boot folder. No tested counterpart exists on this system:
    // the stand-in installs nothing and fails, so no clone claims to boot.
    virtual bool bless(const QString& bootFolder);
    virtual qint64 destinationSystemVersion(const QString& destination);
    virtual qint64 hostSystemVersion();

    // Told of every command a step has started, with its process group, while it runs (the run's
    // command observer). A command that could not be started is not reported.
    std::function<void(const QStringList& argv, pid_t group)> onRun;
    // True once the user has asked the run to stop.
    std::function<bool()> stopWanted;
    int stopGraceMs = 30000;
};

namespace CloneBootSteps {

// A text for the project's log with its option word.
using Message = std::function<void(const QString& text, quint64 options)>;

enum class Outcome
{
    Bootable, // every step did its work
    NotBootable, // a step failed: a warning was logged, the copy goes on
    StartFailed // a tool could not be started: the run ends as failed, nothing more is copied
};

// Before the copy. bootable: the container says the clone will be bootable (else only the
// indexing step, which has no counterpart here, runs: nothing).
Outcome prepare(CloneBootTools& tools, const QString& source, const QString& destination, bool bootable,
    const Message& message);
// After a copy without errors: the destination's library cache, when its system is new enough.
// StartFailed when the refresh could not be started; else Bootable.
Outcome finish(CloneBootTools& tools, const QString& destination, const Message& message);
// One line of the preparer; answers true when it reports a failure.
bool preparerLine(const QByteArray& line, const Message& message);

} // namespace CloneBootSteps
