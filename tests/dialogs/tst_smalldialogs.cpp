// kv-test: labels=gui timeout=120

#include "Screenshot.h"
#include "TempTree.h"
#include "WhenOpen.h"
#include "shell/dialogs/IInputDialog.h"
#include "shell/dialogs/ILocationDialog.h"
#include "shell/dialogs/ISaveDialog.h"
#include "shell/dialogs/WidgetUiPrompts.h"

#include <QtTest>
#include <QtWidgets>

class TestSmallDialogs : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { Screenshot::fixConditions(); }

    void inputDialog()
    {
        WidgetUiPrompts prompts;
        UiPrompts::TextRequest request;
        request.title = QStringLiteral("New Project");
        request.comment = QStringLiteral("Enter the name of the new project:");
        request.defaultText = QStringLiteral("Untitled");

        whenOpen<IInputDialog>([](IInputDialog* d) {
            QCOMPARE(d->inputField()->selectedText(), QStringLiteral("Untitled"));
            QTest::keyClicks(d->inputField(), QStringLiteral("a/b/c"));
            Screenshot::save(d, QStringLiteral("controls"), QStringLiteral("input"),
                QStringLiteral("The name input with a typed name holding slashes"));
            QTest::keyClick(d->inputField(), Qt::Key_Return);
        });
        QCOMPARE(prompts.askText(request), QStringLiteral("a|b|c"));

        // Cancel after an earlier OK, and closing, answer null; an empty name is no Cancel
        whenOpen<IInputDialog>([](IInputDialog* d) { d->reject(); });
        QVERIFY(prompts.askText(request).isNull());
        whenOpen<IInputDialog>([](IInputDialog* d) { d->close(); });
        QVERIFY(prompts.askText(request).isNull());
        whenOpen<IInputDialog>([](IInputDialog* d) {
            d->inputField()->clear();
            d->accept();
        });
        const QString empty = prompts.askText(request);
        QVERIFY(!empty.isNull());
        QVERIFY(empty.isEmpty());
    }

    void saveDialog()
    {
        TempTree tree(QStringLiteral("save"));
        WidgetUiPrompts prompts;
        UiPrompts::SavePathRequest request;
        request.prompt = QStringLiteral("Save the project as");
        request.startPath = tree.path();
        request.defaultName = QStringLiteral("Project.kvarch");
        QString preset;
        whenOpen<ISaveDialog>([&](ISaveDialog* d) {
            QCOMPARE(d->acceptMode(), QFileDialog::AcceptSave);
            preset = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text();
            Screenshot::save(d, QStringLiteral("controls"), QStringLiteral("save"),
                QStringLiteral("The save dialog with the default name"));
            d->reject();
        });
        QVERIFY(prompts.chooseSavePath(request).isNull());
        QCOMPARE(preset, QStringLiteral("Project.kvarch"));

        whenOpen<ISaveDialog>([](ISaveDialog* d) {
            d->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))
                ->button(QDialogButtonBox::Save)
                ->click();
        });
        QCOMPARE(prompts.chooseSavePath(request), tree.filePath(QStringLiteral("Project.kvarch")));
    }

    void locationDialog_data()
    {
        QTest::addColumn<int>("activeAfter"); // ticks after which the volume is there; -1 never
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("remaining");
        QTest::newRow("already mounted when opened") << 0 << false << 1 << 30;
        QTest::newRow("mounted during the countdown") << 5 << false << 1 << 25;
        QTest::newRow("never: the time runs out after 31 ticks") << -1 << false << -1 << 0;
        QTest::newRow("cancelled") << -1 << true << 0 << -1; // the countdown may have begun
    }
    void locationDialog()
    {
        QFETCH(int, activeAfter);
        QFETCH(bool, cancel);
        // The cancelled case answers before the first tick: a short tick could beat the click on
        // a busy machine.
        ILocationDialog::setTickIntervalMs(cancel ? 1000 : 10);
        ILocationDialog dialog;
        int asked = 0;
        UiPrompts::VolumeWaitRequest request;
        request.volumeName = QStringLiteral("Backup Disk");
        request.deviceType = 3;
        request.isActive = [&] {
            ++asked;
            return activeAfter >= 0 && 30 - dialog.remaining() >= activeAfter;
        };
        if (cancel)
            whenOpen<ILocationDialog>([](ILocationDialog* d) {
                d->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
            });
        QTEST(dialog.executeLocation(request), "answer");
        QFETCH(int, remaining);
        if (remaining >= 0)
            QCOMPARE(dialog.remaining(), remaining);
        QVERIFY(asked >= 1);
        if (activeAfter < 0 && !cancel)
            QVERIFY(asked >= 30);
        ILocationDialog::setTickIntervalMs(1000);
    }

    // Another volume's mount goes on counting; the awaited one ends the wait with 1.
    void otherMountCountsOn()
    {
        ILocationDialog::setTickIntervalMs(50);
        bool awaitedMounted = false;
        UiPrompts::VolumeWaitRequest request;
        request.volumeName = QStringLiteral("Backup Disk");
        request.isActive = [&] { return awaitedMounted; };
        int remainingAtOther = -1;
        whenOpen<ILocationDialog>([&](ILocationDialog* d) {
            QTimer::singleShot(120, d, [&, d] {
                // another volume came: nothing ends the wait
                remainingAtOther = d->remaining();
                Screenshot::save(d, QStringLiteral("controls"), QStringLiteral("location-countdown"),
                    QStringLiteral("Waiting for the volume of a disk image, counting down"));
                QTimer::singleShot(200, d, [&] { awaitedMounted = true; });
            });
        });
        WidgetUiPrompts prompts;
        QCOMPARE(prompts.waitForVolume(request), 1);
        QVERIFY(remainingAtOther > 0 && remainingAtOther < 30);
        ILocationDialog::setTickIntervalMs(1000);
    }
};

QTEST_MAIN(TestSmallDialogs)
#include "tst_smalldialogs.moc"
