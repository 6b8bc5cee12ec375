#include "IAuthorizer.h"

#include "AGKeychain.h"
#include "ICommon.h"
#include "IShellServices.h"
#include "LogOptions.h"
#include "platform/AppPaths.h"
#include "platform/Clock.h"
#include "platform/MainThread.h"
#include "platform/PrivilegeBackend.h"

#include <QCoreApplication>
#include <memory>

namespace {

std::unique_ptr<IAuthorizer>& sharedSlot()
{
    static std::unique_ptr<IAuthorizer> slot;
    return slot;
}

QString tr(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

} // namespace

IAuthorizer::IAuthorizer() = default;
IAuthorizer::~IAuthorizer()
{
    m_password.fill(QLatin1Char('\0'));
}

IAuthorizer& IAuthorizer::shared()
{
    std::unique_ptr<IAuthorizer>& slot = sharedSlot();
    if (!slot)
        slot = std::make_unique<IAuthorizer>();
    return *slot;
}

void IAuthorizer::resetShared()
{
    sharedSlot().reset();
}

QString IAuthorizer::appName()
{
    const QString name = AppPaths::infoPlistValue(QStringLiteral("CFBundleName")).toString();
    return name.isEmpty() ? QStringLiteral("Kelvane Pro 3") : name;
}

PrivilegeBackend& IAuthorizer::backend() const
{
    return m_backend ? *m_backend : PrivilegeBackend::shared();
}

void IAuthorizer::setPreferenceAccess(std::function<bool()> get, std::function<void(bool)> set)
{
    m_prefGet = std::move(get);
    m_prefSet = std::move(set);
}

bool IAuthorizer::keychainPreference() const
{
    if (m_prefGet)
        return m_prefGet();
    bool on = false;
    return ICommon::loadMainPrefValueForKeyToBool(QString::fromLatin1(KeychainPreferenceKey), &on) && on;
}

void IAuthorizer::setKeychainPreference(bool on)
{
    if (m_prefSet)
        m_prefSet(on);
    else
        ICommon::saveMainPrefBoolValue(on, QString::fromLatin1(KeychainPreferenceKey));
}

void IAuthorizer::logLine(const QString& text)
{
    IShellServices::shared().processMessage(text, LogWord::RunLogWithTime, nullptr);
}

void IAuthorizer::setSaveToKeychainEnabled(bool enabled, bool value)
{
    m_saveToKeychainEnabled = enabled;
    m_saveToKeychainValue = value;
}

bool IAuthorizer::isSaveToKeychainEnabledWithValue(bool* value) const
{
    if (value)
        *value = m_saveToKeychainValue;
    return m_saveToKeychainEnabled;
}

bool IAuthorizer::rootAutorize()
{
    return backend().isRoot();
}

bool IAuthorizer::isAdminDataEmpty() const
{
    return m_login.isEmpty() || m_password.isEmpty();
}

void IAuthorizer::setLogin(const QString& login, const QString& password)
{
    m_login = login;
    m_password = password;
}

bool IAuthorizer::isValidAuthorizationWithLogin(const QString& login, const QString& password)
{
    // The administrator is the invoking user: their login name or their full name.
    PrivilegeBackend& b = backend();
    const QString fullName = b.userFullName();
    if (login != b.userName() && (fullName.isEmpty() || login != fullName)) {
        m_lastFailure = tr("The administrator name must be your own user name.");
        return false;
    }
    // the pair validated for an earlier start needs no new check: a start that fails anyway
    // (the password changed meanwhile) reports "not authorized"
    if (b.isCredential(password.toUtf8()))
        return true;
    QString message;
    const PrivilegeBackend::Validation v = b.validate(password.toUtf8(), &message);
    if (v != PrivilegeBackend::Validation::Valid) {
        m_lastFailure = message;
        return false;
    }
    b.setCredential(password.toUtf8());
    return true;
}

bool IAuthorizer::createAuthorizationWithAdminData()
{
    if (isAdminDataEmpty())
        return false;
    return isValidAuthorizationWithLogin(m_login, m_password);
}

bool IAuthorizer::keychainAuthorize()
{
    const QString nameLabel = QString::fromLatin1(NameItemLabel);
    const QString pwLabel = QString::fromLatin1(PasswordItemLabel);
    const QString kind = QString::fromLatin1(ItemKind);
    QString name, password;
    bool unavailable = false;
    if (AGKeychain::checkForExistanceOfKeychainItem(nameLabel, kind, QString::fromLatin1(NameAccount)) > 0)
        name = AGKeychain::getPasswordFromKeychainItem(nameLabel, kind, QString::fromLatin1(NameAccount));
    unavailable |= AGKeychain::lastStatus() == SecretKeychain::Status::Unavailable;
    if (!unavailable
        && AGKeychain::checkForExistanceOfKeychainItem(pwLabel, kind, QString::fromLatin1(PasswordAccount))
            > 0)
        password
            = AGKeychain::getPasswordFromKeychainItem(pwLabel, kind, QString::fromLatin1(PasswordAccount));
    unavailable |= AGKeychain::lastStatus() == SecretKeychain::Status::Unavailable;
    if (unavailable) {
        // The keychain could not be asked (no Secret Service, or locked): the stored pair may
        // well be right, so the preference stays on; this run fails with a log line.
        m_lastFailure = tr("The keychain cannot be read: %1").arg(AGKeychain::lastError());
        logLine(m_lastFailure);
        return false;
    }
    if (!name.isEmpty() && !password.isEmpty() && isValidAuthorizationWithLogin(name, password))
        return true;
    showWrongKeychainAuthorizationMsg();
    return false;
}

void IAuthorizer::showWrongKeychainAuthorizationMsg()
{
    setKeychainPreference(false);
    UiPrompts::Alert alert;
    alert.style = UiPrompts::AlertStyle::Critical;
    alert.title = tr("The password from Keychain does not match the admin password or was not found.");
    alert.text = tr(
        "In the Preferences dialog, please re-enter it using the \"Save admin access information\" option.");
    alert.buttons = { tr("Close") };
    if (IShellServices::shared().isStartedByAgent()) {
        // nobody is there to close an alert: an unattended run must not block on it
        logLine(alert.title + QLatin1Char(' ') + alert.text);
        return;
    }
    ModalDepthGuard modal;
    UiPrompts::shared().showAlert(alert);
}

bool IAuthorizer::showDialogWithPrompt(const QString& prompt, UiPrompts::CredentialsAnswer* answer)
{
    if (IShellServices::shared().isStartedByAgent()) {
        logLine(tr("Administrator rights are needed, but no valid administrator password is stored."));
        return false;
    }
    UiPrompts::CredentialsRequest request;
    request.prompt = prompt;
    request.userName = backend().userName();
    request.showSaveToKeychain = m_saveToKeychainEnabled;
    request.saveToKeychain = m_saveToKeychainValue;
    UiPrompts::CredentialsAnswer a;
    {
        ModalDepthGuard modal;
        a = UiPrompts::shared().askAdminCredentials(request);
    }
    // the check box shows only for the call that enabled it
    m_saveToKeychainEnabled = false;
    if (answer)
        *answer = a;
    return a.ok;
}

bool IAuthorizer::askUntilValid(
    const QString& prompt, bool showSaveBox, UiPrompts::CredentialsAnswer* accepted)
{
    for (;;) {
        setSaveToKeychainEnabled(showSaveBox, false);
        UiPrompts::CredentialsAnswer a;
        if (!showDialogWithPrompt(prompt, &a))
            return false;
        if (a.userName.isEmpty())
            return false;
        const bool valid = isValidAuthorizationWithLogin(a.userName, a.password);
        if (valid) {
            *accepted = a;
            return true;
        }
        UiPrompts::Alert alert;
        alert.style = UiPrompts::AlertStyle::Critical;
        alert.title = tr("The password you entered does not match the admin password.");
        alert.buttons = { tr("Try Again"), tr("Cancel") };
        int choice;
        {
            ModalDepthGuard modal;
            choice = UiPrompts::shared().showAlert(alert);
        }
        if (choice != 0)
            return false;
    }
}

bool IAuthorizer::getCloneAuthorizationDataByUser()
{
    const QString target = m_targetString.isEmpty() ? tr("current") : m_targetString;
    const QString prompt
        = tr("Enter your admin password to allow\n%1 to use it for %2 process").arg(appName(), target);
    UiPrompts::CredentialsAnswer a;
    if (!askUntilValid(prompt, true, &a))
        return false;
    if (a.saveToKeychain && writeToKeychainName(a.userName, a.password))
        setKeychainPreference(true);
    setLogin(a.userName, a.password);
    m_authorizationCreated = true;
    return true;
}

bool IAuthorizer::authorizeWithUser(bool allowDialog)
{
    m_lastFailure.clear();
    if (rootAutorize())
        return true;
    if (!isAdminDataEmpty() && createAuthorizationWithAdminData())
        return true;
    if (keychainPreference()) {
        if (keychainAuthorize())
            return true;
        if (!allowDialog || keychainPreference())
            return false; // no dialog allowed, or the keychain could not be asked
    }
    if (!allowDialog)
        return false;
    const qint64 now = Clock::current().monotonicMs();
    if (m_lastCanceledMs >= 0 && now - m_lastCanceledMs <= 1000)
        return false; // runs started together ask only once
    if (getCloneAuthorizationDataByUser() && createAuthorizationWithAdminData())
        return true;
    m_lastCanceledMs = Clock::current().monotonicMs();
    if (m_lastFailure.isEmpty())
        m_lastFailure = tr("Administrator rights were not given.");
    return false;
}

bool IAuthorizer::userAuthorize()
{
    const QString prompt = tr("Type your admin password to allow %1 to save it in Keychain and use it when "
                              "required for backup/sync processes")
                               .arg(appName());
    UiPrompts::CredentialsAnswer a;
    m_authorizationCreated = askUntilValid(prompt, false, &a) && writeToKeychainName(a.userName, a.password);
    if (m_authorizationCreated)
        setLogin(a.userName, a.password);
    return m_authorizationCreated;
}

bool IAuthorizer::writeToKeychainName(const QString& name, const QString& password)
{
    const QString kind = QString::fromLatin1(ItemKind);
    auto write = [&](const char* label, const char* account, const QString& content) {
        const QString l = QString::fromLatin1(label), acc = QString::fromLatin1(account);
        if (AGKeychain::checkForExistanceOfKeychainItem(l, kind, acc) > 0)
            return AGKeychain::modifyKeychainItem(l, kind, acc, content);
        if (AGKeychain::lastStatus() == SecretKeychain::Status::Unavailable)
            return false;
        return AGKeychain::addKeychainItem(l, kind, acc, content);
    };
    const bool nameOk = write(NameItemLabel, NameAccount, name);
    const bool passwordOk = write(PasswordItemLabel, PasswordAccount, password);
    return nameOk && passwordOk;
}

void IAuthorizer::clearKeychain()
{
    const QString kind = QString::fromLatin1(ItemKind);
    AGKeychain::deleteKeychainItem(
        QString::fromLatin1(NameItemLabel), kind, QString::fromLatin1(NameAccount));
    AGKeychain::deleteKeychainItem(
        QString::fromLatin1(PasswordItemLabel), kind, QString::fromLatin1(PasswordAccount));
}
