// kv-test: labels=root timeout=300 fixtures=kv_loop_cleanup

#include "FakeBackup3Engine.h"
#include "KvTest.h"
#include "LoopImage.h"
#include "RecordingBackup3Controller.h"
#include "RecordingShellServices.h"
#include "TempTree.h"
#include "platform/DiskFacts.h"
#include "platform/MountWatcher.h"
#include "snapshot/IBackup3.h"
#include "snapshot/IBackup3Container.h"

#include <QtTest>
#include <cstdlib>

// A real volume mount queues exactly the projects bound to it: the mount watcher's callback is
// connected to the list's mount check, as the shell does.
class TestB3MountTrigger : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void mountQueuesTheBoundProjects();
};

void TestB3MountTrigger::mountQueuesTheBoundProjects()
{
    KV_REQUIRE_ROOT();
    LoopImage image;
    QVERIFY2(image.createImage(LoopImage::FsType::Ext4), qPrintable(image.errorString()));
    QVERIFY2(image.attach(), qPrintable(image.errorString()));
    const QString uuid = DiskFacts::probeDevice(image.deviceName()).uuid;
    QVERIFY(!uuid.isEmpty());

    RecordingBackup3Controller pane;
    RecordingShellServices shell;
    Backup3ControllerScope paneScope(&pane);
    ShellServicesScope shellScope(&shell);
    TempTree tree(QStringLiteral("b3mount"));
    auto engine = std::make_unique<FakeBackup3Engine>();
    FakeBackup3Engine* fake = engine.get();
    IBackup3Container list(std::move(engine), tree.filePath(QStringLiteral("Projects.plist")));

    auto place = [](const QString& mountPoint, const QString& inner, qint64 type, bool removable,
                     const QString& volumeUUID, qint64 tag) {
        return QVariantMap { { "URL", "-" }, { "PathFromMountPoint", inner }, { "DisplayName", "stick" },
            { "VolumeUUID", volumeUUID }, { "MountPoint", mountPoint }, { "DeviceType", type },
            { "Automount", false }, { "Tag", tag }, { "Removable", removable } };
    };
    // destination on the start volume; source on the USB stick
    auto make = [&](const QString& name, bool onStick, bool onMount, bool scheduled,
                    bool failed) -> std::shared_ptr<IBackup3> {
        auto p = list.createNewBackup3(name);
        QVariantMap d;
        p->saveToDict(d);
        d.insert(QStringLiteral("Destination"), place("/", tree.path().mid(1), 0, false, "-", -1));
        d.insert(QStringLiteral("Sources"),
            QVariantList {
                place("/mnt/stick", "/Docs", 1, true, onStick ? uuid : QStringLiteral("0000-OTHER"), 1) });
        p->loadFromDict(d, 1);
        p->setProcessOnMount(onMount);
        p->setScheduled(scheduled);
        p->setLastProcessFailed(failed);
        return p;
    };
    auto bound = make(QStringLiteral("bound"), true, true, false, false);
    auto boundFailed = make(QStringLiteral("scheduled, last run failed"), true, true, true, true);
    auto boundScheduled = make(QStringLiteral("scheduled, last run fine"), true, true, true, false);
    auto notOnMount = make(QStringLiteral("no run on mount"), true, false, false, false);
    auto other = make(QStringLiteral("other volume"), false, true, false, false);

    MountWatcher watcher;
    QStringList queuedFor;
    connect(&watcher, &MountWatcher::mounted, &list, [&](const MountEntry& entry) {
        if (list.checkNeedBackupingOnMount(entry.mountPoint))
            queuedFor << entry.mountPoint;
    });

    char templ[] = "/mnt/qvtest-XXXXXX";
    QVERIFY(::mkdtemp(templ));
    const QString mountPoint = QString::fromLatin1(templ);
    // unmounted and removed even when a check fails, before the image is released
    struct MountGuard
    {
        QString path;
        bool mounted = false;
        ~MountGuard()
        {
            if (mounted)
                LoopImage::runTool(QStringLiteral("umount"), { path });
            ::rmdir(path.toLocal8Bit().constData());
        }
    } guard { mountPoint };
    QString output;
    QVERIFY2(LoopImage::runTool(QStringLiteral("mount"), { image.device(), mountPoint }, &output),
        qPrintable(output));
    guard.mounted = true;
    QTRY_VERIFY_WITH_TIMEOUT(!queuedFor.isEmpty(), 20000);

    QCOMPARE(queuedFor, QStringList { mountPoint });
    QCOMPARE(list.processingList(), (QList<std::shared_ptr<IBackup3>> { bound, boundFailed }));
    for (const auto& p : { bound, boundFailed })
        QVERIFY(p->isProcessingBySchedule() && p->isInState(IBackup3::OpQueued)
            && !p->processingCodeString().isEmpty());
    for (const auto& p : { boundScheduled, notOnMount, other })
        QVERIFY(!p->isInProcess());
    // the pane's timer then starts the queue: one at a time, in list order
    list.processNext();
    QCOMPARE(fake->started.size(), 1);
    QCOMPARE(fake->started.at(0).project, bound);
    // the agent is told the volume of the bound projects
    QVERIFY(list.getVolumeUUIDListForStartOnMountEvent().contains(uuid));
}

QTEST_GUILESS_MAIN(TestB3MountTrigger)
#include "tst_b3mounttrigger.moc"
