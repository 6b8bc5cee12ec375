#include "snapshot/B3ExcludeFile.h"

#include "platform/NameCodec.h"
#include "utilities/RsyncExcludes.h"

#include <QCoreApplication>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

static QString trimmedSource(const QString& source)
{
    QString s = source;
    while (s.size() > 1 && s.endsWith(QLatin1Char('/')))
        s.chop(1);
    return s;
}

QByteArray B3ExcludeFile::ruleForPath(const QString& source, const QString& path)
{
    const QString src = trimmedSource(source);
    if (src.isEmpty() || path.isEmpty())
        return QByteArray();
    QString entry = path;
    while (entry.size() > 1 && entry.endsWith(QLatin1Char('/')))
        entry.chop(1);
    if (src == QLatin1String("/")) {
        if (!entry.startsWith(QLatin1Char('/')) || entry == QLatin1String("/"))
            return QByteArray();
        return NameCodec::encode(entry);
    }
    if (!entry.startsWith(src + QLatin1Char('/')) || entry.size() <= src.size() + 1)
        return QByteArray();
    const QString relative = entry.mid(src.size() + 1);
    const QString folderName = src.mid(src.lastIndexOf(QLatin1Char('/')) + 1);
    return NameCodec::encode(QLatin1Char('/') + folderName + QLatin1Char('/') + relative);
}

B3ExcludeFile::Rules B3ExcludeFile::rulesForSource(
    const QString& source, const QStringList& excludePathList, const QStringList& extraPaths)
{
    Rules rules;
    QList<QByteArray> seen;
    auto add = [&](const QString& path) {
        const QByteArray rule = ruleForPath(source, path);
        if (rule.isEmpty())
            return;
        const QByteArray shielded = RsyncExcludes::shieldRule(rule);
        if (seen.contains(shielded))
            return;
        seen.append(shielded);
        // A line end inside a name would split the rule; such rules go on the command line.
        if (shielded.contains('\n') || shielded.contains('\r'))
            rules.arguments.append(QStringLiteral("--exclude=") + NameCodec::decode(shielded));
        else
            rules.lines.append(shielded);
    };
    for (const QString& path : excludePathList)
        add(path);
    for (const QString& path : extraPaths)
        add(path);
    return rules;
}
