// kv-test: labels=dbus,gui timeout=120
// The preferences dialog opened by the hub against the real services: the administrator pair in
// a Secret Service of the test's own, and the agent's login item with a fake agent on a private
// session bus.
#include "../utilities/WorkspaceFixture.h"
#include "FakePrivilegeBackend.h"
#include "KeyringFixture.h"
#include "KvTest.h"
#include "ScriptedUiPrompts.h"
#include "TempTree.h"
#include "WhenOpen.h"
#include "platform/AppPaths.h"
#include "platform/LoginItem.h"
#include "platform/SecretKeychain.h"
#include "projects/IAgentTool.h"
#include "projects/QVAgentState.h"
#include "shell/IBPreferencesController.h"
#include "shell/MainWndController.h"
#include "utilities/IAuthorizer.h"
#include "utilities/MainPreferences.h"

#include <QtTest>
#include <QtWidgets>
#include <memory>

class TestPreferencesKeyring : public QObject
{
    Q_OBJECT

    std::unique_ptr<KeyringFixture> m_keyring; // before the first use of the session bus
    std::unique_ptr<TempTree> m_tree;
    std::unique_ptr<WorkspaceFixture> m_home;
    std::unique_ptr<FakePrivilegeBackend> m_backend;
    std::unique_ptr<MainWndController> m_hub;

    const QString agentId = QString::fromLatin1(IAgentTool::agentBundleIdentifier);

    // The accounts of the administrator items the keyring holds for this program.
    QStringList storedAccounts()
    {
        const Subprocess::Result found = m_keyring->secretTool({ QStringLiteral("search"), QStringLiteral("--all"),
            QStringLiteral("xdg:schema"), QString::fromLatin1(SecretKeychain::SchemaName) });
        QStringList accounts;
        for (const QString& line : QString::fromUtf8(found.out + found.err).split(u'\n')) {
            if (line.startsWith(QStringLiteral("attribute.account = ")))
                accounts << line.section(QStringLiteral(" = "), 1);
        }
        accounts.sort();
        return accounts;
    }
    QStringList adminAccounts() const
    {
        QStringList a { QString::fromLatin1(IAuthorizer::NameAccount), QString::fromLatin1(IAuthorizer::PasswordAccount) };
        a.sort();
        return a;
    }

    // Opens the preferences through the hub, lets the test work the open dialog, and closes it.
    void withPreferences(const std::function<void(IBPreferencesController*)>& work)
    {
        bool opened = false;
        whenOpen<IBPreferencesController>([&](IBPreferencesController* d) {
            opened = true;
            work(d);
            if (d->isVisible())
                d->cancelPressed();
        });
        m_hub->showPreferences();
        QVERIFY(opened);
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_keyring = std::make_unique<KeyringFixture>();
        QVERIFY2(m_keyring->isValid(), qPrintable(m_keyring->errorString()));
        // The application tree with the fake agent as the login item's program.
        m_tree = std::make_unique<TempTree>(QStringLiteral("preferences agent"));
        QVERIFY(m_tree->isValid());
        const QString app = QStringLiteral("apps/Kelvane Pro 3.app/Contents");
        const QString launcher = app + QStringLiteral("/Library/LoginItems/QVP3Launcher.app/Contents");
        auto copy = [&](const QString& from, const QString& to, mode_t mode) {
            QFile file(from);
            return file.open(QIODevice::ReadOnly) && m_tree->writeFile(to, file.readAll(), mode);
        };
        const QString built = KvTest::appContentsDir();
        QVERIFY(copy(built + QStringLiteral("/Info.plist"), app + QStringLiteral("/Info.plist"), 0644));
        QVERIFY(copy(built + QStringLiteral("/Library/LoginItems/QVP3Launcher.app/Contents/Info.plist"),
            launcher + QStringLiteral("/Info.plist"), 0644));
        QVERIFY(copy(KvTest::testBinDir() + QStringLiteral("/fakeagent"), launcher + QStringLiteral("/MacOS/QVP3Launcher"), 0755));
        AppPaths::setContentsDirOverride(m_tree->filePath(app));
        qputenv("KV_FAKEAGENT_TRANSCRIPT", m_tree->filePath(QStringLiteral("transcript.txt")).toUtf8());
        qputenv("KV_FAKEAGENT_STATE_FILE", m_tree->filePath(QStringLiteral("agent-state.json")).toUtf8());
    }
    void init()
    {
        m_home = std::make_unique<WorkspaceFixture>();
        QDir().mkpath(m_home->workspace());
        m_backend = std::make_unique<FakePrivilegeBackend>();
        IAuthorizer::resetShared();
        MainPreferences::shared().loadPreferences();
        m_hub = std::make_unique<MainWndController>();
    }
    void cleanup()
    {
        if (LoginItem::isRunning(agentId))
            IAgentTool::shared().setAgentAutostart(false);
        m_hub.reset();
        IAuthorizer::resetShared();
        m_backend.reset();
        m_home.reset();
    }
    void cleanupTestCase()
    {
        AppPaths::setContentsDirOverride(QString());
        m_tree.reset();
        m_keyring.reset();
    }

    // The box: a refused authorization ends off with nothing stored; an accepted one stores both
    // items and OK keeps them; turned off, then Cancel, the items are gone.
    void keychainBox()
    {
        MainPreferences::shared().setAdminInfoSaveToKeychain(true);
        ScriptedUiPrompts prompts;
        withPreferences([&](IBPreferencesController* d) {
            QVERIFY(!d->adminInfoSaveToKeychain()->isChecked()); // no item: switched off
            prompts.expectCancelledCredentials();
            d->adminInfoSaveToKeychain()->click();
            QVERIFY(!d->adminInfoSaveToKeychain()->isChecked());
            QVERIFY(storedAccounts().isEmpty());

            prompts.expectCredentials(m_backend->user, QString::fromUtf8(m_backend->rightPassword));
            d->adminInfoSaveToKeychain()->click();
            QVERIFY(d->adminInfoSaveToKeychain()->isChecked());
            QCOMPARE(storedAccounts(), adminAccounts());
            d->okPressed();
        });
        QVERIFY(MainPreferences::shared().adminInfoSaveToKeychain());
        QCOMPARE(storedAccounts(), adminAccounts());

        withPreferences([&](IBPreferencesController* d) {
            QVERIFY(d->adminInfoSaveToKeychain()->isChecked()); // both items there: stays on
            d->adminInfoSaveToKeychain()->click();
            d->cancelPressed();
        });
        QVERIFY(storedAccounts().isEmpty());
        QCOMPARE(prompts.pending(), 0);
    }

    // Either switch on writes the login item's autostart file and starts the agent; both off
    // remove the file and stop it.
    void agentSwitches()
    {
        const QString autostart = LoginItem::autostartFilePath(agentId);
        QVERIFY2(autostart.startsWith(m_home->home()), qPrintable(autostart));
        withPreferences([](IBPreferencesController* d) {
            d->enableSchedule()->setChecked(false);
            d->showStatusMenu()->setChecked(false);
            d->okPressed();
        });
        QVERIFY(!QFileInfo::exists(autostart));
        QVERIFY(!LoginItem::isRunning(agentId));

        withPreferences([](IBPreferencesController* d) {
            d->enableSchedule()->setChecked(true);
            d->okPressed();
        });
        QVERIFY(QFileInfo::exists(autostart));
        QVERIFY(LoginItem::waitUntil([&] { return LoginItem::isRunning(agentId); }, 5000));
        QVERIFY(MainPreferences::shared().agentState().getInt() & QVAgentState::ScheduleOn);

        withPreferences([](IBPreferencesController* d) {
            d->enableSchedule()->setChecked(false);
            d->showStatusMenu()->setChecked(false);
            d->okPressed();
        });
        QVERIFY(!QFileInfo::exists(autostart));
        QVERIFY(LoginItem::waitUntil([&] { return !LoginItem::isRunning(agentId); }, 5000));
    }
};

QTEST_MAIN(TestPreferencesKeyring)
#include "tst_preferences_keyring.moc"
