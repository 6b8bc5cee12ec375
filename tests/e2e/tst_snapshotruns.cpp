// kv-test: labels=root timeout=600 fixtures=kv_loop_cleanup serial

// Snapshot-backup runs end to end through the headless driver, with real rsync and
// loop-mounted destinations: versions and their hard links, a tree of odd names copied exactly,
// a full destination, a stop, thinning, and destinations that must be refused.

#include "E2eWorkspace.h"
#include "TempTree.h"

#include <QFile>
#include <QMutex>
#include <QRandomGenerator>
#include <QtTest>
#include <csignal>
#include <fcntl.h>
#include <map>
#include <sys/time.h>
#include <unistd.h>

using namespace E2e;

namespace {

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray randomBytes(qsizetype size)
{
    QByteArray b(size, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(b.data()), size / 4);
    return b;
}

ino_t inodeOf(const QString& path)
{
    struct stat st = {};
    return statPath(path, &st) ? st.st_ino : 0;
}

// One entry of a tree as the comparison sees it.
struct Node
{
    mode_t mode = 0;
    qint64 mtime = 0;
    QByteArray content; // file bytes or link target
    QString linkGroup; // first path of the hard-link group (regular files with nlink > 1)
    bool operator==(const Node& o) const
    {
        return mode == o.mode && mtime == o.mtime && content == o.content && linkGroup == o.linkGroup;
    }
};

// Every entry below root by its relative byte path: type and mode bits, modification time (of
// everything but symlinks), contents, link targets and which files are hard links of each other.
std::map<std::string, Node> treeOf(const std::string& root)
{
    std::map<std::string, Node> nodes;
    std::map<ino_t, std::string> firstOfInode;
    std::vector<std::string> pending { std::string() };
    while (!pending.empty()) {
        const std::string rel = pending.back();
        pending.pop_back();
        const std::string dir = rel.empty() ? root : root + "/" + rel;
        DIR* d = ::opendir(dir.c_str());
        if (!d)
            continue;
        std::vector<std::string> names;
        while (dirent* e = ::readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names.push_back(e->d_name);
        ::closedir(d);
        for (const std::string& name : names) {
            const std::string r = rel.empty() ? name : rel + "/" + name;
            const std::string full = root + "/" + r;
            struct stat st = {};
            if (::lstat(full.c_str(), &st) != 0)
                continue;
            Node n;
            n.mode = st.st_mode;
            if (S_ISLNK(st.st_mode)) {
                char buf[4096];
                const ssize_t len = ::readlink(full.c_str(), buf, sizeof buf);
                n.content = QByteArray(buf, len > 0 ? len : 0);
            } else {
                n.mtime = st.st_mtime;
            }
            if (S_ISREG(st.st_mode)) {
                n.content = fileBytes(NameCodec::decode(full));
                if (st.st_nlink > 1) {
                    auto [it, fresh] = firstOfInode.emplace(st.st_ino, r);
                    n.linkGroup = NameCodec::decode(it->second);
                }
            }
            if (S_ISDIR(st.st_mode))
                pending.push_back(r);
            nodes[r] = n;
        }
    }
    return nodes;
}

void setMtime(const std::string& path, time_t when)
{
    struct timeval tv[2] = { { when, 0 }, { when, 0 } };
    ::lutimes(path.c_str(), tv);
}

} // namespace

class TestSnapshotRuns : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void twoRunsShareUnchangedFiles_data();
    void twoRunsShareUnchangedFiles();
    void oddNamesCopiedExactly();
    void fullDestinationFailsAndKeepsTheList();
    void stopEndsRsyncAndKeepsVersions_data();
    void stopEndsRsyncAndKeepsVersions();
    void thinningKeepsTheTwoNewest();
    void unmountedDestinationRefused();
    void sourceHoldingTheDestination_data();
    void sourceHoldingTheDestination();
};

void TestSnapshotRuns::twoRunsShareUnchangedFiles_data()
{
    QTest::addColumn<int>("fs");
    QTest::newRow("ext4") << int(LoopImage::FsType::Ext4);
    QTest::newRow("btrfs") << int(LoopImage::FsType::Btrfs);
}

// Two runs give two dated versions, both in the version list; an unchanged file of the second
// version is the same inode as in the first, a changed one is not.
void TestSnapshotRuns::twoRunsShareUnchangedFiles()
{
    KV_REQUIRE_ROOT();
    QFETCH(int, fs);
    TestVolume volume;
    QVERIFY2(volume.make(LoopImage::FsType(fs), fs == int(LoopImage::FsType::Btrfs) ? 200 : 64),
        qPrintable(volume.error()));
    TempTree tree(QStringLiteral("runs"));
    QVERIFY(put(tree, "Docs/same.txt", "unchanged"));
    QVERIFY(put(tree, "Docs/sub/changing.txt", "first"));
    QVERIFY(put(tree, "Pics/a.jpg", randomBytes(4096)));

    ProjectPlan plan;
    plan.sources = { tree.filePath(std::string("Docs")), tree.filePath(std::string("Pics")) };
    plan.destination = volume.path() + "/Backups";
    QVERIFY(QDir().mkpath(plan.destination));
    const QString ws = tree.filePath(std::string("ws"));
    QVERIFY(writeWorkspace(ws, { projectDict(plan) }));

    const DriverRun first = runProject(ws, plan.name);
    QVERIFY2(first.exitCode == 0, first.log.constData());
    QVERIFY(put(tree, "Docs/sub/changing.txt", "second, longer"));
    const DriverRun second = runProject(ws, plan.name);
    QVERIFY2(second.exitCode == 0, second.log.constData());

    const QString folder = projectFolder(plan);
    QCOMPARE(versionFolders(folder), (QStringList { first.version, second.version }));
    QCOMPARE(infoFolders(folder), (QStringList { first.version, second.version }));
    const QVariantMap info = readInfo(folder);
    QCOMPARE(info.value("ProjectUUID").toString(), plan.uuid);
    QCOMPARE(info.value("LastFolder").toString(), second.version);
    const QVariantList locations
        = info.value("ProcessDataArray").toList().last().toMap().value("Locations").toList();
    QCOMPARE(locations.size(), 2);
    QCOMPARE(locations.at(0).toMap().value("ArchiveName").toString(), QStringLiteral("Docs.wrp1"));
    QCOMPARE(locations.at(1).toMap().value("ArchiveName").toString(), QStringLiteral("Pics.wrp2"));
    QVERIFY(locations.at(0).toMap().value("IsFolder").toBool());

    const QString v1 = folder + "/" + first.version, v2 = folder + "/" + second.version;
    QCOMPARE(fileBytes(v2 + "/Docs.wrp1/Docs/sub/changing.txt"), QByteArray("second, longer"));
    QCOMPARE(fileBytes(v1 + "/Docs.wrp1/Docs/sub/changing.txt"), QByteArray("first"));
    QVERIFY(inodeOf(v1 + "/Docs.wrp1/Docs/same.txt") != 0);
    QCOMPARE(inodeOf(v2 + "/Docs.wrp1/Docs/same.txt"), inodeOf(v1 + "/Docs.wrp1/Docs/same.txt"));
    QCOMPARE(inodeOf(v2 + "/Pics.wrp2/Pics/a.jpg"), inodeOf(v1 + "/Pics.wrp2/Pics/a.jpg"));
    QVERIFY(
        inodeOf(v2 + "/Docs.wrp1/Docs/sub/changing.txt") != inodeOf(v1 + "/Docs.wrp1/Docs/sub/changing.txt"));
}

// Names that break careless code, symlinks, hard links inside the tree, modes and times arrive
// exactly as they are in the source.
void TestSnapshotRuns::oddNamesCopiedExactly()
{
    KV_REQUIRE_ROOT();
    TestVolume volume;
    QVERIFY2(volume.make(LoopImage::FsType::Ext4, 64), qPrintable(volume.error()));
    TempTree tree(QStringLiteral("odd"));
    const std::vector<std::string> names = tree.makeOddFiles("Odd");
    QVERIFY(!names.empty());
    QVERIFY(tree.mkdir("Odd/" + names.front() + ".d", 0700));
    QVERIFY(put(tree, "Odd/" + names.front() + ".d/inner", "x", 0600));
    QVERIFY(put(tree, "Odd/script.sh", "#!/bin/sh\n", 0755));
    QVERIFY(put(tree, "Odd/readonly", "r", 0444));
    QVERIFY(tree.symlink(names.back(), "Odd/link to odd"));
    QVERIFY(tree.symlink("/nowhere/at all", "Odd/dangling"));
    QVERIFY(tree.hardlink("Odd/script.sh", "Odd/" + names.front() + ".d/hard"));
    setMtime(tree.filePathStd("Odd/script.sh"), 1500000000);
    setMtime(tree.filePathStd("Odd/" + names.front() + ".d"), 1400000000);

    ProjectPlan plan;
    plan.name = QStringLiteral("Odd project");
    // With administrator rights: a run without them passes --fake-super, which keeps symlinks
    // and restricted modes as plain files plus an attribute that a restore turns back.
    plan.admin = true;
    plan.sources = { tree.filePath(std::string("Odd")) };
    plan.destination = volume.path();
    const QString ws = tree.filePath(std::string("ws"));
    QVERIFY(writeWorkspace(ws, { projectDict(plan) }));

    const DriverRun run = runProject(ws, plan.name);
    QVERIFY2(run.exitCode == 0, run.log.constData());
    const std::string copy = NameCodec::encodeStd(projectFolder(plan) + "/" + run.version + "/Odd.wrp1/Odd");
    const auto expected = treeOf(tree.filePathStd("Odd"));
    const auto actual = treeOf(copy);
    QCOMPARE(actual.size(), expected.size());
    for (const auto& [path, node] : expected) {
        const auto it = actual.find(path);
        QVERIFY2(it != actual.end(), path.c_str());
        const Node& got = it->second;
        QVERIFY2(got == node,
            qPrintable(QStringLiteral("%1: mode %2/%3 mtime %4/%5 content \"%6\"/\"%7\" link \"%8\"/\"%9\"")
                           .arg(NameCodec::decode(path))
                           .arg(got.mode, 0, 8)
                           .arg(node.mode, 0, 8)
                           .arg(got.mtime)
                           .arg(node.mtime)
                           .arg(QString::fromUtf8(got.content.left(40)),
                               QString::fromUtf8(node.content.left(40)), got.linkGroup, node.linkGroup)));
    }
}

// A destination too small for the run: the run fails, the version folders and the version list
// stay exactly as they were.
void TestSnapshotRuns::fullDestinationFailsAndKeepsTheList()
{
    KV_REQUIRE_ROOT();
    TestVolume volume;
    QVERIFY2(volume.make(LoopImage::FsType::Ext4, 16), qPrintable(volume.error()));
    TempTree tree(QStringLiteral("full"));
    QVERIFY(put(tree, "Data/small.txt", "small"));
    ProjectPlan plan;
    plan.name = QStringLiteral("Data");
    plan.sources = { tree.filePath(std::string("Data")) };
    plan.destination = volume.path();
    const QString ws = tree.filePath(std::string("ws"));
    QVERIFY(writeWorkspace(ws, { projectDict(plan) }));
    const DriverRun first = runProject(ws, plan.name);
    QVERIFY2(first.exitCode == 0, first.log.constData());

    const QString folder = projectFolder(plan);
    const QByteArray infoBefore = fileBytes(folder + "/qv3info.plist");
    QVERIFY(!infoBefore.isEmpty());
    QVERIFY(put(tree, "Data/big.bin", randomBytes(40 * 1024 * 1024)));
    const DriverRun second = runProject(ws, plan.name);
    QCOMPARE(second.exitCode, 1);
    QCOMPARE(second.version, QStringLiteral("-"));
    QVERIFY2(second.status.contains(QLatin1String("failed")), qPrintable(second.lastLine));
    QCOMPARE(versionFolders(folder), QStringList { first.version });
    QCOMPARE(fileBytes(folder + "/qv3info.plist"), infoBefore);
    QCOMPARE(fileBytes(folder + "/" + first.version + "/Data.wrp1/Data/small.txt"), QByteArray("small"));
}

void TestSnapshotRuns::stopEndsRsyncAndKeepsVersions_data()
{
    QTest::addColumn<bool>("byTimeout");
    QTest::newRow("SIGTERM") << false;
    QTest::newRow("--timeout") << true;
}

// A stop while rsync copies (SIGTERM to the driver, or its --timeout) is the user's stop: rsync
// ends, no version is made, the earlier version and the list stay, and the next run succeeds.
void TestSnapshotRuns::stopEndsRsyncAndKeepsVersions()
{
    KV_REQUIRE_ROOT();
    QFETCH(bool, byTimeout);
    TestVolume volume;
    QVERIFY2(volume.make(LoopImage::FsType::Ext4, 128), qPrintable(volume.error()));
    TempTree tree(QStringLiteral("stop"));
    QVERIFY(put(tree, "Work/keep.txt", "kept"));
    ProjectPlan plan;
    plan.name = QStringLiteral("Work");
    plan.sources = { tree.filePath(std::string("Work")) };
    plan.destination = volume.path();
    const QString ws = tree.filePath(std::string("ws"));
    QVERIFY(writeWorkspace(ws, { projectDict(plan) }));
    const DriverRun first = runProject(ws, plan.name);
    QVERIFY2(first.exitCode == 0, first.log.constData());
    const QString folder = projectFolder(plan);
    const QByteArray infoBefore = fileBytes(folder + "/qv3info.plist");

    QVERIFY(put(tree, "Work/large.bin", randomBytes(32 * 1024 * 1024)));
    Subprocess driver;
    QMutex mutex;
    QByteArray out, err;
    driver.setStdoutHandler([&](const char* d, size_t n) {
        QMutexLocker lock(&mutex);
        out.append(d, qsizetype(n));
    });
    driver.setStderrHandler([&](const char* d, size_t n) {
        QMutexLocker lock(&mutex);
        err.append(d, qsizetype(n));
    });
    auto errText = [&] {
        QMutexLocker lock(&mutex);
        return err;
    };
    QStringList args { "--workspace", ws, "--project", plan.name };
    if (byTimeout)
        args << "--timeout"
             << "1";
    QString error;
    QVERIFY2(driver.start(driverOptions(args), &error), qPrintable(error));
    // Catch rsync while it runs and hold it until the driver has taken the stop, so the stop
    // surely meets a running copy.
    pid_t rsync = 0;
    QElapsedTimer clock;
    clock.start();
    while (!(rsync = descendantNamed(driver.pid(), QStringLiteral("rsync3"))) && clock.elapsed() < 60000
        && driver.isRunning())
        QThread::usleep(1000);
    QVERIFY2(rsync > 0, errText().constData());
    ::kill(rsync, SIGSTOP);
    if (!byTimeout)
        ::kill(driver.pid(), SIGTERM);
    clock.restart();
    while (!errText().contains("stop requested") && clock.elapsed() < 30000)
        QThread::usleep(2000);
    ::kill(rsync, SIGCONT);
    QVERIFY2(errText().contains(byTimeout ? "stop requested (timeout" : "stop requested (SIGTERM)"),
        errText().constData());
    QVERIFY(driver.waitForFinished(60000));
    QCOMPARE(driver.exitCode(), 4);
    QVERIFY2(out.trimmed().split('\n').last().startsWith("4 - "), out.constData());
    QVERIFY(!isProcessAlive(rsync));
    QCOMPARE(versionFolders(folder), QStringList { first.version });
    QCOMPARE(fileBytes(folder + "/qv3info.plist"), infoBefore);
    QCOMPARE(fileBytes(folder + "/" + first.version + "/Work.wrp1/Work/keep.txt"), QByteArray("kept"));
    QVERIFY(QFileInfo(folder + "/QV3ProcessTemporaryFolder").isDir());

    const DriverRun next = runProject(ws, plan.name);
    QVERIFY2(next.exitCode == 0, next.log.constData());
    QCOMPARE(versionFolders(folder), (QStringList { first.version, next.version }));
    QCOMPARE(inodeOf(folder + "/" + next.version + "/Work.wrp1/Work/keep.txt"),
        inodeOf(folder + "/" + first.version + "/Work.wrp1/Work/keep.txt"));
}

// Keep 2: after the third run the two newest versions remain, in the folder and in the list, and
// a file they share with the deleted version is still there.
void TestSnapshotRuns::thinningKeepsTheTwoNewest()
{
    KV_REQUIRE_ROOT();
    TestVolume volume;
    QVERIFY2(volume.make(LoopImage::FsType::Ext4, 64), qPrintable(volume.error()));
    TempTree tree(QStringLiteral("thin"));
    QVERIFY(put(tree, "Notes/stable.txt", "stable"));
    ProjectPlan plan;
    plan.name = QStringLiteral("Notes");
    plan.sources = { tree.filePath(std::string("Notes")) };
    plan.destination = volume.path();
    plan.keep = 2;
    const QString ws = tree.filePath(std::string("ws"));
    QVERIFY(writeWorkspace(ws, { projectDict(plan) }));

    QStringList made;
    for (int i = 0; i < 3; ++i) {
        QVERIFY(put(tree, "Notes/run.txt", QByteArray::number(i)));
        const DriverRun run = runProject(ws, plan.name);
        QVERIFY2(run.exitCode == 0, run.log.constData());
        made << run.version;
    }
    const QString folder = projectFolder(plan);
    const QStringList newest { made.at(1), made.at(2) };
    QCOMPARE(versionFolders(folder), newest);
    QCOMPARE(infoFolders(folder), newest);
    struct stat st = {};
    QVERIFY(statPath(folder + "/" + made.at(2) + "/Notes.wrp1/Notes/stable.txt", &st));
    QCOMPARE(st.st_nlink, nlink_t(2));
    QCOMPARE(fileBytes(folder + "/" + made.at(1) + "/Notes.wrp1/Notes/stable.txt"), QByteArray("stable"));
}

// A destination whose volume is not mounted leaves only its empty mount point on the root file
// system: the run is refused with a clear message and nothing is written there.
void TestSnapshotRuns::unmountedDestinationRefused()
{
    KV_REQUIRE_ROOT();
    TestVolume volume;
    QVERIFY2(volume.make(LoopImage::FsType::Ext4, 32), qPrintable(volume.error()));
    TempTree tree(QStringLiteral("unmounted"));
    QVERIFY(put(tree, "Src/a.txt", "a"));
    ProjectPlan plan;
    plan.name = QStringLiteral("Away");
    plan.sources = { tree.filePath(std::string("Src")) };
    plan.destination = volume.path();
    QVariantMap project = projectDict(plan);
    // The stored place names the volume by its UUID, as a user's choice of it does.
    QString uuid;
    QVERIFY(LoopImage::runTool("blkid", { "-s", "UUID", "-o", "value", volume.device() }, &uuid));
    QVariantMap dest = project.value("Destination").toMap();
    dest.insert("VolumeUUID", uuid.trimmed().toUpper());
    project.insert("Destination", dest);
    const QString ws = tree.filePath(std::string("ws"));
    QVERIFY(writeWorkspace(ws, { project }));
    const QString mountPoint = volume.path();
    QVERIFY(volume.unmount());
    QVERIFY(QFileInfo(mountPoint).isDir());

    for (const QStringList& extra : { QStringList { "--scheduled" }, QStringList() }) {
        const DriverRun run = runProject(ws, plan.name, extra);
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.version, QStringLiteral("-"));
        QVERIFY2(QString::fromUtf8(run.err).contains(QLatin1String("is not active")), run.err.constData());
        // Only a user start waits for the volume; the driver answers the wait with Cancel.
        QCOMPARE(QString::fromUtf8(run.err).contains(QLatin1String("prompt: Waiting for volume")),
            extra.isEmpty());
        QCOMPARE(entries(mountPoint), QStringList());
    }
}

void TestSnapshotRuns::sourceHoldingTheDestination_data()
{
    QTest::addColumn<QString>("source");
    QTest::newRow("source is the destination folder") << QString();
    QTest::newRow("source inside the destination folder") << QStringLiteral("/inner");
}

// A source that is, or lies inside, the destination folder: the versions never copy the project
// folder into themselves, and the earlier version stays intact.
void TestSnapshotRuns::sourceHoldingTheDestination()
{
    KV_REQUIRE_ROOT();
    QFETCH(QString, source);
    TestVolume volume;
    QVERIFY2(volume.make(LoopImage::FsType::Ext4, 64), qPrintable(volume.error()));
    const QString dest = volume.path() + "/Place";
    QVERIFY(QDir().mkpath(dest + "/inner"));
    QFile f(dest + "/inner/file.txt");
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write("content") == 7);
    f.close();
    TempTree tree(QStringLiteral("inside"));
    ProjectPlan plan;
    plan.name = QStringLiteral("Self");
    plan.sources = { dest + source };
    plan.destination = dest;
    const QString ws = tree.filePath(std::string("ws"));
    QVERIFY(writeWorkspace(ws, { projectDict(plan) }));

    const DriverRun first = runProject(ws, plan.name);
    QVERIFY2(first.exitCode == 0, first.log.constData());
    const DriverRun second = runProject(ws, plan.name);
    QVERIFY2(second.exitCode == 0, second.log.constData());
    const QString folder = projectFolder(plan);
    QCOMPARE(versionFolders(folder), (QStringList { first.version, second.version }));
    const QString wrapper = source.isEmpty() ? "/Place.wrp1/Place" : "/inner.wrp1/inner";
    for (const QString& v : { first.version, second.version }) {
        const QString copy = folder + "/" + v + wrapper;
        QCOMPARE(
            fileBytes(copy + (source.isEmpty() ? "/inner/file.txt" : "/file.txt")), QByteArray("content"));
        QVERIFY2(!QFileInfo::exists(copy + "/" + QFileInfo(folder).fileName()), qPrintable(copy));
    }
}

QTEST_GUILESS_MAIN(TestSnapshotRuns)
#include "tst_snapshotruns.moc"
