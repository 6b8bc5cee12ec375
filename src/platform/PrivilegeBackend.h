#pragma once

#include "Subprocess.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <mutex>
#include <optional>

// How the system reaches administrator rights: directly when it already runs as root; otherwise
// `sudo -S` with the invoking user's own password (kept in memory only, written on the runner's
// standard input); pkexec when sudo is missing or refuses the user (polkit asks by itself);
// otherwise a clear "no way to get administrator rights" error.
//
// Every root command runs as `/bin/sh -c SCRIPT '' ARGS...`: the script prints the shell's process
// id on the first line, then runs ARGS as "$@" (never re-split), with a TERM trap that ends the
// root shell's whole process group, so a stop from the user side reaches every root stage.
class PrivilegeBackend
{
public:
    enum class Method
    {
        Direct,
        Sudo,
        Pkexec,
        None
    };
    enum class Validation
    {
        Valid,
        Invalid,
        NotAllowed,
        Unavailable
    };

    struct RootCommand
    {
        QStringList arguments; // the program first; passed as "$@"
        bool mergeStderr = true; // the tool's stderr joins its stdout
        QByteArray payload; // standard input for the tool (after sudo's password line)
        bool toolLocale = true;
    };

    virtual ~PrivilegeBackend();

    static PrivilegeBackend& shared();
    // nullptr restores the real backend; the caller keeps ownership
    static void setShared(PrivilegeBackend* backend);

    virtual Method method() const;
    // The administrator name: the invoking user (login name and full name from the password database).
    virtual QString userName() const;
    virtual QString userFullName() const;
    virtual bool isRoot() const;

    // Checks a password for the invoking user. Sudo: first `sudo -n -k true` (exit 0: no password
    // needed, none is written), else `sudo -S -k -v -p ''` with the password on stdin.
    virtual Validation validate(const QByteArray& password, QString* message = nullptr);

    // The validated password used by the next root starts; kept in memory only.
    void setCredential(const QByteArray& password);
    void clearCredential();
    bool hasCredential() const;
    // True when this password is the credential already validated (no new sudo call needed).
    bool isCredential(const QByteArray& password) const;

    // The child that runs cmd as root: program, arguments, standard input. False with a reason
    // when no way to root exists.
    virtual bool buildInvocation(const RootCommand& cmd, Subprocess::Options* options, QString* error);
    // Signals a root process group (the fallback after a stop from the user side did not end it).
    virtual bool killRootGroup(pid_t pgid, int signal, QString* error = nullptr);

    // The script the root shell runs (joined or separate error stream).
    static QString rootScript(bool mergeStderr);

    // Tests point these at other programs; empty means the standard path.
    void setSudoProgram(const QString& path) { m_sudo = path; }
    void setPkexecProgram(const QString& path) { m_pkexec = path; }

protected:
    QString sudoProgram() const;
    QString pkexecProgram() const;
    std::optional<bool> passwordNeeded() const;

private:
    mutable std::mutex m_mutex;
    QByteArray m_password;
    std::optional<bool> m_passwordNeeded;
    bool m_sudoRefused = false;
    QString m_sudo;
    QString m_pkexec;
};
