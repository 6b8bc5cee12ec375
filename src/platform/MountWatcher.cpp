#include "MountWatcher.h"

#include "NameCodec.h"

#include <QHash>
#include <QSet>
#include <QSocketNotifier>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Reads the whole table through the watched descriptor: reading it is what makes the kernel
// consider the change seen.
QByteArray readAll(int fd)
{
    QByteArray data;
    if (::lseek(fd, 0, SEEK_SET) < 0)
        return data;
    char buf[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        data.append(buf, int(n));
    }
    return data;
}

} // namespace

MountWatcher::MountWatcher(QObject* parent, const QString& path)
    : QObject(parent)
    , m_path(path)
{
    m_fd = ::open(NameCodec::encodeStd(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (m_fd >= 0) {
        m_mounts = MountInfo::parse(readAll(m_fd));
        m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Exception, this);
        connect(m_notifier, &QSocketNotifier::activated, this, [this] { refresh(); });
    } else {
        m_mounts = MountInfo::read(path);
    }
}

MountWatcher::~MountWatcher()
{
    delete m_notifier;
    if (m_fd >= 0)
        ::close(m_fd);
}

void MountWatcher::refresh()
{
    const QList<MountEntry> now = m_fd >= 0 ? MountInfo::parse(readAll(m_fd)) : MountInfo::read(m_path);
    QHash<int, int> oldById;
    for (int i = 0; i < m_mounts.size(); ++i)
        oldById.insert(m_mounts[i].mountId, i);
    QSet<int> newIds;
    for (const MountEntry& e : now)
        newIds.insert(e.mountId);

    QList<MountEntry> gone;
    for (const MountEntry& e : m_mounts) {
        if (!newIds.contains(e.mountId))
            gone.append(e);
    }
    QList<MountEntry> added;
    for (const MountEntry& e : now) {
        if (!oldById.contains(e.mountId))
            added.append(e);
    }
    m_mounts = now;

    // The same source leaving one path and arriving at another in one notice: a rename.
    for (int i = gone.size() - 1; i >= 0; --i) {
        for (int j = 0; j < added.size(); ++j) {
            const MountEntry& o = gone[i];
            const MountEntry& n = added[j];
            if (o.source == n.source && o.fsType == n.fsType && o.root == n.root && o.major == n.major
                && o.minor == n.minor && o.mountPoint != n.mountPoint) {
                Q_EMIT renamed(o, n);
                gone.removeAt(i);
                added.removeAt(j);
                break;
            }
        }
    }
    for (const MountEntry& e : gone)
        Q_EMIT unmounted(e);
    for (const MountEntry& e : added)
        Q_EMIT mounted(e);
    if (!gone.isEmpty() || !added.isEmpty())
        Q_EMIT changed();
}
