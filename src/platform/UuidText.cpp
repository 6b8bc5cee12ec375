#include "UuidText.h"

namespace UuidText {

QString fromBytes(const uint8_t bytes[16])
{
    bool any = false;
    for (int i = 0; i < 16; ++i)
        any = any || bytes[i] != 0;
    if (!any)
        return QString();
    static const char digits[] = "0123456789ABCDEF";
    QString text;
    text.reserve(36);
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            text += QLatin1Char('-');
        text += QLatin1Char(digits[bytes[i] >> 4]);
        text += QLatin1Char(digits[bytes[i] & 0xf]);
    }
    return text;
}

QString normalized(const QString& text)
{
    return text.trimmed().toUpper();
}

bool equal(const QString& a, const QString& b)
{
    const QString na = normalized(a);
    return !na.isEmpty() && na == normalized(b);
}

bool isNull(const QString& text)
{
    for (QChar c : text) {
        if (c != QLatin1Char('0') && c != QLatin1Char('-') && !c.isSpace())
            return false;
    }
    return true;
}

} // namespace UuidText
