// kv-test: labels=gui timeout=120 env=DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent

#include "../utilities/WorkspaceFixture.h"
#include "FakeBackup3Engine.h"
#include "ScriptedUiPrompts.h"
#include "archive/CBackupContainer.h"
#include "platform/AppPaths.h"
#include "platform/DesktopServices.h"
#include "platform/MainThread.h"
#include "platform/PlistBridge.h"
#include "projects/QVConnectMessage.h"
#include "WhenOpen.h"
#include "shell/IBPreferencesController.h"
#include "shell/ILogDrawerController.h"
#include "shell/IQV3MainWindow.h"
#include "shell/MainWndController.h"
#include "snapshot/IBackup3Container.h"
#include "utilities/ICommon.h"
#include "utilities/IVolumeBase.h"
#include "utilities/MainPreferences.h"

#include <QtTest>
#include <QtWidgets>
#include <sys/stat.h>

namespace {

// The agent as the hub sees it, recording what it is asked.
struct FakeAgent
{
    bool working = false;
    bool autostart = false;
    bool registrationHolds = true;
    QStringList calls;
    QList<QVConnectMessage> sent;

    void install(MainWndController& hub)
    {
        MainWndController::AgentHooks h;
        h.isAgentWorking = [this] { return working; };
        h.getAutostart = [this] { return autostart; };
        h.setAgentAutostart = [this](bool on) {
            calls << (on ? QStringLiteral("register") : QStringLiteral("unregister"));
            autostart = on && registrationHolds;
            return autostart == on;
        };
        h.killAgent = [this] {
            calls << QStringLiteral("kill");
            working = false;
            return true;
        };
        h.startAgent = [this] { calls << QStringLiteral("start"); };
        h.send = [this](const QVConnectMessage& m) {
            sent << m;
            return true;
        };
        h.mainAppPath = [] { return QStringLiteral("/opt/Kelvane Pro 3.app"); };
        hub.setAgentHooks(h);
    }
    QList<int> sentTypes() const
    {
        QList<int> t;
        for (const QVConnectMessage& m : sent)
            t << m.type();
        return t;
    }
};

// A message as the agent would send it.
QVConnectMessage fromAgent(int type, int programType = QVConnectMessage::Agent)
{
    const int own = QVConnectMessage::programType();
    QVConnectMessage::setProgramType(programType);
    QVConnectMessage m = QVConnectMessage::messageWithSenderAndType(type);
    QVConnectMessage::setProgramType(own);
    return m;
}

void resetFlags()
{
    g_startedByLauncher = g_startedMinimize = g_startedByMount = g_startedByLauncherWithPreferences = false;
    g_appClosing = false;
}

} // namespace

class TestHub : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        resetFlags();
        m_ws = std::make_unique<WorkspaceFixture>();
        QVERIFY(m_ws->isValid());
        QDir().mkpath(m_ws->workspace());
        m_hub = std::make_unique<MainWndController>();
        m_agent = FakeAgent();
        m_agent.install(*m_hub);
        m_exits.clear();
        m_hub->setExitHook([this](int code) { m_exits << code; });
    }
    void cleanup()
    {
        m_hub.reset();
        m_ws.reset();
        resetFlags();
    }

    void arguments_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("launcher");
        QTest::addColumn<bool>("minimize");
        QTest::addColumn<QString>("line");
        QTest::newRow("path only") << QStringList() << false << false << "started by user";
        QTest::newRow("LAUNCHER") << QStringList { "LAUNCHER" } << true << false << "started by menu";
        QTest::newRow("Launcher MINIMIZE")
            << QStringList { "Launcher", "MINIMIZE" } << true << true << "started by launcher";
        QTest::newRow("minimize") << QStringList { "minimize" } << false << true << "started by user";
        QTest::newRow("part of a word") << QStringList { "launchers" } << false << false << "started by user";
    }
    void arguments()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, launcher);
        QFETCH(bool, minimize);
        QFETCH(QString, line);
        const MainWndController::StartFlags f = MainWndController::parseArguments(args);
        QCOMPARE(f.launcher, launcher);
        QCOMPARE(f.minimize, minimize);
        QCOMPARE(MainWndController::startedLine(f), line);
    }

    void kitAndMachine()
    {
        const QList<QPair<QVariant, int>> kits { { QVariant(), 1 }, { 0, 1 }, { 5, 1 }, { 2, 2 }, { 3, 3 },
            { 4, 4 }, { QStringLiteral("3"), 1 }, { -2, 1 } };
        for (const auto& [value, kit] : kits)
            QCOMPARE(MainWndController::functionKitFromPreference(value), kit);
        QVERIFY(!MainWndController::machineIsArm(QStringLiteral("x86_64")));
        QVERIFY(MainWndController::machineIsArm(QStringLiteral("aarch64")));
        QVERIFY(MainWndController::machineIsArm(QStringLiteral("ARM64")));
        QVERIFY(MainWndController::machineIsArm(QStringLiteral("arm64")));
        QVERIFY(!MainWndController::machineIsArm(QStringLiteral("riscv64")));
    }

    void workspaceChoice()
    {
        QSettings* settings = AppPaths::appSettings();
        // A stored existing folder is kept.
        const QString chosen = m_ws->home() + QStringLiteral("/chosen");
        QDir().mkpath(chosen);
        settings->setValue(QStringLiteral("QVCurrentProjectsPath"), chosen);
        QCOMPARE(m_hub->validateCurrentWorkspacePath(true), chosen);
        // Deleted: generation 4, which exists here.
        QDir(chosen).removeRecursively();
        const QString four = IPathUtil::QVSupportPathForVersion(4);
        for (const char* sub : { "Backups", "Syncs", "Logs" })
            QDir().mkpath(four + QLatin1Char('/') + QLatin1String(sub));
        QVERIFY(writeFile(four + QStringLiteral("/QVPrefs.plist"), QByteArray()));
        QCOMPARE(m_hub->validateCurrentWorkspacePath(true), IPathUtil::QVSupportPathForVersion(4));
        QCOMPARE(settings->value(QStringLiteral("QVCurrentProjectsPath")).toString(),
            IPathUtil::QVSupportPathForVersion(4));
    }

    void shellServicesTable()
    {
        IShellServices& s = *m_hub;
        QVERIFY(!s.currentBackup() && !s.getViewIBackup());
        QVERIFY(!s.burnDisc(0) && !s.toastDisc(1));
        QVariantList order { QStringLiteral("kept") };
        s.saveProjectOrderListToDict(order);
        QCOMPARE(order.size(), 1);
        QVERIFY(!s.isStartedByAgent());
        g_startedByLauncher = true;
        QVERIFY(s.isStartedByAgent());
        QVERIFY(!s.isWindowClosing());
        g_appClosing = true;
        QVERIFY(s.isWindowClosing());
        g_appClosing = false;
        QVERIFY(!s.nextGlobalProcessDate().isValid()); // no containers
        s.showLog();
        QVERIFY(m_hub->logWindow() && m_hub->logWindow()->isVisible());
        // A line for the window reaches the log window.
        s.processMessage(LogText(QStringLiteral("hello window\n")), 65, nullptr);
        QTRY_VERIFY(m_hub->logWindow()->text().contains(QStringLiteral("hello window")));
        // The archive hub's answers before its container exists: nothing, and no crash.
        s.reloadContentViewData(nullptr);
        s.eventChangedCurrentBackup();
        s.registerStartRestore();
        s.registerStopRestore();
        s.eventChangedProjectStatus(nullptr);
        s.DIIProcessIndicatorPositionCollect(nullptr);
        m_hub->themeChanged();
        s.validateDeviceMount(QStringLiteral("/nonexistent"));
        QVERIFY(!g_startedByMount);
    }

    void invalidateLauncher_data()
    {
        QTest::addColumn<QString>("versionId");
        QTest::addColumn<bool>("bit8");
        QTest::addColumn<bool>("working");
        QTest::addColumn<bool>("autostart");
        QTest::addColumn<bool>("registered");
        QTest::addColumn<bool>("bits1and4");
        QTest::addColumn<bool>("shown");
        QTest::newRow("normal, no agent needed")
            << "QV3_NORMAL_PRO" << false << false << false << false << false << false;
        QTest::newRow("normal, needed, not running")
            << "QV3_NORMAL_PRO" << true << false << false << true << false << false;
        QTest::newRow("normal, needed, running, item")
            << "QV3_NORMAL_PRO" << true << true << true << true << false << false;
        QTest::newRow("first start") << "" << false << false << false << true << true << true;
        QTest::newRow("other version, agent running")
            << "QV2_PRO" << false << true << false << true << true << false;
    }
    void invalidateLauncher()
    {
        QFETCH(QString, versionId);
        QFETCH(bool, bit8);
        QFETCH(bool, working);
        QFETCH(bool, autostart);
        QFETCH(bool, registered);
        QFETCH(bool, bits1and4);
        QFETCH(bool, shown);
        MainPreferences::shared().setLastPrefVersionID(versionId);
        if (bit8)
            m_hub->agentState().setOn(QVAgentState::ShowStatusMenu);
        else
            m_hub->agentState().setOff(0xF);
        m_hub->agentState().setOff(QVAgentState::ScheduleOn);
        m_agent.working = working;
        m_agent.autostart = autostart;
        m_hub->invalidateLauncher();
        QCOMPARE(m_agent.autostart, registered);
        QCOMPARE(m_hub->agentState().isOn(QVAgentState::ScheduleOn), bits1and4);
        QCOMPARE(m_hub->agentState().isOn(QVAgentState::ShowStatusMenu), bits1and4 || (bit8 && registered));
        QCOMPARE(m_hub->mainWindow3() && m_hub->mainWindow3()->isVisible(), shown);
        QCOMPARE(m_agent.calls.contains(QStringLiteral("start")), (registered && !autostart && !working));
    }

    void removeAgentIfNeed()
    {
        const QList<QPair<int, bool>> cases { { 8 | 4, true }, { 1, true }, { 4, false }, { 0, false } };
        for (const auto& [bits, kept] : cases) {
            m_agent.calls.clear();
            m_hub->agentState().setOff(0xF);
            m_hub->agentState().setOn(bits);
            if (bits == 4) // the state keeps 8 with 4: drop it to see 4 alone
                m_hub->agentState().set(4, m_hub->agentState().modifyInterval(), QDateTime());
            QVERIFY(m_hub->removeAgentIfNeed());
            QCOMPARE(m_agent.calls.isEmpty(), kept);
            if (!kept)
                QCOMPARE(m_agent.calls, QStringList({ "unregister", "kill" }));
        }
    }

    void agentMessages()
    {
        m_hub->agentState().setOn(QVAgentState::ScheduleOn);
        // From a main application, or with another promotion: ignored.
        m_hub->connectMessageProcess(
            fromAgent(QVConnectMessage::TypeDataRequest, QVConnectMessage::MainApplication));
        QVERIFY(m_agent.sent.isEmpty());
        // 3 → our state as 4.
        m_hub->connectMessageProcess(fromAgent(QVConnectMessage::TypeDataRequest));
        QCOMPARE(m_agent.sentTypes(), QList<int>({ 4 }));

        // 4 with an equal stamp: taken and saved.
        QVAgentState theirs;
        theirs.set(QVAgentState::ScheduleOn | QVAgentState::Suspended, m_hub->agentState().modifyInterval(),
            QDateTime::currentDateTime().addDays(1));
        QVConnectMessage four = fromAgent(QVConnectMessage::TypeAgentState);
        four.setAgentState(theirs);
        m_hub->connectMessageProcess(four);
        QVERIFY(m_hub->agentState().isOn(QVAgentState::Suspended));
        QVERIFY(QFile::exists(MainPreferences::prefsFilePath()));
        // 4 older: our own state answers.
        m_agent.sent.clear();
        theirs.set(0, m_hub->agentState().modifyInterval() - 100, QDateTime());
        four.setAgentState(theirs);
        m_hub->connectMessageProcess(four);
        QVERIFY(m_hub->agentState().isOn(QVAgentState::Suspended));
        // 4 without "State": nothing.
        m_agent.sent.clear();
        m_hub->connectMessageProcess(fromAgent(QVConnectMessage::TypeAgentState));
        QVERIFY(m_agent.sent.isEmpty());
        QVERIFY(m_hub->agentState().isOn(QVAgentState::Suspended));

        // 7 reason 2 with no path, or a path that is no mount point: the state only.
        QVConnectMessage seven = fromAgent(QVConnectMessage::TypeStartParameters);
        seven.setInt(2, QStringLiteral("LaunchingReason"));
        m_hub->connectMessageProcess(seven);
        seven.setString(m_ws->home(), QStringLiteral("LastMountedVolume"));
        m_hub->connectMessageProcess(seven);
        QVERIFY(!g_startedByMount);
        // 7 reason 1 tag 3: the window, no longer started by the agent.
        g_startedByLauncher = true;
        QVConnectMessage open = fromAgent(QVConnectMessage::TypeStartParameters);
        open.setInt(1, QStringLiteral("LaunchingReason"));
        open.setInt(3, QStringLiteral("StatusMenuSelectedItemTag"));
        m_hub->connectMessageProcess(open);
        QVERIFY(!g_startedByLauncher);
        QVERIFY(m_hub->mainWindow3()->isVisible());
        // Tag 4: the preferences, after the handler returned.
        whenOpen<IBPreferencesController>([](IBPreferencesController* d) { d->cancelPressed(); });
        open.setInt(4, QStringLiteral("StatusMenuSelectedItemTag"));
        m_hub->connectMessageProcess(open);
        QCOMPARE(m_hub->preferencesShown(), 0);
        QVERIFY(g_startedByLauncherWithPreferences);
        QTRY_COMPARE(m_hub->preferencesShown(), 1);
    }

    void quitMessage()
    {
        // Bit 8 off: nothing at all.
        m_hub->agentState().set(0, m_hub->agentState().modifyInterval(), QDateTime());
        m_agent.working = true;
        m_hub->prepareDataForNextScheduleProcess();
        QVERIFY(m_agent.sent.isEmpty());
        m_hub->agentState().setOn(QVAgentState::ScheduleOn);
        // Agent not running: nothing sent.
        m_agent.working = false;
        m_hub->prepareDataForNextScheduleProcess();
        QVERIFY(m_agent.sent.isEmpty());
        // Running, no dates, no volumes: no date and no volume key, the application's path.
        m_agent.working = true;
        m_hub->prepareDataForNextScheduleProcess();
        QCOMPARE(m_agent.sentTypes(), QList<int>({ 5 }));
        const QString text = m_agent.sent.first().string();
        QVERIFY2(!text.contains(QStringLiteral("StartOnMountVolumeIdArray")), qPrintable(text));
        QVERIFY(!text.contains(QStringLiteral("FirstProcessDate")));
        QVERIFY(text.contains(QStringLiteral("Kelvane Pro 3.app")));
    }

    void suspendAndResume()
    {
        m_agent.autostart = true;
        m_hub->agentState().setOn(QVAgentState::ScheduleOn);
        const QDateTime until = QDateTime::currentDateTime().addSecs(1800);
        m_hub->SSD_OkButton(until);
        QVERIFY(m_hub->agentState().isOn(QVAgentState::ScheduleOn | QVAgentState::Suspended));
        QVERIFY(m_hub->agentState().isOn(QVAgentState::Suspended));
        QCOMPARE(m_hub->agentState().scheduleResumeDate().toSecsSinceEpoch(), until.toSecsSinceEpoch());
        QCOMPARE(m_agent.sentTypes(), QList<int>({ 4 }));
        QVERIFY(m_hub->suspenderToolTip().contains(QStringLiteral("It was suspended until")));
        // "unlimited time": scheduling off.
        m_hub->SSD_OkButton(std::nullopt);
        QVERIFY(!m_hub->agentState().isOn(QVAgentState::ScheduleOn));
        QVERIFY(!m_hub->agentState().isOn(QVAgentState::Suspended));
        // Resume while the login item does not hold: bits 1 and 4 off, the state still sent.
        m_agent.sent.clear();
        m_agent.registrationHolds = false;
        m_agent.autostart = false;
        m_hub->agentState().setOn(QVAgentState::Suspended | QVAgentState::ShowStatusMenu);
        m_hub->menuSuspendStartSchedule(true);
        QVERIFY(!m_hub->agentState().isOn(QVAgentState::ScheduleOn));
        QVERIFY(!m_hub->agentState().isOn(QVAgentState::ShowStatusMenu));
        QVERIFY(!m_hub->agentState().isOn(QVAgentState::Suspended));
        QCOMPARE(m_agent.sentTypes(), QList<int>({ 4 }));
        QCOMPARE(m_hub->suspenderToolTip(), QStringLiteral("Resume scheduler"));
    }

    void scheduleEvent()
    {
        const QDateTime now = QDateTime::currentDateTime();
        QVAgentState& state = m_hub->agentState();
        const auto suspendUntil = [&](const QDateTime& date) {
            state.set(QVAgentState::ScheduleOn | QVAgentState::Suspended | QVAgentState::AgentNeeded,
                state.modifyInterval(), date);
            m_agent.sent.clear();
        };
        // Forced sleep: inert.
        suspendUntil(now.addSecs(-60));
        m_hub->setSystemInSleep(2);
        m_hub->scheduleEvent(now);
        QVERIFY(state.isOn(QVAgentState::Suspended));
        m_hub->setSystemInSleep(0);
        // Inside a dialog: returns at once.
        {
            ModalDepthGuard dialog;
            m_hub->scheduleEvent(now);
            QVERIFY(state.isOn(QVAgentState::Suspended));
        }
        // Resume date ahead: stays suspended.
        suspendUntil(now.addSecs(600));
        m_hub->scheduleEvent(now);
        QVERIFY(state.isOn(QVAgentState::Suspended));
        QVERIFY(m_agent.sent.isEmpty());
        // Passed: bit 2 cleared, type 4 sent, preferences saved.
        suspendUntil(now.addSecs(-1));
        QFile::remove(MainPreferences::prefsFilePath());
        m_hub->scheduleEvent(now);
        QVERIFY(!state.isOn(QVAgentState::Suspended));
        QCOMPARE(m_agent.sentTypes(), QList<int>({ 4 }));
        QVERIFY(QFile::exists(MainPreferences::prefsFilePath()));
    }

    void idleExit()
    {
        const QDateTime now = QDateTime::currentDateTime();
        m_hub->agentState().setOn(QVAgentState::ScheduleOn);
        // Started by the user: never.
        for (int tick = 0; tick < 3; ++tick)
            m_hub->scheduleEvent(now);
        QVERIFY(m_exits.isEmpty());
        // A mount start in hand: never.
        g_startedByLauncher = true;
        g_startedByMount = true;
        for (int tick = 0; tick < 3; ++tick)
            m_hub->scheduleEvent(now);
        QVERIFY(m_exits.isEmpty());
        // Started by the agent with nothing to do: the second tick quits, with 0.
        g_startedByMount = false;
        m_hub->scheduleEvent(now);
        QVERIFY(m_exits.isEmpty());
        m_hub->scheduleEvent(now);
        QCOMPARE(m_exits, QList<int>({ 0 }));
        QVERIFY(g_appClosing);
    }

    void mountStartWaitsForTheVolumeTable()
    {
        // The agent's mount answer comes before the volume table's first fill: the start waits
        // for the table, and the idle exit for the start.
        IVolumeBase::resetShared();
        QVERIFY(!IVolumeBase::shared().isBaseFilled());
        const QDateTime now = QDateTime::currentDateTime();
        m_hub->agentState().setOn(QVAgentState::ScheduleOn);
        g_startedByLauncher = true;
        QVConnectMessage seven = fromAgent(QVConnectMessage::TypeStartParameters);
        seven.setInt(2, QStringLiteral("LaunchingReason"));
        seven.setString(QStringLiteral("/"), QStringLiteral("LastMountedVolume"));
        m_hub->connectMessageProcess(seven);
        for (int tick = 0; tick < 3; ++tick)
            m_hub->scheduleEvent(now);
        QVERIFY(m_exits.isEmpty());
        IVolumeBase::shared().baseFill();
        QTest::qWait(300);
        m_hub->scheduleEvent(now);
        m_hub->scheduleEvent(now);
        QCOMPARE(m_exits, QList<int>({ 0 }));
        IVolumeBase::resetShared();
    }

    void dockProgress()
    {
        QCOMPARE(MainWndController::dockMean({ { "a", 20 }, { "b", 40 }, { "c", 60 } }), 40);
        QCOMPARE(MainWndController::dockMean({ { "a", 33 }, { "b", 34 } }), 33);
        QCOMPARE(MainWndController::dockMean({}), 0);
        m_hub->collectIndicatorPosition(QStringLiteral("a"), 20);
        m_hub->collectIndicatorPosition(QStringLiteral("b"), 40);
        m_hub->collectIndicatorPosition(QStringLiteral("a"), -1); // unknown: no change
        QCOMPARE(m_hub->indicatorPositions().value(QStringLiteral("a")), 20);
        m_hub->collectIndicatorPosition(QStringLiteral("b"), 0); // ended: removed, redrawn; nothing runs
        QVERIFY(m_hub->indicatorPositions().isEmpty());
        QCOMPARE(m_hub->dockPosition(), -1);

        // The Dock timer rests while nothing runs: a run's status starts it, the first tick after
        // the run stops it again.
        IBackup3Container backups(std::make_unique<FakeBackup3Engine>(),
            m_ws->workspace() + QStringLiteral("/Backups/Projects.plist"));
        m_hub->setContainers(&backups, nullptr);
        QVERIFY(!m_hub->dockTimer().isActive());
        backups.setProcessNext(true);
        m_hub->eventChangedProjectStatus(nullptr);
        QVERIFY(m_hub->dockTimer().isActive());
        m_hub->DIITEvent();
        QVERIFY(m_hub->dockTimer().isActive());
        backups.setProcessNext(false);
        m_hub->DIITEvent();
        QVERIFY(!m_hub->dockTimer().isActive());
        m_hub->setContainers(nullptr, nullptr);
    }

    void productSiteFromTheHelpMenu()
    {
        // The page from the Info.plist goes to the browser; anything but a web address is not opened.
        m_hub->showMainWindow3();
        QMenu* help = m_hub->mainWindow3()->menuBar()->findChild<QMenu*>(QStringLiteral("Help"));
        QVERIFY(help);
        QAction* site = nullptr;
        for (QAction* a : help->actions())
            if (a->text() == QStringLiteral("Kelvane Pro 3 Web Site"))
                site = a;
        QVERIFY(site);
        QList<QStringList> opened;
        DesktopServices::setHookForTests([&](const QStringList& request) {
            opened << request;
            return true;
        });
        const struct {
            QVariant url;
            bool opens;
        } cases[] = { { QStringLiteral("https://www.brisoltica.com/kelvane-pro-3/"), true },
            { QStringLiteral("javascript:alert(1)"), false }, { QStringLiteral("file:///etc/passwd"), false },
            { QVariant(), false } };
        for (const auto& c : cases) {
            QTemporaryDir contents;
            QVariantMap info;
            if (c.url.isValid())
                info.insert(QStringLiteral("DSProductSiteURL"), c.url);
            QVERIFY(PlistBridge::writeFileAtomically(contents.path() + QStringLiteral("/Info.plist"), info));
            AppPaths::setContentsDirOverride(contents.path());
            opened.clear();
            site->trigger();
            QCOMPARE(opened.size(), c.opens ? 1 : 0);
            if (c.opens)
                QVERIFY(opened.first().contains(c.url.toString()));
        }
        AppPaths::setContentsDirOverride(QString());
        DesktopServices::setHookForTests({});
    }

    void quitWithNothingRunning()
    {
        ScriptedUiPrompts prompts; // no alert expected: a question would fail the test
        UiPrompts::setShared(&prompts);
        QVERIFY(m_hub->requestQuit());
        QCOMPARE(m_exits, QList<int>({ 0 }));
        QVERIFY(g_appClosing);
        QVERIFY(QFile::exists(MainPreferences::prefsFilePath()));
        UiPrompts::setShared(nullptr);
    }

    void closingTheMainWindow()
    {
        // Closing the window is quitting: during a run "Cancel" keeps the window and the run;
        // with nothing running the quit sequence ends the process with 0.
        IBackup3Container backups(std::make_unique<FakeBackup3Engine>(),
            m_ws->workspace() + QStringLiteral("/Backups/Projects.plist"));
        m_hub->setContainers(&backups, nullptr);
        m_hub->showMainWindow3();
        IQV3MainWindow* window = m_hub->mainWindow3();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        ScriptedUiPrompts prompts;
        UiPrompts::setShared(&prompts);
        backups.setProcessNext(true);
        prompts.expectAlert(QStringLiteral("Some processes are still running"), 1); // Cancel
        window->close();
        QVERIFY(window->isVisible());
        QVERIFY(m_exits.isEmpty());
        QVERIFY(!g_appClosing);
        backups.setProcessNext(false);
        window->close();
        QCOMPARE(m_exits, QList<int>({ 0 }));
        QVERIFY(g_appClosing);
        QCOMPARE(prompts.unexpected, QStringList());
        UiPrompts::setShared(nullptr);
        m_hub->setContainers(nullptr, nullptr);
    }

    void quitQuestionDuringARun()
    {
        auto engine = std::make_unique<FakeBackup3Engine>();
        IBackup3Container backups(
            std::move(engine), m_ws->workspace() + QStringLiteral("/Backups/Projects.plist"));
        m_hub->setContainers(&backups, nullptr);
        backups.setProcessNext(true);
        ScriptedUiPrompts prompts;
        UiPrompts::setShared(&prompts);
        prompts.expectAlert(QStringLiteral("Some processes are still running"), 1); // Cancel
        QVERIFY(!m_hub->requestQuit());
        QVERIFY(m_exits.isEmpty());
        QVERIFY(!g_appClosing);
        prompts.expectAlert(QStringLiteral("Some processes are still running"), 0); // Terminate and Quit
        QVERIFY(m_hub->requestQuit());
        QCOMPARE(m_exits, QList<int>({ 0 }));
        // A logout (SIGTERM) asks nobody.
        m_hub->resetQuitState();
        QVERIFY(m_hub->requestQuit(true));
        UiPrompts::setShared(nullptr);
        m_hub->setContainers(nullptr, nullptr);
    }

    void archiveContainerKeepsTheState()
    {
        CBackupContainer& archives = CBackupContainer::shared();
        m_hub->setArchiveContainer(&archives);
        QCOMPARE(&m_hub->agentState(), &archives.agentState());
        m_hub->SSD_OkButton(std::nullopt);
        QVERIFY(!archives.agentState().isOn(QVAgentState::ScheduleOn));
        QVERIFY(!m_hub->isBackupNow());
        // The quit saves the state through the container's share of the preferences.
        QVERIFY(m_hub->requestQuit(true));
        QVERIFY(readAll(MainPreferences::prefsFilePath()).contains("AgentState"));
        m_hub->setArchiveContainer(nullptr);
        CBackupContainer::resetShared();
    }

    void gnutarAlert()
    {
        // A tree whose Resources/gnutar dangles: the alert; "Exit" answers false, "Continue" true.
        const QString contents = m_ws->home() + QStringLiteral("/tree/Contents");
        QDir().mkpath(contents + QStringLiteral("/Resources"));
        QVERIFY(
            QFile::link(QStringLiteral("/nonexistent/tar"), contents + QStringLiteral("/Resources/gnutar")));
        AppPaths::setContentsDirOverride(contents);
        MainPreferences::shared().setTarTool(QString());
        ScriptedUiPrompts prompts;
        UiPrompts::setShared(&prompts);
        if (!QFile::exists(QStringLiteral("/usr/bin/gnutar"))) {
            prompts.expectAlert(QStringLiteral("gnutar"), 0);
            QVERIFY(!m_hub->checkGnutar());
            prompts.expectAlert(QStringLiteral("gnutar"), 1);
            QVERIFY(m_hub->checkGnutar());
        }
        // A configured tool that exists: no question.
        MainPreferences::shared().setTarTool(QStringLiteral("/bin/sh"));
        QVERIFY(m_hub->checkGnutar());
        UiPrompts::setShared(nullptr);
        AppPaths::setContentsDirOverride(QString());
    }

    void packerArguments()
    {
        // The logs folder goes to the packer as one argument, never through a shell.
        const QString marker = m_ws->home() + QStringLiteral("/F");
        const QString logs
            = m_ws->home() + QStringLiteral("/logs $(touch ") + marker + QStringLiteral(") \"q\n");
        QDir().mkpath(logs);
        ICommon::saveMainPrefValue(logs, QStringLiteral("LogFilesFolder"));
        MainPreferences::shared().loadPreferences();
        const QStringList command = m_hub->packLogsCommand();
        QCOMPARE(command.size(), 3);
        QVERIFY(command.first().endsWith(QStringLiteral("/qv3_logpacker")));
        m_hub->packLogs();
        QTest::qWait(500);
        QVERIFY(!QFile::exists(marker));
    }

private:
    std::unique_ptr<WorkspaceFixture> m_ws;
    std::unique_ptr<MainWndController> m_hub;
    FakeAgent m_agent;
    QList<int> m_exits;
};

QTEST_MAIN(TestHub)
#include "tst_hub.moc"
