#include "panes/archive/ArchivePaneRules.h"

namespace ArchivePaneRules {

MenuStates menuStates(const MenuInput& in)
{
    const bool idle = in.queueEmpty && in.runListEmpty && !in.tarRunning;
    MenuStates s;
    s.build = idle;
    s.restoreToOriginal = idle && in.archiveSelected;
    s.restoreToFolder = idle && in.archiveSelected;
    s.stop = !idle;
    return s;
}

} // namespace ArchivePaneRules
