#pragma once

#include <QLocale>
#include <QString>
#include <optional>

// Numbers typed in the user's locale (QLocale's default). Text fields that need it call these
// explicitly; nothing overrides number reading globally.
namespace LocaleNumbers {

QString localeDecimalSeparator();
QString localeGroupingSeparator();
// Drops every grouping separator and turns the decimal separator into ".".
QString removeGropingSeparatorsFrom(const QString& text);
// The whole text as a number (one leading "$" allowed; a text ending in the decimal separator
// counts as ending in "0"); false when anything is left over.
bool localeStringToFloat(const QString& text, float* value);
double localeDoubleValue(const QString& text); // 0 for an empty text
float localeFloatValue(const QString& text);
qint64 localeIntegerValue(const QString& text);

// The number fields' variants, in a given locale (the field's own).
// Drops every grouping separator; unless keepDecimal, the decimal separator becomes ".".
QString removeGropingSeparatorsFrom(const QString& text, bool keepDecimal, const QLocale& locale);
// Reads a number at the start of the text as a scanner does: blanks, a sign, digits, the
// locale's decimal separator and digits (doubles only), an exponent (doubles only). No grouping
// separators. *consumed gets the characters read (trailing blanks included); nothing when no
// number starts the text.
std::optional<double> scanLocaleDouble(const QString& text, const QLocale& locale, int* consumed = nullptr);
std::optional<qint64> scanLocaleInteger(const QString& text, int* consumed = nullptr);
// The whole text as a number: a text ending in the decimal separator gets a "0" appended
// (doubles); clamped into [minimum, maximum] when maximum > minimum. False (and *value
// unchanged) when the text is not wholly a number.
bool localeStringToDouble(
    const QString& text, double* value, double minimum, double maximum, const QLocale& locale);
bool localeStringToInteger(const QString& text, qint64* value, qint64 minimum, qint64 maximum);
// A decimal value as the fields show it: one decimal, no grouping.
QString floatString(double value, const QLocale& locale);

} // namespace LocaleNumbers
