// The run-log hand-over of the common functions and the run tags. Kept apart from the other
// front ends so that the thread tests can build it with nothing but the run-log interface.
#include "utilities/IRunLog.h"
#include "utilities/QVLog.h"

#include <atomic>
#include <mutex>

namespace {

// The run log's duplicate check: the last text handed over, and the lock that covers the
// comparison and the write together.
std::mutex g_fullLogMutex;
QByteArray g_lastFullLogText;
bool g_hasLastFullLogText = false;
thread_local bool t_inFullLog = false;

std::atomic<qint64> g_runCounter { 0 };

} // namespace

void setTextToFullLog(const QByteArray& text)
{
    if (text.isNull())
        return;
    // A run log that reports its own trouble through the log sink lands here again on the
    // same thread; that inner line is dropped instead of deadlocking on the lock.
    if (t_inFullLog)
        return;
    std::lock_guard<std::mutex> lock(g_fullLogMutex);
    if (g_hasLastFullLogText && g_lastFullLogText == text)
        return;
    g_lastFullLogText = text;
    g_hasLastFullLogText = true;
    t_inFullLog = true;
    IRunLog::shared().traceToLog(text);
    t_inFullLog = false;
}

void resetLastFullLogText()
{
    std::lock_guard<std::mutex> lock(g_fullLogMutex);
    g_lastFullLogText.clear();
    g_hasLastFullLogText = false;
}

QString QVProcessingCodeString()
{
    const qint64 tag = g_runCounter.fetch_add(1) + 1;
    return QStringLiteral("( %1 ) ").arg(tag);
}
