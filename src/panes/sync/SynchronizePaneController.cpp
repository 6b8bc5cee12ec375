#include "panes/sync/SynchronizePaneController.h"

#include "panes/sync/AnalyzeOutlineModel.h"
#include "platform/MainThread.h"
#include "platform/NameCodec.h"
#include "platform/TimerScale.h"
#include "projects/ILocation.h"
#include "projects/ILocationServices.h"
#include "projects/IProcessCard.h"
#include "projects/ProjectNames.h"
#include "sync/ISynchron.h"
#include "sync/ISynchronContainer.h"
#include "sync/SyncFolders.h"
#include "utilities/ICommon.h"
#include "utilities/IMessageUtil.h"
#include "utilities/IRunLog.h"
#include "utilities/IShellServices.h"
#include "utilities/IVolumeBase.h"
#include "utilities/LogOptions.h"
#include "utilities/MainPreferences.h"
#include "utilities/UiPrompts.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QPointer>
#include <sys/stat.h>

namespace {

QString loc(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

int agentBits()
{
    return MainPreferences::shared().agentState().getInt();
}

bool isFolder(const QString& path)
{
    struct stat st = {};
    return !path.isEmpty() && ::stat(NameCodec::encode(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The disk-array filter of the pickers: no system mounts, network or temporary volumes, helper
// roles of a volume group, or network file systems without device data.
constexpr qint64 kPickerFilter = 563;
constexpr int kMaxDisks = 500;

} // namespace

SynchronizePaneController::SynchronizePaneController(ISynchronContainer* container, QObject* parent)
    : QObject(parent)
    , m_container(container)
    , m_analyze(std::make_unique<AnalyzeOutlineModel>())
{
    m_analyze->setPane(this);
    IAnalyzeController::setShared(m_analyze.get());
    if (m_container)
        m_container->setInterfaceController(this);
    m_scheduleTimer.setInterval(TimerScale::scaled(10000));
    connect(&m_scheduleTimer, &QTimer::timeout, this, &SynchronizePaneController::scheduleEvent);
    m_verdict.text = loc("Select source and destination");
    m_verdict.icon = CloneVerdict::Icon::Warning;
    m_verdict.anchor = QStringLiteral("cloning_messages_html_select_disks");
}

SynchronizePaneController::~SynchronizePaneController()
{
    if (m_container && m_container->interfaceController() == this)
        m_container->setInterfaceController(nullptr);
    if (&IAnalyzeController::shared() == m_analyze.get())
        IAnalyzeController::setShared(nullptr);
    if (&ISynchronizeController::shared() == this)
        ISynchronizeController::setShared(nullptr);
}

int SynchronizePaneController::kind() const
{
    return m_container && m_container->currentSyncType() == 1 ? 1 : 0;
}

std::shared_ptr<ISynchron> SynchronizePaneController::current() const
{
    return currentOfKind(kind());
}

std::shared_ptr<ISynchron> SynchronizePaneController::currentOfKind(int k) const
{
    return m_container ? m_container->currentSynchronByType(k) : nullptr;
}

bool SynchronizePaneController::foldersNested(const ISynchron& P)
{
    if (P.isClone())
        return false;
    const QString a = P.firstFolder(), b = P.secondFolder();
    return !a.isEmpty() && !b.isEmpty() && SyncFolders::areNested(a, b);
}

void SynchronizePaneController::setIndicator(int k, IProcessIndicator* indicator)
{
    m_indicators[k == 1 ? 1 : 0] = indicator;
}

QString SynchronizePaneController::verdictHtml() const
{
    return SyncPaneRules::verdictHtml(m_verdict.text, m_verdict.anchor);
}

QString SynchronizePaneController::windowHeader() const
{
    const auto P = current();
    return SyncPaneRules::windowHeader(kind(), P != nullptr, P ? P->name() : QString());
}

// ---- Events ------------------------------------------------------------------------------------

void SynchronizePaneController::eventProjectChanged(int code)
{
    const int k = kind();
    emit projectListChanged(k);
    validateWindowHeader();
    validateProcessIndicator();
    validateStatusString();
    validateButtons();
    if (k == 0) {
        const auto P = currentOfKind(0);
        if (P && P->isInState(ISynchron::OpAnalysing) && !m_analyze->isAnalyzing())
            P->setInProcess(false, 0); // a leftover analysis state
        m_analyze->setProject(P);
        if (!m_syncAnalyzeProcess)
            sendAnalyzeInfo(QString(), 0);
    }
    emit projectChanged();
    Q_UNUSED(code);
}

void SynchronizePaneController::eventProjectPropertyChanged(int code)
{
    const int k = kind();
    emit projectListChanged(k);
    const auto P = current();
    if (!P) {
        if (IProcessIndicator* ind = m_indicators[size_t(k)])
            ind->setStateButton(0, 0);
        return;
    }
    if (m_container)
        m_container->save();
    validateStatusString();
    loadSettingsFromSynchron(P.get());
    eventProjectFolderChanged(code);
    if (k == 0)
        m_analyze->setProject(P);
}

void SynchronizePaneController::eventProjectFolderChanged(int code)
{
    const auto P = current();
    if (P && P->isClone()) {
        analyzeClone(P.get(), true, nullptr);
        emit disksChanged();
    } else if (P && !P->isInState(ISynchron::OpAnalysing)) {
        emit foldersChanged();
        setSyncAnalyzeEnabled(true);
        if (P->getReady() & ISynchron::ReadyRun && !foldersNested(*P))
            P->setMainButtonState(1);
        m_analyze->eventSyncParamsChanged(code);
        if (code == 6 && P->isProcessOnMount() && !P->isSynchronProcessOnMountEnabled()) {
            P->setProcessOnMount(false);
            if (m_container)
                m_container->save();
        }
    }
    eventProjectChanged(code);
}

void SynchronizePaneController::eventProjectListChanged(int code)
{
    eventProjectChanged(code);
}

void SynchronizePaneController::eventChangedProjectStatus(ISynchron* project)
{
    if (!project)
        return;
    const SyncPaneRules::StatusChangeActions a
        = SyncPaneRules::statusChangeActions(project->lastStateChange(), project->isSelected(), m_noSendTextInfo);
    if (a.validateButtons)
        validateButtons();
    if (a.validateIndicator)
        validateProcessIndicator();
    if (a.takeProjectIndicator) {
        if (IProcessIndicator* ind = m_indicators[project->isClone() ? 1 : 0])
            ind->setStateButton(project->mainButtonState(), project->indicatorPosition());
    }
    if (a.validateStatus)
        validateStatusString();
    if (a.projectChanged)
        eventProjectChanged(*a.projectChanged);
    if (a.redisplayList)
        emit projectListChanged(project->isClone() ? 1 : 0);
    if (a.validateHeader)
        validateWindowHeader();
}

void SynchronizePaneController::eventProcessFinished(int)
{
    eventProjectPropertyChanged(8);
    validateProcessIndicator();
    validateButtons();
    emit projectListChanged(kind());
    if (m_deleteWhenStopped)
        QTimer::singleShot(0, this, &SynchronizePaneController::finishPendingDelete);
}

void SynchronizePaneController::eventAppClosing(int)
{
    if (m_container) {
        m_container->stopProcessAnyProjects();
        m_container->save();
    }
    if (m_analyze->isAnalyzing())
        m_analyze->stopAnalyze();
    stopSchedule();
}

void SynchronizePaneController::volumeBaseUpdated()
{
    fillActiveDiskArray();
    emit disksChanged();
    eventProjectPropertyChanged(10);
}

// ---- Redraw ------------------------------------------------------------------------------------

void SynchronizePaneController::validateWindowHeader()
{
    emit headerChanged(windowHeader());
}

void SynchronizePaneController::validateProcessIndicator()
{
    for (int k : { 0, 1 }) {
        IProcessIndicator* ind = m_indicators[size_t(k)];
        if (!ind)
            continue;
        const auto P = currentOfKind(k);
        if (!P) {
            ind->setStateButton(0, 0);
            continue;
        }
        int state = P->mainButtonState();
        if (state == 1 && foldersNested(*P))
            state = 0;
        ind->setStateButton(state, P->indicatorPosition());
    }
}

void SynchronizePaneController::processIndicator()
{
    // Reader threads end here through the project; the widgets belong to the main thread.
    if (!isMainThread()) {
        QPointer<SynchronizePaneController> self(this);
        runOnMain([self] {
            if (self)
                self->validateProcessIndicator();
        });
        return;
    }
    validateProcessIndicator();
}

void SynchronizePaneController::setStatus(int k, const QString& text)
{
    QString& s = m_status[k == 1 ? 1 : 0];
    if (s == text)
        return;
    s = text;
    emit statusLineChanged(k, text);
}

void SynchronizePaneController::validateStatusString()
{
    for (int k : { 0, 1 }) {
        const auto P = currentOfKind(k);
        SyncPaneRules::StatusInput in;
        in.hasProject = P != nullptr;
        if (P) {
            in.name = P->name();
            in.ready = SyncPaneRules::effectiveReady(P->getReady(), foldersNested(*P));
            in.lastStatus = P->lastStatusString();
        }
        setStatus(k, SyncPaneRules::statusString(in));
    }
}

void SynchronizePaneController::validateButtons()
{
    const int k = kind();
    const auto P = current();
    if (P && P->isClone())
        analyzeClone(P.get(), true, nullptr);
    SyncPaneRules::ButtonInput in;
    in.kind = k;
    in.hasProject = P != nullptr;
    if (P) {
        in.ready = P->getReady();
        in.foldersNested = foldersNested(*P);
    }
    m_buttons = SyncPaneRules::validateButtons(in);
    if (m_buttons.clearVerdict && k == 1) {
        m_verdict = CloneVerdict::Result();
        m_verdict.icon = CloneVerdict::Icon::Warning;
        emit verdictChanged();
    }
    m_analyzeEnabled = m_buttons.analyze || m_syncAnalyzeProcess;
    emit buttonsChanged();
    emit foldersChanged();
    validateWindowHeader();
}

void SynchronizePaneController::loadSettingsFromSynchron(ISynchron* P)
{
    if (!P)
        return;
    if (P->isClone()) {
        const bool allowed = analyzeClone(P, true, nullptr);
        IProcessIndicator* ind = m_indicators[1];
        if (allowed) {
            if (!P->isInProcess() && P->isReadyForInterface())
                sendTextInfo(loc("Ready"), 5, tpStatus, P);
            else
                sendTextInfo(P->lastStatusString(), 0, tpStatus, P);
            if (ind)
                ind->setStateButton(P->mainButtonState(), P->indicatorPosition());
        } else {
            sendTextInfo(P->lastStatusString(), 0, tpStatus, P);
            if (ind)
                ind->setStateButton(0, 0);
        }
        emit disksChanged();
    } else {
        emit foldersChanged();
    }
    validateProcessIndicator();
    validateStatusString();
}

// ---- Texts -------------------------------------------------------------------------------------

void SynchronizePaneController::sendTextInfo(const QString& text, qint32 type, quint8 target, QObject* sender)
{
    auto* project = dynamic_cast<ISynchron*>(sender);
    SyncPaneRules::TextInput in;
    in.text = text;
    in.type = type;
    in.target = target;
    in.noSend = m_noSendTextInfo;
    in.hasProject = project != nullptr;
    if (project) {
        in.projectName = project->name();
        in.projectIsSelected = project->isSelected();
        in.processCode = project->processingCodeString();
    }
    in.now = ICommon::generalStringFromDateTime(QDateTime::currentDateTime());
    const SyncPaneRules::TextOutput out = SyncPaneRules::routeText(in);
    if (out.notificationTitle)
        IMessageUtil::shared().showLocalNotificationTitle(*out.notificationTitle, out.notificationText);
    if (out.status)
        setStatus(project ? (project->isClone() ? 1 : 0) : kind(), *out.status);
    for (const QString& line : out.logWindow)
        IShellServices::shared().appendToWinLog(line);
    for (const QString& line : out.runLog)
        IRunLog::shared().traceToLog(line.toUtf8());
}

// ---- Analysis ----------------------------------------------------------------------------------

void SynchronizePaneController::setSyncAnalyzeEnabled(bool)
{
    const auto P = currentOfKind(0);
    const int R = P ? SyncPaneRules::effectiveReady(P->getReady(), foldersNested(*P)) : 0;
    m_analyzeEnabled = (R & ISynchron::ReadyAnalyse) != 0;
    emit analyzeStateChanged();
}

void SynchronizePaneController::setSyncAnalyzeProcess(bool inProcess)
{
    m_syncAnalyzeProcess = inProcess;
    emit analyzeStateChanged();
}

void SynchronizePaneController::sendAnalyzeInfo(const QString& text, quint32)
{
    // Posted, never waited for: the main thread may be joining the reader that sends it.
    if (!isMainThread()) {
        QPointer<SynchronizePaneController> self(this);
        runOnMain([self, text] {
            if (self)
                self->sendAnalyzeInfo(text, 0);
        });
        return;
    }
    m_analyzeLabel = text;
    emit analyzeStateChanged();
}

void SynchronizePaneController::stopAnalyze(ISynchron*)
{
    m_analyze->stopAnalyze();
}

void SynchronizePaneController::clearAnalyzeView()
{
    m_analyze->clearAnalyze();
}

void SynchronizePaneController::actSynchAnalyze()
{
    m_analyze->analyzeCurrentSync();
}

// ---- Clone verdict -----------------------------------------------------------------------------

bool SynchronizePaneController::analyzeClone(ISynchron* project, bool show, QString* text)
{
    if (!project)
        return false;
    const CloneVerdict::Result r = CloneVerdict::judge(CloneVerdict::factsForProject(*project));
    // A running clone keeps the flags it started with: the verdict is only shown then.
    CloneVerdict::applyToCard(project->card(), r);
    if (text)
        *text = r.text;
    if (show && project == currentOfKind(1).get()) {
        m_verdict = r;
        emit verdictChanged();
    }
    return r.allowed;
}

// ---- Run control -------------------------------------------------------------------------------

void SynchronizePaneController::mainButtonClickedOn(IProcessIndicator* indicator)
{
    if (indicator && (indicator->buttonState() == 1 || indicator->buttonState() == 2))
        toggleCurrentProjectProcessState();
}

void SynchronizePaneController::toggleCurrentProjectProcessState()
{
    const auto P = current();
    if (!P || !m_container)
        return;
    if (P->isInProcess() && !P->isInState(ISynchron::OpAnalysing)) {
        if (P->card().isFlag(taskFullCloning)) {
            UiPrompts::Alert a;
            a.style = UiPrompts::AlertStyle::Warning;
            a.title = QCoreApplication::translate("cc", "Are you sure about terminating the cloning process?");
            a.text = QCoreApplication::translate(
                "cc", "You may need to reboot your computer to continue using the destination volume.");
            a.buttons = { QCoreApplication::translate("cc", "Resume Cloning"),
                QCoreApplication::translate("cc", "Terminate Cloning") };
            int answer = -1;
            {
                ModalDepthGuard modal;
                answer = UiPrompts::shared().showAlert(a);
            }
            if (answer != 1)
                return;
        }
        m_container->stopProcessCurrentProject();
        return;
    }
    if (foldersNested(*P)) {
        sendTextInfo(loc("Folders was't selected correctly"), 1, tpStatus | tpLog | tpTime, P.get());
        return;
    }
    P->card().remove(taskFullCloning);
    m_container->processCurrentProject();
}

// ---- Lists -------------------------------------------------------------------------------------

bool SynchronizePaneController::addProject()
{
    if (!m_container)
        return false;
    const int k = kind();
    auto isUnique = [this](const QString& n) { return m_container->isUniqueName(n, nullptr); };
    UiPrompts::TextRequest r;
    r.title = loc("Create project");
    r.comment = loc("Input name for new project");
    r.defaultText = ProjectNames::makeUnique(loc("Untitled"), isUnique);
    QString answer;
    {
        ModalDepthGuard modal;
        answer = UiPrompts::shared().askText(r);
    }
    const QString name = answer.isEmpty() ? QString() : ProjectNames::fromInput(answer);
    std::shared_ptr<ISynchron> project;
    if (!name.isNull())
        project = m_container->createNewSynchron(ProjectNames::makeUnique(name, isUnique), k);
    eventProjectChanged(4);
    m_container->save();
    if (!project)
        return false;
    IShellServices::shared().processMessage(
        (k == 1 ? loc("Clone project \"%1\" was created") : loc("Sync project \"%1\" was created")).arg(project->name()),
        LogWord::WindowWithTime, this);
    return true;
}

bool SynchronizePaneController::deleteCurrentProject()
{
    const auto P = current();
    if (!P || !m_container || m_deleteWhenStopped)
        return false;
    UiPrompts::Alert a;
    a.style = UiPrompts::AlertStyle::Warning;
    a.title = loc("Do you want to remove this project from the list?");
    a.text = loc("Removing a project from the list will completely delete this project and its settings, however "
                 "this will have no effect on files/folders that were already backed up.");
    a.buttons = { loc("Cancel"), loc("Remove") };
    int answer = -1;
    {
        ModalDepthGuard modal;
        answer = UiPrompts::shared().showAlert(a);
    }
    if (answer != 1)
        return false;
    if (P->isInProcess() || m_container->processingList().contains(P)) {
        // The container refuses a running project: stop it, and delete it once its end arrived.
        m_deleteWhenStopped = P;
        m_container->stopProcessProject(P);
        if (!P->isInProcess() && !m_container->processingList().contains(P))
            finishPendingDelete();
        return true;
    }
    m_deleteWhenStopped = P;
    finishPendingDelete();
    return true;
}

void SynchronizePaneController::finishPendingDelete()
{
    const std::shared_ptr<ISynchron> P = m_deleteWhenStopped;
    if (!P || !m_container)
        return;
    if (P->isInProcess()) {
        // The run controller marks the project idle right after it reported the end.
        QTimer::singleShot(20, this, &SynchronizePaneController::finishPendingDelete);
        return;
    }
    m_deleteWhenStopped.reset();
    const int type = P->synchronType();
    const qsizetype index = m_container->indexByTypeOfSynchron(P.get());
    if (index < 0)
        return;
    const auto old = m_container->currentSynchronByType(type);
    m_container->setCurrentSynchronByIndex(index, type);
    const QString name = P->name();
    if (!m_container->deleteCurrentSynchronByType(type)) {
        if (old)
            m_container->setCurrentSynchronByIndex(m_container->indexByTypeOfSynchron(old.get()), type);
        return;
    }
    if (old && old != P)
        m_container->setCurrentSynchronByIndex(m_container->indexByTypeOfSynchron(old.get()), type);
    IShellServices::shared().processMessage(
        (type == 1 ? loc("Clone project \"%1\" was removed") : loc("Sync project \"%1\" was removed")).arg(name),
        LogWord::WindowWithTime, this);
    emit projectListChanged(type);
    m_container->save();
    eventProjectChanged(4);
}

// ---- Folders and direction ---------------------------------------------------------------------

QString SynchronizePaneController::folderRefusal(int side, const QString& path) const
{
    const auto P = current();
    SyncPaneRules::DropInput in;
    in.hasProject = P != nullptr;
    in.kind = P ? P->synchronType() : 0;
    in.panelEnabled = P && (P->getReady() & ISynchron::ReadyParameterChange);
    in.inProcess = P && P->isInProcess();
    in.isFolder = isFolder(path);
    const QString other = P ? (side == 0 ? P->secondFolder() : P->firstFolder()) : QString();
    in.nestedWithOther = in.isFolder && !other.isEmpty() && SyncFolders::areNested(path, other);
    switch (SyncPaneRules::dropRefusal(in)) {
    case SyncPaneRules::DropRefusal::None:
        return QString();
    case SyncPaneRules::DropRefusal::NotSynchronization:
        return loc("Only a synchronization project takes folders");
    case SyncPaneRules::DropRefusal::Busy:
        return loc("The project is running: its folders cannot change now");
    case SyncPaneRules::DropRefusal::NotFolder:
        return loc("Choose а folder to synchronize");
    case SyncPaneRules::DropRefusal::Nested:
        return loc("Folders was't selected correctly");
    }
    return QString();
}

bool SynchronizePaneController::setFolder(int side, const QString& path, QString* why)
{
    const QString refusal = folderRefusal(side, path);
    if (!refusal.isNull()) {
        if (why)
            *why = refusal;
        return false;
    }
    const auto P = current();
    side == 0 ? P->setFirstFolder(path) : P->setSecondFolder(path);
    if (m_container)
        m_container->save();
    eventProjectPropertyChanged(6);
    return true;
}

bool SynchronizePaneController::chooseFolder(int side)
{
    const auto P = current();
    if (!P || P->isClone())
        return false;
    const QString own = side == 0 ? P->firstFolder() : P->secondFolder();
    const QString other = side == 0 ? P->secondFolder() : P->firstFolder();
    UiPrompts::ItemChoiceRequest r;
    r.prompt = loc("Choose folder or disk image to synchronize");
    r.okButton = loc("Choose");
    r.startPath = isFolder(own) ? own : QStringLiteral("/");
    r.files = false;
    r.folders = true;
    r.multiple = false;
    r.validator = [other](const QStringList& paths) -> QString {
        if (paths.size() == 1 && !other.isEmpty() && SyncFolders::areNested(paths.first(), other))
            return loc("Folders was't selected correctly");
        return QString();
    };
    QStringList paths;
    {
        ModalDepthGuard modal;
        paths = UiPrompts::shared().chooseItems(r);
    }
    if (paths.size() != 1)
        return false;
    QString why;
    if (!setFolder(side, paths.first(), &why)) {
        UiPrompts::Alert a;
        a.style = UiPrompts::AlertStyle::Critical;
        a.title = why;
        a.buttons = { loc("OK") };
        ModalDepthGuard modal;
        UiPrompts::shared().showAlert(a);
        return false;
    }
    return true;
}

void SynchronizePaneController::setDirectionFromPanel(int direction)
{
    const auto P = current();
    if (!P || P->isClone() || direction < 0 || direction > 2 || P->direction() == direction)
        return;
    if (!(P->getReady() & ISynchron::ReadyParameterChange))
        return;
    P->setDirection(direction);
    eventProjectPropertyChanged(6);
}

// ---- Disks -------------------------------------------------------------------------------------

void SynchronizePaneController::fillActiveDiskArray()
{
    m_diskArray.clear();
    ILocationServices& volumes = ILocationServices::shared();
    if (!volumes.isVolumeBaseFilled())
        return; // the table reports its fill; the pickers are rebuilt then
    for (const VolumeItemPtr& item : volumes.volumeItems()) {
        if (m_diskArray.size() >= kMaxDisks)
            break;
        if (!item || !IVolumeBase::isItemFiltering(*item, kPickerFilter))
            continue;
        std::shared_ptr<ILocation> l(ILocation::create());
        l->setupFromVBI(*item);
        m_diskArray.append(l);
    }
}

void SynchronizePaneController::chooseDisk(bool source, int tag)
{
    const auto P = currentOfKind(1);
    if (!P || !m_container || P->isInProcess())
        return;
    if (tag >= 0 && tag < m_diskArray.size()) {
        std::shared_ptr<ILocation> l(ILocation::createCopy(*m_diskArray.at(tag)));
        if (source) {
            P->setFirstLocation(l);
        } else {
            P->setSecondLocation(l);
            l->correctRemovable();
            if (!(l->getDeviceType() == 1 && l->isRemovable())) {
                P->setProcessOnMount(false);
                P->setUSBAutomountForProcess(false);
            }
        }
    } else if (tag == 1005) {
        std::shared_ptr<ILocation> none(ILocation::create());
        if (source) {
            P->setFirstLocation(none);
        } else {
            P->setSecondLocation(none);
            P->setProcessOnMount(false);
        }
    } // 1000 / 1001: the remembered place stays the project's
    m_container->save();
    eventProjectFolderChanged(6);
}

// ---- Schedule ----------------------------------------------------------------------------------

void SynchronizePaneController::startSchedule()
{
    if (!m_scheduleTimer.isActive())
        m_scheduleTimer.start();
}

void SynchronizePaneController::stopSchedule()
{
    m_scheduleTimer.stop();
}

void SynchronizePaneController::scheduleEvent()
{
    if (!m_container)
        return;
    const SyncPaneRules::ScheduleStep step
        = SyncPaneRules::scheduleEvent(ModalDepthGuard::depth(), m_container->isQueueNotEmpty(), agentBits());
    if (step.processNext)
        m_container->processNext();
    if (step.scheduleProcess)
        m_container->scheduleProcess();
}
