#include "archive/ArchiveRestoreMembers.h"

#include "archive/CBackupItem.h"
#include "archive/CBackupItemsContainer.h"

namespace ArchiveRestoreMembers {

namespace {

QString folderOfTop(const CBackupItem* item)
{
    const CBackupItem* top = item;
    while (top->getParent())
        top = top->getParent();
    const QString abs = top->storedPath();
    const qsizetype slash = abs.lastIndexOf(QLatin1Char('/'));
    return slash > 0 ? abs.left(slash) : QStringLiteral("/");
}

void addTo(RestoreMembers& members, const QString& folder, const QString& name)
{
    if (members.isEmpty() || members.last().folder != folder)
        members.append({ folder, {} });
    members.last().names << name;
}

} // namespace

RestoreMembers forItems(const QList<const CBackupItem*>& items, bool toOriginalPlaces, bool absolutePathArchive)
{
    RestoreMembers members;
    for (const CBackupItem* item : items) {
        if (!item || item->storedPath().isEmpty())
            continue;
        if (absolutePathArchive) {
            addTo(members, QString(), item->getAbsolutePath());
            continue;
        }
        // A deeper item: its path from the top-level item's folder; a top-level item: its name.
        const QString name = item->getParent() ? item->getPath() : item->getName();
        addTo(members, toOriginalPlaces ? folderOfTop(item) : QString(), name);
    }
    return members;
}

const CBackupItem* findItem(const CBackupItemsContainer& tree, const QString& absolutePath)
{
    for (int i = 0; i < tree.count(); ++i) {
        const CBackupItem* item = tree.itemAt(i);
        const QString abs = item->getAbsolutePath();
        if (abs == absolutePath)
            return item;
        if (absolutePath.startsWith(abs.endsWith(QLatin1Char('/')) ? abs : abs + QLatin1Char('/')))
            return findItem(*item, absolutePath);
    }
    return nullptr;
}

RestoreMembers forPathsInTree(
    const CBackupItemsContainer& tree, const QStringList& paths, bool toOriginalPlaces, bool absolutePathArchive)
{
    RestoreMembers members;
    for (const QString& path : paths) {
        const CBackupItem* item = findItem(tree, path);
        const RestoreMembers one = item ? forItems({ item }, toOriginalPlaces, absolutePathArchive)
                                        : RestoreMembers { { QString(), { path } } };
        for (const RestoreMemberGroup& g : one)
            for (const QString& n : g.names)
                addTo(members, g.folder, n);
    }
    return members;
}

QStringList toFileList(const RestoreMembers& members)
{
    QStringList list;
    for (const RestoreMemberGroup& g : members) {
        if (!g.folder.isEmpty())
            list << QStringLiteral("-C") << g.folder;
        list << g.names;
    }
    return list;
}

bool hasAmbiguousName(const RestoreMembers& members)
{
    for (const RestoreMemberGroup& g : members)
        for (const QString& n : g.names)
            if (n == QLatin1String("-C"))
                return true;
    return false;
}

} // namespace ArchiveRestoreMembers
