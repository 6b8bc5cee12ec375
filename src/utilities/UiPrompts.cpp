#include "UiPrompts.h"

#include <QDebug>

namespace {
UiPrompts* g_prompts = nullptr;
} // namespace

UiPrompts& UiPrompts::shared()
{
    static HeadlessUiPrompts headless;
    return g_prompts ? *g_prompts : headless;
}

void UiPrompts::setShared(UiPrompts* prompts)
{
    g_prompts = prompts;
}

UiPrompts::CredentialsAnswer HeadlessUiPrompts::askAdminCredentials(const CredentialsRequest& request)
{
    qInfo().noquote() << "No user interface: the administrator password dialog was answered Cancel:"
                      << QString(request.prompt).replace(QLatin1Char('\n'), QLatin1Char(' '));
    return {};
}

int HeadlessUiPrompts::showAlert(const Alert& alert)
{
    qInfo().noquote() << "No user interface: the alert was answered Cancel:" << alert.title;
    return -1;
}

UiPrompts::ImagePasswordAnswer UiPrompts::askImagePassword(const ImagePasswordRequest& request)
{
    qInfo().noquote() << "No user interface: the disk image password dialog was answered Cancel:"
                      << request.title;
    return {};
}

UiPrompts::ImageCreationAnswer UiPrompts::askNewImage(const ImageCreationRequest& request)
{
    qInfo().noquote() << "No user interface: the new disk image sheet was answered Cancel:" << request.title;
    return {};
}

QString UiPrompts::chooseFolder(const FolderChoiceRequest& request)
{
    qInfo().noquote() << "No user interface: the folder chooser was answered Cancel:" << request.prompt;
    return {};
}

int UiPrompts::waitForVolume(const VolumeWaitRequest& request)
{
    qInfo().noquote() << "No user interface: the wait for volume was answered Cancel:" << request.volumeName;
    return 0;
}

UiPrompts::LocateFileAnswer UiPrompts::locateFile(const LocateFileRequest& request)
{
    qInfo().noquote() << "No user interface: the search for a file was answered Cancel:" << request.fileName;
    return {};
}

UiPrompts::ProjectPasswordAnswer UiPrompts::askProjectPassword(const ProjectPasswordRequest& request)
{
    qInfo().noquote() << "No user interface: the project password dialog was answered Cancel:"
                      << request.title;
    return {};
}

QString UiPrompts::askText(const TextRequest& request)
{
    qInfo().noquote() << "No user interface: the text input was answered Cancel:" << request.title;
    return {};
}

QStringList UiPrompts::chooseItems(const ItemChoiceRequest& request)
{
    qInfo().noquote() << "No user interface: the open dialog was answered Cancel:" << request.prompt;
    return {};
}

QString UiPrompts::chooseSavePath(const SavePathRequest& request)
{
    qInfo().noquote() << "No user interface: the save dialog was answered Cancel:" << request.prompt;
    return {};
}

std::optional<double> UiPrompts::askNumber(const NumberRequest& request)
{
    qInfo().noquote() << "No user interface: the number input was answered Cancel:" << request.title;
    return std::nullopt;
}

UiPrompts::BurnSetupAnswer UiPrompts::askBurnSetup(const BurnSetupRequest& request)
{
    qInfo().noquote() << "No user interface: the burn setup was answered Cancel for disc" << request.discNumber;
    return {};
}
