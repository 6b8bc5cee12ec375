#include "SshServer.h"

#include "LoopImage.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(fd);
    return port;
}

bool accepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(quint16(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

} // namespace

SshServer::SshServer() = default;

SshServer::~SshServer()
{
    if (m_sshd)
        m_sshd->stop(2000);
}

QString SshServer::clientKey() const
{
    return m_dir.filePath(QStringLiteral("client_key"));
}

QStringList SshServer::clientOptions() const
{
    return { QStringLiteral("StrictHostKeyChecking=no"), QStringLiteral("UserKnownHostsFile=/dev/null"),
        QStringLiteral("IdentityFile=") + clientKey(), QStringLiteral("IdentitiesOnly=yes"),
        QStringLiteral("LogLevel=ERROR") };
}

bool SshServer::start()
{
    if (!m_dir.isValid())
        return (m_error = QStringLiteral("no temporary folder")), false;
    QString out;
    for (const char* key : { "host_key", "client_key" }) {
        if (!LoopImage::runTool(QStringLiteral("ssh-keygen"),
                { "-q", "-t", "ed25519", "-N", "", "-f", m_dir.filePath(QLatin1String(key)) }, &out))
            return (m_error = out), false;
    }
    QFile::copy(clientKey() + QStringLiteral(".pub"), m_dir.filePath(QStringLiteral("authorized_keys")));
    QDir().mkpath(QStringLiteral("/run/sshd"));
    m_port = freePort();
    Subprocess::Options o;
    o.program = QStringLiteral("/usr/sbin/sshd");
    o.arguments = { "-D", "-e", "-f", "/dev/null", "-o", "UsePAM=no", "-o", "StrictModes=no", "-o",
        "ListenAddress=127.0.0.1", "-o", QStringLiteral("Port=%1").arg(m_port), "-o",
        "HostKey=" + m_dir.filePath(QStringLiteral("host_key")), "-o",
        "PidFile=" + m_dir.filePath(QStringLiteral("sshd.pid")), "-o",
        "AuthorizedKeysFile=" + m_dir.filePath(QStringLiteral("authorized_keys")), "-o",
        "PasswordAuthentication=no", "-o", "PermitRootLogin=prohibit-password", "-o",
        "Subsystem=sftp internal-sftp" };
    o.mergeStderr = true;
    m_sshd = std::make_unique<Subprocess>();
    m_sshd->setStdoutHandler([](const char*, size_t) {});
    if (!m_sshd->start(o, &m_error))
        return false;
    QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        if (accepts(m_port))
            return true;
        if (!m_sshd->isRunning())
            return (m_error = QStringLiteral("sshd ended early")), false;
        QThread::msleep(20);
    }
    m_error = QStringLiteral("sshd did not listen within 10 s");
    return false;
}
