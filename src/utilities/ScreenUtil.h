#pragma once

#include <QPointF>

class QScreen;
class QWindow;

// Screens, points and the retina test.
namespace ScreenUtil {

// The first screen, in the system's order, whose geometry holds the mouse; null when none does.
QScreen* currentScreenForMouseLocation();
// A global point in the coordinates of the screen (x - origin.x, y - origin.y; a null screen
// counts as a zero frame). Screens left of or above the main one have negative origins.
QPointF convertPointToScreenCoordinates(const QScreen* screen, const QPointF& point);
// y flipped within the screen's height (0 - y for a null screen).
QPointF flipPoint(const QScreen* screen, const QPointF& point);

// The device pixel ratio of the first window seen (1.0 without one), kept once known.
void validateBackingScaleFactorForWindow(QWindow* window);
// YES when that ratio is 2.0 or more (desktops use fractional ratios such as 2.25).
bool isRetina(QWindow* window);
void resetBackingScaleFactor(); // tests

} // namespace ScreenUtil
