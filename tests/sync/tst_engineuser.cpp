// kv-test: labels=root timeout=300 fixtures=kv_testuser lock=kvtest serial

// An analysis of an administrator project, run by the test user through the driver: the engine
// runs as root through sudo, and a stop ends the engine's whole process group, its children
// included, within seconds.

#include "FakeSyncRunController.h"
#include "KvTest.h"
#include "LoopImage.h"
#include "TempTree.h"
#include "TestUsers.h"
#include "platform/ProcessTable.h"
#include "sync/ISynchron.h"
#include "sync/ISynchronContainer.h"
#include "utilities/IVolumeBase.h"

#include <QElapsedTimer>
#include <QtTest>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

class TestEngineUser : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void stopThroughSudoEndsTheEngineGroup();
};

void TestEngineUser::stopThroughSudoEndsTheEngineGroup()
{
    KV_REQUIRE_TEST_USERS();
    TempTree tree(QStringLiteral("engineuser"));
    QVERIFY(::chmod(tree.pathStd().c_str(), 0755) == 0);
    QVERIFY(tree.mkdir("left") && tree.mkdir("right"));
    QVERIFY(tree.writeFile(QStringLiteral("left/a.txt"), "a"));

    // The application's tree with the real engine and an rsync that lists for a long time.
    const QString real = KvTest::appContentsDir();
    QVERIFY(tree.mkdir("app/Contents/Resources"));
    for (const QString& name : QDir(real).entryList(QDir::NoDotAndDotDot | QDir::AllEntries)) {
        if (name != QLatin1String("Resources"))
            QVERIFY(QFile::link(real + '/' + name, tree.filePath("app/Contents/" + name)));
    }
    for (const QString& name : QDir(real + "/Resources").entryList(QDir::NoDotAndDotDot | QDir::AllEntries)) {
        if (name != QLatin1String("rsync3"))
            QVERIFY(QFile::link(real + "/Resources/" + name, tree.filePath("app/Contents/Resources/" + name)));
    }
    QVERIFY(tree.writeFile(QStringLiteral("app/Contents/Resources/rsync3"),
        "#!/bin/sh\necho 'building file list ... '\nsleep 30\necho '0 files to consider'\n", 0755));

    const QString ws = tree.filePath(QStringLiteral("ws"));
    {
        IVolumeBase::shared().fill();
        ISynchronContainer list(std::make_unique<FakeSyncRunController>(), ws);
        list.reInit();
        auto p = list.createNewSynchron(QStringLiteral("Mirror"), 0);
        p->setUseAdminPrivileges(true);
        p->setFirstFolder(tree.filePath(QStringLiteral("left")));
        p->setSecondFolder(tree.filePath(QStringLiteral("right")));
        QVERIFY(list.save());
    }
    QVERIFY(LoopImage::runTool(QStringLiteral("chown"), { QStringLiteral("-R"), QStringLiteral("kvtest:kvtest"), ws }));

    const struct passwd* pw = ::getpwnam("kvtest");
    const QMap<QString, QString> env { { QStringLiteral("HOME"), QString::fromLocal8Bit(pw ? pw->pw_dir : "/") },
        { QStringLiteral("KV_APP_CONTENTS"), tree.filePath(QStringLiteral("app/Contents")) } };
    Subprocess::Options o = TestUsers::runAs(QStringLiteral("kvtest"), real + QStringLiteral("/MacOS/kv-run-project"),
        { "--workspace", ws, "--kit", "sync", "--project", "Mirror", "--analyze", "--admin-password-stdin",
            "--timeout", "4" },
        env);
    o.standardInput = TestUsers::password(QStringLiteral("kvtest")) + '\n';
    QElapsedTimer timer;
    timer.start();
    const Subprocess::Result r = Subprocess::run(o, 120000);
    const QByteArray all = r.out + "\n--\n" + r.err;
    QVERIFY2(r.out.trimmed().split('\n').last() == "4 0 Terminated by user", all.constData());
    QCOMPARE(r.exitCode, 4);
    // Far less than the 30 s the listing would take.
    QVERIFY2(timer.elapsed() < 20000, all.constData());
    QList<pid_t> groups;
    for (const QByteArray& line : QByteArray(r.out + '\n' + r.err).split('\n'))
        if (line.startsWith("pgid: "))
            groups << pid_t(line.mid(6).toLong());
    QCOMPARE(groups.size(), 1);
    QVERIFY(ProcessTable::groupMembers(groups.first()).isEmpty());
    // The engine ran as root through sudo and started its rsync.
    QVERIFY2(r.err.contains("prompt: "), all.constData());
}

QTEST_GUILESS_MAIN(TestEngineUser)
#include "tst_engineuser.moc"
