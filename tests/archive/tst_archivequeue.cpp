// kv-test: labels=root timeout=300 fixtures=kv_loop_cleanup
// The archive run queue through kv-run-project with real tar jobs: projects due at the same
// minute run one after another in reverse list order, a mounted volume starts the projects
// bound to it and no other, and the next dates persist so a second check finds nothing due.
#include "../e2e/E2eWorkspace.h"
#include "KvTest.h"
#include "TempTree.h"
#include "platform/NameCodec.h"

#include <QProcess>
#include <QtTest>

namespace {

struct Run
{
    int code = -1;
    QList<QByteArray> out; // stdout lines
    QByteArray err;
    QByteArray last() const { return out.isEmpty() ? QByteArray() : out.last(); }
};

Run driver(const QString& workspace, const QStringList& args)
{
    QProcess p;
    p.start(KvTest::appContentsDir() + QStringLiteral("/MacOS/kv-run-project"),
        QStringList {
            QStringLiteral("--workspace"), workspace, QStringLiteral("--kit"), QStringLiteral("archive") }
            + args);
    p.closeWriteChannel();
    p.waitForFinished(120000);
    Run r;
    r.code = p.exitCode();
    r.out = p.readAllStandardOutput().trimmed().split('\n');
    r.err = p.readAllStandardError();
    return r;
}

// The "run" lines: name -> code, in run order.
QList<QPair<QByteArray, QByteArray>> runLines(const Run& r)
{
    QList<QPair<QByteArray, QByteArray>> out;
    for (const QByteArray& line : r.out) {
        const QList<QByteArray> f = line.split('\t');
        if (f.size() == 6 && f[0] == "run") {
            out << qMakePair(f[4], f[1]);
            if (f[1] == "0")
                [&] { QVERIFY2(f[2] != "-", line.constData()); }();
            [&] { QCOMPARE(f[3], QByteArray("archive")); }();
        }
    }
    return out;
}

} // namespace

class TestArchiveQueue : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void projectsDueAtOneMinuteRunOneAfterAnother()
    {
        TempTree t(QStringLiteral("queue"));
        QVERIFY(t.mkdir("ws"));
        QVERIFY(t.mkdir("dest"));
        QByteArray big(2 * 1000 * 1000, 'a');
        for (const char* name : { "one", "two", "three" }) {
            QVERIFY(t.writeFile(std::string("src/") + name + "/data.bin", big));
            const Run made = driver(t.filePath(std::string("ws")),
                { "--new", QString::fromLatin1(name), "--source", t.filePath(std::string("src/") + name),
                    "--dest", t.filePath(std::string("dest")), "--method", "full", "--schedule", "18:30",
                    "--now", "2026-03-04T18:29:50" });
            QVERIFY2(made.code == 0, made.last().constData());
        }
        // Not yet due.
        Run r = driver(t.filePath(std::string("ws")), { "--schedule-check", "--now", "2026-03-04T18:29:55" });
        QCOMPARE(r.code, 5);
        QCOMPARE(r.last(), QByteArray("5 0 nothing due"));

        r = driver(t.filePath(std::string("ws")), { "--schedule-check", "--now", "2026-03-04T18:30:04" });
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(r.last(), QByteArray("0 3 runs"));
        // The list is in name order; the schedule runs it from the end.
        const auto lines = runLines(r);
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0].first, QByteArray("two"));
        QCOMPARE(lines[1].first, QByteArray("three"));
        QCOMPARE(lines[2].first, QByteArray("one"));
        // One job at a time: each job's group started after the previous one's archive was done,
        // so three pgid lines and three complete archives.
        QCOMPARE(r.err.count("pgid: "), 3);
        int archives = 0;
        QDirIterator it(t.filePath(std::string("dest")), { QStringLiteral("full_*") }, QDir::Files,
            QDirIterator::Subdirectories);
        while (it.hasNext()) {
            it.next();
            ++archives;
            QVERIFY(it.fileInfo().size() > 2 * 1000 * 1000);
        }
        QCOMPARE(archives, 3);
        // The next dates were saved: the same minute again finds nothing due.
        r = driver(t.filePath(std::string("ws")), { "--schedule-check", "--now", "2026-03-04T18:30:30" });
        QCOMPARE(r.last(), QByteArray("5 0 nothing due"));
        // The scheduler switched off in the workspace's preferences: nothing runs the next day.
        QVERIFY(t.writeFile(std::string("ws/QVPrefs.plist"),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
            "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
            "<plist version=\"1.0\"><dict><key>GeneralPreferencesScheme</key><integer>2</integer>"
            "<key>AgentState</key><dict><key>State</key><integer>4</integer>"
            "<key>ModifyInterval</key><real>1</real></dict></dict></plist>\n"));
        r = driver(t.filePath(std::string("ws")), { "--schedule-check", "--now", "2026-03-05T18:31:00" });
        QCOMPARE(r.last(), QByteArray("5 0 nothing due"));
    }

    void aMountedVolumeStartsTheProjectsBoundToIt()
    {
        if (!KvTest::isRoot())
            QSKIP("mounting a test volume needs root");
        E2e::TestVolume volume;
        QVERIFY2(volume.make(LoopImage::FsType::Ext4, 32), qPrintable(volume.error()));
        TempTree t(QStringLiteral("mountq"));
        QVERIFY(t.mkdir("ws"));
        QVERIFY(t.writeFile(std::string("src/f.txt"), "x\n"));
        const QString dest = volume.path() + QStringLiteral("/dest");
        QVERIFY(QDir().mkpath(dest));
        Run made = driver(t.filePath(std::string("ws")),
            { "--new", "bound", "--source", t.filePath(std::string("src")), "--dest", dest,
                "--start-on-mount" });
        QVERIFY2(made.code == 0, made.last().constData());
        made = driver(t.filePath(std::string("ws")),
            { "--new", "other", "--source", t.filePath(std::string("src")), "--dest",
                t.filePath(std::string("ws")) });
        QVERIFY2(made.code == 0, made.last().constData());

        // Another mount, and a path that is no mount point: nothing starts.
        Run r = driver(t.filePath(std::string("ws")), { "--mount-check", "/" });
        QCOMPARE(r.last(), QByteArray("5 0 nothing due"));
        r = driver(t.filePath(std::string("ws")), { "--mount-check", dest });
        QCOMPARE(r.last(), QByteArray("5 0 nothing due"));
        QVERIFY2(r.err.contains("is not a mount point"), r.err.constData());

        r = driver(t.filePath(std::string("ws")), { "--mount-check", volume.path() });
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(r.last(), QByteArray("0 1 runs"));
        const auto lines = runLines(r);
        QCOMPARE(lines.size(), 1);
        QCOMPARE(lines[0].first, QByteArray("bound"));
    }
};

QTEST_GUILESS_MAIN(TestArchiveQueue)
#include "tst_archivequeue.moc"
