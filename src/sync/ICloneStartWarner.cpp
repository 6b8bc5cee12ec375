#include "sync/ICloneStartWarner.h"

#include "sync/ISynchron.h"
#include "utilities/IShellServices.h"
#include "utilities/LogOptions.h"

#include <QCoreApplication>

namespace {
HeadlessCloneStartWarner g_headless;
ICloneStartWarner* g_current = nullptr;
} // namespace

ICloneStartWarner& ICloneStartWarner::shared()
{
    return g_current ? *g_current : g_headless;
}

void ICloneStartWarner::setShared(ICloneStartWarner* warner)
{
    g_current = warner;
}

bool HeadlessCloneStartWarner::showForClone(ISynchron* project)
{
    IShellServices::shared().processMessage(
        QCoreApplication::translate("Localizable", "The clone \"%1\" was not confirmed: no window to ask in.")
            .arg(project ? project->name() : QString()),
        LogWord::WindowAndRunLog, nullptr);
    return false;
}
