// kv-test: labels=root timeout=600 fixtures=kv_loop_cleanup serial
#include "KvTest.h"
#include "LoopImage.h"
#include "MemoryKeychain.h"
#include "RecordingBackup3Controller.h"
#include "RecordingShellServices.h"
#include "ScriptedUiPrompts.h"
#include "platform/DiskImageTool.h"
#include "platform/NameCodec.h"
#include "projects/ILocation.h"
#include "snapshot/Backup3VersionList.h"
#include "snapshot/IBackup3.h"
#include "snapshot/IDiskImage.h"
#include "utilities/IFileCopier.h"
#include "utilities/IVolumeBase.h"

#include <QtTest>
#include <filesystem>

namespace {

const QString kUUID = QStringLiteral("1234ABCD-0000-1111-2222-333344445555");

std::shared_ptr<IBackup3> imageProject(const QString& folder, int targetType)
{
    auto p = std::make_shared<IBackup3>();
    p->setName(QStringLiteral("Docs"));
    p->setUUID(kUUID);
    p->setFileName(IBackup3::defaultFileName(p->name(), kUUID));
    std::shared_ptr<ILocation> dest(ILocation::create());
    dest->setMountPoint(folder);
    p->setDestLocation(dest);
    p->setBackupTargetType(targetType);
    return p;
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(content) == content.size() && f.flush();
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool hasMessage(const RecordingShellServices& shell, const QByteArray& text)
{
    for (const auto& m : shell.messages())
        if (m.text.contains(text))
            return true;
    return false;
}

QString allMessages(const RecordingShellServices& shell)
{
    QStringList lines;
    for (const auto& m : shell.messages())
        lines << QString::fromUtf8(m.text);
    return lines.join(QLatin1Char('\n'));
}

int devicesBacking(const QString& bundle)
{
    int n = 0;
    for (const auto& a : DiskImageTool::attachedImages())
        n += a.imagePath == bundle ? 1 : 0;
    return n;
}

// Detaches the image when a test ends early, before its holding volume goes.
struct AttachedImageGuard
{
    QStringList bundles;
    ~AttachedImageGuard()
    {
        for (const QString& b : bundles)
            if (DiskImageTool::attachment(b))
                DiskImageTool().detach(b);
    }
};

} // namespace

// A snapshot-backup project's disk image on real loop volumes: made and attached for a run,
// attached once however often it is opened, detached without a trace; the password of an
// encrypted image checked and kept in the keychain; the size fitted to the project's setting;
// a damaged image refused clearly; and the image moved to another volume when space runs short.
class TestProjectDiskImage : public QObject
{
    Q_OBJECT

    QString m_root;

private Q_SLOTS:
    void initTestCase()
    {
        if (!KvTest::isRoot())
            return;
        QDir().mkpath(LoopImage::loopRoot());
        QByteArray templ = (LoopImage::loopRoot() + QStringLiteral("/projimg-XXXXXX")).toLocal8Bit();
        QVERIFY(::mkdtemp(templ.data()));
        m_root = QString::fromLocal8Bit(templ);
        DiskImageTool::setMediaRoot(m_root + QStringLiteral("/media"));
    }

    void cleanupTestCase()
    {
        if (m_root.isEmpty())
            return;
        LoopImage::cleanupStale(m_root);
        std::error_code ec;
        std::filesystem::remove_all(m_root.toStdString(), ec);
        DiskImageTool::setMediaRoot(QString());
    }

    // The first open makes the image (90 % of the holding volume) and attaches it; opening again
    // reuses the attachment; the version list is made only when missing and its last folder taken
    // only as a version folder name; closing leaves no device and no mount.
    void plainImageRunCycle()
    {
        KV_REQUIRE_ROOT();
        LoopImage holding;
        QVERIFY2(holding.make(LoopImage::FsType::Ext4, 400), qPrintable(holding.errorString()));
        RecordingShellServices shell;
        ShellServicesScope scope(&shell);
        auto p = imageProject(holding.mountPoint(), 1);

        QVERIFY2(p->openBDI(), qPrintable(allMessages(shell)));
        QVERIFY(hasMessage(shell, "Creating disk image"));
        const QString bundle = holding.mountPoint() + QStringLiteral("/Docs_1234ABCD.sparsebundle");
        AttachedImageGuard guard { { bundle } };
        const QString content = p->getBDIContentPath();
        QCOMPARE(content, DiskImageTool::mediaFolder() + QStringLiteral("/Docs_1234ABCD/data"));
        QVERIFY(p->isBDICurrentlyActivated());
        // about 90 % of the holding volume (400 MiB)
        const double share = QFileInfo(DiskImageTool::imageFilePath(bundle)).size() / (400.0 * 1024 * 1024);
        QVERIFY2(share > 0.85 && share < 0.95, qPrintable(QString::number(share)));
        QCOMPARE(Backup3VersionList::read(content).state, Backup3VersionList::State::Empty);
        QVERIFY(p->lastProcessFolder().isEmpty());

        QVERIFY(Backup3VersionList::write(
            content, { { "LastFolder", QStringLiteral("b3_2026-01-02_03-04-05") } }));
        QVERIFY(p->openBDI());
        QCOMPARE(p->getBDIContentPath(), content);
        QCOMPARE(devicesBacking(bundle), 1);
        QCOMPARE(p->lastProcessFolder(), QStringLiteral("b3_2026-01-02_03-04-05"));

        // a damaged list is left as it is, and a last folder outside the version names is not taken
        QVERIFY(writeFile(content + QStringLiteral("/qv3info.plist"), "<plist><dict>"));
        QVERIFY(p->openBDI());
        QCOMPARE(readFile(content + QStringLiteral("/qv3info.plist")), QByteArray("<plist><dict>"));
        QVERIFY(p->lastProcessFolder().isEmpty());
        QVERIFY(Backup3VersionList::write(content, { { "LastFolder", QStringLiteral("../../etc") } }));
        QVERIFY(p->openBDI());
        QVERIFY(p->lastProcessFolder().isEmpty());

        QVERIFY(writeFile(content + QStringLiteral("/kept.txt"), "kept"));
        const QString mountPoint = DiskImageTool::mountPointForImage(bundle);
        QVERIFY(p->closeBDI());
        QVERIFY(!p->isBDICurrentlyActivated());
        QVERIFY(p->getBDIContentPath().isNull());
        QCOMPARE(devicesBacking(bundle), 0);
        QVERIFY(!QFileInfo::exists(mountPoint));
        QVERIFY(p->closeBDI()); // nothing attached any more
        QCOMPARE(p->lastStatusString(), QStringLiteral("Ready"));

        // a new image object (a new session) finds the image and its content
        p->setBDI(nullptr);
        QVERIFY(p->openBDI());
        QCOMPARE(readFile(p->getBDIContentPath() + QStringLiteral("/kept.txt")), QByteArray("kept"));
        QVERIFY(p->closeBDI());
        QCOMPARE(devicesBacking(bundle), 0);

        // Opened only to read its versions (the restore sheet): attached read-only; with the
        // image gone, it fails and makes no new one.
        p->setBDI(nullptr);
        QVERIFY2(p->openBDI(true), qPrintable(allMessages(shell)));
        const auto attached = DiskImageTool::attachment(bundle);
        QVERIFY(attached && attached->readOnly);
        QCOMPARE(readFile(p->getBDIContentPath() + QStringLiteral("/kept.txt")), QByteArray("kept"));
        QVERIFY(p->closeBDI());
        const QString away = holding.mountPoint() + QStringLiteral("/away.sparsebundle");
        QVERIFY(QFile::rename(bundle, away));
        p->setBDI(nullptr);
        QVERIFY(!p->openBDI(true));
        QVERIFY(!QFileInfo::exists(bundle));
        QCOMPARE(p->BDIlastWorkingState().code, 11);
        QVERIFY(QFile::rename(away, bundle));
    }

    // A btrfs image made beforehand under the project's image name is used as it is.
    void btrfsImageMadeBeforehand()
    {
        KV_REQUIRE_ROOT();
        LoopImage holding;
        QVERIFY2(holding.make(LoopImage::FsType::Ext4, 400), qPrintable(holding.errorString()));
        auto p = imageProject(holding.mountPoint(), 1);
        const QString bundle = holding.mountPoint() + QStringLiteral("/Docs_1234ABCD.sparsebundle");
        AttachedImageGuard guard { { bundle } };
        DiskImageTool tool;
        QString comment;
        QVERIFY2(
            !tool.create(bundle, QStringLiteral("Docs"), 0.3, DiskImageTool::FileSystem::Apfs, {}, &comment)
                 .isEmpty(),
            qPrintable(comment));
        p->setTargetChanged(false);
        QVERIFY(p->openBDI());
        QCOMPARE(tool.imageInfo(bundle)->fileSystem, QStringLiteral("btrfs"));
        QVERIFY(writeFile(p->getBDIContentPath() + QStringLiteral("/f"), "btrfs"));
        QVERIFY(p->closeBDI());
        QCOMPARE(devicesBacking(bundle), 0);
    }

    // The sheet gives the new image's password; a password whose digest differs is refused and
    // asked again; a password kept in the keychain opens without a prompt; without a digest the
    // image itself refuses a wrong password (working state 11).
    void encryptedImagePasswordAndKeychain()
    {
        KV_REQUIRE_ROOT();
        LoopImage holding;
        QVERIFY2(holding.make(LoopImage::FsType::Ext4, 400), qPrintable(holding.errorString()));
        MemoryKeychain keychain;
        RecordingShellServices shell;
        ShellServicesScope scope(&shell);
        ScriptedUiPrompts prompts;
        auto p = imageProject(holding.mountPoint(), 2);
        const QString bundle = holding.mountPoint() + QStringLiteral("/encr_Docs_1234ABCD.sparsebundle");
        AttachedImageGuard guard { { bundle } };

        prompts.expectNewImage(QStringLiteral("right one"), 0, true);
        QVERIFY2(p->openBDI(), qPrintable(allMessages(shell)));
        QVERIFY(p->isBDIPasswordInKeychain());
        QCOMPARE(keychain.items.size(), 1);
        QCOMPARE(keychain.items.first().label, QStringLiteral("QV: Docs"));
        QCOMPARE(keychain.items.first().account, kUUID);
        QCOMPARE(keychain.items.first().secret, QStringLiteral("right one"));
        QVERIFY(p->BDIDict().contains(QStringLiteral("PasswordMD5")));
        QVERIFY(writeFile(p->getBDIContentPath() + QStringLiteral("/secret.txt"), "inside"));
        QVERIFY(p->closeBDI());

        // a new session without the keychain: wrong, then right
        p->setBDI(nullptr);
        p->setBDIPasswordInKeychain(false);
        prompts.expectImagePassword(QStringLiteral("wrong"));
        prompts.expectImagePassword(QStringLiteral("right one"));
        QVERIFY2(p->openBDI(), qPrintable(allMessages(shell)));
        QCOMPARE(prompts.imagePasswordRequests.size(), 2);
        QVERIFY(prompts.imagePasswordRequests.first().errorText.isEmpty());
        QVERIFY(!prompts.imagePasswordRequests.last().errorText.isEmpty());
        QCOMPARE(readFile(p->getBDIContentPath() + QStringLiteral("/secret.txt")), QByteArray("inside"));
        QVERIFY(p->closeBDI());

        // the keychain answers
        p->setBDI(nullptr);
        p->setBDIPasswordInKeychain(true);
        QVERIFY(p->openBDI());
        QVERIFY(p->closeBDI());

        // no digest to check against: the wrong password reaches the image and is refused there
        p->setBDI(nullptr);
        p->setBDIDict({});
        p->setBDIPasswordInKeychain(false);
        prompts.expectImagePassword(QStringLiteral("wrong"));
        QVERIFY(!p->openBDI());
        QCOMPARE(p->BDIlastWorkingState().code, 11);
        QCOMPARE(devicesBacking(bundle), 0);

        // cancelled: working state 4
        prompts.expectCancelledImagePassword();
        QVERIFY(!p->openBDI());
        QCOMPARE(p->BDIlastWorkingState().code, 4);
        QCOMPARE(prompts.pending(), 0);

        p->removeKeychain();
        QVERIFY(keychain.items.isEmpty());
    }

    // A custom size the image exceeds by more than 8 % shrinks it, a larger one grows it; files stay.
    // "Increase Size" from the space-shortage question resizes and stores the custom size.
    void customSizeGrowsAndShrinks()
    {
        KV_REQUIRE_ROOT();
        LoopImage holding;
        QVERIFY2(holding.make(LoopImage::FsType::Ext4, 400), qPrintable(holding.errorString()));
        RecordingShellServices shell;
        ShellServicesScope scope(&shell);
        auto p = imageProject(holding.mountPoint(), 1);
        p->setDIMaxSizeType(1);
        p->setDIMaxSizeCustomValue(0.5);
        const QString bundle = holding.mountPoint() + QStringLiteral("/Docs_1234ABCD.sparsebundle");
        AttachedImageGuard guard { { bundle } };
        const QString img = DiskImageTool::imageFilePath(bundle);

        QVERIFY2(p->openBDI(), qPrintable(allMessages(shell)));
        QCOMPARE(QFileInfo(img).size(), qint64(0.5e9) / 4096 * 4096);
        QVERIFY(writeFile(p->getBDIContentPath() + QStringLiteral("/kept.txt"), "kept"));
        QVERIFY(p->closeBDI());

        p->setDIMaxSizeCustomValue(0.3);
        QVERIFY2(p->openBDI(), qPrintable(allMessages(shell)));
        QVERIFY(hasMessage(shell, "Shrinking Disk Image size"));
        QVERIFY2(QFileInfo(img).size() <= qint64(0.3e9), qPrintable(QString::number(QFileInfo(img).size())));
        QCOMPARE(readFile(p->getBDIContentPath() + QStringLiteral("/kept.txt")), QByteArray("kept"));
        QCOMPARE(p->DIMaxSizeCustomValue(), 0.3);

        RecordingBackup3Controller pane;
        Backup3ControllerScope paneScope(&pane);
        pane.sizeAnswer = 0.45;
        ScriptedUiPrompts prompts;
        prompts.expectAlert(QStringLiteral("Space Shortage"), 2);
        p->setBDILastWorkingState(9, 0);
        QVERIFY(p->changeTargetForBDIbyUserCreationOnly(false));
        QCOMPARE(p->DIMaxSizeCustomValue(), 0.45);
        QCOMPARE(QFileInfo(img).size(), qint64(0.45e9) / 4096 * 4096);
        QVERIFY(p->closeBDI());
        QCOMPARE(devicesBacking(bundle), 0);
    }

    // An image whose information file is missing or damaged is refused with a reason; nothing
    // stays attached and the file is not rewritten.
    void damagedImageRefused_data()
    {
        QTest::addColumn<QByteArray>("info"); // null: removed
        QTest::newRow("missing") << QByteArray();
        QTest::newRow("corrupt") << QByteArray("<?xml version=\"1.0\"?><plist><dict><key>fs");
    }
    void damagedImageRefused()
    {
        KV_REQUIRE_ROOT();
        QFETCH(QByteArray, info);
        const QString folder = m_root + QStringLiteral("/damaged-") + QTest::currentDataTag();
        QVERIFY(QDir().mkpath(folder));
        auto p = imageProject(folder, 1);
        const QString bundle = folder + QStringLiteral("/Docs_1234ABCD.sparsebundle");
        DiskImageTool tool;
        QString comment;
        QVERIFY2(!tool.create(bundle, QStringLiteral("Docs"), 0.05, DiskImageTool::FileSystem::MacExtended,
                          {}, &comment)
                      .isEmpty(),
            qPrintable(comment));
        const QString infoPath = DiskImageTool::infoFilePath(bundle);
        QVERIFY(QFile::remove(infoPath));
        if (!info.isNull())
            QVERIFY(writeFile(infoPath, info));
        RecordingShellServices shell;
        ShellServicesScope scope(&shell);
        p->setTargetChanged(false);
        QVERIFY(!p->openBDI());
        QCOMPARE(p->BDIlastWorkingState().code, 11);
        QVERIFY2(hasMessage(shell, "Error with mounting disk image: "), qPrintable(allMessages(shell)));
        QCOMPARE(devicesBacking(bundle), 0);
        QCOMPARE(readFile(infoPath), info.isNull() ? QByteArray() : info);
    }

    // "Move" copies the image sparsely to the chosen volume, which becomes the destination; a
    // volume without room for it is refused; the old image stays; the next open uses the copy.
    void spaceShortageMove()
    {
        KV_REQUIRE_ROOT();
        LoopImage holding, target, tiny;
        QVERIFY2(holding.make(LoopImage::FsType::Ext4, 400), qPrintable(holding.errorString()));
        QVERIFY2(target.make(LoopImage::FsType::Ext4, 600), qPrintable(target.errorString()));
        QVERIFY2(tiny.make(LoopImage::FsType::Ext4, 32), qPrintable(tiny.errorString()));
        IVolumeBase::shared().fill();
        RecordingShellServices shell;
        ShellServicesScope scope(&shell);
        auto p = imageProject(holding.mountPoint(), 1);
        AttachedImageGuard guard { { holding.mountPoint() + QStringLiteral("/Docs_1234ABCD.sparsebundle"),
            target.mountPoint() + QStringLiteral("/moved/Docs_1234ABCD.sparsebundle") } };
        QVERIFY2(p->openBDI(), qPrintable(allMessages(shell)));
        QVERIFY(writeFile(p->getBDIContentPath() + QStringLiteral("/data.bin"), QByteArray(40 << 20, 'd')));
        p->setBDILastWorkingState(5, 0); // as the run engine leaves it when the image ran full

        ScriptedUiPrompts prompts;
        prompts.expectAlert(QStringLiteral("Space Shortage"), 0);
        prompts.expectFolder(tiny.mountPoint());
        QVERIFY(!p->changeTargetForBDIbyUserCreationOnly(false));
        QCOMPARE(prompts.folderRefusals,
            QStringList { QStringLiteral("Attention: not enough space. Please choose another destination") });
        QVERIFY(!p->isBDICurrentlyActivated()); // detached before the question

        const QString to = target.mountPoint() + QStringLiteral("/moved");
        QVERIFY(QDir().mkpath(to));
        prompts.expectAlert(QStringLiteral("Space Shortage"), 0);
        prompts.expectFolder(to);
        QVERIFY2(p->changeTargetForBDIbyUserCreationOnly(false), qPrintable(allMessages(shell)));
        QVERIFY(hasMessage(shell, "Disk image transferred successfully"));
        QCOMPARE(p->BDIFolderPath(), to);
        const QString oldImage
            = holding.mountPoint() + QStringLiteral("/Docs_1234ABCD.sparsebundle/disk.img");
        const QString newImage = to + QStringLiteral("/Docs_1234ABCD.sparsebundle/disk.img");
        QVERIFY(QFileInfo::exists(oldImage));
        QCOMPARE(QFileInfo(newImage).size(), QFileInfo(oldImage).size());
        const quint64 before = IFileCopier::allocatedSizeOfFile(oldImage);
        const quint64 after = IFileCopier::allocatedSizeOfFile(newImage);
        QVERIFY2(after >= quint64(40 << 20) && after <= before + (1 << 20),
            qPrintable(QStringLiteral("%1 -> %2").arg(before).arg(after)));

        QVERIFY2(p->openBDI(), qPrintable(allMessages(shell)));
        QVERIFY(p->getBDIContentPath().startsWith(DiskImageTool::mediaFolder()));
        QCOMPARE(QFileInfo(p->getBDIContentPath() + QStringLiteral("/data.bin")).size(), qint64(40 << 20));
        QCOMPARE(DiskImageTool::imagePathForMountPoint(
                     DiskImageTool::mountPointForImage(to + QStringLiteral("/Docs_1234ABCD.sparsebundle"))),
            to + QStringLiteral("/Docs_1234ABCD.sparsebundle"));
        QVERIFY(p->closeBDI());
        QCOMPARE(prompts.pending(), 0);
    }
};

QTEST_GUILESS_MAIN(TestProjectDiskImage)
#include "tst_projectdiskimage.moc"
