// kv-test: labels=gui timeout=180

// The snapshot-backup pane through its widgets, with the real run engine and rsync: "+" makes a
// project and the settings sheet sets its destination and schedule, "File+" adds two sources, a click in the
// check column leaves a subfolder out, the indicator starts two runs, and the versions share the unchanged
// files and lack the folder.
// The pictures of the pane come from tst_snapshottour.

#include "../e2e/E2eWorkspace.h"
#include "RecordingRunLog.h"
#include "RecordingShellServices.h"
#include "Screenshot.h"
#include "ScriptedUiPrompts.h"
#include "SnapshotPaneSteps.h"
#include "TempTree.h"
#include "panes/backup/Backup3Pane.h"
#include "panes/backup/Backup3PaneController.h"
#include "panes/backup/IBackup3PropertiesController.h"
#include "projects/ILocation.h"
#include "projects/SourceOutlineModel.h"
#include "shell/dialogs/DestinationMenu.h"
#include "shell/dialogs/ISourceOutlineView.h"
#include "shell/dialogs/IQV3ProjectListView.h"
#include "shell/dialogs/IQVProcessIndicatorView.h"
#include "shell/dialogs/ScheduleControls.h"
#include "snapshot/IBackup3.h"
#include "snapshot/IBackup3Container.h"
#include "snapshot/IBackup3Processor.h"
#include "utilities/IRunLog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>
#include <sys/stat.h>

using namespace E2e;
using namespace SnapshotPaneSteps;

class TestBackup3Pane : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { Screenshot::fixConditions(); }
    void createUncheckAndRunTwice();
};

void TestBackup3Pane::createUncheckAndRunTwice()
{
    TempTree tree(QStringLiteral("b3panegui"));
    put(tree, "src1/a/b/skipped.txt", "skip");
    put(tree, "src1/a/c/kept.txt", "kept");
    put(tree, "src1/f.txt", "one");
    put(tree, "src2/g.txt", "two");
    tree.mkdir("dest");
    const QString ws = tree.filePath(QStringLiteral("ws"));
    QVERIFY(writeWorkspace(ws, {}));

    RecordingShellServices shell;
    ScriptedUiPrompts prompts;
    RecordingRunLog runLog;
    IShellServices::setShared(&shell);
    UiPrompts::setShared(&prompts);
    IRunLog::setShared(&runLog);
    auto engine = std::make_unique<IBackup3Processor>();
    QVERIFY(engine->canWork());
    IBackup3Container container(std::move(engine), listPath(ws));
    Backup3PaneController controller(&container);
    IBackup3Controller::setShared(&controller);
    // The agent is asked for at the end of the sheet; here its login item is only recorded.
    QList<bool> autostartCalls;
    bool autostart = false;
    controller.setAgentHooks({ [&] { return autostart; },
        [&](bool on) {
            autostartCalls << on;
            autostart = on;
            return true;
        } });
    {
        Backup3Pane pane(&controller);
        pane.resize(980, 560);
        pane.setWindowTitle(QStringLiteral("Backup"));
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));

        // "+": the name prompt answers "Docs"; the settings sheet opens for the new project.
        prompts.expectText(QStringLiteral("Docs"));
        QTest::mouseClick(pane.addProjectButton(), Qt::LeftButton);
        QCOMPARE(container.countOfBackups3(), 1);
        const std::shared_ptr<IBackup3> p = container.currentBackup3();
        QCOMPARE(p->name(), QStringLiteral("Docs"));
        IBackup3PropertiesController* sheet = pane.propertiesSheet();
        QVERIFY(sheet);
        QTRY_VERIFY(sheet->isVisible());

        // In the sheet: the destination folder through its chooser, the user's own rights, a
        // daily schedule; then OK.
        QTRY_VERIFY(sheet->destinationMenu()->isFilled());
        prompts.expectFolder(tree.filePath(QStringLiteral("dest")));
        QVERIFY(chooseDestination(sheet, tree.filePath(QStringLiteral("dest"))));
        if (sheet->adminCheck()->isChecked())
            QTest::mouseClick(sheet->adminCheck(), Qt::LeftButton);
        QCOMPARE(sheet->destinationStatusLabel()->text(),
            QStringLiteral("Incremental backup is available for the selected destination"));
        sheet->tabs()->setCurrentIndex(2);
        ScheduleControls* schedule = sheet->scheduleControls();
        QTest::mouseClick(schedule->useScheduledCheck(), Qt::LeftButton);
        schedule->typePopup()->setCurrentIndex(schedule->typePopup()->findData(1));
        Q_EMIT schedule->typePopup()->activated(schedule->typePopup()->currentIndex());
        QTest::mouseClick(sheet->okButton(), Qt::LeftButton);
        QTRY_VERIFY(!pane.propertiesSheet());
        QCOMPARE(p->destinationFullPath(), tree.filePath(QStringLiteral("dest")));
        QVERIFY(p->isScheduled());
        QCOMPARE(p->getScheduleIntervalType(), 1);
        QVERIFY(p->getNextProcessDate().isValid());
        QVERIFY(!p->isUseAdminPrivilegesForPass(-1));
        QCOMPARE(autostartCalls, QList<bool>({ true }));

        QString hint;
        QVERIFY(pane.isEmptyContentAndString(&hint));
        QVERIFY(hint.contains(QLatin1String("File+")));
        QVERIFY(!pane.removeFileButton()->isEnabled());

        // "File+": two folders at once.
        prompts.expectItems({ tree.filePath(QStringLiteral("src1")), tree.filePath(QStringLiteral("src2")) });
        QTest::mouseClick(pane.addFileButton(), Qt::LeftButton);
        QCOMPARE(p->srcLocations().size(), 2);
        SourceOutlineModel* model = pane.outlineModel();
        QCOMPARE(model->rowCount(), 2);

        // Open src1 and src1/a, then uncheck src1/a/b with a click on its check box.
        IDDOutlineView* view = pane.outlineView();
        view->expand(model->index(0, 0));
        const QModelIndex a = model->indexOfPath(tree.filePath(QStringLiteral("src1/a")));
        QVERIFY(a.isValid());
        view->expand(a);
        const QModelIndex b = model->indexOfPath(tree.filePath(QStringLiteral("src1/a/b")));
        QVERIFY(b.isValid());
        view->scrollTo(b);
        clickCheck(view, b);
        QCOMPARE(p->excludePathList().value_or(QStringList()),
            QStringList { tree.filePath(QStringLiteral("src1/a/b")) });
        QCOMPARE(model->data(a, Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));
        QCOMPARE(model->data(model->index(0, 0), Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));
        view->setCurrentIndex(model->index(1, SourceOutlineModel::ColName));
        QVERIFY(pane.removeFileButton()->isEnabled());

        // The indicator starts the run; twice, with one file changed between them.
        const QString folder = projectFolder(tree.filePath(QStringLiteral("dest")), p->name(), p->UUID());
        QStringList versions;
        for (int run = 0; run < 2; ++run) {
            if (run == 1) {
                QTest::qWait(1100); // version names carry the second
                put(tree, "src2/g.txt", "changed");
            }
            QCOMPARE(pane.indicator()->buttonState(), 1);
            // The round button sits at the indicator's bottom-left corner.
            const int h = pane.indicator()->height();
            QTest::mouseClick(pane.indicator(), Qt::LeftButton, {}, QPoint(h / 2, h / 2));
            QTRY_VERIFY_WITH_TIMEOUT(!p->isInProcess(), 60000);
            if (versionFolders(folder).size() != run + 1) {
                for (const auto& m : shell.messages())
                    qWarning("log: %s", m.text.constData());
                qWarning("runlog: %s status: %s", runLog.joined().constData(),
                    qPrintable(pane.statusLabel()->text()));
            }
            QCOMPARE(versionFolders(folder).size(), run + 1);
            versions = versionFolders(folder);
        }
        const QString v1 = folder + QLatin1Char('/') + versions.at(0);
        const QString v2 = folder + QLatin1Char('/') + versions.at(1);
        QCOMPARE(inodeOf(v1 + QStringLiteral("/src1.wrp1/src1/f.txt")),
            inodeOf(v2 + QStringLiteral("/src1.wrp1/src1/f.txt")));
        QVERIFY(inodeOf(v2 + QStringLiteral("/src1.wrp1/src1/a/c/kept.txt")) != 0);
        QCOMPARE(inodeOf(v2 + QStringLiteral("/src1.wrp1/src1/a/b")), ino_t(0));
        QVERIFY(inodeOf(v1 + QStringLiteral("/src2.wrp2/src2/g.txt"))
            != inodeOf(v2 + QStringLiteral("/src2.wrp2/src2/g.txt")));
        // The row shows the run's date instead of "Never done".
        QVERIFY(pane.listView()
                    ->model()
                    ->index(0, ProjectListModel::NameColumn)
                    .data(ProjectListModel::StatusRole)
                    .toString()
            != QStringLiteral("Never done"));
    }
    IBackup3Controller::setShared(nullptr);
    IShellServices::setShared(nullptr);
    UiPrompts::setShared(nullptr);
    IRunLog::setShared(nullptr);
    QCOMPARE(prompts.unexpected, QStringList());
}

QTEST_MAIN(TestBackup3Pane)
#include "tst_backup3pane.moc"
