#include "MountWatcher.h"

#include "NameCodec.h"
#include "WholeFile.h"

#include <QHash>
#include <QSet>
#include <QSocketNotifier>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Reads the whole table through the watched descriptor: reading it is what makes the kernel
// consider the change seen.
// The kernel hands the table out piece by piece; a mount or unmount between two pieces can
// leave a line out or repeat one. Read until two reads agree, so a passing change never shows
// up as a false unmount (the change itself brings another notice).
QByteArray readStable(int fd)
{
    QByteArray previous = WholeFile::readFrom(fd);
    for (int i = 0; i < 8; ++i) {
        QByteArray again = WholeFile::readFrom(fd);
        if (again == previous)
            break;
        previous = std::move(again);
    }
    return previous;
}

} // namespace

MountWatcher::MountWatcher(QObject* parent, const QString& path)
    : QObject(parent)
    , m_path(path)
{
    m_fd = ::open(NameCodec::encodeStd(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (m_fd >= 0) {
        m_mounts = MountInfo::parse(readStable(m_fd));
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
    const QList<MountEntry> now = m_fd >= 0 ? MountInfo::parse(readStable(m_fd)) : MountInfo::read(m_path);
    // Mount ids are reused as soon as a mount goes, so an id alone does not name a mount: a
    // mount is the same only with the same id, place, source and file system.
    auto key = [](const MountEntry& e) {
        return QStringLiteral("%1:%2:%3\n%4\n%5\n%6\n%7")
            .arg(e.mountId)
            .arg(e.major)
            .arg(e.minor)
            .arg(e.mountPoint, e.root, e.source, e.fsType);
    };
    QSet<QString> oldKeys, newKeys;
    for (const MountEntry& e : m_mounts)
        oldKeys.insert(key(e));
    for (const MountEntry& e : now)
        newKeys.insert(key(e));
    QList<MountEntry> gone;
    for (const MountEntry& e : m_mounts) {
        if (!newKeys.contains(key(e)))
            gone.append(e);
    }
    QList<MountEntry> added;
    for (const MountEntry& e : now) {
        if (!oldKeys.contains(key(e)))
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
