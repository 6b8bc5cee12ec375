#include "panes/backup/Backup3PaneController.h"

#include "panes/backup/Backup3PaneRules.h"
#include "platform/Clock.h"
#include "platform/MainThread.h"
#include "platform/NameCodec.h"
#include "platform/TimerScale.h"
#include "projects/IAgentTool.h"
#include "projects/ILocation.h"
#include "projects/ProjectNames.h"
#include "snapshot/B3RestoreRequest.h"
#include "snapshot/IBackup3.h"
#include "snapshot/IBackup3Container.h"
#include "utilities/IMessageUtil.h"
#include "utilities/IRunLog.h"
#include "utilities/IShellServices.h"
#include "utilities/LogOptions.h"
#include "utilities/MainPreferences.h"
#include "utilities/UiPrompts.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QLocale>
#include <sys/stat.h>

namespace {

QString loc(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

// The scheduler state the schedule timer follows, as the main preferences hold it.
int agentBits()
{
    return MainPreferences::shared().agentState().getInt();
}

} // namespace

Backup3PaneController::Backup3PaneController(IBackup3Container* container, QObject* parent)
    : QObject(parent)
    , m_container(container)
{
    if (m_container)
        m_container->setInterfaceController(this);
    m_scheduleTimer.setInterval(TimerScale::scaled(10000));
    connect(&m_scheduleTimer, &QTimer::timeout, this, &Backup3PaneController::scheduleEvent);
}

Backup3PaneController::~Backup3PaneController()
{
    if (m_container && m_container->interfaceController() == this)
        m_container->setInterfaceController(nullptr);
}

void Backup3PaneController::eventDeviceListChanged()
{
    if (m_container)
        m_container->diskWasUnmount();
    emit deviceListChanged();
    emit projectChanged();
}

void Backup3PaneController::eventProcessFinished(int)
{
    emit buttonsChanged();
}

bool Backup3PaneController::chooseDestPathByUser(ILocation* location)
{
    if (!location)
        return false;
    UiPrompts::FolderChoiceRequest r;
    r.prompt = loc("Choose backup destination: a folder to save your backup to");
    r.okButton = loc("Choose");
    r.startPath = location->getUnverifiedFullPath();
    if (r.startPath.isEmpty())
        r.startPath = location->getMountPoint();
    QString path;
    {
        ModalDepthGuard modal;
        path = UiPrompts::shared().chooseFolder(r);
    }
    struct stat st = {};
    if (path.isEmpty() || ::stat(NameCodec::encode(path).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    location->setupWithPath(path);
    return !location->isEmpty();
}

void Backup3PaneController::sendTextInfo(const QString& text, qint32 type, quint8 target, QObject* sender)
{
    if (m_noSendTextInfo)
        return;
    auto* project = qobject_cast<IBackup3*>(sender);
    const std::shared_ptr<IBackup3> current = m_container ? m_container->currentBackup3() : nullptr;
    Backup3PaneRules::TextInput in;
    in.text = text;
    in.type = type;
    in.target = target;
    in.hasProject = project != nullptr;
    if (project) {
        in.projectName = project->name();
        in.projectIsSelected = current.get() == project;
        in.externalRestore = project->isExternalRestoreFlag();
        in.processCode = project->processingCodeString();
    }
    in.now = QLocale().toString(Clock::current().now(), QLocale::ShortFormat);
    const Backup3PaneRules::TextOutput out = Backup3PaneRules::routeText(in);
    if (out.notificationTitle)
        IMessageUtil::shared().showLocalNotificationTitle(*out.notificationTitle, out.notificationText);
    if (out.status) {
        m_status = *out.status;
        emit statusLineChanged(m_status);
    }
    for (const QString& line : out.logWindow)
        IShellServices::shared().appendToWinLog(line);
    for (const QString& line : out.runLog)
        IRunLog::shared().traceToLog(line.toUtf8());
}

void Backup3PaneController::eventProjectChanged()
{
    emit projectChanged();
    emit buttonsChanged();
    validateStatusString();
}

void Backup3PaneController::eventProjectPropertyChanged()
{
    emit projectListChanged();
    eventProjectChanged();
}

void Backup3PaneController::eventProjectListChanged()
{
    emit projectListChanged();
    eventProjectChanged();
}

void Backup3PaneController::eventChangedProjectStatus(IBackup3* project)
{
    if (!project)
        return;
    emit projectStatusChanged(project);
    const std::shared_ptr<IBackup3> current = m_container ? m_container->currentBackup3() : nullptr;
    const int change = project->lastStateChange();
    if (m_noSendTextInfo) {
        if (change == 3)
            eventProjectChanged();
        return;
    }
    switch (change) {
    case 1:
        emit projectListChanged();
        emit indicatorChanged();
        emit buttonsChanged();
        validateStatusString();
        break;
    case 2:
        emit projectListChanged();
        break;
    case 3:
    case 5:
        if (current.get() == project)
            eventProjectChanged();
        break;
    case 4:
        emit indicatorChanged();
        break;
    default:
        break;
    }
}

void Backup3PaneController::setStatus(const QString& text, bool, bool isStatus)
{
    if (!isStatus)
        return;
    m_status = ProjectNames::trimStatus(text);
    emit statusLineChanged(m_status);
}

void Backup3PaneController::setProcessState(double)
{
    emit indicatorChanged();
}

void Backup3PaneController::validateStatusString()
{
    const std::shared_ptr<IBackup3> p = m_container ? m_container->currentBackup3() : nullptr;
    Backup3PaneRules::StatusInput in;
    in.hasCurrent = p != nullptr;
    if (p) {
        in.name = p->name();
        in.lastStatus = p->lastStatusString();
        in.inProcess = p->isInProcess();
        in.readyForInterface = p->isReadyForInterface();
    }
    if (const auto text = Backup3PaneRules::statusString(in)) {
        m_status = *text;
        emit statusLineChanged(m_status);
    }
}

void Backup3PaneController::validateProcessIndicator()
{
    emit indicatorChanged();
}

bool Backup3PaneController::getNewDICustomMaxSizeInGBByUserTo(double* value, double oldValue)
{
    UiPrompts::NumberRequest r;
    r.title = loc("Disk image size");
    r.prompt = loc("New maximum size of the disk image (GB):");
    r.value = oldValue;
    r.minimum = 0.1;
    r.maximum = 1000000;
    r.decimals = true;
    std::optional<double> answer;
    {
        ModalDepthGuard modal;
        answer = UiPrompts::shared().askNumber(r);
    }
    if (!answer || *answer < r.minimum || *answer > r.maximum)
        return false;
    if (value)
        *value = *answer;
    return true;
}

bool Backup3PaneController::addProject()
{
    if (!m_container)
        return false;
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
    if (name.isNull()) {
        emit projectListChanged();
        return false;
    }
    const QString unique = ProjectNames::makeUnique(name, isUnique);
    const std::shared_ptr<IBackup3> project = m_container->createNewBackup3(unique);
    emit projectListChanged();
    if (!project)
        return false;
    IShellServices::shared().processMessage(
        loc("Backup project \"%1\" was created").arg(unique), LogWord::WindowWithTime, nullptr);
    m_container->save();
    eventProjectChanged();
    emit propertiesRequested();
    return true;
}

bool Backup3PaneController::duplicateCurrentProject()
{
    const std::shared_ptr<IBackup3> p = m_container ? m_container->currentBackup3() : nullptr;
    if (!p)
        return false;
    const QString oldName = p->name();
    const std::shared_ptr<IBackup3> copy = p->duplicateProject();
    if (!copy)
        return false;
    m_container->save();
    emit projectListChanged();
    eventProjectChanged();
    IShellServices::shared().processMessage(
        loc("Backup project \"%1\" (a duplicate of project \"%2\") was created").arg(copy->name(), oldName),
        LogWord::WindowWithTime, nullptr);
    emit propertiesRequested();
    return true;
}

void Backup3PaneController::setCurrentProjectColor(const QColor& color)
{
    const std::shared_ptr<IBackup3> p = m_container ? m_container->currentBackup3() : nullptr;
    if (!p)
        return;
    p->setColor(color);
    m_container->save();
    eventProjectPropertyChanged();
}

void Backup3PaneController::endBackup3Properties(IBackup3* project, bool ok, bool wasScheduled)
{
    if (!project)
        return;
    if (ok) {
        if (!project->isScheduled())
            project->setNextProcessDate(QDateTime());
        eventProjectPropertyChanged();
        emit projectListChanged();
        if (m_container)
            m_container->save();
    }
    PrefsAgentState& state = MainPreferences::shared().agentState();
    AgentBitsInput in;
    in.bits = state.getInt();
    in.wasScheduled = wasScheduled;
    in.isScheduled = project->isScheduled();
    in.processOnMount = project->isProcessOnMount();
    // A project the user has just scheduled asks for the agent.
    in.userWantsAgent = true;
    const auto getAutostart = m_agentHooks.getAutostart ? m_agentHooks.getAutostart
                                                        : [] { return IAgentTool::shared().getAutostart(); };
    const auto setAutostart = m_agentHooks.setAgentAutostart ? m_agentHooks.setAgentAutostart : [](bool on) {
        return IAgentTool::shared().setAgentAutostart(on);
    };
    in.agentAutostart = getAutostart();
    const AgentBitsResult r = agentBitsAfterProperties(in);
    if (r.setAutostart) {
        setAutostart(true);
        in.agentAutostart = getAutostart();
        const AgentBitsResult again = agentBitsAfterProperties(in);
        if (again.bits != in.bits)
            state.set(again.bits, state.modifyInterval(), state.scheduleResumeDate());
    } else if (r.bits != in.bits) {
        state.set(r.bits, state.modifyInterval(), state.scheduleResumeDate());
    }
}

bool Backup3PaneController::renameCurrentProject(const QString& text)
{
    const std::shared_ptr<IBackup3> p = m_container ? m_container->currentBackup3() : nullptr;
    if (!p || text.isEmpty())
        return false;
    const QString name = ProjectNames::fromInput(text);
    if (name.isNull() || name == p->name())
        return false;
    const QString unique = ProjectNames::makeUnique(
        name, [&](const QString& n) { return m_container->isUniqueName(n, p.get()); });
    p->setName(unique);
    m_container->save();
    eventProjectPropertyChanged();
    return true;
}

bool Backup3PaneController::deleteCurrentProject()
{
    const std::shared_ptr<IBackup3> p = m_container ? m_container->currentBackup3() : nullptr;
    if (!p || p->isInProcess())
        return false;
    UiPrompts::Alert a;
    a.style = UiPrompts::AlertStyle::Warning;
    a.title = loc("Do you want to remove this project from the list?");
    a.text = loc(
        "Removing a project from the list will completely delete this project and its settings, although "
        "already created backup archives will remain at destination.");
    a.buttons = { loc("Cancel"), loc("Remove") };
    int answer = -1;
    {
        ModalDepthGuard modal;
        answer = UiPrompts::shared().showAlert(a);
    }
    if (answer != 1)
        return false;
    const QString name = p->name();
    if (!m_container->deleteCurrentBackup3())
        return false;
    IShellServices::shared().processMessage(
        loc("Backup project \"%1\" was removed").arg(name), LogWord::WindowWithTime, nullptr);
    m_container->save();
    eventProjectListChanged();
    return true;
}

QString Backup3PaneController::chooseExternalRestoreFolder()
{
    UiPrompts::FolderChoiceRequest r;
    r.prompt = loc("Choose a folder with backup project to restore");
    r.okButton = loc("Choose");
    r.validator = [](const QStringList& paths) { return B3RestoreRequest::validateExternalFolder(paths); };
    ModalDepthGuard modal;
    return UiPrompts::shared().chooseFolder(r);
}

void Backup3PaneController::startSchedule()
{
    if (!m_scheduleTimer.isActive())
        m_scheduleTimer.start();
}

void Backup3PaneController::stopSchedule()
{
    m_scheduleTimer.stop();
}

void Backup3PaneController::scheduleEvent()
{
    if (!m_container)
        return;
    const Backup3PaneRules::ScheduleStep step = Backup3PaneRules::scheduleEvent(
        ModalDepthGuard::depth(), m_container->isQueueNotEmpty(), agentBits());
    if (step.processNext)
        m_container->processNext();
    if (step.scheduleProcess)
        m_container->scheduleProcess();
}

void Backup3PaneController::eventAppClosing()
{
    if (m_container) {
        m_container->terminateProcess();
        m_container->save();
    }
    stopSchedule();
}
