// kv-test: labels=unit
#include "KvTest.h"
#include "RecordingShellServices.h"
#include "TempTree.h"
#include "platform/DiskFacts.h"
#include "platform/MountInfo.h"
#include "utilities/IVolumeBase.h"

// The volume table's pure parts: names and codes, lookups, the sort, the filtered walk, the
// full table, record facts from descriptions, pairs, and which mount-table lines become volumes.
class TestVolumeTable : public QObject
{
    Q_OBJECT
private:
    static VolumeItemPtr add(IVolumeBase& base, const QString& source, const QString& name,
        int connection = 1, const QString& description = QString())
    {
        const int slot = base.insertItem();
        VolumeItemPtr p = base.itemAtIndex(slot);
        p->source = source;
        p->name = name;
        p->connection = connection;
        p->deviceDescription = description;
        p->mountPoint = VolumeBaseItem::mountPointURLText(QStringLiteral("/mnt/") + name);
        return p;
    }

private Q_SLOTS:
    void fsTypeFromName_data();
    void fsTypeFromName();
    void texts();
    void mountPointURLs_data();
    void mountPointURLs();
    void lookups();
    void stableSortAndFilteredWalk();
    void fullTable();
    void descriptionFacts_data();
    void descriptionFacts();
    void pairsAndUnmount();
    void mountTableLines();
    void rootSnapshotNames();
};

void TestVolumeTable::fsTypeFromName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("blkid");
    QTest::addColumn<int>("code");
    const QList<std::tuple<const char*, const char*, int>> rows = {
        { "btrfs", "", 8 },
        { "ext2", "", 7 },
        { "ext4", "", 7 },
        { "xfs", "", 7 },
        { "vfat", "", 1 },
        { "exfat", "", 2 },
        { "ntfs3", "", 3 },
        { "nfs4", "", 4 },
        { "cifs", "", 6 },
        { "smb3", "", 6 },
        { "iso9660", "", 10 },
        { "fuse.sshfs", "", 12 },
        { "fuseblk", "exfat", 2 },
        { "fuseblk", "ntfs", 3 },
        { "fuseblk", "", 12 },
        { "tmpfs", "", 0 },
        { "apfs", "", 8 },
        { "hfs", "", 7 },
    };
    for (const auto& [name, blkid, code] : rows)
        QTest::newRow(QByteArray(name).append(' ').append(blkid).constData())
            << QString::fromLatin1(name) << QString::fromLatin1(blkid) << code;
}

void TestVolumeTable::fsTypeFromName()
{
    QFETCH(QString, name);
    QFETCH(QString, blkid);
    QFETCH(int, code);
    QCOMPARE(VolumeBaseItem::FSTypeFromName(name, blkid), code);
}

void TestVolumeTable::texts()
{
    QCOMPARE(VolumeBaseItem::roleString(6), QStringLiteral("System"));
    QCOMPARE(VolumeBaseItem::roleString(8), QString());
    QCOMPARE(VolumeBaseItem::mountString(4), QStringLiteral("virtual"));
    QCOMPARE(VolumeBaseItem::mountString(5), QStringLiteral("unknown"));
    QCOMPARE(VolumeBaseItem::fileSystemString(9), QStringLiteral("unknown"));
    QCOMPARE(VolumeBaseItem::fileSystemString(8), QStringLiteral("apfs"));
}

void TestVolumeTable::mountPointURLs_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("root") << QStringLiteral("/");
    QTest::newRow("blank and quotes") << QStringLiteral("/media/u/My Disk 'x' \"y\"");
    QTest::newRow("percent and hash") << QStringLiteral("/mnt/100% #1?");
    QTest::newRow("not UTF-8") << QString(QStringLiteral("/mnt/caf") + QChar(0xDCE9));
    QTest::newRow("newline") << QStringLiteral("/mnt/a\nb");
}

void TestVolumeTable::mountPointURLs()
{
    QFETCH(QString, path);
    const QString url = VolumeBaseItem::mountPointURLText(path);
    QVERIFY(url.startsWith(QLatin1String("file:///")));
    QVERIFY(url.endsWith(QLatin1Char('/')));
    QCOMPARE(VolumeBaseItem::pathFromURLText(url), path);
    VolumeBaseItem item;
    item.mountPoint = url;
    QCOMPARE(item.strMountPoint(), path);
}

void TestVolumeTable::lookups()
{
    IVolumeBase base(false);
    const VolumeItemPtr a = add(base, QStringLiteral("sda1"), QStringLiteral("Data"));
    const VolumeItemPtr b = add(base, QStringLiteral("sdb1"), QStringLiteral("Data2"));
    a->volumeUUID = QStringLiteral("AAAAAAAA-0000-0000-0000-000000000001");
    QCOMPARE(base.itemWithDevice(QStringLiteral("sdb1")), b); // whole names, not from the fifth character
    QCOMPARE(base.itemWithDevice(QStringLiteral("/dev/sda1")), a);
    QVERIFY(!base.itemWithDevice(QStringLiteral("sdc1")));
    QVERIFY(!base.itemWithDevice(QString()));
    QCOMPARE(base.itemWithUUID(QStringLiteral("aaaaaaaa-0000-0000-0000-000000000001")), a);
    // A path under /mnt/Data2 belongs to Data2, never to Data.
    QCOMPARE(base.itemWithLocalURL(QStringLiteral("file:///mnt/Data2/x"), -1), b);
    QCOMPARE(base.itemWithLocalURL(QStringLiteral("/mnt/Data/x/y"), -1), a);
    QCOMPARE(base.itemWithLocalURL(QStringLiteral("/mnt/Data"), -1), a);
    QVERIFY(!base.itemWithLocalURL(QStringLiteral("/mnt/Dat"), -1));
    QVERIFY(!base.itemWithLocalURL(QStringLiteral("/mnt/Data2/x"), b->role)); // noRole excludes it
    // Mount-point texts compare as paths: a plain path or a URL without the last "/".
    QCOMPARE(base.itemWithMountPointURL(QStringLiteral("/mnt/Data2")), b);
    QCOMPARE(base.itemWithMountPointURL(QStringLiteral("file:///mnt/Data2")), b);
    QVERIFY(!base.itemWithMountPointURL(QStringLiteral("file:///mnt/Data2x/")));
    QVERIFY(base.removeItem(b));
    QVERIFY(!base.removeItem(b));
    QCOMPARE(b->name, QStringLiteral("Data2")); // a record the caller holds stays readable
    QVERIFY(!base.removeItemAtIndex(1));
    QCOMPARE(base.status(), int(IVolumeBase::StatusEmpty));
    QVERIFY(!base.removeItemAtIndex(500));
    QCOMPARE(base.status(), int(IVolumeBase::StatusOutOfRange));
}

void TestVolumeTable::stableSortAndFilteredWalk()
{
    IVolumeBase base(false);
    add(base, QStringLiteral("n1"), QStringLiteral("B"), 3);
    add(base, QStringLiteral("d2"), QStringLiteral("B"), 1, QStringLiteral("Vendor"));
    add(base, QStringLiteral("d3"), QStringLiteral("A"), 1, QStringLiteral("Vendor"));
    add(base, QStringLiteral("d4"), QStringLiteral("A"), 1,
        QStringLiteral("Vendor")); // equal to d3: slot order
    add(base, QStringLiteral("d5"), QStringLiteral("Z"), 1);
    const QList<int> index = base.sortIndex();
    QCOMPARE(index.size(), 500);
    QCOMPARE(index.mid(0, 6), (QList<int> { 4, 2, 3, 1, 0, -1 }));

    QStringList walked;
    for (VolumeItemPtr p = base.firstItemWithFilter(0x2); p; p = base.nextItem())
        walked << p->source;
    QCOMPARE(walked, (QStringList { "d5", "d3", "d4", "d2" }));
    QVERIFY(!base.nextItem());

    // A walk nothing passes answers null at once, and so does nextItem.
    for (int slot : { 1, 2, 3, 4 })
        base.itemAtIndex(slot)->connection = 3;
    base.itemAtIndex(0)->connection = 3;
    QVERIFY(!base.firstItemWithFilter(0x2));
    QVERIFY(!base.nextItem());

    VolumeBaseItem tmp;
    tmp.fsTypeName = QStringLiteral("tmpfs");
    QVERIFY(!IVolumeBase::isItemFiltering(tmp, 0x10)); // temporary volumes
    QVERIFY(IVolumeBase::isItemFiltering(tmp, 0x1));
    tmp.role = 4;
    QVERIFY(!IVolumeBase::isItemFiltering(tmp, 0x20));
    tmp.role = 7;
    QVERIFY(!IVolumeBase::isItemFiltering(tmp, 0x40));
}

void TestVolumeTable::fullTable()
{
    IVolumeBase base(false);
    for (int i = 0; i < 500; ++i)
        QCOMPARE(base.insertItem(), i);
    QCOMPARE(base.insertItem(), -1);
    QCOMPARE(base.status(), int(IVolumeBase::StatusFull));
    MountEntry e;
    e.mountId = 99;
    e.mountPoint = QStringLiteral("/mnt/extra");
    e.root = QStringLiteral("/");
    e.fsType = QStringLiteral("ext4");
    e.source = QStringLiteral("/dev/nonexistent9");
    QVERIFY(!base.createAndFillItemFromStatfs(e, { e }));
    QCOMPARE(base.status(), int(IVolumeBase::StatusNotCreated));
    QCOMPARE(base.itemCount(), 500);
}

void TestVolumeTable::descriptionFacts_data()
{
    QTest::addColumn<QVariantMap>("dict");
    QTest::addColumn<int>("fileSystem");
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("connection");
    QTest::addColumn<QString>("expectedSource");
    QTest::addColumn<QString>("description");
    QTest::addColumn<qint64>("flags");
    QTest::newRow("usb removable") << QVariantMap { { "DADeviceProtocol", "USB" },
        { "DADeviceVendor", "Acme" }, { "DADeviceModel", "  Stick  " }, { "DAMediaRemovable", true } }
                                   << 7 << "sdc1" << 2 << "sdc1"
                                   << "Acme Stick" << qint64(0x40);
    QTest::newRow("nvme") << QVariantMap { { "DADeviceProtocol", "PCI-Express" },
        { "DADeviceModel", "Fast" } }
                          << 8 << "nvme0n1p2s256" << 1 << "nvme0n1p2s256"
                          << "Fast" << qint64(0);
    QTest::newRow("loop") << QVariantMap { { "DADeviceProtocol", "Virtual Interface" } } << 7 << "loop3" << 4
                          << "loop3"
                          << "" << qint64(0);
    QTest::newRow("smb share") << QVariantMap { { "DAVolumeNetwork", true } } << 6 << "//host/share" << 3
                               << "smb://host/share"
                               << "" << qint64(0);
    QTest::newRow("nfs without device")
        << QVariantMap { { "DAVolumeNetwork", true } } << 4 << "host:/export" << 5 << ""
        << "" << qint64(0);
    QTest::newRow("sshfs without device")
        << QVariantMap { { "DAVolumeNetwork", true } } << 12 << "u@h:/p" << 5 << ""
        << "" << qint64(0);
}

void TestVolumeTable::descriptionFacts()
{
    QFETCH(QVariantMap, dict);
    QFETCH(int, fileSystem);
    QFETCH(QString, source);
    QFETCH(int, connection);
    QFETCH(QString, expectedSource);
    QFETCH(QString, description);
    QFETCH(qint64, flags);
    VolumeBaseItem item;
    item.fileSystem = fileSystem;
    item.source = source;
    item.flags = 0x10; // replaced by the description's
    IVolumeBase::fillItemFromDADict(item, dict);
    QCOMPARE(item.connection, connection);
    QCOMPARE(item.source, expectedSource);
    QCOMPARE(item.deviceDescription, description);
    QCOMPARE(item.flags, flags);
    QCOMPARE(item.BSDUnit, -1);
}

void TestVolumeTable::pairsAndUnmount()
{
    RecordingShellServices hub;
    IShellServices::setShared(&hub);
    IVolumeBase base(false);
    const VolumeItemPtr sys = add(base, QStringLiteral("loop3s256"), QStringLiteral("Mac"));
    const VolumeItemPtr data = add(base, QStringLiteral("loop3s257"), QStringLiteral("Mac - Data"));
    const VolumeItemPtr other = add(base, QStringLiteral("loop4s256"), QStringLiteral("Other"));
    sys->role = 6;
    data->role = 7;
    other->role = 7;
    sys->groupUUID = data->groupUUID = QStringLiteral("G1");
    other->groupUUID = QStringLiteral("G2");
    sys->usedMB = 10;
    data->usedMB = 5;
    data->flags = VolumeBaseItem::FlagBigSurGroup;
    data->mountId = 41;
    base.correctGroupData();
    QCOMPARE(sys->partnerDevice, QStringLiteral("loop3s257"));
    QCOMPARE(data->partnerDevice, QStringLiteral("loop3s256"));
    QVERIFY(other->partnerDevice.isEmpty());
    QVERIFY(sys->flags & VolumeBaseItem::FlagBigSurGroup);
    QCOMPARE(sys->groupUsedMB, 15.0); // the running system counts as 10.15.7
    QCOMPARE(data->groupUsedMB, 15.0);
    QCOMPARE(other->groupUsedMB, -1.0);

    MountEntry gone;
    gone.mountId = 41;
    gone.mountPoint = QStringLiteral("/mnt/Mac - Data");
    base.deviceNotifyUnmount(gone);
    QVERIFY(!base.itemWithDevice(QStringLiteral("loop3s257")));
    QVERIFY(sys->partnerDevice.isEmpty());
    QCOMPARE(sys->groupUsedMB, -1.0);
    QCOMPARE(hub.calls().count(QStringLiteral("volumeBaseUpdated")), 1);
    IShellServices::setShared(nullptr);
}

void TestVolumeTable::mountTableLines()
{
    const QByteArray text
        = "20 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
          "30 20 0:40 / /media/u/My\\040Disk rw - ext4 /dev/sdz9 rw\n"
          "31 20 0:41 /vol /mnt/vol rw - btrfs /dev/loop0 rw,subvolid=256,subvol=/vol\n"
          "32 20 0:41 /vol/folder /mnt/bound rw - btrfs /dev/loop0 rw,subvolid=256,subvol=/vol\n"
          "33 20 8:1 /srv/data /mnt/bind rw - ext4 /dev/sda1 rw\n"
          "34 20 0:5 / /proc rw - proc proc rw\n"
          "35 20 0:26 / /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n"
          "36 20 0:50 / /mnt/share rw - fuse.sshfs u@h:/p rw,user_id=0\n"
          "37 20 0:51 / /home rw - autofs systemd-1 rw\n"
          "38 20 0:52 / /tmp/vol rw - tmpfs tmpfs rw\n";
    const QList<MountEntry> mounts = MountInfo::parse(text);
    IVolumeBase base(false);
    QStringList kept;
    for (const MountEntry& e : mounts) {
        if (!base.isSkipped(e))
            kept << e.mountPoint;
    }
    QCOMPARE(kept, (QStringList { "/", "/media/u/My Disk", "/mnt/vol", "/mnt/share", "/tmp/vol" }));
    QCOMPARE(DiskFacts::sourceName(mounts[2]), QStringLiteral("loop0s256"));

    const VolumeItemPtr share = base.createAndFillItemFromStatfs(mounts[7], mounts);
    QVERIFY(share);
    QCOMPARE(share->fileSystem, 12);
    QCOMPARE(share->connection, int(VolumeBaseItem::ConnectionNetNoDevice));
    QCOMPARE(share->strMountPoint(), QStringLiteral("/mnt/share"));
    QCOMPARE(share->role, int(VolumeBaseItem::RoleNone));
    const VolumeItemPtr tmp = base.createAndFillItemFromStatfs(mounts[9], mounts);
    QVERIFY(tmp);
    base.sortIndex();
    QVERIFY(!base.firstItemWithFilter(0x71) || base.firstItemWithFilter(0x71) != tmp);
}

void TestVolumeTable::rootSnapshotNames()
{
    // A fixture sysfs: disk sds with partition sds1, and sda.
    TempTree sys(QStringLiteral("sysblock"));
    for (const char* dev : { "sda", "sds", "sds1" }) {
        QVERIFY(sys.mkdir(dev));
        QVERIFY(sys.writeFile(std::string(dev) + "/dev", QByteArray("8:0\n")));
    }
    QVERIFY(sys.writeFile(std::string("sds1/partition"), QByteArray("1\n")));
    DiskFacts::setSysClassBlock(sys.path());
    struct Row
    {
        const char* line;
        const char* root;
        const char* snapshot;
    };
    const Row rows[] = {
        { "1 0 0:30 /@ / rw - btrfs /dev/sds1 rw,subvolid=256,subvol=/@", "sds1", "sds1s256" },
        { "1 0 8:33 / / rw - ext4 /dev/sds1 rw", "sds1", "" },
        { "1 0 8:0 / / rw - ext4 /dev/sda rw", "sda", "" },
    };
    for (const Row& r : rows) {
        QString root, snapshot;
        IVolumeBase::rootDevicesFor(MountInfo::parse(r.line), &root, &snapshot);
        QCOMPARE(root, QString::fromLatin1(r.root));
        QCOMPARE(snapshot, QString::fromLatin1(r.snapshot));
    }
    DiskFacts::setSysClassBlock(QString());
}

QTEST_GUILESS_MAIN(TestVolumeTable)
#include "tst_volumetable.moc"
