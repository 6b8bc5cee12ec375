#pragma once

#include <QString>
#include <functional>

// The rules every project pane applies to names and status texts, in one place so that the
// snapshot, archive and synchronization panes agree.
namespace ProjectNames {

// A name typed by the user, ready to store: "/" becomes "|" (the name dialog shows it so), then
// the shared sanitiser. A refused result ("", ".", "..") gives a null string: the caller keeps
// the old name.
QString fromInput(const QString& text);

// The first of base, base1, base2, ... that isUnique accepts. A base that is itself unique is
// returned unchanged.
QString makeUnique(const QString& base, const std::function<bool(const QString&)>& isUnique);

// A status text for the status line: a text ending in one period loses it ("Done." -> "Done"),
// one ending in "..." stays; null gives "".
QString trimStatus(const QString& text);

} // namespace ProjectNames

// What the end of a project's settings sheet does to the agent state bits (1 scheduled starts
// on, 4 status menu, 8 agent needed). The panes differ only in the parameters.
struct AgentBitsInput
{
    int bits = 0; // the state before
    bool wasScheduled = false; // the project was scheduled when the sheet opened
    bool isScheduled = false; // ... and is now
    bool processOnMount = false; // the project starts when its volume is mounted
    bool userWantsAgent = false; // the hub's needUseAgentByUser
    bool agentAutostart = false; // the autostart state after asking for it (getAutostart)
};
struct AgentBitsResult
{
    int bits = 0;
    bool setAutostart = false; // the agent must be made to start at login
};
AgentBitsResult agentBitsAfterProperties(const AgentBitsInput& in);
