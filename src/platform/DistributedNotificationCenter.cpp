#include "DistributedNotificationCenter.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QPointer>
#include <QThread>
#include <memory>

namespace {

DistributedNotificationCenter* g_override = nullptr;

DistributedNotificationCenter& sessionCenter()
{
    // Made once and kept for the program's life; the connection is Qt's own session connection.
    static DistributedNotificationCenter* center = [] {
        auto* c = new DistributedNotificationCenter(QDBusConnection::sessionBus());
        if (QCoreApplication* app = QCoreApplication::instance())
            c->moveToThread(app->thread());
        return c;
    }();
    return *center;
}

} // namespace

DistributedNotificationCenter& DistributedNotificationCenter::shared()
{
    return g_override ? *g_override : sessionCenter();
}

void DistributedNotificationCenter::setShared(DistributedNotificationCenter* center)
{
    g_override = center;
}

DistributedNotificationCenter::DistributedNotificationCenter(
    const QDBusConnection& connection, QObject* parent)
    : QObject(parent)
    , m_connection(connection)
{
    if (m_connection.isConnected()) {
        // An empty service matches the signal from every sender on the bus, this process included.
        m_subscribed = m_connection.connect(QString(), QString::fromLatin1(objectPath),
            QString::fromLatin1(interfaceName), QString::fromLatin1(signalName), this,
            SLOT(onPost(QString, QString)));
    }
    if (!m_subscribed)
        qWarning("DistributedNotificationCenter: no session bus, notifications are not heard");
}

DistributedNotificationCenter::~DistributedNotificationCenter()
{
    if (m_subscribed) {
        m_connection.disconnect(QString(), QString::fromLatin1(objectPath),
            QString::fromLatin1(interfaceName), QString::fromLatin1(signalName), this,
            SLOT(onPost(QString, QString)));
    }
    if (g_override == this)
        g_override = nullptr;
}

bool DistributedNotificationCenter::isConnected() const
{
    return m_connection.isConnected();
}

bool DistributedNotificationCenter::post(const QString& name, const QString& object)
{
    if (!m_connection.isConnected())
        return false;
    QDBusMessage signal = QDBusMessage::createSignal(
        QString::fromLatin1(objectPath), QString::fromLatin1(interfaceName), QString::fromLatin1(signalName));
    signal << name << object;
    return m_connection.send(signal);
}

void DistributedNotificationCenter::postToSelf(const QString& name, const QString& object)
{
    // Queued like a bus delivery, so that observers never run inside the poster's own call.
    QMetaObject::invokeMethod(
        this, [this, name, object] { Q_EMIT received(name, object); }, Qt::QueuedConnection);
}

QMetaObject::Connection DistributedNotificationCenter::observe(
    const QString& name, QObject* context, std::function<void(const QString& name, const QString& object)> fn)
{
    if (!fn)
        return {};
    return connect(this, &DistributedNotificationCenter::received, context ? context : this,
        [name, fn = std::move(fn)](const QString& postedName, const QString& object) {
            if (name.isEmpty() || postedName == name)
                fn(postedName, object);
        });
}

void DistributedNotificationCenter::onPost(const QString& name, const QString& object)
{
    Q_EMIT received(name, object);
}
