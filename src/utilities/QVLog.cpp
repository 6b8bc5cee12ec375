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

namespace {

QString formatted(const char* format, va_list args)
{
    return format ? QString::vasprintf(format, args) : QString();
}

// -1 not read yet, else 0 or 1.
std::atomic<int> g_fullLogDebug { -1 };

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

void resetFullLogDebugCache()
{
    g_fullLogDebug.store(-1);
}
