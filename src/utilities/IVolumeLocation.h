#pragma once

#include <QString>

class VolumeBaseItem;

// What the volume table and the volume mounter read from and set on a location (a place a
// project reads from or writes to). The location record implements it; tests use small fakes.
class IVolumeLocation
{
public:
    virtual ~IVolumeLocation() = default;

    virtual bool isEmpty() const = 0;
    virtual QString volumeUUID() const = 0; // null or empty when none
    virtual QString groupVolumeUUID() const = 0;
    virtual int deviceType() const = 0; // 0 fixed, 1 USB, 4 and 6 network, …
    virtual bool isNetwork() const = 0;
    virtual QString URLStr() const = 0; // the share URL of a network volume
    virtual QString mountPoint() const = 0; // a path, or null
    virtual bool isActive() const = 0;
    virtual void setActive(bool active) = 0;
    virtual void setupFromVBI(const VolumeBaseItem& item) = 0;

    // The flag word: 2 unmount after the run, 8 the program unmounted the volume, 16 the program
    // mounted the volume.
    virtual qint64 getFlags() const = 0;
    virtual void setFlags(qint64 flags) = 0;
    void addFlag(qint64 flag) { setFlags(getFlags() | flag); }
    void removeFlag(qint64 flag) { setFlags(getFlags() & ~flag); }
    bool isFlag(qint64 flag) const { return (getFlags() & flag) != 0; }
};
