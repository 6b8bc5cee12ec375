#include "ArgvOutFile.h"

#include "platform/NameCodec.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

ArgvOutFile::~ArgvOutFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool ArgvOutFile::open(const QString& path, QString* error)
{
    const QByteArray raw = NameCodec::encode(path);
    m_fd = ::open(raw.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (m_fd < 0) {
        *error = QStringLiteral("cannot open \"%1\": %2")
                     .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    return true;
}

QByteArray ArgvOutFile::encode(const QStringList& argv)
{
    QByteArray bytes;
    for (const QString& arg : argv) {
        // Paths from disk carry their original bytes back out.
        bytes += NameCodec::encode(arg);
        bytes += '\0';
    }
    bytes += '\0';
    return bytes;
}

bool ArgvOutFile::append(const QStringList& argv)
{
    if (m_fd < 0)
        return false;
    const QByteArray bytes = encode(argv);
    const char* p = bytes.constData();
    size_t left = size_t(bytes.size());
    while (left > 0) {
        const ssize_t n = ::write(m_fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= size_t(n);
    }
    return true;
}
