#pragma once

#include "IUTF8Tool.h"

#include <string>

// The second face of the line scanner: the same scanner as members, a process-wide instance, and
// static forms of the string functions with a capital first letter (used by the volume table, the
// disk information and the message routing).
class UTF8Tool : public IUTF8Tool
{
public:
    UTF8Tool() = default;

    // The process-wide instance. Only its static string functions are meant for several threads.
    static UTF8Tool& Shared();

    static UTF8Position FindString(
        const char* pattern, const char* buffer, int64_t length, int64_t readable = 0)
    {
        return findString(pattern, buffer, length, readable);
    }
    static bool ContainsString(const char* pattern, const char* string)
    {
        return containsString(pattern, string);
    }
    static bool HasPrefix(const char* prefix, const char* string) { return hasPrefix(prefix, string); }
    static bool HasSuffix(const char* suffix, const char* string) { return hasSuffix(suffix, string); }
    static int64_t SymbolCount(const char* string) { return symbolCount(string); }
    static const char* BytePosInString(const char* string, int64_t index)
    {
        return bytePosInString(string, index);
    }
    static bool IsEqualString(const char* string1, const char* string2)
    {
        return isEqualString1(string1, string2);
    }
    static bool isEqualString(const char* string1, const char* string2)
    {
        return isEqualString1(string1, string2);
    }
    static void CopyString(const char* from, char* to) { copyString1(from, to); }
    static void copyString(const char* from, char* to) { copyString1(from, to); }

    // The version in a text such as "Version 11.2.3 (20D91)": from the first decimal digit to the
    // first blank (space, tab, CR, LF) or the end. False when the text has no digit. The version
    // goes to *output when output is not null.
    static bool GetVersionString(const char* text, std::string* output);
};
