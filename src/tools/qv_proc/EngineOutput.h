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

// Writes prefix + text + "\n"; false (and a stop) when the write fails, false after a stop.
bool line(const char* prefix, const std::string& text);
inline bool line(const std::string& text)
{
    return line("", text);
}

} // namespace EngineOutput
