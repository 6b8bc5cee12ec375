// kv-test: labels=gui timeout=300 env=DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/kv-no-bus

// The archive pane through its widgets with the real archive engine and GNU tar: files dropped
// on the list make a project with a unique name, a click in the check column leaves a folder
// out, the start control builds, the restore view restores one item into a folder and
// everything to its place; the list keeps a dropped order across a restart and a project saved
// to a file comes back with its content. Pictures under archive/.

#include "../utilities/WorkspaceFixture.h"
#include "RecordingShellServices.h"
#include "Screenshot.h"
#include "ScriptedUiPrompts.h"
#include "TempTree.h"
#include "WhenOpen.h"
#include "archive/CBArchivePath.h"
#include "archive/CBackup.h"
#include "archive/CBackupContainer.h"
#include "archive/CBackupItem.h"
#include "archive/IBackup.h"
#include "panes/archive/ArchiveContentModel.h"
#include "panes/archive/ArchivePane.h"
#include "panes/archive/ArchiveProjectList.h"
#include "panes/archive/ArchiveRestoreView.h"
#include "panes/archive/IBSettingsViewController.h"
#include "panes/archive/IDetailedContentDrawerController.h"
#include "platform/NameCodec.h"
#include "projects/ILocation.h"
#include "shell/dialogs/IDDOutlineView.h"
#include "shell/dialogs/IOpenDialog.h"
#include "shell/dialogs/IQVNumberField.h"
#include "shell/dialogs/IQVProcessIndicatorView.h"
#include "shell/dialogs/WidgetUiPrompts.h"
#include "utilities/IPathUtil.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTreeView>
#include <QUrl>
#include <QtTest>

namespace {

// A drag entering the list's viewport at the point, then the drop.
bool dropOn(QAbstractItemView* view, QMimeData* mime, QPoint at, Qt::DropAction action = Qt::CopyAction)
{
    QDragEnterEvent enter(at, action, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &enter);
    QDragMoveEvent move(at, action, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &move);
    QDropEvent drop(at, action, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &drop);
    return drop.isAccepted();
}

QMimeData* filesMime(const QStringList& paths)
{
    auto* mime = new QMimeData;
    QList<QUrl> urls;
    for (const QString& p : paths)
        urls << QUrl::fromLocalFile(p);
    mime->setUrls(urls);
    return mime;
}

void clickCheck(QTreeView* view, const QModelIndex& index)
{
    view->scrollTo(index);
    const QRect r = view->visualRect(index.siblingAtColumn(ArchiveContentModel::ColIncluded));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(r.left() + 10, r.center().y()));
}

QStringList listNames(ArchivePane& pane)
{
    QStringList n;
    for (int i = 0; i < pane.projectList()->backupCount(); ++i)
        n << pane.projectList()->backupAt(i)->name();
    return n;
}

QByteArray contentAt(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

class TestArchivePane : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { Screenshot::fixConditions(); }
    void tour();
    void orderAndFilesSurviveARestart();
};

void TestArchivePane::tour()
{
    WorkspaceFixture home;
    QVERIFY(home.isValid());
    TempTree tree(QStringLiteral("archpane"));
    QVERIFY(tree.mkdir(std::string("Documents/keep")));
    QVERIFY(tree.mkdir(std::string("Documents/skip")));
    QVERIFY(tree.writeFile(std::string("Documents/keep/a.txt"), "alpha"));
    QVERIFY(tree.writeFile(std::string("Documents/skip/b.txt"), "beta"));
    QVERIFY(tree.writeFile(std::string("Documents/c.txt"), "gamma"));
    QVERIFY(tree.mkdir(std::string("dest")));
    QVERIFY(tree.mkdir(std::string("out")));

    RecordingShellServices shell;
    ShellServicesScope shellScope(&shell);
    ScriptedUiPrompts prompts;
    CBackupContainer container;
    container.loadRecentBackups();
    {
        ArchivePane pane(&container);
        ICoordinator::setShared(pane.coordinator());
        pane.resize(980, 560);
        pane.setWindowTitle(QStringLiteral("Archive"));
        pane.loadBackups({});
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));

        // A folder dropped on the list twice: "Documents", then "Documents1".
        const QString docs = tree.filePath(std::string("Documents"));
        std::unique_ptr<QMimeData> mime(filesMime({ docs }));
        QVERIFY(dropOn(pane.listView(), mime.get(), pane.listView()->viewport()->rect().center()));
        QVERIFY(dropOn(pane.listView(), mime.get(), pane.listView()->viewport()->rect().center()));
        QCOMPARE(listNames(pane), (QStringList { "Documents", "Documents1" }));
        for (int i = 0; i < 2; ++i)
            QVERIFY(QFileInfo::exists(pane.projectList()->backupAt(i)->makeBifFileName()));
        CBackup* p = pane.current();
        QCOMPARE(p->name(), QStringLiteral("Documents1"));
        Screenshot::save(&pane, "archive", "pane-drop", "A folder dropped twice: Documents and Documents1");

        // The destination, as the settings sheet sets it.
        std::unique_ptr<ILocation> dest(ILocation::create());
        QVERIFY(dest->setupWithPath(tree.filePath(std::string("dest"))));
        p->setLocation(*dest, true);
        p->setUseCompression(true);

        // Open the folder and leave "skip" out with a click in the check column.
        ArchiveContentModel* model = pane.contentModel();
        IDDOutlineView* view = pane.outlineView();
        view->expand(model->index(0, 0));
        QCOMPARE(model->rowCount(model->index(0, 0)), 3);
        QModelIndex skip;
        for (int r = 0; r < 3; ++r)
            if (model->index(r, ArchiveContentModel::ColName, model->index(0, 0)).data().toString() == "skip")
                skip = model->index(r, 0, model->index(0, 0));
        QVERIFY(skip.isValid());
        clickCheck(view, skip);
        QCOMPARE(skip.data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
        QCOMPARE(model->index(0, 0).data(Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));
        QCOMPARE(p->getIBackup()->excludePathList(), QStringList { tree.filePath(std::string("Documents/skip")) });
        Screenshot::save(&pane, "archive", "content-partly", "\"skip\" unchecked: Documents is partly included");
        Screenshot::save(&pane, "archive", "pane-dark", "The same pane in the dark palette");

        // "View Content": the larger outline over the same model shows the same marks.
        whenOpen<IDetailedContentDrawerController>([&](IDetailedContentDrawerController* d) {
            IDDOutlineView* view = d->contentView();
            QCOMPARE(view->model(), static_cast<QAbstractItemModel*>(pane.contentModel()));
            const QModelIndex top = view->model()->index(0, ArchiveContentModel::ColIncluded);
            QCOMPARE(top.data(Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));
            view->expandAll();
            QTRY_VERIFY(view->model()->rowCount(top.siblingAtColumn(0)) > 0);
            Screenshot::save(d, "archive", "detailed-content", "The project's content in the larger outline");
            QTest::mouseClick(d->closeButton(), Qt::LeftButton);
        });
        QTest::mouseClick(pane.contentButton(), Qt::LeftButton);
        QCOMPARE(listNames(pane).size(), 2);

        // The start control builds with GNU tar.
        QCOMPARE(pane.indicatorView()->buttonState(), 1);
        const int h = pane.indicatorView()->height();
        QTest::mouseClick(pane.indicatorView(), Qt::LeftButton, {}, QPoint(h / 2, h / 2));
        // While the job runs only the menu's stop item is on.
        if (CBackup::m_nTarRunning > 0 || p->isInProcess()) {
            pane.validateMenuActions();
            QVERIFY(pane.menuAction(1402)->isEnabled());
            QVERIFY(!pane.menuAction(1401)->isEnabled() && !pane.menuAction(1403)->isEnabled());
        }
        QTRY_VERIFY_WITH_TIMEOUT(!p->isInProcess() && CBackup::m_nTarRunning == 0, 60000);
        QCOMPARE(int(p->archives().size()), 1);
        // Idle with an archive: build and both restores on, stop off.
        QTRY_VERIFY(pane.menuAction(1401)->isEnabled());
        QVERIFY(!pane.menuAction(1402)->isEnabled());
        QVERIFY(pane.menuAction(1403)->isEnabled() && pane.menuAction(1404)->isEnabled());
        const QString archive = p->getAbsolutePathName(false, false) + '/' + p->archives().front().fileName;
        QVERIFY2(QFileInfo::exists(archive), qPrintable(archive));
        {
            QProcess tar;
            tar.start("/usr/bin/tar", { "-tzf", archive });
            QVERIFY(tar.waitForFinished(30000));
            const QString listing = QString::fromUtf8(tar.readAllStandardOutput());
            QVERIFY2(listing.contains("Documents/keep/a.txt"), qPrintable(listing));
            QVERIFY2(!listing.contains("skip/b.txt"), qPrintable(listing));
        }

        // The restore view: one item into a folder. An older split archive that is gone shows
        // as not reachable.
        const CBArchivePath real = p->archives().front();
        p->addArchPath({ real.pathFromMountPoint, QString(), "vers_Documents1_2020-01-01_08-00-00_lp.tgz.cnt3",
            real.deviceType });
        QVERIFY(p->save());
        const QString out = tree.filePath(std::string("out"));
        prompts.expectFolder(out);
        whenOpen<ArchiveRestoreView>([&](ArchiveRestoreView* v) {
            QCOMPARE(v->archives()->count(), 2);
            const int missing = v->archives()->findText("(N/A) vers: 2020-01-01 08:00:00 multi-volume");
            QVERIFY(missing >= 0);
            v->archives()->setCurrentIndex(missing);
            QVERIFY(v->restoreAllButton()->isEnabled()); // still choosable
            Screenshot::save(v, "archive", "restore-view",
                "The restore view with the older split archive chosen: \"(N/A) ... multi-volume\"");
            v->archives()->setCurrentIndex(1 - missing);
            QVERIFY(v->restoreAllButton()->isEnabled());
            v->outline()->expand(v->model()->index(0, 0));
            const QModelIndex top = v->model()->index(0, 0);
            QModelIndex c;
            for (int r = 0; r < v->model()->rowCount(top); ++r)
                if (v->model()->index(r, ArchiveContentModel::ColName, top).data().toString() == "c.txt")
                    c = v->model()->index(r, ArchiveContentModel::ColName, top);
            QVERIFY(c.isValid());
            v->outline()->selectionModel()->select(c, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            v->otherFolder()->setChecked(true);
            Screenshot::save(v, "archive", "restore-view-selected", "The newest archive with c.txt selected");
            QTest::mouseClick(v->restoreSelectedButton(), Qt::LeftButton);
        });
        pane.openRestoreView();
        QTRY_VERIFY_WITH_TIMEOUT(!p->isInProcess() && CBackup::m_nTarRunning == 0, 60000);
        QCOMPARE(contentAt(out + docs + "/c.txt"), QByteArray("gamma"));
        p->removeArchName(QStringLiteral("vers_Documents1_2020-01-01_08-00-00_lp.tgz.cnt3"));
        QCOMPARE(int(p->archives().size()), 1);
        QVERIFY(p->save());
        QVERIFY(!QFileInfo::exists(out + docs + "/keep/a.txt"));

        // Everything to its place, after the source changed.
        QVERIFY(tree.writeFile(std::string("Documents/keep/a.txt"), "changed"));
        prompts.expectAlert(QStringLiteral("existing files may be replaced"), 0);
        whenOpen<ArchiveRestoreView>([&](ArchiveRestoreView* v) {
            v->originalPlaces()->setChecked(true);
            QTest::mouseClick(v->restoreAllButton(), Qt::LeftButton);
        });
        pane.openRestoreView();
        QTRY_VERIFY_WITH_TIMEOUT(!p->isInProcess() && CBackup::m_nTarRunning == 0, 60000);
        QCOMPARE(contentAt(docs + "/keep/a.txt"), QByteArray("alpha"));

        // An AES-256 archive of the same content, built with the start control and restored
        // whole into a folder with the scripted password.
        p->setCryptMethod(CBCryptAES256);
        QVERIFY(p->save());
        prompts.expectProjectPassword(QStringLiteral("s3cret pass"));
        // The control shows start again once the pane saw the run end.
        QTRY_COMPARE_WITH_TIMEOUT(pane.indicatorView()->buttonState(), 1, 5000);
        QTest::mouseClick(pane.indicatorView(), Qt::LeftButton, {}, QPoint(h / 2, h / 2));
        QTRY_VERIFY_WITH_TIMEOUT(!p->isInProcess() && CBackup::m_nTarRunning == 0, 60000);
        QCOMPARE(int(p->archives().size()), 2);
        QVERIFY(p->archives().back().fileName.contains(QLatin1String(".aes256")));
        const QString out2 = tree.filePath(std::string("out2"));
        QVERIFY(QDir().mkpath(out2));
        prompts.expectFolder(out2);
        if (p->getIBackup()->currentPassword().isEmpty())
            prompts.expectProjectPassword(QStringLiteral("s3cret pass"));
        whenOpen<ArchiveRestoreView>([&](ArchiveRestoreView* v) {
            QCOMPARE(v->archives()->currentData().toInt(), 1); // the newest
            v->otherFolder()->setChecked(true);
            QTest::mouseClick(v->restoreAllButton(), Qt::LeftButton);
        });
        pane.openRestoreView();
        QTRY_VERIFY_WITH_TIMEOUT(!p->isInProcess() && CBackup::m_nTarRunning == 0, 60000);
        QCOMPARE(contentAt(out2 + docs + "/keep/a.txt"), QByteArray("alpha"));
        QCOMPARE(prompts.pending(), 0);

        // The settings sheet, page by page; Cancel stores nothing.
        whenOpen<IBSettingsViewController>([&](IBSettingsViewController* s) {
            const char* pages[] = { "settings-general", "settings-compression", "settings-encryption",
                "settings-split", "settings-schedule", "settings-exclusions" };
            for (int i = 0; i < s->tabs()->count(); ++i) {
                s->tabs()->setCurrentIndex(i);
                if (i == 3) {
                    s->sizeLimit()->setCurrentIndex(5);
                    s->customSizeLimit()->setText("1500");
                }
                Screenshot::save(s, "archive", pages[i], QStringLiteral("Settings: page %1").arg(i + 1));
            }
            s->reject();
        });
        pane.openSettings();
        QCOMPARE(p->backupSizeLimit(), quint64(0));

        // The open panel of a restore that misses a file, with "Skip file".
        WidgetUiPrompts widgets;
        widgets.setParentWidget(&pane);
        whenOpen<IOpenDialog>([&](IOpenDialog* d) {
            auto* skipButton = d->findChild<QPushButton*>(QStringLiteral("skipFileButton"));
            QVERIFY(skipButton);
            QCOMPARE(skipButton->text(), QStringLiteral("Skip file"));
            Screenshot::save(d, "archive", "open-panel", "A missing archive volume is asked for, with \"Skip file\"");
            QTest::mouseClick(skipButton, Qt::LeftButton);
        });
        UiPrompts::LocateFileRequest locate;
        locate.fileName = QStringLiteral("full_P_2026-01-01_08-00-00_lp.tgz.aab");
        locate.startFolder = out;
        locate.canSkip = true;
        QCOMPARE(widgets.locateFile(locate).result, UiPrompts::LocateResult::Skipped);

        // A third project, then the delete alert as the user sees it (Cancel keeps it).
        QVERIFY(tree.writeFile(std::string("notes.txt"), "n"));
        std::unique_ptr<QMimeData> notes(filesMime({ tree.filePath(std::string("notes.txt")) }));
        QVERIFY(dropOn(pane.listView(), notes.get(), pane.listView()->viewport()->rect().bottomLeft()));
        QCOMPARE(listNames(pane).size(), 3);
        Screenshot::save(&pane, "archive", "list-three", "Three projects");
        UiPrompts::setShared(&widgets);
        whenOpen<QMessageBox>([&](QMessageBox* box) {
            Screenshot::save(&pane, "archive", "list-delete-alert", "Removing a project asks first");
            for (QAbstractButton* b : box->buttons())
                if (b->text() == "Cancel")
                    b->click();
        });
        QTest::mouseClick(pane.deleteProjectButton(), Qt::LeftButton);
        UiPrompts::setShared(&prompts);
        QCOMPARE(listNames(pane).size(), 3);
        ICoordinator::setShared(nullptr);
    }
    QCOMPARE(prompts.unexpected, QStringList());
}

void TestArchivePane::orderAndFilesSurviveARestart()
{
    WorkspaceFixture home;
    TempTree tree(QStringLiteral("archorder"));
    for (const char* n : { "A", "B", "C" }) {
        QVERIFY(tree.mkdir(n));
        QVERIFY(tree.writeFile(std::string(n) + "/f.txt", n));
    }
    RecordingShellServices shell;
    ShellServicesScope shellScope(&shell);
    ScriptedUiPrompts prompts;
    QVariantList saved;
    {
        CBackupContainer container;
        ArchivePane pane(&container);
        pane.resize(900, 500);
        pane.loadBackups({});
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        for (const char* n : { "A", "B", "C" }) {
            std::unique_ptr<QMimeData> mime(filesMime({ tree.filePath(std::string(n)) }));
            QVERIFY(dropOn(pane.listView(), mime.get(), pane.listView()->viewport()->rect().bottomLeft()));
        }
        QCOMPARE(listNames(pane), (QStringList { "A", "B", "C" }));
        // Drag row 0 below the last row: it moves to the end. A drop on a row is refused.
        std::unique_ptr<QMimeData> row(pane.listModel()->mimeData({ pane.listModel()->index(0, ProjectListModel::NameColumn) }));
        const QRect last = pane.listView()->visualRect(pane.listModel()->index(2, ProjectListModel::NameColumn));
        QVERIFY(!pane.listModel()->canDropMimeData(
            row.get(), Qt::MoveAction, -1, -1, pane.listModel()->index(2, ProjectListModel::NameColumn)));
        QVERIFY(!pane.listModel()->dropMimeData(
            row.get(), Qt::MoveAction, -1, -1, pane.listModel()->index(2, ProjectListModel::NameColumn)));
        QCOMPARE(listNames(pane), (QStringList { "A", "B", "C" }));
        dropOn(pane.listView(), row.get(), QPoint(last.center().x(), last.bottom() + 20), Qt::MoveAction);
        QCOMPARE(listNames(pane), (QStringList { "B", "C", "A" }));
        pane.saveProjectOrderListToDict(saved);

        // Saved to a .bif, removed, opened again: back with its content.
        pane.selectRow(1);
        QCOMPARE(pane.current()->name(), QStringLiteral("C"));
        const QString file = tree.filePath(std::string("C-copy.bif"));
        prompts.expectAlert(QStringLiteral("remove this project"), 0);
        prompts.expectSavePath(file);
        QTest::mouseClick(pane.deleteProjectButton(), Qt::LeftButton);
        QCOMPARE(listNames(pane), (QStringList { "B", "A" }));
        QCOMPARE(pane.projectList()->openBackupFiles({ file }), 1);
        CBackup* back = container.findBackup("C-copy");
        QVERIFY(back);
        QCOMPARE(back->count(), 1);
        QCOMPARE(back->itemAt(0)->getAbsolutePath(), tree.filePath(std::string("C")));
        // The colour label's colour in the row.
        pane.selectRow(0);
        pane.menuColorLabelSelect(4);
        QCOMPARE(pane.listModel()->index(0, ProjectListModel::ColorColumn).data(ProjectListModel::ColorRole).value<QColor>(),
            QColor(143, 193, 37));
        saved.clear();
        pane.saveProjectOrderListToDict(saved);
    }
    {
        // A new start: the stored order comes back.
        CBackupContainer container;
        container.loadRecentBackups();
        ArchivePane pane(&container);
        pane.loadBackups(saved);
        QCOMPARE(listNames(pane), (QStringList { "B", "A", "C-copy" }));
        pane.selectRow(2);
        QCOMPARE(pane.current()->count(), 1);
    }
    QCOMPARE(prompts.unexpected, QStringList());
}

QTEST_MAIN(TestArchivePane)
#include "tst_archivepane.moc"
