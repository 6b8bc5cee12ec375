// kv-test: labels=unit
#include "KvTest.h"
#include "ScriptedClock.h"
#include "TempTree.h"
#include "platform/AppPaths.h"
#include "platform/Clock.h"

#include <QtTest>

// Paths of the application tree and of the user's folders, and the injectable clock.
class TestAppPaths : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void treeFromEnvironmentAndOverride()
    {
        // ctest points KV_APP_CONTENTS at the build's tree.
        QCOMPARE(AppPaths::contentsDir(), KvTest::appContentsDir());
        QCOMPARE(AppPaths::resourcePath(QStringLiteral("rsync3")),
            KvTest::appContentsDir() + QStringLiteral("/Resources/rsync3"));
        QCOMPARE(AppPaths::infoPlistValue(QStringLiteral("CFBundleName")).toString(),
            QStringLiteral("Kelvane Pro 3"));
        QCOMPARE(AppPaths::infoPlistValue(QStringLiteral("g_FullLogDebug")), QVariant(false));
        QVERIFY(!AppPaths::infoPlistValue(QStringLiteral("NoSuchKey")).isValid());

        // A test's own tree wins over the environment; the Info.plist cache follows it.
        TempTree tree;
        QVERIFY(tree.writeFile(std::string("Contents/Info.plist"),
            "<plist><dict><key>CFBundleName</key><string>Other</string></dict></plist>"));
        AppPaths::setContentsDirOverride(tree.filePath(std::string("Contents/")));
        QCOMPARE(AppPaths::contentsDir(), tree.filePath(std::string("Contents")));
        QCOMPARE(AppPaths::macOSDir(), tree.filePath(std::string("Contents/MacOS")));
        QCOMPARE(AppPaths::launcherAppPath(),
            tree.filePath(std::string("Contents/Library/LoginItems/QVP3Launcher.app")));
        QCOMPARE(
            AppPaths::infoPlistValue(QStringLiteral("CFBundleName")).toString(), QStringLiteral("Other"));
        AppPaths::setContentsDirOverride(QString());
        QCOMPARE(AppPaths::infoPlistValue(QStringLiteral("CFBundleName")).toString(),
            QStringLiteral("Kelvane Pro 3"));
    }

    void xdgFolders()
    {
        qputenv("HOME", "/home/someone");
        qunsetenv("XDG_DATA_HOME");
        qputenv("XDG_CONFIG_HOME", "relative/ignored");
        qputenv("XDG_STATE_HOME", "/x/state/");
        qputenv("XDG_CACHE_HOME", "");
        QCOMPARE(AppPaths::dataHome(), QStringLiteral("/home/someone/.local/share"));
        QCOMPARE(AppPaths::configHome(), QStringLiteral("/home/someone/.config"));
        QCOMPARE(AppPaths::stateHome(), QStringLiteral("/x/state"));
        QCOMPARE(AppPaths::cacheHome(), QStringLiteral("/home/someone/.cache"));
        qputenv("KV_SYSTEM_ROOT", "/fake/root/");
        QCOMPARE(AppPaths::systemRoot(), QStringLiteral("/fake/root"));
        qunsetenv("KV_SYSTEM_ROOT");
        QCOMPARE(AppPaths::systemRoot(), QStringLiteral("/"));
    }

    // The override, then the stored setting, then the default under the data folder; the
    // settings file lives under the XDG_CONFIG_HOME of the moment.
    void workspacePath()
    {
        TempTree tree;
        qputenv("XDG_CONFIG_HOME", tree.filePath(std::string("config")).toUtf8());
        qputenv("XDG_DATA_HOME", tree.filePath(std::string("data")).toUtf8());
        AppPaths::resetAppSettings();
        QCOMPARE(AppPaths::currentWorkspacePath(), tree.filePath(std::string("data/Kelvane 3")));

        AppPaths::appSettings()->setValue(
            QStringLiteral("QVCurrentProjectsPath"), QStringLiteral("/stored/ws"));
        AppPaths::appSettings()->sync();
        QVERIFY(tree.exists("config/brisoltica/KelvanePro3.conf"));
        QCOMPARE(AppPaths::currentWorkspacePath(), QStringLiteral("/stored/ws"));

        AppPaths::setWorkspacePathOverride(QStringLiteral("/override/ws/"));
        QCOMPARE(AppPaths::currentWorkspacePath(), QStringLiteral("/override/ws"));
        AppPaths::setWorkspacePathOverride(QString());
        QCOMPARE(AppPaths::currentWorkspacePath(), QStringLiteral("/stored/ws"));
        AppPaths::resetAppSettings();
    }

    void scriptedClockInstallsAndRestores()
    {
        Clock* system = &Clock::system();
        QCOMPARE(&Clock::current(), system);
        {
            ScriptedClock outer(QDateTime(QDate(2024, 3, 30), QTime(18, 30)), 5000);
            QCOMPARE(&Clock::current(), static_cast<Clock*>(&outer));
            {
                ScriptedClock inner;
                QCOMPARE(&Clock::current(), static_cast<Clock*>(&inner));
            }
            QCOMPARE(&Clock::current(), static_cast<Clock*>(&outer));
            outer.advance(86400 * 1000);
            QCOMPARE(Clock::current().now(), QDateTime(QDate(2024, 3, 30), QTime(18, 30)).addMSecs(86400 * 1000));
            QCOMPARE(Clock::current().monotonicMs(), 5000 + 86400 * 1000LL);
        }
        QCOMPARE(&Clock::current(), system);
        const qint64 a = Clock::current().monotonicMs();
        QVERIFY(a > 0 && Clock::current().monotonicMs() >= a);
        QVERIFY(qAbs(Clock::current().now().secsTo(QDateTime::currentDateTime())) < 5);
    }
};

QTEST_GUILESS_MAIN(TestAppPaths)
#include "tst_apppaths.moc"
