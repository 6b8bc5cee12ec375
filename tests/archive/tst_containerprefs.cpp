// kv-test: labels=gui
// The archive container's share of the application: the scheduler state it reads from the
// preferences, two lifetimes over one home (what the first saves, the second finds), and the
// file icons it draws.
#include "../utilities/WorkspaceFixture.h"
#include "RecordingShellServices.h"
#include "archive/CBackup.h"
#include "archive/CBackupContainer.h"
#include "platform/PlistBridge.h"
#include "projects/QVAgentState.h"

#include <QGuiApplication>
#include <QPainter>
#include <QtTest>

class TestContainerPrefs : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // No preferences file: scheduled starts and the status menu on. A file of scheme 2 with the
    // state as a dictionary gives its word, interval and resume date to the container.
    void schedulerStateFromThePreferences()
    {
        WorkspaceFixture home;
        RecordingShellServices shell;
        ShellServicesScope scope(&shell);
        {
            CBackupContainer fresh;
            const int on = QVAgentState::ScheduleOn | QVAgentState::ShowStatusMenu;
            QCOMPARE(fresh.agentState().getInt() & on, on);
        }
        const QDateTime resume(QDate(2026, 12, 24), QTime(8, 30), Qt::UTC);
        QVariantMap state { { QStringLiteral("State"), 0x4 | 0x8 },
            { QStringLiteral("ModifyInterval"), 812345.5 },
            { QStringLiteral("ScheduleResumeDate"), QVAgentState::resumeDateText(resume) } };
        QVERIFY(QDir().mkpath(home.workspace()));
        QVERIFY(PlistBridge::writeFileAtomically(home.prefsFile(),
            QVariantMap { { QStringLiteral("GeneralPreferencesScheme"), 2 },
                { QStringLiteral("AgentState"), state } }));
        CBackupContainer c;
        QVERIFY(c.loadPreferences());
        QCOMPARE(c.agentState().getInt() & 0xF, 0x4 | 0x8);
        QCOMPARE(c.agentState().modifyInterval(), 812345.5);
        QCOMPARE(c.agentState().scheduleResumeDate().toSecsSinceEpoch(), resume.toSecsSinceEpoch());
    }

    // Construct, load, change, save, destroy; then again over the same home: the preferences,
    // the scheduler state and the project list are there, and the first run log ends with its
    // last line.
    void twoLifetimesOverOneHome()
    {
        WorkspaceFixture home;
        RecordingShellServices shell;
        ShellServicesScope scope(&shell);
        QString firstLog;
        {
            CBackupContainer c;
            c.loadPreferences();
            c.openLog();
            MainPreferences::shared().setKeepLogFilesCount(9);
            c.agentState().setOff(QVAgentState::ScheduleOn);
            CBackup* b = c.addNewBackup(QStringLiteral("Kept"));
            QVERIFY(b->save());
            QVERIFY(c.savePreferences());
            c.traceToLog("last line of the first run\n");
            firstLog = RunLog::shared().logPath();
            QVERIFY(!firstLog.isEmpty());
        }
        QVERIFY(readAll(firstLog).endsWith("last line of the first run\n"));
        WorkspaceFixture::resetSingletons();
        {
            CBackupContainer c;
            QVERIFY(c.loadPreferences());
            QCOMPARE(MainPreferences::shared().getKeepLogFilesCount(), 9);
            QVERIFY(!c.agentState().isOn(QVAgentState::ScheduleOn));
            QVERIFY(c.agentState().isOn(QVAgentState::ShowStatusMenu));
            QCOMPARE(c.loadRecentBackups(), 1);
            QCOMPARE(c.backupAt(0)->name(), QStringLiteral("Kept"));
        }
    }

    // The default image for a null path, at the size asked; the link badge changes the image;
    // a file of a known type gets an icon of that size too.
    void iconsOfFiles()
    {
        WorkspaceFixture home;
        CBackupContainer c;
        const QImage plain = c.getIconImageOfSize(QString(), 48, QStringLiteral("FIconImage-Default"), false);
        QVERIFY(!plain.isNull());
        QCOMPARE(plain.size(), QSize(48, 48));
        const QImage badged = c.getIconImageOfSize(QString(), 48, QStringLiteral("FIconImage-Default"), true);
        QCOMPARE(badged.size(), QSize(48, 48));
        QVERIFY(badged.convertToFormat(QImage::Format_ARGB32) != plain.convertToFormat(QImage::Format_ARGB32));
        // The badge sits over the icon: the icon's pixels outside the badge stay.
        QCOMPARE(badged.pixelColor(40, 8).rgba(), plain.pixelColor(40, 8).rgba());

        QVERIFY(writeFile(home.home() + QStringLiteral("/notes.txt"), "x"));
        const QImage file
            = c.getIconImageOfSize(home.home() + QStringLiteral("/notes.txt"), 16, QStringLiteral("FIconImage-Default"), false);
        QCOMPARE(file.size(), QSize(16, 16));
        // A missing default name and no file: no image rather than a wrong one.
        QVERIFY(c.getIconImageOfSize(QString(), 16, QStringLiteral("NoSuchImage"), false).isNull());
    }
};

QTEST_MAIN(TestContainerPrefs)
#include "tst_containerprefs.moc"
