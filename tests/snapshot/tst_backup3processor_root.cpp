// kv-test: labels=root timeout=300 env=TZ=Europe/Berlin

#include "KvTest.h"
#include "RecordingBackup3Controller.h"
#include "RecordingShellServices.h"
#include "ScriptedClock.h"
#include "TempTree.h"
#include "platform/MountInfo.h"
#include "platform/PlistBridge.h"
#include "platform/ProcessTable.h"
#include "snapshot/Backup3VersionList.h"
#include "snapshot/IBackup3.h"
#include "snapshot/IBackup3Container.h"
#include "snapshot/IBackup3Processor.h"
#include "utilities/IVolumeBase.h"

#include <QtTest>
#include <sys/stat.h>

namespace {

const QString kUUID = QStringLiteral("5E1F0A00-0000-4000-8000-0000000AD111");

QVariantMap place(const QString& path, qint64 tag = -1)
{
    const auto mount = MountInfo::mountForPath(path, MountInfo::read());
    const QString mp = mount ? mount->mountPoint : QStringLiteral("/");
    QVariantMap d { { "MountPoint", mp },
        { "PathFromMountPoint", path.mid(mp == QLatin1String("/") ? 1 : mp.size()) },
        { "DeviceType", qint64(0) } };
    if (tag >= 0)
        d.insert(QStringLiteral("Tag"), tag);
    return d;
}

} // namespace

// Runs of a project that uses administrator rights: rsync runs through the privilege backend's
// root shell, and a stop ends that shell's whole process group.
class TestBackup3ProcessorRoot : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void adminRunMakesAVersionAsRoot();
    void stoppedAdminRunLeavesNoProcessInItsGroup();

private:
    std::shared_ptr<IBackup3> makeProject();
    int waitForEnd(qsizetype before, int timeoutMs);
    QString projectFolder() const { return m_tree->filePath(QStringLiteral("dest/Docs_") + kUUID); }

    std::unique_ptr<RecordingBackup3Controller> m_pane;
    std::unique_ptr<RecordingShellServices> m_shell;
    std::unique_ptr<ScriptedClock> m_clock;
    std::unique_ptr<TempTree> m_tree;
    std::unique_ptr<IBackup3Container> m_list;
    IBackup3Processor* m_engine = nullptr;
    QList<QStringList> m_argv;
};

void TestBackup3ProcessorRoot::init()
{
    if (!IVolumeBase::shared().isBaseFilled())
        IVolumeBase::shared().fill();
    m_pane = std::make_unique<RecordingBackup3Controller>();
    m_shell = std::make_unique<RecordingShellServices>();
    IBackup3Controller::setShared(m_pane.get());
    IShellServices::setShared(m_shell.get());
    m_clock = std::make_unique<ScriptedClock>(QDateTime(QDate(2024, 5, 1), QTime(18, 30, 0)));
    m_tree = std::make_unique<TempTree>(QStringLiteral("b3procroot"));
    QVERIFY(m_tree->mkdir("src/S1") && m_tree->mkdir("dest") && m_tree->mkdir("fake"));
    QVERIFY(m_tree->writeFile(std::string("src/S1/owned.txt"), QByteArray("root data"), 0600));
    auto engine
        = std::make_unique<IBackup3Processor>(KvTest::appContentsDir() + QStringLiteral("/Resources/rsync3"));
    m_engine = engine.get();
    m_argv.clear();
    m_engine->setPassArgumentsObserver([this](const QStringList& argv) { m_argv << argv; });
    m_list = std::make_unique<IBackup3Container>(
        std::move(engine), m_tree->filePath(QStringLiteral("Projects.plist")));
}

void TestBackup3ProcessorRoot::cleanup()
{
    m_list.reset();
    m_engine = nullptr;
    IBackup3Controller::setShared(nullptr);
    IShellServices::setShared(nullptr);
    m_clock.reset();
}

std::shared_ptr<IBackup3> TestBackup3ProcessorRoot::makeProject()
{
    QVariantMap dict { { "Name", "Docs" }, { "ProjectUUID", kUUID }, { "FileName", QString(QStringLiteral("Docs_") + kUUID) },
        { "UseAdminPrivileges", true },
        { "Sources", QVariantList { place(m_tree->filePath(QStringLiteral("src/S1")), 1) } },
        { "TagForSrcLocations", qint64(1) },
        { "Destination", place(m_tree->filePath(QStringLiteral("dest"))) },
        { "Schedule", QVariantMap { { "UseScheduled", false } } } };
    QVariantMap root { { "Preferences", QVariantMap { { "Backup3PropertyScheme", qint64(1) } } },
        { "Backups3", QVariantList { dict } } };
    if (!PlistBridge::writeFileAtomically(m_list->projectsFilePath(), root))
        return nullptr;
    m_list->load();
    return m_list->countOfBackups3() == 1 ? m_list->backup3ByIndex(0) : nullptr;
}

int TestBackup3ProcessorRoot::waitForEnd(qsizetype before, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (m_pane->finishedCodes.size() == before && t.elapsed() < timeoutMs)
        QTest::qWait(20);
    return m_pane->finishedCodes.size() == before + 1 ? m_pane->finishedCodes.last() : -1;
}

void TestBackup3ProcessorRoot::adminRunMakesAVersionAsRoot()
{
    KV_REQUIRE_ROOT();
    auto project = makeProject();
    QVERIFY(project);
    const qsizetype before = m_pane->finishedCodes.size();
    m_list->processBackup3(project);
    QCOMPARE(waitForEnd(before, 60000), 0);
    QCOMPARE(m_argv.size(), 1);
    QVERIFY(!m_argv.first().contains(QStringLiteral("--fake-super")));
    const QStringList versions = Backup3VersionList::versionFolders(projectFolder());
    QCOMPARE(versions.size(), 1);
    const QString copy
        = projectFolder() + QLatin1Char('/') + versions.first() + QStringLiteral("/S1.wrp1/S1/owned.txt");
    QFile f(copy);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("root data"));
    QCOMPARE(QFileInfo(copy).permissions() & 0x7777,
        QFileInfo(m_tree->filePath(QStringLiteral("src/S1/owned.txt"))).permissions() & 0x7777);
    QCOMPARE(Backup3VersionList::entries(Backup3VersionList::read(projectFolder()).dict).size(), 1);
}

void TestBackup3ProcessorRoot::stoppedAdminRunLeavesNoProcessInItsGroup()
{
    KV_REQUIRE_ROOT();
    auto project = makeProject();
    QVERIFY(project);
    QVERIFY(m_tree->writeFile(std::string("fake/rsync3"), QByteArray("#!/bin/sh\nsleep 60\n"), 0755));
    m_engine->setToolPath(m_tree->filePath(QStringLiteral("fake/rsync3")));
    const qsizetype before = m_pane->finishedCodes.size();
    m_list->processBackup3(project);
    QTRY_VERIFY_WITH_TIMEOUT(m_engine->childProcessId() != 0, 10000);
    const pid_t shell = m_engine->childProcessId();
    const pid_t group = ::getpgid(shell);
    QVERIFY(group > 0);
    QTRY_VERIFY_WITH_TIMEOUT(ProcessTable::groupMembers(group).size() >= 2, 10000);
    m_list->stopProcessBackup3(project);
    QCOMPARE(waitForEnd(before, 20000), 4);
    QTRY_VERIFY_WITH_TIMEOUT(ProcessTable::groupMembers(group).isEmpty(), 10000);
    QVERIFY(QFileInfo(projectFolder() + QStringLiteral("/QV3ProcessTemporaryFolder")).isDir());
    QVERIFY(Backup3VersionList::versionFolders(projectFolder()).isEmpty());
}

QTEST_MAIN(TestBackup3ProcessorRoot)
#include "tst_backup3processor_root.moc"
