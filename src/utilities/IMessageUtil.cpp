#include "utilities/IMessageUtil.h"

#include "utilities/CommonFunctions.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>
#include <atomic>

namespace {
std::atomic<IMessageUtil*> g_util { nullptr };
}

IMessageUtil& IMessageUtil::shared()
{
    static IMessageUtil dbus;
    IMessageUtil* util = g_util.load(std::memory_order_acquire);
    return util ? *util : dbus;
}

void IMessageUtil::setShared(IMessageUtil* util)
{
    g_util.store(util, std::memory_order_release);
}

void IMessageUtil::showLocalNotificationTitle(const QString& title, const QString& text)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"), QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("Notify"));
    // The default sound, and shown also while the application is in front (the service's
    // own choice on this desktop).
    QVariantMap hints;
    hints.insert(QStringLiteral("sound-name"), QStringLiteral("message-new-instant"));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("kelvane"));
    call << QVAppName() << quint32(0) << QString() << title << text << QStringList() << hints << qint32(-1);
    // Fire and forget: the caller may be a reader thread that must not wait for the desktop.
    call.setAutoStartService(true);
    bus.send(call);
}
