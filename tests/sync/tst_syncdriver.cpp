// kv-test: labels=unit timeout=180
#include "FakeSyncRunController.h"
#include "KvTest.h"
#include "TempTree.h"
#include "sync/ISynchron.h"
#include "sync/ISynchronContainer.h"
#include "utilities/IVolumeBase.h"

#include <QtTest>

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
    void analysisWritesItsTree();

private:
    struct Run
    {
        int code = -1;
        QString last;
        QByteArray out;
        QByteArray err;
    };
    Run driver(const QStringList& arguments);
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

TestSyncDriver::Run TestSyncDriver::driver(const QStringList& arguments)
{
    QProcess p;
    p.start(KvTest::appContentsDir() + QStringLiteral("/MacOS/kv-run-project"),
        QStringList { QStringLiteral("--workspace"), m_ws } + arguments);
    p.waitForFinished(60000);
    Run r;
    r.code = p.exitCode();
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    const QList<QByteArray> lines = r.out.trimmed().split('\n');
    r.last = QString::fromUtf8(lines.isEmpty() ? QByteArray() : lines.last());
    return r;
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
    const Run r = driver({ "--kit", "sync", "--project", "Mirror", "--analyze", "--tree-out", treeOut,
        "--program-out", programOut });
    QCOMPARE(r.last, QStringLiteral("0 3 Analyze completed"));
    QCOMPARE(r.code, 0);
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
