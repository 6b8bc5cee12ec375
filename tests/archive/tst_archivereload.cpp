// kv-test: labels=unit timeout=60
// Reading a project's files again: a missing file changes nothing, a damaged one keeps the
// project as it was (so a later save cannot write an empty tree), a good one replaces the tree.
#include "KvTest.h"
#include "TempTree.h"
#include "archive/CBackup.h"
#include "archive/IBackup.h"
#include "platform/AppPaths.h"

#include <QtTest>

namespace {
QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

class TestArchiveReload : public QObject
{
    Q_OBJECT

private slots:
    void reload_data()
    {
        QTest::addColumn<QString>("file"); // what becomes of the saved files
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("items"); // top-level items afterwards
        QTest::newRow("missing") << "missing" << 0 << 2;
        QTest::newRow("record cut short") << "cut" << -1 << 2;
        QTest::newRow("good") << "good" << 1 << 1;
    }
    void reload()
    {
        QFETCH(QString, file);
        QFETCH(int, result);
        QFETCH(int, items);
        TempTree tree;
        tree.writeFile(std::string("src/a"), "a");
        tree.writeFile(std::string("src/b"), "b");
        AppPaths::setWorkspacePathOverride(tree.filePath(QStringLiteral("ws")));
        CBackup project(QStringLiteral("R"));
        QVERIFY(project.addItemFromDisk(tree.filePath(QStringLiteral("src/a"))));
        QVERIFY(project.save());
        const QString bif = project.makeBifFileName();
        const QString bih = CBackup::QVProjectHeaderFileName(bif);
        // The project in memory now differs from the files: one item more.
        QVERIFY(project.addItemFromDisk(tree.filePath(QStringLiteral("src/b"))));
        project.setTreeChanged(true);
        if (file == QLatin1String("missing")) {
            QVERIFY(QFile::remove(bif));
            QVERIFY(QFile::remove(bih));
        } else if (file == QLatin1String("cut")) {
            QFile f(bih);
            QVERIFY(f.resize(f.size() / 2));
        }
        const QByteArray bifBefore = readAll(bif);
        const QByteArray bihBefore = readAll(bih);
        const int changes = project.getIBackup()->externalChangeCount();
        QCOMPARE(project.reload(), result);
        QCOMPARE(project.count(), items);
        if (result == 1)
            QCOMPARE(project.getIBackup()->lastExternalChange(), 5);
        else
            QCOMPARE(project.getIBackup()->externalChangeCount(), changes);
        QVERIFY(!project.isInProcess());
        if (result == -1) {
            QVERIFY(project.isTreeChanged()); // the edit still waits to be saved
            QVERIFY(project.save());
            QVERIFY(readAll(bif) != bifBefore || readAll(bih) != bihBefore); // the full tree, not nothing
            CBackup again(QStringLiteral("R"));
            QVERIFY(again.load(bif, false));
            QCOMPARE(again.count(), 2);
        }
    }

    // A refresh that changes the number of top-level items marks the tree changed; one that
    // does not leaves the flag alone.
    void refreshMarksTopLevelChange()
    {
        TempTree tree;
        tree.writeFile(std::string("src/a"), "a");
        tree.writeFile(std::string("src/b"), "b");
        CBackup project(QStringLiteral("F"));
        QVERIFY(project.addItemFromDisk(tree.filePath(QStringLiteral("src/a"))));
        QVERIFY(project.addItemFromDisk(tree.filePath(QStringLiteral("src/b"))));
        project.setTreeChanged(false);
        project.refreshFromDisk(&project, true, true, true);
        QVERIFY(!project.isTreeChanged());
        QVERIFY(QFile::remove(tree.filePath(QStringLiteral("src/b"))));
        project.refreshFromDisk(&project, true, true, true);
        if (project.count() != 2)
            QVERIFY(project.isTreeChanged());
    }
};

QTEST_GUILESS_MAIN(TestArchiveReload)
#include "tst_archivereload.moc"
