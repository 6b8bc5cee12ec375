#pragma once

#include "platform/PrivilegeBackend.h"

#include <QList>

// A privilege backend for unit tests: validates against a set password and runs the "root"
// shell as the current user, or refuses (reason 8) or fails to execute (reason 16) as scripted.
// Installs itself as PrivilegeBackend::shared() while it lives.
class FakePrivilegeBackend : public PrivilegeBackend
{
public:
    enum class StartMode
    {
        AsUser,
        Refuse,
        CannotExecute
    };

    FakePrivilegeBackend();
    ~FakePrivilegeBackend() override;

    bool root = false;
    QString user = QStringLiteral("tester");
    QString fullName = QStringLiteral("Test User");
    QByteArray rightPassword = "right-password";
    Validation wrongAnswer = Validation::Invalid; // what a wrong password gets
    StartMode startMode = StartMode::AsUser;
    QList<QByteArray> validated; // every password validate() was asked about

    Method method() const override { return Method::Direct; }
    bool isRoot() const override { return root; }
    QString userName() const override { return user; }
    QString userFullName() const override { return fullName; }
    Validation validate(const QByteArray& password, QString* message = nullptr) override;
    bool buildInvocation(const RootCommand& cmd, Subprocess::Options* options, QString* error) override;
    bool killRootGroup(pid_t pgid, int signal, QString* error = nullptr) override;
};
