#include "sync/SyncFolders.h"

#include <QDir>
#include <QFileInfo>

namespace {

// The real path of a folder; the part below the deepest existing folder is kept as written.
QString realPath(const QString& path)
{
    QString head = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    QString tail;
    while (!head.isEmpty()) {
        const QString real = QFileInfo(head).canonicalFilePath();
        if (!real.isEmpty())
            return QDir::cleanPath(real + tail);
        const qsizetype slash = head.lastIndexOf(QLatin1Char('/'));
        if (slash < 0)
            break;
        tail.prepend(head.mid(slash));
        head = head.left(slash);
    }
    return QDir::cleanPath(QStringLiteral("/") + tail);
}

bool inside(const QString& inner, const QString& outer)
{
    if (inner == outer)
        return true;
    const QString prefix = outer.endsWith(QLatin1Char('/')) ? outer : outer + QLatin1Char('/');
    return inner.startsWith(prefix);
}

} // namespace

bool SyncFolders::areNested(const QString& first, const QString& second)
{
    if (first.isEmpty() || second.isEmpty())
        return false;
    const QString a = realPath(first), b = realPath(second);
    return inside(a, b) || inside(b, a);
}
