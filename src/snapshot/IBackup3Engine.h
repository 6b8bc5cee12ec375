#pragma once

#include <memory>

class IBackup3;

// The run engine as the snapshot-backup list sees it: it runs one project at a time and returns
// the project to idle (operation state 0) when the run ends. The list owns exactly one engine.
class IBackup3Engine
{
public:
    virtual ~IBackup3Engine() = default;

    // Starts a run (a backup, or a restore when the project carries restore data). When the run
    // cannot start, the project is idle again when this returns.
    virtual void processProject(const std::shared_ptr<IBackup3>& project) = 0;
    // The user's stop; true.
    virtual bool terminateProcess() = 0;
    // The destination went away during the run; true.
    virtual bool terminateProcessWithReason(int reason) = 0;
    // The list found its project not running after processProject: clear its restore data,
    // make it idle, forget it and report result 0 to the pane.
    virtual void preprocessFailed() = 0;
    // The project of the current run; null when idle.
    virtual std::shared_ptr<IBackup3> backup3() const = 0;
    // True when the copying tool was found.
    virtual bool canWork() const = 0;
};
