#include "AtomicFile.h"

#include "NameCodec.h"

#include <QCoreApplication>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace AtomicFile {

namespace {

QString errnoText(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

// The process umask without changing it (umask(2) can only be read by setting it).
mode_t currentUmask()
{
    int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        char buf[4096];
        ssize_t n = ::read(fd, buf, sizeof buf - 1);
        ::close(fd);
        if (n > 0) {
            buf[n] = 0;
            if (const char* p = std::strstr(buf, "\nUmask:"))
                return mode_t(std::strtoul(p + 7, nullptr, 8));
        }
    }
    return 022;
}

std::string parentOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

bool writeAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= size_t(n);
    }
    return true;
}

bool fsyncPath(const std::string& folder)
{
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0 || errno == EINVAL; // some file systems cannot sync folders
    ::close(fd);
    return ok;
}

} // namespace

bool syncFolder(const QString& folderPath)
{
    return fsyncPath(NameCodec::encodeStd(folderPath));
}

bool write(const QString& path, const QByteArray& data, QString* error)
{
    auto fail = [&](const QString& what, int err) {
        if (error)
            *error = QCoreApplication::translate("Localizable", "Could not write \"%1\": %2")
                         .arg(path, err ? QString(what + QStringLiteral(": ") + errnoText(err)) : what);
        return false;
    };
    const std::string target = NameCodec::encodeStd(path);
    if (target.empty() || target.back() == '/')
        return fail(QStringLiteral("not a file path"), 0);

    const std::string folder = parentOf(target);
    const std::string base
        = target.substr(target.find_last_of('/') == std::string::npos ? 0 : target.find_last_of('/') + 1);
    // A hidden name, cut so the temporary name stays within the component limit.
    std::string tmpl = folder + "/." + base.substr(0, 200) + ".tmp-XXXXXX";
    int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd < 0)
        return fail(QStringLiteral("temporary file"), errno);

    auto abandon = [&](const QString& what, int err) {
        ::close(fd);
        ::unlink(tmpl.c_str());
        return fail(what, err);
    };

    struct stat st
    {
    };
    mode_t mode = 0666 & ~currentUmask();
    if (::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        mode = st.st_mode & 07777;
    if (::fchmod(fd, mode) != 0)
        return abandon(QStringLiteral("permissions"), errno);
    if (!writeAll(fd, data.constData(), size_t(data.size())))
        return abandon(QStringLiteral("write"), errno);
    if (::fsync(fd) != 0)
        return abandon(QStringLiteral("fsync"), errno);
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(tmpl.c_str());
        return fail(QStringLiteral("close"), err);
    }
    if (::rename(tmpl.c_str(), target.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmpl.c_str());
        return fail(QStringLiteral("rename"), err);
    }
    fsyncPath(folder);
    return true;
}

} // namespace AtomicFile
