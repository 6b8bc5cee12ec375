#pragma once

#include <QDateTime>

// The injectable clock. Code that schedules, stamps or measures time asks
// Clock::current(); tests install a clock of their own with setCurrent().
class Clock
{
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0; // local time
    virtual qint64 monotonicMs() const = 0; // CLOCK_MONOTONIC in ms

    static Clock& current(); // the system clock unless a test set one
    static void setCurrent(Clock* clock); // nullptr restores the system clock
    static Clock& system(); // the real clock, whatever is installed
};

// The real clock: QDateTime::currentDateTime() and CLOCK_MONOTONIC.
class SystemClock : public Clock
{
public:
    QDateTime now() const override;
    qint64 monotonicMs() const override;
};
