#include "utilities/QVLog.h"

#include "platform/AppPaths.h"
#include "utilities/IAgentMessageSender.h"
#include "utilities/IRunLog.h"
#include "utilities/IShellServices.h"
#include "utilities/LogOptions.h"

#include <atomic>
#include <cjson/cJSON.h>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>

namespace {

QString formatted(const char* format, va_list args)
{
    return format ? QString::vasprintf(format, args) : QString();
}

// -1 not read yet, else 0 or 1.
std::atomic<int> g_fullLogDebug { -1 };

// The run log's duplicate check: the last text handed over, and the lock that covers the
// comparison and the write together.
std::mutex g_fullLogMutex;
QByteArray g_lastFullLogText;
bool g_hasLastFullLogText = false;
thread_local bool t_inFullLog = false;

std::atomic<qint64> g_runCounter { 0 };

} // namespace

QByteArray QVDebugMessageJson(const QString& text)
{
    std::unique_ptr<cJSON, decltype(&cJSON_Delete)> root(cJSON_CreateObject(), cJSON_Delete);
    if (!root)
        return QByteArray();
    cJSON_AddStringToObject(root.get(), "Text", text.toUtf8().constData());
    std::unique_ptr<char, decltype(&cJSON_free)> printed(cJSON_PrintUnformatted(root.get()), cJSON_free);
    return printed ? QByteArray(printed.get()) : QByteArray();
}

void QVDebugMessage(const QString& text)
{
    const QByteArray line = "* " + text.toUtf8() + "\n";
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fflush(stdout);
    IAgentMessageSender::shared().sendMessage(8, QString::fromUtf8(QVDebugMessageJson(text)));
}

void QVDebugMessage(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const QString text = formatted(format, args);
    va_end(args);
    QVDebugMessage(text);
}

bool fullLogDebug()
{
    int value = g_fullLogDebug.load();
    if (value < 0) {
        const QVariant v = AppPaths::infoPlistValue(QStringLiteral("g_FullLogDebug"));
        value = v.toBool() ? 1 : 0;
        g_fullLogDebug.store(value);
    }
    return value == 1;
}

void setFullLogDebug(bool on)
{
    g_fullLogDebug.store(on ? 1 : 0);
}

void QVFullLog(const QString& text)
{
    if (!fullLogDebug())
        return;
    IRunLog::shared().traceToLog(text.toUtf8() + '\n');
}

void QVFullLog(const char* format, ...)
{
    if (!fullLogDebug())
        return;
    va_list args;
    va_start(args, format);
    const QString text = formatted(format, args);
    va_end(args);
    QVFullLog(text);
}

void QVUtilLog(const QString& text)
{
    IShellServices::shared().processMessage(text, LogWord::UtilLog, nullptr);
}

void QVUtilLog(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const QString text = formatted(format, args);
    va_end(args);
    QVUtilLog(text);
}

void QVLogWindowOut(const QString& text)
{
    IShellServices::shared().processMessage(text, LogWord::WindowOut, nullptr);
}

void QVLogWindowOut(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const QString text = formatted(format, args);
    va_end(args);
    QVLogWindowOut(text);
}

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

void resetFullLogDebugCache()
{
    g_fullLogDebug.store(-1);
}
