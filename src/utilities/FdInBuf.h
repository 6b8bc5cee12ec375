#pragma once

#include <istream>
#include <streambuf>

// An input stream buffer over a file descriptor it does not own and never closes: keeps up to 4
// bytes already read for putting back and refills with one read(2) of up to 1,024 bytes; a read
// of 0 bytes (or an error other than EINTR) is the end of data.
class FdInBuf : public std::streambuf
{
public:
    static constexpr int PutBack = 4;
    static constexpr int BufferSize = 1024;

    explicit FdInBuf(int fd);

protected:
    int_type underflow() override;

private:
    int m_fd;
    char m_buffer[PutBack + BufferSize];
};

// std::istream over a borrowed file descriptor, for reading child output line by line.
class FdIStream : public std::istream
{
public:
    explicit FdIStream(int fd)
        : std::istream(nullptr)
        , m_buf(fd)
    {
        rdbuf(&m_buf);
    }

private:
    FdInBuf m_buf;
};
