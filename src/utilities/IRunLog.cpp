#include "utilities/IRunLog.h"

#include <atomic>

namespace {
std::atomic<IRunLog*> g_runLog { nullptr };
}

IRunLog& IRunLog::shared()
{
    static NullRunLog none;
    IRunLog* runLog = g_runLog.load(std::memory_order_acquire);
    return runLog ? *runLog : none;
}

void IRunLog::setShared(IRunLog* runLog)
{
    g_runLog.store(runLog, std::memory_order_release);
}
