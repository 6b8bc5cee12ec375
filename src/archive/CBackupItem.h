#pragma once

#include "archive/CBackupItemsContainer.h"

class IBackupItemNode;

// Item flags.
enum CBackupItemFlag : quint32
{
    BIF_FOLDER = 0x1,
    BIF_HIDDEN = 0x2,
    BIF_LINK = 0x4,
    BIF_APPLICATION = 0x40,
    BIF_DS_STORE = 0x80,
    BIF_PACKAGE = 0x100,
    BIF_PASSES_FILTERS = 0x800,
    BIF_INCLUDED_BY_USER = 0x1000,
    BIF_EXCLUDED = 0x2000,
    BIF_LOCATED = 0x4000, // known from an archive's listing
    BIF_EXISTS = 0x8000,
};

// One file or folder of the selection tree. A top-level item stores its absolute path, every
// other item its name only.
class CBackupItem : public CBackupItemsContainer
{
public:
    CBackupItem(const QString& path, CBackupItem* parent, CBackup* project);
    ~CBackupItem() override;

    void refreshFromDisk(CBackup* project, bool addSubItems, bool skipExcluded, bool resetLocated) override;
    void applyFilters(CBackup* project, bool apply, bool recurse) override;
    void resetLocationInBackup() override;
    CBackupItem* tarFindBackupItem(const QStringList& components, bool& found, int& level) override;
    CBackupItem* getParent() const override { return m_parent; }
    void saveToDict(QVariantMap&) const override { }
    void loadFromDict(const QVariantMap&) override { }
    void serialize(CUDArch& arch, bool flag) override;
    CBackup* owningProject() override { return m_project; }

    void setPath(const QString& path);
    QString storedPath() const { return m_path; }
    QString getName() const;
    QString getPath() const;
    QString getAbsolutePath() const;
    CBackupItem* getRootItem();
    bool isTopLevel() const { return m_parent == nullptr; }

    quint32 flags() const { return m_flags; }
    void setFlags(quint32 flags) { m_flags = flags; }
    bool isFolder() const { return m_flags & BIF_FOLDER; }
    bool isIncluded() const
    {
        return (m_flags & (BIF_PASSES_FILTERS | BIF_INCLUDED_BY_USER)) && !(m_flags & BIF_EXCLUDED);
    }
    // A folder whose children are walked: not a link, and not a package unless packages are
    // resolved as folders.
    bool isWalkable() const;
    bool exists() const { return m_flags & BIF_EXISTS; }
    void setIncludeByUser(bool include);
    bool isParentIncluded() const;

    quint64 size() const { return m_size; }
    void setSize(quint64 size) { m_size = size; }
    QDateTime modificationDate() const { return m_modDate; }
    void setModificationDate(const QDateTime& date) { m_modDate = date; }
    QDateTime lastBackupDate() const { return m_lastBackupDate; }
    void setLastBackupDate(const QDateTime& date) { m_lastBackupDate = date; }
    void setIncludedToStream(bool on) { m_includedToStream = on; }
    bool wasIncludedToStream() const { return m_includedToStream; }
    void setInListForBackup(bool on) { m_inListForBackup = on; }
    bool isInListForBackup() const { return m_inListForBackup; }
    quint32 creator() const { return m_creator; }
    quint32 fileType() const { return m_type; }
    QString getPreferredTimeZone() const;

    void setNode(IBackupItemNode* node) { m_node = node; }
    IBackupItemNode* node() const { return m_node; }

    // History.
    void addHistoryStateChanging(quint16 index, quint16 state);
    void removeHistoryStateForIndex(quint16 index);
    bool getLastHistoryState(CBIHistoryState* out) const;
    int getHistoryItemsCount() const { return int(m_history.size()); }
    const std::vector<CBIHistoryState>& history() const { return m_history; }
    quint32 getFirstHystoryIndex() const;
    bool isInsertedInArchive(int index) const;
    bool isInsertedInArchives(int a, int b) const;
    void openHistoryAtIndex(int) { }
    void closeHistoryAtIndex(int) { }
    void serializeItemHistoryBlock(CUDArch& arch);

    void refreshFromTarComponents(const QString& mode, const QString& size, const QString& date,
        const QString& time, const QString& path);
    void addSubItmesFromDisk(CBackup* project, bool addSubItems, bool skipExcluded, bool resetLocated);

    bool copyRsrcForkToBackupLocation() { return false; }
    bool restoreRsrcFork() { return false; }
    bool restoreCreatorType() { return false; }

    // Writes the item's line (after its parents' lines) into a build list; the lines written.
    int includeItemToStream(FILE* file, int& count);

    // The name the tree sorts by (a top-level item's last path component).
    QString sortName() const;

    static QString placeholderName(); // the name of an item without a path

protected:
    CBackupItem* asItem() override { return this; }

private:
    friend class CBackupItemsContainer;
    friend class CBackup;

    bool m_includedToStream = false;
    CBackup* m_project = nullptr;
    QString m_path;
    QDateTime m_modDate;
    QDateTime m_lastBackupDate;
    bool m_inListForBackup = false;
    quint64 m_size = 0;
    quint32 m_flags = BIF_PASSES_FILTERS;
    quint32 m_creator = 0;
    quint32 m_type = 0;
    CBackupItem* m_parent = nullptr;
    IBackupItemNode* m_node = nullptr;
    std::vector<CBIHistoryState> m_history;
};

// The tree's sort order: names ignoring case, then exactly, then (top level) the absolute paths.
bool backupItemLess(const CBackupItem& a, const CBackupItem& b);
