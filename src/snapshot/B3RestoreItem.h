#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

class ILocation;

// One item of a snapshot restore request, written by the restore sheet: the source the item was
// backed up from, its path inside the version folder (ending in its own name), whether it is a
// folder, and how many of its parent folders to recreate in the target.
//
// Rows can come from an untrusted version list (a restore from an image kept elsewhere), so they
// are only made through make(), which refuses a path that could leave the version folder and a
// level deeper than the path.
struct B3RestoreItem
{
    std::shared_ptr<ILocation> SrcLocation; // may be null: the item then names no source
    QString ArchivePath; // null when the row carried none
    bool IsFolder = false;
    std::optional<qint64> ItemLevelNumber;

    // The components of ArchivePath, empty parts dropped.
    QStringList components() const;
    // ItemLevelNumber, 0 when absent.
    qint64 level() const { return ItemLevelNumber.value_or(0); }

    // A checked row: a null archivePath is kept (the engine fails such an item), but a path with
    // a "." or ".." component or a NUL, or a level below 0 or above the number of parent folders
    // the path has, is refused with *error set.
    static std::optional<B3RestoreItem> make(std::shared_ptr<ILocation> srcLocation,
        const QString& archivePath, bool isFolder, std::optional<qint64> itemLevelNumber,
        QString* error = nullptr);

    // True for a name that can stand as one path component: not empty, not "." or "..", no "/"
    // and no NUL. Names read from a version list ("Folder", "ArchiveName") must pass it.
    static bool isSinglePathComponent(const QString& name);
};
