// kv-test: labels=unit,root timeout=600 fixtures=kv_loop_cleanup
#include "KvTest.h"
#include "LoopImage.h"
#include "platform/BtrfsVolumeModel.h"
#include "platform/BtrfsVolumeRegistry.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <btrfsutil.h>
#include <cerrno>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString qvsnapPath()
{
    return KvTest::appContentsDir() + QStringLiteral("/Resources/QVSnap.app/Contents/MacOS/QVSnap");
}

struct RunResult
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs a program and waits for it, with a deadline.
RunResult runProgram(const QString& program, const QStringList& arguments, int timeoutMs = 60000)
{
    QProcess process;
    process.start(program, arguments);
    RunResult result;
    if (!process.waitForStarted(10000) || !process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        result.err = "did not run to its end: " + process.errorString().toUtf8();
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

} // namespace

// The snapshot tool: refused parents, operand checks and names, and the whole life of snapshots on
// a loop-mounted btrfs volume, started the way the outside engine starts it.
class TestQVSnap : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir { KvTest::buildDir() + QStringLiteral("/qvsnap-XXXXXX") };
    QString m_parent; // a bash script named like the outside engine
    LoopImage m_image; // released (mounts included) when the test ends, even after a failure
    QString m_loopDevice;
    QString m_top; // mount of the file system's top level
    QString m_volume; // mount of the subvolume "vol"
    QStringList m_mounts;

    // Runs QVSnap with the script "qv_proc" as its parent process.
    RunResult snap(const QStringList& arguments)
    {
        return runProgram(m_parent, QStringList { qvsnapPath() } + arguments);
    }

    bool shell(const QStringList& argv)
    {
        const RunResult r = runProgram(argv.first(), argv.mid(1));
        if (r.exitCode != 0)
            qWarning("%s failed: %s", qPrintable(argv.join(' ')), r.err.constData());
        return r.exitCode == 0;
    }

    bool mountFs(const QStringList& options, const QString& folder)
    {
        QDir().mkpath(folder);
        QStringList argv { QStringLiteral("mount") };
        if (!options.isEmpty())
            argv << QStringLiteral("-o") << options.join(',');
        argv << m_loopDevice << folder;
        if (!shell(argv))
            return false;
        m_mounts.prepend(folder);
        return true;
    }

    bool unmount(const QString& folder)
    {
        if (::umount2(QFile::encodeName(folder).constData(), 0) != 0)
            return false;
        m_mounts.removeAll(folder);
        return true;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(QFile::exists(qvsnapPath()));
        m_parent = m_dir.filePath(QStringLiteral("qv_proc"));
        QVERIFY(writeFile(m_parent, "#!/bin/bash\n\"$@\"\n"));
        QVERIFY(QFile::setPermissions(m_parent,
            QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup
                | QFile::ReadOther | QFile::ExeOther));
    }

    void cleanupTestCase()
    {
        for (const QString& m : std::as_const(m_mounts))
            ::umount2(QFile::encodeName(m).constData(), MNT_DETACH);
        m_image.release();
    }

    // Started by anything but the system's own programs, the tool prints its version, exits -36
    // and touches nothing.
    void refusesOtherParents()
    {
        const QString volume = m_dir.filePath(QStringLiteral("plain"));
        QVERIFY(QDir().mkpath(volume));
        const RunResult direct
            = runProgram(qvsnapPath(), { QStringLiteral("-c"), QStringLiteral("s1"), volume });
        QCOMPARE(direct.exitCode, 220);
        QCOMPARE(direct.out, QByteArray("qv_snap version 1.2\n"));
        QVERIFY(!QFile::exists(volume + QStringLiteral("/.qvsnapshots")));

        const RunResult fromBash = runProgram(QStringLiteral("/bin/bash"),
            { QStringLiteral("-c"), QStringLiteral("\"$0\" -l \"$1\"; exit $?"), qvsnapPath(), volume });
        QCOMPARE(fromBash.exitCode, 220);
        QCOMPARE(fromBash.out, QByteArray("qv_snap version 1.2\n"));

        // From an allowed parent, no option or an unknown one gives the version and 0.
        QCOMPARE(snap({}).exitCode, 0);
        const RunResult unknown = snap({ QStringLiteral("-x") });
        QCOMPARE(unknown.exitCode, 0);
        QCOMPARE(unknown.out, QByteArray("qv_snap version 1.2\n"));
    }

    void badInput_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("error");
        const QString v = QStringLiteral("VOLUME");
        QTest::newRow("-c no volume") << QStringList { "-c", "s1" } << 1 << QByteArray("usage: QVSnap -c");
        QTest::newRow("-c nothing") << QStringList { "-c" } << 1 << QByteArray("usage: QVSnap -c");
        QTest::newRow("-d no volume") << QStringList { "-d", "s1" } << 1 << QByteArray("usage: QVSnap -d");
        QTest::newRow("-r no volume") << QStringList { "-r", "s1" } << 1 << QByteArray("usage: QVSnap -r");
        QTest::newRow("-n two") << QStringList { "-n", "a", v } << 1 << QByteArray("usage: QVSnap -n");
        QTest::newRow("-s two") << QStringList { "-s", "a", v } << 1 << QByteArray("usage: QVSnap -s");
        QTest::newRow("-l none") << QStringList { "-l" } << 1 << QByteArray("usage: QVSnap -l");
        QTest::newRow("-l extra") << QStringList { "-l", v, v } << 1 << QByteArray("usage: QVSnap -l");
        const QByteArray einval = ": Invalid argument\n";
        QTest::newRow("parent path") << QStringList { "-c", "../x", v } << 255
                                     << QByteArray("fs_snapshot_create" + einval);
        QTest::newRow("slash") << QStringList { "-c", "a/b", v } << 255
                               << QByteArray("fs_snapshot_create" + einval);
        QTest::newRow("dot") << QStringList { "-d", ".", v } << 255
                             << QByteArray("fs_snapshot_delete" + einval);
        QTest::newRow("dotdot") << QStringList { "-r", "..", v } << 255
                                << QByteArray("fs_snapshot_revert" + einval);
        QTest::newRow("empty") << QStringList { "-s", "", v, v } << 255
                               << QByteArray("fs_snapshot_mount" + einval);
        QTest::newRow("rename to slash")
            << QStringList { "-n", "a", "x/y", v } << 255 << QByteArray("fs_snapshot_rename" + einval);
        QTest::newRow("256 bytes") << QStringList { "-c", QString(256, QLatin1Char('n')), v } << 255
                                   << QByteArray("fs_snapshot_create" + einval);
    }

    // Missing operands are usage errors; names that are not one path component are refused before
    // anything is opened.
    void badInput()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, error);
        const QString volume = m_dir.filePath(QStringLiteral("input"));
        QVERIFY(QDir().mkpath(volume));
        arguments.replaceInStrings(QStringLiteral("VOLUME"), volume);
        const RunResult r = snap(arguments);
        QCOMPARE(r.exitCode, exitCode);
        QVERIFY2(r.err.startsWith(error), r.err.constData());
        QVERIFY(r.out.isEmpty());
        QVERIFY(!QFile::exists(volume + QStringLiteral("/.qvsnapshots")));
    }

    // A volume that cannot be opened exits 1 with "open"; a folder that is not on btrfs is refused.
    void volumeChecks()
    {
        const RunResult missing = snap({ "-c", "s1", m_dir.filePath(QStringLiteral("missing")) });
        QCOMPARE(missing.exitCode, 1);
        QCOMPARE(missing.err, QByteArray("open: No such file or directory\n"));

        const QString ext4 = m_dir.filePath(QStringLiteral("ext4"));
        QVERIFY(QDir().mkpath(ext4));
        const RunResult notBtrfs = snap({ "-c", "s1", ext4 });
        QCOMPARE(notBtrfs.exitCode, 255);
        QCOMPARE(notBtrfs.err, QByteArray("fs_snapshot_create: Operation not supported\n"));
        QVERIFY(!QFile::exists(ext4 + QStringLiteral("/.qvsnapshots")));
        const RunResult list = snap({ "-l", ext4 });
        QCOMPARE(list.exitCode, 1);
        QVERIFY(list.err.startsWith("fs_snapshot_list"));
    }

    void prepareBtrfsVolume()
    {
        KV_REQUIRE_ROOT();
        QVERIFY2(m_image.make(LoopImage::FsType::Btrfs, 300), qPrintable(m_image.errorString()));
        m_loopDevice = m_image.device();
        m_top = m_image.mountPoint();
        QCOMPARE(int(btrfs_util_create_subvolume(
                     QFile::encodeName(m_top + "/vol").constData(), 0, nullptr, nullptr)),
            int(BTRFS_UTIL_OK));
        m_volume = m_dir.filePath(QStringLiteral("M"));
        QVERIFY(mountFs({ QStringLiteral("subvol=/vol") }, m_volume));
    }

    // Create, list, mount read-only, rename, delete and revert, as the outside engine uses them.
    void snapshotLifecycle()
    {
        KV_REQUIRE_ROOT();
        QVERIFY2(!m_volume.isEmpty(), "no btrfs volume");
        const QString file = m_volume + QStringLiteral("/data.txt");
        QVERIFY(writeFile(file, "old content\n"));

        RunResult r = snap({ "-c", "s1", m_volume });
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.out.isEmpty() && r.err.isEmpty());
        QVERIFY(writeFile(file, "new content\n"));
        QCOMPARE(snap({ "-c", "s1", m_volume }).err, QByteArray("fs_snapshot_create: File exists\n"));

        r = snap({ "-l", m_volume });
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QByteArray("s1\n"));

        // Mounted read-only with the notice; the snapshot holds the old file and refuses writes.
        const QString mountFolder = m_dir.filePath(QStringLiteral("S"));
        QVERIFY(QDir().mkpath(mountFolder));
        r = snap({ "-s", "s1", m_volume, mountFolder });
        QCOMPARE(r.exitCode, 0);
        m_mounts.prepend(mountFolder);
        QCOMPARE(r.out, QByteArray("mount_apfs: snapshot implicitly mounted readonly\n"));
        QCOMPARE(readAll(mountFolder + QStringLiteral("/data.txt")), QByteArray("old content\n"));
        const int fd
            = ::open(QFile::encodeName(mountFolder + "/new.txt").constData(), O_CREAT | O_WRONLY, 0644);
        QCOMPARE(fd, -1);
        QCOMPARE(errno, EROFS);

        // A mounted snapshot is never deleted under its mount.
        r = snap({ "-d", "s1", m_volume });
        QCOMPARE(r.exitCode, 255);
        QCOMPARE(r.err, QByteArray("fs_snapshot_delete: Device or resource busy\n"));
        QVERIFY(unmount(mountFolder));

        QCOMPARE(snap({ "-n", "s1", "s2", m_volume }).exitCode, 0);
        QCOMPARE(snap({ "-l", m_volume }).out, QByteArray("s2\n"));
        QCOMPARE(snap({ "-c", "s3", m_volume }).exitCode, 0);
        QCOMPARE(snap({ "-l", m_volume }).out, QByteArray("s2\ns3\n"));
        QCOMPARE(snap({ "-n", "s2", "s3", m_volume }).err, QByteArray("fs_snapshot_rename: File exists\n"));
        QCOMPARE(snap({ "-d", "s3", m_volume }).exitCode, 0);
        QCOMPARE(snap({ "-l", m_volume }).out, QByteArray("s2\n"));

        r = snap({ "-d", "s3", m_volume });
        QCOMPARE(r.exitCode, 255);
        QCOMPARE(r.err, QByteArray("fs_snapshot_delete: No such file or directory\n"));

        // Revert: the next mount by path shows the snapshot's content; the old subvolume stays
        // with its snapshots, and the volume's registry entry moves to its new subvolume.
        const auto before = BtrfsVolumeModel::subvolumeInfo(m_volume);
        QVERIFY(before);
        BtrfsVolumeRegistry registry;
        registry.setEntry(
            before->id, { QStringLiteral("Mac - Data"), QStringLiteral("Data"), QString(), before->uuid });
        QVERIFY(registry.save(m_top));
        r = snap({ "-r", "s2", m_volume });
        QCOMPARE(r.exitCode, 0);
        const auto after = BtrfsVolumeModel::subvolumeInfo(m_top + QStringLiteral("/vol"));
        QVERIFY(after && after->id != before->id && !after->readOnly);
        QCOMPARE(registry.load(m_top), BtrfsVolumeRegistry::Status::Ok);
        QVERIFY(!registry.contains(before->id));
        QCOMPARE(registry.entry(after->id).role, QStringLiteral("Data"));
        QCOMPARE(registry.entry(after->id).name, QStringLiteral("Mac - Data"));
        QCOMPARE(registry.entry(after->id).uuid, after->uuid);
        QVERIFY(unmount(m_volume));
        QVERIFY(mountFs({ QStringLiteral("subvol=/vol") }, m_volume));
        QCOMPARE(readAll(file), QByteArray("old content\n"));
        QVERIFY(writeFile(file, "writable again\n"));
        QCOMPARE(snap({ "-l", m_volume }).out, QByteArray());
        QCOMPARE(readAll(m_top + QStringLiteral("/vol.qvs-old/data.txt")), QByteArray("new content\n"));
        QCOMPARE(snap({ "-l", m_top + QStringLiteral("/vol.qvs-old") }).out, QByteArray("s2\n"));

        // A second revert keeps the first old subvolume and takes the next free name.
        QCOMPARE(snap({ "-c", "s4", m_volume }).exitCode, 0);
        QCOMPARE(snap({ "-r", "s4", m_volume }).exitCode, 0);
        QVERIFY(QFileInfo(m_top + QStringLiteral("/vol.qvs-old")).isDir());
        QVERIFY(QFileInfo(m_top + QStringLiteral("/vol.qvs-old-2/.qvsnapshots/s4")).isDir());

        // The top level itself cannot be reverted.
        QCOMPARE(snap({ "-c", "t1", m_top }).exitCode, 0);
        r = snap({ "-r", "t1", m_top });
        QCOMPARE(r.exitCode, 255);
        QCOMPARE(r.err, QByteArray("fs_snapshot_revert: Operation not supported\n"));
    }

    // Only read-only subvolumes of the snapshot folder count as snapshots.
    void refusesWhatIsNotASnapshot()
    {
        KV_REQUIRE_ROOT();
        QVERIFY2(!m_volume.isEmpty(), "no btrfs volume");
        const QString folder = m_volume + QStringLiteral("/.qvsnapshots");
        QVERIFY(QDir().mkpath(folder + QStringLiteral("/plain")));
        QCOMPARE(int(btrfs_util_create_subvolume(
                     QFile::encodeName(folder + "/writable").constData(), 0, nullptr, nullptr)),
            int(BTRFS_UTIL_OK));
        QVERIFY(QFile::link(QStringLiteral("/"), folder + QStringLiteral("/link")));
        for (const char* name : { "plain", "writable", "link" }) {
            const RunResult r = snap({ "-d", name, m_volume });
            QCOMPARE(r.exitCode, 255);
            QCOMPARE(r.err, QByteArray("fs_snapshot_delete: Invalid argument\n"));
            QVERIFY(QFileInfo::exists(folder + QLatin1Char('/') + QLatin1String(name)));
        }
        QVERIFY(!snap({ "-l", m_volume }).out.contains("plain"));
        QVERIFY(!snap({ "-l", m_volume }).out.contains("writable"));
    }

    // Every snapshot is listed, however many there are, oldest first.
    void listsTwoHundredSnapshots()
    {
        KV_REQUIRE_ROOT();
        QVERIFY2(!m_volume.isEmpty(), "no btrfs volume");
        const QString volume = m_top + QStringLiteral("/many");
        QCOMPARE(int(btrfs_util_create_subvolume(QFile::encodeName(volume).constData(), 0, nullptr, nullptr)),
            int(BTRFS_UTIL_OK));
        QVERIFY(QDir().mkpath(volume + QStringLiteral("/.qvsnapshots")));
        QByteArray expected;
        for (int i = 0; i < 200; ++i) {
            const QString name
                = QStringLiteral("snapshot-%1-").arg(i, 3, 10, QLatin1Char('0')) + QString(200, 'x');
            const QByteArray target = QFile::encodeName(volume + QStringLiteral("/.qvsnapshots/") + name);
            QCOMPARE(int(btrfs_util_create_snapshot(QFile::encodeName(volume).constData(), target.constData(),
                         BTRFS_UTIL_CREATE_SNAPSHOT_READ_ONLY, nullptr, nullptr)),
                int(BTRFS_UTIL_OK));
            expected += name.toUtf8() + '\n';
        }
        const RunResult r = snap({ "-l", volume });
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out.count('\n'), 200);
        QCOMPARE(r.out, expected);
    }
};

QTEST_GUILESS_MAIN(TestQVSnap)
#include "tst_qvsnap.moc"
