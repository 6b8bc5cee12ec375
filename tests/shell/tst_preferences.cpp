// kv-test: labels=gui timeout=120 env=DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent
// The preferences dialog through its widgets: the round trip of every setting, the update
// interval's pop-up, the keychain box, the agent calls after OK, clearing the logs folder, a
// temporary folder that cannot be written and the custom one used by the headless driver.
#include "../archive/ArchiveDriverRun.h"
#include "../utilities/WorkspaceFixture.h"
#include "FakePrivilegeBackend.h"
#include "MemoryKeychain.h"
#include "RecordingShellServices.h"
#include "Screenshot.h"
#include "ScriptedUiPrompts.h"
#include "WhenOpen.h"
#include "platform/NameCodec.h"
#include "projects/QVAgentState.h"
#include "shell/IBPreferencesController.h"
#include "shell/ILogDrawerController.h"
#include "shell/IPreferencesHub.h"
#include "shell/dialogs/WidgetUiPrompts.h"
#include "utilities/IAuthorizer.h"
#include "utilities/ICommon.h"

#include <QtTest>
#include <QtWidgets>
#include <unistd.h>

namespace {

// The hub and the updater, recorded.
class FakeHub : public IPreferencesHub
{
public:
    QStringList calls;
    bool agentRuns = false;
    bool automatic = false;
    double interval = 86400;

    bool removeAgentIfNeed() override
    {
        calls << QStringLiteral("removeAgentIfNeed");
        return true;
    }
    bool isAgentWorking() override { return agentRuns; }
    void startAgent() override
    {
        calls << QStringLiteral("startAgent");
        agentRuns = true;
    }
    void sendCMWithActiveDatas() override { calls << QStringLiteral("sendCMWithActiveDatas"); }
    bool automaticallyChecksForUpdates() override { return automatic; }
    void setAutomaticallyChecksForUpdates(bool on) override { automatic = on; }
    double updateCheckInterval() override { return interval; }
    void setUpdateCheckInterval(double seconds) override { interval = seconds; }
};

void storeAdminPair(MemoryKeychain& keychain)
{
    keychain.items.append({ QStringLiteral("QV"), QString::fromLatin1(IAuthorizer::NameAccount),
        QString::fromLatin1(IAuthorizer::ItemKind), QString::fromLatin1(IAuthorizer::NameItemLabel),
        QStringLiteral("tester") });
    keychain.items.append({ QStringLiteral("QV"), QString::fromLatin1(IAuthorizer::PasswordAccount),
        QString::fromLatin1(IAuthorizer::ItemKind), QString::fromLatin1(IAuthorizer::PasswordItemLabel),
        QStringLiteral("right-password") });
}

} // namespace

class TestPreferences : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<WorkspaceFixture> m_home;
    std::unique_ptr<RecordingShellServices> m_shell;
    std::unique_ptr<MemoryKeychain> m_keychain;
    std::unique_ptr<FakePrivilegeBackend> m_backend;

private Q_SLOTS:
    void initTestCase() { Screenshot::fixConditions(); }
    void init()
    {
        m_home = std::make_unique<WorkspaceFixture>();
        m_shell = std::make_unique<RecordingShellServices>();
        IShellServices::setShared(m_shell.get());
        m_keychain = std::make_unique<MemoryKeychain>();
        m_backend = std::make_unique<FakePrivilegeBackend>();
        IAuthorizer::resetShared();
        MainPreferences::shared().loadPreferences();
    }
    void cleanup()
    {
        IAuthorizer::resetShared();
        m_backend.reset();
        m_keychain.reset();
        IShellServices::setShared(nullptr);
        m_shell.reset();
        m_home.reset();
    }

    void intervalPopUp_data()
    {
        QTest::addColumn<double>("stored");
        QTest::addColumn<bool>("checks");
        QTest::addColumn<int>("shownItem");
        QTest::addColumn<int>("chosenItem");
        QTest::addColumn<double>("after");
        QTest::newRow("3600: no item, kept") << 3600.0 << true << -1 << -1 << 3600.0;
        QTest::newRow("604800: item 1") << 604800.0 << true << 1 << 1 << 604800.0;
        QTest::newRow("item 2 chosen") << 86400.0 << true << 0 << 2 << 2592000.0;
        QTest::newRow("checks off: untouched") << 604800.0 << false << 1 << 2 << 604800.0;
    }
    void intervalPopUp()
    {
        QFETCH(double, stored);
        QFETCH(bool, checks);
        QFETCH(int, shownItem);
        QFETCH(int, chosenItem);
        QFETCH(double, after);
        FakeHub hub;
        hub.automatic = checks;
        hub.interval = stored;
        IBPreferencesController d(hub);
        d.setupDialog();
        QCOMPARE(d.checkInterval()->currentIndex(), shownItem);
        QCOMPARE(d.checkInterval()->isEnabled(), checks);
        QCOMPARE(AppPaths::appSettings()->value(QStringLiteral("SUCheckAtStartup")).toString(), QStringLiteral("-"));
        d.checkInterval()->setCurrentIndex(chosenItem);
        d.okPressed();
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QCOMPARE(hub.interval, after);
        QCOMPARE(hub.automatic, checks);
    }

    // Every control written on OK reads back from a fresh load of the preferences; a detail
    // level left unselected keeps the stored one; Cancel writes nothing.
    void roundTrip()
    {
        FakeHub hub;
        storeAdminPair(*m_keychain);
        MainPreferences::shared().setAdminInfoSaveToKeychain(true);
        MainPreferences::shared().setLogDetailsLevel(2);
        const QString logs = m_home->home() + QStringLiteral("/my logs");
        const QString tmp = m_home->home() + QStringLiteral("/my tmp");
        QVERIFY(QDir().mkpath(logs));
        QVERIFY(QDir().mkpath(tmp));
        {
            IBPreferencesController d(hub);
            d.setupDialog();
            QVERIFY(d.adminInfoSaveToKeychain()->isChecked());
            QCOMPARE(d.logsDetailLevel()->checkedId(), 2);
            d.enableSchedule()->setChecked(false);
            d.showStatusMenu()->setChecked(true);
            d.collectLogs()->setChecked(false);
            d.viewFilesAsAdmin()->setChecked(true);
            d.hideCloneWarning()->setChecked(true);
            d.onlyErrorsToSystemNotification()->setChecked(true);
            d.logFileCountList()->setCurrentIndex(d.logFileCountList()->findData(5));
            d.logsFolder()->setText(logs);
            d.useCustomTmpFolder()->setChecked(true);
            d.customTmpFolder()->setText(tmp);
            d.logsDetailLevel()->setExclusive(false);
            d.logsDetailLevel()->checkedButton()->setChecked(false);
            QCOMPARE(d.logsDetailLevel()->checkedId(), -1);
            d.okPressed();
        }
        WorkspaceFixture::resetSingletons();
        QVERIFY(MainPreferences::shared().loadPreferences());
        MainPreferences& p = MainPreferences::shared();
        QVERIFY(!(p.agentState().getInt() & QVAgentState::ScheduleOn));
        QVERIFY(p.agentState().getInt() & QVAgentState::ShowStatusMenu);
        QVERIFY(!p.collectLogs());
        QCOMPARE(p.logDetailsLevel(), 2);
        QCOMPARE(p.getKeepLogFilesCount(), 5);
        QVERIFY(p.adminInfoSaveToKeychain());
        QVERIFY(p.hideCloneWarning());
        QVERIFY(p.onlyErrorSendToSysNotification());
        QVERIFY(p.useCustomTmpFolder());
        QCOMPARE(p.customTmpFolder(), tmp);
        QCOMPARE(ICommon::loadMainPrefValueForKey(QStringLiteral("LogFilesFolder")).toString(), logs);
        // A new dialog shows what was kept.
        IBPreferencesController again(hub);
        again.setupDialog();
        QCOMPARE(again.logFileCountList()->currentData().toInt(), 5);
        QCOMPARE(again.customTmpFolder()->text(), tmp);
        QCOMPARE(again.logsFolder()->text(), logs);
        again.hideCloneWarning()->setChecked(false);
        again.cancelPressed();
        WorkspaceFixture::resetSingletons();
        QVERIFY(MainPreferences::shared().loadPreferences());
        QVERIFY(MainPreferences::shared().hideCloneWarning());
    }

    // At setup a missing administrator item switches the keychain setting off; a keyring that
    // cannot be reached leaves it. The box: on with the authorization refused ends off with the
    // items deleted; accepted, both items are stored; off, then Cancel, the items are gone.
    void keychainBox()
    {
        FakeHub hub;
        MainPreferences::shared().setAdminInfoSaveToKeychain(true);
        m_keychain->unavailable = true;
        {
            IBPreferencesController d(hub);
            d.setupDialog();
            QVERIFY(d.adminInfoSaveToKeychain()->isChecked());
        }
        m_keychain->unavailable = false;
        {
            IBPreferencesController d(hub);
            d.setupDialog();
            QVERIFY(!d.adminInfoSaveToKeychain()->isChecked());
            QVERIFY(!MainPreferences::shared().adminInfoSaveToKeychain());

            ScriptedUiPrompts prompts;
            prompts.expectCancelledCredentials();
            d.adminInfoSaveToKeychain()->click();
            QVERIFY(!d.adminInfoSaveToKeychain()->isChecked());
            QVERIFY(m_keychain->items.isEmpty());

            prompts.expectCredentials(m_backend->user, QString::fromUtf8(m_backend->rightPassword));
            d.adminInfoSaveToKeychain()->click();
            QVERIFY(d.adminInfoSaveToKeychain()->isChecked());
            QCOMPARE(m_keychain->items.size(), 2);

            d.adminInfoSaveToKeychain()->click(); // off: deleted at once
            QVERIFY(m_keychain->items.isEmpty());
            storeAdminPair(*m_keychain);
            d.cancelPressed();
            QVERIFY(m_keychain->items.isEmpty());
            QCOMPARE(prompts.pending(), 0);
        }
    }

    // After OK: the hub removes the agent when it is not needed, starts it when one switch needs
    // it and it does not run, and sends the running agent the current data.
    void agentCalls_data()
    {
        QTest::addColumn<bool>("schedule");
        QTest::addColumn<bool>("menu");
        QTest::addColumn<bool>("running");
        QTest::addColumn<QStringList>("calls");
        QTest::newRow("both off") << false << false << false << QStringList { "removeAgentIfNeed" };
        QTest::newRow("schedule on") << true << false << false
                                     << QStringList { "removeAgentIfNeed", "startAgent", "sendCMWithActiveDatas" };
        QTest::newRow("menu on, running") << false << true << true
                                          << QStringList { "removeAgentIfNeed", "sendCMWithActiveDatas" };
    }
    void agentCalls()
    {
        QFETCH(bool, schedule);
        QFETCH(bool, menu);
        QFETCH(bool, running);
        QFETCH(QStringList, calls);
        FakeHub hub;
        hub.agentRuns = running;
        IBPreferencesController d(hub);
        d.setupDialog();
        d.enableSchedule()->setChecked(schedule);
        d.showStatusMenu()->setChecked(menu);
        d.okPressed();
        QCOMPARE(hub.calls, calls);
        QCOMPARE(bool(MainPreferences::shared().agentState().getInt() & QVAgentState::AgentNeeded), schedule || menu);
    }

    // Only regular run logs go, after the question; the log window's file is emptied in place.
    void clearLogs()
    {
        FakeHub hub;
        const QString logs = RunLog::shared().getLogsPath();
        QVERIFY(RunLog::shared().openLog());
        const QString current = RunLog::shared().logPath();
        auto put = [&](const QString& name, const QByteArray& content) { QVERIFY(writeFile(logs + '/' + name, content)); };
        put(QStringLiteral("log_1.txt"), "1");
        put(QStringLiteral("log_2.tgz"), "2");
        put(QStringLiteral("notes.odt"), "user");
        put(QStringLiteral("sub/log_9.txt"), "deeper");
        QVERIFY(QDir().mkpath(logs + QStringLiteral("/log_x.txt")));
        QVERIFY(writeFile(m_home->home() + QStringLiteral("/mine.txt"), "user file"));
        QVERIFY(QFile::link(m_home->home() + QStringLiteral("/mine.txt"), logs + QStringLiteral("/log_3.txt")));
        put(QStringLiteral("SessionLog.txt"), "window lines\n");
        QCOMPARE(ILogDrawerController::sessionLogPath(), logs + QStringLiteral("/SessionLog.txt"));
        const QStringList before = QDir(logs).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);

        IBPreferencesController d(hub);
        d.setupDialog();
        {
            ScriptedUiPrompts prompts;
            prompts.expectAlert(QStringLiteral("Delete the old run logs?"), 1);
            d.clearLogsFolder();
            QCOMPARE(QDir(logs).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System), before);
            prompts.expectAlert(QStringLiteral("Delete the old run logs?"), 0);
            d.clearLogsFolder();
        }
        QStringList after = before;
        after.removeAll(QStringLiteral("log_1.txt"));
        after.removeAll(QStringLiteral("log_2.tgz"));
        QCOMPARE(QDir(logs).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System), after);
        QVERIFY(QFileInfo::exists(current));
        QCOMPARE(readAll(logs + QStringLiteral("/SessionLog.txt")), QByteArray());
        QCOMPARE(readAll(m_home->home() + QStringLiteral("/mine.txt")), QByteArray("user file"));
        QCOMPARE(readAll(logs + QStringLiteral("/sub/log_9.txt")), QByteArray("deeper"));

        // The question as the user sees it.
        WidgetUiPrompts widgets;
        UiPrompts::setShared(&widgets);
        whenOpen<QMessageBox>([](QMessageBox* box) {
            Screenshot::save(box, "preferences", "clear-logs-confirm", "Clear logs asks first");
            for (QAbstractButton* b : box->buttons())
                if (b->text() == QLatin1String("Cancel"))
                    b->click();
        });
        d.clearLogsFolder();
        UiPrompts::setShared(nullptr);
    }

    // A temporary folder that cannot be written: the chooser is offered while the dialog is
    // shown; still not writable, the custom folder is switched off.
    void unwritableTemporaryFolder()
    {
        FakeHub hub;
        IBPreferencesController d(hub);
        d.setupDialog();
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        d.customTmpFolder()->setText(m_home->home() + QStringLiteral("/no such folder"));
        ScriptedUiPrompts prompts;
        prompts.expectFolder(QString());
        d.useCustomTmpFolder()->setChecked(true);
        QVERIFY(!d.useCustomTmpFolder()->isChecked());
        QCOMPARE(prompts.folderRequests.size(), 1);
        QCOMPARE(prompts.folderRequests.first().prompt, QStringLiteral("Choose folder to store temporary files"));
        d.hide();
    }

    // The custom temporary folder chosen here is where the headless driver's disc builds put
    // their work folder: gone after a burn, kept and named when nothing could be burned.
    void customTemporaryFolderServesTheDriver()
    {
        FakeHub hub;
        const QString custom = m_home->home() + QStringLiteral("/my tmp");
        QVERIFY(QDir().mkpath(custom));
        QVERIFY(QDir().mkpath(m_home->home() + QStringLiteral("/src")));
        QVERIFY(writeFile(m_home->home() + QStringLiteral("/src/a.txt"), "a\n"));
        {
            IBPreferencesController d(hub);
            d.setupDialog();
            d.useCustomTmpFolder()->setChecked(true);
            d.customTmpFolder()->setText(custom);
            d.okPressed();
        }
        const QString ws = m_home->workspace();
        auto run = [&](const QStringList& args) {
            return runArchiveDriver(QStringList { QStringLiteral("--workspace"), ws } + args);
        };
        auto workFolders = [](const QString& folder) {
            return QDir(folder).entryList({ QStringLiteral("kelvane-burn-%1.*").arg(::getuid()) }, QDir::Dirs);
        };
        ArchiveDriverRun r = run({ QStringLiteral("--new"), QStringLiteral("Disc"), QStringLiteral("--source"),
            m_home->home() + QStringLiteral("/src"), QStringLiteral("--dest-disc") });
        QVERIFY2(r.code == 0, r.last.constData());
        r = run({ QStringLiteral("--project"), QStringLiteral("Disc"), QStringLiteral("--burn-drive"),
            QStringLiteral("stdio:") + m_home->home() + QStringLiteral("/disc.iso") });
        QVERIFY2(r.code == 0, QByteArray(r.last + '\n' + r.err).constData());
        QVERIFY(workFolders(custom).isEmpty());

        r = run({ QStringLiteral("--project"), QStringLiteral("Disc") });
        QCOMPARE(r.code, 1);
        const QStringList kept = workFolders(custom);
        QCOMPARE(kept.size(), 1);
        QVERIFY2(r.last.contains(NameCodec::encode(custom + QLatin1Char('/') + kept.first())), r.last.constData());
        QVERIFY(workFolders(m_home->tmp()).isEmpty());
    }

    void pages()
    {
        FakeHub hub;
        hub.automatic = true;
        IBPreferencesController d(hub);
        d.setupDialog();
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        const QStringList names { "scheduler", "logs", "administrator", "temporary-folder", "updates" };
        QCOMPARE(d.pages()->count(), names.size());
        for (int i = 0; i < names.size(); ++i) {
            d.pages()->setCurrentIndex(i);
            QVERIFY(!Screenshot::save(&d, "preferences", names[i], d.pages()->tabText(i)).isEmpty());
        }
        d.hide();
    }
};

QTEST_MAIN(TestPreferences)
#include "tst_preferences.moc"
