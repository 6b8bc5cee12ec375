#include "snapshot/IBackup3Processor.h"

#include "platform/AppPaths.h"
#include "platform/Clock.h"
#include "platform/MainThread.h"
#include "platform/NameCodec.h"
#include "platform/RootProcess.h"
#include "platform/Subprocess.h"
#include "projects/ILocation.h"
#include "snapshot/Backup3VersionList.h"
#include "snapshot/IBackup3.h"
#include "snapshot/IBackup3Container.h"
#include "snapshot/IBackup3Controller.h"
#include "snapshot/IBackupCutUtil.h"
#include "snapshot/IDiskImage.h"
#include "utilities/CommonFunctions.h"
#include "utilities/IAuthorizer.h"
#include "utilities/ICommon.h"
#include "utilities/IDiskUtil.h"
#include "utilities/IPathUtil.h"
#include "utilities/IProcController.h"
#include "utilities/IShellServices.h"
#include "utilities/IUTF8Tool.h"
#include "utilities/LogOptions.h"
#include "utilities/MainPreferences.h"
#include "utilities/RsyncExcludes.h"
#include "utilities/RsyncPassRun.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimer>
#include <chrono>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <limits>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

QString loc(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

std::string bytes(const QString& path)
{
    return NameCodec::encodeStd(path);
}

bool pathExists(const QString& path)
{
    struct stat st;
    return !path.isEmpty() && ::lstat(bytes(path).c_str(), &st) == 0;
}

bool isFolder(const QString& path)
{
    struct stat st;
    return !path.isEmpty() && ::stat(bytes(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

QString lastComponent(const QString& path)
{
    QString p = path;
    while (p.size() > 1 && p.endsWith(QLatin1Char('/')))
        p.chop(1);
    return p.mid(p.lastIndexOf(QLatin1Char('/')) + 1);
}

qint64 steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

// The running pass: the lifted pass runner (child, watcher thread) and one line scanner per stream
// feeding the parser. The main thread asks the runner to stop; a full destination asks once.
class IBackup3Processor::PassRun
{
public:
    struct Stream
    {
        IUTF8Tool tool;
        std::vector<char> work = std::vector<char>(size_t(IUTF8Tool::kWorkBufferSize));
        std::vector<char> chunk = std::vector<char>(size_t(IUTF8Tool::kChunkSize) + 2);
        Stream() { tool.setWorkBuffer(work.data(), qint64(work.size())); }
        void feed(IBackup3OutputParser& parser, bool stdError, const char* data, size_t size)
        {
            while (size > 0) {
                const size_t n = std::min(size, size_t(IUTF8Tool::kChunkSize));
                std::memcpy(chunk.data(), data, n);
                chunk[n] = '\0';
                tool.setSrcBuffer(chunk.data(), qint64(n));
                parser.utilOutputProcess(tool, stdError);
                data += n;
                size -= n;
            }
        }
    };

    quint64 runId = 0;
    IBackup3OutputParser* parser = nullptr;
    Stream out;
    Stream err;
    std::atomic<bool> killPosted { false };
    // Last member: destroyed first, so the watcher has ended before the streams go.
    RsyncPassRun run;

    void feed(const char* d, size_t n, bool stdError)
    {
        (stdError ? err : out).feed(*parser, stdError, d, n);
    }
};

IBackup3Processor::IBackup3Processor()
    : IBackup3Processor(QString(), nullptr)
{ }

IBackup3Processor::IBackup3Processor(const QString& toolPath, Clock* clock)
    : m_clock(clock)
{
    m_parser.setSink(this);
    if (toolPath.isNull())
        _toolPath = testToolPath();
    else
        setToolPath(toolPath);
}

IBackup3Processor::~IBackup3Processor()
{
    // A run that is still going ends with its child: the watcher stops it and finishes.
    m_pass.reset();
}

QString IBackup3Processor::testToolPath()
{
    const QString path = AppPaths::resourcePath(QStringLiteral("rsync3"));
    return ::access(bytes(path).c_str(), X_OK) == 0 && !isFolder(path) ? path : QString();
}

void IBackup3Processor::setToolPath(const QString& path)
{
    _toolPath
        = !path.isEmpty() && ::access(bytes(path).c_str(), X_OK) == 0 && !isFolder(path) ? path : QString();
}

QDateTime IBackup3Processor::now() const
{
    return (m_clock ? *m_clock : Clock::current()).now();
}

quint64 IBackup3Processor::processErrorAccumulator() const
{
    return m_parser.processErrorAccumulator();
}

bool IBackup3Processor::isRunning() const
{
    if (m_pass)
        return true;
    // 11 ticks of 1/60 s after the last final end.
    return steadyMs() - _processStoppedTickCount < 11 * 1000 / 60;
}

void IBackup3Processor::message(const QString& text, quint64 options)
{
    if (_backup3)
        _backup3->processMessage(text, options, _backup3.get());
}

void IBackup3Processor::workMessage(int code, const QString& info)
{
    QString text = workMessageString(code);
    if (!info.isNull())
        text.replace(QLatin1String("%@"), info);
    message(text,
        LogOption::String | LogOption::Window | LogOption::RunLog | LogOption::Time | LogOption::ProjectName
            | LogOption::RunTag);
}

// ---- Sink of the parser (reader threads) --------------------------------------------------------

void IBackup3Processor::parserMessage(const LogText& text, quint64 options)
{
    if (IBackup3* project = m_sinkProject.load())
        project->processMessage(text, options, project);
}

void IBackup3Processor::parserProgress(double position)
{
    m_progress.store(position);
    if (m_progressPosted.exchange(true))
        return;
    // One update in flight, shown at most every kProgressIntervalMs: a pass over 100,000 files
    // reports progress with every file line, and the indicator needs a fraction of that. The
    // newest position is read when the update is shown, so the last one is never lost.
    const quint64 runId = m_sinkRunId.load();
    QPointer<IBackup3Processor> self(this);
    runOnMain([self, runId] {
        if (!self)
            return;
        QTimer::singleShot(kProgressIntervalMs, self, [self, runId] {
            self->m_progressPosted = false;
            if (self->_backup3 && self->m_pass && self->m_pass->runId == runId)
                self->_backup3->setIndicatorPosition(self->m_progress.load(), false);
        });
    });
}

void IBackup3Processor::parserKillRequest()
{
    // The destination is full: the child ends now, on the main thread's word.
    const quint64 runId = m_sinkRunId.load();
    QPointer<IBackup3Processor> self(this);
    runOnMain([self, runId] {
        if (self && self->m_pass && self->m_pass->runId == runId && !self->m_pass->killPosted.exchange(true))
            self->m_pass->run.requestStop();
    });
}

// ---- Command lines ------------------------------------------------------------------------------

QStringList IBackup3Processor::prepareTaskArgs()
{
    QStringList args;
    if (!_backup3)
        return args;
    IBackup3& P = *_backup3;
    const long pass = _currentPass;
    args << _toolPath;
    IProcController::rsyncOptions(&args, &P, pass, true);
    // Excludes: invisible names, the user's excluded paths, the system list, the pattern.
    if (P.isExcludeInvisible())
        args << QStringLiteral("--exclude=.*");
    if (P.saveCustomExcludesIntoTmpFileForPass(pass))
        args << QStringLiteral("--exclude-from=") + P.customExcludesTmpFileName();
    args << P.customExcludeArgumentsForPass(pass);
    if (P.saveSystemExcludesIntoTmpFileForPass(pass))
        args << QStringLiteral("--exclude-from=") + P.systemExcludesTmpFileName();
    if (P.isExcludeByPattern() && !P.getExcludePattern().isEmpty())
        args << RsyncExcludes::patternExcludeArguments(P.getExcludePattern());
    // Unchanged files are hard-linked to the same wrapper folder of the previous version.
    const QString link = P.linkFolderPathForPass(pass);
    if (!link.isEmpty() && _hardLinkTest)
        args << QStringLiteral("--link-dest=") + link
                + (link.endsWith(QLatin1Char('/')) ? QString() : QStringLiteral("/"));
    const QString src = P.srcFolderPathForPass(pass);
    if (!src.isNull())
        args << src;
    const QString dest = P.destFolderPathForPass(pass, _currentWorkFolderPath);
    if (!dest.isNull())
        args << dest;
    return args;
}

QStringList IBackup3Processor::prepareRestoreTaskArgs()
{
    QStringList args;
    if (!_backup3)
        return args;
    IBackup3& P = *_backup3;
    const long pass = _currentPass;
    args << _toolPath;
    QStringList options;
    IProcController::rsyncOptions(&options, &P, pass, true);
    // A restore never deletes what the user has beside the restored items, and it names each
    // file it keeps because the one on disk is newer.
    options.removeAll(QStringLiteral("--delete-before"));
    options.removeAll(QStringLiteral("--delete-excluded"));
    args << options << QStringLiteral("--info=skip1");
    QString src = P.restoreSrcFolderPathForPass(pass);
    // A whole source is restored from its wrapper folder: its content goes into the target,
    // never the wrapper itself.
    static const QRegularExpression wrapper(QStringLiteral("\\.wrp[0-9]+\\z"));
    if (!src.isNull() && wrapper.match(src).hasMatch())
        src += QLatin1Char('/');
    if (!src.isNull())
        args << src;
    if (!m_passDestination.isNull())
        args << m_passDestination;
    return args;
}

// ---- Run start ----------------------------------------------------------------------------------

bool IBackup3Processor::prepareSrcLocations(IBackup3& project)
{
    if (project.srcLocations().isEmpty())
        return false;
    if (project.isFullAutomount())
        project.doAutomount();
    _srcIndexes.clear();
    return project.testSrcLocations(_srcIndexes, &_preProcessStatus);
}

QString IBackup3Processor::passItemName(long pass) const
{
    if (!_backup3)
        return QString();
    if (m_restore) {
        const auto& items = _backup3->restoreData();
        if (pass < 0 || pass >= items.size())
            return QString();
        return lastComponent(items[pass].ArchivePath);
    }
    ILocation* source = _backup3->sourceLocationForPass(pass);
    if (!source)
        return QString();
    const QString inner = lastComponent(source->getPathFromMountPoint());
    return inner.isEmpty() ? source->displayName() : inner;
}

void IBackup3Processor::processProject(const std::shared_ptr<IBackup3>& project)
{
    if (!project) {
        qWarning("%s", qPrintable(loc("No backup3 in param of PROCESS")));
        return;
    }
    if (m_pass) {
        qWarning("A snapshot-backup run is already going on");
        return;
    }
    IBackup3& P = *project;
    m_restore = P.needRestore();
    m_admin = P.isUseAdminPrivilegesForPass(-1);
    P.setInProcess(true, IBackup3::OpStarting);
    _preProcessStatus = wesClear;
    _processStatus = wesClear;
    m_runStatus = wesClear;
    P.setLastProcessFailed(false);
    _processFinishedByUser = false;
    _terminateByUser = false;
    m_destinationGone = false;
    m_lastVersionFolderName.clear();
    m_lastReportText.clear();
    _backup3 = project;

    if (_toolPath.isNull()) {
        message(loc("Tool RSYNC not found"), LogWord::WindowPrefixedNow);
        failStart(project);
        return;
    }

    if (!m_restore) {
        bool ok = prepareSrcLocations(P);
        if (ok)
            ok = prepareDestBackupFolders(P);
        P.doOwnersEnablePepare();
        if (!ok) {
            if (IProcController::lastProcessResult() == 6 && IShellServices::shared().isStartedByAgent())
                message(loc("The process requires admin access (use the program Preference to set the "
                            "corresponding option)"),
                    LogWord::WindowPrefixedNow);
            if (P.useBDI() && P.BDIlastWorkingState().code == 4) {
                m_lastReportText = loc("Terminated by user");
                message(m_lastReportText, LogWord::StatusAndWindow);
            } else {
                m_lastReportText = loc("Backup failed.");
                message(m_lastReportText, LogWord::StatusWindowNotify);
            }
            P.setInState(IBackup3::OpIdle);
            P.setLastProcessFailed(true);
            P.doAutoUnmount();
            endFailedRunStart(project);
            return;
        }
        P.printStartStatisticToLog();
        _passCount = long(P.srcLocations().size());
        if (_srcIndexes.isEmpty()) {
            failStart(project);
            return;
        }
        _currentPass = *std::min_element(_srcIndexes.begin(), _srcIndexes.end());
    } else {
        _passCount = long(P.restoreData().size());
        _currentPass = 0;
        if (_passCount == 0) {
            failStart(project);
            return;
        }
    }

    _loopCount = 1;
    if (!startPassAtCurrent())
        return;
}

bool IBackup3Processor::startPassAtCurrent()
{
    IBackup3& P = *_backup3;
    P.setInState(IBackup3::OpRunning);
    message(loc("Processing \"%1\"...").arg(passItemName(_currentPass)), LogWord::StatusAndWindow);
    if (!m_restore) {
        if (_loopCount == 1)
            clearExcessTopLevelItemFolderIfOldTemporaryWorkFolder();
        if (!createTopLevelItemFolder(_currentPass)) {
            m_parser.addProcessErrorAccumulator(peaMKDIR);
            failStart(_backup3);
            return false;
        }
    }
    if (!startTask()) {
        if (_processFinishedByUser) {
            m_lastReportText = loc("Terminated by user");
            message(m_lastReportText, LogWord::StatusWindowNotify);
            endFailedRunStart(_backup3);
        } else {
            failStart(_backup3);
        }
        return false;
    }
    return true;
}

void IBackup3Processor::failStart(const std::shared_ptr<IBackup3>& project)
{
    if (m_restore) {
        m_lastReportText = loc("Restoration failed.");
    } else {
        m_lastReportText = loc("Backup failed.");
        project->setLastProcessFailed(true);
    }
    message(m_lastReportText, LogWord::StatusWindowNotify);
    endFailedRunStart(project);
}

void IBackup3Processor::endFailedRunStart(const std::shared_ptr<IBackup3>& project)
{
    project->cleanEaxcludePathList();
    project->removeExcludesTmpFileNameCustom(true, true);
    project->setInProcess(false, IBackup3::OpIdle);
    project->setInState(IBackup3::OpIdle);
    project->closeBDI();
    project->doOwnersEnableEnding();
    project->setIndicatorPosition(0);
    project->setMainButtonState(1);
    _processStatus = wesTerminateByUser;
    m_lastResultCode = project->isLastProcessFailed() ? wrcFailed : wrcSuccess;
    // The list finds the project idle and calls preprocessFailed, which forgets it.
}

void IBackup3Processor::preprocessFailed()
{
    // 1 when the failed start marked the project failed; 0 only when nothing was started.
    int code = wrcSuccess;
    if (_backup3) {
        code = _backup3->isLastProcessFailed() ? wrcFailed : wrcSuccess;
        _backup3->setRestoreData({});
        _backup3->setInState(IBackup3::OpIdle);
        _backup3->setMainButtonState(1);
        _backup3.reset();
    }
    IBackup3Controller::shared().eventProcessFinished(code);
    IShellServices::shared().funcSelectorRedraw();
}

void IBackup3Processor::clearExcessTopLevelItemFolderIfOldTemporaryWorkFolder()
{
    if (!_backup3 || _currentWorkFolderPath.isEmpty())
        return;
    QStringList expected;
    for (long i : _srcIndexes)
        if (i < _passCount)
            expected << lastComponent(_backup3->destFolderPathForPass(i, _currentWorkFolderPath));
    DIR* dir = ::opendir(bytes(_currentWorkFolderPath).c_str());
    if (!dir)
        return;
    QStringList excess;
    while (dirent* e = ::readdir(dir)) {
        const QString name = NameCodec::decode(QByteArray(e->d_name));
        if (name == QLatin1String(".") || name == QLatin1String(".."))
            continue;
        if (expected.removeOne(name))
            continue;
        excess << name;
    }
    ::closedir(dir);
    for (const QString& name : excess) {
        QString comment;
        if (!IBackupCutUtil::removeVersionFolder(
                _currentWorkFolderPath + QLatin1Char('/') + name, m_admin, &comment)
            && !comment.isEmpty())
            message(comment, LogWord::RunLogPrefixed);
    }
}

bool IBackup3Processor::createTopLevelItemFolder(long pass)
{
    const QString path = _backup3->destFolderPathForPass(pass, _currentWorkFolderPath);
    if (path.isNull())
        return false;
    if (isFolder(path))
        return true;
    QString comment;
    if (!IProcController::makeDir(path, m_admin, &comment)) {
        workMessage(WorkMessageTopLevelFolderError, path);
        if (!comment.isEmpty())
            message(comment, LogWord::WindowPrefixedNow);
        return false;
    }
    IPathUtil::setUsedAdminPrivileges(m_admin);
    IPathUtil::fixOwnerForFile(path);
    return true;
}

bool IBackup3Processor::startTask()
{
    IBackup3& P = *_backup3;
    _processFinishedByUser = false;
    _generalTaskCode = m_restore ? IProject::GTC_RESTORE : IProject::GTC_BACKUP3;
    m_parser.setProgressShape(m_restore ? _passCount : long(_srcIndexes.size()), _loopCount, m_restore);
    m_parser.startPass(_preProcessStatus);
    if (m_restore)
        m_passDestination = P.restoreDestFolderPathForPass(_currentPass);
    _args = m_restore ? prepareRestoreTaskArgs() : prepareTaskArgs();
    _processStatus = _preProcessStatus;
    if (m_passArgumentsObserver)
        m_passArgumentsObserver(_args);
    if (!startProcess()) {
        if (_terminateByUser)
            _processFinishedByUser = true;
        return false;
    }
    const QString line = ICommon::commandLineFromArgsArray(_args);
    message(m_admin ? QStringLiteral("command line: sudo %1").arg(line)
                    : QStringLiteral("command line: %1").arg(line),
        LogWord::RunLogPrefixed);
    return true;
}

bool IBackup3Processor::startProcess()
{
    IShellServices::shared().funcSelectorRedraw();
    _terminateByUser = false;
    auto pass = std::make_unique<PassRun>();
    pass->runId = ++m_runId;
    pass->parser = &m_parser;
    m_sinkProject = _backup3.get();
    m_sinkRunId = pass->runId;
    PassRun* pr = pass.get();

    if (m_admin) {
        IAuthorizer::shared().setTargetString(
            m_restore ? QStringLiteral("restore") : QStringLiteral("backup"));
        if (!pass->run.startAsRoot(
                _args, [pr](const char* d, size_t n, bool stdError) { pr->feed(d, n, stdError); })) {
            _terminateByUser = true;
            _processStatus = wesTerminateByUser;
            _processFinishedByUser = true;
            const QString text = IProcController::runRootedToolTerminationReason() == 8
                ? loc("Authorization Error!")
                : loc("RSYNC starting Error!");
            message(text, LogWord::WindowPrefixedNow);
            m_sinkProject = nullptr;
            return false;
        }
        _childProcess = pass->run.pid();
    } else {
        QString error;
        if (!pass->run.startAsUser(
                _args, [pr](const char* d, size_t n, bool stdError) { pr->feed(d, n, stdError); }, &error)) {
            message(loc("RSYNC starting Error!"), LogWord::WindowPrefixedNow);
            if (!error.isEmpty())
                message(error, LogWord::WindowPrefixedNow);
            m_sinkProject = nullptr;
            return false;
        }
        _childProcess = pass->run.pid();
    }

    QPointer<IBackup3Processor> self(this);
    const quint64 runId = pass->runId;
    pass->run.watch([pr, self, runId](int code, int sig, bool sent) {
        pr->parser->finishStream(pr->out.tool, false);
        pr->parser->finishStream(pr->err.tool, true);
        runOnMain([self, runId, code, sig, sent] {
            if (self)
                self->passEnded(runId, code, sig, sent);
        });
    });
    m_pass = std::move(pass);
    return true;
}

// ---- Stops ---------------------------------------------------------------------------------------

bool IBackup3Processor::terminateProcess()
{
    if (m_pass) {
        _processFinishedByUser = true;
        m_pass->run.requestStop();
    }
    return true;
}

bool IBackup3Processor::terminateProcessWithReason(int /*reason*/)
{
    // The destination went away: the pass ends at once and no further pass starts.
    if (m_pass) {
        m_destinationGone = true;
        m_parser.addProcessStatus(wesErrors | wesFatalErrors);
        m_parser.addProcessErrorAccumulator(peaMKDIR);
        if (!m_pass->run.isRoot())
            m_pass->run.requestStop();
    }
    return true;
}

void IBackup3Processor::stopProcess()
{
    terminateProcess();
}

// ---- Pass end ------------------------------------------------------------------------------------

void IBackup3Processor::passEnded(quint64 runId, int exitCode, int exitSignal, bool signalSent)
{
    // An end of an earlier pass (or run) never ends the current one.
    if (!m_pass || m_pass->runId != runId)
        return;
    m_pass->run.join();
    m_pass.reset();
    m_sinkProject = nullptr;
    _childProcess = 0;

    // The exit status always counts (see RsyncPassRun::statusForExit).
    quint32 status = m_parser.processStatus() | RsyncPassRun::statusForExit(exitCode, exitSignal, signalSent);
    if (m_destinationGone)
        status |= wesErrors | wesFatalErrors;
    _processStatus = status;

    if (_processFinishedByUser) {
        finishTerminated();
        return;
    }
    // The error report of the pass comes before anything is decided about the version.
    printErrorAccumulatorToLog();
    m_runStatus |= _processStatus;
    if (!(_processStatus & wesFatalErrors) && nextPass() >= 0) {
        processContinue();
        return;
    }
    finishFinal();
}

long IBackup3Processor::nextPass() const
{
    for (long p = _currentPass + 1; p < _passCount; ++p)
        if (m_restore || _srcIndexes.contains(p))
            return p;
    return -1;
}

void IBackup3Processor::processContinue()
{
    const long next = nextPass();
    if (next < 0) {
        finishFinal();
        return;
    }
    _currentPass = next;
    ++_loopCount;
    startPassAtCurrent();
}

bool IBackup3Processor::isSourceUnavailable() const
{
    if (!_backup3 || _currentPass >= _passCount)
        return false;
    const QString src = m_restore ? _backup3->restoreSrcFolderPathForPass(_currentPass)
                                  : _backup3->srcFolderPathForPass(_currentPass);
    return !pathExists(src);
}

bool IBackup3Processor::isDestinationUnavailable() const
{
    if (!_backup3)
        return true;
    return !isFolder(m_restore ? m_passDestination : _backup3->destFolderPath());
}

void IBackup3Processor::printErrorAccumulatorToLog()
{
    if (!_backup3)
        return;
    IBackup3& P = *_backup3;
    IBackup3OutputParser::ErrorReportFacts facts;
    facts.processStatus = _processStatus;
    facts.accumulator = m_parser.processErrorAccumulator();
    if (facts.processStatus == wesClear && facts.accumulator == peaClear)
        return;
    facts.useImage = P.useBDI();
    facts.imageAvailable = [&P] { return !P.BDI() || !P.BDI()->imagePathVerified(true).isNull(); };
    facts.imageFreeBytes = [&P] {
        const QString where = P.isBDICurrentlyActivated() ? P.getBDIContentPath() : P.BDIFolderPath();
        const quint64 free = IDiskUtil::availableSpaceOnVolume(where);
        // 0 means "not known": that alone never calls the image full.
        return free == 0 ? std::numeric_limits<qint64>::max() : qint64(free);
    };
    facts.passCurrent = _currentPass < _passCount;
    facts.sourceUnavailable = [this] { return isSourceUnavailable(); };
    facts.destinationUnavailable = [this] { return isDestinationUnavailable(); };
    facts.admin = m_admin;
    const IBackup3OutputParser::ErrorReport report = IBackup3OutputParser::printErrorAccumulatorToLog(facts);
    for (const auto& m : report.messages)
        message(m.first, m.second);
    if (report.workingState != 0)
        P.setBDILastWorkingState(report.workingState, 0);
    _processStatus = report.processStatus;
}

void IBackup3Processor::finishTerminated()
{
    std::shared_ptr<IBackup3> project = _backup3;
    IBackup3& P = *project;
    P.doAutoUnmount();
    P.cleanEaxcludePathList();
    P.removeExcludesTmpFileNameCustom(true, true);
    IBackup3Controller::shared().setNoSendTextInfo(false);
    m_lastReportText = loc("Terminated by user");
    message(m_lastReportText, LogWord::StatusAndWindow);
    P.setInState(IBackup3::OpIdle);
    P.setIndicatorPosition(0);
    _processStatus = wesTerminateByUser;
    P.closeBDI();
    P.doOwnersEnableEnding();
    _processStoppedTickCount = steadyMs();
    // The work folder stays as it is; the next run reuses it.
    P.setProcessingCodeString(QString());
    reportEnd(wrcTerminatedByUser);
}

void IBackup3Processor::finishFinal()
{
    IBackup3& P = *_backup3;
    P.doAutoUnmount();
    P.cleanEaxcludePathList();
    P.removeExcludesTmpFileNameCustom(true, true);
    _processStoppedTickCount = steadyMs();
    P.setIndicatorPosition(100);
    P.setLastProcessDate(now());
    _processStatus = m_runStatus;
    if (!m_restore && !(_processStatus & wesErrors)) {
        tryVersionRename(m_runId, now(), false);
        return;
    }
    continueAfterVersion();
}

void IBackup3Processor::tryVersionRename(quint64 runId, QDateTime date, bool waited)
{
    if (!_backup3 || runId != m_runId)
        return;
    IBackup3& P = *_backup3;
    const QString folder = P.projectFolderPath();
    const QString name = Backup3VersionList::versionFolderName(date);
    const QString target = folder + QLatin1Char('/') + name;
    const QString work = folder + QLatin1Char('/') + Backup3VersionList::workFolderName();
    QString error;
    int err = 0;
    if (pathExists(target))
        err = EEXIST;
    else
        err = renameWorkFolder(work, target, m_admin, &error);
    if (err == EEXIST && !waited) {
        // Two runs ended within one second: the next second gives the next name.
        const int wait = 1000 - date.time().msec() + 20;
        QPointer<IBackup3Processor> self(this);
        QTimer::singleShot(wait, this, [self, runId] {
            if (self)
                self->tryVersionRename(runId, self->now(), true);
        });
        return;
    }
    if (err != 0) {
        QString text = workMessageString(WorkMessageRenameError);
        text.replace(text.indexOf(QLatin1String("%@")), 2, work);
        text.replace(text.indexOf(QLatin1String("%@")), 2, name);
        message(text,
            LogOption::String | LogOption::Window | LogOption::RunLog | LogOption::Time
                | LogOption::ProjectName | LogOption::RunTag);
        if (error.isEmpty())
            error = QString::fromLocal8Bit(std::strerror(err));
        P.sendTextInfo(error, 3, 16, this);
        _processStatus |= wesErrors;
        continueAfterVersion();
        return;
    }
    IPathUtil::setUsedAdminPrivileges(m_admin);
    IPathUtil::fixOwnerForFile(target);
    P.setLastProcessDate(date);
    P.setLastProcessFolder(name);
    m_lastVersionFolderName = name;
    QString saveError;
    if (!saveLastProcessData(P, false, &saveError)) {
        // The version exists, but restore and thinning would not see it: say so.
        QString text = workMessageString(5);
        text.replace(QLatin1String("%@"), folder + QLatin1Char('/') + Backup3VersionList::fileName());
        message(text, LogWord::WindowPrefixedNow);
        if (!saveError.isEmpty())
            message(saveError, LogWord::WindowPrefixedNow);
        _processStatus |= wesWarnings;
    }
    continueAfterVersion();
}

void IBackup3Processor::continueAfterVersion()
{
    std::shared_ptr<IBackup3> project = _backup3;
    IBackup3& P = *project;
    const bool onlyErrors = MainPreferences::isOnlyErrorSendToSysNotification();
    const quint64 successWord = onlyErrors ? LogWord::StatusAndWindow : LogWord::StatusWindowNotify;
    int result = wrcSuccess;
    const quint32 st = _processStatus;
    if (st == wesClear) {
        m_lastReportText = m_restore ? loc("Restore was successful") : loc("Backup was successful");
        message(m_lastReportText, successWord);
    } else if (st & wesErrors) {
        m_lastReportText = m_restore ? loc("Restoring failed.") : loc("Backup failed");
        message(m_lastReportText, LogWord::StatusWindowNotify);
        P.setLastProcessFailed(true);
        result = wrcFailed;
    } else if (st & wesWarnings) {
        m_lastReportText = m_restore ? loc("Restore was successful with some warnings.")
                                     : loc("Backup was successful with some warnings");
        message(m_lastReportText, m_restore ? successWord : LogWord::StatusWindowNotify);
        result = wrcWarnings;
    }
    if (!m_restore && (result == wrcSuccess || result == wrcWarnings)) {
        if (IBackup3Container* container = IBackup3Container::shared())
            container->save();
    }
    if (!(P.isExternalRestoreFlag() && result != wrcFailed)) {
        P.setRestoreData({});
        P.setRestorePath(QString());
    }
    IBackup3Controller::shared().setNoSendTextInfo(false);
    P.setIndicatorPositionInZero();
    P.setInState(IBackup3::OpIdle);
    // Thinning runs while the image is still attached.
    if (!m_restore && !(st & wesErrors))
        cutBackup(P);
    P.closeBDI();
    P.doOwnersEnableEnding();
    // A full image: the user may choose a new, larger one, and the run starts again on it.
    if (result == wrcFailed && !m_restore && P.useBDI() && P.BDIlastWorkingState().code == 5
        && P.changeTargetForBDIbyUserCreationOnly(false)) {
        _backup3.reset();
        processProject(project);
        return;
    }
    P.setInProcess(false, IBackup3::OpIdle);
    P.setProcessingCodeString(QString());
    reportEnd(result);
}

void IBackup3Processor::cutBackup(IBackup3& P)
{
    IBackupCutUtil::Request request;
    request.hasLastProcessDate = P.lastProcessDate().isValid();
    request.cuttingType = P.backupCuttingType();
    request.cuttingCount = P.backupCuttingCount();
    request.cuttingCountItem = P.backupCuttingCountItem();
    request.projectFolder = P.projectFolderPath();
    request.admin = m_admin;
    request.projectName = P.name();
    IBackup3* project = &P;
    request.log = [project](const QString& text, quint64 options) {
        project->processMessage(text, options, project);
    };
    IBackupCutUtil::shared().cutBackup(request);
}

void IBackup3Processor::reportEnd(int code)
{
    m_lastResultCode = code;
    _backup3.reset();
    IBackup3Controller::shared().eventProcessFinished(code);
    IShellServices::shared().funcSelectorRedraw();
}
