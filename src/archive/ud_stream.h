#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <sys/types.h>

// A small buffered byte stream over a memory block, a file descriptor or an anonymous temporary
// file, with the manner of the C library's streams: operations answer -1 (or nullptr) on
// failure and a count or 0 on success.

enum : int
{
    UD_MODE_READ = 1,
    UD_MODE_WRITE = 2,
    UD_MODE_APPEND = 4,
    UD_MODE_BINARY = 8,
    UD_MODE_TRUNCATE = 16,
};

enum : int
{
    UD_BUF_BUFFERED = 2,
    UD_BUF_OWNED = 8,
    UD_BUF_READAHEAD = 16, // the buffer holds bytes read ahead
    UD_BUF_DIRTY = 32, // the buffer holds bytes not yet written
};

enum : int
{
    UD_COND_EOF = 1,
    UD_COND_WRITE_ERROR = 2,
    UD_COND_LIMIT = 4, // the transfer limit was reached
};

inline constexpr int UD_STREAM_BUFSIZE = 8192;
inline constexpr int UD_STREAM_PUSHBACK = 16;

struct ud_stream_ops
{
    ssize_t (*read)(void* state, void* buf, size_t n);
    ssize_t (*write)(void* state, const void* buf, size_t n);
    off_t (*seek)(void* state, off_t offset, int whence); // -1 when not seekable
    int (*close)(void* state);
    off_t (*length)(void* state); // -1 when unknown
};

struct ud_stream_t
{
    int mode = 0;
    int bufstate = 0;
    int cond = 0;
    unsigned char* area = nullptr; // UD_STREAM_PUSHBACK bytes, then the buffer
    unsigned char* buf = nullptr;
    size_t bufsize = 0;
    unsigned char single[UD_STREAM_PUSHBACK + 1] = {}; // the unbuffered fallback
    unsigned char* ptr = nullptr; // next byte to read, or next free byte to write
    size_t left = 0; // read-ahead bytes from ptr on
    long long rwcount = 0;
    long long rwlimit = -1;
    const ud_stream_ops* ops = nullptr;
    void* state = nullptr;
};

ud_stream_t* ud_stream_memopen(void* block, long size);
ud_stream_t* ud_stream_fopen(const char* path, const char* mode);
ud_stream_t* ud_stream_fdopen(int fd, const char* mode); // the stream owns fd from now on
ud_stream_t* ud_stream_tmpfile();
int ud_stream_close(ud_stream_t* s);

int ud_stream_getc_func(ud_stream_t* s);
int ud_stream_putc_func(int c, ud_stream_t* s);
int ud_stream_ungetc(int c, ud_stream_t* s);

long ud_stream_read(void* buf, long size, ud_stream_t* s);
long ud_stream_write(const void* buf, long size, ud_stream_t* s);
long ud_stream_copy(ud_stream_t* from, ud_stream_t* to, long count); // count < 0: all

int ud_stream_printf(ud_stream_t* s, const char* format, ...) __attribute__((format(printf, 2, 3)));
int ud_stream_puts(const char* text, ud_stream_t* s);
char* ud_stream_gets(char* buffer, int size, ud_stream_t* s);
long ud_stream_gobble(ud_stream_t* s, long n);

int ud_stream_seek(ud_stream_t* s, long long offset, int whence);
long long ud_stream_tell(ud_stream_t* s);
int ud_stream_rewind(ud_stream_t* s);
int ud_stream_isseekable(ud_stream_t* s);
long long ud_stream_length(ud_stream_t* s);
int ud_stream_flush(ud_stream_t* s);

long long ud_stream_setrwcount(ud_stream_t* s, long long count); // answers the previous count
long long ud_stream_setrwlimit(ud_stream_t* s, long long limit); // -1: none; the previous limit
int ud_stream_display(ud_stream_t* s, FILE* out, long n);

// The memory block of a memory stream (flushed first) and its length; nullptr for others.
void* ud_stream_get_buffer(ud_stream_t* s, long* length);
// The same, and the caller owns the block from now on (free it with free()).
void* ud_stream_detach_buffer(ud_stream_t* s, long* length);

// The file encrypter: no behaviour of its own yet.
class IFileCrypter
{
public:
    static IFileCrypter& sharedFileCrypter();
    IFileCrypter* init() { return this; }
};
