#include "PrivilegeBackend.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <csignal>
#include <pwd.h>
#include <unistd.h>

namespace {

PrivilegeBackend* g_override = nullptr;

QString tr(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

bool isExecutable(const QString& path)
{
    return !path.isEmpty() && ::access(QFile::encodeName(path).constData(), X_OK) == 0;
}

bool refusesUser(const QByteArray& err)
{
    return err.contains("may not run sudo") || err.contains("is not in the sudoers file")
        || err.contains("is not allowed to");
}

} // namespace

PrivilegeBackend::~PrivilegeBackend() = default;

PrivilegeBackend& PrivilegeBackend::shared()
{
    static PrivilegeBackend real;
    return g_override ? *g_override : real;
}

void PrivilegeBackend::setShared(PrivilegeBackend* backend)
{
    g_override = backend;
}

QString PrivilegeBackend::sudoProgram() const
{
    return m_sudo.isEmpty() ? QStringLiteral("/usr/bin/sudo") : m_sudo;
}

QString PrivilegeBackend::pkexecProgram() const
{
    return m_pkexec.isEmpty() ? QStringLiteral("/usr/bin/pkexec") : m_pkexec;
}

std::optional<bool> PrivilegeBackend::passwordNeeded() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_passwordNeeded;
}

bool PrivilegeBackend::isRoot() const
{
    return ::geteuid() == 0;
}

PrivilegeBackend::Method PrivilegeBackend::method() const
{
    if (isRoot())
        return Method::Direct;
    bool refused;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        refused = m_sudoRefused;
    }
    if (!refused && isExecutable(sudoProgram()))
        return Method::Sudo;
    if (isExecutable(pkexecProgram()))
        return Method::Pkexec;
    return Method::None;
}

QString PrivilegeBackend::userName() const
{
    if (const passwd* pw = ::getpwuid(::getuid()))
        return QString::fromLocal8Bit(pw->pw_name);
    return QString::fromLocal8Bit(qgetenv("USER"));
}

QString PrivilegeBackend::userFullName() const
{
    if (const passwd* pw = ::getpwuid(::getuid())) {
        // GECOS: the full name is the first comma-separated field
        const QString gecos = QString::fromLocal8Bit(pw->pw_gecos ? pw->pw_gecos : "");
        return gecos.section(QLatin1Char(','), 0, 0).trimmed();
    }
    return QString();
}

PrivilegeBackend::Validation PrivilegeBackend::validate(const QByteArray& password, QString* message)
{
    auto say = [&](const QString& text) {
        if (message)
            *message = text;
    };
    switch (method()) {
    case Method::Direct:
    case Method::Pkexec: // polkit asks by itself when the command starts
        return Validation::Valid;
    case Method::None:
        say(tr("There is no way to get administrator rights on this system (neither sudo nor pkexec is "
               "usable)."));
        return Validation::Unavailable;
    case Method::Sudo:
        break;
    }
    Subprocess::Options o;
    o.program = sudoProgram();
    o.arguments = { QStringLiteral("-n"), QStringLiteral("-k"), QStringLiteral("true") };
    o.newSession = true;
    Subprocess::Result r = Subprocess::run(o, 30000);
    if (!r.started) {
        say(r.error);
        return Validation::Unavailable;
    }
    if (r.succeeded()) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_passwordNeeded = false;
        return Validation::Valid;
    }
    if (refusesUser(r.err)) {
        say(QString::fromLocal8Bit(r.err).trimmed());
        std::lock_guard<std::mutex> lock(m_mutex);
        m_sudoRefused = true;
        return Validation::NotAllowed;
    }
    if (password.isEmpty() || password.contains('\n') || password.contains('\0')) {
        say(tr("The password you entered does not match the admin password."));
        return Validation::Invalid;
    }
    o.arguments = { QStringLiteral("-S"), QStringLiteral("-k"), QStringLiteral("-v"), QStringLiteral("-p"),
        QString() };
    o.standardInput = password + '\n';
    r = Subprocess::run(o, 60000);
    if (r.succeeded()) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_passwordNeeded = true;
        return Validation::Valid;
    }
    if (refusesUser(r.err)) {
        say(QString::fromLocal8Bit(r.err).trimmed());
        std::lock_guard<std::mutex> lock(m_mutex);
        m_sudoRefused = true;
        return Validation::NotAllowed;
    }
    say(r.started && r.err.trimmed().size() ? QString::fromLocal8Bit(r.err).trimmed() : r.error);
    return Validation::Invalid;
}

void PrivilegeBackend::setCredential(const QByteArray& password)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_password = password;
}

void PrivilegeBackend::clearCredential()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_password.fill('\0');
    m_password.clear();
}

bool PrivilegeBackend::hasCredential() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_password.isEmpty();
}

bool PrivilegeBackend::isCredential(const QByteArray& password) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_password.isEmpty() && m_password == password;
}

QString PrivilegeBackend::rootScript(bool mergeStderr)
{
    // The shell prints its own process id, then runs the command in the background with the
    // saved standard input (a background job of a non-interactive shell would read /dev/null).
    // A TERM (relayed by sudo from the user side, or sent to the group) ends the whole root
    // process group, so a tool that is itself a pipeline stops as a whole. After an interrupted
    // wait it waits again for the command's real status.
    QString script = QStringLiteral("echo $$\n"
                                    "trap 'trap - TERM; kill -TERM 0' TERM\n"
                                    "exec 3<&0 </dev/null\n");
    script
        += mergeStderr ? QStringLiteral("\"$@\" <&3 3<&- 2>&1 &\n") : QStringLiteral("\"$@\" <&3 3<&- &\n");
    script += QStringLiteral("c=$!\n"
                             "exec 3<&-\n"
                             "wait \"$c\"; s=$?\n"
                             "while kill -0 \"$c\" 2>/dev/null; do wait \"$c\"; s=$?; done\n"
                             "exit \"$s\"\n");
    return script;
}

bool PrivilegeBackend::buildInvocation(const RootCommand& cmd, Subprocess::Options* options, QString* error)
{
    if (cmd.arguments.isEmpty() || cmd.arguments.first().isEmpty()) {
        if (error)
            *error = tr("No program to run as root.");
        return false;
    }
    const QStringList shell = QStringList {
        QStringLiteral("/bin/sh"), QStringLiteral("-c"), rootScript(cmd.mergeStderr), QString()
    } + cmd.arguments;
    Subprocess::Options o;
    o.toolLocale = cmd.toolLocale;
    // no controlling terminal: sudo then runs the shell in its own process group, without a pty
    o.newSession = true;
    switch (method()) {
    case Method::Direct:
        o.program = shell.first();
        o.arguments = shell.mid(1);
        o.standardInput = cmd.payload;
        break;
    case Method::Sudo: {
        o.program = sudoProgram();
        o.arguments = QStringList {
            QStringLiteral("-S"), QStringLiteral("-k"), QStringLiteral("-p"), QString(), QStringLiteral("--")
        } + shell;
        std::optional<bool> needed = passwordNeeded();
        if (!needed) {
            // ask sudo whether this user needs a password at all (NOPASSWD rules)
            validate(QByteArray());
            needed = passwordNeeded();
        }
        QByteArray password;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            password = m_password;
        }
        if (needed.value_or(true)) {
            if (password.isEmpty()) {
                if (error)
                    *error = tr("No administrator password was given.");
                return false;
            }
            o.standardInput = password + '\n';
        }
        o.standardInput += cmd.payload;
        break;
    }
    case Method::Pkexec:
        // pkexec clears the environment: the tool locale is set again inside
        o.program = pkexecProgram();
        o.arguments
            = QStringList { QStringLiteral("/usr/bin/env"), QStringLiteral("LC_ALL=C.UTF-8") } + shell;
        o.standardInput = cmd.payload;
        break;
    case Method::None:
        if (error)
            *error = tr("There is no way to get administrator rights on this system (neither sudo nor pkexec "
                        "is usable).");
        return false;
    }
    *options = o;
    return true;
}

bool PrivilegeBackend::killRootGroup(pid_t pgid, int signal, QString* error)
{
    if (pgid <= 1) {
        if (error)
            *error = tr("No process group to stop.");
        return false;
    }
    if (isRoot())
        return ::kill(-pgid, signal) == 0 || errno == ESRCH;
    RootCommand cmd;
    cmd.arguments = { QStringLiteral("/bin/kill"), QStringLiteral("-%1").arg(signal), QStringLiteral("--"),
        QStringLiteral("-%1").arg(pgid) };
    Subprocess::Options o;
    if (!buildInvocation(cmd, &o, error))
        return false;
    const Subprocess::Result r = Subprocess::run(o, 30000);
    // the first line is the root shell's process id; kill's own status follows
    if (!r.succeeded() && error)
        *error = QString::fromLocal8Bit(r.err + r.out).trimmed();
    return r.succeeded();
}
