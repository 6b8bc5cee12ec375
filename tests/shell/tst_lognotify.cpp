// kv-test: labels=dbus
// User notifications of the log sink reach org.freedesktop.Notifications on the session bus.
#include "PrivateBus.h"
#include "projects/IProject.h"
#include "shell/LogSink.h"
#include "utilities/IMessageUtil.h"
#include "utilities/LogOptions.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QtTest>
#include <memory>
#include <thread>

// A small stand-in for the desktop's notification service.
class MockNotifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Call
    {
        QString appName;
        QString summary;
        QString body;
        qint32 timeout = 0;
    };
    QList<Call> calls;

public Q_SLOTS:
    uint Notify(const QString& appName, uint replacesId, const QString& appIcon, const QString& summary,
        const QString& body, const QStringList& actions, const QVariantMap& hints, int timeout)
    {
        calls.append({ appName, summary, body, timeout });
        return uint(calls.size());
    }
    QStringList GetCapabilities() { return { QStringLiteral("body") }; }
};

class NamedProject : public IProject
{
public:
    QString name() const override { return QStringLiteral("P"); }
    QByteArray utf8StringCode() const override { return "( 1 ) "; }
};

class TestLogNotify : public QObject
{
    Q_OBJECT

    std::unique_ptr<PrivateBus> m_bus;
    MockNotifications m_mock;

private Q_SLOTS:
    void initTestCase()
    {
        // The bus comes first: the session connection is made at its first use.
        m_bus = std::make_unique<PrivateBus>(PrivateBus::Kind::Session, true);
        QVERIFY2(m_bus->isValid(), qPrintable(m_bus->errorString()));
        QDBusConnection service = m_bus->connect(QStringLiteral("mock-notifications"));
        QVERIFY(service.isConnected());
        QVERIFY(service.registerObject(
            QStringLiteral("/org/freedesktop/Notifications"), &m_mock, QDBusConnection::ExportAllSlots));
        QVERIFY(service.registerService(QStringLiteral("org.freedesktop.Notifications")));
    }

    void cleanupTestCase() { m_bus.reset(); }

    void projectNotification()
    {
        LogSink sink;
        NamedProject project;
        sink.processMessage(QStringLiteral("Cloning failed."), LogWord::StatusWindowNotify, &project);
        QTRY_COMPARE_WITH_TIMEOUT(m_mock.calls.size(), 1, 10000);
        QCOMPARE(m_mock.calls[0].summary, QStringLiteral("Project \"P\""));
        QCOMPARE(m_mock.calls[0].body, QStringLiteral("Cloning failed"));
        QCOMPARE(m_mock.calls[0].appName, QStringLiteral("Kelvane Pro 3"));
        QCOMPARE(m_mock.calls[0].timeout, -1);

        // From a reader thread and without a project sender.
        m_mock.calls.clear();
        std::thread([&sink] {
            sink.processMessage(
                QStringLiteral("Disk is full"), LogOption::String | LogOption::Notify, nullptr);
        }).join();
        QTRY_COMPARE_WITH_TIMEOUT(m_mock.calls.size(), 1, 10000);
        QCOMPARE(m_mock.calls[0].summary, QStringLiteral("New message"));
        QCOMPARE(m_mock.calls[0].body, QStringLiteral("Disk is full"));
    }

    void routerNotification()
    {
        m_mock.calls.clear();
        LogSink sink;
        sink.sendTextInfo(QStringLiteral("Archive built"), 1, quint8(tpMessage), nullptr);
        QTRY_COMPARE_WITH_TIMEOUT(m_mock.calls.size(), 1, 10000);
        QCOMPARE(m_mock.calls[0].summary, QStringLiteral("New message"));
        QCOMPARE(m_mock.calls[0].body, QStringLiteral("Archive built"));
    }
};

QTEST_GUILESS_MAIN(TestLogNotify)
#include "tst_lognotify.moc"
