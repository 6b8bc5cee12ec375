// kv-test: labels=gui timeout=120 env=DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent

// The snapshot-backup pane on the main window's kit-1 page: its list, content and status parts
// go into the window's own split view and status row, the window's divider limits hold for
// them, and the window reloads and focuses the pane's list. Pictures: snapshot/main-window and
// snapshot/main-window-dark.

#include "../utilities/WorkspaceFixture.h"
#include "FakeBackup3Engine.h"
#include "FakeSyncRunController.h"
#include "RecordingShellServices.h"
#include "Screenshot.h"
#include "ScriptedUiPrompts.h"
#include "archive/IArchiveContainer.h"
#include "archive/CBackupContainer.h"
#include "panes/archive/ArchivePane.h"
#include "panes/backup/Backup3Pane.h"
#include "panes/backup/Backup3PaneController.h"
#include "panes/backup/IDiskImageCreater.h"
#include "shell/IQV3MainWindow.h"
#include "shell/MainWndController.h"
#include "shell/dialogs/IQV3ProjectListView.h"
#include "shell/dialogs/ISourceOutlineView.h"
#include "snapshot/IBackup3.h"
#include "snapshot/IBackup3Container.h"
#include "sync/ISynchronContainer.h"
#include "utilities/ICommon.h"

#include <QtTest>
#include <QtWidgets>

class TestKitPage : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { Screenshot::fixConditions(); }
    void snapshotPaneOnKitOne();
};

void TestKitPage::snapshotPaneOnKitOne()
{
    g_startedByLauncher = g_startedMinimize = g_startedByMount = g_appClosing = false;
    ICommon::setCurrentFunctionKit(1);
    WorkspaceFixture ws;
    QDir().mkpath(ws.workspace() + QStringLiteral("/Logs"));
    ScriptedUiPrompts prompts;
    UiPrompts::setShared(&prompts);
    {
        MainWndController hub;
        hub.setExitHook([](int) {});
        IBackup3Container backups(std::make_unique<FakeBackup3Engine>(),
            ws.workspace() + QStringLiteral("/Backups/Projects.plist"));
        Backup3PaneController controller(&backups);
        IBackup3Controller::setShared(&controller);
        backups.createNewBackup3(QStringLiteral("Home folder"));
        backups.createNewBackup3(QStringLiteral("Photos"));
        backups.setCurrentBackup3ByIndex(0);
        ISynchronContainer synchrons(std::make_unique<FakeSyncRunController>(), ws.workspace());
        HeadlessArchiveContainer archives;
        IArchiveContainer::setShared(&archives);
        hub.setContainers(&backups, &synchrons);
        hub.showMainWindow3();
        IQV3MainWindow* window = hub.mainWindow3();
        QVERIFY(QTest::qWaitForWindowExposed(window));

        Backup3Pane* pane = Backup3Pane::create(&controller, window);
        window->setKitPane(1, pane);
        window->resize(980, 600);
        window->restoreSplitterPosition();
        QCoreApplication::processEvents();

        // The parts are the kit's pages; the pane itself stays hidden as their owner.
        QCOMPARE(window->projectsStack()->widget(0), pane->kitProjectListPart());
        QCOMPARE(window->contentsStack()->widget(0), pane->kitContentPart());
        QCOMPARE(window->statusesStack()->widget(0), pane->kitStatusPart());
        QCOMPARE(pane->parentWidget(), window);
        QVERIFY(!pane->isVisible());
        QVERIFY(pane->outlineView()->isVisible());
        QCOMPARE(window->listView(1), pane->listView());
        QCOMPARE(window->listView(1)->model()->rowCount(), 2);

        // The window's list reload reaches the pane's list; a click on a row makes it current.
        backups.createNewBackup3(QStringLiteral("Mail"));
        window->reloadLists();
        QCOMPARE(pane->listView()->model()->rowCount(), 3);
        const QRect row1 = pane->listView()->visualRect(pane->listView()->model()->index(1, 1));
        QTest::mouseClick(pane->listView()->viewport(), Qt::LeftButton, {}, row1.center());
        QCOMPARE(backups.currentBackup3()->name(), QStringLiteral("Photos"));

        // The divider's limits hold for the pane's parts.
        QSplitter* split = window->splitter();
        split->setSizes({ 10, 2000 });
        QVERIFY(window->leftPaneWidth() >= IQV3MainWindow::kLeftMin);
        split->setSizes({ 2000, 10 });
        QVERIFY(split->sizes().at(1) >= IQV3MainWindow::kRightMin - split->handleWidth());
        split->setSizes({ 260, 720 });

        Screenshot::save(window, QStringLiteral("snapshot"), QStringLiteral("main-window"),
            QStringLiteral("The main window with the snapshot-backup pane on kit 1"));
        Screenshot::setDarkPalette(true);
        Screenshot::save(window, QStringLiteral("snapshot"), QStringLiteral("main-window-dark"),
            QStringLiteral("The same window in the dark palette"));
        Screenshot::setDarkPalette(false);

        // Another kit and back: the pane's pages come back with the kit. The status row holds
        // one status field: the pane's on kit 1, the window's own on a kit without a pane.
        QVERIFY(!window->statusLabel()->isVisible());
        window->setStatusText(QStringLiteral("Copying files..."));
        QCOMPARE(pane->statusLabel()->text(), QStringLiteral("Copying files..."));
        hub.toggleFunctionKit(2);
        QCOMPARE(window->projectsStack()->currentIndex(), 1);
        QVERIFY(window->statusLabel()->isVisible());
        window->setStatusText(QStringLiteral("Ready"));
        QCOMPARE(window->statusLabel()->text(), QStringLiteral("Ready"));
        QCOMPARE(pane->statusLabel()->text(), QStringLiteral("Copying files..."));
        hub.toggleFunctionKit(1);
        QCOMPARE(window->projectsStack()->currentWidget(), pane->kitProjectListPart());
        QVERIFY(!window->statusLabel()->isVisible());

        // The window's "Process" menu reaches the pane of the kit shown, and only that one.
        prompts.expectText(QStringLiteral("From the menu"));
        window->action(IQV3MainWindow::MenuAddProject)->trigger();
        QCOMPARE(backups.countOfBackups3(), 4);
        QVERIFY(pane->propertiesSheet());
        QTRY_VERIFY(pane->propertiesSheet()->isVisible());
        QTest::mouseClick(pane->propertiesSheet()->cancelButton(), Qt::LeftButton);
        QTRY_VERIFY(!pane->propertiesSheet());
        hub.toggleFunctionKit(2);
        window->action(IQV3MainWindow::MenuAddProject)->trigger(); // no prompt for kit 1's pane
        hub.toggleFunctionKit(1);

        // File > "Create Disk Image..." opens the dialog on the window, whichever kit is shown
        // (start-up makes this connection).
        connect(window, &IQV3MainWindow::createDiskImageRequested, window,
            [window] { IDiskImageCreater::showDialog(window); });
        auto* diskImage = window->findChild<QAction*>(QStringLiteral("CreateDiskImage"));
        QVERIFY(diskImage);
        diskImage->trigger();
        IDiskImageCreater* creater = nullptr;
        QTRY_VERIFY((creater = window->findChild<IDiskImageCreater*>()) && creater->isVisible());
        QCOMPARE(creater->windowModality(), Qt::WindowModal);
        QPointer<IDiskImageCreater> gone(creater);
        creater->reject();
        QTRY_VERIFY(!gone);

        // The archive pane's own items join the "Process" menu and show with kit 2 only.
        CBackupContainer archiveProjects;
        ArchivePane* archivePane = ArchivePane::create(&archiveProjects, window);
        window->setKitPane(2, archivePane);
        QAction* build = archivePane->menuAction(1401);
        QVERIFY(build);
        QMenu* process = window->menuBar()->findChild<QMenu*>(QStringLiteral("Process"));
        QVERIFY(process->actions().contains(build));
        QVERIFY(!build->isVisible());
        hub.toggleFunctionKit(2);
        for (int tag : { 1401, 1402, 1403, 1404 })
            QVERIFY(archivePane->menuAction(tag)->isVisible());
        QVERIFY(!build->isEnabled()); // no project to build
        hub.toggleFunctionKit(1);
        QVERIFY(!build->isVisible());
        delete archivePane;

        IArchiveContainer::setShared(nullptr);
        hub.setContainers(nullptr, nullptr);
        IBackup3Controller::setShared(nullptr);
    }
    UiPrompts::setShared(nullptr);
    QCOMPARE(prompts.unexpected, QStringList());
    g_appClosing = false;
}

QTEST_MAIN(TestKitPage)
#include "tst_kitpage.moc"
