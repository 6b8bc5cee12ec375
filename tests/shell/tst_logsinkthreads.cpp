// kv-test: labels=unit env=TZ=Europe/Berlin
// kv-test: tsan=src/shell/LogLineFormatter.cpp,src/utilities/ICommonTimeStamp.cpp
// kv-test: tsan=src/utilities/FullLogText.cpp,src/utilities/IRunLog.cpp,tests/support/FileRunLog.cpp
// The sink's formatter and its run-log hand-over from many threads at once; also built under
// ThreadSanitizer.
#include "FileRunLog.h"
#include "shell/LogLineFormatter.h"
#include "utilities/LogOptions.h"
#include "utilities/QVLog.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <thread>
#include <vector>

class TestLogSinkThreads : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void eightThreadsNoTornLine()
    {
        QTemporaryDir dir;
        FileRunLog runLog(dir.filePath(QStringLiteral("log_test.txt")), true);
        QVERIFY(runLog.isOpen());
        IRunLog::setShared(&runLog);
        constexpr int kThreads = 8;
        constexpr int kLines = 10000;
        const QDateTime at(QDate(2024, 9, 3), QTime(11, 4, 56), Qt::LocalTime);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([t, at] {
                const QByteArray tag = "( " + QByteArray::number(t + 1) + " ) ";
                for (int i = 0; i < kLines; ++i) {
                    const QByteArray text
                        = "thread " + QByteArray::number(t) + " line " + QByteArray::number(i);
                    const SinkLines lines = LogLineFormatter::formatMessage(
                        text, LogWord::RunLogPrefixedUtf8, true, "P", tag, at);
                    setTextToFullLog(lines.line);
                }
            });
        }
        for (auto& th : threads)
            th.join();
        IRunLog::setShared(nullptr);

        QFile f(runLog.path());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QByteArrayList lines = f.readAll().split('\n');
        QCOMPARE(lines.takeLast(), QByteArray());
        QCOMPARE(lines.size(), kThreads * kLines);
        const QRegularExpression shape(
            QStringLiteral(R"(^2024-09-03 11:04:56 "P" \( (\d) \) thread (\d) line (\d+)$)"));
        std::vector<int> next(kThreads, 0);
        for (const QByteArray& line : lines) {
            const auto m = shape.match(QString::fromUtf8(line));
            QVERIFY2(m.hasMatch(), line.constData());
            const int t = m.captured(2).toInt();
            QCOMPARE(m.captured(1).toInt(), t + 1);
            QCOMPARE(m.captured(3).toInt(), next[t]);
            ++next[t];
        }
    }
};

QTEST_GUILESS_MAIN(TestLogSinkThreads)
#include "tst_logsinkthreads.moc"
