#include "archive/CUDArch.h"

#include "platform/NameCodec.h"
#include "utilities/MainPreferences.h"

#include <QRegularExpression>
#include <QTimeZone>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int CUDArch::m_nLastError = 0;

void BlockInfo::InitDefault(quint8 blockType, quint32 position)
{
    type = blockType;
    start = end = position;
    firstChild = nextSibling = kNone;
    ended = false;
}

namespace {

bool readWholeFile(const QString& path, QByteArray* out)
{
    const QByteArray name = NameCodec::encode(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > CUDArch::kMaxSize) {
        ::close(fd);
        return false;
    }
    out->resize(qsizetype(st.st_size));
    qint64 done = 0;
    while (done < st.st_size) {
        const ssize_t n = ::read(fd, out->data() + done, size_t(st.st_size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    ::close(fd);
    out->resize(qsizetype(done)); // a file that shrank meanwhile reads as what was there
    return true;
}

bool writeWholeFile(const QString& path, const QByteArray& data, QString* error)
{
    const QByteArray name = NameCodec::encode(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    qint64 done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *error = QString::fromLocal8Bit(std::strerror(n < 0 ? errno : ENOSPC));
            ::close(fd);
            return false;
        }
        done += n;
    }
    if (::close(fd) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    return true;
}

} // namespace

CUDArch::CUDArch(const QString& path, Mode mode)
    : m_path(path)
    , m_mode(mode)
    , m_isFile(true)
{
    commonInit();
    if (path.isEmpty())
        return;
    if (isWriting()) {
        // The file is created (or truncated) now, as callers expect; its content follows at Close.
        const QByteArray name = NameCodec::encode(path);
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0)
            return;
        ::close(fd);
        m_open = true;
    } else {
        m_open = readWholeFile(path, &m_data);
    }
}

CUDArch::CUDArch(QByteArray* buffer, Mode mode)
    : m_external(buffer)
    , m_mode(mode)
{
    commonInit();
    if (!buffer)
        return;
    if (isWriting())
        buffer->clear();
    else
        m_data = *buffer;
    m_open = !isWriting() ? buffer->size() <= kMaxSize : true;
}

CUDArch::~CUDArch()
{
    if (m_open)
        Close();
}

void CUDArch::commonInit()
{
    m_nLastError = 0;
    m_version = 0;
    m_revision = 1;
}

bool CUDArch::Close()
{
    if (!m_open)
        return m_writeError.isEmpty();
    if (!isWriting()) {
        m_open = false;
        m_blocks.clear();
        return true;
    }
    try {
        closeBlockInfo();
    } catch (const ArchiveFormatError&) {
        m_writeError = QStringLiteral("the file is too large");
    }
    m_open = false;
    m_blocks.clear();
    if (!m_writeError.isEmpty())
        return false;
    if (m_external) {
        *m_external = m_data;
        return true;
    }
    return writeWholeFile(m_path, m_data, &m_writeError);
}

void CUDArch::Abort()
{
    if (!m_open)
        return;
    m_open = false;
    m_blocks.clear();
    if (m_mode == WriteTree) {
        if (m_isFile)
            ::unlink(NameCodec::encode(m_path).constData());
        else if (m_external)
            m_external->clear();
    } else if (m_mode == WriteHeader) {
        // A record file stays as far as it was written.
        if (m_isFile)
            writeWholeFile(m_path, m_data, &m_writeError);
        else if (m_external)
            *m_external = m_data;
    }
}

void CUDArch::overrun(const char* what)
{
    m_nLastError |= 1;
    throw ArchiveFormatError(what);
}

qint64 CUDArch::limit() const
{
    if (!m_blocks.empty() && !isWriting())
        return m_blocks.back().end;
    return m_data.size();
}

void CUDArch::need(qint64 n)
{
    // Every read lies inside the innermost open block, or inside the data when none is open.
    if (n < 0 || m_pos < 0 || m_pos + n > limit())
        overrun("read past the end of a block");
}

void CUDArch::checkCount(quint64 count, quint64 unitSize)
{
    const qint64 rest = limit() - m_pos;
    if (rest < 0 || (unitSize && count > quint64(rest) / unitSize))
        throw ArchiveFormatError("a count larger than its block");
}

void CUDArch::seek(qint64 position)
{
    if (position < 0 || position > kMaxSize)
        throw ArchiveFormatError("an offset out of range");
    if (!isWriting() && position > m_data.size())
        throw ArchiveFormatError("an offset past the end of the file");
    m_pos = position;
}

void CUDArch::writeRaw(const void* bytes, qint64 n)
{
    if (!m_open || !isWriting())
        throw ArchiveFormatError("the archive is not open for writing");
    if (n <= 0)
        return;
    if (m_pos + n > kMaxSize)
        throw ArchiveFormatError("the file would grow past 2 GiB");
    if (m_pos + n > m_data.size())
        m_data.resize(qsizetype(m_pos + n));
    std::memcpy(m_data.data() + m_pos, bytes, size_t(n));
    m_pos += n;
}

void CUDArch::readRaw(void* bytes, qint64 n)
{
    if (!m_open || isWriting())
        throw ArchiveFormatError("the archive is not open for reading");
    if (n <= 0)
        return;
    need(n);
    std::memcpy(bytes, m_data.constData() + m_pos, size_t(n));
    m_pos += n;
}

void CUDArch::ReversWrite(const void* bytes, int n)
{
    unsigned char tmp[16];
    Q_ASSERT(n <= 16);
    const auto* src = static_cast<const unsigned char*>(bytes);
    for (int i = 0; i < n; ++i)
        tmp[i] = src[n - 1 - i];
    writeRaw(tmp, n);
}

void CUDArch::ReversRead(void* bytes, int n)
{
    unsigned char tmp[16];
    Q_ASSERT(n <= 16);
    readRaw(tmp, n);
    auto* dst = static_cast<unsigned char*>(bytes);
    for (int i = 0; i < n; ++i)
        dst[i] = tmp[n - 1 - i];
}

void CUDArch::Write2ByteArray(const quint16* units, quint32 n)
{
    for (quint32 i = 0; i < n; ++i) {
        const unsigned char b[2] = { quint8(units[i] & 0xFF), quint8(units[i] >> 8) };
        writeRaw(b, 2);
    }
}

void CUDArch::Read2ByteArray(quint16* units, quint32 n)
{
    need(qint64(n) * 2);
    const auto* p = reinterpret_cast<const unsigned char*>(m_data.constData() + m_pos);
    for (quint32 i = 0; i < n; ++i)
        units[i] = quint16(p[2 * i] | (p[2 * i + 1] << 8));
    m_pos += qint64(n) * 2;
}

void CUDArch::Write4ByteArray(const quint32* units, quint32 n)
{
    for (quint32 i = 0; i < n; ++i) {
        const quint32 v = units[i];
        const unsigned char b[4] = { quint8(v), quint8(v >> 8), quint8(v >> 16), quint8(v >> 24) };
        writeRaw(b, 4);
    }
}

void CUDArch::Read4ByteArray(quint32* units, quint32 n)
{
    need(qint64(n) * 4);
    const auto* p = reinterpret_cast<const unsigned char*>(m_data.constData() + m_pos);
    for (quint32 i = 0; i < n; ++i)
        units[i] = quint32(p[4 * i]) | quint32(p[4 * i + 1]) << 8 | quint32(p[4 * i + 2]) << 16
            | quint32(p[4 * i + 3]) << 24;
    m_pos += qint64(n) * 4;
}

void CUDArch::WriteStdString(const QByteArray& bytes)
{
    writeU32(quint32(bytes.size()));
    writeRaw(bytes.constData(), bytes.size());
}

void CUDArch::ReadStdString(QByteArray& bytes)
{
    const quint32 n = readU32();
    if (n == 0 || n == 0xFFFFFFFFu)
        return;
    need(n);
    bytes = m_data.mid(qsizetype(m_pos), qsizetype(n));
    m_pos += n;
}

void CUDArch::writeBool(bool value)
{
    writeU8(value ? 1 : 0);
}
void CUDArch::writeU8(quint8 value)
{
    writeRaw(&value, 1);
}
void CUDArch::writeU16(quint16 value)
{
    ReversWrite(&value, 2);
}
void CUDArch::writeU32(quint32 value)
{
    ReversWrite(&value, 4);
}
void CUDArch::writeU64(quint64 value)
{
    ReversWrite(&value, 8);
}
void CUDArch::writeDouble(double value)
{
    ReversWrite(&value, 8);
}

bool CUDArch::readBool()
{
    return readU8() != 0;
}

quint8 CUDArch::readU8()
{
    quint8 v = 0;
    readRaw(&v, 1);
    return v;
}

quint16 CUDArch::readU16()
{
    quint16 v = 0;
    ReversRead(&v, 2);
    return v;
}

quint32 CUDArch::readU32()
{
    quint32 v = 0;
    ReversRead(&v, 4);
    return v;
}

quint64 CUDArch::readU64()
{
    quint64 v = 0;
    ReversRead(&v, 8);
    return v;
}

double CUDArch::readDouble()
{
    double v = 0;
    ReversRead(&v, 8);
    return v;
}

CUDArch& CUDArch::operator<<(const QString& text)
{
    writeU32(quint32(text.size()));
    Write2ByteArray(reinterpret_cast<const quint16*>(text.utf16()), quint32(text.size()));
    return *this;
}

CUDArch& CUDArch::operator>>(QString& text)
{
    const quint32 n = readU32();
    if (n == 0 || n > kMaxTextUnits) {
        // An implausible count: nil, and the units stay where they are (EndBlock skips them).
        text = QString();
        return *this;
    }
    need(qint64(n) * 2); // before anything is allocated
    QString s(qsizetype(n), Qt::Uninitialized);
    Read2ByteArray(reinterpret_cast<quint16*>(s.data()), n);
    text = s;
    return *this;
}

CUDArch& CUDArch::operator<<(const QDateTime& date)
{
    writeDouble(date.isValid() ? double(date.toMSecsSinceEpoch()) / 1000.0 : 0.0);
    return *this;
}

namespace {

// "YYYY-MM-DD HH:MM:SS ±HHMM", the text form of dates in files of version 6 and below.
QDateTime parseTextDate(const QString& text)
{
    QDateTime d = MainPreferences::dateFromDescription(text);
    if (d.isValid())
        return d;
    static const QRegularExpression re(
        QStringLiteral("^\\s*(\\d{4})-(\\d{1,2})-(\\d{1,2})\\s+(\\d{1,2}):(\\d{1,2}):(\\d{1,2})\\s*(?:([+-])("
                       "\\d{2})(\\d{2}))?\\s*$"));
    const auto m = re.match(text);
    if (!m.hasMatch())
        return QDateTime();
    const QDate day(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    const QTime time(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt());
    int offset = 0;
    if (m.capturedLength(7))
        offset = (m.captured(8).toInt() * 3600 + m.captured(9).toInt() * 60)
            * (m.captured(7) == QLatin1String("-") ? -1 : 1);
    const QDateTime result(day, time, Qt::OffsetFromUTC, offset);
    return result.isValid() ? result.toUTC() : QDateTime();
}

} // namespace

CUDArch& CUDArch::operator>>(QDateTime& date)
{
    if (m_version > 6) {
        const double s = readDouble();
        if (!std::isfinite(s) || std::abs(s) > 1e14) {
            date = QDateTime::fromSecsSinceEpoch(0, Qt::UTC);
            return *this;
        }
        date = QDateTime::fromMSecsSinceEpoch(qint64(std::llround(s * 1000.0)), Qt::UTC);
    } else {
        QString text;
        *this >> text;
        date = parseTextDate(text);
    }
    return *this;
}

void CUDArch::writeHeader(const BlockInfo& block)
{
    writeU8(block.type);
    writeU32(block.end);
    if (block.isLinked()) {
        writeU32(block.firstChild);
        writeU32(block.nextSibling);
    }
}

void CUDArch::rewriteHeader(const BlockInfo& block)
{
    const qint64 here = m_pos;
    m_pos = block.start;
    writeHeader(block);
    m_pos = here;
}

bool CUDArch::BeginBlock(quint8 type)
{
    if (!m_open)
        throw ArchiveFormatError("the archive is not open");
    if (isWriting()) {
        if (m_pos > kMaxSize)
            throw ArchiveFormatError("the file would grow past 2 GiB");
        const quint32 p = quint32(m_pos);
        BlockInfo block;
        block.InitDefault(type, p);
        writeHeader(block);
        if (block.isLinked()) {
            for (auto it = m_blocks.rbegin(); it != m_blocks.rend(); ++it) {
                if (!it->isLinked())
                    continue;
                if (it->ended) {
                    it->nextSibling = p; // the previous sibling
                    rewriteHeader(*it);
                    m_blocks.erase(std::next(it).base());
                } else {
                    it->firstChild = p; // the parent; its header is rewritten when it ends
                }
                break;
            }
        }
        m_blocks.push_back(block);
        return true;
    }

    const qint64 start = m_pos;
    const quint8 t = readU8();
    const quint32 end = readU32();
    BlockInfo block;
    block.InitDefault(t, quint32(start));
    block.end = end;
    if (block.isLinked()) {
        block.firstChild = readU32();
        block.nextSibling = readU32();
    }
    if (t != type) {
        m_pos = start;
        return false;
    }
    // An end the header itself does not fit in, or past its parent or its file, cannot be trusted.
    if (qint64(end) < start + qint64(block.headerSize()) || qint64(end) > limit())
        throw ArchiveFormatError("a block end out of range");
    m_blocks.push_back(block);
    return true;
}

void CUDArch::EndBlock()
{
    if (isWriting()) {
        if (m_pos > kMaxSize)
            throw ArchiveFormatError("the file would grow past 2 GiB");
        for (qsizetype i = qsizetype(m_blocks.size()) - 1; i >= 0; --i) {
            BlockInfo& b = m_blocks[size_t(i)];
            if (b.ended)
                continue;
            b.ended = true;
            b.end = quint32(m_pos);
            if (b.isLinked()) {
                // Its last child waited for a sibling that will not come.
                for (size_t j = size_t(i) + 1; j < m_blocks.size(); ++j)
                    rewriteHeader(m_blocks[j]);
                m_blocks.erase(m_blocks.begin() + i + 1, m_blocks.end());
            } else {
                rewriteHeader(b);
                m_blocks.erase(m_blocks.begin() + i);
            }
            return;
        }
        return;
    }
    if (m_blocks.empty())
        return;
    if (m_pos < m_blocks.back().end)
        m_pos = m_blocks.back().end;
    m_blocks.pop_back();
}

void CUDArch::JumpToEndBlock()
{
    if (isWriting() || m_blocks.empty())
        return;
    if (m_pos < m_blocks.back().end)
        m_pos = m_blocks.back().end;
}

const BlockInfo* CUDArch::GetTopExtendedBlock() const
{
    for (auto it = m_blocks.rbegin(); it != m_blocks.rend(); ++it)
        if (it->isLinked() && !(isWriting() && it->ended))
            return &*it;
    return nullptr;
}

void CUDArch::closeBlockInfo()
{
    if (!isWriting() || m_blocks.empty())
        return;
    if (m_blocks.back().isLinked())
        rewriteHeader(m_blocks.back());
    m_blocks.pop_back();
}

BlockInfo CUDArch::readHeaderAt(qint64 position)
{
    seek(position);
    BlockInfo b;
    const quint8 t = readU8();
    b.InitDefault(t, quint32(position));
    b.end = readU32();
    if (b.isLinked()) {
        b.firstChild = readU32();
        b.nextSibling = readU32();
    }
    return b;
}

quint32 CUDArch::FindFirst(SEARCH_BLOCK_INFO& info)
{
    info.stack.clear();
    const BlockInfo b = readHeaderAt(m_pos);
    info.stack.push_back(b);
    if (b.type == info.type)
        return b.start;
    return FindNext(info);
}

quint32 CUDArch::FindNext(SEARCH_BLOCK_INFO& info)
{
    // Cyclic links must not loop for ever: no file holds more blocks than this.
    qint64 budget = m_data.size() / 5 + 1;
    while (!info.stack.empty()) {
        if (--budget < 0)
            return BlockInfo::kNone;
        BlockInfo& top = info.stack.back();
        quint32 next = BlockInfo::kNone;
        if (top.firstChild != BlockInfo::kNone) {
            next = top.firstChild;
            top.firstChild = BlockInfo::kNone;
        } else if (top.nextSibling != BlockInfo::kNone) {
            next = top.nextSibling;
            top.nextSibling = BlockInfo::kNone;
        } else {
            info.stack.pop_back();
            continue;
        }
        const BlockInfo b = readHeaderAt(next);
        info.stack.push_back(b);
        if (b.type == info.type)
            return b.start;
    }
    return BlockInfo::kNone;
}

CBackupFileHeader::CBackupFileHeader(quint32 magic_, quint32 kind_, quint32 version_)
    : magic(magic_)
    , kind(kind_)
    , revision(1)
    , version(version_)
{ }

bool CBackupFileHeader::save(CUDArch& arch)
{
    try {
        arch.writeU32(magic);
        arch.writeU32(kind);
        arch.writeU32(revision);
        arch.writeU32(version);
        arch.WriteStdString(text);
        arch.setVersion(version);
        arch.setRevision(revision);
        return true;
    } catch (const ArchiveFormatError&) {
        return false;
    }
}

bool CBackupFileHeader::load(CUDArch& arch)
{
    try {
        magic = arch.readU32();
        kind = arch.readU32();
        revision = arch.readU32();
        version = arch.readU32();
        text.clear();
        arch.ReadStdString(text);
        arch.setVersion(version);
        arch.setRevision(revision);
        return true;
    } catch (const ArchiveFormatError&) {
        return false;
    }
}

bool CBackupFileHeader::checkFileFormat(const QString& path)
{
    CUDArch arch(path, CUDArch::ReadTree);
    if (!arch.isOpen())
        return false;
    CBackupFileHeader h;
    if (!h.load(arch))
        return false;
    return h.magic == kMagic && (h.kind == kKindRecord || h.kind == kKindTree);
}
