// kv-test: labels=unit timeout=120
#include "KvTest.h"
#include "Screenshot.h"
#include "ScriptedClock.h"
#include "TempTree.h"
#include "agent/QVLMainController.h"
#include "agent/QVLStateFile.h"
#include "agent/QVLStatusMenu.h"
#include "platform/AppPaths.h"
#include "platform/MainThread.h"
#include "platform/PlistBridge.h"
#include "platform/TimerScale.h"
#include "projects/IAgentTool.h"
#include "projects/QVConnectMessage.h"
#include "shell/dialogs/IScheduleSuspendDialog.h"
#include "utilities/IColorUtil.h"
#include "utilities/MainPreferences.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QIcon>
#include <QSystemTrayIcon>
#include <QtTest>
#include <memory>

// The agent's controller in process: the schedule tick, the mount trigger, the launch, the state
// file, the messages and the status menu, with a scripted clock and fakes for the launcher, the
// "main application runs" answer, the UUID lookup and the message channel.
class TestAgentController : public QObject
{
    Q_OBJECT

    struct Launch
    {
        QString program;
        QStringList arguments;
    };

    std::unique_ptr<TempTree> m_tree;
    std::unique_ptr<ScriptedClock> m_clock;
    std::unique_ptr<QVLMainController> m_c;
    QList<Launch> m_launches;
    QList<QVConnectMessage> m_sent;
    QList<QPair<QString, QString>> m_posts;
    bool m_running = false;
    bool m_launchOk = true;
    QHash<QString, QString> m_uuids; // mount point → UUID

    QString bundle() const { return IAgentTool::shared().mainAppPath(); }
    QVariantMap stateFile() const { return PlistBridge::readFile(QVLStateFile::filePath()).map(); }
    QList<int> sentTypes() const
    {
        QList<int> types;
        for (const auto& m : m_sent)
            types << m.type();
        return types;
    }
    // A message as the main application sends it (this process speaks as the agent).
    static QVConnectMessage fromMain(int type)
    {
        QVConnectMessage::setProgramType(QVConnectMessage::MainApplication);
        QVConnectMessage message = QVConnectMessage::messageWithSenderAndType(type);
        QVConnectMessage::setProgramType(QVConnectMessage::Agent);
        return message;
    }
    static MountEntry mountAt(const QString& path)
    {
        MountEntry e;
        e.mountPoint = path;
        e.fsType = QStringLiteral("ext4");
        return e;
    }

private Q_SLOTS:
    void initTestCase()
    {
        // The tray's long bound becomes 1.2 s.
        qputenv("KV_TIMER_SCALE", "100");
        TimerScale::reset();
        QVConnectMessage::setProgramType(QVConnectMessage::Agent);
        IColorUtil::setPortalColorSchemeOverride(std::nullopt);
    }

    void init()
    {
        m_tree = std::make_unique<TempTree>(QStringLiteral("agent controller"));
        QVERIFY(m_tree->isValid());
        qputenv("XDG_DATA_HOME", m_tree->filePath(QStringLiteral("data")).toUtf8());
        qputenv("XDG_CONFIG_HOME", m_tree->filePath(QStringLiteral("config")).toUtf8());
        AppPaths::setContentsDirOverride(
            m_tree->filePath(QStringLiteral("built/Kelvane Pro 3.app/Contents")));
        m_clock = std::make_unique<ScriptedClock>(QDateTime(QDate(2024, 3, 5), QTime(14, 0)));
        m_launches.clear();
        m_sent.clear();
        m_posts.clear();
        m_running = false;
        m_launchOk = true;
        m_uuids.clear();
        m_c = std::make_unique<QVLMainController>();
        m_c->setLauncher([this](const QString& program, const QStringList& arguments, QString* error) {
            m_launches << Launch { program, arguments };
            if (!m_launchOk && error)
                *error = QStringLiteral("No such file or directory");
            return m_launchOk;
        });
        m_c->setMainAppRunningQuery([this] { return m_running; });
        m_c->setAutostartQuery([] { return false; });
        m_c->setUuidLookup([this](const MountEntry& e) { return m_uuids.value(e.mountPoint); });
        m_c->setMessageSender([this](const QVConnectMessage& m) { m_sent << m; });
        m_c->setNotificationPoster(
            [this](const QString& n, const QString& o) { m_posts << qMakePair(n, o); });
        m_c->setInfo({ { QStringLiteral("Bundle version"), QStringLiteral("30107") } });
        m_c->loadData();
    }

    void cleanup()
    {
        m_c.reset();
        m_clock.reset();
        AppPaths::setContentsDirOverride(QString());
        m_tree.reset();
    }

    void tick_data()
    {
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("resumeIn"); // seconds from now; 0 = no resume date
        QTest::addColumn<bool>("hasDate");
        QTest::addColumn<int>("dueIn"); // seconds from now
        QTest::addColumn<bool>("running");
        QTest::addColumn<bool>("launchOk");
        QTest::addColumn<bool>("modal");
        QTest::addColumn<int>("launches");
        QTest::addColumn<bool>("dateKept");
        QTest::addColumn<int>("bitsAfter");
        QTest::addColumn<QList<int>>("sent");

        QTest::newRow("schedule off")
            << 8 << 0 << true << -60 << false << true << false << 0 << true << 8 << QList<int>();
        QTest::newRow("suspended, resume ahead")
            << 11 << 600 << true << -60 << false << true << false << 0 << true << 11 << QList<int>();
        QTest::newRow("resume passed, due")
            << 11 << -30 << true << -60 << false << true << false << 1 << false << 9 << QList<int> { 4 };
        QTest::newRow("no date") << 9 << 0 << false << 0 << false << true << false << 0 << false << 9
                                 << QList<int>();
        QTest::newRow("not yet due") << 9 << 0 << true << 60 << false << true << false << 0 << true << 9
                                     << QList<int>();
        QTest::newRow("due, not running")
            << 9 << 0 << true << -60 << false << true << false << 1 << false << 9 << QList<int>();
        QTest::newRow("due, running")
            << 9 << 0 << true << -60 << true << true << false << 0 << true << 9 << QList<int>();
        QTest::newRow("launch failed")
            << 9 << 0 << true << -60 << false << false << false << 1 << false << 9 << QList<int>();
        QTest::newRow("inside a dialog")
            << 9 << 0 << true << -60 << false << true << true << 0 << true << 9 << QList<int>();
    }

    void tick()
    {
        QFETCH(int, bits);
        QFETCH(int, resumeIn);
        QFETCH(bool, hasDate);
        QFETCH(int, dueIn);
        QFETCH(bool, running);
        QFETCH(bool, launchOk);
        QFETCH(bool, modal);
        const QDateTime now = m_clock->now();
        m_c->agentState().set(bits, 100, resumeIn ? now.addSecs(resumeIn) : QDateTime());
        const QDateTime date = hasDate ? now.addSecs(dueIn) : QDateTime();
        m_c->setDate(date);
        QVERIFY(m_c->saveData());
        m_running = running;
        m_launchOk = launchOk;
        {
            std::optional<ModalDepthGuard> guard;
            if (modal)
                guard.emplace();
            m_c->timeEvent();
        }
        QTEST(int(m_launches.size()), "launches");
        if (!m_launches.isEmpty()) {
            QCOMPARE(m_launches[0].program, bundle() + QStringLiteral("/Contents/MacOS/Kelvane Pro 3"));
            QCOMPARE(m_launches[0].arguments,
                QStringList({ QStringLiteral("launcher"), QStringLiteral("minimize") }));
        }
        QFETCH(bool, dateKept);
        QCOMPARE(m_c->date(), dateKept ? date : QDateTime());
        // What the controller holds is what the file holds.
        QCOMPARE(stateFile().contains(QStringLiteral("NextDateKey")), dateKept && hasDate);
        QTEST(m_c->agentState().getInt(), "bitsAfter");
        QTEST(sentTypes(), "sent");
    }

    void agentLog()
    {
        m_c->agentState().set(9, 100, QDateTime());
        m_c->timeEvent();
        QVERIFY(m_c->logFilePath().isEmpty());
        m_c->setInfo({ { QStringLiteral("FullLogDebug"), true } });
        m_c->timeEvent();
        QCOMPARE(m_c->logFilePath(),
            QVLStateFile::folderPath() + QStringLiteral("/SessionLog_2024-03-05_14-00-00.txt"));
        QFile log(m_c->logFilePath());
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray text = log.readAll();
        QVERIFY(text.contains("=== Schedule processing ==="));
        QVERIFY(text.contains("Next process date is empty"));
    }

    void mount_data()
    {
        QTest::addColumn<int>("bits");
        QTest::addColumn<QStringList>("volumes");
        QTest::addColumn<QString>("uuid");
        QTest::addColumn<bool>("running");
        QTest::addColumn<bool>("launched");

        const QString upper = QStringLiteral("0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9");
        const QString lower = upper.toLower();
        QTest::newRow("listed in another case")
            << 9 << QStringList { QStringLiteral("X"), upper } << lower << false << true;
        QTest::newRow("unlisted") << 9 << QStringList { upper }
                                  << QStringLiteral("11111111-2222-4333-8444-555555555555") << false << false;
        QTest::newRow("suspended") << 11 << QStringList { upper } << lower << false << false;
        QTest::newRow("schedule off") << 8 << QStringList { upper } << lower << false << false;
        QTest::newRow("empty list") << 9 << QStringList() << lower << false << false;
        QTest::newRow("application runs") << 9 << QStringList { upper } << lower << true << false;
        QTest::newRow("no UUID (tmpfs, sshfs)") << 9 << QStringList { upper } << QString() << false << false;
    }

    void mount()
    {
        QFETCH(int, bits);
        QFETCH(QStringList, volumes);
        QFETCH(QString, uuid);
        QFETCH(bool, running);
        QFETCH(bool, launched);
        m_c->agentState().set(bits, 100, bits & 2 ? m_clock->now().addSecs(600) : QDateTime());
        for (const QString& v : volumes)
            m_c->addVolumeID(v);
        m_c->setDate(m_clock->now().addSecs(3600));
        m_running = running;
        const QString point = QStringLiteral("/media/u/My \"Disk\" $(x)");
        m_uuids.insert(point, uuid);
        m_c->system_voluemMountNotification(mountAt(point));
        QCOMPARE(m_launches.size(), launched ? 1 : 0);
        QCOMPARE(m_c->lastMountedVolumePath(), launched ? point : QString());
        if (launched) {
            QCOMPARE(m_launches[0].arguments,
                QStringList({ QStringLiteral("launcher"), QStringLiteral("minimize") }));
            QVERIFY(!m_c->date().isValid());
        }
        // The application then asks why it was started.
        m_c->launcherConnectMessageProcess(fromMain(6).string());
        QCOMPARE(m_sent.size(), 1);
        QCOMPARE(m_sent[0].intForKey(QStringLiteral("LaunchingReason"), 0), launched ? 2 : 3);
        QCOMPARE(m_sent[0].stringForKey(QStringLiteral("LastMountedVolume")), launched ? point : QString());
    }

    void mainAppPathChoice()
    {
        const QString exe = QStringLiteral("Contents/MacOS/Kelvane Pro 3");
        QVERIFY(m_tree->writeFile(QStringLiteral("with exe/K \"q\" $(x)\n.app/") + exe, "#!/bin/sh\n", 0755));
        QVERIFY(m_tree->writeFile(QStringLiteral("no exe/K.app/Contents/Info.plist"), "x"));
        QVERIFY(m_tree->writeFile(QStringLiteral("not executable/K.app/") + exe, "x", 0644));
        const QString told = m_tree->filePath(QStringLiteral("with exe/K \"q\" $(x)\n.app"));
        const QList<QPair<QString, QString>> cases {
            { told, told },
            { m_tree->filePath(QStringLiteral("no exe/K.app")), bundle() },
            { m_tree->filePath(QStringLiteral("not executable/K.app")), bundle() },
            { m_tree->filePath(QStringLiteral("missing/K.app")), bundle() },
            { QString(), bundle() },
        };
        for (const auto& [path, expected] : cases) {
            m_c->setLaunchPath(path);
            QCOMPARE(m_c->mainAppPath(), expected);
        }
        QVERIFY(bundle().endsWith(QStringLiteral("/built/Kelvane Pro 3.app")));
    }

    void stateFileDefaultsAndForeignKeys()
    {
        // No file: word 8, stamp 0, nothing else, no menu.
        QCOMPARE(m_c->agentState().getInt(), 8);
        QCOMPARE(m_c->agentState().modifyInterval(), 0.0);
        QVERIFY(!m_c->date().isValid() && m_c->launchPath().isEmpty() && m_c->volumeIDArray().isEmpty());
        QVERIFY(!m_c->statusMenu());

        QVERIFY(MainPreferences::createAppSupportFolder(QVLStateFile::folderPath()));
        QVariantMap m { { QStringLiteral("Foreign"), QStringLiteral("kept") },
            { QStringLiteral("AgentState"), QStringLiteral("13") },
            { QStringLiteral("LaunchPath"), qint64(5) },
            { QStringLiteral("VolumeIDArray"),
                QVariantList { qint64(1), QStringLiteral("AA-BB"), QVariantMap() } },
            { QStringLiteral("NextDateKey"), QDateTime(QDate(2024, 3, 6), QTime(1, 2, 3), Qt::UTC) } };
        QVERIFY(PlistBridge::writeFileAtomically(QVLStateFile::filePath(), m));
        QVERIFY(m_c->loadData());
        QCOMPARE(m_c->agentState().getInt(), 8); // a text is no state word
        QVERIFY(m_c->launchPath().isEmpty());
        QCOMPARE(m_c->volumeIDArray(), QStringList { QStringLiteral("AA-BB") });
        QCOMPARE(m_c->date(), QDateTime(QDate(2024, 3, 6), QTime(1, 2, 3), Qt::UTC));
        m_c->setLaunchPath(QStringLiteral("/opt/K.app"));
        QVERIFY(m_c->saveData());
        const QVariantMap saved = stateFile();
        QCOMPARE(saved.value(QStringLiteral("Foreign")).toString(), QStringLiteral("kept"));
        QCOMPARE(saved.value(QStringLiteral("AgentState")).toLongLong(), 8);
        QCOMPARE(saved.value(QStringLiteral("LaunchPath")).toString(), QStringLiteral("/opt/K.app"));
        QFile file(QVLStateFile::filePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("<integer>8</integer>"));
    }

    void stateFileCorruptOrFolder()
    {
        QVERIFY(MainPreferences::createAppSupportFolder(QVLStateFile::folderPath()));
        const QByteArray garbage("<?xml version=\"1.0\"?><plist><dict><key>AgentState</key>\xff\x00 broken");
        QVERIFY(m_tree->writeFile(QStringLiteral("data/QVP3Launcher/QVP3Launcher.plist"), garbage, 0600));
        QVERIFY(m_c->loadData());
        QCOMPARE(m_c->agentState().getInt(), 8);
        m_c->agentState().set(9, 200, QDateTime());
        QVERIFY(m_c->saveData());
        QCOMPARE(stateFile().value(QStringLiteral("AgentState")).toLongLong(), 9);
        bool keptAside = false;
        for (const auto& name : m_tree->list("data/QVP3Launcher")) {
            if (QString::fromStdString(name).startsWith(QStringLiteral("QVP3Launcher.plist.corrupt-"))) {
                QCOMPARE(m_tree->readFile("data/QVP3Launcher/" + name), garbage);
                keptAside = true;
            }
        }
        QVERIFY(keptAside);

        // A folder where the file belongs: defaults, and a save that fails without harm.
        QVERIFY(QFile::remove(QVLStateFile::filePath()));
        QVERIFY(QDir().mkpath(QVLStateFile::filePath()));
        QVERIFY(m_c->loadData());
        QCOMPARE(m_c->agentState().getInt(), 8);
        QVERIFY(!m_c->saveData());
        QVERIFY(QFileInfo(QVLStateFile::filePath()).isDir());
    }

    void resumeDateComesAndGoes()
    {
        m_c->agentState().set(9, 100, QDateTime());
        IScheduleSuspendDialog dialog;
        dialog.setScheduleResumeDate(m_clock->now().addSecs(1800));
        m_c->SSD_OkButton(dialog);
        QCOMPARE(m_c->agentState().getInt(), 11);
        QVERIFY(stateFile().contains(QStringLiteral("ScheduleResumeDate")));
        m_clock->advance(1801 * 1000);
        m_c->timeEvent();
        QCOMPARE(m_c->agentState().getInt(), 9);
        QVERIFY(!stateFile().contains(QStringLiteral("ScheduleResumeDate")));
        // A restart does not bring the old suspension back.
        QVERIFY(m_c->loadData());
        QCOMPARE(m_c->agentState().getInt(), 9);
        QVERIFY(!m_c->agentState().scheduleResumeDate().isValid());
    }

    void messages()
    {
        auto json = [](int type, const QString& more = QString(), int program = 1, int promotion = 1) {
            return QStringLiteral("{\"Type\":%1,\"SenderData\":{\"ProgramType\":%2,\"PromotionType\":%3}%4}")
                .arg(type)
                .arg(program)
                .arg(promotion)
                .arg(more.isEmpty() ? QString() : u',' + more);
        };
        m_c->agentState().set(9, 1000, QDateTime());
        m_c->setLaunchPath(QStringLiteral("/opt/K.app"));
        m_c->addVolumeID(QStringLiteral("AA"));
        m_c->setDate(m_clock->now().addSecs(60));
        QVERIFY(m_c->saveData());
        const QVariantMap before = stateFile();

        // Dropped: not one JSON object, own or unknown senders, unknown types, a state message
        // without a state, a state of the wrong type.
        for (const QString& object : { QStringLiteral("[1,2]"), QStringLiteral("not json"),
                 QStringLiteral("{\"Type\":1"), json(1, {}, 2), json(1, {}, 1, 0), json(3, {}, 1, 3), json(9),
                 json(2), json(7), json(4), json(4, QStringLiteral("\"AgentState\":\"13\"")),
                 json(4, QStringLiteral("\"AgentState\":{\"State\":\"13\",\"ModifyInterval\":5000}")) })
            m_c->launcherConnectMessageProcess(object);
        QCOMPARE(sentTypes(), QList<int>());
        QCOMPARE(stateFile(), before);
        QCOMPARE(m_c->agentState().getInt(), 9);

        // 1 → 2 with the build; 3 → 4; promotion 2 is heard too.
        m_c->launcherConnectMessageProcess(json(1));
        m_c->launcherConnectMessageProcess(json(3, {}, 1, 2));
        QCOMPARE(sentTypes(), (QList<int> { 2, 4 }));
        QCOMPARE(m_sent[0].floatForKey(QStringLiteral("Build"), 0), 30107.0);
        QCOMPARE(m_sent[1].intForKey(QStringLiteral("Type"), 0), 4);
        m_sent.clear();

        // 4: an equal stamp is taken and saved; an older one is answered with the own state.
        m_c->launcherConnectMessageProcess(
            json(4, QStringLiteral("\"AgentState\":{\"State\":13,\"ModifyInterval\":1000}")));
        QCOMPARE(m_c->agentState().getInt(), 13);
        QCOMPARE(stateFile().value(QStringLiteral("AgentState")).toLongLong(), 13);
        QVERIFY(m_c->statusMenu()); // bit 4 came on
        m_c->launcherConnectMessageProcess(
            json(4, QStringLiteral("\"AgentState\":{\"State\":1,\"ModifyInterval\":999}")));
        QCOMPARE(m_c->agentState().getInt(), 13);
        m_c->launcherConnectMessageProcess(
            json(4, QStringLiteral("\"AgentState\":{\"State\":9,\"ModifyInterval\":1001}")));
        QVERIFY(!m_c->statusMenu());

        // 5: the path only when it is a text; no date and no volumes clear them.
        m_c->launcherConnectMessageProcess(json(
            5, QStringLiteral("\"MainAppWorkingPath\":7,\"StartOnMountVolumeIdArray\":[1,\"BB\",null]")));
        QCOMPARE(m_c->launchPath(), QStringLiteral("/opt/K.app"));
        QCOMPARE(m_c->volumeIDArray(), QStringList { QStringLiteral("BB") });
        QVERIFY(!m_c->date().isValid());
        QVERIFY(!stateFile().contains(QStringLiteral("NextDateKey")));
        QVConnectMessage five = fromMain(5);
        five.setDate(QDateTime(QDate(2024, 3, 5), QTime(15, 30)), QStringLiteral("FirstProcessDate"));
        five.setString(QStringLiteral("/srv/K 2.app"), QStringLiteral("MainAppWorkingPath"));
        m_c->launcherConnectMessageProcess(five.string());
        QCOMPARE(m_c->date(), QDateTime(QDate(2024, 3, 5), QTime(15, 30)));
        QCOMPARE(m_c->launchPath(), QStringLiteral("/srv/K 2.app"));
        QVERIFY(!stateFile().contains(QStringLiteral("VolumeIDArray")));
    }

    void olderNotifications()
    {
        m_c->old_firstScheduledDateFromMain(QStringLiteral("05 03 2024 14:00:00 +0100"));
        QCOMPARE(m_c->date().toUTC(), QDateTime(QDate(2024, 3, 5), QTime(13, 0), Qt::UTC));
        QVERIFY(stateFile().contains(QStringLiteral("NextDateKey")));
        m_c->old_firstScheduledDateFromMain(QStringLiteral("5 3 2024 garbage"));
        QVERIFY(!m_c->date().isValid());
        m_c->setDate(m_clock->now());
        m_c->old_firstScheduledDateFromMain(QStringLiteral("NONE"));
        QVERIFY(!m_c->date().isValid());
        QVERIFY(!stateFile().contains(QStringLiteral("NextDateKey")));

        m_c->old_commandsWithVolumeIDFromMain(QStringLiteral("NONE"));
        m_c->old_commandsWithVolumeIDFromMain(QStringLiteral("AA"));
        m_c->old_commandsWithVolumeIDFromMain(QStringLiteral("BB"));
        QVERIFY(!stateFile().contains(QStringLiteral("VolumeIDArray")));
        m_c->old_commandsWithVolumeIDFromMain(QStringLiteral("DONE"));
        QCOMPARE(stateFile().value(QStringLiteral("VolumeIDArray")).toStringList(),
            QStringList({ QStringLiteral("AA"), QStringLiteral("BB") }));

        m_c->old_launchPathFromMain(QStringLiteral("/opt/K.app"));
        QCOMPARE(stateFile().value(QStringLiteral("LaunchPath")).toString(), QStringLiteral("/opt/K.app"));
        m_c->old_launchPathFromMain(QStringLiteral("NONE"));
        QVERIFY(!stateFile().contains(QStringLiteral("LaunchPath")));

        m_c->old_queryMuntedVolumeFromMain(QStringLiteral("MOUNTED VOLUME"));
        QVERIFY(m_posts.isEmpty());
        m_c->setLastMountedVolumePath(QStringLiteral("/media/u/Disk"));
        m_c->old_queryMuntedVolumeFromMain(QStringLiteral("OTHER"));
        m_c->old_queryMuntedVolumeFromMain(QStringLiteral("MOUNTED VOLUME"));
        QCOMPARE(m_posts,
            (QList<QPair<QString, QString>> {
                { QStringLiteral("QVP3_DATA_RETURN"), QStringLiteral("/media/u/Disk") } }));
    }

    void menuModel_data()
    {
        QTest::addColumn<int>("bits");
        QTest::addColumn<bool>("dark");
        QTest::addColumn<QString>("toggle");
        QTest::addColumn<int>("tag");
        QTest::addColumn<QString>("comment");
        QTest::addColumn<QString>("icon");
        QTest::addColumn<QString>("highlighted");

        const QString resume = QStringLiteral("Resume Scheduler");
        const QString suspend = QStringLiteral("Suspend Scheduler...");
        const QString off = QStringLiteral("Scheduler is not active");
        const QString on = QStringLiteral("Scheduler is active");
        const QString until = QStringLiteral("Scheduler was suspended until 5 Mar 2024, 15:00:00");
        for (bool dark : { false, true }) {
            const QString colour = dark ? QStringLiteral("white") : QStringLiteral("black");
            const char* mode = dark ? "dark" : "light";
            QTest::addRow("0 %s", mode) << 0 << dark << resume << 2 << off << "menubar_icon_pause_" + colour
                                        << "menubar_icon_pause_white";
            QTest::addRow("1 %s", mode)
                << 1 << dark << suspend << 1 << on << "menubar_icon_" + colour << "menubar_icon_white";
            QTest::addRow("1|2 %s", mode) << 3 << dark << resume << 2 << until
                                          << "menubar_icon_pause_" + colour << "menubar_icon_pause_white";
            QTest::addRow("1|4 %s", mode)
                << 5 << dark << suspend << 1 << on << "menubar_icon_" + colour << "menubar_icon_white";
            QTest::addRow("4 %s", mode) << 4 << dark << resume << 2 << off << "menubar_icon_pause_" + colour
                                        << "menubar_icon_pause_white";
        }
    }

    void menuModel()
    {
        QFETCH(int, bits);
        QFETCH(bool, dark);
        QVAgentState state;
        state.set(bits, 100, bits & 2 ? QDateTime(QDate(2024, 3, 5), QTime(15, 0)) : QDateTime());
        const QVLStatusMenuModel m = QVLStatusMenuModel::forState(state, dark);
        QTEST(m.toggleTitle, "toggle");
        QTEST(m.toggleTag, "tag");
        QTEST(QString(m.comment).replace(QStringLiteral("Sept"), QStringLiteral("Sep")), "comment");
        QTEST(m.icon, "icon");
        QTEST(m.highlightedIcon, "highlighted");
        QVERIFY(!QIcon(QStringLiteral(":/icons/%1.svg").arg(m.icon)).pixmap(22, 22).isNull());
        QVERIFY(!QIcon(QStringLiteral(":/icons/%1.svg").arg(m.highlightedIcon)).pixmap(22, 22).isNull());

        // The item exists exactly while bit 4 is set, and shows the model's titles.
        m_c->agentState().set(bits, 100, state.scheduleResumeDate());
        m_c->schedulerStatusMenuChanged();
        QCOMPARE(m_c->statusMenu() != nullptr, bool(bits & 4));
        if (QVLStatusMenu* menu = m_c->statusMenu()) {
            const QList<QAction*> actions = menu->menu().actions();
            QStringList titles;
            for (QAction* a : actions)
                titles << (a->isSeparator() ? QStringLiteral("-") : a->text());
            QCOMPARE(titles,
                (QStringList { m.comment, m.toggleTitle, QStringLiteral("-"),
                    QStringLiteral("Open Kelvane Pro"), QStringLiteral("-"), QStringLiteral("Preferences..."),
                    QStringLiteral("Send Feedback...") }));
            QVERIFY(!actions[0]->isEnabled());
            QCOMPARE(menu->toolTip(), QStringLiteral("Kelvane Pro (b30107)"));
            if (bits == 5 && !dark) {
                menu->menu().adjustSize();
                QVERIFY(
                    !Screenshot::save(&menu->menu(), QStringLiteral("agent"), QStringLiteral("status-menu"),
                        QStringLiteral("The agent's status menu, scheduler active"))
                         .isEmpty());
            }
        }
    }

    void trayIconWithoutWatcher()
    {
        // No StatusNotifierWatcher here: the icon is made after the bound anyway (trays of the
        // older kind), and scheduling never waited for it.
        m_c->agentState().set(13, 100, QDateTime());
        m_c->schedulerStatusMenuChanged();
        QVERIFY(m_c->statusMenu() && !m_c->statusMenu()->trayIcon());
        QTRY_VERIFY_WITH_TIMEOUT(m_c->statusMenu()->trayIcon(), 5000);
        QCOMPARE(m_c->statusMenu()->trayIcon()->toolTip(), QStringLiteral("Kelvane Pro (b30107)"));
        QVERIFY(!m_c->statusMenu()->trayIcon()->icon().isNull());
        QCOMPARE(m_c->statusMenu()->trayIcon()->contextMenu(), &m_c->statusMenu()->menu());
    }

    void themeFollowsPalette()
    {
        m_c->agentState().set(13, 100, QDateTime());
        m_c->schedulerStatusMenuChanged();
        QVERIFY(m_c->statusMenu());
        const QPalette light = QApplication::palette();
        QPalette dark = light;
        dark.setColor(QPalette::Window, QColor(30, 30, 30));
        QApplication::setPalette(dark);
        QTRY_COMPARE(m_c->statusMenu()->model().icon, QStringLiteral("menubar_icon_white"));
        QApplication::setPalette(light);
        QTRY_COMPARE(m_c->statusMenu()->model().icon, QStringLiteral("menubar_icon_black"));
    }

    void menuActions()
    {
        // Resume from off: bits 1 and 8, tag 2, saved; type 4 only while the application runs.
        m_c->agentState().set(4 | 8, 100, QDateTime());
        m_c->schedulerStatusMenuChanged();
        m_c->statusMenuScheduleEnabledToggle();
        QCOMPARE(m_c->agentState().getInt(), 13);
        QCOMPARE(m_c->selectedMenuItemTag(), 2);
        QCOMPARE(stateFile().value(QStringLiteral("AgentState")).toLongLong(), 13);
        QVERIFY(m_sent.isEmpty());
        QCOMPARE(m_c->statusMenu()->menu().actions()[1]->text(), QStringLiteral("Suspend Scheduler..."));

        // Suspend opens the dialog; "30 minutes" suspends, "unlimited time" switches off.
        m_running = true;
        m_c->statusMenuScheduleEnabledToggle();
        QCOMPARE(m_c->selectedMenuItemTag(), 1);
        IScheduleSuspendDialog& dialog = IScheduleSuspendDialog::shared();
        QVERIFY(dialog.isVisible());
        QVERIFY(!Screenshot::save(&dialog, QStringLiteral("agent"), QStringLiteral("suspend-from-menu"),
            QStringLiteral("The suspend panel opened from the agent's menu"))
                     .isEmpty());
        dialog.suspendSchedulingPopup()->setCurrentIndex(0);
        dialog.okButton();
        QCOMPARE(m_c->agentState().getInt(), 15);
        QCOMPARE(m_c->agentState().scheduleResumeDate(), m_clock->now().addSecs(1800));
        QCOMPARE(sentTypes(), QList<int> { 4 });
        QCOMPARE(m_c->statusMenu()->model().icon.startsWith(QStringLiteral("menubar_icon_pause_")), true);
        dialog.setScheduleResumeDate(QDateTime());
        m_c->SSD_OkButton(dialog);
        QCOMPARE(m_c->agentState().getInt(), 12);
        QVERIFY(!stateFile().contains(QStringLiteral("ScheduleResumeDate")));
        m_sent.clear();

        // Open while the application runs: no second process, the reason at once.
        m_c->setDate(m_clock->now().addSecs(60));
        m_c->statusMenuStartMainApp();
        QVERIFY(m_launches.isEmpty());
        QVERIFY(!m_c->date().isValid());
        QCOMPARE(sentTypes(), QList<int> { 7 });
        QCOMPARE(m_sent[0].intForKey(QStringLiteral("LaunchingReason"), 0), 1);
        QCOMPARE(m_sent[0].intForKey(QStringLiteral("StatusMenuSelectedItemTag"), 0), 3);
        m_sent.clear();

        // Preferences while it does not run: started activating; its request then gets tag 4, once.
        m_running = false;
        m_c->statusMenuStartMainAppWithPrefs();
        QCOMPARE(m_launches.size(), 1);
        QCOMPARE(m_launches[0].arguments, QStringList { QStringLiteral("launcher") });
        m_c->launcherConnectMessageProcess(fromMain(6).string());
        m_c->launcherConnectMessageProcess(fromMain(6).string());
        QCOMPARE(m_sent.size(), 2);
        QCOMPARE(m_sent[0].intForKey(QStringLiteral("StatusMenuSelectedItemTag"), 0), 4);
        QCOMPARE(m_sent[1].intForKey(QStringLiteral("LaunchingReason"), 0), 3);

        // Feedback without an address opens nothing.
        m_c->statusMenuSendFeebback();
    }
};

QTEST_MAIN(TestAgentController)
#include "tst_agentcontroller.moc"
