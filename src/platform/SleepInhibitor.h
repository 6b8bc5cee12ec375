#pragma once

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QObject>

// Keeps the machine awake while work runs, through logind on the system bus: an "idle" block
// lock while a backup or synchronization runs, and always a "sleep" delay lock, so that a forced
// sleep is announced (PrepareForSleep) and the work can be ended first. Without a system bus or
// logind it logs one line at start and does nothing.
class SleepInhibitor : public QObject
{
    Q_OBJECT
public:
    explicit SleepInhibitor(
        const QDBusConnection& systemBus = QDBusConnection::systemBus(), QObject* parent = nullptr);
    ~SleepInhibitor() override;

    bool isAvailable() const { return m_available; }
    // Why it is not available (for the one log line); empty when it is.
    QString unavailableReason() const { return m_reason; }

    // Holds or releases the idle lock.
    void setWorkRunning(bool running, const QString& why = QString());
    bool hasIdleLock() const { return m_idle.isValid(); }
    // The delay lock: taken at start and after every wake-up, released once work has ended.
    void takeDelayLock();
    void releaseDelayLock();
    bool hasDelayLock() const { return m_delay.isValid(); }

Q_SIGNALS:
    // true: the system is about to sleep; false: it woke up.
    void prepareForSleep(bool start);

private Q_SLOTS:
    void onPrepareForSleep(bool start);

private:
    QDBusUnixFileDescriptor inhibit(const QString& what, const QString& why, const QString& mode);

    QDBusConnection m_bus;
    bool m_available = false;
    QString m_reason;
    QDBusUnixFileDescriptor m_idle;
    QDBusUnixFileDescriptor m_delay;
};
