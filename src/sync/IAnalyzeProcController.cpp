#include "sync/IAnalyzeProcController.h"

#include "platform/AppPaths.h"
#include "platform/NameCodec.h"
#include "projects/IProcessCard.h"
#include "sync/IAnalyzeController.h"
#include "sync/ISynchron.h"
#include "sync/ISynchronizeController.h"
#include "utilities/IProcController.h"
#include "utilities/JSONLookup.h"
#include "utilities/LogOptions.h"
#include "utilities/RsyncExcludes.h"
#include "utilities/WorkEndStatus.h"

#include <QCoreApplication>
#include <QFile>

namespace {

QByteArray bytes(const QString& s)
{
    return NameCodec::encode(s);
}

// The exclude-file member the engine reads: NOE::--exclude-from="PATH".
QByteArray excludeMember(const QString& path)
{
    return "NOE::--exclude-from=\"" + bytes(path) + "\" ";
}

} // namespace

IAnalyzeProcController::IAnalyzeProcController(QObject* parent)
    : QObject(parent)
{ }

IAnalyzeProcController::~IAnalyzeProcController() = default;

QStringList IAnalyzeProcController::analysisOptions(ISynchron& project, int pass)
{
    QStringList options { QStringLiteral("-n") };
    IProcController::rsyncOptions(&options, &project, pass, false);
    return options;
}

QStringList IAnalyzeProcController::extraExcludeArguments(ISynchron& project)
{
    QStringList words;
    if (project.isExcludeInvisible())
        words << QStringLiteral("--exclude=.*");
    if (project.isExcludeByPattern() && !project.getExcludePattern().isEmpty())
        words << RsyncExcludes::patternExcludeArguments(project.getExcludePattern());
    words << project.customExcludeArguments();
    return words;
}

void IAnalyzeProcController::processProject(const std::shared_ptr<ISynchron>& project)
{
    if (!project || m_running)
        return;
    m_synchron = project;
    m_running = true;
    m_userStopped = false;
    m_reason = 1;
    m_pass = 0;
    ISynchron& P = *project;
    P.setInState(ISynchron::OpAnalysing);
    if (IProcessCard* card = P.processCard()) {
        card->add(taskAnalyze);
        card->set(stateRunning);
    }
    ISynchronizeController::shared().setSyncAnalyzeProcess(true);
    IAnalyzeController& tree = IAnalyzeController::shared();
    tree.prepareFileTree();
    tree.setFileTreeFlagOff(IAnalyzeFileSystemItem::ResultMask);
    tree.reloadData();
    if (!startPass())
        processFinished(wesErrors);
}

bool IAnalyzeProcController::startPass()
{
    m_parser.reset(m_synchron->direction(), m_pass);
    m_runner = IQVProc::startProject(m_synchron, this);
    return m_runner != nullptr;
}

QString IAnalyzeProcController::QVProcGetParamsTemplateNameForProject(ISynchron&)
{
    return QStringLiteral("synchronize");
}

bool IAnalyzeProcController::fillSynchronizeProgram(
    ISynchron& P, int pass, cJSON* program, const std::function<void(const QByteArray&)>& observer)
{
    cJSON* data = get_param_item(program, "Phases:InitParams:InterfaceDataList");
    cJSON* source = get_param_item(data, "SourceFolder");
    cJSON* dest = get_param_item(data, "DestFolder");
    if (!data || !source || !dest)
        return false;
    setStringToObject(source, "Path", bytes(P.sourcePathForPass(pass)).constData());
    setStringToObject(dest, "Path", bytes(P.destPathForPass(pass)).constData());
    setStringToObject(data, "toolPath", bytes(AppPaths::resourcePath(QStringLiteral("rsync3"))).constData());
    setStringToObject(data, "Params", bytes(analysisOptions(P, pass).join(QLatin1Char(' '))).constData());
    setStringToObject(data, "exFile1Path",
        P.saveSystemExcludesIntoTmpFileForPass(pass)
            ? excludeMember(P.systemExcludesTmpFileName()).constData()
            : "");
    setStringToObject(data, "exFile2Path",
        P.saveCustomExcludesIntoTmpFileForPass(pass)
            ? excludeMember(P.customExcludesTmpFileName()).constData()
            : "");
    cJSON_DeleteItemFromObjectCaseSensitive(data, "exArgs");
    cJSON* ex = cJSON_AddArrayToObject(data, "exArgs");
    for (const QString& w : extraExcludeArguments(P))
        cJSON_AddItemToArray(ex, cJSON_CreateString(bytes(w).constData()));
    if (observer) {
        char* printed = cJSON_Print(program);
        if (printed)
            observer(QByteArray(printed));
        cJSON_free(printed);
    }
    return true;
}

bool IAnalyzeProcController::QVProcInitParamsForProject(ISynchron& P, cJSON* program, cJSON*)
{
    return fillSynchronizeProgram(P, m_pass, program, m_programObserver);
}

void IAnalyzeProcController::engineStarted(const QStringList& args, pid_t group)
{
    if (m_commandObserver)
        m_commandObserver(args, group);
}

void IAnalyzeProcController::QVProcWorkInfoProcess(const QByteArray& item)
{
    if (!m_running)
        return;
    m_parser.processLine(IAnalyzeController::shared().treeRoot(), item.constData());
}

void IAnalyzeProcController::ITProcessFinished()
{
    if (!m_running)
        return;
    IProcessCard* card = m_synchron->processCard();
    quint32 status = wesClear;
    // The card of the engine run decides with the items: a stop, an error line, an unexpected
    // end or a failed start all fail the analysis; warnings do not.
    if (m_userStopped || (card && card->isFlag(reasonTerminatedByUser)))
        status = wesTerminateByUser;
    else if (!card || card->isFlag(errorRuntime) || card->isFlag(errorToolStart)
        || card->isFlag(errorAuthorization) || !card->isFlag(reasonCompleted))
        status = wesErrors;
    if (status == wesClear && m_synchron->direction() == 2 && m_pass == 0) {
        m_pass = 1;
        if (startPass())
            return;
        status = wesErrors;
    }
    processFinished(status);
}

void IAnalyzeProcController::processFinished(quint32 status)
{
    ISynchron& P = *m_synchron;
    ISynchronizeController& pane = ISynchronizeController::shared();
    IAnalyzeController& tree = IAnalyzeController::shared();
    QString text;
    int result = 0;
    if (status != wesClear) {
        tree.setFileTreeFlagOff(IAnalyzeFileSystemItem::ResultMask);
        pane.setSyncAnalyzeProcess(false);
        pane.setNoSendTextInfo(false);
        tree.reloadData();
        if (status == wesTerminateByUser) {
            text = tr("Terminated by user");
            result = 4;
        } else {
            text = tr("Analyze failed");
            pane.sendAnalyzeInfo(text, status);
            result = 1;
        }
        P.setInProcess(false, 0);
    } else {
        tree.finalAnalyze();
        tree.reloadData();
        text = tr("Analyze completed");
        pane.sendAnalyzeInfo(text, status);
        pane.setSyncAnalyzeProcess(false);
        pane.setNoSendTextInfo(false);
        P.setInProcess(false, 0);
        P.setMainButtonState(1);
    }
    pane.setSyncAnalyzeEnabled(true);
    if (IProcessCard* card = P.processCard()) {
        card->remove(taskAnalyze);
        card->set(stateEmpty);
    }
    P.setInState(ISynchron::OpIdle);
    P.sendTextInfo(P.isReadyForInterface() ? tr("Ready") : QString(), 1, tpStatus, nullptr);
    tree.reloadData();
    pane.validateButtons();
    m_running = false;
    m_runner.reset();
    if (m_endObserver)
        m_endObserver(result, text);
}

bool IAnalyzeProcController::terminateProcess()
{
    if (!m_running)
        return false;
    m_userStopped = true;
    if (m_runner) {
        m_runner->terminateByUser();
        return true;
    }
    return false;
}
