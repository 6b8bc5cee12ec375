// kv-test: labels=unit
// kv-test: asan=src/archive/CBackupItem.cpp,src/archive/CBackupItemsContainer.cpp,src/archive/CBackup.cpp
#include "ArchiveFakes.h"
#include "ScriptedUiPrompts.h"
#include "TempTree.h"
#include "archive/ArchiveRestoreMembers.h"
#include "archive/CBackup.h"
#include "archive/CBackupItem.h"
#include "archive/IBackup.h"
#include "platform/NameCodec.h"
#include "utilities/MainPreferences.h"

#include <QProcess>
#include <QTimer>
#include <QtTest>
#include <cstdio>
#include <numeric>

namespace {

// Runs a list writer into a file and answers the file's lines (raw bytes).
template<typename Fn>
QList<QByteArray> listLines(const QString& path, Fn fn)
{
    FILE* f = std::fopen(NameCodec::encode(path).constData(), "w");
    fn(f);
    std::fclose(f);
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    QList<QByteArray> lines = file.readAll().split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

int runTar(const QStringList& args, QByteArray* err = nullptr)
{
    QProcess p;
    p.start(QStringLiteral("tar"), args);
    p.waitForFinished(60000);
    if (err)
        *err = p.readAllStandardError();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

} // namespace

class TestSelectionTree : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { MainPreferences::resetShared(); }

    // Odd names reach GNU tar intact through the build list, and back through a restore list.
    void trickyNamesThroughRealTar()
    {
        TempTree t;
        const std::vector<std::string> names = { "a\\tb", "c\\\\d", "line\nfeed", "-lead", "quo\"te", "star*",
            "[x]", "a blank", std::string("bad\xe9", 4), std::string(255, 'L'), "README", "readme", "cr\rx" };
        QVERIFY(t.mkdir("src/sub"));
        for (const std::string& n : names)
            QVERIFY(t.writeFile("src/sub/" + n, QByteArray::fromStdString(n)));

        CBackup project(QStringLiteral("T"));
        CBackupItem* top = project.addItemFromDisk(t.filePath(std::string("src")));
        QVERIFY(top);
        project.refreshFromDisk(&project, true, false, false);
        QCOMPARE(top->itemAt(0)->count(), int(names.size())); // "README" and "readme" are two items

        const QString list = t.filePath(std::string("build.list"));
        double total = 0;
        const QList<QByteArray> lines
            = listLines(list, [&](FILE* f) { project.collectIncludedFilesToStream(f, false, total); });
        // Every folder once, before its first child; then each file.
        QCOMPARE(lines.size(), int(names.size()) + 2);
        QCOMPARE(lines.at(0), NameCodec::encode(t.filePath(std::string("src"))));
        QCOMPARE(lines.at(1), NameCodec::encode(t.filePath(std::string("src/sub"))));
        QCOMPARE(total,
            double(std::accumulate(names.begin(), names.end(), size_t(0),
                [](size_t s, const std::string& n) { return s + n.size(); })));

        const QString out = t.filePath(std::string("out.tar"));
        QByteArray err;
        QCOMPARE(runTar({ QStringLiteral("-cvvf"), out, QStringLiteral("--ignore-failed-read"),
                            QStringLiteral("--no-recursion"), QStringLiteral("-PT"), list },
                     &err),
            0);
        QVERIFY2(!err.contains("Cannot stat"), err.constData());
        QVERIFY(t.mkdir("x"));
        QCOMPARE(
            runTar({ QStringLiteral("-xf"), out, QStringLiteral("-C"), t.filePath(std::string("x")) }), 0);
        const std::string inner = "x" + t.pathStd() + "/src/sub/";
        for (const std::string& n : names)
            QVERIFY2(t.readFile(inner + n) == QByteArray::fromStdString(n), n.c_str());

        // A restore into a folder whose name holds "\", the two characters "\n", a line feed and
        // a quote: exactly the listed files come back there.
        const std::string odd = "re\\st\\n\nq\"";
        QVERIFY(t.mkdir(odd));
        QCOMPARE(runTar({ QStringLiteral("-cf"), t.filePath(std::string("rel.tar")), QStringLiteral("-C"),
                     t.filePath(std::string("src/sub")), QStringLiteral("--no-unquote"), QStringLiteral("--"),
                     QString::fromStdString(names[0]), QString::fromStdString(names[2]),
                     QStringLiteral("star*") }),
            0);
        CBackup restore(QStringLiteral("R"));
        restore.insertNewItem(t.filePath(odd) + QStringLiteral("/a\\tb"), nullptr);
        restore.insertNewItem(t.filePath(odd) + QStringLiteral("/line\nfeed"), nullptr);
        RestoreMembers members;
        QCOMPARE(restore.collectItemsForRestore(members, true, true, 0, false, false), 2);
        QCOMPARE(members,
            (RestoreMembers {
                { t.filePath(odd), { QStringLiteral("a\\tb"), QStringLiteral("line\nfeed") } } }));
        const QString rlist = t.filePath(std::string("restore.list"));
        QVERIFY(
            t.writeFile(std::string("restore.list"), ArchiveRestoreMembers::nullList(members.at(0).names)));
        err.clear();
        QCOMPARE(
            runTar(QStringList { QStringLiteral("-xf"), t.filePath(std::string("rel.tar")),
                       QStringLiteral("--no-wildcards") }
                    + ArchiveRestoreMembers::tarArguments(members, QStringLiteral("/nowhere"), { rlist }),
                &err),
            0);
        QVERIFY2(err.isEmpty(), err.constData());
        QCOMPARE(t.list(odd), (std::vector<std::string> { "a\\tb", "line\nfeed" }));
    }

    void refreshMergesNewNames()
    {
        // A refresh keeps the items it has (with their marks) and adds new names in the tree's
        // order: case-insensitive first, then exact.
        TempTree t;
        for (const char* name : { "src/b", "src/D" })
            QVERIFY(t.writeFile(std::string(name), QByteArray("x")));
        CBackup project(QStringLiteral("M"));
        project.addItemFromDisk(t.filePath(std::string("src")));
        project.refreshFromDisk(&project, true, false, false);
        CBackupItem* src = project.itemAt(0);
        QCOMPARE(src->count(), 2);
        CBackupItem* b = src->itemAt(0);
        CBackupItem* d = src->itemAt(1);
        b->setLastBackupDate(b->modificationDate());
        for (const char* name : { "src/a", "src/C", "src/e", "src/B" })
            QVERIFY(t.writeFile(std::string(name), QByteArray("x")));
        project.refreshFromDisk(&project, true, false, false);
        QStringList names;
        for (int i = 0; i < src->count(); ++i)
            names << src->itemAt(i)->getName();
        QCOMPARE(names, (QStringList { "a", "B", "b", "C", "D", "e" }));
        QCOMPARE(src->itemAt(2), b);
        QCOMPARE(src->itemAt(4), d);
        QCOMPARE(b->lastBackupDate(), b->modificationDate());
    }

    void walkRules()
    {
        TempTree t;
        QVERIFY(t.mkdir("src/real"));
        QVERIFY(t.writeFile(std::string("src/real/f"), QByteArray("12345")));
        QVERIFY(t.symlink("real", "src/link"));
        QVERIFY(t.mkdir("src/Tool.app/Contents"));
        QVERIFY(t.writeFile(std::string("src/Tool.app/Contents/x"), QByteArray("x")));

        CBackup project(QStringLiteral("W"));
        project.addItemFromDisk(t.filePath(std::string("src")));
        project.refreshFromDisk(&project, true, false, false);
        CBackupItem* src = project.itemAt(0);
        bool found = false;
        CBackupItem* link = src->itemAt(src->tarComp_lower_baund(QStringLiteral("link"), found));
        QVERIFY(found);
        QCOMPARE(link->flags() & (BIF_FOLDER | BIF_LINK), quint32(BIF_FOLDER | BIF_LINK));
        QCOMPARE(link->count(), 0); // a link to a folder is not walked
        CBackupItem* app = src->itemAt(src->tarComp_lower_baund(QStringLiteral("tool.APP"), found));
        QVERIFY(found);
        QVERIFY(app->flags() & BIF_PACKAGE);
        QCOMPARE(app->count(), 1); // packages are folders while "ResolveBundlesAsDir" is on

        MainPreferences::shared().setResolveBundlesAsDir(false);
        project.refreshFromDisk(&project, true, false, false);
        QCOMPARE(app->count(), 0);

        // Incremental: a file saved since its last change is left out; its folders stay.
        CBackupItem* real = src->itemAt(src->tarComp_lower_baund(QStringLiteral("real"), found));
        CBackupItem* f = real->itemAt(0);
        f->setLastBackupDate(f->modificationDate());
        double total = 0;
        const QList<QByteArray> lines = listLines(t.filePath(std::string("l")),
            [&](FILE* file) { project.collectIncludedFilesToStream(file, true, total); });
        QVERIFY(!lines.contains(NameCodec::encode(t.filePath(std::string("src/real/f")))));
        f->setLastBackupDate(f->modificationDate().addSecs(-1));
        project.clearIncludedToStreamFlag();
        const QList<QByteArray> again = listLines(t.filePath(std::string("l")),
            [&](FILE* file) { project.collectIncludedFilesToStream(file, true, total); });
        QVERIFY(again.contains(NameCodec::encode(t.filePath(std::string("src/real/f")))));
        QVERIFY(f->isInListForBackup());

        // The old include list: included items with their subtrees, the top level by absolute
        // path, and a turning bar in the project's status line for every container written.
        const auto oldList = [&] {
            return listLines(t.filePath(std::string("o")),
                [&](FILE* file) { project.collectIncludedItemsToStream(file, true); });
        };
        const QList<QByteArray> old = oldList();
        QCOMPARE(old.first(), NameCodec::encode(t.filePath(std::string("src"))));
        QVERIFY(old.contains("src/real/f"));
        const QString bar = project.getIBackup()->lastStatusString();
        QVERIFY2(bar.startsWith(QStringLiteral("Preparing file list: ")), qPrintable(bar));
        oldList();
        QVERIFY(project.getIBackup()->lastStatusString() != bar);

        // A file known from an archive and unchanged on disk to the second is excluded from an
        // incremental archive; once it changes it is not.
        f->setFlags(f->flags() | BIF_LOCATED);
        const auto excluded = [&] {
            return listLines(t.filePath(std::string("x")),
                [&](FILE* file) { project.collectExcludedItemsToStream(file, true, true); });
        };
        QVERIFY(excluded().contains("f"));
        QCOMPARE(excluded().first(), QByteArray("/private/tmp"));
        f->setModificationDate(f->modificationDate().addSecs(-5));
        QVERIFY(!excluded().contains("f"));
    }

    void insertedInArchive()
    {
        CBackup project(QStringLiteral("H"));
        CBackupItem* item = project.insertNewItem(QStringLiteral("/x"), nullptr);
        item->addHistoryStateChanging(0, 0x3);
        item->addHistoryStateChanging(3, 0x2);
        QVERIFY(item->isInsertedInArchive(0));
        QVERIFY(item->isInsertedInArchive(2));
        QVERIFY(!item->isInsertedInArchive(3));
        QVERIFY(!item->isInsertedInArchive(5));
        QVERIFY(item->isInsertedInArchives(5, 1));
        CBackupItem* late = project.insertNewItem(QStringLiteral("/y"), nullptr);
        late->addHistoryStateChanging(4, 0x3);
        QVERIFY(!late->isInsertedInArchive(2)); // no record at or below
        QVERIFY(late->isInsertedInArchive(4));
    }

    void volumeRootsStayOutOfTheRoot()
    {
        CBackup project(QStringLiteral("V"));
        CBackupItem* root = project.insertNewItem(QStringLiteral("/"), nullptr);
        CBackupItem* mnt = root->insertNewItem(QStringLiteral("mnt"), root);
        CBackupItem* home = root->insertNewItem(QStringLiteral("home"), root);
        QCOMPARE(home->getPath(), QStringLiteral("/home"));
        QCOMPARE(home->getAbsolutePath(), QStringLiteral("/home"));
        mnt->setIncludeByUser(true);
        home->setIncludeByUser(true);
        QVERIFY(!mnt->isIncluded());
        QVERIFY(home->isIncluded());
    }

    void itemsForgetTheirNodes()
    {
        RecordingItemNode node;
        {
            CBackup project(QStringLiteral("N"));
            CBackupItem* a = project.insertNewItem(QStringLiteral("/a"), nullptr);
            a->setNode(&node);
            CBackupItem* child = a->insertNewItem(QStringLiteral("c"), a);
            RecordingItemNode childNode;
            child->setNode(&childNode);
            a->removeItem(child);
            QCOMPARE(childNode.forgotten, 1);
        }
        QCOMPARE(node.forgotten, 1);
    }

    // Interface events run during a refresh: a queued edit of the tree must wait, not free
    // items the walk is still using.
    void editsDuringAWalkAreRefused()
    {
        TempTree t;
        for (int i = 0; i < 100; ++i)
            QVERIFY(t.writeFile("src/d" + std::to_string(i % 5) + "/f" + std::to_string(i), QByteArray("x")));
        CBackup project(QStringLiteral("B"));
        project.addItemFromDisk(t.filePath(std::string("src")));
        ScriptedUiPrompts prompts;
        prompts.expectAlert(QStringLiteral("busy"), 0);
        bool removed = false;
        int attempts = 0;
        QTimer::singleShot(0, [&] {
            ++attempts;
            removed = project.editTree([&] { project.itemAt(0)->removeAllItems(); });
        });
        project.refreshFromDisk(&project, true, false, false);
        QCOMPARE(attempts, 1);
        QVERIFY(!removed);
        QCOMPARE(prompts.pending(), 0);
        QCOMPARE(project.itemAt(0)->count(), 5);
        QVERIFY(!project.isTreeBusy());
        QVERIFY(project.editTree([&] { project.itemAt(0)->removeAllItems(); }));
        QCOMPARE(project.itemAt(0)->count(), 0);
    }
};

QTEST_GUILESS_MAIN(TestSelectionTree)
#include "tst_selectiontree.moc"
