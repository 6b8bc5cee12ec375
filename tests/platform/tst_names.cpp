// kv-test: labels=unit
#include "platform/NameCodec.h"
#include "platform/NameSanitizer.h"

#include <QRandomGenerator>
#include <QtTest>

namespace {
// The character an undecodable byte becomes.
QString esc(int byte)
{
    return QString(QChar(char16_t(0xDC00 + byte)));
}
} // namespace

// The lossless conversion of names from disk and the one sanitiser for path components.
class TestNames : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void decodeTable_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("ascii") << QByteArray("plain name") << QStringLiteral("plain name");
        QTest::newRow("utf8") << QByteArray("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80")
                              << QStringLiteral("caf\u00e9 \u20ac \U0001F600");
        QTest::newRow("latin1 byte") << QByteArray("caf\xE9") << QStringLiteral("caf") + esc(0xE9);
        QTest::newRow("cut sequence") << QByteArray("a\xC3") << QStringLiteral("a") + esc(0xC3);
        QTest::newRow("bad continuation") << QByteArray("\xC3\x28") << esc(0xC3) + QStringLiteral("(");
        QTest::newRow("overlong slash") << QByteArray("\xC0\xAF") << esc(0xC0) + esc(0xAF);
        QTest::newRow("encoded surrogate") << QByteArray("\xED\xB3\xBF") << esc(0xED) + esc(0xB3) + esc(0xBF);
        QTest::newRow("above U+10FFFF")
            << QByteArray("\xF4\x90\x80\x80") << esc(0xF4) + esc(0x90) + esc(0x80) + esc(0x80);
        QTest::newRow("nul kept") << QByteArray("a\0b", 3) << QStringView(u"a\0b", 3).toString();
    }

    void decodeTable()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(NameCodec::decode(bytes), text);
        QCOMPARE(NameCodec::encode(text), bytes);
        QCOMPARE(NameCodec::decode(bytes.toStdString()), text);
        QCOMPARE(NameCodec::encodeStd(text), bytes.toStdString());
    }

    // Any bytes at all come back unchanged, including the bytes of escaped surrogates.
    void randomBytesRoundTrip()
    {
        QRandomGenerator rng(20240501);
        const char alphabet[] = { 'a', '/', '\0', '\n', char(0x80), char(0xBF), char(0xC3), char(0xA9),
            char(0xE2), char(0x82), char(0xAC), char(0xED), char(0xB2), char(0xF0), char(0x9F), char(0xFF) };
        for (int round = 0; round < 20000; ++round) {
            const int len = int(rng.bounded(24));
            QByteArray bytes;
            for (int i = 0; i < len; ++i)
                bytes.append(
                    round % 2 ? char(rng.bounded(256)) : alphabet[rng.bounded(int(sizeof alphabet))]);
            const QString text = NameCodec::decode(bytes);
            if (NameCodec::encode(text) != bytes)
                QFAIL(qPrintable(
                    QStringLiteral("round trip lost bytes: ") + QString::fromLatin1(bytes.toHex())));
            QCOMPARE(NameCodec::hasEscapedBytes(text), QString::fromUtf8(bytes).toUtf8() != bytes);
        }
    }

    void loneSurrogatesWithoutByteForm()
    {
        // U+D800 or U+DC41 cannot come from decode(); they must still give valid UTF-8.
        const QByteArray out = NameCodec::encode(QString(QChar(0xDC41)) + QChar(0xD800));
        QCOMPARE(out, QByteArray("\xEF\xBF\xBD\xEF\xBF\xBD"));
    }

    void sanitizerTable_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected"); // null when refused
        QTest::newRow("plain") << QStringLiteral("My Backup") << QStringLiteral("My Backup");
        QTest::newRow("slash") << QStringLiteral("a/b/../c") << QStringLiteral("a_b_.._c");
        QTest::newRow("nul and controls")
            << QStringView(u"a\0b\tc\nd\u007fe", 9).toString() << QStringLiteral("a_b_c_d_e");
        QTest::newRow("leading dash") << QStringLiteral("-rf") << QStringLiteral("_-rf");
        QTest::newRow("dash inside") << QStringLiteral("a-b") << QStringLiteral("a-b");
        QTest::newRow("trailing blanks") << QStringLiteral("name   ") << QStringLiteral("name");
        QTest::newRow("leading blanks kept") << QStringLiteral("  name") << QStringLiteral("  name");
        QTest::newRow("quotes and $( ) kept")
            << QStringLiteral("it's \"$(id)\" `x`") << QStringLiteral("it's \"$(id)\" `x`");
        QTest::newRow("dot") << QStringLiteral(".") << QString();
        QTest::newRow("dot dot") << QStringLiteral("..") << QString();
        QTest::newRow("dot dot blank") << QStringLiteral(".. ") << QString();
        QTest::newRow("empty") << QStringLiteral("") << QString();
        QTest::newRow("blanks only") << QStringLiteral("   ") << QString();
        QTest::newRow("three dots") << QStringLiteral("...") << QStringLiteral("...");
        QTest::newRow("hidden") << QStringLiteral(".hidden") << QStringLiteral(".hidden");
        QTest::newRow("255 ascii") << QString(255, QLatin1Char('a')) << QString(255, QLatin1Char('a'));
        QTest::newRow("256 ascii") << QString(256, QLatin1Char('a')) << QString(255, QLatin1Char('a'));
        // 127 two-byte letters take 254 bytes; the 128th would cross the limit.
        QTest::newRow("cut at a letter") << QString(200, QChar(0xE9)) << QString(127, QChar(0xE9));
        QTest::newRow("cut before emoji") << QString(253, QLatin1Char('a')) + QStringLiteral("\U0001F600")
                                          << QString(253, QLatin1Char('a'));
        QTest::newRow("cut exposes blank")
            << QString(254, QLatin1Char('a')) + QStringLiteral(" b") << QString(254, QLatin1Char('a'));
        QTest::newRow("escaped byte is one byte") << QString(254, QLatin1Char('a')) + QChar(0xDCFF)
                + QLatin1Char('z') << QString(254, QLatin1Char('a')) + QChar(0xDCFF);
    }

    void sanitizerTable()
    {
        QFETCH(QString, name);
        QFETCH(QString, expected);
        bool refused = false;
        const QString out = NameSanitizer::sanitize(name, &refused);
        QCOMPARE(out, expected);
        QCOMPARE(out.isNull(), expected.isNull());
        QCOMPARE(refused, expected.isNull());
        if (!out.isNull()) {
            QVERIFY(NameCodec::encode(out).size() <= 255);
            QCOMPARE(NameSanitizer::sanitize(out), out); // stable
        }
    }
};

QTEST_GUILESS_MAIN(TestNames)
#include "tst_names.moc"
