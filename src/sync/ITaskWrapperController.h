#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

class ITaskWrapper;

// What a task wrapper calls in the controller of its run. The wrapper delivers every call on the
// main thread, in the order the data arrived, except getOutputData/getErrorData: a synchronization
// controller reads the first member's streams itself, so those come on the wrapper's reader
// threads (the controller's own parser takes its own lock).
class ITaskWrapperController
{
public:
    virtual ~ITaskWrapperController() = default;

    // The run is starting (before any member is launched).
    virtual void processStarted() { }
    // The controller resets its parsers before the first member is launched.
    virtual void utilOutputProcessPrepare() { }
    // A block of raw output. toolCode says which tool spoke, stdError whether it came from an
    // error stream; input is the wrapper whose first member's standard input the controller may
    // write to (null for the two clone codes).
    virtual void utilOutputProcess(
        const QByteArray& data, qint64 toolCode, bool stdError, ITaskWrapper* input, qint64 generalTaskCode)
    {
        Q_UNUSED(data);
        Q_UNUSED(toolCode);
        Q_UNUSED(stdError);
        Q_UNUSED(input);
        Q_UNUSED(generalTaskCode);
    }
    // A block as text (archive build and restore, and the error streams of the second and third
    // members). Blocks that are not valid UTF-8 are not delivered here.
    virtual void appendOutput(
        const QString& text, qint64 toolCode, bool stdError, ITaskWrapper* input, qint64 generalTaskCode)
    {
        Q_UNUSED(text);
        Q_UNUSED(toolCode);
        Q_UNUSED(stdError);
        Q_UNUSED(input);
        Q_UNUSED(generalTaskCode);
    }
    // Synchronization readers (reader threads): the first member's output and error blocks.
    virtual void getOutputData(const QByteArray& data) { Q_UNUSED(data); }
    virtual void getErrorData(const QByteArray& data) { Q_UNUSED(data); }
    // True for the analysis outline, which reads the first member's streams as they become
    // available rather than as whole reads (both end up in getOutputData/getErrorData).
    virtual bool isAnalyzeController() const { return false; }

    // The run has ended (every stream ended and the end timer ran, or it was stopped).
    virtual void processFinished() = 0;
    virtual void setProcessStatus(quint32 status) { m_processStatus = status; }
    virtual quint32 processStatus() const { return m_processStatus; }

private:
    quint32 m_processStatus = 0;
};
