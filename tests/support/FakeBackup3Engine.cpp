#include "FakeBackup3Engine.h"

#include "snapshot/IBackup3.h"
#include "snapshot/IBackup3Container.h"

void FakeBackup3Engine::processProject(const std::shared_ptr<IBackup3>& project)
{
    m_current = project;
    started << Started { project, project->needRestore(), project->isProcessingBySchedule(),
        project->processingCodeString() };
    if (failStart) {
        project->setInProcess(false, 0);
        project->setInState(IBackup3::OpIdle);
    }
}

void FakeBackup3Engine::finish(int code)
{
    if (!m_current)
        return;
    const std::shared_ptr<IBackup3> project = m_current;
    project->setRestoreData({});
    project->setInState(IBackup3::OpIdle);
    if (code == 0)
        project->setLastProcessFailed(false);
    else if (code == 1)
        project->setLastProcessFailed(true);
    m_current.reset();
    if (IBackup3Container* c = IBackup3Container::shared())
        c->eventProcessFinished(code);
}

bool FakeBackup3Engine::terminateProcess()
{
    ++terminations;
    finish(4);
    return true;
}

bool FakeBackup3Engine::terminateProcessWithReason(int reason)
{
    terminationReasons << reason;
    finish(1);
    return true;
}

void FakeBackup3Engine::preprocessFailed()
{
    ++preprocessFailures;
    if (m_current) {
        m_current->setRestoreData({});
        m_current->setInState(IBackup3::OpIdle);
        m_current->setMainButtonState(1);
        m_current.reset();
    }
    if (IBackup3Container* c = IBackup3Container::shared())
        c->eventProcessFinished(0);
}
