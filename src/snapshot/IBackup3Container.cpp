#include "snapshot/IBackup3Container.h"

#include "platform/AppPaths.h"
#include "platform/AtomicFile.h"
#include "platform/Clock.h"
#include "platform/NameCodec.h"
#include "platform/PlistBridge.h"
#include "projects/ClonerDefaults.h"
#include "projects/ScheduleDates.h"
#include "snapshot/B3DictKeys.h"
#include "snapshot/IBackup3.h"
#include "snapshot/IBackup3Controller.h"
#include "utilities/IPathUtil.h"
#include "utilities/IShellServices.h"
#include "utilities/LogOptions.h"
#include "utilities/QVLog.h"
#include "utilities/TempFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace B3DictKeys;

namespace {
IBackup3Container* g_shared = nullptr;
int g_propScheme = 0;
} // namespace

IBackup3Container::IBackup3Container(
    std::unique_ptr<IBackup3Engine> engine, const QString& projectsFilePath, QObject* parent)
    : QObject(parent)
    , m_backup3Proc(std::move(engine))
    , m_backup3Controller(&IBackup3Controller::shared())
    , m_projectsFilePath(projectsFilePath)
{
    g_shared = this;
    if (m_projectsFilePath.isNull())
        m_projectsFilePath
            = AppPaths::currentWorkspacePath() + QStringLiteral("/Backups/") + cnsProjectsFileName;
    // The application's default excludes are needed from the first run on, list file or not.
    loadApplicationValues();
    load();
}

IBackup3Container::~IBackup3Container()
{
    if (g_shared == this)
        g_shared = nullptr;
}

IBackup3Container* IBackup3Container::shared()
{
    return g_shared;
}

int IBackup3Container::currentPropScheme()
{
    return g_propScheme;
}

// ---- List and selection ------------------------------------------------------------------------

std::shared_ptr<IBackup3> IBackup3Container::backup3ByIndex(qsizetype index) const
{
    if (index < 0 || index >= m_backup3List.size())
        return nullptr;
    return m_backup3List.at(index);
}

std::shared_ptr<IBackup3> IBackup3Container::currentBackup3() const
{
    return backup3ByIndex(m_currentBackup3Index);
}

qsizetype IBackup3Container::indexOfBackup3(const IBackup3* project) const
{
    for (qsizetype i = 0; i < m_backup3List.size(); ++i)
        if (m_backup3List.at(i).get() == project)
            return i;
    return 0;
}

bool IBackup3Container::contains(const IBackup3* project) const
{
    return sharedFor(project) != nullptr;
}

std::shared_ptr<IBackup3> IBackup3Container::sharedFor(const IBackup3* project) const
{
    for (const auto& p : m_backup3List)
        if (p.get() == project)
            return p;
    for (const auto& p : m_processingList)
        if (p.get() == project)
            return p;
    return nullptr;
}

bool IBackup3Container::setCurrentBackup3ByIndex(qint64 index)
{
    if (index < 0 || m_backup3List.isEmpty() || index >= m_backup3List.size())
        return false;
    if (auto old = currentBackup3())
        old->setSelected(false);
    m_currentBackup3Index = index;
    m_backup3List.at(index)->setSelected(true);
    return true;
}

void IBackup3Container::initFirstBackup3()
{
    setCurrentBackup3ByIndex(m_initBackup3Index < 0 ? 0 : m_initBackup3Index);
}

void IBackup3Container::setBackup3ToDefault(qsizetype index)
{
    if (auto p = backup3ByIndex(index))
        p->setToDefault();
}

std::shared_ptr<IBackup3> IBackup3Container::createNewBackup3(const QString& name)
{
    auto project = std::make_shared<IBackup3>();
    if (name.isEmpty()) {
        project->setName(IBackup3::defaultName());
        project->setOptionConsiderModDate(true);
    } else {
        project->setName(name);
    }
    const QString uuid
        = m_backup3Controller ? m_backup3Controller->generateUUID() : IBackup3Controller::newUUIDString();
    project->setUUID(uuid);
    project->setFileName(IBackup3::defaultFileName(name, uuid));
    m_backup3List.append(project);
    setCurrentBackup3ByIndex(m_backup3List.size() - 1);
    eventPprojectListChanged();
    return project;
}

bool IBackup3Container::moveBackup3From(qsizetype from, qsizetype to)
{
    const qsizetype count = m_backup3List.size();
    if (from < 0 || from >= count || to < 0 || to > count)
        return false;
    auto project = m_backup3List.at(from);
    m_backup3List.insert(to, project);
    m_backup3List.removeAt(from > to ? from + 1 : from);
    if (auto old = currentBackup3())
        old->setSelected(false);
    m_currentBackup3Index = -1;
    setCurrentBackup3ByIndex(indexOfBackup3(project.get()));
    eventPprojectListChanged();
    return true;
}

bool IBackup3Container::deleteCurrentBackup3()
{
    auto project = currentBackup3();
    if (!project)
        return false;
    if (m_processingList.contains(project) && project->isInState(IBackup3::OpQueued))
        removeBackup3FromProcessingList(project);
    // A project that runs, or that the engine still holds, cannot go.
    if (project->isInProcess() || (m_backup3Proc && m_backup3Proc->backup3() == project)
        || m_processingList.contains(project)) {
        logFailure(
            QCoreApplication::translate("Localizable", "The project \"%1\" is running and cannot be deleted.")
                .arg(project->name()));
        return false;
    }
    // The password of an encrypted image goes with its project: no orphaned keychain item.
    if (project->useEncryptedBDI())
        project->removeKeychain();
    project->setSelected(false);
    m_backup3List.removeAt(m_currentBackup3Index);
    if (m_backup3List.isEmpty())
        m_currentBackup3Index = -1;
    else
        setCurrentBackup3ByIndex(qMin<qint64>(m_currentBackup3Index, m_backup3List.size() - 1));
    eventPprojectListChanged();
    return true;
}

bool IBackup3Container::isUniqueName(const QString& name, const IBackup3* excludeProject) const
{
    for (const auto& p : m_backup3List)
        if (p.get() != excludeProject && p->name() == name)
            return false;
    return true;
}

void IBackup3Container::setUseAdminPrivilegesForAllProjects()
{
    for (const auto& p : m_backup3List)
        p->setUseAdminPrivileges(true);
}

QString IBackup3Container::tempFolderPath() const
{
    // The process's private folder (0700) under the temporary folder in use, so nobody else can
    // plant or read a name in it.
    const std::string folder = TempFolder::privateFolder(NameCodec::encodeStd(IPathUtil::getTmpFolderPath()));
    return folder.empty() ? QString() : NameCodec::decode(folder);
}

QString IBackup3Container::generateTempFileName() const
{
    const std::string name = TempFolder::bareName(NameCodec::encodeStd(IPathUtil::getTmpFolderPath()));
    return name.empty() ? QString() : NameCodec::decode(name);
}

// ---- Events to the pane ------------------------------------------------------------------------

void IBackup3Container::eventProjectChanged()
{
    if (m_backup3Controller)
        m_backup3Controller->eventProjectChanged();
}

void IBackup3Container::eventProjectPropertyChanged()
{
    if (m_backup3Controller)
        m_backup3Controller->eventProjectPropertyChanged();
}

void IBackup3Container::eventPprojectListChanged()
{
    if (m_backup3Controller)
        m_backup3Controller->eventProjectListChanged();
}

void IBackup3Container::setStatus(const QString& text, bool isLog, bool isStatus)
{
    if (m_backup3Controller)
        m_backup3Controller->setStatus(text, isLog, isStatus);
}

void IBackup3Container::setProcessState(double state)
{
    if (m_backup3Controller)
        m_backup3Controller->setProcessState(state);
}

void IBackup3Container::eventProcessFinished(int code)
{
    if (m_backup3Controller)
        m_backup3Controller->eventProcessFinished(code);
}

void IBackup3Container::eventChangedProjectStatus(IBackup3* project)
{
    if (m_backup3Controller)
        m_backup3Controller->eventChangedProjectStatus(project);
}

void IBackup3Container::sendTextInfo(const QString& text, qint32 type, quint8 target, QObject* sender)
{
    if (m_backup3Controller)
        m_backup3Controller->sendTextInfo(text, type, target, sender);
}

void IBackup3Container::logFailure(const QString& text)
{
    IShellServices::shared().processMessage(text, LogWord::WindowAndRunLog, nullptr);
}

// ---- Life --------------------------------------------------------------------------------------

void IBackup3Container::reInit()
{
    m_backup3List.clear();
    m_currentBackup3Index = -1;
    load();
    eventProjectChanged();
}

void IBackup3Container::load()
{
    m_loadRefused = false;
    const PlistBridge::ReadResult read = PlistBridge::readFile(m_projectsFilePath);
    if (read.status == PlistBridge::ReadStatus::Missing)
        return;
    if (read.status != PlistBridge::ReadStatus::Ok || read.value.typeId() != QMetaType::QVariantMap) {
        // Never let the next save replace projects we could not read: move the file aside.
        const QString aside = read.status == PlistBridge::ReadStatus::Unreadable
            ? QString()
            : PlistBridge::keepAside(m_projectsFilePath);
        if (aside.isNull()) {
            m_loadRefused = true;
            logFailure(QCoreApplication::translate("Localizable",
                "The backup project list \"%1\" cannot be read (%2). It is left as it is and will not be "
                "overwritten.")
                           .arg(m_projectsFilePath, read.error));
        } else {
            logFailure(QCoreApplication::translate("Localizable",
                "The backup project list \"%1\" is damaged. It was kept as \"%2\"; the list starts empty.")
                           .arg(m_projectsFilePath, aside));
        }
        return;
    }
    const QVariantMap root = read.value.toMap();
    if (root.value(cnsPreferences).typeId() == QMetaType::QVariantMap)
        loadPreferencesFromDict(root.value(cnsPreferences).toMap());
    if (root.value(cnsBackups3).typeId() == QMetaType::QVariantList)
        loadBackups3FromArray(root.value(cnsBackups3).toList());
    if (root.value(cnsArchiveOrderList).typeId() == QMetaType::QVariantList)
        m_archiveOrderList = root.value(cnsArchiveOrderList).toList();
}

void IBackup3Container::loadPreferencesFromDict(const QVariantMap& prefs)
{
    m_initBackup3Index = -1;
    if (PlistValue::isNumber(prefs.value(cnsSelectedBackup3Index)))
        m_initBackup3Index = prefs.value(cnsSelectedBackup3Index).toLongLong();
    if (PlistValue::isNumber(prefs.value(cnsSelectedClonIndex)))
        m_initBackup3Index = prefs.value(cnsSelectedClonIndex).toLongLong();
    if (PlistValue::isNumber(prefs.value(cnsBackup3PropertyScheme)))
        g_propScheme = int(prefs.value(cnsBackup3PropertyScheme).toLongLong());
}

void IBackup3Container::loadApplicationValues()
{
    const ClonerDefaults defaults = ClonerDefaults::fromApplication();
    m_defaultExcludesList = defaults.excludes;
    m_defaultHiddensList = defaults.hiddens;
}

void IBackup3Container::loadBackups3FromArray(const QVariantList& array)
{
    QHash<QString, qsizetype> seen;
    for (const QVariant& element : array) {
        if (element.typeId() != QMetaType::QVariantMap)
            continue;
        const QVariantMap dict = element.toMap();
        auto project = std::make_shared<IBackup3>();
        if (!project->loadFromDict(dict, g_propScheme))
            continue;
        // A project still bearing the default name is dropped only when it was never set up.
        if (project->name() == IBackup3::defaultName() && !project->isConfigured())
            continue;
        const QString uuid = project->UUID();
        if (!uuid.isEmpty()) {
            if (seen.contains(uuid)) {
                const auto first = m_backup3List.at(seen.value(uuid));
                logFailure(QCoreApplication::translate(
                    "Localizable", "The backup projects \"%1\" and \"%2\" have the same identifier %3.")
                               .arg(first->name(), project->name(), uuid));
                // A duplicate that never ran has no versions tied to its identifier: give it its own.
                if (!project->lastProcessDate().isValid() && project->lastProcessFolder().isNull()) {
                    const QString fresh = IBackup3Controller::newUUIDString();
                    const bool defaultFile = project->fileName().endsWith(QLatin1Char('_') + uuid);
                    project->setUUID(fresh);
                    if (defaultFile)
                        project->setFileName(IBackup3::defaultFileName(project->name(), fresh));
                }
            } else {
                seen.insert(uuid, m_backup3List.size());
            }
        }
        m_backup3List.append(project);
    }
}

bool IBackup3Container::save()
{
    if (m_loadRefused) {
        logFailure(QCoreApplication::translate("Localizable",
            "The backup project list \"%1\" was not saved: the file in place could not be read.")
                       .arg(m_projectsFilePath));
        return false;
    }
    QVariantMap prefs;
    prefs.insert(cnsSelectedBackup3Index, qint64(qint32(m_currentBackup3Index)));
    prefs.insert(cnsBackup3PropertyScheme, qint64(1));
    QVariantList projects;
    for (const auto& p : m_backup3List) {
        QVariantMap d;
        p->saveToDict(d);
        projects.append(d);
    }
    QVariantList order;
    IShellServices::shared().saveProjectOrderListToDict(order);
    QVariantMap root;
    root.insert(cnsPreferences, prefs);
    root.insert(cnsBackups3, projects);
    root.insert(cnsArchiveOrderList, order.isEmpty() ? m_archiveOrderList : order);

    QString error;
    const QByteArray xml = PlistBridge::toXml(root);
    bool ok = !xml.isEmpty();
    if (!ok)
        error = QCoreApplication::translate("Localizable", "the list cannot be written as a property list");
    const QString folder = QFileInfo(m_projectsFilePath).absolutePath();
    if (ok && !QDir().mkpath(folder)) {
        ok = false;
        error = QCoreApplication::translate("Localizable", "the folder \"%1\" cannot be created").arg(folder);
    }
    if (ok) {
        // The list holds image password digests: the file is readable by its owner only. A new
        // file is made 0600 before any content goes in; the atomic write keeps those bits.
        const QByteArray path = NameCodec::encode(m_projectsFilePath);
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        const bool created = fd >= 0;
        if (created)
            ::close(fd);
        else
            ::chmod(path.constData(), 0600);
        ok = AtomicFile::write(m_projectsFilePath, xml, &error);
        if (!ok && created)
            ::unlink(path.constData());
    }
    if (!ok) {
        const QString text
            = QCoreApplication::translate("Localizable", "The backup project list \"%1\" cannot be saved: %2")
                  .arg(m_projectsFilePath, error);
        logFailure(text);
        return false;
    }
    return true;
}

// ---- Queue and runs ----------------------------------------------------------------------------

void IBackup3Container::addBackup3ToProcessingList(const std::shared_ptr<IBackup3>& project)
{
    if (!project)
        return;
    if (project->isInProcess() && !project->isInState(IBackup3::OpRestore))
        return;
    if (m_processingList.contains(project))
        return;
    m_processingList.append(project);
    project->setLastStatusString(QCoreApplication::translate("Localizable", "Project is in queue"));
    project->setInState(IBackup3::OpQueued);
}

bool IBackup3Container::removeBackup3FromProcessingList(const std::shared_ptr<IBackup3>& project)
{
    if (!project || !m_processingList.contains(project) || !project->isInState(IBackup3::OpQueued))
        return false;
    m_processingList.removeAll(project);
    project->setInState(IBackup3::OpIdle);
    return true;
}

void IBackup3Container::processBackup3(const std::shared_ptr<IBackup3>& project)
{
    if (!project)
        return;
    if (project->isInProcess() && !project->isInState(IBackup3::OpRestore))
        return;
    if (!project->needRestore() && !project->isReadyForInterface())
        return;
    addBackup3ToProcessingList(project);
    project->setProcessingBySchedule(false);
    processNext();
}

void IBackup3Container::processCurrentProject()
{
    processBackup3(currentBackup3());
}

void IBackup3Container::processNext()
{
    if (isProcessing())
        return;
    setProcessNext(true);
    std::shared_ptr<IBackup3> P;
    if (!m_processingList.isEmpty()) {
        P = m_processingList.first();
        P->setProcessingCodeString(QVProcessingCodeString());
        const bool restore = P->needRestore();
        if (restore) {
            P->setInState(IBackup3::OpRestore);
        } else {
            P->processMessage(QCoreApplication::translate("Localizable", "Backup has started"),
                LogWord::StatusAndWindow, P.get());
            P->setInState(IBackup3::OpRunning);
        }
        P->setBDILastWorkingState(1, 0);
        if (m_backup3Proc)
            m_backup3Proc->processProject(P);
        // (Switching a full image to a new one and running again comes with the image handling.)
        if (!restore && P->isScheduled())
            P->setNextProcessDate(P->computeNextProcessDate(Clock::current().now()));
        // The run may already have ended and the project have been queued again: take out
        // this entry only.
        if (!m_processingList.isEmpty() && m_processingList.first() == P)
            m_processingList.removeFirst();
        else
            m_processingList.removeOne(P);
    }
    setProcessNext(false);
    if (!P || !P->isInProcess()) {
        if (m_backup3Proc)
            m_backup3Proc->preprocessFailed();
    }
}

void IBackup3Container::abortProcessCurrentProject()
{
    auto project = currentBackup3();
    if (!project || !project->isInProcess())
        return;
    if (project->isInState(IBackup3::OpQueued))
        removeBackup3FromProcessingList(project);
    else if (project->isInState(IBackup3::OpRunning))
        stopProcessBackup3(project);
}

void IBackup3Container::stopProcessBackup3(const std::shared_ptr<IBackup3>& project)
{
    if (m_backup3Proc && project && m_backup3Proc->backup3() == project)
        m_backup3Proc->terminateProcess();
}

bool IBackup3Container::isProcessing() const
{
    if (m_processNext)
        return true;
    if (!m_backup3Proc)
        return false;
    const auto running = m_backup3Proc->backup3();
    return running && running->isInProcess();
}

bool IBackup3Container::terminateProcess()
{
    if (!isProcessing())
        return true;
    return m_backup3Proc->terminateProcess();
}

void IBackup3Container::scheduleProcess()
{
    checkNeedBackupingOnSchedule();
    if (isQueueNotEmpty())
        processNext();
}

// ---- Triggers ----------------------------------------------------------------------------------

void IBackup3Container::scheduleNumbers(const QDateTime& now, int* W, int* D, int* H, int* M)
{
    ::scheduleNumbers(now, W, D, H, M);
}

void IBackup3Container::queueByTrigger(const std::shared_ptr<IBackup3>& project)
{
    addBackup3ToProcessingList(project);
    project->setProcessingBySchedule(true);
    project->setProcessingCodeString(QVProcessingCodeString());
}

bool IBackup3Container::checkNeedBackupingOnSchedule()
{
    if (m_backup3List.isEmpty())
        return false;
    const QDateTime now = Clock::current().now();
    if (!now.isValid())
        return false;
    int W, D, H, M;
    scheduleNumbers(now, &W, &D, &H, &M);
    bool queued = false;
    // A copy: a project deleted meanwhile stays valid until this pass is done.
    const QList<std::shared_ptr<IBackup3>> list = m_backup3List;
    for (const auto& p : list) {
        if (!p)
            break;
        if (!p->isInProcess() && p->isTimeToProcessDate(now, D, W, H, M)) {
            queueByTrigger(p);
            queued = true;
        }
    }
    return queued;
}

bool IBackup3Container::checkNeedBackupingOnMount(const QString& mountedPath)
{
    bool queued = false;
    const QList<std::shared_ptr<IBackup3>> list = m_backup3List;
    for (const auto& p : list) {
        if (p->isNeedToProcessOnMount(mountedPath) && !p->isInProcess()) {
            queueByTrigger(p);
            queued = true;
        }
    }
    return queued;
}

QDateTime IBackup3Container::getFirstNextDate() const
{
    QDateTime first;
    for (const auto& p : m_backup3List) {
        if (!p->isScheduled() || !p->getNextProcessDate().isValid())
            continue;
        if (!first.isValid() || p->getNextProcessDate() < first)
            first = p->getNextProcessDate();
    }
    return first;
}

QStringList IBackup3Container::getVolumeUUIDListForStartOnMountEvent() const
{
    QStringList uuids;
    for (const auto& p : m_backup3List) {
        if (!p->isProcessOnMount() || (p->isScheduled() && !p->isLastProcessFailed()))
            continue;
        uuids += p->removableVolumeUUIDs();
    }
    return uuids;
}

void IBackup3Container::diskWasUnmount()
{
    if (!m_backup3Proc)
        return;
    const auto running = m_backup3Proc->backup3();
    if (running && running->isInProcess() && !running->isDestinationActive())
        m_backup3Proc->terminateProcessWithReason(2);
}
