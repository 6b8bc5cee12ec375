#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <functional>

// Notifications that reach every program of the user's session: the main application, the agent
// and the command-line tools talk through them. A post is one broadcast D-Bus signal
// Post(s name, s object) on the session bus; every observer hears it, the sender included, on the
// thread that owns the centre (the main thread). Posts meant for this program only (the ends of
// runs) go through postToSelf() and never leave the process.
class DistributedNotificationCenter : public QObject
{
    Q_OBJECT
public:
    static constexpr const char* objectPath = "/com/brisoltica/DistributedNotifications";
    static constexpr const char* interfaceName = "com.brisoltica.DistributedNotifications";
    static constexpr const char* signalName = "Post";

    // The centre on the session bus of this process, made on first use.
    static DistributedNotificationCenter& shared();
    // Tests: replaces the shared centre (not owned); nullptr goes back to the session bus centre.
    static void setShared(DistributedNotificationCenter* center);

    // A centre on the given connection (tests use their own bus connections).
    explicit DistributedNotificationCenter(const QDBusConnection& connection, QObject* parent = nullptr);
    ~DistributedNotificationCenter() override;

    // Broadcasts the notification; false when there is no bus or the signal cannot be sent.
    bool post(const QString& name, const QString& object);
    // Delivers the notification to this program's observers only, from the event loop.
    void postToSelf(const QString& name, const QString& object);

    // Calls fn for every notification with that name (any name when the name is empty) until the
    // context object is destroyed or the returned connection is disconnected.
    QMetaObject::Connection observe(const QString& name, QObject* context,
        std::function<void(const QString& name, const QString& object)> fn);

    bool isConnected() const;
    QDBusConnection connection() const { return m_connection; }

Q_SIGNALS:
    void received(const QString& name, const QString& object);

private Q_SLOTS:
    void onPost(const QString& name, const QString& object);

private:
    QDBusConnection m_connection;
    bool m_subscribed = false;
};
