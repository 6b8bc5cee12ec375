#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariant>

// The running system's version as three numbers; its integer form is
// major * 10000 + minor * 100 + patch (10.14.6 is 101406).
struct SystemVersion
{
    qint32 major = 0;
    qint32 minor = 0;
    qint32 patch = 0;
};

// Stateless services every part of the application calls: the system version, texts for sizes,
// dates and command lines, per-key access to the main preferences, the week-day segments of
// schedule sheets and a few process-wide values. All of it may be called from any thread unless
// a method says otherwise.
class ICommon
{
public:
    // System version, read once from System/Library/CoreServices/SystemVersion.plist under the
    // system root; without that file the system counts as 10.15.7.
    static qint64 systemVersion();
    static QString systemVersionString();
    static bool isMountainLionOrHigher();
    static bool isSandBoxBookmarkAvailable();
    static bool isCatalinaCurrent();
    static bool isBigSureCurrent();
    static bool isTigerCurrent() { return false; }
    static bool isLeopardaCurrent() { return false; }
    static bool isSnowLeopardaCurrent() { return false; }
    // Forgets the cached version, application name and Info.plist switches (a new system root
    // or application tree in tests).
    static void resetCaches();

    // Size texts.
    static QString sizeDescriptionWithFileSize(quint64 bytes);
    static QString sizeConvertToReadableString(quint64 bytes);
    static QString doubleSizeConvertToReadableString(double bytes);
    static QString spaceToString(double bytes);

    // Date texts; an invalid date or the first second of 1970 gives a null text (empty bytes).
    static QByteArray generalUTF8StringFromDateTime(const QDateTime& date); // "yyyy-MM-dd HH:mm:ss "
    static QString generalStringFromDateTime(const QDateTime& date); // en-GB medium
    static QString localStringFromDateTime(const QDateTime& date); // en-US medium + " "
    static QByteArray localUTF8StringFromDateTime(const QDateTime& date); // current locale medium + " "
    static QString localShortlStringFromDateTime(const QDateTime& date); // current locale short

    // Command lines: for log lines (an openssl password is masked) and as a shell script line in
    // which every argument is one single-quoted word. Null for an empty list.
    static QString commandLineFromArgsArray(const QStringList& args);
    static QString scriptLineFromArgsArray(const QStringList& args);

    // Per-key access to "QVPrefs.plist" in the workspace.
    static QString mainPrefPath();
    static QVariant loadMainPrefValueForKey(const QString& key);
    static bool loadMainPrefValueForKeyToBool(const QString& key, bool* value);
    static bool loadMainPrefValueForKeyToInt(const QString& key, int* value);
    static bool saveMainPrefValue(const QVariant& value, const QString& key);
    static bool saveMainPrefBoolValue(bool value, const QString& key);
    static bool saveMainPrefIntValue(int value, const QString& key);

    // Week-day segments of schedule sheets: seven segments, the mask of the schedule (bit 0
    // Monday to bit 6 Sunday). Segment sets are bit sets too (bit s = segment s selected).
    static int getFirstWeekdayIndex(); // 1 when the week does not start on Sunday
    static int segmentForWeekDayBit(int bit, int firstWeekdayIndex);
    static quint8 getCompactWeekDaysFromSC(quint8 selectedSegments);
    static quint8 getCompactWeekDaysFromSC(quint8 selectedSegments, int firstWeekdayIndex);
    static quint8 setCompactWeekDaysToSC(quint8 mask);
    static quint8 setCompactWeekDaysToSC(quint8 mask, int firstWeekdayIndex);
    static QStringList fillWeekDayNamesToSC(); // the seven segment labels in segment order

    // Other helpers.
    static QString attrFileNameFromFilePath(const QString& path);
    static QString realHomeDirectory();
    static int projectcListRowHeight() { return 54; }
    static bool isAppInstalled(const QString& bundleIdentifier);
    static bool isPhotosInstalled();
    static bool isiPhotoInstalled();
    static bool containsString(const QString& text, const QString& substring);
    static void processEventsFunc();
    // "loop3s256" -> disk "loop3", s 256 (the btrfs subvolume naming of the volume model).
    static bool scanDiskBSDName(const QString& name, QString* disk, quint64* s);
    static QString getStringWithRoleForBSDName(const QString& name);

    // Process-wide values.
    static void setPpochatok();
    static bool isBeforePocjatok();
    static qint32 currentFunctionKit();
    static void setCurrentFunctionKit(qint32 kit);
};
