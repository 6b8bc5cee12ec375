#pragma once

#include "archive/CBArchivePath.h"
#include "archive/CBackupItemsContainer.h"
#include "archive/CBackupTaskDesc.h"
#include "projects/ScheduleDates.h"
#include "utilities/IPasswordMD5.h"

#include <QColor>
#include <QDateTime>
#include <QString>
#include <QVariantMap>
#include <functional>
#include <memory>
#include <vector>

class ILocation;
class IBackup;

enum BackupMethod : quint32
{
    BackupMethodFull = 0,
    BackupMethodIncremental = 1,
    BackupMethodVersions = 2,
};

enum CBCryptMethod : quint32
{
    CBCryptNone = 0,
    CBCryptBlowfish = 1,
    CBCrypt3DES = 2,
    CBCryptAES128 = 3,
    CBCryptAES256 = 4,
};

// Filter option bits.
enum CBFilter : quint32
{
    CBFilterInvisible = 0x1,
    CBFilterFinderData = 0x2,
    CBFilterApplications = 0x4,
    CBFilterAliases = 0x8,
    CBFilterByPattern = 0x10,
};

// The record of one archive backup project: settings, destination, schedule, filters, archive
// list, temporary files, and the root of its selection tree. Stored as a tree file (.bif) and a
// record file (.bih) in the workspace's Backups folder.
class CBackup : public CBackupItemsContainer
{
public:
    explicit CBackup(const QString& name);
    ~CBackup() override;

    // ---- selection tree (the project is its root) ----
    int collectExcludedItemsToStream(FILE* file, bool incremental, bool recurse) override;
    void refreshFromDisk(CBackup* project, bool addSubItems, bool skipExcluded, bool resetLocated) override;
    void clearLastBackupDate() override;
    void saveToDict(QVariantMap& dict) const override;
    void loadFromDict(const QVariantMap& dict) override;
    void serialize(CUDArch& arch, bool flag) override;
    CBackup* owningProject() override { return this; }

    // ---- the face the interface and the run engine use ----
    IBackup* getIBackup() const { return m_iBackup.get(); }
    void setInProcess(bool inProcess, int operation);
    bool isInProcess() const;
    int currentOperation() const;

    // A tree walk is running (a refresh or a list being written), or the project reloads its
    // tree (in process with operation 3): edits from outside the walk must wait.
    bool isTreeBusy() const;
    // The one entry for tree edits that come from outside a walk (panes, the list's close,
    // remove and revert): refused while the tree is busy, with an alert to the user.
    bool editTree(const std::function<void()>& edit);
    static QString treeBusyText(); // "The project is busy. Try again when it has finished."

    // ---- record ----
    QString name() const { return m_name; }
    void setName(const QString& name);
    void setDisplayName(const QString& name);
    QString fileName() const { return m_fileName; }
    void setFileName(const QString& name);
    quint32 fileVersion() const { return m_fileVersion; }
    int loadState() const { return m_loadState; }
    QString getUUID() const { return m_UUID; }
    void setUUID(const QString& uuid) { m_UUID = uuid; }
    void createUUID();
    static QString generateUUID();

    ILocation* location() const { return m_location.get(); }
    void setLocation(const ILocation& location, bool copyPath);
    QString destDeviceName() const { return m_destDeviceName; }
    void setLocationDevice(const QString&) { } // the stored device name is never set from outside
    QString destPath() const { return m_destPath; }
    void setDestPath(const QString& path) { m_destPath = path; }
    qint32 destDeviceType() const { return m_destDeviceType; }
    QString getDestPath() const;
    QString getAbsolutePathName(bool create, bool asAdmin) const;
    int getLocationDeviceType() const;
    bool isLocationDeviceCDRWType() const;
    bool isLocationDeviceCDRW_TOAST_Type() const;
    bool prepareDestLocation(bool scheduled);

    quint32 backupMethod() const { return m_backupMethod; }
    void setBackupMethod(quint32 method);
    bool useCompression() const { return m_useCompression; }
    void setUseCompression(bool on) { markIf(m_useCompression != on), m_useCompression = on; }
    quint64 backupSizeLimit() const { return m_backupSizeLimit; }
    void setBackupSizeLimit(quint64 limit) { markIf(m_backupSizeLimit != limit), m_backupSizeLimit = limit; }
    quint32 cryptMethod() const { return m_cryptMethod; }
    void setCryptMethod(quint32 method) { markIf(m_cryptMethod != method), m_cryptMethod = method; }
    quint32 filterFlags() const { return m_filterFlags; }
    void setFilterFlags(quint32 flags) { markIf(m_filterFlags != flags), m_filterFlags = flags; }
    QString excludePattern() const { return m_excludePattern; }
    void setExcludePattern(const QString& pattern);

    bool useSchedule() const { return m_useSchedule; }
    void setUseSchedule(bool on) { markIf(m_useSchedule != on), m_useSchedule = on; }
    quint32 scheduleIntervalType() const { return m_schedIntervalType; }
    void setScheduleIntervalType(quint32 type)
    {
        markIf(m_schedIntervalType != type), m_schedIntervalType = type;
    }
    quint16 scheduleHour() const { return m_schedHH; }
    void setScheduleHour(quint16 h) { markIf(m_schedHH != h), m_schedHH = h; }
    quint16 scheduleMinute() const { return m_schedMM; }
    void setScheduleMinute(quint16 m) { markIf(m_schedMM != m), m_schedMM = m; }
    quint16 scheduleWeekDays() const { return m_schedWeekDays; }
    void setScheduleWeekDays(quint16 d) { markIf(m_schedWeekDays != d), m_schedWeekDays = d; }
    quint16 scheduleMonthDay() const { return m_schedMonthDay; }
    void setScheduleMonthDay(quint16 d) { markIf(m_schedMonthDay != d), m_schedMonthDay = d; }
    quint16 scheduleIntervalMinutes() const { return m_schedMinutes; }
    void setScheduleIntervalMinutes(quint16 m) { markIf(m_schedMinutes != m), m_schedMinutes = m; }
    bool startOnMount() const { return m_startOnMount; }
    void setStartOnMount(bool on) { markIf(m_startOnMount != on), m_startOnMount = on; }
    bool lastRunFailed() const { return m_lastRunFailed; }
    void setLastRunFailed(bool on) { m_lastRunFailed = on; }
    bool useAdminPrivileges() const { return m_useAdmin; }
    void setUseAdminPrivileges(bool on) { markIf(m_useAdmin != on), m_useAdmin = on; }
    bool mountAutomatically() const { return m_mountAuto; }
    void setMountAutomatically(bool on) { m_mountAuto = on; }
    bool startLate() const { return m_startLate; }
    void setStartLate(bool on) { markIf(m_startLate != on), m_startLate = on; }
    QDateTime nextProcessDate() const { return m_nextDate; }
    void setNextProcessDate(const QDateTime& date) { m_nextDate = date; }
    QDateTime lastBuiltDate() const { return m_lastBuiltDate; }
    void setLastBuiltDate(const QDateTime& date);
    QColor color() const { return m_color; }
    void setColor(const QColor& color);
    IPasswordMD5 passwordDigest() const { return m_digest; }
    void setPasswordDigest(const IPasswordMD5& digest);
    bool passwordInKeychain() const { return m_passwordInKeychain; }
    void setPasswordInKeychain(bool on) { markIf(m_passwordInKeychain != on), m_passwordInKeychain = on; }
    bool isProcessingBySchedule() const { return m_bySchedule; }
    void setProcessingBySchedule(bool on) { m_bySchedule = on; }
    bool isSelected() const { return m_selected; }
    void setSelection(bool on) { m_selected = on; }
    QString folderForRestore() const { return m_folderForRestore; }
    void setFolderForRestore(const QString& folder) { m_folderForRestore = folder; }
    QString projectFilePath() const { return m_projectFilePath; }
    void setProjectFilePath(const QString& path) { m_projectFilePath = path; }

    bool isTreeChanged() const { return m_treeChanged; }
    void setTreeChanged(bool on) { m_treeChanged = on; }
    bool isPropertiesChanged() const { return m_propertiesChanged; }
    void setPropertiesChanged(bool on) { m_propertiesChanged = on; }
    bool isOldLayout() const { return m_oldLayout; }

    // The stored bytes of the colour and of the next date as read, kept while unchanged.
    QByteArray storedColorBlob() const { return m_colorBlob; }
    // The archived value of row 35 (colour) or 36 (next date) as the next save writes it.
    QByteArray recordBlob(int row) const;

    // Items and tree.
    CBackupItem* addItemFromDisk(const QString& path, quint32 flags = 0);
    CBackup* duplicateProject();

    // Temporary files.
    void addTmpFile(const QString& path);
    void deleteTmpFiles();
    QStringList tmpFiles() const;
    QString filesFrom() const { return m_filesFrom; }
    void setFilesFrom(const QString& path);
    QString excludeFrom() const { return m_excludeFrom; }
    void setExcludeFrom(const QString& path);
    QString rsrcForkFolder() const { return m_rsrcForkFolder; }
    void setRsrcForkFolder(const QString& path);

    bool isNeedToProcessOnMount(const QString& mountedPath);
    // Ends a tool job of the project: with an archive path, the post-processing of the job's
    // operation (endStatus its work-end bits; discard: the job failed, its files go); then the
    // archive queue goes on when nothing of this project is left to run. Without an archive
    // path (nothing ran) only the temporary files go, when asked.
    void stopTar(bool deleteTmp, bool stopEngine, const QString& archivePath, int operation, quint8 endStatus,
        bool discard);
    static int m_nTarRunning;

    // ---- runs ----
    // A build: the file list, the password, the tool pipeline; the entries listed, 0 when
    // nothing started. With containerBurns (queue operation 4) a disc archive is left for the
    // container's burn step, so it is burned once; otherwise the build burns it itself.
    int build(bool containerBurns = false);
    // The work folder a disc build made for its archives ("kelvane-burn-<uid>.XXXXXX" in the
    // temporary folder): empty when none. A failed burn keeps it; a successful one removes it.
    QString burnWorkFolder() const { return m_burnWorkFolder; }
    void setBurnWorkFolder(const QString& folder) { m_burnWorkFolder = folder; }
    // Makes a new work folder (mode 0700) in folder; empty when that failed.
    static QString makeBurnWorkFolder(const QString& folder);
    // A restore of the selected archive (a chain of archives for an incremental one) into
    // folder, or to the saved places when it is empty; the jobs started or queued. No members:
    // everything the archive holds.
    int restoreBegining(const QString& folder, const RestoreMembers& members, bool single);
    int restore(int index, const QString& folder, const RestoreMembers& members, quint8 attr, int jobIndex,
        bool start);
    // Before a restore job starts: its archive is where the list says, or the user names the
    // folder that holds it. 0 found (the task then names it), 1 skipped, 2 cancelled.
    int locateRestoreArchive(CBackupTaskDesc& task);
    // The folder that holds an archive by the place its list entry recorded: the path on the
    // disc in a drive for disc archives, the share mounted again (once per application run) for
    // network ones, the volume found by its URL otherwise; empty when none is there.
    QString archiveFolderFromPlace(const CBArchivePath& place);
    // The path below the mount point of a disc in a drive ("/" + the path without one).
    static QString mountedDiscFolder(const QString& pathFromMountPoint);
    // The file that must exist for the job: the archive, or the first volume of a split one.
    static QString restoreArchiveFile(const CBackupTaskDesc& task);
    int addArchNameWithCompletedBackup(const QString& path);
    void workMessage(int code, const QString& text);
    // The tree walk found something to warn about (a source that is gone): the next job of the
    // run starts with the warning bit, and the summary counts it.
    void raiseWarning()
    {
        m_warnBits |= 0x1;
        ++m_warnCount;
    }
    quint8 warningBits() const { return m_warnBits; }
    quint64 warningCount() const { return m_warnCount; }
    // Automount of a network destination (mode 1: only when the project mounts automatically);
    // true only when it mounted the volume.
    bool _doMount(int mode);
    // Unmounts the destination when the run's mount asked for it (location flag 2).
    void doAutoUnmount();
    // The volume size handed to split for a size limit and a project-file reserve, both in
    // units of 1000 bytes.
    static quint64 splitVolumeSize(quint64 limit, quint64 reserve);
    // The end-status bits of the last finished job (0x2 also when nothing was produced).
    quint8 lastEndStatus() const { return m_lastEndStatus; }
    QString lastBuiltArchive() const { return m_lastBuiltArchive; }
    QString lastRestoreArchive() const { return m_selectedRestoreArchive; }
    static QString tarToolPath();
    static int m_nSortOrder;

    // Comparisons by name, ignoring case.
    bool operator==(const CBackup& other) const;
    bool operator!=(const CBackup& other) const;
    bool operator<(const CBackup& other) const;
    bool operator>(const CBackup& other) const;
    static bool lessFunc(const CBackup* a, const CBackup* b);

    // ---- archive names and the archive list ----
    QString getNewArchiveName() const;
    void addArchName(const QString& name);
    int addArchPath(const CBArchivePath& entry);
    void addArchNameWithPattern(const QString& name);
    // Rebuilds the list from the project folder: every parsable name, in date order, split
    // volumes as one entry; nothing is deleted. Answers how many entries were added.
    int fillArchivesArrayFromTargetFolder();
    void deleteOldFullArchives();
    void removeArchName(const QString& name);
    void removeArchNameByIndex(int index);
    void removeLastBackupArchive();
    void removeAllArchNames();
    int findArchiveName(const QString& name) const;
    int getArchIndexByDate(const QDateTime& date) const;
    int getNextArchiveIndex() const { return int(m_archives.size()); }
    const std::vector<CBArchivePath>& archives() const { return m_archives; }
    QString selectedArchive() const { return m_selectedArchive; }
    void setSelectedArchive(const QString& name);
    int selectedArchiveIndex() const { return m_selectedIndex; }
    void setSelectedArchiveIndex(int index);
    int chainStartIndex() const { return m_chainStart; }
    bool findIndexOfFirstSomeTypeArch();
    bool checkIfArchiveNameConformToMultiVol(const QString& path, int limit) const;
    bool isTimeToBackup(const QDateTime& now);
    // The project folder at the destination.
    QString archiveFolder() const;

    // ---- project files ----
    QString makeBifFileName() const;
    static QString QVProjectHeaderFileName(const QString& path);
    static QString QVProjectTreeFileName(const QString& path);
    bool saveTo(const QString& path, bool quiet);
    bool save();
    bool saveProperties();
    void delSameAltFormatBif();
    bool load(const QString& path, bool relocate);
    // Reads the project file again: 0 when there is none (nothing changes), 1 when it loaded,
    // -1 when it did not; a file that does not load leaves record, tree and flags as they were.
    int reload();
    bool loadTopContentLevel(const QString& path, bool relocate);
    bool isBIFSourceNewerThanCurrent() const { return m_fileVersion > 22; }
    bool close();
    bool saveToXMLFile(const QString& path);
    // Why the last load or save failed (for tools and logs); empty after a success.
    QString lastFileError() const { return m_lastFileError; }

    // Progress of long loads.
    void countLoadProgress();

    // Raised by the tree for every change it finds on disk.
    void markChanged() { m_treeChanged = true; }

private:
    friend class CBackupItemsContainer;
    friend class CBackupItem;
    friend class TreeWalk;

    void markIf(bool differs)
    {
        if (differs)
            m_propertiesChanged = true;
    }
    bool loadFiles(const QString& path, bool relocate, bool topOnly);
    // The destination of a build: mounted, waited for or chosen as the run allows.
    enum class DestState
    {
        GoOn,
        Failed, // a work message was sent
        Cancelled,
        NotAuthorized,
    };
    DestState prepareBuildDestination();
    void startPause();
    void sendRunText(const QString& text, quint64 options);
    void postBuildProcessing(const QString& archivePath, quint8 endStatus, bool discard);
    void discardBurnWorkFolder();
    CBArchivePath discArchivePath(const QString& path) const;
    bool postRestoreProcessing(const CBackupTaskDesc& task);
    void serializeRecord(CUDArch& arch);
    bool keepNewerPairAside(const QString& bif);
    void addArchNameLoading(const QString& name);
    void dropHistoryPastList();

    QString m_name;
    QString m_fileName;
    quint32 m_fileVersion = 22;
    int m_loadState = 0;
    QString m_destDeviceName;
    qint32 m_destDeviceType = -1;
    QString m_destPath;
    std::unique_ptr<ILocation> m_location;
    quint32 m_backupMethod = BackupMethodVersions;
    bool m_useCompression = true;
    quint64 m_backupSizeLimit = 0;
    quint32 m_cryptMethod = CBCryptNone;
    quint32 m_filterFlags = 0;
    QString m_excludePattern;
    bool m_useSchedule = false;
    quint32 m_schedIntervalType = CBSchedIntervalWeekDays;
    quint16 m_schedHH = 18;
    quint16 m_schedMM = 30;
    quint16 m_schedWeekDays = 31;
    quint16 m_schedMonthDay = 1;
    quint16 m_schedMinutes = 0;
    bool m_startOnMount = false;
    bool m_lastRunFailed = false;
    bool m_useAdmin = true;
    bool m_mountAuto = false;
    bool m_startLate = true;
    QDateTime m_nextDate;
    QDateTime m_lastBuiltDate;
    std::vector<CBArchivePath> m_archives;
    QString m_selectedArchive;
    int m_selectedIndex = -1;
    int m_chainStart = 0;
    bool m_selected = false;
    bool m_treeChanged = true;
    bool m_propertiesChanged = true;
    bool m_oldLayout = false;
    QString m_projectFilePath;
    struct TmpFile
    {
        QString path;
        bool createdHere = false;
    };
    std::vector<TmpFile> m_tmpFiles;
    QString m_filesFrom;
    QString m_excludeFrom;
    QString m_rsrcForkFolder;
    QString m_folderForRestore;
    bool m_bySchedule = false;
    IPasswordMD5 m_digest;
    bool m_passwordInKeychain = false;
    QString m_UUID;
    QColor m_color;
    QByteArray m_colorBlob; // the colour's stored bytes, written back while the colour is unchanged
    QByteArray m_nextDateBlob; // stored bytes of a next date whose form is not ours
    qint64 m_progressCounter = 0;
    qint64 m_lastProgressMs = 0;
    int m_walkDepth = 0;
    QString m_lastFileError;
    std::unique_ptr<IBackup> m_iBackup;
    bool m_loading = false;
    bool m_treeUnreadable = false; // the last load failed: saving would replace the files with nothing
    QDateTime m_listWrittenAt;
    quint8 m_lastEndStatus = 0;
    QString m_lastBuiltArchive;
    QString m_selectedRestoreArchive;
    int m_restoreRun = 0;
    QString m_burnWorkFolder;
    bool m_containerBurns = false;
    // Warnings of the tree walk (a source that is gone) for the run that writes the list.
    quint8 m_warnBits = 0;
    quint64 m_warnCount = 0;
    bool m_mountTried = false;
};

// Counts a tree walk for CBackup::isTreeBusy while it lives.
class TreeWalk
{
public:
    explicit TreeWalk(CBackup* project);
    ~TreeWalk();
    TreeWalk(const TreeWalk&) = delete;
    TreeWalk& operator=(const TreeWalk&) = delete;

private:
    CBackup* m_project;
};
