#include "utilities/ICommon.h"

#include "platform/AppPaths.h"
#include "platform/DeviceNames.h"
#include "platform/MainThread.h"
#include "platform/PlistBridge.h"
#include "utilities/IVolumeRoles.h"
#include "utilities/QVLog.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLocale>
#include <QMutex>
#include <QMutexLocker>
#include <QStandardPaths>
#include <atomic>
#include <cmath>
#include <ctime>
#include <mutex>
#include <pwd.h>
#include <unicode/udat.h>
#include <unicode/ustring.h>
#include <unistd.h>
#include <vector>

namespace {

// ---- system version -------------------------------------------------------------------------

struct VersionCache
{
    QMutex mutex;
    qint64 version = 0; // 0 = not read yet
    QString text;
};

VersionCache& versionCache()
{
    static VersionCache cache;
    return cache;
}

// The default when the system has no version file: the last release the version checks
// know about.
constexpr qint64 kDefaultSystemVersion = 101507;
const char* const kDefaultSystemVersionText = "10.15.7";

void readSystemVersion(VersionCache& cache)
{
    QString root = AppPaths::systemRoot();
    if (!root.endsWith(u'/'))
        root += u'/';
    const auto result
        = PlistBridge::readFile(root + QStringLiteral("System/Library/CoreServices/SystemVersion.plist"));
    const QString text = PlistValue::string(result.map(), QStringLiteral("ProductVersion"));
    const QStringList parts = text.split(u'.');
    bool okMajor = false;
    bool okMinor = false;
    bool okPatch = true;
    const int major = parts.value(0).toInt(&okMajor);
    const int minor = parts.value(1).toInt(&okMinor);
    const int patch = parts.size() > 2 ? parts.at(2).toInt(&okPatch) : 0;
    if (!result.ok() || parts.size() < 2 || !okMajor || !okMinor || !okPatch || major <= 0 || minor < 0
        || patch < 0) {
        cache.version = kDefaultSystemVersion;
        cache.text = QString::fromLatin1(kDefaultSystemVersionText);
        return;
    }
    // The number is the text "%d%0.2d%0.2d" read as an integer (10.16 stays 101600).
    cache.version = QString::asprintf("%d%02d%02d", major, minor, patch).toLongLong();
    cache.text = text;
}

// ---- dates ----------------------------------------------------------------------------------

bool isNoDate(const QDateTime& date)
{
    return !date.isValid() || date.toSecsSinceEpoch() == 0;
}

QLocale enUS()
{
    return QLocale(QLocale::English, QLocale::UnitedStates);
}

// ICU's medium date-and-time style for the current locale. ICU formatters are not safe to
// share between threads, so one lock covers the cached formatter.
struct IcuMedium
{
    std::mutex mutex;
    UDateFormat* format = nullptr;
    QByteArray locale;
};

IcuMedium& icuMedium()
{
    static IcuMedium medium;
    return medium;
}

QString icuMediumText(const QDateTime& date)
{
    IcuMedium& m = icuMedium();
    std::lock_guard<std::mutex> lock(m.mutex);
    const QByteArray locale = QLocale::system().name().toLatin1();
    if (!m.format || m.locale != locale) {
        if (m.format)
            udat_close(m.format);
        UErrorCode status = U_ZERO_ERROR;
        m.format = udat_open(UDAT_MEDIUM, UDAT_MEDIUM, locale.constData(), nullptr, -1, nullptr, -1, &status);
        if (U_FAILURE(status)) {
            m.format = nullptr;
            return QString();
        }
        m.locale = locale;
    }
    UChar buffer[256];
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = udat_format(
        m.format, UDate(date.toMSecsSinceEpoch()), buffer, int32_t(std::size(buffer)), nullptr, &status);
    if (U_FAILURE(status) || length <= 0)
        return QString();
    QString text = QString::fromUtf16(reinterpret_cast<const char16_t*>(buffer), length);
    // ICU puts narrow and ordinary no-break spaces before AM/PM; log lines keep ASCII blanks.
    text.replace(QChar(0x202F), u' ');
    text.replace(QChar(0x00A0), u' ');
    return text;
}

// ---- process-wide values --------------------------------------------------------------------

std::atomic<bool> g_pochatok { false };
std::atomic<qint32> g_functionKit { 0 };

// ---- preferences ----------------------------------------------------------------------------

// One lock over every read-modify-write of the preferences file in this process.
QMutex& prefMutex()
{
    static QMutex mutex;
    return mutex;
}

bool numberValue(const QVariant& value)
{
    return value.typeId() == QMetaType::Bool || PlistValue::isNumber(value);
}

} // namespace

// ---- system version -------------------------------------------------------------------------

qint64 ICommon::systemVersion()
{
    VersionCache& cache = versionCache();
    QMutexLocker lock(&cache.mutex);
    if (cache.version == 0)
        readSystemVersion(cache);
    return cache.version;
}

QString ICommon::systemVersionString()
{
    VersionCache& cache = versionCache();
    QMutexLocker lock(&cache.mutex);
    if (cache.version == 0)
        readSystemVersion(cache);
    return cache.text;
}

bool ICommon::isMountainLionOrHigher()
{
    return systemVersion() > 100799;
}
bool ICommon::isSandBoxBookmarkAvailable()
{
    return systemVersion() > 100700;
}
bool ICommon::isCatalinaCurrent()
{
    const qint64 v = systemVersion();
    return v >= 101500 && v <= 101599;
}
bool ICommon::isBigSureCurrent()
{
    const qint64 v = systemVersion();
    return v >= 101600 && v <= 119999;
}

// ---- sizes ----------------------------------------------------------------------------------

QString ICommon::sizeDescriptionWithFileSize(quint64 bytes)
{
    const double k = double(bytes) / 1024.0;
    if (bytes > 1048575)
        return QString::asprintf("%.1f MB", k / 1024.0);
    return QString::asprintf("%i KB", int(std::ceil(k)));
}

QString ICommon::sizeConvertToReadableString(quint64 bytes)
{
    const double b = double(bytes);
    if (bytes <= 999)
        return QString::asprintf("%.0lf B", b);
    if (bytes <= 999999)
        return QString::asprintf("%.2lf KB", b / 1000.0);
    if (bytes <= 999999999)
        return QString::asprintf("%.2lf MB", b / 1e6);
    if (bytes < 1000000000000ULL)
        return QString::asprintf("%.2lf GB", b / 1e9);
    return QString::asprintf("%.2lf TB", b / 1e12);
}

QString ICommon::doubleSizeConvertToReadableString(double bytes)
{
    if (bytes < 1000)
        return QString::asprintf("%.0lf B", bytes);
    if (bytes < 1e6)
        return QString::asprintf("%.2lf KB", bytes / 1000.0);
    if (bytes < 1e9)
        return QString::asprintf("%.2lf MB", bytes / 1e6);
    if (bytes < 1e12)
        return QString::asprintf("%.2lf GB", bytes / 1e9);
    return QString::asprintf("%.2lf TB", bytes / 1e12);
}

QString ICommon::spaceToString(double bytes)
{
    if (bytes < 1000)
        return QString::asprintf("%.0lf B", bytes);
    if (bytes < 1e6)
        return QString::asprintf("%.1lf KB", bytes / 1000.0);
    if (bytes < 1e9)
        return QString::asprintf("%.1lf MB", bytes / 1e6);
    return QString::asprintf("%.1lf GB", bytes / 1e9);
}

// ---- dates ----------------------------------------------------------------------------------

QString ICommon::localStringFromDateTime(const QDateTime& date)
{
    if (isNoDate(date))
        return QString();
    return enUS().toString(date.toLocalTime(), QStringLiteral("MMM d, yyyy, h:mm:ss AP")) + u' ';
}

QByteArray ICommon::localUTF8StringFromDateTime(const QDateTime& date)
{
    if (isNoDate(date))
        return QByteArray("");
    const QString text = icuMediumText(date);
    if (text.isEmpty())
        return QByteArray("");
    return text.toUtf8() + ' ';
}

QString ICommon::localShortlStringFromDateTime(const QDateTime& date)
{
    if (isNoDate(date))
        return QString();
    return QLocale::system().toString(date.toLocalTime(), QLocale::ShortFormat);
}

// ---- command lines --------------------------------------------------------------------------

QString ICommon::commandLineFromArgsArray(const QStringList& args)
{
    if (args.isEmpty())
        return QString();
    // The password of an openssl command is its last argument; it never reaches a log.
    const bool mask = args.size() > 1 && args.first().endsWith(QLatin1String("openssl"));
    QString line = QStringLiteral("");
    for (qsizetype i = 0; i < args.size(); ++i) {
        line += QLatin1String("  ");
        line += (mask && i == args.size() - 1) ? QStringLiteral("*********") : args.at(i);
    }
    return line;
}

QString ICommon::scriptLineFromArgsArray(const QStringList& args)
{
    if (args.isEmpty())
        return QString();
    // Every argument becomes one single-quoted shell word, whatever it holds.
    QString line = QStringLiteral("");
    for (const QString& arg : args) {
        QString word = arg;
        word.replace(u'\'', QLatin1String("'\\''"));
        line += QLatin1String("  '") + word + u'\'';
    }
    return line;
}

// ---- main preferences -----------------------------------------------------------------------

QString ICommon::mainPrefPath()
{
    return AppPaths::currentWorkspacePath() + QStringLiteral("/QVPrefs.plist");
}

QVariant ICommon::loadMainPrefValueForKey(const QString& key)
{
    QMutexLocker lock(&prefMutex());
    const auto result = PlistBridge::readFile(mainPrefPath());
    if (!result.ok() || result.value.typeId() != QMetaType::QVariantMap)
        return QVariant();
    return result.map().value(key);
}

bool ICommon::loadMainPrefValueForKeyToBool(const QString& key, bool* value)
{
    const QVariant v = loadMainPrefValueForKey(key);
    if (!numberValue(v))
        return false;
    if (value)
        *value = v.typeId() == QMetaType::Double ? v.toDouble() != 0 : v.toLongLong() != 0;
    return true;
}

bool ICommon::loadMainPrefValueForKeyToInt(const QString& key, int* value)
{
    const QVariant v = loadMainPrefValueForKey(key);
    if (!numberValue(v))
        return false;
    if (value)
        *value = v.typeId() == QMetaType::Double ? int(v.toDouble()) : int(v.toLongLong());
    return true;
}

bool ICommon::saveMainPrefValue(const QVariant& value, const QString& key)
{
    if (!value.isValid() || value.isNull())
        return false;
    QMutexLocker lock(&prefMutex());
    const QString path = mainPrefPath();
    const auto result = PlistBridge::readFile(path);
    QVariantMap dict;
    switch (result.status) {
    case PlistBridge::ReadStatus::Ok:
        if (result.value.typeId() == QMetaType::QVariantMap) {
            dict = result.map();
            break;
        }
        [[fallthrough]];
    case PlistBridge::ReadStatus::Corrupt: {
        // The file is kept aside byte for byte before a new one takes its place.
        const QString aside = PlistBridge::keepAside(path);
        if (aside.isNull()) {
            QVUtilLog(QStringLiteral("Preferences file \"%1\" can not be read and can not be moved aside")
                          .arg(path));
            return false;
        }
        QVUtilLog(QStringLiteral("Preferences file \"%1\" can not be read; it was kept as \"%2\"")
                      .arg(path, aside));
        break;
    }
    case PlistBridge::ReadStatus::Missing:
        break;
    case PlistBridge::ReadStatus::Unreadable:
        // A file we cannot read is never replaced.
        return false;
    }
    dict.insert(key, value);
    QString error;
    return PlistBridge::writeFileAtomically(path, dict, &error);
}

bool ICommon::saveMainPrefBoolValue(bool value, const QString& key)
{
    return saveMainPrefValue(value, key);
}

bool ICommon::saveMainPrefIntValue(int value, const QString& key)
{
    return saveMainPrefValue(qint64(value), key);
}

// ---- week days ------------------------------------------------------------------------------

int ICommon::getFirstWeekdayIndex()
{
    return QLocale::system().firstDayOfWeek() != Qt::Sunday ? 1 : 0;
}

int ICommon::segmentForWeekDayBit(int bit, int firstWeekdayIndex)
{
    if (bit == 6)
        return firstWeekdayIndex == 1 ? 6 : 0;
    return 1 - firstWeekdayIndex + bit;
}

quint8 ICommon::getCompactWeekDaysFromSC(quint8 selectedSegments)
{
    return getCompactWeekDaysFromSC(selectedSegments, getFirstWeekdayIndex());
}

quint8 ICommon::getCompactWeekDaysFromSC(quint8 selectedSegments, int firstWeekdayIndex)
{
    quint8 mask = 0;
    for (int bit = 0; bit < 7; ++bit) {
        if (selectedSegments & (1u << segmentForWeekDayBit(bit, firstWeekdayIndex)))
            mask |= quint8(1u << bit);
    }
    return mask;
}

quint8 ICommon::setCompactWeekDaysToSC(quint8 mask)
{
    return setCompactWeekDaysToSC(mask, getFirstWeekdayIndex());
}

quint8 ICommon::setCompactWeekDaysToSC(quint8 mask, int firstWeekdayIndex)
{
    quint8 segments = 0;
    for (int bit = 0; bit < 7; ++bit) {
        if (mask & (1u << bit))
            segments |= quint8(1u << segmentForWeekDayBit(bit, firstWeekdayIndex));
    }
    return segments;
}

QStringList ICommon::fillWeekDayNamesToSC()
{
    const QLocale locale = QLocale::system();
    // Short week-day names from Sunday on, rotated to start on Monday when the week does.
    QStringList names;
    names << locale.dayName(Qt::Sunday, QLocale::ShortFormat);
    for (int day = Qt::Monday; day <= Qt::Saturday; ++day)
        names << locale.dayName(day, QLocale::ShortFormat);
    if (getFirstWeekdayIndex() == 1)
        names.move(0, 6);
    for (QString& name : names) {
        if (name.size() >= 3)
            name.truncate(2);
    }
    return names;
}

// ---- other helpers --------------------------------------------------------------------------

QString ICommon::attrFileNameFromFilePath(const QString& path)
{
    QString p = path;
    while (p.size() > 1 && p.endsWith(u'/'))
        p.chop(1);
    const qsizetype slash = p.lastIndexOf(u'/');
    if (slash < 0)
        return QStringLiteral("./._") + p;
    const QString folder = slash == 0 ? QStringLiteral("/") : p.left(slash);
    const QString name = p.mid(slash + 1);
    return folder.endsWith(u'/') ? folder + QStringLiteral("._") + name
                                 : folder + QStringLiteral("/._") + name;
}

QString ICommon::realHomeDirectory()
{
    struct passwd record;
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(getuid(), &record, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir
        && *found->pw_dir)
        return QFile::decodeName(found->pw_dir);
    // Without a user record (containers, removed accounts) the environment still knows.
    return QString::fromLocal8Bit(qgetenv("HOME"));
}

bool ICommon::isAppInstalled(const QString& bundleIdentifier)
{
    if (bundleIdentifier.isEmpty() || bundleIdentifier.contains(u'/'))
        return false;
    QStringList dirs { AppPaths::dataHome() };
    QString dataDirs = QString::fromLocal8Bit(qgetenv("XDG_DATA_DIRS"));
    if (dataDirs.isEmpty())
        dataDirs = QStringLiteral("/usr/local/share:/usr/share");
    dirs += dataDirs.split(u':', Qt::SkipEmptyParts);
    for (const QString& dir : dirs) {
        if (QFileInfo::exists(
                dir + QStringLiteral("/applications/") + bundleIdentifier + QStringLiteral(".desktop")))
            return true;
    }
    return false;
}

bool ICommon::isPhotosInstalled()
{
    return isAppInstalled(QStringLiteral("com.apple.Photos"));
}
bool ICommon::isiPhotoInstalled()
{
    return isAppInstalled(QStringLiteral("com.apple.iPhoto"));
}

bool ICommon::containsString(const QString& text, const QString& substring)
{
    return text.toUpper().contains(substring);
}

void ICommon::processEventsFunc()
{
    if (!isMainThread() || !QCoreApplication::instance())
        return;
    ModalDepthGuard guard;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool ICommon::scanDiskBSDName(const QString& name, QString* disk, quint64* s)
{
    if (!disk || !s)
        return false;
    QString device = name;
    if (device.startsWith(QLatin1String("/dev/")))
        device = device.mid(5);
    const DeviceNames::Parsed parsed = DeviceNames::parse(device);
    if (!parsed.isSubvolume)
        return false;
    *disk = parsed.container;
    *s = parsed.subvolumeId;
    return true;
}

QString ICommon::getStringWithRoleForBSDName(const QString& name)
{
    QString disk;
    quint64 s = 0;
    if (!scanDiskBSDName(name, &disk, &s) || s < 1)
        return QString();
    const QString device = DeviceNames::subvolumeDeviceName(disk, s);
    const QString role = IVolumeRoles::shared().roleNameForDevice(device);
    if (role.isNull())
        return QString();
    return QStringLiteral("Volume %1 Role: (%2)").arg(device, role);
}

// ---- process-wide values --------------------------------------------------------------------

void ICommon::setPpochatok()
{
    g_pochatok.store(true);
}
bool ICommon::isBeforePocjatok()
{
    return !g_pochatok.load();
}
qint32 ICommon::currentFunctionKit()
{
    return g_functionKit.load();
}
void ICommon::setCurrentFunctionKit(qint32 kit)
{
    g_functionKit.store(kit);
}

// Caches of the other files of the common functions.
void resetCommonFunctionCaches();
void resetFullLogDebugCache();

void ICommon::resetCaches()
{
    {
        VersionCache& cache = versionCache();
        QMutexLocker lock(&cache.mutex);
        cache.version = 0;
        cache.text.clear();
    }
    resetCommonFunctionCaches();
    resetFullLogDebugCache();
}
