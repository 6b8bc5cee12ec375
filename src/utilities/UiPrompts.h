#pragma once

#include <QString>
#include <QStringList>

// Every dialog, alert and chooser the engine shows, answered by value. The application registers
// its widget implementation at start-up; programs without a user interface keep the headless
// default (every prompt answers Cancel and leaves one log line), and tests install a scripted
// one that fails the test on a prompt it did not expect. Called on the main thread.
class UiPrompts
{
public:
    virtual ~UiPrompts() = default;

    static UiPrompts& shared();
    // nullptr restores the headless default; the caller keeps ownership
    static void setShared(UiPrompts* prompts);

    // The administrator name and password dialog.
    struct CredentialsRequest
    {
        QString prompt;
        QString userName; // prefilled
        bool showSaveToKeychain = false;
        bool saveToKeychain = false; // initial state of the check box
    };
    struct CredentialsAnswer
    {
        bool ok = false; // OK (true) or Cancel
        QString userName;
        QString password;
        bool saveToKeychain = false;
    };
    virtual CredentialsAnswer askAdminCredentials(const CredentialsRequest& request) = 0;

    // An alert with its buttons (first = default); the answer is the index of the button chosen,
    // -1 when none was (headless, closed).
    enum class AlertStyle
    {
        Informational,
        Warning,
        Critical
    };
    struct Alert
    {
        AlertStyle style = AlertStyle::Informational;
        QString title;
        QString text;
        QStringList buttons;
    };
    virtual int showAlert(const Alert& alert) = 0;
};

// Answers every prompt with Cancel and logs one line; for test drivers and unattended programs.
class HeadlessUiPrompts : public UiPrompts
{
public:
    CredentialsAnswer askAdminCredentials(const CredentialsRequest& request) override;
    int showAlert(const Alert& alert) override;
};
