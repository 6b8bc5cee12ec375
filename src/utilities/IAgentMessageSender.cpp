#include "utilities/IAgentMessageSender.h"

#include <atomic>

namespace {
std::atomic<IAgentMessageSender*> g_sender { nullptr };
}

IAgentMessageSender& IAgentMessageSender::shared()
{
    static NullAgentMessageSender none;
    IAgentMessageSender* sender = g_sender.load(std::memory_order_acquire);
    return sender ? *sender : none;
}

void IAgentMessageSender::setShared(IAgentMessageSender* sender)
{
    g_sender.store(sender, std::memory_order_release);
}
