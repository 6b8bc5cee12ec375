// kv-test: labels=unit timeout=120 env=TZ=Europe/Berlin
#include "FakeLocationServices.h"
#include "FakeSyncRunController.h"
#include "KvTest.h"
#include "RecordingShellServices.h"
#include "RecordingSynchronizeController.h"
#include "ScriptedClock.h"
#include "TempTree.h"
#include "platform/PlistBridge.h"
#include "projects/ILocation.h"
#include "sync/ISynchronContainer.h"

#include <QtTest>

namespace {

QVariantMap place(
    const QString& mountPoint, const QString& inner, qint64 type, const QString& uuid, bool removable)
{
    return QVariantMap { { "URL", "-" }, { "PathFromMountPoint", inner }, { "DisplayName", "disk" },
        { "VolumeUUID", uuid }, { "GroupVolumeUUID", "-" }, { "MountPoint", mountPoint },
        { "Automount", false }, { "DeviceType", type }, { "Removable", removable } };
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The stored keys of a project dictionary with the type of each value, nested dictionaries too.
QMap<QString, int> shape(const QVariantMap& d, const QString& prefix = QString())
{
    QMap<QString, int> out;
    for (auto it = d.cbegin(); it != d.cend(); ++it) {
        out.insert(prefix + it.key(), it.value().typeId());
        if (it.value().typeId() == QMetaType::QVariantMap)
            out.insert(shape(it.value().toMap(), prefix + it.key() + "/"));
    }
    return out;
}

} // namespace

class TestSynchronContainer : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void fixturesLoadAndSaveBackWithTheSameKeysAndTypes();
    void blankEntriesNeverPileUp();
    void damagedListIsKeptAsideAndNeverOverwritten();
    void listOperations();
    void dueProjectsRunOneAtATimeSynchronizationsFirst();
    void mountQueuesItsProjects();
    void deletedQueuedProjectNeverStarts();
    void cloneByHandNotReadyDoesNotStart();
    void cloneByHandAsksBeforeItStarts();
    void scheduledCloneNeedsAYesFromThePreflightCheck();
    void agentAnswers();
    void engineNamesTheDestinationDevice();

private:
    std::unique_ptr<ISynchronContainer> makeContainer();
    std::shared_ptr<ISynchron> addScheduled(const QString& name, int type, int minutesLate);

    std::unique_ptr<FakeLocationServices> m_volumes;
    std::unique_ptr<RecordingShellServices> m_shell;
    std::unique_ptr<RecordingSynchronizeController> m_pane;
    std::unique_ptr<ScriptedCloneStartWarner> m_warner;
    std::unique_ptr<ScriptedClock> m_clock;
    std::unique_ptr<TempTree> m_tree;
    std::unique_ptr<ISynchronContainer> m_list;
    FakeSyncRunController* m_runs = nullptr;
};

void TestSynchronContainer::init()
{
    m_volumes = std::make_unique<FakeLocationServices>();
    ILocationServices::setShared(m_volumes.get());
    m_shell = std::make_unique<RecordingShellServices>();
    IShellServices::setShared(m_shell.get());
    m_pane = std::make_unique<RecordingSynchronizeController>();
    ISynchronizeController::setShared(m_pane.get());
    m_warner = std::make_unique<ScriptedCloneStartWarner>();
    ICloneStartWarner::setShared(m_warner.get());
    m_clock = std::make_unique<ScriptedClock>(QDateTime(QDate(2024, 1, 15), QTime(18, 30, 20)));
    m_tree = std::make_unique<TempTree>(QStringLiteral("synccontainer"));
}

void TestSynchronContainer::cleanup()
{
    m_list.reset();
    m_clock.reset();
    ILocationServices::setShared(nullptr);
    IShellServices::setShared(nullptr);
    ISynchronizeController::setShared(nullptr);
    ICloneStartWarner::setShared(nullptr);
}

std::unique_ptr<ISynchronContainer> TestSynchronContainer::makeContainer()
{
    auto runs = std::make_unique<FakeSyncRunController>();
    m_runs = runs.get();
    auto list = std::make_unique<ISynchronContainer>(std::move(runs), m_tree->path());
    list->reInit();
    return list;
}

std::shared_ptr<ISynchron> TestSynchronContainer::addScheduled(const QString& name, int type, int minutesLate)
{
    auto p = m_list->createNewSynchron(name, type);
    p->setScheduled(true);
    p->setScheduleProcessStartIfLate(false);
    p->setNextProcessDate(m_clock->now().addSecs(-qint64(minutesLate) * 60));
    return p;
}

void TestSynchronContainer::fixturesLoadAndSaveBackWithTheSameKeysAndTypes()
{
    QVERIFY(m_tree->mkdir("Syncs") && m_tree->mkdir("Clones"));
    for (const auto& [fixture, target] : { std::pair { "syncs-minimal.plist", "Syncs/Projects.plist" },
             std::pair { "clones-minimal.plist", "Clones/Projects.plist" } })
        QVERIFY(QFile::copy(
            KvTest::sourceDir() + "/tests/fixtures/" + fixture, m_tree->filePath(QString(target))));
    m_list = makeContainer();
    QCOMPARE(m_list->countOfSynchronsByType(0), 3); // two and the blank entry
    QCOMPARE(m_list->countOfSynchronsByType(1), 2);
    QCOMPARE(m_list->synchronByIndex(1, 0)->direction(), 2);
    QCOMPARE(m_list->synchronByIndex(0, 1)->synchronType(), 1);
    QVERIFY(m_list->save());

    for (const auto& [fixture, saved, key] :
        { std::tuple { "syncs-minimal.plist", "Syncs/Projects.plist", "Synchrons" },
            std::tuple { "clones-minimal.plist", "Clones/Projects.plist", "Clones" } }) {
        const QVariantMap before
            = PlistBridge::readFile(KvTest::sourceDir() + "/tests/fixtures/" + fixture).value.toMap();
        const QVariantMap after = PlistBridge::readFile(m_tree->filePath(QString(saved))).value.toMap();
        QCOMPARE(after.value("Preferences").toMap().value("SynchronizePropertyScheme"), QVariant(qint64(2)));
        const QVariantList a = before.value(key).toList(), b = after.value(key).toList();
        QCOMPARE(b.size(), a.size() + 1);
        for (qsizetype i = 0; i < a.size(); ++i) {
            const QMap<QString, int> want = shape(a.at(i).toMap()), got = shape(b.at(i).toMap());
            for (auto it = want.cbegin(); it != want.cend(); ++it)
                QVERIFY2(got.value(it.key(), -1) == it.value(), qPrintable(it.key()));
            QCOMPARE(b.at(i).toMap().value("Name"), a.at(i).toMap().value("Name"));
        }
        QCOMPARE(
            QFileInfo(m_tree->filePath(QString(saved))).permissions() & (QFile::ReadOther | QFile::ReadGroup),
            QFile::Permissions());
    }
}

void TestSynchronContainer::blankEntriesNeverPileUp()
{
    // A missing workspace folder is made on save.
    m_list = makeContainer();
    auto configured = m_list->createNewSynchron(ISynchron::defaultName(1), 1);
    configured->setLastSyncDate(QDateTime(QDate(2024, 1, 1), QTime(12, 0)));
    for (int cycle = 0; cycle < 3; ++cycle) {
        QVERIFY(m_list->save());
        m_list = makeContainer();
    }
    QCOMPARE(m_list->countOfSynchronsByType(0), 1);
    // the configured clone named like the blank entry is kept, and one blank entry follows it
    QCOMPARE(m_list->countOfSynchronsByType(1), 2);
    QVERIFY(m_list->synchronByIndex(0, 1)->lastProcessDate().isValid());
    QVERIFY(m_list->isCurrentNewSynchron(0));
}

void TestSynchronContainer::damagedListIsKeptAsideAndNeverOverwritten()
{
    m_list = makeContainer();
    m_list->createNewSynchron("Kept", 0);
    QVERIFY(m_list->save());
    const QString clones = m_tree->filePath(QStringLiteral("Clones/Projects.plist"));
    const QByteArray damaged = "<?xml version=\"1.0\"?><plist><dict><key>Clones</key><arr";
    {
        QFile f(clones);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(damaged);
    }
    m_list = makeContainer();
    QCOMPARE(m_list->synchronByIndex(0, 0)->name(), QStringLiteral("Kept"));
    QCOMPARE(m_list->countOfSynchronsByType(1), 1); // the blank entry only
    const QDir folder(m_tree->filePath(QStringLiteral("Clones")));
    const QStringList aside = folder.entryList(QDir::Files).filter(QStringLiteral("Projects.plist."));
    QCOMPARE(aside.size(), 1);
    QCOMPARE(readAll(folder.filePath(aside.first())), damaged);
    bool named = false;
    for (const auto& m : m_shell->messages())
        named = named || m.text.contains(aside.first().toUtf8());
    QVERIFY(named);
}

void TestSynchronContainer::listOperations()
{
    m_list = makeContainer();
    for (const char* name : { "A", "B", "C" })
        m_list->createNewSynchron(name, 0);
    // [blank, A, B, C]: entry 0 goes before the old fourth entry
    QVERIFY(m_list->moveSynchronFrom(0, 3, 0));
    QStringList names;
    for (const auto& p : m_list->listByType(0))
        names << p->name();
    QCOMPARE(names, (QStringList { "A", "B", ISynchron::defaultName(0), "C" }));
    QCOMPARE(m_list->currentSynchronIndexByType(0), 2);
    QVERIFY(!m_list->moveSynchronFrom(4, 0, 0));
    QVERIFY(!m_list->isUniqueName("B", nullptr));
    QVERIFY(m_list->isUniqueName("B", m_list->synchronByIndex(1, 0).get()));

    // a copy gets a free name and its own places
    QVERIFY(m_tree->mkdir("left/keep") && m_tree->mkdir("right"));
    m_volumes->add("Tree", m_tree->path(), "7777");
    auto b = m_list->synchronByIndex(1, 0);
    b->setFirstFolder(m_tree->filePath(QStringLiteral("left")));
    b->setSecondFolder(m_tree->filePath(QStringLiteral("right")));
    b->setDirection(2);
    b->setExcludePathList(QStringList { "keep", "gone" });
    const auto copy = b->duplicateProject();
    QVERIFY(copy);
    QCOMPARE(copy->name(), QStringLiteral("B-copy"));
    QCOMPARE(b->duplicateProject()->name(), QStringLiteral("B-copy1"));
    QCOMPARE(copy->direction(), 2);
    QVERIFY(copy->firstLocation() && copy->firstLocation() != b->firstLocation());
    QCOMPARE(copy->firstFolder(), b->firstFolder());
    // an entry that exists on neither side goes when the project is selected
    QVERIFY(m_list->setCurrentSynchronByIndex(m_list->indexByTypeOfSynchron(copy.get()), 0));
    QCOMPARE(copy->excludePathList().value(), QStringList { "keep" });
    m_list->deleteCurrentSynchronByType(0);
    m_list->setCurrentSynchronByIndex(m_list->countOfSynchronsByType(0) - 1, 0);
    m_list->deleteCurrentSynchronByType(0);
    m_list->setCurrentSynchronByIndex(2, 0);

    // the selected indexes come back
    QVERIFY(m_list->setCurrentSynchronByIndex(1, 0));
    QVERIFY(m_list->save());
    m_list = makeContainer();
    m_list->initFirstSynchron();
    QCOMPARE(m_list->currentSynchronIndexByType(0), 1);
}

void TestSynchronContainer::dueProjectsRunOneAtATimeSynchronizationsFirst()
{
    m_list = makeContainer();
    auto sync = addScheduled("Sync", 0, 1);
    auto late = addScheduled("Too late", 0, 10);
    auto clone = addScheduled("Clone", 1, 1);
    auto sync2 = addScheduled("Sync 2", 0, 9);

    m_list->scheduleProcess();
    QCOMPARE(m_runs->started, (QList<std::shared_ptr<ISynchron>> { sync }));
    QVERIFY(sync2->isInState(ISynchron::OpQueued));
    QVERIFY(!clone->isInState(ISynchron::OpQueued)); // clones wait for a pass without synchronizations
    QVERIFY(!late->isInProcess());
    QVERIFY(late->getNextProcessDate() > m_clock->now()); // skipped with a new date
    QVERIFY(sync->isInState(ISynchron::OpSynchronizing));
    QVERIFY(sync->isProcessingBySchedule());
    QVERIFY(sync->getNextProcessDate() > m_clock->now());

    // a project in process is not queued twice; nothing else starts while one runs
    m_list->addSynchronToProcessingList(sync2);
    QCOMPARE(m_list->processingList().size(), 1);
    m_list->scheduleProcess();
    QCOMPARE(m_runs->started.size(), 1);

    m_runs->finish(0);
    m_list->scheduleProcess();
    QCOMPARE(m_runs->started.last(), sync2);
    m_runs->finish(0);
    m_list->scheduleProcess();
    QCOMPARE(m_runs->started.last(), clone);
    QCOMPARE(m_pane->analyzed.size(), 1); // the scheduled clone had its pre-flight check
}

void TestSynchronContainer::mountQueuesItsProjects()
{
    m_volumes->add("Stick", "/media/u/Stick", "AAAA-1111", "ext4", VolumeBaseItem::ConnectionUSB,
        VolumeBaseItem::FlagRemovable);
    m_list = makeContainer();
    auto p = m_list->createNewSynchron("On mount", 0);
    QVariantMap d;
    p->saveToDict(d);
    d.insert("ProcessOnMount", true);
    d.insert("FirstLocation", place("/", "home/u", 0, "-", false));
    d.insert("SecondLocation", place("/media/u/Stick", "/copy", 1, "AAAA-1111", true));
    QVERIFY(p->loadFromDict(d, 2));
    QVERIFY(!m_list->checkNeedSynchronizeOnMount(QStringLiteral("/media/u/Other")));
    QVERIFY(m_list->checkNeedSynchronizeOnMount(QStringLiteral("/media/u/Stick")));
    QVERIFY(p->isInState(ISynchron::OpQueued));
    QVERIFY(p->isProcessingBySchedule());
}

void TestSynchronContainer::deletedQueuedProjectNeverStarts()
{
    m_list = makeContainer();
    auto running = addScheduled("Running", 0, 1);
    auto queued = addScheduled("Queued", 0, 1);
    m_list->scheduleProcess();
    QCOMPARE(m_runs->started.size(), 1);
    QVERIFY(queued->isInState(ISynchron::OpQueued));

    QVERIFY(m_list->setCurrentSynchronByIndex(m_list->indexByTypeOfSynchron(running.get()), 0));
    QVERIFY(!m_list->deleteCurrentSynchronByType(0)); // a running project stays
    QVERIFY(m_list->setCurrentSynchronByIndex(m_list->indexByTypeOfSynchron(queued.get()), 0));
    QVERIFY(m_list->deleteCurrentSynchronByType(0));
    QVERIFY(m_list->processingList().isEmpty());
    m_runs->finish(0);
    m_list->scheduleProcess();
    QCOMPARE(m_runs->started.size(), 1);
    QCOMPARE(m_list->indexByTypeOfSynchron(queued.get()), -1);
}

void TestSynchronContainer::cloneByHandNotReadyDoesNotStart()
{
    m_list = makeContainer();
    m_list->setCurrentSyncType(1);
    auto clone = m_list->createNewSynchron("Clone", 1); // no places: not ready
    m_pane->cloneText = QStringLiteral("The destination is not writable.");
    m_list->processCurrentProject();
    QVERIFY(m_runs->started.isEmpty());
    QVERIFY(m_list->processingList().isEmpty());
    QCOMPARE(m_pane->analyzed, QList<ISynchron*> { clone.get() });
    QCOMPARE(m_warner->shown, 0);
    QStringList texts;
    for (const auto& m : m_shell->messages())
        texts << QString::fromUtf8(m.text);
    QVERIFY(texts.contains("The destination is not writable."));
    QVERIFY(texts.contains("Cloning failed."));
    QVERIFY(m_pane->calls.contains("setSyncAnalyzeEnabled:1"));
}

void TestSynchronContainer::cloneByHandAsksBeforeItStarts()
{
    QVERIFY(m_tree->mkdir("one/src") && m_tree->mkdir("two/dst"));
    m_volumes->add("One", m_tree->filePath(QStringLiteral("one")), "1111");
    m_volumes->add("Two", m_tree->filePath(QStringLiteral("two")), "2222");
    m_list = makeContainer();
    m_list->setCurrentSyncType(1);
    auto clone = m_list->createNewSynchron("Clone", 1);
    clone->setFirstFolder(m_tree->filePath(QStringLiteral("one/src")));
    clone->setSecondFolder(m_tree->filePath(QStringLiteral("two/dst")));
    QVERIFY(clone->getReady() & ISynchron::ReadyRun);

    m_warner->confirm = false;
    m_list->processCurrentProject();
    QCOMPARE(m_warner->shown, 1);
    QVERIFY(m_runs->started.isEmpty());
    QVERIFY(!clone->isInProcess());

    m_warner->confirm = true;
    m_list->processCurrentProject();
    QCOMPARE(m_warner->shown, 2);
    QCOMPARE(m_runs->started, (QList<std::shared_ptr<ISynchron>> { clone }));
    QVERIFY(clone->isInState(ISynchron::OpCloning));
    QVERIFY(!clone->isProcessingBySchedule());
    // the pre-flight check ran for each start by hand, and only then
    QCOMPARE(m_pane->analyzed.size(), 2);
    m_runs->finish(0);

    // without the warning the clone starts at once
    clone->setStartCloningWarnDialog(false);
    m_list->processCurrentProject();
    QCOMPARE(m_warner->shown, 2);
    QCOMPARE(m_runs->started.size(), 2);
}

void TestSynchronContainer::scheduledCloneNeedsAYesFromThePreflightCheck()
{
    m_list = makeContainer();
    auto clone = addScheduled("Clone", 1, 1);
    m_list->scheduleProcess(); // no synchronization due: the clone is queued
    // it was started at once: the pane said yes
    QCOMPARE(m_runs->started, (QList<std::shared_ptr<ISynchron>> { clone }));
    m_runs->finish(0);

    auto second = addScheduled("Second", 1, 1);
    clone->setNextProcessDate(m_clock->now().addSecs(-60));
    m_pane->cloneVerdict = false;
    m_pane->cloneText = QStringLiteral("Not supported here.");
    m_list->checkNeedSynchronizeOnSchedule();
    QCOMPARE(m_list->processingList().size(), 2);
    m_list->processNext();
    // both were refused: neither started, both failed, the queue is empty
    QCOMPARE(m_runs->started.size(), 1);
    QVERIFY(m_list->processingList().isEmpty());
    QVERIFY(clone->isLastProcessFailed() && second->isLastProcessFailed());
    QVERIFY(!clone->isInProcess() && !second->isInProcess());

    // a yes lets the next one run after a refused one
    clone->setNextProcessDate(m_clock->now().addSecs(-60));
    second->setNextProcessDate(m_clock->now().addSecs(-60));
    m_list->checkNeedSynchronizeOnSchedule();
    int asked = 0;
    struct Pane : RecordingSynchronizeController
    {
        int* asked;
        bool analyzeClone(ISynchron*, bool, QString*) override { return ++*asked > 1; }
    } pane;
    pane.asked = &asked;
    m_list->setInterfaceController(&pane);
    m_list->processNext();
    QCOMPARE(m_runs->started.last(), second);
    m_list->setInterfaceController(m_pane.get());
}

void TestSynchronContainer::agentAnswers()
{
    m_list = makeContainer();
    auto a = m_list->createNewSynchron("A", 0);
    a->setScheduled(true);
    auto b = m_list->createNewSynchron("B", 0);
    b->setScheduled(true);
    b->setNextProcessDate(QDateTime(QDate(2024, 1, 15), QTime(19, 0)));
    auto c = m_list->createNewSynchron("C", 1);
    c->setScheduled(true);
    c->setNextProcessDate(QDateTime(QDate(2024, 1, 20), QTime(8, 0)));
    // A gets its next date first (week days at 18:30: tomorrow), B is earlier
    QCOMPARE(m_list->getFirstNextDateByType(0), QDateTime(QDate(2024, 1, 15), QTime(19, 0)));
    QVERIFY(a->getNextProcessDate().isValid());
    QCOMPARE(m_list->getFirstNextDateByType(1), c->getNextProcessDate());
    QVERIFY(m_list->isScheduleEnabled());

    auto usb = [](const QString& uuid) { return place("/media/u/" + uuid, "/x", 1, uuid, true); };
    auto load = [](const std::shared_ptr<ISynchron>& p, const QVariantMap& first, const QVariantMap& second) {
        QVariantMap d;
        p->saveToDict(d);
        d.insert("ProcessOnMount", true);
        d.insert("FirstLocation", first);
        d.insert("SecondLocation", second);
        QVERIFY(p->loadFromDict(d, 2));
    };
    m_volumes->add(
        "U1", "/media/u/U1", "U1", "ext4", VolumeBaseItem::ConnectionUSB, VolumeBaseItem::FlagRemovable);
    m_volumes->add(
        "U2", "/media/u/U2", "U2", "ext4", VolumeBaseItem::ConnectionUSB, VolumeBaseItem::FlagRemovable);
    auto s1 = m_list->createNewSynchron("S1", 0);
    load(s1, usb("U1"), usb("U2"));
    auto s2 = m_list->createNewSynchron("S2", 0);
    load(s2, place("/", "home", 0, "-", false), usb("U1"));
    auto k = m_list->createNewSynchron("K", 1);
    load(k, usb("U2"), place("/", "srv", 0, "-", false));
    auto scheduled = m_list->createNewSynchron("Scheduled", 0);
    load(scheduled, usb("U2"), usb("U2"));
    scheduled->setScheduled(true);
    QCOMPARE(m_list->getVolumeUUIDListForStartOnMountEvent(), (QStringList { "U2", "U1", "U1", "U2" }));
}

void TestSynchronContainer::engineNamesTheDestinationDevice()
{
    m_list = makeContainer();
    auto clone = m_list->createNewSynchron("Clone", 1);
    const VolumeItemPtr item = m_volumes->add("Target", "/media/u/Target", "CCCC-3333");
    clone->ITCorrectDestinationDevice(item->source);
    QVERIFY(clone->secondLocation());
    QCOMPARE(clone->secondLocation()->getVolumeUUID(), QStringLiteral("CCCC-3333"));
    // the lists were saved with the new destination
    const QVariantMap saved = PlistBridge::readFile(m_list->clonesFilePath()).value.toMap();
    const QVariantMap stored = saved.value("Clones").toList().at(1).toMap(); // after the blank entry
    QCOMPARE(
        stored.value("SecondLocation").toMap().value("VolumeUUID"), QVariant(QStringLiteral("CCCC-3333")));
}

QTEST_MAIN(TestSynchronContainer)
#include "tst_synchroncontainer.moc"
