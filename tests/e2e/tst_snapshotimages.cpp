// kv-test: labels=root timeout=600 fixtures=kv_loop_cleanup serial

// Snapshot backups into disk images end to end through the headless driver: a plain ext4 image
// the project makes itself, a btrfs image and an encrypted image made beforehand. Each run
// leaves the image detached, and the backup is intact when the image is attached again. An
// encrypted image the project makes itself takes its password from --password-stdin.

#include "E2eWorkspace.h"
#include "TempTree.h"
#include "platform/DiskImageTool.h"
#include "utilities/IPasswordMD5.h"

#include <QFile>
#include <QtTest>

using namespace E2e;

namespace {

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

ino_t inodeOf(const QString& path)
{
    struct stat st = {};
    return statPath(path, &st) ? st.st_ino : 0;
}

// Whether the bytes occur anywhere in the file (read in chunks that overlap by the needle).
bool fileContains(const QString& path, const QByteArray& needle)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    QByteArray carry;
    while (!f.atEnd()) {
        const QByteArray chunk = carry + f.read(8 * 1024 * 1024);
        if (chunk.contains(needle))
            return true;
        carry = chunk.right(needle.size());
    }
    return false;
}

bool anyMountOfImage(const QString& bundle)
{
    for (const auto& a : DiskImageTool::attachedImages())
        if (a.imagePath == bundle)
            return true;
    return DiskImageTool::attachment(bundle).has_value();
}

// Detaches the image when a test ends early, before its holding volume goes.
struct AttachedImageGuard
{
    QString bundle;
    ~AttachedImageGuard()
    {
        if (DiskImageTool::attachment(bundle))
            DiskImageTool().detach(bundle);
    }
};

} // namespace

class TestSnapshotImages : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void backupIntoImage_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("ext4 made by the project") << QStringLiteral("ext4");
        QTest::newRow("btrfs made beforehand") << QStringLiteral("btrfs");
        QTest::newRow("encrypted made beforehand") << QStringLiteral("encrypted");
        // --password-stdin also answers the new-image sheet.
        QTest::newRow("encrypted made by the project") << QStringLiteral("encrypted-new");
    }

    void backupIntoImage()
    {
        KV_REQUIRE_ROOT();
        QFETCH(QString, kind);
        const bool encrypted = kind.startsWith(QLatin1String("encrypted"));
        const bool madeBeforehand = kind == QLatin1String("btrfs") || kind == QLatin1String("encrypted");
        TestVolume volume;
        QVERIFY2(volume.make(LoopImage::FsType::Ext4, 600), qPrintable(volume.error()));
        TempTree tree(QStringLiteral("images"));
        const QByteArray secretName = "kvsecret-name-5150.txt";
        QVERIFY(put(tree, "Docs/same.txt", "unchanged"));
        QVERIFY(put(tree, "Docs/" + secretName.toStdString(), QByteArray("kvsecret-content-").repeated(200)));

        ProjectPlan plan;
        plan.sources = { tree.filePath(std::string("Docs")) };
        plan.destination = volume.path() + "/Backups";
        QVERIFY(QDir().mkpath(plan.destination));
        QVariantMap project = projectDict(plan);
        project.insert(QStringLiteral("UseDiskImage"), qint64(encrypted ? 2 : 1));
        project.insert(QStringLiteral("NewForDestLocation"), false);
        const QString imageName = (encrypted ? QStringLiteral("encr_") : QString()) + plan.name
            + QLatin1Char('_') + plan.uuid.left(8);
        const QString bundle
            = plan.destination + QLatin1Char('/') + imageName + QStringLiteral(".sparsebundle");
        AttachedImageGuard guard { bundle };
        const QByteArray password = "image password";
        if (madeBeforehand) {
            DiskImageTool tool;
            QString comment;
            QVERIFY2(
                !tool.create(bundle, imageName, 0.4,
                         encrypted ? DiskImageTool::FileSystem::MacExtended : DiskImageTool::FileSystem::Apfs,
                         encrypted ? password : QByteArray(), &comment)
                     .isEmpty(),
                qPrintable(comment));
        }
        if (encrypted && madeBeforehand)
            project.insert(QStringLiteral("BackupDiskImage"),
                QVariantMap { { QStringLiteral("PasswordMD5"),
                    IPasswordMD5::createWithPassword(QString::fromUtf8(password))->data() } });
        const QString ws = tree.filePath(std::string("ws"));
        QVERIFY(writeWorkspace(ws, { project }));

        const QStringList extra
            = encrypted ? QStringList { QStringLiteral("--password-stdin") } : QStringList();
        const QByteArray input = encrypted ? password + "\n" : QByteArray();
        const DriverRun first = runDriver(
            QStringList { QStringLiteral("--workspace"), ws, QStringLiteral("--project"), plan.name } + extra,
            300000, input);
        QVERIFY2(first.exitCode == 0, first.log.constData());
        QVERIFY2(!anyMountOfImage(bundle), "the image is detached after the run");
        const DriverRun second = runDriver(
            QStringList { QStringLiteral("--workspace"), ws, QStringLiteral("--project"), plan.name } + extra,
            300000, input);
        QVERIFY2(second.exitCode == 0, second.log.constData());
        QVERIFY(!anyMountOfImage(bundle));
        QVERIFY(QFileInfo::exists(DiskImageTool::imageFilePath(bundle)));

        // nothing readable of the backup in the encrypted image's file
        if (encrypted)
            QVERIFY(!fileContains(DiskImageTool::imageFilePath(bundle), secretName));

        DiskImageTool tool;
        QString comment;
        if (encrypted)
            QVERIFY(tool.attach(bundle, "wrong", false, &comment).isEmpty());
        const QString mountPoint = tool.attach(bundle, encrypted ? password : QByteArray(), true, &comment);
        QVERIFY2(!mountPoint.isEmpty(), qPrintable(comment));
        const QString folder = DiskImageTool::contentPath(mountPoint);
        QCOMPARE(versionFolders(folder), (QStringList { first.version, second.version }));
        QCOMPARE(infoFolders(folder), (QStringList { first.version, second.version }));
        const QString v1 = folder + "/" + first.version, v2 = folder + "/" + second.version;
        QCOMPARE(fileBytes(v2 + "/Docs.wrp1/Docs/same.txt"), QByteArray("unchanged"));
        QCOMPARE(inodeOf(v2 + "/Docs.wrp1/Docs/same.txt"), inodeOf(v1 + "/Docs.wrp1/Docs/same.txt"));
        QVERIFY(inodeOf(v1 + "/Docs.wrp1/Docs/same.txt") != 0);
        QVERIFY2(tool.detach(bundle, &comment), qPrintable(comment));
        QVERIFY(!anyMountOfImage(bundle));
        QVERIFY(!QFileInfo::exists(mountPoint));
    }
};

QTEST_GUILESS_MAIN(TestSnapshotImages)
#include "tst_snapshotimages.moc"
