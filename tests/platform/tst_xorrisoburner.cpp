// kv-test: labels=root timeout=300 fixtures=kv_loop_cleanup
// Burning with xorriso onto stdio: pseudo-drives: a disc with room gets the files byte for
// byte under their disc names; files that do not fit on a bounded medium are refused.
#include "KvTest.h"
#include "LoopImage.h"
#include "TempTree.h"
#include "platform/Subprocess.h"
#include "platform/XorrisoBurner.h"

#include <QRandomGenerator>
#include <QtTest>

namespace {

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QRandomGenerator gen(seed);
    QByteArray b(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        b[i] = char(gen.bounded(256));
    return b;
}

Subprocess::Result xorriso(const QStringList& args)
{
    Subprocess::Options o;
    o.program = QStringLiteral("/usr/bin/xorriso");
    o.arguments = args;
    o.mergeStderr = true;
    return Subprocess::run(o, 120000);
}

} // namespace

class TestXorrisoBurner : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsTheMediaSpaceLine()
    {
        QCOMPARE(XorrisoBurner::parseMediaSpace("Drive current: -outdev 'stdio:/dev/loop3'\n"
                                                "Media space  : 2528s\n"),
            qint64(2528));
        QCOMPARE(
            XorrisoBurner::parseMediaSpace("xorriso : FAILURE : No output drive acquired\n"), qint64(-1));
    }

    void burnsOntoAFileDriveWithRoom()
    {
        TempTree t(QStringLiteral("burn"));
        QVERIFY(t.mkdir("P"));
        const QByteArray big = randomBytes(3 * 1000 * 1000, 7);
        QVERIFY(t.writeFile(std::string("P/full_P.tgz.aaa"), big));
        QVERIFY(t.writeFile(std::string("P/-odd*[x] name"), "small\n"));
        QVERIFY(t.mkdir("out"));
        const QString iso = t.filePath(std::string("disc.iso"));
        XorrisoBurner burner(QStringLiteral("stdio:") + iso);
        burner.addFile(t.filePath(std::string("P")), QStringLiteral("/P"));
        QStringList lines;
        burner.onLine = [&](const QString& line) { lines << line; };
        qint64 pgid = 0;
        QStringList started;
        burner.onStarted = [&](qint64 group, const QStringList& argv) {
            pgid = group;
            started = argv;
        };
        QString why;
        QVERIFY2(burner.burn(&why), qPrintable(why + lines.join(QLatin1Char('\n'))));
        QVERIFY(pgid > 0);
        QCOMPARE(started,
            (QStringList { "/usr/bin/xorriso", "-abort_on", "FAILURE", "-outdev", "stdio:" + iso, "-volid",
                "Backup Disc", "-joliet", "on", "-rockridge", "on", "-map", t.filePath(std::string("P")),
                "/P", "-commit" }));
        QVERIFY(lines.join(QLatin1Char('\n')).contains(QLatin1String("Volume id    : 'Backup Disc'")));

        const QString out = t.filePath(std::string("out"));
        const auto r = xorriso({ "-osirrox", "on", "-indev", "stdio:" + iso, "-extract", "/", out });
        QVERIFY2(r.succeeded(), r.out.constData());
        QCOMPARE(t.readFile("out/P/full_P.tgz.aaa"), big);
        QCOMPARE(t.readFile("out/P/-odd*[x] name"), QByteArray("small\n"));
    }

    void refusesFilesThatDoNotFit()
    {
        if (!KvTest::isRoot())
            QSKIP("loop devices need root");
        TempTree t(QStringLiteral("burnfull"));
        QVERIFY(t.writeFile(std::string("archive.tar"), randomBytes(7 * 1000 * 1000, 9)));
        LoopImage medium;
        QVERIFY2(medium.createImage(LoopImage::FsType::Ext4, 5), qPrintable(medium.errorString()));
        QVERIFY2(medium.attach(), qPrintable(medium.errorString()));
        XorrisoBurner burner(QStringLiteral("stdio:") + medium.device());
        burner.addFile(t.filePath(std::string("archive.tar")), QStringLiteral("/archive.tar"));
        const auto space = burner.mediaFreeBytes();
        QVERIFY(space.has_value());
        QVERIFY(*space < 6 * 1024 * 1024);
        bool started = false;
        burner.onStarted = [&](qint64, const QStringList&) { started = true; };
        QString why;
        QVERIFY(!burner.burn(&why));
        QVERIFY2(why.contains(QLatin1String("do not fit")), qPrintable(why));
        QVERIFY(!started); // refused before anything was written

        // A drive that cannot be opened is a failure with xorriso's reason.
        XorrisoBurner nowhere(QStringLiteral("stdio:") + t.filePath(std::string("no/such/folder/disc.iso")));
        nowhere.addFile(t.filePath(std::string("archive.tar")), QStringLiteral("/archive.tar"));
        QVERIFY(!nowhere.burn(&why));
        QVERIFY(!why.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestXorrisoBurner)
#include "tst_xorrisoburner.moc"
