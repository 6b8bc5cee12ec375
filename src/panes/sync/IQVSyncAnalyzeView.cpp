#include "panes/sync/IQVSyncAnalyzeView.h"

#include "panes/sync/AnalyzeOutlineModel.h"
#include "platform/DesktopServices.h"
#include "platform/NameCodec.h"
#include "projects/ILocation.h"
#include "utilities/IColorUtil.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <sys/stat.h>

namespace {

QString loc(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

bool exists(const QString& path)
{
    struct stat st = {};
    return !path.isEmpty() && ::lstat(NameCodec::encode(path).constData(), &st) == 0;
}

} // namespace

IQVSyncAnalyzeView::IQVSyncAnalyzeView(QWidget* parent)
    : QTreeView(parent)
{
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setAllColumnsShowFocus(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    header()->setSectionsClickable(true);
    header()->setStretchLastSection(false);
    connect(header(), &QHeaderView::sectionClicked, this, [this](int section) {
        if (section == AnalyzeOutlineModel::ColIncluded && m_model && (!m_editable || m_editable()))
            m_model->toggleAllChecks();
    });
}

void IQVSyncAnalyzeView::setAnalyzeModel(AnalyzeOutlineModel* model)
{
    m_model = model;
    setModel(model);
    setTreePosition(AnalyzeOutlineModel::ColSource);
    QHeaderView* h = header();
    h->setSectionResizeMode(AnalyzeOutlineModel::ColIncluded, QHeaderView::Fixed);
    h->resizeSection(AnalyzeOutlineModel::ColIncluded, 28);
    h->setSectionResizeMode(AnalyzeOutlineModel::ColSource, QHeaderView::Stretch);
    h->setSectionResizeMode(AnalyzeOutlineModel::ColDirection, QHeaderView::Fixed);
    h->resizeSection(AnalyzeOutlineModel::ColDirection, 44);
    h->setSectionResizeMode(AnalyzeOutlineModel::ColDestination, QHeaderView::Stretch);
    connect(model, &AnalyzeOutlineModel::reloaded, this, [this] { expandItemsIfNeed(); });
    connect(this, &QTreeView::expanded, this, [this](const QModelIndex& index) {
        m_model->folderExpanded(index);
        if (m_restoring)
            return;
        // An opened folder is read again from both sides, after the opening has finished.
        const QPersistentModelIndex keep(index);
        QTimer::singleShot(0, this, [this, keep] {
            if (!keep.isValid())
                return;
            m_model->relistFolder(keep, true);
            expandItemsIfNeed(keep);
        });
    });
    connect(this, &QTreeView::collapsed, this, [this](const QModelIndex& index) {
        if (!m_restoring)
            m_model->folderCollapsed(index);
    });
}

void IQVSyncAnalyzeView::expandItemsIfNeed(const QModelIndex& parent)
{
    if (!m_model || m_model->expandedFolders().isEmpty())
        return;
    const bool outer = !m_restoring;
    m_restoring = true;
    const int rows = m_model->rowCount(parent);
    for (int r = 0; r < rows; ++r) {
        const QModelIndex i = m_model->index(r, 0, parent);
        const IAnalyzeFileSystemItem* it = m_model->itemAt(i);
        if (!it || !it->isFolder() || !m_model->expandedFolders().contains(it->localPath()))
            continue;
        expand(i);
        if (m_model->canFetchMore(i))
            m_model->fetchMore(i);
        expandItemsIfNeed(i);
    }
    if (outer)
        m_restoring = false;
}

void IQVSyncAnalyzeView::showInFinder()
{
    if (!m_model)
        return;
    const QModelIndexList rows = selectionModel() ? selectionModel()->selectedRows() : QModelIndexList();
    if (rows.isEmpty())
        return;
    const IAnalyzeFileSystemItem* it = m_model->itemAt(rows.first());
    if (!it)
        return;
    for (const QString& path : { it->leftPath(), it->rightPath() })
        if (exists(path))
            DesktopServices::reveal(path);
}

QMenu* IQVSyncAnalyzeView::buildContextMenu()
{
    auto* menu = new QMenu(this);
    const bool editable = m_model && (!m_editable || m_editable());
    const bool selected = selectionModel() && !selectionModel()->selectedRows().isEmpty();
    auto add = [&](const char* title, bool enabled, std::function<void()> fn) {
        QAction* a = menu->addAction(loc(title));
        a->setEnabled(enabled);
        // Disabled items are hidden, as on every system from 10.10 on.
        a->setVisible(enabled);
        connect(a, &QAction::triggered, this, fn);
    };
    add("Check All Selected", editable && selected,
        [this] { m_model->setSelectedIncluded(selectionModel()->selectedRows(), true); });
    add("Uncheck All Selected", editable && selected,
        [this] { m_model->setSelectedIncluded(selectionModel()->selectedRows(), false); });
    add("Check All", editable, [this] { m_model->checkAll(); });
    add("Uncheck All", editable, [this] { m_model->uncheckAll(); });
    add("Show in Finder", editable && selected, [this] { showInFinder(); });
    return menu;
}

bool IQVSyncAnalyzeView::isCheckClick(const QPoint& pos, QModelIndex* index) const
{
    const QModelIndex i = indexAt(pos);
    if (!i.isValid() || i.column() != AnalyzeOutlineModel::ColIncluded)
        return false;
    if (index)
        *index = i;
    return true;
}

void IQVSyncAnalyzeView::mousePressEvent(QMouseEvent* event)
{
    QModelIndex i;
    if (event->button() == Qt::LeftButton && isCheckClick(event->position().toPoint(), &i)) {
        // The check column toggles its row and leaves the selection alone.
        if (m_model && (!m_editable || m_editable()) && (m_model->flags(i) & Qt::ItemIsUserCheckable)) {
            IAnalyzeFileSystemItem* it = m_model->itemAt(i);
            m_model->setItemIncluded(it, it->check() == 0);
        }
        event->accept();
        return;
    }
    QTreeView::mousePressEvent(event);
}

void IQVSyncAnalyzeView::mouseReleaseEvent(QMouseEvent* event)
{
    if (isCheckClick(event->position().toPoint(), nullptr)) {
        event->accept();
        return;
    }
    QTreeView::mouseReleaseEvent(event);
}

void IQVSyncAnalyzeView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (isCheckClick(event->position().toPoint(), nullptr)) {
        event->accept();
        return;
    }
    QTreeView::mouseDoubleClickEvent(event);
}

void IQVSyncAnalyzeView::contextMenuEvent(QContextMenuEvent* event)
{
    const QModelIndex i = indexAt(event->pos());
    if (i.isValid() && selectionModel() && !selectionModel()->isSelected(i))
        selectionModel()->select(i, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    QMenu* menu = buildContextMenu();
    menu->exec(event->globalPos());
    menu->deleteLater();
}

void IQVSyncAnalyzeView::paintEvent(QPaintEvent* event)
{
    // The state asks the project's places; events run inside a paint would paint again within it.
    const SyncPaneRules::EmptyState state = [this] {
        const ILocation::EventRoundsPause pause;
        return m_emptyState ? m_emptyState() : SyncPaneRules::EmptyState();
    }();
    if (!state.empty) {
        // A change of appearance leaves the rows' layout pending; lay them out before painting.
        executeDelayedItemsLayout();
        QTreeView::paintEvent(event);
        return;
    }
    QPainter p(viewport());
    const QRect r = viewport()->rect();
    p.fillRect(r, IColorUtil::colorForTarget(0).value_or(palette().color(QPalette::Base)));
    if (state.text.isEmpty())
        return;
    QFont f = font();
    f.setPixelSize(18);
    p.setFont(f);
    p.setPen(IColorUtil::colorForTarget(4).value_or(palette().color(QPalette::PlaceholderText)));
    const QRect box(r.x() + 10, r.height() / 2 - 25, r.width() - 20, r.height() / 2 + 25);
    p.drawText(box, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, state.text);
}
