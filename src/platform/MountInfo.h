#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

// One line of /proc/self/mountinfo, with the octal escapes (\040 \011 \012 \134) decoded and
// the paths passed through NameCodec.
struct MountEntry
{
    int mountId = 0;
    int parentId = 0;
    quint32 major = 0;
    quint32 minor = 0;
    QString root; // the folder of the file system that is mounted (a btrfs subvolume's path)
    QString mountPoint;
    QString mountOptions; // per-mount options ("rw,nosuid,relatime")
    QString fsType; // "ext4", "btrfs", "fuse.sshfs"
    QString source; // "/dev/loop3", "server:/path", "none"
    QString superOptions; // file-system options ("rw,subvolid=256,subvol=/data")
    bool readOnly() const;
    QString superOption(const QString& name) const; // value of "name=value", or null
};

class MountInfo
{
public:
    static QList<MountEntry> read(const QString& path = QStringLiteral("/proc/self/mountinfo"));
    static QList<MountEntry> parse(const QByteArray& text); // unescapes \040 \011 \012 \134
    // The mount holding path: the longest mount point at a path-component boundary (the last
    // one wins for stacked mounts); std::nullopt when none. The path is cleaned lexically
    // ("//", "/./", "/..", a trailing "/") but symbolic links are not followed.
    static std::optional<MountEntry> mountForPath(const QString& path, const QList<MountEntry>& mounts);
    // Convenience over read(): resolves symbolic links of the part of path that exists first.
    static QString mountPointForPath(const QString& path);
    // The mount entry for path, after the same resolution as mountPointForPath().
    static std::optional<MountEntry> mountEntryForPath(const QString& path);

    static QString unescape(const QByteArray& field); // "\040" -> " ", decoded through NameCodec
    static QString cleanPath(const QString& path); // lexical: "/a//b/./c/../" -> "/a/b"
    static bool isPathUnder(const QString& path, const QString& folder); // component-wise, or equal
};
