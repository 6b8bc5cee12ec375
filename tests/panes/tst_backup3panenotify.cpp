// kv-test: labels=dbus timeout=60

// A text the snapshot pane routes with target 128 reaches the desktop's notification service
// (a stand-in on the test's own session bus).

#include "PrivateBus.h"
#include "panes/backup/Backup3PaneController.h"
#include "snapshot/IBackup3.h"

#include <QDBusConnection>
#include <QtTest>

class NotificationsStandIn : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QStringList summaries, bodies;

public Q_SLOTS:
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body,
        const QStringList&, const QVariantMap&, int)
    {
        summaries << summary;
        bodies << body;
        return uint(bodies.size());
    }
    QStringList GetCapabilities() { return { QStringLiteral("body") }; }
};

class TestBackup3PaneNotify : public QObject
{
    Q_OBJECT
    std::unique_ptr<PrivateBus> m_bus;
    NotificationsStandIn m_service;

private Q_SLOTS:
    void initTestCase()
    {
        m_bus = std::make_unique<PrivateBus>(PrivateBus::Kind::Session, true);
        QVERIFY2(m_bus->isValid(), qPrintable(m_bus->errorString()));
        QDBusConnection service = m_bus->connect(QStringLiteral("notifications-stand-in"));
        QVERIFY(service.registerObject(
            QStringLiteral("/org/freedesktop/Notifications"), &m_service, QDBusConnection::ExportAllSlots));
        QVERIFY(service.registerService(QStringLiteral("org.freedesktop.Notifications")));
    }
    void cleanupTestCase() { m_bus.reset(); }

    void target128Notifies()
    {
        Backup3PaneController controller(nullptr);
        IBackup3 project;
        project.setName(QStringLiteral("Docs"));
        controller.sendTextInfo(QStringLiteral("Backup has succeeded"), 1, 128, &project);
        QTRY_COMPARE_WITH_TIMEOUT(m_service.bodies.size(), 1, 10000);
        QVERIFY2(m_service.bodies.first().contains(QLatin1String("Backup has succeeded"))
                || m_service.summaries.first().contains(QLatin1String("Backup has succeeded")),
            qPrintable(m_service.summaries.first() + QLatin1Char('|') + m_service.bodies.first()));
        // Other targets do not notify.
        controller.sendTextInfo(QStringLiteral("Working..."), 1, 2, &project);
        QTest::qWait(300);
        QCOMPARE(m_service.bodies.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestBackup3PaneNotify)
#include "tst_backup3panenotify.moc"
