#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <sys/types.h>
#include <thread>
#include <vector>

// The one way the system starts a child process: posix_spawn with an argument vector (never a
// shell command built from data), the child in its own process group, SIGPIPE at its default in
// the child, pipes for its standard streams and one reader thread per pipe.
//
// The end of a child is: reaped, every pipe at end of data, every reader thread finished. Its exit
// status is always read. The child's process id stays reserved until that end (the child is only
// reaped at the very end), so signals to its process group never reach an unrelated process.
class Subprocess
{
public:
    struct Options
    {
        QString program; // a path, or a name looked up in the child's PATH
        QStringList arguments; // passed byte for byte (the lossless name conversion)
        QString workingDirectory;
        bool toolLocale = true; // LC_ALL=C.UTF-8 for tools whose messages we read
        QMap<QString, QString> environment; // added or overridden variables
        QStringList unsetEnvironment;
        QByteArray standardInput; // written, then closed (unless keepStdinOpen)
        bool keepStdinOpen = false;
        bool mergeStderr = false; // stderr into the stdout pipe
        bool newSession = false; // setsid: no controlling terminal (also a new group)
        // Pipe chains: standard input read from this descriptor (the previous member's output)
        // instead of a pipe or /dev/null; standard output written to this descriptor instead of
        // a pipe (no output reader then); the process group to join (the first member's) instead
        // of a new one, so that one signal to that group stops the whole chain. -1 / 0: unused.
        // The caller keeps and closes its descriptors after start().
        int stdinFd = -1;
        int stdoutFd = -1;
        pid_t joinProcessGroup = 0;
        // A child that writes many short lines (tar's listing) would wake the reader for each
        // one: after a read that emptied the pipe the reader waits this long before the next,
        // and the pipe is made large enough to hold what arrives meanwhile. 0: read at once.
        int readPauseMs = 0;
    };

    // Called on a reader thread with at most 20,000 bytes at a time.
    using ChunkHandler = std::function<void(const char* data, size_t size)>;

    struct Result
    {
        bool started = false;
        int exitCode = -1; // -1 when the child did not exit normally
        int signal = 0; // the signal that ended the child, 0 when it exited
        QByteArray out;
        QByteArray err;
        QString error; // why it did not start, or why it was stopped
        bool timedOut = false;
        bool succeeded() const { return started && signal == 0 && exitCode == 0; }
    };

    static constexpr size_t ReadChunkSize = 20000;

    Subprocess();
    ~Subprocess(); // stops the child if it still runs, then reaps it
    Subprocess(const Subprocess&) = delete;
    Subprocess& operator=(const Subprocess&) = delete;

    // Set before start().
    void setStdoutHandler(ChunkHandler h);
    void setStderrHandler(ChunkHandler h);
    // Called once per pipe when it reaches end of data (on that pipe's reader thread).
    void setEndOfStreamHandler(std::function<void()> h);
    // The same for one stream only (called after the common handler, on that stream's thread).
    void setStdoutEndHandler(std::function<void()> h);
    void setStderrEndHandler(std::function<void()> h);

    bool start(const Options& options, QString* error = nullptr);
    pid_t pid() const;
    pid_t processGroup() const;

    bool writeStdin(const QByteArray& data); // false when the child no longer reads (EPIPE)
    void closeStdin();

    // Waits for the end of the child (reaped, every pipe at end of data, readers joined).
    // False when the deadline passed first; timeoutMs < 0 waits without a deadline.
    bool waitForFinished(int timeoutMs = -1);
    // Non-blocking: false once the child has ended (it is then reaped).
    bool isRunning();
    bool hasExited() const; // the child itself exited (its pipes may still be open)

    int exitCode() const; // -1 unless it exited normally
    int exitSignal() const; // 0 unless a signal ended it
    bool exitedNormally() const;

    void terminate(); // SIGTERM to the child's process group
    void kill(); // SIGKILL to the child's process group
    void stop(int graceMs = 3000); // TERM, wait, then KILL the group; returns when ended

    // Hands an unfinished child to the registry of released children: this object no longer
    // waits for it, reapReleased() reaps it once it has exited.
    void release();

    // Starts, collects both streams, waits; stops the child when the deadline passes.
    static Result run(const Options& options, int timeoutMs = -1);
    // A program that outlives the call (the agent, xdg-open, test daemons): its own session,
    // stdio on /dev/null, no reader threads; a background waiter reaps it when it ends.
    static pid_t startDetached(const Options& options, QString* error = nullptr);

    // Reaps the released children that have exited; returns how many. Never waits for any
    // other child and never uses waitpid(-1).
    static int reapReleased();
    static QList<pid_t> releasedPids();
    // Children started through this class that have not been reaped yet.
    static QList<pid_t> startedPids();

    // The argument vector exactly as the child receives it (for tests and logs).
    static std::vector<std::string> encodeArguments(const QString& program, const QStringList& arguments);

private:
    void startReader(int fd, ChunkHandler handler, std::function<void()> endHandler);
    void readerLoop(int fd, ChunkHandler handler, const std::function<void()>& endHandler);
    int m_readPauseMs = 0;
    bool pollExited(); // waitid(WNOWAIT): records the status, keeps the zombie
    bool waitExited(int timeoutMs);
    bool waitReaders(int timeoutMs);
    void finish(); // joins threads, reaps; the end of the child
    void cancelReaders();
    void signalGroup(int sig);
    void closeFd(int& fd);
    void joinStdinWriter();
    bool writeAll(const QByteArray& data);

    ChunkHandler m_stdoutHandler;
    ChunkHandler m_stderrHandler;
    std::function<void()> m_endHandler;
    std::function<void()> m_stdoutEndHandler;
    std::function<void()> m_stderrEndHandler;

    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    pid_t m_pid = 0;
    pid_t m_pgid = 0;
    int m_pidfd = -1;
    int m_wakeFd = -1;
    int m_stdinFd = -1;
    bool m_started = false;
    bool m_exited = false;
    bool m_reaped = false;
    bool m_released = false;
    int m_exitCode = -1;
    int m_exitSignal = 0;
    int m_openPipes = 0;
    std::vector<std::thread> m_readers;
    std::thread m_stdinWriter;
    std::mutex m_finishMutex;
};
