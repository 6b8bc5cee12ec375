// kv-test: labels=root timeout=300 fixtures=kv_testuser lock=kvtest serial
// Archive projects with administrator rights, run by an ordinary user through sudo: the job runs
// as root with the password on its standard input, the archive goes back to the user, a stop ends
// every process of the root group, and refused rights stop the run.
#include "ArchiveDriverRun.h"
#include "KvTest.h"
#include "TempTree.h"
#include "TestUsers.h"
#include "archive/ITaskWrapperARCH.h"
#include "platform/NameCodec.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>
#include <csignal>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Run = ArchiveDriverRun;

const passwd* kvtest()
{
    return ::getpwnam("kvtest");
}

Run asUser(const QStringList& args, const QByteArray& input,
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment())
{
    env.insert(QStringLiteral("HOME"), QString::fromLocal8Bit(kvtest()->pw_dir));
    env.remove(QStringLiteral("XDG_CONFIG_HOME"));
    env.remove(QStringLiteral("XDG_DATA_HOME"));
    env.remove(QStringLiteral("TMPDIR"));
    return runArchiveDriver(args, input, env,
        { QStringLiteral("/usr/sbin/runuser"), QStringLiteral("-u"), QStringLiteral("kvtest"),
            QStringLiteral("-w"), QStringLiteral("HOME"), QStringLiteral("--") });
}

bool chownTree(const QString& path)
{
    return QProcess::execute(
               QStringLiteral("chown"), { QStringLiteral("-R"), QStringLiteral("kvtest:kvtest"), path })
        == 0;
}

// Processes still in the group.
QStringList groupMembers(pid_t pgid)
{
    QStringList found;
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool ok = false;
        pid.toInt(&ok);
        if (!ok)
            continue;
        QFile stat(QStringLiteral("/proc/") + pid + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 2 && fields[2].toInt() == pgid && fields[0] != "Z")
            found << pid + QLatin1Char(' ') + QString::fromUtf8(text.mid(0, text.lastIndexOf(')') + 1));
    }
    return found;
}

QByteArray noise(int size, int seed)
{
    QByteArray data(size, '\0');
    quint32 x = quint32(seed) * 2654435761u + 1;
    for (int i = 0; i < size; ++i) {
        x = x * 1664525u + 1013904223u;
        data[i] = char(x >> 24);
    }
    return data;
}

// A session bus of kvtest's own, as that user's desktop would have it. The daemon gets none of
// the test's descriptors above 2 (the root-test lock among them), and is ended by its pid.
class UserBus
{
public:
    UserBus()
    {
        m_daemon.start(QStringLiteral("/bin/bash"),
            { QStringLiteral("-c"),
                QStringLiteral("for f in /proc/$$/fd/*; do n=${f##*/}; [ \"$n\" -gt 2 ] && eval \"exec $n>&-\"; "
                               "done; exec /usr/sbin/runuser -u kvtest -- /usr/bin/dbus-daemon --session "
                               "--nofork --print-address=1 --print-pid=1") });
        QElapsedTimer t;
        t.start();
        while ((m_address.isEmpty() || m_pid <= 0) && t.elapsed() < 10000 && m_daemon.waitForReadyRead(1000)) {
            while (m_daemon.canReadLine()) {
                const QByteArray line = m_daemon.readLine().trimmed();
                bool ok = false;
                const int pid = line.toInt(&ok);
                if (ok)
                    m_pid = pid;
                else if (!line.isEmpty())
                    m_address = QString::fromUtf8(line);
            }
        }
    }
    ~UserBus()
    {
        if (m_pid > 0)
            ::kill(m_pid, SIGTERM);
        m_daemon.terminate();
        if (!m_daemon.waitForFinished(5000))
            m_daemon.kill();
        m_daemon.waitForFinished(5000);
    }
    QString address() const { return m_address; }

private:
    QProcess m_daemon;
    QString m_address;
    pid_t m_pid = 0;
};

} // namespace

class TestArchiveRoot : public QObject
{
    Q_OBJECT

private slots:
    // The script of a root job reads the password first and runs the cat tool as the user.
    void rootScriptText()
    {
        ArchiveScriptOptions o;
        o.passwordOnStdin = true;
        o.catPrefix = QStringList { "/usr/bin/setpriv", "--reuid=1000", "--", "/usr/bin/env", "A=b c" };
        const QByteArray text = ITaskWrapperARCH::scriptText(
            { { "/x/qv3_cat", "/a/b.cnt2" }, { "/usr/bin/openssl", "aes-256-cbc", "-d" } }, o);
        QVERIFY(text.startsWith("#!/bin/bash\nexec 2>&1\nIFS= read -r QV_ARCH_PASS; export QV_ARCH_PASS; "
                                "exec </dev/null\nexport LC_ALL=C.UTF-8\n"));
        QVERIFY2(
            text.contains("'/usr/bin/setpriv'  '--reuid=1000'  '--'  '/usr/bin/env'  'A=b c'  '/x/qv3_cat'"),
            text.constData());
        QCOMPARE(text.count("setpriv"), 1); // the cat tool only
    }

    void encryptedBuildThroughSudo()
    {
        KV_REQUIRE_TEST_USERS();
        TempTree tree(QStringLiteral("root"));
        QVERIFY(::chmod(tree.pathStd().c_str(), 0755) == 0);
        tree.writeFile(std::string("src/a.txt"), "alpha\n");
        tree.writeFile(std::string("src/root-only.txt"), "secret\n", 0600); // stays root's
        tree.mkdir("dest");
        tree.mkdir("ws/Backups");
        QVERIFY(chownTree(tree.filePath(QStringLiteral("dest"))));
        QVERIFY(chownTree(tree.filePath(QStringLiteral("ws"))));
        const QString ws = tree.filePath(QStringLiteral("ws"));
        Run r = asUser({ "--workspace", ws, "--new", "R", "--source", tree.filePath(QStringLiteral("src")),
                           "--dest", tree.filePath(QStringLiteral("dest")), "--cipher", "aes256", "--admin" },
            QByteArray());
        QVERIFY2(r.code == 0, r.err.constData());
        const QByteArray password = "p w$\"'\\";
        // Refused rights stop the run before any job.
        r = asUser({ "--workspace", ws, "--project", "R", "--admin-password-stdin", "--password-stdin" },
            "wrong\n" + password + "\n");
        QVERIFY2(r.code == 4, QByteArray(r.last + "\n" + r.err).constData());
        QVERIFY(!r.err.contains("pgid:"));

        r = asUser({ "--workspace", ws, "--project", "R", "--admin-password-stdin", "--password-stdin" },
            TestUsers::password(QStringLiteral("kvtest")) + "\n" + password + "\n");
        QVERIFY2(r.code == 0, QByteArray(r.last + "\n" + r.err).constData());
        QVERIFY(r.err.contains("pgid: "));
        QVERIFY(!r.err.contains(password));
        // The archive is the user's, and holds the file only root could read.
        QDirIterator it(tree.filePath(QStringLiteral("dest")), { QStringLiteral("*.tar*") }, QDir::Files,
            QDirIterator::Subdirectories);
        QVERIFY(it.hasNext());
        const QString archive = it.next();
        struct stat st = {};
        QCOMPARE(::stat(NameCodec::encode(archive).constData(), &st), 0);
        QCOMPARE(st.st_uid, kvtest()->pw_uid);
        QProcess list;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QV_ARCH_PASS"), QString::fromUtf8(password));
        list.setProcessEnvironment(env);
        list.start(QStringLiteral("/bin/bash"),
            { QStringLiteral("-c"),
                QStringLiteral(
                    "openssl aes-256-cbc -d -md md5 -pass env:QV_ARCH_PASS -in \"$1\" | tar -tf -"),
                QStringLiteral("x"), archive });
        QVERIFY(list.waitForFinished(30000));
        QVERIFY(list.readAllStandardOutput().contains("root-only.txt"));
    }

    void stopEndsRootGroup()
    {
        KV_REQUIRE_TEST_USERS();
        TempTree tree(QStringLiteral("rootstop"));
        QVERIFY(::chmod(tree.pathStd().c_str(), 0755) == 0);
        tree.mkdir("src");
        QCOMPARE(QProcess::execute(QStringLiteral("/bin/sh"),
                     { QStringLiteral("-c"),
                         QStringLiteral("head -c 400000000 /dev/urandom > '%1/src/big'")
                             .arg(tree.filePath(QStringLiteral(""))) }),
            0);
        tree.mkdir("dest");
        tree.mkdir("ws/Backups");
        QVERIFY(chownTree(tree.filePath(QStringLiteral("dest"))));
        QVERIFY(chownTree(tree.filePath(QStringLiteral("ws"))));
        const QString ws = tree.filePath(QStringLiteral("ws"));
        Run r = asUser({ "--workspace", ws, "--new", "T", "--source", tree.filePath(QStringLiteral("src")),
                           "--dest", tree.filePath(QStringLiteral("dest")), "--compress", "--cipher",
                           "aes256", "--split-kb", "100000", "--admin" },
            QByteArray());
        QVERIFY2(r.code == 0, r.err.constData());
        QElapsedTimer clock;
        clock.start();
        r = asUser({ "--workspace", ws, "--project", "T", "--admin-password-stdin", "--password-stdin",
                       "--timeout", "3" },
            TestUsers::password(QStringLiteral("kvtest")) + "\nsecret\n");
        QVERIFY2(r.code == 4, QByteArray(r.last + "\n" + r.err).constData());
        QVERIFY(r.last.endsWith("Terminated by user"));
        const qsizetype at = r.err.indexOf("pgid: ");
        QVERIFY(at >= 0);
        const pid_t pgid = pid_t(r.err.mid(at + 6, r.err.indexOf('\n', at) - at - 6).toInt());
        QVERIFY(pgid > 1);
        QTRY_VERIFY_WITH_TIMEOUT(groupMembers(pgid).isEmpty(), 5000);
        QDirIterator it(tree.filePath(QStringLiteral("dest")), { QStringLiteral("*.a??") }, QDir::Files,
            QDirIterator::Subdirectories);
        QVERIFY(!it.hasNext()); // no volume left behind
    }

    // A split, encrypted archive of a project with administrator rights, restored through sudo:
    // the root job runs the real cat tool as the user on the user's bus, which names each volume
    // (the later ones from another folder) and the files come back whole.
    void splitRestoreThroughSudo()
    {
        KV_REQUIRE_TEST_USERS();
        UserBus bus;
        QVERIFY(!bus.address().isEmpty());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
        TempTree tree(QStringLiteral("rootsplit"));
        QVERIFY(::chmod(tree.pathStd().c_str(), 0755) == 0);
        tree.writeFile(std::string("src/big.bin"), noise(450000, 2));
        tree.writeFile(std::string("src/it's $(touch X) q"), "odd\n");
        tree.mkdir("dest");
        tree.mkdir("other");
        tree.mkdir("out");
        tree.mkdir("ws/Backups");
        for (const char* d : { "dest", "other", "out", "ws", "src" })
            QVERIFY(chownTree(tree.filePath(QString::fromLatin1(d))));
        const QString ws = tree.filePath(QStringLiteral("ws"));
        const QByteArray admin = TestUsers::password(QStringLiteral("kvtest")) + "\n";
        Run r = asUser({ "--workspace", ws, "--new", "P", "--source", tree.filePath(QStringLiteral("src")),
                           "--dest", tree.filePath(QStringLiteral("dest")), "--cipher", "aes256", "--split-kb",
                           "100", "--admin" },
            QByteArray(), env);
        QVERIFY2(r.code == 0, r.err.constData());
        r = asUser({ "--workspace", ws, "--project", "P", "--admin-password-stdin", "--password-stdin" },
            admin + "pw\n", env);
        QVERIFY2(r.code == 0, QByteArray(r.last + "\n" + r.err).constData());
        QDirIterator it(tree.filePath(QStringLiteral("dest")), { QStringLiteral("*.a??") }, QDir::Files,
            QDirIterator::Subdirectories);
        QStringList volumes;
        while (it.hasNext())
            volumes << it.next();
        volumes.sort();
        QVERIFY(volumes.size() >= 4);
        for (int i = 2; i < volumes.size(); ++i)
            QVERIFY(QFile::rename(volumes[i],
                tree.filePath(QStringLiteral("other/")) + QFileInfo(volumes[i]).fileName()));

        const QString out = tree.filePath(QStringLiteral("out"));
        r = asUser({ "--workspace", ws, "--project", "P", "--admin-password-stdin", "--password-stdin",
                       "--restore", "--to", out, "--volume-dir", tree.filePath(QStringLiteral("other")) },
            admin + "pw\n", env);
        QVERIFY2(r.code == 0, QByteArray(r.last + "\n" + r.err).constData());
        // The cat tool asked for every volume, in order.
        QCOMPARE(int(r.err.count("is restoring...")), int(volumes.size()));
        QFile big(out + tree.filePath(QStringLiteral("src/big.bin")));
        QVERIFY(big.open(QIODevice::ReadOnly));
        QCOMPARE(big.readAll(), noise(450000, 2));
        QVERIFY(QFileInfo::exists(out + tree.filePath(QStringLiteral("src/it's $(touch X) q"))));
        QVERIFY(!QFileInfo::exists(tree.filePath(QStringLiteral("X"))));
    }
};

QTEST_GUILESS_MAIN(TestArchiveRoot)
#include "tst_archiveroot.moc"
