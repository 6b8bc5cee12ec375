// kv-test: labels=root,dbus timeout=600 fixtures=kv_loop_cleanup
// Disc projects built and burned through kv-run-project onto stdio: drives: a split archive on a
// disc comes back byte for byte from the extracted disc; a burn onto a disc that is too small
// fails, keeps the archives in the named work folder and counts no archive as backed up; a
// rewritable disc holding data is overwritten.
#include "ArchiveDriverRun.h"
#include "KvTest.h"
#include "LoopImage.h"
#include "PrivateBus.h"
#include "TempTree.h"
#include "platform/NameCodec.h"

#include <QDir>
#include <QDirIterator>
#include <QRandomGenerator>
#include <QtTest>
#include <memory>

namespace {

QByteArray noise(qsizetype size, quint32 seed)
{
    QRandomGenerator gen(seed);
    QByteArray b(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        b[i] = char(gen.bounded(256));
    return b;
}

bool extract(const QString& drive, const QString& folder, QString* out)
{
    return LoopImage::runTool(QStringLiteral("/usr/bin/xorriso"),
        { QStringLiteral("-osirrox"), QStringLiteral("on"), QStringLiteral("-indev"), drive,
            QStringLiteral("-extract"), QStringLiteral("/"), folder },
        out, 120000);
}

bool sameTree(const QString& a, const QString& b, QString* out)
{
    return LoopImage::runTool(QStringLiteral("diff"), { QStringLiteral("-r"), a, b }, out);
}

} // namespace

class TestDiscBurn : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<PrivateBus> m_bus;

    // A workspace, a temporary folder and a settings home of the test's own.
    struct Setup
    {
        TempTree tree { QStringLiteral("discburn") };
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        QString ws;
        Setup()
        {
            tree.mkdir("ws/Backups");
            tree.mkdir("tmp");
            tree.mkdir("config");
            env.insert(QStringLiteral("TMPDIR"), tree.filePath(QStringLiteral("tmp")));
            env.insert(QStringLiteral("XDG_CONFIG_HOME"), tree.filePath(QStringLiteral("config")));
            ws = tree.filePath(QStringLiteral("ws"));
        }
        ArchiveDriverRun run(const QStringList& args)
        {
            return runArchiveDriver(QStringList { QStringLiteral("--workspace"), ws } + args, {}, env);
        }
        QStringList workFolders() const
        {
            return QDir(tree.filePath(QStringLiteral("tmp")))
                .entryList({ QStringLiteral("kelvane-burn-*") }, QDir::Dirs);
        }
    };

private slots:
    void initTestCase()
    {
        if (!KvTest::isRoot())
            QSKIP("loop devices need root");
        m_bus = std::make_unique<PrivateBus>();
        QVERIFY2(m_bus->isValid(), qPrintable(m_bus->errorString()));
    }
    void cleanupTestCase() { m_bus.reset(); }

    // Compressed and split at 1,000 kB: every volume reaches the disc, the work folder goes, and
    // a restore that finds the volumes in the extracted disc folder gives the files back.
    void splitArchiveOnADiscRestores()
    {
        Setup s;
        QVERIFY(s.tree.writeFile(std::string("src/big.bin"), noise(2500000, 3)));
        QVERIFY(s.tree.writeFile(std::string("src/-odd [*] \xE9.txt"), "odd\n"));
        ArchiveDriverRun r = s.run({ QStringLiteral("--new"), QStringLiteral("Disc"), QStringLiteral("--source"),
            s.tree.filePath(QStringLiteral("src")), QStringLiteral("--dest-disc"), QStringLiteral("--compress"),
            QStringLiteral("--split-kb"), QStringLiteral("1000") });
        QVERIFY2(r.code == 0, r.last.constData());
        const QString iso = s.tree.filePath(QStringLiteral("disc.iso"));
        r = s.run({ QStringLiteral("--project"), QStringLiteral("Disc"), QStringLiteral("--burn-drive"),
            QStringLiteral("stdio:") + iso });
        QVERIFY2(r.code == 0, QByteArray(r.last + '\n' + r.err).constData());
        QCOMPARE(s.workFolders().size(), 0);

        const QString disc = s.tree.filePath(QStringLiteral("disc"));
        QString out;
        QVERIFY2(extract(QStringLiteral("stdio:") + iso, disc, &out), qPrintable(out));
        QStringList volumes;
        for (QDirIterator it(disc, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();)
            volumes << it.next();
        // The volumes of 1,000 kB (at least three) lie together in the project's folder.
        QVERIFY2(volumes.size() >= 3, qPrintable(volumes.join(QLatin1Char(' '))));
        const QString volumeDir = QFileInfo(volumes.last()).path();
        r = s.run({ QStringLiteral("--project"), QStringLiteral("Disc"), QStringLiteral("--restore"),
            QStringLiteral("--to"), s.tree.filePath(QStringLiteral("out")), QStringLiteral("--volume-dir"), volumeDir });
        QVERIFY2(r.code == 0, QByteArray(r.last + '\n' + r.err).constData());
        QVERIFY2(sameTree(s.tree.filePath(QStringLiteral("src")),
                     s.tree.filePath(QStringLiteral("out")) + s.tree.filePath(QStringLiteral("src")), &out),
            qPrintable(out));
    }

    // 6 MiB of random data, split at 2,000 kB, over two blank 5 MiB discs: each disc written
    // once, each extracted, and the volumes of both restore the source, odd names included.
    void splitOverTwoDiscs()
    {
        Setup s;
        QVERIFY(s.tree.writeFile(std::string("src/random.bin"), noise(6 * 1024 * 1024, 7)));
        QVERIFY(s.tree.writeFile(std::string("src/-star*\xE9 [x]?.txt"), "odd name\n"));
        LoopImage discs[2];
        for (LoopImage& d : discs) {
            QVERIFY2(d.createImage(LoopImage::FsType::Raw, 5), qPrintable(d.errorString()));
            QVERIFY2(d.attach(), qPrintable(d.errorString()));
        }
        ArchiveDriverRun r = s.run({ QStringLiteral("--new"), QStringLiteral("Two"), QStringLiteral("--source"),
            s.tree.filePath(QStringLiteral("src")), QStringLiteral("--dest-disc"), QStringLiteral("--split-kb"),
            QStringLiteral("2000") });
        QVERIFY2(r.code == 0, r.last.constData());
        r = s.run({ QStringLiteral("--project"), QStringLiteral("Two"), QStringLiteral("--burn-drive"),
            QStringLiteral("stdio:") + discs[0].device(), QStringLiteral("--burn-drive"),
            QStringLiteral("stdio:") + discs[1].device() });
        QVERIFY2(r.code == 0, QByteArray(r.last + '\n' + r.err).constData());
        QVERIFY2(r.err.contains(QByteArray("burn: disc 1 stdio:" + discs[0].device().toUtf8() + ' ')), r.err.constData());
        QVERIFY2(r.err.contains(QByteArray("burn: disc 2 stdio:" + discs[1].device().toUtf8() + ' ')), r.err.constData());
        QVERIFY(r.err.contains("timing: burn "));
        QVERIFY(!r.err.contains("burn: left"));
        QCOMPARE(s.workFolders().size(), 0);

        QStringList restoreArgs { QStringLiteral("--project"), QStringLiteral("Two"), QStringLiteral("--restore"),
            QStringLiteral("--to"), s.tree.filePath(QStringLiteral("out")) };
        for (int i = 0; i < 2; ++i) {
            const QString folder = s.tree.filePath(QStringLiteral("disc%1").arg(i + 1));
            QString out;
            QVERIFY2(extract(QStringLiteral("stdio:") + discs[i].device(), folder, &out), qPrintable(out));
            // The volumes lie in the project's folder on each disc.
            QDirIterator it(folder, QDir::Dirs | QDir::NoDotAndDotDot);
            restoreArgs << QStringLiteral("--volume-dir") << (it.hasNext() ? it.next() : folder);
        }
        r = s.run(restoreArgs);
        QVERIFY2(r.code == 0, QByteArray(r.last + '\n' + r.err).constData());
        QString out;
        QVERIFY2(sameTree(s.tree.filePath(QStringLiteral("src")),
                     s.tree.filePath(QStringLiteral("out")) + s.tree.filePath(QStringLiteral("src")), &out),
            qPrintable(out));
        QVERIFY(s.tree.exists("out" + s.tree.filePathStd("src").substr(0) + "/-star*\xE9 [x]?.txt"));
    }

    // The same 6 MiB over two discs with one drive only: disc 1 is written, the setup of disc 2
    // answers Cancel, and the run fails naming the work folder, which keeps the pieces not burned.
    void secondDiscCancelledKeepsTheRest()
    {
        Setup s;
        QVERIFY(s.tree.writeFile(std::string("src/random.bin"), noise(6 * 1024 * 1024, 9)));
        LoopImage medium;
        QVERIFY2(medium.createImage(LoopImage::FsType::Raw, 5), qPrintable(medium.errorString()));
        QVERIFY2(medium.attach(), qPrintable(medium.errorString()));
        ArchiveDriverRun r = s.run({ QStringLiteral("--new"), QStringLiteral("One"), QStringLiteral("--source"),
            s.tree.filePath(QStringLiteral("src")), QStringLiteral("--dest-disc"), QStringLiteral("--split-kb"),
            QStringLiteral("2000") });
        QVERIFY2(r.code == 0, r.last.constData());
        r = s.run({ QStringLiteral("--project"), QStringLiteral("One"), QStringLiteral("--burn-drive"),
            QStringLiteral("stdio:") + medium.device() });
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains("burn: disc 1 "), r.err.constData());
        QVERIFY2(r.err.contains("prompt: Burn setup for disc 2 -> Cancel"), r.err.constData());
        QVERIFY(!r.err.contains("burn: disc 2 "));
        QStringList left;
        for (const QByteArray& line : r.err.split('\n'))
            if (line.startsWith("burn: left "))
                left << QString::fromUtf8(line.mid(11));
        QVERIFY2(!left.isEmpty(), r.err.constData());
        const QStringList kept = s.workFolders();
        QCOMPARE(kept.size(), 1);
        const QString folder = s.tree.filePath(QStringLiteral("tmp/")) + kept.first();
        QVERIFY2(r.last.contains(NameCodec::encode(folder)), r.last.constData());
        for (const QString& name : left)
            QVERIFY2(QFileInfo::exists(folder + QLatin1Char('/') + name), qPrintable(name));
    }

    // A 5 MiB disc already holding 1.5 MB (3.4 MB left after it) takes a 3.8 MB archive: the
    // rewritable disc is blanked first and counts its whole capacity; only the new archive is
    // on it afterwards.
    void aRewritableDiscWithDataIsOverwritten()
    {
        Setup s;
        QVERIFY(s.tree.writeFile(std::string("old/old.bin"), noise(1500000, 11)));
        QVERIFY(s.tree.writeFile(std::string("src/big.bin"), noise(3800000, 13)));
        LoopImage medium;
        QVERIFY2(medium.createImage(LoopImage::FsType::Raw, 5), qPrintable(medium.errorString()));
        QVERIFY2(medium.attach(), qPrintable(medium.errorString()));
        const QString drive = QStringLiteral("stdio:") + medium.device();
        QString out;
        QVERIFY2(LoopImage::runTool(QStringLiteral("/usr/bin/xorriso"),
                     { QStringLiteral("-outdev"), drive, QStringLiteral("-map"),
                         s.tree.filePath(QStringLiteral("old/old.bin")), QStringLiteral("/old.bin"),
                         QStringLiteral("-commit") },
                     &out, 120000),
            qPrintable(out));
        ArchiveDriverRun r = s.run({ QStringLiteral("--new"), QStringLiteral("Again"), QStringLiteral("--source"),
            s.tree.filePath(QStringLiteral("src")), QStringLiteral("--dest-disc") });
        QVERIFY2(r.code == 0, r.last.constData());
        r = s.run({ QStringLiteral("--project"), QStringLiteral("Again"), QStringLiteral("--burn-drive"), drive });
        QVERIFY2(r.code == 0, QByteArray(r.last + '\n' + r.err).constData());
        QVERIFY2(r.err.contains(QByteArray("burn: disc 1 " + drive.toUtf8() + ' ')), r.err.constData());
        QCOMPARE(s.workFolders().size(), 0);

        const QString disc = s.tree.filePath(QStringLiteral("disc"));
        QVERIFY2(extract(drive, disc, &out), qPrintable(out));
        QVERIFY(!QFileInfo::exists(disc + QStringLiteral("/old.bin")));
        QDirIterator archives(disc, { QStringLiteral("*.tar") }, QDir::Files, QDirIterator::Subdirectories);
        QVERIFY(archives.hasNext());
        QVERIFY(QFileInfo(archives.next()).size() > 3800000);
    }

    // 7 MB of random data onto a blank 5 MiB disc: the run fails and names the work folder,
    // which keeps the archive; the project lists no archive, so a restore finds none and the
    // next build takes every file again.
    void aDiscTooSmallKeepsTheArchives()
    {
        Setup s;
        QVERIFY(s.tree.writeFile(std::string("src/big.bin"), noise(7000000, 5)));
        LoopImage medium;
        QVERIFY2(medium.createImage(LoopImage::FsType::Raw, 5), qPrintable(medium.errorString()));
        QVERIFY2(medium.attach(), qPrintable(medium.errorString()));
        ArchiveDriverRun r = s.run({ QStringLiteral("--new"), QStringLiteral("Small"), QStringLiteral("--source"),
            s.tree.filePath(QStringLiteral("src")), QStringLiteral("--dest-disc") });
        QVERIFY2(r.code == 0, r.last.constData());
        r = s.run({ QStringLiteral("--project"), QStringLiteral("Small"), QStringLiteral("--burn-drive"),
            QStringLiteral("stdio:") + medium.device() });
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains("prompt: There is a too large archive"), r.err.constData());
        QVERIFY2(r.err.contains("burn: left "), r.err.constData());
        QVERIFY(!r.err.contains("burn: disc "));
        const QStringList kept = s.workFolders();
        QCOMPARE(kept.size(), 1);
        const QString folder = s.tree.filePath(QStringLiteral("tmp/")) + kept.first();
        QVERIFY2(r.last.contains(NameCodec::encode(folder)), r.last.constData());
        QDirIterator archives(folder, { QStringLiteral("*.tar") }, QDir::Files, QDirIterator::Subdirectories);
        QVERIFY(archives.hasNext());
        QVERIFY(QFileInfo(archives.next()).size() > 7000000);

        r = s.run({ QStringLiteral("--project"), QStringLiteral("Small"), QStringLiteral("--restore"),
            QStringLiteral("--to"), s.tree.filePath(QStringLiteral("out")) });
        QCOMPARE(r.code, 2);
        QVERIFY2(r.last.contains("no archive"), r.last.constData());
    }
};

QTEST_GUILESS_MAIN(TestDiscBurn)
#include "tst_discburn.moc"
