// kv-test: labels=unit
#include "TempTree.h"
#include "platform/MountInfo.h"
#include "platform/NameCodec.h"

#include <QtTest>

namespace {

// A mountinfo text with escapes, optional fields, neighbours that share a prefix, a
// btrfs subvolume and two mounts stacked on one point.
const QByteArray kMountInfo
    = QByteArrayLiteral("22 1 254:1 / / rw,relatime shared:1 - ext4 /dev/vda rw,errors=remount-ro\n"
                        "30 22 0:25 / /proc rw,nosuid,nodev,noexec,relatime shared:12 - proc proc rw\n"
                        "40 22 7:3 / /mnt/a rw,relatime shared:20 - ext4 /dev/loop3 rw\n"
                        "41 22 0:45 /data /mnt/ab rw,relatime shared:21 master:3 - btrfs /dev/loop4 "
                        "rw,space_cache=v2,subvolid=256,subvol=/data\n"
                        "42 22 7:5 / /media/user/My\\040Disk\\011tab ro,relatime - ext4 /dev/loop5 rw\n"
                        "43 22 7:6 / /media/user/back\\134slash\\012nl rw - xfs /dev/loop6 rw\n"
                        "44 22 7:7 / /mnt/stack rw - ext4 /dev/loop7 rw\n"
                        "45 44 7:8 / /mnt/stack rw - btrfs /dev/loop8 ro\n"
                        "46 22 7:9 / /mnt/caf\\303\\251-\\377 rw - ext4 /dev/loop9 rw\n"
                        "47 40 0:50 / /mnt/a/inner rw - fuse.sshfs user@host:/path\\040x rw,user_id=0\n"
                        "garbage line without the separator\n"
                        "\n");

} // namespace

class TestMountInfo : public QObject
{
    Q_OBJECT
    QList<MountEntry> m_mounts;

private Q_SLOTS:
    void initTestCase() { m_mounts = MountInfo::parse(kMountInfo); }

    void parsesFieldsAndEscapes()
    {
        QCOMPARE(m_mounts.size(), 10);
        const MountEntry& sub = m_mounts.at(3);
        QCOMPARE(sub.mountId, 41);
        QCOMPARE(sub.parentId, 22);
        QCOMPARE(sub.major, 0u);
        QCOMPARE(sub.minor, 45u);
        QCOMPARE(sub.root, QStringLiteral("/data"));
        QCOMPARE(sub.mountPoint, QStringLiteral("/mnt/ab"));
        QCOMPARE(sub.fsType, QStringLiteral("btrfs"));
        QCOMPARE(sub.source, QStringLiteral("/dev/loop4"));
        QCOMPARE(sub.superOption(QStringLiteral("subvolid")), QStringLiteral("256"));
        QVERIFY(sub.superOption(QStringLiteral("compress")).isNull());
        QVERIFY(!sub.readOnly());

        QCOMPARE(m_mounts.at(4).mountPoint, QStringLiteral("/media/user/My Disk\ttab"));
        QVERIFY(m_mounts.at(4).readOnly()); // per-mount "ro"
        QVERIFY(m_mounts.at(7).readOnly()); // file-system "ro"
        QCOMPARE(m_mounts.at(5).mountPoint, QStringLiteral("/media/user/back\\slash\nnl"));
        QCOMPARE(NameCodec::encode(m_mounts.at(8).mountPoint), QByteArray("/mnt/caf\xC3\xA9-\xFF"));
        QCOMPARE(m_mounts.at(9).source, QStringLiteral("user@host:/path x"));
    }

    void mountForPath_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("mountId"); // 0: none
        QTest::newRow("root") << QStringLiteral("/") << 22;
        QTest::newRow("plain file") << QStringLiteral("/home/u/file") << 22;
        QTest::newRow("mount point itself") << QStringLiteral("/mnt/a") << 40;
        QTest::newRow("trailing slash") << QStringLiteral("/mnt/a/") << 40;
        QTest::newRow("inside") << QStringLiteral("/mnt/a/x/y") << 40;
        QTest::newRow("sibling with shared prefix") << QStringLiteral("/mnt/ab/x") << 41;
        QTest::newRow("prefix without boundary") << QStringLiteral("/mnt/abc") << 22;
        QTest::newRow("nested mount") << QStringLiteral("/mnt/a/inner/f") << 47;
        QTest::newRow("not nested") << QStringLiteral("/mnt/a/innerx") << 40;
        QTest::newRow("escaped blank") << QStringLiteral("/media/user/My Disk\ttab/f") << 42;
        QTest::newRow("blank without tab") << QStringLiteral("/media/user/My Disk") << 22;
        QTest::newRow("stacked: last wins") << QStringLiteral("/mnt/stack/f") << 45;
        QTest::newRow("dot dot out") << QStringLiteral("/mnt/a/../ab/f") << 41;
        QTest::newRow("double slash") << QStringLiteral("//mnt//a//f") << 40;
        QTest::newRow("non-utf8") << NameCodec::decode(QByteArray("/mnt/caf\xC3\xA9-\xFF/x")) << 46;
        QTest::newRow("relative") << QStringLiteral("mnt/a") << 0;
    }

    void mountForPath()
    {
        QFETCH(QString, path);
        QFETCH(int, mountId);
        const auto m = MountInfo::mountForPath(path, m_mounts);
        QCOMPARE(m ? m->mountId : 0, mountId);
    }

    void noMountsNoAnswer()
    {
        QVERIFY(!MountInfo::mountForPath(QStringLiteral("/x"), {}).has_value());
        QVERIFY(MountInfo::parse(QByteArray()).isEmpty());
    }

    // The live table: a real folder in the build tree belongs to the mount holding the build.
    void liveTable()
    {
        const QList<MountEntry> live = MountInfo::read();
        QVERIFY(!live.isEmpty());
        TempTree tree;
        QVERIFY(tree.mkdir("sub dir"));
        const QString point
            = MountInfo::mountPointForPath(tree.filePath(std::string("sub dir/not yet made")));
        QVERIFY(!point.isEmpty());
        QVERIFY(MountInfo::isPathUnder(tree.path(), point));
        QCOMPARE(MountInfo::mountPointForPath(QStringLiteral("/proc/self")), QStringLiteral("/proc"));
    }
};

QTEST_GUILESS_MAIN(TestMountInfo)
#include "tst_mountinfo.moc"
