#include "sync/IQVProc.h"

#include "platform/AppPaths.h"
#include "platform/MainThread.h"
#include "platform/NameCodec.h"
#include "platform/PlistBridge.h"
#include "platform/PrivilegeBackend.h"
#include "platform/RootProcess.h"
#include "platform/Subprocess.h"
#include "projects/IProcessCard.h"
#include "sync/ISynchron.h"
#include "utilities/IAuthorizer.h"
#include "utilities/IProcController.h"
#include "utilities/IUTF8Tool.h"
#include "utilities/TempFolder.h"

#include <QCoreApplication>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Lines up to 1 MiB arrive whole (an item line of a long path with escaped bytes is about
// 16 KB); a longer one is cut once.
constexpr int64_t MaxLine = 1024 * 1024;

QString tr(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

bool startsWith(const char* s, const char* prefix)
{
    return std::strncmp(s, prefix, std::strlen(prefix)) == 0;
}

bool endsWith(const char* s, const char* suffix)
{
    const size_t n = std::strlen(s), m = std::strlen(suffix);
    return n >= m && std::memcmp(s + n - m, suffix, m) == 0;
}

QString text(const char* bytes)
{
    return NameCodec::decode(bytes, qsizetype(std::strlen(bytes)));
}

// Writes the whole text to a new file in this process's private folder (0700); the file is
// 0600 and closed before the engine starts. Empty on failure.
QString writeProgramFile(const QByteArray& content, bool txtSuffix, QString* error)
{
    std::string why;
    std::string path = TempFolder::bareName(TempFolder::defaultBase(), &why);
    if (path.empty()) {
        *error = QString::fromStdString(why);
        return QString();
    }
    if (txtSuffix)
        path += ".txt";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return QString();
    }
    const char* p = content.constData();
    qsizetype left = content.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *error = QString::fromLocal8Bit(std::strerror(errno));
            ::close(fd);
            ::unlink(path.c_str());
            return QString();
        }
        p += n;
        left -= n;
    }
    if (::close(fd) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        ::unlink(path.c_str());
        return QString();
    }
    return NameCodec::decode(path);
}

} // namespace

struct IQVProc::LineState
{
    LineState()
        : work(size_t(MaxLine))
    {
        tool.setWorkBuffer(work.data(), int64_t(work.size()));
    }
    std::vector<char> work;
    IUTF8Tool tool;
};

// Analysis items travel to the main thread in batches: the reader appends, and only the first
// item of an empty queue posts a drain. A drain takes at most MaxBatch items and posts the next
// drain itself, so a long listing never holds the main thread's event loop for long.
struct IQVProc::ItemQueue
{
    static constexpr size_t MaxBatch = 2048;

    std::mutex mutex;
    std::vector<QByteArray> items;
    bool posted = false;

    static void push(const std::shared_ptr<ItemQueue>& queue, Client* client, QByteArray item)
    {
        {
            std::lock_guard lock(queue->mutex);
            queue->items.push_back(std::move(item));
            if (queue->posted)
                return;
            queue->posted = true;
        }
        post(queue, client);
    }

    static void post(const std::shared_ptr<ItemQueue>& queue, Client* client)
    {
        runOnMain([queue, client] {
            if (drain(queue, client, MaxBatch))
                post(queue, client);
        });
    }

    // Hands up to limit items to the client (main thread); true when more are waiting and this
    // drain keeps the queue's post.
    static bool drain(const std::shared_ptr<ItemQueue>& queue, Client* client, size_t limit)
    {
        std::vector<QByteArray> batch;
        bool more = false;
        {
            std::lock_guard lock(queue->mutex);
            if (queue->items.size() <= limit) {
                batch.swap(queue->items);
                queue->posted = false;
            } else {
                const auto end = queue->items.begin() + std::ptrdiff_t(limit);
                batch.assign(std::make_move_iterator(queue->items.begin()), std::make_move_iterator(end));
                queue->items.erase(queue->items.begin(), end);
                more = true;
            }
        }
        if (!batch.empty())
            client->QVProcWorkInfoBatch(batch);
        return more;
    }
};

std::shared_ptr<IQVProc> IQVProc::startProject(const std::shared_ptr<ISynchron>& project, Client* client)
{
    if (!project || !client)
        return nullptr;
    auto runner = std::make_shared<IQVProc>(project, client);
    if (!runner->start())
        return nullptr;
    return runner;
}

IQVProc::IQVProc(const std::shared_ptr<ISynchron>& project, Client* client)
    : m_project(project)
    , m_client(client)
    , m_out(std::make_unique<LineState>())
    , m_err(std::make_unique<LineState>())
    , m_items(std::make_shared<ItemQueue>())
{ }

IQVProc::~IQVProc()
{
    removeProgramFile();
}

IProcessCard* IQVProc::card() const
{
    return m_project ? m_project->processCard() : nullptr;
}

QString IQVProc::destinationDevice() const
{
    std::lock_guard lock(m_mutex);
    return m_device;
}

QString IQVProc::programTemplateForKey(const QString& key)
{
    const PlistBridge::ReadResult r
        = PlistBridge::readFile(AppPaths::resourcePath(QStringLiteral("TemplateProc.plist")));
    if (r.status != PlistBridge::ReadStatus::Ok)
        return QString();
    const QVariant v = r.value.toMap().value(key);
    if (v.typeId() != QMetaType::QString)
        return QString();
    return v.toString();
}

void IQVProc::message(const QString& text, quint64 options)
{
    if (m_project)
        m_project->processMessage(LogText(text), options, nullptr);
}

bool IQVProc::start()
{
    IProcessCard* c = card();
    if (!c || !m_client)
        return false;
    auto failStart = [&](const ProcessCardFlag& error, const ProcessCardFlag& reason) {
        c->add(stateFinished);
        c->add(reason);
        c->add(error);
        return false;
    };
    // Prepared for the run: no error or reason left from an earlier one.
    c->set(errorClear);
    c->set(reasonClear);
    c->set(phaseWorking);
    c->set(stateRunning);
    {
        std::lock_guard lock(m_mutex);
        m_device.clear();
    }

    m_programKey = m_client->QVProcGetParamsTemplateNameForProject(*m_project);
    m_clone = m_programKey.startsWith(QLatin1String("clone"));
    m_asRoot = m_clone || m_project->isUseAdminPrivilegesForPass(-1);
    if (m_asRoot && !IAuthorizer::shared().authorize()) {
        message(tr("Autorization could not be created."), 18242);
        return failStart(errorAuthorization, reasonTerminatedByUser);
    }
    const QString templ = programTemplateForKey(m_programKey);
    if (templ.isEmpty()) {
        message(tr("Program template \"%1\" not found.").arg(m_programKey), 18241);
        return failStart(errorToolStart, reasonTerminatedByErrors);
    }
    QByteArray minified = templ.toUtf8();
    cJSON_Minify(minified.data());
    cJSON* program = cJSON_Parse(minified.constData());
    if (!program) {
        message(QStringLiteral("Error cJSON_Parse: %1").arg(m_programKey), 18242);
        return failStart(errorToolStart, reasonTerminatedByErrors);
    }
    cJSON* startParams = cJSON_CreateObject();
    const bool filled = m_client->QVProcInitParamsForProject(*m_project, program, startParams);
    char* printed = filled ? cJSON_Print(program) : nullptr;
    // Start parameters go out only when they hold members.
    QByteArray startText;
    if (filled && cJSON_GetArraySize(startParams) > 0) {
        char* s = cJSON_PrintUnformatted(startParams);
        startText = s ? QByteArray(s) : QByteArray();
        cJSON_free(s);
    }
    cJSON_Delete(program);
    cJSON_Delete(startParams);
    if (!printed)
        return failStart(errorToolStart, reasonTerminatedByErrors);
    QString error;
    m_programPath
        = writeProgramFile(QByteArray(printed), m_programKey == QLatin1String("synchronize"), &error);
    cJSON_free(printed);
    if (m_programPath.isEmpty()) {
        message(tr("The program of the engine could not be written: %1").arg(error), 18242);
        return failStart(errorToolStart, reasonTerminatedByErrors);
    }
    m_client->QVProcStartInfoToLog(*m_project);

    const QString engine = IProcController::qvProcPath();
    if (engine.isEmpty()) {
        message(tr("Tool qv_proc not found"), 18242);
        removeProgramFile();
        return failStart(errorToolStart, reasonTerminatedByErrors);
    }
    if (!startEngine(m_asRoot, engine, m_programPath, startText)) {
        removeProgramFile();
        return false;
    }
    return true;
}

bool IQVProc::startEngine(
    bool asRoot, const QString& enginePath, const QString& programPath, const QByteArray& startParams)
{
    IProcessCard* c = card();
    // Cleared before the start: the reader may take the engine's first error before start()
    // returns here.
    c->set(errorClear);
    c->set(stateRunning);
    QStringList args { programPath };
    if (!startParams.isEmpty())
        args << QString::fromUtf8(startParams);
    auto out = [this](const char* d, size_t n) { readOutput(d, n); };
    auto err = [this](const char* d, size_t n) { readErrors(d, n); };
    pid_t group = 0;
    if (asRoot) {
        m_root = std::make_unique<RootProcess>();
        m_root->setOutputHandler(out);
        m_root->setErrorHandler(err);
        PrivilegeBackend::RootCommand command;
        command.arguments = QStringList { enginePath } + args;
        command.mergeStderr = false;
        QString why;
        if (!m_root->start(command, &why)) {
            const bool cannotExecute = m_root->failure() == RootProcess::CannotExecute;
            message(cannotExecute ? tr("The engine could not be started: %1").arg(why)
                                  : tr("Autorization error %1").arg(m_root->failure()),
                18242);
            c->set(reasonTerminatedByErrors);
            c->add(cannotExecute ? errorToolStart : errorAuthorization);
            c->add(stateFinished);
            m_root.reset();
            return false;
        }
        group = m_root->rootGroup();
    } else {
        m_user = std::make_unique<Subprocess>();
        m_user->setStdoutHandler(out);
        m_user->setStderrHandler(err);
        Subprocess::Options o;
        o.program = enginePath;
        o.arguments = args;
        o.toolLocale = true;
        QString why;
        if (!m_user->start(o, &why)) {
            message(tr("The engine could not be started: %1").arg(why), 18242);
            c->set(reasonTerminatedByErrors);
            c->add(errorToolStart);
            c->add(stateFinished);
            m_user.reset();
            return false;
        }
        group = m_user->processGroup();
    }
    m_client->engineStarted(QStringList { enginePath } + args, group);
    // The end of the output is waited for on a thread of its own, which keeps the runner alive
    // until the controller was told.
    std::shared_ptr<IQVProc> self = shared_from_this();
    std::thread([self] {
        if (self->m_root)
            self->m_root->waitForFinished(-1);
        else
            self->m_user->waitForFinished(-1);
        self->endOfOutput();
        // Released on the main thread, after everything this run posted there.
        std::shared_ptr<IQVProc> keep = self;
        runOnMain([keep]() mutable { keep.reset(); });
    }).detach();
    return true;
}

void IQVProc::readOutput(const char* data, size_t size)
{
    m_out->tool.setSrcBuffer(data, int64_t(size));
    while (m_out->tool.getNextLine())
        processLine(m_out->tool.workBuffer());
}

void IQVProc::readErrors(const char* data, size_t size)
{
    m_err->tool.setSrcBuffer(data, int64_t(size));
    while (m_err->tool.getNextLine())
        if (*m_err->tool.workBuffer())
            message(text(m_err->tool.workBuffer()), 18242);
}

void IQVProc::processLine(const char* line)
{
    IProcessCard* c = card();
    if (!c || c->isFlag(stateFinished))
        return;
    const char* rest = std::strlen(line) >= 4 ? line + 4 : "";
    if (c->isOnlyFlag(phaseFinishing)) {
        // After a stop only the outcome of a step the engine completes anyway is read: the device
        // that now exists, or why it does not.
        if (startsWith(line, "id::"))
            readDevice(rest);
        else if (startsWith(line, "er::"))
            message(text(rest), 18242);
        return;
    }
    if (startsWith(line, "qv_proc_pid")) {
        const long pid = std::strlen(line) > 11 ? std::strtol(line + 11, nullptr, 10) : 0;
        if (pid > 0) {
            m_processID.store(pid);
            c->setExecutiveProcess(ExecutiveProcess::make(uint64_t(pid), QStringLiteral("qv_proc")));
        }
    } else if (startsWith(line, "id::")) {
        readDevice(rest);
    } else if (startsWith(line, "pi::")) {
        const double v = std::strtod(rest, nullptr);
        if (m_project)
            m_project->setIndicatorPosition(v);
    } else if (startsWith(line, "ic::") && endsWith(line, "end")) {
        c->add(stateFinished);
        c->add(reasonCompleted);
    } else if (startsWith(line, "wp::")) {
        message(text(rest), 18274);
    } else if (startsWith(line, "er::")) {
        c->add(errorRuntime);
        message(text(rest), 18242);
    } else if (startsWith(line, "wg::")) {
        c->add(warningRuntime);
        message(text(rest), 18306);
    } else if (startsWith(line, "ii::") && endsWith(line, "Phase not completed")) {
        message(tr("Commandline Util: The process terminated unexpectedly 2"), 18242);
        c->add(reasonTerminatedByUnknownReason);
        c->add(errorRuntime);
    } else if (startsWith(line, "ii::command_line")) {
        message(tr("command line: %1").arg(text(std::strlen(line) > 17 ? line + 17 : "")), 1921);
    } else if (startsWith(line, "wi::")) {
        if (c->isFlag(taskAnalyze)) {
            ItemQueue::push(m_items, m_client, QByteArray(rest));
        } else {
            message(text(rest), 16418);
        }
    } else if (startsWith(line, "st::")) {
        message(text(rest), 18242);
    }
}

void IQVProc::readDevice(const char* json)
{
    cJSON* parsed = cJSON_Parse(json);
    if (const char* device = cJSON_GetStringValue(cJSON_GetObjectItemCaseSensitive(parsed, "device"))) {
        std::lock_guard lock(m_mutex);
        m_device = text(device);
    }
    cJSON_Delete(parsed);
}

void IQVProc::endOfOutput()
{
    if (m_out->tool.finish())
        processLine(m_out->tool.workBuffer());
    // The engine's device names only the destination of this clone run. It names a volume that
    // exists, so the second place follows it whether the clone completed, failed later or was
    // stopped while the engine finished replacing the destination.
    const QString device = destinationDevice();
    if (m_clone && !device.isEmpty()) {
        std::shared_ptr<ISynchron> project = m_project;
        runOnMainAndWait([project, device] { project->ITCorrectDestinationDevice(device); });
    }
    IProcessCard* c = card();
    if (c) {
        c->add(stateFinished);
        if (c->isFlag(reasonTerminatedByUser)) {
            message(tr("Terminated by user"), 18273);
        } else if (!c->isFlag(reasonCompleted)) {
            message(tr("Commandline Util: The process terminated unexpectedly"), 18242);
            c->add(reasonTerminatedByUnknownReason);
            c->add(errorRuntime);
        }
    }
    removeProgramFile();
    m_finished.store(true);
    Client* client = m_client;
    // Items still queued (a drain may be posted behind this end) go first.
    std::shared_ptr<ItemQueue> items = m_items;
    runOnMainAndWait([client, items] {
        ItemQueue::drain(items, client, SIZE_MAX);
        client->ITProcessFinished();
    });
}

void IQVProc::removeProgramFile()
{
    std::lock_guard lock(m_mutex);
    if (!m_programPath.isEmpty())
        ::unlink(NameCodec::encode(m_programPath).constData());
}

void IQVProc::terminateByUser()
{
    if (IProcessCard* c = card()) {
        c->set(phaseFinishing);
        c->add(reasonTerminatedByUser);
    }
    message(tr("Terminating..."), 16417);
    terminate();
}

bool IQVProc::terminate()
{
    if (m_finished.load())
        return false;
    if (m_user) {
        m_user->terminate();
        return true;
    }
    if (m_root) {
        if (m_stopping.exchange(true))
            return true;
        // The root runner's stop waits for the end; it runs beside the reader.
        std::shared_ptr<IQVProc> self = shared_from_this();
        // The grace lets an engine that is replacing a destination volume finish that step.
        std::thread([self] { self->m_root->stop(10000); }).detach();
        return true;
    }
    return false;
}
