// kv-test: labels=root timeout=600 fixtures=kv_loop_cleanup serial

// kv-run-project --kit sync onto real volumes whose destination cannot take the copy: a full
// volume and a volume remounted read-only both end as failures, never as a success.

#include "../e2e/E2eWorkspace.h"
#include "FakeSyncRunController.h"
#include "KvTest.h"
#include "TempTree.h"
#include "platform/Subprocess.h"
#include "sync/ISynchron.h"
#include "sync/ISynchronContainer.h"
#include "utilities/IVolumeBase.h"

#include <QDir>
#include <QtTest>

using namespace E2e;

class TestSyncDestinations : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void destinationThatCannotTakeTheCopy_data();
    void destinationThatCannotTakeTheCopy();
    void cloneBetweenTwoVolumes();
};

void TestSyncDestinations::destinationThatCannotTakeTheCopy_data()
{
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<QString>("stderrLine");
    QTest::newRow("full") << false << "Not enough space on Destination";
    QTest::newRow("remounted read-only") << true << "mkdir";
}

void TestSyncDestinations::destinationThatCannotTakeTheCopy()
{
    QFETCH(bool, readOnly);
    QFETCH(QString, stderrLine);
    KV_REQUIRE_ROOT();
    TestVolume left, right;
    QVERIFY2(left.make(LoopImage::FsType::Ext4, 64), qPrintable(left.error()));
    QVERIFY2(right.make(LoopImage::FsType::Ext4, 16), qPrintable(right.error()));
    QVERIFY(QDir().mkpath(left.path() + "/docs/sub") && QDir().mkpath(right.path() + "/copy"));
    // 20 MB of data that does not compress or sparsify.
    {
        QFile f(left.path() + "/docs/sub/big");
        QVERIFY(f.open(QIODevice::WriteOnly));
        QByteArray block(1 << 20, '\0');
        for (int i = 0; i < 20; ++i) {
            for (int j = 0; j < block.size(); ++j)
                block[j] = char((i * 7919 + j * 31 + (j >> 8)) & 0xff);
            f.write(block);
        }
    }
    IVolumeBase::shared().fill();
    QTRY_VERIFY_WITH_TIMEOUT(IVolumeBase::shared().isBaseFilled(), 10000);
    TempTree tree(QStringLiteral("syncdest"));
    {
        ISynchronContainer list(std::make_unique<FakeSyncRunController>(), tree.path());
        list.reInit();
        auto p = list.createNewSynchron(QStringLiteral("Volumes"), 0);
        p->setUseAdminPrivileges(false);
        p->setFirstFolder(left.path() + "/docs");
        p->setSecondFolder(right.path() + "/copy");
        QVERIFY(list.save());
    }
    if (readOnly) {
        Subprocess::Options o;
        o.program = QStringLiteral("mount");
        o.arguments = QStringList { "-o", "remount,ro", right.path() };
        const Subprocess::Result r = Subprocess::run(o, 60000);
        QVERIFY2(r.succeeded(), r.err.constData());
    }
    QProcess p;
    p.start(KvTest::appContentsDir() + QStringLiteral("/MacOS/kv-run-project"),
        { "--workspace", tree.path(), "--kit", "sync", "--project", "Volumes", "--scheduled", "--timeout", "120" });
    QVERIFY(p.waitForFinished(180000));
    const QByteArray out = p.readAllStandardOutput(), err = p.readAllStandardError();
    const QList<QByteArray> lines = out.trimmed().split('\n');
    QCOMPARE(QString::fromUtf8(lines.last()), QStringLiteral("1 - Synchronize failed."));
    QCOMPARE(p.exitCode(), 1);
    QVERIFY2(err.contains(stderrLine.toUtf8()), err.constData());
}

// A clone between two plain ext4 volumes (not bootable: no boot steps) through the driver: the
// verdict is printed, the start warning is confirmed, the copy is complete and the system lists'
// entries stay out.
void TestSyncDestinations::cloneBetweenTwoVolumes()
{
    KV_REQUIRE_ROOT();
    TestVolume left, right;
    QVERIFY2(left.make(LoopImage::FsType::Ext4), qPrintable(left.error()));
    QVERIFY2(right.make(LoopImage::FsType::Ext4), qPrintable(right.error()));
    QVERIFY(QDir().mkpath(left.path() + "/etc/deep"));
    {
        QFile f(left.path() + "/etc/deep/file");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("content");
    }
    QVERIFY(QFile::link(QStringLiteral("deep/file"), left.path() + "/etc/link"));
    IVolumeBase::shared().fill();
    QTRY_VERIFY_WITH_TIMEOUT(IVolumeBase::shared().isBaseFilled(), 10000);
    TempTree tree(QStringLiteral("clonedest"));
    {
        ISynchronContainer list(std::make_unique<FakeSyncRunController>(), tree.path());
        list.reInit();
        auto p = list.createNewSynchron(QStringLiteral("Copy"), 1);
        p->setFirstFolder(left.path());
        p->setSecondFolder(right.path());
        p->setStartCloningWarnDialog(true);
        QVERIFY(list.save());
    }
    auto run = [&tree](const QStringList& extra) {
        QProcess p;
        p.start(KvTest::appContentsDir() + QStringLiteral("/MacOS/kv-run-project"),
            QStringList { "--workspace", tree.path(), "--kit", "clone", "--project", "Copy", "--timeout", "120" }
                + extra);
        p.waitForFinished(180000);
        return qMakePair(p.exitCode(), p.readAllStandardOutput());
    };
    const auto refused = run({});
    QCOMPARE(refused.first, 4);
    QVERIFY2(refused.second.trimmed().endsWith("4 - Not confirmed"), refused.second.constData());
    QVERIFY(!QFileInfo::exists(right.path() + "/etc"));

    const auto done = run({ "--confirm" });
    QVERIFY2(done.second.contains("verdict: "), done.second.constData());
    QVERIFY2(done.second.trimmed().endsWith("0 - Cloning was successful."), done.second.constData());
    QCOMPARE(done.first, 0);
    QFile copied(right.path() + "/etc/deep/file");
    QVERIFY(copied.open(QIODevice::ReadOnly));
    QCOMPARE(copied.readAll(), QByteArray("content"));
    QVERIFY(QFileInfo(right.path() + "/etc/link").isSymLink());
}

QTEST_MAIN(TestSyncDestinations)
#include "tst_syncdestinations.moc"
