#include "platform/PackagePaths.h"

namespace PackagePaths {

const QStringList& extensions()
{
    static const QStringList list { QStringLiteral(".app"), QStringLiteral(".bundle"),
        QStringLiteral(".sparsebundle"), QStringLiteral(".photoslibrary") };
    return list;
}

bool isPackage(const QString& path, bool isFolder)
{
    if (!isFolder || path == QLatin1String("/dev") || path.startsWith(QLatin1String("/dev/")))
        return false;
    for (const QString& ext : extensions())
        if (path.endsWith(ext, Qt::CaseInsensitive) && path.size() > ext.size()
            && path.at(path.size() - ext.size() - 1) != QLatin1Char('/'))
            return true;
    return false;
}

} // namespace PackagePaths
