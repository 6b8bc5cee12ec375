#pragma once

#include "platform/Subprocess.h"

#include <QString>
#include <QTemporaryDir>
#include <memory>

// An ssh server on 127.0.0.1 for tests: a host key and a client key made per run, a port from
// bind(0), /run/sshd made just before the start, key login only, sftp inside the server. Runs
// as root (only root can start sshd this way); stopped by its recorded pid when the object goes.
class SshServer
{
public:
    SshServer();
    ~SshServer();
    bool start(); // false and errorString() when sshd did not come up within its deadline
    int port() const { return m_port; }
    QString clientKey() const; // the private key that logs in (as the current user)
    // sshfs/ssh options that trust this server and use the client key.
    QStringList clientOptions() const;
    QString errorString() const { return m_error; }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<Subprocess> m_sshd;
    int m_port = 0;
    QString m_error;
};
