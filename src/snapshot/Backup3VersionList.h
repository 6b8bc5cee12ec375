#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

// The version list "qv3info.plist" of a snapshot-backup project folder and the names of the
// version folders beside it.
//
// The list is a dictionary: "ProjectUUID", "LastDate", "LastFolder" and "ProcessDataArray" (one
// entry per version, oldest first: "Date", "Folder", optional "Locations"). It is read leniently
// (values of another type count as missing) and written atomically as XML.
class Backup3VersionList
{
public:
    static QString fileName(); // "qv3info.plist"
    static QString workFolderName(); // "QV3ProcessTemporaryFolder"

    // "b3_yyyy-MM-dd_HH-mm-ss" from a local date and time.
    static QString versionFolderName(const QDateTime& date);
    // True only for names of exactly that form (no "..", no "/", nothing else).
    static bool isVersionFolderName(const QString& name);
    // The local date of a version folder name; invalid for other names.
    static QDateTime dateFromVersionFolderName(const QString& name);

    enum class State
    {
        Missing, // no file
        Ok, // a dictionary
        Empty, // a file without content or with an empty dictionary
        Corrupt, // a file that does not parse as a dictionary
        Unreadable, // a file that cannot be read (permissions, a folder)
    };
    struct ReadResult
    {
        State state = State::Missing;
        QVariantMap dict;
        QString error;
    };
    static ReadResult read(const QString& projectFolder);
    static ReadResult readFile(const QString& path);
    // The dictionaries of "ProcessDataArray", oldest first; entries of another type are left out.
    static QVariantList entries(const QVariantMap& dict);
    static bool write(const QString& projectFolder, const QVariantMap& dict, QString* error = nullptr);

    // Moves the list aside inside its folder, to "~qv3info.plist" or the first free
    // "~qv3infoN.plist"; the new name, or null with *error.
    static QString moveAside(const QString& projectFolder, QString* error = nullptr);

    // The version folders directly inside the project folder, oldest first (by name, which sorts
    // by date); symbolic links and other entries are left out.
    static QStringList versionFolders(const QString& projectFolder);
    // A list rebuilt from the version folders: entries with "Date" from the name and "Folder",
    // without "Locations"; "LastDate" and "LastFolder" from the newest one.
    static QVariantMap rebuildFromFolders(const QString& projectFolder, const QString& projectUUID);
};
