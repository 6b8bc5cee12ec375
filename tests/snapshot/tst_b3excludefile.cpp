// kv-test: labels=unit timeout=120

#include "KvTest.h"
#include "TempTree.h"
#include "platform/NameCodec.h"
#include "platform/Subprocess.h"
#include "snapshot/B3ExcludeFile.h"
#include "utilities/RsyncExcludes.h"

#include <QtTest>
#include <filesystem>
#include <set>

namespace {

// Every path below root (files and folders), relative, as bytes.
std::set<std::string> walk(const std::string& root)
{
    std::set<std::string> out;
    for (auto it = std::filesystem::recursive_directory_iterator(root);
         it != std::filesystem::recursive_directory_iterator(); ++it)
        out.insert(std::filesystem::relative(it->path(), root).string());
    return out;
}

// Removes the path and everything below it from the set.
void dropTree(std::set<std::string>& paths, const std::string& top)
{
    for (auto it = paths.begin(); it != paths.end();) {
        if (*it == top || it->rfind(top + "/", 0) == 0)
            it = paths.erase(it);
        else
            ++it;
    }
}

} // namespace

class TestB3ExcludeFile : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void realRsyncSkipsExactlyTheExcludedPaths();
    void lines_data();
    void lines();
    void unwritableFolderIsAClearError();
};

// The project's excluded paths, written as the file of the pass, make a real rsync leave out
// exactly those paths: not their look-alikes, not same-named items at other depths, not a sibling
// folder whose name starts like the source.
void TestB3ExcludeFile::realRsyncSkipsExactlyTheExcludedPaths()
{
    TempTree tree(QStringLiteral("b3excl"));
    QVERIFY(tree.isValid());
    const std::vector<std::string> files = {
        "Projects/tmp/a",
        "Projects/sub/tmp/b", // only the top tmp is excluded
        "Projects/br{x}/c",
        "Projects/brx/c", // braces are no pattern
        "Projects/st*r",
        "Projects/stXr", // a star only matches itself
        "Projects/a[1]",
        "Projects/a1", // brackets are literal
        "Projects/q?x",
        "Projects/qZx", // so is a question mark
        "Projects/#c",
        "Projects/+ p",
        "Projects/; semi", // comment and rule prefixes stay names
        "Projects/with blank/d",
        "Projects/tail ", // blanks inside and at the end
        "Projects/nl\nx",
        "Projects/nlYx", // a newline name goes on the command line
        "Projects/bad\xff\xfe name",
        "Projects/bad name", // bytes that are not UTF-8
        "Projects/back\\slash",
        "Projects/keep",
        "Projects2/x",
    };
    for (const std::string& f : files)
        QVERIFY2(tree.writeFile(f, "x"), f.c_str());

    const QString src = tree.filePath(QStringLiteral("Projects"));
    QStringList excluded;
    const std::vector<std::string> excludedRel = { "tmp", "br{x}", "st*r", "a[1]", "q?x", "#c", "+ p",
        "; semi", "with blank", "tail ", "nl\nx", "bad\xff\xfe name", "back\\slash" };
    for (const std::string& rel : excludedRel)
        excluded << NameCodec::decode(tree.filePathStd("Projects/" + rel));
    excluded << tree.filePath(QStringLiteral("Projects2/x")) // a sibling that only starts like the source
             << src // the source itself writes nothing
             << QStringLiteral("/elsewhere/tmp");

    const B3ExcludeFile::Rules rules = B3ExcludeFile::rulesForSource(src, excluded);
    QCOMPARE(rules.arguments.size(), 1); // the newline name
    TempTree tmp(QStringLiteral("b3excltmp"));
    QString error;
    const QString file = RsyncExcludes::writeFile(tmp.path(), rules.lines, &error);
    QVERIFY2(!file.isNull(), qPrintable(error));
    QVERIFY(file.endsWith(QLatin1String(".custom.txt")));
    QCOMPARE(QFileInfo(file).permissions() & (QFile::ReadOther | QFile::ReadGroup), QFile::Permissions());

    tree.mkdir("dest");
    Subprocess::Options o;
    o.program = QStringLiteral("rsync");
    o.arguments << QStringLiteral("-a") << QStringLiteral("--exclude-from=") + file;
    o.arguments += rules.arguments;
    o.arguments << src << tree.filePath(QStringLiteral("dest")) + QLatin1Char('/');
    const Subprocess::Result r = Subprocess::run(o, 60000);
    QVERIFY2(r.started && r.exitCode == 0, r.err.constData());

    std::set<std::string> expected = walk(tree.filePathStd("Projects"));
    for (const std::string& rel : excludedRel)
        dropTree(expected, rel);
    const std::set<std::string> got = walk(tree.filePathStd("dest/Projects"));
    if (got != expected) {
        for (const std::string& s : got)
            if (!expected.count(s))
                qWarning("copied but excluded: %s", s.c_str());
        for (const std::string& s : expected)
            if (!got.count(s))
                qWarning("missing: %s", s.c_str());
    }
    QVERIFY(got == expected);
    QVERIFY(got.count("sub/tmp/b") && got.count("stXr") && got.count("a1") && got.count("nlYx"));
    QVERIFY(!tree.exists("dest/Projects2"));
}

void TestB3ExcludeFile::lines_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QStringList>("excluded");
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<QStringList>("lines");

    const QStringList both = { "/Volumes/Data/Projects/tmp", "/Users/x/Cache" };
    QTest::newRow("inside the source")
        << "/Volumes/Data/Projects" << both << QStringList() << QStringList { "/Projects/tmp" };
    QTest::newRow("source with trailing slash")
        << "/Volumes/Data/Projects/" << both << QStringList() << QStringList { "/Projects/tmp" };
    QTest::newRow("root source writes full paths")
        << "/" << both << QStringList() << QStringList { "/Volumes/Data/Projects/tmp", "/Users/x/Cache" };
    QTest::newRow("entry equal to the source")
        << "/d/P" << QStringList { "/d/P", "/d/P/" } << QStringList() << QStringList();
    QTest::newRow("sibling with the same prefix")
        << "/d/P" << QStringList { "/d/P2/x", "/d/Px" } << QStringList() << QStringList();
    QTest::newRow("bracket escaped with its backslash")
        << "/d/P" << QStringList { "/d/P/a[1]\\b" } << QStringList() << QStringList { "/P/a\\[1\\]\\\\b" };
    QTest::newRow("braces and backslash alone stay")
        << "/d/P" << QStringList { "/d/P/br{x}\\y" } << QStringList() << QStringList { "/P/br{x}\\y" };
    QTest::newRow("project folder inside the source")
        << "/home/u" << QStringList { "/home/u/tmp" } << QStringList { "/home/u/Backups/Docs_1234", "/mnt/x" }
        << QStringList { "/u/tmp", "/u/Backups/Docs_1234" };
    QTest::newRow("duplicates written once")
        << "/d/P" << QStringList { "/d/P/t", "/d/P/t/" } << QStringList() << QStringList { "/P/t" };
    QTest::newRow("nothing to exclude") << "/d/P" << QStringList() << QStringList() << QStringList();
}

void TestB3ExcludeFile::lines()
{
    QFETCH(QString, source);
    QFETCH(QStringList, excluded);
    QFETCH(QStringList, extra);
    QFETCH(QStringList, lines);
    const B3ExcludeFile::Rules rules = B3ExcludeFile::rulesForSource(source, excluded, extra);
    QStringList got;
    for (const QByteArray& l : rules.lines)
        got << QString::fromUtf8(l);
    QCOMPARE(got, lines);
    QVERIFY(rules.arguments.isEmpty());
}

void TestB3ExcludeFile::unwritableFolderIsAClearError()
{
    QString error;
    QVERIFY(RsyncExcludes::writeFile(QStringLiteral("/nonexistent/folder"), { "/P/x" }, &error).isNull());
    QVERIFY(error.contains(QLatin1String("/nonexistent/folder")));
}

QTEST_GUILESS_MAIN(TestB3ExcludeFile)
#include "tst_b3excludefile.moc"
