#pragma once

#include "utilities/LogText.h"
#include "utilities/WorkEndStatus.h"

#include <QList>
#include <QString>
#include <QtGlobal>
#include <functional>
#include <mutex>
#include <string>
#include <utility>

class IUTF8Tool;

// The copying tool's output parser of a snapshot-backup run: it turns every line of rsync's
// output into a progress update, a routed log line, end-status bits and error classes. The engine
// feeds it the chunks its reader threads read; both streams may arrive at once, so one lock covers
// a chunk, which keeps the order of the lines within each stream.
//
// rsync 3.2 and later put a role tag after "rsync: " ("rsync: [sender] …"); the tag is dropped
// before a line is classified and the original line is what gets logged.
class IBackup3OutputParser
{
public:
    // Where the parser's results go. Called on the reader thread that parses the chunk.
    class Sink
    {
    public:
        virtual ~Sink() = default;
        // A text for the project's log routing (option word of the log sink).
        virtual void parserMessage(const LogText& text, quint64 options) = 0;
        // The run's progress in percent (never shown at once).
        virtual void parserProgress(double position) = 0;
        // The destination is full: the child must end now (the engine does this on the main thread).
        virtual void parserKillRequest() = 0;
    };

    explicit IBackup3OutputParser(Sink* sink = nullptr);

    void setSink(Sink* sink) { m_sink = sink; }
    // The run's shape for the progress: units = usable sources (backup) or restore items
    // (restore), loopCount = passes started so far, counting the current one.
    void setProgressShape(long units, long loopCount, bool restore);
    // Start of a pass: counters and phase flags cleared, the status starts at the given bits and
    // the error classes at peaClear.
    void startPass(quint32 preProcessStatus);

    // Every complete line of the scanner's current chunk, in order.
    void utilOutputProcess(IUTF8Tool& tool, bool stdError);
    // End of a stream: the last line without a break, when there is one.
    void finishStream(IUTF8Tool& tool, bool stdError);
    // One line (NUL-terminated UTF-8), as the scanner hands it over.
    void processLine(const char* line);

    static bool isStatisticLine(const char* line);

    quint32 processStatus() const;
    quint64 processErrorAccumulator() const;
    void addProcessStatus(quint32 bits);
    void addProcessErrorAccumulator(quint64 bits);
    double processedLineCount() const;
    double lineCount() const;

    // The facts the error report needs about the run's places; the callbacks are asked only
    // when a rule needs them.
    struct ErrorReportFacts
    {
        quint32 processStatus = wesClear;
        quint64 accumulator = peaClear;
        bool useImage = false;
        std::function<bool()> imageAvailable; // the image's path can still be verified
        std::function<qint64()> imageFreeBytes; // free bytes of the image's volume
        bool passCurrent = false; // a pass is current (not past the last one)
        std::function<bool()> sourceUnavailable;
        std::function<bool()> destinationUnavailable;
        bool admin = false;
    };
    struct ErrorReport
    {
        quint32 processStatus = wesClear;
        QList<std::pair<QString, quint64>> messages; // text and option word
        int workingState = 0; // image working state to set (5 full, 6 unavailable), 0 none
    };
    // The error classes of a pass turned into one explanatory message; may change the status.
    static ErrorReport printErrorAccumulatorToLog(const ErrorReportFacts& facts);

private:
    void processLineLocked(const char* line);
    void classify(const char* line, const char* original);
    void message(const LogText& text, quint64 options);
    void updateProgress();
    bool parseProgressCounters(const char* line, bool* isProgress);
    bool isBareProgressLine(const char* line) const;

    Sink* m_sink = nullptr;
    mutable std::mutex m_mutex;

    long m_units = 1;
    long m_loopCount = 1;
    bool m_restore = false;

    double _processedLineCount = 0;
    double _lineCount = 0;
    bool _deletingStarted = false;
    bool _copingStarted = false;
    bool _statisticStarted = false;
    quint32 _processStatus = wesClear;
    quint64 _processErrorAccumulator = peaClear;

    std::string m_untagged; // work area for a line without its role tag
};
