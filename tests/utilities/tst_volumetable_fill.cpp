// kv-test: labels=root timeout=300 fixtures=kv_loop_cleanup serial
// kv-test: asan=src/utilities/IVolumeBase.cpp,src/utilities/VolumeBaseItem.cpp,src/platform/MountWatcher.cpp
#include "KvTest.h"
#include "LoopImage.h"
#include "platform/NameCodec.h"
#include "utilities/IVolumeBase.h"

#include <QDir>
#include <atomic>
#include <sys/mount.h>
#include <thread>

// The table's fill under a storm of mounts: fills run on other threads while loop mounts come
// and go and the main thread keeps looking records up and reading them. Built a second time
// with AddressSanitizer, so a lookup that reads a record the fill already freed stops the test.
// At the end every mount that stayed is in the table and every one that went is not.
class TestVolumeTableFill : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void fillDuringMountStorm();
};

void TestVolumeTableFill::fillDuringMountStorm()
{
    KV_REQUIRE_ROOT();
    LoopImage img;
    QVERIFY2(img.createImage(LoopImage::FsType::Ext4, 16, QStringLiteral("KV Storm")) && img.attach(),
        qPrintable(img.errorString()));
    // One ext4 device mounted at many folders: each mount is a volume of its own (none is a
    // bind mount), so each needs its own record.
    constexpr int count = 40;
    QStringList dirs;
    for (int i = 0; i < count; ++i) {
        dirs << LoopImage::loopRoot() + QStringLiteral("/storm %1 %2").arg(img.deviceName()).arg(i);
        QVERIFY(QDir().mkpath(dirs.last()));
    }
    const std::string dev = NameCodec::encodeStd(img.device());
    std::vector<std::atomic<bool>> mounted(count);
    auto unmountAll = qScopeGuard([&] {
        for (int i = 0; i < count; ++i) {
            if (mounted[i])
                ::umount2(NameCodec::encodeStd(dirs[i]).c_str(), 0);
            QDir().rmdir(dirs[i]);
        }
    });

    IVolumeBase base(true);
    std::atomic<bool> stormDone { false };
    std::thread storm([&] {
        for (int i = 0; i < count; ++i) {
            const std::string mp = NameCodec::encodeStd(dirs[i]);
            mounted[i] = ::mount(dev.c_str(), mp.c_str(), "ext4", MS_RDONLY, nullptr) == 0;
            // Every third mount goes again a little later, while others still arrive.
            if (i >= 2 && (i - 2) % 3 == 0 && mounted[i - 2]) {
                if (::umount2(NameCodec::encodeStd(dirs[i - 2]).c_str(), 0) == 0)
                    mounted[i - 2] = false;
            }
        }
        stormDone = true;
    });
    // Fills on another thread, one after another, during the storm (at least one, however
    // quickly the storm ends): each builds a new table and swaps it in on the main thread,
    // dropping the records of the one before.
    std::thread fills([&] {
        for (int i = 0; i < 5 && (i == 0 || !stormDone); ++i)
            base.fill();
    });

    const QString source = img.deviceName();
    auto lookAround = [&] {
        int seen = 0;
        for (VolumeItemPtr p = base.firstItemWithFilter(0); p; p = base.nextItem()) {
            if (p->source == source && p->strMountPoint().startsWith(LoopImage::loopRoot()))
                ++seen;
        }
        for (const QString& d : dirs) {
            if (const VolumeItemPtr p = base.itemWithMountPointURL(VolumeBaseItem::mountPointURLText(d)))
                seen += p->name.size() > 0 ? 0 : 1;
        }
        const VolumeItemPtr any = base.itemWithDevice(source);
        return seen + (any ? int(any->volumeUUID.size() > 0) : 0);
    };
    while (!stormDone) {
        lookAround();
        QCoreApplication::processEvents();
    }
    storm.join();
    fills.join();
    QTRY_VERIFY_WITH_TIMEOUT(base.isBaseFilled(), 10000);

    // The table agrees with the mount table once the last events are in.
    auto mismatches = [&] {
        QStringList wrong;
        for (int i = 0; i < count; ++i) {
            const bool has
                = base.itemWithMountPointURL(VolumeBaseItem::mountPointURLText(dirs[i])) != nullptr;
            if (has != mounted[i])
                wrong << QStringLiteral("%1 %2").arg(i).arg(mounted[i] ? "missing" : "left over");
        }
        lookAround();
        return wrong.join(QLatin1String(", "));
    };
    QTRY_COMPARE_WITH_TIMEOUT(mismatches(), QString(), 10000);
    int stayed = 0;
    for (int i = 0; i < count; ++i)
        stayed += mounted[i] ? 1 : 0;
    QVERIFY(stayed > count / 2);
    QCOMPARE(base.itemWithDevice(source)->name, QStringLiteral("KV Storm"));
}

QTEST_GUILESS_MAIN(TestVolumeTableFill)
#include "tst_volumetable_fill.moc"
