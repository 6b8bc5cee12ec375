#include "IQVNumberField.h"

#include "Beep.h"
#include "utilities/LocaleNumbers.h"

#include <QEvent>
#include <QKeyEvent>
#include <QTimer>
#include <cmath>

IQVNumberFormatter::IQVNumberFormatter(IQVNumberField* partner)
    : QValidator(partner)
    , m_partner(partner)
{ }

QValidator::State IQVNumberFormatter::validate(QString& input, int& pos) const
{
    Q_UNUSED(pos);
    if (input.size() < m_lastInput.size()) {
        m_lastInput = input; // deletions are never refused
        return Intermediate;
    }
    const int code = m_partner->isNumberOkInString(input);
    if (code == IQVNumberField::NotANumber) {
        if (input.isEmpty())
            return Intermediate;
        if (input != m_lastInput)
            Beep::beep(); // a refused edit; Qt's own checks of the same text stay quiet
        return Invalid;
    }
    m_lastInput = input;
    return code == IQVNumberField::NumberOk ? Acceptable : Intermediate;
}

IQVNumberField::IQVNumberField(QWidget* parent)
    : QLineEdit(parent)
{
    m_formatter = new IQVNumberFormatter(this);
    setValidator(m_formatter);
    connect(this, &QLineEdit::textEdited, this, [this] { m_lastFieldState = 1; });
    render();
}

void IQVNumberField::render()
{
    const QString text
        = m_mayFloat ? LocaleNumbers::floatString(m_floatValue, locale()) : QString::number(m_integerValue);
    m_formatter->setLastInput(text);
    setText(text);
}

void IQVNumberField::setIntModeMin(qint64 minimum, qint64 maximum)
{
    const qint64 current = integerValue();
    m_mayFloat = false;
    m_intMin = minimum;
    m_intMax = maximum;
    setIntegerValue(std::clamp(current, minimum, std::max(minimum, maximum)));
}

void IQVNumberField::setFloatModeMin(double minimum, double maximum)
{
    const double current = floatValue();
    m_mayFloat = true;
    m_floatMin = minimum;
    m_floatMax = maximum;
    setFloatValue(std::clamp(current, minimum, std::max(minimum, maximum)));
}

void IQVNumberField::setFloatValue(double value)
{
    if (m_mayFloat)
        m_floatValue = value;
    else
        m_integerValue = qint64(std::trunc(value));
    render();
}

void IQVNumberField::setIntegerValue(qint64 value)
{
    if (m_mayFloat)
        m_floatValue = double(value);
    else
        m_integerValue = value;
    render();
}

double IQVNumberField::floatValue() const
{
    return m_mayFloat ? m_floatValue : double(m_integerValue);
}

qint64 IQVNumberField::integerValue() const
{
    return m_mayFloat ? qint64(std::trunc(m_floatValue)) : m_integerValue;
}

int IQVNumberField::isNumberOkInString(const QString& text) const
{
    double v = 0;
    if (m_mayFloat) {
        if (!LocaleNumbers::localeStringToDouble(text, &v, 0, 0, locale()))
            return NotANumber;
        return v > m_floatMax ? AboveMaximum : v < m_floatMin ? BelowMinimum : NumberOk;
    }
    qint64 n = 0;
    if (!LocaleNumbers::localeStringToInteger(text, &n, 0, 0))
        return NotANumber;
    return n > m_intMax ? AboveMaximum : n < m_intMin ? BelowMinimum : NumberOk;
}

bool IQVNumberField::isNumberOk()
{
    m_lastFieldState = 0;
    if (!isEnabled() || !isVisible() || m_noStopExit)
        return true;
    if (isNumberOkInString(text()) != NotANumber)
        return true;
    Beep::beep();
    return false;
}

void IQVNumberField::changeNumberFieldData()
{
    m_formatter->clear();
    const QString t = text();
    if (m_mayFloat) {
        double v = 0;
        if (!LocaleNumbers::localeStringToDouble(t, &v, m_floatMin, m_floatMax, locale()))
            v = std::clamp(LocaleNumbers::scanLocaleDouble(t, locale()).value_or(0), m_floatMin, m_floatMax);
        setFloatValue(v);
    } else {
        qint64 n = 0;
        if (!LocaleNumbers::localeStringToInteger(t, &n, m_intMin, m_intMax))
            n = std::clamp(LocaleNumbers::scanLocaleInteger(t).value_or(0), m_intMin, m_intMax);
        setIntegerValue(n);
    }
    m_lastFieldState = 2;
    Q_EMIT numberChanged(this);
}

void IQVNumberField::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (isNumberOk())
            changeNumberFieldData();
    }
    QLineEdit::keyPressEvent(event);
}

void IQVNumberField::focusInEvent(QFocusEvent* event)
{
    // the value without grouping separators while it is edited
    if (m_lastFieldState == 0)
        render();
    QLineEdit::focusInEvent(event);
}

void IQVNumberField::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    if (m_lastFieldState == 0 && isNumberOkInString(text()) == NumberOk)
        return; // nothing was typed
    if (!isNumberOk()) {
        // a text that is not a number keeps the focus, while the window is still in front
        QTimer::singleShot(0, this, [this] {
            if (window()->isActiveWindow() && isVisible())
                setFocus();
        });
        return;
    }
    changeNumberFieldData();
}

void IQVNumberField::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LocaleChange)
        render();
    else if (event->type() == QEvent::EnabledChange && isEnabled())
        render();
    QLineEdit::changeEvent(event);
}
