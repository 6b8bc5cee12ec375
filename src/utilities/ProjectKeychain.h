#pragma once

#include <QString>

// The keychain items of project passwords (encrypted archives and disk images): label
// "QV: <project name>", kind "Password for backup project", account = the project UUID, over
// AGKeychain. Items are found by the account, so a project renamed since its item was written
// still finds it.
namespace ProjectKeychain {

QString serviceForName(const QString& projectName); // "QV: <name>"
QString itemKind(); // "Password for backup project"

bool exists(const QString& projectName, const QString& uuid);
QString read(const QString& projectName, const QString& uuid); // "" when there is none
// Adds the item, or changes the password of the one there.
bool write(const QString& projectName, const QString& uuid, const QString& password);
// Deletes the item when there is one; true also when there was none.
bool remove(const QString& projectName, const QString& uuid);

} // namespace ProjectKeychain
