#include "utilities/ScreenUtil.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QWindow>
#include <atomic>

namespace {
std::atomic<double> g_scale { 0.0 };
} // namespace

namespace ScreenUtil {

QScreen* currentScreenForMouseLocation()
{
    const QPoint mouse = QCursor::pos();
    for (QScreen* s : QGuiApplication::screens()) {
        if (s->geometry().contains(mouse))
            return s;
    }
    return nullptr;
}

QPointF convertPointToScreenCoordinates(const QScreen* screen, const QPointF& point)
{
    const QPointF origin = screen ? QPointF(screen->geometry().topLeft()) : QPointF();
    return QPointF(float(point.x() - origin.x()), float(point.y() - origin.y()));
}

QPointF flipPoint(const QScreen* screen, const QPointF& point)
{
    const double height = screen ? screen->geometry().height() : 0.0;
    return QPointF(point.x(), height - point.y());
}

void validateBackingScaleFactorForWindow(QWindow* window)
{
    if (g_scale.load() != 0.0)
        return;
    g_scale = window ? window->devicePixelRatio() : 1.0;
}

bool isRetina(QWindow* window)
{
    if (!window) {
        const QWindowList windows = QGuiApplication::topLevelWindows();
        window = windows.isEmpty() ? nullptr : windows.first();
    }
    validateBackingScaleFactorForWindow(window);
    return g_scale.load() >= 2.0;
}

void resetBackingScaleFactor()
{
    g_scale = 0.0;
}

} // namespace ScreenUtil
