// kv-test: labels=unit timeout=180
// The steps of an archive build around its tool job: the destination is mounted, waited for or
// chosen as the run allows, the split volume leaves room for the project file, progress moves
// forward while tar lists its members, and a source that is gone makes the run end with
// warnings that the summary counts.
#include "FakePlaceMounter.h"
#include "KvTest.h"
#include "RecordingShellServices.h"
#include "ScriptedUiPrompts.h"
#include "TempTree.h"
#include "archive/CBackup.h"
#include "archive/CBackupItem.h"
#include "archive/IBackup.h"
#include "platform/AppPaths.h"
#include "projects/ILocation.h"

#include <QProcess>
#include <QtTest>

namespace {

// Records the indicator each time the project reports it.
class ProgressShell : public RecordingShellServices
{
public:
    QList<double> positions;
    void DIIProcessIndicatorPositionCollect(IProject* project) override
    {
        positions << project->indicatorPosition();
    }
};

// Records each status line the project asks the window to show at once.
class StatusShell : public RecordingShellServices
{
public:
    IBackup* project = nullptr;
    QStringList statusLines;
    void validateStatusString() override
    {
        if (project)
            statusLines << project->lastStatusString();
    }
};

bool runToEnd(CBackup& project)
{
    bool ended = false;
    project.getIBackup()->onRunEnded = [&] { ended = true; };
    if (project.build() <= 0)
        return false;
    QElapsedTimer t;
    t.start();
    while (!ended && t.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    project.getIBackup()->onRunEnded = nullptr;
    return ended;
}

QStringList texts(const RecordingShellServices& shell)
{
    QStringList out;
    for (const auto& m : shell.messages())
        out << QString::fromUtf8(m.text);
    return out;
}

} // namespace

class TestArchiveBuildSteps : public QObject
{
    Q_OBJECT

private slots:
    void splitVolumeSize_data()
    {
        QTest::addColumn<quint64>("limit");
        QTest::addColumn<quint64>("reserve");
        QTest::addColumn<quint64>("volume");
        QTest::newRow("small limit takes it whole") << quint64(1000) << quint64(50) << quint64(1000);
        QTest::newRow("reserve kept") << quint64(10000) << quint64(1201) << quint64(8795);
        QTest::newRow("reserve above an eighth dropped") << quint64(8000) << quint64(1500) << quint64(7996);
        QTest::newRow("no project file") << quint64(100000) << quint64(0) << quint64(99996);
    }
    void splitVolumeSize()
    {
        QFETCH(quint64, limit);
        QFETCH(quint64, reserve);
        QFETCH(quint64, volume);
        QCOMPARE(CBackup::splitVolumeSize(limit, reserve), volume);
    }

    // A destination share that is not mounted: mounted when the project says so; a scheduled
    // run never waits and fails; a user run waits, and a cancelled wait only terminates. An
    // unset destination is chosen by the user, or the run terminates.
    void destination_data()
    {
        QTest::addColumn<QString>("kind"); // "share" or "unset"
        QTest::addColumn<bool>("scheduled");
        QTest::addColumn<bool>("mountSucceeds");
        QTest::addColumn<int>("waitAnswer"); // -2: no wait expected
        QTest::addColumn<bool>("chooses");
        QTest::addColumn<QString>("text"); // a text the run must have sent
        QTest::addColumn<bool>("failed"); // the last-run-failed flag
        QTest::addColumn<bool>("built");
        QTest::newRow("share, scheduled") << "share" << true << false << -2 << false
                                          << "Destination volume \"Share\" is not active" << true << false;
        QTest::newRow("share mounted by the run, still not there, scheduled")
            << "share" << true << true << -2 << false << "Unmounting Target volume..." << true << false;
        QTest::newRow("share, mount fails, wait cancelled") << "share" << false << false << 0 << false
                                                            << "Target automount error" << false << false;
        QTest::newRow("unset, scheduled") << "unset" << true << false << -2 << false
                                          << "Destination folder has not been chosen" << true << false;
        QTest::newRow("unset, not chosen")
            << "unset" << false << false << -2 << false << "Terminated" << false << false;
        QTest::newRow("unset, chosen") << "unset" << false << false << -2 << true
                                       << "Building of backup archive" << false << true;
    }
    void destination()
    {
        QFETCH(QString, kind);
        QFETCH(bool, scheduled);
        QFETCH(bool, mountSucceeds);
        QFETCH(int, waitAnswer);
        QFETCH(bool, chooses);
        QFETCH(QString, text);
        QFETCH(bool, failed);
        QFETCH(bool, built);
        TempTree tree;
        tree.writeFile(std::string("src/a.txt"), "a\n");
        tree.mkdir("dest");
        AppPaths::setWorkspacePathOverride(tree.filePath(QStringLiteral("ws")));
        StatusShell shell;
        ShellServicesScope shellScope(&shell);
        FakePlaceMounter mounter;
        mounter.mountSucceeds = mountSucceeds;
        IPlaceMounter::setShared(&mounter);
        auto restore = qScopeGuard([] { IPlaceMounter::setShared(nullptr); });
        ScriptedUiPrompts prompts;
        if (waitAnswer != -2)
            prompts.expectVolumeWait(waitAnswer);
        // The folder choice goes through the prompts (a null folder is a cancel).
        const bool asksFolder = kind == QLatin1String("unset") && !scheduled;
        if (asksFolder)
            prompts.expectFolder(chooses ? tree.filePath(QStringLiteral("dest")) : QString());

        CBackup project(QStringLiteral("D"));
        QVERIFY(project.addItemFromDisk(tree.filePath(QStringLiteral("src"))));
        std::unique_ptr<ILocation> where(ILocation::create());
        if (kind == QLatin1String("share")) {
            where->setDeviceType(ILocation::DeviceNetworkVolume);
            where->setURLStr(QStringLiteral("sftp://nobody@host.invalid/share"));
            where->setDisplayName(QStringLiteral("Share"));
            where->setAutomount(true);
            where->setEmpty(false);
        }
        project.setLocation(*where, true);
        project.location()->setAutomount(kind == QLatin1String("share"));
        project.setSelection(true);
        project.setProcessingBySchedule(scheduled);
        project.setUseAdminPrivileges(false);
        shell.project = project.getIBackup();
        const bool ran = runToEnd(project);
        QCOMPARE(ran, built);
        QCOMPARE(prompts.pending(), 0);
        QVERIFY(prompts.unexpected.isEmpty());
        const QStringList sent = texts(shell) + shell.statusLines;
        QVERIFY2(sent.filter(text).size() > 0, qPrintable(sent.join(QLatin1Char('\n'))));
        QCOMPARE(project.lastRunFailed(), failed);
        QCOMPARE(prompts.folderRequests.size(), asksFolder ? 1 : 0);
        // What the run mounted it unmounts again.
        QStringList calls;
        if (kind == QLatin1String("share"))
            calls << QStringLiteral("mount Share");
        if (kind == QLatin1String("share") && mountSucceeds)
            calls << QStringLiteral("unmount Share");
        QCOMPARE(mounter.calls, calls);
        QCOMPARE(project.isInProcess(), false);
        QCOMPARE(CBackup::m_nTarRunning, 0);
    }

    // A real build of 400 files: the indicator only moves forward, shows values between the
    // start and the end while tar lists, and is 100 at the end. A source that is gone makes the
    // run end with warnings, and the summary counts it and the archived items.
    void progressAndWarnings()
    {
        TempTree tree;
        for (int i = 0; i < 400; ++i)
            tree.writeFile(QStringLiteral("src/d%1/f%2.txt").arg(i % 10).arg(i), QByteArray(2000, 'x'));
        tree.writeFile(std::string("gone.txt"), "soon gone\n");
        tree.mkdir("dest");
        AppPaths::setWorkspacePathOverride(tree.filePath(QStringLiteral("ws")));
        ProgressShell shell;
        ShellServicesScope shellScope(&shell);
        CBackup project(QStringLiteral("P"));
        QVERIFY(project.addItemFromDisk(tree.filePath(QStringLiteral("src"))));
        QVERIFY(project.addItemFromDisk(tree.filePath(QStringLiteral("gone.txt"))));
        QVERIFY(QFile::remove(tree.filePath(QStringLiteral("gone.txt"))));
        std::unique_ptr<ILocation> where(ILocation::create());
        QVERIFY(where->setupWithPath(tree.filePath(QStringLiteral("dest"))));
        project.setLocation(*where, true);
        project.setUseAdminPrivileges(false);
        project.setUseCompression(false);
        QVERIFY(runToEnd(project));

        QVERIFY2(project.getIBackup()->lastStatusString().contains(
                     QLatin1String("has been completed with warnings or errors")),
            qPrintable(project.getIBackup()->lastStatusString()));
        QCOMPARE(int(project.lastEndStatus()), 0x1);
        QCOMPARE(int(project.archives().size()), 1);
        // Forward only while the run lasts (the end of the run resets it to 0).
        const QList<double>& p = shell.positions;
        const qsizetype top = p.indexOf(100.0);
        QVERIFY2(top > 0, qPrintable(QString::number(p.size())));
        for (qsizetype i = 1; i <= top; ++i)
            QVERIFY2(p[i] >= p[i - 1] || p[i] == 0, qPrintable(QStringLiteral("%1 after %2").arg(p[i]).arg(p[i - 1])));
        int between = 0;
        for (double v : p)
            between += v > 1.0 && v < 100.0;
        QVERIFY2(between >= 5, qPrintable(QString::number(between)));
        QCOMPARE(project.getIBackup()->indicatorPositionForGlobal(), 0.0);

        const QStringList sent = texts(shell);
        QVERIFY2(sent.contains(QStringLiteral("Warnings: 1")), qPrintable(sent.join(QLatin1Char('\n'))));
        // The run log names who started the job, the volumes and the pipeline.
        QVERIFY(sent.contains(QStringLiteral("Started by user")));
        QCOMPARE(sent.filter(QRegularExpression(QStringLiteral("^Source \"[^\"]+\" Info: "))).size(), 1);
        QCOMPARE(sent.filter(QRegularExpression(QStringLiteral("^Destination Volume Info: "))).size(), 1);
        QCOMPARE(sent.filter(QRegularExpression(QStringLiteral("^command line: .*/usr/bin/tar"))).size(), 1);
        QVERIFY2(sent.filter(QRegularExpression(QStringLiteral("^Archived items: 41[01] "))).size() == 1,
            qPrintable(sent.join(QLatin1Char('\n'))));
        QCOMPARE(CBackup::m_nTarRunning, 0);
    }

    // A project read to its top level only is read whole before its build: a file left out
    // deeper in the tree stays out of the archive.
    void topLevelProjectReloadedBeforeBuild()
    {
        TempTree tree;
        tree.writeFile(std::string("src/keep.txt"), "keep\n");
        tree.writeFile(std::string("src/skip.txt"), "skip\n");
        tree.mkdir("dest");
        AppPaths::setWorkspacePathOverride(tree.filePath(QStringLiteral("ws")));
        QString bif;
        {
            CBackup project(QStringLiteral("T"));
            CBackupItem* src = project.addItemFromDisk(tree.filePath(QStringLiteral("src")));
            QVERIFY(src);
            project.refreshFromDisk(&project, true, true, true);
            bool found = false;
            for (int i = 0; i < src->count(); ++i)
                if (src->itemAt(i)->getAbsolutePath().endsWith(QLatin1String("/skip.txt"))) {
                    src->itemAt(i)->setIncludeByUser(false);
                    found = true;
                }
            QVERIFY(found);
            std::unique_ptr<ILocation> where(ILocation::create());
            QVERIFY(where->setupWithPath(tree.filePath(QStringLiteral("dest"))));
            project.setLocation(*where, true);
            project.setUseAdminPrivileges(false);
            QVERIFY(project.save());
            bif = project.makeBifFileName();
        }
        CBackup project(QStringLiteral("T"));
        QVERIFY(project.loadTopContentLevel(bif, false));
        QCOMPARE(project.loadState(), 1);
        QVERIFY(runToEnd(project));
        QCOMPARE(project.loadState(), 2);
        QCOMPARE(project.archives().size(), size_t(1));
        QProcess tar;
        tar.start(QStringLiteral("/usr/bin/tar"),
            { QStringLiteral("-tzf"),
                project.getAbsolutePathName(false, false) + QLatin1Char('/') + project.archives()[0].fileName });
        QVERIFY(tar.waitForFinished(30000));
        const QByteArray listing = tar.readAllStandardOutput();
        QVERIFY2(listing.contains("keep.txt") && !listing.contains("skip.txt"),
            QByteArray(listing + tar.readAllStandardError()).constData());
    }

    // tar's listing lines -> the folders, files and bytes of the summary.
    void memberCounters_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("folders");
        QTest::addColumn<int>("files");
        QTest::addColumn<int>("bytes");
        QTest::newRow("folder") << QByteArray("drwxr-xr-x u/g           0 2026-12-11 08:55 /a/b c/") << 1 << 0 << 0;
        QTest::newRow("file with blanks")
            << QByteArray("-rw-r--r-- u/g        1508 2026-12-11 08:55 /a/b c/d e.txt") << 0 << 1 << 1508;
        QTest::newRow("link") << QByteArray("lrwxrwxrwx u/g 0 2026-01-02 03:04 /a/l -> t") << 0 << 1 << 0;
        QTest::newRow("month 13: by the first letter")
            << QByteArray("drwxr-xr-x u/g 0 2026-13-11 08:55 /a/") << 1 << 0 << 0;
        QTest::newRow("not a member line") << QByteArray("something else") << 0 << 1 << 0;
        QTest::newRow("leading slash notice")
            << QByteArray("/usr/bin/tar: Removing leading `/' from member names") << 0 << 0 << 0;
    }
    void memberCounters()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, folders);
        QFETCH(int, files);
        QFETCH(int, bytes);
        IBackup controller(nullptr);
        controller.clearAnalitics();
        controller.classifyLine(line);
        const IBackup::Analitics a = controller.processAnalitics();
        QCOMPARE(int(a.procFolderCount), folders);
        QCOMPARE(int(a.procFileCount), files);
        QCOMPARE(int(a.procSize), bytes);
        QCOMPARE(int(a.warningCount), 0);
    }

    void indicatorForGlobal_data()
    {
        QTest::addColumn<double>("position");
        QTest::addColumn<double>("global");
        QTest::newRow("inside") << 42.5 << 42.5;
        QTest::newRow("past the end") << 100.5 << -1.0;
        QTest::newRow("below zero") << -0.5 << -1.0;
    }
    void indicatorForGlobal()
    {
        QFETCH(double, position);
        QFETCH(double, global);
        CBackup project(QStringLiteral("G"));
        project.getIBackup()->setIndicatorPositionInZero();
        project.getIBackup()->setIndicatorPosition(position);
        QCOMPARE(project.getIBackup()->indicatorPositionForGlobal(), global);
        // Never backwards during a run.
        project.getIBackup()->setIndicatorPosition(position > 1 ? position - 1 : position);
        QCOMPARE(project.getIBackup()->indicatorPosition(), position);
    }
};

QTEST_GUILESS_MAIN(TestArchiveBuildSteps)
#include "tst_archivebuildsteps.moc"
