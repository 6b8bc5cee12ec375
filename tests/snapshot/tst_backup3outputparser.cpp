// kv-test: labels=unit
#include "KvTest.h"
#include "snapshot/IBackup3OutputParser.h"
#include "utilities/IUTF8Tool.h"

#include <QFile>
#include <QRandomGenerator>
#include <vector>

namespace {

struct Recorder : IBackup3OutputParser::Sink
{
    QList<std::pair<QByteArray, quint64>> messages;
    QList<double> positions;
    int kills = 0;
    void parserMessage(const LogText& text, quint64 options) override
    {
        messages.append({ text.toUtf8(), options });
    }
    void parserProgress(double position) override { positions.append(position); }
    void parserKillRequest() override { ++kills; }
};

QByteArray fixture(const QString& name)
{
    QFile f(KvTest::sourceDir() + "/tests/fixtures/rsync/" + name);
    if (!f.open(QIODevice::ReadOnly))
        qFatal("missing fixture %s", qPrintable(name));
    return f.readAll();
}

// Feeds data to a fresh scanner in chunks whose sizes come from sizes(); returns the parser's
// state as one comparable text.
template<typename Sizes>
QByteArray feed(IBackup3OutputParser& parser, const QByteArray& data, Sizes sizes)
{
    IUTF8Tool tool;
    std::vector<char> work(IUTF8Tool::kWorkBufferSize);
    tool.setWorkBuffer(work.data(), qint64(work.size()));
    qsizetype at = 0;
    while (at < data.size()) {
        const qsizetype n = std::min<qsizetype>(sizes(), data.size() - at);
        tool.setSrcBuffer(data.constData() + at, n);
        parser.utilOutputProcess(tool, false);
        at += n;
    }
    parser.finishStream(tool, false);
    return QByteArray::number(parser.processStatus()) + " "
        + QByteArray::number(parser.processErrorAccumulator()) + " "
        + QByteArray::number(parser.processedLineCount()) + " " + QByteArray::number(parser.lineCount());
}

} // namespace

class TestBackup3OutputParser : public QObject
{
    Q_OBJECT

private slots:
    void lines_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<quint32>("status");
        QTest::addColumn<quint64>("classes");
        QTest::addColumn<quint64>("option"); // of the last message; 0: nothing logged
        QTest::addColumn<double>("processed");
        QTest::addColumn<double>("total");
        QTest::addColumn<int>("kills");

        // Counters start at 5 of 10 processed (see the test body).
        QTest::newRow("progress counters")
            << QByteArray("      1,000 100%    0.00kB/s    0:00:00 (xfr#7, to-chk=3/39)") << 0u << quint64(0)
            << quint64(0) << 36.0 << 39.0 << 0;
        QTest::newRow("final to-chk=0 passes on")
            << QByteArray("     32,768 100%   31.25MB/s    0:00:00 (xfr#39, to-chk=0/39)") << 0u << quint64(0)
            << quint64(34) << 6.0 << 10.0 << 0;
        QTest::newRow("progress without counters dropped")
            << QByteArray("         32,768   0%    0.00kB/s    0:00:00  ") << 0u << quint64(0) << quint64(0)
            << 5.0 << 10.0 << 0;
        QTest::newRow("folder counted")
            << QByteArray("a/b c/") << 0u << quint64(0) << quint64(0) << 6.0 << 10.0 << 0;
        QTest::newRow("file name") << QByteArray("a/f1") << 0u << quint64(0) << quint64(34) << 6.0 << 10.0
                                   << 0;
        QTest::newRow("files to consider") << QByteArray("1501 files to consider") << 0u << quint64(0)
                                           << quint64(18273) << 5.0 << 1501.0 << 0;
        QTest::newRow("vanished") << QByteArray("file has vanished: \"/s/x\"") << 1u
                                  << quint64(peaSomeFilesVanished) << quint64(18306) << 5.0 << 10.0 << 0;
        for (const char* tag : { "", "[sender] " }) {
            const QByteArray t(tag);
            const QByteArray sfx = t.isEmpty() ? " untagged" : " tagged";
            QTest::newRow(QByteArray("get_xattr_names" + sfx).constData())
                << QByteArray("rsync: " + t
                       + "get_xattr_names: llistxattr(\"/s/x\",1024) failed: Permission denied (13)")
                << 1u << quint64(peaPermissionDenied) << quint64(18242) << 5.0 << 10.0 << 0;
            QTest::newRow(QByteArray("failed to read xattr" + sfx).constData())
                << QByteArray("rsync: " + t
                       + "failed to read xattr user.rsync.%stat for \"/s/x\": Permission denied (13)")
                << 1u << quint64(peaPermissionDenied) << quint64(18242) << 5.0 << 10.0 << 0;
            QTest::newRow(QByteArray("send_files denied" + sfx).constData())
                << QByteArray("rsync: " + t + "send_files failed to open \"/s/x\": Permission denied (13)")
                << 3u << quint64(peaPermissionDenied) << quint64(18242) << 5.0 << 10.0 << 0;
            QTest::newRow(QByteArray("mkdir no space" + sfx).constData())
                << QByteArray(
                       "rsync: " + t + "recv_generator: mkdir \"/d/x\" failed: No space left on device (28)")
                << 0x13u << quint64(peaNoSpaceLeft) << quint64(18306) << 5.0 << 10.0 << 1;
            QTest::newRow(QByteArray("mkdir denied" + sfx).constData())
                << QByteArray("rsync: " + t + "recv_generator: mkdir \"/d/x\" failed: Permission denied (13)")
                << 3u << quint64(peaPermissionDenied) << quint64(18242) << 5.0 << 10.0 << 0;
            QTest::newRow(QByteArray("mkstemp" + sfx).constData())
                << QByteArray("rsync: " + t + "mkstemp \"/d/.x.AbCd\" failed: Read-only file system (30)")
                << 3u << quint64(peaMKSTEMP) << quint64(18306) << 5.0 << 10.0 << 0;
            QTest::newRow(QByteArray("not permitted" + sfx).constData())
                << QByteArray("rsync: " + t + "link \"/d/x\" => y failed: Operation not permitted (1)") << 1u
                << quint64(peaPermissionDenied) << quint64(18306) << 5.0 << 10.0 << 0;
            QTest::newRow(QByteArray("write failed no space" + sfx).constData())
                << QByteArray("rsync: " + t + "write failed on \"/d/x\": No space left on device (28)")
                << 0x13u << quint64(peaNoSpaceLeft) << quint64(18306) << 5.0 << 10.0 << 1;
        }
        QTest::newRow("code 23 sets nothing")
            << QByteArray("rsync error: some files/attrs were not transferred (see previous errors) (code "
                          "23) at main.c(1347) [sender=3.2.7]")
            << 0u << quint64(0) << quint64(18242) << 5.0 << 10.0 << 0;
        QTest::newRow("old code 23 text")
            << QByteArray("rsync error: some files could not be transferred (code 23) at main.c(977)") << 3u
            << quint64(peaSomeFilesNotTransferred) << quint64(18306) << 5.0 << 10.0 << 0;
        QTest::newRow("file IO") << QByteArray(
            "rsync error: error in file IO (code 11) at receiver.c(657) [receiver=3.5.0]")
                                 << 3u << quint64(peaErrorFileIO) << quint64(18306) << 5.0 << 10.0 << 0;
        QTest::newRow("vanished warning")
            << QByteArray("rsync warning: some files vanished before they could be transferred (code 24) at "
                          "main.c(1330) [sender=3.2.7]")
            << 1u << quint64(peaSomeFilesVanished) << quint64(18306) << 5.0 << 10.0 << 0;
        QTest::newRow("broken pipe") << QByteArray("rsync: [sender] write error: Broken pipe (32)") << 1u
                                     << quint64(0) << quint64(18306) << 5.0 << 10.0 << 0;
        QTest::newRow("restore kept newer")
            << QByteArray("docs/a.txt is newer") << 1u << quint64(0) << quint64(18306) << 5.0 << 10.0 << 0;
        QTest::newRow("statistics") << QByteArray("Number of files: 39 (reg: 32, dir: 5, link: 2)") << 0u
                                    << quint64(0) << quint64(18242) << 5.0 << 10.0 << 0;
    }

    void lines()
    {
        QFETCH(QByteArray, line);
        Recorder rec;
        IBackup3OutputParser parser(&rec);
        parser.startPass(wesClear);
        // Put the pass in the middle of copying: 5 of 10 lines processed.
        parser.processLine("10 files to consider");
        for (int i = 0; i < 5; ++i)
            parser.processLine("d/");
        rec.messages.clear();
        parser.processLine(line.constData());
        QTEST(parser.processStatus(), "status");
        QTEST(parser.processErrorAccumulator(), "classes");
        QFETCH(quint64, option);
        QCOMPARE(rec.messages.isEmpty() ? quint64(0) : rec.messages.last().second, option);
        if (option == 18306 || option == 18242 || option == 34)
            QCOMPARE(rec.messages.last().first, line); // the original line, role tag included
        QTEST(parser.processedLineCount(), "processed");
        QTEST(parser.lineCount(), "total");
        QTEST(rec.kills, "kills");
    }

    // A real capture gives the same result whatever the chunk sizes of the pipe reads.
    void chunkedCapture_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<quint32>("status");
        QTest::addColumn<quint64>("classes");
        QTest::newRow("root stdout") << "root.out" << 0u << quint64(0);
        QTest::newRow("user stderr") << "user.err" << 3u << quint64(peaPermissionDenied);
        QTest::newRow("full stderr") << "full.err" << 0x13u << quint64(peaNoSpaceLeft | peaErrorFileIO);
    }

    void chunkedCapture()
    {
        QFETCH(QString, name);
        const QByteArray data = fixture(name);
        IBackup3OutputParser whole;
        whole.startPass(wesClear);
        const QByteArray expected = feed(whole, data, [&] { return data.size(); });
        auto* rng = QRandomGenerator::global();
        for (int round = 0; round < 20; ++round) {
            IBackup3OutputParser parser;
            parser.startPass(wesClear);
            QCOMPARE(feed(parser, data, [&] { return qsizetype(rng->bounded(1, 20001)); }), expected);
            IBackup3OutputParser tiny;
            tiny.startPass(wesClear);
            QCOMPARE(feed(tiny, data, [&] { return qsizetype(rng->bounded(1, 8)); }), expected);
        }
        QFETCH(quint32, status);
        QFETCH(quint64, classes);
        QCOMPARE(whole.processStatus(), status);
        QCOMPARE(whole.processErrorAccumulator(), classes);
    }

    // The whole root capture: every transfer and folder is counted and progress reaches the end.
    void rootCaptureProgress()
    {
        Recorder rec;
        IBackup3OutputParser parser(&rec);
        parser.setProgressShape(2, 2, false); // second of two passes: 50 .. 100
        parser.startPass(wesClear);
        feed(parser, fixture("root.out"), [] { return 20000; });
        QCOMPARE(parser.lineCount(), 39.0);
        QVERIFY(parser.processedLineCount() >= 39.0);
        QVERIFY(!rec.positions.isEmpty());
        QCOMPARE(rec.positions.first(), 51.0);
        for (double p : rec.positions)
            QVERIFY(p >= 50.0 && p <= 100.0 + 1e-9);
        QVERIFY(rec.positions.last() > 99.0);
        for (const auto& m : rec.messages) // progress lines never reach a log
            if (m.second & 0xc0)
                QVERIFY2(!m.first.contains("to-chk="), m.first.constData());
    }

    void errorReport_data()
    {
        QTest::addColumn<quint32>("status");
        QTest::addColumn<quint64>("classes");
        QTest::addColumn<bool>("useImage");
        QTest::addColumn<qint64>("imageFree");
        QTest::addColumn<bool>("sourceMissing");
        QTest::addColumn<bool>("destMissing");
        QTest::addColumn<QString>("text");
        QTest::addColumn<quint32>("newStatus");
        QTest::addColumn<int>("workingState");

        QTest::newRow("not transferred only")
            << 3u << quint64(peaSomeFilesNotTransferred) << false << qint64(0) << false << false
            << "Some files could not be transferred." << 1u << 0;
        QTest::newRow("not transferred and vanished")
            << 3u << quint64(peaSomeFilesNotTransferred | peaSomeFilesVanished) << false << qint64(0) << false
            << false << "Some files could not be transferred." << 1u << 0;
        QTest::newRow("not transferred and mkdir")
            << 3u << quint64(peaSomeFilesNotTransferred | peaMKDIR) << false << qint64(0) << false << false
            << "Some files could not be transferred." << 3u << 0;
        QTest::newRow("image nearly full") << 3u << quint64(peaErrorFileIO) << true << qint64(999999) << false
                                           << false << "Not enough space in Disk Image" << 3u << 5;
        QTest::newRow("source missing") << 1u << quint64(peaMKDIR) << false << qint64(0) << true << false
                                        << "Source is unavailable" << 3u << 0;
        QTest::newRow("destination missing")
            << 3u << quint64(peaInputOutputError) << false << qint64(0) << false << true
            << "Destination is unavailable. Input/Output error." << 3u << 0;
        QTest::newRow("mkdir denied: extended attributes")
            << 3u << quint64(peaPermissionDenied) << false << qint64(0) << false << false
            << "Problem with coping extended attributes for some files. This may be solved using admin "
               "access."
            << 3u << 0;
        QTest::newRow("no space") << 0x13u << quint64(peaNoSpaceLeft | peaErrorFileIO) << false << qint64(0)
                                  << false << false << "Not enough space on Destination" << 0x13u << 0;
        QTest::newRow("vanished") << 1u << quint64(peaSomeFilesVanished) << false << qint64(0) << false
                                  << false << "Some files vanished before they could be transferred" << 1u
                                  << 0;
    }

    void errorReport()
    {
        QFETCH(quint32, status);
        QFETCH(quint64, classes);
        QFETCH(bool, useImage);
        QFETCH(qint64, imageFree);
        QFETCH(bool, sourceMissing);
        QFETCH(bool, destMissing);
        IBackup3OutputParser::ErrorReportFacts facts;
        facts.processStatus = status;
        facts.accumulator = classes;
        facts.useImage = useImage;
        facts.imageAvailable = [] { return true; };
        facts.imageFreeBytes = [=] { return imageFree; };
        facts.passCurrent = true;
        facts.sourceUnavailable = [=] { return sourceMissing; };
        facts.destinationUnavailable = [=] { return destMissing; };
        const auto report = IBackup3OutputParser::printErrorAccumulatorToLog(facts);
        QVERIFY(!report.messages.isEmpty());
        QTEST(report.messages.first().first, "text");
        QTEST(report.processStatus, "newStatus");
        QTEST(report.workingState, "workingState");
    }
};

QTEST_GUILESS_MAIN(TestBackup3OutputParser)
#include "tst_backup3outputparser.moc"
