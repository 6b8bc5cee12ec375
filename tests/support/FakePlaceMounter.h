#pragma once

#include "projects/ILocation.h"
#include "projects/IPlaceMounter.h"

#include <QStringList>

// Records what a project of any kind asks to mount and unmount; a mount succeeds when told so.
// Install it with IPlaceMounter::setShared().
class FakePlaceMounter : public IPlaceMounter
{
public:
    bool mountSucceeds = true;
    QString device; // answer of volumeBSDNameByUUID
    QString diskAnswer = QStringLiteral("Volume(s) on sdz mounted successfully\n");
    QString unmountAnswer = QStringLiteral("Volume(s) on sdz unmounted successfully\n");
    QStringList calls;

    bool mountLocation(ILocation* l, qint64 mark) override
    {
        calls << QStringLiteral("mount %1").arg(l->getDisplayName());
        if (mountSucceeds)
            l->addFlag(ILocation::FlagMountedByProgram | mark);
        return mountSucceeds;
    }
    bool unmountLocation(ILocation* l, qint64) override
    {
        calls << QStringLiteral("unmount %1").arg(l->getDisplayName());
        l->removeFlag(ILocation::FlagUnmountAfterRun | ILocation::FlagMountedByProgram);
        return true;
    }
    QString volumeBSDNameByUUID(const QString&, bool* isMounted) override
    {
        if (isMounted)
            *isMounted = false;
        return device;
    }
    QString mountDiskForVolumeBSDName(const QString& d) override
    {
        calls << QStringLiteral("mount disk %1").arg(d);
        return diskAnswer;
    }
    QString unmountDiskForVolumeBSDName(const QString& d, bool tryContainer) override
    {
        calls << QStringLiteral("unmount disk %1%2")
                     .arg(d, tryContainer ? QStringLiteral(" container") : QString());
        return unmountAnswer;
    }
};
