// kv-test: labels=gui
#include "KvTest.h"

#include <QProcess>
#include <QtTest>

#include <csignal>

// The application starts offscreen, shows its window and quits cleanly on SIGTERM.
class TestAppStart : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void startsAndQuitsOnTerm()
    {
        QProcess app;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("HOME"), m_home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.path() + QStringLiteral("/config"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_home.path() + QStringLiteral("/data"));
        env.insert(QStringLiteral("XDG_STATE_HOME"), m_home.path() + QStringLiteral("/state"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), m_home.path() + QStringLiteral("/cache"));
        app.setProcessEnvironment(env);
        app.start(KvTest::appContentsDir() + QStringLiteral("/MacOS/Kelvane Pro 3"), {});
        QVERIFY2(app.waitForStarted(10000), qPrintable(app.errorString()));
        // Once the program catches SIGTERM, ask it to quit as a session manager would.
        const pid_t pid = static_cast<pid_t>(app.processId());
        QTRY_VERIFY_WITH_TIMEOUT(catchesSigterm(pid), 30000);
        QTest::qWait(300);
        QCOMPARE(app.state(), QProcess::Running);
        ::kill(pid, SIGTERM);
        QVERIFY(app.waitForFinished(20000));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), 0);
    }

private:
    // The SigCgt mask of /proc/PID/status names the signals the process has handlers for.
    static bool catchesSigterm(pid_t pid)
    {
        QFile status(QStringLiteral("/proc/%1/status").arg(pid));
        if (!status.open(QIODevice::ReadOnly))
            return false;
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("SigCgt:"))
                return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (SIGTERM - 1)) & 1;
        }
        return false;
    }

    QTemporaryDir m_home;
};

QTEST_GUILESS_MAIN(TestAppStart)
#include "tst_appstart.moc"
