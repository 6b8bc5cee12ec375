#pragma once

#include <QString>

// The main window's status line as the text router sees it. Called on the main thread only.
class IStatusLine
{
public:
    virtual ~IStatusLine() = default;
    virtual void setStatusText(const QString& text) = 0;
};
