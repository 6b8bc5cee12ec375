#pragma once

#include <functional>

// The one beep of the dialogs and fields (a refused key, a refused answer). Tests replace the
// hook to count beeps; an empty hook restores QApplication::beep().
class Beep
{
public:
    static void beep();
    static void setHook(std::function<void()> hook);
};
