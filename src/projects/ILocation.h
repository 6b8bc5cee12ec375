#pragma once

#include "projects/ILocationServices.h"
#include "utilities/ILocationInfo.h"
#include "utilities/IVolumeLocation.h"

#include <QByteArray>
#include <QIcon>
#include <QString>
#include <QVariantMap>

// A place a project reads from or writes to: a whole volume, a folder inside a volume, a network
// share, a disk-image destination or an optical disc. A location is bound to the volume table by
// volume UUID, share URL or mount point, so that it finds its volume again after the volume was
// mounted under another path; it is stored as a dictionary inside its project.
//
// Paths are compared as bytes, by whole components. The inner path (the path inside the volume)
// has no leading "/" on the root volume and one elsewhere; joinPath() accepts both forms.
class ILocation : public IVolumeLocation, public ILocationInfo
{
public:
    // Device types.
    enum DeviceType
    {
        DeviceNone = -1,
        DeviceFixed = 0,
        DeviceUSB = 1,
        DeviceCD = 2,
        DeviceImage = 3,
        DeviceNetwork = 4,
        DeviceToast = 5,
        DeviceNetworkVolume = 6,
        DeviceCloud = 7
    };
    // Flag word bits.
    enum LocationFlag : qint64
    {
        FlagUnmountAfterRun = 2,
        FlagOwnersEnabled = 4,
        FlagUnmountedByProgram = 8,
        FlagMountedByProgram = 16,
        FlagSealedBigSur = 64,
        FlagSealedMonterey = 128
    };
    // Access levels of getAccessWithAdmin.
    enum AccessLevel
    {
        AccessNone = 0,
        AccessPreparable = 1,
        AccessReadOnly = 2,
        AccessReadWrite = 3,
        AccessHardLinks = 4,
        AccessDataMissing = 5
    };
    struct SysVersion
    {
        int version = 0;
        int sysUpdate = 0;
        int softUpdate = 0;
    };

    // Stored keys.
    static const QString cnsB3URL, cnsB3PathFromMountPoint, cnsB3DisplayName, cnsB3VolumeUUID,
        cnsB3MountPoint, cnsB3DeviceType, cnsB3Automount, cnsB3Tag, cnsB3Removable;
    static const QString cnsDiskImageFileNameExtension; // "sparsebundle"

    ILocation();
    ~ILocation() override;
    ILocation(const ILocation&) = delete;
    ILocation& operator=(const ILocation&) = delete;

    static ILocation* create();
    static ILocation* createCopy(const ILocation& other);
    void fillFromLocation(const ILocation& other, bool copyPath, bool copyAutomount);
    void clear();

    // The stored form; a new location is refreshed from the volume table.
    static ILocation* locationFromDict(const QVariantMap& dict);
    static QVariantMap dictFromLocation(const ILocation& location);

    // Binds to the mounted volume holding a local path; false (nothing changed) when none.
    bool setupWithPath(const QString& path);
    void setupFromVBI(const VolumeBaseItem& item) override;
    void setVolumeInfo(const LocationVolumeInfo& info);
    void correctRemovable();
    void reset();
    // Waits (bounded) until the volume table is filled, refreshes from it, answers the active flag.
    bool isActiveForce();
    bool correctActive();
    // The table's record of this location (by UUID, preferring the stored mount point; by share
    // URL; by mount point), null when none.
    VolumeItemPtr volumeItem() const;

    // ---- fields --------------------------------------------------------------------------
    bool isEmpty() const override { return m_Empty; }
    void setEmpty(bool empty) { m_Empty = empty; }
    // Null while there is no name; the stored form keeps "".
    QString getDisplayName() const;
    void setDisplayName(const QString& name);
    QString getMountPoint() const; // null when none
    void setMountPoint(const QString& mountPoint);
    QString getURLStr() const; // null when none
    void setURLStr(const QString& url);
    QString getPathFromMountPoint() const; // null when none
    void setPathFromMountPoint(const QString& path);
    QString getVolumeUUID() const; // null when none
    void setVolumeUUID(const QString& uuid);
    QString getVolumeUUIDForced();
    QString getGroupVolumeUUID() const { return m_groupVolumeUUID; }
    void setGroupVolumeUUID(const QString& uuid) { m_groupVolumeUUID = uuid; }
    QString getBSDName() const { return m_BSDName; }
    void setBSDName(const QString& name) { m_BSDName = name; }
    QString userDevice() const { return m_userDevice; }
    void setUserDevice(const QString& device) { m_userDevice = device; }
    quint64 getFreeMB() const { return m_FreeMB; }
    void setFreeMB(qint64 mb) { m_FreeMB = mb < 0 ? 0 : quint64(mb); }
    quint64 getTotalMB() const { return m_TotalMB; }
    void setTotalMB(quint64 mb) { m_TotalMB = mb; }
    qint64 getUsedSizeMB() const { return m_usedSizeMB; }
    qint64 getGroupUsedSizeMB() const { return _groupUsedSizeMB; }
    void setUsedSizeMB(qint64 used); // not grouped
    void setUsedSizeMB(qint64 used, qint64 groupUsed); // grouped
    int getDeviceType() const { return m_DeviceType; }
    void setDeviceType(int type) { m_DeviceType = type; }
    QString getDeviceTypeString() const override;
    bool isWritable() const { return m_Writable; }
    void setWritable(bool on) { m_Writable = on; }
    bool isRemovable() const { return m_Removable; }
    void setRemovable(bool on) { m_Removable = on; }
    bool isLocal() const { return m_Local; }
    void setLocal(bool on) { m_Local = on; }
    bool isDirectAccess() const { return m_DirectAccess; }
    void setDirectAccess(bool on) { m_DirectAccess = on; }
    bool isActive() const override { return m_Active; }
    void setActive(bool on) override { m_Active = on; }
    bool isAutomount() const { return m_Automount; }
    void setAutomount(bool on) { m_Automount = on; }
    bool isBootable() const { return m_bootable; }
    void setBootable(bool on) { m_bootable = on; }
    void setSystem(bool on) { m_system = on; }
    bool isHFSp() const override { return m_HFSp; }
    void setHFSp(bool on) { m_HFSp = on; }
    bool isAPFS() const override { return m_APFS; }
    void setAPFS(bool on) { m_APFS = on; }
    bool isFUSE() const { return m_FUSE; }
    void setFUSE(bool on) { m_FUSE = on; }
    bool isCaseSensitiveFS() const { return m_caseSensitiveFS; }
    void setCaseSensitiveFS(bool on) { m_caseSensitiveFS = on; }
    bool isGrouped() const override { return _grouped; }
    void setGrouped(bool on) { _grouped = on; }
    bool isVisible() const { return m_visible; }
    int getRole() const { return _role; }
    int role() const { return _role; }
    void setRole(int role) { _role = role; }
    qint64 getTag() const { return m_tag; }
    void setTag(qint64 tag) { m_tag = tag; }
    qint64 getDataVersion() const { return m_DataVersion; }
    void setDataVersion(qint64 v) { m_DataVersion = v; }
    qint64 getFlags() const override { return _flags; }
    void setFlags(qint64 flags) override { _flags = flags; }
    // The low 8 bits of (flag word AND bits).
    bool isFlag(qint64 bits) const { return (_flags & bits & 0xff) != 0; }
    QIcon getImage() const; // only while active
    void setImage(const QIcon& image) { m_Image = image; }
    SysVersion getSysVersion();
    void setSysVersion(const SysVersion& v) { _sysVersion = v; }

    // ---- derived answers -----------------------------------------------------------------
    bool isNetwork() const override
    {
        return m_DeviceType == DeviceNetwork || m_DeviceType == DeviceNetworkVolume;
    }
    bool isUnmountable() const;
    bool isBroken() const;
    bool isDoubleVolume() const;
    qint64 getUsedSpace() const;
    quint64 getSpaceForCloneMB() const { return m_TotalMB; }
    bool hasSytemFolders() const;
    virtual bool isSystem();
    bool isPresentBySnapshot() const;
    bool isEqualToLocation(const ILocation& other) const;
    bool isEqualToLocationVolume(const ILocation& other) const;

    QString macFS() const;
    QString getVersionString() const;
    QString getMenuItemTooltip() const;
    QString getMenuTitleFreeSpace() const;
    QString getMenuTitleSpaceForClone() const;
    QString getMenuTitleUsedSpace() const;
    QString getMenuTitleFullSpace() const;
    QIcon findDeviceImage() const;
    // The resource name findDeviceImage() uses ("HDLocation", …); empty for the root volume's
    // own icon and the mount point's icon.
    QString deviceImageName() const;

    // ---- paths, access and mounting ------------------------------------------------------
    QString getUnverifiedFullPath() const;
    QString getFullPath();
    QString getContentPathVerify(bool verify);
    bool isBDI() const;
    bool isBDIActive() const;
    QString getBDIFileName() const;
    QString getBDIContentPath() const { return m_BDIContentPath; }
    bool mountBDI();
    bool unmountBDI();

    bool isAccessMayBePreparedWithAutomount(bool automount);
    int getAccessWithAdmin(bool admin, bool automount, bool hardLinkTest);
    bool mount();
    bool prepare();
    bool prepareWithAdmin(bool admin);
    bool canRead();
    bool canWrite();
    bool writeTest();
    bool isValidForRead() { return canRead(); }
    bool isValidForWriteSize();

    // ---- what the volume table and log lines read ---------------------------------------
    QString volumeUUID() const override { return m_volumeUUID; }
    QString groupVolumeUUID() const override { return m_groupVolumeUUID; }
    int deviceType() const override { return m_DeviceType; }
    QString URLStr() const override { return m_URLStr; }
    QString mountPoint() const override { return m_MountPoint; }
    bool hasDiskInfo() const override { return !m_Empty; }
    QString displayName() const override { return m_DisplayName; }
    QString fullPath() const override { return getUnverifiedFullPath(); }
    quint64 totalMB() const override { return m_TotalMB; }
    quint64 freeMB() const override { return m_FreeMB; }
    qint64 usedSizeMB() const override { return m_usedSizeMB; }
    void refreshVolumeInfo() override { reset(); }

    // ---- path helpers --------------------------------------------------------------------
    // mountPoint joined with an inner path in either form ("x/y" or "/x/y").
    static QString joinPath(const QString& mountPoint, const QString& inner);
    // The inner path of path below mountPoint when mountPoint is a whole-component prefix
    // (empty when they are equal), or a null text when it is not.
    static QString innerPathBelow(const QString& mountPoint, const QString& path);
    static QByteArray pathBytes(const QString& path);
    static QString pathFromBytes(const QByteArray& bytes);

    // Asking a location lets interface events run for a few rounds (and waits for the volume
    // table). While a pause lives on this thread nothing runs and nothing waits: a paint, which
    // must never run events, asks through one.
    class EventRoundsPause
    {
    public:
        EventRoundsPause();
        ~EventRoundsPause();
        EventRoundsPause(const EventRoundsPause&) = delete;
        EventRoundsPause& operator=(const EventRoundsPause&) = delete;
    };
    static bool eventRoundsPaused();

private:
    VolumeItemPtr itemWithDevice(const QString& device) const;
    bool prepareShare(bool useAdmin, bool admin);
    bool innerPathExists(bool useAdmin, bool admin) const;
    void processEventsBriefly(int rounds) const;
    void unmountWhatThisCallMounted(bool mountedBefore);

    bool m_Empty = false;
    QString m_DisplayName = QStringLiteral("");
    QString m_MountPoint;
    quint64 m_FreeMB = 0;
    quint64 m_TotalMB = 0;
    bool m_Writable = true;
    bool m_Removable = false;
    bool m_Local = false;
    bool m_DirectAccess = false;
    QString m_URLStr;
    int m_DeviceType = DeviceNone;
    QIcon m_Image;
    bool m_Active = true;
    bool m_Automount = false;
    QString m_Path;
    qint64 m_DataVersion = 0;
    bool m_bootable = false;
    bool m_system = false;
    bool m_HFSp = false;
    bool m_APFS = false;
    bool m_FUSE = false;
    bool m_caseSensitiveFS = false;
    QString m_volumeUUID;
    QString m_BSDName;
    bool m_visible = true;
    qint64 _flags = 0;
    bool _grouped = false;
    qint64 m_usedSizeMB = 0;
    qint64 _groupUsedSizeMB = -1;
    int _role = 0;
    qint64 m_tag = -1;
    QString m_userDevice;
    QString m_groupVolumeUUID;
    bool _useBDI = false;
    QString m_BDIImagePath; // the disk image of a disk-image destination
    QString m_BDIContentPath; // its mounted content, while attached
    SysVersion _sysVersion;
};
