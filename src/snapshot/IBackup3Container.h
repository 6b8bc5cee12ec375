#pragma once

#include "snapshot/IBackup3Engine.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>
#include <memory>

class IBackup3;
class IBackup3Controller;

// The one list of snapshot-backup projects. It loads and saves "Projects.plist" in the
// workspace's Backups folder, keeps the selected project, holds the first-in first-out run queue
// and the one run engine, decides which projects are due by schedule or by a volume mount, and
// gives the scheduling agent the volumes whose mount should start a backup.
//
// Projects are held through std::shared_ptr by the list, the queue and the engine, so a project
// taken out of the list stays valid for whoever still holds it. Main thread only.
class IBackup3Container : public QObject
{
    Q_OBJECT
public:
    // projectsFilePath: the list file; null means "<workspace>/Backups/Projects.plist".
    explicit IBackup3Container(std::unique_ptr<IBackup3Engine> engine,
        const QString& projectsFilePath = QString(), QObject* parent = nullptr);
    ~IBackup3Container() override;

    // The container, null before creation and after destruction.
    static IBackup3Container* shared();
    // The property scheme of the loaded list (the project reader uses it).
    static int currentPropScheme();

    // ---- List and selection -------------------------------------------------------------------
    const QList<std::shared_ptr<IBackup3>>& backupList() const { return m_backup3List; }
    qsizetype countOfBackups3() const { return m_backup3List.size(); }
    std::shared_ptr<IBackup3> backup3ByIndex(qsizetype index) const;
    std::shared_ptr<IBackup3> currentBackup3() const;
    qint64 currentBackup3Index() const { return m_currentBackup3Index; }
    // The project's index; 0 when it is not in the list (check contains() before acting on it).
    qsizetype indexOfBackup3(const IBackup3* project) const;
    bool contains(const IBackup3* project) const;
    std::shared_ptr<IBackup3> sharedFor(const IBackup3* project) const;
    bool setCurrentBackup3ByIndex(qint64 index);
    void initFirstBackup3();
    void setBackup3ToDefault(qsizetype index);
    std::shared_ptr<IBackup3> createNewBackup3(const QString& name);
    bool moveBackup3From(qsizetype from, qsizetype to);
    // Refuses a running project; a queued one leaves the queue first.
    bool deleteCurrentBackup3();
    bool isUniqueName(const QString& name, const IBackup3* excludeProject) const;
    void setUseAdminPrivilegesForAllProjects();
    const QStringList& defaultExcludesList() const { return m_defaultExcludesList; }
    const QStringList& defaultHiddensList() const { return m_defaultHiddensList; }
    IBackup3Engine* processor() const { return m_backup3Proc.get(); }
    bool canProcessBackup3() const { return m_backup3Proc && m_backup3Proc->canWork(); }
    bool cutBackups() { return true; }
    bool isCurrentNewBackup3() const { return false; }
    // A new file name in the process's private temporary folder; null on failure.
    QString generateTempFileName() const;
    // The private temporary folder (0700) of this process; null on failure.
    QString tempFolderPath() const;

    // ---- Events to the pane -------------------------------------------------------------------
    void setInterfaceController(IBackup3Controller* controller) { m_backup3Controller = controller; }
    IBackup3Controller* interfaceController() const { return m_backup3Controller; }
    void eventProjectChanged();
    void eventProjectPropertyChanged();
    void eventPprojectListChanged();
    void setStatus(const QString& text, bool isLog, bool isStatus);
    void setProcessState(double state);
    void eventProcessFinished(int code);
    void eventChangedProjectStatus(IBackup3* project);
    void sendTextInfo(const QString& text, qint32 type, quint8 target, QObject* sender);

    // ---- Life ---------------------------------------------------------------------------------
    QString projectsFilePath() const { return m_projectsFilePath; }
    void reInit();
    // Reads the list file. A file that exists but cannot be read as a list is moved aside, the
    // user is told, and the list starts empty; the next save then writes a fresh file.
    void load();
    // Writes the list file atomically (mode 0600). A failure goes to the log window and the run
    // log. An empty list never replaces a file that could not be loaded.
    bool save();
    // The "ArchiveOrderList" kept from the file when the shell gives none.
    QVariantList archiveOrderList() const { return m_archiveOrderList; }

    // ---- Queue and runs -----------------------------------------------------------------------
    void processBackup3(const std::shared_ptr<IBackup3>& project);
    void processCurrentProject();
    void processNext();
    void abortProcessCurrentProject();
    void addBackup3ToProcessingList(const std::shared_ptr<IBackup3>& project);
    bool removeBackup3FromProcessingList(const std::shared_ptr<IBackup3>& project);
    void stopProcessBackup3(const std::shared_ptr<IBackup3>& project);
    bool isProcessing() const;
    bool isProcessNext() const { return m_processNext; }
    void setProcessNext(bool flag) { m_processNext = flag; }
    bool isQueueNotEmpty() const { return !m_processingList.isEmpty(); }
    const QList<std::shared_ptr<IBackup3>>& processingList() const { return m_processingList; }
    bool terminateProcess();
    void scheduleProcess();

    // ---- Triggers and agent data --------------------------------------------------------------
    bool checkNeedBackupingOnSchedule();
    // The week day (0 Sunday), day of month, hour and minute of a local moment.
    static void scheduleNumbers(const QDateTime& now, int* W, int* D, int* H, int* M);
    bool checkNeedBackupingOnMount(const QString& mountedPath);
    QDateTime getFirstNextDate() const;
    QStringList getVolumeUUIDListForStartOnMountEvent() const;
    void diskWasUnmount();

private:
    void loadPreferencesFromDict(const QVariantMap& prefs);
    void loadApplicationValues();
    void loadBackups3FromArray(const QVariantList& array);
    void queueByTrigger(const std::shared_ptr<IBackup3>& project);
    void logFailure(const QString& text);

    qint64 m_initBackup3Index = -1;
    QList<std::shared_ptr<IBackup3>> m_backup3List;
    qint64 m_currentBackup3Index = -1;
    std::unique_ptr<IBackup3Engine> m_backup3Proc;
    IBackup3Controller* m_backup3Controller = nullptr;
    QList<std::shared_ptr<IBackup3>> m_processingList;
    bool m_processNext = false;
    QStringList m_defaultExcludesList;
    QStringList m_defaultHiddensList;
    QString m_projectsFilePath;
    QVariantList m_archiveOrderList;
    bool m_loadRefused = false; // the file in place could not be read and was not moved aside
};
