// kv-test: labels=dbus
#include "KvTest.h"
#include "PrivateBus.h"
#include "platform/DistributedNotificationCenter.h"

#include <QDBusConnection>
#include <QtTest>
#include <memory>

// Posts travel as one broadcast signal: every connection on the bus hears them, the poster too,
// and posts to self never leave the process.
class TestDistributedNotificationCenter : public QObject
{
    Q_OBJECT
    std::unique_ptr<PrivateBus> m_bus;
    QString m_address;

private Q_SLOTS:
    void initTestCase()
    {
        m_bus = std::make_unique<PrivateBus>(PrivateBus::Kind::Session, false);
        QVERIFY2(m_bus->isValid(), qPrintable(m_bus->errorString()));
        m_address = m_bus->address();
    }

    void broadcastReachesOthersAndSelf()
    {
        DistributedNotificationCenter a(QDBusConnection::connectToBus(m_address, QStringLiteral("a")));
        DistributedNotificationCenter b(QDBusConnection::connectToBus(m_address, QStringLiteral("b")));
        QVERIFY(a.isConnected() && b.isConnected());

        QList<QString> atA, atB, otherAtB;
        a.observe(QStringLiteral("QV_CONNECT_MESSAGE"), this,
            [&](const QString&, const QString& object) { atA << object; });
        b.observe(QStringLiteral("QV_CONNECT_MESSAGE"), this,
            [&](const QString&, const QString& object) { atB << object; });
        b.observe(QString(), this, [&](const QString& name, const QString&) { otherAtB << name; });

        // Texts with quotes, backslashes, newlines and non-Latin letters pass unchanged.
        const QString text = QStringLiteral("{\"Text\":\"say \\\"hi\\\" \\\\ ok\"}\nпринял");
        QVERIFY(a.post(QStringLiteral("QV_CONNECT_MESSAGE"), text));
        QVERIFY(a.post(QStringLiteral("QV3_CAT"), QStringLiteral("-")));
        QTRY_COMPARE_WITH_TIMEOUT(atB, QList<QString> { text }, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(atA, QList<QString> { text }, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(otherAtB,
            (QList<QString> { QStringLiteral("QV_CONNECT_MESSAGE"), QStringLiteral("QV3_CAT") }), 5000);
    }

    void postToSelfStaysInProcess()
    {
        DistributedNotificationCenter a(QDBusConnection::connectToBus(m_address, QStringLiteral("a2")));
        DistributedNotificationCenter b(QDBusConnection::connectToBus(m_address, QStringLiteral("b2")));
        int atA = 0, atB = 0;
        a.observe(QStringLiteral("BackupTaskDidTerminateNotification"), this, [&](auto&, auto&) { ++atA; });
        b.observe(QStringLiteral("BackupTaskDidTerminateNotification"), this, [&](auto&, auto&) { ++atB; });
        a.postToSelf(QStringLiteral("BackupTaskDidTerminateNotification"), QString());
        QCOMPARE(atA, 0); // delivered from the event loop, never inside the call
        QTRY_COMPARE_WITH_TIMEOUT(atA, 1, 5000);
        // A bus round trip after the local post: had it gone on the bus, b would have it by now.
        int marker = 0;
        b.observe(QStringLiteral("marker"), this, [&](auto&, auto&) { ++marker; });
        QVERIFY(a.post(QStringLiteral("marker"), QString()));
        QTRY_COMPARE_WITH_TIMEOUT(marker, 1, 5000);
        QCOMPARE(atB, 0);
    }

    void observerEndsWithItsContext()
    {
        DistributedNotificationCenter a(QDBusConnection::connectToBus(m_address, QStringLiteral("a3")));
        int heard = 0, marker = 0;
        auto* context = new QObject;
        a.observe(QStringLiteral("n"), context, [&](auto&, auto&) { ++heard; });
        a.observe(QStringLiteral("m"), this, [&](auto&, auto&) { ++marker; });
        delete context;
        QVERIFY(a.post(QStringLiteral("n"), QString()));
        QVERIFY(a.post(QStringLiteral("m"), QString()));
        QTRY_COMPARE_WITH_TIMEOUT(marker, 1, 5000);
        QCOMPARE(heard, 0);
    }

    void noBusIsReportedNotFatal()
    {
        DistributedNotificationCenter none(QDBusConnection::connectToBus(
            QStringLiteral("unix:path=/nonexistent/bus"), QStringLiteral("none")));
        QVERIFY(!none.isConnected());
        QVERIFY(!none.post(QStringLiteral("QV_CONNECT_MESSAGE"), QStringLiteral("{}")));
        int heard = 0;
        none.observe(QString(), this, [&](auto&, auto&) { ++heard; });
        none.postToSelf(QStringLiteral("local"), QString()); // in-process posts still work
        QTRY_COMPARE_WITH_TIMEOUT(heard, 1, 5000);
    }
};

QTEST_GUILESS_MAIN(TestDistributedNotificationCenter)
#include "tst_distributednotificationcenter.moc"
