#include "projects/AgentStateMerge.h"

#include "projects/QVAgentState.h"
#include "projects/QVConnectMessage.h"

AgentStateMerge::Result AgentStateMerge::apply(
    QVAgentState& own, const QVConnectMessage& message, const std::function<void()>& save)
{
    QVAgentState received;
    if (!message.getAgentStateTo(received))
        return Result::Dropped;
    if (received.modifyInterval() >= own.modifyInterval()) {
        own.set(received.getInt(), received.modifyInterval(), received.scheduleResumeDate());
        if (save)
            save();
        return Result::Taken;
    }
    QVConnectMessage answer = QVConnectMessage::messageWithSenderAndType(QVConnectMessage::TypeAgentState);
    answer.setAgentState(own);
    answer.send();
    return Result::Answered;
}
