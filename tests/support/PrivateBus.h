#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QProcess>
#include <QString>
#include <memory>

class TempTree;

// A D-Bus daemon of the test's own. Session: `dbus-daemon --session --nofork --print-address`;
// System: the same daemon with a permissive configuration, for mocks of system services
// (logind and the like). While the object lives, DBUS_SESSION_BUS_ADDRESS or
// DBUS_SYSTEM_BUS_ADDRESS of the test process points at it (programs the test starts inherit
// it); the destructor stops the daemon by its recorded pid and puts the variable back.
// Qt caches QDBusConnection::sessionBus()/systemBus() at first use, so make the bus before
// the first use of those, or use connect() for connections of the test's own.
class PrivateBus
{
public:
    enum class Kind
    {
        Session,
        System
    };
    explicit PrivateBus(Kind kind = Kind::Session, bool exportAddress = true);
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool isValid() const { return !m_address.isEmpty(); }
    QString address() const { return m_address; }
    qint64 pid() const { return m_pid; }
    QString errorString() const { return m_error; }
    const char* environmentName() const;

    // A connection of the test's own on this bus (named so several may coexist).
    QDBusConnection connect(const QString& connectionName);

private:
    Kind m_kind;
    bool m_exported = false;
    bool m_hadPrevious = false;
    QByteArray m_previous;
    QString m_address;
    QString m_error;
    qint64 m_pid = 0;
    QProcess m_daemon;
    std::unique_ptr<TempTree> m_configDir;
    QStringList m_connections;
};
