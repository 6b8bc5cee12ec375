#include "utilities/LocaleNumbers.h"

#include <QLocale>

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

} // namespace LocaleNumbers
