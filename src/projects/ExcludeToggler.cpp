#include "projects/ExcludeToggler.h"

namespace {

// The parent folders of a path, nearest first ("/a/b/c" -> "/a/b", "/a", "/").
template<typename F>
void forEachAncestor(const QString& path, F&& f)
{
    qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    while (slash > 0) {
        f(path.left(slash));
        slash = path.lastIndexOf(QLatin1Char('/'), slash - 1);
    }
    if (slash == 0 && path.size() > 1)
        f(QStringLiteral("/"));
}

bool isAtOrBelow(const QString& entry, const QString& path)
{
    if (entry == path)
        return true;
    if (path == QLatin1String("/"))
        return entry.startsWith(QLatin1Char('/'));
    return entry.startsWith(path) && entry.size() > path.size() && entry.at(path.size()) == QLatin1Char('/');
}

} // namespace

StringExcludeList::StringExcludeList(QStringList entries)
{
    setEntries(entries);
}

void StringExcludeList::setEntries(const QStringList& entries)
{
    m_entries.clear();
    m_set.clear();
    m_ancestors.clear();
    for (const QString& e : entries)
        addOnce(e);
}

void StringExcludeList::index(const QString& path, int delta)
{
    forEachAncestor(path, [this, delta](const QString& a) {
        int& n = m_ancestors[a];
        n += delta;
        if (n <= 0)
            m_ancestors.remove(a);
    });
}

void StringExcludeList::addOnce(const QString& path)
{
    if (path.isEmpty() || m_set.contains(path))
        return;
    m_entries.append(path);
    m_set.insert(path);
    index(path, 1);
}

void StringExcludeList::remove(const QString& path)
{
    if (!m_set.remove(path))
        return;
    m_entries.removeAll(path);
    index(path, -1);
}

void StringExcludeList::removeAtOrBelow(const QString& path)
{
    if (!m_set.contains(path) && !hasBelow(path))
        return;
    QStringList kept;
    kept.reserve(m_entries.size());
    for (const QString& e : std::as_const(m_entries)) {
        if (isAtOrBelow(e, path)) {
            m_set.remove(e);
            index(e, -1);
        } else {
            kept.append(e);
        }
    }
    m_entries = kept;
}

bool StringExcludeList::coversPath(const QString& path) const
{
    if (m_set.contains(path))
        return true;
    bool found = false;
    forEachAncestor(path, [&](const QString& a) { found = found || m_set.contains(a); });
    return found;
}

int ExcludeToggler::siblingState(const OutlineNode& node)
{
    if (!node.parent || node.parent->children.empty())
        return -1;
    bool anyIncluded = false;
    bool allFull = true;
    for (const auto& c : node.parent->children) {
        if (c->attr & OutlineNode::Included)
            anyIncluded = true;
        if (!c->isFullyIncluded())
            allFull = false;
    }
    if (allFull)
        return 2;
    return anyIncluded ? 10 : 0;
}

void ExcludeToggler::markFromList(OutlineNode& node) const
{
    node.attr &= ~(OutlineNode::Included | OutlineNode::Partly);
    const QString path = node.path();
    if (node.parent && !(node.parent->attr & OutlineNode::Included))
        return;
    if (m_list.contains(path))
        return;
    node.attr |= OutlineNode::Included;
    if (m_list.hasBelow(path))
        node.attr |= OutlineNode::Partly;
}

void ExcludeToggler::refreshDescendants(OutlineNode& node, bool include)
{
    for (auto& c : node.children) {
        if (include)
            c->attr |= OutlineNode::Included;
        else
            c->attr &= ~OutlineNode::Included;
        c->attr &= ~OutlineNode::Partly;
        refreshDescendants(*c, include);
    }
}

void ExcludeToggler::setIncluded(OutlineNode& node, bool include)
{
    const QString path = node.path();
    // Entries at or below the node are replaced by the node's own state: an included node has
    // none, an excluded node has exactly its own.
    const bool wasListed = m_list.contains(path);
    m_list.removeAtOrBelow(path);
    node.attr &= ~(OutlineNode::Included | OutlineNode::Partly);
    if (include) {
        node.attr |= OutlineNode::Included;
        if (!wasListed && node.parent) {
            // An ancestor was excluded: the node's unchecked siblings stay out.
            for (auto& s : node.parent->children)
                if (s.get() != &node && !(s->attr & OutlineNode::Included))
                    m_list.addOnce(s->path());
        }
    } else {
        m_list.addOnce(path);
    }
    refreshDescendants(node, include);
    refreshAncestors(node);
}

void ExcludeToggler::refreshAncestors(OutlineNode& node)
{
    OutlineNode* child = &node;
    while (OutlineNode* parent = child->parent) {
        const QString parentPath = parent->path();
        switch (siblingState(*child)) {
        case 0:
            // Every child is out: the folder is listed instead of its children.
            m_list.removeAtOrBelow(parentPath);
            m_list.addOnce(parentPath);
            parent->attr &= ~(OutlineNode::Included | OutlineNode::Partly);
            break;
        case 10:
            m_list.remove(parentPath);
            parent->attr |= OutlineNode::Included | OutlineNode::Partly;
            for (auto& s : parent->children)
                if (!(s->attr & OutlineNode::Included))
                    m_list.addOnce(s->path());
            break;
        case 2:
            m_list.remove(parentPath);
            parent->attr |= OutlineNode::Included;
            parent->attr &= ~OutlineNode::Partly;
            break;
        default:
            break;
        }
        child = parent;
    }
}

void ExcludeToggler::setAllIncluded(const std::vector<OutlineNode*>& topLevel, bool include)
{
    for (OutlineNode* node : topLevel) {
        const QString path = node->path();
        m_list.removeAtOrBelow(path);
        if (!include)
            m_list.addOnce(path);
        node->attr &= ~(OutlineNode::Included | OutlineNode::Partly);
        if (include)
            node->attr |= OutlineNode::Included;
        refreshDescendants(*node, include);
    }
}
