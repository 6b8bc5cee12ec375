#include "sync/QVProcEngineRunner.h"

#include "platform/AppPaths.h"
#include "platform/NameCodec.h"
#include "projects/ILocation.h"
#include "projects/IProcessCard.h"
#include "sync/IAnalyzeController.h"
#include "sync/IAnalyzeProcController.h"
#include "sync/ISynchron.h"
#include "sync/ISynchronProcController.h"
#include "sync/ISynchronizeController.h"
#include "utilities/IPathUtil.h"
#include "utilities/IProcController.h"
#include "utilities/IVolumeBase.h"
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

// A clone's place as the engine reads it: the volume's device, its group partner, its name and
// its mount point, from the volume table where it knows the volume.
void fillVolume(cJSON* volume, const ILocation& place, bool source)
{
    if (!volume)
        return;
    const VolumeItemPtr item = IVolumeBase::shared().itemWithLocation(&place);
    setPath(volume, "device", item ? item->source : place.getBSDName());
    if (!source)
        setPath(volume, "device2", item ? item->partnerDevice : QString());
    setPath(volume, "name", place.displayName().isEmpty() && item ? item->name : place.displayName());
    setPath(volume, "mountPoint", place.getUnverifiedFullPath());
    if (source)
        setPath(volume, "mountAfterCloning", place.isPresentBySnapshot() ? QString() : QStringLiteral("true"));
}

// The place of the Data volume of the group that holds place, or place itself.
std::shared_ptr<ILocation> dataPlace(const std::shared_ptr<ILocation>& place)
{
    VolumeItemPtr data;
    if (!place || !IVolumeBase::shared().findGroupWithLocation(place.get(), nullptr, &data) || !data)
        return place;
    std::shared_ptr<ILocation> made(ILocation::create());
    made->setupFromVBI(*data);
    return made;
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
    m_programKey = m_controller->QVProcGetParamsTemplateNameForProject(project);
    return m_programKey;
}

bool QVProcEngineRunner::QVProcInitParamsForProject(ISynchron& project, cJSON* program, cJSON*)
{
    if (m_analysis || !project.isClone())
        return IAnalyzeProcController::fillSynchronizeProgram(project, m_pass, program, programObserver());
    if (!fillCloneProgram(project, program))
        return false;
    if (programObserver()) {
        char* printed = cJSON_Print(program);
        if (printed)
            programObserver()(QByteArray(printed));
        cJSON_free(printed);
    }
    return true;
}

bool QVProcEngineRunner::fillCloneProgram(ISynchron& project, cJSON* program)
{
    cJSON* data = get_param_item(program, "Phases:InitParams:InterfaceDataList");
    if (!data)
        return false;
    // The snapshot-based start parameters stay unused: the start parameters stay empty.
    project.card().remove(taskSnapshots);
    const bool byCopy = m_programKey == QLatin1String("clone_RSYNC");
    const bool hybrid = m_programKey == QLatin1String("clone_ASR_RSYNC_gibrid");
    setPath(data, "APFSPreparePath", AppPaths::resourcePath(QStringLiteral("qv3_apfs_preparer")));
    if (byCopy || hybrid)
        setPath(data, "toolPath", AppPaths::resourcePath(QStringLiteral("rsync3")));

    std::shared_ptr<ILocation> source = project.firstLocation();
    std::shared_ptr<ILocation> dest = project.secondLocation();
    if (!source || !dest)
        return false;
    if (byCopy) {
        // A copy clone works from the groups' Data volumes; the pane hears of the table first.
        ISynchronizeController::shared().volumeBaseUpdated();
        source = dataPlace(source);
        dest = dataPlace(dest);
    }
    fillVolume(get_param_item(data, "SourceVolume"), *source, true);
    fillVolume(get_param_item(data, "DestVolume"), *dest, false);

    if (byCopy || hybrid) {
        // The system's own folders are never copied; both files go when the run ends.
        const std::vector<std::string> lines = IProject::systemExcludeLinesForInner(
            IPathUtil::systemExcludeListWithType(project.systemExcludeListType()), QByteArray(),
            source->getMountPoint() == QLatin1String("/"));
        QString systemFile;
        if (!lines.empty() && project.writeSystemExcludeFile(lines, &systemFile)) {
            project.setExcludesTmpFileNameCustom(QString(), systemFile);
            setPath(data, "exFile1Path", systemFile);
        }
    }
    if (byCopy && project.saveCustomExcludesIntoTmpFileForPass(0))
        setPath(data, "exFile2Path",
            QStringLiteral("NOE:: --exclude-from=\"%1\" ").arg(project.customExcludesTmpFileName()));
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

void QVProcEngineRunner::engineStarted(const QStringList& args, pid_t group)
{
    if (m_controller)
        m_controller->commandStarted(args, group);
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
