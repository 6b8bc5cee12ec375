#pragma once

#include "KvTest.h"

#include <QDir>
#include <QProcess>
#include <QStringList>

// One run of kv-run-project's archive kit: its exit code, the last line of stdout and stderr.
struct ArchiveDriverRun
{
    int code = -1;
    QByteArray last;
    QByteArray err;
};

// Runs the driver with "--kit archive" and args, input on stdin; prefix (a program and its
// arguments, such as runuser) runs the driver through it.
inline ArchiveDriverRun runArchiveDriver(const QStringList& args, const QByteArray& input = QByteArray(),
    const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(), const QStringList& prefix = {})
{
    const QString driver = KvTest::appContentsDir() + QStringLiteral("/MacOS/kv-run-project");
    const QStringList all = QStringList { driver, QStringLiteral("--kit"), QStringLiteral("archive") } + args;
    QProcess p;
    p.setProcessEnvironment(env);
    if (prefix.isEmpty())
        p.start(driver, all.mid(1));
    else
        p.start(prefix.first(), prefix.mid(1) + all);
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(180000);
    ArchiveDriverRun r;
    r.code = p.exitCode();
    const QList<QByteArray> lines = p.readAllStandardOutput().trimmed().split('\n');
    r.last = lines.isEmpty() ? QByteArray() : lines.last();
    r.err = p.readAllStandardError();
    return r;
}

// The first project file (.bif) in a workspace's Backups folder, as a full path.
inline QString firstProjectFile(const QString& workspace)
{
    const QString backups = workspace + QStringLiteral("/Backups");
    return backups + QLatin1Char('/') + QDir(backups).entryList({ QStringLiteral("*.bif") }).value(0);
}

// The first project folder a build made under a destination, as a full path.
inline QString firstArchiveFolder(const QString& destination)
{
    return destination + QLatin1Char('/')
        + QDir(destination).entryList(QDir::Dirs | QDir::NoDotAndDotDot).value(0);
}
