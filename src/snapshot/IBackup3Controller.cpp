#include "snapshot/IBackup3Controller.h"

#include <QUuid>

namespace {
HeadlessBackup3Controller g_headless;
IBackup3Controller* g_current = nullptr;
} // namespace

IBackup3Controller& IBackup3Controller::shared()
{
    return g_current ? *g_current : g_headless;
}

void IBackup3Controller::setShared(IBackup3Controller* controller)
{
    g_current = controller;
}

QString IBackup3Controller::newUUIDString()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}
