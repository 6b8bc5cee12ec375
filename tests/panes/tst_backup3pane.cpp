// kv-test: labels=gui timeout=180

// The snapshot-backup pane through its widgets, with the real run engine and rsync: "+" makes a
// project, "File+" adds two sources, a click in the check column leaves a subfolder out, the
// indicator starts two runs, and the versions share the unchanged files and lack the folder.
// Pictures: snapshot/pane-empty, pane-sources and pane-sources-dark.

#include "../e2e/E2eWorkspace.h"
#include "RecordingRunLog.h"
#include "RecordingShellServices.h"
#include "Screenshot.h"
#include "ScriptedUiPrompts.h"
#include "TempTree.h"
#include "panes/backup/Backup3Pane.h"
#include "panes/backup/Backup3PaneController.h"
#include "projects/ILocation.h"
#include "projects/SourceOutlineModel.h"
#include "shell/dialogs/IDDOutlineView.h"
#include "shell/dialogs/IQV3ProjectListView.h"
#include "shell/dialogs/IQVProcessIndicatorView.h"
#include "snapshot/IBackup3.h"
#include "snapshot/IBackup3Container.h"
#include "snapshot/IBackup3Processor.h"
#include "utilities/IRunLog.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QtTest>
#include <sys/stat.h>

using namespace E2e;

namespace {

ino_t inodeOf(const QString& path)
{
    struct stat st = {};
    return ::lstat(NameCodec::encode(path).constData(), &st) == 0 ? st.st_ino : 0;
}

// Clicks the check box of a row of the outline.
void clickCheck(IDDOutlineView* view, const QModelIndex& index)
{
    const QRect r = view->visualRect(index.siblingAtColumn(SourceOutlineModel::ColIncluded));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(r.left() + 10, r.center().y()));
}

} // namespace

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
    {
        Backup3Pane pane(&controller);
        pane.resize(980, 560);
        pane.setWindowTitle(QStringLiteral("Backup"));
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));

        // "+": the name prompt answers "Docs"; the outline shows the hint.
        prompts.expectText(QStringLiteral("Docs"));
        QTest::mouseClick(pane.addProjectButton(), Qt::LeftButton);
        QCOMPARE(container.countOfBackups3(), 1);
        const std::shared_ptr<IBackup3> p = container.currentBackup3();
        QCOMPARE(p->name(), QStringLiteral("Docs"));
        QString hint;
        QVERIFY(pane.isEmptyContentAndString(&hint));
        QVERIFY(hint.contains(QLatin1String("File+")));
        QVERIFY(!pane.removeFileButton()->isEnabled());
        Screenshot::save(&pane, QStringLiteral("snapshot"), QStringLiteral("pane-empty"),
            QStringLiteral("A new project without sources: the outline shows the hint"));

        // The destination as the settings sheet sets it; the run uses the user's rights.
        std::shared_ptr<ILocation> dest(ILocation::create());
        QVERIFY(dest->setupWithPath(tree.filePath(QStringLiteral("dest"))));
        p->setDestLocation(dest);
        p->setUseAdminPrivileges(false);

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
        Screenshot::save(&pane, QStringLiteral("snapshot"), QStringLiteral("pane-sources"),
            QStringLiteral("Two sources, src1/a/b unchecked: src1 and src1/a are partly included"));
        Screenshot::save(&pane, QStringLiteral("snapshot"), QStringLiteral("pane-sources-dark"),
            QStringLiteral("The same pane in the dark palette"));

        // The indicator starts the run; twice, with one file changed between them.
        const QString folder = projectFolder(
            { .name = p->name(), .uuid = p->UUID(), .destination = tree.filePath(QStringLiteral("dest")) });
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
