#include "projects/OutlineMatcher.h"

namespace OutlineMatcher {

bool matches(const QString& pattern, const QString& path)
{
    if (pattern.isEmpty() || path.isEmpty())
        return false;
    if (pattern.endsWith(QLatin1Char('*'))) {
        // "<folder>/*": the folder and below, on component boundaries.
        QString folder = pattern.chopped(1);
        if (folder.endsWith(QLatin1Char('/')) && folder.size() > 1)
            folder.chop(1);
        if (folder.isEmpty() || folder == QLatin1String("/"))
            return true;
        return path == folder || path.startsWith(folder + QLatin1Char('/'));
    }
    if (pattern.startsWith(QLatin1Char('/')))
        return path == pattern;
    return path == pattern || path.endsWith(QLatin1Char('/') + pattern);
}

bool matchesAny(const QStringList& patterns, const QString& path)
{
    for (const QString& p : patterns)
        if (matches(p, path))
            return true;
    return false;
}

} // namespace OutlineMatcher
