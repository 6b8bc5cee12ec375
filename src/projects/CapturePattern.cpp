#include "projects/CapturePattern.h"

namespace CapturePattern {

QString patternForItem(int rule, const QString& fileName)
{
    const QString name = fileName.section(QLatin1Char('/'), -1, -1, QString::SectionSkipEmpty);
    if (name.isEmpty())
        return QString();
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    switch (rule) {
    case 0:
        return dot > 0 && dot < name.size() - 1 ? QStringLiteral("*.") + name.mid(dot + 1) : QString();
    case 1:
        return QString(dot > 0 ? name.left(dot) : name) + QStringLiteral(".*");
    case 2:
        return name;
    default:
        return QString();
    }
}

QString combined(const QString& oldText, const QString& pattern, bool combine)
{
    if (pattern.isEmpty())
        return oldText;
    if (combine && !oldText.isEmpty() && oldText != pattern)
        return oldText + QLatin1Char('|') + pattern;
    return pattern;
}

} // namespace CapturePattern
