#pragma once

#include "projects/IProject.h"
#include "projects/ProjectStatusText.h"

#include <QColor>
#include <QDateTime>
#include <QStringList>
#include <QVariantMap>
#include <atomic>
#include <memory>
#include <optional>

class ILocation;
class ISynchronContainer;

// A synchronization or clone project: two places (first = left, second = right; for a clone the
// source and the destination), a direction, copy options, exclusion filters, a schedule, a
// start-on-mount switch, and the state of its current run. One class serves both kinds;
// synchronType() tells them apart (0 synchronization, 1 clone).
//
// Projects are owned by ISynchronContainer through std::shared_ptr. Everything runs on the main
// thread except processMessage and the progress setters, which a run's reader threads also call:
// the status text and the progress are guarded for that.
class ISynchron : public IProject
{
    Q_OBJECT
public:
    enum : int
    {
        OpIdle = 0,
        OpQueued = 6,
        OpSynchronizing = 7,
        OpCloning = 10,
        OpAnalysing = 11,
    };
    enum : int
    {
        ChangeOperation = 1,
        ChangeButton = 2,
        ChangeCurrent = 3,
        ChangeStatus = 4,
        ChangePlaces = 5,
    };
    // Readiness bits of getReady.
    enum : int
    {
        ReadyAll = 1,
        ReadyLoadContent = 2,
        ReadyRun = 4,
        ReadyAnalyse = 8,
        ReadyParameterChange = 16,
        ReadyStop = 32,
        ReadyMountImages = 64,
        ReadyMountVolumes = 128,
    };
    static constexpr quint64 OptionDelete = 4;
    static constexpr quint64 OptionConsiderModDate = 8;
    static constexpr quint64 FilterInvisible = 1;
    static constexpr quint64 FilterFinderData = 2;
    static constexpr quint64 FilterApplications = 4;
    static constexpr quint64 FilterAliases = 8;
    static constexpr quint64 FilterExcludeByPattern = 16;

    ISynchron();
    ~ISynchron() override;

    // The names of the blank entries: "New synchronize project" and "New cloning project".
    static QString defaultName(int syncType);

    // ---- Identity -----------------------------------------------------------------------------
    QString name() const override { return m_name; }
    void setName(const QString& name) override;
    QByteArray utf8Name() const override { return m_name.toUtf8(); }
    QByteArray utf8StringCode() const override { return m_processingCodeString.toUtf8(); }
    QString fileName() const { return m_fileName; }
    void setFileName(const QString& name) { m_fileName = name; }
    QColor color() const override { return m_color; }
    void setColor(const QColor& color) override;
    int synchronType() const override { return m_syncType; }
    // Also sets the card's type: 1 for a synchronization, 0 for a clone.
    void setSynchronType(int type);
    bool isClone() const { return m_syncType == 1; }
    bool isModified() const { return m_bModified; }
    void setModified(bool flag) { m_bModified = flag; }
    // True once the project has a place, a finished run or a schedule.
    bool isConfigured() const;

    // ---- Places -------------------------------------------------------------------------------
    std::shared_ptr<ILocation> firstLocation() const { return m_firstLocation; }
    std::shared_ptr<ILocation> secondLocation() const { return m_secondLocation; }
    void setFirstLocation(std::shared_ptr<ILocation> location);
    void setSecondLocation(std::shared_ptr<ILocation> location);
    // Sets a place up from a folder path; the mount point or content folder of one of the
    // system's own disk images stands for the image bundle itself.
    void setFirstFolder(const QString& path);
    void setSecondFolder(const QString& path);
    QString firstFolder() const;
    QString secondFolder() const;
    // The image bundle a path stands for when it is the mount point (or "<mount>/data") of one of
    // the system's own disk images; null otherwise.
    static QString ownImageBundleForPath(const QString& path);

    ILocation* sourceLocationForPass(long pass) const override;
    ILocation* destLocationForPass(long pass) const override;
    QString sourcePathForPass(long pass) const override;
    QString destPathForPass(long pass) const override;
    int passCount() const { return m_direction == 2 ? 2 : 1; }

    // ---- Options ------------------------------------------------------------------------------
    int direction() const { return m_direction; }
    // 2 (both ways) also turns delete off and newer-only on.
    void setDirection(int direction);
    quint64 options() const { return m_options; }
    bool isOptionDelete() const override { return m_options & OptionDelete; }
    void setOptionDelete(bool flag) { setBit(m_options, OptionDelete, flag); }
    bool isOptionConsiderModDate() const override { return m_options & OptionConsiderModDate; }
    void setOptionConsiderModDate(bool flag) { setBit(m_options, OptionConsiderModDate, flag); }
    quint64 excludeFilters() const { return m_exclude; }
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
    QString getExcludePattern() const { return m_nsExcludePattern; }
    void setExcludePattern(const QString& pattern) { setMarked(m_nsExcludePattern, pattern); }
    bool isStartCloningWarnDialog() const { return _startCloningWarnDialog; }
    void setStartCloningWarnDialog(bool flag) { setMarked(_startCloningWarnDialog, flag); }
    bool isUSBAutomountForProcess() const { return _USBAutomountForProcess; }
    void setUSBAutomountForProcess(bool flag) { setMarked(_USBAutomountForProcess, flag); }
    // Always for a clone, else the project base's administrator flag.
    bool isUseAdminPrivilegesForPass(long pass) const override;
    int systemExcludeListType() const override { return isClone() ? 2 : 1; }

    // ---- Schedule -----------------------------------------------------------------------------
    bool isScheduled() const override { return m_bScheduled; }
    void setScheduled(bool flag) override { setMarked(m_bScheduled, flag); }
    int getScheduleIntervalType() const { return m_ScheduleIntervalType; }
    void setScheduleIntervalType(int type) { setMarked(m_ScheduleIntervalType, type); }
    int getScheduleTimeHH() const { return m_nScheduleTimeHH; }
    int getScheduleTimeMM() const { return m_nScheduleTimeMM; }
    void setScheduleTimeHHMM(qint16 hh, qint16 mm);
    int getScheduleTimeInterval() const { return m_nScheduleTimeInterval; }
    void setScheduleTimeInterval(qint16 minutes) { setMarked(m_nScheduleTimeInterval, minutes); }
    int getScheduleWeekDay() const { return m_nScheduleWeekDay; }
    void setScheduleWeekDay(qint16 mask) { setMarked(m_nScheduleWeekDay, mask); }
    int getScheduleMonthDay() const { return m_nScheduleMonthDay; }
    void setScheduleMonthDay(qint16 day) { setMarked(m_nScheduleMonthDay, day); }
    QDateTime getNextProcessDate() const { return m_nextProcessDate; }
    void setNextProcessDate(const QDateTime& date) override { setMarked(m_nextProcessDate, date); }
    QDateTime computeNextProcessDate(const QDateTime& now) const;
    QDateTime lastProcessDate() const override { return m_lastSyncDate; }
    void setLastSyncDate(const QDateTime& date) { setMarked(m_lastSyncDate, date); }
    bool isProcessOnMount() const override { return _processOnMount; }
    void setProcessOnMount(bool flag) override { setMarked(_processOnMount, flag); }
    bool isLastProcessFailed() const { return _lastProcessFailed; }
    void setLastProcessFailed(bool flag) override { setMarked(_lastProcessFailed, flag); }
    bool isProcessingBySchedule() const override { return _processingBySchedule; }
    void setProcessingBySchedule(bool flag) { _processingBySchedule = flag; }
    QString processingCodeString() const override { return m_processingCodeString; }
    void setProcessingCodeString(const QString& code) { m_processingCodeString = code; }

    // Schedule due test; only the moment is used.
    bool isTimeToSynchronizeDate(const QDateTime& now, int monthDay, int weekDay, int HH, int MM);
    // Mount due test for the volume just mounted at mountedPath.
    bool isNeedToProcessOnMount(const QString& mountedPath);
    // A place is a removable USB volume (after both refresh their removable flag).
    bool isSynchronProcessOnMountEnabled();
    // The volume UUIDs whose mount should start this project, for the agent: the second place's,
    // then the first's, each only for a removable USB volume.
    QStringList volumeUUIDsForStartOnMount();

    // ---- File systems and the run's engine ------------------------------------------------------
    // Both places are btrfs, ext2/3/4 or xfs, or a disk image.
    bool isMacSrcDestForPass(long pass) const override;
    // The destination (a clone's second place; the second for direction 0 or 2, else the first)
    // is btrfs, ext2/3/4 or xfs.
    bool isMacDest() const;
    // The first place is one volume of a System/Data group on a system of 10.15 or later.
    bool isSourceDoubleVolumeSystemForPass(long pass) const override;
    bool isDoubleVolumeClone() const;
    // Whether a volume-group clone must copy the whole group (the image engine) rather than
    // with rsync; sets or clears the card's full-cloning flags accordingly.
    bool isNeedFullDoubleVolumeClone();
    // Post-processing is on when the running system and the first place's system are new enough.
    void validateProcessFlags();
    // Refreshes the destination's file-system kind from the disk information.
    void resetLocationsFileSystem();
    void printStartStatisticToLog() override;
    // The outside engine names the device it cloned onto: the second place becomes that volume
    // and the lists are saved.
    void ITCorrectDestinationDevice(const QString& device);
    // A copy in the container's current kind under a free "<name>-copy[N]" name; null on failure.
    std::shared_ptr<ISynchron> duplicateProject();

    // ---- Readiness ----------------------------------------------------------------------------
    int getReady() override;
    bool isReady();
    bool isReadyForInterface() const override;

    // ---- Exclusions ---------------------------------------------------------------------------
    const std::optional<QStringList>& excludePathList() const { return m_excludePathList; }
    void setExcludePathList(const std::optional<QStringList>& list) { m_excludePathList = list; }
    void addPathToExcludePathList(const QString& path);
    bool isPathInExcludePathList(const QString& path) const;
    bool isPathChildInExcludePathList(const QString& path) const;
    void removePathFromExcludePathList(const QString& path);
    void removePathesFromExcludePathListWithPrefix(const QString& prefix);
    // Drops entries that exist on neither side (synchronization entries are relative to both
    // folders, clone entries absolute). Entries on a place that is not mounted now are kept.
    void validateExcludePathList();
    // The exclusion rules of the list: the lines of the file and the names that cannot be file
    // lines (a line break inside), which a run passes as "--exclude=" arguments. Synchronization
    // entries are relative to the folders; clone entries are absolute and those inside the first
    // folder are re-rooted there.
    struct ExcludeRules
    {
        QList<QByteArray> lines;
        QStringList arguments;
    };
    ExcludeRules customExcludeRules() const;
    bool saveCustomExcludesIntoTmpFileForPass(long pass) override;
    // Appends the same lines to an existing file; false only for an empty list.
    bool addExcludesIntoTmpFile(const QString& path) const;
    QStringList customExcludeArguments() const { return customExcludeRules().arguments; }

    // ---- Run state ----------------------------------------------------------------------------
    void setInState(int operation) override;
    bool isInState(int operation) const override { return m_currentOperation == operation; }
    bool isInProcess() const override;
    int currentOperation() const override { return m_currentOperation; }
    void setInProcess(bool inProcess, int operation) override;
    int mainButtonState() const override;
    void setMainButtonState(int state) override;
    double indicatorPosition() const override { return m_indicatorPosition.load(); }
    double indicatorPositionForGlobal() const override;
    void setIndicatorPosition(double position) override { setIndicatorPosition(position, false); }
    void setIndicatorPosition(double position, bool showNow) override;
    void setSelected(bool flag);
    bool isSelected() const override;
    QString lastStatusString() const override { return m_textInfo.text(); }
    void setLastStatusString(const QString& text);
    int lastStateChange() const override { return m_lastStateChange; }
    void processMessage(const LogText& text, quint64 options, QObject* sender) override;
    void sendTextInfo(const QString& text, qint32 type, quint8 target, QObject* sender) override;
    bool isPostProcess() const override { return _needPostProcess; }
    void setPostProcess(bool flag) override { _needPostProcess = flag; }

    // ---- Mounting -----------------------------------------------------------------------------
    // Mounts what the run needs; what it mounts is marked to be unmounted after the run.
    bool doAutomount() override;
    bool doMount();
    // Unmounts exactly what doAutomount marked.
    void doAutoUnmount() override;

    // The list, or null once the application has begun to close.
    ISynchronContainer* synchronContainer() const;

    // ---- Stored form --------------------------------------------------------------------------
    void saveToDict(QVariantMap& dict) const override;
    // scheme: the list's property scheme (below 1 folders as paths and every project a
    // synchronization; below 2 the week day as one day number). True when "Name" was a text.
    bool loadFromDict(const QVariantMap& dict, int scheme);
    static std::shared_ptr<ILocation> locationFromDict(const QVariantMap& dict);
    static QVariantMap dictFromLocation(const ILocation& location);
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
    void setBit(quint64& word, quint64 bit, bool on) { setMarked(word, on ? (word | bit) : (word & ~bit)); }
    void tellContainer(int change);
    bool mountPlaces(bool automount);
    bool mountUnmountedVolume(ILocation* place, bool automount, const QString& announce);

    QString m_name;
    QString m_fileName;
    std::shared_ptr<ILocation> m_firstLocation;
    std::shared_ptr<ILocation> m_secondLocation;
    int m_syncType = 0;
    int m_direction = 0;
    quint64 m_options = 0;
    bool _startCloningWarnDialog = true;
    QDateTime m_lastSyncDate;
    quint64 m_exclude = 0;
    QString m_nsExcludePattern;
    bool m_bScheduled = false;
    int m_ScheduleIntervalType = 2;
    qint16 m_nScheduleTimeHH = 18;
    qint16 m_nScheduleTimeMM = 30;
    qint16 m_nScheduleTimeInterval = 0;
    qint16 m_nScheduleWeekDay = 31;
    qint16 m_nScheduleMonthDay = 1;
    bool _processOnMount = false;
    bool _lastProcessFailed = false;
    QColor m_color;
    QByteArray m_colorData; // the stored bytes while the colour is the loaded one
    bool m_bModified = true;
    QDateTime m_nextProcessDate;
    bool _needPostProcess = false;
    std::atomic<bool> m_selected { false }; // read by the run's reader threads
    std::atomic<double> m_indicatorPosition { 0 };
    ProjectStatusText m_textInfo;
    mutable int m_buttonState = 0;
    std::atomic<int> m_lastStateChange { 0 };
    int m_currentOperation = 0;
    std::optional<QStringList> m_excludePathList;
    bool _processingBySchedule = false;
    QString m_processingCodeString;
    bool _USBAutomountForProcess = false;
    bool m_unmountEventsPassed = false;
};
