#include "KvTest.h"
#include "MemoryKeychain.h"
#include "RecordingBackup3Controller.h"
#include "RecordingShellServices.h"
#include "ScriptedUiPrompts.h"
#include "TempTree.h"
#include "platform/NameCodec.h"
#include "projects/ILocation.h"
#include "snapshot/IBackup3.h"
#include "snapshot/IDiskImage.h"
#include "utilities/AGKeychain.h"
#include "utilities/ProjectKeychain.h"
#include "utilities/UiPrompts.h"

#include <QtTest>
#include <fcntl.h>
#include <unistd.h>

namespace {

const QString kUUID = QStringLiteral("1234ABCD-0000-1111-2222-333344445555");

// A project whose image destination is the folder.
std::shared_ptr<IBackup3> imageProject(const QString& folder, int targetType = 1)
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

bool hasMessage(const RecordingShellServices& shell, const QByteArray& text)
{
    for (const auto& m : shell.messages())
        if (m.text.contains(text))
            return true;
    return false;
}

} // namespace

// The project image's names and size rules, as pure functions.
class TestIDiskImage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void names_data()
    {
        QTest::addColumn<QString>("projectFileName");
        QTest::addColumn<bool>("encrypted");
        QTest::addColumn<QString>("fileName");
        const QString uuid = QStringLiteral("1234ABCD-0000-1111-2222-333344445555");
        QTest::newRow("encrypted") << QStringLiteral("Docs_") + uuid << true
                                   << QStringLiteral("encr_Docs_1234ABCD.sparsebundle");
        QTest::newRow("plain") << QStringLiteral("Docs_") + uuid << false
                               << QStringLiteral("Docs_1234ABCD.sparsebundle");
        QTest::newRow("28 characters")
            << QString(28, QLatin1Char('x')) << false << QStringLiteral(".sparsebundle");
        QTest::newRow("27 characters") << QString(27, QLatin1Char('x')) << true << QString();
    }
    void names()
    {
        QFETCH(QString, projectFileName);
        QFETCH(bool, encrypted);
        QFETCH(QString, fileName);
        const QString result
            = IDiskImage::fileNameForName(IDiskImage::nameForProjectFileName(projectFileName, encrypted));
        QCOMPARE(result, fileName);
        QCOMPARE(result.isNull(), fileName.isNull());
    }

    void createSize_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<double>("custom");
        QTest::addColumn<double>("freeGB");
        QTest::addColumn<double>("capacityGB");
        QTest::addColumn<double>("sizeGB");
        QTest::newRow("custom 0, 200 GB free") << 1 << 0.0 << 200.0 << 500.0 << 180.0;
        QTest::newRow("custom 50") << 1 << 50.0 << 200.0 << 500.0 << 50.0;
        QTest::newRow("automatic: capacity") << 0 << 50.0 << 200.0 << 500.0 << 450.0;
    }
    void createSize()
    {
        QFETCH(int, type);
        QFETCH(double, custom);
        QFETCH(double, freeGB);
        QFETCH(double, capacityGB);
        QFETCH(double, sizeGB);
        QCOMPARE(IDiskImage::createSizeInGB(type, custom, quint64(freeGB * 1e9), quint64(capacityGB * 1e9)),
            sizeGB);
    }

    void fit_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<double>("custom");
        QTest::addColumn<double>("holdingFreeGB");
        QTest::addColumn<double>("imageMB");
        QTest::addColumn<double>("imageFreeMB");
        QTest::addColumn<int>("action");
        QTest::addColumn<double>("sizeGB");
        QTest::addColumn<int>("state");
        using F = IDiskImage::FitDecision;
        QTest::newRow("custom 100 on 105 GB: within 8 %")
            << 1 << 100.0 << 500.0 << 105000.0 << 50.0 << int(F::Keep) << 100.0 << 0;
        QTest::newRow("custom 100 on 120 GB: shrink")
            << 1 << 100.0 << 500.0 << 120000.0 << 50.0 << int(F::Shrink) << 100.0 << 0;
        QTest::newRow("custom 300 on 120 GB: grow")
            << 1 << 300.0 << 500.0 << 120000.0 << 50.0 << int(F::Grow) << 300.0 << 0;
        QTest::newRow("custom, image full")
            << 1 << 100.0 << 500.0 << 100000.0 << 0.5 << int(F::Refuse) << 0.0 << 9;
        QTest::newRow("custom 0") << 1 << 0.0 << 500.0 << 100000.0 << 0.0 << int(F::Keep) << 0.0 << 0;
        QTest::newRow("automatic, room on the volume: grow to capacity")
            << 0 << 0.0 << 500.0 << 100000.0 << 50.0 << int(F::Grow) << 1000.0 << 0;
        QTest::newRow("automatic, image as large as allowed")
            << 0 << 0.0 << 100.0 << 100000.0 << 50.0 << int(F::Keep) << 0.0 << 0;
        QTest::newRow("automatic, image full")
            << 0 << 0.0 << 100.0 << 100000.0 << 0.05 << int(F::Refuse) << 0.0 << 3;
    }
    void fit()
    {
        QFETCH(int, type);
        QFETCH(double, custom);
        QFETCH(double, holdingFreeGB);
        QFETCH(double, imageMB);
        QFETCH(double, imageFreeMB);
        QFETCH(int, action);
        QFETCH(double, sizeGB);
        QFETCH(int, state);
        const auto d = IDiskImage::fitDecision(
            type, custom, quint64(holdingFreeGB * 1e9), quint64(1000 * 1e9), imageMB, imageFreeMB);
        QCOMPARE(int(d.action), action);
        QCOMPARE(d.state, state);
        if (d.action == IDiskImage::FitDecision::Grow || d.action == IDiskImage::FitDecision::Shrink)
            QCOMPARE(d.sizeGB, sizeGB);
    }

    void shrinkBelowMinimum()
    {
        bool raised = false;
        QCOMPARE(IDiskImage::shrinkTargetGB(100, 140, &raised), 140.0);
        QVERIFY(raised);
        QCOMPARE(IDiskImage::shrinkTargetGB(100, 60, &raised), 100.0);
        QVERIFY(!raised);
        QCOMPARE(IDiskImage::shrinkTargetGB(100, 0, &raised), 100.0); // minimum unknown
        QVERIFY(!raised);
    }

    void creationNeedsFreeSpace()
    {
        QVERIFY(99999999 < IDiskImage::MinimumFreeForCreation);
        QVERIFY(100000000 >= IDiskImage::MinimumFreeForCreation);
    }

    // The new-image sheet: what it is told (the sources' size, the field left at 0 so a plain OK
    // keeps the project's size rule) and how its answer reaches the caller and the project.
    void newImageSheet_data()
    {
        QTest::addColumn<bool>("confirm");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<long>("sizeGB");
        QTest::addColumn<bool>("remember");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<long>("sizeOut");
        QTest::addColumn<bool>("projectRemembers");
        QTest::addColumn<int>("keychainItems");
        QTest::newRow("password, size, remembered")
            << true << QStringLiteral("s\u00e9same") << 3L << true << true << 3L << true << 1;
        QTest::newRow("password, no size")
            << true << QStringLiteral("pw") << 0L << false << true << 0L << false << 0;
        QTest::newRow("encryption off") << true << QString() << 2L << false << false << 2L << false << 0;
        QTest::newRow("cancelled") << false << QString() << 0L << false << false << -1L << true << 0;
    }

    void newImageSheet()
    {
        QFETCH(bool, confirm);
        QFETCH(QString, typed);
        QFETCH(long, sizeGB);
        QFETCH(bool, remember);
        QFETCH(bool, answer);
        QFETCH(long, sizeOut);
        QFETCH(bool, projectRemembers);
        QFETCH(int, keychainItems);

        // two sources of 12 MB each (written, so they take their blocks), one with a nested folder
        TempTree tree;
        QVERIFY(tree.writeFile(std::string("a/big"), QByteArray(12000000, 'x')));
        QVERIFY(tree.writeFile(std::string("b/deep/big"), QByteArray(12000000, 'y')));
        QVERIFY(tree.symlink("/usr", "b/link")); // a link is not followed
        MemoryKeychain keychain;
        ScriptedUiPrompts prompts;
        auto p = imageProject(tree.path(), 2);
        QList<std::shared_ptr<ILocation>> sources;
        for (const char* name : { "a", "b" }) {
            std::shared_ptr<ILocation> l(ILocation::create());
            l->setMountPoint(tree.filePath(std::string(name)));
            sources.append(l);
        }
        p->setSrcLocations(sources);
        p->setBDIPasswordInKeychain(true);
        if (confirm)
            prompts.expectNewImage(typed, sizeGB, remember);
        else
            prompts.expectCancelledNewImage();

        long size = -1;
        QString password = QStringLiteral("untouched");
        bool inKeychain = false;
        QCOMPARE(p->getBackupDIMaxSizeByUser(&size, &password, &inKeychain), answer);
        QCOMPARE(prompts.imageCreationRequests.size(), 1);
        const UiPrompts::ImageCreationRequest& r = prompts.imageCreationRequests.first();
        QCOMPARE(r.title, QStringLiteral("Docs"));
        QCOMPARE(r.UUID, kUUID);
        QVERIFY(r.passwordInKeychain);
        QCOMPARE(r.minSizeGB, 0.0);
        QCOMPARE(r.sourceSizeNote, QStringLiteral("The sources take 0.02 GB."));
        QCOMPARE(size, sizeOut);
        QCOMPARE(password, answer ? typed : confirm ? QString() : QStringLiteral("untouched"));
        QCOMPARE(inKeychain, answer && remember);
        QCOMPARE(p->isBDIPasswordInKeychain(), projectRemembers);
        QCOMPARE(keychain.items.size(), keychainItems);
        if (keychainItems)
            QCOMPARE(keychain.items.first().secret, typed);
        QCOMPARE(prompts.pending(), 0);
    }

    void savedName()
    {
        TempTree tree;
        const QString name = QStringLiteral("Docs_1234ABCD.sparsebundle");
        QCOMPARE(IDiskImage::generateSavedNameForFileWithName(name, tree.path()),
            QStringLiteral("Docs_1234ABCD.qv_saved.sparsebundle"));
        QVERIFY(tree.mkdir("Docs_1234ABCD.qv_saved.sparsebundle"));
        QVERIFY(tree.mkdir("Docs_1234ABCD.qv_saved-1.sparsebundle"));
        QCOMPARE(IDiskImage::generateSavedNameForFileWithName(name, tree.path()),
            QStringLiteral("Docs_1234ABCD.qv_saved-2.sparsebundle"));
    }

    // The stored dictionary takes each key only with its type.
    void storedDictionary()
    {
        IBackup3 project;
        IDiskImage image(&project);
        QVERIFY(!image.loadFromDict(QVariant(QStringLiteral("not a dictionary"))));
        QVERIFY(
            image.loadFromDict(QVariantMap { { "NamePreffix", 7 }, { "PasswordMD5", QStringLiteral("x") } }));
        QVERIFY(image.nameSuffix().isEmpty());
        QVERIFY(image.passwordMD5().isEmpty());
        QVERIFY(image.dict().isEmpty());

        const QByteArray md5 = IPasswordMD5::createWithPassword(QStringLiteral("pw"))->data();
        QVERIFY(image.loadFromDict(
            QVariantMap { { "NamePreffix", QStringLiteral("s") }, { "PasswordMD5", md5 } }));
        QVERIFY(image.passwordMD5().correspondsToPassword(QStringLiteral("pw")));
        QCOMPARE(
            image.dict(), (QVariantMap { { "NamePreffix", QStringLiteral("s") }, { "PasswordMD5", md5 } }));
    }

    void placesOfAProjectImage()
    {
        TempTree t(QStringLiteral("places"));
        auto p = imageProject(t.path(), 2);
        IDiskImage image(p.get());
        QCOMPARE(image.fileName(), QStringLiteral("encr_Docs_1234ABCD.sparsebundle"));
        QCOMPARE(
            image.imagePathVerified(false), t.path() + QStringLiteral("/encr_Docs_1234ABCD.sparsebundle"));
        QVERIFY(image.imagePathVerified(true).isNull());
        QVERIFY(image.mountedContentPath().isNull());
        QVERIFY(!p->isBDICurrentlyActivated());
        QVERIFY(p->closeBDI()); // nothing to close
    }

    // Without an image object or a destination there is nothing to open.
    void openWithoutImage()
    {
        IBackup3 folderProject;
        QVERIFY(!folderProject.openBDI());
        QVERIFY(folderProject.closeBDI());
        QVERIFY(!folderProject.BDI());
    }

    // A missing image on a restore (nothing to make) and a file name too short for an image name.
    void openFailsClearly()
    {
        TempTree t(QStringLiteral("missing"));
        RecordingShellServices shell;
        ShellServicesScope scope(&shell);
        auto p = imageProject(t.path());
        p->setBDI(IDiskImage::createWithBackup(p.get()));
        p->setTargetChanged(false);
        QVERIFY(!p->BDI()->mountFromDiskForWrite(true));
        QCOMPARE(p->BDIlastWorkingState().code, 11);
        QVERIFY(hasMessage(shell, "Disk image \"Docs_1234ABCD.sparsebundle\" was not found"));

        p->setFileName(QStringLiteral("short"));
        p->setBDILastWorkingState(1, 0);
        QVERIFY(p->BDI()->imagePathVerified(false).isNull());
        QVERIFY(!p->BDI()->mountFromDiskForWrite(true));
        QCOMPARE(p->BDIlastWorkingState().code, 11);
    }

    // The space-shortage question: its buttons by working state, and Cancel ends with
    // "Terminated", "Ready" and no restart.
    void spaceShortageQuestion_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("sizeType");
        QTest::addColumn<bool>("creationOnly");
        QTest::addColumn<QStringList>("buttons");
        QTest::addColumn<int>("stateAfter");
        const QStringList moveButtons { "Move", "Cancel", "Create a New" };
        const QStringList sizeButtons { "Create New", "Cancel", "Increase Size" };
        QTest::newRow("size exceeded") << 9 << 1 << false << sizeButtons << 9;
        QTest::newRow("creation only") << 2 << 0 << true << QStringList { "Choose Another", "Cancel" } << 2;
        QTest::newRow("full during a run") << 5 << 0 << false << moveButtons << 5;
        // custom size with room on the destination volume: the custom size is what is too small
        QTest::newRow("full, custom size, room left") << 5 << 1 << false << sizeButtons << 9;
        QTest::newRow("no room, custom size, room left") << 3 << 1 << false << sizeButtons << 9;
        QTest::newRow("grow failed") << 7 << 1 << false << moveButtons << 7;
    }
    void spaceShortageQuestion()
    {
        QFETCH(int, state);
        QFETCH(int, sizeType);
        QFETCH(bool, creationOnly);
        QFETCH(QStringList, buttons);
        QFETCH(int, stateAfter);
        TempTree t(QStringLiteral("shortage"));
        RecordingShellServices shell;
        ShellServicesScope scope(&shell);
        ScriptedUiPrompts prompts;
        prompts.expectAlert(QStringLiteral("Space Shortage"), 1);
        auto p = imageProject(t.path());
        p->setDIMaxSizeType(sizeType);
        p->setBDILastWorkingState(state, 0);
        QVERIFY(!p->changeTargetForBDIbyUserCreationOnly(creationOnly));
        QCOMPARE(prompts.alerts.size(), 1);
        QCOMPARE(prompts.alerts.first().buttons, buttons);
        QCOMPARE(p->BDIlastWorkingState().code, stateAfter);
        QVERIFY(hasMessage(shell, "Terminated"));
        QCOMPARE(p->lastStatusString(), QStringLiteral("Ready"));
        QCOMPARE(p->destLocation()->getUnverifiedFullPath(), t.path());
    }

    // "Increase Size" cancelled at the size prompt; a folder choice cancelled.
    void spaceShortageCancelledLater()
    {
        TempTree t(QStringLiteral("later"));
        RecordingShellServices shell;
        ShellServicesScope scope(&shell);
        RecordingBackup3Controller pane;
        Backup3ControllerScope paneScope(&pane);
        ScriptedUiPrompts prompts;
        auto p = imageProject(t.path());
        p->setDIMaxSizeType(1);
        p->setDIMaxSizeCustomValue(40);
        p->setBDILastWorkingState(9, 0);
        prompts.expectAlert(QStringLiteral("Space Shortage"), 2);
        QVERIFY(!p->changeTargetForBDIbyUserCreationOnly(false));
        QCOMPARE(pane.calls, QStringList { QStringLiteral("getNewDICustomMaxSizeInGBByUserTo:40") });
        QCOMPARE(p->DIMaxSizeCustomValue(), 40.0);
        QVERIFY(hasMessage(shell, "Terminated"));

        // "Create New", then a choice that is no folder
        prompts.expectAlert(QStringLiteral("Space Shortage"), 0);
        prompts.expectFolder(t.path() + QStringLiteral("/missing"));
        QVERIFY(!p->changeTargetForBDIbyUserCreationOnly(false));
        QCOMPARE(prompts.pending(), 0);
        QCOMPARE(p->lastStatusString(), QStringLiteral("Ready"));
        QCOMPARE(p->destLocation()->getUnverifiedFullPath(), t.path());
    }

    // The space check of a move counts the blocks the image uses, not its apparent size.
    void moveSpaceCheckCountsAllocatedBlocks()
    {
        TempTree t(QStringLiteral("check"));
        auto p = imageProject(t.path());
        p->setBDI(IDiskImage::createWithBackup(p.get()));
        QVERIFY(t.mkdir("Docs_1234ABCD.sparsebundle"));
        const QString img = t.filePath(std::string("Docs_1234ABCD.sparsebundle/disk.img"));
        const int fd = ::open(NameCodec::encodeStd(img).c_str(), O_WRONLY | O_CREAT, 0644);
        QVERIFY(fd >= 0);
        QVERIFY(::write(fd, "data", 4) == 4 && ::ftruncate(fd, 1LL << 40) == 0); // 1 TiB apparent
        ::close(fd);
        QVERIFY(p->validatorBDICopySelect({}).isNull());
        QVERIFY2(p->validatorBDICopySelect({ t.path() }).isNull(), "a sparse image fits");
    }

    // The image password's keychain item: removed with the project, the keychain left alone
    // when there is none.
    void keychainItem()
    {
        MemoryKeychain keychain;
        auto p = imageProject(QStringLiteral("/nowhere"), 2);
        keychain.items.append({ QStringLiteral("Kelvane Pro 3"), QStringLiteral("OTHER-UUID"),
            ProjectKeychain::itemKind(), QStringLiteral("QV: Other"), QStringLiteral("x") });
        p->removeKeychain();
        QCOMPARE(keychain.items.size(), 1);
        QVERIFY(AGKeychain::addKeychainItem(ProjectKeychain::serviceForName(p->name()),
            ProjectKeychain::itemKind(), kUUID, QStringLiteral("secret")));
        QCOMPARE(keychain.items.last().label, QStringLiteral("QV: Docs"));
        p->removeKeychain();
        QCOMPARE(keychain.items.size(), 1);
        QCOMPARE(keychain.items.first().account, QStringLiteral("OTHER-UUID"));
    }
};

QTEST_GUILESS_MAIN(TestIDiskImage)
#include "tst_idiskimage.moc"
