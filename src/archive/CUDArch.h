#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <stdexcept>
#include <vector>

// The one error of the project-file block format: a read past its block or its file, a block
// header that cannot be right, a count that the rest of its block cannot hold, a missing
// expected block, a file grown past what 32-bit offsets reach. Thrown inside the format layer
// and caught where a whole file is saved or loaded, which turns it into a false result.
class ArchiveFormatError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// One block header. On disk: type (u8), end (u32 BE) and, for linked blocks (type < 0x80),
// first child and next sibling (u32 BE each). In memory also the start and whether the block
// has ended (writing).
struct BlockInfo
{
    static constexpr quint32 kNone = 0xFFFFFFFFu;

    quint32 start = 0;
    quint32 end = 0;
    quint32 firstChild = kNone;
    quint32 nextSibling = kNone;
    quint8 type = 0;
    bool ended = false;

    void InitDefault(quint8 blockType, quint32 position);
    bool isLinked() const { return type < 0x80; }
    quint32 headerSize() const { return isLinked() ? 13 : 5; }
};

// An archive in the block format: a file or a memory buffer, opened for one direction. All
// numbers are big-endian; the UTF-16 units of texts and the raw areas are little-endian.
//
// Archives are read and written on the main thread only, which is why the last error is one
// process-wide value.
class CUDArch
{
public:
    enum Mode
    {
        WriteTree = 0, // .bif; Abort deletes the file
        ReadTree = 1,
        WriteHeader = 2, // .bih; Abort keeps what was written
        ReadHeader = 3,
    };

    struct SEARCH_BLOCK_INFO
    {
        quint8 type = 0;
        std::vector<BlockInfo> stack;
    };

    // The largest file the 32-bit signed offsets reach.
    static constexpr qint64 kMaxSize = 0x7FFFFFFF;
    // Text counts above this read as nil and are not consumed.
    static constexpr quint32 kMaxTextUnits = 4000000;

    // A file archive. Writing modes create or truncate the file (0644 less the umask); the
    // content is written when the archive is closed. Reading modes take the whole file at once.
    CUDArch(const QString& path, Mode mode);
    // A memory archive over *buffer (kept by the caller): writing modes replace its content,
    // reading modes read it.
    CUDArch(QByteArray* buffer, Mode mode);
    ~CUDArch();
    CUDArch(const CUDArch&) = delete;
    CUDArch& operator=(const CUDArch&) = delete;

    bool isOpen() const { return m_open; }
    Mode mode() const { return m_mode; }
    bool isWriting() const { return m_mode == WriteTree || m_mode == WriteHeader; }
    QString path() const { return m_path; }
    quint32 version() const { return m_version; }
    quint32 revision() const { return m_revision; }
    void setVersion(quint32 version) { m_version = version; }
    void setRevision(quint32 revision) { m_revision = revision; }
    // For a file archive in a writing mode: why the file could not be written at Close.
    QString writeError() const { return m_writeError; }

    // Writes the pending headers and, for a file, the content; false when the file could not
    // be written.
    bool Close();
    // Closes without the pending headers; a tree file being written is deleted.
    void Abort();

    bool BeginBlock(quint8 type);
    void EndBlock();
    void JumpToEndBlock();
    const BlockInfo* GetTopExtendedBlock() const;

    quint32 FindFirst(SEARCH_BLOCK_INFO& info);
    quint32 FindNext(SEARCH_BLOCK_INFO& info);

    void ReversWrite(const void* bytes, int n);
    void ReversRead(void* bytes, int n);
    void Write2ByteArray(const quint16* units, quint32 n);
    void Read2ByteArray(quint16* units, quint32 n);
    void Write4ByteArray(const quint32* units, quint32 n);
    void Read4ByteArray(quint32* units, quint32 n);
    void WriteStdString(const QByteArray& bytes);
    void ReadStdString(QByteArray& bytes);
    void writeRaw(const void* bytes, qint64 n);
    void readRaw(void* bytes, qint64 n);

    void writeBool(bool value);
    void writeU8(quint8 value);
    void writeU16(quint16 value);
    void writeU32(quint32 value);
    void writeU64(quint64 value);
    void writeDouble(double value);
    bool readBool();
    quint8 readU8();
    quint16 readU16();
    quint32 readU32();
    quint64 readU64();
    double readDouble();

    // Texts: the UTF-16 units as they are (lone surrogates included); nil and empty write count 0.
    CUDArch& operator<<(const QString& text);
    CUDArch& operator>>(QString& text);
    // Dates: seconds since 1970 UTC as a double (a nil date writes 0.0); files of version 6
    // and below hold the date as text.
    CUDArch& operator<<(const QDateTime& date);
    CUDArch& operator>>(QDateTime& date);

    qint64 pos() const { return m_pos; }
    void seek(qint64 position);
    qint64 size() const { return m_data.size(); }
    // The end of the innermost open block, or of the data when none is open.
    qint64 limit() const;
    // Fails (format error) when count items of unitSize bytes cannot fit into the rest of the
    // innermost block: counts read from a file are checked before anything is allocated.
    void checkCount(quint64 count, quint64 unitSize);

    static int m_nLastError;

private:
    void commonInit();
    [[noreturn]] void overrun(const char* what);
    void need(qint64 n);
    void writeHeader(const BlockInfo& block);
    void rewriteHeader(const BlockInfo& block);
    BlockInfo readHeaderAt(qint64 position);
    void closeBlockInfo();

    QByteArray m_data;
    QByteArray* m_external = nullptr;
    QString m_path;
    Mode m_mode;
    qint64 m_pos = 0;
    bool m_open = false;
    bool m_isFile = false;
    quint32 m_version = 0;
    quint32 m_revision = 1;
    std::vector<BlockInfo> m_blocks;
    QString m_writeError;
};

// The fixed header at offset 0 of every project file.
class CBackupFileHeader
{
public:
    static constexpr quint32 kMagic = 0x42545220; // "BTR "
    static constexpr quint32 kKindTree = 0x42494E20; // "BIN "
    static constexpr quint32 kKindRecord = 0x48445220; // "HDR "
    static constexpr quint32 kCurrentVersion = 22;

    CBackupFileHeader() = default;
    CBackupFileHeader(quint32 magic, quint32 kind, quint32 version);

    quint32 magic = kMagic;
    quint32 kind = kKindTree;
    quint32 revision = 1;
    quint32 version = kCurrentVersion;
    QByteArray text;

    bool save(CUDArch& arch);
    bool load(CUDArch& arch);
    static bool checkFileFormat(const QString& path);
};
