// kv-test: labels=unit,root timeout=600 fixtures=kv_loop_cleanup
#include "FakeToolDir.h"
#include "BtrfsTestImage.h"
#include "KvTest.h"
#include "LoopImage.h"
#include "TempTree.h"
#include "platform/BtrfsVolumeModel.h"
#include "platform/BtrfsVolumeRegistry.h"
#include "platform/MountInfo.h"
#include "tools/qv3_apfs_preparer/APFSPreparer.h"
#include "tools/qv3_apfs_preparer/IAPFSUtil.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>
#include <cerrno>
#include <sys/mount.h>

namespace {

QString preparerPath()
{
    return KvTest::appContentsDir() + QStringLiteral("/Resources/qv3_apfs_preparer");
}

struct RunResult
{
    int exitCode = -1;
    QByteArrayList lines;
};

RunResult runPreparer(const QStringList& arguments, const QString& tmpDir = QString())
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!tmpDir.isEmpty())
        env.insert(QStringLiteral("TMPDIR"), tmpDir);
    process.setProcessEnvironment(env);
    if (!tmpDir.isEmpty())
        process.setWorkingDirectory(tmpDir);
    process.start(preparerPath(), arguments);
    RunResult result;
    if (!process.waitForStarted(10000) || !process.waitForFinished(300000)) {
        process.kill();
        process.waitForFinished(5000);
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.lines = process.readAllStandardOutput().split('\n');
    if (!result.lines.isEmpty() && result.lines.last().isEmpty())
        result.lines.removeLast();
    const QByteArray err = process.readAllStandardError();
    if (!err.isEmpty())
        qWarning("preparer stderr: %s", err.constData());
    return result;
}

QByteArray mountTable()
{
    QFile f(QStringLiteral("/proc/self/mountinfo"));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

BtrfsVolumeRegistry::Entry entry(const QString& name, const QString& role, const QString& group = QString())
{
    return { name, role, group, QString() };
}

} // namespace

// The volume preparer: usage, refusals, the command runner, container cleaning, group making and
// the copy of the Preboot and Recovery folders between two loop-mounted btrfs file systems.
class TestApfsPreparer : public QObject
{
    Q_OBJECT

private:
    QByteArrayList m_lines;

    void captureOutput()
    {
        m_lines.clear();
        IAPFSUtil::setOutputSink([this](const QByteArray& line) { m_lines.append(line.chopped(1)); });
    }

private Q_SLOTS:
    void cleanup()
    {
        IAPFSUtil::setOutputSink(nullptr);
        IAPFSUtil::setMountCalls(nullptr, nullptr);
    }

    void usage_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("none") << QStringList();
        QTest::newRow("one") << QStringList { QStringLiteral("/") };
        QTest::newRow("four") << QStringList { "-", "/", "CleanVolume", "x" };
        QTest::newRow("unknown key") << QStringList { "-", "/", "Clean" };
    }
    void usage()
    {
        QFETCH(QStringList, arguments);
        const RunResult r = runPreparer(arguments);
        QCOMPARE(r.exitCode, 255);
        QCOMPARE(r.lines.size(), 7);
        QCOMPARE(r.lines.first(), QByteArray("v3ap_i: qv3_apfs_preparer, ver. 4.2"));
        QCOMPARE(r.lines.at(1),
            QByteArray(
                "v3ap_i:    Usage: <rc_APFS_volume> <Dest_APFS_volume> [SourceDoubleVolume/CleanVolume]"));
        QCOMPARE(r.lines.last(),
            QByteArray("v3ap_i:    CleanVolume (optional) - key for target container CLEANING "
                       "(<rc_APFS_volume> must be '-')"));
    }

    void groupNames_data()
    {
        QTest::addColumn<QString>("volume");
        QTest::addColumn<QString>("system");
        QTest::addColumn<QString>("data");
        QTest::newRow("plain") << "Mac"
                               << "Mac"
                               << "Mac - Data";
        QTest::newRow("data name") << "Mac - Data"
                                   << "Mac"
                                   << "Mac - Data";
        QTest::newRow("shell text") << "a\"b $(touch F) `c`"
                                    << "a\"b $(touch F) `c`"
                                    << "a\"b $(touch F) `c` - Data";
    }
    void groupNames()
    {
        QFETCH(QString, volume);
        QFETCH(QString, system);
        QFETCH(QString, data);
        const auto names = APFSPreparer::groupNames(volume);
        QCOMPARE(names.first, system);
        QCOMPARE(names.second, data);
    }

    // Output lines: one line per message, line ends in texts become blanks, empty texts vanish.
    void outputLines()
    {
        captureOutput();
        IAPFSUtil::print('d', QStringLiteral("two\nlines\r"));
        IAPFSUtil::print('e', QString());
        QCOMPARE(m_lines, QByteArrayList { "v3ap_d: two lines " });
    }

    void destinationNotBtrfs()
    {
        // Nothing is made or mounted: the run's temporary folder stays empty, the table has no
        // mount of its own (other tests may mount meanwhile, so only this run's places count).
        TempTree tree(QStringLiteral("apfs"));
        const RunResult r
            = runPreparer({ tree.path(), tree.path(), QStringLiteral("SourceDoubleVolume") }, tree.path());
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.lines, QByteArrayList { "v3ap_e: Destination is not APFS!" });
        QCOMPARE(tree.list(), std::vector<std::string>());
        QVERIFY(!mountTable().contains(QFile::encodeName(tree.path())));
    }

    // Any failing tool is a failed step, a silent one included; a full disk fails the copy.
    void commandRunner()
    {
        FakeToolDir tools;
        tools.addTool(QStringLiteral("silent"), QByteArray(), QByteArray(), 1);
        tools.addTool(QStringLiteral("talks"), QByteArray(), "it broke\n", 2);
        tools.addTool(QStringLiteral("fine"), "done\n");
        tools.addTool(
            QStringLiteral("full"), "copying\n", "rsync: write failed: No space left on device (28)\n", 0);
        captureOutput();
        QVERIFY(!IAPFSUtil::processCommandWithParams({ QStringLiteral("silent") }, QStringLiteral("Step A")));
        QString output;
        QVERIFY(!IAPFSUtil::processCommandWithParams(
            { QStringLiteral("talks") }, QStringLiteral("Step B"), &output));
        QCOMPARE(output, QStringLiteral("it broke"));
        QVERIFY(IAPFSUtil::processCommandWithParams(
            { QStringLiteral("fine"), QStringLiteral("-x") }, QStringLiteral("Step C"), &output));
        QCOMPARE(output, QStringLiteral("done\n"));
        QVERIFY(!IAPFSUtil::waitProcessCommandWithParams({ QStringLiteral("full") }, QStringLiteral("Copy")));
        QVERIFY(
            !IAPFSUtil::waitProcessCommandWithParams({ QStringLiteral("silent") }, QStringLiteral("Copy 2")));
        QVERIFY(
            IAPFSUtil::waitProcessCommandWithParams({ QStringLiteral("fine") }, QStringLiteral("Copy 3")));
        QCOMPARE(m_lines,
            QByteArrayList({ "v3ap_e: Step A", "v3ap_e: Step B: it broke", "v3ap_o: Step C",
                "v3ap_e: No space left on device", "v3ap_d: terminationStatus 0", "v3ap_e: Copy",
                "v3ap_d: terminationStatus 1", "v3ap_e: Copy 2", "v3ap_d: terminationStatus 0",
                "v3ap_o: Copy 3" }));
        QCOMPARE(
            tools.invocationStrings(QStringLiteral("fine")).first(), QStringList { QStringLiteral("-x") });
    }

    // A busy mount: the volume is unmounted and mounted once more.
    void busyMount()
    {
        int mounts = 0;
        QByteArray options;
        IAPFSUtil::setMountCalls(
            [&](const QByteArray&, const QByteArray&, const QByteArray& o) {
                options = o;
                if (++mounts == 1) {
                    errno = EBUSY;
                    return -1;
                }
                return 0;
            },
            [](const QByteArray&) { return 0; });
        captureOutput();
        QVERIFY(IAPFSUtil::mountVolume(QStringLiteral("loop99"), 258, QStringLiteral("/nowhere"),
            QStringLiteral("Source Preboot mount")));
        QCOMPARE(mounts, 2);
        QCOMPARE(options, QByteArray("subvolid=258"));
        QCOMPARE(m_lines,
            QByteArrayList({ "v3ap_e: Source Preboot mount: Device or resource busy",
                "v3ap_o: UnMount busy resource", "v3ap_o: Mount again" }));
    }

    // A volume held for a moment is unmounted on a later try; any other refusal ends at once.
    void busyUnmountIsTriedAgain_data()
    {
        QTest::addColumn<int>("refusal");
        QTest::addColumn<int>("refusals");
        QTest::addColumn<bool>("unmounted");
        QTest::addColumn<int>("calls");
        QTest::newRow("busy twice") << EBUSY << 2 << true << 3;
        QTest::newRow("not a mount") << EINVAL << 1 << false << 1;
    }
    void busyUnmountIsTriedAgain()
    {
        QFETCH(int, refusal);
        QFETCH(int, refusals);
        QFETCH(bool, unmounted);
        QFETCH(int, calls);
        int made = 0;
        IAPFSUtil::setMountCalls(nullptr, [&](const QByteArray&) {
            if (++made <= refusals) {
                errno = refusal;
                return -1;
            }
            return 0;
        });
        captureOutput();
        QCOMPARE(IAPFSUtil::unmountFolder(QStringLiteral("/nowhere"), QStringLiteral("Unmount")), unmounted);
        QCOMPARE(made, calls);
    }

    void sourceNotBtrfs()
    {
        KV_REQUIRE_ROOT();
        LoopImage ext4;
        QVERIFY2(ext4.make(LoopImage::FsType::Ext4), qPrintable(ext4.errorString()));
        BtrfsTestImage destination;
        QVERIFY(destination.make());
        const RunResult r = runPreparer({ ext4.mountPoint(), destination.top() });
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.lines,
            QByteArrayList({ "v3ap_e: Source is not APFS!",
                "v3ap_p: APFS Accessory volumes preparing: Not completed" }));
    }

    // Cleaning deletes the Data, Preboot, Recovery and VM volumes and keeps the rest; a
    // subvolume that is not registered is never touched.
    void cleanVolume()
    {
        KV_REQUIRE_ROOT();
        // Trees first: they go last, once the images have released their mounts inside them.
        TempTree tmp(QStringLiteral("apfs-tmp"));
        BtrfsTestImage image;
        QVERIFY(image.make());
        RunResult r
            = runPreparer({ QStringLiteral("-"), image.top(), QStringLiteral("CleanVolume") }, tmp.path());
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.lines.contains("v3ap_d: Container is enpty"));

        BtrfsVolumeRegistry registry;
        const QStringList roles { "System", "Data", "Preboot", "Recovery", "VM", "" };
        QMap<QString, quint64> ids;
        for (const QString& role : roles) {
            const QString name = role.isEmpty() ? QStringLiteral("Plain") : role;
            ids[name] = image.create(name);
            QVERIFY(ids[name]);
            registry.setEntry(ids[name], entry(name, role, role == "System" || role == "Data" ? "G1" : ""));
        }
        QVERIFY(image.create(QStringLiteral("distro")));
        QVERIFY(registry.save(image.top()));
        const QString dataMount = tmp.filePath(QStringLiteral("data mount"));
        QVERIFY(image.mountSubvolume(ids["Data"], dataMount));

        r = runPreparer({ QStringLiteral("-"), image.top(), QStringLiteral("CleanVolume") }, tmp.path());
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.lines.contains("v3ap_p: APFS container cleaning..."));
        QVERIFY(r.lines.contains(
            "v3ap_d: Found: " + image.device().toUtf8() + 's' + QByteArray::number(ids["VM"]) + " (VM)"));
        QVERIFY(r.lines.contains("v3ap_d: Found: " + image.device().toUtf8() + 's'
            + QByteArray::number(ids["Plain"]) + " (No specific role)"));
        for (const QByteArray& line : std::as_const(r.lines))
            QVERIFY2(!line.startsWith("v3ap_e:"), line.constData());
        QCOMPARE(registry.load(image.top()), BtrfsVolumeRegistry::Status::Ok);
        QCOMPARE(registry.entries().keys(), QList<quint64>({ ids["System"], ids["Plain"] }));
        for (const char* gone : { "Data", "Preboot", "Recovery", "VM" })
            QVERIFY2(!QFileInfo::exists(image.top() + QLatin1Char('/') + QLatin1String(gone)), gone);
        for (const char* kept : { "System", "Plain", "distro" })
            QVERIFY2(
                BtrfsVolumeModel::isSubvolume(image.top() + QLatin1Char('/') + QLatin1String(kept)), kept);
        QVERIFY(!image.mounts().contains(dataMount));
        QCOMPARE(QDir(tmp.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
            QStringList { "data mount" });
    }

    // Group names come from the volume's name literally, whatever characters it holds; a
    // destination that cannot be deleted gets no group and stays mounted.
    void groupFromOneVolume_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("system");
        QTest::addColumn<QString>("data");
        QTest::newRow("plain") << "Mac"
                               << "Mac"
                               << "Mac - Data";
        QTest::newRow("data") << "Mac - Data"
                              << "Mac"
                              << "Mac - Data";
        QTest::newRow("shell text") << "a\"b $(touch F) `touch G`\nline"
                                    << "a\"b $(touch F) `touch G`\nline"
                                    << "a\"b $(touch F) `touch G`\nline - Data";
    }
    void groupFromOneVolume()
    {
        KV_REQUIRE_ROOT();
        QFETCH(QString, name);
        QFETCH(QString, system);
        QFETCH(QString, data);
        // Trees first: they go last, once the images have released their mounts inside them.
        TempTree tmp(QStringLiteral("apfs-tmp"));
        BtrfsTestImage image;
        QVERIFY(image.make());
        const quint64 id = image.create(QStringLiteral("vol"));
        BtrfsVolumeRegistry registry;
        registry.setEntry(id, entry(name, QString()));
        QVERIFY(registry.save(image.top()));
        const QString mountPoint = tmp.filePath(QStringLiteral("dst"));
        QVERIFY(image.mountSubvolume(id, mountPoint));

        const RunResult r = runPreparer(
            { QStringLiteral("-"), mountPoint, QStringLiteral("SourceDoubleVolume") }, tmp.path());
        QVERIFY(r.lines.contains("v3ap_p: APFS Volume Group preparing: Succeeded."));
        QVERIFY(!QFileInfo::exists(tmp.filePath(QStringLiteral("F"))));
        QVERIFY(!QFileInfo::exists(tmp.filePath(QStringLiteral("G"))));
        QCOMPARE(registry.load(image.top()), BtrfsVolumeRegistry::Status::Ok);
        QCOMPARE(registry.entries().size(), 2);
        const BtrfsVolumeRegistry::Entry a = registry.entries().first();
        const BtrfsVolumeRegistry::Entry b = registry.entries().last();
        QCOMPARE(a.role, QStringLiteral("Data"));
        QCOMPARE(a.name, data);
        QCOMPARE(b.role, QStringLiteral("System"));
        QCOMPARE(b.name, system);
        QVERIFY(!a.groupUUID.isEmpty() && a.groupUUID == b.groupUUID);
        // The result lines stay JSON whatever the names hold, and name the mounted volumes.
        const QMap<QString, quint64> mounts = image.mounts();
        for (const char* key : { "DestSystemVolume", "DestDataVolume" }) {
            QByteArray json;
            for (const QByteArray& line : std::as_const(r.lines)) {
                if (line.startsWith(QByteArray(QByteArray("v3ap_i: ::{\"") + key + "\" : {\"name\" : ")))
                    json = line.mid(10);
            }
            QJsonParseError error;
            const QJsonObject object = QJsonDocument::fromJson(json, &error).object().value(key).toObject();
            QVERIFY2(error.error == QJsonParseError::NoError, json.constData());
            const quint64 id = mounts.value(object.value("mountPoint").toString());
            QVERIFY2(id != 0, json.constData());
            QCOMPARE(
                object.value("name").toString(), image.device() + QLatin1Char('s') + QString::number(id));
        }
        // No accessory volumes in that container: the Recovery volume was not reached.
        QCOMPARE(r.exitCode, 1);
    }

    void groupNotMade()
    {
        KV_REQUIRE_ROOT();
        // Trees first: they go last, once the images have released their mounts inside them.
        TempTree tmp(QStringLiteral("apfs-tmp"));
        BtrfsTestImage image;
        QVERIFY(image.make());
        // The top level itself never becomes a group.
        RunResult r = runPreparer(
            { QStringLiteral("-"), image.top(), QStringLiteral("SourceDoubleVolume") }, tmp.path());
        QCOMPARE(r.exitCode, 2);
        QCOMPARE(r.lines.last(), QByteArray("v3ap_p: APFS Volume Group preparing: Not completed"));

        // A destination that cannot be deleted (it holds a subvolume of its own): nothing made.
        const quint64 id = image.create(QStringLiteral("vol"));
        QVERIFY(image.create(QStringLiteral("vol/inner")));
        BtrfsVolumeRegistry registry;
        registry.setEntry(id, entry(QStringLiteral("Mac"), QString()));
        QVERIFY(registry.save(image.top()));
        const QString mountPoint = tmp.filePath(QStringLiteral("dst"));
        QVERIFY(image.mountSubvolume(id, mountPoint));
        r = runPreparer(
            { QStringLiteral("-"), mountPoint, QStringLiteral("SourceDoubleVolume") }, tmp.path());
        QCOMPARE(r.exitCode, 2);
        QVERIFY(r.lines.contains("v3ap_e: Dest group prepare: can't delete " + image.device().toUtf8() + 's'
            + QByteArray::number(id)));
        QCOMPARE(r.lines.last(), QByteArray("v3ap_p: APFS Volume Group preparing: Not completed"));
        QCOMPARE(registry.load(image.top()), BtrfsVolumeRegistry::Status::Ok);
        QCOMPARE(registry.entries().keys(), QList<quint64> { id });
        QCOMPARE(image.mounts().value(mountPoint), id);
        QCOMPARE(BtrfsVolumeModel::listSubvolumes(image.top()).size(), 2);
    }

    // End to end: a System/Data group is made on the destination, and the source's Preboot and
    // Recovery folders are copied into new destination volumes under the new System's UUID.
    void sourceDoubleVolume()
    {
        KV_REQUIRE_ROOT();
        TempTree tmp(QStringLiteral("apfs-tmp"));
        TempTree work(QStringLiteral("apfs-work"));
        BtrfsTestImage source;
        BtrfsTestImage destination;
        QVERIFY(source.make());
        QVERIFY(destination.make());

        const quint64 sys = source.create(QStringLiteral("sys"));
        const quint64 dat = source.create(QStringLiteral("data"));
        const quint64 pre = source.create(QStringLiteral("Preboot"));
        const quint64 rec = source.create(QStringLiteral("Recovery"));
        QVERIFY(sys && dat && pre && rec);
        const QString sysUuid = source.uuid(sys);
        QVERIFY(!sysUuid.isEmpty());
        for (const char* v : { "Preboot", "Recovery" }) {
            QVERIFY(QDir().mkpath(source.top() + "/" + v + "/" + sysUuid + "/boot"));
            QFile f(source.top() + "/" + v + "/" + sysUuid + "/boot/" + v + ".txt");
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(v) + " content\n");
        }
        BtrfsVolumeRegistry sourceRegistry;
        sourceRegistry.setEntry(
            sys, entry(QStringLiteral("Mac"), QStringLiteral("System"), QStringLiteral("G")));
        sourceRegistry.setEntry(
            dat, entry(QStringLiteral("Mac - Data"), QStringLiteral("Data"), QStringLiteral("G")));
        sourceRegistry.setEntry(pre, entry(QStringLiteral("Preboot"), QStringLiteral("Preboot")));
        sourceRegistry.setEntry(rec, entry(QStringLiteral("Recovery"), QStringLiteral("Recovery")));
        QVERIFY(sourceRegistry.save(source.top()));

        const quint64 vol = destination.create(QStringLiteral("clone"));
        BtrfsVolumeRegistry destinationRegistry;
        destinationRegistry.setEntry(vol, entry(QStringLiteral("Clone"), QString()));
        QVERIFY(destinationRegistry.save(destination.top()));

        const QString sourceMount = tmp.filePath(QStringLiteral("Source Mac"));
        const QString destinationMount = tmp.filePath(QStringLiteral("Clone"));
        QVERIFY(source.mountSubvolume(sys, sourceMount));
        QVERIFY(destination.mountSubvolume(vol, destinationMount));
        // The preparer mounts the top levels itself when nobody has them mounted.
        QVERIFY(source.unmountTop());
        QVERIFY(destination.unmountTop());

        const RunResult r = runPreparer(
            { sourceMount, destinationMount, QStringLiteral("SourceDoubleVolume") }, work.path());
        for (const QByteArray& line : std::as_const(r.lines))
            QVERIFY2(!line.startsWith("v3ap_e:"), line.constData());
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.lines.last(), QByteArray("v3ap_p: APFS Accessory volumes preparing: Succeeded."));

        // Both JSON lines parse and name mounted volumes.
        QMap<QString, quint64> mounts = destination.mounts();
        QMap<QString, QString> jsonMounts;
        for (const char* key : { "DestSystemVolume", "DestDataVolume" }) {
            const QByteArray prefix = "v3ap_i: ::";
            QByteArray json;
            for (const QByteArray& line : std::as_const(r.lines)) {
                if (line.startsWith(prefix) && line.contains(key))
                    json = line.mid(prefix.size());
            }
            QJsonParseError error;
            const QJsonObject object = QJsonDocument::fromJson(json, &error).object().value(key).toObject();
            QVERIFY2(error.error == QJsonParseError::NoError, json.constData());
            const QString name = object.value("name").toString();
            const QString mountPoint = object.value("mountPoint").toString();
            QVERIFY2(mounts.contains(mountPoint), qPrintable(mountPoint));
            QCOMPARE(
                destination.device() + QLatin1Char('s') + QString::number(mounts.value(mountPoint)), name);
            jsonMounts.insert(QLatin1String(key), mountPoint);
        }
        QCOMPARE(jsonMounts.value("DestSystemVolume"), destinationMount);

        // The registry holds the group, Preboot and Recovery; the folders were copied under
        // the new System volume's UUID.
        QVERIFY(destination.mountSubvolume(5, tmp.filePath(QStringLiteral("dst-top"))));
        const QString top = tmp.filePath(QStringLiteral("dst-top"));
        QCOMPARE(destinationRegistry.load(top), BtrfsVolumeRegistry::Status::Ok);
        QStringList roles;
        quint64 systemId = 0;
        for (auto it = destinationRegistry.entries().cbegin(); it != destinationRegistry.entries().cend();
             ++it) {
            roles << it->role;
            if (it->role == QLatin1String("System"))
                systemId = it.key();
        }
        QCOMPARE(roles, QStringList({ "Data", "System", "Preboot", "Recovery" }));
        const QString newUuid = BtrfsVolumeModel::subvolumeInfo(top, systemId)->uuid;
        for (const char* v : { "Preboot", "Recovery" }) {
            QFile f(top + "/" + v + "/" + newUuid + "/boot/" + v + ".txt");
            QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(f.fileName()));
            QCOMPARE(f.readAll(), QByteArray(v) + " content\n");
        }
        // No work folder and no work mount is left behind.
        QCOMPARE(QDir(work.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
        for (const MountEntry& m : MountInfo::read())
            QVERIFY2(!m.mountPoint.startsWith(work.path()), qPrintable(m.mountPoint));
        QCOMPARE(source.mounts().keys(), QStringList { sourceMount });
    }
};

QTEST_GUILESS_MAIN(TestApfsPreparer)
#include "tst_apfspreparer.moc"
