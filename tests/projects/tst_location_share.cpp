// kv-test: labels=root timeout=300 fixtures=kv_loop_cleanup lock=devfuse
#include "KvTest.h"
#include "LoopImage.h"
#include "SshServer.h"
#include "TempTree.h"
#include "platform/MountInfo.h"
#include "platform/NameCodec.h"
#include "platform/Subprocess.h"
#include "projects/ILocation.h"
#include "utilities/CVolumeMounter.h"
#include "utilities/CommonFunctions.h"
#include "utilities/IVolumeBase.h"

#include <QtTest>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString sftpURL(int port, const QString& path)
{
    QUrl url;
    url.setScheme(QStringLiteral("sftp"));
    url.setUserName(QStringLiteral("root"));
    url.setHost(QStringLiteral("127.0.0.1"));
    url.setPort(port);
    url.setPath(path);
    return url.toString(QUrl::FullyEncoded);
}

std::optional<MountEntry> mountAt(const QString& path)
{
    for (const MountEntry& m : MountInfo::read()) {
        if (m.mountPoint == path)
            return m;
    }
    return std::nullopt;
}

bool chownPath(const QString& path, uid_t uid, gid_t gid)
{
    return ::chown(NameCodec::encode(path).constData(), uid, gid) == 0;
}

constexpr uid_t kNobody = 65534;

} // namespace

// Network places on a real sshfs share served by an ssh server on 127.0.0.1: mounted through
// the place, found again by its stored form, unmounted; and the share mounted by a user who is
// not root, as on a desktop where /dev/fuse is open to everyone.
class TestLocationShare : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { CVolumeMounter::setExtraSshfsOptions({}); }

    void placeOnShare()
    {
        KV_REQUIRE_ROOT();
        SshServer server;
        QVERIFY2(server.start(), qPrintable(server.errorString()));
        CVolumeMounter::setExtraSshfsOptions(server.clientOptions());
        TempTree tree(QStringLiteral("share"));
        QVERIFY(tree.writeFile(std::string("Share One/Backups/file.txt"), QByteArray("hello")));
        const QString url = sftpURL(server.port(), tree.filePath(QStringLiteral("Share One")));

        ILocation l;
        l.setDeviceType(ILocation::DeviceNetworkVolume);
        l.setURLStr(url);
        l.setPathFromMountPoint(QStringLiteral("/Backups"));
        l.setAutomount(true);
        l.setActive(false);
        l.setFlags(ILocation::FlagUnmountedByProgram);
        QCOMPARE(l.getAccessWithAdmin(false, true, false), 1); // not mounted, may be mounted

        // Mounted through the place: flags 16 and 2 set, 8 cleared, the mount path filled.
        QVERIFY(l.prepare());
        auto unmountLeft = qScopeGuard([&] {
            if (l.getMountPoint().isEmpty())
                return;
            if (mountAt(l.getMountPoint()))
                LoopImage::runTool(QStringLiteral("fusermount3"), { "-u", l.getMountPoint() });
            QDir().rmdir(l.getMountPoint());
        });
        QCOMPARE(l.getFlags(), qint64(ILocation::FlagMountedByProgram | ILocation::FlagUnmountAfterRun));
        QVERIFY(l.isActive());
        const QString mp = l.getMountPoint();
        QVERIFY2(mp.startsWith(QLatin1String("/media/root/Share One")), qPrintable(mp));
        const std::optional<MountEntry> entry = mountAt(mp);
        QVERIFY(entry && entry->fsType == QLatin1String("fuse.sshfs"));

        // The volume table sees the share; the place finds its record and rates it read and write
        // (sshfs shows no hard links).
        QTRY_VERIFY_WITH_TIMEOUT(l.volumeItem() != nullptr, 5000);
        QCOMPARE(l.getFullPath(), mp + QStringLiteral("/Backups"));
        QVERIFY(QFileInfo::exists(l.getFullPath() + QStringLiteral("/file.txt")));
        QCOMPARE(l.volumeItem()->strMountPoint(), mp);
        QCOMPARE(l.getAccessWithAdmin(false, true, true), int(ILocation::AccessReadWrite));

        // Found again from its stored form, at the same mount.
        std::unique_ptr<ILocation> again(ILocation::locationFromDict(ILocation::dictFromLocation(l)));
        QVERIFY(again->isActiveForce());
        QCOMPARE(again->getFullPath(), mp + QStringLiteral("/Backups"));
        QVERIFY(again->isEqualToLocation(l));

        // Unmounted through the place: 2 and 16 cleared, 8 set, inactive, the record gone.
        QVERIFY(CVolumeMounter::unmountLocation(&l, 0));
        QCOMPARE(l.getFlags(), qint64(ILocation::FlagUnmountedByProgram));
        QVERIFY(!l.isActive());
        QVERIFY(!mountAt(mp));
        QTRY_VERIFY_WITH_TIMEOUT(l.volumeItem() == nullptr, 5000);
        QCOMPARE(l.getAccessWithAdmin(false, true, false), 1);
        l.setAutomount(false);
        QCOMPARE(l.getAccessWithAdmin(false, false, false), 0);
    }

    // The user-side sshfs mount: a user who is not root mounts and unmounts the share with
    // sshfs and fusermount3 once /dev/fuse is open to all (the mode is restored afterwards).
    void userSideMount()
    {
        KV_REQUIRE_ROOT();
        SshServer server;
        QVERIFY2(server.start(), qPrintable(server.errorString()));
        TempTree tree(QStringLiteral("share"));
        QVERIFY(tree.writeFile(std::string("Share Two/file.txt"), QByteArray("from the server")));

        // The user's home holds a copy of the client key that only the user reads.
        TempTree home(QStringLiteral("home"));
        QVERIFY(::chmod(home.pathStd().c_str(), 0700) == 0 && chownPath(home.path(), kNobody, kNobody));
        const QString key = home.filePath(std::string("id_test"));
        QVERIFY(QFile::copy(server.clientKey(), key));
        QVERIFY(::chmod(NameCodec::encode(key).constData(), 0600) == 0 && chownPath(key, kNobody, kNobody));

        // The user's media folder, as a desktop session has it; put back as it was.
        const QString media = QStringLiteral("/media/nobody");
        struct stat before = {};
        const bool mediaExisted = ::stat("/media/nobody", &before) == 0;
        QVERIFY(mediaExisted || QDir().mkpath(media));
        QVERIFY(chownPath(media, kNobody, kNobody));
        auto restoreMedia = qScopeGuard([&] {
            if (mediaExisted)
                ::chown("/media/nobody", before.st_uid, before.st_gid);
            else
                QDir().rmdir(media);
        });

        struct stat fuse = {};
        QVERIFY(::stat("/dev/fuse", &fuse) == 0);
        QVERIFY(::chmod("/dev/fuse", 0666) == 0);
        auto restoreFuse = qScopeGuard([&] { ::chmod("/dev/fuse", fuse.st_mode & 07777); });

        TempTree bin(QStringLiteral("bin"));
        QVERIFY(::chmod(bin.pathStd().c_str(), 0755) == 0);
        const QString copy = bin.filePath(std::string("tst_location_share"));
        QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), copy));
        QVERIFY(::chmod(NameCodec::encode(copy).constData(), 0755) == 0);
        Subprocess::Options o;
        o.program = QStringLiteral("setpriv");
        o.arguments = QStringList { "--reuid=65534", "--regid=65534", "--clear-groups", copy, "childMount" };
        o.environment.insert(
            "KV_CHILD_SHARE", sftpURL(server.port(), tree.filePath(QStringLiteral("Share Two"))));
        o.environment.insert("KV_CHILD_KEY", key);
        o.environment.insert("HOME", home.path());
        o.workingDirectory = QStringLiteral("/");
        const Subprocess::Result r = Subprocess::run(o, 120000);
        QVERIFY2(r.succeeded(), QByteArray(r.out + r.err).constData());
        QVERIFY(r.out.contains("PASS   : TestLocationShare::childMount()"));
        // Nothing stays mounted below the user's media folder.
        for (const MountEntry& m : MountInfo::read())
            QVERIFY2(!m.mountPoint.startsWith(media + QLatin1Char('/')), qPrintable(m.mountPoint));
        QVERIFY(QDir(media).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
    }
    void childMount()
    {
        const QString url = QString::fromUtf8(qgetenv("KV_CHILD_SHARE"));
        if (url.isEmpty())
            QSKIP("runs as the unprivileged child of userSideMount");
        QCOMPARE(::geteuid(), kNobody);
        CVolumeMounter::setExtraSshfsOptions(
            { QStringLiteral("StrictHostKeyChecking=no"), QStringLiteral("UserKnownHostsFile=/dev/null"),
                QStringLiteral("IdentityFile=") + QString::fromUtf8(qgetenv("KV_CHILD_KEY")),
                QStringLiteral("IdentitiesOnly=yes"), QStringLiteral("LogLevel=ERROR") });
        VMVolumeInfoRec rec;
        rec.URL = url;
        QVERIFY2(CVolumeMounter::mountVolume(rec),
            qPrintable(QVFuncStatus(QStringLiteral("CVolumeMounter::mountVolume"))));
        const QString mp = rec.mountPoint;
        QVERIFY2(mp.startsWith(QLatin1String("/media/nobody/Share Two")), qPrintable(mp));
        const std::optional<MountEntry> entry = mountAt(mp);
        QVERIFY(entry && entry->fsType == QLatin1String("fuse.sshfs"));
        QFile f(mp + QStringLiteral("/file.txt"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("from the server"));
        f.close();
        VMVolumeInfoRec again;
        again.URL = url;
        QVERIFY(CVolumeMounter::isVolumeMounted(again));
        QCOMPARE(again.mountPoint, mp);
        QVERIFY(CVolumeMounter::unmountVolume(mp)); // fusermount3 -u, as the user
        QVERIFY(!mountAt(mp));
        QVERIFY(QDir().rmdir(mp));
    }
};

QTEST_MAIN(TestLocationShare)
#include "tst_location_share.moc"
