#pragma once

#include <QByteArray>
#include <QString>
#include <sys/stat.h>

struct FTW;

// Folder sizes: an lstat walk of a tree, and du's size on disk.
class IFolderUtil
{
public:
    static IFolderUtil& shared();
    double count() const { return m_count; }
    void incCount() { m_count += 1; }

    // Bytes below path: regular files and folders (their own size) by lstat, links not
    // followed. A hard-linked file counts once per link (the apparent size of the tree).
    // 0 for a folder that cannot be opened; entries that cannot be read are skipped.
    static quint64 getFolderSize(const QString& path);
    static quint64 folderSize(const QString& path); // the same walk
    // Bytes on disk as du -sk gives them (× 1024); when du gives no usable answer, the walk's
    // bytes. Always bytes.
    static quint64 getSizeOnDisk(const QString& path);
    // The bytes read as one big-endian hexadecimal number ("01 00" → 256).
    static quint64 parseIntFromData(const QByteArray& data);
    static quint64 folderSizeDU(const QString&) { return 0; }
    static void printTree(const QString&) { }
    // A file-tree-walk callback that counts the entries it sees.
    static int func(const char* path, const struct stat* status, int flag, struct FTW* walk);

private:
    IFolderUtil() = default;
    double m_count = 0;
};
