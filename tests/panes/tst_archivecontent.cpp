// kv-test: labels=unit timeout=120 env=DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/kv-no-bus
// kv-test: asan=src/panes/archive/ArchiveContentModel.cpp,src/archive/CBackupItem.cpp,src/archive/CBackupItemsContainer.cpp

// The archive content outline and the restore view's pieces without widgets: the typed member
// list of a restore, the archive pop-up with injected volumes, the include check boxes against
// what a build takes, and the model's consistency across a reload of the project from its file.

#include "../utilities/WorkspaceFixture.h"
#include "TempTree.h"
#include "archive/ArchiveRestoreMembers.h"
#include "archive/CBackup.h"
#include "archive/CBackupItem.h"
#include "archive/IBackup.h"
#include "panes/archive/ArchiveContentModel.h"
#include "panes/archive/ArchivePopup.h"
#include "platform/NameCodec.h"
#include "utilities/IPathUtil.h"

#include <QAbstractItemModelTester>
#include <QRandomGenerator>
#include <QtTest>
#include <functional>

namespace {

// Opens every folder of the model (as a user expanding all would).
void fetchAll(ArchiveContentModel& m, const QModelIndex& parent = {})
{
    if (m.canFetchMore(parent))
        m.fetchMore(parent);
    for (int r = 0; r < m.rowCount(parent); ++r)
        fetchAll(m, m.index(r, 0, parent));
}

void forEachIndex(ArchiveContentModel& m, const std::function<void(const QModelIndex&)>& fn, const QModelIndex& parent = {})
{
    for (int r = 0; r < m.rowCount(parent); ++r) {
        const QModelIndex i = m.index(r, 0, parent);
        fn(i);
        forEachIndex(m, fn, i);
    }
}

} // namespace

class TestArchiveContent : public QObject
{
    Q_OBJECT
private slots:
    void memberLists();
    void archivePopup();
    void togglesMatchWhatABuildTakes();
    void modelAcrossReload();
};

void TestArchiveContent::memberLists()
{
    WorkspaceFixture home;
    TempTree tree;
    QVERIFY(tree.mkdir(std::string("p1")));
    QVERIFY(tree.mkdir(std::string("p2")));
    QVERIFY(tree.mkdir(std::string("p1/-C")));
    QVERIFY(tree.writeFile(std::string("p1/-C/deep.txt"), "x"));
    QVERIFY(tree.writeFile(std::string("p2/-rf"), "y"));
    CBackup b("M");
    CBackupItem* one = b.addItemFromDisk(tree.filePath(std::string("p1/-C")));
    CBackupItem* two = b.addItemFromDisk(tree.filePath(std::string("p2/-rf")));
    one->addSubItmesFromDisk(&b, false, false, false);
    const CBackupItem* deep = one->itemAt(0);
    const QString p1 = tree.filePath(std::string("p1"));
    const QString p2 = tree.filePath(std::string("p2"));

    using G = RestoreMemberGroup;
    struct Case
    {
        const char* name;
        QList<const CBackupItem*> items;
        bool original, absolute;
        RestoreMembers expected;
    };
    const QList<Case> cases = {
        { "two top items to their places", { one, two }, true, false,
            { G { p1, { "-C" } }, G { p2, { "-rf" } } } },
        { "into a folder", { one, two }, false, false, { G { QString(), { "-C", "-rf" } } } },
        { "absolute-path archive", { one, two }, true, true,
            { G { QString(), { one->getAbsolutePath(), two->getAbsolutePath() } } } },
        { "a deeper item", { deep }, true, false, { G { p1, { "-C/deep.txt" } } } },
    };
    for (const Case& c : cases) {
        const RestoreMembers m = ArchiveRestoreMembers::forItems(c.items, c.original, c.absolute);
        QVERIFY2(m == c.expected, c.name);
    }
    // The driver's --item: a known path as the view makes it, an unknown one as given.
    const RestoreMembers fromPaths = ArchiveRestoreMembers::forPathsInTree(
        b, { deep->getAbsolutePath(), QStringLiteral("/not/there") }, false, true);
    QVERIFY(fromPaths == (RestoreMembers { G { QString(), { deep->getAbsolutePath(), "/not/there" } } }));
    // tar gets each group as a folder change and a NUL list, a group without folder into the
    // restore's folder; the names' bytes as they are, whatever they look like.
    QCOMPARE(ArchiveRestoreMembers::tarArguments(
                 { G { p1, { "-C" } }, G { QString(), { "b" } } }, QStringLiteral("/to"), { "L1", "L2" }),
        (QStringList { "--no-unquote", "-C", p1, "--null", "-T", "L1", "-C", "/to", "--null", "-T", "L2" }));
    const QString notUtf8 = NameCodec::decode(QByteArray("x\xff"));
    QCOMPARE(
        ArchiveRestoreMembers::nullList({ "-C", "--checkpoint-action=exec=touch pwned", "a\\b\nc", notUtf8 }),
        QByteArray("-C\0--checkpoint-action=exec=touch pwned\0a\\b\nc\0x\xff\0", 49));
}

void TestArchiveContent::archivePopup()
{
    WorkspaceFixture home;
    TempTree disk;
    QVERIFY(disk.mkdir(std::string("usb/Backups/P")));
    QVERIFY(disk.writeFile(std::string("usb/Backups/P/vers_P_2026-01-03_10-00-00_lp.tgz.aaa"), "piece"));
    QVERIFY(disk.mkdir(std::string("fixed/P")));
    QVERIFY(disk.writeFile(std::string("fixed/P/full_P_2026-01-01_08-00-00_lp.tgz"), "a"));
    CBackup b("P");
    const QString fixedPath = disk.filePath(std::string("fixed/P")).mid(1); // from "/"
    b.addArchPath({ fixedPath, QString(), "full_P_2026-01-01_08-00-00_lp.tgz", 0 });
    b.addArchPath({ fixedPath, QString(), "full_P_2026-01-02_09-00-00_lp.tgz", 0 }); // gone
    b.addArchPath({ "Backups/P", QString(), "vers_P_2026-01-03_10-00-00_lp.tgz.cnt3", 1 });

    ArchivePopup::Environment env;
    QStringList mounts = { disk.filePath(std::string("elsewhere")), disk.filePath(std::string("usb")) };
    env.mountPoints = [&] { return mounts; };
    env.prepareNetwork = [](const QString&, const QString&) { return QString(); };
    env.exists = [](const QString& p) { return QFileInfo::exists(p); };

    const QList<ArchivePopup::Item> items = ArchivePopup::fillBackupArchives(b, env);
    QCOMPARE(items.size(), 3);
    QCOMPARE(items[0].tag, 2);
    QCOMPARE(items[1].tag, 1);
    QCOMPARE(items[2].tag, 0);
    QCOMPARE(items[0].title, QStringLiteral("vers: 2026-01-03 10:00:00 multi-volume"));
    QVERIFY(items[0].accessible); // found by its first piece on the second mount
    QCOMPARE(items[1].title, QStringLiteral("(N/A) full: 2026-01-02 09:00:00"));
    QCOMPARE(items[2].title, QStringLiteral("full: 2026-01-01 08:00:00"));
    mounts.removeLast();
    QVERIFY(!ArchivePopup::isArchiveFileAccessible(b, 2, env));
    // A network archive is reached only through the prepared place.
    b.addArchPath({ "P", "smb://server/share", "full_P_2026-01-04_08-00-00_lp.tgz", 6 });
    QVERIFY(!ArchivePopup::isArchiveFileAccessible(b, 3, env));

    CBackup none("N");
    const QList<ArchivePopup::Item> empty = ArchivePopup::fillBackupArchives(none, env);
    QCOMPARE(empty.size(), 1);
    QCOMPARE(empty[0].title, QStringLiteral("Not found"));
    QCOMPARE(empty[0].tag, -1);
}

void TestArchiveContent::togglesMatchWhatABuildTakes()
{
    WorkspaceFixture home;
    TempTree tree;
    // Two top-level folders, each with subfolders and files.
    for (const char* top : { "a", "b" }) {
        QVERIFY(tree.mkdir(top));
        for (int s = 0; s < 3; ++s) {
            const std::string sub = std::string(top) + "/s" + std::to_string(s);
            QVERIFY(tree.mkdir(sub));
            for (int f = 0; f < 3; ++f)
                QVERIFY(tree.writeFile(sub + "/f" + std::to_string(f), "x"));
        }
        QVERIFY(tree.writeFile(std::string(top) + "/top.txt", "t"));
    }
    CBackup b("T");
    b.addItemFromDisk(tree.filePath(std::string("a")));
    b.addItemFromDisk(tree.filePath(std::string("b")));
    ArchiveContentModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setProject(&b);
    fetchAll(model);

    QList<QPersistentModelIndex> rows;
    forEachIndex(model, [&](const QModelIndex& i) { rows << QPersistentModelIndex(i); });
    QCOMPARE(rows.size(), 2 * (1 + 3 * 4 + 1));
    QRandomGenerator random(20261211);
    for (int step = 0; step < 300; ++step) {
        const QModelIndex i = rows.at(int(random.bounded(rows.size())));
        model.setIncluded(i, random.bounded(2) == 1);
        // Every row's mark is what a build takes of it.
        for (const QPersistentModelIndex& r : rows) {
            const CBackupItem* item = model.itemAt(r);
            const bool takes = item->isIncluded() && item->isParentIncluded();
            const int check = r.sibling(r.row(), 0).data(Qt::CheckStateRole).toInt();
            QVERIFY2((check != Qt::Unchecked) == takes, qPrintable(item->getAbsolutePath()));
            QCOMPARE(bool(item->flags() & BIF_EXCLUDED), !item->isIncluded());
        }
        // The list is minimal: no entry below another, no folder with every child listed.
        const QStringList list = model.excludeList();
        for (const QString& e : list)
            for (const QString& o : list)
                QVERIFY2(e == o || !o.startsWith(e + '/'), qPrintable(e + " above " + o));
        for (const QPersistentModelIndex& r : rows) {
            const CBackupItem* item = model.itemAt(r);
            if (!item->isFolder() || item->count() == 0)
                continue;
            int listed = 0;
            for (int c = 0; c < item->count(); ++c)
                listed += list.contains(item->itemAt(c)->getAbsolutePath());
            QVERIFY(listed < item->count());
        }
        QCOMPARE(b.getIBackup()->excludePathList(), list);
    }
    // Check-all and uncheck-all.
    model.setAllIncluded(true);
    QVERIFY(model.excludeList().isEmpty());
    for (const QPersistentModelIndex& r : rows)
        QCOMPARE(r.data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    model.setAllIncluded(false);
    QCOMPARE(model.excludeList().size(), 2);
    for (const QPersistentModelIndex& r : rows)
        QVERIFY(!model.itemAt(r)->isIncluded() || !model.itemAt(r)->isParentIncluded());
}

void TestArchiveContent::modelAcrossReload()
{
    WorkspaceFixture home;
    QDir().mkpath(IPathUtil::getBackupsPath());
    TempTree tree;
    QVERIFY(tree.mkdir(std::string("d/e")));
    QVERIFY(tree.writeFile(std::string("d/e/f"), "1"));
    QVERIFY(tree.writeFile(std::string("d/g"), "2"));
    CBackup b("R");
    b.createUUID();
    b.addItemFromDisk(tree.filePath(std::string("d")));
    ArchiveContentModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setProject(&b);
    fetchAll(model);
    const QModelIndex e = model.index(0, 0, model.index(0, 0));
    QCOMPARE(model.data(e.siblingAtColumn(ArchiveContentModel::ColName)).toString(), QStringLiteral("e"));
    model.setIncluded(e, false);
    QVERIFY(b.save());
    // The tree is rebuilt from the file: the model lets go first, then shows the new items.
    model.setProject(nullptr);
    QCOMPARE(b.reload(), 1);
    model.setProject(&b);
    fetchAll(model);
    const QModelIndex e2 = model.index(0, 0, model.index(0, 0));
    QCOMPARE(e2.data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
    QCOMPARE(model.index(0, 0).data(Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));
    // Folding marks the folder for a new read; a new file appears at the next opening.
    QVERIFY(tree.writeFile(std::string("d/h"), "3"));
    model.collapsed(model.index(0, 0));
    QVERIFY(model.canFetchMore(model.index(0, 0)));
    model.fetchMore(model.index(0, 0));
    QCOMPARE(model.rowCount(model.index(0, 0)), 3);
    // An item removed from the tree leaves no node pointing at it.
    model.setProject(nullptr);
    b.removeAllItems();
    model.setProject(&b);
    QCOMPARE(model.rowCount(), 0);
}

QTEST_GUILESS_MAIN(TestArchiveContent)
#include "tst_archivecontent.moc"
