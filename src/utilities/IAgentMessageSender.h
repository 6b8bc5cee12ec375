#pragma once

#include <QString>

// Sends one agent message of a type with a text (type 8 carries the debug texts of
// QVDebugMessage). The agent link registers its implementation; without one nothing is sent.
class IAgentMessageSender
{
public:
    virtual ~IAgentMessageSender() = default;

    static IAgentMessageSender& shared();
    // nullptr restores the default; the caller keeps ownership
    static void setShared(IAgentMessageSender* sender);

    virtual void sendMessage(qint32 type, const QString& text) = 0;
};

class NullAgentMessageSender : public IAgentMessageSender
{
public:
    void sendMessage(qint32, const QString&) override { }
};
