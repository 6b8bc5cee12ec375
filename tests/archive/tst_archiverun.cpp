// kv-test: labels=unit timeout=300
// Archive builds and restores through kv-run-project with the real tools, read back by the
// bare tools; failed jobs leave existing files and older archives as they were.
#include "ArchiveDriverRun.h"
#include "KvTest.h"
#include "RecordingShellServices.h"
#include "MemoryKeychain.h"
#include "ScriptedUiPrompts.h"
#include "TempTree.h"
#include "archive/CBackup.h"
#include "archive/CBackupItem.h"
#include "archive/IBackup.h"
#include "platform/AppPaths.h"
#include "platform/NameCodec.h"
#include "projects/ILocation.h"
#include "utilities/MainPreferences.h"
#include "utilities/ProjectKeychain.h"

#include <QProcess>
#include <QtTest>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

namespace {

using Run = ArchiveDriverRun;

Run driver(const QString& workspace, const QStringList& args, const QByteArray& input = QByteArray(),
    const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
{
    return runArchiveDriver(QStringList { QStringLiteral("--workspace"), workspace } + args, input, env);
}

// A source, a workspace, a temporary folder and a settings home in the tree for a disc
// project's driver runs, and the environment that points at them.
QProcessEnvironment discRunEnvironment(TempTree& tree)
{
    tree.writeFile(std::string("src/a.txt"), "a\n");
    tree.mkdir("ws/Backups");
    tree.mkdir("tmp");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TMPDIR"), tree.filePath(QStringLiteral("tmp")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), tree.filePath(QStringLiteral("config")));
    return env;
}

// Relative path -> content of every file below root (folders as "<dir>").
QMap<QByteArray, QByteArray> snapshot(const QString& root)
{
    QMap<QByteArray, QByteArray> out;
    QDirIterator it(
        root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QByteArray rel = NameCodec::encode(path.mid(root.size()));
        if (it.fileInfo().isDir()) {
            out.insert(rel, "<dir>");
        } else {
            QFile f(path);
            f.open(QIODevice::ReadOnly);
            out.insert(rel, f.readAll());
        }
    }
    return out;
}

QByteArray bash(const QString& script, const QString& password = QString())
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QV_ARCH_PASS"), password);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("/bin/bash"), { QStringLiteral("-c"), script });
    p.waitForFinished(60000);
    return p.readAllStandardOutput();
}

// A source tree with names that a shell or a careless quoting would break.
void makeSource(TempTree& tree)
{
    tree.writeFile(std::string("src/plain.txt"), "hello\n");
    tree.writeFile(std::string("src/it's \"q\" $(touch X) `b` \\ x"), "odd\n");
    tree.writeFile(std::string("src/line\nfeed"), "lf\n");
    tree.writeFile(std::string("src/-dash"), "dash\n");
    tree.writeFile(std::string("src/bytes\xff\xfe"), "latin\n");
    QByteArray big(300000, '\0');
    for (int i = 0; i < big.size(); ++i)
        big[i] = char((i * 7919) >> 3);
    tree.writeFile(std::string("src/sub/big.bin"), big);
}

QString archiveOf(const Run& r)
{
    return QString::fromUtf8(r.last.split(' ').value(1));
}

} // namespace

class TestArchiveRun : public QObject
{
    Q_OBJECT

private slots:
    void buildReadBackRestore_data()
    {
        QTest::addColumn<bool>("compress");
        QTest::addColumn<QString>("cipher");
        QTest::addColumn<int>("splitKb");
        QTest::addColumn<QString>("openssl"); // the bare tool's cipher
        for (bool z : { false, true }) {
            const QString zt = z ? QStringLiteral("gz ") : QString();
            QTest::newRow(qPrintable(zt + "plain")) << z << QString() << 0 << QString();
            QTest::newRow(qPrintable(zt + "split")) << z << QString() << 100 << QString();
            QTest::newRow(qPrintable(zt + "bf")) << z << QStringLiteral("bf") << 0 << QStringLiteral("bf");
            QTest::newRow(qPrintable(zt + "des3"))
                << z << QStringLiteral("des3") << 0 << QStringLiteral("des3");
            QTest::newRow(qPrintable(zt + "aes128"))
                << z << QStringLiteral("aes128") << 0 << QStringLiteral("aes-128-cbc");
            QTest::newRow(qPrintable(zt + "aes256 split"))
                << z << QStringLiteral("aes256") << 100 << QStringLiteral("aes-256-cbc");
        }
    }
    void buildReadBackRestore()
    {
        QFETCH(bool, compress);
        QFETCH(QString, cipher);
        QFETCH(int, splitKb);
        QFETCH(QString, openssl);
        TempTree tree;
        makeSource(tree);
        tree.mkdir("ws/Backups");
        tree.mkdir("dest");
        tree.mkdir("out");
        const QString ws = tree.filePath(QStringLiteral("ws"));
        const QString src = tree.filePath(QStringLiteral("src"));
        const QString password = QStringLiteral("a b$\"'\\");
        QStringList create { QStringLiteral("--new"), QStringLiteral("P"), QStringLiteral("--source"), src,
            QStringLiteral("--dest"), tree.filePath(QStringLiteral("dest")) };
        if (compress)
            create << QStringLiteral("--compress");
        if (!cipher.isEmpty())
            create << QStringLiteral("--cipher") << cipher;
        if (splitKb)
            create << QStringLiteral("--split-kb") << QString::number(splitKb);
        Run r = driver(ws, create);
        QCOMPARE(r.code, 0);
        QVERIFY(r.last.endsWith("Project \"P\" created"));
        // A second project of that name gets a name of its own.
        QVERIFY(driver(ws, create).last.endsWith("Project \"P1\" created"));

        QStringList run { QStringLiteral("--project"), QStringLiteral("P") };
        if (!cipher.isEmpty())
            run << QStringLiteral("--password-stdin");
        r = driver(ws, run, password.toUtf8() + '\n');
        QVERIFY2(r.code == 0, QByteArray(r.last + r.err).constData());
        QVERIFY(r.last.contains("has succeeded"));
        QVERIFY(!r.err.contains(password.toUtf8()));
        const QString name = archiveOf(r);
        QCOMPARE(name.contains(QStringLiteral(".cnt")), splitKb > 0);
        QVERIFY(!QFileInfo::exists(tree.filePath(QStringLiteral("X"))));

        // The bare tools read the archive back.
        const QStringList folders
            = QDir(tree.filePath(QStringLiteral("dest"))).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        QCOMPARE(folders.size(), 1);
        const QString folder = tree.filePath(QStringLiteral("dest/") + folders.first());
        QString read = splitKb ? QStringLiteral("cat '%1'/*.aa?").arg(folder)
                               : QStringLiteral("cat '%1'/*").arg(folder);
        if (!openssl.isEmpty())
            read += QStringLiteral(
                " | openssl %1 -d -md md5 -provider legacy -provider default -pass env:QV_ARCH_PASS")
                        .arg(openssl);
        read += compress ? QStringLiteral(" | tar --quoting-style=literal -tzf -")
                         : QStringLiteral(" | tar --quoting-style=literal -tf -");
        const QByteArray listing = bash(read, password);
        QVERIFY2(listing.contains("/src/sub/big.bin\n"), listing.constData());
        QVERIFY(listing.contains("/src/bytes\xff\xfe\n"));

        if (splitKb)
            return; // split archives are read back through the cat tool, not built here
        r = driver(ws,
            run
                + QStringList { QStringLiteral("--restore"), QStringLiteral("--to"),
                    tree.filePath(QStringLiteral("out")) },
            password.toUtf8() + '\n');
        QVERIFY2(r.code == 0, QByteArray(r.last + r.err).constData());
        QCOMPARE(bash(QStringLiteral("diff -r '%1' '%2' && echo same")
                          .arg(src, tree.filePath(QStringLiteral("out")) + src)),
            QByteArray("same\n"));
        QVERIFY(!QFileInfo::exists(tree.filePath(QStringLiteral("X"))));

        // One chosen item with an odd name, as the tree stores it: only that file comes back.
        tree.mkdir("one");
        const QString odd = src + QStringLiteral("/it's \"q\" $(touch X) `b` \\ x");
        r = driver(ws,
            run
                + QStringList { QStringLiteral("--restore"), QStringLiteral("--item"), odd,
                    QStringLiteral("--to"), tree.filePath(QStringLiteral("one")) },
            password.toUtf8() + '\n');
        QVERIFY2(r.code == 0, QByteArray(r.last + r.err).constData());
        QCOMPARE(bash(QStringLiteral("cd '%1' && find . -type f").arg(tree.filePath(QStringLiteral("one")))),
            QByteArray("./") + NameCodec::encode(src.mid(1)) + "/it's \"q\" $(touch X) `b` \\ x\n");
    }

    // Restores that fail: a wrong password extracts nothing; a truncated archive restored in
    // place leaves every existing file as it was and no moved-aside copy behind.
    void failedRestoresKeepFiles()
    {
        TempTree tree;
        makeSource(tree);
        tree.mkdir("ws/Backups");
        tree.mkdir("dest");
        tree.mkdir("out");
        const QString ws = tree.filePath(QStringLiteral("ws"));
        const QString src = tree.filePath(QStringLiteral("src"));
        QVERIFY(driver(ws,
                    { QStringLiteral("--new"), QStringLiteral("E"), QStringLiteral("--source"), src,
                        QStringLiteral("--dest"), tree.filePath(QStringLiteral("dest")),
                        QStringLiteral("--cipher"), QStringLiteral("aes256") })
                    .code
            == 0);
        QCOMPARE(driver(ws,
                     { QStringLiteral("--project"), QStringLiteral("E"), QStringLiteral("--password-stdin") },
                     "right\n")
                     .code,
            0);
        Run r = driver(ws,
            { QStringLiteral("--project"), QStringLiteral("E"), QStringLiteral("--password-stdin"),
                QStringLiteral("--restore"), QStringLiteral("--to"), tree.filePath(QStringLiteral("out")) },
            "wrong\n");
        QCOMPARE(r.code, 1);
        QVERIFY(r.last.contains("Failed to start restoration"));
        QVERIFY(QDir(tree.filePath(QStringLiteral("out"))).isEmpty());
        // No password at all: the prompt is cancelled, nothing starts.
        QCOMPARE(driver(ws,
                     { QStringLiteral("--project"), QStringLiteral("E"), QStringLiteral("--restore"),
                         QStringLiteral("--in-place") })
                     .code,
            1);

        tree.mkdir("dest2");
        QVERIFY(driver(ws,
                    { QStringLiteral("--new"), QStringLiteral("T"), QStringLiteral("--source"), src,
                        QStringLiteral("--dest"), tree.filePath(QStringLiteral("dest2")) })
                    .code
            == 0);
        r = driver(ws, { QStringLiteral("--project"), QStringLiteral("T") });
        QCOMPARE(r.code, 0);
        const QStringList folders
            = QDir(tree.filePath(QStringLiteral("dest2"))).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        const QString archive
            = tree.filePath(QStringLiteral("dest2/") + folders.first() + QLatin1Char('/') + archiveOf(r));
        QFile a(archive);
        QVERIFY(a.resize(a.size() / 2));
        // Every file changes after the build: a failed restore must leave these versions.
        QDirIterator it(src, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile f(it.next());
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write("changed after the build\n");
        }
        const auto before = snapshot(src);
        r = driver(ws,
            { QStringLiteral("--project"), QStringLiteral("T"), QStringLiteral("--restore"),
                QStringLiteral("--in-place") });
        QCOMPARE(r.code, 1);
        QVERIFY2(r.last.contains("has failed"), r.last.constData());
        QCOMPARE(snapshot(src), before);
    }

    // Each incremental archive holds what changed; a chain restore replays them in order, and
    // restoring an earlier archive of the chain gives the state of that build.
    void incrementalChain()
    {
        TempTree tree;
        tree.writeFile(std::string("src/a"), "a1\n");
        tree.writeFile(std::string("src/b"), "b1\n");
        tree.mkdir("ws/Backups");
        tree.mkdir("dest");
        const QString ws = tree.filePath(QStringLiteral("ws"));
        const QString src = tree.filePath(QStringLiteral("src"));
        QCOMPARE(driver(ws,
                     { QStringLiteral("--new"), QStringLiteral("I"), QStringLiteral("--source"), src,
                         QStringLiteral("--dest"), tree.filePath(QStringLiteral("dest")),
                         QStringLiteral("--method"), QStringLiteral("incr") })
                     .code,
            0);
        const QStringList run { QStringLiteral("--project"), QStringLiteral("I") };
        QStringList names;
        auto build = [&] {
            const Run r = driver(ws, run);
            QVERIFY2(r.code == 0, r.last.constData());
            names << archiveOf(r);
            QTest::qWait(1100); // archive names carry the second; mtimes move past the stamp
        };
        build();
        tree.writeFile(std::string("src/a"), "a2\n");
        build();
        tree.writeFile(std::string("src/b"), "b3\n");
        build();
        // Nothing changed since: nothing to do, no archive.
        Run r = driver(ws, run);
        QCOMPARE(r.code, 5);
        QVERIFY(r.last.contains("Files to incremental back up are not found"));

        const QString folder = firstArchiveFolder(tree.filePath(QStringLiteral("dest")));
        const QByteArray second = bash(QStringLiteral("tar -tf '%1/%2'").arg(folder, names.at(1)));
        QVERIFY2(second.contains("/src/a\n") && !second.contains("/src/b\n"), second.constData());

        tree.mkdir("last");
        r = driver(ws,
            run
                + QStringList { QStringLiteral("--restore"), QStringLiteral("--to"),
                    tree.filePath(QStringLiteral("last")) });
        QVERIFY2(r.code == 0, r.last.constData());
        QCOMPARE(bash(QStringLiteral("cat '%1/a' '%1/b'").arg(tree.filePath(QStringLiteral("last")) + src)),
            QByteArray("a2\nb3\n"));

        tree.mkdir("mid");
        r = driver(ws,
            run
                + QStringList { QStringLiteral("--restore"), QStringLiteral("--archive"), names.at(1),
                    QStringLiteral("--to"), tree.filePath(QStringLiteral("mid")) });
        QVERIFY2(r.code == 0, r.last.constData());
        QCOMPARE(bash(QStringLiteral("cat '%1/a' '%1/b'").arg(tree.filePath(QStringLiteral("mid")) + src)),
            QByteArray("a2\nb1\n"));

        // One chosen item over the chain: the archive that did not store it is skipped, so the
        // restore ends without "Not found in archive" warnings.
        tree.mkdir("item");
        r = driver(ws,
            run
                + QStringList { QStringLiteral("--restore"), QStringLiteral("--item"),
                    src + QStringLiteral("/b"), QStringLiteral("--to"),
                    tree.filePath(QStringLiteral("item")) });
        QVERIFY2(r.code == 0, QByteArray(r.last + r.err).constData());
        QCOMPARE(bash(QStringLiteral("cd '%1' && find . -type f -exec cat {} +")
                          .arg(tree.filePath(QStringLiteral("item")))),
            QByteArray("b3\n"));
    }

    // Edits of a saved tree (an item added, a file excluded) and then a revert: the saved tree
    // is back and the next build archives what it holds.
    void revertedEditsAreNotBuilt()
    {
        TempTree tree;
        tree.writeFile(std::string("src/a"), "a\n");
        tree.writeFile(std::string("src/b"), "b\n");
        tree.writeFile(std::string("extra/c"), "c\n");
        tree.mkdir("ws/Backups");
        tree.mkdir("dest");
        const QString ws = tree.filePath(QStringLiteral("ws"));
        const QString src = tree.filePath(QStringLiteral("src"));
        QCOMPARE(driver(ws,
                     { QStringLiteral("--new"), QStringLiteral("V"), QStringLiteral("--source"), src,
                         QStringLiteral("--dest"), tree.filePath(QStringLiteral("dest")),
                         QStringLiteral("--method"), QStringLiteral("full") })
                     .code,
            0);
        AppPaths::setWorkspacePathOverride(ws);
        const QString bif = firstProjectFile(ws);
        CBackup project(QStringLiteral("V"));
        QVERIFY(project.load(bif, false));
        QCOMPARE(project.count(), 1);

        QVERIFY(project.addItemFromDisk(tree.filePath(QStringLiteral("extra"))));
        CBackupItem* top = nullptr;
        for (int i = 0; i < project.count(); ++i)
            if (project.itemAt(i)->getAbsolutePath() == src)
                top = project.itemAt(i);
        QVERIFY(top);
        top->addSubItmesFromDisk(&project, false, false, false);
        bool excluded = false;
        for (int i = 0; i < top->count(); ++i) {
            if (top->itemAt(i)->getName() == QLatin1String("b")) {
                top->itemAt(i)->setIncludeByUser(false);
                excluded = true;
            }
        }
        QVERIFY(excluded);
        project.setTreeChanged(true);

        QCOMPARE(project.reload(), 1);
        QCOMPARE(project.count(), 1);
        QVERIFY(!project.isTreeChanged());

        bool ended = false;
        project.getIBackup()->onRunEnded = [&] { ended = true; };
        QVERIFY(project.build() > 0);
        QTRY_VERIFY_WITH_TIMEOUT(ended, 30000);
        QVERIFY2(project.getIBackup()->lastStatusString().contains(QLatin1String("has succeeded")),
            qPrintable(project.getIBackup()->lastStatusString()));
        const QString folder = firstArchiveFolder(tree.filePath(QStringLiteral("dest")));
        const QString archive = QDir(folder).entryList(QDir::Files).value(0);
        const QByteArray listed = bash(QStringLiteral("tar -tf '%1/%2'").arg(folder, archive));
        QVERIFY2(listed.contains("/src/a\n") && listed.contains("/src/b\n"), listed.constData());
        QVERIFY2(!listed.contains("extra"), listed.constData());
    }

    // A chain of four archives (a full one and three incrementals): a cancelled prompt for the
    // second archive, or the user's stop during the second job, ends that chain there; nothing
    // of it runs afterwards and the running-jobs count is back to 0.
    void chainEndsAtCancelOrStop_data()
    {
        QTest::addColumn<bool>("stop");
        QTest::newRow("archive prompt cancelled") << false;
        QTest::newRow("stopped in the second job") << true;
    }
    void chainEndsAtCancelOrStop()
    {
        QFETCH(bool, stop);
        TempTree tree;
        tree.writeFile(std::string("src/a"), "a0\n");
        tree.mkdir("ws/Backups");
        tree.mkdir("dest");
        tree.mkdir("out");
        const QString ws = tree.filePath(QStringLiteral("ws"));
        const QString src = tree.filePath(QStringLiteral("src"));
        QCOMPARE(driver(ws,
                     { QStringLiteral("--new"), QStringLiteral("C"), QStringLiteral("--source"), src,
                         QStringLiteral("--dest"), tree.filePath(QStringLiteral("dest")),
                         QStringLiteral("--method"), QStringLiteral("incr") })
                     .code,
            0);
        QStringList names;
        for (int i = 0; i < 4; ++i) {
            tree.writeFile(std::string("src/a"), QByteArray("a") + QByteArray::number(i) + '\n');
            tree.writeFile("src/f" + std::to_string(i), "new\n");
            const Run r = driver(ws, { QStringLiteral("--project"), QStringLiteral("C") });
            QVERIFY2(r.code == 0, r.last.constData());
            names << archiveOf(r);
            QTest::qWait(1100); // archive names carry the second; mtimes move past the stamp
        }
        AppPaths::setWorkspacePathOverride(ws);
        const QString bif = firstProjectFile(ws);
        CBackup project(QStringLiteral("C"));
        QVERIFY(project.load(bif, false));
        QCOMPARE(int(project.archives().size()), 4);
        project.setSelectedArchiveIndex(3);
        const QString folder = firstArchiveFolder(tree.filePath(QStringLiteral("dest")));
        ScriptedUiPrompts prompts;
        if (!stop) {
            QVERIFY(QFile::rename(folder + QLatin1Char('/') + names.at(1), tree.filePath(QStringLiteral("away"))));
            prompts.expectLocateFile(UiPrompts::LocateResult::Cancelled);
        }
        int started = 0;
        bool ended = false;
        IBackup* face = project.getIBackup();
        QList<quint8> chain;
        face->onJobStarted = [&](qint64, const QList<QStringList>&) {
            if (++started == 1)
                chain = face->chainAttributes();
            if (started == 2 && stop)
                face->stopByUser();
        };
        face->onRunEnded = [&] { ended = true; };
        QCOMPARE(project.restoreBegining(tree.filePath(QStringLiteral("out")), {}, false), 4);
        QTRY_VERIFY_WITH_TIMEOUT(ended, 30000);
        QCOMPARE(started, stop ? 2 : 1);
        // Four jobs: the earlier archives of the chain, then the chosen one.
        QCOMPARE(chain, QList<quint8>({ 1, 1, 1, 3 }));
        QCOMPARE(face->cmdVectorSize(), 0);
        QCOMPARE(CBackup::m_nTarRunning, 0);
        QCOMPARE(face->lastStatusString(), QStringLiteral("Terminated by user"));
        // The first archive was restored; none after the second reached the folder.
        const QString out = tree.filePath(QStringLiteral("out")) + src;
        QVERIFY(QFileInfo::exists(out + QStringLiteral("/f0")));
        QVERIFY(!QFileInfo::exists(out + QStringLiteral("/f2")) && !QFileInfo::exists(out + QStringLiteral("/f3")));
        QCOMPARE(prompts.pending(), 0);
        QVERIFY(prompts.unexpected.isEmpty());
    }

    // A stop ends the whole pipeline: exit 4, nothing of the job's group left, nothing registered.
    void stopEndsPipeline()
    {
        TempTree tree;
        tree.mkdir("src");
        bash(QStringLiteral("head -c 150000000 /dev/urandom > '%1'")
                 .arg(tree.filePath(QStringLiteral("src/r.bin"))));
        tree.mkdir("ws/Backups");
        tree.mkdir("dest");
        const QString ws = tree.filePath(QStringLiteral("ws"));
        QCOMPARE(driver(ws,
                     { QStringLiteral("--new"), QStringLiteral("S"), QStringLiteral("--source"),
                         tree.filePath(QStringLiteral("src")), QStringLiteral("--dest"),
                         tree.filePath(QStringLiteral("dest")), QStringLiteral("--compress"),
                         QStringLiteral("--cipher"), QStringLiteral("aes256"), QStringLiteral("--split-kb"),
                         QStringLiteral("10000") })
                     .code,
            0);
        const Run r = driver(ws,
            { QStringLiteral("--project"), QStringLiteral("S"), QStringLiteral("--password-stdin"),
                QStringLiteral("--timeout"), QStringLiteral("2") },
            "pw\n");
        QCOMPARE(r.code, 4);
        QVERIFY2(r.last.endsWith("Terminated by user"), r.last.constData());
        const qsizetype at = r.err.indexOf("pgid: ");
        QVERIFY(at >= 0);
        const int pgid = r.err.mid(at + 6, r.err.indexOf('\n', at) - at - 6).toInt();
        QVERIFY(pgid > 0);
        // No member of the group still runs (a zombie waiting for its reaper does not count).
        QCOMPARE(bash(QStringLiteral("ps -e -o pgid=,stat= | awk '$1 == %1 && $2 !~ /Z/'").arg(pgid)),
            QByteArray());
        const QString folder = firstArchiveFolder(tree.filePath(QStringLiteral("dest")));
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList());
    }

    // Runs that never start: exit 2, nothing written.
    void notStarted()
    {
        TempTree tree;
        tree.writeFile(std::string("src/a"), "a\n");
        tree.mkdir("ws/Backups");
        tree.mkdir("dest");
        const QString ws = tree.filePath(QStringLiteral("ws"));
        const QString src = tree.filePath(QStringLiteral("src"));
        const QString dest = tree.filePath(QStringLiteral("dest"));
        QCOMPARE(driver(ws,
                     { QStringLiteral("--new"), QStringLiteral("N"), QStringLiteral("--source"), src,
                         QStringLiteral("--dest"), dest })
                     .code,
            0);
        const QList<QStringList> cases {
            { QStringLiteral("--project"), QStringLiteral("N"), QStringLiteral("--restore") },
            { QStringLiteral("--project"), QStringLiteral("N"), QStringLiteral("--to"), dest },
            { QStringLiteral("--project"), QStringLiteral("nothere") },
            { QStringLiteral("--new"), QStringLiteral("M"), QStringLiteral("--source"),
                src + QStringLiteral("/gone"), QStringLiteral("--dest"), dest },
            { QStringLiteral("--new"), QStringLiteral("M"), QStringLiteral("--source"), src,
                QStringLiteral("--dest"), dest, QStringLiteral("--cipher"), QStringLiteral("rot13") },
            { QStringLiteral("--project"), QStringLiteral("N"), QStringLiteral("--restore"),
                QStringLiteral("--in-place"), QStringLiteral("--archive"), QStringLiteral("no-such.tar") },
        };
        const QStringList before = QDir(tree.filePath(QStringLiteral("ws/Backups"))).entryList(QDir::Files);
        for (const QStringList& args : cases) {
            const Run r = driver(ws, args);
            QVERIFY2(r.code == 2,
                qPrintable(args.join(QLatin1Char(' ')) + QStringLiteral(" -> ") + QString::fromUtf8(r.last)));
            QVERIFY(r.last.startsWith("2 - "));
        }
        // An archive option under the snapshot kit is a usage error too.
        QProcess p;
        p.start(KvTest::appContentsDir() + QStringLiteral("/MacOS/kv-run-project"),
            { QStringLiteral("--workspace"), ws, QStringLiteral("--project"), QStringLiteral("N"),
                QStringLiteral("--restore") });
        p.waitForFinished(30000);
        QCOMPARE(p.exitCode(), 2);
        QCOMPARE(QDir(tree.filePath(QStringLiteral("ws/Backups"))).entryList(QDir::Files), before);
        QCOMPARE(QDir(dest).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    }

    // The example of bench/README.md, as it stands there, against a folder of this test.
    void readmeExample()
    {
        QFile readme(KvTest::sourceDir() + QStringLiteral("/bench/README.md"));
        QVERIFY(readme.open(QIODevice::ReadOnly));
        const QByteArray text = readme.readAll();
        const qsizetype at = text.indexOf("Example (one test runs it):");
        QVERIFY(at > 0);
        QList<QByteArray> commands;
        for (const QByteArray& line : text.mid(at).split('\n'))
            if (line.startsWith("    kv-run-project "))
                commands << line.trimmed();
        QCOMPARE(commands.size(), 3);
        TempTree tree;
        tree.writeFile(std::string("home/Documents/note.txt"), "note\n");
        tree.mkdir("ws/Backups");
        tree.mkdir("backup");
        const QString script
            = QStringLiteral("set -e; cd '%1'; export HOME='%1/home'; kv-run-project() { \"%2\" \"$@\"; }; ")
                  .arg(tree.path(), KvTest::appContentsDir() + QStringLiteral("/MacOS/kv-run-project"));
        QString body;
        for (QByteArray c : commands)
            body += QString::fromUtf8(
                        c.replace("/backup", tree.filePath(QStringLiteral("backup")).toUtf8())
                            .replace("/tmp/restored", tree.filePath(QStringLiteral("restored")).toUtf8()))
                + QStringLiteral(" >/dev/null 2>&1; ");
        bash(script + body);
        QFile restored(tree.filePath(QStringLiteral("restored"))
            + tree.filePath(QStringLiteral("home/Documents/note.txt")));
        QVERIFY(restored.open(QIODevice::ReadOnly));
        QCOMPARE(restored.readAll(), QByteArray("note\n"));
    }

    // A build whose tool fails: reported failed, its output removed (also the salt header a
    // failed cipher stage leaves), nothing registered, the older full archive kept. The cipher
    // stage fails for real: openssl cannot load the legacy provider the Blowfish cipher needs.
    void failedBuildKeepsOlderArchive_data()
    {
        QTest::addColumn<bool>("cipherFails");
        QTest::newRow("tar cannot write") << false;
        QTest::newRow("openssl cannot set its cipher") << true;
    }

    void failedBuildKeepsOlderArchive()
    {
        QFETCH(bool, cipherFails);
        TempTree tree;
        tree.writeFile(std::string("src/a.txt"), "a\n");
        tree.mkdir("ws/Backups");
        tree.mkdir("dest");
        tree.writeFile(std::string("bin/tar"),
            "#!/bin/sh\nprintf 'partial' > \"$3\"\necho \"/usr/bin/tar: $3: Cannot write: No space left on "
            "device\" >&2\n"
            "exit 2\n",
            0755);
        const QString ws = tree.filePath(QStringLiteral("ws"));
        const QString password = QStringLiteral("pw");
        QStringList create { QStringLiteral("--new"), QStringLiteral("F"), QStringLiteral("--source"),
            tree.filePath(QStringLiteral("src")), QStringLiteral("--dest"), tree.filePath(QStringLiteral("dest")),
            QStringLiteral("--method"), QStringLiteral("full") };
        QStringList first { QStringLiteral("--project"), QStringLiteral("F") };
        if (cipherFails) {
            create << QStringLiteral("--cipher") << QStringLiteral("bf");
            first << QStringLiteral("--password-stdin");
        }
        QCOMPARE(driver(ws, create).code, 0);
        AppPaths::setWorkspacePathOverride(ws);
        QTest::qWait(1100); // archive names carry the second
        const Run built = driver(ws, first, password.toUtf8() + '\n');
        QVERIFY2(built.code == 0, QByteArray(built.last + built.err).constData());
        const QString folder = firstArchiveFolder(tree.filePath(QStringLiteral("dest")));
        const QStringList older = QDir(folder).entryList(QDir::Files);
        QCOMPARE(older.size(), 1);

        QTest::qWait(1100);
        CBackup project(QStringLiteral("F"));
        QVERIFY(project.load(firstProjectFile(ws), false));
        ScriptedUiPrompts prompts;
        const QByteArray modules = qgetenv("OPENSSL_MODULES");
        if (cipherFails) {
            prompts.expectProjectPassword(password);
            qputenv("OPENSSL_MODULES", tree.filePath(QStringLiteral("no-modules")).toUtf8());
        } else {
            MainPreferences::shared().setTarTool(tree.filePath(QStringLiteral("bin/tar")));
        }
        bool ended = false;
        project.getIBackup()->onRunEnded = [&] { ended = true; };
        QVERIFY(project.build() > 0);
        QTRY_VERIFY_WITH_TIMEOUT(ended, 30000);
        MainPreferences::shared().setTarTool(QString());
        if (modules.isNull())
            qunsetenv("OPENSSL_MODULES");
        else
            qputenv("OPENSSL_MODULES", modules);
        QCOMPARE(prompts.pending(), 0);
        QVERIFY(project.lastEndStatus() & 0x2);
        QVERIFY2(project.getIBackup()->lastStatusString().contains(QLatin1String("has failed")),
            qPrintable(project.getIBackup()->lastStatusString()));
        QVERIFY(project.lastRunFailed());
        QCOMPARE(int(project.archives().size()), 1);
        QCOMPARE(QDir(folder).entryList(QDir::Files), older);
        QCOMPARE(CBackup::m_nTarRunning, 0);
    }

    // A disc build burns from a work folder of its own. Burned: registered below that folder as
    // a disc entry and the folder gone. Not burned: nothing registered, the folder and the
    // archive kept and named. Left to the container's burn step: registered, folder kept.
    void discBuild_data()
    {
        QTest::addColumn<bool>("burned");
        QTest::addColumn<bool>("containerBurns");
        QTest::newRow("burned") << true << false;
        QTest::newRow("burn failed") << false << false;
        QTest::newRow("container burns") << false << true;
    }
    void discBuild()
    {
        QFETCH(bool, burned);
        QFETCH(bool, containerBurns);
        TempTree tree;
        tree.writeFile(std::string("src/a.txt"), "a\n");
        tree.mkdir("tmp");
        const QByteArray oldTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", tree.filePath(QStringLiteral("tmp")).toUtf8());
        RecordingShellServices shell;
        shell.burnResult = burned;
        ShellServicesScope scope(&shell);
        AppPaths::setWorkspacePathOverride(tree.filePath(QStringLiteral("ws")));
        CBackup project(QStringLiteral("D"));
        QVERIFY(project.addItemFromDisk(tree.filePath(QStringLiteral("src"))));
        ILocation disc;
        disc.setDeviceType(ILocation::DeviceCD);
        project.setLocation(disc, true);
        bool ended = false;
        project.getIBackup()->onRunEnded = [&] { ended = true; };
        QVERIFY(project.build(containerBurns) > 0);
        const QString work = project.burnWorkFolder();
        QVERIFY(QFileInfo(work).fileName().startsWith(QStringLiteral("kelvane-burn-%1.").arg(::getuid())));
        QCOMPARE(QFileInfo(work).path(), tree.filePath(QStringLiteral("tmp")));
        struct stat st = {};
        QCOMPARE(::stat(NameCodec::encode(work).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0700));
        QTRY_VERIFY_WITH_TIMEOUT(ended, 30000);
        qputenv("TMPDIR", oldTmp);
        const QString status = project.getIBackup()->lastStatusString();
        QCOMPARE(shell.calls().count(QStringLiteral("burnDisc:0")), containerBurns ? 0 : 1);
        if (burned || containerBurns) {
            QVERIFY2(status.contains(QLatin1String("has succeeded")), qPrintable(status));
            QCOMPARE(int(project.archives().size()), 1);
            const CBArchivePath& entry = project.archives().front();
            QCOMPARE(entry.deviceType, qint32(ILocation::DeviceCD));
            QCOMPARE(entry.pathFromMountPoint, project.fileName());
            QCOMPARE(QFileInfo::exists(work), containerBurns);
            QCOMPARE(project.burnWorkFolder().isEmpty(), !containerBurns);
        } else {
            QVERIFY2(
                status.contains(QLatin1String("has failed")) && status.contains(work), qPrintable(status));
            QVERIFY(project.archives().empty());
            QVERIFY(project.lastRunFailed());
            QCOMPARE(QDir(work + QLatin1Char('/') + project.fileName()).entryList(QDir::Files).size(), 1);
        }
        QCOMPARE(CBackup::m_nTarRunning, 0);
    }

    // Through the driver: a disc project made with --dest-disc and no drive to burn on fails
    // (exit 1) and names the work folder it keeps.
    void discBuildWithoutDrive()
    {
        TempTree tree;
        const QProcessEnvironment env = discRunEnvironment(tree);
        const QString ws = tree.filePath(QStringLiteral("ws"));
        Run r = driver(ws,
            { QStringLiteral("--new"), QStringLiteral("D"), QStringLiteral("--source"),
                tree.filePath(QStringLiteral("src")), QStringLiteral("--dest-disc") },
            QByteArray(), env);
        QCOMPARE(r.code, 0);
        r = driver(ws, { QStringLiteral("--project"), QStringLiteral("D") }, QByteArray(), env);
        QCOMPARE(r.code, 1);
        const QStringList kept = QDir(tree.filePath(QStringLiteral("tmp")))
                                     .entryList({ QStringLiteral("kelvane-burn-*") }, QDir::Dirs);
        QCOMPARE(kept.size(), 1);
        QVERIFY2(r.last.contains(
                     QByteArray(tree.filePath(QStringLiteral("tmp/")).toUtf8() + kept.first().toUtf8())),
            r.last.constData());
    }

    // A disc project named with "*", "[", "?", a leading "-" and a byte that is not UTF-8: its
    // archive is built, burned and found on the extracted disc under its exact bytes.
    void discArchiveWithHostileName()
    {
        TempTree tree;
        const QProcessEnvironment env = discRunEnvironment(tree);
        const QString ws = tree.filePath(QStringLiteral("ws"));
        // The name reaches the driver as raw bytes, last on its command line: the shell's printf
        // turns the escaped form, handed over as its first argument, into those bytes.
        auto run = [&](const QStringList& args, const char* name) {
            const QString script = QStringLiteral("n=$1; shift; exec \"$@\" \"$(printf -- \"$n\")\"");
            return runArchiveDriver(QStringList { QStringLiteral("--workspace"), ws } + args, QByteArray(), env,
                { QStringLiteral("/bin/sh"), QStringLiteral("-c"), script, QStringLiteral("sh"), QLatin1String(name) });
        };
        Run r = run({ QStringLiteral("--source"), tree.filePath(QStringLiteral("src")), QStringLiteral("--dest-disc"),
                        QStringLiteral("--new") },
            "-D*[1]?\\351");
        QVERIFY2(r.code == 0, r.last.constData());
        // The name function keeps a leading "-" from reading as an option.
        const QString iso = tree.filePath(QStringLiteral("disc.iso"));
        r = run({ QStringLiteral("--burn-drive"), QStringLiteral("stdio:") + iso, QStringLiteral("--project") },
            "_-D*[1]?\\351");
        QVERIFY2(r.code == 0, QByteArray(r.last + '\n' + r.err).constData());
        const QByteArray archive = r.last.split(' ').value(1);
        QVERIFY2(archive.startsWith("vers__-D*[1]?\xE9_") && archive.endsWith(".tar"), r.last.constData());
        QVERIFY(QDir(tree.filePath(QStringLiteral("tmp"))).entryList({ QStringLiteral("kelvane-burn-*") }, QDir::Dirs).isEmpty());

        const QString disc = tree.filePath(QStringLiteral("disc"));
        QProcess x;
        x.start(QStringLiteral("/usr/bin/xorriso"),
            { QStringLiteral("-osirrox"), QStringLiteral("on"), QStringLiteral("-indev"), QStringLiteral("stdio:") + iso,
                QStringLiteral("-extract"), QStringLiteral("/"), disc });
        QVERIFY(x.waitForFinished(60000) && x.exitCode() == 0);
        // The project's folder on the disc, then the archive in it, by their bytes.
        auto entries = [](const QByteArray& folder) {
            QList<QByteArray> names;
            if (DIR* d = ::opendir(folder.constData())) {
                while (dirent* e = ::readdir(d))
                    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                        names << QByteArray(e->d_name);
                ::closedir(d);
            }
            return names;
        };
        QByteArray projectFolder;
        for (const QByteArray& n : entries(NameCodec::encode(disc)))
            if (n.startsWith("_-D*[1]?\xE9_") && !n.endsWith(".bif"))
                projectFolder = n;
        QVERIFY(!projectFolder.isEmpty());
        QCOMPARE(entries(NameCodec::encode(disc) + '/' + projectFolder), QList<QByteArray>({ archive }));
    }

    // An encrypted project run in this process, its password asked through the shared project
    // prompt with "Remember password" on: the build writes the keychain item, and the restore by
    // a freshly loaded project takes it from there without asking and gets the files back.
    void rememberedPasswordBuildAndRestore()
    {
        TempTree tree;
        tree.writeFile(std::string("src/a.txt"), "a\n");
        tree.writeFile(std::string("src/sub/b.txt"), "b\n");
        tree.mkdir("ws/Backups");
        tree.mkdir("dest");
        tree.mkdir("out");
        const QString ws = tree.filePath(QStringLiteral("ws"));
        const QString src = tree.filePath(QStringLiteral("src"));
        QCOMPARE(driver(ws,
                     { QStringLiteral("--new"), QStringLiteral("K"), QStringLiteral("--source"), src,
                         QStringLiteral("--dest"), tree.filePath(QStringLiteral("dest")),
                         QStringLiteral("--cipher"), QStringLiteral("aes256") })
                     .code,
            0);
        AppPaths::setWorkspacePathOverride(ws);
        const QString bif = firstProjectFile(ws);
        MemoryKeychain keychain;
        ScriptedUiPrompts prompts;
        const QString password = QStringLiteral("s\u00e9same \"x\"");

        {
            CBackup project(QStringLiteral("K"));
            QVERIFY(project.load(bif, false));
            project.setPasswordInKeychain(true);
            prompts.expectProjectPassword(password, true);
            bool ended = false;
            project.getIBackup()->onRunEnded = [&] { ended = true; };
            QVERIFY(project.build() > 0);
            QTRY_VERIFY_WITH_TIMEOUT(ended, 30000);
            QVERIFY2(project.getIBackup()->lastStatusString().contains(QLatin1String("has succeeded")),
                qPrintable(project.getIBackup()->lastStatusString()));
            QCOMPARE(prompts.projectPasswordRequests.size(), 1);
            QCOMPARE(ProjectKeychain::read(project.name(), project.getUUID()), password);
            QVERIFY(project.save());
        }

        CBackup project(QStringLiteral("K"));
        QVERIFY(project.load(bif, false));
        QVERIFY(project.passwordInKeychain());
        QCOMPARE(int(project.archives().size()), 1);
        project.setSelectedArchiveIndex(0);
        bool ended = false;
        project.getIBackup()->onRunEnded = [&] { ended = true; };
        QVERIFY(project.restoreBegining(tree.filePath(QStringLiteral("out")), {}, false) > 0);
        QTRY_VERIFY_WITH_TIMEOUT(ended, 30000);
        QCOMPARE(prompts.projectPasswordRequests.size(), 1); // no second prompt
        QCOMPARE(bash(QStringLiteral("diff -r '%1' '%2' && echo same")
                          .arg(src, tree.filePath(QStringLiteral("out")) + src)),
            QByteArray("same\n"));
        QCOMPARE(prompts.pending(), 0);
        QVERIFY(prompts.unexpected.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestArchiveRun)
#include "tst_archiverun.moc"
