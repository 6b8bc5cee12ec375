// kv-test: labels=unit timeout=60

#include "FakePrivilegeBackend.h"
#include "MemoryKeychain.h"
#include "RecordingShellServices.h"
#include "ScriptedClock.h"
#include "ScriptedUiPrompts.h"
#include "utilities/AGKeychain.h"
#include "utilities/IAuthorizer.h"
#include "utilities/LogOptions.h"

#include <QtTest>

class TestIAuthorizer : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakePrivilegeBackend> m_backend;
    std::unique_ptr<MemoryKeychain> m_keychain;
    std::unique_ptr<ScriptedUiPrompts> m_prompts;
    std::unique_ptr<ScriptedClock> m_clock;
    std::unique_ptr<RecordingShellServices> m_shell;
    bool m_preference = false;

    IAuthorizer& authorizer() { return IAuthorizer::shared(); }
    QString right() const { return QString::fromUtf8(m_backend->rightPassword); }
    void storePair(const QString& name, const QString& password)
    {
        m_keychain->items.append(
            { "svc", IAuthorizer::NameAccount, IAuthorizer::ItemKind, IAuthorizer::NameItemLabel, name });
        m_keychain->items.append({ "svc", IAuthorizer::PasswordAccount, IAuthorizer::ItemKind,
            IAuthorizer::PasswordItemLabel, password });
    }
    int runLogLines() const
    {
        int n = 0;
        for (const auto& m : m_shell->messages())
            n += (m.options & LogOption::RunLog) != 0;
        return n;
    }

private Q_SLOTS:
    void init()
    {
        m_backend = std::make_unique<FakePrivilegeBackend>();
        m_keychain = std::make_unique<MemoryKeychain>();
        m_prompts = std::make_unique<ScriptedUiPrompts>();
        m_clock = std::make_unique<ScriptedClock>();
        m_shell = std::make_unique<RecordingShellServices>();
        IShellServices::setShared(m_shell.get());
        IAuthorizer::resetShared();
        m_preference = false;
        authorizer().setPreferenceAccess(
            [this] { return m_preference; }, [this](bool on) { m_preference = on; });
    }
    void cleanup()
    {
        QCOMPARE(m_prompts->pending(), 0);
        IAuthorizer::resetShared();
        IShellServices::setShared(nullptr);
        m_shell.reset();
        m_clock.reset();
        m_prompts.reset();
        m_keychain.reset();
        m_backend.reset();
    }

    void rootNeedsNothing()
    {
        m_backend->root = true;
        QVERIFY(authorizer().authorize());
        QVERIFY(m_backend->validated.isEmpty());
    }

    void storedLoginAsksNoMore()
    {
        authorizer().setLogin(m_backend->user, right());
        QVERIFY(authorizer().authorize());
        QVERIFY(authorizer().authorize());
        QCOMPARE(m_backend->validated.size(), 1); // validated once, then the credential is kept
        QVERIFY(m_backend->hasCredential());
    }

    void keychainPair()
    {
        m_preference = true;
        storePair(m_backend->user, right());
        QVERIFY(authorizer().authorize());
        QVERIFY(m_preference);
    }

    void keychainItemMissing()
    {
        m_preference = true;
        storePair(m_backend->user, right());
        m_keychain->items.removeLast(); // the password item
        m_prompts->expectAlert(QStringLiteral("The password from Keychain does not match"), 0);
        m_prompts->expectCancelledCredentials();
        QVERIFY(!authorizer().authorize());
        QVERIFY(!m_preference);
        QCOMPARE(m_prompts->alerts.size(), 1);
        QCOMPARE(m_prompts->alerts[0].buttons, QStringList { QStringLiteral("Close") });
    }

    void keychainPairRejected()
    {
        m_preference = true;
        storePair(m_backend->user, QStringLiteral("stale password"));
        m_prompts->expectAlert(QStringLiteral("The password from Keychain does not match"), 0);
        m_prompts->expectCredentials(m_backend->user, right());
        QVERIFY(authorizer().authorize());
        QVERIFY(!m_preference);
    }

    void keychainUnreachableKeepsPreference()
    {
        m_preference = true;
        storePair(m_backend->user, right());
        m_keychain->unavailable = true;
        QVERIFY(!authorizer().authorize()); // no alert, no dialog: this run fails
        QVERIFY(m_preference);
        QCOMPARE(runLogLines(), 1);
    }

    void startedByAgent()
    {
        m_shell->startedByAgent = true;
        QVERIFY(!authorizer().authorize());
        QCOMPARE(runLogLines(), 1);
        // a stored pair that no longer works: the text goes to the run log, not to an alert
        m_shell->clear();
        m_preference = true;
        storePair(m_backend->user, QStringLiteral("stale"));
        QVERIFY(!authorizer().authorize());
        QVERIFY(!m_preference);
        QVERIFY(runLogLines() >= 1);
        QVERIFY(m_prompts->alerts.isEmpty());
        QVERIFY(m_prompts->credentialRequests.isEmpty());
    }

    void cancelAsksOncePerSecond()
    {
        m_prompts->expectCancelledCredentials();
        QVERIFY(!authorizer().authorize());
        m_clock->advance(900);
        QVERIFY(!authorizer().authorize()); // no dialog within a second
        m_clock->advance(200);
        m_prompts->expectCancelledCredentials();
        QVERIFY(!authorizer().authorize());
        QCOMPARE(m_prompts->credentialRequests.size(), 2);
        QVERIFY(!authorizer().authorizeWithUser(false));
    }

    void wrongThenTryAgain()
    {
        authorizer().setTargetString(QStringLiteral("backup"));
        m_prompts->expectCredentials(m_backend->user, QStringLiteral("wrong"));
        m_prompts->expectAlert(QStringLiteral("does not match the admin password"), 0); // Try Again
        m_prompts->expectCredentials(m_backend->user, right());
        QVERIFY(authorizer().authorize());
        QVERIFY(m_prompts->credentialRequests[0].prompt.contains(QStringLiteral("for backup process")));
        QVERIFY(m_prompts->credentialRequests[0].showSaveToKeychain);
        QCOMPARE(m_prompts->credentialRequests[0].userName, m_backend->user);
        QCOMPARE(m_prompts->alerts[0].buttons, (QStringList { "Try Again", "Cancel" }));
        // the login is kept: no further dialog
        QVERIFY(authorizer().authorize());
        QVERIFY(!authorizer().isAdminDataEmpty());
        QVERIFY(m_keychain->items.isEmpty()); // the box was not checked
    }

    void wrongThenCancel()
    {
        m_prompts->expectCredentials(m_backend->user, QStringLiteral("wrong"));
        m_prompts->expectAlert(QStringLiteral("does not match"), 1);
        QVERIFY(!authorizer().authorize());
        QVERIFY(authorizer().isAdminDataEmpty());
    }

    void otherNamesDoNotMatch_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("valid");
        QTest::newRow("login name") << QStringLiteral("tester") << true;
        QTest::newRow("full name") << QStringLiteral("Test User") << true;
        QTest::newRow("root") << QStringLiteral("root") << false;
        QTest::newRow("someone else") << QStringLiteral("other") << false;
    }

    void otherNamesDoNotMatch()
    {
        QFETCH(QString, name);
        QFETCH(bool, valid);
        QCOMPARE(authorizer().isValidAuthorizationWithLogin(name, right()), valid);
    }

    void saveToKeychainFromTheRunDialog()
    {
        m_prompts->expectCredentials(m_backend->user, right(), true);
        QVERIFY(authorizer().authorize());
        QVERIFY(m_preference);
        QCOMPARE(AGKeychain::getPasswordFromKeychainItem(
                     IAuthorizer::PasswordItemLabel, IAuthorizer::ItemKind, IAuthorizer::PasswordAccount),
            right());
        QCOMPARE(m_keychain->items[0].label, QString::fromLatin1(IAuthorizer::NameItemLabel));
    }

    void userAuthorizeAndClear()
    {
        storePair(QStringLiteral("old"), QStringLiteral("old"));
        m_prompts->expectCredentials(m_backend->user, QStringLiteral("wrong"));
        m_prompts->expectAlert(QStringLiteral("does not match"), 0);
        m_prompts->expectCredentials(m_backend->user, right());
        QVERIFY(authorizer().userAuthorize());
        QVERIFY(
            m_prompts->credentialRequests[0].prompt.startsWith(QStringLiteral("Type your admin password")));
        QVERIFY(!m_prompts->credentialRequests[0].showSaveToKeychain);
        QCOMPARE(m_keychain->items.size(), 2); // changed, not added
        QCOMPARE(m_keychain->items[0].secret, m_backend->user);
        QCOMPARE(m_keychain->items[1].secret, right());
        authorizer().clearKeychain();
        QVERIFY(m_keychain->items.isEmpty());
        authorizer().clearKeychain(); // nothing to delete is fine
    }
};

QTEST_GUILESS_MAIN(TestIAuthorizer)
#include "tst_iauthorizer.moc"
