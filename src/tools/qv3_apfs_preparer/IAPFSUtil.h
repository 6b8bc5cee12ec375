#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

struct MountEntry;

// Output lines and command steps of the volume preparer. Every message is one line
// "v3ap_<letter>: <text>" on standard output, flushed at once; the main application reads them:
//   d detail, e error, i information, o a step succeeded (its label), p a phase begins or ends.
class IAPFSUtil
{
public:
    // One output line; empty texts are not printed. Line ends inside a text become blanks, so no
    // name can forge a line of its own.
    static void print(char letter, const QString& text);
    // Tests: where the lines go instead of standard output (nullptr restores it).
    static void setOutputSink(std::function<void(const QByteArray& line)> sink);

    // Runs a tool by "/usr/bin/env" and an argument vector and waits. Exit status 0: letter o
    // with the label and true. Any other end is a failure: letter e with the label (and the
    // tool's error text when it printed one), the error text in *output.
    static bool processCommandWithParams(
        const QStringList& params, const QString& label, QString* output = nullptr);
    // The same for long copies: both pipes are read as data arrives; "No space left on device" in
    // the output marks the run failed at once. Ends with d "terminationStatus N", then o or e.
    static bool waitProcessCommandWithParams(const QStringList& params, const QString& label);

    // Mounting by mount(2) and umount2(2); tests put fakes in place of the two calls.
    using MountCall
        = std::function<int(const QByteArray& source, const QByteArray& target, const QByteArray& options)>;
    using UnmountCall = std::function<int(const QByteArray& target)>;
    static void setMountCalls(MountCall mount, UnmountCall unmount); // nullptrs restore the real ones

    // Mounts subvolume `subvolumeId` of the btrfs file system on `device` at `folder`. On "busy"
    // every mount of that subvolume is unmounted ("UnMount busy resource") and the mount is tried
    // once more ("Mount again"). Prints o or e with the label.
    static bool mountVolume(
        const QString& device, quint64 subvolumeId, const QString& folder, const QString& label);
    // The same without output lines (the preparer's own work mounts); false with errno set.
    static bool mountQuietly(
        const QString& device, quint64 subvolumeId, const QString& folder, unsigned long flags = 0);
    // Unmounts the folder; prints o or e with the label when one is given. Like every unmount
    // here, a busy one is tried again for a few seconds first.
    static bool unmountFolder(const QString& folder, const QString& label = QString());
    // Unmounts every mount of the subvolume; false when one stays.
    static bool unmountSubvolume(const MountEntry& anyMountOfFs, quint64 subvolumeId);
    // errno text of the last failing mount call.
    static QString lastMountError();
};
