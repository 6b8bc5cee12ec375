#pragma once

#include <QObject>
#include <QString>

class QVConnectMessage;

// The main application's one object for everything about its agent QVP3Launcher: registering
// it as the user's login item (which also starts it) or removing it (which also stops it),
// whether it runs, asking for its build and replacing an agent of another build, sending agent
// messages, and receiving every "QV_CONNECT_MESSAGE", including the requests of the cat tool.
// Received agent messages go to the hub through IShellServices. Main thread only.
class IAgentTool : public QObject
{
    Q_OBJECT
public:
    static constexpr const char* agentBundleIdentifier = "com.brisoltica.QVP3Launcher";
    static constexpr const char* mainAppBundleIdentifier = "com.brisoltica.KelvanePro3";
    // How long the build query waits for the agent's answer.
    static constexpr int buildAnswerTimeoutMs = 2000;

    static IAgentTool& shared();

    static QString launcherName(); // "QVP3Launcher.app"
    QString launcherPath() const; // <main bundle>/Contents/Library/LoginItems/QVP3Launcher.app
    QString workingAgentPath() const { return launcherPath(); }
    QString packedAgentPath() const; // the older agent bundle in the resources; null without a bundle
    QString mainAppPath() const; // "<...>/Kelvane Pro 3.app"
    // The agent's program inside a bundle: <bundle>/Contents/MacOS/QVP3Launcher.
    static QString agentExecutable(const QString& bundlePath);

    void startAgent() { }
    // The agent's bus name has an owner.
    bool isAgentWorking() const;
    bool isLauncherWorking() const { return isAgentWorking(); }

    // The autostart file exists and is not disabled.
    bool getAutostart() const;
    // Writes the autostart file for the bundle's agent and starts it, or removes the file and
    // stops the agent. Failures are logged and answered false.
    bool setStartAtLogin(const QString& bundlePath, bool enabled);
    bool setAgentAutostart(bool enabled);
    qint64 autostartState() const { return m_autostart; }

    // "CFBundleIdentifier" of the bundle's Info.plist; null when the bundle or the file is missing.
    QString agentIdentifier(const QString& bundlePath) const;
    // Stops the program that owns the identifier's bus name (SIGTERM, then SIGKILL after a bound).
    bool killBackupAgent(const QString& identifier);
    bool killAgent();

    // The running agent's build: -1 when no agent runs, 0 when it did not answer in time.
    double getLauncherBuild();
    // Brings a running agent in line with this build: one of another build is replaced,
    // one of the same build is asked for its state (type 3).
    void validateLauncher();
    double lastLauncherBuild() const { return m_launcherBuild; }

    bool sendConnectMessage(const QVConnectMessage& message);
    bool sendDebugMessage(const QVConnectMessage& message);

    // Starts hearing "QV_CONNECT_MESSAGE" (once; later calls do nothing).
    void setConnectMessageReceiver();
    // The receiver: cat-tool texts to their hooks, build answers kept, all else to the hub.
    void connectMessageProcess(const QString& object);

    // Start-up of the main application: claims its identifier on the session bus (how the agent
    // tells that it runs), lets debug texts go out as agent messages and installs the scheduler
    // state's change report. False when the name could not be claimed (no bus, or it runs).
    static bool startMainApplicationLink();
    // The main application's scheduler-state change report: redraw the hub's suspend controls.
    static void installStateChangeHook();
    // Lets agent messages carry the debug texts of QVDebugMessage (type 8).
    static void installDebugMessageSender();

private:
    IAgentTool();

    qint64 m_autostart = 0;
    int _lastQueryCommandID = 0;
    double m_launcherBuild = -1;
    bool m_buildAnswered = false;
    bool m_receiving = false;
};
