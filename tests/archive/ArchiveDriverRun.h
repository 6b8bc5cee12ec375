#pragma once

#include "KvTest.h"

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
