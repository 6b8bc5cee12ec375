#include "MountInfo.h"

#include "NameCodec.h"
#include "WholeFile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

QList<QByteArray> splitBlanks(const QByteArray& line)
{
    QList<QByteArray> out;
    qsizetype i = 0;
    const qsizetype n = line.size();
    while (i < n) {
        while (i < n && line.at(i) == ' ')
            ++i;
        const qsizetype start = i;
        while (i < n && line.at(i) != ' ')
            ++i;
        if (i > start)
            out.append(line.mid(start, i - start));
    }
    return out;
}

bool hasOption(const QString& options, const QString& word)
{
    const QStringList parts = options.split(QLatin1Char(','));
    return parts.contains(word);
}

// Reads a file from /proc, whose size stat() reports as 0.
} // namespace

bool MountEntry::readOnly() const
{
    return hasOption(mountOptions, QStringLiteral("ro")) || hasOption(superOptions, QStringLiteral("ro"));
}

QString MountEntry::superOption(const QString& name) const
{
    const QString prefix = name + QLatin1Char('=');
    for (const QString& part : superOptions.split(QLatin1Char(','))) {
        if (part.startsWith(prefix))
            return part.mid(prefix.size());
        if (part == name)
            return QStringLiteral("");
    }
    return QString();
}

QString MountInfo::unescape(const QByteArray& field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char c = field.at(i);
        if (c == '\\' && i + 3 < field.size()) {
            const char a = field.at(i + 1), b = field.at(i + 2), d = field.at(i + 3);
            if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && d >= '0' && d <= '7') {
                out.append(char(((a - '0') << 6) | ((b - '0') << 3) | (d - '0')));
                i += 3;
                continue;
            }
        }
        out.append(c);
    }
    return NameCodec::decode(out);
}

QList<MountEntry> MountInfo::parse(const QByteArray& text)
{
    QList<MountEntry> mounts;
    for (const QByteArray& rawLine : text.split('\n')) {
        const QList<QByteArray> f = splitBlanks(rawLine);
        // id parent major:minor root mount-point options [optional...] - type source super
        const qsizetype dash = f.indexOf(QByteArray("-"), 6);
        if (dash < 0 || dash + 1 >= f.size())
            continue;
        MountEntry e;
        bool ok1 = false, ok2 = false;
        e.mountId = f.at(0).toInt(&ok1);
        e.parentId = f.at(1).toInt(&ok2);
        const QList<QByteArray> dev = f.at(2).split(':');
        if (!ok1 || !ok2 || dev.size() != 2)
            continue;
        e.major = dev.at(0).toUInt();
        e.minor = dev.at(1).toUInt();
        e.root = unescape(f.at(3));
        e.mountPoint = unescape(f.at(4));
        e.mountOptions = unescape(f.at(5));
        e.fsType = unescape(f.at(dash + 1));
        e.source = dash + 2 < f.size() ? unescape(f.at(dash + 2)) : QString();
        e.superOptions = dash + 3 < f.size() ? unescape(f.at(dash + 3)) : QString();
        mounts.append(e);
    }
    return mounts;
}

QList<MountEntry> MountInfo::read(const QString& path)
{
    return parse(WholeFile::read(path));
}

QString MountInfo::cleanPath(const QString& path)
{
    QStringList out;
    for (const QString& part : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            if (!out.isEmpty())
                out.removeLast();
            continue;
        }
        out.append(part);
    }
    return QLatin1Char('/') + out.join(QLatin1Char('/'));
}

bool MountInfo::isPathUnder(const QString& path, const QString& folder)
{
    if (folder == QLatin1String("/"))
        return path.startsWith(QLatin1Char('/'));
    return path == folder || (path.startsWith(folder) && path.at(folder.size()) == QLatin1Char('/'));
}

std::optional<MountEntry> MountInfo::mountForPath(const QString& path, const QList<MountEntry>& mounts)
{
    if (!path.startsWith(QLatin1Char('/')))
        return std::nullopt;
    const QString clean = cleanPath(path);
    std::optional<MountEntry> best;
    qsizetype bestLength = -1;
    for (const MountEntry& m : mounts) {
        const QString point = cleanPath(m.mountPoint);
        if (!isPathUnder(clean, point))
            continue;
        // ">=": of mounts stacked on one point, the later line is the one on top.
        if (point.size() >= bestLength) {
            best = m;
            bestLength = point.size();
        }
    }
    return best;
}

std::optional<MountEntry> MountInfo::mountEntryForPath(const QString& path)
{
    if (!path.startsWith(QLatin1Char('/')))
        return std::nullopt;
    // Resolve links in the longest part of the path that exists; keep the rest as written.
    QString existing = cleanPath(path);
    QString rest;
    for (;;) {
        char resolved[PATH_MAX];
        if (::realpath(NameCodec::encodeStd(existing).c_str(), resolved)) {
            QString full = NameCodec::decode(QByteArray(resolved));
            if (!rest.isEmpty())
                full = cleanPath(full + QLatin1Char('/') + rest);
            return mountForPath(full, read());
        }
        if (existing == QLatin1String("/"))
            break;
        const qsizetype slash = existing.lastIndexOf(QLatin1Char('/'));
        const QString last = existing.mid(slash + 1);
        rest = rest.isEmpty() ? last : last + QLatin1Char('/') + rest;
        existing = slash == 0 ? QStringLiteral("/") : existing.left(slash);
    }
    return mountForPath(cleanPath(path), read());
}

QString MountInfo::mountPointForPath(const QString& path)
{
    const auto entry = mountEntryForPath(path);
    return entry ? entry->mountPoint : QString();
}
