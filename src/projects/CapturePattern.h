#pragma once

#include <QString>

// The name patterns the settings sheets capture from a chosen file or folder.
namespace CapturePattern {

// Rule 0 "*.<extension>", 1 "<name without extension>.*", 2 the whole name; other rules and
// names without what the rule needs give a null string.
QString patternForItem(int rule, const QString& fileName);
// With combine on and an old text that is neither empty nor the new pattern: "old|new";
// otherwise the new pattern.
QString combined(const QString& oldText, const QString& pattern, bool combine);

} // namespace CapturePattern
