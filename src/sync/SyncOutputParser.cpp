#include "sync/SyncOutputParser.h"

#include "utilities/LogOptions.h"
#include "utilities/RsyncRoleTag.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

bool begins(const char* line, const char* prefix)
{
    return std::strncmp(line, prefix, std::strlen(prefix)) == 0;
}

bool ends(const char* line, const char* suffix)
{
    const size_t n = std::strlen(line);
    const size_t m = std::strlen(suffix);
    return n >= m && std::memcmp(line + n - m, suffix, m) == 0;
}

// The option words of this classifier, by number as the log sink knows them.
constexpr quint64 kRunLogUtf8 = LogWord::RunLogPrefixedUtf8; // 1922
constexpr quint64 kWindowUtf8 = LogWord::WindowPrefixedNowUtf8; // 18242
constexpr quint64 kRunLogNowUtf8
    = (LogWord::RunLogPrefixedNow & ~LogOption::String) | LogOption::Utf8; // 18306
constexpr quint64 kNameStatus = LogOption::Utf8 | LogOption::Status; // 34
static_assert(kRunLogNowUtf8 == 18306 && kNameStatus == 34);

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// A transfer-speed line: four words or more, the third ending "/s", the fourth holding ":" three
// characters before its end ("  32,768 100%   31.25MB/s    0:00:00").
bool isSpeedLine(const char* line)
{
    const char* start[4];
    size_t length[4];
    int count = 0;
    const char* p = line;
    while (*p && count < 4) {
        while (isBlank(*p))
            ++p;
        if (!*p)
            break;
        start[count] = p;
        while (*p && !isBlank(*p))
            ++p;
        length[count] = size_t(p - start[count]);
        ++count;
    }
    if (count < 4)
        return false;
    return length[2] >= 2 && std::strncmp(start[2] + length[2] - 2, "/s", 2) == 0 && length[3] >= 3
        && start[3][length[3] - 3] == ':';
}

// N, R and T of "(xfr#N, to-chk=R/T)" read from the text; false when it is not in that form.
bool readTransferCounters(const char* at, unsigned long* n, double* r, double* t)
{
    if (!begins(at, "(xfr#"))
        return false;
    char* end = nullptr;
    *n = std::strtoul(at + 5, &end, 10);
    if (end == at + 5 || !begins(end, ", to-chk="))
        return false;
    const char* q = end + 9;
    *r = std::strtod(q, &end);
    if (end == q || *end != '/')
        return false;
    q = end + 1;
    *t = std::strtod(q, &end);
    return end != q;
}

} // namespace

SyncOutputParser::SyncOutputParser(Sink* sink)
    : m_sink(sink)
{
    for (Stream* s : { &m_out, &m_err }) {
        s->work.resize(size_t(IUTF8Tool::kWorkBufferSize));
        s->tool.setWorkBuffer(s->work.data(), IUTF8Tool::kWorkBufferSize);
    }
    m_untagged.reserve(size_t(IUTF8Tool::kWorkBufferSize));
}

void SyncOutputParser::prepare(int passCount, bool cloneRules)
{
    std::lock_guard lock(m_mutex);
    m_passCount = passCount > 0 ? passCount : 1;
    m_cloneRules = cloneRules;
    m_pass = 0;
    m_processStatus = wesClear;
    m_processErrorAccumulator = peaClear;
    _processedLineCount = _lineCount = _dirCount = 0;
    _deletingStarted = _copingStarted = _statisticStarted = _isLastStringOut = false;
    for (Stream* s : { &m_out, &m_err }) {
        s->tool.reset();
        s->tool.setWorkBuffer(s->work.data(), IUTF8Tool::kWorkBufferSize);
    }
}

void SyncOutputParser::startPass(int pass)
{
    std::lock_guard lock(m_mutex);
    m_pass = pass;
    _processedLineCount = _lineCount = _dirCount = 0;
    _deletingStarted = _copingStarted = _statisticStarted = _isLastStringOut = false;
    for (Stream* s : { &m_out, &m_err }) {
        s->tool.reset();
        s->tool.setWorkBuffer(s->work.data(), IUTF8Tool::kWorkBufferSize);
    }
}

void SyncOutputParser::feed(const char* data, size_t size, bool stdError)
{
    std::lock_guard lock(m_mutex);
    Stream& s = stdError ? m_err : m_out;
    if (m_sink && m_sink->parserIndicator() < 1)
        m_sink->parserSetIndicator(1);
    s.tool.setSrcBuffer(data, int64_t(size));
    while (s.tool.getNextLine())
        processLineLocked(s.tool.workBuffer());
}

void SyncOutputParser::finishStream(bool stdError)
{
    std::lock_guard lock(m_mutex);
    Stream& s = stdError ? m_err : m_out;
    if (s.tool.finish())
        processLineLocked(s.tool.workBuffer());
}

void SyncOutputParser::processLine(const char* line)
{
    std::lock_guard lock(m_mutex);
    processLineLocked(line);
}

quint32 SyncOutputParser::processStatus() const
{
    std::lock_guard lock(m_mutex);
    return m_processStatus;
}

quint64 SyncOutputParser::processErrorAccumulator() const
{
    std::lock_guard lock(m_mutex);
    return m_processErrorAccumulator;
}

void SyncOutputParser::addProcessStatus(quint32 bits)
{
    std::lock_guard lock(m_mutex);
    m_processStatus |= bits;
}

bool SyncOutputParser::isLastStringOut() const
{
    std::lock_guard lock(m_mutex);
    return _isLastStringOut;
}

double SyncOutputParser::processedLineCount() const
{
    std::lock_guard lock(m_mutex);
    return _processedLineCount;
}

double SyncOutputParser::lineCount() const
{
    std::lock_guard lock(m_mutex);
    return _lineCount;
}

double SyncOutputParser::dirCount() const
{
    std::lock_guard lock(m_mutex);
    return _dirCount;
}

void SyncOutputParser::message(const LogText& text, quint64 options)
{
    if (m_sink)
        m_sink->parserMessage(text, options);
}

void SyncOutputParser::updateIndicator()
{
    if (!m_sink || _lineCount == 0)
        return;
    const double span = 100.0 / double(m_passCount);
    // Folder lines may count past the total: a pass never goes beyond its own share.
    const double done = std::min(1.0, _processedLineCount / _lineCount);
    // The indicator only moves forward within a run: the first counted line would otherwise
    // take it back from the 1 shown at the first output to 0.
    const double position = double(m_pass) * span + done * span;
    if (position > m_sink->parserIndicator())
        m_sink->parserSetIndicator(position);
}

void SyncOutputParser::processLineLocked(const char* line)
{
    updateIndicator();
    classify(RsyncRoleTag::strip(line, m_untagged), line);
}

void SyncOutputParser::classify(const char* line, const char* original)
{
    using namespace LogWord;
    if (begins(line, "ignoring unsafe")) {
        message(original, kRunLogUtf8);
        return;
    }
    if (begins(line, "deleting")) {
        if (!_deletingStarted) {
            _deletingStarted = true;
            message(tr("Deleting unnecessary files on Destination ..."), StatusAndWindow);
        }
        message(original, StatusNowUtf8);
        return;
    }
    if (begins(line, "building file list ...")) {
        message(tr("Building file list..."), StatusAndWindow);
        return;
    }
    if (ends(line, "files...")) {
        const unsigned long count = std::strtoul(line, nullptr, 10);
        if (count != 0)
            message(
                QStringLiteral("%1 %2").arg(tr("Building file list...")).arg(count).toUtf8(), StatusNowUtf8);
        return;
    }
    if (begins(line, "copyfile") || begins(line, "send_files failed to open")) {
        message(original, kRunLogUtf8);
        return;
    }
    if (ends(line, "/")) {
        _processedLineCount += 1;
        _dirCount += 1;
        return;
    }
    if (ends(line, "files to consider")) {
        _lineCount = std::strtod(line, nullptr);
        if (!_copingStarted) {
            _copingStarted = true;
            message(QString(tr("Copying files to Destination") + QStringLiteral("...")), StatusAndWindow);
        }
        return;
    }
    if (begins(line, "file has vanished:")) {
        m_processStatus |= wesWarnings;
        m_processErrorAccumulator |= peaSomeFilesVanished;
        message(original, kRunLogUtf8);
        return;
    }
    if (begins(line, "rsync")) {
        classifyRsync(line, original);
        return;
    }
    if (begins(line, "Number of files:")) {
        _statisticStarted = true;
        message(original, kWindowUtf8);
        return;
    }
    if (begins(line, "total size is")) {
        _isLastStringOut = true;
        message(original, kWindowUtf8);
        return;
    }
    if (_statisticStarted) {
        message(original, kWindowUtf8);
        return;
    }
    if (const char* at = std::strstr(line, "(xf")) {
        unsigned long n = 0;
        double r = 0, t = 0;
        if (readTransferCounters(at, &n, &r, &t) && m_cloneRules && t != 0) {
            // A clone checks every file: the share already checked is the progress.
            _lineCount = t;
            _processedLineCount = t - r;
        } else if (readTransferCounters(at, &n, &r, &t) && n != 0 && t != 0) {
            _lineCount = r + double(n);
            _processedLineCount = double(n);
        } else {
            _processedLineCount += 1;
        }
        return;
    }
    if (isSpeedLine(line))
        return;
    // A file name.
    if (!_copingStarted) {
        _copingStarted = true;
        message(QString(tr("Copying files to Destination") + QStringLiteral("...")), StatusAndWindow);
    }
    _processedLineCount += 1;
    if (m_cloneRules) {
        // A clone's names go to the log window; a bare number (a size rsync printed alone) is
        // no name.
        const char* c = line;
        while (*c >= '0' && *c <= '9')
            ++c;
        if (c == line || *c != '\0')
            message(original, kWindowUtf8);
        return;
    }
    message(original, kNameStatus);
}

void SyncOutputParser::classifyRsync(const char* line, const char* original)
{
    struct Rule
    {
        const char* text;
        bool suffix;
        quint32 status;
        quint64 klass;
        quint64 option;
        bool last;
    };
    static const Rule rules[] = {
        { "Operation not permitted (1)", true, wesWarnings, peaPermissionDenied, kRunLogNowUtf8, false },
        { "Permission denied (13)", true, wesWarnings, peaPermissionDenied, kWindowUtf8, false },
        { "No space left on device (28)", true, wesErrors | wesFatalErrors, peaNoSpaceLeft, kWindowUtf8,
            true },
        { "rsync: mkstemp", false, wesErrors, peaMKSTEMP, kWindowUtf8, false },
        { "rsync: send_files", false, wesWarnings, peaClear, kRunLogNowUtf8, false },
        { "Attribute not found (93)", true, wesWarnings, peaClear, kRunLogNowUtf8, false },
        { "rsync: recv_generator: mkdir", false, wesErrors, peaMKDIR, kWindowUtf8, false },
        { "rsync error: error in rsync protocol", false, wesErrors, peaErrorRsyncProtocol, kWindowUtf8,
            false },
        { "rsync error: error in file IO", false, wesErrors, peaErrorFileIO, kWindowUtf8, false },
        { "Input/output error (5)", true, wesErrors, peaInputOutputError, kWindowUtf8, false },
        { "rsync warning: some files vanished", false, wesWarnings, peaSomeFilesVanished, kRunLogNowUtf8,
            false },
        { "rsync error: some files could not be transferred", false, wesErrors, peaSomeFilesNotTransferred,
            kWindowUtf8, false },
        { "rsync: rsync_xal_set: lsetxattr", false, wesClear, peaClear, kWindowUtf8, false },
        { "rsync error: some files/attrs were not transferred", false, wesClear, peaClear, kWindowUtf8,
            false },
    };
    for (const Rule& rule : rules) {
        if (rule.suffix ? ends(line, rule.text) : begins(line, rule.text)) {
            m_processStatus |= rule.status;
            m_processErrorAccumulator |= rule.klass;
            if (rule.last)
                _isLastStringOut = true;
            message(original, rule.option);
            return;
        }
    }
    if (begins(line, "rsync error:"))
        m_processStatus |= wesErrors;
    message(original, kRunLogNowUtf8);
}

SyncOutputParser::Summary SyncOutputParser::printErrorAccumulatorToLog(const SummaryFacts& facts)
{
    using namespace LogWord;
    Summary summary;
    summary.processStatus = facts.processStatus;
    const quint64 a = facts.accumulator;
    auto ask = [](const std::function<bool()>& f) { return f ? f() : false; };
    if (!(facts.processStatus & wesErrors) && (a & peaSomeFilesVanished)) {
        summary.messages.append(
            { tr("Some files vanished before they could be transferred."), WindowPrefixedNow });
        return summary;
    }
    if (a & peaNoSpaceLeft) {
        summary.messages.append({ tr("Not enough space on Destination."), WindowPrefixedNow });
        return summary;
    }
    const quint64 ioClasses = peaMKDIR | peaMKSTEMP | peaInputOutputError | peaErrorFileIO
        | peaWriteFailedOnPath | peaSomeFilesNotTransferred;
    if (!(a & ioClasses))
        return summary;
    if (ask(facts.sourceUnavailable)) {
        summary.messages.append({ tr("Source is unavailable."), WindowPrefixedNow });
        summary.processStatus |= wesErrors;
        return summary;
    }
    if (ask(facts.destinationUnavailable)) {
        summary.messages.append({ tr("Destination is unavailable. Input/Output error."), WindowPrefixedNow });
        summary.processStatus |= wesErrors;
        return summary;
    }
    summary.messages.append({ tr("Some files could not be transferred."), RunLogPrefixedNow });
    if (a == peaSomeFilesNotTransferred || a == (peaSomeFilesNotTransferred | peaSomeFilesVanished))
        summary.processStatus = wesWarnings;
    return summary;
}
