// kv-test: labels=gui timeout=120

#include "MemoryKeychain.h"
#include "Screenshot.h"
#include "ScriptedUiPrompts.h"
#include "WhenOpen.h"
#include "shell/dialogs/Beep.h"
#include "shell/dialogs/IPasswordInputDialog.h"
#include "shell/dialogs/WidgetUiPrompts.h"
#include "utilities/IPasswordMD5.h"
#include "utilities/ProjectKeychain.h"
#include "utilities/ProjectPasswordPrompt.h"

#include <QtTest>
#include <QtWidgets>

namespace {
const QString kTitle = QStringLiteral("Photos");
const QString kUUID = QStringLiteral("5B0C7E2A-0F8B-4C55-9D3E-2A9D4C1F0001");

UiPrompts::ProjectPasswordRequest request(int type, const QString& digestOf = QString())
{
    UiPrompts::ProjectPasswordRequest r;
    r.type = type;
    r.title = kTitle;
    r.UUID = kUUID;
    if (!digestOf.isNull())
        r.digest = IPasswordMD5::createWithPassword(digestOf);
    return r;
}
} // namespace

class TestPasswordDialogs : public QObject
{
    Q_OBJECT
    int m_beeps = 0;

private Q_SLOTS:
    void initTestCase()
    {
        Screenshot::fixConditions();
        Beep::setHook([this] { ++m_beeps; });
    }

    // When the keychain's password may be used without a window.
    void keychainShortcut_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("boxOn");
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("unavailable");
        QTest::addColumn<bool>("window");
        QTest::newRow("matching stored password") << "secret" << true << 1 << false << false;
        QTest::newRow("stored password does not match") << "old" << true << 1 << false << true;
        QTest::newRow("new password: no digest") << "secret" << true << 2 << false << true;
        QTest::newRow("box off") << "secret" << false << 1 << false << true;
        QTest::newRow("keychain unavailable") << "secret" << true << 1 << true << true;
        QTest::newRow("nothing stored") << QString() << true << 1 << false << true;
    }
    void keychainShortcut()
    {
        QFETCH(QString, stored);
        QFETCH(bool, boxOn);
        QFETCH(int, type);
        QFETCH(bool, unavailable);
        QFETCH(bool, window);
        MemoryKeychain keychain;
        if (!stored.isNull())
            ProjectKeychain::write(kTitle, kUUID, stored);
        keychain.unavailable = unavailable;
        ScriptedUiPrompts prompts;
        if (window)
            prompts.expectProjectPassword(QStringLiteral("typed"));
        UiPrompts::ProjectPasswordRequest r = request(type, type == 1 ? QStringLiteral("secret") : QString());
        r.passwordInKeychain = boxOn;
        const UiPrompts::ProjectPasswordAnswer a = ProjectPasswordPrompt::askProjectPassword(r);
        QVERIFY(a.ok);
        QCOMPARE(a.password, window ? QStringLiteral("typed") : QStringLiteral("secret"));
        QCOMPARE(prompts.projectPasswordRequests.size(), window ? 1 : 0);
        QCOMPARE(prompts.pending(), 0);
    }

    // An existing disk image's password: the same shortcut rule, then the prompt asked again
    // while the answer does not match the image's digest; only a matching answer is stored.
    void imagePassword_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("digest");
        QTest::addColumn<QStringList>("typed"); // the answers, in order; "-" cancels
        QTest::addColumn<QString>("password"); // the answer; empty: not ok
        QTest::addColumn<QString>("kept"); // the keychain afterwards
        QTest::newRow("stored password matches") << "secret" << true << QStringList() << "secret"
                                                 << "secret";
        QTest::newRow("stored password does not match")
            << "old" << true << QStringList { "secret" } << "secret"
            << "secret";
        QTest::newRow("no digest: never from the keychain")
            << "secret" << false << QStringList { "typed" } << "typed"
            << "typed";
        QTest::newRow("wrong, then right")
            << QString() << true << QStringList { "wrong", "secret" } << "secret"
            << "secret";
        QTest::newRow("wrong, then Cancel") << QString() << true << QStringList { "wrong", "-" } << ""
                                            << "";
    }
    void imagePassword()
    {
        QFETCH(QString, stored);
        QFETCH(bool, digest);
        QFETCH(QStringList, typed);
        QFETCH(QString, password);
        QFETCH(QString, kept);
        MemoryKeychain keychain;
        if (!stored.isNull())
            ProjectKeychain::write(kTitle, kUUID, stored);
        ScriptedUiPrompts prompts;
        for (const QString& t : typed) {
            if (t == QLatin1String("-"))
                prompts.expectCancelledImagePassword();
            else
                prompts.expectImagePassword(t, true);
        }
        UiPrompts::ImagePasswordRequest r;
        r.title = kTitle;
        r.UUID = kUUID;
        r.passwordInKeychain = true;
        const IPasswordMD5 md5
            = digest ? *IPasswordMD5::createWithPassword(QStringLiteral("secret")) : IPasswordMD5();
        const UiPrompts::ImagePasswordAnswer a
            = ProjectPasswordPrompt::askImagePassword(r, &md5, QStringLiteral("not correct"));
        QCOMPARE(a.ok, !password.isEmpty());
        QCOMPARE(a.password, password);
        QCOMPARE(prompts.pending(), 0);
        QCOMPARE(prompts.imagePasswordRequests.size(), typed.size());
        for (qsizetype i = 0; i < prompts.imagePasswordRequests.size(); ++i)
            QCOMPARE(prompts.imagePasswordRequests.at(i).errorText,
                i == 0 ? QString() : QStringLiteral("not correct"));
        QCOMPARE(ProjectKeychain::read(kTitle, kUUID), kept);
    }

    void missingTitleOrUUID()
    {
        ScriptedUiPrompts prompts; // any window fails the test
        UiPrompts::ProjectPasswordRequest r = request(1);
        r.UUID.clear();
        QTest::ignoreMessage(QtWarningMsg, "Title or UUID of Backup project not defined!");
        QVERIFY(!ProjectPasswordPrompt::askProjectPassword(r).ok);
        UiPrompts::ImageCreationRequest image;
        image.UUID = kUUID;
        QTest::ignoreMessage(QtWarningMsg, "Title or UUID of Backup project not defined!");
        QVERIFY(!ProjectPasswordPrompt::askNewImage(image).ok);
    }

    void smallDialog()
    {
        WidgetUiPrompts prompts;
        QStringList notes;
        bool stayed = false;
        whenOpen<IPasswordInputDialog>([&](IPasswordInputDialog* d) {
            QCOMPARE(d->promptLabel()->text(), QStringLiteral("Enter the password to restore backup"));
            QTest::keyClicks(d->passwordField(), QStringLiteral("wrong"));
            QTest::keyClick(d->passwordField(), Qt::Key_Return);
            notes << (d->warningNote()->isVisible() ? d->warningNote()->text() : QString());
            Screenshot::save(d, QStringLiteral("controls"), QStringLiteral("password-small"),
                QStringLiteral("The password of an encrypted project, refused"));
            d->passwordField()->clear();
            QVERIFY(!d->warningNote()->isVisible()); // typing hides the note
            d->okButton()->click();
            notes << d->warningNote()->text();
            stayed = d->isVisible();
            d->passwordField()->insert(QStringLiteral("Grüße")); // keyClicks types ASCII only
            d->okButton()->click();
        });
        const UiPrompts::ProjectPasswordAnswer a
            = prompts.askProjectPassword(request(1, QStringLiteral("Grüße")));
        QVERIFY(a.ok);
        QCOMPARE(a.password, QStringLiteral("Grüße"));
        QCOMPARE(notes,
            (QStringList {
                QStringLiteral("Passwords do not match"), QStringLiteral("Password can not be blank") }));
        QVERIFY(stayed);

        // without a digest anything is taken, an empty password too
        whenOpen<IPasswordInputDialog>([](IPasswordInputDialog* d) { d->okButton()->click(); });
        const UiPrompts::ProjectPasswordAnswer empty = prompts.askProjectPassword(request(1));
        QVERIFY(empty.ok);
        QVERIFY(empty.password.isEmpty());
        // closing is Cancel
        whenOpen<IPasswordInputDialog>([](IPasswordInputDialog* d) { d->close(); });
        QVERIFY(!prompts.askProjectPassword(request(1)).ok);
    }

    void fullDialog()
    {
        WidgetUiPrompts prompts;
        m_beeps = 0;
        bool okWhileEmpty = true;
        QString alert;
        bool emptiedAfter = false;
        whenOpen<IPasswordInputDialog>([&](IPasswordInputDialog* d) {
            okWhileEmpty = d->okButton()->isEnabled();
            QTest::keyClicks(d->passwordField(), QStringLiteral("one"));
            QTest::keyClicks(d->verifyField(), QStringLiteral("two"));
            QVERIFY(d->okButton()->isEnabled());
            Screenshot::save(d, QStringLiteral("controls"), QStringLiteral("password-full"),
                QStringLiteral("A new project password, typed twice"));
            whenOpen<QMessageBox>([&, d](QMessageBox* box) {
                alert = box->text();
                box->accept();
                QTimer::singleShot(0, d, [&, d] {
                    emptiedAfter = d->passwordField()->text().isEmpty() && d->verifyField()->text().isEmpty()
                        && !d->okButton()->isEnabled();
                    QTest::keyClicks(d->passwordField(), QStringLiteral("same"));
                    QTest::keyClicks(d->verifyField(), QStringLiteral("same"));
                    d->okButton()->click();
                });
            });
            d->okButton()->click();
        });
        const UiPrompts::ProjectPasswordAnswer a = prompts.askProjectPassword(request(2));
        QVERIFY(!okWhileEmpty);
        QCOMPARE(
            alert, QStringLiteral("Your password does not match the verify password. Please try again."));
        QCOMPARE(m_beeps, 1);
        QVERIFY(emptiedAfter);
        QVERIFY(a.ok);
        QCOMPARE(a.password, QStringLiteral("same"));
    }

    void imageDialog()
    {
        WidgetUiPrompts prompts;
        UiPrompts::ImageCreationRequest r;
        r.title = kTitle;
        r.UUID = kUUID;
        r.minSizeGB = -3;
        r.sourceSizeNote = QStringLiteral("The sources take 1.2 GB.");
        r.passwordInKeychain = true;

        // encryption off: no password, no keychain; the minimum -3 is held at 0; 1.5 gives 2 GB
        double minimum = -1;
        whenOpen<IDiskImagePasswordDialog>([&](IDiskImagePasswordDialog* d) {
            minimum = d->minSizeInGB();
            d->sizeField()->selectAll();
            QTest::keyClicks(d->sizeField(), QStringLiteral("1.5"));
            d->encryptBox()->click();
            QVERIFY(!d->passwordField()->isEnabled());
            d->okButton()->click();
        });
        UiPrompts::ImageCreationAnswer a = prompts.askNewImage(r);
        QCOMPARE(minimum, 0.0);
        QVERIFY(a.ok);
        QVERIFY(a.password.isEmpty());
        QVERIFY(!a.passwordInKeychain);
        QCOMPARE(a.sizeLimitGB, 2L);

        // differing passwords: the note and the warning image; then matching ones
        r.minSizeGB = 5;
        QString note;
        bool warningImage = false;
        bool tenTyped = false;
        m_beeps = 0;
        whenOpen<IDiskImagePasswordDialog>([&](IDiskImagePasswordDialog* d) {
            d->sizeField()->selectAll();
            QTest::keyClicks(d->sizeField(), QStringLiteral("10")); // "1" is below 5 but may be typed
            tenTyped = d->sizeField()->text() == QLatin1String("10");
            QTest::keyClicks(d->sizeField(), QStringLiteral("0000000")); // above 10000000: refused
            QTest::keyClicks(d->passwordField(), QStringLiteral("abc"));
            QTest::keyClicks(d->verifyField(), QStringLiteral("abd"));
            d->okButton()->click();
            note = d->warningNote()->text();
            warningImage = d->warningImage()->isVisible();
            Screenshot::save(d, QStringLiteral("controls"), QStringLiteral("password-image"),
                QStringLiteral("A new encrypted disk image: size limit and differing passwords"));
            d->verifyField()->clear();
            QTest::keyClicks(d->verifyField(), QStringLiteral("abc"));
            d->okButton()->click();
        });
        a = prompts.askNewImage(r);
        QVERIFY(tenTyped);
        QCOMPARE(m_beeps, 1);
        QCOMPARE(note, QStringLiteral("Passwords do not match"));
        QVERIFY(warningImage);
        QVERIFY(a.ok);
        QCOMPARE(a.password, QStringLiteral("abc"));
        QVERIFY(a.passwordInKeychain);
        QCOMPARE(a.sizeLimitGB, 10000000L); // the last "0" would have passed 10000000
    }
};

QTEST_MAIN(TestPasswordDialogs)
#include "tst_passworddialogs.moc"
