#pragma once

#include "projects/QVAgentState.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

// What the agent keeps across restarts: the next scheduled date, the main application's path as
// it told it, the volumes whose mounting starts projects, and the scheduler state.
struct QVLAgentData
{
    QDateTime date;
    QString launchPath;
    QStringList volumeIDArray;
    QVAgentState agentState;
    QVLAgentData();
};

// The agent's state file "$XDG_DATA_HOME/QVP3Launcher/QVP3Launcher.plist" (folder 0700).
// Reading is lenient: a key of the wrong type counts as absent, volume entries that are not texts
// are skipped, and a file that is missing, unreadable or does not parse gives the defaults (no
// date, no path, no volumes, state word 8 with stamp 0). Saving is a read-modify-write that keeps
// keys of others; a file that does not parse is kept aside by the bridge, never overwritten.
class QVLStateFile
{
public:
    static QString folderPath();
    static QString filePath();

    // *problem gets a line when the file exists but could not be used.
    static QVLAgentData load(QString* problem = nullptr);
    static bool save(const QVLAgentData& data, QString* error = nullptr);
};
