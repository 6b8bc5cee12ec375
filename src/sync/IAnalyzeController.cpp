#include "sync/IAnalyzeController.h"

#include "platform/NameCodec.h"
#include "projects/ILocation.h"
#include "projects/IProcessCard.h"
#include "sync/ISynchron.h"

#include <QCollator>
#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <future>
#include <system_error>
#include <sys/stat.h>

namespace {

IAnalyzeController* g_current = nullptr;

AnalyzeTreeModel& headless()
{
    static AnalyzeTreeModel model;
    return model;
}

using Item = IAnalyzeFileSystemItem;

} // namespace

IAnalyzeController& IAnalyzeController::shared()
{
    return g_current ? *g_current : headless();
}

void IAnalyzeController::setShared(IAnalyzeController* controller)
{
    g_current = controller;
}

AnalyzeTreeModel::AnalyzeTreeModel() = default;
AnalyzeTreeModel::~AnalyzeTreeModel() = default;

void AnalyzeTreeModel::setSynchron(const std::shared_ptr<ISynchron>& project)
{
    if (project == m_synchron)
        return;
    m_synchron = project;
    m_direct = project ? project->direction() : 0;
    prepareFileTree();
    reloadData();
}

void AnalyzeTreeModel::setTreeRootItem(std::unique_ptr<IAnalyzeFileSystemItem> root)
{
    m_root = std::move(root);
}

bool AnalyzeTreeModel::fileIsDirIsLink(const QString& path, bool* isDir, bool* isLink)
{
    struct stat st
    {
    };
    const bool exists = ::lstat(NameCodec::encode(path).constData(), &st) == 0;
    if (isDir)
        *isDir = exists && S_ISDIR(st.st_mode);
    if (isLink)
        *isLink = exists && S_ISLNK(st.st_mode);
    return exists;
}

QList<AnalyzeTreeModel::Entry> AnalyzeTreeModel::listFolder(const QString& path, bool sorted)
{
    QList<Entry> entries;
    const QByteArray folder = NameCodec::encode(path);
    DIR* dir = ::opendir(folder.constData());
    if (!dir)
        return entries; // a folder that cannot be listed contributes no children
    while (dirent* d = ::readdir(dir)) {
        if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0)
            continue;
        Entry e;
        e.name = NameCodec::decode(QByteArray(d->d_name));
        if (d->d_type != DT_UNKNOWN) {
            e.folder = d->d_type == DT_DIR;
            e.link = d->d_type == DT_LNK;
        } else {
            // A file system that does not give the type in the listing.
            struct stat st
            {
            };
            const QByteArray full = folder + '/' + QByteArray(d->d_name);
            if (::lstat(full.constData(), &st) == 0) {
                e.folder = S_ISDIR(st.st_mode);
                e.link = S_ISLNK(st.st_mode);
            }
        }
        entries.append(e);
    }
    ::closedir(dir);
    if (sorted) {
        // Sort keys order as the collator compares, each name's key made once.
        QCollator collator;
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        std::vector<std::pair<QCollatorSortKey, qsizetype>> keys;
        keys.reserve(size_t(entries.size()));
        for (qsizetype i = 0; i < entries.size(); ++i)
            keys.emplace_back(collator.sortKey(entries.at(i).name), i);
        std::stable_sort(keys.begin(), keys.end(),
            [](const auto& a, const auto& b) { return a.first.compare(b.first) < 0; });
        QList<Entry> ordered;
        ordered.reserve(entries.size());
        for (const auto& k : keys)
            ordered.append(std::move(entries[k.second]));
        return ordered;
    }
    return entries;
}

void AnalyzeTreeModel::markSide(IAnalyzeFileSystemItem* item, const QList<Entry>& entries, bool left)
{
    const qint64 bits = Item::Listed | (left ? Item::Left : Item::Right);
    const QString base = left ? item->leftPath() : item->rightPath();
    for (const Entry& e : entries) {
        Item* match = item->childWithName(e.name, e.folder, e.link);
        if (!match) {
            auto node = std::make_unique<Item>(e.name, e.folder);
            node->setLink(e.link);
            match = item->addChild(std::move(node));
        }
        match->setFlagOn(bits);
        if (m_iconProvider) {
            const QIcon icon = m_iconProvider(base + QLatin1Char('/') + e.name, e.folder, e.link);
            left ? match->setLeftImage(icon) : match->setRightImage(icon);
        }
    }
}

void AnalyzeTreeModel::markBothSides(IAnalyzeFileSystemItem* item, bool left, bool right, bool sorted)
{
    // Both folders are read at once, the left one on a thread of its own; the nodes are made
    // here, left side first.
    std::future<QList<Entry>> leftEntries;
    if (left && right) {
        try {
            leftEntries = std::async(
                std::launch::async, [path = item->leftPath(), sorted] { return listFolder(path, sorted); });
        } catch (const std::system_error&) {
            // No thread to be had: one side after the other.
        }
    }
    const QList<Entry> rightEntries = right ? listFolder(item->rightPath(), sorted) : QList<Entry>();
    if (left)
        markSide(item, leftEntries.valid() ? leftEntries.get() : listFolder(item->leftPath(), sorted), true);
    if (right)
        markSide(item, rightEntries, false);
}

void AnalyzeTreeModel::loadChildrenForFileTreeItem(IAnalyzeFileSystemItem* item)
{
    if (!item || !item->isFolder())
        return;
    bool dir = false;
    const bool left = item->isFlagOn(Item::Left) && fileIsDirIsLink(item->leftPath(), &dir, nullptr) && dir;
    const bool right = item->isFlagOn(Item::Right) && fileIsDirIsLink(item->rightPath(), &dir, nullptr) && dir;
    markBothSides(item, left, right, true);
    setIncludeCheckesToItem(item);
    item->setFlagOn(Item::ChildrenLoaded);
}

void AnalyzeTreeModel::synchronizeChildrenForFileTreeItem(IAnalyzeFileSystemItem* item)
{
    if (!item || !item->isFolder())
        return;
    item->setChildrenFlagOff(Item::Left | Item::Right | Item::Listed);
    bool dir = false;
    const bool left = fileIsDirIsLink(item->leftPath(), &dir, nullptr) && dir;
    const bool right = fileIsDirIsLink(item->rightPath(), &dir, nullptr) && dir;
    markBothSides(item, left, right, false);
    item->removeChildrenIf([](const Item& c) { return !c.isFlagOn(Item::Listed); });
    setIncludeCheckesToItem(item);
    item->setFlagOn(Item::ChildrenLoaded);
}

void AnalyzeTreeModel::synchronizeFileTree()
{
    if (m_root && m_synchron && (m_synchron->getReady() & ISynchron::ReadyLoadContent))
        synchronizeChildrenForFileTreeItem(m_root.get());
}

AnalyzeTreeModel::ExcludeIndex::ExcludeIndex(const ISynchron* project)
{
    if (!project || !project->excludePathList())
        return;
    const QStringList& list = *project->excludePathList();
    entries.reserve(list.size());
    for (const QString& entry : list) {
        entries.insert(entry);
        // An entry lies below each of its leading parts that ends before a "/".
        for (qsizetype i = entry.indexOf(QLatin1Char('/')); i >= 0; i = entry.indexOf(QLatin1Char('/'), i + 1))
            folders.insert(entry.left(i));
    }
}

void AnalyzeTreeModel::setIncludeCheckesToItem(IAnalyzeFileSystemItem* folder)
{
    if (!folder)
        return;
    const ExcludeIndex excludes(m_synchron.get());
    setIncludeCheckes(folder, excludes);
}

void AnalyzeTreeModel::setIncludeCheckes(IAnalyzeFileSystemItem* folder, const ExcludeIndex& excludes)
{
    const bool open = !folder->parent() || folder->check() != 0;
    const bool none = excludes.entries.isEmpty();
    for (const auto& c : folder->childrenArray()) {
        const QString local = none ? QString() : c->localPath();
        if (excludes.entries.contains(local))
            c->setCheck(0);
        else if (!open)
            c->setCheck(0);
        else if (c->isFolder() && excludes.folders.contains(local))
            c->setCheck(-1);
        else
            c->setCheck(1);
        if (c->isFolder())
            setIncludeCheckes(c.get(), excludes);
    }
}

void AnalyzeTreeModel::prepareFileTree()
{
    if (!m_synchron || !(m_synchron->getReady() & ISynchron::ReadyLoadContent)) {
        clearTree();
        return;
    }
    const auto first = m_synchron->firstLocation();
    const auto second = m_synchron->secondLocation();
    const QString left = first ? first->getContentPathVerify(true) : QString();
    const QString right = second ? second->getContentPathVerify(true) : QString();
    if (m_root && m_root->leftPath() == left && m_root->rightPath() == right) {
        synchronizeChildrenForFileTreeItem(m_root.get());
        return;
    }
    auto root = std::make_unique<Item>(QStringLiteral("root"), true);
    root->setLeftPath(left);
    root->setRightPath(right);
    root->setFlagOn(Item::Left | Item::Right);
    m_root = std::move(root);
    loadChildrenForFileTreeItem(m_root.get());
}

void AnalyzeTreeModel::setFlagOnToChildrenOf(qint64 mask, IAnalyzeFileSystemItem* item)
{
    for (const auto& c : item->childrenArray()) {
        c->setFlagOn(mask);
        setFlagOnToChildrenOf(mask, c.get());
    }
}

void AnalyzeTreeModel::setFlagOffToChildrenOf(qint64 mask, IAnalyzeFileSystemItem* item)
{
    for (const auto& c : item->childrenArray()) {
        c->setFlagOff(mask);
        setFlagOffToChildrenOf(mask, c.get());
    }
}

void AnalyzeTreeModel::setFileTreeFlagOn(qint64 mask)
{
    if (!m_root)
        return;
    m_root->setFlagOn(mask);
    setFlagOnToChildrenOf(mask, m_root.get());
}

void AnalyzeTreeModel::setFileTreeFlagOff(qint64 mask)
{
    if (!m_root)
        return;
    m_root->setFlagOff(mask);
    setFlagOffToChildrenOf(mask, m_root.get());
}

void AnalyzeTreeModel::propagate(IAnalyzeFileSystemItem* item)
{
    for (const auto& c : item->childrenArray()) {
        if (c->isFolder())
            propagate(c.get());
        if (c->isFlagOn(Item::CopyToRight | Item::DeleteLeft | Item::ChangeLeft | Item::BelowChangesLeft))
            item->setFlagOn(Item::BelowChangesLeft);
        if (c->isFlagOn(Item::CopyToLeft | Item::DeleteRight | Item::ChangeRight | Item::BelowChangesRight))
            item->setFlagOn(Item::BelowChangesRight);
    }
}

void AnalyzeTreeModel::finalAnalyze()
{
    if (!m_root)
        return;
    propagate(m_root.get());
    m_showArrowsAndColors = true;
    if (m_synchron)
        if (IProcessCard* card = m_synchron->processCard())
            card->set(stateEmpty);
}

void AnalyzeTreeModel::clearTree()
{
    if (m_root)
        m_root->removeChildren();
    m_root.reset();
    m_showArrowsAndColors = false;
}

void AnalyzeTreeModel::setShowArrowsAndColors(bool show)
{
    if (!show && m_showArrowsAndColors)
        clearTree();
    m_showArrowsAndColors = show;
}
