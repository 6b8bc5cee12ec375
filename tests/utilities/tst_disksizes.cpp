// kv-test: labels=root timeout=300 fixtures=kv_loop_cleanup
#include "KvTest.h"
#include "LoopImage.h"
#include "TempTree.h"
#include "utilities/IFolderUtil.h"
#include "utilities/VolumeSizes.h"

#include <QFile>
#include <fcntl.h>
#include <unistd.h>

// Volume figures from statvfs, folder sizes from the lstat walk and from du.
class TestDiskSizes : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void figuresFromBlocks();
    void folderWalk();
    void sizeOnDiskFallsBackToBytes();
    void loopVolumeAgreesWithDf();
};

void TestDiskSizes::figuresFromBlocks()
{
    DiskFacts::Space s;
    s.ok = true;
    s.blockSize = 512;
    s.blocks = 2000000;
    s.freeBlocks = 1000000;
    s.availableBlocks = 999999;
    qint64 total = 0, used = 0, avail = 0;
    volumeSizesFromSpace(s, &total, &used, &avail);
    QCOMPARE(total, 1024);
    QCOMPARE(used, 512);
    QCOMPARE(avail, 511); // truncated
    QCOMPARE(IFolderUtil::parseIntFromData(QByteArray::fromHex("0100")), quint64(256));
    qint64 usedMB = 0;
    QVERIFY(!getUsedSize(QStringLiteral("nonexistent9s256"), &usedMB, nullptr));
    QCOMPARE(usedMB, -1);
}

void TestDiskSizes::folderWalk()
{
    TempTree tree(QStringLiteral("sizes"));
    QVERIFY(tree.writeFile(std::string("it's a file"), QByteArray(1000, 'x')));
    QVERIFY(tree.hardlink("it's a file", "hard link"));
    QVERIFY(tree.symlink("it's a file", "symlink"));
    QVERIFY(tree.mkdir("sub folder"));
    const std::string sparse = tree.filePathStd("sub folder/sparse");
    const int fd = ::open(sparse.c_str(), O_CREAT | O_WRONLY, 0644);
    QVERIFY(fd >= 0 && ::ftruncate(fd, 1 << 20) == 0);
    ::close(fd);
    struct stat root, sub;
    QVERIFY(::lstat(tree.filePathStd("sub folder").c_str(), &sub) == 0);
    // Apparent sizes: the hard link counts again, the symlink adds nothing, the sparse file
    // counts its length, folders their own size.
    const quint64 expected = 1000 + 1000 + quint64(sub.st_size) + (1u << 20);
    QCOMPARE(IFolderUtil::getFolderSize(tree.path()), expected);
    QCOMPARE(IFolderUtil::getFolderSize(tree.path()), expected);
    QCOMPARE(IFolderUtil::folderSize(tree.path() + QLatin1Char('/')), expected);
    QCOMPARE(IFolderUtil::getFolderSize(tree.filePath(QStringLiteral("missing"))), quint64(0));
    Q_UNUSED(root);
    const quint64 onDisk = IFolderUtil::getSizeOnDisk(tree.path());
    QVERIFY(onDisk > 0 && onDisk % 1024 == 0); // du's kilobytes, as bytes
}

void TestDiskSizes::sizeOnDiskFallsBackToBytes()
{
    KV_REQUIRE_ROOT();
    TempTree tree(QStringLiteral("dufail"));
    QVERIFY(tree.writeFile(std::string("readable"), QByteArray(777, 'r')));
    QVERIFY(tree.mkdir("closed", 0700));
    QVERIFY(tree.writeFile(std::string("closed/secret"), QByteArray(5, 's')));
    ::chmod(tree.pathStd().c_str(), 0755);
    // As another user du cannot read "closed" and fails; the walk's bytes answer instead.
    QVERIFY(::seteuid(65534) == 0);
    const quint64 size = IFolderUtil::getSizeOnDisk(tree.path());
    const quint64 walked = IFolderUtil::getFolderSize(tree.path());
    QVERIFY(::seteuid(0) == 0);
    QCOMPARE(size, walked);
    QVERIFY(size >= 777 && size % 1024 != 0);
}

void TestDiskSizes::loopVolumeAgreesWithDf()
{
    KV_REQUIRE_ROOT();
    LoopImage img;
    QVERIFY2(img.make(LoopImage::FsType::Ext4, 100), qPrintable(img.errorString()));
    QFile f(img.mountPoint() + QStringLiteral("/ten"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(10 * 1000 * 1000, 'z'));
    f.close();
    ::sync();
    QString out;
    QVERIFY(LoopImage::runTool(QStringLiteral("df"), { "-P", "-B512", "--", img.mountPoint() }, &out));
    const QStringList fields = out.split(QLatin1Char('\n')).value(1).simplified().split(QLatin1Char(' '));
    qint64 total = 0, used = 0, avail = 0;
    duUpdateVolumeSizeInfo(img.mountPoint(), &total, &used, &avail);
    QCOMPARE(total, fields.value(1).toLongLong() * 512 / 1000000);
    QCOMPARE(used, fields.value(2).toLongLong() * 512 / 1000000);
    QCOMPARE(avail, fields.value(3).toLongLong() * 512 / 1000000);
    QVERIFY(used >= 10);
}

QTEST_GUILESS_MAIN(TestDiskSizes)
#include "tst_disksizes.moc"
