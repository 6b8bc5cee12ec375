#pragma once

#include <QDateTime>
#include <QVariantMap>
#include <functional>

// The scheduler state that the main application and the agent keep and exchange.
// Bits: 1 scheduled starts are on, 2 suspended until the resume date, 4 the agent shows its
// status menu, 8 the agent is needed (kept set while 1 or 4 is set). Every change stamps the
// state with the time in seconds since 1 January 2001 00:00:00 UTC; of two states the one with
// the greater or equal stamp wins (AgentStateMerge).
class QVAgentState
{
public:
    enum Bits : int
    {
        ScheduleOn = 1,
        Suspended = 2,
        ShowStatusMenu = 4,
        AgentNeeded = 8,
    };

    // A state with bits 0, no resume date and the time stamp now.
    QVAgentState();
    static QVAgentState agentState() { return QVAgentState(); }

    int getInt() const { return _value; }
    bool isOn(int bits) const { return (_value & bits) != 0; }
    void setOn(int bits);
    void setOff(int bits);

    QDateTime scheduleResumeDate() const { return _scheduleResumeDate; }
    // A date in the past is dropped; a remaining date turns bits 1 and 2 on, none turns 2 off.
    void setScheduleResumeDate(const QDateTime& date);
    // True when a suspension is over (or there is none): then bit 2 and the date are cleared.
    bool isTimeToResumeSchedile();

    // Replaces bits, stamp and resume date without a new stamp (a negative stamp counts as 0).
    void set(int bits, double modifyInterval, const QDateTime& scheduleResumeDate);

    double modifyInterval() const { return _modifyTimeInterval; }
    void setModifyInterval(double interval) { _modifyTimeInterval = interval; }
    QDateTime modifyDate() const { return _modifyDate; }
    void setModifyDate(const QDateTime& date) { _modifyDate = date; }

    // The current time as a stamp (the injectable clock).
    static double nowInterval();
    // The text of a resume date as both programs write it: "yyyy-MM-dd HH:mm:ss +hhmm".
    static QString resumeDateText(const QDateTime& date);
    // Reads that text back; null when it is not in that form.
    static QDateTime resumeDateFromText(const QString& text);

    // The change report. Only the main application installs one (it redraws the hub's suspend
    // controls); the agent leaves it empty. Process-wide; an empty function removes it.
    static void setChangeHook(std::function<void()> hook);

    // The form kept under "AgentState" in the main preferences: "State", "ModifyInterval" and,
    // when there is a resume date, "ScheduleResumeDate".
    QVariantMap toPrefsDictionary() const;
    // Takes a stored value: a dictionary with "State", or a plain number (the older form, stamp 0).
    // False and no change for anything else.
    bool setFromPrefsValue(const QVariant& value);
    // The same through the main preferences file, key "AgentState".
    bool saveToMainPrefs() const;
    bool loadFromMainPrefs();

private:
    void stamp();
    void stateChanged();

    int _value = 0;
    QDateTime _scheduleResumeDate;
    QDateTime _modifyDate;
    double _modifyTimeInterval = 0;
};
