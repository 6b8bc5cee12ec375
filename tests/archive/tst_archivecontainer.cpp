// kv-test: labels=unit
// The archive project list and its run queue: the order projects run in, each queued run
// keeping its own operation and arguments, one run per project whatever queued it, stops, and
// loading the workspace's projects without losing the files of one that does not load.
#include "MemoryKeychain.h"
#include "OldProjects.h"
#include "RecordingShellServices.h"
#include "ScriptedClock.h"
#include "ScriptedUiPrompts.h"
#include "TempTree.h"
#include "archive/CBackup.h"
#include "archive/CBackupContainer.h"
#include "archive/CBackupItem.h"
#include "archive/CToastTool.h"
#include "archive/IBackup.h"
#include "platform/AppPaths.h"
#include "platform/MainThread.h"
#include "platform/NameCodec.h"
#include "projects/ILocation.h"
#include "utilities/ProjectKeychain.h"

#include <QtTest>
#include <unistd.h>

namespace {

// A container whose runs are recorded instead of started: each started run stands for a tool
// job until the test ends it.
class RecordingRunContainer : public CBackupContainer
{
public:
    QStringList ran;
    bool startsJobs = true;
    bool jobRunning = false;

    void endJob()
    {
        jobRunning = false;
        processNext();
    }
    CBackup* add(const QString& name, bool selected = false)
    {
        CBackup* b = addNewBackup(name);
        b->setSelection(selected);
        return b;
    }

protected:
    int startBuild(CBackup* backup, bool forBurning) override
    {
        ran << QStringLiteral("build %1%2")
                   .arg(backup->name(), forBurning ? QStringLiteral(" burn") : QString());
        jobRunning = startsJobs;
        return startsJobs ? 1 : 0;
    }
    int startRestore(
        CBackup* backup, const QString& folder, const RestoreMembers& members, bool single) override
    {
        QStringList files;
        for (const RestoreMemberGroup& g : members)
            files << g.names;
        ran << QStringLiteral("restore %1 to:%2 files:%3 single:%4")
                   .arg(backup->name(), folder, files.join(QLatin1Char(',')))
                   .arg(single);
        jobRunning = startsJobs;
        return startsJobs ? 1 : 0;
    }
    bool isToolJobRunning() const override { return jobRunning; }
    void stopRun(CBackup* backup) override
    {
        ran << QStringLiteral("stop %1").arg(backup->name());
        jobRunning = false;
    }
};

// Makes a project due at the scripted clock's time (a daily schedule whose next date passed).
void makeDue(CBackup* b, const QDateTime& now)
{
    b->setUseSchedule(true);
    b->setScheduleIntervalType(CBSchedIntervalDaily);
    b->setStartLate(true);
    b->setNextProcessDate(now.addSecs(-60));
}

void runAll(RecordingRunContainer& c)
{
    for (int guard = 0; c.jobRunning && guard < 20; ++guard)
        c.endJob();
}

} // namespace

class TestArchiveContainer : public QObject
{
    Q_OBJECT
    TempTree m_ws { QStringLiteral("ws") };
    QString backups() const { return m_ws.filePath(std::string("Backups")); }

private Q_SLOTS:
    void initTestCase()
    {
        AppPaths::setWorkspacePathOverride(m_ws.path());
        QVERIFY(m_ws.mkdir("Backups"));
    }
    void cleanupTestCase() { AppPaths::setWorkspacePathOverride(QString()); }

    void userBuildsRunInListOrder()
    {
        RecordingRunContainer c;
        c.add(QStringLiteral("A"), true);
        c.add(QStringLiteral("B"), true);
        c.add(QStringLiteral("C"), true);
        c.buildSelectedBackups();
        QCOMPARE(c.ran, QStringList { QStringLiteral("build A") });
        // Queued projects wait, marked waiting, until the job ends.
        QVERIFY(c.backupAt(2)->isInProcess());
        runAll(c);
        QCOMPARE(c.ran, (QStringList { "build A", "build B", "build C" }));
        QCOMPARE(c.queueOperation(), int(CBackupContainer::OpIdle));
        for (int i = 0; i < 3; ++i)
            QVERIFY(!c.backupAt(i)->isInProcess());
    }

    void scheduledProjectsRunInReverseListOrderAndOnceEach()
    {
        ScriptedClock clock(QDateTime(QDate(2026, 3, 4), QTime(18, 30, 5)));
        RecordingRunContainer c;
        CBackup* a = c.add(QStringLiteral("A"));
        c.add(QStringLiteral("B"));
        CBackup* cc = c.add(QStringLiteral("C"));
        makeDue(a, clock.now());
        makeDue(cc, clock.now());
        QCOMPARE(c.checkNeedBackupingOnSchedule(), 2);
        QCOMPARE(c.ran, QStringList { QStringLiteral("build C") });
        // While C runs, the user queues A again: it still runs once.
        a->setSelection(true);
        c.buildSelectedBackups();
        // And the scheduler's next tick queues nothing while the queue is busy.
        QCOMPARE(c.checkNeedBackupingOnSchedule(), 0);
        runAll(c);
        QCOMPARE(c.ran, (QStringList { "build C", "build A" }));
        // Each scheduled project's next date moved past this run.
        QVERIFY(a->nextProcessDate() > clock.now());
        QVERIFY(cc->nextProcessDate() > clock.now());
        QVERIFY(a->isPropertiesChanged());
        QCOMPARE(c.checkNeedBackupingOnSchedule(), 0);
    }

    void scheduleCheckRespectsTheSchedulerAndOpenDialogs()
    {
        ScriptedClock clock(QDateTime(QDate(2026, 3, 4), QTime(18, 30, 5)));
        RecordingRunContainer c;
        // A new container starts with scheduled starts on and the agent's menu shown.
        QCOMPARE(c.agentState().getInt() & 5, 5);
        makeDue(c.add(QStringLiteral("A")), clock.now());
        {
            ModalDepthGuard dialog;
            QCOMPARE(c.checkNeedBackupingOnSchedule(), 0);
        }
        c.agentState().setOff(QVAgentState::ScheduleOn);
        QCOMPARE(c.checkNeedBackupingOnSchedule(), 0);
        QVERIFY(!c.getFirstNextDate().isValid());
        c.agentState().setOn(QVAgentState::ScheduleOn);
        QCOMPARE(c.getFirstNextDate(), clock.now().addSecs(-60));
        QCOMPARE(c.checkNeedBackupingOnSchedule(), 1);
        QVERIFY(c.ran.size() == 1);
    }

    void queuedRunsKeepTheirOwnOperationAndArguments()
    {
        RecordingRunContainer c;
        CBackup* a = c.add(QStringLiteral("A"), true);
        CBackup* b = c.add(QStringLiteral("B"));
        CBackup* d = c.add(QStringLiteral("D"));
        RecordingShellServices shell;
        ShellServicesScope scope(&shell);
        c.restoreSelectedBackups(QStringLiteral("/to/a"), { { QString(), { QStringLiteral("/x") } } }, false);
        // During A's restore: a build of B, then a restore of D with other arguments.
        c.makeSingleSelection(b);
        c.buildSelectedBackups();
        c.makeSingleSelection(d);
        c.restoreSelectedBackups(
            QStringLiteral("/to/d"), { { QString(), { QStringLiteral("/y"), QStringLiteral("/z") } } }, true);
        // A mount of a volume no project is bound to changes nothing queued.
        QCOMPARE(c.checkNeedBackupingOnMount(QStringLiteral("/")), 0);
        QCOMPARE(c.queue().size(), size_t(2));
        runAll(c);
        QCOMPARE(c.ran,
            (QStringList { "restore A to:/to/a files:/x single:0", "restore D to:/to/d files:/y,/z single:1",
                "build B" }));
        // The shell heard of one restore period, started and ended once.
        QCOMPARE(shell.calls().count(QStringLiteral("registerStartRestore")), 1);
        QCOMPARE(shell.calls().count(QStringLiteral("registerStopRestore")), 1);
        Q_UNUSED(a);
    }

    void restoreInPlaceAsksFirst()
    {
        RecordingRunContainer c;
        c.add(QStringLiteral("A"), true);
        ScriptedUiPrompts prompts;
        prompts.expectAlert(QStringLiteral("Warning! The existing files may be replaced"), 1); // Cancel
        c.restoreSelectedBackups(QString(), {}, false);
        QVERIFY(c.ran.isEmpty());
        QVERIFY(c.queue().empty());
        prompts.expectAlert(QStringLiteral("Warning! The existing files may be replaced"), 0); // Continue
        c.restoreSelectedBackups(QString(), { { QString(), { QStringLiteral("/x") } } }, false);
        QCOMPARE(c.ran, QStringList { QStringLiteral("restore A to: files:/x single:0") });
        QVERIFY(prompts.unexpected.isEmpty());
    }

    void projectsThatStartNothingLetTheQueueGoOn()
    {
        RecordingRunContainer c;
        c.add(QStringLiteral("A"), true);
        c.add(QStringLiteral("B"), true);
        c.startsJobs = false;
        QStringList ended;
        c.onEntryEnded = [&](const CBackupContainer::QueueEntry& e) { ended << e.backup->name(); };
        bool idle = false;
        c.onIdle = [&] { idle = true; };
        c.buildSelectedBackups();
        QCOMPARE(c.ran, (QStringList { "build A", "build B" }));
        QCOMPARE(ended, (QStringList { "A", "B" }));
        QVERIFY(idle);
        QVERIFY(!c.backupAt(0)->isInProcess() && !c.backupAt(1)->isInProcess());
    }

    void stopEmptiesTheQueueAndTheBurnList()
    {
        RecordingRunContainer c;
        CBackup* a = c.add(QStringLiteral("A"));
        CBackup* b = c.add(QStringLiteral("B"));
        CBackup* d = c.add(QStringLiteral("D"));
        c.queueBackup({ a, CBackupContainer::OpBuildThenBurn, {}, {}, false });
        c.queueBackup({ b, CBackupContainer::OpBuildThenBurn, {}, {}, false });
        c.queueBackup({ d, CBackupContainer::OpBuild, {}, {}, false });
        QCOMPARE(c.burnList(), std::vector<CBackup*> { a });
        QCOMPARE(c.queue().size(), size_t(2));
        c.stopTar();
        QVERIFY(c.queue().empty());
        QVERIFY(c.burnList().empty());
        QVERIFY(!b->isInProcess() && !d->isInProcess());
        QCOMPARE(c.ran, (QStringList { "build A burn", "stop A" }));
        QCOMPARE(c.queueOperation(), int(CBackupContainer::OpIdle));
        // removeFromProcessing: an empty queue answers yes, a project not queued no.
        QVERIFY(c.removeFromProcessing(b));
    }

    void listOperations()
    {
        RecordingRunContainer c;
        CBackup* a = c.add(QStringLiteral("A"));
        CBackup* b = c.add(QStringLiteral("B"));
        QVERIFY(c.renameBackup(a, QStringLiteral("A")));
        QVERIFY(!c.renameBackup(a, QStringLiteral("B")));
        QVERIFY(c.renameBackup(a, QStringLiteral("A2")));
        QCOMPARE(c.findBackup(QStringLiteral("A2")), a);
        QCOMPARE(c.indexOfBackupByUUID(b->getUUID()), 1);
        QVERIFY(!c.makeSingleSelection(5));
        QVERIFY(c.makeSingleSelection(b));
        QCOMPARE(c.findFirstSelected(), b);
        QVERIFY(CBackupContainer::matchFileAsBIF(QStringLiteral("/x/P.BIFX")));
        QCOMPARE(
            CBackupContainer::getBackupNameFromPath(QStringLiteral("/x/My P.bif")), QStringLiteral("My P"));
        QVERIFY(CBackupContainer::getBackupNameFromPath(QStringLiteral("/x/P.txt")).isNull());
        QCOMPARE(CBackupContainer::QVProjectSBPermFileName(QStringLiteral("/x/a.b/P.bif")),
            QStringLiteral("/x/a.b/P.bip"));
    }

    // Good pair, corrupt pair, lone ".bifx" and a pair a newer version wrote, side by side.
    void loadsTheWorkspacesProjects()
    {
        MemoryKeychain keychain;
        RecordingShellServices shell;
        ShellServicesScope scope(&shell);
        {
            CBackup good(QStringLiteral("Good"));
            good.insertNewItem(QStringLiteral("/data"), nullptr);
            QVERIFY(good.save());
        }
        const QByteArray junk(64, 'x');
        QVERIFY(m_ws.writeFile(std::string("Backups/Broken.bif"), junk));
        QVERIFY(m_ws.writeFile(std::string("Backups/Broken.bih"), junk));
        QVERIFY(
            ProjectKeychain::write(QStringLiteral("Broken"), QStringLiteral("UUID-B"), QStringLiteral("pw")));
        QVERIFY(m_ws.writeFile(std::string("Backups/Lone.bifx"), junk));
        QByteArray bih;
        const QByteArray bif = OldProjects::bif(23, &bih);
        QVERIFY(m_ws.writeFile(std::string("Backups/Newer.bif"), bif));
        QVERIFY(m_ws.writeFile(std::string("Backups/Newer.bih"), bih));

        CBackupContainer c;
        const int loaded = c.loadRecentBackups();
        QStringList names;
        for (int i = 0; i < c.backupCount(); ++i)
            names << c.backupAt(i)->name();
        QCOMPARE(names.join(QLatin1Char(',')), QStringLiteral("Good,Old"));
        QCOMPARE(loaded, 2);
        // The broken project left the list only: its files and its keychain item stay.
        QCOMPARE(m_ws.readFile("Backups/Broken.bif"), junk);
        QCOMPARE(m_ws.readFile("Backups/Broken.bih"), junk);
        QVERIFY(ProjectKeychain::exists(QStringLiteral("Broken"), QStringLiteral("UUID-B")));
        QCOMPARE(m_ws.readFile("Backups/Lone.bifx"), junk);
        int deletedLines = 0;
        for (const auto& m : shell.messages()) {
            if (m.text.contains("has been deleted from the list")) {
                ++deletedLines;
                QVERIFY(m.text.contains("Broken.bif"));
            }
        }
        QCOMPARE(deletedLines, 1);

        // A project of the list has only its top level; saving a change reads the rest first,
        // so its deeper items survive.
        CBackup* good = c.findBackup(QStringLiteral("Good"));
        QCOMPARE(good->loadState(), 1);
        good->setExcludePattern(QStringLiteral("*.tmp"));
        c.saveAllBackups();
        QVERIFY(!good->isPropertiesChanged());
        CBackup back(QStringLiteral("x"));
        QVERIFY(back.load(good->makeBifFileName(), false));
        QCOMPARE(back.excludePattern(), QStringLiteral("*.tmp"));
        QCOMPARE(back.count(), 1);

        // The duplicate of a project is listed after it and saved.
        CBackup* copy = c.findBackup(QStringLiteral("Good"))->duplicateProject();
        QVERIFY(copy);
        QCOMPARE(c.getIndexBackup(copy), c.backupCount() - 1);
        QVERIFY(QFileInfo::exists(copy->makeBifFileName()));

        // Closing a project takes its files; the list forgets it.
        QVERIFY(c.closeBackup(copy));
        QCOMPARE(c.backupCount(), 2);
    }

    // Two build-then-burn runs whose burn answers NO: the archive each build registered is
    // taken back with its history, what it stored is taken again by the next build, older
    // archives stay, and the runs count as failed.
    void aFailedBurnCountsNoArchiveAsBackedUp()
    {
        RecordingShellServices shell;
        shell.burnResult = false;
        ShellServicesScope scope(&shell);
        RecordingRunContainer c;
        const QDateTime then(QDate(2020, 1, 1), QTime(0, 0));
        std::vector<CBackup*> projects;
        for (const char* name : { "BurnA", "BurnB" }) {
            CBackup* p = c.add(QString::fromLatin1(name));
            p->setBackupMethod(BackupMethodFull);
            p->addArchName(QStringLiteral("full_%1_2020-01-01_00-00-00_lp.tar").arg(p->name()));
            p->addArchName(QStringLiteral("full_%1_2020-01-02_00-00-00_lp.tar").arg(p->name()));
            CBackupItem* old = p->insertNewItem(QStringLiteral("/old"), nullptr);
            old->addHistoryStateChanging(0, 3);
            old->setLastBackupDate(then);
            CBackupItem* fresh = p->insertNewItem(QStringLiteral("/fresh"), nullptr);
            fresh->addHistoryStateChanging(0, 2);
            fresh->addHistoryStateChanging(1, 3);
            fresh->setLastBackupDate(then.addDays(1));
            projects.push_back(p);
            c.queueBackup({ p, CBackupContainer::OpBuildThenBurn, {}, {}, false });
        }
        runAll(c);
        QCOMPARE(c.ran, (QStringList { "build BurnA burn", "build BurnB burn" }));
        QCOMPARE(shell.calls().count(QStringLiteral("burnDisc:0")), 1);
        QVERIFY(c.burnList().empty());
        QCOMPARE(c.queueOperation(), int(CBackupContainer::OpIdle));
        for (CBackup* p : projects) {
            QCOMPARE(p->archives().size(), size_t(1));
            QVERIFY(p->archives()[0].fileName.contains(QLatin1String("2020-01-01")));
            QCOMPARE(p->itemAt(0)->getAbsolutePath() == QLatin1String("/fresh")
                    ? p->itemAt(0)->lastBackupDate()
                    : p->itemAt(1)->lastBackupDate(),
                QDateTime());
            QVERIFY(p->lastRunFailed());
        }
        bool named = false;
        for (const auto& m : shell.messages())
            named = named || m.text.contains("Burning of backup \"BurnA\" has failed");
        QVERIFY(named);
    }

    void burnListsAndCleanUp()
    {
        TempTree t(QStringLiteral("burnlist"));
        RecordingRunContainer c;
        CBackup* disc = c.add(QStringLiteral("Disc"), true);
        CBackup* toast = c.add(QStringLiteral("Toast"), true);
        c.add(QStringLiteral("NotSelected"));
        ILocation where;
        QVERIFY(where.setupWithPath(t.path()));
        for (CBackup* p : { disc, toast }) {
            p->setLocation(where, true);
            QVERIFY(
                t.mkdir(NameCodec::encodeStd(p->getAbsolutePathName(false, false).mid(t.path().size() + 1))));
        }
        // An empty burn list takes every selected project for the disc folder ...
        const auto pairs = c.addArchivesToDRFolder();
        QCOMPARE(pairs.size(), size_t(2));
        QCOMPARE(pairs[0].first, disc->getAbsolutePathName(false, false));
        QCOMPARE(pairs[0].second, QLatin1Char('/') + QFileInfo(pairs[0].first).fileName());
        // Outside the burn step they are only handed over.
        QVERIFY(c.burnList().empty());

        // ... and only those of the burning application's kind for its tool.
        c.stopTar();
        QVERIFY(c.burnList().empty());
        ILocation toastPlace;
        QVERIFY(toastPlace.setupWithPath(t.path()));
        toastPlace.setDeviceType(ILocation::DeviceToast);
        toast->setLocation(toastPlace, false);
        toast->setDestPath(t.path());
        CToastTool tool;
        c.addArchivesToToast(&tool);
        QCOMPARE(tool.files().size(), 1);
        QVERIFY(!tool.execute());
        QCOMPARE(tool.status(), CToastTool::kStatusNotFound);

        // A stored destination holding the user's files, with no work folder remembered by a
        // build: cleaning up deletes nothing.
        const std::string userFile
            = NameCodec::encodeStd(toast->getAbsolutePathName(false, false).mid(t.path().size() + 1))
            + "/user file";
        QVERIFY(t.writeFile(userFile, "mine\n"));
        c.clearBurnBackups();
        QVERIFY(c.burnList().empty());
        QCOMPARE(t.readFile(userFile), QByteArray("mine\n"));
    }

    // Cleaning up after burns touches only the work folders builds made and remembered.
    void cleansOnlyRememberedWorkFolders()
    {
        TempTree t(QStringLiteral("work"));
        QVERIFY(t.writeFile(std::string("user/keep.txt"), "mine\n"));
        RecordingShellServices shell;
        shell.burnResult = true;
        ShellServicesScope scope(&shell);
        RecordingRunContainer c;
        ILocation disc;
        disc.setDeviceType(ILocation::DeviceCD);
        auto discProject = [&](const char* name, const std::string& folder) -> CBackup* {
            CBackup* p = c.add(QString::fromLatin1(name));
            p->setLocation(disc, false);
            t.mkdir(folder);
            p->setBurnWorkFolder(t.filePath(folder));
            p->setDestPath(t.filePath(folder));
            p->setSelectedArchive(QStringLiteral("full_x.tar"));
            return p;
        };
        // A burn that reached the disc: the work folder goes, the destination becomes the
        // disc's placeholder and no archive stays selected.
        CBackup* burnt = discProject("Burnt", "w1");
        QVERIFY(t.writeFile(std::string("w1/full_x.tar"), "archive"));
        c.queueBackup({ burnt, CBackupContainer::OpBuildThenBurn, {}, {}, false });
        runAll(c);
        QCOMPARE(shell.calls().count(QStringLiteral("burnDisc:0")), 1);
        QVERIFY(!QFileInfo::exists(t.filePath(std::string("w1"))));
        QCOMPARE(burnt->destPath(), CBackupContainer::backupDiscPlaceholder());
        QVERIFY(burnt->selectedArchive().isEmpty());

        // Outside a burn: the folder is emptied but for ".rsrcFrk" entries, and a link to a
        // user's file goes while the file stays.
        CBackup* built = discProject("Built", "w2");
        QVERIFY(t.writeFile(std::string("w2/full_x.tar"), "archive"));
        QVERIFY(t.writeFile(std::string("w2/.rsrcFrk1"), "fork"));
        QVERIFY(::symlink(NameCodec::encode(t.filePath(std::string("user/keep.txt"))).constData(),
                    NameCodec::encode(t.filePath(std::string("w2/link"))).constData())
            == 0);
        // Its build runs, queued to be burned: cleaning up now is outside the burn step.
        c.queueBackup({ built, CBackupContainer::OpBuildThenBurn, {}, {}, false });
        QCOMPARE(c.burnList(), std::vector<CBackup*> { built });
        c.clearBurnBackups();
        QVERIFY(!QFileInfo::exists(t.filePath(std::string("w2/full_x.tar"))));
        QVERIFY(!QFileInfo(t.filePath(std::string("w2/link"))).isSymLink());
        QCOMPARE(t.readFile("w2/.rsrcFrk1"), QByteArray("fork"));
        QCOMPARE(t.readFile("user/keep.txt"), QByteArray("mine\n"));
        QVERIFY(c.burnList().empty());
    }
};

QTEST_GUILESS_MAIN(TestArchiveContainer)
#include "tst_archivecontainer.moc"
