#pragma once

#include "archive/CBArchivePath.h"

#include <QList>
#include <QString>
#include <QStringList>

// One tool job of an archive project's run: its pipeline stages and what the run end needs.
struct CBackupTaskDesc
{
    enum TaskOperation
    {
        OpBuild = 1,
        OpRestore = 3,
    };
    quint8 endStatus = 0; // work-end status bits
    QList<QStringList> stages; // element 0 of each stage is the tool path
    int mainTaskIndex = 0;
    int tarStage = 0; // the stage that runs tar
    int operation = OpBuild;
    quint8 processAttr = 0; // restores: 1 an earlier archive of the chain, 3 the chosen one
    int index = 0; // position within a chain restore
    int archNameIndex = 0; // restores: where the archive file goes into the first stage
    CBArchivePath place;
    QString archivePath; // builds: the archive file, or the split prefix ending in "."; restores: the archive
                         // read
    QString password; // held in memory for this job only
    QString backupSuffix; // restores: tar's suffix for files it moves aside
    QString extractFolder; // restores: the "-C" folder, "/" in place
    QStringList memberFolders; // restores: the "-C" folder of each member group, in order
    bool asRoot = false; // the project uses administrator rights: the job runs as root
    int volumeCount = 0; // restores of a split archive: its volumes, named to the cat tool one by one
    QString altVolumeFolder; // where the user said the volumes lie (the next ones are looked for there)
};
