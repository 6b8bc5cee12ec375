#include "archive/ArchiveRestoreMembers.h"

#include "archive/CBackupItem.h"
#include "archive/CBackupItemsContainer.h"
#include "platform/NameCodec.h"

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

} // namespace

RestoreMembers forItems(
    const QList<const CBackupItem*>& items, bool toOriginalPlaces, bool absolutePathArchive)
{
    RestoreMembers members;
    for (const CBackupItem* item : items) {
        if (!item || item->storedPath().isEmpty())
            continue;
        if (absolutePathArchive) {
            append(members, QString(), item->getAbsolutePath());
            continue;
        }
        // A deeper item: its path from the top-level item's folder; a top-level item: its name.
        const QString name = item->getParent() ? item->getPath() : item->getName();
        append(members, toOriginalPlaces ? folderOfTop(item) : QString(), name);
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

RestoreMembers forPathsInTree(const CBackupItemsContainer& tree, const QStringList& paths,
    bool toOriginalPlaces, bool absolutePathArchive)
{
    RestoreMembers members;
    for (const QString& path : paths) {
        const CBackupItem* item = findItem(tree, path);
        const RestoreMembers one = item ? forItems({ item }, toOriginalPlaces, absolutePathArchive)
                                        : RestoreMembers { { QString(), { path } } };
        for (const RestoreMemberGroup& g : one)
            for (const QString& n : g.names)
                append(members, g.folder, n);
    }
    return members;
}

void append(RestoreMembers& members, const QString& folder, const QString& name)
{
    // Mostly the last group; the others are few (one per folder of origin).
    for (qsizetype i = members.size() - 1; i >= 0; --i) {
        if (members[i].folder == folder) {
            members[i].names << name;
            return;
        }
    }
    members.append({ folder, { name } });
}

QByteArray nullList(const QStringList& names)
{
    QByteArray bytes;
    for (const QString& n : names) {
        bytes += NameCodec::encode(n);
        bytes += '\0';
    }
    return bytes;
}

QStringList tarArguments(
    const RestoreMembers& members, const QString& extractFolder, const QStringList& listPaths)
{
    QStringList args { QStringLiteral("--no-unquote") };
    for (qsizetype i = 0; i < members.size() && i < listPaths.size(); ++i) {
        const QString& folder = members.at(i).folder;
        args << QStringLiteral("-C") << (folder.isEmpty() ? extractFolder : folder)
             << QStringLiteral("--null") << QStringLiteral("-T") << listPaths.at(i);
    }
    return args;
}

} // namespace ArchiveRestoreMembers
