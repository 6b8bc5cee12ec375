#pragma once

// Enable states of the archive kit's menu items, from the state of the run queue.
namespace ArchivePaneRules {

struct MenuInput
{
    bool queueEmpty = true;
    bool runListEmpty = true; // no project is in process
    bool tarRunning = false; // an archive tool job runs
    bool archiveSelected = false; // the hub's hasSelectedArchive
};
struct MenuStates
{
    bool build = false; // 1401
    bool stop = false; // 1402
    bool restoreToOriginal = false; // 1403
    bool restoreToFolder = false; // 1404
};
MenuStates menuStates(const MenuInput& in);

} // namespace ArchivePaneRules
