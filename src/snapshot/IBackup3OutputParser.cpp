#include "snapshot/IBackup3OutputParser.h"

#include "utilities/IUTF8Tool.h"
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

bool contains(const char* line, const char* text)
{
    return std::strstr(line, text) != nullptr;
}

// Full log with time, name and run tag, refreshed, for a line given as UTF-8 bytes (18306).
constexpr quint64 kRunLogNowUtf8 = (LogWord::RunLogPrefixedNow & ~LogOption::String) | LogOption::Utf8;
static_assert(kRunLogNowUtf8 == 18306);

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// Splits up to max blank-separated tokens out of line; returns how many there were (max + 1
// when there are more than max).
int tokens(const char* line, const char** starts, size_t* lengths, int max)
{
    int count = 0;
    const char* p = line;
    while (*p) {
        while (isBlank(*p))
            ++p;
        if (!*p)
            break;
        const char* s = p;
        while (*p && !isBlank(*p))
            ++p;
        if (count == max)
            return max + 1;
        starts[count] = s;
        lengths[count] = size_t(p - s);
        ++count;
    }
    return count;
}

// The number behind a tag such as "to-chk=" inside [s, s + n): R and T of "to-chk=R/T)".
bool readFraction(const char* s, size_t n, const char* tag, double* r, double* t)
{
    const size_t tl = std::strlen(tag);
    if (n < tl || std::strncmp(s, tag, tl) != 0)
        return false;
    char* end = nullptr;
    const unsigned long long a = std::strtoull(s + tl, &end, 10);
    if (end == s + tl || *end != '/')
        return false;
    const char* b = end + 1;
    const unsigned long long c = std::strtoull(b, &end, 10);
    if (end == b)
        return false;
    *r = double(a);
    *t = double(c);
    return true;
}

} // namespace

IBackup3OutputParser::IBackup3OutputParser(Sink* sink)
    : m_sink(sink)
{
    m_untagged.reserve(IUTF8Tool::kWorkBufferSize);
}

void IBackup3OutputParser::setProgressShape(long units, long loopCount, bool restore)
{
    std::lock_guard lock(m_mutex);
    m_units = units > 0 ? units : 1;
    m_loopCount = loopCount > 0 ? loopCount : 1;
    m_restore = restore;
}

void IBackup3OutputParser::startPass(quint32 preProcessStatus)
{
    std::lock_guard lock(m_mutex);
    _processedLineCount = 0;
    _lineCount = 0;
    _deletingStarted = false;
    _copingStarted = false;
    _statisticStarted = false;
    _processStatus = preProcessStatus;
    _processErrorAccumulator = peaClear;
}

void IBackup3OutputParser::utilOutputProcess(IUTF8Tool& tool, bool /*stdError*/)
{
    std::lock_guard lock(m_mutex);
    while (tool.getNextLine())
        processLineLocked(tool.workBuffer());
}

void IBackup3OutputParser::finishStream(IUTF8Tool& tool, bool /*stdError*/)
{
    std::lock_guard lock(m_mutex);
    if (tool.finish())
        processLineLocked(tool.workBuffer());
}

void IBackup3OutputParser::processLine(const char* line)
{
    std::lock_guard lock(m_mutex);
    processLineLocked(line);
}

quint32 IBackup3OutputParser::processStatus() const
{
    std::lock_guard lock(m_mutex);
    return _processStatus;
}

quint64 IBackup3OutputParser::processErrorAccumulator() const
{
    std::lock_guard lock(m_mutex);
    return _processErrorAccumulator;
}

void IBackup3OutputParser::addProcessStatus(quint32 bits)
{
    std::lock_guard lock(m_mutex);
    _processStatus |= bits;
}

void IBackup3OutputParser::addProcessErrorAccumulator(quint64 bits)
{
    std::lock_guard lock(m_mutex);
    _processErrorAccumulator |= bits;
}

double IBackup3OutputParser::processedLineCount() const
{
    std::lock_guard lock(m_mutex);
    return _processedLineCount;
}

double IBackup3OutputParser::lineCount() const
{
    std::lock_guard lock(m_mutex);
    return _lineCount;
}

bool IBackup3OutputParser::isStatisticLine(const char* line)
{
    static const char* const prefixes[] = { "Number of ", "Total ",
        "Matched data:", "Literal data: ", "File list ", "Total bytes ", "total size is ", "sent " };
    for (const char* p : prefixes)
        if (begins(line, p))
            return true;
    return false;
}

void IBackup3OutputParser::message(const LogText& text, quint64 options)
{
    if (m_sink)
        m_sink->parserMessage(text, options);
}

void IBackup3OutputParser::updateProgress()
{
    if (!m_sink)
        return;
    const double n = double(m_units);
    const double base = double(m_loopCount - 1) * 100.0 / n;
    double position = base + 1;
    if (_lineCount != 0) {
        // Folder and name lines may count past the total; the pass never goes past its share.
        const double f = std::min(1.0, _processedLineCount / _lineCount);
        const double inc = f * 100.0 / n;
        if (inc >= 1)
            position = base + inc;
    }
    m_sink->parserProgress(position);
}

void IBackup3OutputParser::processLineLocked(const char* line)
{
    updateProgress();
    // "rsync: [sender] text" is classified as "rsync: text".
    classify(RsyncRoleTag::strip(line, m_untagged), line);
}

bool IBackup3OutputParser::isBareProgressLine(const char* line) const
{
    const char* s[5];
    size_t n[5];
    const int count = tokens(line, s, n, 4);
    if (count < 4)
        return false;
    const bool rate = n[2] >= 2 && std::strncmp(s[2] + n[2] - 2, "/s", 2) == 0;
    const bool time = n[3] >= 3 && s[3][n[3] - 3] == ':';
    return rate && time;
}

bool IBackup3OutputParser::parseProgressCounters(const char* line, bool* isProgress)
{
    *isProgress = false;
    const char* s[7];
    size_t n[7];
    if (tokens(line, s, n, 6) != 6 || n[5] < 4 || std::strncmp(s[5], "to-c", 4) != 0)
        return false;
    *isProgress = true;
    // "(xfr#N," and "to-chk=R/T)" (older rsync: "to-check=R/T)").
    double xfr = 0;
    if (n[4] > 5 && std::strncmp(s[4], "(xfr#", 5) == 0)
        xfr = std::strtod(s[4] + 5, nullptr);
    double r = 0;
    double t = 0;
    if (!readFraction(s[5], n[5], "to-chk=", &r, &t))
        readFraction(s[5], n[5], "to-check=", &r, &t);
    if (xfr != 0 && r != 0 && t != 0) {
        _processedLineCount = t - r;
        _lineCount = t;
        return true;
    }
    return false;
}

void IBackup3OutputParser::classify(const char* line, const char* original)
{
    using namespace LogWord;
    if (begins(line, "ignoring unsafe")) {
        message(original, RunLogPrefixedUtf8);
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
        message(tr("Building file list...").toUtf8(), StatusAndWindowUtf8);
        return;
    }
    if (ends(line, "files...")) {
        const unsigned long count = std::strtoul(line, nullptr, 10);
        if (count > 0)
            message(
                QStringLiteral("%1 %2").arg(tr("Building file list...")).arg(count).toUtf8(), StatusNowUtf8);
        return;
    }
    if (begins(line, "copyfile") || begins(line, "send_files failed to open")) {
        message(original, WindowPrefixedNowUtf8);
        return;
    }
    // A restore with -u names each file it kept because the one on disk is newer.
    if (ends(line, " is newer")) {
        _processStatus |= wesWarnings;
        message(original, kRunLogNowUtf8);
        return;
    }
    if (ends(line, "/")) {
        _processedLineCount += 1;
        return;
    }
    if (begins(line, "file has vanished:")) {
        _processStatus |= wesWarnings;
        _processErrorAccumulator |= peaSomeFilesVanished;
        message(original, kRunLogNowUtf8);
        return;
    }
    if (!begins(line, "rsync")) {
        if (!(_processStatus & wesErrors) && isStatisticLine(line)) {
            _statisticStarted = true;
            message(original, WindowPrefixedNowUtf8);
            return;
        }
        if (ends(line, "files to consider")) {
            _lineCount = double(std::strtoull(line, nullptr, 10));
            message(QString(tr("Copying files to Destination") + QStringLiteral("...")), StatusAndWindow);
            _copingStarted = true;
            return;
        }
        bool isProgress = false;
        if (parseProgressCounters(line, &isProgress))
            return;
        if (!isProgress) {
            if (isBareProgressLine(line))
                return;
            if (!_copingStarted) {
                _copingStarted = true;
                message(QString((m_restore ? tr("Restoring") : tr("Backup")) + QStringLiteral("...")),
                    StatusAndWindow);
            }
        }
        if (_statisticStarted) {
            message(original, RunLogPrefixedUtf8);
        } else {
            message(original, LogOption::Utf8 | LogOption::Status);
            _processedLineCount += 1;
        }
        return;
    }
    // Lines of rsync itself.
    if (ends(line, "Operation not permitted (1)")) {
        _processStatus |= wesWarnings;
        _processErrorAccumulator |= peaPermissionDenied;
        message(original, kRunLogNowUtf8);
        return;
    }
    if (ends(line, "Permission denied (13)")) {
        if (!begins(line, "rsync: rsync_xal_set:") && !begins(line, "rsync: get_xattr_names:")
            && !begins(line, "rsync: failed to read xattr"))
            _processStatus |= wesErrors;
        _processStatus |= wesWarnings;
        _processErrorAccumulator |= peaPermissionDenied;
        message(original, WindowPrefixedNowUtf8);
        return;
    }
    bool classified = false;
    if (ends(line, "No space left on device (28)") || contains(line, "No space left on device")) {
        _processStatus |= wesErrors | wesFatalErrors;
        _processErrorAccumulator |= peaNoSpaceLeft;
        if (m_sink)
            m_sink->parserKillRequest();
        classified = true;
    } else {
        static const struct
        {
            const char* text;
            bool suffix;
            quint64 klass;
        } rules[] = {
            { "rsync: mkstemp", false, peaMKSTEMP },
            { "rsync: recv_generator: mkdir", false, peaMKDIR },
            { "rsync error: error in rsync protocol", false, peaErrorRsyncProtocol },
            { "rsync error: error in file IO", false, peaErrorFileIO },
            { "Input/output error (5)", true, peaInputOutputError },
            { "rsync error: some files could not be transferred", false, peaSomeFilesNotTransferred },
        };
        for (const auto& rule : rules) {
            if (rule.suffix ? ends(line, rule.text) : begins(line, rule.text)) {
                _processStatus |= wesErrors;
                _processErrorAccumulator |= rule.klass;
                classified = true;
                break;
            }
        }
        if (!classified && begins(line, "rsync warning: some files vanished")) {
            _processErrorAccumulator |= peaSomeFilesVanished;
            classified = true;
        }
    }
    if (!classified
        && (begins(line, "rsync: rsync_xal_set: lsetxattr")
            || begins(line, "rsync error: some files/attrs were not transferred"))) {
        message(original, WindowPrefixedNowUtf8);
        return;
    }
    _processStatus |= wesWarnings;
    message(original, kRunLogNowUtf8);
}

IBackup3OutputParser::ErrorReport IBackup3OutputParser::printErrorAccumulatorToLog(
    const ErrorReportFacts& facts)
{
    using namespace LogWord;
    ErrorReport report;
    report.processStatus = facts.processStatus;
    const quint64 a = facts.accumulator;
    auto ask = [](const std::function<bool()>& f) { return f ? f() : false; };

    if ((facts.processStatus & wesErrors) && facts.useImage
        && !(facts.imageAvailable ? facts.imageAvailable() : true)) {
        report.workingState = 6;
        report.messages.append({ tr("Backup Disk Image is unavailable."), WindowPrefixedNow });
        report.processStatus |= wesErrors;
        return report;
    }
    if (!(facts.processStatus & wesErrors) && (a & peaSomeFilesVanished)) {
        report.messages.append(
            { tr("Some files vanished before they could be transferred"), WindowPrefixedNow });
        return report;
    }
    if (a & peaNoSpaceLeft) {
        report.messages.append({ tr("Not enough space on Destination"), WindowPrefixedNow });
        if (facts.useImage)
            report.workingState = 5;
        return report;
    }
    const quint64 ioClasses = peaMKDIR | peaMKSTEMP | peaInputOutputError | peaErrorFileIO
        | peaWriteFailedOnPath | peaSomeFilesNotTransferred;
    if (a & ioClasses) {
        if (facts.useImage && facts.imageFreeBytes && facts.imageFreeBytes() < 1000000) {
            report.messages.append({ tr("Not enough space in Disk Image"), WindowPrefixedNow });
            report.workingState = 5;
            return report;
        }
        if (facts.passCurrent && ask(facts.sourceUnavailable)) {
            report.messages.append({ tr("Source is unavailable"), WindowPrefixedNow });
            report.processStatus |= wesErrors;
            return report;
        }
        if (!(a & peaNoTargetAvailable) && !ask(facts.destinationUnavailable)) {
            if (a == peaSomeFilesNotTransferred || a == (peaSomeFilesNotTransferred | peaSomeFilesVanished))
                report.processStatus = wesWarnings;
            report.messages.append({ tr("Some files could not be transferred."), RunLogPrefixedNow });
            return report;
        }
        report.messages.append({ tr("Destination is unavailable. Input/Output error."), WindowPrefixedNow });
        report.processStatus |= wesErrors;
        return report;
    }
    if (a & peaPermissionDenied) {
        report.messages.append({ facts.admin ? tr("Problem with coping extended attributes for some files")
                                             : tr("Problem with coping extended attributes for some files. "
                                                  "This may be solved using admin access."),
            RunLogPrefixedNow });
        report.messages.append({ tr("See full log for details."), RunLogPrefixedNow });
    }
    return report;
}
