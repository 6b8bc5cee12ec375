// kv-test: labels=unit timeout=120
#include "KvTest.h"
#include "MemoryKeychain.h"
#include "ScriptedUiPrompts.h"
#include "TempTree.h"
#include "archive/CBackup.h"
#include "archive/CBackupTaskDesc.h"
#include "archive/IBackup.h"
#include "archive/ITaskWrapperARCH.h"
#include "platform/NameCodec.h"
#include "utilities/ProjectKeychain.h"

#include <QElapsedTimer>
#include <QtTest>
#include <csignal>
#include <sys/stat.h>

namespace {

// Runs one job to its end on this thread's event loop; the output lines are collected.
struct JobRun
{
    ArchiveJobEnd end;
    int ends = 0;
    QList<QByteArray> lines;
    QString script;
    pid_t pgid = 0;
};

JobRun runJob(const QList<QStringList>& stages, const QString& password = QString(),
    const std::function<void(ITaskWrapperARCH&)>& whileRunning = {})
{
    JobRun r;
    auto runner = std::make_shared<ITaskWrapperARCH>(stages, password);
    std::mutex m;
    QString error;
    const bool started = runner->start(
        [&](const QByteArray& line) {
            std::lock_guard<std::mutex> lock(m);
            r.lines << line;
        },
        [&](const ArchiveJobEnd& end) {
            r.end = end;
            ++r.ends;
        },
        &error);
    if (!started) {
        qWarning() << error;
        return r;
    }
    r.script = runner->scriptPath();
    r.pgid = runner->processGroup();
    if (whileRunning)
        whileRunning(*runner);
    QElapsedTimer t;
    t.start();
    while (r.ends == 0 && t.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    // A second end would arrive right behind the first.
    QTest::qWait(100);
    return r;
}

// Processes of the group that still run (zombies waiting for their reaper do not count).
int liveGroupMembers(pid_t pgid)
{
    int n = 0;
    const QDir proc(QStringLiteral("/proc"));
    for (const QString& pid : proc.entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> f = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (f.size() > 2 && f.at(0) != "Z" && f.at(2).toInt() == pgid)
            ++n;
    }
    return n;
}

QStringList sh(const QString& code)
{
    return { QStringLiteral("/bin/sh"), QStringLiteral("-c"), code };
}

} // namespace

class TestArchiveRunner : public QObject
{
    Q_OBJECT

private slots:
    void scriptText()
    {
        const QByteArray text = ITaskWrapperARCH::scriptText(
            { { QStringLiteral("/usr/bin/tar"), QStringLiteral("-cvvf"), QStringLiteral("-") },
                { QStringLiteral("/usr/bin/openssl"), QStringLiteral("aes-256-cbc") },
                { QStringLiteral("/usr/bin/split"), QStringLiteral("it's") } });
        QCOMPARE(text,
            QByteArray("#!/bin/bash\nexec 2>&1\nexport LC_ALL=C.UTF-8\n"
                       "  '/usr/bin/tar'  '-cvvf'  '-' |\n\t  '/usr/bin/openssl'  'aes-256-cbc' |\n\t"
                       "  '/usr/bin/split'  'it'\\''s'\n"
                       "printf '\\nend %s\\n' \"${PIPESTATUS[*]}\"\n# end"));
    }

    // Hostile arguments reach the tool intact, nothing they name runs, the script goes away and
    // the password stays out of every argument vector.
    void hostileArgumentsArriveIntact()
    {
        TempTree tree;
        const QString marker = tree.filePath(QStringLiteral("F"));
        const QString out = tree.filePath(QStringLiteral("args"));
        const QStringList args { QStringLiteral("it's"),
            QStringLiteral("$(touch ") + marker + QLatin1Char(')'),
            QStringLiteral("`touch ") + marker + QLatin1Char('`'), QStringLiteral("line\nfeed"),
            QStringLiteral("-n"), NameCodec::decode(QByteArray("bad\xff\xfe")) };
        qputenv("PRINTARGS_OUT", NameCodec::encode(out));
        const JobRun r = runJob({ QStringList { KvTest::testBinDir() + QStringLiteral("/printargs") } + args,
                                    sh(QStringLiteral("cat >/dev/null; printf '%s' \"$QV_ARCH_PASS\" >'")
                                        + tree.filePath(QStringLiteral("pass")) + QStringLiteral("'")) },
            QStringLiteral("s3 $\"'\\"));
        qunsetenv("PRINTARGS_OUT");
        QCOMPARE(r.ends, 1);
        QVERIFY2(r.end.allZero(), qPrintable(QString::number(r.end.statuses.size()) + r.lines.join('|')));
        QFile f(out);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QByteArray expected;
        for (const QString& a : args)
            expected += NameCodec::encode(a) + '\0';
        QCOMPARE(f.readAll(), expected);
        QVERIFY(!QFileInfo::exists(marker));
        QVERIFY(!QFileInfo::exists(r.script));
        QFile pass(tree.filePath(QStringLiteral("pass")));
        QVERIFY(pass.open(QIODevice::ReadOnly));
        QCOMPARE(pass.readAll(), QByteArray("s3 $\"'\\"));
    }

    void stageStatuses_data()
    {
        QTest::addColumn<QList<QStringList>>("stages");
        QTest::addColumn<QList<int>>("statuses");
        QTest::addColumn<int>("lines");
        QTest::newRow("all 0") << QList<QStringList> { sh("echo a; echo b"), sh("cat") }
                               << QList<int> { 0, 0 } << 2;
        QTest::newRow("middle fails") << QList<QStringList> { sh("echo a"), sh("cat; exit 1"), sh("cat") }
                                      << QList<int> { 0, 1, 0 } << 1;
        QTest::newRow("first dies of SIGPIPE")
            << QList<QStringList> { { QStringLiteral("/usr/bin/yes") }, sh("exit 1") }
            << QList<int> { 141, 1 } << 0;
        QTest::newRow("no output") << QList<QStringList> { sh("true") } << QList<int> { 0 } << 0;
        QTest::newRow("long line without a feed")
            << QList<QStringList> { sh("head -c 20000 /dev/zero | tr '\\0' x") } << QList<int> { 0, 0 } << 1;
    }
    void stageStatuses()
    {
        QFETCH(QList<QStringList>, stages);
        QFETCH(QList<int>, statuses);
        QFETCH(int, lines);
        const JobRun r = runJob(stages);
        QCOMPARE(r.ends, 1);
        QVERIFY(r.end.endLineSeen);
        QCOMPARE(r.end.statuses, statuses.mid(0, r.end.statuses.size()));
        QCOMPARE(r.lines.size(), lines);
        if (QByteArray(QTest::currentDataTag()).startsWith("long"))
            QCOMPARE(r.lines.first().size(), 20000);
    }

    // A stop ends the whole group once; a shell killed without its end line is not a success.
    void stopAndKilledShell()
    {
        JobRun r = runJob({ sh("sleep 60"), sh("cat") }, QString(), [](ITaskWrapperARCH& job) {
            QTest::qWait(300);
            job.stop();
        });
        QCOMPARE(r.ends, 1);
        QVERIFY(r.end.stopped);
        QVERIFY(!r.end.allZero());
        QVERIFY(liveGroupMembers(r.pgid) == 0);

        r = runJob({ sh("sleep 60") }, QString(), [](ITaskWrapperARCH& job) {
            QTest::qWait(300);
            ::kill(-job.processGroup(), SIGKILL);
        });
        QCOMPARE(r.ends, 1);
        QVERIFY(!r.end.endLineSeen);
        QVERIFY(!r.end.stopped);
        QVERIFY(!r.end.allZero());
    }

    // A stop asked for while a run is still being prepared ends its first job as soon as it
    // starts, drops the rest of the chain, and the run ends.
    void stopBeforeTheJobStarts()
    {
        IBackup face(nullptr);
        bool ended = false;
        qint64 pgid = 0;
        face.onRunEnded = [&] { ended = true; };
        face.onJobStarted = [&](qint64 group, const QList<QStringList>&) { pgid = group; };
        face.stopByUser();
        CBackupTaskDesc first;
        first.stages = { sh("sleep 60") };
        CBackupTaskDesc second = first;
        face.prepareForTar(first);
        face.prepareForTar(second);
        QElapsedTimer t;
        t.start();
        QVERIFY(face.run());
        QTRY_VERIFY_WITH_TIMEOUT(ended, 10000);
        QVERIFY(t.elapsed() < 10000);
        QCOMPARE(face.cmdVectorSize(), 0);
        QVERIFY(pgid > 0);
        QTRY_COMPARE_WITH_TIMEOUT(liveGroupMembers(pid_t(pgid)), 0, 5000);

        // A new run starts clean.
        face.clearUserStop();
        ended = false;
        CBackupTaskDesc quick;
        quick.stages = { sh("true") };
        face.prepareForTar(quick);
        QVERIFY(face.run());
        QTRY_VERIFY_WITH_TIMEOUT(ended, 10000);
        QVERIFY(!face.userStopped());
    }

    void classifyAndStatus_data()
    {
        QTest::addColumn<int>("operation");
        QTest::addColumn<QByteArrayList>("lines");
        QTest::addColumn<QList<int>>("statuses");
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("members");
        QTest::newRow("clear") << 1 << QByteArrayList { "-rw-r--r-- root/root 6 2026-01-01 00:00 /a" }
                               << QList<int> { 0, 0, 0 } << 0 << 1;
        QTest::newRow("tar 1 warns")
            << 1 << QByteArrayList { "/usr/bin/tar: /x: Warning: Cannot open: Permission denied" }
            << QList<int> { 1 } << 1 << 0;
        QTest::newRow("disk full in split")
            << 1
            << QByteArrayList { "/usr/bin/split: /d/a.aaa: No space left on device",
                   "error writing output file", "/usr/bin/tar: Child returned status 141",
                   "/usr/bin/tar: Error is not recoverable: exiting now" }
            << QList<int> { 2, 1, 1 } << 2 << 0;
        QTest::newRow("disk full in tar's own write")
            << 1
            << QByteArrayList { "/usr/bin/tar: /d/a.tar: Wrote only 4096 of 10240 bytes",
                   "/usr/bin/tar: Error is not recoverable: exiting now" }
            << QList<int> { 2 } << 2 << 0;
        QTest::newRow("first stage SIGPIPE") << 1 << QByteArrayList {} << QList<int> { 141, 1 } << 2 << 0;
        QTest::newRow("last stage fails") << 1 << QByteArrayList {} << QList<int> { 0, 0, 1 } << 2 << 0;
        QTest::newRow("wrong password")
            << 3
            << QByteArrayList { "bad decrypt", "40E7:error:1C800064:Provider routines::bad decrypt:../x.c:1:",
                   "/usr/bin/tar: This does not look like a tar archive",
                   "/usr/bin/tar: Skipping to next header",
                   "/usr/bin/tar: Exiting with failure status due to previous errors" }
            << QList<int> { 1, 2 } << 2 << 1;
        QTest::newRow("restore member missing")
            << 3
            << QByteArrayList { "/usr/bin/tar: x/nothere: Not found in archive",
                   "/usr/bin/tar: Exiting with failure status due to previous errors" }
            << QList<int> { 2 } << 1 << 0;
        QTest::newRow("truncated") << 3
                                   << QByteArrayList { "/usr/bin/tar: Unexpected EOF in archive",
                                          "/usr/bin/tar: Not found in archive" }
                                   << QList<int> { 2 } << 3 << 0;
        QTest::newRow("quiet lines") << 1
                                     << QByteArrayList { "tar: Removing leading `/' from member names",
                                            "*** WARNING : deprecated key derivation used.",
                                            "Using -iter or -pbkdf2 would be better.",
                                            "drwxr-xr-x   Creating directory: tmp",
                                            "Renaming \xE2\x80\x98"
                                            "d/f\xE2\x80\x99 to \xE2\x80\x98"
                                            "d/f.~kvr1.0~\xE2\x80\x99" }
                                     << QList<int> { 0 } << 0 << 0;
    }
    void classifyAndStatus()
    {
        QFETCH(int, operation);
        QFETCH(QByteArrayList, lines);
        QFETCH(QList<int>, statuses);
        QFETCH(int, bits);
        QFETCH(int, members);
        CBackup project(QStringLiteral("P"));
        IBackup* face = project.getIBackup();
        face->resetJobCounters();
        for (const QByteArray& line : lines)
            face->classifyLine(line);
        CBackupTaskDesc task;
        task.operation = operation;
        task.tarStage = operation == CBackupTaskDesc::OpRestore ? int(statuses.size()) - 1 : 0;
        ArchiveJobEnd end;
        end.endLineSeen = true;
        end.statuses = statuses;
        QCOMPARE(int(face->endStatusFor(task, end)), bits);
        QCOMPARE(int(face->memberLines()), members);
        if (QByteArray(QTest::currentDataTag()) == "quiet lines")
            QCOMPARE(face->renamedFiles().value(0).second, QStringLiteral("d/f.~kvr1.0~"));
    }

    void buildPasswordFlows()
    {
        MemoryKeychain keychain;
        ScriptedUiPrompts prompts;
        CBackup project(QStringLiteral("P"));
        IBackup* face = project.getIBackup();
        project.setPasswordInKeychain(true);
        // No digest yet: a new password, typed twice, whose digest is kept.
        prompts.expectProjectPassword(QStringLiteral("one"), true);
        QCOMPARE(face->getBackupPasswordByUser(), QStringLiteral("one"));
        QCOMPARE(prompts.projectPasswordRequests.last().type, 2);
        QVERIFY(project.passwordDigest().correspondsToPassword(QStringLiteral("one")));
        QCOMPARE(ProjectKeychain::read(project.name(), project.getUUID()), QStringLiteral("one"));
        // A digest and the box on: the remembered password that matches it, without asking.
        QCOMPARE(face->getBackupPasswordByUser(), QStringLiteral("one"));
        QCOMPARE(prompts.projectPasswordRequests.size(), 1);
        // Nothing remembered: the existing password, tested against it.
        QVERIFY(ProjectKeychain::remove(project.name(), project.getUUID()));
        prompts.expectProjectPassword(QStringLiteral("one"), true);
        QCOMPARE(face->getBackupPasswordByUser(), QStringLiteral("one"));
        QCOMPARE(prompts.projectPasswordRequests.last().type, 1);
        QVERIFY(prompts.projectPasswordRequests.last().canChangePassword);
        QVERIFY(ProjectKeychain::remove(project.name(), project.getUUID()));
        prompts.expectProjectPassword(QStringLiteral("two"), true);
        QVERIFY(face->getBackupPasswordByUser().isNull());
        QVERIFY(project.passwordDigest().correspondsToPassword(QStringLiteral("one")));
        // An empty answer changes the password: a new one is asked for.
        prompts.expectProjectPassword(QStringLiteral(""), true);
        prompts.expectProjectPassword(QStringLiteral("new"), true);
        QCOMPARE(face->getBackupPasswordByUser(), QStringLiteral("new"));
        QCOMPARE(prompts.projectPasswordRequests.last().type, 2);
        QVERIFY(project.passwordDigest().correspondsToPassword(QStringLiteral("new")));
        // The box switched off deletes the stored item (one that does not match, so that the
        // prompt is shown).
        QVERIFY(ProjectKeychain::write(project.name(), project.getUUID(), QStringLiteral("stale")));
        prompts.expectProjectPassword(QStringLiteral("new"), false);
        QCOMPARE(face->getBackupPasswordByUser(), QStringLiteral("new"));
        QVERIFY(!project.passwordInKeychain());
        QVERIFY(!ProjectKeychain::exists(project.name(), project.getUUID()));
        // Cancel: no answer, nothing changes.
        prompts.expectProjectPassword(QString());
        QVERIFY(face->getBackupPasswordByUser().isNull());
        QVERIFY(project.passwordDigest().correspondsToPassword(QStringLiteral("new")));
        QCOMPARE(prompts.pending(), 0);
        QVERIFY(prompts.unexpected.isEmpty());
    }

    void statusLineCutAtCharacter()
    {
        const QString text = QString(1500, QChar(0xE9)); // 3,000 bytes of "é"
        const QByteArray cut = IBackup::statusLineText(text).toUtf8();
        QCOMPARE(cut.size(), 2046);
        QCOMPARE(QString::fromUtf8(cut), QString(1023, QChar(0xE9)));
        QCOMPARE(IBackup::statusLineText(QStringLiteral("e") + text).toUtf8().size(), 2045);
    }

    void noEndLineAfterStop()
    {
        CBackup project(QStringLiteral("P"));
        CBackupTaskDesc task;
        ArchiveJobEnd end;
        end.stopped = true;
        QCOMPARE(int(project.getIBackup()->endStatusFor(task, end)), 0x4);
        end.stopped = false;
        QCOMPARE(int(project.getIBackup()->endStatusFor(task, end)), 0x2);
    }
};

QTEST_GUILESS_MAIN(TestArchiveRunner)
#include "tst_archiverunner.moc"
