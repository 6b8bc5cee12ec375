#include "projects/IPlaceMounter.h"

#include "projects/ILocation.h"
#include "utilities/CVolumeMounter.h"
#include "utilities/IDiskUtil.h"

namespace {
IPlaceMounter* g_installed = nullptr;
}

IPlaceMounter& IPlaceMounter::shared()
{
    static IPlaceMounter systemMounter;
    return g_installed ? *g_installed : systemMounter;
}

void IPlaceMounter::setShared(IPlaceMounter* mounter)
{
    g_installed = mounter;
}

bool IPlaceMounter::mountLocation(ILocation* location, qint64 mark)
{
    return CVolumeMounter::mountLocation(location, mark);
}

bool IPlaceMounter::unmountLocation(ILocation* location, qint64 mark)
{
    return CVolumeMounter::unmountLocation(location, mark);
}

QString IPlaceMounter::volumeBSDNameByUUID(const QString& uuid, bool* isMounted)
{
    return IDiskUtil::shared().getVolumeBSDNameByUUID(uuid, isMounted);
}

QString IPlaceMounter::mountDiskForVolumeBSDName(const QString& device)
{
    return IDiskUtil::mountDiskForVolumeBSDName(device);
}

QString IPlaceMounter::unmountDiskForVolumeBSDName(const QString& device, bool tryContainer)
{
    return IDiskUtil::unmountDiskForVolumeBSDName(device, tryContainer);
}
