#pragma once

#include <QString>
#include <cstdint>

// The one text form of every UUID the system shows, stores or compares (file-system UUIDs,
// subvolume UUIDs, group UUIDs): upper case, the canonical 8-4-4-4-12 groups for 16-byte
// UUIDs, other forms (a FAT serial "ABCD-1234") kept as they are apart from the case.
// Comparisons ignore case, so texts stored by older versions still match.
namespace UuidText {

QString fromBytes(const uint8_t bytes[16]); // empty when all bytes are zero
QString normalized(const QString& text); // trimmed, upper case; empty stays empty
bool equal(const QString& a, const QString& b); // both non-empty and equal without regard to case
bool isNull(const QString& text); // empty, or a UUID of zeros only

} // namespace UuidText
