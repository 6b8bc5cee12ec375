// kv-test: labels=unit timeout=180

#include "FakePrivilegeBackend.h"
#include "KvTest.h"
#include "MemoryKeychain.h"
#include "TempTree.h"
#include "platform/AppPaths.h"
#include "platform/MainThread.h"
#include "platform/NameCodec.h"
#include "platform/ProcessTable.h"
#include "projects/IProcessCard.h"
#include "projects/IProject.h"
#include "utilities/IAuthorizer.h"
#include "utilities/IProcController.h"
#include "utilities/QVExecutor.h"

#include <QtTest>
#include <atomic>
#include <thread>

namespace {

// A project whose rsync option-list answers the test sets.
class FakeProject : public IProject
{
public:
    int type = 0;
    bool mac = true, admin = true, modDate = false, del = false, aliases = false, doubleVolume = false,
         bdi = false;
    int xattr = 0;
    IProcessCard* card = nullptr;
    int synchronType() const override { return type; }
    bool isMacSrcDestForPass(long) const override { return mac; }
    bool isUseAdminPrivilegesForPass(long) const override { return admin; }
    bool isOptionConsiderModDate() const override { return modDate; }
    bool isOptionDelete() const override { return del; }
    bool isExcludeAliases() const override { return aliases; }
    bool isSourceDoubleVolumeSystemForPass(long) const override { return doubleVolume; }
    int extendedAttrsProcessType() const override { return xattr; }
    bool useBDI() const override { return bdi; }
    IProcessCard* processCard() const override { return card; }
};

class FinishRecorder : public IProcController
{
public:
    std::atomic<int> calls { 0 };
    std::atomic<bool> onMain { false };
    void ITProcessFinished(const QVariant&) override
    {
        onMain = isMainThread();
        ++calls;
    }
};

QString printargs()
{
    return KvTest::testBinDir() + QStringLiteral("/printargs");
}

Subprocess::Options shell(const QStringList& arguments)
{
    Subprocess::Options o;
    o.program = QStringLiteral("/bin/sh");
    o.arguments = arguments;
    return o;
}

PrivilegeBackend::RootCommand rootCommand(const QStringList& arguments)
{
    PrivilegeBackend::RootCommand c;
    c.arguments = arguments;
    return c;
}

} // namespace

class TestIProcController : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakePrivilegeBackend> m_backend;
    std::unique_ptr<MemoryKeychain> m_keychain;

private Q_SLOTS:
    void init()
    {
        m_backend = std::make_unique<FakePrivilegeBackend>();
        m_keychain = std::make_unique<MemoryKeychain>();
        IAuthorizer::resetShared();
        // the fake runs the "root" shell as this user; the stored login authorizes it
        IAuthorizer::shared().setLogin(m_backend->user, QString::fromUtf8(m_backend->rightPassword));
    }
    void cleanup()
    {
        IAuthorizer::resetShared();
        m_keychain.reset();
        m_backend.reset();
    }

    void rsyncOptionList_data()
    {
        QTest::addColumn<QVariantMap>("settings");
        QTest::addColumn<bool>("statistics");
        QTest::addColumn<QStringList>("expected");
        const QStringList tail { QStringLiteral("-x"), QStringLiteral("-S"), QStringLiteral("-v") };
        QTest::newRow("snapshot into an image, root, statistics")
            << QVariantMap { { "bdi", true } } << true
            << QStringList { "-X", "-t", "-l", "-H", "-x", "-S", "-v", "-po", "-r", "--no-inc-recursive",
                   "--ignore-errors", "--progress", "--stats" };
        QTest::newRow("plain, no statistics")
            << QVariantMap {} << false
            << QStringList { "-X", "-t", "-l", "-H", "-x", "-S", "-v", "-pgo", "-r", "--no-inc-recursive",
                   "--ignore-errors", "--progress" };
        QTest::newRow("not Mac file systems") << QVariantMap { { "mac", false } } << false
                                              << QStringList { "-t", "-l", "-x", "-S", "-v", "-pgo", "-r",
                                                     "--no-inc-recursive", "--ignore-errors", "--progress" };
        QTest::newRow("attributes always, not Mac")
            << QVariantMap { { "mac", false }, { "xattr", 2 } } << false
            << QStringList { "-X", "-t", "-l", "-x", "-S", "-v", "-pgo", "-r", "--no-inc-recursive",
                   "--ignore-errors", "--progress" };
        QTest::newRow("attributes never") << QVariantMap { { "xattr", 1 } } << false
                                          << QStringList { "-t", "-l", "-H", "-x", "-S", "-v", "-pgo", "-r",
                                                 "--no-inc-recursive", "--ignore-errors", "--progress" };
        QTest::newRow("no admin rights")
            << QVariantMap { { "admin", false } } << false
            << QStringList { "-X", "--fake-super", "-t", "-l", "-H", "-x", "-S", "-v", "-pgo", "-r",
                   "--no-inc-recursive", "--ignore-errors", "--progress" };
        QTest::newRow("aliases excluded") << QVariantMap { { "aliases", true } } << false
                                          << QStringList { "-X", "-t", "-x", "-S", "-v", "-pgo", "-r",
                                                 "--no-inc-recursive", "--ignore-errors", "--progress" };
        QTest::newRow("delete and modification dates")
            << QVariantMap { { "del", true }, { "modDate", true } } << true
            << QStringList { "-X", "-t", "-l", "-H", "-x", "-S", "-v", "-pgo", "-r", "--no-inc-recursive",
                   "--ignore-errors", "-u", "--progress", "--stats", "--delete-before", "--delete-excluded" };
        QTest::newRow("volume group source")
            << QVariantMap { { "doubleVolume", true } } << false
            << QStringList { "-X", "-t", "-l", "-H", "-x", "-S", "-v", "-pgo", "-r", "--no-inc-recursive",
                   "--ignore-errors", "--progress", "--exclude=System/Volumes/Data/*" };
        QTest::newRow("clone of a volume group")
            << QVariantMap { { "doubleVolume", true }, { "type", 1 } } << false
            << QStringList { "-X", "-t", "-l", "-H", "-x", "-S", "-v", "-pgo", "-r", "--no-inc-recursive",
                   "--ignore-errors", "--progress" };
    }

    void rsyncOptionList()
    {
        QFETCH(QVariantMap, settings);
        QFETCH(bool, statistics);
        QFETCH(QStringList, expected);
        FakeProject p;
        p.mac = settings.value("mac", true).toBool();
        p.admin = settings.value("admin", true).toBool();
        p.modDate = settings.value("modDate").toBool();
        p.del = settings.value("del").toBool();
        p.aliases = settings.value("aliases").toBool();
        p.doubleVolume = settings.value("doubleVolume").toBool();
        p.bdi = settings.value("bdi").toBool();
        p.xattr = settings.value("xattr", 0).toInt();
        p.type = settings.value("type", 0).toInt();
        QStringList options { QStringLiteral("first") };
        IProcController::rsyncOptions(&options, &p, 1, statistics);
        QCOMPARE(options, QStringList { QStringLiteral("first") } + expected);

        // the real rsync accepts the list
        TempTree tree(QStringLiteral("rsyncopts"));
        QVERIFY(tree.writeFile(std::string("src/a file"), "data"));
        QVERIFY(tree.mkdir("dst"));
        Subprocess::Options o;
        o.program = QStringLiteral("rsync");
        o.arguments = expected
            + QStringList { QStringLiteral("-n"), tree.filePath(std::string("src")) + QLatin1Char('/'),
                  tree.filePath(std::string("dst")) };
        const Subprocess::Result r = Subprocess::run(o, 60000);
        QVERIFY2(r.succeeded(), r.err.constData());
    }

    void rsyncOptionListWithoutProject()
    {
        QStringList options;
        IProcController::rsyncOptions(&options, nullptr, 1, true);
        QVERIFY(options.isEmpty());
        IProcController::rsyncOptions(nullptr, nullptr, 1, true); // no crash
    }

    void rootRunnerHandsBackPidAndOutput()
    {
        const QStringList odd { QStringLiteral("a b"), QStringLiteral("it's"), QStringLiteral("\"q\""),
            QStringLiteral("$(touch canary)"), QStringLiteral("`touch canary`"), QStringLiteral("two\nlines"),
            QStringLiteral("-n"), QStringLiteral("caf") + QChar(0xDCE9) };
        TempTree tree(QStringLiteral("runner"));
        QByteArray out;
        std::mutex m;
        bool result = false;
        const QString cwd = QDir::currentPath();
        const QString program = printargs();
        QDir::setCurrent(tree.path());
        std::unique_ptr<RootProcess> p = IProcController::runRootedToolWithArgsArray(
            QStringList { program } + odd,
            [&](const char* d, size_t n) {
                std::lock_guard<std::mutex> lock(m);
                out.append(d, qsizetype(n));
            },
            &result);
        QDir::setCurrent(cwd);
        QVERIFY(p);
        QVERIFY(result);
        QCOMPARE(IProcController::runRootedToolTerminationReason(), 0);
        // the handed-back id is the shell that runs the command
        QVERIFY(p->rootPid() > 1);
        QVERIFY(p->waitForFinished(20000));
        QCOMPARE(p->exitCode(), 0);
        QByteArray expected;
        for (const QString& a : odd)
            expected += NameCodec::encode(a) + '\0';
        QCOMPARE(out, expected); // the pid line was consumed
        QVERIFY(!tree.exists("canary"));
    }

    void rootRunnerFailures_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("reason");
        QTest::newRow("refused") << int(FakePrivilegeBackend::StartMode::Refuse) << 8;
        QTest::newRow("cannot execute") << int(FakePrivilegeBackend::StartMode::CannotExecute) << 16;
    }

    void rootRunnerFailures()
    {
        QFETCH(int, mode);
        QFETCH(int, reason);
        m_backend->startMode = FakePrivilegeBackend::StartMode(mode);
        bool result = false;
        QVERIFY(!IProcController::runRootedToolWithArgsArray({ QStringLiteral("true") }, nullptr, &result));
        QVERIFY(!result);
        QCOMPARE(IProcController::runRootedToolTerminationReason(), reason);
        QVERIFY(!IProcController::runRootedToolWithArgsArray({ QStringLiteral("true") }));
        // a changing file operation that cannot run as root does not claim success
        TempTree tree(QStringLiteral("refused"));
        QVERIFY(!IProcController::makeDir(tree.filePath(std::string("d")), true));
        QVERIFY(!tree.exists("d"));
    }

    void notAuthorized()
    {
        IAuthorizer::resetShared(); // no stored login, no keychain, no dialog (headless)
        TempTree tree(QStringLiteral("noauth"));
        QVERIFY(!IProcController::makeDir(tree.filePath(std::string("d")), true));
        QCOMPARE(IProcController::lastProcessResult(), 6);
        QVERIFY(!IProcController::removeFile(tree.filePath(std::string("missing")), true));
        QVERIFY(!IProcController::runRootedToolWithArgsArray({ QStringLiteral("true") }, nullptr));
        QCOMPARE(IProcController::runRootedToolTerminationReason(), 8);
    }

    void shellStartsBadly_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("timeout");
        QTest::newRow("prints nothing") << QStringLiteral("/bin/true") << QStringList() << 20000;
        QTest::newRow("first line never comes")
            << QStringLiteral("/bin/sleep") << QStringList { "30" } << 500;
        QTest::newRow("no number") << QStringLiteral("/bin/echo") << QStringList { "Sorry, try again." }
                                   << 20000;
        QTest::newRow("endless first line")
            << QStringLiteral("/bin/sh")
            << QStringList { "-c", "head -c 5000 /dev/zero | tr '\\0' 7; sleep 30" } << 20000;
    }

    void shellStartsBadly()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(int, timeout);
        // a backend whose "root shell" misbehaves
        class Broken : public FakePrivilegeBackend
        {
        public:
            QString program;
            QStringList arguments;
            bool buildInvocation(const RootCommand&, Subprocess::Options* o, QString*) override
            {
                o->program = program;
                o->arguments = arguments;
                return true;
            }
        };
        m_backend.reset();
        Broken broken;
        broken.program = program;
        broken.arguments = arguments;
        QElapsedTimer t;
        t.start();
        RootProcess p;
        QString error;
        QVERIFY(!p.start(rootCommand({ QStringLiteral("true") }), &error, timeout));
        QCOMPARE(p.failure(), int(RootProcess::NotAuthorized));
        QVERIFY(!error.isEmpty());
        QVERIFY(t.elapsed() < 15000);
        QVERIFY(!p.isRunning());
    }

    void missingToolUnderTheShell()
    {
        QString output;
        QVERIFY(!IProcController::runRootedToolWithArgsArray(
            { QStringLiteral("/nonexistent/tool"), QStringLiteral("x") }, &output));
        QCOMPARE(IProcController::runRootedToolTerminationReason(), 0); // the shell did start
        QVERIFY2(output.contains(QLatin1String("not found")), qPrintable(output));
    }

    void separateErrorStream()
    {
        QByteArray out, err;
        std::mutex m;
        std::unique_ptr<RootProcess> p;
        pid_t pid = 0;
        const int status = IProcController::executeRootedToolArguments(
            { QStringLiteral("sh"), QStringLiteral("-c"),
                QStringLiteral("echo out; echo err >&2; printf tail; exit 3") },
            [&](const char* d, size_t n) {
                std::lock_guard<std::mutex> lock(m);
                out.append(d, qsizetype(n));
            },
            [&](const char* d, size_t n) {
                std::lock_guard<std::mutex> lock(m);
                err.append(d, qsizetype(n));
            },
            &p, &pid);
        QCOMPARE(status, 0);
        QVERIFY(p);
        QCOMPARE(pid, p->rootPid());
        QVERIFY(p->waitForFinished(20000));
        QCOMPARE(p->exitCode(), 3);
        QCOMPARE(out, QByteArray("out\ntail"));
        QCOMPARE(err, QByteArray("err\n"));
    }

    void fileOperationsOnOddPaths_data()
    {
        QTest::addColumn<bool>("withAdmin");
        QTest::newRow("as the user") << false;
        QTest::newRow("through the root runner") << true;
    }

    void fileOperationsOnOddPaths()
    {
        QFETCH(bool, withAdmin);
        TempTree tree(QStringLiteral("fileops"));
        const QStringList names { QStringLiteral("a b"), QStringLiteral("it's"), QStringLiteral("say \"hi\""),
            QStringLiteral("$(touch canary)"), QStringLiteral("`touch canary`"), QStringLiteral("two\nlines"),
            QStringLiteral("-rf"), QStringLiteral("caf") + QChar(0xDCE9) };
        const QString cwd = QDir::currentPath();
        QDir::setCurrent(tree.path());
        for (const QString& name : names) {
            const QString dir = tree.path() + QLatin1Char('/') + name;
            const QString file = dir + QStringLiteral("/") + name;
            QString comment;
            QVERIFY2(IProcController::makeDir(dir, withAdmin, &comment), qPrintable(name + comment));
            bool isDir = false;
            QVERIFY(IProcController::fileExistsAtPath(dir, &isDir, withAdmin));
            QVERIFY(isDir);
            QVERIFY(IProcController::makeDir(dir, withAdmin)); // an existing directory is fine
            QVERIFY(IProcController::makeFile(file, withAdmin));
            QVERIFY(IProcController::fileExistsAtPath(file, &isDir, withAdmin));
            QVERIFY(!isDir);
            QVERIFY(!IProcController::makeDir(file, withAdmin)); // a file is no directory
            QCOMPARE(IProcController::permissionForPath(file, withAdmin), 3);
            const QString link = file + QStringLiteral("_link");
            QVERIFY(IProcController::makeLinkAtPath(link, file, withAdmin));
            const quint64 id = IProcController::IDForPath(file, withAdmin);
            QVERIFY(id != 0);
            QCOMPARE(IProcController::IDForPath(link, withAdmin), id);
            QCOMPARE(IProcController::IDForPath(dir + QStringLiteral("/missing"), withAdmin), quint64(0));
            QVERIFY(IProcController::removeFile(link, withAdmin));
            QVERIFY(IProcController::removeFile(file, withAdmin));
            QVERIFY(!IProcController::fileExistsAtPath(file, &isDir, withAdmin));
            QVERIFY(IProcController::isFolderSupportHardLinks(dir, withAdmin));
            QVERIFY(IProcController::removeDir(dir, withAdmin));
            QVERIFY(!IProcController::fileExistsAtPath(dir, &isDir, withAdmin));
        }
        QDir::setCurrent(cwd);
        QVERIFY(!tree.exists("canary"));
        QVERIFY(tree.list().empty());
        if (withAdmin) {
            // a missing file counts as removed; missing paths have no identity
            QVERIFY(IProcController::removeFile(tree.path() + QStringLiteral("/missing"), true));
            QVERIFY(IProcController::removeDir(tree.path() + QStringLiteral("/missing"), true));
        }
        QVERIFY(!IProcController::fileExistsAtPath(QString(), nullptr, withAdmin));
    }

    void lookupsStayInTheSubtree()
    {
        TempTree tree(QStringLiteral("lookup"));
        // a program named rsync3, two levels below a shell we start
        QVERIFY(tree.symlink("/bin/sleep", "rsync3"));
        Subprocess runner;
        QVERIFY(runner.start(shell({ QStringLiteral("-c"), QStringLiteral("sh -c '\"$1\" 30' sh \"$1\"; :"),
            QStringLiteral("sh"), tree.filePath(std::string("rsync3")) })));
        // an unrelated sh that is not below the runner
        Subprocess other;
        QVERIFY(other.start(shell({ QStringLiteral("-c"), QStringLiteral("sleep 30; :") })));
        qint64 found = 0;
        QTRY_VERIFY_WITH_TIMEOUT(
            (found = IProcController::lastChildProcessName(QStringLiteral("rsync3"), QString(), runner.pid()))
                != 0,
            10000);
        QCOMPARE(ProcessTable::processName(pid_t(found)), QStringLiteral("rsync3"));
        // below this process too (grandchild), but not below the other shell
        QCOMPARE(IProcController::lastChildProcessName(QStringLiteral("rsync3"), QString(), 0), found);
        QCOMPARE(IProcController::lastChildProcessName(QStringLiteral("rsync3"), QString(), other.pid()),
            qint64(0));
        const qint64 sh = IProcController::lastChildProcessName(
            QStringLiteral("sh"), QStringLiteral("bash"), runner.pid());
        QVERIFY(sh != 0 && sh != other.pid());
        // direct children only
        QCOMPARE(QVExecutor::lastChildProcessName(QStringLiteral("rsync3"), QString(), 0), qint64(0));
        QCOMPARE(QVExecutor::lastChildProcessName(QStringLiteral("sh"), QString(), 0), qint64(other.pid()));
        const ChildProcessRecord first
            = IProcController::childProcessName(QStringLiteral("sh"), QString(), 0, false);
        const ChildProcessRecord last
            = IProcController::childProcessName(QStringLiteral("sh"), QString(), 0, true);
        QCOMPARE(first.pid, qint64(runner.pid()));
        QCOMPARE(last.pid, qint64(other.pid()));
        QCOMPARE(last.name, QStringLiteral("sh"));
        QCOMPARE(
            IProcController::childProcessName(QStringLiteral("nothing"), QString(), 0, true).pid, qint64(0));
    }

    void zombieKillReapsOnlyReleasedChildren()
    {
        Subprocess owned;
        QVERIFY(owned.start(shell({ QStringLiteral("-c"), QStringLiteral("exit 4") })));
        pid_t releasedPid = 0;
        {
            Subprocess released;
            QVERIFY(released.start(shell({ QStringLiteral("-c"), QStringLiteral("exit 0") })));
            releasedPid = released.pid();
            released.release();
        }
        QTRY_VERIFY_WITH_TIMEOUT(
            ProcessTable::entry(releasedPid) && ProcessTable::entry(releasedPid)->isEnded(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(
            ProcessTable::entry(owned.pid()) && ProcessTable::entry(owned.pid())->isEnded(), 10000);
        QCOMPARE(QVExecutor::zombieKill(), 1);
        QVERIFY(!QFile::exists(QStringLiteral("/proc/%1").arg(releasedPid)));
        // the owner still gets its child's status
        QVERIFY(QFile::exists(QStringLiteral("/proc/%1").arg(owned.pid())));
        QVERIFY(owned.waitForFinished(10000));
        QCOMPARE(owned.exitCode(), 4);
    }

    void executor()
    {
        IProcessCard card;
        QStringList lines;
        QVERIFY(QVExecutor::execCommand(
            QStringLiteral("printf 'one\\n\\ntwo\\n'; echo err >&2"), false, true, &card, nullptr, &lines));
        QCOMPARE(lines, (QStringList { "one", "two", "err" }));
        QVERIFY(card.isFlag(stateFinished));
        // the exit status counts
        QVERIFY(!QVExecutor::execCommand(
            QStringLiteral("echo partial; exit 2"), false, true, &card, nullptr, &lines));
        QCOMPARE(lines, QStringList { "partial" });
        // argument vector form, as root through the runner, without waiting
        std::shared_ptr<ExecutorRun> run;
        QVERIFY(QVExecutor::execArguments({ printargs(), QStringLiteral("a b") }, true, false, &card, &run));
        QVERIFY(run);
        QCOMPARE(QVExecutor::shellProcessId(), run->pid());
        QVERIFY(QVExecutor::processOutput(*run, &lines, &card));
        QCOMPARE(lines, QStringList { QString::fromUtf8("a b\0", 4) });
        // a refused root start
        m_backend->startMode = FakePrivilegeBackend::StartMode::Refuse;
        QVERIFY(!QVExecutor::execCommand(QStringLiteral("true"), true, true, &card));
        QVERIFY(card.isFlag(errorAuthorization));
        QVERIFY(card.isFlag(reasonTerminatedByErrors));
    }

    void executorLines()
    {
        const QByteArray big(3000, 'x');
        const QStringList lines = QVExecutor::splitLines("a\n" + big + "\nb\n\ncaf\xe9", 1000);
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines[0], QStringLiteral("a"));
        QCOMPARE(lines[1], QString(1000, QLatin1Char('x'))); // cut once, the rest skipped
        QCOMPARE(lines[2], QStringLiteral("b"));
        QCOMPARE(NameCodec::encode(lines[3]), QByteArray("caf\xe9"));
    }

    void controllerBase_data()
    {
        QTest::addColumn<int>("mode"); // -1 missing
        QTest::addColumn<bool>("found");
        QTest::newRow("missing") << -1 << false;
        QTest::newRow("not executable") << 0644 << false;
        QTest::newRow("executable") << 0755 << true;
    }

    void controllerBase()
    {
        QFETCH(int, mode);
        QFETCH(bool, found);
        TempTree tree(QStringLiteral("contents"));
        QVERIFY(tree.mkdir("Resources"));
        if (mode >= 0)
            QVERIFY(tree.writeFile(std::string("Resources/qv_proc"), "#!/bin/sh\n", mode_t(mode)));
        AppPaths::setContentsDirOverride(tree.path());
        qunsetenv("KV_APP_CONTENTS");
        const QString path = IProcController::qvProcPath();
        AppPaths::setContentsDirOverride(QString());
        qputenv("KV_APP_CONTENTS", QFile::encodeName(KvTest::appContentsDir()));
        QCOMPARE(path, found ? tree.filePath(std::string("Resources/qv_proc")) : QString());
    }

    void executiveProcessAndFactory()
    {
        FakeProject noCard;
        std::unique_ptr<IProcController> c = IProcController::createWithProject(&noCard, this);
        QCOMPARE(c->project(), &noCard);
        QCOMPARE(c->controller(), this);
        QCOMPARE(c->executiveProcess().pid, quint64(0));
        QCOMPARE(c->executiveProcess().name(), QString());
        c->setExecutiveProcess(
            ExecutiveProcess::make(42, QStringLiteral("rsync3"))); // no card: nothing happens
        QVERIFY(!c->startClone(QVariant()));

        IProcessCard card;
        FakeProject withCard;
        withCard.card = &card;
        c->setProject(&withCard);
        c->setExecutiveProcess(ExecutiveProcess::make(42, QStringLiteral("rsync3")));
        QCOMPARE(card.executiveProcess().pid, quint64(42));
        QCOMPARE(c->executiveProcess().name(), QStringLiteral("rsync3"));
        // reached through a subclass, the factory still makes the base class
        std::unique_ptr<IProcController> base = FinishRecorder::createWithProject(&withCard, nullptr);
        QVERIFY(!dynamic_cast<FinishRecorder*>(base.get()));
    }

    void processFinishedRunsOnMain()
    {
        FinishRecorder c;
        std::atomic<bool> done { false };
        std::thread reader([&] {
            c.ITProcessFinishedOnMain(QVariant(1));
            done = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(done.load(), 10000);
        reader.join();
        QCOMPARE(c.calls.load(), 1);
        QVERIFY(c.onMain.load());
        c.ITProcessFinishedOnMain(QVariant(2)); // on the main thread: direct, no deadlock
        QCOMPARE(c.calls.load(), 2);
    }
};

QTEST_GUILESS_MAIN(TestIProcController)
#include "tst_iproccontroller.moc"
