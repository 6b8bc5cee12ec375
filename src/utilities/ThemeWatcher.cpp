#include "utilities/ThemeWatcher.h"

#include "utilities/IColorUtil.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusVariant>
#include <QEvent>

ThemeWatcher::ThemeWatcher(QObject* parent)
    : QObject(parent)
{
    if (QCoreApplication* app = QCoreApplication::instance())
        app->installEventFilter(this);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        bus.connect(QString(), QStringLiteral("/org/freedesktop/portal/desktop"),
            QStringLiteral("org.freedesktop.portal.Settings"), QStringLiteral("SettingChanged"), this,
            SLOT(onSettingChanged(QString, QString, QDBusVariant)));
    }
}

ThemeWatcher::~ThemeWatcher()
{
    if (QCoreApplication* app = QCoreApplication::instance())
        app->removeEventFilter(this);
}

bool ThemeWatcher::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == QCoreApplication::instance() && event->type() == QEvent::ApplicationPaletteChange)
        update();
    return false;
}

void ThemeWatcher::onSettingChanged(const QString& nameSpace, const QString& key, const QDBusVariant&)
{
    if (nameSpace == QLatin1String("org.freedesktop.appearance") && key == QLatin1String("color-scheme"))
        update();
}

void ThemeWatcher::update()
{
    IColorUtil::themeChanged();
    Q_EMIT changed();
}
