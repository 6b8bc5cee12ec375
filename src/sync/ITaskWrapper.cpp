#include "sync/ITaskWrapper.h"

#include "platform/MainThread.h"
#include "platform/NameCodec.h"
#include "platform/ProcessTable.h"
#include "platform/RootProcess.h"
#include "platform/Subprocess.h"
#include "sync/ITaskWrapperController.h"
#include "utilities/IShellServices.h"
#include "utilities/LogOptions.h"

#include <QFileInfo>
#include <QStringDecoder>
#include <fcntl.h>
#include <unistd.h>

ITaskWrapper::ITaskWrapper(ITaskWrapperController* controller, const QStringList& arguments,
    qint64 taskToolCode, const QStringList& arguments2, qint64 taskToolCode2, const QStringList& arguments3,
    qint64 taskToolCode3, qint64 taskToolCodeAll, qint64 mainTaskIndex, qint64 generalTaskCode,
    QObject* parent)
    : QObject(parent)
    , controller(controller)
    , m_arguments { arguments, arguments2, arguments3 }
    , m_taskToolCode { taskToolCode, taskToolCode2, taskToolCode3 }
    , m_taskToolCodeAll(taskToolCodeAll)
    , m_mainTaskIndex(mainTaskIndex)
    , m_generalTaskCode(generalTaskCode)
    , m_generation(std::make_shared<int>(0))
{ }

ITaskWrapper::~ITaskWrapper()
{
    ++*m_generation;
    stopMembers();
}

bool ITaskWrapper::controllerReadsFirstMember() const
{
    return m_generalTaskCode == IProject::GTC_SYNHRONIZATION;
}

int ITaskWrapper::memberCount() const
{
    int n = 0;
    while (n < 3 && !m_arguments[size_t(n)].isEmpty())
        ++n;
    return n;
}

bool ITaskWrapper::isProcessAliveByPID(pid_t pid)
{
    if (pid <= 0)
        return false;
    const std::optional<ProcessEntry> e = ProcessTable::entry(pid);
    return e && !e->isEnded() && e->state != 'T' && e->state != 't';
}

pid_t ITaskWrapper::parentPIDForProcess(pid_t pid)
{
    const std::optional<ProcessEntry> e = ProcessTable::entry(pid);
    return e ? e->ppid : 0;
}

bool ITaskWrapper::isRunning() const
{
    return (m_tasks[0] && isProcessAliveByPID(m_tasks[0]->pid())) || _childProcess != 0;
}

QList<pid_t> ITaskWrapper::memberPids() const
{
    QList<pid_t> pids;
    if (m_clonePipe && m_clonePipe->rootPid() > 0)
        pids.append(m_clonePipe->rootPid());
    for (const auto& t : m_tasks)
        if (t && t->pid() > 0)
            pids.append(t->pid());
    return pids;
}

pid_t ITaskWrapper::processGroup() const
{
    return m_tasks[0] ? m_tasks[0]->processGroup() : 0;
}

int ITaskWrapper::terminationStatus(int member) const
{
    if (member < 1 || member > 3)
        return 0;
    Subprocess* t = m_tasks[size_t(member - 1)].get();
    if (!t || t->isRunning())
        return 0;
    if (t->exitSignal() != 0)
        return 128 + t->exitSignal();
    return t->exitCode() < 0 ? 0 : t->exitCode();
}

bool ITaskWrapper::sendStdMessage(const QString& text)
{
    if (text.isEmpty() || !m_tasks[0])
        return false;
    // EPIPE (the program is gone or closed its input) answers false; SIGPIPE is ignored here.
    return m_tasks[0]->writeStdin(text.toUtf8());
}

void ITaskWrapper::clearNotifications()
{
    ++*m_generation;
    if (m_clonePipe)
        m_clonePipe->closeStdin();
}

void ITaskWrapper::stopMembers()
{
    // All members share the first member's group: stopping the first ends the chain; the others
    // are then only reaped.
    for (auto& t : m_tasks)
        if (t && t->isRunning())
            t->stop(1000);
    if (m_clonePipe) {
        m_clonePipe->stop(1000);
        _childProcess = 0;
    }
}

bool ITaskWrapper::startProcess()
{
    if (controller)
        controller->processStarted();
    m_clonePipe.reset();
    _childProcess = 0;
    m_terminateByUser = false;
    m_stoped = { true, true, true, true };
    m_stopProcessFlag = false;
    if (m_endingTimer) {
        m_endingTimer->stop();
        m_endingTimer->deleteLater();
        m_endingTimer = nullptr;
    }

    // An archive restore into a folder the user cannot write runs as root.
    if (m_generalTaskCode == IProject::GTC_RESTORE && !m_arguments[0].isEmpty()) {
        const QFileInfo target(m_arguments[0].last());
        // Started as root: the run goes on there and this start answers false, as its callers
        // expect; a failed root start falls through to the normal start.
        if (target.exists() && !target.isWritable() && startAdminRestore())
            return false;
    }

    // A run still going on is stopped before the new one starts.
    ++*m_generation;
    stopMembers();

    const int n = memberCount();
    if (n == 0)
        return false;
    if (controller)
        controller->utilOutputProcessPrepare();
    m_taskOutputToolCode = m_taskToolCode[0];

    const std::weak_ptr<int> alive = m_generation;
    const int generation = *m_generation;
    auto post = [this, alive, generation](Stream stream, QByteArray data, bool end) {
        runOnMain([this, alive, generation, stream, data = std::move(data), end] {
            const auto g = alive.lock();
            if (!g || *g != generation)
                return;
            if (end)
                streamEnded(stream);
            else
                deliver(stream, data);
        });
    };
    const bool controllerReads = controllerReadsFirstMember() && controller;

    std::array<std::unique_ptr<Subprocess>, 3> tasks;
    int linkRead = -1;
    pid_t group = 0;
    auto closeLink = [&linkRead] {
        if (linkRead >= 0)
            ::close(linkRead);
        linkRead = -1;
    };
    for (int i = 0; i < n; ++i) {
        const bool last = i == n - 1;
        auto t = std::make_unique<Subprocess>();
        Subprocess::Options o;
        o.program = m_arguments[size_t(i)].first();
        o.arguments = m_arguments[size_t(i)].mid(1);
        o.joinProcessGroup = group;
        if (i == 0)
            o.keepStdinOpen = true; // sendStdMessage writes here
        else
            o.stdinFd = linkRead;
        int link[2] = { -1, -1 };
        if (!last) {
            if (::pipe2(link, O_CLOEXEC) != 0) {
                closeLink();
                return false;
            }
            o.stdoutFd = link[1];
        }
        const Stream err = Stream(i);
        if (i == 0 && controllerReads) {
            ITaskWrapperController* c = controller;
            t->setStderrHandler(
                [c](const char* d, size_t size) { c->getErrorData(QByteArray(d, qsizetype(size))); });
            if (last)
                t->setStdoutHandler(
                    [c](const char* d, size_t size) { c->getOutputData(QByteArray(d, qsizetype(size))); });
        } else {
            t->setStderrHandler([post, err](const char* d, size_t size) {
                post(err, QByteArray(d, qsizetype(size)), false);
            });
            if (last)
                t->setStdoutHandler([post](const char* d, size_t size) {
                    post(LastOut, QByteArray(d, qsizetype(size)), false);
                });
        }
        t->setStderrEndHandler([post, err] { post(err, QByteArray(), true); });
        if (last)
            t->setStdoutEndHandler([post] { post(LastOut, QByteArray(), true); });
        QString error;
        const bool started = t->start(o, &error);
        // The application's copies of the link pipe must go, or the next reader never sees the end.
        closeLink();
        if (link[1] >= 0)
            ::close(link[1]);
        linkRead = link[0];
        if (!started) {
            closeLink();
            // What was launched already is stopped again: nothing is left half started.
            for (auto& s : tasks)
                if (s)
                    s->stop(1000);
            if (IProject* p = _project)
                p->processMessage(error, LogWord::WindowAndRunLog, p);
            return false;
        }
        if (i == 0)
            group = t->processGroup();
        m_stoped[size_t(i)] = false;
        if (last)
            m_stoped[LastOut] = false;
        tasks[size_t(i)] = std::move(t);
    }
    closeLink();
    m_tasks = std::move(tasks);
    return true;
}

bool ITaskWrapper::startAdminRestore()
{
    auto root = std::make_unique<RootProcess>();
    const std::weak_ptr<int> alive = m_generation;
    const int generation = *m_generation;
    auto post = [this, alive, generation](const QByteArray& data, bool end) {
        runOnMain([this, alive, generation, data, end] {
            const auto g = alive.lock();
            if (!g || *g != generation)
                return;
            if (end) {
                _childProcess = 0;
                streamEnded(Err1);
            } else {
                deliver(Err1, data);
            }
        });
    };
    root->setOutputHandler([post](const char* d, size_t n) { post(QByteArray(d, qsizetype(n)), false); });
    PrivilegeBackend::RootCommand command;
    command.arguments = m_arguments[0];
    command.mergeStderr = true;
    QString error;
    if (!root->start(command, &error)) {
        m_stoped[Err1] = true;
        m_terminateByUser = true;
        IShellServices::shared().sendTextInfo(
            QStringLiteral("RSYNC starting Error! ") + error, 0, tpLog, this);
        return false;
    }
    _childProcess = root->rootPid();
    m_stoped[Err1] = false;
    m_clonePipe = std::move(root);
    // The end of the root output is seen when the runner ends; a watcher thread would be the
    // same: the runner's end closes its pipes, which the RootProcess readers report.
    QTimer* watch = new QTimer(this);
    watch->setInterval(100);
    connect(watch, &QTimer::timeout, this, [this, watch, post] {
        if (!m_clonePipe || !m_clonePipe->isRunning()) {
            watch->deleteLater();
            post(QByteArray(), true);
        }
    });
    watch->start();
    return true;
}

void ITaskWrapper::deliver(Stream stream, const QByteArray& data)
{
    if (!controller || data.isEmpty())
        return;
    const bool clone
        = m_generalTaskCode == IProject::GTC_CLONING || m_generalTaskCode == IProject::GTC_BOOTABLE_CLONING;
    ITaskWrapper* input = clone ? nullptr : this;
    const bool asText = stream == Err2 || stream == Err3
        || (stream == Err1
            && (m_generalTaskCode == IProject::GTC_BACKUP || m_generalTaskCode == IProject::GTC_RESTORE));
    if (asText) {
        QStringDecoder decoder(QStringDecoder::Utf8);
        const QString text = decoder(data);
        if (!decoder.hasError())
            controller->appendOutput(text, m_taskToolCode[size_t(stream)], true, input, m_generalTaskCode);
        return;
    }
    if (stream == LastOut)
        controller->utilOutputProcess(data, m_taskOutputToolCode, false, input, m_generalTaskCode);
    else
        controller->utilOutputProcess(data, m_taskToolCode[size_t(stream)], true, input, m_generalTaskCode);
}

void ITaskWrapper::streamEnded(Stream stream)
{
    m_stoped[size_t(stream)] = true;
    normalEndingPrepare();
}

void ITaskWrapper::normalEndingPrepare()
{
    for (bool ended : m_stoped)
        if (!ended)
            return;
    if (m_stopProcessFlag || m_endingTimer)
        return;
    m_endingTimer = new QTimer(this);
    m_endingTimer->setSingleShot(true);
    m_endingTimer->setInterval(1000);
    connect(m_endingTimer, &QTimer::timeout, this, &ITaskWrapper::scheduleEvent);
    m_endingTimer->start();
}

void ITaskWrapper::scheduleEvent()
{
    if (m_endingTimer) {
        m_endingTimer->deleteLater();
        m_endingTimer = nullptr;
    }
    stopProcess();
}

void ITaskWrapper::finishRun()
{
    m_stopProcessFlag = true;
    if (m_endingTimer) {
        m_endingTimer->stop();
        m_endingTimer->deleteLater();
        m_endingTimer = nullptr;
    }
    clearNotifications();
    if (controller)
        controller->processFinished();
}

void ITaskWrapper::stopProcess()
{
    if (m_stopProcessFlag)
        return;
    if (m_clonePipe) {
        m_clonePipe->waitForFinished(1000);
        _childProcess = 0;
    }
    finishRun();
}

bool ITaskWrapper::terminateProcess()
{
    // The root run first: its recorded group is stopped through the privilege backend, never a
    // process looked up by name.
    if (m_clonePipe) {
        m_clonePipe->stop(3000);
        _childProcess = 0;
    }
    ++*m_generation;
    for (auto& t : m_tasks)
        if (t)
            t->stop(3000);
    for (bool& ended : m_stoped)
        ended = true;
    if (m_stopProcessFlag)
        return true;
    finishRun();
    return true;
}
