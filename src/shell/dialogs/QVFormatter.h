#pragma once

#include <QValidator>

// The size-limit field's check while typing: a plain number (C notation) not above 10000000.
// A value below the minimum is let through as Intermediate, so "10" can be typed with minimum 5
// although "1" is below it; the owner holds the minimum when editing ends and on OK. Every
// refusal beeps.
class QVFormatter : public QValidator
{
    Q_OBJECT
public:
    explicit QVFormatter(QObject* parent = nullptr);

    void setMinValue(double minimum) { m_minValue = minimum; }
    double minValue() const { return m_minValue; }
    void clear() { m_lastInput.clear(); }
    QString lastInput() const { return m_lastInput; }

    State validate(QString& input, int& pos) const override;

    static constexpr double kMaximum = 1e7;

private:
    double m_minValue = -1e7;
    mutable QString m_lastInput;
};
