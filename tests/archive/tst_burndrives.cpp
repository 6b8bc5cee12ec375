// kv-test: labels=unit timeout=60
// The list of drives a burn may use: the configured entries win, sysfs fills in otherwise, a
// run's own drives take the place of both; a disc project is ready only with a drive.
#include "KvTest.h"
#include "TempTree.h"
#include "archive/CBackup.h"
#include "archive/IBackup.h"
#include "platform/AppPaths.h"
#include "platform/BurnDrives.h"
#include "platform/XorrisoBurner.h"
#include "projects/ILocation.h"

#include <QtTest>

class TestBurnDrives : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_tree = std::make_unique<TempTree>();
        m_oldConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", m_tree->filePath(QStringLiteral("config")).toUtf8());
        AppPaths::resetAppSettings();
        m_tree->mkdir("nosys/class/block");
        BurnDrives::setSysfsRoot(m_tree->filePath(QStringLiteral("nosys")));
        BurnDrives::setRunDrives({});
    }
    void cleanup()
    {
        BurnDrives::setSysfsRoot(QString());
        BurnDrives::setRunDrives({});
        qputenv("XDG_CONFIG_HOME", m_oldConfig);
        AppPaths::resetAppSettings();
        m_tree.reset();
    }

    void listRule_data()
    {
        QTest::addColumn<QStringList>("configured");
        QTest::addColumn<QStringList>("sysfs"); // entries of class/block
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("nothing") << QStringList() << QStringList { "sda", "loop0" } << QStringList();
        QTest::newRow("sysfs drives in number order")
            << QStringList() << QStringList { "sr10", "sda", "sr2", "srx", "sr" }
            << QStringList { "/dev/sr2", "/dev/sr10" };
        QTest::newRow("configured only, sysfs ignored") << QStringList { "stdio:/tmp/a.iso", " ",
            "stdio:/tmp/b" } << QStringList { "sr0" } << QStringList { "stdio:/tmp/a.iso", "stdio:/tmp/b" };
        QTest::newRow("blank entries count as none")
            << QStringList { "", "  " } << QStringList { "sr0" } << QStringList { "/dev/sr0" };
    }
    void listRule()
    {
        QFETCH(QStringList, configured);
        QFETCH(QStringList, sysfs);
        QFETCH(QStringList, expected);
        m_tree->mkdir("sys/class/block");
        for (const QString& name : sysfs)
            m_tree->symlink("../../devices/x/" + name.toStdString(), "sys/class/block/" + name.toStdString());
        QCOMPARE(BurnDrives::listFrom(configured, m_tree->filePath(QStringLiteral("sys"))), expected);
    }

    void settingAndRunDrives()
    {
        QCOMPARE(BurnDrives::list(), QStringList());
        AppPaths::appSettings()->setValue(QStringLiteral("BurnDrives"), QStringList { "stdio:/x/disc.iso" });
        QCOMPARE(BurnDrives::list(), QStringList { "stdio:/x/disc.iso" });
        // A run's drives replace the setting for that run and write nothing.
        BurnDrives::setRunDrives({ "stdio:/y/1.iso", "stdio:/y/2.iso" });
        QCOMPARE(BurnDrives::list(), (QStringList { "stdio:/y/1.iso", "stdio:/y/2.iso" }));
        QCOMPARE(AppPaths::appSettings()->value(QStringLiteral("BurnDrives")).toStringList(),
            QStringList { "stdio:/x/disc.iso" });
        BurnDrives::setRunDrives({});
        QCOMPARE(BurnDrives::list(), QStringList { "stdio:/x/disc.iso" });
    }

    // A burner given no drive takes the first of the list; with none it refuses with a clear
    // message before starting anything.
    void burnerTakesTheListsFirstDrive()
    {
        m_tree->writeFile(std::string("a.tar"), "a");
        XorrisoBurner none;
        none.addFile(m_tree->filePath(QStringLiteral("a.tar")), QStringLiteral("/a.tar"));
        bool started = false;
        none.onStarted = [&started](qint64, const QStringList&) { started = true; };
        QString why;
        QVERIFY(!none.burn(&why));
        QCOMPARE(why, QStringLiteral("No disc burner was found"));
        QVERIFY(!started);
        AppPaths::appSettings()->setValue(QStringLiteral("BurnDrives"), QStringList { "stdio:/x/1.iso", "stdio:/x/2.iso" });
        QCOMPARE(XorrisoBurner().drive(), QStringLiteral("stdio:/x/1.iso"));
        QCOMPARE(XorrisoBurner(QStringLiteral("stdio:/z.iso")).drive(), QStringLiteral("stdio:/z.iso"));
    }

    void discProjectReadyOnlyWithDrive()
    {
        m_tree->writeFile(std::string("src/f"), "x");
        CBackup project(QStringLiteral("P"));
        IBackup* face = project.getIBackup();
        QVERIFY(!face->isReadyForInterface()); // nothing to archive yet
        QVERIFY(project.addItemFromDisk(m_tree->filePath(QStringLiteral("src/f"))));
        QVERIFY(face->isReadyForInterface());
        ILocation disc;
        disc.setDeviceType(ILocation::DeviceCD);
        disc.setDisplayName(QStringLiteral("CD/DVD(RW)"));
        project.setLocation(disc, true);
        QVERIFY(!face->isReadyForInterface());
        AppPaths::appSettings()->setValue(QStringLiteral("BurnDrives"), QStringList { "stdio:/x/disc.iso" });
        QVERIFY(face->isReadyForInterface());
    }

private:
    std::unique_ptr<TempTree> m_tree;
    QByteArray m_oldConfig;
};

QTEST_GUILESS_MAIN(TestBurnDrives)
#include "tst_burndrives.moc"
