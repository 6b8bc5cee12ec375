// kv-test: labels=gui,dbus timeout=180
// kv-test: xvfb
#include "AgentHarness.h"
#include "platform/PlistBridge.h"
#include "utilities/MainPreferences.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QtTest>
#include <mutex>

// The real agent's tray item under an X server of the test's own, through a StatusNotifierWatcher
// mock: the item's tooltip, its menu as the tray host sees it (dbusmenu), a click on the scheduler
// toggle, and the item going and coming with state bit 4.
class TestAgentTray : public QObject
{
    Q_OBJECT
    AgentHarness h;
    std::unique_ptr<Subprocess> m_watcher;

    struct MenuItem
    {
        int id = 0;
        QString label;
        bool enabled = true;
        bool separator = false;
    };

    QString watcherRecord() const { return h.tree->filePath(QStringLiteral("watcher.record")); }
    // The callers of RegisterStatusNotifierItem, in order.
    QStringList registrations() const
    {
        QStringList names;
        QFile file(watcherRecord());
        if (file.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : file.readAll().split('\n'))
                if (!line.isEmpty())
                    names << QString::fromUtf8(line.mid(line.indexOf('\t') + 1));
        }
        return names;
    }

    static QDBusConnection bus() { return DistributedNotificationCenter::shared().connection(); }

    static void readLayout(const QDBusArgument& arg, QList<MenuItem>& items)
    {
        MenuItem item;
        QVariantMap props;
        arg.beginStructure();
        arg >> item.id >> props;
        item.label = props.value(QStringLiteral("label")).toString();
        item.enabled = props.value(QStringLiteral("enabled"), true).toBool();
        item.separator = props.value(QStringLiteral("type")).toString() == QLatin1String("separator");
        if (item.id != 0)
            items << item;
        arg.beginArray();
        while (!arg.atEnd()) {
            QDBusVariant child;
            arg >> child;
            readLayout(child.variant().value<QDBusArgument>(), items);
        }
        arg.endArray();
        arg.endStructure();
    }

    static QList<MenuItem> layout(const QString& service)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(service, QStringLiteral("/MenuBar"),
            QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("GetLayout"));
        call << 0 << -1 << QStringList();
        const QDBusMessage reply = bus().call(call, QDBus::Block, 5000);
        QList<MenuItem> items;
        if (reply.type() == QDBusMessage::ReplyMessage && reply.arguments().size() == 2)
            readLayout(reply.arguments().at(1).value<QDBusArgument>(), items);
        return items;
    }

    static QString toolTip(const QString& service)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(service, QStringLiteral("/StatusNotifierItem"),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        call << QStringLiteral("org.kde.StatusNotifierItem") << QStringLiteral("ToolTip");
        const QDBusMessage reply = bus().call(call, QDBus::Block, 5000);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return QString();
        const QDBusArgument arg
            = reply.arguments().at(0).value<QDBusVariant>().variant().value<QDBusArgument>();
        // (icon name, images, title, subtitle): the tooltip text is the title.
        QString icon, title, subtitle;
        arg.beginStructure();
        arg >> icon;
        arg.beginArray();
        while (!arg.atEnd()) {
            int w = 0, hgt = 0;
            QByteArray pixels;
            arg.beginStructure();
            arg >> w >> hgt >> pixels;
            arg.endStructure();
        }
        arg.endArray();
        arg >> title >> subtitle;
        arg.endStructure();
        return title;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(h.setUp(QStringLiteral("agent tray")));
        m_watcher = std::make_unique<Subprocess>();
        Subprocess::Options watcher;
        watcher.program = KvTest::testBinDir() + QStringLiteral("/snwatcher");
        watcher.arguments = QStringList { watcherRecord() };
        QVERIFY(m_watcher->start(watcher));
        QVERIFY(
            h.waitFor([] { return LoginItem::isRunning(QStringLiteral("org.kde.StatusNotifierWatcher")); }));
    }

    void cleanupTestCase()
    {
        if (m_watcher)
            m_watcher->stop(2000);
    }

    void trayItem()
    {
        // Scheduler off, status menu on.
        QVERIFY(
            MainPreferences::createAppSupportFolder(h.tree->filePath(QStringLiteral("data/QVP3Launcher"))));
        QVERIFY(PlistBridge::writeFileAtomically(h.stateFilePath(),
            QVariantMap { { QStringLiteral("AgentState"), qint64(12) },
                { QStringLiteral("AgentStateModifyInterval"), 100.0 } }));
        auto agent = h.startAgent();
        QVERIFY(agent && h.agentRuns());
        QVERIFY(h.waitFor([&] { return !registrations().isEmpty(); }));
        const QString item = registrations().last();

        QCOMPARE(toolTip(item), QStringLiteral("Kelvane Pro (b%1)").arg(AgentHarness::agentBuild()));
        const QList<MenuItem> items = layout(item);
        QStringList labels;
        for (const MenuItem& i : items)
            labels << (i.separator ? QStringLiteral("-") : i.label);
        QCOMPARE(labels,
            (QStringList { QStringLiteral("Scheduler is not active"), QStringLiteral("Resume Scheduler"),
                QStringLiteral("-"), QStringLiteral("Open Kelvane Pro"), QStringLiteral("-"),
                QStringLiteral("Preferences..."), QStringLiteral("Send Feedback...") }));
        QVERIFY(!items[0].enabled);
        QVERIFY(items[1].enabled);

        // A click on "Resume Scheduler" while the main application runs: bit 1 saved, state sent.
        QVERIFY(bus().registerService(AgentHarness::appId()));
        Subprocess listener;
        QByteArray listenerErr;
        std::mutex errMutex;
        listener.setStderrHandler([&](const char* data, size_t size) {
            std::lock_guard lock(errMutex);
            listenerErr.append(data, qsizetype(size));
        });
        QByteArray heard;
        listener.setStdoutHandler([&](const char* data, size_t size) {
            std::lock_guard lock(errMutex);
            heard.append(data, qsizetype(size));
        });
        Subprocess::Options wait;
        wait.program = KvTest::testBinDir() + QStringLiteral("/kv-connect");
        wait.arguments = QStringList { QStringLiteral("wait"), QStringLiteral("4"),
            QStringLiteral("--timeout"), QStringLiteral("10") };
        QVERIFY(listener.start(wait));
        QVERIFY(h.waitFor([&] {
            std::lock_guard lock(errMutex);
            return listenerErr.contains("ready");
        }));
        QDBusMessage click = QDBusMessage::createMethodCall(item, QStringLiteral("/MenuBar"),
            QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("Event"));
        click << items[1].id << QStringLiteral("clicked") << QVariant::fromValue(QDBusVariant(QString()))
              << uint(0);
        QCOMPARE(bus().call(click, QDBus::Block, 5000).type(), QDBusMessage::ReplyMessage);
        QVERIFY(
            h.waitFor([&] { return h.stateFile().value(QStringLiteral("AgentState")).toLongLong() == 13; }));
        QVERIFY(listener.waitForFinished(12000));
        QCOMPARE(listener.exitCode(), 0);
        QVERIFY2(heard.contains("\"State\":13"), heard.constData());
        QVERIFY(
            h.waitFor([&] { return layout(item).value(1).label == QLatin1String("Suspend Scheduler..."); }));
        QVERIFY(bus().unregisterService(AgentHarness::appId()));

        // Bit 4 off removes the item, on again registers a new one.
        const double stamp = h.stateFile().value(QStringLiteral("AgentStateModifyInterval")).toDouble();
        h.post(AgentHarness::json(4, AgentHarness::stateJson(9, stamp + 1)));
        QVERIFY(h.waitFor([&] { return !bus().interface()->isServiceRegistered(item).value(); }));
        h.post(AgentHarness::json(4, AgentHarness::stateJson(13, stamp + 2)));
        QVERIFY(h.waitFor([&] { return registrations().size() == 2; }));
        QVERIFY(registrations().last() != item);
        QCOMPARE(layout(registrations().last()).value(1).label, QStringLiteral("Suspend Scheduler..."));
        QCOMPARE(AgentHarness::terminate(*agent), 0);
    }
};

QTEST_MAIN(TestAgentTray)
#include "tst_agenttray.moc"
