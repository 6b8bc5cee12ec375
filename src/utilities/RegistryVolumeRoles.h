#pragma once

#include "utilities/IVolumeRoles.h"

// Roles of btrfs volume-model volumes as their file system's registry names them. The
// registry is read where the file system's top level is mounted; a volume without a registry
// object answers a null text, one whose entry has no role "No specific role".
class RegistryVolumeRoles : public IVolumeRoles
{
public:
    QString roleNameForDevice(const QString& deviceName) override;
};
