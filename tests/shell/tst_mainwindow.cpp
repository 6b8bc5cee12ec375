// kv-test: labels=gui timeout=120 env=DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent
// kv-test: xvfb

#include "../utilities/WorkspaceFixture.h"
#include "FakeBackup3Engine.h"
#include "FakeSyncRunController.h"
#include "KvTest.h"
#include "PrivateBus.h"
#include "Screenshot.h"
#include "archive/CBackupContainer.h"
#include "archive/IArchiveContainer.h"
#include "panes/archive/ArchivePane.h"
#include "panes/backup/Backup3Pane.h"
#include "panes/backup/Backup3PaneController.h"
#include "panes/sync/SynchronizePane.h"
#include "panes/sync/SynchronizePaneController.h"
#include "platform/AppPaths.h"
#include "shell/ILogDrawerController.h"
#include "shell/IQV3MainWindow.h"
#include "shell/MainWndController.h"
#include "shell/dialogs/IQV3ProjectListView.h"
#include "shell/dialogs/ProjectListModel.h"
#include "snapshot/IBackup3Container.h"
#include "sync/ISynchronContainer.h"
#include "utilities/IColorUtil.h"
#include "utilities/ICommon.h"
#include "utilities/MainPreferences.h"

#include <QtTest>
#include <QtWidgets>
#include <csignal>
#include <sys/stat.h>

namespace {

// A kit bar controller that records and may refuse.
struct FakeSelectorController : IFuncSelectorController
{
    bool allow = true;
    QStringList calls;
    bool funcSelectorNeedChangeFromIndex(int from, int to) override
    {
        calls << QStringLiteral("ask %1>%2").arg(from).arg(to);
        return allow;
    }
    bool funcSelectorNeedShowIndicator(int) override { return false; }
    void changeCurrentFuncInterface3(int kit) override { calls << QStringLiteral("change %1").arg(kit); }
    void eventFunctionKitChanged() override { calls << QStringLiteral("changed"); }
};

void resetFlags()
{
    g_startedByLauncher = g_startedMinimize = g_startedByMount = g_appClosing = false;
}

// Drags the divider so that its left edge goes to x (in the split view), as a mouse would.
void dragDivider(QSplitter* split, int x)
{
    QSplitterHandle* handle = split->handle(1);
    const QPoint start(handle->width() / 2, handle->height() / 2);
    const auto send = [&](QEvent::Type type, const QPoint& local, Qt::MouseButtons buttons) {
        QMouseEvent e(type, local, handle->mapToGlobal(local), Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(handle, &e);
    };
    send(QEvent::MouseButtonPress, start, Qt::LeftButton);
    const QPoint target(x - handle->x() + start.x(), start.y());
    send(QEvent::MouseMove, target, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, target, Qt::NoButton);
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { Screenshot::fixConditions(); }
    void init()
    {
        resetFlags();
        ICommon::setCurrentFunctionKit(0);
        m_ws = std::make_unique<WorkspaceFixture>();
        QDir().mkpath(m_ws->workspace() + QStringLiteral("/Logs"));
    }
    void cleanup()
    {
        // A failed test may leave its archive list registered.
        IArchiveContainer::setShared(nullptr);
        m_ws.reset();
        resetFlags();
    }

    void placementAndFrame()
    {
        QCOMPARE(IQV3MainWindow::placement(QRect(0, 0, 1440, 900)), QPoint(50, 50));
        QCOMPARE(IQV3MainWindow::placement(QRect(0, 24, 1024, 500)), QPoint(50, 24)); // clamped top
        QCOMPARE(IQV3MainWindow::placement(QRect(100, 30, 1024, 700)), QPoint(150, 80));
        QCOMPARE(IQV3MainWindow::placement(std::nullopt), QPoint(50, 50));

        const QList<QRect> screens { QRect(0, 0, 1440, 900) };
        const auto frame = [&](const QVariant& v) { return IQV3MainWindow::frameFromPreference(v, screens); };
        QCOMPARE(frame(QVariantList { 10, 20, 600, 300 }), std::optional<QRect>(QRect(10, 20, 740, 500)));
        QCOMPARE(frame(QVariantList { 10, 20, 900, 700 }), std::optional<QRect>(QRect(10, 20, 900, 700)));
        QVERIFY(!frame(QVariantList { -3000, 20, 900, 700 })); // off every screen
        QVERIFY(!frame(QVariantList { 10, 20, 900 })); // wrong length
        QVERIFY(!frame(QVariantList { 10, QStringLiteral("20"), 900, 700 })); // wrong type
        QVERIFY(!frame(QStringLiteral("10 20 900 700")));
    }

    void storedDividerPosition()
    {
        // A text or a negative number gives the default divider, never a collapsed pane.
        const struct {
            QVariant stored;
            int left;
        } cases[] = { { QVariant(300.0), 300 }, { QVariant(QStringLiteral("wide")), IQV3MainWindow::kLeftMin },
            { QVariant(-80), IQV3MainWindow::kLeftMin }, { QVariant(5000), -1 } };
        MainWndController hub;
        hub.showMainWindow3();
        IQV3MainWindow* window = hub.mainWindow3();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        window->resize(1000, 600);
        QCoreApplication::processEvents();
        for (const auto& c : cases) {
            AppPaths::appSettings()->setValue(QStringLiteral("MainSplitterPosition"), c.stored);
            window->restoreSplitterPosition();
            QSplitter* split = window->splitter();
            if (c.left >= 0)
                QCOMPARE(window->leftPaneWidth(), c.left);
            // Too wide: the right pane keeps its minimum.
            QVERIFY(split->sizes().at(1) >= IQV3MainWindow::kRightMin - split->handleWidth());
        }
    }

    void selectorColumns()
    {
        QCOMPARE(IQVFuncSelectorView::columnEdges(743), QList<int>({ 185, 370, 555, 743 }));
        QCOMPARE(IQVFuncSelectorView::columnEdges(740), QList<int>({ 185, 370, 555, 740 }));
        QCOMPARE(IQVFuncSelectorView::columnAt(0, 742), -1);
        QCOMPARE(IQVFuncSelectorView::columnAt(185, 742), 0);
        QCOMPARE(IQVFuncSelectorView::columnAt(186, 742), 1);
        QCOMPARE(IQVFuncSelectorView::columnAt(742, 742), 3);

        IQVFuncSelectorView view;
        view.resize(740, 74);
        FakeSelectorController controller;
        view.setController(&controller);
        ICommon::setCurrentFunctionKit(2);
        view.setCurrentButton(2);
        controller.calls.clear();
        QTest::mouseClick(&view, Qt::LeftButton, {}, QPoint(250, 20)); // the current kit: nothing asked
        QVERIFY(controller.calls.isEmpty());
        controller.allow = false;
        QTest::mouseClick(&view, Qt::LeftButton, {}, QPoint(600, 20));
        QCOMPARE(controller.calls, QStringList({ "ask 2>4" }));
        QCOMPARE(view.currentButton(), 2);
        QCOMPARE(ICommon::currentFunctionKit(), 2);
        controller.allow = true;
        controller.calls.clear();
        view.clickToButton(7);
        QCOMPARE(controller.calls, QStringList({ "ask 2>1", "change 1", "changed" }));
        QCOMPARE(ICommon::currentFunctionKit(), 1);
        QVERIFY(!view.wielIndicatorForButton(5));
    }

    void menuRules()
    {
        using W = IQV3MainWindow;
        KitState idle;
        idle.kit = 1;
        idle.empty = false;
        idle.content = true;
        KitState running = idle;
        running.running = true;
        KitState empty;
        // Tag 754 and delete: hidden while running or empty.
        QVERIFY(W::menuRule(W::MenuColorLabel, idle, true).visible);
        QVERIFY(!W::menuRule(W::MenuColorLabel, running, true).visible);
        QVERIFY(!W::menuRule(W::MenuDeleteProject, empty, true).enabled);
        // Outside "Process" an item sees an empty kit.
        QVERIFY(!W::menuRule(W::MenuDeleteProject, idle, false).enabled);
        QVERIFY(W::menuRule(W::MenuAddProject, empty, false).enabled);
        // Start item of kit 1 right after start-up: enabled by a project with content.
        MenuItemState start = W::menuRule(W::MenuProcessProject, idle, true);
        QVERIFY(start.enabled);
        QCOMPARE(start.title, QStringLiteral("Start Backup"));
        KitState clone = running;
        clone.kit = 3;
        clone.ready = true;
        QCOMPARE(W::menuRule(W::MenuProcessProject, clone, true).title, QStringLiteral("Stop Cloning"));
        clone.running = false;
        QCOMPARE(W::menuRule(W::MenuProcessProject, clone, true).title, QStringLiteral("Start Cloning"));
        clone.ready = false;
        QVERIFY(!W::menuRule(W::MenuProcessProject, clone, true).visible);
        KitState noContent = idle;
        noContent.content = false;
        QVERIFY(!W::menuRule(W::MenuProcessProject, noContent, true).enabled);
        // Log item title, welcome never.
        KitState withLog = idle;
        withLog.logVisible = true;
        QCOMPARE(W::menuRule(W::MenuToggleLog, withLog, false).title, QStringLiteral("Hide Log"));
        QCOMPARE(W::menuRule(W::MenuToggleLog, idle, false).title, QStringLiteral("Show Log"));
        QVERIFY(!W::menuRule(W::MenuShowWelcome, idle, true).visible);
        KitState versions = idle;
        versions.versions = true;
        QVERIFY(W::menuRule(W::MenuRestoreProject, versions, true).enabled);
        QVERIFY(!W::menuRule(W::MenuRestoreProject, idle, true).enabled);
    }

    void kitsThroughTheWindow()
    {
        MainWndController hub;
        QList<int> exits;
        hub.setExitHook([&](int code) { exits << code; });
        auto engine = std::make_unique<FakeBackup3Engine>();
        IBackup3Container backups(
            std::move(engine), m_ws->workspace() + QStringLiteral("/Backups/Projects.plist"));
        backups.createNewBackup3(QStringLiteral("Home folder"));
        backups.setCurrentBackup3ByIndex(0);
        ISynchronContainer synchrons(std::make_unique<FakeSyncRunController>(), m_ws->workspace());
        synchrons.createNewSynchron(QStringLiteral("Photos to NAS"), 0);
        synchrons.createNewSynchron(QStringLiteral("System disk"), 1);
        synchrons.setCurrentSynchronByIndex(0, 0);
        synchrons.setCurrentSynchronByIndex(0, 1);
        CBackupContainer archives;
        archives.addNewBackup(QStringLiteral("Mail archive"));
        hub.setContainers(&backups, &synchrons);
        hub.showMainWindow3();
        IQV3MainWindow* window = hub.mainWindow3();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        // The kits' own panes, as the application puts them in; their lists are the window's.
        Backup3PaneController backupPanes(&backups);
        IBackup3Controller::setShared(&backupPanes);
        SynchronizePaneController syncPanes(&synchrons);
        ISynchronizeController::setShared(&syncPanes);
        QPointer<ArchivePane> archivePane = ArchivePane::create(&archives, window);
        archivePane->loadBackups({});
        const QList<QPointer<QWidget>> panes = { Backup3Pane::create(&backupPanes, window), archivePane.data(),
            SynchronizePane::create(&syncPanes, 1, window), SynchronizePane::create(&syncPanes, 0, window) };
        for (int kit = 1; kit <= 4; ++kit)
            window->setKitPane(kit, panes.at(kit - 1));
        window->restoreSplitterPosition();

        const char* names[]
            = { "main-kit1-snapshot", "main-kit2-archive", "main-kit3-clone", "main-kit4-sync" };
        const char* titles[] = { "Backup: Home folder", "Archive: Mail archive", "Clone: System disk",
            "Synchronize: Photos to NAS" };
        const char* starts[] = { "Start Backup", "Start Backup", "Start Cloning", "Start Synchronize" };
        const int order[] = { 0, 1, 2, 3 };
        for (int i : order) {
            const QList<int> edges = IQVFuncSelectorView::columnEdges(window->selector()->width());
            const int x = (i == 0 ? 0 : edges.at(i - 1)) + 40;
            QTest::mouseClick(window->selector(), Qt::LeftButton, {}, QPoint(x, 15));
            QCOMPARE(hub.currentKit(), i + 1);
            QCOMPARE(
                window->projectsStack()->currentWidget()->objectName(), IQV3MainWindow::kitIdentifier(i + 1));
            QCOMPARE(window->windowTitle(), QString::fromLatin1(titles[i]));
            QCOMPARE(
                window->action(IQV3MainWindow::MenuProcessProject)->text(), QString::fromLatin1(starts[i]));
            QCOMPARE(window->listView(i + 1)->model()->rowCount(), 1);
            Screenshot::save(window, QStringLiteral("shell"), QString::fromLatin1(names[i]),
                QStringLiteral("The main window with kit %1").arg(i + 1));
            IColorUtil::setPortalColorSchemeOverride(1);
            Screenshot::save(window, QStringLiteral("shell"),
                QString::fromLatin1(names[i]) + QStringLiteral("-dark"),
                QStringLiteral("The main window with kit %1, dark").arg(i + 1));
            IColorUtil::setPortalColorSchemeOverride(std::nullopt);
            Screenshot::setDarkPalette(false);
        }

        // Kit 3 shown while a snapshot backup runs: the wheel turns on button 1.
        hub.toggleFunctionKit(3);
        backups.setProcessNext(true);
        window->redrawSelector();
        QTRY_VERIFY(window->selector()->isWheelShown(0));
        QVERIFY(!window->selector()->isWheelShown(2));
        Screenshot::save(window, QStringLiteral("shell"), QStringLiteral("main-selector-running"),
            QStringLiteral("Kit 3 current, a snapshot backup running: the wheel on button 1"));
        backups.setProcessNext(false);

        // The divider stops at 200 on the left and leaves 540 on the right.
        QSplitter* split = window->splitter();
        dragDivider(split, 50);
        QCOMPARE(window->leftPaneWidth(), IQV3MainWindow::kLeftMin);
        dragDivider(split, split->width());
        QVERIFY(split->sizes().at(1) >= IQV3MainWindow::kRightMin - split->handleWidth());
        dragDivider(split, 260);
        const int left = window->leftPaneWidth();
        window->resize(1000, 600);
        QCoreApplication::processEvents();
        QCOMPARE(window->leftPaneWidth(), left);

        // Shortcuts: a hidden item does not fire, the kit items fire while the log window is active.
        hub.showLog();
        hub.logWindow()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(hub.logWindow()));
        QTest::keyClick(hub.logWindow(), Qt::Key_2, Qt::ControlModifier);
        QCOMPARE(hub.currentKit(), 2);

        // Restart: hide the log through the menu, kit 4, divider, quit; a new window comes back so.
        window->action(IQV3MainWindow::MenuToggleLog)->trigger();
        QVERIFY(!hub.logWindow()->isVisible());
        hub.toggleFunctionKit(4);
        QVERIFY(hub.requestQuit());
        QCOMPARE(exits, QList<int>({ 0 }));
        bool showLog = true;
        QVERIFY(ICommon::loadMainPrefValueForKeyToBool(QStringLiteral("qvShowLog"), &showLog));
        QVERIFY(!showLog);
        QCOMPARE(MainWndController::functionKitFromPreference(
                     ICommon::loadMainPrefValueForKey(QStringLiteral("SelectedFunctionKit"))),
            4);
        const QRect frame = window->geometry();
        // The panes go before the containers and controllers they show.
        for (const QPointer<QWidget>& pane : panes)
            delete pane.data();
        IBackup3Controller::setShared(nullptr);
        ISynchronizeController::setShared(nullptr);
        hub.setContainers(nullptr, nullptr);
        g_appClosing = false;
        IQV3MainWindow again(&hub);
        QCOMPARE(again.geometry().size(), frame.size());
        again.show();
        QVERIFY(QTest::qWaitForWindowExposed(&again));
        again.restoreSplitterPosition();
        QCOMPARE(again.leftPaneWidth(), left);
    }

    void smallScreen()
    {
        MainWndController hub;
        hub.showMainWindow3();
        QVERIFY(QTest::qWaitForWindowExposed(hub.mainWindow3()));
        hub.mainWindow3()->resize(1024, 500);
        Screenshot::save(hub.mainWindow3(), QStringLiteral("shell"), QStringLiteral("main-small-screen"),
            QStringLiteral("The main window at its minimum height, empty lists"));
        QCOMPARE(hub.mainWindow3()->minimumSize(), QSize(740, 500));
        // The log window opened beside a wide main window stays on the screen.
        hub.logWindow()->showWindow(hub.mainWindow3());
        QVERIFY(QTest::qWaitForWindowExposed(hub.logWindow()));
        const QRect available = hub.mainWindow3()->screen()->availableGeometry();
        QVERIFY2(available.contains(hub.logWindow()->frameGeometry()),
            qPrintable(QStringLiteral("%1 %2 %3 %4")
                           .arg(hub.logWindow()->frameGeometry().x())
                           .arg(hub.logWindow()->frameGeometry().y())
                           .arg(hub.logWindow()->frameGeometry().width())
                           .arg(hub.logWindow()->frameGeometry().height())));
    }

    void logWindow()
    {
        MainPreferences::shared().setCollectLogs(true);
        {
            ILogDrawerController log;
            log.appendLog(QStringLiteral("a\n"));
            log.appendLog(QStringLiteral("b"));
            log.appendLog(QStringLiteral("c"));
            QVERIFY(log.text().endsWith(QStringLiteral("a\nbc")));
            log.appendLog(QStringLiteral("\n2026-12-11 07:00:00 \"Home folder\" Backup was successful\n"));
            log.show();
            QVERIFY(QTest::qWaitForWindowExposed(&log));
            Screenshot::save(&log, QStringLiteral("shell"), QStringLiteral("log-window"),
                QStringLiteral("The log window with its clear button"));
            QVERIFY(log.logView()->viewport()->isAncestorOf(log.clearButton()));
            // In the lower right corner of the text.
            const QRect area = log.logView()->viewport()->rect();
            QVERIFY(log.clearButton()->geometry().right() > area.width() / 2);
            QVERIFY(log.clearButton()->geometry().bottom() > area.height() / 2);
            // Close button: NO; while quitting: stays YES.
            ICommon::saveMainPrefBoolValue(true, QStringLiteral("qvShowLog"));
            g_appClosing = true;
            log.close();
            bool shown = false;
            ICommon::loadMainPrefValueForKeyToBool(QStringLiteral("qvShowLog"), &shown);
            QVERIFY(shown);
            g_appClosing = false;
            log.show();
            log.close();
            ICommon::loadMainPrefValueForKeyToBool(QStringLiteral("qvShowLog"), &shown);
            QVERIFY(!shown);
        }
        // A new window shows the earlier session's text.
        {
            ILogDrawerController again;
            QVERIFY(again.text().contains(QStringLiteral("Backup was successful")));
            QCOMPARE(again.text().count(QStringLiteral("Session has started")), 2);
        }
        // CollectLogs off: no session log, an empty window.
        QFile::remove(ILogDrawerController::sessionLogPath());
        MainPreferences::shared().setCollectLogs(false);
        ILogDrawerController off;
        off.appendLog(QStringLiteral("x\n"));
        QVERIFY(!QFile::exists(ILogDrawerController::sessionLogPath()));
        MainPreferences::shared().setCollectLogs(true);
    }

    void sessionLogTruncation()
    {
        const QString path = m_ws->home() + QStringLiteral("/SessionLog.txt");
        QByteArray text;
        for (int i = 1; i <= 1500; ++i)
            text += QByteArray::number(i) + (i == 700 ? QByteArray("\xff\xfe raw") : QByteArray()) + "\n\n";
        QVERIFY(writeFile(path, text));
        struct stat before
        {
        };
        ::stat(QFile::encodeName(path).constData(), &before);
        QVERIFY(ILogDrawerController::truncLogFile(path));
        const QList<QByteArray> lines = readAll(path).split('\n');
        QCOMPARE(lines.size(), 1001); // 1000 lines and the end
        QCOMPARE(lines.first(), QByteArray("501"));
        QCOMPARE(lines.at(199), QByteArray("700\xff\xfe raw"));
        QCOMPARE(lines.at(999), QByteArray("1500"));
        struct stat after
        {
        };
        ::stat(QFile::encodeName(path).constData(), &after);
        QVERIFY(before.st_ino != after.st_ino); // replaced by rename
        // 1000 lines or fewer: only blank lines go; a second cut changes nothing.
        QVERIFY(writeFile(path, "a\n\nb\n"));
        QVERIFY(ILogDrawerController::truncLogFile(path));
        QCOMPARE(readAll(path), QByteArray("a\nb\n"));
        QVERIFY(!ILogDrawerController::truncLogFile(path));
        // A file that cannot be read stays as it is.
        if (::geteuid() != 0) {
            QFile::setPermissions(path, QFile::WriteOwner);
            QVERIFY(!ILogDrawerController::truncLogFile(path));
        }
        QVERIFY(!ILogDrawerController::truncLogFile(m_ws->home() + QStringLiteral("/missing.txt")));
    }

    // The real executable on the same X server, grabbed from the screen by another process.
    void realApplicationOnTheServer()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs the X server of the xvfb directive");
        PrivateBus bus(PrivateBus::Kind::Session, false);
        QVERIFY2(bus.isValid(), qPrintable(bus.errorString()));
        const QString home = m_ws->home() + QStringLiteral("/app");
        QDir().mkpath(home + QStringLiteral("/data/Kelvane 3"));
        QDir().mkpath(home + QStringLiteral("/run"));
        QFile::setPermissions(home + QStringLiteral("/run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        // An earlier start's preferences with the scheduler off: no agent is registered or started.
        QVERIFY(writeFile(home + QStringLiteral("/data/Kelvane 3/QVPrefs.plist"),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
            "<key>GeneralPreferencesScheme</key><integer>2</integer>"
            "<key>LastWorkingVersionID</key><string>QV3_NORMAL_PRO</string>"
            "<key>AgentState</key><dict><key>State</key><integer>0</integer><key>ModifyInterval</key>"
            "<real>1</real></dict><key>SelectedFunctionKit</key><integer>2</integer>"
            "<key>MainWindowFrame</key><array><integer>60</integer><integer>40</integer>"
            "<integer>900</integer><integer>600</integer></array></dict></plist>\n"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
        env.insert(QStringLiteral("XDG_STATE_HOME"), home + QStringLiteral("/state"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/cache"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home + QStringLiteral("/run"));
        QProcess app;
        app.setProcessEnvironment(env);
        app.start(KvTest::appContentsDir() + QStringLiteral("/MacOS/Kelvane Pro 3"), {});
        QVERIFY(app.waitForStarted(10000));
        // The version lines are written once the window is up.
        QTRY_VERIFY_WITH_TIMEOUT(logsHold(home + QStringLiteral("/data/Kelvane 3/Logs"), "Qt version"), 30000);
        QTest::qWait(1000);

        const QString png = Screenshot::externalPath(QStringLiteral("shell"), QStringLiteral("app-xvfb"),
            QStringLiteral("The application on an X server, grabbed by another process"));
        QProcess grab;
        grab.start(KvTest::testBinDir() + QStringLiteral("/kv-screen-grab"), { png });
        QVERIFY(grab.waitForFinished(30000));
        QVERIFY2(grab.exitCode() == 0, grab.readAllStandardError().constData());
        const QImage shot(png);
        QCOMPARE(shot.size(), QSize(1440, 900));
        // The window drew where its stored frame says: a plain area there, unlike the server's
        // patterned root window outside it.
        const auto plain = [&](int x, int y) {
            QSet<QRgb> colours;
            for (int dy = 0; dy < 4; ++dy)
                for (int dx = 0; dx < 4; ++dx)
                    colours << shot.pixel(x + dx, y + dy);
            return colours.size() == 1;
        };
        QVERIFY(plain(60 + 880, 40 + 580));
        QVERIFY(shot.pixel(60 + 880, 40 + 580) != shot.pixel(1400, 880) || !plain(1400, 880));

        ::kill(pid_t(app.processId()), SIGTERM);
        QVERIFY(app.waitForFinished(20000));
        QCOMPARE(app.exitCode(), 0);
    }

private:
    static bool logsHold(const QString& folder, const char* text)
    {
        for (const QFileInfo& f : QDir(folder).entryInfoList({ QStringLiteral("log_*.txt") }, QDir::Files))
            if (readAll(f.filePath()).contains(text))
                return true;
        return false;
    }

    std::unique_ptr<WorkspaceFixture> m_ws;
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
