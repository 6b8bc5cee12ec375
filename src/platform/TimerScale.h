#pragma once

// Tests shorten the programs' long timers with the environment variable KV_TIMER_SCALE: an
// integer from 1 to 100 that divides repeating intervals and long bounds (never a date). Any
// other value counts as 1. Read once per process; a value other than 1 is logged once.
class TimerScale
{
public:
    static int factor();
    // The interval divided by the factor, at least 1 ms.
    static int scaled(int intervalMs);

    // Tests: reads the variable again at the next call.
    static void reset();
};
