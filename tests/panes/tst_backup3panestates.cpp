// kv-test: labels=gui timeout=60

// The snapshot pane while projects run: the indicator mid-run, the running row's wheel, a
// queued and a scheduled row.

#include "FakeBackup3Engine.h"
#include "RecordingShellServices.h"
#include "Screenshot.h"
#include "ScriptedUiPrompts.h"
#include "TempTree.h"
#include "panes/backup/Backup3Pane.h"
#include "panes/backup/Backup3PaneController.h"
#include "platform/NameCodec.h"
#include "projects/ILocation.h"
#include "shell/dialogs/IQV3ProjectListView.h"
#include "shell/dialogs/IQVProcessIndicatorView.h"
#include "shell/dialogs/ISourceOutlineView.h"
#include "snapshot/IBackup3.h"
#include "snapshot/IBackup3Container.h"

#include <QtTest>
#include <QtWidgets>

class TestBackup3PaneStates : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { Screenshot::fixConditions(); }
    void runningQueuedScheduled();
    void droppedFolders();
};

void TestBackup3PaneStates::runningQueuedScheduled()
{
    TempTree tree(QStringLiteral("b3states"));
    tree.mkdir("src/a");
    tree.mkdir("src/b");
    RecordingShellServices shell;
    ScriptedUiPrompts prompts;
    IShellServices::setShared(&shell);
    UiPrompts::setShared(&prompts);
    auto engine = std::make_unique<FakeBackup3Engine>();
    FakeBackup3Engine* fake = engine.get();
    IBackup3Container container(std::move(engine), tree.filePath(QStringLiteral("P.plist")));
    Backup3PaneController controller(&container);
    IBackup3Controller::setShared(&controller);
    {
        const auto running = container.createNewBackup3(QStringLiteral("Home folder"));
        const auto queued = container.createNewBackup3(QStringLiteral("Photos"));
        const auto scheduled = container.createNewBackup3(QStringLiteral("Mail"));
        scheduled->setScheduled(true);
        std::shared_ptr<ILocation> src(ILocation::create());
        QVERIFY(src->setupWithPath(tree.filePath(QStringLiteral("src"))));
        running->addSrcLocation(src);
        container.setCurrentBackup3ByIndex(0);

        Backup3Pane pane(&controller);
        pane.resize(980, 560);
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));

        container.processCurrentProject();
        QCOMPARE(fake->started.size(), 1);
        container.addBackup3ToProcessingList(queued);
        running->setIndicatorPosition(42.0, true);
        controller.validateProcessIndicator();
        QTRY_COMPARE(pane.indicator()->buttonState(), 2);
        QTRY_VERIFY(pane.listView()->spinnerRows().contains(0));
        QVERIFY(!pane.addFileButton()->isEnabled()); // nothing changes under a running project
        QTest::qWait(120); // a turn of the wheel

        // The stop button ends it; the row stops turning.
        fake->finish(0);
        QTRY_VERIFY(!pane.listView()->spinnerRows().contains(0));
        container.removeBackup3FromProcessingList(queued);
    }
    IBackup3Controller::setShared(nullptr);
    IShellServices::setShared(nullptr);
    UiPrompts::setShared(nullptr);
    QCOMPARE(prompts.unexpected, QStringList());
}

// Two folders dropped on the outline, one named with a byte that is not UTF-8, become two
// sources with the same bytes.
void TestBackup3PaneStates::droppedFolders()
{
    TempTree tree(QStringLiteral("b3drop"));
    const QByteArray odd = "caf\xe9 \n";
    QVERIFY(tree.mkdir("plain"));
    QVERIFY(tree.mkdir(std::string("odd-") + odd.constData()));
    RecordingShellServices shell;
    IShellServices::setShared(&shell);
    IBackup3Container container(
        std::make_unique<FakeBackup3Engine>(), tree.filePath(QStringLiteral("P.plist")));
    Backup3PaneController controller(&container);
    const auto p = container.createNewBackup3(QStringLiteral("Docs"));
    container.setCurrentBackup3ByIndex(0);
    {
        Backup3Pane pane(&controller);
        pane.resize(800, 500);
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        const QByteArray oddPath = tree.filePathStd("odd-").c_str() + odd;
        auto* mime = new QMimeData;
        mime->setUrls(
            { QUrl::fromEncoded("file://"
                  + QUrl::toPercentEncoding(QString::fromLatin1(tree.filePathStd("plain").c_str()), "/")),
                QUrl::fromEncoded("file://" + oddPath.toPercentEncoding("/")) });
        QWidget* target = pane.outlineView()->viewport();
        const QPoint at(40, 40);
        QDragEnterEvent enter(at, Qt::CopyAction, mime, Qt::LeftButton, {});
        QApplication::sendEvent(target, &enter);
        QDragMoveEvent move(at, Qt::CopyAction, mime, Qt::LeftButton, {});
        QApplication::sendEvent(target, &move);
        QDropEvent drop(at, Qt::CopyAction, mime, Qt::LeftButton, {});
        QApplication::sendEvent(target, &drop);
        QCOMPARE(p->srcLocations().size(), 2);
        QStringList stored;
        for (const auto& l : p->srcLocations())
            stored << l->getUnverifiedFullPath();
        QCOMPARE(NameCodec::encode(stored.at(0)), QByteArray(tree.filePathStd("plain").c_str()));
        QCOMPARE(NameCodec::encode(stored.at(1)), oddPath);
        delete mime;
    }
    IShellServices::setShared(nullptr);
}

QTEST_MAIN(TestBackup3PaneStates)
#include "tst_backup3panestates.moc"
