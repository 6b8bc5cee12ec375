#include "projects/SourceOutlineModel.h"

#include "platform/PackagePaths.h"
#include "projects/OutlineMatcher.h"

#include <QColor>
#include <QDateTime>
#include <QLocale>

namespace {

QString joined(const QString& base, const QString& name)
{
    return base.endsWith(QLatin1Char('/')) ? QString(base + name) : QString(base + QLatin1Char('/') + name);
}

QString sizeText(double bytes)
{
    return QLocale().formattedDataSize(qint64(bytes), 1, QLocale::DataSizeSIFormat);
}

} // namespace

SourceOutlineModel::SourceOutlineModel(IOutlineLister* lister, IExcludeList* excludes, QObject* parent)
    : QAbstractItemModel(parent)
    , m_lister(lister)
    , m_excludes(excludes)
    , m_toggler(*excludes)
{ }

SourceOutlineModel::~SourceOutlineModel() = default;

std::unique_ptr<OutlineNode> SourceOutlineModel::makeNode(
    const OutlineEntry& e, const QString& fullPath, OutlineNode* parent)
{
    auto node = std::make_unique<OutlineNode>();
    node->name = parent ? e.name : fullPath;
    node->parent = parent;
    node->size = e.size;
    node->modified = e.modified;
    if (e.exists && e.isFolder)
        node->attr = PackagePaths::isPackage(fullPath, true) ? (OutlineNode::Folder | OutlineNode::Package)
                                                             : OutlineNode::Folder;
    m_toggler.markFromList(*node);
    return node;
}

QList<OutlineEntry> SourceOutlineModel::readFolder(const OutlineNode& folder)
{
    QList<OutlineEntry> entries;
    if (!folder.isExpandable())
        return entries;
    const QString base = folder.path();
    for (const OutlineEntry& e : m_lister->list(base))
        if (m_hidden.isEmpty() || !OutlineMatcher::matchesAny(m_hidden, joined(base, e.name)))
            entries.append(e);
    return entries;
}

void SourceOutlineModel::setSources(const QList<Source>& sources)
{
    beginResetModel();
    m_top.clear();
    for (const Source& s : sources) {
        const OutlineEntry e = m_lister->stat(s.path);
        auto node = makeNode(e, s.path, nullptr);
        node->sourceIndex = s.index;
        m_top.push_back(std::move(node));
    }
    endResetModel();
}

OutlineNode* SourceOutlineModel::nodeAt(const QModelIndex& index) const
{
    return index.isValid() ? static_cast<OutlineNode*>(index.internalPointer()) : nullptr;
}

QModelIndex SourceOutlineModel::indexOf(const OutlineNode* node, int column) const
{
    if (!node)
        return {};
    if (!node->parent) {
        for (size_t i = 0; i < m_top.size(); ++i)
            if (m_top[i].get() == node)
                return createIndex(int(i), column, const_cast<OutlineNode*>(node));
        return {};
    }
    return createIndex(node->indexInParent(), column, const_cast<OutlineNode*>(node));
}

QModelIndex SourceOutlineModel::indexOfPath(const QString& path) const
{
    for (const auto& top : m_top) {
        const QString base = top->path();
        if (path == base)
            return indexOf(top.get());
        if (!path.startsWith(joined(base, QString())))
            continue;
        OutlineNode* node = top.get();
        const QStringList parts
            = path.mid(joined(base, QString()).size()).split(QLatin1Char('/'), Qt::SkipEmptyParts);
        for (const QString& part : parts) {
            OutlineNode* next = nullptr;
            for (auto& c : node->children)
                if (c->name == part)
                    next = c.get();
            if (!next)
                return {};
            node = next;
        }
        return indexOf(node);
    }
    return {};
}

QModelIndex SourceOutlineModel::index(int row, int column, const QModelIndex& parent) const
{
    if (row < 0 || column < 0 || column >= ColumnCount)
        return {};
    if (!parent.isValid())
        return row < int(m_top.size()) ? createIndex(row, column, m_top[size_t(row)].get()) : QModelIndex();
    const OutlineNode* p = nodeAt(parent);
    if (!p || row >= int(p->children.size()))
        return {};
    return createIndex(row, column, p->children[size_t(row)].get());
}

QModelIndex SourceOutlineModel::parent(const QModelIndex& child) const
{
    const OutlineNode* node = nodeAt(child);
    return node ? indexOf(node->parent) : QModelIndex();
}

int SourceOutlineModel::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return int(m_top.size());
    if (parent.column() != 0)
        return 0;
    const OutlineNode* node = nodeAt(parent);
    return node ? int(node->children.size()) : 0;
}

int SourceOutlineModel::columnCount(const QModelIndex&) const
{
    return ColumnCount;
}

bool SourceOutlineModel::hasChildren(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return !m_top.empty();
    if (parent.column() != 0)
        return false;
    const OutlineNode* node = nodeAt(parent);
    return node && node->isExpandable() && (!node->childrenRead || !node->children.empty());
}

bool SourceOutlineModel::canFetchMore(const QModelIndex& parent) const
{
    const OutlineNode* node = nodeAt(parent);
    return node && parent.column() == 0 && node->isExpandable() && !node->childrenRead;
}

void SourceOutlineModel::fetchMore(const QModelIndex& parent)
{
    OutlineNode* node = nodeAt(parent);
    if (!node || node->childrenRead)
        return;
    const QList<OutlineEntry> entries = readFolder(*node);
    node->childrenRead = true;
    if (entries.isEmpty())
        return;
    const QString base = node->path();
    beginInsertRows(parent, 0, int(entries.size()) - 1);
    node->children.reserve(size_t(entries.size()));
    for (const OutlineEntry& e : entries)
        node->children.push_back(makeNode(e, joined(base, e.name), node));
    endInsertRows();
}

void SourceOutlineModel::remark(OutlineNode& node)
{
    m_toggler.markFromList(node);
    for (auto& c : node.children)
        remark(*c);
}

void SourceOutlineModel::reloadChildren(OutlineNode& folder)
{
    if (!folder.childrenRead)
        return;
    const QModelIndex parentIndex = indexOf(&folder);
    QList<OutlineEntry> entries = readFolder(folder);
    const QString base = folder.path();
    // Both lists are in the outline's order: walk them together.
    auto less = [](const QString& a, const QString& b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    };
    size_t row = 0;
    qsizetype i = 0;
    while (row < folder.children.size() || i < entries.size()) {
        OutlineNode* old = row < folder.children.size() ? folder.children[row].get() : nullptr;
        if (old && (i >= entries.size() || less(old->name, entries.at(i).name))) {
            beginRemoveRows(parentIndex, int(row), int(row));
            folder.children.erase(folder.children.begin() + qsizetype(row));
            endRemoveRows();
            continue;
        }
        const OutlineEntry& e = entries.at(i);
        if (old && old->name == e.name) {
            old->size = e.size;
            old->modified = e.modified;
            const bool wasFolder = old->attr & OutlineNode::Folder;
            if (wasFolder != (e.exists && e.isFolder)) {
                beginRemoveRows(parentIndex, int(row), int(row));
                folder.children.erase(folder.children.begin() + qsizetype(row));
                endRemoveRows();
                continue;
            }
            reloadChildren(*old);
            ++row;
            ++i;
            continue;
        }
        beginInsertRows(parentIndex, int(row), int(row));
        folder.children.insert(
            folder.children.begin() + qsizetype(row), makeNode(e, joined(base, e.name), &folder));
        endInsertRows();
        ++row;
        ++i;
    }
}

void SourceOutlineModel::reload()
{
    for (auto& top : m_top) {
        const OutlineEntry e = m_lister->stat(top->name);
        top->size = e.size;
        top->modified = e.modified;
        reloadChildren(*top);
        remark(*top);
    }
    if (!m_top.empty())
        for (auto& top : m_top)
            emitSubtreeChanged(*top);
}

void SourceOutlineModel::emitSubtreeChanged(OutlineNode& node)
{
    const QModelIndex i = indexOf(&node);
    emit dataChanged(i, i.siblingAtColumn(ColumnCount - 1));
    if (!node.children.empty()) {
        emit dataChanged(index(0, 0, i), index(int(node.children.size()) - 1, ColumnCount - 1, i));
        for (auto& c : node.children)
            if (!c->children.empty())
                emitSubtreeChanged(*c);
    }
}

QVariant SourceOutlineModel::data(const QModelIndex& index, int role) const
{
    const OutlineNode* node = nodeAt(index);
    if (!node)
        return {};
    const bool included = node->attr & OutlineNode::Included;
    const bool partly = node->attr & OutlineNode::Partly;
    switch (role) {
    case PathRole:
        return node->path();
    case AttrRole:
        return node->attr;
    case LevelRole: {
        int level = 0;
        node->topLevel(&level);
        return level;
    }
    case Qt::CheckStateRole:
        if (index.column() != ColIncluded)
            return {};
        return !included ? Qt::Unchecked : (partly ? Qt::PartiallyChecked : Qt::Checked);
    case Qt::ForegroundRole:
        if (index.column() == ColName && (!included || partly))
            return QColor::fromRgbF(0.2f, 0.5f, 0.9f);
        return {};
    case Qt::DisplayRole:
        switch (index.column()) {
        case ColName:
            if (!node->displayName.isEmpty())
                return node->displayName;
            return node->parent ? node->name : node->localPath();
        case ColKind:
            if (node->attr & OutlineNode::Package)
                return QStringLiteral("Bundle");
            if (node->attr & OutlineNode::Folder)
                return QStringLiteral("--");
            return sizeText(node->size);
        case ColDate:
            if (node->modified <= 0)
                return QString();
            return QLocale().toString(
                QDateTime::fromMSecsSinceEpoch(qint64(node->modified * 1000.0)), QLocale::ShortFormat);
        default:
            return {};
        }
    default:
        return {};
    }
}

bool SourceOutlineModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    OutlineNode* node = nodeAt(index);
    if (m_readOnly || !node || role != Qt::CheckStateRole || index.column() != ColIncluded)
        return false;
    const bool include = value.toInt() == Qt::Checked;
    m_toggler.setIncluded(*node, include);
    // The node, its subtree and every ancestor row may have changed marks.
    emitSubtreeChanged(*node);
    for (const OutlineNode* a = node->parent; a; a = a->parent) {
        const QModelIndex ai = indexOf(a);
        emit dataChanged(ai, ai.siblingAtColumn(ColumnCount - 1));
        if (!a->children.empty())
            emit dataChanged(
                this->index(0, 0, ai), this->index(int(a->children.size()) - 1, ColumnCount - 1, ai));
    }
    emit excludesEdited();
    return true;
}

void SourceOutlineModel::setAllIncluded(bool include)
{
    if (m_readOnly || m_top.empty())
        return;
    std::vector<OutlineNode*> top;
    for (auto& t : m_top)
        top.push_back(t.get());
    m_toggler.setAllIncluded(top, include);
    for (auto& t : m_top)
        emitSubtreeChanged(*t);
    emit excludesEdited();
}

Qt::ItemFlags SourceOutlineModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == ColIncluded && !m_readOnly)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant SourceOutlineModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case ColIncluded:
        return QString();
    case ColName:
        return tr("Name");
    case ColKind:
        return tr("Size");
    case ColDate:
        return tr("Date Modified");
    default:
        return {};
    }
}
