#pragma once

#include <QByteArray>
#include <QString>
#include <string>

// Reads a whole file with read(2) until its end, for the kernel's files (/proc, /sys), whose
// size stat does not tell, and for small files read in one go. Interrupted reads are retried.
// A file that cannot be opened or read gives an empty result and *ok false.
namespace WholeFile {

QByteArray read(const std::string& path, bool* ok = nullptr);
QByteArray read(const QString& path, bool* ok = nullptr); // the path through NameCodec
// From the start of a descriptor kept open (the mount table's watcher); the offset moves.
QByteArray readFrom(int fd, bool* ok = nullptr);

} // namespace WholeFile
