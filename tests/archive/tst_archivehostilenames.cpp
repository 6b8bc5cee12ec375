// kv-test: labels=unit timeout=240

// Top-level items whose names read as tar options or folder changes ("-rf", "-C",
// "--checkpoint-action=exec=touch pwned"), with a line feed, a backslash, a space and bytes that
// are not UTF-8, made into a project with the driver's --new (the pane's project creation),
// archived plain and with AES-256, then restored two items into a folder through --item (the
// restore view's member list) and everything to the original places: the bytes come back, tar
// succeeds, and nothing runs.

#include "ArchiveDriverRun.h"
#include "TempTree.h"
#include "archive/ArchiveRestoreMembers.h"
#include "archive/CBackup.h"
#include "archive/CBackupItem.h"
#include "archive/IBackup.h"
#include "platform/AppPaths.h"
#include "platform/NameCodec.h"

#include <QDirIterator>
#include <QtTest>

namespace {

const std::vector<std::string> kNames = { "-rf", "-C", "--checkpoint-action=exec=touch pwned", "line\nfeed",
    "back\\slash", "a space", std::string("bytes\xff\xfe") };

QByteArray contentOf(const std::string& name)
{
    return QByteArray("content of ") + QByteArray::fromStdString(name);
}

// The driver with arguments as bytes (a name that is not UTF-8 cannot pass through QString):
// xargs hands them over as they are.
ArchiveDriverRun runWithBytes(const QList<QByteArray>& args, const QByteArray& input, const TempTree& tree)
{
    const QString argFile = tree.filePath(std::string("args"));
    QFile f(argFile);
    if (!f.open(QIODevice::WriteOnly))
        return {};
    for (const QByteArray& a : args)
        f.write(a + '\0');
    f.close();
    const QString driver = KvTest::appContentsDir() + QStringLiteral("/MacOS/kv-run-project");
    QProcess p;
    p.start(QStringLiteral("/usr/bin/xargs"), { "-0", "-a", argFile, driver, "--kit", "archive" });
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(180000);
    ArchiveDriverRun r;
    r.code = p.exitCode();
    const QList<QByteArray> lines = p.readAllStandardOutput().trimmed().split('\n');
    r.last = lines.isEmpty() ? QByteArray() : lines.last();
    r.err = p.readAllStandardError();
    return r;
}

bool nothingNamedPwned(const QString& root)
{
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        if (it.next().endsWith(QLatin1String("/pwned")))
            return false;
    return true;
}

} // namespace

class TestArchiveHostileNames : public QObject
{
    Q_OBJECT
private slots:
    void hostileTopLevelNames_data();
    void hostileTopLevelNames();
    void relativeArchiveGroups();
};

void TestArchiveHostileNames::hostileTopLevelNames_data()
{
    QTest::addColumn<QString>("cipher");
    QTest::newRow("plain") << QString();
    QTest::newRow("aes256") << QStringLiteral("aes256");
}

void TestArchiveHostileNames::hostileTopLevelNames()
{
    QFETCH(QString, cipher);
    TempTree tree;
    QVERIFY(tree.mkdir(std::string("src")));
    QVERIFY(tree.mkdir(std::string("ws/Backups")));
    QVERIFY(tree.mkdir(std::string("dest")));
    QVERIFY(tree.mkdir(std::string("out")));
    QList<QByteArray> create { "--workspace", tree.filePathStd("ws").c_str(), "--new", "H", "--dest",
        tree.filePathStd("dest").c_str() };
    for (const std::string& n : kNames) {
        // "-C" is a folder holding a file; the rest are files.
        if (n == "-C") {
            QVERIFY(tree.mkdir("src/" + n));
            QVERIFY(tree.writeFile("src/" + n + "/inner", contentOf(n)));
        } else {
            QVERIFY(tree.writeFile("src/" + n, contentOf(n)));
        }
        create << "--source" << QByteArray::fromStdString(tree.filePathStd("src/" + n));
    }
    if (!cipher.isEmpty())
        create << "--cipher" << cipher.toUtf8();
    const QByteArray password = "pass word\n";
    ArchiveDriverRun r = runWithBytes(create, QByteArray(), tree);
    QVERIFY2(r.code == 0, QByteArray(r.last + r.err).constData());
    const QStringList project { "--workspace", tree.filePath(std::string("ws")), "--project", "H",
        "--password-stdin" };
    r = runArchiveDriver(project, password);
    QVERIFY2(r.code == 0, QByteArray(r.last + r.err).constData());

    // Two items into a folder: "-rf" and the option-like name.
    const QString argvFile = tree.filePath(std::string("argv"));
    r = runArchiveDriver(project
            + QStringList { "--restore", "--item", tree.filePath(std::string("src/-rf")), "--item",
                tree.filePath(std::string("src/--checkpoint-action=exec=touch pwned")), "--to",
                tree.filePath(std::string("out")), "--argv-out", argvFile },
        password);
    QVERIFY2(r.code == 0, QByteArray(r.last + r.err).constData());
    // tar got the folder in argv, not unquoted, and the names in a NUL list.
    const QList<QByteArray> words = tree.readFile(std::string("argv")).split('\0');
    const qsizetype at = words.indexOf("--no-unquote");
    QVERIFY2(at > 0 && at + 5 < words.size(), tree.readFile(std::string("argv")).constData());
    QCOMPARE(words.mid(at + 1, 4),
        (QList<QByteArray> { "-C", NameCodec::encode(tree.filePath(std::string("out"))), "--null", "-T" }));
    const std::string out = "out" + tree.filePathStd("src");
    QCOMPARE(tree.readFile(out + "/-rf"), contentOf("-rf"));
    QCOMPARE(tree.readFile(out + "/--checkpoint-action=exec=touch pwned"),
        contentOf("--checkpoint-action=exec=touch pwned"));
    QVERIFY(!tree.exists(out + "/a space"));

    // Everything to the original places, after every source changed.
    for (const std::string& n : kNames)
        QVERIFY(tree.writeFile("src/" + n + (n == "-C" ? "/inner" : ""), "changed"));
    r = runArchiveDriver(project + QStringList { "--restore", "--in-place" }, password);
    QVERIFY2(r.code == 0, QByteArray(r.last + r.err).constData());
    for (const std::string& n : kNames)
        QCOMPARE(tree.readFile("src/" + n + (n == "-C" ? "/inner" : "")), contentOf(n));
    QVERIFY(nothingNamedPwned(tree.path()));
    QVERIFY(nothingNamedPwned(QDir::currentPath()));
}

// An archive of the older form, which stores names relative to each top-level item's folder:
// "-C" (a folder) from one folder and "-rf" from another come back to their own folders as two
// member groups, and into a folder as one, with nothing read as a folder change or an option.
void TestArchiveHostileNames::relativeArchiveGroups()
{
    TempTree tree;
    QVERIFY(tree.mkdir(std::string("p1/-C")));
    QVERIFY(tree.mkdir(std::string("p2")));
    QVERIFY(tree.mkdir(std::string("ws/Backups")));
    QVERIFY(tree.mkdir(std::string("dest")));
    QVERIFY(tree.writeFile(std::string("p1/-C/inner"), "inner"));
    QVERIFY(tree.writeFile(std::string("p2/-rf"), "rf"));
    const QString ws = tree.filePath(std::string("ws"));
    const QString p1 = tree.filePath(std::string("p1"));
    const QString p2 = tree.filePath(std::string("p2"));
    ArchiveDriverRun r = runArchiveDriver({ "--workspace", ws, "--new", "Rel", "--source", p1 + "/-C",
        "--source", p2 + "/-rf", "--dest", tree.filePath(std::string("dest")) });
    QVERIFY2(r.code == 0, QByteArray(r.last + r.err).constData());

    AppPaths::setWorkspacePathOverride(ws);
    const QString bif = tree.filePath(std::string("ws/Backups/"))
        + QDir(tree.filePath(std::string("ws/Backups"))).entryList({ QStringLiteral("*.bif") }).first();
    CBackup project(QStringLiteral("Rel"));
    QVERIFY(project.load(bif, false));
    const QString folder = project.getAbsolutePathName(true, false);
    QVERIFY(!folder.isEmpty());
    const QString archive = folder + QStringLiteral("/full_Rel_2020-01-02_03-04-05.tar");
    // Made by tar itself with the same member form.
    QVERIFY(tree.writeFile(std::string("l1"), QByteArray("-C", 3)));
    QVERIFY(tree.writeFile(std::string("l2"), QByteArray("-rf", 4)));
    QProcess tar;
    tar.start(QStringLiteral("tar"),
        { "-cf", archive, "--no-unquote", "-C", p1, "--null", "-T", tree.filePath(std::string("l1")), "-C",
            p2, "--null", "-T", tree.filePath(std::string("l2")) });
    QVERIFY(tar.waitForFinished(30000) && tar.exitCode() == 0);
    QCOMPARE(project.addArchNameWithCompletedBackup(archive), 0);
    project.setSelectedArchiveIndex(0);
    QList<const CBackupItem*> items;
    for (int i = 0; i < project.count(); ++i)
        items << project.itemAt(i);
    QCOMPARE(items.size(), 2);

    bool ended = false;
    project.getIBackup()->onRunEnded = [&] { ended = true; };
    QVERIFY(tree.writeFile(std::string("p1/-C/inner"), "changed"));
    QVERIFY(tree.writeFile(std::string("p2/-rf"), "changed"));
    const RestoreMembers inPlace = ArchiveRestoreMembers::forItems(items, true, false);
    QCOMPARE(inPlace.size(), 2);
    QCOMPARE(project.restoreBegining(QString(), inPlace, false), 1);
    QTRY_VERIFY_WITH_TIMEOUT(ended, 30000);
    QVERIFY2(project.getIBackup()->lastStatusString().contains(QLatin1String("has succeeded")),
        qPrintable(project.getIBackup()->lastStatusString()));
    QCOMPARE(tree.readFile(std::string("p1/-C/inner")), QByteArray("inner"));
    QCOMPARE(tree.readFile(std::string("p2/-rf")), QByteArray("rf"));
    // The copies tar moved aside in each group's folder are gone.
    QCOMPARE(tree.list("p1/-C"), (std::vector<std::string> { "inner" }));
    QCOMPARE(tree.list("p2"), (std::vector<std::string> { "-rf" }));

    // Into a folder that does not exist yet: one group, both names there.
    ended = false;
    QCOMPARE(project.restoreBegining(tree.filePath(std::string("out/new")),
                 ArchiveRestoreMembers::forItems(items, false, false), false),
        1);
    QTRY_VERIFY_WITH_TIMEOUT(ended, 30000);
    QCOMPARE(tree.readFile(std::string("out/new/-C/inner")), QByteArray("inner"));
    QCOMPARE(tree.readFile(std::string("out/new/-rf")), QByteArray("rf"));
    QCOMPARE(tree.list("out/new"), (std::vector<std::string> { "-C", "-rf" }));
    QVERIFY(nothingNamedPwned(tree.path()));
}

QTEST_GUILESS_MAIN(TestArchiveHostileNames)
#include "tst_archivehostilenames.moc"
