// kv-test: labels=unit timeout=180
#include "../e2e/E2eWorkspace.h"
#include "FakeSyncRunController.h"
#include "KvTest.h"
#include "TempTree.h"
#include "platform/ProcessTable.h"
#include "sync/ISynchron.h"
#include "sync/ISynchronContainer.h"
#include "utilities/IVolumeBase.h"

#include <QtTest>
#include <algorithm>

// kv-run-project --kit sync: a synchronization project of a workspace run end to end with real
// rsync on plain folders.
class TestSyncDriver : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void runs_data();
    void runs();
    void refusedCommandLines_data();
    void refusedCommandLines();
    void damagedListIsLeftAlone();
    void scheduleChecksRunDueProjectsInTurn();
    void bothWaysRunsTwoPasses();
    void brokenTool_data();
    void brokenTool();
    void stopLeavesNothingOfTheRun();
    void readmeShowsAndRunsTheKits();
    void analysisWritesItsTree();

private:
    struct Run
    {
        int code = -1;
        QString last;
        QByteArray out;
        QByteArray err;
    };
    Run driver(const QStringList& arguments, const QString& workspace = QString(), const QString& contents = QString());
    // A copy of the application's tree (links to its files) whose rsync3 is the script, or missing
    // when the script is empty.
    QString contentsWithTool(const QByteArray& script);
    void writeWorkspace(const QString& first, const QString& second, int direction = 0);

    std::unique_ptr<TempTree> m_tree;
    QString m_ws;
};

void TestSyncDriver::init()
{
    m_tree = std::make_unique<TempTree>(QStringLiteral("syncdriver"));
    m_ws = m_tree->filePath(QStringLiteral("ws"));
    QVERIFY(QDir().mkpath(m_ws));
}

void TestSyncDriver::cleanup()
{
    m_tree.reset();
}

void TestSyncDriver::writeWorkspace(const QString& first, const QString& second, int direction)
{
    IVolumeBase::shared().fill();
    ISynchronContainer container(std::make_unique<FakeSyncRunController>(), m_ws);
    container.reInit();
    auto P = container.createNewSynchron(QStringLiteral("Mirror"), 0);
    P->setDirection(direction);
    P->setOptionDelete(direction != 2);
    P->setFirstFolder(first);
    P->setSecondFolder(second);
    QVERIFY(container.save());
}

TestSyncDriver::Run TestSyncDriver::driver(const QStringList& arguments, const QString& workspace, const QString& contents)
{
    QProcess p;
    if (!contents.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("KV_APP_CONTENTS"), contents);
        p.setProcessEnvironment(env);
    }
    p.start(KvTest::appContentsDir() + QStringLiteral("/MacOS/kv-run-project"),
        QStringList { QStringLiteral("--workspace"), workspace.isEmpty() ? m_ws : workspace } + arguments);
    p.waitForFinished(60000);
    Run r;
    r.code = p.exitCode();
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    const QList<QByteArray> lines = r.out.trimmed().split('\n');
    r.last = QString::fromUtf8(lines.isEmpty() ? QByteArray() : lines.last());
    return r;
}

QString TestSyncDriver::contentsWithTool(const QByteArray& script)
{
    const QDir real(KvTest::appContentsDir());
    const QString copy = m_tree->filePath(QStringLiteral("Contents"));
    QDir().mkpath(copy + QStringLiteral("/Resources"));
    for (const QString& name : real.entryList(QDir::AllEntries | QDir::NoDotAndDotDot))
        if (name != QLatin1String("Resources"))
            QFile::link(real.filePath(name), copy + QLatin1Char('/') + name);
    const QDir resources(real.filePath(QStringLiteral("Resources")));
    for (const QString& name : resources.entryList(QDir::AllEntries | QDir::NoDotAndDotDot))
        if (name != QLatin1String("rsync3"))
            QFile::link(resources.filePath(name), copy + QStringLiteral("/Resources/") + name);
    if (!script.isEmpty()) {
        m_tree->writeFile(QStringLiteral("Contents/Resources/rsync3"), "#!/bin/sh\n" + script, 0755);
    }
    return copy;
}

void TestSyncDriver::runs_data()
{
    QTest::addColumn<QString>("second"); // relative to the tree
    QTest::addColumn<bool>("scheduled");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("last");
    QTest::addColumn<QString>("stderrLine");
    QTest::newRow("by hand") << "right" << false << 0 << "0 - Synchronization was successful." << "";
    QTest::newRow("by hand, nested")
        << "left/inner" << false << 2
        << "2 - the project \"Mirror\" is not ready: Folders was't selected correctly" << "";
    QTest::newRow("scheduled, nested") << "left/inner" << true << 1 << "1 - Synchronize failed"
                                       << "Folders was't selected correctly";
    QTest::newRow("scheduled, destination missing")
        << "missing" << true << 1 << "1 - Synchronize failed" << "Destination folder not found";
}

void TestSyncDriver::runs()
{
    QFETCH(QString, second);
    QFETCH(bool, scheduled);
    QFETCH(int, code);
    QFETCH(QString, last);
    QFETCH(QString, stderrLine);
    const QString left = m_tree->filePath(QStringLiteral("left"));
    QVERIFY(QDir().mkpath(left + QStringLiteral("/inner")));
    QVERIFY(QDir().mkpath(m_tree->filePath(QStringLiteral("right"))));
    QVERIFY(m_tree->writeFile(QStringLiteral("left/a.txt"), "a"));
    writeWorkspace(left, m_tree->filePath(second));
    const QString argv = m_tree->filePath(QStringLiteral("argv"));
    QStringList args { "--kit", "sync", "--project", "Mirror", "--argv-out", argv };
    if (scheduled)
        args << QStringLiteral("--scheduled");
    const Run r = driver(args);
    QCOMPARE(r.last, last);
    QCOMPARE(r.code, code);
    if (!stderrLine.isEmpty())
        QVERIFY2(r.err.contains(stderrLine.toUtf8()), r.err.constData());
    QVERIFY(!r.out.contains("prompt:"));
    // Only a run that copies leaves a vector; a refused one copies nothing.
    QFile vectors(argv);
    const QByteArray recorded = vectors.open(QIODevice::ReadOnly) ? vectors.readAll() : QByteArray();
    QCOMPARE(!recorded.isEmpty(), code == 0);
    QCOMPARE(QFileInfo::exists(m_tree->filePath(QStringLiteral("right/a.txt"))), code == 0);
    QVERIFY(!QFileInfo::exists(m_tree->filePath(QStringLiteral("left/inner/a.txt"))));
    if (code == 0) {
        // The lists are saved at the end, with the run's date.
        ISynchronContainer container(std::make_unique<FakeSyncRunController>(), m_ws);
        container.reInit();
        QVERIFY(container.synchronByIndex(0, 0)->lastProcessDate().isValid());
    }
}

void TestSyncDriver::refusedCommandLines_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("identifier") << QStringList { "--kit", "sync", "--uuid", "X" };
    QTest::newRow("confirm outside clones") << QStringList { "--kit", "sync", "--project", "Mirror", "--confirm" };
    QTest::newRow("no such project") << QStringList { "--kit", "sync", "--project", "Other" };
    QTest::newRow("blank entry never matches")
        << QStringList { "--kit", "sync", "--project", ISynchron::defaultName(0) };
}

void TestSyncDriver::refusedCommandLines()
{
    QFETCH(QStringList, arguments);
    QVERIFY(QDir().mkpath(m_tree->filePath(QStringLiteral("left"))));
    QVERIFY(QDir().mkpath(m_tree->filePath(QStringLiteral("right"))));
    writeWorkspace(m_tree->filePath(QStringLiteral("left")), m_tree->filePath(QStringLiteral("right")));
    const Run r = driver(arguments);
    QCOMPARE(r.code, 2);
    QVERIFY(r.last.startsWith(QStringLiteral("2 - ")));
}

void TestSyncDriver::damagedListIsLeftAlone()
{
    QVERIFY(QDir().mkpath(m_ws + QStringLiteral("/Syncs")));
    QVERIFY(m_tree->writeFile(QStringLiteral("ws/Syncs/Projects.plist"), "<plist><dict><key>broken"));
    const Run r = driver({ "--kit", "sync", "--project", "Mirror" });
    QCOMPARE(r.code, 2);
    QFile f(m_ws + QStringLiteral("/Syncs/Projects.plist"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("<plist><dict><key>broken"));
    QCOMPARE(QDir(m_ws + QStringLiteral("/Syncs")).entryList(QDir::Files), QStringList { "Projects.plist" });
}

// A synchronization and a clone due at the same minute: the first check runs the
// synchronization, the second the clone, the third finds nothing; the saved lists hold the moved
// next dates.
void TestSyncDriver::scheduleChecksRunDueProjectsInTurn()
{
    const QDateTime due(QDate(2026, 12, 11), QTime(7, 0));
    for (const char* folder : { "left", "right", "source", "target" })
        QVERIFY(QDir().mkpath(m_tree->filePath(QLatin1String(folder))));
    QVERIFY(m_tree->writeFile(QStringLiteral("left/a.txt"), "a"));
    {
        IVolumeBase::shared().fill();
        ISynchronContainer container(std::make_unique<FakeSyncRunController>(), m_ws);
        container.reInit();
        auto sync = container.createNewSynchron(QStringLiteral("Mirror\tA"), 0);
        sync->setFirstFolder(m_tree->filePath(QStringLiteral("left")));
        sync->setSecondFolder(m_tree->filePath(QStringLiteral("right")));
        auto clone = container.createNewSynchron(QStringLiteral("Copy"), 1);
        clone->setFirstFolder(m_tree->filePath(QStringLiteral("source")));
        clone->setSecondFolder(m_tree->filePath(QStringLiteral("target")));
        for (const auto& p : { sync, clone }) {
            p->setScheduled(true);
            p->setNextProcessDate(due);
        }
        QVERIFY(container.save());
    }
    const QStringList check { "--kit", "sync", "--schedule-check", "--now", due.addSecs(60).toString(Qt::ISODate) };
    const Run first = driver(check);
    QCOMPARE(first.last, QStringLiteral("0 1 runs"));
    QVERIFY2(first.out.contains("run\t0\t-\tsync\tMirror\\tA\tSynchronization was successful.\n"),
        first.out.constData());
    QCOMPARE(first.code, 0);
    QVERIFY(QFileInfo::exists(m_tree->filePath(QStringLiteral("right/a.txt"))));
    // Both places of the clone lie on one volume: its check refuses it.
    const Run second = driver(check);
    QVERIFY2(second.out.contains("run\t1\t-\tclone\tCopy\t"), second.out.constData());
    QCOMPARE(second.last, QStringLiteral("1 1 runs"));
    QCOMPARE(second.code, 1);
    const Run third = driver(check);
    QCOMPARE(third.last, QStringLiteral("5 0 nothing due"));
    QCOMPARE(third.code, 5);
    ISynchronContainer container(std::make_unique<FakeSyncRunController>(), m_ws);
    container.reInit();
    for (int type : { 0, 1 })
        QVERIFY(container.synchronByIndex(0, type)->getNextProcessDate() > due);
}

// Both ways through the driver: two rsync jobs, first to second and then second to first, each
// side gets the other's files, and the indicator covers 0-50 in the first pass and 50-100 in the
// second.
void TestSyncDriver::bothWaysRunsTwoPasses()
{
    const QString left = m_tree->filePath(QStringLiteral("left")), right = m_tree->filePath(QStringLiteral("right"));
    QVERIFY(QDir().mkpath(left));
    QVERIFY(QDir().mkpath(right));
    for (int i = 0; i < 40; ++i) {
        QVERIFY(m_tree->writeFile(QStringLiteral("left/l%1.txt").arg(i), "l"));
        QVERIFY(m_tree->writeFile(QStringLiteral("right/r%1.txt").arg(i), "r"));
    }
    writeWorkspace(left, right, 2);
    const QString argv = m_tree->filePath(QStringLiteral("argv"));
    const Run r = driver({ "--kit", "sync", "--project", "Mirror", "--argv-out", argv });
    QCOMPARE(r.last, QStringLiteral("0 - Synchronization was successful."));
    QFile f(argv);
    QVERIFY(f.open(QIODevice::ReadOnly));
    // Each pass a job of its own.
    const E2e::ArgvJobs jobs = E2e::readArgvJobs(f.readAll());
    QCOMPARE(jobs.vectors.size(), 2);
    QCOMPARE(jobs.jobEnds, 2);
    QCOMPARE(jobs.vectors[0].mid(jobs.vectors[0].size() - 2), QStringList({ left + "/", right }));
    QCOMPARE(jobs.vectors[1].mid(jobs.vectors[1].size() - 2), QStringList({ right + "/", left }));
    QVERIFY(QFileInfo::exists(right + QStringLiteral("/l39.txt")));
    QVERIFY(QFileInfo::exists(left + QStringLiteral("/r39.txt")));

    // The indicator lines, split at the second job's pgid line.
    QList<int> first, second;
    int jobsSeen = 0;
    for (const QByteArray& line : r.err.split('\n')) {
        if (line.startsWith("pgid: "))
            ++jobsSeen;
        else if (line.startsWith("indicator: "))
            (jobsSeen < 2 ? first : second) << line.mid(11).toInt();
    }
    QCOMPARE(jobsSeen, 2);
    QVERIFY2(!first.isEmpty() && !second.isEmpty(), r.err.constData());
    QVERIFY2(*std::max_element(first.begin(), first.end()) <= 50, r.err.constData());
    QVERIFY2(*std::max_element(first.begin(), first.end()) > 0, r.err.constData());
    // The second pass starts where the first ended, reaches 100, and the run resets it at its end.
    QCOMPARE(second.last(), 0);
    second.removeLast();
    QVERIFY2(!second.isEmpty() && *std::min_element(second.begin(), second.end()) >= 50, r.err.constData());
    QVERIFY2(second.contains(100), r.err.constData());
    // It never moves back while the run goes on.
    const QList<int> shown = first + second;
    QVERIFY2(std::is_sorted(shown.begin(), shown.end()), r.err.constData());
}

// The application's rsync missing, or killed from outside after a few lines: a clear failure,
// never a success.
void TestSyncDriver::brokenTool_data()
{
    QTest::addColumn<QByteArray>("tool"); // empty: missing
    QTest::addColumn<bool>("scheduled");
    QTest::addColumn<QString>("last");
    QTest::addColumn<QString>("stderrLine");
    QTest::newRow("missing, by hand") << QByteArray() << false << "1 - Synchronize failed" << "Tool RSYNC not found";
    QTest::newRow("missing, scheduled") << QByteArray() << true << "1 - Synchronize failed" << "Tool RSYNC not found";
    QTest::newRow("killed after a few lines")
        << QByteArray("echo 'building file list ... done'\necho 'a.txt'\nkill -9 $$\n") << false
        << "1 - Synchronize failed." << "";
}

void TestSyncDriver::brokenTool()
{
    QFETCH(QByteArray, tool);
    QFETCH(bool, scheduled);
    QFETCH(QString, last);
    QFETCH(QString, stderrLine);
    const QString left = m_tree->filePath(QStringLiteral("left")), right = m_tree->filePath(QStringLiteral("right"));
    QVERIFY(QDir().mkpath(left) && QDir().mkpath(right));
    QVERIFY(m_tree->writeFile(QStringLiteral("left/a.txt"), "a"));
    writeWorkspace(left, right);
    QStringList args { "--kit", "sync", "--project", "Mirror" };
    if (scheduled)
        args << QStringLiteral("--scheduled");
    const Run r = driver(args, QString(), contentsWithTool(tool));
    QVERIFY2(r.last == last, QByteArray(r.out + r.err).constData());
    QCOMPARE(r.code, 1);
    if (!stderrLine.isEmpty())
        QVERIFY2(r.err.contains(stderrLine.toUtf8()), r.err.constData());
}

// SIGTERM mid-run stops it as the stop button does: "Terminated by user", exit 4, nothing of the
// recorded process group left.
void TestSyncDriver::stopLeavesNothingOfTheRun()
{
    const QString left = m_tree->filePath(QStringLiteral("left")), right = m_tree->filePath(QStringLiteral("right"));
    QVERIFY(QDir().mkpath(left) && QDir().mkpath(right));
    writeWorkspace(left, right);
    // An rsync that works on in a child of its own.
    const QString contents = contentsWithTool("echo 'building file list ... done'\nsleep 60 &\nwait\n");
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("KV_APP_CONTENTS"), contents);
    p.setProcessEnvironment(env);
    p.start(KvTest::appContentsDir() + QStringLiteral("/MacOS/kv-run-project"),
        { "--workspace", m_ws, "--kit", "sync", "--project", "Mirror" });
    QByteArray err;
    QElapsedTimer waited;
    waited.start();
    while (!err.contains("pgid: ") || !err.mid(err.indexOf("pgid: ")).contains('\n')) {
        QVERIFY2(waited.elapsed() < 20000, err.constData());
        QTest::qWait(100);
        err += p.readAllStandardError();
    }
    const pid_t group = pid_t(err.mid(err.indexOf("pgid: ") + 6).split('\n').first().toLong());
    QVERIFY(group > 0);
    QTest::qWait(300);
    p.terminate();
    QVERIFY(p.waitForFinished(30000));
    const QList<QByteArray> lines = p.readAllStandardOutput().trimmed().split('\n');
    QCOMPARE(QString::fromUtf8(lines.last()), QStringLiteral("4 - Terminated by user"));
    QCOMPARE(p.exitCode(), 4);
    QVERIFY(ProcessTable::groupMembers(group).isEmpty());
}

// bench/README.md shows both minimal lists byte for byte, and its example lines run.
void TestSyncDriver::readmeShowsAndRunsTheKits()
{
    QFile page(KvTest::sourceDir() + QStringLiteral("/bench/README.md"));
    QVERIFY(page.open(QIODevice::ReadOnly));
    const QByteArray readme = page.readAll();
    for (const char* kind : { "sync", "clone" }) {
        QFile f(KvTest::sourceDir() + QStringLiteral("/tests/fixtures/%1s-minimal.plist").arg(QLatin1String(kind)));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray open = "```" + QByteArray(kind) + "-xml\n";
        const qsizetype begin = readme.indexOf(open);
        QVERIFY(begin >= 0);
        const qsizetype end = readme.indexOf("```", begin + open.size());
        QCOMPARE(readme.mid(begin + open.size(), end - begin - open.size()), f.readAll());
    }
    // The example's workspace holds the minimal list with its places moved into this tree.
    QFile fixture(KvTest::sourceDir() + QStringLiteral("/tests/fixtures/syncs-minimal.plist"));
    QVERIFY(fixture.open(QIODevice::ReadOnly));
    const QByteArray base = m_tree->filePath(QStringLiteral("places")).mid(1).toUtf8() + '/';
    QByteArray list = fixture.readAll();
    list.replace("var/tmp/kv-sync/", base);
    const QString ws = m_tree->filePath(QStringLiteral("ws"));
    QVERIFY(QDir().mkpath(ws + QStringLiteral("/Syncs")));
    QVERIFY(m_tree->writeFile(QStringLiteral("ws/Syncs/Projects.plist"), list));
    for (const char* folder : { "left", "right", "a", "b" })
        QVERIFY(QDir().mkpath(m_tree->filePath(QStringLiteral("places/") + QLatin1String(folder))));
    QVERIFY(m_tree->writeFile(QStringLiteral("places/left/x.txt"), "x"));
    const qsizetype at = readme.indexOf("Example (one test runs each line):", readme.indexOf("--kit sync and --kit clone"));
    QVERIFY(at >= 0);
    const qsizetype next = readme.indexOf("\n## ", at);
    const QList<QByteArray> lines = readme.mid(at, next < 0 ? -1 : next - at).split('\n');
    int ran = 0;
    for (const QByteArray& line : lines) {
        if (!line.startsWith("    kv-run-project --workspace ws "))
            continue;
        QStringList args = QProcess::splitCommand(QString::fromUtf8(line.mid(34).trimmed()));
        const Run r = driver(args, ws);
        QVERIFY2(r.code == 0 || r.code == 5, QByteArray(line + "\n" + r.out + r.err).constData());
        ++ran;
    }
    QCOMPARE(ran, 2);
    QVERIFY(QFileInfo::exists(m_tree->filePath(QStringLiteral("places/right/x.txt"))));
}

// --analyze: the dry run through the real engine; the tree and the engine's program are written
// out, nothing is copied.
void TestSyncDriver::analysisWritesItsTree()
{
    const QString left = m_tree->filePath(QStringLiteral("left"));
    QVERIFY(QDir().mkpath(left + QStringLiteral("/inner")));
    QVERIFY(QDir().mkpath(m_tree->filePath(QStringLiteral("right/gone"))));
    QVERIFY(m_tree->writeFile(QStringLiteral("left/a.txt"), "a"));
    writeWorkspace(left, m_tree->filePath(QStringLiteral("right")));
    const QString treeOut = m_tree->filePath(QStringLiteral("tree.out"));
    const QString programOut = m_tree->filePath(QStringLiteral("program.out"));
    const QString argvOut = m_tree->filePath(QStringLiteral("argv.out"));
    const Run r = driver({ "--kit", "sync", "--project", "Mirror", "--analyze", "--tree-out", treeOut,
        "--program-out", programOut, "--argv-out", argvOut });
    QCOMPARE(r.last, QStringLiteral("0 3 Analyze completed"));
    QCOMPARE(r.code, 0);
    // The engine's own start vector: the engine and its program file, nothing more.
    QFile a(argvOut);
    QVERIFY(a.open(QIODevice::ReadOnly));
    const QList<QByteArray> argv = a.readAll().split('\0');
    QVERIFY(argv.size() >= 3);
    QCOMPARE(argv.at(0), QFile::encodeName(KvTest::appContentsDir() + QStringLiteral("/Resources/qv_proc")));
    QVERIFY2(argv.at(1).endsWith(".txt") && argv.at(2).isEmpty(), argv.at(1).constData());
    QVERIFY2(QByteArray(r.out + r.err).contains("pgid: "), r.out.constData());
    QVERIFY2(r.err.contains("timing: engine-eof "), r.err.constData());
    QFile t(treeOut);
    QVERIFY(t.open(QIODevice::ReadOnly));
    QCOMPARE(t.readAll(),
        QByteArray("00000145 1\ta.txt") + '\0' + "00000145 1\tinner" + '\0' + "00000162 1\tgone" + '\0');
    QFile p(programOut);
    QVERIFY(p.open(QIODevice::ReadOnly));
    const QByteArray program = p.readAll();
    QVERIFY(program.endsWith('\0'));
    QVERIFY(program.contains("\"Params\":\t\"-n "));
    QVERIFY(!QFileInfo::exists(m_tree->filePath(QStringLiteral("right/a.txt"))));
    QVERIFY(QFileInfo::exists(m_tree->filePath(QStringLiteral("right/gone"))));

    // Both ways: the second pass adds what goes back to the first folder.
    QVERIFY(QFile::remove(m_ws + QStringLiteral("/Syncs/Projects.plist")));
    writeWorkspace(left, m_tree->filePath(QStringLiteral("right")), 2);
    const Run both = driver({ "--kit", "sync", "--project", "Mirror", "--analyze", "--tree-out", treeOut });
    QCOMPARE(both.last, QStringLiteral("0 3 Analyze completed"));
    QVERIFY(t.open(QIODevice::ReadOnly) || (t.close(), t.open(QIODevice::ReadOnly)));
    t.seek(0);
    QCOMPARE(t.readAll(),
        QByteArray("00000145 1\ta.txt") + '\0' + "00000145 1\tinner" + '\0' + "0000014a 1\tgone" + '\0');

    // Not ready for an analysis: refused before anything runs.
    QVERIFY(QFile::remove(m_ws + QStringLiteral("/Syncs/Projects.plist")));
    writeWorkspace(left, left);
    const Run refused = driver({ "--kit", "sync", "--project", "Mirror", "--analyze" });
    QCOMPARE(refused.code, 2);
    QVERIFY2(refused.last.contains("cannot be analysed"), qPrintable(refused.last));
}

QTEST_MAIN(TestSyncDriver)
#include "tst_syncdriver.moc"
