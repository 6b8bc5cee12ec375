#pragma once

#include <QString>

// Path and archive-file helpers of the archive kit, free of any project state.

// Extension (any case) app, bundle, framework, plugin, kext, pkg, palette or band.
bool isPathBundle(const QString& path);
// A system folder kept out of the tree ("/bin", "/dev", "/etc", "/private", "/sbin", "/tmp",
// "/usr", exactly), or the custom temporary folder while it is in use.
bool isHiddenByPath(const QString& path);
// The tool of an argument vector's first element: 1 tar, 2 openssl, 3 split, 4 the cat tool,
// 0 anything else. Whole paths are compared.
int getTaskToolFromPath(const QString& path);

// The volumes of an archive present in folder. Not split: 1 when folder/name exists, else 0.
// Split: name.aaa, name.aab, ... counted up to the first one missing. A missing name or folder
// gives 0. *pastLastSuffix (when given) tells whether a volume exists past the last suffix that
// can be named, so such an archive can be refused instead of registered unreadable.
quint32 getExistentArchiveFilesNumber(
    const QString& name, const QString& folder, bool split, bool* pastLastSuffix = nullptr);
// Deletes an archive: the file itself, or for a "<base>.cnt<N>" path the volumes base.aaa, ...
// up to the first missing one. Exact names only. Answers how many files were deleted.
int deleteArcFiles(const QString& path);
// The size of an archive file, or the sum over the volumes of a split one (missing ones count 0).
quint64 getSizeOfFiles(const QString& path);
