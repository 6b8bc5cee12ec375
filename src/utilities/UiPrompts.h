#pragma once

#include "utilities/IPasswordMD5.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

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
        double minSizeGB = 0; // the smallest size offered (never below 0)
        QString sourceSizeNote; // a line on the size of the sources
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
        int deviceType = 0; // ILocation's device type: 3 disk image, 4 and 6 network, else local
        int timeoutSeconds = 30;
        std::function<bool()> isActive;
    };
    virtual int waitForVolume(const VolumeWaitRequest& request);

    // The password of an encrypted project: type 1 asks for the existing password (checked
    // against digest when there is one, in the dialog), type 2 for a new one typed twice.
    struct ProjectPasswordRequest
    {
        int type = 1;
        QString title;
        QString UUID;
        std::optional<IPasswordMD5> digest;
        bool passwordInKeychain = true; // initial state of the keep-in-keychain box
        bool canChangePassword = false; // type 1: "to secure" rather than "to restore"
        bool incrementalBackup = false;
        QString errorText;
    };
    struct ProjectPasswordAnswer
    {
        bool ok = false;
        QString password;
        bool passwordInKeychain = false;
    };
    virtual ProjectPasswordAnswer askProjectPassword(const ProjectPasswordRequest& request);

    // The search for a missing file (an archive, or a volume of a split one): the user names the
    // folder that holds it, skips it (only where offered) or cancels.
    struct LocateFileRequest
    {
        QString message; // why the file is looked for
        QString prompt;
        QString button;
        QString startFolder;
        QString fileName; // the file looked for (its name only)
        bool canSkip = false;
    };
    enum class LocateResult
    {
        Chosen,
        Skipped,
        Cancelled
    };
    struct LocateFileAnswer
    {
        LocateResult result = LocateResult::Cancelled;
        QString folder; // Chosen: the folder that holds the file
    };
    virtual LocateFileAnswer locateFile(const LocateFileRequest& request);

    // A one-line text (a project name): the text, or a null string on Cancel (empty stays apart).
    struct TextRequest
    {
        QString title;
        QString comment;
        QString defaultText;
    };
    virtual QString askText(const TextRequest& request);

    // Existing files and/or folders. Without a validator, expectedFile (when set and one item
    // may be chosen) must be the chosen file or lie in the chosen folder. recentFolderId (-1 none)
    // names the remembered folder the chooser starts in and updates.
    struct ItemChoiceRequest
    {
        QString prompt;
        QString okButton;
        QString startPath;
        bool files = true;
        bool folders = false;
        bool multiple = false;
        bool canCreateFolder = true;
        QStringList fileTypes; // extensions without the dot; empty = all
        QString expectedFile;
        QString fileNotFoundMessage; // empty = the default text
        std::function<QString(const QStringList& paths)> validator;
        int recentFolderId = -1;
        // The dialog also shows the capture-pattern rows (the rule, "combine with previous").
        bool capturePatternRows = false;
    };
    // The chosen paths; empty when the user cancelled.
    virtual QStringList chooseItems(const ItemChoiceRequest& request);

    // A path to save to.
    struct SavePathRequest
    {
        QString prompt;
        QString okButton;
        QString startPath;
        QString defaultName;
    };
    // The chosen path, or a null string on Cancel.
    virtual QString chooseSavePath(const SavePathRequest& request);

    // A number in a range, in the locale's notation.
    struct NumberRequest
    {
        QString title;
        QString prompt;
        double value = 0;
        double minimum = 0;
        double maximum = 1e7;
        bool decimals = false;
    };
    // The number, or nothing on Cancel.
    virtual std::optional<double> askNumber(const NumberRequest& request);

    // The disc burner's setup: a drive of the list, the status of the medium in it and the
    // "appendable" box. inspect() reads a drive's medium (the panel calls it whenever a drive is
    // chosen); a medium that is not suitable keeps OK disabled and shows prompt.
    struct BurnMedia
    {
        bool suitable = false;
        QString status; // the medium as the panel shows it ("DVD+RW: is blank, 4.7 GB free")
    };
    struct BurnSetupRequest
    {
        int discNumber = 1; // the disc being asked for (1, 2, ...)
        QStringList drives;
        std::function<BurnMedia(const QString& drive)> inspect;
        QString prompt; // shown above the drive; "That is not a writable CD, DVD or BD!" after a refusal
        bool appendable = true; // initial state of the box
        QString selectedDrive; // preselected drive, empty for the first
    };
    struct BurnSetupAnswer
    {
        bool ok = false;
        QString drive;
        bool appendable = true;
    };
    virtual BurnSetupAnswer askBurnSetup(const BurnSetupRequest& request);
};

// Answers every prompt with Cancel and logs one line; for test drivers and unattended programs.
class HeadlessUiPrompts : public UiPrompts
{
public:
    CredentialsAnswer askAdminCredentials(const CredentialsRequest& request) override;
    int showAlert(const Alert& alert) override;
};
