// kv-test: labels=gui,dbus timeout=180
#include "KvTest.h"
#include "PrivateBus.h"

#include <QDBusConnectionInterface>
#include <QProcess>
#include <QtTest>
#include <csignal>

namespace {
// The preferences of an earlier start: the scheduler off, so no agent is registered or started.
const char* kPrefs = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                     "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                     "<plist version=\"1.0\"><dict>\n"
                     "<key>GeneralPreferencesScheme</key><integer>2</integer>\n"
                     "<key>LastWorkingVersionID</key><string>QV3_NORMAL_PRO</string>\n"
                     "<key>AgentState</key><dict><key>State</key><integer>0</integer><key>ModifyInterval</"
                     "key><real>1</real></dict>\n"
                     "<key>SelectedFunctionKit</key><string>3</string>\n"
                     "</dict></plist>\n";

QByteArray prefsWithState(int state)
{
    const QByteArray word = "<integer>" + QByteArray::number(state) + "</integer>";
    return QByteArray(kPrefs).replace("<integer>0</integer>", word);
}
} // namespace

// The application as a process: it starts offscreen on its own bus, shows its window, hands a
// second start to the first and quits cleanly on SIGTERM.
class TestAppStart : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        m_home = std::make_unique<QTemporaryDir>();
        QDir().mkpath(m_home->path() + QStringLiteral("/data/Kelvane 3"));
        QFile prefs(m_home->path() + QStringLiteral("/data/Kelvane 3/QVPrefs.plist"));
        QVERIFY(prefs.open(QIODevice::WriteOnly));
        prefs.write(kPrefs);
    }

    void startsAndQuitsOnTerm()
    {
        PrivateBus bus(PrivateBus::Kind::Session, false);
        QVERIFY2(bus.isValid(), qPrintable(bus.errorString()));
        QProcess app;
        start(app, bus, {});
        const pid_t pid = static_cast<pid_t>(app.processId());
        QTRY_VERIFY_WITH_TIMEOUT(catchesSigterm(pid), 30000);
        QDBusConnection connection = bus.connect(QStringLiteral("appstart"));
        QTRY_VERIFY_WITH_TIMEOUT(
            connection.interface()->isServiceRegistered(QStringLiteral("com.brisoltica.KelvanePro3")), 20000);

        // A second start hands over its arguments and ends with 0; the first goes on.
        QProcess second;
        start(second, bus, { QStringLiteral("launcher") });
        QVERIFY(second.waitForFinished(20000));
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(app.state(), QProcess::Running);

        ::kill(pid, SIGTERM);
        QVERIFY(app.waitForFinished(20000));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), 0);
        // The quit sequence ran: the kit was a text, so kit 1 was stored; the run log says "Exit".
        const QByteArray prefs = readAll(m_home->path() + QStringLiteral("/data/Kelvane 3/QVPrefs.plist"));
        QVERIFY(prefs.contains("<key>SelectedFunctionKit</key>\n\t<integer>1</integer>"));
        QVERIFY(prefs.contains("MainWindowFrame"));
        // No login item was written for a scheduler that is off.
        QVERIFY(!QFile::exists(
            m_home->path() + QStringLiteral("/config/autostart/com.brisoltica.QVP3Launcher.desktop")));
    }

    // Started by the agent with nothing to do, the application quits by itself at its second
    // idle check. A second start that comes while the first is still starting makes the first
    // the user's: it exits 0 and the first stays.
    void secondStartDuringStartUp_data()
    {
        QTest::addColumn<bool>("second");
        QTest::newRow("alone") << false;
        QTest::newRow("second start") << true;
    }
    void secondStartDuringStartUp()
    {
        QFETCH(bool, second);
        writePrefs(prefsWithState(1));
        // The agent's login item is on, so the scheduler stays on; no agent runs.
        QDir().mkpath(m_home->path() + QStringLiteral("/config/autostart"));
        QFile item(m_home->path() + QStringLiteral("/config/autostart/com.brisoltica.QVP3Launcher.desktop"));
        QVERIFY(item.open(QIODevice::WriteOnly));
        item.write("[Desktop Entry]\nType=Application\nName=Agent\nExec=/bin/false\n");
        item.close();
        PrivateBus bus(PrivateBus::Kind::Session, false);
        QVERIFY2(bus.isValid(), qPrintable(bus.errorString()));
        QDBusConnection connection = bus.connect(QStringLiteral("appstart-second"));
        QProcess app;
        start(app, bus, { QStringLiteral("launcher"), QStringLiteral("minimize") }, { { "KV_TIMER_SCALE", "100" } });
        if (!second) {
            QVERIFY(app.waitForFinished(30000));
            QCOMPARE(app.exitCode(), 0);
            return;
        }
        // As soon as the first owns its name, before it has exported its object.
        QTRY_VERIFY_WITH_TIMEOUT(
            connection.interface()->isServiceRegistered(QStringLiteral("com.brisoltica.KelvanePro3")), 20000);
        QProcess other;
        start(other, bus, {}, { { "KV_TIMER_SCALE", "100" } });
        QVERIFY(other.waitForFinished(40000));
        QCOMPARE(other.exitCode(), 0);
        // Many idle checks later the first still runs.
        QTest::qWait(4000);
        QCOMPARE(app.state(), QProcess::Running);
        ::kill(pid_t(app.processId()), SIGTERM);
        QVERIFY(app.waitForFinished(20000));
        QCOMPARE(app.exitCode(), 0);
    }

    // SIGTERM at any moment of the start-up ends the application through its quit: exit 0 and
    // the preferences saved.
    void sigtermDuringStartUp_data()
    {
        QTest::addColumn<int>("delayMs");
        for (int ms : { 0, 20, 100, 400 })
            QTest::addRow("%d ms", ms) << ms;
    }
    void sigtermDuringStartUp()
    {
        QFETCH(int, delayMs);
        PrivateBus bus(PrivateBus::Kind::Session, false);
        QVERIFY2(bus.isValid(), qPrintable(bus.errorString()));
        QProcess app;
        start(app, bus, {});
        const pid_t pid = static_cast<pid_t>(app.processId());
        QTRY_VERIFY_WITH_TIMEOUT(catchesSigterm(pid), 30000);
        if (delayMs)
            QThread::msleep(delayMs);
        ::kill(pid, SIGTERM);
        QVERIFY(app.waitForFinished(30000));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), 0);
        const QByteArray prefs = readAll(m_home->path() + QStringLiteral("/data/Kelvane 3/QVPrefs.plist"));
        QVERIFY2(prefs.contains("<key>SelectedFunctionKit</key>\n\t<integer>1</integer>"), prefs.constData());
    }

    void noBus()
    {
        QProcess app;
        QProcessEnvironment env = environment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent"));
        app.setProcessEnvironment(env);
        app.start(program(), {});
        QVERIFY(app.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(catchesSigterm(pid_t(app.processId())), 30000);
        QTest::qWait(500);
        QCOMPARE(app.state(), QProcess::Running);
        ::kill(pid_t(app.processId()), SIGTERM);
        QVERIFY(app.waitForFinished(20000));
        QCOMPARE(app.exitCode(), 0);
        QVERIFY(app.readAllStandardError().contains("No session bus"));
    }

private:
    static QString program() { return KvTest::appContentsDir() + QStringLiteral("/MacOS/Kelvane Pro 3"); }
    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("HOME"), m_home->path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home->path() + QStringLiteral("/config"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_home->path() + QStringLiteral("/data"));
        env.insert(QStringLiteral("XDG_STATE_HOME"), m_home->path() + QStringLiteral("/state"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), m_home->path() + QStringLiteral("/cache"));
        QDir().mkpath(m_home->path() + QStringLiteral("/run"));
        QFile::setPermissions(
            m_home->path() + QStringLiteral("/run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home->path() + QStringLiteral("/run"));
        return env;
    }
    void writePrefs(const QByteArray& content)
    {
        QFile prefs(m_home->path() + QStringLiteral("/data/Kelvane 3/QVPrefs.plist"));
        QVERIFY(prefs.open(QIODevice::WriteOnly | QIODevice::Truncate));
        prefs.write(content);
    }
    void start(QProcess& process, const PrivateBus& bus, const QStringList& args,
        const QList<QPair<const char*, const char*>>& more = {})
    {
        QProcessEnvironment env = environment();
        for (const auto& [name, value] : more)
            env.insert(QString::fromLatin1(name), QString::fromLatin1(value));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
        process.setProcessEnvironment(env);
        process.start(program(), args);
        QVERIFY2(process.waitForStarted(10000), qPrintable(process.errorString()));
    }
    static QByteArray readAll(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
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

    std::unique_ptr<QTemporaryDir> m_home;
};

QTEST_GUILESS_MAIN(TestAppStart)
#include "tst_appstart.moc"
