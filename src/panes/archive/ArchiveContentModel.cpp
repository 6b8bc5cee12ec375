#include "panes/archive/ArchiveContentModel.h"

#include "archive/CBackup.h"
#include "archive/CBackupItem.h"
#include "archive/IBackup.h"

#include <QCoreApplication>
#include <QLocale>

namespace {

QString loc(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

constexpr quint32 kPartlyFlag = 0x400;

} // namespace

// ---- ArchiveContentNode ------------------------------------------------------------------------

ArchiveContentNode::ArchiveContentNode(CBackupItem* item)
    : m_item(item)
{
    if (m_item)
        m_item->setNode(this);
}

ArchiveContentNode::~ArchiveContentNode()
{
    if (m_item && m_item->node() == this)
        m_item->setNode(nullptr);
}

// ---- ArchiveContentModel -----------------------------------------------------------------------

ArchiveContentModel::ArchiveContentModel(Mode mode, QObject* parent)
    : QAbstractItemModel(parent)
    , m_mode(mode)
{ }

ArchiveContentModel::~ArchiveContentModel()
{
    clearNodes();
}

void ArchiveContentModel::clearNodes()
{
    m_nodes.clear();
}

void ArchiveContentModel::setProject(CBackup* project)
{
    beginResetModel();
    clearNodes();
    m_project = project;
    // The items' flags are what the project stores: the list is made from them.
    m_excludes.setEntries({});
    if (project) {
        for (int i = 0; i < project->count(); ++i)
            collectExcluded(project->itemAt(i), true);
        project->getIBackup()->setExcludePathList(m_excludes.entries());
    }
    announceReset();
}

void ArchiveContentModel::announceReset()
{
    // Listeners of the reset look at the new rows at once; folders are read when a view opens
    // them, not while the reset is announced.
    m_fetching = true;
    endResetModel();
    m_fetching = false;
}

void ArchiveContentModel::reload()
{
    setProject(m_project);
}

std::vector<CBackupItem*> ArchiveContentModel::topItems() const
{
    std::vector<CBackupItem*> items;
    if (!m_project)
        return items;
    items.reserve(size_t(m_project->count()));
    for (int i = 0; i < m_project->count(); ++i) {
        CBackupItem* item = m_project->itemAt(i);
        if (m_mode == Mode::Main && isDeletedFromBackup(item))
            continue;
        items.push_back(item);
    }
    return items;
}

ArchiveContentNode* ArchiveContentModel::nodeOf(CBackupItem* item) const
{
    if (!item)
        return nullptr;
    if (auto* node = dynamic_cast<ArchiveContentNode*>(item->node()))
        return node;
    auto* self = const_cast<ArchiveContentModel*>(this);
    self->m_nodes.push_back(std::make_unique<ArchiveContentNode>(item));
    ArchiveContentNode* node = self->m_nodes.back().get();
    const bool included = item->isIncluded() && item->isParentIncluded();
    node->attr = (item->isFolder() ? quint32(ArchiveContentNode::Folder) : 0u)
        | (included ? quint32(ArchiveContentNode::Included) : 0u)
        | (included && (item->flags() & kPartlyFlag) ? quint32(ArchiveContentNode::Partly) : 0u);
    return node;
}

CBackupItem* ArchiveContentModel::itemAt(const QModelIndex& index) const
{
    // Indexes carry the node: an item the tree freed leaves a node without an item, never a
    // dangling pointer.
    auto* node = index.isValid() ? static_cast<ArchiveContentNode*>(index.internalPointer()) : nullptr;
    return node ? node->item() : nullptr;
}

QModelIndex ArchiveContentModel::indexOfItem(CBackupItem* item, int column) const
{
    if (!item)
        return {};
    CBackupItem* parent = item->getParent();
    int row = -1;
    if (parent) {
        row = parent->indexOf(item);
    } else {
        const std::vector<CBackupItem*> top = topItems();
        const auto it = std::find(top.begin(), top.end(), item);
        row = it == top.end() ? -1 : int(it - top.begin());
    }
    return row < 0 ? QModelIndex() : createIndex(row, column, nodeOf(item));
}

QModelIndex ArchiveContentModel::index(int row, int column, const QModelIndex& parent) const
{
    if (row < 0 || column < 0 || column >= ColumnCount)
        return {};
    if (!parent.isValid()) {
        if (m_mode == Mode::Restore || !m_project) {
            if (!m_project || row >= m_project->count())
                return {};
            return createIndex(row, column, nodeOf(m_project->itemAt(row)));
        }
        const std::vector<CBackupItem*> top = topItems();
        return row < int(top.size()) ? createIndex(row, column, nodeOf(top[size_t(row)])) : QModelIndex();
    }
    CBackupItem* p = itemAt(parent);
    ArchiveContentNode* node = nodeOf(p);
    if (!p || !node->fetched || row >= p->count())
        return {};
    return createIndex(row, column, nodeOf(p->itemAt(row)));
}

QModelIndex ArchiveContentModel::parent(const QModelIndex& child) const
{
    CBackupItem* item = itemAt(child);
    return item && item->getParent() ? indexOfItem(item->getParent()) : QModelIndex();
}

int ArchiveContentModel::rowCount(const QModelIndex& parent) const
{
    if (parent.column() > 0)
        return 0;
    if (!parent.isValid()) {
        if (!m_project)
            return 0;
        return m_mode == Mode::Restore ? m_project->count() : int(topItems().size());
    }
    CBackupItem* item = itemAt(parent);
    return item && nodeOf(item)->fetched ? item->count() : 0;
}

int ArchiveContentModel::columnCount(const QModelIndex&) const
{
    return ColumnCount;
}

bool ArchiveContentModel::hasChildren(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return rowCount(parent) > 0;
    CBackupItem* item = itemAt(parent);
    if (!item || parent.column() > 0)
        return false;
    // A folder on disk that is not a package may be opened; nothing is read here.
    return item->isWalkable() && (item->exists() || item->count() > 0);
}

bool ArchiveContentModel::canFetchMore(const QModelIndex& parent) const
{
    CBackupItem* item = itemAt(parent);
    if (m_fetching || !item || parent.column() > 0 || !item->isWalkable())
        return false;
    const ArchiveContentNode* node = nodeOf(item);
    return !node->fetched || node->shouldRefresh;
}

void ArchiveContentModel::fetchMore(const QModelIndex& parent)
{
    CBackupItem* item = itemAt(parent);
    if (!item || !m_project || m_fetching)
        return;
    // Views and testers ask again while the rows change: one read at a time.
    m_fetching = true;
    ArchiveContentNode* node = nodeOf(item);
    const bool refresh = node->shouldRefresh;
    node->shouldRefresh = false;
    if (node->fetched && item->count() > 0) {
        // The children shown so far go before the tree may free them.
        beginRemoveRows(parent, 0, item->count() - 1);
        node->fetched = false;
        endRemoveRows();
    }
    node->fetched = false;
    if (refresh && item->exists())
        item->addSubItmesFromDisk(m_project, false, false, false);
    const bool included = item->isIncluded() && item->isParentIncluded();
    for (int i = 0; i < item->count(); ++i)
        markFromList(item->itemAt(i), included, false);
    if (item->count() > 0) {
        beginInsertRows(parent, 0, item->count() - 1);
        node->fetched = true;
        endInsertRows();
    } else {
        node->fetched = true;
    }
    m_fetching = false;
}

void ArchiveContentModel::collapsed(const QModelIndex& index)
{
    if (CBackupItem* item = itemAt(index))
        nodeOf(item)->shouldRefresh = true;
}

void ArchiveContentModel::markFromList(CBackupItem* item, bool parentIncluded, bool force)
{
    if (!item)
        return;
    const bool haveList = !m_excludes.entries().isEmpty();
    // With an empty list nothing needs a path: a folder of 100,000 entries is marked in one pass.
    bool excluded = !parentIncluded;
    const QString path = !excluded && (haveList || !force) ? item->getAbsolutePath() : QString();
    excluded = excluded || (haveList && m_excludes.contains(path));
    if (!excluded && !force && (item->flags() & BIF_EXCLUDED)) {
        // Kept out by the project itself (a filter, a system place): the list says so too.
        excluded = true;
        m_excludes.addOnce(path);
    }
    quint32 f = item->flags() & ~(BIF_EXCLUDED | kPartlyFlag);
    quint32 attr = item->isFolder() ? quint32(ArchiveContentNode::Folder) : 0u;
    if (excluded) {
        f = (f & ~BIF_INCLUDED_BY_USER) | BIF_EXCLUDED;
    } else {
        if (force)
            f |= BIF_INCLUDED_BY_USER;
        attr |= ArchiveContentNode::Included;
        if (item->isFolder() && haveList && m_excludes.hasBelow(path)) {
            f |= kPartlyFlag;
            attr |= ArchiveContentNode::Partly;
        }
    }
    item->setFlags(f);
    if (auto* n = dynamic_cast<ArchiveContentNode*>(item->node()))
        n->attr = attr;
}

void ArchiveContentModel::remarkSubtree(CBackupItem* item, bool parentIncluded)
{
    markFromList(item, parentIncluded, true);
    const bool included = item->isIncluded();
    for (int i = 0; i < item->count(); ++i)
        remarkSubtree(item->itemAt(i), included);
}

void ArchiveContentModel::collectExcluded(CBackupItem* item, bool parentIncluded)
{
    if (parentIncluded && (item->flags() & BIF_EXCLUDED))
        m_excludes.addOnce(item->getAbsolutePath());
    const bool included = parentIncluded && !(item->flags() & BIF_EXCLUDED);
    for (int i = 0; i < item->count(); ++i)
        collectExcluded(item->itemAt(i), included);
}

bool ArchiveContentModel::allChildrenListed(CBackupItem* folder) const
{
    if (folder->count() == 0)
        return false;
    for (int i = 0; i < folder->count(); ++i)
        if (!m_excludes.contains(folder->itemAt(i)->getAbsolutePath()))
            return false;
    return true;
}

void ArchiveContentModel::setIncluded(const QModelIndex& index, bool include)
{
    CBackupItem* item = itemAt(index);
    if (!item || m_readOnly || !m_project)
        return;
    const QString path = item->getAbsolutePath();
    CBackupItem* top = item; // the highest item whose marks may change
    if (include) {
        m_excludes.removeAtOrBelow(path);
        // A listed ancestor excluded everything below it: its other children are now listed one
        // by one, on every level down to the item.
        std::vector<CBackupItem*> chain;
        for (CBackupItem* a = item->getParent(); a; a = a->getParent())
            chain.push_back(a);
        int listedLevel = -1;
        for (int i = int(chain.size()) - 1; i >= 0; --i)
            if (m_excludes.contains(chain[size_t(i)]->getAbsolutePath())) {
                listedLevel = i;
                break;
            }
        if (listedLevel >= 0) {
            CBackupItem* a = chain[size_t(listedLevel)];
            m_excludes.remove(a->getAbsolutePath());
            top = a;
            for (int level = listedLevel; level >= 0; --level) {
                CBackupItem* folder = chain[size_t(level)];
                CBackupItem* keep = level > 0 ? chain[size_t(level - 1)] : item;
                for (int c = 0; c < folder->count(); ++c)
                    if (folder->itemAt(c) != keep)
                        m_excludes.addOnce(folder->itemAt(c)->getAbsolutePath());
            }
        }
    } else if (CBackupItem* parent = item->getParent();
               parent && m_excludes.coversPath(parent->getAbsolutePath())) {
        // Already out with a listed folder above it: the list stays as it is.
    } else {
        m_excludes.removeAtOrBelow(path);
        m_excludes.addOnce(path);
        // A folder whose children are all unchecked is listed alone.
        for (CBackupItem* p = item->getParent(); p && allChildrenListed(p); p = p->getParent()) {
            m_excludes.removeAtOrBelow(p->getAbsolutePath());
            m_excludes.addOnce(p->getAbsolutePath());
            top = p;
        }
    }
    CBackupItem* above = top->getParent();
    remarkSubtree(top, !above || !m_excludes.coversPath(above->getAbsolutePath()));
    refreshAncestors(top);
    storeExcludes();
    emitSubtreeChanged(top);
    emit contentEdited();
}

void ArchiveContentModel::refreshAncestors(CBackupItem* item)
{
    for (CBackupItem* p = item->getParent(); p; p = p->getParent()) {
        const CBackupItem* above = p->getParent();
        markFromList(p, !above || !m_excludes.coversPath(above->getAbsolutePath()), true);
        const QModelIndex i = indexOfItem(p);
        if (i.isValid())
            emit dataChanged(i.siblingAtColumn(ColIncluded), i.siblingAtColumn(ColIncluded), { Qt::CheckStateRole });
    }
}

void ArchiveContentModel::setAllIncluded(bool include)
{
    if (!m_project || m_readOnly)
        return;
    m_excludes.setEntries({});
    for (CBackupItem* top : topItems()) {
        if (!include)
            m_excludes.addOnce(top->getAbsolutePath());
        remarkSubtree(top, true);
    }
    storeExcludes();
    for (CBackupItem* top : topItems())
        emitSubtreeChanged(top);
    emit contentEdited();
}

void ArchiveContentModel::storeExcludes()
{
    m_project->getIBackup()->setExcludePathList(m_excludes.entries());
    m_project->setTreeChanged(true);
}

void ArchiveContentModel::emitSubtreeChanged(CBackupItem* item)
{
    const QModelIndex i = indexOfItem(item);
    if (i.isValid())
        emit dataChanged(i.siblingAtColumn(0), i.siblingAtColumn(ColumnCount - 1));
    ArchiveContentNode* node = nodeOf(item);
    if (!node->fetched || item->count() == 0)
        return;
    const QModelIndex first = createIndex(0, 0, nodeOf(item->itemAt(0)));
    const QModelIndex last = createIndex(item->count() - 1, ColumnCount - 1, nodeOf(item->itemAt(item->count() - 1)));
    emit dataChanged(first, last);
    for (int c = 0; c < item->count(); ++c) {
        CBackupItem* child = item->itemAt(c);
        if (auto* n = dynamic_cast<ArchiveContentNode*>(child->node()); n && n->fetched)
            emitSubtreeChanged(child);
    }
}

void ArchiveContentModel::setDeletedFromBackup(CBackupItem* item, bool on)
{
    if (!item || item->getParent())
        return;
    if (m_mode == Mode::Main)
        beginResetModel();
    nodeOf(item)->deletedFromBackup = on;
    if (m_mode == Mode::Main)
        announceReset();
}

bool ArchiveContentModel::isDeletedFromBackup(const CBackupItem* item) const
{
    auto* node = item ? dynamic_cast<ArchiveContentNode*>(item->node()) : nullptr;
    return node && node->deletedFromBackup;
}

QVariant ArchiveContentModel::data(const QModelIndex& index, int role) const
{
    CBackupItem* item = itemAt(index);
    if (!item)
        return {};
    const ArchiveContentNode* node = nodeOf(item);
    switch (role) {
    case PathRole:
        return item->getAbsolutePath();
    case AttrRole:
        return node->attr;
    case ItemRole:
        return QVariant::fromValue(quintptr(item));
    case Qt::CheckStateRole:
        if (index.column() != ColIncluded)
            return {};
        if (!(node->attr & ArchiveContentNode::Included))
            return Qt::Unchecked;
        return (node->attr & ArchiveContentNode::Partly) ? Qt::PartiallyChecked : Qt::Checked;
    case Qt::DisplayRole:
        break;
    default:
        return {};
    }
    switch (index.column()) {
    case ColName:
        return item->getName();
    case ColLocation: {
        const quint32 f = item->flags();
        if (m_mode == Mode::Restore) {
            const int archive = m_project ? m_project->selectedArchiveIndex() : -1;
            return archive >= 0 && item->isInsertedInArchive(archive) ? QStringLiteral("✓") : QString();
        }
        if ((f & BIF_LOCATED) && (f & BIF_EXISTS))
            return loc("Mixed");
        if (f & BIF_LOCATED)
            return loc("Archive");
        if (f & BIF_EXISTS)
            return loc("Disk");
        return QString();
    }
    case ColDate: {
        const QDateTime d = m_mode == Mode::Restore ? item->lastBackupDate() : item->modificationDate();
        if (!d.isValid() || d.toSecsSinceEpoch() == 0)
            return m_mode == Mode::Restore ? QStringLiteral("--") : QString();
        return QLocale().toString(d.toLocalTime(), QLocale::ShortFormat);
    }
    case ColSize:
        if (item->isFolder())
            return (item->flags() & BIF_PACKAGE) ? loc("bundle") : QStringLiteral("--");
        return QLocale().formattedDataSize(qint64(item->size()), 1, QLocale::DataSizeSIFormat);
    default:
        return {};
    }
}

bool ArchiveContentModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::CheckStateRole || index.column() != ColIncluded || m_readOnly || !itemAt(index))
        return false;
    setIncluded(index, value.toInt() != Qt::Unchecked);
    return true;
}

Qt::ItemFlags ArchiveContentModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == ColIncluded && !m_readOnly)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant ArchiveContentModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case ColIncluded:
        return QString();
    case ColName:
        return loc("Folders and Files");
    case ColLocation:
        return loc("Location");
    case ColDate:
        return m_mode == Mode::Restore ? loc("Backed up") : loc("Date Modified");
    case ColSize:
        return loc("Size");
    default:
        return {};
    }
}
