#include "utilities/IColorUtil.h"

#include "utilities/IDiskUtil.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QMutex>
#include <QMutexLocker>
#include <QPalette>
#include <atomic>

namespace {

std::atomic<int> g_mode { 0 };
QMutex g_overrideMutex;
bool g_hasOverride = false;
std::optional<int> g_override;

QColor grey(double level)
{
    return QColor::fromRgbF(float(level), float(level), float(level), 1.0f);
}

QColor rgb(double r, double g, double b)
{
    return QColor::fromRgbF(float(r), float(g), float(b), 1.0f);
}

// org.freedesktop.portal.Settings Read("org.freedesktop.appearance", "color-scheme"):
// 1 prefers dark, 2 prefers light, 0 no preference; nullopt without a portal.
std::optional<int> portalColorScheme()
{
    {
        QMutexLocker lock(&g_overrideMutex);
        if (g_hasOverride)
            return g_override;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return std::nullopt;
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.portal.Desktop"),
        QStringLiteral("/org/freedesktop/portal/desktop"), QStringLiteral("org.freedesktop.portal.Settings"),
        QStringLiteral("Read"));
    call << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("color-scheme");
    const QDBusMessage reply = bus.call(call, QDBus::Block, 500);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    QVariant v = reply.arguments().first();
    // The answer is a variant, sometimes wrapped twice.
    for (int i = 0; i < 3 && v.canConvert<QDBusVariant>(); ++i)
        v = v.value<QDBusVariant>().variant();
    bool ok = false;
    const int scheme = v.toInt(&ok);
    return ok ? std::optional<int>(scheme) : std::nullopt;
}

} // namespace

bool IColorUtil::isDarkPalette(const QPalette& palette)
{
    return palette.color(QPalette::Window).lightness() < 128;
}

void IColorUtil::setPortalColorSchemeOverride(std::optional<int> scheme)
{
    QMutexLocker lock(&g_overrideMutex);
    g_hasOverride = true;
    g_override = scheme;
}

int IColorUtil::getColorModeFromDefaults()
{
    const std::optional<int> scheme = portalColorScheme();
    if (scheme && *scheme != 0)
        return *scheme == 1 ? ModeDark : ModeLight;
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return isDarkPalette(QGuiApplication::palette()) ? ModeDark : ModeLight;
    return ModeLight;
}

void IColorUtil::themeInit()
{
    g_mode = 0;
    g_mode = getColorModeFromDefaults();
}

void IColorUtil::themeChanged()
{
    themeInit();
}

int IColorUtil::currentColorMode()
{
    if (g_mode == 0)
        themeInit();
    return g_mode;
}

int IColorUtil::effectiveMode()
{
    if (IDiskUtil::systemVersion() < 101400)
        return ModeLight;
    return currentColorMode();
}

std::optional<QColor> IColorUtil::colorForTarget(int index)
{
    return colorForTarget(index, effectiveMode());
}

std::optional<QColor> IColorUtil::colorForTarget(int index, int mode)
{
    if (index < 0 || index > 15)
        return std::nullopt;
    if (index == 6 || index == 9)
        index = 14;
    const bool dark = mode == ModeDark;
    switch (index) {
    case 0:
        return dark ? rgb(0.12, 0.13, 0.13) : grey(0.95);
    case 1:
        return dark ? rgb(0.2, 0.2, 0.2) : grey(0.93);
    case 2:
        return dark ? rgb(0.31, 0.32, 0.33) : rgb(0.6, 0.6, 0.6);
    case 3:
        return dark ? rgb(0.31, 0.32, 0.22) : rgb(0.9, 0.9, 0.9);
    case 4:
        return dark ? grey(0.5) : QColor(Qt::gray); // the system grey
    case 5:
        return dark ? rgb(0.12, 0.13, 0.13) : grey(0.93);
    case 7:
        return dark ? rgb(0.5, 0.5, 0.5) : grey(0.5);
    case 8:
        return dark ? grey(0.34) : grey(0.8);
    case 10:
        return rgb(0, 0.5, 1.0);
    case 11:
        return dark ? rgb(0.13, 0.13, 0.13) : rgb(0.96, 0.96, 0.96);
    case 12:
        return dark ? grey(0.7) : grey(0.3);
    case 13:
        return dark ? grey(0.3) : grey(0.75);
    case 14:
        return dark ? grey(0.85) : grey(0.14);
    case 15:
        return dark ? grey(1.0) : grey(0.85);
    default:
        return std::nullopt;
    }
}
