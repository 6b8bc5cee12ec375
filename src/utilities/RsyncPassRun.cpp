#include "utilities/RsyncPassRun.h"

#include "platform/RootProcess.h"
#include "platform/Subprocess.h"
#include "utilities/IProcController.h"
#include "utilities/WorkEndStatus.h"

#include <chrono>

namespace {

// How long a pass may keep its pipes open after its child was reaped.
constexpr int kEndOfDataGraceMs = 3000;
// How long a stopped child gets between SIGTERM and SIGKILL.
constexpr int kStopGraceMs = 3000;
// rsync -v --progress writes a line or two per file: the reader lets them gather this long after
// it emptied the pipe, so that a run of many small files costs a read per batch, not per line.
constexpr int kReadPauseMs = 20;

qint64 steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

RsyncPassRun::~RsyncPassRun()
{
    if (m_watcher.joinable()) {
        m_stopRequested = true;
        m_watcher.join();
    }
}

bool RsyncPassRun::startAsUser(const QStringList& args, DataHandler data, QString* error)
{
    m_user = std::make_unique<Subprocess>();
    m_user->setStdoutHandler([data](const char* d, size_t n) { data(d, n, false); });
    m_user->setStderrHandler([data](const char* d, size_t n) { data(d, n, true); });
    Subprocess::Options options;
    options.program = args.value(0);
    options.arguments = args.mid(1);
    options.toolLocale = true;
    options.readPauseMs = kReadPauseMs;
    if (!m_user->start(options, error)) {
        m_user.reset();
        return false;
    }
    return true;
}

bool RsyncPassRun::startAsRoot(const QStringList& args, DataHandler data)
{
    bool result = false;
    m_root = IProcController::runRootedToolWithArgsArray(
        args, [data](const char* d, size_t n) { data(d, n, false); }, &result);
    return m_root != nullptr;
}

pid_t RsyncPassRun::pid() const
{
    if (m_user)
        return m_user->pid();
    return m_root ? m_root->rootPid() : 0;
}

pid_t RsyncPassRun::processGroup() const
{
    if (m_user)
        return m_user->processGroup();
    return m_root ? m_root->rootGroup() : 0;
}

void RsyncPassRun::watch(EndHandler ended)
{
    m_watcher = std::thread([this, ended = std::move(ended)] { watchLoop(ended); });
}

void RsyncPassRun::join()
{
    if (m_watcher.joinable() && m_watcher.get_id() != std::this_thread::get_id())
        m_watcher.join();
}

void RsyncPassRun::watchLoop(const EndHandler& ended)
{
    Subprocess* user = m_user.get();
    RootProcess* root = m_root.get();
    qint64 exitedAt = -1;
    qint64 stopAt = -1;
    bool killed = false;
    for (;;) {
        const bool done = user ? user->waitForFinished(100) : root->waitForFinished(100);
        if (done)
            break;
        const qint64 t = steadyMs();
        if (m_stopRequested && stopAt < 0) {
            stopAt = t;
            m_signalSent = true;
            if (user) {
                user->terminate();
            } else {
                root->stop(kStopGraceMs);
                continue;
            }
        }
        if (user && stopAt >= 0 && !killed && t - stopAt >= kStopGraceMs) {
            killed = true;
            user->kill();
        }
        // The child is reaped but something still holds its pipes: end of data gets a
        // bounded wait, then the group is killed and the pass ends with what was read.
        const bool exited = user ? user->hasExited() : root->hasExited();
        if (exited) {
            if (exitedAt < 0) {
                exitedAt = t;
            } else if (t - exitedAt >= kEndOfDataGraceMs) {
                if (user) {
                    user->kill();
                    // Pipes held outside the group: stop reading them and finish now.
                    if (!user->waitForFinished(200)) {
                        user->release();
                        Subprocess::reapReleased();
                    }
                } else {
                    root->stop(0);
                }
                break;
            }
        }
    }
    const int code = user ? user->exitCode() : root->exitCode();
    const int sig = user ? user->exitSignal() : root->exitSignal();
    ended(code, sig, m_signalSent.load());
}

quint32 RsyncPassRun::statusForExit(int exitCode, int exitSignal, bool stopSent)
{
    if (exitSignal != 0)
        return stopSent ? quint32(wesClear) : quint32(wesErrors);
    if (exitCode == 23 || exitCode == 24)
        return wesWarnings;
    if (exitCode != 0 && !stopSent)
        return wesErrors;
    return wesClear;
}
