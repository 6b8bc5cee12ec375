// kv-test: labels=unit timeout=180
#include "KvTest.h"
#include "TempTree.h"
#include "platform/NameCodec.h"
#include "platform/ProcessTable.h"
#include "platform/Subprocess.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

QString enginePath()
{
    return KvTest::appContentsDir() + QStringLiteral("/Resources/qv_proc");
}

// A "synchronize" program as the runner fills it.
QByteArray program(const QString& tool, const QString& source, const QString& dest, const QString& params,
    const QStringList& exArgs = {}, const QString& exFile = {})
{
    QJsonObject data { { "SourceFolder", QJsonObject { { "Path", source } } },
        { "DestFolder", QJsonObject { { "Path", dest } } }, { "toolPath", tool }, { "Params", params },
        { "exFile1Path", exFile.isEmpty() ? QString() : "NOE::--exclude-from=\"" + exFile + "\" " },
        { "exFile2Path", "" }, { "exArgs", QJsonArray::fromStringList(exArgs) } };
    QJsonObject root { { "Program", "synchronize" },
        { "Phases",
            QJsonObject { { "PhaseList", QJsonArray { "synchronize" } },
                { "InitParams", QJsonObject { { "InterfaceDataList", data } } } } } };
    return QJsonDocument(root).toJson();
}

struct EngineRun
{
    int exitCode = -1;
    QByteArrayList lines;
    bool has(const QByteArray& line) const { return lines.contains(line); }
    bool anyStartsWith(const QByteArray& prefix) const
    {
        for (const QByteArray& l : lines)
            if (l.startsWith(prefix))
                return true;
        return false;
    }
};

EngineRun runEngine(const QString& programFile, const QStringList& extra = {})
{
    Subprocess::Options o;
    o.program = enginePath();
    o.arguments = QStringList { programFile } + extra;
    const Subprocess::Result r = Subprocess::run(o, 60000);
    EngineRun run;
    run.exitCode = r.exitCode;
    run.lines = r.out.split('\n');
    if (!run.lines.isEmpty() && run.lines.last().isEmpty())
        run.lines.removeLast();
    return run;
}

// A stand-in for rsync: a script in the tree.
QString script(TempTree& tree, const std::string& name, const QByteArray& body)
{
    tree.writeFile(name, "#!/bin/sh\n" + body, 0755);
    return tree.filePath(name);
}

// "name size mtime" of every entry below the folder, to show a tree unchanged.
QStringList snapshotOf(const QString& folder)
{
    Subprocess::Options o;
    o.program = QStringLiteral("find");
    o.arguments = QStringList { folder, "-printf", "%P %s %T@ %y\\n" };
    QStringList out = QString::fromUtf8(Subprocess::run(o, 10000).out).split('\n');
    out.sort();
    return out;
}

} // namespace

class TestQvProc : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void analysesTwoFoldersWithoutTouchingThem();
    void badProgramsAreRefused_data();
    void badProgramsAreRefused();
    void commandEndsAndLongLines_data();
    void commandEndsAndLongLines();
    void stopEndsEveryChild_data();
    void stopEndsEveryChild();
};

void TestQvProc::initTestCase()
{
    QVERIFY2(QFileInfo(enginePath()).isExecutable(), qPrintable(enginePath()));
}

void TestQvProc::analysesTwoFoldersWithoutTouchingThem()
{
    TempTree left(QStringLiteral("left")), right(QStringLiteral("right")), work(QStringLiteral("work"));
    left.writeFile(std::string("new.txt"), "new");
    left.writeFile(std::string("changed.txt"), "left side, longer");
    right.writeFile(std::string("changed.txt"), "right");
    left.mkdir(std::string("folder"));
    left.symlink("new.txt", "link");
    left.writeFile(std::string("line\nbreak"), "x");
    left.writeFile(std::string("caf\xe9"), "x");
    left.writeFile(std::string(".hidden"), "x");
    right.mkdir(std::string("old/deep"));
    // A folder named like a command: used literally.
    left.writeFile(std::string("$(touch X)/f"), "x");
    work.writeFile(std::string("excludes.txt"), "/changed.txt\n");
    const QStringList before = snapshotOf(right.path());
    const QStringList leftBefore = snapshotOf(left.path());

    work.writeFile(std::string("p.json"),
        program("/usr/bin/rsync", left.path(), right.path(),
            "-t -l -v -r --delete-before --progress --no-inc-recursive", { "--exclude=.*" }, work.filePath(std::string("excludes.txt"))),
        0600);
    const EngineRun run = runEngine(work.filePath(std::string("p.json")));
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.lines.size() > 3);
    QVERIFY(run.lines.first().startsWith("qv_proc_pid "));
    QVERIFY(run.lines.first().mid(11).trimmed().toLong() > 0);
    QCOMPARE(run.lines.last(), QByteArray("ic:: end"));
    const int commandLine = run.lines.indexOf(
        "ii::command_line /usr/bin/rsync -n -t -l -v -r --delete-before --progress --no-inc-recursive --exclude=.* "
        "--exclude-from="
        + NameCodec::encode(work.filePath(std::string("excludes.txt"))) + " " + NameCodec::encode(left.path())
        + "/ " + NameCodec::encode(right.path()));
    QVERIFY2(commandLine == 1, run.lines.join('\n').constData());
    for (const QByteArray item : { "wi::new.txt", "wi::folder/", "wi::link -> new.txt", "wi::line\\#012break",
             "wi::caf\\#351", "wi::deleting old/deep/", "wi::deleting old/", "wi::$(touch X)/f" })
        QVERIFY2(run.has(item), item.constData());
    QVERIFY(!run.anyStartsWith("wi::changed.txt"));
    QVERIFY(!run.anyStartsWith("wi::.hidden"));
    QVERIFY(!run.anyStartsWith("er::"));
    // rsync's file-list counts, separated by carriage returns, arrive as items of their own.
    QVERIFY2(run.anyStartsWith("wi:: 0 files..."), run.lines.join('\n').constData());
    for (const QByteArray& l : run.lines)
        QVERIFY2(!l.contains('\r'), l.constData());
    QCOMPARE(snapshotOf(right.path()), before);
    QCOMPARE(snapshotOf(left.path()), leftBefore);
    QVERIFY(!QFileInfo::exists("X"));
}

void TestQvProc::badProgramsAreRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("missing") << "missing";
    QTest::newRow("malformed") << "malformed";
    QTest::newRow("group-writable") << "group-writable";
    QTest::newRow("another user's") << "other-owner";
    QTest::newRow("a symbolic link") << "symlink";
    QTest::newRow("in a folder others write") << "open-folder";
    QTest::newRow("no phases") << "no-phases";
    QTest::newRow("bad start parameters") << "bad-start";
}

void TestQvProc::badProgramsAreRefused()
{
    QFETCH(QString, kind);
    TempTree work(QStringLiteral("work"));
    TempTree left(QStringLiteral("left")), right(QStringLiteral("right"));
    const QByteArray good = program("/usr/bin/rsync", left.path(), right.path(), "-r -v");
    QString path = work.filePath(std::string("p.json"));
    QStringList extra;
    if (kind == "malformed")
        work.writeFile(std::string("p.json"), "{ \"Phases\": ", 0600);
    else if (kind == "group-writable")
        work.writeFile(std::string("p.json"), good, 0620);
    else if (kind == "other-owner") {
        work.writeFile(std::string("p.json"), good, 0600);
        QVERIFY(::chown(work.filePathStd("p.json").c_str(), 65534, 65534) == 0);
    } else if (kind == "symlink") {
        work.writeFile(std::string("real.json"), good, 0600);
        work.symlink("real.json", "p.json");
    } else if (kind == "open-folder") {
        work.writeFile(std::string("open/p.json"), good, 0600);
        QVERIFY(::chmod(work.filePathStd("open").c_str(), 0777) == 0);
        path = work.filePath(std::string("open/p.json"));
    } else if (kind == "no-phases")
        work.writeFile(std::string("p.json"), "{\"Phases\":{\"PhaseList\":[]}}", 0600);
    else if (kind == "bad-start") {
        work.writeFile(std::string("p.json"), good, 0600);
        extra << "{ not json";
    }
    const EngineRun run = runEngine(path, extra);
    QVERIFY(run.exitCode != 0);
    QVERIFY(run.lines.first().startsWith("qv_proc_pid "));
    QVERIFY2(run.anyStartsWith("er::"), run.lines.join('\n').constData());
    QVERIFY(!run.anyStartsWith("ic::"));
    QVERIFY(!run.anyStartsWith("ii::command_line"));
}

void TestQvProc::commandEndsAndLongLines_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArrayList>("expected"); // in this order, after the command line
    const QByteArray longName(16 * 1024, 'a');
    QTest::newRow("16 KB line whole, then more")
        << QByteArray("printf '2 files to consider\\n%s\\nnext\\n' " + longName + "\n") << 0
        << QByteArrayList { "wi::2 files to consider", "wi::" + longName, "pi::50", "wi::next", "pi::100",
               "ic:: end" };
    QTest::newRow("code 23 warns and completes")
        << QByteArray(
               "echo 'rsync: [sender] link_stat \"/x\" failed: No such file or directory (2)' >&2\nexit 23\n")
        << 0 << QByteArrayList { "wg::rsync ended with code 23: some files were not compared", "ic:: end" };
    QTest::newRow("other code fails the phase")
        << QByteArray("exit 12\n") << 1
        << QByteArrayList { "er::rsync failed with code 12", "ii::synchronize Phase not completed" };
    QTest::newRow("killed by a signal fails the phase")
        << QByteArray("kill -9 $$\n") << 1
        << QByteArrayList { "er::rsync was ended by signal 9", "ii::synchronize Phase not completed" };
}

void TestQvProc::commandEndsAndLongLines()
{
    QFETCH(QByteArray, body);
    QFETCH(int, exitCode);
    QFETCH(QByteArrayList, expected);
    TempTree work(QStringLiteral("work"));
    const QString tool = script(work, "tool", body);
    work.writeFile(std::string("p.json"),
        program(tool, work.filePath(std::string("a")), work.filePath(std::string("b")), ""), 0600);
    const EngineRun run = runEngine(work.filePath(std::string("p.json")));
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY(run.lines.size() >= 2);
    QVERIFY(run.lines[1].startsWith("ii::command_line "));
    QByteArrayList rest = run.lines.mid(2);
    rest.removeIf([](const QByteArray& l) { return l.startsWith("er::rsync: ") || l.startsWith("st::"); });
    QCOMPARE(rest, expected);
    QCOMPARE(run.anyStartsWith("ic::"), exitCode == 0);
}

void TestQvProc::stopEndsEveryChild_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("SIGTERM during a child") << "term";
    QTest::newRow("SIGHUP during a child") << "hup";
    QTest::newRow("reader gone") << "close";
}

void TestQvProc::stopEndsEveryChild()
{
    QFETCH(QString, how);
    TempTree work(QStringLiteral("work"));
    // A child that keeps writing, with a grandchild that sleeps.
    const QString tool = script(work, "tool", "sleep 30 &\nwhile :; do echo x; sleep 0.1; done\n");
    work.writeFile(std::string("p.json"),
        program(tool, work.filePath(std::string("a")), work.filePath(std::string("b")), ""), 0600);

    int out[2];
    QVERIFY(::pipe2(out, O_CLOEXEC) == 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    const QByteArray exe = NameCodec::encode(enginePath());
    const QByteArray file = NameCodec::encode(work.filePath(std::string("p.json")));
    char* argv[] = { const_cast<char*>(exe.constData()), const_cast<char*>(file.constData()), nullptr };
    pid_t pid = 0;
    QCOMPARE(posix_spawn(&pid, exe.constData(), &actions, &attr, argv, environ), 0);
    ::close(out[1]);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);

    QByteArray seen;
    char buf[4096];
    while (!seen.contains("wi::x\n")) {
        const ssize_t n = ::read(out[0], buf, sizeof buf);
        QVERIFY(n > 0);
        seen.append(buf, n);
    }
    QVERIFY(ProcessTable::groupMembers(pid).size() >= 3); // engine, tool, sleep
    QElapsedTimer timer;
    timer.start();
    if (how == "term")
        ::kill(pid, SIGTERM);
    else if (how == "hup")
        ::kill(pid, SIGHUP);
    else
        ::close(out[0]);
    if (how != "close") {
        while (true) {
            const ssize_t n = ::read(out[0], buf, sizeof buf);
            if (n <= 0)
                break;
            seen.append(buf, n);
        }
        ::close(out[0]);
    }
    int status = 0;
    QCOMPARE(::waitpid(pid, &status, 0), pid);
    QVERIFY(timer.elapsed() < 10000);
    QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) != 0);
    QVERIFY(!seen.contains("ic::"));
    // The tool's own children stay in the group; the shell's grandchild may outlive it briefly.
    QTRY_VERIFY_WITH_TIMEOUT(ProcessTable::groupMembers(pid).isEmpty(), 5000);
}

QTEST_GUILESS_MAIN(TestQvProc)
#include "tst_qvproc.moc"
