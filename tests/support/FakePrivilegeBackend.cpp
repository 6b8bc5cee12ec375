#include "FakePrivilegeBackend.h"

#include <csignal>

FakePrivilegeBackend::FakePrivilegeBackend()
{
    PrivilegeBackend::setShared(this);
}

FakePrivilegeBackend::~FakePrivilegeBackend()
{
    PrivilegeBackend::setShared(nullptr);
}

PrivilegeBackend::Validation FakePrivilegeBackend::validate(const QByteArray& password, QString* message)
{
    validated.append(password);
    if (password == rightPassword)
        return Validation::Valid;
    if (message)
        *message = QStringLiteral("Sorry, try again.");
    return wrongAnswer;
}

bool FakePrivilegeBackend::buildInvocation(
    const RootCommand& cmd, Subprocess::Options* options, QString* error)
{
    switch (startMode) {
    case StartMode::Refuse:
        if (error)
            *error = QStringLiteral("refused by the test");
        return false;
    case StartMode::CannotExecute:
        if (!PrivilegeBackend::buildInvocation(cmd, options, error))
            return false;
        options->program = QStringLiteral("/nonexistent/kv-test-shell");
        return true;
    case StartMode::AsUser:
        break;
    }
    return PrivilegeBackend::buildInvocation(cmd, options, error);
}

bool FakePrivilegeBackend::killRootGroup(pid_t pgid, int signal, QString*)
{
    return pgid > 1 && ::kill(-pgid, signal) == 0;
}
