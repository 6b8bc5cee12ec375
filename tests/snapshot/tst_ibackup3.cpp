// kv-test: labels=unit timeout=60 env=TZ=Europe/Berlin

#include "FakeBackup3Engine.h"
#include "FakeLocationServices.h"
#include "KvTest.h"
#include "RecordingBackup3Controller.h"
#include "RecordingShellServices.h"
#include "ScriptedClock.h"
#include "TempTree.h"
#include "snapshot/IBackup3.h"
#include "snapshot/IBackup3Container.h"
#include "snapshot/IDiskImage.h"
#include "utilities/LogOptions.h"

#include <QThread>
#include <QtTest>

class TestIBackup3 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void dueBySchedule_data();
    void dueBySchedule();
    void missingNextDateIsComputedNotDue();
    void routing();
    void routingFromWorkerThreadStoresWithoutRedraw();
    void workMessages();
    void progressOnlyMovesForward();
    void statusTextIsCutAtACharacter();
    void stateAndButton();
    void settersMarkModified();
    void duplicates();
    void excludeList();
    void exclusionFileOfAPass();
    void imageInsideTheSourceIsLeftOut();

private:
    std::unique_ptr<RecordingBackup3Controller> m_pane;
    std::unique_ptr<RecordingShellServices> m_shell;
    // no volume is mounted: stored places stay as stored
    std::unique_ptr<FakeLocationServices> m_volumes;
    std::unique_ptr<IBackup3Container> m_list;
    std::unique_ptr<TempTree> m_tree;
    FakeBackup3Engine* m_engine = nullptr;
};

void TestIBackup3::init()
{
    m_pane = std::make_unique<RecordingBackup3Controller>();
    m_shell = std::make_unique<RecordingShellServices>();
    IBackup3Controller::setShared(m_pane.get());
    IShellServices::setShared(m_shell.get());
    m_volumes = std::make_unique<FakeLocationServices>();
    ILocationServices::setShared(m_volumes.get());
    m_tree = std::make_unique<TempTree>(QStringLiteral("ibackup3"));
    auto engine = std::make_unique<FakeBackup3Engine>();
    m_engine = engine.get();
    m_list = std::make_unique<IBackup3Container>(
        std::move(engine), m_tree->filePath(QStringLiteral("Projects.plist")));
}

void TestIBackup3::cleanup()
{
    m_list.reset();
    IBackup3Controller::setShared(nullptr);
    IShellServices::setShared(nullptr);
    ILocationServices::setShared(nullptr);
}

void TestIBackup3::dueBySchedule_data()
{
    QTest::addColumn<bool>("scheduled");
    QTest::addColumn<bool>("startIfLate");
    QTest::addColumn<qint64>("nextOffsetSecs"); // next date relative to now
    QTest::addColumn<bool>("due");
    QTest::addColumn<bool>("nextMoved");
    QTest::newRow("5 minutes late") << true << false << qint64(-300) << true << false;
    QTest::newRow("15 minutes late: skipped") << true << false << qint64(-900) << false << true;
    QTest::newRow("exactly now") << true << false << qint64(0) << false << false;
    QTest::newRow("in the future") << true << false << qint64(600) << false << false;
    QTest::newRow("start if late, a week old") << true << true << qint64(-7 * 86400) << true << false;
    QTest::newRow("start if late, in the future") << true << true << qint64(60) << false << false;
    QTest::newRow("unscheduled with a past date") << false << true << qint64(-300) << false << false;
}

void TestIBackup3::dueBySchedule()
{
    QFETCH(bool, scheduled);
    QFETCH(bool, startIfLate);
    QFETCH(qint64, nextOffsetSecs);
    QFETCH(bool, due);
    QFETCH(bool, nextMoved);
    const QDateTime now(QDate(2024, 1, 15), QTime(18, 30, 20)); // a Monday
    ScriptedClock clock(now);
    IBackup3 p;
    p.setScheduled(scheduled);
    p.setScheduleProcessStartIfLate(startIfLate);
    p.setScheduleIntervalType(1); // daily at 18:30
    const QDateTime next = now.addSecs(nextOffsetSecs);
    p.setNextProcessDate(next);
    QCOMPARE(p.isTimeToProcessDate(now, 15, 1, 18, 30), due);
    if (nextMoved) {
        QVERIFY(p.getNextProcessDate() > now);
        QCOMPARE(p.getNextProcessDate(), QDateTime(QDate(2024, 1, 16), QTime(18, 30)));
    } else {
        QCOMPARE(p.getNextProcessDate(), next);
    }
}

void TestIBackup3::missingNextDateIsComputedNotDue()
{
    const QDateTime now(QDate(2024, 1, 15), QTime(18, 30, 30));
    IBackup3 p;
    p.setScheduled(true);
    p.setScheduleProcessStartIfLate(false);
    QVERIFY(!p.isTimeToProcessDate(now, 15, 1, 18, 30));
    QVERIFY(p.getNextProcessDate() > now);
    QVERIFY(!p.isTimeToProcessDate(QDateTime(), 0, 0, 0, 0));
}

void TestIBackup3::routing()
{
    auto p = m_list->createNewBackup3(QStringLiteral("Docs"));
    m_shell->clear();
    // rsync progress lines never reach the status line or the logs
    p->setLastStatusString(QStringLiteral("before"));
    p->processMessage(
        QStringLiteral("x to-chk=3/10"), LogOption::String | LogOption::Status | LogOption::Window, p.get());
    p->processMessage(QStringLiteral("y to-check=3/10"), LogWord::ProjectStatusWindowRunLog, p.get());
    QCOMPARE(p->lastStatusString(), QStringLiteral("before"));
    QVERIFY(m_shell->messages().isEmpty());
    // window and run-log bits pass on unchanged, with the project as sender
    p->processMessage(QStringLiteral("to the window"), LogWord::WindowPrefixed, nullptr);
    p->processMessage(QByteArray("to the run log"), LogWord::RunLogPrefixedUtf8, nullptr);
    QCOMPARE(m_shell->messages().size(), 2);
    QCOMPARE(m_shell->messages().at(0).options, LogWord::WindowPrefixed);
    QCOMPARE(m_shell->messages().at(1).options, LogWord::RunLogPrefixedUtf8);
    QCOMPARE(m_shell->messages().at(1).text, QByteArray("to the run log"));
    QCOMPARE(m_shell->messages().at(0).sender, p.get());
    // status with refresh on the main thread, for the current project: the pane redraws
    m_pane->calls.clear();
    p->processMessage(QStringLiteral("Copying"), LogWord::ProjectStatus, nullptr);
    QCOMPARE(p->lastStatusString(), QStringLiteral("Copying"));
    QCOMPARE(m_pane->calls.count(QStringLiteral("validateStatusString")), 1);
    // neither text bit: nothing at all
    p->processMessage(QStringLiteral("ignored"), LogOption::Status | LogOption::Window, nullptr);
    QCOMPARE(p->lastStatusString(), QStringLiteral("Copying"));
    // the text router: status bit sets the status line, everything goes to the pane
    p->sendTextInfo(QStringLiteral("thinning"), 1, quint8(tpStatus | tpFullLog), nullptr);
    QCOMPARE(p->lastStatusString(), QStringLiteral("thinning"));
    QCOMPARE(m_pane->texts.size(), 1);
    QCOMPARE(m_pane->texts.at(0).target, quint8(tpStatus | tpFullLog));
    QCOMPARE(m_pane->texts.at(0).sender, p.get());
}

void TestIBackup3::routingFromWorkerThreadStoresWithoutRedraw()
{
    auto p = m_list->createNewBackup3(QStringLiteral("Docs"));
    m_pane->calls.clear();
    QThread* worker = QThread::create(
        [&] { p->processMessage(QByteArray("from a reader"), LogWord::ProjectStatusUtf8, nullptr); });
    worker->start();
    QVERIFY(worker->wait(10000));
    delete worker;
    QCOMPARE(p->lastStatusString(), QStringLiteral("from a reader"));
    QVERIFY(!m_pane->calls.contains(QStringLiteral("validateStatusString")));
}

void TestIBackup3::workMessages()
{
    auto p = m_list->createNewBackup3(QStringLiteral("Docs"));
    m_shell->clear();
    p->workMessage(2, QStringLiteral("/mnt/b/%@ 100%"));
    p->workMessage2(10, QStringLiteral("tmp"), QStringLiteral("b3_x"));
    p->workMessage(8, QString());
    const auto m = m_shell->messages();
    QCOMPARE(m.size(), 3);
    // a "%@" or "%" inside a path stays as it is
    QCOMPARE(m.at(0).text, QByteArray("Destination folder \"/mnt/b/%@ 100%\" is not found"));
    QCOMPARE(m.at(1).text, QByteArray("Temporary folder (tmp) can not be renamed to \"b3_x\""));
    QCOMPARE(m.at(2).text, QByteArray("Destination folder has not been chosen"));
    QCOMPARE(m.at(0).options, LogWord::WindowPrefixed);
}

void TestIBackup3::progressOnlyMovesForward()
{
    IBackup3 p;
    p.setIndicatorPosition(60);
    p.setIndicatorPosition(40);
    QCOMPARE(p.indicatorPosition(), 60.0);
    p.setIndicatorPositionInZero();
    p.setIndicatorPosition(40);
    QCOMPARE(p.indicatorPosition(), 40.0);
    p.setIndicatorPosition(140);
    QCOMPARE(p.indicatorPositionForGlobal(), -1.0);
}

void TestIBackup3::statusTextIsCutAtACharacter()
{
    IBackup3 p;
    QString text = QStringLiteral("a");
    for (int i = 0; i < 1000; ++i)
        text += QChar(0x20AC); // three bytes each
    QCOMPARE(text.toUtf8().size(), 3001);
    p.setLastStatusString(text);
    const QByteArray stored = p.lastStatusString().toUtf8();
    QVERIFY(stored.size() <= IBackup3::StatusTextMaxBytes);
    QCOMPARE(stored.size(), 2044);
    QCOMPARE(QString::fromUtf8(stored).toUtf8(), stored);
    QVERIFY(!p.lastStatusString().contains(QChar::ReplacementCharacter));
    p.setUTF8StatusString(nullptr);
    QCOMPARE(p.lastStatusString(), QString());
}

void TestIBackup3::stateAndButton()
{
    auto p = m_list->createNewBackup3(QStringLiteral("Docs"));
    QCOMPARE(p->mainButtonState(), 0); // no source
    m_pane->statusChanges.clear();
    p->setInState(IBackup3::OpQueued);
    QVERIFY(p->isInProcess());
    QCOMPARE(p->mainButtonState(), 2);
    QCOMPARE(m_pane->statusChanges.size(), 2); // operation, then button
    QCOMPARE(p->lastStateChange(), int(IBackup3::ChangeButton));
    p->setInState(IBackup3::OpQueued); // unchanged: nothing more
    QCOMPARE(m_pane->statusChanges.size(), 2);
    p->setIndicatorPosition(30);
    p->setInState(IBackup3::OpIdle);
    QVERIFY(!p->isInProcess());
    QCOMPARE(p->indicatorPosition(), 0.0);
    // the restore sheet: not in process, operation 2, restore needed
    p->setInProcess(false, IBackup3::OpRestore);
    QVERIFY(p->needRestore());
    QVERIFY(p->isInState(IBackup3::OpRestore));
}

void TestIBackup3::settersMarkModified()
{
    IBackup3 p;
    p.setModified(false);
    p.setName(p.name());
    p.setScheduleTimeHHMM(18, 30);
    p.setUUID(QStringLiteral("X")); // store only
    p.setProcessOnMount(true); // store only
    QVERIFY(!p.isModified());
    p.setExcludeAliases(true);
    QVERIFY(p.isModified());
    QVERIFY(p.isExcludeAliases() && !p.isExcludeInvisible());
    p.setModified(false);
    p.setBDILastWorkingState(8, 12.5); // code 8 sets the custom size only
    QCOMPARE(p.DIMaxSizeCustomValue(), 12.5);
    QCOMPARE(p.BDIlastWorkingState().code, 0);
    QVERIFY(p.isModified());
}

void TestIBackup3::duplicates()
{
    auto docs = m_list->createNewBackup3(QStringLiteral("Docs"));
    docs->setScheduled(true);
    docs->setScheduleWeekDay(0x41);
    docs->setScheduleTimeHHMM(7, 5);
    docs->setOptionDelete(true);
    docs->addPathToExcludePathList(QStringLiteral("/d/tmp"));
    docs->setProcessOnMount(true);
    auto copy = docs->duplicateProject();
    QVERIFY(copy);
    QCOMPARE(copy->name(), QStringLiteral("Docs-copy"));
    QVERIFY(copy->UUID() != docs->UUID());
    QCOMPARE(copy->fileName(), QStringLiteral("Docs-copy_") + copy->UUID());
    QVERIFY(!copy->isScheduled());
    QCOMPARE(copy->getScheduleWeekDay(), 0x41);
    QCOMPARE(copy->getScheduleTimeHH(), 7);
    QCOMPARE(copy->getScheduleTimeMM(), 5);
    QVERIFY(copy->isOptionDelete());
    QVERIFY(!copy->isProcessOnMount());
    QCOMPARE(m_list->currentBackup3(), copy);
    // the copy's list is its own
    copy->addPathToExcludePathList(QStringLiteral("/d/other"));
    QCOMPARE(docs->excludePathCount(), 1);
    auto second = docs->duplicateProject();
    QCOMPARE(second->name(), QStringLiteral("Docs-copy1"));
    IBackup3 unnamed;
    unnamed.setName(QString());
    QVERIFY(!unnamed.duplicateProject());
}

void TestIBackup3::excludeList()
{
    IBackup3 p;
    QVERIFY(!p.excludePathList());
    p.setModified(false);
    p.addPathToExcludePathList(QStringLiteral("/a/b"));
    p.addPathToExcludePathList(QStringLiteral("/a/b"));
    p.addPathToExcludePathList(QStringLiteral("/a/bc/d"));
    QCOMPARE(p.excludePathCount(), 2);
    QVERIFY(p.isModified());
    QVERIFY(p.isPathChildInExcludePathList(QStringLiteral("/a")));
    QVERIFY(!p.isPathChildInExcludePathList(QStringLiteral("/a/b")));
    // the first raw-prefix match goes
    p.removePathesFromExcludePathListWithPrefix(QStringLiteral("/a/b"));
    QCOMPARE(*p.excludePathList(), QStringList { QStringLiteral("/a/bc/d") });
    p.removePathFromExcludePathList(QStringLiteral("/a/bc/d"));
    QCOMPARE(p.excludePathCount(), 0);
    QVERIFY(p.excludePathList());
}

void TestIBackup3::exclusionFileOfAPass()
{
    auto p = m_list->createNewBackup3(QStringLiteral("Home"));
    auto place = [](const QString& mountPoint, const QString& inner) {
        return QVariantMap { { "URL", "-" }, { "PathFromMountPoint", inner }, { "DisplayName", "d" },
            { "VolumeUUID", "-" }, { "MountPoint", mountPoint }, { "DeviceType", qint64(0) },
            { "Automount", false }, { "Tag", qint64(1) }, { "Removable", false } };
    };
    QVariantMap d;
    p->saveToDict(d);
    d.insert(QStringLiteral("Sources"), QVariantList { place("/", "home/u") });
    // the destination lies inside the source
    d.insert(QStringLiteral("Destination"), place("/", "home/u/Backups"));
    d.insert(QStringLiteral("ProjectBackupFolder"), QStringLiteral("Home_X"));
    QVERIFY(p->loadFromDict(d, 1));
    QCOMPARE(p->srcFolderPathForPass(0), QStringLiteral("/home/u"));
    QVERIFY(p->srcFolderPathForPass(1).isNull());
    p->addPathToExcludePathList(QStringLiteral("/home/u/.cache"));
    p->addPathToExcludePathList(QStringLiteral("/home/u2/x"));
    p->addPathToExcludePathList(QStringLiteral("/home/u/line\nbreak"));
    QVERIFY(p->saveCustomExcludesIntoTmpFileForPass(0));
    const QString file = p->customExcludesTmpFileName();
    QVERIFY(file.startsWith(m_list->tempFolderPath() + QLatin1Char('/')));
    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("/u/.cache\n/u/Backups/Home_X\n"));
    QCOMPARE(p->customExcludeArgumentsForPass(0), QStringList { QStringLiteral("--exclude=/u/line\nbreak") });
    // nothing to write: no file stays recorded, the old one is gone
    p->setExcludePathList(QStringList());
    d.insert(QStringLiteral("Destination"), place("/", "srv/backups"));
    IBackup3 q;
    QVERIFY(q.loadFromDict(d, 1));
    QVERIFY(!q.saveCustomExcludesIntoTmpFileForPass(0));
    QVERIFY(q.customExcludesTmpFileName().isEmpty());
    p.reset();
    m_list.reset();
    QVERIFY(!QFile::exists(file)); // a project's file goes with it
}

void TestIBackup3::imageInsideTheSourceIsLeftOut()
{
    auto p = m_list->createNewBackup3(QStringLiteral("Home"));
    auto place = [](const QString& inner) {
        return QVariantMap { { "URL", "-" }, { "PathFromMountPoint", inner }, { "DisplayName", "d" },
            { "VolumeUUID", "-" }, { "MountPoint", "/" }, { "DeviceType", qint64(0) }, { "Automount", false },
            { "Tag", qint64(1) }, { "Removable", false } };
    };
    QVariantMap d;
    p->saveToDict(d);
    d.insert(QStringLiteral("Sources"), QVariantList { place("home/u") });
    d.insert(QStringLiteral("Destination"), place("home/u/Backups"));
    QVERIFY(p->loadFromDict(d, 1));
    p->setBackupTargetType(1);
    p->setBDI(IDiskImage::createWithBackup(p.get()));
    QVERIFY(p->BDI());
    const QString image = p->BDI()->imagePathVerified(false);
    QVERIFY(image.startsWith(QStringLiteral("/home/u/Backups/")));
    const QByteArray line = QByteArray("/u/Backups/") + image.mid(16).toUtf8();
    QVERIFY(p->customExcludeRulesForPass(0).lines.contains(line));
}

QTEST_GUILESS_MAIN(TestIBackup3)
#include "tst_ibackup3.moc"
