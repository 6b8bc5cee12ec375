// kv-test: labels=unit
#include "KvTest.h"
#include "RecordingShellServices.h"
#include "WorkspaceFixture.h"
#include "platform/Clock.h"
#include "platform/PlistBridge.h"
#include "shell/LogSink.h"
#include "utilities/IPathUtil.h"
#include "utilities/IRunLog.h"
#include "utilities/MainPreferences.h"
#include "utilities/QVLog.h"
#include "utilities/RunLog.h"

#include <QDir>
#include <QtTest>
#include <thread>
#include <vector>

namespace {

class FixedClock : public Clock
{
public:
    QDateTime at = QDateTime(QDate(2026, 5, 4), QTime(3, 2, 1));
    QDateTime now() const override { return at; }
    qint64 monotonicMs() const override { return 0; }
};

// Installs a fixed clock for the life of the scope.
struct ClockScope
{
    FixedClock clock;
    ClockScope() { Clock::setCurrent(&clock); }
    ~ClockScope() { Clock::setCurrent(nullptr); }
};

const QByteArray kHeader = "2026-05-04 03:02:01 Start log\n\n";

// A shell whose log sink is the real one.
class SinkShell : public HeadlessShellServices
{
public:
    LogSink sink;
    void processMessage(const LogText& text, quint64 options, QObject* sender) override
    {
        sink.processMessage(text, options, sender);
    }
};

} // namespace

class TestRunLog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // "log_<date>.txt" starts with the date and "Start log" and a blank line; every write is
    // in the file as soon as the call returns.
    void writesThroughEachCall()
    {
        WorkspaceFixture home;
        ClockScope clock;
        QVERIFY(MainPreferences::shared().checkCreateAppSupportPath());
        RunLog& log = RunLog::shared();
        log.traceToLog("first line\n");
        const QString path = home.workspace() + QStringLiteral("/Logs/log_2026-05-04_03-02-01.txt");
        QCOMPARE(IPathUtil::logFileName(), path);
        QCOMPARE(readAll(path), kHeader + "first line\n");
        log.traceToLog("second\n");
        QCOMPARE(readAll(path), kHeader + "first line\nsecond\n");
        log.traceToLog(QByteArray()); // null does nothing
        QCOMPARE(readAll(path), kHeader + "first line\nsecond\n");

        // Closed and opened again within the same second: the file grows, nothing is lost.
        log.closeLog();
        QVERIFY(IPathUtil::logFileName().isNull());
        log.traceToLog("third\n");
        QCOMPARE(readAll(path), kHeader + "first line\nsecond\n" + kHeader + "third\n");

        // The common functions reach the same log once it is installed.
        RunLog::install();
        IRunLog::shared().traceToLog("fourth\n");
        IRunLog::setShared(nullptr);
        QVERIFY(readAll(path).endsWith("third\nfourth\n"));
    }

    void collectLogsOffWritesNothing()
    {
        WorkspaceFixture home;
        QVERIFY(MainPreferences::shared().checkCreateAppSupportPath());
        MainPreferences::shared().setCollectLogs(false);
        IPathUtil::setLogFileName(QStringLiteral("/stale/log"));
        QVERIFY(!RunLog::shared().openLog());
        RunLog::shared().traceToLog("nothing\n");
        QVERIFY(IPathUtil::logFileName().isNull());
        QVERIFY(QDir(home.workspace() + QStringLiteral("/Logs")).isEmpty());
    }

    // "LogFilesFolder" counts only when it names an existing folder.
    void logsFolderPreference()
    {
        WorkspaceFixture home;
        QVERIFY(MainPreferences::shared().checkCreateAppSupportPath());
        const QString other = home.home() + QStringLiteral("/other logs");
        QVERIFY(
            PlistBridge::writeFileAtomically(home.prefsFile(), QVariantMap { { "LogFilesFolder", other } }));
        QCOMPARE(RunLog::shared().getLogsPath(), home.workspace() + QStringLiteral("/Logs"));
        QVERIFY(QDir().mkpath(other));
        QCOMPARE(RunLog::shared().getLogsPath(), other);
        QCOMPARE(IPathUtil::getLogFolderPath(), other);
    }

    // QVUtilLog lines go through the log sink into Logs/log_<date>.txt, run tag and all, with
    // an identical consecutive line dropped: A,A is written once, A,B,A three times, also for
    // lines far longer than any fixed buffer.
    void utilLogLinesReachTheRunLog_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QStringList>("written");
        const QString a = QStringLiteral("A"), b = QStringLiteral("B");
        const QString longA = QString(5000, QLatin1Char('a'));
        const QString longA2 = QString(4999, QLatin1Char('a')) + QLatin1Char('b'); // differs at the end
        QTest::newRow("A,A") << QStringList { a, a } << QStringList { a };
        QTest::newRow("A,B,A") << QStringList { a, b, a } << QStringList { a, b, a };
        QTest::newRow("long A,A") << QStringList { longA, longA } << QStringList { longA };
        QTest::newRow("long A,B,A") << QStringList { longA, b, longA } << QStringList { longA, b, longA };
        QTest::newRow("long, same first 4999")
            << QStringList { longA2, longA } << QStringList { longA2, longA };
    }

    void utilLogLinesReachTheRunLog()
    {
        QFETCH(QStringList, lines);
        QFETCH(QStringList, written);
        WorkspaceFixture home;
        ClockScope clock;
        SinkShell shell;
        ShellServicesScope scope(&shell);
        RunLog::install();
        resetLastFullLogText();
        QVERIFY(MainPreferences::shared().checkCreateAppSupportPath());
        const QString tag = QVProcessingCodeString();
        for (const QString& line : lines)
            QVUtilLog(tag + line);
        IRunLog::setShared(nullptr);
        QByteArray expected = kHeader;
        for (const QString& line : written)
            expected += (tag + line).toUtf8() + '\n';
        QCOMPARE(readAll(RunLog::shared().logPath()), expected);
        RunLog::shared().closeLog();
    }

    // A logs folder that cannot hold files: no log, no crash, the run goes on, and the user is
    // told once through the log front ends.
    void unusableLogsFolder()
    {
        WorkspaceFixture home;
        RecordingShellServices shell;
        ShellServicesScope scope(&shell);
        QVERIFY(MainPreferences::shared().checkCreateAppSupportPath());
        const QString logs = home.workspace() + QStringLiteral("/Logs");
        QVERIFY(QDir(logs).removeRecursively());
        QVERIFY(writeFile(logs, "a file where the folder should be"));
        QVERIFY(!RunLog::shared().openLog());
        RunLog::shared().traceToLog("goes nowhere\n");
        RunLog::shared().traceToLog("nor this\n");
        QVERIFY(IPathUtil::logFileName().isNull());
        QCOMPARE(shell.messages().size(), 1);
        QVERIFY(shell.messages().first().text.startsWith("Can not create log file  \""));
        QCOMPARE(shell.messages().first().options, LogWord::UtilLog);
        QCOMPARE(readAll(logs), QByteArray("a file where the folder should be"));
    }

    // Pruning keeps the newest "KeepLogFilesCount" logs, the current one included, and leaves
    // other files alone.
    void pruningKeepsTheNewest()
    {
        WorkspaceFixture home;
        ClockScope clock;
        QVERIFY(MainPreferences::shared().checkCreateAppSupportPath());
        const QString logs = home.workspace() + QStringLiteral("/Logs");
        const QStringList dated = {
            QStringLiteral("log_2026-01-01_10-00-00.txt"),
            QStringLiteral("log_2026-01-02_10-00-00.tgz"),
            QStringLiteral("log_2026-01-03_10-00-00.txt"),
            QStringLiteral("log_2026-01-04_10-00-00.txt"),
            QStringLiteral("log_2026-01-05_10-00-00.tgz"),
            QStringLiteral("log_2026-01-06_10-00-00.txt"),
        };
        for (const QString& name : dated)
            QVERIFY(writeFile(logs + QLatin1Char('/') + name, "old"));
        for (const char* other : { "SessionLog.txt", "log_notes.md", "readme.txt" })
            QVERIFY(writeFile(logs + QLatin1Char('/') + QLatin1String(other), "keep"));
        RunLog::shared().traceToLog("current\n"); // log_2026-05-04_03-02-01.txt

        QCOMPARE(RunLog::removeExcessLogging(3), 4);
        QStringList left = QDir(logs).entryList(QDir::Files, QDir::Name);
        QCOMPARE(left,
            QStringList({ QStringLiteral("SessionLog.txt"), QStringLiteral("log_2026-01-05_10-00-00.tgz"),
                QStringLiteral("log_2026-01-06_10-00-00.txt"), QStringLiteral("log_2026-05-04_03-02-01.txt"),
                QStringLiteral("log_notes.md"), QStringLiteral("readme.txt") }));
        QCOMPARE(RunLog::removeExcessLogging(0), 0); // 0 keeps all

        // A link and a folder with the newest log names are neither counted nor removed.
        const QString elsewhere = home.home() + QStringLiteral("/elsewhere.txt");
        QVERIFY(writeFile(elsewhere, "not a log"));
        QVERIFY(QFile::link(elsewhere, logs + QStringLiteral("/log_2026-04-01_00-00-00.txt")));
        QVERIFY(QDir().mkpath(logs + QStringLiteral("/log_2026-04-02_00-00-00.txt")));
        QCOMPARE(RunLog::removeExcessLogging(2), 1); // the .tgz goes, the .txt stays
        QVERIFY(QFileInfo(logs + QStringLiteral("/log_2026-01-06_10-00-00.txt")).isFile());
        QVERIFY(!QFileInfo::exists(logs + QStringLiteral("/log_2026-01-05_10-00-00.tgz")));
        QCOMPARE(readAll(elsewhere), QByteArray("not a log"));
        QVERIFY(QFileInfo(logs + QStringLiteral("/log_2026-04-01_00-00-00.txt")).isSymLink());
        QVERIFY(QFileInfo(logs + QStringLiteral("/log_2026-04-02_00-00-00.txt")).isDir());
        RunLog::shared().closeLog();
    }

    // Many threads logging at once: every line arrives whole.
    void concurrentWritersLeaveWholeLines()
    {
        WorkspaceFixture home;
        QVERIFY(MainPreferences::shared().checkCreateAppSupportPath());
        constexpr int threads = 8, perThread = 400;
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back([t] {
                for (int i = 0; i < perThread; ++i) {
                    const QByteArray line = "thread " + QByteArray::number(t) + " line "
                        + QByteArray::number(i) + ' ' + QByteArray(100 + i % 300, char('a' + t)) + '\n';
                    RunLog::shared().traceToLog(line);
                }
            });
        }
        for (auto& w : workers)
            w.join();
        const QList<QByteArray> lines = readAll(RunLog::shared().logPath()).split('\n');
        int counted = 0;
        for (const QByteArray& line : lines) {
            if (!line.startsWith("thread "))
                continue;
            const QList<QByteArray> words = line.split(' ');
            QCOMPARE(words.size(), 5);
            const int t = words.at(1).toInt();
            const int i = words.at(3).toInt();
            QCOMPARE(words.at(4), QByteArray(100 + i % 300, char('a' + t)));
            ++counted;
        }
        QCOMPARE(counted, threads * perThread);
        RunLog::shared().closeLog();
    }
};

QTEST_GUILESS_MAIN(TestRunLog)
#include "tst_runlog.moc"
