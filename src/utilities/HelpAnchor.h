#pragma once

#include <QString>
#include <QUrl>
#include <functional>

// Opens a help anchor in the local help pages named by "CFBundleHelpBookName" of the
// application's Info.plist: <Resources>/<book>/index.html#anchor. -43 without Info.plist or
// without the key, -50 when the value is not a text, 0 when the page was handed to the desktop.
int MyGotoHelpAnchor(const QString& anchor);
// Tests see the URL instead of a browser.
void setHelpUrlOpener(std::function<bool(const QUrl&)> opener);
