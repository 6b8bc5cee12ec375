// kv-test: labels=unit timeout=120

// The analysis outline's model over two temporary folders, watched by QAbstractItemModelTester:
// rows of both sides (a file and a folder of one name are two rows, a link to a folder does not
// open), re-listing that keeps nodes with their marks and checks and drops vanished names, names
// that are not UTF-8, and the check boxes editing the project's exclude list; the outline's
// paint runs no events while it asks the project's places; checking or unchecking many
// selected rows at once leaves what doing them one by one leaves, and stays fast.

#include "RecordingShellServices.h"
#include "TempTree.h"
#include "panes/sync/AnalyzeOutlineModel.h"
#include "panes/sync/IQVSyncAnalyzeView.h"
#include "platform/NameCodec.h"
#include "sync/ISynchron.h"
#include "utilities/IVolumeBase.h"

#include <QAbstractItemModelTester>
#include <QRandomGenerator>
#include <QtTest>

#include <functional>

using Item = IAnalyzeFileSystemItem;

class TestAnalyzeOutline : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { IVolumeBase::shared().fill(); }
    void init();
    void cleanup();
    void rowsOfBothSides();
    void relistKeepsAndDrops();
    void checksEditTheExcludeList();
    void headerTogglesAll();
    void selectedRowsMatchRowByRow();
    void manySelectedRowsOfOneFolder();
    void paintRunsNoEvents();

private:
    QModelIndex row(const QString& localPath);
    QStringList excludes() const
    {
        return m_project->excludePathList() ? *m_project->excludePathList() : QStringList();
    }
    std::unique_ptr<RecordingShellServices> m_shell;
    std::unique_ptr<TempTree> m_left, m_right;
    std::shared_ptr<ISynchron> m_project;
    std::unique_ptr<AnalyzeOutlineModel> m_model;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
};

void TestAnalyzeOutline::init()
{
    m_shell = std::make_unique<RecordingShellServices>();
    IShellServices::setShared(m_shell.get());
    m_left = std::make_unique<TempTree>(QStringLiteral("left"));
    m_right = std::make_unique<TempTree>(QStringLiteral("right"));
    TempTree& L = *m_left;
    TempTree& R = *m_right;
    L.writeFile(std::string("same"), "file");
    R.mkdir("same");
    L.mkdir("dir");
    L.mkdir("dir/b");
    L.mkdir("dir/bc");
    L.writeFile(std::string("dir/b/x"), "x");
    L.writeFile(std::string("dir/bc/y"), "y");
    L.writeFile(std::string("dir/c"), "c");
    L.symlink("dir", "link");
    L.writeFile(std::string("odd\xff"), "x");
    R.writeFile(std::string("right-only"), "r");
    m_project = std::make_shared<ISynchron>();
    m_project->setName(QStringLiteral("Mirror"));
    m_project->setFirstFolder(L.path());
    m_project->setSecondFolder(R.path());
    m_model = std::make_unique<AnalyzeOutlineModel>();
    m_model->setProject(m_project);
    // Made after the first reset: the tester walks (and fetches) from its modelReset slot before
    // it has seen the reset end, and would count its own fetch as an insert inside the reset.
    m_tester = std::make_unique<QAbstractItemModelTester>(
        m_model.get(), QAbstractItemModelTester::FailureReportingMode::QtTest);
}

void TestAnalyzeOutline::cleanup()
{
    m_tester.reset();
    m_model.reset();
    m_project.reset();
    IShellServices::setShared(nullptr);
}

QModelIndex TestAnalyzeOutline::row(const QString& localPath)
{
    QModelIndex parent;
    QModelIndex found;
    for (const QString& part : localPath.split('/')) {
        if (m_model->canFetchMore(parent))
            m_model->fetchMore(parent);
        found = QModelIndex();
        for (int r = 0; r < m_model->rowCount(parent); ++r) {
            const QModelIndex i = m_model->index(r, 0, parent);
            if (m_model->itemAt(i)->name() == part)
                found = i;
        }
        if (!found.isValid())
            return found;
        parent = found;
    }
    return found;
}

void TestAnalyzeOutline::rowsOfBothSides()
{
    QStringList names;
    for (int r = 0; r < m_model->rowCount(); ++r) {
        const Item* it = m_model->itemAt(m_model->index(r, 0));
        names << QStringLiteral("%1:%2%3").arg(it->name()).arg(it->flags() & 3).arg(it->isFolder() ? "/" : "");
    }
    // "same" is a file on the left and a folder on the right: two rows.
    const QString odd = QStringLiteral("odd") + QChar(0xdcff);
    QCOMPARE(names, (QStringList { "dir:1/", "link:1", odd + ":1", "same:1", "right-only:2", "same:2/" }));
    // A link to a folder is a link and does not open.
    const QModelIndex link = row(QStringLiteral("link"));
    QVERIFY(!m_model->hasChildren(link));
    QVERIFY(!m_model->canFetchMore(link));
    // A folder opens lazily: nothing is read before it is asked for.
    const QModelIndex dir = row(QStringLiteral("dir"));
    QCOMPARE(m_model->rowCount(dir), 3);
    QCOMPARE(m_model->index(1, AnalyzeOutlineModel::ColSource, dir).data().toString(), QStringLiteral("bc"));
}

void TestAnalyzeOutline::relistKeepsAndDrops()
{
    const QModelIndex dir = row(QStringLiteral("dir"));
    Item* b = m_model->itemAt(row(QStringLiteral("dir/b")));
    b->setFlagOn(Item::CopyToRight);
    m_model->setItemIncluded(m_model->itemAt(row(QStringLiteral("dir/c"))), false);
    QVERIFY(::unlink(m_left->filePathStd("dir/bc/y").c_str()) == 0 && ::rmdir(m_left->filePathStd("dir/bc").c_str()) == 0);
    m_left->writeFile(std::string("dir/new"), "n");
    m_model->relistFolder(dir);
    QStringList names;
    for (int r = 0; r < m_model->rowCount(dir); ++r)
        names << m_model->itemAt(m_model->index(r, 0, dir))->name();
    names.sort();
    QCOMPARE(names, (QStringList { "b", "c", "new" }));
    // The same node, with its mark; the unchecked file stays unchecked.
    QCOMPARE(m_model->itemAt(row(QStringLiteral("dir/b"))), b);
    QVERIFY(b->isFlagOn(Item::CopyToRight));
    QCOMPARE(m_model->itemAt(row(QStringLiteral("dir/c")))->check(), 0);
}

void TestAnalyzeOutline::checksEditTheExcludeList()
{
    Item* dir = m_model->itemAt(row(QStringLiteral("dir")));
    Item* b = m_model->itemAt(row(QStringLiteral("dir/b")));
    Item* bc = m_model->itemAt(row(QStringLiteral("dir/bc")));
    Item* x = m_model->itemAt(row(QStringLiteral("dir/b/x")));
    // An entry below goes when its folder is unchecked: the folder alone is listed.
    m_model->setItemIncluded(x, false);
    QCOMPARE(b->check(), 0); // its only child is out: the folder is out
    QCOMPARE(excludes(), QStringList { "dir/b" });
    m_model->setItemIncluded(dir, false);
    QCOMPARE(excludes(), QStringList { "dir" });
    QCOMPARE(bc->check(), 0);
    // Checking one child of the excluded folder lists its unchecked siblings; the folder is partly in.
    m_model->setItemIncluded(bc, true);
    QStringList e = excludes();
    e.sort();
    QCOMPARE(e, (QStringList { "dir/b", "dir/c" }));
    QCOMPARE(dir->check(), -1);
    QCOMPARE(m_model->data(m_model->indexOfItem(dir), Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));
    // "b" beside "bc": checking "b" removes "dir/b", never "dir/bc".
    m_model->checkAll();
    m_model->setItemIncluded(bc, false);
    m_model->setItemIncluded(b, false);
    QCOMPARE(excludes(), (QStringList { "dir/bc", "dir/b" }));
    m_model->setItemIncluded(b, true);
    QCOMPARE(excludes(), QStringList { "dir/bc" });
    QCOMPARE(bc->check(), 0);
    QCOMPARE(dir->check(), -1);
    // A name that is not UTF-8 reaches the list as its bytes.
    Item* odd = m_model->itemAt(row(QStringLiteral("odd") + QChar(0xdcff)));
    QVERIFY(m_model->setData(m_model->indexOfItem(odd), Qt::Unchecked, Qt::CheckStateRole));
    QVERIFY(excludes().contains(odd->localPath()));
    QCOMPARE(NameCodec::encode(odd->localPath()), QByteArray("odd\xff"));
}

void TestAnalyzeOutline::headerTogglesAll()
{
    m_model->setItemIncluded(m_model->itemAt(row(QStringLiteral("dir/b/x"))), false);
    m_model->toggleAllChecks(); // the first click unchecks all
    QCOMPARE(excludes().size(), m_model->rowCount());
    for (int r = 0; r < m_model->rowCount(); ++r)
        QCOMPARE(m_model->itemAt(m_model->index(r, 0))->check(), 0);
    QCOMPARE(m_model->itemAt(row(QStringLiteral("dir/b/x")))->check(), 0);
    m_model->toggleAllChecks(); // the next checks all
    QVERIFY(excludes().isEmpty());
    QCOMPARE(m_model->itemAt(row(QStringLiteral("dir/b/x")))->check(), 1);
}

namespace {

// A model over its own pair of folders, every folder read.
struct OutlineOver
{
    std::shared_ptr<ISynchron> project = std::make_shared<ISynchron>();
    AnalyzeOutlineModel model;

    OutlineOver(const TempTree& left, const TempTree& right)
    {
        project->setName(QStringLiteral("Mirror"));
        project->setFirstFolder(left.path());
        project->setSecondFolder(right.path());
        model.setProject(project);
        fetchAll(QModelIndex());
    }
    void fetchAll(const QModelIndex& parent)
    {
        if (model.canFetchMore(parent))
            model.fetchMore(parent);
        for (int r = 0; r < model.rowCount(parent); ++r)
            fetchAll(model.index(r, 0, parent));
    }
    // Every row, parents before their children.
    QModelIndexList rows(const QModelIndex& parent = QModelIndex()) const
    {
        QModelIndexList all;
        for (int r = 0; r < model.rowCount(parent); ++r) {
            const QModelIndex i = model.index(r, 0, parent);
            all << i << rows(i);
        }
        return all;
    }
    QString checks() const
    {
        QString s;
        for (const QModelIndex& i : rows())
            s += QString::number(model.itemAt(i)->check() + 1);
        return s;
    }
};

} // namespace

// Random selections, checked and unchecked, against the same rows done one by one: the checks,
// the exclude list (its order and repeated entries too) and the modified flag must agree, and
// every row whose check changed must have been announced.
void TestAnalyzeOutline::selectedRowsMatchRowByRow()
{
    TempTree L(QStringLiteral("left")), R(QStringLiteral("right"));
    // Three levels of folders of files; "same" is a file on one side and a folder on the other
    // (two rows of one path), at the top and inside a folder.
    std::function<void(const std::string&, int)> make = [&](const std::string& at, int depth) {
        for (int f = 0; f < 6; ++f)
            L.writeFile(at + "f" + std::to_string(f), "x");
        if (depth == 3)
            return;
        for (int d = 0; d < 2; ++d) {
            const std::string sub = at + "d" + std::to_string(d);
            L.mkdir(sub);
            make(sub + "/", depth + 1);
        }
    };
    make("", 0);
    L.writeFile(std::string("same"), "x");
    R.mkdir("same");
    R.writeFile(std::string("same/r"), "r");
    L.writeFile(std::string("d0/same"), "x");
    R.mkdir("d0");
    R.mkdir("d0/same");
    R.writeFile(std::string("d0/same/r"), "r");
    OutlineOver batch(L, R), single(L, R);
    QAbstractItemModelTester tester(&batch.model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    const QModelIndexList rowsA = batch.rows(), rowsB = single.rows();
    QCOMPARE(rowsA.size(), rowsB.size());
    QVERIFY(rowsA.size() > 100);
    QList<QModelIndex> folders; // rows of folders with children, and the top (invalid)
    folders << QModelIndex();
    for (const QModelIndex& i : rowsA)
        if (batch.model.rowCount(i) > 0)
            folders << i;

    QRandomGenerator rng(20261211);
    auto pick = [&](int n) { return int(rng.bounded(n)); };
    for (int round = 0; round < 400; ++round) {
        // Now and then a fresh start: all in, all out, or a hand-made list (with repeats and
        // entries of no row) that the checks do not reflect.
        switch (pick(10)) {
        case 0:
            batch.model.checkAll(), single.model.checkAll();
            break;
        case 1:
            batch.model.uncheckAll(), single.model.uncheckAll();
            break;
        case 2:
        case 3: {
            // Rows, often with their folders, then the first two again: a folder listed twice
            // around other entries tells the first entry from the last.
            QStringList list;
            for (int k = 1 + pick(6); k > 0; --k) {
                const QModelIndex i = rowsA[pick(rowsA.size())];
                list << batch.model.itemAt(i)->localPath();
                if (i.parent().isValid() && pick(2))
                    list << batch.model.itemAt(i.parent())->localPath();
            }
            list << list.mid(0, 2) << QStringLiteral("gone") << QStringLiteral("gone/below");
            batch.project->setExcludePathList(list), single.project->setExcludePathList(list);
            break;
        }
        default:
            break;
        }
        // The selection, as positions in rowsA.
        QList<int> chosen;
        auto childrenOf = [&](const QModelIndex& f) {
            QList<int> all;
            for (int r = 0; r < batch.model.rowCount(f); ++r)
                all << int(rowsA.indexOf(batch.model.index(r, 0, f)));
            return all;
        };
        const QModelIndex folder = folders[pick(folders.size())];
        const QList<int> children = childrenOf(folder);
        switch (pick(4)) {
        case 0: // a whole folder's rows, sometimes with the folder's own row
            chosen = children;
            if (folder.isValid() && pick(2))
                chosen.insert(pick(chosen.size() + 1), int(rowsA.indexOf(folder)));
            break;
        case 1: // some rows of one folder
            for (int c : children)
                if (pick(3) != 0)
                    chosen << c;
            break;
        case 2: // rows anywhere
            for (int k = 1 + pick(30); k > 0; --k)
                chosen << pick(rowsA.size());
            break;
        default: // rows of a few folders, one of them twice
            for (int k = 1 + pick(3); k > 0; --k)
                for (int c : childrenOf(folders[pick(folders.size())]))
                    if (pick(2))
                        chosen << c;
            if (!chosen.isEmpty())
                chosen << chosen[pick(chosen.size())];
            break;
        }
        const bool include = pick(2) == 0;
        batch.project->setModified(false), single.project->setModified(false);
        const QString before = batch.checks();
        QList<QModelIndex> announced;
        const auto connection = connect(&batch.model, &QAbstractItemModel::dataChanged, this,
            [&](const QModelIndex& a, const QModelIndex& b) {
                for (int r = a.row(); r <= b.row(); ++r)
                    announced << a.siblingAtRow(r).siblingAtColumn(0);
            });
        QModelIndexList selection;
        for (int c : chosen)
            selection << rowsA[c] << rowsA[c].siblingAtColumn(AnalyzeOutlineModel::ColDestination);
        batch.model.setSelectedIncluded(selection, include);
        disconnect(connection);
        QSet<int> done;
        for (int c : chosen)
            if (!done.contains(c)) {
                done.insert(c);
                single.model.setItemIncluded(single.model.itemAt(rowsB[c]), include);
            }

        const QString after = batch.checks();
        QCOMPARE(after, single.checks());
        QCOMPARE(batch.project->excludePathList().has_value(), single.project->excludePathList().has_value());
        if (batch.project->excludePathList())
            QCOMPARE(*batch.project->excludePathList(), *single.project->excludePathList());
        QCOMPARE(batch.project->isModified(), single.project->isModified());
        for (int i = 0; i < rowsA.size(); ++i)
            if (before[i] != after[i] && !announced.contains(rowsA[i]))
                QFAIL(qPrintable(QStringLiteral("round %1: %2 changed unannounced").arg(round).arg(batch.model.itemAt(rowsA[i])->localPath())));
    }
}

// 20,000 rows of one folder, unchecked then checked as a selection: linear, so well within a
// generous bound (rows one by one took minutes here).
void TestAnalyzeOutline::manySelectedRowsOfOneFolder()
{
    TempTree L(QStringLiteral("left")), R(QStringLiteral("right"));
    L.mkdir("big");
    L.writeFile(std::string("other"), "x");
    for (int i = 0; i < 20000; ++i)
        L.writeFile("big/" + std::to_string(i), QByteArray());
    OutlineOver o(L, R);
    const QModelIndex big = o.model.index(0, 0);
    QCOMPARE(o.model.itemAt(big)->name(), QStringLiteral("big"));
    QCOMPARE(o.model.rowCount(big), 20000);
    QModelIndexList all;
    for (int r = 0; r < 20000; ++r)
        all << o.model.index(r, 0, big);
    QElapsedTimer t;
    t.start();
    o.model.setSelectedIncluded(all, false);
    const qint64 uncheck = t.restart();
    QCOMPARE(*o.project->excludePathList(), QStringList { "big" });
    QCOMPARE(o.model.itemAt(big)->check(), 0);
    o.model.setSelectedIncluded(all.mid(0, 19999), true);
    QCOMPARE(*o.project->excludePathList(), QStringList { "big/" + o.model.itemAt(all.last())->name() });
    QCOMPARE(o.model.itemAt(big)->check(), -1);
    o.model.setSelectedIncluded(all, true);
    const qint64 check = t.elapsed();
    QVERIFY(o.project->excludePathList()->isEmpty());
    QCOMPARE(o.model.itemAt(big)->check(), 1);
    qInfo("20,000 rows: uncheck %lld ms, check (twice) %lld ms", uncheck, check);
    QVERIFY2(uncheck < 3000 && check < 6000, "selected rows are no longer linear");
}

// The empty-state hint asks the project's readiness, and asking a place lets interface events
// run; inside a paint they would paint again within it (and the outline's painter would fail).
void TestAnalyzeOutline::paintRunsNoEvents()
{
    IQVSyncAnalyzeView view;
    view.setAnalyzeModel(m_model.get());
    bool asking = false, ranWhileAsking = false, asked = false;
    view.setEmptyState([&] {
        QTimer::singleShot(0, &view, [&] { ranWhileAsking = ranWhileAsking || asking; });
        asking = true;
        m_project->getReady();
        asking = false;
        asked = true;
        return SyncPaneRules::EmptyState();
    });
    view.resize(400, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.viewport()->repaint();
    QVERIFY(asked);
    QCoreApplication::processEvents();
    QVERIFY(!ranWhileAsking);
    // Outside a paint, asking still lets events run.
    QTimer::singleShot(0, &view, [&] { ranWhileAsking = asking; });
    asking = true;
    m_project->getReady();
    asking = false;
    QVERIFY(ranWhileAsking);
}

QTEST_MAIN(TestAnalyzeOutline)
#include "tst_analyzeoutline.moc"
