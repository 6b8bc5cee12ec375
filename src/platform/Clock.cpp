#include "Clock.h"

#include <atomic>
#include <time.h>

namespace {
std::atomic<Clock*> g_current { nullptr };
}

QDateTime SystemClock::now() const
{
    return QDateTime::currentDateTime();
}

qint64 SystemClock::monotonicMs() const
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

Clock& Clock::system()
{
    static SystemClock clock;
    return clock;
}

Clock& Clock::current()
{
    Clock* c = g_current.load(std::memory_order_acquire);
    return c ? *c : system();
}

void Clock::setCurrent(Clock* clock)
{
    g_current.store(clock, std::memory_order_release);
}
