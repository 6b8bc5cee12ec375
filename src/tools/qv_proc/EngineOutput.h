#pragma once

#include <csignal>
#include <string>

// The engine's one channel back: whole protocol lines on standard output, each written and
// flushed at once, from any thread. A stop (SIGTERM, SIGINT, SIGHUP, or a write that fails because
// the reader is gone) silences it for good: after a stop nothing more is printed.
namespace EngineOutput {

// Installs the stop handlers and ignores SIGPIPE, so a gone reader shows as EPIPE.
void installStopHandlers();

// True once a stop was asked for.
bool stopRequested();
void requestStop();

// While a step that changes the destination for good runs (the old volume already gone), its
// outcome must still reach the application after a stop signal: the device that now exists, or
// why it does not. Lines are then written until the step ends, unless the reader is gone.
void beginOutcome();
void endOutcome();

// Writes prefix + text + "\n"; false (and a stop) when the write fails, false after a stop
// (outside an outcome step).
bool line(const char* prefix, const std::string& text);
inline bool line(const std::string& text)
{
    return line("", text);
}

} // namespace EngineOutput
