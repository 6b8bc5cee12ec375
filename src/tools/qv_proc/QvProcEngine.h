#pragma once

#include <QStringList>
#include <cjson/cJSON.h>
#include <functional>
#include <string>
#include <vector>

// The outside engine: runs the phases of a JSON program and reports them as protocol lines
//   qv_proc_pid <pid>            first, before anything else
//   ii::command_line <words>     before each command
//   wi::<line>                   an item of an analysis (rsync's own line)
//   pi::<percent>                progress
//   wp:: st:: wg:: er::          progress text, other tools' text, warnings, errors
//   id::{"device":"<name>"}      the destination's new System volume
//   ii::<phase> Phase not completed, or "ic:: end" last when every phase succeeded.
// Commands run as argument vectors, never through a shell, in the engine's process group, so that
// a stop of the group reaches them; a stop signal ends the engine at any moment, children first.
class QvProcEngine
{
public:
    // argv as main() gets it; returns the exit status.
    int run(int argc, char** argv);

    // "Params" split at blanks.
    static QStringList splitParams(const std::string& params);
    // One exclude word from an "exFile1Path"/"exFile2Path" value: a bare path or the form
    // NOE::--exclude-from="PATH" gives "--exclude-from=PATH"; empty gives nothing.
    static QString excludeWord(const std::string& value);

    struct ChildEnd
    {
        bool started = false;
        bool stopped = false; // ended by the engine's stop
        int exitCode = -1;
        int signal = 0;
    };
    using LineHandler = std::function<void(const char* line)>;
    // Runs one command in the engine's group, its two streams cut into lines.
    static ChildEnd runCommand(const QStringList& argv, const LineHandler& out, const LineHandler& err);
    // Runs commands as a pipe chain (each one's output the next one's input), all in the engine's
    // group; the last one's output and every error stream cut into lines. One end per command,
    // each read on its own: a chain succeeds only when every member does.
    static std::vector<ChildEnd> runPipeline(
        const QList<QStringList>& commands, const LineHandler& out, const QList<LineHandler>& errors);

    // The program's extra exclude words ("exArgs") and its two exclude files, as rsync words.
    static QStringList excludeArguments(cJSON* data);
    // The end of an rsync run: success; code 23 or 24 a warning ("wg::", with `skipped`) and
    // success; anything else an error ("er::", `failed` in front) and false. A stopped or
    // unstarted rsync fails without a line.
    static bool rsyncEnded(const ChildEnd& end, const std::string& skipped, const std::string& failed);
    // The words of a command as the log shows them.
    static std::string joinWords(const QStringList& words);
    // rsync's messages by the classifier of synchronization runs: errors, warnings, the rest.
    static void rsyncErrorLine(const char* line);

private:
    bool runPhase(const std::string& phase, cJSON* data);
    bool phaseSynchronize(cJSON* data);
    bool phaseCloneRsync(cJSON* data);
    bool phaseCloneAsr(cJSON* data);
};
