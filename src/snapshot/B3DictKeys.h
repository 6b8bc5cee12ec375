#pragma once

#include <QString>

// Keys of a snapshot-backup project's stored dictionary, of its "Filters" and "Schedule"
// dictionaries, of a stored location, and of the list file "Projects.plist". The names are the
// stored format: they are spelt exactly as the files hold them.
namespace B3DictKeys {

inline constexpr QLatin1StringView cnsB3NameKey("Name");
inline constexpr QLatin1StringView cnsB3FileNameKey("FileName");
inline constexpr QLatin1StringView cnsB3TagForSrcLocations("TagForSrcLocations");
inline constexpr QLatin1StringView cnsB3LastDateKey("LastDate");
inline constexpr QLatin1StringView cnsB3NextDateKey("NextDate");
inline constexpr QLatin1StringView cnsB3LastFolderKey("LastFolder");
inline constexpr QLatin1StringView cnsB3DestLocation("Destination");
inline constexpr QLatin1StringView cnsB3ProjectBackupFolder("ProjectBackupFolder");
inline constexpr QLatin1StringView cnsB3NewForDestLocationKey("NewForDestLocation");
inline constexpr QLatin1StringView cnsB3SrcLocations("Sources");
inline constexpr QLatin1StringView cnsB3UUIDKey("ProjectUUID");
inline constexpr QLatin1StringView cnsB3OptionsKey("Options");
inline constexpr QLatin1StringView cnsB3ColorKey("Color");
inline constexpr QLatin1StringView cnsFilters("Filters");
inline constexpr QLatin1StringView cnsB3ExcludePathList("ExcludePathList");
inline constexpr QLatin1StringView cnsSchedule("Schedule");
inline constexpr QLatin1StringView cnsB3LastProcessFailed("LastProcessFailed");
inline constexpr QLatin1StringView cnsUseAdminPrivileges("UseAdminPrivileges");
inline constexpr QLatin1StringView cnsB3Type("Backup3Type");
inline constexpr QLatin1StringView cnsBackupCuttingNumber("BackupCuttingNumber");
inline constexpr QLatin1StringView cnsBackupCuttingCountItem("BackupCuttingCountItem");
inline constexpr QLatin1StringView cnsBackupCuttingType("BackupCuttingType");
inline constexpr QLatin1StringView cnsBackupDiskImage("BackupDiskImage");
inline constexpr QLatin1StringView cnsUseDiskImage("UseDiskImage");
inline constexpr QLatin1StringView cnsDiskImagePasswordInKeychain("DiskImagePasswordInKeychain");
inline constexpr QLatin1StringView cnsDiskImageMaxSizeType("DiskImageMaxSizeType");
inline constexpr QLatin1StringView cnsDiskImageMaxSizeCustomValue("DiskImageMaxSizeCustomValue");
// Written by the project base.
inline constexpr QLatin1StringView cnsSheduleProcessInSpecTimeOnly("SheduleProcessInSpecTimeOnly");
inline constexpr QLatin1StringView cnsB3FullAutomount("FullAutomount");

// "Filters"
inline constexpr QLatin1StringView cnsExcludeInvisible("ExcludeInvisible");
inline constexpr QLatin1StringView cnsExcludeFinderData("ExcludeFinderData");
inline constexpr QLatin1StringView cnsExcludeApplications("ExcludeApplications");
inline constexpr QLatin1StringView cnsExcludeAliases("ExcludeAliases");
inline constexpr QLatin1StringView cnsExcludeByPattern("ExcludeByPattern");
inline constexpr QLatin1StringView cnsIncludeByPattern("IncludeByPattern");
inline constexpr QLatin1StringView cnsExcludeExtAttrs("ExcludeExtAttrs");
inline constexpr QLatin1StringView cnsExcludePattern("ExcludePattern");
inline constexpr QLatin1StringView cnsIncludePattern("IncludePattern");

// "Schedule"
inline constexpr QLatin1StringView cnsUseScheduled("UseScheduled");
inline constexpr QLatin1StringView cnsScheduleIntervalType("ScheduleIntervalType");
inline constexpr QLatin1StringView cnsTimeHH("TimeHH");
inline constexpr QLatin1StringView cnsTimeMM("TimeMM");
inline constexpr QLatin1StringView cnsWeekDay("WeekDay");
inline constexpr QLatin1StringView cnsMonthDay("MonthDay");
inline constexpr QLatin1StringView cnsTimeInterval("TimeInterval");
inline constexpr QLatin1StringView cnsProcessOnMount("ProcessOnMount");

// "Projects.plist"
inline constexpr QLatin1StringView cnsPreferences("Preferences");
inline constexpr QLatin1StringView cnsSelectedBackup3Index("SelectedBackup3Index");
inline constexpr QLatin1StringView cnsSelectedClonIndex("SelectedClonIndex");
inline constexpr QLatin1StringView cnsBackup3PropertyScheme("Backup3PropertyScheme");
inline constexpr QLatin1StringView cnsBackups3("Backups3");
inline constexpr QLatin1StringView cnsArchiveOrderList("ArchiveOrderList");
inline constexpr QLatin1StringView cnsProjectsFileName("Projects.plist");

} // namespace B3DictKeys
