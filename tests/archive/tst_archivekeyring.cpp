// kv-test: labels=dbus timeout=180
// An encrypted project's password against the desktop's real keyring: the first build asks for a
// new password and keeps it there; the next takes it from there; a remembered password that no
// longer matches is asked for again and a wrong answer builds nothing; the box switched off
// deletes the item.
#include "ArchiveDriverRun.h"
#include "KeyringFixture.h"
#include "ScriptedUiPrompts.h"
#include "TempTree.h"
#include "archive/CBackup.h"
#include "archive/IBackup.h"
#include "platform/AppPaths.h"
#include "utilities/ProjectKeychain.h"

#include <QtTest>

class TestArchiveKeyring : public QObject
{
    Q_OBJECT

private slots:
    void passwordThroughTheKeyring()
    {
        KeyringFixture keyring;
        QVERIFY2(keyring.isValid(), qPrintable(keyring.errorString()));
        TempTree tree;
        tree.writeFile(std::string("src/a.txt"), "a\n");
        tree.mkdir("ws/Backups");
        tree.mkdir("dest");
        const QString ws = tree.filePath(QStringLiteral("ws"));
        const ArchiveDriverRun created = runArchiveDriver({ QStringLiteral("--workspace"), ws, QStringLiteral("--new"),
            QStringLiteral("K"), QStringLiteral("--source"), tree.filePath(QStringLiteral("src")),
            QStringLiteral("--dest"), tree.filePath(QStringLiteral("dest")), QStringLiteral("--cipher"),
            QStringLiteral("aes256") });
        QVERIFY2(created.code == 0, created.last.constData());
        AppPaths::setWorkspacePathOverride(ws);
        const QString bif = firstProjectFile(ws);
        ScriptedUiPrompts prompts;
        const QString password = QStringLiteral("s\u00e9same");

        // One build by a freshly loaded project; true when it archived.
        auto build = [&](CBackup& project) {
            QTest::qWait(1100); // archive names carry the second
            bool ended = false;
            project.getIBackup()->onRunEnded = [&] { ended = true; };
            if (project.build() <= 0)
                return false;
            if (!QTest::qWaitFor([&] { return ended; }, 30000))
                return false;
            const bool ok = project.getIBackup()->lastStatusString().contains(QLatin1String("has succeeded"));
            return ok && project.save();
        };
        // Archives in the project's folder under the destination.
        auto archives = [&] {
            int n = 0;
            QDirIterator it(tree.filePath(QStringLiteral("dest")), QDir::Files, QDirIterator::Subdirectories);
            while (it.hasNext()) {
                it.next();
                ++n;
            }
            return n;
        };
        QString uuid;

        {
            CBackup project(QStringLiteral("K"));
            QVERIFY(project.load(bif, false));
            project.setPasswordInKeychain(true);
            prompts.expectProjectPassword(password, true);
            uuid = project.getUUID();
            QVERIFY(build(project));
            QCOMPARE(prompts.projectPasswordRequests.last().type, 2);
        }
        QCOMPARE(ProjectKeychain::read(QStringLiteral("K"), uuid), password);
        QCOMPARE(archives(), 1);

        {
            CBackup project(QStringLiteral("K"));
            QVERIFY(project.load(bif, false));
            QVERIFY(build(project));
            QCOMPARE(prompts.projectPasswordRequests.size(), 1); // taken from the keyring
        }
        QCOMPARE(archives(), 2);

        // The keyring holds another password now: asked again; a wrong answer builds nothing.
        QVERIFY(ProjectKeychain::write(QStringLiteral("K"), uuid, QStringLiteral("stale")));
        {
            CBackup project(QStringLiteral("K"));
            QVERIFY(project.load(bif, false));
            prompts.expectProjectPassword(QStringLiteral("wrong"), true);
            QVERIFY(!build(project));
            QCOMPARE(prompts.projectPasswordRequests.last().type, 1);
            QVERIFY(project.lastRunFailed());
        }
        QCOMPARE(archives(), 2);

        // The right password with the box off: built, and the item is gone from the keyring.
        {
            CBackup project(QStringLiteral("K"));
            QVERIFY(project.load(bif, false));
            prompts.expectProjectPassword(password, false);
            QVERIFY(build(project));
            QVERIFY(!project.passwordInKeychain());
        }
        QVERIFY(!ProjectKeychain::exists(QStringLiteral("K"), uuid));
        QCOMPARE(archives(), 3);
        QCOMPARE(prompts.pending(), 0);
        QVERIFY(prompts.unexpected.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestArchiveKeyring)
#include "tst_archivekeyring.moc"
