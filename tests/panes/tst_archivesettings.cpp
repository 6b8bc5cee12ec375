// kv-test: labels=gui timeout=60 env=DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/kv-no-bus

// The archive settings sheet through its controls: what it shows of a project and what OK
// stores (split sizes up to 10^9 MB, encryption and its digests, a week-day schedule without a
// day, a name another project has), and a custom size that is not a number keeping it open;
// the destination through the device menu and the shared chooser, exclusions with a captured
// pattern, administrator rights and colour, and the agent asked for by a first schedule.

#include "../utilities/WorkspaceFixture.h"
#include "RecordingBackup3Controller.h"
#include "RecordingShellServices.h"
#include "TempTree.h"
#include "ScriptedUiPrompts.h"
#include "archive/CBackup.h"
#include "archive/CBackupContainer.h"
#include "panes/archive/ArchiveCoordinator.h"
#include "panes/archive/IBSettingsViewController.h"
#include "projects/DestinationItemList.h"
#include "projects/ILocation.h"
#include "shell/dialogs/ATColorButton.h"
#include "shell/dialogs/Beep.h"
#include "shell/dialogs/DestinationMenu.h"
#include "shell/dialogs/ICapturePatternController.h"
#include "shell/dialogs/IQVNumberField.h"
#include "shell/dialogs/ScheduleControls.h"
#include "utilities/IPasswordMD5.h"
#include "utilities/IPathUtil.h"
#include "utilities/MainPreferences.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QtTest>

class TestArchiveSettings : public QObject
{
    Q_OBJECT
private slots:
    void showAndStore();
    void destinationExclusionsAndAgent();
};

void TestArchiveSettings::showAndStore()
{
    WorkspaceFixture home;
    QDir().mkpath(IPathUtil::getBackupsPath());
    RecordingShellServices shell;
    ShellServicesScope scope(&shell);
    ScriptedUiPrompts prompts;
    CBackupContainer container;
    ArchiveCoordinator coordinator(&container);
    container.addNewBackup("Docs");
    CBackup* b = container.addNewBackup("Mail");
    b->createUUID();
    b->setBackupSizeLimit(1500 * 1000);
    b->setPasswordDigest(*IPasswordMD5::createWithPassword("old"));

    IBSettingsViewController sheet(&container, &coordinator);
    sheet.updateControls(b);
    // 1500 MB shows as "Custom" with 1500; Blowfish cannot be chosen.
    QCOMPARE(sheet.sizeLimit()->currentIndex(), 5);
    QCOMPARE(sheet.customSizeLimit()->integerValue(), 1500);
    auto* items = qobject_cast<QStandardItemModel*>(sheet.encryption()->model());
    QVERIFY(!items->item(1)->isEnabled());
    QVERIFY(!sheet.passwordInKeychain()->isEnabled());

    struct Case
    {
        const char* name;
        std::function<void()> edit;
        std::function<void()> check;
    };
    const QList<Case> cases = {
        { "the same custom size is stored again", [] {}, [&] { QCOMPARE(b->backupSizeLimit(), quint64(1500000)); } },
        { "10^9 MB", [&] { sheet.customSizeLimit()->setText("1000000000"); },
            [&] { QCOMPARE(b->backupSizeLimit(), quint64(1000000000000ULL)); } },
        { "a CD size", [&] { sheet.sizeLimit()->setCurrentIndex(2); },
            [&] { QCOMPARE(b->backupSizeLimit(), quint64(700000)); } },
        { "None to AES-256 clears the digests", [&] { sheet.encryption()->setCurrentIndex(4); },
            [&] {
                QCOMPARE(b->cryptMethod(), quint32(CBCryptAES256));
                QVERIFY(b->passwordDigest().isEmpty());
            } },
        { "week days without a day are saved unscheduled",
            [&] {
                ScheduleFormRules::ScheduleForm f = sheet.schedule()->form();
                f.scheduled = true;
                f.type = 2;
                f.weekDays = 0;
                sheet.schedule()->setForm(f);
            },
            [&] { QVERIFY(!b->useSchedule()); } },
        { "a daily schedule gets its next date",
            [&] {
                ScheduleFormRules::ScheduleForm f = sheet.schedule()->form();
                f.scheduled = true;
                f.type = 1;
                sheet.schedule()->setForm(f);
            },
            [&] {
                QVERIFY(b->useSchedule());
                QVERIFY(b->nextProcessDate().isValid());
            } },
        { "another project's name gets a number", [&] { sheet.nameField()->setText("Docs"); },
            [&] { QCOMPARE(b->name(), QStringLiteral("Docs1")); } },
        { "a slash in the name", [&] { sheet.nameField()->setText("a/b"); },
            [&] { QCOMPARE(b->name(), QStringLiteral("a|b")); } },
    };
    for (const Case& c : cases) {
        sheet.updateControls(b);
        c.edit();
        QVERIFY2(sheet.clickOk(), c.name);
        c.check();
    }
    // A custom size that is not a number: a beep, nothing stored.
    int beeps = 0;
    Beep::setHook([&] { ++beeps; });
    sheet.updateControls(b);
    sheet.sizeLimit()->setCurrentIndex(5);
    sheet.customSizeLimit()->setText(QString());
    beeps = 0;
    QVERIFY(!sheet.clickOk());
    QCOMPARE(beeps, 1);
    QCOMPARE(b->backupSizeLimit(), quint64(700000));
    Beep::setHook({});
    QCOMPARE(prompts.unexpected, QStringList());
}

void TestArchiveSettings::destinationExclusionsAndAgent()
{
    WorkspaceFixture home;
    QDir().mkpath(IPathUtil::getBackupsPath());
    RecordingShellServices shell;
    ShellServicesScope scope(&shell);
    ScriptedUiPrompts prompts;
    RecordingBackup3Controller chooser;
    IBackup3Controller::setShared(&chooser);
    TempTree tree;
    QVERIFY(tree.mkdir(std::string("dest")));
    const QString dest = tree.filePath(std::string("dest"));
    CBackupContainer container;
    ArchiveCoordinator coordinator(&container);
    CBackup* b = container.addNewBackup("Mail");
    b->createUUID();
    b->setUseAdminPrivileges(true);
    MainPreferences::shared().agentState().set(0, 0, QDateTime());

    IBSettingsViewController sheet(&container, &coordinator);
    sheet.updateControls(b);
    QTRY_VERIFY(sheet.device()->isFilled());
    QCOMPARE(sheet.device()->selectedTag(), DestinationItemList::tagSelect);
    QVERIFY(!sheet.excludePattern()->isEnabled());

    // Picking the folder's volume in the menu asks for the folder through the shared chooser.
    chooser.chooseAnswer = true;
    chooser.choosePath = dest;
    std::unique_ptr<ILocation> probe(ILocation::create());
    QVERIFY(probe->setupWithPath(dest));
    const int index = sheet.device()->findData(sheet.device()->itemList().tagForLocation(probe.get()));
    QVERIFY(index >= 0);
    sheet.device()->setCurrentIndex(index);
    Q_EMIT sheet.device()->activated(index);
    QCOMPARE(chooser.calls, QStringList { "chooseDestPathByUser" });
    QVERIFY(sheet.device()->selectedTag() != DestinationItemList::tagSelect);
    QVERIFY(dest.endsWith(sheet.folderField()->text()));
    QCOMPARE(sheet.destinationStatus()->text(), QStringLiteral("Backup is available for the selected destination"));
    // A fixed disk cannot run on mount.
    QVERIFY(!sheet.processOnMount()->isEnabled());

    // Exclusions: invisible files and a pattern captured from a chosen file, combined with the
    // typed one.
    sheet.excludeBox(CBFilterInvisible)->setChecked(true);
    sheet.excludeBox(CBFilterByPattern)->setChecked(true);
    QVERIFY(sheet.excludePattern()->isEnabled() && sheet.captureButton()->isEnabled());
    sheet.excludePattern()->setText("*.tmp");
    ICapturePatternController::shared().setPatternRule(0);
    ICapturePatternController::shared().setCombPatWithPrev(true);
    prompts.expectItems({ dest + "/movie.mov" });
    QTest::mouseClick(sheet.captureButton(), Qt::LeftButton);
    QCOMPARE(sheet.excludePattern()->text(), QStringLiteral("*.tmp|*.mov"));
    sheet.admin()->setChecked(false);
    sheet.colorButton()->setColor(QColor(143, 193, 37));

    // A first daily schedule asks for the agent.
    ScheduleFormRules::ScheduleForm f = sheet.schedule()->form();
    f.scheduled = true;
    f.type = 1;
    sheet.schedule()->setForm(f);
    QVERIFY(sheet.clickOk());
    QVERIFY(b->location());
    QCOMPARE(QDir::cleanPath(b->location()->getUnverifiedFullPath()), QDir::cleanPath(dest));
    QCOMPARE(b->filterFlags(), quint32(CBFilterInvisible | CBFilterByPattern));
    QCOMPARE(b->excludePattern(), QStringLiteral("*.tmp|*.mov"));
    QVERIFY(!b->useAdminPrivileges());
    QCOMPARE(b->color(), QColor(143, 193, 37));
    QVERIFY(!b->startOnMount());
    QVERIFY(MainPreferences::shared().agentState().getInt() & 1);
    QVERIFY(shell.calls().contains(QStringLiteral("eventChangedCurrentBackup")));

    // Shown again, the sheet reads back what was stored.
    sheet.updateControls(b);
    QTRY_VERIFY(sheet.device()->isFilled());
    QVERIFY(sheet.device()->selectedTag() != DestinationItemList::tagSelect);
    QVERIFY(sheet.excludeBox(CBFilterInvisible)->isChecked() && !sheet.excludeBox(CBFilterAliases)->isChecked());
    QVERIFY(!sheet.admin()->isChecked());
    IBackup3Controller::setShared(nullptr);
    QCOMPARE(prompts.unexpected, QStringList());
}

QTEST_MAIN(TestArchiveSettings)
#include "tst_archivesettings.moc"
