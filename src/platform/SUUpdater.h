#pragma once

#include <QString>

// The software updater of this build. Updates come from the distribution's packages, so it never
// touches the network: it keeps the two settings the preferences dialog shows (the automatic-check
// switch and the check interval) in the application settings, and a check only says where updates
// come from.
class SUUpdater
{
public:
    static SUUpdater& sharedUpdater();

    bool automaticallyChecksForUpdates() const;
    void setAutomaticallyChecksForUpdates(bool on);
    // Seconds; 86400 when unset or not a positive number.
    double updateCheckInterval() const;
    void setUpdateCheckInterval(double seconds);

    // "SUCheckAtStartup" of the application settings is YES (a true boolean or the text "YES").
    static bool checkAtStartupRequested();

    // The line a check writes to the log.
    static QString checkForUpdatesText();

    static constexpr double kDefaultInterval = 86400;

private:
    SUUpdater() = default;
};
