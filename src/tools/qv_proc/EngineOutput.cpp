#include "EngineOutput.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_stopSignal = 0;
std::atomic<bool> g_stop { false };
std::atomic<bool> g_readerGone { false };
std::atomic<bool> g_outcome { false };
std::mutex g_writeMutex;

void onStopSignal(int sig)
{
    g_stopSignal = sig;
}

} // namespace

namespace EngineOutput {

void installStopHandlers()
{
    struct sigaction sa
    {
    };
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : { SIGTERM, SIGINT, SIGHUP })
        sigaction(sig, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

bool stopRequested()
{
    return g_stop.load() || g_stopSignal != 0;
}

void requestStop()
{
    g_stop.store(true);
}

void beginOutcome()
{
    g_outcome.store(true);
}

void endOutcome()
{
    g_outcome.store(false);
}

static bool silenced()
{
    return g_readerGone.load() || (stopRequested() && !g_outcome.load());
}

bool line(const char* prefix, const std::string& text)
{
    std::string out;
    out.reserve(std::strlen(prefix) + text.size() + 1);
    out.append(prefix).append(text).push_back('\n');
    std::lock_guard<std::mutex> lock(g_writeMutex);
    if (silenced())
        return false;
    const char* p = out.data();
    size_t left = out.size();
    while (left > 0) {
        const ssize_t n = ::write(STDOUT_FILENO, p, left);
        if (n < 0 && errno == EINTR) {
            if (silenced())
                return false;
            continue;
        }
        if (n <= 0) {
            g_readerGone.store(true); // the application is gone
            requestStop();
            return false;
        }
        p += n;
        left -= size_t(n);
    }
    return true;
}

} // namespace EngineOutput
