// kv-test: labels=root timeout=600 fixtures=kv_testuser,kv_loop_cleanup lock=kvtest serial

#include "KvTest.h"
#include "LoopImage.h"
#include "TestUsers.h"
#include "platform/NameCodec.h"
#include "platform/PrivilegeBackend.h"
#include "platform/ProcessTable.h"
#include "projects/IProject.h"
#include "utilities/IAuthorizer.h"
#include "utilities/IProcController.h"

#include <QtTest>
#include <sys/stat.h>

namespace {

// Output lines "key=value" of the root client.
QMap<QString, QString> keyValues(const QByteArray& out)
{
    QMap<QString, QString> map;
    for (const QByteArray& line : out.split('\n')) {
        const int eq = line.indexOf('=');
        if (eq > 0)
            map.insert(QString::fromUtf8(line.left(eq)), QString::fromUtf8(line.mid(eq + 1)));
    }
    return map;
}

// A folder that the test users may write into (the results of their runs).
class SharedFolder
{
public:
    SharedFolder()
        : m_dir(QStringLiteral("/tmp/kvtest-io-XXXXXX"))
    {
        ::chmod(QFile::encodeName(m_dir.path()).constData(), 01777);
    }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
};

Subprocess::Result asUser(const QString& user, const QStringList& arguments, const QByteArray& input,
    const QMap<QString, QString>& env = {})
{
    const Subprocess::Options o = [&] {
        Subprocess::Options r = TestUsers::runAs(
            user, TestUsers::reachableProgram(QStringLiteral("rootclient")), arguments, env);
        r.standardInput = input;
        return r;
    }();
    return Subprocess::run(o, 300000);
}

QStringList oddArguments()
{
    return { QStringLiteral("a b"), QStringLiteral("it's"), QStringLiteral("\"q\""),
        QStringLiteral("$(touch canary)"), QStringLiteral("`touch canary`"), QStringLiteral("two\nlines"),
        QStringLiteral("-n"), QStringLiteral("caf") + QChar(0xDCE9) };
}

QByteArray encodedNul(const QStringList& list)
{
    QByteArray out;
    for (const QString& a : list)
        out += NameCodec::encode(a) + '\0';
    return out;
}

} // namespace

class TestRootRun : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { IAuthorizer::resetShared(); }

    // ---- as root: the backend runs the root shell directly

    void directRootRunner()
    {
        KV_REQUIRE_ROOT();
        QCOMPARE(PrivilegeBackend::shared().method(), PrivilegeBackend::Method::Direct);
        QTemporaryDir cwd;
        QString output;
        QStringList args
            = QStringList { KvTest::testBinDir() + QStringLiteral("/printargs") } + oddArguments();
        QByteArray out;
        std::mutex m;
        std::unique_ptr<RootProcess> p
            = IProcController::runRootedToolWithArgsArray(args, [&](const char* d, size_t n) {
                  std::lock_guard<std::mutex> lock(m);
                  out.append(d, qsizetype(n));
              });
        QVERIFY(p);
        QCOMPARE(ProcessTable::processName(p->rootPid()), QStringLiteral("sh"));
        QVERIFY(p->waitForFinished(60000));
        QCOMPARE(p->exitCode(), 0);
        QCOMPARE(out, encodedNul(oddArguments()));
    }

    void directFileOperations()
    {
        KV_REQUIRE_ROOT();
        // a root-owned folder that only root may change
        QTemporaryDir base(QStringLiteral("/tmp/kvtest-rootops-XXXXXX"));
        for (const QString& name : oddArguments()) {
            const QString dir = base.path() + QLatin1Char('/') + name;
            const QString file = dir + QLatin1Char('/') + name;
            bool isDir = false;
            QVERIFY(IProcController::makeDir(dir, true));
            QVERIFY(IProcController::makeFile(file, true));
            QVERIFY(!IProcController::makeDir(file, true));
            QVERIFY(IProcController::fileExistsAtPath(file, &isDir, true) && !isDir);
            QVERIFY(IProcController::isFolderSupportHardLinks(dir, true));
            QVERIFY(IProcController::removeFile(file, true));
            QVERIFY(IProcController::removeFile(file, true)); // missing counts as removed
            QCOMPARE(IProcController::IDForPath(file, true), quint64(0));
            QVERIFY(IProcController::removeDir(dir, true));
        }
        QVERIFY(
            QDir(base.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());
    }

    void directStopEndsGroup()
    {
        KV_REQUIRE_ROOT();
        std::unique_ptr<RootProcess> p = IProcController::runRootedToolWithArgsArray(
            { QStringLiteral("sh"), QStringLiteral("-c"), QStringLiteral("sleep 300 & sleep 300 & wait") },
            [](const char*, size_t) {});
        QVERIFY(p);
        const pid_t group = p->rootGroup();
        QTRY_VERIFY_WITH_TIMEOUT(ProcessTable::groupMembers(group).size() >= 4, 10000);
        p->stop();
        QTRY_VERIFY_WITH_TIMEOUT(ProcessTable::groupMembers(group).isEmpty(), 10000);
    }

    // ---- as the test users, through sudo

    void sudoValidation_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<bool>("rightPassword");
        QTest::addColumn<QString>("expected");
        QTest::newRow("right password") << QStringLiteral("kvtest") << true << QStringLiteral("valid");
        QTest::newRow("wrong password") << QStringLiteral("kvtest") << false << QStringLiteral("invalid");
        QTest::newRow("not in group sudo")
            << QStringLiteral("kvtestout") << true << QStringLiteral("notallowed");
        QTest::newRow("NOPASSWD rule") << QStringLiteral("kvtestnp") << false << QStringLiteral("valid");
    }

    void sudoValidation()
    {
        KV_REQUIRE_TEST_USERS();
        QFETCH(QString, user);
        QFETCH(bool, rightPassword);
        QFETCH(QString, expected);
        const QByteArray pw = rightPassword ? TestUsers::password(user) : QByteArray("wrong-password");
        const Subprocess::Result r = asUser(user, { QStringLiteral("validate") }, pw + '\n');
        QCOMPARE(keyValues(r.out).value(QStringLiteral("validation")), expected);
    }

    void sudoRunnerLiteralArguments()
    {
        KV_REQUIRE_TEST_USERS();
        SharedFolder io;
        const QString outFile = io.filePath(QStringLiteral("out"));
        const Subprocess::Result r = asUser(QStringLiteral("kvtest"),
            QStringList {
                QStringLiteral("run"), outFile, TestUsers::reachableProgram(QStringLiteral("printargs")) }
                + oddArguments(),
            TestUsers::password(QStringLiteral("kvtest")) + '\n');
        const auto kv = keyValues(r.out);
        QCOMPARE(kv.value(QStringLiteral("reason")), QStringLiteral("0"));
        QCOMPARE(kv.value(QStringLiteral("exit")), QStringLiteral("0"));
        QFile f(outFile);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), encodedNul(oddArguments()));
        QVERIFY(!QFile::exists(io.filePath(QStringLiteral("canary"))));
    }

    void sudoWrongPasswordIsReason8()
    {
        KV_REQUIRE_TEST_USERS();
        SharedFolder io;
        const Subprocess::Result r = asUser(QStringLiteral("kvtest"),
            { QStringLiteral("run"), io.filePath(QStringLiteral("out")), QStringLiteral("true") },
            "wrong-password\n");
        const auto kv = keyValues(r.out);
        QCOMPARE(kv.value(QStringLiteral("reason")), QStringLiteral("8"));
        QVERIFY(!kv.contains(QStringLiteral("pid")));
    }

    void sudoStopLeavesNothing()
    {
        KV_REQUIRE_TEST_USERS();
        Subprocess client;
        QByteArray out;
        std::mutex m;
        client.setStdoutHandler([&](const char* d, size_t n) {
            std::lock_guard<std::mutex> lock(m);
            out.append(d, qsizetype(n));
        });
        Subprocess::Options o = TestUsers::runAs(QStringLiteral("kvtest"),
            TestUsers::reachableProgram(QStringLiteral("rootclient")),
            { QStringLiteral("stop"), QStringLiteral("sh"), QStringLiteral("-c"),
                QStringLiteral("sleep 300 & sleep 300 & wait") });
        o.keepStdinOpen = true;
        o.standardInput = TestUsers::password(QStringLiteral("kvtest")) + '\n';
        QVERIFY(client.start(o));
        auto current = [&] {
            std::lock_guard<std::mutex> lock(m);
            return keyValues(out);
        };
        QTRY_VERIFY_WITH_TIMEOUT(current().contains(QStringLiteral("ready")), 60000);
        const pid_t rootPid = current().value(QStringLiteral("pid")).toInt();
        const pid_t group = current().value(QStringLiteral("group")).toInt();
        // the handed-back id is the root shell
        const std::optional<ProcessEntry> shell = ProcessTable::entry(rootPid);
        QVERIFY(shell);
        QCOMPARE(shell->name, QStringLiteral("sh"));
        QCOMPARE(shell->uid, qint64(0));
        QTRY_VERIFY_WITH_TIMEOUT(ProcessTable::groupMembers(group).size() >= 4, 10000);
        QVERIFY(client.writeStdin("stop\n"));
        QTRY_VERIFY_WITH_TIMEOUT(current().contains(QStringLiteral("stopped")), 60000);
        QTRY_VERIFY_WITH_TIMEOUT(ProcessTable::groupMembers(group).isEmpty(), 10000);
        QVERIFY(!ProcessTable::isProcessAlive(rootPid));
        client.closeStdin();
        QVERIFY(client.waitForFinished(30000));
    }

    void sudoFileOperationsOnOddPaths()
    {
        KV_REQUIRE_TEST_USERS();
        // root-owned: the test user can change nothing here without root
        QTemporaryDir base(QStringLiteral("/tmp/kvtest-sudoops-XXXXXX"));
        ::chmod(QFile::encodeName(base.path()).constData(), 0755);
        const Subprocess::Result r = asUser(QStringLiteral("kvtest"),
            { QStringLiteral("fileops"), base.path() }, TestUsers::password(QStringLiteral("kvtest")) + '\n');
        QVERIFY2(keyValues(r.out).value(QStringLiteral("failures")) == QLatin1String("0"), r.out.constData());
        QVERIFY(
            QDir(base.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());
    }

    void sudoLookupStaysInSubtree()
    {
        KV_REQUIRE_TEST_USERS();
        QTemporaryDir dir(QStringLiteral("/tmp/kvtest-lookup-XXXXXX"));
        ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
        const QString rsync3 = dir.filePath(QStringLiteral("rsync3"));
        QVERIFY(QFile::link(QStringLiteral("/bin/sleep"), rsync3));
        // an unrelated sh outside the client's subtree
        Subprocess other;
        Subprocess::Options o;
        o.program = QStringLiteral("/bin/sh");
        o.arguments = { QStringLiteral("-c"), QStringLiteral("sleep 300; :") };
        QVERIFY(other.start(o));
        const Subprocess::Result r = asUser(QStringLiteral("kvtest"), { QStringLiteral("lookup"), rsync3 },
            TestUsers::password(QStringLiteral("kvtest")) + '\n');
        const auto kv = keyValues(r.out);
        QVERIFY2(kv.value(QStringLiteral("found")).toLongLong() > 0, r.out.constData());
        const qint64 sh = kv.value(QStringLiteral("sh")).toLongLong();
        QVERIFY(sh > 0);
        QVERIFY(sh != other.pid());
        other.stop();
    }

    void sudoRsyncIntoRootOwnedFolder()
    {
        KV_REQUIRE_TEST_USERS();
        LoopImage image;
        QVERIFY2(image.make(LoopImage::FsType::Ext4, 64), qPrintable(image.errorString()));
        const QString dest = image.mountPoint() + QStringLiteral("/backup");
        QVERIFY(QDir().mkpath(dest));
        ::chmod(QFile::encodeName(dest).constData(), 0700); // root only
        QTemporaryDir src(QStringLiteral("/tmp/kvtest-src-XXXXXX"));
        ::chmod(QFile::encodeName(src.path()).constData(), 0755);
        const QStringList files { QStringLiteral("plain.txt"), QStringLiteral("it's $(odd)"),
            QStringLiteral("-dash") };
        for (const QString& name : files) {
            QFile f(src.filePath(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("content of " + name.toUtf8());
        }
        IProject project; // the base answers: Mac file systems, admin rights
        QStringList options;
        IProcController::rsyncOptions(&options, &project, 1, true);
        SharedFolder io;
        const QString outFile = io.filePath(QStringLiteral("rsync.out"));
        Subprocess::Result r = asUser(QStringLiteral("kvtest"),
            QStringList { QStringLiteral("run"), outFile, QStringLiteral("rsync") } + options
                + QStringList { src.path() + QLatin1Char('/'), dest },
            TestUsers::password(QStringLiteral("kvtest")) + '\n');
        auto kv = keyValues(r.out);
        QCOMPARE(kv.value(QStringLiteral("exit")), QStringLiteral("0"));
        QFile out(outFile);
        QVERIFY(out.open(QIODevice::ReadOnly));
        const QByteArray lines = out.readAll();
        for (const QString& name : files) {
            QVERIFY2(lines.contains(name.toUtf8()), lines.constData());
            QFile copied(dest + QLatin1Char('/') + name);
            QVERIFY(copied.open(QIODevice::ReadOnly));
            QCOMPARE(copied.readAll(), "content of " + name.toUtf8());
        }
        QVERIFY(lines.contains("Number of files"));

        // a source list that names a missing folder: status 23 reaches the caller
        r = asUser(QStringLiteral("kvtest"),
            QStringList { QStringLiteral("run"), outFile, QStringLiteral("rsync") } + options
                + QStringList { src.path() + QLatin1Char('/'), src.path() + QStringLiteral("/missing/"),
                    dest },
            TestUsers::password(QStringLiteral("kvtest")) + '\n');
        kv = keyValues(r.out);
        QCOMPARE(kv.value(QStringLiteral("exit")), QStringLiteral("23"));
        QVERIFY(image.unmount());
    }

    void keychainSetupThenUnattendedRoot()
    {
        KV_REQUIRE_TEST_USERS();
        SharedFolder io;
        const QString home = io.filePath(QStringLiteral("home"));
        QVERIFY(QDir().mkpath(home));
        ::chmod(QFile::encodeName(home).constData(), 0777);
        const QString made = io.filePath(QStringLiteral("made by root"));
        // the client makes its own private bus and keyring under KV_BUILD_DIR
        const Subprocess::Result r = asUser(QStringLiteral("kvtest"), { QStringLiteral("keychain"), made },
            TestUsers::password(QStringLiteral("kvtest")) + '\n',
            { { QStringLiteral("KV_BUILD_DIR"), home }, { QStringLiteral("HOME"), home } });
        const auto kv = keyValues(r.out);
        QVERIFY2(kv.value(QStringLiteral("stored")) == QLatin1String("1"), r.out.constData());
        QVERIFY2(kv.value(QStringLiteral("made")) == QLatin1String("1"), r.out.constData());
        QVERIFY2(!r.out.contains("unexpected"), r.out.constData()); // no dialog, no alert
        QFileInfo info(made);
        QVERIFY(info.isDir());
        QCOMPARE(info.ownerId(), uint(0));
        QDir(made).removeRecursively();
    }
};

QTEST_GUILESS_MAIN(TestRootRun)
#include "tst_rootrun.moc"
