// kv-test: labels=root timeout=300 fixtures=kv_loop_cleanup serial
#include "KvTest.h"
#include "LoopImage.h"
#include "TempTree.h"
#include "platform/DiskFacts.h"
#include "platform/UuidText.h"
#include "utilities/IDiskUtil.h"

#include <QDir>

// Disk information: versions on volumes, the key/value reader, descriptions of Linux kinds,
// device names, and a partitioned loop image end to end.
class TestDiskInfo : public QObject
{
    Q_OBJECT
private:
    static void writeVersion(TempTree& t, const std::string& root, const char* version)
    {
        QByteArray xml = "<plist version=\"1.0\"><dict>";
        if (version)
            xml += QByteArray("<key>ProductVersion</key><string>") + version + "</string>";
        xml += "</dict></plist>";
        QVERIFY(t.writeFile(root + "/System/Library/CoreServices/SystemVersion.plist", xml));
    }

private Q_SLOTS:
    void versions();
    void installHistory();
    void loadFile();
    void descriptions_data();
    void descriptions();
    void names();
    void privilegeRunner_data();
    void privilegeRunner();
    void partitionedImage();
};

void TestDiskInfo::versions()
{
    TempTree t(QStringLiteral("versions"));
    writeVersion(t, "a", "10.16.1");
    writeVersion(t, "b", "10.15.7");
    writeVersion(t, "c", nullptr);
    QCOMPARE(IDiskUtil::systemVersionForMountPoint(t.filePath(QStringLiteral("a"))), 110001);
    QCOMPARE(IDiskUtil::systemVersionForMountPoint(t.filePath(QStringLiteral("b"))), 101507);
    QCOMPARE(IDiskUtil::systemVersionForMountPoint(t.filePath(QStringLiteral("c"))), 0);
    QCOMPARE(IDiskUtil::systemVersionForMountPoint(t.filePath(QStringLiteral("none"))), 0);
    QCOMPARE(IDiskUtil::systemVersionToInt(QStringLiteral("10.16.1")), 101601);
    // The running system: the file under the system root, else 10.15.7 (never Debian's version).
    qputenv("KV_SYSTEM_ROOT", t.filePath(QStringLiteral("none")).toUtf8());
    IDiskUtil::resetSystemVersionCache();
    QCOMPARE(IDiskUtil::systemVersion(), 101507);
    qputenv("KV_SYSTEM_ROOT", t.filePath(QStringLiteral("a")).toUtf8());
    IDiskUtil::resetSystemVersionCache();
    QCOMPARE(IDiskUtil::systemVersion(), 110001);
    qunsetenv("KV_SYSTEM_ROOT");
    IDiskUtil::resetSystemVersionCache();
}

void TestDiskInfo::installHistory()
{
    TempTree t(QStringLiteral("history"));
    writeVersion(t, "v", "11.2.3");
    QVERIFY(t.writeFile(std::string("v/Library/Receipts/InstallHistory.plist"),
        QByteArray("<plist version=\"1.0\"><array>"
                   "<dict><key>displayName</key><string>macOS 11.2.3</string>"
                   "<key>displayVersion</key><string>11.2.3</string>"
                   "<key>packageIdentifiers</key><array><string>com.apple.pkg.macOS</string></array></dict>"
                   "<string>wrong type</string>"
                   "<dict><key>displayName</key><string>XProtect</string>"
                   "<key>packageIdentifiers</"
                   "key><array><string>com.apple.pkg.XProtectPayloads_10_15.16U4158</string></array></dict>"
                   "</array></plist>")));
    const VolumeSysVersion v = IDiskUtil::fullSystemVersionForMountPoint(t.filePath(QStringLiteral("v")));
    QCOMPARE(v.version, 110203);
    QCOMPARE(v.update, 0);
    QCOMPARE(v.securityData, 4158);
}

void TestDiskInfo::loadFile()
{
    TempTree t(QStringLiteral("kv"));
    QVERIFY(t.writeFile(std::string("info"),
        QByteArray(
            "   Device Node: /dev/sda1\r\nMount Point: /media/a:b\nEmpty:\n: novalue\nno colon here\n")));
    const std::optional<QVariantMap> d = IDiskUtil::loadFile(t.filePath(QStringLiteral("info")));
    QVERIFY(d);
    QCOMPARE(d->value("Device Node").toString(), QStringLiteral("/dev/sda1"));
    QCOMPARE(d->value("Mount Point").toString(), QStringLiteral("/media/a:b"));
    QCOMPARE(d->size(), 2);
    QVERIFY(t.writeFile(std::string("nocolon"), QByteArray("a\nb\n")));
    QVERIFY(!IDiskUtil::loadFile(t.filePath(QStringLiteral("nocolon"))));
    QVERIFY(!IDiskUtil::loadFile(t.filePath(QStringLiteral("missing"))));
}

void TestDiskInfo::descriptions_data()
{
    QTest::addColumn<QVariantMap>("dict");
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<QString>("fileSystem");
    QTest::addColumn<bool>("hfs");
    QTest::addColumn<bool>("apfs");
    QTest::addColumn<bool>("bootable");
    QTest::addColumn<bool>("visible");
    QTest::newRow("ext4 on GPT") << QVariantMap { { "DAVolumeKind", "ext4" } } << "GUID_partition_scheme"
                                 << "EXT4" << true << false << true << true;
    QTest::newRow("xfs on dos") << QVariantMap { { "DAVolumeKind", "xfs" } } << "FDisk_partition_scheme"
                                << "XFS" << true << false << false << true;
    QTest::newRow("btrfs no scheme") << QVariantMap { { "DAVolumeKind", "btrfs" } } << ""
                                     << "BTRFS" << false << true << false << true;
    QTest::newRow("vfat") << QVariantMap { { "DAVolumeKind", "vfat" } } << "GUID_partition_scheme"
                          << "VFAT" << false << false << false << true;
    QTest::newRow("grouped data") << QVariantMap { { "DAVolumeKind", "btrfs" }, { "VolGroupUUID", "G" },
        { "Role", "Data" } } << "GUID"
                                  << "BTRFS" << false << true << true << false;
    QTest::newRow("grouped system") << QVariantMap { { "DAVolumeKind", "btrfs" }, { "VolGroupUUID", "G" },
        { "Role", "System" } } << "GUID"
                                    << "BTRFS" << false << true << true << true;
    QTest::newRow("no role") << QVariantMap { { "DAVolumeKind", "btrfs" }, { "VolGroupUUID", "G" },
        { "Role", "No specific role" } }
                             << "GUID"
                             << "BTRFS" << false << true << true << true;
    QTest::newRow("autofs") << QVariantMap { { "DAVolumeKind", "autofs" } } << ""
                            << "AUTOFS" << false << false << false << false;
}

void TestDiskInfo::descriptions()
{
    QFETCH(QVariantMap, dict);
    QFETCH(QString, scheme);
    QFETCH(QString, fileSystem);
    QFETCH(bool, hfs);
    QFETCH(bool, apfs);
    QFETCH(bool, bootable);
    QFETCH(bool, visible);
    const DiskDescription d(dict, DiskDescription::DiskArbitration, scheme);
    QCOMPARE(d.fileSystem(), fileSystem);
    QCOMPARE(d.isHFS(), hfs);
    QCOMPARE(d.isAPFS(), apfs);
    QCOMPARE(d.isBootable(), bootable);
    QCOMPARE(d.isVisible(), visible);
    DiskDescription n(
        { { "Count", 1 }, { "Flag", QStringLiteral("Yes") } }, DiskDescription::DiskArbitration, QString());
    QVERIFY(!n.boolForKey(QStringLiteral("Count")));
    QVERIFY(n.boolForKey(QStringLiteral("Flag")));
    QCOMPARE(n.intForKey(QStringLiteral("Flag")), -1);
    QVERIFY(n.strForKey(QStringLiteral("Count")).isNull());
}

void TestDiskInfo::names()
{
    TempTree sys(QStringLiteral("sysnames"));
    QVERIFY(sys.writeFile(std::string("disk3/dev"), QByteArray("1:1\n")));
    QVERIFY(sys.writeFile(std::string("loop0/dev"), QByteArray("7:0\n")));
    QVERIFY(sys.writeFile(std::string("sda/dev"), QByteArray("8:0\n")));
    QVERIFY(sys.writeFile(std::string("sda/sda1/dev"), QByteArray("8:1\n")));
    QVERIFY(sys.writeFile(std::string("sda/sda1/partition"), QByteArray("1\n")));
    QVERIFY(sys.symlink("sda/sda1", "sda1"));
    DiskFacts::setSysClassBlock(sys.path());
    for (const char* none : { "disk3", "disk3s0", "sda", "loop0", "loop0s2", "" })
        QVERIFY2(IDiskUtil::wholeDiskForVolumeBSDName(QLatin1String(none)).isNull(), none);
    QCOMPARE(IDiskUtil::wholeDiskForVolumeBSDName(QStringLiteral("sda1")), QStringLiteral("sda"));
    QCOMPARE(IDiskUtil::wholeDiskForVolumeBSDName(QStringLiteral("/dev/loop0s256")), QStringLiteral("loop0"));
    QVERIFY(IDiskUtil::mountDiskForVolumeBSDName(QStringLiteral("disk3")).isNull());
    DiskFacts::setSysClassBlock(QString());
}

void TestDiskInfo::privilegeRunner_data()
{
    QTest::addColumn<QStringList>("argv");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");
    QTest::newRow("output") << QStringList { "sh", "-c", "echo 'one two'" } << 0 << "one two";
    QTest::newRow("status and error text")
        << QStringList { "sh", "-c", "echo busy >&2; exit 32" } << 32 << "busy";
    QTest::newRow("argument stays one word")
        << QStringList { "printf", "%s|", "a b", "$(id)" } << 0 << "a b|$(id)|";
    QTest::newRow("missing program") << QStringList { "/nonexistent/tool" } << 127 << QString();
}

// The runner the application installs: the tool's own output and status, never the root
// shell's pid line.
void TestDiskInfo::privilegeRunner()
{
    KV_REQUIRE_ROOT();
    QFETCH(QStringList, argv);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    const IDiskUtil::RootResult r = IDiskUtil::runWithPrivilegeBackend(argv);
    QVERIFY(r.started);
    QCOMPARE(r.exitCode, exitCode);
    if (!output.isNull())
        QCOMPARE(r.output, output);
    else
        QVERIFY2(r.output.contains(QLatin1String("/nonexistent/tool")), qPrintable(r.output));
}

void TestDiskInfo::partitionedImage()
{
    KV_REQUIRE_ROOT();
    // Mount and unmount as the application does, through the privilege backend.
    IDiskUtil::setRootRunner(&IDiskUtil::runWithPrivilegeBackend);
    auto restore = qScopeGuard([] { IDiskUtil::setRootRunner({}); });
    LoopImage img;
    QVERIFY2(img.createImage(LoopImage::FsType::Ext4, 64), qPrintable(img.errorString()));
    QString out;
    QVERIFY2(LoopImage::runTool(
                 QStringLiteral("sgdisk"), { "-o", "-n", "1:2048:0", "-t", "1:8300", img.imagePath() }, &out),
        qPrintable(out));
    QVERIFY(img.attach());
    LoopImage::runTool(QStringLiteral("partx"), { "-a", img.device() }, &out);
    const QString part = img.deviceName() + QStringLiteral("p1");
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(QStringLiteral("/dev/") + part), 5000);
    QVERIFY2(LoopImage::runTool(QStringLiteral("mkfs.ext4"),
                 { "-q", "-F", "-m", "0", "-L", "Part One", QStringLiteral("/dev/") + part }, &out),
        qPrintable(out));
    QString uuid;
    LoopImage::runTool(QStringLiteral("blkid"),
        { "-p", "-o", "value", "-s", "UUID", QStringLiteral("/dev/") + part }, &uuid);
    uuid = uuid.trimmed();
    QVERIFY2(!uuid.isEmpty(), "blkid reads the new file system's UUID");

    // Unmounted: mountdisk mounts it under /media/<user>/ and says so.
    IDiskUtil& du = IDiskUtil::shared();
    const QString answer = IDiskUtil::mountDiskForVolumeBSDName(part);
    QVERIFY2(answer.contains(QLatin1String("success")), qPrintable(answer));
    QString mp;
    QTRY_VERIFY2_WITH_TIMEOUT((mp = IDiskUtil::getMountPointWithUUID(uuid)).startsWith(QLatin1String("/media/")),
        qPrintable(mp + QLatin1String(" for ") + uuid), 5000);
    QVERIFY(du.getDiskInfo(mp));
    QVERIFY(du.wholePartititonType().contains(QLatin1String("GUID")));
    QCOMPARE(du.fileSystem(), QStringLiteral("EXT4"));
    QVERIFY(du.isHFS() && !du.isAPFS());
    QVERIFY(UuidText::equal(du.volumeUUID(), uuid));
    QCOMPARE(du.BSDName(), part);
    QCOMPARE(du.protocol(), QStringLiteral("VIRTUAL INTERFACE"));
    QVERIFY(du.reloadDiskUtilFullInfo());
    bool mounted = false;
    QCOMPARE(du.getVolumeBSDNameByUUID(uuid.toLower(), &mounted), part);
    QVERIFY(mounted); // any entry with a mount point counts as mounted
    QVERIFY(IDiskUtil::setToVolume(mp, true));
    QVERIFY(!IDiskUtil::setToVolume(mp, false));

    const QString off = IDiskUtil::unmountDiskForVolumeBSDName(part, false);
    QVERIFY2(off.contains(QLatin1String("success")), qPrintable(off));
    QVERIFY(IDiskUtil::getMountPointWithUUID(uuid).isEmpty());
    QDir().rmdir(mp);
    LoopImage::runTool(QStringLiteral("partx"), { "-d", img.device() }, &out);
}

QTEST_GUILESS_MAIN(TestDiskInfo)
#include "tst_diskinfo.moc"
