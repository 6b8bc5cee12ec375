#pragma once

#include <QString>
#include <QStringList>

// The default hidden and default excluded lists of the outlines, matched on path components:
//   "/a/b/*"  matches "/a/b" and everything below it (never "/a/bc");
//   "/a/b"    matches only "/a/b";
//   "b/c"     (no leading "/") matches a path equal to it or ending in "/b/c".
// An empty list matches nothing.
namespace OutlineMatcher {

bool matches(const QString& pattern, const QString& path);
bool matchesAny(const QStringList& patterns, const QString& path);

} // namespace OutlineMatcher
