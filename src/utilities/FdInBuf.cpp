#include "FdInBuf.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

FdInBuf::FdInBuf(int fd)
    : m_fd(fd)
{
    setg(m_buffer + PutBack, m_buffer + PutBack, m_buffer + PutBack);
}

FdInBuf::int_type FdInBuf::underflow()
{
    if (gptr() < egptr())
        return traits_type::to_int_type(*gptr());
    // keep the last bytes read for putting back
    const int keep = int(std::min<std::ptrdiff_t>(gptr() - eback(), PutBack));
    std::memmove(m_buffer + PutBack - keep, gptr() - keep, size_t(keep));
    ssize_t n;
    do {
        n = ::read(m_fd, m_buffer + PutBack, BufferSize);
    } while (n < 0 && errno == EINTR);
    if (n <= 0)
        return traits_type::eof();
    setg(m_buffer + PutBack - keep, m_buffer + PutBack, m_buffer + PutBack + n);
    return traits_type::to_int_type(*gptr());
}
