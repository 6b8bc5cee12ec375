#include "projects/IProject.h"

#include "platform/PlistBridge.h"
#include "platform/PrivilegeBackend.h"
#include "platform/ProcessTable.h"
#include "platform/Subprocess.h"
#include "projects/ILocation.h"
#include "utilities/IPathUtil.h"
#include "utilities/IRunLog.h"
#include "utilities/LogOptions.h"
#include "utilities/RsyncExcludes.h"

#include <QFile>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

const QString IProject::cnsSheduleProcessInSpecTimeOnly = QStringLiteral("SheduleProcessInSpecTimeOnly");
const QString IProject::cnsB3FullAutomount = QStringLiteral("FullAutomount");

IProject::IProject(QObject* parent)
    : QObject(parent)
    , _card(std::make_unique<IProcessCard>())
{ }

IProject::~IProject() = default;

QString IProject::name() const
{
    return QString();
}

QByteArray IProject::utf8Name() const
{
    return name().toUtf8();
}

QByteArray IProject::utf8StringCode() const
{
    return QByteArray();
}

void IProject::processMessage(const LogText&, quint64, QObject*) { }

// ---- Questions the rsync option list asks (base answers) ----

int IProject::synchronType() const
{
    return 0;
}
bool IProject::isMacSrcDestForPass(long) const
{
    return true;
}
bool IProject::isUseAdminPrivilegesForPass(long) const
{
    return _useAdminPrivileges;
}
bool IProject::isOptionConsiderModDate() const
{
    return false;
}
bool IProject::isOptionDelete() const
{
    return false;
}
bool IProject::isExcludeAliases() const
{
    return false;
}
bool IProject::isSourceDoubleVolumeSystemForPass(long) const
{
    return false;
}
int IProject::extendedAttrsProcessType() const
{
    return _extendedAttrsProcessType;
}
bool IProject::useBDI() const
{
    return false;
}
IProcessCard* IProject::processCard() const
{
    return _card.get();
}

void IProject::setUseAdminPrivileges(bool use)
{
    _useAdminPrivileges = use;
}

// The kinds decide from their locations' file-system flags.
QString IProject::sourcePathForPass(long) const
{
    return QString();
}

QString IProject::destPathForPass(long) const
{
    return QString();
}

ILocation* IProject::sourceLocationForPass(long) const
{
    return nullptr;
}

ILocation* IProject::destLocationForPass(long) const
{
    return nullptr;
}

void IProject::setFullAutomount(bool fullAutomount)
{
    _fullAutomount = fullAutomount;
}

QVariantMap& IProject::snapshots()
{
    if (!_snapshots)
        _snapshots = std::make_unique<QVariantMap>();
    return *_snapshots;
}

bool IProject::removeFile(const QString& path)
{
    if (path.isEmpty())
        return true;
    const QByteArray bytes = QFile::encodeName(path);
    struct stat st;
    if (::lstat(bytes.constData(), &st) != 0)
        return errno == ENOENT;
    return ::unlink(bytes.constData()) == 0 || errno == ENOENT;
}

void IProject::setExcludesTmpFileNameCustom(const QString& custom, const QString& system)
{
    if (!custom.isNull() && custom != _customExcludesTmpFileName) {
        if (!_customExcludesTmpFileName.isNull())
            removeFile(_customExcludesTmpFileName);
        _customExcludesTmpFileName = custom;
    }
    if (!system.isNull() && system != _systemExcludesTmpFileName) {
        if (!_systemExcludesTmpFileName.isNull())
            removeFile(_systemExcludesTmpFileName);
        _systemExcludesTmpFileName = system;
    }
}

bool IProject::saveCustomExcludeLines(const QList<QByteArray>& lines, const QString& folder)
{
    if (lines.isEmpty() || folder.isEmpty()) {
        removeExcludesTmpFileNameCustom(true, false);
        return false;
    }
    QString error;
    const QString file = RsyncExcludes::writeFile(folder, lines, &error);
    if (file.isNull()) {
        removeExcludesTmpFileNameCustom(true, false);
        processMessage(error, LogWord::ProjectWindowRunLog, this);
        return false;
    }
    setExcludesTmpFileNameCustom(file, QString());
    return true;
}

void IProject::removeExcludesTmpFileNameCustom(bool custom, bool system)
{
    if (custom && !_customExcludesTmpFileName.isNull() && removeFile(_customExcludesTmpFileName))
        _customExcludesTmpFileName = QString();
    if (system && !_systemExcludesTmpFileName.isNull() && removeFile(_systemExcludesTmpFileName))
        _systemExcludesTmpFileName = QString();
}

int IProject::systemExcludeListType() const
{
    return 0;
}

namespace {

// How one system exclude entry relates to the source's path inside its volume. An entry
// matches only at a path-component boundary: inner "/Users" takes "/Users/x" but never
// "/Usersfoo/x", and never "/Users" itself (nothing would be left to exclude).
struct EntryMatch
{
    bool matches = false;
    std::string compared; // the entry as compared (without its "/" when inner is relative)
};

EntryMatch matchEntry(const std::string& entry, const std::string& inner)
{
    EntryMatch m;
    m.compared = (!inner.empty() && inner[0] == '/') ? entry : entry.substr(1);
    const std::string& c = m.compared;
    size_t length = c.size();
    const size_t star = c.find('*');
    if (star != std::string::npos && star + 1 < c.size())
        length = star;
    m.matches = length > inner.size() && c.compare(0, inner.size(), inner) == 0 && c.size() > inner.size()
        && c[inner.size()] == '/';
    return m;
}

// inner without a final "/" ("/" alone becomes empty: the whole volume).
std::string trimmedInner(const QByteArray& inner)
{
    std::string s = inner.toStdString();
    while (!s.empty() && s.back() == '/')
        s.pop_back();
    return s;
}

const std::string kNetwork = "/Network";

} // namespace

std::vector<std::string> IProject::systemExcludeLinesForInner(
    const std::vector<std::string>& table, const QByteArray& innerPath, bool rootVolume)
{
    const std::string inner = trimmedInner(innerPath);
    std::vector<std::string> lines;
    for (const std::string& entry : table) {
        if (entry.empty())
            continue;
        if (entry == kNetwork && !rootVolume)
            continue;
        if (entry[0] != '/' || inner.empty()) {
            lines.push_back(entry);
            continue;
        }
        const EntryMatch m = matchEntry(entry, inner);
        // The rest keeps its leading "/", so rsync anchors it at the transfer root ("/*/Library/
        // Caches" stays out only directly below each user folder, not at any depth).
        if (m.matches)
            lines.push_back(m.compared.substr(inner.size()));
    }
    return lines;
}

std::vector<std::string> IProject::systemExcludesRerooted(const std::vector<std::string>& table,
    const QByteArray& innerPath, bool rootVolume, const QByteArray& mountPoint)
{
    const std::string inner = trimmedInner(innerPath);
    const std::string mp = mountPoint.toStdString();
    std::vector<std::string> result;
    for (const std::string& entry : table) {
        if (entry.empty())
            continue;
        if (entry == kNetwork && !rootVolume)
            continue;
        if (entry[0] != '/' || inner.empty()) {
            result.push_back(entry);
            continue;
        }
        const EntryMatch m = matchEntry(entry, inner);
        if (!m.matches)
            continue;
        std::string text = m.compared;
        if (text.find('*') != std::string::npos && text.size() > 1 && text[1] == '*')
            text = text.substr(std::min<size_t>(3, text.size()));
        while (!text.empty() && text[0] == '/')
            text.erase(0, 1);
        std::string joined = mp;
        if (joined.empty() || joined.back() != '/')
            joined += '/';
        result.push_back(joined + text);
    }
    return result;
}

bool IProject::prepareSystemExcludeListForPath(const QString& path, std::vector<std::string>* resultList)
{
    if (resultList)
        resultList->clear();
    std::unique_ptr<ILocation> location(ILocation::create());
    if (!location->setupWithPath(path) || !location->isSystem())
        return false;
    const std::vector<std::string> table = IPathUtil::systemExcludeListWithType(systemExcludeListType());
    const QString mountPoint = location->getMountPoint();
    const std::vector<std::string> list
        = systemExcludesRerooted(table, ILocation::pathBytes(location->getPathFromMountPoint()),
            mountPoint == QLatin1String("/"), ILocation::pathBytes(mountPoint));
    if (resultList)
        *resultList = list;
    return !list.empty();
}

bool IProject::writeSystemExcludeFile(const std::vector<std::string>& lines, QString* path)
{
    const QString base = IRunLog::shared().tempFileName();
    if (base.isEmpty())
        return false;
    static const char suffix[] = ".system.txt";
    QByteArray pattern = ILocation::pathBytes(base) + "XXXXXX" + suffix;
    const int fd = ::mkstemps(pattern.data(), int(sizeof(suffix) - 1));
    if (fd < 0)
        return false;
    std::string text;
    for (const std::string& line : lines)
        text += line + '\n';
    size_t done = 0;
    bool ok = true;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        done += size_t(n);
    }
    if (::close(fd) != 0)
        ok = false;
    if (!ok) {
        ::unlink(pattern.constData());
        return false;
    }
    *path = ILocation::pathFromBytes(pattern);
    return true;
}

bool IProject::saveSystemExcludesIntoTmpFileForPass(long pass)
{
    ILocation* source = sourceLocationForPass(pass);
    if (!source || !source->isSystem())
        return false;
    const std::vector<std::string> table = IPathUtil::systemExcludeListWithType(systemExcludeListType());
    const std::vector<std::string> lines = systemExcludeLinesForInner(table,
        ILocation::pathBytes(source->getPathFromMountPoint()), source->getMountPoint() == QLatin1String("/"));
    if (lines.empty())
        return false;
    QString path;
    if (!writeSystemExcludeFile(lines, &path))
        return false;
    setExcludesTmpFileNameCustom(QString(), path);
    return true;
}

bool IProject::saveCustomExcludesIntoTmpFileForPass(long)
{
    return false;
}

int IProject::getReady()
{
    return 0;
}

namespace {

// A stored "number": a plist integer, real or boolean. Texts never count, not even "0".
bool storedNumber(const QVariant& value, bool* result)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        *result = value.toBool();
        return true;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
        *result = value.toLongLong() != 0 || value.toULongLong() != 0;
        return true;
    case QMetaType::Double:
    case QMetaType::Float:
        *result = value.toDouble() != 0.0;
        return true;
    default:
        return false;
    }
}

} // namespace

void IProject::saveToDict(QVariantMap& dict) const
{
    dict.insert(cnsSheduleProcessInSpecTimeOnly, qint64(_scheduleProcessStartIfLate ? 1 : 0));
    dict.insert(cnsB3FullAutomount, qint64(_fullAutomount ? 1 : 0));
}

bool IProject::loadFromDict(const QVariantMap& dict)
{
    bool value = false;
    _scheduleProcessStartIfLate
        = storedNumber(dict.value(cnsSheduleProcessInSpecTimeOnly), &value) ? value : true;
    if (storedNumber(dict.value(cnsB3FullAutomount), &value))
        setFullAutomount(value);
    return true;
}

pid_t IProject::oldestChildOf(pid_t parent)
{
    if (parent <= 0)
        return 0;
    const QString file = QStringLiteral("/proc/%1/task/%1/children").arg(parent);
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> words = f.readAll().simplified().split(' ');
    pid_t best = 0;
    quint64 bestStart = 0;
    for (const QByteArray& w : words) {
        bool ok = false;
        const pid_t pid = pid_t(w.toLongLong(&ok));
        if (!ok || pid <= 0)
            continue;
        const std::optional<ProcessEntry> e = ProcessTable::entry(pid);
        if (!e || e->isEnded() || e->ppid != parent)
            continue;
        if (best == 0 || e->startTime < bestStart || (e->startTime == bestStart && pid < best)) {
            best = pid;
            bestStart = e->startTime;
        }
    }
    return best;
}

namespace {

// Ends a root-owned process through the privilege backend: "/bin/kill <pid>", no shell.
bool killAsRoot(pid_t pid)
{
    PrivilegeBackend::RootCommand command;
    command.arguments = QStringList { QStringLiteral("/bin/kill"), QString::number(pid) };
    Subprocess::Options options;
    QString error;
    if (!PrivilegeBackend::shared().buildInvocation(command, &options, &error))
        return false;
    const Subprocess::Result r = Subprocess::run(options, 30000);
    return r.started && r.signal == 0 && r.exitCode == 0;
}

bool descendsFromThisProgram(pid_t pid)
{
    const pid_t self = ::getpid();
    for (int depth = 0; depth < 64 && pid > 1; ++depth) {
        if (pid == self)
            return true;
        const std::optional<ProcessEntry> e = ProcessTable::entry(pid);
        if (!e)
            return false;
        pid = e->ppid;
    }
    return pid == self;
}

} // namespace

bool IProject::killProcInSystem()
{
    const pid_t executive = pid_t(_card->executiveProcess().pid);
    if (executive <= 0)
        return false;
    const pid_t child = oldestChildOf(executive);
    if (child <= 0)
        return false;
    // Just before signalling: the pid must still be that child, and the executive one of ours,
    // so a recycled pid never gets the signal.
    const std::optional<ProcessEntry> target = ProcessTable::entry(child);
    if (!target || target->isEnded() || target->ppid != executive || !descendsFromThisProgram(executive))
        return false;
    const uid_t self = ::geteuid();
    if (self == 0 || target->uid == qint64(self))
        return ::kill(child, SIGTERM) == 0;
    if (target->uid == 0)
        return killAsRoot(child);
    return false;
}

void IProject::setName(const QString&) { }

QColor IProject::color() const
{
    return QColor();
}

void IProject::setColor(const QColor&) { }

bool IProject::isInProcess() const
{
    return false;
}

bool IProject::isReadyForInterface() const
{
    return true;
}

bool IProject::isSelected() const
{
    return false;
}

bool IProject::isInState(int) const
{
    return false;
}

void IProject::setInState(int) { }

int IProject::currentOperation() const
{
    return 0;
}

void IProject::setInProcess(bool, int) { }

double IProject::indicatorPosition() const
{
    return 0;
}

double IProject::indicatorPositionForGlobal() const
{
    return 0;
}

void IProject::setIndicatorPosition(double position)
{
    setIndicatorPosition(position, false);
}

void IProject::setIndicatorPosition(double, bool) { }

int IProject::mainButtonState() const
{
    return 0;
}

void IProject::setMainButtonState(int) { }

QString IProject::lastStatusString() const
{
    return QString();
}

int IProject::lastStateChange() const
{
    return 0;
}

QString IProject::processingCodeString() const
{
    return QString();
}

QDateTime IProject::lastProcessDate() const
{
    return QDateTime();
}

bool IProject::isScheduled() const
{
    return false;
}

void IProject::setScheduled(bool) { }

void IProject::setNextProcessDate(const QDateTime&) { }

bool IProject::isProcessOnMount() const
{
    return false;
}

void IProject::setProcessOnMount(bool) { }

bool IProject::isPostProcess() const
{
    return false;
}

void IProject::setPostProcess(bool) { }

void IProject::setLastProcessFailed(bool) { }

bool IProject::isProcessingBySchedule() const
{
    return false;
}

void IProject::printStartStatisticToLog() { }

bool IProject::doAutomount()
{
    return true;
}

void IProject::doAutoUnmount() { }

void IProject::sendTextInfo(const QString&, qint32, quint8, QObject*) { }
