#pragma once

#include "projects/IProject.h"
#include "projects/ProjectStatusText.h"
#include "snapshot/B3ExcludeFile.h"
#include "snapshot/B3RestoreItem.h"

#include <QColor>
#include <QDateTime>
#include <QList>
#include <QMutex>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <atomic>
#include <memory>

class IBackup3Container;
class IDiskImage;
class ILocation;

// The working state of a project's disk image: a code and one number that goes with it.
struct BDIWorkingState
{
    int code = 0;
    double data = 0;
    bool operator==(const BDIWorkingState& o) const { return code == o.code && data == o.data; }
};

// A snapshot-backup project: one entry of the snapshot-backup list. It holds what describes the
// project (name, identifier, sources, destination folder or disk image, filters, excluded paths,
// schedule, thinning and image settings) and what the interface shows about it while it waits,
// is queued or runs (operation state, progress, start/stop button state, status line). It decides
// whether it is due by schedule or by a volume mount, routes the texts of its runs to the pane and
// to the hub's log sink, stores itself as a dictionary and can duplicate itself.
//
// Projects are owned by IBackup3Container through std::shared_ptr. Everything runs on the main
// thread except processMessage, which the run's reader threads also call: the status text and
// the progress are guarded for that.
class IBackup3 : public IProject
{
    Q_OBJECT
public:
    // Operation states.
    enum : int
    {
        OpIdle = 0,
        OpStarting = 1,
        OpRestore = 2,
        OpQueued = 6,
        OpRunning = 12,
    };
    // State-change codes.
    enum : int
    {
        ChangeOperation = 1,
        ChangeButton = 2,
        ChangeCurrent = 3,
        ChangeStatus = 4,
        ChangeDestination = 5,
    };
    // Option and filter bits.
    static constexpr quint64 OptionDelete = 4;
    static constexpr quint64 OptionConsiderModDate = 8;
    static constexpr quint64 FilterInvisible = 1;
    static constexpr quint64 FilterFinderData = 2;
    static constexpr quint64 FilterApplications = 4;
    static constexpr quint64 FilterAliases = 8;
    static constexpr quint64 FilterExcludeByPattern = 16;
    static constexpr quint64 FilterIncludeByPattern = 64;
    // The status text holds at most this many bytes of UTF-8.
    static constexpr int StatusTextMaxBytes = ProjectStatusText::MaxBytes;

    IBackup3();
    ~IBackup3() override;

    // The localized default name of a new project.
    static QString defaultName();

    // The administrator flag, start-if-late, full automount, the extended-attributes type and the
    // temporary exclusion files are the project base's (IProject).

    // ---- Names and identity -------------------------------------------------------------------
    QString name() const override { return m_name; }
    void setName(const QString& name) override;
    QByteArray utf8Name() const override { return m_name.toUtf8(); }
    QByteArray utf8StringCode() const override { return m_processingCodeString.toUtf8(); }
    QString fileName() const { return m_fileName; }
    void setFileName(const QString& fileName);
    QString UUID() const { return m_UUID; }
    void setUUID(const QString& uuid) { m_UUID = uuid; }
    // The project folder name: the field, or the name while the field is null.
    QString projectBackupFolder() const
    {
        return m_projectBackupFolder.isNull() ? m_name : m_projectBackupFolder;
    }
    QString projectBackupFolderField() const { return m_projectBackupFolder; }
    void setProjectBackupFolder(const QString& folder);
    QColor color() const override { return m_color; }
    void setColor(const QColor& color) override;
    int backup3Type() const { return m_backup3Type; }
    void setBackup3Type(int type);
    bool isModified() const { return m_bModified; }
    void setModified(bool flag) { m_bModified = flag; }
    bool isBootable() const { return m_bootable; }

    // ---- Places -------------------------------------------------------------------------------
    std::shared_ptr<ILocation> destLocation() const { return m_destLocation; }
    void setDestLocation(std::shared_ptr<ILocation> location);
    const QList<std::shared_ptr<ILocation>>& srcLocations() const { return m_srcLocations; }
    void setSrcLocations(const QList<std::shared_ptr<ILocation>>& locations);
    qsizetype srcLocationCount() const { return m_srcLocations.size(); }
    // Appends a source under the next tag; false for null or a place already in the list (the
    // tag counter then stays).
    bool addSrcLocation(std::shared_ptr<ILocation> location);
    bool deleteSrcLocationByIndex(long index);
    // True once the project has a source, a destination or a finished run.
    bool isConfigured() const;
    // The destination is bound to a mounted volume now.
    bool isDestinationActive() const;
    // The removable USB places (destination first, then sources), after refreshing the
    // destination; empty when there is none.
    QList<std::shared_ptr<ILocation>> removableLocationList();
    // How many removable USB places there are among dest (the project's destination when null)
    // and the sources.
    long removableLocationCountWithExtDest(ILocation* dest);
    // Volume UUIDs of the removable USB places.
    QStringList removableVolumeUUIDs();
    // True when a source lies on a network share; *notActive is set when such a share is not
    // mounted now.
    bool isAnySourcesNetworkMounted(bool* notActive) const;
    // Mount due test for the volume just mounted at mountedPath.
    bool isNeedToProcessOnMount(const QString& mountedPath);
    // Collects in indexes the passes whose sources can be read now, in order; a missing source is
    // reported and sets wesWarnings in *preProcessStatus. False, with "Files to back up are not
    // found", when no source is usable.
    bool testSrcLocations(QList<long>& indexes, quint32* preProcessStatus);
    // The source of a pass, null for an index outside the list (the list keeps ownership).
    ILocation* sourceLocationForPass(long pass) const override;
    // The destination, for every pass.
    ILocation* destLocationForPass(long pass) const override;
    // The full path of the pass's source; null for an index outside the list.
    QString srcFolderPathForPass(long pass) const;
    // The destination's full path; null without a destination.
    QString destinationFullPath() const;
    long tagForLocations() const { return m_tagForLocations; }
    void setTagForLocations(long tag) { m_tagForLocations = tag; }

    // The stored form of a place. Reading binds the place to its mounted volume; an unbound place
    // that names nothing is dropped (null).
    static std::shared_ptr<ILocation> locationFromDict(const QVariantMap& dict);
    static QVariantMap dictFromLocation(const ILocation& location);
    // The sources' stored forms, in order.
    QVariantList arrayFromSrcLocations() const;
    // Sources from their stored forms; a dropped place is skipped, a place without a tag gets its
    // position + 1.
    static QList<std::shared_ptr<ILocation>> loadSrcLocationsFromArray(const QVariantList& array);

    // ---- Options and filters ------------------------------------------------------------------
    quint64 options() const { return m_options; }
    void setOptions(quint64 options);
    quint64 excludeFilters() const { return m_exclude; }
    bool isOptionDelete() const override { return m_options & OptionDelete; }
    void setOptionDelete(bool flag) { setBit(m_options, OptionDelete, flag); }
    bool isOptionConsiderModDate() const override { return m_options & OptionConsiderModDate; }
    void setOptionConsiderModDate(bool flag) { setBit(m_options, OptionConsiderModDate, flag); }
    bool isExcludeInvisible() const { return m_exclude & FilterInvisible; }
    void setExcludeInvisible(bool flag) { setBit(m_exclude, FilterInvisible, flag); }
    bool isExcludeFinderData() const { return m_exclude & FilterFinderData; }
    void setExcludeFinderData(bool flag) { setBit(m_exclude, FilterFinderData, flag); }
    bool isExcludeApplications() const { return m_exclude & FilterApplications; }
    void setExcludeApplications(bool flag) { setBit(m_exclude, FilterApplications, flag); }
    bool isExcludeAliases() const override { return m_exclude & FilterAliases; }
    void setExcludeAliases(bool flag) { setBit(m_exclude, FilterAliases, flag); }
    bool isExcludeByPattern() const { return m_exclude & FilterExcludeByPattern; }
    void setExcludeByPattern(bool flag) { setBit(m_exclude, FilterExcludeByPattern, flag); }
    bool isIncludeByPattern() const { return m_exclude & FilterIncludeByPattern; }
    void setIncludeByPattern(bool flag) { setBit(m_exclude, FilterIncludeByPattern, flag); }
    QString getExcludePattern() const { return m_nsExcludePattern; }
    void setExcludePattern(const QString& pattern);
    QString getIncludePattern() const { return m_nsIncludePattern; }
    void setIncludePattern(const QString& pattern);

    // ---- Schedule -----------------------------------------------------------------------------
    bool isScheduled() const override { return m_bScheduled; }
    void setScheduled(bool flag) override;
    int getScheduleIntervalType() const { return m_ScheduleIntervalType; }
    void setScheduleIntervalType(int type);
    int getScheduleTimeHH() const { return m_nScheduleTimeHH; }
    void setScheduleTimeHH(qint16 hh);
    int getScheduleTimeMM() const { return m_nScheduleTimeMM; }
    void setScheduleTimeMM(qint16 mm);
    void setScheduleTimeHHMM(qint16 hh, qint16 mm);
    int getScheduleTimeInterval() const { return m_nScheduleTimeInterval; }
    void setScheduleTimeInterval(qint16 minutes);
    int getScheduleWeekDay() const { return m_nScheduleWeekDay; }
    void setScheduleWeekDay(qint16 mask);
    int getScheduleMonthDay() const { return m_nScheduleMonthDay; }
    void setScheduleMonthDay(qint16 day);
    bool isProcessOnMount() const override { return m_processOnMount; }
    void setProcessOnMount(bool flag) override { m_processOnMount = flag; }
    QDateTime getNextProcessDate() const { return m_nextProcessDate; }
    void setNextProcessDate(const QDateTime& date) override;
    // nextProcessDate of the schedule dates, from the given moment.
    QDateTime computeNextProcessDate(const QDateTime& now) const;
    QDateTime lastProcessDate() const override { return m_lastProcessDate; }
    void setLastProcessDate(const QDateTime& date);
    QString lastProcessFolder() const { return m_lastProcessFolder; }
    void setLastProcessFolder(const QString& folder);
    void clearLastProcessData();
    bool isLastProcessFailed() const { return m_lastProcessFailed; }
    void setLastProcessFailed(bool flag) override { m_lastProcessFailed = flag; }
    bool isProcessingBySchedule() const override { return m_processingBySchedule; }
    void setProcessingBySchedule(bool flag) { m_processingBySchedule = flag; }
    bool isTargetChanged() const { return m_targetChanged; }
    void setTargetChanged(bool flag) { m_targetChanged = flag; }

    // ---- Thinning and disk image --------------------------------------------------------------
    long backupCuttingCount() const { return m_cuttingCount; }
    void setBackupCuttingCount(long count) { m_cuttingCount = count; }
    int backupCuttingCountItem() const { return m_cuttingCountItem; }
    void setBackupCuttingCountItem(int item) { m_cuttingCountItem = item; }
    int backupCuttingType() const { return m_cuttingType; }
    void setBackupCuttingType(int type) { m_cuttingType = type; }
    int backupTargetType() const { return m_backupTargetType; }
    void setBackupTargetType(int type);
    bool useBDI() const override { return m_backupTargetType != 0; }
    bool useEncryptedBDI() const { return m_backupTargetType == 2; }
    bool isBDIPasswordInKeychain() const { return m_BDIPasswordInKeychain; }
    void setBDIPasswordInKeychain(bool flag);
    BDIWorkingState BDIlastWorkingState() const { return m_BDILastWorkingState; }
    void setBDILastWorkingState(int code, double data);
    int DIMaxSizeType() const { return m_DIMaxSizeType; }
    void setDIMaxSizeType(int type) { m_DIMaxSizeType = type; }
    double DIMaxSizeCustomValue() const { return m_DIMaxSizeCustomValue; }
    void setDIMaxSizeCustomValue(double gb) { m_DIMaxSizeCustomValue = gb; }
    // The stored image dictionary, kept as loaded until the disk-image code owns it.
    QVariantMap BDIDict() const { return m_BDIDict; }
    void setBDIDict(const QVariantMap& dict) { m_BDIDict = dict; }

    // ---- View state ---------------------------------------------------------------------------
    QString lastSelectedPath() const { return m_lastSelectedPath; }
    void setLastSelectedPath(const QString& path) { m_lastSelectedPath = path; }
    long lastSelectedBackup3Index() const { return m_lastSelectedBackup3Index; }
    void setLastSelectedBackup3Index(long index) { m_lastSelectedBackup3Index = index; }
    QRectF lastSelectedRectangle() const { return m_lastSelectedRectangle; }
    void setLastSelectedRectangle(const QRectF& r) { m_lastSelectedRectangle = r; }

    // ---- Exclusions ---------------------------------------------------------------------------
    // Null until the first addition.
    const std::optional<QStringList>& excludePathList() const { return m_excludePathList; }
    void setExcludePathList(const std::optional<QStringList>& list) { m_excludePathList = list; }
    qsizetype excludePathCount() const { return m_excludePathList ? m_excludePathList->size() : 0; }
    QString excludePathAtIndex(qsizetype i) const;
    void addPathToExcludePathList(const QString& path);
    bool isPathInExcludePathList(const QString& path) const;
    bool isPathChildInExcludePathList(const QString& path) const;
    void removePathFromExcludePathList(const QString& path);
    void removePathesFromExcludePathListWithPrefix(const QString& prefix);
    // At the end of a run: an absent list becomes an empty one; nothing is pruned, because a path
    // may lie on a volume that is not mounted now.
    void cleanEaxcludePathList();
    void validateExcludePathList() { }
    void printExcludePathList() { }

    // The exclusion rules of a pass: those for the file and those that must go on the command
    // line (names holding a line end). The project folder is added when it lies inside the source.
    B3ExcludeFile::Rules customExcludeRulesForPass(long pass) const;
    // Writes the exclusion file of the pass into the private temporary folder and records it as
    // the custom exclusion file; false when there is nothing to write (no file stays recorded).
    bool saveCustomExcludesIntoTmpFileForPass(long pass);
    // "--exclude=" arguments of the pass for rules that cannot be file lines.
    QStringList customExcludeArgumentsForPass(long pass) const;

    // ---- Restore request ----------------------------------------------------------------------
    const QList<B3RestoreItem>& restoreData() const { return m_restoreData; }
    void setRestoreData(const QList<B3RestoreItem>& data) { m_restoreData = data; }
    QString restorePath() const { return m_restorePath; }
    void setRestorePath(const QString& path) { m_restorePath = path; }
    bool isExternalRestoreFlag() const { return m_externalRestore; }
    void setExternalRestoreFlag() { m_externalRestore = true; }
    bool isNotUniqueRestoreFirstFolder(const QString& name) const;
    QString restoreSrcFolderPathForPass(long pass) const;

    // ---- Run folders --------------------------------------------------------------------------
    // The project folder: the attached image's content, else the destination's full path joined
    // with the project folder name; null when neither is known.
    QString projectFolderPath() const;
    // The work folder inside the project folder; null while the project folder field is null.
    QString destFolderPath() const;
    // The pass's wrapper folder inside the given work folder; null for a bad index or null path.
    QString destFolderPathForPass(long pass, const QString& workFolderPath) const;
    // The pass's wrapper folder in the last version (rsync's hard-link reference); null for a bad
    // index or when there is no last version folder.
    QString linkFolderPathForPass(long pass) const;
    // The wrapper folder name of a source.
    static QString topLevelItemWrapperLocation(const ILocation& location);
    // The folder the restore item of the pass goes into, created when needed; null when the item
    // cannot give one or it cannot be created.
    QString restoreDestFolderPathForPass(long pass) const;

    // ---- What a run asks of the project ---------------------------------------------------------
    // The pass's source folder; null while a restore is requested.
    QString sourcePathForPass(long pass) const override;
    // The work folder, for every pass; null while a restore is requested.
    QString destPathForPass(long pass) const override;
    // The last version folder in the project folder; null without one.
    QString linkFolderPath() const;
    // The path of this project's version list "qv3info.plist"; null when the destination is not
    // readable, the project folder is missing or the list belongs to another project.
    QString QV3InfoPath() const;
    // Both sides of the pass keep owners, extended attributes and hard links (btrfs, ext2/3/4,
    // xfs); an image destination always counts.
    bool isMacSrcDestForPass(long pass) const override;
    // The destination is btrfs, ext2/3/4 or xfs.
    bool isMacDest() const;
    // The pass's source is one volume of a System/Data group on a system of 10.15 or later.
    bool isSourceDoubleVolumeSystemForPass(long pass) const override;
    // The snapshot-backup system exclude list.
    int systemExcludeListType() const override { return 4; }
    // The start-of-run lines of the run log: who started it, each source, the destination.
    void printStartStatisticToLog() override;
    // A work message of the run log: the text of the code, its "%@" filled with the texts given.
    void workMessage(int code, const QString& info);
    void workMessage2(int code, const QString& info, const QString& info2);
    // Mounts the destination and the share sources that are not mounted; true when a source was
    // mounted (the settings sheet's "mount" button).
    bool doMount();
    // The same before a run, only with full automount on; what it mounts is marked for
    // unmounting after the run.
    bool doAutomount() override;
    // Unmounts exactly the places the run's automount marked.
    void doAutoUnmount() override;
    // Ownership has no switch on Linux: these set and clear the destination's flags only.
    bool doOwnersEnablePepare();
    bool doOwnersEnableEnding();

    // ---- Run state ----------------------------------------------------------------------------
    void setInState(int code) override;
    bool isInState(int code) const override { return m_currentOperation == code; }
    bool isInProcess() const override { return m_currentOperation != OpIdle; }
    int currentOperation() const override { return m_currentOperation; }
    void setInProcess(bool inProcess, int operation) override;
    bool needRestore() const { return !m_restoreData.isEmpty() || m_currentOperation == OpRestore; }
    int mainButtonState() const override;
    void setMainButtonState(int state) override;
    double indicatorPosition() const override { return m_indicatorPosition.load(); }
    double indicatorPositionForGlobal() const override;
    void setIndicatorPosition(double position) override;
    void setIndicatorPosition(double position, bool showNow) override;
    void setIndicatorPositionInZero();
    void setFullSize(double units);
    void setSelected(bool flag);
    bool isCurrent() const { return m_selected; }
    bool isSelected() const override;
    QString lastStatusString() const override;
    void setLastStatusString(const QString& text);
    void setUTF8StatusString(const char* text);
    int lastStateChange() const override { return m_lastStateChange; }
    void registerExternalChange(int code);
    QString processingCodeString() const override { return m_processingCodeString; }
    void setProcessingCodeString(const QString& code) { m_processingCodeString = code; }
    bool isReady() const { return srcLocationCount() > 0; }
    bool isReadyForInterface() const override { return isReady(); }

    // Log sink routing of run texts; callable from reader threads.
    void processMessage(const LogText& text, quint64 options, QObject* sender) override;
    void sendTextInfo(const QString& text, qint32 type, quint8 target, QObject* sender) override;

    // Scheduled due test; the four numbers are passed along but not used.
    bool isTimeToProcessDate(const QDateTime& now, int monthDay, int weekDay, int HH, int MM);

    // The list, or null once the application has begun to close.
    IBackup3Container* backup3Container() const;
    // A copy in the list under a free "<name>-copy[N]" name; null when that fails.
    std::shared_ptr<IBackup3> duplicateProject();

    // ---- Stored form --------------------------------------------------------------------------
    void saveToDict(QVariantMap& dict) const override;
    // True exactly when "Name" held a string. scheme is the list's property scheme: the
    // destination is read only above 0.
    bool loadFromDict(const QVariantMap& dict, int scheme);

    // "<sanitised name>_<UUID>", the name part cut so the whole stays one path component.
    static QString defaultFileName(const QString& name, const QString& uuid);

    // Resets the settings the defaults cover.
    void setToDefault();

private:
    template<typename T>
    void setMarked(T& field, const T& value)
    {
        if (field == value)
            return;
        field = value;
        m_bModified = true;
    }
    void setBit(quint64& word, quint64 bit, bool on)
    {
        const quint64 v = on ? (word | bit) : (word & ~bit);
        setMarked(word, v);
    }
    void tellContainer(int change);
    void collectIndicator();
    void storeStatus(const QByteArray& utf8);
    void saveLocationsToDict(QVariantMap& dict) const;
    void loadLocationsFromDict(const QVariantMap& dict, int scheme);
    void raiseTagCounterToSources();
    bool mountPlaces(bool automount);

    QString m_name;
    QString m_fileName;
    std::shared_ptr<ILocation> m_destLocation;
    QString m_projectBackupFolder;
    QList<std::shared_ptr<ILocation>> m_srcLocations;
    QDateTime m_lastProcessDate;
    QString m_lastProcessFolder;
    int m_backup3Type = -1;
    quint64 m_options = 0;
    quint64 m_exclude = 0;
    QString m_nsExcludePattern;
    QString m_nsIncludePattern;
    bool m_bScheduled = false;
    int m_ScheduleIntervalType = 2;
    qint16 m_nScheduleTimeHH = 18;
    qint16 m_nScheduleTimeMM = 30;
    qint16 m_nScheduleTimeInterval = 0;
    qint16 m_nScheduleWeekDay = 31;
    qint16 m_nScheduleMonthDay = 1;
    bool m_processOnMount = false;
    QColor m_color;
    QByteArray m_colorData; // the stored bytes while the colour is the loaded one
    bool m_bModified = true;
    QDateTime m_nextProcessDate;
    bool m_lastProcessFailed = false;
    bool m_bootable = true;
    double m_processedUnits = 0;
    double m_fullNumberOfUnits = 0;
    bool m_selected = false;
    std::atomic<double> m_indicatorPosition { 0 };
    mutable int m_buttonState = 0; // recomputed by mainButtonState()
    std::atomic<int> m_lastStateChange { 0 };
    int m_currentOperation = 0;
    bool m_inProcess = false;
    std::optional<QStringList> m_excludePathList;
    QString m_UUID;
    bool m_targetChanged = true;
    long m_tagForLocations = 0;
    bool m_processingBySchedule = false;
    QString m_processingCodeString;
    QList<B3RestoreItem> m_restoreData;
    QString m_restorePath;
    bool m_externalRestore = false;
    std::shared_ptr<ILocation> m_originalBDILocation;
    long m_cuttingCount = 0;
    int m_cuttingCountItem = 0;
    int m_cuttingType = 0;
    QString m_lastSelectedPath;
    long m_lastSelectedBackup3Index = 0;
    QRectF m_lastSelectedRectangle;
    QVariantMap m_BDIDict;
    int m_backupTargetType = 0;
    bool m_BDIPasswordInKeychain = false;
    BDIWorkingState m_BDILastWorkingState;
    int m_DIMaxSizeType = 0;
    double m_DIMaxSizeCustomValue = 1.0;
    ProjectStatusText m_textInfo;

    // ---- Disk image ----------------------------------------------------------------------------
    // Image destinations (target type 1, or 2 encrypted): the image lies in the destination folder
    // and, while attached, its content path takes the place of the project folder.
public:
    // The image object; null until the first run with an image destination.
    IDiskImage* BDI() const { return m_BDI.get(); }
    void setBDI(std::shared_ptr<IDiskImage> image);
    // Before the passes: attaches the image (read-only for a restore), making it on the first run;
    // false when the run must not go on (the working state and the log say why). forRestore: the
    // image is only read (the restore sheet lists its versions), attached read-only and never made.
    bool openBDI(bool forRestore = false);
    // After the run: detaches the image; true without an image or when it is not attached.
    bool closeBDI();
    // True for an image destination whose image is attached.
    bool isBDICurrentlyActivated() const;
    // The folder to use as the project folder while the image is attached ("<mount>/data"); null otherwise.
    QString getBDIContentPath() const;
    // The folder that holds the image file: the destination's full path.
    QString BDIFolderPath() const;
    // Detaches, resizes and attaches again; the mount point, or null (reported) on failure.
    QString resizeBDIWithPassword(const QString& password, double newSizeInGB);
    // Detaches, then the smallest size in GB the image can shrink to; 0 when unknown.
    double getBDIMinSizeLimitInGBWithPassword(const QString& password);
    // The sheet for a new encrypted image; true when confirmed with a password.
    bool getBackupDIMaxSizeByUser(long* size, QString* password, bool* passwordInKeychain);
    // The new-image sheet's line on the sources: their total size in GB.
    QString sourceSizeNote() const;
    // Deletes the image password's keychain item when there is one.
    void removeKeychain();
    // Copies the image (sparse) into the location's folder; true on a complete copy.
    bool copyBDIToLocation(ILocation* location);
    // Space check of a chosen folder for a move: null when it has room, else the alert text.
    QString validatorBDICopySelect(const QStringList& paths) const;
    // Lets the user choose a folder for the image and sets the location up from it.
    bool chooseBDICopyingDestPathByUser(ILocation* location);
    // The out-of-space question; true when the run should start again on the new destination.
    bool changeTargetForBDIbyUserCreationOnly(bool creationOnly);
    void setOriginalBDILocation(std::shared_ptr<ILocation> location) { m_originalBDILocation = location; }
    std::shared_ptr<ILocation> originalBDILocation() const { return m_originalBDILocation; }

private:
    bool moveBDIToNewLocation(const std::shared_ptr<ILocation>& location);
    std::shared_ptr<IDiskImage> m_BDI;
    // ---- end of disk image ---------------------------------------------------------------------
};
