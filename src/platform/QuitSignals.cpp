#include "platform/QuitSignals.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = { -1, -1 };

void onQuitSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] auto n = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

void QuitSignals::catchSignals()
{
    if (g_signalPipe[0] >= 0)
        return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signalPipe) != 0)
        return;
    struct sigaction sa = {};
    sa.sa_handler = onQuitSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}

QuitSignals::QuitSignals(QObject* parent)
    : QObject(parent)
{
    catchSignals();
    if (g_signalPipe[0] < 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (::read(g_signalPipe[0], bytes, sizeof bytes) > 0) { }
        Q_EMIT quitRequested();
    });
}

QuitSignals::~QuitSignals() = default;
