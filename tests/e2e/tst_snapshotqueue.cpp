// kv-test: labels=unit timeout=300

// The list and the real run engine together, in one process with real rsync on the build's file
// system: two projects due in the same minute run one after the other, and a backup with
// exclusions is followed by a restore of a deep item into a folder.

#include "E2eWorkspace.h"
#include "RecordingBackup3Controller.h"
#include "ScriptedClock.h"
#include "TempTree.h"
#include "projects/ILocation.h"
#include "snapshot/B3RestoreItem.h"
#include "snapshot/IBackup3.h"
#include "snapshot/IBackup3Container.h"
#include "snapshot/IBackup3Processor.h"
#include "utilities/IVolumeBase.h"

#include <QFile>
#include <QtTest>

using namespace E2e;

namespace {

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestSnapshotQueue : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { IVolumeBase::shared().fill(); }
    void projectsDueInOneMinuteRunInTurn();
    void excludedItemsStayOutAndADeepItemIsRestored();
};

// Both projects are queued by the same schedule check; the second starts only when the first
// has ended (at the pane's next timer tick), and both record a version.
void TestSnapshotQueue::projectsDueInOneMinuteRunInTurn()
{
    TempTree tree(QStringLiteral("queue"));
    QVERIFY(put(tree, "A/a.txt", "a"));
    QVERIFY(put(tree, "B/b.txt", "b"));
    QVERIFY(tree.mkdir("dest"));
    const QDateTime due(QDate(2026, 3, 2), QTime(18, 30));
    ScriptedClock clock(due.addSecs(20));
    QList<ProjectPlan> plans;
    QList<QVariantMap> dicts;
    for (const char* name : { "A", "B" }) {
        ProjectPlan s;
        s.name = QString::fromLatin1(name);
        s.sources = { tree.filePath(std::string(name)) };
        s.destination = tree.filePath(std::string("dest"));
        s.scheduled = true;
        s.scheduleHH = 18;
        s.scheduleMM = 30;
        QVariantMap d = projectDict(s);
        d.insert(QStringLiteral("NextDate"), due.toUTC());
        plans << s;
        dicts << d;
    }
    const QString ws = tree.filePath(std::string("ws"));
    QVERIFY(writeWorkspace(ws, dicts));

    RecordingBackup3Controller pane;
    Backup3ControllerScope paneScope(&pane);
    auto engine = std::make_unique<IBackup3Processor>(QString(), &clock);
    IBackup3Processor* processor = engine.get();
    QVERIFY(processor->canWork());
    IBackup3Container container(std::move(engine), listPath(ws));
    QCOMPARE(container.countOfBackups3(), 2);
    const auto a = container.backup3ByIndex(0), b = container.backup3ByIndex(1);

    QVERIFY(container.checkNeedBackupingOnSchedule());
    QCOMPARE(container.processingList().size(), 2);
    container.processNext();
    QVERIFY(a->isInState(IBackup3::OpRunning));
    QVERIFY(b->isInState(IBackup3::OpQueued));
    container.processNext(); // a tick while A runs starts nothing
    QVERIFY(b->isInState(IBackup3::OpQueued));
    QTRY_COMPARE_WITH_TIMEOUT(pane.finishedCodes.size(), 1, 60000);
    QCOMPARE(pane.finishedCodes.at(0), 0);
    const QString versionA = processor->lastVersionFolderName();
    QVERIFY(versionA.startsWith(QLatin1String("b3_")));
    QVERIFY(b->isInState(IBackup3::OpQueued));

    container.scheduleProcess(); // the pane's next tick
    QVERIFY(b->isInState(IBackup3::OpRunning));
    QTRY_COMPARE_WITH_TIMEOUT(pane.finishedCodes.size(), 2, 60000);
    QCOMPARE(pane.finishedCodes.at(1), 0);
    QVERIFY(!container.isQueueNotEmpty());
    QCOMPARE(versionFolders(projectFolder(plans.at(0))), QStringList { versionA });
    QCOMPARE(versionFolders(projectFolder(plans.at(1))), QStringList { processor->lastVersionFolderName() });
    QVERIFY(a->getNextProcessDate() > clock.now());
}

// Excluded paths and patterns stay out of the version; an item two folders deep is restored into
// a chosen folder with those two parent folders, and nothing else arrives there.
void TestSnapshotQueue::excludedItemsStayOutAndADeepItemIsRestored()
{
    TempTree tree(QStringLiteral("restore"));
    QVERIFY(put(tree, "Docs/keep.txt", "keep"));
    QVERIFY(put(tree, "Docs/scratch.tmp", "pattern"));
    QVERIFY(put(tree, "Docs/cache/big.bin", "excluded folder"));
    QVERIFY(put(tree, "Docs/sub/deep/wanted.txt", "wanted"));
    QVERIFY(put(tree, "Docs/sub/deep/other.txt", "other"));
    QVERIFY(tree.mkdir("dest"));
    QVERIFY(tree.mkdir("target"));
    ProjectPlan plan;
    plan.sources = { tree.filePath(std::string("Docs")) };
    plan.destination = tree.filePath(std::string("dest"));
    plan.excludePattern = QStringLiteral("*.tmp");
    plan.excludePaths = { tree.filePath(std::string("Docs/cache")) };
    const QString ws = tree.filePath(std::string("ws"));
    QVERIFY(writeWorkspace(ws, { projectDict(plan) }));

    RecordingBackup3Controller pane;
    Backup3ControllerScope paneScope(&pane);
    auto engine = std::make_unique<IBackup3Processor>();
    IBackup3Processor* processor = engine.get();
    IBackup3Container container(std::move(engine), listPath(ws));
    const auto project = container.backup3ByIndex(0);
    QVERIFY(project);
    container.processBackup3(project);
    QTRY_COMPARE_WITH_TIMEOUT(pane.finishedCodes.size(), 1, 60000);
    QCOMPARE(pane.finishedCodes.at(0), 0);
    const QString version = processor->lastVersionFolderName();
    const QString copy = projectFolder(plan) + "/" + version + "/Docs.wrp1/Docs";
    QCOMPARE(fileBytes(copy + "/keep.txt"), QByteArray("keep"));
    QVERIFY(!QFileInfo::exists(copy + "/scratch.tmp"));
    QVERIFY(!QFileInfo::exists(copy + "/cache/big.bin"));
    QCOMPARE(fileBytes(copy + "/sub/deep/wanted.txt"), QByteArray("wanted"));

    std::shared_ptr<ILocation> source(ILocation::create());
    QVERIFY(source->setupWithPath(tree.filePath(std::string("Docs"))));
    QString error;
    const auto item = B3RestoreItem::make(source, copy + "/sub/deep/wanted.txt", false, 2, &error);
    QVERIFY2(item, qPrintable(error));
    project->setRestoreData({ *item });
    project->setRestorePath(tree.filePath(std::string("target")));
    container.processBackup3(project);
    QTRY_COMPARE_WITH_TIMEOUT(pane.finishedCodes.size(), 2, 60000);
    QCOMPARE(pane.finishedCodes.at(1), 0);
    QCOMPARE(processor->lastReportText(), QStringLiteral("Restore was successful"));
    QCOMPARE(fileBytes(tree.filePath(std::string("target/sub/deep/wanted.txt"))), QByteArray("wanted"));
    QCOMPARE(entries(tree.filePath(std::string("target"))), QStringList { "sub" });
    QCOMPARE(entries(tree.filePath(std::string("target/sub/deep"))), QStringList { "wanted.txt" });
    QVERIFY(project->restoreData().isEmpty());
}

QTEST_GUILESS_MAIN(TestSnapshotQueue)
#include "tst_snapshotqueue.moc"
