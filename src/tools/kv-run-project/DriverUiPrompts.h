#pragma once

#include "utilities/UiPrompts.h"

#include <QByteArray>
#include <QString>

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

private:
    QByteArray m_imagePassword; // null: not given
    QByteArray m_projectPassword; // null: not given
    bool m_continueInPlace = false;
};
