#include "archive/ICoordinator.h"

#include "archive/CBackup.h"
#include "archive/IArchiveContainer.h"
#include "platform/MainThread.h"
#include "projects/ILocation.h"
#include "utilities/UiPrompts.h"

#include <QCoreApplication>

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

bool HeadlessCoordinator::chooseDestPathByUser(ILocation* location)
{
    if (!location)
        return false;
    UiPrompts::FolderChoiceRequest request;
    request.prompt = QCoreApplication::translate("Localizable", "Choose the destination folder");
    QString folder;
    {
        ModalDepthGuard modal;
        folder = UiPrompts::shared().chooseFolder(request);
    }
    return !folder.isEmpty() && location->setupWithPath(folder);
}
