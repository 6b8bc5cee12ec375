#pragma once

#include <string>

// rsync 3.2 and later put a role tag after "rsync: " in its messages ("rsync: [sender] ...",
// "[receiver]", "[generator]"). The classifiers of rsync's output match the messages without it;
// the original line is what gets logged.
class RsyncRoleTag
{
public:
    // The line without its role tag: "rsync: [word] text" gives "rsync: text", written into work
    // (which keeps its capacity, so a reader thread allocates nothing once it is large enough).
    // Any other line is returned unchanged. Only a tag of letters right after "rsync: " counts, so
    // a bracketed word inside a file name is never taken for one.
    static const char* strip(const char* line, std::string& work);
};
