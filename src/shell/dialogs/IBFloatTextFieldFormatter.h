#pragma once

#include <QValidator>
#include <optional>

// The check of a field that takes an unsigned decimal number in the user's locale, while typing
// and at the end: a text starting with "-" is refused, an empty text accepted, a trailing
// decimal separator reads as ".0", one leading "$" is skipped, and the rest must be one number.
// The value handed on is the text itself.
class IBFloatTextFieldFormatter : public QValidator
{
    Q_OBJECT
public:
    explicit IBFloatTextFieldFormatter(QObject* parent = nullptr);

    static bool isSignedFloatRepresentation(const QString& text);
    // The accepted text, or nothing and *error set.
    static std::optional<QString> objectValueForString(const QString& text, QString* error = nullptr);

    State validate(QString& input, int& pos) const override;
};
