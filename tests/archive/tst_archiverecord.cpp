// kv-test: labels=unit
#include "ArchiveFakes.h"
#include "TempTree.h"
#include "archive/CBackup.h"
#include "archive/CBackupItem.h"
#include "platform/AppPaths.h"
#include "projects/ILocation.h"
#include "utilities/MainPreferences.h"

#include <QtTest>

class TestArchiveRecord : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void setters()
    {
        CBackup b(QStringLiteral("Docs"));
        const QString uuid = b.getUUID();
        QVERIFY(!uuid.isEmpty());
        QCOMPARE(uuid, uuid.toUpper());
        QCOMPARE(b.fileName(), QStringLiteral("Docs_") + uuid); // made once, from the first name
        b.setPropertiesChanged(false);
        b.setName(QStringLiteral("Papers"));
        QVERIFY(b.isPropertiesChanged());
        QCOMPARE(b.fileName(), QStringLiteral("Docs_") + uuid); // a rename keeps the file name
        b.setPropertiesChanged(false);
        b.setName(QStringLiteral("PAPERS"));
        b.setFileName(b.fileName().toLower());
        b.setExcludePattern(QString());
        b.setExcludePattern(QStringLiteral("*.o"));
        b.setPropertiesChanged(false);
        b.setExcludePattern(QStringLiteral("*.O"));
        QVERIFY(!b.isPropertiesChanged()); // the same text in other case marks nothing
        b.setDestPath(QStringLiteral("/x"));
        b.setNextProcessDate(QDateTime::currentDateTime());
        QVERIFY(!b.isPropertiesChanged());

        CBackup odd(QStringLiteral("a/b\x01"));
        QVERIFY(!odd.fileName().contains(QLatin1Char('/')));
        QVERIFY(odd.fileName().startsWith(QStringLiteral("a_b_")));
        CBackup dots(QStringLiteral(".."));
        QVERIFY(dots.fileName().startsWith(QStringLiteral("__")));
    }

    void temporaryFiles_data()
    {
        QTest::addColumn<bool>("keepFlag");
        QTest::newRow("deleted") << false;
        QTest::newRow("kept with g_TmpNotClear") << true;
    }

    void temporaryFiles()
    {
        QFETCH(bool, keepFlag);
        TempTree t;
        QVERIFY(t.mkdir("Contents"));
        const QByteArray plist = keepFlag
            ? "<?xml version=\"1.0\"?><plist "
              "version=\"1.0\"><dict><key>g_TmpNotClear</key><true/></dict></plist>"
            : "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict/></plist>";
        QVERIFY(t.writeFile(std::string("Contents/Info.plist"), plist));
        AppPaths::setContentsDirOverride(t.filePath(std::string("Contents")));
        QVERIFY(t.writeFile(std::string("files.list"), QByteArray("x")));
        QVERIFY(t.writeFile(std::string("excl.list"), QByteArray("x")));
        QVERIFY(t.mkdir("user/.rsrcFrk"));
        {
            CBackup b(QStringLiteral("T"));
            b.setFilesFrom(t.filePath(std::string("files.list")));
            b.setExcludeFrom(t.filePath(std::string("excl.list")));
            b.setRsrcForkFolder(t.filePath(std::string("user/.rsrcFrk")));
            QCOMPARE(b.tmpFiles().size(), 3);
            b.deleteTmpFiles();
            QVERIFY(b.tmpFiles().isEmpty());
            QVERIFY(b.filesFrom().isEmpty() && b.excludeFrom().isEmpty() && b.rsrcForkFolder().isEmpty());
        }
        QCOMPARE(t.exists("files.list"), keepFlag);
        QCOMPARE(t.exists("excl.list"), keepFlag);
        QVERIFY(t.exists("user/.rsrcFrk")); // it was there before: never ours to delete
        AppPaths::setContentsDirOverride(QString());
    }

    void duplicateFindsAFreeNameAndLeavesTheScheduleOff()
    {
        TempTree ws;
        AppPaths::setWorkspacePathOverride(ws.path());
        RecordingArchiveContainer container;
        FakeCoordinator coordinator;
        coordinator.taken << QStringLiteral("A-copy") << QStringLiteral("A-copy1");
        CBackup* a = container.addNewBackup(QStringLiteral("A"));
        a->setUseSchedule(true);
        a->setScheduleIntervalType(CBSchedIntervalMonthly);
        a->setScheduleHour(3);
        a->setScheduleMinute(7);
        a->setScheduleMonthDay(12);
        a->setScheduleWeekDays(5);
        a->setCryptMethod(CBCryptAES128);
        a->setFilterFlags(0x11);
        a->setExcludePattern(QStringLiteral("*.tmp"));
        QVERIFY(ws.writeFile(std::string("data/f"), QByteArray("x")));
        a->addItemFromDisk(ws.filePath(std::string("data")));
        a->insertNewItem(QStringLiteral("/gone/away"), nullptr);

        CBackup* copy = a->duplicateProject();
        QVERIFY(copy);
        QCOMPARE(copy->name(), QStringLiteral("A-copy2"));
        QVERIFY(copy->getUUID() != a->getUUID());
        QCOMPARE(copy->fileName(), QStringLiteral("A-copy2_") + copy->getUUID());
        QVERIFY(!copy->useSchedule());
        QCOMPARE(copy->scheduleIntervalType(), quint32(CBSchedIntervalMonthly));
        QCOMPARE(copy->scheduleHour(), quint16(3));
        QCOMPARE(copy->scheduleMinute(), quint16(7));
        QCOMPARE(copy->scheduleMonthDay(), quint16(12));
        QCOMPARE(copy->scheduleWeekDays(), quint16(5));
        QCOMPARE(copy->cryptMethod(), quint32(CBCryptAES128));
        QCOMPARE(copy->filterFlags(), 0x11u);
        QCOMPARE(copy->excludePattern(), QStringLiteral("*.tmp"));
        QCOMPARE(copy->count(), 1); // the missing item is reported, not copied
        QCOMPARE(copy->itemAt(0)->getAbsolutePath(), ws.filePath(std::string("data")));
        QVERIFY(coordinator.calls.contains(QStringLiteral("fullReloadBackupData")));
        QVERIFY(ws.exists("Backups/" + copy->fileName().toStdString() + ".bif"));
        AppPaths::setWorkspacePathOverride(QString());
    }

    void dictionaryForm()
    {
        CBackup b(QStringLiteral("D"));
        b.setUseCompression(false);
        b.setFilterFlags(0x9);
        b.insertNewItem(QStringLiteral("/x/y"), nullptr);
        b.addArchName(QStringLiteral("vers_D_2020-01-01_00-00-00_lp.tar"));
        QVariantMap dict;
        b.saveToDict(dict);
        QCOMPARE(dict.value("Options").toMap().value("UseCompression").toBool(), false);
        QCOMPARE(dict.value("Filters").toMap().value("ExcludeAliases").toBool(), true);
        QCOMPARE(dict.value("ArchiveNames").toMap().value("FN0").toString(),
            QStringLiteral("vers_D_2020-01-01_00-00-00_lp.tar"));

        CBackup c(QStringLiteral("C"));
        QVariantMap in = dict;
        QVariantMap options = in["Options"].toMap();
        options["UseCompression"] = 2; // stored files rely on 2 meaning off
        options["BackupMethod"] = QStringLiteral("1"); // another type: ignored
        in["Options"] = options;
        in["ArchiveNames"] = QVariantMap { { "FN0", "not an archive" } };
        c.loadFromDict(in);
        QVERIFY(!c.useCompression());
        QCOMPARE(c.backupMethod(), quint32(BackupMethodVersions));
        QCOMPARE(c.filterFlags(), 0x9u);
        QVERIFY(c.archives().empty());
        QCOMPARE(c.name(), QStringLiteral("D"));
    }
};

QTEST_GUILESS_MAIN(TestArchiveRecord)
#include "tst_archiverecord.moc"
