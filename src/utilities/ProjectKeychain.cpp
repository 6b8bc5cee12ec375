#include "utilities/ProjectKeychain.h"

#include "platform/MainThread.h"
#include "utilities/AGKeychain.h"
#include "utilities/IPasswordMD5.h"

#include <QDebug>

namespace {

bool hasTitleAndUUID(const QString& title, const QString& UUID)
{
    if (!title.isEmpty() && !UUID.isEmpty())
        return true;
    qWarning().noquote() << "Title or UUID of Backup project not defined!";
    return false;
}

// After OK with the keychain box on; an empty password (the user chose to change it) is not
// stored.
void keepAfterOk(const QString& title, const QString& UUID, bool inKeychain, const QString& password)
{
    if (inKeychain && !password.isEmpty())
        ProjectKeychain::write(title, UUID, password);
}

} // namespace

namespace ProjectKeychain {

QString serviceForName(const QString& projectName)
{
    return QStringLiteral("QV: %1").arg(projectName);
}

QString itemKind()
{
    return QStringLiteral("Password for backup project");
}

bool exists(const QString& projectName, const QString& uuid)
{
    return AGKeychain::checkForExistanceOfKeychainItem(serviceForName(projectName), itemKind(), uuid) > 0;
}

QString read(const QString& projectName, const QString& uuid)
{
    return AGKeychain::getPasswordFromKeychainItem(serviceForName(projectName), itemKind(), uuid);
}

bool write(const QString& projectName, const QString& uuid, const QString& password)
{
    if (exists(projectName, uuid))
        return AGKeychain::modifyKeychainItem(serviceForName(projectName), itemKind(), uuid, password);
    return AGKeychain::addKeychainItem(serviceForName(projectName), itemKind(), uuid, password);
}

bool remove(const QString& projectName, const QString& uuid)
{
    if (!exists(projectName, uuid))
        return true;
    return AGKeychain::deleteKeychainItem(serviceForName(projectName), itemKind(), uuid);
}

std::optional<QString> shortcut(
    const QString& projectName, const QString& uuid, bool passwordInKeychain, const IPasswordMD5* digest)
{
    if (!passwordInKeychain || !digest)
        return std::nullopt;
    const QString kept = read(projectName, uuid);
    if (kept.isEmpty() || !digest->correspondsToPassword(kept))
        return std::nullopt;
    return kept;
}

UiPrompts::ProjectPasswordAnswer askProjectPassword(const UiPrompts::ProjectPasswordRequest& request)
{
    if (!hasTitleAndUUID(request.title, request.UUID))
        return {};
    if (request.type == 1) {
        const std::optional<QString> kept = shortcut(request.title, request.UUID,
            request.passwordInKeychain, request.digest ? &*request.digest : nullptr);
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
    if (answer.ok)
        keepAfterOk(request.title, request.UUID, answer.passwordInKeychain, answer.password);
    return answer;
}

UiPrompts::ImageCreationAnswer askNewImage(const UiPrompts::ImageCreationRequest& request)
{
    if (!hasTitleAndUUID(request.title, request.UUID))
        return {};
    UiPrompts::ImageCreationAnswer answer;
    {
        ModalDepthGuard modal;
        answer = UiPrompts::shared().askNewImage(request);
    }
    if (answer.ok)
        keepAfterOk(request.title, request.UUID, answer.passwordInKeychain, answer.password);
    return answer;
}

} // namespace ProjectKeychain
