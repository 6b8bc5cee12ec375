#pragma once

#include "sync/IAnalyzeController.h"

#include <QAbstractItemModel>
#include <QSet>
#include <QStringList>
#include <functional>
#include <memory>

class IAnalyzeProcController;
class ISynchronizeController;

// The analysis outline of the synchronization pane over the comparison tree: one row per name
// found on either side, with the left item, the direction mark, the right item and the include
// check box that edits the project's exclude path list. Children are read when a folder is first
// opened and re-read when it is opened again; the analysis run reaches the tree through
// IAnalyzeController and the rows are rebuilt when it reloads. Main thread only.
class AnalyzeOutlineModel : public QAbstractItemModel, public AnalyzeTreeModel
{
    Q_OBJECT
public:
    enum Column
    {
        ColIncluded = 0,
        ColSource = 1,
        ColDirection = 2,
        ColDestination = 3,
        ColumnCount = 4
    };
    // The direction image's resource name (DecorationRole gives the icon).
    static constexpr int DirectionNameRole = Qt::UserRole + 1;
    static constexpr int FlagsRole = Qt::UserRole + 2;

    explicit AnalyzeOutlineModel(QObject* parent = nullptr);
    ~AnalyzeOutlineModel() override;

    // The project shown: a project of another kind counts as none. A running analysis of the
    // previous project is stopped.
    void setProject(const std::shared_ptr<ISynchron>& project);
    void setPane(ISynchronizeController* pane) { m_pane = pane; }

    // ---- IAnalyzeController (the run reaches the tree through these) ----
    void prepareFileTree() override;
    void reloadData() override;
    void finalAnalyze() override;
    void setFileTreeFlagOn(qint64 mask) override;
    void setFileTreeFlagOff(qint64 mask) override;
    void clearTree() override;
    void setArrows(bool show);

    // The pane's requests.
    // Starts the analysis, or stops the one running; false when another run is in progress.
    bool analyzeCurrentSync();
    void stopAnalyze();
    bool isAnalyzing() const;
    // Every engine program an analysis writes, as its text (benchmarks rerun its rsync bare).
    void setProgramObserver(std::function<void(const QByteArray&)> observer);
    // The folders, direction or kit changed (the pane's event codes).
    void eventSyncParamsChanged(int code);
    // The project's results are dropped (the settings sheet's OK).
    void clearAnalyze();

    // Check boxes.
    void setItemIncluded(IAnalyzeFileSystemItem* item, bool include);
    void checkAll();
    void uncheckAll();
    // The header's toggle: the first click unchecks all, the next checks all.
    void toggleAllChecks();
    // As setItemIncluded for each row in turn (a row given twice counts once), with the same
    // checks and exclude list as that gives, but at a cost that grows with the rows given, not
    // with the size of their folders; the rows are announced changed once at the end.
    void setSelectedIncluded(const QModelIndexList& rows, bool include);

    // Opened folders: remembered by local path and opened again after a reload.
    void folderExpanded(const QModelIndex& index);
    void folderCollapsed(const QModelIndex& index);
    const QStringList& expandedFolders() const { return m_expanded; }
    // Re-reads an opened folder from both sides; afterOpening skips a folder that the same
    // opening has just read.
    void relistFolder(const QModelIndex& index, bool afterOpening = false);

    IAnalyzeFileSystemItem* itemAt(const QModelIndex& index) const;
    QModelIndex indexOfItem(const IAnalyzeFileSystemItem* item, int column = 0) const;
    QModelIndex indexOfLocalPath(const QString& localPath) const;

    // QAbstractItemModel
    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

signals:
    // After a reload: the view opens the remembered folders again.
    void reloaded();
    void analyzeFinished();

private:
    class CheckBatch;
    // Resets nest: the tree's own calls reach the overrides while a reset is open.
    void beginReset();
    void endReset();
    IAnalyzeFileSystemItem* nodeOf(const QModelIndex& index) const;
    void setSubtree(IAnalyzeFileSystemItem* item, int check);
    void refreshParents(IAnalyzeFileSystemItem* item);
    static int stateOfAllBrothers(const IAnalyzeFileSystemItem* item);
    void addUncheckedBrothers(IAnalyzeFileSystemItem* item);
    void addToExcludeList(const QStringList& paths);
    void removeFromExcludeList(const QStringList& paths);
    void removeAtOrBelow(const QString& path);
    void emitChecksChanged(IAnalyzeFileSystemItem* from);
    void emitSubtreeChanged(IAnalyzeFileSystemItem* folder);

    std::unique_ptr<IAnalyzeProcController> m_processor;
    ISynchronizeController* m_pane = nullptr;
    QStringList m_expanded;
    bool m_checkToAllState = false;
    int m_resetDepth = 0;
    const IAnalyzeFileSystemItem* m_inserting = nullptr; // a folder whose rows are being announced
    QSet<const IAnalyzeFileSystemItem*> m_fresh; // read by fetchMore, not re-read by the same opening
};
