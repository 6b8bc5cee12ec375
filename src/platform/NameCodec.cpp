#include "NameCodec.h"

namespace NameCodec {

namespace {

// Length of the valid UTF-8 sequence starting at p (at most end - p bytes), or 0 when the
// bytes there do not form one. Rejects overlong forms, surrogates and values above U+10FFFF.
int validSequenceLength(const unsigned char* p, const unsigned char* end, char32_t* cp)
{
    const unsigned char b0 = p[0];
    if (b0 < 0x80) {
        *cp = b0;
        return 1;
    }
    int len = 0;
    char32_t value = 0;
    char32_t min = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
        value = b0 & 0x1F;
        min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        value = b0 & 0x0F;
        min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        value = b0 & 0x07;
        min = 0x10000;
    } else {
        return 0;
    }
    if (end - p < len)
        return 0;
    for (int i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (p[i] & 0x3F);
    }
    if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *cp = value;
    return len;
}

void appendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out.push_back(char(cp));
    } else if (cp < 0x800) {
        out.push_back(char(0xC0 | (cp >> 6)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(char(0xE0 | (cp >> 12)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (cp >> 18)));
        out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    }
}

} // namespace

QString decode(const char* bytes, qsizetype size)
{
    QString out;
    out.reserve(size);
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
    const auto* end = p + size;
    while (p < end) {
        char32_t cp = 0;
        const int len = validSequenceLength(p, end, &cp);
        if (len == 0) {
            out.append(QChar(char16_t(0xDC00 + *p)));
            ++p;
            continue;
        }
        if (cp >= 0x10000) {
            out.append(QChar(QChar::highSurrogate(cp)));
            out.append(QChar(QChar::lowSurrogate(cp)));
        } else {
            out.append(QChar(char16_t(cp)));
        }
        p += len;
    }
    return out;
}

QString decode(const QByteArray& bytes)
{
    return decode(bytes.constData(), bytes.size());
}

QString decode(const std::string& bytes)
{
    return decode(bytes.data(), qsizetype(bytes.size()));
}

std::string encodeStd(const QString& name)
{
    std::string out;
    out.reserve(size_t(name.size()) * 3);
    const qsizetype n = name.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = name.at(i).unicode();
        if (QChar::isHighSurrogate(u) && i + 1 < n && QChar::isLowSurrogate(name.at(i + 1).unicode())) {
            appendUtf8(out, QChar::surrogateToUcs4(u, name.at(i + 1).unicode()));
            ++i;
        } else if (u >= 0xDC80 && u <= 0xDCFF) {
            out.push_back(char(u - 0xDC00)); // an escaped byte goes back as it was
        } else if (QChar::isSurrogate(u)) {
            appendUtf8(out, 0xFFFD); // a lone surrogate that no byte produced has no byte form
        } else {
            appendUtf8(out, u);
        }
    }
    return out;
}

QByteArray encode(const QString& name)
{
    const std::string s = encodeStd(name);
    return QByteArray(s.data(), qsizetype(s.size()));
}

bool hasEscapedBytes(const QString& name)
{
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t u = name.at(i).unicode();
        if (u >= 0xDC80 && u <= 0xDCFF && !(i > 0 && QChar::isHighSurrogate(name.at(i - 1).unicode())))
            return true;
    }
    return false;
}

} // namespace NameCodec
