#pragma once

#include "panes/sync/SyncPaneRules.h"
#include "projects/IProcessIndicator.h"
#include "sync/CloneVerdict.h"
#include "sync/ISynchronizeController.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <array>
#include <memory>

class AnalyzeOutlineModel;
class ISynchronContainer;

// The one controller behind the synchronization pane (kind 0, function kit 4) and the clone pane
// (kind 1, kit 3): the interface controller of the synchronization container, its text router,
// the status lines, the start/stop control, the analysis outline's run and the clone pre-flight
// verdict, the schedule timer, and the pane actions that need no widget (new, delete, folders,
// disks, direction). The widgets bind to its signals; start-up registers it with
// ISynchronizeController::setShared in place of the headless controller. Main thread only;
// sendAnalyzeInfo and processIndicator may come from reader threads and are posted.
class SynchronizePaneController : public QObject, public ISynchronizeController, public IMainButtonOwner
{
    Q_OBJECT
public:
    explicit SynchronizePaneController(ISynchronContainer* container, QObject* parent = nullptr);
    ~SynchronizePaneController() override;

    ISynchronContainer* container() const { return m_container; }
    AnalyzeOutlineModel* analyzeModel() const { return m_analyze.get(); }
    // The kind shown: 1 on the clone kit, 0 otherwise.
    int kind() const;
    std::shared_ptr<ISynchron> current() const;
    std::shared_ptr<ISynchron> currentOfKind(int kind) const;

    // What the widgets show.
    QString statusLine(int kind) const { return m_status[kind == 1 ? 1 : 0]; }
    QString analyzeLabel() const { return m_analyzeLabel; }
    bool isSyncAnalyzeProcess() const { return m_syncAnalyzeProcess; }
    bool isSyncAnalyzeEnabled() const { return m_analyzeEnabled; }
    bool isNoSendTextInfo() const { return m_noSendTextInfo; }
    SyncPaneRules::Buttons buttons() const { return m_buttons; }
    const CloneVerdict::Result& verdict() const { return m_verdict; }
    QString verdictHtml() const;
    QString windowHeader() const;
    // The indicators of both panes (set by the panes; null is allowed).
    void setIndicator(int kind, IProcessIndicator* indicator);
    // Whether the current synchronization's folders are equal or nested.
    static bool foldersNested(const ISynchron& project);

    // ---- ISynchronizeController ----
    void eventProjectChanged(int code) override;
    void eventProjectPropertyChanged(int code) override;
    void eventProjectListChanged(int code) override;
    void eventChangedProjectStatus(ISynchron* project) override;
    void eventProcessFinished(int code) override;
    void eventAppClosing(int code) override;
    void sendTextInfo(const QString& text, qint32 type, quint8 target, QObject* sender) override;
    void validateStatusString() override;
    void validateButtons() override;
    void processIndicator() override;
    void volumeBaseUpdated() override;
    void setNoSendTextInfo(bool flag) override { m_noSendTextInfo = flag; }
    void setSyncAnalyzeEnabled(bool enabled) override;
    void setSyncAnalyzeProcess(bool inProcess) override;
    void sendAnalyzeInfo(const QString& text, quint32 status) override;
    void stopAnalyze(ISynchron* project) override;
    void clearAnalyzeView() override;
    bool analyzeClone(ISynchron* project, bool show, QString* text) override;

    // ---- IMainButtonOwner ----
    void mainButtonClickedOn(IProcessIndicator* indicator) override;

    // ---- Pane actions ----
    // Starts the current project, or stops it (a full clone asks first).
    void toggleCurrentProjectProcessState();
    // "Analyze" / "Stop Analyze".
    void actSynchAnalyze();
    // "+": the name prompt, a unique name, the new project of the kind shown; false on Cancel.
    bool addProject();
    // "-": asks, then deletes; a running project is stopped and deleted when its run has ended.
    bool deleteCurrentProject();
    bool isDeletePending() const { return m_deleteWhenStopped != nullptr; }
    // A synchronization's folder (side 0 first, 1 second): refused with *why when the kind,
    // the state or the pair is wrong (equal or nested folders, a file).
    bool setFolder(int side, const QString& path, QString* why = nullptr);
    // Why a folder may not become that side's folder now; null when it may.
    QString folderRefusal(int side, const QString& path) const;
    // The folder choosers: an open panel for folders (and ".sparsebundle" folders).
    bool chooseFolder(int side);
    // The top panel's direction menu.
    void setDirectionFromPanel(int direction);
    // The clone disk pickers: a tag of the picker (0..999 index, 1000/1001 the remembered place,
    // 1005 none).
    void chooseDisk(bool source, int tag);
    // The pickers' disks (rebuilt on every refresh).
    const QList<std::shared_ptr<class ILocation>>& diskArray() const { return m_diskArray; }
    void fillActiveDiskArray();

    // The 10 s schedule timer (divided by KV_TIMER_SCALE).
    void startSchedule();
    void stopSchedule();
    bool isScheduleRunning() const { return m_scheduleTimer.isActive(); }
    void scheduleEvent();

signals:
    void statusLineChanged(int kind, const QString& text);
    void projectListChanged(int kind);
    void projectChanged();
    void buttonsChanged();
    void verdictChanged();
    void analyzeStateChanged();
    void headerChanged(const QString& text);
    void foldersChanged(); // the top panel and the pickers show the current project again
    void disksChanged();

private:
    void validateProcessIndicator();
    void validateWindowHeader();
    void loadSettingsFromSynchron(ISynchron* project);
    void eventProjectFolderChanged(int code);
    void setStatus(int kind, const QString& text);
    void finishPendingDelete();

    ISynchronContainer* m_container;
    std::unique_ptr<AnalyzeOutlineModel> m_analyze;
    std::array<IProcessIndicator*, 2> m_indicators { nullptr, nullptr };
    std::array<QString, 2> m_status;
    QString m_analyzeLabel;
    bool m_noSendTextInfo = false;
    bool m_syncAnalyzeProcess = false;
    bool m_analyzeEnabled = false;
    SyncPaneRules::Buttons m_buttons;
    CloneVerdict::Result m_verdict;
    QTimer m_scheduleTimer;
    QList<std::shared_ptr<ILocation>> m_diskArray;
    std::shared_ptr<ISynchron> m_deleteWhenStopped;
};
