#pragma once

#include <QLineEdit>
#include <QValidator>

class IQVNumberField;

// The number field's check while typing: a text that is not a number beeps and is refused;
// numbers outside the range and deletions are let through (the range holds when editing ends).
class IQVNumberFormatter : public QValidator
{
    Q_OBJECT
public:
    explicit IQVNumberFormatter(IQVNumberField* partner);

    void setLastInput(const QString& text) { m_lastInput = text; }
    QString lastInput() const { return m_lastInput; }
    void clear() { m_lastInput.clear(); }

    State validate(QString& input, int& pos) const override;

private:
    IQVNumberField* m_partner;
    mutable QString m_lastInput;
};

// A number typed in the field's locale, in integer or decimal mode, kept within a range. The
// value is taken on Return and when the focus leaves; a text that is not a number then beeps
// and keeps the focus (unless the field is a no-stop-exit one, which takes the number it can
// read, clamped). numberChanged is the owner's action, sent once per taken value.
class IQVNumberField : public QLineEdit
{
    Q_OBJECT
public:
    enum Check
    {
        NumberOk = 1,
        NotANumber = 2,
        AboveMaximum = 3,
        BelowMinimum = 4
    };

    explicit IQVNumberField(QWidget* parent = nullptr);

    void setIntModeMin(qint64 minimum, qint64 maximum);
    void setFloatModeMin(double minimum, double maximum);
    bool mayFloat() const { return m_mayFloat; }

    void setFloatValue(double value);
    void setIntegerValue(qint64 value);
    double floatValue() const;
    qint64 integerValue() const;

    // 1 number in range, 2 not wholly a number, 3 above the maximum, 4 below the minimum.
    int isNumberOkInString(const QString& text) const;
    // YES when the field may be left: disabled or hidden fields, no-stop-exit fields, and
    // texts that are numbers (out-of-range ones are clamped when editing ends); NO with a beep
    // for a text that is not a number. Resets the state to 0.
    bool isNumberOk();
    int state() const { return m_lastFieldState; }
    void setNoStopExit(bool on) { m_noStopExit = on; }
    bool isNoStopExit() const { return m_noStopExit; }

    // Reads the text, clamps it, stores and shows the value and sends numberChanged.
    void changeNumberFieldData();

Q_SIGNALS:
    void numberChanged(IQVNumberField* field);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    friend class IQVNumberFormatter;
    void render();

    double m_floatValue = 0;
    qint64 m_integerValue = 0;
    bool m_mayFloat = true;
    qint64 m_intMin = -10000000, m_intMax = 10000000;
    double m_floatMin = -1e7, m_floatMax = 1e7;
    int m_lastFieldState = 0;
    bool m_noStopExit = false;
    IQVNumberFormatter* m_formatter = nullptr;
};
