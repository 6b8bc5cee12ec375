#include "ScriptedUiPrompts.h"

#include <QtTest>

ScriptedUiPrompts::ScriptedUiPrompts()
{
    UiPrompts::setShared(this);
}

ScriptedUiPrompts::~ScriptedUiPrompts()
{
    UiPrompts::setShared(nullptr);
}

void ScriptedUiPrompts::expectCredentials(const CredentialsAnswer& answer)
{
    Step s;
    s.credentials = answer;
    m_script.append(s);
}

void ScriptedUiPrompts::expectCredentials(
    const QString& userName, const QString& password, bool saveToKeychain)
{
    CredentialsAnswer a;
    a.ok = true;
    a.userName = userName;
    a.password = password;
    a.saveToKeychain = saveToKeychain;
    expectCredentials(a);
}

void ScriptedUiPrompts::expectCancelledCredentials()
{
    expectCredentials(CredentialsAnswer());
}

void ScriptedUiPrompts::expectAlert(const QString& titleContains, int button)
{
    Step s;
    s.isAlert = true;
    s.titleContains = titleContains;
    s.button = button;
    m_script.append(s);
}

void ScriptedUiPrompts::fail(const QString& what)
{
    unexpected.append(what);
    QTest::qFail(qPrintable(QStringLiteral("unexpected prompt: ") + what), __FILE__, __LINE__);
}

UiPrompts::CredentialsAnswer ScriptedUiPrompts::askAdminCredentials(const CredentialsRequest& request)
{
    credentialRequests.append(request);
    if (m_script.isEmpty() || m_script.first().isAlert) {
        fail(QStringLiteral("credentials dialog \"%1\"").arg(request.prompt));
        return {};
    }
    return m_script.takeFirst().credentials;
}

int ScriptedUiPrompts::showAlert(const Alert& alert)
{
    alerts.append(alert);
    if (m_script.isEmpty() || !m_script.first().isAlert
        || !alert.title.contains(m_script.first().titleContains)) {
        fail(QStringLiteral("alert \"%1\"").arg(alert.title));
        return -1;
    }
    return m_script.takeFirst().button;
}
