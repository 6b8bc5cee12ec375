// kv-test: labels=root timeout=600 fixtures=kv_loop_cleanup serial

// A bootable clone between two btrfs volumes through kv-run-project --kit clone: the source is a
// registered volume in no volume group (so the clone is rsync's, not the copy engine's) holding a
// system's folders; the destination is a registered volume on a partition of a GPT disk, so it
// can start a computer. The boot steps run for real around the copy.

#include "../e2e/E2eWorkspace.h"
#include "FakeSyncRunController.h"
#include "KvTest.h"
#include "LoopImage.h"
#include "ScopedMount.h"
#include "TempTree.h"
#include "platform/BtrfsVolumeModel.h"
#include "platform/BtrfsVolumeRegistry.h"
#include "platform/PlistBridge.h"
#include "sync/ISynchron.h"
#include "sync/ISynchronContainer.h"
#include "utilities/IVolumeBase.h"

#include <QDir>
#include <QtTest>
#include <fcntl.h>
#include <tuple>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

QString freshMountFolder()
{
    char folder[] = "/mnt/qvtest-XXXXXX";
    return ::mkdtemp(folder) ? QString::fromLatin1(folder) : QString();
}

// A subvolume made below a mounted top level, registered under a name and a role, and mounted
// on a folder of its own.
bool registerVolume(const QString& top, const QString& name, const QString& role, ScopedMount& mount,
    const QString& device, QString* error)
{
    const BtrfsStatus made = BtrfsVolumeModel::createSubvolume(top + QLatin1Char('/') + name);
    if (!made.ok()) {
        *error = made.message;
        return false;
    }
    const auto id = BtrfsVolumeModel::subvolumeId(top + QLatin1Char('/') + name);
    if (!id) {
        *error = QStringLiteral("no subvolume id");
        return false;
    }
    BtrfsVolumeRegistry registry;
    registry.setEntry(*id, { name, role, QString(), QString() });
    if (!registry.save(top, error))
        return false;
    if (!mount.mount({ QStringLiteral("-t"), QStringLiteral("btrfs"), QStringLiteral("-o"),
                         QStringLiteral("subvolid=%1").arg(*id), device },
            freshMountFolder())) {
        *error = mount.errorString();
        return false;
    }
    return true;
}

// A file with its content (parents made).
bool put(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
}

QByteArray systemVersionPlist(const QString& version)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
           "\t<key>ProductName</key>\n\t<string>macOS</string>\n"
           "\t<key>ProductVersion</key>\n\t<string>"
        + version.toUtf8() + "</string>\n</dict>\n</plist>\n";
}

} // namespace

class TestBootableClone : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void systemVolumeOntoAPartitionOfAGptDisk();
};

void TestBootableClone::systemVolumeOntoAPartitionOfAGptDisk()
{
    KV_REQUIRE_ROOT();
    QString error;
    // The source file system, its top level mounted by the image, its volume on a folder of its own.
    LoopImage sourceImage;
    QVERIFY2(sourceImage.make(LoopImage::FsType::Btrfs, 512), qPrintable(sourceImage.errorString()));
    // The destination disk: a GPT table with one partition holding btrfs.
    LoopImage destinationImage;
    QVERIFY2(destinationImage.createImage(LoopImage::FsType::Btrfs, 512), qPrintable(destinationImage.errorString()));
    QString out;
    QVERIFY2(LoopImage::runTool(QStringLiteral("sgdisk"),
                 { "-o", "-n", "1:2048:0", "-t", "1:8300", destinationImage.imagePath() }, &out),
        qPrintable(out));
    QVERIFY(destinationImage.attach());
    auto dropPartitions = qScopeGuard([&destinationImage] {
        LoopImage::runTool(QStringLiteral("partx"), { "-d", destinationImage.device() });
    });
    LoopImage::runTool(QStringLiteral("partx"), { "-a", destinationImage.device() }, &out);
    const QString partition = destinationImage.device() + QStringLiteral("p1");
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(partition), 5000);
    QVERIFY2(LoopImage::runTool(QStringLiteral("mkfs.btrfs"), { "-q", "-f", partition }, &out), qPrintable(out));
    // Mounts go before the partitions and the images (declared after them).
    ScopedMount destinationTop, destination, source;
    QVERIFY2(destinationTop.mount({ "-t", "btrfs", partition }, freshMountFolder()),
        qPrintable(destinationTop.errorString()));
    QVERIFY2(registerVolume(destinationTop.dir(), QStringLiteral("Clone"), QString(), destination, partition, &error),
        qPrintable(error));
    // First registered as a System volume without its Data partner: the check refuses the clone.
    QVERIFY2(registerVolume(sourceImage.mountPoint(), QStringLiteral("Mac"), QStringLiteral("System"), source,
                 sourceImage.device(), &error),
        qPrintable(error));

    // A system's folders and version, a shared library folder, links, attributes and a snapshot.
    const QString S = source.dir(), D = destination.dir();
    for (const char* folder : { "bin", "private", "Library", "Users", "sbin", "usr/lib", "var" })
        QVERIFY(QDir().mkpath(S + QLatin1Char('/') + QLatin1String(folder)));
    QVERIFY(put(S + "/System/Library/CoreServices/SystemVersion.plist", systemVersionPlist("10.15.7")));
    QVERIFY(QDir().mkpath(S + "/etc"));
    QVERIFY(put(S + "/Users/me/notes 'quoted' $(touch kv-pwned).txt", "notes"));
    QVERIFY(::link(QFile::encodeName(S + "/Users/me/notes 'quoted' $(touch kv-pwned).txt").constData(),
                QFile::encodeName(S + "/Users/me/hard").constData())
        == 0);
    QVERIFY(QFile::link(QStringLiteral("me/hard"), S + "/Users/link"));
    QVERIFY(::setxattr(QFile::encodeName(S + "/Users/me/hard").constData(), "user.kv", "value", 5, 0) == 0);
    QVERIFY(BtrfsVolumeModel::createSnapshot(S, QStringLiteral("before")).ok());

    IVolumeBase::shared().fill();
    QTRY_VERIFY_WITH_TIMEOUT(IVolumeBase::shared().isBaseFilled(), 10000);
    TempTree tree(QStringLiteral("bootclone"));
    {
        ISynchronContainer list(std::make_unique<FakeSyncRunController>(), tree.path());
        list.reInit();
        auto p = list.createNewSynchron(QStringLiteral("System copy"), 1);
        p->setFirstFolder(S);
        p->setSecondFolder(D);
        QVERIFY(list.save());
        // What makes the clone bootable: a system volume that is not half of a volume group, and
        // a destination volume the computer can start from.
        QVERIFY(!p->isDoubleVolumeClone());
        QVERIFY(list.isCloneWillBeBootable(p.get()));
    }
    auto runClone = [&tree](const QStringList& extra) {
        QProcess p;
        p.setWorkingDirectory(tree.path());
        p.start(E2e::driverPath(),
            QStringList { "--workspace", tree.path(), "--kit", "clone", "--project", "System copy", "--confirm",
                "--timeout", "240" }
                + extra);
        p.waitForFinished(300000);
        return std::make_tuple(p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError());
    };
    const auto [refusedCode, refused, refusedErr] = runClone({});
    QVERIFY2(refused.contains("verdict: Source data volume is inaccessible\n"), refused.constData());
    QVERIFY2(refused.trimmed().endsWith("\n1 - Cloning failed."), refused.constData());
    QCOMPARE(refusedCode, 1);
    QVERIFY(QDir(D).isEmpty());

    // Registered without a role (a volume group would be cloned by the copy engine, not by rsync).
    {
        BtrfsVolumeRegistry registry;
        QCOMPARE(registry.load(sourceImage.mountPoint()), BtrfsVolumeRegistry::Status::Ok);
        const quint64 id = registry.entries().firstKey();
        registry.setEntry(id, { QStringLiteral("Mac"), QString(), QString(), QString() });
        QVERIFY(registry.save(sourceImage.mountPoint()));
    }
    const QString argv = tree.filePath(QStringLiteral("argv"));
    const auto [code, stdOut, stdErr] = runClone({ QStringLiteral("--argv-out"), argv });
    QVERIFY2(stdOut.trimmed().endsWith("\n0 - Cloning was successful."), QByteArray(stdOut + stdErr).constData());
    QCOMPARE(code, 0);

    // The steps, each a job of its own with its process group: the preparer with exactly the two
    // volumes, the boot folder, the copy, the library cache.
    QFile f(argv);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const E2e::ArgvJobs recorded = E2e::readArgvJobs(f.readAll());
    const QList<QStringList>& jobs = recorded.vectors;
    QCOMPARE(jobs.size(), 4);
    QCOMPARE(recorded.jobEnds, 4);
    QCOMPARE(jobs[0], QStringList({ KvTest::appContentsDir() + "/Resources/qv3_apfs_preparer", S, D }));
    QCOMPARE(jobs[1], QStringList({ "/bin/mkdir", "-p", "--", D + "/boot" }));
    QVERIFY(jobs[2].first().endsWith(QLatin1String("/rsync3")));
    QCOMPARE(jobs[2].mid(jobs[2].size() - 2), QStringList({ S + "/", D }));
    QCOMPARE(jobs[3], QStringList({ "/sbin/ldconfig", "-r", D }));
    QCOMPARE(stdErr.count("\npgid: ") + int(stdErr.startsWith("pgid: ")), 4);

    // What the run log and the log window show: the preparer's start and its lines (the source has
    // no accessory volumes to copy, so the preparer fails: a warning, and the copy goes on), the
    // boot loader's warning, the library cache's command.
    QByteArray log = stdErr;
    const QDir logs(tree.filePath(QStringLiteral("Logs")));
    for (const QString& name : logs.entryList(QDir::Files)) {
        QFile file(logs.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            log += file.readAll();
    }
    for (const char* line : { "Start APFS_preparer, path = ", "APFS Accessory volumes preparing: Not completed",
             "Warning: Utility qv3_apfs_preparer failed. Clone will not be bootable",
             "Warning: Utility bless couldn't start. Clone will not be bootable", "command line: sudo /sbin/ldconfig -r ",
             "command line: sudo /bin/mkdir -p -- ", "Cloning was successful" })
        QVERIFY2(log.contains(line), QByteArray(line + QByteArray("\n---\n") + log.right(3000)).constData());
    // btrfs keeps owners: the owners step passes.
    QVERIFY2(!log.contains("vsdbutil"), log.right(3000).constData());

    // The copy: files, hard links, symbolic links and attributes; the snapshots stay behind and
    // nothing in a name ran.
    QVERIFY(QFileInfo(D + "/boot").isDir());
    QVERIFY(QFileInfo(D + "/etc/ld.so.cache").isFile());
    QVERIFY(QFileInfo(D + "/System/Library/CoreServices/SystemVersion.plist").isFile());
    QVERIFY(!QFileInfo::exists(D + "/.qvsnapshots"));
    QVERIFY(!QFileInfo::exists(tree.filePath(QStringLiteral("kv-pwned"))));
    struct stat a {}, b {};
    QVERIFY(::lstat(QFile::encodeName(D + "/Users/me/hard").constData(), &a) == 0);
    QVERIFY(::lstat(QFile::encodeName(D + "/Users/me/notes 'quoted' $(touch kv-pwned).txt").constData(), &b) == 0);
    QCOMPARE(a.st_ino, b.st_ino);
    QCOMPARE(QFileInfo(D + "/Users/link").symLinkTarget(), D + "/Users/me/hard");
    char value[8] = {};
    QCOMPARE(::getxattr(QFile::encodeName(D + "/Users/me/hard").constData(), "user.kv", value, sizeof value),
        ssize_t(5));
    QCOMPARE(QByteArray(value), QByteArray("value"));
    Subprocess::Options diff;
    diff.program = QStringLiteral("diff");
    diff.arguments = QStringList { "-r", "--no-dereference", "--exclude=.qvsnapshots", "--exclude=boot",
        "--exclude=ld.so.cache", S, D };
    const Subprocess::Result d = Subprocess::run(diff, 120000);
    QVERIFY2(d.succeeded(), QByteArray(d.out + d.err).left(2000).constData());
}

QTEST_MAIN(TestBootableClone)
#include "tst_bootableclone.moc"
