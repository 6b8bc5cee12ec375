#pragma once

#include <QString>

// The log window as the log sink sees it: appends a text to the window's text and to the
// session log. Called on the main thread only.
class ILogWindow
{
public:
    virtual ~ILogWindow() = default;
    virtual void appendLog(const QString& text) = 0;
};
