// kv-test: labels=unit timeout=60 env=DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/kv-no-bus

// The synchronization and clone settings sheets' forms: what a project shows and what OK stores
// (names, delete options by direction, week days without a day, a kept interval, start if late,
// a clone's old interval type, the clone boxes of an internal destination), and "mount now" over a
// fake mounter: a failed first place is reported with both texts and the second image waits.

#include "../utilities/WorkspaceFixture.h"
#include "FakePlaceMounter.h"
#include "platform/LoginItem.h"
#include "projects/IAgentTool.h"
#include "RecordingShellServices.h"
#include "panes/sync/SyncPropertiesDialogs.h"
#include "panes/sync/SyncPropertiesForm.h"
#include "projects/ILocation.h"
#include "sync/ISynchron.h"
#include "utilities/LogOptions.h"

#include <QtTest>

using namespace SyncPropertiesForm;

class TestSyncSheets : public QObject
{
    Q_OBJECT
private slots:
    void syncRoundTrip();
    void cloneRoundTrip();
    void mountNowReportsFailures();
    void agentAtSheetEnd();
};

namespace {

auto taken(const QStringList& names)
{
    return [names](const QString& n) { return !names.contains(n); };
}

const QDateTime kNow(QDate(2026, 12, 11), QTime(9, 0));

} // namespace

void TestSyncSheets::syncRoundTrip()
{
    ISynchron P;
    P.setName(QStringLiteral("Mine"));
    P.setDirection(2);
    P.setOptionDelete(true);
    P.setScheduled(true);
    P.setScheduleIntervalType(4);
    P.setScheduleTimeInterval(90);
    SyncForm f = fromSynchron(P);
    // Both ways: delete and date are not offered, and OK leaves them as they were.
    QVERIFY(!f.deleteAndDateEnabled);
    // An interval that is not in the list is kept.
    QCOMPARE(f.schedule.form.interval, 90);
    f.noDelete = true;
    f.name = QStringLiteral("Docs");
    f.schedule.startIfLate = false; // an interval schedule shows the box disabled and checked
    store(f, P, taken({ "Docs" }), kNow);
    QCOMPARE(P.name(), QStringLiteral("Docs1"));
    QVERIFY(P.isOptionDelete());
    QCOMPARE(P.getScheduleTimeInterval(), 90);
    QVERIFY(P.isScheduleProcessStartIfLate());
    QCOMPARE(P.getNextProcessDate(), kNow.addSecs(90 * 60));

    // Week days without a day: the schedule is switched off; "/" in a name is shown as "|".
    f = fromSynchron(P);
    f.schedule.form.type = 2;
    f.schedule.form.weekDays = 0;
    f.name = QStringLiteral("a/b");
    store(f, P, taken({}), kNow);
    QVERIFY(!P.isScheduled());
    QVERIFY(!P.getNextProcessDate().isValid());
    QCOMPARE(P.name(), QStringLiteral("a|b"));

    // The pattern is stored only while its box is on; one direction stores the delete box.
    P.setDirection(0);
    f = fromSynchron(P);
    QVERIFY(f.deleteAndDateEnabled);
    f.noDelete = true;
    f.excludeByPattern = false;
    f.pattern = QStringLiteral("*.tmp");
    store(f, P, taken({}), kNow);
    QVERIFY(!P.isOptionDelete());
    QVERIFY(P.getExcludePattern().isEmpty());
}

void TestSyncSheets::cloneRoundTrip()
{
    ISynchron C;
    C.setSynchronType(1);
    C.setName(QStringLiteral("Copy"));
    C.setScheduled(true);
    C.setScheduleIntervalType(4); // an older file: intervals are not offered for clones
    C.setScheduleTimeHHMM(20, 15);
    C.setProcessOnMount(true);
    C.setUSBAutomountForProcess(true);
    std::shared_ptr<ILocation> internal(ILocation::create());
    C.setSecondLocation(internal);
    CloneForm f = fromClone(C);
    QCOMPARE(f.schedule.form.type, 1);
    QVERIFY(!f.usbRemovableDestination);
    f.startWarning = false;
    store(f, C, taken({}), kNow);
    QCOMPARE(C.getScheduleIntervalType(), 1);
    QCOMPARE(C.getNextProcessDate(), QDateTime(kNow.date(), QTime(20, 15)));
    // An internal destination: both boxes are off whatever they showed.
    QVERIFY(!C.isProcessOnMount());
    QVERIFY(!C.isUSBAutomountForProcess());
    QVERIFY(!C.isStartCloningWarnDialog());
}

void TestSyncSheets::mountNowReportsFailures()
{
    RecordingShellServices shell;
    IShellServices::setShared(&shell);
    FakePlaceMounter mounter;
    mounter.mountSucceeds = false;
    IPlaceMounter::setShared(&mounter);
    ISynchron P;
    P.setName(QStringLiteral("Share"));
    std::shared_ptr<ILocation> share(ILocation::create());
    share->setDeviceType(6);
    share->setDisplayName(QStringLiteral("server"));
    P.setFirstLocation(share);
    SyncPropertiesDialog::mountNow(P);
    QCOMPARE(mounter.calls, QStringList { "mount server" });
    const auto msgs = shell.messages();
    QCOMPARE(msgs.size(), 2);
    QCOMPARE(msgs.at(0).text, QByteArray("Left Target automount error"));
    QCOMPARE(msgs.at(0).options, LogWord::WindowPrefixedNow);
    QCOMPARE(msgs.at(1).options, LogWord::RunLogPrefixedNow);
    IPlaceMounter::setShared(nullptr);
    IShellServices::setShared(nullptr);
}

// A project that becomes scheduled in its sheet while the agent is not needed: scheduled starts
// go on and the agent is set to start at login (its autostart file in XDG_CONFIG_HOME). Cancel
// changes nothing.
void TestSyncSheets::agentAtSheetEnd()
{
    WorkspaceFixture ws;
    QTemporaryDir runtime;
    const QByteArray oldRuntime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    RecordingShellServices shell;
    IShellServices::setShared(&shell);
    PrefsAgentState& state = MainPreferences::shared().agentState();
    state.setOff(0xf);
    ISynchron P;
    P.setName(QStringLiteral("Nightly"));
    P.setScheduled(true);
    const QString file = LoginItem::autostartFilePath(QString::fromLatin1(IAgentTool::agentBundleIdentifier));
    endSynchronProperties(nullptr, false, P, false);
    QCOMPARE(state.getInt(), 0);
    QVERIFY(!QFile::exists(file));
    endSynchronProperties(nullptr, true, P, false);
    QCOMPARE(state.getInt() & (1 | 8), 1 | 8);
    QVERIFY(QFile::exists(file));
    IShellServices::setShared(nullptr);
    qputenv("XDG_RUNTIME_DIR", oldRuntime);
}

QTEST_MAIN(TestSyncSheets)
#include "tst_syncsheets.moc"
