// kv-test: labels=root timeout=300 fixtures=kv_loop_cleanup
#include "KvTest.h"
#include "LoopImage.h"
#include "TempTree.h"
#include "platform/DeviceNames.h"
#include "platform/FsKinds.h"
#include "platform/MountInfo.h"
#include "platform/NameCodec.h"

#include <QtTest>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString backingFile(const QString& deviceName)
{
    QFile f(QStringLiteral("/sys/block/") + deviceName + QStringLiteral("/loop/backing_file"));
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(f.readAll()).trimmed();
}

bool isMounted(const QString& mountPoint)
{
    for (const MountEntry& m : MountInfo::read()) {
        if (m.mountPoint == mountPoint)
            return true;
    }
    return false;
}

} // namespace

// Loop images are made, mounted, seen by the mountinfo reader and released again, and the
// cleanup of stale devices touches only devices backed by files under its folder.
class TestLoopImage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void makeMountRelease_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("fsType");
        QTest::newRow("ext4") << int(LoopImage::FsType::Ext4) << QStringLiteral("ext4");
        QTest::newRow("btrfs") << int(LoopImage::FsType::Btrfs) << QStringLiteral("btrfs");
        QTest::newRow("xfs") << int(LoopImage::FsType::Xfs) << QStringLiteral("xfs");
    }

    void makeMountRelease()
    {
        KV_REQUIRE_ROOT();
        QFETCH(int, type);
        QFETCH(QString, fsType);
        QString device, mountPoint, image;
        {
            LoopImage img;
            QVERIFY2(img.make(LoopImage::FsType(type)), qPrintable(img.errorString()));
            device = img.device();
            mountPoint = img.mountPoint();
            image = img.imagePath();
            QVERIFY(image.contains(QStringLiteral("/tests/loop/")));
            QCOMPARE(backingFile(img.deviceName()), image);

            // A file with an odd name inside the volume is found on this mount.
            const std::string file = NameCodec::encodeStd(mountPoint) + "/odd \xff name";
            QVERIFY(::close(::open(file.c_str(), O_CREAT | O_WRONLY, 0644)) == 0);
            const auto entry = MountInfo::mountEntryForPath(NameCodec::decode(file));
            QVERIFY(entry.has_value());
            QCOMPARE(entry->mountPoint, mountPoint);
            QCOMPARE(entry->fsType, fsType);
            QCOMPARE(entry->source, device);
            QVERIFY(FsKinds::isMacFileSystem(entry->fsType));
            QVERIFY(!DeviceNames::parse(img.deviceName()).isSubvolume);
            if (fsType == QLatin1String("btrfs")) {
                const auto p = DeviceNames::parse(DeviceNames::subvolumeDeviceName(img.deviceName(), 5));
                QCOMPARE(p.container, img.deviceName());
            }
        }
        // The destructor released everything.
        QVERIFY(!isMounted(mountPoint));
        QVERIFY(!QFileInfo::exists(mountPoint));
        QVERIFY(!QFileInfo::exists(image));
        // A volume table in another process may still be probing the device: the kernel lets
        // it go when the last opener closes it.
        QTRY_VERIFY_WITH_TIMEOUT(backingFile(device.mid(5)) != image, 5000);
    }

    // A run that crashed left a mounted device behind; the cleanup removes it and leaves a
    // device backed by a file elsewhere alone.
    void cleanupTakesOnlyItsOwn()
    {
        KV_REQUIRE_ROOT();
        LoopImage other; // lives outside the folder that is cleaned below
        QVERIFY2(other.make(LoopImage::FsType::Ext4), qPrintable(other.errorString()));

        TempTree stale(QStringLiteral("stale"));
        const QString image = stale.filePath(std::string("crashed.img"));
        QVERIFY(stale.writeFile(std::string("crashed.img")));
        QVERIFY(::truncate(NameCodec::encodeStd(image).c_str(), 32 * 1024 * 1024) == 0);
        QString out;
        QVERIFY2(LoopImage::runTool(QStringLiteral("mkfs.ext4"),
                     { QStringLiteral("-q"), QStringLiteral("-F"), image }, &out),
            qPrintable(out));
        QVERIFY2(LoopImage::runTool(QStringLiteral("losetup"),
                     { QStringLiteral("--find"), QStringLiteral("--show"), image }, &out),
            qPrintable(out));
        const QString device = out.trimmed();
        QVERIFY(stale.mkdir("mnt"));
        QVERIFY2(
            LoopImage::runTool(QStringLiteral("mount"), { device, stale.filePath(std::string("mnt")) }, &out),
            qPrintable(out));

        const QStringList log = LoopImage::cleanupStale(stale.path());
        QVERIFY2(log.join(QLatin1Char('\n')).contains(QStringLiteral("detached ") + device),
            qPrintable(log.join(QLatin1Char('\n'))));
        QVERIFY(!isMounted(stale.filePath(std::string("mnt"))));
        // A volume table in another process may still be probing the device: the kernel lets
        // it go when the last opener closes it.
        QTRY_VERIFY_WITH_TIMEOUT(backingFile(device.mid(5)) != image, 5000);
        // The other image is untouched.
        QVERIFY(isMounted(other.mountPoint()));
        QCOMPARE(backingFile(other.deviceName()), other.imagePath());
    }
};

QTEST_GUILESS_MAIN(TestLoopImage)
#include "tst_loopimage.moc"
