// kv-test: labels=dbus timeout=120

#include "FakePrivilegeBackend.h"
#include "KeyringFixture.h"
#include "RecordingShellServices.h"
#include "ScriptedUiPrompts.h"
#include "platform/SecretKeychain.h"
#include "utilities/AGKeychain.h"
#include "utilities/IAuthorizer.h"

#include <QtTest>

namespace {
const QString kLabel = QStringLiteral("QV: Master Name");
const QString kKind = QStringLiteral("application password");
const QString kAccount = QStringLiteral("QVAccount1");
} // namespace

class TestSecretKeychain : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void itemLifecycle()
    {
        KeyringFixture keyring;
        QVERIFY2(keyring.isValid(), qPrintable(keyring.errorString()));

        QCOMPARE(AGKeychain::checkForExistanceOfKeychainItem(kLabel, kKind, kAccount), 0);
        QCOMPARE(AGKeychain::lastStatus(), SecretKeychain::Status::NotFound);
        QCOMPARE(AGKeychain::getPasswordFromKeychainItem(kLabel, kKind, kAccount), QString(""));
        QVERIFY(AGKeychain::deleteKeychainItem(kLabel, kKind, kAccount)); // nothing to delete is fine

        QVERIFY(AGKeychain::addKeychainItem(kLabel, kKind, kAccount, QStringLiteral("Grüße, it's \"me\"")));
        QCOMPARE(AGKeychain::checkForExistanceOfKeychainItem(kLabel, kKind, kAccount), 1);
        QCOMPARE(AGKeychain::getPasswordFromKeychainItem(kLabel, kKind, kAccount),
            QStringLiteral("Grüße, it's \"me\""));
        QVERIFY(AGKeychain::modifyKeychainItem(kLabel, kKind, kAccount, QStringLiteral("changed")));
        QCOMPARE(AGKeychain::getPasswordFromKeychainItem(kLabel, kKind, kAccount), QStringLiteral("changed"));
        QVERIFY(!AGKeychain::modifyKeychainItem(
            kLabel, kKind, QStringLiteral("QVAccount9"), QStringLiteral("x")));

        // the item is a real Secret Service item with the schema, the label and the attributes
        const Subprocess::Result look = keyring.secretTool({ QStringLiteral("lookup"),
            QStringLiteral("xdg:schema"), QString::fromLatin1(SecretKeychain::SchemaName),
            QStringLiteral("account"), kAccount, QStringLiteral("kind"), kKind });
        QCOMPARE(look.out, QByteArray("changed"));

        QVERIFY(AGKeychain::deleteKeychainItem(kLabel, kKind, kAccount));
        QCOMPARE(AGKeychain::checkForExistanceOfKeychainItem(kLabel, kKind, kAccount), 0);
    }

    void otherProgramsItemsAreLeftAlone()
    {
        KeyringFixture keyring;
        QVERIFY2(keyring.isValid(), qPrintable(keyring.errorString()));
        // another program's item with the same account, in its own schema
        const Subprocess::Result stored = keyring.secretTool(
            { QStringLiteral("store"), QStringLiteral("--label=other"), QStringLiteral("account"), kAccount,
                QStringLiteral("service"), QStringLiteral("someone else") },
            "not yours");
        QVERIFY2(stored.succeeded(), stored.err.constData());
        QCOMPARE(AGKeychain::checkForExistanceOfKeychainItem(kLabel, kKind, kAccount), 0);
        QCOMPARE(AGKeychain::getPasswordFromKeychainItem(kLabel, kKind, kAccount), QString(""));
        QVERIFY(AGKeychain::deleteKeychainItem(kLabel, kKind, kAccount));
        const Subprocess::Result still
            = keyring.secretTool({ QStringLiteral("lookup"), QStringLiteral("account"), kAccount });
        QCOMPARE(still.out, QByteArray("not yours"));
    }

    void unreachableServiceIsNotMissingItem()
    {
        // no session bus to reach the Secret Service on
        const QByteArray saved = qgetenv("DBUS_SESSION_BUS_ADDRESS");
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kv-test-bus");
        SecretKeychain::disconnect();
        QCOMPARE(AGKeychain::checkForExistanceOfKeychainItem(kLabel, kKind, kAccount), 0);
        QCOMPARE(AGKeychain::lastStatus(), SecretKeychain::Status::Unavailable);
        QVERIFY(!AGKeychain::addKeychainItem(kLabel, kKind, kAccount, QStringLiteral("x")));
        QVERIFY(!AGKeychain::deleteKeychainItem(kLabel, kKind, kAccount));

        // the authorizer keeps the keychain preference on and fails the run with a log line
        FakePrivilegeBackend backend;
        RecordingShellServices shell;
        IShellServices::setShared(&shell);
        ScriptedUiPrompts prompts;
        IAuthorizer::resetShared();
        bool preference = true;
        IAuthorizer::shared().setPreferenceAccess(
            [&] { return preference; }, [&](bool on) { preference = on; });
        QVERIFY(!IAuthorizer::shared().authorize());
        QVERIFY(preference);
        QCOMPARE(shell.messages().size(), 1);
        IAuthorizer::resetShared();
        IShellServices::setShared(nullptr);
        SecretKeychain::disconnect();
        if (saved.isNull())
            qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        else
            qputenv("DBUS_SESSION_BUS_ADDRESS", saved);
    }

    void authorizerWithTheRealKeychain()
    {
        KeyringFixture keyring;
        QVERIFY2(keyring.isValid(), qPrintable(keyring.errorString()));
        FakePrivilegeBackend backend;
        ScriptedUiPrompts prompts;
        IAuthorizer::resetShared();
        bool preference = true;
        IAuthorizer::shared().setPreferenceAccess(
            [&] { return preference; }, [&](bool on) { preference = on; });
        const QString right = QString::fromUtf8(backend.rightPassword);
        QVERIFY(IAuthorizer::shared().writeToKeychainName(backend.user, right));
        QVERIFY(IAuthorizer::shared().writeToKeychainName(backend.user, right)); // changes, does not add
        QCOMPARE(AGKeychain::checkForExistanceOfKeychainItem(kLabel, kKind, kAccount), 1);
        QVERIFY(IAuthorizer::shared().authorize());

        // the password item deleted: one alert, the preference goes off, then the dialog
        QVERIFY(AGKeychain::deleteKeychainItem(
            QStringLiteral("QV: Master Password"), kKind, QStringLiteral("QVAccount2")));
        IAuthorizer::resetShared();
        IAuthorizer::shared().setPreferenceAccess(
            [&] { return preference; }, [&](bool on) { preference = on; });
        prompts.expectAlert(QStringLiteral("The password from Keychain"), 0);
        prompts.expectCancelledCredentials();
        QVERIFY(!IAuthorizer::shared().authorize());
        QVERIFY(!preference);
        QCOMPARE(prompts.pending(), 0);

        IAuthorizer::shared().clearKeychain();
        QCOMPARE(AGKeychain::checkForExistanceOfKeychainItem(kLabel, kKind, kAccount), 0);
        IAuthorizer::resetShared();
    }
};

QTEST_GUILESS_MAIN(TestSecretKeychain)
#include "tst_secretkeychain.moc"
