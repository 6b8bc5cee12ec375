#include "IProcController.h"

#include "IAuthorizer.h"
#include "platform/AppPaths.h"
#include "platform/MainThread.h"
#include "platform/NameCodec.h"
#include "platform/ProcessTable.h"
#include "projects/IProcessCard.h"
#include "projects/IProject.h"

#include <QDebug>
#include <QUuid>
#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

thread_local int t_terminationReason = 0;
thread_local int t_lastProcessResult = 0;

QByteArray encoded(const QString& path)
{
    return NameCodec::encode(path);
}

QString text(const QByteArray& bytes)
{
    return NameCodec::decode(bytes.left(2000)).trimmed();
}

QString errnoText(int e)
{
    return QString::fromLocal8Bit(strerror(e));
}

} // namespace

// ---------------------------------------------------------------- class side

int IProcController::runRootedToolTerminationReason()
{
    return t_terminationReason;
}
int IProcController::lastProcessResult()
{
    return t_lastProcessResult;
}
void IProcController::setLastProcessResult(int result)
{
    t_lastProcessResult = result;
}

std::unique_ptr<RootProcess> IProcController::runRootedToolWithArgsArray(
    const QStringList& args, Subprocess::ChunkHandler output, bool* result, const QByteArray& payload)
{
    t_terminationReason = 0;
    IAuthorizer& authorizer = IAuthorizer::shared();
    const bool authorized = authorizer.authorize();
    authorizer.setTargetString(QString());
    if (!authorized) {
        t_terminationReason = RootProcess::NotAuthorized;
        return nullptr;
    }
    auto process = std::make_unique<RootProcess>();
    process->setOutputHandler(std::move(output));
    // the tool's error output is joined to its output; what comes on the runner's own error
    // stream (sudo) after the start is passed on as well
    process->setErrorHandler([](const char*, size_t) {});
    PrivilegeBackend::RootCommand cmd;
    cmd.arguments = args;
    cmd.mergeStderr = true;
    cmd.payload = payload;
    QString error;
    if (!process->start(cmd, &error)) {
        t_terminationReason = process->failure() ? process->failure() : int(RootProcess::NotAuthorized);
        qWarning().noquote() << "Autorization error" << t_terminationReason << error;
        return nullptr;
    }
    if (result)
        *result = true;
    return process;
}

bool IProcController::runRootedToolWithArgsArray(const QStringList& args, QString* output)
{
    QByteArray out;
    std::mutex m;
    std::unique_ptr<RootProcess> p = runRootedToolWithArgsArray(args, [&](const char* d, size_t n) {
        std::lock_guard<std::mutex> lock(m);
        out.append(d, qsizetype(n));
    });
    if (!p)
        return false;
    p->waitForFinished(-1);
    const bool ok = p->exitSignal() == 0 && p->exitCode() == 0;
    p.reset();
    if (output)
        *output = NameCodec::decode(out);
    return ok;
}

int IProcController::executeRootedToolArguments(const QStringList& args, Subprocess::ChunkHandler output,
    Subprocess::ChunkHandler errors, std::unique_ptr<RootProcess>* process, pid_t* pid)
{
    t_lastProcessResult = 0;
    IAuthorizer& authorizer = IAuthorizer::shared();
    const bool authorized = authorizer.authorize();
    authorizer.setTargetString(QString());
    if (!authorized) {
        t_terminationReason = RootProcess::NotAuthorized;
        t_lastProcessResult = 6;
        return 1;
    }
    auto p = std::make_unique<RootProcess>();
    p->setOutputHandler(std::move(output));
    p->setErrorHandler(std::move(errors));
    PrivilegeBackend::RootCommand cmd;
    cmd.arguments = args;
    cmd.mergeStderr = false;
    QString error;
    if (!p->start(cmd, &error)) {
        t_terminationReason = p->failure();
        if (p->failure() == RootProcess::NotAuthorized) {
            t_lastProcessResult = 6;
            return 1;
        }
        return errAuthorizationInternal;
    }
    if (pid)
        *pid = p->rootPid();
    if (process)
        *process = std::move(p);
    return 0;
}

IProcController::RootResult IProcController::runAsRoot(const QStringList& args)
{
    RootResult r;
    auto out = std::make_shared<QByteArray>();
    auto err = std::make_shared<QByteArray>();
    auto m = std::make_shared<std::mutex>();
    std::unique_ptr<RootProcess> p;
    const int status = executeRootedToolArguments(
        args,
        [out, m](const char* d, size_t n) {
            std::lock_guard<std::mutex> lock(*m);
            out->append(d, qsizetype(n));
        },
        [err, m](const char* d, size_t n) {
            std::lock_guard<std::mutex> lock(*m);
            err->append(d, qsizetype(n));
        },
        &p);
    if (status != 0 || !p)
        return r;
    r.started = true;
    p->waitForFinished(-1);
    r.exitCode = p->exitSignal() ? -1 : p->exitCode();
    p.reset();
    std::lock_guard<std::mutex> lock(*m);
    r.out = *out;
    r.err = *err;
    return r;
}

namespace {

// After a directory or file was made as root, it goes to the user who runs the application.
void giveToUser(const QString& path)
{
    IProcController::runRootedToolWithArgsArray(
        { QStringLiteral("chown"), QStringLiteral("--"), QString::number(::getuid()), path });
}

bool isDirectory(const QString& path)
{
    struct stat st
    {
    };
    return ::stat(encoded(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

bool IProcController::makeDir(const QString& path, bool withAdmin, QString* comment)
{
    if (!withAdmin) {
        if (::mkdir(encoded(path).constData(), 0777) == 0)
            return true;
        const int e = errno;
        if (comment)
            *comment = errnoText(e);
        // an existing directory is fine, an existing file is not
        return e == EEXIST && isDirectory(path);
    }
    const RootResult r = runAsRoot({ QStringLiteral("mkdir"), QStringLiteral("--"), path });
    if (!r.started)
        return false;
    const QString err = text(r.err);
    if (r.exitCode != 0 && !err.contains(QLatin1String("File exists"))) {
        if (comment)
            *comment = err;
        return false;
    }
    if (r.exitCode != 0) {
        // "File exists": only a directory counts
        bool dir = false;
        if (!fileExistsAtPath(path, &dir, true) || !dir) {
            if (comment)
                *comment = err;
            return false;
        }
    }
    giveToUser(path);
    return true;
}

bool IProcController::makeFile(const QString& path, bool withAdmin, QString* comment)
{
    if (!withAdmin) {
        const int fd = ::open(encoded(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (comment)
                *comment = errnoText(errno);
            return false;
        }
        ::close(fd);
        return true;
    }
    const RootResult r = runAsRoot({ QStringLiteral("sh"), QStringLiteral("-c"),
        QStringLiteral("printf \"It's a new file\\n\" > \"$1\""), QStringLiteral("sh"), path });
    if (!r.started)
        return false;
    if (r.exitCode != 0) {
        if (comment)
            *comment = text(r.err);
        return false;
    }
    giveToUser(path);
    return true;
}

// Removes one entry: the system call as the user, or the tool as root. A missing entry counts
// as removed for the root tool, as it did for the callers before.
bool IProcController::removeEntry(const QString& path, bool withAdmin, QString* comment,
    int (*userCall)(const char*), const QString& rootTool)
{
    if (!withAdmin) {
        if (userCall(encoded(path).constData()) == 0)
            return true;
        if (comment)
            *comment = errnoText(errno);
        return false;
    }
    const RootResult r = runAsRoot({ rootTool, QStringLiteral("--"), path });
    if (!r.started)
        return false;
    if (r.exitCode == 0)
        return true;
    const QString err = text(r.err);
    if (comment)
        *comment = err;
    return err.contains(QLatin1String("No such file"));
}

bool IProcController::removeDir(const QString& path, bool withAdmin, QString* comment)
{
    return removeEntry(path, withAdmin, comment, ::rmdir, QStringLiteral("rmdir"));
}

bool IProcController::removeFile(const QString& path, bool withAdmin, QString* comment)
{
    return removeEntry(path, withAdmin, comment, ::unlink, QStringLiteral("rm"));
}

bool IProcController::fileExistsAtPath(const QString& path, bool* isDir, bool withAdmin, QString* comment)
{
    if (isDir)
        *isDir = false;
    if (path.isEmpty())
        return false;
    if (!withAdmin) {
        struct stat st
        {
        };
        if (::stat(encoded(path).constData(), &st) != 0) {
            if (comment)
                *comment = QString();
            return false;
        }
        if (isDir)
            *isDir = S_ISDIR(st.st_mode);
        return true;
    }
    const RootResult r = runAsRoot(
        { QStringLiteral("stat"), QStringLiteral("-c"), QStringLiteral("%F"), QStringLiteral("--"), path });
    if (!r.started)
        return false;
    const QString out = text(r.out);
    if (r.exitCode == 0) {
        if (isDir)
            *isDir = out == QLatin1String("directory");
        if (comment)
            *comment = out;
        return true;
    }
    if (comment)
        *comment = text(r.err);
    return false;
}

bool IProcController::makeLinkAtPath(
    const QString& path, const QString& toPath, bool withAdmin, QString* comment)
{
    if (!withAdmin) {
        if (::link(encoded(toPath).constData(), encoded(path).constData()) == 0)
            return true;
        if (comment)
            *comment = errnoText(errno);
        return false;
    }
    const RootResult r = runAsRoot({ QStringLiteral("ln"), QStringLiteral("--"), toPath, path });
    if (!r.started)
        return false;
    const QString out = text(r.out), err = text(r.err);
    if (comment)
        *comment = err.isEmpty() ? out : err;
    return r.exitCode == 0;
}

quint64 IProcController::IDForPath(const QString& path, bool withAdmin, QString* comment)
{
    if (!withAdmin) {
        struct stat st
        {
        };
        if (::stat(encoded(path).constData(), &st) != 0)
            return 0;
        return quint64(st.st_ino);
    }
    const RootResult r = runAsRoot(
        { QStringLiteral("stat"), QStringLiteral("-c"), QStringLiteral("%i"), QStringLiteral("--"), path });
    if (!r.started)
        return 0;
    if (r.exitCode != 0) {
        if (comment)
            *comment = text(r.err);
        return 0;
    }
    bool ok = false;
    const quint64 id = r.out.trimmed().toULongLong(&ok);
    return ok ? id : 0;
}

int IProcController::permissionForPath(const QString& path, bool withAdmin, QString* comment)
{
    t_lastProcessResult = 0;
    if (!withAdmin) {
        const QByteArray p = encoded(path);
        return (::access(p.constData(), R_OK) == 0 ? 1 : 0) + (::access(p.constData(), W_OK) == 0 ? 2 : 0);
    }
    const RootResult r = runAsRoot({ QStringLiteral("sh"), QStringLiteral("-c"),
        QStringLiteral("[ -w \"$1\" ] && printf w+ || printf w-; [ -r \"$1\" ] && printf r+ || printf r-"),
        QStringLiteral("sh"), path });
    if (!r.started)
        return 0;
    if (!r.err.isEmpty() && comment)
        *comment = text(r.err);
    const QByteArray out = r.out.trimmed();
    if (out == "w+r+")
        return 3;
    if (out == "w+r-")
        return 2;
    if (out == "w-r+")
        return 1;
    return 0;
}

bool IProcController::isFolderSupportHardLinks(const QString& folder, bool withAdmin, QString* comment)
{
    if (comment)
        *comment = QString();
    t_lastProcessResult = 0;
    bool isDir = false;
    if (!fileExistsAtPath(folder, &isDir, withAdmin) || !isDir)
        return false;
    if (!(permissionForPath(folder, withAdmin) & 2)) {
        if (comment)
            *comment = QStringLiteral("no writable");
        return false;
    }
    const QString file = folder + QLatin1Char('/') + generateUUID();
    const QString link = file + QStringLiteral("_hardlink");
    if (!makeFile(file, withAdmin, comment))
        return false;
    if (!makeLinkAtPath(link, file, withAdmin, comment)) {
        removeFile(file, withAdmin);
        return false;
    }
    const quint64 first = IDForPath(file, withAdmin, comment);
    const quint64 second = first ? IDForPath(link, withAdmin, comment) : 0;
    removeFile(file, withAdmin);
    removeFile(link, withAdmin);
    return first != 0 && first == second;
}

void IProcController::rsyncOptions(
    QStringList* array, const IProject* project, long pass, bool needStatictics)
{
    if (!array || !project) {
        qWarning("Params Error: rsyncOptions: argumets is nil!");
        return;
    }
    QStringList& a = *array;
    const int xattrKind = project->extendedAttrsProcessType();
    const bool mac = project->isMacSrcDestForPass(pass);
    if (xattrKind == 2 || (xattrKind == 0 && mac))
        a << QStringLiteral("-X");
    if (!project->isUseAdminPrivilegesForPass(-1) && project->isFakeSuperWanted())
        a << QStringLiteral("--fake-super");
    a << QStringLiteral("-t");
    const bool aliases = project->isExcludeAliases();
    if (!aliases)
        a << QStringLiteral("-l");
    if (!aliases && mac)
        a << QStringLiteral("-H");
    a << QStringLiteral("-x") << QStringLiteral("-S") << QStringLiteral("-v");
    a << (project->useBDI() ? QStringLiteral("-po") : QStringLiteral("-pgo"));
    a << QStringLiteral("-r") << QStringLiteral("--no-inc-recursive") << QStringLiteral("--ignore-errors");
    if (project->isOptionConsiderModDate())
        a << QStringLiteral("-u");
    a << QStringLiteral("--progress");
    if (needStatictics)
        a << QStringLiteral("--stats");
    if (project->isOptionDelete())
        a << QStringLiteral("--delete-before") << QStringLiteral("--delete-excluded");
    // no --iconv: rsync would silently skip names that are not UTF-8
    if (project->synchronType() != 1 && project->isSourceDoubleVolumeSystemForPass(pass))
        a << QStringLiteral("--exclude=System/Volumes/Data/*");
}

namespace {

bool nameMatches(const QString& processName, const QString& name, const QString& orName)
{
    if (name.isNull() && orName.isNull())
        return true;
    return (!name.isNull() && processName == name) || (!orName.isNull() && processName == orName);
}

ProcessEntry newest(const QList<ProcessEntry>& list, bool last)
{
    return *std::max_element(list.begin(), list.end(), [last](const ProcessEntry& a, const ProcessEntry& b) {
        const bool less = a.startTime != b.startTime ? a.startTime < b.startTime : a.pid < b.pid;
        return last ? less : !less;
    });
}

} // namespace

qint64 IProcController::lastChildProcessName(const QString& name, const QString& orName, qint64 forParent)
{
    const pid_t parent = forParent > 0 ? pid_t(forParent) : ::getpid();
    QList<ProcessEntry> found;
    for (const ProcessEntry& e : ProcessTable::descendants(parent))
        if (!e.isEnded() && !name.isNull() && nameMatches(e.name, name, orName))
            found.append(e);
    return found.isEmpty() ? 0 : newest(found, true).pid;
}

ChildProcessRecord IProcController::childProcessName(
    const QString& name, const QString& orName, qint64 forParent, bool last)
{
    const pid_t parent = forParent > 0 ? pid_t(forParent) : ::getpid();
    QList<ProcessEntry> found;
    for (const ProcessEntry& e : ProcessTable::children(parent))
        if (nameMatches(e.name, name, orName))
            found.append(e);
    if (found.isEmpty())
        return {};
    const ProcessEntry e = newest(found, last);
    return { e.pid, e.name.left(127) };
}

QString IProcController::generateUUID()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

// ---------------------------------------------------------------- instance side

IProcController::IProcController() = default;
IProcController::~IProcController() = default;

std::unique_ptr<IProcController> IProcController::createWithProject(IProject* project, QObject* controller)
{
    auto c = std::make_unique<IProcController>();
    c->setController(controller);
    c->setProject(project);
    return c;
}

void IProcController::setProject(IProject* project)
{
    if (m_project != project)
        m_project = project;
}

void IProcController::setController(QObject* controller)
{
    if (m_controller != controller)
        m_controller = controller;
}

void IProcController::setExecutiveProcess(const ExecutiveProcess& process)
{
    if (m_project)
        if (IProcessCard* card = m_project->processCard())
            card->setExecutiveProcess(process);
}

ExecutiveProcess IProcController::executiveProcess() const
{
    if (m_project)
        if (IProcessCard* card = m_project->processCard())
            return card->executiveProcess();
    return ExecutiveProcess();
}

QString IProcController::qvProcPath()
{
    const QString path = AppPaths::resourcePath(QStringLiteral("qv_proc"));
    struct stat st
    {
    };
    const QByteArray p = encoded(path);
    if (::stat(p.constData(), &st) == 0 && S_ISREG(st.st_mode) && ::access(p.constData(), X_OK) == 0)
        return path;
    return QString();
}

bool IProcController::startClone(const QVariant&)
{
    return false;
}
void IProcController::processFinished(const QVariant&) { }
void IProcController::ITProcessFinished(const QVariant&) { }
void IProcController::QVProcStartInfoToLog(IProject*) { }

void IProcController::ITProcessFinishedOnMain(const QVariant& argument)
{
    runOnMainAndWait([this, argument] { ITProcessFinished(argument); });
}
