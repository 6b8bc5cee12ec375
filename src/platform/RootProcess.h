#pragma once

#include "PrivilegeBackend.h"
#include "Subprocess.h"

#include <condition_variable>
#include <mutex>

// One command run as root through the privilege backend. The root shell's first output line is
// its process id: it is read and consumed here and handed to the caller, who gets only the
// command's own output. A stop first signals the user-side runner's group (sudo relays the signal;
// the root shell's trap ends its own group); when that does not end it within the grace time,
// the backend kills the recorded root process group.
class RootProcess
{
public:
    // why a root run failed (the values callers already know)
    enum Failure
    {
        NoFailure = 0,
        NotAuthorized = 8,
        CannotExecute = 16
    };

    static constexpr int MaxPidLine = 1024;

    explicit RootProcess(PrivilegeBackend& backend = PrivilegeBackend::shared());
    ~RootProcess(); // stops the run if it still goes on
    RootProcess(const RootProcess&) = delete;
    RootProcess& operator=(const RootProcess&) = delete;

    // Set before start(); called on reader threads.
    void setOutputHandler(Subprocess::ChunkHandler h) { m_outHandler = std::move(h); }
    void setErrorHandler(Subprocess::ChunkHandler h) { m_errHandler = std::move(h); }

    // Starts the command and waits (up to pidTimeoutMs) for the process-id line. False with
    // failure() and *error when there is no root shell.
    bool start(
        const PrivilegeBackend::RootCommand& command, QString* error = nullptr, int pidTimeoutMs = 60000);

    pid_t rootPid() const { return m_rootPid; } // the root shell
    pid_t rootGroup() const { return m_rootGroup; } // its process group, recorded at start
    pid_t runnerPid() const { return m_runner.pid(); }
    int failure() const { return m_failure; }

    bool waitForFinished(int timeoutMs = -1);
    bool isRunning() { return m_runner.isRunning(); }
    // The runner itself exited (its pipes may still be open).
    bool hasExited() const { return m_runner.hasExited(); }
    int exitCode() const { return m_runner.exitCode(); }
    int exitSignal() const { return m_runner.exitSignal(); }
    void closeStdin() { m_runner.closeStdin(); }

    // Ends the run and every process of the root group; returns when it has ended.
    void stop(int graceMs = 3000);

    // Runs a command as root and collects its output (after the pid line) and error text.
    struct Result
    {
        bool started = false;
        int failure = NoFailure;
        pid_t rootPid = 0;
        int exitCode = -1;
        int signal = 0;
        QByteArray out;
        QByteArray err;
        QString error;
        bool succeeded() const { return started && signal == 0 && exitCode == 0; }
    };
    static Result run(const PrivilegeBackend::RootCommand& command, int timeoutMs = -1,
        PrivilegeBackend& backend = PrivilegeBackend::shared());

private:
    void onStdout(const char* data, size_t size);
    void onStderr(const char* data, size_t size);
    void onEnd();

    PrivilegeBackend& m_backend;
    Subprocess m_runner;
    Subprocess::ChunkHandler m_outHandler;
    Subprocess::ChunkHandler m_errHandler;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    QByteArray m_pidLine;
    QByteArray m_earlyErr; // stderr before the pid line: sudo's messages, or the tool's
    bool m_havePid = false;
    bool m_pidLineBad = false;
    int m_endedPipes = 0;
    pid_t m_rootPid = 0;
    pid_t m_rootGroup = 0;
    int m_failure = NoFailure;
};
