#include "PrivateBus.h"

#include "TempTree.h"

#include <QDeadlineTimer>
#include <QFile>
#include <csignal>
#include <sys/prctl.h>
#include <sys/types.h>

namespace {

// Anyone may own any name and send anything: the daemon serves one test only.
QByteArray systemConfig(const QString& socketDir)
{
    return QByteArrayLiteral(
               "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig>\n  <type>system</type>\n  <listen>unix:dir=")
        + socketDir.toHtmlEscaped().toUtf8()
        + QByteArrayLiteral("</listen>\n  <auth>EXTERNAL</auth>\n"
                            "  <policy context=\"default\">\n"
                            "    <allow user=\"*\"/>\n    <allow own=\"*\"/>\n"
                            "    <allow send_type=\"method_call\"/>\n    <allow send_destination=\"*\"/>\n"
                            "    <allow receive_sender=\"*\"/>\n  </policy>\n</busconfig>\n");
}

} // namespace

PrivateBus::PrivateBus(Kind kind, bool exportAddress)
    : m_kind(kind)
{
    QStringList args { QStringLiteral("--nofork"), QStringLiteral("--print-address") };
    if (kind == Kind::Session) {
        args.prepend(QStringLiteral("--session"));
    } else {
        // The socket lives in a short private folder: unix socket paths hold 107 bytes at most.
        m_configDir = std::make_unique<TempTree>(QStringLiteral("sysbus"));
        const QString config = m_configDir->filePath(std::string("system.conf"));
        QString socketDir = QStringLiteral("/tmp");
        if (!m_configDir->writeFile(std::string("system.conf"), systemConfig(socketDir))) {
            m_error = QStringLiteral("cannot write the bus configuration");
            return;
        }
        args.prepend(QStringLiteral("--config-file=") + config);
    }
    m_daemon.setProcessChannelMode(QProcess::SeparateChannels);
    // The daemon ends with the test even when the test is killed (a timeout): an orphaned daemon
    // would keep every descriptor it inherited, the root tests' lock among them.
    m_daemon.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_daemon.start(QStringLiteral("dbus-daemon"), args);
    if (!m_daemon.waitForStarted(5000)) {
        m_error = QStringLiteral("dbus-daemon did not start: ") + m_daemon.errorString();
        return;
    }
    m_pid = m_daemon.processId();
    const QDeadlineTimer deadline(10000);
    while (!m_daemon.canReadLine() && !deadline.hasExpired()) {
        if (m_daemon.state() != QProcess::Running)
            break;
        m_daemon.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    }
    if (!m_daemon.canReadLine()) {
        m_error = QStringLiteral("dbus-daemon printed no address: ")
            + QString::fromLocal8Bit(m_daemon.readAllStandardError());
        return;
    }
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    if (exportAddress) {
        const char* name = environmentName();
        m_hadPrevious = qEnvironmentVariableIsSet(name);
        m_previous = qgetenv(name);
        qputenv(name, m_address.toUtf8());
        m_exported = true;
    }
}

PrivateBus::~PrivateBus()
{
    for (const QString& name : std::as_const(m_connections))
        QDBusConnection::disconnectFromBus(name);
    if (m_exported) {
        if (m_hadPrevious)
            qputenv(environmentName(), m_previous);
        else
            qunsetenv(environmentName());
    }
    if (m_pid > 0 && m_daemon.state() != QProcess::NotRunning) {
        ::kill(pid_t(m_pid), SIGTERM);
        if (!m_daemon.waitForFinished(5000)) {
            ::kill(pid_t(m_pid), SIGKILL);
            m_daemon.waitForFinished(5000);
        }
    }
}

const char* PrivateBus::environmentName() const
{
    return m_kind == Kind::Session ? "DBUS_SESSION_BUS_ADDRESS" : "DBUS_SYSTEM_BUS_ADDRESS";
}

QDBusConnection PrivateBus::connect(const QString& connectionName)
{
    m_connections.append(connectionName);
    return QDBusConnection::connectToBus(m_address, connectionName);
}
