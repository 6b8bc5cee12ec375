#pragma once

#include "platform/DiskFacts.h"
#include "platform/MountInfo.h"
#include "utilities/VolumeBaseItem.h"

#include <QList>
#include <QObject>
#include <QTimer>
#include <array>
#include <atomic>
#include <memory>
#include <optional>

class IVolumeLocation;
class MountWatcher;

using VolumeItemPtr = std::shared_ptr<VolumeBaseItem>;

// The volume table: one record per mounted volume that matters to the system (at most 500),
// with the device and network facts that locations, clone and backup settings and the
// start-on-mount logic need. Mount changes come from the kernel's mount-table notice
// (MountWatcher); the hub hears validateDeviceMount at once and volumeBaseUpdated once the
// mount has settled.
//
// Threads: the table lives on the main thread. fill() may run on any thread: it builds the
// new table there and swaps it in on the main thread; mount events that arrive meanwhile are
// queued and applied after the swap. Records are shared pointers, so a record a caller holds
// stays valid after it leaves the table.
class IVolumeBase : public QObject
{
    Q_OBJECT
public:
    static constexpr int maxItems = 500;
    static constexpr int settleMs = 183; // 11 ticks of 1/60 s after a mount
    enum Status
    {
        StatusDone = 1,
        StatusFull = 2,
        StatusOutOfRange = 3,
        StatusEmpty = 4,
        StatusNotCreated = 7
    };

    // The singleton: created on the main thread on first use, watching the mount table.
    static IVolumeBase& shared();
    static void resetShared(); // tests: drops the singleton (main thread)

    explicit IVolumeBase(bool watchMounts, QObject* parent = nullptr);
    ~IVolumeBase() override;

    void fill();
    bool isBaseFilled() const { return m_filled.load(); }
    void baseFill(); // main thread
    QList<int> sortIndex();

    int insertItem();
    bool removeItemAtIndex(int slot);
    bool removeItem(const VolumeItemPtr& item);
    int itemCount() const;
    void clear();
    int status() const { return m_status; }
    VolumeItemPtr itemAtIndex(int slot) const;

    // A record for a mount-table entry (null when the entry is no volume or the table is full).
    VolumeItemPtr createAndFillItemFromStatfs(const MountEntry& entry, const QList<MountEntry>& mounts);
    // The pieces of record creation, also used by tests on their own.
    static void fillItemFromStatfs(
        VolumeBaseItem& item, const MountEntry& entry, const DiskFacts::Space& space);
    static void fillItemFromDADict(VolumeBaseItem& item, const QVariantMap& dict);
    static void fillAdditionalItem(
        VolumeBaseItem& item, const std::optional<DiskFacts::VolumeRegistryFacts>& registry);
    // Whether a mount-table entry is left out of the table (system mounts, bind mounts, the
    // live volume of a snapshot root, the system's own skip paths).
    bool isSkipped(const MountEntry& entry) const;

    // Lookups (first match in slot order; null keys give null).
    VolumeItemPtr itemWithDevice(const QString& device) const;
    VolumeItemPtr itemWithUUID(const QString& uuid) const;
    VolumeItemPtr itemWithMountPointURL(const QString& url) const;
    VolumeItemPtr itemWithMountPointURL(const QString& url, int noRole) const;
    VolumeItemPtr itemWithLocalURL(const QString& url, int noRole) const;
    VolumeItemPtr itemWithNetworkURL(const QString& url) const;
    VolumeItemPtr itemWithRole(int role, const QString& groupUUID) const;
    VolumeItemPtr itemWithLocation(const IVolumeLocation* location) const;
    VolumeItemPtr itemWithMountId(int mountId) const;

    bool syncLocation(IVolumeLocation* location) const;
    bool findGroupWithLocation(
        const IVolumeLocation* location, VolumeItemPtr* systemItem, VolumeItemPtr* dataItem) const;

    VolumeItemPtr firstItemWithFilter(qint64 bits);
    VolumeItemPtr nextItem();
    static bool isItemFiltering(const VolumeBaseItem& item, qint64 bits); // YES = passes
    QString printFiltered(qint64 bits);

    QString rootDevice() const { return m_rootDevice; }
    QString rootSnapshotDevice() const { return m_rootSnapshotDevice; }
    bool isRootSnapshot() const { return !m_rootSnapshotDevice.isEmpty(); }
    void defineRootDevices(const QList<MountEntry>& mounts);
    static void rootDevicesFor(
        const QList<MountEntry>& mounts, QString* rootDevice, QString* rootSnapshotDevice);

    void correctGroupDataItem(const VolumeItemPtr& item);
    void correctGroupData();
    bool findGroupForItem(const VolumeItemPtr& item);
    VolumeItemPtr findUnmountedGroupedSystemForDataItem(const VolumeItemPtr&) const { return nullptr; }
    void fixVolumeUUIDForSnapshotDevice(const VolumeItemPtr&) { }

    static QStringList getListOfEjectableMedia();
    static QString printItem(const VolumeBaseItem& item);
    void printList();

    // Mount-table events (also called by the watcher).
    void deviceNotifyMount(const MountEntry& entry);
    void deviceNotifyUnmount(const MountEntry& entry);
    void deviceNotifyRename(const MountEntry& oldEntry, const MountEntry& newEntry);
    void updateDiskList(); // the settle timer

Q_SIGNALS:
    // The table was (re)filled; menus that wait for it fill themselves now (main thread).
    void baseFilled();

private:
    struct Built
    {
        QString rootDevice, rootSnapshotDevice;
        QList<VolumeItemPtr> items;
    };
    struct Event
    {
        enum Kind
        {
            Mount,
            Unmount,
            Rename
        } kind;
        MountEntry entry, newEntry;
    };

    static VolumeItemPtr makeItem(const MountEntry& entry, const QList<MountEntry>& mounts);
    bool isSkippedFor(
        const MountEntry& entry, const QString& rootDevice, const QString& rootSnapshotDevice) const;
    Built build() const;
    void install(const Built& built);
    int slotOf(const VolumeBaseItem* item) const;
    void applyEvent(const Event& e);

    std::array<VolumeItemPtr, maxItems> m_slots;
    QList<int> m_sortIndex;
    QList<int> m_filterList;
    qint64 m_filterBits = 0;
    int m_filterPos = -1;
    int m_status = StatusDone;
    std::atomic<bool> m_filled { false };
    std::atomic<int> m_fillsInFlight { 0 };
    QList<Event> m_queued;
    QTimer m_settleTimer;
    QString m_rootDevice, m_rootSnapshotDevice;
    MountWatcher* m_watcher = nullptr;
};
