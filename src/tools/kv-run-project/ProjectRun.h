#pragma once

#include "ArgvOutFile.h"
#include "RunOptions.h"

#include <QObject>
#include <QString>
#include <memory>

class DriverBackup3Controller;
class DriverShellServices;
class DriverUiPrompts;
class IBackup3;
class IBackup3Container;
class IBackup3Processor;

// One run of kv-run-project: loads the workspace's project list, starts the named project as a
// user start (or as the scheduler starts it), waits for its end and turns the result into the
// driver's exit code and last line. SIGINT, SIGTERM and the timeout stop the run as the user's
// stop button does.
class ProjectRun : public QObject
{
    Q_OBJECT
public:
    // Exit codes of the driver.
    enum ExitCode
    {
        ExitSuccess = 0,
        ExitFailed = 1,
        ExitNotStarted = 2,
        ExitWarnings = 3,
        ExitStopped = 4
    };

    explicit ProjectRun(const RunOptions& options);
    ~ProjectRun() override;

    // Catches SIGINT and SIGTERM from now on; call it first thing in main.
    static void catchStopSignals();
    // The read end the stop signals write their number to; -1 when not caught.
    static int stopSignalFd();

    // Runs and returns the exit code; the last line for standard output is lastLine().
    int exec();
    QString lastLine() const { return m_lastLine; }

    // The driver's exit code for a run result. version: the new version folder (empty: none).
    static int exitCodeFor(int resultCode, bool restore, const QString& version);

private:
    int notStarted(const QString& reason);
    bool prepare(QString* reason);
    std::shared_ptr<IBackup3> findProject(QString* reason) const;
    // The temporary project of a restore from a project folder outside the list.
    std::shared_ptr<IBackup3> externalProject(QString* reason) const;
    // Builds the restore request of --restore and sets it on the project.
    bool prepareRestore(QString* reason);
    void start();
    void requestStop(const QString& why);
    void onFinished(int code);
    void watchStopSignals();

    RunOptions m_options;
    ArgvOutFile m_argvOut;
    std::unique_ptr<DriverShellServices> m_shell;
    std::unique_ptr<DriverBackup3Controller> m_controller;
    std::unique_ptr<DriverUiPrompts> m_prompts;
    std::unique_ptr<IBackup3Container> m_container;
    IBackup3Processor* m_processor = nullptr; // owned by the container
    std::shared_ptr<IBackup3> m_project;
    bool m_restore = false;
    QString m_restoreVersion; // the version folder a restore reads
    bool m_finished = false;
    int m_resultCode = -1;
    QString m_lastLine;
};
