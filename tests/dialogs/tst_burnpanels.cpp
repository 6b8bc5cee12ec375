// kv-test: labels=gui timeout=180
// The disc burn's panels through the real widgets: the setup panel (drive, medium, the
// appendable box), the retry, too-large and measuring alerts of the flow, and the progress panel whose
// Cancel ends xorriso's process group.
#include "RecordingShellServices.h"
#include "Screenshot.h"
#include "ScriptedBurner.h"
#include "TempTree.h"
#include "WhenOpen.h"
#include "archive/DiscBurnFlow.h"
#include "platform/NameCodec.h"
#include "shell/dialogs/BurnProgressPanel.h"
#include "shell/dialogs/BurnSetupPanel.h"
#include "shell/dialogs/WidgetUiPrompts.h"

#include <QtTest>
#include <QtWidgets>
#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace {

const QString kFile = QStringLiteral("stdio:/srv/discs/backup.iso");
const QString kDrive = QStringLiteral("/dev/sr0");

UiPrompts::BurnSetupRequest setupRequest()
{
    UiPrompts::BurnSetupRequest r;
    r.discNumber = 2;
    r.drives = { kFile, kDrive };
    r.inspect = [](const QString& drive) {
        if (drive == kFile)
            return UiPrompts::BurnMedia { true, QStringLiteral("stdio file: is blank, 5.2 MB free") };
        return UiPrompts::BurnMedia { false,
            QStringLiteral("DVD-R sequential recording: is written , is closed, 0.0 MB free") };
    };
    return r;
}

struct PromptsScope
{
    WidgetUiPrompts prompts;
    PromptsScope() { UiPrompts::setShared(&prompts); }
    ~PromptsScope() { UiPrompts::setShared(nullptr); }
};

} // namespace

class TestBurnPanels : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { Screenshot::fixConditions(); }

    // The setup panel shows the drive, its medium and the box; a closed disc keeps Burn disabled
    // and says why; no drive at all is said clearly.
    void setupPanel()
    {
        BurnSetupPanel panel;
        panel.setup(setupRequest());
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        QCOMPARE(panel.driveList()->currentText(), kFile);
        QVERIFY(panel.mediaLabel()->text().contains(QLatin1String("is blank")));
        QVERIFY(panel.appendableBox()->isChecked());
        QVERIFY(panel.okButton()->isEnabled());
        QVERIFY(!Screenshot::save(&panel, "burning", "setup", "Burn setup: drive, medium, appendable box").isEmpty());

        panel.driveList()->setCurrentIndex(1);
        QVERIFY(!panel.okButton()->isEnabled());
        QCOMPARE(panel.promptLabel()->text(), QStringLiteral("That is not a writable CD, DVD or BD!"));
        QVERIFY(!Screenshot::save(&panel, "burning", "setup-unsuitable", "A closed disc: Burn stays disabled")
                     .isEmpty());

        UiPrompts::BurnSetupRequest none = setupRequest();
        none.drives.clear();
        panel.setup(none);
        QVERIFY(!panel.okButton()->isEnabled());
        QVERIFY(panel.promptLabel()->text().contains(QLatin1String("No disc burner was found")));
    }

    // The flow's alerts as the user sees them: a failed disc asks to try another ("No" ends
    // with NO); an archive larger than a disc is refused before anything is burned.
    void retryAndTooLargeAlerts()
    {
        RecordingShellServices shell;
        ShellServicesScope scope(&shell);
        PromptsScope prompts;
        TempTree tree(QStringLiteral("panels"));
        QVERIFY(tree.writeFile(std::string("a.tar"), QByteArray(300000, 'a')));
        const QString archive = tree.filePath(std::string("a.tar"));
        BurnScript script;
        script.media[kFile] = BurnScript::blank(200000);
        script.media[kDrive] = BurnScript::blank(10000000);
        script.results = { false };
        DiscBurnFlow flow;
        flow.setDrives({ kFile, kDrive });
        flow.setConfiguredDrives({ kFile });
        flow.setBurnerFactory([&script](const QString& d) { return std::make_unique<ScriptedBurner>(d, script); });

        // The second drive first: the archive fits there, and its burn fails.
        whenOpen<BurnSetupPanel>([](BurnSetupPanel* p) {
            p->driveList()->setCurrentIndex(1);
            whenOpen<QMessageBox>([](QMessageBox* box) {
                Screenshot::save(box, "burning", "retry", "A failed disc: try another?");
                for (QAbstractButton* b : box->buttons())
                    if (b->text() == QLatin1String("No"))
                        b->click();
            });
            p->okButton()->click();
        });
        // The media of kDrive are read as a DVD+RW, which is a suitable disc.
        QVERIFY(!flow.burnDisc({ { archive, "/a.tar" } }));
        QCOMPARE(script.burned.size(), 1);
        QCOMPARE(flow.leftArchives(), QStringList({ "a.tar" }));

        // The first drive's disc holds 200,000 bytes: too small for the archive.
        whenOpen<BurnSetupPanel>([](BurnSetupPanel* p) {
            whenOpen<QMessageBox>([](QMessageBox* box) {
                Screenshot::save(box, "burning", "too-large", "An archive larger than the disc");
                box->buttons().first()->click();
            });
            p->okButton()->click();
        });
        QVERIFY(!flow.burnDisc({ { archive, "/a.tar" } }));
        QCOMPARE(script.burned.size(), 1); // nothing more burned

        // The image cannot be measured: the reason is shown, nothing is burned.
        script.measureError = QStringLiteral("The size of the disc image cannot be measured: Cannot open file");
        QString shown;
        whenOpen<BurnSetupPanel>([&shown](BurnSetupPanel* p) {
            p->driveList()->setCurrentIndex(1);
            whenOpen<QMessageBox>([&shown](QMessageBox* box) {
                Screenshot::save(box, "burning", "measuring-failed", "The image cannot be measured");
                shown = box->text();
                box->buttons().first()->click();
            });
            p->okButton()->click();
        });
        QVERIFY(!flow.burnDisc({ { archive, "/a.tar" } }));
        QVERIFY2(shown.contains(QLatin1String("Cannot open file")), qPrintable(shown));
        QCOMPARE(script.burned.size(), 1);
    }

    // A real xorriso burn of a large sparse file onto stdio:/dev/null: the progress panel follows
    // the writing lines; its Cancel ends xorriso's whole process group, nothing more is asked
    // and the answer is NO.
    void cancelEndsXorrisosGroup()
    {
        RecordingShellServices shell;
        ShellServicesScope scope(&shell);
        PromptsScope prompts;
        TempTree tree(QStringLiteral("cancel"));
        QVERIFY(tree.writeFile(std::string("big.tar")));
        const QString big = tree.filePath(std::string("big.tar"));
        QVERIFY(::truncate(NameCodec::encode(big).constData(), 1536LL * 1024 * 1024) == 0);
        const QString nullDrive = QStringLiteral("stdio:/dev/null");
        DiscBurnFlow flow;
        flow.setDrives({ nullDrive });
        flow.setConfiguredDrives({ nullDrive });
        BurnProgressPanel panel(&flow);
        qint64 pgid = 0;
        connect(&flow, &DiscBurnFlow::burnerStarted, this, [&pgid](qint64 group, const QStringList&) { pgid = group; });
        bool shot = false;
        connect(&flow, &DiscBurnFlow::progressChanged, this, [&](double percent) {
            if (shot || percent <= 0)
                return;
            shot = true;
            Screenshot::save(&panel, "burning", "progress", "Burning a disc");
            QTest::mouseClick(panel.cancelButton(), Qt::LeftButton);
        });
        whenOpen<BurnSetupPanel>([](BurnSetupPanel* p) { p->okButton()->click(); }, 30000);
        QVERIFY(!flow.burnDisc({ { big, "/big.tar" } }));
        QVERIFY(shot);
        QVERIFY(pgid > 0);
        errno = 0;
        QCOMPARE(::kill(pid_t(-pgid), 0), -1);
        QCOMPARE(errno, ESRCH);
        QVERIFY(panel.isHidden());
    }
};

QTEST_MAIN(TestBurnPanels)
#include "tst_burnpanels.moc"
