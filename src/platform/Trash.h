#pragma once

#include <QByteArray>
#include <QString>

// Moving files to the Trash, following the freedesktop.org Trash specification, over byte
// paths so that names which are not valid UTF-8 keep their bytes.
//   - Files on the file system of the home trash go to $XDG_DATA_HOME/Trash/{files,info}.
//   - Files elsewhere go to <top>/.Trash/<uid> when the administrator made a sticky, real
//     <top>/.Trash folder, else to <top>/.Trash-<uid> (0700), <top> being the mount point.
//   - The ".trashinfo" file's Path= holds the percent-encoded bytes of the original path
//     (absolute for the home trash, relative to <top> elsewhere) and DeletionDate= local time.
class Trash
{
public:
    // Moves path (a file, link or folder) to the Trash; false and *error on failure.
    static bool moveToTrash(const QByteArray& path, QString* error = nullptr);

    // The trash folder (holding files/ and info/) that moveToTrash would use for path, made when
    // missing; empty with *error when there is none.
    static QByteArray trashFolderFor(const QByteArray& path, QString* error = nullptr);

    // The home trash: $XDG_DATA_HOME/Trash.
    static QByteArray homeTrash();
};
