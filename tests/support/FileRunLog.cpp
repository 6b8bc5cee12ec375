#include "FileRunLog.h"

#include <QFile>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

namespace {
void writeAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n <= 0)
            return;
        data += n;
        size -= size_t(n);
    }
}
} // namespace

FileRunLog::FileRunLog(const QString& path, bool splitWrites)
    : m_path(path)
    , m_splitWrites(splitWrites)
{
    m_fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
}

FileRunLog::~FileRunLog()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void FileRunLog::traceToLog(const QByteArray& text)
{
    if (m_fd < 0 || text.isNull())
        return;
    if (!m_splitWrites || text.size() < 2) {
        writeAll(m_fd, text.constData(), size_t(text.size()));
        return;
    }
    const qsizetype half = text.size() / 2;
    writeAll(m_fd, text.constData(), size_t(half));
    sched_yield(); // give another writer the chance to come between the halves
    writeAll(m_fd, text.constData() + half, size_t(text.size() - half));
}
