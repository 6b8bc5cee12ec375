#pragma once

#include <QByteArray>
#include <QString>

// Lines of the file lists GNU tar reads with -T. Tar unquotes every line, so a backslash is
// written "\\", a line feed "\n" and a carriage return "\r"; a line that would start with "-"
// gets "./" in front (tar would read it as an option). Modes: 1 building, 2 restoring; neither
// has wildcard characters to escape on this system. (Restores read NUL-terminated lists, which
// tar takes as they stand.)
QByteArray makeTarWildcardSafePath(const QByteArray& path, int mode);
QByteArray makePathStringForTar(const QString& path, int mode);
