// kv-test: labels=unit timeout=120
#include "FakePrivilegeBackend.h"
#include "KvTest.h"
#include "TempTree.h"
#include "platform/ProcessTable.h"
#include "sync/ITaskWrapper.h"
#include "sync/ITaskWrapperController.h"
#include "utilities/IShellServices.h"

#include <QElapsedTimer>
#include <QtTest>
#include <csignal>
#include <sys/stat.h>

namespace {

struct Controller : ITaskWrapperController
{
    QByteArray output; // standard output of the last member
    QByteArray errors;
    QStringList texts;
    int finished = 0;
    qint64 lastStreamEndMs = -1;
    QElapsedTimer clock;
    QList<qint64> outputToolCodes;
    Controller() { clock.start(); }
    void utilOutputProcess(
        const QByteArray& data, qint64 toolCode, bool stdError, ITaskWrapper*, qint64) override
    {
        (stdError ? errors : output) += data;
        if (!stdError)
            outputToolCodes << toolCode;
    }
    void appendOutput(const QString& text, qint64, bool, ITaskWrapper*, qint64) override { texts << text; }
    void processFinished() override { ++finished; }
};

QStringList sh(const QString& script)
{
    return { QStringLiteral("/bin/sh"), QStringLiteral("-c"), script };
}

bool noMemberAlive(const QList<pid_t>& pids, int deadlineMs)
{
    QElapsedTimer t;
    t.start();
    for (;;) {
        bool any = false;
        for (pid_t p : pids)
            any = any || ProcessTable::isProcessAlive(p);
        if (!any)
            return true;
        if (t.elapsed() > deadlineMs)
            return false;
        QTest::qWait(20);
    }
}

} // namespace

class TestTaskWrapper : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void twoMemberChainDeliversTheLastOutputAndEndsOnce();
    void terminationStatus_data();
    void terminationStatus();
    void endTimerWaitsForTheFirstOutput();
    void secondStartStopsTheFirstRun();
    void terminateLeavesNoMemberAlive();
    void sendToAnEndedProcessIsHarmless();
    void synchronizationControllerReadsTheFirstMember();
    void restoreIntoAnUnwritableFolderRunsAsRoot();
};

void TestTaskWrapper::twoMemberChainDeliversTheLastOutputAndEndsOnce()
{
    Controller c;
    ITaskWrapper w(
        &c, { "printf", "a\\nb\\n" }, 5, { "tr", "a-z", "A-Z" }, 7, {}, 0, 6, 0, IProject::GTC_UNKNOWN);
    QVERIFY(w.startProcess());
    QVERIFY(w.isStarted());
    QTRY_COMPARE_WITH_TIMEOUT(c.output, QByteArray("A\nB\n"), 5000);
    const qint64 outputAt = c.clock.elapsed();
    QTRY_COMPARE_WITH_TIMEOUT(c.finished, 1, 5000);
    // the end timer runs about one second after the last stream ended
    QVERIFY2(c.clock.elapsed() - outputAt >= 900, qPrintable(QString::number(c.clock.elapsed() - outputAt)));
    QTest::qWait(1300);
    QCOMPARE(c.finished, 1);
    QCOMPARE(w.terminationStatus(1), 0);
    QCOMPARE(w.terminationStatus(2), 0);
    // both members ran in one process group
    QCOMPARE(w.memberPids().size(), 2);
}

void TestTaskWrapper::terminationStatus_data()
{
    QTest::addColumn<QStringList>("first");
    QTest::addColumn<QStringList>("second");
    QTest::addColumn<int>("member");
    QTest::addColumn<int>("status");
    QTest::newRow("exit 3") << sh("exit 3") << QStringList() << 1 << 3;
    QTest::newRow("member 4") << sh("exit 3") << QStringList() << 4 << 0;
    QTest::newRow("missing member") << sh("exit 3") << QStringList() << 2 << 0;
    QTest::newRow("killed by SIGKILL") << sh("kill -KILL $$") << QStringList() << 1 << 137;
    QTest::newRow("second member's own status") << sh("echo x") << sh("cat >/dev/null; exit 5") << 2 << 5;
}

void TestTaskWrapper::terminationStatus()
{
    QFETCH(QStringList, first);
    QFETCH(QStringList, second);
    QFETCH(int, member);
    QFETCH(int, status);
    Controller c;
    ITaskWrapper w(&c, first, 5, second, 7, {}, 0, 6, 0, IProject::GTC_UNKNOWN);
    QVERIFY(w.startProcess());
    QTRY_COMPARE_WITH_TIMEOUT(c.finished, 1, 5000);
    QCOMPARE(w.terminationStatus(member), status);
}

void TestTaskWrapper::endTimerWaitsForTheFirstOutput()
{
    // Member 2 still runs: its status is 0 and the run does not end while its streams are open.
    Controller c;
    ITaskWrapper w(&c, sh("echo start; exec 1>&-; sleep 1.5"), 5, {}, 0, {}, 0, 6, 0, IProject::GTC_UNKNOWN);
    QVERIFY(w.startProcess());
    QTRY_COMPARE_WITH_TIMEOUT(c.output, QByteArray("start\n"), 5000);
    QTest::qWait(1200); // output closed, but the error stream stays open while sleep runs
    QCOMPARE(c.finished, 0);
    QCOMPARE(w.terminationStatus(1), 0);
    QTRY_COMPARE_WITH_TIMEOUT(c.finished, 1, 5000);

    Controller c2;
    ITaskWrapper chain(&c2, sh("echo x"), 5, sh("cat; sleep 30"), 7, {}, 0, 6, 0, IProject::GTC_UNKNOWN);
    QVERIFY(chain.startProcess());
    QTRY_COMPARE_WITH_TIMEOUT(c2.output, QByteArray("x\n"), 5000);
    QCOMPARE(chain.terminationStatus(2), 0);
    QVERIFY(chain.terminateProcess());
}

void TestTaskWrapper::secondStartStopsTheFirstRun()
{
    Controller c;
    ITaskWrapper w(&c, { "sleep", "30" }, 5, {}, 0, {}, 0, 6, 0, IProject::GTC_UNKNOWN);
    QVERIFY(w.startProcess());
    const QList<pid_t> first = w.memberPids();
    QVERIFY(w.isRunning());
    QVERIFY(w.startProcess());
    QVERIFY(noMemberAlive(first, 5000));
    QVERIFY(w.memberPids() != first);
    QVERIFY(w.isRunning());
    QVERIFY(w.terminateProcess());
    QCOMPARE(c.finished, 1);
}

void TestTaskWrapper::terminateLeavesNoMemberAlive()
{
    Controller c;
    ITaskWrapper w(&c, sh("while :; do echo x; sleep 0.05; done"), 5, sh("cat"), 6,
        sh("cat >/dev/null; sleep 30"), 7, 8, 0, IProject::GTC_UNKNOWN);
    QVERIFY(w.startProcess());
    const QList<pid_t> pids = w.memberPids();
    QCOMPARE(pids.size(), 3);
    const pid_t group = w.processGroup();
    QVERIFY(w.terminateProcess());
    QCOMPARE(c.finished, 1);
    QVERIFY(noMemberAlive(pids, 5000));
    QVERIFY(ProcessTable::groupMembers(group).isEmpty());
    QVERIFY(!w.isRunning());
    // nothing posted by the stopped run reaches the controller later, and no second end
    QTest::qWait(1300);
    QCOMPARE(c.finished, 1);
}

void TestTaskWrapper::sendToAnEndedProcessIsHarmless()
{
    // The application ignores SIGPIPE (the test framework watches it as a crash signal).
    ::signal(SIGPIPE, SIG_IGN);
    Controller c;
    ITaskWrapper w(&c, { "head", "-n", "1" }, 5, {}, 0, {}, 0, 6, 0, IProject::GTC_UNKNOWN);
    QVERIFY(w.startProcess());
    QVERIFY(w.sendStdMessage(QStringLiteral("hello\n")));
    QTRY_COMPARE_WITH_TIMEOUT(c.finished, 1, 5000);
    QCOMPARE(c.output, QByteArray("hello\n"));
    // the reader is gone: EPIPE, no SIGPIPE, the application goes on
    w.sendStdMessage(QStringLiteral("again\n"));
    QVERIFY(!w.sendStdMessage(QString()));
    ITaskWrapper none(&c, {}, 5, {}, 0, {}, 0, 6, 0, IProject::GTC_UNKNOWN);
    QVERIFY(!none.startProcess());
    QVERIFY(!none.sendStdMessage(QStringLiteral("x")));
    QCOMPARE(none.terminationStatus(1), 0);
}

void TestTaskWrapper::synchronizationControllerReadsTheFirstMember()
{
    struct SyncController : Controller
    {
        std::atomic<int> outBlocks { 0 }, errBlocks { 0 };
        void getOutputData(const QByteArray&) override { ++outBlocks; }
        void getErrorData(const QByteArray&) override { ++errBlocks; }
    } c;
    ITaskWrapper w(&c, sh("echo out; echo err >&2"), 5, {}, 0, {}, 0, 6, 0, IProject::GTC_SYNHRONIZATION);
    QVERIFY(w.startProcess());
    QTRY_COMPARE_WITH_TIMEOUT(c.finished, 1, 5000);
    QCOMPARE(c.outBlocks.load(), 1);
    QCOMPARE(c.errBlocks.load(), 1);
    QVERIFY(c.output.isEmpty());

    // the synchronization wrapper reads them itself and hands them on
    Controller c2;
    ITaskWrapperSYNC s(
        &c2, sh("echo out; echo err >&2"), 5, {}, 0, {}, 0, 6, 0, IProject::GTC_SYNHRONIZATION);
    QVERIFY(s.startProcess());
    QTRY_COMPARE_WITH_TIMEOUT(c2.finished, 1, 5000);
    QCOMPARE(c2.output, QByteArray("out\n"));
    QCOMPARE(c2.errors, QByteArray("err\n"));
}

void TestTaskWrapper::restoreIntoAnUnwritableFolderRunsAsRoot()
{
    FakePrivilegeBackend backend; // runs the "root" shell as this user
    // A folder this user cannot write: a 0555 folder, or for root a folder of /proc.
    TempTree tree(QStringLiteral("taskwrapper"));
    QString target = QStringLiteral("/proc/1");
    if (!KvTest::isRoot()) {
        QVERIFY(tree.mkdir("target", 0555));
        target = tree.filePath(QStringLiteral("target"));
    }
    Controller c;
    ITaskWrapper w(&c, { "echo", "restored", target }, 1, {}, 0, {}, 0, 6, 0, IProject::GTC_RESTORE);
    QVERIFY(!w.startProcess()); // the root run took over
    QVERIFY(w.childProcess() > 0);
    QTRY_COMPARE_WITH_TIMEOUT(c.finished, 1, 10000);
    QCOMPARE(c.texts.join(QString()), QStringLiteral("restored ") + target + QLatin1Char('\n'));
    QCOMPARE(w.childProcess(), 0);

    backend.startMode = FakePrivilegeBackend::StartMode::Refuse;
    Controller c2;
    ITaskWrapper refused(&c2, { "echo", "plain", target }, 1, {}, 0, {}, 0, 6, 0, IProject::GTC_RESTORE);
    // a refused root start falls back to the normal start
    QVERIFY(refused.startProcess());
    QTRY_COMPARE_WITH_TIMEOUT(c2.finished, 1, 5000);
    QCOMPARE(c2.output, QByteArray("plain ") + target.toUtf8() + "\n");
    if (!KvTest::isRoot())
        ::chmod(target.toUtf8().constData(), 0755);
}

QTEST_MAIN(TestTaskWrapper)
#include "tst_taskwrapper.moc"
