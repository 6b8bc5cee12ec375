#pragma once

#include <QString>
#include <QStringList>
#include <functional>

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

    // The prompts below answer Cancel (and log one line) unless an implementation overrides them.

    // The password of an encrypted disk image. The caller checks the answer against the stored
    // digest and asks again with errorText set when it does not match.
    struct ImagePasswordRequest
    {
        QString title; // the project's name
        QString UUID; // the project's identifier (its keychain item)
        bool passwordInKeychain = false; // initial state of the keep-in-keychain box
        bool canChangePassword = false;
        bool incrementalBackup = false;
        QString errorText; // why the last answer was refused; empty on the first ask
    };
    struct ImagePasswordAnswer
    {
        bool ok = false;
        QString password;
        bool passwordInKeychain = false;
    };
    virtual ImagePasswordAnswer askImagePassword(const ImagePasswordRequest& request);

    // The sheet for a new encrypted disk image: its password, the keychain box and a size limit.
    struct ImageCreationRequest
    {
        QString title;
        QString UUID;
        bool passwordInKeychain = false;
    };
    struct ImageCreationAnswer
    {
        bool ok = false;
        QString password;
        bool passwordInKeychain = false;
        long sizeLimitGB = 0; // whole GB; 0 = no limit given
    };
    virtual ImageCreationAnswer askNewImage(const ImageCreationRequest& request);

    // A folder chooser (one existing folder). On confirmation the validator, when set, gets the
    // chosen paths; a non-null answer is shown as a critical alert and the choice is refused.
    struct FolderChoiceRequest
    {
        QString prompt;
        QString okButton;
        QString startPath;
        std::function<QString(const QStringList& paths)> validator;
    };
    // The chosen folder, or a null string when the user cancelled.
    virtual QString chooseFolder(const FolderChoiceRequest& request);

    // Waits for a volume that is not mounted, with a Cancel button, for at most timeoutSeconds:
    // 1 once isActive() answers true, 0 when the user cancelled, -1 when the time ran out.
    struct VolumeWaitRequest
    {
        QString volumeName;
        int timeoutSeconds = 30;
        std::function<bool()> isActive;
    };
    virtual int waitForVolume(const VolumeWaitRequest& request);
};

// Answers every prompt with Cancel and logs one line; for test drivers and unattended programs.
class HeadlessUiPrompts : public UiPrompts
{
public:
    CredentialsAnswer askAdminCredentials(const CredentialsRequest& request) override;
    int showAlert(const Alert& alert) override;
};
