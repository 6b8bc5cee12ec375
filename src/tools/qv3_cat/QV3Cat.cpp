#include "QV3Cat.h"

#include "platform/DistributedNotificationCenter.h"
#include "platform/NameCodec.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QEventLoop>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

const QString kConnectMessage = QStringLiteral("QV_CONNECT_MESSAGE");
const QString kAnswerName = QStringLiteral("QV3_CAT");
const QString kQuestion = QStringLiteral("qv3_cat::input_file_name");
const QString kApplicationBusName = QStringLiteral("com.brisoltica.KelvanePro3");
constexpr int kBlockSize = 5000;
constexpr int kReadyWaitMs = 2000;

// Diagnostics never end in the question's words: the application answers every output line that
// does, and would skip a piece.
void diagnose(const QString& text)
{
    const QByteArray line = "qv3_cat: " + text.toUtf8() + '\n';
    [[maybe_unused]] auto n = ::write(STDERR_FILENO, line.constData(), static_cast<size_t>(line.size()));
}

bool writeAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace

QV3Cat::QV3Cat(QObject* parent)
    : QObject(parent)
{ }

int QV3Cat::exec()
{
    // Without a bus nobody can answer: never wait then.
    if (!QDBusConnection::sessionBus().isConnected()) {
        const QString reason = QDBusConnection::sessionBus().lastError().message();
        diagnose(QStringLiteral("cannot connect to the session bus")
            + (reason.isEmpty() ? QString() : ": " + reason));
        return 1;
    }
    DistributedNotificationCenter& center = DistributedNotificationCenter::shared();
    center.observe(kAnswerName, this, [this](const QString&, const QString& object) {
        m_answer = object;
        m_haveAnswer = true;
        DistributedNotificationCenter::shared().post(kConnectMessage, QStringLiteral("qv3_cat:: принял"));
        if (m_loop)
            m_loop->quit();
    });
    QDBusServiceWatcher watcher(
        kApplicationBusName, center.connection(), QDBusServiceWatcher::WatchForUnregistration);
    connect(&watcher, &QDBusServiceWatcher::serviceUnregistered, this, [this] {
        m_ownerLost = true;
        if (m_loop)
            m_loop->quit();
    });

    // Give the main application time to get ready for the first question.
    {
        QEventLoop ready;
        QTimer::singleShot(kReadyWaitMs, &ready, &QEventLoop::quit);
        ready.exec();
    }

    for (;;) {
        m_haveAnswer = false;
        center.post(kConnectMessage, kQuestion);
        if (waitForAnswer() == Wait::OwnerLost) {
            diagnose(QStringLiteral("the application left the session bus before naming the next piece"));
            return 1;
        }
        if (m_answer == QLatin1String("-"))
            break;
        const QByteArray path = NameCodec::encode(m_answer);
        if (path.size() > maxPathBytes || path.isEmpty() || path.contains('\0')) {
            diagnose(QStringLiteral("refused a piece path of %1 bytes").arg(path.size()));
            reportUnopenable(m_answer);
            return 1;
        }
        if (!copyFile(path))
            return 1;
    }
    flushBus();
    return 0;
}

QV3Cat::Wait QV3Cat::waitForAnswer()
{
    // The application may wait for the user to mount the next volume: no time limit here.
    if (!m_haveAnswer && !m_ownerLost) {
        QEventLoop loop;
        m_loop = &loop;
        loop.exec();
        m_loop = nullptr;
    }
    return m_haveAnswer ? Wait::Answer : Wait::OwnerLost;
}

bool QV3Cat::copyFile(const QByteArray& path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        diagnose(
            QStringLiteral("cannot open %1: %2").arg(m_answer, QString::fromLocal8Bit(std::strerror(errno))));
        reportUnopenable(m_answer);
        return false;
    }
    char block[kBlockSize];
    for (;;) {
        const ssize_t n = ::read(fd, block, sizeof block);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            ::close(fd);
            // A piece that stops half-way leaves the stream short: the application must know.
            diagnose(QStringLiteral("cannot read %1: %2")
                         .arg(m_answer, QString::fromLocal8Bit(std::strerror(error))));
            reportUnopenable(m_answer);
            return false;
        }
        if (!writeAll(STDOUT_FILENO, block, static_cast<size_t>(n))) {
            const int error = errno;
            ::close(fd);
            diagnose(QStringLiteral("cannot write the stream: %1")
                         .arg(QString::fromLocal8Bit(std::strerror(error))));
            return false;
        }
    }
    ::close(fd);
    return true;
}

void QV3Cat::reportUnopenable(const QString& path)
{
    DistributedNotificationCenter::shared().post(
        kConnectMessage, QStringLiteral("qv3_cat:: error_can_not_open_file ") + path);
    flushBus();
}

// Messages of one connection arrive in order: once a call has its reply, every notification posted
// before it has left, and the tool may end.
void QV3Cat::flushBus()
{
    const QDBusMessage ping = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus.Peer"),
        QStringLiteral("Ping"));
    DistributedNotificationCenter::shared().connection().call(ping, QDBus::Block, 5000);
}
