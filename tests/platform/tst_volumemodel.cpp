// kv-test: labels=root timeout=300 fixtures=kv_loop_cleanup
#include "KvTest.h"
#include "LoopImage.h"
#include "ScopedMount.h"
#include "platform/BtrfsVolumeModel.h"
#include "platform/BtrfsVolumeRegistry.h"
#include "platform/DiskFacts.h"
#include "platform/MountInfo.h"
#include "platform/MountWatcher.h"
#include "platform/UuidText.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <cerrno>
#include <unistd.h>

using ExtraMount = ScopedMount;

static QString blkidValue(const QString& device, const QString& key)
{
    QString out;
    LoopImage::runTool(QStringLiteral("blkid"),
        { QStringLiteral("-p"), QStringLiteral("-o"), QStringLiteral("export"), device }, &out);
    for (const QString& line : out.split(QLatin1Char('\n'))) {
        if (line.startsWith(key + QLatin1Char('=')))
            return line.mid(key.size() + 1);
    }
    return QString();
}

class TestVolumeModel : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void subvolumesRegistryAndFacts();
    void snapshots();
    void registryLenientAndCorrupt();
    void probeNeverAnswersForAnEarlierImage();
    void watcherSeesMountAndUnmount();
};

void TestVolumeModel::subvolumesRegistryAndFacts()
{
    KV_REQUIRE_ROOT();
    LoopImage img;
    QVERIFY2(img.make(LoopImage::FsType::Btrfs, 0, QStringLiteral("KV Pool")), qPrintable(img.errorString()));
    const QString top = img.mountPoint();
    QVERIFY(BtrfsVolumeModel::isBtrfs(top));
    QCOMPARE(BtrfsVolumeModel::subvolumeId(top).value_or(0), quint64(5));
    QVERIFY(BtrfsVolumeModel::createSubvolume(top + QStringLiteral("/sys")).ok());
    QVERIFY(BtrfsVolumeModel::createSubvolume(top + QStringLiteral("/data")).ok());
    const QList<BtrfsSubvolume> subs = BtrfsVolumeModel::listSubvolumes(top);
    QCOMPARE(subs.size(), 2);
    QCOMPARE(subs[0].id, quint64(256));
    QCOMPARE(subs[0].path, QStringLiteral("sys"));
    QCOMPARE(subs[1].id, quint64(257));
    QVERIFY(!subs[0].uuid.isEmpty());
    QCOMPARE(BtrfsVolumeModel::fileSystemUuid(top),
        UuidText::normalized(blkidValue(img.device(), QStringLiteral("UUID"))));

    BtrfsVolumeRegistry reg;
    QCOMPARE(reg.load(top), BtrfsVolumeRegistry::Status::Missing);
    const QString group = QStringLiteral("11111111-2222-3333-4444-555555555555");
    reg.setEntry(256, { QStringLiteral("Mac"), QStringLiteral("System"), group, subs[0].uuid });
    reg.setEntry(257, { QStringLiteral("Mac - Data"), QStringLiteral("Data"), group, subs[1].uuid });
    QString error;
    QVERIFY2(reg.save(top, &error), qPrintable(error));

    // Mount the Data subvolume by id: the facts come from the subvolume and the registry.
    ExtraMount data;
    QVERIFY(data.mount({ QStringLiteral("-o"), QStringLiteral("subvolid=257"), img.device() },
        LoopImage::loopRoot() + QStringLiteral("/model data ") + img.deviceName()));
    const QList<MountEntry> mounts = MountInfo::read();
    const std::optional<MountEntry> entry = MountInfo::mountForPath(data.dir(), mounts);
    QVERIFY(entry);
    QCOMPARE(DiskFacts::sourceName(*entry), img.deviceName() + QStringLiteral("s257"));
    std::optional<DiskFacts::VolumeRegistryFacts> facts;
    const QVariantMap d = DiskFacts::describeMount(*entry, mounts, &facts);
    QVERIFY(facts);
    QCOMPARE(facts->role, QStringLiteral("Data"));
    QCOMPARE(facts->groupUUID, group.toUpper());
    QCOMPARE(d.value("DAVolumeName").toString(), QStringLiteral("Mac - Data"));
    QCOMPARE(d.value("DAVolumeUUID").toString(), subs[1].uuid);
    QCOMPARE(d.value("DADeviceProtocol").toString(), QStringLiteral("Virtual Interface"));
    QCOMPARE(d.value("DAMediaRemovable").toBool(), false);
    QCOMPARE(BtrfsVolumeRegistry().memberWithRole(group, QStringLiteral("System")), quint64(0));
    QCOMPARE(reg.memberWithRole(group.toLower(), QStringLiteral("system")), quint64(256));

    // The top level is the registry's only way in: without its mount, no registry object.
    QVERIFY(img.unmount());
    QVERIFY(!DiskFacts::registryFacts(
        *MountInfo::mountForPath(data.dir(), MountInfo::read()), MountInfo::read()));

    // A mounted subvolume is never deleted under its mount.
    QVERIFY(img.mount());
    const BtrfsStatus busy = BtrfsVolumeModel::deleteSubvolume(img.mountPoint() + QStringLiteral("/data"));
    QCOMPARE(busy.error, EBUSY);
    QVERIFY(data.unmount());
    QVERIFY(BtrfsVolumeModel::deleteSubvolume(img.mountPoint() + QStringLiteral("/data")).ok());
    QCOMPARE(BtrfsVolumeModel::deleteSubvolume(img.mountPoint()).error, EINVAL); // the top level
}

void TestVolumeModel::snapshots()
{
    KV_REQUIRE_ROOT();
    LoopImage img;
    QVERIFY2(img.make(LoopImage::FsType::Btrfs), qPrintable(img.errorString()));
    const QString vol = img.mountPoint() + QStringLiteral("/vol");
    QVERIFY(BtrfsVolumeModel::createSubvolume(vol).ok());
    QFile f(vol + QStringLiteral("/file"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("one");
    f.close();

    // Names that would leave .qvsnapshots are refused before anything is made.
    const QString tooLong(256, QLatin1Char('n'));
    for (const QString& bad : { QString(), QStringLiteral("."), QStringLiteral(".."), QStringLiteral("a/b"),
             QStringLiteral("../x"), tooLong })
        QCOMPARE(BtrfsVolumeModel::createSnapshot(vol, bad).error, EINVAL);
    QVERIFY(!QFileInfo::exists(BtrfsVolumeModel::snapshotFolder(vol)));

    QVERIFY(BtrfsVolumeModel::createSnapshot(vol, QStringLiteral("s1")).ok());
    QCOMPARE(BtrfsVolumeModel::createSnapshot(vol, QStringLiteral("s1")).error, EEXIST);
    QVERIFY(BtrfsVolumeModel::createSnapshot(vol, QStringLiteral("s 2, with 'quotes'")).ok());
    QVERIFY(QDir().mkdir(BtrfsVolumeModel::snapshotFolder(vol) + QStringLiteral("/plain folder")));
    QCOMPARE(BtrfsVolumeModel::listSnapshots(vol),
        (QStringList { QStringLiteral("s 2, with 'quotes'"), QStringLiteral("s1") }));
    QVERIFY(BtrfsVolumeModel::isReadOnly(BtrfsVolumeModel::snapshotPath(vol, QStringLiteral("s1"))));
    QFile snapFile(BtrfsVolumeModel::snapshotPath(vol, QStringLiteral("s1")) + QStringLiteral("/file"));
    QVERIFY(snapFile.open(QIODevice::ReadOnly));
    QCOMPARE(snapFile.readAll(), QByteArray("one"));
    snapFile.close();
    QVERIFY(!snapFile.open(QIODevice::WriteOnly | QIODevice::Append));

    QCOMPARE(BtrfsVolumeModel::deleteSnapshot(vol, QStringLiteral("plain folder")).error, EINVAL);
    QCOMPARE(BtrfsVolumeModel::deleteSnapshot(vol, QStringLiteral("missing")).error, ENOENT);
    const std::optional<BtrfsSubvolume> s1
        = BtrfsVolumeModel::subvolumeInfo(BtrfsVolumeModel::snapshotPath(vol, QStringLiteral("s1")));
    QVERIFY(s1);
    {
        ExtraMount m;
        QVERIFY(m.mount({ QStringLiteral("-o"), QStringLiteral("ro,subvolid=%1").arg(s1->id), img.device() },
            LoopImage::loopRoot() + QStringLiteral("/snap ") + img.deviceName()));
        QCOMPARE(BtrfsVolumeModel::deleteSnapshot(vol, QStringLiteral("s1")).error, EBUSY);
    }
    QVERIFY(BtrfsVolumeModel::deleteSnapshot(vol, QStringLiteral("s1")).ok());
    QCOMPARE(BtrfsVolumeModel::listSnapshots(vol), QStringList { QStringLiteral("s 2, with 'quotes'") });
}

void TestVolumeModel::registryLenientAndCorrupt()
{
    KV_REQUIRE_ROOT();
    LoopImage img;
    QVERIFY2(img.make(LoopImage::FsType::Btrfs), qPrintable(img.errorString()));
    const QString top = img.mountPoint();
    const QString path = BtrfsVolumeRegistry::pathFor(top);
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict><key>Volumes</key><array>"
            "<dict><key>SubvolumeID</key><string>256</string><key>Role</key><string>System</string></dict>"
            "<dict><key>SubvolumeID</key><integer>257</integer><key>Role</key><integer>6</integer>"
            "<key>Name</key><string>Data</string><key>GroupUUID</"
            "key><string>00000000-0000-0000-0000-000000000000</string></dict>"
            "<string>stray</string></array></dict></plist>");
    f.close();
    BtrfsVolumeRegistry reg;
    QCOMPARE(reg.load(top), BtrfsVolumeRegistry::Status::Ok);
    QCOMPARE(reg.entries().size(), 1); // the entry with a text id is skipped
    QCOMPARE(reg.entry(257).name, QStringLiteral("Data"));
    QVERIFY(reg.entry(257).role.isEmpty()); // a number where a text belongs counts as missing
    QVERIFY(reg.entry(257).groupUUID.isEmpty()); // a UUID of zeros is no group

    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("<plist><dict><key>Vol");
    f.close();
    QString error;
    QCOMPARE(reg.load(top, &error), BtrfsVolumeRegistry::Status::Corrupt);
    QVERIFY(!error.isEmpty());
    // A save never overwrites the unreadable file: it is kept aside first.
    reg.setEntry(256, { QStringLiteral("Mac"), QStringLiteral("System"), QString(), QString() });
    QVERIFY(reg.save(top));
    const QStringList kept
        = QDir(top).entryList({ QStringLiteral(".qvvolumes.plist.corrupt-*") }, QDir::Files | QDir::Hidden);
    QCOMPARE(kept.size(), 1);
}

void TestVolumeModel::probeNeverAnswersForAnEarlierImage()
{
    KV_REQUIRE_ROOT();
    // A udev database left behind by an earlier image on the same loop device (no daemon keeps
    // it current here): as an unprivileged user the probe cannot read the device and must
    // answer the new image's UUID or none, never the old one.
    LoopImage img;
    QVERIFY2(img.createImage(LoopImage::FsType::Ext4, 0, QStringLiteral("New")) && img.attach(),
        qPrintable(img.errorString()));
    const QString fresh = UuidText::normalized(blkidValue(img.device(), QStringLiteral("UUID")));
    const std::optional<DiskFacts::BlockDevice> bd = DiskFacts::blockDevice(img.deviceName());
    QVERIFY(bd);
    const QString root = LoopImage::loopRoot() + QStringLiteral("/udevroot-") + img.deviceName();
    QDir().mkpath(root + QStringLiteral("/run/udev/data"));
    QDir().mkpath(root + QStringLiteral("/dev/disk/by-uuid"));
    QFile data(root + QStringLiteral("/run/udev/data/b%1:%2").arg(bd->major).arg(bd->minor));
    QVERIFY(data.open(QIODevice::WriteOnly));
    data.write("E:ID_FS_UUID=0ld0ld00-0000-4000-8000-000000000001\nE:ID_FS_TYPE=ext4\nE:ID_FS_LABEL=Old\n");
    data.close();
    QFile::link(QStringLiteral("../../") + img.deviceName(),
        root + QStringLiteral("/dev/disk/by-uuid/0ld0ld00-0000-4000-8000-000000000001"));
    DiskFacts::setSystemRoot(root);

    QCOMPARE(DiskFacts::probeDevice(img.deviceName()).uuid, fresh); // root reads the device itself
    QVERIFY(::seteuid(65534) == 0);
    const DiskFacts::Probe asUser = DiskFacts::probeDevice(img.deviceName());
    QVERIFY(::seteuid(0) == 0);
    QVERIFY2(asUser.uuid.isEmpty() || asUser.uuid == fresh, qPrintable(asUser.uuid));
    QVERIFY(asUser.label != QLatin1String("Old"));

    // While a udev daemon keeps the database, its answer is used.
    QFile control(root + QStringLiteral("/run/udev/control"));
    QVERIFY(control.open(QIODevice::WriteOnly));
    control.close();
    QVERIFY(::seteuid(65534) == 0);
    const DiskFacts::Probe withDaemon = DiskFacts::probeDevice(img.deviceName());
    QVERIFY(::seteuid(0) == 0);
    QCOMPARE(withDaemon.origin, QStringLiteral("udev"));
    DiskFacts::setSystemRoot(QString());
    QDir(root).removeRecursively();
}

void TestVolumeModel::watcherSeesMountAndUnmount()
{
    KV_REQUIRE_ROOT();
    MountWatcher watcher;
    QVERIFY(watcher.isWatching());
    QSignalSpy mounted(&watcher, &MountWatcher::mounted);
    QSignalSpy unmounted(&watcher, &MountWatcher::unmounted);
    LoopImage img;
    QVERIFY2(img.make(LoopImage::FsType::Ext4), qPrintable(img.errorString()));
    // Other tests mount and unmount at the same time: look for ours.
    auto seen = [](const QSignalSpy& spy, const QString& path) {
        for (const QList<QVariant>& args : spy) {
            if (args.first().value<MountEntry>().mountPoint == path)
                return true;
        }
        return false;
    };
    QTRY_VERIFY_WITH_TIMEOUT(seen(mounted, img.mountPoint()), 5000);
    const QString mountPoint = img.mountPoint();
    QVERIFY(img.unmount());
    QTRY_VERIFY_WITH_TIMEOUT(seen(unmounted, mountPoint), 5000);
}

QTEST_GUILESS_MAIN(TestVolumeModel)
#include "tst_volumemodel.moc"
