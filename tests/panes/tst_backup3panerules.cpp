// kv-test: labels=unit timeout=60

// The snapshot-backup pane's decisions: buttons and menu items, the status line, the window
// title, the text router's outputs and the schedule timer's step.

#include "panes/backup/Backup3PaneRules.h"

#include <QtTest>

using namespace Backup3PaneRules;

class TestBackup3PaneRules : public QObject
{
    Q_OBJECT
private slots:
    void buttons();
    void menuItems();
    void statusAndHeader();
    void router_data();
    void router();
    void schedule();
};

void TestBackup3PaneRules::buttons()
{
    ButtonInput in;
    QVERIFY(!validateButtons(ButtonInput { .appClosing = true }).apply);
    Buttons b = validateButtons(in);
    QVERIFY(b.apply && !b.deleteProject && !b.restore); // an empty list
    in.projectCount = 2;
    in.hasSources = true;
    in.hasOutlineSelection = true;
    in.selectionCheckedOrTopLevel = true;
    in.hasLastVersion = true;
    b = validateButtons(in);
    QVERIFY(b.deleteProject && b.properties && b.addFile && b.templates && b.removeFile && b.restore);
    in.useImage = true; // an image destination without its image object: no restore
    QVERIFY(!validateButtons(in).restore);
    in.hasImageObject = true;
    QVERIFY(validateButtons(in).restore);
    in.selectionCheckedOrTopLevel = false;
    QVERIFY(!validateButtons(in).removeFile);
    in.currentInProcess = true; // a running project: every project button off
    b = validateButtons(in);
    QVERIFY(!b.deleteProject && !b.properties && !b.addFile && !b.restore);
}

void TestBackup3PaneRules::menuItems()
{
    const MenuInput none;
    const MenuInput idle { .selectedIsOutlineItem = true, .hasCurrent = true };
    const MenuInput running { .selectedIsOutlineItem = false, .hasCurrent = true, .currentInProcess = true };
    QVERIFY(!validateMenuItem(MenuAction::RevealItem, none));
    QVERIFY(validateMenuItem(MenuAction::RevealItem, idle));
    QVERIFY(!validateMenuItem(MenuAction::DeleteContent, running));
    QVERIFY(!validateMenuItem(MenuAction::AddContent, none));
    QVERIFY(validateMenuItem(MenuAction::ProjectProperties, running));
    QVERIFY(validateMenuItem(MenuAction::DeleteProject, idle));
    QVERIFY(!validateMenuItem(MenuAction::DeleteProject, running)); // the container would refuse it
    QVERIFY(validateMenuItem(MenuAction::Other, none));
}

void TestBackup3PaneRules::statusAndHeader()
{
    QCOMPARE(statusString({}), QStringLiteral(""));
    StatusInput s { .hasCurrent = true, .name = "Docs", .lastStatus = QString(), .readyForInterface = true };
    QVERIFY(!statusString(s)); // no status set: the line is left alone
    s.lastStatus = QStringLiteral("");
    QCOMPARE(statusString(s), QStringLiteral("Ready"));
    s.lastStatus = QStringLiteral("Backup was successful.");
    QCOMPARE(statusString(s), QStringLiteral("Backup was successful"));
    s.inProcess = true;
    s.lastStatus = QStringLiteral("Processing \"Docs\"...");
    QCOMPARE(statusString(s), s.lastStatus);

    QCOMPARE(windowHeader(true, false, true, "Docs"), QStringLiteral("Backup: Docs"));
    QCOMPARE(windowHeader(true, false, false, QString()), QStringLiteral("No Projects"));
    QVERIFY(!windowHeader(false, false, true, "Docs"));
    QVERIFY(!windowHeader(true, true, true, "Docs"));
}

void TestBackup3PaneRules::router_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("target");
    QTest::addColumn<bool>("project");
    QTest::addColumn<QString>("status"); // "<none>" when not set
    QTest::addColumn<QStringList>("window");
    QTest::addColumn<QStringList>("runLog");
    QTest::addColumn<QString>("title"); // notification title, "" when none
    const QStringList none;
    const QString no = QStringLiteral("<none>");
    QTest::newRow("type 0, no status bit: empty lines")
        << 0 << 2 << true << no << QStringList { "\n" } << QStringList { "\n" } << "";
    QTest::newRow("type 0, status") << 0 << 1 << true << "Done" << none << none << "";
    QTest::newRow("status, no project")
        << 3 << 1 << false << "Done" << none << QStringList { "D    Done.\n" } << "";
    QTest::newRow("log window") << 3 << 2 << true << no << QStringList { "\"P\" -- Done.\n" }
                                << QStringList { "D  \"P\" C Done.\n" } << "";
    QTest::newRow("log window with time")
        << 5 << 10 << true << no << QStringList { "D  \"P\" -- Done.\n" } << none << "";
    QTest::newRow("tool text") << 3 << 16 << true << no << none << QStringList { "\t C \"P\" Done.\n" } << "";
    QTest::newRow("process code") << 3 << 32 << true << no << none << QStringList { "D  C Done.\n" } << "";
    QTest::newRow("both") << 3 << 48 << true << no << none << QStringList { "\t C Done.\n" } << "";
    QTest::newRow("notification") << 5 << 128 << true << no << none << none << "Project \"P\"";
    QTest::newRow("notification, no project") << 5 << 128 << false << no << none << none << "New message";
}

void TestBackup3PaneRules::router()
{
    QFETCH(int, type);
    QFETCH(int, target);
    QFETCH(bool, project);
    QFETCH(QString, status);
    QFETCH(QStringList, window);
    QFETCH(QStringList, runLog);
    QFETCH(QString, title);
    TextInput in;
    in.text = QStringLiteral("Done.");
    in.type = type;
    in.target = quint8(target);
    in.hasProject = project;
    in.projectName = QStringLiteral("P");
    in.projectIsSelected = true;
    in.processCode = QStringLiteral("C");
    in.now = QStringLiteral("D");
    const TextOutput out = routeText(in);
    QCOMPARE(out.status.value_or(QStringLiteral("<none>")), status);
    QCOMPARE(out.logWindow, window);
    QCOMPARE(out.runLog, runLog);
    QCOMPARE(out.notificationTitle.value_or(QString()), title);

    // A project that is not the selected one leaves the status line alone.
    in.projectIsSelected = false;
    if (project)
        QVERIFY(!routeText(in).status);
}

void TestBackup3PaneRules::schedule()
{
    // Queue not empty -> processNext; suspended -> no scheduleProcess; modal depth -> nothing.
    QVERIFY(scheduleEvent(0, true, 1).processNext);
    QVERIFY(scheduleEvent(0, true, 1).scheduleProcess);
    QVERIFY(!scheduleEvent(0, false, 3).scheduleProcess);
    QVERIFY(scheduleEvent(0, true, 3).processNext);
    QVERIFY(!scheduleEvent(0, false, 0).scheduleProcess);
    const ScheduleStep modal = scheduleEvent(1, true, 1);
    QVERIFY(!modal.processNext && !modal.scheduleProcess);
}

QTEST_GUILESS_MAIN(TestBackup3PaneRules)
#include "tst_backup3panerules.moc"
