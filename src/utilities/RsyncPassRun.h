#pragma once

#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <sys/types.h>
#include <thread>

class RootProcess;
class Subprocess;

// One pass of rsync: the child as the user (its own process group, two pipes, the tool locale)
// or through the root runner, and a watcher thread that waits for the end of the pass and hands it
// on. The end of a pass is the child reaped with its pipes at end of data; a child reaped while
// something outside still holds its pipes gets a bounded wait, then the pass ends with what was
// read. Only the watcher touches the child after the start; the owner asks it to stop through
// requestStop (SIGTERM to the group, SIGKILL after a grace time; a root child is stopped by the
// root runner). The owner tags the end with its own run and pass numbers.
class RsyncPassRun
{
public:
    // Blocks of output (stdError false) and errors, on reader threads, in order per stream. A root
    // run joins both streams into the output.
    using DataHandler = std::function<void(const char* data, size_t size, bool stdError)>;
    // The end of the pass, on the watcher thread. stopSent: the child was stopped by requestStop.
    using EndHandler = std::function<void(int exitCode, int exitSignal, bool stopSent)>;

    RsyncPassRun() = default;
    ~RsyncPassRun();
    RsyncPassRun(const RsyncPassRun&) = delete;
    RsyncPassRun& operator=(const RsyncPassRun&) = delete;

    // args: the program first. false (and *error) when nothing was launched.
    bool startAsUser(const QStringList& args, DataHandler data, QString* error = nullptr);
    // Through the root runner (directly when this process is root); false when refused or not
    // started (IProcController::runRootedToolTerminationReason tells which).
    bool startAsRoot(const QStringList& args, DataHandler data);
    // Starts the watcher; call once after a successful start.
    void watch(EndHandler ended);

    void requestStop() { m_stopRequested = true; }
    bool isStopRequested() const { return m_stopRequested; }
    bool isRoot() const { return m_root != nullptr; }
    // The spawned child (the root shell for a root run) and its process group.
    pid_t pid() const;
    pid_t processGroup() const;
    // The end-status bits an exit adds to what the lines said: 0 leaves it to the lines, 23 and 24
    // are at least warnings, a stop this run sent leaves it to the lines, and any other code or
    // signal is an error (an rsync killed from outside never ends as a success).
    static quint32 statusForExit(int exitCode, int exitSignal, bool stopSent);
    // Waits for the watcher thread to end (after the end handler ran).
    void join();

private:
    void watchLoop(const EndHandler& ended);

    std::unique_ptr<Subprocess> m_user;
    std::unique_ptr<RootProcess> m_root;
    std::thread m_watcher;
    std::atomic<bool> m_stopRequested { false };
    std::atomic<bool> m_signalSent { false };
};
