// kv-test: labels=gui timeout=60

#include "Screenshot.h"
#include "WhenOpen.h"
#include "platform/MainThread.h"
#include "shell/dialogs/AuthorizerDialog.h"
#include "shell/dialogs/WidgetUiPrompts.h"

#include <QtTest>
#include <QtWidgets>

class TestAuthorizerDialog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void credentialsByValue()
    {
        UiPrompts::CredentialsRequest request;
        request.prompt = QStringLiteral("Enter your admin password");
        request.userName = QStringLiteral("tester");
        request.showSaveToKeychain = true;
        int depthInside = -1;
        whenOpen<AuthorizerDialog>([&](AuthorizerDialog* d) {
            depthInside = ModalDepthGuard::depth();
            QCOMPARE(d->userNameField()->text(), QStringLiteral("tester"));
            QVERIFY(d->passwordField()->text().isEmpty());
            QCOMPARE(d->passwordField()->echoMode(), QLineEdit::Password);
            QCOMPARE(d->promptField()->text(), QStringLiteral("Enter your admin password"));
            d->passwordField()->setText(QStringLiteral("secret"));
            d->saveToKeychainBox()->setChecked(true);
            d->accept();
        });
        WidgetUiPrompts prompts;
        const UiPrompts::CredentialsAnswer a = prompts.askAdminCredentials(request);
        QVERIFY(a.ok);
        QCOMPARE(a.userName, QStringLiteral("tester"));
        QCOMPARE(a.password, QStringLiteral("secret"));
        QVERIFY(a.saveToKeychain);
        QCOMPARE(depthInside, 1);
        QCOMPARE(ModalDepthGuard::depth(), 0);

        // a new dialog has an empty password field; Cancel gives nothing back
        request.showSaveToKeychain = false;
        whenOpen<AuthorizerDialog>([](AuthorizerDialog* d) {
            QVERIFY(d->passwordField()->text().isEmpty());
            QVERIFY(!d->saveToKeychainBox()->isVisibleTo(d));
            d->passwordField()->setText(QStringLiteral("typed"));
            d->reject();
        });
        const UiPrompts::CredentialsAnswer cancelled = prompts.askAdminCredentials(request);
        QVERIFY(!cancelled.ok);
        QVERIFY(cancelled.password.isEmpty());
    }

    void alertButtons()
    {
        UiPrompts::Alert alert;
        alert.style = UiPrompts::AlertStyle::Critical;
        alert.title = QStringLiteral("The password you entered does not match the admin password.");
        alert.buttons = { QStringLiteral("Try Again"), QStringLiteral("Cancel") };
        whenOpen<QMessageBox>([](QMessageBox* box) {
            QCOMPARE(box->icon(), QMessageBox::Critical);
            QCOMPARE(box->defaultButton()->text(), QStringLiteral("Try Again"));
            for (QAbstractButton* b : box->buttons())
                if (b->text() == QLatin1String("Cancel"))
                    b->click();
        });
        WidgetUiPrompts prompts;
        QCOMPARE(prompts.showAlert(alert), 1);
    }
};

QTEST_MAIN(TestAuthorizerDialog)
#include "tst_authorizerdialog.moc"
