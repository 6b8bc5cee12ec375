#include "ProjectRun.h"

#include "DriverBackup3Controller.h"
#include "DriverShellServices.h"
#include "DriverText.h"
#include "DriverUiPrompts.h"
#include "platform/AppPaths.h"
#include "platform/NameCodec.h"
#include "platform/PlistBridge.h"
#include "snapshot/B3RestoreRequest.h"
#include "snapshot/IBackup3.h"
#include "snapshot/IBackup3Container.h"
#include "snapshot/IBackup3Controller.h"
#include "snapshot/IBackup3Processor.h"
#include "utilities/IMessageUtil.h"
#include "utilities/IShellServices.h"
#include "utilities/IVolumeBase.h"
#include "utilities/MainPreferences.h"
#include "utilities/QVLog.h"
#include "utilities/RunLog.h"
#include "utilities/UiPrompts.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int g_signalSocket[2] = { -1, -1 };

void onStopSignal(int signal)
{
    const int saved = errno;
    const char byte = char(signal);
    [[maybe_unused]] auto n = ::write(g_signalSocket[1], &byte, 1);
    errno = saved;
}

using DriverText::oneLine;
using DriverText::printToStderr;

} // namespace

ProjectRun::ProjectRun(const RunOptions& options)
    : m_options(options)
{ }

ProjectRun::~ProjectRun()
{
    // The container (and its engine) goes before the services it calls.
    m_container.reset();
    IBackup3Controller::setShared(nullptr);
    IShellServices::setShared(nullptr);
    UiPrompts::setShared(nullptr);
    IMessageUtil::setShared(nullptr);
}

int ProjectRun::stopSignalFd()
{
    return g_signalSocket[0];
}

void ProjectRun::catchStopSignals()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalSocket) != 0)
        return;
    struct sigaction sa = {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}

void ProjectRun::watchStopSignals()
{
    if (g_signalSocket[0] < 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalSocket[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char byte = 0;
        if (::read(g_signalSocket[0], &byte, 1) == 1)
            requestStop(byte == SIGINT ? QStringLiteral("SIGINT") : QStringLiteral("SIGTERM"));
    });
}

int ProjectRun::exitCodeFor(int resultCode, bool restore, const QString& version)
{
    switch (resultCode) {
    case 0:
        // Success means a new version (or a finished restore); a run that recorded nothing failed.
        return (restore || !version.isEmpty()) ? ExitSuccess : ExitFailed;
    case 3:
        return ExitWarnings;
    case 4:
        return ExitStopped;
    default:
        return ExitFailed;
    }
}

int ProjectRun::notStarted(const QString& reason)
{
    printToStderr(reason);
    m_lastLine = QStringLiteral("2 - ") + oneLine(reason);
    return ExitNotStarted;
}

bool ProjectRun::prepare(QString* reason)
{
    const QByteArray ws = NameCodec::encode(m_options.workspace);
    struct stat st = {};
    if (::stat(ws.constData(), &st) != 0 || !S_ISDIR(st.st_mode)
        || ::access(ws.constData(), R_OK | X_OK) != 0) {
        *reason = QStringLiteral("the workspace \"%1\" is not a readable folder").arg(m_options.workspace);
        return false;
    }
    // The list is checked before the container reads it: the container moves a damaged list
    // aside, and the driver must not change a workspace it cannot run.
    const QString listPath = m_options.workspace + QStringLiteral("/Backups/Projects.plist");
    const PlistBridge::ReadResult list = PlistBridge::readFile(listPath);
    const bool external = !m_options.external.isNull();
    if (external && list.status == PlistBridge::ReadStatus::Missing) {
        // A restore from a folder outside the list needs no list.
    } else if (list.status == PlistBridge::ReadStatus::Missing) {
        *reason = QStringLiteral("the workspace has no project list \"%1\"").arg(listPath);
        return false;
    }
    if (list.status != PlistBridge::ReadStatus::Ok || list.value.typeId() != QMetaType::QVariantMap) {
        *reason = QStringLiteral("the project list \"%1\" cannot be read: %2")
                      .arg(listPath, list.error.isEmpty() ? QStringLiteral("not a dictionary") : list.error);
        return false;
    }

    m_prompts = std::make_unique<DriverUiPrompts>();
    if (m_options.passwordStdin) {
        QByteArray password = DriverText::readAllStandardInput();
        if (password.endsWith('\n'))
            password.chop(1);
        if (password.endsWith('\r'))
            password.chop(1);
        if (password.isEmpty()) {
            *reason = QStringLiteral("--password-stdin: no password on standard input");
            return false;
        }
        m_prompts->setImagePassword(password);
    }
    if (!m_options.argvOut.isNull()) {
        QString error;
        if (!m_argvOut.open(m_options.argvOut, &error)) {
            *reason = QStringLiteral("--argv-out: ") + error;
            return false;
        }
    }

    // The neighbour services of a program without a user interface.
    AppPaths::setWorkspacePathOverride(m_options.workspace);
    m_shell = std::make_unique<DriverShellServices>();
    m_controller = std::make_unique<DriverBackup3Controller>(m_shell.get());
    m_controller->setFinishedHandler([this](int code) { onFinished(code); });
    IShellServices::setShared(m_shell.get());
    IBackup3Controller::setShared(m_controller.get());
    UiPrompts::setShared(m_prompts.get());
    // The application's preferences (run log, temporary folder ...), read without writing them.
    MainPreferences::shared().readPreferences();
    RunLog::install();

    // The volume table, filled before the list binds its places to mounted volumes (the
    // application fills it at start; it then follows the mount table by itself).
    IVolumeBase::shared().fill();

    auto processor = std::make_unique<IBackup3Processor>();
    m_processor = processor.get();
    if (m_argvOut.isOpen()) {
        m_processor->setPassArgumentsObserver([this](const QStringList& argv) {
            if (!m_argvOut.append(argv))
                printToStderr(QStringLiteral("--argv-out: a vector could not be written"));
        });
    }
    m_container = std::make_unique<IBackup3Container>(std::move(processor), listPath);
    // The selection is kept as the list holds it, as the pane does at start.
    m_container->initFirstBackup3();

    m_project = external ? externalProject(reason) : findProject(reason);
    if (!m_project)
        return false;
    if (m_options.restore && !m_project->isInProcess() && !prepareRestore(reason))
        return false;
    m_restore = m_project->needRestore();
    if (m_project->isInProcess()) {
        *reason = QStringLiteral("the project \"%1\" is already running").arg(m_project->name());
        return false;
    }
    if (!m_restore && !m_project->isReadyForInterface()) {
        *reason = QStringLiteral("the project \"%1\" is not ready: it has no source").arg(m_project->name());
        return false;
    }
    // The run log goes to the workspace's Logs folder, made as the application makes it.
    if (MainPreferences::shared().collectLogs()) {
        const QString logs = RunLog::shared().getLogsPath();
        ::mkdir(NameCodec::encode(logs).constData(), 0755);
    }
    return true;
}

std::shared_ptr<IBackup3> ProjectRun::findProject(QString* reason) const
{
    QList<std::shared_ptr<IBackup3>> found;
    for (const auto& p : m_container->backupList()) {
        const bool match = m_options.projectUUID.isNull()
            ? p->name() == m_options.projectName
            : p->UUID().compare(m_options.projectUUID, Qt::CaseInsensitive) == 0;
        if (match)
            found.append(p);
    }
    const QString what = m_options.projectUUID.isNull()
        ? QStringLiteral("named \"%1\"").arg(m_options.projectName)
        : QStringLiteral("with the identifier %1").arg(m_options.projectUUID);
    if (found.isEmpty()) {
        *reason = QStringLiteral("the workspace has no project %1").arg(what);
        return nullptr;
    }
    if (found.size() > 1) {
        *reason = QStringLiteral("the workspace has %1 projects %2").arg(found.size()).arg(what);
        return nullptr;
    }
    return found.first();
}

std::shared_ptr<IBackup3> ProjectRun::externalProject(QString* reason) const
{
    const QString refusal = B3RestoreRequest::validateExternalFolder({ m_options.external });
    if (!refusal.isNull()) {
        *reason = QStringLiteral("--external \"%1\": %2").arg(m_options.external, refusal);
        return nullptr;
    }
    auto project = std::make_shared<IBackup3>();
    QString folderName = m_options.external;
    folderName = folderName.mid(folderName.lastIndexOf(QLatin1Char('/')) + 1);
    project->setName(B3RestoreRequest::externalRestoreName(folderName));
    project->setExternalRestoreFlag();
    // The driver restores with the rights of the user who runs it.
    project->setUseAdminPrivileges(false);
    return project;
}

bool ProjectRun::prepareRestore(QString* reason)
{
    IBackup3& P = *m_project;
    QString projectFolder;
    if (!m_options.external.isNull()) {
        projectFolder = m_options.external;
    } else if (P.useBDI()) {
        *reason = QStringLiteral("the project \"%1\" keeps its versions in a disk image; the driver restores "
                                 "only folder destinations")
                      .arg(P.name());
        return false;
    } else {
        const QString info = P.QV3InfoPath();
        if (info.isEmpty()) {
            *reason
                = QStringLiteral("the project \"%1\" has no version list at its destination").arg(P.name());
            return false;
        }
        projectFolder = info.left(info.lastIndexOf(QLatin1Char('/')));
    }
    const B3RestoreRequest::Listing listing = B3RestoreRequest::listVersions(projectFolder);
    if (!listing.readable) {
        *reason = QStringLiteral("the version list of \"%1\" cannot be read").arg(projectFolder);
        return false;
    }
    int chosen = listing.selected;
    if (!m_options.restoreVersion.isNull()) {
        chosen = -1;
        for (int i = 0; i < listing.versions.size(); ++i)
            if (listing.versions.at(i).enabled && listing.versions.at(i).folder == m_options.restoreVersion)
                chosen = i;
        if (chosen < 0) {
            *reason = QStringLiteral("--version: the project has no version folder \"%1\"")
                          .arg(m_options.restoreVersion);
            return false;
        }
    }
    if (chosen < 0) {
        *reason = QCoreApplication::translate("Localizable", "Files for restore not found");
        return false;
    }
    const B3RestoreRequest::Version& version = listing.versions.at(chosen);
    const QList<B3RestoreRequest::SourceRow> rows = B3RestoreRequest::sourceRows(projectFolder, version);
    const QString versionPath = projectFolder + QLatin1Char('/') + version.folder;
    std::optional<QList<B3RestoreItem>> items;
    QString error;
    if (m_options.restoreItems.isEmpty()) {
        items = B3RestoreRequest::rowsForAll(rows, &error);
    } else {
        QList<B3RestoreRequest::Selected> selection;
        for (const QString& item : m_options.restoreItems) {
            const auto s = B3RestoreRequest::parseItem(rows, versionPath, item, &error);
            if (!s) {
                *reason = QStringLiteral("--item: ") + error;
                return false;
            }
            selection << *s;
        }
        items = B3RestoreRequest::rowsForSelection(rows, selection, &error);
    }
    if (!items) {
        *reason = error;
        return false;
    }
    if (!m_options.restoreTo.isNull()) {
        struct stat st = {};
        if (::stat(NameCodec::encode(m_options.restoreTo).constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            *reason = QStringLiteral("--to: \"%1\" is not a folder").arg(m_options.restoreTo);
            return false;
        }
    } else if (!m_options.external.isNull()) {
        // The places a folder from elsewhere names are shown before anything is written there;
        // --in-place is the answer.
        for (const QString& target : B3RestoreRequest::inPlaceTargets(*items)) {
            const QByteArray line = "target: " + NameCodec::encode(target) + '\n';
            std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
        }
        std::fflush(stderr);
    }
    P.setRestoreData(*items);
    P.setRestorePath(m_options.restoreTo);
    m_restoreVersion = version.folder;
    return true;
}

void ProjectRun::start()
{
    if (m_options.scheduled) {
        // As the schedule check queues a due project: marked as started by the schedule, so
        // that no dialog waits for a missing volume.
        m_container->addBackup3ToProcessingList(m_project);
        m_project->setProcessingBySchedule(true);
        m_project->setProcessingCodeString(QVProcessingCodeString());
        m_container->processNext();
    } else {
        m_container->processBackup3(m_project);
    }
}

void ProjectRun::requestStop(const QString& why)
{
    if (m_finished)
        return;
    printToStderr(QStringLiteral("stop requested (%1)").arg(why));
    m_container->terminateProcess();
}

void ProjectRun::onFinished(int code)
{
    // The first end is the run's; the list reports nothing after it for this start.
    if (m_finished)
        return;
    m_finished = true;
    m_resultCode = code;
    QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
}

int ProjectRun::exec()
{
    QString reason;
    if (!prepare(&reason))
        return notStarted(reason);

    watchStopSignals();
    if (m_options.timeoutSeconds > 0) {
        QTimer::singleShot(int(m_options.timeoutSeconds * 1000.0), this,
            [this] { requestStop(QStringLiteral("timeout of %1 s").arg(m_options.timeoutSeconds)); });
    }
    start();
    if (!m_finished && !m_project->isInProcess()) {
        // Nothing ran and nothing was reported: the list refused the start.
        m_finished = true;
        m_resultCode = 1;
    }
    if (!m_finished)
        QCoreApplication::exec();

    const QString version
        = m_restore && !m_restoreVersion.isEmpty() ? m_restoreVersion : m_processor->lastVersionFolderName();
    QString status = oneLine(m_processor->lastReportText());
    if (status.isEmpty())
        status = oneLine(m_project->lastStatusString());
    if (status.isEmpty())
        status = QStringLiteral("No run");
    const int exitCode = exitCodeFor(m_resultCode, m_restore, version);
    if (exitCode == ExitFailed && m_resultCode == 0)
        status += QStringLiteral(" (no version was recorded)");
    m_lastLine = QString::number(exitCode) + QLatin1Char(' ')
        + (version.isEmpty() || (exitCode == ExitFailed && !m_restore) ? QStringLiteral("-") : version)
        + QLatin1Char(' ') + status;
    return exitCode;
}
