// kv-test: labels=unit env=TZ=Europe/Berlin
#include "KvTest.h"
#include "ScriptedClock.h"
#include "TempTree.h"
#include "platform/PlistBridge.h"
#include "snapshot/Backup3VersionList.h"
#include "snapshot/IBackupCutUtil.h"

#include <sys/stat.h>

namespace {

// Five versions, 1, 3, 6.9, 10 and 40 days before "now" (oldest first).
const QDateTime kNow(QDate(2024, 3, 31), QTime(12, 0));
const QList<double> kAges = { 40, 10, 6.9, 3, 1 };

QString folderFor(double days)
{
    return Backup3VersionList::versionFolderName(kNow.addSecs(qint64(-days * 86400)));
}

// A project folder with the five versions and their list; each version holds a file and a
// read-only folder, as rsync -p copies them.
void makeProject(TempTree& tree, const QStringList& extraFolders = {})
{
    QVariantList entries;
    QStringList folders;
    for (double age : kAges)
        folders.append(folderFor(age));
    folders += extraFolders;
    for (const QString& f : folders) {
        QVariantMap e;
        e["Date"] = kNow.addSecs(qint64(-kAges.value(folders.indexOf(f), 0) * 86400));
        e["Folder"] = f;
        entries.append(e);
        if (!Backup3VersionList::isVersionFolderName(f))
            continue;
        const std::string d = f.toStdString();
        tree.writeFile(d + "/Docs.wrp1/Docs/file.txt", "data");
        tree.writeFile(d + "/Docs.wrp1/Docs/ro/inner.txt", "inner", 0444);
        ::chmod(tree.filePathStd(d + "/Docs.wrp1/Docs/ro").c_str(), 0555);
    }
    QVariantMap dict;
    dict["ProjectUUID"] = "U-1";
    dict["ProcessDataArray"] = entries;
    dict["LastFolder"] = folders.last();
    QVERIFY(Backup3VersionList::write(tree.path(), dict));
}

QStringList listedFolders(const TempTree& tree)
{
    QStringList out;
    for (const QVariant& v : Backup3VersionList::entries(Backup3VersionList::read(tree.path()).dict))
        out.append(v.toMap().value("Folder").toString());
    return out;
}

} // namespace

class TestBackupCutUtil : public QObject
{
    Q_OBJECT

private slots:
    void thinning_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<long>("count");
        QTest::addColumn<int>("unit");
        QTest::addColumn<QList<int>>("deleted"); // indexes into kAges
        QTest::newRow("keep 3 of 5") << 2 << 3L << 0 << QList<int> { 0, 1 };
        QTest::newRow("keep 0 keeps the newest") << 2 << 0L << 0 << QList<int> { 0, 1, 2, 3 };
        QTest::newRow("keep -1 keeps the newest") << 2 << -1L << 0 << QList<int> { 0, 1, 2, 3 };
        QTest::newRow("7 days keeps 6.9 days") << 1 << 7L << 1 << QList<int> { 0, 1 };
        QTest::newRow("1 week") << 1 << 1L << 2 << QList<int> { 0, 1 };
        QTest::newRow("1 month") << 1 << 1L << 3 << QList<int> { 0 };
        QTest::newRow("unknown unit is off") << 1 << 7L << 9 << QList<int> {};
        QTest::newRow("age 0 is off") << 1 << 0L << 1 << QList<int> {};
        QTest::newRow("thinning off") << 0 << 1L << 1 << QList<int> {};
    }

    void thinning()
    {
        QFETCH(int, type);
        QFETCH(long, count);
        QFETCH(int, unit);
        QFETCH(QList<int>, deleted);
        ScriptedClock clock(kNow);
        TempTree tree("cut");
        makeProject(tree);
        QStringList logs;
        IBackupCutUtil::Request r;
        r.hasLastProcessDate = true;
        r.cuttingType = type;
        r.cuttingCount = count;
        r.cuttingCountItem = unit;
        r.projectFolder = tree.path();
        r.projectName = "P";
        r.log = [&](const QString& t, quint64) { logs.append(t); };
        QVERIFY(IBackupCutUtil::shared().cutBackup(r));
        QStringList expectLeft;
        for (int i = 0; i < kAges.size(); ++i) {
            const QString f = folderFor(kAges[i]);
            QCOMPARE(tree.exists(f.toStdString()), !deleted.contains(i));
            if (!deleted.contains(i))
                expectLeft.append(f);
        }
        QCOMPARE(listedFolders(tree), expectLeft);
        if (type != 0 && !(type == 1 && (count <= 0 || unit > 3)))
            QVERIFY(logs.contains("Older backup versions have been deleted for \"P\" Backup project"));
    }

    void oneOrNoEntry()
    {
        ScriptedClock clock(kNow);
        TempTree tree("cut");
        QVariantMap dict;
        dict["ProjectUUID"] = "U";
        QVERIFY(Backup3VersionList::write(tree.path(), dict));
        QStringList logs;
        IBackupCutUtil::Request r { true, 1, 1, 1, tree.path(), false, "P",
            [&](const QString& t, quint64) { logs.append(t); } };
        QVERIFY(IBackupCutUtil::shared().cutBackup(r));
        QVERIFY(logs.contains("Older backup versions have been deleted for \"P\" Backup project"));
    }

    // A folder deleted by hand stays listed and is logged; a name holding ".." is refused.
    void refusedAndMissing()
    {
        ScriptedClock clock(kNow);
        TempTree outside("victim");
        QVERIFY(outside.writeFile(std::string("keep.txt"), "precious"));
        TempTree tree("cut");
        const QString evil = "../" + QFileInfo(outside.path()).fileName();
        makeProject(tree, { evil, "b3_2024-01-01_00-00-00" });
        // Reorder: the hostile names first (oldest), so keep-2 lists them.
        QVariantMap dict = Backup3VersionList::read(tree.path()).dict;
        QVariantList e = dict["ProcessDataArray"].toList();
        e.move(e.size() - 1, 0);
        e.move(e.size() - 1, 0);
        dict["ProcessDataArray"] = e;
        QVERIFY(Backup3VersionList::write(tree.path(), dict));
        // The oldest regular version goes away by hand.
        IBackupCutUtil::removeVersionFolder(tree.filePath(folderFor(40)), false, nullptr);

        QStringList problems;
        IBackupCutUtil::Request r { true, 2, 2, 0, tree.path(), false, "P", [&](const QString& t, quint64 o) {
                                       if (t.startsWith("Problem"))
                                           problems.append(t);
                                   } };
        QVERIFY(IBackupCutUtil::shared().cutBackup(r));
        QCOMPARE(outside.readFile("keep.txt"), QByteArray("precious"));
        QCOMPARE(problems.size(), 2); // the hostile name and the one deleted by hand
        const QStringList left = listedFolders(tree);
        QVERIFY(left.contains(evil));
        QVERIFY(left.contains(folderFor(40)));
        QVERIFY(!left.contains(folderFor(10)));
        QVERIFY(!tree.exists(folderFor(10).toStdString()));
        QVERIFY(!tree.exists(folderFor(6.9).toStdString()));
        QVERIFY(tree.exists(folderFor(1).toStdString()));
    }

    void monthBack()
    {
        QCOMPARE(IBackupCutUtil::dayCountByRemoveFromNowMonths(
                     1, 0, 0, QDateTime(QDate(2024, 3, 31), QTime(9, 0))),
            31L);
        QCOMPARE(IBackupCutUtil::dayCountByRemoveFromNowMonths(
                     1, 0, 0, QDateTime(QDate(2023, 3, 31), QTime(9, 0))),
            31L);
        QCOMPARE(IBackupCutUtil::dayCountByRemoveFromNowMonths(
                     0, 2, 3, QDateTime(QDate(2023, 3, 31), QTime(9, 0))),
            17L);
    }

    void versionNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("ok");
        QTest::newRow("version") << "b3_2024-05-01_18-30-00" << true;
        QTest::newRow("dotdot") << "../b3_2024-05-01_18-30-00" << false;
        QTest::newRow("slash") << "b3_2024-05-01_18-30-00/x" << false;
        QTest::newRow("newline") << "b3_2024-05-01_18-30-00\n" << false;
        QTest::newRow("work folder") << "QV3ProcessTemporaryFolder" << false;
    }
    void versionNames()
    {
        QFETCH(QString, name);
        QTEST(Backup3VersionList::isVersionFolderName(name), "ok");
    }

    // A corrupt list is moved aside (never overwritten) and rebuilt from the version folders.
    void corruptListRebuilt()
    {
        TempTree tree("list");
        QVERIFY(tree.mkdir("b3_2024-05-02_10-00-00"));
        QVERIFY(tree.mkdir("b3_2024-05-01_10-00-00"));
        QVERIFY(tree.symlink("/tmp", "b3_2024-05-03_10-00-00"));
        QVERIFY(tree.writeFile(std::string("~qv3info.plist"), "older foreign"));
        QVERIFY(tree.writeFile(std::string("qv3info.plist"), "<plist><dict><key>x"));
        QCOMPARE(Backup3VersionList::read(tree.path()).state, Backup3VersionList::State::Corrupt);
        QCOMPARE(Backup3VersionList::moveAside(tree.path()), QString("~qv3info1.plist"));
        QCOMPARE(tree.readFile("~qv3info1.plist"), QByteArray("<plist><dict><key>x"));
        QCOMPARE(tree.readFile("~qv3info.plist"), QByteArray("older foreign"));
        const QVariantMap dict = Backup3VersionList::rebuildFromFolders(tree.path(), "U");
        QVERIFY(Backup3VersionList::write(tree.path(), dict));
        const auto back = PlistBridge::readFile(tree.filePath(std::string("qv3info.plist")));
        QVERIFY(back.ok());
        QCOMPARE(back.map().value("ProjectUUID").toString(), QString("U"));
        QCOMPARE(back.map().value("LastFolder").toString(), QString("b3_2024-05-02_10-00-00"));
        const QVariantList e = back.map().value("ProcessDataArray").toList();
        QCOMPARE(e.size(), 2);
        QCOMPARE(e[0].toMap().value("Folder").toString(), QString("b3_2024-05-01_10-00-00"));
        QCOMPARE(e[0].toMap().value("Date").toDateTime(), QDateTime(QDate(2024, 5, 1), QTime(10, 0)));
    }
};

QTEST_GUILESS_MAIN(TestBackupCutUtil)
#include "tst_backupcututil.moc"
