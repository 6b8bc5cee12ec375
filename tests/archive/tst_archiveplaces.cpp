// kv-test: labels=root timeout=420 fixtures=kv_loop_cleanup lock=devfuse
// Archives on places that come and go. On an sshfs share served by a private ssh server: built
// and restored through kv-run-project while the share is mounted, restored after it was
// unmounted (the restore mounts it again), built with automatic mounting (mounted for the run,
// unmounted after it), and refused clearly when the share cannot be reached. On a disc: the
// burned archives are found on the read-only removable volume in the drive and restored.
//
// The test runs in a mount namespace of its own, with an empty folder over /root: the ssh client
// settings that name the private server live there, and nothing of them outlives the test.
#include "ArchiveDriverRun.h"
#include "KvTest.h"
#include "LoopImage.h"
#include "RecordingShellServices.h"
#include "ScopedMount.h"
#include "SshServer.h"
#include "TempTree.h"
#include "archive/CBackup.h"
#include "archive/IBackup.h"
#include "platform/AppPaths.h"
#include "platform/DiskFacts.h"
#include "platform/MountInfo.h"
#include "platform/NameCodec.h"
#include "projects/ILocation.h"

#include <QProcess>
#include <QtTest>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString g_isolation; // why the namespace could not be made; empty when it was
QByteArray g_rootHome; // the folder that stands for /root inside the namespace

// A namespace of this process's own (made before any thread starts, so every thread and child
// is in it), its mounts private, an empty folder over /root.
void isolateRootHome()
{
    if (::geteuid() != 0) {
        g_isolation = QStringLiteral("needs root");
        return;
    }
    char home[] = "/tmp/kv-archiveplaces-home.XXXXXX";
    if (!::mkdtemp(home)) {
        g_isolation = QStringLiteral("no temporary folder");
        return;
    }
    g_rootHome = home;
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
        || ::mount(home, "/root", nullptr, MS_BIND, nullptr) != 0)
        g_isolation = QStringLiteral("no private mount namespace: %1").arg(QString::fromLocal8Bit(strerror(errno)));
}

void releaseRootHome()
{
    if (g_rootHome.isEmpty())
        return;
    if (g_isolation.isEmpty())
        ::umount2("/root", MNT_DETACH);
    QDir(QString::fromLocal8Bit(g_rootHome)).removeRecursively();
}

// Relative path -> content of every file below root (folders as "<dir>").
QMap<QByteArray, QByteArray> snapshot(const QString& root)
{
    QMap<QByteArray, QByteArray> out;
    QDirIterator it(
        root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QByteArray rel = NameCodec::encode(path.mid(root.size()));
        if (it.fileInfo().isDir()) {
            out.insert(rel, "<dir>");
        } else {
            QFile f(path);
            f.open(QIODevice::ReadOnly);
            out.insert(rel, f.readAll());
        }
    }
    return out;
}

void makeSource(TempTree& tree)
{
    tree.writeFile(std::string("src/plain.txt"), "hello\n");
    tree.writeFile(std::string("src/it's $(touch X) \\ q"), "odd\n");
    tree.writeFile(std::string("src/sub/deep.txt"), QByteArray(70000, 'z'));
}

// The share mounts of the private server's folder, newest last.
QStringList shareMounts()
{
    QStringList out;
    for (const MountEntry& m : MountInfo::read())
        if (m.fsType == QLatin1String("fuse.sshfs") && m.source.startsWith(QLatin1String("root@kvshare:")))
            out << m.mountPoint;
    return out;
}

void unmountShares()
{
    const QStringList mounts = shareMounts();
    for (auto it = mounts.crbegin(); it != mounts.crend(); ++it)
        LoopImage::runTool(QStringLiteral("fusermount3"), { QStringLiteral("-u"), *it });
}

// Whether an archive of that name lies in a project folder of the server's Backups folder.
bool onServer(const QString& served, const QString& name)
{
    QDirIterator it(served + QStringLiteral("/Backups"), { name }, QDir::Files, QDirIterator::Subdirectories);
    return !name.isEmpty() && it.hasNext();
}

QString onlyBif(const QString& ws)
{
    const QStringList bifs = QDir(ws + QStringLiteral("/Backups")).entryList({ QStringLiteral("*.bif") });
    return bifs.size() == 1 ? ws + QStringLiteral("/Backups/") + bifs.first() : QString();
}

// Burns a disc as a drive would: the disc build's work folder becomes the file system of an image
// that the test then puts in the "drive" (ext4 filled by mke2fs -d: not every kernel here reads
// ISO 9660, and the restore only cares that the volume is removable and read-only).
class ImageBurner : public RecordingShellServices
{
public:
    CBackup* project = nullptr;
    QString image;
    bool burnDisc(int volume) override
    {
        RecordingShellServices::burnDisc(volume);
        QFile f(image);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || !f.resize(32 * 1024 * 1024))
            return false;
        f.close();
        return LoopImage::runTool(QStringLiteral("mkfs.ext4"),
            { QStringLiteral("-q"), QStringLiteral("-F"), QStringLiteral("-d"), project->burnWorkFolder(), image });
    }
};

} // namespace

class TestArchivePlaces : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<SshServer> m_server;
    TempTree m_tree { QStringLiteral("places") };
    QString m_served; // the server's folder the share shows
    QProcessEnvironment m_env = QProcessEnvironment::systemEnvironment();

    ArchiveDriverRun driver(const QStringList& args, const QByteArray& input = QByteArray())
    {
        return runArchiveDriver(
            QStringList { QStringLiteral("--workspace"), m_tree.filePath(QStringLiteral("ws")) } + args, input,
            m_env);
    }

    bool startServer()
    {
        m_server = std::make_unique<SshServer>();
        if (!m_server->start())
            return false;
        // The client settings a user of the share would have: a host name for the server, its
        // port, the key that logs in.
        QDir().mkpath(QStringLiteral("/root/.ssh"));
        ::chmod("/root/.ssh", 0700);
        QFile config(QStringLiteral("/root/.ssh/config"));
        if (!config.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        config.write(QStringLiteral("Host kvshare\n  HostName 127.0.0.1\n  Port %1\n  User root\n"
                                    "  IdentityFile %2\n  IdentitiesOnly yes\n  StrictHostKeyChecking no\n"
                                    "  UserKnownHostsFile /dev/null\n  LogLevel ERROR\n")
                         .arg(m_server->port())
                         .arg(m_server->clientKey())
                         .toUtf8());
        config.close();
        ::chmod("/root/.ssh/config", 0600);
        return true;
    }

    QString mountShare()
    {
        const QString mp = LoopImage::loopRoot() + QStringLiteral("/share");
        QDir().mkpath(mp);
        QString out;
        if (!LoopImage::runTool(QStringLiteral("sshfs"),
                { QStringLiteral("root@kvshare:") + m_served, mp, QStringLiteral("-o"), QStringLiteral("BatchMode=yes") },
                &out)) {
            qWarning("sshfs: %s", qPrintable(out));
            return QString();
        }
        return mp;
    }

private slots:
    void initTestCase()
    {
        KV_REQUIRE_ROOT();
        if (!g_isolation.isEmpty())
            QSKIP(qPrintable(QStringLiteral("these tests need a private mount namespace (%1)").arg(g_isolation)));
        QVERIFY(m_tree.isValid());
        m_env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_tree.filePath(QStringLiteral("config")));
        m_env.insert(QStringLiteral("TMPDIR"), m_tree.filePath(QStringLiteral("tmp")));
        QVERIFY(m_tree.mkdir("tmp"));
    }

    void cleanupTestCase()
    {
        unmountShares();
        m_server.reset();
    }

    void shareDestination()
    {
        for (const char* tool : { "/usr/sbin/sshd", "/usr/bin/sshfs", "/usr/bin/fusermount3" })
            if (!QFileInfo(QLatin1String(tool)).isExecutable())
                QSKIP(qPrintable(QStringLiteral("%1 is not installed (scripts/install-deps.sh)").arg(tool)));
        TempTree& t = m_tree;
        makeSource(t);
        QVERIFY(t.mkdir("ws/Backups"));
        QVERIFY(t.mkdir("served/Backups"));
        m_served = t.filePath(QStringLiteral("served"));
        QVERIFY2(startServer(), qPrintable(m_server->errorString()));
        const QString mp = mountShare();
        QVERIFY(!mp.isEmpty());
        auto unmount = qScopeGuard([] { unmountShares(); });
        const QString src = t.filePath(QStringLiteral("src"));
        const QByteArray password = "s3cret word\n";

        // Made and built while the share is mounted: the archive lands in the server's folder.
        ArchiveDriverRun r = driver({ QStringLiteral("--new"), QStringLiteral("Net"), QStringLiteral("--source"), src,
            QStringLiteral("--dest"), mp + QStringLiteral("/Backups"), QStringLiteral("--compress"),
            QStringLiteral("--cipher"), QStringLiteral("aes256"), QStringLiteral("--method"),
            QStringLiteral("full") });
        QVERIFY2(r.code == 0, r.err.constData());
        const QString bif = onlyBif(t.filePath(QStringLiteral("ws")));
        QVERIFY(!bif.isEmpty());
        AppPaths::setWorkspacePathOverride(t.filePath(QStringLiteral("ws")));
        // The destination as the destination menu sets a share: its server URL and the folder on
        // it; mounted by the program only when asked to.
        auto setShare = [&](bool automount) {
            CBackup project(QStringLiteral("Net"));
            QVERIFY(project.load(bif, false));
            ILocation share;
            share.setDeviceType(ILocation::DeviceNetworkVolume);
            share.setURLStr(QStringLiteral("sftp://root@kvshare") + m_served);
            share.setPathFromMountPoint(QStringLiteral("/Backups"));
            project.setLocation(share, true);
            project.location()->setAutomount(automount);
            project.setMountAutomatically(automount);
            QVERIFY(project.save());
        };
        setShare(false);
        if (QTest::currentTestFailed())
            return;
        r = driver({ QStringLiteral("--project"), QStringLiteral("Net"), QStringLiteral("--password-stdin") }, password);
        QVERIFY2(r.code == 0 && r.last.contains("has succeeded"), r.err.constData());
        const QString archive = QString::fromUtf8(r.last.split(' ').value(1));
        QVERIFY2(onServer(m_served, archive), qPrintable(archive));

        // Restored after the share went away: the restore mounts it again by its URL.
        unmountShares();
        QVERIFY(shareMounts().isEmpty());
        r = driver({ QStringLiteral("--project"), QStringLiteral("Net"), QStringLiteral("--password-stdin"),
                       QStringLiteral("--restore"), QStringLiteral("--to"), t.filePath(QStringLiteral("out1")) },
            password);
        QVERIFY2(r.code == 0 && r.last.contains("has succeeded"), r.err.constData());
        QCOMPARE(snapshot(t.filePath(QStringLiteral("out1")) + src), snapshot(src));
        QCOMPARE(shareMounts().size(), 1);
        unmountShares();

        // Not mounted and not to be mounted by the program: a scheduled run fails without a window;
        // a run by the user waits for the volume (the driver cancels).
        r = driver({ QStringLiteral("--project"), QStringLiteral("Net"), QStringLiteral("--scheduled"),
                       QStringLiteral("--password-stdin") },
            password);
        QVERIFY2(r.code == 1 && r.err.contains("Failed back up") && !r.err.contains("prompt:"), r.err.constData());
        r = driver({ QStringLiteral("--project"), QStringLiteral("Net"), QStringLiteral("--password-stdin") }, password);
        QVERIFY2(r.code == 4 && r.err.contains("prompt: Waiting for volume"), r.err.constData());
        QVERIFY(shareMounts().isEmpty());

        // Mounted automatically: the run mounts the share, builds, and unmounts it after.
        setShare(true);
        if (QTest::currentTestFailed())
            return;
        r = driver({ QStringLiteral("--project"), QStringLiteral("Net"), QStringLiteral("--scheduled"),
                       QStringLiteral("--password-stdin") },
            password);
        QVERIFY2(r.code == 0 && r.last.contains("has succeeded"), r.err.constData());
        QVERIFY2(r.err.contains("Unmounting Target volume"), r.err.constData());
        QVERIFY(shareMounts().isEmpty());
        const QString second = QString::fromUtf8(r.last.split(' ').value(1));
        QVERIFY2(onServer(m_served, second), qPrintable(second));

        // The server is gone: the automatic mount fails with its message, nothing is registered
        // and no archive is deleted; a restore cannot mount the share either, says so and asks
        // for the archive (the driver cancels).
        m_server.reset();
        auto served = [&] {
            QStringList names;
            QDirIterator it(m_served, QDir::Files, QDirIterator::Subdirectories);
            while (it.hasNext())
                names << it.next();
            names.sort();
            return names;
        };
        const QStringList before = served();
        r = driver({ QStringLiteral("--project"), QStringLiteral("Net"), QStringLiteral("--scheduled"),
                       QStringLiteral("--password-stdin") },
            password);
        QVERIFY2(r.code == 1 && r.err.contains("Target automount error"), r.err.constData());
        QCOMPARE(served(), before);
        r = driver({ QStringLiteral("--project"), QStringLiteral("Net"), QStringLiteral("--password-stdin"),
                       QStringLiteral("--restore"), QStringLiteral("--to"), t.filePath(QStringLiteral("out2")) },
            password);
        QVERIFY2(r.code == 4 && r.err.contains("cannot be mounted") && r.err.contains("-> Cancel"), r.err.constData());
        QVERIFY(!QFileInfo::exists(t.filePath(QStringLiteral("out2")) + src));
        QVERIFY(shareMounts().isEmpty());
    }

    // A disc project: its archives are burned (into an ISO image here) and the work folder goes;
    // the restore finds them on the disc in the drive, a read-only removable volume (a loop
    // device made removable by a sysfs fixture, as no test machine has an optical drive).
    void discDestination()
    {
        TempTree t(QStringLiteral("disc"));
        makeSource(t);
        QVERIFY(t.mkdir("tmp"));
        QVERIFY(t.mkdir("ws/Backups"));
        const QByteArray oldTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", t.filePath(QStringLiteral("tmp")).toUtf8());
        auto restoreTmp = qScopeGuard([&] { qputenv("TMPDIR", oldTmp); });
        AppPaths::setWorkspacePathOverride(t.filePath(QStringLiteral("ws")));
        ImageBurner shell;
        shell.burnResult = true;
        QDir().mkpath(LoopImage::loopRoot());
        shell.image = LoopImage::loopRoot() + QStringLiteral("/archiveplaces-disc.img");
        auto removeImage = qScopeGuard([&] { QFile::remove(shell.image); });
        ShellServicesScope scope(&shell);
        const QString src = t.filePath(QStringLiteral("src"));
        CBackup project(QStringLiteral("Disc"));
        shell.project = &project;
        QVERIFY(project.addItemFromDisk(src));
        ILocation disc;
        disc.setDeviceType(ILocation::DeviceCD);
        project.setLocation(disc, true);
        bool ended = false;
        project.getIBackup()->onRunEnded = [&] { ended = true; };
        QVERIFY(project.build() > 0);
        QTRY_VERIFY_WITH_TIMEOUT(ended, 60000);
        QVERIFY2(project.getIBackup()->lastStatusString().contains(QLatin1String("has succeeded")),
            qPrintable(project.getIBackup()->lastStatusString()));
        QCOMPARE(int(project.archives().size()), 1);
        QVERIFY(project.burnWorkFolder().isEmpty()); // the burned copy is the only one

        // The disc goes into the drive.
        ScopedMount drive;
        QVERIFY2(drive.mount({ QStringLiteral("-o"), QStringLiteral("loop,ro"), shell.image },
                     LoopImage::loopRoot() + QStringLiteral("/drive")),
            qPrintable(drive.errorString()));
        std::optional<MountEntry> mounted = MountInfo::mountEntryForPath(drive.dir());
        QVERIFY(mounted);
        const QString loop = DiskFacts::blockDeviceOf(*mounted);
        QVERIFY2(loop.startsWith(QLatin1String("loop")), qPrintable(loop));
        QTemporaryDir sys;
        QVERIFY(QDir().mkpath(sys.filePath(loop)));
        QFile::copy(QStringLiteral("/sys/class/block/%1/dev").arg(loop), sys.filePath(loop + QStringLiteral("/dev")));
        QFile removable(sys.filePath(loop + QStringLiteral("/removable")));
        QVERIFY(removable.open(QIODevice::WriteOnly));
        removable.write("1\n");
        removable.close();
        DiskFacts::setSysClassBlock(sys.path());
        auto realSys = qScopeGuard([] { DiskFacts::setSysClassBlock(QString()); });
        QCOMPARE(CBackup::mountedDiscFolder(QStringLiteral("x/y")), drive.dir() + QStringLiteral("/x/y"));

        project.setSelectedArchiveIndex(0);
        ended = false;
        QVERIFY(project.restoreBegining(t.filePath(QStringLiteral("out")), {}, false) > 0);
        QTRY_VERIFY_WITH_TIMEOUT(ended, 60000);
        QVERIFY2(project.getIBackup()->lastStatusString().contains(QLatin1String("has succeeded")),
            qPrintable(project.getIBackup()->lastStatusString()));
        QCOMPARE(snapshot(t.filePath(QStringLiteral("out")) + src), snapshot(src));
        QCOMPARE(CBackup::m_nTarRunning, 0);

        // No disc in the drive: the path from the root, where nothing is found.
        QVERIFY(drive.unmount());
        QCOMPARE(CBackup::mountedDiscFolder(QStringLiteral("x")), QStringLiteral("/x"));
    }
};

int main(int argc, char** argv)
{
    isolateRootHome();
    int status = 0;
    {
        QCoreApplication app(argc, argv);
        TestArchivePlaces test;
        QTEST_SET_MAIN_SOURCE_PATH
        status = QTest::qExec(&test, argc, argv);
    }
    releaseRootHome();
    return status;
}

#include "tst_archiveplaces.moc"
