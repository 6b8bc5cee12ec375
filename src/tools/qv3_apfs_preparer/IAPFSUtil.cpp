#include "IAPFSUtil.h"

#include "platform/BtrfsVolumeModel.h"
#include "platform/MountInfo.h"
#include "platform/NameCodec.h"
#include "platform/Subprocess.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <sys/mount.h>
#include <unistd.h>

namespace {

std::mutex g_outputMutex;
std::function<void(const QByteArray&)> g_sink;
IAPFSUtil::MountCall g_mount;
IAPFSUtil::UnmountCall g_unmount;
QString g_lastMountError;

int realMount(const QByteArray& source, const QByteArray& target, const QByteArray& options)
{
    return ::mount(source.constData(), target.constData(), "btrfs", 0, options.constData());
}

QByteArray deviceSource(const QString& device)
{
    return NameCodec::encode(device.startsWith(QLatin1Char('/')) ? device : "/dev/" + device);
}

int realUnmount(const QByteArray& target)
{
    return ::umount2(target.constData(), 0);
}

int callMount(const QByteArray& source, const QByteArray& target, const QByteArray& options)
{
    return g_mount ? g_mount(source, target, options) : realMount(source, target, options);
}

// A program that has just looked into a volume (a file manager, an indexer, our own agent reading a
// volume that was just mounted) holds it for a moment: a busy unmount is tried again for a few
// seconds before it counts as failed.
constexpr int kBusyUnmountAttempts = 25;
constexpr useconds_t kBusyUnmountPauseUs = 200000;

int callUnmount(const QByteArray& target)
{
    for (int attempt = 1;; ++attempt) {
        const int result = g_unmount ? g_unmount(target) : realUnmount(target);
        if (result == 0 || errno != EBUSY || attempt == kBusyUnmountAttempts)
            return result;
        ::usleep(kBusyUnmountPauseUs);
    }
}

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

Subprocess::Options envOptions(const QStringList& params)
{
    Subprocess::Options options;
    options.program = QStringLiteral("/usr/bin/env");
    // "--" keeps a first word that begins with "-" from being read as an option of env.
    options.arguments = QStringList { QStringLiteral("--") } + params;
    return options;
}

} // namespace

void IAPFSUtil::print(char letter, const QString& text)
{
    if (text.isEmpty())
        return;
    QString clean = text;
    clean.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QByteArray line = QByteArray("v3ap_") + letter + ": " + NameCodec::encode(clean) + '\n';
    std::lock_guard<std::mutex> lock(g_outputMutex);
    if (g_sink) {
        g_sink(line);
        return;
    }
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fflush(stdout);
}

void IAPFSUtil::setOutputSink(std::function<void(const QByteArray& line)> sink)
{
    std::lock_guard<std::mutex> lock(g_outputMutex);
    g_sink = std::move(sink);
}

bool IAPFSUtil::processCommandWithParams(const QStringList& params, const QString& label, QString* output)
{
    const Subprocess::Result result = Subprocess::run(envOptions(params));
    if (result.started && result.signal == 0 && result.exitCode == 0) {
        print('o', label);
        if (output)
            *output = QString::fromUtf8(result.out);
        return true;
    }
    QString error = QString::fromUtf8(result.err).trimmed();
    if (error.isEmpty())
        error = result.error.trimmed();
    // Any other end fails the step, a silent one included.
    print('e', error.isEmpty() ? label : label + QStringLiteral(": ") + error);
    if (output)
        *output = error;
    return false;
}

bool IAPFSUtil::waitProcessCommandWithParams(const QStringList& params, const QString& label)
{
    std::atomic<bool> noSpace { false };
    auto watch = [&noSpace](const char* data, size_t size) {
        const QByteArray chunk = QByteArray::fromRawData(data, static_cast<qsizetype>(size));
        if (chunk.toLower().contains("no space left on device") && !noSpace.exchange(true))
            print('e', QStringLiteral("No space left on device"));
    };
    Subprocess process;
    process.setStdoutHandler(watch);
    process.setStderrHandler(watch);
    QString error;
    if (!process.start(envOptions(params), &error)) {
        print('e', label + QStringLiteral(": ") + error);
        return false;
    }
    process.waitForFinished(-1);
    const int status = process.exitedNormally() ? process.exitCode() : 128 + process.exitSignal();
    print('d', QStringLiteral("terminationStatus %1").arg(status));
    const bool ok = process.exitedNormally() && status == 0 && !noSpace.load();
    print(ok ? 'o' : 'e', label);
    return ok;
}

void IAPFSUtil::setMountCalls(MountCall mount, UnmountCall unmount)
{
    g_mount = std::move(mount);
    g_unmount = std::move(unmount);
}

QString IAPFSUtil::lastMountError()
{
    return g_lastMountError;
}

bool IAPFSUtil::mountVolume(
    const QString& device, quint64 subvolumeId, const QString& folder, const QString& label)
{
    const QByteArray source = deviceSource(device);
    const QByteArray target = NameCodec::encode(folder);
    // The subvolume goes by number: no character of a name reaches the option text.
    const QByteArray options = "subvolid=" + QByteArray::number(subvolumeId);
    if (callMount(source, target, options) == 0) {
        print('o', label);
        return true;
    }
    g_lastMountError = errnoText(errno);
    print('e', label + QStringLiteral(": ") + g_lastMountError);
    if (!g_lastMountError.contains(QLatin1String("resource busy"), Qt::CaseInsensitive))
        return false;

    const QList<MountEntry> mounts = MountInfo::read();
    bool unmounted = true;
    for (const MountEntry& m : mounts) {
        if (m.fsType == QLatin1String("btrfs") && NameCodec::encode(m.source) == source
            && BtrfsVolumeModel::subvolumeIdOfMount(m) == subvolumeId)
            unmounted = callUnmount(NameCodec::encode(m.mountPoint)) == 0 && unmounted;
    }
    print(unmounted ? 'o' : 'e', QStringLiteral("UnMount busy resource"));
    if (callMount(source, target, options) == 0) {
        print('o', QStringLiteral("Mount again"));
        return true;
    }
    g_lastMountError = errnoText(errno);
    print('e', QStringLiteral("Mount again: ") + g_lastMountError);
    return false;
}

bool IAPFSUtil::mountQuietly(
    const QString& device, quint64 subvolumeId, const QString& folder, unsigned long flags)
{
    const QByteArray options = "subvolid=" + QByteArray::number(subvolumeId);
    return ::mount(deviceSource(device).constData(), NameCodec::encode(folder).constData(), "btrfs", flags,
               options.constData())
        == 0;
}

bool IAPFSUtil::unmountFolder(const QString& folder, const QString& label)
{
    if (callUnmount(NameCodec::encode(folder)) == 0) {
        print('o', label);
        return true;
    }
    g_lastMountError = errnoText(errno);
    if (!label.isEmpty())
        print('e', label + QStringLiteral(": ") + g_lastMountError);
    return false;
}

bool IAPFSUtil::unmountSubvolume(const MountEntry& anyMountOfFs, quint64 subvolumeId)
{
    // Stacked and repeated mounts: go on until the table shows none, within a bound.
    for (int round = 0; round < 16; ++round) {
        bool found = false;
        const QList<MountEntry> mounts = MountInfo::read();
        for (const MountEntry& m : BtrfsVolumeModel::mountsOfFileSystem(anyMountOfFs, mounts)) {
            if (BtrfsVolumeModel::subvolumeIdOfMount(m) != subvolumeId)
                continue;
            found = true;
            if (callUnmount(NameCodec::encode(m.mountPoint)) != 0) {
                g_lastMountError = errnoText(errno);
                return false;
            }
        }
        if (!found)
            return true;
    }
    return false;
}
