#include "SleepInhibitor.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>

namespace {
const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kPath = QStringLiteral("/org/freedesktop/login1");
const QString kInterface = QStringLiteral("org.freedesktop.login1.Manager");
} // namespace

SleepInhibitor::SleepInhibitor(const QDBusConnection& systemBus, QObject* parent)
    : QObject(parent)
    , m_bus(systemBus)
{
    if (!m_bus.isConnected()) {
        m_reason = QStringLiteral("no system bus");
        return;
    }
    if (!m_bus.interface() || !m_bus.interface()->isServiceRegistered(kService)) {
        m_reason = QStringLiteral("no logind on the system bus");
        return;
    }
    m_available = true;
    m_bus.connect(
        kService, kPath, kInterface, QStringLiteral("PrepareForSleep"), this, SLOT(onPrepareForSleep(bool)));
    takeDelayLock();
}

SleepInhibitor::~SleepInhibitor() = default;

QDBusUnixFileDescriptor SleepInhibitor::inhibit(const QString& what, const QString& why, const QString& mode)
{
    QDBusMessage call
        = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Inhibit"));
    call << what << QStringLiteral("Kelvane Pro 3") << why << mode;
    const QDBusReply<QDBusUnixFileDescriptor> reply = m_bus.call(call, QDBus::Block, 5000);
    return reply.isValid() ? reply.value() : QDBusUnixFileDescriptor();
}

void SleepInhibitor::setWorkRunning(bool running, const QString& why)
{
    if (!m_available)
        return;
    if (running && !m_idle.isValid())
        m_idle = inhibit(QStringLiteral("idle"), why.isEmpty() ? QStringLiteral("A backup is running") : why,
            QStringLiteral("block"));
    else if (!running)
        m_idle = QDBusUnixFileDescriptor(); // the last copy closes the lock
}

void SleepInhibitor::takeDelayLock()
{
    if (m_available && !m_delay.isValid())
        m_delay = inhibit(QStringLiteral("sleep"),
            QStringLiteral("Running work is ended before the system sleeps"), QStringLiteral("delay"));
}

void SleepInhibitor::releaseDelayLock()
{
    m_delay = QDBusUnixFileDescriptor();
}

void SleepInhibitor::onPrepareForSleep(bool start)
{
    Q_EMIT prepareForSleep(start);
}
