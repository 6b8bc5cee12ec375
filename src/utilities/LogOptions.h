#pragma once

#include <QtGlobal>

// Option bits of the log sink processMessage(text, options, sender) and the option words built
// from them, plus the target bits of the text router sendTextInfo(text, type, target, sender).
// Every caller names these constants instead of writing the numbers.
namespace LogOption {

inline constexpr quint64 String = 0x1; // the text is a string object
inline constexpr quint64 Utf8 = 0x2; // the text is UTF-8 bytes (wins over String)
inline constexpr quint64 Banner = 0x4; // ">>>>>>>>>>>   text", no prefixes
inline constexpr quint64 Status = 0x20; // the project's status line (projects only)
inline constexpr quint64 Window = 0x40; // the log window (also asks for the name prefix)
inline constexpr quint64 RunLog = 0x80; // the run log
inline constexpr quint64 Time = 0x100; // "yyyy-MM-dd HH:mm:ss " prefix
inline constexpr quint64 ProjectName = 0x200; // "\"name\" " prefix when the sender is a project
inline constexpr quint64 RunTag = 0x400; // the sender's run tag "( n ) "
inline constexpr quint64 Tab = 0x800; // the line starts with a tab
inline constexpr quint64 RefreshNow = 0x4000; // redraw the project's status line at once (projects only)
inline constexpr quint64 Notify = 0x8000; // a user notification with the text
inline constexpr quint64 BlankLineFirst = 0x10000; // an empty line goes to the run log first

} // namespace LogOption

// The option words in use.
namespace LogWord {

using namespace LogOption;

inline constexpr quint64 WindowOut = String | Window; // 65
inline constexpr quint64 UtilLog = String | RunLog; // 129
inline constexpr quint64 Utf8RunLog = Utf8 | RunLog; // 130
inline constexpr quint64 WindowAndRunLog = String | Window | RunLog; // 193
inline constexpr quint64 WindowWithTime = String | Window | Time; // 321
inline constexpr quint64 RunLogWithTime = String | RunLog | Time; // 385
inline constexpr quint64 WindowPrefixed = String | Window | Time | ProjectName | RunTag; // 1857
inline constexpr quint64 RunLogPrefixed = String | RunLog | Time | ProjectName | RunTag; // 1921
inline constexpr quint64 RunLogPrefixedUtf8 = Utf8 | RunLog | Time | ProjectName | RunTag; // 1922
inline constexpr quint64 BothPrefixed = String | Window | RunLog | Time | ProjectName | RunTag; // 1985
inline constexpr quint64 StatusNow = String | Status | RefreshNow; // 16417
inline constexpr quint64 StatusNowUtf8 = Utf8 | Status | RefreshNow; // 16418
inline constexpr quint64 WindowPrefixedNow = WindowPrefixed | RefreshNow; // 18241
inline constexpr quint64 WindowPrefixedNowUtf8
    = Utf8 | Window | Time | ProjectName | RunTag | RefreshNow; // 18242
inline constexpr quint64 StatusAndWindow
    = String | Status | Window | Time | ProjectName | RunTag | RefreshNow; // 18273
inline constexpr quint64 StatusAndWindowUtf8
    = Utf8 | Status | Window | Time | ProjectName | RunTag | RefreshNow; // 18274
inline constexpr quint64 RunLogPrefixedNow = RunLogPrefixed | RefreshNow; // 18305
inline constexpr quint64 StatusWindowNotify = StatusAndWindow | Notify; // 51041

// Words of the projects' own routings (they act on Status and RefreshNow themselves).
inline constexpr quint64 ProjectStatusWindowRunLog = 0x4761;
inline constexpr quint64 ProjectWindowRunLog = 0x4741;
inline constexpr quint64 ProjectStatusRunLog = 0x47a1;
inline constexpr quint64 ProjectRunLog = 0x4781;
inline constexpr quint64 ProjectStatus = 0x4021;
inline constexpr quint64 ProjectStatusUtf8 = 0x4022;
inline constexpr quint64 ProjectWindowRunLogUtf8 = 0x4742;
inline constexpr quint64 ProjectRunLogUtf8 = 0x4782;

static_assert(WindowOut == 65 && UtilLog == 129 && Utf8RunLog == 130 && WindowAndRunLog == 193);
static_assert(WindowWithTime == 321 && RunLogWithTime == 385 && WindowPrefixed == 1857);
static_assert(RunLogPrefixed == 1921 && RunLogPrefixedUtf8 == 1922 && BothPrefixed == 1985);
static_assert(StatusNow == 16417 && StatusNowUtf8 == 16418 && WindowPrefixedNow == 18241);
static_assert(WindowPrefixedNowUtf8 == 18242 && StatusAndWindow == 18273 && StatusAndWindowUtf8 == 18274);
static_assert(RunLogPrefixedNow == 18305 && StatusWindowNotify == 51041);

} // namespace LogWord

// Target bits of the text router. Only the lower eight bits reach the router (its target is one
// byte); the upper four are kept with the set for the callers that carry them.
inline constexpr quint32 tpStatus = 1;
inline constexpr quint32 tpLog = 2;
inline constexpr quint32 tpFullLog = 4;
inline constexpr quint32 tpTime = 8;
inline constexpr quint32 tpUtilOriginal = 16;
inline constexpr quint32 tpProcCodeString = 32;
inline constexpr quint32 tpSpace = 64;
inline constexpr quint32 tpMessage = 128;
inline constexpr quint32 tpShowNow = 256;
inline constexpr quint32 tpProjectName = 512;
inline constexpr quint32 tpStartShift = 1024;
inline constexpr quint32 tpSystem = 2048;
