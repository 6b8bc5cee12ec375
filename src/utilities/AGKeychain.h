#pragma once

#include "platform/SecretKeychain.h"

#include <QString>

// Generic password items of the user's keychain (item name = label, kind = description,
// user name = account). Items are found by the project's schema and the account.
class AGKeychain
{
public:
    // The service attribute of every item this class writes.
    static constexpr const char* Service = "Kelvane Pro 3";

    static int checkForExistanceOfKeychainItem(
        const QString& itemName, const QString& itemKind, const QString& username);
    // The content of the first item with that account; "" when there is none (or it cannot be read).
    static QString getPasswordFromKeychainItem(
        const QString& itemName, const QString& itemKind, const QString& username);
    static bool addKeychainItem(
        const QString& itemName, const QString& itemKind, const QString& username, const QString& password);
    static bool modifyKeychainItem(const QString& itemName, const QString& itemKind, const QString& username,
        const QString& newPassword);
    // YES also when there is no such item.
    static bool deleteKeychainItem(const QString& itemName, const QString& itemKind, const QString& username);

    // The outcome of the last call on this thread: Unavailable when the Secret Service could not
    // be reached or is locked (as opposed to an item that is not there).
    static SecretKeychain::Status lastStatus();
    static QString lastError();
};
