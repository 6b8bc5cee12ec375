// kv-test: labels=gui timeout=300

// A tour of the snapshot-backup pane's main road through its real widgets, with the real run
// engine and rsync, at a fixed clock: "+" makes a project and the settings sheet sets its folder
// destination and a 9:15 PM daily schedule, "File+" adds two sources, a click leaves a subfolder
// out, the indicator runs it twice (the second pass of the first run held mid-run beside a queued
// and a scheduled project), the restore sheet brings a folder back into a folder and the whole
// version back in place, and a copy of the project folder is restored from outside the list.
// The settings sheet is then pictured for a disk image and in two locales, and the size prompt
// and the Create Disk Image dialog as a user sees them. Every picture of the pane's folder
// snapshot/ comes from here, except create-image-progress, which needs a real image
// (tst_diskimagecreater_root).

#include "../e2e/E2eWorkspace.h"
#include "ModalWatchdog.h"
#include "RecordingRunLog.h"
#include "RecordingShellServices.h"
#include "Screenshot.h"
#include "ScriptedClock.h"
#include "ScriptedUiPrompts.h"
#include "SnapshotPaneSteps.h"
#include "TempTree.h"
#include "WhenOpen.h"
#include "panes/backup/Backup3Pane.h"
#include "panes/backup/Backup3PaneController.h"
#include "panes/backup/IB3RestoreController.h"
#include "panes/backup/IBackup3PropertiesController.h"
#include "panes/backup/IDiskImageCreater.h"
#include "panes/backup/IExternalRestoreWindow.h"
#include "projects/ILocation.h"
#include "projects/SourceOutlineModel.h"
#include "shell/dialogs/DestinationMenu.h"
#include "shell/dialogs/IQV3ProjectListView.h"
#include "shell/dialogs/IQVNumberField.h"
#include "shell/dialogs/IQVProcessIndicatorView.h"
#include "shell/dialogs/ISourceOutlineView.h"
#include "shell/dialogs/ScheduleControls.h"
#include "shell/dialogs/WidgetUiPrompts.h"
#include "snapshot/IBackup3.h"
#include "snapshot/IBackup3Container.h"
#include "snapshot/IBackup3Processor.h"
#include "utilities/IRunLog.h"

#include <QtTest>
#include <QtWidgets>
#include <sys/stat.h>

using namespace E2e;
using namespace SnapshotPaneSteps;

namespace {

const char* const kSheets[] = { "IBackup3PropertiesController", "IB3RestoreController",
    "IExternalRestoreWindow", "IDiskImageCreater" };

// Chooses the item of a pop-up as a click on it would.
void pick(QComboBox* popup, int index)
{
    QVERIFY(index >= 0);
    popup->setCurrentIndex(index);
    Q_EMIT popup->activated(index);
}

void clickRow(QAbstractItemView* view, int row)
{
    const QRect r = view->visualRect(view->model()->index(row, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, r.center());
}

void clickIndicator(IQVProcessIndicatorView* indicator)
{
    // The round button sits at the indicator's bottom-left corner.
    const int h = indicator->height();
    QTest::mouseClick(indicator, Qt::LeftButton, {}, QPoint(h / 2, h / 2));
}

void picture(QWidget* w, const char* name, const char* caption)
{
    QVERIFY(!Screenshot::save(w, QStringLiteral("snapshot"), QLatin1String(name), QLatin1String(caption))
                 .isEmpty());
}

} // namespace

class TestSnapshotTour : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        Screenshot::fixConditions();
        for (const char* c : kSheets)
            ModalWatchdog::instance().announce(c);
    }
    void cleanupTestCase()
    {
        for (const char* c : kSheets)
            ModalWatchdog::instance().withdraw(c);
    }
    void tour();
};

void TestSnapshotTour::tour()
{
    // 09:00 on a Thursday; the clock moves only when the tour moves it.
    ScriptedClock clock(QDateTime(QDate(2026, 1, 15), QTime(9, 0), Qt::UTC));
    TempTree tree(QStringLiteral("b3tour"));
    put(tree, "Documents/Letters/2025/march.txt", "march");
    put(tree, "Documents/Letters/drafts/skip.txt", "skip");
    put(tree, "Documents/Reports/q4.txt", "q4");
    put(tree, "Documents/notes.txt", "first notes");
    put(tree, "Pictures/beach.jpg", "beach");
    tree.mkdir("Backups");
    tree.mkdir("Restored");
    tree.mkdir("Restored from copy");
    tree.mkdir("Elsewhere");
    const QString ws = tree.filePath(QStringLiteral("ws"));
    QVERIFY(writeWorkspace(ws, {}));
    // rsync through a wrapper that holds the pass over Pictures while the hold file exists.
    const QString hold = tree.filePath(QStringLiteral("hold"));
    put(tree, "rsync-held",
        QByteArray("#!/bin/sh\ncase \"$*\" in *Pictures*) while [ -e '") + hold.toUtf8()
            + "' ]; do sleep 0.05; done ;; esac\nexec /usr/bin/rsync \"$@\"\n",
        0755);

    RecordingShellServices shell;
    ScriptedUiPrompts prompts;
    RecordingRunLog runLog;
    IShellServices::setShared(&shell);
    UiPrompts::setShared(&prompts);
    IRunLog::setShared(&runLog);
    auto engine = std::make_unique<IBackup3Processor>(tree.filePath(QStringLiteral("rsync-held")), nullptr);
    QVERIFY(engine->canWork());
    IBackup3Container container(std::move(engine), listPath(ws));
    Backup3PaneController controller(&container);
    IBackup3Controller::setShared(&controller);
    controller.setAgentHooks({ [] { return true; }, [](bool) { return true; } });
    // Two more projects for the list's states: one to queue, one on a schedule of its own.
    const auto photos = container.createNewBackup3(QStringLiteral("Photos"));
    const auto mail = container.createNewBackup3(QStringLiteral("Mail"));
    mail->setScheduled(true);
    mail->setScheduleIntervalType(1);
    mail->setNextProcessDate(clock.now().addDays(1));
    {
        Backup3Pane pane(&controller);
        pane.resize(980, 560);
        pane.setWindowTitle(QStringLiteral("Backup"));
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));

        // "+": the name, then the settings sheet for the new project.
        prompts.expectText(QStringLiteral("Documents"));
        QTest::mouseClick(pane.addProjectButton(), Qt::LeftButton);
        const std::shared_ptr<IBackup3> p = container.currentBackup3();
        QCOMPARE(p->name(), QStringLiteral("Documents"));
        IBackup3PropertiesController* sheet = pane.propertiesSheet();
        QVERIFY(sheet);
        QTRY_VERIFY(sheet->isVisible());
        QTRY_VERIFY(sheet->destinationMenu()->isFilled());
        prompts.expectFolder(tree.filePath(QStringLiteral("Backups")));
        QVERIFY(chooseDestination(sheet, tree.filePath(QStringLiteral("Backups"))));
        if (sheet->adminCheck()->isChecked())
            QTest::mouseClick(sheet->adminCheck(), Qt::LeftButton);
        QCOMPARE(sheet->destinationStatusLabel()->text(),
            QStringLiteral("Incremental backup is available for the selected destination"));
        picture(sheet, "settings-folder", "The settings sheet with a folder destination that keeps hard links");
        // Daily at 9:15 PM.
        sheet->tabs()->setCurrentIndex(2);
        ScheduleControls* schedule = sheet->scheduleControls();
        QVERIFY(schedule->isTwelveHour());
        QTest::mouseClick(schedule->useScheduledCheck(), Qt::LeftButton);
        pick(schedule->typePopup(), schedule->typePopup()->findData(1));
        pick(schedule->hourPopup(), schedule->hourPopup()->findText(QStringLiteral("9")));
        pick(schedule->minutePopup(), schedule->minutePopup()->findText(QStringLiteral("15")));
        pick(schedule->amPmPopup(), schedule->amPmPopup()->findText(QStringLiteral("PM")));
        QTest::mouseClick(sheet->okButton(), Qt::LeftButton);
        QTRY_VERIFY(!pane.propertiesSheet());
        QCOMPARE(p->destinationFullPath(), tree.filePath(QStringLiteral("Backups")));
        QVERIFY(p->isScheduled());
        QCOMPARE(p->getScheduleTimeHH(), 21);
        QCOMPARE(p->getNextProcessDate(), QDateTime(QDate(2026, 1, 15), QTime(21, 15), Qt::UTC));

        QString hint;
        QVERIFY(pane.isEmptyContentAndString(&hint));
        picture(&pane, "pane-empty", "A new project without sources: the outline shows the hint");

        // "File+": two folders at once; Documents/Letters/drafts left out by a click.
        prompts.expectItems(
            { tree.filePath(QStringLiteral("Documents")), tree.filePath(QStringLiteral("Pictures")) });
        QTest::mouseClick(pane.addFileButton(), Qt::LeftButton);
        SourceOutlineModel* model = pane.outlineModel();
        // The list still shows the project selected.
        const QModelIndexList selected = pane.listView()->selectionModel()->selectedRows();
        QVERIFY(selected.size() == 1 && selected.first().row() == 2);
        QCOMPARE(model->rowCount(), 2);
        ISourceOutlineView* view = pane.outlineView();
        view->expand(model->index(0, 0));
        const QModelIndex letters = model->indexOfPath(tree.filePath(QStringLiteral("Documents/Letters")));
        QVERIFY(letters.isValid());
        view->expand(letters);
        const QModelIndex drafts = model->indexOfPath(tree.filePath(QStringLiteral("Documents/Letters/drafts")));
        QVERIFY(drafts.isValid());
        clickCheck(view, drafts);
        QCOMPARE(p->excludePathList().value_or(QStringList()),
            QStringList { tree.filePath(QStringLiteral("Documents/Letters/drafts")) });
        QCOMPARE(model->data(letters, Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));
        QCOMPARE(model->data(model->index(0, 0), Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));
        picture(&pane, "pane-sources",
            "Two sources, Letters/drafts unchecked: Documents and Letters are partly included");

        // First run, held at its second pass; Photos waits behind it.
        const QString folder = projectFolder(tree.filePath(QStringLiteral("Backups")), p->name(), p->UUID());
        put(tree, "hold", "");
        QCOMPARE(pane.indicator()->buttonState(), 1);
        clickIndicator(pane.indicator());
        QTRY_VERIFY2_WITH_TIMEOUT(pane.statusLabel()->text().contains(QLatin1String("Pictures")),
            qPrintable(pane.statusLabel()->text() + QLatin1Char(' ') + QString::fromUtf8(runLog.joined())), 30000);
        container.addBackup3ToProcessingList(photos);
        QTRY_COMPARE(pane.indicator()->buttonState(), 2);
        QTRY_VERIFY(pane.listView()->spinnerRows().contains(2));
        QVERIFY(!pane.addFileButton()->isEnabled());
        QTest::qWait(120); // a turn of the wheel
        picture(&pane, "pane-running", "The first run in its second pass: the indicator and the row's wheel");
        picture(pane.listView(), "list-states", "A running, a queued (Photos) and a scheduled (Mail) row");
        container.removeBackup3FromProcessingList(photos);
        QVERIFY(QFile::remove(hold));
        QTRY_VERIFY_WITH_TIMEOUT(!p->isInProcess(), 60000);
        QCOMPARE(versionFolders(folder).size(), 1);
        QVERIFY(!photos->isInProcess());

        // Second run a minute later, with one file changed.
        clock.advance(60 * 1000);
        put(tree, "Documents/notes.txt", "second notes");
        clickIndicator(pane.indicator());
        QTRY_VERIFY_WITH_TIMEOUT(!p->isInProcess(), 60000);
        const QStringList versions = versionFolders(folder);
        QCOMPARE(versions, QStringList({ "b3_2026-01-15_09-00-00", "b3_2026-01-15_09-01-00" }));
        const QString v1 = folder + QStringLiteral("/b3_2026-01-15_09-00-00/Documents.wrp1/Documents");
        const QString v2 = folder + QStringLiteral("/b3_2026-01-15_09-01-00/Documents.wrp1/Documents");
        QCOMPARE(inodeOf(v1 + QStringLiteral("/Reports/q4.txt")), inodeOf(v2 + QStringLiteral("/Reports/q4.txt")));
        QVERIFY(inodeOf(v1 + QStringLiteral("/notes.txt")) != inodeOf(v2 + QStringLiteral("/notes.txt")));
        QCOMPARE(inodeOf(v2 + QStringLiteral("/Letters/drafts")), ino_t(0));
        QVERIFY(inodeOf(v2 + QStringLiteral("/Letters/2025/march.txt")) != 0);

        // The restore sheet: both versions, the newest selected; Letters into a folder.
        QTRY_VERIFY(pane.restoreButton()->isEnabled());
        QTest::mouseClick(pane.restoreButton(), Qt::LeftButton);
        IB3RestoreController* restore = pane.restoreSheet();
        QVERIFY(restore && restore->isVisible());
        QCOMPARE(restore->versionsPopup()->count(), 2);
        QCOMPARE(restore->versionsPopup()->currentIndex(), 0);
        SourceOutlineModel* content = restore->contentModel();
        QCOMPARE(content->rowCount(), 2);
        restore->contentView()->expand(content->index(0, 0));
        const QModelIndex restoredLetters = content->indexOfPath(v2 + QStringLiteral("/Letters"));
        QVERIFY(restoredLetters.isValid());
        restore->contentView()->expand(restoredLetters);
        restore->contentView()->selectionModel()->select(
            restoredLetters, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        QTest::mouseClick(restore->folderTarget(), Qt::LeftButton);
        QVERIFY(restore->restoreSelectedButton()->isEnabled());
        // Every date of the tree fits its column.
        const QModelIndex dated = content->index(0, SourceOutlineModel::ColDate);
        QVERIFY(restore->contentView()->columnWidth(SourceOutlineModel::ColDate)
            >= restore->contentView()->fontMetrics().horizontalAdvance(dated.data().toString()));
        picture(restore, "restore-sheet", "The restore sheet: two versions, the newest selected, Letters chosen");
        prompts.expectItems({ tree.filePath(QStringLiteral("Restored")) });
        QTest::mouseClick(restore->restoreSelectedButton(), Qt::LeftButton);
        QTRY_VERIFY(!restore->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!p->isInProcess(), 60000);
        QCOMPARE(readAll(tree.filePath(QStringLiteral("Restored/Documents/Letters/2025/march.txt"))),
            QByteArray("march"));
        QVERIFY(!QFileInfo::exists(tree.filePath(QStringLiteral("Restored/Documents/notes.txt"))));

        // The whole newest version back in place.
        QVERIFY(QFile::remove(tree.filePath(QStringLiteral("Documents/Reports/q4.txt"))));
        QVERIFY(QFile::remove(tree.filePath(QStringLiteral("Pictures/beach.jpg"))));
        QVERIFY(pane.showRestore());
        QVERIFY(pane.restoreSheet()->originalTarget()->isChecked());
        QTest::mouseClick(pane.restoreSheet()->restoreAllButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!p->isInProcess(), 60000);
        QCOMPARE(readAll(tree.filePath(QStringLiteral("Documents/Reports/q4.txt"))), QByteArray("q4"));
        QCOMPARE(readAll(tree.filePath(QStringLiteral("Pictures/beach.jpg"))), QByteArray("beach"));

        // The project folder copied with cp -a and restored from outside the list.
        const QString copy = tree.filePath(QStringLiteral("Elsewhere/")) + QFileInfo(folder).fileName();
        QCOMPARE(QProcess::execute(QStringLiteral("cp"), { QStringLiteral("-a"), folder, copy }), 0);
        prompts.expectFolder(copy);
        QVERIFY(pane.restoreExternal());
        IB3RestoreController* external = pane.restoreSheet();
        QVERIFY(external->isVisible());
        QCOMPARE(external->versionsPopup()->count(), 2);
        QTest::mouseClick(external->folderTarget(), Qt::LeftButton);
        prompts.expectItems({ tree.filePath(QStringLiteral("Restored from copy")) });
        QTest::mouseClick(external->restoreAllButton(), Qt::LeftButton);
        IExternalRestoreWindow* erw = pane.externalRestoreWindow();
        QVERIFY(erw);
        QTRY_VERIFY_WITH_TIMEOUT(!erw->project()->isInProcess(), 60000);
        QTRY_COMPARE(erw->okButton()->text(), QStringLiteral("Close"));
        QVERIFY(erw->showButton()->isVisible());
        picture(erw, "restore-external", "A restore from a copied project folder has ended");
        QCOMPARE(readAll(tree.filePath(QStringLiteral("Restored from copy/Documents/notes.txt"))),
            QByteArray("second notes"));
        QTest::mouseClick(erw->okButton(), Qt::LeftButton);
        QTRY_VERIFY(!erw->isVisible());
        QCOMPARE(container.countOfBackups3(), 3);

        // The settings sheet again: a disk image of at most 25 GB, not kept.
        QTest::mouseClick(pane.propertiesButton(), Qt::LeftButton);
        sheet = pane.propertiesSheet();
        QVERIFY(sheet);
        QTRY_VERIFY(sheet->isVisible());
        pick(sheet->targetTypePopup(), 1);
        pick(sheet->sizeTypePopup(), 1);
        QVERIFY(sheet->customSizeField()->isVisible());
        sheet->customSizeField()->setFocus();
        sheet->customSizeField()->selectAll();
        QTest::keyClicks(sheet->customSizeField(), QStringLiteral("25"));
        picture(sheet, "settings-image", "The settings sheet for a disk-image destination with a custom maximum size");
        QTest::mouseClick(sheet->cancelButton(), Qt::LeftButton);
        QTRY_VERIFY(!pane.propertiesSheet());
        QCOMPARE(p->backupTargetType(), 0);

        // The schedule in two locales: 9:15 PM against 21:15.
        for (const char* locale : { "en_US", "de_DE" }) {
            QLocale::setDefault(QLocale(QLatin1String(locale)));
            QTest::mouseClick(pane.propertiesButton(), Qt::LeftButton);
            sheet = pane.propertiesSheet();
            QVERIFY(sheet);
            QTRY_VERIFY(sheet->isVisible());
            sheet->tabs()->setCurrentIndex(2);
            const bool twelve = QLatin1String(locale) == QLatin1String("en_US");
            QCOMPARE(sheet->scheduleControls()->isTwelveHour(), twelve);
            QCOMPARE(sheet->scheduleControls()->hourPopup()->currentText(),
                twelve ? QStringLiteral("9") : QStringLiteral("21"));
            picture(sheet, twelve ? "settings-schedule-en_US" : "settings-schedule-de_DE",
                twelve ? "A daily schedule at 9:15 PM on a 12-hour clock"
                       : "The same schedule at 21:15 on a 24-hour clock");
            QTest::mouseClick(sheet->cancelButton(), Qt::LeftButton);
            QTRY_VERIFY(!pane.propertiesSheet());
        }
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));

        // The size prompt of a full image, through its real field.
        {
            WidgetUiPrompts widgets;
            widgets.setParentWidget(&pane);
            UiPrompts::setShared(&widgets);
            whenOpen<QDialog>([](QDialog* dialog) {
                auto* field = dialog->findChild<IQVNumberField*>();
                QVERIFY(field);
                field->selectAll();
                QTest::keyClicks(field, QStringLiteral("12.5"));
                picture(dialog, "size-prompt", "The new maximum size of a full disk image");
                QTest::keyClick(field, Qt::Key_Return);
            });
            double size = 0;
            QVERIFY(controller.getNewDICustomMaxSizeInGBByUserTo(&size, 4));
            QCOMPARE(size, 12.5);
            UiPrompts::setShared(&prompts);
        }

        // Create Disk Image, as the File menu opens it; closed without making anything.
        IDiskImageCreater* creater = IDiskImageCreater::showDialog(&pane);
        QVERIFY(QTest::qWaitForWindowExposed(creater));
        creater->pathField()->setText(tree.filePath(QStringLiteral("Backups/Documents image")));
        creater->nameField()->setText(QStringLiteral("Documents"));
        creater->typePopup()->setCurrentIndex(creater->typePopup()->findData(IDiskImageCreater::TypeExtendedEncrypted));
        creater->sizeField()->setText(QStringLiteral("20"));
        picture(creater, "create-image", "Create Disk Image: an encrypted ext4 image of at most 20 GB");
        QPointer<IDiskImageCreater> gone(creater);
        creater->reject();
        QTRY_VERIFY(!gone);
        QVERIFY(!QFileInfo::exists(tree.filePath(QStringLiteral("Backups/Documents image.sparsebundle"))));

        // The pane at the end of the tour, in the dark palette.
        clickRow(pane.listView(), 2);
        QCOMPARE(container.currentBackup3(), p);
        picture(&pane, "pane-dark", "The pane after two runs, in the dark palette");
    }
    IBackup3Controller::setShared(nullptr);
    IShellServices::setShared(nullptr);
    UiPrompts::setShared(nullptr);
    IRunLog::setShared(nullptr);
    QCOMPARE(prompts.unexpected, QStringList());
    QCOMPARE(ModalWatchdog::instance().closed, QStringList());
}

QTEST_MAIN(TestSnapshotTour)
#include "tst_snapshottour.moc"
