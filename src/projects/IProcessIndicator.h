#pragma once

#include <memory>

// The start/stop control of a pane as the engine and the pane controllers see it: button state
// 0 (nothing can start), 1 (start) or 2 (stop, running) and the run's percentage. The widget
// implements it; owners set the state while runs go on, from any thread.
class IProcessIndicator
{
public:
    virtual ~IProcessIndicator() = default;

    // The one update call of a running project: state and percentage (see the widget for the rules).
    virtual void setStateButton(int state, double percentage) = 0;
    virtual int buttonState() const = 0;
    virtual void setButtonState(int state) = 0;
    // The percentage truncated toward zero.
    virtual int indicatorState() const = 0;
    virtual void setIndicatorState(double percentage) = 0;
};

// Gets the click on an indicator's button; it reads buttonState() to tell a start (1) from a
// stop (2). An indicator keeps its owner through lifetime(), so a click after the owner is gone
// reaches nobody.
class IMainButtonOwner
{
public:
    IMainButtonOwner() = default;
    IMainButtonOwner(const IMainButtonOwner&) = delete;
    IMainButtonOwner& operator=(const IMainButtonOwner&) = delete;
    virtual ~IMainButtonOwner() = default;

    virtual void mainButtonClickedOn(IProcessIndicator* indicator) = 0;

    std::weak_ptr<void> lifetime() const { return m_alive; }

private:
    std::shared_ptr<void> m_alive = std::make_shared<char>(0);
};
