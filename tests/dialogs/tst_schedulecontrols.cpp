// kv-test: labels=gui timeout=120

// The schedule controls and the destination menu the settings sheets share: the clock per
// locale, the form going in and out through the real widgets, the destination items and their
// access and status tables.

#include "projects/DestinationItemList.h"
#include "projects/ILocation.h"
#include "projects/ScheduleDates.h"
#include "shell/dialogs/DestinationMenu.h"
#include "shell/dialogs/ScheduleControls.h"
#include "utilities/ICommon.h"

#include <QtTest>
#include <QtWidgets>

using namespace ScheduleFormRules;

namespace {

std::shared_ptr<ILocation> location(
    const QString& name, const QString& device, int type, bool writable, const QString& mount)
{
    std::shared_ptr<ILocation> l(ILocation::create());
    l->setDisplayName(name);
    l->setUserDevice(device);
    l->setDeviceType(type);
    l->setWritable(writable);
    l->setMountPoint(mount);
    l->setVolumeUUID(QUuid::createUuid().toString(QUuid::WithoutBraces));
    return l;
}

} // namespace

class TestScheduleControls : public QObject
{
    Q_OBJECT
private slots:
    void clockPerLocale_data();
    void clockPerLocale();
    void formRoundTrip_data();
    void formRoundTrip();
    void weekDaysByClicks();
    void typeShowsItsControls();
    void storedForm();
    void destinationItems();
    void destinationMenuWidget();
    void destinationAccessTable();
    void destinationStatusTable_data();
    void destinationStatusTable();
};

void TestScheduleControls::clockPerLocale_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<bool>("twelve");
    QTest::newRow("en_US") << "en_US" << true;
    QTest::newRow("de_DE") << "de_DE" << false;
}

void TestScheduleControls::clockPerLocale()
{
    QFETCH(QString, locale);
    QFETCH(bool, twelve);
    ScheduleControls c(nullptr, QLocale(locale));
    c.show();
    QCOMPARE(c.isTwelveHour(), twelve);
    QCOMPARE(c.hourPopup()->count(), twelve ? 12 : 24);
    QCOMPARE(c.hourPopup()->itemText(0), twelve ? QStringLiteral("12") : QStringLiteral("0"));
    QCOMPARE(c.amPmPopup()->isVisible(), twelve);
    QCOMPARE(c.minutePopup()->itemText(5), QStringLiteral("05"));
}

void TestScheduleControls::formRoundTrip_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("hour");
    QTest::addColumn<int>("interval");
    QTest::newRow("12h midnight") << "en_US" << 1 << 0 << 60;
    QTest::newRow("12h noon") << "en_US" << 1 << 12 << 60;
    QTest::newRow("12h evening") << "en_US" << 3 << 23 << 60;
    QTest::newRow("24h evening") << "de_DE" << 2 << 23 << 60;
    QTest::newRow("odd interval kept") << "de_DE" << 4 << 8 << 45;
}

void TestScheduleControls::formRoundTrip()
{
    QFETCH(QString, locale);
    QFETCH(int, type);
    QFETCH(int, hour);
    QFETCH(int, interval);
    ScheduleControls c(nullptr, QLocale(locale));
    ScheduleForm in;
    in.scheduled = true;
    in.type = type;
    in.hour = hour;
    in.minute = 7;
    in.monthDay = 17;
    in.weekDays = 0x15;
    in.interval = interval;
    c.setForm(in);
    QCOMPARE(c.form(), in);
}

void TestScheduleControls::weekDaysByClicks()
{
    ScheduleControls c(nullptr, QLocale(QStringLiteral("en_US")));
    c.show();
    ScheduleForm in;
    in.scheduled = true;
    in.type = CBSchedIntervalWeekDays;
    in.weekDays = 1; // Monday
    c.setForm(in);
    const int first = ICommon::getFirstWeekdayIndex();
    const int monday = ICommon::segmentForWeekDayBit(0, first);
    const int sunday = ICommon::segmentForWeekDayBit(6, first);
    QVERIFY(c.weekDaySegment(monday)->isChecked());
    QTest::mouseClick(c.weekDaySegment(sunday), Qt::LeftButton);
    QTest::mouseClick(c.weekDaySegment(monday), Qt::LeftButton);
    QCOMPARE(c.form().weekDays, 0x40);
    QTest::mouseClick(c.weekDaySegment(sunday), Qt::LeftButton);
    QCOMPARE(c.form().weekDays, 0);
    QCOMPARE(stored(c.form()).scheduled, false);

    // The segments survive a detour through another type.
    QTest::mouseClick(c.weekDaySegment(sunday), Qt::LeftButton);
    c.typePopup()->setCurrentIndex(c.typePopup()->findData(CBSchedIntervalDaily));
    Q_EMIT c.typePopup()->activated(c.typePopup()->currentIndex());
    c.typePopup()->setCurrentIndex(c.typePopup()->findData(CBSchedIntervalWeekDays));
    Q_EMIT c.typePopup()->activated(c.typePopup()->currentIndex());
    QCOMPARE(c.form().weekDays, 0x40);
}

void TestScheduleControls::typeShowsItsControls()
{
    ScheduleControls c(nullptr, QLocale(QStringLiteral("de_DE")));
    c.show();
    ScheduleForm f;
    f.scheduled = true;
    struct Case
    {
        int type;
        bool interval, day, time, weekDays, dayEnabled;
    };
    const Case cases[] = {
        { CBSchedIntervalMinutes, true, false, false, false, true },
        { CBSchedIntervalDaily, false, false, true, false, false },
        { CBSchedIntervalWeekDays, false, false, true, true, true },
        { CBSchedIntervalMonthly, false, true, true, false, true },
    };
    for (const Case& k : cases) {
        f.type = k.type;
        c.setForm(f);
        QCOMPARE(c.intervalPopup()->isVisible(), k.interval);
        QCOMPARE(c.dayPopup()->isVisible(), k.day);
        QCOMPARE(c.hourPopup()->isVisible(), k.time);
        QCOMPARE(c.weekDaySegment(0)->isVisible(), k.weekDays);
        QCOMPARE(c.dayPopup()->isEnabled(), k.dayEnabled);
    }
    QCOMPARE(c.dayPopup()->count(), 31);
    // Unchecking the box disables everything but itself.
    QTest::mouseClick(c.useScheduledCheck(), Qt::LeftButton);
    QVERIFY(!c.typePopup()->isEnabled());
    QVERIFY(!c.dayPopup()->isEnabled());
    QVERIFY(!c.form().scheduled);
}

void TestScheduleControls::storedForm()
{
    ScheduleForm f;
    f.scheduled = true;
    QVERIFY(!startIfLateEnabled({ true, CBSchedIntervalMinutes }));
    QVERIFY(startIfLateShown({ true, CBSchedIntervalMinutes }, false)); // disabled shows on
    QVERIFY(!startIfLateShown({ true, CBSchedIntervalDaily }, false));
    const QDateTime now(QDate(2026, 1, 15), QTime(10, 0));
    f.type = CBSchedIntervalDaily;
    f.hour = 9;
    f.minute = 30;
    QCOMPARE(nextDate(f, now), QDateTime(QDate(2026, 1, 16), QTime(9, 30)));
    f.scheduled = false;
    QVERIFY(nextDate(f, now).isNull());
}

void TestScheduleControls::destinationItems()
{
    DestinationItemList list;
    list.fill({ location("Root", "nvme0n1", ILocation::DeviceFixed, true, "/"),
        location("Home", "nvme0n1", ILocation::DeviceFixed, true, "/home"),
        location("Stick", "sdb", ILocation::DeviceUSB, true, "/media/u/Stick"),
        location("Sealed", "sdb", ILocation::DeviceUSB, false, "/media/u/Sealed") });
    QStringList shape;
    for (const DestinationItem& i : list.items())
        shape << (i.kind == DestinationItem::Header    ? "H:" + i.title
                : i.kind == DestinationItem::Separator ? QStringLiteral("-")
                                                       : QString::number(i.tag) + (i.enabled ? "" : "!"));
    QCOMPARE(shape, QStringList({ "1005", "H:Internal Disk(s)", "0", "1", "H:sdb", "2", "3!" }));

    // A destination away from the table is appended after one separator.
    auto away = location("Away", "sdc", ILocation::DeviceUSB, true, "/media/u/Away");
    const DestinationItem* added = list.addLocation(*away, true);
    QVERIFY(added);
    QCOMPARE(added->tag, 4);
    QCOMPARE(list.items().at(list.items().size() - 2).tag, DestinationItemList::tagExtraSeparator);
    list.addLocation(*location("Away2", "sdd", ILocation::DeviceUSB, true, "/media/u/Away2"), true);
    int separators = 0;
    for (const DestinationItem& i : list.items())
        separators += i.kind == DestinationItem::Separator;
    QCOMPARE(separators, 1);
    std::unique_ptr<ILocation> empty(ILocation::create());
    empty->setEmpty(true);
    QVERIFY(!list.addLocation(*empty, true));

    // Lookups.
    QCOMPARE(list.tagForLocation(nullptr), DestinationItemList::tagSelect);
    QCOMPARE(list.tagForLocation(away.get()), 4);
    QCOMPARE(list.tagForMountPoint("/home"), 1);
    QCOMPARE(list.tagForMountPoint("/nowhere"), -1);
    QCOMPARE(list.firstTagForDeviceType(ILocation::DeviceUSB), 2);
    QVERIFY(!list.locationForTag(DestinationItemList::tagSelect));
    QCOMPARE(list.locationForTag(2)->getDisplayName(), QStringLiteral("Stick"));
}

void TestScheduleControls::destinationMenuWidget()
{
    DestinationItemList list;
    list.fill({ location("Root", "nvme0n1", ILocation::DeviceFixed, true, "/"),
        location("Sealed", "sdb", ILocation::DeviceUSB, false, "/media/u/Sealed") });
    DestinationMenu menu;
    QSignalSpy filled(&menu, &DestinationMenu::filled);
    menu.setItems(list);
    QCOMPARE(filled.count(), 1);
    QCOMPARE(menu.count(), list.items().size());
    QCOMPARE(menu.selectedTag(), DestinationItemList::tagSelect);
    QVERIFY(menu.selectTag(0));
    QCOMPARE(menu.selectedLocation()->getDisplayName(), QStringLiteral("Root"));
    QVERIFY(!menu.selectTag(7));
    // Headers and a read-only volume cannot be chosen.
    auto* model = qobject_cast<QStandardItemModel*>(menu.model());
    QVERIFY(!(model->item(1)->flags() & Qt::ItemIsEnabled));
    QVERIFY(!(model->item(menu.findData(qint64(1)))->flags() & Qt::ItemIsEnabled));

    QSignalSpy chosen(&menu, &DestinationMenu::destinationChosen);
    QVERIFY(menu.addAndSelect(*location("Away", "sdc", ILocation::DeviceUSB, true, "/media/u/Away"), true));
    QCOMPARE(menu.selectedTag(), 2);
    QCOMPARE(chosen.count(), 0); // code selections are not the user's choice

    // The real volume table: the menu fills itself once the table reports its fill.
    DestinationMenu real;
    QSignalSpy realFilled(&real, &DestinationMenu::filled);
    real.refill();
    QVERIFY(real.isFilled() || realFilled.wait(10000));
    QCOMPARE(real.itemData(0).toLongLong(), DestinationItemList::tagSelect);
}

void TestScheduleControls::destinationAccessTable()
{
    using S = DestinationAccess::State;
    struct Case
    {
        std::optional<int> type;
        bool removable, mounted, url;
        S folder, automount, mount;
        bool title;
    };
    const Case cases[] = {
        { std::nullopt, true, true, true, S::Disabled, S::Disabled, S::Unchanged, false },
        { ILocation::DeviceUSB, true, false, false, S::Enabled, S::Enabled, S::Enabled, true },
        { ILocation::DeviceUSB, true, true, false, S::Enabled, S::Enabled, S::Disabled, true },
        { ILocation::DeviceUSB, false, true, false, S::Unchanged, S::Disabled, S::Disabled, true },
        { ILocation::DeviceCD, true, true, true, S::Disabled, S::Disabled, S::Disabled, false },
        { ILocation::DeviceToast, true, true, true, S::Disabled, S::Disabled, S::Disabled, false },
        { ILocation::DeviceNetwork, false, false, true, S::Enabled, S::Enabled, S::Enabled, true },
        { ILocation::DeviceNetworkVolume, false, true, false, S::Enabled, S::Disabled, S::Disabled, true },
        { ILocation::DeviceFixed, true, false, true, S::Enabled, S::Disabled, S::Disabled, false },
        { ILocation::DeviceImage, true, false, true, S::Enabled, S::Disabled, S::Disabled, false },
    };
    for (const Case& k : cases) {
        const DestinationAccess a = destinationAccess(k.type, k.removable, k.mounted, k.url);
        const QByteArray at = QByteArray::number(k.type.value_or(-9)) + "/" + QByteArray::number(k.removable)
            + QByteArray::number(k.mounted) + QByteArray::number(k.url);
        QVERIFY2(a.folder == k.folder && a.automount == k.automount && a.mountButton == k.mount
                && a.networkUsbAutomountTitle == k.title,
            at.constData());
    }
}

void TestScheduleControls::destinationStatusTable_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("mounted");
    QTest::addColumn<int>("access");
    QTest::addColumn<int>("target");
    QTest::addColumn<int>("icon");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("usable");
    using D = DestinationStatus;
    const QString unavailable = "Selected backup destination is currently unavailable";
    const QString incremental = "Incremental backup is available for the selected destination";
    QTest::newRow("none") << -1 << true << 4 << 0 << int(D::IconWarning) << "Select a Destination" << false;
    QTest::newRow("unmounted") << 1 << false << 4 << 0 << int(D::IconError) << unavailable << false;
    QTest::newRow("no access") << 1 << true << 0 << 0 << int(D::IconError) << unavailable << false;
    QTest::newRow("read-only") << 1 << true << 2 << 0 << int(D::IconError)
                               << "Backup destination is in Read-only mode" << false;
    QTest::newRow("rw image") << 0 << true << 3 << 1 << int(D::IconOk) << incremental << true;
    QTest::newRow("rw folder") << 0 << true << 3 << 0 << int(D::IconWarning)
                               << "Only full backup is available for the selected destination" << true;
    QTest::newRow("hard links") << 0 << true << 4 << 0 << int(D::IconOk) << incremental << true;
    QTest::newRow("preparable") << 4 << true << 1 << 0 << int(D::IconNone) << "" << true;
    QTest::newRow("data missing") << 4 << true << 5 << 0 << int(D::IconNone) << "" << true;
}

void TestScheduleControls::destinationStatusTable()
{
    QFETCH(int, type);
    QFETCH(bool, mounted);
    QFETCH(int, access);
    QFETCH(int, target);
    QFETCH(int, icon);
    QFETCH(QString, text);
    QFETCH(bool, usable);
    const DestinationStatus s = destinationStatus(type, mounted, access, target);
    QCOMPARE(int(s.icon), icon);
    QCOMPARE(s.text, text);
    QCOMPARE(s.usable, usable);
}

QTEST_MAIN(TestScheduleControls)
#include "tst_schedulecontrols.moc"
