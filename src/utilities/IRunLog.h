#pragma once

#include <QByteArray>
#include <QString>

// The run log and the temporary names of the workspace, as the common functions need them.
// The workspace registers its implementation at start-up; without one, nothing is written and
// no temporary name is made.
class IRunLog
{
public:
    virtual ~IRunLog() = default;

    static IRunLog& shared();
    // nullptr restores the default; the caller keeps ownership
    static void setShared(IRunLog* runLog);

    // Appends the bytes unchanged to the run log (when collecting logs is on). Called from any
    // thread; callers that need whole lines hand over whole lines.
    virtual void traceToLog(const QByteArray& text) = 0;
    // A new unique path in the temporary folder, or a null text on failure.
    virtual QString tempFileName() = 0;
};

class NullRunLog : public IRunLog
{
public:
    void traceToLog(const QByteArray&) override { }
    QString tempFileName() override { return QString(); }
};
