#include "SyncProjectRun.h"

#include "DriverShellServices.h"
#include "DriverText.h"
#include "DriverUiPrompts.h"
#include "ProjectRun.h"
#include "platform/AppPaths.h"
#include "platform/Clock.h"
#include "platform/NameCodec.h"
#include "platform/PlistBridge.h"
#include "projects/ILocation.h"
#include "sync/CloneVerdict.h"
#include "sync/ICloneStartWarner.h"
#include "sync/ISynchron.h"
#include "sync/ISynchronContainer.h"
#include "sync/ISynchronProcController.h"
#include "sync/ISynchronizeController.h"
#include "sync/IAnalyzeController.h"
#include "sync/QVProcEngineRunner.h"
#include "projects/IProcessCard.h"
#include "sync/SyncFolders.h"
#include "utilities/CommonFunctions.h"
#include "utilities/IMessageUtil.h"
#include "utilities/IShellServices.h"
#include "utilities/IVolumeBase.h"
#include "utilities/MainPreferences.h"
#include "utilities/QVLog.h"
#include "utilities/RunLog.h"
#include "utilities/UiPrompts.h"

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using DriverText::oneLine;
using DriverText::printToStderr;

// The pane as the driver has it: no window; the clone pre-flight check gives its verdict, writes
// the run card's flags and prints "verdict: <text>".
class DriverSynchronizeController : public HeadlessSynchronizeController
{
public:
    bool analyzeClone(ISynchron* project, bool, QString* text) override
    {
        if (!project)
            return false;
        const CloneVerdict::Result r = CloneVerdict::judge(CloneVerdict::factsForProject(*project));
        CloneVerdict::applyToCard(project->card(), r);
        const QByteArray line = "verdict: " + NameCodec::encode(oneLine(r.text)) + '\n';
        std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
        std::fflush(stdout);
        if (text)
            *text = r.text;
        return r.allowed;
    }
    // The run's indicator as the pane would draw it: "indicator: N" (whole percent) on stderr
    // whenever the shown value changes.
    void processIndicator() override
    {
        if (!indicatorOf)
            return;
        const int percent = int(std::floor(indicatorOf->indicatorPosition()));
        if (percent == m_shown)
            return;
        m_shown = percent;
        DriverText::printLineToStderr(QStringLiteral("indicator: %1").arg(percent));
    }
    std::shared_ptr<ISynchron> indicatorOf;

private:
    int m_shown = 0;
};

// The start warning of a clone: confirmed only when the command line says so.
class DriverCloneStartWarner : public ICloneStartWarner
{
public:
    explicit DriverCloneStartWarner(bool confirm)
        : m_confirm(confirm)
    { }
    bool showForClone(ISynchron*) override
    {
        asked = true;
        return m_confirm;
    }
    bool asked = false;

private:
    bool m_confirm;
};

DriverCloneStartWarner* g_warner = nullptr;

// The time of --now for the checks and the dates they move; the monotonic clock stays real.
class FixedClock : public Clock
{
public:
    explicit FixedClock(const QDateTime& now)
        : m_now(now.toLocalTime())
    { }
    QDateTime now() const override { return m_now; }
    qint64 monotonicMs() const override { return Clock::system().monotonicMs(); }

private:
    QDateTime m_now;
};

// The worst of the runs' codes: a failure, then a stop, then warnings, then success.
int worstCode(const QList<int>& codes)
{
    for (int code : { 1, 4, 3 })
        if (codes.contains(code))
            return code;
    return 0;
}

} // namespace

SyncProjectRun::SyncProjectRun(const RunOptions& options)
    : m_options(options)
    , m_type(options.kit == QLatin1String("clone") ? 1 : 0)
{ }

SyncProjectRun::~SyncProjectRun()
{
    // The container (and its run controller) goes before the services it calls.
    m_container.reset();
    ISynchronizeController::setShared(nullptr);
    ICloneStartWarner::setShared(nullptr);
    delete g_warner;
    g_warner = nullptr;
    IShellServices::setShared(nullptr);
    UiPrompts::setShared(nullptr);
    if (m_clock)
        Clock::setCurrent(nullptr);
}

bool SyncProjectRun::readStdin(QString* reason)
{
    if (!m_options.adminPasswordStdin && !m_options.passwordStdin)
        return true;
    const QByteArray input = DriverText::readAllStandardInput();
    // The administrator's line comes first; these projects have no password of their own, so a
    // further line is read and not used.
    QByteArray admin = input.left(input.indexOf('\n'));
    if (admin.endsWith('\r'))
        admin.chop(1);
    if (m_options.adminPasswordStdin) {
        if (admin.isEmpty()) {
            *reason = QStringLiteral("--admin-password-stdin: no password on standard input");
            return false;
        }
        m_prompts->setAdminPassword(admin);
    }
    return true;
}

int SyncProjectRun::notStarted(const QString& reason)
{
    printToStderr(reason);
    m_lastLine = QStringLiteral("2 - ") + oneLine(reason);
    return 2;
}

bool SyncProjectRun::prepare(QString* reason)
{
    const QByteArray ws = NameCodec::encode(m_options.workspace);
    struct stat st = {};
    if (::stat(ws.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || ::access(ws.constData(), R_OK | X_OK) != 0) {
        *reason = QStringLiteral("the workspace \"%1\" is not a readable folder").arg(m_options.workspace);
        return false;
    }
    // Both lists are checked before the container reads them: the container moves a damaged list
    // aside, and the driver must not change a workspace it cannot run.
    for (const char* folder : { "Syncs", "Clones" }) {
        const QString path = m_options.workspace + QLatin1Char('/') + QLatin1String(folder)
            + QStringLiteral("/Projects.plist");
        const PlistBridge::ReadResult list = PlistBridge::readFile(path);
        if (list.status == PlistBridge::ReadStatus::Missing)
            continue;
        if (list.status != PlistBridge::ReadStatus::Ok || list.value.typeId() != QMetaType::QVariantMap) {
            *reason = QStringLiteral("the project list \"%1\" cannot be read: %2")
                          .arg(path, list.error.isEmpty() ? QStringLiteral("not a dictionary") : list.error);
            return false;
        }
    }
    if (!m_options.argvOut.isNull()) {
        QString error;
        if (!m_argvOut.open(m_options.argvOut, &error)) {
            *reason = QStringLiteral("--argv-out: ") + error;
            return false;
        }
    }
    AppPaths::setWorkspacePathOverride(m_options.workspace);
    m_prompts = std::make_unique<DriverUiPrompts>();
    m_shell = std::make_unique<DriverShellServices>();
    m_pane = std::make_unique<DriverSynchronizeController>();
    if (!readStdin(reason))
        return false;
    if (m_options.now.isValid()) {
        m_clock = std::make_unique<FixedClock>(m_options.now);
        Clock::setCurrent(m_clock.get());
    }
    g_warner = new DriverCloneStartWarner(m_options.confirm);
    IShellServices::setShared(m_shell.get());
    UiPrompts::setShared(m_prompts.get());
    ISynchronizeController::setShared(m_pane.get());
    ICloneStartWarner::setShared(g_warner);
    // The application's preferences (run log, temporary folder ...), read without writing them.
    MainPreferences::shared().readPreferences();
    RunLog::install();
    IVolumeBase::shared().fill();
    QVProcEngineRunner::install();
    if (!m_options.programOut.isNull()) {
        m_programOut = std::make_unique<QFile>(m_options.programOut);
        if (!m_programOut->open(QIODevice::WriteOnly | QIODevice::Append)) {
            *reason = QStringLiteral("--program-out: ") + m_programOut->errorString();
            return false;
        }
        QFile* out = m_programOut.get();
        QVProcEngineRunner::setProgramObserver([out](const QByteArray& program) {
            out->write(program);
            out->write(QByteArray(1, '\0'));
            out->flush();
        });
    }


    auto controller = std::make_unique<ISynchronProcController>();
    m_controller = controller.get();
    // Every command the run starts is a job of its own: its vector, then the job's end.
    m_controller->setCommandObserver([this](const QStringList& argv, pid_t group) {
        if (m_argvOut.isOpen() && (!m_argvOut.append(argv) || !m_argvOut.append(QStringList())))
            printToStderr(QStringLiteral("--argv-out: a vector could not be written"));
        if (group > 0)
            DriverText::printLineToStderr(QStringLiteral("pgid: %1").arg(long(group)));
    });
    m_controller->setEndObserver([this](int result, const QString& text) { onEnded(result, text); });
    m_container = std::make_unique<ISynchronContainer>(std::move(controller), m_options.workspace);
    m_container->setInterfaceController(m_pane.get());
    m_container->reInit();
    m_container->setCurrentSyncType(m_type);
    if (m_options.scheduleCheck || !m_options.mountCheck.isNull())
        return true;

    QList<qsizetype> found;
    const auto& list = m_container->listByType(m_type);
    for (qsizetype i = 0; i < list.size(); ++i)
        if (list.at(i)->isConfigured() && list.at(i)->name() == m_options.projectName)
            found << i;
    const QString kind = m_type == 1 ? QStringLiteral("clone") : QStringLiteral("synchronization");
    if (found.size() != 1) {
        *reason = found.isEmpty()
            ? QStringLiteral("the workspace has no %1 project named \"%2\"").arg(kind, m_options.projectName)
            : QStringLiteral("the workspace has %1 %2 projects named \"%3\"")
                  .arg(found.size())
                  .arg(kind, m_options.projectName);
        return false;
    }
    m_container->setCurrentSynchronByIndex(found.first(), m_type);
    m_project = list.at(found.first());
    static_cast<DriverSynchronizeController*>(m_pane.get())->indicatorOf = m_project;
    if (m_options.check)
        return true; // the verdict says whether the places allow a start
    if (m_project->isInProcess()) {
        *reason = QStringLiteral("the project \"%1\" is already running").arg(m_project->name());
        return false;
    }
    if (m_options.analyze) {
        // The Analyze button is off without readiness bit 8.
        if (!(m_project->getReady() & ISynchron::ReadyAnalyse)) {
            *reason = QStringLiteral("the project \"%1\" cannot be analysed").arg(m_project->name());
            return false;
        }
        m_tree = std::make_unique<AnalyzeTreeModel>();
        IAnalyzeController::setShared(m_tree.get());
        m_tree->setSynchron(m_project);
    }
    if (!m_options.scheduled && !m_project->isReadyForInterface()) {
        const QString a = m_project->firstFolder(), b = m_project->secondFolder();
        const QString why = !a.isEmpty() && !b.isEmpty() && SyncFolders::areNested(a, b)
            ? QStringLiteral("Folders was't selected correctly")
            : QStringLiteral("its places are not available");
        *reason = QStringLiteral("the project \"%1\" is not ready: %2").arg(m_project->name(), why);
        return false;
    }
    if (MainPreferences::shared().collectLogs()) {
        const QString logs = RunLog::shared().getLogsPath();
        ::mkdir(NameCodec::encode(logs).constData(), 0755);
    }
    return true;
}

void SyncProjectRun::requestStop(const QString& why)
{
    if (m_finished)
        return;
    printToStderr(QStringLiteral("stop requested (%1)").arg(why));
    if (m_options.scheduleCheck || !m_options.mountCheck.isNull()) {
        // A check stops the run in progress and starts nothing more.
        m_checkStopped = true;
        const auto queued = m_container->processingList();
        for (const auto& p : queued)
            m_container->removeProjectFromProcessingList(p);
        if (!m_container->isProcessing())
            QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
    }
    m_container->stopProcessAnyProjects();
}

void SyncProjectRun::printRunLine(const ISynchron& project, int code, const QString& status)
{
    const QString device = project.isClone() ? m_controller->correctedDestinationDevice() : QString();
    const QString line = QStringLiteral("run\t%1\t%2\t%3\t%4\t%5\n")
                             .arg(code)
                             .arg(device.isEmpty() ? QStringLiteral("-") : oneLine(device),
                                 project.isClone() ? QStringLiteral("clone") : QStringLiteral("sync"),
                                 DriverText::escapedField(project.name()), oneLine(status));
    const QByteArray bytes = NameCodec::encode(line);
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
    m_checkCodes << code;
}

void SyncProjectRun::pumpQueue()
{
    while (!m_checkStopped && !m_container->isProcessing() && m_container->isQueueNotEmpty()) {
        const auto project = m_container->processingList().first();
        m_checkRun = project;
        m_container->processNext();
        if (m_container->isProcessing())
            return;
        if (m_checkRun) {
            // The start began no run (a clone refused by its check, a start that failed at once
            // before the controller took it).
            m_checkRun.reset();
            printRunLine(*project, 1, project->lastStatusString());
        }
    }
    if (!m_container->isProcessing())
        QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
}

int SyncProjectRun::execCloneCheck()
{
    // As the pane shows it, for display only: the card keeps its flags and nothing is saved.
    const CloneVerdict::Result r = CloneVerdict::judge(CloneVerdict::factsForProject(*m_project));
    printToStderr(QStringLiteral("verdict: ") + oneLine(r.text));
    printToStderr(QStringLiteral("anchor: ") + r.anchor);
    m_lastLine = QStringLiteral("%1 - %2").arg(r.allowed ? 0 : 1).arg(oneLine(r.text));
    return r.allowed ? 0 : 1;
}

int SyncProjectRun::execCheck()
{
    if (m_options.scheduleCheck)
        m_container->checkNeedSynchronizeOnSchedule();
    else
        m_container->checkNeedSynchronizeOnMount(m_options.mountCheck);
    if (!m_container->isQueueNotEmpty()) {
        m_container->save();
        m_lastLine = QStringLiteral("5 0 nothing due");
        return 5;
    }
    QTimer::singleShot(0, this, [this] { pumpQueue(); });
    QCoreApplication::exec();
    m_container->save();
    const int code = worstCode(m_checkCodes);
    m_lastLine = QStringLiteral("%1 %2 runs").arg(code).arg(m_checkCodes.size());
    return code;
}

void SyncProjectRun::onEnded(int result, const QString& text)
{
    if (m_options.scheduleCheck || !m_options.mountCheck.isNull()) {
        if (m_checkRun) {
            const auto project = m_checkRun;
            m_checkRun.reset();
            printRunLine(*project, result < 0 ? 1 : result, text);
        }
        QTimer::singleShot(0, this, [this] { pumpQueue(); });
        return;
    }
    if (m_finished)
        return;
    m_finished = true;
    m_result = result;
    m_endText = text;
    m_engineEofMs = Clock::system().monotonicMs() - m_runStartMs;
    QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
}

namespace {

// "<flags> <check>\t<local path>\0" per node, depth first in child order.
void writeTree(const IAnalyzeFileSystemItem* item, QByteArray* out)
{
    for (const auto& c : item->childrenArray()) {
        *out += QByteArray::number(quint32(c->flags()), 16).rightJustified(8, '0') + ' '
            + QByteArray::number(c->check()) + '\t' + NameCodec::encode(c->localPath()) + '\0';
        writeTree(c.get(), out);
    }
}

} // namespace

int SyncProjectRun::execAnalyze()
{
    m_runStartMs = Clock::system().monotonicMs();
    // As the outline starts an analysis: the card's task and state, the project in process with
    // operation 11, the tree prepared without results, then the run controller.
    if (IProcessCard* card = m_project->processCard()) {
        card->add(taskAnalyze);
        card->set(stateRunning);
    }
    m_project->setInProcess(true, ISynchron::OpAnalysing);
    m_pane->setSyncAnalyzeProcess(true);
    m_pane->setNoSendTextInfo(true);
    m_tree->prepareFileTree();
    m_tree->setFileTreeFlagOff(IAnalyzeFileSystemItem::ResultMask);
    m_tree->setShowArrowsAndColors(false);
    m_controller->processProject(m_project);
    if (!m_finished && !m_controller->isProcessing()) {
        m_finished = true;
        m_result = 1;
        m_endText = QStringLiteral("Analyze failed");
    }
    if (!m_finished)
        QCoreApplication::exec();
    const qint64 treeMs = Clock::system().monotonicMs() - m_runStartMs;
    const qint64 eofMs = m_engineEofMs >= 0 ? m_engineEofMs : treeMs;
    printToStderr(QStringLiteral("timing: engine-eof %1 tree-complete %2")
                      .arg(double(eofMs) / 1000.0, 0, 'f', 3)
                      .arg(double(treeMs) / 1000.0, 0, 'f', 3));
    const IAnalyzeFileSystemItem* root = m_tree->treeRoot();
    if (!m_options.treeOut.isNull()) {
        QByteArray bytes;
        if (root)
            writeTree(root, &bytes);
        QFile f(m_options.treeOut);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
            printToStderr(QStringLiteral("--tree-out: the tree could not be written"));
    }
    const int code = m_result == 0 ? 0 : m_result == 4 ? 4 : 1;
    const int nodes = root && code == 0 ? root->resultCount() : 0;
    QString status = oneLine(m_endText);
    if (status.isEmpty())
        status = QStringLiteral("Analyze failed");
    m_lastLine = QStringLiteral("%1 %2 %3").arg(code).arg(nodes).arg(status);
    IAnalyzeController::setShared(nullptr);
    return code;
}

int SyncProjectRun::exec()
{
    QString reason;
    if (!prepare(&reason))
        return notStarted(reason);

    if (const int fd = ProjectRun::stopSignalFd(); fd >= 0) {
        auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this, fd] {
            char byte = 0;
            if (::read(fd, &byte, 1) == 1)
                requestStop(byte == SIGINT ? QStringLiteral("SIGINT") : QStringLiteral("SIGTERM"));
        });
    }
    if (m_options.timeoutSeconds > 0) {
        QTimer::singleShot(int(m_options.timeoutSeconds * 1000.0), this,
            [this] { requestStop(QStringLiteral("timeout of %1 s").arg(m_options.timeoutSeconds)); });
    }
    if (m_options.scheduleCheck || !m_options.mountCheck.isNull())
        return execCheck();
    if (m_options.check)
        return execCloneCheck();
    if (m_options.analyze)
        return execAnalyze();
    if (m_options.scheduled) {
        // As the schedule check queues a due project: no warning, no prompt.
        m_project->setProcessingCodeString(QVProcessingCodeString());
        m_project->setProcessingBySchedule(true);
        m_container->addSynchronToProcessingList(m_project);
        m_container->processNext();
    } else if (m_options.asr) {
        m_container->processCurrentProjectCloneASR();
    } else {
        m_container->processCurrentProject();
    }
    if (!m_finished && !m_container->isProcessing()) {
        // The list began no run.
        m_finished = true;
        if (g_warner && g_warner->asked && !m_options.confirm) {
            m_result = 4;
            m_endText = QStringLiteral("Not confirmed");
        } else if (!m_project->lastStatusString().isEmpty()
            && (m_project->isLastProcessFailed()
                // A clone refused by its check before the start: the list posted its end text.
                || (m_type == 1 && m_project->lastStatusString() == QLatin1String("Cloning failed.")))) {
            m_result = 1;
            m_endText = m_project->lastStatusString();
        } else {
            m_result = 2;
            m_endText = QStringLiteral("the project \"%1\" did not start").arg(m_project->name());
        }
    }
    if (!m_finished || m_container->isProcessing())
        QCoreApplication::exec();
    // The next dates and results persist, as the application saves its lists at quit.
    m_container->save();

    int code = 1;
    switch (m_result) {
    case 0:
    case 2:
    case 3:
    case 4:
        code = m_result;
        break;
    default:
        code = 1;
    }
    QString status = oneLine(m_endText);
    if (status.isEmpty())
        status = QStringLiteral("No run");
    // A clone names the destination device the engine moved it to.
    const QString device = m_type == 1 ? m_controller->correctedDestinationDevice() : QString();
    m_lastLine = QString::number(code) + QLatin1Char(' ')
        + (device.isEmpty() ? QStringLiteral("-") : oneLine(device)) + QLatin1Char(' ') + status;
    return code;
}
