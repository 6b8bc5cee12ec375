#include "sync/ISynchronizeController.h"

#include "utilities/IShellServices.h"
#include "utilities/LogOptions.h"

#include <QCoreApplication>

namespace {
HeadlessSynchronizeController g_headless;
ISynchronizeController* g_current = nullptr;
} // namespace

ISynchronizeController& ISynchronizeController::shared()
{
    return g_current ? *g_current : g_headless;
}

void ISynchronizeController::setShared(ISynchronizeController* controller)
{
    g_current = controller;
}

bool HeadlessSynchronizeController::analyzeClone(ISynchron*, bool, QString* text)
{
    const QString why
        = QCoreApplication::translate("Localizable", "The clone could not be checked before its start.");
    if (text)
        *text = why;
    IShellServices::shared().processMessage(why, LogWord::WindowAndRunLog, nullptr);
    return false;
}
