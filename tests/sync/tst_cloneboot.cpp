// kv-test: labels=unit timeout=60
#include "TempTree.h"
#include "sync/CloneBootSteps.h"
#include "utilities/LogOptions.h"

#include <QtTest>
#include <unistd.h>

namespace {

// The step table with every tool recorded: mkdir makes the folder, the preparer answers as told.
class FakeTools : public CloneBootTools
{
public:
    QList<QStringList> calls;
    bool owners = true;
    bool btrfs = false;
    bool blessWorks = false;
    Outcome preparer { true, 0, "v3ap_o: Mount\n" };
    bool ldconfigStarts = true;
    qint64 destVersion = 0;
    qint64 hostVersion = 101507;

    Outcome run(const QStringList& argv) override
    {
        calls << argv;
        if (argv.value(0) == QLatin1String("/bin/mkdir")) {
            QDir().mkpath(argv.last());
            return { true, 0, {} };
        }
        if (argv.value(0).endsWith(QLatin1String("qv3_apfs_preparer")))
            return preparer;
        if (argv.value(0).endsWith(QLatin1String("ldconfig")) && !ldconfigStarts)
            return {};
        return { true, 0, {} };
    }
    bool keepsOwners(const QString&) override { return owners; }
    bool bothBtrfs(const QString&, const QString&) override { return btrfs; }
    QString preparerPath() override { return QStringLiteral("/opt/app/qv3_apfs_preparer"); }
    bool bless(const QString& folder) override
    {
        calls << QStringList { QStringLiteral("bless"), folder };
        return blessWorks;
    }
    qint64 destinationSystemVersion(const QString&) override { return destVersion; }
    qint64 hostSystemVersion() override { return hostVersion; }

    QStringList programs() const
    {
        QStringList out;
        for (const QStringList& c : calls)
            out << QFileInfo(c.value(0)).fileName();
        return out;
    }
};

} // namespace

class TestCloneBoot : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void steps_data();
    void steps();
    void libraryCacheOnlyForANewEnoughSystem();
    void preparerLines();
    void realStepKeepsTheEventLoopAndBoundsAStop();

private:
    QList<QPair<QString, quint64>> m_messages;
};

void TestCloneBoot::steps_data()
{
    QTest::addColumn<bool>("destinationIsFolder");
    QTest::addColumn<bool>("bootable");
    QTest::addColumn<bool>("btrfs");
    QTest::addColumn<bool>("blessWorks");
    QTest::addColumn<QByteArray>("preparerOutput");
    QTest::addColumn<int>("preparerExit"); // -1: the preparer cannot be started
    QTest::addColumn<QStringList>("programs");
    QTest::addColumn<int>("outcome");
    const int bootableClone = int(CloneBootSteps::Outcome::Bootable);
    const int notBootable = int(CloneBootSteps::Outcome::NotBootable);
    QTest::newRow("destination not a folder") << false << true << true << true << QByteArray() << 0 << QStringList {}
                                              << bootableClone;
    QTest::newRow("plain clone") << true << false << true << true << QByteArray() << 0 << QStringList {}
                                 << bootableClone;
    QTest::newRow("ext4 to ext4, boot loader installed")
        << true << true << false << true << QByteArray() << 0 << QStringList { "mkdir", "bless" } << bootableClone;
    QTest::newRow("ext4 to ext4, the boot-loader stand-in")
        << true << true << false << false << QByteArray() << 0 << QStringList { "mkdir", "bless" } << notBootable;
    QTest::newRow("btrfs to btrfs: the preparer first")
        << true << true << true << true << QByteArray("v3ap_o: Mount\n") << 0
        << QStringList { "qv3_apfs_preparer", "mkdir", "bless" } << bootableClone;
    QTest::newRow("preparer reports a failure")
        << true << true << true << true << QByteArray("v3ap_e: Mount\n") << 0
        << QStringList { "qv3_apfs_preparer", "mkdir", "bless" } << notBootable;
    QTest::newRow("preparer phase not completed")
        << true << true << true << true << QByteArray("v3ap_o: Copy: Not completed\n") << 0
        << QStringList { "qv3_apfs_preparer", "mkdir", "bless" } << notBootable;
    QTest::newRow("preparer exits 1 printing garbage")
        << true << true << true << true << QByteArray("\xff\xfe garbage\n") << 1
        << QStringList { "qv3_apfs_preparer", "mkdir", "bless" } << notBootable;
    QTest::newRow("preparer cannot be started: nothing more runs")
        << true << true << true << true << QByteArray() << -1 << QStringList { "qv3_apfs_preparer" }
        << int(CloneBootSteps::Outcome::StartFailed);
}

void TestCloneBoot::steps()
{
    QFETCH(bool, destinationIsFolder);
    QFETCH(bool, bootable);
    QFETCH(bool, btrfs);
    QFETCH(bool, blessWorks);
    QFETCH(QByteArray, preparerOutput);
    QFETCH(int, preparerExit);
    QFETCH(QStringList, programs);
    QFETCH(int, outcome);
    TempTree tree(QStringLiteral("cloneboot"));
    const QString source = tree.filePath(QStringLiteral("source"));
    const QString dest = tree.filePath(QStringLiteral("dest"));
    QVERIFY(QDir().mkpath(source));
    if (destinationIsFolder)
        QVERIFY(QDir().mkpath(dest));
    FakeTools tools;
    tools.btrfs = btrfs;
    tools.blessWorks = blessWorks;
    tools.preparer = { preparerExit >= 0, preparerExit, preparerOutput };
    m_messages.clear();
    const CloneBootSteps::Outcome result = CloneBootSteps::prepare(tools, source, dest, bootable,
        [this](const QString& text, quint64 options) { m_messages << qMakePair(text, options); });
    QCOMPARE(tools.programs(), programs);
    QCOMPARE(int(result), outcome);
    const bool notBootable = result == CloneBootSteps::Outcome::NotBootable;
    if (programs.contains(QStringLiteral("qv3_apfs_preparer")))
        QCOMPARE(tools.calls.first(), QStringList({ "/opt/app/qv3_apfs_preparer", source, dest }));
    if (programs.contains(QStringLiteral("mkdir")))
        QVERIFY(QFileInfo(dest + QStringLiteral("/boot")).isDir());
    bool warned = false;
    for (const auto& m : m_messages)
        warned = warned || m.first.endsWith(QLatin1String("Clone will not be bootable."));
    QCOMPARE(warned, notBootable);
}

void TestCloneBoot::libraryCacheOnlyForANewEnoughSystem()
{
    for (const qint64 version : { qint64(0), qint64(101206), qint64(101507) }) {
        FakeTools tools;
        tools.destVersion = version;
        CloneBootSteps::finish(tools, QStringLiteral("/mnt/dest"), [](const QString&, quint64) { });
        if (version >= 101300)
            QCOMPARE(tools.calls, QList<QStringList>({ { "/sbin/ldconfig", "-r", "/mnt/dest" } }));
        else
            QVERIFY2(tools.calls.isEmpty(), qPrintable(QString::number(version)));
    }
    // A refresh that cannot be started is a failed run, never a quiet success.
    FakeTools tools;
    tools.destVersion = 101507;
    tools.ldconfigStarts = false;
    QString logged;
    QCOMPARE(CloneBootSteps::finish(tools, QStringLiteral("/mnt/dest"), [&logged](const QString& t, quint64) { logged = t; }),
        CloneBootSteps::Outcome::StartFailed);
    QCOMPARE(logged, QStringLiteral("update_dyld_shared_cache starting error! "));
}

void TestCloneBoot::preparerLines()
{
    struct Row
    {
        QByteArray line;
        QString text; // empty: nothing logged
        bool failure;
    };
    const QList<Row> rows {
        { "v3ap_e: Mount", "Mount: Failed ", true },
        { "v3ap_o: X", "X: Succeeded ", false },
        { "v3ap_p: Copying", "Copying", false },
        { "v3ap_d: debug", "", false },
        { "v3ap_i: info", "", false },
        { "v3ap_e:", "", false },
        { "12345", "", false },
    };
    for (const Row& row : rows) {
        QString logged;
        const bool failure = CloneBootSteps::preparerLine(row.line, [&logged](const QString& t, quint64) { logged = t; });
        QVERIFY2(logged == row.text, row.line.constData());
        QVERIFY2(failure == row.failure, row.line.constData());
    }
}

// A real step waits in a nested event loop (events still run) and hands back its status and
// output; a stop lets a step finish within the grace time, then stops its group.
void TestCloneBoot::realStepKeepsTheEventLoopAndBoundsAStop()
{
    if (::geteuid() != 0)
        QSKIP("the steps run as root; this process is not");
    CloneBootTools tools;
    QList<QPair<QStringList, pid_t>> started;
    tools.onRun = [&started](const QStringList& argv, pid_t group) { started << qMakePair(argv, group); };
    bool eventRan = false;
    QTimer::singleShot(50, [&eventRan] { eventRan = true; });
    const CloneBootTools::Outcome o
        = tools.run({ QStringLiteral("/bin/sh"), QStringLiteral("-c"), QStringLiteral("sleep 0.3; echo 'v3ap_o: X'; exit 3") });
    QVERIFY(o.started);
    QCOMPARE(o.exitCode, 3);
    QVERIFY(o.output.contains("v3ap_o: X"));
    QVERIFY(eventRan);
    // The command is reported once started, with the process group that a stop would end.
    QCOMPARE(started.size(), 1);
    QCOMPARE(started.first().first.value(0), QStringLiteral("/bin/sh"));
    QVERIFY(started.first().second > 0);

    tools.stopWanted = [] { return true; };
    tools.stopGraceMs = 300;
    QElapsedTimer timer;
    timer.start();
    const CloneBootTools::Outcome stopped = tools.run({ QStringLiteral("/bin/sleep"), QStringLiteral("30") });
    QVERIFY(stopped.started);
    QVERIFY(stopped.exitCode != 0);
    QVERIFY2(timer.elapsed() < 15000, QByteArray::number(timer.elapsed()).constData());
}

QTEST_MAIN(TestCloneBoot)
#include "tst_cloneboot.moc"
