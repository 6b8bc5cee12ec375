#pragma once

#include "utilities/UiPrompts.h"

#include <QString>
#include <optional>

class IPasswordMD5;

// The steps around the password prompts of encrypted projects that need no window: the title
// and UUID check (one log line, nothing shown), the keychain shortcut, and the keychain write
// after OK, over the project's keychain item (ProjectKeychain). A locked or unreachable Secret
// Service only disables the shortcut.
class ProjectPasswordPrompt
{
public:
    // The stored password when it may be used without asking: the keychain box is on, the item
    // holds a password and the digest says it is the project's.
    static std::optional<QString> shortcut(
        const QString& title, const QString& UUID, bool passwordInKeychain, const IPasswordMD5* digest);

    // A project's password through UiPrompts; nothing is shown without a title or UUID or when
    // the keychain already holds the right password (type 1).
    static UiPrompts::ProjectPasswordAnswer askProjectPassword(
        const UiPrompts::ProjectPasswordRequest& request);
    // The password of an existing encrypted disk image: the keychain shortcut, else the prompt,
    // asked again with mismatchText while the answer does not match the image's digest (when it
    // has one), then the keychain write. Cancel, an empty answer, or a missing title or UUID
    // answer not ok.
    static UiPrompts::ImagePasswordAnswer askImagePassword(
        UiPrompts::ImagePasswordRequest request, const IPasswordMD5* digest, const QString& mismatchText);
    // The sheet of a new encrypted disk image, with the keychain write after OK.
    static UiPrompts::ImageCreationAnswer askNewImage(const UiPrompts::ImageCreationRequest& request);
};
