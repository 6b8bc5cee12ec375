#pragma once

#include <QDateTime>
#include <QString>
#include <QVariantMap>

// Archive file names: "<method>_<name>_<yyyy-MM-dd>_<HH-mm-ss>_lp.<tar|tgz>[.<cipher>][.<volume>]",
// and the old form "<4 letters><yyyyMMddhhmmss><rest>". In a project's archive list a split
// archive is named "<name>.cnt<N>".

// The cipher's extension (asExtension) or its name for openssl; null for a method not in the table.
QString encryptionMethodToStr(quint32 method, bool asExtension);
quint32 extToEncryptionMethod(const QString& extension); // exact match, else 0
quint32 getCryptMethodFromFileName(const QString& path);
QString splittedArcCountToExt(int count); // "cnt<N>", null for 0 or less
int extToSplittedArcCount(const QString& extension);
bool isArchiveFileSplited(const QString& path);
bool isFileCompressed(const QString& path);
quint32 getFileBackupMethod(const QString& name);
bool isArchiveFileIncremental(const QString& path);
bool isArchiveFileLongPath(const QString& path);

// A name read from a file that may become one path component: no "/" or NUL, not "." or "..".
// (An empty name passes; callers that need a name check that themselves.)
bool isSingleComponentName(const QString& name);

// The parts of a name: "tarExt", "splitExt", "encryptExt", "CBMethodPrefix", "projectName"
// (texts), "day", "month", "year", "hour", "minute", "second" (integers), "longPath" (bool).
// Empty when the name is of neither form.
QVariantMap archiveFileNameParse(const QString& path);
// The build time a parsed name carries (local time); invalid for an empty map.
QDateTime archiveNameDate(const QVariantMap& parsed);
