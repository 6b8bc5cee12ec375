#include "QVDockIconView.h"

#include "platform/DistributedNotificationCenter.h"
#include "platform/MainThread.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QGuiApplication>
#include <QMutex>
#include <QMutexLocker>
#include <QPainter>
#include <QPixmap>

namespace {
struct Tile
{
    bool setUp = false;
    bool barShown = false;
    int position = 0;
    QColor color;
    QImage icon;
    QImage shown;
    int redisplays = 0;
    // What the LauncherEntry signal last said, so that an unchanged state sends nothing.
    int sentPosition = -1;
    bool sentShown = false;
};

QMutex g_mutex;
Tile g_tile;

const QColor kBarBackground = QColor::fromRgbF(0.8f, 0.8f, 0.8f);
const QColor kBarColor = QColor::fromRgbF(0.2f, 0.4f, 0.8f);

void announce(bool shown, int position)
{
    QDBusConnection bus = DistributedNotificationCenter::shared().connection();
    if (!bus.isConnected())
        return;
    QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/com/brisoltica/KelvanePro3/LauncherEntry"),
        QStringLiteral("com.canonical.Unity.LauncherEntry"), QStringLiteral("Update"));
    QVariantMap properties;
    properties.insert(QStringLiteral("progress"), shown ? position / 100.0 : 0.0);
    properties.insert(QStringLiteral("progress-visible"), shown);
    signal << QStringLiteral("application://com.brisoltica.KelvanePro3.desktop") << properties;
    bus.send(signal);
}

// On the main thread: draws the tile from the stored values and hands it to the desktop.
void redisplay()
{
    QImage image;
    bool shown = false;
    int position = 0;
    bool announceIt = false;
    {
        QMutexLocker lock(&g_mutex);
        if (!g_tile.setUp)
            return;
        shown = g_tile.barShown;
        position = g_tile.position;
        image = QVDockIconView::compose(g_tile.icon, shown, position, g_tile.color);
        g_tile.shown = image;
        ++g_tile.redisplays;
        announceIt = g_tile.sentShown != shown || g_tile.sentPosition != position;
        g_tile.sentShown = shown;
        g_tile.sentPosition = position;
    }
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        QGuiApplication::setWindowIcon(QIcon(QPixmap::fromImage(image)));
    if (announceIt)
        announce(shown, position);
}

void postRedisplay()
{
    runOnMain(&redisplay);
}
} // namespace

void QVDockIconView::setup()
{
    const QImage icon = getImageFromIcon(QIcon(QStringLiteral(":/icons/AppIcon.svg")), kTileWidth);
    {
        QMutexLocker lock(&g_mutex);
        g_tile.setUp = true;
        g_tile.position = 0;
        g_tile.icon = icon;
        g_tile.color = kBarColor;
    }
    postRedisplay();
}

bool QVDockIconView::isSetUp()
{
    QMutexLocker lock(&g_mutex);
    return g_tile.setUp;
}

void QVDockIconView::setPosition(int percent)
{
    percent = qBound(0, percent, 100);
    {
        QMutexLocker lock(&g_mutex);
        if (!g_tile.setUp)
            return;
        g_tile.position = percent;
        if (!g_tile.barShown)
            return;
    }
    postRedisplay();
}

void QVDockIconView::setIndicatorVisible(bool visible)
{
    {
        QMutexLocker lock(&g_mutex);
        if (!g_tile.setUp)
            return;
        g_tile.barShown = visible;
        if (!visible)
            g_tile.position = 0;
    }
    postRedisplay();
}

bool QVDockIconView::isIndicatorVisible()
{
    QMutexLocker lock(&g_mutex);
    return g_tile.setUp && g_tile.barShown;
}

int QVDockIconView::position()
{
    QMutexLocker lock(&g_mutex);
    return g_tile.position;
}

void QVDockIconView::setColor(const QColor& color)
{
    {
        QMutexLocker lock(&g_mutex);
        if (!g_tile.setUp || g_tile.color == color)
            return;
        g_tile.color = color;
        if (!g_tile.barShown)
            return;
    }
    postRedisplay();
}

void QVDockIconView::setIcon(const QImage& icon)
{
    QMutexLocker lock(&g_mutex);
    if (g_tile.setUp && g_tile.icon != icon)
        g_tile.icon = icon;
}

QImage QVDockIconView::getImageFromIcon(const QIcon& icon, int maxWidth)
{
    const QList<QSize> sizes = icon.availableSizes();
    if (sizes.isEmpty())
        return icon.pixmap(QSize(maxWidth, maxWidth)).toImage();
    QSize chosen = sizes.first();
    for (qsizetype i = 1; i < sizes.size(); ++i) {
        if (sizes.at(i).width() > maxWidth || sizes.at(i).height() > maxWidth)
            break;
        chosen = sizes.at(i);
    }
    return icon.pixmap(chosen).toImage();
}

QImage QVDockIconView::compose(const QImage& icon, bool barShown, int position, const QColor& color)
{
    QImage image(icon.size().isEmpty() ? QSize(kTileWidth, kTileWidth) : icon.size(),
        QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    p.drawImage(0, 0, icon);
    if (barShown) {
        const double w = image.width();
        const double h = image.height();
        const double barWidth = w - 2 * (w / 7) + 0.3;
        const double barHeight = h / 15 + 0.3;
        // The bar sits h/10.5 above the bottom edge.
        const QRectF bar(w / 7 + 0.3, h - (h / 10.5 + 0.3) - barHeight, barWidth, barHeight);
        p.setRenderHint(QPainter::Antialiasing, false);
        p.fillRect(bar, kBarBackground);
        // The fill stays one pixel inside the grey, which frames it: on an icon of a similar
        // colour the bar's end would otherwise not show.
        const QRectF inner = bar.adjusted(1, 1, -1, -1);
        p.fillRect(QRectF(inner.topLeft(), QSizeF(inner.width() / 100 * qBound(0, position, 100), inner.height())),
            color);
    }
    return image;
}

QImage QVDockIconView::currentImage()
{
    QMutexLocker lock(&g_mutex);
    return g_tile.shown;
}

int QVDockIconView::redisplayCount()
{
    QMutexLocker lock(&g_mutex);
    return g_tile.redisplays;
}

void QVDockIconView::resetForTests()
{
    QMutexLocker lock(&g_mutex);
    g_tile = Tile();
}
