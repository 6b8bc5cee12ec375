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
