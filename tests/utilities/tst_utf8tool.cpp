// kv-test: labels=unit
#include "platform/Subprocess.h"
#include "utilities/IUTF8Tool.h"
#include "utilities/UTF8Tool.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>
#include <vector>

namespace {

struct Scan
{
    QList<QByteArray> lines; // from getNextLine()
    QByteArray last; // from finish(); null when it delivered nothing
};

// Feeds the chunks to a scanner of the given face the way a pipe reader does, each chunk in a
// buffer of exactly its size (the scanner must not read past it).
template<class Tool>
Scan scan(const QList<QByteArray>& chunks, int64_t workSize)
{
    Tool tool;
    std::vector<char> work(static_cast<size_t>(workSize));
    tool.setWorkBuffer(work.data(), workSize);
    Scan result;
    for (const QByteArray& chunk : chunks) {
        std::vector<char> buffer(chunk.begin(), chunk.end());
        tool.setSrcBuffer(buffer.data(), static_cast<int64_t>(buffer.size()));
        while (tool.getNextLine()) {
            const QByteArray line(tool.workBuffer(), tool.workTextLength());
            if (line != QByteArray(tool.workBuffer()))
                qFatal("work text length disagrees with the NUL-terminated line");
            result.lines << line;
        }
        // Asking again after NO, without a new chunk, must not repeat or append anything.
        if (tool.getNextLine())
            qFatal("getNextLine answered a line after the chunk was used up");
    }
    if (tool.finish())
        result.last = QByteArray(tool.workBuffer(), tool.workTextLength());
    if (tool.finish())
        qFatal("finish handed over the last line twice");
    return result;
}

bool isBreak(char c)
{
    return c == '\0' || c == '\n' || c == '\r';
}

// The simple splitter the scanner must agree with: at the start and after every break, skip one
// CR and then one LF; lines are cut to workSize - 1 bytes.
Scan reference(const QByteArray& text, int64_t workSize)
{
    Scan result;
    qsizetype i = 0;
    const qsizetype n = text.size();
    auto skip = [&] {
        if (i < n && text[i] == '\r')
            ++i;
        if (i < n && text[i] == '\n')
            ++i;
    };
    skip();
    while (i < n) {
        qsizetype j = i;
        while (j < n && !isBreak(text[j]))
            ++j;
        const QByteArray line = text.mid(i, j - i).left(workSize - 1);
        if (j == n) {
            result.last = line;
            break;
        }
        result.lines << line;
        i = j + 1;
        skip();
    }
    return result;
}

QList<QByteArray> splitEvery(const QByteArray& text, qsizetype size)
{
    QList<QByteArray> chunks;
    for (qsizetype i = 0; i < text.size(); i += size)
        chunks << text.mid(i, size);
    return chunks;
}

} // namespace

class TestUTF8Tool : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void chunksToLines_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<qint64>("workSize");
        QTest::addColumn<QList<QByteArray>>("lines");
        QTest::addColumn<QByteArray>("last");
        using L = QList<QByteArray>;
        const qint64 big = IUTF8Tool::kWorkBufferSize;
        const QByteArray none;
        QTest::newRow("two LF lines") << L { "abc\ndef\n" } << big << L { "abc", "def" } << none;
        QTest::newRow("CR LF") << L { "abc\r\ndef\r\n" } << big << L { "abc", "def" } << none;
        QTest::newRow("CR LF split") << L { "abc\r", "\ndef\r\n" } << big << L { "abc", "def" } << none;
        QTest::newRow("pending across chunks") << L { "ab", "c\nd" } << big << L { "abc" } << QByteArray("d");
        QTest::newRow("break opens next chunk")
            << L { "abc", "\nxyz\n" } << big << L { "abc", "xyz" } << none;
        QTest::newRow("line in four chunks") << L { "a", "b", "c", "d\n" } << big << L { "abcd" } << none;
        QTest::newRow("empty chunk in between") << L { "ab", "", "c\n" } << big << L { "abc" } << none;
        QTest::newRow("LF LF skips one") << L { "a\n\nb\n" } << big << L { "a", "b" } << none;
        QTest::newRow("LF LF LF") << L { "a\n\n\nb\n" } << big << L { "a", "", "b" } << none;
        QTest::newRow("CR LF CR LF") << L { "a\r\n\r\nb\n" } << big << L { "a", "", "b" } << none;
        QTest::newRow("skip is once over chunks")
            << L { "a\n", "\n", "\nb\n" } << big << L { "a", "", "b" } << none;
        QTest::newRow("one CR skipped over chunks")
            << L { "a\n\r", "\rb\n" } << big << L { "a", "", "b" } << none;
        QTest::newRow("break at stream start") << L { "\r\nabc\n" } << big << L { "abc" } << none;
        QTest::newRow("NUL ends a line") << L { QByteArray("a\0b\n", 4) } << big << L { "a", "b" } << none;
        QTest::newRow("progress by CR") << L { "10%\r20%\r" } << big << L { "10%", "20%" } << none;
        QTest::newRow("last line at end")
            << L { "x\ntail, no break" } << big << L { "x" } << QByteArray("tail, no break");
        QTest::newRow("fills work buffer")
            << L { "abcdefg\nh\n" } << qint64(8) << L { "abcdefg", "h" } << none;
        QTest::newRow("overlong cut once")
            << L { "abcdefghijkl\nxy\n" } << qint64(8) << L { "abcdefg", "xy" } << none;
        QTest::newRow("overlong over chunks")
            << L { "abcd", "efghij", "kl\nxy\n" } << qint64(8) << L { "abcdefg", "xy" } << none;
        QTest::newRow("overlong last line")
            << L { "abcdefghij" } << qint64(8) << L {} << QByteArray("abcdefg");
        // rsync writes unprintable name bytes as "\\#ooo": a 4,095-byte path makes a ~16 KB line,
        // which the readers' work buffer holds whole.
        const QByteArray escaped = QByteArray("/\\#303\\#251").repeated(1600);
        QTest::newRow("16 KB escaped name whole")
            << L { escaped.left(7000), escaped.mid(7000, 7000), escaped.mid(14000) + "\nnext\n" } << big
            << L { escaped, "next" } << none;
        QTest::newRow("nothing") << L {} << big << L {} << none;
    }

    void chunksToLines()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(qint64, workSize);
        QFETCH(QList<QByteArray>, lines);
        QFETCH(QByteArray, last);
        for (const Scan& got : { scan<IUTF8Tool>(chunks, workSize), scan<UTF8Tool>(chunks, workSize) }) {
            QCOMPARE(got.lines, lines);
            QCOMPARE(got.last, last);
            QCOMPARE(got.last.isNull(), last.isNull());
        }
    }

    // Random texts over the bytes that matter, split at every position and into random chunks.
    void agreesWithReferenceSplitter()
    {
        QRandomGenerator rng(20240331);
        const QByteArray alphabet[] = { "a", "\xc3\xa9", "\n", "\r", "\r\n", QByteArray(1, '\0') };
        const int64_t workSizes[] = { 4, 9, IUTF8Tool::kWorkBufferSize };
        for (int round = 0; round < 400; ++round) {
            QByteArray text;
            const int pieces = rng.bounded(1, 40);
            for (int p = 0; p < pieces; ++p)
                text += alphabet[rng.bounded(6)];
            const int64_t workSize = workSizes[round % 3];
            const Scan expected = reference(text, workSize);
            auto check = [&](const QList<QByteArray>& chunks) {
                const Scan got = scan<IUTF8Tool>(chunks, workSize);
                if (got.lines != expected.lines || got.last != expected.last
                    || got.last.isNull() != expected.last.isNull()) {
                    qWarning() << "text" << text.toHex(' ') << "chunks" << chunks << "work" << workSize
                               << "got" << got.lines << got.last << "expected" << expected.lines
                               << expected.last;
                    return false;
                }
                return true;
            };
            for (qsizetype at = 0; at <= text.size(); ++at)
                QVERIFY(check({ text.left(at), text.mid(at) }));
            for (int k = 0; k < 5; ++k) {
                QList<QByteArray> chunks;
                for (qsizetype i = 0; i < text.size();) {
                    const int size = rng.bounded(1, 21);
                    chunks << text.mid(i, size);
                    i += size;
                }
                QVERIFY(check(chunks));
            }
        }
    }

    // Real rsync progress output (LF, then CR-ended updates) comes out line by line, the same in
    // every chunk size.
    void rsyncProgressOutput()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("src")));
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("dst")));
        QFile big(dir.filePath(QStringLiteral("src/big")));
        QVERIFY(big.open(QIODevice::WriteOnly));
        QByteArray block(1000, '\0');
        QRandomGenerator rng(7);
        for (int i = 0; i < 3000; ++i) {
            for (char& c : block)
                c = static_cast<char>(rng.bounded(256));
            QCOMPARE(big.write(block), qint64(block.size()));
        }
        big.close();
        QFile small(dir.filePath(QStringLiteral("src/small")));
        QVERIFY(small.open(QIODevice::WriteOnly));
        small.write("0123456789");
        small.close();

        // Recorded through the child-process toolkit, whose reader thread also feeds a scanner
        // chunk by chunk, as the run controllers do, with finish() at end of stream.
        Subprocess rsync;
        QByteArray recorded;
        Scan live;
        IUTF8Tool liveTool;
        std::vector<char> liveWork(static_cast<size_t>(IUTF8Tool::kWorkBufferSize));
        liveTool.setWorkBuffer(liveWork.data(), IUTF8Tool::kWorkBufferSize);
        rsync.setStdoutHandler([&](const char* data, size_t size) {
            recorded.append(data, static_cast<qsizetype>(size));
            liveTool.setSrcBuffer(data, static_cast<int64_t>(size));
            while (liveTool.getNextLine())
                live.lines << QByteArray(liveTool.workBuffer(), liveTool.workTextLength());
        });
        rsync.setEndOfStreamHandler([&] {
            if (liveTool.finish())
                live.last = QByteArray(liveTool.workBuffer(), liveTool.workTextLength());
        });
        Subprocess::Options options;
        options.program = QStringLiteral("rsync");
        options.arguments = QStringList { "-a", "--progress", "src/", "dst/" };
        options.workingDirectory = dir.path();
        options.toolLocale = true; // LC_ALL=C.UTF-8
        QString error;
        QVERIFY2(rsync.start(options, &error), qPrintable(error));
        QVERIFY(rsync.waitForFinished(60000));
        QVERIFY(rsync.exitedNormally());
        QCOMPARE(rsync.exitCode(), 0);
        QVERIFY2(recorded.contains("big\n\r"), recorded.constData());

        const Scan whole = scan<IUTF8Tool>({ recorded }, IUTF8Tool::kWorkBufferSize);
        const Scan expected = reference(recorded, IUTF8Tool::kWorkBufferSize);
        QCOMPARE(whole.lines, expected.lines);
        QVERIFY(whole.last.isNull());
        QVERIFY(whole.lines.contains("big"));
        QVERIFY(whole.lines.contains("small"));
        int finals = 0;
        for (const QByteArray& line : whole.lines) {
            QVERIFY2(!line.isEmpty(), "an empty line between progress updates");
            QVERIFY(!line.contains('\r') && !line.contains('\n'));
            if (line.contains(" 100% ") && line.contains("(xfr#1, to-chk=1/3)"))
                ++finals;
        }
        QCOMPARE(finals, 1);
        QVERIFY(whole.lines.last().contains("(xfr#2, to-chk=0/3)"));
        QCOMPARE(live.lines, whole.lines);
        QVERIFY(live.last.isNull());

        for (int size = 1; size <= 64; ++size) {
            const Scan got = scan<IUTF8Tool>(splitEvery(recorded, size), IUTF8Tool::kWorkBufferSize);
            QVERIFY2(got.lines == whole.lines, qPrintable(QStringLiteral("chunk size %1").arg(size)));
            QVERIFY(got.last.isNull());
        }
    }

    void stringFunctions()
    {
        // Both faces share the functions; the capital forms must answer the same.
        QVERIFY(!IUTF8Tool::hasPrefix("ab", nullptr));
        QVERIFY(!UTF8Tool::HasPrefix("ab", nullptr));
        QVERIFY(UTF8Tool::HasPrefix("ab", "abc") && !UTF8Tool::HasPrefix("abcd", "abc"));
        QVERIFY(IUTF8Tool::hasSuffix("bc", "abc") && !IUTF8Tool::hasSuffix("abc", "bc"));
        QVERIFY(UTF8Tool::HasSuffix("", "abc"));

        QVERIFY(!IUTF8Tool::findString("a", "abc", 0).found());
        QVERIFY(!UTF8Tool::FindString("a", "abc", 0).found());
        const char* text = "a\xc3\xa9 b";
        const UTF8Position pos = UTF8Tool::FindString("b", text, 5);
        QCOMPARE(pos.bytePos, int64_t(4));
        QCOMPARE(pos.symbolPos, int64_t(3));
        // A match begins within length and may end beyond it, but never beyond the readable size.
        QCOMPARE(IUTF8Tool::findString("cX", "abcXYZ", 3, 3).bytePos, int64_t(-1));
        QCOMPARE(IUTF8Tool::findString("cX", "abcXYZ", 3, 6).bytePos, int64_t(2));
        QCOMPARE(IUTF8Tool::findString("X", "abcXYZ", 3, 6).bytePos, int64_t(-1));
        QVERIFY(IUTF8Tool::containsString("to-chk=", "(xfr#1, to-chk=1/3)"));
        QVERIFY(!UTF8Tool::ContainsString("to-chk=", "(xfr#1, to-chk"));
        QVERIFY(!UTF8Tool::ContainsString("x", nullptr));

        const char* twoSymbols = "\xc3\xa9"
                                 "1";
        QCOMPARE(IUTF8Tool::symbolCount(twoSymbols), int64_t(2));
        QCOMPARE(UTF8Tool::SymbolCount(nullptr), int64_t(0));
        QCOMPARE(IUTF8Tool::bytePosInString(twoSymbols, 1), twoSymbols + 2);
        QCOMPARE(UTF8Tool::BytePosInString(twoSymbols, 2), static_cast<const char*>(nullptr));
        QCOMPARE(UTF8Tool::BytePosInString(nullptr, 0), static_cast<const char*>(nullptr));

        QVERIFY(UTF8Tool::IsEqualString("abc", "abc") && !UTF8Tool::IsEqualString("abc", "abd"));
        QVERIFY(!IUTF8Tool::isEqualString1("abc", nullptr));

        std::string version;
        QVERIFY(UTF8Tool::GetVersionString("System Version 11.2.3 (20D91)", &version));
        QCOMPARE(version, std::string("11.2.3"));
        QVERIFY(UTF8Tool::GetVersionString("rsync  version 3.2.7\n", &version));
        QCOMPARE(version, std::string("3.2.7"));
        QVERIFY(!UTF8Tool::GetVersionString("no digits here", &version));
        QVERIFY(UTF8Tool::GetVersionString("v2", nullptr));
        QCOMPARE(&UTF8Tool::Shared(), &UTF8Tool::Shared());
    }
};

QTEST_GUILESS_MAIN(TestUTF8Tool)
#include "tst_utf8tool.moc"
