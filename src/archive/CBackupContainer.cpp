#include "archive/CBackupContainer.h"

#include "archive/CBackup.h"
#include "archive/CBackupItem.h"
#include "archive/CToastTool.h"
#include "archive/IBackup.h"
#include "platform/Clock.h"
#include "platform/MainThread.h"
#include "platform/MountInfo.h"
#include "platform/NameCodec.h"
#include "projects/ILocation.h"
#include "projects/ScheduleDates.h"
#include "utilities/FileOps.h"
#include "utilities/IIconPack.h"
#include "utilities/IPathUtil.h"
#include "utilities/IShellServices.h"
#include "utilities/LogOptions.h"
#include "utilities/MainPreferences.h"
#include "utilities/QVLog.h"
#include "utilities/RunLog.h"
#include "utilities/UiPrompts.h"

#include <QAbstractFileIconProvider>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QMimeDatabase>
#include <QPainter>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::unique_ptr<CBackupContainer> g_global;

QString tr(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

void logLine(const QString& text)
{
    IShellServices::shared().processMessage(text, LogWord::WindowAndRunLog, nullptr);
}

QString replaceExtension(const QString& path, const char* extension)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    const QString base = dot > slash + 1 ? path.left(dot) : path;
    return base + QLatin1Char('.') + QLatin1String(extension);
}

// The items a given archive stored (history 0x1 at its index) lose their last backup date, so
// the next incremental build takes them again.
void clearDatesStoredIn(CBackupItemsContainer& container, int index)
{
    for (int i = 0; i < container.count(); ++i) {
        CBackupItem* item = container.itemAt(i);
        for (const CBIHistoryState& h : item->history())
            if (int(h.index) == index && (h.state & 0x1)) {
                item->setLastBackupDate(QDateTime());
                break;
            }
        clearDatesStoredIn(*item, index);
    }
}

} // namespace

CBackupContainer::CBackupContainer()
{
    // Scheduled starts on and the agent's menu shown until the preferences say otherwise.
    m_agentState.setOn(QVAgentState::ScheduleOn | QVAgentState::ShowStatusMenu);
    MainPreferences::shared().setAgentState(&m_agentStatePrefs);
    IArchiveContainer::setShared(this);
}

CBackupContainer::~CBackupContainer()
{
    if (&IArchiveContainer::shared() == this)
        IArchiveContainer::setShared(nullptr);
    MainPreferences::shared().setAgentState(nullptr);
    m_queue.clear();
    m_burnList.clear();
    RunLog::shared().closeLog();
}

CBackupContainer& CBackupContainer::shared()
{
    if (!g_global)
        g_global = std::make_unique<CBackupContainer>();
    return *g_global;
}

void CBackupContainer::resetShared()
{
    g_global.reset();
}

CBackupContainer* CBackupContainer::global()
{
    return g_global.get();
}

// ---- the list ----

CBackup* CBackupContainer::addNewBackup(const QString& name)
{
    m_backups.push_back(std::make_unique<CBackup>(name));
    return m_backups.back().get();
}

int CBackupContainer::getIndexBackup(const CBackup* backup) const
{
    for (size_t i = 0; i < m_backups.size(); ++i)
        if (m_backups[i].get() == backup)
            return int(i);
    return -1;
}

CBackup* CBackupContainer::backupAt(int index) const
{
    return index >= 0 && size_t(index) < m_backups.size() ? m_backups[size_t(index)].get() : nullptr;
}

CBackup* CBackupContainer::findBackup(const QString& name) const
{
    for (const auto& b : m_backups)
        if (b->name() == name)
            return b.get();
    return nullptr;
}

int CBackupContainer::indexOfBackupByUUID(const QString& uuid) const
{
    for (size_t i = 0; i < m_backups.size(); ++i)
        if (m_backups[i]->getUUID() == uuid)
            return int(i);
    return -1;
}

bool CBackupContainer::renameBackup(CBackup* backup, const QString& name)
{
    if (getIndexBackup(backup) < 0)
        return true;
    for (const auto& b : m_backups)
        if (b.get() != backup && b->name() == name)
            return false;
    backup->setName(name);
    return true;
}

bool CBackupContainer::removeBackupAt(int index)
{
    CBackup* backup = backupAt(index);
    if (!backup || backup->isTreeBusy() || backup->getIBackup()->isJobRunning())
        return false;
    dropFromQueueAndBurnList(backup);
    if (m_firstSelected == backup)
        m_firstSelected = nullptr;
    backup->removeAllItems();
    m_backups.erase(m_backups.begin() + index);
    return true;
}

bool CBackupContainer::removeBackup(CBackup* backup)
{
    const int index = getIndexBackup(backup);
    if (index < 0)
        return false;
    if (backup->getIBackup()->isJobRunning())
        return false;
    bool closed = false;
    // Through the tree's guarded entry: refused while a walk runs over it.
    if (!backup->editTree([&] { closed = backup->close(); }))
        return false;
    removeBackupAt(index);
    return closed;
}

bool CBackupContainer::closeBackup(CBackup* backup)
{
    return removeBackup(backup);
}

bool CBackupContainer::makeSingleSelection(int index)
{
    if (!backupAt(index))
        return false;
    for (const auto& b : m_backups)
        b->setSelection(false);
    backupAt(index)->setSelection(true);
    return true;
}

bool CBackupContainer::makeSingleSelection(CBackup* backup)
{
    return backup && makeSingleSelection(getIndexBackup(backup));
}

CBackup* CBackupContainer::findFirstSelected()
{
    m_firstSelected = nullptr;
    for (const auto& b : m_backups)
        if (b->isSelected()) {
            m_firstSelected = b.get();
            break;
        }
    return m_firstSelected;
}

template<typename Fn>
void CBackupContainer::forSelected(Fn fn)
{
    for (const auto& b : m_backups)
        if (b->isSelected())
            fn(b.get());
}

bool CBackupContainer::ensureFullyLoaded(CBackup* backup)
{
    // A project read for the list has only its top level: saving or running it needs the rest.
    if (backup->loadState() != 1)
        return true;
    const bool tree = backup->isTreeChanged();
    const bool props = backup->isPropertiesChanged();
    const QString file
        = backup->projectFilePath().isEmpty() ? backup->makeBifFileName() : backup->projectFilePath();
    if (!backup->load(file, false))
        return false;
    backup->setTreeChanged(tree || backup->isTreeChanged());
    backup->setPropertiesChanged(props || backup->isPropertiesChanged());
    return true;
}

void CBackupContainer::revertSelectedBackups()
{
    forSelected([this](CBackup* b) {
        if (b->isInProcess())
            return;
        const QString file = b->projectFilePath().isEmpty() ? b->makeBifFileName() : b->projectFilePath();
        b->editTree([&] { b->load(file, false); });
    });
}

void CBackupContainer::saveSelectedBackups()
{
    forSelected([this](CBackup* b) {
        if (ensureFullyLoaded(b))
            b->save();
    });
}

void CBackupContainer::saveAllBackups()
{
    for (const auto& p : m_backups) {
        CBackup* b = p.get();
        if (!b->isTreeChanged() && !b->isPropertiesChanged())
            continue;
        if (!ensureFullyLoaded(b))
            continue;
        if (b->isTreeChanged())
            b->save();
        else
            b->saveProperties();
    }
}

bool CBackupContainer::matchFileAsBIF(const QString& path)
{
    const QString ext = QFileInfo(path).suffix();
    return ext.compare(QLatin1String("bif"), Qt::CaseInsensitive) == 0
        || ext.compare(QLatin1String("bifx"), Qt::CaseInsensitive) == 0;
}

QString CBackupContainer::getBackupNameFromPath(const QString& path)
{
    if (!matchFileAsBIF(path))
        return QString();
    return QFileInfo(path).completeBaseName();
}

QString CBackupContainer::QVProjectTreeFileName(const QString& path)
{
    return replaceExtension(path, "bif");
}

QString CBackupContainer::QVProjectHeaderFileName(const QString& path)
{
    return replaceExtension(path, "bih");
}

QString CBackupContainer::QVProjectSBPermFileName(const QString& path)
{
    return replaceExtension(path, "bip");
}

int CBackupContainer::loadRecentBackups()
{
    if (m_createFolders)
        MainPreferences::shared().checkCreateAppSupportPath();
    const QString folder = IPathUtil::getBackupsPath();
    std::vector<QByteArray> files;
    if (DIR* dir = ::opendir(NameCodec::encode(folder).constData())) {
        while (dirent* e = ::readdir(dir)) {
            const QByteArray name(e->d_name);
            // Only the current form: a ".bifx" is an older file kept beside its project.
            if (name.size() > 4 && name.toLower().endsWith(".bif"))
                files.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(files.begin(), files.end());
    int loaded = 0;
    for (const QByteArray& f : files) {
        const QString file = NameCodec::decode(f);
        const QString path = folder + QLatin1Char('/') + file;
        struct stat st = {};
        if (::stat(NameCodec::encode(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        CBackup* backup = addNewBackup(file.left(file.size() - 4));
        if (backup->loadTopContentLevel(path, false)) {
            backup->setProjectFilePath(path);
            ++loaded;
            continue;
        }
        // Out of the list only: its files and keychain item stay for a later version or a repair.
        removeBackupAt(getIndexBackup(backup));
        logLine(tr("Project \"%1\" has been deleted from the list.\n").arg(file));
    }
    return loaded;
}

void CBackupContainer::setUseAdminPrivilegesForAllProjects(bool on)
{
    for (const auto& b : m_backups)
        b->setUseAdminPrivileges(on);
}

// ---- settings for the selected projects ----

void CBackupContainer::setSizeLimit4Selected(quint64 limit)
{
    forSelected([&](CBackup* b) { b->setBackupSizeLimit(limit); });
}

namespace {
quint32 withBit(quint32 flags, quint32 bit, bool on)
{
    return on ? (flags | bit) : (flags & ~bit);
}
} // namespace

void CBackupContainer::setExcludeInvisible4Selected(bool on)
{
    forSelected([&](CBackup* b) { b->setFilterFlags(withBit(b->filterFlags(), CBFilterInvisible, on)); });
}
void CBackupContainer::setExcludeFinderData4Selected(bool on)
{
    forSelected([&](CBackup* b) { b->setFilterFlags(withBit(b->filterFlags(), CBFilterFinderData, on)); });
}
void CBackupContainer::setExcludeApplications4Selected(bool on)
{
    forSelected([&](CBackup* b) { b->setFilterFlags(withBit(b->filterFlags(), CBFilterApplications, on)); });
}
void CBackupContainer::setExcludeAliases4Selected(bool on)
{
    forSelected([&](CBackup* b) { b->setFilterFlags(withBit(b->filterFlags(), CBFilterAliases, on)); });
}
void CBackupContainer::setExcludeByPattern4Selected(bool on)
{
    forSelected([&](CBackup* b) { b->setFilterFlags(withBit(b->filterFlags(), CBFilterByPattern, on)); });
}
void CBackupContainer::setExcludePattern4Selected(const QString& pattern)
{
    forSelected([&](CBackup* b) { b->setExcludePattern(pattern); });
}
void CBackupContainer::setScheduleIntervalType4Selected(quint32 type)
{
    forSelected([&](CBackup* b) { b->setScheduleIntervalType(type); });
}
void CBackupContainer::setScheduleTimeHH4Selected(quint16 hour)
{
    forSelected([&](CBackup* b) { b->setScheduleHour(hour); });
}
void CBackupContainer::setScheduleTimeMM4Selected(quint16 minute)
{
    forSelected([&](CBackup* b) { b->setScheduleMinute(minute); });
}
void CBackupContainer::setScheduleWeekDay4Selected(quint16 days)
{
    forSelected([&](CBackup* b) { b->setScheduleWeekDays(days); });
}
void CBackupContainer::setScheduleMonthDay4Selected(quint16 day)
{
    forSelected([&](CBackup* b) { b->setScheduleMonthDay(day); });
}

void CBackupContainer::applyFilters4Selected()
{
    forSelected([](CBackup* b) { b->editTree([b] { b->applyFilters(b, true, true); }); });
    if (IBackup* current = IShellServices::shared().currentBackup())
        current->registerExternalChange(5);
}

// ---- the run queue ----

bool CBackupContainer::isQueued(const CBackup* backup) const
{
    return std::any_of(
        m_queue.begin(), m_queue.end(), [backup](const QueueEntry& e) { return e.backup == backup; });
}

bool CBackupContainer::appendToQueue(const QueueEntry& entry)
{
    // A project waits in the queue at most once, whatever queued it.
    if (!entry.backup || getIndexBackup(entry.backup) < 0 || isQueued(entry.backup))
        return false;
    m_queue.push_back(entry);
    return true;
}

void CBackupContainer::dropFromQueueAndBurnList(const CBackup* backup)
{
    m_queue.erase(std::remove_if(m_queue.begin(), m_queue.end(),
                      [backup](const QueueEntry& e) { return e.backup == backup; }),
        m_queue.end());
    m_burnList.erase(std::remove(m_burnList.begin(), m_burnList.end(), backup), m_burnList.end());
}

void CBackupContainer::buildSelectedBackups()
{
    // Appended from the end of the list: taken from the end of the queue, they run in list order.
    for (auto it = m_backups.rbegin(); it != m_backups.rend(); ++it) {
        CBackup* b = it->get();
        if (!b->isSelected() || b->getIBackup()->isJobRunning())
            continue;
        if (appendToQueue({ b, OpBuild, {}, {}, false })) {
            b->setInProcess(true, 6);
            b->setProcessingBySchedule(false);
        }
    }
    processNext();
}

void CBackupContainer::restoreSelectedBackups(const QString& folder, const RestoreMembers& members, bool single)
{
    if (folder.isEmpty()) {
        UiPrompts::Alert alert;
        alert.style = UiPrompts::AlertStyle::Critical;
        alert.title = tr("Warning! The existing files may be replaced with the same ones from the backup "
                         "during the operation.");
        alert.text = tr("Would you like to continue?");
        alert.buttons << tr("Continue") << tr("Cancel");
        int answer = -1;
        {
            ModalDepthGuard modal;
            answer = UiPrompts::shared().showAlert(alert);
        }
        if (answer != 0)
            return; // nothing queued, nothing changed
    }
    int queued = 0;
    for (auto it = m_backups.rbegin(); it != m_backups.rend(); ++it) {
        CBackup* b = it->get();
        if (b->isSelected() && !b->getIBackup()->isJobRunning()
            && appendToQueue({ b, OpRestore, folder, members, single }))
            ++queued;
    }
    if (queued > 0 && !m_restoreRegistered) {
        m_restoreRegistered = true;
        IShellServices::shared().registerStartRestore();
    }
    processNext();
}

void CBackupContainer::queueBackup(const QueueEntry& entry)
{
    if (appendToQueue(entry) && entry.operation != OpRestore)
        entry.backup->setInProcess(true, 6);
    processNext();
}

bool CBackupContainer::isToolJobRunning() const
{
    return CBackup::m_nTarRunning != 0;
}

int CBackupContainer::startBuild(CBackup* backup, bool forBurning)
{
    return backup->build(forBurning);
}

int CBackupContainer::startRestore(
    CBackup* backup, const QString& folder, const RestoreMembers& members, bool single)
{
    return backup->restoreBegining(folder, members, single);
}

void CBackupContainer::reportEntryEnded()
{
    if (!m_current)
        return;
    const QueueEntry ended = *m_current;
    m_current.reset();
    if (onEntryEnded && getIndexBackup(ended.backup) >= 0)
        onEntryEnded(ended);
}

void CBackupContainer::processNext()
{
    if (m_inProcessNext || isToolJobRunning() || m_operation == OpBurning)
        return;
    m_inProcessNext = true;
    reportEntryEnded();
    while (!m_queue.empty()) {
        const QueueEntry entry = m_queue.back();
        m_queue.pop_back();
        CBackup* b = entry.backup;
        m_current = entry;
        m_operation = entry.operation == OpRestore ? OpRestore : OpBuild;
        b->getIBackup()->setProcessingCodeString(QVProcessingCodeString().toUtf8());
        if (!ensureFullyLoaded(b)) {
            b->setInProcess(false, 0);
            logLine(tr("Project \"%1\" cannot be read: %2").arg(b->name(), b->lastFileError()));
            reportEntryEnded();
            continue;
        }
        if (entry.operation == OpRestore) {
            startRestore(b, entry.restoreFolder, entry.restoreMembers, entry.restoreSingle);
        } else {
            if (b->isInProcess() && b->currentOperation() == 6)
                b->setInProcess(false, 0);
            startBuild(b, entry.operation == OpBuildThenBurn);
            if (entry.operation == OpBuildThenBurn && isToolJobRunning())
                addWaitBackupsToVector(m_burnList, b);
            // A scheduled project's next date moves past the run it just had.
            const QDateTime now = Clock::current().now();
            if (b->useSchedule() && b->isProcessingBySchedule()
                && (!b->nextProcessDate().isValid() || b->nextProcessDate() <= now)) {
                b->setNextProcessDate(::nextProcessDate(now, CBSchedIntervalType(b->scheduleIntervalType()),
                    b->scheduleMonthDay(), b->scheduleWeekDays(), b->scheduleHour(), b->scheduleMinute(),
                    b->scheduleIntervalMinutes()));
                b->setPropertiesChanged(true);
            }
        }
        if (isToolJobRunning()) {
            m_inProcessNext = false;
            return; // the run's end calls processNext again
        }
        // Nothing started: the project is done with, the queue goes on.
        if (b->isInProcess() && !b->getIBackup()->isJobRunning())
            b->setInProcess(false, 0);
        b->deleteTmpFiles();
        reportEntryEnded();
    }
    m_inProcessNext = false;
    if (!m_burnList.empty()) {
        startBurning();
        return;
    }
    m_operation = OpIdle;
    if (m_restoreRegistered) {
        m_restoreRegistered = false;
        IShellServices::shared().registerStopRestore();
    }
    if (onIdle)
        onIdle();
}

CBackup* CBackupContainer::getBackupInProcess() const
{
    for (const auto& b : m_backups)
        if (b->isInProcess() && b->currentOperation() != 6)
            return b.get();
    return nullptr;
}

bool CBackupContainer::removeFromProcessing(CBackup* backup)
{
    if (m_queue.empty())
        return true;
    if (!isQueued(backup))
        return false;
    m_queue.erase(std::remove_if(m_queue.begin(), m_queue.end(),
                      [backup](const QueueEntry& e) { return e.backup == backup; }),
        m_queue.end());
    backup->setInProcess(false, 6);
    return true;
}

void CBackupContainer::stopRun(CBackup* backup)
{
    backup->getIBackup()->stopByUser();
}

void CBackupContainer::stopTar()
{
    std::vector<QueueEntry> dropped;
    dropped.swap(m_queue);
    for (const QueueEntry& e : dropped)
        if (e.backup->isInProcess() && !e.backup->getIBackup()->isJobRunning())
            e.backup->setInProcess(false, 0);
    // Archives built for a disc that was never burned do not count as backed up.
    if (!m_burnList.empty())
        burnFailed(tr("Terminated by user"));
    for (const auto& b : m_backups)
        if (b->getIBackup()->isJobRunning() || b->getIBackup()->cmdVectorSize() > 0
            || (m_current && m_current->backup == b.get() && isToolJobRunning()))
            stopRun(b.get());
    if (!isToolJobRunning()) {
        m_operation = OpIdle;
        processNext();
    }
}

int CBackupContainer::checkNeedBackupingOnSchedule()
{
    // Qt runs timers inside dialogs; the check waits until none is open.
    if (ModalDepthGuard::depth() > 0)
        return 0;
    if (!m_agentState.isOn(QVAgentState::ScheduleOn) || !m_queue.empty() || !m_burnList.empty()
        || isToolJobRunning() || m_operation == OpBurning)
        return 0;
    const QDateTime now = Clock::current().now();
    if (!now.isValid())
        return 0;
    int count = 0;
    for (const auto& p : m_backups) {
        CBackup* b = p.get();
        if (b->isInProcess() || !b->isTimeToBackup(now))
            continue;
        if (appendToQueue({ b, OpBuild, {}, {}, false })) {
            b->setProcessingBySchedule(true);
            ++count;
        }
    }
    IShellServices::shared().funcSelectorRedraw();
    if (count > 0)
        processNext();
    return count;
}

int CBackupContainer::checkNeedBackupingOnMount(const QString& volumePath)
{
    const QString mountPoint = MountInfo::mountPointForPath(volumePath);
    if (volumePath.isEmpty() || MountInfo::cleanPath(volumePath) != mountPoint) {
        logLine(tr("\"%1\" is not a mount point: no project starts for it").arg(volumePath));
        return 0;
    }
    int count = 0;
    for (const auto& p : m_backups) {
        CBackup* b = p.get();
        if (b->isInProcess() || isQueued(b) || !b->isNeedToProcessOnMount(volumePath))
            continue;
        if (appendToQueue({ b, OpBuild, {}, {}, false })) {
            b->setProcessingBySchedule(true);
            ++count;
        }
    }
    if (count > 0)
        processNext();
    return count;
}

QStringList CBackupContainer::getVolumeUUIDListForStartOnMountEvent()
{
    QStringList list;
    for (const auto& b : m_backups) {
        if (!b->startOnMount())
            continue;
        const QString uuid = b->location()->getVolumeUUID();
        if (!uuid.isEmpty() && !list.contains(uuid))
            list << uuid;
    }
    return list;
}

QDateTime CBackupContainer::getFirstNextDate()
{
    if (!m_agentState.isOn(QVAgentState::ScheduleOn))
        return QDateTime();
    QDateTime first;
    for (const auto& b : m_backups) {
        if (!b->useSchedule())
            continue;
        if (!b->nextProcessDate().isValid())
            b->setNextProcessDate(::nextProcessDate(CBSchedIntervalType(b->scheduleIntervalType()),
                b->scheduleMonthDay(), b->scheduleWeekDays(), b->scheduleHour(), b->scheduleMinute(),
                b->scheduleIntervalMinutes()));
        const QDateTime d = b->nextProcessDate();
        if (d.isValid() && (!first.isValid() || d < first))
            first = d;
    }
    return first;
}

bool CBackupContainer::addWaitBackupsToVector(std::vector<CBackup*>& list, CBackup* backup)
{
    if (!backup || std::find(list.begin(), list.end(), backup) != list.end())
        return false;
    list.push_back(backup);
    return true;
}

// ---- burning ----

QString CBackupContainer::backupDiscPlaceholder()
{
    const passwd* pw = ::getpwuid(::getuid());
    const QString user = pw && pw->pw_name ? QString::fromLocal8Bit(pw->pw_name) : QStringLiteral("user");
    return QStringLiteral("/media/%1/Backup Disc").arg(user);
}

QString CBackupContainer::burnWorkFolder(const CBackup* backup)
{
    return backup ? backup->burnWorkFolder() : QString();
}

void CBackupContainer::forgetBurnWorkFolder(CBackup* backup)
{
    backup->setBurnWorkFolder(QString());
}

void CBackupContainer::startBurning()
{
    m_operation = OpBurning;
    CBackup* last = m_burnList.back();
    const bool toast = last->isLocationDeviceCDRW_TOAST_Type();
    const bool burnt = toast ? IShellServices::shared().toastDisc(0) : IShellServices::shared().burnDisc(0);
    if (m_operation == OpBurning && !m_burnList.empty()) {
        if (burnt)
            clearBurnBackups();
        else
            burnFailed(
                toast ? tr("The burning application is not available") : tr("The disc has not been burned"));
    }
    m_operation = OpIdle;
    processNext();
}

void CBackupContainer::clearBurnBackups()
{
    const bool burning = m_operation == OpBurning;
    for (CBackup* b : m_burnList) {
        if (!b->isLocationDeviceCDRWType())
            continue;
        // Only the folder the build made for the disc; a stored destination is never deleted.
        const QString folder = burnWorkFolder(b);
        if (folder.isEmpty())
            continue;
        const QByteArray path = NameCodec::encode(folder);
        struct stat st = {};
        if (::lstat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
            continue;
        if (burning) {
            FileOps::removeTree(path.toStdString());
            forgetBurnWorkFolder(b);
            b->setDestPath(backupDiscPlaceholder());
            b->setSelectedArchive(QString());
            b->setPropertiesChanged(true);
        } else if (DIR* dir = ::opendir(path.constData())) {
            std::vector<QByteArray> entries;
            while (dirent* e = ::readdir(dir)) {
                const QByteArray name(e->d_name);
                if (name != "." && name != ".." && !name.startsWith(".rsrcFrk"))
                    entries.push_back(path + '/' + name);
            }
            ::closedir(dir);
            for (const QByteArray& e : entries)
                FileOps::removeTree(e.toStdString());
        }
    }
    m_burnList.clear();
    if (burning)
        m_operation = OpIdle;
}

void CBackupContainer::burnFailed(const QString& why)
{
    for (CBackup* b : m_burnList) {
        // The archive this build registered is the newest of its method: it never reached a
        // disc, so it is not a backup, and what it held is taken again by the next build.
        const int newest = int(b->archives().size()) - 1;
        if (newest >= 0) {
            ensureFullyLoaded(b);
            clearDatesStoredIn(*b, newest);
            b->removeLastBackupArchive();
            b->setTreeChanged(true);
        }
        b->setLastRunFailed(true);
        b->setPropertiesChanged(true);
        const QString folder = burnWorkFolder(b);
        QString text = tr("Burning of backup \"%1\" has failed: %2").arg(b->name(), why);
        if (!folder.isEmpty())
            text += QLatin1Char(' ') + tr("The archives are kept in \"%1\".").arg(folder);
        b->getIBackup()->processMessage(QString(text + QLatin1Char('\n')), 0x4761, b->getIBackup());
        if (newest >= 0)
            b->save();
    }
    m_burnList.clear();
    if (m_operation == OpBurning)
        m_operation = OpIdle;
}

std::vector<std::pair<QString, QString>> CBackupContainer::addArchivesToDRFolder()
{
    // An empty list takes the selected projects; outside the burn step (a build burning its own
    // archive) they are only handed over, so no later burn step takes them again.
    std::vector<CBackup*> taken = m_burnList;
    if (taken.empty())
        forSelected([&taken](CBackup* b) { addWaitBackupsToVector(taken, b); });
    if (m_operation == OpBurning)
        m_burnList = taken;
    std::vector<std::pair<QString, QString>> pairs;
    for (CBackup* b : taken) {
        const QString path = b->getAbsolutePathName(false, false);
        // Through the byte-exact name: QFileInfo loses names that are not UTF-8.
        struct stat st = {};
        if (path.isEmpty() || ::stat(NameCodec::encode(path).constData(), &st) != 0)
            continue;
        pairs.emplace_back(path, QLatin1Char('/') + QFileInfo(path).fileName());
    }
    return pairs;
}

void CBackupContainer::addArchivesToToast(CToastTool* tool)
{
    if (!tool)
        return;
    std::vector<CBackup*> taken = m_burnList;
    if (taken.empty())
        forSelected([&taken](CBackup* b) {
            if (b->isLocationDeviceCDRW_TOAST_Type())
                addWaitBackupsToVector(taken, b);
        });
    if (m_operation == OpBurning)
        m_burnList = taken;
    for (CBackup* b : taken) {
        if (!b->isLocationDeviceCDRW_TOAST_Type())
            continue;
        const QString path = b->getAbsolutePathName(false, false);
        char resolved[PATH_MAX];
        if (path.isEmpty() || !::realpath(NameCodec::encode(path).constData(), resolved))
            continue;
        tool->addBackupFile(QByteArray(resolved));
    }
}

// ---- preferences, run log and temporary folders ----

bool CBackupContainer::savePreferences()
{
    return MainPreferences::shared().savePreferences();
}

bool CBackupContainer::loadPreferences()
{
    return MainPreferences::shared().loadPreferences();
}

QString CBackupContainer::getLogsPath() const
{
    return RunLog::shared().getLogsPath();
}

void CBackupContainer::openLog()
{
    RunLog::shared().openLog();
}

void CBackupContainer::traceToLog(const QByteArray& text)
{
    RunLog::shared().traceToLog(text);
}

void CBackupContainer::closeLog()
{
    RunLog::shared().closeLog();
}

bool CBackupContainer::checkCreateAppSupportPath(bool* created)
{
    return MainPreferences::shared().checkCreateAppSupportPath(created);
}

int CBackupContainer::checkFileExisting(const QString& path, bool ask)
{
    return MainPreferences::checkFileExisting(path, ask);
}

QString CBackupContainer::getMainApplicationID()
{
    return MainPreferences::getMainApplicationID();
}

QImage CBackupContainer::getIconImageOfSize(const QString& path, int size, const QString& defaultName, bool alias)
{
    if (size <= 0 || !qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return QImage();
    const QString key = QStringLiteral("%1\n%2\n%3").arg(path).arg(size).arg(alias ? 1 : 0);
    if (const auto it = m_iconCache.constFind(key); it != m_iconCache.constEnd())
        return *it;
    const QSize wanted(size, size);
    auto render = [&wanted](const QIcon& icon) {
        return icon.isNull() ? QImage() : icon.pixmap(wanted).toImage().scaled(wanted);
    };
    QImage image;
    if (!path.isNull()) {
        const QFileInfo info(path);
        if (info.exists() || info.isSymLink()) {
            QAbstractFileIconProvider provider;
            image = render(provider.icon(info));
        }
        if (image.isNull()) {
            const QMimeType type = QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchExtension);
            QIcon icon = QIcon::fromTheme(type.iconName());
            if (icon.isNull())
                icon = QIcon::fromTheme(type.genericIconName());
            image = render(icon);
        }
    }
    const QImage fallback = render(IIconPack::loadWithName(defaultName));
    if (image.isNull())
        image = fallback;
    if (alias && !image.isNull()) {
        QImage badged(wanted, QImage::Format_ARGB32_Premultiplied);
        badged.fill(Qt::transparent);
        QPainter painter(&badged);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(QPoint(0, 0), image);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.setOpacity(1.0);
        painter.drawImage(QRect(QPoint(0, 0), wanted), render(IIconPack::loadWithName(QStringLiteral("AliasBadgeIcon"))));
        painter.end();
        image = badged;
    }
    if (image.isNull())
        image = fallback;
    m_iconCache.insert(key, image);
    return image;
}
