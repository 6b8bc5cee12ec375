#pragma once

// The run button and progress indicator of a function kit, as the coordinators drive them.
class IProcessIndicator
{
public:
    virtual ~IProcessIndicator() = default;
    // state: 0 not ready, 1 ready, 2 running; indicator: progress 0 to 100.
    virtual void setStateButton(int state, double indicator) = 0;
};
