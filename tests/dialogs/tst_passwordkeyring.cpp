// kv-test: labels=dbus,gui timeout=120

#include "KeyringFixture.h"
#include "Screenshot.h"
#include "ScriptedUiPrompts.h"
#include "WhenOpen.h"
#include "archive/CBackup.h"
#include "archive/IBackup.h"
#include "shell/dialogs/IPasswordInputDialog.h"
#include "shell/dialogs/WidgetUiPrompts.h"
#include "utilities/ProjectKeychain.h"
#include "utilities/ProjectPasswordPrompt.h"

#include <QtTest>
#include <QtWidgets>

// The password dialogs against a real Secret Service on a private bus: the write after OK, the
// shortcut that then asks nothing, and the prompt again once the item is gone.
class TestPasswordKeyring : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { Screenshot::fixConditions(); }

    void rememberedPassword()
    {
        KeyringFixture keyring;
        QVERIFY2(keyring.isValid(), qPrintable(keyring.errorString()));
        const QString password = QStringLiteral("Pässwörd ñ 密码");
        UiPrompts::ProjectPasswordRequest request;
        request.title = QStringLiteral("Documents");
        request.UUID = QStringLiteral("0D5E8F11-7A2B-4C3D-8E9F-00112233AABB");
        request.passwordInKeychain = true;

        WidgetUiPrompts widgets;
        UiPrompts::setShared(&widgets);
        request.type = 2;
        whenOpen<IPasswordInputDialog>([&](IPasswordInputDialog* d) {
            QVERIFY(d->keychainBox()->isChecked());
            d->passwordField()->insert(password);
            d->verifyField()->insert(password);
            d->okButton()->click();
        });
        QVERIFY(ProjectPasswordPrompt::askProjectPassword(request).ok);
        QCOMPARE(ProjectKeychain::read(request.title, request.UUID), password);

        // a restore with the project's digest: no window at all
        request.type = 1;
        request.digest = IPasswordMD5::createWithPassword(password);
        {
            ScriptedUiPrompts none;
            const UiPrompts::ProjectPasswordAnswer a = ProjectPasswordPrompt::askProjectPassword(request);
            QVERIFY(a.ok);
            QCOMPARE(a.password, password);
        }

        // the item cleared outside: the restore asks, refuses a wrong password, takes the right one
        UiPrompts::setShared(&widgets);
        const Subprocess::Result cleared
            = keyring.secretTool({ QStringLiteral("clear"), QStringLiteral("account"), request.UUID });
        QVERIFY2(cleared.succeeded(), cleared.err.constData());
        QVERIFY(ProjectKeychain::read(request.title, request.UUID).isEmpty());
        QString note;
        whenOpen<IPasswordInputDialog>([&](IPasswordInputDialog* d) {
            d->passwordField()->insert(QStringLiteral("Passwort"));
            d->okButton()->click();
            note = d->warningNote()->text();
            d->passwordField()->clear();
            d->passwordField()->insert(password);
            d->okButton()->click();
        });
        const UiPrompts::ProjectPasswordAnswer a = ProjectPasswordPrompt::askProjectPassword(request);
        UiPrompts::setShared(nullptr);
        QCOMPARE(note, QStringLiteral("Passwords do not match"));
        QVERIFY(a.ok);
        QCOMPARE(a.password, password);
        QCOMPARE(ProjectKeychain::read(request.title, request.UUID), password); // written again
    }

    // An archive project's own password steps: the new password typed twice with "Remember
    // password" on is written; the restore then asks nothing; once the item is cleared the
    // restore asks again and refuses a wrong password in the dialog.
    void archiveProjectPasswords()
    {
        KeyringFixture keyring;
        QVERIFY2(keyring.isValid(), qPrintable(keyring.errorString()));
        const QString password = QStringLiteral("Grüße 🔑 ключ");
        CBackup project(QStringLiteral("Photos"));
        project.setPasswordInKeychain(true);
        IBackup* face = project.getIBackup();

        WidgetUiPrompts widgets;
        UiPrompts::setShared(&widgets);
        whenOpen<IPasswordInputDialog>([&](IPasswordInputDialog* d) {
            d->passwordField()->insert(password);
            d->verifyField()->insert(password);
            d->okButton()->click();
        });
        QCOMPARE(face->getBackupPasswordByUser(), password);
        UiPrompts::setShared(nullptr);
        const Subprocess::Result looked
            = keyring.secretTool({ QStringLiteral("lookup"), QStringLiteral("account"), project.getUUID() });
        QVERIFY2(looked.succeeded(), looked.err.constData());
        QCOMPARE(QString::fromUtf8(looked.out), password);

        {
            ScriptedUiPrompts none; // any window fails the test
            QCOMPARE(face->getRestorePasswordByUser(), password);
            QCOMPARE(face->getBackupPasswordByUser(), password);
        }

        const Subprocess::Result cleared
            = keyring.secretTool({ QStringLiteral("clear"), QStringLiteral("account"), project.getUUID() });
        QVERIFY2(cleared.succeeded(), cleared.err.constData());
        UiPrompts::setShared(&widgets);
        QString note;
        whenOpen<IPasswordInputDialog>([&](IPasswordInputDialog* d) {
            d->passwordField()->insert(QStringLiteral("Grusse"));
            d->okButton()->click();
            note = d->warningNote()->text();
            d->passwordField()->clear();
            d->passwordField()->insert(password);
            d->okButton()->click();
        });
        QCOMPARE(face->getRestorePasswordByUser(), password);
        UiPrompts::setShared(nullptr);
        QCOMPARE(note, QStringLiteral("Passwords do not match"));
        QCOMPARE(ProjectKeychain::read(project.name(), project.getUUID()), password);
    }
};

QTEST_MAIN(TestPasswordKeyring)
#include "tst_passwordkeyring.moc"
