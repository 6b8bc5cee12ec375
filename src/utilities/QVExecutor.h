#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>

class IProcessCard;
class ExecutorRun;

// Runs one shell command line or argument vector as the user or as root, with its error output
// joined to its output, and reads that output as lines. Data never goes into a command line:
// callers that pass paths or names use the argument-vector form.
class QVExecutor
{
public:
    // Lines longer than this are cut once: the first part is kept, the rest up to the next line
    // feed is skipped, and reading goes on.
    static constexpr qsizetype MaxLine = 1024 * 1024;

    // `/bin/sh -c command`. With wait: reads all output into resOutputArray and answers YES only
    // for exit status 0. Without wait: the running command through *run, YES when it started.
    static bool execCommand(const QString& command, bool useAdmin, bool wait, IProcessCard* card,
        std::shared_ptr<ExecutorRun>* run = nullptr, QStringList* resOutputArray = nullptr);
    // The same for an argument vector (the program first).
    static bool execArguments(const QStringList& argv, bool useAdmin, bool wait, IProcessCard* card,
        std::shared_ptr<ExecutorRun>* run = nullptr, QStringList* resOutputArray = nullptr);

    static std::shared_ptr<ExecutorRun> execFromAdminParams(const QStringList& argv, IProcessCard* card);
    static std::shared_ptr<ExecutorRun> execFromUserParams(const QStringList& argv, IProcessCard* card);

    // Waits for the end of the run and hands back its non-empty lines; the card gets stateFinished.
    // YES when the command exited with status 0.
    static bool processOutput(ExecutorRun& run, QStringList* resOutputArray, IProcessCard* card);
    // Splits output into its non-empty lines (lossless name conversion, long lines cut once).
    static QStringList splitLines(const QByteArray& output, qsizetype maxLine = MaxLine);

    // The process id of the shell this thread started last (0 when none).
    static qint64 shellProcessId();
    // The newest direct child of the parent (0 = this process) named name or orName.
    static qint64 lastChildProcessName(const QString& name, const QString& orName, qint64 forParent);
    // Reaps the children that their owners let go of and that have ended; never waits for any
    // other child. Returns how many were reaped.
    static int zombieKill();
};

// A command the executor started; its output is collected while it runs.
class ExecutorRun
{
public:
    ~ExecutorRun();
    bool waitForFinished(int timeoutMs = -1);
    int exitCode() const; // -1 unless it exited normally
    qint64 pid() const; // the shell (as the user) or the root shell
    QByteArray output() const;
    void stop();

private:
    friend class QVExecutor;
    struct Impl;
    std::unique_ptr<Impl> d;
    ExecutorRun();
};
