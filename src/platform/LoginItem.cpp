#include "platform/LoginItem.h"

#include "platform/AppPaths.h"
#include "platform/AtomicFile.h"
#include "platform/DistributedNotificationCenter.h"
#include "platform/MainThread.h"
#include "platform/ProcessTable.h"
#include "platform/Subprocess.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QThread>
#include <QTimer>
#include <cerrno>
#include <csignal>

namespace {

// Programs this process started for a login item, by identifier: found again by this pid only.
QHash<QString, pid_t>& startedPids()
{
    static QHash<QString, pid_t> pids;
    return pids;
}

QDBusConnectionInterface* busInterface()
{
    const QDBusConnection connection = DistributedNotificationCenter::shared().connection();
    return connection.isConnected() ? connection.interface() : nullptr;
}

bool signalProcess(pid_t pid, int sig)
{
    return pid > 0 && (::kill(pid, sig) == 0 || errno == EPERM);
}

} // namespace

QString LoginItem::autostartFilePath(const QString& identifier)
{
    return AppPaths::configHome() + QStringLiteral("/autostart/") + identifier + QStringLiteral(".desktop");
}

QString LoginItem::execValue(const QString& program)
{
    // Desktop Entry quoting: the whole path in double quotes, with ", `, $ and \ escaped by a
    // backslash, and % doubled (field codes); then the key-file escapes, which double every
    // backslash and write control characters as escapes.
    QString quoted = QStringLiteral("\"");
    for (const QChar c : program) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        if (c == u'%')
            quoted += u'%';
        quoted += c;
    }
    quoted += u'"';
    QString value;
    for (const QChar c : quoted) {
        if (c == u'\\')
            value += QStringLiteral("\\\\");
        else if (c == u'\n')
            value += QStringLiteral("\\n");
        else if (c == u'\t')
            value += QStringLiteral("\\t");
        else if (c == u'\r')
            value += QStringLiteral("\\r");
        else
            value += c;
    }
    return value;
}

QByteArray LoginItem::desktopEntry(const QString& name, const QString& program)
{
    QString text = QStringLiteral("[Desktop Entry]\nType=Application\nName=") + name
        + QStringLiteral("\nExec=") + execValue(program)
        + QStringLiteral("\nX-GNOME-Autostart-enabled=true\n");
    return text.toUtf8();
}

bool LoginItem::isEnabled(const QString& identifier)
{
    QFile file(autostartFilePath(identifier));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    bool inEntry = false;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray& raw : lines) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith('[')) {
            inEntry = line == "[Desktop Entry]";
            continue;
        }
        const int eq = line.indexOf('=');
        if (!inEntry || eq < 0)
            continue;
        const QByteArray key = line.left(eq).trimmed();
        const QByteArray value = line.mid(eq + 1).trimmed();
        if ((key == "Hidden" && value == "true") || (key == "X-GNOME-Autostart-enabled" && value == "false"))
            return false;
    }
    return true;
}

bool LoginItem::enable(const QString& identifier, const QString& name, const QString& program, QString* error)
{
    const QString path = autostartFilePath(identifier);
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        if (error)
            *error = QStringLiteral("Cannot create the folder of %1").arg(path);
        return false;
    }
    if (!AtomicFile::write(path, desktopEntry(name, program), error))
        return false;
    if (isRunning(identifier) || ProcessTable::isProcessAlive(startedPids().value(identifier)))
        return true;
    Subprocess::Options options;
    options.program = program;
    options.toolLocale = false; // our own program keeps the user's locale
    options.newSession = true;
    const pid_t pid = Subprocess::startDetached(options, error);
    if (pid <= 0)
        return false;
    startedPids().insert(identifier, pid);
    return true;
}

bool LoginItem::disable(const QString& identifier, QString* error)
{
    const QString path = autostartFilePath(identifier);
    if (QFile::exists(path) && !QFile::remove(path)) {
        if (error)
            *error = QStringLiteral("Cannot remove %1").arg(path);
        return false;
    }
    if (!stop(identifier)) {
        if (error)
            *error = QStringLiteral("The program of %1 did not end").arg(identifier);
        return false;
    }
    return true;
}

bool LoginItem::isRunning(const QString& identifier)
{
    QDBusConnectionInterface* bus = busInterface();
    if (!bus)
        return false;
    const QDBusReply<bool> reply = bus->isServiceRegistered(identifier);
    return reply.isValid() && reply.value();
}

pid_t LoginItem::ownerPid(const QString& identifier)
{
    QDBusConnectionInterface* bus = busInterface();
    if (!bus)
        return 0;
    const QDBusReply<uint> reply = bus->servicePid(identifier);
    return reply.isValid() ? pid_t(reply.value()) : 0;
}

bool LoginItem::stop(const QString& identifier)
{
    QList<pid_t> pids;
    if (const pid_t owner = ownerPid(identifier); owner > 0 && owner != ::getpid())
        pids << owner;
    if (const pid_t started = startedPids().value(identifier);
        started > 0 && !pids.contains(started) && ProcessTable::isProcessAlive(started))
        pids << started;
    auto ended = [&] {
        if (isRunning(identifier))
            return false;
        for (pid_t pid : pids) {
            if (ProcessTable::isProcessAlive(pid))
                return false;
        }
        return true;
    };
    if (pids.isEmpty())
        return !isRunning(identifier);
    for (pid_t pid : pids)
        signalProcess(pid, SIGTERM);
    if (!waitUntil(ended, termGraceMs)) {
        // An agent of an older build may ignore SIGTERM.
        for (pid_t pid : pids) {
            if (ProcessTable::isProcessAlive(pid))
                signalProcess(pid, SIGKILL);
        }
        if (!waitUntil(ended, killGraceMs))
            return false;
    }
    startedPids().remove(identifier);
    return true;
}

bool LoginItem::waitUntil(const std::function<bool()>& done, int timeoutMs)
{
    if (done())
        return true;
    ModalDepthGuard modal;
    QElapsedTimer elapsed;
    elapsed.start();
    while (elapsed.elapsed() < timeoutMs) {
        if (QCoreApplication::instance()) {
            QEventLoop loop;
            QTimer::singleShot(20, &loop, &QEventLoop::quit);
            loop.exec(QEventLoop::ExcludeUserInputEvents);
        } else {
            QThread::msleep(20);
        }
        if (done())
            return true;
    }
    return done();
}
