// kv-test: labels=unit
#include "KvTest.h"
#include "ScriptedClock.h"
#include "TempTree.h"
#include "platform/NameCodec.h"
#include "platform/PlistBridge.h"

#include <QtTest>
#include <plist/plist.h>
#include <sys/stat.h>

namespace {

const QByteArray kXml = QByteArrayLiteral(
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n<dict>\n"
    "\t<key>Name</key>\n\t<string>Home &amp; Work</string>\n"
    "\t<key>Count</key>\n\t<integer>-42</integer>\n"
    "\t<key>Ratio</key>\n\t<real>0.5</real>\n"
    "\t<key>On</key>\n\t<true/>\n"
    "\t<key>When</key>\n\t<date>2024-03-31T01:30:00Z</date>\n"
    "\t<key>Blob</key>\n\t<data>AAEC/w==</data>\n"
    "\t<key>List</key>\n\t<array>\n\t\t<string>a</string>\n\t\t<integer>2</integer>\n\t</array>\n"
    "</dict>\n</plist>\n");

QByteArray toBinary(const QByteArray& xml)
{
    plist_t root = nullptr;
    plist_from_xml(xml.constData(), uint32_t(xml.size()), &root);
    char* bin = nullptr;
    uint32_t len = 0;
    plist_to_bin(root, &bin, &len);
    QByteArray out(bin, qsizetype(len));
    plist_to_bin_free(bin);
    plist_free(root);
    return out;
}

QVariantMap expectedFixture()
{
    return QVariantMap {
        { QStringLiteral("Name"), QStringLiteral("Home & Work") },
        { QStringLiteral("Count"), qint64(-42) },
        { QStringLiteral("Ratio"), 0.5 },
        { QStringLiteral("On"), true },
        { QStringLiteral("When"), QDateTime(QDate(2024, 3, 31), QTime(1, 30), QTimeZone::utc()) },
        { QStringLiteral("Blob"), QByteArray("\x00\x01\x02\xff", 4) },
        { QStringLiteral("List"), QVariantList { QStringLiteral("a"), qint64(2) } },
    };
}

} // namespace

class TestPlistBridge : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readFixtures_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("create");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("fullContent");

        using S = PlistBridge::ReadStatus;
        const QByteArray bin = toBinary(kXml);
        QTest::newRow("xml") << kXml << true << int(S::Ok) << true;
        QTest::newRow("binary") << bin << true << int(S::Ok) << true;
        QTest::newRow("missing") << QByteArray() << false << int(S::Missing) << false;
        QTest::newRow("empty") << QByteArray() << true << int(S::Corrupt) << false;
        QTest::newRow("garbage") << QByteArray("not a plist\n") << true << int(S::Corrupt) << false;
        QTest::newRow("nul bytes") << QByteArray(64, '\0') << true << int(S::Corrupt) << false;
        QTest::newRow("xml cut in the dict")
            << kXml.left(kXml.indexOf("<key>Blob")) << true << int(S::Corrupt) << false;
        QTest::newRow("xml cut in a tag")
            << kXml.left(kXml.indexOf("<real>") + 3) << true << int(S::Corrupt) << false;
        QTest::newRow("binary cut") << bin.left(bin.size() / 2) << true << int(S::Corrupt) << false;
        QTest::newRow("binary trailer gone") << bin.left(bin.size() - 8) << true << int(S::Corrupt) << false;
        QTest::newRow("bplist magic only") << QByteArray("bplist00") << true << int(S::Corrupt) << false;
    }

    void readFixtures()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, create);
        QFETCH(int, status);
        QFETCH(bool, fullContent);
        TempTree tree;
        if (create)
            QVERIFY(tree.writeFile(std::string("p.plist"), content));
        const auto r = PlistBridge::readFile(tree.filePath(std::string("p.plist")));
        QCOMPARE(int(r.status), status);
        QCOMPARE(r.error.isEmpty(), r.ok());
        if (fullContent)
            QCOMPARE(r.map(), expectedFixture());
        else
            QVERIFY(!r.value.isValid());
        // Reading never changes the file.
        if (create)
            QCOMPARE(tree.readFile("p.plist"), content);
    }

    void folderIsUnreadable()
    {
        TempTree tree;
        QVERIFY(tree.mkdir("d.plist"));
        QCOMPARE(PlistBridge::readFile(tree.filePath(std::string("d.plist"))).status,
            PlistBridge::ReadStatus::Unreadable);
    }

    // Everything the bridge maps survives a write and a read, names that are not UTF-8 too,
    // and the file on disk is XML holding those bytes as they are.
    void roundTrip()
    {
        TempTree tree;
        const QString oddKey = NameCodec::decode(QByteArray("key-\xff\xfe", 6));
        const QString oddName = NameCodec::decode(QByteArray("caf\xe9 <&> \x01", 10));
        QVariantMap nested { { QStringLiteral("deep"),
            QVariantList { QVariantMap { { QStringLiteral("x"), true } } } } };
        QVariantMap value = expectedFixture();
        value.insert(oddKey, oddName);
        value.insert(QStringLiteral("Nested"), nested);
        value.insert(QStringLiteral("Empty"), QString(QLatin1String("")));
        value.insert(QStringLiteral("Max"), std::numeric_limits<qint64>::max());
        value.insert(QStringLiteral("Min"), std::numeric_limits<qint64>::min());
        value.insert(QStringLiteral("MinusOne"), qint64(-1));
        value.insert(QStringLiteral("UnsignedMax"), std::numeric_limits<quint64>::max());
        value.insert(QStringLiteral("Before2001"),
            QDateTime(QDate(1999, 12, 31), QTime(23, 59, 59), QTimeZone::utc()));
        value.insert(QStringLiteral("Smileys"), QStringLiteral("\U0001F600 \u00e9"));

        // The folder's own name is not UTF-8 either.
        QVERIFY(tree.mkdir("dir-\xff"));
        const QString path = tree.filePath(std::string("dir-\xff/round.plist"));
        QString error;
        QVERIFY2(PlistBridge::writeFileAtomically(path, value, &error), qPrintable(error));
        const QByteArray onDisk = tree.readFile("dir-\xff/round.plist");
        QVERIFY(onDisk.startsWith("<?xml"));
        QVERIFY(onDisk.contains("key-\xff\xfe"));
        QVERIFY(onDisk.contains("caf\xe9 &lt;&amp;&gt; \x01"));

        const auto r = PlistBridge::readFile(path);
        QVERIFY2(r.ok(), qPrintable(r.error));
        const QVariantMap back = r.map();
        QCOMPARE(back.keys(), value.keys());
        for (auto it = value.cbegin(); it != value.cend(); ++it)
            QVERIFY2(back.value(it.key()) == it.value(), qPrintable(it.key()));
        QCOMPARE(NameCodec::encode(back.value(oddKey).toString()), QByteArray("caf\xe9 <&> \x01", 10));
        QCOMPARE(back.value(QStringLiteral("UnsignedMax")).typeId(), int(QMetaType::ULongLong));
        QVERIFY(onDisk.contains("<integer>18446744073709551615</integer>"));
        QCOMPARE(
            PlistValue::integer(back, QStringLiteral("UnsignedMax")), std::numeric_limits<qint64>::max());
        QCOMPARE(PlistValue::integer(back, QStringLiteral("MinusOne")), qint64(-1));
    }

    void unwritableValues()
    {
        QVERIFY(PlistBridge::toXml(QVariant()).isEmpty());
        TempTree tree;
        QString error;
        QVERIFY(!PlistBridge::writeFileAtomically(tree.filePath(std::string("x.plist")), QVariant(), &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(tree.list().empty());
        // Invalid members are left out, as a dictionary cannot hold nothing.
        const QVariantMap m { { QStringLiteral("a"), QVariant() }, { QStringLiteral("b"), 1 } };
        QCOMPARE(PlistBridge::fromData(PlistBridge::toXml(m)).toMap(),
            (QVariantMap { { QStringLiteral("b"), qint64(1) } }));
    }

    // A file that does not parse is never replaced: it is renamed aside byte for byte.
    void corruptFileIsKeptAside()
    {
        TempTree tree;
        ScriptedClock clock(QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9)));
        const QByteArray damaged = kXml.left(200) + QByteArray("\x00\xff garbage", 10);
        QVERIFY(tree.writeFile(std::string("QVPrefs.plist"), damaged, 0600));
        const QString path = tree.filePath(std::string("QVPrefs.plist"));

        QString error, aside;
        const QVariantMap fresh { { QStringLiteral("k"), QStringLiteral("v") } };
        QVERIFY2(PlistBridge::writeFileAtomically(path, fresh, &error, &aside), qPrintable(error));
        QCOMPARE(aside, path + QStringLiteral(".corrupt-20240506-070809"));
        QCOMPARE(tree.readFile("QVPrefs.plist.corrupt-20240506-070809"), damaged);
        QCOMPARE(PlistBridge::readFile(path).map(), fresh);

        // The same second again: the earlier copy stays, the new one gets a number.
        QVERIFY(tree.writeFile(std::string("QVPrefs.plist"), QByteArray("junk")));
        QVERIFY(PlistBridge::writeFileAtomically(path, fresh, &error, &aside));
        QCOMPARE(aside, path + QStringLiteral(".corrupt-20240506-070809-1"));
        QCOMPARE(tree.readFile("QVPrefs.plist.corrupt-20240506-070809"), damaged);
        QCOMPARE(tree.readFile("QVPrefs.plist.corrupt-20240506-070809-1"), QByteArray("junk"));

        // A file that parses is simply replaced, nothing kept aside.
        QVERIFY(PlistBridge::writeFileAtomically(
            path, QVariantMap { { QStringLiteral("k"), 2 } }, &error, &aside));
        QVERIFY(aside.isNull());
        QCOMPARE(tree.list().size(), size_t(3));
        QVERIFY(PlistBridge::keepAside(tree.filePath(std::string("gone.plist"))).isNull());
    }

    // The temporary file never stays behind, whether the write works or fails, and an
    // existing file keeps its permissions.
    void atomicWriteLeavesNoTemporaryFile()
    {
        TempTree tree;
        QVERIFY(tree.writeFile(std::string("a.plist"), PlistBridge::toXml(QVariantMap()), 0600));
        QString error;
        QVERIFY(PlistBridge::writeFileAtomically(
            tree.filePath(std::string("a.plist")), QVariantMap { { QStringLiteral("x"), 1 } }, &error));
        QCOMPARE(tree.list(), std::vector<std::string> { "a.plist" });
        struct stat st
        {
        };
        QVERIFY(::stat(tree.filePathStd("a.plist").c_str(), &st) == 0);
        QCOMPARE(int(st.st_mode & 0777), 0600);

        // The target is a folder: rename fails, nothing is left behind, the folder is intact.
        QVERIFY(tree.mkdir("isdir.plist"));
        QVERIFY(tree.writeFile(std::string("isdir.plist/inside"), "x"));
        QVERIFY(!PlistBridge::writeFileAtomically(
            tree.filePath(std::string("isdir.plist")), QVariantMap(), &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(tree.list(), (std::vector<std::string> { "a.plist", "isdir.plist" }));
        QCOMPARE(tree.list("isdir.plist"), std::vector<std::string> { "inside" });

        // No folder to write into.
        QVERIFY(!PlistBridge::writeFileAtomically(
            tree.filePath(std::string("none/b.plist")), QVariantMap(), &error));
        QVERIFY(error.contains(QStringLiteral("none/b.plist")));
    }

    void lenientGetters()
    {
        const QVariantMap m = PlistBridge::fromData(kXml).toMap();
        const QString wrong = QStringLiteral("Blob"); // data, never what the getters below want
        QCOMPARE(PlistValue::string(m, QStringLiteral("Name")), QStringLiteral("Home & Work"));
        QCOMPARE(
            PlistValue::string(m, QStringLiteral("Count"), QStringLiteral("def")), QStringLiteral("def"));
        QCOMPARE(PlistValue::string(m, QStringLiteral("absent")), QString());
        QCOMPARE(PlistValue::integer(m, QStringLiteral("Count")), qint64(-42));
        QCOMPARE(PlistValue::integer(m, QStringLiteral("Ratio"), 7), qint64(0)); // 0.5 truncates
        QCOMPARE(PlistValue::integer(m, QStringLiteral("Name"), 7), qint64(7));
        QCOMPARE(PlistValue::integer(m, QStringLiteral("On"), 7), qint64(7));
        QCOMPARE(PlistValue::real(m, QStringLiteral("Count")), -42.0);
        QCOMPARE(PlistValue::real(m, QStringLiteral("Name"), 1.5), 1.5);
        QCOMPARE(PlistValue::boolean(m, QStringLiteral("On")), true);
        QCOMPARE(PlistValue::boolean(m, QStringLiteral("Count")), true); // numbers count
        QCOMPARE(PlistValue::boolean(m, QStringLiteral("Name"), true), true);
        QCOMPARE(PlistValue::boolean(m, wrong, false), false);
        QCOMPARE(PlistValue::date(m, QStringLiteral("When")),
            QDateTime(QDate(2024, 3, 31), QTime(1, 30), QTimeZone::utc()));
        QVERIFY(PlistValue::date(m, QStringLiteral("Name")).isNull());
        QCOMPARE(PlistValue::data(m, wrong).size(), 4);
        QVERIFY(PlistValue::data(m, QStringLiteral("Name")).isEmpty());
        QCOMPARE(PlistValue::array(m, QStringLiteral("List")).size(), 2);
        QVERIFY(PlistValue::array(m, QStringLiteral("Name")).isEmpty());
        QVERIFY(PlistValue::dict(m, QStringLiteral("List")).isEmpty());
        QCOMPARE(PlistValue::integer({ { QStringLiteral("big"), 1e300 } }, QStringLiteral("big")),
            std::numeric_limits<qint64>::max());
    }
};

QTEST_GUILESS_MAIN(TestPlistBridge)
#include "tst_plistbridge.moc"
