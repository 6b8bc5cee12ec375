#include "panes/archive/ArchivePopup.h"

#include "archive/ArchiveNames.h"
#include "archive/CBackup.h"
#include "platform/NameCodec.h"
#include "projects/ILocation.h"
#include "utilities/IDiskUtil.h"

#include <QCoreApplication>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <thread>

namespace ArchivePopup {

namespace {

QString loc(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

QString join(const QString& a, const QString& b)
{
    if (a.isEmpty())
        return b;
    if (b.isEmpty())
        return a;
    QString left = a;
    while (left.endsWith(QLatin1Char('/')))
        left.chop(1);
    QString right = b;
    while (right.startsWith(QLatin1Char('/')))
        right.remove(0, 1);
    return left + QLatin1Char('/') + right;
}

// The file looked for: a split archive's first volume.
QString lookedForName(const QString& fileName)
{
    const int dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot > 0 && fileName.mid(dot + 1).startsWith(QLatin1String("cnt")))
        return fileName.left(dot) + QStringLiteral(".aaa");
    return fileName;
}

} // namespace

Environment Environment::system()
{
    Environment env;
    env.mountPoints = [] { return IDiskUtil::mountPointList(19); };
    env.prepareNetwork = [](const QString& url, const QString& pathFromMountPoint) {
        // Mounting may hang on a dead server: off the main thread, with a time limit; a thread
        // still waiting after it is left to end on its own.
        struct Shared
        {
            std::mutex mutex;
            std::condition_variable done;
            bool finished = false;
            QString folder;
        };
        auto shared = std::make_shared<Shared>();
        std::thread([shared, url, pathFromMountPoint] {
            std::unique_ptr<ILocation> location(ILocation::create());
            location->setURLStr(url);
            location->setPathFromMountPoint(pathFromMountPoint);
            location->setDeviceType(6);
            location->setAutomount(true);
            const QString folder = location->prepare() ? location->getFullPath() : QString();
            std::lock_guard lock(shared->mutex);
            shared->folder = folder;
            shared->finished = true;
            shared->done.notify_all();
        }).detach();
        std::unique_lock lock(shared->mutex);
        shared->done.wait_for(lock, std::chrono::seconds(5), [&] { return shared->finished; });
        return shared->finished ? shared->folder : QString();
    };
    env.exists = [](const QString& path) {
        struct stat st = {};
        return ::stat(NameCodec::encode(path).constData(), &st) == 0;
    };
    return env;
}

bool isArchiveFileAccessible(const CBackup& backup, int index, const Environment& env)
{
    if (index < 0 || index >= int(backup.archives().size()))
        return false;
    const CBArchivePath& a = backup.archives()[size_t(index)];
    const QString file = lookedForName(a.fileName);
    switch (a.deviceType) {
    case 0:
        return env.exists(join(join(QStringLiteral("/"), a.pathFromMountPoint), file));
    case 1:
    case 2:
    case 5:
        for (const QString& mount : env.mountPoints()) {
            QString candidate = join(mount, a.pathFromMountPoint);
            if (a.deviceType == 1)
                candidate = join(candidate, file);
            if (env.exists(candidate))
                return true;
        }
        return false;
    case 6: {
        const QString folder = env.prepareNetwork ? env.prepareNetwork(a.URLStr, a.pathFromMountPoint) : QString();
        return !folder.isEmpty() && env.exists(join(folder, file));
    }
    default:
        return false;
    }
}

QList<Item> fillBackupArchives(const CBackup& backup, const Environment& env)
{
    QList<Item> items;
    for (int i = int(backup.archives().size()) - 1; i >= 0; --i) {
        const QString name = backup.archives()[size_t(i)].fileName;
        const QVariantMap parsed = archiveFileNameParse(name);
        QString title = name;
        if (!parsed.isEmpty()) {
            const QString date = QString::asprintf("%.4d-%.2d-%.2d %.2d:%.2d:%.2d",
                parsed.value(QStringLiteral("year")).toInt(), parsed.value(QStringLiteral("month")).toInt(),
                parsed.value(QStringLiteral("day")).toInt(), parsed.value(QStringLiteral("hour")).toInt(),
                parsed.value(QStringLiteral("minute")).toInt(), parsed.value(QStringLiteral("second")).toInt());
            const QString prefix = parsed.value(QStringLiteral("CBMethodPrefix")).toString();
            title = isArchiveFileSplited(name) ? QStringLiteral("%1: %2 %3").arg(prefix, date, loc("multi-volume"))
                                               : QStringLiteral("%1: %2").arg(prefix, date);
        }
        Item item;
        item.tag = i;
        item.accessible = isArchiveFileAccessible(backup, i, env);
        item.title = item.accessible ? title : QStringLiteral("(N/A) %1").arg(title);
        items << item;
    }
    if (items.isEmpty())
        items << Item { loc("Not found"), -1, false };
    return items;
}

} // namespace ArchivePopup
