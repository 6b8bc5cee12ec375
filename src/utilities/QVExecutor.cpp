#include "QVExecutor.h"

#include "IAuthorizer.h"
#include "platform/NameCodec.h"
#include "platform/ProcessTable.h"
#include "platform/RootProcess.h"
#include "platform/Subprocess.h"
#include "projects/IProcessCard.h"

#include <QDebug>
#include <algorithm>
#include <mutex>
#include <unistd.h>

namespace {
thread_local qint64 t_shellPid = 0;
} // namespace

struct ExecutorRun::Impl
{
    std::unique_ptr<Subprocess> user;
    std::unique_ptr<RootProcess> root;
    mutable std::mutex mutex;
    QByteArray output;

    void append(const char* d, size_t n)
    {
        std::lock_guard<std::mutex> lock(mutex);
        output.append(d, qsizetype(n));
    }
};

ExecutorRun::ExecutorRun()
    : d(std::make_unique<Impl>())
{ }

ExecutorRun::~ExecutorRun() = default; // the process objects stop and reap what still runs

bool ExecutorRun::waitForFinished(int timeoutMs)
{
    return d->root ? d->root->waitForFinished(timeoutMs) : d->user->waitForFinished(timeoutMs);
}

int ExecutorRun::exitCode() const
{
    return d->root ? d->root->exitCode() : d->user->exitCode();
}

qint64 ExecutorRun::pid() const
{
    return d->root ? d->root->rootPid() : d->user->pid();
}

QByteArray ExecutorRun::output() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->output;
}

void ExecutorRun::stop()
{
    if (d->root)
        d->root->stop();
    else
        d->user->stop();
}

qint64 QVExecutor::shellProcessId()
{
    return t_shellPid;
}

std::shared_ptr<ExecutorRun> QVExecutor::execFromAdminParams(const QStringList& argv, IProcessCard* card)
{
    if (card)
        card->set(stateRunning);
    IAuthorizer& authorizer = IAuthorizer::shared();
    const bool authorized = authorizer.authorize();
    authorizer.setTargetString(QString());
    auto fail = [card](const ProcessCardFlag& error) {
        if (card) {
            card->add(error);
            card->set(stateFinished);
            card->set(reasonTerminatedByErrors);
        }
        return std::shared_ptr<ExecutorRun>();
    };
    if (!authorized)
        return fail(errorAuthorization);
    std::shared_ptr<ExecutorRun> run(new ExecutorRun);
    run->d->root = std::make_unique<RootProcess>();
    ExecutorRun::Impl* impl = run->d.get();
    run->d->root->setOutputHandler([impl](const char* d, size_t n) { impl->append(d, n); });
    PrivilegeBackend::RootCommand cmd;
    cmd.arguments = argv;
    cmd.mergeStderr = true;
    if (!run->d->root->start(cmd))
        return fail(
            run->d->root->failure() == RootProcess::CannotExecute ? errorToolStart : errorAuthorization);
    t_shellPid = run->d->root->rootPid();
    if (card) {
        card->set(stateRunning);
        card->set(errorClear);
    }
    return run;
}

std::shared_ptr<ExecutorRun> QVExecutor::execFromUserParams(const QStringList& argv, IProcessCard* card)
{
    if (card) {
        card->set(errorClear);
        card->set(reasonClear);
        card->set(phaseStarted);
        card->set(stateRunning);
    }
    std::shared_ptr<ExecutorRun> run(new ExecutorRun);
    run->d->user = std::make_unique<Subprocess>();
    ExecutorRun::Impl* impl = run->d.get();
    run->d->user->setStdoutHandler([impl](const char* d, size_t n) { impl->append(d, n); });
    Subprocess::Options o;
    o.program = argv.value(0);
    o.arguments = argv.mid(1);
    o.mergeStderr = true;
    if (!run->d->user->start(o)) {
        if (card) {
            card->set(phaseClear);
            card->set(reasonStartingError);
            card->set(stateFinished);
        }
        return nullptr;
    }
    t_shellPid = run->d->user->pid();
    return run;
}

bool QVExecutor::execArguments(const QStringList& argv, bool useAdmin, bool wait, IProcessCard* card,
    std::shared_ptr<ExecutorRun>* run, QStringList* resOutputArray)
{
    t_shellPid = 0;
    std::shared_ptr<ExecutorRun> r
        = useAdmin ? execFromAdminParams(argv, card) : execFromUserParams(argv, card);
    if (!r)
        return false;
    if (wait)
        return processOutput(*r, resOutputArray, card);
    if (run)
        *run = r;
    return true;
}

bool QVExecutor::execCommand(const QString& command, bool useAdmin, bool wait, IProcessCard* card,
    std::shared_ptr<ExecutorRun>* run, QStringList* resOutputArray)
{
    return execArguments({ QStringLiteral("/bin/sh"), QStringLiteral("-c"), command }, useAdmin, wait, card,
        run, resOutputArray);
}

QStringList QVExecutor::splitLines(const QByteArray& output, qsizetype maxLine)
{
    QStringList lines;
    qsizetype pos = 0;
    while (pos < output.size()) {
        qsizetype lf = output.indexOf('\n', pos);
        if (lf < 0)
            lf = output.size();
        const qsizetype length = std::min(lf - pos, maxLine);
        if (length > 0)
            lines.append(NameCodec::decode(output.mid(pos, length)));
        pos = lf + 1;
    }
    return lines;
}

bool QVExecutor::processOutput(ExecutorRun& run, QStringList* resOutputArray, IProcessCard* card)
{
    if (resOutputArray)
        resOutputArray->clear();
    run.waitForFinished(-1);
    if (resOutputArray)
        *resOutputArray = splitLines(run.output());
    if (card)
        card->set(stateFinished);
    return run.exitCode() == 0;
}

qint64 QVExecutor::lastChildProcessName(const QString& name, const QString& orName, qint64 forParent)
{
    const pid_t parent = forParent > 0 ? pid_t(forParent) : ::getpid();
    qint64 best = 0;
    quint64 bestStart = 0;
    for (const ProcessEntry& e : ProcessTable::children(parent)) {
        if (e.name != name && (orName.isNull() || e.name != orName))
            continue;
        if (!best || e.startTime > bestStart || (e.startTime == bestStart && e.pid > best)) {
            best = e.pid;
            bestStart = e.startTime;
        }
    }
    return best;
}

int QVExecutor::zombieKill()
{
    const QList<pid_t> released = Subprocess::releasedPids();
    QList<ProcessEntry> zombies;
    for (pid_t pid : released)
        if (const std::optional<ProcessEntry> e = ProcessTable::entry(pid); e && e->isEnded())
            zombies.append(*e);
    const int reaped = Subprocess::reapReleased();
    for (const ProcessEntry& e : zombies)
        qDebug().noquote() << QString::asprintf(
            ":::ZOMBIE %-50s proc %6d  par %6d", qPrintable(e.name), e.pid, e.ppid);
    return reaped;
}
