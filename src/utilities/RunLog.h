#pragma once

#include "utilities/IRunLog.h"
// Before the class: the option words there name the run-log bit "RunLog" unqualified.
#include "utilities/LogOptions.h"

#include <QByteArray>
#include <QString>
#include <mutex>
#include <string>

// The run log of one start of the application: "<logs folder>/log_<yyyy-MM-dd_HH-mm-ss>.txt",
// written only while the main preference "CollectLogs" is on. Every write goes straight to the
// file (no buffering in the process), so a crash loses nothing already logged. The log is
// written from the main thread and from output reader threads; one mutex orders the writes.
class RunLog : public IRunLog
{
public:
    static RunLog& shared();
    // Makes this run log the one the common functions write to (IRunLog::shared()).
    static void install();

    // The "LogFilesFolder" preference when it names an existing folder, else <workspace>/Logs.
    QString getLogsPath() const;

    // Opens a new run log unless one is open; false when "CollectLogs" is off or it fails.
    bool openLog();
    // Appends text unchanged (opening the log first when needed). Null text does nothing.
    void traceToLog(const QByteArray& text) override;
    // A new empty file in the private temporary folder (IRunLog); null on failure.
    QString tempFileName() override;
    // Closes the log; a later traceToLog opens a new file.
    void closeLog();

    // The path of the open log, null when none.
    QString logPath() const;

    // Deletes the oldest run logs ("log_*.txt" and "log_*.tgz") of the logs folder so that the
    // newest keepCount - 1 remain besides the current one; 0 keeps all. Returns the number deleted.
    static int removeExcessLogging(int keepCount);
    // Whether a name in the logs folder is a run log's ("log_*.txt", "log_*.tgz").
    static bool isRunLogName(const std::string& name);
    // Deletes every run log of the logs folder but the current one: only regular files with a
    // run log's name, never following a link, never descending into a folder. Returns the
    // number deleted.
    static int clearRunLogs();

private:
    RunLog() = default;
    bool openLocked();
    void writeLocked(const QByteArray& text);
    void closeLocked();
    void noteFailureLocked(const QByteArray& message);
    void reportFailure();

    mutable std::mutex m_mutex;
    int m_fd = -1;
    QString m_path;
    bool m_failureReported = false;
    QByteArray m_pendingFailure;
};
