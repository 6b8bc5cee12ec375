// kv-test: labels=unit timeout=60 env=TZ=Europe/Berlin

#include "FakeBackup3Engine.h"
#include "FakeLocationServices.h"
#include "FakePlaceMounter.h"
#include "KvTest.h"
#include "RecordingBackup3Controller.h"
#include "RecordingShellServices.h"
#include "TempTree.h"
#include "platform/PlistBridge.h"
#include "projects/ILocation.h"
#include "snapshot/IBackup3.h"
#include "snapshot/IBackup3Container.h"
#include "utilities/ICommon.h"
#include "utilities/LogOptions.h"

#include <QtTest>
#include <unistd.h>

namespace {

const QString kSrcUUID = QStringLiteral("0A1B2C3D-0000-4000-8000-0000000000AA");
const QString kDestUUID = QStringLiteral("0A1B2C3D-0000-4000-8000-0000000000BB");
const QString kStickUUID = QStringLiteral("0A1B2C3D-0000-4000-8000-0000000000CC");

QVariantMap place(const QString& mountPoint, const QString& inner, const QString& uuid, qint64 type = 0,
    qint64 tag = -1, const QString& name = QStringLiteral("d"), const QString& url = QStringLiteral("-"))
{
    return QVariantMap { { "URL", url }, { "PathFromMountPoint", inner }, { "DisplayName", name },
        { "VolumeUUID", uuid }, { "MountPoint", mountPoint }, { "DeviceType", type }, { "Automount", false },
        { "Tag", tag }, { "Removable", type == 1 } };
}

} // namespace

// The places a run of a snapshot-backup project uses: work, wrapper, link and restore folders,
// the version list, the file-system questions of the copy options, the start-of-run lines and
// the mounting of places around a run.
class TestB3RunPlaces : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void runFolders_data();
    void runFolders();
    void restoreTargets_data();
    void restoreTargets();
    void macFileSystems_data();
    void macFileSystems();
    void doubleVolumeSource_data();
    void doubleVolumeSource();
    void versionListOfThisProject();
    void startLines();
    void onlyRunMarkedPlacesAreUnmounted();
    void automountNeedsFullAutomount();
    void unmountableDestinationStopsTheMount();
    void ownershipFlags();

private:
    std::shared_ptr<IBackup3> project(const QVariantList& sources, const QVariantMap& dest = QVariantMap());

    std::unique_ptr<RecordingBackup3Controller> m_pane;
    std::unique_ptr<RecordingShellServices> m_shell;
    std::unique_ptr<FakeLocationServices> m_volumes;
    std::unique_ptr<FakePlaceMounter> m_mounter;
    std::unique_ptr<TempTree> m_tree;
    std::unique_ptr<IBackup3Container> m_list;
};

void TestB3RunPlaces::init()
{
    m_pane = std::make_unique<RecordingBackup3Controller>();
    m_shell = std::make_unique<RecordingShellServices>();
    m_volumes = std::make_unique<FakeLocationServices>();
    m_mounter = std::make_unique<FakePlaceMounter>();
    IBackup3Controller::setShared(m_pane.get());
    IShellServices::setShared(m_shell.get());
    ILocationServices::setShared(m_volumes.get());
    IPlaceMounter::setShared(m_mounter.get());
    m_tree = std::make_unique<TempTree>(QStringLiteral("b3runplaces"));
    m_list = std::make_unique<IBackup3Container>(
        std::make_unique<FakeBackup3Engine>(), m_tree->filePath(QStringLiteral("Projects.plist")));
}

void TestB3RunPlaces::cleanup()
{
    m_list.reset();
    IBackup3Controller::setShared(nullptr);
    IShellServices::setShared(nullptr);
    ILocationServices::setShared(nullptr);
    IPlaceMounter::setShared(nullptr);
}

std::shared_ptr<IBackup3> TestB3RunPlaces::project(const QVariantList& sources, const QVariantMap& dest)
{
    auto p = m_list->createNewBackup3(QStringLiteral("Docs"));
    QVariantMap d;
    p->saveToDict(d);
    d.insert(QStringLiteral("Sources"), sources);
    if (!dest.isEmpty())
        d.insert(QStringLiteral("Destination"), dest);
    p->loadFromDict(d, 1);
    return p;
}

void TestB3RunPlaces::runFolders_data()
{
    QTest::addColumn<QVariantMap>("source");
    QTest::addColumn<QString>("lastFolder");
    QTest::addColumn<QString>("work"); // the pass's wrapper in the work folder
    QTest::addColumn<QString>("link"); // null: none
    const QString w = QStringLiteral("/mnt/b/Backups/Docs_1/QV3ProcessTemporaryFolder/");
    const QString l = QStringLiteral("/mnt/b/Backups/Docs_1/b3_2024-05-01_20-30-00/");
    QTest::newRow("folder source") << place("/mnt/data", "/Projects", kSrcUUID, 0, 3)
                                   << "b3_2024-05-01_20-30-00" << w + "Projects.wrp3" << l + "Projects.wrp3";
    QTest::newRow("start volume is named by its volume")
        << place("/", "", "-", 0, 1, "Macintosh HD") << "b3_2024-05-01_20-30-00" << w + "Macintosh HD.wrp1"
        << l + "Macintosh HD.wrp1";
    QTest::newRow("no earlier version: nothing to link")
        << place("/mnt/data", "/Projects", kSrcUUID, 0, 3) << QString() << w + "Projects.wrp3" << QString();
    QTest::newRow("a version folder that is not one component is not followed")
        << place("/mnt/data", "/Projects", kSrcUUID, 0, 3) << "../other" << w + "Projects.wrp3" << QString();
}

void TestB3RunPlaces::runFolders()
{
    QFETCH(QVariantMap, source);
    QFETCH(QString, lastFolder);
    QFETCH(QString, work);
    QFETCH(QString, link);
    auto p = project({ source }, place("/mnt/b", "/Backups", kDestUUID));
    QVERIFY(p->destFolderPath().isNull()); // no project folder chosen yet
    p->setProjectBackupFolder(QStringLiteral("Docs_1"));
    p->setLastProcessFolder(lastFolder);
    const QString workFolder = p->destFolderPath();
    QCOMPARE(workFolder, QStringLiteral("/mnt/b/Backups/Docs_1/QV3ProcessTemporaryFolder"));
    QCOMPARE(p->destFolderPathForPass(0, workFolder), work);
    QCOMPARE(p->destPathForPass(0), workFolder);
    QCOMPARE(p->linkFolderPathForPass(0), link);
    QVERIFY(p->destFolderPathForPass(1, workFolder).isNull());
    QVERIFY(p->destFolderPathForPass(0, QString()).isNull());
    QVERIFY(p->linkFolderPathForPass(-1).isNull());
}

void TestB3RunPlaces::restoreTargets_data()
{
    QTest::addColumn<QStringList>("paths"); // archive paths of the request
    QTest::addColumn<int>("level");
    QTest::addColumn<QStringList>("targets"); // below the target folder, "-" for none
    QTest::newRow("same names in two folders are kept apart")
        << QStringList { "Docs/a.txt", "Mail/a.txt" } << 0 << QStringList { "Docs", "Mail" };
    QTest::newRow("a lone item goes into the target itself")
        << QStringList { "Docs/a.txt" } << 0 << QStringList { "" };
    QTest::newRow("level 1 recreates the parent")
        << QStringList { "x/Docs/a.txt" } << 1 << QStringList { "Docs" };
    QTest::newRow("level 5 on a path of depth 2 gives nothing")
        << QStringList { "Docs/a.txt" } << 5 << QStringList { "-" };
}

void TestB3RunPlaces::restoreTargets()
{
    QFETCH(QStringList, paths);
    QFETCH(int, level);
    QFETCH(QStringList, targets);
    auto p = project({ place("/mnt/data", "/Projects", kSrcUUID, 0, 1) });
    p->setUseAdminPrivileges(false);
    QList<B3RestoreItem> request;
    for (const QString& path : paths) {
        B3RestoreItem item;
        item.SrcLocation = p->srcLocations().at(0);
        item.ArchivePath = path;
        item.ItemLevelNumber = level;
        request << item;
    }
    p->setRestoreData(request);
    const QString target = m_tree->filePath(QStringLiteral("target"));
    QVERIFY(m_tree->mkdir("target"));
    p->setRestorePath(target);
    QVERIFY(p->sourcePathForPass(0).isNull()); // a restore has no backup source
    for (int i = 0; i < paths.size(); ++i) {
        const QString got = p->restoreDestFolderPathForPass(i);
        if (targets.at(i) == QLatin1String("-")) {
            QVERIFY(got.isNull());
            continue;
        }
        const QString expected = targets.at(i).isEmpty() ? target : target + QLatin1Char('/') + targets.at(i);
        QCOMPARE(got, expected);
        QVERIFY(QFileInfo(got).isDir()); // made for the restore
    }
    QVERIFY(p->restoreDestFolderPathForPass(paths.size()).isNull());
}

void TestB3RunPlaces::macFileSystems_data()
{
    QTest::addColumn<QString>("srcFs");
    QTest::addColumn<QString>("destFs");
    QTest::addColumn<int>("targetType");
    QTest::addColumn<bool>("mac");
    QTest::newRow("ext4 to btrfs") << "ext4"
                                   << "btrfs" << 0 << true;
    QTest::newRow("btrfs to xfs") << "btrfs"
                                  << "xfs" << 0 << true;
    QTest::newRow("ext2 to ext3") << "ext2"
                                  << "ext3" << 0 << true;
    QTest::newRow("ext4 to vfat") << "ext4"
                                  << "vfat" << 0 << false;
    QTest::newRow("ext4 to exfat") << "ext4"
                                   << "exfat" << 0 << false;
    QTest::newRow("ntfs to ext4") << "ntfs3"
                                  << "ext4" << 0 << false;
    QTest::newRow("share to ext4") << "fuse.sshfs"
                                   << "ext4" << 0 << false;
    QTest::newRow("ext4 to an image on vfat") << "ext4"
                                              << "vfat" << 1 << true;
    QTest::newRow("vfat to an image") << "vfat"
                                      << "vfat" << 2 << false;
}

void TestB3RunPlaces::macFileSystems()
{
    QFETCH(QString, srcFs);
    QFETCH(QString, destFs);
    QFETCH(int, targetType);
    QFETCH(bool, mac);
    m_volumes->add(QStringLiteral("Src"), QStringLiteral("/mnt/src"), kSrcUUID, srcFs);
    m_volumes->add(QStringLiteral("Dest"), QStringLiteral("/mnt/dest"), kDestUUID, destFs);
    auto p = project({ place("/mnt/src", "/Docs", kSrcUUID) }, place("/mnt/dest", "/B", kDestUUID));
    p->setBackupTargetType(targetType);
    QCOMPARE(p->isMacSrcDestForPass(0), mac);
    QCOMPARE(p->isMacDest(), !QStringList({ "vfat", "exfat" }).contains(destFs));
    QVERIFY(!p->isMacSrcDestForPass(1)); // no such pass
}

void TestB3RunPlaces::doubleVolumeSource_data()
{
    QTest::addColumn<QString>("productVersion"); // empty: no SystemVersion.plist
    QTest::addColumn<bool>("grouped");
    QTest::addColumn<bool>("answer");
    QTest::newRow("10.15 in a group") << "10.15.7" << true << true;
    QTest::newRow("10.14 in a group") << "10.14.6" << true << false;
    QTest::newRow("no version file counts as 10.15.7") << "" << true << true;
    QTest::newRow("not in a group") << "12.1" << false << false;
}

void TestB3RunPlaces::doubleVolumeSource()
{
    QFETCH(QString, productVersion);
    QFETCH(bool, grouped);
    QFETCH(bool, answer);
    const QString root = m_tree->filePath(QStringLiteral("sysroot"));
    QVERIFY(m_tree->mkdir("sysroot/System/Library/CoreServices"));
    if (!productVersion.isEmpty())
        QVERIFY(PlistBridge::writeFileAtomically(
            root + QStringLiteral("/System/Library/CoreServices/SystemVersion.plist"),
            QVariantMap { { "ProductVersion", productVersion } }));
    qputenv("KV_SYSTEM_ROOT", root.toLocal8Bit());
    ICommon::resetCaches();
    auto system = m_volumes->add(
        QStringLiteral("System"), QStringLiteral("/mnt/sys"), kSrcUUID, QStringLiteral("btrfs"));
    if (grouped) {
        auto data = m_volumes->add(
            QStringLiteral("Data"), QStringLiteral("/mnt/sys/data"), kDestUUID, QStringLiteral("btrfs"));
        system->partnerDevice = data->source;
        data->partnerDevice = system->source;
        system->role = VolumeBaseItem::RoleSystem;
        data->role = VolumeBaseItem::RoleData;
    }
    auto p = project({ place("/mnt/sys", "", kSrcUUID) });
    const bool got = p->isSourceDoubleVolumeSystemForPass(0);
    const bool outside = p->isSourceDoubleVolumeSystemForPass(1);
    qunsetenv("KV_SYSTEM_ROOT");
    ICommon::resetCaches();
    QCOMPARE(got, answer);
    QVERIFY(!outside);
}

void TestB3RunPlaces::versionListOfThisProject()
{
    QVERIFY(m_tree->mkdir("dest/B/Docs_1"));
    const QString mp = m_tree->filePath(QStringLiteral("dest"));
    m_volumes->add(QStringLiteral("Dest"), mp, kDestUUID);
    auto p = project({}, place(mp, "/B", kDestUUID));
    p->setProjectBackupFolder(QStringLiteral("Docs_1"));
    const QString list = mp + QStringLiteral("/B/Docs_1/qv3info.plist");
    QVERIFY(p->QV3InfoPath().isNull()); // no list yet
    QVERIFY(PlistBridge::writeFileAtomically(list, QVariantMap { { "ProjectUUID", p->UUID() } }));
    QCOMPARE(p->QV3InfoPath(), list);
    QVERIFY(PlistBridge::writeFileAtomically(list, QVariantMap { { "ProjectUUID", "ANOTHER-PROJECT" } }));
    QVERIFY(p->QV3InfoPath().isNull());
    QVERIFY(m_tree->writeFile(std::string("dest/B/Docs_1/qv3info.plist"), "not a list"));
    QVERIFY(p->QV3InfoPath().isNull());
    p->setProjectBackupFolder(QStringLiteral("Missing"));
    QVERIFY(p->QV3InfoPath().isNull());
}

void TestB3RunPlaces::startLines()
{
    m_volumes->add(QStringLiteral("Data"), QStringLiteral("/mnt/data"), kSrcUUID);
    auto p = project(
        { place("/mnt/data", "/home/u/Docs", kSrcUUID, 0, 1), place("/mnt/data", "", kSrcUUID, 0, 2) },
        place("/mnt/data", "/B", kSrcUUID));
    m_shell->clear();
    p->setProcessingBySchedule(true);
    p->printStartStatisticToLog();
    const auto lines = m_shell->messages();
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines.at(0).text, QByteArray("Started by scheduler"));
    QVERIFY(lines.at(1).text.startsWith("Source \"Docs\" Info: "));
    QVERIFY(lines.at(2).text.startsWith("Source \"Data\" Info: ")); // a whole volume: its name
    QVERIFY(lines.at(3).text.startsWith("Destination Volume Info: "));
    for (const auto& line : lines)
        QCOMPARE(line.options, LogWord::ProjectRunLog);
    m_shell->clear();
    p->setProcessingBySchedule(false);
    p->setBackupTargetType(1);
    p->printStartStatisticToLog();
    QCOMPARE(m_shell->messages().first().text, QByteArray("Started by user"));
    QVERIFY(m_shell->messages().last().text.startsWith("Destination Volume Info: Disk Image; "));
}

void TestB3RunPlaces::onlyRunMarkedPlacesAreUnmounted()
{
    // the share of source 1 is mounted by the run; source 2's share was mounted by the user
    m_volumes->add(QStringLiteral("Other"), QStringLiteral("/mnt/other"), kStickUUID,
        QStringLiteral("fuse.sshfs"), VolumeBaseItem::ConnectionNet);
    m_volumes->items.last()->source = QStringLiteral("sftp://h/other");
    auto p = project({ place("/media/u/share", "/x", "-", 6, 1, "share", "sftp://h/share"),
                         place("/mnt/other", "/y", "-", 6, 2, "Other", "sftp://h/other") },
        place("/mnt/stick", "/B", kDestUUID, 1, -1, "stick"));
    p->setFullAutomount(true);
    m_mounter->device = QStringLiteral("sdz1");
    QVERIFY(p->doAutomount());
    QCOMPARE(m_mounter->calls, (QStringList { "mount disk sdz1", "mount share" }));
    QVERIFY(p->destLocation()->isFlag(ILocation::FlagUnmountAfterRun));
    QVERIFY(p->srcLocations().at(0)->isFlag(ILocation::FlagUnmountAfterRun));
    QVERIFY(!p->srcLocations().at(1)->isFlag(ILocation::FlagUnmountAfterRun));
    // the destination volume is now mounted: the table shows it
    m_volumes->add(QStringLiteral("stick"), QStringLiteral("/mnt/stick"), kDestUUID, QStringLiteral("ext4"),
        VolumeBaseItem::ConnectionUSB);
    QVERIFY(p->destLocation()->isActiveForce());
    m_mounter->calls.clear();
    p->doAutoUnmount();
    QCOMPARE(m_mounter->calls, (QStringList { "unmount stick", "unmount share" }));
    QVERIFY(!p->destLocation()->isFlag(ILocation::FlagUnmountAfterRun));
    // the settings sheet's mount marks nothing for unmounting
    m_volumes->items.removeLast();
    p->destLocation()->reset();
    m_mounter->calls.clear();
    QVERIFY(p->doMount());
    QVERIFY(!p->destLocation()->isFlag(ILocation::FlagUnmountAfterRun));
    m_mounter->calls.clear();
    p->doAutoUnmount();
    QVERIFY(m_mounter->calls.isEmpty());
}

void TestB3RunPlaces::automountNeedsFullAutomount()
{
    auto p = project({ place("/media/u/share", "/x", "-", 6, 1, "share", "sftp://h/share") },
        place("/mnt/stick", "/B", kDestUUID, 1, -1, "stick"));
    m_mounter->device = QStringLiteral("sdz1");
    p->setFullAutomount(false);
    QVERIFY(!p->doAutomount());
    QVERIFY(m_mounter->calls.isEmpty());
    // a failing share is reported, the others are still tried
    m_mounter->mountSucceeds = false;
    m_shell->clear();
    QVERIFY(!p->doMount());
    QVERIFY(m_mounter->calls.contains(QStringLiteral("mount share")));
    QCOMPARE(m_shell->messages().at(0).text, QByteArray("Source \"share\" automount error"));
    QCOMPARE(m_shell->messages().at(0).options, LogWord::ProjectWindowRunLog);
}

void TestB3RunPlaces::unmountableDestinationStopsTheMount()
{
    auto p = project({ place("/media/u/share", "/x", "-", 6, 1, "share", "sftp://h/share") },
        place("/mnt/stick", "/B", kDestUUID, 1, -1, "stick"));
    p->setFullAutomount(true);
    // the destination's device is not found: no source is tried
    m_mounter->device.clear();
    QVERIFY(!p->doAutomount());
    QVERIFY(m_mounter->calls.isEmpty());
    // the disk tool refuses: the same
    m_mounter->device = QStringLiteral("sdz1");
    m_mounter->diskAnswer = QStringLiteral("Volume(s) on sdz failed to mount: busy\n");
    QVERIFY(!p->doAutomount());
    QCOMPARE(m_mounter->calls, QStringList { "mount disk sdz1" });
    QVERIFY(!p->destLocation()->isFlag(ILocation::FlagUnmountAfterRun));
    // a network destination that cannot be mounted
    auto q = project({ place("/media/u/share", "/x", "-", 6, 1, "share", "sftp://h/share") },
        place("/media/u/nas", "/B", "-", 6, -1, "nas", "sftp://h/nas"));
    q->setFullAutomount(true);
    m_mounter->mountSucceeds = false;
    m_mounter->calls.clear();
    m_shell->clear();
    QVERIFY(!q->doAutomount());
    QCOMPARE(m_mounter->calls, QStringList { "mount nas" });
    QCOMPARE(m_shell->messages().at(0).text, QByteArray("Target automount error"));
}

void TestB3RunPlaces::ownershipFlags()
{
    auto p = project({}, place("/mnt/b", "/B", kDestUUID));
    QVERIFY(p->doOwnersEnablePepare());
    if (::geteuid() == 0) {
        QVERIFY(p->destLocation()->isFlag(ILocation::FlagOwnersEnabled));
        QVERIFY(p->destLocation()->isFlag(1));
    } else {
        QCOMPARE(p->destLocation()->getFlags(), qint64(0));
    }
    QVERIFY(p->doOwnersEnableEnding());
    QVERIFY(!p->destLocation()->isFlag(ILocation::FlagOwnersEnabled));
    // an image destination: ownership stays on, nothing to clear
    p->setBackupTargetType(1);
    p->destLocation()->setFlags(0);
    p->doOwnersEnablePepare();
    QVERIFY(!p->destLocation()->isFlag(ILocation::FlagOwnersEnabled));
}

QTEST_GUILESS_MAIN(TestB3RunPlaces)
#include "tst_b3runplaces.moc"
