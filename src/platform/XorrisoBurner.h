#pragma once

#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class Subprocess;

// Burns files onto an optical disc (or a "stdio:" pseudo-drive) with xorriso: an ISO 9660 image
// with Rock Ridge and Joliet named "Backup Disc". The image is measured against the media's free
// space first and a set of files that does not fit is refused before anything is written. The
// burn runs as an argument vector in its own process group; each output line goes to onLine; the
// answer is YES only when xorriso exits 0. The disc flow replaces the media queries, the
// measuring and the burn in its tests, so they are virtual.
class XorrisoBurner
{
public:
    static constexpr const char* kVolumeId = "Backup Disc";

    // What -toc and -tell_media_space tell of the medium in the drive.
    struct Media
    {
        bool read = false; // false: the drive or medium could not be read (error says why)
        QString profile; // "Media current:", such as "DVD+RW" or "stdio file"
        QString status; // "Media status :", such as "is blank", "is written , is appendable"
        qint64 freeBytes = -1; // "Media space  : Ns" x 2048
        qint64 overallBytes = -1; // "Media blocks : ... , N overall" x 2048
        QString error;
        bool isBlank() const { return status.contains(QLatin1String("blank")); }
        bool isAppendable() const { return status.contains(QLatin1String("appendable")); }
        bool isClosed() const { return status.contains(QLatin1String("closed")); }
        bool isRewritable() const;
        bool holdsData() const { return read && !isBlank(); }
        // Overwriteable media (DVD+RW, BD-RE, a stdio: drive ...) take a new image after a head
        // of 32 blocks; sequential rewritables (CD-RW, DVD-RW sequential) take it from block 0.
        bool isOverwriteable() const;
        // The bytes an image may take: the free space, or, on a rewritable medium holding data
        // that is blanked first, its whole capacity once blanked.
        qint64 writableBytes(bool blankFirst) const;
    };
    // How the disc is written.
    struct WriteMode
    {
        QString volumeId = QString::fromLatin1(kVolumeId);
        std::optional<bool> close; // -close on|off; unset: not given
        bool append = false; // -dev: a new session after the disc's content
        bool blank = false; // -blank as_needed first (a rewritable disc holding data)
        bool eject = false; // -eject all at the end
    };

    // An empty drive takes the first of the drive list (BurnDrives::list()); with no drive at
    // all, burn() fails with a clear message.
    explicit XorrisoBurner(const QString& drive = QString());
    virtual ~XorrisoBurner();
    XorrisoBurner(const XorrisoBurner&) = delete;
    XorrisoBurner& operator=(const XorrisoBurner&) = delete;

    QString drive() const { return m_drive; }
    // A file or folder and where it goes on the disc ("/name").
    void addFile(const QString& source, const QString& discPath);
    const std::vector<std::pair<QString, QString>>& files() const { return m_files; }

    void setWriteMode(const WriteMode& mode) { m_mode = mode; }
    const WriteMode& writeMode() const { return m_mode; }

    // The free space of the media in the drive in bytes; nothing (and *error) when it cannot be read.
    std::optional<qint64> mediaFreeBytes(QString* error = nullptr) const;
    // The medium's profile, status and free space (one xorriso run, nothing written).
    virtual Media readMedia() const;
    // The bytes the image of these files takes on the medium, measured by xorriso with this
    // write mode (-print_size, then -rollback_end so nothing is written); nothing on failure.
    virtual std::optional<qint64> measureImageBytes(
        const std::vector<std::pair<QString, QString>>& files, QString* error = nullptr) const;
    // The bytes the files take (regular files counted by size, links not followed).
    qint64 payloadBytes() const;
    // The argument vector of the burn, program first.
    QStringList burnArguments() const;

    // Burns; true only when xorriso exited 0. *message says why not. While the burn runs the
    // caller's event loop keeps running (a stop can arrive), inside a modal depth guard.
    virtual bool burn(QString* message = nullptr);
    // Ends the burn's process group.
    virtual void stop();
    // The burn's process group while it runs, else 0.
    qint64 processGroup() const { return m_pgid; }

    // Each output line of xorriso (on the main thread).
    std::function<void(const QString& line)> onLine;
    // The burn started: its process group and argument vector.
    std::function<void(qint64 pgid, const QStringList& argv)> onStarted;

    // Reads "Media space  : Ns" (2048-byte sectors) from xorriso's output; -1 when absent.
    static qint64 parseMediaSpace(const QByteArray& output);
    // Reads the profile, status and space lines of -toc and -tell_media_space output.
    static Media parseMedia(const QByteArray& output);
    // "Image size   : Ns" of -print_size, in sectors; -1 when absent.
    static qint64 parseImageSize(const QByteArray& output);
    // The percentage of an "UPDATE : Writing:" line; -1 for any other line.
    static double parseProgress(const QString& line);
    // The text of a "FAILURE :" or "SORRY :" line without xorriso's prefix; empty for others.
    static QString parseFailure(const QString& line);
    // Whether a drive's medium can take a burn: libburn's writable profiles, never a closed
    // medium; "stdio file" only on a drive of the configured list.
    static bool isSuitable(const Media& media, bool configuredDrive);

private:
    QStringList driveArguments() const;
    QStringList imageArguments(const std::vector<std::pair<QString, QString>>& files) const;

    QString m_drive;
    std::vector<std::pair<QString, QString>> m_files;
    WriteMode m_mode;
    std::unique_ptr<Subprocess> m_process;
    std::atomic<qint64> m_pgid { 0 };
    bool m_stopped = false;
};
