#include "QvProcEngine.h"

#include "EngineOutput.h"
#include "ProgramFile.h"
#include "VolumeGroupClone.h"
#include "platform/NameCodec.h"
#include "platform/Subprocess.h"
#include "sync/SyncOutputParser.h"
#include "utilities/IUTF8Tool.h"
#include "utilities/JSONLookup.h"
#include "utilities/RsyncRoleTag.h"

#include <cerrno>
#include <fcntl.h>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace EngineOutput;

// Lines up to 1 MiB arrive whole; a longer one is cut once and reading goes on.
constexpr int64_t MaxLine = 1024 * 1024;
// Time a stopped child gets to end before it is killed.
constexpr int StopGraceMs = 3000;

const char* kInterfaceData = "Phases:InitParams:InterfaceDataList";

// Cuts one stream into lines for a handler (one per stream, on its reader thread).
class LineCutter
{
public:
    explicit LineCutter(QvProcEngine::LineHandler handler)
        : m_handler(std::move(handler))
        , m_work(size_t(MaxLine))
    {
        m_tool.setWorkBuffer(m_work.data(), int64_t(m_work.size()));
    }
    void feed(const char* data, size_t size)
    {
        m_tool.setSrcBuffer(data, int64_t(size));
        while (m_tool.getNextLine())
            m_handler(m_tool.workBuffer());
    }
    void finish()
    {
        if (m_tool.finish())
            m_handler(m_tool.workBuffer());
    }

private:
    QvProcEngine::LineHandler m_handler;
    std::vector<char> m_work;
    IUTF8Tool m_tool;
};

QString fromBytes(const char* text)
{
    return NameCodec::decode(text, qsizetype(std::strlen(text)));
}


bool endsWith(const char* line, const char* suffix)
{
    const size_t n = std::strlen(line), m = std::strlen(suffix);
    return n >= m && std::memcmp(line + n - m, suffix, m) == 0;
}

bool phaseFailed(const std::string& phase)
{
    EngineOutput::line("ii::", phase + " Phase not completed");
    return false;
}

} // namespace

std::string QvProcEngine::joinWords(const QStringList& words)
{
    std::string out;
    for (const QString& w : words) {
        if (!out.empty())
            out.push_back(' ');
        out += NameCodec::encodeStd(w);
    }
    return out;
}

void QvProcEngine::rsyncErrorLine(const char* line)
{
    if (!*line)
        return;
    SyncOutputParser parser;
    parser.prepare(1);
    parser.processLine(line);
    const quint32 status = parser.processStatus();
    if (status & (wesErrors | wesFatalErrors))
        EngineOutput::line("er::", line);
    else if (status & wesWarnings)
        EngineOutput::line("wg::", line);
    else
        EngineOutput::line("st::", line);
}

QStringList QvProcEngine::splitParams(const std::string& params)
{
    QStringList words;
    size_t i = 0;
    while (i < params.size()) {
        while (i < params.size() && (params[i] == ' ' || params[i] == '\t'))
            ++i;
        const size_t start = i;
        while (i < params.size() && params[i] != ' ' && params[i] != '\t')
            ++i;
        if (i > start)
            words << NameCodec::decode(params.substr(start, i - start));
    }
    return words;
}

QString QvProcEngine::excludeWord(const std::string& value)
{
    auto trim = [](std::string s) {
        const size_t b = s.find_first_not_of(" \t");
        if (b == std::string::npos)
            return std::string();
        const size_t e = s.find_last_not_of(" \t");
        return s.substr(b, e - b + 1);
    };
    std::string s = value;
    if (s.rfind("NOE::", 0) == 0)
        s = s.substr(5);
    s = trim(s);
    static const std::string option = "--exclude-from=";
    if (s.rfind(option, 0) == 0)
        s = trim(s.substr(option.size()));
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"')
        s = s.substr(1, s.size() - 2);
    if (s.empty())
        return QString();
    return QStringLiteral("--exclude-from=") + NameCodec::decode(s);
}

QStringList QvProcEngine::excludeArguments(cJSON* data)
{
    QStringList words;
    if (cJSON* ex = get_param_item(data, "exArgs"); ex && cJSON_IsArray(ex)) {
        cJSON* item = nullptr;
        cJSON_ArrayForEach(item, ex)
        {
            if (const char* s = cJSON_GetStringValue(item); s && *s)
                words << fromBytes(s);
        }
    }
    for (const char* key : { "exFile1Path", "exFile2Path" })
        if (const QString w = excludeWord(paramString(data, key, "")); !w.isEmpty())
            words << w;
    return words;
}

QvProcEngine::ChildEnd QvProcEngine::runCommand(
    const QStringList& argv, const LineHandler& out, const LineHandler& err)
{
    const std::vector<ChildEnd> ends = runPipeline({ argv }, out, { err });
    return ends.empty() ? ChildEnd() : ends.front();
}

std::vector<QvProcEngine::ChildEnd> QvProcEngine::runPipeline(
    const QList<QStringList>& commands, const LineHandler& out, const QList<LineHandler>& errors)
{
    const qsizetype n = commands.size();
    std::vector<ChildEnd> ends(static_cast<size_t>(n));
    if (n == 0 || stopRequested())
        return ends;
    for (const QStringList& argv : commands)
        if (argv.isEmpty())
            return ends;
    std::string shown;
    for (const QStringList& argv : commands)
        shown += (shown.empty() ? "" : " | ") + joinWords(argv);
    EngineOutput::line("ii::command_line ", shown);

    std::vector<std::unique_ptr<Subprocess>> children;
    std::vector<std::shared_ptr<LineCutter>> cutters;
    int previousRead = -1;
    bool startFailed = false;
    for (qsizetype i = 0; i < n; ++i) {
        const QStringList& argv = commands.at(i);
        auto child = std::make_unique<Subprocess>();
        auto errCut = std::make_shared<LineCutter>(errors.value(i, LineHandler(rsyncErrorLine)));
        cutters.push_back(errCut);
        child->setStderrHandler([errCut](const char* d, size_t s) { errCut->feed(d, s); });
        child->setStderrEndHandler([errCut] { errCut->finish(); });
        Subprocess::Options o;
        o.program = argv.first();
        o.arguments = argv.mid(1);
        o.toolLocale = true;
        // Every member stays in the engine's group: every stop of the group reaches it too.
        o.joinProcessGroup = ::getpgrp();
        o.stdinFd = previousRead;
        int pipeEnds[2] = { -1, -1 };
        if (i + 1 < n) {
            if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
                EngineOutput::line("er::", std::string("Cannot make a pipe: ") + std::strerror(errno));
                startFailed = true;
            }
            o.stdoutFd = pipeEnds[1];
        } else {
            auto outCut = std::make_shared<LineCutter>(out);
            cutters.push_back(outCut);
            child->setStdoutHandler([outCut](const char* d, size_t s) { outCut->feed(d, s); });
            child->setStdoutEndHandler([outCut] { outCut->finish(); });
        }
        QString why;
        if (!startFailed && !child->start(o, &why)) {
            EngineOutput::line(
                "er::", "Cannot start " + NameCodec::encodeStd(argv.first()) + ": " + why.toStdString());
            startFailed = true;
        }
        // The children hold their own copies of the pipe now.
        if (previousRead >= 0)
            ::close(previousRead);
        if (pipeEnds[1] >= 0)
            ::close(pipeEnds[1]);
        previousRead = pipeEnds[0];
        if (startFailed) {
            if (previousRead >= 0)
                ::close(previousRead);
            break;
        }
        ends[size_t(i)].started = true;
        children.push_back(std::move(child));
    }

    // Waits for every member; a stop (or a member that could not start) ends them all.
    auto stopAll = [&] {
        for (auto& c : children)
            if (c->isRunning())
                ::kill(c->pid(), SIGTERM);
        // Their own children share the group: when the engine leads it, they are stopped too
        // (the engine's handler only notes the stop it already knows of).
        if (stopRequested() && ::getpgrp() == ::getpid())
            ::kill(-::getpgrp(), SIGTERM);
        for (auto& c : children) {
            if (!c->waitForFinished(StopGraceMs)) {
                ::kill(c->pid(), SIGKILL);
                c->waitForFinished();
            }
        }
    };
    bool stopped = false;
    if (startFailed) {
        stopAll();
    } else {
        for (;;) {
            Subprocess* running = nullptr;
            for (auto& c : children)
                if (!running && c->isRunning())
                    running = c.get();
            if (!running)
                break;
            if (stopRequested()) {
                stopAll();
                stopped = true;
                break;
            }
            running->waitForFinished(50);
        }
    }
    for (size_t i = 0; i < children.size(); ++i) {
        children[i]->waitForFinished();
        ends[i].exitCode = children[i]->exitCode();
        ends[i].signal = children[i]->exitSignal();
        ends[i].stopped = stopped || stopRequested();
    }
    return ends;
}

int QvProcEngine::run(int argc, char** argv)
{
    installStopHandlers();
    // The first line, before anything can start a child: the caller's stop finds the engine.
    if (!EngineOutput::line("qv_proc_pid ", std::to_string(long(::getpid()))))
        return 3;
    if (argc < 2) {
        EngineOutput::line("er::", "Usage: qv_proc PROGRAM.json [STARTPARAMS]");
        return 2;
    }
    ProgramFile program;
    std::string error;
    if (!program.load(argv[1], &error)) {
        EngineOutput::line("er::", error);
        return 2;
    }
    if (argc > 2) {
        // Start parameters are accepted as a JSON object; none of their members is used yet.
        cJSON* start = cJSON_Parse(argv[2]);
        const bool ok = start && cJSON_IsObject(start);
        cJSON_Delete(start);
        if (!ok) {
            EngineOutput::line("er::", "Start parameters are not a JSON object");
            return 2;
        }
    }
    cJSON* data = get_param_item(program.root(), kInterfaceData);
    cJSON* phases = get_param_item(program.root(), "Phases:PhaseList");
    if (!data || !cJSON_IsObject(data) || !phases || !cJSON_IsArray(phases)
        || cJSON_GetArraySize(phases) == 0) {
        EngineOutput::line("er::", "Program file " + std::string(argv[1]) + ": no phases");
        return 2;
    }
    cJSON* phase = nullptr;
    cJSON_ArrayForEach(phase, phases)
    {
        if (stopRequested())
            return 4;
        const char* name = cJSON_GetStringValue(phase);
        if (!name || !runPhase(name, data))
            return stopRequested() ? 4 : 1;
    }
    if (stopRequested())
        return 4;
    return EngineOutput::line("ic:: end") ? 0 : 4;
}

bool QvProcEngine::runPhase(const std::string& phase, cJSON* data)
{
    bool ok = false;
    if (phase == "synchronize")
        ok = phaseSynchronize(data);
    else if (phase == "clone_RSYNC")
        ok = phaseCloneRsync(data);
    else if (phase == "clone_ASR")
        ok = phaseCloneAsr(data);
    else
        EngineOutput::line("er::", "Unknown phase " + phase);
    if (!ok && !stopRequested())
        phaseFailed(phase);
    return ok;
}

bool QvProcEngine::phaseSynchronize(cJSON* data)
{
    const std::string tool = paramString(data, "toolPath", "");
    const std::string source = paramString(data, "SourceFolder:Path", "");
    const std::string dest = paramString(data, "DestFolder:Path", "");
    if (tool.empty() || source.empty() || dest.empty()) {
        EngineOutput::line("er::", "The program names no tool, source or destination");
        return false;
    }
    // A dry run, whatever the options say: "-n" first.
    QStringList args { fromBytes(tool.c_str()), QStringLiteral("-n") };
    args << splitParams(paramString(data, "Params", ""));
    args << excludeArguments(data);
    args << fromBytes((source.back() == '/' ? source : source + "/").c_str()) << fromBytes(dest.c_str());

    // Progress: the items after rsync's "N files to consider" against N.
    struct Progress
    {
        std::mutex mutex;
        unsigned long total = 0;
        unsigned long items = 0;
        int shown = -1;
    };
    auto progress = std::make_shared<Progress>();
    auto item = [progress](const char* line) {
        if (!*line)
            return;
        EngineOutput::line("wi::", line);
        std::lock_guard lock(progress->mutex);
        if (endsWith(line, " files to consider")) {
            progress->total = std::strtoul(line, nullptr, 10);
            return;
        }
        if (progress->total == 0)
            return;
        ++progress->items;
        const int percent = int(std::min<unsigned long>(100, progress->items * 100 / progress->total));
        if (percent != progress->shown) {
            progress->shown = percent;
            EngineOutput::line("pi::", std::to_string(percent));
        }
    };
    // The file-list counts ("N files...") come separated by carriage returns: each is a line of
    // its own. Names never hold a raw one (rsync writes it as "\#015").
    auto out = [item](const char* line) {
        if (!std::strchr(line, '\r')) {
            item(line);
            return;
        }
        std::string segment;
        for (const char* p = line;; ++p) {
            if (*p == '\r' || *p == '\0') {
                item(segment.c_str());
                segment.clear();
                if (!*p)
                    break;
            } else {
                segment.push_back(*p);
            }
        }
    };
    return rsyncEnded(runCommand(args, out, rsyncErrorLine), "some files were not compared", "");
}

bool QvProcEngine::rsyncEnded(const ChildEnd& end, const std::string& skipped, const std::string& failed)
{
    if (!end.started || end.stopped)
        return false;
    if (end.signal == 0 && end.exitCode == 0)
        return true;
    if (end.signal == 0 && (end.exitCode == 23 || end.exitCode == 24)) {
        EngineOutput::line("wg::", "rsync ended with code " + std::to_string(end.exitCode) + ": " + skipped);
        return true;
    }
    if (end.signal != 0)
        EngineOutput::line("er::", failed + "rsync was ended by signal " + std::to_string(end.signal));
    else
        EngineOutput::line("er::", failed + "rsync failed with code " + std::to_string(end.exitCode));
    return false;
}

bool QvProcEngine::phaseCloneRsync(cJSON* data)
{
    VolumeGroupClone clone(data);
    return clone.byCopy();
}

bool QvProcEngine::phaseCloneAsr(cJSON* data)
{
    VolumeGroupClone clone(data);
    return clone.byImage();
}
