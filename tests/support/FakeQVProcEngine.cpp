#include "FakeQVProcEngine.h"

#include "sync/ISynchron.h"
#include "sync/ISynchronProcController.h"

#include <QPointer>
#include <QTimer>

class FakeQVProcRunner : public IQVProcRunner
{
public:
    explicit FakeQVProcRunner(FakeQVProcEngine* engine)
        : m_engine(engine)
    {
    }
    ~FakeQVProcRunner() override
    {
        if (m_engine && m_engine->m_current == this)
            m_engine->m_current = nullptr;
    }

    bool start(const std::shared_ptr<ISynchron>& project, ISynchronProcController& controller) override
    {
        m_project = project;
        m_controller = &controller;
        controller.QVProcPrepareForProject(*project);
        m_engine->programs << controller.QVProcGetParamsTemplateNameForProject(*project);
        if (!m_engine->startSucceeds) {
            project->card().add(stateFinished);
            project->card().set(reasonTerminatedByErrors);
            project->card().add(errorToolStart);
            return false;
        }
        controller.QVProcStartInfoToLog(*project);
        m_engine->m_current = this;
        return true;
    }

    bool terminate() override
    {
        ++m_engine->terminations;
        if (!m_project)
            return false;
        m_project->card().set(phaseFinishing);
        m_project->card().set(reasonTerminatedByUser);
        end(false);
        return true;
    }

    void setEndCallback(EndCallback callback) override { m_end = std::move(callback); }

    void end(bool completed)
    {
        IProcessCard& card = m_project->card();
        card.add(stateFinished);
        if (completed) {
            card.add(reasonCompleted);
            if (!m_engine->device.isEmpty() && m_project->isClone())
                m_controller->setCorrectedDestinationDevice(m_engine->device);
        } else {
            card.add(errorRuntime);
        }
        m_engine->m_current = nullptr;
        // The real runner hands its end to the main thread from its reader.
        auto callback = m_end;
        QTimer::singleShot(0, [callback] {
            if (callback)
                callback();
        });
    }

private:
    FakeQVProcEngine* m_engine;
    std::shared_ptr<ISynchron> m_project;
    ISynchronProcController* m_controller = nullptr;
    EndCallback m_end;
};

FakeQVProcEngine::FakeQVProcEngine()
{
    IQVProcRunner::setFactory([this] { return std::make_unique<FakeQVProcRunner>(this); });
}

FakeQVProcEngine::~FakeQVProcEngine()
{
    if (m_current)
        m_current = nullptr;
    IQVProcRunner::setFactory(nullptr);
}

void FakeQVProcEngine::finish(bool completed)
{
    if (m_current)
        m_current->end(completed);
}
