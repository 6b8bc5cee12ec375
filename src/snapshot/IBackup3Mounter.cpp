#include "snapshot/IBackup3Mounter.h"

#include "projects/ILocation.h"
#include "utilities/CVolumeMounter.h"
#include "utilities/IDiskUtil.h"

namespace {
IBackup3Mounter* g_installed = nullptr;
}

IBackup3Mounter& IBackup3Mounter::shared()
{
    static IBackup3Mounter systemMounter;
    return g_installed ? *g_installed : systemMounter;
}

void IBackup3Mounter::setShared(IBackup3Mounter* mounter)
{
    g_installed = mounter;
}

bool IBackup3Mounter::mountLocation(ILocation* location, qint64 mark)
{
    return CVolumeMounter::mountLocation(location, mark);
}

bool IBackup3Mounter::unmountLocation(ILocation* location, qint64 mark)
{
    return CVolumeMounter::unmountLocation(location, mark);
}

QString IBackup3Mounter::volumeBSDNameByUUID(const QString& uuid, bool* isMounted)
{
    return IDiskUtil::shared().getVolumeBSDNameByUUID(uuid, isMounted);
}

QString IBackup3Mounter::mountDiskForVolumeBSDName(const QString& device)
{
    return IDiskUtil::mountDiskForVolumeBSDName(device);
}
