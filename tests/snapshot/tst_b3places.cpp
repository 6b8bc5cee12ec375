// kv-test: labels=unit timeout=60 env=TZ=Europe/Berlin

#include "KvTest.h"
#include "snapshot/B3Places.h"

#include <QtTest>

namespace {

struct Row
{
    QString path;
    qint64 level;
};

QList<B3RestoreItem> request(const QList<Row>& rows)
{
    QList<B3RestoreItem> items;
    for (const Row& r : rows) {
        B3RestoreItem item;
        item.ArchivePath = r.path;
        if (r.level >= 0)
            item.ItemLevelNumber = r.level;
        items.append(item);
    }
    return items;
}

} // namespace

class TestB3Places : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void wrapperFolders_data();
    void wrapperFolders();
    void versionFolderName();
    void restoreTargets_data();
    void restoreTargets();
    void restoreRowsFromUntrustedLists_data();
    void restoreRowsFromUntrustedLists();
};

void TestB3Places::wrapperFolders_data()
{
    QTest::addColumn<QString>("fullPath");
    QTest::addColumn<QString>("displayName");
    QTest::addColumn<qint64>("tag");
    QTest::addColumn<QString>("wrapper");
    QTest::newRow("folder") << "/Volumes/Data/Projects"
                            << "Data" << qint64(3) << "Projects.wrp3";
    QTest::newRow("trailing slash") << "/mnt/d/Projects/"
                                    << "d" << qint64(2) << "Projects.wrp2";
    QTest::newRow("start volume") << "/"
                                  << "Macintosh HD" << qint64(1) << "Macintosh HD.wrp1";
    QTest::newRow("start volume without a name") << "/"
                                                 << "" << qint64(1) << "noName.wrp1";
}

void TestB3Places::wrapperFolders()
{
    QFETCH(QString, fullPath);
    QFETCH(QString, displayName);
    QFETCH(qint64, tag);
    QFETCH(QString, wrapper);
    QCOMPARE(B3Places::topLevelItemWrapperFolder2(B3Places::sourceFolderName(fullPath, displayName), tag),
        wrapper);
}

void TestB3Places::versionFolderName()
{
    QCOMPARE(B3Places::generateNewArchiveFolder(QDateTime(QDate(2024, 5, 1), QTime(18, 30, 5))),
        QStringLiteral("b3_2024-05-01_18-30-05"));
    // a UTC moment is named in local time
    QCOMPARE(B3Places::generateNewArchiveFolder(QDateTime(QDate(2024, 5, 1), QTime(16, 30, 5), Qt::UTC)),
        QStringLiteral("b3_2024-05-01_18-30-05"));
    QCOMPARE(B3Places::topLevelItemWrapperFolder2(QStringLiteral("/"), 4), QStringLiteral("ROOT.wrp4"));
}

void TestB3Places::restoreTargets_data()
{
    QTest::addColumn<QList<B3RestoreItem>>("items");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QStringList>("expected");

    const QString t = QStringLiteral("/restore/target");
    QTest::newRow("same names in two folders, level 0")
        << request({ { "Docs/a.txt", 0 }, { "Mail/a.txt", 0 } }) << t << QString()
        << QStringList { t + "/Docs", t + "/Mail" };
    QTest::newRow("names compared without case")
        << request({ { "Docs/A.txt", -1 }, { "Mail/a.TXT", -1 } }) << t << QString()
        << QStringList { t + "/Docs", t + "/Mail" };
    QTest::newRow("a lone item") << request({ { "Docs/a.txt", 0 } }) << t << QString() << QStringList { t };
    QTest::newRow("level 2 into a folder")
        << request({ { "Home.wrp1/u/Docs/a.txt", 2 } }) << t << QString() << QStringList { t + "/u/Docs" };
    QTest::newRow("level 1, clashing top folders take one more")
        << request({ { "A.wrp1/x/Docs/a", 1 }, { "B.wrp2/y/Docs/b", 1 } }) << t << QString()
        << QStringList { t + "/x/Docs", t + "/y/Docs" };
    QTest::newRow("level 5 on a depth-2 path")
        << request({ { "Docs/a.txt", 5 } }) << t << QString() << QStringList { QString() };
    QTest::newRow("clashing names at the top have no parent") << request(
        { { "a.txt", 0 }, { "a.txt", 0 } }) << t << QString() << QStringList { QString(), QString() };
    QTest::newRow("original place, level 0") << request({ { "Projects.wrp3/Projects/Docs/a.txt", 0 } })
                                             << QString() << "/data/Projects" << QStringList { "/data" };
    QTest::newRow("original place, level 2")
        << request({ { "Projects.wrp3/Projects/Docs/a.txt", 2 } }) << QString() << "/data/Projects"
        << QStringList { "/data/Projects/Docs" };
    QTest::newRow("original place, level too deep")
        << request({ { "Docs/a.txt", 3 } }) << QString() << "/data/Projects" << QStringList { QString() };
    QTest::newRow("original place of a source on the start volume")
        << request({ { "etc.wrp1/hosts", 0 } }) << QString() << "/etc" << QStringList { "/" };
    QTest::newRow("item without a path")
        << request({ { QString(), 0 } }) << t << QString() << QStringList { QString() };
}

void TestB3Places::restoreTargets()
{
    QFETCH(QList<B3RestoreItem>, items);
    QFETCH(QString, target);
    QFETCH(QString, source);
    QFETCH(QStringList, expected);
    for (qsizetype i = 0; i < items.size(); ++i)
        QCOMPARE(B3Places::restoreDestFolderPath(items, i, target, source), expected.at(i));
    QVERIFY(B3Places::restoreDestFolderPath(items, items.size(), target, source).isNull());
    QVERIFY(B3Places::restoreDestFolderPath(items, -1, target, source).isNull());
}

void TestB3Places::restoreRowsFromUntrustedLists_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<qint64>("level");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("plain") << "P.wrp1/Docs/a.txt" << qint64(2) << true;
    QTest::newRow("no level") << "P.wrp1/a" << qint64(-1) << true;
    QTest::newRow("dot-dot inside") << "P.wrp1/../../etc/passwd" << qint64(0) << false;
    QTest::newRow("dot-dot at the end") << "P.wrp1/.." << qint64(-1) << false;
    QTest::newRow("level deeper than the path") << "Docs/a.txt" << qint64(2) << false;
    QTest::newRow("negative level") << "Docs/a.txt" << qint64(-3) << false;
    QTest::newRow("name with dots is fine") << "P.wrp1/..hidden" << qint64(1) << true;
}

void TestB3Places::restoreRowsFromUntrustedLists()
{
    QFETCH(QString, path);
    QFETCH(qint64, level);
    QFETCH(bool, accepted);
    std::optional<qint64> l;
    if (level != -1)
        l = level;
    QString error;
    const auto row = B3RestoreItem::make(nullptr, path, false, l, &error);
    QCOMPARE(row.has_value(), accepted);
    QCOMPARE(error.isEmpty(), accepted);
    QVERIFY(B3RestoreItem::isSinglePathComponent(QStringLiteral("Docs 1")));
    for (const char* bad : { "", ".", "..", "a/b" })
        QVERIFY(!B3RestoreItem::isSinglePathComponent(QString::fromLatin1(bad)));
}

QTEST_GUILESS_MAIN(TestB3Places)
#include "tst_b3places.moc"
