#include "utilities/LocaleNumbers.h"

#include <QLocale>
#include <algorithm>

namespace LocaleNumbers {

QString localeDecimalSeparator()
{
    return QLocale().decimalPoint();
}

QString localeGroupingSeparator()
{
    return QLocale().groupSeparator();
}

QString removeGropingSeparatorsFrom(const QString& text)
{
    QString t = text;
    const QString group = localeGroupingSeparator();
    if (!group.isEmpty())
        t.remove(group);
    const QString dec = localeDecimalSeparator();
    if (!dec.isEmpty() && dec != QLatin1String("."))
        t.replace(dec, QStringLiteral("."));
    return t;
}

bool localeStringToFloat(const QString& text, float* value)
{
    QString t = text.trimmed();
    if (t.startsWith(QLatin1Char('$')))
        t.remove(0, 1);
    if (t.endsWith(localeDecimalSeparator()))
        t += QLatin1Char('0');
    bool ok = false;
    const double v = QLocale().toDouble(t, &ok);
    if (ok && value)
        *value = float(v);
    return ok;
}

double localeDoubleValue(const QString& text)
{
    if (text.isEmpty())
        return 0;
    return removeGropingSeparatorsFrom(text).toDouble();
}

float localeFloatValue(const QString& text)
{
    return float(localeDoubleValue(text));
}

qint64 localeIntegerValue(const QString& text)
{
    if (text.isEmpty())
        return 0;
    const QString t = removeGropingSeparatorsFrom(text);
    bool ok = false;
    const qint64 v = t.toLongLong(&ok);
    return ok ? v : qint64(t.toDouble());
}

QString removeGropingSeparatorsFrom(const QString& text, bool keepDecimal, const QLocale& locale)
{
    QString t = text;
    const QString group = locale.groupSeparator();
    if (!group.isEmpty())
        t.remove(group);
    if (!keepDecimal) {
        const QString dec = locale.decimalPoint();
        if (!dec.isEmpty() && dec != QLatin1String("."))
            t.replace(dec, QStringLiteral("."));
    }
    return t;
}

namespace {
int skipBlanks(const QString& t, int i)
{
    while (i < t.size() && t.at(i).isSpace())
        ++i;
    return i;
}
int skipDigits(const QString& t, int i)
{
    while (i < t.size() && t.at(i) >= QLatin1Char('0') && t.at(i) <= QLatin1Char('9'))
        ++i;
    return i;
}
} // namespace

std::optional<double> scanLocaleDouble(const QString& text, const QLocale& locale, int* consumed)
{
    int i = skipBlanks(text, 0);
    const int start = i;
    if (i < text.size() && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+')))
        ++i;
    const int intStart = i;
    i = skipDigits(text, i);
    bool digits = i > intStart;
    QString number = text.mid(start, i - start);
    const QString dec = locale.decimalPoint();
    if (!dec.isEmpty() && text.mid(i, dec.size()) == dec) {
        const int fracStart = i + int(dec.size());
        const int fracEnd = skipDigits(text, fracStart);
        if (digits || fracEnd > fracStart) {
            number += QLatin1Char('.') + text.mid(fracStart, fracEnd - fracStart);
            digits = true;
            i = fracEnd;
        }
    }
    if (!digits)
        return std::nullopt;
    if (i < text.size() && (text.at(i) == QLatin1Char('e') || text.at(i) == QLatin1Char('E'))) {
        int j = i + 1;
        if (j < text.size() && (text.at(j) == QLatin1Char('-') || text.at(j) == QLatin1Char('+')))
            ++j;
        const int expEnd = skipDigits(text, j);
        if (expEnd > j) {
            number += QLatin1Char('e') + text.mid(i + 1, expEnd - i - 1);
            i = expEnd;
        }
    }
    bool ok = false;
    const double v = number.toDouble(&ok);
    if (!ok)
        return std::nullopt;
    if (consumed)
        *consumed = skipBlanks(text, i);
    return v;
}

std::optional<qint64> scanLocaleInteger(const QString& text, int* consumed)
{
    int i = skipBlanks(text, 0);
    const int start = i;
    if (i < text.size() && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+')))
        ++i;
    const int digitsStart = i;
    i = skipDigits(text, i);
    if (i == digitsStart)
        return std::nullopt;
    bool ok = false;
    const qint64 v = text.mid(start, i - start).toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    if (consumed)
        *consumed = skipBlanks(text, i);
    return v;
}

bool localeStringToDouble(
    const QString& text, double* value, double minimum, double maximum, const QLocale& locale)
{
    QString t = text;
    if (!t.isEmpty() && t.endsWith(locale.decimalPoint()))
        t += QLatin1Char('0');
    int consumed = 0;
    const std::optional<double> v = scanLocaleDouble(t, locale, &consumed);
    if (!v || consumed != t.size())
        return false;
    if (value)
        *value = maximum > minimum ? std::clamp(*v, minimum, maximum) : *v;
    return true;
}

bool localeStringToInteger(const QString& text, qint64* value, qint64 minimum, qint64 maximum)
{
    int consumed = 0;
    const std::optional<qint64> v = scanLocaleInteger(text, &consumed);
    if (!v || consumed != text.size())
        return false;
    if (value)
        *value = minimum < maximum ? std::clamp(*v, minimum, maximum) : *v;
    return true;
}

QString floatString(double value, const QLocale& locale)
{
    QLocale l = locale;
    l.setNumberOptions(l.numberOptions() | QLocale::OmitGroupSeparator);
    return l.toString(value, 'f', 1);
}

} // namespace LocaleNumbers
