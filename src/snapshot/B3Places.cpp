#include "snapshot/B3Places.h"

namespace B3Places {

QString topLevelItemWrapperFolder2(const QString& folderName, qint64 tag)
{
    const QString name = folderName == QLatin1String("/") ? QStringLiteral("ROOT") : folderName;
    return QStringLiteral("%1.wrp%2").arg(name).arg(tag);
}

QString sourceFolderName(const QString& fullPath, const QString& displayName)
{
    QString path = fullPath;
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    if (path == QLatin1String("/") || path.isEmpty())
        return displayName.isEmpty() ? QStringLiteral("noName") : displayName;
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString generateNewArchiveFolder(const QDateTime& date)
{
    return QStringLiteral("b3_") + date.toLocalTime().toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
}

bool isNotUniqueRestoreFirstFolder(const QList<B3RestoreItem>& items, const QString& name)
{
    if (items.isEmpty())
        return true;
    int count = 0;
    for (const B3RestoreItem& item : items) {
        if (item.ArchivePath.isNull())
            return true;
        const QStringList comps = item.components();
        const qsizetype index = comps.size() - 1 - item.level();
        if (index < 0 || index >= comps.size())
            continue;
        if (comps.at(index).compare(name, Qt::CaseInsensitive) == 0)
            ++count;
    }
    return count >= 2;
}

static QString joinComponents(const QStringList& comps, qsizetype from, qsizetype to)
{
    QStringList part;
    for (qsizetype i = from; i <= to; ++i)
        part.append(comps.at(i));
    return part.join(QLatin1Char('/'));
}

QString joinPath(const QString& base, const QString& relative)
{
    if (relative.isEmpty())
        return base;
    if (base.isEmpty())
        return relative;
    QString left = base;
    while (left.size() > 1 && left.endsWith(QLatin1Char('/')))
        left.chop(1);
    QString right = relative;
    while (right.startsWith(QLatin1Char('/')))
        right.remove(0, 1);
    if (left == QLatin1String("/"))
        return left + right;
    return left + QLatin1Char('/') + right;
}

QString restoreDestFolderPath(const QList<B3RestoreItem>& items, qsizetype pass, const QString& restorePath,
    const QString& sourceFullPath)
{
    if (pass < 0 || pass >= items.size())
        return QString();
    const B3RestoreItem& item = items.at(pass);
    const QStringList comps = item.components();
    const qsizetype n = comps.size();
    const qint64 L = item.level();
    if (L < 0)
        return QString();
    QString sub;
    if (!restorePath.isNull()) {
        if (item.ArchivePath.isNull() || n == 0)
            return QString();
        if (L > 0) {
            if (n - 1 - L < 0)
                return QString();
            qsizetype k = L;
            if (isNotUniqueRestoreFirstFolder(items, comps.at(n - 1 - L)))
                k += 1;
            if (n - 1 - k < 0)
                return QString();
            sub = joinComponents(comps, n - 1 - k, n - 2);
        } else if (isNotUniqueRestoreFirstFolder(items, comps.at(n - 1))) {
            if (n < 2)
                return QString();
            sub = comps.at(n - 2);
        }
        return joinPath(restorePath, sub);
    }
    if (sourceFullPath.isEmpty())
        return QString();
    QString source = sourceFullPath;
    while (source.size() > 1 && source.endsWith(QLatin1Char('/')))
        source.chop(1);
    const qsizetype slash = source.lastIndexOf(QLatin1Char('/'));
    const QString base = slash <= 0 ? QStringLiteral("/") : source.left(slash);
    if (L > 0) {
        if (n - 1 - L < 0)
            return QString();
        sub = joinComponents(comps, n - 1 - L, n - 2);
    }
    return joinPath(base, sub);
}

} // namespace B3Places
