#include "archive/ICoordinator.h"

#include "archive/CBackup.h"
#include "archive/IArchiveContainer.h"

namespace {
ICoordinator* g_coordinator = nullptr;
}

ICoordinator& ICoordinator::shared()
{
    static HeadlessCoordinator headless;
    return g_coordinator ? *g_coordinator : headless;
}

void ICoordinator::setShared(ICoordinator* coordinator)
{
    g_coordinator = coordinator;
}

bool HeadlessCoordinator::isUniqueName(const QString& name, const CBackup* excluded)
{
    const IArchiveContainer& list = IArchiveContainer::shared();
    for (int i = 0; i < list.backupCount(); ++i) {
        const CBackup* b = list.backupAt(i);
        if (b && b != excluded && b->name() == name)
            return false;
    }
    return true;
}
