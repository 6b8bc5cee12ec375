#include "projects/ISnapshot.h"

#include "platform/BtrfsVolumeModel.h"
#include "platform/Clock.h"
#include "platform/NameCodec.h"
#include "projects/ILocation.h"
#include "projects/IProject.h"
#include "utilities/QVLog.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

void logError(const QString& call, const QString& path, int error)
{
    QVUtilLog(
        QStringLiteral("ISnapshot: %1 %2: %3").arg(call, path, QString::fromLocal8Bit(std::strerror(error))));
}

bool listHolds(const QString& mountPoint, const QString& name)
{
    if (mountPoint.isEmpty())
        return false;
    const std::optional<QStringList> list = ISnapshot::getSnapshotListForMountPoint(mountPoint);
    return list && list->contains(name);
}

} // namespace

QString ISnapshot::prefix()
{
    return QStringLiteral("com.brisoltica.qv");
}

QString ISnapshot::generateSnapshotName(int type)
{
    const QString kind = type == 1 ? QStringLiteral("ASRIncrementalClone") : QStringLiteral("Unknown");
    const QString when = Clock::current().now().toLocalTime().toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
    return QStringLiteral("%1::%2::%3").arg(prefix(), kind, when);
}

std::optional<QStringList> ISnapshot::getSnapshotListForMountPoint(const QString& mountPoint)
{
    const QByteArray path = NameCodec::encode(mountPoint);
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        logError(QStringLiteral("open"), mountPoint, errno);
        return std::nullopt;
    }
    struct statfs sfs;
    const bool ok = ::fstatfs(fd, &sfs) == 0;
    const int error = errno;
    ::close(fd);
    if (!ok) {
        logError(QStringLiteral("fstatfs"), mountPoint, error);
        return std::nullopt;
    }
    if (sfs.f_type != BTRFS_SUPER_MAGIC)
        return std::nullopt;
    BtrfsStatus status;
    const QStringList names = BtrfsVolumeModel::listSnapshots(mountPoint, &status);
    if (!status.ok()) {
        logError(status.message, BtrfsVolumeModel::snapshotFolder(mountPoint), status.error);
        return std::nullopt;
    }
    if (names.isEmpty())
        return std::nullopt;
    return names;
}

bool ISnapshot::isActualSnapshotByName(const QString& name, const ILocation* first, const ILocation* second)
{
    if (!first || !second)
        return false;
    return listHolds(first->getMountPoint(), name) && listHolds(second->getMountPoint(), name);
}

bool ISnapshot::isActualSnapshotByName(const QString& name, IProject* project)
{
    if (!project)
        return false;
    return isActualSnapshotByName(name, project->sourceLocationForPass(0), project->destLocationForPass(0));
}

bool ISnapshot::deleteSnapshotByName(const QString& name, IProject* project)
{
    if (!project)
        return false;
    const ILocation* first = project->sourceLocationForPass(0);
    const ILocation* second = project->destLocationForPass(0);
    if (first && listHolds(first->getMountPoint(), name))
        deleteSnapshot(name, first->getMountPoint());
    if (second && listHolds(second->getMountPoint(), name)) {
        deleteSnapshot(name, second->getMountPoint());
        return true;
    }
    return false;
}

// The copy engine owns its snapshots; the application deletes none.
bool ISnapshot::deleteSnapshot(const QString&, const QString&)
{
    return true;
}

void ISnapshot::deleteAllOldSnapshotsForMountPoint(const QString&) { }

void ISnapshot::deleteAllOldSnapshots() { }
