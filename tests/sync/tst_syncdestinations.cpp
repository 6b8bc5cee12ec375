// kv-test: labels=root timeout=600 fixtures=kv_loop_cleanup serial

// kv-run-project --kit sync onto real volumes whose destination cannot take the copy: a full
// volume and a volume remounted read-only both end as failures, never as a success.

#include "../e2e/E2eWorkspace.h"
#include "FakeSyncRunController.h"
#include "KvTest.h"
#include "TempTree.h"
#include "platform/Subprocess.h"
#include "sync/ISynchron.h"
#include "sync/ISynchronContainer.h"
#include "utilities/IVolumeBase.h"

#include <QDir>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <QtTest>

using namespace E2e;

class TestSyncDestinations : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void destinationThatCannotTakeTheCopy_data();
    void destinationThatCannotTakeTheCopy();
    void cloneBetweenTwoVolumes();
    void treeFromExt4ToBtrfs();
    void mountCheckRunsTheProjectsOfTheVolume();
};

void TestSyncDestinations::destinationThatCannotTakeTheCopy_data()
{
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<QString>("stderrLine");
    QTest::newRow("full") << false << "Not enough space on Destination";
    QTest::newRow("remounted read-only") << true << "mkdir";
}

void TestSyncDestinations::destinationThatCannotTakeTheCopy()
{
    QFETCH(bool, readOnly);
    QFETCH(QString, stderrLine);
    KV_REQUIRE_ROOT();
    TestVolume left, right;
    QVERIFY2(left.make(LoopImage::FsType::Ext4, 64), qPrintable(left.error()));
    QVERIFY2(right.make(LoopImage::FsType::Ext4, 16), qPrintable(right.error()));
    QVERIFY(QDir().mkpath(left.path() + "/docs/sub") && QDir().mkpath(right.path() + "/copy"));
    // 20 MB of data that does not compress or sparsify.
    {
        QFile f(left.path() + "/docs/sub/big");
        QVERIFY(f.open(QIODevice::WriteOnly));
        QByteArray block(1 << 20, '\0');
        for (int i = 0; i < 20; ++i) {
            for (int j = 0; j < block.size(); ++j)
                block[j] = char((i * 7919 + j * 31 + (j >> 8)) & 0xff);
            f.write(block);
        }
    }
    IVolumeBase::shared().fill();
    QTRY_VERIFY_WITH_TIMEOUT(IVolumeBase::shared().isBaseFilled(), 10000);
    TempTree tree(QStringLiteral("syncdest"));
    {
        ISynchronContainer list(std::make_unique<FakeSyncRunController>(), tree.path());
        list.reInit();
        auto p = list.createNewSynchron(QStringLiteral("Volumes"), 0);
        p->setUseAdminPrivileges(false);
        p->setFirstFolder(left.path() + "/docs");
        p->setSecondFolder(right.path() + "/copy");
        QVERIFY(list.save());
    }
    if (readOnly) {
        Subprocess::Options o;
        o.program = QStringLiteral("mount");
        o.arguments = QStringList { "-o", "remount,ro", right.path() };
        const Subprocess::Result r = Subprocess::run(o, 60000);
        QVERIFY2(r.succeeded(), r.err.constData());
    }
    QProcess p;
    p.start(KvTest::appContentsDir() + QStringLiteral("/MacOS/kv-run-project"),
        { "--workspace", tree.path(), "--kit", "sync", "--project", "Volumes", "--scheduled", "--timeout", "120" });
    QVERIFY(p.waitForFinished(180000));
    const QByteArray out = p.readAllStandardOutput(), err = p.readAllStandardError();
    const QList<QByteArray> lines = out.trimmed().split('\n');
    QCOMPARE(QString::fromUtf8(lines.last()), QStringLiteral("1 - Synchronize failed."));
    QCOMPARE(p.exitCode(), 1);
    QVERIFY2(err.contains(stderrLine.toUtf8()), err.constData());
}

// A clone between two plain ext4 volumes (not bootable: no boot steps) through the driver: the
// verdict is printed, the start warning is confirmed, the copy is complete and the system lists'
// entries stay out.
void TestSyncDestinations::cloneBetweenTwoVolumes()
{
    KV_REQUIRE_ROOT();
    TestVolume left, right;
    QVERIFY2(left.make(LoopImage::FsType::Ext4), qPrintable(left.error()));
    QVERIFY2(right.make(LoopImage::FsType::Ext4), qPrintable(right.error()));
    QVERIFY(QDir().mkpath(left.path() + "/etc/deep"));
    {
        QFile f(left.path() + "/etc/deep/file");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("content");
    }
    QVERIFY(QFile::link(QStringLiteral("deep/file"), left.path() + "/etc/link"));
    IVolumeBase::shared().fill();
    QTRY_VERIFY_WITH_TIMEOUT(IVolumeBase::shared().isBaseFilled(), 10000);
    TempTree tree(QStringLiteral("clonedest"));
    {
        ISynchronContainer list(std::make_unique<FakeSyncRunController>(), tree.path());
        list.reInit();
        auto p = list.createNewSynchron(QStringLiteral("Copy"), 1);
        p->setFirstFolder(left.path());
        p->setSecondFolder(right.path());
        p->setStartCloningWarnDialog(true);
        QVERIFY(list.save());
    }
    auto run = [&tree](const QStringList& extra) {
        QProcess p;
        p.start(KvTest::appContentsDir() + QStringLiteral("/MacOS/kv-run-project"),
            QStringList { "--workspace", tree.path(), "--kit", "clone", "--project", "Copy", "--timeout", "120" }
                + extra);
        p.waitForFinished(180000);
        return qMakePair(p.exitCode(), p.readAllStandardOutput());
    };
    const auto refused = run({});
    QCOMPARE(refused.first, 4);
    QVERIFY2(refused.second.trimmed().endsWith("4 - Not confirmed"), refused.second.constData());
    QVERIFY(!QFileInfo::exists(right.path() + "/etc"));

    const auto done = run({ "--confirm" });
    QVERIFY2(done.second.contains("verdict: "), done.second.constData());
    QVERIFY2(done.second.trimmed().endsWith("0 - Cloning was successful."), done.second.constData());
    QCOMPARE(done.first, 0);
    QFile copied(right.path() + "/etc/deep/file");
    QVERIFY(copied.open(QIODevice::ReadOnly));
    QCOMPARE(copied.readAll(), QByteArray("content"));
    QVERIFY(QFileInfo(right.path() + "/etc/link").isSymLink());
}

// About 2,000 files with odd names, hard links, symbolic links and extended attributes, from an
// ext4 volume to a btrfs volume by a project with administrator rights: the copy is byte-exact,
// the links are kept and nothing in a name is ever run.
void TestSyncDestinations::treeFromExt4ToBtrfs()
{
    KV_REQUIRE_ROOT();
    TestVolume left, right;
    QVERIFY2(left.make(LoopImage::FsType::Ext4, 128), qPrintable(left.error()));
    QVERIFY2(right.make(LoopImage::FsType::Btrfs), qPrintable(right.error()));
    const QByteArray src = QFile::encodeName(left.path() + "/tree");
    const QByteArray dst = QFile::encodeName(right.path() + "/copy");
    QVERIFY(::mkdir(src.constData(), 0755) == 0 && ::mkdir(dst.constData(), 0755) == 0);
    const std::vector<std::string> names = TempTree::oddNames();
    int files = 0;
    for (int d = 0; files < 2000; ++d) {
        const std::string folder = std::string(src.constData()) + "/d" + std::to_string(d) + (d % 2 ? " $(touch kv-pwned)" : "");
        QVERIFY(::mkdir(folder.c_str(), 0755) == 0);
        for (const std::string& name : names) {
            const std::string path = folder + "/" + name;
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            QVERIFY2(fd >= 0, path.c_str());
            const std::string content = name + std::to_string(d);
            QVERIFY(::write(fd, content.data(), content.size()) == ssize_t(content.size()));
            ::close(fd);
            ++files;
        }
    }
    const std::string first = std::string(src.constData()) + "/d0/" + names.front();
    QVERIFY(::link(first.c_str(), (std::string(src.constData()) + "/hard").c_str()) == 0);
    QVERIFY(::symlink("d0", (std::string(src.constData()) + "/link").c_str()) == 0);
    QVERIFY(::setxattr(first.c_str(), "user.kv", "value", 5, 0) == 0);
    IVolumeBase::shared().fill();
    QTRY_VERIFY_WITH_TIMEOUT(IVolumeBase::shared().isBaseFilled(), 10000);
    TempTree tree(QStringLiteral("synctree"));
    {
        ISynchronContainer list(std::make_unique<FakeSyncRunController>(), tree.path());
        list.reInit();
        auto p = list.createNewSynchron(QStringLiteral("Tree"), 0);
        p->setUseAdminPrivileges(true);
        p->setFirstFolder(QFile::decodeName(src));
        p->setSecondFolder(QFile::decodeName(dst));
        QVERIFY(list.save());
    }
    QProcess p;
    p.setWorkingDirectory(tree.path());
    p.start(KvTest::appContentsDir() + QStringLiteral("/MacOS/kv-run-project"),
        { "--workspace", tree.path(), "--kit", "sync", "--project", "Tree", "--timeout", "240" });
    QVERIFY(p.waitForFinished(300000));
    const QByteArray out = p.readAllStandardOutput();
    QVERIFY2(out.trimmed().endsWith("0 - Synchronization was successful."), QByteArray(out + p.readAllStandardError()).constData());
    QVERIFY(!QFileInfo::exists(tree.path() + QStringLiteral("/kv-pwned")));
    Subprocess::Options diff;
    diff.program = QStringLiteral("diff");
    diff.arguments = QStringList { "-r", "--no-dereference", QFile::decodeName(src), QFile::decodeName(dst) };
    const Subprocess::Result d = Subprocess::run(diff, 120000);
    QVERIFY2(d.succeeded(), QByteArray(d.out + d.err).left(2000).constData());
    struct stat a {}, b {};
    QVERIFY(::lstat((std::string(dst.constData()) + "/hard").c_str(), &a) == 0);
    QVERIFY(::lstat((std::string(dst.constData()) + "/d0/" + names.front()).c_str(), &b) == 0);
    QCOMPARE(a.st_ino, b.st_ino);
    QVERIFY(S_ISLNK((::lstat((std::string(dst.constData()) + "/link").c_str(), &a), a.st_mode)));
    char value[16] = {};
    QCOMPARE(::getxattr((std::string(dst.constData()) + "/d0/" + names.front()).c_str(), "user.kv", value, sizeof value),
        ssize_t(5));
    QCOMPARE(QByteArray(value), QByteArray("value"));
}

// --mount-check PATH: the projects bound to the mounted volume that ask to run on its mount are
// queued, synchronizations first; a clone runs only in a check that queued no synchronization;
// a volume no project is bound to finds nothing due.
void TestSyncDestinations::mountCheckRunsTheProjectsOfTheVolume()
{
    KV_REQUIRE_ROOT();
    TestVolume mounted, other;
    QVERIFY2(mounted.make(LoopImage::FsType::Ext4), qPrintable(mounted.error()));
    QVERIFY2(other.make(LoopImage::FsType::Ext4), qPrintable(other.error()));
    const QString V = mounted.path(), O = other.path();
    for (const QString& folder : QStringList { V + "/left", V + "/right", V + "/a", V + "/b", V + "/src", O + "/dst" })
        QVERIFY(QDir().mkpath(folder));
    for (const QString& file : QStringList { V + "/left/l.txt", V + "/a/a.txt", V + "/src/s.txt" }) {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write("x") == 1);
    }
    IVolumeBase::shared().fill();
    QTRY_VERIFY_WITH_TIMEOUT(IVolumeBase::shared().isBaseFilled(), 10000);
    TempTree tree(QStringLiteral("mountcheck"));
    auto writeList = [&](bool syncOnMount) {
        ISynchronContainer list(std::make_unique<FakeSyncRunController>(), tree.path());
        list.reInit();
        auto add = [&list](const QString& name, int type, const QString& first, const QString& second, bool onMount) {
            std::shared_ptr<ISynchron> p;
            for (const auto& q : list.listByType(type))
                if (q->name() == name)
                    p = q;
            if (!p)
                p = list.createNewSynchron(name, type);
            p->setFirstFolder(first);
            p->setSecondFolder(second);
            p->setProcessOnMount(onMount);
        };
        add(QStringLiteral("On mount"), 0, V + "/left", V + "/right", syncOnMount);
        add(QStringLiteral("Not asked"), 0, V + "/a", V + "/b", false);
        add(QStringLiteral("Copy"), 1, V + "/src", O + "/dst", true);
        return list.save();
    };
    QVERIFY(writeList(true));
    auto check = [&tree](const QString& kit, const QString& path) {
        QProcess p;
        p.start(KvTest::appContentsDir() + QStringLiteral("/MacOS/kv-run-project"),
            { "--workspace", tree.path(), "--kit", kit, "--mount-check", path, "--timeout", "120" });
        p.waitForFinished(180000);
        const QByteArray out = p.readAllStandardOutput();
        // The run lines and the last line, with the log behind them for a failure's message.
        return qMakePair(p.exitCode(), QByteArray(out.trimmed() + "\n---\n" + p.readAllStandardError()));
    };

    // The synchronization of the volume that asks for it, whichever kit names the container.
    const auto first = check(QStringLiteral("clone"), V);
    QVERIFY2(first.second.contains("run\t0\t-\tsync\tOn mount\tSynchronization was successful.\n"),
        first.second.constData());
    QVERIFY2(first.second.contains("\n0 1 runs\n---\n"), first.second.constData());
    QCOMPARE(first.first, 0);
    QVERIFY(QFileInfo::exists(V + "/right/l.txt"));
    QVERIFY(!QFileInfo::exists(V + "/b/a.txt"));
    QVERIFY(!QFileInfo::exists(O + "/dst/s.txt"));

    // No synchronization due: the clone runs (its destination volume was not the one mounted).
    QVERIFY(writeList(false));
    const auto second = check(QStringLiteral("sync"), V);
    QVERIFY2(second.second.contains("run\t0\t-\tclone\tCopy\tCloning was successful.\n"), second.second.constData());
    QVERIFY2(second.second.contains("\n0 1 runs\n---\n"), second.second.constData());
    QCOMPARE(second.first, 0);
    QVERIFY(QFileInfo::exists(O + "/dst/s.txt"));
    QVERIFY(!QFileInfo::exists(V + "/b/a.txt"));

    // A path on a volume no project is bound to.
    const auto third = check(QStringLiteral("sync"), tree.path());
    QVERIFY2(third.second.startsWith("5 0 nothing due\n---\n"), third.second.constData());
    QCOMPARE(third.first, 5);
}

QTEST_MAIN(TestSyncDestinations)
#include "tst_syncdestinations.moc"
