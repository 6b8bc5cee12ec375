#pragma once

#include <functional>

class QVAgentState;
class QVConnectMessage;

// The one merge of a received scheduler state (message types 4 and 7) into a program's own state,
// used by the main application's hub and by the agent. The newer state wins: a received stamp
// greater than or equal to the own one replaces the own state whole (bits, stamp and resume date,
// without a new stamp) and is saved; an older one is answered with the own state as type 4, so
// that both programs end on the newer state. A message without a numeric "State" changes nothing.
class AgentStateMerge
{
public:
    enum class Result
    {
        Taken,
        Answered,
        Dropped,
    };

    static Result apply(
        QVAgentState& own, const QVConnectMessage& message, const std::function<void()>& save = {});
};
