#pragma once

#include "archive/ArchiveRestoreMembers.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <cstdio>
#include <memory>
#include <vector>

class CBackup;
class CBackupItem;
class CUDArch;

// One history record of an item: from the archive at `index` on, the item's state is `state`
// (0x1 stored in that archive, 0x2 existed on disk at that build). Stored as two
// little-endian 16-bit units.
struct CBIHistoryState
{
    quint16 index = 0;
    quint16 state = 0;
    bool operator==(const CBIHistoryState& o) const { return index == o.index && state == o.state; }
};

// A node of the archive selection tree that holds children: the project itself (the root) or a
// folder item. Children are kept sorted by name, ignoring case, with an exact tie-break, so
// that insertion and lookup are binary searches and names that differ only in case ("README"
// and "readme", two files on Linux file systems) are two items.
class CBackupItemsContainer
{
public:
    CBackupItemsContainer();
    virtual ~CBackupItemsContainer();
    CBackupItemsContainer(const CBackupItemsContainer&) = delete;
    CBackupItemsContainer& operator=(const CBackupItemsContainer&) = delete;

    virtual int collectExcludedItemsToStream(FILE* file, bool incremental, bool recurse);
    virtual void refreshFromDisk(CBackup* project, bool addSubItems, bool skipExcluded, bool resetLocated);
    virtual void applyFilters(CBackup* project, bool apply, bool recurse);
    virtual void resetLocationInBackup();
    virtual CBackupItem* tarFindBackupItem(const QStringList& components, bool& found, int& level);
    virtual CBackupItem* getParent() const { return nullptr; }
    virtual void clearLastBackupDate();
    virtual void saveToDict(QVariantMap& dict) const;
    virtual void loadFromDict(const QVariantMap& dict);
    virtual void serialize(CUDArch& arch, bool flag);

    // The child with this path, new or already there; nullptr when no item can be made.
    CBackupItem* insertNewItem(const QString& path, CBackupItem* parent);
    // Children dropped from the list are destroyed (their content-pane nodes are told).
    void removeItemAt(int index);
    void removeItem(CBackupItem* item);
    void removeAllItems();

    int count() const { return int(m_items.size()); }
    CBackupItem* itemAt(int index) const;
    int indexOf(const CBackupItem* item) const;

    quint64 computeTotalFileCount() const;
    // The list writers; each returns the number of lines written.
    int collectIncludedFilesToStream(FILE* file, bool incremental, double& totalSize);
    // A whole restore's members: every item (with recurse, every one below), each top-level item
    // with its subtree in the group of its folder when toOriginalPlaces (and the archive stores
    // relative names), else in the group without a folder; absolutePaths: the items' absolute
    // paths. Returns the number of names added.
    int collectItemsForRestore(RestoreMembers& members, bool recurse, bool toOriginalPlaces, int index,
        bool onlyInArchive, bool absolutePaths);
    int collectIncludedItemsToStream(FILE* file, bool recurse);
    static bool needExcludeFromIncrementalBackup(const CBackupItem* item);

    void clearIncludedToStreamFlag();
    void setLastBackupDateToItems(const QDateTime& date);
    void addHistoryDataForBackupArchive(int index);
    void removeHistoryDataForBackupArchive(int index);
    void setLegacyHistory(CBackup* project);

    // Binary search by name (ignoring case); the lower bound when nothing matches.
    int tarComp_lower_baund(const QString& name, bool& found) const;

    // The project the tree belongs to (the container itself for a project).
    virtual CBackup* owningProject() = 0;

protected:
    // The container as an item (nullptr for the project).
    virtual CBackupItem* asItem() { return nullptr; }
    // Reads (a reading archive) or writes the children.
    void serializeChildren(CUDArch& arch, bool flag);
    // Inserts many names at once: sorted first, so a large folder costs no more than a sort.
    void insertNames(const QStringList& names, CBackupItem* parent);

    std::vector<std::unique_ptr<CBackupItem>> m_items;
};
