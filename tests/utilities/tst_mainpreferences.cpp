// kv-test: labels=unit
#include "KvTest.h"
#include "RecordingShellServices.h"
#include "ScriptedUiPrompts.h"
#include "WorkspaceFixture.h"
#include "platform/AppPaths.h"
#include "platform/PlistBridge.h"
#include "utilities/IPathUtil.h"
#include "utilities/MainPreferences.h"

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>
#include <sys/stat.h>

namespace {
QVariantMap readPrefs(const QString& path)
{
    return PlistBridge::readFile(path).map();
}

bool anyMessageContains(const RecordingShellServices& shell, const QString& part)
{
    for (const auto& m : shell.messages()) {
        if (QString::fromUtf8(m.text).contains(part))
            return true;
    }
    return false;
}
} // namespace

class TestMainPreferences : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // An empty home: the first start makes the workspace and writes QVPrefs.plist with the
    // defaults; the settings survive a restart.
    void firstStartCreatesWorkspaceAndDefaults()
    {
        WorkspaceFixture home;
        RecordingShellServices shell;
        ShellServicesScope scope(&shell);
        MainPreferences& prefs = MainPreferences::shared();
        QVERIFY(!prefs.loadPreferences()); // nothing to read yet

        for (const char* sub : { "Backups", "Logs", "Syncs", "Clones" })
            QVERIFY2(QFileInfo(home.workspace() + QLatin1Char('/') + QLatin1String(sub)).isDir(), sub);
        struct stat st;
        QVERIFY(::stat(QFile::encodeName(home.dataHome()).constData(), &st) == 0);
        QCOMPARE(st.st_mode & 0777, 0700u);
        QVERIFY(QFileInfo(home.home() + QStringLiteral("/.config")).isDir());
        QVERIFY(shell.calls().contains(QStringLiteral("setSandboxFirstNotNormalMigration:1")));

        const QVariantMap file = readPrefs(home.prefsFile());
        QCOMPARE(file.value(QStringLiteral("CollectLogs")).toBool(), true);
        QCOMPARE(file.value(QStringLiteral("KeepLogFilesCount")).toLongLong(), 20);
        QCOMPARE(file.value(QStringLiteral("LogDetailsLevel")).toLongLong(), 1);
        QCOMPARE(file.value(QStringLiteral("GeneralPreferencesScheme")).toLongLong(), 2);
        QCOMPARE(
            file.value(QStringLiteral("LastWorkingVersionID")).toString(), QStringLiteral("QV3_NORMAL_PRO"));
        QCOMPARE(file.value(QStringLiteral("CombineExcludePattern")).toBool(), true);
        QCOMPARE(file.value(QStringLiteral("ResolveBundlesAsDir")).toBool(), true);
        QCOMPARE(file.value(QStringLiteral("UseCustomTmpFolder")).toBool(), false);
        QCOMPARE(file.value(QStringLiteral("CustomTmpFolder")).toString(), home.tmp());
        QCOMPARE(
            file.value(QStringLiteral("AppFullPath")).toString(), QFileInfo(KvTest::appContentsDir()).path());
        QVERIFY(!file.value(QStringLiteral("AppVersion")).toString().isEmpty());
        QVERIFY(file.value(QStringLiteral("AgentState")).typeId() == QMetaType::QVariantMap);
        QVERIFY(IPathUtil::shared().isWorkspaceExistsForVersion(4));

        // A restart reads back what was saved.
        prefs.setKeepLogFilesCount(7);
        prefs.setHideCloneWarning(true);
        QVERIFY(prefs.savePreferences());
        WorkspaceFixture::resetSingletons();
        QVERIFY(MainPreferences::shared().loadPreferences());
        QCOMPARE(MainPreferences::shared().getKeepLogFilesCount(), 7);
        QCOMPARE(MainPreferences::shared().hideCloneWarning(), true);
    }

    // The older product's backups move into the new Backups folder, and their folder goes.
    void olderBackupsAreTakenOver()
    {
        WorkspaceFixture home;
        RecordingShellServices shell;
        ShellServicesScope scope(&shell);
        const QString tuvimo = home.dataHome() + QStringLiteral("/Tuvimo Backuper/Backups");
        QVERIFY(writeFile(tuvimo + QStringLiteral("/old one.qvb"), "x"));
        QVERIFY(writeFile(tuvimo + QStringLiteral("/second/inner"), "y"));
        bool created = false;
        QVERIFY(MainPreferences::shared().checkCreateAppSupportPath(&created));
        QVERIFY(created);
        QCOMPARE(readAll(home.workspace() + QStringLiteral("/Backups/old one.qvb")), QByteArray("x"));
        QCOMPARE(readAll(home.workspace() + QStringLiteral("/Backups/second/inner")), QByteArray("y"));
        QVERIFY(!QFileInfo::exists(tuvimo));
    }

    void readsStoredValues_data()
    {
        QTest::addColumn<QVariantMap>("stored");
        QTest::addColumn<int>("presetBits");
        QTest::addColumn<int>("bits");
        QTest::addColumn<double>("interval");
        QTest::addColumn<bool>("collectLogs");
        QTest::addColumn<int>("keepCount");

        QVariantMap agentAsNumber { { "GeneralPreferencesScheme", 2 }, { "AgentState", 5 } };
        QTest::newRow("state word as a number, scheme 2") << agentAsNumber << 0 << 5 << 0.0 << true << 20;
        QVariantMap scheduleOff { { "GeneralPreferencesScheme", 1 }, { "ScheduleEnabled", false } };
        QTest::newRow("scheme 1, schedule disabled") << scheduleOff << 13 << (4 | 8) << 0.0 << true << 20;
        QVariantMap scheduleOn { { "GeneralPreferencesScheme", 0 }, { "ScheduleEnabled", true } };
        QTest::newRow("scheme 0, schedule enabled") << scheduleOn << 0 << (1 | 8) << 0.0 << true << 20;
        QVariantMap collectTwo { { "CollectLogs", 2 } };
        QTest::newRow("CollectLogs 2 is not YES") << collectTwo << 0 << 0 << 0.0 << false << 20;
        QVariantMap collectOne { { "CollectLogs", 1 }, { "KeepLogFilesCount", 3 } };
        QTest::newRow("CollectLogs 1") << collectOne << 0 << 0 << 0.0 << true << 3;
        QVariantMap wrongTypes { { "CollectLogs", QStringLiteral("no") },
            { "KeepLogFilesCount", QStringLiteral("ten") }, { "GeneralPreferencesScheme", 2 },
            { "AgentState", QStringLiteral("x") } };
        QTest::newRow("values of other types are ignored") << wrongTypes << 0 << 0 << 0.0 << true << 20;
        QVariantMap agentDict { { "GeneralPreferencesScheme", 2 },
            { "AgentState", QVariantMap { { "State", 3 }, { "ModifyInterval", 812345678.25 } } } };
        QTest::newRow("state dictionary") << agentDict << 0 << 3 << 812345678.25 << true << 20;
        QVariantMap agentNoState { { "GeneralPreferencesScheme", 2 },
            { "AgentState", QVariantMap { { "ModifyInterval", 5.0 } } } };
        QTest::newRow("state dictionary without State") << agentNoState << 9 << 9 << 0.0 << true << 20;
    }

    void readsStoredValues()
    {
        QFETCH(QVariantMap, stored);
        QFETCH(int, presetBits);
        QFETCH(int, bits);
        QFETCH(double, interval);
        QFETCH(bool, collectLogs);
        QFETCH(int, keepCount);

        WorkspaceFixture home;
        stored.insert(QStringLiteral("Foreign"), QStringLiteral("kept"));
        stored.insert(QStringLiteral("ViewFilesAsAdmin"), true);
        QVERIFY(MainPreferences::shared().checkCreateAppSupportPath());
        QVERIFY(PlistBridge::writeFileAtomically(home.prefsFile(), stored));

        MainPreferences& prefs = MainPreferences::shared();
        prefs.agentState().set(presetBits, 0, QDateTime());
        QVERIFY(prefs.loadPreferences());
        QCOMPARE(prefs.agentState().getInt(), bits);
        QCOMPARE(prefs.agentState().modifyInterval(), interval);
        QCOMPARE(prefs.collectLogs(), collectLogs);
        QCOMPARE(prefs.getKeepLogFilesCount(), keepCount);
        QCOMPARE(prefs.viewFilesAsAdmin(), true);

        // Saving keeps keys it does not own and drops the read-only "ViewFilesAsAdmin".
        QVERIFY(prefs.savePreferences());
        const QVariantMap saved = readPrefs(home.prefsFile());
        QCOMPARE(saved.value(QStringLiteral("Foreign")).toString(), QStringLiteral("kept"));
        QVERIFY(!saved.contains(QStringLiteral("ViewFilesAsAdmin")));
        QCOMPARE(
            saved.value(QStringLiteral("AgentState")).toMap().value(QStringLiteral("State")).toInt(), bits);
    }

    // The resume date is written as "yyyy-MM-dd HH:mm:ss +hhmm" and read back to the same instant.
    void resumeDateRoundTrip()
    {
        WorkspaceFixture home;
        MainPreferences& prefs = MainPreferences::shared();
        const QDateTime resume = QDateTime(QDate(2031, 3, 30), QTime(18, 30, 0), Qt::OffsetFromUTC, 3600);
        prefs.agentState().set(3, 100.5, resume);
        QVERIFY(prefs.savePreferences());
        const QString text = readPrefs(home.prefsFile())
                                 .value(QStringLiteral("AgentState"))
                                 .toMap()
                                 .value(QStringLiteral("ScheduleResumeDate"))
                                 .toString();
        QVERIFY2(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d [+-]\\d{4}$"))
                     .match(text)
                     .hasMatch(),
            qPrintable(text));
        WorkspaceFixture::resetSingletons();
        QVERIFY(MainPreferences::shared().loadPreferences());
        QCOMPARE(MainPreferences::shared().agentState().scheduleResumeDate().toSecsSinceEpoch(),
            resume.toSecsSinceEpoch());
        QCOMPARE(MainPreferences::dateFromDescription(QStringLiteral("2024-03-30 18:30:00 +0100")).toUTC(),
            QDateTime(QDate(2024, 3, 30), QTime(17, 30), Qt::UTC));
    }

    // A file that does not parse is kept aside byte for byte and never overwritten; the
    // defaults are written anew and the user is told.
    void corruptFileStaysAside()
    {
        WorkspaceFixture home;
        RecordingShellServices shell;
        ShellServicesScope scope(&shell);
        QVERIFY(MainPreferences::shared().checkCreateAppSupportPath());
        const QByteArray garbage("<?xml version=\"1.0\"?><plist><dict><key>Collect\xff", 48);
        QVERIFY(writeFile(home.prefsFile(), garbage));

        QVERIFY(!MainPreferences::shared().loadPreferences());
        const QStringList aside
            = QDir(home.workspace()).entryList({ QStringLiteral("QVPrefs.plist.corrupt-*") }, QDir::Files);
        QCOMPARE(aside.size(), 1);
        QCOMPARE(readAll(home.workspace() + QLatin1Char('/') + aside.first()), garbage);
        QCOMPARE(readPrefs(home.prefsFile()).value(QStringLiteral("KeepLogFilesCount")).toLongLong(), 20);
        QVERIFY(anyMessageContains(shell, aside.first()));
    }

    // A preferences "file" that cannot be read (here a folder) is left alone.
    void unreadableFileLeftAlone()
    {
        WorkspaceFixture home;
        RecordingShellServices shell;
        ShellServicesScope scope(&shell);
        QVERIFY(QDir().mkpath(home.prefsFile() + QStringLiteral("/inside")));
        QVERIFY(!MainPreferences::shared().loadPreferences());
        QVERIFY(!MainPreferences::shared().savePreferences());
        QVERIFY(QFileInfo(home.prefsFile() + QStringLiteral("/inside")).isDir());
        QVERIFY(anyMessageContains(shell, home.prefsFile()));
    }

    // A workspace path that names a file: a clear message, the file untouched, no crash.
    void workspaceThatIsAFile()
    {
        WorkspaceFixture home;
        RecordingShellServices shell;
        ShellServicesScope scope(&shell);
        const QString file = home.home() + QStringLiteral("/not a folder");
        QVERIFY(writeFile(file, "keep me"));
        IPathUtil::shared().setWorkspacePath(file);
        QVERIFY(!MainPreferences::shared().checkCreateAppSupportPath());
        QVERIFY(!MainPreferences::shared().loadPreferences());
        QCOMPARE(readAll(file), QByteArray("keep me"));
        QVERIFY(anyMessageContains(shell, QStringLiteral("is not a folder")));
    }

    // The tar tool is the tree's gnutar, also when the stored path is that of a moved install.
    void tarToolIsTheTreesGnutar()
    {
        WorkspaceFixture home;
        QVERIFY(MainPreferences::shared().checkCreateAppSupportPath());
        QVERIFY(PlistBridge::writeFileAtomically(home.prefsFile(),
            QVariantMap { { "AppFullPath", QStringLiteral("/nowhere/Old Kelvane Pro 3.app") } }));
        MainPreferences& prefs = MainPreferences::shared();
        QVERIFY(prefs.loadPreferences());
        const QString tar = KvTest::appContentsDir() + QStringLiteral("/Resources/gnutar");
        QCOMPARE(prefs.tarTool(), tar);
        QCOMPARE(prefs.appFullPath(), QFileInfo(KvTest::appContentsDir()).path());
        QProcess run;
        run.start(tar, { QStringLiteral("--version") });
        QVERIFY(run.waitForFinished(20000));
        QCOMPARE(run.readAllStandardOutput().split('\n').value(0), QByteArray("tar (GNU tar) 1.34"));
    }

    // A save killed at any moment leaves either the old or the new file, never a torn one,
    // and the keys the writer does not own stay: the whole save and the per-key writes.
    void saveSurvivesACrash_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::newRow("savePreferences") << QStringLiteral("whole");
        QTest::newRow("per-key write") << QStringLiteral("perkey");
    }

    void saveSurvivesACrash()
    {
        QFETCH(QString, mode);
        WorkspaceFixture home;
        QVERIFY(MainPreferences::shared().checkCreateAppSupportPath());
        QVERIFY(PlistBridge::writeFileAtomically(
            home.prefsFile(), QVariantMap { { "Foreign", QStringLiteral("kept") } }));
        for (int round = 0; round < 12; ++round) {
            QProcess writer;
            writer.start(KvTest::testBinDir() + QStringLiteral("/prefswriter"), { mode });
            QVERIFY(writer.waitForStarted(10000));
            QVERIFY(writer.waitForReadyRead(10000)); // it has written at least once
            QTest::qWait(int(QRandomGenerator::global()->bounded(1, 30)));
            writer.kill();
            QVERIFY(writer.waitForFinished(10000));
            const PlistBridge::ReadResult read = PlistBridge::readFile(home.prefsFile());
            QVERIFY2(read.ok(), qPrintable(read.error));
            QCOMPARE(read.map().value(QStringLiteral("Foreign")).toString(), QStringLiteral("kept"));
            QVERIFY(
                read.map().contains(mode == QLatin1String("perkey") ? QStringLiteral("Counter")
                                                                    : QStringLiteral("KeepLogFilesCount")));
        }
    }

    void temporaryFolderSettings()
    {
        WorkspaceFixture home;
        MainPreferences& prefs = MainPreferences::shared();
        QCOMPARE(prefs.getTmpFolderPath(), home.tmp()); // $TMPDIR
        const QString custom = home.home() + QStringLiteral("/my tmp");
        QVERIFY(QDir().mkpath(custom));
        prefs.setUseCustomTmpFolder(true);
        prefs.setCustomTmpFolderPath(custom);
        QCOMPARE(prefs.getTmpFolderPath(), custom);
        QCOMPARE(IPathUtil::getTmpFolderPath(), custom);
        // A custom folder that vanished: back to the default, switched off.
        QVERIFY(QDir(custom).removeRecursively());
        QCOMPARE(prefs.getTmpFolderPath(), home.tmp());
        QCOMPARE(prefs.useCustomTmpFolder(), false);
        QCOMPARE(prefs.customTmpFolder(), QStringLiteral("/tmp"));
        prefs.setCustomTmpFolderPath(QString()); // null does nothing
        QCOMPARE(prefs.customTmpFolder(), QStringLiteral("/tmp"));
    }

    // A missing file: Retry looks again, Skip answers 1, Abort 2; the disc hint only for a
    // "Backup Disc" volume.
    void checkFileExisting()
    {
        WorkspaceFixture home;
        const QString file = home.home() + QStringLiteral("/archive.qvb");
        QCOMPARE(MainPreferences::checkFileExisting(file, false), 1);
        {
            ScriptedUiPrompts prompts;
            prompts.expectAlert(QStringLiteral("has not found"), 0); // Retry, still missing
            prompts.expectAlert(QStringLiteral("has not found"), 2); // Skip
            QCOMPARE(MainPreferences::checkFileExisting(file, true), 1);
            QCOMPARE(prompts.alerts.size(), 2);
            QCOMPARE(prompts.alerts.first().title, QStringLiteral("File \"%1\" has not found.").arg(file));
            QCOMPARE(prompts.alerts.first().buttons, QStringList({ "Retry", "Abort", "Skip" }));
            QVERIFY(!prompts.alerts.first().text.contains(QStringLiteral("change the disc")));
        }
        {
            ScriptedUiPrompts prompts;
            prompts.expectAlert(QStringLiteral("has not found"), 1); // Abort
            QCOMPARE(
                MainPreferences::checkFileExisting(QStringLiteral("/media/me/Backup Disc/a.qvb"), true), 2);
            QVERIFY(
                prompts.alerts.first().text.endsWith(QStringLiteral("\nMaybe you have to change the disc.")));
        }
        QVERIFY(writeFile(file, "x"));
        QCOMPARE(MainPreferences::checkFileExisting(file, true), 0);
    }

    void volumeSuffixes()
    {
        QCOMPARE(MainPreferences::getMultivolumeArchiveExtensionByNumber(0, 3), QStringLiteral("aaa"));
        QCOMPARE(MainPreferences::getMultivolumeArchiveExtensionByNumber(1, 3), QStringLiteral("aab"));
        QCOMPARE(MainPreferences::getMultivolumeArchiveExtensionByNumber(26, 3), QStringLiteral("aba"));
        QCOMPARE(MainPreferences::getMultivolumeArchiveExtensionByNumber(17566, 3), QStringLiteral("zzq"));
        QCOMPARE(MainPreferences::getMultivolumeArchiveExtensionByNumber(17567, 3), QString());
    }
};

QTEST_GUILESS_MAIN(TestMainPreferences)
#include "tst_mainpreferences.moc"
