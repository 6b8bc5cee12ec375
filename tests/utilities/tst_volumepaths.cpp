// kv-test: labels=root timeout=300 fixtures=kv_loop_cleanup serial
#include "KvTest.h"
#include "LoopImage.h"
#include "platform/NameCodec.h"
#include "platform/Trash.h"
#include "utilities/FileOps.h"
#include "utilities/IPathUtil.h"

#include <QtTest>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QByteArray readBytes(const QByteArray& path)
{
    QByteArray data(4096, 0);
    const int fd = ::open(path.constData(), O_RDONLY);
    if (fd < 0)
        return QByteArray();
    data.resize(::read(fd, data.data(), data.size()));
    ::close(fd);
    return data;
}
} // namespace

// Path helpers on real volumes.
class TestVolumePaths : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // A file on another file system goes to that volume's own trash, <top>/.Trash-<uid> (0700),
    // with Path= relative to the volume's top folder.
    void volumeTrash()
    {
        KV_REQUIRE_ROOT();
        LoopImage image;
        QVERIFY2(image.make(LoopImage::FsType::Ext4), qPrintable(image.errorString()));
        const QByteArray top = NameCodec::encode(image.mountPoint());
        const QByteArray folder = top + "/dir \xfe";
        QVERIFY(::mkdir(folder.constData(), 0755) == 0);
        const QByteArray file = folder + "/name \xff";
        const int fd = ::open(file.constData(), O_WRONLY | O_CREAT, 0644);
        QVERIFY(fd >= 0);
        ::close(fd);

        QString error;
        QVERIFY2(Trash::moveToTrash(file, &error), qPrintable(error));
        const QByteArray trash = top + "/.Trash-" + QByteArray::number(::geteuid());
        struct stat st;
        QVERIFY(::lstat(trash.constData(), &st) == 0);
        QCOMPARE(st.st_mode & 0777, 0700u);
        QVERIFY(::lstat(QByteArray(trash + "/files/name \xff").constData(), &st) == 0);
        const QByteArray info = readBytes(trash + "/info/name \xff.trashinfo");
        const QByteArray encoded = info.split('\n').value(1).mid(5);
        QCOMPARE(QByteArray::fromPercentEncoding(encoded), QByteArray("dir \xfe/name \xff"));
        QVERIFY(::lstat(file.constData(), &st) != 0);

        // A folder goes whole.
        QVERIFY(Trash::moveToTrash(folder, &error));
        QVERIFY(::lstat(QByteArray(trash + "/files/dir \xfe").constData(), &st) == 0 && S_ISDIR(st.st_mode));
    }

    // The hard-link probe answers YES on the file systems that stand for the Mac ones.
    void hardLinkProbe_data()
    {
        QTest::addColumn<int>("type");
        QTest::newRow("ext4") << int(LoopImage::FsType::Ext4);
        QTest::newRow("btrfs") << int(LoopImage::FsType::Btrfs);
    }

    void hardLinkProbe()
    {
        KV_REQUIRE_ROOT();
        QFETCH(int, type);
        LoopImage image;
        QVERIFY2(image.make(LoopImage::FsType(type)), qPrintable(image.errorString()));
        QString comment = QStringLiteral("x");
        QVERIFY(IPathUtil::isFolderSupportHardLinks(image.mountPoint(), &comment));
        QVERIFY(comment.isNull());
        QCOMPARE(
            IPathUtil::mountPointForPath(image.mountPoint() + QStringLiteral("/a/b")), image.mountPoint());
    }
};

QTEST_GUILESS_MAIN(TestVolumePaths)
#include "tst_volumepaths.moc"
