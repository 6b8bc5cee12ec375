#include "ArchiveRun.h"

#include "ArgvOutFile.h"
#include "DriverShellServices.h"
#include "DriverText.h"
#include "DriverUiPrompts.h"
#include "ProjectRun.h"
#include "archive/ArchiveNames.h"
#include "archive/ArchiveProjectCreate.h"
#include "archive/ArchiveRestoreMembers.h"
#include "archive/CBackup.h"
#include "archive/CBackupContainer.h"
#include "archive/CToastTool.h"
#include "archive/DiscBurnFlow.h"
#include "archive/IBackup.h"
#include "platform/AppPaths.h"
#include "platform/BurnDrives.h"
#include "platform/Clock.h"
#include "platform/DistributedNotificationCenter.h"
#include "platform/NameCodec.h"
#include "projects/IAgentTool.h"
#include "projects/ILocation.h"
#include "projects/ScheduleDates.h"
#include "utilities/IVolumeBase.h"
#include "utilities/MainPreferences.h"
#include "utilities/TempFolder.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QEventLoop>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <iostream>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

void err(const QString& text)
{
    const QByteArray bytes = NameCodec::encode(text) + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

using DriverText::oneLine;

quint32 cipherMethod(const QString& cipher)
{
    if (cipher == QLatin1String("bf"))
        return CBCryptBlowfish;
    if (cipher == QLatin1String("des3"))
        return CBCrypt3DES;
    if (cipher == QLatin1String("aes128"))
        return CBCryptAES128;
    if (cipher == QLatin1String("aes256"))
        return CBCryptAES256;
    return CBCryptNone;
}

// The shell's burning commands as the driver has them: the archives of the burn list burned by
// the disc flow onto the --burn-drive drives (each disc takes the next drive); the burning
// application is never there.
class BurningShellServices : public DriverShellServices
{
public:
    QStringList drives;
    ArgvOutFile* argvOut = nullptr;
    DiscBurnFlow* active = nullptr;

    bool burnDisc(int) override
    {
        CBackupContainer* container = CBackupContainer::global();
        if (drives.isEmpty() || !container) {
            err(QStringLiteral("kv-run-project: no burn drive was given (--burn-drive): nothing is burned"));
            return false;
        }
        DiscBurnFlow flow;
        flow.setDrives(drives);
        flow.setConfiguredDrives(drives);
        QObject::connect(&flow, &DiscBurnFlow::lineReceived,
            [this](const QString& line) { processMessage(line, 0x4741, nullptr); });
        QObject::connect(&flow, &DiscBurnFlow::burnerStarted, [this](qint64 pgid, const QStringList& argv) {
            err(QStringLiteral("pgid: %1").arg(pgid));
            if (argvOut && argvOut->isOpen()) {
                argvOut->append(argv);
                argvOut->append(QStringList());
            }
        });
        struct Disc
        {
            QString drive;
            int files = 0;
            qint64 bytes = 0;
        };
        auto current = std::make_shared<Disc>();
        QObject::connect(&flow, &DiscBurnFlow::discStarted,
            [current](int, const QString& drive, int files, qint64 bytes) { *current = { drive, files, bytes }; });
        QObject::connect(&flow, &DiscBurnFlow::discFinished, [this, current](int disc, bool burnt, const QString& text) {
            processMessage(text, 0x4741, nullptr);
            if (burnt)
                err(QStringLiteral("burn: disc %1 %2 %3 %4")
                        .arg(disc)
                        .arg(current->drive)
                        .arg(current->files)
                        .arg(current->bytes));
        });
        active = &flow;
        const bool burnt = flow.burnDisc(container->addArchivesToDRFolder());
        active = nullptr;
        for (const QString& name : flow.leftArchives())
            err(QStringLiteral("burn: left ") + name);
        err(QStringLiteral("timing: burn %1").arg(flow.burnSeconds(), 0, 'f', 3));
        return burnt;
    }
    bool toastDisc(int) override
    {
        CToastTool tool;
        if (CBackupContainer* container = CBackupContainer::global())
            container->addArchivesToToast(&tool);
        processMessage(tool.statusText(), 0x4741, nullptr);
        return tool.execute();
    }
};

// Services of a program without a user interface, registered while the run lives.
struct DriverServices
{
    BurningShellServices shell;
    DriverUiPrompts prompts;
    DriverServices()
    {
        IShellServices::setShared(&shell);
        UiPrompts::setShared(&prompts);
    }
    ~DriverServices()
    {
        UiPrompts::setShared(nullptr);
        IShellServices::setShared(nullptr);
    }
};

// The answers given on standard input (the administrator line first) and the --argv-out file.
bool readInputs(const RunOptions& options, DriverServices& services, ArgvOutFile& argvOut, QString* why)
{
    if (options.adminPasswordStdin) {
        std::string line;
        if (!std::getline(std::cin, line)) {
            *why = QStringLiteral("--admin-password-stdin: no password on standard input");
            return false;
        }
        services.prompts.setAdminPassword(QByteArray::fromStdString(line));
    }
    if (options.passwordStdin) {
        std::string line;
        if (!std::getline(std::cin, line)) {
            *why = QStringLiteral("--password-stdin: no password on standard input");
            return false;
        }
        services.prompts.setProjectPassword(QByteArray::fromStdString(line));
    }
    services.prompts.setBurnDrives(options.burnDrives);
    QString error;
    if (!options.argvOut.isNull() && !argvOut.open(options.argvOut, &error)) {
        *why = QStringLiteral("--argv-out: ") + error;
        return false;
    }
    return true;
}

// The clock of --now: it starts at the given local time and runs on.
class StartedClock : public Clock
{
public:
    explicit StartedClock(const QDateTime& start)
        : m_start(start)
        , m_startMs(Clock::system().monotonicMs())
    { }
    QDateTime now() const override { return m_start.addMSecs(Clock::system().monotonicMs() - m_startMs); }
    qint64 monotonicMs() const override { return Clock::system().monotonicMs(); }

private:
    QDateTime m_start;
    qint64 m_startMs;
};

struct ClockScope
{
    std::unique_ptr<StartedClock> clock;
    explicit ClockScope(const QDateTime& now)
    {
        if (!now.isValid())
            return;
        clock = std::make_unique<StartedClock>(now);
        Clock::setCurrent(clock.get());
    }
    ~ClockScope()
    {
        if (clock)
            Clock::setCurrent(nullptr);
    }
};

// The global archive container for the driver's run: the workspace's projects, each job's
// pgid line and argument vectors, the stop signals and the timeout, and the wait until the
// queue, its jobs and the burn step are done. At the end it saves what changed, as the
// application does when it quits.
class QueueSession
{
public:
    QueueSession(const RunOptions& options, BurningShellServices& shell, ArgvOutFile& argvOut)
        : container(CBackupContainer::shared())
        , m_shell(shell)
    {
        shell.drives = options.burnDrives;
        // The run's drives are the drive list while it lasts (the ready check reads it).
        BurnDrives::setRunDrives(options.burnDrives);
        shell.argvOut = &argvOut;
        container.setCreatesWorkspaceFolders(false);
        container.onIdle = [this] {
            idle = true;
            loop.quit();
        };
        if (ProjectRun::stopSignalFd() >= 0) {
            stopNotifier
                = std::make_unique<QSocketNotifier>(ProjectRun::stopSignalFd(), QSocketNotifier::Read);
            QObject::connect(stopNotifier.get(), &QSocketNotifier::activated, [this] {
                char byte = 0;
                if (::read(ProjectRun::stopSignalFd(), &byte, 1) == 1)
                    stop(byte == SIGINT ? QStringLiteral("SIGINT") : QStringLiteral("SIGTERM"));
            });
        }
        if (options.timeoutSeconds > 0) {
            timeout.setSingleShot(true);
            QObject::connect(&timeout, &QTimer::timeout,
                [this, s = options.timeoutSeconds] { stop(QStringLiteral("timeout of %1 s").arg(s)); });
            timeout.start(int(options.timeoutSeconds * 1000));
        }
    }
    ~QueueSession()
    {
        container.onIdle = nullptr;
        container.onEntryEnded = nullptr;
        CBackupContainer::resetShared();
        BurnDrives::setRunDrives({});
    }

    // Every project's jobs report their process group and vectors.
    void hookJobs(ArgvOutFile& argvOut)
    {
        for (int i = 0; i < container.backupCount(); ++i)
            container.backupAt(i)->getIBackup()->onJobStarted
                = [&argvOut](qint64 pgid, const QList<QStringList>& stages) {
                      err(QStringLiteral("pgid: %1").arg(pgid));
                      if (argvOut.isOpen()) {
                          for (const QStringList& stage : stages)
                              argvOut.append(stage);
                          argvOut.append(QStringList());
                      }
                  };
    }
    void stop(const QString& why)
    {
        if (stopWhy.isEmpty())
            stopWhy = why;
        err(QStringLiteral("kv-run-project: stop requested (%1)").arg(why));
        if (m_shell.active)
            m_shell.active->cancel();
        container.stopTar();
    }
    // Waits until the queue is idle (at once when it already is).
    void wait()
    {
        if (!idle
            && (container.isQueueNotEmpty() || CBackup::m_nTarRunning != 0
                || container.queueOperation() != CBackupContainer::OpIdle))
            loop.exec();
    }
    // What changed is saved as the application does at quit (next dates among it).
    void save() { container.saveAllBackups(); }

    CBackupContainer& container;
    QEventLoop loop;
    bool idle = false;
    QString stopWhy;
    std::unique_ptr<QSocketNotifier> stopNotifier;
    QTimer timeout;

private:
    BurningShellServices& m_shell;
};

struct Outcome
{
    int code = 0;
    QString object;
    QString text;
};

// A finished run of one project as the driver reports it.
Outcome outcomeOf(CBackup& project, bool restore, bool stopped, const QString& restoreObject)
{
    const quint8 status = project.lastEndStatus();
    const QString text = oneLine(project.getIBackup()->lastStatusString());
    Outcome o;
    if (stopped || (status & 0x4) || project.getIBackup()->archivePromptRefused()
        || project.getIBackup()->authorizationRefused())
        o.code = 4;
    else if (!restore && text.startsWith(QLatin1String("Files to")))
        o.code = 5;
    else if (restore ? text.contains(QLatin1String("has failed")) || text.startsWith(QLatin1String("Failed"))
                || text.startsWith(QLatin1String("Nothing"))
                     : project.lastBuiltArchive().isEmpty() || text.contains(QLatin1String("has failed")))
        o.code = 1;
    else if (status & 0x1)
        o.code = 3;
    o.object = restore ? restoreObject
        : (o.code != 1 && o.code != 4 && o.code != 5 && !project.lastBuiltArchive().isEmpty())
        ? project.lastBuiltArchive()
        : QStringLiteral("-");
    o.text = (o.code == 4 && text.isEmpty()) ? QStringLiteral("Terminated by user")
        : text.isEmpty()                     ? QStringLiteral("-")
                                             : text;
    return o;
}

} // namespace

ArchiveRun::ArchiveRun(const RunOptions& options)
    : m_options(options)
{ }

int ArchiveRun::notStarted(const QString& why)
{
    err(QStringLiteral("kv-run-project: ") + why);
    m_last = QStringLiteral("2 - ") + oneLine(why);
    return 2;
}

int ArchiveRun::exec()
{
    struct stat st = {};
    const QByteArray ws = NameCodec::encode(m_options.workspace);
    if (::stat(ws.constData(), &st) != 0 || !S_ISDIR(st.st_mode)
        || ::access(ws.constData(), R_OK | X_OK) != 0)
        return notStarted(
            QStringLiteral("the workspace \"%1\" is not a readable folder").arg(m_options.workspace));
    AppPaths::setWorkspacePathOverride(m_options.workspace);
    // The application's preferences (the temporary folder of disc builds among them), read
    // without writing them.
    MainPreferences::shared().readPreferences();
    IVolumeBase::shared().fill();
    ClockScope clock(m_options.now);
    const int code = !m_options.newName.isNull()                      ? createProject()
        : (m_options.scheduleCheck || !m_options.mountCheck.isNull()) ? runTriggerCheck()
                                                                      : runProject();
    TempFolder::removeAll();
    return code;
}

int ArchiveRun::createProject()
{
    DriverServices services;
    for (const QString& source : m_options.sources) {
        struct stat sourceStat = {};
        // Through the byte-exact names: QFileInfo loses names that are not UTF-8.
        if (::lstat(NameCodec::encode(source).constData(), &sourceStat) != 0)
            return notStarted(QStringLiteral("the source \"%1\" does not exist").arg(source));
    }
    if (!m_options.destDisc && !QFileInfo(m_options.dest).isDir())
        return notStarted(QStringLiteral("the destination \"%1\" is not a folder").arg(m_options.dest));

    // Named and made as the projects pane makes a project: the name function, then unique
    // among the workspace's projects.
    CBackupContainer container;
    container.setCreatesWorkspaceFolders(false);
    container.loadRecentBackups();
    QStringList refused;
    CBackup* project = ArchiveProjectCreate::createBackup(container, m_options.sources, &refused, m_options.newName);
    if (!project)
        return notStarted(QStringLiteral("no source can be added"));
    if (!refused.isEmpty())
        return notStarted(QStringLiteral("the source \"%1\" cannot be added").arg(refused.first()));
    const QString name = project->name();
    std::unique_ptr<ILocation> location(ILocation::create());
    if (m_options.destDisc) {
        // An optical disc: the archives are built in a work folder and burned from there.
        location->setDeviceType(ILocation::DeviceCD);
        location->setDisplayName(QStringLiteral("CD/DVD(RW)"));
        location->setEmpty(false);
    } else if (!location->setupWithPath(m_options.dest)) {
        return notStarted(
            QStringLiteral("the destination \"%1\" is on no usable volume").arg(m_options.dest));
    }
    project->setLocation(*location, true);
    project->setBackupMethod(m_options.method == QLatin1String("full") ? BackupMethodFull
            : m_options.method == QLatin1String("incr")                ? BackupMethodIncremental
                                                                       : BackupMethodVersions);
    project->setUseCompression(m_options.compress);
    project->setCryptMethod(cipherMethod(m_options.cipher));
    project->setBackupSizeLimit(quint64(m_options.splitKb));
    project->setUseAdminPrivileges(m_options.admin);
    if (!m_options.scheduleTime.isNull()) {
        // Daily at that time, started late when missed; the next date from the clock.
        const QTime at = QTime::fromString(m_options.scheduleTime, QStringLiteral("HH:mm"));
        project->setUseSchedule(true);
        project->setScheduleIntervalType(CBSchedIntervalDaily);
        project->setScheduleHour(quint16(at.hour()));
        project->setScheduleMinute(quint16(at.minute()));
        project->setStartLate(true);
        project->setNextProcessDate(
            ::nextProcessDate(Clock::current().now(), CBSchedIntervalDaily, project->scheduleMonthDay(),
                project->scheduleWeekDays(), quint16(at.hour()), quint16(at.minute()), 0));
    }
    project->setStartOnMount(m_options.startOnMount);
    project->createUUID();
    if (!project->save())
        return notStarted(QStringLiteral("the project cannot be saved: %1").arg(project->lastFileError()));
    m_last = QStringLiteral("0 %1.bif Project \"%2\" created").arg(project->fileName(), name);
    return 0;
}

int ArchiveRun::runProject()
{
    DriverServices services;
    ArgvOutFile argvOut;
    QString why;
    if (!readInputs(m_options, services, argvOut, &why))
        return notStarted(why);
    QueueSession session(m_options, services.shell, argvOut);
    CBackupContainer& container = session.container;
    container.loadRecentBackups();
    int index = -1;
    int matches = 0;
    for (int i = 0; i < container.backupCount(); ++i) {
        const CBackup* p = container.backupAt(i);
        const bool hit = m_options.projectName.isNull() ? p->getUUID() == m_options.projectUUID
                                                        : p->name() == m_options.projectName;
        if (hit) {
            ++matches;
            index = i;
        }
    }
    if (matches == 0)
        return notStarted(QStringLiteral("the workspace has no such project"));
    if (matches > 1)
        return notStarted(QStringLiteral("the workspace has %1 such projects").arg(matches));
    CBackup& project = *container.backupAt(index);
    container.makeSingleSelection(index);
    session.hookJobs(argvOut);
    services.prompts.setContinueInPlace(m_options.inPlace);

    QString object = QStringLiteral("-");
    if (m_options.restore) {
        // The archives come with the whole project; the list holds only its top level.
        if (project.loadState() == 1 && !project.load(project.projectFilePath(), false))
            return notStarted(QStringLiteral("the project \"%1\" does not load: %2")
                                  .arg(project.fileName(), project.lastFileError()));
        int archive = int(project.archives().size()) - 1;
        if (!m_options.restoreArchive.isNull()) {
            archive = project.findArchiveName(m_options.restoreArchive);
            if (archive < 0)
                return notStarted(
                    QStringLiteral("the project has no archive \"%1\"").arg(m_options.restoreArchive));
        }
        if (archive < 0)
            return notStarted(QStringLiteral("the project has no archive to restore"));
        project.setSelectedArchiveIndex(archive);
        object = project.archives()[size_t(archive)].fileName;
        // Split archives reach tar through the cat tool, which asks this process for each volume
        // on the user's bus under the application's name.
        bool split = false;
        for (int i = m_options.single ? archive : std::min(archive, std::max(0, project.chainStartIndex()));
             i <= archive; ++i)
            split = split
                || QFileInfo(project.archives()[size_t(i)].fileName)
                       .suffix()
                       .startsWith(QLatin1String("cnt"));
        if (split) {
            QDBusConnection bus = DistributedNotificationCenter::shared().connection();
            if (!bus.isConnected() || !bus.interface())
                return notStarted(QStringLiteral("no session bus can be reached: split archives are restored "
                                                 "through it"));
            const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> claimed
                = bus.interface()->registerService(QString::fromLatin1(IAgentTool::mainAppBundleIdentifier),
                    QDBusConnectionInterface::DontQueueService,
                    QDBusConnectionInterface::DontAllowReplacement);
            if (!claimed.isValid() || claimed.value() != QDBusConnectionInterface::ServiceRegistered)
                return notStarted(
                    QStringLiteral("the bus name %1 is owned by another process (the application "
                                   "runs): split archives cannot be restored beside it")
                        .arg(QString::fromLatin1(IAgentTool::mainAppBundleIdentifier)));
            IAgentTool::shared().setConnectMessageReceiver();
        }
        services.shell.setArchiveInProcess(project.getIBackup());
        services.prompts.setVolumeDirs(m_options.volumeDirs, m_options.skipMissing);
        // The members as the restore view hands them over, typed: the same tar arguments.
        const RestoreMembers members = ArchiveRestoreMembers::forPathsInTree(
            project, m_options.restoreItems, m_options.restoreTo.isEmpty(), isArchiveFileLongPath(object));
        container.restoreSelectedBackups(m_options.restoreTo, members, m_options.single);
    } else if (m_options.scheduled) {
        project.setProcessingBySchedule(true);
        container.queueBackup({ &project, CBackupContainer::OpBuild, {}, {}, false });
    } else {
        container.buildSelectedBackups();
    }
    session.wait();

    const Outcome o = outcomeOf(project, m_options.restore, !session.stopWhy.isEmpty(), object);
    session.save();
    m_last = QStringLiteral("%1 %2 %3").arg(o.code).arg(o.object, o.text);
    return o.code;
}

int ArchiveRun::runTriggerCheck()
{
    DriverServices services;
    ArgvOutFile argvOut;
    QString why;
    if (!readInputs(m_options, services, argvOut, &why))
        return notStarted(why);
    QueueSession session(m_options, services.shell, argvOut);
    CBackupContainer& container = session.container;
    // The scheduler state of the workspace's preferences, read only; without them the defaults.
    if (QFileInfo::exists(MainPreferences::prefsFilePath()))
        container.agentState().loadFromMainPrefs();
    container.loadRecentBackups();
    session.hookJobs(argvOut);

    struct RunLine
    {
        int code;
        QString object;
        QString name;
        QString text;
    };
    std::vector<RunLine> runs;
    container.onEntryEnded = [&](const CBackupContainer::QueueEntry& e) {
        const Outcome o = outcomeOf(*e.backup, false, !session.stopWhy.isEmpty(), QString());
        runs.push_back({ o.code, o.object, e.backup->name(), o.text });
    };
    const int queued = m_options.scheduleCheck ? container.checkNeedBackupingOnSchedule()
                                               : container.checkNeedBackupingOnMount(m_options.mountCheck);
    if (queued > 0)
        session.wait();
    session.save();

    QString out;
    int worst = runs.empty() ? 5 : 0;
    auto rank = [](int code) { return code == 1 ? 4 : code == 4 ? 3 : code == 3 ? 2 : code == 5 ? 1 : 0; };
    for (const RunLine& r : runs) {
        out += QStringLiteral("run\t%1\t%2\tarchive\t%3\t%4\n")
                   .arg(r.code)
                   .arg(DriverText::escapedField(r.object), DriverText::escapedField(r.name), r.text);
        if (rank(r.code) > rank(worst))
            worst = r.code;
    }
    const QByteArray bytes = NameCodec::encode(out);
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
    m_last = runs.empty() ? QStringLiteral("5 0 nothing due")
                          : QStringLiteral("%1 %2 runs").arg(worst).arg(runs.size());
    return runs.empty() ? 5 : worst;
}
