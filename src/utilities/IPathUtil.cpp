#include "IPathUtil.h"

#include "platform/AppPaths.h"
#include "platform/MountInfo.h"
#include "platform/NameCodec.h"
#include "platform/PlistBridge.h"
#include "platform/Trash.h"
#include "utilities/FileOps.h"
#include "utilities/IShellServices.h"
#include "utilities/LogOptions.h"
#include "utilities/MainPreferences.h"
#include "utilities/RootCommand.h"
#include "utilities/RunLog.h"
#include "utilities/TreeCopy.h"

#include <QDir>
#include <QCoreApplication>
#include <QMutex>
#include <QMutexLocker>
#include <QTimer>
#include <QUuid>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::unique_ptr<IPathUtil> g_shared;
std::atomic<bool> g_usedAdminPrivileges { false };
QMutex g_logNameMutex;
QString g_logFileName;

QString tr(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

void utilLog(const QString& text)
{
    IShellServices::shared().processMessage(LogText(text), LogWord::UtilLog, nullptr);
}

std::string bytes(const QString& path)
{
    return NameCodec::encodeStd(path);
}

QString errnoText(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

// The XDG-mapped "Library/Application Support" of the generations that lived outside a sandbox,
// and the real home for the sandboxed ones, which kept their own "Library/Containers" tree.
QString containerSupportPath(const QString& container, const QString& subPath)
{
    return AppPaths::homeDir() + QStringLiteral("/Library/Containers/") + container
        + QStringLiteral("/Data/Library/Application Support/") + subPath;
}

bool isFolder(const QString& path)
{
    return FileOps::isDirectory(bytes(path));
}

bool isFileNotFolder(const QString& path)
{
    struct stat st;
    return ::stat(bytes(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

QString parentOf(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

// Puts `copy` in the place of `target`: an atomic exchange when a target exists (the old tree
// then sits at `copy` and is removed), a plain rename that never replaces anything otherwise.
bool swapIn(const QString& copy, const QString& target, QString* error)
{
    const std::string from = bytes(copy);
    const std::string to = bytes(target);
    if (FileOps::exists(to)) {
        if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_EXCHANGE) == 0) {
            std::string failed;
            int err = 0;
            if (!FileOps::removeTree(from, &failed, &err))
                utilLog(tr("The previous workspace could not be removed completely (%1): %2")
                            .arg(NameCodec::decode(failed), errnoText(err)));
            return true;
        }
        if (error)
            *error = tr("Can not replace \"%1\": %2").arg(target, errnoText(errno));
        return false;
    }
    int rc = ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
    if (rc != 0 && errno == EINVAL) // a file system without renameat2 flags
        rc = ::rename(from.c_str(), to.c_str());
    if (rc != 0) {
        if (error)
            *error = tr("Can not move the copy to \"%1\": %2").arg(target, errnoText(errno));
        return false;
    }
    return true;
}

} // namespace

IPathUtil& IPathUtil::shared()
{
    if (!g_shared)
        g_shared.reset(new IPathUtil);
    return *g_shared;
}

void IPathUtil::resetShared()
{
    g_shared.reset();
    AppPaths::setWorkspacePathOverride(QString());
    g_usedAdminPrivileges = false;
    setLogFileName(QString());
}

void IPathUtil::setWorkspacePath(const QString& path)
{
    m_currentWorkspacePath = path;
    AppPaths::setWorkspacePathOverride(path);
}

QString IPathUtil::currentWorkspacePath()
{
    if (g_shared && !g_shared->m_currentWorkspacePath.isEmpty())
        return g_shared->m_currentWorkspacePath;
    return AppPaths::currentWorkspacePath();
}

QString IPathUtil::getBackupsPath()
{
    return currentWorkspacePath() + QStringLiteral("/Backups");
}
QString IPathUtil::getPreferencesPath()
{
    return AppPaths::configHome();
}

QString IPathUtil::getTuvimoBackupsPath()
{
    return AppPaths::dataHome() + QStringLiteral("/Tuvimo Backuper/Backups");
}

QString IPathUtil::getTmpFolderPath()
{
    return MainPreferences::shared().getTmpFolderPath();
}
QByteArray IPathUtil::getTmpFolderPath_utf8()
{
    return NameCodec::encode(getTmpFolderPath());
}
QString IPathUtil::getLogFolderPath()
{
    return RunLog::shared().getLogsPath();
}

QString IPathUtil::expandHome(const QString& path)
{
    if (path == QLatin1String("~"))
        return QDir::homePath();
    if (path.startsWith(QLatin1String("~/")))
        return QDir::homePath() + path.mid(1);
    return path;
}

QString IPathUtil::realHomeDirectory()
{
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && *pw->pw_dir)
        return NameCodec::decode(QByteArray(pw->pw_dir));
    const QByteArray home = qgetenv("HOME");
    return home.isEmpty() ? QStringLiteral("/") : NameCodec::decode(home);
}

QString IPathUtil::getLauncherPath()
{
    return AppPaths::launcherAppPath();
}

QString IPathUtil::snaphotToolPath()
{
    const QString app = MainPreferences::shared().appFullPath();
    if (app.isEmpty())
        return QString();
    const QString tool = app + QStringLiteral("/Contents/Resources/QVSnap.app/Contents/MacOS/QVSnap");
    return FileOps::exists(bytes(tool)) ? tool : QString();
}

QString IPathUtil::QV2SupportPathFromAppSupport()
{
    return QStringLiteral("Brisolt Software/Kelvane 2");
}
QString IPathUtil::QV3SupportPathFromAppSupport()
{
    return QStringLiteral("Kelvane 3");
}

QString IPathUtil::QVSupportPathForVersion(int version)
{
    switch (version) {
    case 1:
        return AppPaths::dataHome() + QLatin1Char('/') + QV2SupportPathFromAppSupport();
    case 2:
        return containerSupportPath(
            QStringLiteral("com.brisoltica.KelvanePro"), QV2SupportPathFromAppSupport());
    case 3:
        return containerSupportPath(
            QStringLiteral("com.brisoltica.KelvaneLite"), QV2SupportPathFromAppSupport());
    case 4:
    case 6:
        return AppPaths::dataHome() + QLatin1Char('/') + QV3SupportPathFromAppSupport();
    case 5:
        return containerSupportPath(
            QStringLiteral("com.brisoltica.Kelvane3"), QV3SupportPathFromAppSupport());
    default:
        return QString();
    }
}

bool IPathUtil::isWorkspaceExistsForVersion(int version) const
{
    const QString folder = QVSupportPathForVersion(version);
    if (folder.isEmpty() || !isFolder(folder))
        return false;
    for (const char* sub : { "Backups", "Syncs", "Logs" }) {
        if (!isFolder(folder + QLatin1Char('/') + QLatin1String(sub)))
            return false;
    }
    const QString prefs
        = (version == 4 || version == 5) ? QStringLiteral("QVPrefs.plist") : QStringLiteral("QV2Prefs.plist");
    return isFileNotFolder(folder + QLatin1Char('/') + prefs);
}

bool IPathUtil::copyWorkspaceFromVersion(int from, int to, QString* comment)
{
    const QString source = QVSupportPathForVersion(from);
    const QString target = QVSupportPathForVersion(to);
    auto fail = [&](const QString& text) {
        if (comment)
            *comment = text;
        if (!text.isEmpty())
            utilLog(text);
        return false;
    };
    if (source.isEmpty() || target.isEmpty())
        return fail(QString());
    const QString parent = parentOf(target);
    if (!isFolder(parent))
        MainPreferences::createAppSupportFolder(parent);
    if (!isFolder(source) || ::access(bytes(source).c_str(), R_OK | X_OK) != 0)
        return fail(tr("The workspace \"%1\" can not be read").arg(source));
    if (!isFolder(parent))
        return fail(tr("The folder \"%1\" can not be created").arg(parent));
    if (FileOps::exists(bytes(target)) && !isFolder(target))
        return fail(tr("\"%1\" is not a folder").arg(target));

    // Copy into a private sibling first: the target and the source stay untouched until the
    // copy is complete.
    std::string templ = bytes(parent) + "/.kelvane-workspace-copy.XXXXXX";
    if (!::mkdtemp(templ.data()))
        return fail(tr("Can not create a folder in \"%1\": %2").arg(parent, errnoText(errno)));
    const QString copy = NameCodec::decode(templ);
    QString error;
    if (!TreeCopy::copyContents(source, copy, &error)) {
        FileOps::removeTree(templ);
        return fail(tr("Copying the workspace \"%1\" failed: %2").arg(source, error));
    }
    if (from >= 1 && from <= 3) {
        const std::string oldPrefs = templ + "/QV2Prefs.plist";
        const std::string newPrefs = templ + "/QVPrefs.plist";
        if (FileOps::exists(oldPrefs) && ::rename(oldPrefs.c_str(), newPrefs.c_str()) != 0)
            utilLog(tr("Can not rename \"QV2Prefs.plist\": %1").arg(errnoText(errno)));
    }
    if (!swapIn(copy, target, &error)) {
        FileOps::removeTree(templ);
        return fail(error);
    }
    if (comment)
        comment->clear();
    return true;
}

QString IPathUtil::recentFolder(int slot) const
{
    if (slot < 0 || slot > 1 || m_recentFolders[slot] == QLatin1String("empty"))
        return QString();
    return m_recentFolders[slot];
}

void IPathUtil::setRecentFolder(int slot, const QString& path)
{
    if (slot < 0 || slot > 1)
        return;
    m_recentFolders[slot] = path.isEmpty() ? QStringLiteral("empty") : path;
}

void IPathUtil::setUsedAdminPrivileges(bool used)
{
    g_usedAdminPrivileges = used;
}
bool IPathUtil::usedAdminPrivileges()
{
    return g_usedAdminPrivileges;
}

QString IPathUtil::logFileName()
{
    QMutexLocker lock(&g_logNameMutex);
    return g_logFileName;
}

void IPathUtil::setLogFileName(const QString& path)
{
    QMutexLocker lock(&g_logNameMutex);
    g_logFileName = path;
}

bool IPathUtil::removeToTrashFileAtPath(const QString& path, QString* comment)
{
    if (path.isNull())
        return false;
    const QByteArray raw = NameCodec::encode(path);
    struct stat st;
    if (::lstat(raw.constData(), &st) != 0 && errno == ENOENT)
        return true;
    QString error;
    if (Trash::moveToTrash(raw, &error))
        return true;
    if (comment)
        *comment = error;
    return false;
}

bool IPathUtil::removeFileAtPath(const QString& path, QString* comment)
{
    if (path.isNull())
        return false;
    std::string failed;
    int err = 0;
    if (FileOps::removeTree(bytes(path), &failed, &err))
        return true;
    if (comment) {
        if (err == EACCES || err == EPERM)
            *comment = tr("(%1) This may be solved using admin access.").arg(NameCodec::decode(failed));
        else
            *comment = tr("\"%1\" couldn't be removed: %2").arg(NameCodec::decode(failed), errnoText(err));
    }
    return false;
}

QString IPathUtil::mountPointForPath(const QString& path)
{
    if (path.isEmpty())
        return QString();
    return MountInfo::mountPointForPath(path);
}

bool IPathUtil::isPathExists(const QString& path, bool* dir)
{
    struct stat st;
    const bool exists = !path.isEmpty() && ::stat(bytes(path).c_str(), &st) == 0;
    if (dir)
        *dir = exists && S_ISDIR(st.st_mode);
    return exists;
}

const QStringList& IPathUtil::firmLinkRoots()
{
    static const QStringList roots = {
        QStringLiteral("/AppleInternal"),
        QStringLiteral("/Applications"),
        QStringLiteral("/Library"),
        QStringLiteral("/System/Library/Caches"),
        QStringLiteral("/System/Library/Assets"),
        QStringLiteral("/System/Library/PreinstalledAssets"),
        QStringLiteral("/System/Library/AssetsV2"),
        QStringLiteral("/System/Library/PreinstalledAssetsV2"),
        QStringLiteral("/System/Library/CoreServices/CoreTypes.bundle/Contents/Library"),
        QStringLiteral("/System/Library/Speech"),
        QStringLiteral("/Users"),
        QStringLiteral("/Volumes"),
        QStringLiteral("/cores"),
        QStringLiteral("/opt"),
        QStringLiteral("/private"),
        QStringLiteral("/usr/local"),
        QStringLiteral("/usr/libexec/cups"),
        QStringLiteral("/usr/share/snmp"),
    };
    return roots;
}

bool IPathUtil::isFirmLinkPath(const QString& path)
{
    if (path.isEmpty())
        return false;
    const bool absolute = path.startsWith(QLatin1Char('/'));
    for (const QString& root : firmLinkRoots()) {
        const QString r = absolute ? root : root.mid(1);
        // Whole components only: "/Usersfoo" is not below "/Users".
        if (path == r || (path.startsWith(r) && path.at(r.size()) == QLatin1Char('/')))
            return true;
    }
    return false;
}

bool IPathUtil::isFolderSupportHardLinks(const QString& folder, QString* comment)
{
    if (comment)
        *comment = QString();
    const std::string dir = bytes(folder);
    if (folder.isEmpty() || !FileOps::isDirectory(dir)) {
        struct stat st; // a link to a folder counts as the folder
        if (folder.isEmpty() || ::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            return false;
    }
    if (::geteuid() != 0 && ::access(dir.c_str(), W_OK) != 0) {
        if (comment)
            *comment = QStringLiteral("no writable");
        return false;
    }
    const std::string file = dir + "/" + bytes(generateUUID());
    const std::string link = file + "_hardlink";
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (comment)
            *comment = errnoText(errno);
        return false;
    }
    ::close(fd);
    if (::link(file.c_str(), link.c_str()) != 0) {
        const int err = errno;
        ::unlink(file.c_str());
        if (comment)
            *comment = errnoText(err);
        return false;
    }
    struct stat a, b;
    const bool same = ::lstat(file.c_str(), &a) == 0 && ::lstat(link.c_str(), &b) == 0 && a.st_dev == b.st_dev
        && a.st_ino == b.st_ino;
    ::unlink(link.c_str());
    ::unlink(file.c_str());
    return same;
}

void IPathUtil::fixOwnerForFile(const QString& path)
{
    if (!usedAdminPrivileges() || path.isEmpty())
        return;
    const uid_t uid = ::getuid();
    const gid_t gid = ::getgid();
    // The root process that wrote the file may still be closing it: hand it back a second later.
    QTimer::singleShot(1000, QCoreApplication::instance(), [path, uid, gid] {
        if (::lchown(bytes(path).c_str(), uid, gid) != 0)
            utilLog(tr("Can not change the owner of \"%1\": %2").arg(path, errnoText(errno)));
    });
}

void IPathUtil::fixOwnerForDirectory(const QString& path)
{
    if (path.isEmpty())
        return;
    const QString owner = QStringLiteral("%1:%2").arg(::getuid()).arg(::getgid());
    QTimer::singleShot(1000, QCoreApplication::instance(), [path, owner] {
        RootCommand::start({ QStringLiteral("chown"), QStringLiteral("-R"), QStringLiteral("-h"),
                               QStringLiteral("--"), owner, path },
            [path](bool ok, const QString& error) {
                if (!ok)
                    utilLog(tr("Can not change the owner of \"%1\": %2").arg(path, error));
            });
    });
}

QString IPathUtil::generateUUID()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

std::vector<std::string> IPathUtil::systemExcludeListWithType(int type)
{
    std::vector<std::string> list;
    const PlistBridge::ReadResult read
        = PlistBridge::readFile(AppPaths::resourcePath(QStringLiteral("ParamProc.plist")));
    const QString text = PlistValue::string(read.map(), QStringLiteral("clone_system_excludes"));
    if (text.isEmpty())
        return list;
    for (const QString& line : text.split(QLatin1Char('\n')))
        list.push_back(NameCodec::encodeStd(line));
    if (type == 1 || type == 4)
        list.push_back("/System/Volumes/Data/");
    return list;
}
