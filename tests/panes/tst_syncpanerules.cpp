// kv-test: labels=unit timeout=60

// The decisions of the synchronization and clone panes: buttons over the readiness bits, the
// status line, the status-change table with and without the no-send flag, the text router, the
// analysis marks and styles, the empty-state hints, the top panel's drops and direction, the
// start warning, the disk pickers and the settings sheets' rules.

#include "panes/sync/SyncPaneRules.h"
#include "panes/sync/SyncPropertiesForm.h"
#include "sync/IAnalyzeFileSystemItem.h"
#include "utilities/LogOptions.h"

#include <QtTest>

using namespace SyncPaneRules;
using Item = IAnalyzeFileSystemItem;

class TestSyncPaneRules : public QObject
{
    Q_OBJECT
private slots:
    void buttons_data();
    void buttons();
    void statusLine();
    void statusChanges();
    void textRouter_data();
    void textRouter();
    void suspenderTip();
    void marksAndStyles();
    void emptyStates();
    void drops();
    void direction();
    void startWarning();
    void pickers();
    void sheetRules();
};

void TestSyncPaneRules::buttons_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("project");
    QTest::addColumn<int>("ready");
    QTest::addColumn<bool>("nested");
    QTest::addColumn<QString>("expected"); // delete/props, pickers, panel, analyze, images, clear
    QTest::newRow("no project") << 0 << false << 0xff << false << "0 0 0 0 0 1";
    QTest::newRow("sync idle, all bits") << 0 << true << (2 | 4 | 8 | 16 | 64) << false << "1 1 1 1 1 0";
    QTest::newRow("sync running") << 0 << true << (2 | 32) << false << "0 0 0 0 0 0";
    QTest::newRow("sync analysing") << 0 << true << (2 | 8) << false << "0 0 0 1 0 0";
    QTest::newRow("sync nested pair") << 0 << true << (2 | 4 | 8 | 16) << true << "1 1 1 0 0 0";
    QTest::newRow("clone idle") << 1 << true << (2 | 4 | 8 | 16 | 64) << false << "1 1 1 0 0 0";
    QTest::newRow("clone running") << 1 << true << 32 << false << "0 0 0 0 0 0";
}

void TestSyncPaneRules::buttons()
{
    QFETCH(int, kind);
    QFETCH(bool, project);
    QFETCH(int, ready);
    QFETCH(bool, nested);
    QFETCH(QString, expected);
    ButtonInput in { kind, project, ready, nested };
    const Buttons b = validateButtons(in);
    QVERIFY(b.add);
    QCOMPARE(b.deleteProject, b.properties);
    QCOMPARE(b.folderChoosers, b.pickers);
    const QString got = QStringLiteral("%1 %2 %3 %4 %5 %6")
                            .arg(int(b.deleteProject))
                            .arg(int(b.pickers))
                            .arg(int(b.topPanel && b.directionChange))
                            .arg(int(b.analyze))
                            .arg(int(b.mountImages))
                            .arg(int(b.clearVerdict));
    QCOMPARE(got, expected);
    // A nested pair never offers a run or an analysis.
    QCOMPARE(effectiveReady(ready, nested) & (4 | 8), nested ? 0 : ready & (4 | 8));
}

void TestSyncPaneRules::statusLine()
{
    QCOMPARE(statusString({ false, "P", 4, "x" }), QString());
    QCOMPARE(statusString({ true, "", 4, "x" }), QString());
    QCOMPARE(statusString({ true, "P", 4, "" }), QStringLiteral("Ready"));
    QCOMPARE(statusString({ true, "P", 4, "Done." }), QStringLiteral("Done"));
    QCOMPARE(statusString({ true, "P", 32, "Copying..." }), QStringLiteral("Copying..."));
    QCOMPARE(statusString({ true, "P", 16, "Old" }), QString());
    QCOMPARE(windowHeader(1, true, "Disk"), QStringLiteral("Clone: Disk"));
    QCOMPARE(windowHeader(0, true, "Docs"), QStringLiteral("Synchronize: Docs"));
    QCOMPARE(windowHeader(0, false, QString()), QStringLiteral("No Projects"));
}

void TestSyncPaneRules::statusChanges()
{
    // While an analysis runs only a change of the current project acts, and an unselected
    // project's operation change redraws the list.
    for (int change = 1; change <= 5; ++change) {
        for (bool selected : { false, true }) {
            const StatusChangeActions a = statusChangeActions(change, selected, true);
            QCOMPARE(a.projectChanged.has_value(), change == 3);
            QCOMPARE(a.redisplayList, change == 1 && !selected);
            QVERIFY(!a.validateButtons && !a.validateIndicator && !a.takeProjectIndicator && !a.validateStatus);
        }
    }
    const StatusChangeActions one = statusChangeActions(1, false, false);
    QVERIFY(one.validateButtons && one.validateIndicator && one.redisplayList && one.validateHeader);
    QVERIFY(!statusChangeActions(2, false, false).takeProjectIndicator);
    QVERIFY(statusChangeActions(2, true, false).takeProjectIndicator);
    QCOMPARE(statusChangeActions(3, true, false).projectChanged, std::optional<int>(4));
    QCOMPARE(statusChangeActions(5, true, false).projectChanged, std::optional<int>(6));
    QVERIFY(!statusChangeActions(5, false, false).projectChanged);
}

void TestSyncPaneRules::textRouter_data()
{
    QTest::addColumn<int>("target");
    QTest::addColumn<bool>("project");
    QTest::addColumn<QString>("runLog");
    const int base = tpLog;
    QTest::newRow("plain, project") << base << true << "NOW \"Docs\" R7 text\n";
    QTest::newRow("plain, none") << base << false << "NOW  text\n";
    QTest::newRow("tool, project") << (base | int(tpUtilOriginal)) << true << "R7 \"Docs\" text\n";
    QTest::newRow("code, project") << (base | int(tpProcCodeString)) << true << "NOW R7 text\n";
    QTest::newRow("tool+code, project") << (base | int(tpUtilOriginal | tpProcCodeString)) << true << "R7 text\n";
    QTest::newRow("tool+code, none") << (base | int(tpUtilOriginal | tpProcCodeString)) << false << " text\n";
}

void TestSyncPaneRules::textRouter()
{
    QFETCH(int, target);
    QFETCH(bool, project);
    QFETCH(QString, runLog);
    TextInput in;
    in.text = QStringLiteral("text");
    in.type = 1;
    in.target = quint32(target);
    in.hasProject = project;
    in.projectName = QStringLiteral("Docs");
    in.processCode = QStringLiteral("R7");
    in.now = QStringLiteral("NOW");
    const TextOutput out = routeText(in);
    QCOMPARE(out.runLog, QStringList { runLog });
    QCOMPARE(out.logWindow,
        QStringList { project ? QStringLiteral("\"Docs\"  -- text\n") : QStringLiteral(" -- text\n") });

    // Dropped: empty texts and every text while the no-send flag is set.
    in.noSend = true;
    QVERIFY(routeText(in).runLog.isEmpty() && routeText(in).logWindow.isEmpty());
    in.noSend = false;
    in.text.clear();
    QVERIFY(routeText(in).runLog.isEmpty());
    // Type 0 without the status target: a line break to both logs, nothing else.
    in.text = QStringLiteral("x");
    in.type = 0;
    in.target = tpLog | tpMessage;
    const TextOutput br = routeText(in);
    QCOMPARE(br.logWindow, QStringList { "\n" });
    QCOMPARE(br.runLog, QStringList { "\n" });
    QVERIFY(!br.status);
    // The status line: only for the selected project (or no project); types 0 and 5 skip the run log.
    in.type = 5;
    in.target = tpStatus | tpMessage;
    in.text = QStringLiteral("Copying.");
    in.projectIsSelected = false;
    const TextOutput st = routeText(in);
    QCOMPARE(st.status.has_value(), !project);
    QVERIFY(st.runLog.isEmpty());
    QCOMPARE(*st.notificationTitle, project ? QStringLiteral("Project \"Docs\"") : QStringLiteral("New message"));
    in.projectIsSelected = true;
    QCOMPARE(routeText(in).status, std::optional<QString>(QStringLiteral("Copying")));
}

void TestSyncPaneRules::suspenderTip()
{
    QCOMPARE(suspenderToolTip(1, QString()), QStringLiteral("Suspend scheduler"));
    QCOMPARE(suspenderToolTip(0, QString()), QStringLiteral("Resume scheduler"));
    QCOMPARE(suspenderToolTip(1 | 2, QStringLiteral("12/24/26, 9:30 AM")),
        QStringLiteral("Resume scheduler.\nIt was suspended until 12/24/26, 9:30 AM"));
}

void TestSyncPaneRules::marksAndStyles()
{
    struct Row
    {
        qint64 flags;
        bool folder;
        bool arrows;
        DirectionImage image;
    };
    const Row rows[] = {
        { Item::CopyToRight, false, false, DirectionImage::None },
        { 0, false, true, DirectionImage::NothingDo },
        { Item::CopyToRight, false, true, DirectionImage::CopyRight },
        { Item::CopyToLeft, false, true, DirectionImage::CopyLeft },
        { Item::DeleteRight, false, true, DirectionImage::Delete },
        { Item::BelowChangesLeft, true, true, DirectionImage::EditFolder },
        { Item::CopyToRight, true, true, DirectionImage::CopyPropRight },
        { Item::CopyToLeft, true, true, DirectionImage::CopyPropLeft },
        { Item::DeleteLeft | Item::BelowChangesLeft, true, true, DirectionImage::Delete },
    };
    for (const Row& r : rows)
        QCOMPARE(int(directionImage(r.flags, r.folder, r.arrows)), int(r.image));
    QCOMPARE(directionImageName(DirectionImage::EditFolder, false), QStringLiteral("edit_folder"));
    QCOMPARE(directionImageName(DirectionImage::CopyRight, true), QStringLiteral("copy_white_right"));
    QCOMPARE(directionImageName(DirectionImage::NothingDo, true), QStringLiteral("nothing_do"));
    QCOMPARE(directionImageName(DirectionImage::None, false), QString());
    // Every named image is a resource of the application.
    for (int i = 1; i <= int(DirectionImage::EditFolder); ++i)
        for (bool sel : { false, true })
            QVERIFY2(QFile::exists(QStringLiteral(":/icons/%1.svg").arg(directionImageName(DirectionImage(i), sel))),
                qPrintable(directionImageName(DirectionImage(i), sel)));

    const qint64 L = Item::Left, R = Item::Right;
    QCOMPARE(int(cellStyle(R, false, false, false, true)), int(CellStyle::Dimmed)); // absent on the left
    QCOMPARE(int(cellStyle(L | Item::CopyToRight, false, false, false, true)), int(CellStyle::Copied));
    QCOMPARE(int(cellStyle(L | Item::CopyToRight, false, false, false, false)), int(CellStyle::Normal));
    QCOMPARE(int(cellStyle(R | Item::DeleteRight, false, true, false, true)), int(CellStyle::Deleted));
    QCOMPARE(int(cellStyle(L | Item::BelowChangesLeft, true, false, false, true)), int(CellStyle::Changed));
    QCOMPARE(int(cellStyle(L | Item::CopyToRight, false, false, true, true)), int(CellStyle::Dimmed));
}

void TestSyncPaneRules::emptyStates()
{
    EmptyInput in;
    QCOMPARE(analysisEmptyState(in).text, QStringLiteral("Choose left and right folder above to start synchronization."));
    in.hasProject = true;
    in.ready = 2;
    QVERIFY(!analysisEmptyState(in).empty);
    in.samePlaces = true;
    QCOMPARE(analysisEmptyState(in).text, QStringLiteral("Source and destination must differ"));
    in.imageInactive = true;
    QCOMPARE(analysisEmptyState(in).text, QStringLiteral("Source or destination Disk Image not mounted"));
    in.networkInactive = true;
    QCOMPARE(analysisEmptyState(in).text, QStringLiteral("Source or destination not mounted"));
    in.closing = true;
    QVERIFY(analysisEmptyState(in).empty && analysisEmptyState(in).text.isEmpty());
    QVERIFY(cloneEmptyState(true, false).text.startsWith(QLatin1String("Select Source and Destination volumes")));
    QVERIFY(!cloneEmptyState(true, true).empty);
}

void TestSyncPaneRules::drops()
{
    struct Row
    {
        DropInput in;
        DropRefusal expected;
    };
    const Row rows[] = {
        { { true, 0, true, false, true, false }, DropRefusal::None },
        { { true, 1, true, false, true, false }, DropRefusal::NotSynchronization },
        { { false, 0, true, false, true, false }, DropRefusal::NotSynchronization },
        { { true, 0, true, false, false, false }, DropRefusal::NotFolder },
        { { true, 0, false, false, true, false }, DropRefusal::Busy },
        { { true, 0, true, true, true, false }, DropRefusal::Busy },
        { { true, 0, true, false, true, true }, DropRefusal::Nested },
    };
    for (const Row& r : rows)
        QCOMPARE(int(dropRefusal(r.in)), int(r.expected));
    QCOMPARE(dropSide(10, 600), 0);
    QCOMPARE(dropSide(299, 600), 0);
    QCOMPARE(dropSide(300, 600), 1);
}

void TestSyncPaneRules::direction()
{
    const bool all[3] = { true, true, true };
    const bool noBoth[3] = { true, true, false };
    QCOMPARE(directionChoice(0, 0, all), std::nullopt); // the current one sends nothing
    QCOMPARE(directionChoice(0, 2, all), std::optional<int>(2));
    QCOMPARE(directionChoice(1, 2, noBoth), std::optional<int>(0)); // a disabled item falls back to 0
    QCOMPARE(directionChoice(0, 2, noBoth), std::nullopt); // ... which is current
    QCOMPARE(directionChoice(-1, 0, all), std::optional<int>(0));
    QCOMPARE(directionPack(-1), 14);
    QCOMPARE(directionPack(2), 16);
}

void TestSyncPaneRules::startWarning()
{
    // Cancel with the box unticked refuses and still switches the warning off.
    QCOMPARE(startWarningDecision(true, true).start, true);
    QCOMPARE(startWarningDecision(true, true).switchOff, false);
    QCOMPARE(startWarningDecision(true, false).switchOff, true);
    QCOMPARE(startWarningDecision(false, false).start, false);
    QCOMPARE(startWarningDecision(false, false).switchOff, true);
    QCOMPARE(startWarningDecision(false, true).switchOff, false);
    const WarningTexts group = startWarningTexts(true, "App", "Backup SSD");
    QVERIFY(group.text.contains(QLatin1String("\"Backup SSD\"")));
    QVERIFY(group.text2.isEmpty());
    QCOMPARE(group.prompt, QStringLiteral("App will now start cloning your volume disk."));
    const WarningTexts plain = startWarningTexts(false, "App", "Backup SSD");
    QVERIFY(!plain.text.contains(QLatin1String("Backup SSD")));
    QVERIFY(!plain.text2.isEmpty());
    QCOMPARE(verdictHtml("A <b>", "x_html"),
        QStringLiteral("A &lt;b&gt; (<a href=\"x_html\" style=\"color:#d00000;\">help</a>)"));
}

void TestSyncPaneRules::pickers()
{
    auto disk = [](QString title, QString device, int type) {
        DiskFacts d;
        d.title = title;
        d.device = device;
        d.deviceType = type;
        return d;
    };
    QList<DiskFacts> disks { disk("Root", "sda", 0), disk("Home", "sda", 0), disk("Share", "srv", 6),
        disk("Data", "nvme0n1", 0), disk("Sys", "nvme0n1", 0), disk("RO", "loop3", 1), disk("New", "loop4", 1) };
    disks[0].startup = true;
    disks[3].role = 7;
    disks[4].role = 6;
    disks[4].doubleVolume = true;
    disks[4].writable = false;
    disks[5].writable = false;
    disks[6].systemOfNewerHost = true;
    auto show = [](const QList<PickerItem>& items) {
        QStringList out;
        for (const PickerItem& i : items)
            out << QStringLiteral("%1:%2%3").arg(i.title).arg(i.tag).arg(i.enabled ? "" : "-");
        return out.join(' ');
    };
    QCOMPARE(show(pickerItems(disks, true, 101507)),
        QStringLiteral("Select a Source:1005 Internal Disk(s):1006- Root:0 Home:1 Internal Disk(s):1006- Sys:4 "
                       "loop3:1006- RO:5 loop4:1006- New:6-"));
    QCOMPARE(show(pickerItems(disks, true, 110000)).endsWith(QLatin1String("New:6")), true);
    QCOMPARE(show(pickerItems(disks, false, 101507)),
        QStringLiteral("Select a Destination:1005 Internal Disk(s):1006- Home:1 Internal Disk(s):1006- Sys:4 "
                       "loop3:1006- RO:5- loop4:1006- New:6"));
}

void TestSyncPaneRules::sheetRules()
{
    using namespace SyncPropertiesForm;
    QCOMPARE(capturePattern("*.tmp", 0, "/a/x.pdf", true), QStringLiteral("*.tmp|*.pdf"));
    QCOMPARE(capturePattern("*.pdf", 0, "/a/x.pdf", true), QStringLiteral("*.pdf"));
    QCOMPARE(capturePattern("", 1, "/a/x.tar.gz", true), QStringLiteral("x.tar.*"));
    QCOMPARE(capturePattern("*.tmp", 2, "/a/x.pdf", false), QStringLiteral("x.pdf"));
    QCOMPARE(capturePattern("*.tmp", 7, "/a/x.pdf", true), QStringLiteral("*.tmp"));
    // A disabled start-if-late box shows and stores checked.
    QVERIFY(!startIfLateBox(true, 4, false).enabled);
    QVERIFY(startIfLateBox(true, 4, false).checked);
    QVERIFY(startIfLateBox(false, 1, false).checked);
    QVERIFY(!startIfLateBox(true, 1, false).checked);
    // Automount: enabled and checked by the place types.
    QVERIFY(!automountControls({}).boxEnabled);
    AutomountInput net;
    net.firstRemote = true;
    net.firstAutomount = true;
    QVERIFY(automountControls(net).boxEnabled && automountControls(net).boxChecked);
    net.firstAutomount = false;
    QVERIFY(!automountControls(net).boxChecked && !automountControls(net).mountEnabled);
    net.imageNotMounted = true;
    QVERIFY(automountControls(net).mountEnabled);
}

QTEST_GUILESS_MAIN(TestSyncPaneRules)
#include "tst_syncpanerules.moc"
