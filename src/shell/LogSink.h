#pragma once

#include "shell/LogLineFormatter.h"
#include "utilities/LogText.h"

#include <QString>
#include <functional>
#include <memory>

class ILogWindow;
class IMessageUtil;
class IStatusLine;
class QObject;

// The hub's log sink and text router. Every text of the application ends here: formatted into
// a line, it goes to the log window, the run log and user notifications as the option bits say.
//
// processMessage and sendTextInfo may be called from any thread. Lines are built in locals; the
// run log's duplicate check and write share one lock (setTextToFullLog); window lines and
// status texts from other threads are posted to the main thread without waiting, in order, so
// a main thread that waits for a reader thread never blocks it.
class LogSink
{
public:
    LogSink();
    ~LogSink();
    LogSink(const LogSink&) = delete;
    LogSink& operator=(const LogSink&) = delete;

    // The window side; set on the main thread. nullptr detaches (posted lines are then dropped).
    void setLogWindow(ILogWindow* window);
    void setStatusLine(IStatusLine* statusLine);
    // The notifier; nullptr means IMessageUtil::shared().
    void setNotifier(IMessageUtil* notifier);
    // Tells whether an archive-project sender is the project the main window shows.
    void setCurrentBackupTest(std::function<bool(QObject*)> isCurrent);

    void processMessage(const LogText& text, quint64 options, QObject* sender);
    void sendTextInfo(const QString& text, qint32 type, quint8 target, QObject* sender);

    // Hands a text to the log window, on the main thread.
    void appendToWinLog(const QString& text);
    // Sets the status line; ignored off the main thread.
    void setStringToStatus(const QString& text);

private:
    struct Targets;
    void notify(const QString& title, const QString& text);

    std::shared_ptr<Targets> m_targets;
};
