#include "RootProcess.h"

#include "ProcessTable.h"

#include <QCoreApplication>
#include <chrono>
#include <csignal>

namespace {
QString tr(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}
} // namespace

RootProcess::RootProcess(PrivilegeBackend& backend)
    : m_backend(backend)
{ }

RootProcess::~RootProcess()
{
    if (m_runner.isRunning())
        stop();
}

void RootProcess::onStdout(const char* data, size_t size)
{
    Subprocess::ChunkHandler forward;
    QByteArray early;
    const char* rest = data;
    size_t restSize = size;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_havePid) {
            if (m_pidLineBad)
                return;
            const char* lf = static_cast<const char*>(memchr(data, '\n', size));
            const size_t take = lf ? size_t(lf - data) : size;
            m_pidLine.append(data, qsizetype(take));
            if (m_pidLine.size() > MaxPidLine) {
                m_pidLineBad = true;
                m_cv.notify_all();
                return;
            }
            if (!lf)
                return;
            bool ok = false;
            const qint64 pid = m_pidLine.trimmed().toLongLong(&ok);
            if (!ok || pid <= 1) {
                m_pidLineBad = true;
                m_cv.notify_all();
                return;
            }
            m_rootPid = pid_t(pid);
            if (const std::optional<ProcessEntry> e = ProcessTable::entry(m_rootPid))
                m_rootGroup = e->pgid;
            else
                m_rootGroup = m_runner.processGroup();
            m_havePid = true;
            early.swap(m_earlyErr);
            rest = lf + 1;
            restSize = size - take - 1;
            m_cv.notify_all();
        }
        forward = m_outHandler;
    }
    // error text that came before the pid line belongs to the command (sudo said nothing)
    if (!early.isEmpty() && m_errHandler)
        m_errHandler(early.constData(), size_t(early.size()));
    if (restSize > 0 && forward)
        forward(rest, restSize);
}

void RootProcess::onStderr(const char* data, size_t size)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_havePid) {
            if (m_earlyErr.size() < 64 * 1024)
                m_earlyErr.append(data, qsizetype(size));
            return;
        }
    }
    if (m_errHandler)
        m_errHandler(data, size);
}

void RootProcess::onEnd()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_endedPipes;
    m_cv.notify_all();
}

bool RootProcess::start(const PrivilegeBackend::RootCommand& command, QString* error, int pidTimeoutMs)
{
    auto fail = [&](int failure, const QString& reason) {
        m_failure = failure;
        if (error)
            *error = reason;
        return false;
    };
    Subprocess::Options options;
    QString why;
    if (!m_backend.buildInvocation(command, &options, &why))
        return fail(NotAuthorized, why);
    options.mergeStderr = false; // sudo's own messages must stay apart from the pid line
    m_runner.setStdoutHandler([this](const char* d, size_t n) { onStdout(d, n); });
    m_runner.setStderrHandler([this](const char* d, size_t n) { onStderr(d, n); });
    m_runner.setEndOfStreamHandler([this] { onEnd(); });
    if (!m_runner.start(options, &why))
        return fail(CannotExecute, why);

    std::unique_lock<std::mutex> lock(m_mutex);
    const bool decided = m_cv.wait_for(lock, std::chrono::milliseconds(pidTimeoutMs),
        [this] { return m_havePid || m_pidLineBad || m_endedPipes >= 2; });
    if (m_havePid)
        return true;
    const QByteArray err = m_earlyErr;
    const bool bad = m_pidLineBad;
    lock.unlock();
    m_runner.stop(1000);
    if (!decided)
        return fail(NotAuthorized, tr("The administrator shell did not start in time."));
    if (bad)
        return fail(NotAuthorized, tr("The administrator shell did not report its process id."));
    const QString text = QString::fromLocal8Bit(err).trimmed();
    if (err.contains("command not found") || err.contains("not found"))
        return fail(CannotExecute, text.isEmpty() ? tr("The tool cannot be executed.") : text);
    // the kept password no longer works: the next start validates again
    m_backend.clearCredential();
    return fail(NotAuthorized, text.isEmpty() ? tr("Administrator rights were refused.") : text);
}

bool RootProcess::waitForFinished(int timeoutMs)
{
    return m_runner.waitForFinished(timeoutMs);
}

void RootProcess::stop(int graceMs)
{
    if (!m_runner.isRunning())
        return;
    // sudo relays the signal to the root shell, whose trap ends the root group
    m_runner.terminate();
    if (m_runner.waitForFinished(graceMs)
        && (m_rootGroup <= 0 || ProcessTable::groupMembers(m_rootGroup).isEmpty()))
        return;
    if (m_rootGroup > 0 && m_rootGroup != m_runner.processGroup())
        m_backend.killRootGroup(m_rootGroup, SIGKILL);
    else if (m_rootGroup > 0 && !ProcessTable::groupMembers(m_rootGroup).isEmpty())
        m_backend.killRootGroup(m_rootGroup, SIGKILL);
    m_runner.stop(graceMs);
}

RootProcess::Result RootProcess::run(
    const PrivilegeBackend::RootCommand& command, int timeoutMs, PrivilegeBackend& backend)
{
    Result result;
    QByteArray out, err;
    std::mutex bufferMutex;
    RootProcess p(backend);
    p.setOutputHandler([&](const char* d, size_t n) {
        std::lock_guard<std::mutex> lock(bufferMutex);
        out.append(d, qsizetype(n));
    });
    p.setErrorHandler([&](const char* d, size_t n) {
        std::lock_guard<std::mutex> lock(bufferMutex);
        err.append(d, qsizetype(n));
    });
    if (!p.start(command, &result.error, timeoutMs < 0 ? 60000 : timeoutMs)) {
        result.failure = p.failure();
        return result;
    }
    result.started = true;
    result.rootPid = p.rootPid();
    if (!p.waitForFinished(timeoutMs)) {
        p.stop();
        result.error = tr("The command run as root did not finish in time and was stopped.");
    }
    result.exitCode = p.exitCode();
    result.signal = p.exitSignal();
    std::lock_guard<std::mutex> lock(bufferMutex);
    result.out = out;
    result.err = err;
    return result;
}
