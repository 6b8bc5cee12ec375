#include "utilities/CommonFunctions.h"

#include "platform/AppPaths.h"
#include "platform/Clock.h"
#include "platform/DeviceNames.h"
#include "platform/MainThread.h"
#include "platform/MountInfo.h"
#include "utilities/ILocationInfo.h"
#include "utilities/IRunLog.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QHash>
#include <QMouseEvent>
#include <QMutex>
#include <QMutexLocker>
#include <QPainter>
#include <QTimer>
#include <QWindow>
#include <atomic>

namespace {

// ---- application identity -------------------------------------------------------------------

struct NameCache
{
    QMutex mutex;
    QString appName;
};

NameCache& nameCache()
{
    static NameCache cache;
    return cache;
}

// -1 = not read yet.
std::atomic<int> g_compareLevel { -1 };

int compareLevel()
{
    int level = g_compareLevel.load();
    if (level < 0) {
        const QVariant v = AppPaths::infoPlistValue(QStringLiteral("g_SysVersionCompareLevel"));
        level = v.isValid() ? v.toInt() : 0;
        if (level < 0)
            level = 0;
        g_compareLevel.store(level);
    }
    return level;
}

// ---- function status table ------------------------------------------------------------------

QMutex& statusMutex()
{
    static QMutex mutex;
    return mutex;
}

QHash<QString, QString>& statusTable()
{
    static QHash<QString, QString> table;
    return table;
}

// ---- images ---------------------------------------------------------------------------------

struct Images
{
    QMutex mutex;
    QHash<QString, QImage> named;
    QImage status[3];
};

Images& images()
{
    static Images store;
    return store;
}

QImage blankImage()
{
    QImage blank(1, 1, QImage::Format_ARGB32_Premultiplied);
    blank.fill(Qt::transparent);
    return blank;
}

// Called with the lock held.
QImage namedImage(Images& store, const QString& name)
{
    auto it = store.named.constFind(name);
    if (it != store.named.constEnd())
        return *it;
    QImage image = name == QLatin1String("blankImage")
        ? blankImage()
        : QImage(AppPaths::resourcePath(name + QStringLiteral(".png")));
    store.named.insert(name, image);
    return image;
}

} // namespace

void resetCommonFunctionCaches()
{
    {
        NameCache& cache = nameCache();
        QMutexLocker lock(&cache.mutex);
        cache.appName.clear();
    }
    g_compareLevel.store(-1);
}

// ---- identity -------------------------------------------------------------------------------

QString mainAppId()
{
    return AppPaths::infoPlistValue(QStringLiteral("CFBundleIdentifier")).toString();
}

QString mainPrefId()
{
    return AppPaths::infoPlistValue(QStringLiteral("Pref identifier")).toString();
}

QString QVAppName()
{
    NameCache& cache = nameCache();
    QMutexLocker lock(&cache.mutex);
    if (cache.appName.isEmpty()) {
        const QVariant name = AppPaths::infoPlistValue(QStringLiteral("CFBundleName"));
        cache.appName = name.typeId() == QMetaType::QString && !name.toString().isEmpty()
            ? name.toString()
            : QStringLiteral("Kelvane");
    }
    return cache.appName;
}

// ---- threads and events ---------------------------------------------------------------------

bool QVMainThread()
{
    return isMainThread();
}

void QVControlRedraw(QObject* view)
{
    if (!view || !isMainThread())
        return;
    // Views are widgets; their slots are reached without linking the widget library here.
    QMetaObject::invokeMethod(view, "update", Qt::DirectConnection);
    QMetaObject::invokeMethod(view, "repaint", Qt::DirectConnection);
}

void QVProcessEvents()
{
    if (!isMainThread() || !QCoreApplication::instance())
        return;
    ModalDepthGuard guard;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QVRunLoop(int count)
{
    if (!isMainThread() || !QCoreApplication::instance())
        return;
    ModalDepthGuard guard;
    for (int i = 0; i < count; ++i) {
        QEventLoop loop;
        QTimer::singleShot(30, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

double QVSecCount()
{
    return double(Clock::current().monotonicMs()) / 1000.0;
}

// ---- system version -------------------------------------------------------------------------

qint64 QVSystemVersion()
{
    return ICommon::systemVersion();
}

QString QVSystemVersionString()
{
    return ICommon::systemVersionString();
}

int QVSysVersionsCompare(const SystemVersion& a, const SystemVersion& b)
{
    if (a.major != b.major)
        return a.major > b.major ? 1 : -1;
    if (a.minor != b.minor)
        return a.minor > b.minor ? 1 : -1;
    if (compareLevel() == 1 && a.patch != b.patch)
        return a.patch > b.patch ? 1 : -1;
    return 0;
}

void setSysVersionCompareLevel(int level)
{
    g_compareLevel.store(level < 0 ? 0 : level);
}

// ---- temporary names and mounts -------------------------------------------------------------

QString QVGenerateTempFileName()
{
    return IRunLog::shared().tempFileName();
}

QString QVGenerateTempFolder()
{
    return IRunLog::shared().tempFileName();
}

QString QVMountPointForPath(const QString& path)
{
    if (path.isEmpty())
        return QString();
    return MountInfo::mountPointForPath(path);
}

QString QVContainerForVolume(const QString& device)
{
    QString name = device;
    if (name.startsWith(QLatin1String("/dev/")))
        name = name.mid(5);
    const DeviceNames::Parsed parsed = DeviceNames::parse(name);
    return parsed.isSubvolume ? parsed.container : QString();
}

// ---- function status ------------------------------------------------------------------------

void QVSetFuncStatus(const QString& funcName, const QString& text)
{
    if (funcName.isNull() || text.isNull())
        return;
    QMutexLocker lock(&statusMutex());
    statusTable().insert(funcName, text);
}

QString QVFuncStatus(const QString& funcName)
{
    if (funcName.isNull())
        return QStringLiteral("");
    QMutexLocker lock(&statusMutex());
    return statusTable().value(funcName, QStringLiteral(""));
}

// ---- escaping -------------------------------------------------------------------------------

QString shieldingCharactersForRsyncExcludeList(const QString& text)
{
    QString out;
    out.reserve(text.size() * 2);
    for (QChar c : text) {
        if (c == u'\\')
            out += QLatin1String("\\\\");
        else if (c == u'[' || c == u']' || c == u'{' || c == u'}')
            out += u'\\', out += c;
        else
            out += c;
    }
    return out;
}

namespace {
bool isEscapedChar(char c)
{
    switch (c) {
    case ' ':
    case '!':
    case '"':
    case '(':
    case ')':
    case '<':
    case '>':
    case '\\':
    case '`':
    case '~':
        return true;
    default:
        return false;
    }
}
} // namespace

std::string escape_str(const std::string& source)
{
    std::string out;
    out.reserve(source.size() * 2);
    for (char c : source) {
        if (isEscapedChar(c))
            out += '\\';
        out += c;
    }
    return out;
}

std::string unescape_str(const std::string& source)
{
    std::string out;
    out.reserve(source.size());
    for (size_t i = 0; i < source.size(); ++i) {
        if (source[i] == '\\' && i + 1 < source.size() && isEscapedChar(source[i + 1])) {
            out += source[i + 1];
            ++i;
        } else {
            out += source[i];
        }
    }
    return out;
}

// ---- location text --------------------------------------------------------------------------

QString infoTextForLocation(ILocationInfo* location)
{
    if (!location || !location->hasDiskInfo())
        return QString();
    if (location->deviceType() == 2)
        return QStringLiteral("%1;  %2").arg(location->getDeviceTypeString(), location->displayName());
    const QString fileSystem = location->isHFSp() ? QStringLiteral("HFS")
        : location->isAPFS()                      ? QStringLiteral("APFS")
                                                  : QStringLiteral("No MAC FS");
    const QString group = location->isGrouped() ? QStringLiteral("In volume group; ") : QString();
    QString body;
    if (location->isActive()) {
        if (location->totalMB() < 1)
            location->refreshVolumeInfo();
        body = QStringLiteral("%1; file system: %2; %3full space:  %4; free space:  %5; used space: %6 ")
                   .arg(location->getDeviceTypeString(), fileSystem, group,
                       ICommon::spaceToString(double(location->totalMB()) * 1e6),
                       ICommon::spaceToString(double(location->freeMB()) * 1e6),
                       ICommon::spaceToString(double(location->usedSizeMB()) * 1e6));
    } else {
        body = QStringLiteral("%1; file system: %2; NOT ACTIVE")
                   .arg(location->getDeviceTypeString(), fileSystem);
    }
    const QString path = location->fullPath();
    return QStringLiteral("\"%1\"; %2").arg(path.isEmpty() ? QStringLiteral("empty") : path, body);
}

// ---- drawing --------------------------------------------------------------------------------

QImage* getBitmapImageRep(QImage* image)
{
    return image && !image->isNull() ? image : nullptr;
}

QPainter* lockFocus(QImage* image)
{
    if (!image || image->isNull() || image->width() == 0 || image->height() == 0)
        return nullptr;
    // Painting needs a format with alpha that QPainter can draw into.
    if (image->format() != QImage::Format_ARGB32_Premultiplied && image->format() != QImage::Format_ARGB32)
        *image = image->convertToFormat(QImage::Format_ARGB32_Premultiplied);
    auto* painter = new QPainter(image);
    painter->save();
    return painter;
}

void unlockFocus(QPainter* painter)
{
    if (!painter)
        return;
    painter->restore();
    painter->end();
    delete painter;
}

QColor convertToRGB(const QColor& colour)
{
    return colour.spec() == QColor::Rgb ? colour : colour.toRgb();
}

// ---- windows --------------------------------------------------------------------------------

void postMouseEvent(int button, int eventType, int x, int y)
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return;
    const QPoint global(x, y);
    QWindow* window = QGuiApplication::topLevelAt(global);
    if (!window)
        return;
    const auto type = QEvent::Type(eventType);
    const auto b = Qt::MouseButton(button);
    const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(b);
    QCoreApplication::postEvent(window,
        new QMouseEvent(
            type, QPointF(window->mapFromGlobal(global)), QPointF(global), b, buttons, Qt::NoModifier));
}

void activateWindow(QWindow* window)
{
    if (!window)
        return;
    window->raise();
    window->requestActivate();
}

qint32 appleScriptExecute(const QString&)
{
    return -1;
}

// ---- images ---------------------------------------------------------------------------------

QImage imageForSyncType(int type)
{
    QString name;
    switch (type) {
    case 1:
        name = QStringLiteral("sync_arrow_green");
        break;
    case 2:
        name = QStringLiteral("sync_arrow_right");
        break;
    case 3:
        name = QStringLiteral("sync_arrow_left");
        break;
    case 6:
        name = QStringLiteral("sync_arrow_both");
        break;
    case 8:
        name = QStringLiteral("hmbClose_Pressed");
        break;
    default:
        name = QStringLiteral("blankImage");
        break;
    }
    Images& store = images();
    QMutexLocker lock(&store.mutex);
    return namedImage(store, name);
}

void loadGraphics()
{
    Images& store = images();
    QMutexLocker lock(&store.mutex);
    store.status[0] = namedImage(store, QStringLiteral("CloneStatus_ok"));
    store.status[1] = namedImage(store, QStringLiteral("CloneStatus_warning"));
    store.status[2] = namedImage(store, QStringLiteral("CloneStatus_error"));
    store.named.insert(QStringLiteral("blankImage"), blankImage());
}

QImage cloneStatusImage(int which)
{
    if (which < 0 || which > 2)
        return QImage();
    Images& store = images();
    QMutexLocker lock(&store.mutex);
    return store.status[which];
}

// ---- message tables -------------------------------------------------------------------------

QString workMessageString(int index)
{
    static const char* const texts[] = {
        " ",
        "Destination volume \"%@\" is not active",
        "Destination folder \"%@\" is not found",
        "Backup project folder \"%@\" creation error",
        "Backup Work Folder \"%@\" creation error",
        "Backup Info file \"%@\" saving error",
        "Temporary folder (QV3ProcessTemporaryFolder) can not be deleted, try to delete it manually  and "
        "start "
        "backup again (%@)",
        "Backup Top Level Item folder \"%@\" creation error",
        "Destination folder has not been chosen",
        "Backup process data saving error",
        "Temporary folder (%@) can not be renamed to \"%@\"",
        "Unable to create project file \"qv3Info.plist\". The folder already contains a file with the same "
        "name, "
        "which is being used by another program or in Read-only mode.",
    };
    if (index < 0 || index >= int(std::size(texts)))
        return QString();
    return QString::fromUtf8(texts[index]);
}

QString backupDestStatus(int index)
{
    static const char* const texts[] = {
        "",
        "Selected backup destination is currently unavailable",
        "Backup destination is in Read-only mode",
        "Only full backup is available for the selected destination",
        "Not enough permissions to write into system disk root",
        "Not enough permissions to write into the selected folder",
        "Selected backup destination is currently unavailable",
        "Incremental backup is available for the selected destination",
        "Select a Destination",
        "Backup is available for the selected destination",
    };
    if (index < 0 || index >= int(std::size(texts)))
        return QString();
    return QString::fromUtf8(texts[index]);
}

QString QVToolTipStr(int index)
{
    static const char* const texts[] = {
        QT_TRANSLATE_NOOP("Localizable", "Add new project"),
        QT_TRANSLATE_NOOP("Localizable", "Delete project from the list"),
        QT_TRANSLATE_NOOP("Localizable", "Setup project Properties"),
        QT_TRANSLATE_NOOP("Localizable", "Choose one of the previous backups to restore"),
        QT_TRANSLATE_NOOP("Localizable", "Add file/folder to the project"),
        QT_TRANSLATE_NOOP("Localizable", "Add app data to the project"),
        QT_TRANSLATE_NOOP("Localizable", "Remove file/folder from the project"),
        QT_TRANSLATE_NOOP("Localizable", "Show files/folders in this project"),
        QT_TRANSLATE_NOOP("Localizable", "Open Log window"),
        QT_TRANSLATE_NOOP("Localizable", "Choose source volume for cloning"),
        QT_TRANSLATE_NOOP("Localizable", "Choose destination volume for cloning"),
        QT_TRANSLATE_NOOP("Localizable", "Choose \u0430 folder to synchronize"),
        QT_TRANSLATE_NOOP("Localizable", "Choose \u0430 folder to synchronize"),
        QT_TRANSLATE_NOOP("Localizable", "Select sync direction"),
        QT_TRANSLATE_NOOP("Localizable", "Run analytics before actual sync"),
        QT_TRANSLATE_NOOP("Localizable", "Choose an archive you want to restore"),
        QT_TRANSLATE_NOOP("Localizable", "Begin the process"),
        QT_TRANSLATE_NOOP("Localizable", "Stop the process"),
        QT_TRANSLATE_NOOP("Localizable", "Backup view"),
        QT_TRANSLATE_NOOP("Localizable", "Archive view"),
        QT_TRANSLATE_NOOP("Localizable", "Clone view"),
        QT_TRANSLATE_NOOP("Localizable", "Synchronize view"),
        QT_TRANSLATE_NOOP("Localizable", "Suspend scheduler"),
        QT_TRANSLATE_NOOP("Localizable", "Resume scheduler"),
    };
    if (index < 0 || index >= int(std::size(texts)))
        return QString();
    return QCoreApplication::translate("Localizable", texts[index]);
}
