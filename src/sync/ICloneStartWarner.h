#pragma once

class ISynchron;

// The warning shown before a clone started by hand: it names what will be overwritten and asks for
// confirmation. The pane registers the window at start-up; the headless default does not confirm
// and logs one line.
class ICloneStartWarner
{
public:
    virtual ~ICloneStartWarner() = default;

    static ICloneStartWarner& shared();
    // nullptr restores the headless default; the caller keeps ownership
    static void setShared(ICloneStartWarner* warner);

    // True when the user confirmed the clone.
    virtual bool showForClone(ISynchron* project) = 0;
};

class HeadlessCloneStartWarner : public ICloneStartWarner
{
public:
    bool showForClone(ISynchron* project) override;
};
