#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class Subprocess;

// Burns files onto an optical disc (or a "stdio:" pseudo-drive) with xorriso: an ISO 9660 image
// with Rock Ridge and Joliet named "Backup Disc". The media's free space is read first and a
// set of files that does not fit is refused before anything is written. The burn runs as an
// argument vector in its own process group; each output line goes to onLine; the answer is YES
// only when xorriso exits 0.
class XorrisoBurner
{
public:
    static constexpr const char* kVolumeId = "Backup Disc";

    explicit XorrisoBurner(const QString& drive);
    ~XorrisoBurner();
    XorrisoBurner(const XorrisoBurner&) = delete;
    XorrisoBurner& operator=(const XorrisoBurner&) = delete;

    QString drive() const { return m_drive; }
    // A file or folder and where it goes on the disc ("/name").
    void addFile(const QString& source, const QString& discPath);
    const std::vector<std::pair<QString, QString>>& files() const { return m_files; }

    // The free space of the media in the drive in bytes; nothing (and *error) when it cannot be read.
    std::optional<qint64> mediaFreeBytes(QString* error = nullptr) const;
    // The bytes the files take (regular files counted by size, links not followed).
    qint64 payloadBytes() const;
    // The argument vector of the burn, program first.
    QStringList burnArguments() const;

    // Burns; true only when xorriso exited 0. *message says why not. While the burn runs the
    // caller's event loop keeps running (a stop can arrive), inside a modal depth guard.
    bool burn(QString* message = nullptr);
    // Ends the burn's process group.
    void stop();

    // Each output line of xorriso (on the main thread).
    std::function<void(const QString& line)> onLine;
    // The burn started: its process group and argument vector.
    std::function<void(qint64 pgid, const QStringList& argv)> onStarted;

    // Reads "Media space  : Ns" (2048-byte sectors) from xorriso's output; -1 when absent.
    static qint64 parseMediaSpace(const QByteArray& output);

private:
    QString m_drive;
    std::vector<std::pair<QString, QString>> m_files;
    std::unique_ptr<Subprocess> m_process;
    bool m_stopped = false;
};
