#pragma once

#include <QString>
#include <QStringList>

// A file system in an image file on a loop device, for root tests. Images and their mount
// folders live under <build>/tests/loop; the destructor unmounts and detaches what this object
// made, even after a failed test. Stale devices of crashed runs are removed by the ctest
// fixture kv_loop_cleanup (tests that use LoopImage declare `fixtures=kv_loop_cleanup`).
class LoopImage
{
public:
    enum class FsType
    {
        Ext4,
        Btrfs,
        Xfs,
        Raw // no file system: a zeroed image, a blank disc for burn tests
    };

    LoopImage() = default;
    ~LoopImage();
    LoopImage(const LoopImage&) = delete;
    LoopImage& operator=(const LoopImage&) = delete;

    // Creates the image file (sparse; 0 picks the smallest size the file system accepts
    // comfortably), makes the file system, attaches it and mounts it. False and
    // errorString() on failure; what was made so far is released by the destructor.
    bool make(FsType type, qint64 sizeMiB = 0, const QString& label = QString());

    // The steps of make(), for tests that need them apart.
    bool createImage(FsType type, qint64 sizeMiB = 0, const QString& label = QString());
    bool attach(); // losetup --find --show
    bool mount(const QStringList& options = QStringList()); // at a fresh folder under loopRoot()
    bool unmount();
    bool detach();
    void release(); // unmount, detach, remove the image and the mount folder

    // The file-system UUID createImage() gives an ext4 file system (mkfs.ext4 -U); random when empty.
    void setUuid(const QString& uuid) { m_uuid = uuid; }

    QString imagePath() const { return m_image; }
    QString device() const { return m_device; } // "/dev/loop3"
    QString deviceName() const; // "loop3"
    QString mountPoint() const { return m_mountPoint; }
    QString fsTypeName() const; // "ext4", "btrfs", "xfs", "raw"
    QString errorString() const { return m_error; }

    static QString loopRoot(); // <build>/tests/loop
    // Unmounts and detaches every loop device whose backing file lies under root (and every
    // mount under root); returns a line per action. Never touches other devices.
    static QStringList cleanupStale(const QString& root);

    // Runs a tool with an argument vector; false (and the output in *output) when it fails.
    static bool runTool(
        const QString& program, const QStringList& args, QString* output = nullptr, int timeoutMs = 60000);

private:
    bool fail(const QString& what);

    FsType m_type = FsType::Ext4;
    QString m_image;
    QString m_device;
    QString m_mountPoint;
    QString m_error;
    QString m_uuid;
};
