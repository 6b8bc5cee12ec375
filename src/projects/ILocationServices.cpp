#include "projects/ILocationServices.h"

#include "platform/DiskFacts.h"
#include "platform/DiskImageTool.h"
#include "platform/MainThread.h"
#include "platform/MountInfo.h"
#include "utilities/CVolumeMounter.h"
#include "utilities/IDiskUtil.h"
#include "utilities/IVolumeBase.h"
#include "utilities/QVLog.h"

namespace {

// The system's own services: the volume table, disk information and the volume mounter.
class SystemLocationServices : public ILocationServices
{
public:
    QList<VolumeItemPtr> volumeItems() override
    {
        QList<VolumeItemPtr> items;
        IVolumeBase& base = IVolumeBase::shared();
        // A program that never filled the table (a tool, the headless driver) reads it now.
        if (!base.isBaseFilled() && isMainThread())
            base.fill();
        for (int slot = 0; slot < IVolumeBase::maxItems; ++slot) {
            if (VolumeItemPtr item = base.itemAtIndex(slot))
                items.append(item);
        }
        return items;
    }
    bool isVolumeBaseFilled() override
    {
        IVolumeBase& base = IVolumeBase::shared();
        if (!base.isBaseFilled() && isMainThread())
            base.fill();
        return base.isBaseFilled();
    }
    void correctGroupDataItem(const VolumeItemPtr& item) override
    {
        IVolumeBase::shared().correctGroupDataItem(item);
    }

    QString volumeBSDNameByUUID(const QString& uuid, bool* isMounted) override
    {
        return IDiskUtil::shared().getVolumeBSDNameByUUID(uuid, isMounted);
    }
    QString volumeUUIDForMountPoint(const QString& mountPoint) override
    {
        return IDiskUtil::describe(mountPoint).volumeUUID();
    }
    VolumeSysVersion fullSystemVersionForMountPoint(const QString& mountPoint) override
    {
        return IDiskUtil::fullSystemVersionForMountPoint(mountPoint);
    }
    qint64 runningSystemVersion() override { return IDiskUtil::systemVersion(); }

    static VMVolumeInfoRec toRec(const LocationVolumeInfo& info)
    {
        VMVolumeInfoRec rec;
        rec.displayName = info.displayName;
        rec.mountPoint = info.mountPoint;
        rec.writable = info.writable;
        rec.removable = info.removable;
        rec.unmountable = info.unmountable;
        rec.totalMB = info.totalMB;
        rec.freeMB = info.freeMB;
        rec.URL = info.URL;
        rec.directAccess = info.directAccess;
        rec.local = info.local;
        return rec;
    }
    static void fromRec(const VMVolumeInfoRec& rec, LocationVolumeInfo& info)
    {
        info.displayName = rec.displayName;
        info.mountPoint = rec.mountPoint;
        info.writable = rec.writable;
        info.removable = rec.removable;
        info.unmountable = rec.unmountable;
        info.totalMB = rec.totalMB;
        info.freeMB = rec.freeMB;
        info.URL = rec.URL;
        info.directAccess = rec.directAccess;
        info.local = rec.local;
    }
    bool isVolumeMounted(LocationVolumeInfo& info) override
    {
        VMVolumeInfoRec rec = toRec(info);
        if (!CVolumeMounter::isVolumeMounted(rec))
            return false;
        fromRec(rec, info);
        return true;
    }
    bool mountVolume(LocationVolumeInfo& info, QString* error) override
    {
        VMVolumeInfoRec rec = toRec(info);
        if (!CVolumeMounter::mountVolume(rec)) {
            if (error)
                *error = QStringLiteral("mount failed");
            return false;
        }
        fromRec(rec, info);
        return true;
    }
    // Unmounts exactly the mount at mountPoint, never the volume that merely holds the path.
    bool unmountVolume(const QString& mountPoint) override
    {
        bool isMount = false;
        for (const MountEntry& m : MountInfo::read())
            isMount = isMount || m.mountPoint == mountPoint;
        return isMount && CVolumeMounter::unmountVolume(mountPoint);
    }
    // Disk-image destinations attach without a password (an encrypted image then fails with
    // the tool's comment); an image that is already attached answers its present mount.
    bool attachDiskImage(const QString& imagePath, QString* contentPath, QString* comment) override
    {
        DiskImageTool tool;
        const QString mountPoint = tool.attach(imagePath, QByteArray(), false, comment);
        if (mountPoint.isEmpty())
            return false;
        if (contentPath)
            *contentPath = DiskImageTool::contentPath(mountPoint);
        return true;
    }
    // Unmounts and releases the image; NO while it is busy or not attached.
    bool detachDiskImage(const QString& imagePath) override
    {
        DiskImageTool tool;
        QString comment;
        if (tool.detach(imagePath, &comment))
            return true;
        QVFullLog(QStringLiteral("Disk image %1: %2").arg(imagePath, comment));
        return false;
    }
};

ILocationServices* g_installed = nullptr;

} // namespace

ILocationServices& ILocationServices::shared()
{
    static SystemLocationServices system;
    return g_installed ? *g_installed : system;
}

void ILocationServices::setShared(ILocationServices* services)
{
    g_installed = services;
}
