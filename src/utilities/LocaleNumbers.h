#pragma once

#include <QString>

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

} // namespace LocaleNumbers
