#include "platform/TimerScale.h"

#include <QString>
#include <QtGlobal>
#include <atomic>

namespace {
std::atomic<int> g_factor { 0 };
} // namespace

int TimerScale::factor()
{
    int f = g_factor.load();
    if (f > 0)
        return f;
    bool ok = false;
    const int value = qEnvironmentVariable("KV_TIMER_SCALE").trimmed().toInt(&ok);
    f = ok && value >= 1 && value <= 100 ? value : 1;
    int expected = 0;
    if (g_factor.compare_exchange_strong(expected, f) && f != 1)
        qInfo("Timers shortened by KV_TIMER_SCALE=%d", f);
    return g_factor.load();
}

int TimerScale::scaled(int intervalMs)
{
    return qMax(1, intervalMs / factor());
}

void TimerScale::reset()
{
    g_factor = 0;
}
