// kv-test: labels=gui timeout=120

// The Create Disk Image dialog's checks before anything is made, and the disk-image size
// prompt answered through its real number field. Making images needs root:
// tst_diskimagecreater_root.

#include "FakeBackup3Engine.h"
#include "RecordingShellServices.h"
#include "Screenshot.h"
#include "ScriptedUiPrompts.h"
#include "TempTree.h"
#include "WhenOpen.h"
#include "panes/backup/Backup3PaneController.h"
#include "panes/backup/IDiskImageCreater.h"
#include "shell/dialogs/Beep.h"
#include "shell/dialogs/IQVNumberField.h"
#include "shell/dialogs/WidgetUiPrompts.h"
#include "snapshot/IBackup3Container.h"

#include <QtTest>
#include <QtWidgets>

class TestDiskImageCreater : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { Screenshot::fixConditions(); }
    void bundlePaths_data();
    void bundlePaths();
    void checksBeforeMaking();
    void sizePrompt();
};

void TestDiskImageCreater::bundlePaths_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("bundle");
    QTest::newRow("plain") << "/x/Backup"
                           << "/x/Backup.sparsebundle";
    QTest::newRow("has it") << "/x/Backup.sparsebundle"
                            << "/x/Backup.sparsebundle";
    QTest::newRow("other extension") << "/x/Backup.dmg"
                                     << "/x/Backup.sparsebundle";
    QTest::newRow("dot in folder") << "/x.y/Backup"
                                   << "/x.y/Backup.sparsebundle";
}

void TestDiskImageCreater::bundlePaths()
{
    QFETCH(QString, chosen);
    QFETCH(QString, bundle);
    QCOMPARE(IDiskImageCreater::bundlePathFor(chosen), bundle);
}

void TestDiskImageCreater::checksBeforeMaking()
{
    TempTree tree(QStringLiteral("dicreate"));
    tree.mkdir("Existing.sparsebundle");
    RecordingShellServices shell;
    ScriptedUiPrompts prompts;
    IShellServices::setShared(&shell);
    UiPrompts::setShared(&prompts);
    int beeps = 0;
    Beep::setHook([&] { ++beeps; });
    {
        QWidget window;
        window.resize(800, 500);
        window.show();
        IDiskImageCreater dialog(&window);
        dialog.open();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.nameField()->text(), QStringLiteral("Untitled"));
        QCOMPARE(dialog.sizeField()->integerValue(), 1);

        // A size of 0: one beep, raised to 1, the choice refused.
        dialog.sizeField()->setText(QStringLiteral("0"));
        QVERIFY(!dialog.validateAndCreate());
        QCOMPARE(beeps, 1);
        QCOMPARE(dialog.sizeField()->integerValue(), 1);

        // The place through the save chooser; an existing image: "Cancel" keeps it.
        prompts.expectSavePath(tree.filePath(QStringLiteral("Existing")));
        QTest::mouseClick(dialog.choosePathButton(), Qt::LeftButton);
        QCOMPARE(dialog.pathField()->text(), tree.filePath(QStringLiteral("Existing")));
        dialog.typePopup()->setCurrentIndex(
            dialog.typePopup()->findData(IDiskImageCreater::TypeExtendedEncrypted));
        prompts.expectAlert(QStringLiteral("already exists"), 1);
        QVERIFY(!dialog.validateAndCreate());
        QVERIFY(QFileInfo(tree.filePath(QStringLiteral("Existing.sparsebundle"))).isDir());

        // A new name: the password sheet; a confirmation that differs keeps it open with the
        // error mark, Cancel ends the creation with nothing made.
        dialog.pathField()->setText(tree.filePath(QStringLiteral("Fresh")));
        bool sawMismatch = false;
        whenOpen<IDiskImagePasswordSheet>([&](IDiskImagePasswordSheet* sheet) {
            QTest::keyClicks(sheet->passwordField(), QStringLiteral("secret"));
            QTest::keyClicks(sheet->confirmField(), QStringLiteral("secreT"));
            QTest::mouseClick(sheet->okButton(), Qt::LeftButton);
            sawMismatch = sheet->isVisible() && sheet->errorSymbol()->isVisible();
            QTest::keyClick(sheet->confirmField(), Qt::Key_Backspace);
            QVERIFY(!sheet->errorSymbol()->isVisible());
            sheet->reject();
        });
        QVERIFY(!dialog.validateAndCreate());
        QVERIFY(sawMismatch);
        QVERIFY(!QFileInfo::exists(tree.filePath(QStringLiteral("Fresh.sparsebundle"))));
    }
    Beep::setHook({});
    IShellServices::setShared(nullptr);
    UiPrompts::setShared(nullptr);
    QCOMPARE(prompts.unexpected, QStringList());
}

void TestDiskImageCreater::sizePrompt()
{
    TempTree tree(QStringLiteral("disize"));
    IBackup3Container container(
        std::make_unique<FakeBackup3Engine>(), tree.filePath(QStringLiteral("P.plist")));
    Backup3PaneController controller(&container);
    WidgetUiPrompts prompts;
    UiPrompts::setShared(&prompts);
    QWidget window;
    window.resize(800, 500);
    window.show();
    prompts.setParentWidget(&window);

    struct Case
    {
        QString typed;
        bool accepted;
        double value;
    };
    // The field keeps its range: a number above it is taken as the maximum, one below it as
    // the minimum.
    const Case cases[] = { { "12.5", true, 12.5 }, { "0.1", true, 0.1 }, { "1000000", true, 1000000 },
        { "1000001", true, 1000000 }, { "0", true, 0.1 }, { "", false, 0 } };
    for (const Case& c : cases) {
        whenOpen<QDialog>([&](QDialog* dialog) {
            auto* field = dialog->findChild<IQVNumberField*>();
            QVERIFY(field);
            field->selectAll();
            QTest::keyClicks(field, c.typed);
            if (c.typed.isEmpty())
                dialog->reject();
            else
                QTest::keyClick(field, Qt::Key_Return);
            if (dialog->isVisible())
                dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        });
        double value = 0;
        const bool accepted = controller.getNewDICustomMaxSizeInGBByUserTo(&value, 4);
        QCOMPARE(accepted, c.accepted);
        if (accepted)
            QCOMPARE(value, c.value);
    }
    UiPrompts::setShared(nullptr);
}

QTEST_MAIN(TestDiskImageCreater)
#include "tst_diskimagecreater.moc"
