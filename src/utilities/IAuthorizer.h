#pragma once

#include "UiPrompts.h"

#include <QString>
#include <functional>

class PrivilegeBackend;

// Obtains administrator rights for the root runners, without asking whenever it can: the program
// already runs as root, a name and password entered earlier while the application runs (the
// stored login, kept in memory only), or the pair kept in the user's keychain; otherwise its own
// dialog asks for the administrator's name and password, with an option to keep them in the
// keychain. The "authorization" is the password validated by the privilege backend (sudo); every
// sudo call carries -k, so nothing needs to be freed afterwards. Main thread only.
class IAuthorizer
{
public:
    // The keychain items of the administrator pair.
    static constexpr const char* NameItemLabel = "QV: Master Name";
    static constexpr const char* PasswordItemLabel = "QV: Master Password";
    static constexpr const char* ItemKind = "application password";
    static constexpr const char* NameAccount = "QVAccount1";
    static constexpr const char* PasswordAccount = "QVAccount2";
    static constexpr const char* KeychainPreferenceKey = "AdminInfoSaveToKeychain";

    IAuthorizer();
    virtual ~IAuthorizer();

    static IAuthorizer& shared();
    // A fresh authorizer for the next shared() (tests); forgets the stored login.
    static void resetShared();

    bool authorize() { return authorizeWithUser(true); }
    bool authorizeWithUser(bool allowDialog);

    void setTargetString(const QString& target) { m_targetString = target; }
    QString targetString() const { return m_targetString; }
    void setSaveToKeychainEnabled(bool enabled, bool value);
    bool isSaveToKeychainEnabledWithValue(bool* value) const;

    // The keychain set-up of the preferences: asks, validates, stores the pair in the keychain.
    bool userAuthorize();
    // Deletes both keychain items.
    void clearKeychain();

    bool keychainAuthorize();
    bool rootAutorize();
    bool createAuthorizationWithAdminData();
    bool isAdminDataEmpty() const;
    bool isValidAuthorizationWithLogin(const QString& login, const QString& password);
    void setLogin(const QString& login, const QString& password);
    bool writeToKeychainName(const QString& name, const QString& password);
    void showWrongKeychainAuthorizationMsg();
    // The dialog; NO without showing anything when the agent started the application.
    bool showDialogWithPrompt(const QString& prompt, UiPrompts::CredentialsAnswer* answer);
    // The run dialog, with "Try Again" after a wrong password.
    bool getCloneAuthorizationDataByUser();

    bool isAuthorizationCreated() const { return m_authorizationCreated; }
    // Why the last authorizeWithUser answered NO (for the run's log), empty otherwise.
    QString lastFailure() const { return m_lastFailure; }

    // Where the keychain preference lives: the main preferences ("AdminInfoSaveToKeychain") by default.
    void setPreferenceAccess(std::function<bool()> get, std::function<void(bool)> set);
    // The privilege backend to validate with (the shared one by default).
    void setBackend(PrivilegeBackend* backend) { m_backend = backend; }

    static QString appName();

private:
    PrivilegeBackend& backend() const;
    bool keychainPreference() const;
    void setKeychainPreference(bool on);
    void logLine(const QString& text);
    bool askUntilValid(const QString& prompt, bool showSaveBox, UiPrompts::CredentialsAnswer* accepted);

    QString m_login;
    QString m_password;
    QString m_targetString;
    bool m_authorizationCreated = false;
    bool m_saveToKeychainEnabled = false;
    bool m_saveToKeychainValue = false;
    qint64 m_lastCanceledMs = -1;
    QString m_lastFailure;
    std::function<bool()> m_prefGet;
    std::function<void(bool)> m_prefSet;
    PrivilegeBackend* m_backend = nullptr;
};
