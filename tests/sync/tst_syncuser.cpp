// kv-test: labels=root timeout=300 fixtures=kv_testuser lock=kvtest serial

// Synchronizations run through the driver by the test user: without administrator rights a
// symbolic link stays a link; with them rsync runs as root through sudo, a refused authorization
// copies nothing, and a stop leaves nothing of the run's process group.

#include "FakeSyncRunController.h"
#include "KvTest.h"
#include "TempTree.h"
#include "LoopImage.h"
#include "TestUsers.h"
#include "platform/ProcessTable.h"
#include "sync/ISynchron.h"
#include "sync/ISynchronContainer.h"
#include "utilities/IVolumeBase.h"

#include <QtTest>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

class TestSyncUser : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void symlinksStayLinksWithoutAdministratorRights();
    void stopOfAnAdministratorProjectLeavesNothing();

private:
    struct Run
    {
        int code = -1;
        QByteArray out;
        QByteArray err;
        QByteArray last() const { return out.trimmed().split('\n').last(); }
    };
    bool writeProject(const QString& ws, const QString& left, const QString& right, bool admin);
    Run driverAsTestUser(const QString& ws, const QStringList& extra, const QByteArray& input = QByteArray());
};

bool TestSyncUser::writeProject(const QString& ws, const QString& left, const QString& right, bool admin)
{
    IVolumeBase::shared().fill();
    {
        ISynchronContainer list(std::make_unique<FakeSyncRunController>(), ws);
        list.reInit();
        auto p = list.createNewSynchron(QStringLiteral("Mirror"), 0);
        p->setUseAdminPrivileges(admin);
        p->setFirstFolder(left);
        p->setSecondFolder(right);
        if (!list.save())
            return false;
    }
    return LoopImage::runTool(QStringLiteral("chown"), { QStringLiteral("-R"), QStringLiteral("kvtest:kvtest"), ws });
}

TestSyncUser::Run TestSyncUser::driverAsTestUser(const QString& ws, const QStringList& extra, const QByteArray& input)
{
    const struct passwd* pw = ::getpwnam("kvtest");
    const QMap<QString, QString> env { { QStringLiteral("HOME"), QString::fromLocal8Bit(pw ? pw->pw_dir : "/") } };
    Subprocess::Options o = TestUsers::runAs(QStringLiteral("kvtest"),
        KvTest::appContentsDir() + QStringLiteral("/MacOS/kv-run-project"),
        QStringList { "--workspace", ws, "--kit", "sync", "--project", "Mirror" } + extra, env);
    o.standardInput = input;
    const Subprocess::Result r = Subprocess::run(o, 180000);
    return { r.exitCode, r.out, r.err };
}

void TestSyncUser::symlinksStayLinksWithoutAdministratorRights()
{
    KV_REQUIRE_TEST_USERS();
    TempTree tree(QStringLiteral("syncuser"));
    QVERIFY(::chmod(tree.pathStd().c_str(), 0755) == 0);
    QVERIFY(tree.writeFile(QStringLiteral("left/f.txt"), "f"));
    QVERIFY(tree.symlink("f.txt", "left/l"));
    QVERIFY(tree.mkdir("right"));
    const QString ws = tree.filePath(QStringLiteral("ws"));
    QVERIFY(writeProject(ws, tree.filePath(QStringLiteral("left")), tree.filePath(QStringLiteral("right")), false));
    QVERIFY(LoopImage::runTool(QStringLiteral("chown"),
        { QStringLiteral("-R"), QStringLiteral("kvtest:kvtest"), tree.filePath(QStringLiteral("right")) }));
    const Run r = driverAsTestUser(ws, {});
    QVERIFY2(r.last() == "0 - Synchronization was successful.", QByteArray(r.out + r.err).constData());
    QCOMPARE(r.code, 0);
    QVERIFY(QFileInfo(tree.filePath(QStringLiteral("right/l"))).isSymLink());
    QCOMPARE(QFileInfo(tree.filePath(QStringLiteral("right/l"))).symLinkTarget(),
        tree.filePath(QStringLiteral("right/f.txt")));
}

void TestSyncUser::stopOfAnAdministratorProjectLeavesNothing()
{
    KV_REQUIRE_TEST_USERS();
    TempTree tree(QStringLiteral("syncadmin"));
    QVERIFY(::chmod(tree.pathStd().c_str(), 0755) == 0);
    QVERIFY(tree.mkdir("left") && tree.mkdir("right"));
    // A large sparse file keeps rsync busy for several seconds.
    {
        const QByteArray big = QFile::encodeName(tree.filePath(QStringLiteral("left/big")));
        const int fd = ::open(big.constData(), O_WRONLY | O_CREAT, 0644);
        QVERIFY(fd >= 0);
        QVERIFY(::ftruncate(fd, qint64(64) << 30) == 0);
        ::close(fd);
    }
    const QString ws = tree.filePath(QStringLiteral("ws"));
    QVERIFY(writeProject(ws, tree.filePath(QStringLiteral("left")), tree.filePath(QStringLiteral("right")), true));
    // The authorization refused (the dialog cancelled): stopped before anything runs.
    const Run refused = driverAsTestUser(ws, {});
    QVERIFY2(refused.last() == "4 - Terminated by user", QByteArray(refused.out + refused.err).constData());
    QCOMPARE(refused.code, 4);
    QVERIFY2(refused.err.contains("prompt: ") && !refused.err.contains("pgid: "), refused.err.constData());
    QVERIFY(!QFileInfo::exists(tree.filePath(QStringLiteral("right/big"))));

    const Run r = driverAsTestUser(
        ws, { "--admin-password-stdin", "--timeout", "3" }, TestUsers::password(QStringLiteral("kvtest")) + '\n');
    QVERIFY2(r.last() == "4 - Terminated by user", QByteArray(r.out + r.err).constData());
    QCOMPARE(r.code, 4);
    QVERIFY2(r.err.contains("prompt: "), r.err.constData());
    QList<pid_t> groups;
    for (const QByteArray& line : r.err.split('\n'))
        if (line.startsWith("pgid: "))
            groups << pid_t(line.mid(6).toLong());
    QCOMPARE(groups.size(), 1);
    QVERIFY(ProcessTable::groupMembers(groups.first()).isEmpty());
}

QTEST_GUILESS_MAIN(TestSyncUser)
#include "tst_syncuser.moc"
