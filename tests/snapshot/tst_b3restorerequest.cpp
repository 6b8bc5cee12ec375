// kv-test: labels=unit timeout=60

// Restore requests read from a project folder: the version list (untrusted names, deleted
// version folders), the source rows, the request rows with their levels, the driver's item
// paths, the external project's name and the folder chooser's check.

#include "TempTree.h"
#include "projects/ILocation.h"
#include "snapshot/B3RestoreRequest.h"
#include "snapshot/Backup3VersionList.h"

#include <QtTest>

using namespace B3RestoreRequest;

namespace {

QVariantMap location(const QString& archiveName, qint64 tag, const QString& mount = QStringLiteral("/"),
    const QString& inner = QStringLiteral("home/u/Docs"))
{
    QVariantMap d;
    if (!archiveName.isNull())
        d.insert(QStringLiteral("ArchiveName"), archiveName);
    d.insert(QStringLiteral("MountPoint"), mount);
    d.insert(QStringLiteral("PathFromMountPoint"), inner);
    d.insert(QStringLiteral("Tag"), tag);
    d.insert(QStringLiteral("IsFolder"), true);
    return d;
}

QVariantMap entry(const QVariant& folder, const QVariantList& locations, int day)
{
    QVariantMap e;
    e.insert(QStringLiteral("Folder"), folder);
    e.insert(QStringLiteral("Date"), QDateTime(QDate(2026, 1, day), QTime(12, 0)));
    e.insert(QStringLiteral("Locations"), locations);
    return e;
}

void writeList(TempTree& tree, const QVariantList& entries)
{
    QVariantMap dict;
    dict.insert(QStringLiteral("ProjectUUID"), QStringLiteral("U"));
    dict.insert(QStringLiteral("ProcessDataArray"), entries);
    QVERIFY(Backup3VersionList::write(tree.path(), dict));
}

} // namespace

class TestB3RestoreRequest : public QObject
{
    Q_OBJECT
private slots:
    void versionList();
    void rows();
    void items_data();
    void items();
    void externalNames_data();
    void externalNames();
    void externalFolderCheck();
};

void TestB3RestoreRequest::versionList()
{
    TempTree tree(QStringLiteral("rr"));
    tree.mkdir("b3_1");
    tree.mkdir("b3_3");
    tree.mkdir("x");
    tree.symlink("b3_1", "b3_link");
    writeList(tree,
        { entry("b3_1", {}, 1), entry("../x", {}, 2), entry("b3_3", {}, 3), entry("a/b", {}, 4),
            entry("b3_link", {}, 5), entry("b3_gone", {}, 6), entry(7, {}, 7), QStringLiteral("junk") });
    const Listing l = listVersions(tree.path());
    QVERIFY(l.readable);
    QStringList shown;
    for (const Version& v : l.versions)
        shown
            << QStringLiteral("%1:%2").arg(v.folder.isNull() ? QStringLiteral("-") : v.folder).arg(v.enabled);
    // Newest first; a deleted folder is listed but disabled, bad names and links never enabled.
    QCOMPARE(shown, (QStringList { "-:0", "b3_gone:0", "b3_link:0", "-:0", "b3_3:1", "-:0", "b3_1:1" }));
    QCOMPARE(l.selected, 4);

    TempTree none(QStringLiteral("rr-none"));
    writeList(none, { entry("b3_gone", {}, 1) });
    QCOMPARE(listVersions(none.path()).selected, -1);
    QVERIFY(!listVersions(none.filePath(QStringLiteral("missing"))).readable);
}

void TestB3RestoreRequest::rows()
{
    TempTree tree(QStringLiteral("rr-rows"));
    tree.writeFile(std::string("b3_1/Docs.wrp1/Docs/a/b/c.txt"), "c");
    tree.writeFile(std::string("b3_1/ROOT.wrp2/etc/x"), "x");
    tree.mkdir("b3_1/bad");
    Version v;
    v.folder = QStringLiteral("b3_1");
    v.enabled = true;
    v.locations = { location("Docs.wrp1", 1), location("ROOT.wrp2", 2, "/", ""), location("a/b", 3),
        location("../bad", 4), location(QString(), 5), QStringLiteral("junk") };
    const QList<SourceRow> r = sourceRows(tree.path(), v);
    QCOMPARE(r.size(), 2); // "a/b", "../bad" and a missing name give no row
    QCOMPARE(r.at(0).path, tree.filePath(QStringLiteral("b3_1/Docs.wrp1/Docs")));
    QCOMPARE(r.at(0).displayName, QStringLiteral("Docs"));
    // A whole volume: the wrapper folder itself.
    QCOMPARE(r.at(1).path, tree.filePath(QStringLiteral("b3_1/ROOT.wrp2")));

    QString error;
    const auto all = rowsForAll(r, &error);
    QVERIFY2(all, qPrintable(error));
    QCOMPARE(all->size(), 2);
    QVERIFY(!all->at(0).ItemLevelNumber);
    QCOMPARE(all->at(0).ArchivePath, r.at(0).path);
    QVERIFY(all->at(0).SrcLocation);
    QCOMPARE(all->at(0).SrcLocation->getUnverifiedFullPath(), QStringLiteral("/home/u/Docs"));

    // A source row and a file three levels below it: levels 0 and 3.
    const auto sel = rowsForSelection(r, { { 0, QString() }, { 0, QStringLiteral("a/b/c.txt") } }, &error);
    QVERIFY2(sel, qPrintable(error));
    QCOMPARE(sel->at(0).level(), 0);
    QCOMPARE(sel->at(1).level(), 3);
    QVERIFY(!sel->at(1).IsFolder);
    QCOMPARE(sel->at(1).ArchivePath, r.at(0).path + QStringLiteral("/a/b/c.txt"));
    // In place: the source's parent plus the item's folders.
    QCOMPARE(inPlaceTargets(*sel), (QStringList { "/home/u/Docs", "/home/u/Docs/a/b/c.txt" }));

    QVERIFY(!rowsForSelection(r, {}, &error));
    QCOMPARE(error, QStringLiteral("Files for restore not found"));
    QVERIFY(!rowsForAll({}, &error));
}

void TestB3RestoreRequest::items_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("below"); // null: refused
    QTest::newRow("a file") << "Docs.wrp1/Docs/a/b/c.txt"
                            << "a/b/c.txt";
    QTest::newRow("the source row") << "Docs.wrp1/Docs"
                                    << "";
    QTest::newRow("above the source row") << "Docs.wrp1" << QString();
    QTest::newRow("dot-dot") << "Docs.wrp1/Docs/../../x" << QString();
    QTest::newRow("absolute") << "/Docs.wrp1/Docs" << QString();
    QTest::newRow("no such source") << "Other.wrp9/Other" << QString();
    QTest::newRow("not in the version") << "Docs.wrp1/Docs/nope" << QString();
}

void TestB3RestoreRequest::items()
{
    QFETCH(QString, item);
    QFETCH(QString, below);
    TempTree tree(QStringLiteral("rr-items"));
    tree.writeFile(std::string("b3_1/Docs.wrp1/Docs/a/b/c.txt"), "c");
    Version v;
    v.folder = QStringLiteral("b3_1");
    v.enabled = true;
    v.locations = { location("Docs.wrp1", 1) };
    const QList<SourceRow> r = sourceRows(tree.path(), v);
    QString error;
    const auto s = parseItem(r, tree.filePath(QStringLiteral("b3_1")), item, &error);
    QCOMPARE(bool(s), !below.isNull());
    if (s)
        QCOMPARE(s->below, below);
    else
        QVERIFY(!error.isEmpty());
}

void TestB3RestoreRequest::externalNames_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    const QString uuid = QStringLiteral("6F1C2A0E-3B7D-4C55-9A10-2D8E4F6B7C01");
    QTest::newRow("name and UUID") << "Docs_" + uuid << "Docs";
    QTest::newRow("lower-case UUID") << "Docs_" + uuid.toLower() << "Docs";
    QTest::newRow("not a UUID") << "Docs_notauuid"
                                << "Docs_notauuid";
    QTest::newRow("short") << "x"
                           << "x";
    QTest::newRow("UUID only") << "_" + uuid << defaultExternalRestoreName();
}

void TestB3RestoreRequest::externalNames()
{
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QCOMPARE(externalRestoreName(folder), name);
}

void TestB3RestoreRequest::externalFolderCheck()
{
    TempTree tree(QStringLiteral("rr-ext"));
    tree.writeFile(std::string("good/qv3info.plist"), "x");
    tree.mkdir("folder/qv3info.plist");
    tree.mkdir("empty");
    const QString good = tree.filePath(QStringLiteral("good"));
    QVERIFY(validateExternalFolder({ good }).isNull());
    const QString refusal = validateExternalFolder({ tree.filePath(QStringLiteral("empty")) });
    QCOMPARE(refusal,
        QStringLiteral(
            "Incorrect folder. Please select a folder that contains \"qv3info.plist\" file and backup "
            "folders."));
    QCOMPARE(validateExternalFolder({ good, good }), refusal);
    QCOMPARE(validateExternalFolder({ tree.filePath(QStringLiteral("folder")) }), refusal);
    QCOMPARE(validateExternalFolder({ tree.filePath(QStringLiteral("good/qv3info.plist")) }), refusal);
}

QTEST_GUILESS_MAIN(TestB3RestoreRequest)
#include "tst_b3restorerequest.moc"
