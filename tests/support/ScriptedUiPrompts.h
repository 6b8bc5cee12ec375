#pragma once

#include "utilities/UiPrompts.h"

#include <QList>

// The prompts a test expects, in order, with their answers. A prompt that was not expected (or
// that does not match the next expectation) fails the running test and answers Cancel.
// Installs itself as UiPrompts::shared() while it lives.
class ScriptedUiPrompts : public UiPrompts
{
public:
    ScriptedUiPrompts();
    ~ScriptedUiPrompts() override;

    void expectCredentials(const CredentialsAnswer& answer);
    void expectCredentials(const QString& userName, const QString& password, bool saveToKeychain = false);
    void expectCancelledCredentials();
    // titleContains: a part of the alert's title that must be there
    void expectAlert(const QString& titleContains, int button);

    int pending() const { return int(m_script.size()); }
    QList<CredentialsRequest> credentialRequests;
    QList<Alert> alerts;
    QStringList unexpected;

    CredentialsAnswer askAdminCredentials(const CredentialsRequest& request) override;
    int showAlert(const Alert& alert) override;

private:
    struct Step
    {
        bool isAlert = false;
        CredentialsAnswer credentials;
        QString titleContains;
        int button = -1;
    };
    void fail(const QString& what);
    QList<Step> m_script;
};
