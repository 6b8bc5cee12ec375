#pragma once

#include <QVariantList>

class IBackup;

// The archive kit's views as the hub forwards its archive members to them: the project shown,
// the content view, the stored list order and the end of the application. The archive pane
// registers its implementation with the hub; without one the hub answers "none".
class IArchiveKit
{
public:
    virtual ~IArchiveKit() = default;
    virtual IBackup* currentBackup() = 0;
    virtual IBackup* getViewIBackup() = 0;
    virtual void reloadContentViewData(IBackup* backup) = 0;
    virtual void eventChangedCurrentBackup() = 0;
    // Appends the projects' UUIDs in list order.
    virtual void saveProjectOrderListToDict(QVariantList& list) = 0;
    // The application closes (once).
    virtual void appClosing() = 0;
};
