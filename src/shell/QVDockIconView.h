#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>

// The application's tile in the desktop's task bar: the application icon with a progress bar
// while projects run. On Linux the tile is the application's window icon, and the progress also
// goes out as the LauncherEntry signal that docks and task bars read from the session bus.
// The class methods may be called from any thread: they store their value and post the redisplay
// to the main thread. Before setup() every method does nothing.
class QVDockIconView
{
public:
    static constexpr int kTileWidth = 128;

    // The application icon reduced to the tile's width, position 0, the bar colour; redisplayed.
    static void setup();
    static bool isSetUp();
    // Percent; redisplays only while the bar is shown.
    static void setPosition(int percent);
    // Shows or hides the bar; hiding resets the position to 0. Always redisplays.
    static void setIndicatorVisible(bool visible);
    static bool isIndicatorVisible();
    static int position();
    static void setColor(const QColor& color);
    // A new icon, shown at the next redisplay.
    static void setIcon(const QImage& icon);

    // The icon's sizes in their order: the last one that still fits within maxWidth × maxWidth
    // before the first that does not (the first size when none fits); a scalable icon without
    // sizes is drawn at maxWidth.
    static QImage getImageFromIcon(const QIcon& icon, int maxWidth);
    // The tile as drawn: the icon, and with the bar shown a light grey bar near the bottom,
    // filled from the left by position percent in the colour.
    static QImage compose(const QImage& icon, bool barShown, int position, const QColor& color);
    // The tile of the last redisplay, and how many redisplays ran (tests).
    static QImage currentImage();
    static int redisplayCount();

    // Tests: back to the state before setup().
    static void resetForTests();
};
