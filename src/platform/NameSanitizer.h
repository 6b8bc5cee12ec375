#pragma once

#include <QString>

// The one sanitiser for names that become a single path component (project names, image
// names): "/", NUL and control bytes become "_", trailing blanks are trimmed, a leading "-"
// gets "_" in front (so no tool takes the name for an option), and the result is cut to
// 255 bytes at a character boundary. "." and ".." and names that end up empty are refused:
// the answer is then a null QString and *refused is set.
namespace NameSanitizer {

QString sanitize(const QString& name, bool* refused = nullptr);

inline constexpr int kMaxComponentBytes = 255;

} // namespace NameSanitizer
