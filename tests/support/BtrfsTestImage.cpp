#include "BtrfsTestImage.h"

#include "platform/BtrfsVolumeModel.h"
#include "platform/MountInfo.h"
#include "platform/NameCodec.h"

#include <QDir>
#include <sys/mount.h>

BtrfsTestImage::~BtrfsTestImage()
{
    const QStringList points = mounts().keys();
    for (auto it = points.crbegin(); it != points.crend(); ++it)
        ::umount2(NameCodec::encode(*it).constData(), MNT_DETACH);
}

bool BtrfsTestImage::make(qint64 sizeMiB)
{
    if (!m_image.make(LoopImage::FsType::Btrfs, sizeMiB))
        return false;
    m_top = m_image.mountPoint();
    return true;
}

quint64 BtrfsTestImage::create(const QString& name)
{
    const QString path = m_top + QLatin1Char('/') + name;
    if (!BtrfsVolumeModel::createSubvolume(path).ok())
        return 0;
    return BtrfsVolumeModel::subvolumeId(path).value_or(0);
}

QString BtrfsTestImage::uuid(quint64 id) const
{
    const auto info = BtrfsVolumeModel::subvolumeInfo(m_top, id);
    return info ? info->uuid : QString();
}

bool BtrfsTestImage::mountSubvolume(quint64 id, const QString& folder)
{
    QDir().mkpath(folder);
    return LoopImage::runTool(QStringLiteral("mount"),
        { QStringLiteral("-o"), QStringLiteral("subvolid=%1").arg(id), m_image.device(), folder });
}

bool BtrfsTestImage::unmountTop()
{
    return ::umount2(NameCodec::encode(m_top).constData(), 0) == 0;
}

QMap<QString, quint64> BtrfsTestImage::mounts() const
{
    QMap<QString, quint64> result;
    for (const MountEntry& m : MountInfo::read()) {
        if (m.source == m_image.device() && m.mountPoint != m_top)
            result.insert(m.mountPoint, BtrfsVolumeModel::subvolumeIdOfMount(m));
    }
    return result;
}

QStringList BtrfsTestImage::subvolumePaths() const
{
    QStringList paths;
    for (const BtrfsSubvolume& s : BtrfsVolumeModel::listSubvolumes(m_top))
        paths << s.path;
    return paths;
}

BtrfsVolumeRegistry BtrfsTestImage::registry() const
{
    BtrfsVolumeRegistry r;
    r.load(m_top);
    return r;
}
