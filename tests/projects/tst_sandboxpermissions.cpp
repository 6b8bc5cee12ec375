// kv-test: labels=unit
#include "KvTest.h"
#include "RecordingShellServices.h"
#include "ScriptedClock.h"
#include "TempTree.h"
#include "platform/AppPaths.h"
#include "platform/PlistBridge.h"
#include "platform/Subprocess.h"
#include "projects/SandBoxPermissions.h"

#include <QtTest>

// The folder permission store: plain-path records with their last use, kept for 180 days,
// written atomically into the workspace and never overwriting a file it could not read.
class TestSandBoxPermissions : public QObject
{
    Q_OBJECT
    std::unique_ptr<TempTree> m_workspace;

private Q_SLOTS:
    void init()
    {
        m_workspace = std::make_unique<TempTree>(QStringLiteral("ws"));
        AppPaths::setWorkspacePathOverride(m_workspace->path());
        SandBoxPermissions::resetForTests();
    }
    void cleanup()
    {
        SandBoxPermissions::resetForTests();
        AppPaths::setWorkspacePathOverride(QString());
        m_workspace.reset();
    }

    void recordsSurviveANewProcessAndExpire()
    {
        ScriptedClock clock(QDateTime(QDate(2024, 6, 1), QTime(10, 0)));
        TempTree data(QStringLiteral("data"));
        QVERIFY(data.mkdir("Photos") && data.mkdir("Old"));
        QVERIFY(SandBoxPermissions::URLPermissionsBookmark(data.filePath(std::string("Photos"))));
        QVERIFY(SandBoxPermissions::URLPermissionsBookmark(data.filePath(std::string("Old")) + "/"));
        QVERIFY(!SandBoxPermissions::URLPermissionsBookmark(data.filePath(std::string("missing"))));
        QVERIFY(SandBoxPermissions::SBPSave());
        QCOMPARE(SandBoxPermissions::prefsFileName(), m_workspace->filePath(std::string("QV2Perm.bip")));

        // A fresh process reads both records back.
        Subprocess::Options o;
        o.program = QCoreApplication::applicationFilePath();
        o.arguments = QStringList { "childReadsStore" };
        o.environment.insert("KV_PERM_WORKSPACE", m_workspace->path());
        o.environment.insert("KV_PERM_EXPECT",
            data.filePath(std::string("Photos")) + "\n" + data.filePath(std::string("Old")));
        const Subprocess::Result r = Subprocess::run(o, 60000);
        QVERIFY2(r.succeeded(), r.out.constData());

        // Photos is used 100 days later, Old not: 181 days on, only Photos is kept.
        clock.advance(qint64(100) * 86400 * 1000);
        QCOMPARE(SandBoxPermissions::permObjectForKey(data.filePath(std::string("Photos"))),
            data.filePath(std::string("Photos")).toUtf8());
        clock.advance(qint64(81) * 86400 * 1000);
        QVERIFY(SandBoxPermissions::SBPSave());
        SandBoxPermissions::SBPLoad(true);
        QVERIFY(!SandBoxPermissions::permObjectForKey(data.filePath(std::string("Photos"))).isEmpty());
        QVERIFY(SandBoxPermissions::permObjectForKey(data.filePath(std::string("Old"))).isEmpty());
        const QVariantList rec
            = SandBoxPermissions::permDict().value(data.filePath(std::string("Photos")).toLower()).toList();
        QCOMPARE(rec.value(1).toDateTime(), clock.now());
    }

    void childReadsStore()
    {
        const QByteArray ws = qgetenv("KV_PERM_WORKSPACE");
        if (ws.isEmpty())
            QSKIP("runs in the child process of recordsSurviveANewProcessAndExpire");
        AppPaths::setWorkspacePathOverride(QString::fromUtf8(ws));
        for (const QString& p : QString::fromUtf8(qgetenv("KV_PERM_EXPECT")).split('\n'))
            QCOMPARE(SandBoxPermissions::permObjectForKey(p), p.toUtf8());
    }

    void bareDataAndCaseFolding()
    {
        QVariantMap stored;
        stored.insert("/data/photos", QByteArray("/data/Photos"));
        QVERIFY(PlistBridge::writeFileAtomically(SandBoxPermissions::prefsFileName(), stored));
        QCOMPARE(SandBoxPermissions::permObjectForKey("/data/Photos"), QByteArray("/data/Photos"));
        // Another folder whose name differs only in case shares the key but not the record.
        QVERIFY(SandBoxPermissions::permObjectForKey("/data/photos").isEmpty());
    }

    void prepare_data()
    {
        QTest::addColumn<bool>("exists");
        QTest::addColumn<bool>("ask");
        QTest::addColumn<QString>("answer"); // "=" the proposed folder, "-" cancel
        QTest::addColumn<bool>("result");
        QTest::addColumn<int>("questions");
        QTest::newRow("existing folder") << true << false << "" << true << 0;
        QTest::newRow("missing, no asking") << false << false << "=" << false << 0;
        QTest::newRow("missing, user grants it") << false << true << "=" << true << 1;
        QTest::newRow("missing, user picks another") << false << true << "/elsewhere" << false << 1;
        QTest::newRow("missing, user cancels") << false << true << "-" << false << 1;
    }
    void prepare()
    {
        QFETCH(bool, exists);
        QFETCH(bool, ask);
        QFETCH(QString, answer);
        QFETCH(bool, result);
        QFETCH(int, questions);
        TempTree data(QStringLiteral("data"));
        QVERIFY(data.mkdir("f"));
        const QString path = data.filePath(std::string(exists ? "f" : "gone"));
        int asked = 0;
        SandBoxPermissions::setFolderChooser([&](const QString& proposed, const QString& prompt) {
            ++asked;
            [&] {
                QCOMPARE(proposed, path);
                QVERIFY(prompt.startsWith("Kelvane requires an access"));
            }();
            return answer == "-" ? QString() : answer == "=" ? proposed : answer;
        });
        QCOMPARE(SandBoxPermissions::pathPermissionsPrepare(path, ask), result);
        QCOMPARE(asked, questions);
        QCOMPARE(!SandBoxPermissions::permObjectForKey(path).isEmpty(), result);
    }

    void corruptStoreIsKeptAside()
    {
        RecordingShellServices shell;
        ShellServicesScope scope(&shell);
        QVERIFY(m_workspace->writeFile(std::string("QV2Perm.bip"), QByteArray("<plist><dict><key>x")));
        TempTree data(QStringLiteral("data"));
        QVERIFY(data.mkdir("f"));
        QVERIFY(SandBoxPermissions::URLPermissionsBookmark(data.filePath(std::string("f"))));
        QVERIFY(SandBoxPermissions::SBPSave());
        bool aside = false;
        for (const std::string& n : m_workspace->list())
            aside = aside || (n.rfind("QV2Perm.bip.corrupt-", 0) == 0);
        QVERIFY(aside);
        QCOMPARE(shell.messages().size(), 1);
        QVERIFY(shell.messages().first().text.contains("could not be read"));
    }
};

QTEST_GUILESS_MAIN(TestSandBoxPermissions)
#include "tst_sandboxpermissions.moc"
