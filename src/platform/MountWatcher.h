#pragma once

#include "MountInfo.h"

#include <QList>
#include <QObject>

class QSocketNotifier;

// Watches the kernel's mount table. The kernel marks an open /proc/self/mountinfo with
// POLLPRI|POLLERR whenever a mount or unmount happens; on that notice the table is read again
// and compared with the previous one (by mount id), so nothing polls on a timer.
// A mount whose source reappears at a new path in the same notice counts as a rename.
class MountWatcher : public QObject
{
    Q_OBJECT
public:
    explicit MountWatcher(
        QObject* parent = nullptr, const QString& path = QStringLiteral("/proc/self/mountinfo"));
    ~MountWatcher() override;

    bool isWatching() const { return m_fd >= 0; }
    const QList<MountEntry>& mounts() const { return m_mounts; }
    // Reads the table now and reports the differences (also called on every change notice).
    void refresh();

Q_SIGNALS:
    void mounted(const MountEntry& entry);
    void unmounted(const MountEntry& entry);
    void renamed(const MountEntry& oldEntry, const MountEntry& newEntry);
    void changed(); // after the signals of one notice

private:
    QString m_path;
    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr;
    QList<MountEntry> m_mounts;
};
