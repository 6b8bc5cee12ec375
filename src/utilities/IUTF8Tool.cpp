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
    m_srcBuffer = buffer;
    m_srcBufferLength = buffer ? std::max<int64_t>(length, 0) : 0;
    m_srcStart = buffer;
    m_srcStop = buffer ? buffer + m_srcBufferLength : nullptr;
}

void IUTF8Tool::setWorkBuffer(char* buffer, int64_t length)
{
    if (buffer == m_workBuffer && length == m_workBufferLength)
        return;
    // A pending partial line moves along into the new buffer, so that changing buffers between
    // chunks loses nothing (it is cut if the new buffer is smaller).
    const int64_t held = workTextLength();
    char* const oldStart = m_workStart;
    m_workBuffer = buffer;
    m_workBufferLength = buffer ? std::max<int64_t>(length, 0) : 0;
    m_workStart = nullptr;
    m_workStop = nullptr;
    if (oldStart && m_workBuffer && m_workBufferLength > 0) {
        const int64_t n = std::min(held, m_workBufferLength - 1);
        std::memmove(m_workBuffer, oldStart, static_cast<size_t>(n));
        m_workBuffer[n] = '\0';
        m_workStart = m_workBuffer;
        m_workStop = m_workBuffer + n + 1;
        if (n < held)
            m_lineCut = true;
    }
}

int64_t IUTF8Tool::workTextLength() const
{
    return m_workStart ? m_workStop - m_workStart - 1 : 0;
}

bool IUTF8Tool::getNextLine()
{
    if (!m_srcBuffer || !m_workBuffer || m_workBufferLength < 1)
        return false;

    // After a break, skip one CR and then one LF, also when they arrive in later chunks.
    while (m_lastSrcDataClosed && m_skip != Skip::None && m_srcStart < m_srcStop) {
        const char c = *m_srcStart;
        if (c == '\r' && m_skip == Skip::CrThenLf) {
            ++m_srcStart;
            m_skip = Skip::LfOnly;
        } else if (c == '\n') {
            ++m_srcStart;
            m_skip = Skip::None;
        } else {
            m_skip = Skip::None;
        }
    }
    if (m_srcStart >= m_srcStop)
        return false; // chunk used up; a pending line stays pending

    if (m_lastSrcDataClosed) {
        resetWorkSelection();
        m_lineCut = false;
        m_skip = Skip::None;
    }

    const UTF8Position br = findLineBreakInBuffer(m_srcStart, m_srcStop - m_srcStart);
    if (!br.found()) {
        moveSelectedDataToWorkBuffer();
        m_srcStart = m_srcStop;
        m_lastSrcDataClosed = false;
        return false;
    }

    const char* const chunkEnd = m_srcStop;
    m_srcStop = m_srcStart + br.bytePos;
    moveSelectedDataToWorkBuffer();
    m_srcStart = m_srcStop + 1;
    m_srcStop = chunkEnd;
    m_lastSrcDataClosed = false;
    return deliverPending();
}

bool IUTF8Tool::finish()
{
    if (m_lastSrcDataClosed || !m_workBuffer)
        return false;
    return deliverPending();
}

bool IUTF8Tool::deliverPending()
{
    if (!m_workStart) {
        // An empty line: the work buffer still shows it as an empty string.
        m_workBuffer[0] = '\0';
        m_workStart = m_workBuffer;
        m_workStop = m_workBuffer + 1;
    }
    m_lastSrcDataClosed = true;
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
    m_workStart = nullptr;
    m_workStop = nullptr;
}

void IUTF8Tool::moveDataToWorkBuffer()
{
    if (!m_srcBuffer || !m_workBuffer || m_workBufferLength < m_srcBufferLength || m_workBufferLength < 1
        || m_srcStart >= m_srcStop)
        return;
    const int64_t n = std::min(m_srcBufferLength, m_workBufferLength - 1);
    std::memcpy(m_workBuffer, m_srcBuffer, static_cast<size_t>(n));
    m_workBuffer[n] = '\0';
    m_workStart = m_workBuffer;
    m_workStop = m_workBuffer + n + 1;
}

void IUTF8Tool::moveSelectedDataToWorkBuffer()
{
    if (!m_srcBuffer || !m_workBuffer || m_workBufferLength < 1 || m_srcStop < m_srcStart)
        return;
    if (!m_workStart) {
        m_workBuffer[0] = '\0';
        m_workStart = m_workBuffer;
        m_workStop = m_workBuffer + 1;
    }
    // Once a line overflows, the rest of it up to its break is dropped: the line is delivered cut
    // to capacity - 1 bytes, never with stale or interleaved content.
    if (m_lineCut)
        return;
    const int64_t held = m_workStop - m_workStart - 1;
    const int64_t room = m_workBufferLength - 1 - held;
    int64_t n = m_srcStop - m_srcStart;
    if (n > room) {
        n = room;
        m_lineCut = true;
    }
    std::memcpy(m_workStart + held, m_srcStart, static_cast<size_t>(n));
    m_workStart[held + n] = '\0';
    m_workStop = m_workStart + held + n + 1;
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
