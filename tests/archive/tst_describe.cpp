// kv-test: labels=unit
#include "KvTest.h"
#include "OldProjects.h"
#include "TempTree.h"
#include "archive/CBackup.h"
#include "archive/CBackupItem.h"
#include "platform/AppPaths.h"
#include "projects/ILocation.h"

#include <QProcess>
#include <QtTest>

namespace {

QDateTime utc(qint64 secs)
{
    return QDateTime::fromSecsSinceEpoch(secs, Qt::UTC);
}

struct Run
{
    int code = -1;
    QByteArray out;
};

Run describe(const QString& workspace, const QStringList& select)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.start(KvTest::appContentsDir() + QStringLiteral("/MacOS/kv-run-project"),
        QStringList {
            QStringLiteral("--workspace"), workspace, QStringLiteral("--kit"), QStringLiteral("archive") }
            + select + QStringList { QStringLiteral("--describe") });
    p.waitForFinished(60000);
    return { p.exitCode(), p.readAllStandardOutput() };
}

// Everything below a folder with its size and time, to show that nothing was written.
QStringList inventory(const QString& root)
{
    QStringList out;
    QDirIterator it(
        root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        out << QStringLiteral("%1 %2 %3")
                   .arg(it.filePath())
                   .arg(it.fileInfo().size())
                   .arg(it.fileInfo().lastModified().toMSecsSinceEpoch());
    }
    out.sort();
    return out;
}

// The stored copy of a description; KV_UPDATE_FIXTURES=1 writes it anew.
void compareWithStored(const QByteArray& output, const QString& name)
{
    const QString path = KvTest::sourceDir() + QStringLiteral("/tests/fixtures/archive/") + name;
    if (qEnvironmentVariableIntValue("KV_UPDATE_FIXTURES")) {
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(output);
    }
    QFile f(path);
    QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(path));
    QCOMPARE(output, f.readAll());
}

} // namespace

class TestDescribe : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void versionFixtures_data()
    {
        QTest::addColumn<int>("version");
        for (int v : { 4, 6, 13, 14, 17, 23 })
            QTest::newRow(qPrintable(QString::number(v))) << v;
    }

    void versionFixtures()
    {
        QFETCH(int, version);
        TempTree ws;
        QByteArray bih;
        QVERIFY(ws.writeFile(std::string("Backups/old.bif"), OldProjects::bif(quint32(version), &bih)));
        if (version >= 14)
            QVERIFY(ws.writeFile(std::string("Backups/old.bih"), bih));
        const QStringList before = inventory(ws.path());
        const Run r = describe(ws.path(), { QStringLiteral("--project"), QStringLiteral("Old") });
        QCOMPARE(r.code, 0);
        QVERIFY(r.out.endsWith("0 old.bif described\n"));
        compareWithStored(r.out, QStringLiteral("describe-v%1.txt").arg(version));
        QCOMPARE(inventory(ws.path()), before);
        if (version >= 13) // by UUID as well
            QCOMPARE(describe(ws.path(), { QStringLiteral("--uuid"), QLatin1String(OldProjects::kUUID) }).out,
                r.out);
    }

    // A saved project read back by a fresh record, and by the driver.
    void endToEnd()
    {
        TempTree ws;
        AppPaths::setWorkspacePathOverride(ws.path());
        CBackup p(QStringLiteral("Three levels"));
        p.setUUID(QStringLiteral("9F000000-1111-4222-8333-444455556666"));
        p.setFileName(QStringLiteral("Three levels_9F000000-1111-4222-8333-444455556666"));
        p.setDestPath(QStringLiteral("/media/u/Disk/Backups"));
        p.setUseSchedule(true);
        p.setNextProcessDate(QDateTime(QDate(2031, 5, 6), QTime(7, 8, 9), Qt::UTC));
        p.setLastBuiltDate(utc(1700000000));
        p.addArchName(QStringLiteral("vers_Three_levels_2023-11-14_22-13-20_lp.tgz"));
        p.addArchName(QStringLiteral("vers_Three_levels_2023-11-15_22-13-20_lp.tgz.aes256.cnt2"));
        CBackupItem* top = p.insertNewItem(QStringLiteral("/home/u/Docs"), nullptr);
        top->setFlags(0x9801);
        top->addHistoryStateChanging(0, 3);
        CBackupItem* mid = top->insertNewItem(QStringLiteral("Sub\tfolder"), top);
        mid->setFlags(0x9801);
        mid->addHistoryStateChanging(0, 3);
        CBackupItem* leaf
            = mid->insertNewItem(QString::fromUtf8("r\xc3\xa9sum\xc3\xa9") + QChar(0xDCFF), mid);
        leaf->setFlags(0x9800);
        leaf->setSize(2048);
        leaf->setModificationDate(utc(1699000000));
        leaf->setLastBackupDate(utc(1700000000));
        leaf->addHistoryStateChanging(0, 3);
        leaf->addHistoryStateChanging(1, 2);
        QVERIFY(p.save());
        AppPaths::setWorkspacePathOverride(QString());

        const QString bif = ws.filePath(QStringLiteral("Backups/") + p.fileName() + QStringLiteral(".bif"));
        CBackup fresh(QStringLiteral("x"));
        QVERIFY(fresh.loadTopContentLevel(bif, false));
        QVERIFY(fresh.load(bif, false));
        QCOMPARE(fresh.name(), p.name());
        QCOMPARE(fresh.nextProcessDate(), p.nextProcessDate());
        QCOMPARE(fresh.archives().size(), size_t(2));
        const CBackupItem* l = fresh.itemAt(0)->itemAt(0)->itemAt(0);
        QCOMPARE(l->getAbsolutePath(), leaf->getAbsolutePath());
        QCOMPARE(l->history(), leaf->history());

        const Run r = describe(ws.path(), { QStringLiteral("--project"), QStringLiteral("Three levels") });
        QCOMPARE(r.code, 0);
        compareWithStored(r.out, QStringLiteral("describe-three-levels.txt"));
    }

    void failuresAndUsage()
    {
        TempTree ws;
        QByteArray bih;
        QByteArray bif = OldProjects::bif(14, &bih);
        QVERIFY(ws.writeFile(std::string("Backups/a.bif"), bif));
        QVERIFY(ws.writeFile(std::string("Backups/a.bih"), bih));
        QCOMPARE(describe(ws.path(), { QStringLiteral("--project"), QStringLiteral("Nobody") }).code, 2);
        QVERIFY(ws.writeFile(std::string("Backups/b.bif"), bif));
        QVERIFY(ws.writeFile(std::string("Backups/b.bih"), bih));
        QCOMPARE(
            describe(ws.path(), { QStringLiteral("--project"), QStringLiteral("Old") }).code, 2); // two match
        QVERIFY(::unlink(ws.filePathStd("Backups/b.bif").c_str()) == 0);
        bif.truncate(60);
        QVERIFY(ws.writeFile(std::string("Backups/a.bif"), bif));
        const Run broken = describe(ws.path(), { QStringLiteral("--project"), QStringLiteral("Old") });
        QCOMPARE(broken.code, 1);
        QVERIFY(broken.out.startsWith("1 a.bif "));

        QProcess p;
        p.start(KvTest::appContentsDir() + QStringLiteral("/MacOS/kv-run-project"),
            { QStringLiteral("--workspace"), ws.path(), QStringLiteral("--project"), QStringLiteral("Old"),
                QStringLiteral("--describe") });
        p.waitForFinished(60000);
        QCOMPARE(p.exitCode(), 2); // describing is for the archive kit
    }
};

QTEST_GUILESS_MAIN(TestDescribe)
#include "tst_describe.moc"
