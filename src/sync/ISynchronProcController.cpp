#include "sync/ISynchronProcController.h"

#include "platform/AppPaths.h"
#include "platform/MainThread.h"
#include "platform/PlistBridge.h"
#include "projects/ILocation.h"
#include "sync/CloneBootSteps.h"
#include "sync/IQVProcRunner.h"
#include "sync/ISynchron.h"
#include "sync/ISynchronContainer.h"
#include "sync/ISynchronizeController.h"
#include "sync/SyncFolders.h"
#include "utilities/CommonFunctions.h"
#include "utilities/IAuthorizer.h"
#include "utilities/ICommon.h"
#include "utilities/IProcController.h"
#include "utilities/IShellServices.h"
#include "utilities/IVolumeBase.h"
#include "utilities/LogOptions.h"
#include "utilities/MainPreferences.h"
#include "utilities/RsyncExcludes.h"
#include "utilities/RsyncPassRun.h"
#include "utilities/UiPrompts.h"
#include "utilities/WorkEndStatus.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <unistd.h>

namespace {

bool isFolder(const QString& path)
{
    return !path.isEmpty() && QFileInfo(path).isDir();
}

} // namespace

ISynchronProcController::ISynchronProcController(const QString& toolPath, QObject* parent)
    : QObject(parent)
{
    m_parser.setSink(this);
    const QString path = toolPath.isNull() ? testToolPath() : toolPath;
    const QFileInfo info(path);
    if (!path.isEmpty() && info.isFile() && info.isExecutable())
        m_toolPath = path;
    // Watches a pass whose output is complete while its child still runs (an rsync that hangs
    // after a full disk): one second later the child is stopped.
    m_bootTools = std::make_unique<CloneBootTools>();
    m_controlTimer.setInterval(500);
    connect(&m_controlTimer, &QTimer::timeout, this, &ISynchronProcController::controlTick);
}

ISynchronProcController::~ISynchronProcController()
{
    m_sinkProject = nullptr;
    m_run.reset();
    m_engine.reset();
}

void ISynchronProcController::setCloneBootTools(std::unique_ptr<CloneBootTools> tools)
{
    m_bootTools = tools ? std::move(tools) : std::make_unique<CloneBootTools>();
}

QString ISynchronProcController::testToolPath()
{
    const QString path = AppPaths::resourcePath(QStringLiteral("rsync3"));
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable() ? path : QString();
}

bool ISynchronProcController::isProcessing() const
{
    return m_synchron != nullptr;
}

void ISynchronProcController::message(const QString& text, quint64 options)
{
    if (m_synchron)
        m_synchron->processMessage(text, options, m_synchron.get());
}

// ---- Start --------------------------------------------------------------------------------------

void ISynchronProcController::processProject(const std::shared_ptr<ISynchron>& project)
{
    m_processFinishedByReason = 0;
    m_processStatus = wesClear;
    m_userStopped = false;
    m_ending = false;
    m_lastText.clear();
    m_correctedDevice.clear();
    m_synchron = project;
    if (!project) {
        qWarning("No synchron in param of PROCESS");
        failureEnd();
        return;
    }
    ISynchron& P = *project;
    if (m_toolPath.isEmpty()) {
        message(tr("Tool RSYNC not found"), LogWord::WindowPrefixedNow);
        failureEnd();
        return;
    }
    if (P.isClone()) {
        // A clone copies as root, after the administrator's word (asked only on a start by hand).
        if (!IAuthorizer::shared().authorizeWithUser(!P.isProcessingBySchedule())) {
            m_processFinishedByReason = 1;
            failureEnd();
            return;
        }
        P.doAutomount();
        auto dest = P.secondLocation();
        auto source = P.firstLocation();
        if (!dest || !source || !dest->prepare() || !source->prepare()) {
            failureEnd();
            return;
        }
    } else if (settlePlaces(P) != Settle::Ready) {
        failureEnd();
        return;
    }
    // Analyses and clones of a volume group are the outside engine's work.
    if (P.isInState(ISynchron::OpAnalysing) || (P.isClone() && P.isDoubleVolumeClone())) {
        m_pass = 0;
        m_passCount = P.isClone() ? 1 : P.passCount();
        if (!startEngine())
            failureEnd();
        return;
    }
    m_admin = P.isClone() || P.isUseAdminPrivilegesForPass(-1);
    m_pass = 0;
    m_passCount = P.isClone() ? 1 : P.passCount();
    m_parser.prepare(m_passCount, P.isClone());
    if (P.isClone()) {
        // The destination is made able to start the computer where the clone can be; a step that
        // fails leaves a warning and the copy goes on.
        ISynchronContainer* list = ISynchronContainer::shared();
        const bool bootable = list && list->isCloneWillBeBootable(&P);
        m_bootTools->onRun = [this](const QStringList& argv, pid_t group) {
            if (m_commandObserver)
                m_commandObserver(argv, group);
        };
        m_bootTools->stopWanted = [this] { return m_userStopped; };
        // The steps wait in a nested event loop: the project must outlive a stop or a quit there.
        const auto keep = project;
        const CloneBootSteps::Outcome prepared = CloneBootSteps::prepare(*m_bootTools, P.firstFolder(),
            P.secondFolder(), bootable, [this](const QString& text, quint64 options) { message(text, options); });
        // A stop during the preparation ends the run before anything is copied.
        if (m_userStopped) {
            finishTerminated();
            return;
        }
        if (prepared == CloneBootSteps::Outcome::StartFailed) {
            failureEnd();
            return;
        }
        if (prepared == CloneBootSteps::Outcome::NotBootable)
            m_parser.addProcessStatus(wesWarnings);
    }
    if (!startPass()) {
        failureEnd();
        return;
    }
    m_controlTimer.start();
}

ISynchronProcController::Settle ISynchronProcController::settlePlaces(ISynchron& P)
{
    for (;;) {
        if (P.isUseAdminPrivilegesForPass(-1) && !IAuthorizer::shared().authorize()) {
            m_processFinishedByReason = 1;
            return Settle::Failed;
        }
        auto first = P.firstLocation();
        auto second = P.secondLocation();
        if (!first || !second) {
            message(tr("Folders was't selected correctly"), LogWord::WindowPrefixedNow);
            return Settle::Failed;
        }
        const bool enabled = isFolder(P.firstFolder()) && isFolder(P.secondFolder());
        if (!enabled) {
            // A scheduled run asks nothing: the place checks below name what is missing.
            if (!P.doAutomount() && !P.isProcessingBySchedule()) {
                UiPrompts::VolumeWaitRequest request;
                request.volumeName = first->getDisplayName();
                request.deviceType = first->getDeviceType();
                request.isActive = [first] { return first->isActiveForce(); };
                if (UiPrompts::shared().waitForVolume(request) == 1)
                    continue;
                return Settle::Failed;
            }
            bool again = false;
            for (int which = 0; which < 2 && !again; ++which) {
                const auto place = which == 0 ? first : second;
                if (place->prepare() && isFolder(which == 0 ? P.firstFolder() : P.secondFolder()))
                    continue;
                const bool isSource = (which == 0 && P.direction() == 0) || (which == 1 && P.direction() == 1);
                if (P.isProcessingBySchedule()) {
                    message(isSource ? tr("Source folder not found.") : tr("Destination folder not found."),
                        LogWord::WindowPrefixedNow);
                    return Settle::Failed;
                }
                UiPrompts::FolderChoiceRequest request;
                request.prompt = isSource
                    ? tr("Source folder not found. Please choose another source folder.")
                    : tr("Destination folder not found. Please choose another destination folder.");
                request.startPath = which == 0 ? P.firstFolder() : P.secondFolder();
                const QString chosen = UiPrompts::shared().chooseFolder(request);
                if (chosen.isNull())
                    return Settle::Failed;
                if (which == 0)
                    P.setFirstFolder(chosen);
                else
                    P.setSecondFolder(chosen);
                again = true;
            }
            if (again)
                continue;
        }
        // Equal folders, or one inside the other: every run would copy a folder into itself (and
        // with delete on, wipe the outer folder's other files), so nothing starts.
        const QString a = P.firstFolder(), b = P.secondFolder();
        if (!isFolder(a) || !isFolder(b) || SyncFolders::areNested(a, b)) {
            message(tr("Folders was't selected correctly"), LogWord::WindowPrefixedNow);
            return Settle::Failed;
        }
        return Settle::Ready;
    }
}

QStringList ISynchronProcController::prepareTaskArgs()
{
    QStringList args;
    if (m_pass < 0 || !m_synchron)
        return args;
    ISynchron& P = *m_synchron;
    args << m_toolPath;
    IProcController::rsyncOptions(&args, &P, 0, true);
    if (P.isClone()) {
        // The system's own lists stay out of every clone.
        const QString list = PlistValue::string(
            PlistBridge::readFile(AppPaths::resourcePath(QStringLiteral("ParamProc.plist"))).map(),
            QStringLiteral("clone_monosystem_excludes"));
        if (!list.isEmpty()) {
            const QString file = ISynchronContainer::shared()
                ? ISynchronContainer::shared()->generateTempFileName() + QStringLiteral(".system.txt")
                : QString();
            QFile f(file);
            if (!file.isEmpty() && f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
                f.write(list.toUtf8());
                f.close();
                P.setExcludesTmpFileNameCustom(QString(), file);
                args << QStringLiteral("--exclude-from=") + file;
            }
        }
        if (P.saveCustomExcludesIntoTmpFileForPass(m_pass))
            args << QStringLiteral("--exclude-from=") + P.customExcludesTmpFileName();
        args << P.customExcludeArguments();
    } else {
        if (P.isExcludeInvisible())
            args << QStringLiteral("--exclude=.*");
        if (P.saveCustomExcludesIntoTmpFileForPass(m_pass))
            args << QStringLiteral("--exclude-from=") + P.customExcludesTmpFileName();
        args << P.customExcludeArguments();
        if (P.saveSystemExcludesIntoTmpFileForPass(m_pass))
            args << QStringLiteral("--exclude-from=") + P.systemExcludesTmpFileName();
        if (P.isExcludeByPattern() && !P.getExcludePattern().isEmpty())
            args << RsyncExcludes::patternExcludeArguments(P.getExcludePattern());
    }
    QString source = P.isClone() ? P.firstFolder() : P.sourcePathForPass(m_pass);
    const QString dest = P.isClone() ? P.secondFolder() : P.destPathForPass(m_pass);
    if (!source.isEmpty() && !dest.isEmpty()) {
        if (!source.endsWith(QLatin1Char('/')))
            source += QLatin1Char('/');
        args << source << dest;
    }
    P.validateProcessFlags();
    return args;
}

bool ISynchronProcController::startPass()
{
    ISynchron& P = *m_synchron;
    m_parser.startPass(m_pass);
    const QStringList args = prepareTaskArgs();
    if (args.size() < 3) {
        message(tr("Folders was't selected correctly"), LogWord::WindowPrefixedNow);
        return false;
    }
    auto run = std::make_unique<RsyncPassRun>();
    SyncOutputParser* parser = &m_parser;
    auto feed = [parser](const char* d, size_t n, bool stdError) { parser->feed(d, n, stdError); };
    m_sinkProject = &P;
    if (m_admin) {
        IAuthorizer::shared().setTargetString(P.isClone() ? QStringLiteral("clone") : QStringLiteral("synchronize"));
        if (!run->startAsRoot(args, feed)) {
            m_sinkProject = nullptr;
            m_processFinishedByReason = 1;
            message(IProcController::runRootedToolTerminationReason() == 8 ? tr("Authorization Error!")
                                                                            : tr("RSYNC starting Error!"),
                LogWord::WindowPrefixedNow);
            return false;
        }
    } else {
        QString error;
        if (!run->startAsUser(args, feed, &error)) {
            m_sinkProject = nullptr;
            message(tr("RSYNC starting Error!"), LogWord::WindowPrefixedNow);
            if (!error.isEmpty())
                message(error, LogWord::WindowPrefixedNow);
            return false;
        }
    }
    const quint64 runId = ++m_runId;
    if (m_commandObserver)
        m_commandObserver(args, run->processGroup());
    if (m_pass == 0)
        P.printStartStatisticToLog();
    const QString line = ICommon::commandLineFromArgsArray(args);
    message(m_admin ? QStringLiteral("command line: sudo %1").arg(line) : QStringLiteral("command line: %1").arg(line),
        LogWord::RunLogPrefixed);
    QPointer<ISynchronProcController> self(this);
    run->watch([self, parser, runId](int code, int sig, bool sent) {
        parser->finishStream(false);
        parser->finishStream(true);
        runOnMain([self, runId, code, sig, sent] {
            if (self)
                self->passEnded(runId, code, sig, sent);
        });
    });
    m_run = std::move(run);
    m_endTimerArmed = false;
    IShellServices::shared().funcSelectorRedraw();
    return true;
}

// ---- Engine runs -------------------------------------------------------------------------------

bool ISynchronProcController::startEngine()
{
    m_engine = IQVProcRunner::create();
    if (!m_engine) {
        message(tr("The copy engine qv_proc is not installed"), LogWord::WindowPrefixedNow);
        return false;
    }
    QPointer<ISynchronProcController> self(this);
    const quint64 runId = ++m_runId;
    m_engine->setEndCallback([self, runId] {
        if (self && self->m_engine && self->m_runId == runId)
            self->engineEnded();
    });
    if (!m_engine->start(m_synchron, *this)) {
        m_engine.reset();
        return false;
    }
    IShellServices::shared().funcSelectorRedraw();
    return true;
}

bool ISynchronProcController::QVProcPrepareForProject(ISynchron& project)
{
    IProcessCard& card = project.card();
    card.set(errorClear);
    card.set(reasonClear);
    card.set(phaseWorking);
    card.set(stateRunning);
    return true;
}

QString ISynchronProcController::QVProcGetParamsTemplateNameForProject(ISynchron& project) const
{
    if (!project.isClone())
        return QStringLiteral("synchronize");
    return project.isNeedFullDoubleVolumeClone() ? QStringLiteral("clone_ASR") : QStringLiteral("clone_RSYNC");
}

void ISynchronProcController::QVProcStartInfoToLog(ISynchron& project)
{
    project.printStartStatisticToLog();
}

void ISynchronProcController::engineEnded()
{
    // The runner lives until its end has been handled: it may still be on the call stack.
    std::shared_ptr<IQVProcRunner> engine(std::move(m_engine));
    QTimer::singleShot(0, QCoreApplication::instance(), [engine] { });
    if (m_synchron) {
        m_synchron->removeExcludesTmpFileNameCustom(true, true);
        if (m_synchron->isInState(ISynchron::OpAnalysing))
            analysisEnded();
        else {
            ISynchron& P = *m_synchron;
            const IProcessCard& card = P.card();
            const bool completed = card.isFlag(stateFinished) && card.isOnlyFlag(errorClear)
                && card.isFlag(reasonCompleted);
            int result = 1;
            if (completed) {
                P.setLastSyncDate(QDateTime::currentDateTimeUtc());
                m_lastText = tr("Cloning was successful.");
                message(m_lastText,
                    MainPreferences::isOnlyErrorSendToSysNotification() ? LogWord::StatusAndWindow
                                                                        : LogWord::StatusWindowNotify);
                result = 0;
            } else if (m_userStopped || card.isFlag(reasonTerminatedByUser)) {
                m_lastText = tr("Terminated by user");
                message(m_lastText, LogWord::StatusAndWindow);
                result = 4;
            } else {
                m_lastText = tr("Cloning failed");
                message(m_lastText, LogWord::StatusWindowNotify);
                P.setLastProcessFailed(true);
            }
            P.setIndicatorPosition(0, true);
            P.setMainButtonState(1);
            P.doAutoUnmount();
            endWith(result);
        }
    }
}

void ISynchronProcController::analysisEnded()
{
    ISynchron& P = *m_synchron;
    const IProcessCard& card = P.card();
    const bool completed
        = card.isFlag(stateFinished) && card.isOnlyFlag(errorClear) && card.isFlag(reasonCompleted);
    const bool stopped = m_userStopped || card.isFlag(reasonTerminatedByUser);
    int result = 0;
    if (completed)
        m_lastText = tr("Analyze completed");
    else if (stopped) {
        m_lastText = tr("Terminated by user");
        result = 4;
    } else {
        m_lastText = tr("Analyze failed");
        result = 1;
    }
    if (ISynchronizeController* pane = &ISynchronizeController::shared()) {
        pane->setSyncAnalyzeProcess(false);
        pane->setNoSendTextInfo(false);
        pane->setSyncAnalyzeEnabled(true);
        if (result != 4)
            pane->sendAnalyzeInfo(m_lastText, result == 0 ? wesClear : wesErrors);
    }
    message(m_lastText, result == 1 ? LogWord::StatusWindowNotify : LogWord::StatusAndWindow);
    P.setMainButtonState(1);
    P.setIndicatorPosition(0, true);
    P.card().set(stateEmpty);
    endWith(result);
}

// ---- Parser sink --------------------------------------------------------------------------------

void ISynchronProcController::parserMessage(const LogText& text, quint64 options)
{
    if (ISynchron* P = m_sinkProject.load())
        P->processMessage(text, options, P);
}

double ISynchronProcController::parserIndicator() const
{
    ISynchron* P = m_sinkProject.load();
    return P ? P->indicatorPosition() : 0;
}

void ISynchronProcController::parserSetIndicator(double position)
{
    if (ISynchron* P = m_sinkProject.load())
        P->setIndicatorPosition(position, false);
}

// ---- Watching and ending ------------------------------------------------------------------------

void ISynchronProcController::controlTick()
{
    if (!m_run || m_endTimerArmed || !m_parser.isLastStringOut())
        return;
    // The output is complete but the child still runs: it gets one second, then it is stopped.
    m_endTimerArmed = true;
    const quint64 runId = m_runId;
    QTimer::singleShot(1000, this, [this, runId] {
        if (m_run && m_runId == runId)
            m_run->requestStop();
    });
}

void ISynchronProcController::passEnded(quint64 runId, int exitCode, int exitSignal, bool stopSent)
{
    // An end of an earlier pass (or run) never ends the current one.
    if (!m_run || runId != m_runId)
        return;
    m_run->join();
    m_run.reset();
    m_sinkProject = nullptr;
    // A stop sent by the end timer (complete output) leaves the result to the lines.
    m_processStatus = m_parser.processStatus() | RsyncPassRun::statusForExit(exitCode, exitSignal, stopSent);
    if (m_synchron) {
        if (!m_synchron->isClone())
            m_synchron->validateExcludePathList();
        m_synchron->removeExcludesTmpFileNameCustom(true, true);
    }
    if (m_userStopped || (m_processStatus & wesTerminateByUser)) {
        finishTerminated();
        return;
    }
    if (m_passCount == 2 && m_pass == 0 && !(m_processStatus & wesFatalErrors)) {
        m_pass = 1;
        m_parser.addProcessStatus(m_processStatus);
        if (!startPass())
            failureEnd();
        return;
    }
    finishPasses();
}

void ISynchronProcController::finishPasses()
{
    m_pass = -1;
    m_controlTimer.stop();
    ISynchron& P = *m_synchron;
    P.setPostProcess(false);
    P.setIndicatorPosition(100, true);
    QVProcessEvents();
    // The full indicator stays for a moment before the run ends.
    m_ending = true;
    QPointer<ISynchronProcController> self(this);
    QTimer::singleShot(1000, this, [self] {
        if (self)
            self->finishRun();
    });
}

void ISynchronProcController::finishRun()
{
    m_ending = false;
    if (!m_synchron)
        return;
    ISynchron& P = *m_synchron;
    P.setLastSyncDate(QDateTime::currentDateTimeUtc());
    P.setMainButtonState(1);
    P.setIndicatorPosition(0, false);
    if (m_processFinishedByReason == 2) {
        message(tr("Volume(s) is unavailable. Input/Output error."), LogWord::WindowPrefixedNow);
        m_processStatus |= wesErrors;
    }
    const bool onlyErrors = MainPreferences::isOnlyErrorSendToSysNotification();
    const quint64 successWord = onlyErrors ? LogWord::StatusAndWindow : LogWord::StatusWindowNotify;
    auto summary = [this, &P] {
        SyncOutputParser::SummaryFacts facts;
        facts.processStatus = m_processStatus;
        facts.accumulator = m_parser.processErrorAccumulator();
        const bool clone = P.isClone();
        const int direction = P.direction();
        facts.sourceUnavailable = [&P, clone, direction] {
            return !isFolder(clone || direction != 1 ? P.firstFolder() : P.secondFolder());
        };
        facts.destinationUnavailable = [&P, clone, direction] {
            return !isFolder(clone || direction != 1 ? P.secondFolder() : P.firstFolder());
        };
        const SyncOutputParser::Summary s = SyncOutputParser::printErrorAccumulatorToLog(facts);
        for (const auto& [text, options] : s.messages)
            message(text, options);
        m_processStatus = s.processStatus;
    };
    int result = 0;
    if (!P.isClone()) {
        if (m_processStatus != wesClear)
            summary();
        if (m_processStatus & wesErrors) {
            m_lastText = tr("Synchronize failed.");
            message(m_lastText, LogWord::StatusWindowNotify);
            P.setLastProcessFailed(true);
            result = 1;
        } else if (m_processStatus & wesWarnings) {
            m_lastText = tr("Synchronization was successful with some warnings.");
            message(m_lastText, successWord);
            result = 3;
        } else {
            m_lastText = tr("Synchronization was successful.");
            message(m_lastText, successWord);
        }
    } else if (m_processStatus == wesClear || m_processStatus == wesWarnings) {
        const CloneBootSteps::Outcome finished = CloneBootSteps::finish(*m_bootTools, P.secondFolder(),
            [this](const QString& text, quint64 options) { message(text, options); });
        if (finished == CloneBootSteps::Outcome::StartFailed) {
            m_lastText = tr("Cloning failed");
            message(m_lastText, LogWord::StatusWindowNotify);
            P.setLastProcessFailed(true);
            result = 1;
        } else {
            m_lastText = tr("Cloning was successful.");
            message(m_lastText, successWord);
        }
    } else {
        summary();
        if (m_processStatus & wesErrors) {
            m_lastText = tr("Cloning failed.");
            message(m_lastText, LogWord::StatusWindowNotify);
            P.setLastProcessFailed(true);
            result = 1;
        } else if (m_processStatus & wesWarnings) {
            m_lastText = tr("Cloning was successful with some warnings.");
            message(m_lastText, successWord);
            result = 3;
        }
    }
    if (ISynchronizeController* pane = &ISynchronizeController::shared()) {
        pane->setNoSendTextInfo(false);
        pane->setSyncAnalyzeEnabled(true);
    }
    P.doAutoUnmount();
    endWith(result);
}

void ISynchronProcController::finishTerminated()
{
    m_pass = -1;
    m_controlTimer.stop();
    ISynchron& P = *m_synchron;
    m_lastText = tr("Terminated by user");
    message(m_lastText, LogWord::StatusAndWindow);
    if (ISynchronizeController* pane = &ISynchronizeController::shared()) {
        pane->sendAnalyzeInfo(QString(), wesTerminateByUser);
        pane->setNoSendTextInfo(false);
        pane->setSyncAnalyzeEnabled(true);
        pane->setSyncAnalyzeProcess(false);
    }
    P.setMainButtonState(1);
    P.setIndicatorPosition(0, true);
    P.doAutoUnmount();
    endWith(4);
}

void ISynchronProcController::failureEnd()
{
    m_controlTimer.stop();
    m_pass = -1;
    if (m_synchron) {
        ISynchron& P = *m_synchron;
        const bool stopped = m_userStopped || m_processFinishedByReason == 1;
        if (P.isInState(ISynchron::OpAnalysing)) {
            m_lastText = m_userStopped ? tr("Terminated by user") : tr("Analyze failed");
            message(m_lastText, m_userStopped ? LogWord::StatusAndWindow : LogWord::StatusWindowNotify);
            if (ISynchronizeController* pane = &ISynchronizeController::shared()) {
                pane->setSyncAnalyzeProcess(false);
                pane->setSyncAnalyzeEnabled(true);
                if (!m_userStopped)
                    pane->sendAnalyzeInfo(m_lastText, wesErrors);
            }
        } else if (P.isClone()) {
            m_lastText = stopped && m_userStopped ? tr("Terminated by user") : tr("Cloning failed");
            message(m_lastText, stopped && m_userStopped ? LogWord::StatusAndWindow : LogWord::StatusWindowNotify);
            P.doAutoUnmount();
        } else {
            m_lastText = stopped ? tr("Terminated by user") : tr("Synchronize failed");
            message(m_lastText, stopped ? LogWord::StatusAndWindow : LogWord::StatusWindowNotify);
        }
        P.setLastProcessFailed(true);
        P.setIndicatorPosition(0, true);
    }
    QVProcessEvents();
    endWith(m_synchron ? (m_lastText == tr("Terminated by user") ? 4 : 1) : 1);
}

void ISynchronProcController::endWith(int result)
{
    const auto project = m_synchron;
    if (ISynchronizeController* pane = &ISynchronizeController::shared())
        pane->eventProcessFinished(result);
    if (project) {
        project->setInState(ISynchron::OpIdle);
        project->card().remove(stateRunning);
    }
    m_synchron.reset();
    m_run.reset();
    m_sinkProject = nullptr;
    IShellServices::shared().funcSelectorRedraw();
    if (ISynchronizeController* pane = &ISynchronizeController::shared())
        pane->validateButtons();
    if (m_endObserver)
        m_endObserver(result, m_lastText);
}

// ---- Stop ---------------------------------------------------------------------------------------

bool ISynchronProcController::terminateProcess()
{
    if (!m_synchron)
        return false;
    if (m_processFinishedByReason == 0)
        m_processFinishedByReason = 1;
    m_userStopped = true;
    if (m_engine)
        return m_engine->terminate();
    if (m_run) {
        m_run->requestStop();
        return true;
    }
    // Between passes or in the closing pause: the run ends as stopped now.
    if (m_ending) {
        m_ending = false;
        finishTerminated();
    }
    return true;
}
