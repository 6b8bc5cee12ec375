// kv-test: labels=unit timeout=120 env=TZ=Europe/Berlin
#include "FakeLocationServices.h"
#include "KvTest.h"
#include "RecordingShellServices.h"
#include "ScriptedClock.h"
#include "TempTree.h"
#include "platform/NameCodec.h"
#include "platform/Subprocess.h"
#include "projects/ILocation.h"
#include "sync/ISynchron.h"
#include "utilities/LogOptions.h"
#include "utilities/RsyncExcludes.h"

#include <QtTest>

namespace {

QVariantMap place(const QString& mountPoint, const QString& inner, qint64 type = 0, const QString& uuid = "-")
{
    return QVariantMap { { "URL", "-" }, { "PathFromMountPoint", inner }, { "DisplayName", "disk" },
        { "VolumeUUID", uuid }, { "GroupVolumeUUID", "-" }, { "MountPoint", mountPoint },
        { "Automount", false }, { "DeviceType", type }, { "Removable", type == 1 } };
}

} // namespace

class TestSynchron : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void newProjectDefaultsAndDirections();
    void storedFormRoundTrip();
    void lenientLoading_data();
    void lenientLoading();
    void readiness_data();
    void readiness();
    void dueBySchedule_data();
    void dueBySchedule();
    void dueOnMount();
    void excludesMakeRealRsyncSkipExactlyThem_data();
    void excludesMakeRealRsyncSkipExactlyThem();
    void statusTextIsCutAtACharacter();

private:
    std::unique_ptr<FakeLocationServices> m_volumes;
    std::unique_ptr<RecordingShellServices> m_shell;
    std::unique_ptr<TempTree> m_tree;
};

void TestSynchron::init()
{
    m_volumes = std::make_unique<FakeLocationServices>();
    ILocationServices::setShared(m_volumes.get());
    m_shell = std::make_unique<RecordingShellServices>();
    IShellServices::setShared(m_shell.get());
    m_tree = std::make_unique<TempTree>(QStringLiteral("synchron"));
}

void TestSynchron::cleanup()
{
    ILocationServices::setShared(nullptr);
    IShellServices::setShared(nullptr);
    m_tree.reset();
}

void TestSynchron::newProjectDefaultsAndDirections()
{
    ISynchron p;
    p.setToDefault();
    QCOMPARE(p.options(), quint64(0));
    QCOMPARE(p.getScheduleIntervalType(), 2);
    QCOMPARE(p.getScheduleTimeHH(), 18);
    QCOMPARE(p.getScheduleTimeMM(), 30);
    QCOMPARE(p.getScheduleWeekDay(), 31);
    QCOMPARE(p.getScheduleMonthDay(), 1);
    QCOMPARE(p.getScheduleTimeInterval(), 240);
    QVERIFY(p.isStartCloningWarnDialog());
    QCOMPARE(p.card().type(), 1);

    p.setFirstLocation(std::shared_ptr<ILocation>(ILocation::create()));
    p.setSecondLocation(std::shared_ptr<ILocation>(ILocation::create()));
    ILocation* first = p.firstLocation().get();
    ILocation* second = p.secondLocation().get();
    p.setOptionDelete(true);
    p.setDirection(1);
    QCOMPARE(p.sourceLocationForPass(0), second);
    QCOMPARE(p.destLocationForPass(0), first);
    QCOMPARE(p.passCount(), 1);
    p.setDirection(2);
    QCOMPARE(p.passCount(), 2);
    QCOMPARE(p.sourceLocationForPass(0), first);
    QCOMPARE(p.sourceLocationForPass(1), second);
    QCOMPARE(p.destLocationForPass(1), first);
    QVERIFY(!p.isOptionDelete());
    QVERIFY(p.isOptionConsiderModDate());
    p.setDirection(3); // not a direction: ignored
    QCOMPARE(p.direction(), 2);

    p.setUseAdminPrivileges(false);
    QVERIFY(!p.isUseAdminPrivilegesForPass(-1));
    p.setSynchronType(1);
    QCOMPARE(p.card().type(), 0);
    QVERIFY(p.isUseAdminPrivilegesForPass(-1));
    QCOMPARE(p.systemExcludeListType(), 2);
}

void TestSynchron::storedFormRoundTrip()
{
    m_volumes->add("Disk", "/media/u/Disk", "1111-2222");
    ISynchron p;
    QVariantMap d { { "Name", "Photos" }, { "SynchronizeType", qint64(1) }, { "Direction", qint64(0) },
        { "Options", qint64(12) }, { "FirstLocation", place("/media/u/Disk", "/a b") },
        { "SecondLocation", place("/", "srv/c") }, { "LastDate", QDateTime(QDate(2024, 3, 1), QTime(10, 0)) },
        { "ExcludePathList", QVariantList { "/media/u/Disk/a b/x", "/tmp/y" } },
        { "Filters", QVariantMap { { "ExcludeInvisible", true }, { "ExcludePattern", "*.o|*.tmp" } } },
        { "Schedule",
            QVariantMap { { "UseScheduled", true }, { "ScheduleIntervalType", qint64(4) },
                { "TimeInterval", qint64(30) }, { "WeekDay", qint64(96) } } },
        { "ProcessOnMount", true }, { "USBAutomountForProcess", true }, { "CloneWarnDialog", false } };
    QVERIFY(p.loadFromDict(d, 2));
    QVariantMap saved;
    p.saveToDict(saved);
    ISynchron q;
    QVERIFY(q.loadFromDict(saved, 2));
    QVariantMap again;
    q.saveToDict(again);
    QCOMPARE(again, saved);
    QCOMPARE(q.synchronType(), 1);
    QCOMPARE(q.options(), quint64(12));
    QCOMPARE(q.getScheduleTimeInterval(), 30);
    QCOMPARE(q.getScheduleWeekDay(), 96);
    QVERIFY(q.isExcludeInvisible());
    QCOMPARE(q.getExcludePattern(), QStringLiteral("*.o|*.tmp"));
    QVERIFY(!q.isStartCloningWarnDialog());
    QVERIFY(q.isUSBAutomountForProcess());
    QCOMPARE(q.firstLocation()->getPathFromMountPoint(), QStringLiteral("/a b"));
    // every stored text of a place keeps its type: "-" stands for none
    const QVariantMap second = saved.value("SecondLocation").toMap();
    QCOMPARE(second.value("VolumeUUID"), QVariant(QStringLiteral("-")));
    QCOMPARE(second.value("DeviceType").typeId(), QMetaType::LongLong);
    QVERIFY(!second.contains("Tag"));
}

void TestSynchron::lenientLoading_data()
{
    QTest::addColumn<QVariantMap>("dict");
    QTest::addColumn<int>("scheme");
    QTest::addColumn<QString>("check");
    QTest::addColumn<QVariant>("expected");

    const QVariantMap base { { "Name", "P" } };
    auto with = [&](const QString& key, const QVariant& value) {
        QVariantMap d = base;
        d.insert(key, value);
        return d;
    };
    QTest::newRow("no name is no project")
        << QVariantMap { { "Direction", qint64(1) } } << 2 << "loaded" << QVariant(false);
    QTest::newRow("name of another type")
        << QVariantMap { { "Name", qint64(3) } } << 2 << "loaded" << QVariant(false);
    QTest::newRow("direction 3 ignored") << with("Direction", qint64(3)) << 2 << "direction" << QVariant(0);
    QTest::newRow("direction as text ignored") << with("Direction", "1") << 2 << "direction" << QVariant(0);
    QTest::newRow("type 2 ignored") << with("SynchronizeType", qint64(2)) << 2 << "type" << QVariant(0);
    QTest::newRow("missing warning switch is on") << base << 2 << "warn" << QVariant(true);
    QTest::newRow("type 4 without interval")
        << with("Schedule", QVariantMap { { "ScheduleIntervalType", qint64(4) } }) << 2 << "interval"
        << QVariant(240);
    QTest::newRow("interval 0") << with("Schedule", QVariantMap { { "TimeInterval", qint64(0) } }) << 2
                                << "interval" << QVariant(240);
    QTest::newRow("schedule of another type")
        << with("Schedule", "daily") << 2 << "interval" << QVariant(240);
    QTest::newRow("old week day 3") << with("Schedule", QVariantMap { { "WeekDay", qint64(3) } }) << 1
                                    << "weekday" << QVariant(4);
    QTest::newRow("old week day 0") << with("Schedule", QVariantMap { { "WeekDay", qint64(0) } }) << 1
                                    << "weekday" << QVariant(64);
    QTest::newRow("week-day mask") << with("Schedule", QVariantMap { { "WeekDay", qint64(3) } }) << 2
                                   << "weekday" << QVariant(3);
    QTest::newRow("scheme 0: a clone loads as a synchronization")
        << with("SynchronizeType", qint64(1)) << 0 << "type" << QVariant(0);
    QTest::newRow("device type 7 ignored")
        << with("FirstLocation", place("/mnt/x", "a", 7)) << 2 << "device" << QVariant(-1);
    QTest::newRow("device type 6 taken")
        << with("FirstLocation", place("/mnt/x", "a", 6)) << 2 << "device" << QVariant(6);
    QTest::newRow("dash values are none")
        << with("FirstLocation", place("-", "-")) << 2 << "mountpoint" << QVariant(QString());
    QTest::newRow("mount point / drops the uuid")
        << with("FirstLocation", place("/", "home", 0, "AAAA-BBBB")) << 2 << "uuid" << QVariant(QString());
    QTest::newRow("place of another type")
        << with("FirstLocation", "/mnt/x") << 2 << "hasfirst" << QVariant(false);
    QTest::newRow("excludes: texts only")
        << with("ExcludePathList", QVariantList { "/a", qint64(4), "/a", "" }) << 2 << "excludes"
        << QVariant(QStringList { "/a" });
}

void TestSynchron::lenientLoading()
{
    QFETCH(QVariantMap, dict);
    QFETCH(int, scheme);
    QFETCH(QString, check);
    QFETCH(QVariant, expected);
    ISynchron p;
    const bool loaded = p.loadFromDict(dict, scheme);
    QVariant got;
    if (check == "loaded")
        got = loaded;
    else if (check == "direction")
        got = p.direction();
    else if (check == "type")
        got = p.synchronType();
    else if (check == "warn")
        got = p.isStartCloningWarnDialog();
    else if (check == "interval")
        got = p.getScheduleTimeInterval();
    else if (check == "weekday")
        got = p.getScheduleWeekDay();
    else if (check == "device")
        got = p.firstLocation()->getDeviceType();
    else if (check == "mountpoint")
        got = p.firstLocation()->getMountPoint();
    else if (check == "uuid")
        got = p.firstLocation()->getVolumeUUID();
    else if (check == "hasfirst")
        got = bool(p.firstLocation());
    else if (check == "excludes")
        got = p.excludePathList().value_or(QStringList());
    QCOMPARE(got, expected);
}

void TestSynchron::readiness_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("direction");
    QTest::addColumn<QString>("second"); // "rw", "ro", "missing", "data-missing", "image"
    QTest::addColumn<bool>("unsupported");
    QTest::addColumn<int>("ready");
    QTest::newRow("synchronization, both writable") << 0 << 0 << "rw" << false << (1 << 1 | 4 | 8 | 16);
    QTest::newRow("synchronization into a read-only place") << 0 << 0 << "ro" << false << (2 | 16);
    QTest::newRow("read-only place as the source") << 0 << 1 << "ro" << false << (2 | 4 | 8 | 16);
    QTest::newRow("both ways need both writable") << 0 << 2 << "ro" << false << (2 | 16);
    QTest::newRow("synchronization, group data volume missing") << 0 << 0 << "data-missing" << false << 16;
    QTest::newRow("clone, group data volume missing") << 1 << 0 << "data-missing" << false << 20;
    QTest::newRow("clone, both writable") << 1 << 0 << "rw" << false << (2 | 4 | 8 | 16);
    QTest::newRow("unsupported clone") << 1 << 0 << "rw" << true << (2 | 8 | 16);
    QTest::newRow("unsupported clone onto an unattached image")
        << 1 << 0 << "image" << true << (2 | 8 | 16 | 64 | 128);
}

void TestSynchron::readiness()
{
    QFETCH(int, type);
    QFETCH(int, direction);
    QFETCH(QString, second);
    QFETCH(bool, unsupported);
    QFETCH(int, ready);
    QVERIFY(m_tree->mkdir("one/src") && m_tree->mkdir("two/dst"));
    const QString one = m_tree->filePath(QStringLiteral("one")),
                  two = m_tree->filePath(QStringLiteral("two"));
    m_volumes->add("One", one, "1111");
    const qint64 flags = second == "ro" ? qint64(VolumeBaseItem::FlagReadOnly) : 0;
    VolumeItemPtr item
        = m_volumes->add("Two", two, "2222", "ext4", VolumeBaseItem::ConnectionInternal, flags);
    if (second == "data-missing")
        item->role = VolumeBaseItem::RoleSystem;
    ISynchron p;
    QVariantMap d { { "Name", "P" }, { "SynchronizeType", qint64(type) }, { "Direction", qint64(direction) },
        { "UseAdminPrivileges", false }, { "FirstLocation", place(one, "/src", 0, "1111") },
        { "SecondLocation", place(two, second == "image" ? "/dst/x.sparsebundle" : "/dst", 0, "2222") } };
    QVERIFY(p.loadFromDict(d, 2));
    if (unsupported)
        p.card().add(analyticNoSupportClone);
    if (type == 1)
        p.setUseAdminPrivileges(false);
    // ReadyAll is never set; 2 = load content
    const int got = p.getReady();
    QCOMPARE(got, ready & ~1);
    if (type == 1) // a clone always runs as administrator, and says so in its stored form
        QVERIFY(p.isUseAdminPrivilegesForPass(-1));
}

void TestSynchron::dueBySchedule_data()
{
    QTest::addColumn<int>("minutesLate");
    QTest::addColumn<bool>("startIfLate");
    QTest::addColumn<bool>("due");
    QTest::addColumn<bool>("newDate");
    QTest::newRow("9 minutes late") << 9 << false << true << false;
    QTest::newRow("10 minutes late: skipped") << 10 << false << false << true;
    QTest::newRow("not yet") << -1 << false << false << false;
    QTest::newRow("a week late with start-if-late") << 7 * 24 * 60 << true << true << false;
}

void TestSynchron::dueBySchedule()
{
    QFETCH(int, minutesLate);
    QFETCH(bool, startIfLate);
    QFETCH(bool, due);
    QFETCH(bool, newDate);
    const QDateTime next(QDate(2024, 1, 15), QTime(18, 30)); // Monday
    ScriptedClock clock(next.addSecs(qint64(minutesLate) * 60 + 20));
    ISynchron p;
    p.setToDefault();
    p.setScheduled(true);
    p.setScheduleProcessStartIfLate(startIfLate);
    p.setNextProcessDate(next);
    QCOMPARE(p.isTimeToSynchronizeDate(clock.now(), 0, 0, 0, 0), due);
    QCOMPARE(p.getNextProcessDate() != next, newDate);
    if (newDate)
        QCOMPARE(p.getNextProcessDate(), QDateTime(QDate(2024, 1, 16), QTime(18, 30)));
    // a project without a next date gets one first
    ISynchron fresh;
    fresh.setToDefault();
    fresh.setScheduled(true);
    QVERIFY(!fresh.isTimeToSynchronizeDate(clock.now(), 0, 0, 0, 0));
    QVERIFY(fresh.getNextProcessDate().isValid());
}

void TestSynchron::dueOnMount()
{
    m_volumes->add("Stick", "/media/u/Stick", "AAAA-1111", "ext4", VolumeBaseItem::ConnectionUSB,
        VolumeBaseItem::FlagRemovable);
    m_volumes->add("Home", "/", "BBBB-2222");
    ISynchron p;
    QVERIFY(p.loadFromDict(QVariantMap { { "Name", "P" }, { "ProcessOnMount", true },
                               { "FirstLocation", place("/", "home/u", 0, "BBBB-2222") },
                               { "SecondLocation", place("/media/u/Stick", "/copy", 1, "AAAA-1111") } },
        2));
    QVERIFY(p.isNeedToProcessOnMount(QStringLiteral("/media/u/Stick")));
    QVERIFY(p.isSynchronProcessOnMountEnabled());
    QCOMPARE(p.volumeUUIDsForStartOnMount(), QStringList { "AAAA-1111" });
    // scheduled and on mount: only after a failed run
    p.setScheduled(true);
    QVERIFY(!p.isNeedToProcessOnMount(QStringLiteral("/media/u/Stick")));
    p.setLastProcessFailed(true);
    QVERIFY(p.isNeedToProcessOnMount(QStringLiteral("/media/u/Stick")));
    p.setProcessOnMount(false);
    QVERIFY(!p.isNeedToProcessOnMount(QStringLiteral("/media/u/Stick")));
}

void TestSynchron::excludesMakeRealRsyncSkipExactlyThem_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("firstFolder"); // relative to the tree; "/" for the root
    QTest::newRow("synchronization") << 0 << "src";
    QTest::newRow("clone") << 1 << "src";
}

void TestSynchron::excludesMakeRealRsyncSkipExactlyThem()
{
    QFETCH(int, type);
    QFETCH(QString, firstFolder);
    struct Item
    {
        std::string path; // inside src
        bool excluded;
    };
    const std::vector<Item> items = {
        { "tmp/a", true },
        { "sub/tmp/b", false }, // only the top tmp
        { "st*r", true },
        { "stXr", false },
        { "a[1]", true },
        { "a1", false },
        { "q?x", true },
        { "qZx", false },
        { "br{x}", true },
        { "brx", false },
        { "#c", true },
        { "nl\nx", true },
        { "nlYx", false },
        { "bad\xff name", true },
        { "bad name", false },
        { "deep/inner", true },
        { "deep/other", false },
    };
    for (const Item& i : items)
        QVERIFY2(m_tree->writeFile("src/" + i.path, "x"), i.path.c_str());
    QVERIFY(m_tree->writeFile(std::string("src2/x"), "x"));
    const QString src = m_tree->filePath(firstFolder);
    m_volumes->add("Tree", m_tree->path(), "7777");

    ISynchron p;
    p.setSynchronType(type);
    p.setFirstFolder(src);
    QVERIFY(p.firstLocation());
    for (const Item& i : items) {
        if (!i.excluded)
            continue;
        const std::string top = i.path;
        const QString name = NameCodec::decode(QByteArray::fromStdString(top));
        // a synchronization stores entries relative to its folders, a clone absolute paths
        p.addPathToExcludePathList(type == 0 ? name : src + QLatin1Char('/') + name);
    }
    if (type == 1) {
        // a sibling folder that only starts like the source, and a path elsewhere
        p.addPathToExcludePathList(m_tree->filePath(QStringLiteral("src2/x")));
        p.addPathToExcludePathList(QStringLiteral("/elsewhere/tmp"));
    }
    const ISynchron::ExcludeRules rules = p.customExcludeRules();
    QCOMPARE(rules.arguments.size(), 1); // the line-break name
    if (type == 1) {
        QVERIFY(rules.lines.contains("/elsewhere/tmp"));
        QVERIFY(!rules.lines.contains("/2/x")); // never the sibling cut short
    }
    TempTree tmp(QStringLiteral("synchronexcl"));
    QString error;
    const QString file = RsyncExcludes::writeFile(tmp.path(), rules.lines, &error);
    QVERIFY2(!file.isNull(), qPrintable(error));

    QVERIFY(m_tree->mkdir("dest"));
    Subprocess::Options o;
    o.program = QStringLiteral("rsync");
    o.arguments << QStringLiteral("-r") << QStringLiteral("--exclude-from=") + file;
    o.arguments += rules.arguments;
    o.arguments << src + QLatin1Char('/') << m_tree->filePath(QStringLiteral("dest")) + QLatin1Char('/');
    const Subprocess::Result r = Subprocess::run(o, 60000);
    QVERIFY2(r.started && r.exitCode == 0, r.err.constData());
    for (const Item& i : items)
        QVERIFY2(m_tree->exists("dest/" + i.path) != i.excluded, i.path.c_str());
}

void TestSynchron::statusTextIsCutAtACharacter()
{
    ISynchron p;
    QByteArray text(2045, 'a');
    text += "\xc3\xa9\xc3\xa9"; // two-byte characters across the limit
    p.processMessage(text, LogWord::StatusNowUtf8, nullptr);
    const QByteArray stored = p.lastStatusString().toUtf8();
    QCOMPARE(stored.size(), 2045);
    // progress lines never become the status
    p.processMessage(QByteArray("x (xfr#1, to-chk=1/2)"), LogWord::StatusNowUtf8, nullptr);
    QCOMPARE(p.lastStatusString().toUtf8(), stored);
}

QTEST_MAIN(TestSynchron)
#include "tst_synchron.moc"
