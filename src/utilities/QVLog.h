#pragma once

#include <QByteArray>
#include <QString>

// Logging front ends. The QString forms take the finished text; the const char* forms take a
// printf format and its arguments (pass data only as arguments, never as the format).

// No-ops kept for their callers.
inline void QVLog(const QString&) { }
inline void QVLog(const char*, ...) { }
inline void QVMessage(const QString&) { }
inline void QVMessage(const char*, ...) { }

// "* text" on the standard output, then the text as a debug message to the agent.
void QVDebugMessage(const QString& text);
void QVDebugMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The JSON text of a debug message: {"Text": text}.
QByteArray QVDebugMessageJson(const QString& text);

// The text and a line feed to the run log, only while full-log debugging is on.
void QVFullLog(const QString& text);
void QVFullLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
bool fullLogDebug(); // the Info.plist key "g_FullLogDebug"
void setFullLogDebug(bool on);

// A run-log line (options 129) and a log-window line (options 65) through the shell's log sink.
void QVUtilLog(const QString& text);
void QVUtilLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
void QVLogWindowOut(const QString& text);
void QVLogWindowOut(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Appends a text to the run log unless it equals the text handed over last. One lock covers
// the comparison and the write, so concurrent callers never interleave or lose a line.
void setTextToFullLog(const QByteArray& text);
// Forgets the last text (tests, a new run log).
void resetLastFullLogText();

// The next run tag "( n ) ".
QString QVProcessingCodeString();
