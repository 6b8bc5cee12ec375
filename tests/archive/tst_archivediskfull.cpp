// kv-test: labels=root timeout=300 fixtures=kv_loop_cleanup
// Archive runs against file systems that fill up, and restores as root: a full destination
// fails the build without touching the older archive, split's disk-full line and the stage
// statuses reach the controller, and an in-place restore puts back content, modes and owners.
#include "ArchiveDriverRun.h"
#include "KvTest.h"
#include "LoopImage.h"
#include "PrivateBus.h"
#include "ScopedMount.h"
#include "TempTree.h"
#include "archive/CBackupTaskDesc.h"
#include "archive/IBackup.h"
#include "archive/ITaskWrapperARCH.h"
#include "platform/NameCodec.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Run = ArchiveDriverRun;

Run driver(const QString& workspace, const QStringList& args, const QByteArray& input = QByteArray())
{
    return runArchiveDriver(QStringList { QStringLiteral("--workspace"), workspace } + args, input);
}

QByteArray noise(int size, int seed)
{
    QByteArray data(size, '\0');
    quint32 x = quint32(seed) * 2654435761u + 1;
    for (int i = 0; i < size; ++i) {
        x = x * 1664525u + 1013904223u;
        data[i] = char(x >> 24);
    }
    return data;
}

// Every file below folder (relative name -> size).
QMap<QString, qint64> filesBelow(const QString& folder)
{
    QMap<QString, qint64> out;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString f = it.next();
        out.insert(f.mid(folder.size()), QFileInfo(f).size());
    }
    return out;
}

struct Owner
{
    uid_t uid;
    gid_t gid;
    mode_t mode;
    bool operator==(const Owner&) const = default;
};

Owner ownerOf(const QString& path)
{
    struct stat st = {};
    ::lstat(NameCodec::encode(path).constData(), &st);
    return { st.st_uid, st.st_gid, mode_t(st.st_mode & 07777) };
}

} // namespace

class TestArchiveDiskFull : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<PrivateBus> m_bus; // split restores talk to the cat tool on it

private slots:
    void initTestCase()
    {
        if (::geteuid() != 0)
            QSKIP("needs root (loop devices and mounts)");
        m_bus = std::make_unique<PrivateBus>();
        QVERIFY2(m_bus->isValid(), qPrintable(m_bus->errorString()));
    }
    void cleanupTestCase() { m_bus.reset(); }

    // tar -cz | openssl | split into a 64 KiB tmpfs: split fails with "No space left on device",
    // openssl and tar follow, and the controller sees the statuses "2 1 1" and the line.
    void splitIntoFullTmpfs()
    {
        ScopedMount tmpfs;
        const QString dir = LoopImage::loopRoot() + QStringLiteral("/tmpfs-%1").arg(::getpid());
        QVERIFY2(tmpfs.mount({ QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                 QStringLiteral("size=64k"), QStringLiteral("tmpfs") },
                     dir),
            qPrintable(tmpfs.errorString()));
        TempTree tree;
        tree.writeFile(std::string("src/noise"), noise(600000, 3));

        CBackupTaskDesc task;
        task.operation = CBackupTaskDesc::OpBuild;
        task.stages = {
            { QStringLiteral("/usr/bin/tar"), QStringLiteral("-czvvf"), QStringLiteral("-"),
                tree.filePath(QStringLiteral("src")) },
            { QStringLiteral("/usr/bin/openssl"), QStringLiteral("aes-256-cbc"), QStringLiteral("-salt"),
                QStringLiteral("-md"), QStringLiteral("md5"), QStringLiteral("-pass"),
                QStringLiteral("env:QV_ARCH_PASS") },
            { QStringLiteral("/usr/bin/split"), QStringLiteral("-b"), QStringLiteral("1000000"),
                QStringLiteral("-a"), QStringLiteral("3"), QStringLiteral("-"), dir + QStringLiteral("/a.") },
        };
        IBackup controller(nullptr);
        auto runner = std::make_shared<ITaskWrapperARCH>(task.stages, QStringLiteral("pw"));
        std::mutex m;
        QList<QByteArray> lines;
        ArchiveJobEnd end;
        int ends = 0;
        QString error;
        QVERIFY2(runner->start(
                     [&](const QByteArray& line) {
                         controller.classifyLine(line);
                         std::lock_guard<std::mutex> lock(m);
                         lines << line;
                     },
                     [&](const ArchiveJobEnd& e) {
                         end = e;
                         ++ends;
                     },
                     &error),
            qPrintable(error));
        QTRY_VERIFY_WITH_TIMEOUT(ends == 1, 30000);
        QCOMPARE(end.statuses, (QList<int> { 2, 1, 1 }));
        bool noSpace = false;
        for (const QByteArray& l : lines)
            noSpace = noSpace || (l.contains("split") && l.contains("No space left on device"));
        QVERIFY2(noSpace, lines.join('\n').constData());
        QVERIFY(controller.endStatusFor(task, end) & 0x2);
    }

    // A 1 MiB ext4 destination: the first small archive fits; a build that fills the disk (in
    // tar's own output, and in split's) fails with exit 1, leaves no piece of itself and keeps
    // the older archive registered and in place.
    void fullDestination_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::newRow("tar writes the archive") << QStringList();
        QTest::newRow("encrypted and split")
            << QStringList { QStringLiteral("--cipher"), QStringLiteral("aes256"), QStringLiteral("--split-kb"),
                   QStringLiteral("300") };
    }
    void fullDestination()
    {
        QFETCH(QStringList, options);
        LoopImage image;
        QVERIFY2(image.make(LoopImage::FsType::Ext4, 1), qPrintable(image.errorString()));
        const QString dest = image.mountPoint() + QStringLiteral("/dest");
        QVERIFY(QDir().mkpath(dest));
        TempTree tree;
        tree.writeFile(std::string("src/small.txt"), "small\n");
        tree.mkdir("ws/Backups");
        const QString ws = tree.filePath(QStringLiteral("ws"));
        Run r = driver(ws,
            QStringList { QStringLiteral("--new"), QStringLiteral("Full"), QStringLiteral("--source"),
                tree.filePath(QStringLiteral("src")), QStringLiteral("--dest"), dest, QStringLiteral("--method"),
                QStringLiteral("full") }
                + options);
        QVERIFY2(r.code == 0, r.err.constData());
        const QByteArray password = "p w$\"'\\\n";
        r = driver(ws, { QStringLiteral("--project"), QStringLiteral("Full"), QStringLiteral("--password-stdin") },
            password);
        QVERIFY2(r.code == 0, QByteArray(r.last + "\n" + r.err).constData());
        const QMap<QString, qint64> older = filesBelow(dest);
        QVERIFY(!older.isEmpty());

        QTest::qWait(1100); // archive names carry the second
        tree.writeFile(std::string("src/noise.bin"), noise(3 * 1024 * 1024, 5));
        r = driver(ws, { QStringLiteral("--project"), QStringLiteral("Full"), QStringLiteral("--password-stdin") },
            password);
        QVERIFY2(r.code == 1, QByteArray(r.last + "\n" + r.err).constData());
        QVERIFY2(r.last.startsWith("1 - ") && r.last.contains("has failed"), r.last.constData());
        // tar says "Wrote only N of M bytes" when its own write falls short, split names ENOSPC.
        QVERIFY2(r.err.contains("No space left on device") || r.err.contains("Wrote only"), r.err.constData());
        QCOMPARE(filesBelow(dest), older);
        // Still one archive in the list: the older one is restorable.
        const QString out = tree.filePath(QStringLiteral("out"));
        r = driver(ws,
            { QStringLiteral("--project"), QStringLiteral("Full"), QStringLiteral("--password-stdin"),
                QStringLiteral("--restore"), QStringLiteral("--to"), out },
            password);
        QVERIFY2(r.code == 0, QByteArray(r.last + "\n" + r.err).constData());
        QFile small(out + tree.filePath(QStringLiteral("src/small.txt")));
        QVERIFY(small.open(QIODevice::ReadOnly));
        QCOMPARE(small.readAll(), QByteArray("small\n"));
        QVERIFY(!QFileInfo::exists(out + tree.filePath(QStringLiteral("src/noise.bin"))));
    }

    // Run as root, an in-place restore puts back the content, the modes and the owners of files
    // that belong to other users, over changed files.
    void inPlaceRestoreKeepsOwners()
    {
        TempTree tree(QStringLiteral("owners"));
        QVERIFY(::chmod(tree.pathStd().c_str(), 0755) == 0);
        tree.writeFile(std::string("src/a.txt"), "alpha\n", 0640);
        tree.writeFile(std::string("src/sub/b.bin"), noise(70000, 9), 0600);
        tree.mkdir("src/shared", 02775);
        tree.writeFile(std::string("src/shared/c.txt"), "gamma\n", 0664);
        tree.mkdir("dest");
        tree.mkdir("ws/Backups");
        const QString src = tree.filePath(QStringLiteral("src"));
        QCOMPARE(::chown(NameCodec::encode(src + "/a.txt").constData(), 4242, 4343), 0);
        QCOMPARE(::chown(NameCodec::encode(src + "/sub/b.bin").constData(), 4244, 4244), 0);
        QCOMPARE(::chown(NameCodec::encode(src + "/shared").constData(), 0, 4343), 0);
        QCOMPARE(::chmod(NameCodec::encode(src + "/shared").constData(), 02775), 0);
        QCOMPARE(::chown(NameCodec::encode(src + "/shared/c.txt").constData(), 4242, 4343), 0);
        const QStringList paths { src + "/a.txt", src + "/sub/b.bin", src + "/shared", src + "/shared/c.txt" };
        QList<Owner> before;
        for (const QString& p : paths)
            before << ownerOf(p);

        const QString ws = tree.filePath(QStringLiteral("ws"));
        Run r = driver(ws,
            { QStringLiteral("--new"), QStringLiteral("O"), QStringLiteral("--source"), src,
                QStringLiteral("--dest"), tree.filePath(QStringLiteral("dest")), QStringLiteral("--compress") });
        QVERIFY2(r.code == 0, r.err.constData());
        r = driver(ws, { QStringLiteral("--project"), QStringLiteral("O") });
        QVERIFY2(r.code == 0, QByteArray(r.last + "\n" + r.err).constData());

        // Changed content, owners and modes; one file gone.
        tree.writeFile(std::string("src/a.txt"), "changed\n", 0644);
        QCOMPARE(::chown(NameCodec::encode(src + "/a.txt").constData(), 0, 0), 0);
        QCOMPARE(::chmod(NameCodec::encode(src + "/a.txt").constData(), 0666), 0);
        QCOMPARE(::chown(NameCodec::encode(src + "/shared").constData(), 0, 0), 0);
        QVERIFY(QFile::remove(src + "/sub/b.bin"));

        r = driver(ws, { QStringLiteral("--project"), QStringLiteral("O"), QStringLiteral("--restore"),
                           QStringLiteral("--in-place") });
        QVERIFY2(r.code == 0, QByteArray(r.last + "\n" + r.err).constData());
        QCOMPARE(tree.readFile("src/a.txt"), QByteArray("alpha\n"));
        QCOMPARE(tree.readFile("src/sub/b.bin"), noise(70000, 9));
        for (qsizetype i = 0; i < paths.size(); ++i) {
            const Owner now = ownerOf(paths[i]);
            QVERIFY2(now == before[i],
                qPrintable(QStringLiteral("%1: %2:%3 %4, expected %5:%6 %7")
                               .arg(paths[i])
                               .arg(now.uid)
                               .arg(now.gid)
                               .arg(now.mode, 0, 8)
                               .arg(before[i].uid)
                               .arg(before[i].gid)
                               .arg(before[i].mode, 0, 8)));
        }
        // Nothing moved aside is left behind.
        QDirIterator it(src, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            QVERIFY2(!it.next().contains(QLatin1String(".~kvr")), qPrintable(it.filePath()));
    }
};

QTEST_GUILESS_MAIN(TestArchiveDiskFull)
#include "tst_archivediskfull.moc"
