// kv-test: labels=unit timeout=60
#include "RecordingSynchronizeController.h"
#include "ScriptedClock.h"
#include "TempTree.h"
#include "platform/NameCodec.h"
#include "sync/AnalyzeLineParser.h"
#include "sync/IAnalyzeController.h"
#include "sync/ISynchron.h"

#include <QtTest>

using Item = IAnalyzeFileSystemItem;

namespace {

// "name:flags" of every node below the item, depth first.
QStringList dump(const Item* item)
{
    QStringList out;
    for (const auto& c : item->childrenArray()) {
        out << QStringLiteral("%1:%2").arg(c->localPath()).arg(c->flags() & 0x1fff, 0, 16);
        out << dump(c.get());
    }
    return out;
}

std::unique_ptr<Item> rootOf(const QString& left, const QString& right)
{
    auto root = std::make_unique<Item>(QStringLiteral("root"), true);
    root->setLeftPath(left);
    root->setRightPath(right);
    root->setFlagOn(Item::Left | Item::Right);
    return root;
}

} // namespace

class TestAnalyzeTree : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void nodeBasics();
    void itemLines_data();
    void itemLines();
    void escapesDecodeToTheBytesOnDisk();
    void progressTextsAreThrottled();
    void listingMatchesBothSides();
    void relistingKeepsResultsAndDropsVanished();
    void largeFolderMatchesNamesExactly();
    void includeChecksFollowTheExcludeList();
    void finalAnalyzePropagatesToFolders();
};

void TestAnalyzeTree::nodeBasics()
{
    Item root(QStringLiteral("root"), true);
    root.setLeftPath(QStringLiteral("/L"));
    root.setRightPath(QStringLiteral("/R"));
    Item* a = root.addChild(std::make_unique<Item>(QStringLiteral("a"), true));
    Item* b = a->addChild(std::make_unique<Item>(QString(), false));
    QCOMPARE(root.addChild(nullptr), nullptr);
    QCOMPARE(b->name(), QStringLiteral("Noname"));
    QCOMPARE(b->check(), 1);
    QCOMPARE(b->localPath(), QStringLiteral("a/Noname"));
    QCOMPARE(b->leftPath(), QStringLiteral("/L/a/Noname"));
    QCOMPARE(b->rightPath(), QStringLiteral("/R/a/Noname"));
    b->setLeftPath(QStringLiteral("/elsewhere")); // ignored below the root
    QCOMPARE(b->leftPath(), QStringLiteral("/L/a/Noname"));
    QCOMPARE(b->next(), nullptr);
    QCOMPARE(b->prev(), nullptr);
    QCOMPARE(root.next(), nullptr);
    QCOMPARE(a->childAtIndex(1), nullptr);
    QCOMPARE(a->childAtIndex(-1), nullptr);
    Item* c = root.addChild(std::make_unique<Item>(QStringLiteral("C"), false));
    QCOMPARE(a->next(), c);
    QCOMPARE(c->prev(), a);
    QVERIFY(a->isNameLessThenString(QStringLiteral("B")));
    QVERIFY(!c->isNameLessThenString(QStringLiteral("b")));
    QVERIFY(c->isNameLessThenString(QString()));
    root.removeChild(a);
    QCOMPARE(root.childCount(), 1);
    QCOMPARE(root.children(), c);
}

void TestAnalyzeTree::itemLines_data()
{
    QTest::addColumn<int>("direction");
    QTest::addColumn<int>("pass");
    QTest::addColumn<QStringList>("existing"); // top-level "name" or "name/" made beforehand
    QTest::addColumn<QByteArrayList>("lines");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("deletion below a folder, direction 0")
        << 0 << 0 << QStringList() << QByteArrayList { "deleting docs/old.txt" }
        << QStringList { "docs:102", "docs/old.txt:122" };
    QTest::newRow("new file and folder, direction 0")
        << 0 << 0 << QStringList { "new.txt", "dir/" } << QByteArrayList { "new.txt", "dir/", "dir/x" }
        << QStringList { "new.txt:105", "dir:105", "dir/x:105" };
    QTest::newRow("top-level link is not created")
        << 0 << 0 << QStringList() << QByteArrayList { "ln -> target" } << QStringList();
    QTest::newRow("link below a folder") << 0 << 0 << QStringList() << QByteArrayList { "d/ln -> ../t" }
                                         << QStringList { "d:101", "d/ln:105" };
    QTest::newRow("direction 1") << 1 << 0 << QStringList() << QByteArrayList { "a/b", "deleting a/c" }
                                 << QStringList { "a:103", "a/b:10a", "a/c:111" };
    QTest::newRow("direction 2, pass 1")
        << 2 << 1 << QStringList() << QByteArrayList { "s/copy", "deleting s/gone" }
        << QStringList { "s:103", "s/copy:10a", "s/gone:111" };
    QTest::newRow("direction 2, pass 0")
        << 2 << 0 << QStringList() << QByteArrayList { "s/copy", "deleting s/gone" }
        << QStringList { "s:103", "s/copy:105", "s/gone:122" };
    QTest::newRow("protocol and counter lines create nothing")
        << 0 << 0 << QStringList()
        << QByteArrayList { "building file list ... ", " 0 files...", "11 files to consider", "./",
               "sending incremental file list", "rsync: [sender] x/y failed", "rsync error: some",
               "cannot delete non-empty directory: a/b", "skipping non-regular file \"p/q\"",
               "sent 1 bytes  received 2 bytes  3.00 bytes/sec",
               "total size is 25  speedup is 0.07 (DRY RUN)" }
        << QStringList();
    QTest::newRow("nothing is an item after the statistics")
        << 0 << 0 << QStringList() << QByteArrayList { "Number of files: 3", "x/y" } << QStringList();
    QTest::newRow("a file and a folder of one name are two nodes")
        << 0 << 0 << QStringList() << QByteArrayList { "p/same", "p/same/inner" }
        << QStringList { "p:101", "p/same:105", "p/same:101", "p/same/inner:105" };
}

void TestAnalyzeTree::itemLines()
{
    QFETCH(int, direction);
    QFETCH(int, pass);
    QFETCH(QStringList, existing);
    QFETCH(QByteArrayList, lines);
    QFETCH(QStringList, expected);
    Item root(QStringLiteral("root"), true);
    for (QString e : existing) {
        const bool folder = e.endsWith('/');
        if (folder)
            e.chop(1);
        root.addChild(std::make_unique<Item>(e, folder));
    }
    AnalyzeLineParser parser;
    parser.reset(direction, pass);
    for (const QByteArray& l : lines)
        parser.processLine(&root, l.constData());
    QCOMPARE(dump(&root), expected);
}

// While rsync counts and the items come, the pane shows how far the lists are, each kind at most
// once per 31 ticks, with its text info on only for that moment.
void TestAnalyzeTree::progressTextsAreThrottled()
{
    ScriptedClock clock;
    Clock::setCurrent(&clock);
    RecordingSynchronizeController pane;
    ISynchronizeController::setShared(&pane);
    Item root(QStringLiteral("root"), true);
    AnalyzeLineParser parser;
    parser.reset(0, 0);
    const struct
    {
        qint64 atMs;
        const char* line;
    } feed[] = { { 0, " 100 files..." }, { 100, " 200 files..." }, { 520, " 300 files..." }, { 530, "a.txt" },
        { 600, "sub/b.txt" }, { 1000, "c.txt" }, { 1100, "sending incremental file list" }, { 1200, "d.txt" } };
    for (const auto& f : feed) {
        clock.setMonotonicMs(f.atMs);
        parser.processLine(&root, f.line);
    }
    Clock::setCurrent(nullptr);
    ISynchronizeController::setShared(nullptr);
    QStringList shown;
    for (qsizetype i = 0; i < pane.calls.size(); ++i) {
        if (!pane.calls.at(i).startsWith(QLatin1String("sendAnalyzeInfo:")))
            continue;
        shown << pane.calls.at(i).mid(16);
        QCOMPARE(pane.calls.value(i - 1), QStringLiteral("setNoSendTextInfo:0"));
        QCOMPARE(pane.calls.value(i + 1), QStringLiteral("setNoSendTextInfo:1"));
    }
    QCOMPARE(shown,
        QStringList({ "Building file list... 100", "Building file list... 300",
            "Building copy list...          1", "Building copy list...          4" }));
}

void TestAnalyzeTree::escapesDecodeToTheBytesOnDisk()
{
    const struct
    {
        const char* line;
        QByteArray name;
    } rows[] = {
        { "sub/a\\#012b", QByteArray("a\nb") },
        { "sub/caf\\#351", QByteArray("caf\xe9") },
        { "sub/a\\#134#101", QByteArray("a\\#101") },
        { "sub/x\\#01", QByteArray("x\\#01") }, // too short: kept as written
        { "sub/caf\xc3\xa9", QByteArray("caf\xc3\xa9") },
    };
    for (const auto& row : rows) {
        Item root(QStringLiteral("root"), true);
        AnalyzeLineParser parser;
        parser.reset(0, 0);
        QVERIFY(parser.processLine(&root, row.line));
        const Item* node = root.children()->children();
        QVERIFY(node);
        QCOMPARE(NameCodec::encode(node->name()), row.name);
    }
}

void TestAnalyzeTree::listingMatchesBothSides()
{
    TempTree left, right;
    left.writeFile(std::string("same"));
    left.mkdir(std::string("both"));
    left.writeFile(std::string("odd\xff"));
    left.symlink("both", "link");
    right.mkdir(std::string("same"));
    right.mkdir(std::string("both"));
    right.writeFile(std::string("Right-only"));
    AnalyzeTreeModel model;
    model.setTreeRootItem(rootOf(left.path(), right.path()));
    model.loadChildrenForFileTreeItem(model.treeRoot());
    // Sorted case-insensitively per side; the right side's new names follow the left's.
    QCOMPARE(dump(model.treeRoot()),
        (QStringList { "both:43", "link:41", QString("odd") + QChar(0xdcff) + ":41", "same:41",
            "Right-only:42", "same:42" }));
    const Item* link = model.treeRoot()->childAtIndex(1);
    QVERIFY(link->isLink() && !link->isFolder());
    QVERIFY(model.treeRoot()->isFlagOn(Item::ChildrenLoaded));
    QCOMPARE(NameCodec::encode(model.treeRoot()->childAtIndex(2)->leftPath()),
        QByteArray(left.filePathStd("odd\xff").c_str()));
}

void TestAnalyzeTree::relistingKeepsResultsAndDropsVanished()
{
    TempTree left, right;
    left.writeFile(std::string("keep"));
    left.writeFile(std::string("goes"));
    AnalyzeTreeModel model;
    model.setTreeRootItem(rootOf(left.path(), right.path()));
    model.loadChildrenForFileTreeItem(model.treeRoot());
    Item* keep = model.treeRoot()->childWithNameEqualToString(QStringLiteral("keep"));
    keep->setFlagOn(Item::CopyToRight);
    keep->setCheck(0);
    QVERIFY(::unlink(left.filePathStd("goes").c_str()) == 0);
    right.writeFile(std::string("keep"));
    model.synchronizeChildrenForFileTreeItem(model.treeRoot());
    QCOMPARE(model.treeRoot()->childCount(), 1);
    QCOMPARE(model.treeRoot()->children(), keep);
    QCOMPARE(keep->flags() & 0xff, qint64(Item::Left | Item::Right | Item::Listed | Item::CopyToRight));
}

// A folder of many children finds them through its name index: names that differ only in case
// are different rows, a file, a folder and a link of one name are three, and the index stays
// right through re-listings that drop and add names.
void TestAnalyzeTree::largeFolderMatchesNamesExactly()
{
    TempTree left, right;
    for (int i = 0; i < 40; ++i)
        left.writeFile(QStringLiteral("f%1").arg(i, 2, 10, QChar('0')));
    left.writeFile(std::string("Name"));
    left.writeFile(std::string("name"));
    left.writeFile(std::string("same"));
    left.symlink("f00", "link");
    right.writeFile(std::string("name"));
    right.mkdir(std::string("same"));
    right.mkdir(std::string("link"));
    AnalyzeTreeModel model;
    model.setTreeRootItem(rootOf(left.path(), right.path()));
    Item* root = model.treeRoot();
    model.loadChildrenForFileTreeItem(root);
    auto rowsNamed = [root](const QString& name) {
        QStringList out;
        for (const auto& c : root->childrenArray())
            if (c->name() == name)
                out << QStringLiteral("%1:%2")
                           .arg(QLatin1String(c->isFolder() ? "dir" : c->isLink() ? "link" : "file"))
                           .arg(c->flags() & 3);
        return out;
    };
    QCOMPARE(root->childCount(), 40 + 4 + 2);
    QCOMPARE(rowsNamed("Name"), QStringList { "file:1" });
    QCOMPARE(rowsNamed("name"), QStringList { "file:3" });
    QCOMPARE(rowsNamed("same"), (QStringList { "file:1", "dir:2" }));
    QCOMPARE(rowsNamed("link"), (QStringList { "link:1", "dir:2" }));
    Item* name = root->childWithNameEqualToString("name");
    QCOMPARE(name->flags() & 3, qint64(3));
    QCOMPARE(root->childWithName("same", true, false)->flags() & 3, qint64(Item::Right));
    QCOMPARE(root->childWithName("Same", false, false), nullptr);
    // The parser's path look-up takes the node of the right kind.
    QCOMPARE(root->treeItemWithPath("link", false, true, 0, false), root->childWithName("link", false, true));

    // "Name" and a few others vanish, "NAME" comes: every kept node is found at its row.
    QVERIFY(::unlink(left.filePathStd("Name").c_str()) == 0);
    for (const char* gone : { "f03", "f17", "f31" })
        QVERIFY(::unlink(left.filePathStd(gone).c_str()) == 0);
    left.writeFile(std::string("NAME"));
    model.synchronizeChildrenForFileTreeItem(root);
    QCOMPARE(root->childWithNameEqualToString("name"), name);
    QCOMPARE(root->childWithNameEqualToString("Name"), nullptr);
    QVERIFY(root->childWithNameEqualToString("NAME"));
    QCOMPARE(root->childWithNameEqualToString("f03"), nullptr);
    for (int i = 0; i < root->childCount(); ++i) {
        const Item* c = root->childAtIndex(i);
        QCOMPARE(root->indexOfChild(c), i);
        QCOMPARE(root->childWithName(c->name(), c->isFolder(), c->isLink()), c);
    }
    Item other(QStringLiteral("other"), true);
    QCOMPARE(other.indexOfChild(name), -1);
}

void TestAnalyzeTree::includeChecksFollowTheExcludeList()
{
    TempTree left, right;
    left.writeFile(std::string("ex/inner/f"));
    left.writeFile(std::string("part/skip"));
    left.writeFile(std::string("part/keep"));
    left.writeFile(std::string("plain"));
    left.writeFile(std::string("pa/q")); // "part/skip" is not below "pa"
    auto project = std::make_shared<ISynchron>();
    project->setExcludePathList(QStringList { "ex", "part/skip" });
    AnalyzeTreeModel model;
    model.setSynchron(project); // not ready: no tree yet
    QVERIFY(model.isTreeEmpty());
    model.setTreeRootItem(rootOf(left.path(), right.path()));
    Item* root = model.treeRoot();
    model.loadChildrenForFileTreeItem(root);
    for (const auto& c : root->childrenArray())
        model.loadChildrenForFileTreeItem(c.get());
    model.loadChildrenForFileTreeItem(root->childWithNameEqualToString("ex")->children());
    model.setIncludeCheckesToItem(root);
    QCOMPARE(root->childWithNameEqualToString("ex")->check(), 0);
    QCOMPARE(root->childWithNameEqualToString("ex")->children()->check(), 0);
    QCOMPARE(root->childWithNameEqualToString("ex")->children()->children()->check(), 0);
    QCOMPARE(root->childWithNameEqualToString("part")->check(), -1);
    QCOMPARE(root->childWithNameEqualToString("part")->childWithNameEqualToString("skip")->check(), 0);
    QCOMPARE(root->childWithNameEqualToString("part")->childWithNameEqualToString("keep")->check(), 1);
    QCOMPARE(root->childWithNameEqualToString("plain")->check(), 1);
    QCOMPARE(root->childWithNameEqualToString("pa")->check(), 1);
}

void TestAnalyzeTree::finalAnalyzePropagatesToFolders()
{
    AnalyzeTreeModel model;
    model.setTreeRootItem(rootOf("/L", "/R"));
    Item* root = model.treeRoot();
    AnalyzeLineParser parser;
    parser.reset(2, 0);
    parser.processLine(root, "a/b/new");
    parser.reset(2, 1);
    parser.processLine(root, "c/back");
    parser.processLine(root, "deleting a/b/old");
    model.finalAnalyze();
    QVERIFY(model.showArrowsAndColors());
    QVERIFY(root->childWithNameEqualToString("a")->isFlagOn(Item::BelowChangesLeft));
    QVERIFY(root->childWithNameEqualToString("a")->children()->isFlagOn(Item::BelowChangesLeft));
    QVERIFY(!root->childWithNameEqualToString("c")->isFlagOn(Item::BelowChangesLeft));
    QVERIFY(root->childWithNameEqualToString("c")->isFlagOn(Item::BelowChangesRight));
    // A failed analysis clears every result bit and keeps the nodes.
    model.setFileTreeFlagOff(Item::ResultMask);
    for (const QString& line : dump(root))
        QVERIFY2((line.section(':', 1).toInt(nullptr, 16) & Item::ResultMask) == 0, qPrintable(line));
    QCOMPARE(dump(root).size(), 6);
}

QTEST_GUILESS_MAIN(TestAnalyzeTree)
#include "tst_analyzetree.moc"
