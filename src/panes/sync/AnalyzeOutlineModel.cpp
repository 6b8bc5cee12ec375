#include "panes/sync/AnalyzeOutlineModel.h"

#include "panes/sync/SyncPaneRules.h"
#include "projects/IProcessCard.h"
#include "sync/IAnalyzeProcController.h"
#include "sync/ISynchron.h"
#include "sync/ISynchronizeController.h"
#include "utilities/IColorUtil.h"

#include <QAbstractFileIconProvider>
#include <QCoreApplication>
#include <QFileInfo>
#include <QIcon>
#include <QPalette>
#include <QGuiApplication>

#include <algorithm>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

using Item = IAnalyzeFileSystemItem;

namespace {

QString loc(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

Qt::CheckState checkState(int check)
{
    return check == 1 ? Qt::Checked : check == 0 ? Qt::Unchecked : Qt::PartiallyChecked;
}

// The image of a direction mark; the coloured marks have dark forms.
QIcon directionIcon(const QString& name)
{
    const bool dark = IColorUtil::isDarkPalette(QGuiApplication::palette()) && !name.contains(QLatin1String("white"));
    return QIcon(QStringLiteral(":/icons/%1%2.svg").arg(name, dark ? QStringLiteral("_drk") : QString()));
}

} // namespace

AnalyzeOutlineModel::AnalyzeOutlineModel(QObject* parent)
    : QAbstractItemModel(parent)
    , m_processor(std::make_unique<IAnalyzeProcController>())
{
    // Two icons serve every row, made on first use: a folder (not a link to one) and anything else.
    struct Icons
    {
        QIcon folder, file;
        bool made = false;
    };
    auto icons = std::make_shared<Icons>();
    setIconProvider([icons](const QString&, bool folder, bool link) {
        if (!icons->made) {
            QAbstractFileIconProvider provider;
            icons->folder = provider.icon(QAbstractFileIconProvider::Folder);
            icons->file = provider.icon(QAbstractFileIconProvider::File);
            icons->made = true;
        }
        return folder && !link ? icons->folder : icons->file;
    });
    m_processor->setEndObserver([this](int result, const QString&) {
        if (result == 0)
            emit analyzeFinished();
    });
}

AnalyzeOutlineModel::~AnalyzeOutlineModel()
{
    if (m_processor->isProcessing())
        m_processor->terminateProcess();
}

void AnalyzeOutlineModel::setProject(const std::shared_ptr<ISynchron>& project)
{
    const std::shared_ptr<ISynchron> P = project && !project->isClone() ? project : nullptr;
    if (P == synchron())
        return;
    if (synchron() && synchron()->isInState(ISynchron::OpAnalysing))
        stopAnalyze();
    m_expanded.clear();
    setSynchron(P);
}

// ---- The run's calls ---------------------------------------------------------------------------

void AnalyzeOutlineModel::beginReset()
{
    if (m_resetDepth++ == 0)
        beginResetModel();
    m_fresh.clear();
}

void AnalyzeOutlineModel::endReset()
{
    if (--m_resetDepth == 0)
        endResetModel();
}

void AnalyzeOutlineModel::prepareFileTree()
{
    beginReset();
    AnalyzeTreeModel::prepareFileTree();
    endReset();
}

void AnalyzeOutlineModel::reloadData()
{
    m_fresh.clear();
    beginReset();
    endReset();
    if (m_resetDepth == 0)
        emit reloaded();
}

void AnalyzeOutlineModel::finalAnalyze()
{
    AnalyzeTreeModel::finalAnalyze();
    if (treeRoot())
        emitSubtreeChanged(treeRoot());
}

void AnalyzeOutlineModel::setFileTreeFlagOn(qint64 mask)
{
    AnalyzeTreeModel::setFileTreeFlagOn(mask);
    if (treeRoot())
        emitSubtreeChanged(treeRoot());
}

void AnalyzeOutlineModel::setFileTreeFlagOff(qint64 mask)
{
    AnalyzeTreeModel::setFileTreeFlagOff(mask);
    if (treeRoot())
        emitSubtreeChanged(treeRoot());
}

void AnalyzeOutlineModel::clearTree()
{
    if (m_processor->isProcessing())
        m_processor->terminateProcess();
    beginReset();
    AnalyzeTreeModel::clearTree();
    endReset();
}

void AnalyzeOutlineModel::setArrows(bool show)
{
    const bool dropsTree = !show && showArrowsAndColors();
    if (dropsTree)
        beginReset();
    setShowArrowsAndColors(show);
    if (dropsTree)
        endReset();
}

// ---- Starting and stopping ---------------------------------------------------------------------

bool AnalyzeOutlineModel::isAnalyzing() const
{
    return m_processor->isProcessing();
}

void AnalyzeOutlineModel::setProgramObserver(std::function<void(const QByteArray&)> observer)
{
    m_processor->setProgramObserver(std::move(observer));
}

bool AnalyzeOutlineModel::analyzeCurrentSync()
{
    const std::shared_ptr<ISynchron> P = synchron();
    if (!P)
        return false;
    if (m_processor->isProcessing() || P->isInState(ISynchron::OpAnalysing)) {
        stopAnalyze();
        return true;
    }
    if (P->isInProcess())
        return false;
    if (m_pane) {
        m_pane->sendAnalyzeInfo(loc("Analyze"), 0);
        m_pane->setNoSendTextInfo(true);
    }
    setArrows(false);
    m_processor->processProject(P);
    return true;
}

void AnalyzeOutlineModel::stopAnalyze()
{
    if (m_pane) {
        m_pane->sendAnalyzeInfo(loc("Terminating..."), 0);
        m_pane->setSyncAnalyzeEnabled(true);
    }
    if (m_processor->isProcessing())
        m_processor->terminateProcess();
}

void AnalyzeOutlineModel::eventSyncParamsChanged(int code)
{
    if (code == 1 || code == 2)
        return;
    const std::shared_ptr<ISynchron> P = synchron();
    if (m_processor->isProcessing())
        stopAnalyze();
    setArrows(false);
    if (code == 4 || code == 6)
        clearTree();
    if (P && (P->getReady() & ISynchron::ReadyLoadContent)) {
        if (direct() != P->direction())
            setSynchron(nullptr), setSynchron(P); // remembers the direction, builds anew
        else
            prepareFileTree();
        setFileTreeFlagOff(Item::ResultMask);
    } else {
        clearTree();
    }
    reloadData();
}

void AnalyzeOutlineModel::clearAnalyze()
{
    setFileTreeFlagOff(Item::ResultMask);
    setArrows(false);
    if (m_pane)
        m_pane->sendAnalyzeInfo(QString(), 0);
    reloadData();
}

// ---- Check boxes -------------------------------------------------------------------------------

void AnalyzeOutlineModel::removeAtOrBelow(const QString& path)
{
    ISynchron* P = synchron().get();
    if (!P || !P->excludePathList())
        return;
    QStringList list = *P->excludePathList();
    const QString below = path + QLatin1Char('/');
    const qsizetype before = list.size();
    list.removeIf([&](const QString& e) { return e == path || e.startsWith(below); });
    if (list.size() != before) {
        P->setExcludePathList(list);
        P->setModified(true);
    }
}

void AnalyzeOutlineModel::setSubtree(IAnalyzeFileSystemItem* item, int check)
{
    item->setCheck(check);
    for (const auto& c : item->childrenArray())
        setSubtree(c.get(), check);
}

int AnalyzeOutlineModel::stateOfAllBrothers(const IAnalyzeFileSystemItem* item)
{
    const Item* parent = item->parent();
    if (!parent || parent->childCount() == 0)
        return -2;
    bool any1 = false, any0 = false;
    for (const auto& c : parent->childrenArray()) {
        if (c->check() == -1)
            return -1;
        (c->check() == 1 ? any1 : any0) = true;
    }
    return any1 && any0 ? -1 : any1 ? 1 : 0;
}

void AnalyzeOutlineModel::addUncheckedBrothers(IAnalyzeFileSystemItem* item)
{
    ISynchron* P = synchron().get();
    if (!P || !item->parent())
        return;
    QStringList paths;
    for (const auto& c : item->parent()->childrenArray())
        if (c.get() != item && c->check() == 0)
            paths.append(c->localPath());
    addToExcludeList(paths);
}

// As ISynchron::addPathToExcludePathList for each path in turn, with the list's entries and
// the folders they lie below kept in sets: a folder of many unchecked rows stays linear.
void AnalyzeOutlineModel::addToExcludeList(const QStringList& paths)
{
    ISynchron* P = synchron().get();
    if (!P || paths.isEmpty())
        return;
    QStringList list = P->excludePathList() ? *P->excludePathList() : QStringList();
    QSet<QString> entries, folders;
    auto index = [&](const QString& entry) {
        entries.insert(entry);
        for (qsizetype i = entry.indexOf(QLatin1Char('/')); i >= 0; i = entry.indexOf(QLatin1Char('/'), i + 1))
            folders.insert(entry.left(i));
    };
    auto reindex = [&] {
        entries.clear();
        folders.clear();
        for (const QString& e : std::as_const(list))
            index(e);
    };
    reindex();
    bool changed = false;
    for (const QString& path : paths) {
        if (path.isEmpty() || entries.contains(path))
            continue;
        if (folders.contains(path)) {
            // Entries below the path give way to it.
            const QString below = path + QLatin1Char('/');
            list.removeIf([&](const QString& e) { return e.startsWith(below); });
            reindex();
        }
        list.append(path);
        index(path);
        changed = true;
    }
    if (changed) {
        P->setExcludePathList(list);
        P->setModified(true);
    }
}

// As ISynchron::removePathFromExcludePathList for each path in turn (each call drops the first
// entry equal to it), in one pass over the list.
void AnalyzeOutlineModel::removeFromExcludeList(const QStringList& paths)
{
    ISynchron* P = synchron().get();
    if (!P || !P->excludePathList() || paths.isEmpty())
        return;
    QHash<QString, int> pending;
    for (const QString& p : paths)
        ++pending[p];
    QStringList list = *P->excludePathList();
    const qsizetype before = list.size();
    list.removeIf([&](const QString& e) {
        const auto it = pending.find(e);
        if (it == pending.end() || it.value() == 0)
            return false;
        --it.value();
        return true;
    });
    if (list.size() != before) {
        P->setExcludePathList(list);
        P->setModified(true);
    }
}

void AnalyzeOutlineModel::refreshParents(IAnalyzeFileSystemItem* item)
{
    ISynchron* P = synchron().get();
    for (Item* child = item; child->parent() && child->parent()->parent(); child = child->parent()) {
        Item* parent = child->parent();
        switch (stateOfAllBrothers(child)) {
        case -1:
            P->removePathFromExcludePathList(parent->localPath());
            parent->setCheck(-1);
            addUncheckedBrothers(child);
            break;
        case 1:
            P->removePathFromExcludePathList(parent->localPath());
            parent->setCheck(1);
            break;
        case 0: {
            QStringList children;
            children.reserve(parent->childCount());
            for (const auto& c : parent->childrenArray())
                children.append(c->localPath());
            removeFromExcludeList(children);
            P->addPathToExcludePathList(parent->localPath());
            parent->setCheck(0);
            break;
        }
        default:
            break;
        }
    }
}

void AnalyzeOutlineModel::setItemIncluded(IAnalyzeFileSystemItem* item, bool include)
{
    ISynchron* P = synchron().get();
    if (!P || !item || !item->parent())
        return;
    const QString path = item->localPath();
    if (!include) {
        // Every entry at or below the item goes, then the item alone is listed.
        removeAtOrBelow(path);
        setSubtree(item, 0);
        P->addPathToExcludePathList(path);
    } else {
        const bool listed = P->isPathInExcludePathList(path);
        removeAtOrBelow(path);
        setSubtree(item, 1);
        if (!listed)
            addUncheckedBrothers(item); // it was excluded through a parent
    }
    refreshParents(item);
    emitChecksChanged(item);
}

void AnalyzeOutlineModel::checkAll()
{
    ISynchron* P = synchron().get();
    Item* root = treeRoot();
    if (!P || !root)
        return;
    P->setExcludePathList(QStringList());
    P->setModified(true);
    setSubtree(root, 1);
    emitSubtreeChanged(root);
}

void AnalyzeOutlineModel::uncheckAll()
{
    ISynchron* P = synchron().get();
    Item* root = treeRoot();
    if (!P || !root)
        return;
    QStringList list;
    list.reserve(root->childCount());
    for (const auto& c : root->childrenArray())
        list.append(c->localPath());
    P->setExcludePathList(list);
    P->setModified(true);
    setSubtree(root, 0);
    root->setCheck(1);
    emitSubtreeChanged(root);
}

void AnalyzeOutlineModel::toggleAllChecks()
{
    m_checkToAllState ? checkAll() : uncheckAll();
    m_checkToAllState = !m_checkToAllState;
}

// setItemIncluded over many rows at once. Each row runs the same steps in the same order, on a
// copy of the exclude list that knows where each path and each path's entries below it lie,
// and on the checks of each folder's children kept as counts and as two sets of rows: the
// unchecked children whose paths are not listed, and the children whose paths are listed. A row
// then costs about what it changes, not its folder's size. The list (with its order and any
// repeated entries), the checks and the modified flag end as the rows one by one leave them.
class AnalyzeOutlineModel::CheckBatch
{
public:
    explicit CheckBatch(ISynchron* project)
        : m_project(project)
    {
        if (const auto& list = project->excludePathList()) {
            m_entries.reserve(list->size());
            for (const QString& e : *list)
                append(e);
        }
    }

    // setItemIncluded's steps for one row.
    void apply(Item* item, bool include)
    {
        if (!item || !item->parent())
            return;
        const QString path = item->localPath();
        if (!include) {
            removeAtOrBelow(path);
            setSubtree(item, 0);
            add(path);
        } else {
            const bool listed = isListed(path);
            removeAtOrBelow(path);
            setSubtree(item, 1);
            if (!listed)
                addUncheckedBrothers(item);
        }
        refreshParents(item);
    }

    // Hands the list to the project when anything changed.
    void finish()
    {
        if (!m_changed)
            return;
        QStringList list;
        list.reserve(qsizetype(m_occurrences.size()));
        for (size_t i = 0; i < m_entries.size(); ++i)
            if (m_alive[i])
                list.append(m_entries[i]);
        m_project->setExcludePathList(list);
        m_project->setModified(true);
    }

private:
    struct Folder
    {
        QString path;
        int partly = 0, on = 0, off = 0; // children checked -1, 1, anything else
        std::set<int> pending; // unchecked children whose (non-empty) paths are not listed
        std::set<int> listed; // children whose paths are listed
        std::vector<QString> paths; // each child's path, by row
    };

    static void count(Folder& f, int check, int by)
    {
        (check == -1 ? f.partly : check == 1 ? f.on : f.off) += by;
    }

    // stateOfAllBrothers of any child of the folder.
    static int state(const Folder& f)
    {
        return f.partly > 0 || (f.on > 0 && f.off > 0) ? -1 : f.on > 0 ? 1 : 0;
    }

    // A folder's record, made from the present checks and list when first met.
    Folder& folder(Item* f)
    {
        auto [it, made] = m_folders.try_emplace(f);
        Folder& s = it->second;
        if (made) {
            s.path = f->localPath();
            s.paths.reserve(size_t(f->childCount()));
            m_children.reserve(m_children.size() + f->childCount());
            int row = 0;
            for (const auto& c : f->childrenArray()) {
                QString p = c->localPath();
                count(s, c->check(), 1);
                if (isListed(p))
                    s.listed.insert(s.listed.end(), row);
                else if (c->check() == 0 && !p.isEmpty())
                    s.pending.insert(s.pending.end(), row);
                m_children.insert(p, c.get());
                s.paths.push_back(std::move(p));
                ++row;
            }
        }
        return s;
    }

    void setCheck(Item* item, int check)
    {
        if (Item* parent = item->parent()) {
            if (auto it = m_folders.find(parent); it != m_folders.end()) {
                Folder& s = it->second;
                const int row = parent->indexOfChild(item);
                count(s, item->check(), -1);
                count(s, check, 1);
                const QString& p = s.paths[size_t(row)];
                if (check == 0 && !p.isEmpty() && !isListed(p))
                    s.pending.insert(row);
                else
                    s.pending.erase(row);
            }
        }
        item->setCheck(check);
    }

    void setSubtree(Item* item, int check)
    {
        setCheck(item, check);
        for (const auto& c : item->childrenArray())
            setSubtree(c.get(), check);
    }

    // A path came onto the list or left it: the rows of that path follow.
    void listingChanged(const QString& path, bool listed)
    {
        const auto [from, to] = m_children.equal_range(path);
        for (auto it = from; it != to; ++it) {
            Item* c = it.value();
            Folder& s = m_folders.find(c->parent())->second;
            const int row = c->parent()->indexOfChild(c);
            if (listed) {
                s.pending.erase(row);
                s.listed.insert(row);
            } else {
                s.listed.erase(row);
                if (c->check() == 0 && !path.isEmpty())
                    s.pending.insert(row);
            }
        }
    }

    // ---- The list ----

    bool isListed(const QString& path) const { return m_occurrences.contains(path); }

    // Calls f with each folder the path lies below: the path up to each '/', as startsWith
    // (folder + "/") reads it.
    template<typename F>
    static void forEachFolder(const QString& path, F f)
    {
        for (qsizetype i = path.indexOf(QLatin1Char('/')); i >= 0; i = path.indexOf(QLatin1Char('/'), i + 1))
            f(path.left(i));
    }

    void append(const QString& path)
    {
        const qint64 at = qint64(m_entries.size());
        m_entries.push_back(path);
        m_alive.push_back(true);
        forEachFolder(path, [&](const QString& folder) {
            Below& b = m_below[folder];
            ++b.live;
            b.at.push_back(at);
        });
        std::vector<qint64>& where = m_occurrences[path];
        where.push_back(at);
        if (where.size() == 1)
            listingChanged(path, true);
    }

    void drop(qint64 at)
    {
        m_alive[size_t(at)] = false;
        m_changed = true;
        const QString path = m_entries[size_t(at)];
        forEachFolder(path, [&](const QString& folder) { --m_below.find(folder)->live; });
        const auto it = m_occurrences.find(path);
        std::vector<qint64>& where = it.value();
        where.erase(std::find(where.begin(), where.end(), at));
        if (where.empty()) {
            m_occurrences.erase(it);
            listingChanged(path, false);
        }
    }

    // ISynchron::removePathFromExcludePathList: the first entry equal to the path.
    void removeOne(const QString& path)
    {
        if (const auto it = m_occurrences.constFind(path); it != m_occurrences.cend())
            drop(it.value().front());
    }

    // Every entry below the path. Each folder keeps the positions of the entries appended below
    // it; once they are dropped here the folder starts afresh.
    void removeBelow(const QString& path)
    {
        const auto it = m_below.find(path);
        if (it == m_below.end() || it->live == 0)
            return;
        const std::vector<qint64> at = std::exchange(it->at, {});
        for (const qint64 a : at)
            if (m_alive[size_t(a)])
                drop(a);
    }

    void removeAtOrBelow(const QString& path)
    {
        removeBelow(path);
        for (auto it = m_occurrences.constFind(path); it != m_occurrences.cend(); it = m_occurrences.constFind(path))
            drop(it.value().front());
    }

    // ISynchron::addPathToExcludePathList, and addToExcludeList for one path.
    void add(const QString& path)
    {
        if (path.isEmpty() || isListed(path))
            return;
        removeBelow(path);
        append(path);
        m_changed = true;
    }

    // ---- The model's steps ----

    void addUncheckedBrothers(Item* item)
    {
        Item* parent = item->parent();
        Folder& s = folder(parent);
        const int self = parent->indexOfChild(item);
        const std::vector<int> rows(s.pending.begin(), s.pending.end());
        for (const int row : rows)
            if (row != self)
                add(s.paths[size_t(row)]);
    }

    // removeFromExcludeList over all the folder's children: only listed ones can match.
    void removeChildren(Folder& s)
    {
        const std::vector<int> rows(s.listed.begin(), s.listed.end());
        for (const int row : rows)
            removeOne(s.paths[size_t(row)]);
    }

    void refreshParents(Item* item)
    {
        for (Item* child = item; child->parent() && child->parent()->parent(); child = child->parent()) {
            Item* parent = child->parent();
            Folder& s = folder(parent);
            switch (state(s)) {
            case -1:
                removeOne(s.path);
                setCheck(parent, -1);
                addUncheckedBrothers(child);
                break;
            case 1:
                removeOne(s.path);
                setCheck(parent, 1);
                break;
            default:
                removeChildren(s);
                add(s.path);
                setCheck(parent, 0);
                break;
            }
        }
    }

    ISynchron* m_project;
    bool m_changed = false;
    std::vector<QString> m_entries; // every entry the list has held, in list order
    std::vector<bool> m_alive; // which of them it still holds
    QHash<QString, std::vector<qint64>> m_occurrences; // the entries held, by path, earliest first
    struct Below
    {
        int live = 0; // entries held below the folder
        std::vector<qint64> at; // where they are, among others since dropped
    };
    QHash<QString, Below> m_below;
    std::unordered_map<const Item*, Folder> m_folders; // element references stay valid as it grows
    QMultiHash<QString, Item*> m_children; // the children of the folders recorded, by path
};

void AnalyzeOutlineModel::setSelectedIncluded(const QModelIndexList& rows, bool include)
{
    ISynchron* P = synchron().get();
    if (!P)
        return;
    QList<Item*> items;
    QSet<Item*> seen;
    for (const QModelIndex& i : rows)
        if (Item* it = nodeOf(i); it && it->parent() && !seen.contains(it)) {
            seen.insert(it);
            items << it;
        }
    if (items.isEmpty())
        return;
    {
        CheckBatch batch(P);
        for (Item* it : items)
            batch.apply(it, include);
        batch.finish();
    }
    if (m_resetDepth > 0)
        return;
    // What each row's emitChecksChanged covers, once: the rows' folders and the folders given,
    // and the rows of the folders above them.
    QSet<Item*> folders;
    for (Item* it : items) {
        folders.insert(it->parent());
        if (it->isFolder())
            folders.insert(it);
    }
    QSet<Item*> rowsDone;
    for (Item* f : std::as_const(folders)) {
        for (Item* a = f; a->parent() && !rowsDone.contains(a); a = a->parent()) {
            rowsDone.insert(a);
            const QModelIndex i = indexOfItem(a);
            emit dataChanged(i, i.siblingAtColumn(ColumnCount - 1));
        }
    }
    for (Item* it : items)
        if (!it->parent()->isFlagOn(Item::ChildrenLoaded)) {
            const QModelIndex i = indexOfItem(it);
            emit dataChanged(i, i.siblingAtColumn(ColumnCount - 1));
        }
    for (Item* f : std::as_const(folders)) {
        bool within = false; // a folder above is announced with its whole subtree
        for (Item* a = f->parent(); a && !within; a = a->parent())
            within = folders.contains(a);
        if (!within)
            emitSubtreeChanged(f);
    }
}

void AnalyzeOutlineModel::emitChecksChanged(IAnalyzeFileSystemItem* from)
{
    if (m_resetDepth > 0)
        return;
    for (Item* a = from; a && a->parent(); a = a->parent()) {
        const QModelIndex i = indexOfItem(a);
        emit dataChanged(i, i.siblingAtColumn(ColumnCount - 1));
    }
    if (from->isFolder())
        emitSubtreeChanged(from);
    if (from->parent())
        emitSubtreeChanged(from->parent());
}

void AnalyzeOutlineModel::emitSubtreeChanged(IAnalyzeFileSystemItem* folder)
{
    if (m_resetDepth > 0 || !folder->isFlagOn(Item::ChildrenLoaded) || folder->childCount() == 0)
        return;
    const QModelIndex parent = folder->parent() ? indexOfItem(folder) : QModelIndex();
    emit dataChanged(index(0, 0, parent), index(folder->childCount() - 1, ColumnCount - 1, parent));
    for (const auto& c : folder->childrenArray())
        if (c->isFolder())
            emitSubtreeChanged(c.get());
}

// ---- Opened folders ----------------------------------------------------------------------------

void AnalyzeOutlineModel::folderExpanded(const QModelIndex& index)
{
    if (Item* it = nodeOf(index); it && !m_expanded.contains(it->localPath()))
        m_expanded.append(it->localPath());
}

void AnalyzeOutlineModel::folderCollapsed(const QModelIndex& index)
{
    if (Item* it = nodeOf(index))
        m_expanded.removeAll(it->localPath());
}

void AnalyzeOutlineModel::relistFolder(const QModelIndex& index, bool afterOpening)
{
    Item* it = nodeOf(index);
    if (!it || !it->isFolder() || !it->isFlagOn(Item::ChildrenLoaded) || m_processor->isProcessing())
        return;
    if (m_fresh.remove(it) && afterOpening)
        return; // read just now by the same opening
    // The rows leave and come back: kept nodes keep their result bits and checks.
    if (const int n = it->childCount(); n > 0) {
        m_inserting = it;
        beginRemoveRows(index, 0, n - 1);
        it->setFlagOff(Item::ChildrenLoaded);
        endRemoveRows();
        m_inserting = nullptr;
    }
    synchronizeChildrenForFileTreeItem(it);
    if (const int m = it->childCount(); m > 0) {
        it->setFlagOff(Item::ChildrenLoaded);
        m_inserting = it;
        beginInsertRows(index, 0, m - 1);
        it->setFlagOn(Item::ChildrenLoaded);
        endInsertRows();
        m_inserting = nullptr;
    }
}

// ---- Model -------------------------------------------------------------------------------------

IAnalyzeFileSystemItem* AnalyzeOutlineModel::nodeOf(const QModelIndex& index) const
{
    return index.isValid() ? static_cast<Item*>(index.internalPointer()) : treeRoot();
}

IAnalyzeFileSystemItem* AnalyzeOutlineModel::itemAt(const QModelIndex& index) const
{
    return index.isValid() ? static_cast<Item*>(index.internalPointer()) : nullptr;
}

QModelIndex AnalyzeOutlineModel::indexOfItem(const IAnalyzeFileSystemItem* item, int column) const
{
    if (!item || !item->parent())
        return QModelIndex();
    return createIndex(item->parent()->indexOfChild(item), column, const_cast<Item*>(item));
}

QModelIndex AnalyzeOutlineModel::indexOfLocalPath(const QString& localPath) const
{
    Item* root = treeRoot();
    if (!root)
        return QModelIndex();
    const Item* found = root->treeItemWithPath(localPath, false, false, 0, false);
    if (!found) {
        // treeItemWithPath wants a folder for inner components; find by name instead.
        const Item* at = root;
        for (const QString& part : localPath.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
            at = at ? at->childWithNameEqualToString(part) : nullptr;
        }
        found = at != root ? at : nullptr;
    }
    return indexOfItem(found);
}

QModelIndex AnalyzeOutlineModel::index(int row, int column, const QModelIndex& parent) const
{
    if (column < 0 || column >= ColumnCount || (parent.isValid() && parent.column() != 0))
        return QModelIndex();
    Item* p = nodeOf(parent);
    if (!p || !p->isFlagOn(Item::ChildrenLoaded))
        return QModelIndex();
    Item* c = p->childAtIndex(row);
    return c ? createIndex(row, column, c) : QModelIndex();
}

QModelIndex AnalyzeOutlineModel::parent(const QModelIndex& child) const
{
    Item* c = itemAt(child);
    if (!c || !c->parent() || !c->parent()->parent())
        return QModelIndex();
    return indexOfItem(c->parent());
}

int AnalyzeOutlineModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid() && parent.column() != 0)
        return 0;
    const Item* p = nodeOf(parent);
    return p && p->isFlagOn(Item::ChildrenLoaded) ? p->childCount() : 0;
}

int AnalyzeOutlineModel::columnCount(const QModelIndex&) const
{
    return ColumnCount;
}

bool AnalyzeOutlineModel::hasChildren(const QModelIndex& parent) const
{
    if (parent.isValid() && parent.column() != 0)
        return false;
    const Item* p = nodeOf(parent);
    if (!p)
        return false;
    if (p->isFlagOn(Item::ChildrenLoaded))
        return p->childCount() > 0;
    return p->isFolder() && !p->isLink();
}

bool AnalyzeOutlineModel::canFetchMore(const QModelIndex& parent) const
{
    const Item* p = itemAt(parent);
    return p && parent.column() == 0 && p->isFolder() && !p->isLink() && !p->isFlagOn(Item::ChildrenLoaded)
        && p != m_inserting;
}

void AnalyzeOutlineModel::fetchMore(const QModelIndex& parent)
{
    Item* p = itemAt(parent);
    if (!canFetchMore(parent))
        return;
    loadChildrenForFileTreeItem(p);
    m_fresh.insert(p);
    const int n = p->childCount();
    // The rows are announced with the folder still unread, so the count grows at the end.
    p->setFlagOff(Item::ChildrenLoaded);
    m_inserting = p;
    if (n > 0)
        beginInsertRows(parent, 0, n - 1);
    p->setFlagOn(Item::ChildrenLoaded);
    if (n > 0)
        endInsertRows();
    m_inserting = nullptr;
}

QVariant AnalyzeOutlineModel::data(const QModelIndex& index, int role) const
{
    const Item* it = itemAt(index);
    if (!it)
        return QVariant();
    const bool arrows = showArrowsAndColors();
    switch (index.column()) {
    case ColIncluded:
        if (role == Qt::CheckStateRole)
            return checkState(it->check());
        break;
    case ColSource:
    case ColDestination: {
        const bool right = index.column() == ColDestination;
        if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
            return it->name();
        if (role == Qt::DecorationRole)
            return right ? it->rightImage() : it->leftImage();
        if (role == Qt::ForegroundRole) {
            const QPalette pal = QGuiApplication::palette();
            switch (SyncPaneRules::cellStyle(it->flags(), it->isFolder(), right, false, arrows)) {
            case SyncPaneRules::CellStyle::Dimmed:
                return pal.color(QPalette::Disabled, QPalette::Text);
            case SyncPaneRules::CellStyle::Copied:
                return QColor(0x1f, 0x7a, 0x1f);
            case SyncPaneRules::CellStyle::Deleted:
                return QColor(0xc0, 0x20, 0x20);
            case SyncPaneRules::CellStyle::Changed:
                return QColor(0x20, 0x5a, 0xc0);
            case SyncPaneRules::CellStyle::Normal:
                return QVariant();
            }
        }
        break;
    }
    case ColDirection: {
        const QString name = SyncPaneRules::directionImageName(
            SyncPaneRules::directionImage(it->flags(), it->isFolder(), arrows), false);
        if (role == DirectionNameRole)
            return name;
        if (role == Qt::DecorationRole && !name.isEmpty())
            return directionIcon(name);
        break;
    }
    default:
        break;
    }
    if (role == FlagsRole)
        return it->flags();
    return QVariant();
}

bool AnalyzeOutlineModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    Item* it = itemAt(index);
    if (!it || index.column() != ColIncluded || role != Qt::CheckStateRole)
        return false;
    setItemIncluded(it, value.toInt() != Qt::Unchecked);
    return true;
}

Qt::ItemFlags AnalyzeOutlineModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == ColIncluded && !m_processor->isProcessing())
        f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant AnalyzeOutlineModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    switch (section) {
    case ColIncluded:
        return QString();
    case ColSource:
        return loc("Source");
    case ColDirection:
        return QString();
    case ColDestination:
        return loc("Destination");
    default:
        return QVariant();
    }
}
