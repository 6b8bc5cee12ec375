// kv-test: labels=unit timeout=120

// The analysis outline's model over two temporary folders, watched by QAbstractItemModelTester:
// rows of both sides (a file and a folder of one name are two rows, a link to a folder does not
// open), re-listing that keeps nodes with their marks and checks and drops vanished names, names
// that are not UTF-8, and the check boxes editing the project's exclude list; the outline's
// paint runs no events while it asks the project's places.

#include "RecordingShellServices.h"
#include "TempTree.h"
#include "panes/sync/AnalyzeOutlineModel.h"
#include "panes/sync/IQVSyncAnalyzeView.h"
#include "platform/NameCodec.h"
#include "sync/ISynchron.h"
#include "utilities/IVolumeBase.h"

#include <QAbstractItemModelTester>
#include <QtTest>

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
