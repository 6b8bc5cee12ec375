#include "utilities/HelpAnchor.h"

#include "platform/AppPaths.h"
#include "platform/PlistBridge.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

namespace {
QMutex g_openerMutex;
std::function<bool(const QUrl&)> g_opener;
} // namespace

void setHelpUrlOpener(std::function<bool(const QUrl&)> opener)
{
    QMutexLocker lock(&g_openerMutex);
    g_opener = std::move(opener);
}

int MyGotoHelpAnchor(const QString& anchor)
{
    const PlistBridge::ReadResult info = PlistBridge::readFile(AppPaths::infoPlistPath());
    if (!info.ok())
        return -43;
    const QVariantMap m = info.map();
    if (!m.contains(QStringLiteral("CFBundleHelpBookName")))
        return -43;
    const QVariant book = m.value(QStringLiteral("CFBundleHelpBookName"));
    if (book.typeId() != QMetaType::QString)
        return -50;
    const QString page
        = QDir(AppPaths::resourcesDir()).filePath(book.toString() + QStringLiteral("/index.html"));
    QUrl url = QUrl::fromLocalFile(page);
    url.setFragment(anchor);
    std::function<bool(const QUrl&)> opener;
    {
        QMutexLocker lock(&g_openerMutex);
        opener = g_opener;
    }
    const bool opened = opener ? opener(url) : QDesktopServices::openUrl(url);
    return opened ? 0 : -43;
}
