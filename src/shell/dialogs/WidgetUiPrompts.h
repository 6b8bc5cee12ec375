#pragma once

#include "utilities/UiPrompts.h"

#include <QPointer>
#include <QWidget>

// The application's prompts: every kind of UiPrompts answered through a window of this library,
// each inside the modal depth counter (timers of the schedule and queue stay quiet while one is
// open) and over the registered parent window (the active window until one is set).
class WidgetUiPrompts : public UiPrompts
{
public:
    void setParentWidget(QWidget* parent) { m_parent = parent; }
    // The window the dialogs open over: the registered one, else the active window.
    QWidget* parentWidget() const;

    CredentialsAnswer askAdminCredentials(const CredentialsRequest& request) override;
    int showAlert(const Alert& alert) override;
    QString chooseFolder(const FolderChoiceRequest& request) override;
    QStringList chooseItems(const ItemChoiceRequest& request) override;
    QString askText(const TextRequest& request) override;
    QString chooseSavePath(const SavePathRequest& request) override;
    int waitForVolume(const VolumeWaitRequest& request) override;
    ImagePasswordAnswer askImagePassword(const ImagePasswordRequest& request) override;
    ProjectPasswordAnswer askProjectPassword(const ProjectPasswordRequest& request) override;
    ImageCreationAnswer askNewImage(const ImageCreationRequest& request) override;
    std::optional<double> askNumber(const NumberRequest& request) override;
    LocateFileAnswer locateFile(const LocateFileRequest& request) override;
    BurnSetupAnswer askBurnSetup(const BurnSetupRequest& request) override;

private:
    QPointer<QWidget> m_parent;
};
