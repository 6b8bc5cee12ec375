#pragma once

#include <QString>

// The user's keychain: generic password items of the freedesktop Secret Service (libsecret), all
// under one schema with the attributes service, account and kind. Items are found by the schema
// and the account, never by the account alone, so another program's item with the same account
// is neither read nor changed. The keychain never unlocks anything by itself: a locked
// collection answers Unavailable instead of asking the user.
class SecretKeychain
{
public:
    static constexpr const char* SchemaName = "com.brisoltica.KelvanePro3.Password";
    enum class Status
    {
        Ok,
        NotFound,
        Unavailable
    };

    virtual ~SecretKeychain();
    static SecretKeychain& shared();
    // nullptr restores the Secret Service keychain; the caller keeps ownership
    static void setShared(SecretKeychain* keychain);

    // The number of items with this account.
    virtual Status count(const QString& account, int* count, QString* error = nullptr);
    // The secret of the first item with this account.
    virtual Status read(const QString& account, QString* secret, QString* error = nullptr);
    // Creates an item in the default collection.
    virtual Status add(const QString& service, const QString& account, const QString& kind,
        const QString& label, const QString& secret, QString* error = nullptr);
    // Replaces the secret of the first item with this account (NotFound when there is none).
    virtual Status modify(const QString& account, const QString& secret, QString* error = nullptr);
    // Deletes the last item with this account; NotFound when there is none.
    virtual Status remove(const QString& account, QString* error = nullptr);

    // Drops the connection to the Secret Service (tests start a new one on a new bus).
    static void disconnect();
};
