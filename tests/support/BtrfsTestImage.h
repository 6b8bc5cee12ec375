#pragma once

#include "LoopImage.h"
#include "platform/BtrfsVolumeRegistry.h"

#include <QMap>
#include <QString>
#include <QStringList>

// A btrfs file system on a loop device for root tests, its top level mounted; volumes are its
// subvolumes, registered or not. Every other mount of the image goes before the image does.
class BtrfsTestImage
{
public:
    BtrfsTestImage() = default;
    ~BtrfsTestImage();
    BtrfsTestImage(const BtrfsTestImage&) = delete;
    BtrfsTestImage& operator=(const BtrfsTestImage&) = delete;

    bool make(qint64 sizeMiB = 300); // 0: the smallest size LoopImage makes
    QString top() const { return m_top; }
    QString device() const { return m_image.deviceName(); } // "loop3"
    QString errorString() const { return m_image.errorString(); }

    // A new subvolume below the top level; its id, 0 on failure.
    quint64 create(const QString& name);
    QString uuid(quint64 id) const;
    bool mountSubvolume(quint64 id, const QString& folder); // makes the folder
    bool unmountTop();
    // Subvolume id by mount point, of every mount of the image but the top level's own.
    QMap<QString, quint64> mounts() const;
    // Paths of the subvolumes below the top level.
    QStringList subvolumePaths() const;
    BtrfsVolumeRegistry registry() const;

private:
    LoopImage m_image;
    QString m_top;
};
