#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <array>
#include <memory>

class ISynchron;
class ISyncRunController;
class ISynchronizeController;

// The one container of synchronization projects (kind 0) and clone projects (kind 1). It keeps
// the two lists, each ending with a blank "new project" entry, saves them in "Syncs/Projects.plist"
// and "Clones/Projects.plist" of the workspace, keeps a current project per kind, holds the run
// queue and starts queued projects one at a time through the run controller, decides which
// projects are due by schedule or by a volume mount, and answers the agent link's questions.
//
// Projects are held through std::shared_ptr by the lists, the queue and the run controller, so a
// project deleted from its list stays valid for whoever still holds it. Main thread only; the
// pane's timer calls scheduleProcess, the hub's mount handler checkNeedSynchronizeOnMount, the
// pane's device-list change diskWasUnmount.
class ISynchronContainer : public QObject
{
    Q_OBJECT
public:
    // workspace: the folder holding "Syncs" and "Clones"; null means the current workspace.
    explicit ISynchronContainer(std::unique_ptr<ISyncRunController> runController,
        const QString& workspace = QString(), QObject* parent = nullptr);
    ~ISynchronContainer() override;

    // The container, null before creation and after destruction.
    static ISynchronContainer* shared();
    // The property scheme of the lists read last (0 until a file sets it).
    static int syncPropertyScheme();

    // ---- Lists and selection ------------------------------------------------------------------
    // The kind of the shown function kit: 0 synchronizations, 1 clones, -1 another kit.
    int currentSyncType() const { return m_currentSyncType; }
    void setCurrentSyncType(int type) { m_currentSyncType = type; }
    const QList<std::shared_ptr<ISynchron>>& listByType(int type) const;
    qsizetype countOfSynchronsByType(int type) const { return listByType(type).size(); }
    std::shared_ptr<ISynchron> synchronByIndex(qsizetype index, int type) const;
    std::shared_ptr<ISynchron> currentSynchronByType(int type) const;
    qint64 currentSynchronIndexByType(int type) const;
    qsizetype indexByTypeOfSynchron(const ISynchron* project) const; // -1 when not listed
    bool isCurrentNewSynchron(int type) const;
    bool setCurrentSynchronByIndex(qint64 index, int type);
    void initFirstSynchron();
    qsizetype addSynchron(const std::shared_ptr<ISynchron>& project);
    std::shared_ptr<ISynchron> createNewSynchron(const QString& name, int type);
    // Refuses a running project; a queued one leaves the queue first.
    bool deleteCurrentSynchronByType(int type);
    bool moveSynchronFrom(qsizetype from, qsizetype to, int type);
    bool isUniqueName(const QString& name, const ISynchron* excludeProject) const;
    void setSynchronToDefault(qsizetype index, int type);
    void setUseAdminPrivilegesForAllProjects();
    const QStringList& defaultExcludesList() const { return m_defaultExcludesList; }
    const QStringList& defaultHiddensList() const { return m_defaultHiddensList; }
    bool isCloneWillBeBootable(ISynchron* project) const;
    ISyncRunController* runController() const { return m_syncProc.get(); }
    bool canProcessSynchron() const;
    // A fresh file name in the process's private temporary folder; null on failure.
    QString generateTempFileName() const;
    QString tempFolderPath() const;
    QString preferencesPath() const; // the user's configuration folder
    QString appSupportPath() const; // the workspace

    // ---- Events to the pane -------------------------------------------------------------------
    void setInterfaceController(ISynchronizeController* controller);
    ISynchronizeController* interfaceController() const { return m_synchronizeController; }
    void eventProjectChanged(int code);
    void eventProjectPropertyChanged(int code);
    void eventPprojectListChanged(int code);
    void eventChangedProjectStatus(ISynchron* project);
    void sendTextInfo(const QString& text, qint32 type, quint8 target, QObject* sender);

    // ---- Life ---------------------------------------------------------------------------------
    QString syncsFilePath() const;
    QString clonesFilePath() const;
    // Empties both lists, loads them and adds the blank entry of each kind.
    void reInit();
    // Reads both files. A file that exists but cannot be read as a list is kept aside and named
    // in the log; its list starts empty and the other kind's list still loads.
    void load();
    // Writes both files atomically (mode 0600), making a missing folder; a failure is logged.
    bool save();

    // ---- Queue and runs -----------------------------------------------------------------------
    void addSynchronToProcessingList(const std::shared_ptr<ISynchron>& project);
    bool removeProjectFromProcessingList(const std::shared_ptr<ISynchron>& project);
    const QList<std::shared_ptr<ISynchron>>& processingList() const { return m_processingList; }
    bool isQueueNotEmpty() const { return !m_processingList.isEmpty(); }
    bool isProcessing() const;
    void processNext();
    void processCurrentProject();
    // The volume-group clone of the current clone through the image engine (the hub's menu).
    void processCurrentProjectCloneASR();
    void stopProcessProject(const std::shared_ptr<ISynchron>& project);
    void stopProcessCurrentProject();
    void stopProcessAnyProjects();
    // Asks the pane to stop the project's analysis.
    void stopAnalyzeSynchron(ISynchron* project);
    void scheduleProcess();

    // ---- Triggers and agent data --------------------------------------------------------------
    bool checkNeedSynchronizeOnSchedule();
    bool checkNeedSynchronizeOnMount(const QString& mountedPath);
    QStringList getVolumeUUIDListForStartOnMountEvent() const;
    QDateTime getFirstNextDateByType(int type) const;
    bool isScheduleEnabled() const;
    void diskWasUnmount();

private:
    QList<std::shared_ptr<ISynchron>>& mutableList(int type);
    void loadFile(const QString& path, int type);
    bool saveFile(const QString& path, const QVariantMap& root);
    void loadSynchronsFromArray(const QVariantList& array, int type);
    void queueByTrigger(const std::shared_ptr<ISynchron>& project);
    bool walkForTrigger(const std::function<bool(ISynchron&)>& due);
    void logFailure(const QString& text) const;

    std::array<qint64, 2> m_initSynchronIndex { -1, -1 };
    QList<std::shared_ptr<ISynchron>> m_synchronList;
    QList<std::shared_ptr<ISynchron>> m_cloneList;
    std::array<qint64, 2> m_currentSynchronIndex { -1, -1 };
    std::unique_ptr<ISyncRunController> m_syncProc;
    ISynchronizeController* m_synchronizeController = nullptr;
    QList<std::shared_ptr<ISynchron>> m_processingList;
    bool m_runningPprocessNext = false;
    QStringList m_defaultExcludesList;
    QStringList m_defaultHiddensList;
    QString m_workspace;
    int m_currentSyncType = 0;
    // Files in place that could not be read and were not moved aside: never overwritten.
    std::array<bool, 2> m_loadRefused { false, false };
};
