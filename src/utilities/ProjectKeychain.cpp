#include "ProjectKeychain.h"

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
} // namespace

QString ProjectKeychain::itemName(const QString& title)
{
    return QStringLiteral("QV: %1").arg(title);
}

QString ProjectKeychain::itemKind()
{
    return QStringLiteral("Password for backup project");
}

QString ProjectKeychain::password(const QString& title, const QString& UUID)
{
    return AGKeychain::getPasswordFromKeychainItem(itemName(title), itemKind(), UUID);
}

void ProjectKeychain::store(const QString& title, const QString& UUID, const QString& password)
{
    if (password.isEmpty())
        return;
    const QString name = itemName(title);
    if (AGKeychain::checkForExistanceOfKeychainItem(name, itemKind(), UUID) > 0)
        AGKeychain::modifyKeychainItem(name, itemKind(), UUID, password);
    else
        AGKeychain::addKeychainItem(name, itemKind(), UUID, password);
}

void ProjectKeychain::remove(const QString& title, const QString& UUID)
{
    const QString name = itemName(title);
    if (AGKeychain::checkForExistanceOfKeychainItem(name, itemKind(), UUID) > 0)
        AGKeychain::deleteKeychainItem(name, itemKind(), UUID);
}

std::optional<QString> ProjectKeychain::shortcut(
    const QString& title, const QString& UUID, bool passwordInKeychain, const IPasswordMD5* digest)
{
    if (!passwordInKeychain || !digest)
        return std::nullopt;
    const QString kept = password(title, UUID);
    if (kept.isEmpty() || !digest->correspondsToPassword(kept))
        return std::nullopt;
    return kept;
}

UiPrompts::ProjectPasswordAnswer ProjectKeychain::askProjectPassword(
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
    if (answer.ok && answer.passwordInKeychain)
        store(request.title, request.UUID, answer.password);
    return answer;
}

UiPrompts::ImageCreationAnswer ProjectKeychain::askNewImage(const UiPrompts::ImageCreationRequest& request)
{
    if (!hasTitleAndUUID(request.title, request.UUID))
        return {};
    UiPrompts::ImageCreationAnswer answer;
    {
        ModalDepthGuard modal;
        answer = UiPrompts::shared().askNewImage(request);
    }
    if (answer.ok && answer.passwordInKeychain)
        store(request.title, request.UUID, answer.password);
    return answer;
}
