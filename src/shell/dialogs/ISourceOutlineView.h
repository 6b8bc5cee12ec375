#pragma once

#include "shell/dialogs/IDDOutlineView.h"

// The content outline of the project panes with include check boxes (snapshot sources,
// archive and synchronization trees, restore trees). A press in the check column toggles that
// row through the model (setData with Qt::CheckStateRole) and leaves the selection alone; the
// release that follows does nothing more, so the box is not toggled twice. A click on the check
// column's header toggles every row: checkAllToggled(false) (uncheck all) first, then true,
// alternating. The view remembers the cell clicked last.
class ISourceOutlineView : public IDDOutlineView
{
    Q_OBJECT
public:
    explicit ISourceOutlineView(QWidget* parent = nullptr);

    void setCheckColumn(int column) { m_checkColumn = column; }
    int checkColumn() const { return m_checkColumn; }
    // The row and column of the last press (-1 before the first).
    QModelIndex lastClickedIndex() const { return m_lastClicked; }
    int lastClickedColumn() const { return m_lastClicked.isValid() ? m_lastClicked.column() : -1; }
    // The next header toggle: true checks all.
    bool checkToAllState() const { return m_checkToAll; }
    void setCheckToAllState(bool checkAll) { m_checkToAll = checkAll; }

Q_SIGNALS:
    void checkAllToggled(bool checkAll);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    bool isCheckPress(QMouseEvent* event, QModelIndex* index) const;

    int m_checkColumn = 0;
    QPersistentModelIndex m_lastClicked;
    bool m_swallowRelease = false;
    bool m_checkToAll = false;
};
