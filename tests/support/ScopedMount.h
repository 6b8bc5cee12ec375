#pragma once

#include <QString>
#include <QStringList>

// A mount a root test makes itself (a path of its choosing, extra options), unmounted and its
// folder removed when the object goes, even after a failed test. Folders belong under
// LoopImage::loopRoot(), where the kv_loop_cleanup fixture also finds leftovers of crashes.
class ScopedMount
{
public:
    ScopedMount() = default;
    ~ScopedMount();
    ScopedMount(const ScopedMount&) = delete;
    ScopedMount& operator=(const ScopedMount&) = delete;

    // mount ARGS… DIR (the folder is made first); false and errorString() on failure.
    bool mount(const QStringList& args, const QString& dir);
    bool unmount();
    QString dir() const { return m_dir; }
    bool isMounted() const { return m_mounted; }
    QString errorString() const { return m_error; }

private:
    QString m_dir;
    bool m_mounted = false;
    QString m_error;
};
