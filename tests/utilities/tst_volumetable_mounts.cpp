// kv-test: labels=root timeout=300 fixtures=kv_loop_cleanup
#include "KvTest.h"
#include "LoopImage.h"
#include "RecordingShellServices.h"
#include "ScopedMount.h"
#include "platform/BtrfsVolumeModel.h"
#include "platform/BtrfsVolumeRegistry.h"
#include "platform/DiskFacts.h"
#include "platform/UuidText.h"
#include "utilities/ICommon.h"
#include "utilities/IDiskUtil.h"
#include "utilities/IVolumeBase.h"
#include "utilities/RegistryVolumeRoles.h"

#include <thread>

static QString blkidUuid(const QString& device)
{
    QString out;
    LoopImage::runTool(QStringLiteral("blkid"), { "-p", "-o", "value", "-s", "UUID", device }, &out);
    return out.trimmed();
}

// The volume table against real mounts: records appear after the mount with the right facts,
// the hub hears of them in order, and they leave on unmount.
class TestVolumeTableMounts : public QObject
{
    Q_OBJECT
private:
    // The record of source; with mountPoint, only a record of that mount (a stale record of the
    // same device number, left by another test a moment ago, never answers).
    static VolumeItemPtr walkFor(
        IVolumeBase& base, qint64 bits, const QString& source, const QString& mountPoint = QString())
    {
        for (VolumeItemPtr p = base.firstItemWithFilter(bits); p; p = base.nextItem()) {
            if (p->source == source && (mountPoint.isNull() || p->strMountPoint() == mountPoint))
                return p;
        }
        return nullptr;
    }

private Q_SLOTS:
    void init()
    {
        IShellServices::setShared(&m_hub);
        m_hub.clear();
    }
    void cleanup() { IShellServices::setShared(nullptr); }
    void ext4ReadOnlyAtPathWithBlank();
    void btrfsGroupWithRoles();

private:
    RecordingShellServices m_hub;
};

void TestVolumeTableMounts::ext4ReadOnlyAtPathWithBlank()
{
    KV_REQUIRE_ROOT();
    IVolumeBase base(true);
    std::thread filler([&base] { base.fill(); }); // the first fill runs off the main thread
    filler.join();
    QTRY_VERIFY_WITH_TIMEOUT(base.isBaseFilled(), 5000);

    LoopImage img;
    QVERIFY2(img.createImage(LoopImage::FsType::Ext4, 0, QStringLiteral("KV Data")) && img.attach(),
        qPrintable(img.errorString()));
    ScopedMount m;
    const QString dir = LoopImage::loopRoot() + QStringLiteral("/vol 'with' blank ") + img.deviceName();
    QVERIFY2(m.mount({ QStringLiteral("-o"), QStringLiteral("ro"), img.device() }, dir),
        qPrintable(m.errorString()));

    VolumeItemPtr item;
    // The device number may have served another test's volume a moment ago: wait for the record
    // of this mount, not for any record of the device.
    QTRY_VERIFY_WITH_TIMEOUT((item = walkFor(base, 0x71, img.deviceName(), dir)) != nullptr, 5000);
    QCOMPARE(item->name, QStringLiteral("KV Data"));
    QCOMPARE(item->connection, int(VolumeBaseItem::ConnectionVirtual));
    QCOMPARE(item->fileSystem, 7);
    QVERIFY(item->flags & VolumeBaseItem::FlagReadOnly);
    QVERIFY(!(item->flags & VolumeBaseItem::FlagRemovable));
    QCOMPARE(item->role, int(VolumeBaseItem::RoleNone));
    QVERIFY(UuidText::equal(item->volumeUUID, blkidUuid(img.device())));
    QCOMPARE(item->strMountPoint(), dir);
    const DiskFacts::Space s = DiskFacts::space(dir);
    QCOMPARE(item->totalMB, double(s.blocks * s.blockSize) / 1e6);
    QCOMPARE(item->freeMB, double(s.availableBlocks * s.blockSize) / 1e6);
    QCOMPARE(base.itemWithUUID(item->volumeUUID.toLower()), item);
    QCOMPARE(
        base.itemWithLocalURL(VolumeBaseItem::mountPointURLText(dir + QStringLiteral("/lost+found")), -1),
        item);

    // The hub: validateDeviceMount at once, volumeBaseUpdated once the mount settled.
    QTRY_VERIFY_WITH_TIMEOUT(m_hub.calls().contains(QStringLiteral("volumeBaseUpdated")), 5000);
    const QStringList calls = m_hub.calls();
    const int validated = int(calls.indexOf(QStringLiteral("validateDeviceMount:") + dir));
    QVERIFY2(validated >= 0, qPrintable(calls.join(QLatin1Char('|'))));
    QVERIFY(validated < calls.lastIndexOf(QStringLiteral("volumeBaseUpdated")));

    QVERIFY(m.unmount());
    QTRY_VERIFY_WITH_TIMEOUT(!base.itemWithDevice(img.deviceName()), 5000);
    QCOMPARE(item->name, QStringLiteral("KV Data")); // a held record stays readable
}

void TestVolumeTableMounts::btrfsGroupWithRoles()
{
    KV_REQUIRE_ROOT();
    LoopImage img;
    QVERIFY2(img.make(LoopImage::FsType::Btrfs), qPrintable(img.errorString()));
    const QString top = img.mountPoint();
    const QStringList names { "sys", "data", "preboot", "recovery" };
    const QStringList roles { "System", "Data", "Preboot", "Recovery" };
    const QString group = QStringLiteral("6A1F0A52-44B1-4C55-9B0E-0123456789AB");
    BtrfsVolumeRegistry reg;
    for (int i = 0; i < names.size(); ++i) {
        QVERIFY(BtrfsVolumeModel::createSubvolume(top + QLatin1Char('/') + names[i]).ok());
        reg.setEntry(
            256 + i, { i == 1 ? QStringLiteral("Mac - Data") : names[i], roles[i], group, QString() });
    }
    QVERIFY(reg.save(top));

    IVolumeBase base(true);
    base.fill();
    ScopedMount mounts[4];
    for (int i = 0; i < 4; ++i) {
        QVERIFY2(mounts[i].mount(
                     { QStringLiteral("-o"), QStringLiteral("subvolid=%1").arg(256 + i), img.device() },
                     LoopImage::loopRoot() + QStringLiteral("/grp ") + names[i] + QLatin1Char(' ')
                         + img.deviceName()),
            qPrintable(mounts[i].errorString()));
    }
    const QString dev = img.deviceName();
    // Walks follow the sort index, which is brought up to date once the mounts settled.
    auto listing = [&base] {
        QStringList s;
        for (int i = 0; i < IVolumeBase::maxItems; ++i) {
            if (base.itemAtIndex(i))
                s << base.itemAtIndex(i)->source;
        }
        return s.join(QLatin1Char(' ')).toUtf8();
    };
    QTRY_VERIFY2_WITH_TIMEOUT(
        walkFor(base, 0, dev + QStringLiteral("s259")) != nullptr, listing().constData(), 5000);
    const VolumeItemPtr sys = base.itemWithDevice(dev + QStringLiteral("s256"));
    const VolumeItemPtr data = base.itemWithDevice(dev + QStringLiteral("s257"));
    QVERIFY(sys && data);
    QCOMPARE(sys->fileSystem, 8);
    QCOMPARE(sys->role, int(VolumeBaseItem::RoleSystem));
    QCOMPARE(data->role, int(VolumeBaseItem::RoleData));
    QCOMPARE(base.itemWithDevice(dev + QStringLiteral("s258"))->role, int(VolumeBaseItem::RolePreboot));
    QCOMPARE(base.itemWithDevice(dev + QStringLiteral("s259"))->role, int(VolumeBaseItem::RoleRecovery));
    QCOMPARE(data->name, QStringLiteral("Mac - Data"));
    QVERIFY(UuidText::equal(sys->groupUUID, group));
    QCOMPARE(sys->partnerDevice, data->source);
    QCOMPARE(data->partnerDevice, sys->source);
    QCOMPARE(sys->groupUsedMB, sys->usedMB + data->usedMB); // 10.15.x counts the pair
    QVERIFY(!UuidText::equal(sys->volumeUUID, data->volumeUUID));
    QCOMPARE(base.itemWithRole(VolumeBaseItem::RoleSystem, group.toLower()), sys);
    // Walks: the backup panes (0x71) leave out Data and Preboot/Recovery; the clone pane
    // (0x233) only Preboot/Recovery.
    QVERIFY(walkFor(base, 0x71, sys->source) && !walkFor(base, 0x71, data->source));
    QVERIFY(!walkFor(base, 0x71, dev + QStringLiteral("s258")));
    QVERIFY(walkFor(base, 0x233, data->source));
    // The disk information sees the group too.
    QCOMPARE(IDiskUtil::getStringWithRoleForBSDName(data->source), QStringLiteral("Data"));
    QVERIFY(UuidText::equal(IDiskUtil::getStringWithGroupForBSDName(data->source), group));
    QCOMPARE(IDiskUtil::wholeDiskForVolumeBSDName(data->source), dev);
    // So does the roles service the application installs at start.
    RegistryVolumeRoles registryRoles;
    IVolumeRoles::setShared(&registryRoles);
    auto unsetRoles = qScopeGuard([] { IVolumeRoles::setShared(nullptr); });
    QCOMPARE(
        IVolumeRoles::shared().roleNameForDevice(dev + QStringLiteral("s258")), QStringLiteral("Preboot"));
    QCOMPARE(ICommon::getStringWithRoleForBSDName(QStringLiteral("/dev/") + sys->source),
        QStringLiteral("Volume %1 Role: (System)").arg(sys->source));
    QVERIFY(IVolumeRoles::shared().roleNameForDevice(dev).isNull()); // the container is no volume

    QVERIFY(mounts[1].unmount());
    QTRY_VERIFY_WITH_TIMEOUT(!base.itemWithDevice(dev + QStringLiteral("s257")), 5000);
    QVERIFY(sys->partnerDevice.isEmpty());
    QCOMPARE(sys->groupUsedMB, -1.0);
}

QTEST_GUILESS_MAIN(TestVolumeTableMounts)
#include "tst_volumetable_mounts.moc"
