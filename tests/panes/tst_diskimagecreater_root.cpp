// kv-test: labels=root,gui timeout=600 fixtures=kv_loop_cleanup serial

// The Create Disk Image dialog on a real loop volume: a plain and an encrypted image made
// through it, mounted and marked, each then used as the destination of a snapshot backup with
// the real rsync. Picture: snapshot/create-image-progress.

#include "../e2e/E2eWorkspace.h"
#include "KvTest.h"
#include "LoopImage.h"
#include "RecordingShellServices.h"
#include "Screenshot.h"
#include "ScriptedUiPrompts.h"
#include "WhenOpen.h"
#include "panes/backup/Backup3PaneController.h"
#include "panes/backup/IDiskImageCreater.h"
#include "platform/DiskImageTool.h"
#include "platform/PlistBridge.h"
#include "projects/ILocation.h"
#include "shell/dialogs/IQVNumberField.h"
#include "snapshot/IBackup3.h"
#include "snapshot/IBackup3Container.h"
#include "snapshot/IBackup3Processor.h"
#include "utilities/IVolumeBase.h"

#include <QtTest>
#include <QtWidgets>
#include <filesystem>

using namespace E2e;

class TestDiskImageCreaterRoot : public QObject
{
    Q_OBJECT
    QString m_root;

private slots:
    void initTestCase()
    {
        Screenshot::fixConditions();
        if (!KvTest::isRoot())
            return;
        QDir().mkpath(LoopImage::loopRoot());
        QByteArray templ = (LoopImage::loopRoot() + QStringLiteral("/dicreate-XXXXXX")).toLocal8Bit();
        QVERIFY(::mkdtemp(templ.data()));
        m_root = QString::fromLocal8Bit(templ);
        DiskImageTool::setMediaRoot(m_root + QStringLiteral("/media"));
    }
    void cleanupTestCase()
    {
        if (m_root.isEmpty())
            return;
        for (const auto& a : DiskImageTool::attachedImages())
            if (a.imagePath.startsWith(m_root))
                DiskImageTool().detach(a.imagePath);
        LoopImage::cleanupStale(m_root);
        std::error_code ec;
        std::filesystem::remove_all(m_root.toStdString(), ec);
        DiskImageTool::setMediaRoot(QString());
    }
    void makeAndBackUpInto_data();
    void makeAndBackUpInto();
};

void TestDiskImageCreaterRoot::makeAndBackUpInto_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("password");
    QTest::newRow("plain") << int(IDiskImageCreater::TypeExtended) << QString();
    QTest::newRow("encrypted") << int(IDiskImageCreater::TypeExtendedEncrypted)
                               << QStringLiteral("s3cret pass");
}

void TestDiskImageCreaterRoot::makeAndBackUpInto()
{
    KV_REQUIRE_ROOT();
    QFETCH(int, type);
    QFETCH(QString, password);
    LoopImage holding;
    QVERIFY2(holding.make(LoopImage::FsType::Ext4, 400), qPrintable(holding.errorString()));
    IVolumeBase::shared().baseFill();
    RecordingShellServices shell;
    ShellServicesScope scope(&shell);
    ScriptedUiPrompts prompts;
    UiPrompts::setShared(&prompts);

    QWidget window;
    window.resize(800, 500);
    window.show();
    IDiskImageCreater dialog(&window);
    dialog.open();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    dialog.pathField()->setText(holding.mountPoint() + QStringLiteral("/Backups"));
    dialog.nameField()->setText(QStringLiteral("Backups"));
    dialog.typePopup()->setCurrentIndex(dialog.typePopup()->findData(type));
    dialog.sizeField()->setText(QStringLiteral("1"));
    if (!password.isEmpty()) {
        whenOpen<IDiskImagePasswordSheet>([&](IDiskImagePasswordSheet* sheet) {
            QTest::keyClicks(sheet->passwordField(), password);
            QTest::keyClicks(sheet->confirmField(), password);
            QTest::mouseClick(sheet->okButton(), Qt::LeftButton);
        });
    }
    QStringList steps;
    dialog.setProgressHook([&](const QString& text) {
        steps << text;
        if (text.startsWith(QLatin1String("Creating")) && dialog.progressSheet()
            && type == IDiskImageCreater::TypeExtended)
            Screenshot::save(dialog.progressSheet(), QStringLiteral("snapshot"),
                QStringLiteral("create-image-progress"), QStringLiteral("A new disk image is being made"));
    });
    QTest::mouseClick(dialog.createButton(), Qt::LeftButton);
    QVERIFY2(!dialog.resultPath().isEmpty(), qPrintable(steps.join(QLatin1String(" | "))));
    QTRY_VERIFY(!dialog.isVisible());
    const QString bundle = holding.mountPoint() + QStringLiteral("/Backups.sparsebundle");
    QCOMPARE(dialog.bundlePath(), bundle);
    QCOMPARE(steps.mid(0, 2), QStringList({ "Creating new disk image...", "Disk image mounting..." }));
    const auto attached = DiskImageTool::attachment(bundle);
    QVERIFY(attached);
    QCOMPARE(PlistBridge::readFile(bundle + QStringLiteral("/info.plist"))
                 .value.toMap()
                 .value(QStringLiteral("made")),
        QVariant(QStringLiteral("Kelvane")));

    // The mounted image as a snapshot-backup destination: a real run writes its version there.
    IVolumeBase::shared().baseFill();
    TempTree tree(QStringLiteral("dicreate-src"));
    put(tree, "src/file.txt", "in the image");
    const QString into = dialog.resultPath() + QStringLiteral("/data");
    QVERIFY(QDir().mkpath(into));
    {
        // In its own scope: the container and the file read back are gone before the detach.
        IBackup3Container container(
            std::make_unique<IBackup3Processor>(), tree.filePath(QStringLiteral("P.plist")));
        const std::shared_ptr<IBackup3> p = container.createNewBackup3(QStringLiteral("Docs"));
        container.setCurrentBackup3ByIndex(0);
        std::shared_ptr<ILocation> dest(ILocation::create());
        QVERIFY(dest->setupWithPath(into));
        p->setDestLocation(dest);
        std::shared_ptr<ILocation> src(ILocation::create());
        QVERIFY(src->setupWithPath(tree.filePath(QStringLiteral("src"))));
        p->addSrcLocation(src);
        container.processCurrentProject();
        QTRY_VERIFY_WITH_TIMEOUT(p->isInProcess(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!p->isInProcess(), 120000);
        const QString folder = projectFolder(into, p->name(), p->UUID());
        QCOMPARE(versionFolders(folder).size(), 1);
        QFile copied(folder + QLatin1Char('/') + versionFolders(folder).first()
            + QStringLiteral("/src.wrp1/src/file.txt"));
        QVERIFY(copied.open(QIODevice::ReadOnly));
        QCOMPARE(copied.readAll(), QByteArray("in the image"));
    }

    // Nothing of the image stays attached: one attachment, and none after the detach.
    int attachments = 0;
    for (const auto& a : DiskImageTool::attachedImages())
        attachments += a.imagePath == bundle ? 1 : 0;
    QCOMPARE(attachments, 1);
    QString comment;
    QVERIFY2(DiskImageTool().detach(bundle, &comment), qPrintable(comment));
    QVERIFY(!DiskImageTool::attachment(bundle));
    UiPrompts::setShared(nullptr);
    QCOMPARE(prompts.unexpected, QStringList());
}

QTEST_MAIN(TestDiskImageCreaterRoot)
#include "tst_diskimagecreater_root.moc"
