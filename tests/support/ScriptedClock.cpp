#include "ScriptedClock.h"

#include <QMutexLocker>

ScriptedClock::ScriptedClock(const QDateTime& start, qint64 monotonicStartMs)
    : m_now(start)
    , m_monotonicMs(monotonicStartMs)
    , m_previous(&Clock::current() == &Clock::system() ? nullptr : &Clock::current())
{
    Clock::setCurrent(this);
}

ScriptedClock::~ScriptedClock()
{
    if (&Clock::current() == this)
        Clock::setCurrent(m_previous);
}

QDateTime ScriptedClock::now() const
{
    QMutexLocker lock(&m_mutex);
    return m_now;
}

qint64 ScriptedClock::monotonicMs() const
{
    QMutexLocker lock(&m_mutex);
    return m_monotonicMs;
}

void ScriptedClock::setNow(const QDateTime& now)
{
    QMutexLocker lock(&m_mutex);
    m_now = now;
}

void ScriptedClock::setMonotonicMs(qint64 ms)
{
    QMutexLocker lock(&m_mutex);
    m_monotonicMs = ms;
}

void ScriptedClock::advance(qint64 ms)
{
    QMutexLocker lock(&m_mutex);
    m_now = m_now.addMSecs(ms);
    m_monotonicMs += ms;
}
