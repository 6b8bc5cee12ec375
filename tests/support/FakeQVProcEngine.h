#pragma once

#include "sync/IQVProcRunner.h"

#include <QString>
#include <QStringList>

class FakeQVProcRunner;

// Stands in for the outside engine while it lives: it registers a runner factory whose runners
// record what the controller asks of them and end when the test says so. Main thread only.
class FakeQVProcEngine
{
public:
    FakeQVProcEngine();
    ~FakeQVProcEngine();
    FakeQVProcEngine(const FakeQVProcEngine&) = delete;
    FakeQVProcEngine& operator=(const FakeQVProcEngine&) = delete;

    bool startSucceeds = true;
    // Given to the controller as the corrected destination device when a run completes.
    QString device;
    QStringList programs; // the controller's program name of every start, in order
    int terminations = 0;

    // True while a started runner has not ended.
    bool isRunning() const { return m_current != nullptr; }
    // Ends the current run the way the engine's end of output does (the end callback comes
    // from the event loop): completed, or failed with a runtime error.
    void finish(bool completed);

private:
    friend class FakeQVProcRunner;
    FakeQVProcRunner* m_current = nullptr;
};
