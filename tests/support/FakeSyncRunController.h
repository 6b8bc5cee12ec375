#pragma once

#include "sync/ISyncRunController.h"
#include "sync/ISynchron.h"

#include <QList>
#include <memory>

// A run controller for tests of the project lists: it records the projects it was asked to run
// and keeps the run going until the test ends it with finish().
class FakeSyncRunController : public ISyncRunController
{
public:
    bool works = true;
    QList<std::shared_ptr<ISynchron>> started; // every processProject, in order
    QList<int> reasons; // every setProcessFinishedByReason
    int terminations = 0;

    void processProject(const std::shared_ptr<ISynchron>& project) override
    {
        started << project;
        m_running = project;
    }
    bool terminateProcess() override
    {
        ++terminations;
        finish(4);
        return true;
    }
    bool isProcessing() const override { return m_running && m_running->isInProcess(); }
    bool canWork() const override { return works; }
    std::shared_ptr<ISynchron> synchron() const override { return m_running; }
    void setProcessFinishedByReason(int reason) override { reasons << reason; }

    // Ends the current run with a result code (0 success, 1 failed, 3 warnings, 4 stopped) the
    // way a run ends: the project goes idle, a failure is remembered.
    void finish(int code)
    {
        if (!m_running)
            return;
        const auto project = m_running;
        m_running.reset();
        project->setLastProcessFailed(code == 1);
        project->setInState(ISynchron::OpIdle);
    }

private:
    std::shared_ptr<ISynchron> m_running;
};
