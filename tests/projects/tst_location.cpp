// kv-test: labels=unit,root timeout=300 fixtures=kv_loop_cleanup lock=devfuse
#include "KvTest.h"
#include "LoopImage.h"
#include "TempTree.h"
#include "platform/DiskImageTool.h"
#include "platform/NameCodec.h"
#include "platform/Subprocess.h"
#include "projects/ILocation.h"
#include "projects/ILocationServices.h"

#include <QtTest>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

// A volume table, disk information and share mounter made of plain records.
class FakeServices : public ILocationServices
{
public:
    QList<VolumeItemPtr> items;
    QString deviceForUUID; // answer of volumeBSDNameByUUID
    qint64 running = 101507;
    bool shareMounted = false;
    bool mountSucceeds = false;
    LocationVolumeInfo mountInfo;
    int unmounts = 0;

    VolumeItemPtr add(const QString& name, const QString& mountPoint, const QString& uuid, int connection = 1,
        int fileSystem = 7, qint64 flags = 0)
    {
        auto item = std::make_shared<VolumeBaseItem>();
        item->name = name;
        item->source = QStringLiteral("loop%1").arg(items.size());
        item->mountPoint = VolumeBaseItem::mountPointURLText(mountPoint);
        item->volumeUUID = uuid;
        item->connection = connection;
        item->fileSystem = fileSystem;
        item->fsTypeName = fileSystem == 7 ? "ext4" : fileSystem == 8 ? "btrfs" : "fuse.sshfs";
        item->flags = flags;
        item->totalMB = 1000;
        item->freeMB = 400;
        item->usedMB = 600;
        items.append(item);
        return item;
    }

    QList<VolumeItemPtr> volumeItems() override { return items; }
    bool isVolumeBaseFilled() override { return true; }
    void correctGroupDataItem(const VolumeItemPtr&) override { }
    QString volumeBSDNameByUUID(const QString&, bool* isMounted) override
    {
        if (isMounted)
            *isMounted = false;
        return deviceForUUID;
    }
    QString volumeUUIDForMountPoint(const QString&) override { return QString(); }
    VolumeSysVersion fullSystemVersionForMountPoint(const QString&) override { return VolumeSysVersion(); }
    qint64 runningSystemVersion() override { return running; }
    bool isVolumeMounted(LocationVolumeInfo& info) override
    {
        if (shareMounted)
            info = mountInfo;
        return shareMounted;
    }
    bool mountVolume(LocationVolumeInfo& info, QString*) override
    {
        if (mountSucceeds)
            info = mountInfo;
        return mountSucceeds;
    }
    bool unmountVolume(const QString&) override
    {
        ++unmounts;
        return true;
    }
    // Disk images go to the system's services when a test asks for them.
    ILocationServices* images = nullptr;
    bool attachDiskImage(const QString& image, QString* content, QString* comment) override
    {
        return images && images->attachDiskImage(image, content, comment);
    }
    bool detachDiskImage(const QString& image) override { return images && images->detachDiskImage(image); }
};

struct ServicesScope
{
    explicit ServicesScope(ILocationServices* s) { ILocationServices::setShared(s); }
    ~ServicesScope() { ILocationServices::setShared(nullptr); }
};

const QString kUuidA = QStringLiteral("11111111-2222-3333-4444-555555555555");
const QString kUuidB = QStringLiteral("66666666-2222-3333-4444-555555555555");

} // namespace

// Locations: the stored form, binding to the volume table, comparison, access levels and the
// write test.
class TestLocation : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void newLocationStoredForm()
    {
        FakeServices fake;
        ServicesScope scope(&fake);
        std::unique_ptr<ILocation> l(ILocation::create());
        const QVariantMap d = ILocation::dictFromLocation(*l);
        QCOMPARE(d.value("URL").toString(), QStringLiteral("-"));
        QCOMPARE(d.value("PathFromMountPoint").toString(), QStringLiteral("-"));
        QCOMPARE(d.value("VolumeUUID").toString(), QStringLiteral("-"));
        QCOMPARE(d.value("MountPoint").toString(), QStringLiteral("-"));
        QCOMPARE(d.value("DisplayName").toString(), QStringLiteral(""));
        QCOMPARE(d.value("DeviceType").toLongLong(), -1);
        QVERIFY(l->getDisplayName().isNull());

        // Read back: nothing set, and the missing volume makes it inactive with its names kept.
        std::unique_ptr<ILocation> back(ILocation::locationFromDict(d));
        QVERIFY(back->getURLStr().isNull());
        QVERIFY(back->getMountPoint().isNull());
        QCOMPARE(back->getDeviceType(), -1);
        QVERIFY(!back->isActive());
    }

    void storedValues_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QString>("field"); // what to read back
        QTest::addColumn<QVariant>("expected");
        QTest::newRow("DeviceType 3") << "DeviceType" << QVariant(qint64(3)) << "type" << QVariant(3);
        QTest::newRow("DeviceType as text") << "DeviceType" << QVariant("3") << "type" << QVariant(-1);
        QTest::newRow("DeviceType 7 stays unset")
            << "DeviceType" << QVariant(qint64(7)) << "type" << QVariant(-1);
        QTest::newRow("DeviceType -2") << "DeviceType" << QVariant(qint64(-2)) << "type" << QVariant(-1);
        QTest::newRow("Automount 1") << "Automount" << QVariant(qint64(1)) << "automount" << QVariant(true);
        QTest::newRow("Automount true") << "Automount" << QVariant(true) << "automount" << QVariant(true);
        QTest::newRow("Automount as text") << "Automount" << QVariant("1") << "automount" << QVariant(false);
        QTest::newRow("Removable as text")
            << "Removable" << QVariant("YES") << "removable" << QVariant(false);
        QTest::newRow("Tag 12") << "Tag" << QVariant(qint64(12)) << "tag" << QVariant(qint64(12));
        QTest::newRow("Tag as real") << "Tag" << QVariant(4.0) << "tag" << QVariant(qint64(4));
        QTest::newRow("Tag as text") << "Tag" << QVariant("4") << "tag" << QVariant(qint64(-1));
        QTest::newRow("URL -") << "URL" << QVariant("-") << "url" << QVariant(QString());
        QTest::newRow("URL as number") << "URL" << QVariant(qint64(5)) << "url" << QVariant(QString());
        QTest::newRow("DisplayName") << "DisplayName" << QVariant("Disk") << "name" << QVariant("Disk");
        QTest::newRow("DisplayName as array")
            << "DisplayName" << QVariant(QVariantList { "x" }) << "name" << QVariant(QString());
    }
    void storedValues()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, value);
        QFETCH(QString, field);
        QFETCH(QVariant, expected);
        FakeServices fake;
        ServicesScope scope(&fake);
        QVariantMap d;
        d.insert(key, value);
        std::unique_ptr<ILocation> l(ILocation::locationFromDict(d));
        QVariant got;
        if (field == "type")
            got = l->getDeviceType();
        else if (field == "automount")
            got = l->isAutomount();
        else if (field == "removable")
            got = l->isRemovable();
        else if (field == "tag")
            got = l->getTag();
        else if (field == "url")
            got = l->getURLStr();
        else
            got = l->getDisplayName();
        QCOMPARE(got, expected);
    }

    void rootMountPointDropsUUID()
    {
        FakeServices fake;
        fake.add("Root", "/", kUuidB);
        ServicesScope scope(&fake);
        QVariantMap d;
        d.insert("MountPoint", "/");
        d.insert("VolumeUUID", kUuidA);
        d.insert("DeviceType", qint64(0));
        std::unique_ptr<ILocation> l(ILocation::locationFromDict(d));
        QVERIFY(l->isActive());
        QCOMPARE(l->getVolumeUUID(), kUuidB); // found again by mount point
    }

    void setupWithPath_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("mountPoint");
        QTest::addColumn<QString>("inner"); // null: none
        QTest::newRow("next to a longer name") << "/mnt/data2/x"
                                               << "/mnt/data2"
                                               << "/x";
        QTest::newRow("shorter mount, whole components") << "/mnt/data/x/y"
                                                         << "/mnt/data"
                                                         << "/x/y";
        QTest::newRow("prefix without boundary") << "/mnt/datax/y"
                                                 << "/"
                                                 << "mnt/datax/y";
        QTest::newRow("equal to a mount point") << "/mnt/data"
                                                << "/mnt/data" << QString();
        QTest::newRow("only on /") << "/srv/files"
                                   << "/"
                                   << "srv/files";
    }
    void setupWithPath()
    {
        QFETCH(QString, path);
        QFETCH(QString, mountPoint);
        QFETCH(QString, inner);
        FakeServices fake;
        fake.add("Root", "/", QString());
        fake.add("Data", "/mnt/data", kUuidA);
        fake.add("Data2", "/mnt/data2", kUuidB);
        ServicesScope scope(&fake);
        ILocation l;
        QVERIFY(l.setupWithPath(path));
        QCOMPARE(l.getMountPoint(), mountPoint);
        QCOMPARE(l.getPathFromMountPoint(), inner);
        QCOMPARE(l.getUnverifiedFullPath(), ILocation::joinPath(mountPoint, inner));
        QCOMPARE(QDir::cleanPath(l.getUnverifiedFullPath()), QDir::cleanPath(path));
        QVERIFY(l.isActive());
        QVERIFY(!l.isDoubleVolume()); // a plain volume at 10.15.7 is no System/Data pair
        QCOMPARE(l.getGroupUsedSizeMB(), -1);
    }

    void sameUUIDPrefersStoredMountPoint()
    {
        FakeServices fake;
        fake.add("Bind", "/srv/c", kUuidA);
        fake.add("Orig", "/srv/a", kUuidA);
        ServicesScope scope(&fake);
        ILocation l;
        l.setVolumeUUID(kUuidA);
        l.setMountPoint("/srv/a");
        l.setDeviceType(0);
        l.reset();
        QVERIFY(l.isActive());
        QCOMPARE(l.getMountPoint(), QStringLiteral("/srv/a"));
        // A UUID that matches nothing: inactive, names kept.
        ILocation lost;
        lost.setVolumeUUID(kUuidB);
        lost.setMountPoint("/srv/b");
        lost.setDisplayName("Gone");
        lost.reset();
        QVERIFY(!lost.isActive());
        QCOMPARE(lost.getDisplayName(), QStringLiteral("Gone"));
        QCOMPARE(lost.getMountPoint(), QStringLiteral("/srv/b"));
    }

    void equality_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QStringList>("a"); // uuid, mount point, inner, name, url
        QTest::addColumn<QStringList>("b");
        QTest::addColumn<bool>("equal");
        QTest::addColumn<bool>("sameVolume");
        const QString u = kUuidA, v = kUuidB;
        QTest::newRow("0: same uuid, same inner") << 0 << QStringList { u, "/a", "/x", "A", "" }
                                                  << QStringList { u, "/b", "/x", "B", "" } << true << true;
        QTest::newRow("0: same uuid, other inner") << 0 << QStringList { u, "/a", "/x", "A", "" }
                                                   << QStringList { u, "/a", "/y", "A", "" } << false << true;
        QTest::newRow("1: other uuid, same mount") << 1 << QStringList { u, "/a", "", "A", "" }
                                                   << QStringList { v, "/a", "", "A", "" } << false << false;
        QTest::newRow("0: no uuid, mount points") << 0 << QStringList { "", "/a", "/x", "A", "" }
                                                  << QStringList { u, "/a", "/x", "B", "" } << true << true;
        QTest::newRow("0: no uuid, other mount") << 0 << QStringList { "", "/a", "/x", "A", "" }
                                                 << QStringList { "", "/b", "/x", "A", "" } << false << false;
        QTest::newRow("4: same share name, other hosts")
            << 4 << QStringList { "", "", "/x", "Backup", "smb://one/Backup" }
            << QStringList { "", "", "/x", "Backup", "smb://two/Backup" } << false << true;
        QTest::newRow("6: host case differs")
            << 6 << QStringList { "", "", "/x", "Backup", "smb://ONE/Backup" }
            << QStringList { "", "", "/x", "Backup", "smb://one/Backup" } << true << true;
        QTest::newRow("6: one without URL") << 6 << QStringList { "", "", "", "Backup", "smb://one/Backup" }
                                            << QStringList { "", "", "", "Backup", "" } << true << true;
        QTest::newRow("4: other names") << 4 << QStringList { "", "", "", "A", "" }
                                        << QStringList { "", "", "", "B", "" } << false << false;
    }
    void equality()
    {
        QFETCH(int, type);
        QFETCH(QStringList, a);
        QFETCH(QStringList, b);
        QFETCH(bool, equal);
        QFETCH(bool, sameVolume);
        auto make = [type](const QStringList& f) {
            auto l = std::make_unique<ILocation>();
            l->setDeviceType(type);
            l->setVolumeUUID(f[0]);
            l->setMountPoint(f[1]);
            l->setPathFromMountPoint(f[2]);
            l->setDisplayName(f[3]);
            l->setURLStr(f[4]);
            return l;
        };
        const auto la = make(a), lb = make(b);
        QCOMPARE(la->isEqualToLocation(*lb), equal);
        QCOMPARE(la->isEqualToLocationVolume(*lb), sameVolume);
    }

    void accessLevels_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("admin");
        QTest::addColumn<bool>("automount");
        QTest::addColumn<bool>("hardLinkTest");
        QTest::addColumn<int>("level");
        QTest::newRow("absent, automount on") << "absent" << false << true << false << 1;
        QTest::newRow("absent, automount off") << "absent" << false << false << false << 0;
        QTest::newRow("detached image") << "image" << false << false << false << 1;
        QTest::newRow("read-only record") << "ro" << false << false << true << 2;
        QTest::newRow("admin, local volume") << "ext4" << true << false << false << 3;
        QTest::newRow("hard links on ext4") << "ext4" << false << false << true << 4;
        QTest::newRow("hard links on btrfs") << "btrfs" << false << false << true << 4;
        QTest::newRow("FUSE volume") << "fuse" << false << false << true << 3;
        QTest::newRow("System without partner") << "system" << false << false << false << 5;
        QTest::newRow("admin on a CD") << "cd" << true << false << false << 0;
    }
    void accessLevels()
    {
        QFETCH(QString, kind);
        QFETCH(bool, admin);
        QFETCH(bool, automount);
        QFETCH(bool, hardLinkTest);
        QFETCH(int, level);
        TempTree t(QStringLiteral("vol"));
        FakeServices fake;
        fake.deviceForUUID = QStringLiteral("loop9");
        ServicesScope scope(&fake);
        const QString mp = t.path();
        ILocation l;
        if (kind == "absent" || kind == "image") {
            l.setVolumeUUID(kUuidA);
            l.setMountPoint("/media/u/Gone");
            l.setDeviceType(1);
        } else {
            const int fs = kind == "btrfs" ? 8 : kind == "fuse" ? 12 : 7;
            const VolumeItemPtr item = fake.add("V", mp, kUuidA, 1, fs, kind == "ro" ? 0x10 : 0);
            if (kind == "system")
                item->role = VolumeBaseItem::RoleSystem;
            QVERIFY(l.setupWithPath(mp));
            if (kind == "cd")
                l.setDeviceType(2);
        }
        if (kind == "image") {
            fake.add("Host", "/media/u/Gone", kUuidA);
            l.setPathFromMountPoint("/backup.sparsebundle");
            QVERIFY(l.isBDI());
        }
        QCOMPARE(l.getAccessWithAdmin(admin, automount, hardLinkTest), level);
    }

    void writeTestLeavesUserFilesAlone()
    {
        TempTree t(QStringLiteral("vol"));
        QVERIFY(t.writeFile(std::string("WriteTestFile_Kelvane2"), "mine"));
        FakeServices fake;
        fake.add("V", t.path(), kUuidA);
        ServicesScope scope(&fake);
        ILocation l;
        QVERIFY(l.setupWithPath(t.path()));
        QVERIFY(l.writeTest());
        QCOMPARE(t.readFile("WriteTestFile_Kelvane2"), QByteArray("mine"));
        QCOMPARE(t.list().size(), size_t(1));
        l.setWritable(false);
        QVERIFY(!l.writeTest());
    }

    void deletedFolderHasNoFullPath()
    {
        TempTree t(QStringLiteral("vol"));
        QVERIFY(t.mkdir("inner"));
        FakeServices fake;
        fake.add("V", t.path(), kUuidA);
        ServicesScope scope(&fake);
        ILocation l;
        QVERIFY(l.setupWithPath(t.filePath(std::string("inner"))));
        QCOMPARE(l.getFullPath(), t.filePath(std::string("inner")));
        QVERIFY(::rmdir(t.filePath(std::string("inner")).toUtf8().constData()) == 0);
        QVERIFY(l.getFullPath().isNull());
        QCOMPARE(l.getUnverifiedFullPath(), t.filePath(std::string("inner")));
    }

    // A share whose mount "succeeds" without mounting anything: nothing is unmounted afterwards.
    void shareMountedByOthersIsNotUnmounted()
    {
        FakeServices fake;
        ServicesScope scope(&fake);
        ILocation l;
        l.setDeviceType(6);
        l.setURLStr("sftp://root@127.0.0.1/srv");
        l.setAutomount(false);
        l.setActive(false);
        QVERIFY(!l.prepare()); // not mounted, automount off
        QCOMPARE(l.getAccessWithAdmin(false, false, false), 0);
        l.setAutomount(true);
        QCOMPARE(l.getAccessWithAdmin(false, false, false), 1);
        fake.mountSucceeds = true;
        fake.mountInfo.URL = "sftp://root@127.0.0.1/srv";
        fake.mountInfo.mountPoint = "/nonexistent/share";
        QVERIFY(!l.canRead());
        QCOMPARE(fake.unmounts, 0); // the mount point holds nothing: nothing of ours to unmount
        QVERIFY(l.isFlag(ILocation::FlagMountedByProgram));
        QVERIFY(l.isFlag(ILocation::FlagUnmountAfterRun));
    }

    // The access levels on real mounts, as an unprivileged user (root passes mode bits): an
    // ext4 folder, a folder without write permission, a read-only bind mount and a FUSE file
    // system without hard links or owners (exfat, mounted by root with allow_other).
    void accessAsUnprivilegedUser()
    {
        KV_REQUIRE_ROOT();
        LoopImage ext4;
        QVERIFY2(ext4.make(LoopImage::FsType::Ext4), qPrintable(ext4.errorString()));
        const QString mp = ext4.mountPoint();
        QVERIFY(QDir().mkpath(mp + "/open") && QDir().mkpath(mp + "/locked"));
        QVERIFY(::chmod(NameCodec::encode(mp).constData(), 0755) == 0);
        QVERIFY(::chmod(NameCodec::encode(mp + "/open").constData(), 0777) == 0);
        QVERIFY(::chmod(NameCodec::encode(mp + "/locked").constData(), 0555) == 0);
        const QString ro = mp + "-ro";
        QVERIFY(QDir().mkpath(ro));
        QString out;
        QVERIFY2(
            LoopImage::runTool("mount", { "--bind", "-o", "ro", mp + "/open", ro }, &out), qPrintable(out));
        auto unbind = qScopeGuard([&] {
            LoopImage::runTool("umount", { ro });
            QDir().rmdir(ro);
        });
        const QString exImage = LoopImage::loopRoot() + "/exfat-" + QString::number(::getpid()) + ".img";
        const QString exMp = exImage + ".mnt";
        QVERIFY(QDir().mkpath(exMp));
        QVERIFY(LoopImage::runTool("truncate", { "-s", "16M", exImage }));
        QVERIFY2(LoopImage::runTool("mkfs.exfat", { exImage }, &out), qPrintable(out));
        QString exDevice;
        QVERIFY2(
            LoopImage::runTool("losetup", { "--find", "--show", exImage }, &exDevice), qPrintable(exDevice));
        exDevice = exDevice.trimmed();
        auto unfuse = qScopeGuard([&] {
            LoopImage::runTool("fusermount3", { "-u", exMp });
            LoopImage::runTool("losetup", { "-d", exDevice });
            QDir().rmdir(exMp);
            QFile::remove(exImage);
        });
        QVERIFY2(
            LoopImage::runTool("mount.exfat-fuse", { "-o", "allow_other,umask=0", exDevice, exMp }, &out),
            qPrintable(out));

        TempTree bin(QStringLiteral("bin"));
        QVERIFY(::chmod(bin.pathStd().c_str(), 0755) == 0);
        const QString copy = bin.filePath(std::string("tst_location"));
        QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), copy));
        QVERIFY(::chmod(NameCodec::encode(copy).constData(), 0755) == 0);
        Subprocess::Options o;
        o.program = QStringLiteral("setpriv");
        o.arguments = QStringList { "--reuid=65534", "--regid=65534", "--clear-groups", copy, "childAccess" };
        o.environment.insert("KV_CHILD_MOUNTS", QStringList { mp, ro, exMp }.join('\n'));
        o.environment.insert("HOME", "/tmp");
        o.workingDirectory = QStringLiteral("/");
        const Subprocess::Result r = Subprocess::run(o, 120000);
        QVERIFY2(r.succeeded(), QByteArray(r.out + r.err).constData());
        QVERIFY(r.out.contains("PASS   : TestLocation::childAccess()"));
    }
    void childAccess()
    {
        const QStringList mounts
            = QString::fromUtf8(qgetenv("KV_CHILD_MOUNTS")).split('\n', Qt::SkipEmptyParts);
        if (mounts.size() != 3)
            QSKIP("runs as the unprivileged child of accessAsUnprivilegedUser");
        QCOMPARE(::geteuid(), uid_t(65534));
        FakeServices fake;
        fake.add("Ext4", mounts[0], kUuidA, 1, 7);
        fake.add("RO", mounts[1], kUuidB, 1, 7, 0x10);
        const VolumeItemPtr fuse = fake.add("Ex", mounts[2], QStringLiteral("1234-ABCD"), 2, 2);
        fuse->fsTypeName = QStringLiteral("fuseblk");
        ServicesScope scope(&fake);
        const struct
        {
            QString path;
            int level;
        } cases[] = { { mounts[0] + "/open", 4 }, { mounts[0] + "/locked", 2 }, { mounts[1], 2 },
            { mounts[2], 3 } };
        for (const auto& c : cases) {
            ILocation l;
            QVERIFY(l.setupWithPath(c.path));
            QCOMPARE(l.getAccessWithAdmin(false, false, true), c.level);
        }
        ILocation fixed;
        QVERIFY(fixed.setupWithPath(mounts[1]));
        QVERIFY(!fixed.writeTest()); // a read-only mount: NO, nothing made
    }

    // A disk-image destination on a real image: attached through the location (its content
    // path then usable), held busy (the detach says NO and the location keeps its content),
    // then detached with nothing left attached or mounted.
    void diskImageDestination()
    {
        KV_REQUIRE_ROOT();
        QTemporaryDir dir(LoopImage::loopRoot() + QStringLiteral("/bdi-XXXXXX"));
        QVERIFY(dir.isValid());
        const QString media = dir.filePath(QStringLiteral("media"));
        DiskImageTool::setMediaRoot(media);
        auto restoreMedia = qScopeGuard([] { DiskImageTool::setMediaRoot(QString()); });
        const QString bundle = dir.filePath(QStringLiteral("Backups/Kelvane Image.sparsebundle"));
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("Backups"))));
        QString comment;
        DiskImageTool tool;
        QVERIFY2(!tool.create(bundle, QStringLiteral("KV Image"), 0.12, DiskImageTool::FileSystem::Apfs,
                          QByteArray(), &comment)
                      .isNull(),
            qPrintable(comment));
        auto release = qScopeGuard([&] { DiskImageTool().detach(bundle); });

        FakeServices fake;
        fake.images = &ILocationServices::shared(); // the system's disk images
        fake.add("Host", dir.path(), kUuidA);
        ServicesScope scope(&fake);
        ILocation l;
        QVERIFY(l.setupWithPath(dir.path()));
        l.setPathFromMountPoint(QStringLiteral("/Backups/Kelvane Image.sparsebundle"));
        QVERIFY(l.isBDI() && !l.isBDIActive());
        QCOMPARE(l.getBDIFileName(), QStringLiteral("Kelvane Image.sparsebundle"));
        QCOMPARE(l.getAccessWithAdmin(false, false, false), 1);

        QVERIFY(l.mountBDI());
        QVERIFY(l.isBDIActive());
        const QString content = l.getContentPathVerify(true);
        const std::optional<DiskImageTool::Attachment> a = DiskImageTool::attachment(bundle);
        QVERIFY(a && a->mountPoint.startsWith(media + QLatin1Char('/')));
        QCOMPARE(content, DiskImageTool::contentPath(a->mountPoint));
        QVERIFY(QFileInfo(content).isDir());
        QCOMPARE(l.getAccessWithAdmin(false, false, false), 3);
        QVERIFY(l.mountBDI()); // already attached: the same content
        QCOMPARE(l.getBDIContentPath(), content);

        QFile held(content + QStringLiteral("/held.txt"));
        QVERIFY(held.open(QIODevice::WriteOnly));
        QVERIFY(!l.unmountBDI());
        QVERIFY(l.isBDIActive());
        QCOMPARE(l.getContentPathVerify(false), content);
        held.close();

        QVERIFY(l.unmountBDI());
        QVERIFY(!l.isBDIActive() && l.getContentPathVerify(true).isNull());
        // A volume table in another process may still be probing the loop device: the kernel
        // lets it go when the last opener closes it.
        QTRY_VERIFY_WITH_TIMEOUT(!DiskImageTool::attachment(bundle), 5000);
        QVERIFY(!QFileInfo::exists(a->mountPoint));
        QCOMPARE(l.getAccessWithAdmin(false, false, false), 1);
        QVERIFY(!l.unmountBDI()); // nothing attached any more

        // A bundle that is not there: NO, and the location stays detached.
        ILocation gone;
        QVERIFY(gone.setupWithPath(dir.path()));
        gone.setPathFromMountPoint(QStringLiteral("/Backups/Gone.sparsebundle"));
        QVERIFY(gone.isBDI());
        QVERIFY(!gone.mountBDI());
        QVERIFY(!gone.isBDIActive() && gone.getContentPathVerify(true).isNull());
    }

    // A real ext4 volume is found again by its UUID after it was mounted elsewhere.
    void ext4FoundAgainByUUID()
    {
        KV_REQUIRE_ROOT();
        LoopImage image;
        QVERIFY2(image.createImage(LoopImage::FsType::Ext4), qPrintable(image.errorString()));
        QString out;
        QVERIFY(LoopImage::runTool("tune2fs", { "-U", kUuidA, image.imagePath() }, &out));
        QVERIFY2(image.attach() && image.mount(), qPrintable(image.errorString()));
        const QString a = image.mountPoint();
        QVERIFY(QDir().mkpath(a + "/Backups/2024"));

        FakeServices fake; // records as the volume table makes them from the mount
        fake.add("Data", a, kUuidA);
        ServicesScope scope(&fake);
        ILocation l;
        QVERIFY(l.setupWithPath(a + "/Backups/2024"));
        const QVariantMap stored = ILocation::dictFromLocation(l);
        QVERIFY(image.unmount());
        fake.items.clear();
        std::unique_ptr<ILocation> offline(ILocation::locationFromDict(stored));
        QVERIFY(!offline->isActive());
        QCOMPARE(offline->getDisplayName(), QStringLiteral("Data"));

        QVERIFY2(image.mount(), qPrintable(image.errorString()));
        const QString b = image.mountPoint();
        QVERIFY(b != a);
        fake.add("Other", a + "2", kUuidB); // a different volume with a similar path
        fake.add("Data", b, kUuidA);
        std::unique_ptr<ILocation> back(ILocation::locationFromDict(stored));
        QVERIFY(back->isActive());
        QCOMPARE(back->getFullPath(), b + "/Backups/2024");
    }
};

QTEST_MAIN(TestLocation)
#include "tst_location.moc"
