#include "utilities/RsyncRoleTag.h"

#include <cstring>

const char* RsyncRoleTag::strip(const char* line, std::string& work)
{
    static constexpr char prefix[] = "rsync: [";
    static constexpr size_t prefixLength = sizeof prefix - 1;
    if (!line || std::strncmp(line, prefix, prefixLength) != 0)
        return line;
    const char* word = line + prefixLength;
    const char* close = std::strchr(word, ']');
    if (!close || close == word || close[1] != ' ')
        return line;
    for (const char* p = word; p < close; ++p)
        if (!((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z')))
            return line;
    work.assign("rsync: ");
    work.append(close + 2);
    return work.c_str();
}
