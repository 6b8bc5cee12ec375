// kv-test: labels=unit timeout=300

// Snapshot restores through the headless driver with the real rsync: one file of an older version
// into a folder, a whole version in place (a newer file kept: warnings), a project folder copied
// elsewhere, hostile version lists, the refusals (exit 2, nothing written) and the documented
// examples of bench/README.md.

#include "E2eWorkspace.h"
#include "TempTree.h"

#include <QFile>
#include <QtTest>

using namespace E2e;

namespace {

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList restoreArgs(const QString& ws, const QStringList& extra)
{
    return QStringList { QStringLiteral("--workspace"), ws, QStringLiteral("--restore") } + extra;
}

// Two versions of SRC (a/b.txt "old", then "new"; keep.txt in both) in DEST.
struct TwoVersions
{
    TempTree tree { QStringLiteral("restorecli") };
    ProjectPlan plan;
    QString ws, src, v1, v2;

    bool make()
    {
        put(tree, "src/a/b.txt", "old");
        put(tree, "src/keep.txt", "k");
        tree.mkdir("dest");
        ws = tree.filePath(QStringLiteral("ws"));
        src = tree.filePath(QStringLiteral("src"));
        plan.sources = { src };
        plan.destination = tree.filePath(QStringLiteral("dest"));
        // A restore keeps files that are newer on disk (rsync -u) for this project.
        QVariantMap project = projectDict(plan);
        project.insert(QStringLiteral("Options"), qint64(8));
        if (!writeWorkspace(ws, { project }))
            return false;
        const DriverRun r1 = runProject(ws, plan.name);
        if (r1.exitCode != 0) {
            qWarning("%s", r1.log.constData());
            return false;
        }
        v1 = r1.version;
        QTest::qWait(1100); // version names carry the second
        put(tree, "src/a/b.txt", "new");
        const DriverRun r2 = runProject(ws, plan.name);
        v2 = r2.version;
        return r2.exitCode == 0 && v1 != v2;
    }
};

void setFirstLocation(const QString& infoFile, const QString& key, const QVariant& value)
{
    QVariantMap info = PlistBridge::readFile(infoFile).value.toMap();
    QVariantList entries = info.value(QStringLiteral("ProcessDataArray")).toList();
    for (QVariant& e : entries) {
        QVariantMap m = e.toMap();
        QVariantList locations = m.value(QStringLiteral("Locations")).toList();
        QVariantMap first = locations.value(0).toMap();
        if (key == QLatin1String("Folder"))
            m.insert(key, value);
        else
            first.insert(key, value);
        locations[0] = first;
        m.insert(QStringLiteral("Locations"), locations);
        e = m;
    }
    info.insert(QStringLiteral("ProcessDataArray"), entries);
    QVERIFY(PlistBridge::writeFileAtomically(infoFile, info));
}

} // namespace

class TestSnapshotRestoreCli : public QObject
{
    Q_OBJECT
private slots:
    void restoreRoads();
    void externalAndHostileLists();
    void refusals();
    void readmeExamples();
};

void TestSnapshotRestoreCli::restoreRoads()
{
    TwoVersions t;
    QVERIFY(t.make());
    TempTree& tree = t.tree;

    // One file of the older version into a folder: its parent folders below the source come along.
    tree.mkdir("out");
    const QString out = tree.filePath(QStringLiteral("out"));
    DriverRun r = runDriver(restoreArgs(
        t.ws, { "--project", "Docs", "--version", t.v1, "--item", "src.wrp1/src/a/b.txt", "--to", out }));
    QVERIFY2(r.exitCode == 0, r.log.constData());
    QCOMPARE(r.lastLine, QStringLiteral("0 %1 Restore was successful").arg(t.v1));
    QCOMPARE(fileBytes(out + QStringLiteral("/src/a/b.txt")), QByteArray("old"));
    QCOMPARE(entries(out + QStringLiteral("/src")), QStringList { "a" });

    // The whole older version in place: the deleted file comes back, the newer one is kept.
    QVERIFY(::unlink(tree.filePathStd("src/keep.txt").c_str()) == 0);
    r = runDriver(restoreArgs(t.ws, { "--project", "Docs", "--version", t.v1, "--in-place" }));
    QVERIFY2(r.exitCode == 3, r.log.constData());
    QCOMPARE(r.lastLine, QStringLiteral("3 %1 Restore was successful with some warnings.").arg(t.v1));
    QCOMPARE(fileBytes(t.src + QStringLiteral("/keep.txt")), QByteArray("k"));
    QCOMPARE(fileBytes(t.src + QStringLiteral("/a/b.txt")), QByteArray("new"));

    // Without --version the newest version is restored.
    tree.mkdir("out2");
    r = runDriver(restoreArgs(t.ws, { "--project", "Docs", "--to", tree.filePath(QStringLiteral("out2")) }));
    QVERIFY2(r.exitCode == 0, r.log.constData());
    QCOMPARE(r.version, t.v2);
    QCOMPARE(fileBytes(tree.filePath(QStringLiteral("out2/src/a/b.txt"))), QByteArray("new"));
}

void TestSnapshotRestoreCli::externalAndHostileLists()
{
    TwoVersions t;
    QVERIFY(t.make());
    TempTree& tree = t.tree;
    const QString folderName = t.plan.name + QLatin1Char('_') + t.plan.uuid;
    tree.mkdir("ext");
    Subprocess::Options cp;
    cp.program = QStringLiteral("cp");
    cp.arguments << QStringLiteral("-a") << projectFolder(t.plan) << tree.filePath(QStringLiteral("ext/"));
    QVERIFY(Subprocess::run(cp, 60000).exitCode == 0);
    const QString ext = tree.filePath(QStringLiteral("ext/")) + folderName;

    // The copy restores like the original.
    tree.mkdir("out");
    const QString out = tree.filePath(QStringLiteral("out"));
    DriverRun r = runDriver(restoreArgs(t.ws, { "--external", ext, "--to", out }));
    QVERIFY2(r.exitCode == 0, r.log.constData());
    QCOMPARE(r.version, t.v2);
    QCOMPARE(fileBytes(out + QStringLiteral("/src/a/b.txt")), QByteArray("new"));
    QCOMPARE(fileBytes(out + QStringLiteral("/src/keep.txt")), QByteArray("k"));

    // In place, the places are listed first (the confirmation that --in-place answers).
    r = runDriver(restoreArgs(t.ws, { "--external", ext, "--version", t.v1, "--in-place" }));
    QVERIFY2(r.exitCode == 0, r.log.constData());
    QCOMPARE(fileBytes(t.src + QStringLiteral("/a/b.txt")), QByteArray("old"));
    QVERIFY2(r.err.startsWith(QByteArray("target: " + NameCodec::encode(t.src) + "\n")), r.err.constData());

    // Hostile lists: a source recorded under /etc restores into the chosen folder only.
    const QString info = ext + QStringLiteral("/qv3info.plist");
    setFirstLocation(info, QStringLiteral("MountPoint"), QStringLiteral("/etc"));
    tree.mkdir("out3");
    r = runDriver(restoreArgs(t.ws, { "--external", ext, "--to", tree.filePath(QStringLiteral("out3")) }));
    QVERIFY2(r.exitCode == 0, r.log.constData());
    QCOMPARE(fileBytes(tree.filePath(QStringLiteral("out3/src/a/b.txt"))), QByteArray("new"));

    // A name that is not one component, or of the wrong type: not started, nothing written.
    const QList<QPair<QString, QVariant>> bad = { { "ArchiveName", QStringLiteral("a/b") },
        { "ArchiveName", QStringLiteral("..") }, { "ArchiveName", qint64(3) },
        { "Folder", QStringLiteral("../x") }, { "Folder", QStringLiteral("a/b") } };
    for (const auto& [key, value] : bad) {
        Subprocess::Options again = cp;
        again.arguments = QStringList { QStringLiteral("-a"),
            projectFolder(t.plan) + QStringLiteral("/qv3info.plist"), info };
        QVERIFY(Subprocess::run(again, 60000).exitCode == 0);
        setFirstLocation(info, key, value);
        tree.mkdir("out4");
        r = runDriver(
            restoreArgs(t.ws, { "--external", ext, "--to", tree.filePath(QStringLiteral("out4")) }));
        QVERIFY2(r.exitCode == 2, qPrintable(key + QStringLiteral(": ") + QString::fromUtf8(r.log)));
        QCOMPARE(entries(tree.filePath(QStringLiteral("out4"))), QStringList());
    }
}

void TestSnapshotRestoreCli::refusals()
{
    TwoVersions t;
    QVERIFY(t.make());
    TempTree& tree = t.tree;
    tree.mkdir("out");
    tree.mkdir("plain");
    tree.mkdir("x");
    const QString out = tree.filePath(QStringLiteral("out"));
    const QList<QStringList> cases = {
        { "--project", "Docs", "--to", out, "--in-place" },
        { "--project", "Docs" },
        { "--project", "Docs", "--version", "b3_2000-01-01_00-00-00", "--to", out },
        { "--project", "Docs", "--version", "../x", "--to", out },
        { "--project", "Docs", "--item", "src.wrp1/src/../../x", "--to", out },
        { "--project", "Docs", "--item", "src.wrp1", "--to", out },
        { "--project", "Docs", "--item", "Other.wrp9/Other", "--to", out },
        { "--project", "Docs", "--to", tree.filePath(QStringLiteral("missing")) },
        { "--external", tree.filePath(QStringLiteral("plain")), "--to", out },
        { "--external", tree.filePath(QStringLiteral("x")), "--project", "Docs", "--to", out },
    };
    const QStringList before = entries(projectFolder(t.plan));
    for (const QStringList& args : cases) {
        const DriverRun r = runDriver(restoreArgs(t.ws, args));
        QVERIFY2(
            r.exitCode == 2, qPrintable(args.join(QLatin1Char(' ')) + QStringLiteral(" -> ") + r.lastLine));
        QVERIFY(r.lastLine.startsWith(QLatin1String("2 - ")));
        QCOMPARE(entries(out), QStringList());
    }
    QCOMPARE(entries(projectFolder(t.plan)), before);
    // A run without --restore is unchanged: --version alone is a usage error.
    QCOMPARE(runProject(t.ws, QStringLiteral("Docs"), { "--version", t.v1 }).exitCode, 2);
}

// Every example line of bench/README.md's snapshot restore section, as it stands there.
void TestSnapshotRestoreCli::readmeExamples()
{
    QFile readme(KvTest::sourceDir() + QStringLiteral("/bench/README.md"));
    QVERIFY(readme.open(QIODevice::ReadOnly));
    const QByteArray text = readme.readAll();
    const qsizetype at = text.indexOf("Snapshot restore example (one test runs it):");
    QVERIFY(at > 0);
    QList<QByteArray> commands;
    for (const QByteArray& line : text.mid(at).split('\n')) {
        if (line.startsWith("    kv-run-project ") || line.startsWith("    mkdir "))
            commands << line.trimmed();
        else if (line.startsWith("#"))
            break;
    }
    QCOMPARE(commands.size(), 4);
    TempTree tree(QStringLiteral("restorereadme"));
    put(tree, "home/Docs/note.txt", "note\n");
    tree.mkdir("backup");
    ProjectPlan plan;
    plan.uuid = QStringLiteral("6F1C2A0E-3B7D-4C55-9A10-2D8E4F6B7C01");
    plan.sources = { tree.filePath(QStringLiteral("home/Docs")) };
    plan.destination = tree.filePath(QStringLiteral("backup"));
    QVERIFY(writeWorkspace(tree.filePath(QStringLiteral("ws")), { projectDict(plan) }));
    QCOMPARE(runProject(tree.filePath(QStringLiteral("ws")), plan.name).exitCode, 0);

    QString body
        = QStringLiteral("set -e; cd '%1'; export HOME='%1/home'; kv-run-project() { \"%2\" \"$@\"; }; ")
              .arg(tree.path(), driverPath());
    for (QByteArray c : commands)
        body += QString::fromUtf8(
                    c.replace("/backup", plan.destination.toUtf8())
                        .replace("/tmp/restored", tree.filePath(QStringLiteral("restored")).toUtf8()))
            + QStringLiteral(" >/dev/null 2>&1; ");
    Subprocess::Options o;
    o.program = QStringLiteral("bash");
    o.arguments << QStringLiteral("-c") << body;
    const Subprocess::Result r = Subprocess::run(o, 120000);
    QVERIFY2(r.exitCode == 0, r.err.constData());
    QCOMPARE(fileBytes(tree.filePath(QStringLiteral("restored/all/Docs/note.txt"))), QByteArray("note\n"));
    QCOMPARE(fileBytes(tree.filePath(QStringLiteral("restored/one/Docs/note.txt"))), QByteArray("note\n"));
    QCOMPARE(fileBytes(tree.filePath(QStringLiteral("restored/ext/Docs/note.txt"))), QByteArray("note\n"));
}

QTEST_GUILESS_MAIN(TestSnapshotRestoreCli)
#include "tst_snapshotrestorecli.moc"
