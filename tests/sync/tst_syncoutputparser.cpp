// kv-test: labels=unit timeout=60
#include "KvTest.h"
#include "sync/SyncOutputParser.h"
#include "utilities/LogOptions.h"

#include <QFile>
#include <QRandomGenerator>

namespace {

struct Recorder : SyncOutputParser::Sink
{
    QList<std::pair<QByteArray, quint64>> messages;
    QList<double> positions;
    double indicator = 0;
    void parserMessage(const LogText& text, quint64 options) override
    {
        messages.append({ text.toUtf8(), options });
    }
    double parserIndicator() const override { return indicator; }
    void parserSetIndicator(double position) override
    {
        indicator = position;
        positions.append(position);
    }
    int count(const QByteArray& text) const
    {
        int n = 0;
        for (const auto& m : messages)
            n += m.first == text;
        return n;
    }
    quint64 optionOf(const QByteArray& text) const
    {
        for (const auto& m : messages)
            if (m.first == text)
                return m.second;
        return 0;
    }
};

QByteArray fixture(const QString& name)
{
    QFile f(KvTest::sourceDir() + "/tests/fixtures/rsync/" + name);
    if (!f.open(QIODevice::ReadOnly))
        qFatal("missing fixture %s", qPrintable(name));
    return f.readAll();
}

// Feeds both captured streams in chunks of the given sizes; the parser's state as one text.
template<typename Sizes>
QByteArray feedCapture(SyncOutputParser& parser, const QByteArray& out, const QByteArray& err, Sizes sizes)
{
    for (const auto& [data, isErr] : { std::pair { out, false }, std::pair { err, true } }) {
        qsizetype at = 0;
        while (at < data.size()) {
            const qsizetype n = std::min<qsizetype>(sizes(), data.size() - at);
            parser.feed(data.constData() + at, size_t(n), isErr);
            at += n;
        }
        parser.finishStream(isErr);
    }
    return QByteArray::number(parser.processStatus()) + " "
        + QByteArray::number(parser.processErrorAccumulator()) + " "
        + QByteArray::number(parser.processedLineCount()) + " " + QByteArray::number(parser.lineCount()) + " "
        + QByteArray::number(parser.isLastStringOut());
}

} // namespace

class TestSyncOutputParser : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void lines_data();
    void lines();
    void progressCountersMoveTheIndicator();
    void phaseTextsOnceAndStatisticsOnlyLogged();
    void cloneProgressIsTheShareChecked();
    void summary_data();
    void summary();
    void capturesAreClassifiedAsAWholeInAnyChunking_data();
    void capturesAreClassifiedAsAWholeInAnyChunking();
    void overlongAndNonUtf8LinesAreHandled();
};

void TestSyncOutputParser::lines_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<quint32>("status");
    QTest::addColumn<quint64>("classes");
    QTest::addColumn<quint64>("option");
    QTest::addColumn<bool>("last");

    const quint64 logNow = 18306, window = 18242;
    struct Row
    {
        const char* name;
        QByteArray text; // the message as rsync 3.0 wrote it; also tested with a role tag
        quint32 status;
        quint64 classes;
        quint64 option;
        bool last;
    };
    const Row rows[] = {
        { "read-only mkdir", R"(rsync: recv_generator: mkdir "/m/new" failed: Read-only file system (30))",
            wesErrors, peaMKDIR, window, false },
        { "read-only mkstemp", R"(rsync: mkstemp "/m/docs/.a.txt.NEUGdA" failed: Read-only file system (30))",
            wesErrors, peaMKSTEMP, window, false },
        { "times on a read-only folder",
            R"(rsync: failed to set times on "/m/.": Read-only file system (30))", wesClear, peaClear, logNow,
            false },
        { "full disk", R"(rsync: write failed on "/m/f1.bin": No space left on device (28))",
            wesErrors | wesFatalErrors, peaNoSpaceLeft, window, true },
        { "permission denied is a warning", R"(rsync: opendir "/s/x" failed: Permission denied (13))",
            wesWarnings, peaPermissionDenied, window, false },
        { "operation not permitted", R"(rsync: chown "/m/x" failed: Operation not permitted (1))",
            wesWarnings, peaPermissionDenied, logNow, false },
        { "send_files", "rsync: send_files failed to open \"/s/x\": Device busy", wesWarnings, peaClear,
            logNow, false },
        { "I/O error", R"(rsync: read errors mapping "/s/x": Input/output error (5))", wesErrors,
            peaInputOutputError, window, false },
        { "lsetxattr only logged",
            R"(rsync: rsync_xal_set: lsetxattr("/m/x","user.a") failed: Operation not supported (95))",
            wesClear, peaClear, window, false },
        { "broken pipe", "rsync: write error: Broken pipe (32)", wesClear, peaClear, logNow, false },
    };
    for (const Row& r : rows) {
        QTest::newRow(r.name) << r.text << r.status << r.classes << r.option << r.last;
        QByteArray tagged = r.text;
        tagged.insert(7, "[receiver] ");
        QTest::newRow(QByteArray(QByteArray(r.name) + " tagged").constData())
            << tagged << r.status << r.classes << r.option << r.last;
    }
    QTest::newRow("code 23 only logged") << QByteArray(
        "rsync error: some files/attrs were not transferred (see previous errors) (code 23) at main.c(1)")
                                         << quint32(wesClear) << quint64(peaClear) << window << false;
    QTest::newRow("file IO") << QByteArray(
        "rsync error: error in file IO (code 11) at receiver.c(1) [receiver=3.2.7]")
                             << quint32(wesErrors) << quint64(peaErrorFileIO) << window << false;
    QTest::newRow("other rsync error") << QByteArray("rsync error: unexplained error (code 255)")
                                       << quint32(wesErrors) << quint64(peaClear) << logNow << false;
    QTest::newRow("vanished file") << QByteArray(R"(file has vanished: "/s/b.txt")") << quint32(wesWarnings)
                                   << quint64(peaSomeFilesVanished) << quint64(1922) << false;
    QTest::newRow("vanished summary")
        << QByteArray("rsync warning: some files vanished before they could be transferred")
        << quint32(wesWarnings) << quint64(peaSomeFilesVanished) << logNow << false;
    QTest::newRow("total size ends the output") << QByteArray("total size is 8  speedup is 0.04")
                                                << quint32(wesClear) << quint64(peaClear) << window << true;
    // A name that looks like a tagged message is still a name.
    QTest::newRow("tag-like name") << QByteArray("rsync: [a b] No space left on device (28)/x")
                                   << quint32(wesClear) << quint64(peaClear) << logNow << false;
}

void TestSyncOutputParser::lines()
{
    QFETCH(QByteArray, line);
    QFETCH(quint32, status);
    QFETCH(quint64, classes);
    QFETCH(quint64, option);
    QFETCH(bool, last);
    Recorder sink;
    SyncOutputParser parser(&sink);
    parser.prepare(1);
    parser.processLine(line.constData());
    QCOMPARE(parser.processStatus(), status);
    QCOMPARE(parser.processErrorAccumulator(), classes);
    QCOMPARE(parser.isLastStringOut(), last);
    // the original line, tag and all, is what gets logged
    QCOMPARE(sink.optionOf(line), option);
}

void TestSyncOutputParser::progressCountersMoveTheIndicator()
{
    Recorder sink;
    SyncOutputParser parser(&sink);
    parser.prepare(1);
    parser.processLine("  1,234 100%  1.00MB/s  0:00:00 (xfr#5, to-chk=15/40)");
    QCOMPARE(parser.processedLineCount(), 5.0);
    QCOMPARE(parser.lineCount(), 20.0);
    parser.processLine("next");
    QCOMPARE(sink.positions.last(), 25.0);

    // the second pass of a run both ways covers 50 to 100
    parser.prepare(2);
    parser.startPass(1);
    parser.processLine("  1 100%  1.00MB/s  0:00:00 (xfr#1, to-chk=1/2)");
    parser.processLine("next");
    QCOMPARE(sink.positions.last(), 75.0);

    // a speed line is skipped: no count, no text
    const int before = sink.messages.size();
    const double processed = parser.processedLineCount();
    parser.processLine("         32,768  31%   31.25MB/s    0:00:01");
    QCOMPARE(sink.messages.size(), before);
    QCOMPARE(parser.processedLineCount(), processed);
}

// A clone's progress is the share of the files already checked; its names go to the log window,
// a bare number does not.
void TestSyncOutputParser::cloneProgressIsTheShareChecked()
{
    Recorder sink;
    SyncOutputParser parser(&sink);
    parser.prepare(1, true);
    parser.processLine("32,768 100% 31.25MB/s 0:00:00 (xfr#3, to-chk=7/11)");
    QCOMPARE(parser.processedLineCount(), 4.0);
    QCOMPARE(parser.lineCount(), 11.0);
    parser.processLine("etc/hosts");
    QCOMPARE(sink.optionOf("etc/hosts"), quint64(LogWord::WindowPrefixedNowUtf8));
    QCOMPARE(sink.positions.last(), 100.0 * 4 / 11);
    parser.processLine("4096");
    QCOMPARE(sink.count("4096"), 0);
    QCOMPARE(parser.processedLineCount(), 6.0);
}

void TestSyncOutputParser::phaseTextsOnceAndStatisticsOnlyLogged()
{
    Recorder sink;
    SyncOutputParser parser(&sink);
    parser.prepare(1);
    for (const char* line : { "building file list ... ", "11 files to consider", "deleting old1",
             "deleting old2", "docs/", "docs/a.txt", "Number of files: 5 (reg: 2, dir: 3)",
             "docs/looks-like-a-name", "rsync error: error in file IO (code 11)" })
        parser.processLine(line);
    QCOMPARE(sink.count("Deleting unnecessary files on Destination ..."), 1);
    QCOMPARE(sink.optionOf("deleting old2"), quint64(16418));
    QCOMPARE(sink.count("Copying files to Destination..."), 1);
    QCOMPARE(sink.optionOf("docs/a.txt"), quint64(34));
    QCOMPARE(parser.lineCount(), 11.0);
    QCOMPARE(parser.dirCount(), 1.0);
    QCOMPARE(parser.processedLineCount(), 2.0); // the folder and the file; nothing after the statistics
    QCOMPARE(sink.optionOf("docs/looks-like-a-name"), quint64(18242));
    // rsync's own messages are still classified inside the statistics block
    QCOMPARE(parser.processErrorAccumulator(), quint64(peaErrorFileIO));
}

void TestSyncOutputParser::summary_data()
{
    QTest::addColumn<quint32>("status");
    QTest::addColumn<quint64>("classes");
    QTest::addColumn<bool>("sourceGone");
    QTest::addColumn<bool>("destGone");
    QTest::addColumn<QString>("text");
    QTest::addColumn<quint32>("newStatus");

    QTest::newRow("not transferred alone")
        << quint32(wesErrors) << quint64(peaSomeFilesNotTransferred) << false << false
        << "Some files could not be transferred." << quint32(wesWarnings);
    QTest::newRow("not transferred and vanished")
        << quint32(wesErrors | wesWarnings) << quint64(peaSomeFilesNotTransferred | peaSomeFilesVanished)
        << false << false << "Some files could not be transferred." << quint32(wesWarnings);
    QTest::newRow("read-only destination stays a failure")
        << quint32(wesErrors) << quint64(peaMKDIR | peaMKSTEMP) << false << false
        << "Some files could not be transferred." << quint32(wesErrors);
    QTest::newRow("full disk") << quint32(wesErrors | wesFatalErrors)
                               << quint64(peaNoSpaceLeft | peaErrorFileIO) << false << false
                               << "Not enough space on Destination." << quint32(wesErrors | wesFatalErrors);
    QTest::newRow("vanished without errors")
        << quint32(wesWarnings) << quint64(peaSomeFilesVanished) << false << false
        << "Some files vanished before they could be transferred." << quint32(wesWarnings);
    QTest::newRow("source gone") << quint32(wesWarnings) << quint64(peaMKDIR) << true << false
                                 << "Source is unavailable." << quint32(wesWarnings | wesErrors);
    QTest::newRow("destination gone")
        << quint32(wesWarnings) << quint64(peaErrorFileIO) << false << true
        << "Destination is unavailable. Input/Output error." << quint32(wesWarnings | wesErrors);
    QTest::newRow("permission only: nothing") << quint32(wesWarnings) << quint64(peaPermissionDenied) << true
                                              << true << QString() << quint32(wesWarnings);
}

void TestSyncOutputParser::summary()
{
    QFETCH(quint32, status);
    QFETCH(quint64, classes);
    QFETCH(bool, sourceGone);
    QFETCH(bool, destGone);
    QFETCH(QString, text);
    QFETCH(quint32, newStatus);
    SyncOutputParser::SummaryFacts facts;
    facts.processStatus = status;
    facts.accumulator = classes;
    facts.sourceUnavailable = [=] { return sourceGone; };
    facts.destinationUnavailable = [=] { return destGone; };
    const SyncOutputParser::Summary s = SyncOutputParser::printErrorAccumulatorToLog(facts);
    QCOMPARE(s.processStatus, newStatus);
    QCOMPARE(s.messages.isEmpty() ? QString() : s.messages.first().first, text);
}

void TestSyncOutputParser::capturesAreClassifiedAsAWholeInAnyChunking_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<quint32>("status");
    QTest::addColumn<quint64>("classes");
    QTest::newRow("full disk") << "full" << quint32(wesErrors | wesFatalErrors)
                               << quint64(peaNoSpaceLeft | peaErrorFileIO);
    QTest::newRow("read-only destination")
        << "readonly" << quint32(wesErrors) << quint64(peaMKDIR | peaMKSTEMP);
    QTest::newRow("vanished") << "vanished" << quint32(wesWarnings) << quint64(peaSomeFilesVanished);
    QTest::newRow("user") << "user" << quint32(wesWarnings) << quint64(peaPermissionDenied);
    QTest::newRow("root") << "root" << quint32(wesClear) << quint64(peaClear);
}

void TestSyncOutputParser::capturesAreClassifiedAsAWholeInAnyChunking()
{
    QFETCH(QString, name);
    QFETCH(quint32, status);
    QFETCH(quint64, classes);
    const QByteArray out = fixture(name + ".out"), err = fixture(name + ".err");
    Recorder wholeSink;
    SyncOutputParser whole(&wholeSink);
    whole.prepare(1);
    const QByteArray expected = feedCapture(whole, out, err, [] { return qsizetype(1 << 30); });
    QCOMPARE(whole.processStatus(), status);
    QCOMPARE(whole.processErrorAccumulator(), classes);

    QRandomGenerator rng(4242);
    for (int round = 0; round < 30; ++round) {
        Recorder sink;
        SyncOutputParser parser(&sink);
        parser.prepare(1);
        const QByteArray got
            = feedCapture(parser, out, err, [&] { return qsizetype(rng.bounded(1, 20001)); });
        QCOMPARE(got, expected);
        QCOMPARE(sink.messages, wholeSink.messages);
    }
}

void TestSyncOutputParser::overlongAndNonUtf8LinesAreHandled()
{
    Recorder sink;
    SyncOutputParser parser(&sink);
    parser.prepare(1);
    QByteArray data = "5 files to consider\n";
    data += QByteArray(100 * 1024, 'x') + "\n"; // cut to the work buffer, one line
    data += "caf\xe9/\n"; // a folder whose name is not UTF-8
    data += "rsync: [sender] write error: Broken pipe (32)\r";
    parser.feed(data.constData(), size_t(data.size()), false);
    QCOMPARE(parser.processedLineCount(), 2.0);
    QCOMPARE(parser.dirCount(), 1.0);
    QCOMPARE(sink.optionOf("rsync: [sender] write error: Broken pipe (32)"), quint64(18306));
}

QTEST_GUILESS_MAIN(TestSyncOutputParser)
#include "tst_syncoutputparser.moc"
