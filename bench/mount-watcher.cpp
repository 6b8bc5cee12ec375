// mount-watcher: how long after a mount the volume table tells the hub about it.
//
// Run by hand as root from the build folder (not part of ctest):
//     cd <build> && ./bench/mount-watcher [REPETITIONS]
// The image lives under <build>/tests/loop (KV_BUILD_DIR names another build folder).
// A small ext4 image on a loop device is mounted REPETITIONS times (20 by default) with
// mount(2); each time the clock runs from the return of mount(2) to the hub's
// validateDeviceMount (the mount seen) and volumeBaseUpdated (the mount settled and the table
// brought up to date). Side by side, the bare kernel notice: a poll() on /proc/self/mountinfo
// woken by the same kind of mount, with nothing read or compared. Figures in milliseconds.
#include "LoopImage.h"
#include "RecordingShellServices.h"
#include "platform/NameCodec.h"
#include "utilities/IVolumeBase.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <sys/mount.h>
#include <unistd.h>
#include <vector>

namespace {

QElapsedTimer g_clock;

double nowMs()
{
    return double(g_clock.nsecsElapsed()) / 1e6;
}

// The hub: the times of the two volume-table calls.
class TimedHub : public RecordingShellServices
{
public:
    // Other programs may mount and unmount at the same time: only the calls that follow the
    // bench's own mount count.
    QString path;
    double validated = -1, updated = -1;
    void validateDeviceMount(const QString& mountPath) override
    {
        if (validated < 0 && mountPath == path)
            validated = nowMs();
        RecordingShellServices::validateDeviceMount(path);
    }
    void volumeBaseUpdated() override
    {
        if (updated < 0 && validated >= 0)
            updated = nowMs();
        RecordingShellServices::volumeBaseUpdated();
    }
};

struct Figures
{
    std::vector<double> values;
    void add(double v) { values.push_back(v); }
    double median() const
    {
        std::vector<double> v = values;
        std::sort(v.begin(), v.end());
        if (v.empty())
            return 0;
        return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    }
    double max() const { return values.empty() ? 0 : *std::max_element(values.begin(), values.end()); }
};

bool waitFor(const std::function<bool()>& done, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

void print(const char* what, const Figures& f)
{
    std::printf(
        "%-28s median %8.3f ms   max %8.3f ms   (%zu runs)\n", what, f.median(), f.max(), f.values.size());
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int reps = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    if (::geteuid() != 0) {
        std::fprintf(stderr, "mount-watcher: run as root (it mounts a loop image)\n");
        return 2;
    }
    g_clock.start();

    LoopImage image;
    if (!image.createImage(LoopImage::FsType::Ext4, 32, QStringLiteral("KV Bench")) || !image.attach()) {
        std::fprintf(stderr, "mount-watcher: %s\n", qPrintable(image.errorString()));
        return 1;
    }
    const QString dir = LoopImage::loopRoot() + QStringLiteral("/bench mount ") + image.deviceName();
    QDir().mkpath(dir);
    const std::string dev = NameCodec::encodeStd(image.device());
    const std::string mp = NameCodec::encodeStd(dir);
    auto mountOnce = [&] { return ::mount(dev.c_str(), mp.c_str(), "ext4", MS_RDONLY, nullptr) == 0; };
    auto unmountOnce = [&] { return ::umount2(mp.c_str(), 0) == 0; };

    // The bare kernel notice, without our table: poll() wakes on the mount-table change.
    Figures bare;
    for (int i = 0; i < reps; ++i) {
        const int fd = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
        char buf[65536];
        while (::read(fd, buf, sizeof buf) > 0) { }
        if (!mountOnce()) {
            std::perror("mount");
            return 1;
        }
        const double t0 = nowMs();
        pollfd p { fd, POLLPRI, 0 };
        if (::poll(&p, 1, 5000) > 0)
            bare.add(nowMs() - t0);
        ::close(fd);
        unmountOnce();
    }

    // Our volume table with its watcher, filled once before the runs.
    TimedHub hub;
    hub.path = dir;
    IShellServices::setShared(&hub);
    IVolumeBase base(true);
    base.fill();
    if (!waitFor([&] { return base.isBaseFilled(); }, 10000)) {
        std::fprintf(stderr, "mount-watcher: the volume table did not fill\n");
        return 1;
    }
    Figures seen, settled;
    int failures = 0;
    const QString source = image.deviceName();
    for (int i = 0; i < reps; ++i) {
        waitFor([] { return false; }, 50); // let the previous run's timers end
        hub.validated = hub.updated = -1;
        if (!mountOnce()) {
            std::perror("mount");
            return 1;
        }
        const double t0 = nowMs();
        if (waitFor([&] { return hub.updated >= 0 && base.itemWithDevice(source); }, 5000)) {
            seen.add(hub.validated - t0);
            settled.add(hub.updated - t0);
        } else {
            ++failures;
        }
        unmountOnce();
        waitFor([&] { return !base.itemWithDevice(source); }, 5000);
    }
    IShellServices::setShared(nullptr);
    QDir().rmdir(dir);

    print("kernel notice (bare poll)", bare);
    print("validateDeviceMount", seen);
    print("volumeBaseUpdated", settled);
    // The kernel's notice is pending by the time mount(2) returns, so no ratio to it says
    // anything; what the table adds is its own read, compare and describe (validateDeviceMount)
    // and, by design, the settle time before volumeBaseUpdated.
    std::printf("volumeBaseUpdated beyond the %d ms settle: median %.1f ms\n", IVolumeBase::settleMs,
        settled.median() - IVolumeBase::settleMs);
    if (failures)
        std::printf("%d runs saw no update within 5 s\n", failures);
    return failures ? 1 : 0;
}
