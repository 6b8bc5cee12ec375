// kv-test: labels=unit
#include "ArchiveFixtures.h"
#include "OldProjects.h"
#include "TempTree.h"
#include "archive/CBackup.h"
#include "archive/CBackupItem.h"
#include "platform/AppPaths.h"
#include "projects/ILocation.h"
#include "projects/ProjectColor.h"

#include <QtTest>

namespace {

void put32(QByteArray& b, int at, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = char(v >> (24 - 8 * i));
}

QDateTime utc(qint64 secs)
{
    return QDateTime::fromSecsSinceEpoch(secs, Qt::UTC);
}

// The folder fixture as a project: "/d" holding "f", both stored in archive 0.
void fillFolderProject(CBackup& p)
{
    CBackupItem* d = p.insertNewItem(QStringLiteral("/d"), nullptr);
    d->setFlags(0x9801);
    d->addHistoryStateChanging(0, 3);
    CBackupItem* f = d->insertNewItem(QStringLiteral("f"), d);
    f->setFlags(0x9800);
    f->setSize(5);
    f->setModificationDate(utc(1000000000));
    f->addHistoryStateChanging(0, 3);
    p.addArchName(QStringLiteral("full_F_2020-01-01_00-00-00_lp.tgz"));
}

} // namespace

class TestProjectFiles : public QObject
{
    Q_OBJECT
    TempTree m_ws { QStringLiteral("ws") };
    QString backups() const { return m_ws.filePath(std::string("Backups")); }
    QString inBackups(const QString& name) const { return backups() + QLatin1Char('/') + name; }

private Q_SLOTS:
    void initTestCase()
    {
        AppPaths::setWorkspacePathOverride(m_ws.path());
        QVERIFY(m_ws.mkdir("Backups"));
    }
    void cleanupTestCase() { AppPaths::setWorkspacePathOverride(QString()); }

    void savesTheFixturesByteForByte()
    {
        CBackup one(QStringLiteral("One"));
        CBackupItem* a = one.insertNewItem(QStringLiteral("/a"), nullptr);
        a->setFlags(0x9800);
        a->setSize(5);
        a->setModificationDate(utc(1000000000));
        QVERIFY(one.saveTo(inBackups(QStringLiteral("one.bif")), true));
        QCOMPARE(m_ws.readFile("Backups/one.bif").toHex(), ArchiveFixtures::oneFileTree().toHex());

        CBackup folder(QStringLiteral("F"));
        fillFolderProject(folder);
        QVERIFY(folder.saveTo(inBackups(QStringLiteral("folder.bif")), true));
        QCOMPARE(m_ws.readFile("Backups/folder.bif").toHex(), ArchiveFixtures::folderTree().toHex());

        CBackup back(QStringLiteral("x"));
        QVERIFY(back.load(inBackups(QStringLiteral("folder.bif")), false));
        QCOMPARE(back.count(), 1);
        const CBackupItem* d = back.itemAt(0);
        QCOMPARE(d->storedPath(), QStringLiteral("/d"));
        QCOMPARE(d->flags(), 0x9801u);
        QCOMPARE(d->history(), (std::vector<CBIHistoryState> { { 0, 3 } }));
        const CBackupItem* f = d->itemAt(0);
        QCOMPARE(f->getAbsolutePath(), QStringLiteral("/d/f"));
        QCOMPARE(f->size(), quint64(5));
        QCOMPARE(f->modificationDate(), utc(1000000000));
        QVERIFY(!back.isTreeChanged() && !back.isPropertiesChanged());
    }

    void roundTripOfRecordAndTree()
    {
        CBackup p(QStringLiteral("Round trip"));
        p.setUUID(QStringLiteral("11111111-2222-3333-4444-555555555555"));
        p.setDestPath(QStringLiteral("/mnt/backup"));
        p.location()->setDisplayName(QStringLiteral("USB"));
        p.location()->setDeviceType(1);
        p.location()->setPathFromMountPoint(QStringLiteral("/backup"));
        p.location()->setURLStr(QStringLiteral("file:///mnt/"));
        p.location()->setMountPoint(QStringLiteral("/mnt"));
        p.location()->setVolumeUUID(QStringLiteral("VOL-1"));
        p.location()->setRemovable(true);
        p.location()->setAutomount(true);
        p.setBackupMethod(BackupMethodIncremental);
        p.setUseCompression(false);
        p.setBackupSizeLimit(1234567890123ULL);
        p.setCryptMethod(CBCryptBlowfish);
        p.setFilterFlags(0x1F);
        p.setExcludePattern(QStringLiteral("*.o"));
        p.setUseSchedule(true);
        p.setScheduleIntervalType(CBSchedIntervalMinutes);
        p.setScheduleHour(4);
        p.setScheduleMinute(5);
        p.setScheduleIntervalMinutes(77);
        p.setScheduleWeekDays(0x41);
        p.setScheduleMonthDay(28);
        p.setStartOnMount(true);
        p.setLastRunFailed(true);
        p.setUseAdminPrivileges(false);
        p.setMountAutomatically(true);
        p.setStartLate(false);
        p.setLastBuiltDate(utc(1700000000));
        p.setNextProcessDate(QDateTime(QDate(2030, 1, 2), QTime(3, 4, 5), Qt::UTC));
        p.setColor(QColor::fromRgbF(0.25, 0.5, 0.75, 1.0));
        p.setPasswordDigest(*IPasswordMD5::createWithPassword(QStringLiteral("pw")));
        p.setPasswordInKeychain(true);
        p.addArchName(QStringLiteral("full_R_2020-01-01_00-00-00_lp.tar.bfe"));
        p.addArchName(QStringLiteral("incr_R_2020-01-02_00-00-00_lp.tar.bfe.cnt2"));
        p.setSelectedArchive(QStringLiteral("incr_R_2020-01-02_00-00-00_lp.tar.bfe.cnt2"));
        const QString odd = QString::fromUtf8("caf") + QChar(0xDCE9); // "caf" + a lone byte 0xE9
        CBackupItem* top = p.insertNewItem(QStringLiteral("/home/u/") + odd, nullptr);
        top->setFlags(0x9801);
        CBackupItem* mid = top->insertNewItem(QStringLiteral("README"), top);
        mid->setFlags(0x9801);
        top->insertNewItem(QStringLiteral("readme"), top)->setFlags(0x9800);
        CBackupItem* leaf = mid->insertNewItem(QStringLiteral("tab\there"), mid);
        leaf->setFlags(0xB800);
        leaf->setSize(99);
        leaf->setModificationDate(utc(1600000000));
        leaf->setLastBackupDate(utc(1600000100));
        leaf->addHistoryStateChanging(0, 3);
        leaf->addHistoryStateChanging(1, 2);
        leaf->setInListForBackup(true);

        const QString path = inBackups(QStringLiteral("rt.bif"));
        QVERIFY(p.saveTo(path, true));
        CBackup q(QStringLiteral("other"));
        QVERIFY(q.load(path, false));
        QCOMPARE(q.name(), p.name());
        QCOMPARE(q.fileName(), p.fileName());
        QCOMPARE(q.getUUID(), p.getUUID());
        QCOMPARE(q.destPath(), p.destPath());
        QCOMPARE(q.location()->getDisplayName(), QStringLiteral("USB"));
        QCOMPARE(q.location()->getDeviceType(), 1);
        QCOMPARE(q.location()->getPathFromMountPoint(), QStringLiteral("/backup"));
        QCOMPARE(q.location()->getURLStr(), QStringLiteral("file:///mnt/"));
        QCOMPARE(q.location()->getMountPoint(), QStringLiteral("/mnt"));
        QCOMPARE(q.location()->getVolumeUUID(), QStringLiteral("VOL-1"));
        QVERIFY(q.location()->isRemovable() && q.location()->isAutomount());
        QCOMPARE(q.backupMethod(), quint32(BackupMethodIncremental));
        QVERIFY(!q.useCompression());
        QCOMPARE(q.backupSizeLimit(), 1234567890123ULL);
        QCOMPARE(q.cryptMethod(), quint32(CBCryptBlowfish));
        QCOMPARE(q.filterFlags(), 0x1Fu);
        QCOMPARE(q.excludePattern(), QStringLiteral("*.o"));
        QVERIFY(q.useSchedule());
        QCOMPARE(q.scheduleIntervalType(), quint32(CBSchedIntervalMinutes));
        QCOMPARE(q.scheduleHour(), quint16(4));
        QCOMPARE(q.scheduleMinute(), quint16(5));
        QCOMPARE(q.scheduleIntervalMinutes(), quint16(77));
        QCOMPARE(q.scheduleWeekDays(), quint16(0x41));
        QCOMPARE(q.scheduleMonthDay(), quint16(28));
        QVERIFY(q.startOnMount() && q.lastRunFailed() && !q.useAdminPrivileges() && q.mountAutomatically());
        QVERIFY(!q.startLate());
        QCOMPARE(q.lastBuiltDate(), utc(1700000000));
        QCOMPARE(q.nextProcessDate(), p.nextProcessDate());
        QCOMPARE(q.color(), p.color());
        QCOMPARE(q.passwordDigest().data(), p.passwordDigest().data());
        QVERIFY(q.passwordInKeychain());
        QCOMPARE(q.archives().size(), size_t(2));
        QCOMPARE(q.archives()[1].fileName, QStringLiteral("incr_R_2020-01-02_00-00-00_lp.tar.bfe.cnt2"));
        QCOMPARE(q.selectedArchive(), p.selectedArchive());

        QCOMPARE(q.count(), 1);
        const CBackupItem* qtop = q.itemAt(0);
        QCOMPARE(qtop->storedPath(), top->storedPath()); // the lone byte survives
        QCOMPARE(qtop->count(), 2); // "README" and "readme"
        bool found = false;
        const CBackupItem* qmid
            = qtop->itemAt(0)->getName() == QLatin1String("README") ? qtop->itemAt(0) : qtop->itemAt(1);
        QCOMPARE(qmid->getName(), QStringLiteral("README"));
        QCOMPARE(
            qtop->itemAt(qtop->tarComp_lower_baund(QStringLiteral("readme"), found))->getName().toLower(),
            QStringLiteral("readme"));
        const CBackupItem* qleaf = qmid->itemAt(0);
        QCOMPARE(qleaf->getName(), QStringLiteral("tab\there"));
        QCOMPARE(qleaf->flags(), 0xB800u);
        QCOMPARE(qleaf->size(), quint64(99));
        QCOMPARE(qleaf->modificationDate(), utc(1600000000));
        QCOMPARE(qleaf->lastBackupDate(), utc(1600000100));
        QCOMPARE(qleaf->history(), leaf->history());
        QVERIFY(qleaf->isInListForBackup());

        // The top level first, then the whole tree: record changes made in between stay.
        CBackup r(QStringLiteral("r"));
        QVERIFY(r.loadTopContentLevel(path, false));
        QCOMPARE(r.itemAt(0)->count(), 0);
        r.setExcludePattern(QStringLiteral("changed"));
        QVERIFY(r.load(path, false));
        QCOMPARE(r.excludePattern(), QStringLiteral("changed"));
        QCOMPARE(r.itemAt(0)->count(), 2);

        // A never-built project stays never built.
        CBackup fresh(QStringLiteral("fresh"));
        QVERIFY(fresh.saveTo(inBackups(QStringLiteral("fresh.bif")), true));
        CBackup fresh2(QStringLiteral("f2"));
        QVERIFY(fresh2.load(inBackups(QStringLiteral("fresh.bif")), false));
        QVERIFY(!fresh2.lastBuiltDate().isValid());
        QVERIFY(!fresh2.nextProcessDate().isValid());
    }

    void versions_data()
    {
        QTest::addColumn<int>("version");
        QTest::addColumn<int>("day");
        QTest::addColumn<int>("weekDays");
        QTest::newRow("4") << 4 << 3 << 4;
        QTest::newRow("6 with text dates") << 6 << 3 << 4;
        QTest::newRow("13 single file") << 13 << 3 << 4;
        QTest::newRow("14") << 14 << 3 << 4;
        QTest::newRow("17 day 3") << 17 << 3 << 4;
        QTest::newRow("17 day 0") << 17 << 0 << 64;
        QTest::newRow("23 newer") << 23 << 3 << 0x15;
    }

    void versions()
    {
        QFETCH(int, version);
        QFETCH(int, day);
        QFETCH(int, weekDays);
        const quint32 v = quint32(version);
        QByteArray bih;
        const QByteArray bif = OldProjects::bif(v, &bih, quint16(day));
        const std::string stem = "Backups/old" + std::to_string(v);
        QVERIFY(m_ws.writeFile(stem + ".bif", bif));
        if (v >= 14)
            QVERIFY(m_ws.writeFile(stem + ".bih", bih));
        const QString path = m_ws.filePath(stem + ".bif");

        CBackup p(QStringLiteral("x"));
        QVERIFY2(p.load(path, false), qPrintable(p.lastFileError()));
        QCOMPARE(p.name(), QStringLiteral("Old"));
        QCOMPARE(p.fileName(), v >= 18 ? QStringLiteral("Old_file") : QStringLiteral("Old"));
        QCOMPARE(p.scheduleWeekDays(), quint16(weekDays));
        QCOMPARE(p.backupMethod(), quint32(BackupMethodIncremental));
        QCOMPARE(p.destDeviceName(), QStringLiteral("Unknown device"));
        QCOMPARE(p.lastBuiltDate(), utc(1600000000));
        QCOMPARE(p.archives().size(), size_t(1));
        QCOMPARE(p.archives()[0].deviceType, v >= 15 ? 1 : -1);
        QCOMPARE(p.isOldLayout(), v <= 13);
        QCOMPARE(p.isBIFSourceNewerThanCurrent(), v > 22);
        QCOMPARE(p.color(), ProjectColor::defaultColor());
        QCOMPARE(p.getUUID() == QLatin1String(OldProjects::kUUID), v >= 13);
        QCOMPARE(p.nextProcessDate().isValid(), v >= 6);
        QCOMPARE(p.count(), 1);
        const CBackupItem* folder = p.itemAt(0);
        QCOMPARE(folder->count(), 1); // "._x", known only from an archive, is dropped
        QCOMPARE(folder->itemAt(0)->getName(), QStringLiteral("keep"));
        QCOMPARE(folder->itemAt(0)->size(), quint64(42));
        QCOMPARE(folder->itemAt(0)->modificationDate(), utc(1500000000));
        QVERIFY(folder->itemAt(0)->getHistoryItemsCount() >= 1);

        // Saved as the current version: both files; blobs we do not read are written back as they were.
        const QByteArray colourBefore = p.storedColorBlob();
        QVERIFY(p.saveTo(path, true));
        QCOMPARE(p.fileVersion(), 22u);
        QVERIFY(!p.isOldLayout());
        QVERIFY(m_ws.exists(stem + ".bih"));
        CBackup again(QStringLiteral("y"));
        QVERIFY(again.load(path, false));
        QCOMPARE(again.fileVersion(), 22u);
        if (v >= 5)
            QCOMPARE(again.storedColorBlob(), colourBefore);
        QCOMPARE(again.nextProcessDate(), p.nextProcessDate());
        QCOMPARE(again.itemAt(0)->count(), 1);
        if (v > 22) {
            // The newer pair was kept aside as it was; a second one never overwrites it.
            QCOMPARE(m_ws.readFile(stem + ".bif.v23"), bif);
            QCOMPARE(m_ws.readFile(stem + ".bih.v23"), bih);
            QVERIFY(m_ws.writeFile(stem + ".bif", bif));
            QVERIFY(m_ws.writeFile(stem + ".bih", bih));
            CBackup second(QStringLiteral("z"));
            QVERIFY(second.load(path, false));
            QVERIFY(second.saveTo(path, true));
            QVERIFY(m_ws.exists(stem + ".bif.v23.1"));
            QCOMPARE(m_ws.readFile(stem + ".bif.v23"), bif);
        }
    }

    // An archived RGB colour of the expected shape is read; its bytes are written back unchanged
    // while the colour stays, and a changed colour is written in the project's own form.
    void archivedColour()
    {
        CBackup p(QStringLiteral("C"));
        QVERIFY(p.saveTo(inBackups(QStringLiteral("c.bif")), true));
        QByteArray bih = m_ws.readFile("Backups/c.bih");
        const QByteArray ours = QByteArray("\x24KVC1", 5);
        const qsizetype at = bih.indexOf(ours);
        QVERIFY(at > 0);
        QByteArray colour = QByteArray::fromHex("040B") + "streamtyped"
            + QByteArray::fromHex("81E80384014084848407") + "NSColor" + QByteArray::fromHex("00848408")
            + "NSObject" + QByteArray::fromHex("0085840163018404") + "ffff";
        const float half = 0.5f;
        colour += char(0x83);
        colour.append(reinterpret_cast<const char*>(&half), 4);
        colour += char(0); // green 0 as a small integer
        colour += char(0x83);
        colour.append(reinterpret_cast<const char*>(&half), 4);
        colour += char(1); // alpha 1
        colour += char(0x86);
        bih.replace(at, 37, QByteArray(QByteArray(1, char(colour.size())) + colour));
        put32(bih, 21, quint32(bih.size())); // the record block ends with the file
        QVERIFY(m_ws.writeFile(std::string("Backups/c.bih"), bih));

        CBackup q(QStringLiteral("q"));
        QVERIFY(q.load(inBackups(QStringLiteral("c.bif")), false));
        QCOMPARE(q.color(), QColor::fromRgbF(0.5f, 0.0f, 0.5f, 1.0f));
        QVERIFY(q.saveTo(inBackups(QStringLiteral("c.bif")), true));
        QVERIFY(m_ws.readFile("Backups/c.bih").contains(colour));
        q.setColor(Qt::red);
        QVERIFY(q.saveTo(inBackups(QStringLiteral("c.bif")), true));
        CBackup r(QStringLiteral("r"));
        QVERIFY(r.load(inBackups(QStringLiteral("c.bif")), false));
        QCOMPARE(r.color(), QColor(Qt::red));
        QVERIFY(r.storedColorBlob().startsWith("KVC1"));
    }

    void readingFaults_data()
    {
        QTest::addColumn<int>("offset");
        QTest::addColumn<quint32>("value");
        QTest::addColumn<int>("size"); // 4: a 32-bit value, 2: one text unit, -1: truncate there
        QTest::newRow("child count 0xFFFFFFFF") << 46 << 0xFFFFFFFFu << 4;
        QTest::newRow("child count past its block") << 121 << 3u << 4;
        QTest::newRow("child named .") << 129 << quint32('.') << 2;
        QTest::newRow("child named /") << 129 << quint32('/') << 2;
        QTest::newRow("child named NUL") << 129 << 0u << 2;
        QTest::newRow("top level /.") << 56 << quint32('.') << 2;
        QTest::newRow("top level relative") << 54 << quint32('x') << 2;
        QTest::newRow("history count huge") << 99 << 0x40000000u << 4;
        QTest::newRow("truncated") << 150 << 0u << -1;
        QTest::newRow("10 bytes") << 10 << 0u << -1;
        QTest::newRow("foreign kind") << 4 << 0x58595A20u << 4;
        QTest::newRow("missing item block") << 131 << 0x07000000u << 4;
    }

    void readingFaults()
    {
        QFETCH(int, offset);
        QFETCH(quint32, value);
        QFETCH(int, size);
        CBackup good(QStringLiteral("F"));
        fillFolderProject(good);
        const QString path = inBackups(QStringLiteral("fault.bif"));
        QVERIFY(good.saveTo(path, true));
        QByteArray bytes = m_ws.readFile("Backups/fault.bif");
        if (size == 4) {
            put32(bytes, offset, value);
        } else if (size == 2) {
            bytes[offset] = char(value & 0xFF);
            bytes[offset + 1] = char(value >> 8);
        } else {
            bytes.truncate(offset);
        }
        QVERIFY(m_ws.writeFile(std::string("Backups/fault.bif"), bytes));
        const QByteArray bih = m_ws.readFile("Backups/fault.bih");

        CBackup p(QStringLiteral("F"));
        QVERIFY(!p.load(path, false));
        QVERIFY(!p.lastFileError().isEmpty());
        QCOMPARE(p.count(), 0);
        // Nothing asks for the empty tree to be saved over the files, which stay as they were.
        QVERIFY(!p.isTreeChanged() && !p.isPropertiesChanged());
        p.setExcludePattern(QStringLiteral("a later change"));
        QVERIFY(!p.saveTo(path, true)); // an unread project is never written over its files
        QCOMPARE(m_ws.readFile("Backups/fault.bif"), bytes);
        QCOMPARE(m_ws.readFile("Backups/fault.bih"), bih);
    }

    void missingRecordFileFails()
    {
        CBackup good(QStringLiteral("M"));
        QVERIFY(good.saveTo(inBackups(QStringLiteral("m.bif")), true));
        QVERIFY(::unlink(m_ws.filePathStd("Backups/m.bih").c_str()) == 0);
        CBackup p(QStringLiteral("M"));
        QVERIFY(!p.load(inBackups(QStringLiteral("m.bif")), false));
    }

    void closeDeletesThePair()
    {
        CBackup p(QStringLiteral("Closing"));
        QVERIFY(p.save());
        const std::string stem = "Backups/" + p.fileName().toStdString();
        QVERIFY(m_ws.exists(stem + ".bif") && m_ws.exists(stem + ".bih"));
        QVERIFY(m_ws.writeFile(stem + ".bifx", QByteArray("x")));
        QVERIFY(p.save()); // the dictionary form of the same project goes
        QVERIFY(!m_ws.exists(stem + ".bifx"));
        QVERIFY(p.close());
        QVERIFY(!m_ws.exists(stem + ".bif") && !m_ws.exists(stem + ".bih"));
    }
};

QTEST_GUILESS_MAIN(TestProjectFiles)
#include "tst_projectfiles.moc"
