#pragma once

#include <QIcon>
#include <QList>
#include <QString>
#include <memory>
#include <optional>

class ILocation;
class IVolumeBase;

// One entry of a destination menu: a location item, a titled device header, or a plain separator.
struct DestinationItem
{
    enum Kind
    {
        Location,
        Header,
        Separator
    };
    Kind kind = Location;
    QString title;
    qint64 tag = 0; // an index into the list's locations, 1005 or 1006
    bool enabled = true;
    QIcon icon;
    QString toolTip;
    std::shared_ptr<ILocation> location; // Location items only; null for 1005
};

// The items of a destination menu (the snapshot and archive settings sheets, the clone and
// synchronization destinations): "Select a Destination" (1005) first, then one item per writable
// volume grouped under a header per device, and destinations that are not in the volume table
// appended after a separator (1006). A location item's tag is its index in locations().
class DestinationItemList
{
public:
    static constexpr qint64 tagSelect = 1005;
    static constexpr qint64 tagExtraSeparator = 1006;
    static constexpr qint64 volumeFilter = 113;

    // The locations of the volume table's items that pass the destination filter.
    static QList<std::shared_ptr<ILocation>> locationsFromVolumeBase(IVolumeBase& base);

    // Rebuilds the items from these locations.
    void fill(const QList<std::shared_ptr<ILocation>>& locations);

    // A destination that is not in the menu: a copy of it is appended (after the separator 1006
    // when asked; one separator heads all such items). Null for an empty location; else the new item.
    const DestinationItem* addLocation(const ILocation& location, bool addSeparator);

    const QList<DestinationItem>& items() const { return m_items; }
    const QList<std::shared_ptr<ILocation>>& locations() const { return m_locations; }
    // The location behind a tag (null out of range and for 1005/1006).
    std::shared_ptr<ILocation> locationForTag(qint64 tag) const;
    // The index in items() of a tag, -1 when none.
    int indexOfTag(qint64 tag) const;

    // The item for a location: 1005 for a location of device type -1 (or none); else the first
    // location item on the same volume. -1 when none.
    qint64 tagForLocation(const ILocation* location) const;
    qint64 tagForMountPoint(const QString& mountPoint) const;
    qint64 firstTagForDeviceType(int deviceType) const;

private:
    int indexOfSeparator() const;
    DestinationItem itemFor(const std::shared_ptr<ILocation>& location, qint64 tag) const;

    QList<DestinationItem> m_items;
    QList<std::shared_ptr<ILocation>> m_locations;
};

// Which destination controls a location's device type enables (folder label/field/button,
// automount check box, mount button). Unchanged leaves the control as it is.
struct DestinationAccess
{
    enum State
    {
        Unchanged,
        Enabled,
        Disabled
    };
    State folder = Unchanged;
    State automount = Unchanged;
    State mountButton = Unchanged;
    bool networkUsbAutomountTitle = false; // the automount box reads "Network/USB automount"
};
// deviceType: none when no location is selected.
DestinationAccess destinationAccess(std::optional<int> deviceType, bool removable, bool mounted, bool hasURL);

// The destination status line: whether the destination can be used, with its icon and text.
struct DestinationStatus
{
    enum Icon
    {
        IconNone,
        IconOk,
        IconWarning,
        IconError
    };
    Icon icon = IconNone;
    QString text;
    bool usable = true;
};
// access: ILocation's access level with the hard-link test; targetType 0 folder, 1 disk image.
DestinationStatus destinationStatus(int deviceType, bool mounted, int access, int targetType);
// The same for a location, asking it for its access.
DestinationStatus destinationStatusFor(ILocation* location, bool admin, int targetType);
