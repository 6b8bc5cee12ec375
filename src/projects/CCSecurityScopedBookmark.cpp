#include "projects/CCSecurityScopedBookmark.h"

#include "platform/AppPaths.h"
#include "platform/NameCodec.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>
#include <sys/stat.h>

namespace {

QString parentOf(const QString& path)
{
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

QString lastComponent(const QString& path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

bool isFolder(const QString& path)
{
    struct stat st;
    return ::stat(NameCodec::encode(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

CCSecurityScopedBookmark::CCSecurityScopedBookmark(const QString& message, const QString& explanation)
    : m_message(message)
    , m_explanation(explanation)
{ }

CCSecurityScopedBookmark& CCSecurityScopedBookmark::defaultBookmark()
{
    static CCSecurityScopedBookmark instance(
        QCoreApplication::translate("Localizable", "Your permission is required."),
        QCoreApplication::translate("Localizable",
            "The requested item is located outside the application container. Your permission is required to "
            "open it."));
    return instance;
}

QString CCSecurityScopedBookmark::settingsKey(const QString& folder)
{
    // QSettings treats "/" as a group separator; the path's bytes in hex keep every name apart.
    return QStringLiteral("SecurityScopedBookmarks/")
        + QString::fromLatin1(NameCodec::encode(folder).toHex());
}

QString CCSecurityScopedBookmark::bookmarkURL(const QString& path)
{
    return bookmarkURL(path, m_message, m_explanation);
}

QString CCSecurityScopedBookmark::bookmarkURL(
    const QString& path, const QString& message, const QString& explanation)
{
    if (!m_alert || !m_alert(message, explanation) || !m_openPanel)
        return path;
    const bool folder = isFolder(path);
    const QString start = folder ? path : parentOf(path);
    const QString chosen = m_openPanel(start, path);
    if (chosen.isEmpty())
        return path;
    AppPaths::appSettings()->setValue(settingsKey(folder ? path : parentOf(path)), chosen);
    return folder ? chosen : chosen + QLatin1Char('/') + lastComponent(path);
}

QString CCSecurityScopedBookmark::bookmarkedURL(const QString& path) const
{
    if (const QVariant v = AppPaths::appSettings()->value(settingsKey(path)); v.isValid())
        return v.toString();
    const QVariant parent = AppPaths::appSettings()->value(settingsKey(parentOf(path)));
    if (!parent.isValid())
        return QString();
    return parent.toString() + QLatin1Char('/') + lastComponent(path);
}

bool CCSecurityScopedBookmark::hasBookmarkFor(const QString& path) const
{
    return AppPaths::appSettings()->contains(settingsKey(path))
        || AppPaths::appSettings()->contains(settingsKey(parentOf(path)));
}

void CCSecurityScopedBookmark::removeBookmarkFor(const QString& path)
{
    AppPaths::appSettings()->remove(settingsKey(path));
}

bool PackageValidator::isEnabled(const QString& candidateFolder, const QString& requestedPath)
{
    const QFileInfo requested(requestedPath);
    const QString resolved = requested.isSymLink() ? requested.symLinkTarget() : requestedPath;
    const QString wanted = lastComponent(resolved);
    if (wanted.isEmpty())
        return false;
    struct stat st;
    return ::stat(NameCodec::encode(candidateFolder + QLatin1Char('/') + wanted).constData(), &st) == 0;
}
