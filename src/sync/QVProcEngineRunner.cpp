#include "sync/QVProcEngineRunner.h"

#include "platform/AppPaths.h"
#include "platform/NameCodec.h"
#include "projects/ILocation.h"
#include "projects/IProcessCard.h"
#include "sync/IAnalyzeController.h"
#include "sync/IAnalyzeProcController.h"
#include "sync/ISynchron.h"
#include "sync/ISynchronProcController.h"
#include "utilities/IProcController.h"
#include "utilities/JSONLookup.h"

namespace {

std::function<void(const QByteArray&)>& programObserver()
{
    static std::function<void(const QByteArray&)> observer;
    return observer;
}

void setPath(cJSON* object, const char* key, const QString& value)
{
    if (object)
        setStringToObject(object, key, NameCodec::encode(value).constData());
}

} // namespace

QVProcEngineRunner::QVProcEngineRunner() = default;

QVProcEngineRunner::~QVProcEngineRunner() = default;

void QVProcEngineRunner::install()
{
    IQVProcRunner::setFactory([]() -> std::unique_ptr<IQVProcRunner> {
        if (IProcController::qvProcPath().isEmpty())
            return nullptr;
        return std::make_unique<QVProcEngineRunner>();
    });
}

void QVProcEngineRunner::setProgramObserver(std::function<void(const QByteArray&)> observer)
{
    programObserver() = std::move(observer);
}

bool QVProcEngineRunner::start(const std::shared_ptr<ISynchron>& project, ISynchronProcController& controller)
{
    if (!project)
        return false;
    m_project = project;
    m_controller = &controller;
    m_analysis = project->isInState(ISynchron::OpAnalysing);
    controller.setCorrectedDestinationDevice(QString());
    controller.QVProcPrepareForProject(*project);
    if (m_analysis) {
        IAnalyzeController& tree = IAnalyzeController::shared();
        tree.prepareFileTree();
        tree.setFileTreeFlagOff(IAnalyzeFileSystemItem::ResultMask);
        tree.reloadData();
        m_parser.reset(project->direction(), 0);
    }
    m_proc = IQVProc::startProject(project, this);
    return m_proc != nullptr;
}

bool QVProcEngineRunner::terminate()
{
    if (!m_proc)
        return false;
    m_proc->terminateByUser();
    return true;
}

QString QVProcEngineRunner::QVProcGetParamsTemplateNameForProject(ISynchron& project)
{
    return m_controller->QVProcGetParamsTemplateNameForProject(project);
}

bool QVProcEngineRunner::QVProcInitParamsForProject(ISynchron& project, cJSON* program, cJSON*)
{
    if (m_analysis || !project.isClone())
        return IAnalyzeProcController::fillSynchronizeProgram(project, m_pass, program, programObserver());
    // Clones: the two volumes, the tools and the exclude list of the system's own folders.
    cJSON* data = get_param_item(program, "Phases:InitParams:InterfaceDataList");
    if (!data)
        return false;
    setPath(data, "toolPath", AppPaths::resourcePath(QStringLiteral("rsync3")));
    setPath(data, "APFSPreparePath", AppPaths::resourcePath(QStringLiteral("qv3_apfs_preparer")));
    for (const auto& [key, location] : { std::pair { "SourceVolume", project.firstLocation() },
             std::pair { "DestVolume", project.secondLocation() } }) {
        cJSON* volume = get_param_item(data, key);
        if (!volume || !location)
            continue;
        setPath(volume, "mountPoint", location->getUnverifiedFullPath());
    }
    if (programObserver()) {
        char* printed = cJSON_Print(program);
        if (printed)
            programObserver()(QByteArray(printed));
        cJSON_free(printed);
    }
    return true;
}

void QVProcEngineRunner::QVProcStartInfoToLog(ISynchron& project)
{
    m_controller->QVProcStartInfoToLog(project);
}

void QVProcEngineRunner::QVProcWorkInfoProcess(const QByteArray& item)
{
    if (m_analysis)
        m_parser.processLine(IAnalyzeController::shared().treeRoot(), item.constData());
}

void QVProcEngineRunner::ITProcessFinished()
{
    if (m_proc && !m_proc->destinationDevice().isEmpty() && m_project && m_project->isClone())
        m_controller->setCorrectedDestinationDevice(m_proc->destinationDevice());
    bool completed = false;
    if (m_analysis && m_project) {
        const IProcessCard& card = m_project->card();
        completed = card.isFlag(stateFinished) && card.isOnlyFlag(errorClear) && card.isFlag(reasonCompleted);
        if (completed && m_pass == 0 && m_project->direction() == 2) {
            // The second pass adds its items to the same tree; its end ends the run.
            m_pass = 1;
            m_parser.reset(2, 1);
            std::shared_ptr<IQVProc> first = std::move(m_proc);
            m_proc = IQVProc::startProject(m_project, this);
            if (m_proc)
                return;
            completed = false;
        }
        // A run that did not complete leaves no result in the tree.
        if (!completed) {
            IAnalyzeController::shared().setFileTreeFlagOff(IAnalyzeFileSystemItem::ResultMask);
            IAnalyzeController::shared().reloadData();
        }
    }
    // The controller reads the card's outcome first; the tree's completion then ends the run's
    // card state as the tree model does.
    if (m_end)
        m_end();
    if (completed) {
        IAnalyzeController::shared().finalAnalyze();
        IAnalyzeController::shared().reloadData();
    }
}
