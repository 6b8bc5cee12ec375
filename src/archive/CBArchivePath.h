#pragma once

#include <QString>

// One archive of a project's archive list: where it was written and its file name. A split
// archive is listed as "<name>.cnt<N>".
struct CBArchivePath
{
    QString pathFromMountPoint; // the archive folder's path from its volume's mount point
    QString URLStr; // the volume's URL text
    QString fileName;
    qint32 deviceType = -1; // the destination's device type at build time, -1 none
};
