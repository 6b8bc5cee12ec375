// kv-test: labels=unit,root timeout=600 env=TZ=Europe/Berlin fixtures=kv_loop_cleanup
#include "KvTest.h"
#include "LoopImage.h"
#include "ScriptedClock.h"
#include "TempTree.h"
#include "platform/BtrfsVolumeModel.h"
#include "platform/NameCodec.h"
#include "platform/Subprocess.h"
#include "projects/ILocation.h"
#include "projects/IProject.h"
#include "projects/ISnapshot.h"

#include <QtTest>
#include <sys/stat.h>

namespace {

class TwoPlaces : public IProject
{
public:
    ILocation first, second;
    ILocation* sourceLocationForPass(long) const override { return const_cast<ILocation*>(&first); }
    ILocation* destLocationForPass(long) const override { return const_cast<ILocation*>(&second); }
};

} // namespace

// Snapshot names, and the listing of a volume's read-only snapshots in .qvsnapshots.
class TestSnapshotNames : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void names_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("name");
        QTest::newRow("1") << 1 << "com.brisoltica.qv::ASRIncrementalClone::2024-03-02_14-05-09";
        QTest::newRow("0") << 0 << "com.brisoltica.qv::Unknown::2024-03-02_14-05-09";
        QTest::newRow("2") << 2 << "com.brisoltica.qv::Unknown::2024-03-02_14-05-09";
    }
    void names()
    {
        QFETCH(int, type);
        QFETCH(QString, name);
        ScriptedClock clock(QDateTime(QDate(2024, 3, 2), QTime(14, 5, 9)));
        QCOMPARE(ISnapshot::generateSnapshotName(type), name);
    }

    void notBtrfsGivesNone()
    {
        TempTree t;
        QVERIFY(!ISnapshot::getSnapshotListForMountPoint(t.path()).has_value());
        QVERIFY(!ISnapshot::getSnapshotListForMountPoint(t.filePath(std::string("missing"))).has_value());
    }

    // Root builds the volume; the listing also works for an unprivileged user.
    void listsEverySnapshot()
    {
        KV_REQUIRE_ROOT();
        LoopImage image;
        QVERIFY2(image.make(LoopImage::FsType::Btrfs), qPrintable(image.errorString()));
        const QString top = image.mountPoint();
        QVERIFY(BtrfsVolumeModel::createSubvolume(top + "/vol").ok());
        const std::optional<quint64> id = BtrfsVolumeModel::subvolumeId(top + "/vol");
        QVERIFY(id.has_value());
        LoopImage::runTool("chmod", { "0755", top });
        const QString volume = top + "-vol";
        QVERIFY(QDir().mkpath(volume));
        QString out;
        QVERIFY2(LoopImage::runTool(
                     "mount", { "-o", QStringLiteral("subvolid=%1").arg(*id), image.device(), volume }, &out),
            qPrintable(out));
        auto cleanup = qScopeGuard([&] {
            LoopImage::runTool("umount", { volume });
            QDir().rmdir(volume);
        });
        QVERIFY(!ISnapshot::getSnapshotListForMountPoint(volume).has_value()); // none yet
        QStringList expected;
        for (int i = 0; i < 300; ++i) {
            const QString name
                = QStringLiteral("com.brisoltica.qv::ASRIncrementalClone::2024-03-02_14-%1-%2_%3")
                      .arg(i / 60, 2, 10, QChar('0'))
                      .arg(i % 60, 2, 10, QChar('0'))
                      .arg(QString(120, QChar('x')));
            QVERIFY(BtrfsVolumeModel::createSnapshot(volume, name).ok());
            expected << name;
        }
        QVERIFY(QDir().mkpath(volume + "/.qvsnapshots/plain folder"));
        QVERIFY(BtrfsVolumeModel::createSubvolume(volume + "/.qvsnapshots/writable").ok());
        expected.sort();
        const std::optional<QStringList> list = ISnapshot::getSnapshotListForMountPoint(volume);
        QVERIFY(list.has_value());
        QCOMPARE(*list, expected);

        // The same as an unprivileged user.
        TempTree bin(QStringLiteral("bin"));
        QVERIFY(::chmod(bin.pathStd().c_str(), 0755) == 0);
        const QString copy = bin.filePath(std::string("tst_snapshotnames"));
        QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), copy));
        QVERIFY(::chmod(NameCodec::encode(copy).constData(), 0755) == 0);
        Subprocess::Options o;
        o.program = QStringLiteral("setpriv");
        o.arguments = QStringList { "--reuid=65534", "--regid=65534", "--clear-groups", copy, "childLists" };
        o.environment.insert("KV_CHILD_VOLUME", volume);
        o.environment.insert("HOME", "/tmp");
        o.workingDirectory = QStringLiteral("/");
        const Subprocess::Result r = Subprocess::run(o, 120000);
        QVERIFY2(r.succeeded(), QByteArray(r.out + r.err).constData());
        QVERIFY(r.out.contains("PASS   : TestSnapshotNames::childLists()"));

        // One volume with the snapshot, then both; deleting leaves everything in place.
        LoopImage other;
        QVERIFY2(other.make(LoopImage::FsType::Btrfs), qPrintable(other.errorString()));
        TwoPlaces project;
        project.first.setMountPoint(volume);
        project.second.setMountPoint(other.mountPoint());
        const QString name = expected.first();
        QVERIFY(!ISnapshot::isActualSnapshotByName(name, &project));
        QVERIFY(BtrfsVolumeModel::createSnapshot(other.mountPoint(), name).ok());
        QVERIFY(ISnapshot::isActualSnapshotByName(name, &project));
        QVERIFY(ISnapshot::deleteSnapshotByName(name, &project));
        QVERIFY(ISnapshot::isActualSnapshotByName(name, &project));
        QCOMPARE(ISnapshot::getSnapshotListForMountPoint(volume)->size(), 300);
    }
    void childLists()
    {
        const QByteArray volume = qgetenv("KV_CHILD_VOLUME");
        if (volume.isEmpty())
            QSKIP("runs as the unprivileged child of listsEverySnapshot");
        QCOMPARE(::geteuid(), uid_t(65534));
        const std::optional<QStringList> list
            = ISnapshot::getSnapshotListForMountPoint(QString::fromUtf8(volume));
        QVERIFY(list.has_value());
        QCOMPARE(list->size(), 300);
    }
};

QTEST_GUILESS_MAIN(TestSnapshotNames)
#include "tst_snapshotnames.moc"
