#pragma once

#include <QByteArray>
#include <QString>

// Replaces a file's content as one step: the bytes go to a temporary file made with mkstemp
// in the same folder, which is fsynced and renamed over the target, then the folder is
// fsynced. Readers see the old or the new content, never a part; a failure leaves the old
// file alone and no temporary file behind. An existing target keeps its permission bits; a
// new one gets 0666 less the umask, like a plain open().
namespace AtomicFile {

bool write(const QString& path, const QByteArray& data, QString* error = nullptr);

// fsync of a folder, so a rename in it survives a crash.
bool syncFolder(const QString& folderPath);

} // namespace AtomicFile
