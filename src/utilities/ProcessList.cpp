#include "utilities/ProcessList.h"

#include <cerrno>

int GetBSDProcessList(std::vector<ProcessEntry>* list, size_t* count)
{
    if (!list || !count || !list->empty() || *count != 0)
        return EINVAL;
    const QList<ProcessEntry> table = ProcessTable::snapshot();
    if (table.isEmpty())
        return ENOENT;
    list->assign(table.begin(), table.end());
    *count = list->size();
    return 0;
}
