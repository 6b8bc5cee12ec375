#pragma once

#include <memory>

class ISynchron;

// The run controller of synchronizations, clones and analyses as the project list drives it: one
// run at a time. The container holds its project through std::shared_ptr, so a project deleted
// from its list stays valid until its run has ended. Main thread only.
class ISyncRunController
{
public:
    virtual ~ISyncRunController() = default;

    // Starts a run of the project (success shows in its card and indicator).
    virtual void processProject(const std::shared_ptr<ISynchron>& project) = 0;
    // Stops the run at once (user stop, sleep, quit); false when it could not be stopped.
    virtual bool terminateProcess() = 0;
    // True while a run is going on.
    virtual bool isProcessing() const = 0;
    // The copying tool is there: runs can start.
    virtual bool canWork() const = 0;
    // The project of the current run; null between runs.
    virtual std::shared_ptr<ISynchron> synchron() const = 0;
    // Why the run is ending: 1 terminated (user, start failure, authorization), 2 a volume went away.
    virtual void setProcessFinishedByReason(int reason) = 0;
};
