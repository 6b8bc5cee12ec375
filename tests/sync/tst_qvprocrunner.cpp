// kv-test: labels=unit timeout=120
#include "KvTest.h"
#include "RecordingShellServices.h"
#include "TempTree.h"
#include "platform/AppPaths.h"
#include "platform/NameCodec.h"
#include "platform/ProcessTable.h"
#include "projects/IProcessCard.h"
#include "sync/IQVProc.h"
#include "sync/ISynchron.h"
#include "utilities/JSONLookup.h"

#include <QElapsedTimer>
#include <QtTest>
#include <unistd.h>

namespace {

class RecordingClient : public IQVProc::Client
{
public:
    QString key = QStringLiteral("synchronize");
    QString source, dest;
    QString tool; // when set: the program's tool, run in two phases
    QList<QByteArray> items;
    bool finished = false;
    QString QVProcGetParamsTemplateNameForProject(ISynchron&) override { return key; }
    bool QVProcInitParamsForProject(ISynchron&, cJSON* program, cJSON*) override
    {
        cJSON* data = get_param_item(program, "Phases:InitParams:InterfaceDataList");
        setStringToObject(
            get_param_item(data, "SourceFolder"), "Path", NameCodec::encode(source).constData());
        setStringToObject(get_param_item(data, "DestFolder"), "Path", NameCodec::encode(dest).constData());
        if (!tool.isEmpty()) {
            cJSON_ReplaceItemInObject(data, "toolPath", cJSON_CreateString(NameCodec::encode(tool).constData()));
            cJSON* phases = get_param_item(program, "Phases:PhaseList");
            cJSON_AddItemToArray(phases, cJSON_CreateString("synchronize"));
        }
        return true;
    }
    void QVProcWorkInfoProcess(const QByteArray& item) override { items << item; }
    void QVProcWorkInfoBatch(const std::vector<QByteArray>& batch) override
    {
        ++batches;
        IQVProc::Client::QVProcWorkInfoBatch(batch);
    }
    void ITProcessFinished() override
    {
        finished = true;
        itemsAtEnd = items.size();
    }
    int batches = 0;
    qsizetype itemsAtEnd = -1;
    void engineStarted(const QStringList&, pid_t g) override { group = g; }
    pid_t group = 0;
};

} // namespace

class TestQVProcRunner : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void protocol_data();
    void protocol();
    void stopEndsTheEngineGroup_data();
    void stopEndsTheEngineGroup();
    void stopBetweenPhasesStartsNoFurtherPhase_data();
    void stopBetweenPhasesStartsNoFurtherPhase();

private:
    std::unique_ptr<RecordingShellServices> m_shell;
    std::unique_ptr<TempTree> m_app;
};

void TestQVProcRunner::init()
{
    m_shell = std::make_unique<RecordingShellServices>();
    IShellServices::setShared(m_shell.get());
    m_app = std::make_unique<TempTree>(QStringLiteral("app"));
    QVERIFY(m_app->mkdir(std::string("Contents/Resources")));
    AppPaths::setContentsDirOverride(m_app->filePath(std::string("Contents")));
}

void TestQVProcRunner::cleanup()
{
    AppPaths::setContentsDirOverride(QString());
    IShellServices::setShared(nullptr);
    m_shell.reset();
    m_app.reset();
}

// A stand-in engine prints scripted lines; the runner's reading of them shows in the log, the
// card, the indicator, the items and the project.
void TestQVProcRunner::protocol_data()
{
    QTest::addColumn<bool>("withTemplate");
    QTest::addColumn<bool>("analysis");
    QTest::addColumn<QByteArray>("lines"); // shell body after the pid line
    QTest::addColumn<bool>("started");
    QTest::addColumn<QStringList>("logged");
    QTest::addColumn<bool>("error");
    const QByteArray longItem(16 * 1024, 'n');
    QTest::newRow("template missing")
        << false << false << QByteArray() << false
        << QStringList { "Program template \"synchronize\" not found." } << true;
    QTest::newRow("completed")
        << true << false
        << QByteArray("echo 'ii::command_line rsync -n a b'\necho pi::42.5\necho 'ic:: end'\n") << true
        << QStringList { "command line: rsync -n a b" } << false;
    QTest::newRow("end without ic") << true << false << QByteArray("echo pi::10\n") << true
                                    << QStringList { "Commandline Util: The process terminated unexpectedly" }
                                    << true;
    QTest::newRow("phase not completed")
        << true << false << QByteArray("echo 'ii::synchronize Phase not completed'\nexit 1\n") << true
        << QStringList { "Commandline Util: The process terminated unexpectedly 2" } << true;
    QTest::newRow("error line") << true << false << QByteArray("echo er::x\necho 'ic:: end'\n") << true
                                << QStringList { "x" } << true;
    QTest::newRow("warning completes") << true << false << QByteArray("echo wg::careful\necho 'ic:: end'\n")
                                       << true << QStringList { "careful" } << false;
    QTest::newRow("long item and later lines")
        << true << true
        << QByteArray("printf 'wi::%s\\n' " + longItem + "\nsleep 0.2\necho wi::after\necho 'ic:: end'\n")
        << true << QStringList() << false;
    // More items than one drain takes, in one write: they arrive in order, in far fewer posts than
    // items, and all before the end.
    QTest::newRow("many items") << true << true << QByteArray("seq -f 'wi::%g' 0 4999\necho 'ic:: end'\n") << true
                                << QStringList() << false;
    QTest::newRow("device of an analysis is not applied")
        << true << false << QByteArray("echo 'id::{\"device\":\"loop1s258\"}'\necho 'ic:: end'\n") << true
        << QStringList() << false;
}

void TestQVProcRunner::protocol()
{
    QFETCH(bool, withTemplate);
    QFETCH(bool, analysis);
    QFETCH(QByteArray, lines);
    QFETCH(bool, started);
    QFETCH(QStringList, logged);
    QFETCH(bool, error);
    if (withTemplate)
        QVERIFY(QFile::copy(KvTest::appContentsDir() + "/Resources/TemplateProc.plist",
            m_app->filePath(std::string("Contents/Resources/TemplateProc.plist"))));
    const QString argvFile = m_app->filePath(std::string("argv"));
    QVERIFY(m_app->writeFile(std::string("Contents/Resources/qv_proc"),
        "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$1\" > '" + NameCodec::encode(argvFile) + "'\ncat \"$1\" >> '"
            + NameCodec::encode(argvFile) + "'\necho \"qv_proc_pid $$\"\n" + lines,
        0755));
    TempTree left(QStringLiteral("left")), right(QStringLiteral("right"));
    auto project = std::make_shared<ISynchron>();
    project->setFirstFolder(left.path());
    project->setSecondFolder(right.path());
    const QString secondBefore = project->secondFolder();
    if (analysis)
        project->processCard()->add(taskAnalyze);
    RecordingClient client;
    client.source = left.path();
    client.dest = right.path() + QString::fromUtf8("/caf\xc3\xa9 $(x)");

    std::shared_ptr<IQVProc> runner = IQVProc::startProject(project, &client);
    QCOMPARE(bool(runner), started);
    IProcessCard* card = project->processCard();
    if (started) {
        QTRY_VERIFY_WITH_TIMEOUT(client.finished, 10000);
        QVERIFY(runner->processID() > 0);
        // The engine got the program file alone, private and complete; it is gone after the run.
        const QByteArray argv = m_app->readFile("argv");
        QVERIFY2(argv.startsWith("1\n"), argv.constData());
        const QString programPath = runner->programFilePath();
        QVERIFY(programPath.endsWith(".txt"));
        QVERIFY(argv.contains(NameCodec::encode(client.dest)));
        QVERIFY(!QFileInfo::exists(programPath));
        QVERIFY(card->isFlag(stateFinished));
    }
    QCOMPARE(card->isFlag(errorRuntime) || card->isFlag(errorToolStart), error);
    QStringList texts;
    for (const auto& m : m_shell->messages())
        texts << QString::fromUtf8(m.text);
    for (const QString& t : logged)
        QVERIFY2(texts.contains(t), qPrintable(texts.join('|')));
    if (QTest::currentDataTag() == QByteArray("completed"))
        QCOMPARE(project->indicatorPosition(), 42.5);
    if (QTest::currentDataTag() == QByteArray("many items")) {
        QCOMPARE(client.items.size(), 5000);
        for (int i = 0; i < 5000; ++i)
            QCOMPARE(client.items.at(i), QByteArray::number(i));
        QCOMPARE(client.itemsAtEnd, 5000);
        QVERIFY2(client.batches < 100, qPrintable(QString::number(client.batches)));
    } else if (analysis) {
        QCOMPARE(client.items, (QList<QByteArray> { QByteArray(16 * 1024, 'n'), "after" }));
    }
    QCOMPARE(project->secondFolder(), secondBefore);
}

void TestQVProcRunner::stopEndsTheEngineGroup_data()
{
    QTest::addColumn<bool>("admin");
    QTest::newRow("as the user") << false;
    QTest::newRow("as root") << true;
}

// A user's stop while the engine waits on a child ends the engine's whole group within seconds
// and reads as a stop, not as an unexpected end.
void TestQVProcRunner::stopEndsTheEngineGroup()
{
    QFETCH(bool, admin);
    if (admin && ::geteuid() != 0)
        QSKIP("the root engine runs through sudo here: tst_engineuser covers it");
    QVERIFY(QFile::copy(KvTest::appContentsDir() + "/Resources/TemplateProc.plist",
        m_app->filePath(std::string("Contents/Resources/TemplateProc.plist"))));
    QVERIFY(m_app->writeFile(std::string("Contents/Resources/qv_proc"),
        "#!/bin/sh\necho \"qv_proc_pid $$\"\necho 'ii::command_line sleep 30'\nsleep 30\necho 'ic:: end'\n",
        0755));
    auto project = std::make_shared<ISynchron>();
    project->setUseAdminPrivileges(admin);
    RecordingClient client;
    client.source = m_app->path();
    client.dest = m_app->path();
    pid_t group = 0;
    std::shared_ptr<IQVProc> runner = IQVProc::startProject(project, &client);
    QVERIFY(runner);
    QTRY_VERIFY_WITH_TIMEOUT(runner->processID() > 0, 5000);
    // The engine's starter leads the group (the root shell when the project runs as root).
    group = client.group;
    QVERIFY(group > 0);
    QTRY_VERIFY_WITH_TIMEOUT(ProcessTable::groupMembers(group).size() >= 2, 5000);
    QElapsedTimer timer;
    timer.start();
    runner->terminateByUser();
    QTRY_VERIFY_WITH_TIMEOUT(client.finished, 10000);
    QVERIFY(timer.elapsed() < 5000);
    QVERIFY(ProcessTable::groupMembers(group).isEmpty());
    IProcessCard* card = project->processCard();
    QVERIFY(card->isFlag(reasonTerminatedByUser));
    QVERIFY(!card->isFlag(reasonCompleted));
    QVERIFY(!card->isFlag(errorRuntime));
    QStringList texts;
    for (const auto& m : m_shell->messages())
        texts << QString::fromUtf8(m.text);
    QVERIFY2(texts.contains("Terminated by user"), qPrintable(texts.join('|')));
    QVERIFY(!texts.contains("Commandline Util: The process terminated unexpectedly"));
}

void TestQVProcRunner::stopBetweenPhasesStartsNoFurtherPhase_data()
{
    stopEndsTheEngineGroup_data();
}

// The real engine with two phases: the first phase's tool takes the stop as its normal end, so
// the stop finds the engine between phases with no child. It starts no further phase, prints no
// end line, and the run reads as a stop.
void TestQVProcRunner::stopBetweenPhasesStartsNoFurtherPhase()
{
    QFETCH(bool, admin);
    if (admin && ::geteuid() != 0)
        QSKIP("the root engine runs through sudo here: tst_engineuser covers it");
    const QString resources = m_app->filePath(std::string("Contents/Resources"));
    QVERIFY(QFile::copy(KvTest::appContentsDir() + "/Resources/TemplateProc.plist", resources + "/TemplateProc.plist"));
    QVERIFY(QFile::copy(KvTest::appContentsDir() + "/Resources/qv_proc", resources + "/qv_proc"));
    const QString starts = m_app->filePath(std::string("starts"));
    QVERIFY(m_app->writeFile(std::string("tool"),
        "#!/bin/sh\necho start >> '" + NameCodec::encode(starts)
            + "'\ntrap 'exit 0' TERM\necho x\nwhile :; do sleep 0.1; done\n",
        0755));
    auto project = std::make_shared<ISynchron>();
    project->setUseAdminPrivileges(admin);
    RecordingClient client;
    client.source = m_app->filePath(std::string("Contents"));
    client.dest = m_app->filePath(std::string("Contents"));
    client.tool = m_app->filePath(std::string("tool"));
    std::shared_ptr<IQVProc> runner = IQVProc::startProject(project, &client);
    QVERIFY(runner);
    auto logged = [this] {
        QStringList texts;
        for (const auto& m : m_shell->messages())
            texts << QString::fromUtf8(m.text);
        return texts;
    };
    // The tool started; a moment later it takes the stop as its end.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(starts), 10000);
    QTest::qWait(300);
    const pid_t group = client.group;
    QElapsedTimer timer;
    timer.start();
    runner->terminateByUser();
    QTRY_VERIFY_WITH_TIMEOUT(client.finished, 10000);
    QVERIFY(timer.elapsed() < 5000);
    QTRY_VERIFY_WITH_TIMEOUT(ProcessTable::groupMembers(group).isEmpty(), 5000);
    QCOMPARE(m_app->readFile("starts"), QByteArray("start\n"));
    IProcessCard* card = project->processCard();
    QVERIFY(card->isFlag(reasonTerminatedByUser));
    QVERIFY(!card->isFlag(reasonCompleted));
    const QStringList texts = logged();
    QVERIFY2(texts.contains("Terminated by user"), qPrintable(texts.join('|')));
    QVERIFY(!texts.contains("Commandline Util: The process terminated unexpectedly"));
}

QTEST_GUILESS_MAIN(TestQVProcRunner)
#include "tst_qvprocrunner.moc"
