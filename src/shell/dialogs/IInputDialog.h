#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;

// A one-line text input for project names. OK turns every "/" into "|", so a name never holds a
// path separator; Cancel and closing answer a null string, kept apart from an empty name.
class IInputDialog : public QDialog
{
    Q_OBJECT
public:
    explicit IInputDialog(QWidget* parent = nullptr);

    // The entered text, or a null string on Cancel.
    QString executeTitle(const QString& title, const QString& comment, const QString& defaultString);

    QLineEdit* inputField() const { return m_input; }
    QLabel* commentLabel() const { return m_comment; }

public Q_SLOTS:
    void accept() override;

private:
    QLabel* m_comment = nullptr;
    QLineEdit* m_input = nullptr;
    QString m_inputString;
};
