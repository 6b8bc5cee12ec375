#pragma once

#include <QColor>
#include <optional>

class QPalette;

// Colours of the interface elements for the light and the dark appearance.
// Appearance: dark when the desktop portal's "color-scheme" setting says dark (1), otherwise
// when the application palette's window colour is dark (lightness below 128); systems before
// 10.14 (by the system version, 10.15.7 by default) are always light.
class IColorUtil
{
public:
    enum Mode
    {
        ModeUnknown = 0,
        ModeLight = 1,
        ModeDark = 2
    };

    static int effectiveMode();
    static int getColorModeFromDefaults();
    static int currentColorMode();
    static void themeInit();
    static void themeChanged(); // on QEvent::ApplicationPaletteChange or the portal's SettingChanged
    // The colour of an element (0..15) in the effective mode; nullopt above 15.
    static std::optional<QColor> colorForTarget(int index);
    static std::optional<QColor> colorForTarget(int index, int mode);

    // Tests and start-up: the portal's answer (nullopt = no portal, use the palette).
    static void setPortalColorSchemeOverride(std::optional<int> scheme);
    static bool isDarkPalette(const QPalette& palette);
};
