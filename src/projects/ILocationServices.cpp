#include "projects/ILocationServices.h"

#include "platform/DiskFacts.h"
#include "platform/MountInfo.h"
#include "platform/Subprocess.h"
#include "utilities/IDiskUtil.h"
#include "utilities/IVolumeBase.h"

namespace {

// The system's own services: the volume table, disk information and the volume mounter.
class SystemLocationServices : public ILocationServices
{
public:
    QList<VolumeItemPtr> volumeItems() override
    {
        QList<VolumeItemPtr> items;
        IVolumeBase& base = IVolumeBase::shared();
        for (int slot = 0; slot < IVolumeBase::maxItems; ++slot) {
            if (VolumeItemPtr item = base.itemAtIndex(slot))
                items.append(item);
        }
        return items;
    }
    bool isVolumeBaseFilled() override { return IVolumeBase::shared().isBaseFilled(); }
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

    // A share is mounted when the table holds a network record with its URL.
    bool isVolumeMounted(LocationVolumeInfo& info) override
    {
        for (const VolumeItemPtr& item : volumeItems()) {
            if (item->connection != VolumeBaseItem::ConnectionNet || item->source != info.URL)
                continue;
            const QString mp = item->strMountPoint();
            const DiskFacts::Space space = DiskFacts::space(mp);
            info.displayName = item->name;
            info.mountPoint = mp;
            info.writable = !(item->flags & VolumeBaseItem::FlagReadOnly);
            info.removable = false;
            info.unmountable = true;
            info.totalMB = qint64(item->totalMB);
            info.freeMB = space.ok ? qint64(space.availableBytes() / 1000000) : qint64(item->freeMB);
            info.directAccess = false;
            info.local = false;
            return true;
        }
        return false;
    }
    // Mounting shares belongs to the volume mounter, which this build does not have yet.
    bool mountVolume(LocationVolumeInfo&, QString* error) override
    {
        if (error)
            *error = QStringLiteral("no share mounter");
        return false;
    }
    // Unmounts exactly the mount at mountPoint: FUSE mounts through fusermount3 (as their
    // owner may), others through umount (as root when needed).
    bool unmountVolume(const QString& mountPoint) override
    {
        const std::optional<MountEntry> entry = MountInfo::mountForPath(mountPoint, MountInfo::read());
        if (!entry || entry->mountPoint != mountPoint)
            return false;
        if (entry->fsType.startsWith(QLatin1String("fuse"))) {
            Subprocess::Options o;
            o.program = QStringLiteral("fusermount3");
            o.arguments = QStringList { QStringLiteral("-u"), QStringLiteral("--"), mountPoint };
            if (Subprocess::run(o, 60000).succeeded())
                return true;
        }
        const IDiskUtil::RootResult r = IDiskUtil::runRooted(
            QStringList { QStringLiteral("umount"), QStringLiteral("--"), mountPoint });
        return r.started && r.exitCode == 0;
    }
    bool attachDiskImage(const QString&, QString*, QString* comment) override
    {
        if (comment)
            *comment = QStringLiteral("disk images are not supported by this build");
        return false;
    }
    bool detachDiskImage(const QString&) override { return false; }
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
