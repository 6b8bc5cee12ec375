// kv-test: labels=dbus
#include "KvTest.h"
#include "PrivateBus.h"
#include "TempTree.h"

#include <QDBusConnectionInterface>
#include <QtTest>
#include <csignal>
#include <sys/stat.h>

// The shared test helpers do what other tests rely on: odd names really land on disk as
// bytes, trees go away even when made unwritable, and private buses work and end.
class TestTestSupport : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void oddNamesLandAsBytes()
    {
        std::string root;
        {
            TempTree tree;
            QVERIFY(tree.isValid());
            QVERIFY(tree.path().startsWith(KvTest::buildDir() + QStringLiteral("/tests/tmp/")));
            root = tree.pathStd();
            std::vector<std::string> made = tree.makeOddFiles("odd");
            std::vector<std::string> expected = TempTree::oddNames();
            QCOMPARE(made.size(), expected.size());
            std::sort(expected.begin(), expected.end());
            QCOMPARE(tree.list("odd"), expected);
            for (const std::string& name : expected)
                QCOMPARE(tree.readFile("odd/" + name), QByteArray::fromStdString(name));
            QVERIFY(std::find_if(expected.begin(), expected.end(), [](const std::string& n) {
                return n.size() == 255;
            }) != expected.end());
            // An unreadable, unwritable folder does not stop the removal.
            QVERIFY(tree.writeFile(std::string("locked/deep/f"), "x"));
            QVERIFY(::chmod(tree.filePathStd("locked/deep").c_str(), 0) == 0);
            QVERIFY(::chmod(tree.filePathStd("locked").c_str(), 0500) == 0);
        }
        struct stat st
        {
        };
        QVERIFY(::lstat(root.c_str(), &st) != 0);
    }

    void privateBuses()
    {
        const QByteArray before = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
        qint64 pid = 0;
        {
            PrivateBus bus(PrivateBus::Kind::System);
            QVERIFY2(bus.isValid(), qPrintable(bus.errorString()));
            pid = bus.pid();
            QCOMPARE(qgetenv("DBUS_SYSTEM_BUS_ADDRESS"), bus.address().toUtf8());
            QDBusConnection service = bus.connect(QStringLiteral("svc"));
            QVERIFY(service.isConnected());
            // A mock of a system service may own its well-known name.
            QVERIFY(service.registerService(QStringLiteral("org.freedesktop.login1")));
            QDBusConnection client = bus.connect(QStringLiteral("client"));
            QVERIFY(client.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.login1")));
        }
        QCOMPARE(qgetenv("DBUS_SYSTEM_BUS_ADDRESS"), before);
        QTRY_VERIFY_WITH_TIMEOUT(::kill(pid_t(pid), 0) != 0, 5000);

        PrivateBus session;
        QVERIFY2(session.isValid(), qPrintable(session.errorString()));
        QCOMPARE(qgetenv("DBUS_SESSION_BUS_ADDRESS"), session.address().toUtf8());
        QVERIFY(session.connect(QStringLiteral("s")).isConnected());
    }
};

QTEST_GUILESS_MAIN(TestTestSupport)
#include "tst_testsupport.moc"
