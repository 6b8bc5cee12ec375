#pragma once

#include "panes/sync/SyncPaneRules.h"

#include <QTreeView>
#include <functional>

class AnalyzeOutlineModel;

// The analysis outline's view: the rows of AnalyzeOutlineModel, the include check boxes in the
// first column (a click toggles without selecting: a partly checked folder becomes unchecked),
// the header's check-all toggle, the context menu over the row under the pointer, and the
// centred hint while there is nothing to compare.
class IQVSyncAnalyzeView : public QTreeView
{
    Q_OBJECT
public:
    explicit IQVSyncAnalyzeView(QWidget* parent = nullptr);

    void setAnalyzeModel(AnalyzeOutlineModel* model);
    AnalyzeOutlineModel* analyzeModel() const { return m_model; }
    // The hint shown instead of the rows.
    using EmptyState = std::function<SyncPaneRules::EmptyState()>;
    void setEmptyState(EmptyState state) { m_emptyState = std::move(state); }
    // Whether the menu's check and reveal items may act (projects exist, nothing runs).
    void setEditable(std::function<bool()> editable) { m_editable = std::move(editable); }

    // Re-expands the remembered folders below parent (after a reload or a re-listing).
    void expandItemsIfNeed(const QModelIndex& parent = QModelIndex());
    // "Show in Finder": each side of the first selected row that exists.
    void showInFinder();
    QMenu* buildContextMenu();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    bool isCheckClick(const QPoint& pos, QModelIndex* index) const;

    AnalyzeOutlineModel* m_model = nullptr;
    EmptyState m_emptyState;
    std::function<bool()> m_editable;
    bool m_restoring = false;
};
