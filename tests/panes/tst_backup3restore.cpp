// kv-test: labels=gui timeout=240

// Restores through the snapshot pane's sheets, with the real engine and rsync: one folder of a
// version into a folder, a whole version back to its places, and a project folder copied with
// "cp -a" restored from outside the list; a version list that names places outside its folder
// restores nothing.

#include "../e2e/E2eWorkspace.h"
#include "RecordingRunLog.h"
#include "RecordingShellServices.h"
#include "Screenshot.h"
#include "ScriptedUiPrompts.h"
#include "SnapshotPaneSteps.h"
#include "TempTree.h"
#include "panes/backup/Backup3Pane.h"
#include "panes/backup/Backup3PaneController.h"
#include "panes/backup/IB3RestoreController.h"
#include "panes/backup/IExternalRestoreWindow.h"
#include "platform/PlistBridge.h"
#include "projects/ILocation.h"
#include "projects/SourceOutlineModel.h"
#include "snapshot/IBackup3.h"
#include "snapshot/IBackup3Container.h"
#include "snapshot/IBackup3Processor.h"
#include "utilities/IRunLog.h"

#include <QtTest>
#include <QtWidgets>

using namespace E2e;
using namespace SnapshotPaneSteps;

namespace {

bool cpA(const QString& from, const QString& to)
{
    return QProcess::execute(QStringLiteral("cp"), { QStringLiteral("-a"), from, to }) == 0;
}

} // namespace

class TestBackup3Restore : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { Screenshot::fixConditions(); }
    void restoreThroughTheSheets();
};

void TestBackup3Restore::restoreThroughTheSheets()
{
    TempTree tree(QStringLiteral("b3restore"));
    put(tree, "src/a/one.txt", "one");
    put(tree, "src/a/deep/two.txt", "two");
    put(tree, "src/top.txt", "top");
    tree.mkdir("dest");
    tree.mkdir("into");
    tree.mkdir("into2");
    tree.mkdir("elsewhere");
    const QString ws = tree.filePath(QStringLiteral("ws"));
    QVERIFY(writeWorkspace(ws, {}));

    RecordingShellServices shell;
    ScriptedUiPrompts prompts;
    RecordingRunLog runLog;
    IShellServices::setShared(&shell);
    UiPrompts::setShared(&prompts);
    IRunLog::setShared(&runLog);
    IBackup3Container container(std::make_unique<IBackup3Processor>(), listPath(ws));
    Backup3PaneController controller(&container);
    IBackup3Controller::setShared(&controller);
    {
        Backup3Pane pane(&controller);
        pane.resize(980, 560);
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));

        const std::shared_ptr<IBackup3> p = container.createNewBackup3(QStringLiteral("Docs"));
        container.setCurrentBackup3ByIndex(0);
        std::shared_ptr<ILocation> dest(ILocation::create());
        QVERIFY(dest->setupWithPath(tree.filePath(QStringLiteral("dest"))));
        p->setDestLocation(dest);
        p->setUseAdminPrivileges(false);
        std::shared_ptr<ILocation> src(ILocation::create());
        QVERIFY(src->setupWithPath(tree.filePath(QStringLiteral("src"))));
        QVERIFY(p->addSrcLocation(src));
        const auto run = [&] {
            container.processCurrentProject();
            QTRY_VERIFY_WITH_TIMEOUT(p->isInProcess(), 10000);
            QTRY_VERIFY_WITH_TIMEOUT(!p->isInProcess(), 60000);
        };
        run();
        QTest::qWait(1100); // version names carry the second
        put(tree, "src/top.txt", "top, second version");
        run();
        const QString folder = projectFolder(tree.filePath(QStringLiteral("dest")), p->name(), p->UUID());
        QCOMPARE(versionFolders(folder).size(), 2);
        QTRY_VERIFY(pane.restoreButton()->isEnabled());

        // 1. One folder of the newest version into a folder.
        QTest::mouseClick(pane.restoreButton(), Qt::LeftButton);
        IB3RestoreController* sheet = pane.restoreSheet();
        QVERIFY(sheet && sheet->isVisible());
        QCOMPARE(sheet->versionsPopup()->count(), 2);
        QCOMPARE(sheet->versionsPopup()->currentIndex(), 0);
        QCOMPARE(sheet->listing().versions.first().folder, versionFolders(folder).last());
        SourceOutlineModel* model = sheet->contentModel();
        QCOMPARE(model->rowCount(), 1);
        sheet->contentView()->expand(model->index(0, 0));
        const QString versionSrc
            = folder + QLatin1Char('/') + versionFolders(folder).last() + QStringLiteral("/src.wrp1/src");
        const QModelIndex a = model->indexOfPath(versionSrc + QStringLiteral("/a"));
        QVERIFY(a.isValid());
        sheet->contentView()->expand(a);
        sheet->contentView()->selectionModel()->select(
            a, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        QVERIFY(sheet->restoreSelectedButton()->isEnabled());
        QTest::mouseClick(sheet->folderTarget(), Qt::LeftButton);
        // A cancelled folder choice keeps the sheet open and starts nothing.
        prompts.expectItems({});
        QTest::mouseClick(sheet->restoreSelectedButton(), Qt::LeftButton);
        QVERIFY(sheet->isVisible());
        QVERIFY(!p->isInProcess());
        prompts.expectItems({ tree.filePath(QStringLiteral("into")) });
        QTest::mouseClick(sheet->restoreSelectedButton(), Qt::LeftButton);
        QTRY_VERIFY(!sheet->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!p->isInProcess(), 60000);
        // The source's own folder comes along, holding only the chosen folder.
        QCOMPARE(readAll(tree.filePath(QStringLiteral("into/src/a/deep/two.txt"))), QByteArray("two"));
        QVERIFY(!QFileInfo::exists(tree.filePath(QStringLiteral("into/src/top.txt"))));

        // 2. The whole newest version back to its place.
        QVERIFY(QFile::remove(tree.filePath(QStringLiteral("src/a/one.txt"))));
        put(tree, "src/top.txt", "damaged");
        QVERIFY(pane.showRestore());
        QVERIFY(pane.restoreSheet()->originalTarget()->isChecked());
        QTest::mouseClick(pane.restoreSheet()->restoreAllButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!p->isInProcess(), 60000);
        QCOMPARE(readAll(tree.filePath(QStringLiteral("src/a/one.txt"))), QByteArray("one"));
        QCOMPARE(readAll(tree.filePath(QStringLiteral("src/top.txt"))), QByteArray("top, second version"));

        // 3. The project folder copied elsewhere with cp -a, restored from outside the list.
        const QString copy = tree.filePath(QStringLiteral("elsewhere/")) + QFileInfo(folder).fileName();
        QVERIFY(cpA(folder, copy));
        prompts.expectFolder(copy);
        QVERIFY(pane.restoreExternal());
        IB3RestoreController* external = pane.restoreSheet();
        QVERIFY(external->isVisible());
        QVERIFY(!external->project());
        QCOMPARE(external->versionsPopup()->count(), 2);
        QTest::mouseClick(external->folderTarget(), Qt::LeftButton);
        prompts.expectItems({ tree.filePath(QStringLiteral("into2")) });
        QTest::mouseClick(external->restoreAllButton(), Qt::LeftButton);
        IExternalRestoreWindow* erw = pane.externalRestoreWindow();
        QVERIFY(erw);
        QTRY_VERIFY(erw->isVisible());
        QCOMPARE(erw->project()->name(), QStringLiteral("Docs"));
        QVERIFY(erw->project()->isExternalRestoreFlag());
        QTRY_VERIFY_WITH_TIMEOUT(!erw->project()->isInProcess(), 60000);
        QTRY_COMPARE(erw->okButton()->text(), QStringLiteral("Close"));
        QVERIFY(erw->showButton()->isVisible());
        QCOMPARE(erw->resultPath(), tree.filePath(QStringLiteral("into2")));
        QCOMPARE(readAll(tree.filePath(QStringLiteral("into2/src/a/deep/two.txt"))), QByteArray("two"));
        QTest::mouseClick(erw->okButton(), Qt::LeftButton);
        QTRY_VERIFY(!erw->isVisible());
        QCOMPARE(container.countOfBackups3(), 1); // the temporary project never joined the list

        // 4. A version list whose folder and archive names point outside: nothing to restore.
        const QString hostile = tree.filePath(QStringLiteral("elsewhere/Evil_")) + p->UUID();
        QVERIFY(cpA(folder, hostile));
        QVariantMap info = readInfo(hostile);
        QVariantList entries = info.value(QStringLiteral("ProcessDataArray")).toList();
        for (QVariant& e : entries) {
            QVariantMap m = e.toMap();
            m.insert(QStringLiteral("Folder"), QStringLiteral("../x"));
            e = m;
        }
        info.insert(QStringLiteral("ProcessDataArray"), entries);
        QVERIFY(PlistBridge::writeFileAtomically(hostile + QStringLiteral("/qv3info.plist"), info));
        prompts.expectFolder(hostile);
        prompts.expectAlert(QStringLiteral("Files for restore not found"), 0);
        QVERIFY(!pane.restoreExternal());
        QVERIFY(!pane.restoreSheet()->isVisible());
    }
    IBackup3Controller::setShared(nullptr);
    IShellServices::setShared(nullptr);
    UiPrompts::setShared(nullptr);
    IRunLog::setShared(nullptr);
    QCOMPARE(prompts.unexpected, QStringList());
}

QTEST_MAIN(TestBackup3Restore)
#include "tst_backup3restore.moc"
