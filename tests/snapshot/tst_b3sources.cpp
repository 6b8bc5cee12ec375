// kv-test: labels=unit timeout=60 env=TZ=Europe/Berlin

#include "FakeBackup3Engine.h"
#include "FakeLocationServices.h"
#include "KvTest.h"
#include "RecordingBackup3Controller.h"
#include "RecordingShellServices.h"
#include "TempTree.h"
#include "projects/ILocation.h"
#include "snapshot/IBackup3.h"
#include "snapshot/IBackup3Container.h"
#include "utilities/LogOptions.h"
#include "utilities/WorkEndStatus.h"

#include <QtTest>

namespace {

const QString kDataUUID = QStringLiteral("0A1B2C3D-0000-4000-8000-0000000000DA");
const QString kStickUUID = QStringLiteral("0A1B2C3D-0000-4000-8000-00000000571C");

QVariantMap place(const QString& mountPoint, const QString& inner, const QString& uuid = QStringLiteral("-"),
    qint64 type = 0, qint64 tag = -1, const QString& name = QStringLiteral("d"))
{
    return QVariantMap { { "URL", "-" }, { "PathFromMountPoint", inner }, { "DisplayName", name },
        { "VolumeUUID", uuid }, { "MountPoint", mountPoint }, { "DeviceType", type }, { "Automount", false },
        { "Tag", tag }, { "Removable", type == 1 } };
}

} // namespace

// The places of a snapshot-backup project bound to the volume table: their stored form, the
// source list with its tags, the usable sources of a run and the copies a duplicate gets.
class TestB3Sources : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void storedPlace_data();
    void storedPlace();
    void boundPlaceTakesTheVolumeAsMountedNow();
    void tagsOfSources();
    void usableSources();
    void allSourcesUnusable_data();
    void allSourcesUnusable();
    void duplicateGetsItsOwnPlaces();
    void dueOnMount_data();
    void dueOnMount();

private:
    std::shared_ptr<IBackup3> projectWithSources(const QVariantList& sources);

    std::unique_ptr<RecordingBackup3Controller> m_pane;
    std::unique_ptr<RecordingShellServices> m_shell;
    std::unique_ptr<FakeLocationServices> m_volumes;
    std::unique_ptr<TempTree> m_tree;
    std::unique_ptr<IBackup3Container> m_list;
};

void TestB3Sources::init()
{
    m_pane = std::make_unique<RecordingBackup3Controller>();
    m_shell = std::make_unique<RecordingShellServices>();
    m_volumes = std::make_unique<FakeLocationServices>();
    IBackup3Controller::setShared(m_pane.get());
    IShellServices::setShared(m_shell.get());
    ILocationServices::setShared(m_volumes.get());
    m_tree = std::make_unique<TempTree>(QStringLiteral("b3sources"));
    m_list = std::make_unique<IBackup3Container>(
        std::make_unique<FakeBackup3Engine>(), m_tree->filePath(QStringLiteral("Projects.plist")));
}

void TestB3Sources::cleanup()
{
    m_list.reset();
    IBackup3Controller::setShared(nullptr);
    IShellServices::setShared(nullptr);
    ILocationServices::setShared(nullptr);
}

std::shared_ptr<IBackup3> TestB3Sources::projectWithSources(const QVariantList& sources)
{
    auto p = m_list->createNewBackup3(QStringLiteral("Docs"));
    QVariantMap d;
    p->saveToDict(d);
    d.insert(QStringLiteral("Sources"), sources);
    p->loadFromDict(d, 1);
    return p;
}

void TestB3Sources::storedPlace_data()
{
    QTest::addColumn<QVariantMap>("stored");
    QTest::addColumn<bool>("kept");
    QTest::addColumn<QString>("uuid");
    QTest::addColumn<int>("type");
    QTest::newRow("start volume: found by its mount point, not its UUID")
        << place("/", "home/u", kDataUUID) << true << QString() << 0;
    QTest::newRow("cloud disk type 7 is kept")
        << place("/mnt/c", "/x", kDataUUID, 7) << true << kDataUUID << 7;
    QTest::newRow("type 9 leaves a new place's type")
        << place("/mnt/c", "/x", kDataUUID, 9) << true << kDataUUID << -1;
    QVariantMap wrongTypes = place("/mnt/c", "/x", kDataUUID);
    wrongTypes.insert(QStringLiteral("DeviceType"), QStringLiteral("1"));
    wrongTypes.insert(QStringLiteral("VolumeUUID"), qint64(4));
    QTest::newRow("values of a wrong type count as absent") << wrongTypes << true << QString() << -1;
    QTest::newRow("a place naming nothing is dropped")
        << QVariantMap { { "DeviceType", qint64(-1) } } << false << QString() << 0;
}

void TestB3Sources::storedPlace()
{
    QFETCH(QVariantMap, stored);
    QFETCH(bool, kept);
    QFETCH(QString, uuid);
    QFETCH(int, type);
    const std::shared_ptr<ILocation> l = IBackup3::locationFromDict(stored);
    QCOMPARE(bool(l), kept);
    if (!l)
        return;
    QCOMPARE(l->getVolumeUUID(), uuid);
    QCOMPARE(l->getDeviceType(), type);
    QVERIFY(!l->isActive()); // no such volume is mounted
    // an unbound place is written back as it was read, "-" standing for none
    const QVariantMap back = IBackup3::dictFromLocation(*l);
    QCOMPARE(back.value("PathFromMountPoint"), stored.value("PathFromMountPoint"));
    QCOMPARE(back.value("MountPoint"), stored.value("MountPoint"));
    QCOMPARE(back.value("URL").toString(), QStringLiteral("-"));
    QCOMPARE(back.value("VolumeUUID").toString(), uuid.isEmpty() ? QStringLiteral("-") : uuid);
    QCOMPARE(back.value("DeviceType").typeId(), int(QMetaType::LongLong));
}

void TestB3Sources::boundPlaceTakesTheVolumeAsMountedNow()
{
    // the volume was mounted under another path since the list was saved
    m_volumes->add(
        QStringLiteral("Data"), QStringLiteral("/mnt/data-new"), kDataUUID, QStringLiteral("btrfs"));
    const std::shared_ptr<ILocation> l
        = IBackup3::locationFromDict(place("/mnt/data", "/Projects", kDataUUID));
    QVERIFY(l && l->isActive());
    QCOMPARE(l->getUnverifiedFullPath(), QStringLiteral("/mnt/data-new/Projects"));
    QVERIFY(l->isAPFS());
    QCOMPARE(IBackup3::dictFromLocation(*l).value("DisplayName").toString(), QStringLiteral("Data"));
}

void TestB3Sources::tagsOfSources()
{
    // a stored counter below the loaded tags is raised, so a new source never shares a wrapper
    QVariantMap d;
    IBackup3 p;
    p.saveToDict(d);
    d.insert(QStringLiteral("TagForSrcLocations"), qint64(1));
    d.insert(QStringLiteral("Sources"),
        QVariantList {
            place("/mnt/a", "/Docs", kDataUUID, 0, 5), place("/mnt/a", "/Mail", kDataUUID, 0, -1) });
    QVERIFY(p.loadFromDict(d, 1));
    QCOMPARE(p.srcLocationCount(), 2);
    QCOMPARE(p.srcLocations().at(1)->getTag(), 2); // no tag: its position + 1
    QCOMPARE(p.tagForLocations(), 5);

    std::shared_ptr<ILocation> again(ILocation::createCopy(*p.srcLocations().at(0)));
    QVERIFY(!p.addSrcLocation(again));
    QVERIFY(!p.addSrcLocation(nullptr));
    QCOMPARE(p.tagForLocations(), 5);
    QCOMPARE(p.srcLocationCount(), 2);
    std::shared_ptr<ILocation> other(ILocation::createCopy(*p.srcLocations().at(0)));
    other->setPathFromMountPoint(QStringLiteral("/Docs2"));
    QVERIFY(p.addSrcLocation(other));
    QCOMPARE(other->getTag(), 6);
    QCOMPARE(p.tagForLocations(), 6);
    // the stored form keeps every tag
    QVariantMap saved;
    p.saveToDict(saved);
    QList<qint64> tags;
    for (const QVariant& s : saved.value(QStringLiteral("Sources")).toList())
        tags << s.toMap().value(QStringLiteral("Tag")).toLongLong();
    QCOMPARE(tags, (QList<qint64> { 5, 2, 6 }));
}

void TestB3Sources::usableSources()
{
    QVERIFY(m_tree->mkdir("vol/Docs") && m_tree->mkdir("vol/Cache"));
    const QString mp = m_tree->filePath(QStringLiteral("vol"));
    m_volumes->add(QStringLiteral("Data"), mp, kDataUUID);
    auto p = projectWithSources(
        { place(mp, "/Docs", kDataUUID), place(mp, "/Gone", kDataUUID), place(mp, "/Cache", kDataUUID) });
    QCOMPARE(p->srcLocationCount(), 3);
    p->addPathToExcludePathList(mp + QStringLiteral("/Cache"));
    m_shell->clear();
    QList<long> passes { 7 };
    quint32 status = 0;
    QVERIFY(p->testSrcLocations(passes, &status));
    QCOMPARE(passes, (QList<long> { 0 }));
    QCOMPARE(status, quint32(wesWarnings));
    QCOMPARE(m_shell->messages().size(), 1);
    QCOMPARE(
        m_shell->messages().at(0).text, QByteArray("Warning: Source file/folder \"Gone\" was not found!"));
    QCOMPARE(m_shell->messages().at(0).options, LogWord::ProjectRunLog);
    QCOMPARE(p->srcFolderPathForPass(0), mp + QStringLiteral("/Docs"));
    QVERIFY(!p->srcLocations().at(0)->isAutomount()); // set for the check only
}

void TestB3Sources::allSourcesUnusable_data()
{
    QTest::addColumn<bool>("excluded"); // else missing
    QTest::newRow("every source excluded") << true;
    QTest::newRow("every source missing") << false;
}

void TestB3Sources::allSourcesUnusable()
{
    QFETCH(bool, excluded);
    QVERIFY(m_tree->mkdir("vol/Docs"));
    const QString mp = m_tree->filePath(QStringLiteral("vol"));
    m_volumes->add(QStringLiteral("Data"), mp, kDataUUID);
    auto p = projectWithSources({ place(mp, excluded ? "/Docs" : "/Gone", kDataUUID) });
    if (excluded)
        p->addPathToExcludePathList(mp + QStringLiteral("/Docs"));
    m_shell->clear();
    QList<long> passes;
    quint32 status = 0;
    QVERIFY(!p->testSrcLocations(passes, &status));
    QVERIFY(passes.isEmpty());
    QCOMPARE(status, excluded ? quint32(0) : quint32(wesWarnings));
    QVERIFY(!m_shell->messages().isEmpty());
    QCOMPARE(m_shell->messages().last().text, QByteArray("Files to back up are not found"));
    QCOMPARE(m_shell->messages().last().options, LogWord::ProjectWindowRunLog);
    // without sources there is nothing to say
    IBackup3 empty;
    QVERIFY(!empty.testSrcLocations(passes, nullptr));
}

void TestB3Sources::duplicateGetsItsOwnPlaces()
{
    auto docs = projectWithSources(
        { place("/mnt/a", "/Docs", kDataUUID, 0, 3), place("/mnt/stick", "/Mail", kStickUUID, 1, 4) });
    docs->setDestLocation(IBackup3::locationFromDict(place("/mnt/b", "/Backups", kDataUUID)));
    auto copy = docs->duplicateProject();
    QVERIFY(copy);
    QCOMPARE(copy->srcLocationCount(), 2);
    for (int i = 0; i < 2; ++i) {
        QVERIFY(copy->srcLocations().at(i) != docs->srcLocations().at(i));
        QCOMPARE(copy->srcLocations().at(i)->getTag(), docs->srcLocations().at(i)->getTag());
        QCOMPARE(copy->srcFolderPathForPass(i), docs->srcFolderPathForPass(i));
    }
    QVERIFY(copy->destLocation() && copy->destLocation() != docs->destLocation());
    QCOMPARE(copy->destinationFullPath(), QStringLiteral("/mnt/b/Backups"));
    QVERIFY(copy->tagForLocations() >= 4);
    // a run mark on the copy's source stays with the copy
    copy->srcLocations().at(1)->setFlags(ILocation::FlagUnmountAfterRun);
    copy->srcLocations().at(1)->setAutomount(true);
    QCOMPARE(docs->srcLocations().at(1)->getFlags(), qint64(0));
    QVERIFY(!docs->srcLocations().at(1)->isAutomount());
}

void TestB3Sources::dueOnMount_data()
{
    QTest::addColumn<bool>("scheduled");
    QTest::addColumn<bool>("lastFailed");
    QTest::addColumn<bool>("onMount");
    QTest::addColumn<QString>("mountedUUID");
    QTest::addColumn<bool>("withDestination");
    QTest::addColumn<bool>("due");
    QTest::newRow("unscheduled") << false << false << true << kStickUUID << true << true;
    QTest::newRow("scheduled, last run failed") << true << true << true << kStickUUID << true << true;
    QTest::newRow("scheduled, last run fine") << true << false << true << kStickUUID << true << false;
    QTest::newRow("no run on mount") << false << false << false << kStickUUID << true << false;
    QTest::newRow("another volume") << false << false << true << kDataUUID << true << false;
    QTest::newRow("no destination") << false << false << true << kStickUUID << false << false;
}

void TestB3Sources::dueOnMount()
{
    QFETCH(bool, scheduled);
    QFETCH(bool, lastFailed);
    QFETCH(bool, onMount);
    QFETCH(QString, mountedUUID);
    QFETCH(bool, withDestination);
    QFETCH(bool, due);
    m_volumes->add(QStringLiteral("root"), QStringLiteral("/"), kDataUUID);
    // the stick was just mounted under a new path; the project stored it elsewhere
    m_volumes->add(QStringLiteral("stick"), QStringLiteral("/mnt/qvtest-new"), mountedUUID,
        QStringLiteral("ext4"), VolumeBaseItem::ConnectionUSB);
    auto p = projectWithSources({ place("/mnt/qvtest-old", "/Docs", kStickUUID, 1, 1, "stick") });
    if (withDestination)
        p->setDestLocation(IBackup3::locationFromDict(place("/", "srv/backups", "-")));
    p->setScheduled(scheduled);
    p->setLastProcessFailed(lastFailed);
    p->setProcessOnMount(onMount);
    QCOMPARE(p->isNeedToProcessOnMount(QStringLiteral("/mnt/qvtest-new")), due);
}

QTEST_GUILESS_MAIN(TestB3Sources)
#include "tst_b3sources.moc"
