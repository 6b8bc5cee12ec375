// kv-test: labels=root timeout=600 fixtures=kv_loop_cleanup serial

// A synchronization between two real ext4 volumes: saved and loaded again it is ready to run and
// to analyse; once the destination is remounted read-only it is neither.

#include "../e2e/E2eWorkspace.h"
#include "FakeSyncRunController.h"
#include "RecordingShellServices.h"
#include "TempTree.h"
#include "platform/Subprocess.h"
#include "projects/ILocation.h"
#include "sync/ISynchronContainer.h"
#include "utilities/IVolumeBase.h"

#include <QDir>
#include <QtTest>

using namespace E2e;

class TestSynchronVolumes : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void readOnlyDestinationIsNotReady();
};

void TestSynchronVolumes::readOnlyDestinationIsNotReady()
{
    KV_REQUIRE_ROOT();
    RecordingShellServices shell;
    IShellServices::setShared(&shell);
    TestVolume left, right;
    QVERIFY2(left.make(LoopImage::FsType::Ext4), qPrintable(left.error()));
    QVERIFY2(right.make(LoopImage::FsType::Ext4), qPrintable(right.error()));
    QVERIFY(QDir().mkpath(left.path() + "/docs") && QDir().mkpath(right.path() + "/copy"));
    IVolumeBase::shared().fill();
    QTRY_VERIFY_WITH_TIMEOUT(IVolumeBase::shared().isBaseFilled(), 10000);

    TempTree tree(QStringLiteral("syncvolumes"));
    {
        ISynchronContainer list(std::make_unique<FakeSyncRunController>(), tree.path());
        list.reInit();
        auto p = list.createNewSynchron(QStringLiteral("Volumes"), 0);
        p->setUseAdminPrivileges(false);
        p->setFirstFolder(left.path() + "/docs");
        p->setSecondFolder(right.path() + "/copy");
        QVERIFY(p->firstLocation() && p->secondLocation());
        QVERIFY(!p->firstLocation()->getVolumeUUID().isEmpty());
        QVERIFY(list.save());
    }
    ISynchronContainer list(std::make_unique<FakeSyncRunController>(), tree.path());
    list.reInit();
    const auto p = list.synchronByIndex(0, 0);
    QVERIFY(p);
    QCOMPARE(p->name(), QStringLiteral("Volumes"));
    QCOMPARE(p->firstFolder(), left.path() + "/docs");
    const int ready = p->getReady();
    QVERIFY2((ready & 4) && (ready & 8), qPrintable(QString::number(ready)));

    Subprocess::Options o;
    o.program = QStringLiteral("mount");
    o.arguments = QStringList { "-o", "remount,ro", right.path() };
    const Subprocess::Result r = Subprocess::run(o, 60000);
    QVERIFY2(r.succeeded(), r.err.constData());
    IVolumeBase::shared().fill();
    QTRY_VERIFY_WITH_TIMEOUT(IVolumeBase::shared().isBaseFilled(), 10000);
    p->secondLocation()->reset();
    const int after = p->getReady();
    QVERIFY2(!(after & 4) && !(after & 8), qPrintable(QString::number(after)));
    IShellServices::setShared(nullptr);
}

QTEST_MAIN(TestSynchronVolumes)
#include "tst_synchronvolumes.moc"
