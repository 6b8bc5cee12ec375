// kv-test: labels=unit
#include "TempTree.h"
#include "platform/AppPaths.h"
#include "platform/SUUpdater.h"

#include <QSettings>
#include <QtTest>

// The updater keeps its two settings in the application settings and reads the start-up switch.
class TestSUUpdater : public QObject
{
    Q_OBJECT
    TempTree m_tree { QStringLiteral("updater") };

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", m_tree.path().toUtf8());
        AppPaths::resetAppSettings();
    }

    void settings()
    {
        SUUpdater& updater = SUUpdater::sharedUpdater();
        QVERIFY(!updater.automaticallyChecksForUpdates());
        QCOMPARE(updater.updateCheckInterval(), 86400.0);
        updater.setAutomaticallyChecksForUpdates(true);
        updater.setUpdateCheckInterval(604800);
        updater.setUpdateCheckInterval(0); // ignored
        updater.setUpdateCheckInterval(-5); // ignored
        // Read back from the file by a fresh settings object, as the next start does.
        AppPaths::resetAppSettings();
        QVERIFY(updater.automaticallyChecksForUpdates());
        QCOMPARE(updater.updateCheckInterval(), 604800.0);
        // A damaged interval reads as the default.
        AppPaths::appSettings()->setValue(QStringLiteral("SUScheduledCheckInterval"), QStringLiteral("soon"));
        QCOMPARE(updater.updateCheckInterval(), 86400.0);
    }

    void checkAtStartup_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<bool>("requested");
        QTest::newRow("missing") << QVariant() << false;
        QTest::newRow("YES") << QVariant(QStringLiteral("YES")) << true;
        QTest::newRow("yes") << QVariant(QStringLiteral("yes")) << true;
        QTest::newRow("NO") << QVariant(QStringLiteral("NO")) << false;
        QTest::newRow("true") << QVariant(true) << true;
        QTest::newRow("a number") << QVariant(1) << false;
    }
    void checkAtStartup()
    {
        QFETCH(QVariant, value);
        QFETCH(bool, requested);
        if (value.isValid())
            AppPaths::appSettings()->setValue(QStringLiteral("SUCheckAtStartup"), value);
        else
            AppPaths::appSettings()->remove(QStringLiteral("SUCheckAtStartup"));
        QCOMPARE(SUUpdater::checkAtStartupRequested(), requested);
    }
};

QTEST_GUILESS_MAIN(TestSUUpdater)
#include "tst_suupdater.moc"
