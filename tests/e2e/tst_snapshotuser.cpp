// kv-test: labels=root timeout=600 fixtures=kv_loop_cleanup,kv_testuser lock=kvtest serial

// A snapshot-backup run as an unprivileged user through the headless driver, with a source file
// that user cannot read: the run fails, says which file and why, and records no version.

#include "E2eWorkspace.h"
#include "TempTree.h"
#include "TestUsers.h"

#include <QFile>
#include <QtTest>
#include <pwd.h>
#include <unistd.h>

using namespace E2e;

class TestSnapshotUser : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void unreadableSourceFileNamedAndFails();
};

namespace {

bool chownTree(const QString& path, const QString& user)
{
    return LoopImage::runTool(QStringLiteral("chown"), { QStringLiteral("-R"), user + ":" + user, path });
}

} // namespace

void TestSnapshotUser::unreadableSourceFileNamedAndFails()
{
    KV_REQUIRE_TEST_USERS();
    const QString user = QStringLiteral("kvtest");
    TestVolume volume;
    QVERIFY2(volume.make(LoopImage::FsType::Ext4, 32), qPrintable(volume.error()));
    TempTree tree(QStringLiteral("user"));
    QVERIFY(::chmod(tree.pathStd().c_str(), 0755) == 0);
    QVERIFY(put(tree, "Docs/readable.txt", "fine"));
    QVERIFY(put(tree, "Docs/secret.txt", "root only", 0600)); // stays root's
    ProjectPlan plan;
    plan.sources = { tree.filePath(std::string("Docs")) };
    plan.destination = volume.path() + "/Backups";
    QVERIFY(QDir().mkpath(plan.destination));
    QVERIFY(chownTree(plan.destination, user));
    const QString ws = tree.filePath(std::string("ws"));
    QVERIFY(writeWorkspace(ws, { projectDict(plan) }));
    QVERIFY(chownTree(ws, user));

    const struct passwd* pw = ::getpwnam("kvtest");
    QVERIFY(pw);
    const QMap<QString, QString> env { { QStringLiteral("HOME"), QString::fromLocal8Bit(pw->pw_dir) } };
    const DriverRun run = finish(Subprocess::run(
        TestUsers::runAs(user, driverPath(), { "--workspace", ws, "--project", plan.name }, env), 120000));
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.version, QStringLiteral("-"));
    QVERIFY2(run.status.contains(QLatin1String("failed")), qPrintable(run.lastLine));
    bool named = false;
    for (const QByteArray& line : run.err.split('\n'))
        named = named || (line.contains("secret.txt") && line.contains("Permission denied (13)"));
    QVERIFY2(named, run.err.constData());

    const QString folder = projectFolder(plan);
    QCOMPARE(versionFolders(folder), QStringList());
    QCOMPARE(infoFolders(folder), QStringList());
    QVERIFY(QFileInfo(folder + "/QV3ProcessTemporaryFolder").isDir());
}

QTEST_GUILESS_MAIN(TestSnapshotUser)
#include "tst_snapshotuser.moc"
