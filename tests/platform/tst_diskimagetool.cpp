// kv-test: labels=root timeout=600 fixtures=kv_loop_cleanup serial
#include "KvTest.h"
#include "LoopImage.h"
#include "platform/DiskImageTool.h"
#include "platform/MountInfo.h"
#include "platform/NameCodec.h"
#include "platform/PlistBridge.h"

#include <QtTest>
#include <filesystem>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

bool isMounted(const QString& mountPoint)
{
    for (const MountEntry& m : MountInfo::read())
        if (m.mountPoint == mountPoint)
            return true;
    return false;
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

qint64 volumeBytes(const QString& path)
{
    struct statvfs vfs;
    return ::statvfs(path.toLocal8Bit().constData(), &vfs) == 0 ? qint64(vfs.f_blocks) * qint64(vfs.f_frsize)
                                                                : -1;
}

qint64 fileSize(const QString& path)
{
    struct stat st;
    return ::stat(path.toLocal8Bit().constData(), &st) == 0 ? qint64(st.st_size) : -1;
}

} // namespace

// Sparse-bundle images on loop devices: made, attached once, written, detached without a trace;
// encrypted images keep names and contents unreadable without the password; resizing keeps files.
class TestDiskImageTool : public QObject
{
    Q_OBJECT

    QString m_root; // bundles and the media folder, under the loop-cleanup folder

    QString bundle(const QString& name) const
    {
        return m_root + QStringLiteral("/") + name + QStringLiteral(".sparsebundle");
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!KvTest::isRoot())
            return;
        QDir().mkpath(LoopImage::loopRoot());
        QByteArray templ = (LoopImage::loopRoot() + QStringLiteral("/images-XXXXXX")).toLocal8Bit();
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

    void plainImage_data()
    {
        QTest::addColumn<int>("fs");
        QTest::addColumn<double>("sizeGB");
        QTest::addColumn<QString>("fsType");
        QTest::newRow("ext4") << int(DiskImageTool::FileSystem::MacExtended) << 0.1 << QStringLiteral("ext4");
        QTest::newRow("btrfs") << int(DiskImageTool::FileSystem::Apfs) << 0.3 << QStringLiteral("btrfs");
    }
    void plainImage()
    {
        KV_REQUIRE_ROOT();
        QFETCH(int, fs);
        QFETCH(double, sizeGB);
        QFETCH(QString, fsType);
        const QString path = bundle(QStringLiteral("Docs plain ") + fsType);
        DiskImageTool tool;
        QString comment;
        const QString uuid
            = tool.create(path, QStringLiteral("Docs"), sizeGB, DiskImageTool::FileSystem(fs), {}, &comment);
        QVERIFY2(!uuid.isEmpty(), qPrintable(comment));
        QVERIFY(!DiskImageTool::attachment(path)); // made detached
        const auto info = tool.imageInfo(path);
        QVERIFY(info);
        QCOMPARE(info->fileSystem, fsType);
        QCOMPARE(info->partitionUUID, uuid);
        QVERIFY(!info->encrypted);
        QCOMPARE(info->sizeBytes, qint64(sizeGB * 1e9) / 4096 * 4096);
        struct stat st;
        QVERIFY(::stat(DiskImageTool::imageFilePath(path).toLocal8Bit().constData(), &st) == 0);
        QVERIFY(qint64(st.st_blocks) * 512 < st.st_size / 2); // sparse

        const QString mountPoint = tool.attach(path, {}, false, &comment);
        QVERIFY2(!mountPoint.isEmpty(), qPrintable(comment));
        QCOMPARE(mountPoint, DiskImageTool::mediaFolder() + QStringLiteral("/Docs plain ") + fsType);
        QVERIFY(isMounted(mountPoint));
        const auto first = DiskImageTool::attachment(path);
        QVERIFY(first);
        QVERIFY(first->device.startsWith(QStringLiteral("/dev/loop")));
        QCOMPARE(DiskImageTool::imagePathForMountPoint(mountPoint), path);
        const QString data = DiskImageTool::contentPath(mountPoint);
        QVERIFY(writeFile(data + QStringLiteral("/note.txt"), "kept"));

        // attaching again gives the same mount on the same device, never a second one
        QCOMPARE(tool.attach(path, {}, false, &comment), mountPoint);
        QCOMPARE(DiskImageTool::attachment(path)->device, first->device);
        int devices = 0;
        for (const auto& a : DiskImageTool::attachedImages())
            devices += a.imagePath == path ? 1 : 0;
        QCOMPARE(devices, 1);

        QVERIFY2(tool.detach(path, &comment), qPrintable(comment));
        QVERIFY(!DiskImageTool::attachment(path));
        QVERIFY(!isMounted(mountPoint));
        QVERIFY(!QFileInfo::exists(mountPoint));
        QVERIFY(!QFileInfo::exists(
            QStringLiteral("/sys/block/") + first->device.mid(5) + QStringLiteral("/loop")));

        // a second attach finds the file; detaching by mount point works as well
        const QString again = tool.attach(path, {}, false, &comment);
        QVERIFY2(!again.isEmpty(), qPrintable(comment));
        QCOMPARE(
            readFile(DiskImageTool::contentPath(again) + QStringLiteral("/note.txt")), QByteArray("kept"));
        QVERIFY2(tool.detach(again, &comment), qPrintable(comment));
        QVERIFY(!DiskImageTool::attachment(path));
    }

    // A mount point in use by something else gets " 1"; a read-only attachment refuses writers.
    void mountPointClashAndReadOnly()
    {
        KV_REQUIRE_ROOT();
        const QString path = bundle(QStringLiteral("Clash"));
        DiskImageTool tool;
        QString comment;
        QVERIFY2(!tool.create(path, QStringLiteral("Clash"), 0.05, DiskImageTool::FileSystem::MacExtended, {},
                          &comment)
                      .isEmpty(),
            qPrintable(comment));
        const QString taken = DiskImageTool::mediaFolder() + QStringLiteral("/Clash");
        QVERIFY(QDir().mkpath(taken));
        QVERIFY(writeFile(taken + QStringLiteral("/other"), "x"));
        const QString mountPoint = tool.attach(path, {}, true, &comment);
        QVERIFY2(!mountPoint.isEmpty(), qPrintable(comment));
        QCOMPARE(mountPoint, taken + QStringLiteral(" 1"));
        QCOMPARE(readFile(taken + QStringLiteral("/other")), QByteArray("x"));
        QVERIFY(tool.attach(path, {}, false, &comment).isEmpty());
        QCOMPARE(tool.lastFailure(), DiskImageTool::Failure::Busy);
        QVERIFY2(tool.detach(path, &comment), qPrintable(comment));
        QVERIFY(!DiskImageTool::attachment(path));
    }

    void encryptedImage()
    {
        KV_REQUIRE_ROOT();
        const QString path = bundle(QStringLiteral("encr_Docs_1234ABCD"));
        const QByteArray password = "correct horse";
        const QByteArray secretName = "kvsecret-file-name-4242.txt";
        const QByteArray secretContent = QByteArray("kvsecret-content-").repeated(300);
        DiskImageTool tool;
        QString comment;
        // asking for btrfs still gives ext4: only ext4 carries the file system's own encryption
        QVERIFY2(!tool.create(path, QStringLiteral("Docs"), 0.05, DiskImageTool::FileSystem::Apfs, password,
                          &comment)
                      .isEmpty(),
            qPrintable(comment));
        QCOMPARE(tool.imageInfo(path)->fileSystem, QStringLiteral("ext4"));
        QVERIFY(tool.imageInfo(path)->encrypted);
        // the password is nowhere in the metadata
        QVERIFY(!fileContains(DiskImageTool::infoFilePath(path), password));

        for (const QByteArray& wrong : { QByteArray(), QByteArray("correct horsE") }) {
            QVERIFY(tool.attach(path, wrong, false, &comment).isEmpty());
            QCOMPARE(tool.lastFailure(), DiskImageTool::Failure::WrongPassword);
            QVERIFY(!DiskImageTool::attachment(path)); // nothing attached on the way
        }

        QString mountPoint = tool.attach(path, password, false, &comment);
        QVERIFY2(!mountPoint.isEmpty(), qPrintable(comment));
        QVERIFY(writeFile(
            DiskImageTool::contentPath(mountPoint) + QLatin1Char('/') + QString::fromLatin1(secretName),
            secretContent));
        QVERIFY2(tool.detach(path, &comment), qPrintable(comment));

        const QString image = DiskImageTool::imageFilePath(path);
        QVERIFY(!fileContains(image, secretName));
        QVERIFY(!fileContains(image, "kvsecret-content-kvsecret-content-"));

        mountPoint = tool.attach(path, password, false, &comment);
        QVERIFY2(!mountPoint.isEmpty(), qPrintable(comment));
        QCOMPARE(readFile(DiskImageTool::contentPath(mountPoint) + QLatin1Char('/')
                     + QString::fromLatin1(secretName)),
            secretContent);
        QVERIFY2(tool.detach(path, &comment), qPrintable(comment));

        // a password change rewraps the key only: the old one fails, the new one opens the same data
        const QByteArray imageBefore = QByteArray::number(fileSize(image));
        QVERIFY(!tool.changePassword(path, "not it", "new secret", &comment));
        QCOMPARE(tool.lastFailure(), DiskImageTool::Failure::WrongPassword);
        QVERIFY2(tool.changePassword(path, password, "new secret", &comment), qPrintable(comment));
        QVERIFY(tool.attach(path, password, false, &comment).isEmpty());
        QCOMPARE(tool.lastFailure(), DiskImageTool::Failure::WrongPassword);
        mountPoint = tool.attach(path, "new secret", false, &comment);
        QVERIFY2(!mountPoint.isEmpty(), qPrintable(comment));
        QCOMPARE(readFile(DiskImageTool::contentPath(mountPoint) + QLatin1Char('/')
                     + QString::fromLatin1(secretName)),
            secretContent);
        QVERIFY2(tool.detach(path, &comment), qPrintable(comment));
        QCOMPARE(QByteArray::number(fileSize(image)), imageBefore);
        QVERIFY(!DiskImageTool::attachment(path));
    }

    void resize_data()
    {
        QTest::addColumn<int>("fs");
        QTest::addColumn<double>("smallGB");
        QTest::addColumn<double>("largeGB");
        QTest::newRow("ext4") << int(DiskImageTool::FileSystem::MacExtended) << 0.1 << 0.3;
        QTest::newRow("btrfs") << int(DiskImageTool::FileSystem::Apfs) << 0.3 << 0.5;
    }
    void resize()
    {
        KV_REQUIRE_ROOT();
        QFETCH(int, fs);
        QFETCH(double, smallGB);
        QFETCH(double, largeGB);
        const QString path = bundle(QStringLiteral("Resize ") + QString::fromLatin1(QTest::currentDataTag()));
        DiskImageTool tool;
        QString comment;
        QVERIFY2(
            !tool.create(path, QStringLiteral("Resize"), smallGB, DiskImageTool::FileSystem(fs), {}, &comment)
                 .isEmpty(),
            qPrintable(comment));
        QString mountPoint = tool.attach(path, {}, false, &comment);
        QVERIFY2(!mountPoint.isEmpty(), qPrintable(comment));
        const qint64 before = volumeBytes(mountPoint);
        QVERIFY(writeFile(
            DiskImageTool::contentPath(mountPoint) + QStringLiteral("/keep.bin"), QByteArray(100000, 'k')));

        // attached images are resized only after a detach
        QVERIFY(!tool.resize(path, {}, largeGB, &comment));
        QCOMPARE(tool.lastFailure(), DiskImageTool::Failure::Busy);
        QVERIFY2(tool.detach(path, &comment), qPrintable(comment));

        QVERIFY2(tool.resize(path, {}, largeGB, &comment), qPrintable(comment));
        QCOMPARE(fileSize(DiskImageTool::imageFilePath(path)), qint64(largeGB * 1e9) / 4096 * 4096);
        mountPoint = tool.attach(path, {}, false, &comment);
        QVERIFY2(!mountPoint.isEmpty(), qPrintable(comment));
        QVERIFY(volumeBytes(mountPoint) > before + qint64((largeGB - smallGB) * 1e9 / 2));
        QVERIFY2(tool.detach(path, &comment), qPrintable(comment));

        quint64 minS = 0, curS = 0, maxS = 0;
        QVERIFY2(tool.sizeLimits(path, {}, &minS, &curS, &maxS, &comment), qPrintable(comment));
        QCOMPARE(curS, quint64(fileSize(DiskImageTool::imageFilePath(path)) / 512));
        QVERIFY(minS > 0 && minS <= curS && curS < maxS);
        QVERIFY(!DiskImageTool::attachment(path)); // the limits left nothing attached

        QVERIFY2(tool.resize(path, {}, smallGB, &comment), qPrintable(comment));
        QCOMPARE(fileSize(DiskImageTool::imageFilePath(path)), qint64(smallGB * 1e9) / 4096 * 4096);
        mountPoint = tool.attach(path, {}, false, &comment);
        QVERIFY2(!mountPoint.isEmpty(), qPrintable(comment));
        QCOMPARE(readFile(DiskImageTool::contentPath(mountPoint) + QStringLiteral("/keep.bin")),
            QByteArray(100000, 'k'));
        QVERIFY2(tool.detach(path, &comment), qPrintable(comment));

        // below what the file system can hold: refused, the image unchanged
        QVERIFY(!tool.resize(path, {}, 0.01, &comment));
        QVERIFY(!comment.isEmpty());
        QCOMPARE(fileSize(DiskImageTool::imageFilePath(path)), qint64(smallGB * 1e9) / 4096 * 4096);
        QVERIFY(!tool.attach(path, {}, false, &comment).isEmpty());
        QVERIFY(tool.detach(path, &comment));
    }

    // Broken bundles fail with a clear reason, are never rewritten, and leave nothing attached.
    void badBundles()
    {
        KV_REQUIRE_ROOT();
        DiskImageTool tool;
        QString comment;
        const QString path = bundle(QStringLiteral("Broken"));
        QVERIFY(!tool.create(path, QStringLiteral("Broken"), 0.05, DiskImageTool::FileSystem::MacExtended, {},
                         &comment)
                     .isEmpty());

        QVERIFY(tool.attach(bundle(QStringLiteral("Nowhere")), {}, false, &comment).isEmpty());
        QCOMPARE(tool.lastFailure(), DiskImageTool::Failure::Missing);

        const QString info = DiskImageTool::infoFilePath(path);
        const QByteArray original = readFile(info);
        QVERIFY(writeFile(info, "<plist><dict><key>fs"));
        QVERIFY(tool.attach(path, {}, false, &comment).isEmpty());
        QCOMPARE(tool.lastFailure(), DiskImageTool::Failure::BadMetadata);
        QVERIFY(!comment.isEmpty());
        QCOMPARE(readFile(info), QByteArray("<plist><dict><key>fs"));
        QVERIFY(QFile::remove(info));
        QVERIFY(tool.attach(path, {}, false, &comment).isEmpty());
        QCOMPARE(tool.lastFailure(), DiskImageTool::Failure::BadMetadata);
        QVERIFY(!DiskImageTool::attachment(path));
        QVERIFY(writeFile(info, original));
        QVERIFY(!tool.attach(path, {}, false, &comment).isEmpty());
        QVERIFY(tool.detach(path, &comment));

        // a create that fails leaves no half-made bundle; an existing bundle is never replaced
        const QString tiny = bundle(QStringLiteral("Tiny"));
        QVERIFY(tool.create(tiny, QStringLiteral("Tiny"), 0.05, DiskImageTool::FileSystem::Apfs, {}, &comment)
                    .isEmpty());
        QVERIFY(!comment.isEmpty());
        QVERIFY(!QFileInfo::exists(tiny));
        if (MountInfo::mountEntryForPath(m_root)->fsType == QLatin1String("ext4")) {
            // ext4 cannot hold a 16 TiB file
            QVERIFY(tool.create(tiny, QStringLiteral("Tiny"), 18000, DiskImageTool::FileSystem::MacExtended,
                            {}, &comment)
                        .isEmpty());
            QVERIFY(!comment.isEmpty());
            QVERIFY(!QFileInfo::exists(tiny));
        }
        QVERIFY(tool.create(path, QStringLiteral("Broken"), 0.05, DiskImageTool::FileSystem::MacExtended, {},
                        &comment)
                    .isEmpty());
        QCOMPARE(readFile(info), original);
    }
};

QTEST_GUILESS_MAIN(TestDiskImageTool)
#include "tst_diskimagetool.moc"
