#include "IUTF8Tool.h"

#include <algorithm>
#include <cstring>

namespace {

inline bool isContinuation(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

inline bool isBreak(char c)
{
    return c == '\0' || c == '\n' || c == '\r';
}

} // namespace

void IUTF8Tool::setSrcBuffer(const char* buffer, int64_t length)
{
    _srcBuffer = buffer;
    _srcBufferLength = buffer ? std::max<int64_t>(length, 0) : 0;
    _srcStart = buffer;
    _srcStop = buffer ? buffer + _srcBufferLength : nullptr;
}

void IUTF8Tool::setWorkBuffer(char* buffer, int64_t length)
{
    if (buffer == _workBuffer && length == _workBufferLength)
        return;
    // A pending partial line moves along into the new buffer, so that changing buffers between
    // chunks loses nothing (it is cut if the new buffer is smaller).
    const int64_t held = workTextLength();
    char* const oldStart = _workStart;
    _workBuffer = buffer;
    _workBufferLength = buffer ? std::max<int64_t>(length, 0) : 0;
    _workStart = nullptr;
    _workStop = nullptr;
    if (oldStart && _workBuffer && _workBufferLength > 0) {
        const int64_t n = std::min(held, _workBufferLength - 1);
        std::memmove(_workBuffer, oldStart, static_cast<size_t>(n));
        _workBuffer[n] = '\0';
        _workStart = _workBuffer;
        _workStop = _workBuffer + n + 1;
        if (n < held)
            m_lineCut = true;
    }
}

int64_t IUTF8Tool::workTextLength() const
{
    return _workStart ? _workStop - _workStart - 1 : 0;
}

bool IUTF8Tool::getNextLine()
{
    if (!_srcBuffer || !_workBuffer || _workBufferLength < 1)
        return false;

    // After a break, skip one CR and then one LF, also when they arrive in later chunks.
    while (_lastSrcDataClosed && m_skip != Skip::None && _srcStart < _srcStop) {
        const char c = *_srcStart;
        if (c == '\r' && m_skip == Skip::CrThenLf) {
            ++_srcStart;
            m_skip = Skip::LfOnly;
        } else if (c == '\n') {
            ++_srcStart;
            m_skip = Skip::None;
        } else {
            m_skip = Skip::None;
        }
    }
    if (_srcStart >= _srcStop)
        return false; // chunk used up; a pending line stays pending

    if (_lastSrcDataClosed) {
        resetWorkSelection();
        m_lineCut = false;
        m_skip = Skip::None;
    }

    const UTF8Position br = findLineBreakInBuffer(_srcStart, _srcStop - _srcStart);
    if (!br.found()) {
        moveSelectedDataToWorkBuffer();
        _srcStart = _srcStop;
        _lastSrcDataClosed = false;
        return false;
    }

    const char* const chunkEnd = _srcStop;
    _srcStop = _srcStart + br.bytePos;
    moveSelectedDataToWorkBuffer();
    _srcStart = _srcStop + 1;
    _srcStop = chunkEnd;
    _lastSrcDataClosed = false;
    return deliverPending();
}

bool IUTF8Tool::finish()
{
    if (_lastSrcDataClosed || !_workBuffer)
        return false;
    return deliverPending();
}

bool IUTF8Tool::deliverPending()
{
    if (!_workStart) {
        // An empty line: the work buffer still shows it as an empty string.
        _workBuffer[0] = '\0';
        _workStart = _workBuffer;
        _workStop = _workBuffer + 1;
    }
    _lastSrcDataClosed = true;
    m_lineCut = false;
    m_skip = Skip::CrThenLf;
    return true;
}

void IUTF8Tool::reset()
{
    *this = IUTF8Tool();
}

void IUTF8Tool::resetWorkSelection()
{
    _workStart = nullptr;
    _workStop = nullptr;
}

void IUTF8Tool::moveDataToWorkBuffer()
{
    if (!_srcBuffer || !_workBuffer || _workBufferLength < _srcBufferLength || _workBufferLength < 1
        || _srcStart >= _srcStop)
        return;
    const int64_t n = std::min(_srcBufferLength, _workBufferLength - 1);
    std::memcpy(_workBuffer, _srcBuffer, static_cast<size_t>(n));
    _workBuffer[n] = '\0';
    _workStart = _workBuffer;
    _workStop = _workBuffer + n + 1;
}

void IUTF8Tool::moveSelectedDataToWorkBuffer()
{
    if (!_srcBuffer || !_workBuffer || _workBufferLength < 1 || _srcStop < _srcStart)
        return;
    if (!_workStart) {
        _workBuffer[0] = '\0';
        _workStart = _workBuffer;
        _workStop = _workBuffer + 1;
    }
    // Once a line overflows, the rest of it up to its break is dropped: the line is delivered cut
    // to capacity - 1 bytes, never with stale or interleaved content.
    if (m_lineCut)
        return;
    const int64_t held = _workStop - _workStart - 1;
    const int64_t room = _workBufferLength - 1 - held;
    int64_t n = _srcStop - _srcStart;
    if (n > room) {
        n = room;
        m_lineCut = true;
    }
    std::memcpy(_workStart + held, _srcStart, static_cast<size_t>(n));
    _workStart[held + n] = '\0';
    _workStop = _workStart + held + n + 1;
}

UTF8Position IUTF8Tool::findLineBreakInBuffer(const char* buffer, int64_t length)
{
    if (!buffer || length < 1)
        return {};
    int64_t symbols = 0;
    for (int64_t i = 0; i < length; ++i) {
        const char c = buffer[i];
        if (isBreak(c))
            return { i, symbols };
        if (!isContinuation(c))
            ++symbols;
    }
    return {};
}

UTF8Position IUTF8Tool::findString(
    const char* pattern, const char* inBuffer, int64_t length, int64_t readable)
{
    if (!pattern || !inBuffer || length < 1)
        return {};
    readable = std::max(readable, length);
    int64_t symbols = 0;
    for (int64_t i = 0; i < length; ++i) {
        if (inBuffer[i] == pattern[0]) {
            int64_t j = 1;
            if (pattern[0] != '\0') {
                while (pattern[j] != '\0' && i + j < readable && inBuffer[i + j] == pattern[j])
                    ++j;
            }
            if (pattern[0] == '\0' || pattern[j] == '\0')
                return { i, symbols };
        }
        if (!isContinuation(inBuffer[i]))
            ++symbols;
    }
    return {};
}

bool IUTF8Tool::containsString(const char* pattern, const char* string)
{
    if (!pattern || !string)
        return false;
    const auto length = static_cast<int64_t>(std::strlen(string));
    return findString(pattern, string, length, length + 1).found();
}

bool IUTF8Tool::hasPrefix(const char* prefix, const char* string)
{
    if (!prefix || !string)
        return false;
    const size_t n = std::strlen(prefix);
    return std::strlen(string) >= n && std::memcmp(string, prefix, n) == 0;
}

bool IUTF8Tool::hasSuffix(const char* suffix, const char* string)
{
    if (!suffix || !string)
        return false;
    const size_t n = std::strlen(suffix);
    const size_t len = std::strlen(string);
    return len >= n && std::memcmp(string + len - n, suffix, n) == 0;
}

int64_t IUTF8Tool::symbolCount(const char* string)
{
    if (!string)
        return 0;
    int64_t count = 0;
    for (const char* p = string; *p; ++p) {
        if (!isContinuation(*p))
            ++count;
    }
    return count;
}

const char* IUTF8Tool::bytePosInString(const char* string, int64_t atSymbolIndex)
{
    if (!string || atSymbolIndex < 0)
        return nullptr;
    int64_t index = -1;
    for (const char* p = string; *p; ++p) {
        if (!isContinuation(*p) && ++index == atSymbolIndex)
            return p;
    }
    return nullptr;
}

bool IUTF8Tool::isEqualString1(const char* string1, const char* string2)
{
    if (!string1 || !string2)
        return string1 == string2;
    return std::strcmp(string1, string2) == 0;
}

void IUTF8Tool::copyString1(const char* string1, char* toString2)
{
    if (string1 && toString2)
        std::strcpy(toString2, string1);
}
