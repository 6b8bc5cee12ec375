#include "ProcessTable.h"

#include <QFile>
#include <dirent.h>
#include <optional>

namespace {

QByteArray readSmallFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

qint64 readUid(const QString& statusPath)
{
    const QByteArray text = readSmallFile(statusPath);
    for (const QByteArray& line : text.split('\n')) {
        if (line.startsWith("Uid:")) {
            const QList<QByteArray> fields = line.mid(4).simplified().split(' ');
            bool ok = false;
            const qint64 uid = fields.value(0).toLongLong(&ok);
            return ok ? uid : -1;
        }
    }
    return -1;
}

} // namespace

bool ProcessTable::parseStat(const QByteArray& text, ProcessEntry* entry)
{
    // "pid (comm) state ppid pgrp session tty_nr tpgid flags minflt cminflt majflt cmajflt utime
    //  stime cutime cstime priority nice num_threads itrealvalue starttime ..."
    // comm may hold blanks and parentheses: it ends at the last ')'.
    const int open = text.indexOf('(');
    const int close = text.lastIndexOf(')');
    if (open <= 0 || close < open)
        return false;
    bool ok = false;
    const pid_t pid = text.left(open).trimmed().toInt(&ok);
    if (!ok)
        return false;
    const QList<QByteArray> rest = text.mid(close + 1).simplified().split(' ');
    // rest[0] is field 3 (state); field N is rest[N - 3]
    if (rest.size() < 20 || rest[0].isEmpty())
        return false;
    ProcessEntry e;
    e.pid = pid;
    e.name = QString::fromUtf8(text.mid(open + 1, close - open - 1));
    e.state = rest[0].at(0);
    e.ppid = rest[1].toInt();
    e.pgid = rest[2].toInt();
    e.sid = rest[3].toInt();
    e.startTime = rest[19].toULongLong();
    *entry = e;
    return true;
}

std::optional<ProcessEntry> ProcessTable::entry(pid_t pid, const QString& procRoot)
{
    if (pid <= 0)
        return std::nullopt;
    const QString dir = procRoot + QLatin1Char('/') + QString::number(pid);
    ProcessEntry e;
    if (!parseStat(readSmallFile(dir + QStringLiteral("/stat")), &e))
        return std::nullopt;
    e.uid = readUid(dir + QStringLiteral("/status"));
    return e;
}

QList<ProcessEntry> ProcessTable::snapshot(const QString& procRoot)
{
    QList<ProcessEntry> table;
    DIR* dir = ::opendir(QFile::encodeName(procRoot).constData());
    if (!dir)
        return table;
    while (dirent* d = ::readdir(dir)) {
        const char* name = d->d_name;
        if (*name < '1' || *name > '9')
            continue;
        bool ok = false;
        const pid_t pid = QByteArray(name).toInt(&ok);
        if (!ok)
            continue;
        if (std::optional<ProcessEntry> e = entry(pid, procRoot))
            table.append(*e);
    }
    ::closedir(dir);
    return table;
}

bool ProcessTable::isProcessAlive(pid_t pid)
{
    const std::optional<ProcessEntry> e = entry(pid);
    return e && !e->isEnded();
}

QString ProcessTable::processName(pid_t pid)
{
    const std::optional<ProcessEntry> e = entry(pid);
    return e ? e->name : QString();
}

QList<ProcessEntry> ProcessTable::children(pid_t pid)
{
    QList<ProcessEntry> result;
    for (const ProcessEntry& e : snapshot())
        if (e.ppid == pid)
            result.append(e);
    return result;
}

QList<ProcessEntry> ProcessTable::descendants(pid_t pid, const QList<ProcessEntry>& table)
{
    QList<ProcessEntry> result;
    QList<pid_t> parents { pid };
    for (int i = 0; i < parents.size(); ++i) {
        for (const ProcessEntry& e : table) {
            if (e.ppid == parents[i] && e.pid != pid && !parents.contains(e.pid)) {
                result.append(e);
                parents.append(e.pid);
            }
        }
    }
    return result;
}

QList<ProcessEntry> ProcessTable::descendants(pid_t pid)
{
    return descendants(pid, snapshot());
}

QList<ProcessEntry> ProcessTable::groupMembers(pid_t pgid, bool livingOnly)
{
    QList<ProcessEntry> result;
    if (pgid <= 0)
        return result;
    for (const ProcessEntry& e : snapshot())
        if (e.pgid == pgid && (!livingOnly || !e.isEnded()))
            result.append(e);
    return result;
}
