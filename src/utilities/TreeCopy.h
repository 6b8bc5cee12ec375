#pragma once

#include <QString>

// Copies a folder tree with everything it holds: modes, owners, times, links, extended
// attributes ("cp -a"), with both paths passed as their own arguments.
namespace TreeCopy {

// Copies the contents of `from` into the existing folder `into` (which takes `from`'s modes and
// times). False and *error (cp's message) on any failure; `into` may then hold a partial copy.
bool copyContents(const QString& from, const QString& into, QString* error = nullptr);

} // namespace TreeCopy
