// kv-test: labels=unit timeout=120
#include "FakeQVProcEngine.h"
#include "KvTest.h"
#include "RecordingShellServices.h"
#include "TempTree.h"
#include "platform/NameCodec.h"
#include "projects/ILocation.h"
#include "platform/ProcessTable.h"
#include "platform/Subprocess.h"
#include "sync/ISynchron.h"
#include "sync/ISynchronProcController.h"
#include "sync/SyncFolders.h"
#include "utilities/IVolumeBase.h"

#include <QtTest>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemRsync()
{
    for (const char* p : { "/usr/bin/rsync", "/bin/rsync" })
        if (::access(p, X_OK) == 0)
            return QString::fromLatin1(p);
    return QString();
}

struct RunEnd
{
    bool ended = false;
    int result = -2;
    QString text;
};

} // namespace

class TestSynchronProcController : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void nestedFolders_data();
    void nestedFolders();
    void runEnds_data();
    void runEnds();
    void bothWaysRunsTwoPassesInOrder();
    void stopLeavesNothingOfTheRun();
    void engineRuns_data();
    void engineRuns();

private:
    std::shared_ptr<ISynchron> project(const QString& first, const QString& second, int direction = 0);
    QString script(const QString& name, const QByteArray& body);
    void run(ISynchronProcController& controller, const std::shared_ptr<ISynchron>& P, RunEnd* end,
        QList<QStringList>* commands = nullptr, QList<pid_t>* groups = nullptr);
    bool logged(const QString& text) const;

    std::unique_ptr<RecordingShellServices> m_shell;
    std::unique_ptr<TempTree> m_tree;
};

void TestSynchronProcController::initTestCase()
{
    IVolumeBase::shared().fill();
}

void TestSynchronProcController::init()
{
    m_shell = std::make_unique<RecordingShellServices>();
    IShellServices::setShared(m_shell.get());
    m_tree = std::make_unique<TempTree>(QStringLiteral("syncproc"));
    QVERIFY(m_tree->isValid());
}

void TestSynchronProcController::cleanup()
{
    IShellServices::setShared(nullptr);
    m_shell.reset();
    m_tree.reset();
}

std::shared_ptr<ISynchron> TestSynchronProcController::project(const QString& first, const QString& second, int direction)
{
    auto P = std::make_shared<ISynchron>();
    P->setName(QStringLiteral("Mirror"));
    P->setDirection(direction);
    P->setFirstFolder(first);
    P->setSecondFolder(second);
    return P;
}

QString TestSynchronProcController::script(const QString& name, const QByteArray& body)
{
    const QString path = m_tree->filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return QString();
    f.write("#!/bin/sh\n" + body);
    f.close();
    ::chmod(NameCodec::encode(path).constData(), 0755);
    return path;
}

void TestSynchronProcController::run(ISynchronProcController& controller, const std::shared_ptr<ISynchron>& P,
    RunEnd* end, QList<QStringList>* commands, QList<pid_t>* groups)
{
    controller.setEndObserver([end](int result, const QString& text) {
        end->ended = true;
        end->result = result;
        end->text = text;
    });
    controller.setCommandObserver([commands, groups](const QStringList& argv, pid_t group) {
        if (commands)
            commands->append(argv);
        if (groups)
            groups->append(group);
    });
    P->setInState(ISynchron::OpSynchronizing);
    controller.processProject(P);
}

bool TestSynchronProcController::logged(const QString& text) const
{
    for (const auto& m : m_shell->messages())
        if (QString::fromUtf8(m.text).contains(text))
            return true;
    return false;
}

// Equal folders and a folder inside the other (either way round, also through a symbolic link)
// are refused before anything runs; a sibling with a common prefix is not nested.
void TestSynchronProcController::nestedFolders_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<bool>("nested");
    QTest::newRow("equal") << "a" << "a" << true;
    QTest::newRow("second inside first") << "a" << "a/inner" << true;
    QTest::newRow("first inside second") << "a/inner" << "a" << true;
    QTest::newRow("through a link") << "link/inner" << "a" << true;
    QTest::newRow("sibling with a common prefix") << "a" << "ab" << false;
}

void TestSynchronProcController::nestedFolders()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(bool, nested);
    QVERIFY(QDir().mkpath(m_tree->filePath(QStringLiteral("a/inner"))));
    QVERIFY(QDir().mkpath(m_tree->filePath(QStringLiteral("ab"))));
    QVERIFY(QFile::link(m_tree->filePath(QStringLiteral("a")), m_tree->filePath(QStringLiteral("link"))));
    const QString a = m_tree->filePath(first), b = m_tree->filePath(second);
    QCOMPARE(SyncFolders::areNested(a, b), nested);
    if (!nested)
        return;
    auto P = project(a, b);
    QVERIFY(!P->isReadyForInterface());
    // Started anyway (by the schedule): the run fails with the text and rsync never starts.
    P->setProcessingBySchedule(true);
    ISynchronProcController controller(systemRsync());
    RunEnd end;
    QList<QStringList> commands;
    run(controller, P, &end, &commands);
    QVERIFY(end.ended);
    QCOMPARE(end.result, 1);
    QCOMPARE(end.text, QStringLiteral("Synchronize failed"));
    QVERIFY(commands.isEmpty());
    QVERIFY(logged(QStringLiteral("Folders was't selected correctly")));
    QVERIFY(P->isLastProcessFailed());
}

// How a run ends: real rsync for the no-op, fake tools for the ends rsync's lines do not tell.
void TestSynchronProcController::runEnds_data()
{
    QTest::addColumn<QByteArray>("tool"); // empty: the system's rsync
    QTest::addColumn<bool>("destinationMissing");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("logLine");
    QTest::newRow("no-op") << QByteArray() << false << 0 << "Synchronization was successful." << "";
    QTest::newRow("killed from outside after a few lines")
        << QByteArray("echo 'building file list ... done'\necho 'a'\nkill -9 $$\n") << false << 1
        << "Synchronize failed." << "";
    QTest::newRow("unknown status, no error line") << QByteArray("echo 'a'\nexit 5\n") << false << 1
                                                    << "Synchronize failed." << "";
    QTest::newRow("vanished files") << QByteArray("exit 24\n") << false << 3
                                    << "Synchronization was successful with some warnings." << "";
    QTest::newRow("scheduled, destination missing")
        << QByteArray() << true << 1 << "Synchronize failed" << "Destination folder not found.";
}

void TestSynchronProcController::runEnds()
{
    QFETCH(QByteArray, tool);
    QFETCH(bool, destinationMissing);
    QFETCH(int, result);
    QFETCH(QString, text);
    QFETCH(QString, logLine);
    const QString rsync = tool.isEmpty() ? systemRsync() : script(QStringLiteral("rsync3"), tool);
    if (rsync.isEmpty())
        QSKIP("no rsync on this system");
    const QString first = m_tree->filePath(QStringLiteral("first"));
    const QString second = m_tree->filePath(QStringLiteral("second"));
    QVERIFY(QDir().mkpath(first));
    if (!destinationMissing)
        QVERIFY(QDir().mkpath(second));
    auto P = project(first, second);
    P->setProcessingBySchedule(destinationMissing);
    ISynchronProcController controller(rsync);
    QVERIFY(controller.canWork());
    RunEnd end;
    QList<QStringList> commands;
    run(controller, P, &end, &commands);
    QTRY_VERIFY_WITH_TIMEOUT(end.ended, 20000);
    QCOMPARE(end.result, result);
    QCOMPARE(end.text, text);
    if (!logLine.isEmpty())
        QVERIFY(logged(logLine));
    QCOMPARE(commands.isEmpty(), destinationMissing);
    QVERIFY(!controller.isProcessing());
    QCOMPARE(P->isLastProcessFailed(), result == 1);
}

// Both ways: first to second, then second to first, each pass's share of the indicator; a
// working copy keeps symbolic links as links.
void TestSynchronProcController::bothWaysRunsTwoPassesInOrder()
{
    const QString rsync = systemRsync();
    if (rsync.isEmpty())
        QSKIP("no rsync on this system");
    const QString first = m_tree->filePath(QStringLiteral("first"));
    const QString second = m_tree->filePath(QStringLiteral("second"));
    QVERIFY(QDir().mkpath(first));
    QVERIFY(QDir().mkpath(second));
    QVERIFY(m_tree->writeFile(QStringLiteral("first/left.txt"), "left"));
    QVERIFY(m_tree->writeFile(QStringLiteral("second/right.txt"), "right"));
    QVERIFY(QFile::link(QStringLiteral("left.txt"), first + QStringLiteral("/link")));
    auto P = project(first, second, 2);
    ISynchronProcController controller(rsync);
    RunEnd end;
    QList<QStringList> commands;
    run(controller, P, &end, &commands);
    QTRY_VERIFY_WITH_TIMEOUT(end.ended, 20000);
    QCOMPARE(end.result, 0);
    QCOMPARE(commands.size(), 2);
    QCOMPARE(commands[0].mid(commands[0].size() - 2), QStringList({ first + "/", second }));
    QCOMPARE(commands[1].mid(commands[1].size() - 2), QStringList({ second + "/", first }));
    QVERIFY(!commands[0].contains(QStringLiteral("--fake-super")));
    QVERIFY(QFileInfo::exists(second + QStringLiteral("/left.txt")));
    QVERIFY(QFileInfo::exists(first + QStringLiteral("/right.txt")));
    QVERIFY(QFileInfo(second + QStringLiteral("/link")).isSymLink());
}

// A stop mid-run ends "Terminated by user" and leaves no process of the recorded group.
void TestSynchronProcController::stopLeavesNothingOfTheRun()
{
    const QString tool = script(QStringLiteral("rsync3"), "sleep 30 &\nwait\n");
    const QString first = m_tree->filePath(QStringLiteral("first"));
    const QString second = m_tree->filePath(QStringLiteral("second"));
    QVERIFY(QDir().mkpath(first));
    QVERIFY(QDir().mkpath(second));
    auto P = project(first, second);
    ISynchronProcController controller(tool);
    RunEnd end;
    QList<pid_t> groups;
    run(controller, P, &end, nullptr, &groups);
    QCOMPARE(groups.size(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(ProcessTable::groupMembers(groups[0]).size() >= 2, 5000);
    QVERIFY(controller.terminateProcess());
    QTRY_VERIFY_WITH_TIMEOUT(end.ended, 10000);
    QCOMPARE(end.result, 4);
    QCOMPARE(end.text, QStringLiteral("Terminated by user"));
    QVERIFY(ProcessTable::groupMembers(groups[0]).isEmpty());
}

// Analyses and volume-group clones go to the outside engine; without one installed such a start
// fails with one line naming it. rsync never runs for them.
void TestSynchronProcController::engineRuns_data()
{
    QTest::addColumn<bool>("clone");
    QTest::addColumn<QString>("engine"); // none, completes, fails, refuses, stop
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("text");
    QTest::newRow("analysis, no engine") << false << "none" << 1 << "Analyze failed";
    QTest::newRow("analysis completes") << false << "completes" << 0 << "Analyze completed";
    QTest::newRow("analysis fails") << false << "fails" << 1 << "Analyze failed";
    QTest::newRow("analysis start refused") << false << "refuses" << 1 << "Analyze failed";
    QTest::newRow("analysis stopped") << false << "stop" << 4 << "Terminated by user";
    QTest::newRow("volume-group clone, no engine") << true << "none" << 1 << "Cloning failed";
    QTest::newRow("volume-group clone completes") << true << "completes" << 0 << "Cloning was successful.";
    QTest::newRow("volume-group clone fails") << true << "fails" << 1 << "Cloning failed";
    QTest::newRow("volume-group clone stopped") << true << "stop" << 4 << "Terminated by user";
}

void TestSynchronProcController::engineRuns()
{
    QFETCH(bool, clone);
    QFETCH(QString, engine);
    QFETCH(int, result);
    QFETCH(QString, text);
    const QString first = m_tree->filePath(QStringLiteral("first"));
    const QString second = m_tree->filePath(QStringLiteral("second"));
    QVERIFY(QDir().mkpath(first));
    QVERIFY(QDir().mkpath(second));
    auto P = std::make_shared<ISynchron>();
    P->setName(QStringLiteral("Engine"));
    P->setSynchronType(clone ? 1 : 0);
    P->setFirstFolder(first);
    P->setSecondFolder(second);
    if (clone) {
        // The source is one half of a System/Data group, the destination a btrfs volume.
        P->firstLocation()->setUsedSizeMB(10, 20);
        P->secondLocation()->setAPFS(true);
        QVERIFY(P->isDoubleVolumeClone());
    }
    std::unique_ptr<FakeQVProcEngine> fake;
    if (engine != QLatin1String("none")) {
        fake = std::make_unique<FakeQVProcEngine>();
        fake->startSucceeds = engine != QLatin1String("refuses");
        fake->device = QStringLiteral("/dev/loop9p2");
    }
    ISynchronProcController controller(QStringLiteral("/bin/false"));
    RunEnd end;
    QList<QStringList> commands;
    controller.setEndObserver([&end](int code, const QString& last) {
        end.ended = true;
        end.result = code;
        end.text = last;
    });
    controller.setCommandObserver([&commands](const QStringList& argv, pid_t) { commands << argv; });
    P->setInState(clone ? ISynchron::OpCloning : ISynchron::OpAnalysing);
    controller.processProject(P);
    if (fake && fake->isRunning()) {
        QCOMPARE(fake->programs, QStringList(clone ? "clone_RSYNC" : "synchronize"));
        QVERIFY(!end.ended);
        if (engine == QLatin1String("stop"))
            QVERIFY(controller.terminateProcess());
        else
            fake->finish(engine == QLatin1String("completes"));
    }
    QTRY_VERIFY_WITH_TIMEOUT(end.ended, 5000);
    QCOMPARE(end.result, result);
    QCOMPARE(end.text, text);
    QVERIFY(commands.isEmpty());
    QVERIFY(!controller.isProcessing());
    QCOMPARE(P->currentOperation(), int(ISynchron::OpIdle));
    QCOMPARE(logged(QStringLiteral("qv_proc")), engine == QLatin1String("none"));
    QCOMPARE(controller.correctedDestinationDevice(),
        clone && engine == QLatin1String("completes") ? QStringLiteral("/dev/loop9p2") : QString());
}

QTEST_MAIN(TestSynchronProcController)
#include "tst_synchronproccontroller.moc"
