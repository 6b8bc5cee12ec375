#pragma once

#include "archive/IBackupItemNode.h"
#include "projects/ExcludeToggler.h"

#include <QAbstractItemModel>
#include <memory>
#include <vector>

class CBackup;
class CBackupItem;

// The node the outline keeps beside one item of an archive project's selection tree: the item
// clears the node's pointer when it is destroyed, so the outline never reaches a freed item.
class ArchiveContentNode : public IBackupItemNode
{
public:
    enum Attr : quint32
    {
        Folder = 1,
        Included = 2,
        Partly = 8,
    };
    explicit ArchiveContentNode(CBackupItem* item);
    ~ArchiveContentNode() override;
    void setPBackupItemNil() override { m_item = nullptr; }

    CBackupItem* item() const { return m_item; }
    quint32 attr = 0;
    bool shouldRefresh = true; // the children are read from disk at the next expansion
    bool fetched = false; // the outline shows the children
    bool deletedFromBackup = false;

private:
    CBackupItem* m_item;
};

// The content of an archive project as an outline with include check boxes: one class for the
// main window's outline, the detailed-content sheet and the restore sheet. Folders are read when
// they are opened (fetchMore), never inside rowCount() or hasChildren(); collapsing marks a folder
// for a new read. The check boxes set the items' include flags and keep the project's exclude
// list minimal: a folder whose children are all unchecked is listed alone, no entry lies below
// another. Reset the model (setProject, reload) before the project's tree is freed or rebuilt.
class ArchiveContentModel : public QAbstractItemModel
{
    Q_OBJECT
public:
    enum Column
    {
        ColIncluded = 0,
        ColName = 1,
        ColLocation = 2,
        ColDate = 3,
        ColSize = 4,
        ColumnCount = 5
    };
    enum Role
    {
        PathRole = Qt::UserRole + 1, // the item's absolute path
        AttrRole,
        ItemRole, // the CBackupItem* as quintptr
    };
    enum class Mode
    {
        Main, // the main window: items marked deleted are hidden
        Restore, // the restore sheet: every top-level item, "Location" from the selected archive
    };

    explicit ArchiveContentModel(Mode mode = Mode::Main, QObject* parent = nullptr);
    ~ArchiveContentModel() override;

    // Shows the project (nullptr: nothing); a reset.
    void setProject(CBackup* project);
    CBackup* project() const { return m_project; }
    // The project's tree was rebuilt or reloaded: a reset.
    void reload();
    void setReadOnly(bool on) { m_readOnly = on; }
    Mode mode() const { return m_mode; }

    // Check (true) or uncheck one row, or every row; the edit goes to the project.
    void setIncluded(const QModelIndex& index, bool include);
    void setAllIncluded(bool include);
    // The project's exclude list as the check boxes left it.
    QStringList excludeList() const { return m_excludes.entries(); }
    // Marks the top-level item deleted (kept for the archives that hold it).
    void setDeletedFromBackup(CBackupItem* item, bool on);
    bool isDeletedFromBackup(const CBackupItem* item) const;
    // Folding: the folder is read again at its next expansion.
    void collapsed(const QModelIndex& index);

    CBackupItem* itemAt(const QModelIndex& index) const;
    ArchiveContentNode* nodeOf(CBackupItem* item) const;
    QModelIndex indexOfItem(CBackupItem* item, int column = 0) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

signals:
    // A check box changed the project (its flags and exclude list).
    void contentEdited();

private:
    void clearNodes();
    void announceReset();
    std::vector<CBackupItem*> topItems() const;
    // Include bits of a read item from the list.
    // force: the list decides (after a check box); otherwise an item the project keeps out stays
    // out and is listed.
    void markFromList(CBackupItem* item, bool parentIncluded, bool force);
    void collectExcluded(CBackupItem* item, bool parentIncluded);
    void remarkSubtree(CBackupItem* item, bool parentIncluded);
    void refreshAncestors(CBackupItem* item);
    void storeExcludes();
    bool allChildrenListed(CBackupItem* folder) const;
    void emitSubtreeChanged(CBackupItem* item);

    Mode m_mode;
    CBackup* m_project = nullptr;
    bool m_readOnly = false;
    bool m_fetching = false;
    StringExcludeList m_excludes;
    std::vector<std::unique_ptr<ArchiveContentNode>> m_nodes;
};
