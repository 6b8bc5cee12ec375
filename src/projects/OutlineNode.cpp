#include "projects/OutlineNode.h"

namespace {

QString joined(const QString& base, const QString& name)
{
    return base.endsWith(QLatin1Char('/')) ? QString(base + name) : QString(base + QLatin1Char('/') + name);
}

QString lastComponent(const QString& path)
{
    if (path == QLatin1String("/"))
        return path;
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? path : path.mid(slash + 1);
}

} // namespace

QString OutlineNode::path() const
{
    return parent ? joined(parent->path(), name) : name;
}

QString OutlineNode::localPath() const
{
    return parent ? joined(parent->localPath(), name) : lastComponent(name);
}

const OutlineNode* OutlineNode::topLevel(int* level) const
{
    int steps = 0;
    const OutlineNode* node = this;
    while (node->parent) {
        node = node->parent;
        ++steps;
    }
    if (level)
        *level = steps;
    return node;
}

int OutlineNode::indexInParent() const
{
    if (!parent)
        return -1;
    for (size_t i = 0; i < parent->children.size(); ++i)
        if (parent->children[i].get() == this)
            return int(i);
    return -1;
}
