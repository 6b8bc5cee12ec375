#include "archive/ud_stream.h"

#include "utilities/TempFolder.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// ---- memory back end ----
struct MemState
{
    unsigned char* block = nullptr;
    size_t capacity = 0;
    size_t length = 0;
    size_t pos = 0;
    bool growable = false;
    bool owned = false;
};

ssize_t memRead(void* st, void* buf, size_t n)
{
    auto* m = static_cast<MemState*>(st);
    const size_t avail = m->pos < m->length ? m->length - m->pos : 0;
    const size_t k = std::min(n, avail);
    std::memcpy(buf, m->block + m->pos, k);
    m->pos += k;
    return ssize_t(k);
}

ssize_t memWrite(void* st, const void* buf, size_t n)
{
    auto* m = static_cast<MemState*>(st);
    if (m->pos + n > m->capacity && m->growable) {
        // Doubling keeps a long series of writes linear.
        size_t cap = std::max<size_t>(m->capacity, 1024);
        while (cap < m->pos + n)
            cap *= 2;
        auto* grown = static_cast<unsigned char*>(std::realloc(m->block, cap));
        if (grown) {
            std::memset(grown + m->capacity, 0, cap - m->capacity);
            m->block = grown;
            m->capacity = cap;
        }
    }
    const size_t room = m->pos < m->capacity ? m->capacity - m->pos : 0;
    const size_t k = std::min(n, room);
    std::memcpy(m->block + m->pos, buf, k);
    m->pos += k;
    m->length = std::max(m->length, m->pos);
    return ssize_t(k);
}

off_t memSeek(void* st, off_t offset, int whence)
{
    auto* m = static_cast<MemState*>(st);
    off_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? off_t(m->pos) : off_t(m->length);
    if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END)
        return -1;
    const off_t target = base + offset;
    if (target < 0 || (size_t(target) > m->capacity && !m->growable))
        return -1;
    m->pos = size_t(target);
    return target;
}

int memClose(void* st)
{
    auto* m = static_cast<MemState*>(st);
    if (m->owned)
        std::free(m->block);
    delete m;
    return 0;
}

off_t memLength(void* st)
{
    return off_t(static_cast<MemState*>(st)->length);
}

const ud_stream_ops kMemOps = { memRead, memWrite, memSeek, memClose, memLength };

// ---- file descriptor back end ----
ssize_t fdRead(void* st, void* buf, size_t n)
{
    const int fd = int(reinterpret_cast<intptr_t>(st));
    ssize_t r;
    do
        r = ::read(fd, buf, n);
    while (r < 0 && errno == EINTR);
    return r;
}

ssize_t fdWrite(void* st, const void* buf, size_t n)
{
    const int fd = int(reinterpret_cast<intptr_t>(st));
    size_t done = 0;
    while (done < n) {
        const ssize_t r = ::write(fd, static_cast<const char*>(buf) + done, n - done);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        done += size_t(r);
    }
    return ssize_t(done);
}

off_t fdSeek(void* st, off_t offset, int whence)
{
    return ::lseek(int(reinterpret_cast<intptr_t>(st)), offset, whence);
}

int fdClose(void* st)
{
    return ::close(int(reinterpret_cast<intptr_t>(st)));
}

off_t fdLength(void* st)
{
    struct stat sb
    {
    };
    if (::fstat(int(reinterpret_cast<intptr_t>(st)), &sb) != 0 || !S_ISREG(sb.st_mode))
        return -1;
    return sb.st_size;
}

const ud_stream_ops kFdOps = { fdRead, fdWrite, fdSeek, fdClose, fdLength };

int parseMode(const char* mode)
{
    int bits = 0;
    for (const char* p = mode; p && *p; ++p) {
        switch (*p) {
        case 'r':
            bits |= UD_MODE_READ;
            break;
        case 'w':
            bits |= UD_MODE_WRITE | UD_MODE_TRUNCATE;
            break;
        case 'a':
            bits |= UD_MODE_APPEND | UD_MODE_WRITE;
            break;
        case '+':
            bits |= UD_MODE_READ | UD_MODE_WRITE;
            break;
        case 'b':
            bits |= UD_MODE_BINARY;
            break;
        default:
            break;
        }
    }
    return bits;
}

ud_stream_t* makeStream(const ud_stream_ops* ops, void* state, int mode)
{
    auto* s = new (std::nothrow) ud_stream_t;
    if (!s)
        return nullptr;
    s->ops = ops;
    s->state = state;
    s->mode = mode;
    s->area = static_cast<unsigned char*>(std::malloc(UD_STREAM_PUSHBACK + UD_STREAM_BUFSIZE));
    if (s->area) {
        s->bufstate = UD_BUF_BUFFERED | UD_BUF_OWNED;
        s->bufsize = UD_STREAM_BUFSIZE;
    } else {
        s->area = s->single; // unbuffered: one byte inside the record
        s->bufsize = 1;
    }
    s->buf = s->area + UD_STREAM_PUSHBACK;
    s->ptr = s->buf;
    return s;
}

bool stopped(const ud_stream_t* s)
{
    return s->cond & (UD_COND_EOF | UD_COND_WRITE_ERROR | UD_COND_LIMIT);
}

// How many bytes the transfer limit still lets through of n.
size_t allowance(ud_stream_t* s, size_t n)
{
    if (s->rwlimit < 0)
        return n;
    const long long rest = s->rwlimit - s->rwcount;
    return rest <= 0 ? 0 : std::min<size_t>(n, size_t(rest));
}

void countMoved(ud_stream_t* s, size_t n)
{
    s->rwcount += (long long)n;
    if (s->rwlimit >= 0 && s->rwcount >= s->rwlimit)
        s->cond |= UD_COND_LIMIT;
}

int flushbuf(ud_stream_t* s)
{
    if (!(s->bufstate & UD_BUF_DIRTY))
        return 0;
    const size_t n = size_t(s->ptr - s->buf);
    s->bufstate &= ~UD_BUF_DIRTY;
    s->ptr = s->buf;
    if (n == 0)
        return 0;
    const ssize_t w = s->ops->write(s->state, s->buf, n);
    if (w < 0 || size_t(w) != n) {
        s->cond |= UD_COND_WRITE_ERROR;
        return -1;
    }
    return 0;
}

// Refills an empty read buffer; the number of bytes now there (0 at the end, -1 on error).
ssize_t fillbuf(ud_stream_t* s)
{
    if (flushbuf(s) != 0)
        return -1;
    const ssize_t r = s->ops->read(s->state, s->buf, s->bufsize);
    s->ptr = s->buf;
    s->left = r > 0 ? size_t(r) : 0;
    if (r > 0)
        s->bufstate |= UD_BUF_READAHEAD;
    else
        s->bufstate &= ~UD_BUF_READAHEAD;
    if (r == 0)
        s->cond |= UD_COND_EOF;
    return r;
}

// Leaves the read state: the back end goes back to the logical position.
int dropReadAhead(ud_stream_t* s)
{
    if (!(s->bufstate & UD_BUF_READAHEAD) && s->ptr >= s->buf) {
        s->left = 0;
        s->ptr = s->buf;
        return 0;
    }
    if (s->left && s->ops->seek(s->state, -off_t(s->left), SEEK_CUR) < 0)
        return -1;
    s->left = 0;
    s->ptr = s->buf;
    s->bufstate &= ~UD_BUF_READAHEAD;
    return 0;
}

} // namespace

ud_stream_t* ud_stream_memopen(void* block, long size)
{
    auto* m = new (std::nothrow) MemState;
    if (!m)
        return nullptr;
    if (block && size > 0) {
        m->block = static_cast<unsigned char*>(block);
        m->capacity = m->length = size_t(size);
    } else {
        m->capacity = size > 0 ? size_t(size) : 1024;
        m->growable = size <= 0;
        m->block = static_cast<unsigned char*>(std::calloc(1, m->capacity));
        m->owned = true;
        if (!m->block) {
            delete m;
            return nullptr;
        }
    }
    ud_stream_t* s = makeStream(&kMemOps, m, UD_MODE_READ | UD_MODE_WRITE | UD_MODE_BINARY);
    if (!s)
        memClose(m);
    return s;
}

ud_stream_t* ud_stream_fdopen(int fd, const char* mode)
{
    if (fd < 0)
        return nullptr;
    ud_stream_t* s = makeStream(&kFdOps, reinterpret_cast<void*>(intptr_t(fd)), parseMode(mode));
    if (!s)
        ::close(fd);
    return s;
}

ud_stream_t* ud_stream_fopen(const char* path, const char* mode)
{
    const int bits = parseMode(mode);
    if (!path || !(bits & (UD_MODE_READ | UD_MODE_WRITE)))
        return nullptr;
    int flags = O_CLOEXEC;
    if ((bits & UD_MODE_READ) && (bits & UD_MODE_WRITE))
        flags |= O_RDWR;
    else if (bits & UD_MODE_WRITE)
        flags |= O_WRONLY;
    else
        flags |= O_RDONLY;
    if (bits & UD_MODE_APPEND)
        flags |= O_APPEND | O_CREAT;
    if (bits & UD_MODE_TRUNCATE)
        flags |= O_CREAT | O_TRUNC;
    const int fd = ::open(path, flags, 0666);
    if (fd < 0)
        return nullptr;
    return ud_stream_fdopen(fd, mode);
}

ud_stream_t* ud_stream_tmpfile()
{
    // An unnamed file in this process's private folder; where the file system has no unnamed
    // files, a unique name that is removed at once.
    const std::string folder = TempFolder::privateFolder(TempFolder::defaultBase());
    if (folder.empty())
        return nullptr;
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::string name = folder + "/ud.XXXXXX";
        fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd < 0)
            return nullptr;
        ::unlink(name.c_str());
    }
    return ud_stream_fdopen(fd, "w+b");
}

int ud_stream_close(ud_stream_t* s)
{
    if (!s)
        return -1;
    int result = 0;
    if (!(s->bufstate & UD_BUF_READAHEAD) && flushbuf(s) != 0)
        result = -1;
    if (s->ops->close(s->state) != 0)
        result = -1;
    if (s->area != s->single)
        std::free(s->area);
    delete s;
    return result;
}

int ud_stream_getc_func(ud_stream_t* s)
{
    unsigned char c;
    return ud_stream_read(&c, 1, s) == 1 ? int(c) : -1;
}

int ud_stream_putc_func(int c, ud_stream_t* s)
{
    const unsigned char b = static_cast<unsigned char>(c);
    return ud_stream_write(&b, 1, s) == 1 ? int(b) : -1;
}

int ud_stream_ungetc(int c, ud_stream_t* s)
{
    if (!s || c < 0)
        return -1;
    if (s->bufstate & UD_BUF_DIRTY) {
        if (flushbuf(s) != 0)
            return -1;
    }
    if (s->ptr <= s->area)
        return -1; // the push-back area is full
    --s->ptr;
    *s->ptr = static_cast<unsigned char>(c);
    ++s->left;
    s->bufstate |= UD_BUF_READAHEAD;
    s->cond &= ~UD_COND_EOF;
    return c & 0xFF;
}

long ud_stream_read(void* buf, long size, ud_stream_t* s)
{
    if (!s || !buf || size < 0)
        return -1;
    auto* out = static_cast<unsigned char*>(buf);
    size_t want = allowance(s, size_t(size));
    if (stopped(s))
        return 0;
    if (s->bufstate & UD_BUF_DIRTY && flushbuf(s) != 0)
        return -1;
    size_t got = 0;
    while (got < want) {
        if (s->left == 0) {
            const ssize_t r = fillbuf(s);
            if (r < 0)
                return got ? long(got) : -1;
            if (r == 0)
                break;
        }
        const size_t k = std::min(s->left, want - got);
        std::memcpy(out + got, s->ptr, k);
        s->ptr += k;
        s->left -= k;
        got += k;
    }
    if (s->left == 0 && s->ptr >= s->buf) {
        s->ptr = s->buf;
        s->bufstate &= ~UD_BUF_READAHEAD;
    }
    countMoved(s, got);
    return long(got);
}

long ud_stream_write(const void* buf, long size, ud_stream_t* s)
{
    if (!s || !buf || size < 0)
        return -1;
    if (stopped(s))
        return -1;
    const auto* in = static_cast<const unsigned char*>(buf);
    const size_t want = allowance(s, size_t(size));
    if ((s->bufstate & UD_BUF_READAHEAD || s->ptr < s->buf) && dropReadAhead(s) != 0)
        return -1;
    size_t put = 0;
    while (put < want) {
        const size_t room = s->bufsize - size_t(s->ptr - s->buf);
        const size_t k = std::min(room, want - put);
        std::memcpy(s->ptr, in + put, k);
        s->ptr += k;
        put += k;
        s->bufstate |= UD_BUF_DIRTY;
        if (size_t(s->ptr - s->buf) == s->bufsize && flushbuf(s) != 0) {
            countMoved(s, put);
            return -1;
        }
    }
    countMoved(s, put);
    return long(put);
}

long ud_stream_copy(ud_stream_t* from, ud_stream_t* to, long count)
{
    unsigned char chunk[4096];
    long total = 0;
    while (count < 0 || total < count) {
        const long want = count < 0 ? long(sizeof chunk) : std::min<long>(sizeof chunk, count - total);
        const long r = ud_stream_read(chunk, want, from);
        if (r < 0)
            return -1;
        if (r == 0)
            break;
        if (ud_stream_write(chunk, r, to) != r)
            return -1;
        total += r;
    }
    return total;
}

int ud_stream_puts(const char* text, ud_stream_t* s)
{
    if (!text)
        return -1;
    const long n = long(std::strlen(text));
    return ud_stream_write(text, n, s) == n ? int(n) : -1;
}

int ud_stream_printf(ud_stream_t* s, const char* format, ...)
{
    va_list ap;
    va_start(ap, format);
    char small[512];
    va_list ap2;
    va_copy(ap2, ap);
    const int n = std::vsnprintf(small, sizeof small, format, ap);
    va_end(ap);
    if (n < 0) {
        va_end(ap2);
        return -1;
    }
    if (size_t(n) < sizeof small) {
        va_end(ap2);
        return ud_stream_puts(small, s);
    }
    std::string big(size_t(n) + 1, '\0');
    std::vsnprintf(big.data(), big.size(), format, ap2);
    va_end(ap2);
    return ud_stream_write(big.data(), n, s) == n ? n : -1;
}

char* ud_stream_gets(char* buffer, int size, ud_stream_t* s)
{
    // A size of 0 or less leaves no room for the terminating zero: nothing is read or written.
    if (!buffer || !s || size <= 0)
        return nullptr;
    int n = 0;
    while (n < size - 1) {
        const int c = ud_stream_getc_func(s);
        if (c < 0)
            break;
        buffer[n++] = char(c);
        if (c == '\n')
            break;
    }
    buffer[n] = '\0';
    if (n == 0 && size > 1)
        return nullptr;
    return buffer;
}

long ud_stream_gobble(ud_stream_t* s, long n)
{
    unsigned char chunk[1024];
    long total = 0;
    while (total < n) {
        const long r = ud_stream_read(chunk, std::min<long>(sizeof chunk, n - total), s);
        if (r <= 0)
            break;
        total += r;
    }
    return total;
}

int ud_stream_seek(ud_stream_t* s, long long offset, int whence)
{
    if (!s)
        return -1;
    if (flushbuf(s) != 0)
        return -1;
    if (whence == SEEK_CUR)
        offset -= (long long)s->left; // the back end is ahead by what is still buffered
    if (s->ops->seek(s->state, off_t(offset), whence) < 0)
        return -1;
    s->ptr = s->buf;
    s->left = 0;
    s->bufstate &= ~UD_BUF_READAHEAD;
    s->cond &= ~UD_COND_EOF;
    return 0;
}

long long ud_stream_tell(ud_stream_t* s)
{
    if (!s)
        return -1;
    const off_t at = s->ops->seek(s->state, 0, SEEK_CUR);
    if (at < 0)
        return -1;
    if (s->bufstate & UD_BUF_DIRTY)
        return (long long)at + (s->ptr - s->buf);
    return (long long)at - (long long)s->left;
}

int ud_stream_rewind(ud_stream_t* s)
{
    if (ud_stream_seek(s, 0, SEEK_SET) != 0)
        return -1;
    s->cond = 0;
    return 0;
}

int ud_stream_isseekable(ud_stream_t* s)
{
    return s && s->ops->seek(s->state, 0, SEEK_CUR) >= 0 ? 1 : 0;
}

long long ud_stream_length(ud_stream_t* s)
{
    if (!s || ud_stream_flush(s) != 0)
        return -1;
    return s->ops->length(s->state);
}

int ud_stream_flush(ud_stream_t* s)
{
    if (!s)
        return -1;
    return flushbuf(s);
}

long long ud_stream_setrwcount(ud_stream_t* s, long long count)
{
    const long long previous = s->rwcount;
    s->rwcount = count;
    if (s->rwlimit < 0 || count < s->rwlimit)
        s->cond &= ~UD_COND_LIMIT;
    return previous;
}

long long ud_stream_setrwlimit(ud_stream_t* s, long long limit)
{
    const long long previous = s->rwlimit;
    s->rwlimit = limit < 0 ? -1 : limit;
    if (s->rwlimit < 0 || s->rwcount < s->rwlimit)
        s->cond &= ~UD_COND_LIMIT;
    else
        s->cond |= UD_COND_LIMIT;
    return previous;
}

int ud_stream_display(ud_stream_t* s, FILE* out, long n)
{
    // The first line and the last partial line are printed; the full lines between are read
    // and skipped, so a long dump stays short.
    long offset = 0;
    const long lastPartial = n % 16 ? n - n % 16 : -1;
    while (offset < n) {
        unsigned char line[16];
        const long want = std::min<long>(16, n - offset);
        const long r = ud_stream_read(line, want, s);
        if (r <= 0)
            return -1;
        if (offset == 0 || offset == lastPartial) {
            std::fprintf(out, "%08lx:", offset);
            for (long i = 0; i < r; ++i)
                std::fprintf(out, " %02x", line[i]);
            std::fputc('\n', out);
        }
        offset += r;
        if (r < want)
            break;
    }
    return 0;
}

void* ud_stream_get_buffer(ud_stream_t* s, long* length)
{
    if (!s || s->ops != &kMemOps || flushbuf(s) != 0)
        return nullptr;
    auto* m = static_cast<MemState*>(s->state);
    if (length)
        *length = long(m->length);
    return m->block;
}

void* ud_stream_detach_buffer(ud_stream_t* s, long* length)
{
    void* block = ud_stream_get_buffer(s, length);
    if (block)
        static_cast<MemState*>(s->state)->owned = false;
    return block;
}

IFileCrypter& IFileCrypter::sharedFileCrypter()
{
    static IFileCrypter crypter;
    return crypter;
}
