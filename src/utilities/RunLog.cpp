#include "RunLog.h"

#include "platform/Clock.h"
#include "platform/NameCodec.h"
#include "platform/PlistBridge.h"
#include "utilities/FileOps.h"
#include "utilities/IPathUtil.h"
#include "utilities/IShellServices.h"
#include "utilities/LogOptions.h"
#include "utilities/MainPreferences.h"

#include <QDateTime>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>
#include <vector>

namespace {

// The "system log": syslog and the standard error stream.
void systemLog(const QByteArray& text)
{
    ::syslog(LOG_ERR, "%s", text.constData());
    std::fprintf(stderr, "%s\n", text.constData());
}

// write(2) until everything is written; the number of bytes written.
qsizetype writeAll(int fd, const QByteArray& data)
{
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}

} // namespace

RunLog& RunLog::shared()
{
    static RunLog* log = new RunLog; // reader threads may still log while statics are destroyed
    return *log;
}

void RunLog::install()
{
    IRunLog::setShared(&shared());
}

QString RunLog::tempFileName()
{
    const std::string name = MainPreferences::tempName(IPathUtil::getTmpFolderPath_utf8().toStdString());
    return name.empty() ? QString() : NameCodec::decode(name);
}

QString RunLog::getLogsPath() const
{
    const QString workspace = IPathUtil::currentWorkspacePath();
    const PlistBridge::ReadResult prefs = PlistBridge::readFile(workspace + QStringLiteral("/QVPrefs.plist"));
    const QString folder = PlistValue::string(prefs.map(), QStringLiteral("LogFilesFolder"));
    if (!folder.isEmpty() && FileOps::isDirectory(NameCodec::encodeStd(folder)))
        return folder;
    return workspace + QStringLiteral("/Logs");
}

bool RunLog::openLog()
{
    bool opened = false;
    {
        std::lock_guard lock(m_mutex);
        opened = openLocked();
    }
    reportFailure();
    return opened;
}

void RunLog::noteFailureLocked(const QByteArray& message)
{
    // One message per failure, not one per line that cannot be written.
    if (!m_failureReported) {
        m_failureReported = true;
        m_pendingFailure = message;
    }
}

void RunLog::reportFailure()
{
    // Told through the log front ends, outside the lock: the sink writes to this run log again,
    // which then finds no log and stays quiet, instead of waiting for itself.
    static thread_local bool t_reporting = false;
    QByteArray message;
    {
        std::lock_guard lock(m_mutex);
        message.swap(m_pendingFailure);
    }
    if (message.isEmpty() || t_reporting)
        return;
    t_reporting = true;
    IShellServices::shared().processMessage(LogText(QString::fromUtf8(message)), LogWord::UtilLog, nullptr);
    t_reporting = false;
}

bool RunLog::openLocked()
{
    if (!MainPreferences::shared().collectLogs()) {
        IPathUtil::setLogFileName(QString());
        return false;
    }
    if (m_fd >= 0)
        return true;
    const QDateTime now = Clock::current().now();
    const QString path = getLogsPath() + QStringLiteral("/log_")
        + now.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss")) + QStringLiteral(".txt");
    const QByteArray raw = NameCodec::encode(path);
    // O_APPEND: a second log opened within the same second adds to the first, never truncates it.
    const int fd = ::open(raw.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        const QByteArray message = "Can not create log file  \"" + raw + "\"";
        systemLog(message);
        noteFailureLocked(message + ": " + QByteArray(std::strerror(errno)));
        return false;
    }
    const QByteArray header = now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")).toUtf8() + "Start log\n\n";
    if (writeAll(fd, header) != header.size()) {
        const QByteArray message = "Can not write to log file  \"" + raw + "\"";
        systemLog(message);
        noteFailureLocked(message);
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_path = path;
    m_failureReported = false;
    IPathUtil::setLogFileName(path);
    return true;
}

void RunLog::writeLocked(const QByteArray& text)
{
    if (m_fd < 0 && !openLocked())
        return;
    if (text.isEmpty())
        return;
    if (writeAll(m_fd, text) == 0)
        systemLog(text);
}

void RunLog::traceToLog(const QByteArray& text)
{
    if (text.isNull())
        return;
    {
        std::lock_guard lock(m_mutex);
        writeLocked(text);
    }
    reportFailure();
}

void RunLog::closeLog()
{
    std::lock_guard lock(m_mutex);
    closeLocked();
}

void RunLog::closeLocked()
{
    IPathUtil::setLogFileName(QString());
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_path.clear();
}

QString RunLog::logPath() const
{
    std::lock_guard lock(m_mutex);
    return m_path;
}

bool RunLog::isRunLogName(const std::string& name)
{
    auto endsWith = [&name](const char* suffix) {
        const std::string x(suffix);
        return name.size() >= x.size() && name.compare(name.size() - x.size(), x.size(), x) == 0;
    };
    return name.rfind("log_", 0) == 0 && (endsWith(".txt") || endsWith(".tgz"));
}

namespace {

// The run logs of the logs folder that may be deleted: regular files with a run log's name,
// the current log left out; later names first (dated names sort by date).
std::vector<std::string> deletableRunLogs(const std::string& folder)
{
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return names;
    while (const dirent* entry = ::readdir(dir))
        names.emplace_back(entry->d_name);
    ::closedir(dir);
    std::sort(names.begin(), names.end(), std::greater<>());
    const QString current = IPathUtil::logFileName();
    const std::string currentName = current.isEmpty()
        ? std::string()
        : NameCodec::encodeStd(current.mid(current.lastIndexOf(QLatin1Char('/')) + 1));
    std::vector<std::string> out;
    for (const std::string& name : names) {
        if (!RunLog::isRunLogName(name) || (!currentName.empty() && name == currentName))
            continue;
        // Only regular files are logs: a link or a folder with a log's name in a folder the
        // user chose is neither counted nor deleted.
        struct stat st;
        if (::lstat((folder + "/" + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        out.push_back(name);
    }
    return out;
}

} // namespace

int RunLog::removeExcessLogging(int keepCount)
{
    if (keepCount <= 0)
        return 0;
    const std::string folder = NameCodec::encodeStd(shared().getLogsPath());
    int places = keepCount - 1; // the current log takes one place
    int removed = 0;
    for (const std::string& name : deletableRunLogs(folder)) {
        if (places > 0) {
            --places;
            continue;
        }
        if (::unlink((folder + "/" + name).c_str()) == 0)
            ++removed;
    }
    return removed;
}

int RunLog::clearRunLogs()
{
    const std::string folder = NameCodec::encodeStd(shared().getLogsPath());
    int removed = 0;
    for (const std::string& name : deletableRunLogs(folder))
        if (::unlink((folder + "/" + name).c_str()) == 0)
            ++removed;
    return removed;
}
