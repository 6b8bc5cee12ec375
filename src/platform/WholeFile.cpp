#include "WholeFile.h"

#include "NameCodec.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace WholeFile {

namespace {

bool readToEnd(int fd, QByteArray* out)
{
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        out->append(buf, qsizetype(n));
    }
}

} // namespace

QByteArray readFrom(int fd, bool* ok)
{
    QByteArray out;
    const bool good = fd >= 0 && ::lseek(fd, 0, SEEK_SET) >= 0 && readToEnd(fd, &out);
    if (ok)
        *ok = good;
    return good ? out : QByteArray();
}

QByteArray read(const std::string& path, bool* ok)
{
    int fd;
    do
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    QByteArray out;
    const bool good = fd >= 0 && readToEnd(fd, &out);
    if (fd >= 0)
        ::close(fd);
    if (ok)
        *ok = good;
    return good ? out : QByteArray();
}

QByteArray read(const QString& path, bool* ok)
{
    return read(NameCodec::encodeStd(path), ok);
}

} // namespace WholeFile
