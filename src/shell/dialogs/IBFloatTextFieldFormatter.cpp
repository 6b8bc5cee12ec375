#include "IBFloatTextFieldFormatter.h"

#include "utilities/LocaleNumbers.h"

#include <QCoreApplication>

IBFloatTextFieldFormatter::IBFloatTextFieldFormatter(QObject* parent)
    : QValidator(parent)
{ }

bool IBFloatTextFieldFormatter::isSignedFloatRepresentation(const QString& text)
{
    if (text.startsWith(QLatin1Char('-')))
        return false;
    if (text.isEmpty())
        return true;
    return LocaleNumbers::localeStringToFloat(text, nullptr);
}

std::optional<QString> IBFloatTextFieldFormatter::objectValueForString(const QString& text, QString* error)
{
    if (isSignedFloatRepresentation(text))
        return text;
    if (error)
        *error = QCoreApplication::translate("Localizable", "Couldn\u2019t convert  to CGFloat");
    return std::nullopt;
}

QValidator::State IBFloatTextFieldFormatter::validate(QString& input, int& pos) const
{
    Q_UNUSED(pos);
    return isSignedFloatRepresentation(input) ? Acceptable : Invalid;
}
