#pragma once

#include <QMap>
#include <QString>

// Names, roles and groups of the volumes (subvolumes) of one btrfs file system, kept in a
// property list at the file system's top level ("<top level>/.qvvolumes.plist"):
//   { "Version": 1, "Volumes": [ { "SubvolumeID": 256, "UUID": "…", "Name": "Mac",
//                                  "Role": "System", "GroupUUID": "…" }, … ] }
// Role texts are those of the volume roles: "System", "Data", "Preboot", "Recovery", "VM",
// "Update"; an entry without "Role" has no role. The file is read leniently: an entry without a
// whole-number "SubvolumeID" is skipped, a key of another type counts as missing. A file that
// does not parse is reported (Corrupt) and never overwritten by save().
class BtrfsVolumeRegistry
{
public:
    struct Entry
    {
        QString name;
        QString role;
        QString groupUUID; // UuidText form, empty when the volume is in no group
        QString uuid; // the subvolume's UUID when the entry was written (for checks)
    };
    enum class Status
    {
        Ok,
        Missing,
        Unreadable,
        Corrupt
    };

    static QString fileName(); // ".qvvolumes.plist"
    static QString pathFor(const QString& topLevelPath);

    // Reads the registry of the file system whose top level is mounted at topLevelPath.
    Status load(const QString& topLevelPath, QString* error = nullptr);
    // Writes it atomically; false with *error when the file cannot be written or the file in
    // place does not parse (it is then kept aside first, never lost).
    bool save(const QString& topLevelPath, QString* error = nullptr) const;

    const QMap<quint64, Entry>& entries() const { return m_entries; }
    bool contains(quint64 subvolumeId) const { return m_entries.contains(subvolumeId); }
    Entry entry(quint64 subvolumeId) const { return m_entries.value(subvolumeId); }
    void setEntry(quint64 subvolumeId, const Entry& entry) { m_entries.insert(subvolumeId, entry); }
    bool removeEntry(quint64 subvolumeId) { return m_entries.remove(subvolumeId) > 0; }
    // Moves an entry to another subvolume id (a reverted volume gets a new subvolume).
    bool moveEntry(quint64 fromId, quint64 toId);
    // The ids of the volumes in the group, ordered by id.
    QList<quint64> groupMembers(const QString& groupUUID) const;
    // The id of the volume of that role in that group, or 0.
    quint64 memberWithRole(const QString& groupUUID, const QString& role) const;

private:
    QMap<quint64, Entry> m_entries;
};
