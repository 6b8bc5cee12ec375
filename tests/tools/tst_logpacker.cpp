// kv-test: labels=unit,root timeout=300
#include "KvTest.h"
#include "platform/ProcessTable.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/mount.h>

namespace {

QString packerPath()
{
    return KvTest::appContentsDir() + QStringLiteral("/Resources/qv3_logpacker");
}

struct RunResult
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

RunResult runProgram(
    const QString& program, const QStringList& arguments, const QProcessEnvironment& env = {})
{
    QProcess process;
    if (!env.isEmpty())
        process.setProcessEnvironment(env);
    process.start(program, arguments);
    RunResult result;
    if (!process.waitForStarted(10000) || !process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished(5000);
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

QByteArray randomBytes(int size)
{
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(data.data()), size / 4);
    return data;
}

// The member names of a .tgz, as GNU tar lists them.
QByteArray listArchive(const QString& archive)
{
    return runProgram(QStringLiteral("tar"), { QStringLiteral("-tzf"), archive }).out;
}

// The bytes of one member, extracted by GNU tar.
QByteArray extractMember(const QString& archive, const QString& member)
{
    const RunResult r = runProgram(QStringLiteral("tar"), { QStringLiteral("-xzOf"), archive, member });
    return r.exitCode == 0 ? r.out : QByteArray("<tar failed>");
}

QStringList entries(const QString& folder)
{
    QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

} // namespace

// The log packer: every run log of a folder becomes a .tgz beside it, and a log is removed only
// once its archive is complete.
class TestLogPacker : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void usage_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("none") << QStringList();
        QTest::newRow("one") << QStringList { QStringLiteral("/usr/bin/tar") };
        QTest::newRow("three") << QStringList { QStringLiteral("/usr/bin/tar"), QStringLiteral("/tmp"),
            QStringLiteral("x") };
    }
    void usage()
    {
        QFETCH(QStringList, arguments);
        const RunResult r = runProgram(packerPath(), arguments);
        QCOMPARE(r.exitCode, 255);
        QCOMPARE(r.out, QByteArray("qv_logpacker version 1.1\nParameters not found.\n"));
    }

    void unopenableFolder()
    {
        QTemporaryDir dir;
        const QString missing = dir.filePath(QStringLiteral("no such folder"));
        const RunResult r = runProgram(packerPath(), { QStringLiteral("/usr/bin/tar"), missing });
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, "Error opening directory \"" + QFile::encodeName(missing) + '"');
    }

    // Only plain files named log_*.txt are packed; names are passed literally, never to a shell.
    void packsRunLogs()
    {
        QTemporaryDir dir(KvTest::buildDir() + QStringLiteral("/logpacker-XXXXXX"));
        const QString logs = dir.path();
        const QString odd = QStringLiteral("log_a \"b\" $(touch PWNED) `touch PWNED`.txt");
        QVERIFY(writeFile(logs + QStringLiteral("/log_1.txt"), "first log\n"));
        QVERIFY(writeFile(logs + QLatin1Char('/') + odd, "odd log\n"));
        QVERIFY(writeFile(logs + QStringLiteral("/run.txt"), "not a run log\n"));
        QVERIFY(writeFile(logs + QStringLiteral("/log_1.log"), "not a text log\n"));
        QVERIFY(QDir(logs).mkdir(QStringLiteral("log_d.txt")));
        QVERIFY(writeFile(logs + QStringLiteral("/log_d.txt/inside"), "kept\n"));
        QVERIFY(QFile::link(logs + QStringLiteral("/run.txt"), logs + QStringLiteral("/log_link.txt")));

        const RunResult r = runProgram(packerPath(), { QStringLiteral("/usr/bin/tar"), logs });
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QByteArray());

        QCOMPARE(listArchive(logs + QStringLiteral("/log_1.tgz")), QByteArray("log_1.txt\n"));
        QCOMPARE(extractMember(logs + QStringLiteral("/log_1.tgz"), QStringLiteral("log_1.txt")),
            QByteArray("first log\n"));
        const QString oddArchive = logs + QLatin1Char('/') + odd.chopped(4) + QStringLiteral(".tgz");
        QCOMPARE(extractMember(oddArchive, odd), QByteArray("odd log\n"));
        QVERIFY(!QFileInfo::exists(logs + QStringLiteral("/PWNED")));
        QVERIFY(!QFileInfo::exists(QStringLiteral("PWNED")));

        QStringList expected { QStringLiteral("log_1.log"), QStringLiteral("log_1.tgz"),
            QStringLiteral("log_d.txt"), QStringLiteral("log_link.txt"), QStringLiteral("run.txt"),
            odd.chopped(4) + ".tgz" };
        expected.sort();
        QCOMPARE(entries(logs), expected);
        QCOMPARE(readAll(logs + QStringLiteral("/log_d.txt/inside")), QByteArray("kept\n"));
    }

    // Every failing archive keeps its log and leaves no new archive; an older archive survives.
    void failuresKeepLogs_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::newRow("tar missing") << QStringLiteral("tar missing");
        QTest::newRow("gzip not on PATH") << QStringLiteral("no gzip");
    }
    void failuresKeepLogs()
    {
        QFETCH(QString, failure);
        QTemporaryDir dir(KvTest::buildDir() + QStringLiteral("/logpacker-XXXXXX"));
        const QString logs = dir.path();
        QVERIFY(writeFile(logs + QStringLiteral("/log_1.txt"), "first\n"));
        QVERIFY(writeFile(logs + QStringLiteral("/log_2.txt"), "second\n"));
        QVERIFY(writeFile(logs + QStringLiteral("/log_1.tgz"), "an older archive"));

        QString tar = QStringLiteral("/usr/bin/tar");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (failure == QLatin1String("tar missing"))
            tar = dir.filePath(QStringLiteral("no-such-tar"));
        else
            env.insert(QStringLiteral("PATH"), dir.filePath(QStringLiteral("empty-bin")));
        const RunResult r = runProgram(packerPath(), { tar, logs }, env);
        QCOMPARE(r.exitCode, 0);
        QByteArrayList lines = r.out.split('\n');
        QCOMPARE(lines.takeLast(), QByteArray());
        std::sort(lines.begin(), lines.end());
        QCOMPARE(lines,
            QByteArrayList({ "Compressing error for \"" + QFile::encodeName(logs) + "/log_1.txt\"",
                "Compressing error for \"" + QFile::encodeName(logs) + "/log_2.txt\"" }));
        QCOMPARE(entries(logs), QStringList({ "log_1.tgz", "log_1.txt", "log_2.txt" }));
        QCOMPARE(readAll(logs + QStringLiteral("/log_1.txt")), QByteArray("first\n"));
        QCOMPARE(readAll(logs + QStringLiteral("/log_1.tgz")), QByteArray("an older archive"));
    }

    // A full disk makes tar fail half-way: the truncated archive goes, the log stays.
    void fullDiskKeepsLog()
    {
        KV_REQUIRE_ROOT();
        QTemporaryDir dir(KvTest::buildDir() + QStringLiteral("/logpacker-XXXXXX"));
        const QString logs = dir.filePath(QStringLiteral("small"));
        QVERIFY(QDir().mkpath(logs));
        QCOMPARE(
            runProgram(QStringLiteral("mount"), { "-t", "tmpfs", "-o", "size=256k", "kvtest-small", logs })
                .exitCode,
            0);
        const QByteArray log = randomBytes(150000);
        QVERIFY(writeFile(logs + QStringLiteral("/log_1.txt"), log));
        const RunResult r = runProgram(packerPath(), { QStringLiteral("/usr/bin/tar"), logs });
        const QStringList after = entries(logs);
        const QByteArray kept = readAll(logs + QStringLiteral("/log_1.txt"));
        ::umount2(QFile::encodeName(logs).constData(), MNT_DETACH);
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, "Compressing error for \"" + QFile::encodeName(logs) + "/log_1.txt\"\n");
        QVERIFY2(r.err.contains("No space left on device"), r.err.constData());
        QCOMPARE(after, QStringList { QStringLiteral("log_1.txt") });
        QVERIFY(kept == log);
    }

    // As at the application's quit: started detached with its streams on /dev/null by a program
    // that ends at once; once the packer has ended, each log is a .tgz with the same bytes.
    void detachedAtQuit()
    {
        QTemporaryDir dir(KvTest::buildDir() + QStringLiteral("/logpacker-XXXXXX"));
        const QString logs = dir.path();
        QList<QByteArray> contents;
        for (int i = 1; i <= 3; ++i) {
            contents.append(randomBytes(20000 * i));
            QVERIFY(writeFile(logs + QStringLiteral("/log_%1.txt").arg(i), contents.last()));
        }
        const RunResult started = runProgram(KvTest::testBinDir() + QStringLiteral("/start_logpacker"),
            { packerPath(), QStringLiteral("/usr/bin/tar"), logs });
        QCOMPARE(started.exitCode, 0);
        const pid_t pid = started.out.trimmed().toInt();
        QVERIFY(pid > 0);
        QDeadlineTimer deadline(60000);
        while (ProcessTable::isProcessAlive(pid) && !deadline.hasExpired())
            QTest::qWait(20);
        QVERIFY(!ProcessTable::isProcessAlive(pid));
        QCOMPARE(entries(logs), QStringList({ "log_1.tgz", "log_2.tgz", "log_3.tgz" }));
        for (int i = 1; i <= 3; ++i) {
            QCOMPARE(extractMember(
                         logs + QStringLiteral("/log_%1.tgz").arg(i), QStringLiteral("log_%1.txt").arg(i)),
                contents.at(i - 1));
        }
    }
};

QTEST_GUILESS_MAIN(TestLogPacker)
#include "tst_logpacker.moc"
