#pragma once

#include "utilities/UiPrompts.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;

// The administrator name and password dialog. A new dialog (and so a new, empty password field)
// is made for every request, so no earlier password remains in a widget.
class AuthorizerDialog : public QDialog
{
    Q_OBJECT
public:
    explicit AuthorizerDialog(const UiPrompts::CredentialsRequest& request, QWidget* parent = nullptr);
    ~AuthorizerDialog() override;

    // The answer after the dialog ended (OK or Cancel).
    UiPrompts::CredentialsAnswer answer() const;

    QLineEdit* userNameField() const { return m_userName; }
    QLineEdit* passwordField() const { return m_password; }
    QCheckBox* saveToKeychainBox() const { return m_saveToKeychain; }
    QLabel* promptField() const { return m_prompt; }

private:
    QLabel* m_prompt = nullptr;
    QLineEdit* m_userName = nullptr;
    QLineEdit* m_password = nullptr;
    QCheckBox* m_saveToKeychain = nullptr;
};
