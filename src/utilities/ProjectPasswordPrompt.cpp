#include "ProjectPasswordPrompt.h"

#include "platform/MainThread.h"
#include "utilities/IPasswordMD5.h"
#include "utilities/ProjectKeychain.h"

#include <QDebug>

namespace {
bool hasTitleAndUUID(const QString& title, const QString& UUID)
{
    if (!title.isEmpty() && !UUID.isEmpty())
        return true;
    qWarning().noquote() << "Title or UUID of Backup project not defined!";
    return false;
}

void storeAfterOk(
    const QString& title, const QString& UUID, bool ok, bool inKeychain, const QString& password)
{
    if (ok && inKeychain && !password.isEmpty())
        ProjectKeychain::write(title, UUID, password);
}
} // namespace

std::optional<QString> ProjectPasswordPrompt::shortcut(
    const QString& title, const QString& UUID, bool passwordInKeychain, const IPasswordMD5* digest)
{
    if (!passwordInKeychain || !digest)
        return std::nullopt;
    const QString kept = ProjectKeychain::read(title, UUID);
    if (kept.isEmpty() || !digest->correspondsToPassword(kept))
        return std::nullopt;
    return kept;
}

UiPrompts::ProjectPasswordAnswer ProjectPasswordPrompt::askProjectPassword(
    const UiPrompts::ProjectPasswordRequest& request)
{
    if (!hasTitleAndUUID(request.title, request.UUID))
        return {};
    if (request.type == 1) {
        const std::optional<QString> kept = shortcut(request.title, request.UUID, request.passwordInKeychain,
            request.digest ? &*request.digest : nullptr);
        if (kept) {
            UiPrompts::ProjectPasswordAnswer answer;
            answer.ok = true;
            answer.password = *kept;
            answer.passwordInKeychain = true;
            return answer;
        }
    }
    UiPrompts::ProjectPasswordAnswer answer;
    {
        ModalDepthGuard modal;
        answer = UiPrompts::shared().askProjectPassword(request);
    }
    storeAfterOk(request.title, request.UUID, answer.ok, answer.passwordInKeychain, answer.password);
    return answer;
}

UiPrompts::ImagePasswordAnswer ProjectPasswordPrompt::askImagePassword(
    UiPrompts::ImagePasswordRequest request, const IPasswordMD5* digest, const QString& mismatchText)
{
    if (!hasTitleAndUUID(request.title, request.UUID))
        return {};
    const IPasswordMD5* check = digest && !digest->isEmpty() ? digest : nullptr;
    if (const std::optional<QString> kept
        = shortcut(request.title, request.UUID, request.passwordInKeychain, check)) {
        UiPrompts::ImagePasswordAnswer answer;
        answer.ok = true;
        answer.password = *kept;
        answer.passwordInKeychain = true;
        return answer;
    }
    // Asked again until the answer matches or the user gives up; the bound only stops a
    // prompt that answers by itself from looping for ever.
    for (int attempt = 0; attempt < 10; ++attempt) {
        UiPrompts::ImagePasswordAnswer answer;
        {
            ModalDepthGuard modal;
            answer = UiPrompts::shared().askImagePassword(request);
        }
        if (!answer.ok || answer.password.isEmpty())
            return {};
        if (check && !check->correspondsToPassword(answer.password)) {
            request.errorText = mismatchText;
            request.passwordInKeychain = answer.passwordInKeychain;
            continue;
        }
        storeAfterOk(request.title, request.UUID, answer.ok, answer.passwordInKeychain, answer.password);
        return answer;
    }
    return {};
}

UiPrompts::ImageCreationAnswer ProjectPasswordPrompt::askNewImage(
    const UiPrompts::ImageCreationRequest& request)
{
    if (!hasTitleAndUUID(request.title, request.UUID))
        return {};
    UiPrompts::ImageCreationAnswer answer;
    {
        ModalDepthGuard modal;
        answer = UiPrompts::shared().askNewImage(request);
    }
    storeAfterOk(request.title, request.UUID, answer.ok, answer.passwordInKeychain, answer.password);
    return answer;
}
