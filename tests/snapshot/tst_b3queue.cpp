// kv-test: labels=unit timeout=60 env=TZ=Europe/Berlin

#include "FakeBackup3Engine.h"
#include "FakeLocationServices.h"
#include "KvTest.h"
#include "MemoryKeychain.h"
#include "RecordingBackup3Controller.h"
#include "RecordingShellServices.h"
#include "ScriptedClock.h"
#include "TempTree.h"
#include "snapshot/IBackup3.h"
#include "snapshot/IBackup3Container.h"
#include "utilities/ProjectKeychain.h"

#include <QtTest>

namespace {

// A stored source, so that a project is ready to run.
QVariantMap sourceDict(const QString& path, qint64 tag)
{
    return QVariantMap { { "URL", "file:///" }, { "PathFromMountPoint", path.mid(1) },
        { "DisplayName", "root" }, { "VolumeUUID", "-" }, { "MountPoint", "/" }, { "DeviceType", qint64(0) },
        { "Automount", false }, { "Tag", tag }, { "Removable", false } };
}

} // namespace

class TestB3Queue : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void scheduleNumbers_data();
    void scheduleNumbers();
    void exactlyTheDueProjectsRunOneAtATimeInOrder();
    void userStartDuringAScheduledRunRunsNext();
    void emptyQueueReportsResultZero();
    void failedStartLeavesTheProjectIdle();
    void deletingRunningAndQueuedProjects();
    void deletingRemovesTheImagePassword_data();
    void deletingRemovesTheImagePassword();
    void abortAndUnmount();
    void agentData();

private:
    std::shared_ptr<IBackup3> add(const QString& name, bool ready = true);

    std::unique_ptr<RecordingBackup3Controller> m_pane;
    std::unique_ptr<RecordingShellServices> m_shell;
    // no volume is mounted: stored places stay as stored
    std::unique_ptr<FakeLocationServices> m_volumes;
    std::unique_ptr<TempTree> m_tree;
    std::unique_ptr<ScriptedClock> m_clock;
    std::unique_ptr<IBackup3Container> m_list;
    FakeBackup3Engine* m_engine = nullptr;
};

void TestB3Queue::init()
{
    m_pane = std::make_unique<RecordingBackup3Controller>();
    m_shell = std::make_unique<RecordingShellServices>();
    IBackup3Controller::setShared(m_pane.get());
    IShellServices::setShared(m_shell.get());
    m_volumes = std::make_unique<FakeLocationServices>();
    ILocationServices::setShared(m_volumes.get());
    m_tree = std::make_unique<TempTree>(QStringLiteral("b3queue"));
    m_clock = std::make_unique<ScriptedClock>(QDateTime(QDate(2024, 1, 15), QTime(18, 30, 20))); // Monday
    auto engine = std::make_unique<FakeBackup3Engine>();
    m_engine = engine.get();
    m_list = std::make_unique<IBackup3Container>(
        std::move(engine), m_tree->filePath(QStringLiteral("Projects.plist")));
}

void TestB3Queue::cleanup()
{
    m_list.reset();
    m_clock.reset();
    IBackup3Controller::setShared(nullptr);
    IShellServices::setShared(nullptr);
    ILocationServices::setShared(nullptr);
}

std::shared_ptr<IBackup3> TestB3Queue::add(const QString& name, bool ready)
{
    auto p = m_list->createNewBackup3(name);
    if (ready) {
        QVariantMap d;
        p->saveToDict(d);
        d.insert(QStringLiteral("Sources"), QVariantList { sourceDict(QStringLiteral("/home/") + name, 1) });
        p->loadFromDict(d, 1);
    }
    return p;
}

void TestB3Queue::scheduleNumbers_data()
{
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QList<int>>("wdhm");
    QTest::newRow("Monday 18:30") << QDateTime(QDate(2024, 1, 15), QTime(18, 30))
                                  << QList<int> { 1, 15, 18, 30 };
    QTest::newRow("Sunday is 0") << QDateTime(QDate(2024, 5, 5), QTime(7, 5)) << QList<int> { 0, 5, 7, 5 };
    QTest::newRow("a UTC moment in local time")
        << QDateTime(QDate(2024, 5, 4), QTime(23, 15), Qt::UTC) << QList<int> { 0, 5, 1, 15 };
}

void TestB3Queue::scheduleNumbers()
{
    QFETCH(QDateTime, now);
    QFETCH(QList<int>, wdhm);
    int W, D, H, M;
    IBackup3Container::scheduleNumbers(now, &W, &D, &H, &M);
    QCOMPARE((QList<int> { W, D, H, M }), wdhm);
}

void TestB3Queue::exactlyTheDueProjectsRunOneAtATimeInOrder()
{
    const QDateTime now = m_clock->now();
    auto due = add(QStringLiteral("due"));
    auto late = add(QStringLiteral("late"));
    auto future = add(QStringLiteral("future"));
    auto off = add(QStringLiteral("off"));
    auto missed = add(QStringLiteral("missed"));
    for (const auto& p : { due, late, future, off, missed }) {
        p->setScheduled(true);
        p->setScheduleProcessStartIfLate(false);
        p->setScheduleIntervalType(1);
    }
    due->setNextProcessDate(now.addSecs(-300));
    late->setScheduleProcessStartIfLate(true);
    late->setNextProcessDate(now.addDays(-7));
    future->setNextProcessDate(now.addSecs(600));
    off->setScheduled(false);
    off->setNextProcessDate(now.addSecs(-300));
    missed->setNextProcessDate(now.addSecs(-900));

    m_list->scheduleProcess();
    // the first due project runs, the second waits
    QCOMPARE(m_engine->started.size(), 1);
    QCOMPARE(m_engine->started.at(0).project, due);
    QVERIFY(m_engine->started.at(0).bySchedule);
    QVERIFY(!m_engine->started.at(0).runTag.isEmpty());
    QVERIFY(due->isInState(IBackup3::OpRunning));
    QVERIFY(late->isInState(IBackup3::OpQueued));
    QCOMPARE(late->lastStatusString(), QStringLiteral("Project is in queue"));
    QCOMPARE(m_list->processingList().size(), 1);
    for (const auto& p : { future, off, missed })
        QVERIFY(!p->isInProcess());
    // the started project got its next date
    QCOMPARE(due->getNextProcessDate(), QDateTime(QDate(2024, 1, 16), QTime(18, 30)));

    // while one runs, nothing else starts, and a second check queues nothing twice
    m_list->scheduleProcess();
    QCOMPARE(m_engine->started.size(), 1);
    QCOMPARE(m_list->processingList().size(), 1);

    m_engine->finish(0);
    m_list->processNext();
    QCOMPARE(m_engine->started.size(), 2);
    QCOMPARE(m_engine->started.at(1).project, late);
    m_engine->finish(0);
    m_list->processNext();
    QCOMPARE(m_engine->started.size(), 2);
    QCOMPARE(m_pane->finishedCodes, (QList<int> { 0, 0, 0 })); // two runs and the empty queue
}

void TestB3Queue::userStartDuringAScheduledRunRunsNext()
{
    auto scheduled = add(QStringLiteral("scheduled"));
    auto user = add(QStringLiteral("user"));
    auto notReady = add(QStringLiteral("empty"), false);
    scheduled->setScheduled(true);
    scheduled->setNextProcessDate(m_clock->now().addSecs(-60));
    m_list->scheduleProcess();
    QCOMPARE(m_engine->started.size(), 1);

    m_list->processBackup3(user);
    m_list->processBackup3(user); // already queued: once only
    m_list->processBackup3(scheduled); // running: not queued again
    m_list->processBackup3(notReady); // no source: not queued
    m_list->processBackup3(nullptr);
    QCOMPARE(m_list->processingList(), (QList<std::shared_ptr<IBackup3>> { user }));
    QVERIFY(!user->isProcessingBySchedule());
    m_engine->finish(3);
    m_list->processNext();
    QCOMPARE(m_engine->started.size(), 2);
    QCOMPARE(m_engine->started.at(1).project, user);
    QVERIFY(!m_engine->started.at(1).bySchedule);
    QVERIFY(m_engine->started.at(0).runTag != m_engine->started.at(1).runTag);
    QVERIFY(m_list->processingList().isEmpty());
}

void TestB3Queue::emptyQueueReportsResultZero()
{
    m_list->processNext();
    QCOMPARE(m_engine->preprocessFailures, 1);
    QCOMPARE(m_pane->finishedCodes, QList<int> { 0 });
    QVERIFY(!m_list->isProcessing());
}

void TestB3Queue::failedStartLeavesTheProjectIdle()
{
    auto p = add(QStringLiteral("p"));
    m_engine->failStart = true;
    m_list->processBackup3(p);
    QCOMPARE(m_engine->started.size(), 1);
    QVERIFY(!p->isInProcess());
    QCOMPARE(m_engine->preprocessFailures, 1);
    QVERIFY(m_list->processingList().isEmpty());
    QVERIFY(!m_list->isProcessing());
}

void TestB3Queue::deletingRunningAndQueuedProjects()
{
    auto running = add(QStringLiteral("running"));
    auto queued = add(QStringLiteral("queued"));
    m_list->processBackup3(running);
    m_list->addBackup3ToProcessingList(queued);
    QVERIFY(queued->isInState(IBackup3::OpQueued));

    QVERIFY(m_list->setCurrentBackup3ByIndex(0));
    QVERIFY(!m_list->deleteCurrentBackup3());
    QCOMPARE(m_list->countOfBackups3(), 2);

    QVERIFY(m_list->setCurrentBackup3ByIndex(1));
    QVERIFY(m_list->deleteCurrentBackup3());
    QCOMPARE(m_list->countOfBackups3(), 1);
    QVERIFY(m_list->processingList().isEmpty());
    QVERIFY(!queued->isInProcess());
    QCOMPARE(m_list->currentBackup3(), running);

    m_engine->finish(0);
    m_list->processNext(); // the deleted project never runs
    QCOMPARE(m_engine->started.size(), 1);
    QVERIFY(m_list->deleteCurrentBackup3());
    QCOMPARE(m_list->currentBackup3Index(), qint64(-1));
    QVERIFY(!m_list->deleteCurrentBackup3());
}

void TestB3Queue::deletingRemovesTheImagePassword_data()
{
    QTest::addColumn<int>("targetType");
    QTest::addColumn<int>("itemsLeft"); // of the project's item and another project's
    QTest::newRow("encrypted image: its password goes") << 2 << 1;
    QTest::newRow("plain image: nothing to remove") << 1 << 2;
    QTest::newRow("folder destination") << 0 << 2;
}

void TestB3Queue::deletingRemovesTheImagePassword()
{
    QFETCH(int, targetType);
    QFETCH(int, itemsLeft);
    MemoryKeychain keychain;
    auto p = add(QStringLiteral("Docs"));
    p->setBackupTargetType(targetType);
    const QString kind = ProjectKeychain::itemKind();
    keychain.items << MemoryKeychain::Item { ProjectKeychain::serviceForName(p->name()), p->UUID(), kind,
        QString(), QStringLiteral("secret") };
    keychain.items << MemoryKeychain::Item { ProjectKeychain::serviceForName(QStringLiteral("Other")),
        QStringLiteral("OTHER-UUID"), kind, QString(), QStringLiteral("other") };
    QVERIFY(m_list->setCurrentBackup3ByIndex(m_list->indexOfBackup3(p.get())));
    QVERIFY(m_list->deleteCurrentBackup3());
    QCOMPARE(keychain.items.size(), itemsLeft);
    QCOMPARE(keychain.items.last().account, QStringLiteral("OTHER-UUID"));
    // without an item the keychain is left as it is
    auto q = add(QStringLiteral("Mail"));
    q->setBackupTargetType(2);
    QVERIFY(m_list->setCurrentBackup3ByIndex(m_list->indexOfBackup3(q.get())));
    QVERIFY(m_list->deleteCurrentBackup3());
    QCOMPARE(keychain.items.size(), itemsLeft);
}

void TestB3Queue::abortAndUnmount()
{
    auto running = add(QStringLiteral("running"));
    auto queued = add(QStringLiteral("queued"));
    m_list->processBackup3(running);
    m_list->processBackup3(queued);
    m_list->setCurrentBackup3ByIndex(1);
    m_list->abortProcessCurrentProject();
    QVERIFY(!queued->isInProcess());
    QVERIFY(m_list->processingList().isEmpty());
    // the running project has no destination volume present: the run is ended
    m_list->diskWasUnmount();
    QCOMPARE(m_engine->terminationReasons, QList<int> { 2 });
    QVERIFY(!running->isInProcess());
    // a stop of the current running project
    m_list->processBackup3(running);
    m_list->setCurrentBackup3ByIndex(0);
    m_list->abortProcessCurrentProject();
    QCOMPARE(m_engine->terminations, 1);
    QCOMPARE(m_pane->finishedCodes.last(), 4);
    QVERIFY(m_list->terminateProcess());
}

void TestB3Queue::agentData()
{
    auto a = add(QStringLiteral("a"));
    auto b = add(QStringLiteral("b"));
    auto c = add(QStringLiteral("c"));
    a->setScheduled(true);
    a->setNextProcessDate(m_clock->now().addDays(2));
    b->setScheduled(true);
    b->setNextProcessDate(m_clock->now().addDays(1));
    c->setNextProcessDate(m_clock->now().addSecs(60)); // not scheduled: not counted
    QCOMPARE(m_list->getFirstNextDate(), m_clock->now().addDays(1));

    QVariantMap d;
    c->saveToDict(d);
    QVariantMap usb = sourceDict(QStringLiteral("/x"), 2);
    usb.insert(QStringLiteral("MountPoint"), QStringLiteral("/media/u/stick"));
    usb.insert(QStringLiteral("DeviceType"), qint64(1));
    usb.insert(QStringLiteral("Removable"), true);
    usb.insert(QStringLiteral("VolumeUUID"), QStringLiteral("1111-2222"));
    d.insert(QStringLiteral("Sources"), QVariantList { usb, usb });
    c->loadFromDict(d, 1);
    c->setProcessOnMount(true);
    // both places stay, duplicates included
    QCOMPARE(m_list->getVolumeUUIDListForStartOnMountEvent(), (QStringList { "1111-2222", "1111-2222" }));
    c->setScheduled(true);
    QVERIFY(m_list->getVolumeUUIDListForStartOnMountEvent().isEmpty());
    c->setLastProcessFailed(true);
    QCOMPARE(m_list->getVolumeUUIDListForStartOnMountEvent().size(), 2);
}

QTEST_GUILESS_MAIN(TestB3Queue)
#include "tst_b3queue.moc"
