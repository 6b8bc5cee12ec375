#include "snapshot/B3ExcludeFile.h"

#include "platform/NameCodec.h"

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

QByteArray B3ExcludeFile::shieldRule(const QByteArray& rule)
{
    if (!rule.contains('*') && !rule.contains('?') && !rule.contains('['))
        return rule;
    QByteArray out;
    out.reserve(rule.size() * 2);
    for (char c : rule) {
        if (c == '\\' || c == '*' || c == '?' || c == '[' || c == ']')
            out.append('\\');
        out.append(c);
    }
    return out;
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
        const QByteArray shielded = shieldRule(rule);
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

QString B3ExcludeFile::writeFile(const QString& folder, const QList<QByteArray>& lines, QString* error)
{
    auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        return QString();
    };
    if (folder.isEmpty())
        return fail(
            QCoreApplication::translate("Localizable", "No temporary folder for the exclusion file."));
    QByteArray templ = NameCodec::encode(folder);
    if (!templ.endsWith('/'))
        templ.append('/');
    templ.append("XXXXXX.custom.txt");
    const int fd = ::mkstemps(templ.data(), 11);
    if (fd < 0)
        return fail(
            QCoreApplication::translate("Localizable", "The exclusion file cannot be created in \"%1\": %2")
                .arg(folder, QString::fromLocal8Bit(std::strerror(errno))));
    QByteArray content;
    for (const QByteArray& line : lines) {
        content.append(line);
        content.append('\n');
    }
    const char* p = content.constData();
    qsizetype left = content.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int err = errno;
            ::close(fd);
            ::unlink(templ.constData());
            return fail(
                QCoreApplication::translate("Localizable", "The exclusion file \"%1\" cannot be written: %2")
                    .arg(NameCodec::decode(templ), QString::fromLocal8Bit(std::strerror(err))));
        }
        p += n;
        left -= n;
    }
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(templ.constData());
        return fail(
            QCoreApplication::translate("Localizable", "The exclusion file \"%1\" cannot be written: %2")
                .arg(NameCodec::decode(templ), QString::fromLocal8Bit(std::strerror(err))));
    }
    return NameCodec::decode(templ);
}
