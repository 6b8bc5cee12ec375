// kv-test: labels=unit
#include "TempTree.h"
#include "platform/DeviceNames.h"
#include "platform/FsKinds.h"

#include <QtTest>

// Device names against a fake /sys/class/block tree, and the file-system kind table.
class TestDeviceNames : public QObject
{
    Q_OBJECT
    TempTree m_sys { QStringLiteral("sysblock") };

private Q_SLOTS:
    void initTestCase()
    {
        for (const char* dev : { "loop3", "sda", "sda1", "sds", "sds1", "nvme0n1", "nvme0n1p2", "mmcblk0",
                 "mmcblk0p1", "odds5", "odds" })
            QVERIFY(m_sys.mkdir(dev));
    }

    void parse_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("container");
        QTest::addColumn<quint64>("subvolumeId");
        QTest::newRow("subvolume") << QStringLiteral("loop3s256") << QStringLiteral("loop3s256")
                                   << QStringLiteral("loop3") << quint64(256);
        QTest::newRow("with /dev/") << QStringLiteral("/dev/loop3s5") << QStringLiteral("loop3s5")
                                    << QStringLiteral("loop3") << quint64(5);
        QTest::newRow("loop device") << QStringLiteral("loop3") << QStringLiteral("loop3") << QString()
                                     << quint64(0);
        QTest::newRow("partition") << QStringLiteral("sda1") << QStringLiteral("sda1") << QString()
                                   << quint64(0);
        QTest::newRow("disk sds") << QStringLiteral("sds1") << QStringLiteral("sds1") << QString()
                                  << quint64(0);
        QTest::newRow("disk sds itself")
            << QStringLiteral("sds") << QStringLiteral("sds") << QString() << quint64(0);
        QTest::newRow("nvme") << QStringLiteral("nvme0n1p2") << QStringLiteral("nvme0n1p2") << QString()
                              << quint64(0);
        QTest::newRow("subvolume of a partition")
            << QStringLiteral("nvme0n1p2s257") << QStringLiteral("nvme0n1p2s257")
            << QStringLiteral("nvme0n1p2") << quint64(257);
        QTest::newRow("a device whose name looks like one")
            << QStringLiteral("odds5") << QStringLiteral("odds5") << QString() << quint64(0);
        QTest::newRow("unknown prefix")
            << QStringLiteral("loop9s256") << QStringLiteral("loop9s256") << QString() << quint64(0);
        QTest::newRow("leading zero")
            << QStringLiteral("loop3s0256") << QStringLiteral("loop3s0256") << QString() << quint64(0);
        QTest::newRow("zero") << QStringLiteral("loop3s0") << QStringLiteral("loop3s0") << QString()
                              << quint64(0);
        QTest::newRow("no digits") << QStringLiteral("loop3s") << QStringLiteral("loop3s") << QString()
                                   << quint64(0);
        QTest::newRow("letters after")
            << QStringLiteral("loop3s2x") << QStringLiteral("loop3s2x") << QString() << quint64(0);
        QTest::newRow("path in prefix")
            << QStringLiteral("../loop3s2") << QStringLiteral("../loop3s2") << QString() << quint64(0);
        QTest::newRow("empty") << QString() << QString() << QString() << quint64(0);
    }

    void parse()
    {
        QFETCH(QString, name);
        QFETCH(QString, device);
        QFETCH(QString, container);
        QFETCH(quint64, subvolumeId);
        const DeviceNames::Parsed p = DeviceNames::parse(name, m_sys.path());
        QCOMPARE(p.device, device);
        QCOMPARE(p.container, container);
        QCOMPARE(p.subvolumeId, subvolumeId);
        QCOMPARE(p.isSubvolume, subvolumeId != 0);
        if (p.isSubvolume)
            QCOMPARE(DeviceNames::subvolumeDeviceName(p.container, p.subvolumeId), device);
    }

    void fsKinds_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<int>("family");
        using F = FsKinds::Family;
        QTest::newRow("btrfs") << QStringLiteral("btrfs") << int(F::Apfs);
        for (const char* t : { "ext2", "ext3", "ext4", "xfs", "EXT4" })
            QTest::newRow(t) << QString::fromLatin1(t) << int(F::MacExtended);
        for (const char* t :
            { "vfat", "exfat", "ntfs", "ntfs3", "fuse.sshfs", "nfs", "tmpfs", "overlay", "" })
            QTest::newRow(*t ? t : "empty") << QString::fromLatin1(t) << int(F::Other);
    }

    void fsKinds()
    {
        QFETCH(QString, type);
        QFETCH(int, family);
        QCOMPARE(int(FsKinds::family(type)), family);
        QCOMPARE(FsKinds::isMacFileSystem(type), family != int(FsKinds::Family::Other));
    }
};

QTEST_GUILESS_MAIN(TestDeviceNames)
#include "tst_devicenames.moc"
