#include "QVFormatter.h"

#include "Beep.h"

QVFormatter::QVFormatter(QObject* parent)
    : QValidator(parent)
{ }

QValidator::State QVFormatter::validate(QString& input, int& pos) const
{
    Q_UNUSED(pos);
    if (input.isEmpty())
        return Intermediate;
    bool ok = false;
    const float value = input.toFloat(&ok);
    if (!ok || value > kMaximum) {
        Beep::beep();
        return Invalid;
    }
    m_lastInput = input;
    return value < m_minValue ? Intermediate : Acceptable;
}
