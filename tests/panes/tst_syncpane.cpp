// kv-test: labels=gui timeout=240 env=DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/kv-no-bus

// The synchronization and clone panes through their widgets, with the real run controller, the
// real engine and rsync. Synchronize: "+" makes "Sync" (its settings sheet shows), LEFT and RIGHT
// are dropped on the top panel's halves, "Analyze" marks the LEFT-only items, one subfolder is
// unchecked in the outline, the indicator runs the synchronization (its bar never shrinks), and
// RIGHT ends equal to LEFT without that subfolder; a nested folder is refused and rsync never
// ran for it; the list order survives a new container. Clone (over fake volumes): the verdict
// line for the same and for two volumes, the settings sheet and the start warning cancelled.
// Pictures: sync/sync-*, sync/clone-*.

#include "FakeLocationServices.h"
#include "ModalWatchdog.h"
#include "RecordingRunLog.h"
#include "RecordingShellServices.h"
#include "Screenshot.h"
#include "ScriptedUiPrompts.h"
#include "TempTree.h"
#include "WhenOpen.h"
#include "panes/sync/AnalyzeOutlineModel.h"
#include "panes/sync/CloneStartWarner.h"
#include "panes/sync/IQVSyncAnalyzeView.h"
#include "panes/sync/IQVSynchronizerTopPanel.h"
#include "panes/sync/SyncPropertiesDialogs.h"
#include "panes/sync/SynchronizePane.h"
#include "panes/sync/SynchronizePaneController.h"
#include "platform/DesktopServices.h"
#include "platform/NameCodec.h"
#include "platform/Subprocess.h"
#include "projects/SourceOutlineModel.h"
#include "shell/dialogs/IQVProcessIndicatorView.h"
#include "sync/ICloneStartWarner.h"
#include "sync/ISynchron.h"
#include "sync/ISynchronContainer.h"
#include "sync/ISynchronProcController.h"
#include "sync/QVProcEngineRunner.h"
#include "archive/IArchiveContainer.h"
#include "FakeBackup3Engine.h"
#include "FakeSyncRunController.h"
#include "shell/IQV3MainWindow.h"
#include "shell/MainWndController.h"
#include "snapshot/IBackup3Container.h"
#include "utilities/ICommon.h"
#include "utilities/HelpAnchor.h"
#include "utilities/IRunLog.h"
#include "utilities/IVolumeBase.h"
#include "../utilities/WorkspaceFixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolTip>
#include <QtTest>

namespace {

QStringList treeOf(const QString& folder)
{
    Subprocess::Options o;
    o.program = QStringLiteral("find");
    o.arguments = QStringList { folder, "-mindepth", "1", "-printf", "%P %s %y\\n" };
    QStringList out = QString::fromUtf8(Subprocess::run(o, 10000).out).split('\n', Qt::SkipEmptyParts);
    out.sort();
    return out;
}

// A folder dropped at x of the panel, as a file manager sends it.
void dropFolder(QWidget* panel, const QString& path, int x)
{
    QMimeData mime;
    mime.setUrls({ QUrl::fromLocalFile(path) });
    const QPointF at(x, panel->height() / 2);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(panel, &enter);
    QDragMoveEvent move(at.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(panel, &move);
    QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(panel, &drop);
    if (!enter.isAccepted()) {
        // A refused drag ends with a leave, as when the pointer lets go over the panel.
        QDragLeaveEvent leave;
        QCoreApplication::sendEvent(panel, &leave);
    }
}

void clickCheck(QTreeView* view, const QModelIndex& index)
{
    const QRect r = view->visualRect(index.siblingAtColumn(AnalyzeOutlineModel::ColIncluded));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, r.center());
}

// The row of a full path in an outline, reading folders on the way.
QModelIndex rowOfPath(QAbstractItemModel* model, const QString& path, const QModelIndex& parent = QModelIndex())
{
    if (model->canFetchMore(parent))
        model->fetchMore(parent);
    for (int r = 0; r < model->rowCount(parent); ++r) {
        const QModelIndex i = model->index(r, 0, parent);
        const QString p = i.data(SourceOutlineModel::PathRole).toString();
        if (p == path)
            return i;
        if (path.startsWith(p + QLatin1Char('/')))
            return rowOfPath(model, path, i);
    }
    return QModelIndex();
}

// Opens the outline's context menu over a row and clicks its "Show in Finder"; the paths the
// file manager was asked to show.
QStringList revealFromMenu(QTreeView* view, const QModelIndex& over)
{
    QStringList shown;
    DesktopServices::setHookForTests([&shown](const QStringList& request) {
        shown << request.value(1);
        return true;
    });
    bool clicked = false;
    QTimer::singleShot(50, view, [&clicked] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        for (QAction* a : menu->actions())
            if (a->text() == QLatin1String("Show in Finder") && a->isEnabled()) {
                QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(a).center());
                clicked = true;
            }
        if (!clicked)
            menu->close();
    });
    emit view->customContextMenuRequested(view->visualRect(over).center());
    DesktopServices::setHookForTests({});
    if (!clicked)
        shown << QStringLiteral("<no Show in Finder>");
    shown.sort();
    return shown;
}

int comboRowOfTag(QComboBox* box, int tag)
{
    for (int i = 0; i < box->count(); ++i)
        if (box->itemData(i, Qt::UserRole).toInt() == tag)
            return i;
    return -1;
}

} // namespace

class TestSyncPane : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void synchronizeTour();
    void cloneTour();
    void kitPages();
};

void TestSyncPane::initTestCase()
{
    Screenshot::fixConditions();
    IVolumeBase::shared().fill();
    QVProcEngineRunner::install();
}

void TestSyncPane::synchronizeTour()
{
    WorkspaceFixture ws;
    TempTree tree(QStringLiteral("syncpanegui"));
    for (const char* f : { "L", "L/docs", "L/skip", "L/skip/deep", "R", "R/old" })
        QVERIFY(tree.mkdir(f));
    tree.writeFile(std::string("L/a.txt"), "alpha");
    tree.writeFile(std::string("L/docs/scratch.tmp"), "tmp");
    tree.writeFile(std::string("L/docs/b.txt"), "beta");
    tree.writeFile(std::string("L/skip/c.txt"), "gamma");
    tree.writeFile(std::string("L/skip/deep/d.txt"), "delta");
    tree.writeFile(std::string("R/old/e.txt"), "eps");
    const QString L = tree.filePath(QStringLiteral("L")), R = tree.filePath(QStringLiteral("R"));
    const QString workspace = tree.filePath(QStringLiteral("ws"));

    RecordingShellServices shell;
    ScriptedUiPrompts prompts;
    RecordingRunLog runLog;
    IShellServices::setShared(&shell);
    UiPrompts::setShared(&prompts);
    IRunLog::setShared(&runLog);
    auto runner = std::make_unique<ISynchronProcController>();
    QStringList rsyncRuns;
    runner->setCommandObserver([&rsyncRuns](const QStringList& args, pid_t) { rsyncRuns << args.join(' '); });
    ISynchronContainer container(std::move(runner), workspace);
    SynchronizePaneController controller(&container);
    ISynchronizeController::setShared(&controller);
    container.reInit();
    container.setCurrentSyncType(0);
    {
        SynchronizePane pane(&controller, 0);
        pane.resize(980, 560);
        pane.setWindowTitle(QStringLiteral("Synchronize"));
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));

        // "+": the name prompt answers "Sync", and its settings sheet opens.
        prompts.expectText(QStringLiteral("Sync"));
        whenOpen<SyncPropertiesDialog>([](SyncPropertiesDialog* d) {
            Screenshot::save(d, QStringLiteral("sync"), QStringLiteral("sync-settings"),
                QStringLiteral("The settings sheet of a new synchronization"));
            d->reject();
        });
        QTest::mouseClick(pane.addProjectButton(), Qt::LeftButton);
        const std::shared_ptr<ISynchron> P = container.currentSynchronByType(0);
        QVERIFY(P);
        QCOMPARE(P->name(), QStringLiteral("Sync"));
        P->setUseAdminPrivileges(false);
        P->setOptionDelete(true);
        Screenshot::save(&pane, QStringLiteral("sync"), QStringLiteral("sync-analysis-empty"),
            QStringLiteral("No folders yet: the outline shows its hint, centred"));

        // Drops on both halves set the folders and build the tree anew.
        IQVSynchronizerTopPanel* panel = pane.topPanel();
        dropFolder(panel, L, 20);
        QCOMPARE(P->firstFolder(), L);
        dropFolder(panel, tree.filePath(QStringLiteral("L/a.txt")), panel->width() - 20);
        QVERIFY(P->secondFolder().isEmpty()); // a file is refused, with the reason under the pointer
        QCOMPARE(panel->dragRefusal(), QStringLiteral("Choose а folder to synchronize"));
        dropFolder(panel, R, panel->width() - 20);
        QCOMPARE(P->secondFolder(), R);
        QCOMPARE(panel->firstFolder(), L);
        QCOMPARE(panel->secondFolder(), R);
        AnalyzeOutlineModel* model = controller.analyzeModel();
        QVERIFY(model->treeRoot());
        QCOMPARE(model->treeRoot()->leftPath(), L);
        QTRY_VERIFY(!QToolTip::isVisible()); // the refusal's tip is gone once the drag ended
        Screenshot::save(&pane, QStringLiteral("sync"), QStringLiteral("sync-top-panel"),
            QStringLiteral("Two folders on the top panel, left to right"));

        // A nested folder is refused with its text and nothing runs for it.
        dropFolder(panel, tree.filePath(QStringLiteral("L/docs")), panel->width() - 20);
        QCOMPARE(P->secondFolder(), R);
        QCOMPARE(panel->dragRefusal(), QStringLiteral("Folders was't selected correctly"));
        QVERIFY(rsyncRuns.isEmpty());
        QCOMPARE(prompts.pending(), 0);

        // Analyze: LEFT-only items are to be copied to the right.
        QVERIFY(pane.analyzeButton()->isEnabled());
        QSignalSpy finished(model, &AnalyzeOutlineModel::analyzeFinished);
        QTest::mouseClick(pane.analyzeButton(), Qt::LeftButton);
        QVERIFY(finished.count() == 1 || finished.wait(30000));
        QTRY_VERIFY(!controller.isSyncAnalyzeProcess());
        const QModelIndex a = model->indexOfLocalPath(QStringLiteral("a.txt"));
        QVERIFY(a.isValid());
        QCOMPARE(a.siblingAtColumn(AnalyzeOutlineModel::ColDirection).data(AnalyzeOutlineModel::DirectionNameRole)
                     .toString(),
            QStringLiteral("copy_right"));
        const QModelIndex skip = model->indexOfLocalPath(QStringLiteral("skip"));
        QCOMPARE(skip.siblingAtColumn(AnalyzeOutlineModel::ColDirection).data(AnalyzeOutlineModel::DirectionNameRole)
                     .toString(),
            QStringLiteral("edit_folder"));

        // Uncheck "skip" with a click on its check box.
        IQVSyncAnalyzeView* view = pane.analyzeView();
        pane.analyzeView()->expand(skip);
        clickCheck(view, skip);
        QCOMPARE(model->itemAt(skip)->check(), 0);
        QCOMPARE(*P->excludePathList(), QStringList { "skip" });
        // The outline lays its rows out again after a change of appearance; one round of events
        // in the dark palette first, or the picture catches it between layouts.
        Screenshot::setDarkPalette(true);
        QCoreApplication::processEvents();
        Screenshot::setDarkPalette(false);
        Screenshot::save(&pane, QStringLiteral("sync"), QStringLiteral("sync-analysis-dark"),
            QStringLiteral("The same pane in the dark appearance"));
        Screenshot::save(&pane, QStringLiteral("sync"), QStringLiteral("sync-analysis"),
            QStringLiteral("After the analysis: copy marks, \"skip\" unchecked"));

        // The settings sheet excludes "*.tmp"; its OK drops the analysis results.
        whenOpen<SyncPropertiesDialog>([](SyncPropertiesDialog* d) {
            d->patternBox()->setChecked(true);
            d->patternField()->setText(QStringLiteral("*.tmp"));
            d->okButton()->click();
        });
        QTest::mouseClick(pane.propertiesButton(), Qt::LeftButton);
        QVERIFY(P->isExcludeByPattern());
        QCOMPARE(P->getExcludePattern(), QStringLiteral("*.tmp"));
        QVERIFY(!model->showArrowsAndColors());
        QVERIFY(!model->treeRoot() || !(model->treeRoot()->flags() & IAnalyzeFileSystemItem::ResultMask));
        QCOMPARE(*P->excludePathList(), QStringList { "skip" });

        // The indicator starts the run; its bar never shrinks and ends at 100.
        IQVProcessIndicatorView* ind = pane.indicator();
        QTRY_COMPARE(ind->buttonState(), 1);
        QList<double> seen;
        QTimer probe;
        probe.setInterval(5);
        connect(&probe, &QTimer::timeout, [&] {
            if (ind->buttonState() == 2)
                seen << ind->percentage();
        });
        probe.start();
        const QRectF button = ind->buttonFrame();
        QTest::mouseClick(ind, Qt::LeftButton, {}, button.center().toPoint());
        QTRY_VERIFY_WITH_TIMEOUT(!P->isInProcess(), 60000);
        probe.stop();
        // The end puts the control back to start and the bar to 0; until then it only grows.
        while (seen.size() > 1 && seen.last() == 0 && seen.contains(100.0))
            seen.removeLast();
        QVERIFY(!seen.isEmpty());
        QCOMPARE(seen.last(), 100.0);
        for (int i = 1; i < seen.size(); ++i)
            QVERIFY2(seen.at(i) >= seen.at(i - 1), qPrintable(QStringLiteral("%1 after %2").arg(seen.at(i)).arg(seen.at(i - 1))));
        QTRY_COMPARE(ind->buttonState(), 1);

        QStringList expected = treeOf(L);
        expected.erase(std::remove_if(expected.begin(), expected.end(),
                           [](const QString& l) {
                               return l.startsWith(QLatin1String("skip")) || l.contains(QLatin1String(".tmp"));
                           }),
            expected.end());
        QCOMPARE(treeOf(R), expected);
        const auto msgs = shell.messages();
        QVERIFY(std::any_of(msgs.begin(), msgs.end(),
            [](const auto& m) { return m.text.contains("Synchronize has started"); }));
        QVERIFY(runLog.joined().contains("\"Sync\" "));

        QCOMPARE(prompts.pending(), 0);
        // Three projects; the first moves to the end and the order is what the next start reads.
        for (const char* name : { "Two", "Three" }) {
            prompts.expectText(QString::fromLatin1(name));
            whenOpen<SyncPropertiesDialog>([](SyncPropertiesDialog* d) { d->reject(); });
            QTest::mouseClick(pane.addProjectButton(), Qt::LeftButton);
        }
        Screenshot::save(&pane, QStringLiteral("sync"), QStringLiteral("sync-list-three"),
            QStringLiteral("Three synchronizations in the list"));
        // A drop of the row below the last one, as the list view hands it over.
        SyncListModel* list = pane.listModel();
        const int first = int(container.indexByTypeOfSynchron(P.get()));
        std::unique_ptr<QMimeData> dragged(list->mimeData({ list->index(first, ProjectListModel::NameColumn) }));
        QVERIFY(!list->canDropMimeData(dragged.get(), Qt::MoveAction, -1, -1, list->index(0, 0))); // onto a row
        QVERIFY(list->canDropMimeData(dragged.get(), Qt::MoveAction, -1, -1, QModelIndex()));
        list->dropMimeData(dragged.get(), Qt::MoveAction, -1, -1, QModelIndex()); // false: the move is done
        QCOMPARE(list->projectRow(list->rowCount() - 1).name, QStringLiteral("Sync"));
    }
    ISynchronizeController::setShared(nullptr);
    {
        ISynchronContainer again(std::make_unique<ISynchronProcController>(), workspace);
        again.reInit();
        QStringList order;
        for (const auto& p : again.listByType(0))
            if (p->isConfigured() || p->name() != ISynchron::defaultName(0))
                order << p->name();
        QCOMPARE(order, (QStringList { "Two", "Three", "Sync" }));
    }
    QCOMPARE(prompts.unexpected, QStringList());
    IShellServices::setShared(nullptr);
    UiPrompts::setShared(nullptr);
    IRunLog::setShared(nullptr);
}

void TestSyncPane::cloneTour()
{
    WorkspaceFixture ws;
    TempTree tree(QStringLiteral("clonepanegui"));
    for (const char* f : { "one", "one/Users", "one/Applications", "two" })
        QVERIFY(tree.mkdir(f));
    tree.writeFile(std::string("one/readme.txt"), "hello");
    FakeLocationServices volumes;
    volumes.add("Data Disk", tree.filePath(QStringLiteral("one")), "1111");
    volumes.add("Backup Disk", tree.filePath(QStringLiteral("two")), "2222");
    ILocationServices::setShared(&volumes);
    RecordingShellServices shell;
    ScriptedUiPrompts prompts;
    IShellServices::setShared(&shell);
    UiPrompts::setShared(&prompts);
    auto runner = std::make_unique<ISynchronProcController>();
    int started = 0;
    runner->setCommandObserver([&started](const QStringList&, pid_t) { ++started; });
    ISynchronContainer container(std::move(runner), tree.filePath(QStringLiteral("ws")));
    SynchronizePaneController controller(&container);
    ISynchronizeController::setShared(&controller);
    container.reInit();
    container.setCurrentSyncType(1);
    {
        SynchronizePane pane(&controller, 1);
        pane.resize(980, 560);
        pane.setWindowTitle(QStringLiteral("Clone"));
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        CloneStartWarner warner(&pane);
        ICloneStartWarner::setShared(&warner);

        prompts.expectText(QStringLiteral("System Copy"));
        whenOpen<ClonePropertiesDialog>([](ClonePropertiesDialog* d) {
            // An internal destination: neither run-on-mount nor USB automount can be chosen.
            QVERIFY(!d->onMountBox()->isEnabled() && !d->usbAutomountBox()->isEnabled());
            QVERIFY(d->startWarningBox()->isChecked());
            Screenshot::save(d, QStringLiteral("sync"), QStringLiteral("clone-settings"),
                QStringLiteral("The settings sheet of a new clone"));
            d->reject();
        });
        QTest::mouseClick(pane.addProjectButton(), Qt::LeftButton);
        const auto P = container.currentSynchronByType(1);
        QCOMPARE(P->name(), QStringLiteral("System Copy"));

        // The same volume on both sides: refused, the indicator cannot start.
        QComboBox* src = pane.sourcePicker();
        QComboBox* dst = pane.destinationPicker();
        const int one = comboRowOfTag(src, 0);
        QVERIFY(one > 0);
        src->setCurrentIndex(one);
        emit src->activated(one);
        dst->setCurrentIndex(comboRowOfTag(dst, 0));
        emit dst->activated(dst->currentIndex());
        QCOMPARE(controller.verdict().text, QStringLiteral("Source and destination must differ"));
        QVERIFY(pane.verdictLabel()->text().contains(QLatin1String("help")));
        QCOMPARE(pane.indicator()->buttonState(), 0);
        Screenshot::save(&pane, QStringLiteral("sync"), QStringLiteral("clone-verdict-refused"),
            QStringLiteral("The same volume as source and destination"));

        // Two volumes: a data volume is no bootable source, the clone may start.
        dst->setCurrentIndex(comboRowOfTag(dst, 1));
        emit dst->activated(dst->currentIndex());
        QCOMPARE(controller.verdict().text, QStringLiteral("Clone will not be bootable (Source is not bootable)"));
        QVERIFY(controller.verdict().allowed);
        Screenshot::save(&pane, QStringLiteral("sync"), QStringLiteral("clone-verdict-ok"),
            QStringLiteral("Two volumes: the clone may start, it will not be bootable"));
        Screenshot::save(&pane, QStringLiteral("sync"), QStringLiteral("clone-disk-choice"),
            QStringLiteral("The pickers with the source's content below"));

        // "Show in Finder" reveals each selected item that still exists; over a row outside the
        // selection, that row alone.
        QTreeView* outline = pane.cloneView();
        QAbstractItemModel* content = outline->model();
        const QModelIndex readme = rowOfPath(content, tree.filePath(QStringLiteral("one/readme.txt")));
        const QModelIndex users = rowOfPath(content, tree.filePath(QStringLiteral("one/Users")));
        const QModelIndex apps = rowOfPath(content, tree.filePath(QStringLiteral("one/Applications")));
        QVERIFY(readme.isValid() && users.isValid() && apps.isValid());
        QItemSelectionModel* selection = outline->selectionModel();
        selection->select(readme, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        selection->select(users, QItemSelectionModel::Select | QItemSelectionModel::Rows);
        selection->select(apps, QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QVERIFY(QDir().rmdir(tree.filePath(QStringLiteral("one/Applications")))); // gone since the listing
        QCOMPARE(revealFromMenu(outline, users),
            (QStringList { DesktopServices::fileUri(tree.filePath(QStringLiteral("one/Users"))),
                DesktopServices::fileUri(tree.filePath(QStringLiteral("one/readme.txt"))) }));
        selection->select(users, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        QCOMPARE(revealFromMenu(outline, readme),
            QStringList { DesktopServices::fileUri(tree.filePath(QStringLiteral("one/readme.txt"))) });
        QVERIFY(QDir().mkdir(tree.filePath(QStringLiteral("one/Applications"))));

        // The help link opens the verdict's anchor.
        QUrl opened;
        setHelpUrlOpener([&opened](const QUrl& url) {
            opened = url;
            return true;
        });
        emit pane.verdictLabel()->linkActivated(controller.verdict().anchor);
        QCOMPARE(opened.fragment(), QStringLiteral("cloning_messages_html_source_not_bootable"));
        setHelpUrlOpener({});

        // A start by hand shows the warning; Cancel starts nothing.
        P->setStartCloningWarnDialog(true);
        whenOpen<CloneStartWarner>([](CloneStartWarner* w) {
            QVERIFY(w->text2().size() > 0);
            Screenshot::save(w, QStringLiteral("sync"), QStringLiteral("clone-start-warning"),
                QStringLiteral("The warning before a clone started by hand"));
            w->cancelButton()->click();
        });
        controller.toggleCurrentProjectProcessState();
        QVERIFY(!P->isInProcess());
        QCOMPARE(started, 0);
        QVERIFY(P->isStartCloningWarnDialog());
        ICloneStartWarner::setShared(nullptr);
    }
    ISynchronizeController::setShared(nullptr);
    QCOMPARE(prompts.unexpected, QStringList());
    ILocationServices::setShared(nullptr);
    IShellServices::setShared(nullptr);
    UiPrompts::setShared(nullptr);
}

// Both panes on the main window's pages: kit 4 shows the synchronizations, kit 3 the clones,
// and a kit change makes the container's current kind follow.
void TestSyncPane::kitPages()
{
    g_startedByLauncher = g_startedMinimize = g_startedByMount = g_appClosing = false;
    ICommon::setCurrentFunctionKit(4);
    WorkspaceFixture ws;
    QDir().mkpath(ws.workspace() + QStringLiteral("/Logs"));
    ScriptedUiPrompts prompts;
    UiPrompts::setShared(&prompts);
    {
        MainWndController hub;
        hub.setExitHook([](int) {});
        IBackup3Container backups(std::make_unique<FakeBackup3Engine>(),
            ws.workspace() + QStringLiteral("/Backups/Projects.plist"));
        ISynchronContainer synchrons(std::make_unique<FakeSyncRunController>(), ws.workspace());
        SynchronizePaneController controller(&synchrons);
        ISynchronizeController::setShared(&controller);
        synchrons.reInit();
        synchrons.createNewSynchron(QStringLiteral("Docs"), 0);
        synchrons.createNewSynchron(QStringLiteral("Disk"), 1);
        HeadlessArchiveContainer archives;
        IArchiveContainer::setShared(&archives);
        hub.setContainers(&backups, &synchrons);
        hub.showMainWindow3();
        IQV3MainWindow* window = hub.mainWindow3();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        auto* clones = SynchronizePane::create(&controller, 1, window);
        auto* syncs = SynchronizePane::create(&controller, 0, window);
        window->setKitPane(3, clones);
        window->setKitPane(4, syncs);
        connect(&hub, &MainWndController::kitChanged, &controller, &SynchronizePaneController::eventFunctionKitChanged);
        window->resize(980, 600);
        hub.toggleFunctionKit(4);
        QCOMPARE(synchrons.currentSyncType(), 0);
        QCOMPARE(window->projectsStack()->currentWidget(), syncs->kitProjectListPart());
        QCOMPARE(window->contentsStack()->currentWidget(), syncs->kitContentPart());
        QCOMPARE(window->listView(4), syncs->listView());
        QVERIFY(syncs->topPanel()->isVisible());
        Screenshot::save(window, QStringLiteral("sync"), QStringLiteral("main-window-sync"),
            QStringLiteral("The main window on the Synchronize kit"));
        hub.toggleFunctionKit(3);
        QCOMPARE(synchrons.currentSyncType(), 1);
        QCOMPARE(window->contentsStack()->currentWidget(), clones->kitContentPart());
        QVERIFY(clones->sourcePicker()->isVisible());
        QCOMPARE(controller.current()->name(), QStringLiteral("Disk"));
        IArchiveContainer::setShared(nullptr);
        hub.setContainers(nullptr, nullptr);
        ISynchronizeController::setShared(nullptr);
    }
    UiPrompts::setShared(nullptr);
    QCOMPARE(prompts.unexpected, QStringList());
    g_appClosing = false;
}

QTEST_MAIN(TestSyncPane)
#include "tst_syncpane.moc"
