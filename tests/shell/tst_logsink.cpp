// kv-test: labels=unit env=TZ=Europe/Berlin
#include "FileRunLog.h"
#include "KvTest.h"
#include "RecordingRunLog.h"
#include "RecordingShellServices.h"
#include "ScriptedClock.h"
#include "platform/MainThread.h"
#include "platform/Subprocess.h"
#include "projects/IProject.h"
#include "shell/ILogWindow.h"
#include "shell/IStatusLine.h"
#include "shell/LogLineFormatter.h"
#include "shell/LogSink.h"
#include "utilities/IMessageUtil.h"
#include "utilities/IShellServices.h"
#include "utilities/IUTF8Tool.h"
#include "utilities/LogOptions.h"
#include "utilities/QVLog.h"

#include <QFile>
#include <QMutex>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <future>
#include <thread>
#include <vector>

namespace {

class RecordingWindow : public ILogWindow
{
public:
    QStringList lines;
    int offMainThread = 0;
    void appendLog(const QString& text) override
    {
        if (!isMainThread())
            ++offMainThread;
        lines.append(text);
    }
};

class RecordingStatus : public IStatusLine
{
public:
    QStringList texts;
    void setStatusText(const QString& text) override { texts.append(text); }
};

class RecordingNotifier : public IMessageUtil
{
public:
    QList<QPair<QString, QString>> shown;
    void showLocalNotificationTitle(const QString& title, const QString& text) override
    {
        shown.append({ title, text });
    }
};

class TestProject : public IProject
{
public:
    explicit TestProject(const QString& name, IShellServices* hub = nullptr)
        : m_name(name)
        , m_tag(QVProcessingCodeString().toUtf8())
        , m_hub(hub)
    { }
    QString name() const override { return m_name; }
    QByteArray utf8StringCode() const override { return m_tag; }

    // The routing every project kind applies before the hub's sink: rsync's progress counters
    // stay out of the logs; only window and run-log texts go on.
    void processMessage(const LogText& text, quint64 options, QObject*) override
    {
        const QByteArray bytes = text.toUtf8();
        if (bytes.contains("to-chk=") || bytes.contains("to-check="))
            return;
        if (m_hub && (options & (LogOption::Window | LogOption::RunLog)))
            m_hub->processMessage(text, options, this);
    }

private:
    QString m_name;
    QByteArray m_tag;
    IShellServices* m_hub;
};

// The hub as far as the log sink goes.
class SinkShell : public HeadlessShellServices
{
public:
    explicit SinkShell(LogSink& sink)
        : m_sink(sink)
    { }
    void processMessage(const LogText& text, quint64 options, QObject* sender) override
    {
        m_sink.processMessage(text, options, sender);
    }

private:
    LogSink& m_sink;
};

const QDateTime kAt(QDate(2024, 9, 3), QTime(11, 4, 56), Qt::LocalTime);

QByteArrayList fileLines(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QByteArrayList lines = f.readAll().split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace

class TestLogSink : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { resetLastFullLogText(); }

    void sinkLines_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("utf8");
        QTest::addColumn<quint64>("options");
        QTest::addColumn<bool>("project");
        QTest::addColumn<QByteArray>("line"); // null: nothing happens
        QTest::addColumn<bool>("window");
        QTest::addColumn<bool>("blankFirst");
        QTest::addColumn<QString>("title"); // null: no notification

        using namespace LogOption;
        const QString none;
        QTest::newRow("one full stop") << QByteArray("a.") << false << LogWord::UtilLog << false
                                       << QByteArray("a\n") << false << false << none;
        QTest::newRow("two full stops") << QByteArray("a..") << false << LogWord::UtilLog << false
                                        << QByteArray("a..\n") << false << false << none;
        QTest::newRow("three full stops") << QByteArray("a...") << false << LogWord::UtilLog << false
                                          << QByteArray("a...\n") << false << false << none;
        QTest::newRow("no text bit") << QByteArray("a") << false << quint64(Window | RunLog | Time | Notify)
                                     << true << QByteArray() << false << false << none;
        QTest::newRow("129 with a project") << QByteArray("a") << false << LogWord::UtilLog << true
                                            << QByteArray("a\n") << false << false << none;
        QTest::newRow("window asks for the name") << QByteArray("a") << false << LogWord::WindowOut << true
                                                  << QByteArray("\"P\" a\n") << true << false << none;
        QTest::newRow("name without a project")
            << QByteArray("a") << false << quint64(String | ProjectName | RunTag) << false
            << QByteArray("a\n") << false << false << none;
        QTest::newRow("1985") << QByteArray("copied") << false << LogWord::BothPrefixed << true
                              << QByteArray("2024-09-03 11:04:56 \"P\" ( 7 ) copied\n") << true << false
                              << none;
        QTest::newRow("1922 UTF-8") << QByteArray("caf\xc3\xa9.") << true << LogWord::RunLogPrefixedUtf8
                                    << true << QByteArray("2024-09-03 11:04:56 \"P\" ( 7 ) caf\xc3\xa9\n")
                                    << false << false << none;
        QTest::newRow("banner") << QByteArray("Start") << false
                                << quint64(String | Banner | Window | Time | Tab) << true
                                << QByteArray(">>>>>>>>>>>   Start\n") << true << false << none;
        QTest::newRow("tab") << QByteArray("a") << false << quint64(String | Tab | Time) << false
                             << QByteArray("\t2024-09-03 11:04:56 a\n") << false << false << none;
        QTest::newRow("blank line first")
            << QByteArray("a") << false << quint64(String | RunLog | BlankLineFirst) << false
            << QByteArray("a\n") << false << true << none;
        QTest::newRow("51041 from a project")
            << QByteArray("Cloning failed.") << false << LogWord::StatusWindowNotify << true
            << QByteArray("2024-09-03 11:04:56 \"P\" ( 7 ) Cloning failed\n") << true << false
            << "Project \"P\"";
        QTest::newRow("notification without a project")
            << QByteArray("x") << false << quint64(String | Notify) << false << QByteArray("x\n") << false
            << false << "New message";
    }
    void sinkLines()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, utf8);
        QFETCH(quint64, options);
        QFETCH(bool, project);
        QFETCH(QByteArray, line);
        QFETCH(QString, title);
        const LogText logText = utf8 ? LogText(text) : LogText(QString::fromUtf8(text));
        const SinkLines out = LogLineFormatter::formatMessage(logText, options, project, "P", "( 7 ) ", kAt);
        QCOMPARE(out.taken, !line.isNull());
        if (line.isNull())
            return;
        QCOMPARE(out.line, line);
        QTEST(out.toWindow, "window");
        QTEST(out.blankLineFirst, "blankFirst");
        QCOMPARE(out.notify, !title.isNull());
        if (out.notify) {
            QCOMPARE(out.notificationTitle, title);
            const QByteArray shown = text.endsWith('.') ? text.chopped(1) : text;
            QCOMPARE(out.notificationText.toUtf8(), shown);
        }
    }

    void nullTextIsNothing()
    {
        QVERIFY(!LogLineFormatter::formatMessage(LogText(), LogWord::BothPrefixed, true, "P", "", kAt).taken);
        QVERIFY(!LogLineFormatter::formatMessage(
            LogText(static_cast<const char*>(nullptr)), LogWord::Utf8RunLog, false, "", "", kAt)
                     .taken);
    }

    void routerLines_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("target");
        QTest::addColumn<bool>("archive");
        QTest::addColumn<bool>("current");
        QTest::addColumn<QString>("status"); // null: untouched
        QTest::addColumn<QString>("window"); // null: nothing
        QTest::addColumn<QByteArray>("runLog"); // null: nothing
        QTest::addColumn<QString>("title"); // null: no notification

        const QString none;
        const QByteArray noLine;
        QTest::newRow("type 0") << "x" << 0 << int(tpLog) << false << false << none << "\n"
                                << QByteArray("\n") << none;
        QTest::newRow("type 0 with status") << "x" << 0 << int(tpStatus | tpLog) << false << false << "x"
                                            << " -- x\n"
                                            << noLine << none;
        QTest::newRow("type 5") << "x" << 5 << int(tpStatus | tpLog | tpFullLog) << false << false << "x"
                                << " -- x\n"
                                << noLine << none;
        QTest::newRow("type 1 log") << "x" << 1 << int(tpLog) << false << false << none << " -- x\n"
                                    << QByteArray("x\n") << none;
        QTest::newRow("time and name") << "x" << 1 << int(tpLog | tpTime) << true << false << none
                                       << " 3 Sept 2024, 11:04:56  \"A\"  -- x\n"
                                       << QByteArray("x\n") << none;
        QTest::newRow("space") << "x\n"
                               << 3 << int(tpLog | tpSpace | tpTime) << true << false << none << "x\n"
                               << QByteArray("x\n") << none;
        QTest::newRow("target 256 is target 0")
            << "x" << 1 << int(tpShowNow) << true << true << none << none << QByteArray("x\n") << none;
        QTest::newRow("message from an archive") << "done" << 1 << int(tpMessage) << true << false << none
                                                 << none << QByteArray("done\n") << "Project \"A\"";
        QTest::newRow("message from elsewhere") << "done" << 1 << int(tpMessage) << false << false << none
                                                << none << QByteArray("done\n") << "New message";
        QTest::newRow("status of another archive")
            << "x" << 1 << int(tpStatus) << true << false << none << none << QByteArray("x\n") << none;
        QTest::newRow("status of the current archive")
            << "x" << 1 << int(tpStatus) << true << true << "x" << none << QByteArray("x\n") << none;
        QTest::newRow("empty text") << "" << 1 << int(tpLog | tpStatus) << false << false << ""
                                    << " -- " << noLine << none;
    }
    void routerLines()
    {
        QFETCH(QString, text);
        QFETCH(int, type);
        QFETCH(int, target);
        QFETCH(bool, archive);
        QFETCH(bool, current);
        QFETCH(QString, status);
        QFETCH(QString, window);
        QFETCH(QByteArray, runLog);
        QFETCH(QString, title);
        const RouterLines out = LogLineFormatter::formatTextInfo(
            text, type, quint8(target), archive, archive ? QStringLiteral("A") : QString(), current, kAt);
        QCOMPARE(out.setsStatus, !status.isNull());
        if (out.setsStatus)
            QCOMPARE(out.status, status);
        QCOMPARE(out.toWindow, !window.isNull());
        if (out.toWindow)
            QCOMPARE(out.windowLine, window);
        QCOMPARE(out.toRunLog, !runLog.isNull());
        if (out.toRunLog)
            QCOMPARE(out.runLogLine, runLog);
        QCOMPARE(out.notify, !title.isNull());
        if (out.notify)
            QCOMPARE(out.notificationTitle, title);
    }

    void statusText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("ellipsis") << "x..."
                                  << "x...";
        QTest::newRow("one") << "x."
                             << "x";
        QTest::newRow("two") << "x.."
                             << "x.";
        QTest::newRow("none") << QString() << "";
    }
    void statusText()
    {
        QFETCH(QString, text);
        QTEST(LogLineFormatter::statusText(text), "shown");
    }

    // The sink and the router over a recorded window, status line, notifier and run log.
    void sinkRoutes()
    {
        ScriptedClock clock(kAt);
        RecordingRunLog runLog;
        RunLogScope scope(&runLog);
        RecordingWindow window;
        RecordingStatus status;
        RecordingNotifier notifier;
        LogSink sink;
        sink.setLogWindow(&window);
        sink.setStatusLine(&status);
        sink.setNotifier(&notifier);
        TestProject project(QStringLiteral("P"));
        const QByteArray tag = project.utf8StringCode();

        // Equal sink lines are written once; equal router lines every time.
        sink.processMessage(QStringLiteral("same"), LogWord::UtilLog, nullptr);
        sink.processMessage(QStringLiteral("same."), LogWord::UtilLog, nullptr);
        sink.sendTextInfo(QStringLiteral("routed"), 1, tpFullLog, nullptr);
        sink.sendTextInfo(QStringLiteral("routed"), 1, tpFullLog, nullptr);
        // Window lines also reach the run log; 0x10000 puts an empty line first.
        sink.processMessage(
            QStringLiteral("shown"), LogWord::WindowOut | LogOption::BlankLineFirst, &project);
        sink.processMessage(QStringLiteral("Cloning failed."), LogWord::StatusWindowNotify, &project);
        sink.sendTextInfo(QStringLiteral("Ready."), 1, tpStatus, nullptr);
        QCOMPARE(runLog.texts(),
            QByteArrayList({ "same\n", "routed\n", "routed\n", "\n", "\"P\" shown\n",
                "2024-09-03 11:04:56 \"P\" " + tag + "Cloning failed\n", "Ready.\n" }));
        QCOMPARE(window.lines,
            QStringList({ "\"P\" shown\n",
                "2024-09-03 11:04:56 \"P\" " + QString::fromUtf8(tag) + "Cloning failed\n" }));
        QCOMPARE(notifier.shown.size(), 1);
        QCOMPARE(notifier.shown.first().first, QStringLiteral("Project \"P\""));
        QCOMPARE(notifier.shown.first().second, QStringLiteral("Cloning failed"));
        QCOMPARE(status.texts, QStringList({ "Ready" }));

        // A status text from another thread is posted to the main thread, not dropped.
        std::thread([&sink] {
            sink.sendTextInfo(QStringLiteral("Copying..."), 1, tpStatus, nullptr);
        }).join();
        QTRY_COMPARE_WITH_TIMEOUT(status.texts.size(), 2, 10000);
        QCOMPARE(status.texts.last(), QStringLiteral("Copying..."));
    }

    // Many threads through the sink: every line whole in the run log, none lost, and the window
    // gets every line of each thread in order.
    void threadsLeaveNoTornLine()
    {
        QTemporaryDir dir;
        FileRunLog runLog(dir.filePath(QStringLiteral("log_test.txt")), true);
        QVERIFY(runLog.isOpen());
        RunLogScope scope(&runLog);
        RecordingWindow window;
        LogSink sink;
        sink.setLogWindow(&window);
        TestProject project(QStringLiteral("P"));
        constexpr int kThreads = 8;
        constexpr int kLines = 10000;
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&sink, &project, t] {
                for (int i = 0; i < kLines; ++i)
                    sink.processMessage(
                        QStringLiteral("thread %1 line %2 %3").arg(t).arg(i).arg(QString(40, u'x')),
                        LogWord::BothPrefixed, &project);
            });
        }
        for (auto& th : threads)
            th.join();

        const QRegularExpression shape(
            QStringLiteral(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d "P" \( \d+ \) thread (\d) line (\d+) x{40}$)"));
        auto checkOrder = [&](const QStringList& lines) {
            std::vector<int> next(kThreads, 0);
            for (const QString& l : lines) {
                const auto m = shape.match(l);
                QVERIFY2(m.hasMatch(), qPrintable(l));
                const int t = m.captured(1).toInt();
                QCOMPARE(m.captured(2).toInt(), next[t]);
                ++next[t];
            }
            for (int t = 0; t < kThreads; ++t)
                QCOMPARE(next[t], kLines);
        };
        QStringList fromFile;
        for (const QByteArray& l : fileLines(runLog.path()))
            fromFile.append(QString::fromUtf8(l));
        QCOMPARE(fromFile.size(), kThreads * kLines);
        checkOrder(fromFile);

        QTRY_COMPARE_WITH_TIMEOUT(window.lines.size(), kThreads * kLines, 60000);
        QCOMPARE(window.offMainThread, 0);
        QStringList shown;
        for (const QString& l : window.lines)
            shown.append(l.chopped(1));
        checkOrder(shown);
    }

    // The main thread waits for a reader that logs window lines: the sink must not wait for the
    // main thread in return.
    void stopWhileReaderLogs()
    {
        RecordingWindow window;
        LogSink sink;
        sink.setLogWindow(&window);
        TestProject project(QStringLiteral("P"));
        auto reader = std::async(std::launch::async, [&] {
            for (int i = 0; i < 2000; ++i)
                sink.processMessage(QStringLiteral("line %1").arg(i), LogWord::WindowPrefixed, &project);
        });
        QVERIFY2(reader.wait_for(std::chrono::seconds(20)) == std::future_status::ready,
            "the reader blocked on the main thread");
        QTRY_COMPARE_WITH_TIMEOUT(window.lines.size(), 2000, 20000);
    }

    void detachedWindowDropsPostedLines()
    {
        RecordingWindow window;
        {
            LogSink sink;
            sink.setLogWindow(&window);
            std::thread([&sink] {
                sink.processMessage(QStringLiteral("late"), LogWord::WindowOut, nullptr);
            }).join();
        }
        QCoreApplication::processEvents();
        QVERIFY(window.lines.isEmpty());
    }

    // A real rsync run, read line by line on the reader thread and routed through a project's
    // routing with 1985: the run log and the window carry the same lines, and no progress
    // counter reaches either.
    void rsyncEndToEnd()
    {
        QTemporaryDir dir;
        const QString src = dir.filePath(QStringLiteral("src"));
        QVERIFY(QDir().mkpath(src + QStringLiteral("/sub")));
        for (const char* name : { "a.txt", "b file.txt", "sub/c.txt" }) {
            QFile f(src + u'/' + QString::fromUtf8(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(200000, 'k'));
        }
        const QString logPath = dir.filePath(QStringLiteral("log_2024-09-03_11-04-56.txt"));
        FileRunLog runLog(logPath);
        RunLogScope scope(&runLog);
        RecordingWindow window;
        LogSink sink;
        sink.setLogWindow(&window);
        SinkShell hub(sink);
        ShellServicesScope hubScope(&hub);
        TestProject project(QStringLiteral("P"), &IShellServices::shared());

        IUTF8Tool scanner;
        std::vector<char> work(IUTF8Tool::kWorkBufferSize);
        scanner.setWorkBuffer(work.data(), qint64(work.size()));
        QMutex seenMutex;
        int progressLines = 0;
        auto route = [&] {
            const QByteArray line(scanner.workBuffer());
            if (line.contains("to-chk=")) {
                QMutexLocker lock(&seenMutex);
                ++progressLines;
            }
            project.processMessage(
                line, (LogWord::BothPrefixed & ~LogOption::String) | LogOption::Utf8, &project);
        };
        Subprocess rsync;
        rsync.setStdoutHandler([&](const char* data, size_t size) {
            scanner.setSrcBuffer(data, qint64(size));
            while (scanner.getNextLine())
                route();
        });
        rsync.setEndOfStreamHandler([&] {
            if (scanner.finish())
                route();
        });
        Subprocess::Options o;
        o.program = QStringLiteral("rsync");
        o.arguments = { QStringLiteral("-a"), QStringLiteral("--progress"), src + u'/',
            dir.filePath(QStringLiteral("dst")) + u'/' };
        QString error;
        QVERIFY2(rsync.start(o, &error), qPrintable(error));
        QVERIFY(rsync.waitForFinished(60000));
        QCOMPARE(rsync.exitCode(), 0);
        QVERIFY(progressLines >= 3);

        const QByteArrayList logged = fileLines(logPath);
        QVERIFY(logged.size() >= 4);
        QTRY_COMPARE_WITH_TIMEOUT(window.lines.size(), logged.size(), 20000);
        const QRegularExpression shape(
            QStringLiteral(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d "P" \( \d+ \) .+$)"));
        bool sawFile = false;
        for (qsizetype i = 0; i < logged.size(); ++i) {
            const QString line = QString::fromUtf8(logged[i]);
            QCOMPARE(window.lines[i], line + u'\n');
            QVERIFY2(shape.match(line).hasMatch(), qPrintable(line));
            QVERIFY(!line.contains(QLatin1String("to-chk=")));
            sawFile = sawFile || line.endsWith(QLatin1String(") b file.txt"));
        }
        QVERIFY(sawFile);
    }
};

QTEST_GUILESS_MAIN(TestLogSink)
#include "tst_logsink.moc"
