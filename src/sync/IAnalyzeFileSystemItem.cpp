#include "IAnalyzeFileSystemItem.h"

#include <QCollator>

namespace {

QString appendComponent(const QString& base, const QString& name)
{
    if (base.isEmpty())
        return name;
    if (base.endsWith(QLatin1Char('/')))
        return base + name;
    return base + QLatin1Char('/') + name;
}

} // namespace

IAnalyzeFileSystemItem::IAnalyzeFileSystemItem(const QString& name, bool folder)
    : m_name(name.isEmpty() ? QStringLiteral("Noname") : name)
    , m_folder(folder)
{ }

IAnalyzeFileSystemItem::~IAnalyzeFileSystemItem() = default;

void IAnalyzeFileSystemItem::setChildrenFlagOff(qint64 bits)
{
    for (auto& c : m_children)
        c->setFlagOff(bits);
}

QString IAnalyzeFileSystemItem::localPath() const
{
    if (!m_parent)
        return QString();
    return appendComponent(m_parent->localPath(), m_name);
}

QString IAnalyzeFileSystemItem::leftPath() const
{
    if (!m_parent)
        return m_leftPath;
    return appendComponent(m_parent->leftPath(), m_name);
}

QString IAnalyzeFileSystemItem::rightPath() const
{
    if (!m_parent)
        return m_rightPath;
    return appendComponent(m_parent->rightPath(), m_name);
}

void IAnalyzeFileSystemItem::setLeftPath(const QString& path)
{
    if (!m_parent)
        m_leftPath = path;
}

void IAnalyzeFileSystemItem::setRightPath(const QString& path)
{
    if (!m_parent)
        m_rightPath = path;
}

IAnalyzeFileSystemItem* IAnalyzeFileSystemItem::children() const
{
    return m_children.empty() ? nullptr : m_children.front().get();
}

IAnalyzeFileSystemItem* IAnalyzeFileSystemItem::childAtIndex(int index) const
{
    if (index < 0 || index >= int(m_children.size()))
        return nullptr;
    return m_children[size_t(index)].get();
}

int IAnalyzeFileSystemItem::resultCount() const
{
    int n = 0;
    for (const auto& c : m_children) {
        if (c->isFlagOn(CopyToRight | CopyToLeft | DeleteLeft | DeleteRight))
            ++n;
        n += c->resultCount();
    }
    return n;
}

int IAnalyzeFileSystemItem::indexOfChild(const IAnalyzeFileSystemItem* child) const
{
    if (!child || child->m_parent != this || child->m_row < 0 || child->m_row >= int(m_children.size())
        || m_children[size_t(child->m_row)].get() != child)
        return -1;
    return child->m_row;
}

IAnalyzeFileSystemItem* IAnalyzeFileSystemItem::addChild(std::unique_ptr<IAnalyzeFileSystemItem> child)
{
    if (!child)
        return nullptr;
    child->m_parent = this;
    child->m_row = int(m_children.size());
    m_children.push_back(std::move(child));
    IAnalyzeFileSystemItem* added = m_children.back().get();
    if (m_byName)
        m_byName->insert(added->m_name, added);
    return added;
}

void IAnalyzeFileSystemItem::renumberChildren()
{
    m_byName.reset();
    for (size_t i = 0; i < m_children.size(); ++i)
        m_children[i]->m_row = int(i);
}

void IAnalyzeFileSystemItem::removeChild(IAnalyzeFileSystemItem* child)
{
    std::erase_if(
        m_children, [child](const std::unique_ptr<IAnalyzeFileSystemItem>& c) { return c.get() == child; });
    renumberChildren();
}

void IAnalyzeFileSystemItem::removeChildren()
{
    m_children.clear();
    m_byName.reset();
}

const QMultiHash<QString, IAnalyzeFileSystemItem*>* IAnalyzeFileSystemItem::nameIndex() const
{
    if (m_children.size() < size_t(NameIndexFrom))
        return nullptr;
    if (!m_byName) {
        m_byName = std::make_unique<QMultiHash<QString, IAnalyzeFileSystemItem*>>();
        m_byName->reserve(qsizetype(m_children.size()));
        for (const auto& c : m_children)
            m_byName->insert(c->m_name, c.get());
    }
    return m_byName.get();
}

IAnalyzeFileSystemItem* IAnalyzeFileSystemItem::childWithName(const QString& name, bool folder, bool link) const
{
    auto fits = [&](const IAnalyzeFileSystemItem* c) {
        return c->m_name == name && c->m_folder == folder && c->m_link == link;
    };
    const auto* index = nameIndex();
    if (!index) {
        for (const auto& c : m_children)
            if (fits(c.get()))
                return c.get();
        return nullptr;
    }
    // The first in child order, as a walk of the children finds it.
    IAnalyzeFileSystemItem* first = nullptr;
    const auto [from, to] = index->equal_range(name);
    for (auto it = from; it != to; ++it)
        if (fits(it.value()) && (!first || it.value()->m_row < first->m_row))
            first = it.value();
    return first;
}

IAnalyzeFileSystemItem* IAnalyzeFileSystemItem::childWithNameEqualToString(const QString& name) const
{
    const auto* index = nameIndex();
    if (!index) {
        for (const auto& c : m_children)
            if (c->m_name == name)
                return c.get();
        return nullptr;
    }
    IAnalyzeFileSystemItem* first = nullptr;
    const auto [from, to] = index->equal_range(name);
    for (auto it = from; it != to; ++it)
        if (!first || it.value()->m_row < first->m_row)
            first = it.value();
    return first;
}

IAnalyzeFileSystemItem* IAnalyzeFileSystemItem::prev() const
{
    if (!m_parent)
        return nullptr;
    const int i = m_parent->indexOfChild(this);
    return m_parent->childAtIndex(i - 1 < 0 ? -1 : i - 1);
}

IAnalyzeFileSystemItem* IAnalyzeFileSystemItem::next() const
{
    if (!m_parent)
        return nullptr;
    return m_parent->childAtIndex(m_parent->indexOfChild(this) + 1);
}

bool IAnalyzeFileSystemItem::isNameLessThenString(const QString& text) const
{
    if (text.isNull())
        return true;
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator.compare(m_name, text) < 0;
}

IAnalyzeFileSystemItem* IAnalyzeFileSystemItem::treeItemWithPath(
    const QString& path, bool dir, bool link, qint64 leftRightFlag, bool create)
{
    const QStringList components = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (components.isEmpty())
        return nullptr;
    IAnalyzeFileSystemItem* node = this;
    for (int i = 0; i < components.size(); ++i) {
        const bool last = i == components.size() - 1;
        const bool wantFolder = !last || dir;
        const bool wantLink = last && link;
        IAnalyzeFileSystemItem* match = node->childWithName(components[i], wantFolder, wantLink);
        if (!match)
            return create ? node->createItemWithPathArray(components, i, dir, link, leftRightFlag) : nullptr;
        match->setFlagOn(leftRightFlag);
        node = match;
    }
    return node;
}

IAnalyzeFileSystemItem* IAnalyzeFileSystemItem::createItemWithPath(
    const QString& path, bool dir, bool link, qint64 leftRightFlag)
{
    return createItemWithPathArray(
        path.split(QLatin1Char('/'), Qt::SkipEmptyParts), 0, dir, link, leftRightFlag);
}

IAnalyzeFileSystemItem* IAnalyzeFileSystemItem::createItemWithPathArray(
    const QStringList& components, int firstElementIndex, bool dir, bool link, qint64 leftRightFlag)
{
    if (firstElementIndex < 0 || firstElementIndex >= components.size())
        return nullptr;
    IAnalyzeFileSystemItem* node = this;
    for (int i = firstElementIndex; i < components.size(); ++i) {
        const bool last = i == components.size() - 1;
        const bool folder = !last || (dir && !link);
        auto item = std::make_unique<IAnalyzeFileSystemItem>(components[i], folder);
        item->setFlagOn(leftRightFlag);
        item->setLink(last && link);
        node = node->addChild(std::move(item));
    }
    return node;
}
