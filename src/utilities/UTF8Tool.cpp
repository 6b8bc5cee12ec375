#include "UTF8Tool.h"

UTF8Tool& UTF8Tool::Shared()
{
    static UTF8Tool instance;
    return instance;
}

bool UTF8Tool::GetVersionString(const char* text, std::string* output)
{
    if (!text)
        return false;
    const char* start = text;
    while (*start && !(*start >= '0' && *start <= '9'))
        ++start;
    if (!*start)
        return false;
    const char* end = start;
    while (*end && *end != ' ' && *end != '\t' && *end != '\r' && *end != '\n')
        ++end;
    if (output)
        output->assign(start, end);
    return true;
}
