#include "archive/ArchiveFiles.h"

#include "archive/ArchiveNames.h"
#include "platform/AppPaths.h"
#include "platform/NameCodec.h"
#include "utilities/MainPreferences.h"

#include <QFileInfo>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool lexists(const QString& path, struct stat* st = nullptr)
{
    struct stat tmp
    {
    };
    return ::lstat(NameCodec::encode(path).constData(), st ? st : &tmp) == 0;
}

// The split volumes walk at most this far: the suffixes of three letters.
constexpr qint64 kVolumeSuffixCount = 26 * 26 * 26;

QString volumeSuffix(qint64 n)
{
    // All three-letter suffixes, for walking and deleting; the list only names up to the
    // nameable ones (getMultivolumeArchiveExtensionByNumber).
    if (n < 0 || n >= kVolumeSuffixCount)
        return QString();
    QString s(3, QLatin1Char('a'));
    for (int i = 2; i >= 0; --i) {
        s[i] = QLatin1Char(char('a' + n % 26));
        n /= 26;
    }
    return s;
}

} // namespace

bool isPathBundle(const QString& path)
{
    static const QStringList kinds = { QStringLiteral("app"), QStringLiteral("bundle"),
        QStringLiteral("framework"), QStringLiteral("plugin"), QStringLiteral("kext"), QStringLiteral("pkg"),
        QStringLiteral("palette"), QStringLiteral("band") };
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot < 0 || dot < slash || dot == path.size() - 1)
        return false;
    return kinds.contains(path.mid(dot + 1), Qt::CaseInsensitive);
}

bool isHiddenByPath(const QString& path)
{
    static const QStringList hidden = { QStringLiteral("/bin"), QStringLiteral("/dev"),
        QStringLiteral("/etc"), QStringLiteral("/private"), QStringLiteral("/sbin"), QStringLiteral("/tmp"),
        QStringLiteral("/usr") };
    if (hidden.contains(path))
        return true;
    MainPreferences& prefs = MainPreferences::shared();
    return prefs.useCustomTmpFolder() && !prefs.customTmpFolder().isEmpty()
        && path == prefs.customTmpFolder();
}

int getTaskToolFromPath(const QString& path)
{
    if (path.isEmpty())
        return 0;
    QString tar = MainPreferences::shared().tarTool();
    if (tar.isEmpty())
        tar = AppPaths::resourcePath(QStringLiteral("gnutar"));
    if (path == tar || path == AppPaths::resourcePath(QStringLiteral("gnutar")))
        return 1;
    if (path == QLatin1String("/usr/bin/openssl"))
        return 2;
    if (path == QLatin1String("/usr/bin/split"))
        return 3;
    const QString cat = AppPaths::resourcePath(QStringLiteral("qv3_cat"));
    if (path == cat && lexists(cat))
        return 4;
    return 0;
}

quint32 getExistentArchiveFilesNumber(
    const QString& name, const QString& folder, bool split, bool* pastLastSuffix)
{
    if (pastLastSuffix)
        *pastLastSuffix = false;
    if (name.isEmpty() || folder.isEmpty())
        return 0;
    const QString base = folder + QLatin1Char('/') + name;
    if (!split)
        return lexists(base) ? 1 : 0;
    quint32 n = 0;
    for (;;) {
        const QString suffix = MainPreferences::getMultivolumeArchiveExtensionByNumber(n, 3);
        if (suffix.isEmpty()) {
            if (pastLastSuffix)
                *pastLastSuffix = lexists(base + QLatin1Char('.') + volumeSuffix(n));
            break;
        }
        if (!lexists(base + QLatin1Char('.') + suffix))
            break;
        ++n;
    }
    return n;
}

int deleteArcFiles(const QString& path)
{
    if (path.isEmpty())
        return 0;
    const QFileInfo info(path);
    const QString fileName = info.fileName();
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    const int count = dot > 0 ? extToSplittedArcCount(fileName.mid(dot + 1)) : 0;
    if (count <= 0) {
        struct stat st
        {
        };
        if (!lexists(path, &st) || S_ISDIR(st.st_mode))
            return 0;
        return ::unlink(NameCodec::encode(path).constData()) == 0 ? 1 : 0;
    }
    // The volumes of a split archive: exact names, from aaa up to the first one missing.
    const QString base = path.left(path.size() - (fileName.size() - dot));
    int deleted = 0;
    for (qint64 n = 0; n < kVolumeSuffixCount; ++n) {
        const QString volume = base + QLatin1Char('.') + volumeSuffix(n);
        struct stat st
        {
        };
        if (!lexists(volume, &st))
            break;
        if (!S_ISDIR(st.st_mode) && ::unlink(NameCodec::encode(volume).constData()) == 0)
            ++deleted;
    }
    return deleted;
}

quint64 getSizeOfFiles(const QString& path)
{
    if (path.isEmpty())
        return 0;
    const QString fileName = QFileInfo(path).fileName();
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    const int count = dot > 0 ? extToSplittedArcCount(fileName.mid(dot + 1)) : 0;
    struct stat st
    {
    };
    if (count <= 0)
        return lexists(path, &st) ? quint64(st.st_size) : 0;
    const QString base = path.left(path.size() - (fileName.size() - dot));
    quint64 total = 0;
    for (int n = 0; n < count; ++n)
        if (lexists(base + QLatin1Char('.') + volumeSuffix(n), &st))
            total += quint64(st.st_size);
    return total;
}
