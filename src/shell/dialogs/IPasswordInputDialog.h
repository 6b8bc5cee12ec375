#pragma once

#include "utilities/UiPrompts.h"

#include <QDialog>
#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The password of an encrypted project: the small dialog (type 1, an existing password, checked
// against the project's digest when there is one, staying open with the reason otherwise) and
// the full dialog (type 2, a new password typed twice). A new dialog is made for each request,
// and its fields are emptied when it goes, so no password stays in a widget.
class IPasswordInputDialog : public QDialog
{
    Q_OBJECT
public:
    IPasswordInputDialog(const UiPrompts::ProjectPasswordRequest& request, QWidget* parent = nullptr);
    ~IPasswordInputDialog() override;

    UiPrompts::ProjectPasswordAnswer answer() const;
    static UiPrompts::ProjectPasswordAnswer run(
        const UiPrompts::ProjectPasswordRequest& request, QWidget* parent);

    int type() const { return m_type; }
    QLabel* promptLabel() const { return m_prompt; }
    QLineEdit* passwordField() const { return m_password; }
    QLineEdit* verifyField() const { return m_verify; }
    QLabel* warningNote() const { return m_warning; }
    QCheckBox* keychainBox() const { return m_keychain; }
    QPushButton* okButton() const { return m_ok; }

public Q_SLOTS:
    void accept() override;

private:
    void setupDialog();

    int m_type = 1;
    std::optional<IPasswordMD5> m_digest;
    QLabel* m_prompt = nullptr;
    QLineEdit* m_password = nullptr;
    QLineEdit* m_verify = nullptr;
    QLabel* m_warning = nullptr;
    QCheckBox* m_keychain = nullptr;
    QPushButton* m_ok = nullptr;
};

// The sheet of a new disk image: its size limit, and a password (typed twice) when encryption
// is on. The size answered is the confirmed value rounded up to a whole GB, never below the minimum.
class IDiskImagePasswordDialog : public QDialog
{
    Q_OBJECT
public:
    IDiskImagePasswordDialog(const UiPrompts::ImageCreationRequest& request, QWidget* parent = nullptr);
    ~IDiskImagePasswordDialog() override;

    UiPrompts::ImageCreationAnswer answer() const;
    static UiPrompts::ImageCreationAnswer run(
        const UiPrompts::ImageCreationRequest& request, QWidget* parent);

    double minSizeInGB() const { return m_minSizeGB; }
    QLineEdit* sizeField() const { return m_size; }
    QCheckBox* encryptBox() const { return m_encrypt; }
    QLineEdit* passwordField() const { return m_password; }
    QLineEdit* verifyField() const { return m_verify; }
    QLabel* warningImage() const { return m_warningImage; }
    QLabel* warningNote() const { return m_warning; }
    QCheckBox* keychainBox() const { return m_keychain; }
    QPushButton* okButton() const { return m_ok; }

public Q_SLOTS:
    void accept() override;

private:
    // A null string when the entries may be confirmed, else the reason.
    QString validateDialogInfo();
    void setActivePasswordOptions(bool on);
    double sizeValue() const;

    double m_minSizeGB = 0;
    QLineEdit* m_size = nullptr;
    QLabel* m_sourceNote = nullptr;
    QCheckBox* m_encrypt = nullptr;
    QLineEdit* m_password = nullptr;
    QLineEdit* m_verify = nullptr;
    QLabel* m_warningImage = nullptr;
    QLabel* m_warning = nullptr;
    QCheckBox* m_keychain = nullptr;
    QPushButton* m_ok = nullptr;
};
