#pragma once

#include "archive/ArchiveRestoreMembers.h"
#include "archive/IArchiveContainer.h"
#include "projects/QVAgentState.h"
#include "projects/QVAgentStatePrefs.h"

#include <QDateTime>
#include <QHash>
#include <QImage>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class CBackup;
class CToastTool;

// The archive projects of the workspace and their run queue: one tool job at a time in the
// whole program, started by the user, the schedule or a mounted volume; the burn list of the
// disc projects; and the main preferences, run log and temporary folders it owns for the
// application. One global instance lives from the start of the application until just before
// its QApplication goes (shared() / resetShared()).
class CBackupContainer : public IArchiveContainer
{
public:
    CBackupContainer();
    ~CBackupContainer() override;
    CBackupContainer(const CBackupContainer&) = delete;
    CBackupContainer& operator=(const CBackupContainer&) = delete;

    // The global container, made on first use; resetShared() destroys it (tests, and the
    // application before its QApplication goes).
    static CBackupContainer& shared();
    static void resetShared();
    // The global container when one exists.
    static CBackupContainer* global();

    // What a queue entry runs.
    enum Operation : int
    {
        OpIdle = 0,
        OpBuild = 1,
        OpRestore = 2,
        OpBuildThenBurn = 4,
        OpBurning = 5,
    };
    // One queued run: the record, its own operation and, for a restore, its own arguments.
    struct QueueEntry
    {
        CBackup* backup = nullptr;
        int operation = OpBuild;
        QString restoreFolder;
        RestoreMembers restoreMembers;
        bool restoreSingle = false;
    };

    // ---- IArchiveContainer ----
    CBackup* addNewBackup(const QString& name) override;
    int getIndexBackup(const CBackup* backup) const override;
    int backupCount() const override { return int(m_backups.size()); }
    CBackup* backupAt(int index) const override;
    void processNext() override;
    CBackup* getBackupInProcess() const override;
    bool removeFromProcessing(CBackup* backup) override;

    // ---- the list ----
    CBackup* findBackup(const QString& name) const;
    int indexOfBackupByUUID(const QString& uuid) const;
    // False when another project has that name; a project not in the list answers true.
    bool renameBackup(CBackup* backup, const QString& name);
    // Closes the project (its files and keychain item go) and takes it out of the list.
    bool removeBackup(CBackup* backup);
    bool closeBackup(CBackup* backup);
    // Takes the project out of the list only: its files and keychain item stay.
    bool removeBackupAt(int index);
    bool makeSingleSelection(int index);
    bool makeSingleSelection(CBackup* backup);
    CBackup* findFirstSelected();
    void sortBackups() { }
    void revertSelectedBackups();
    void saveSelectedBackups();
    // Saves every project whose tree changed; writes the record only where only it changed.
    void saveAllBackups();
    // Reads the projects of the workspace's Backups folder, in name order, top level only.
    int loadRecentBackups();
    static bool matchFileAsBIF(const QString& path);
    static QString getBackupNameFromPath(const QString& path);
    static QString QVProjectTreeFileName(const QString& path);
    static QString QVProjectHeaderFileName(const QString& path);
    static QString QVProjectSBPermFileName(const QString& path);
    void setUseAdminPrivilegesForAllProjects(bool on);
    bool isQueueNotEmpty() const { return !m_queue.empty(); }

    // ---- settings applied to every selected project ----
    void setSizeLimit4Selected(quint64 limit);
    void setExcludeInvisible4Selected(bool on);
    void setExcludeFinderData4Selected(bool on);
    void setExcludeApplications4Selected(bool on);
    void setExcludeAliases4Selected(bool on);
    void setExcludeByPattern4Selected(bool on);
    void setExcludePattern4Selected(const QString& pattern);
    void setScheduleIntervalType4Selected(quint32 type);
    void setScheduleTimeHH4Selected(quint16 hour);
    void setScheduleTimeMM4Selected(quint16 minute);
    void setScheduleWeekDay4Selected(quint16 days);
    void setScheduleMonthDay4Selected(quint16 day);
    void applyFilters4Selected();

    // ---- the run queue ----
    // Queues the selected projects for a build; they run in list order.
    void buildSelectedBackups();
    // Queues the selected projects for a restore with these arguments; a restore in place
    // asks first, and anything but "Continue" queues nothing.
    void restoreSelectedBackups(const QString& folder, const RestoreMembers& members, bool single);
    // Queues one project directly (build then burn has no other caller).
    void queueBackup(const QueueEntry& entry);
    // The user's stop: the queue and the burn list are emptied and every run is stopped.
    void stopTar();
    // The scheduler's check (every 30 s): queues the projects due now, in reverse list order.
    int checkNeedBackupingOnSchedule();
    // A volume appeared: queues the projects that start when their destination mounts.
    int checkNeedBackupingOnMount(const QString& volumePath);
    QStringList getVolumeUUIDListForStartOnMountEvent();
    QDateTime getFirstNextDate();
    // Appends the project unless it is already there.
    static bool addWaitBackupsToVector(std::vector<CBackup*>& list, CBackup* backup);
    const std::vector<QueueEntry>& queue() const { return m_queue; }
    int queueOperation() const { return m_operation; }

    // ---- burning ----
    const std::vector<CBackup*>& burnList() const { return m_burnList; }
    // After a burn that reached the disc: removes the built files of the disc projects (only
    // the work folder a build made, never a stored destination) and empties the burn list.
    void clearBurnBackups();
    // The burn did not happen: every archive of the burn list is taken off its project's list,
    // its items are taken again by the next build, the work folders stay and are named.
    void burnFailed(const QString& why);
    // The (source path, path on the disc) pairs of the burn list; an empty list takes every
    // selected project first.
    std::vector<std::pair<QString, QString>> addArchivesToDRFolder();
    // Hands the archives of the projects of device type 5 to the burning application's tool.
    void addArchivesToToast(CToastTool* tool);
    // The folder a disc project's archives are built in, or empty.
    static QString burnWorkFolder(const CBackup* backup);
    static void forgetBurnWorkFolder(CBackup* backup);
    static QString backupDiscPlaceholder(); // "/media/<user>/Backup Disc"

    // ---- preferences, run log and temporary folders (kept by MainPreferences and RunLog) ----
    QVAgentState& agentState() { return m_agentState; }
    bool savePreferences();
    bool loadPreferences();
    QString getLogsPath() const;
    void openLog();
    void traceToLog(const QByteArray& text);
    void closeLog();
    bool checkCreateAppSupportPath(bool* created = nullptr);
    int checkFileExisting(const QString& path, bool ask);
    static QString getMainApplicationID();
    // The icon of a file at size x size: the desktop's icon for the path, else the icon of its
    // type, else the named default image (also for a null path); with alias set the link badge
    // is drawn over it. Results are cached by path, size and flag (GUI programs only: without a
    // QGuiApplication the answer is a null image).
    QImage getIconImageOfSize(const QString& path, int size, const QString& defaultName, bool alias);

    // For the driver and tests: called whenever the queue has nothing more to start and no
    // tool job or burn runs.
    std::function<void()> onIdle;
    // Called once for every queue entry when its run has ended (or never started).
    std::function<void(const QueueEntry&)> onEntryEnded;
    // Programs that only run projects (the test driver) leave the workspace's folders alone.
    void setCreatesWorkspaceFolders(bool on) { m_createFolders = on; }

protected:
    // How a queued entry is started; tests replace them. The answer is what the run started
    // (0: nothing started).
    virtual int startBuild(CBackup* backup, bool forBurning);
    virtual int startRestore(
        CBackup* backup, const QString& folder, const RestoreMembers& members, bool single);
    // Whether a tool job runs anywhere.
    virtual bool isToolJobRunning() const;
    // Stops the run of one project (the stop button).
    virtual void stopRun(CBackup* backup);

    std::vector<std::unique_ptr<CBackup>> m_backups;

private:
    bool appendToQueue(const QueueEntry& entry);
    bool isQueued(const CBackup* backup) const;
    void dropFromQueueAndBurnList(const CBackup* backup);
    bool ensureFullyLoaded(CBackup* backup);
    void startBurning();
    template<typename Fn>
    void forSelected(Fn fn);

    std::vector<QueueEntry> m_queue; // the next entry is taken from the end
    std::vector<CBackup*> m_burnList;
    int m_operation = OpIdle; // idle, running (build or restore) or burning
    bool m_inProcessNext = false;
    bool m_createFolders = true;
    std::optional<QueueEntry> m_current; // the entry whose run was started last
    void reportEntryEnded();
    bool m_restoreRegistered = false;
    CBackup* m_firstSelected = nullptr;
    QHash<QString, QImage> m_iconCache;
    QVAgentState m_agentState;
    QVAgentStatePrefs m_agentStatePrefs { m_agentState };
};
