#include "archive/CBackupItemsContainer.h"

#include "archive/ArchiveNames.h"
#include "archive/CBackup.h"
#include "archive/CBackupItem.h"
#include "archive/CUDArch.h"
#include "archive/IBackup.h"
#include "archive/TarListPaths.h"
#include "platform/NameCodec.h"
#include "utilities/CommonFunctions.h"
#include "utilities/LogOptions.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <algorithm>
#include <sys/stat.h>

namespace {

// The system exclude list of one top-level item: an entry starting with "/" matches the paths
// that begin with it, any other entry the paths that hold it.
bool matchesExcludes(const QByteArray& path, const std::vector<std::string>* excludes)
{
    if (!excludes)
        return false;
    for (const std::string& e : *excludes) {
        if (e.empty())
            continue;
        if (e.front() == '/' ? path.startsWith(QByteArray::fromStdString(e))
                             : path.contains(QByteArray::fromStdString(e)))
            return true;
    }
    return false;
}

bool writeLine(FILE* file, const QByteArray& line)
{
    if (!file)
        return false;
    return std::fwrite(line.constData(), 1, size_t(line.size()), file) == size_t(line.size())
        && std::fputc('\n', file) != EOF;
}

int collectIncluded(CBackupItemsContainer* c, FILE* file, bool incremental, double& totalSize,
    const std::vector<std::string>* excludes)
{
    int lines = 0;
    for (int i = 0; i < c->count(); ++i) {
        CBackupItem* item = c->itemAt(i);
        std::vector<std::string> own;
        const std::vector<std::string>* list = excludes;
        if (item->isTopLevel()) {
            if (item->isIncluded() && item->exists()) {
                CBackup* project = item->owningProject();
                if (project)
                    project->getIBackup()->prepareSystemExcludeListForPath(item->getAbsolutePath(), &own);
                for (std::string& e : own) {
                    if (e.size() >= 2 && e.compare(e.size() - 2, 2, "/*") == 0)
                        e.resize(e.size() - 2);
                    else if (!e.empty() && e.back() == '*')
                        e.pop_back();
                }
                list = &own;
            } else if (item->isIncluded()) {
                CBackup* project = item->owningProject();
                if (project)
                    project->raiseWarning();
                if (project)
                    project->getIBackup()->processMessage(
                        QCoreApplication::translate(
                            "Localizable", "Warning: Source file/folder \"%1\" was not found!")
                            .arg(QFileInfo(item->getAbsolutePath()).fileName()),
                        0x4781, project->getIBackup());
            }
        } else if (matchesExcludes(NameCodec::encode(item->getAbsolutePath()), list)) {
            continue;
        }
        item->setInListForBackup(false);
        if (!item->isIncluded() || !item->exists())
            continue;
        if (!(incremental && CBackupItemsContainer::needExcludeFromIncrementalBackup(item))) {
            int count = 0;
            const int wrote = item->includeItemToStream(file, count);
            lines += wrote;
            if (wrote > 0 && !item->isFolder())
                totalSize += double(item->size());
        }
        if (item->isFolder() && !(item->flags() & BIF_LINK))
            lines += collectIncluded(item, file, incremental, totalSize, list);
    }
    return lines;
}

int collectForRestore(const CBackupItemsContainer* c, RestoreMembers& members, bool recurse, bool folderOfTop,
    int index, bool onlyInArchive, bool absolutePaths, const QString& folder)
{
    int names = 0;
    for (int i = 0; i < c->count(); ++i) {
        const CBackupItem* item = c->itemAt(i);
        if (onlyInArchive && !item->isInsertedInArchive(index))
            continue;
        QString groupFolder = folder;
        if (item->isTopLevel() && folderOfTop) {
            const QString abs = item->getAbsolutePath();
            const qsizetype slash = abs.lastIndexOf(QLatin1Char('/'));
            groupFolder = slash > 0 ? abs.left(slash) : (slash == 0 ? QStringLiteral("/") : QString());
        }
        const QString name = absolutePaths ? item->getAbsolutePath() : item->getPath();
        if (!name.isEmpty()) {
            ArchiveRestoreMembers::append(members, groupFolder, name);
            ++names;
        }
        if (recurse)
            names += collectForRestore(
                item, members, recurse, false, index, onlyInArchive, absolutePaths, groupFolder);
    }
    return names;
}

} // namespace

CBackupItemsContainer::CBackupItemsContainer() = default;

CBackupItemsContainer::~CBackupItemsContainer() = default;

CBackupItem* CBackupItemsContainer::itemAt(int index) const
{
    return index >= 0 && size_t(index) < m_items.size() ? m_items[size_t(index)].get() : nullptr;
}

int CBackupItemsContainer::indexOf(const CBackupItem* item) const
{
    for (size_t i = 0; i < m_items.size(); ++i)
        if (m_items[i].get() == item)
            return int(i);
    return -1;
}

CBackupItem* CBackupItemsContainer::insertNewItem(const QString& path, CBackupItem* parent)
{
    CBackup* project = owningProject();
    auto item = std::make_unique<CBackupItem>(path, parent, project);
    if (item->storedPath().isEmpty())
        return nullptr;
    const auto at = std::lower_bound(m_items.begin(), m_items.end(), item,
        [](const std::unique_ptr<CBackupItem>& a, const std::unique_ptr<CBackupItem>& b) {
            return backupItemLess(*a, *b);
        });
    // The same item (exactly the same name and path) is returned as it is.
    if (at != m_items.end() && !backupItemLess(*item, **at))
        return at->get();
    return m_items.insert(at, std::move(item))->get();
}

void CBackupItemsContainer::insertNames(const QStringList& names, CBackupItem* parent)
{
    // The items' order (backupItemLess) for names within one folder: case-insensitive first,
    // then exact. Sorted first, the names merge into the list in one pass (no quadratic moving),
    // and an item is made only for a name the list does not hold yet: a refresh of a loaded
    // tree makes none.
    const auto nameLess = [](const QString& x, const QString& y) {
        const int ci = x.compare(y, Qt::CaseInsensitive);
        return ci != 0 ? ci < 0 : x.compare(y, Qt::CaseSensitive) < 0;
    };
    QStringList sorted = names;
    std::sort(sorted.begin(), sorted.end(), nameLess);
    CBackup* project = owningProject();
    std::vector<std::unique_ptr<CBackupItem>> merged;
    merged.reserve(m_items.size() + size_t(sorted.size()));
    auto a = m_items.begin();
    auto b = sorted.cbegin();
    while (a != m_items.end() || b != sorted.cend()) {
        if (b == sorted.cend() || (a != m_items.end() && nameLess((*a)->sortName(), *b))) {
            merged.push_back(std::move(*a++));
        } else if (a == m_items.end() || nameLess(*b, (*a)->sortName())) {
            merged.push_back(std::make_unique<CBackupItem>(*b++, parent, project));
        } else {
            merged.push_back(std::move(*a++)); // already there: the existing item stays
            ++b;
        }
    }
    m_items = std::move(merged);
}

void CBackupItemsContainer::removeItemAt(int index)
{
    if (index < 0 || size_t(index) >= m_items.size())
        return;
    m_items[size_t(index)]->removeAllItems();
    m_items.erase(m_items.begin() + index);
}

void CBackupItemsContainer::removeItem(CBackupItem* item)
{
    removeItemAt(indexOf(item));
}

void CBackupItemsContainer::removeAllItems()
{
    for (auto& item : m_items)
        item->removeAllItems();
    m_items.clear();
}

quint64 CBackupItemsContainer::computeTotalFileCount() const
{
    quint64 n = 0;
    for (const auto& item : m_items) {
        if (item->isFolder() && !(item->flags() & BIF_LINK))
            n += item->computeTotalFileCount();
        else if ((item->flags() & (BIF_EXISTS | BIF_EXCLUDED)) == BIF_EXISTS
            && (item->flags() & (BIF_PASSES_FILTERS | BIF_INCLUDED_BY_USER)))
            ++n;
    }
    return n;
}

int CBackupItemsContainer::collectIncludedFilesToStream(FILE* file, bool incremental, double& totalSize)
{
    TreeWalk walk(owningProject());
    const int lines = collectIncluded(this, file, incremental, totalSize, nullptr);
    if (file)
        std::fflush(file); // tar reads the list only after it is complete
    return lines;
}

int CBackupItemsContainer::collectItemsForRestore(RestoreMembers& members, bool recurse,
    bool toOriginalPlaces, int index, bool onlyInArchive, bool absolutePaths)
{
    TreeWalk walk(owningProject());
    return collectForRestore(this, members, recurse, toOriginalPlaces && !absolutePaths, index, onlyInArchive,
        absolutePaths, QString());
}

int CBackupItemsContainer::collectIncludedItemsToStream(FILE* file, bool recurse)
{
    int lines = 0;
    for (const auto& holder : m_items) {
        CBackupItem* item = holder.get();
        if (!item->isIncluded())
            continue;
        const QByteArray line
            = makePathStringForTar(item->isTopLevel() ? item->getAbsolutePath() : item->getPath(), 1);
        if (line.size() >= 2 && writeLine(file, line))
            ++lines;
        if (recurse)
            lines += item->collectIncludedItemsToStream(file, recurse);
    }
    // A turning bar in the status line while long lists are written; events run meanwhile.
    if (!m_items.empty()) {
        if (CBackup* project = m_items.front()->owningProject()) {
            static bool bar = false;
            bar = !bar;
            project->getIBackup()->processMessage(
                QCoreApplication::translate("Localizable", "Preparing file list: %1")
                    .arg(bar ? QLatin1Char('|') : QLatin1Char('-')),
                LogWord::StatusNow, project->getIBackup());
            QVProcessEvents();
        }
    }
    return lines;
}

int CBackupItemsContainer::collectExcludedItemsToStream(FILE* file, bool incremental, bool recurse)
{
    int lines = 0;
    for (const auto& holder : m_items) {
        CBackupItem* item = holder.get();
        const QString abs = item->getAbsolutePath();
        if (abs.isEmpty())
            continue;
        bool unchanged = false;
        const bool fileLike = !item->isFolder() || !item->isWalkable();
        if (incremental && (item->flags() & BIF_LOCATED) && item->isIncluded() && fileLike
            && item->modificationDate().isValid()) {
            struct stat st
            {
            };
            if (::lstat(NameCodec::encode(abs).constData(), &st) == 0)
                unchanged = qint64(st.st_mtim.tv_sec) == item->modificationDate().toSecsSinceEpoch();
        }
        if (unchanged || !item->isIncluded()) {
            if (writeLine(file, NameCodec::encode(item->sortName())))
                ++lines;
        }
        if (recurse && item->isIncluded())
            lines += item->collectExcludedItemsToStream(file, incremental, recurse);
    }
    return lines;
}

bool CBackupItemsContainer::needExcludeFromIncrementalBackup(const CBackupItem* item)
{
    if (!item || item->getAbsolutePath().isEmpty())
        return true;
    if (!item->lastBackupDate().isValid())
        return false;
    return !(item->lastBackupDate() < item->modificationDate());
}

void CBackupItemsContainer::clearIncludedToStreamFlag()
{
    for (auto& item : m_items) {
        item->setIncludedToStream(false);
        item->clearIncludedToStreamFlag();
    }
}

void CBackupItemsContainer::setLastBackupDateToItems(const QDateTime& date)
{
    for (auto& item : m_items) {
        if (item->isInListForBackup()) {
            item->setLastBackupDate(date);
            item->setInListForBackup(false);
        }
        if (item->isFolder())
            item->setLastBackupDateToItems(date);
    }
}

void CBackupItemsContainer::clearLastBackupDate()
{
    for (auto& item : m_items) {
        item->setLastBackupDate(QDateTime());
        if (item->isFolder() && !(item->flags() & BIF_LINK))
            item->clearLastBackupDate();
    }
}

void CBackupItemsContainer::addHistoryDataForBackupArchive(int index)
{
    for (auto& item : m_items) {
        const quint16 state = quint16((item->wasIncludedToStream() ? 0x1 : 0) | (item->exists() ? 0x2 : 0));
        CBIHistoryState last;
        if (!item->getLastHistoryState(&last) || last.state != state)
            item->addHistoryStateChanging(quint16(index), state);
        item->setIncludedToStream(false);
        item->addHistoryDataForBackupArchive(index);
    }
}

void CBackupItemsContainer::removeHistoryDataForBackupArchive(int index)
{
    for (auto& item : m_items) {
        item->removeHistoryStateForIndex(quint16(index));
        item->removeHistoryDataForBackupArchive(index);
    }
}

void CBackupItemsContainer::setLegacyHistory(CBackup* project)
{
    for (auto& item : m_items) {
        if (item->getHistoryItemsCount() == 0) {
            const QDateTime last = item->lastBackupDate();
            if (!last.isValid()) {
                item->addHistoryStateChanging(0, 0x2);
            } else if (last.toMSecsSinceEpoch() == 0 && project && project->getNextArchiveIndex() > 0) {
                item->addHistoryStateChanging(0, 0x2);
            } else if (project) {
                const int index = project->getArchIndexByDate(last);
                if (index >= 0) {
                    item->addHistoryStateChanging(quint16(index), 0x3);
                    if (index != project->getNextArchiveIndex() - 1)
                        item->addHistoryStateChanging(quint16(index + 1), 0x2);
                } else if (index == -1) {
                    item->addHistoryStateChanging(0, 0x2);
                }
            }
        }
        if (item->isFolder())
            item->setLegacyHistory(project);
    }
}

int CBackupItemsContainer::tarComp_lower_baund(const QString& name, bool& found) const
{
    found = false;
    int lo = 0;
    int hi = int(m_items.size());
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        const int c = m_items[size_t(mid)]->sortName().compare(name, Qt::CaseInsensitive);
        if (c == 0) {
            found = true;
            return mid;
        }
        if (c < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

CBackupItem* CBackupItemsContainer::tarFindBackupItem(const QStringList& components, bool& found, int& level)
{
    found = false;
    if (components.isEmpty() || m_items.empty() || level < 0 || level >= components.size())
        return nullptr;
    const int at = tarComp_lower_baund(components.at(level), found);
    if (!found)
        return nullptr;
    CBackupItem* child = m_items[size_t(at)].get();
    if (level + 1 < components.size()) {
        ++level;
        bool deeper = false;
        CBackupItem* answer = child->tarFindBackupItem(components, deeper, level);
        if (answer) {
            found = deeper;
            return answer;
        }
        --level;
    }
    return child;
}

void CBackupItemsContainer::refreshFromDisk(CBackup* project, bool addSubItems, bool skipExcluded, bool)
{
    for (size_t i = 0; i < m_items.size(); ++i)
        m_items[i]->refreshFromDisk(project, addSubItems, skipExcluded, true);
}

void CBackupItemsContainer::applyFilters(CBackup* project, bool apply, bool recurse)
{
    if (!recurse)
        return;
    for (auto& item : m_items)
        item->applyFilters(project, apply, true);
}

void CBackupItemsContainer::resetLocationInBackup()
{
    for (auto& item : m_items)
        item->resetLocationInBackup();
}

void CBackupItemsContainer::saveToDict(QVariantMap& dict) const
{
    QVariantMap sub;
    for (const auto& item : m_items) {
        QVariantMap value;
        value.insert(QStringLiteral("Path"), item->getPath());
        item->saveToDict(value);
        sub.insert(item->sortName(), value);
    }
    dict.insert(QStringLiteral("SubItems"), sub);
}

void CBackupItemsContainer::loadFromDict(const QVariantMap& dict)
{
    const QVariant sub = dict.value(QStringLiteral("SubItems"));
    if (sub.typeId() != QMetaType::QVariantMap)
        return;
    const QVariantMap items = sub.toMap();
    for (auto it = items.cbegin(); it != items.cend(); ++it) {
        if (it.value().typeId() != QMetaType::QVariantMap)
            continue;
        const QVariantMap value = it.value().toMap();
        const QVariant path = value.value(QStringLiteral("Path"));
        if (path.typeId() != QMetaType::QString)
            continue;
        if (CBackupItem* item = insertNewItem(path.toString(), asItem()))
            item->loadFromDict(value);
    }
}

void CBackupItemsContainer::serialize(CUDArch& arch, bool flag)
{
    serializeChildren(arch, flag);
}

namespace {

// A name read from a file: a child is one path component; a top-level item an absolute path
// without "." or ".." components. Anything else would let the lists reach other folders.
bool isSafeChildName(const QString& name, bool topLevel)
{
    if (name.isEmpty() || name.contains(QChar(0)))
        return false;
    if (!topLevel)
        return isSingleComponentName(name);
    if (!name.startsWith(QLatin1Char('/')))
        return false;
    const QStringList parts = name.split(QLatin1Char('/'));
    for (const QString& p : parts)
        if (p == QLatin1String(".") || p == QLatin1String(".."))
            return false;
    return true;
}

} // namespace

void CBackupItemsContainer::serializeChildren(CUDArch& arch, bool flag)
{
    if (arch.isWriting()) {
        arch.BeginBlock(2);
        arch.writeU32(quint32(m_items.size()));
        for (auto& item : m_items) {
            arch << (item->isTopLevel() ? item->storedPath() : item->sortName());
            item->serialize(arch, false);
        }
        arch.EndBlock();
        return;
    }
    if (!arch.BeginBlock(2))
        throw ArchiveFormatError("the items container is missing");
    const quint32 n = arch.readU32();
    // Each child takes at least its name's count and an item block header.
    arch.checkCount(n, 4 + 5);
    CBackup* project = owningProject();
    CBackupItem* parent = asItem();
    for (quint32 i = 0; i < n; ++i) {
        QString name;
        arch >> name;
        if (name.isNull())
            throw ArchiveFormatError("a child without a name");
        if (!isSafeChildName(name, parent == nullptr))
            throw ArchiveFormatError("a child name that is not one path component");
        CBackupItem* item = insertNewItem(name, parent);
        if (!item)
            throw ArchiveFormatError("a child that cannot be made");
        if (project)
            project->countLoadProgress();
        item->serialize(arch, flag);
        if (name.startsWith(QLatin1String("._")) && (item->flags() & BIF_LOCATED)
            && !(item->flags() & BIF_EXISTS))
            removeItem(item);
    }
    arch.EndBlock();
}
