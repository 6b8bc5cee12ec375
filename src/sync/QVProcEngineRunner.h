#pragma once

#include "sync/AnalyzeLineParser.h"
#include "sync/IQVProc.h"
#include "sync/IQVProcRunner.h"

#include <QByteArray>
#include <functional>
#include <memory>

// The engine runner the run controller uses: IQVProc with the controller's hooks. An analysis
// fills the comparison tree of IAnalyzeController from the engine's items: the tree is prepared
// and its result bits cleared at the start, and at the end it is completed (finalAnalyze) or, when
// the run did not complete, its result bits are cleared again.
class QVProcEngineRunner : public IQVProcRunner, private IQVProc::Client
{
public:
    QVProcEngineRunner();
    ~QVProcEngineRunner() override;

    bool start(const std::shared_ptr<ISynchron>& project, ISynchronProcController& controller) override;
    bool terminate() override;
    void setEndCallback(EndCallback callback) override { m_end = std::move(callback); }

    // Registers this runner as the process's engine runner (null while qv_proc is not installed).
    static void install();
    // Every program the runners write (for the driver's --program-out), on the main thread.
    static void setProgramObserver(std::function<void(const QByteArray&)> observer);

private:
    QString QVProcGetParamsTemplateNameForProject(ISynchron& project) override;
    bool QVProcInitParamsForProject(ISynchron& project, cJSON* program, cJSON* startParams) override;
    void QVProcStartInfoToLog(ISynchron& project) override;
    void QVProcWorkInfoProcess(const QByteArray& item) override;
    void ITProcessFinished() override;
    void engineStarted(const QStringList& args, pid_t group) override;
    // A volume-group clone's program: both volumes, the tools and the exclude files.
    bool fillCloneProgram(ISynchron& project, cJSON* program);

    std::shared_ptr<ISynchron> m_project;
    ISynchronProcController* m_controller = nullptr;
    std::shared_ptr<IQVProc> m_proc;
    AnalyzeLineParser m_parser;
    EndCallback m_end;
    QString m_programKey;
    bool m_analysis = false;
    int m_pass = 0; // an analysis in both directions runs the second pass after the first
};
