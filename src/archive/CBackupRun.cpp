// Builds and restores of an archive project: the tar file list, the tool pipelines handed to
// the run control, and what happens when each job has ended.
#include "archive/ArchiveFiles.h"
#include "archive/ArchiveNames.h"
#include "archive/ArchiveRestoreMembers.h"
#include "archive/CBackup.h"
#include "archive/CBackupItem.h"
#include "archive/IBackup.h"
#include "archive/ICoordinator.h"
#include "archive/TarListPaths.h"
#include "platform/AppPaths.h"
#include "platform/Clock.h"
#include "platform/MainThread.h"
#include "platform/NameCodec.h"
#include "projects/ILocation.h"
#include "projects/ILocationServices.h"
#include "projects/IPlaceMounter.h"
#include "utilities/CommonFunctions.h"
#include "utilities/CVolumeMounter.h"
#include "utilities/FileOps.h"
#include "utilities/IDiskUtil.h"
#include "utilities/IProcController.h"
#include "utilities/IShellServices.h"
#include "utilities/LogOptions.h"
#include "utilities/MainPreferences.h"
#include "utilities/UiPrompts.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Through the byte-exact names: QFileInfo loses names that are not UTF-8.
bool pathExists(const QString& path, bool followLink)
{
    struct stat st = {};
    const QByteArray name = NameCodec::encode(path);
    return (followLink ? ::stat(name.constData(), &st) : ::lstat(name.constData(), &st)) == 0;
}

constexpr quint64 kStatusWindowLog = 0x4761;
constexpr quint64 kStatusRunLog = 0x47a1;

QString tr(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

// Lowers the running-jobs count when a run ends before a job was started.
class TarRunningGuard
{
public:
    TarRunningGuard() { ++CBackup::m_nTarRunning; }
    ~TarRunningGuard()
    {
        if (m_armed)
            CBackup::m_nTarRunning = std::max(0, CBackup::m_nTarRunning - 1);
    }
    void release() { m_armed = false; }

private:
    bool m_armed = true;
};

bool isDirectory(const QString& path)
{
    struct stat st
    {
    };
    return ::stat(NameCodec::encode(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The openssl options after the cipher: the md5 key derivation the archives were always made
// with, the legacy provider for Blowfish, and the password from the job's environment.
QStringList opensslKeyOptions(quint32 method)
{
    QStringList o { QStringLiteral("-md"), QStringLiteral("md5") };
    if (method == CBCryptBlowfish)
        o << QStringLiteral("-provider") << QStringLiteral("legacy") << QStringLiteral("-provider")
          << QStringLiteral("default");
    o << QStringLiteral("-pass") << QStringLiteral("env:QV_ARCH_PASS");
    return o;
}

QString splitVolumeBase(const QString& archivePath)
{
    // "<name>.cnt<N>" -> "<name>"
    const qsizetype dot = archivePath.lastIndexOf(QLatin1Char('.'));
    return archivePath.left(dot);
}

// The tree's item for an absolute path, or nullptr when the tree has none.
const CBackupItem* findItemByPath(const CBackupItemsContainer& container, const QString& path)
{
    for (int i = 0; i < container.count(); ++i) {
        const CBackupItem* item = container.itemAt(i);
        const QString abs = item->getAbsolutePath();
        if (abs == path)
            return item;
        if (path.startsWith(abs.endsWith(QLatin1Char('/')) ? abs : abs + QLatin1Char('/')))
            return findItemByPath(*item, path);
    }
    return nullptr;
}

// Share URLs that could not be mounted for a restore since the application started: the next
// restore from them does not try again.
QStringList& unmountableRestoreURLs()
{
    static QStringList urls;
    return urls;
}

// Points every stage word that names the job's archive at the same name in folder.
void moveRestoreArchive(CBackupTaskDesc& task, const QString& folder)
{
    const QString moved = folder + QLatin1Char('/') + QFileInfo(task.archivePath).fileName();
    for (QStringList& stage : task.stages)
        for (QString& word : stage)
            if (word == task.archivePath)
                word = moved;
    task.archivePath = moved;
}

QString joinedPath(const QString& folder, const QString& below)
{
    QString path = folder;
    if (!below.isEmpty()) {
        if (!path.endsWith(QLatin1Char('/')))
            path += QLatin1Char('/');
        path += below.startsWith(QLatin1Char('/')) ? below.mid(1) : below;
    }
    return path;
}

} // namespace

QString CBackup::tarToolPath()
{
    const QString configured = MainPreferences::shared().tarTool();
    if (!configured.isEmpty() && QFileInfo(configured).isExecutable())
        return configured;
    return QStringLiteral("/usr/bin/tar");
}

void CBackup::sendRunText(const QString& text, quint64 options)
{
    if (m_iBackup)
        m_iBackup->processMessage(text, options, m_iBackup.get());
}

QString CBackup::makeBurnWorkFolder(const QString& folder)
{
    if (folder.isEmpty())
        return QString();
    QByteArray path = NameCodec::encode(folder);
    if (!path.endsWith('/'))
        path += '/';
    path += "kelvane-burn-" + QByteArray::number(::getuid()) + ".XXXXXX";
    // mkdtemp makes the folder 0700 at a name nobody could have chosen beforehand.
    if (!::mkdtemp(path.data()))
        return QString();
    return NameCodec::decode(path);
}

bool CBackup::_doMount(int mode)
{
    ILocation* L = m_location.get();
    if (!L)
        return false;
    if (L->isAutomount())
        m_mountAuto = true;
    if (mode == 1 && !m_mountAuto)
        return false;
    if (L->isActiveForce() || L->getDeviceType() != ILocation::DeviceNetworkVolume)
        return false;
    m_mountTried = true;
    const qint64 mark = mode == 1 ? qint64(ILocation::FlagUnmountAfterRun) : qint64(0);
    if (IPlaceMounter::shared().mountLocation(L, mark)) {
        // The volume table hears of the new mount from the mount watcher: the destination is
        // looked at once the table shows the share (bounded, in case it never does).
        LocationVolumeInfo info;
        info.URL = L->getURLStr();
        if (ILocationServices::shared().isVolumeMounted(info)) {
            const qint64 until = Clock::current().monotonicMs() + 10000;
            ModalDepthGuard modal;
            while (!L->isActiveForce() && Clock::current().monotonicMs() < until) {
                QEventLoop loop;
                QTimer::singleShot(50, &loop, &QEventLoop::quit);
                loop.exec();
            }
        }
        return true;
    }
    sendRunText(tr("Target automount error"), 0x4741);
    sendRunText(QVFuncStatus(QStringLiteral("CVolumeMounter::mountLocation")), 0x4781);
    return false;
}

void CBackup::doAutoUnmount()
{
    ILocation* L = m_location.get();
    if (!L || !L->isFlag(ILocation::FlagUnmountAfterRun))
        return;
    sendRunText(tr("Unmounting Target volume..."), kStatusWindowLog);
    IPlaceMounter::shared().unmountLocation(L, 0);
}

quint64 CBackup::splitVolumeSize(quint64 limit, quint64 reserve)
{
    // The project file goes on the last medium beside the volumes, unless it would take more
    // than an eighth of one.
    if (double(reserve) > double(limit) * 0.125)
        reserve = 0;
    if (limit <= reserve + 1024)
        return limit;
    return limit - reserve - 4;
}

CBackup::DestState CBackup::prepareBuildDestination()
{
    const bool S = m_bySchedule;
    ILocation* L = m_location.get();
    if (!L)
        return DestState::Failed;
    // Mounts a network destination set to mount automatically; refused administrator rights
    // end the run.
    auto mount = [this]() {
        m_mountTried = false;
        const bool mounted = _doMount(1);
        m_iBackup->setInProcess(true, 1);
        return mounted || !m_mountTried || IProcController::lastProcessResult() != 6;
    };
    auto choose = [L]() { return ICoordinator::shared().chooseDestPathByUser(L); };
    auto wait = [L]() {
        UiPrompts::VolumeWaitRequest request;
        request.volumeName = L->displayName();
        request.deviceType = L->getDeviceType();
        request.isActive = [L] { return L->isActiveForce(); };
        ModalDepthGuard modal;
        return UiPrompts::shared().waitForVolume(request);
    };
    if (!mount())
        return DestState::NotAuthorized;
    bool waitedUnplaced = false;
    for (;;) {
        const bool active = L->isActiveForce();
        const int type = L->getDeviceType();
        const QString full = L->getFullPath();
        const bool unplaced = type == ILocation::DeviceNone || full == QLatin1String("/") || waitedUnplaced;
        int waited = 1;
        if (unplaced) {
            if (S) {
                workMessage(8, QString());
                return DestState::Failed;
            }
            if (L->getURLStr().isEmpty() && L->getUnverifiedFullPath().isEmpty()) {
                if (!choose())
                    return DestState::Cancelled;
                L->prepare();
                return DestState::GoOn;
            }
            if (active) {
                if (type == ILocation::DeviceNone || full == QLatin1String("/"))
                    return choose() ? DestState::GoOn : DestState::Cancelled;
                return DestState::GoOn;
            }
            waited = wait();
            waitedUnplaced = true;
        } else if (active) {
            if (!full.isEmpty())
                return DestState::GoOn;
            if (S) {
                workMessage(2, L->getUnverifiedFullPath());
                return DestState::Failed;
            }
            return choose() ? DestState::GoOn : DestState::Cancelled;
        } else {
            if (S) {
                workMessage(1, L->displayName());
                return DestState::Failed;
            }
            waited = wait();
        }
        if (waited == -1 || waited == 0)
            return DestState::Cancelled;
        if (!mount())
            return DestState::NotAuthorized;
    }
}

void CBackup::startPause()
{
    // The run's start is shown for a moment before the work begins; a stop ends the pause.
    const qint64 until = Clock::current().monotonicMs() + 1000;
    ModalDepthGuard modal;
    while (!m_iBackup->userStopped()) {
        const qint64 left = until - Clock::current().monotonicMs();
        if (left <= 0)
            break;
        QEventLoop loop;
        QTimer::singleShot(int(std::min<qint64>(left, 50)), &loop, &QEventLoop::quit);
        loop.exec();
    }
}

int CBackup::build(bool containerBurns)
{
    if (m_lastRunFailed) {
        m_lastRunFailed = false;
        m_propertiesChanged = true;
    }
    if (m_nTarRunning != 0 || !m_iBackup)
        return 0;
    TarRunningGuard running;
    m_iBackup->setInProcess(true, 1);
    m_iBackup->clearUserStop();
    sendRunText(tr("Backup Archive has started"), kStatusWindowLog);
    QVProcessEvents();
    m_iBackup->clearAnalitics();
    m_iBackup->setBeginningDateToNow();
    startPause();

    // A stop, a cancelled choice or wait: the run ends without counting as failed.
    auto terminated = [this]() {
        discardBurnWorkFolder();
        doAutoUnmount();
        sendRunText(m_iBackup->userStopped() ? tr("Terminated by user") : tr("Terminated"), kStatusWindowLog);
        m_lastEndStatus = 0x4;
        m_iBackup->setInProcess(false, 0);
        return 0;
    };
    auto failure = [this](const QString& text) {
        discardBurnWorkFolder();
        doAutoUnmount();
        sendRunText(text, kStatusWindowLog);
        m_lastRunFailed = true;
        m_propertiesChanged = true;
        m_iBackup->setInProcess(false, 0);
        saveProperties();
        return 0;
    };
    const QString failedText = tr("Failed to start building of backup \"%1\"").arg(m_name);
    const QString destinationText = tr("Failed back up \"%1\" into destionation folder").arg(m_name);
    if (m_iBackup->userStopped())
        return terminated();

    m_containerBurns = containerBurns;
    if (isLocationDeviceCDRWType()) {
        // A disc archive is built into a work folder of its own and burned from there.
        const QString work = makeBurnWorkFolder(MainPreferences::shared().getTmpFolderPath());
        if (work.isEmpty()) {
            sendRunText(
                tr("Failed to create folder \"%1\"").arg(MainPreferences::shared().getTmpFolderPath()),
                0x4741);
            return failure(destinationText);
        }
        m_destPath = work;
        m_burnWorkFolder = work;
    } else {
        switch (prepareBuildDestination()) {
        case DestState::GoOn:
            break;
        case DestState::Failed:
            return failure(destinationText);
        case DestState::Cancelled:
            return terminated();
        case DestState::NotAuthorized:
            // Refused rights: no next date either, the run never began.
            sendRunText(tr("Terminated"), kStatusWindowLog);
            m_lastEndStatus = 0x4;
            m_iBackup->setInProcess(false, 0);
            return 0;
        }
    }
    const QString dest = getDestPath();
    if (dest.isEmpty()) {
        workMessage(8, QString());
        return failure(destinationText);
    }
    if (!isDirectory(dest) || ::access(NameCodec::encode(dest).constData(), W_OK) != 0) {
        workMessage(2, dest);
        return failure(destinationText);
    }
    // A project read only to its top level is read whole first: its deeper choices count.
    if (m_loadState == 1 && reload() < 0)
        return failure(failedText);

    sendRunText(tr("Preparing file list..."), kStatusWindowLog);
    m_iBackup->setProgressFormat(tr("Preparing file list: %1 items processed"));
    m_progressCounter = 0;
    m_iBackup->setIndicatorPosition(0.1, true);
    refreshFromDisk(this, true, true, m_backupMethod != BackupMethodIncremental);
    m_iBackup->setProgressFormat(QString());

    // A split archive leaves room for the project file on its media.
    quint64 reserve = 0;
    if (m_backupSizeLimit > 0) {
        getAbsolutePathName(true, m_useAdmin);
        if (save()) {
            const qint64 size = QFileInfo(makeBifFileName()).size();
            if (size > 0)
                reserve = quint64((size + 999) / 1000);
        }
    }

    const std::string tmp = NameCodec::encodeStd(MainPreferences::shared().getTmpFolderPath());
    const QString listPath = NameCodec::decode(MainPreferences::tempName(tmp));
    if (listPath.isEmpty())
        return failure(failedText);
    addTmpFile(listPath);

    QString password;
    if (m_cryptMethod != CBCryptNone) {
        password = m_iBackup->getBackupPasswordByUser();
        if (password.isEmpty())
            return failure(failedText);
    }

    FILE* list = std::fopen(NameCodec::encode(listPath).constData(), "w");
    if (!list)
        return failure(failedText);
    m_iBackup->setInProcess(true, 3);
    clearIncludedToStreamFlag();
    m_warnBits = 0;
    m_warnCount = 0;
    m_iBackup->setProgressFormat(tr("Preparing file list: %1 items processed"));
    m_progressCounter = 0;
    double totalSize = 0;
    const int entries
        = collectIncludedFilesToStream(list, m_backupMethod == BackupMethodIncremental, totalSize);
    m_iBackup->setProgressFormat(QString());
    m_iBackup->setWarnCount(m_warnCount);
    const bool listOk = std::fflush(list) == 0;
    std::fclose(list);
    m_iBackup->setInProcess(true, 1);
    // Items are stamped with the time their list was written: a file changed during the build
    // is taken again by the next incremental archive.
    m_listWrittenAt = Clock::current().now();
    if (!listOk)
        return failure(failedText);
    setFilesFrom(listPath);
    if (m_iBackup->userStopped())
        return terminated();

    if (entries <= 0) {
        sendRunText(m_backupMethod == BackupMethodIncremental
                ? tr("Files to incremental back up are not found")
                : tr("Files to back up are not found"),
            kStatusRunLog);
        discardBurnWorkFolder();
        doAutoUnmount();
        m_iBackup->setInProcess(false, 0);
        return 0;
    }
    const QString folder = getAbsolutePathName(true, false);
    if (folder.isEmpty() || !isDirectory(folder)) {
        if (!folder.isEmpty())
            sendRunText(tr("Failed to create folder \"%1\"").arg(folder), 0x4741);
        return failure(failedText);
    }
    const QString archive = folder + QLatin1Char('/') + getNewArchiveName();

    const QString tar = tarToolPath();
    const bool z = m_useCompression;
    const QString cipher = encryptionMethodToStr(m_cryptMethod, false);
    const QStringList tarTail { QStringLiteral("--ignore-failed-read"), QStringLiteral("--no-recursion"),
        QStringLiteral("-PT"), listPath };
    CBackupTaskDesc task;
    task.operation = CBackupTaskDesc::OpBuild;
    task.password = password;
    QStringList split;
    if (m_backupSizeLimit > 0) {
        const quint64 volume = splitVolumeSize(m_backupSizeLimit, reserve);
        split = QStringList { QStringLiteral("/usr/bin/split"), QStringLiteral("-b"),
            QString::number(volume) + QStringLiteral("000"), QStringLiteral("-a"), QStringLiteral("3"),
            QStringLiteral("-"), archive + QLatin1Char('.') };
        task.archivePath = archive + QLatin1Char('.');
    } else {
        task.archivePath = archive;
    }
    if (m_cryptMethod == CBCryptNone && split.isEmpty()) {
        task.stages << (QStringList { tar, z ? QStringLiteral("-czvvf") : QStringLiteral("-cvvf"), archive }
            + tarTail);
    } else {
        // The archive goes to the pipe, so tar lists to its unbuffered standard error, a write
        // per field; as an index file on the same descriptor the listing is a write per line.
        task.stages << (QStringList { tar, z ? QStringLiteral("-czvvf") : QStringLiteral("-cvvf"),
                            QStringLiteral("-"), QStringLiteral("--index-file=/dev/stderr") }
            + tarTail);
        if (m_cryptMethod != CBCryptNone) {
            QStringList ossl { QStringLiteral("/usr/bin/openssl"), cipher, QStringLiteral("-salt") };
            if (split.isEmpty())
                ossl << QStringLiteral("-out") << archive;
            task.stages << (ossl + opensslKeyOptions(m_cryptMethod));
        }
        if (!split.isEmpty())
            task.stages << split;
    }
    task.asRoot = m_useAdmin;
    m_iBackup->setFullSize(entries);
    m_iBackup->setWarnErrorsBeforeStartUtils(m_warnBits);
    if (!m_iBackup->startTar(task)) {
        if (m_iBackup->authorizationRefused()) {
            // Refused administrator rights stop the run; the project itself did not fail.
            discardBurnWorkFolder();
            sendRunText(tr("Terminated"), kStatusWindowLog);
            m_lastEndStatus = 0x4;
            m_iBackup->setInProcess(false, 0);
            return 0;
        }
        return failure(failedText);
    }
    running.release();
    return entries;
}

void CBackup::discardBurnWorkFolder()
{
    if (m_burnWorkFolder.isEmpty())
        return;
    FileOps::removeTree(NameCodec::encodeStd(m_burnWorkFolder));
    m_burnWorkFolder.clear();
}

CBArchivePath CBackup::discArchivePath(const QString& path) const
{
    CBArchivePath entry;
    entry.fileName = QFileInfo(path).fileName();
    entry.deviceType = getLocationDeviceType();
    const QString base = m_destPath.endsWith(QLatin1Char('/')) ? m_destPath : m_destPath + QLatin1Char('/');
    const QString folder = QFileInfo(path).path();
    if (!m_destPath.isEmpty() && QString(folder + QLatin1Char('/')).startsWith(base))
        entry.pathFromMountPoint = folder.mid(base.size());
    return entry;
}

void CBackup::workMessage(int code, const QString& text)
{
    QString format;
    switch (code) {
    case 1:
        format = tr("Destination volume \"%1\" is not active");
        break;
    case 2:
        format = tr("Destination folder \"%1\" is not found");
        break;
    default:
        format = tr("Destination folder has not been chosen");
        break;
    }
    sendRunText(format.contains(QLatin1String("%1")) ? format.arg(text) : format, 0x4021);
}

int CBackup::addArchNameWithCompletedBackup(const QString& path)
{
    if (path.isEmpty())
        return -1;
    CBArchivePath entry;
    entry.fileName = QFileInfo(path).fileName();
    entry.deviceType = getLocationDeviceType();
    ILocation where;
    if (where.setupWithPath(QFileInfo(path).path())) {
        entry.pathFromMountPoint = where.getPathFromMountPoint();
        entry.URLStr = where.getURLStr();
    }
    const int index = addArchPath(entry);
    m_iBackup->registerExternalChange(6);
    const QString prefix
        = archiveFileNameParse(entry.fileName).value(QStringLiteral("CBMethodPrefix")).toString();
    if (prefix == QLatin1String("full") && m_archives.size() >= 2) {
        const size_t before = m_archives.size();
        deleteOldFullArchives();
        return index - int(before - m_archives.size());
    }
    return index;
}

void CBackup::postBuildProcessing(const QString& archivePath, quint8 endStatus, bool discard)
{
    quint8 status = endStatus;
    const bool split = archivePath.endsWith(QLatin1Char('.'));
    QString produced;
    bool pastLast = false;
    if (split) {
        const QString base = archivePath.chopped(1);
        const quint32 n = getExistentArchiveFilesNumber(
            QFileInfo(base).fileName(), QFileInfo(base).path(), true, &pastLast);
        if (n > 0)
            produced = base + QStringLiteral(".cnt%1").arg(n);
    } else if (pathExists(archivePath, false)) {
        produced = archivePath;
    }
    // Files the job made as root go back to the user.
    if (!produced.isEmpty() && m_useAdmin)
        MainPreferences::setNormalOwnerToFiles(produced, true);
    if (!produced.isEmpty())
        m_iBackup->setResultSize(getSizeOfFiles(produced));
    if (pastLast) {
        // More volumes than the suffixes can name: the archive could never be restored.
        sendRunText(tr("The archive needs more volumes than can be named"), 0x4741);
        status |= 0x2;
    }
    // Any error, a stop, or nothing produced: the run failed; its files go, older archives stay.
    bool success = !discard && !produced.isEmpty() && !(status & (0x2 | 0x4 | 0x8));
    const bool disc = isLocationDeviceCDRWType() && !m_burnWorkFolder.isEmpty();
    bool burnFailed = false;
    CBArchivePath discEntry;
    if (success && disc) {
        // The disc entry names the archive below the work folder, which the burn may remove.
        discEntry = discArchivePath(produced);
        if (!m_containerBurns) {
            m_iBackup->setInProcess(true, 5);
            IShellServices& shell = IShellServices::shared();
            const bool burned = isLocationDeviceCDRW_TOAST_Type() ? shell.toastDisc(0) : shell.burnDisc(0);
            if (!burned) {
                status |= 0x8;
                success = false;
                burnFailed = true;
            }
        }
    }
    QString display = QFileInfo(produced.isEmpty() ? archivePath : produced).fileName();
    if (split && !produced.isEmpty())
        display = QFileInfo(splitVolumeBase(produced)).fileName() + QStringLiteral(".*");
    QString text;
    if (success) {
        m_treeChanged = true;
        setLastBuiltDate(Clock::current().now());
        const int index = disc ? addArchPath(discEntry) : addArchNameWithCompletedBackup(produced);
        if (disc)
            m_iBackup->registerExternalChange(6);
        if (index >= 0)
            addHistoryDataForBackupArchive(quint16(index));
        setLastBackupDateToItems(m_listWrittenAt.isValid() ? m_listWrittenAt : Clock::current().now());
        m_lastBuiltArchive = QFileInfo(produced).fileName();
        if (save()) {
            m_treeChanged = false;
            m_propertiesChanged = false;
        }
        text = (status == 0
                       ? tr("Building of backup archive \"%1\" has succeeded")
                       : tr("Building of backup archive \"%1\" has been completed with warnings or errors"))
                   .arg(display)
            + QLatin1Char('\n');
        if (disc && !m_containerBurns) {
            // Burned: the work folder has done its job.
            FileOps::removeTree(NameCodec::encodeStd(m_burnWorkFolder));
            m_burnWorkFolder.clear();
        }
    } else if (burnFailed) {
        // The archive never reached a disc: nothing is registered, and the archive stays in its
        // work folder for another try, named so the user finds it.
        text = tr("Building of backup archive \"%1\" has failed: it was not burned and is kept in \"%2\"")
                   .arg(display, m_burnWorkFolder)
            + QLatin1Char('\n');
        m_lastRunFailed = true;
        m_propertiesChanged = true;
        saveProperties();
    } else {
        if (!produced.isEmpty())
            deleteArcFiles(produced);
        else if (!split && pathExists(archivePath, true))
            ::unlink(NameCodec::encode(archivePath).constData());
        if (disc)
            discardBurnWorkFolder();
        text = tr("Building of backup archive \"%1\" has failed").arg(display) + QLatin1Char('\n');
        m_lastRunFailed = true;
        m_propertiesChanged = true;
        saveProperties();
        // After the save, whose "Ready" would otherwise be the last word of a stopped run.
        if (status & 0x4)
            sendRunText(tr("Terminated by user"), kStatusWindowLog);
    }
    m_lastEndStatus = success ? status : quint8(status | ((status & 0x4) ? 0 : 0x2));
    if (!(status & 0x4)) {
        m_iBackup->setIndicatorPosition(100, true);
        QVProcessEvents();
        if (success)
            m_iBackup->printAnalitics();
    }
    m_iBackup->setInProcess(false, 0);
    doAutoUnmount();
    if (!(status & 0x4))
        sendRunText(text, kStatusWindowLog);
}

int CBackup::restoreBegining(const QString& folder, const RestoreMembers& members, bool single)
{
    if (!m_iBackup)
        return 0;
    m_iBackup->setInProcess(true, 2);
    m_iBackup->setChainFailed(false);
    m_iBackup->clearUserStop();
    ++m_restoreRun;
    if (!m_lastBuiltDate.isValid() && m_archives.empty()) {
        m_iBackup->setInProcess(false, 2);
        return 0;
    }
    const int selected = m_selectedIndex;
    if (selected < 0 || selected >= int(m_archives.size())) {
        m_iBackup->setInProcess(false, 2);
        return 0;
    }
    const QString name = m_archives[size_t(selected)].fileName;
    const bool incremental = archiveFileNameParse(name).value(QStringLiteral("CBMethodPrefix")).toString()
        == QLatin1String("incr");
    int jobs = 0;
    bool setupFailed = false;
    if (!incremental || single) {
        const int r = restore(selected, folder, members, 0, 0, false);
        if (r > 0)
            jobs = 1;
        setupFailed = r < 0;
    } else {
        const int first = std::max(0, m_chainStart);
        for (int i = first; i <= selected; ++i) {
            const int r = restore(i, folder, members, i == selected ? 3 : 1, jobs, false);
            if (r > 0)
                ++jobs;
            else if (r < 0) {
                setupFailed = true;
                jobs = 0;
                break;
            }
        }
    }
    if (jobs > 0)
        m_iBackup->run();
    m_iBackup->setCurrentPassword(QString());
    // Started is whether a job runs or waits, not what the loop counted.
    if (!m_iBackup->isJobRunning() && m_iBackup->cmdVectorSize() == 0) {
        if (jobs == 0 && !setupFailed)
            sendRunText(tr("Nothing to restore from \"%1\"").arg(name), kStatusWindowLog);
        m_iBackup->setInProcess(false, 2);
        return 0;
    }
    return jobs;
}

int CBackup::restore(
    int index, const QString& folder, const RestoreMembers& members, quint8 attr, int jobIndex, bool start)
{
    if (!m_iBackup || index < 0 || index >= int(m_archives.size()))
        return 0;
    const CBArchivePath& entry = m_archives[size_t(index)];
    const QString name = entry.fileName;
    const bool longPath = archiveFileNameParse(name).value(QStringLiteral("longPath")).toBool();
    ++m_nTarRunning;
    auto failure = [this]() {
        sendRunText(tr("Failed to start restoration of backup \"%1\"...").arg(m_name), kStatusWindowLog);
        m_nTarRunning = std::max(0, m_nTarRunning - 1);
        return -1;
    };
    // The archives stay in the project folder at the destination.
    const QString archiveFolderPath = getAbsolutePathName(false, false);
    const QString archive = archiveFolderPath + QLatin1Char('/') + name;

    // Each "-C" of tar's argv is relative to the one before: the folders are absolute.
    const QString extractFolder
        = folder.isEmpty() ? QStringLiteral("/") : QFileInfo(folder).absoluteFilePath();
    // A restore folder that does not exist yet is made, as tar's "-C" would not.
    if (!folder.isEmpty() && !isDirectory(extractFolder)
        && !(QDir().mkpath(extractFolder) && isDirectory(extractFolder))) {
        sendRunText(tr("Failed to create folder \"%1\"").arg(folder), 0x4741);
        return failure();
    }
    // The chosen members this archive holds, in their groups. An archive of absolute names has
    // no folder of origin: its names land under the extract folder.
    RestoreMembers chosen;
    int count = 0;
    bool anyChosen = false;
    for (const RestoreMemberGroup& g : members) {
        const QString groupFolder = longPath ? QString() : g.folder;
        for (const QString& name : g.names) {
            if (name.isEmpty())
                continue;
            anyChosen = true;
            // In a chain, an archive gets only the chosen items it stored (the tree knows which).
            if (attr != 0) {
                const QString path = name.startsWith(QLatin1Char('/')) || g.folder.isEmpty()
                    ? name
                    : joinedPath(g.folder, name);
                const CBackupItem* known = findItemByPath(*this, path);
                if (known && !known->isInsertedInArchive(index))
                    continue;
            }
            ArchiveRestoreMembers::append(chosen, groupFolder, name);
            ++count;
        }
    }
    if (!anyChosen) {
        // An archive's job lists only what that archive stored (in a chain the later archives
        // bring the rest): items added to the tree since, even by a build that failed, would
        // each end in "Not found in archive". A tree that knows nothing of the archive (its
        // list was rebuilt from the folder) lists everything.
        bool known = false;
        for (int i = 0; i < this->count() && !known; ++i)
            known = itemAt(i)->isInsertedInArchive(index);
        count = collectItemsForRestore(chosen, true, folder.isEmpty(), index, known, longPath);
    }
    if (count <= 0) {
        // Chosen items of which this archive holds none leave nothing to extract from it, and
        // a tar list without members would extract the whole archive: skip this archive.
        m_nTarRunning = std::max(0, m_nTarRunning - 1);
        return 0;
    }
    // The folders of origin of an archive of relative names are made again where they are gone,
    // as the restore's own folder is.
    for (const RestoreMemberGroup& g : chosen) {
        if (!g.folder.isEmpty() && !isDirectory(g.folder)
            && !(QDir().mkpath(g.folder) && isDirectory(g.folder))) {
            sendRunText(tr("Failed to create folder \"%1\"").arg(g.folder), 0x4741);
            return failure();
        }
    }
    // One list per group, the names as NUL-terminated bytes: tar reads none of them as an
    // option or a folder change, and unquotes none.
    const std::string tmp = NameCodec::encodeStd(MainPreferences::shared().getTmpFolderPath());
    QStringList listPaths;
    for (const RestoreMemberGroup& g : chosen) {
        const QString listPath = NameCodec::decode(MainPreferences::tempName(tmp));
        if (listPath.isEmpty())
            return failure();
        addTmpFile(listPath);
        if (listPaths.isEmpty())
            setFilesFrom(listPath);
        const QByteArray bytes = ArchiveRestoreMembers::nullList(g.names);
        FILE* list = std::fopen(NameCodec::encode(listPath).constData(), "w");
        if (!list)
            return failure(); // never run an older list
        const bool written
            = std::fwrite(bytes.constData(), 1, size_t(bytes.size()), list) == size_t(bytes.size());
        const bool listOk = std::fclose(list) == 0 && written;
        if (!listOk)
            return failure();
        listPaths << listPath;
    }
    m_iBackup->setFullSize(count);

    const bool z = isFileCompressed(name);
    const quint32 method = getCryptMethodFromFileName(name);
    const QString extension = QFileInfo(name).suffix();
    const int volumes = extension.startsWith(QLatin1String("cnt")) ? extToSplittedArcCount(extension) : 0;
    QString catTool;
    if (volumes > 0) {
        // The volumes reach tar through the cat tool; without it no script could run.
        catTool = AppPaths::resourcePath(QStringLiteral("qv3_cat"));
        if (!QFileInfo(catTool).isExecutable()) {
            sendRunText(
                tr("The tool \"%1\" is missing: split archives cannot be restored").arg(catTool), 0x4741);
            return failure();
        }
    }
    QString password;
    if (method != CBCryptNone) {
        const QString current = m_iBackup->currentPassword();
        if (!current.isEmpty() && m_digest.correspondsToPassword(current)) {
            password = current;
        } else {
            password = m_iBackup->getRestorePasswordByUser();
            if (password.isEmpty())
                return failure();
            m_iBackup->setCurrentPassword(password);
        }
    }

    CBackupTaskDesc task;
    task.operation = CBackupTaskDesc::OpRestore;
    task.processAttr = attr;
    task.index = jobIndex;
    // Where the archive is looked for when the destination folder as it stands does not hold
    // it: the entry's own place for disc archives and for archives whose volume has a URL, the
    // project's destination otherwise (its archive folder below it).
    task.place = entry;
    const bool discEntry = entry.deviceType == ILocation::DeviceCD || entry.deviceType == ILocation::DeviceToast;
    if (!discEntry && entry.URLStr.isEmpty()) {
        task.place.URLStr = m_location->getURLStr();
        task.place.pathFromMountPoint = joinedPath(m_location->getPathFromMountPoint(), m_fileName);
        task.place.deviceType = m_location->getDeviceType();
    }
    task.archivePath = archive;
    task.password = password;
    task.extractFolder = extractFolder;
    for (const RestoreMemberGroup& g : chosen)
        task.memberFolders << (g.folder.isEmpty() ? extractFolder : g.folder);
    task.asRoot = m_useAdmin;
    task.backupSuffix = QStringLiteral(".~kvr%1.%2~").arg(m_restoreRun).arg(jobIndex);
    task.volumeCount = volumes;
    QStringList tarStage { tarToolPath(), z ? QStringLiteral("-xzvvf") : QStringLiteral("-xvvf") };
    tarStage << (method == CBCryptNone && volumes == 0 ? archive : QStringLiteral("-"));
    if (!anyChosen)
        tarStage << QStringLiteral("--no-recursion");
    tarStage << QStringLiteral("--no-wildcards") << QStringLiteral("--backup=simple")
             << (QStringLiteral("--suffix=") + task.backupSuffix)
             << ArchiveRestoreMembers::tarArguments(chosen, extractFolder, listPaths);
    if (volumes > 0) {
        // The cat tool writes the volumes one after the other; the archive path stays its first
        // argument, so the volume names are made from it.
        task.stages << QStringList { catTool, archive };
        if (method != CBCryptNone)
            task.stages << (QStringList { QStringLiteral("/usr/bin/openssl"),
                                encryptionMethodToStr(method, false), QStringLiteral("-d") }
                + opensslKeyOptions(method));
        task.stages << tarStage;
        task.archNameIndex = 1;
        task.tarStage = int(task.stages.size()) - 1;
        task.mainTaskIndex = task.tarStage;
    } else if (method == CBCryptNone) {
        task.stages << tarStage;
        task.archNameIndex = 2;
        task.tarStage = 0;
        task.mainTaskIndex = 0;
    } else {
        task.stages << (QStringList { QStringLiteral("/usr/bin/openssl"),
                            encryptionMethodToStr(method, false), QStringLiteral("-in"), archive,
                            QStringLiteral("-d") }
            + opensslKeyOptions(method));
        task.stages << tarStage;
        task.archNameIndex = 3;
        task.tarStage = 1;
        task.mainTaskIndex = 1;
    }
    m_folderForRestore = folder;
    m_selectedRestoreArchive = name;
    if (start) {
        if (!m_iBackup->startTar(task))
            return failure();
    } else {
        m_iBackup->prepareForTar(task);
    }
    return count;
}

bool CBackup::postRestoreProcessing(const CBackupTaskDesc& task)
{
    const quint8 status = task.endStatus;
    // Files tar moved aside before extracting over them: a failed or stopped job puts each back
    // over the partial file; a job that succeeded drops them.
    const bool failed = (status & (0x2 | 0x4)) != 0;
    // tar names them from the folder of their member group: the first folder holding the copy.
    const QStringList folders
        = task.memberFolders.isEmpty() ? QStringList { task.extractFolder } : task.memberFolders;
    for (const auto& [original, moved] : m_iBackup->renamedFiles()) {
        QString base;
        for (const QString& f : folders) {
            base = f.endsWith(QLatin1Char('/')) ? f : f + QLatin1Char('/');
            struct stat st
            {
            };
            if (::lstat(NameCodec::encode(base + moved).constData(), &st) == 0)
                break;
        }
        const QByteArray from = NameCodec::encode(base + moved);
        const QByteArray to = NameCodec::encode(base + original);
        if (failed)
            ::rename(from.constData(), to.constData());
        else
            ::unlink(from.constData());
    }
    if (failed)
        m_iBackup->setChainFailed(true);
    const QString shown = QFileInfo(task.archivePath).fileName();
    QString text;
    bool ok = true;
    const bool last = m_iBackup->cmdVectorSize() == 0 || m_iBackup->userStopped();
    const bool chainFailed = m_iBackup->chainFailed();
    if (status & 0x4) {
        text = tr("Terminated by user");
    } else if (status == 0 && !(last && chainFailed)) {
        text = tr("Restoration from archive \"%1\" has succeeded").arg(shown) + QLatin1Char('\n');
    } else if ((status & 0x1) && !(status & 0x2) && !(last && chainFailed)) {
        text = tr("Restoration from archive \"%1\" has been completed with warnings or errors...").arg(shown)
            + QLatin1Char('\n');
    } else {
        text = tr("Restoration from archive \"%1\" has failed").arg(shown) + QLatin1Char('\n');
        ok = false;
    }
    m_lastEndStatus = (status & 0x4) ? quint8(0x4) : (ok ? status : quint8(status | 0x2));
    sendRunText(text, kStatusWindowLog);
    if (last)
        m_iBackup->setInProcess(false, 2);
    return ok;
}

QString CBackup::restoreArchiveFile(const CBackupTaskDesc& task)
{
    // A split archive is there when its first volume is.
    if (task.volumeCount > 0)
        return splitVolumeBase(task.archivePath) + QLatin1Char('.')
            + MainPreferences::getMultivolumeArchiveExtensionByNumber(0, 3);
    return task.archivePath;
}

QString CBackup::mountedDiscFolder(const QString& pathFromMountPoint)
{
    // A disc in a drive: a removable volume that is mounted read-only.
    for (const QString& mountPoint : IDiskUtil::mountPointList(0x13)) {
        VMVolumeInfoRec info;
        if (!CVolumeMounter::getVolumeInfo(mountPoint, info))
            continue;
        if (info.removable && info.local && info.directAccess && !info.writable)
            return joinedPath(mountPoint, pathFromMountPoint);
    }
    return joinedPath(QStringLiteral("/"), pathFromMountPoint);
}

QString CBackup::archiveFolderFromPlace(const CBArchivePath& place)
{
    if (place.deviceType == ILocation::DeviceCD || place.deviceType == ILocation::DeviceToast)
        return mountedDiscFolder(place.pathFromMountPoint);
    if (place.URLStr.isEmpty())
        return QString();
    // The volume the archive was written to, mounted again when it is a share that is not.
    QStringList& unmountable = unmountableRestoreURLs();
    ILocation where;
    where.setURLStr(place.URLStr);
    where.setPathFromMountPoint(place.pathFromMountPoint);
    where.setDeviceType(place.deviceType);
    where.setAutomount(!unmountable.contains(place.URLStr));
    where.prepare();
    const QString folder = where.getFullPath();
    if (folder.isEmpty() && !unmountable.contains(place.URLStr)
        && place.deviceType == ILocation::DeviceNetworkVolume) {
        unmountable << place.URLStr;
        sendRunText(tr("The volume \"%1\" cannot be mounted").arg(where.displayName().isEmpty()
                                                                      ? place.URLStr
                                                                      : where.displayName()),
            0x4741);
    }
    return folder;
}

int CBackup::locateRestoreArchive(CBackupTaskDesc& task)
{
    const QString file = restoreArchiveFile(task);
    if (pathExists(file, true))
        return 0;
    // Not in the destination folder as it stands now: where the list says it was written (a
    // disc in the drive, a share mounted again), then the project's destination place (a share
    // the list knows only by the folder it was mounted at).
    QList<CBArchivePath> places { task.place };
    if (m_location->isNetwork() && !m_location->getURLStr().isEmpty()) {
        CBArchivePath destination = task.place;
        destination.URLStr = m_location->getURLStr();
        destination.pathFromMountPoint = joinedPath(m_location->getPathFromMountPoint(), m_fileName);
        destination.deviceType = m_location->getDeviceType();
        if (destination.URLStr != task.place.URLStr || destination.pathFromMountPoint != task.place.pathFromMountPoint)
            places << destination;
    }
    for (const CBArchivePath& place : places) {
        const QString placed = archiveFolderFromPlace(place);
        if (placed.isEmpty() || placed == QFileInfo(task.archivePath).path())
            continue;
        CBackupTaskDesc moved = task;
        moveRestoreArchive(moved, placed);
        if (QFileInfo::exists(restoreArchiveFile(moved))) {
            task = moved;
            return 0;
        }
    }
    const QString fileName = QFileInfo(file).fileName();
    UiPrompts::LocateFileRequest request;
    request.message = tr("File \"%1\" has not found.").arg(fileName);
    request.prompt = tr("Archive file \"%1\" not found, choose its location").arg(fileName);
    request.button = tr("Choose");
    request.startFolder = QFileInfo(file).path();
    request.fileName = fileName;
    request.canSkip = true;
    const UiPrompts::LocateFileAnswer answer = UiPrompts::shared().locateFile(request);
    if (answer.result == UiPrompts::LocateResult::Skipped)
        return 1;
    if (answer.result != UiPrompts::LocateResult::Chosen || answer.folder.isEmpty())
        return 2;
    // The archive lies elsewhere: its path changes in every stage that names it.
    moveRestoreArchive(task, answer.folder);
    task.altVolumeFolder = answer.folder;
    return 0;
}
