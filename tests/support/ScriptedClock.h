#pragma once

#include "platform/Clock.h"

#include <QDateTime>
#include <QMutex>

// A clock that tests set and move. It installs itself as Clock::current() while it lives and
// puts back the clock that was current before when destroyed.
class ScriptedClock : public Clock
{
public:
    explicit ScriptedClock(const QDateTime& start = QDateTime(QDate(2024, 1, 15), QTime(12, 0)),
        qint64 monotonicStartMs = 1000000);
    ~ScriptedClock() override;
    ScriptedClock(const ScriptedClock&) = delete;
    ScriptedClock& operator=(const ScriptedClock&) = delete;

    QDateTime now() const override;
    qint64 monotonicMs() const override;

    void setNow(const QDateTime& now); // the monotonic time stays where it is
    void setMonotonicMs(qint64 ms);
    void advance(qint64 ms); // moves both the wall clock and the monotonic clock

private:
    mutable QMutex m_mutex;
    QDateTime m_now;
    qint64 m_monotonicMs;
    Clock* m_previous;
};
