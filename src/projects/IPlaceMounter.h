#pragma once

#include <QString>
#include <QtGlobal>

class ILocation;

// What a project of any kind asks of the machine to mount and unmount its places around a run:
// the volume mounter for shares and marked places, and the disk utility for a local volume that
// is not mounted. The system's own tools answer by default; tests install a fake with
// setShared().
class IPlaceMounter
{
public:
    virtual ~IPlaceMounter() = default;

    static IPlaceMounter& shared();
    // nullptr restores the system's tools; the caller keeps ownership
    static void setShared(IPlaceMounter* mounter);

    // Mounts a share that is not mounted, giving the place the mounter's marks and mark.
    virtual bool mountLocation(ILocation* location, qint64 mark);
    // Unmounts a mounted place; its run marks go.
    virtual bool unmountLocation(ILocation* location, qint64 mark);
    // The device of the volume with that UUID; null when none.
    virtual QString volumeBSDNameByUUID(const QString& uuid, bool* isMounted);
    // Mounts the volumes of a device; the tool's answer ("... mounted successfully" on success).
    virtual QString mountDiskForVolumeBSDName(const QString& device);
    // Unmounts the volumes of a device (with its container when asked); the tool's answer.
    virtual QString unmountDiskForVolumeBSDName(const QString& device, bool tryContainer);
};
