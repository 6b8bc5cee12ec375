#pragma once

#include "snapshot/IBackup3Controller.h"

#include <QColor>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>

class IBackup3Container;

// The controller of the snapshot-backup pane: the interface controller of the snapshot-backup
// container, its text router and prompts, the schedule timer, and the pane's actions that need
// no widget (new, rename, delete, the choice of an outside project folder). The pane's widgets
// bind to its signals; start-up registers it with IBackup3Controller::setShared in place of the
// headless controller.
class Backup3PaneController : public QObject, public IBackup3Controller
{
    Q_OBJECT
public:
    explicit Backup3PaneController(IBackup3Container* container, QObject* parent = nullptr);
    ~Backup3PaneController() override;

    IBackup3Container* container() const { return m_container; }
    // The text of the status line.
    QString statusLine() const { return m_status; }

    // ---- IBackup3Controller ----
    void eventDeviceListChanged() override;
    void eventProcessFinished(int code) override;
    bool chooseDestPathByUser(ILocation* location) override;
    void setNoSendTextInfo(bool flag) override { m_noSendTextInfo = flag; }
    void sendTextInfo(const QString& text, qint32 type, quint8 target, QObject* sender) override;
    QString generateUUID() override { return newUUIDString(); }
    void eventProjectChanged() override;
    void eventProjectPropertyChanged() override;
    void eventProjectListChanged() override;
    void eventChangedProjectStatus(IBackup3* project) override;
    void setStatus(const QString& text, bool isLog, bool isStatus) override;
    void setProcessState(double state) override;
    void validateStatusString() override;
    void validateProcessIndicator() override;
    bool getNewDICustomMaxSizeInGBByUserTo(double* value, double oldValue) override;

    // ---- Pane actions ----
    // "+": asks for a name (offering Untitled, Untitled1, ...), makes it unique and creates the
    // project; false on Cancel or an empty name.
    bool addProject();
    // A name edited in the list: the same rules as a new name; an empty or refused edit keeps
    // the old name. False when the name did not change.
    bool renameCurrentProject(const QString& text);
    // Asks, then removes the current project; logs and saves only when the container removed it
    // (a running project is refused).
    bool deleteCurrentProject();
    // The end of the settings sheet: on OK the next date and the list are saved; then the agent
    // bits (the agent is made to start at login when a project needs it).
    void endBackup3Properties(IBackup3* project, bool ok, bool wasScheduled);
    // The agent's login item as endBackup3Properties reads and sets it (IAgentTool by default;
    // tests record instead of starting an agent).
    struct AgentHooks
    {
        std::function<bool()> getAutostart;
        std::function<bool(bool)> setAgentAutostart;
    };
    void setAgentHooks(AgentHooks hooks) { m_agentHooks = std::move(hooks); }
    // A copy of the current project ("... copy"), made current; false when it failed.
    bool duplicateCurrentProject();
    // The current project's colour label (an invalid colour clears it).
    void setCurrentProjectColor(const QColor& color);

    // The restore-from-folder chooser: a folder holding "qv3info.plist"; null on Cancel.
    QString chooseExternalRestoreFolder();

    // The 10 s schedule timer (divided by KV_TIMER_SCALE): started at wake-up, stopped at closing.
    void startSchedule();
    void stopSchedule();
    bool isScheduleRunning() const { return m_scheduleTimer.isActive(); }
    // One tick of the timer.
    void scheduleEvent();
    // The application closes: runs are ended, versions thinned, the list saved, the timer stopped.
    void eventAppClosing();

signals:
    // The pane opens the settings sheet for the current project (after "+" and duplicate).
    void propertiesRequested();
    // A project's state changed (the external-restore sheet follows its project).
    void projectStatusChanged(IBackup3* project);
    // The volume table changed: an open settings sheet refills its destination menu.
    void deviceListChanged();
    void statusLineChanged(const QString& text);
    void projectListChanged();
    void projectChanged();
    void indicatorChanged();
    void buttonsChanged();

private:
    IBackup3Container* m_container;
    bool m_noSendTextInfo = false;
    QString m_status;
    QTimer m_scheduleTimer;
    AgentHooks m_agentHooks;
};
