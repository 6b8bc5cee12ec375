// kv-test: labels=unit
#include "ArchiveFixtures.h"
#include "TempTree.h"
#include "archive/CUDArch.h"

#include <QtTest>

namespace {

// Writes the item fields of a file as the tree file holds them (version 22).
void writeFileItem(
    CUDArch& a, double date, quint64 size, quint32 flags, const QList<QPair<quint16, quint16>>& history)
{
    a.writeDouble(date);
    a.writeU64(size);
    a.writeU32(flags);
    if (!(flags & 1)) {
        a.writeU32(0);
        a.writeU32(0);
    }
    a.writeDouble(0);
    a.writeU32(quint32(history.size()));
    for (const auto& h : history) {
        const quint16 raw[2] = { h.first, h.second };
        a.Write2ByteArray(raw, 2);
    }
    a.writeBool(false);
}

void writeOneFile(CUDArch& a)
{
    CBackupFileHeader h;
    QVERIFY(h.save(a));
    a.BeginBlock(1);
    a.EndBlock();
    a.BeginBlock(2);
    a.writeU32(1);
    a << QStringLiteral("/a");
    a.BeginBlock(3);
    writeFileItem(a, 1e9, 5, 0x9800, {});
    a.EndBlock();
    a.EndBlock();
}

void writeFolder(CUDArch& a)
{
    CBackupFileHeader h;
    QVERIFY(h.save(a));
    a.BeginBlock(1);
    a.EndBlock();
    a.BeginBlock(2);
    a.writeU32(1);
    a << QStringLiteral("/d");
    a.BeginBlock(3);
    writeFileItem(a, 0, 0, 0x9801, { { 0, 3 } });
    a.EndBlock();
    a.BeginBlock(2);
    a.writeU32(1);
    a << QStringLiteral("f");
    a.BeginBlock(3);
    writeFileItem(a, 1e9, 5, 0x9800, { { 0, 3 } });
    a.EndBlock();
    a.EndBlock();
    a.EndBlock();
}

void put32(QByteArray& b, int at, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = char(v >> (24 - 8 * i));
}

} // namespace

class TestCUDArch : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void writesTheFixturesByteForByte()
    {
        QByteArray mem;
        {
            CUDArch a(&mem, CUDArch::WriteTree);
            writeOneFile(a);
            QVERIFY(a.Close());
        }
        QCOMPARE(mem.toHex(), ArchiveFixtures::oneFileTree().toHex());
        {
            CUDArch a(&mem, CUDArch::WriteTree);
            writeFolder(a);
        }
        QCOMPARE(mem.size(), 189);
        QCOMPARE(mem.toHex(), ArchiveFixtures::folderTree().toHex());

        // A real file gets the same bytes.
        TempTree t;
        const QString path = t.filePath(std::string("p.bif"));
        {
            CUDArch a(path, CUDArch::WriteTree);
            QVERIFY(a.isOpen());
            writeFolder(a);
        }
        QCOMPARE(t.readFile("p.bif").toHex(), ArchiveFixtures::folderTree().toHex());
    }

    void readsTheFolderFixtureAndSkipsWhatItDoesNotKnow()
    {
        QByteArray mem = ArchiveFixtures::folderTree();
        CUDArch a(&mem, CUDArch::ReadTree);
        CBackupFileHeader h;
        QVERIFY(h.load(a));
        QCOMPARE(a.version(), 22u);
        QVERIFY(a.BeginBlock(1));
        a.EndBlock();
        QVERIFY(!a.BeginBlock(3)); // another type: false, position kept
        QCOMPARE(a.pos(), 33);
        QVERIFY(a.BeginBlock(2));
        QCOMPARE(a.readU32(), 1u);
        QString name;
        a >> name;
        QCOMPARE(name, QStringLiteral("/d"));
        QVERIFY(a.BeginBlock(3));
        QCOMPARE(a.GetTopExtendedBlock()->nextSibling, 108u);
        a.readDouble(); // a reader that knows only the first field
        a.EndBlock();
        QCOMPARE(a.pos(), 108);
        QVERIFY(a.BeginBlock(2));
        QCOMPARE(a.readU32(), 1u);
        a >> name;
        QCOMPARE(name, QStringLiteral("f"));
        QVERIFY(a.BeginBlock(3));
        QDateTime date;
        a >> date;
        QCOMPARE(date.toSecsSinceEpoch(), 1000000000);
        QCOMPARE(a.readU64(), 5u);
        QCOMPARE(a.readU32(), 0x9800u);
        a.EndBlock();
        a.EndBlock();
        a.EndBlock();
        QCOMPARE(a.pos(), 189);

        // The depth-first search finds the item blocks in file order.
        a.seek(20);
        CUDArch::SEARCH_BLOCK_INFO search;
        search.type = 3;
        QCOMPARE(a.FindFirst(search), 58u);
        QCOMPARE(a.FindNext(search), 131u);
        QCOMPARE(a.FindNext(search), 0xFFFFFFFFu);
    }

    void plainBlocksAndTopLevelChains()
    {
        QByteArray mem;
        {
            CUDArch a(&mem, CUDArch::WriteTree);
            a.BeginBlock(1);
            a.BeginBlock(0x80); // plain, inside a linked block
            a.writeU32(7);
            a.EndBlock();
            a.EndBlock();
            a.BeginBlock(1);
            a.EndBlock();
        }
        QCOMPARE(mem.toHex(),
            QByteArray("01"
                       "00000016"
                       "ffffffff"
                       "00000016" // first top-level block, next at 22
                       "80"
                       "00000016"
                       "00000007" // plain: 5-byte header, no links
                       "01"
                       "00000023"
                       "ffffffffffffffff"));
        CUDArch r(&mem, CUDArch::ReadTree);
        QVERIFY(r.BeginBlock(1));
        QVERIFY(r.BeginBlock(0x80));
        QCOMPARE(r.readU32(), 7u);
        r.EndBlock();
        r.EndBlock();
        QVERIFY(r.BeginBlock(1));
    }

    void textsKeepTheirUnitsAndDatesTheirValue()
    {
        // Lone surrogates are the lossless form of bytes that are not UTF-8: never repaired.
        const QString odd = QString(QChar(0x61)) + QChar(0xDCE9) + QChar(0xDC80) + QChar(0xD800);
        QByteArray mem;
        {
            CUDArch a(&mem, CUDArch::WriteHeader);
            CBackupFileHeader(CBackupFileHeader::kMagic, CBackupFileHeader::kKindRecord, 22).save(a);
            a << odd << QString() << QStringLiteral("") << QDateTime();
        }
        CUDArch r(&mem, CUDArch::ReadHeader);
        CBackupFileHeader h;
        QVERIFY(h.load(r));
        QString back, nil1, nil2;
        QDateTime date;
        r >> back >> nil1 >> nil2 >> date;
        QCOMPARE(back.size(), 4);
        for (int i = 0; i < 4; ++i)
            QCOMPARE(back.at(i).unicode(), odd.at(i).unicode());
        QVERIFY(nil1.isNull());
        QVERIFY(nil2.isNull());
        QCOMPARE(date, QDateTime::fromSecsSinceEpoch(0, Qt::UTC)); // nil reads back as 1970

        // Files of version 6 and below hold dates as text.
        QByteArray old;
        {
            CUDArch a(&old, CUDArch::WriteHeader);
            CBackupFileHeader(CBackupFileHeader::kMagic, CBackupFileHeader::kKindRecord, 6).save(a);
            a << QStringLiteral("2001-09-09 03:46:40 +0200");
        }
        CUDArch o(&old, CUDArch::ReadHeader);
        QVERIFY(h.load(o));
        o >> date;
        QCOMPARE(date.toSecsSinceEpoch(), qint64(1000000000));
    }

    void readingFaults_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("fails");
        QTest::addColumn<bool>("bit0");

        QTest::newRow("10-byte file") << ArchiveFixtures::oneFileTree().left(10) << "header" << true << true;
        QByteArray beyond = ArchiveFixtures::folderTree();
        put32(beyond, 59, 190); // item "/d" ends past its container and its file
        QTest::newRow("end beyond its parent") << beyond << "walk" << true << false;
        QByteArray before = ArchiveFixtures::oneFileTree();
        put32(before, 59, 60); // item "/a" ends inside its own header
        QTest::newRow("end before its header") << before << "walk" << true << false;
        QByteArray inner = ArchiveFixtures::oneFileTree();
        put32(inner, 34, 57); // the container ends before its item's header is complete
        QTest::newRow("header past its parent") << inner << "walk" << true << true;
        QTest::newRow("one byte at the end")
            << ArchiveFixtures::oneFileTree() << "byte-at-end" << true << true;
        QTest::newRow("4 bytes ending at the end")
            << ArchiveFixtures::oneFileTree() << "u32-to-end" << false << false;
        QByteArray huge = ArchiveFixtures::oneFileTree();
        put32(huge, 50, 4000001); // a text count past the limit: nil, the rest skipped
        QTest::newRow("text count 4000001") << huge << "nil-text" << false << false;
        QByteArray units = ArchiveFixtures::oneFileTree();
        put32(units, 50, 40); // 40 units do not fit the block
        QTest::newRow("text past its block") << units << "walk" << true << true;
        QByteArray cyclic = ArchiveFixtures::folderTree();
        put32(cyclic, 67, 58); // item "/d" names itself as its next sibling
        QTest::newRow("cyclic siblings") << cyclic << "find" << false << false;
    }

    void readingFaults()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, action);
        QFETCH(bool, fails);
        QFETCH(bool, bit0);

        CUDArch a(&bytes, CUDArch::ReadTree);
        CBackupFileHeader h;
        bool failed = false;
        try {
            if (!h.load(a)) {
                failed = true;
            } else if (action == QLatin1String("walk") || action == QLatin1String("nil-text")) {
                if (!a.BeginBlock(1))
                    throw ArchiveFormatError("no block 1");
                a.EndBlock();
                if (!a.BeginBlock(2))
                    throw ArchiveFormatError("no block 2");
                a.checkCount(a.readU32(), 6);
                QString name;
                a >> name;
                if (action == QLatin1String("nil-text")) {
                    QVERIFY(name.isNull());
                    a.EndBlock();
                    QCOMPARE(a.pos(), 112);
                } else {
                    if (!a.BeginBlock(3))
                        throw ArchiveFormatError("no item");
                    a.EndBlock();
                    a.EndBlock();
                }
            } else if (action == QLatin1String("byte-at-end") || action == QLatin1String("u32-to-end")) {
                a.seek(58);
                QVERIFY(a.BeginBlock(3));
                a.seek(action == QLatin1String("byte-at-end") ? 112 : 108);
                if (action == QLatin1String("byte-at-end"))
                    a.readU8();
                else
                    QCOMPARE(a.readU32(), 0u);
            } else if (action == QLatin1String("find")) {
                a.seek(20);
                CUDArch::SEARCH_BLOCK_INFO s;
                s.type = 9; // a type no block has: the search must end
                QCOMPARE(a.FindFirst(s), 0xFFFFFFFFu);
            }
        } catch (const ArchiveFormatError&) {
            failed = true;
        }
        QCOMPARE(failed, fails);
        QCOMPARE(bool(CUDArch::m_nLastError & 1), bit0);
    }

    void checkFileFormatWantsAKnownKind()
    {
        TempTree t;
        QByteArray foreign = ArchiveFixtures::oneFileTree();
        foreign.replace(4, 4, "XYZ ");
        QVERIFY(t.writeFile(std::string("good.bif"), ArchiveFixtures::oneFileTree()));
        QVERIFY(t.writeFile(std::string("foreign.bif"), foreign));
        QVERIFY(t.writeFile(std::string("short.bif"), QByteArray("BTR ")));
        QVERIFY(CBackupFileHeader::checkFileFormat(t.filePath(std::string("good.bif"))));
        QVERIFY(!CBackupFileHeader::checkFileFormat(t.filePath(std::string("foreign.bif"))));
        QVERIFY(!CBackupFileHeader::checkFileFormat(t.filePath(std::string("short.bif"))));
        QVERIFY(!CBackupFileHeader::checkFileFormat(t.filePath(std::string("missing.bif"))));
    }

    void abortOfATreeFileDeletesIt()
    {
        TempTree t;
        const QString path = t.filePath(std::string("x.bif"));
        {
            CUDArch a(path, CUDArch::WriteTree);
            writeOneFile(a);
            a.Abort();
        }
        QVERIFY(!t.exists("x.bif"));
    }
};

QTEST_GUILESS_MAIN(TestCUDArch)
#include "tst_cudarch.moc"
