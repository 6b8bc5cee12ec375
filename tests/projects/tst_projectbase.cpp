// kv-test: labels=unit,root timeout=300
#include "KvTest.h"
#include "TempTree.h"
#include "platform/AppPaths.h"
#include "platform/NameCodec.h"
#include "platform/PlistBridge.h"
#include "platform/ProcessTable.h"
#include "platform/Subprocess.h"
#include "projects/ILocation.h"
#include "projects/IProject.h"
#include "utilities/IRunLog.h"

#include <QElapsedTimer>
#include <QtTest>
#include <sys/stat.h>

namespace {

using Lines = std::vector<std::string>;

QStringList toList(const Lines& lines)
{
    QStringList out;
    for (const std::string& l : lines)
        out << QString::fromStdString(l);
    return out;
}

// A place that counts as a system volume, so the system exclude file is written for it.
class SystemLocation : public ILocation
{
public:
    bool isSystem() override { return true; }
};

class PassProject : public IProject
{
public:
    ILocation* source = nullptr;
    ILocation* sourceLocationForPass(long) const override { return source; }
};

// Temporary names inside a test folder.
class FolderRunLog : public IRunLog
{
public:
    QString folder;
    int n = 0;
    void traceToLog(const QByteArray&) override { }
    QString tempFileName() override { return folder + QStringLiteral("/tmp%1.").arg(++n); }
};

bool waitFor(const std::function<bool()>& condition, int ms = 10000)
{
    QElapsedTimer t;
    t.start();
    while (!condition()) {
        if (t.elapsed() > ms)
            return false;
        QTest::qWait(20);
    }
    return true;
}

// Starts "sh -c 'sleep 600 & wait'" as the run's executive and checks that killProcInSystem
// ends the sleeper by its recorded pid.
QString killSleeperOfExecutive()
{
    Subprocess sh;
    Subprocess::Options o;
    o.program = QStringLiteral("/bin/sh");
    o.arguments = QStringList { "-c", "sleep 600 & wait" };
    if (!sh.start(o))
        return QStringLiteral("no shell");
    pid_t sleeper = 0;
    if (!waitFor([&] { return (sleeper = IProject::oldestChildOf(sh.pid())) > 0; }))
        return QStringLiteral("no sleeper");
    PassProject project;
    project.card().setExecutiveProcess(ExecutiveProcess::make(uint64_t(sh.pid()), "sh"));
    if (!project.killProcInSystem())
        return QStringLiteral("killProcInSystem answered NO");
    if (!waitFor([&] { return !ProcessTable::isProcessAlive(sleeper); }))
        return QStringLiteral("sleeper still alive");
    if (!sh.waitForFinished(10000))
        return QStringLiteral("executive did not end");
    // An executive that has ended: nothing to signal.
    PassProject gone;
    gone.card().setExecutiveProcess(ExecutiveProcess::make(uint64_t(sh.pid()), "sh"));
    if (gone.killProcInSystem())
        return QStringLiteral("ended executive answered YES");
    return QString();
}

} // namespace

// The project base: its two stored keys, the system exclude list (written for rsync and re-rooted
// for the archive tree), exclude temp-file bookkeeping and ending a run's worker by pid.
class TestProjectBase : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void storedKeys_data()
    {
        QTest::addColumn<QVariant>("value"); // invalid = absent
        QTest::addColumn<bool>("startIfLate");
        QTest::addColumn<bool>("fullAutomount"); // starting from YES
        QTest::newRow("absent") << QVariant() << true << true;
        QTest::newRow("string 0") << QVariant(QStringLiteral("0")) << true << true;
        QTest::newRow("0") << QVariant(qint64(0)) << false << false;
        QTest::newRow("1") << QVariant(qint64(1)) << true << true;
        QTest::newRow("true") << QVariant(true) << true << true;
        QTest::newRow("false") << QVariant(false) << false << false;
        QTest::newRow("0.0") << QVariant(0.0) << false << false;
    }
    void storedKeys()
    {
        QFETCH(QVariant, value);
        QFETCH(bool, startIfLate);
        QFETCH(bool, fullAutomount);
        QVariantMap dict;
        if (value.isValid()) {
            dict.insert(IProject::cnsSheduleProcessInSpecTimeOnly, value);
            dict.insert(IProject::cnsB3FullAutomount, value);
        }
        // Through the property-list bridge, as a stored project is read.
        bool ok = false;
        const QVariantMap read = PlistBridge::fromData(PlistBridge::toXml(dict), &ok).toMap();
        QVERIFY(ok);
        IProject project;
        project.setScheduleProcessStartIfLate(false);
        project.setFullAutomount(true);
        QVERIFY(project.loadFromDict(read));
        QCOMPARE(project.isScheduleProcessStartIfLate(), startIfLate);
        QCOMPARE(project.isFullAutomount(), fullAutomount);
    }

    void savesIntegers()
    {
        IProject project;
        project.setScheduleProcessStartIfLate(false);
        QVariantMap dict;
        project.saveToDict(dict);
        const QByteArray xml = PlistBridge::toXml(dict);
        QVERIFY(xml.contains("<key>SheduleProcessInSpecTimeOnly</key>\n\t<integer>0</integer>"));
        QVERIFY(xml.contains("<key>FullAutomount</key>\n\t<integer>0</integer>"));
    }

    void excludeLines_data()
    {
        QTest::addColumn<QByteArray>("inner"); // null = absent
        QTest::addColumn<bool>("root");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("line"); // null = dropped
        QTest::addColumn<QString>("rerooted"); // null = dropped
        const QByteArray users("/Users"), rel("Users"), empty(""), absent;
        QTest::newRow("/Users: user caches") << users << false << "/Users/*/Library/Caches"
                                             << "/*/Library/Caches"
                                             << "/Volumes/Work/Users/*/Library/Caches";
        QTest::newRow("/Users: other folder")
            << users << false << "/private/var/vm" << QString() << QString();
        QTest::newRow("/Users: relative") << users << false << "relative"
                                          << "relative"
                                          << "relative";
        QTest::newRow("/Users: /Network, not root") << users << false << "/Network" << QString() << QString();
        QTest::newRow("/Users: prefix without boundary")
            << users << false << "/Usersfoo/x" << QString() << QString();
        QTest::newRow("/Users: the folder itself") << users << false << "/Users" << QString() << QString();
        QTest::newRow("/Users/: final slash") << QByteArray("/Users/") << false << "/Users/bob/x"
                                              << "/bob/x"
                                              << "/Volumes/Work/Users/bob/x";
        QTest::newRow("Users on root: caches") << rel << true << "/Users/*/Library/Caches"
                                               << "/*/Library/Caches"
                                               << "/Users/*/Library/Caches";
        QTest::newRow("Users on root: /Network") << rel << true << "/Network" << QString() << QString();
        QTest::newRow("whole root volume: /Network") << absent << true << "/Network"
                                                     << "/Network"
                                                     << "/Network";
        QTest::newRow("whole other volume: /Network")
            << absent << false << "/Network" << QString() << QString();
        QTest::newRow("Users on root: no boundary") << rel << true << "/Usersfoo/x" << QString() << QString();
        QTest::newRow("absent: unchanged") << absent << false << "/Users/*/Library/Caches"
                                           << "/Users/*/Library/Caches"
                                           << "/Users/*/Library/Caches";
        QTest::newRow("empty: unchanged") << empty << true << "/private/var/vm"
                                          << "/private/var/vm"
                                          << "/private/var/vm";
        QTest::newRow("star inside the inner part")
            << QByteArray("ab") << true << "/ab*c" << QString() << QString();
    }
    void excludeLines()
    {
        QFETCH(QByteArray, inner);
        QFETCH(bool, root);
        QFETCH(QString, entry);
        QFETCH(QString, line);
        QFETCH(QString, rerooted);
        const Lines table { entry.toStdString() };
        const QStringList lines = toList(IProject::systemExcludeLinesForInner(table, inner, root));
        QCOMPARE(lines, line.isNull() ? QStringList() : QStringList { line });
        const QByteArray mountPoint = root ? QByteArray("/") : QByteArray("/Volumes/Work");
        const QStringList again = toList(IProject::systemExcludesRerooted(table, inner, root, mountPoint));
        QCOMPARE(again, rerooted.isNull() ? QStringList() : QStringList { rerooted });
    }

    // The written file makes a real rsync leave out exactly the user caches, not a folder of the
    // same name deeper down, nor a folder whose name only begins like the source's.
    void rsyncSkipsExactlyTheExcludedPaths()
    {
        TempTree t(QStringLiteral("excl"));
        for (const char* f : { "src/Users/bob/Library/Caches/a", "src/Users/bob/Docs/Library/Caches/b",
                 "src/Users/bob/foo/x", "src/Users/foo/x" })
            QVERIFY(t.writeFile(std::string(f), "x"));
        QVERIFY(t.mkdir("tmp") && t.mkdir("dst"));
        // The shipped list is replaced by the table of the example.
        TempTree app(QStringLiteral("app"));
        QVariantMap param;
        param.insert("clone_system_excludes", "/Users/*/Library/Caches\n/Usersfoo/x\n/private/var/vm");
        QVERIFY(app.writeFile(std::string("Resources/ParamProc.plist"), PlistBridge::toXml(param)));
        AppPaths::setContentsDirOverride(app.path());
        FolderRunLog runLog;
        runLog.folder = t.filePath(std::string("tmp"));
        IRunLog::setShared(&runLog);

        SystemLocation source;
        source.setMountPoint(t.filePath(std::string("src")));
        source.setPathFromMountPoint(QStringLiteral("/Users"));
        PassProject project;
        project.source = &source;
        const bool written = project.saveSystemExcludesIntoTmpFileForPass(0);
        IRunLog::setShared(nullptr);
        AppPaths::setContentsDirOverride(QString());
        QVERIFY(written);
        const QString file = project.systemExcludesTmpFileName();
        QVERIFY(file.endsWith(".system.txt"));
        QVERIFY(file.startsWith(runLog.folder + "/tmp1."));
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("/*/Library/Caches\n"));

        Subprocess::Options o;
        o.program = QStringLiteral("rsync");
        o.arguments = QStringList { "-a", "--exclude-from=" + file,
            t.filePath(std::string("src/Users")) + "/", t.filePath(std::string("dst")) + "/" };
        const Subprocess::Result r = Subprocess::run(o, 60000);
        QVERIFY2(r.succeeded(), r.err.constData());
        QVERIFY(!t.exists("dst/bob/Library/Caches/a"));
        QVERIFY(t.exists("dst/bob/Docs/Library/Caches/b"));
        QVERIFY(t.exists("dst/bob/foo/x"));
        QVERIFY(t.exists("dst/foo/x"));

        // A second file replaces the first, whose file goes; removing forgets the name.
        project.setExcludesTmpFileNameCustom(QString(), file); // the same name: nothing deleted
        QVERIFY(QFile::exists(file));
        project.removeExcludesTmpFileNameCustom(false, true);
        QVERIFY(!QFile::exists(file));
        QVERIFY(project.systemExcludesTmpFileName().isNull());
    }

    // The shipped Linux list, on a whole root-volume tree.
    void shippedListOnARootTree()
    {
        TempTree t(QStringLiteral("root"));
        for (const char* f : { "src/proc/1/stat", "src/tmp/x", "src/home/bob/.cache/a",
                 "src/home/bob/docs/.cache/b", "src/etc/keep", "src/var/cache/apt/archives/p.deb",
                 "src/var/cache/apt/archives/lock", "src/swapfile", "src/.qvsnapshots/s/x" })
            QVERIFY(t.writeFile(std::string(f), "x"));
        QVERIFY(t.mkdir("tmp") && t.mkdir("dst"));
        FolderRunLog runLog;
        runLog.folder = t.filePath(std::string("tmp"));
        IRunLog::setShared(&runLog);
        SystemLocation source;
        source.setMountPoint(t.filePath(std::string("src")));
        PassProject project;
        project.source = &source;
        const bool written = project.saveSystemExcludesIntoTmpFileForPass(0);
        IRunLog::setShared(nullptr);
        QVERIFY(written);
        Subprocess::Options o;
        o.program = QStringLiteral("rsync");
        o.arguments = QStringList { "-a", "--exclude-from=" + project.systemExcludesTmpFileName(),
            t.filePath(std::string("src")) + "/", t.filePath(std::string("dst")) + "/" };
        const Subprocess::Result r = Subprocess::run(o, 60000);
        QVERIFY2(r.succeeded(), r.err.constData());
        for (const char* gone : { "dst/proc/1", "dst/tmp/x", "dst/home/bob/.cache/a", "dst/swapfile",
                 "dst/var/cache/apt/archives/p.deb", "dst/.qvsnapshots" })
            QVERIFY2(!t.exists(gone), gone);
        for (const char* kept : { "dst/proc", "dst/tmp", "dst/home/bob/docs/.cache/b", "dst/etc/keep",
                 "dst/var/cache/apt/archives/lock" })
            QVERIFY2(t.exists(kept), kept);
    }

    void noSystemVolumeNoFile()
    {
        ILocation plain;
        plain.setMountPoint(QStringLiteral("/"));
        PassProject project;
        project.source = &plain;
        QVERIFY(!project.saveSystemExcludesIntoTmpFileForPass(0));
        QVERIFY(project.systemExcludesTmpFileName().isNull());
        PassProject none;
        QVERIFY(!none.saveSystemExcludesIntoTmpFileForPass(0));
    }

    void killsTheWorker()
    {
        const QString failure = killSleeperOfExecutive();
        QVERIFY2(failure.isNull(), qPrintable(failure));
    }

    // The same as an unprivileged user: this program runs again under setpriv.
    void killsTheWorkerAsUnprivilegedUser()
    {
        KV_REQUIRE_ROOT();
        TempTree bin(QStringLiteral("bin"));
        QVERIFY(::chmod(bin.pathStd().c_str(), 0755) == 0);
        const QString copy = bin.filePath(std::string("tst_projectbase"));
        QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), copy));
        QVERIFY(::chmod(NameCodec::encode(copy).constData(), 0755) == 0);
        Subprocess::Options o;
        o.program = QStringLiteral("setpriv");
        o.arguments = QStringList { "--reuid=65534", "--regid=65534", "--clear-groups", copy, "childKill" };
        o.environment.insert("KV_CHILD_KILL", "1");
        o.environment.insert("HOME", "/tmp");
        o.workingDirectory = QStringLiteral("/");
        const Subprocess::Result r = Subprocess::run(o, 60000);
        QVERIFY2(r.succeeded(), QByteArray(r.out + r.err).constData());
        QVERIFY(r.out.contains("PASS   : TestProjectBase::childKill()"));
    }
    void childKill()
    {
        if (qgetenv("KV_CHILD_KILL").isEmpty())
            QSKIP("runs as the unprivileged child of killsTheWorkerAsUnprivilegedUser");
        QCOMPARE(::geteuid(), uid_t(65534));
        const QString failure = killSleeperOfExecutive();
        QVERIFY2(failure.isNull(), qPrintable(failure));
    }
};

QTEST_GUILESS_MAIN(TestProjectBase)
#include "tst_projectbase.moc"
