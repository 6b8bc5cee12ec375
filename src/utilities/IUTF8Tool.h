#pragma once

#include <cstdint>

// Byte and character offsets of a find; both -1 when nothing was found.
struct UTF8Position
{
    int64_t bytePos = -1;
    int64_t symbolPos = -1;
    bool found() const { return bytePos >= 0; }
};

// Cuts the output of a child process into lines as it arrives in chunks, without allocating.
//
// The caller owns both buffers: the chunk it read from a pipe and a work buffer into which each
// complete line is copied, NUL-terminated. A chunk may end in the middle of a line or between the
// CR and LF of one break; the partial line is held in the work buffer until a later chunk ends it.
// Break bytes are NUL, LF and CR. After a break, one CR and then one LF are skipped, so CR LF is
// one break and rsync's "name LF CR progress CR" leaves no empty line; the skip carries over a
// chunk boundary. A line longer than the work buffer is cut to its capacity - 1 bytes and delivered
// once when its break arrives. At end of stream, finish() hands over a last line without a break.
//
// One scanner per stream, used by that stream's reader thread only. The string functions are
// static and safe from any thread.
class IUTF8Tool
{
public:
    // The work buffer the readers use: rsync writes every unprintable byte of a name as "\#ooo",
    // so a legal 4,095-byte path makes a line of about 16 KB that must not be cut.
    static constexpr int64_t kWorkBufferSize = 64 * 1024;
    // The largest chunk a reader hands over at once.
    static constexpr int64_t kChunkSize = 20000;

    IUTF8Tool() = default;

    // Scanner
    void setSrcBuffer(const char* buffer, int64_t length);
    void setWorkBuffer(char* buffer, int64_t length);
    char* workBuffer() const { return _workBuffer; }
    int64_t workBufferLangth() const { return _workBufferLength; }
    const char* sourceBuffer() const { return _srcBuffer; }
    // Bytes of the text held in the work buffer (the line after getNextLine() or finish()).
    int64_t workTextLength() const;

    // True when a complete line is in the work buffer; false when the chunk is used up.
    bool getNextLine();
    // End of stream: true when a pending last line (one without a break) is now in the work
    // buffer. It is handed over once.
    bool finish();
    void reset();
    void resetWorkSelection();
    void moveDataToWorkBuffer();
    void moveSelectedDataToWorkBuffer();
    static UTF8Position findLineBreakInBuffer(const char* buffer, int64_t length);

    // String functions over NUL-terminated UTF-8 byte strings. Characters are counted at every
    // byte that is not a continuation byte.
    //
    // The first occurrence of pattern that begins within the first length bytes of buffer. A match
    // may run past length but never past readable (at least length; callers whose buffer has a NUL
    // behind the data pass length + 1). An empty pattern matches at the first NUL within length.
    static UTF8Position findString(
        const char* pattern, const char* inBuffer, int64_t length, int64_t readable = 0);
    static bool containsString(const char* pattern, const char* string);
    static bool hasPrefix(const char* prefix, const char* string);
    static bool hasSuffix(const char* suffix, const char* string);
    static int64_t symbolCount(const char* string);
    static const char* bytePosInString(const char* string, int64_t atSymbolIndex);
    static bool isEqualString1(const char* string1, const char* string2);
    static void copyString1(const char* string1, char* toString2);

private:
    // What may still be skipped at the start of the window after a break.
    enum class Skip : uint8_t
    {
        None,
        CrThenLf,
        LfOnly
    };

    void appendToWork(const char* data, int64_t length);
    bool deliverPending();

    const char* _srcBuffer = nullptr;
    int64_t _srcBufferLength = 0;
    const char* _srcStart = nullptr;
    const char* _srcStop = nullptr;
    char* _workBuffer = nullptr;
    int64_t _workBufferLength = 0;
    char* _workStart = nullptr;
    char* _workStop = nullptr;
    bool _lastSrcDataClosed = true;
    bool m_lineCut = false;
    Skip m_skip = Skip::CrThenLf;
};
