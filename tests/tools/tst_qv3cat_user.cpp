// kv-test: labels=dbus,root timeout=120 fixtures=kv_testuser lock=kvtest
#include "KvTest.h"
#include "TempTree.h"
#include "TestUsers.h"
#include "platform/Subprocess.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QMutex>
#include <QtTest>
#include <pwd.h>
#include <sys/stat.h>

namespace {

QString catPath()
{
    return KvTest::appContentsDir() + QStringLiteral("/Resources/qv3_cat");
}

// Collects a child's standard output from its reader thread.
struct Collected
{
    QMutex mutex;
    QByteArray data;
    void add(const char* d, size_t n)
    {
        QMutexLocker lock(&mutex);
        data.append(d, qsizetype(n));
    }
    QByteArray get()
    {
        QMutexLocker lock(&mutex);
        return data;
    }
    bool waitFor(const QByteArray& text, int ms)
    {
        QDeadlineTimer deadline(ms);
        while (!get().contains(text) && !deadline.hasExpired())
            QTest::qWait(20);
        return get().contains(text);
    }
};

} // namespace

// Root cannot reach a user's session bus: qv3_cat, run directly as root, says so and ends at once;
// started as the user who owns the bus, it streams.
class TestQv3CatUser : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void runsAsTheBusOwner()
    {
        KV_REQUIRE_TEST_USERS();
        const QString user = QStringLiteral("kvtest");
        const passwd* pw = ::getpwnam("kvtest");
        QVERIFY(pw);
        TempTree tree(QStringLiteral("qv3cat-user"));
        QVERIFY(::chmod(tree.pathStd().c_str(), 0755) == 0);
        QVERIFY(tree.writeFile(std::string("piece"), "the only piece", 0644));
        const QString piece = tree.filePath(QStringLiteral("piece"));

        // The user's own bus.
        Collected busOut;
        Subprocess bus;
        bus.setStdoutHandler([&](const char* d, size_t n) { busOut.add(d, n); });
        Subprocess::Options busOptions = TestUsers::runAs(user, QStringLiteral("dbus-daemon"),
            { QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1") });
        QString error;
        QVERIFY2(bus.start(busOptions, &error), qPrintable(error));
        QVERIFY(busOut.waitFor("\n", 10000));
        const QString address = QString::fromUtf8(busOut.get().trimmed());
        QVERIFY(address.startsWith(QLatin1String("unix:")));

        Collected responderOut;
        Subprocess responder;
        responder.setStdoutHandler([&](const char* d, size_t n) { responderOut.add(d, n); });
        QVERIFY(responder.start(
            TestUsers::runAs(user, TestUsers::reachableProgram(QStringLiteral("cat_responder")),
                { piece, QStringLiteral("-") }, { { QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address } }),
            &error));
        QVERIFY(responderOut.waitFor("ready\n", 10000));

        // Directly as root: no connection, a message, exit 1 before the 2 s start wait.
        Subprocess::Options direct;
        direct.program = catPath();
        direct.environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
        QElapsedTimer timer;
        timer.start();
        const Subprocess::Result refused = Subprocess::run(direct, 30000);
        QCOMPARE(refused.exitCode, 1);
        QVERIFY(refused.out.isEmpty());
        QVERIFY2(refused.err.startsWith("qv3_cat: "), refused.err.constData());
        QVERIFY(timer.elapsed() < 1900);

        // As the bus owner, the way the root restore script starts it.
        Subprocess::Options wrapped;
        wrapped.program = QStringLiteral("setpriv");
        wrapped.arguments
            = { QStringLiteral("--reuid=%1").arg(pw->pw_uid), QStringLiteral("--regid=%1").arg(pw->pw_gid),
                  QStringLiteral("--init-groups"), QStringLiteral("--"), QStringLiteral("env"),
                  QStringLiteral("DBUS_SESSION_BUS_ADDRESS=") + address, catPath() };
        const Subprocess::Result streamed = Subprocess::run(wrapped, 60000);
        QCOMPARE(streamed.exitCode, 0);
        QCOMPARE(streamed.out, QByteArray("the only piece"));

        responder.stop();
        bus.stop();
    }
};

QTEST_GUILESS_MAIN(TestQv3CatUser)
#include "tst_qv3cat_user.moc"
