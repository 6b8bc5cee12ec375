// kv-test: labels=root,gui timeout=600 fixtures=kv_loop_cleanup serial

#include "CopierWindowTest.h"
#include "KvTest.h"
#include "LoopImage.h"
#include "RecordingBackup3Controller.h"
#include "RecordingShellServices.h"
#include "Screenshot.h"
#include "ScriptedUiPrompts.h"
#include "TempTree.h"
#include "WhenOpen.h"
#include "platform/DiskImageTool.h"
#include "platform/MountInfo.h"
#include "platform/NameCodec.h"
#include "platform/PlistBridge.h"
#include "projects/ILocation.h"
#include "shell/dialogs/IFileCopierController.h"
#include "shell/dialogs/ILocationDialog.h"
#include "shell/dialogs/WidgetUiPrompts.h"
#include "snapshot/Backup3VersionList.h"
#include "snapshot/IBackup3.h"
#include "snapshot/IBackup3Container.h"
#include "snapshot/IBackup3Processor.h"
#include "utilities/IVolumeBase.h"

#include <QDirIterator>
#include <QtTest>
#include <QtWidgets>
#include <fcntl.h>
#include <unistd.h>

namespace {
bool makeSparse(const QString& path, qint64 size, qint64 dataBytes)
{
    const int fd = ::open(NameCodec::encodeStd(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    QByteArray block(1024 * 1024, 'k');
    bool ok = true;
    for (qint64 done = 0; ok && done < dataBytes; done += block.size())
        ok = ::write(fd, block.constData(), size_t(block.size())) == block.size();
    ok = ok && ::ftruncate(fd, size) == 0;
    ::close(fd);
    return ok;
}

bool isMounted(const QString& device)
{
    for (const MountEntry& e : MountInfo::read())
        if (e.source == device)
            return true;
    return false;
}

} // namespace

// The windows against real volumes: the copier's window with the real rsync into a small ext4
// volume, and the wait for a volume ended by a real mount.
class TestDialogsRoot : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { Screenshot::fixConditions(); }

    void copySparseBundleToSmallVolume()
    {
        KV_REQUIRE_ROOT();
        LoopImage volume;
        QVERIFY2(volume.make(LoopImage::FsType::Ext4, 64), qPrintable(volume.errorString()));
        TempTree tree(QStringLiteral("bundle"));
        QVERIFY(tree.mkdir("Docs.sparsebundle"));
        const QString image = tree.filePath(std::string("Docs.sparsebundle/disk.img"));
        QVERIFY(makeSparse(image, 2LL * 1024 * 1024 * 1024, 2 * 1024 * 1024));
        const QString target = volume.mountPoint() + QStringLiteral("/Docs.sparsebundle");

        IFileCopierController window;
        IFileCopierWindow::setShared(&window);
        whenCopied([](IFileCopierController* w) { w->okButton()->click(); });
        QString comment;
        const bool copied
            = IFileCopier::copyFilesWithSources({ tree.filePath(std::string("Docs.sparsebundle")) }, { 0 },
                { target }, QString(), QString(), &comment);
        IFileCopierWindow::setShared(nullptr);
        QVERIFY2(copied, qPrintable(comment));
        QString out;
        QVERIFY2(
            LoopImage::runTool(QStringLiteral("cmp"), { image, target + QStringLiteral("/disk.img") }, &out),
            qPrintable(out));
        const quint64 allocated = IFileCopier::allocatedSizeOfFile(target);
        QVERIFY2(allocated < 4 * 1024 * 1024, qPrintable(QString::number(allocated))); // about 2 MiB

        // a source larger than the free space: the alert, NO, and the old copy keeps its name
        QVERIFY(makeSparse(
            tree.filePath(std::string("Big.sparsebundle.img")), 80LL * 1024 * 1024, 80LL * 1024 * 1024));
        WidgetUiPrompts prompts;
        UiPrompts::setShared(&prompts);
        QString alert;
        whenOpen<QMessageBox>([&](QMessageBox* box) {
            alert = box->text();
            box->accept();
        });
        IFileCopierWindow::setShared(&window);
        QVERIFY(!IFileCopier::copyFilesWithSources(
            { tree.filePath(std::string("Big.sparsebundle.img")) }, { 0 }, { target }, QString(), QString()));
        IFileCopierWindow::setShared(nullptr);
        UiPrompts::setShared(nullptr);
        QCOMPARE(alert, QStringLiteral("Not enough free space"));
        QVERIFY(QFileInfo::exists(target + QStringLiteral("/disk.img")));
        QVERIFY(!QFileInfo::exists(volume.mountPoint() + QStringLiteral("/Docs.qv_saved.sparsebundle")));
    }

    // Another volume mounted meanwhile leaves the countdown going; the awaited one ends it.
    void waitEndsWithTheMount()
    {
        KV_REQUIRE_ROOT();
        LoopImage volume;
        QVERIFY2(volume.createImage(LoopImage::FsType::Ext4, 32), qPrintable(volume.errorString()));
        QVERIFY2(volume.attach(), qPrintable(volume.errorString()));
        LoopImage other;
        QVERIFY2(other.createImage(LoopImage::FsType::Ext4, 32), qPrintable(other.errorString()));
        QVERIFY2(other.attach(), qPrintable(other.errorString()));
        const QString device = volume.device();
        UiPrompts::VolumeWaitRequest request;
        request.volumeName = QStringLiteral("Backup volume");
        request.isActive = [&] { return isMounted(device); };
        QElapsedTimer sinceMount;
        QString remainingText;
        int remainingAtOther = -1;
        int remainingLater = -1;
        bool endedBeforeAwaited = false;
        whenOpen<ILocationDialog>([&](ILocationDialog* d) {
            // The wait may end only once the awaited volume is mounted.
            QObject::connect(d, &QDialog::finished, d, [&] { endedBeforeAwaited = !sinceMount.isValid(); });
            QTimer::singleShot(300, d, [&, d] {
                QVERIFY2(other.mount(), qPrintable(other.errorString()));
                remainingAtOther = d->remaining();
            });
            // One step after the other: timers of different lengths may fire out of order.
            QTimer::singleShot(2500, d, [&, d] {
                remainingLater = d->remaining();
                remainingText = d->timerLabel()->text();
                Screenshot::save(d, QStringLiteral("controls"), QStringLiteral("location-countdown-root"),
                    QStringLiteral("Waiting for a volume before it is mounted"));
                QVERIFY2(volume.mount(), qPrintable(volume.errorString()));
                sinceMount.start();
            });
        });
        WidgetUiPrompts prompts;
        QCOMPARE(prompts.waitForVolume(request), 1);
        QVERIFY(sinceMount.isValid());
        QVERIFY2(sinceMount.elapsed() < 1500, qPrintable(QString::number(sinceMount.elapsed())));
        QVERIFY(remainingText.contains(QStringLiteral("Remaining:")));
        QVERIFY(isMounted(other.device()));
        QVERIFY(!endedBeforeAwaited);
        QVERIFY2(remainingAtOther > 0 && remainingLater > 0 && remainingLater < remainingAtOther,
            qPrintable(QStringLiteral("%1 then %2").arg(remainingAtOther).arg(remainingLater)));
    }

    // A user start of a snapshot project whose destination volume is not mounted: the engine
    // asks through the registered window, which counts down; the volume is mounted meanwhile,
    // the window closes within about a second and the run makes a version on it.
    void snapshotStartWaitsForItsVolume()
    {
        KV_REQUIRE_ROOT();
        LoopImage volume;
        QVERIFY2(volume.make(LoopImage::FsType::Ext4, 64), qPrintable(volume.errorString()));
        QString uuid;
        QVERIFY(LoopImage::runTool(
            QStringLiteral("blkid"), { "-s", "UUID", "-o", "value", volume.device() }, &uuid));
        if (!IVolumeBase::shared().isBaseFilled())
            IVolumeBase::shared().fill();
        QVERIFY(volume.unmount());

        TempTree tree(QStringLiteral("waitrun"));
        QVERIFY(tree.writeFile(std::string("Src/a.txt"), QByteArray("kept")));
        RecordingBackup3Controller pane;
        RecordingShellServices shell;
        Backup3ControllerScope paneScope(&pane);
        ShellServicesScope shellScope(&shell);
        IBackup3Container list(std::make_unique<IBackup3Processor>(
                                   KvTest::appContentsDir() + QStringLiteral("/Resources/rsync3")),
            tree.filePath(QStringLiteral("Projects.plist")));
        const QString projectUUID = QStringLiteral("5E1F0A00-0000-4000-8000-00000000AA22");
        const QVariantMap source { { "MountPoint", "/" },
            { "PathFromMountPoint", tree.filePath(QStringLiteral("Src")).mid(1) },
            { "DeviceType", qint64(0) }, { "Tag", qint64(1) } };
        const QVariantMap destination { { "MountPoint", volume.mountPoint() }, { "PathFromMountPoint", "" },
            { "VolumeUUID", uuid.trimmed().toUpper() }, { "DisplayName", "Backup volume" },
            { "DeviceType", qint64(1) }, { "Removable", true } };
        const QVariantMap dict { { "Name", "Docs" }, { "ProjectUUID", projectUUID },
            { "FileName", QString(QStringLiteral("Docs_") + projectUUID) }, { "UseAdminPrivileges", false },
            { "Sources", QVariantList { source } }, { "TagForSrcLocations", qint64(1) },
            { "Destination", destination }, { "Schedule", QVariantMap { { "UseScheduled", false } } } };
        QVERIFY(PlistBridge::writeFileAtomically(list.projectsFilePath(),
            QVariantMap { { "Preferences", QVariantMap { { "Backup3PropertyScheme", qint64(1) } } },
                { "Backups3", QVariantList { dict } } }));
        list.load();
        QCOMPARE(list.countOfBackups3(), 1);
        auto project = list.backup3ByIndex(0);

        WidgetUiPrompts prompts;
        UiPrompts::setShared(&prompts);
        QElapsedTimer sinceMount;
        qint64 closedAfter = -1;
        int remainingWhenMounted = 0;
        whenOpen<ILocationDialog>([&](ILocationDialog* d) {
            connect(d, &QDialog::finished, this, [&] {
                if (sinceMount.isValid())
                    closedAfter = sinceMount.elapsed();
            });
            QTimer::singleShot(2200, d, [&, d] {
                remainingWhenMounted = d->timerLabel()
                                           ->text()
                                           .section(QLatin1Char(':'), 1)
                                           .trimmed()
                                           .section(QLatin1Char(' '), 0, 0)
                                           .toInt();
                QVERIFY2(volume.mount(), qPrintable(volume.errorString()));
                sinceMount.start();
            });
        });
        project->setProcessingBySchedule(false);
        list.addBackup3ToProcessingList(project);
        list.processNext();
        QTRY_COMPARE_WITH_TIMEOUT(pane.finishedCodes.size(), 1, 90000);
        UiPrompts::setShared(nullptr);
        QCOMPARE(pane.finishedCodes.last(), 0);
        QVERIFY2(remainingWhenMounted > 0 && remainingWhenMounted < 30,
            qPrintable(QString::number(remainingWhenMounted)));
        QVERIFY(closedAfter >= 0);
        QVERIFY2(closedAfter < 1500, qPrintable(QString::number(closedAfter)));
        const QString folder = volume.mountPoint() + QStringLiteral("/Docs_") + projectUUID;
        const QStringList versions = Backup3VersionList::versionFolders(folder);
        QCOMPARE(versions.size(), 1);
        QFile copy(folder + QLatin1Char('/') + versions.first() + QStringLiteral("/Src.wrp1/Src/a.txt"));
        QVERIFY2(copy.open(QIODevice::ReadOnly), qPrintable(copy.fileName()));
        QCOMPARE(copy.readAll(), QByteArray("kept"));
    }

    // The image's Move after a space shortage, cancelled in the copier's window half-way: the
    // answer is NO, the project keeps its image where it was, and the target holds no partial
    // copy and no rsync temporary file.
    void cancelledImageMove()
    {
        KV_REQUIRE_ROOT();
        LoopImage holding, target;
        QVERIFY2(holding.make(LoopImage::FsType::Ext4, 900), qPrintable(holding.errorString()));
        QVERIFY2(target.make(LoopImage::FsType::Ext4, 1200), qPrintable(target.errorString()));
        IVolumeBase::shared().fill();
        RecordingShellServices shell;
        ShellServicesScope shellScope(&shell);
        const QString projectUUID = QStringLiteral("1234ABCD-0000-1111-2222-333344445555");
        auto p = std::make_shared<IBackup3>();
        p->setName(QStringLiteral("Docs"));
        p->setUUID(projectUUID);
        p->setFileName(IBackup3::defaultFileName(p->name(), projectUUID));
        std::shared_ptr<ILocation> dest(ILocation::create());
        dest->setMountPoint(holding.mountPoint());
        p->setDestLocation(dest);
        p->setBackupTargetType(1);
        const QString bundle = holding.mountPoint() + QStringLiteral("/Docs_1234ABCD.sparsebundle");
        QVERIFY(p->openBDI());
        {
            // enough data that the copy takes a while
            QFile big(p->getBDIContentPath() + QStringLiteral("/data.bin"));
            QVERIFY(big.open(QIODevice::WriteOnly));
            QByteArray block(1 << 20, 'd');
            for (int i = 0; i < 600; ++i) {
                block[0] = char(i);
                QCOMPARE(big.write(block), qint64(block.size()));
            }
        }
        QVERIFY(p->closeBDI());
        QVERIFY(!DiskImageTool::attachment(bundle));
        const QString image = bundle + QStringLiteral("/disk.img");
        const qint64 imageSize = QFileInfo(image).size();
        p->setBDILastWorkingState(5, 0); // as a run leaves it when the image ran full

        const QString to = target.mountPoint() + QStringLiteral("/moved");
        QVERIFY(QDir().mkpath(to));
        ScriptedUiPrompts prompts;
        prompts.expectAlert(QStringLiteral("Space Shortage"), 0); // Move
        prompts.expectFolder(to);
        IFileCopierController window;
        IFileCopierWindow::setShared(&window);
        double cancelledAt = -1;
        whenOpen<IFileCopierController>([&](IFileCopierController* w) {
            auto* poll = new QTimer(w);
            connect(poll, &QTimer::timeout, w, [&, w, poll] {
                const QString text = w->progressLine()->text();
                const double percent
                    = text.section(QLatin1Char(':'), 1).remove(QLatin1Char('%')).trimmed().toDouble();
                if (!w->isCopying() || percent < 5)
                    return;
                poll->stop();
                cancelledAt = percent;
                w->okButton()->click(); // "Cancel"
            });
            poll->start(5);
        });
        const bool moved = p->changeTargetForBDIbyUserCreationOnly(false);
        IFileCopierWindow::setShared(nullptr);
        QStringList messages;
        for (const auto& m : shell.messages())
            messages << QString::fromUtf8(m.text);
        QVERIFY(!moved);
        QVERIFY2(prompts.pending() == 0, qPrintable(messages.join(QLatin1Char('\n'))));
        QVERIFY2(cancelledAt >= 5 && cancelledAt < 100,
            qPrintable(QString::number(cancelledAt) + QLatin1Char('\n') + messages.join(QLatin1Char('\n'))));
        QCOMPARE(p->BDIFolderPath(), holding.mountPoint());
        QCOMPARE(QFileInfo(image).size(), imageSize);
        QStringList left;
        QDirIterator it(to, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
            QDirIterator::Subdirectories);
        while (it.hasNext())
            left << it.next();
        QVERIFY2(left.isEmpty(), qPrintable(left.join(QLatin1Char(' '))));
        // the image still opens where it was
        QVERIFY(p->openBDI());
        QCOMPARE(QFileInfo(p->getBDIContentPath() + QStringLiteral("/data.bin")).size(), qint64(600) << 20);
        QVERIFY(p->closeBDI());
    }
};

QTEST_MAIN(TestDialogsRoot)
#include "tst_dialogs_root.moc"
