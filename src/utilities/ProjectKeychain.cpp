#include "utilities/ProjectKeychain.h"

#include "utilities/AGKeychain.h"

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

} // namespace ProjectKeychain
