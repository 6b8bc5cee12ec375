#include "utilities/RsyncExcludes.h"

#include "platform/NameCodec.h"

#include <QCoreApplication>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

QByteArray RsyncExcludes::shieldRule(const QByteArray& rule)
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

QString RsyncExcludes::writeFile(const QString& folder, const QList<QByteArray>& lines, QString* error)
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

QStringList RsyncExcludes::patternExcludeArguments(const QString& pattern)
{
    QStringList args;
    QString text = pattern;
    text.replace(QLatin1Char('|'), QLatin1Char('\n'));
    for (QString item : text.split(QLatin1Char('\n'))) {
        qsizetype i = 0;
        while (i < item.size() && (item[i] == QLatin1Char(' ') || item[i] == QLatin1Char('\r')))
            ++i;
        item = item.mid(i);
        if (!item.isEmpty())
            args << QStringLiteral("--exclude=") + item;
    }
    return args;
}
