// kv-test: labels=unit timeout=300

// A real run of the documented minimal list on the build's file system through the headless
// driver, and the argument vectors it records with --argv-out.

#include "E2eWorkspace.h"

#include <QFile>
#include <QtTest>

using namespace E2e;

namespace {

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The vectors of an --argv-out file.
QList<QStringList> argvVectors(const QByteArray& bytes, bool* wellFormed)
{
    QList<QStringList> vectors;
    QStringList current;
    *wellFormed = bytes.isEmpty() || bytes.endsWith(QByteArray("\0\0", 2));
    qsizetype start = 0;
    while (start < bytes.size()) {
        const qsizetype nul = bytes.indexOf('\0', start);
        if (nul < 0) {
            *wellFormed = false;
            break;
        }
        const QByteArray element = bytes.mid(start, nul - start);
        if (element.isEmpty()) {
            vectors.append(current);
            current.clear();
        } else {
            current.append(NameCodec::decode(element));
        }
        start = nul + 1;
    }
    if (!current.isEmpty())
        *wellFormed = false;
    return vectors;
}

} // namespace

class TestRunProjectArgv : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void runFromTheFixtureRecordsItsArgv();
};

// The documented list, pointed at folders of the build's file system, runs: a version, the
// list saved with its archive order kept, and one NUL-separated vector per pass, the second
// run's naming the first version as its hard-link reference.
void TestRunProjectArgv::runFromTheFixtureRecordsItsArgv()
{
    TempTree tree(QStringLiteral("fixture-run"));
    QVERIFY(tree.isValid());
    QVERIFY(tree.mkdir("Documents"));
    QVERIFY(put(tree, "Documents/letter.txt", "dear"));
    QVERIFY(tree.mkdir("dest"));
    QVariantMap root
        = PlistBridge::readFile(KvTest::sourceDir() + "/tests/fixtures/projects-minimal.plist").value.toMap();
    QVariantList projects = root.value("Backups3").toList();
    QVariantMap p = projects.at(0).toMap();
    QVariantMap src = locationDict(tree.filePath(std::string("Documents")), 1);
    p.insert("Sources", QVariantList { src });
    p.insert("Destination", locationDict(tree.filePath(std::string("dest"))));
    projects[0] = p;
    root.insert("Backups3", projects);
    root.insert("ArchiveOrderList", QVariantList { QStringLiteral("ARCHIVE-UUID-1") });
    const QString ws = tree.filePath(std::string("ws"));
    QVERIFY(QDir().mkpath(ws + "/Backups"));
    QVERIFY(PlistBridge::writeFileAtomically(listPath(ws), root));
    const QString argvFile = tree.filePath(std::string("argv"));
    const QStringList args { "--workspace", ws, "--project", "Documents", "--argv-out", argvFile };

    const DriverRun first = runDriver(args);
    QVERIFY2(first.exitCode == 0, first.log.constData());
    QVERIFY2(first.version.startsWith(QLatin1String("b3_")), qPrintable(first.lastLine));
    QCOMPARE(first.status, QStringLiteral("Backup was successful"));
    const QString folder
        = tree.filePath(std::string("dest")) + "/Documents_6F1C2A0E-3B7D-4C55-9A10-2D8E4F6B7C01";
    QCOMPARE(versionFolders(folder), QStringList { first.version });
    QCOMPARE(
        fileBytes(folder + "/" + first.version + "/Documents.wrp1/Documents/letter.txt"), QByteArray("dear"));

    QVERIFY(put(tree, "Documents/second.txt", "more"));
    const DriverRun second = runDriver(args);
    QVERIFY2(second.exitCode == 0, second.log.constData());
    QVERIFY(second.version != first.version);

    bool wellFormed = false;
    const QList<QStringList> vectors = argvVectors(fileBytes(argvFile), &wellFormed);
    QVERIFY(wellFormed);
    QCOMPARE(vectors.size(), 2);
    for (const QStringList& v : vectors) {
        QVERIFY2(v.first().endsWith(QLatin1String("/Resources/rsync3")), qPrintable(v.join(' ')));
        QVERIFY(v.contains(tree.filePath(std::string("Documents")))
            || v.contains(tree.filePath(std::string("Documents/"))));
    }
    auto linkDest = [](const QStringList& v) {
        for (const QString& a : v)
            if (a.startsWith(QLatin1String("--link-dest=")))
                return a.mid(12);
        return QString();
    };
    QVERIFY(linkDest(vectors.at(0)).isEmpty());
    QVERIFY2(linkDest(vectors.at(1)).startsWith(folder + "/" + first.version + "/"),
        qPrintable(vectors.at(1).join(' ')));

    // The list was saved by the run: the new version is recorded, the archive order kept.
    const QVariantMap saved = PlistBridge::readFile(listPath(ws)).value.toMap();
    QCOMPARE(saved.value("ArchiveOrderList").toList(), QVariantList { QStringLiteral("ARCHIVE-UUID-1") });
    QCOMPARE(
        saved.value("Backups3").toList().value(0).toMap().value("LastFolder").toString(), second.version);
}

QTEST_GUILESS_MAIN(TestRunProjectArgv)
#include "tst_runprojectargv.moc"
