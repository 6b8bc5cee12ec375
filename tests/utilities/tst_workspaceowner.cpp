// kv-test: labels=unit,root fixtures=kv_testuser lock=kvtest timeout=300
#include "FakePrivilegeBackend.h"
#include "FakeToolDir.h"
#include "KvTest.h"
#include "RecordingShellServices.h"
#include "TestUsers.h"
#include "WorkspaceFixture.h"
#include "platform/Subprocess.h"
#include "utilities/IPathUtil.h"
#include "utilities/MainPreferences.h"

#include <QDir>
#include <QtTest>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

uid_t ownerOf(const QByteArray& path)
{
    struct stat st;
    return ::lstat(path.constData(), &st) == 0 ? st.st_uid : uid_t(-1);
}

bool makeFile(const QByteArray& path)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

// A folder below /tmp that the test users can reach, removed at the end.
struct SharedFolder
{
    QByteArray path;
    SharedFolder()
    {
        char templ[] = "/tmp/kv-owner-XXXXXX";
        if (::mkdtemp(templ)) {
            path = templ;
            ::chmod(templ, 0755);
        }
    }
    ~SharedFolder()
    {
        if (!path.isEmpty())
            FileOps::removeTree(path.toStdString());
    }
};

} // namespace

class TestWorkspaceOwner : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // One "chown -h --" per volume of a split archive, each path its own argument.
    void oneChownPerVolume()
    {
        WorkspaceFixture home;
        FakePrivilegeBackend backend;
        FakeToolDir tools;
        tools.addTool(QStringLiteral("chown"), QByteArray());
        const QString archive = home.home() + QStringLiteral("/a b'$(id).cnt3");
        QVERIFY(MainPreferences::setNormalOwnerToFiles(archive, true));
        const QString owner = QStringLiteral("%1:%2").arg(::getuid()).arg(::getgid());
        const QString base = home.home() + QStringLiteral("/a b'$(id).");
        QCOMPARE(tools.invocationStrings(QStringLiteral("chown")),
            QList<QStringList>({ { "-h", "--", owner, base + "aaa" }, { "-h", "--", owner, base + "aab" },
                { "-h", "--", owner, base + "aac" } }));
        QVERIFY(MainPreferences::setNormalOwnerToFiles(home.home() + QStringLiteral("/plain.cnt"), true));
        QCOMPARE(tools.invocationStrings(QStringLiteral("chown")).last(),
            QStringList({ "-h", "--", owner, home.home() + QStringLiteral("/plain.cnt") }));
        QVERIFY(MainPreferences::setNormalOwnerToFiles(archive, false)); // not as administrator: nothing
        QCOMPARE(tools.invocationCount(QStringLiteral("chown")), 4);
    }

    // The background ownership fix is reaped and a failure reaches the log.
    void directoryFixFailureIsLogged()
    {
        WorkspaceFixture home;
        FakePrivilegeBackend backend;
        FakeToolDir tools;
        tools.addTool(
            QStringLiteral("chown"), QByteArray(), "chown: changing ownership: Operation not permitted\n", 1);
        RecordingShellServices shell;
        ShellServicesScope scope(&shell);
        const QString tree = home.home() + QStringLiteral("/-tree");
        IPathUtil::fixOwnerForDirectory(tree);
        auto logged = [&] {
            for (const auto& m : shell.messages()) {
                if (m.text.contains("Operation not permitted"))
                    return true;
            }
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(logged(), 15000);
        QCOMPARE(tools.invocationStrings(QStringLiteral("chown")).value(0),
            QStringList({ "-R", "-h", "--", QStringLiteral("%1:%2").arg(::getuid()).arg(::getgid()), tree }));
    }

    // As the test user through sudo: root-made volumes and trees with hostile names become the
    // user's; a link planted among them changes itself, never the root file it points to.
    void handsRootFilesBackToTheUser()
    {
        KV_REQUIRE_TEST_USERS();
        const passwd* pw = ::getpwnam("kvtest");
        QVERIFY(pw);
        const uid_t user = pw->pw_uid;
        SharedFolder folder;
        QVERIFY(!folder.path.isEmpty());
        const QByteArray rootFile = folder.path + "/root-owned";
        QVERIFY(makeFile(rootFile));

        const QByteArray base = folder.path + "/a b'$(id).";
        QVERIFY(makeFile(base + "aaa"));
        QVERIFY(::symlink(rootFile.constData(), QByteArray(base + "aab").constData()) == 0);
        QVERIFY(makeFile(base + "aac"));

        const QByteArray tree = folder.path + "/-tree 'q' $(id)\nx";
        QVERIFY(::mkdir(tree.constData(), 0755) == 0);
        QVERIFY(::mkdir(QByteArray(tree + "/sub").constData(), 0755) == 0);
        QVERIFY(makeFile(tree + "/sub/file"));
        QVERIFY(::symlink(rootFile.constData(), QByteArray(tree + "/link").constData()) == 0);

        const QString program = TestUsers::reachableProgram(QStringLiteral("ownerfix"));
        for (const auto& [mode, path] :
            { std::pair { "files", QByteArray(base + "cnt3") }, std::pair { "tree", tree } }) {
            Subprocess::Options options = TestUsers::runAs(
                QStringLiteral("kvtest"), program, { QString::fromLatin1(mode), QFile::decodeName(path) });
            options.standardInput = TestUsers::password(QStringLiteral("kvtest")) + "\n";
            const Subprocess::Result result = Subprocess::run(options, 120000);
            QVERIFY2(result.succeeded(), result.err.constData());
        }
        QCOMPARE(ownerOf(base + "aaa"), user);
        QCOMPARE(ownerOf(base + "aab"), user); // the link itself
        QCOMPARE(ownerOf(base + "aac"), user);
        QCOMPARE(ownerOf(tree), user);
        QCOMPARE(ownerOf(tree + "/sub/file"), user);
        QCOMPARE(ownerOf(tree + "/link"), user);
        QCOMPARE(ownerOf(rootFile), uid_t(0));
    }
};

QTEST_GUILESS_MAIN(TestWorkspaceOwner)
#include "tst_workspaceowner.moc"
