// kv-test: labels=unit timeout=300 env=TZ=Europe/Berlin

#include "KvTest.h"
#include "RecordingBackup3Controller.h"
#include "RecordingShellServices.h"
#include "ScriptedClock.h"
#include "ScriptedUiPrompts.h"
#include "TempTree.h"
#include "platform/MountInfo.h"
#include "platform/NameCodec.h"
#include "platform/PlistBridge.h"
#include "platform/ProcessTable.h"
#include "platform/Subprocess.h"
#include "snapshot/Backup3VersionList.h"
#include "snapshot/IBackup3.h"
#include "snapshot/IBackup3Container.h"
#include "snapshot/IBackup3Processor.h"
#include "utilities/IVolumeBase.h"
#include "utilities/RsyncExcludes.h"
#include "utilities/WorkEndStatus.h"

#include <QtTest>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kUUID = QStringLiteral("5E1F0A00-0000-4000-8000-00000000E119");

// A stored place for a folder of the build's file system, bound by its mount point.
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

// A fake rsync driven by files beside it, keyed by the name of its last argument (the pass's
// wrapper folder): NAME.out and NAME.err are printed, NAME.sleep seconds waited, NAME.signal
// sent to itself, NAME.code is the exit status; NAME.hold leaves a process in another session
// that keeps the output pipes open for that many seconds. Every call appends its arguments to "calls",
// one per line, with an empty line after each call.
const char* const kFakeRsync = R"SH(#!/bin/sh
dir=$(dirname "$0")
for last; do :; done
name=$(basename "$last")
for a; do printf '%s\n' "$a"; done >> "$dir/calls"
printf '\n' >> "$dir/calls"
[ -f "$dir/$name.out" ] && cat "$dir/$name.out"
[ -f "$dir/$name.err" ] && cat "$dir/$name.err" >&2
[ -f "$dir/$name.hold" ] && (setsid sleep "$(cat "$dir/$name.hold")" &)
[ -f "$dir/$name.sleep" ] && sleep "$(cat "$dir/$name.sleep")"
[ -f "$dir/$name.signal" ] && kill "-$(cat "$dir/$name.signal")" $$
[ -f "$dir/$name.code" ] && exit "$(cat "$dir/$name.code")"
exit 0
)SH";

ino_t inodeOf(const QString& path)
{
    struct stat st;
    return ::lstat(NameCodec::encodeStd(path).c_str(), &st) == 0 ? st.st_ino : 0;
}

} // namespace

// The snapshot-backup run engine with a scripted rsync (the pass machine, end-status rules, stops)
// and with the real one on the build's file system (versions, hard links, the version list).
class TestBackup3Processor : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void patternExcludes_data();
    void patternExcludes();
    void passTable_data();
    void passTable();
    void toolMissing();
    void stopMidPassKeepsTheWorkFolder();
    void noSpaceEndsTheRunAtOnce();
    void pipesHeldAfterTheExitEndThePassWithinBounds();
    void argvTable_data();
    void argvTable();
    void twoRealRunsShareUnchangedFiles();
    void killedRsyncRecordsNoVersionAndTheNextRunSucceeds();
    void corruptVersionListIsKeptAsideAndRebuilt();
    void foreignListAndTakenNames();
    void leftOverWorkFolderIsReusedWithoutStaleItems();
    void versionNameClash();
    void restoreKeepsNewerFilesAndDeletesNothing();
    void runWithTheVolumeAbsentFails_data();
    void runWithTheVolumeAbsentFails();

private:
    // Sources named "S1".."Sn" under src/ (tags 1..n), the destination dest/.
    std::shared_ptr<IBackup3> makeProject(int sources, const QVariantMap& extra = {});
    QString fakeRsync();
    void script(const QString& wrapper, const QString& kind, const QByteArray& content);
    QList<QStringList> fakeCalls() const;
    // Starts the project and waits for its end; the result code.
    int run(const std::shared_ptr<IBackup3>& project, int timeoutMs = 60000);
    QString projectFolder() const { return m_tree->filePath(QStringLiteral("dest/Docs_") + kUUID); }
    QStringList versions() const { return Backup3VersionList::versionFolders(projectFolder()); }
    bool logged(const QString& text) const;

    std::unique_ptr<RecordingBackup3Controller> m_pane;
    std::unique_ptr<RecordingShellServices> m_shell;
    std::unique_ptr<ScriptedClock> m_clock;
    std::unique_ptr<TempTree> m_tree;
    std::unique_ptr<IBackup3Container> m_list;
    IBackup3Processor* m_engine = nullptr;
    QList<QStringList> m_argv;
};

void TestBackup3Processor::init()
{
    // The places bind to the volume table, read from the mount table.
    if (!IVolumeBase::shared().isBaseFilled())
        IVolumeBase::shared().fill();
    m_pane = std::make_unique<RecordingBackup3Controller>();
    m_shell = std::make_unique<RecordingShellServices>();
    IBackup3Controller::setShared(m_pane.get());
    IShellServices::setShared(m_shell.get());
    m_clock = std::make_unique<ScriptedClock>(QDateTime(QDate(2024, 5, 1), QTime(18, 30, 0)));
    m_tree = std::make_unique<TempTree>(QStringLiteral("b3proc"));
    QVERIFY(m_tree->mkdir("src") && m_tree->mkdir("dest") && m_tree->mkdir("fake"));
    auto engine
        = std::make_unique<IBackup3Processor>(KvTest::appContentsDir() + QStringLiteral("/Resources/rsync3"));
    m_engine = engine.get();
    m_argv.clear();
    m_engine->setPassArgumentsObserver([this](const QStringList& argv) { m_argv << argv; });
    m_list = std::make_unique<IBackup3Container>(
        std::move(engine), m_tree->filePath(QStringLiteral("Projects.plist")));
}

void TestBackup3Processor::cleanup()
{
    m_list.reset();
    m_engine = nullptr;
    IBackup3Controller::setShared(nullptr);
    IShellServices::setShared(nullptr);
    m_clock.reset();
}

std::shared_ptr<IBackup3> TestBackup3Processor::makeProject(int sources, const QVariantMap& extra)
{
    QVariantList list;
    for (int i = 1; i <= sources; ++i) {
        const std::string rel = "src/S" + std::to_string(i);
        m_tree->mkdir(rel);
        m_tree->writeFile(rel + "/file.txt", QByteArray("content ") + QByteArray::number(i));
        list << place(m_tree->filePath(rel), i);
    }
    QVariantMap dict { { "Name", "Docs" }, { "ProjectUUID", kUUID }, { "UseAdminPrivileges", false },
        { "Sources", list }, { "TagForSrcLocations", qint64(sources) },
        { "Destination", place(m_tree->filePath(QStringLiteral("dest"))) },
        { "Schedule", QVariantMap { { "UseScheduled", false } } } };
    for (auto it = extra.begin(); it != extra.end(); ++it)
        dict.insert(it.key(), it.value());
    QVariantMap root { { "Preferences", QVariantMap { { "Backup3PropertyScheme", qint64(1) } } },
        { "Backups3", QVariantList { dict } } };
    if (!PlistBridge::writeFileAtomically(m_list->projectsFilePath(), root))
        return nullptr;
    m_list->load();
    if (m_list->countOfBackups3() != 1)
        return nullptr;
    auto project = m_list->backup3ByIndex(0);
    project->setFileName(QStringLiteral("Docs_") + kUUID);
    return project;
}

QString TestBackup3Processor::fakeRsync()
{
    const QString path = m_tree->filePath(QStringLiteral("fake/rsync3"));
    m_tree->writeFile(std::string("fake/rsync3"), QByteArray(kFakeRsync), 0755);
    m_engine->setToolPath(path);
    return path;
}

void TestBackup3Processor::script(const QString& wrapper, const QString& kind, const QByteArray& content)
{
    QVERIFY(m_tree->writeFile(QStringLiteral("fake/") + wrapper + QLatin1Char('.') + kind, content));
}

QList<QStringList> TestBackup3Processor::fakeCalls() const
{
    QList<QStringList> calls;
    QStringList current;
    for (const QByteArray& line : m_tree->readFile("fake/calls").split('\n')) {
        if (line.isEmpty()) {
            if (!current.isEmpty())
                calls << current;
            current.clear();
        } else {
            current << NameCodec::decode(line);
        }
    }
    return calls;
}

int TestBackup3Processor::run(const std::shared_ptr<IBackup3>& project, int timeoutMs)
{
    const qsizetype before = m_pane->finishedCodes.size();
    m_list->processBackup3(project);
    QElapsedTimer t;
    t.start();
    while (m_pane->finishedCodes.size() == before && t.elapsed() < timeoutMs)
        QTest::qWait(20);
    if (m_pane->finishedCodes.size() != before + 1)
        return -1;
    // Every end reaches the pane once, on the main thread.
    if (!m_pane->finishedOnMainThread.last())
        return -2;
    return m_pane->finishedCodes.last();
}

bool TestBackup3Processor::logged(const QString& text) const
{
    for (const auto& m : m_shell->messages())
        if (QString::fromUtf8(m.text).contains(text))
            return true;
    return false;
}

void TestBackup3Processor::patternExcludes_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("bars and line ends")
        << QStringLiteral("a|b\n c") << QStringList { "--exclude=a", "--exclude=b", "--exclude=c" };
    QTest::newRow("empty items dropped") << QStringLiteral("||\n\n  |x") << QStringList { "--exclude=x" };
    QTest::newRow("inner blanks kept")
        << QStringLiteral(" my file|*.tmp ") << QStringList { "--exclude=my file", "--exclude=*.tmp " };
}

void TestBackup3Processor::patternExcludes()
{
    QFETCH(QString, pattern);
    QFETCH(QStringList, arguments);
    QCOMPARE(RsyncExcludes::patternExcludeArguments(pattern), arguments);
}

void TestBackup3Processor::passTable_data()
{
    QTest::addColumn<int>("sources");
    QTest::addColumn<int>("missing"); // source number whose folder is removed, 0 none
    QTest::addColumn<QByteArray>("errLines1"); // stderr of the first pass
    QTest::addColumn<int>("code1"); // exit status of the first pass
    QTest::addColumn<int>("signal1"); // signal the first pass sends itself
    QTest::addColumn<int>("passes");
    QTest::addColumn<int>("result");
    QTest::addColumn<bool>("version");

    QTest::newRow("clean") << 1 << 0 << QByteArray() << 0 << 0 << 1 << 0 << true;
    QTest::newRow("middle source unusable") << 3 << 2 << QByteArray() << 0 << 0 << 2 << 3 << true;
    QTest::newRow("exit 11 without lines") << 1 << 0 << QByteArray() << 11 << 0 << 1 << 1 << false;
    QTest::newRow("killed from outside") << 1 << 0 << QByteArray() << 0 << SIGKILL << 1 << 1 << false;
    QTest::newRow("pass-1 errors, clean pass 2")
        << 2 << 0
        << QByteArray("rsync: [sender] send_files failed to open \"/x/y\": Permission denied (13)\n"
                      "rsync error: some files/attrs were not transferred (see previous errors) (code 23) at "
                      "main.c(1) [sender=3]\n")
        << 23 << 0 << 2 << 1 << false;
    QTest::newRow("vanished file, code 24")
        << 1 << 0 << QByteArray("file has vanished: \"/x/gone\"\n") << 24 << 0 << 1 << 3 << true;
    QTest::newRow("code 23 with no classified line") << 1 << 0 << QByteArray() << 23 << 0 << 1 << 3 << true;
    QTest::newRow("xattr read refused is a warning")
        << 1 << 0
        << QByteArray(
               "rsync: [sender] get_xattr_names: llistxattr(\"/x\",1024) failed: Permission denied (13)\n")
        << 0 << 0 << 1 << 3 << true;
}

void TestBackup3Processor::passTable()
{
    QFETCH(int, sources);
    QFETCH(int, missing);
    QFETCH(QByteArray, errLines1);
    QFETCH(int, code1);
    QFETCH(int, signal1);
    QFETCH(int, passes);
    QFETCH(int, result);
    QFETCH(bool, version);

    auto project = makeProject(sources);
    QVERIFY(project);
    fakeRsync();
    if (missing)
        QVERIFY(QDir(m_tree->filePath(QStringLiteral("src/S%1").arg(missing))).removeRecursively());
    if (!errLines1.isEmpty())
        script(QStringLiteral("S1.wrp1"), QStringLiteral("err"), errLines1);
    if (code1)
        script(QStringLiteral("S1.wrp1"), QStringLiteral("code"), QByteArray::number(code1));
    if (signal1)
        script(QStringLiteral("S1.wrp1"), QStringLiteral("signal"), QByteArray::number(signal1));

    QCOMPARE(run(project), result);
    const auto calls = fakeCalls();
    QCOMPARE(calls.size(), passes);
    QCOMPARE(m_argv.size(), passes);
    for (int i = 0; i < passes; ++i)
        QCOMPARE(QStringList(m_argv[i].mid(1)), calls[i]);
    if (missing) {
        // Passes 0 and 2 only: the unusable source gets no pass.
        QVERIFY(calls[0].last().endsWith(QLatin1String("/S1.wrp1")));
        QVERIFY(calls[1].last().endsWith(QLatin1String("/S3.wrp3")));
    }
    QCOMPARE(versions().size(), version ? 1 : 0);
    QCOMPARE(m_engine->lastVersionFolderName().isEmpty(), !version);
    const QString work = projectFolder() + QStringLiteral("/QV3ProcessTemporaryFolder");
    QCOMPARE(QFileInfo(work).isDir(), !version);
    const auto list = Backup3VersionList::read(projectFolder());
    QCOMPARE(Backup3VersionList::entries(list.dict).size(), version ? 1 : 0);
    QCOMPARE(project->isInProcess(), false);
    QVERIFY(!m_engine->backup3());
    QCOMPARE(m_engine->childProcessId(), 0);
    if (result == 1)
        QCOMPARE(m_engine->lastReportText(), QStringLiteral("Backup failed"));
    else if (result == 3)
        QCOMPARE(m_engine->lastReportText(), QStringLiteral("Backup was successful with some warnings"));
    else
        QCOMPARE(m_engine->lastReportText(), QStringLiteral("Backup was successful"));
}

void TestBackup3Processor::toolMissing()
{
    auto project = makeProject(1);
    QVERIFY(project);
    m_engine->setToolPath(m_tree->filePath(QStringLiteral("fake/none")));
    QVERIFY(!m_engine->canWork());
    QCOMPARE(run(project), 1);
    QVERIFY(logged(QStringLiteral("Tool RSYNC not found")));
    QCOMPARE(m_engine->lastReportText(), QStringLiteral("Backup failed."));
    QVERIFY(project->isLastProcessFailed());
    QVERIFY(!project->isInProcess());
    QVERIFY(!QFileInfo::exists(projectFolder()));
}

void TestBackup3Processor::stopMidPassKeepsTheWorkFolder()
{
    auto project = makeProject(2);
    QVERIFY(project);
    fakeRsync();
    script(QStringLiteral("S1.wrp1"), QStringLiteral("sleep"), "30");
    const qsizetype before = m_pane->finishedCodes.size();
    m_list->processBackup3(project);
    QTRY_VERIFY_WITH_TIMEOUT(m_engine->childProcessId() != 0, 10000);
    const pid_t child = m_engine->childProcessId();
    QVERIFY(m_engine->isRunning());
    // The tool has begun its pass (it records the call first).
    QTRY_COMPARE_WITH_TIMEOUT(fakeCalls().size(), 1, 10000);
    m_list->stopProcessBackup3(project);
    QTRY_COMPARE_WITH_TIMEOUT(m_pane->finishedCodes.size(), before + 1, 15000);
    QCOMPARE(m_pane->finishedCodes.last(), 4);
    QCOMPARE(m_engine->lastReportText(), QStringLiteral("Terminated by user"));
    // The stop ended the child's whole group, and the second pass never started.
    QTRY_VERIFY_WITH_TIMEOUT(!isProcessAlive(child), 5000);
    QCOMPARE(fakeCalls().size(), 1);
    QVERIFY(QFileInfo(projectFolder() + QStringLiteral("/QV3ProcessTemporaryFolder")).isDir());
    QVERIFY(versions().isEmpty());
    QVERIFY(!project->isInProcess());
}

void TestBackup3Processor::noSpaceEndsTheRunAtOnce()
{
    auto project = makeProject(2);
    QVERIFY(project);
    fakeRsync();
    script(QStringLiteral("S1.wrp1"), QStringLiteral("err"),
        "rsync: [receiver] write failed on \"/x/big\": No space left on device (28)\n");
    script(QStringLiteral("S1.wrp1"), QStringLiteral("sleep"), "30");
    QElapsedTimer t;
    t.start();
    QCOMPARE(run(project, 20000), 1);
    QVERIFY(t.elapsed() < 15000);
    // The tool was ended on the first such line, and no further pass started.
    QCOMPARE(fakeCalls().size(), 1);
    QVERIFY(logged(QStringLiteral("Not enough space on Destination")));
    QVERIFY(versions().isEmpty());
}

void TestBackup3Processor::pipesHeldAfterTheExitEndThePassWithinBounds()
{
    auto project = makeProject(1);
    QVERIFY(project);
    fakeRsync();
    script(QStringLiteral("S1.wrp1"), QStringLiteral("hold"), "8");
    QElapsedTimer t;
    t.start();
    QCOMPARE(run(project, 20000), 0);
    // About three seconds of waiting for end of data, never the holder's eight.
    QVERIFY2(t.elapsed() >= 2900 && t.elapsed() < 7000, QByteArray::number(t.elapsed()).constData());
    QCOMPARE(versions().size(), 1);
}

void TestBackup3Processor::argvTable_data()
{
    QTest::addColumn<QVariantMap>("settings");
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QStringList>("absent");

    QTest::newRow("defaults") << QVariantMap {}
                              << QStringList { "--fake-super", "-t", "-l", "-H", "-X", "-x", "-S", "-v",
                                     "-pgo", "-r", "--no-inc-recursive", "--ignore-errors", "--progress",
                                     "--stats" }
                              << QStringList { "-u", "--delete-before", "--exclude=.*" };
    QTest::newRow("delete and mod-date")
        << QVariantMap { { "Options", qint64(IBackup3::OptionDelete | IBackup3::OptionConsiderModDate) } }
        << QStringList { "-u", "--delete-before", "--delete-excluded" } << QStringList {};
    QTest::newRow("aliases excluded")
        << QVariantMap { { "Filters", QVariantMap { { "ExcludeAliases", true } } } } << QStringList {}
        << QStringList { "-l", "-H" };
    QTest::newRow("invisible excluded")
        << QVariantMap { { "Filters", QVariantMap { { "ExcludeInvisible", true } } } }
        << QStringList { "--exclude=.*" } << QStringList {};
    QTest::newRow("pattern") << QVariantMap { { "Filters",
        QVariantMap { { "ExcludeByPattern", true }, { "ExcludePattern", "a|b\n c" } } } }
                             << QStringList { "--exclude=a", "--exclude=b", "--exclude=c" } << QStringList {};
}

void TestBackup3Processor::argvTable()
{
    QFETCH(QVariantMap, settings);
    QFETCH(QStringList, present);
    QFETCH(QStringList, absent);

    auto project = makeProject(1, settings);
    QVERIFY(project);
    const QString tool = m_engine->toolPath();
    QVERIFY2(!tool.isEmpty(), "rsync3 of the build tree");
    QCOMPARE(run(project), 0);
    QCOMPARE(m_argv.size(), 1);
    const QStringList argv = m_argv.first();
    QCOMPARE(argv.first(), tool);
    for (const QString& a : present)
        QVERIFY2(argv.contains(a), qPrintable(a + QStringLiteral(" missing in ") + argv.join(' ')));
    for (const QString& a : absent)
        QVERIFY2(!argv.contains(a), qPrintable(a + QStringLiteral(" present in ") + argv.join(' ')));
    QVERIFY(!argv.join(' ').contains(QLatin1String("--iconv")));
    QVERIFY(argv.last().endsWith(QLatin1String("/QV3ProcessTemporaryFolder/S1.wrp1")));
    QCOMPARE(argv.at(argv.size() - 2), m_tree->filePath(QStringLiteral("src/S1")));

    // The second run links against the first version, by an absolute path ending in "/".
    m_clock->advance(60000);
    QCOMPARE(run(project), 0);
    const QStringList second = m_argv.last();
    const auto link = std::find_if(second.begin(), second.end(),
        [](const QString& a) { return a.startsWith(QLatin1String("--link-dest=")); });
    QVERIFY(link != second.end());
    QCOMPARE(*link,
        QStringLiteral("--link-dest=") + projectFolder() + QLatin1Char('/') + versions().first()
            + QStringLiteral("/S1.wrp1/"));

    // rsync itself accepts the line (a dry run into the version it made).
    QStringList dry = second;
    dry.insert(1, QStringLiteral("-n"));
    dry.last() = projectFolder() + QLatin1Char('/') + versions().last() + QStringLiteral("/S1.wrp1");
    Subprocess::Options o;
    o.program = dry.first();
    o.arguments = dry.mid(1);
    const auto r = Subprocess::run(o, 60000);
    QVERIFY2(r.succeeded(), r.err.constData());
}

void TestBackup3Processor::twoRealRunsShareUnchangedFiles()
{
    auto project = makeProject(2);
    QVERIFY(project);
    QVERIFY(m_tree->writeFile(std::string("src/S1/sub/kept.txt"), QByteArray("unchanged")));
    QVERIFY(m_tree->writeFile(std::string("src/S1/changed.txt"), QByteArray("first")));
    QCOMPARE(run(project), 0);
    QCOMPARE(m_engine->lastReportText(), QStringLiteral("Backup was successful"));
    m_clock->advance(3600 * 1000);
    QVERIFY(m_tree->writeFile(std::string("src/S1/changed.txt"), QByteArray("second, longer")));
    QCOMPARE(run(project), 0);

    const QStringList v = versions();
    QCOMPARE(v.size(), 2);
    QCOMPARE(v.last(), m_engine->lastVersionFolderName());
    const QString a = projectFolder() + QLatin1Char('/') + v.first() + QStringLiteral("/S1.wrp1/S1/");
    const QString b = projectFolder() + QLatin1Char('/') + v.last() + QStringLiteral("/S1.wrp1/S1/");
    QCOMPARE(inodeOf(b + QStringLiteral("sub/kept.txt")), inodeOf(a + QStringLiteral("sub/kept.txt")));
    QVERIFY(inodeOf(b + QStringLiteral("changed.txt")) != inodeOf(a + QStringLiteral("changed.txt")));
    QVERIFY(QFileInfo(projectFolder() + QLatin1Char('/') + v.last() + QStringLiteral("/S2.wrp2/S2/file.txt"))
                .isFile());
    QVERIFY(!QFileInfo::exists(projectFolder() + QStringLiteral("/QV3ProcessTemporaryFolder")));

    const auto list = Backup3VersionList::read(projectFolder());
    QCOMPARE(list.state, Backup3VersionList::State::Ok);
    QCOMPARE(list.dict.value("ProjectUUID").toString(), kUUID);
    QCOMPARE(list.dict.value("LastFolder").toString(), v.last());
    const QVariantList entries = Backup3VersionList::entries(list.dict);
    QCOMPARE(entries.size(), 2);
    for (int i = 0; i < 2; ++i) {
        const QVariantMap e = entries[i].toMap();
        QCOMPARE(e.value("Folder").toString(), v[i]);
        const QVariantList locations = e.value("Locations").toList();
        QCOMPARE(locations.size(), 2);
        QCOMPARE(locations[0].toMap().value("ArchiveName").toString(), QStringLiteral("S1.wrp1"));
        QCOMPARE(locations[1].toMap().value("IsFolder").toBool(), true);
    }
}

void TestBackup3Processor::killedRsyncRecordsNoVersionAndTheNextRunSucceeds()
{
    auto project = makeProject(1);
    QVERIFY(project);
    const QString real = m_engine->toolPath();
    fakeRsync();
    script(QStringLiteral("S1.wrp1"), QStringLiteral("sleep"), "30");
    const qsizetype before = m_pane->finishedCodes.size();
    m_list->processBackup3(project);
    QTRY_VERIFY_WITH_TIMEOUT(m_engine->childProcessId() != 0, 10000);
    QCOMPARE(::kill(m_engine->childProcessId(), SIGKILL), 0);
    QTRY_COMPARE_WITH_TIMEOUT(m_pane->finishedCodes.size(), before + 1, 15000);
    QCOMPARE(m_pane->finishedCodes.last(), 1);
    QVERIFY(versions().isEmpty());
    QVERIFY(m_engine->lastVersionFolderName().isEmpty());

    m_engine->setToolPath(real);
    QCOMPARE(run(project), 0);
    QCOMPARE(versions().size(), 1);
    QVERIFY(QFileInfo(
        projectFolder() + QLatin1Char('/') + versions().first() + QStringLiteral("/S1.wrp1/S1/file.txt"))
                .isFile());
}

void TestBackup3Processor::corruptVersionListIsKeptAsideAndRebuilt()
{
    auto project = makeProject(1);
    QVERIFY(project);
    QCOMPARE(run(project), 0);
    const QString first = versions().first();
    const QString info = projectFolder() + QStringLiteral("/qv3info.plist");
    QFile f(info);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("<?xml version=\"1.0\"?><plist><dict><key>broken");
    f.close();

    m_clock->advance(60000);
    QCOMPARE(run(project), 0);
    QCOMPARE(versions().size(), 2);
    // The damaged list was kept, never overwritten, and the new list knows both versions.
    QVERIFY(QFileInfo(projectFolder() + QStringLiteral("/~qv3info.plist")).isFile());
    QFile aside(projectFolder() + QStringLiteral("/~qv3info.plist"));
    QVERIFY(aside.open(QIODevice::ReadOnly));
    QVERIFY(aside.readAll().contains("broken"));
    const auto list = Backup3VersionList::read(projectFolder());
    QCOMPARE(list.state, Backup3VersionList::State::Ok);
    const QVariantList entries = Backup3VersionList::entries(list.dict);
    QCOMPARE(entries.size(), 2);
    QCOMPARE(entries[0].toMap().value("Folder").toString(), first);
    QCOMPARE(entries[1].toMap().value("Folder").toString(), versions().last());
}

void TestBackup3Processor::foreignListAndTakenNames()
{
    auto project = makeProject(1);
    QVERIFY(project);
    fakeRsync();
    // A file where the project folder would go: the project gets "Docs1".
    QVERIFY(m_tree->writeFile(QStringLiteral("dest/Docs_") + kUUID, "not a folder"));
    QCOMPARE(run(project), 0);
    QVERIFY(QFileInfo(m_tree->filePath(QStringLiteral("dest/Docs1"))).isDir());
    QCOMPARE(project->projectBackupFolderField(), QStringLiteral("Docs1"));
    // The next run goes on in the same folder, linked to its first version.
    m_clock->advance(60000);
    QCOMPARE(run(project), 0);
    QCOMPARE(Backup3VersionList::versionFolders(m_tree->filePath(QStringLiteral("dest/Docs1"))).size(), 2);
    QVERIFY(!QFileInfo::exists(m_tree->filePath(QStringLiteral("dest/Docs2"))));

    // A list of another project in the folder: moved aside, the project's own list made fresh.
    QVariantMap foreign { { "ProjectUUID", "OTHER" } };
    QVERIFY(PlistBridge::writeFileAtomically(
        m_tree->filePath(QStringLiteral("dest/Docs1/qv3info.plist")), foreign));
    m_clock->advance(60000);
    QCOMPARE(run(project), 0);
    QCOMPARE(PlistBridge::readFile(m_tree->filePath(QStringLiteral("dest/Docs1/~qv3info.plist")))
                 .value.toMap()
                 .value("ProjectUUID")
                 .toString(),
        QStringLiteral("OTHER"));
    const auto list = Backup3VersionList::read(m_tree->filePath(QStringLiteral("dest/Docs1")));
    QCOMPARE(list.dict.value("ProjectUUID").toString(), kUUID);
    QCOMPARE(Backup3VersionList::entries(list.dict).size(), 1);

    // A name that would leave the destination stays one folder inside it.
    project->setFileName(QStringLiteral("../x"));
    project->setProjectBackupFolder(QStringLiteral("../x"));
    m_clock->advance(60000);
    QCOMPARE(run(project), 0);
    QVERIFY(!QFileInfo::exists(m_tree->filePath(QStringLiteral("x"))));
    const QString folder = project->projectBackupFolderField();
    QVERIFY2(!folder.contains(QLatin1Char('/')) && folder != QLatin1String(".."), qPrintable(folder));
    QVERIFY(QFileInfo(m_tree->filePath(QStringLiteral("dest/")) + folder).isDir());
}

void TestBackup3Processor::leftOverWorkFolderIsReusedWithoutStaleItems()
{
    auto project = makeProject(1);
    QVERIFY(project);
    fakeRsync();
    const std::string work = "dest/Docs_" + kUUID.toStdString() + "/QV3ProcessTemporaryFolder";
    QVERIFY(m_tree->writeFile(work + "/S1.wrp1/S1/partial.txt", "from a crashed run"));
    QVERIFY(m_tree->writeFile(work + "/Gone.wrp9/old.txt", "source no longer in the project"));
    QVariantMap list { { "ProjectUUID", kUUID } };
    QVERIFY(PlistBridge::writeFileAtomically(projectFolder() + QStringLiteral("/qv3info.plist"), list));
    QCOMPARE(run(project), 0);
    const QString v = projectFolder() + QLatin1Char('/') + versions().first();
    QVERIFY(QFileInfo(v + QStringLiteral("/S1.wrp1/S1/partial.txt")).isFile());
    QVERIFY(!QFileInfo::exists(v + QStringLiteral("/Gone.wrp9")));
    // The last version folder deleted by hand: the next run makes a full copy.
    QVERIFY(QDir(v).removeRecursively());
    m_clock->advance(60000);
    QCOMPARE(run(project), 0);
    QVERIFY(!m_argv.last().join(' ').contains(QLatin1String("--link-dest")));
}

void TestBackup3Processor::versionNameClash()
{
    auto project = makeProject(1);
    QVERIFY(project);
    fakeRsync();
    // A version of this very second exists: the run waits for the next second and takes it.
    const QString taken = Backup3VersionList::versionFolderName(m_clock->now());
    QVERIFY(m_tree->mkdir("dest/Docs_" + kUUID.toStdString()));
    QVERIFY(m_tree->mkdir("dest/Docs_" + kUUID.toStdString() + "/" + taken.toStdString()));
    QTimer::singleShot(200, this, [this] { m_clock->advance(1000); });
    QCOMPARE(run(project), 0);
    QCOMPARE(m_engine->lastVersionFolderName(), Backup3VersionList::versionFolderName(m_clock->now()));
    QVERIFY(m_engine->lastVersionFolderName() != taken);

    // When the next second's name is taken too, the rename fails: no version, work folder kept.
    const QString next = Backup3VersionList::versionFolderName(m_clock->now());
    QCOMPARE(run(project), 1);
    QVERIFY(logged(QStringLiteral("can not be renamed")));
    QVERIFY(QFileInfo(projectFolder() + QStringLiteral("/QV3ProcessTemporaryFolder")).isDir());
    QCOMPARE(versions(), (QStringList { taken, next }));
    // A version folder that exists is never replaced, even when it is empty.
    QVERIFY(QDir(projectFolder() + QLatin1Char('/') + next).isEmpty() == false);
}

void TestBackup3Processor::restoreKeepsNewerFilesAndDeletesNothing()
{
    auto project
        = makeProject(1, { { "Options", qint64(IBackup3::OptionConsiderModDate | IBackup3::OptionDelete) } });
    QVERIFY(project);
    QVERIFY(m_tree->writeFile(std::string("src/S1/lost.txt"), QByteArray("backed up")));
    QCOMPARE(run(project), 0);
    const QString version = projectFolder() + QLatin1Char('/') + versions().first();

    // On disk: a newer edit, a deleted file, and a file the version does not have.
    QVERIFY(m_tree->writeFile(std::string("src/S1/file.txt"), QByteArray("edited later")));
    const QString edited = m_tree->filePath(QStringLiteral("src/S1/file.txt"));
    {
        QFile f(edited);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.setFileTime(QDateTime::currentDateTime().addSecs(3600), QFileDevice::FileModificationTime));
    }
    QVERIFY(QFile::remove(m_tree->filePath(QStringLiteral("src/S1/lost.txt"))));
    QVERIFY(m_tree->writeFile(std::string("src/S1/new.txt"), QByteArray("made after the backup")));

    auto item = B3RestoreItem::make(
        project->srcLocations().first(), version + QStringLiteral("/S1.wrp1/S1"), true, 0);
    QVERIFY(item);
    project->setRestoreData({ *item });
    QCOMPARE(run(project), 3);
    QCOMPARE(m_engine->lastReportText(), QStringLiteral("Restore was successful with some warnings."));
    const QStringList argv = m_argv.last();
    QVERIFY(argv.contains(QStringLiteral("--info=skip1")));
    QVERIFY(argv.contains(QStringLiteral("-u")));
    QVERIFY(!argv.contains(QStringLiteral("--delete-before"))
        && !argv.contains(QStringLiteral("--delete-excluded")));
    QCOMPARE(m_tree->readFile("src/S1/file.txt"), QByteArray("edited later"));
    QCOMPARE(m_tree->readFile("src/S1/lost.txt"), QByteArray("backed up"));
    QCOMPARE(m_tree->readFile("src/S1/new.txt"), QByteArray("made after the backup"));
    QVERIFY(project->restoreData().isEmpty());
    // A restore records no version.
    QCOMPARE(versions().size(), 1);
}

void TestBackup3Processor::runWithTheVolumeAbsentFails_data()
{
    QTest::addColumn<bool>("scheduled");
    QTest::addColumn<QList<int>>("waits"); // answers of the wait-for-volume prompt, in order
    QTest::newRow("scheduled: no wait") << true << QList<int> {};
    QTest::newRow("user start, wait cancelled") << false << QList<int> { 0 };
    QTest::newRow("user start, wait timed out") << false << QList<int> { -1 };
    QTest::newRow("user start, still absent after the wait") << false << QList<int> { 1, 0 };
}

void TestBackup3Processor::runWithTheVolumeAbsentFails()
{
    QFETCH(bool, scheduled);
    QFETCH(QList<int>, waits);
    // The destination's volume is not mounted: its mount point is an empty folder on "/".
    const QVariantMap absent { { "MountPoint", m_tree->filePath(QStringLiteral("dest")) },
        { "PathFromMountPoint", "Backups" }, { "VolumeUUID", "0A1B2C3D-0000-4000-8000-0000000000AB" },
        { "DisplayName", "Stick" }, { "DeviceType", qint64(1) } };
    auto project = makeProject(1, { { "Destination", absent } });
    QVERIFY(project);
    fakeRsync();
    ScriptedUiPrompts prompts;
    for (int answer : waits)
        prompts.expectVolumeWait(answer);
    project->setProcessingBySchedule(scheduled);
    m_list->addBackup3ToProcessingList(project);
    const qsizetype before = m_pane->finishedCodes.size();
    m_list->processNext();
    QTRY_COMPARE_WITH_TIMEOUT(m_pane->finishedCodes.size(), before + 1, 20000);
    QCOMPARE(m_pane->finishedCodes.last(), 1);
    QCOMPARE(prompts.pending(), 0);
    QCOMPARE(prompts.volumeWaitRequests.size(), waits.size());
    for (const auto& request : prompts.volumeWaitRequests) {
        QCOMPARE(request.volumeName, QStringLiteral("Stick"));
        QCOMPARE(request.timeoutSeconds, 30);
        QVERIFY(request.isActive && !request.isActive());
    }
    QVERIFY(logged(QStringLiteral("Destination volume \"Stick\" is not active")));
    QVERIFY(fakeCalls().isEmpty());
    QVERIFY(m_tree->list("dest").empty());
    QVERIFY(project->isLastProcessFailed());
}

QTEST_MAIN(TestBackup3Processor)
#include "tst_backup3processor.moc"
