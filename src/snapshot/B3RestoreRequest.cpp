#include "snapshot/B3RestoreRequest.h"

#include "platform/NameCodec.h"
#include "projects/ILocation.h"
#include "snapshot/B3Places.h"
#include "snapshot/Backup3VersionList.h"
#include "snapshot/IBackup3.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <sys/stat.h>

namespace B3RestoreRequest {

namespace {

QString loc(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

bool lstatIs(const QString& path, mode_t type)
{
    struct stat st = {};
    return ::lstat(NameCodec::encode(path).constData(), &st) == 0 && (st.st_mode & S_IFMT) == type;
}

bool lstatExists(const QString& path)
{
    struct stat st = {};
    return ::lstat(NameCodec::encode(path).constData(), &st) == 0;
}

QString text(const QVariantMap& d, const char* key)
{
    const QVariant v = d.value(QLatin1String(key));
    return v.typeId() == QMetaType::QString ? v.toString() : QString();
}

QString lastComponent(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? path : path.mid(slash + 1);
}

} // namespace

Listing listVersions(const QString& projectFolder)
{
    Listing listing;
    const Backup3VersionList::ReadResult read = Backup3VersionList::read(projectFolder);
    if (read.state != Backup3VersionList::State::Ok && read.state != Backup3VersionList::State::Empty)
        return listing;
    listing.readable = true;
    const QVariantList entries = read.dict.value(QStringLiteral("ProcessDataArray")).toList();
    for (qsizetype i = entries.size() - 1; i >= 0; --i) {
        if (entries.at(i).typeId() != QMetaType::QVariantMap)
            continue;
        const QVariantMap e = entries.at(i).toMap();
        Version v;
        v.entryIndex = i;
        const QVariant date = e.value(QStringLiteral("Date"));
        if (date.typeId() == QMetaType::QDateTime)
            v.date = date.toDateTime();
        const QString folder = text(e, "Folder");
        if (B3RestoreItem::isSinglePathComponent(folder)) {
            v.folder = folder;
            v.enabled = lstatIs(B3Places::joinPath(projectFolder, folder), S_IFDIR);
        }
        const QVariant locations = e.value(QStringLiteral("Locations"));
        if (locations.typeId() == QMetaType::QVariantList)
            v.locations = locations.toList();
        if (v.enabled && listing.selected < 0)
            listing.selected = int(listing.versions.size());
        listing.versions.append(v);
    }
    return listing;
}

QList<SourceRow> sourceRows(const QString& projectFolder, const Version& version)
{
    QList<SourceRow> rows;
    if (!version.enabled)
        return rows;
    const QString base = B3Places::joinPath(projectFolder, version.folder);
    for (const QVariant& l : version.locations) {
        if (l.typeId() != QMetaType::QVariantMap)
            continue;
        const QVariantMap d = l.toMap();
        const QString archiveName = text(d, "ArchiveName");
        if (!B3RestoreItem::isSinglePathComponent(archiveName))
            continue;
        const QString wrapper = B3Places::joinPath(base, archiveName);
        if (!lstatIs(wrapper, S_IFDIR))
            continue;
        SourceRow row;
        row.archiveName = archiveName;
        row.location = d;
        const QVariant tag = d.value(QStringLiteral("Tag"));
        if (tag.canConvert<qint64>() && tag.typeId() != QMetaType::QString)
            row.tag = tag.toLongLong();
        const QVariant isFolder = d.value(QStringLiteral("IsFolder"));
        row.isFolder = isFolder.typeId() == QMetaType::Bool && isFolder.toBool();
        // A whole volume ("/" with no inner path) was backed up into the wrapper itself.
        const QString mount = text(d, "MountPoint");
        const QString inner = text(d, "PathFromMountPoint");
        if (mount == QLatin1String("/") && inner.isEmpty()) {
            row.path = wrapper;
        } else {
            QString name = archiveName;
            const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
            if (dot > 0)
                name.truncate(dot);
            row.path = B3Places::joinPath(wrapper, name);
        }
        row.present = lstatExists(row.path);
        const QString shown = !inner.isEmpty() ? inner : text(d, "DisplayName");
        row.displayName = lastComponent(shown);
        rows.append(row);
    }
    return rows;
}

namespace {

std::optional<B3RestoreItem> itemFor(
    const SourceRow& row, const QString& path, std::optional<qint64> level, QString* error)
{
    std::shared_ptr<ILocation> source = IBackup3::locationFromDict(row.location);
    return B3RestoreItem::make(source, path, level ? true : row.isFolder, level, error);
}

} // namespace

std::optional<QList<B3RestoreItem>> rowsForAll(const QList<SourceRow>& rows, QString* error)
{
    QList<B3RestoreItem> items;
    for (const SourceRow& row : rows) {
        if (!row.present)
            continue;
        auto item = itemFor(row, row.path, std::nullopt, error);
        if (!item)
            return std::nullopt;
        item->IsFolder = row.isFolder;
        items.append(*item);
    }
    if (items.isEmpty()) {
        if (error)
            *error = loc("Files for restore not found");
        return std::nullopt;
    }
    return items;
}

std::optional<QList<B3RestoreItem>> rowsForSelection(
    const QList<SourceRow>& rows, const QList<Selected>& selection, QString* error)
{
    QList<B3RestoreItem> items;
    for (const Selected& s : selection) {
        if (s.row < 0 || s.row >= rows.size())
            continue;
        const SourceRow& row = rows.at(s.row);
        const QStringList below = s.below.split(QLatin1Char('/'), Qt::SkipEmptyParts);
        const QString path
            = below.isEmpty() ? row.path : B3Places::joinPath(row.path, below.join(QLatin1Char('/')));
        auto item = itemFor(row, path, qint64(below.size()), error);
        if (!item)
            return std::nullopt;
        struct stat st = {};
        item->IsFolder = below.isEmpty()
            ? row.isFolder
            : (::lstat(NameCodec::encode(path).constData(), &st) == 0 && S_ISDIR(st.st_mode));
        items.append(*item);
    }
    if (items.isEmpty()) {
        if (error)
            *error = loc("Files for restore not found");
        return std::nullopt;
    }
    return items;
}

std::optional<Selected> parseItem(
    const QList<SourceRow>& rows, const QString& versionFolderPath, const QString& item, QString* error)
{
    auto fail = [&](const QString& why) -> std::optional<Selected> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    const QStringList parts = item.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString& p : parts)
        if (p == QLatin1String(".") || p == QLatin1String("..") || p.contains(QChar(0)))
            return fail(QStringLiteral("the item \"%1\" lies outside the version").arg(item));
    if (parts.isEmpty() || item.startsWith(QLatin1Char('/')))
        return fail(QStringLiteral("the item \"%1\" is not a path inside the version").arg(item));
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (rows.at(i).archiveName != parts.first())
            continue;
        // The source row's own path below the version folder, then the item's part below it.
        const QString rowRelative = rows.at(i).path.mid(versionFolderPath.size() + 1);
        const QStringList rowParts = rowRelative.split(QLatin1Char('/'), Qt::SkipEmptyParts);
        if (parts.mid(0, rowParts.size()) != rowParts)
            return fail(QStringLiteral("the item \"%1\" lies above its source's folder \"%2\"")
                            .arg(item, rowRelative));
        Selected s;
        s.row = i;
        s.below = parts.mid(rowParts.size()).join(QLatin1Char('/'));
        if (!lstatExists(B3Places::joinPath(versionFolderPath, parts.join(QLatin1Char('/')))))
            return fail(QStringLiteral("the item \"%1\" is not in the version").arg(item));
        return s;
    }
    return fail(QStringLiteral("the item \"%1\" names no source of the version").arg(item));
}

QStringList inPlaceTargets(const QList<B3RestoreItem>& items)
{
    QStringList targets;
    for (qsizetype i = 0; i < items.size(); ++i) {
        const B3RestoreItem& it = items.at(i);
        const QString source = it.SrcLocation ? it.SrcLocation->getUnverifiedFullPath() : QString();
        const QString folder = B3Places::restoreDestFolderPath(items, i, QString(), source);
        targets << (folder.isEmpty() ? QString() : B3Places::joinPath(folder, lastComponent(it.ArchivePath)));
    }
    return targets;
}

QString defaultExternalRestoreName()
{
    return loc("External Restore");
}

QString externalRestoreName(const QString& folderName)
{
    static const QRegularExpression tail(
        QStringLiteral("_[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}$"));
    QString name = folderName;
    const QRegularExpressionMatch m = tail.match(name);
    if (m.hasMatch())
        name.truncate(m.capturedStart());
    return name.isEmpty() ? defaultExternalRestoreName() : name;
}

QString validateExternalFolder(const QStringList& paths)
{
    const QString refusal
        = loc("Incorrect folder. Please select a folder that contains \"%1\" file and backup folders.")
              .arg(Backup3VersionList::fileName());
    struct stat st = {};
    if (paths.size() != 1 || ::stat(NameCodec::encode(paths.first()).constData(), &st) != 0
        || !S_ISDIR(st.st_mode))
        return refusal;
    if (!lstatIs(B3Places::joinPath(paths.first(), Backup3VersionList::fileName()), S_IFREG))
        return refusal;
    return QString();
}

} // namespace B3RestoreRequest
