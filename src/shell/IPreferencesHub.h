#pragma once

// What the preferences dialog needs of the hub and of the updater; the hub implements it, tests
// fake it.
class IPreferencesHub
{
public:
    virtual ~IPreferencesHub() = default;

    // The agent: removed when neither scheduled starts nor its menu need it.
    virtual bool removeAgentIfNeed() = 0;
    virtual bool isAgentWorking() = 0;
    // Starts the agent that is needed and not running (through the login item).
    virtual void startAgent() = 0;
    // Sends the running agent the current projects and state.
    virtual void sendCMWithActiveDatas() = 0;

    // The updater's two settings (the updater keeps them itself).
    virtual bool automaticallyChecksForUpdates() = 0;
    virtual void setAutomaticallyChecksForUpdates(bool on) = 0;
    virtual double updateCheckInterval() = 0;
    virtual void setUpdateCheckInterval(double seconds) = 0;
};
