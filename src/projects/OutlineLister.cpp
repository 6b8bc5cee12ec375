#include "projects/OutlineLister.h"

#include "platform/NameCodec.h"

#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>

namespace {

OutlineEntry fromStat(const QString& name, const struct stat& st)
{
    OutlineEntry e;
    e.name = name;
    e.exists = true;
    e.isFolder = S_ISDIR(st.st_mode);
    e.size = double(st.st_size);
    e.modified = double(st.st_mtim.tv_sec) + double(st.st_mtim.tv_nsec) / 1e9;
    return e;
}

} // namespace

void OutlineSort::sortEntries(QList<OutlineEntry>& entries)
{
    std::sort(entries.begin(), entries.end(), [](const OutlineEntry& a, const OutlineEntry& b) {
        const int c = a.name.compare(b.name, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a.name < b.name;
    });
}

QList<OutlineEntry> DirOutlineLister::list(const QString& folder)
{
    QList<OutlineEntry> entries;
    const QByteArray base = NameCodec::encode(folder);
    DIR* dir = ::opendir(base.constData());
    if (!dir)
        return entries;
    const QByteArray prefix = base.endsWith('/') ? base : base + '/';
    while (const dirent* d = ::readdir(dir)) {
        const QByteArray name(d->d_name);
        if (name == "." || name == "..")
            continue;
        struct stat st = {};
        const QString decoded = NameCodec::decode(name);
        const QByteArray full = prefix + name;
        if (::stat(full.constData(), &st) == 0) {
            entries.append(fromStat(decoded, st));
        } else {
            // A dangling link is still shown, as an item of size 0.
            OutlineEntry e;
            e.name = decoded;
            e.exists = true;
            entries.append(e);
        }
    }
    ::closedir(dir);
    OutlineSort::sortEntries(entries);
    return entries;
}

OutlineEntry DirOutlineLister::stat(const QString& path)
{
    struct stat st = {};
    if (::stat(NameCodec::encode(path).constData(), &st) != 0) {
        OutlineEntry e;
        e.name = path;
        return e;
    }
    return fromStat(path, st);
}
