#include "shell/dialogs/ISourceOutlineView.h"

#include <QHeaderView>
#include <QMouseEvent>

ISourceOutlineView::ISourceOutlineView(QWidget* parent)
    : IDDOutlineView(parent)
{
    setUniformRowHeights(true);
    header()->setSectionsClickable(true);
    connect(header(), &QHeaderView::sectionClicked, this, [this](int section) {
        if (section != m_checkColumn || !model())
            return;
        Q_EMIT checkAllToggled(m_checkToAll);
        m_checkToAll = !m_checkToAll;
    });
}

bool ISourceOutlineView::isCheckPress(QMouseEvent* event, QModelIndex* index) const
{
    if (event->button() != Qt::LeftButton)
        return false;
    const QModelIndex at = indexAt(event->position().toPoint());
    if (!at.isValid() || at.column() != m_checkColumn)
        return false;
    const QModelIndex check = at.siblingAtColumn(m_checkColumn);
    if (!(check.flags() & Qt::ItemIsUserCheckable) || !(check.flags() & Qt::ItemIsEnabled))
        return false;
    *index = check;
    return true;
}

void ISourceOutlineView::mousePressEvent(QMouseEvent* event)
{
    const QModelIndex at = indexAt(event->position().toPoint());
    m_lastClicked = at;
    QModelIndex check;
    if (!isCheckPress(event, &check)) {
        m_swallowRelease = false;
        IDDOutlineView::mousePressEvent(event);
        return;
    }
    const int state = check.data(Qt::CheckStateRole).toInt();
    const int next = state == Qt::Checked ? Qt::Unchecked : Qt::Checked;
    model()->setData(check, next, Qt::CheckStateRole);
    m_swallowRelease = true;
    event->accept();
}

void ISourceOutlineView::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_swallowRelease) {
        m_swallowRelease = false;
        event->accept();
        return;
    }
    IDDOutlineView::mouseReleaseEvent(event);
}

void ISourceOutlineView::mouseDoubleClickEvent(QMouseEvent* event)
{
    QModelIndex check;
    if (isCheckPress(event, &check)) {
        // The second press of a double click toggles once more, as a second click would.
        mousePressEvent(event);
        return;
    }
    IDDOutlineView::mouseDoubleClickEvent(event);
}
