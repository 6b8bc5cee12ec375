#pragma once

#include "utilities/UiPrompts.h"

#include <QString>
#include <optional>

class IPasswordMD5;

// The keychain items of project passwords (encrypted archives and disk images): label
// "QV: <project name>", kind "Password for backup project", account = the project UUID, over
// AGKeychain. Items are found by the account, so a project renamed since its item was written
// still finds it. Also the windowless steps around the password prompts: the title and UUID
// check, the keychain shortcut and the keychain write after OK. A locked or unreachable Secret
// Service only disables the shortcut.
namespace ProjectKeychain {

QString serviceForName(const QString& projectName); // "QV: <name>"
QString itemKind(); // "Password for backup project"

bool exists(const QString& projectName, const QString& uuid);
QString read(const QString& projectName, const QString& uuid); // "" when there is none
// Adds the item, or changes the password of the one there.
bool write(const QString& projectName, const QString& uuid, const QString& password);
// Deletes the item when there is one; true also when there was none.
bool remove(const QString& projectName, const QString& uuid);

// The stored password when it may be used without asking: the keychain box is on, an item
// holds a password and the digest says it is the project's.
std::optional<QString> shortcut(
    const QString& projectName, const QString& uuid, bool passwordInKeychain, const IPasswordMD5* digest);

// A project's password through UiPrompts with the steps above; nothing is shown without a
// title or UUID (one log line) or when the keychain already holds the right password.
UiPrompts::ProjectPasswordAnswer askProjectPassword(const UiPrompts::ProjectPasswordRequest& request);
// The sheet of a new encrypted disk image, with the keychain write after OK.
UiPrompts::ImageCreationAnswer askNewImage(const UiPrompts::ImageCreationRequest& request);

} // namespace ProjectKeychain
