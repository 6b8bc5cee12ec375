#pragma once

#include <QString>

class QWidget;

// Pictures of windows for a person to look at; no test compares them.
namespace Screenshot {

// The fixed conditions every picture is taken under: the Fusion style, DejaVu Sans, the en_US
// locale, UTC (unless the test set TZ itself) and the light palette. Call once before the first
// window is made (initTestCase); save() calls it too.
void fixConditions();

// Writes ${KV_SCREENSHOT_DIR:-<build>/screenshots}/<folder>/<name>.png and appends
// "name: caption" to INDEX.md there. A name ending in "-dark" is taken with the dark palette.
// A window with an open sheet or message box over it is grabbed from the screen, cropped to the
// window and the boxes over it. Answers the file's path (empty when it could not be written).
QString save(QWidget* window, const QString& folder, const QString& name, const QString& caption);

// Where a picture made by another process goes (kv-screen-grab): the folder is made and the
// caption indexed as save() does.
QString externalPath(const QString& folder, const QString& name, const QString& caption);

// The light or the dark palette of the pictures (applied to the application, with a colour
// mode change announced to IColorUtil).
void setDarkPalette(bool dark);

} // namespace Screenshot
