#pragma once

#include "projects/QVAgentState.h"
#include "utilities/MainPreferences.h"

// Lets the main preferences read and write a scheduler state object ("AgentState" in
// QVPrefs.plist). The owner of the state attaches it with MainPreferences::setAgentState.
class QVAgentStatePrefs : public PrefsAgentState
{
public:
    explicit QVAgentStatePrefs(QVAgentState& state)
        : m_state(state)
    { }
    int getInt() const override { return m_state.getInt(); }
    double modifyInterval() const override { return m_state.modifyInterval(); }
    QDateTime scheduleResumeDate() const override { return m_state.scheduleResumeDate(); }
    void set(int bits, double interval, const QDateTime& resume) override
    {
        m_state.set(bits, interval, resume);
    }
    void setOn(int bits) override { m_state.setOn(bits); }
    void setOff(int bits) override { m_state.setOff(bits); }

private:
    QVAgentState& m_state;
};
