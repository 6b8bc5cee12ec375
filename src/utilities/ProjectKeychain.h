#pragma once

#include "utilities/UiPrompts.h"

#include <QString>
#include <optional>

class IPasswordMD5;

// The keychain item of an encrypted project's password ("QV: <title>", kind "Password for
// backup project", account the project's UUID) and the windowless steps around the password
// prompts: the title and UUID check, the keychain shortcut and the keychain write after OK.
// A locked or unreachable Secret Service only disables the shortcut.
class ProjectKeychain
{
public:
    static QString itemName(const QString& title);
    static QString itemKind();

    // The stored password; empty when there is none or the keychain cannot be read.
    static QString password(const QString& title, const QString& UUID);
    // Modifies the item when it exists, else adds it; nothing for an empty password.
    static void store(const QString& title, const QString& UUID, const QString& password);
    static void remove(const QString& title, const QString& UUID);
    // The stored password when it may be used without asking: the keychain box is on, an item
    // holds a password and the digest says it is the project's.
    static std::optional<QString> shortcut(
        const QString& title, const QString& UUID, bool passwordInKeychain, const IPasswordMD5* digest);

    // A project's password through UiPrompts with the steps above; nothing is shown without a
    // title or UUID (one log line) or when the keychain already holds the right password.
    static UiPrompts::ProjectPasswordAnswer askProjectPassword(
        const UiPrompts::ProjectPasswordRequest& request);
    // The sheet of a new encrypted disk image, with the keychain write after OK.
    static UiPrompts::ImageCreationAnswer askNewImage(const UiPrompts::ImageCreationRequest& request);
};
