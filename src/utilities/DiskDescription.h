#pragma once

#include <QString>
#include <QVariantMap>

// The description of one volume as the disk information loads it: the dictionary (disk-
// arbitration keys, or the key/value text form), its kind and the partition scheme of the
// volume's whole disk. A value object: each caller keeps its own.
class DiskDescription
{
public:
    // Kinds of the loaded description.
    enum InfoType
    {
        None = 0,
        DiskArbitration = 1,
        InfoText = 2,
        Ownership = 3
    };

    DiskDescription() = default;
    DiskDescription(const QVariantMap& dict, int infoType, const QString& wholePartitionType)
        : m_dict(dict)
        , m_infoType(infoType)
        , m_wholePartitionType(wholePartitionType)
    { }

    const QVariantMap& dict() const { return m_dict; }
    QVariantMap& dict() { return m_dict; }
    int currentInfoType() const { return m_infoType; }
    void setCurrentInfoType(int type) { m_infoType = type; }
    QString wholePartititonType() const { return m_wholePartitionType; }
    void setWholePartitionType(const QString& type) { m_wholePartitionType = type; }

    QString protocol() const; // upper case; null for other kinds
    QString volumeUUID() const;
    QString fileSystem() const; // "EXT4", "BTRFS", … upper case
    bool isHFS() const; // ext2/3/4, xfs (and hfs) through the one kind table
    bool isAPFS() const; // btrfs (and apfs)
    QString BSDName() const;
    bool isOwnersEnabled() const;
    QString strForKey(const QString& key) const; // null unless a text
    qint64 intForKey(const QString& key) const; // -1 unless a number
    bool boolForKey(const QString& key) const; // YES only for the text "Yes"
    bool isBootable() const;
    bool isVisible() const;

private:
    QVariantMap m_dict;
    int m_infoType = None;
    QString m_wholePartitionType;
};
