// kv-test: labels=unit timeout=120

#include "FakeToolDir.h"
#include "KvTest.h"
#include "platform/ProcessTable.h"
#include "platform/Subprocess.h"

#include <QtTest>
#include <atomic>
#include <csignal>
#include <thread>

namespace {

QString printargs()
{
    return KvTest::testBinDir() + QStringLiteral("/printargs");
}

QByteArray joinNul(const QList<QByteArray>& parts)
{
    QByteArray out;
    for (const QByteArray& p : parts)
        out += p + '\0';
    return out;
}

Subprocess::Options sh(const QString& script, const QStringList& args = {})
{
    Subprocess::Options o;
    o.program = QStringLiteral("/bin/sh");
    o.arguments = QStringList { QStringLiteral("-c"), script, QStringLiteral("sh") } + args;
    return o;
}

} // namespace

class TestSubprocess : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // Our programs ignore SIGPIPE; the children must still get it at its default.
        ::signal(SIGPIPE, SIG_IGN);
        QVERIFY(QFileInfo(printargs()).isExecutable());
    }

    void argumentsArriveLiterally_data()
    {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("quotes") << QStringLiteral("it's \"quoted\"") << QByteArray("it's \"quoted\"");
        QTest::newRow("command substitution")
            << QStringLiteral("$(touch canary)") << QByteArray("$(touch canary)");
        QTest::newRow("backquote") << QStringLiteral("`touch canary`") << QByteArray("`touch canary`");
        QTest::newRow("newline") << QStringLiteral("two\nlines") << QByteArray("two\nlines");
        QTest::newRow("leading dash") << QStringLiteral("-rf") << QByteArray("-rf");
        QTest::newRow("everything") << QStringLiteral("-x 'a' \"b\" $(c) `d` ; | & > < * ? [ ] \\ \n e")
                                    << QByteArray("-x 'a' \"b\" $(c) `d` ; | & > < * ? [ ] \\ \n e");
        QTest::newRow("empty") << QString() << QByteArray();
        QTest::newRow("not UTF-8") << (QStringLiteral("caf") + QChar(0xDCE9)) << QByteArray("caf\xe9");
        QTest::newRow("UTF-8") << QStringLiteral("Grüße €")
                               << QByteArray("Gr\xc3\xbc\xc3\x9f"
                                             "e \xe2\x82\xac");
    }

    void argumentsArriveLiterally()
    {
        QFETCH(QString, argument);
        QFETCH(QByteArray, bytes);
        QTemporaryDir cwd;
        Subprocess::Options o;
        o.program = printargs();
        o.arguments = { QStringLiteral("first"), argument, QStringLiteral("last") };
        o.workingDirectory = cwd.path();
        const Subprocess::Result r = Subprocess::run(o, 20000);
        QVERIFY2(r.succeeded(), qPrintable(r.error));
        QCOMPARE(r.out, joinNul({ "first", bytes, "last" }));
        QVERIFY(!QFile::exists(cwd.filePath(QStringLiteral("canary"))));
    }

    void argumentsReachFakeTool()
    {
        FakeToolDir tools;
        tools.addTool(QStringLiteral("kvfake"), "out\n", "err\n", 3);
        Subprocess::Options o;
        o.program = QStringLiteral("kvfake");
        o.arguments = { QStringLiteral("-n"), QStringLiteral("a b$(x)\n'"), QString() };
        const Subprocess::Result r = Subprocess::run(o, 20000);
        QVERIFY(r.started);
        QCOMPARE(r.exitCode, 3);
        QCOMPARE(r.out, QByteArray("out\n"));
        QCOMPARE(r.err, QByteArray("err\n"));
        QCOMPARE(tools.invocationStrings(QStringLiteral("kvfake")), QList<QStringList> { o.arguments });
        Subprocess::run(o, 20000);
        QCOMPARE(tools.invocationCount(QStringLiteral("kvfake")), 2);
    }

    void noStatusOrLastLineLost_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QByteArray>("err");
        QTest::addColumn<int>("code");
        QTest::newRow("no newline") << QStringLiteral("printf 'last line'; printf 'err tail' >&2; exit 7")
                                    << QByteArray("last line") << QByteArray("err tail") << 7;
        QTest::newRow("silent") << QStringLiteral("exit 0") << QByteArray() << QByteArray() << 0;
        QTest::newRow("status 23") << QStringLiteral("echo a; echo b >&2; exit 23") << QByteArray("a\n")
                                   << QByteArray("b\n") << 23;
        QTest::newRow("status 255") << QStringLiteral("printf x; exit 255") << QByteArray("x") << QByteArray()
                                    << 255;
    }

    void noStatusOrLastLineLost()
    {
        QFETCH(QString, script);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        QFETCH(int, code);
        for (int i = 0; i < 100; ++i) {
            const Subprocess::Result r = Subprocess::run(sh(script), 20000);
            QVERIFY(r.started);
            QCOMPARE(r.exitCode, code);
            QCOMPARE(r.signal, 0);
            QCOMPARE(r.out, out);
            QCOMPARE(r.err, err);
        }
    }

    void largeOutputInBoundedChunks()
    {
        // 300,000 bytes with no newline at the end, through the handlers.
        Subprocess p;
        QByteArray got;
        size_t largest = 0;
        std::atomic<int> ends { 0 };
        p.setStdoutHandler([&](const char* d, size_t n) {
            got.append(d, qsizetype(n));
            largest = std::max(largest, n);
        });
        p.setEndOfStreamHandler([&] { ++ends; });
        QString error;
        QVERIFY(p.start(sh(QStringLiteral("head -c 300000 /dev/zero | tr '\\0' 'x'; exit 4")), &error));
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitCode(), 4);
        QVERIFY(p.exitedNormally());
        QCOMPARE(got.size(), 300000);
        QVERIFY(largest <= Subprocess::ReadChunkSize);
        QCOMPARE(ends.load(), 2);
        QVERIFY(!p.isRunning());
        QVERIFY(!Subprocess::startedPids().contains(p.pid()));
    }

    void startFailures_data()
    {
        QTest::addColumn<QString>("program");
        QTest::newRow("missing name") << QStringLiteral("kv-no-such-tool");
        QTest::newRow("missing path") << QStringLiteral("/nonexistent/tool");
        QTest::newRow("not executable") << QStringLiteral("/etc/hostname");
        QTest::newRow("empty") << QString();
    }

    void startFailures()
    {
        QFETCH(QString, program);
        Subprocess::Options o;
        o.program = program;
        Subprocess p;
        QString error;
        QVERIFY(!p.start(o, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!p.isRunning());
        const Subprocess::Result r = Subprocess::run(o, 5000);
        QVERIFY(!r.started);
        QVERIFY(!r.succeeded());
        QVERIFY(!r.error.isEmpty());
    }

    void environmentAndLocale()
    {
        qputenv("LANGUAGE", "de");
        qputenv("KV_DROP_ME", "1");
        Subprocess::Options o
            = sh(QStringLiteral("printf '%s|%s|%s|%s|%s' \"$LC_ALL\" \"${LANGUAGE-unset}\" \"$KV_ADDED\" "
                                "\"${KV_DROP_ME-unset}\" \"$(pwd)\""));
        o.environment.insert(QStringLiteral("KV_ADDED"), QStringLiteral("a b"));
        o.unsetEnvironment << QStringLiteral("KV_DROP_ME");
        o.workingDirectory = QStringLiteral("/tmp");
        Subprocess::Result r = Subprocess::run(o, 20000);
        QCOMPARE(r.out, QByteArray("C.UTF-8|unset|a b|unset|/tmp"));

        qputenv("LC_ALL", "C");
        o.toolLocale = false;
        r = Subprocess::run(o, 20000);
        QCOMPARE(r.out, QByteArray("C|de|a b|unset|/tmp"));
        qunsetenv("LC_ALL");
        qunsetenv("LANGUAGE");
        qunsetenv("KV_DROP_ME");
    }

    void sigpipeAtDefaultInChild()
    {
        // SigIgn is a hex mask; SIGPIPE is signal 13, bit 12.
        Subprocess::Options o;
        o.program = QStringLiteral("grep");
        o.arguments = { QStringLiteral("^SigIgn:"), QStringLiteral("/proc/self/status") };
        const Subprocess::Result r = Subprocess::run(o, 20000);
        QVERIFY(r.succeeded());
        const quint64 mask = r.out.mid(7).trimmed().toULongLong(nullptr, 16);
        QCOMPARE(mask & (quint64(1) << (SIGPIPE - 1)), quint64(0));

        // A writer whose reader went away dies of SIGPIPE instead of writing forever.
        const Subprocess::Result y
            = Subprocess::run(sh(QStringLiteral("yes | head -n 1 >/dev/null; kill -0 $$")), 20000);
        QVERIFY(y.succeeded());
    }

    void ownProcessGroup()
    {
        Subprocess p;
        QVERIFY(p.start(sh(QStringLiteral("sleep 30"))));
        const std::optional<ProcessEntry> e = ProcessTable::entry(p.pid());
        QVERIFY(e);
        QCOMPARE(e->pgid, p.pid());
        QCOMPARE(p.processGroup(), p.pid());
        QVERIFY(e->pgid != ::getpgrp());
        p.stop(2000);
        QCOMPARE(p.exitSignal(), SIGTERM);
        QCOMPARE(p.exitCode(), -1);
    }

    void standardInput()
    {
        Subprocess::Options o;
        o.program = QStringLiteral("cat");
        o.standardInput = QByteArray(100000, 'y') + "end";
        Subprocess::Result r = Subprocess::run(o, 20000);
        QVERIFY(r.succeeded());
        QCOMPARE(r.out, o.standardInput);

        Subprocess p;
        QByteArray got;
        p.setStdoutHandler([&](const char* d, size_t n) { got.append(d, qsizetype(n)); });
        o.standardInput = "first\n";
        o.keepStdinOpen = true;
        QVERIFY(p.start(o));
        QVERIFY(p.writeStdin("second\n"));
        QVERIFY(!p.waitForFinished(200)); // cat waits for the end of its input
        p.closeStdin();
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(got, QByteArray("first\nsecond\n"));
        QVERIFY(!p.writeStdin("late"));
    }

    void mergedStderr()
    {
        Subprocess::Options o = sh(QStringLiteral("echo out; echo err >&2"));
        o.mergeStderr = true;
        const Subprocess::Result r = Subprocess::run(o, 20000);
        QCOMPARE(r.out, QByteArray("out\nerr\n"));
        QCOMPARE(r.err, QByteArray());
    }

    void stopEndsWholeGroup_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("grace");
        QTest::newRow("grandchildren")
            << QStringLiteral("sleep 60 & sleep 60 & (sleep 60; echo x) & wait") << 3000;
        QTest::newRow("grandchild ignores TERM")
            << QStringLiteral("(trap '' TERM; while :; do sleep 1; done) & trap '' TERM; wait") << 300;
        QTest::newRow("grandchild holds pipe") << QStringLiteral("sh -c 'sleep 60' & exit 0") << 3000;
    }

    void stopEndsWholeGroup()
    {
        QFETCH(QString, script);
        QFETCH(int, grace);
        Subprocess p;
        QVERIFY(p.start(sh(script)));
        const pid_t group = p.processGroup();
        QTRY_VERIFY_WITH_TIMEOUT(ProcessTable::groupMembers(group).size() >= 2
                || (p.hasExited() && !ProcessTable::groupMembers(group).isEmpty()),
            10000);
        QVERIFY(p.isRunning());
        p.stop(grace);
        QVERIFY(!p.isRunning());
        QTRY_VERIFY_WITH_TIMEOUT(ProcessTable::groupMembers(group).isEmpty(), 10000);
    }

    void waitsForPipesAfterExit()
    {
        // The child exits at once, a grandchild keeps stdout open and prints later: the end of
        // the child is only when that output has arrived.
        Subprocess p;
        QByteArray got;
        p.setStdoutHandler([&](const char* d, size_t n) { got.append(d, qsizetype(n)); });
        QVERIFY(p.start(sh(QStringLiteral("(sleep 0.3; printf late) & exit 5"))));
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitCode(), 5);
        QCOMPARE(got, QByteArray("late"));
    }

    void destructorStopsAndReaps()
    {
        pid_t pid = 0;
        {
            Subprocess p;
            QVERIFY(p.start(sh(QStringLiteral("sleep 60"))));
            pid = p.pid();
        }
        // reaped by us: /proc/PID is gone (not even a zombie)
        QVERIFY(!QFile::exists(QStringLiteral("/proc/%1").arg(pid)));
        QVERIFY(!Subprocess::startedPids().contains(pid));
    }

    void releasedChildrenAreReapedOnlyByRegistry()
    {
        Subprocess other;
        QVERIFY(other.start(sh(QStringLiteral("exit 9"))));
        pid_t released = 0;
        {
            Subprocess p;
            QVERIFY(p.start(sh(QStringLiteral("exit 0"))));
            released = p.pid();
            p.release();
        }
        QVERIFY(Subprocess::releasedPids().contains(released));
        QTRY_VERIFY_WITH_TIMEOUT(
            Subprocess::reapReleased() == 1 || !Subprocess::releasedPids().contains(released), 10000);
        QVERIFY(!Subprocess::releasedPids().contains(released));
        // the other child's status was not taken away from its owner
        QVERIFY(other.waitForFinished(10000));
        QCOMPARE(other.exitCode(), 9);
    }

    void detachedOutlivesAndIsReaped()
    {
        Subprocess::Options o;
        o.program = QStringLiteral("sleep");
        o.arguments = { QStringLiteral("60") };
        QString error;
        const pid_t pid = Subprocess::startDetached(o, &error);
        QVERIFY2(pid > 0, qPrintable(error));
        const std::optional<ProcessEntry> e = ProcessTable::entry(pid);
        QVERIFY(e);
        QCOMPARE(e->sid, pid);
        QVERIFY(ProcessTable::isProcessAlive(pid));
        QCOMPARE(ProcessTable::processName(pid), QStringLiteral("sleep"));
        ::kill(pid, SIGTERM);
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(QStringLiteral("/proc/%1").arg(pid)), 10000);
        o.program = QStringLiteral("kv-no-such-tool");
        QCOMPARE(Subprocess::startDetached(o, &error), pid_t(0));
    }

    void stressManyShortChildren()
    {
        std::atomic<int> failures { 0 };
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t) {
            threads.emplace_back([t, &failures] {
                for (int i = 0; i < 40; ++i) {
                    const int code = (t * 40 + i) % 200;
                    Subprocess::Options o;
                    o.program = QStringLiteral("/bin/sh");
                    o.arguments = { QStringLiteral("-c"), QStringLiteral("printf %s \"$1\"; exit $1"),
                        QStringLiteral("sh"), QString::number(code) };
                    const Subprocess::Result r = Subprocess::run(o, 30000);
                    if (!r.started || r.exitCode != code || r.out != QByteArray::number(code))
                        ++failures;
                }
            });
        }
        for (std::thread& th : threads)
            th.join();
        QCOMPARE(failures.load(), 0);
        QVERIFY(Subprocess::startedPids().isEmpty());
    }

    void processTable()
    {
        ProcessEntry e;
        QVERIFY(ProcessTable::parseStat(
            "123 (a) (b c) S 1 123 123 0 -1 4194560 1 0 0 0 0 0 0 0 20 0 1 0 4242 0 0", &e));
        QCOMPARE(e.pid, pid_t(123));
        QCOMPARE(e.name, QStringLiteral("a) (b c"));
        QCOMPARE(e.state, 'S');
        QCOMPARE(e.ppid, pid_t(1));
        QCOMPARE(e.startTime, quint64(4242));
        QVERIFY(!ProcessTable::parseStat("garbage", &e));

        Subprocess p;
        QVERIFY(p.start(sh(QStringLiteral("sh -c 'sleep 60' & sleep 60 & wait"))));
        QTRY_VERIFY_WITH_TIMEOUT(ProcessTable::descendants(p.pid()).size() >= 3, 10000);
        const QList<ProcessEntry> children = ProcessTable::children(p.pid());
        QCOMPARE(children.size(), 2);
        for (const ProcessEntry& c : ProcessTable::descendants(p.pid()))
            QCOMPARE(c.uid, qint64(::getuid()));
        QVERIFY(ProcessTable::isProcessAlive(::getpid()));
        p.stop();
        QVERIFY(!ProcessTable::isProcessAlive(p.pid()));
        QVERIFY(ProcessTable::processName(p.pid()).isNull());
    }
};

QTEST_GUILESS_MAIN(TestSubprocess)
#include "tst_subprocess.moc"
