#include "snapshot/B3RestoreItem.h"

#include <QCoreApplication>

QStringList B3RestoreItem::components() const
{
    return ArchivePath.split(QLatin1Char('/'), Qt::SkipEmptyParts);
}

std::optional<B3RestoreItem> B3RestoreItem::make(std::shared_ptr<ILocation> srcLocation,
    const QString& archivePath, bool isFolder, std::optional<qint64> itemLevelNumber, QString* error)
{
    auto fail = [&](const QString& why) -> std::optional<B3RestoreItem> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    B3RestoreItem item;
    item.SrcLocation = std::move(srcLocation);
    item.ArchivePath = archivePath;
    item.IsFolder = isFolder;
    item.ItemLevelNumber = itemLevelNumber;
    if (!archivePath.isNull()) {
        if (archivePath.contains(QChar(0)))
            return fail(QCoreApplication::translate("Localizable", "The restore path \"%1\" is not valid.")
                            .arg(archivePath));
        const QStringList comps = item.components();
        for (const QString& c : comps) {
            if (c == QLatin1String("..") || c == QLatin1String("."))
                return fail(
                    QCoreApplication::translate("Localizable", "The restore path \"%1\" is not valid.")
                        .arg(archivePath));
        }
        if (itemLevelNumber && (*itemLevelNumber < 0 || *itemLevelNumber > comps.size() - 1))
            return fail(QCoreApplication::translate(
                "Localizable", "The restore path \"%1\" has fewer parent folders than the restore level %2.")
                            .arg(archivePath)
                            .arg(*itemLevelNumber));
    } else if (itemLevelNumber && *itemLevelNumber < 0) {
        return fail(QCoreApplication::translate("Localizable", "The restore level %1 is not valid.")
                        .arg(*itemLevelNumber));
    }
    return item;
}

bool B3RestoreItem::isSinglePathComponent(const QString& name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
        && !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}
