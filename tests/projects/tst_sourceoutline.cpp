// kv-test: labels=unit timeout=120

// The source outline: the hidden-list matcher, the include toggles and the minimal exclude list
// they keep (checked against a real rsync), check-all on a large folder, and the model's
// consistency while files appear and vanish.

#include "KvTest.h"
#include "TempTree.h"
#include "platform/NameCodec.h"
#include "platform/PackagePaths.h"
#include "platform/Subprocess.h"
#include "projects/OutlineMatcher.h"
#include "projects/SourceOutlineModel.h"
#include "snapshot/B3ExcludeFile.h"
#include "utilities/RsyncExcludes.h"

#include <QAbstractItemModelTester>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QtTest>
#include <filesystem>
#include <map>
#include <set>

namespace {

// A synthetic file system: folder path -> entries.
class FakeLister : public IOutlineLister
{
public:
    QHash<QString, QList<OutlineEntry>> folders;
    QList<OutlineEntry> list(const QString& folder) override { return folders.value(folder); }
    OutlineEntry stat(const QString& path) override
    {
        OutlineEntry e;
        e.name = path;
        e.exists = folders.contains(path);
        e.isFolder = e.exists;
        return e;
    }
    void add(const QString& folder, const QString& name, bool isFolder)
    {
        OutlineEntry e;
        e.name = name;
        e.exists = true;
        e.isFolder = isFolder;
        folders[folder].append(e);
        if (isFolder)
            folders[folder + QLatin1Char('/') + name];
    }
};

// Reads every folder of the model.
void fetchAll(SourceOutlineModel& model, const QModelIndex& parent = {})
{
    if (model.canFetchMore(parent))
        model.fetchMore(parent);
    for (int r = 0; r < model.rowCount(parent); ++r)
        fetchAll(model, model.index(r, 0, parent));
}

QModelIndex find(SourceOutlineModel& model, const QString& path)
{
    const QModelIndex i = model.indexOfPath(path);
    if (!i.isValid())
        qWarning("no row for %s", qPrintable(path));
    return i;
}

void setChecked(SourceOutlineModel& model, const QString& path, bool on)
{
    QVERIFY(model.setData(find(model, path), on ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole));
}

QStringList sorted(QStringList l)
{
    l.sort();
    return l;
}

bool noEntryBelowAnother(const QStringList& list)
{
    for (const QString& a : list)
        for (const QString& b : list)
            if (b.startsWith(a + QLatin1Char('/')))
                return false;
    return true;
}

} // namespace

class TestSourceOutline : public QObject
{
    Q_OBJECT
private slots:
    void matcher_data();
    void matcher();
    void packages();
    void toggleCases();
    void propertyAgainstRsync();
    void checkAllIsLinear();
    void modelFollowsTheDisk();
};

void TestSourceOutline::matcher_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("matches");
    QTest::newRow("star: the folder") << "/foo/*"
                                      << "/foo" << true;
    QTest::newRow("star: below") << "/foo/*"
                                 << "/foo/x/y" << true;
    QTest::newRow("star: a look-alike") << "/foo/*"
                                        << "/foobar" << false;
    QTest::newRow("absolute: equal") << "/a/b"
                                     << "/a/b" << true;
    QTest::newRow("absolute: below") << "/a/b"
                                     << "/a/b/c" << false;
    QTest::newRow("suffix: at any depth") << "b/c"
                                          << "/x/y/b/c" << true;
    QTest::newRow("suffix: inside a name") << "b/c"
                                           << "/x/ab/c" << false;
    QTest::newRow("suffix: equal") << ".DS_Store"
                                   << ".DS_Store" << true;
    QTest::newRow("empty pattern") << ""
                                   << "/a" << false;
}

void TestSourceOutline::matcher()
{
    QFETCH(QString, pattern);
    QFETCH(QString, path);
    QFETCH(bool, matches);
    QCOMPARE(OutlineMatcher::matches(pattern, path), matches);
    QVERIFY(!OutlineMatcher::matchesAny({}, path));
}

void TestSourceOutline::packages()
{
    QVERIFY(PackagePaths::isPackage(QStringLiteral("/x/Mail.app"), true));
    QVERIFY(PackagePaths::isPackage(QStringLiteral("/x/i.sparsebundle"), true));
    QVERIFY(!PackagePaths::isPackage(QStringLiteral("/x/Mail.app"), false)); // a file
    QVERIFY(!PackagePaths::isPackage(QStringLiteral("/x/.app"), true)); // no name before it
    QVERIFY(!PackagePaths::isPackage(QStringLiteral("/dev/x.app"), true));
    QVERIFY(!PackagePaths::isPackage(QStringLiteral("/dev"), true));
}

// The edge cases of the check boxes, on a synthetic tree:
//   /s/{a/{b/{x,deep/y}, bc/x, c}, top.txt}, /gone (a missing source)
void TestSourceOutline::toggleCases()
{
    FakeLister fs;
    fs.folders[QStringLiteral("/s")];
    fs.add(QStringLiteral("/s"), QStringLiteral("a"), true);
    fs.add(QStringLiteral("/s"), QStringLiteral("top.txt"), false);
    fs.add(QStringLiteral("/s/a"), QStringLiteral("b"), true);
    fs.add(QStringLiteral("/s/a"), QStringLiteral("bc"), true);
    fs.add(QStringLiteral("/s/a"), QStringLiteral("c"), false);
    fs.add(QStringLiteral("/s/a/b"), QStringLiteral("deep"), true);
    fs.add(QStringLiteral("/s/a/b"), QStringLiteral("x"), false);
    fs.add(QStringLiteral("/s/a/b/deep"), QStringLiteral("y"), false);
    fs.add(QStringLiteral("/s/a/bc"), QStringLiteral("x"), false);

    // An exclude list from an earlier version: a look-alike and an entry below /s/a/b.
    StringExcludeList list({ QStringLiteral("/s/a/bc/x"), QStringLiteral("/s/a/b/deep/y") });
    SourceOutlineModel model(&fs, &list);
    model.setSources({ { QStringLiteral("/s"), 0 }, { QStringLiteral("/gone"), 1 } });
    fetchAll(model);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);

    // A missing source: not a folder, not expandable, size 0.
    const QModelIndex gone = model.index(1, SourceOutlineModel::ColKind);
    QCOMPARE(model.nodeAt(gone)->attr & OutlineNode::Folder, 0u);
    QVERIFY(!model.hasChildren(gone.siblingAtColumn(0)));
    QCOMPARE(model.data(gone).toString(), QStringLiteral("0 bytes"));

    // Marks read from the list: /s/a/b and /s/a/bc are partly included.
    QCOMPARE(model.data(find(model, "/s/a/b"), Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));
    QCOMPARE(model.data(find(model, "/s/a/bc/x"), Qt::CheckStateRole).toInt(), int(Qt::Unchecked));

    // Unchecking /s/a/b drops the entries below it, keeps the look-alike /s/a/bc/x.
    setChecked(model, "/s/a/b", false);
    QCOMPARE(sorted(list.entries()), (QStringList { "/s/a/b", "/s/a/bc/x" }));
    QCOMPARE(model.data(find(model, "/s/a/b/deep"), Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
    // Checking it again includes all of it: nothing below it stays excluded.
    setChecked(model, "/s/a/b", true);
    QCOMPARE(list.entries(), QStringList { "/s/a/bc/x" });
    QCOMPARE(model.data(find(model, "/s/a/b/deep/y"), Qt::CheckStateRole).toInt(), int(Qt::Checked));

    // Unchecking the last included child excludes the folder itself, without its children.
    setChecked(model, "/s/a/b/deep/y", false);
    QCOMPARE(sorted(list.entries()), (QStringList { "/s/a/b/deep", "/s/a/bc/x" }));
    setChecked(model, "/s/a/b/x", false);
    QCOMPARE(sorted(list.entries()), (QStringList { "/s/a/b", "/s/a/bc/x" }));
    QCOMPARE(model.data(find(model, "/s/a"), Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));

    // Checking one child of an excluded folder lists the folder's other children instead.
    setChecked(model, "/s/a", false);
    QCOMPARE(list.entries(), QStringList { "/s/a" });
    setChecked(model, "/s/a/c", true);
    QCOMPARE(sorted(list.entries()), (QStringList { "/s/a/b", "/s/a/bc" }));
    QCOMPARE(model.data(find(model, "/s/a"), Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));
    QCOMPARE(model.data(find(model, "/s"), Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));
    // The same three levels down: the ancestors open up one by one.
    setChecked(model, "/s", false);
    setChecked(model, "/s/a/b/deep/y", true);
    QCOMPARE(sorted(list.entries()), (QStringList { "/s/a/b/x", "/s/a/bc", "/s/a/c", "/s/top.txt" }));
    QVERIFY(noEntryBelowAnother(list.entries()));

    // A read-only outline (restore trees) refuses every change.
    model.setReadOnly(true);
    QVERIFY(!model.setData(find(model, "/s"), Qt::Unchecked, Qt::CheckStateRole));
    QVERIFY(!(model.flags(find(model, "/s")) & Qt::ItemIsUserCheckable));

    // Hidden entries are not shown in any folder.
    StringExcludeList none;
    SourceOutlineModel hidden(&fs, &none);
    hidden.setHiddenList({ QStringLiteral("x") });
    hidden.setSources({ { QStringLiteral("/s"), 0 } });
    fetchAll(hidden);
    QVERIFY(!hidden.indexOfPath(QStringLiteral("/s/a/b/x")).isValid());
    QVERIFY(!hidden.indexOfPath(QStringLiteral("/s/a/bc/x")).isValid());
    QVERIFY(hidden.indexOfPath(QStringLiteral("/s/a/c")).isValid());
}

// Random trees and toggles: a real rsync with the project's exclude rules copies exactly the
// files the toggles left included, and the list stays minimal.
void TestSourceOutline::propertyAgainstRsync()
{
    const quint32 seed = qEnvironmentVariableIsSet("KV_OUTLINE_SEED")
        ? quint32(qEnvironmentVariableIntValue("KV_OUTLINE_SEED"))
        : QRandomGenerator::global()->generate();
    QRandomGenerator rng(seed);
    const std::vector<std::string> names = { "a", "b", "bc", "with space", "n\xff\xfe", "p.app" };
    for (int trial = 0; trial < 30; ++trial) {
        TempTree tree(QStringLiteral("outline"));
        std::vector<std::string> files;
        // Up to three levels of folders, each holding one or two files.
        std::function<void(const std::string&, int)> grow = [&](const std::string& dir, int depth) {
            for (const std::string& n : names) {
                if (rng.bounded(3) == 0)
                    continue;
                const std::string p = dir + "/" + n;
                if (depth < 2 && rng.bounded(2) == 0) {
                    tree.mkdir("src" + p);
                    grow(p, depth + 1);
                } else {
                    files.push_back(p + (n == "p.app" ? "/inner" : ""));
                    tree.writeFile("src" + files.back(), "x");
                }
            }
        };
        tree.mkdir("src");
        grow(std::string(), 0);
        if (files.empty()) {
            files.push_back("/f");
            tree.writeFile(std::string("src/f"), "x");
        }
        const QString src = tree.filePath(QStringLiteral("src"));

        DirOutlineLister lister;
        StringExcludeList list;
        SourceOutlineModel model(&lister, &list);
        model.setSources({ { src, 0 } });
        fetchAll(model);
        std::vector<QString> rows; // every row's path
        std::function<void(const QModelIndex&)> collect = [&](const QModelIndex& parent) {
            for (int r = 0; r < model.rowCount(parent); ++r) {
                const QModelIndex i = model.index(r, 0, parent);
                rows.push_back(model.data(i, SourceOutlineModel::PathRole).toString());
                collect(i);
            }
        };
        collect({});

        std::map<std::string, bool> included;
        for (const std::string& f : files)
            included[f] = true;
        for (int t = 0; t < 10; ++t) {
            const QString path = rows.at(rng.bounded(quint32(rows.size())));
            const bool on = rng.bounded(2) == 0;
            setChecked(model, path, on);
            const std::string rel = NameCodec::encode(path.mid(src.size())).toStdString();
            for (auto& [f, in] : included)
                if (rel.empty() || f == rel || f.rfind(rel + "/", 0) == 0)
                    in = on;
        }
        const QString context = QStringLiteral("seed %1, trial %2, list %3")
                                    .arg(seed)
                                    .arg(trial)
                                    .arg(list.entries().join(QStringLiteral(" | ")));
        QVERIFY2(noEntryBelowAnother(list.entries()), qPrintable(context));

        std::set<std::string> expected;
        for (const auto& [f, in] : included)
            if (in)
                expected.insert(f);
        if (list.contains(src)) {
            // An excluded source is skipped by the run as a whole.
            QVERIFY2(expected.empty(), qPrintable(context));
            continue;
        }
        const B3ExcludeFile::Rules rules = B3ExcludeFile::rulesForSource(src, list.entries());
        TempTree tmp(QStringLiteral("outline-rules"));
        const QString file = RsyncExcludes::writeFile(tmp.path(), rules.lines);
        QVERIFY(!file.isNull());
        Subprocess::Options o;
        o.program = QStringLiteral("rsync");
        o.arguments << QStringLiteral("-a") << QStringLiteral("-n") << QStringLiteral("-8")
                    << QStringLiteral("--out-format=%n") << QStringLiteral("--exclude-from=") + file;
        o.arguments += rules.arguments;
        o.arguments << src << tmp.filePath(QStringLiteral("dest")) + QLatin1Char('/');
        const Subprocess::Result r = Subprocess::run(o, 60000);
        QVERIFY2(r.started && r.exitCode == 0, r.err.constData());
        std::set<std::string> copied;
        for (const QByteArray& line : r.out.split('\n'))
            if (!line.isEmpty() && !line.endsWith('/'))
                copied.insert(line.mid(3).toStdString()); // "src" + the path from "/"
        QVERIFY2(copied == expected, qPrintable(context));
    }
}

// Check-all and uncheck-all over 100,000 rows give the list row-by-row toggling gives (shown on
// 200 rows), in one pass.
void TestSourceOutline::checkAllIsLinear()
{
    auto makeFs = [](int count) {
        FakeLister fs;
        fs.folders[QStringLiteral("/big")];
        for (int i = 0; i < count; ++i)
            fs.add(QStringLiteral("/big"), QStringLiteral("f%1").arg(i, 6, 10, QLatin1Char('0')), false);
        return fs;
    };
    // Row by row on a small copy, as the header's toggle would if it walked the rows.
    FakeLister small = makeFs(200);
    StringExcludeList rowList;
    SourceOutlineModel rowModel(&small, &rowList);
    rowModel.setSources({ { QStringLiteral("/big"), 0 } });
    fetchAll(rowModel);
    auto eachRow = [&](bool on) {
        setChecked(rowModel, "/big", on);
        for (int r = 0; r < rowModel.rowCount(rowModel.index(0, 0)); ++r)
            QVERIFY(rowModel.setData(rowModel.index(r, 0, rowModel.index(0, 0)),
                on ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole));
    };
    eachRow(false);
    const QStringList rowByRowOff = rowList.entries();
    eachRow(true);
    const QStringList rowByRowOn = rowList.entries();

    FakeLister big = makeFs(100000);
    StringExcludeList list({ QStringLiteral("/big/f000007") });
    SourceOutlineModel model(&big, &list);
    model.setSources({ { QStringLiteral("/big"), 0 } });
    fetchAll(model);
    QElapsedTimer timer;
    timer.start();
    model.setAllIncluded(false);
    QCOMPARE(list.entries(), rowByRowOff);
    model.setAllIncluded(true);
    QCOMPARE(list.entries(), rowByRowOn);
    QVERIFY2(timer.elapsed() < 10000, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(
        model.data(model.index(99999, 0, model.index(0, 0)), Qt::CheckStateRole).toInt(), int(Qt::Checked));
}

// Files appear and vanish between reloads: the model inserts and removes rows, keeps the nodes of
// what stayed (an opened folder stays read) and passes the model tester throughout.
void TestSourceOutline::modelFollowsTheDisk()
{
    TempTree tree(QStringLiteral("outline-live"));
    tree.writeFile(std::string("src/b.txt"), "b");
    tree.writeFile(std::string("src/d/x"), "x");
    tree.writeFile(std::string("src/z"), "z");
    DirOutlineLister lister;
    StringExcludeList list({ tree.filePath(QStringLiteral("src/d/x")) });
    SourceOutlineModel model(&lister, &list);
    model.setSources({ { tree.filePath(QStringLiteral("src")), 0 } });
    fetchAll(model);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    const QModelIndex top = model.index(0, 0);
    auto names = [&](const QModelIndex& parent) {
        QStringList n;
        for (int r = 0; r < model.rowCount(parent); ++r)
            n << model.index(r, SourceOutlineModel::ColName, parent).data().toString();
        return n;
    };
    QCOMPARE(names(top), (QStringList { "b.txt", "d", "z" }));

    QVERIFY(::unlink(tree.filePathStd("src/b.txt").c_str()) == 0);
    tree.writeFile(std::string("src/A"), "a");
    tree.writeFile(std::string("src/c\xff"), "c");
    tree.writeFile(std::string("src/d/y"), "y");
    model.reload();
    QCOMPARE(names(top), (QStringList { "A", NameCodec::decode(QByteArray("c\xff")), "d", "z" }));
    const QModelIndex d = model.index(2, 0, top);
    QCOMPARE(names(d), (QStringList { "x", "y" }));
    QCOMPARE(model.data(d, Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));
    QCOMPARE(model.data(model.index(0, 0, d), Qt::CheckStateRole).toInt(), int(Qt::Unchecked));

    // The whole folder goes: its row goes with its children.
    std::filesystem::remove_all(tree.filePathStd("src/d"));
    model.reload();
    QCOMPARE(names(top), (QStringList { "A", NameCodec::decode(QByteArray("c\xff")), "z" }));
}

QTEST_GUILESS_MAIN(TestSourceOutline)
#include "tst_sourceoutline.moc"
