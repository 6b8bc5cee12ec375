#pragma once

#include "sync/ISyncRunController.h"
#include "sync/SyncOutputParser.h"

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <sys/types.h>

class CloneBootTools;
class IQVProcRunner;
class ISynchron;
class RsyncPassRun;

// Runs one synchronization or clone of one project at a time through rsync: it settles the two
// places (mounting, the place prompts of a start by hand), builds each pass's command line, runs
// the pass as the user or through the root runner, classifies the output, moves the indicator and
// ends the run with its true result. A run in both directions is two passes, first to second,
// then second to first. Every pass's end is tagged with its run and pass, so a late end of an
// earlier pass never ends a later one. The exit status of rsync always counts: a killed rsync or
// one that fails without a telling line never ends as a success.
//
// Main thread only; the parser's sink calls come from the reader threads and go to the project,
// which hands its redraws to the main thread.
class ISynchronProcController : public QObject, public ISyncRunController, private SyncOutputParser::Sink
{
    Q_OBJECT
public:
    // toolPath: the rsync to run; a null string takes the application's own ("rsync3" in the
    // resources folder).
    explicit ISynchronProcController(const QString& toolPath = QString(), QObject* parent = nullptr);
    ~ISynchronProcController() override;

    static QString testToolPath();

    void processProject(const std::shared_ptr<ISynchron>& project) override;
    bool terminateProcess() override;
    bool isProcessing() const override;
    bool canWork() const override { return !m_toolPath.isEmpty(); }
    std::shared_ptr<ISynchron> synchron() const override { return m_synchron; }
    void setProcessFinishedByReason(int reason) override { m_processFinishedByReason = reason; }
    int processFinishedByReason() const { return m_processFinishedByReason; }

    // Every command a run starts, on the main thread: its vector and its process group.
    using CommandObserver = std::function<void(const QStringList& args, pid_t group)>;
    void setCommandObserver(CommandObserver observer) { m_commandObserver = std::move(observer); }
    // A command started on the run's behalf elsewhere (the engine runner's engine).
    void commandStarted(const QStringList& args, pid_t group)
    {
        if (m_commandObserver)
            m_commandObserver(args, group);
    }
    // Called on the main thread when a run has ended (after the pane was told), with its result:
    // 0 success, 1 failed, 3 warnings, 4 stopped; and when a start began no run, with -1.
    using EndObserver = std::function<void(int result, const QString& lastText)>;
    void setEndObserver(EndObserver observer) { m_endObserver = std::move(observer); }

    // The tools of a clone's boot steps (tests install fakes).
    void setCloneBootTools(std::unique_ptr<CloneBootTools> tools);

    // Hooks of the engine runner (IQVProcRunner), main thread. Prepare clears the card's error and
    // reason and marks it working and running; the template name is the engine's program for the
    // run ("clone_ASR" or "clone_RSYNC" for a volume-group clone, "synchronize" for an analysis);
    // the start information goes to the run log.
    bool QVProcPrepareForProject(ISynchron& project);
    QString QVProcGetParamsTemplateNameForProject(ISynchron& project) const;
    void QVProcStartInfoToLog(ISynchron& project);
    // The destination device the engine moved the clone's second place to; cleared at every start.
    void setCorrectedDestinationDevice(const QString& device) { m_correctedDevice = device; }
    QString correctedDestinationDevice() const { return m_correctedDevice; }

    quint32 processStatus() const { return m_processStatus; }
    // The command line of the current pass (the tool first); empty when no pass is due.
    QStringList prepareTaskArgs();

protected:
    // The end of one pass, tagged with the run it belongs to (run ids count up from 1 with every
    // pass started); an end of another run or pass changes nothing.
    void passEnded(quint64 runId, int exitCode, int exitSignal, bool stopSent);
    // The end of an analysis run by the engine, after its end callback: the card holds the
    // outcome. Ends the run (eventProcessFinished); a controller with a comparison tree extends it.
    virtual void analysisEnded();
    void endWith(int result);
    QString m_lastText;

private:
    enum class Settle
    {
        Ready,
        Failed
    };
    Settle settlePlaces(ISynchron& P);
    bool startPass();
    void finishPasses();
    void finishRun();
    void finishTerminated();
    void failureEnd();
    bool startEngine();
    void engineEnded();
    void message(const QString& text, quint64 options);
    void controlTick();

    // Parser sink (reader threads).
    void parserMessage(const LogText& text, quint64 options) override;
    double parserIndicator() const override;
    void parserSetIndicator(double position) override;

    QString m_toolPath;
    std::shared_ptr<ISynchron> m_synchron;
    std::atomic<ISynchron*> m_sinkProject { nullptr };
    SyncOutputParser m_parser;
    std::unique_ptr<RsyncPassRun> m_run;
    std::unique_ptr<CloneBootTools> m_bootTools;
    quint64 m_runId = 0;
    int m_pass = -1;
    int m_passCount = 1;
    quint32 m_processStatus = 0;
    int m_processFinishedByReason = 1;
    bool m_userStopped = false;
    bool m_admin = false;
    bool m_ending = false;
    bool m_endTimerArmed = false;
    QTimer m_controlTimer;
    std::unique_ptr<IQVProcRunner> m_engine;
    QString m_correctedDevice;
    CommandObserver m_commandObserver;
    EndObserver m_endObserver;
};
