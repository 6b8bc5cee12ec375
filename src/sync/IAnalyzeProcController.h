#pragma once

#include "sync/AnalyzeLineParser.h"
#include "sync/IQVProc.h"
#include "sync/ISyncRunController.h"

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

// The run controller of analyses: a dry run of a synchronization through the outside engine
// (program "synchronize"), whose item lines fill the comparison tree of IAnalyzeController. A run
// in both directions analyses the second pass after the first. The end reads the engine's card
// and the start as well as the items: a failed start, an engine error, an unexpected end or a
// refused authorization ends "Analyze failed" with the result bits cleared; warnings do not fail
// it. Main thread only.
class IAnalyzeProcController : public QObject, public ISyncRunController, private IQVProc::Client
{
public:
    explicit IAnalyzeProcController(QObject* parent = nullptr);
    ~IAnalyzeProcController() override;

    void processProject(const std::shared_ptr<ISynchron>& project) override;
    bool terminateProcess() override;
    bool isProcessing() const override { return m_running; }
    bool canWork() const override { return true; }
    std::shared_ptr<ISynchron> synchron() const override { return m_synchron; }
    void setProcessFinishedByReason(int reason) override { m_reason = reason; }

    // The engine's starts (vector and process group) and the end of each analysis, with its result
    // (0 completed, 1 failed, 4 stopped) and its text.
    using CommandObserver = std::function<void(const QStringList& args, pid_t group)>;
    void setCommandObserver(CommandObserver observer) { m_commandObserver = std::move(observer); }
    using EndObserver = std::function<void(int result, const QString& text)>;
    void setEndObserver(EndObserver observer) { m_endObserver = std::move(observer); }
    // Every program file the runner writes (its bytes), for the driver.
    using ProgramObserver = std::function<void(const QByteArray& program)>;
    void setProgramObserver(ProgramObserver observer) { m_programObserver = std::move(observer); }

    // The rsync options of an analysis pass: "-n" first, no statistics.
    static QStringList analysisOptions(ISynchron& project, int pass);
    // The project's own "--exclude=" words: invisible items, patterns, names with line breaks.
    static QStringList extraExcludeArguments(ISynchron& project);
    // Fills the "synchronize" program for a pass; false when the template lacks its objects.
    // observer (may be empty) gets the filled program's text.
    static bool fillSynchronizeProgram(ISynchron& project, int pass, cJSON* program,
        const std::function<void(const QByteArray&)>& observer = {});

private:
    // IQVProc::Client
    QString QVProcGetParamsTemplateNameForProject(ISynchron& project) override;
    bool QVProcInitParamsForProject(ISynchron& project, cJSON* program, cJSON* startParams) override;
    void QVProcWorkInfoProcess(const QByteArray& item) override;
    void ITProcessFinished() override;
    void engineStarted(const QStringList& args, pid_t group) override;

    bool startPass();
    void processFinished(quint32 status);

    std::shared_ptr<ISynchron> m_synchron;
    std::shared_ptr<IQVProc> m_runner;
    AnalyzeLineParser m_parser;
    int m_pass = 0;
    int m_reason = 1;
    bool m_running = false;
    bool m_userStopped = false;
    CommandObserver m_commandObserver;
    EndObserver m_endObserver;
    ProgramObserver m_programObserver;
};
