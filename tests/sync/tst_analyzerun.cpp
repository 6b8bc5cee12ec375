// kv-test: labels=unit timeout=120
#include "KvTest.h"
#include "RecordingShellServices.h"
#include "TempTree.h"
#include "platform/AppPaths.h"
#include "platform/NameCodec.h"
#include "platform/Subprocess.h"
#include "sync/IAnalyzeController.h"
#include "sync/IAnalyzeProcController.h"
#include "sync/ISynchron.h"
#include "utilities/IVolumeBase.h"

#include <QtTest>
#include <sys/stat.h>
#include <utime.h>

using Item = IAnalyzeFileSystemItem;

namespace {

// "path flags" of every node carrying a result bit, depth first.
void results(const Item* item, QStringList* out)
{
    for (const auto& c : item->childrenArray()) {
        if (c->isFlagOn(Item::CopyToRight | Item::CopyToLeft | Item::DeleteLeft | Item::DeleteRight))
            *out << QStringLiteral("%1 %2").arg(c->localPath()).arg(c->flags() & 0x13f, 0, 16);
        results(c.get(), out);
    }
}

QStringList snapshotOf(const QString& folder)
{
    Subprocess::Options o;
    o.program = QStringLiteral("find");
    o.arguments = QStringList { folder, "-printf", "%P %s %T@ %y\\n" };
    QStringList out = QString::fromUtf8(Subprocess::run(o, 10000).out).split('\n');
    out.sort();
    return out;
}

void setMtime(const TempTree& tree, const std::string& name, time_t when)
{
    struct utimbuf t
    {
        when, when
    };
    ::utime(tree.filePathStd(name).c_str(), &t);
}

struct End
{
    bool ended = false;
    int result = -1;
    QString text;
};

} // namespace

class TestAnalyzeRun : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void treeByDirection_data();
    void treeByDirection();
    void failedAnalysesFail_data();
    void failedAnalysesFail();

private:
    std::shared_ptr<ISynchron> project(int direction);
    End run(const std::shared_ptr<ISynchron>& P);
    std::unique_ptr<RecordingShellServices> m_shell;
    std::unique_ptr<TempTree> m_left, m_right;
    std::unique_ptr<AnalyzeTreeModel> m_tree;
};

void TestAnalyzeRun::initTestCase()
{
    IVolumeBase::shared().fill();
}

void TestAnalyzeRun::init()
{
    m_shell = std::make_unique<RecordingShellServices>();
    IShellServices::setShared(m_shell.get());
    m_tree = std::make_unique<AnalyzeTreeModel>();
    IAnalyzeController::setShared(m_tree.get());
    m_left = std::make_unique<TempTree>(QStringLiteral("left"));
    m_right = std::make_unique<TempTree>(QStringLiteral("right"));
    TempTree& L = *m_left;
    TempTree& R = *m_right;
    const time_t old = 1600000000, newer = 1700000000;
    L.writeFile(std::string("new.txt"), "new");
    L.writeFile(std::string("changed.txt"), "left, longer");
    R.writeFile(std::string("changed.txt"), "right");
    setMtime(L, "changed.txt", old);
    setMtime(R, "changed.txt", newer);
    L.symlink("new.txt", "link");
    L.writeFile(std::string("caf\xc3\xa9"), "x");
    L.writeFile(std::string("odd\xff"), "x");
    L.writeFile(std::string(".hidden"), "x");
    L.writeFile(std::string("sub/inner.txt"), "x");
    R.writeFile(std::string("old/deep/x"), "x");
}

void TestAnalyzeRun::cleanup()
{
    IAnalyzeController::setShared(nullptr);
    IShellServices::setShared(nullptr);
    AppPaths::setContentsDirOverride(QString());
    m_tree.reset();
    m_shell.reset();
    m_left.reset();
    m_right.reset();
}

std::shared_ptr<ISynchron> TestAnalyzeRun::project(int direction)
{
    auto P = std::make_shared<ISynchron>();
    P->setName(QStringLiteral("Mirror"));
    P->setFirstFolder(m_left->path());
    P->setSecondFolder(m_right->path());
    P->setDirection(direction);
    P->setOptionDelete(direction != 2);
    P->setExcludeInvisible(true);
    m_tree->setSynchron(P);
    return P;
}

End TestAnalyzeRun::run(const std::shared_ptr<ISynchron>& P)
{
    End end;
    IAnalyzeProcController controller;
    controller.setEndObserver([&end](int result, const QString& text) {
        end.ended = true;
        end.result = result;
        end.text = text;
    });
    controller.processProject(P);
    (void)QTest::qWaitFor([&] { return end.ended; }, 30000);
    return end;
}

void TestAnalyzeRun::treeByDirection_data()
{
    const QString odd = QStringLiteral("odd") + QChar(0xdcff);
    QTest::addColumn<int>("direction");
    QTest::addColumn<QStringList>("expected");
    // Side bits 1 and 2 come from the listing, 0x100 and the action from the analysis. A hidden
    // item on the receiving side is deleted by the run (excluded items are deleted there), so the
    // analysis shows it; a deleted link is named without its target and matches no link node.
    QTest::newRow("first to second") << 0
                                     << QStringList { "caf\u00e9 105", "changed.txt 107", "link 105",
                                            "new.txt 105", odd + " 105", "sub 105", "sub/inner.txt 105",
                                            "old 122", "old/deep 122", "old/deep/x 122" };
    QTest::newRow("second to first") << 1
                                     << QStringList { ".hidden 111", "caf\u00e9 111", "changed.txt 10b",
                                            "new.txt 111", odd + " 111", "sub 111", "sub/inner.txt 111",
                                            "old 10a", "old/deep 10a", "old/deep/x 10a" };
    QTest::newRow("both ways") << 2
                               << QStringList { "caf\u00e9 105", "changed.txt 10b", "link 105", "new.txt 105",
                                      odd + " 105", "sub 105", "sub/inner.txt 105", "old 10a", "old/deep 10a",
                                      "old/deep/x 10a" };
}

// The real engine and rsync compare two trees with odd names; the tree carries what a run would
// do, hidden items stay out, and neither tree changes on disk.
void TestAnalyzeRun::treeByDirection()
{
    QFETCH(int, direction);
    QFETCH(QStringList, expected);
    const QStringList leftBefore = snapshotOf(m_left->path()), rightBefore = snapshotOf(m_right->path());
    auto P = project(direction);
    QVERIFY(m_tree->treeRoot());
    const End end = run(P);
    QVERIFY(end.ended);
    QCOMPARE(end.text, QStringLiteral("Analyze completed"));
    QCOMPARE(end.result, 0);
    QStringList got;
    results(m_tree->treeRoot(), &got);
    QVERIFY2(got == expected, qPrintable(got.join('|')));
    QVERIFY(m_tree->showArrowsAndColors());
    QCOMPARE(snapshotOf(m_left->path()), leftBefore);
    QCOMPARE(snapshotOf(m_right->path()), rightBefore);
    QVERIFY(!P->processCard()->isFlag(taskAnalyze));
}

void TestAnalyzeRun::failedAnalysesFail_data()
{
    QTest::addColumn<QByteArray>("engine"); // empty: no engine at all
    QTest::newRow("engine missing") << QByteArray();
    QTest::newRow("ends without ic") << QByteArray("echo 'wi::new.txt'\n");
    QTest::newRow("error line") << QByteArray("echo 'wi::new.txt'\necho er::broken\necho 'ic:: end'\n");
}

void TestAnalyzeRun::failedAnalysesFail()
{
    QFETCH(QByteArray, engine);
    TempTree app(QStringLiteral("app"));
    app.mkdir(std::string("Contents/Resources"));
    QVERIFY(QFile::copy(KvTest::appContentsDir() + "/Resources/TemplateProc.plist",
        app.filePath(std::string("Contents/Resources/TemplateProc.plist"))));
    if (!engine.isEmpty())
        app.writeFile(
            std::string("Contents/Resources/qv_proc"), "#!/bin/sh\necho \"qv_proc_pid $$\"\n" + engine, 0755);
    AppPaths::setContentsDirOverride(app.filePath(std::string("Contents")));
    auto P = project(0);
    const End end = run(P);
    QVERIFY(end.ended);
    QCOMPARE(end.text, QStringLiteral("Analyze failed"));
    QCOMPARE(end.result, 1);
    QStringList got;
    results(m_tree->treeRoot(), &got);
    QCOMPARE(got, QStringList());
    QVERIFY(m_tree->treeRoot()->childWithNameEqualToString("new.txt"));
}

QTEST_GUILESS_MAIN(TestAnalyzeRun)
#include "tst_analyzerun.moc"
