#pragma once

#include <QString>

// The disk image of a snapshot-backup project: its names and the size rules applied when it is
// made and when it is attached for writing. The image itself is handled by DiskImageTool.
class IDiskImage
{
public:
    static constexpr qint64 MinimumFreeForCreation
        = 100000000; // bytes; at or below 99,999,999 no image is made
    static constexpr int ProjectFileNameTail = 28; // "_" + UUID (36) cut to its first 8 characters

    // The image name of a project: "encr_" for an encrypted image, then the project's file name
    // ("<name>_<UUID>") without its last 28 characters. A file name too short for that gives null.
    static QString nameForProjectFileName(const QString& projectFileName, bool encrypted);
    static QString fileNameForName(const QString& name); // "<name>.sparsebundle"

    // Size in GB of a new image: the custom size (type 1) or, when that is 0, 90 % of the free
    // space; with any other type 90 % of the volume's capacity.
    static double createSizeInGB(
        int sizeType, double customValueGB, quint64 freeBytes, quint64 capacityBytes);

    // What attaching for writing does about the image's size (all sizes as the caller reads them:
    // holding volume in bytes, image volume in MB).
    struct FitDecision
    {
        enum Action
        {
            Keep, // size is fine: go on
            Grow, // resize to sizeGB
            Shrink, // ask for the smallest possible size, then resize to at most sizeGB
            Refuse // working state `state`
        } action
            = Keep;
        double sizeGB = 0;
        int state = 0;
        bool storeCustomValue = false; // Keep in custom mode stores the value again
    };
    static FitDecision fitDecision(int sizeType, double customValueGB, quint64 holdingFreeBytes,
        quint64 holdingCapacityBytes, double imageCapacityMB, double imageFreeMB);

    // The size a shrink may go to: the wanted size, or the smallest size when the wanted one is
    // below it (*raised says so). minimumGB 0 means unknown: the wanted size stays.
    static double shrinkTargetGB(double wantedGB, double minimumGB, bool* raised = nullptr);

    // "<base>.qv_saved.<ext>", then "<base>.qv_saved-1.<ext>", ... : the first name not in folder.
    static QString generateSavedNameForFileWithName(const QString& name, const QString& folderPath);
};
