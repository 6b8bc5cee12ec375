// kv-test: labels=gui timeout=120 env=DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent
#include "../utilities/WorkspaceFixture.h"
#include "FakeBackup3Engine.h"
#include "Screenshot.h"
#include "platform/AppPaths.h"
#include "projects/QVAgentState.h"
#include "shell/IQV3MainWindow.h"
#include "shell/MainWndController.h"
#include "shell/dialogs/IScheduleSuspendDialog.h"
#include "shell/dialogs/WidgetUiPrompts.h"
#include "snapshot/IBackup3Container.h"
#include "utilities/MainPreferences.h"

#include <QtTest>
#include <QtWidgets>

namespace {
// Clicks the button titled so in the modal dialog once it is up, after saving the main window
// with it as a picture.
void answerModal(QWidget* window, const QString& picture, const QString& caption, const QString& button,
    QStringList* seen)
{
    QTimer::singleShot(0, window, [=] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal) {
            answerModal(window, picture, caption, button, seen);
            return;
        }
        if (!picture.isEmpty())
            Screenshot::save(window, QStringLiteral("shell"), picture, caption);
        for (auto* b : modal->findChildren<QAbstractButton*>())
            if (b->text() == button) {
                QStringList texts;
                for (auto* label : modal->findChildren<QLabel*>())
                    texts << label->text();
                *seen << texts.join(u'\n');
                QTest::mouseClick(b, Qt::LeftButton);
                return;
            }
        *seen << QStringLiteral("no button %1").arg(button);
    });
}
} // namespace

// The hub's sheets and panels through their real widgets: the quit question during a run, the
// missing-tar alert, and the suspend panel from the Process menu.
class TestShellSheets : public QObject
{
    Q_OBJECT
    std::unique_ptr<WorkspaceFixture> m_ws;

private Q_SLOTS:
    void initTestCase() { Screenshot::fixConditions(); }
    void init()
    {
        g_startedByLauncher = g_startedMinimize = g_appClosing = false;
        m_ws = std::make_unique<WorkspaceFixture>();
        QDir().mkpath(m_ws->workspace() + QStringLiteral("/Logs"));
    }
    void cleanup()
    {
        UiPrompts::setShared(nullptr);
        m_ws.reset();
        g_appClosing = false;
    }

    void quitSheetDuringARun()
    {
        MainWndController hub;
        QList<int> exits;
        hub.setExitHook([&](int code) { exits << code; });
        auto engine = std::make_unique<FakeBackup3Engine>();
        FakeBackup3Engine* runs = engine.get();
        IBackup3Container backups(std::move(engine), m_ws->workspace() + QStringLiteral("/Backups/Projects.plist"));
        backups.createNewBackup3(QStringLiteral("Home folder"));
        hub.setContainers(&backups, nullptr);
        hub.showMainWindow3();
        QVERIFY(QTest::qWaitForWindowExposed(hub.mainWindow3()));
        WidgetUiPrompts prompts;
        prompts.setParentWidget(hub.mainWindow3());
        UiPrompts::setShared(&prompts);
        backups.setProcessNext(true);

        QStringList seen;
        answerModal(hub.mainWindow3(), QStringLiteral("quit-sheet"),
            QStringLiteral("Quit during a run: the question over the main window"), QStringLiteral("Cancel"), &seen);
        QVERIFY(!hub.requestQuit());
        QCOMPARE(seen.size(), 1);
        QVERIFY2(seen[0].contains(QStringLiteral("Some processes are still running")), qPrintable(seen[0]));
        QVERIFY(exits.isEmpty());
        QVERIFY(!g_appClosing);
        QCOMPARE(runs->terminations, 0);

        answerModal(hub.mainWindow3(), QString(), QString(), QStringLiteral("Terminate and Quit"), &seen);
        QVERIFY(hub.requestQuit());
        QCOMPARE(exits, QList<int>({ 0 }));
        QCOMPARE(runs->terminations, 1);
        hub.setContainers(nullptr, nullptr);
    }

    void gnutarAlert()
    {
        if (QFile::exists(QStringLiteral("/usr/bin/gnutar")))
            QSKIP("this machine has /usr/bin/gnutar");
        const QString contents = m_ws->home() + QStringLiteral("/tree/Contents");
        QDir().mkpath(contents + QStringLiteral("/Resources"));
        QVERIFY(QFile::link(QStringLiteral("/nonexistent/tar"), contents + QStringLiteral("/Resources/gnutar")));
        AppPaths::setContentsDirOverride(contents);
        MainPreferences::shared().setTarTool(QString());
        MainWndController hub;
        hub.showMainWindow3();
        QVERIFY(QTest::qWaitForWindowExposed(hub.mainWindow3()));
        WidgetUiPrompts prompts;
        prompts.setParentWidget(hub.mainWindow3());
        UiPrompts::setShared(&prompts);
        QStringList seen;
        answerModal(hub.mainWindow3(), QStringLiteral("gnutar-alert"),
            QStringLiteral("The tar tool is missing (a dangling Resources/gnutar)"), QStringLiteral("Continue"),
            &seen);
        QVERIFY(hub.checkGnutar());
        QCOMPARE(seen.size(), 1);
        answerModal(hub.mainWindow3(), QString(), QString(), QStringLiteral("Exit"), &seen);
        QVERIFY(!hub.checkGnutar());
        AppPaths::setContentsDirOverride(QString());
    }

    void suspendFromTheMenu()
    {
        MainWndController hub;
        hub.setAgentHooks({ [] { return false; }, [] { return true; }, [](bool) { return true; },
            [] { return true; }, [] {}, [](const QVConnectMessage&) { return true; }, [] { return QString(); } });
        hub.agentState().setOn(QVAgentState::ScheduleOn);
        hub.agentState().setOff(QVAgentState::Suspended);
        hub.showMainWindow3();
        IQV3MainWindow* window = hub.mainWindow3();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        window->validateSuspender();
        QCOMPARE(window->suspenderButton()->toolTip(), QStringLiteral("Suspend scheduler"));

        window->action(IQV3MainWindow::MenuSuspendStartSchedule)->trigger();
        IScheduleSuspendDialog& panel = IScheduleSuspendDialog::shared();
        QVERIFY(panel.isVisible());
        Screenshot::save(&panel, QStringLiteral("shell"), QStringLiteral("suspend-dialog"),
            QStringLiteral("The suspend panel opened from the Process menu"));
        QComboBox* popup = panel.suspendSchedulingPopup();
        const int thirty = popup->findText(QStringLiteral("30 minutes"));
        QVERIFY(thirty >= 0);
        popup->setCurrentIndex(thirty);
        const QDateTime before = QDateTime::currentDateTime();
        QTest::mouseClick(panel.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
        QVERIFY(!panel.isVisible());
        QVERIFY(hub.agentState().isOn(QVAgentState::ScheduleOn));
        QVERIFY(hub.agentState().isOn(QVAgentState::Suspended));
        const QDateTime resume = hub.agentState().scheduleResumeDate();
        QVERIFY(qAbs(before.secsTo(resume) - 1800) < 60);
        QVERIFY2(window->suspenderButton()->toolTip().contains(IScheduleSuspendDialog::localStringFromDateTime(resume)),
            qPrintable(window->suspenderButton()->toolTip()));
    }
};

QTEST_MAIN(TestShellSheets)
#include "tst_shellsheets.moc"
