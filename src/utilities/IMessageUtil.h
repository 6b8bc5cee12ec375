#pragma once

#include <QString>

// Local user notifications, shown by the desktop's notification service
// (org.freedesktop.Notifications on the session bus). One object per process; tests install
// their own with setShared().
class IMessageUtil
{
public:
    virtual ~IMessageUtil() = default;

    static IMessageUtil& shared();
    // nullptr restores the D-Bus notifier; the caller keeps ownership
    static void setShared(IMessageUtil* util);

    // Shows a notification with a title and a text. Never waits for the service and may be
    // called from any thread; without a session bus or service nothing is shown.
    virtual void showLocalNotificationTitle(const QString& title, const QString& text);
};
