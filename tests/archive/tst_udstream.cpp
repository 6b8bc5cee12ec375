// kv-test: labels=unit
#include "TempTree.h"
#include "archive/ud_stream.h"
#include "utilities/TempFolder.h"

#include <QtTest>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

namespace {

using Opener = std::function<ud_stream_t*(const std::string& dir)>;

QByteArray pattern(int n)
{
    QByteArray b(n, '\0');
    for (int i = 0; i < n; ++i)
        b[i] = char((i * 7 + 3) & 0xFF);
    return b;
}

std::vector<std::string> namesIn(const std::string& dir)
{
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d))
            if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, ".."))
                names.push_back(e->d_name);
        ::closedir(d);
    }
    return names;
}

} // namespace

Q_DECLARE_METATYPE(Opener)

class TestUdStream : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void backEnds_data()
    {
        QTest::addColumn<Opener>("open");
        QTest::newRow("memory growable")
            << Opener([](const std::string&) { return ud_stream_memopen(nullptr, 0); });
        QTest::newRow("memory fixed") << Opener([](const std::string&) {
            static std::vector<char> block;
            block.assign(20000, 0);
            return ud_stream_memopen(block.data(), long(block.size()));
        });
        QTest::newRow("fd") << Opener([](const std::string& dir) {
            const std::string path = dir + "/s.bin";
            return ud_stream_fopen(path.c_str(), "w+b");
        });
        QTest::newRow("temporary file") << Opener([](const std::string&) { return ud_stream_tmpfile(); });
    }

    // The same behaviour over every back end: transfers across the buffer boundary, push-back,
    // positions with bytes read ahead or not yet written, the transfer limit.
    void backEnds()
    {
        QFETCH(Opener, open);
        TempTree t;
        ud_stream_t* s = open(t.pathStd());
        QVERIFY(s);

        const QByteArray data = pattern(20000);
        QCOMPARE(ud_stream_write(data.constData(), 100, s), 100L);
        QCOMPARE(ud_stream_tell(s), 100LL); // bytes still in the buffer count
        QCOMPARE(ud_stream_write(data.constData() + 100, data.size() - 100, s), long(data.size() - 100));
        QCOMPARE(ud_stream_tell(s), 20000LL);
        QCOMPARE(ud_stream_seek(s, 0, SEEK_SET), 0);

        QByteArray back(20000, '\0');
        QCOMPARE(ud_stream_read(back.data(), 10, s), 10L);
        QCOMPARE(ud_stream_tell(s), 10LL); // read-ahead does not count
        QCOMPARE(ud_stream_read(back.data() + 10, 8190, s), 8190L); // ends exactly at 8192 ... 8200
        QCOMPARE(ud_stream_read(back.data() + 8200, 20000 - 8200, s), 20000L - 8200);
        QCOMPARE(back, data);
        QCOMPARE(ud_stream_getc_func(s), -1);
        QVERIFY(s->cond & UD_COND_EOF);

        // 16 bytes can be pushed back at the start of a fresh buffer, not a 17th.
        QCOMPARE(ud_stream_seek(s, 100, SEEK_SET), 0);
        QVERIFY(!(s->cond & UD_COND_EOF));
        for (int i = 0; i < 16; ++i)
            QCOMPARE(ud_stream_ungetc('a' + i, s), 'a' + i);
        QCOMPARE(ud_stream_ungetc('z', s), -1);
        QCOMPARE(ud_stream_tell(s), 84LL);
        QCOMPARE(ud_stream_getc_func(s), int('p')); // the last one pushed comes first
        QCOMPARE(ud_stream_seek(s, 0, SEEK_SET), 0);
        QCOMPARE(ud_stream_getc_func(s), int(quint8(data.at(0))));

        // gets: size 1 reads nothing, size 0 is refused without writing.
        char line[4] = { 'x', 'x', 'x', 'x' };
        QCOMPARE(ud_stream_gets(line, 1, s), line);
        QCOMPARE(line[0], '\0');
        QCOMPARE(line[1], 'x');
        QVERIFY(!ud_stream_gets(line + 1, 0, s));
        QCOMPARE(line[0], '\0');
        QCOMPARE(ud_stream_tell(s), 1LL);

        // The transfer limit stops transfers with bit 2.
        ud_stream_setrwcount(s, 0);
        ud_stream_setrwlimit(s, 5);
        QCOMPARE(ud_stream_read(back.data(), 100, s), 5L);
        QVERIFY(s->cond & UD_COND_LIMIT);
        QCOMPARE(ud_stream_read(back.data(), 1, s), 0L);
        QCOMPARE(ud_stream_close(s), 0);
    }

    void fixedBlockOverflowsAndGrowableGrows()
    {
        char block[10];
        ud_stream_t* fixed = ud_stream_memopen(block, sizeof block);
        const QByteArray data = pattern(9000);
        QCOMPARE(ud_stream_write(data.constData(), 9000, fixed), -1L); // the flush of a full buffer fails
        QVERIFY(fixed->cond & UD_COND_WRITE_ERROR);
        QCOMPARE(QByteArray(block, 10), data.left(10));
        ud_stream_close(fixed);

        ud_stream_t* grow = ud_stream_memopen(nullptr, 0);
        QCOMPARE(ud_stream_write(data.constData(), 9000, grow), 9000L);
        long length = 0;
        char* mem = static_cast<char*>(ud_stream_detach_buffer(grow, &length));
        QCOMPARE(length, 9000L);
        QCOMPARE(QByteArray(mem, length), data);
        ud_stream_close(grow);
        std::free(mem); // detached: the caller owns it
    }

    void displayPrintsFirstAndLastPartialLine()
    {
        ud_stream_t* s = ud_stream_memopen(nullptr, 0);
        const QByteArray data = pattern(40);
        ud_stream_write(data.constData(), 40, s);
        ud_stream_rewind(s);
        char* text = nullptr;
        size_t size = 0;
        FILE* out = open_memstream(&text, &size);
        QCOMPARE(ud_stream_display(s, out, 40), 0);
        std::fclose(out);
        const QList<QByteArray> lines = QByteArray(text, qsizetype(size)).split('\n');
        std::free(text);
        QCOMPARE(lines.size(), 3); // two lines and the empty rest
        QVERIFY(lines[0].startsWith("00000000: 03 0a 11"));
        QCOMPARE(lines[0].count(' '), 16);
        QVERIFY(lines[1].startsWith("00000020:"));
        QCOMPARE(lines[1].count(' '), 8);
        ud_stream_close(s);
    }

    void temporaryFileHasNoName()
    {
        const std::string folder = TempFolder::privateFolder(TempFolder::defaultBase());
        const auto before = namesIn(folder);
        ud_stream_t* s = ud_stream_tmpfile();
        QVERIFY(s);
        QCOMPARE(ud_stream_puts("hello\n", s), 6);
        QCOMPARE(namesIn(folder), before); // nothing to find or open by name while open
        QCOMPARE(ud_stream_length(s), 6LL);
        QCOMPARE(ud_stream_close(s), 0);
        QCOMPARE(namesIn(folder), before);
    }

    void printfAndCopy()
    {
        ud_stream_t* a = ud_stream_memopen(nullptr, 0);
        QCOMPARE(ud_stream_printf(a, "%s-%d", "x", 42), 4);
        const std::string big(3000, 'q');
        QCOMPARE(ud_stream_printf(a, "%s", big.c_str()), 3000);
        ud_stream_rewind(a);
        ud_stream_t* b = ud_stream_memopen(nullptr, 0);
        QCOMPARE(ud_stream_copy(a, b, -1), 3004L);
        long n = 0;
        const char* mem = static_cast<const char*>(ud_stream_get_buffer(b, &n));
        QCOMPARE(QByteArray(mem, 4), QByteArray("x-42"));
        QCOMPARE(n, 3004L);
        ud_stream_close(a);
        ud_stream_close(b);
    }
};

QTEST_GUILESS_MAIN(TestUdStream)
#include "tst_udstream.moc"
