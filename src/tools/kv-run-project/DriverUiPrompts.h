#pragma once

#include "utilities/UiPrompts.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// The prompts of the headless driver: every prompt is answered Cancel and leaves the line
// "prompt: <title> -> Cancel" on standard error, except the disk-image password, which is
// answered with the password read from standard input when the driver was asked to.
class DriverUiPrompts : public HeadlessUiPrompts
{
public:
    // The line every answered prompt leaves on standard error.
    static void logPrompt(const QString& title, const QString& answer);

    void setImagePassword(const QByteArray& password) { m_imagePassword = password; }
    bool hasImagePassword() const { return !m_imagePassword.isNull(); }

    // The authorization dialog: the invoking user with the administrator password read from
    // standard input, when the driver was asked to, offered once; else Cancel.
    void setAdminPassword(const QByteArray& password) { m_adminPassword = password; }
    CredentialsAnswer askAdminCredentials(const CredentialsRequest& request) override;
    int showAlert(const Alert& alert) override;
    ImagePasswordAnswer askImagePassword(const ImagePasswordRequest& request) override;
    ImageCreationAnswer askNewImage(const ImageCreationRequest& request) override;
    QString chooseFolder(const FolderChoiceRequest& request) override;
    int waitForVolume(const VolumeWaitRequest& request) override;
    // Archive projects: the password read from standard input, offered once per prompt.
    void setProjectPassword(const QByteArray& password) { m_projectPassword = password; }
    ProjectPasswordAnswer askProjectPassword(const ProjectPasswordRequest& request) override;
    // --in-place: the warning before a restore in place is answered "Continue".
    void setContinueInPlace(bool on) { m_continueInPlace = on; }
    // The search for a missing file: the first of these folders that holds it, else Skip where
    // offered (when asked to), else Cancel.
    void setVolumeDirs(const QStringList& dirs, bool skipMissing)
    {
        m_volumeDirs = dirs;
        m_skipMissing = skipMissing;
    }
    LocateFileAnswer locateFile(const LocateFileRequest& request) override;
    // --burn-drive: each burn setup takes the next unused drive whose medium is suitable (the
    // others are skipped with a line, as a user would insert another disc); with none left it
    // answers Cancel. The retry alert answers "Yes" while a drive is left, the too-large alert OK.
    void setBurnDrives(const QStringList& drives) { m_burnDrives = drives; }
    BurnSetupAnswer askBurnSetup(const BurnSetupRequest& request) override;

private:
    QByteArray m_imagePassword; // null: not given
    QByteArray m_projectPassword; // null: not given
    bool m_continueInPlace = false;
    QByteArray m_adminPassword; // null: not given, or already offered
    QStringList m_volumeDirs;
    bool m_skipMissing = false;
    QStringList m_burnDrives;
    int m_nextBurnDrive = 0;
};
