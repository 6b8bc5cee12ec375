#include "Trash.h"

#include "AppPaths.h"
#include "Clock.h"
#include "MountInfo.h"
#include "NameCodec.h"

#include <QCoreApplication>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}
QString errnoText(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

// Makes a private folder, or checks that an existing one is a real folder we own.
bool ensurePrivateFolder(const QByteArray& path, QString* error)
{
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
        setError(error,
            tr("Can not create the trash folder \"%1\": %2").arg(NameCodec::decode(path), errnoText(errno)));
        return false;
    }
    struct stat st;
    if (::lstat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
        setError(error, tr("The trash folder \"%1\" is not usable").arg(NameCodec::decode(path)));
        return false;
    }
    return true;
}

bool ensureTrashLayout(const QByteArray& trash, QString* error)
{
    return ensurePrivateFolder(trash, error) && ensurePrivateFolder(trash + "/files", error)
        && ensurePrivateFolder(trash + "/info", error);
}

bool makeParents(const QByteArray& path)
{
    // mkdir -p with 0700 for the folders made (XDG data home included).
    for (qsizetype i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path.at(i) == '/') {
            const QByteArray part = path.left(i);
            if (::mkdir(part.constData(), 0700) != 0 && errno != EEXIST)
                return false;
        }
    }
    return true;
}

// The path with its folder part resolved (the last component is kept: it may be a link).
QByteArray absolutePath(const QByteArray& path)
{
    QByteArray p = path;
    while (p.size() > 1 && p.endsWith('/'))
        p.chop(1);
    const qsizetype slash = p.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray(".") : (slash == 0 ? QByteArray("/") : p.left(slash));
    const QByteArray name = slash < 0 ? p : p.mid(slash + 1);
    char resolved[PATH_MAX];
    if (!::realpath(folder.constData(), resolved))
        return QByteArray();
    QByteArray result(resolved);
    if (!result.endsWith('/'))
        result += '/';
    return result + name;
}

QByteArray topDirTrash(const QByteArray& top, QString* error)
{
    const QByteArray uid = QByteArray::number(::geteuid());
    // The shared ".Trash" counts only when it is a real folder with the sticky bit.
    const QByteArray shared = (top == "/" ? QByteArray() : top) + "/.Trash";
    struct stat st;
    if (::lstat(shared.constData(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX)) {
        const QByteArray mine = shared + '/' + uid;
        if (ensureTrashLayout(mine, nullptr))
            return mine;
    }
    const QByteArray own = (top == "/" ? QByteArray() : top) + "/.Trash-" + uid;
    if (ensureTrashLayout(own, error))
        return own;
    return QByteArray();
}

} // namespace

QByteArray Trash::homeTrash()
{
    return NameCodec::encode(AppPaths::dataHome()) + "/Trash";
}

QByteArray Trash::trashFolderFor(const QByteArray& path, QString* error)
{
    struct stat file;
    if (::lstat(path.constData(), &file) != 0) {
        setError(error, tr("\"%1\": %2").arg(NameCodec::decode(path), errnoText(errno)));
        return QByteArray();
    }
    const QByteArray home = homeTrash();
    const QByteArray homeParent = home.left(home.lastIndexOf('/'));
    struct stat homeStat;
    if (makeParents(homeParent) && ::stat(homeParent.constData(), &homeStat) == 0
        && homeStat.st_dev == file.st_dev) {
        return ensureTrashLayout(home, error) ? home : QByteArray();
    }
    const QByteArray absolute = absolutePath(path);
    const QString top = MountInfo::mountPointForPath(NameCodec::decode(absolute));
    if (top.isEmpty()) {
        setError(error, tr("No trash folder for \"%1\"").arg(NameCodec::decode(path)));
        return QByteArray();
    }
    return topDirTrash(NameCodec::encode(top), error);
}

bool Trash::moveToTrash(const QByteArray& pathIn, QString* error)
{
    const QByteArray path = absolutePath(pathIn);
    if (path.isEmpty()) {
        setError(error, tr("\"%1\": %2").arg(NameCodec::decode(pathIn), errnoText(errno)));
        return false;
    }
    const QByteArray trash = trashFolderFor(path, error);
    if (trash.isEmpty())
        return false;

    // Path= is absolute for the home trash and relative to the top folder elsewhere.
    QByteArray original = path;
    if (trash != homeTrash()) {
        const QByteArray top = trash.left(trash.lastIndexOf("/.Trash"));
        const QByteArray prefix = top == "" ? QByteArray("/") : top + '/';
        if (path.startsWith(prefix))
            original = path.mid(prefix.size());
    }
    const QByteArray info = "[Trash Info]\nPath=" + original.toPercentEncoding("/") + "\nDeletionDate="
        + Clock::current().now().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1() + "\n";

    const QByteArray name = path.mid(path.lastIndexOf('/') + 1);
    for (int n = 1; n < 10000; ++n) {
        const QByteArray trashName = n == 1 ? name : name + '.' + QByteArray::number(n);
        const QByteArray infoPath = trash + "/info/" + trashName + ".trashinfo";
        // The info file reserves the name: whoever creates it first owns that name.
        const int fd
            = ::open(infoPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            setError(error,
                tr("Can not move \"%1\" to the Trash: %2").arg(NameCodec::decode(path), errnoText(errno)));
            return false;
        }
        const bool written = ::write(fd, info.constData(), size_t(info.size())) == info.size();
        const bool synced = ::fsync(fd) == 0;
        ::close(fd);
        const QByteArray target = trash + "/files/" + trashName;
        if (!written || !synced || ::rename(path.constData(), target.constData()) != 0) {
            const int err = errno;
            ::unlink(infoPath.constData());
            setError(error,
                tr("Can not move \"%1\" to the Trash: %2").arg(NameCodec::decode(path), errnoText(err)));
            return false;
        }
        return true;
    }
    setError(
        error, tr("Can not move \"%1\" to the Trash: %2").arg(NameCodec::decode(path), errnoText(EEXIST)));
    return false;
}
