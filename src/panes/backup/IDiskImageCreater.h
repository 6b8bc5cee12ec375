#pragma once

#include <QDialog>
#include <functional>

class IQVNumberField;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The password sheet of a new encrypted image: the password twice; OK only for a non-empty
// password equal to its confirmation, else the error mark shows and the sheet stays.
class IDiskImagePasswordSheet : public QDialog
{
    Q_OBJECT
public:
    explicit IDiskImagePasswordSheet(QWidget* parent = nullptr);
    QString password() const;
    QLineEdit* passwordField() const { return m_password; }
    QLineEdit* confirmField() const { return m_confirm; }
    QLabel* errorSymbol() const { return m_error; }
    QPushButton* okButton() const { return m_ok; }

private:
    QLineEdit* m_password = nullptr;
    QLineEdit* m_confirm = nullptr;
    QLabel* m_error = nullptr;
    QPushButton* m_ok = nullptr;
};

// The progress sheet of a creation: one text and, when the creation has ended without
// success, a "Close" button.
class IDiskImageProgressSheet : public QDialog
{
    Q_OBJECT
public:
    explicit IDiskImageProgressSheet(QWidget* parent = nullptr);
    QLabel* text() const { return m_text; }
    QPushButton* button() const { return m_button; }

private:
    QLabel* m_text = nullptr;
    QPushButton* m_button = nullptr;
};

// "Create Disk Image": an empty sparse-bundle image to back up into. The user names the image
// file, its volume, its type (btrfs or ext4, plain or encrypted) and its maximum size; an
// encrypted type asks for a password; the image is made, mounted and marked as made by this
// application, with the steps shown in a progress sheet.
class IDiskImageCreater : public QDialog
{
    Q_OBJECT
public:
    // Image types (the type pop-up's tags).
    enum Type
    {
        TypeApfs = 1,
        TypeApfsEncrypted = 2,
        TypeExtended = 3,
        TypeExtendedEncrypted = 4
    };

    explicit IDiskImageCreater(QWidget* parent = nullptr);
    // Opens a new dialog window-modal on a window; it deletes itself when closed.
    static IDiskImageCreater* showDialog(QWidget* windowModalFor);

    // The file system a type makes (DiskImageTool's numbers), 0 for "not set".
    static int fsTypeForType(int type);
    static bool isEncryptedType(int type);
    // The bundle path of a chosen path: ".sparsebundle" added unless it is there.
    static QString bundlePathFor(const QString& chosen);

    QLineEdit* pathField() const { return m_path; }
    QPushButton* choosePathButton() const { return m_choose; }
    QLineEdit* nameField() const { return m_name; }
    QComboBox* typePopup() const { return m_type; }
    IQVNumberField* sizeField() const { return m_size; }
    QPushButton* createButton() const { return m_create; }
    // The sheets of the running creation (tests answer and picture them).
    IDiskImageProgressSheet* progressSheet() const { return m_progress; }

    // Checks the choice and makes the image (the "Create" button); true when it was made. The
    // dialog closes on success.
    bool validateAndCreate();
    // The mount path of the last image made (null when none).
    QString resultPath() const { return m_result; }
    QString bundlePath() const { return m_bundlePath; }

    // Called with each progress text (tests picture the sheet while the image is made).
    void setProgressHook(std::function<void(const QString&)> hook) { m_progressHook = std::move(hook); }

private:
    bool diskCreate();
    bool getPasswordByUser();
    void setProceesText(const QString& text);
    bool endWithFailure();

    QString m_bundlePath;
    QString m_password;
    QString m_result;
    QString m_code;
    std::function<void(const QString&)> m_progressHook;
    QLineEdit* m_path = nullptr;
    QPushButton* m_choose = nullptr;
    QLineEdit* m_name = nullptr;
    QComboBox* m_type = nullptr;
    IQVNumberField* m_size = nullptr;
    QPushButton* m_create = nullptr;
    IDiskImageProgressSheet* m_progress = nullptr;
};
