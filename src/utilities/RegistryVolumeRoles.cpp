#include "utilities/RegistryVolumeRoles.h"

#include "utilities/IDiskUtil.h"

QString RegistryVolumeRoles::roleNameForDevice(const QString& deviceName)
{
    return IDiskUtil::getStringWithRoleForBSDName(deviceName);
}
