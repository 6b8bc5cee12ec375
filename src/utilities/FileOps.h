#pragma once

#include <string>

// Small file-tree operations over byte paths, shared by the workspace, temporary-folder and
// removal code. They never follow symbolic links.
namespace FileOps {

// Removes path and, for a folder, everything below it (nftw with FTW_DEPTH | FTW_PHYS).
// A path that does not exist counts as removed. On failure *failedPath is the entry that could
// not be removed (or read) and *errorNumber its errno.
bool removeTree(const std::string& path, std::string* failedPath = nullptr, int* errorNumber = nullptr);

// lstat-based checks.
bool exists(const std::string& path);
bool isDirectory(const std::string& path); // a real folder, not a link to one

} // namespace FileOps
