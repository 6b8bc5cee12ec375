#pragma once

#include "ArgvOutFile.h"
#include "RunOptions.h"

#include <QList>
#include <QObject>
#include <QString>
#include <memory>

class DriverShellServices;
class DriverUiPrompts;
class ISynchron;
class ISynchronContainer;
class ISynchronProcController;
class ISynchronizeController;

// One run of kv-run-project's synchronization and clone kits: loads both lists of the workspace,
// starts the named project as a start by hand (or as the scheduler starts it), waits for its end,
// saves the lists as the application does at quit and turns the result into the driver's exit
// code and last line. SIGINT, SIGTERM and the timeout stop the run as the stop button does.
class SyncProjectRun : public QObject
{
    Q_OBJECT
public:
    explicit SyncProjectRun(const RunOptions& options);
    ~SyncProjectRun() override;

    int exec();
    QString lastLine() const { return m_lastLine; }

private:
    int notStarted(const QString& reason);
    bool prepare(QString* reason);
    bool readStdin(QString* reason);
    int execCheck();
    // --check: the clone's pre-flight verdict over its stored places; nothing starts.
    int execCloneCheck();
    // Starts queued projects until one runs or the queue is empty; a start that began no run
    // gets its line at once.
    void pumpQueue();
    void printRunLine(const ISynchron& project, int code, const QString& status);
    void requestStop(const QString& why);
    void onEnded(int result, const QString& text);
    // --analyze: the analysis as the outline starts it, the tree written out at the end.
    int execAnalyze();

    RunOptions m_options;
    int m_type = 0; // 0 synchronizations, 1 clones
    ArgvOutFile m_argvOut;
    std::unique_ptr<DriverShellServices> m_shell;
    std::unique_ptr<DriverUiPrompts> m_prompts;
    std::unique_ptr<ISynchronizeController> m_pane;
    std::unique_ptr<ISynchronContainer> m_container;
    ISynchronProcController* m_controller = nullptr; // owned by the container
    std::shared_ptr<ISynchron> m_project;
    bool m_started = false;
    bool m_finished = false;
    int m_result = -1;
    QString m_endText;
    QString m_lastLine;
    // Checks: the project of the run in progress, the codes of the runs so far, and whether a
    // stop emptied the queue.
    std::shared_ptr<ISynchron> m_checkRun;
    QList<int> m_checkCodes;
    bool m_checkStopped = false;
    std::unique_ptr<class Clock> m_clock;
    std::unique_ptr<class AnalyzeTreeModel> m_tree;
    std::unique_ptr<class QFile> m_programOut;
    qint64 m_runStartMs = 0;
    qint64 m_engineEofMs = -1;
};
