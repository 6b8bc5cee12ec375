#pragma once

#include "platform/MountInfo.h"

#include <QString>
#include <QStringList>
#include <utility>

class APFSContainer;

// The volume preparer run before a bootable clone: finds or makes the destination's System/Data
// volume group, fills the destination container's Preboot and Recovery volumes with the folder of
// the destination volume, or cleans a destination container. Containers are btrfs file systems,
// volumes their registered subvolumes (see APFSContainer).
//
//   qv3_apfs_preparer SOURCE DESTINATION [SourceDoubleVolume | CleanVolume]
//
// Exit status: 0 done; 1 a side is not a volume of this kind, the destination Recovery volume was
// not reached, or a cleaning deleted volumes; 2 the volume group was not prepared; 255 usage.
class APFSPreparer
{
public:
    static int run(const QStringList& arguments);

    // System and Data names of a group made from a volume of that name: "Mac" → ("Mac",
    // "Mac - Data"); "Mac - Data" → ("Mac", "Mac - Data").
    static std::pair<QString, QString> groupNames(const QString& volumeName);

    static QString version(); // "4.2"

    // A new empty folder beside a volume's mount point, named after another volume (with a
    // number when taken), for mounting that volume; empty when none could be made.
    static QString freeFolderBeside(const QString& mountPoint, const QString& name);

private:
    struct Side
    {
        QString path;
        bool isBtrfs = false;
        MountEntry mount;
        quint64 subvolumeId = 0;
        QString device; // "<device>s<id>", empty when not found
        QString mountPoint;
    };
    struct AccessoryResult
    {
        bool copied = false;
        bool destinationReached = false; // the destination volume was found or created
        bool createdWithoutFolder = false; // created, but its UUID folder was not made
    };

    static void printUsage();
    static Side examine(const QString& path);
    static bool prepareGroup(APFSContainer& container, Side& destination);
    static int cleanContainer(APFSContainer& container);
    static AccessoryResult prepareAccessory(bool preboot, APFSContainer& source, const Side& sourceSide,
        APFSContainer& destination, const Side& destinationSide, const QString& workFolder);
};
