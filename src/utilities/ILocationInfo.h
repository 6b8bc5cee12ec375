#pragma once

#include <QString>

// What the one-line volume description of a location (infoTextForLocation) reads from it.
// The location record implements it.
class ILocationInfo
{
public:
    virtual ~ILocationInfo() = default;

    // False when the location has no disk information to describe.
    virtual bool hasDiskInfo() const = 0;
    virtual int deviceType() const = 0; // 2 is an optical disc
    virtual QString getDeviceTypeString() const = 0;
    virtual QString displayName() const = 0;
    virtual QString fullPath() const = 0; // null or empty when none
    virtual bool isHFSp() const = 0;
    virtual bool isAPFS() const = 0;
    virtual bool isGrouped() const = 0; // in a volume group
    virtual bool isActive() const = 0;
    virtual quint64 totalMB() const = 0; // MB of 1,000,000 bytes
    virtual quint64 freeMB() const = 0;
    virtual qint64 usedSizeMB() const = 0;
    // Reads the volume's information again (the volume mounter's getVolumeInfo).
    virtual void refreshVolumeInfo() = 0;
};
