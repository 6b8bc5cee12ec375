#pragma once

#include <QString>

// The role of a volume of the btrfs volume model ("System", "Data", "No specific role"),
// looked up by device name ("loop3s256"). The volume model registers its implementation;
// without one every volume answers a null text (role unknown).
class IVolumeRoles
{
public:
    virtual ~IVolumeRoles() = default;

    static IVolumeRoles& shared();
    // nullptr restores the default; the caller keeps ownership
    static void setShared(IVolumeRoles* roles);

    virtual QString roleNameForDevice(const QString& deviceName) = 0;
};

class NullVolumeRoles : public IVolumeRoles
{
public:
    QString roleNameForDevice(const QString&) override { return QString(); }
};
