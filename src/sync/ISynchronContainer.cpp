#include "sync/ISynchronContainer.h"

#include "platform/AppPaths.h"
#include "platform/AtomicFile.h"
#include "platform/Clock.h"
#include "platform/NameCodec.h"
#include "platform/PlistBridge.h"
#include "projects/ClonerDefaults.h"
#include "projects/ILocation.h"
#include "projects/ScheduleDates.h"
#include "sync/ICloneStartWarner.h"
#include "sync/ISyncRunController.h"
#include "sync/ISynchron.h"
#include "sync/ISynchronizeController.h"
#include "utilities/CommonFunctions.h"
#include "utilities/IDiskUtil.h"
#include "utilities/IPathUtil.h"
#include "utilities/IShellServices.h"
#include "utilities/LogOptions.h"
#include "utilities/QVLog.h"
#include "utilities/TempFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

ISynchronContainer* g_shared = nullptr;
int g_syncPropertyScheme = 0;

const QString kPreferences = QStringLiteral("Preferences");
const QString kScheme = QStringLiteral("SynchronizePropertyScheme");
const QString kSelected[2] = { QStringLiteral("SelectedSynchronIndex"), QStringLiteral("SelectedClonIndex") };
const QString kArray[2] = { QStringLiteral("Synchrons"), QStringLiteral("Clones") };

} // namespace

ISynchronContainer::ISynchronContainer(
    std::unique_ptr<ISyncRunController> runController, const QString& workspace, QObject* parent)
    : QObject(parent)
    , m_syncProc(std::move(runController))
    , m_synchronizeController(&ISynchronizeController::shared())
    , m_workspace(workspace)
{
    g_shared = this;
    load();
}

ISynchronContainer::~ISynchronContainer()
{
    if (g_shared == this)
        g_shared = nullptr;
}

ISynchronContainer* ISynchronContainer::shared()
{
    return g_shared;
}

int ISynchronContainer::syncPropertyScheme()
{
    return g_syncPropertyScheme;
}

// ---- Lists and selection -----------------------------------------------------------------------

const QList<std::shared_ptr<ISynchron>>& ISynchronContainer::listByType(int type) const
{
    return type == 1 ? m_cloneList : m_synchronList;
}

QList<std::shared_ptr<ISynchron>>& ISynchronContainer::mutableList(int type)
{
    return type == 1 ? m_cloneList : m_synchronList;
}

std::shared_ptr<ISynchron> ISynchronContainer::synchronByIndex(qsizetype index, int type) const
{
    if (type != 0 && type != 1)
        return nullptr;
    const auto& list = listByType(type);
    return index >= 0 && index < list.size() ? list.at(index) : nullptr;
}

std::shared_ptr<ISynchron> ISynchronContainer::currentSynchronByType(int type) const
{
    if (type != 0 && type != 1)
        return nullptr;
    return synchronByIndex(m_currentSynchronIndex[size_t(type)], type);
}

qint64 ISynchronContainer::currentSynchronIndexByType(int type) const
{
    return (type == 0 || type == 1) ? m_currentSynchronIndex[size_t(type)] : -1;
}

qsizetype ISynchronContainer::indexByTypeOfSynchron(const ISynchron* project) const
{
    if (!project)
        return -1;
    const auto& list = listByType(project->synchronType());
    for (qsizetype i = 0; i < list.size(); ++i)
        if (list.at(i).get() == project)
            return i;
    return -1;
}

bool ISynchronContainer::isCurrentNewSynchron(int type) const
{
    const qint64 index = currentSynchronIndexByType(type);
    return index >= 0 && index == listByType(type).size() - 1;
}

bool ISynchronContainer::setCurrentSynchronByIndex(qint64 index, int type)
{
    if ((type != 0 && type != 1) || index < 0 || index >= listByType(type).size())
        return false;
    if (auto old = currentSynchronByType(type))
        old->setSelected(false);
    m_currentSynchronIndex[size_t(type)] = index;
    listByType(type).at(index)->setSelected(true);
    return true;
}

void ISynchronContainer::initFirstSynchron()
{
    for (int type : { 1, 0 }) {
        const qint64 loaded = m_initSynchronIndex[size_t(type)];
        if (!setCurrentSynchronByIndex(loaded, type))
            setCurrentSynchronByIndex(listByType(type).size() - 1, type);
    }
}

qsizetype ISynchronContainer::addSynchron(const std::shared_ptr<ISynchron>& project)
{
    if (!project)
        return -1;
    auto& list = mutableList(project->synchronType());
    list.append(project);
    return list.size() - 1;
}

std::shared_ptr<ISynchron> ISynchronContainer::createNewSynchron(const QString& name, int type)
{
    if (type != 0 && type != 1)
        return nullptr;
    auto project = std::make_shared<ISynchron>();
    project->setToDefault();
    project->setSynchronType(type);
    project->setName(name.isEmpty() ? ISynchron::defaultName(type) : name);
    const qsizetype index = addSynchron(project);
    setCurrentSynchronByIndex(index, type);
    eventPprojectListChanged(3);
    return project;
}

bool ISynchronContainer::deleteCurrentSynchronByType(int type)
{
    auto project = currentSynchronByType(type);
    if (!project)
        return false;
    // A queued project leaves the queue first: it must never start after it was deleted.
    if (project->isInState(ISynchron::OpQueued))
        removeProjectFromProcessingList(project);
    const bool running = (m_syncProc && m_syncProc->synchron() == project) || project->isInProcess()
        || m_processingList.contains(project);
    if (running) {
        logFailure(tr("The project \"%1\" is running and cannot be deleted.").arg(project->name()));
        return false;
    }
    project->setSelected(false);
    auto& list = mutableList(type);
    const qint64 index = m_currentSynchronIndex[size_t(type)];
    list.removeAt(index);
    m_currentSynchronIndex[size_t(type)] = -1;
    if (!list.isEmpty())
        setCurrentSynchronByIndex(qMin<qint64>(index, list.size() - 1), type);
    eventPprojectListChanged(3);
    return true;
}

bool ISynchronContainer::moveSynchronFrom(qsizetype from, qsizetype to, int type)
{
    if (type != 0 && type != 1)
        return false;
    auto& list = mutableList(type);
    const qsizetype count = list.size();
    if (from < 0 || from >= count || to < 0 || to > count)
        return false;
    const auto project = list.at(from);
    list.insert(to, project);
    list.removeAt(from > to ? from + 1 : from);
    if (auto old = currentSynchronByType(type))
        old->setSelected(false);
    m_currentSynchronIndex[size_t(type)] = -1;
    setCurrentSynchronByIndex(indexByTypeOfSynchron(project.get()), type);
    eventPprojectListChanged(3);
    return true;
}

bool ISynchronContainer::isUniqueName(const QString& name, const ISynchron* excludeProject) const
{
    const int type = excludeProject ? excludeProject->synchronType() : m_currentSyncType;
    if (type != 0 && type != 1)
        return true;
    for (const auto& p : listByType(type))
        if (p.get() != excludeProject && p->name() == name)
            return false;
    return true;
}

void ISynchronContainer::setSynchronToDefault(qsizetype index, int type)
{
    if (auto p = synchronByIndex(index, type))
        p->setToDefault();
}

void ISynchronContainer::setUseAdminPrivilegesForAllProjects()
{
    for (const auto& p : m_synchronList)
        p->setUseAdminPrivileges(true);
}

bool ISynchronContainer::isCloneWillBeBootable(ISynchron* project) const
{
    if (!project || !project->isClone())
        return false;
    const auto source = project->firstLocation();
    const auto dest = project->secondLocation();
    if (!source || !dest || !dest->isActive() || !dest->isWritable())
        return false;
    const qint64 version = IDiskUtil::systemVersion();
    if (dest->isAPFS()) {
        if (version >= 101200 && version <= 101299)
            return false;
        if (!source->isAPFS())
            return false;
    }
    IDiskUtil& disk = IDiskUtil::shared();
    if (!disk.getDiskInfo(dest->getUnverifiedFullPath()) || !disk.isBootable())
        return false;
    return source->hasSytemFolders();
}

bool ISynchronContainer::canProcessSynchron() const
{
    return m_syncProc && m_syncProc->canWork();
}

QString ISynchronContainer::tempFolderPath() const
{
    const std::string folder = TempFolder::privateFolder(NameCodec::encodeStd(IPathUtil::getTmpFolderPath()));
    return folder.empty() ? QString() : NameCodec::decode(folder);
}

QString ISynchronContainer::generateTempFileName() const
{
    const std::string name = TempFolder::bareName(NameCodec::encodeStd(IPathUtil::getTmpFolderPath()));
    return name.empty() ? QString() : NameCodec::decode(name);
}

QString ISynchronContainer::preferencesPath() const
{
    return AppPaths::configHome();
}

QString ISynchronContainer::appSupportPath() const
{
    return m_workspace.isNull() ? AppPaths::currentWorkspacePath() : m_workspace;
}

// ---- Events to the pane ------------------------------------------------------------------------

void ISynchronContainer::setInterfaceController(ISynchronizeController* controller)
{
    m_synchronizeController = controller;
    eventProjectChanged(4);
}

void ISynchronContainer::eventProjectChanged(int code)
{
    if (m_synchronizeController)
        m_synchronizeController->eventProjectChanged(code);
}

void ISynchronContainer::eventProjectPropertyChanged(int code)
{
    if (m_synchronizeController)
        m_synchronizeController->eventProjectPropertyChanged(code);
}

void ISynchronContainer::eventPprojectListChanged(int code)
{
    if (m_synchronizeController)
        m_synchronizeController->eventProjectListChanged(code);
}

void ISynchronContainer::eventChangedProjectStatus(ISynchron* project)
{
    if (m_synchronizeController)
        m_synchronizeController->eventChangedProjectStatus(project);
}

void ISynchronContainer::sendTextInfo(const QString& text, qint32 type, quint8 target, QObject* sender)
{
    if (m_synchronizeController)
        m_synchronizeController->sendTextInfo(text, type, target, sender);
}

void ISynchronContainer::logFailure(const QString& text) const
{
    IShellServices::shared().processMessage(text, LogWord::WindowAndRunLog, nullptr);
}

// ---- Life --------------------------------------------------------------------------------------

QString ISynchronContainer::syncsFilePath() const
{
    return appSupportPath() + QStringLiteral("/Syncs/Projects.plist");
}

QString ISynchronContainer::clonesFilePath() const
{
    return appSupportPath() + QStringLiteral("/Clones/Projects.plist");
}

void ISynchronContainer::reInit()
{
    m_synchronList.clear();
    m_cloneList.clear();
    m_currentSynchronIndex = { -1, -1 };
    load();
    createNewSynchron(QString(), 0);
    createNewSynchron(QString(), 1);
    eventProjectChanged(4);
}

void ISynchronContainer::load()
{
    // The application's defaults count from the first start on, list files or not.
    const ClonerDefaults defaults = ClonerDefaults::fromApplication();
    m_defaultExcludesList = defaults.excludes;
    m_defaultHiddensList = defaults.hiddens;
    m_initSynchronIndex = { -1, -1 };
    loadFile(syncsFilePath(), 0);
    loadFile(clonesFilePath(), 1);
    for (int type : { 0, 1 })
        if (!listByType(type).isEmpty() && m_currentSynchronIndex[size_t(type)] < 0)
            m_currentSynchronIndex[size_t(type)] = 0;
}

void ISynchronContainer::loadFile(const QString& path, int type)
{
    m_loadRefused[size_t(type)] = false;
    const PlistBridge::ReadResult read = PlistBridge::readFile(path);
    if (read.status == PlistBridge::ReadStatus::Missing)
        return;
    if (read.status != PlistBridge::ReadStatus::Ok || read.value.typeId() != QMetaType::QVariantMap) {
        // Never let the next save replace projects that could not be read.
        const QString aside
            = read.status == PlistBridge::ReadStatus::Unreadable ? QString() : PlistBridge::keepAside(path);
        if (aside.isNull()) {
            m_loadRefused[size_t(type)] = true;
            logFailure(tr("The project list \"%1\" cannot be read (%2). It is left as it is and will not be "
                          "overwritten.")
                           .arg(path, read.error));
        } else {
            logFailure(tr("The project list \"%1\" is damaged. It was kept as \"%2\"; the list starts empty.")
                           .arg(path, aside));
        }
        return;
    }
    const QVariantMap root = read.value.toMap();
    const QVariant prefsValue = root.value(kPreferences);
    if (prefsValue.typeId() == QMetaType::QVariantMap) {
        const QVariantMap prefs = prefsValue.toMap();
        const QVariant selected = prefs.value(kSelected[type]);
        if (PlistValue::isNumber(selected))
            m_initSynchronIndex[size_t(type)] = selected.toLongLong();
        if (PlistValue::isNumber(prefs.value(kScheme)))
            g_syncPropertyScheme = int(prefs.value(kScheme).toLongLong());
    }
    // Older Syncs files kept every project, clones too, in "Synchrons".
    for (const QString& key : { kArray[0], kArray[1] })
        if (root.value(key).typeId() == QMetaType::QVariantList && (key == kArray[type] || type == 0))
            loadSynchronsFromArray(root.value(key).toList(), type);
}

void ISynchronContainer::loadSynchronsFromArray(const QVariantList& array, int type)
{
    for (const QVariant& element : array) {
        if (element.typeId() != QMetaType::QVariantMap)
            continue;
        auto project = std::make_shared<ISynchron>();
        if (!project->loadFromDict(element.toMap(), g_syncPropertyScheme))
            continue;
        // The blank entries of both kinds are made anew at every start; a project that only bears
        // such a name is dropped, one that was set up is kept.
        const bool blankName
            = project->name() == ISynchron::defaultName(0) || project->name() == ISynchron::defaultName(1);
        if (blankName && !project->isConfigured())
            continue;
        // The clone file holds clones only; a Syncs file may hold both kinds.
        if (type == 1 && project->synchronType() != 1)
            project->setSynchronType(1);
        addSynchron(project);
    }
}

bool ISynchronContainer::saveFile(const QString& path, const QVariantMap& root)
{
    QString error;
    const QByteArray xml = PlistBridge::toXml(root);
    bool ok = !xml.isEmpty();
    if (!ok)
        error = tr("the list cannot be written as a property list");
    const QString folder = QFileInfo(path).absolutePath();
    if (ok && !QDir().mkpath(folder)) {
        ok = false;
        error = tr("the folder \"%1\" cannot be created").arg(folder);
    }
    if (ok) {
        // Readable by its owner only; a new file is 0600 before anything goes in.
        const QByteArray bytes = NameCodec::encode(path);
        const int fd = ::open(bytes.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        const bool created = fd >= 0;
        if (created)
            ::close(fd);
        else
            ::chmod(bytes.constData(), 0600);
        ok = AtomicFile::write(path, xml, &error);
        if (!ok && created)
            ::unlink(bytes.constData());
    }
    if (!ok)
        logFailure(tr("The project list \"%1\" cannot be saved: %2").arg(path, error));
    return ok;
}

bool ISynchronContainer::save()
{
    bool ok = true;
    for (int type : { 0, 1 }) {
        const QString path = type == 0 ? syncsFilePath() : clonesFilePath();
        if (m_loadRefused[size_t(type)]) {
            logFailure(
                tr("The project list \"%1\" was not saved: the file in place could not be read.").arg(path));
            ok = false;
            continue;
        }
        QVariantMap prefs;
        prefs.insert(kSelected[type], qint64(m_currentSynchronIndex[size_t(type)]));
        prefs.insert(kScheme, qint64(2));
        QVariantList projects;
        for (const auto& p : listByType(type)) {
            QVariantMap d;
            p->saveToDict(d);
            projects.append(d);
        }
        QVariantMap root;
        root.insert(kPreferences, prefs);
        root.insert(kArray[type], projects);
        ok = saveFile(path, root) && ok;
    }
    return ok;
}

// ---- Queue and runs ----------------------------------------------------------------------------

void ISynchronContainer::addSynchronToProcessingList(const std::shared_ptr<ISynchron>& project)
{
    if (!project || project->isInProcess() || m_processingList.contains(project))
        return;
    m_processingList.append(project);
    project->setLastStatusString(tr("Project is in queue"));
    project->setInState(ISynchron::OpQueued);
}

bool ISynchronContainer::removeProjectFromProcessingList(const std::shared_ptr<ISynchron>& project)
{
    if (!project || !project->isInState(ISynchron::OpQueued))
        return false;
    m_processingList.removeAll(project);
    project->setLastStatusString((project->getReady() & ISynchron::ReadyRun) ? tr("Ready") : QString());
    project->setInState(ISynchron::OpIdle);
    return true;
}

bool ISynchronContainer::isProcessing() const
{
    if (m_runningPprocessNext)
        return true;
    if (!m_syncProc)
        return false;
    const auto running = m_syncProc->synchron();
    return running && running->isInProcess();
}

void ISynchronContainer::processNext()
{
    if (isProcessing() || m_processingList.isEmpty())
        return;
    m_runningPprocessNext = true;
    const std::shared_ptr<ISynchron> P = m_processingList.first();
    m_processingList.removeFirst();
    P->setLastProcessFailed(false);
    const bool clone = P->isClone();
    bool start = true;
    if (clone && P->isProcessingBySchedule()) {
        // A clone started by the schedule or a mount gets the pre-flight check its run relies
        // on, as a start by hand has just had.
        QString text;
        ISynchronizeController* pane = m_synchronizeController;
        start = pane && pane->analyzeClone(P.get(), true, &text);
        if (!start) {
            if (!text.isEmpty())
                P->processMessage(text, LogWord::StatusAndWindow, this);
            P->processMessage(tr("Cloning failed."), LogWord::StatusWindowNotify, this);
            P->doAutoUnmount();
            P->setLastProcessFailed(true);
            P->setInState(ISynchron::OpIdle);
        }
    }
    if (start) {
        P->processMessage(clone ? tr("Cloning has started") : tr("Synchronize has started"),
            LogWord::StatusAndWindow, this);
        P->setInState(clone ? ISynchron::OpCloning : ISynchron::OpSynchronizing);
        if (m_syncProc)
            m_syncProc->processProject(P);
    }
    // A scheduled project refused by its check has had its turn too: it is not tried again at
    // every check of the next minutes.
    if (P->isScheduled() && (start || P->isProcessingBySchedule()))
        P->setNextProcessDate(P->computeNextProcessDate(Clock::current().now()));
    m_runningPprocessNext = false;
    // A start that did not happen leaves the way free for the next queued project.
    if (!start)
        processNext();
}

void ISynchronContainer::processCurrentProject()
{
    const auto P = currentSynchronByType(m_currentSyncType);
    if (!P)
        return;
    ISynchronizeController* pane = m_synchronizeController;
    P->setProcessingCodeString(QVProcessingCodeString());
    if (P->isInState(ISynchron::OpAnalysing) && pane)
        pane->stopAnalyze(P.get());
    if (pane)
        pane->clearAnalyzeView();
    if (P->isInState(ISynchron::OpAnalysing)) {
        P->setInProcess(false, ISynchron::OpIdle);
        P->card().set(stateEmpty);
    }
    const int ready = P->getReady();
    if (P->isClone() && (ready & ISynchron::ReadyMountVolumes)) {
        P->doAutomount();
        if (auto dest = P->secondLocation(); dest && dest->prepare())
            if (auto source = P->firstLocation())
                source->prepare();
    }
    QString text;
    if (P->isClone() && pane)
        pane->analyzeClone(P.get(), true, &text);
    const int readyNow = P->getReady();
    if (!P->isProcessingBySchedule() && P->isClone() && P->isStartCloningWarnDialog()) {
        if (!(readyNow & ISynchron::ReadyRun)) {
            if (!text.isEmpty())
                P->processMessage(text, LogWord::StatusAndWindow, this);
            P->processMessage(tr("Cloning failed."), LogWord::StatusWindowNotify, this);
            P->doAutoUnmount();
            if (pane)
                pane->setSyncAnalyzeEnabled(true);
            return;
        }
        if (!ICloneStartWarner::shared().showForClone(P.get())) {
            P->doAutoUnmount();
            if (pane)
                pane->setSyncAnalyzeEnabled(true);
            return;
        }
    }
    if (readyNow & ISynchron::ReadyRun) {
        addSynchronToProcessingList(P);
        P->setProcessingBySchedule(false);
        processNext();
    }
    if (pane)
        pane->setSyncAnalyzeEnabled(true);
}

void ISynchronContainer::processCurrentProjectCloneASR()
{
    const auto P = currentSynchronByType(m_currentSyncType);
    if (!P || !P->isClone() || !P->isInState(ISynchron::OpIdle))
        return;
    P->card().add(taskFullCloning);
    if (IDiskUtil::systemVersion() < 101600)
        P->card().add(taskSnapshots);
    if (!P->isProcessingBySchedule() && P->isStartCloningWarnDialog()
        && !ICloneStartWarner::shared().showForClone(P.get())) {
        P->card().remove(taskFullCloning);
        P->card().remove(taskSnapshots);
        return;
    }
    if (!P->isReadyForInterface())
        return;
    P->setProcessingCodeString(QVProcessingCodeString());
    P->card().add(analyticUnmountNotReasonForTermination);
    addSynchronToProcessingList(P);
    P->setProcessingBySchedule(false);
    processNext();
}

void ISynchronContainer::stopProcessProject(const std::shared_ptr<ISynchron>& project)
{
    if (!project)
        return;
    if (project->isInState(ISynchron::OpQueued))
        removeProjectFromProcessingList(project);
    else if ((project->isInState(ISynchron::OpSynchronizing) || project->isInState(ISynchron::OpCloning))
        && m_syncProc && m_syncProc->synchron() == project)
        m_syncProc->terminateProcess();
    if (m_synchronizeController)
        m_synchronizeController->setSyncAnalyzeEnabled(true);
}

void ISynchronContainer::stopProcessCurrentProject()
{
    stopProcessProject(currentSynchronByType(m_currentSyncType));
}

void ISynchronContainer::stopProcessAnyProjects()
{
    if (m_syncProc && m_syncProc->isProcessing())
        m_syncProc->terminateProcess();
}

void ISynchronContainer::stopAnalyzeSynchron(ISynchron* project)
{
    if (m_synchronizeController && project)
        m_synchronizeController->stopAnalyze(project);
}

void ISynchronContainer::scheduleProcess()
{
    checkNeedSynchronizeOnSchedule();
    if (isQueueNotEmpty())
        processNext();
}

// ---- Triggers ----------------------------------------------------------------------------------

void ISynchronContainer::queueByTrigger(const std::shared_ptr<ISynchron>& project)
{
    project->setProcessingBySchedule(true);
    project->setProcessingCodeString(QVProcessingCodeString());
    addSynchronToProcessingList(project);
}

bool ISynchronContainer::walkForTrigger(const std::function<bool(ISynchron&)>& due)
{
    // Synchronizations first; clones only in a pass that queued no synchronization.
    for (int type : { 0, 1 }) {
        bool queued = false;
        // A copy: a project deleted meanwhile stays valid until the walk is done.
        const QList<std::shared_ptr<ISynchron>> list = listByType(type);
        for (const auto& p : list) {
            if (!p || p->isInProcess() || !due(*p))
                continue;
            queueByTrigger(p);
            queued = true;
        }
        if (queued)
            return true;
    }
    return false;
}

bool ISynchronContainer::checkNeedSynchronizeOnSchedule()
{
    const QDateTime now = Clock::current().now();
    if (!now.isValid())
        return false;
    int W, D, H, M;
    scheduleNumbers(now, &W, &D, &H, &M);
    return walkForTrigger([&](ISynchron& p) { return p.isTimeToSynchronizeDate(now, D, W, H, M); });
}

bool ISynchronContainer::checkNeedSynchronizeOnMount(const QString& mountedPath)
{
    return walkForTrigger([&](ISynchron& p) { return p.isNeedToProcessOnMount(mountedPath); });
}

QStringList ISynchronContainer::getVolumeUUIDListForStartOnMountEvent() const
{
    QStringList uuids;
    for (int type : { 0, 1 })
        for (const auto& p : listByType(type))
            if (p->isProcessOnMount() && (!p->isScheduled() || p->isLastProcessFailed()))
                uuids += p->volumeUUIDsForStartOnMount();
    return uuids;
}

QDateTime ISynchronContainer::getFirstNextDateByType(int type) const
{
    if (type != 0 && type != 1)
        return QDateTime();
    const QDateTime now = Clock::current().now();
    QDateTime first;
    for (const auto& p : listByType(type)) {
        if (!p->isScheduled())
            continue;
        if (!p->getNextProcessDate().isValid())
            p->setNextProcessDate(p->computeNextProcessDate(now));
        const QDateTime next = p->getNextProcessDate();
        if (next.isValid() && (!first.isValid() || next < first))
            first = next;
    }
    return first;
}

bool ISynchronContainer::isScheduleEnabled() const
{
    for (int type : { 0, 1 }) {
        for (const auto& p : listByType(type)) {
            if (p->isScheduled()) {
                std::fputs(type == 0 ? "Synchronizer: Scheduled projects found\n"
                                     : "Cloner: Scheduled projects found\n",
                    stderr);
                return true;
            }
        }
    }
    return false;
}

void ISynchronContainer::diskWasUnmount()
{
    if (!m_syncProc)
        return;
    const auto running = m_syncProc->synchron();
    if (!running || !running->isInProcess())
        return;
    auto lost = [](const std::shared_ptr<ILocation>& l) {
        return l && !l->correctActive() && !l->isFlag(ILocation::FlagUnmountedByProgram);
    };
    if ((lost(running->firstLocation()) || lost(running->secondLocation()))
        && !running->card().isFlag(analyticUnmountNotReasonForTermination)) {
        m_syncProc->setProcessFinishedByReason(2);
        m_syncProc->terminateProcess();
    }
    if (m_synchronizeController)
        m_synchronizeController->processIndicator();
}
