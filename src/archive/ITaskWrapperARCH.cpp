#include "archive/ITaskWrapperARCH.h"

#include "platform/MainThread.h"
#include "platform/NameCodec.h"
#include "utilities/ICommon.h"
#include "utilities/IProcController.h"
#include "utilities/MainPreferences.h"

#include <fcntl.h>
#include <unistd.h>

namespace {
// Output lines longer than this are handed on in pieces (a line of tar never gets near it).
constexpr qsizetype kMaxLine = 1 << 20;
// How long a root job's group gets to end after the stop before the backend kills it.
constexpr int kRootStopGraceMs = 3000;
// How long the reader lets output gather after it emptied the pipe.
constexpr int kReadPauseMs = 20;
} // namespace

bool ArchiveJobEnd::allZero() const
{
    if (!endLineSeen || statuses.isEmpty())
        return false;
    for (int s : statuses)
        if (s != 0)
            return false;
    return true;
}

ITaskWrapperARCH::ITaskWrapperARCH(const QList<QStringList>& stages, const QString& password)
    : m_stages(stages)
    , m_password(password)
{ }

ITaskWrapperARCH::~ITaskWrapperARCH()
{
    if (m_waiter.joinable()) {
        if (m_waiter.get_id() == std::this_thread::get_id())
            m_waiter.detach();
        else {
            m_stopRequested = true;
            if (!m_asRoot)
                m_proc.stop(2000);
            m_waiter.join();
        }
    }
    if (!m_script.isEmpty())
        ::unlink(NameCodec::encode(m_script).constData());
}

QByteArray ITaskWrapperARCH::scriptText(const QList<QStringList>& stages, const ArchiveScriptOptions& options)
{
    // No parentheses around the chain: after a subshell PIPESTATUS would hold one status only.
    QByteArray text = "#!/bin/bash\nexec 2>&1\n";
    if (options.passwordOnStdin)
        text += "IFS= read -r QV_ARCH_PASS; export QV_ARCH_PASS; exec </dev/null\n";
    text += "export LC_ALL=C.UTF-8\n";
    QByteArray chain;
    for (const QStringList& stage : stages) {
        if (stage.isEmpty())
            continue;
        if (!chain.isEmpty())
            chain += " |\n\t";
        const bool cat = !options.catPrefix.isEmpty()
            && stage.first().section(QLatin1Char('/'), -1) == QLatin1String("qv3_cat");
        chain += NameCodec::encode(ICommon::scriptLineFromArgsArray(cat ? options.catPrefix + stage : stage));
    }
    // The end line starts on a line of its own even after output without a final line feed;
    // printf's arguments are expanded before it runs, so PIPESTATUS is still the chain's.
    text += chain + "\nprintf '\\nend %s\\n' \"${PIPESTATUS[*]}\"\n# end";
    return text;
}

QStringList ITaskWrapperARCH::catUserPrefix()
{
    if (::getuid() == 0)
        return {};
    QString bus = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    if (bus.isEmpty() && !qEnvironmentVariable("XDG_RUNTIME_DIR").isEmpty())
        bus = QStringLiteral("unix:path=") + qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/bus");
    return { QStringLiteral("/usr/bin/setpriv"), QStringLiteral("--reuid=%1").arg(::getuid()),
        QStringLiteral("--regid=%1").arg(::getgid()), QStringLiteral("--init-groups"), QStringLiteral("--"),
        QStringLiteral("/usr/bin/env"), QStringLiteral("DBUS_SESSION_BUS_ADDRESS=") + bus };
}

bool ITaskWrapperARCH::parseEndLine(const QByteArray& line, QList<int>* statuses)
{
    if (!line.startsWith("end "))
        return false;
    const QList<QByteArray> words = line.mid(4).split(' ');
    QList<int> out;
    for (const QByteArray& w : words) {
        bool ok = false;
        const int v = w.toInt(&ok);
        if (!ok || v < 0 || v > 255)
            return false;
        out << v;
    }
    if (out.isEmpty())
        return false;
    if (statuses)
        *statuses = out;
    return true;
}

bool ITaskWrapperARCH::start(LineHandler onLine, EndHandler onEnd, QString* error)
{
    auto fail = [error](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    if (m_stages.isEmpty() || m_stages.first().isEmpty() || m_stages.first().first().isEmpty())
        return fail(QStringLiteral("The archive job has no tool to run"));
    const std::string folder = NameCodec::encodeStd(MainPreferences::shared().getTmpFolderPath());
    const std::string path = MainPreferences::tempBareName(folder);
    if (path.empty())
        return fail(QStringLiteral("No temporary script name in \"%1\"").arg(NameCodec::decode(folder)));
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0700);
    if (fd < 0)
        return fail(QStringLiteral("The job script could not be created"));
    m_script = NameCodec::decode(path);
    ArchiveScriptOptions script;
    script.passwordOnStdin = m_asRoot && !m_password.isEmpty();
    if (m_asRoot)
        script.catPrefix = catUserPrefix();
    const QByteArray text = scriptText(m_stages, script);
    const bool written = ::write(fd, text.constData(), size_t(text.size())) == ssize_t(text.size());
    ::close(fd);
    if (!written) {
        ::unlink(path.c_str());
        m_script.clear();
        return fail(QStringLiteral("The job script could not be written"));
    }

    m_onLine = std::move(onLine);
    if (m_asRoot) {
        if (!startRoot(error)) {
            ::unlink(path.c_str());
            m_script.clear();
            return false;
        }
    } else if (!startUser(error)) {
        ::unlink(path.c_str());
        m_script.clear();
        return false;
    }
    auto self = shared_from_this();
    m_waiter = std::thread([self, onEnd = std::move(onEnd)] {
        int signal = 0;
        if (self->m_root) {
            self->waitRoot();
            signal = self->m_root->exitSignal();
        } else {
            self->m_proc.waitForFinished();
            signal = self->m_proc.exitSignal();
        }
        self->finishLines();
        ::unlink(NameCodec::encode(self->m_script).constData());
        ArchiveJobEnd end;
        {
            std::lock_guard<std::mutex> lock(self->m_mutex);
            end = self->m_end;
        }
        if (!end.endLineSeen && end.error.isEmpty())
            end.error = signal ? QStringLiteral("The job's shell ended by signal %1").arg(signal)
                               : QStringLiteral("The job ended without its end line");
        runOnMain([self, onEnd, end] { onEnd(end); });
    });
    return true;
}

bool ITaskWrapperARCH::startUser(QString* error)
{
    Subprocess::Options o;
    o.program = QStringLiteral("/bin/bash");
    o.arguments = QStringList { m_script };
    o.mergeStderr = true;
    // tar -vv writes its listing a line at a time: read it in batches, not line by line.
    o.readPauseMs = kReadPauseMs;
    if (!m_password.isEmpty())
        o.environment.insert(QStringLiteral("QV_ARCH_PASS"), m_password);
    m_proc.setStdoutHandler([this](const char* data, size_t size) { onChunk(data, size); });
    QString why;
    if (!m_proc.start(o, &why)) {
        if (error)
            *error = QStringLiteral("The job could not be started: %1").arg(why);
        return false;
    }
    m_pgid = m_proc.processGroup();
    return true;
}

bool ITaskWrapperARCH::startRoot(QString* error)
{
    QByteArray payload;
    if (!m_password.isEmpty()) {
        payload = m_password.toUtf8();
        // The script reads one line: a longer password would be cut, and the archive made with
        // the cut one could never be opened with the real one.
        if (payload.contains('\n') || payload.contains('\0')) {
            if (error)
                *error = QStringLiteral(
                    "A password holding a line feed cannot be used by a job run as administrator");
            return false;
        }
        payload += '\n';
    }
    bool started = false;
    m_root = IProcController::runRootedToolWithArgsArray(
        { QStringLiteral("/bin/bash"), m_script },
        [this](const char* data, size_t size) { onChunk(data, size); }, &started, payload);
    if (!m_root) {
        m_notAuthorized = IProcController::runRootedToolTerminationReason() == RootProcess::NotAuthorized;
        if (error)
            *error = m_notAuthorized ? QStringLiteral("Administrator rights were not given")
                                     : QStringLiteral("The job could not be started as administrator");
        return false;
    }
    m_pgid = m_root->rootGroup();
    return true;
}

void ITaskWrapperARCH::waitRoot()
{
    // A stop is handled here, off the main thread: the root group may take the grace time to end.
    bool stopSent = false;
    while (!m_root->waitForFinished(100)) {
        if (m_stopRequested && !stopSent) {
            stopSent = true;
            m_root->stop(kRootStopGraceMs);
        }
    }
}

void ITaskWrapperARCH::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_end.stopped = true;
    }
    m_stopRequested = true;
    if (!m_asRoot)
        m_proc.terminate();
}

void ITaskWrapperARCH::onChunk(const char* data, size_t size)
{
    // Reader thread: hand on every complete line at once, no waiting for bigger blocks.
    m_pending.append(data, qsizetype(size));
    qsizetype from = 0;
    for (;;) {
        const qsizetype nl = m_pending.indexOf('\n', from);
        if (nl < 0)
            break;
        handleLine(m_pending.mid(from, nl - from));
        from = nl + 1;
    }
    m_pending.remove(0, from);
    if (m_pending.size() > kMaxLine) {
        handleLine(m_pending);
        m_pending.clear();
    }
}

void ITaskWrapperARCH::finishLines()
{
    if (!m_pending.isEmpty()) {
        handleLine(m_pending);
        m_pending.clear();
    }
}

void ITaskWrapperARCH::handleLine(const QByteArray& line)
{
    QList<int> statuses;
    if (parseEndLine(line, &statuses)) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_end.statuses = statuses;
        m_end.endLineSeen = true;
        return;
    }
    // Empty lines carry nothing (the end line's leading line feed makes one).
    if (m_onLine && !line.isEmpty())
        m_onLine(line);
}
