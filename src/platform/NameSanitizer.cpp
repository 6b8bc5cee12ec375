#include "NameSanitizer.h"

#include "NameCodec.h"

namespace NameSanitizer {

namespace {

void trimTrailingBlanks(QString& s)
{
    qsizetype end = s.size();
    while (end > 0 && s.at(end - 1) == QLatin1Char(' '))
        --end;
    s.truncate(end);
}

// Bytes the character at i takes on disk (escaped bytes count as one).
int encodedLength(const QString& s, qsizetype i, qsizetype* units)
{
    const char16_t u = s.at(i).unicode();
    *units = 1;
    if (QChar::isHighSurrogate(u) && i + 1 < s.size() && QChar::isLowSurrogate(s.at(i + 1).unicode())) {
        *units = 2;
        return 4;
    }
    if (u >= 0xDC80 && u <= 0xDCFF)
        return 1;
    if (QChar::isSurrogate(u))
        return 3; // written as U+FFFD
    if (u < 0x80)
        return 1;
    if (u < 0x800)
        return 2;
    return 3;
}

} // namespace

QString sanitize(const QString& name, bool* refused)
{
    if (refused)
        *refused = false;

    QString s;
    s.reserve(name.size() + 1);
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        if (u == '/' || u < 0x20 || u == 0x7F)
            s.append(QLatin1Char('_'));
        else
            s.append(c);
    }
    trimTrailingBlanks(s);
    if (s.startsWith(QLatin1Char('-')))
        s.prepend(QLatin1Char('_'));

    // Cut to the longest prefix that fits the file system's component limit.
    int bytes = 0;
    qsizetype i = 0;
    while (i < s.size()) {
        qsizetype units = 1;
        const int len = encodedLength(s, i, &units);
        if (bytes + len > kMaxComponentBytes)
            break;
        bytes += len;
        i += units;
    }
    if (i < s.size()) {
        s.truncate(i);
        trimTrailingBlanks(s);
    }

    if (s.isEmpty() || s == QLatin1String(".") || s == QLatin1String("..")) {
        if (refused)
            *refused = true;
        return QString();
    }
    return s;
}

} // namespace NameSanitizer
