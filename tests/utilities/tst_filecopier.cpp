// kv-test: labels=unit timeout=120
#include "KvTest.h"
#include "TempTree.h"
#include "platform/AppPaths.h"
#include "platform/NameCodec.h"
#include "utilities/IFileCopier.h"

#include <QtTest>
#include <atomic>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A file of apparent size `size` holding `data` at its start and a hole after it.
bool makeSparse(const QString& path, qint64 size, const QByteArray& data)
{
    const int fd = ::open(NameCodec::encodeStd(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    const bool ok
        = ::write(fd, data.constData(), size_t(data.size())) == data.size() && ::ftruncate(fd, size) == 0;
    ::close(fd);
    return ok;
}

} // namespace

// The copier that moves disk images: sparse copies, the old target kept aside, failures and stops
// reported as failures, and rsync's progress lines read.
class TestFileCopier : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void progressOfLine_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<double>("percent");
        QTest::addColumn<bool>("fileLine");
        QTest::newRow("to-chk 2 of 10")
            << QStringLiteral("  32,768 100%   31.25MB/s    0:00:00 (xfr#3, to-chk=2/10)") << 80.0 << false;
        QTest::newRow("zero transfer number")
            << QStringLiteral("  0 100% 0.00kB/s 0:00:00 (xfr#0, to-chk=2/10)") << -1.0 << false;
        QTest::newRow("intermediate")
            << QStringLiteral("  1,048,576  50%   10.00MB/s    0:00:01") << -1.0 << false;
        QTest::newRow("file name") << QStringLiteral("Docs_1234ABCD.sparsebundle/disk.img") << -1.0 << true;
        QTest::newRow("file name with blanks") << QStringLiteral("a b c d e f") << -1.0 << true;
        QTest::newRow("empty") << QString() << -1.0 << false;
    }
    void progressOfLine()
    {
        QFETCH(QString, line);
        QFETCH(double, percent);
        QFETCH(bool, fileLine);
        bool isFile = !fileLine;
        QCOMPARE(IFileCopier::progressOfLine(line, &isFile), percent);
        QCOMPARE(isFile, fileLine);
    }

    void argumentsKeepHolesAndCopyFolderContent()
    {
        TempTree t(QStringLiteral("args"));
        QVERIFY(t.mkdir("A"));
        const QStringList args = IFileCopier::arguments(t.filePath(std::string("A")), QStringLiteral("/x/B"));
        QVERIFY(args.contains(QStringLiteral("-S")));
        QVERIFY(args.contains(QStringLiteral("--no-inc-recursive")));
        QVERIFY(!args.filter(QStringLiteral("--iconv")).size());
        QCOMPARE(args.mid(args.size() - 2), QStringList({ t.filePath(std::string("A")) + "/", "/x/B" }));
    }

    // A 200 MiB file holding 4 KiB comes out with its hole; the target that was there is kept aside.
    void copyKeepsHolesAndOldTarget()
    {
        TempTree t(QStringLiteral("copy"));
        QVERIFY(t.mkdir("src.sparsebundle") && t.mkdir("to"));
        const QString image = t.filePath(std::string("src.sparsebundle/disk.img"));
        QVERIFY(makeSparse(image, 200LL * 1024 * 1024, QByteArray(4096, 'k')));
        QVERIFY(t.mkdir("to/src.sparsebundle"));
        QVERIFY(t.writeFile(std::string("to/src.sparsebundle/old"), "old"));

        IFileCopier copier;
        QString comment;
        QVERIFY2(copier.copy(t.filePath(std::string("src.sparsebundle")),
                     t.filePath(std::string("to/src.sparsebundle")), &comment),
            qPrintable(comment));
        const QString copied = t.filePath(std::string("to/src.sparsebundle/disk.img"));
        QCOMPARE(IFileCopier::fastSizeOfFile(copied), quint64(200LL * 1024 * 1024));
        QVERIFY2(IFileCopier::allocatedSizeOfFile(copied) < 1024 * 1024,
            qPrintable(QString::number(IFileCopier::allocatedSizeOfFile(copied))));
        QCOMPARE(t.readFile("to/src.qv_saved.sparsebundle/old"), QByteArray("old"));
        QVERIFY(!t.exists("to/src.sparsebundle/old"));
    }

    void failuresAreReported()
    {
        TempTree t(QStringLiteral("fail"));
        IFileCopier copier;
        QString comment;
        QVERIFY(
            !copier.copy(t.filePath(std::string("missing")), t.filePath(std::string("target")), &comment));
        QVERIFY(!comment.isEmpty());
    }

    void stopEndsTheCopyAsFailure()
    {
        TempTree t(QStringLiteral("stop"));
        QVERIFY(t.writeFile(std::string("big"), QByteArray(8 * 1024 * 1024, 'x')));
        IFileCopier copier;
        copier.stop(); // before the start: the copy must not count as done
        QString comment;
        QVERIFY(!copier.copy(t.filePath(std::string("big")), t.filePath(std::string("copy")), &comment));
        QVERIFY(copier.wasStopped());
    }

    void savedNames()
    {
        TempTree t(QStringLiteral("saved"));
        QCOMPARE(IFileCopier::savedNameForFile(QStringLiteral("B"), t.path()), QStringLiteral("B.qv_saved."));
        QVERIFY(t.mkdir("x.qv_saved.sparsebundle"));
        QCOMPARE(IFileCopier::savedNameForFile(QStringLiteral("x.sparsebundle"), t.path()),
            QStringLiteral("x.qv_saved-1.sparsebundle"));
    }

    // rsync's error reaches the failure text whole, even after a progress fragment without a line end.
    void errorAfterProgressFragment()
    {
        TempTree t(QStringLiteral("fragment"));
        QVERIFY(t.mkdir("app/Resources"));
        QVERIFY(t.writeFile(std::string("app/Resources/rsync3"),
            "#!/bin/sh\nprintf '         32,768   1%%   10.42MB/s    0:00:00'\n"
            "echo 'rsync: [receiver] write failed on \"/t/f1\": No space left on device (28)' >&2\n"
            "echo 'rsync error: error in file IO (code 11) at receiver.c(401) [receiver=3.2.7]' >&2\n"
            "exit 11\n",
            0755));
        QVERIFY(t.writeFile(std::string("src"), "x"));
        AppPaths::setContentsDirOverride(t.filePath(std::string("app")));
        IFileCopier copier;
        QString comment;
        const bool ok = copier.copy(t.filePath(std::string("src")), t.filePath(std::string("dst")), &comment);
        AppPaths::setContentsDirOverride(QString());
        QVERIFY(!ok);
        QVERIFY2(comment.contains(QStringLiteral(
                     "rsync: [receiver] write failed on \"/t/f1\": No space left on device (28)")),
            qPrintable(comment));
        QVERIFY2(comment.contains(QStringLiteral("(code 11)")), qPrintable(comment));
        QVERIFY(!comment.contains(QStringLiteral("10.42MB/s")));
    }

    void relativePathsRefused()
    {
        IFileCopier copier;
        QString comment;
        QVERIFY(!copier.copy(QStringLiteral("host:src"), QStringLiteral("/tmp/x"), &comment));
        QVERIFY(!comment.isEmpty());
    }

    // A stop half-way leaves no temporary file of rsync's in the target folder.
    void stopLeavesNoTemporaryFile()
    {
        TempTree t(QStringLiteral("stoptmp"));
        QVERIFY(t.mkdir("to"));
        {
            QFile big(t.filePath(std::string("disk.img")));
            QVERIFY(big.open(QIODevice::WriteOnly));
            const QByteArray block(1024 * 1024, 'd');
            for (int i = 0; i < 400; ++i)
                QVERIFY(big.write(block) == block.size());
        }
        IFileCopier copier;
        std::atomic<bool> started { false };
        copier.setProgressHandler([&](double, const QString&) { started = true; });
        QTimer::singleShot(0, [&] {
            // stop once rsync has written part of the file
            auto* poll = new QTimer;
            QObject::connect(poll, &QTimer::timeout, [&, poll] {
                const auto names = t.list("to");
                if (!names.empty() || started) {
                    copier.stop();
                    poll->deleteLater();
                }
            });
            poll->start(5);
        });
        QString comment;
        QVERIFY(!copier.copy(
            t.filePath(std::string("disk.img")), t.filePath(std::string("to/disk.img")), &comment));
        QVERIFY(copier.wasStopped());
        for (const std::string& name : t.list("to"))
            QVERIFY2(name.rfind(".disk.img.", 0) != 0, name.c_str());
    }
};

QTEST_GUILESS_MAIN(TestFileCopier)
#include "tst_filecopier.moc"
