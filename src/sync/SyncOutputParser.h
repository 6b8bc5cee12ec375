#pragma once

#include "utilities/IUTF8Tool.h"
#include "utilities/LogText.h"
#include "utilities/WorkEndStatus.h"

#include <QList>
#include <QString>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// The classifier of rsync's output in a synchronization run: it cuts the blocks of both streams
// into lines (CR or LF ends a line) and turns every line into progress, a phase text, a routed log
// line, end-status bits (wes*) and rsync error classes (pea*), and at the end of a run into one
// explanatory summary. Clone runs and analyses use the same rules.
//
// The run's reader threads feed it; one lock covers each block, so the lines of each stream keep
// their order and the counters have one writer at a time. Texts and progress go to the sink on
// the calling thread; the project behind the sink hands redraws to the main thread.
//
// rsync 3.2 and later tag their messages ("rsync: [receiver] ..."); the tag is dropped before a
// line is matched and the original line is what gets logged.
class SyncOutputParser
{
public:
    class Sink
    {
    public:
        virtual ~Sink() = default;
        // A text for the project's routing, with the log sink's option word.
        virtual void parserMessage(const LogText& text, quint64 options) = 0;
        // The project's progress in percent.
        virtual double parserIndicator() const = 0;
        virtual void parserSetIndicator(double position) = 0;
    };

    explicit SyncOutputParser(Sink* sink = nullptr);

    void setSink(Sink* sink) { m_sink = sink; }
    // Start of a run: counters, phase marks, status and classes cleared; passCount is 2 for a run
    // in both directions. cloneRules: a clone's copy, whose progress is the share of the files
    // already checked ("to-chk=R/T") and whose file names go to the log window.
    void prepare(int passCount, bool cloneRules = false);
    // Start of a pass (0 or 1): counters and phase marks cleared, status and classes kept.
    void startPass(int pass);

    // A block of one stream; every complete line in it is classified.
    void feed(const char* data, size_t size, bool stdError);
    // End of a stream: its last line without a break, when there is one.
    void finishStream(bool stdError);
    // One complete line (NUL-terminated UTF-8), for callers that cut lines themselves.
    void processLine(const char* line);

    quint32 processStatus() const;
    quint64 processErrorAccumulator() const;
    void addProcessStatus(quint32 bits);
    // The output is complete (rsync's last statistics line, or a full destination).
    bool isLastStringOut() const;
    double processedLineCount() const;
    double lineCount() const;
    double dirCount() const;

    // The error summary of a run's end.
    struct SummaryFacts
    {
        quint32 processStatus = wesClear;
        quint64 accumulator = peaClear;
        std::function<bool()> sourceUnavailable; // asked only when a rule needs it
        std::function<bool()> destinationUnavailable;
    };
    struct Summary
    {
        quint32 processStatus = wesClear;
        QList<std::pair<QString, quint64>> messages; // text and option word
    };
    static Summary printErrorAccumulatorToLog(const SummaryFacts& facts);

private:
    struct Stream
    {
        IUTF8Tool tool;
        std::vector<char> work;
    };
    void processLineLocked(const char* line);
    void classify(const char* line, const char* original);
    void classifyRsync(const char* line, const char* original);
    void message(const LogText& text, quint64 options);
    void updateIndicator();

    Sink* m_sink = nullptr;
    mutable std::mutex m_mutex;
    Stream m_out;
    Stream m_err;
    std::string m_untagged;

    int m_pass = 0;
    int m_passCount = 1;
    bool m_cloneRules = false;
    double _processedLineCount = 0;
    double _lineCount = 0;
    double _dirCount = 0;
    bool _deletingStarted = false;
    bool _copingStarted = false;
    bool _statisticStarted = false;
    bool _isLastStringOut = false;
    quint32 m_processStatus = wesClear;
    quint64 m_processErrorAccumulator = peaClear;
};
