#include "projects/DestinationItemList.h"

#include "projects/ILocation.h"
#include "utilities/IVolumeBase.h"

#include <QCoreApplication>

namespace {

QString loc(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

} // namespace

QList<std::shared_ptr<ILocation>> DestinationItemList::locationsFromVolumeBase(IVolumeBase& base)
{
    QList<std::shared_ptr<ILocation>> locations;
    for (VolumeItemPtr item = base.firstItemWithFilter(volumeFilter); item; item = base.nextItem()) {
        std::shared_ptr<ILocation> location(ILocation::create());
        location->setupFromVBI(*item);
        locations.append(location);
    }
    return locations;
}

DestinationItem DestinationItemList::itemFor(const std::shared_ptr<ILocation>& location, qint64 tag) const
{
    DestinationItem item;
    item.kind = DestinationItem::Location;
    item.title = location->getMenuTitleFreeSpace();
    item.tag = tag;
    item.icon = location->getImage();
    item.toolTip = location->getMenuItemTooltip();
    // A read-only volume is offered only as the data half of a two-volume system.
    item.enabled = location->isWritable() || (location->isDoubleVolume() && location->getRole() == 6);
    item.location = location;
    return item;
}

void DestinationItemList::fill(const QList<std::shared_ptr<ILocation>>& locations)
{
    m_items.clear();
    m_locations = locations;
    DestinationItem select;
    select.title = loc("Select a Destination");
    select.tag = tagSelect;
    m_items.append(select);
    QString previousDevice;
    bool first = true;
    for (int i = 0; i < m_locations.size(); ++i) {
        const std::shared_ptr<ILocation>& location = m_locations.at(i);
        if (first || location->userDevice() != previousDevice) {
            DestinationItem header;
            header.kind = DestinationItem::Header;
            header.title = location->getDeviceType() == ILocation::DeviceFixed ? loc("Internal Disk(s)")
                                                                               : location->userDevice();
            header.tag = -1;
            header.enabled = false;
            m_items.append(header);
            previousDevice = location->userDevice();
            first = false;
        }
        m_items.append(itemFor(location, i));
    }
}

const DestinationItem* DestinationItemList::addLocation(const ILocation& location, bool addSeparator)
{
    if (location.isEmpty())
        return nullptr;
    // One separator heads the block of extra items.
    if (addSeparator && indexOfSeparator() < 0) {
        DestinationItem separator;
        separator.kind = DestinationItem::Separator;
        separator.tag = tagExtraSeparator;
        separator.enabled = false;
        m_items.append(separator);
    }
    std::shared_ptr<ILocation> copy(ILocation::createCopy(location));
    m_locations.append(copy);
    DestinationItem item = itemFor(copy, m_locations.size() - 1);
    item.enabled = true; // the project's own destination stays selectable while away
    m_items.append(item);
    return &m_items.last();
}

int DestinationItemList::indexOfSeparator() const
{
    for (int i = 0; i < m_items.size(); ++i)
        if (m_items.at(i).kind == DestinationItem::Separator)
            return i;
    return -1;
}

std::shared_ptr<ILocation> DestinationItemList::locationForTag(qint64 tag) const
{
    if (tag < 0 || tag >= m_locations.size())
        return nullptr;
    return m_locations.at(int(tag));
}

int DestinationItemList::indexOfTag(qint64 tag) const
{
    for (int i = 0; i < m_items.size(); ++i)
        if (m_items.at(i).kind == DestinationItem::Location && m_items.at(i).tag == tag)
            return i;
    return -1;
}

qint64 DestinationItemList::tagForLocation(const ILocation* location) const
{
    if (!location || location->getDeviceType() == ILocation::DeviceNone)
        return tagSelect;
    for (const DestinationItem& item : m_items)
        if (item.kind == DestinationItem::Location && item.location
            && item.location->isEqualToLocationVolume(*location))
            return item.tag;
    return -1;
}

qint64 DestinationItemList::tagForMountPoint(const QString& mountPoint) const
{
    for (const DestinationItem& item : m_items)
        if (item.kind == DestinationItem::Location && item.location && !mountPoint.isEmpty()
            && item.location->getMountPoint() == mountPoint)
            return item.tag;
    return -1;
}

qint64 DestinationItemList::firstTagForDeviceType(int deviceType) const
{
    for (const DestinationItem& item : m_items)
        if (item.kind == DestinationItem::Location && item.location
            && item.location->getDeviceType() == deviceType)
            return item.tag;
    return -1;
}

DestinationAccess destinationAccess(std::optional<int> deviceType, bool removable, bool mounted, bool hasURL)
{
    using S = DestinationAccess::State;
    DestinationAccess a;
    const auto on = [](bool b) { return b ? S::Enabled : S::Disabled; };
    if (!deviceType) {
        a.folder = S::Disabled;
        a.automount = S::Disabled;
        return a;
    }
    switch (*deviceType) {
    case ILocation::DeviceUSB:
        a.folder = removable ? S::Enabled : S::Unchanged;
        a.networkUsbAutomountTitle = true;
        a.automount = on(removable);
        a.mountButton = on(removable && !mounted);
        break;
    case ILocation::DeviceCD:
    case ILocation::DeviceToast:
        a.folder = a.automount = a.mountButton = S::Disabled;
        break;
    case ILocation::DeviceNetwork:
    case ILocation::DeviceNetworkVolume:
        a.folder = S::Enabled;
        a.networkUsbAutomountTitle = true;
        a.automount = on(hasURL);
        a.mountButton = on(hasURL && !mounted);
        break;
    default:
        a.folder = S::Enabled;
        a.automount = a.mountButton = S::Disabled;
        break;
    }
    return a;
}

DestinationStatus destinationStatus(int deviceType, bool mounted, int access, int targetType)
{
    using I = DestinationStatus::Icon;
    if (deviceType == ILocation::DeviceNone)
        return { I::IconWarning, loc("Select a Destination"), false };
    if (!mounted || access == ILocation::AccessNone)
        return { I::IconError, loc("Selected backup destination is currently unavailable"), false };
    switch (access) {
    case ILocation::AccessReadOnly:
        return { I::IconError, loc("Backup destination is in Read-only mode"), false };
    case ILocation::AccessReadWrite:
        if (targetType == 1)
            return { I::IconOk, loc("Incremental backup is available for the selected destination"), true };
        return { I::IconWarning, loc("Only full backup is available for the selected destination"), true };
    case ILocation::AccessHardLinks:
        return { I::IconOk, loc("Incremental backup is available for the selected destination"), true };
    default:
        return { I::IconNone, QString(), true };
    }
}

DestinationStatus destinationStatusFor(ILocation* location, bool admin, int targetType)
{
    if (!location)
        return destinationStatus(ILocation::DeviceNone, false, ILocation::AccessNone, targetType);
    const int type = location->getDeviceType();
    if (type == ILocation::DeviceNone)
        return destinationStatus(type, false, ILocation::AccessNone, targetType);
    const bool mounted = location->isActive();
    const int access = mounted ? location->getAccessWithAdmin(admin, false, true) : ILocation::AccessNone;
    return destinationStatus(type, mounted, access, targetType);
}
