// kv-test: labels=unit timeout=120 asan=src/panes/sync/SynchronizePaneController.cpp,src/sync/ISynchronContainer.cpp

// The synchronization pane controller without its widgets, over the real container with a run
// controller that runs nothing: names of new projects, deletion of a running project, folders
// refused as nested or not folders, the clone verdict shown for display only while a clone runs,
// the question before a full clone stops, the text router's outputs, and analysis texts posted
// from a reader thread while the main thread joins it.

#include "FakeLocationServices.h"
#include "FakeSyncRunController.h"
#include "RecordingRunLog.h"
#include "RecordingShellServices.h"
#include "ScriptedUiPrompts.h"
#include "TempTree.h"
#include "panes/sync/AnalyzeOutlineModel.h"
#include "panes/sync/SynchronizePaneController.h"
#include "platform/NameCodec.h"
#include "projects/ILocation.h"
#include "projects/IProcessCard.h"
#include "sync/ICloneStartWarner.h"
#include "sync/ISynchron.h"
#include "sync/ISynchronContainer.h"
#include "utilities/LogOptions.h"
#include "../utilities/WorkspaceFixture.h"

#include <QtTest>
#include <thread>

class TestSyncPaneController : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void newProjectNames();
    void deleteRunningProjectWhenItEnds();
    void foldersRefused();
    void verdictLeavesRunningCardAlone();
    void fullCloneStopAsksFirst();
    void textRouter();
    void analysisTextsFromReaderThread();

private:
    std::shared_ptr<ISynchron> newClone(const QString& a, const QString& b);
    std::unique_ptr<WorkspaceFixture> m_ws;
    std::unique_ptr<TempTree> m_tree;
    std::unique_ptr<FakeLocationServices> m_volumes;
    std::unique_ptr<RecordingShellServices> m_shell;
    std::unique_ptr<ScriptedUiPrompts> m_prompts;
    std::unique_ptr<RecordingRunLog> m_runLog;
    std::unique_ptr<ISynchronContainer> m_list;
    FakeSyncRunController* m_runs = nullptr;
    std::unique_ptr<SynchronizePaneController> m_pane;
};

void TestSyncPaneController::init()
{
    m_ws = std::make_unique<WorkspaceFixture>();
    m_tree = std::make_unique<TempTree>(QStringLiteral("syncpane"));
    m_volumes = std::make_unique<FakeLocationServices>();
    m_volumes->add("Work", m_tree->path(), "0000");
    ILocationServices::setShared(m_volumes.get());
    m_shell = std::make_unique<RecordingShellServices>();
    m_prompts = std::make_unique<ScriptedUiPrompts>();
    m_runLog = std::make_unique<RecordingRunLog>();
    IShellServices::setShared(m_shell.get());
    UiPrompts::setShared(m_prompts.get());
    IRunLog::setShared(m_runLog.get());
    auto runs = std::make_unique<FakeSyncRunController>();
    m_runs = runs.get();
    m_list = std::make_unique<ISynchronContainer>(std::move(runs), m_tree->filePath(QStringLiteral("ws")));
    m_pane = std::make_unique<SynchronizePaneController>(m_list.get());
    ISynchronizeController::setShared(m_pane.get());
    m_list->reInit();
}

void TestSyncPaneController::cleanup()
{
    QCOMPARE(m_prompts->unexpected, QStringList());
    ISynchronizeController::setShared(nullptr);
    m_pane.reset();
    m_list.reset();
    ILocationServices::setShared(nullptr);
    IShellServices::setShared(nullptr);
    UiPrompts::setShared(nullptr);
    IRunLog::setShared(nullptr);
    m_ws.reset();
}

std::shared_ptr<ISynchron> TestSyncPaneController::newClone(const QString& a, const QString& b)
{
    m_list->setCurrentSyncType(1);
    auto clone = m_list->createNewSynchron(QStringLiteral("Clone"), 1);
    clone->setFirstFolder(a);
    clone->setSecondFolder(b);
    clone->setStartCloningWarnDialog(false);
    return clone;
}

void TestSyncPaneController::newProjectNames()
{
    struct Row
    {
        QString typed;
        QString stored; // null: nothing created
    };
    m_list->createNewSynchron(QStringLiteral("Untitled"), 0);
    m_list->createNewSynchron(QStringLiteral("Untitled1"), 0);
    m_list->createNewSynchron(QStringLiteral("A"), 0);
    const Row rows[] = {
        { QStringLiteral("A"), QStringLiteral("A1") },
        { QStringLiteral("a/b"), QStringLiteral("a|b") },
        { QString(), QString() }, // Cancel
        { QStringLiteral(".."), QString() },
    };
    for (const Row& r : rows) {
        const qsizetype before = m_list->countOfSynchronsByType(0);
        m_prompts->expectText(r.typed);
        QCOMPARE(m_pane->addProject(), !r.stored.isNull());
        QCOMPARE(m_list->countOfSynchronsByType(0), before + (r.stored.isNull() ? 0 : 1));
        if (!r.stored.isNull())
            QCOMPARE(m_list->currentSynchronByType(0)->name(), r.stored);
        // Cancel too refreshes and saves.
        QVERIFY(QFile::exists(m_list->syncsFilePath()));
    }
    // The offered name skips the taken ones.
    QCOMPARE(m_prompts->textRequests.last().defaultText, QStringLiteral("Untitled2"));
    const auto created = m_shell->messages();
    QVERIFY(std::any_of(created.begin(), created.end(),
        [](const auto& m) { return m.text == "Sync project \"a|b\" was created" && m.options == LogWord::WindowWithTime; }));
}

void TestSyncPaneController::deleteRunningProjectWhenItEnds()
{
    QVERIFY(m_tree->mkdir("L") && m_tree->mkdir("R"));
    auto P = m_list->createNewSynchron(QStringLiteral("Run"), 0);
    P->setFirstFolder(m_tree->filePath(QStringLiteral("L")));
    P->setSecondFolder(m_tree->filePath(QStringLiteral("R")));
    m_list->setCurrentSyncType(0);
    m_list->processCurrentProject();
    QCOMPARE(m_runs->started.size(), 1);
    QVERIFY(P->isInProcess());

    // "Cancel" deletes nothing.
    m_prompts->expectAlert(QStringLiteral("remove this project"), 0);
    QVERIFY(!m_pane->deleteCurrentProject());
    QCOMPARE(m_list->indexByTypeOfSynchron(P.get()) >= 0, true);

    // "Remove": the run is stopped, and the project goes once the run has ended.
    std::weak_ptr<ISynchron> gone = P;
    m_prompts->expectAlert(QStringLiteral("remove this project"), 1);
    QVERIFY(m_pane->deleteCurrentProject());
    QCOMPARE(m_runs->terminations, 1);
    QTRY_COMPARE(m_list->indexByTypeOfSynchron(P.get()), qsizetype(-1));
    QVERIFY(!m_pane->isDeletePending());
    const auto msgs = m_shell->messages();
    QVERIFY(std::any_of(msgs.begin(), msgs.end(), [](const auto& m) { return m.text == "Sync project \"Run\" was removed"; }));
    P.reset();
    QVERIFY(gone.expired() || gone.use_count() > 0); // held only where the container still keeps it
}

void TestSyncPaneController::foldersRefused()
{
    QVERIFY(m_tree->mkdir("top") && m_tree->mkdir("top/inner") && m_tree->mkdir("other"));
    m_tree->writeFile(std::string("file.txt"), "x");
    const std::string odd = "odd\xff";
    QVERIFY(m_tree->mkdir(odd));
    auto P = m_list->createNewSynchron(QStringLiteral("Sync"), 0);
    m_list->setCurrentSyncType(0);
    const QString top = m_tree->filePath(QStringLiteral("top"));
    QVERIFY(m_pane->setFolder(0, top));

    struct Row
    {
        QString path;
        QString why; // null: accepted
    };
    const Row rows[] = {
        { top, QStringLiteral("Folders was't selected correctly") },
        { top + QStringLiteral("/inner"), QStringLiteral("Folders was't selected correctly") },
        { m_tree->path(), QStringLiteral("Folders was't selected correctly") },
        { m_tree->filePath(QStringLiteral("file.txt")), QStringLiteral("Choose а folder to synchronize") },
        { m_tree->filePath(QStringLiteral("missing")), QStringLiteral("Choose а folder to synchronize") },
    };
    for (const Row& r : rows) {
        QString why;
        QVERIFY2(!m_pane->setFolder(1, r.path, &why), qPrintable(r.path));
        QCOMPARE(why, r.why);
        QVERIFY(P->secondFolder().isEmpty());
    }
    // A name that is not UTF-8 is kept byte for byte.
    const QString oddPath = NameCodec::decode(QByteArray::fromStdString(m_tree->filePathStd(odd)));
    QVERIFY(m_pane->setFolder(1, oddPath));
    QCOMPARE(NameCodec::encode(P->secondFolder()), QByteArray::fromStdString(m_tree->filePathStd(odd)));

    // A stored nested pair is never ready, whatever the container's bits say.
    P->setSecondFolder(top + QStringLiteral("/inner"));
    QVERIFY(SynchronizePaneController::foldersNested(*P));
    m_pane->validateButtons();
    QVERIFY(!m_pane->buttons().analyze);

    // A running project takes no folder, and a clone takes none.
    P->setInProcess(true, ISynchron::OpSynchronizing);
    QString why;
    QVERIFY(!m_pane->setFolder(1, m_tree->filePath(QStringLiteral("other")), &why));
    QCOMPARE(why, QStringLiteral("The project is running: its folders cannot change now"));
    P->setInProcess(false, 0);
    newClone(QString(), QString());
    QVERIFY(!m_pane->setFolder(1, m_tree->filePath(QStringLiteral("other")), &why));
    QCOMPARE(why, QStringLiteral("Only a synchronization project takes folders"));
}

void TestSyncPaneController::verdictLeavesRunningCardAlone()
{
    QVERIFY(m_tree->mkdir("one") && m_tree->mkdir("two"));
    m_volumes->add("One", m_tree->filePath(QStringLiteral("one")), "1111");
    m_volumes->add("Two", m_tree->filePath(QStringLiteral("two")), "2222");
    // The same volume twice: refused, nothing can start.
    auto same = newClone(m_tree->filePath(QStringLiteral("one")), m_tree->filePath(QStringLiteral("one")));
    QString text;
    QVERIFY(!m_pane->analyzeClone(same.get(), true, &text));
    QCOMPARE(text, QStringLiteral("Source and destination must differ"));
    QCOMPARE(m_pane->verdict().anchor, QStringLiteral("cloning_messages_html_same_source_and_destination"));
    QVERIFY(m_pane->verdictHtml().contains(QLatin1String("href=\"cloning_messages_html_same_source_and_destination\"")));

    // A running clone with the flag keeps it through the pane's refreshes, and an unmount of
    // its destination does not end the run.
    auto P = newClone(m_tree->filePath(QStringLiteral("one")), m_tree->filePath(QStringLiteral("two")));
    m_list->processCurrentProject();
    QCOMPARE(m_runs->started.size(), 1);
    P->card().set(stateRunning);
    P->card().add(analyticUnmountNotReasonForTermination);
    m_pane->validateButtons();
    m_pane->volumeBaseUpdated();
    m_pane->eventProjectPropertyChanged(6);
    QVERIFY(P->card().isFlag(analyticUnmountNotReasonForTermination));
    m_volumes->items.removeLast(); // the destination is gone
    m_list->diskWasUnmount();
    QCOMPARE(m_runs->terminations, 0);
    QVERIFY(P->isInProcess());
    // Idle again: the check writes the card.
    m_runs->finish(0);
    P->card().set(stateEmpty);
    m_pane->analyzeClone(P.get(), true, nullptr);
    QVERIFY(!P->card().isFlag(analyticUnmountNotReasonForTermination));
}

void TestSyncPaneController::fullCloneStopAsksFirst()
{
    QVERIFY(m_tree->mkdir("one") && m_tree->mkdir("two"));
    m_volumes->add("One", m_tree->filePath(QStringLiteral("one")), "1111");
    m_volumes->add("Two", m_tree->filePath(QStringLiteral("two")), "2222");
    auto P = newClone(m_tree->filePath(QStringLiteral("one")), m_tree->filePath(QStringLiteral("two")));
    m_pane->toggleCurrentProjectProcessState();
    QCOMPARE(m_runs->started.size(), 1);
    P->card().add(taskFullCloning);
    m_prompts->expectAlert(QStringLiteral("terminating the cloning"), 0); // "Resume Cloning"
    m_pane->toggleCurrentProjectProcessState();
    QCOMPARE(m_runs->terminations, 0);
    QVERIFY(P->isInProcess());
    m_prompts->expectAlert(QStringLiteral("terminating the cloning"), 1); // "Terminate Cloning"
    m_pane->toggleCurrentProjectProcessState();
    QCOMPARE(m_runs->terminations, 1);
    QVERIFY(!P->isInProcess());
}

void TestSyncPaneController::textRouter()
{
    auto selected = m_list->createNewSynchron(QStringLiteral("Sel"), 0);
    auto other = m_list->createNewSynchron(QStringLiteral("Other"), 0);
    m_list->setCurrentSynchronByIndex(m_list->indexByTypeOfSynchron(selected.get()), 0);
    m_list->setCurrentSyncType(0);
    QSignalSpy status(m_pane.get(), &SynchronizePaneController::statusLineChanged);
    m_pane->sendTextInfo(QStringLiteral("Copying."), 1, tpStatus | tpLog, other.get());
    QVERIFY(status.isEmpty());
    m_pane->sendTextInfo(QStringLiteral("Copying."), 1, tpStatus | tpLog, selected.get());
    QCOMPARE(m_pane->statusLine(0), QStringLiteral("Copying"));
    QVERIFY(m_shell->calls().contains(QStringLiteral("appendToWinLog:\"Sel\"  -- Copying.\n")));
    QCOMPARE(m_runLog->texts().size(), 2);
    QVERIFY(m_runLog->texts().last().contains("\"Sel\" "));
    // While an analysis runs every text is dropped.
    m_pane->setNoSendTextInfo(true);
    m_pane->sendTextInfo(QStringLiteral("dropped"), 1, tpStatus | tpLog, selected.get());
    QCOMPARE(m_runLog->texts().size(), 2);
}

void TestSyncPaneController::analysisTextsFromReaderThread()
{
    // The reader posts and never waits: the main thread joins it without running its loop.
    std::thread reader([this] {
        for (int i = 0; i < 2000; ++i)
            m_pane->sendAnalyzeInfo(QStringLiteral("item %1").arg(i), 0);
        m_pane->processIndicator();
    });
    reader.join();
    QTRY_COMPARE(m_pane->analyzeLabel(), QStringLiteral("item 1999"));
}

QTEST_MAIN(TestSyncPaneController)
#include "tst_syncpanecontroller.moc"
