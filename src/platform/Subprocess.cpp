#include "Subprocess.h"

#include "NameCodec.h"

#include <QCoreApplication>
#include <QSet>
#include <chrono>
#include <csignal>
#include <cstring>
#include <algorithm>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using SteadyClock = std::chrono::steady_clock;

// Registry of the children started here: owned ones until reaped, released ones until
// reapReleased() has reaped them.
std::mutex g_registryMutex;
QSet<pid_t> g_started;
QSet<pid_t> g_released;

void registerStarted(pid_t pid)
{
    std::lock_guard<std::mutex> lock(g_registryMutex);
    g_started.insert(pid);
}

void unregisterReaped(pid_t pid)
{
    std::lock_guard<std::mutex> lock(g_registryMutex);
    g_started.remove(pid);
    g_released.remove(pid);
}

// Our own programs ignore SIGPIPE so that a write to a child that stopped reading reports EPIPE;
// the children get SIGPIPE back at its default through posix_spawn.
void ignoreSigpipeOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction current
        {
        };
        if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
            ::signal(SIGPIPE, SIG_IGN);
    });
}

std::string encodeName(const QString& text)
{
    return NameCodec::encodeStd(text);
}

QString tr(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

// The child's environment: ours, with the tool locale and the caller's changes.
std::vector<std::string> childEnvironment(const Subprocess::Options& options)
{
    QMap<std::string, std::string> env;
    std::vector<std::string> order;
    for (char** e = environ; e && *e; ++e) {
        const char* eq = std::strchr(*e, '=');
        if (!eq)
            continue;
        std::string name(*e, size_t(eq - *e));
        if (!env.contains(name))
            order.push_back(name);
        env.insert(name, std::string(eq + 1));
    }
    auto set = [&](const std::string& name, const std::string& value) {
        if (!env.contains(name))
            order.push_back(name);
        env.insert(name, value);
    };
    if (options.toolLocale) {
        // Tools answer in English with UTF-8 names; LANGUAGE would still pick a translation.
        set("LC_ALL", "C.UTF-8");
        env.remove("LANGUAGE");
    }
    for (auto it = options.environment.cbegin(); it != options.environment.cend(); ++it)
        set(encodeName(it.key()), encodeName(it.value()));
    for (const QString& name : options.unsetEnvironment)
        env.remove(encodeName(name));
    std::vector<std::string> result;
    for (const std::string& name : order)
        if (env.contains(name))
            result.push_back(name + '=' + env.value(name));
    return result;
}

// Finds the program the way execvp would, but in the child's PATH.
std::string resolveProgram(const std::string& program, const std::vector<std::string>& env)
{
    if (program.find('/') != std::string::npos)
        return program;
    std::string path = "/usr/local/bin:/usr/bin:/bin";
    for (const std::string& e : env)
        if (e.rfind("PATH=", 0) == 0)
            path = e.substr(5);
    size_t begin = 0;
    while (begin <= path.size()) {
        size_t end = path.find(':', begin);
        if (end == std::string::npos)
            end = path.size();
        std::string dir = path.substr(begin, end - begin);
        if (dir.empty())
            dir = ".";
        const std::string candidate = dir + '/' + program;
        struct stat st
        {
        };
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode)
            && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        begin = end + 1;
    }
    return {};
}

std::vector<char*> pointers(std::vector<std::string>& strings)
{
    std::vector<char*> result;
    result.reserve(strings.size() + 1);
    for (std::string& s : strings)
        result.push_back(s.data());
    result.push_back(nullptr);
    return result;
}

struct SpawnSetup
{
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    SpawnSetup()
    {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attr);
    }
    ~SpawnSetup()
    {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
    }
};

void setUpAttributes(posix_spawnattr_t* attr, bool newSession, pid_t group)
{
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(attr, &none);
    // Signals we ignore would stay ignored across exec; the child gets them at their defaults.
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int sig :
        { SIGPIPE, SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGCHLD, SIGALRM, SIGUSR1, SIGUSR2, SIGTTIN, SIGTTOU })
        sigaddset(&defaults, sig);
    posix_spawnattr_setsigdefault(attr, &defaults);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (newSession) {
        flags |= POSIX_SPAWN_SETSID; // also leader of a new process group
    } else {
        flags |= POSIX_SPAWN_SETPGROUP;
        posix_spawnattr_setpgroup(attr, group > 0 ? group : 0);
    }
    posix_spawnattr_setflags(attr, flags);
}

int openPidfd(pid_t pid)
{
#ifdef SYS_pidfd_open
    return int(::syscall(SYS_pidfd_open, pid, 0));
#else
    return -1;
#endif
}

int remainingMs(SteadyClock::time_point deadline, bool unbounded)
{
    if (unbounded)
        return -1;
    const auto left
        = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
    return left > 0 ? int(left) : 0;
}

} // namespace

std::vector<std::string> Subprocess::encodeArguments(const QString& program, const QStringList& arguments)
{
    std::vector<std::string> argv;
    argv.reserve(size_t(arguments.size()) + 1);
    argv.push_back(encodeName(program));
    for (const QString& a : arguments)
        argv.push_back(encodeName(a));
    return argv;
}

Subprocess::Subprocess() = default;

Subprocess::~Subprocess()
{
    if (m_started && !m_released) {
        if (isRunning())
            stop();
        if (!m_reaped && !m_released)
            waitForFinished(-1);
    }
    cancelReaders();
    for (std::thread& t : m_readers)
        if (t.joinable())
            t.join();
    joinStdinWriter();
    closeFd(m_stdinFd);
    closeFd(m_pidfd);
    closeFd(m_wakeFd);
}

void Subprocess::setStdoutHandler(ChunkHandler h)
{
    m_stdoutHandler = std::move(h);
}
void Subprocess::setStderrHandler(ChunkHandler h)
{
    m_stderrHandler = std::move(h);
}
void Subprocess::setEndOfStreamHandler(std::function<void()> h)
{
    m_endHandler = std::move(h);
}
void Subprocess::setStdoutEndHandler(std::function<void()> h)
{
    m_stdoutEndHandler = std::move(h);
}
void Subprocess::setStderrEndHandler(std::function<void()> h)
{
    m_stderrEndHandler = std::move(h);
}

bool Subprocess::start(const Options& options, QString* error)
{
    auto fail = [&](const QString& reason) {
        if (error)
            *error = reason;
        return false;
    };
    if (m_started)
        return fail(tr("The process was already started."));
    if (options.program.isEmpty())
        return fail(tr("No program to start."));
    ignoreSigpipeOnce();

    std::vector<std::string> env = childEnvironment(options);
    std::vector<std::string> argv = encodeArguments(options.program, options.arguments);
    const std::string path = resolveProgram(argv[0], env);
    if (path.empty())
        return fail(tr("The program “%1” was not found.").arg(options.program));

    const bool stdinFromFd = options.stdinFd >= 0;
    const bool stdoutToFd = options.stdoutFd >= 0;
    const bool stdinPipe = !stdinFromFd && (!options.standardInput.isEmpty() || options.keepStdinOpen);
    int in[2] = { -1, -1 }, out[2] = { -1, -1 }, err[2] = { -1, -1 };
    auto closeAll = [&] {
        for (int* fds : { in, out, err })
            for (int i = 0; i < 2; ++i)
                closeFd(fds[i]);
    };
    if ((stdinPipe && ::pipe2(in, O_CLOEXEC) != 0) || (!stdoutToFd && ::pipe2(out, O_CLOEXEC) != 0)
        || (!options.mergeStderr && ::pipe2(err, O_CLOEXEC) != 0)) {
        const int e = errno;
        closeAll();
        return fail(tr("Cannot create a pipe: %1").arg(QString::fromLocal8Bit(std::strerror(e))));
    }
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_readPauseMs = std::max(0, options.readPauseMs);
    if (m_readPauseMs > 0 && out[0] >= 0)
        ::fcntl(out[0], F_SETPIPE_SZ, 1 << 20); // best effort: the default size works too

    SpawnSetup setup;
    if (stdinFromFd)
        posix_spawn_file_actions_adddup2(&setup.actions, options.stdinFd, STDIN_FILENO);
    else if (stdinPipe)
        posix_spawn_file_actions_adddup2(&setup.actions, in[0], STDIN_FILENO);
    else
        posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    const int outFd = stdoutToFd ? options.stdoutFd : out[1];
    posix_spawn_file_actions_adddup2(&setup.actions, outFd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&setup.actions, options.mergeStderr ? outFd : err[1], STDERR_FILENO);
    posix_spawn_file_actions_addclosefrom_np(&setup.actions, 3);
    std::string cwd;
    if (!options.workingDirectory.isEmpty()) {
        cwd = encodeName(options.workingDirectory);
        posix_spawn_file_actions_addchdir_np(&setup.actions, cwd.c_str());
    }
    setUpAttributes(&setup.attr, options.newSession, options.newSession ? 0 : options.joinProcessGroup);

    std::vector<char*> argvp = pointers(argv);
    std::vector<char*> envp = pointers(env);
    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, path.c_str(), &setup.actions, &setup.attr, argvp.data(), envp.data());
    if (rc != 0) {
        closeAll();
        closeFd(m_wakeFd);
        return fail(
            tr("Cannot start “%1”: %2").arg(options.program, QString::fromLocal8Bit(std::strerror(rc))));
    }
    registerStarted(pid);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pid = pid;
        m_pgid = (!options.newSession && options.joinProcessGroup > 0) ? options.joinProcessGroup : pid;
        m_started = true;
    }
    m_pidfd = openPidfd(pid);
    closeFd(in[0]);
    closeFd(out[1]);
    closeFd(err[1]);

    if (!stdoutToFd)
        startReader(out[0], m_stdoutHandler, m_stdoutEndHandler);
    if (!options.mergeStderr)
        startReader(err[0], m_stderrHandler, m_stderrEndHandler);

    if (stdinPipe) {
        m_stdinFd = in[1];
        if (!options.standardInput.isEmpty()) {
            const QByteArray data = options.standardInput;
            const bool close = !options.keepStdinOpen;
            m_stdinWriter = std::thread([this, data, close] {
                writeAll(data);
                if (close)
                    closeFd(m_stdinFd);
            });
        }
    }
    return true;
}

pid_t Subprocess::pid() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pid;
}

pid_t Subprocess::processGroup() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pgid;
}

void Subprocess::startReader(int fd, ChunkHandler handler, std::function<void()> endHandler)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_openPipes;
    }
    m_readers.emplace_back([this, fd, handler = std::move(handler), endHandler = std::move(endHandler)] {
        readerLoop(fd, handler, endHandler);
    });
}

void Subprocess::readerLoop(int fd, ChunkHandler handler, const std::function<void()>& endHandler)
{
    std::vector<char> buffer(ReadChunkSize);
    for (;;) {
        pollfd fds[2] = { { fd, POLLIN, 0 }, { m_wakeFd, POLLIN, 0 } };
        const int n = ::poll(fds, m_wakeFd >= 0 ? 2 : 1, -1);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        // Data still waiting in the pipe is delivered before a cancellation takes effect.
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t got = ::read(fd, buffer.data(), buffer.size());
            if (got > 0) {
                if (handler)
                    handler(buffer.data(), size_t(got));
                if (m_readPauseMs > 0 && size_t(got) < buffer.size() && m_wakeFd >= 0) {
                    // The pipe is empty: let the child fill it a while. A stop still wakes us,
                    // and so does the child closing its end (no events asked of the pipe: only
                    // a hang-up ends the pause), so the end of a run is seen at once.
                    pollfd wake[2] = { { m_wakeFd, POLLIN, 0 }, { fd, 0, 0 } };
                    ::poll(wake, 2, m_readPauseMs);
                }
                continue;
            }
            if (got < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            break; // end of data (or a read error, which ends the stream as well)
        }
        if (fds[1].revents & POLLIN)
            break;
    }
    ::close(fd);
    if (m_endHandler)
        m_endHandler();
    if (endHandler)
        endHandler();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        --m_openPipes;
    }
    m_cv.notify_all();
}

bool Subprocess::writeStdin(const QByteArray& data)
{
    // the initial standard input goes first
    joinStdinWriter();
    return writeAll(data);
}

bool Subprocess::writeAll(const QByteArray& data)
{
    const char* p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        int fd;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            fd = m_stdinFd;
        }
        if (fd < 0)
            return false;
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false; // EPIPE: the child no longer reads
        }
        p += n;
        left -= n;
    }
    return true;
}

void Subprocess::joinStdinWriter()
{
    if (m_stdinWriter.joinable() && m_stdinWriter.get_id() != std::this_thread::get_id())
        m_stdinWriter.join();
}

void Subprocess::closeStdin()
{
    joinStdinWriter();
    closeFd(m_stdinFd);
}

void Subprocess::closeFd(int& fd)
{
    int toClose;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        toClose = fd;
        fd = -1;
    }
    if (toClose >= 0)
        ::close(toClose);
}

bool Subprocess::pollExited()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_exited)
        return true;
    if (!m_started || m_pid <= 0)
        return false;
    siginfo_t info;
    std::memset(&info, 0, sizeof info);
    if (::waitid(P_PID, id_t(m_pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid == 0)
        return false;
    m_exited = true;
    if (info.si_code == CLD_EXITED) {
        m_exitCode = info.si_status;
        m_exitSignal = 0;
    } else {
        m_exitCode = -1;
        m_exitSignal = info.si_status;
    }
    return true;
}

bool Subprocess::waitExited(int timeoutMs)
{
    const bool unbounded = timeoutMs < 0;
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(unbounded ? 0 : timeoutMs);
    for (;;) {
        if (pollExited())
            return true;
        const int left = remainingMs(deadline, unbounded);
        if (left == 0)
            return false;
        if (m_pidfd >= 0) {
            pollfd p { m_pidfd, POLLIN, 0 };
            ::poll(&p, 1, left);
        } else {
            ::usleep(unsigned(std::min(left < 0 ? 10 : left, 10)) * 1000);
        }
    }
}

bool Subprocess::waitReaders(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (timeoutMs < 0) {
        m_cv.wait(lock, [this] { return m_openPipes == 0; });
        return true;
    }
    return m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_openPipes == 0; });
}

void Subprocess::finish()
{
    std::lock_guard<std::mutex> finishLock(m_finishMutex);
    if (m_reaped)
        return;
    for (std::thread& t : m_readers)
        if (t.joinable())
            t.join();
    m_readers.clear();
    joinStdinWriter();
    int status = 0;
    pid_t pid;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        pid = m_pid;
    }
    pid_t r;
    do {
        r = ::waitpid(pid, &status, 0);
    } while (r < 0 && errno == EINTR);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (r == pid) {
        if (WIFEXITED(status)) {
            m_exitCode = WEXITSTATUS(status);
            m_exitSignal = 0;
        } else if (WIFSIGNALED(status)) {
            m_exitCode = -1;
            m_exitSignal = WTERMSIG(status);
        }
    }
    m_exited = true;
    m_reaped = true;
    unregisterReaped(pid);
}

bool Subprocess::waitForFinished(int timeoutMs)
{
    if (!m_started)
        return false;
    if (m_reaped)
        return true;
    if (m_released)
        return false;
    const bool unbounded = timeoutMs < 0;
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(unbounded ? 0 : timeoutMs);
    if (!waitExited(timeoutMs))
        return false;
    if (!waitReaders(remainingMs(deadline, unbounded)))
        return false;
    finish();
    return true;
}

bool Subprocess::isRunning()
{
    if (!m_started || m_reaped || m_released)
        return false;
    if (!pollExited())
        return true;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_openPipes > 0)
            return true;
    }
    finish();
    return false;
}

bool Subprocess::hasExited() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_exited;
}

int Subprocess::exitCode() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_exitCode;
}

int Subprocess::exitSignal() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_exitSignal;
}

bool Subprocess::exitedNormally() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_exited && m_exitSignal == 0;
}

void Subprocess::signalGroup(int sig)
{
    // The child stays a zombie until finish() and keeps its group in use meanwhile, so the group
    // id cannot have been reused (also when it joined another member's group).
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_started || m_reaped || m_pid <= 0)
        return;
    ::kill(-(m_pgid > 0 ? m_pgid : m_pid), sig);
}

void Subprocess::terminate()
{
    signalGroup(SIGTERM);
}

void Subprocess::kill()
{
    signalGroup(SIGKILL);
}

void Subprocess::cancelReaders()
{
    int fd;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        fd = m_wakeFd;
    }
    if (fd >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(fd, &one, sizeof one);
    }
}

void Subprocess::stop(int graceMs)
{
    if (!m_started || m_reaped || m_released)
        return;
    terminate();
    if (waitForFinished(graceMs))
        return;
    kill();
    if (waitForFinished(5000))
        return;
    // Something outside the group still holds a pipe open: stop reading it.
    cancelReaders();
    if (waitForFinished(5000))
        return;
    // The child does not die (uninterruptible sleep): let the registry reap it later.
    release();
}

void Subprocess::release()
{
    if (!m_started || m_reaped || m_released)
        return;
    cancelReaders();
    for (std::thread& t : m_readers)
        if (t.joinable())
            t.join();
    m_readers.clear();
    joinStdinWriter();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_released = true;
    std::lock_guard<std::mutex> registryLock(g_registryMutex);
    g_released.insert(m_pid);
}

int Subprocess::reapReleased()
{
    std::lock_guard<std::mutex> lock(g_registryMutex);
    int reaped = 0;
    for (auto it = g_released.begin(); it != g_released.end();) {
        int status = 0;
        const pid_t r = ::waitpid(*it, &status, WNOHANG);
        if (r == *it || (r < 0 && errno == ECHILD)) {
            if (r == *it)
                ++reaped;
            g_started.remove(*it);
            it = g_released.erase(it);
        } else {
            ++it;
        }
    }
    return reaped;
}

QList<pid_t> Subprocess::releasedPids()
{
    std::lock_guard<std::mutex> lock(g_registryMutex);
    return g_released.values();
}

QList<pid_t> Subprocess::startedPids()
{
    std::lock_guard<std::mutex> lock(g_registryMutex);
    return g_started.values();
}

Subprocess::Result Subprocess::run(const Options& options, int timeoutMs)
{
    Result result;
    QByteArray out, err;
    Subprocess process;
    process.setStdoutHandler([&out](const char* d, size_t n) { out.append(d, qsizetype(n)); });
    process.setStderrHandler([&err](const char* d, size_t n) { err.append(d, qsizetype(n)); });
    if (!process.start(options, &result.error))
        return result;
    result.started = true;
    if (!process.waitForFinished(timeoutMs)) {
        result.timedOut = true;
        process.stop();
        result.error = tr("“%1” did not finish in time and was stopped.").arg(options.program);
    }
    result.exitCode = process.exitCode();
    result.signal = process.exitSignal();
    result.out = out;
    result.err = err;
    return result;
}

pid_t Subprocess::startDetached(const Options& options, QString* error)
{
    auto fail = [&](const QString& reason) -> pid_t {
        if (error)
            *error = reason;
        return 0;
    };
    if (options.program.isEmpty())
        return fail(tr("No program to start."));
    std::vector<std::string> env = childEnvironment(options);
    std::vector<std::string> argv = encodeArguments(options.program, options.arguments);
    const std::string path = resolveProgram(argv[0], env);
    if (path.empty())
        return fail(tr("The program “%1” was not found.").arg(options.program));

    SpawnSetup setup;
    posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&setup.actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&setup.actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&setup.actions, 3);
    std::string cwd;
    if (!options.workingDirectory.isEmpty()) {
        cwd = encodeName(options.workingDirectory);
        posix_spawn_file_actions_addchdir_np(&setup.actions, cwd.c_str());
    }
    setUpAttributes(&setup.attr, true, 0);
    std::vector<char*> argvp = pointers(argv);
    std::vector<char*> envp = pointers(env);
    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, path.c_str(), &setup.actions, &setup.attr, argvp.data(), envp.data());
    if (rc != 0)
        return fail(
            tr("Cannot start “%1”: %2").arg(options.program, QString::fromLocal8Bit(std::strerror(rc))));
    // It is still our child: a waiter reaps it whenever it ends, so no zombie is left.
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    }).detach();
    return pid;
}
