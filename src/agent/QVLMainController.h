#pragma once

#include "agent/QVLStateFile.h"
#include "platform/MountInfo.h"
#include "shell/dialogs/IScheduleSuspendDialog.h"

#include <QFile>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QVariantMap>
#include <functional>
#include <memory>

class MountWatcher;
class QVConnectMessage;
class QVLStatusMenu;

// The agent's one controller: it keeps the next scheduled date, the main application's path, the
// volumes that start projects on mount and the scheduler state (saved in the state file after
// every change), answers the main application's messages, launches the main application when a
// date is due or a listed volume is mounted while it is not running, and owns the status menu
// while state bit 4 is set. Main thread only.
//
// The launcher, the "is the main application running" question, the mount-to-UUID lookup, the
// message sender and the autostart question are replaceable, so tests drive every path in process;
// the clock is Clock::current().
class QVLMainController : public QObject, public IScheduleSuspendController
{
    Q_OBJECT
public:
    using Launcher
        = std::function<bool(const QString& program, const QStringList& arguments, QString* error)>;
    using Question = std::function<bool()>;
    using UuidLookup = std::function<QString(const MountEntry& entry)>;
    using Sender = std::function<void(const QVConnectMessage& message)>;
    using Poster = std::function<void(const QString& name, const QString& object)>;

    static constexpr int timerIntervalMs = 30000;
    static constexpr const char* mainAppExecutable = "Contents/MacOS/Kelvane Pro 3";

    explicit QVLMainController(QObject* parent = nullptr);
    ~QVLMainController() override;
    // The controller of this process (the last one made), or nullptr.
    static QVLMainController* shared();

    // The agent's own Info.plist ("Bundle version", "FullLogDebug", "DSFeedbackMailURL").
    void setInfo(const QVariantMap& info);
    QString bundleVersion() const;

    void setLauncher(Launcher launcher) { m_launcher = std::move(launcher); }
    void setMainAppRunningQuery(Question question) { m_mainAppRunning = std::move(question); }
    void setAutostartQuery(Question question) { m_autostart = std::move(question); }
    void setUuidLookup(UuidLookup lookup) { m_uuidLookup = std::move(lookup); }
    void setMessageSender(Sender sender) { m_sender = std::move(sender); }
    void setNotificationPoster(Poster poster) { m_poster = std::move(poster); }

    // Start: state file, the schedule timer, the mount watcher, the observers of the messages, and
    // a data request to a running main application.
    void applicationDidFinishLaunching();
    // The one quit path: a agent that is no login item forgets its date. Always true.
    bool applicationShouldTerminate();

    bool loadData();
    bool saveData();

    bool isMyinAutostart() const;
    bool isMainAppWorking() const;
    // The told path when it holds the main application's program, else the bundle four levels
    // above the agent.
    QString mainAppPath() const;
    bool launchMainAppWithActivating(bool activating);

    void timeEvent();
    void system_voluemMountNotification(const MountEntry& entry);

    // Messages ("QV_CONNECT_MESSAGE") and the older notifications.
    void launcherConnectMessageProcess(const QString& object);
    void old_firstScheduledDateFromMain(const QString& object);
    void old_launchPathFromMain(const QString& object);
    void old_commandsWithVolumeIDFromMain(const QString& object);
    void old_queryMuntedVolumeFromMain(const QString& object);
    void sendCMWithActiveDatas();
    void sendCMWithStartParameters();

    // Status menu actions.
    void statusMenuScheduleEnabledToggle();
    void SSD_OkButton(IScheduleSuspendDialog& dialog) override;
    void statusMenuStartMainApp();
    void statusMenuStartMainAppWithPrefs();
    void statusMenuSendFeebback();
    // Creates the status menu when bit 4 is set, else removes it.
    void schedulerStatusMenuChanged();
    void showStatusMenuChanged() { schedulerStatusMenuChanged(); }
    QVLStatusMenu* statusMenu() const { return m_statusMenu.get(); }

    // Accessors.
    QDateTime date() const { return m_data.date; }
    void setDate(const QDateTime& date) { m_data.date = date; }
    QString launchPath() const { return m_data.launchPath; }
    void setLaunchPath(const QString& path) { m_data.launchPath = path; }
    QStringList volumeIDArray() const { return m_data.volumeIDArray; }
    void clearVolumeIDArray() { m_data.volumeIDArray.clear(); }
    void addVolumeID(const QString& uuid);
    QString lastMountedVolumePath() const { return _lastMountedVolumePath; }
    void setLastMountedVolumePath(const QString& path) { _lastMountedVolumePath = path; }
    int selectedMenuItemTag() const { return _selectedMenuItemTag; }
    void setSelectedMenuItemTag(int tag) { _selectedMenuItemTag = tag; }
    QVAgentState& agentState() { return m_data.agentState; }
    const QVAgentState& agentState() const { return m_data.agentState; }
    void setAgentState(const QVAgentState& state);
    QTimer& timer() { return _timer; }

    // The agent log ("FullLogDebug"): $XDG_DATA_HOME/QVP3Launcher/SessionLog_<date>.txt.
    void log(const QString& line);
    bool isFullLog() const { return m_fullLog; }
    QString logFilePath() const { return m_logFile.fileName(); }

private:
    void send(const QVConnectMessage& message);
    void openMainApp(int tag);
    void validateAgentStateControls();

    QVLAgentData m_data;
    QString _lastMountedVolumePath;
    int _selectedMenuItemTag = 0;
    QTimer _timer;
    std::unique_ptr<QVLStatusMenu> m_statusMenu;
    MountWatcher* m_mountWatcher = nullptr;
    QVariantMap m_info;
    bool m_fullLog = false;
    QFile m_logFile;

    Launcher m_launcher;
    Question m_mainAppRunning;
    Question m_autostart;
    UuidLookup m_uuidLookup;
    Sender m_sender;
    Poster m_poster;
};
