#include "RecordingBackup3Controller.h"

#include "projects/ILocation.h"

#include "platform/MainThread.h"

void RecordingBackup3Controller::clear()
{
    finishedCodes.clear();
    finishedOnMainThread.clear();
    texts.clear();
    statusChanges.clear();
    calls.clear();
}

void RecordingBackup3Controller::eventProcessFinished(int code)
{
    finishedCodes << code;
    finishedOnMainThread << isMainThread();
}

bool RecordingBackup3Controller::chooseDestPathByUser(ILocation* location)
{
    calls << QStringLiteral("chooseDestPathByUser");
    if (chooseAnswer && !choosePath.isEmpty() && location)
        return location->setupWithPath(choosePath);
    return chooseAnswer;
}

void RecordingBackup3Controller::setNoSendTextInfo(bool flag)
{
    noSendTextInfo = flag;
    calls << QStringLiteral("setNoSendTextInfo:%1").arg(flag ? 1 : 0);
}

void RecordingBackup3Controller::sendTextInfo(
    const QString& text, qint32 type, quint8 target, QObject* sender)
{
    if (noSendTextInfo)
        return;
    texts << TextInfo { text, type, target, sender };
}

QString RecordingBackup3Controller::generateUUID()
{
    if (!nextUUID.isEmpty()) {
        const QString uuid = nextUUID;
        nextUUID.clear();
        return uuid;
    }
    return newUUIDString();
}

void RecordingBackup3Controller::setStatus(const QString& text, bool isLog, bool isStatus)
{
    calls << QStringLiteral("setStatus:%1:%2:%3").arg(text).arg(isLog).arg(isStatus);
}

void RecordingBackup3Controller::setProcessState(double state)
{
    calls << QStringLiteral("setProcessState:%1").arg(state);
}

bool RecordingBackup3Controller::getNewDICustomMaxSizeInGBByUserTo(double* value, double oldValue)
{
    calls << QStringLiteral("getNewDICustomMaxSizeInGBByUserTo:%1").arg(oldValue);
    if (!sizeAnswer || !value)
        return false;
    *value = *sizeAnswer;
    return true;
}
