#pragma once

#include <functional>
#include <memory>

class ISynchron;
class ISynchronProcController;

// Runs the outside engine for one run of one project: a volume-group clone or an analysis. The
// run controller makes one runner per run (through the registered factory) and keeps it until the
// run has ended. Main thread only, except where a member says otherwise.
class IQVProcRunner
{
public:
    // Called once, on the main thread, when the engine's work has ended after a successful start
    // (also after a stop). The project's card then holds the outcome: stateFinished with
    // reasonCompleted and no error for a completed run, else the reason and error flags.
    using EndCallback = std::function<void()>;
    using Factory = std::function<std::unique_ptr<IQVProcRunner>()>;

    virtual ~IQVProcRunner() = default;

    // Starts the engine's work for the project with the controller of the run (its hooks fill
    // and log the engine's program and take the corrected destination device). false when
    // nothing started; the card and the project's log then say why, and no end callback comes.
    virtual bool start(const std::shared_ptr<ISynchron>& project, ISynchronProcController& controller) = 0;
    // Stops the engine's work as the user's stop does; the end callback still follows. false
    // when there was nothing to stop.
    virtual bool terminate() = 0;
    // Set before start().
    virtual void setEndCallback(EndCallback callback) = 0;

    // The process-wide way to make runners. A factory answers null when its engine is not
    // installed (IProcController::qvProcPath() null); none is registered by default.
    static void setFactory(Factory factory);
    // A new runner, or null when no engine is there.
    static std::unique_ptr<IQVProcRunner> create();
};
