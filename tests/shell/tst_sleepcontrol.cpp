// kv-test: labels=gui,dbus timeout=60 env=DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent

#include "../utilities/WorkspaceFixture.h"
#include "FakeBackup3Engine.h"
#include "PrivateBus.h"
#include "platform/SleepInhibitor.h"
#include "shell/MainWndController.h"
#include "snapshot/IBackup3Container.h"

#include <QDBusAbstractAdaptor>
#include <QDBusUnixFileDescriptor>
#include <QtTest>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

// logind's Inhibit and PrepareForSleep, on a thread of its own so that blocking calls from the
// main thread are answered. Every lock handed out is a pipe; the read end tells when the last
// copy of the write end was closed.
class Login1Mock : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    struct Lock
    {
        QString what, mode;
        int readEnd = -1;
    };
    QList<Lock> locks;
    QMutex mutex;

    QList<Lock> snapshot()
    {
        QMutexLocker l(&mutex);
        return locks;
    }
    // Whether every copy of that lock's descriptor is closed.
    static bool released(const Lock& lock)
    {
        pollfd p { lock.readEnd, POLLIN, 0 };
        return ::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLIN));
    }

public Q_SLOTS:
    QDBusUnixFileDescriptor Inhibit(const QString& what, const QString&, const QString&, const QString& mode)
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return QDBusUnixFileDescriptor();
        QDBusUnixFileDescriptor fd(fds[1]); // duplicates it
        ::close(fds[1]);
        QMutexLocker l(&mutex);
        locks << Lock { what, mode, fds[0] };
        return fd;
    }

Q_SIGNALS:
    void PrepareForSleep(bool start);
};

class TestSleepControl : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void noSystemBus()
    {
        SleepInhibitor inhibitor(QDBusConnection(QStringLiteral("none")));
        QVERIFY(!inhibitor.isAvailable());
        inhibitor.setWorkRunning(true);
        QVERIFY(!inhibitor.hasIdleLock());
    }

    void forcedSleepEndsARun()
    {
        WorkspaceFixture ws;
        PrivateBus bus(PrivateBus::Kind::System, false);
        QVERIFY2(bus.isValid(), qPrintable(bus.errorString()));
        QThread thread;
        Login1Mock mock;
        QDBusConnection mockBus = bus.connect(QStringLiteral("login1"));
        QVERIFY(mockBus.registerObject(QStringLiteral("/org/freedesktop/login1"), &mock,
            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
        QVERIFY(mockBus.registerService(QStringLiteral("org.freedesktop.login1")));
        // Served on its own thread: the inhibitor's calls block the main thread.
        mock.moveToThread(&thread);
        thread.start();

        MainWndController hub;
        auto engine = std::make_unique<FakeBackup3Engine>();
        FakeBackup3Engine* fake = engine.get();
        IBackup3Container backups(
            std::move(engine), ws.workspace() + QStringLiteral("/Backups/Projects.plist"));
        hub.setContainers(&backups, nullptr);
        SleepInhibitor inhibitor(bus.connect(QStringLiteral("app")));
        QVERIFY(inhibitor.isAvailable());
        hub.setSleepControl(&inhibitor);
        QCOMPARE(mock.snapshot().size(), 1);
        QCOMPARE(mock.snapshot().first().what, QStringLiteral("sleep"));
        QCOMPARE(mock.snapshot().first().mode, QStringLiteral("delay"));

        // The idle lock only while work runs.
        hub.validateSleepLock();
        QCOMPARE(mock.snapshot().size(), 1);
        backups.setProcessNext(true);
        hub.validateSleepLock();
        QCOMPARE(mock.snapshot().size(), 2);
        QCOMPARE(mock.snapshot().at(1).what, QStringLiteral("idle"));
        QVERIFY(!Login1Mock::released(mock.snapshot().at(1)));

        // A forced sleep during the run: terminated, inert, the delay lock released.
        QMetaObject::invokeMethod(&mock, [&] { Q_EMIT mock.PrepareForSleep(true); });
        QTRY_COMPARE(hub.systemInSleep(), 2);
        QCOMPARE(fake->terminations, 1);
        QTRY_VERIFY(Login1Mock::released(mock.snapshot().first()));
        backups.setProcessNext(false);
        hub.validateSleepLock();
        QTRY_VERIFY(Login1Mock::released(mock.snapshot().at(1)));

        // Awake: a new delay lock.
        QMetaObject::invokeMethod(&mock, [&] { Q_EMIT mock.PrepareForSleep(false); });
        QTRY_COMPARE(hub.systemInSleep(), 0);
        QTRY_COMPARE(mock.snapshot().size(), 3);
        QCOMPARE(mock.snapshot().at(2).mode, QStringLiteral("delay"));

        // A sleep with nothing running: allowed, 1.
        QMetaObject::invokeMethod(&mock, [&] { Q_EMIT mock.PrepareForSleep(true); });
        QTRY_COMPARE(hub.systemInSleep(), 1);
        QCOMPARE(fake->terminations, 1);
        hub.setSleepControl(nullptr);
        hub.setContainers(nullptr, nullptr);
        mockBus.unregisterObject(QStringLiteral("/org/freedesktop/login1"));
        QMetaObject::invokeMethod(
            &mock, [&] { mock.moveToThread(QCoreApplication::instance()->thread()); },
            Qt::BlockingQueuedConnection);
        thread.quit();
        thread.wait();
        for (const auto& l : mock.snapshot())
            ::close(l.readEnd);
    }
};

QTEST_MAIN(TestSleepControl)
#include "tst_sleepcontrol.moc"
