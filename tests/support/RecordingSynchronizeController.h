#pragma once

#include "sync/ICloneStartWarner.h"
#include "sync/ISynchronizeController.h"

#include <QList>
#include <QStringList>

// A synchronization pane that records every call, for tests. Install it with
// ISynchronizeController::setShared(&fake) or hand it to the container with
// setInterfaceController. The pre-flight check answers as scripted and records whom it checked.
class RecordingSynchronizeController : public ISynchronizeController
{
public:
    // Answers of the pre-flight check.
    bool cloneVerdict = true;
    QString cloneText;

    QList<ISynchron*> analyzed; // projects the pre-flight check ran for
    QList<int> finishedCodes;
    QList<ISynchron*> statusChanges;
    QStringList texts;
    QStringList calls; // every other call, as "name" or "name:argument"

    void eventProjectChanged(int code) override
    {
        calls << QStringLiteral("eventProjectChanged:%1").arg(code);
    }
    void eventProjectPropertyChanged(int code) override
    {
        calls << QStringLiteral("eventProjectPropertyChanged:%1").arg(code);
    }
    void eventProjectListChanged(int code) override
    {
        calls << QStringLiteral("eventProjectListChanged:%1").arg(code);
    }
    void eventChangedProjectStatus(ISynchron* project) override { statusChanges << project; }
    void eventProcessFinished(int code) override { finishedCodes << code; }
    void eventAppClosing(int code) override { calls << QStringLiteral("eventAppClosing:%1").arg(code); }
    void sendTextInfo(const QString& text, qint32, quint8, QObject*) override { texts << text; }
    void validateStatusString() override { calls << QStringLiteral("validateStatusString"); }
    void validateButtons() override { calls << QStringLiteral("validateButtons"); }
    void processIndicator() override { calls << QStringLiteral("processIndicator"); }
    void volumeBaseUpdated() override { calls << QStringLiteral("volumeBaseUpdated"); }
    void setNoSendTextInfo(bool flag) override { calls << QStringLiteral("setNoSendTextInfo:%1").arg(flag); }
    void setSyncAnalyzeEnabled(bool flag) override
    {
        calls << QStringLiteral("setSyncAnalyzeEnabled:%1").arg(flag);
    }
    void setSyncAnalyzeProcess(bool flag) override
    {
        calls << QStringLiteral("setSyncAnalyzeProcess:%1").arg(flag);
    }
    void sendAnalyzeInfo(const QString& text, quint32) override
    {
        calls << QStringLiteral("sendAnalyzeInfo:") + text;
    }
    void stopAnalyze(ISynchron*) override { calls << QStringLiteral("stopAnalyze"); }
    void clearAnalyzeView() override { calls << QStringLiteral("clearAnalyzeView"); }
    bool analyzeClone(ISynchron* project, bool, QString* text) override
    {
        analyzed << project;
        if (text)
            *text = cloneText;
        return cloneVerdict;
    }
};

// The clone start warning, answering as scripted and counting how often it was shown.
class ScriptedCloneStartWarner : public ICloneStartWarner
{
public:
    bool confirm = true;
    int shown = 0;
    bool showForClone(ISynchron*) override
    {
        ++shown;
        return confirm;
    }
};
