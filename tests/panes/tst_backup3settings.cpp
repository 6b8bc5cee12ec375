// kv-test: labels=gui timeout=120

// The snapshot-backup settings sheet: what OK writes into the project (names, schedule,
// thinning, target type, image size) and the sheet's own checks.

#include "FakeBackup3Engine.h"
#include "FakePlaceMounter.h"
#include "RecordingShellServices.h"
#include "Screenshot.h"
#include "ScriptedUiPrompts.h"
#include "SnapshotPaneSteps.h"
#include "TempTree.h"
#include "WhenOpen.h"
#include "panes/backup/Backup3PaneController.h"
#include "panes/backup/Backup3SettingsForm.h"
#include "panes/backup/IBackup3PropertiesController.h"
#include "platform/MainThread.h"
#include "projects/ILocation.h"
#include "projects/ScheduleDates.h"
#include "shell/dialogs/Beep.h"
#include "shell/dialogs/ICapturePatternController.h"
#include "shell/dialogs/IOpenDialog.h"
#include "shell/dialogs/DestinationMenu.h"
#include "shell/dialogs/IQVNumberField.h"
#include "shell/dialogs/ScheduleControls.h"
#include "shell/dialogs/WidgetUiPrompts.h"
#include "snapshot/IBackup3.h"
#include "snapshot/IBackup3Container.h"

#include "utilities/CommonFunctions.h"

#include <QtTest>
#include <QtWidgets>

using namespace SnapshotPaneSteps;

class TestBackup3Settings : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void applyRules();
    void targetType();
    void sheetFolderAndImage();
    void sheetMountButton();
    void sheetCaptureRows();
    void sheetSchedule_data();
    void sheetSchedule();

private:
    std::shared_ptr<IBackup3> project(const QString& name);

    std::unique_ptr<TempTree> m_tree;
    RecordingShellServices m_shell;
    ScriptedUiPrompts m_prompts;
    std::unique_ptr<IBackup3Container> m_container;
    std::unique_ptr<Backup3PaneController> m_controller;
};

void TestBackup3Settings::initTestCase()
{
    Screenshot::fixConditions();
    IShellServices::setShared(&m_shell);
    UiPrompts::setShared(&m_prompts);
    m_tree = std::make_unique<TempTree>(QStringLiteral("b3settings"));
    m_tree->mkdir("dest");
}

void TestBackup3Settings::cleanupTestCase()
{
    m_controller.reset();
    m_container.reset();
    IShellServices::setShared(nullptr);
    UiPrompts::setShared(nullptr);
    QCOMPARE(m_prompts.unexpected, QStringList());
}

void TestBackup3Settings::init()
{
    m_controller.reset();
    m_container = std::make_unique<IBackup3Container>(std::make_unique<FakeBackup3Engine>(),
        m_tree->filePath(QStringLiteral("Projects-%1.plist").arg(QTest::currentTestFunction())));
    m_controller = std::make_unique<Backup3PaneController>(m_container.get());
    m_controller->setAgentHooks({ [] { return true; }, [](bool) { return true; } });
}

std::shared_ptr<IBackup3> TestBackup3Settings::project(const QString& name)
{
    return m_container->createNewBackup3(name);
}

void TestBackup3Settings::applyRules()
{
    const std::shared_ptr<IBackup3> other = project(QStringLiteral("Docs"));
    project(QStringLiteral("Docs1"));
    const std::shared_ptr<IBackup3> p = project(QStringLiteral("Mine"));
    const QDateTime now(QDate(2026, 1, 15), QTime(10, 0));

    // Names: another's name gets the first free number; its own name, "", ".." keep it.
    struct NameCase
    {
        QString typed, stored;
    };
    for (const NameCase& c : { NameCase { "Docs", "Docs2" }, NameCase { "Mine", "Mine" },
             NameCase { "", "Mine" }, NameCase { "..", "Mine" }, NameCase { "a/b", "a|b" } }) {
        Backup3SettingsForm f = formFromProject(*p);
        f.name = c.typed;
        applyForm(f, *p, m_container.get(), now);
        QCOMPARE(p->name(), c.stored);
    }

    // A week-day schedule with no day is stored off; a count of 0 stores no thinning.
    Backup3SettingsForm f = formFromProject(*p);
    f.schedule = { true, CBSchedIntervalWeekDays, 1, 0, 9, 30, 60 };
    f.cuttingType = 2;
    f.cuttingCount = 0;
    applyForm(f, *p, m_container.get(), now);
    QVERIFY(!p->isScheduled());
    QCOMPARE(p->backupCuttingType(), 0);

    // A daily schedule gets its next date; the include pattern survives a round trip.
    f = formFromProject(*p);
    f.schedule = { true, CBSchedIntervalDaily, 1, 0, 9, 30, 60 };
    f.useIncludePattern = true;
    f.includePattern = QStringLiteral("*.txt");
    f.cuttingType = 1;
    f.cuttingCount = 3;
    f.cuttingUnit = 2;
    applyForm(f, *p, m_container.get(), now);
    QCOMPARE(p->getNextProcessDate(), QDateTime(QDate(2026, 1, 16), QTime(9, 30)));
    QCOMPARE(p->backupCuttingType(), 1);
    QCOMPARE(p->backupCuttingCountItem(), 2);
    const Backup3SettingsForm again = formFromProject(*p);
    QVERIFY(again.useIncludePattern);
    QCOMPARE(again.includePattern, QStringLiteral("*.txt"));

    // A stored custom size below 0.1 shows 0.
    p->setDIMaxSizeCustomValue(0.05);
    QCOMPARE(formFromProject(*p).diCustomSizeGB, 0.0);
    Q_UNUSED(other);
}

void TestBackup3Settings::targetType()
{
    const std::shared_ptr<IBackup3> p = project(QStringLiteral("Img"));
    const QDateTime now = QDateTime::currentDateTime();
    Backup3SettingsForm f = formFromProject(*p);
    QCOMPARE(f.targetType, 0);
    f.targetType = 1;
    applyForm(f, *p, m_container.get(), now);
    QCOMPARE(p->backupTargetType(), 1);
    QVERIFY(p->BDI());
    QVERIFY(p->isTargetChanged());

    // An encrypted image shows as a disk image and stays encrypted through OK.
    p->setBackupTargetType(2);
    p->setTargetChanged(false);
    f = formFromProject(*p);
    QCOMPARE(f.targetType, 1);
    f.destination.reset(p->destLocation() ? ILocation::createCopy(*p->destLocation()) : nullptr);
    applyForm(f, *p, m_container.get(), now);
    QCOMPARE(p->backupTargetType(), 2);

    // Back to a folder drops the image object.
    f.targetType = 0;
    applyForm(f, *p, m_container.get(), now);
    QCOMPARE(p->backupTargetType(), 0);
    QVERIFY(!p->BDI());
}

void TestBackup3Settings::sheetMountButton()
{
    // A share that is not mounted: the mount button asks the volume mounter, and a failure's
    // reason reaches the project's run log; a success adds no line.
    const std::shared_ptr<IBackup3> p = project(QStringLiteral("Share"));
    QVariantMap d;
    p->saveToDict(d);
    d.insert(QStringLiteral("Destination"),
        QVariantMap { { "URL", "sftp://h/share" }, { "PathFromMountPoint", "/x" }, { "DisplayName", "share" },
            { "VolumeUUID", "-" }, { "MountPoint", "/media/u/share" }, { "DeviceType", 6 },
            { "Automount", false }, { "Tag", 1 } });
    p->loadFromDict(d, 1);
    FakePlaceMounter mounter;
    IPlaceMounter::setShared(&mounter);
    QWidget window;
    window.show();
    auto* sheet = new IBackup3PropertiesController(m_controller.get(), p, &window);
    sheet->open();
    QVERIFY(QTest::qWaitForWindowExposed(sheet));
    QTRY_VERIFY(sheet->destinationMenu()->isFilled());
    QVERIFY(sheet->mountButton()->isEnabled());

    m_shell.clear();
    mounter.mountSucceeds = false;
    QVSetFuncStatus(QStringLiteral("CVolumeMounter::mountLocation"), QStringLiteral("Host h is unreachable"));
    QTest::mouseClick(sheet->mountButton(), Qt::LeftButton);
    QCOMPARE(mounter.calls, QStringList { QStringLiteral("mount share") });
    const auto failed = m_shell.messages();
    QCOMPARE(failed.size(), 1);
    QCOMPARE(failed.first().text, QByteArray("Host h is unreachable"));
    QCOMPARE(failed.first().options, quint64(18305));
    QCOMPARE(failed.first().sender, p.get());

    mounter.mountSucceeds = true;
    QTest::mouseClick(sheet->mountButton(), Qt::LeftButton);
    QCOMPARE(mounter.calls.size(), 2);
    QCOMPARE(m_shell.messages().size(), 1);

    QTest::mouseClick(sheet->cancelButton(), Qt::LeftButton);
    IPlaceMounter::setShared(nullptr);
}

void TestBackup3Settings::sheetCaptureRows()
{
    // "Capture..." opens the real open dialog with the rule and combine rows; the rule chosen
    // there shapes the pattern added to the field.
    QVERIFY(m_tree->writeFile(std::string("report.final.pdf"), "r"));
    const std::shared_ptr<IBackup3> p = project(QStringLiteral("Capture"));
    p->setExcludeByPattern(true);
    p->setExcludePattern(QStringLiteral("*.tmp"));
    QWidget window;
    window.resize(900, 640);
    window.show();
    WidgetUiPrompts widgets;
    widgets.setParentWidget(&window);
    UiPrompts::setShared(&widgets);
    ICapturePatternController::shared().setPatternRule(0);
    ICapturePatternController::shared().setCombPatWithPrev(true);
    auto* sheet = new IBackup3PropertiesController(m_controller.get(), p, &window);
    sheet->open();
    QVERIFY(QTest::qWaitForWindowExposed(sheet));
    sheet->tabs()->setCurrentIndex(1);
    QCOMPARE(sheet->excludeField()->text(), QStringLiteral("*.tmp"));
    QVERIFY(sheet->captureExcludeButton()->isEnabled());

    bool answered = false;
    whenOpen<IOpenDialog>([&](IOpenDialog* d) {
        QWidget* rows = d->findChild<QWidget*>(QStringLiteral("capturePatternAccessory"));
        QVERIFY(rows && rows->isVisible());
        d->setDirectory(m_tree->path());
        if (auto* files = d->findChild<QFileSystemModel*>())
            QTRY_VERIFY(files->rowCount(files->index(m_tree->path())) > 0);
        Screenshot::save(d, QStringLiteral("snapshot"), QStringLiteral("capture-rows"),
            QStringLiteral("The open dialog of \"Capture...\" with the rule and combine rows"));
        QTest::mouseClick(ICapturePatternController::shared().ruleGroup()->button(1), Qt::LeftButton);
        d->selectFile(m_tree->filePath(QStringLiteral("report.final.pdf")));
        answered = true;
        d->accept();
    });
    QTest::mouseClick(sheet->captureExcludeButton(), Qt::LeftButton);
    QTRY_VERIFY(answered);
    QCOMPARE(ICapturePatternController::shared().patternRule(), 1);
    QCOMPARE(sheet->excludeField()->text(), QStringLiteral("*.tmp|report.final.*"));
    QTest::mouseClick(sheet->cancelButton(), Qt::LeftButton);
    UiPrompts::setShared(&m_prompts);
}

void TestBackup3Settings::sheetFolderAndImage()
{
    const std::shared_ptr<IBackup3> p = project(QStringLiteral("Docs"));
    p->setUseAdminPrivileges(false);
    QWidget window;
    window.resize(900, 640);
    window.show();
    auto* sheet = new IBackup3PropertiesController(m_controller.get(), p, &window);
    sheet->resize(620, 520);
    sheet->open();
    QVERIFY(QTest::qWaitForWindowExposed(sheet));
    QTRY_VERIFY(sheet->destinationMenu()->isFilled());
    QCOMPARE(sheet->destinationStatusLabel()->text(), QStringLiteral("Select a Destination"));

    // The folder through the chooser: the menu shows its volume, the status the hard links.
    // The volume in the menu, then its folder through the chooser that opens at once.
    m_prompts.expectFolder(m_tree->filePath(QStringLiteral("dest")));
    QVERIFY(chooseDestination(sheet, m_tree->filePath(QStringLiteral("dest"))));
    QVERIFY(sheet->destinationMenu()->selectedTag() != DestinationItemList::tagSelect);
    QCOMPARE(sheet->destinationStatusLabel()->text(),
        QStringLiteral("Incremental backup is available for the selected destination"));
    QVERIFY(!sheet->sizeTypePopup()->isEnabled());

    // A disk image with a custom size: the size field is shown; a size below 0.1 beeps on OK and
    // the sheet stays open.
    sheet->targetTypePopup()->setCurrentIndex(1);
    Q_EMIT sheet->targetTypePopup()->activated(1);
    sheet->sizeTypePopup()->setCurrentIndex(1);
    Q_EMIT sheet->sizeTypePopup()->activated(1);
    QVERIFY(sheet->customSizeField()->isVisible());
    sheet->customSizeField()->setText(QStringLiteral("0"));
    int beeps = 0;
    Beep::setHook([&] { ++beeps; });
    QTest::mouseClick(sheet->okButton(), Qt::LeftButton);
    QVERIFY(beeps >= 1);
    QVERIFY(sheet->isVisible());
    QCOMPARE(p->backupTargetType(), 0);
    Beep::setHook({});
    sheet->customSizeField()->setFocus();
    sheet->customSizeField()->selectAll();
    QTest::keyClicks(sheet->customSizeField(), QStringLiteral("25"));
    QTest::keyClick(sheet->customSizeField(), Qt::Key_Return);
    QTest::mouseClick(sheet->okButton(), Qt::LeftButton);
    QTRY_VERIFY(!sheet->isVisible());
    QCOMPARE(p->backupTargetType(), 1);
    QCOMPARE(p->DIMaxSizeType(), 1);
    QCOMPARE(p->DIMaxSizeCustomValue(), 25.0);
    QCOMPARE(p->destinationFullPath(), m_tree->filePath(QStringLiteral("dest")));
    QCOMPARE(ModalDepthGuard::depth(), 0);
    delete sheet;
}

void TestBackup3Settings::sheetSchedule_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<bool>("twelve");
    QTest::newRow("en_US") << "en_US" << true;
    QTest::newRow("de_DE") << "de_DE" << false;
}

void TestBackup3Settings::sheetSchedule()
{
    QFETCH(QString, locale);
    QFETCH(bool, twelve);
    const QLocale before;
    QLocale::setDefault(QLocale(locale));
    const std::shared_ptr<IBackup3> p = project(QStringLiteral("Timed"));
    p->setScheduled(true);
    p->setScheduleIntervalType(CBSchedIntervalWeekDays);
    p->setScheduleTimeHHMM(21, 15);
    p->setScheduleWeekDay(0x15);
    QWidget window;
    window.resize(900, 640);
    window.show();
    auto* sheet = new IBackup3PropertiesController(m_controller.get(), p, &window);
    sheet->resize(620, 520);
    sheet->open();
    QVERIFY(QTest::qWaitForWindowExposed(sheet));
    sheet->tabs()->setCurrentIndex(2);
    ScheduleControls* s = sheet->scheduleControls();
    QCOMPARE(s->isTwelveHour(), twelve);
    QCOMPARE(s->hourPopup()->currentText(), twelve ? QStringLiteral("9") : QStringLiteral("21"));
    // Cancel writes nothing.
    s->useScheduledCheck()->setChecked(false);
    QTest::mouseClick(sheet->cancelButton(), Qt::LeftButton);
    QTRY_VERIFY(!sheet->isVisible());
    QVERIFY(p->isScheduled());
    QCOMPARE(p->getScheduleTimeHH(), 21);
    delete sheet;
    QLocale::setDefault(before);
}

QTEST_MAIN(TestBackup3Settings)
#include "tst_backup3settings.moc"
