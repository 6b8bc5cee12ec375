// kv-test: labels=unit timeout=60

// The snapshot-backup pane controller without its widgets: new, renamed and deleted projects with
// the name rules, the text router's outputs, the destination and outside-folder choosers, the
// image size prompt and the schedule timer's step.

#include "FakeBackup3Engine.h"
#include "RecordingRunLog.h"
#include "RecordingShellServices.h"
#include "ScriptedUiPrompts.h"
#include "TempTree.h"
#include "panes/backup/Backup3PaneController.h"
#include "platform/MainThread.h"
#include "projects/ILocation.h"
#include "snapshot/IBackup3.h"
#include "snapshot/IBackup3Container.h"
#include "utilities/IRunLog.h"
#include "utilities/LogOptions.h"

#include <QSignalSpy>
#include <QtTest>

class TestBackup3PaneController : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void newRenameDelete();
    void textRouter();
    void choosers();
    void sizePrompt();
    void scheduleStep();

private:
    QStringList names() const
    {
        QStringList n;
        for (const auto& p : m_list->backupList())
            n << p->name();
        return n;
    }
    std::unique_ptr<TempTree> m_tree;
    std::unique_ptr<RecordingShellServices> m_shell;
    std::unique_ptr<ScriptedUiPrompts> m_prompts;
    std::unique_ptr<RecordingRunLog> m_runLog;
    std::unique_ptr<IBackup3Container> m_list;
    FakeBackup3Engine* m_engine = nullptr;
    std::unique_ptr<Backup3PaneController> m_pane;
};

void TestBackup3PaneController::init()
{
    m_tree = std::make_unique<TempTree>(QStringLiteral("b3pane"));
    m_shell = std::make_unique<RecordingShellServices>();
    m_prompts = std::make_unique<ScriptedUiPrompts>();
    m_runLog = std::make_unique<RecordingRunLog>();
    IShellServices::setShared(m_shell.get());
    UiPrompts::setShared(m_prompts.get());
    IRunLog::setShared(m_runLog.get());
    auto engine = std::make_unique<FakeBackup3Engine>();
    m_engine = engine.get();
    m_list = std::make_unique<IBackup3Container>(
        std::move(engine), m_tree->filePath(QStringLiteral("Projects.plist")));
    m_pane = std::make_unique<Backup3PaneController>(m_list.get());
    IBackup3Controller::setShared(m_pane.get());
}

void TestBackup3PaneController::cleanup()
{
    QCOMPARE(m_prompts->unexpected, QStringList());
    IBackup3Controller::setShared(nullptr);
    m_pane.reset();
    m_list.reset();
    IShellServices::setShared(nullptr);
    UiPrompts::setShared(nullptr);
    IRunLog::setShared(nullptr);
}

void TestBackup3PaneController::newRenameDelete()
{
    QCOMPARE(m_list->interfaceController(), m_pane.get());
    // "a/b" is stored as "a|b"; the same answer again becomes "a|b1"; Cancel makes nothing.
    m_prompts->expectText(QStringLiteral("a/b"));
    m_prompts->expectText(QStringLiteral("a|b"));
    m_prompts->expectText(QString());
    QVERIFY(m_pane->addProject());
    QVERIFY(m_pane->addProject());
    QVERIFY(!m_pane->addProject());
    QCOMPARE(names(), (QStringList { "a|b", "a|b1" }));
    QCOMPARE(m_prompts->textRequests.at(0).defaultText, QStringLiteral("Untitled"));
    QCOMPARE(m_prompts->textRequests.at(0).title, QStringLiteral("Create project"));
    const auto created = m_shell->messages();
    QVERIFY(!created.isEmpty());
    QCOMPARE(created.last().text, QByteArray("Backup project \"a|b1\" was created"));
    QCOMPARE(created.last().options, LogWord::WindowWithTime);

    // A name edited in the list: the same rules; an empty edit keeps the name.
    QVERIFY(m_pane->renameCurrentProject(QStringLiteral("x/y")));
    QCOMPARE(m_list->currentBackup3()->name(), QStringLiteral("x|y"));
    QVERIFY(!m_pane->renameCurrentProject(QString()));
    QVERIFY(!m_pane->renameCurrentProject(QStringLiteral("..")));
    QVERIFY(m_pane->renameCurrentProject(QStringLiteral("a|b")));
    QCOMPARE(m_list->currentBackup3()->name(), QStringLiteral("a|b1"));

    // A running project is not removed and nothing is asked or logged.
    const int before = int(m_shell->messages().size());
    m_list->currentBackup3()->setInProcess(true, IBackup3::OpRunning);
    QVERIFY(!m_pane->deleteCurrentProject());
    QCOMPARE(m_list->countOfBackups3(), 2);
    m_list->currentBackup3()->setInProcess(false, IBackup3::OpIdle);
    m_prompts->expectAlert(QStringLiteral("remove this project"), 0); // Cancel
    QVERIFY(!m_pane->deleteCurrentProject());
    m_prompts->expectAlert(QStringLiteral("remove this project"), 1); // Remove
    QVERIFY(m_pane->deleteCurrentProject());
    QCOMPARE(names(), QStringList { "a|b" });
    QCOMPARE(m_shell->messages().size(), before + 1);
    QCOMPARE(m_shell->messages().last().text, QByteArray("Backup project \"a|b1\" was removed"));
}

void TestBackup3PaneController::textRouter()
{
    auto p = m_list->createNewBackup3(QStringLiteral("Docs"));
    p->setProcessingCodeString(QStringLiteral("( 7 )"));
    QSignalSpy status(m_pane.get(), &Backup3PaneController::statusLineChanged);
    m_pane->sendTextInfo(
        QStringLiteral("Backup was successful."), 3, tpStatus | tpLog | tpProcCodeString, p.get());
    QCOMPARE(m_pane->statusLine(), QStringLiteral("Backup was successful"));
    QCOMPARE(status.size(), 1);
    QVERIFY(m_shell->calls().contains(QStringLiteral("appendToWinLog:\"Docs\" -- Backup was successful.\n")));
    QCOMPARE(m_runLog->texts().size(), 1);
    QVERIFY(m_runLog->texts().first().endsWith(" ( 7 ) Backup was successful.\n"));

    // Dropped while the engine asks for silence.
    m_pane->setNoSendTextInfo(true);
    m_pane->sendTextInfo(QStringLiteral("x"), 3, tpStatus | tpLog, p.get());
    QCOMPARE(status.size(), 1);
    QCOMPARE(m_runLog->texts().size(), 1);
}

void TestBackup3PaneController::choosers()
{
    m_tree->mkdir("dest");
    m_tree->writeFile(std::string("file"), "x");
    m_tree->writeFile(std::string("proj/qv3info.plist"), "x");
    std::unique_ptr<ILocation> location(ILocation::create());
    // A folder is set into the location; a file or Cancel leaves it as it was.
    m_prompts->expectFolder(m_tree->filePath(QStringLiteral("dest")));
    QVERIFY(m_pane->chooseDestPathByUser(location.get()));
    QCOMPARE(location->getUnverifiedFullPath(), m_tree->filePath(QStringLiteral("dest")));
    m_prompts->expectFolder(m_tree->filePath(QStringLiteral("file")));
    QVERIFY(!m_pane->chooseDestPathByUser(location.get()));
    m_prompts->expectFolder(QString());
    QVERIFY(!m_pane->chooseDestPathByUser(location.get()));
    QCOMPARE(location->getUnverifiedFullPath(), m_tree->filePath(QStringLiteral("dest")));
    QCOMPARE(m_prompts->folderRequests.at(1).startPath, m_tree->filePath(QStringLiteral("dest")));

    // The outside-folder chooser refuses a folder without the version list.
    m_prompts->expectFolder(m_tree->filePath(QStringLiteral("dest")));
    QVERIFY(m_pane->chooseExternalRestoreFolder().isNull());
    QCOMPARE(m_prompts->folderRefusals.size(), 1);
    QVERIFY(m_prompts->folderRefusals.first().startsWith(QStringLiteral("Incorrect folder.")));
    m_prompts->expectFolder(m_tree->filePath(QStringLiteral("proj")));
    QCOMPARE(m_pane->chooseExternalRestoreFolder(), m_tree->filePath(QStringLiteral("proj")));
}

void TestBackup3PaneController::sizePrompt()
{
    double value = 5;
    m_prompts->expectNumber(12.5);
    QVERIFY(m_pane->getNewDICustomMaxSizeInGBByUserTo(&value, 5));
    QCOMPARE(value, 12.5);
    const UiPrompts::NumberRequest r = m_prompts->numberRequests.first();
    QCOMPARE(r.minimum, 0.1);
    QCOMPARE(r.maximum, 1000000.0);
    QCOMPARE(r.value, 5.0);
    QVERIFY(r.decimals);
    m_prompts->expectNumber(std::nullopt); // Cancel: 0, the value unchanged
    QVERIFY(!m_pane->getNewDICustomMaxSizeInGBByUserTo(&value, 12.5));
    QCOMPARE(value, 12.5);
}

void TestBackup3PaneController::scheduleStep()
{
    auto p = m_list->createNewBackup3(QStringLiteral("Docs"));
    QVariantMap d;
    p->saveToDict(d);
    d.insert(QStringLiteral("Sources"),
        QVariantList { QVariantMap { { "PathFromMountPoint", "home/Docs" }, { "MountPoint", "/" },
            { "DeviceType", qint64(0) }, { "Tag", qint64(1) } } });
    p->loadFromDict(d, 1);
    m_list->addBackup3ToProcessingList(p);
    {
        // A modal window is up: the tick does nothing.
        ModalDepthGuard modal;
        m_pane->scheduleEvent();
        QCOMPARE(m_engine->started.size(), 0);
    }
    m_pane->scheduleEvent();
    QCOMPARE(m_engine->started.size(), 1);

    QVERIFY(!m_pane->isScheduleRunning());
    m_pane->startSchedule();
    QVERIFY(m_pane->isScheduleRunning());
    m_pane->eventAppClosing();
    QVERIFY(!m_pane->isScheduleRunning());
}

QTEST_MAIN(TestBackup3PaneController)
#include "tst_backup3panecontroller.moc"
