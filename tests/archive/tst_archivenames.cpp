// kv-test: labels=unit
#include "ScriptedClock.h"
#include "TempTree.h"
#include "archive/ArchiveFiles.h"
#include "archive/ArchiveNames.h"
#include "archive/CBackup.h"
#include "archive/CBackupItem.h"
#include "utilities/MainPreferences.h"

#include <QProcess>
#include <QtTest>
#include <sys/stat.h>

namespace {

// Names, sizes and modification times of a folder, to show that nothing changed in it.
QStringList snapshotOf(const TempTree& t, const std::string& folder)
{
    QStringList out;
    for (const std::string& n : t.list(folder)) {
        struct stat st
        {
        };
        ::lstat(t.filePathStd(folder + "/" + n).c_str(), &st);
        out << QStringLiteral("%1 %2 %3")
                   .arg(QString::fromStdString(n))
                   .arg(st.st_size)
                   .arg(st.st_mtim.tv_nsec + st.st_mtim.tv_sec * 1000000000LL);
    }
    return out;
}

QStringList listNames(const CBackup& b)
{
    QStringList names;
    for (const CBArchivePath& e : b.archives())
        names << e.fileName;
    return names;
}

} // namespace

class TestArchiveNames : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void parse_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>(
            "expected"); // prefix|project|tar|encrypt|split|y-m-d h:m:s|lp, or empty for nil
        QTest::newRow("long path") << "full_A_B_2020-01-02_03-04-05_lp.tar"
                                   << "full|A_B|tar|||2020-1-2 3:4:5|1";
        QTest::newRow("split and cipher") << "incr_X_2020-01-02_03-04-05.tgz.aes256.cnt3"
                                          << "incr|X|tgz|aes256|cnt3|2020-1-2 3:4:5|0";
        QTest::newRow("split only") << "full_X_2020-01-02_03-04-05_lp.tar.cnt2"
                                    << "full|X|tar||cnt2|2020-1-2 3:4:5|1";
        QTest::newRow("hour 24") << "vers_X_2020-01-02_24-00-00_lp.tgz"
                                 << "vers|X|tgz|||2020-1-2 24:0:0|1";
        QTest::newRow("hour 25") << "vers_X_2020-01-02_25-00-00_lp.tgz"
                                 << "";
        QTest::newRow("month 13") << "vers_X_2020-13-02_03-04-05_lp.tgz"
                                  << "";
        QTest::newRow("old form") << "full20200102030405x.tar"
                                  << "full||tar|||2020-1-2 3:4:5|0";
        QTest::newRow("short stray") << "x_1-1-1_1-1-1_lp.tar"
                                     << "x||tar|||1-1-1 1:1:1|1";
        QTest::newRow("no date") << "a_b.tar"
                                 << "";
        QTest::newRow("underscore only") << "_.tgz"
                                         << "";
        QTest::newRow("dots in the name") << "full_My.Files_v2_2021-03-07_09-05-00_lp.tgz.bfe"
                                          << "full|My.Files_v2|tgz|bfe||2021-3-7 9:5:0|1";
        QTest::newRow("name with underscores") << "incr_My_Files_2021-03-07_09-05-00_lp.tgz.aes256.cnt3"
                                               << "incr|My_Files|tgz|aes256|cnt3|2021-3-7 9:5:0|1";
        QTest::newRow("volume") << "full_A_2021-03-07_09-05-00_lp.tar.aab"
                                << "full|A|tar||aab|2021-3-7 9:5:0|1";
        QTest::newRow("path") << "/x/y/full_A_2021-03-07_09-05-00_lp.tar"
                              << "full|A|tar|||2021-3-7 9:5:0|1";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("blanks") << "   "
                                << "";
    }

    void parse()
    {
        QFETCH(QString, name);
        QFETCH(QString, expected);
        const QVariantMap m = archiveFileNameParse(name);
        if (expected.isEmpty()) {
            QVERIFY2(m.isEmpty(), qPrintable(name));
            return;
        }
        QCOMPARE(m.size(), 12);
        const QString got
            = QStringLiteral("%1|%2|%3|%4|%5|%6-%7-%8 %9:%10:%11|%12")
                  .arg(m["CBMethodPrefix"].toString(), m["projectName"].toString(), m["tarExt"].toString(),
                      m["encryptExt"].toString(), m["splitExt"].toString())
                  .arg(m["year"].toInt())
                  .arg(m["month"].toInt())
                  .arg(m["day"].toInt())
                  .arg(m["hour"].toInt())
                  .arg(m["minute"].toInt())
                  .arg(m["second"].toInt())
                  .arg(m["longPath"].toBool() ? 1 : 0);
        QCOMPARE(got, expected);
    }

    void ciphersAndCounts()
    {
        QCOMPARE(extToEncryptionMethod(QStringLiteral("AES256")), 0u);
        QCOMPARE(extToEncryptionMethod(QStringLiteral("aes256")), 4u);
        QCOMPARE(getCryptMethodFromFileName(QStringLiteral("a.bfe.tar.aes128")), 1u);
        QCOMPARE(getCryptMethodFromFileName(QStringLiteral("a.tar")), 0u);
        QCOMPARE(encryptionMethodToStr(3, true), QStringLiteral("aes128"));
        QCOMPARE(encryptionMethodToStr(3, false), QStringLiteral("aes-128-cbc"));
        QCOMPARE(encryptionMethodToStr(2, false), QStringLiteral("des3"));
        QVERIFY(encryptionMethodToStr(5, true).isNull());
        QVERIFY(splittedArcCountToExt(0).isNull());
        QCOMPARE(splittedArcCountToExt(12), QStringLiteral("cnt12"));
        QCOMPARE(extToSplittedArcCount(QStringLiteral("cnt12")), 12);
        QVERIFY(isArchiveFileSplited(QStringLiteral("/a/x.tar.cnt2")));
        QVERIFY(!isArchiveFileSplited(QStringLiteral("/a/x.tar")));
        QVERIFY(isFileCompressed(QStringLiteral("x.tgz.aes256")));
        QVERIFY(!isFileCompressed(QStringLiteral("x.tar.tgz.bak.tar")));
    }

    void newNamesAreOneComponent()
    {
        ScriptedClock clock(QDateTime(QDate(2021, 3, 7), QTime(9, 5, 0)));
        CBackup b(QStringLiteral("My Files/../x"));
        b.setBackupMethod(BackupMethodIncremental);
        b.setCryptMethod(CBCryptAES256);
        QCOMPARE(
            b.getNewArchiveName(), QStringLiteral("incr_My_Files_.._x_2021-03-07_09-05-00_lp.tgz.aes256"));
        const QVariantMap back = archiveFileNameParse(b.getNewArchiveName());
        QCOMPARE(back["projectName"].toString(), QStringLiteral("My_Files_.._x"));
        QVERIFY(!b.fileName().contains(QLatin1Char('/')));
    }

    void isTimeToBackup_data()
    {
        QTest::addColumn<int>("minutesLate");
        QTest::addColumn<bool>("startLate");
        QTest::addColumn<bool>("due");
        QTest::addColumn<bool>("nextMoved");
        QTest::newRow("-1") << -1 << false << false << false;
        QTest::newRow("0") << 0 << false << false << false;
        QTest::newRow("1") << 1 << false << true << false;
        QTest::newRow("9") << 9 << false << true << false;
        QTest::newRow("10") << 10 << false << false << true;
        QTest::newRow("a day") << 1440 << false << false << true;
        QTest::newRow("late on, -1") << -1 << true << false << false;
        QTest::newRow("late on, a day") << 1440 << true << true << false;
    }

    void isTimeToBackup()
    {
        QFETCH(int, minutesLate);
        QFETCH(bool, startLate);
        QFETCH(bool, due);
        QFETCH(bool, nextMoved);
        const QDateTime next(QDate(2024, 1, 15), QTime(18, 30));
        ScriptedClock clock(next.addSecs(minutesLate * 60 + 30));
        CBackup b(QStringLiteral("S"));
        b.setUseSchedule(true);
        b.setScheduleIntervalType(CBSchedIntervalDaily);
        b.setStartLate(startLate);
        b.setNextProcessDate(next);
        QCOMPARE(b.isTimeToBackup(clock.now()), due);
        QCOMPARE(b.nextProcessDate() != next, nextMoved);
        if (nextMoved)
            QVERIFY(b.nextProcessDate() > clock.now());

        CBackup fresh(QStringLiteral("T")); // no next date yet: it gets the coming one
        fresh.setUseSchedule(true);
        fresh.setScheduleIntervalType(CBSchedIntervalDaily);
        QVERIFY(!fresh.isTimeToBackup(clock.now()));
        QVERIFY(fresh.nextProcessDate() > clock.now());
        QVERIFY(!fresh.isTimeToBackup(QDateTime()));
    }

    void listFromFolderDeletesNothing()
    {
        TempTree t;
        CBackup b(QStringLiteral("A"));
        b.setBackupMethod(BackupMethodFull);
        b.setDestPath(t.path());
        const std::string dir = b.fileName().toStdString();
        QVERIFY(t.mkdir(dir));
        const QString third = QStringLiteral("full_A_2020-03-01_00-00-00_lp.tar");
        // Created out of date order; the second is split into two volumes by split itself.
        QVERIFY(t.writeFile(dir + "/full_A_2020-02-01_00-00-00_lp.tar.aaa", QByteArray("v1")));
        QVERIFY(t.writeFile(dir + "/full_A_2020-02-01_00-00-00_lp.tar.aab", QByteArray("v2")));
        QVERIFY(t.writeFile(dir + "/full_A_2020-01-01_00-00-00_lp.tar", QByteArray("one")));
        QVERIFY(t.writeFile(dir + "/full_A_2020-01-01_00-00-00_lp.tar.notes", QByteArray("keep")));
        QVERIFY(t.writeFile(dir + "/x_1-1-1_1-1-1_lp.tar", QByteArray("stray")));
        QVERIFY(t.writeFile(dir + "/full_A_2020-02-01_00-00-00_lp.tar.aab.keep", QByteArray("keep")));
        const QStringList before = snapshotOf(t, dir);

        QCOMPARE(b.fillArchivesArrayFromTargetFolder(), 2);
        QCOMPARE(listNames(b),
            QStringList({ QStringLiteral("full_A_2020-01-01_00-00-00_lp.tar"),
                QStringLiteral("full_A_2020-02-01_00-00-00_lp.tar.cnt2") }));
        QCOMPARE(snapshotOf(t, dir), before);

        // A registered third build removes exactly the previous full archive and its volumes.
        b.removeArchNameByIndex(0);
        QVERIFY(t.writeFile(dir + "/" + third.toStdString(), QByteArray("three")));
        b.addArchNameWithPattern(third);
        QCOMPARE(listNames(b), QStringList({ third }));
        QVERIFY(!t.exists(dir + "/full_A_2020-02-01_00-00-00_lp.tar.aaa"));
        QVERIFY(!t.exists(dir + "/full_A_2020-02-01_00-00-00_lp.tar.aab"));
        QVERIFY(t.exists(dir + "/full_A_2020-02-01_00-00-00_lp.tar.aab.keep"));
        QVERIFY(t.exists(dir + "/full_A_2020-01-01_00-00-00_lp.tar"));
        QVERIFY(t.exists(dir + "/full_A_2020-01-01_00-00-00_lp.tar.notes"));

        // A stored name that climbs out of the folder is dropped, and its file stays.
        QVERIFY(t.writeFile(std::string("full_A_2020-01-02_03-04-05_lp.tar"), QByteArray("outside")));
        QVariantMap dict;
        dict["ArchiveNames"] = QVariantMap { { "FN0", "../full_A_2020-01-02_03-04-05_lp.tar" },
            { "FN1", "full_A_2020-04-01_00-00-00_lp.tar" } };
        b.loadFromDict(dict);
        QCOMPARE(listNames(b).size(), 2);
        QVERIFY(!listNames(b).contains(QStringLiteral("../full_A_2020-01-02_03-04-05_lp.tar")));
        QVERIFY(t.exists("full_A_2020-01-02_03-04-05_lp.tar"));
        QVERIFY(t.exists(dir + "/" + third.toStdString())); // loading never deletes
    }

    void realSplitVolumesBecomeOneEntry()
    {
        TempTree t;
        CBackup b(QStringLiteral("A"));
        b.setDestPath(t.path());
        const std::string dir = b.fileName().toStdString();
        QVERIFY(t.mkdir(dir));
        QVERIFY(t.writeFile(std::string("data"), QByteArray(2500, 'x')));
        const QString base = t.filePath(dir + "/vers_A_2020-02-01_00-00-00_lp.tar.");
        QCOMPARE(QProcess::execute(QStringLiteral("split"),
                     { QStringLiteral("-a"), QStringLiteral("3"), QStringLiteral("-b"),
                         QStringLiteral("1000"), t.filePath(std::string("data")), base }),
            0);
        QCOMPARE(b.fillArchivesArrayFromTargetFolder(), 1);
        QCOMPARE(listNames(b), QStringList { QStringLiteral("vers_A_2020-02-01_00-00-00_lp.tar.cnt3") });
        const QString listed = t.filePath(dir + "/vers_A_2020-02-01_00-00-00_lp.tar.cnt3");
        QCOMPARE(getSizeOfFiles(listed), quint64(2500));
    }

    void loadFromDictKeepsNumberOrder()
    {
        TempTree t;
        CBackup b(QStringLiteral("A"));
        b.setBackupMethod(BackupMethodFull);
        b.setDestPath(t.path());
        const std::string dir = b.fileName().toStdString();
        QVERIFY(t.mkdir(dir));
        QVariantMap names;
        QStringList expected;
        for (int i = 0; i < 12; ++i) {
            const QString n
                = QStringLiteral("full_A_2020-01-%1_00-00-00_lp.tar").arg(i + 1, 2, 10, QLatin1Char('0'));
            expected << n;
            QVERIFY(t.writeFile(dir + "/" + n.toStdString(), QByteArray("a")));
            names.insert(QStringLiteral("FN%1").arg(i), n);
        }
        const QStringList before = snapshotOf(t, dir);
        b.loadFromDict(
            QVariantMap { { "ArchiveNames", names } }); // the map's own order is FN0, FN1, FN10, ...
        QCOMPARE(listNames(b), expected);
        QCOMPARE(snapshotOf(t, dir), before);
    }

    void newestOfAMethodAndDates()
    {
        CBackup b(QStringLiteral("L"));
        b.setBackupMethod(BackupMethodIncremental);
        for (const char* n : { "full_L_2020-01-01_00-00-00_lp.tar", "incr_L_2020-01-02_00-00-00_lp.tar",
                 "incr_L_2020-01-03_00-00-00_lp.tar" })
            b.addArchName(QString::fromLatin1(n));
        CBackupItem* item = b.insertNewItem(QStringLiteral("/x"), nullptr);
        item->addHistoryStateChanging(0, 3);
        item->addHistoryStateChanging(2, 2);
        // A failed burn takes back the archive just built: the newest of the method.
        b.removeLastBackupArchive();
        QCOMPARE(listNames(b),
            QStringList({ QStringLiteral("full_L_2020-01-01_00-00-00_lp.tar"),
                QStringLiteral("incr_L_2020-01-02_00-00-00_lp.tar") }));
        QCOMPARE(item->history(), (std::vector<CBIHistoryState> { { 0, 3 } }));

        // The archive a date belongs to: the newest built at or before it.
        QCOMPARE(b.getArchIndexByDate(QDateTime(QDate(2020, 1, 2), QTime(12, 0))), 1);
        QCOMPARE(b.getArchIndexByDate(QDateTime(QDate(2020, 1, 1), QTime(0, 0))), 0);
        QCOMPARE(b.getArchIndexByDate(QDateTime(QDate(2019, 12, 31), QTime(0, 0))), -1);
        b.removeAllArchNames();
        QCOMPARE(b.getArchIndexByDate(QDateTime(QDate(2020, 1, 2), QTime(12, 0))), -2);
    }

    void volumesAndFiles()
    {
        QCOMPARE(MainPreferences::getMultivolumeArchiveExtensionByNumber(0, 3), QStringLiteral("aaa"));
        QCOMPARE(MainPreferences::getMultivolumeArchiveExtensionByNumber(25, 3), QStringLiteral("aaz"));
        QCOMPARE(MainPreferences::getMultivolumeArchiveExtensionByNumber(26, 3), QStringLiteral("aba"));
        QCOMPARE(MainPreferences::getMultivolumeArchiveExtensionByNumber(17566, 3), QStringLiteral("zzq"));
        QCOMPARE(MainPreferences::getMultivolumeArchiveExtensionByNumber(17567, 3), QString());

        TempTree t;
        for (const char* v : { "x.aaa", "x.aab", "x.aad", "x.aab.keep", "y" })
            QVERIFY(t.writeFile(std::string(v), QByteArray("1")));
        QCOMPARE(getExistentArchiveFilesNumber(QStringLiteral("x"), t.path(), true), 2u);
        QCOMPARE(getExistentArchiveFilesNumber(QStringLiteral("y"), t.path(), false), 1u);
        QCOMPARE(getExistentArchiveFilesNumber(QStringLiteral("z"), t.path(), false), 0u);
        QCOMPARE(getExistentArchiveFilesNumber(QString(), t.path(), true), 0u);
        QCOMPARE(
            getExistentArchiveFilesNumber(QStringLiteral("x"), t.path() + QStringLiteral("/none"), true), 0u);
        QCOMPARE(deleteArcFiles(t.filePath(std::string("x.cnt2"))), 2);
        QVERIFY(!t.exists("x.aaa") && !t.exists("x.aab"));
        QVERIFY(t.exists("x.aad") && t.exists("x.aab.keep"));
    }

    void bundlesAndHiddenPaths()
    {
        QVERIFY(isPathBundle(QStringLiteral("/x/A.APP")));
        QVERIFY(isPathBundle(QStringLiteral("x.bundle")));
        QVERIFY(!isPathBundle(QStringLiteral("/x.app/y")));
        QVERIFY(!isPathBundle(QStringLiteral("app")));
        QVERIFY(isHiddenByPath(QStringLiteral("/usr")));
        QVERIFY(!isHiddenByPath(QStringLiteral("/usrx")));
        QVERIFY(!isHiddenByPath(QStringLiteral("/usr/bin")));
        TempTree t;
        MainPreferences& prefs = MainPreferences::shared();
        prefs.setCustomTmpFolderPath(t.path());
        prefs.setUseCustomTmpFolder(true);
        QVERIFY(isHiddenByPath(t.path()));
        prefs.setUseCustomTmpFolder(false);
        QVERIFY(!isHiddenByPath(t.path()));
        MainPreferences::resetShared();
    }
};

QTEST_GUILESS_MAIN(TestArchiveNames)
#include "tst_archivenames.moc"
