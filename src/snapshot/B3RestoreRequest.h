#pragma once

#include "snapshot/B3RestoreItem.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>
#include <optional>

// What a restore is made of, read from a project folder: its versions (from "qv3info.plist",
// newest first), the source rows of a version, and the restore rows for everything or for a
// selection. The restore sheet and the headless driver build their requests here.
//
// The version list may come from anywhere (a restore from a folder outside the project list), so
// it is read as untrusted: "Folder" and "ArchiveName" count only as one path component and only
// when they name a real folder (lstat, no symbolic link) inside the project folder.
namespace B3RestoreRequest {

struct Version
{
    qsizetype entryIndex = -1; // index in "ProcessDataArray"
    QDateTime date;
    QString folder; // null when the entry has no usable "Folder"
    QVariantList locations;
    bool enabled = false; // the version folder exists
};

struct Listing
{
    bool readable = false; // the list read as a dictionary
    QList<Version> versions; // newest first
    int selected = -1; // the newest enabled version, -1 without one
};
Listing listVersions(const QString& projectFolder);

// One top-level row of a version: a source as it lies in the version folder.
struct SourceRow
{
    QString path; // full path of the row inside the version folder
    QString archiveName; // the wrapper folder ("Docs.wrp1")
    QVariantMap location; // the stored source location
    qint64 tag = -1;
    bool isFolder = false; // as the version list records it
    bool present = false; // the row's path exists
    QString displayName;
};
// The rows of a version, in the list's order; entries without a usable "ArchiveName" give none.
QList<SourceRow> sourceRows(const QString& projectFolder, const Version& version);

// A selected item: a source row and the path below it ("" for the row itself).
struct Selected
{
    qsizetype row = -1;
    QString below;
};

// One request row per source row, without a level.
std::optional<QList<B3RestoreItem>> rowsForAll(const QList<SourceRow>& rows, QString* error);
// One request row per selected item, with its level below the source row.
std::optional<QList<B3RestoreItem>> rowsForSelection(
    const QList<SourceRow>& rows, const QList<Selected>& selection, QString* error);

// A path relative to the version folder whose first component is a source's "ArchiveName"
// ("Docs.wrp1/Docs/a/b.txt"); refused when it names no row, lies above the source row, has a
// "." or ".." component, or does not exist.
std::optional<Selected> parseItem(
    const QList<SourceRow>& rows, const QString& versionFolderPath, const QString& item, QString* error);

// Where each row would be written by a restore to the original places (no target folder).
QStringList inPlaceTargets(const QList<B3RestoreItem>& items);

// The name of the temporary project of a restore from a folder: the folder name without a
// trailing "_<UUID>", the whole name otherwise, the default name when nothing is left.
QString externalRestoreName(const QString& folderName);
QString defaultExternalRestoreName();
// The chooser's check: null when exactly one folder is chosen and it holds "qv3info.plist" as a
// regular file, else the text to show.
QString validateExternalFolder(const QStringList& paths);

} // namespace B3RestoreRequest
