#pragma once

#include "utilities/IRunLog.h"

#include <QByteArrayList>
#include <QMutex>
#include <QStringList>

// A run log that keeps every text handed to traceToLog, in order, and hands out temporary
// names from a list (or a null text when the list is empty). Thread-safe.
class RecordingRunLog : public IRunLog
{
public:
    QStringList tempNames;

    void traceToLog(const QByteArray& text) override;
    QString tempFileName() override;

    QByteArrayList texts() const;
    QByteArray joined() const;
    void clear();

private:
    mutable QMutex m_mutex;
    QByteArrayList m_texts;
};

// Installs a run log for the life of the scope and restores the default afterwards.
class RunLogScope
{
public:
    explicit RunLogScope(IRunLog* runLog) { IRunLog::setShared(runLog); }
    ~RunLogScope() { IRunLog::setShared(nullptr); }
    RunLogScope(const RunLogScope&) = delete;
    RunLogScope& operator=(const RunLogScope&) = delete;
};
