#include "shell/LogSink.h"

#include "platform/Clock.h"
#include "platform/MainThread.h"
#include "projects/IProject.h"
#include "shell/ILogWindow.h"
#include "shell/IStatusLine.h"
#include "utilities/IMessageUtil.h"
#include "utilities/IRunLog.h"
#include "utilities/QVLog.h"

#include <mutex>

// What posted calls reach on the main thread; it outlives the sink while calls are pending.
struct LogSink::Targets
{
    std::mutex mutex;
    ILogWindow* window = nullptr;
    IStatusLine* statusLine = nullptr;
    IMessageUtil* notifier = nullptr;
    std::function<bool(QObject*)> isCurrentBackup;

    ILogWindow* currentWindow()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return window;
    }
    IStatusLine* currentStatusLine()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return statusLine;
    }
};

LogSink::LogSink()
    : m_targets(std::make_shared<Targets>())
{ }

LogSink::~LogSink()
{
    // Calls still queued for the main thread find no window any more.
    std::lock_guard<std::mutex> lock(m_targets->mutex);
    m_targets->window = nullptr;
    m_targets->statusLine = nullptr;
}

void LogSink::setLogWindow(ILogWindow* window)
{
    std::lock_guard<std::mutex> lock(m_targets->mutex);
    m_targets->window = window;
}

void LogSink::setStatusLine(IStatusLine* statusLine)
{
    std::lock_guard<std::mutex> lock(m_targets->mutex);
    m_targets->statusLine = statusLine;
}

void LogSink::setNotifier(IMessageUtil* notifier)
{
    std::lock_guard<std::mutex> lock(m_targets->mutex);
    m_targets->notifier = notifier;
}

void LogSink::setCurrentBackupTest(std::function<bool(QObject*)> isCurrent)
{
    std::lock_guard<std::mutex> lock(m_targets->mutex);
    m_targets->isCurrentBackup = std::move(isCurrent);
}

void LogSink::notify(const QString& title, const QString& text)
{
    IMessageUtil* notifier = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_targets->mutex);
        notifier = m_targets->notifier;
    }
    (notifier ? *notifier : IMessageUtil::shared()).showLocalNotificationTitle(title, text);
}

void LogSink::appendToWinLog(const QString& text)
{
    if (isMainThread()) {
        if (ILogWindow* window = m_targets->currentWindow())
            window->appendLog(text);
        return;
    }
    std::shared_ptr<Targets> targets = m_targets;
    runOnMain([targets, text] {
        if (ILogWindow* window = targets->currentWindow())
            window->appendLog(text);
    });
}

void LogSink::setStringToStatus(const QString& text)
{
    if (!isMainThread())
        return;
    if (IStatusLine* status = m_targets->currentStatusLine())
        status->setStatusText(LogLineFormatter::statusText(text));
}

void LogSink::processMessage(const LogText& text, quint64 options, QObject* sender)
{
    const IProject* project = dynamic_cast<const IProject*>(sender);
    const SinkLines lines = LogLineFormatter::formatMessage(text, options, project != nullptr,
        project ? project->utf8Name() : QByteArray(), project ? project->utf8StringCode() : QByteArray(),
        Clock::current().now());
    if (!lines.taken)
        return;
    if (lines.notify)
        notify(lines.notificationTitle, lines.notificationText);
    if (lines.toWindow)
        appendToWinLog(QString::fromUtf8(lines.line));
    // Every formatted line reaches the run log; a repeat of the last one is dropped there.
    if (lines.blankLineFirst)
        setTextToFullLog(QByteArray("\n"));
    setTextToFullLog(lines.line);
}

void LogSink::sendTextInfo(const QString& text, qint32 type, quint8 target, QObject* sender)
{
    // Archive projects are the IBackup kind of project.
    const bool isArchive = sender && sender->inherits("IBackup");
    QString archiveName;
    bool isCurrent = false;
    if (isArchive) {
        if (const IProject* project = dynamic_cast<const IProject*>(sender))
            archiveName = project->name();
        std::function<bool(QObject*)> test;
        {
            std::lock_guard<std::mutex> lock(m_targets->mutex);
            test = m_targets->isCurrentBackup;
        }
        isCurrent = test && test(sender);
    }
    const RouterLines lines = LogLineFormatter::formatTextInfo(
        text, type, target, isArchive, archiveName, isCurrent, Clock::current().now());
    if (lines.notify)
        notify(lines.notificationTitle, lines.notificationText);
    if (lines.setsStatus) {
        // A status text from another thread is posted, never dropped.
        if (isMainThread()) {
            setStringToStatus(lines.status);
        } else {
            std::shared_ptr<Targets> targets = m_targets;
            const QString status = lines.status;
            runOnMain([targets, status] {
                if (IStatusLine* line = targets->currentStatusLine())
                    line->setStatusText(LogLineFormatter::statusText(status));
            });
        }
    }
    if (lines.toWindow)
        appendToWinLog(lines.windowLine);
    if (lines.toRunLog)
        IRunLog::shared().traceToLog(lines.runLogLine);
}
