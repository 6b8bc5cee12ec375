// kv-test: labels=root timeout=300 fixtures=kv_loop_cleanup lock=devfuse
#include "KvTest.h"
#include "SshServer.h"
#include "TempTree.h"
#include "platform/DiskFacts.h"
#include "utilities/CVolumeMounter.h"
#include "utilities/CommonFunctions.h"
#include "utilities/IDiskUtil.h"
#include "utilities/IVolumeLocation.h"
#include "utilities/VolumeBaseItem.h"

#include <QScopeGuard>
#include <QTemporaryDir>
#include <QUrl>
#include <fcntl.h>
#include <unistd.h>

// A location as the mounter sees it.
class FakeLocation : public IVolumeLocation
{
public:
    QString url, mount;
    bool active = false;
    int type = 6;
    qint64 flags = 0;
    bool isEmpty() const override { return false; }
    QString volumeUUID() const override { return QString(); }
    QString groupVolumeUUID() const override { return QString(); }
    int deviceType() const override { return type; }
    bool isNetwork() const override { return type == 4 || type == 6; }
    QString URLStr() const override { return url; }
    QString mountPoint() const override { return mount; }
    bool isActive() const override { return active; }
    void setActive(bool a) override { active = a; }
    void setupFromVBI(const VolumeBaseItem&) override { }
    qint64 getFlags() const override { return flags; }
    void setFlags(qint64 f) override { flags = f; }
};

class TestVolumeMounter : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void namesAndPaths();
    void storedRecord();
    void refusedURLs_data();
    void refusedURLs();
    void sshfsShare();
};

void TestVolumeMounter::namesAndPaths()
{
    TempTree sys(QStringLiteral("sysblock"));
    for (const char* dev : { "disk3", "loop0", "sds", "sds1" })
        QVERIFY(sys.writeFile(std::string(dev) + "/dev", QByteArray("7:0\n")));
    DiskFacts::setSysClassBlock(sys.path());
    QCOMPARE(containerForVolume(QStringLiteral("/dev/disk3s5")), QStringLiteral("disk3"));
    QCOMPARE(containerForVolume(QStringLiteral("disk3s5")), QStringLiteral("disk3"));
    QCOMPARE(containerForVolume(QStringLiteral("loop0s256")), QStringLiteral("loop0"));
    QVERIFY(containerForVolume(QStringLiteral("disk3")).isNull());
    QVERIFY(containerForVolume(QStringLiteral("sds1")).isNull());
    DiskFacts::setSysClassBlock(QString());

    VMSeparatedPath sep;
    QVERIFY(CVolumeMounter::separateLocalPath(QStringLiteral("/usr/share//doc/"), &sep));
    QCOMPARE(sep.mountPoint, mountPointForPath(QStringLiteral("/usr/share/doc")));
    QCOMPARE(sep.displayName, QStringLiteral("doc"));
    if (sep.mountPoint == QLatin1String("/"))
        QCOMPARE(sep.pathBelow, QStringLiteral("usr/share/doc"));
    QString ref;
    QCOMPARE(CVolumeMounter::PathToVRefNum(QStringLiteral("/usr"), &ref), 0);
    QCOMPARE(ref, mountPointForPath(QStringLiteral("/usr")));
    QVERIFY(!CVolumeMounter::currentHost().isEmpty());
    QCOMPARE(CVolumeMounter::shareURLFromSource(QStringLiteral("cifs"), QStringLiteral("//h/s")),
        QStringLiteral("smb://h/s"));
    QCOMPARE(CVolumeMounter::shareURLFromSource(QStringLiteral("nfs"), QStringLiteral("h:/p")),
        QStringLiteral("nfs://h/p"));
    QCOMPARE(CVolumeMounter::shareURLFromSource(QStringLiteral("fuse.sshfs"), QStringLiteral("u@h:/p q")),
        QStringLiteral("sftp://u@h/p%20q"));
    // A file URL is never mounted.
    VMVolumeInfoRec rec;
    rec.URL = QStringLiteral("file:///nonexistent/volume/");
    QVERIFY(!CVolumeMounter::mountVolume(rec));
}

void TestVolumeMounter::storedRecord()
{
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    VMVolumeInfoRec rec;
    rec.displayName = QStringLiteral("Share One");
    rec.mountPoint = QStringLiteral("/media/u/Share One");
    rec.URL = QStringLiteral("sftp://u@h/Share%20One");
    rec.totalMB = 1234;
    rec.freeMB = 56;
    rec.writable = true;
    rec.local = true;
    QVERIFY(
        CVolumeMounter::saveVolumeInfo(QStringLiteral("com.brisoltica.test"), QStringLiteral("Vol"), rec));
    VMVolumeInfoRec back;
    QVERIFY(
        CVolumeMounter::loadVolumeInfo(QStringLiteral("com.brisoltica.test"), QStringLiteral("Vol"), back));
    QCOMPARE(back.displayName, rec.displayName);
    QCOMPARE(back.URL, rec.URL);
    QCOMPARE(back.totalMB, 1234);
    QVERIFY(back.writable && back.local && !back.removable);
    // A wrongly typed key leaves the field alone.
    QFile f(config.filePath(QStringLiteral("com.brisoltica.test.plist")));
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("<plist version=\"1.0\"><dict><key>Vol</key><dict><key>TotalMB</key><string>9</string>"
            "<key>DisplayName</key><integer>3</integer><key>FreeMB</key><integer>7</integer></dict></dict></"
            "plist>");
    f.close();
    VMVolumeInfoRec partial;
    partial.totalMB = 5;
    partial.displayName = QStringLiteral("kept");
    QVERIFY(CVolumeMounter::loadVolumeInfo(
        QStringLiteral("com.brisoltica.test"), QStringLiteral("Vol"), partial));
    QCOMPARE(partial.totalMB, 5);
    QCOMPARE(partial.displayName, QStringLiteral("kept"));
    QCOMPARE(partial.freeMB, 7);
    QVERIFY(!CVolumeMounter::loadVolumeInfo(QString(), QStringLiteral("Vol"), partial));
    qunsetenv("XDG_CONFIG_HOME");
}

void TestVolumeMounter::refusedURLs_data()
{
    QTest::addColumn<QString>("url");
    QTest::newRow("host as option") << QStringLiteral("sftp://-oProxyCommand=touch%20x/share");
    QTest::newRow("user as option") << QStringLiteral("sftp://-oProxyCommand=x@host/share");
    QTest::newRow("comma adds options") << QStringLiteral("sftp://u@host/a,allow_other");
    QTest::newRow("control character") << QStringLiteral("sftp://u@host/a%0Ab");
    QTest::newRow("afp") << QStringLiteral("afp://host/share");
}

void TestVolumeMounter::refusedURLs()
{
    QFETCH(QString, url);
    VMVolumeInfoRec rec;
    rec.URL = url;
    QVERIFY(!CVolumeMounter::mountVolume(rec));
    QVERIFY(
        QVFuncStatus(QStringLiteral("CVolumeMounter::mountVolume")).contains(QLatin1String("mount error")));
    QVERIFY(!QFileInfo::exists(QStringLiteral("x")));
}

void TestVolumeMounter::sshfsShare()
{
    KV_REQUIRE_ROOT();
    SshServer server;
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    CVolumeMounter::setExtraSshfsOptions(server.clientOptions());
    TempTree tree(QStringLiteral("share"));
    QVERIFY(tree.writeFile(std::string("Share One/file.txt"), QByteArray("hello")));
    const QString remote = tree.filePath(QStringLiteral("Share One"));

    FakeLocation loc;
    QUrl url;
    url.setScheme(QStringLiteral("sftp"));
    url.setUserName(QStringLiteral("root"));
    url.setHost(QStringLiteral("127.0.0.1"));
    url.setPort(server.port());
    url.setPath(remote);
    loc.url = url.toString(QUrl::FullyEncoded);
    loc.flags = 8;
    QVERIFY2(CVolumeMounter::mountLocation(&loc, 0),
        qPrintable(QVFuncStatus(QStringLiteral("CVolumeMounter::mountLocation"))));
    QCOMPARE(loc.flags, qint64(16));
    VMVolumeInfoRec rec;
    rec.URL = loc.url;
    QVERIFY2(CVolumeMounter::isVolumeMounted(rec),
        qPrintable(IDiskUtil::mountPointList(0x13).join("|") + " " + loc.url));
    // A failed check below must not leave the share mounted.
    auto unmountLeft = qScopeGuard([mp = rec.mountPoint] {
        if (IDiskUtil::mountPointList(0).contains(mp))
            CVolumeMounter::unmountVolume(mp);
        QDir().rmdir(mp);
    });
    QVERIFY(rec.mountPoint.startsWith(QLatin1String("/media/")));
    // "Share One", or "Share One N" while another run holds that name
    QVERIFY2(QFileInfo(rec.mountPoint).fileName().startsWith(QLatin1String("Share One")),
        qPrintable(rec.mountPoint));
    QFile shared(rec.mountPoint + QStringLiteral("/file.txt"));
    QVERIFY(shared.open(QIODevice::ReadOnly));
    QCOMPARE(shared.readAll(), QByteArray("hello"));
    shared.close();
    // The same share in other letter case counts as mounted.
    VMVolumeInfoRec other;
    QUrl upper = url;
    upper.setPath(remote.toUpper());
    other.URL = upper.toString(QUrl::FullyEncoded);
    QVERIFY(CVolumeMounter::isVolumeMounted(other));

    // A file held open keeps the share busy: the unmount says NO and the flags come back.
    loc.active = true;
    loc.mount = rec.mountPoint;
    loc.flags = 2 | 16;
    const int fd
        = ::open(QFile::encodeName(rec.mountPoint + QStringLiteral("/file.txt")).constData(), O_RDONLY);
    QVERIFY(fd >= 0);
    QVERIFY(!CVolumeMounter::unmountLocation(&loc, 0));
    QCOMPARE(loc.flags, qint64(2 | 16));
    ::close(fd);
    QVERIFY(CVolumeMounter::unmountLocation(&loc, 0));
    QCOMPARE(loc.flags, qint64(8));
    QVERIFY(!loc.active);
    QVERIFY(!CVolumeMounter::isVolumeMounted(rec));
    QDir().rmdir(rec.mountPoint);

    // Nothing listens on the wrong port: NO and the mount-error text.
    FakeLocation wrong;
    QUrl bad = url;
    bad.setPort(1);
    wrong.url = bad.toString(QUrl::FullyEncoded);
    QVERIFY(!CVolumeMounter::mountLocation(&wrong, 0));
    const QString status = QVFuncStatus(QStringLiteral("CVolumeMounter::mountLocation"));
    QVERIFY2(status.startsWith(QStringLiteral("Host \"127.0.0.1\" path \"%1\" mount error: ").arg(remote)),
        qPrintable(status));
    QVERIFY(!status.endsWith(QLatin1String("error: -1\n")));
    CVolumeMounter::setExtraSshfsOptions({});
}

QTEST_GUILESS_MAIN(TestVolumeMounter)
#include "tst_volumemounter.moc"
