// kv-test: labels=root timeout=600 fixtures=kv_loop_cleanup
#include "BtrfsTestImage.h"
#include "KvTest.h"
#include "TempTree.h"
#include "platform/BtrfsVolumeModel.h"
#include "projects/ILocation.h"
#include "platform/BtrfsVolumeRegistry.h"
#include "platform/MountInfo.h"
#include "platform/NameCodec.h"
#include "platform/Subprocess.h"
#include "platform/UuidText.h"
#include "sync/ISynchron.h"
#include "sync/ISynchronContainer.h"
#include "utilities/IVolumeBase.h"
#include "FakeSyncRunController.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <sys/mount.h>
#include <unistd.h>

// The engine's volume-group clones, run as root on loop-mounted btrfs images: a clone by copy
// through the volume preparer and rsync, a clone by send and receive (twice in a row), and the
// refusals that must leave the destination volume as it was.

namespace {

QString enginePath()
{
    return KvTest::appContentsDir() + QStringLiteral("/Resources/qv_proc");
}

BtrfsVolumeRegistry::Entry entry(const QString& name, const QString& role, const QString& group = QString())
{
    return { name, role, group, QString() };
}

// "type path size content-hash" of every entry below folder (nested volumes' placeholders and
// the snapshot folder left out), to compare two trees.
QStringList treeOf(const QString& folder)
{
    Subprocess::Options o;
    o.program = QStringLiteral("sh");
    o.arguments = { QStringLiteral("-c"),
        QStringLiteral("cd \"$1\" && find . -xdev -path ./.qvsnapshots -prune -o -printf '%y %m %s %p\\n' | sort"),
        QStringLiteral("sh"), folder };
    QStringList lines = QString::fromUtf8(Subprocess::run(o, 30000).out).split('\n', Qt::SkipEmptyParts);
    // A folder's own size depends on the file system's bookkeeping, not on the copy.
    for (QString& l : lines)
        if (l.startsWith(QLatin1String("d ")))
            l = l.section(QLatin1Char(' '), 0, 1) + QStringLiteral(" - ") + l.section(QLatin1Char(' '), 3);
    return lines;
}

QString fileText(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

struct EngineRun
{
    int exitCode = -1;
    QByteArrayList lines;
    QByteArray err;
    QByteArray joined() const { return lines.join('\n') + "\n--\n" + err; }
    QByteArrayList withPrefix(const QByteArray& prefix) const
    {
        QByteArrayList found;
        for (const QByteArray& l : lines)
            if (l.startsWith(prefix))
                found << l.mid(prefix.size());
        return found;
    }
};

} // namespace

class TestQvProcClone : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cloneByCopyMakesTheGroupAndCopiesBothVolumes();
    void cloneByImageTwiceInARow();
    void stopWhileReplacingStillReportsTheNewVolume();
    void refusalsLeaveTheDestinationAsItWas_data();
    void refusalsLeaveTheDestinationAsItWas();
    void driverClonesTheGroupThroughTheEngine();

private:
    // A source image with a registered System and Data group (files with odd names in both).
    bool makeSource(BtrfsTestImage& image, qint64 sizeMiB = 300);
    // A destination image with one registered volume "Clone", mounted at <tmp>/Clone.
    bool makeDestination(BtrfsTestImage& image, qint64 sizeMiB = 300);
    // stopAt: a line on which the engine gets SIGTERM, as the root shell's trap sends it.
    EngineRun runEngine(const QString& key, const QString& source, const QString& destination,
        const QString& path = QString(), const QByteArray& stopAt = QByteArray());
    QStringList leftovers() const;

    std::unique_ptr<TempTree> m_tmp;
    std::unique_ptr<TempTree> m_work; // the engine's TMPDIR
    quint64 m_system = 0, m_data = 0, m_clone = 0;
};

void TestQvProcClone::init()
{
    KV_REQUIRE_ROOT();
    m_tmp = std::make_unique<TempTree>(QStringLiteral("qvclone"));
    m_work = std::make_unique<TempTree>(QStringLiteral("qvclone-work"));
}

bool TestQvProcClone::makeSource(BtrfsTestImage& image, qint64 sizeMiB)
{
    if (!image.make(sizeMiB))
        return false;
    m_system = image.create(QStringLiteral("sys"));
    m_data = image.create(QStringLiteral("data"));
    BtrfsVolumeRegistry registry;
    registry.setEntry(m_system, entry(QStringLiteral("Mac"), QStringLiteral("System"), QStringLiteral("G")));
    registry.setEntry(m_data, entry(QStringLiteral("Mac - Data"), QStringLiteral("Data"), QStringLiteral("G")));
    if (!m_system || !m_data || !registry.save(image.top()))
        return false;
    for (const char* volume : { "sys", "data" }) {
        const QString root = image.top() + QLatin1Char('/') + QLatin1String(volume);
        QDir().mkpath(root + QStringLiteral("/etc/deep"));
        QFile f(root + QStringLiteral("/etc/deep/") + QLatin1String(volume) + QStringLiteral(".txt"));
        if (!f.open(QIODevice::WriteOnly))
            return false;
        f.write(QByteArray(volume) + " content\n");
        f.close();
        for (const std::string& name : TempTree::oddNames()) {
            const QByteArray p = NameCodec::encode(root) + "/" + QByteArray::fromStdString(name);
            const int fd = ::open(p.constData(), O_WRONLY | O_CREAT | O_EXCL, 0640);
            if (fd < 0)
                return false;
            ::write(fd, name.data(), name.size());
            ::close(fd);
        }
        if (::symlink("etc/deep", NameCodec::encode(root + QStringLiteral("/link")).constData()) != 0)
            return false;
    }
    return true;
}

bool TestQvProcClone::makeDestination(BtrfsTestImage& image, qint64 sizeMiB)
{
    if (!image.make(sizeMiB))
        return false;
    m_clone = image.create(QStringLiteral("clone"));
    BtrfsVolumeRegistry registry;
    registry.setEntry(m_clone, entry(QStringLiteral("Clone"), QString()));
    QFile old(image.top() + QStringLiteral("/clone/old.txt"));
    if (!m_clone || !registry.save(image.top()) || !old.open(QIODevice::WriteOnly))
        return false;
    old.write("the old volume\n");
    old.close();
    return image.mountSubvolume(m_clone, m_tmp->filePath(QStringLiteral("Clone")));
}

EngineRun TestQvProcClone::runEngine(const QString& key, const QString& source, const QString& destination,
    const QString& path, const QByteArray& stopAt)
{
    QJsonObject data { { "toolPath", "/usr/bin/rsync" },
        { "Params", "-a -H -A -X -x -S --numeric-ids --delete --ignore-errors --no-inc-recursive -v" },
        { "exFile1Path", "" }, { "exFile2Path", "" }, { "exArgs", QJsonArray { "--exclude=/skipped" } },
        { "APFSPreparePath", QString(KvTest::appContentsDir() + "/Resources/qv3_apfs_preparer") },
        { "SourceVolume", QJsonObject { { "mountPoint", source }, { "device", "" }, { "name", "Mac" } } },
        { "DestVolume", QJsonObject { { "mountPoint", destination }, { "device", "" }, { "name", "Clone" } } } };
    QJsonObject program { { "Program", key },
        { "Phases",
            QJsonObject { { "PhaseList", QJsonArray { key } },
                { "InitParams", QJsonObject { { "InterfaceDataList", data } } } } } };
    const QString file = m_tmp->filePath(QStringLiteral("program.json"));
    QFile::remove(file);
    m_tmp->writeFile(QStringLiteral("program.json"), QJsonDocument(program).toJson(), 0600);
    Subprocess::Options o;
    o.program = enginePath();
    o.arguments = { file };
    o.environment.insert(QStringLiteral("TMPDIR"), m_work->path());
    if (!path.isEmpty())
        o.environment.insert(QStringLiteral("PATH"), path + QLatin1Char(':') + qEnvironmentVariable("PATH"));
    EngineRun run;
    QByteArray out;
    if (stopAt.isEmpty()) {
        const Subprocess::Result r = Subprocess::run(o, 300000);
        run.exitCode = r.exitCode;
        out = r.out;
        run.err = r.err;
    } else {
        Subprocess engine;
        std::mutex mutex;
        const QByteArray stopLine = QByteArray("\n").append(stopAt).append('\n');
        engine.setStdoutHandler([&](const char* d, size_t n) {
            std::lock_guard lock(mutex);
            const bool before = !out.contains(stopLine);
            out.append(d, qsizetype(n));
            if (before && out.contains(stopLine))
                ::kill(engine.pid(), SIGTERM);
        });
        engine.setStderrHandler([&](const char* d, size_t n) {
            std::lock_guard lock(mutex);
            run.err.append(d, qsizetype(n));
        });
        if (!engine.start(o) || !engine.waitForFinished(300000))
            return run;
        run.exitCode = engine.exitCode();
    }
    run.lines = out.split('\n');
    if (!run.lines.isEmpty() && run.lines.last().isEmpty())
        run.lines.removeLast();
    return run;
}

// Work folders and work mounts the engine left behind.
QStringList TestQvProcClone::leftovers() const
{
    QStringList left = QDir(m_work->path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden);
    for (const MountEntry& m : MountInfo::read())
        if (m.mountPoint.startsWith(m_work->path()))
            left << m.mountPoint;
    return left;
}

void TestQvProcClone::cloneByCopyMakesTheGroupAndCopiesBothVolumes()
{
    BtrfsTestImage source, destination;
    QVERIFY(makeSource(source));
    QVERIFY(makeDestination(destination));
    // The project names the Data volume; the System volume is not mounted (the engine mounts it
    // for reading and lets it go again).
    const QString dataMount = m_tmp->filePath(QStringLiteral("Mac - Data"));
    QVERIFY(source.mountSubvolume(m_data, dataMount));
    QVERIFY(m_tmp->writeFile(QStringLiteral("Mac - Data/skipped"), "not copied"));

    const EngineRun r = runEngine(QStringLiteral("clone_RSYNC"), dataMount, m_tmp->filePath(QStringLiteral("Clone")));
    QVERIFY2(r.lines.value(0).startsWith("qv_proc_pid "), r.joined().constData());
    QVERIFY2(r.lines.last() == "ic:: end", r.joined().constData());
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.withPrefix("er::").isEmpty(), r.joined().constData());
    QCOMPARE(r.withPrefix("ii::command_line ").size(), 3); // the preparer and two copies

    // The new System volume sits where the destination was mounted, and "id::" names it.
    const QMap<QString, quint64> mounts = destination.mounts();
    const quint64 newSystem = mounts.value(m_tmp->filePath(QStringLiteral("Clone")));
    QVERIFY(newSystem != 0 && newSystem != m_clone);
    QCOMPARE(r.withPrefix("id::"),
        QByteArrayList { "{\"device\":\"" + destination.device().toUtf8() + "s" + QByteArray::number(newSystem) + "\"}" });
    QString newDataMount;
    for (auto it = mounts.cbegin(); it != mounts.cend(); ++it)
        if (it.value() != newSystem)
            newDataMount = it.key();
    QVERIFY(!newDataMount.isEmpty());

    // Both volumes arrived whole; the excluded item did not.
    QCOMPARE(treeOf(m_tmp->filePath(QStringLiteral("Clone"))), treeOf(source.top() + QStringLiteral("/sys")));
    QStringList dataTree = treeOf(dataMount);
    dataTree.removeIf([](const QString& l) { return l.endsWith(QLatin1String(" ./skipped")); });
    QCOMPARE(treeOf(newDataMount), dataTree);
    QCOMPARE(fileText(newDataMount + QStringLiteral("/etc/deep/data.txt")), QStringLiteral("data content\n"));

    const BtrfsVolumeRegistry registry = destination.registry();
    QCOMPARE(registry.entry(newSystem).role, QStringLiteral("System"));
    QVERIFY(!registry.entry(newSystem).groupUUID.isEmpty());
    QCOMPARE(leftovers(), QStringList());
    QCOMPARE(source.mounts().keys(), QStringList { dataMount });

    // A second clone takes the group as it is; its Data volume, unmounted meanwhile, is mounted
    // for the copy and let go again.
    const quint64 newData = mounts.value(newDataMount);
    QCOMPARE(::umount2(NameCodec::encode(newDataMount).constData(), 0), 0);
    QVERIFY(m_tmp->writeFile(QStringLiteral("Mac - Data/second.txt"), "2"));
    const EngineRun again
        = runEngine(QStringLiteral("clone_RSYNC"), dataMount, m_tmp->filePath(QStringLiteral("Clone")));
    QVERIFY2(again.lines.last() == "ic:: end", again.joined().constData());
    QCOMPARE(again.withPrefix("id::"), r.withPrefix("id::"));
    QCOMPARE(destination.mounts().value(m_tmp->filePath(QStringLiteral("Clone"))), newSystem);
    QVERIFY(!destination.mounts().values().contains(newData));
    QCOMPARE(leftovers(), QStringList());
    QVERIFY(destination.mountSubvolume(newData, newDataMount));
    QCOMPARE(fileText(newDataMount + QStringLiteral("/second.txt")), QStringLiteral("2"));
}

void TestQvProcClone::cloneByImageTwiceInARow()
{
    BtrfsTestImage source, destination;
    QVERIFY(makeSource(source));
    QVERIFY(makeDestination(destination));
    const QString sourceMount = m_tmp->filePath(QStringLiteral("Mac"));
    const QString cloneMount = m_tmp->filePath(QStringLiteral("Clone"));
    QVERIFY(source.mountSubvolume(m_system, sourceMount));

    for (int round = 1; round <= 2; ++round) {
        QVERIFY(m_tmp->writeFile(QStringLiteral("Mac/round.txt"), QByteArray::number(round)));
        const EngineRun r = runEngine(QStringLiteral("clone_ASR"), sourceMount, cloneMount);
        QVERIFY2(r.lines.value(0).startsWith("qv_proc_pid "), r.joined().constData());
        QVERIFY2(r.lines.last() == "ic:: end", r.joined().constData());
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.withPrefix("er::").isEmpty(), r.joined().constData());

        // A writable, registered, mounted System volume with the source's content, in a group
        // with a Data volume holding the source's Data content.
        const QMap<QString, quint64> mounts = destination.mounts();
        const quint64 system = mounts.value(cloneMount);
        QVERIFY(system != 0);
        QCOMPARE(r.withPrefix("id::"),
            QByteArrayList { "{\"device\":\"" + destination.device().toUtf8() + "s" + QByteArray::number(system) + "\"}" });
        QVERIFY(!BtrfsVolumeModel::isReadOnly(cloneMount));
        QVERIFY(m_tmp->writeFile(QStringLiteral("Clone/written.txt"), "ok"));
        QVERIFY(QFile::remove(m_tmp->filePath(QStringLiteral("Clone/written.txt"))));
        QCOMPARE(treeOf(cloneMount), treeOf(sourceMount));
        QCOMPARE(fileText(cloneMount + QStringLiteral("/round.txt")), QString::number(round));

        const BtrfsVolumeRegistry registry = destination.registry();
        const BtrfsVolumeRegistry::Entry s = registry.entry(system);
        QCOMPARE(s.role, QStringLiteral("System"));
        QCOMPARE(s.name, QStringLiteral("Clone"));
        const quint64 data = registry.memberWithRole(s.groupUUID, QStringLiteral("Data"));
        QVERIFY(data != 0);
        const QString dataMount = mounts.key(data);
        QVERIFY2(!dataMount.isEmpty(), qPrintable(QStringList(mounts.keys()).join('|')));
        QCOMPARE(fileText(dataMount + QStringLiteral("/etc/deep/data.txt")), QStringLiteral("data content\n"));
        QCOMPARE(registry.entries().size(), 2);

        // No work copy, work folder or snapshot stays.
        QCOMPARE(destination.subvolumePaths().size(), 2);
        QCOMPARE(BtrfsVolumeModel::listSnapshots(sourceMount), QStringList());
        QCOMPARE(leftovers(), QStringList());
    }
}

// A stop that arrives once the old volumes are being replaced lets the replacement finish, and
// the engine still names the new System volume, so the project can follow the device that exists.
void TestQvProcClone::stopWhileReplacingStillReportsTheNewVolume()
{
    BtrfsTestImage source, destination;
    QVERIFY(makeSource(source));
    QVERIFY(makeDestination(destination));
    const QString sourceMount = m_tmp->filePath(QStringLiteral("Mac"));
    const QString cloneMount = m_tmp->filePath(QStringLiteral("Clone"));
    QVERIFY(source.mountSubvolume(m_system, sourceMount));

    const EngineRun r = runEngine(QStringLiteral("clone_ASR"), sourceMount, cloneMount, QString(),
        "wp::Replacing the destination volumes...");
    QVERIFY2(r.exitCode != 0, r.joined().constData());
    QVERIFY2(r.withPrefix("ic::").isEmpty(), r.joined().constData());
    QVERIFY2(r.withPrefix("er::").isEmpty(), r.joined().constData());
    const quint64 system = destination.mounts().value(cloneMount);
    QVERIFY(system != 0 && system != m_clone);
    QCOMPARE(r.withPrefix("id::"),
        QByteArrayList { "{\"device\":\"" + destination.device().toUtf8() + "s" + QByteArray::number(system) + "\"}" });
    QCOMPARE(treeOf(cloneMount), treeOf(sourceMount));
    QCOMPARE(destination.registry().entry(system).role, QStringLiteral("System"));
    // The work copies, the source's snapshots and the work folders are gone as on every path.
    QCOMPARE(destination.subvolumePaths().size(), 2);
    QCOMPARE(BtrfsVolumeModel::listSnapshots(sourceMount), QStringList());
    QCOMPARE(leftovers(), QStringList());
}

void TestQvProcClone::refusalsLeaveTheDestinationAsItWas_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QByteArray>("error");
    QTest::newRow("destination too small") << "small" << QByteArray("Destination has insufficient space");
    QTest::newRow("receive fails halfway") << "receive" << QByteArray("Receiving the System volume failed");
    QTest::newRow("destination in the source group")
        << "group" << QByteArray("The destination is a volume of the source group");
}

void TestQvProcClone::refusalsLeaveTheDestinationAsItWas()
{
    QFETCH(QString, fault);
    QFETCH(QByteArray, error);
    BtrfsTestImage source, destination;
    QVERIFY(makeSource(source, fault == QLatin1String("small") ? 600 : 300));
    QVERIFY(makeDestination(destination, fault == QLatin1String("small") ? 0 : 300));
    const QString sourceMount = m_tmp->filePath(QStringLiteral("Mac"));
    const QString cloneMount = m_tmp->filePath(QStringLiteral("Clone"));
    QVERIFY(source.mountSubvolume(m_system, sourceMount));
    QString path;
    if (fault == QLatin1String("small")) {
        // More data than the whole destination holds.
        const int fd = ::open(NameCodec::encode(sourceMount + QStringLiteral("/big")).constData(),
            O_WRONLY | O_CREAT, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::posix_fallocate(fd, 0, qint64(400) << 20), 0);
        ::close(fd);
    } else {
        // A btrfs whose receive takes the stream, then fails.
        QVERIFY(m_tmp->writeFile(QStringLiteral("bin/btrfs"),
            "#!/bin/sh\nif [ \"$1\" = receive ]; then /usr/bin/btrfs \"$@\"; echo 'ERROR: receive made to fail' >&2; "
            "exit 1; fi\nexec /usr/bin/btrfs \"$@\"\n",
            0755));
        path = m_tmp->filePath(QStringLiteral("bin"));
    }
    const QStringList treeBefore = treeOf(cloneMount);
    const QStringList volumesBefore = destination.subvolumePaths();
    // The source's own Data volume as the destination: refused before anything is touched.
    const QString dataMount = m_tmp->filePath(QStringLiteral("Mac - Data"));
    QVERIFY(source.mountSubvolume(m_data, dataMount));
    const QStringList dataBefore = treeOf(dataMount);
    const QString target = fault == QLatin1String("group") ? dataMount : cloneMount;

    const EngineRun r = runEngine(QStringLiteral("clone_ASR"), sourceMount, target, path);
    QVERIFY2(r.withPrefix("er::").join('|').contains(error), r.joined().constData());
    QVERIFY2(r.withPrefix("ic::").isEmpty(), r.joined().constData());
    QVERIFY(r.withPrefix("id::").isEmpty());
    QVERIFY(r.exitCode != 0);

    // The old volume is in place, mounted where it was, with its content; nothing was added.
    QCOMPARE(destination.mounts().value(cloneMount), m_clone);
    QCOMPARE(fileText(cloneMount + QStringLiteral("/old.txt")), QStringLiteral("the old volume\n"));
    QCOMPARE(treeOf(cloneMount), treeBefore);
    QCOMPARE(destination.subvolumePaths(), volumesBefore);
    QCOMPARE(destination.registry().entries().keys(), QList<quint64> { m_clone });
    QCOMPARE(QDir(destination.top()).entryList({ QStringLiteral(".qvclone*") }, QDir::AllEntries | QDir::Hidden),
        QStringList());
    QCOMPARE(BtrfsVolumeModel::listSnapshots(sourceMount), QStringList());
    QCOMPARE(treeOf(dataMount), dataBefore);
    QCOMPARE(source.mounts().value(dataMount), m_data);
    QCOMPARE(leftovers(), QStringList());
}

// The application's clone of a volume group, through the driver: by copy (the run controller's
// choice), then by image (the menu's --asr), twice. Each run ends with the device of the new
// System volume, which the saved project's second place then names.
void TestQvProcClone::driverClonesTheGroupThroughTheEngine()
{
    BtrfsTestImage source, destination;
    QVERIFY(makeSource(source));
    QVERIFY(makeDestination(destination));
    const QString systemMount = m_tmp->filePath(QStringLiteral("Mac"));
    const QString cloneMount = m_tmp->filePath(QStringLiteral("Clone"));
    QVERIFY(source.mountSubvolume(m_system, systemMount));
    QVERIFY(source.mountSubvolume(m_data, m_tmp->filePath(QStringLiteral("Mac - Data"))));
    const QString ws = m_tmp->filePath(QStringLiteral("ws"));
    QVERIFY(QDir().mkpath(ws));
    {
        IVolumeBase::shared().fill();
        ISynchronContainer list(std::make_unique<FakeSyncRunController>(), ws);
        list.reInit();
        auto clone = list.createNewSynchron(QStringLiteral("Whole system"), 1);
        clone->setFirstFolder(systemMount);
        clone->setSecondFolder(cloneMount);
        QVERIFY(list.save());
    }
    for (const QStringList& extra : { QStringList(), QStringList { "--asr" }, QStringList { "--asr" } }) {
        const QString programOut = m_tmp->filePath(QStringLiteral("program.out"));
        QFile::remove(programOut);
        Subprocess::Options o;
        o.program = KvTest::appContentsDir() + QStringLiteral("/MacOS/kv-run-project");
        o.arguments = QStringList { "--workspace", ws, "--kit", "clone", "--project", "Whole system", "--confirm",
                          "--program-out", programOut }
            + extra;
        o.environment.insert(QStringLiteral("TMPDIR"), m_work->path());
        const Subprocess::Result r = Subprocess::run(o, 300000);
        const QByteArray last = r.out.trimmed().split('\n').last();
        const quint64 system = destination.mounts().value(cloneMount);
        const QByteArray device = destination.device().toUtf8() + 's' + QByteArray::number(system);
        if (last != "0 " + device + " Cloning was successful.") {
            // A failure message is cut short: the whole run is shown line by line first.
            for (const QByteArray& line : QByteArray(r.out + r.err).split('\n'))
                qWarning("%s", line.constData());
        }
        QCOMPARE(last, "0 " + device + " Cloning was successful.");
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(treeOf(cloneMount), treeOf(systemMount));
        // The program named the engine's volumes: a copy clone works from the Data volumes.
        QFile program(programOut);
        QVERIFY(program.open(QIODevice::ReadOnly));
        const QJsonObject data = QJsonDocument::fromJson(program.readAll().chopped(1))
                                     .object()
                                     .value("Phases")
                                     .toObject()
                                     .value("InitParams")
                                     .toObject()
                                     .value("InterfaceDataList")
                                     .toObject();
        const QString sourceMount = data.value("SourceVolume").toObject().value("mountPoint").toString();
        QCOMPARE(sourceMount, extra.isEmpty() ? m_tmp->filePath(QStringLiteral("Mac - Data")) : systemMount);
        QCOMPARE(data.value("SourceVolume").toObject().value("device").toString(),
            source.device() + 's' + QString::number(extra.isEmpty() ? m_data : m_system));
        if (extra.isEmpty())
            QVERIFY(data.value("exFile1Path").toString().endsWith(QLatin1String(".system.txt")));

        // The saved project's second place is the new System volume.
        IVolumeBase::shared().fill();
        QTRY_VERIFY_WITH_TIMEOUT(IVolumeBase::shared().isBaseFilled(), 10000);
        ISynchronContainer list(std::make_unique<FakeSyncRunController>(), ws);
        list.reInit();
        std::shared_ptr<ISynchron> saved;
        for (const auto& p : list.listByType(1))
            if (p->name() == QLatin1String("Whole system"))
                saved = p;
        QVERIFY(saved);
        QVERIFY2(saved->secondFolder() == cloneMount, qPrintable(extra.join(' ') + " " + r.out + r.err));
        const auto made = BtrfsVolumeModel::subvolumeInfo(cloneMount);
        QVERIFY(made);
        QVERIFY2(UuidText::equal(saved->secondLocation()->volumeUUID(), made->uuid),
            qPrintable(saved->secondLocation()->volumeUUID() + " " + made->uuid));
    }
    QCOMPARE(leftovers(), QStringList());
}

QTEST_GUILESS_MAIN(TestQvProcClone)
#include "tst_qvprocclone.moc"
