#include "utilities/VolumeBaseItem.h"

#include "platform/MountInfo.h"
#include "platform/NameCodec.h"
#include "utilities/IDiskUtil.h"

#include <QHash>

void VolumeBaseItem::itemToDefault()
{
    *this = VolumeBaseItem();
}

QString VolumeBaseItem::strMountPoint() const
{
    if (mountPoint.isEmpty())
        return QString();
    return pathFromURLText(mountPoint);
}

VolumeSysVersion VolumeBaseItem::sysVersion()
{
    if (role == RoleSystem && sysVersionData.version == 0) {
        const QString path = strMountPoint();
        if (!path.isEmpty())
            sysVersionData = IDiskUtil::fullSystemVersionForMountPoint(path);
    }
    return sysVersionData;
}

QString VolumeBaseItem::mountPointURLText(const QString& path)
{
    QString clean = MountInfo::cleanPath(path);
    if (clean.isEmpty())
        return QString();
    QByteArray bytes = NameCodec::encode(clean);
    if (!bytes.endsWith('/'))
        bytes.append('/');
    return QStringLiteral("file://") + QString::fromLatin1(bytes.toPercentEncoding("/"));
}

QString VolumeBaseItem::pathFromURLText(const QString& urlText)
{
    if (urlText.startsWith(QLatin1Char('/')))
        return MountInfo::cleanPath(urlText);
    if (!urlText.startsWith(QLatin1String("file://"), Qt::CaseInsensitive))
        return QString();
    QString rest = urlText.mid(7);
    if (rest.startsWith(QLatin1String("localhost/"), Qt::CaseInsensitive))
        rest = rest.mid(9);
    if (!rest.startsWith(QLatin1Char('/')))
        return QString();
    const QByteArray bytes = QByteArray::fromPercentEncoding(rest.toUtf8());
    return MountInfo::cleanPath(NameCodec::decode(bytes));
}

QString VolumeBaseItem::roleString(int role)
{
    static const char* const names[]
        = { "Unknown", "No role", "Preboot", "VM", "Recovery", "Update", "System", "Data" };
    if (role < 0 || role > 7)
        return QString();
    return QString::fromLatin1(names[role]);
}

QString VolumeBaseItem::mountString(int connection)
{
    switch (connection) {
    case 1:
        return QStringLiteral("internal");
    case 2:
        return QStringLiteral("USB");
    case 3:
        return QStringLiteral("net");
    case 4:
        return QStringLiteral("virtual");
    default:
        return QStringLiteral("unknown");
    }
}

QString VolumeBaseItem::fileSystemString(int code)
{
    static const QHash<int, QString> names = {
        { 1, QStringLiteral("msdos") },
        { 2, QStringLiteral("exfat") },
        { 3, QStringLiteral("ntfs") },
        { 4, QStringLiteral("nfs") },
        { 5, QStringLiteral("afpfs") },
        { 6, QStringLiteral("smbfs") },
        { 7, QStringLiteral("hfs") },
        { 8, QStringLiteral("apfs") },
        { 10, QStringLiteral("cd9660") },
        { 12, QStringLiteral("osxfuse") },
        { 13, QStringLiteral("macfuse") },
        { 14, QStringLiteral("pcloudfs") },
    };
    return names.value(code, QStringLiteral("unknown"));
}

int VolumeBaseItem::FSTypeFromName(const QString& name, const QString& blkidType)
{
    static const QHash<QString, int> codes = {
        // the system's own names
        { QStringLiteral("msdos"), 1 },
        { QStringLiteral("exfat"), 2 },
        { QStringLiteral("ntfs"), 3 },
        { QStringLiteral("nfs"), 4 },
        { QStringLiteral("afpfs"), 5 },
        { QStringLiteral("smbfs"), 6 },
        { QStringLiteral("hfs"), 7 },
        { QStringLiteral("apfs"), 8 },
        { QStringLiteral("cd9660"), 10 },
        { QStringLiteral("osxfuse"), 12 },
        { QStringLiteral("macfuse"), 13 },
        { QStringLiteral("pcloudfs"), 14 },
        // Linux: btrfs stands for APFS, ext2/3/4 and xfs for Mac OS Extended
        { QStringLiteral("btrfs"), 8 },
        { QStringLiteral("ext2"), 7 },
        { QStringLiteral("ext3"), 7 },
        { QStringLiteral("ext4"), 7 },
        { QStringLiteral("xfs"), 7 },
        { QStringLiteral("vfat"), 1 },
        { QStringLiteral("ntfs3"), 3 },
        { QStringLiteral("nfs4"), 4 },
        { QStringLiteral("cifs"), 6 },
        { QStringLiteral("smb3"), 6 },
        { QStringLiteral("iso9660"), 10 },
    };
    if (name == QLatin1String("fuseblk")) {
        // A FUSE file system on a block device: what the device holds decides.
        if (blkidType == QLatin1String("exfat"))
            return 2;
        if (blkidType == QLatin1String("ntfs"))
            return 3;
        if (blkidType == QLatin1String("vfat"))
            return 1;
        return 12;
    }
    if (name.startsWith(QLatin1String("fuse.")) || name == QLatin1String("fuse"))
        return 12;
    return codes.value(name, 0);
}
