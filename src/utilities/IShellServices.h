#pragma once

#include "utilities/LogText.h"

#include <QDateTime>
#include <QString>
#include <QVariantList>
#include <optional>

class IBackup;
class IProject;
class QObject;
class QVConnectMessage;
class QWindow;

// What the engine calls in the application shell: the hub's log sink and text router, redraws,
// the mount and volume-list events, the project order list, the closing and started-by-agent
// flags and the agent-link hooks. The shell registers its implementation at start-up with
// setShared(); programs without a shell (tools, test drivers) get the headless default, which
// logs nothing, redraws nothing and answers "not closing", "not started by the agent".
//
// processMessage and sendTextInfo may be called from any thread; every other call happens on
// the main thread.
class IShellServices
{
public:
    virtual ~IShellServices() = default;

    static IShellServices& shared();
    // nullptr restores the headless default; the caller keeps ownership
    static void setShared(IShellServices* services);

    // Log sink and text router (LogOptions.h holds the option words and the tp bits).
    virtual void processMessage(const LogText& text, quint64 options, QObject* sender) = 0;
    virtual void sendTextInfo(const QString& text, qint32 type, quint8 target, QObject* sender) = 0;

    // The main window, parent of open dialogs; nullptr without one.
    virtual QWindow* window() = 0;

    // Redraws.
    virtual void funcSelectorRedraw() = 0;
    virtual void eventChangedProjectStatus(IProject* project) = 0;
    virtual void DIIProcessIndicatorPositionCollect(IProject* project) = 0;
    virtual void DIITEvent() = 0;
    virtual void validateProcessIndicator() = 0;
    virtual void validateStatusString() = 0;

    // The archive project shown in the main window and its content view.
    virtual IBackup* currentBackup() = 0;
    virtual IBackup* getViewIBackup() = 0;
    virtual void reloadContentViewData(IBackup* backup) = 0;
    virtual void eventChangedCurrentBackup() = 0;
    virtual void registerStartRestore() = 0;
    virtual void registerStopRestore() = 0;

    // Burning the archives of the burn list; volume 0 burns all.
    virtual bool burnDisc(int volume) = 0;
    virtual bool toastDisc(int volume) = 0;

    // True once the application has agreed to quit.
    virtual bool isWindowClosing() = 0;
    // True when the agent launched the application with the argument "launcher".
    virtual bool isStartedByAgent() = 0;

    // Mount and volume-list events of the volume table.
    virtual void validateDeviceMount(const QString& devicePath) = 0;
    virtual void volumeBaseUpdated() = 0;

    // Agent link.
    virtual void qv3CatFileRequestProcess() = 0;
    virtual void connectMessageProcess(const QVConnectMessage& message) = 0;
    virtual void validateScheduleSuspenderControls() = 0;
    // The suspend dialog's OK: a resume date suspends until then, none means "unlimited time".
    virtual void SSD_OkButton(const std::optional<QDateTime>& resumeDate) = 0;
    virtual QDateTime nextGlobalProcessDate() = 0;
    virtual void prepareDataForNextScheduleProcess() = 0;

    // Appends, in list order, the UUIDs of the archive projects.
    virtual void saveProjectOrderListToDict(QVariantList& list) = 0;
    virtual void setSandboxFirstNotNormalMigration(bool flag) = 0;

    // Agent-link hooks with a do-nothing default (the shell overrides them).
    // The cat tool of the archive restore in process could not open a piece of a split archive:
    // log it and fail that run.
    virtual void qv3CatFileErrorProcess(const QString& path) { }
    // Saves the main preferences after the scheduler state took a received state.
    virtual void saveMainState() { }
    // Shows the log window (the file copier's log button).
    virtual void showLog() { }
    // Appends a line to the log window as it stands (the panes' text routers); the shell forwards
    // it to its log sink.
    virtual void appendToWinLog(const QString& text) { }
};

// The default for programs without a shell.
class HeadlessShellServices : public IShellServices
{
public:
    void processMessage(const LogText&, quint64, QObject*) override { }
    void sendTextInfo(const QString&, qint32, quint8, QObject*) override { }
    QWindow* window() override { return nullptr; }
    void funcSelectorRedraw() override { }
    void eventChangedProjectStatus(IProject*) override { }
    void DIIProcessIndicatorPositionCollect(IProject*) override { }
    void DIITEvent() override { }
    void validateProcessIndicator() override { }
    void validateStatusString() override { }
    IBackup* currentBackup() override { return nullptr; }
    IBackup* getViewIBackup() override { return nullptr; }
    void reloadContentViewData(IBackup*) override { }
    void eventChangedCurrentBackup() override { }
    void registerStartRestore() override { }
    void registerStopRestore() override { }
    bool burnDisc(int) override { return false; }
    bool toastDisc(int) override { return false; }
    bool isWindowClosing() override { return false; }
    bool isStartedByAgent() override { return false; }
    void validateDeviceMount(const QString&) override { }
    void volumeBaseUpdated() override { }
    void qv3CatFileRequestProcess() override { }
    void connectMessageProcess(const QVConnectMessage&) override { }
    void validateScheduleSuspenderControls() override { }
    void SSD_OkButton(const std::optional<QDateTime>&) override { }
    QDateTime nextGlobalProcessDate() override { return QDateTime(); }
    void prepareDataForNextScheduleProcess() override { }
    void saveProjectOrderListToDict(QVariantList&) override { }
    void setSandboxFirstNotNormalMigration(bool) override { }
};
