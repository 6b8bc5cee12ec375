#pragma once

#include <QList>
#include <QString>
#include <optional>
#include <sys/types.h>

// One row of the kernel's process table (/proc/PID/stat and /proc/PID/status).
struct ProcessEntry
{
    pid_t pid = 0;
    pid_t ppid = 0;
    pid_t pgid = 0;
    pid_t sid = 0;
    char state = '?'; // R, S, D, Z, X, ...
    QString name; // comm: cut to 15 characters by the kernel
    quint64 startTime = 0; // clock ticks after boot (field 22)
    qint64 uid = -1; // real uid from /proc/PID/status, -1 when unreadable

    bool isEnded() const { return state == 'Z' || state == 'X'; }
};

// Reads the process table from /proc. Processes are found by recorded pid, and by name only among
// the descendants of a recorded pid, never by name across the whole table.
class ProcessTable
{
public:
    // Every process that could be read (processes may vanish while the table is read).
    static QList<ProcessEntry> snapshot(const QString& procRoot = QStringLiteral("/proc"));
    static std::optional<ProcessEntry> entry(pid_t pid, const QString& procRoot = QStringLiteral("/proc"));
    // Parses the text of /proc/PID/stat; false when it is not in the kernel's format.
    static bool parseStat(const QByteArray& text, ProcessEntry* entry);

    // A process that is not our own child counts as ended when /proc/PID is gone or its state
    // is Z or X (pid 1 may reap orphans late).
    static bool isProcessAlive(pid_t pid);
    // The kernel's name of the process (comm), null when it is gone.
    static QString processName(pid_t pid);

    // Direct children and all descendants (breadth first, by ppid links) of pid.
    static QList<ProcessEntry> children(pid_t pid);
    static QList<ProcessEntry> descendants(pid_t pid);
    static QList<ProcessEntry> descendants(pid_t pid, const QList<ProcessEntry>& table);
    // Living members (state not Z or X) of a process group.
    static QList<ProcessEntry> groupMembers(pid_t pgid, bool livingOnly = true);
};

// Free-function forms of the common questions.
inline bool isProcessAlive(pid_t pid)
{
    return ProcessTable::isProcessAlive(pid);
}
inline QString processName(pid_t pid)
{
    return ProcessTable::processName(pid);
}
