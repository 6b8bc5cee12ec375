#include "archive/CBackup.h"

#include "archive/IArchiveContainer.h"
#include "platform/MainThread.h"

#include "archive/CBackupItem.h"
#include "archive/IArchiveContainer.h"
#include "archive/IBackup.h"
#include "archive/ICoordinator.h"
#include "platform/AppPaths.h"
#include "platform/Clock.h"
#include "platform/MainThread.h"
#include "platform/NameCodec.h"
#include "platform/NameSanitizer.h"
#include "platform/PlistBridge.h"
#include "projects/ILocation.h"
#include "projects/ProjectColor.h"
#include "utilities/IPathUtil.h"
#include "utilities/IShellServices.h"
#include "utilities/IVolumeBase.h"
#include "utilities/MainPreferences.h"
#include "utilities/ProjectKeychain.h"
#include "utilities/UiPrompts.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

int CBackup::m_nTarRunning = 0;
int CBackup::m_nSortOrder = 0;

namespace {

bool differsIgnoringCase(const QString& a, const QString& b)
{
    if (a.isNull() || b.isNull())
        return true;
    return a.compare(b, Qt::CaseInsensitive) != 0;
}

bool pathExists(const QString& path)
{
    struct stat st
    {
    };
    return !path.isEmpty() && ::lstat(NameCodec::encode(path).constData(), &st) == 0;
}

} // namespace

TreeWalk::TreeWalk(CBackup* project)
    : m_project(project)
{
    if (m_project)
        ++m_project->m_walkDepth;
}

TreeWalk::~TreeWalk()
{
    if (m_project)
        --m_project->m_walkDepth;
}

CBackup::CBackup(const QString& name)
    : m_name(name)
    , m_location(ILocation::create())
    , m_color(ProjectColor::defaultColor())
    , m_iBackup(std::make_unique<IBackup>(this))
{
    m_UUID = generateUUID();
    m_name = QString();
    setName(name);
    m_propertiesChanged = true;
}

CBackup::~CBackup()
{
    deleteTmpFiles();
    removeAllItems();
    m_archives.clear();
    if (m_iBackup)
        m_iBackup->setBackup(nullptr);
}

QString CBackup::generateUUID()
{
    return IPathUtil::generateUUID();
}

void CBackup::createUUID()
{
    if (m_UUID.isEmpty()) {
        m_UUID = generateUUID();
        m_propertiesChanged = true;
    }
}

void CBackup::setInProcess(bool inProcess, int operation)
{
    m_iBackup->setInProcess(inProcess, operation);
}
bool CBackup::isInProcess() const
{
    return m_iBackup->isInProcess();
}
int CBackup::currentOperation() const
{
    return m_iBackup->currentOperation();
}

bool CBackup::isTreeBusy() const
{
    return m_walkDepth > 0 || (isInProcess() && currentOperation() == 3);
}

QString CBackup::treeBusyText()
{
    return QCoreApplication::translate("Localizable", "The project is busy. Try again when it has finished.");
}

bool CBackup::editTree(const std::function<void()>& edit)
{
    if (isTreeBusy()) {
        UiPrompts::Alert alert;
        alert.style = UiPrompts::AlertStyle::Warning;
        alert.title = treeBusyText();
        alert.buttons << QCoreApplication::translate("Localizable", "OK");
        UiPrompts::shared().showAlert(alert);
        return false;
    }
    edit();
    return true;
}

void CBackup::setName(const QString& name)
{
    if (differsIgnoringCase(m_name, name))
        m_propertiesChanged = true;
    m_name = name;
    if (m_fileName.isNull() && !name.isEmpty()) {
        // The file name is made once; it becomes a path component, so it passes the sanitiser.
        bool refused = false;
        QString safe = NameSanitizer::sanitize(name, &refused);
        if (refused || safe.isEmpty())
            safe = QStringLiteral("_");
        m_fileName = QStringLiteral("%1_%2").arg(safe, m_UUID);
    }
}

void CBackup::setDisplayName(const QString& name)
{
    if (differsIgnoringCase(m_name, name))
        m_propertiesChanged = true;
    m_name = name;
}

void CBackup::setFileName(const QString& name)
{
    if (differsIgnoringCase(m_fileName, name))
        m_propertiesChanged = true;
    m_fileName = name;
}

void CBackup::setSelectedArchive(const QString& name)
{
    if (differsIgnoringCase(m_selectedArchive, name))
        m_propertiesChanged = true;
    m_selectedArchive = name;
}

void CBackup::setExcludePattern(const QString& pattern)
{
    if (differsIgnoringCase(m_excludePattern, pattern))
        m_propertiesChanged = true;
    m_excludePattern = pattern;
}

void CBackup::setColor(const QColor& color)
{
    if (color != m_color) {
        m_propertiesChanged = true;
        m_colorBlob.clear(); // a changed colour is written in our own form
    }
    m_color = color;
}

void CBackup::setLastBuiltDate(const QDateTime& date)
{
    if (!date.isValid() || !m_lastBuiltDate.isValid() || date != m_lastBuiltDate)
        m_propertiesChanged = true;
    m_lastBuiltDate = date;
}

void CBackup::setPasswordDigest(const IPasswordMD5& digest)
{
    if (digest.data() != m_digest.data())
        m_propertiesChanged = true;
    m_digest = digest;
}

void CBackup::setBackupMethod(quint32 method)
{
    if (method != m_backupMethod) {
        resetLocationInBackup();
        m_propertiesChanged = true;
    }
    m_backupMethod = method;
}

void CBackup::setLocation(const ILocation& location, bool copyPath)
{
    const QString oldPath = m_location->getPathFromMountPoint();
    const QString oldURL = m_location->getURLStr();
    m_location->fillFromLocation(location, copyPath, false);
    if (location.getDeviceType() != -1
        && (oldPath != m_location->getPathFromMountPoint() || oldURL != m_location->getURLStr()))
        resetLocationInBackup();
}

int CBackup::getLocationDeviceType() const
{
    return m_location->getDeviceType();
}
bool CBackup::isLocationDeviceCDRWType() const
{
    const int t = getLocationDeviceType();
    return t == ILocation::DeviceCD || t == ILocation::DeviceToast;
}
bool CBackup::isLocationDeviceCDRW_TOAST_Type() const
{
    return getLocationDeviceType() == ILocation::DeviceToast;
}

QString CBackup::getDestPath() const
{
    if (isLocationDeviceCDRWType())
        return m_destPath;
    return m_location->getFullPath();
}

QString CBackup::getAbsolutePathName(bool create, bool asAdmin) const
{
    const QString dest = getDestPath();
    if (dest.isEmpty() || m_fileName.isEmpty())
        return QString();
    const QString folder = dest.endsWith(QLatin1Char('/')) ? QString(dest + m_fileName)
                                                           : QString(dest + QLatin1Char('/') + m_fileName);
    if (create && !pathExists(folder)) {
        const int first = getLocationDeviceType() == ILocation::DeviceUSB
                && (folder.startsWith(QLatin1String("/media/"))
                    || folder.startsWith(QLatin1String("/run/media/"))
                    || folder.startsWith(QLatin1String("/mnt/")))
            ? 3
            : 0;
        MainPreferences::createPathFolders(folder, asAdmin && m_useAdmin, first);
    }
    return folder;
}

QString CBackup::archiveFolder() const
{
    const QString dest = m_destPath.isNull() ? QStringLiteral("") : m_destPath;
    if (m_fileName.isEmpty())
        return QString();
    return dest.endsWith(QLatin1Char('/')) ? QString(dest + m_fileName)
                                           : QString(dest + QLatin1Char('/') + m_fileName);
}

bool CBackup::prepareDestLocation(bool scheduled)
{
    const int t = getLocationDeviceType();
    if (t != ILocation::DeviceUSB && t != ILocation::DeviceNetworkVolume)
        return true;
    if (m_location->prepare())
        return true;
    if (!scheduled) {
        UiPrompts::Alert alert;
        alert.style = UiPrompts::AlertStyle::Critical;
        alert.title = QCoreApplication::translate("Localizable", "Volume \"%1\" has not mounted")
                          .arg(m_location->getDisplayName());
        alert.text
            = QCoreApplication::translate("Localizable", "Please, mount the volume/device before continue");
        alert.buttons << QCoreApplication::translate("Localizable", "Cancel");
        UiPrompts::shared().showAlert(alert);
    }
    return false;
}

bool CBackup::isNeedToProcessOnMount(const QString& mountedPath)
{
    IVolumeBase::shared().syncLocation(m_location.get());
    if (m_location->getMountPoint().isEmpty())
        return false;
    if (!m_startOnMount || (m_useSchedule && !m_lastRunFailed))
        return false;
    std::unique_ptr<ILocation> mounted(ILocation::create());
    if (!mounted->setupWithPath(mountedPath))
        return false;
    return !mounted->getVolumeUUID().isEmpty() && mounted->getVolumeUUID() == m_location->getVolumeUUID();
}

// ---- temporary files ----

void CBackup::addTmpFile(const QString& path)
{
    if (path.isEmpty())
        return;
    for (const TmpFile& t : m_tmpFiles)
        if (t.path == path)
            return;
    // The lists are made by this process in its private temporary folder: they are ours.
    m_tmpFiles.push_back({ path, true });
}

QStringList CBackup::tmpFiles() const
{
    QStringList list;
    for (const TmpFile& t : m_tmpFiles)
        list << t.path;
    return list;
}

void CBackup::setFilesFrom(const QString& path)
{
    m_filesFrom = path;
    addTmpFile(path);
}

void CBackup::setExcludeFrom(const QString& path)
{
    m_excludeFrom = path;
    addTmpFile(path);
}

void CBackup::setRsrcForkFolder(const QString& path)
{
    // The resource-fork folder may be one the user already had: it is listed, never made here.
    m_rsrcForkFolder = path;
    if (path.isEmpty())
        return;
    for (const TmpFile& t : m_tmpFiles)
        if (t.path == path)
            return;
    m_tmpFiles.push_back({ path, !pathExists(path) });
}

void CBackup::deleteTmpFiles()
{
    if (m_tmpFiles.empty())
        return;
    m_filesFrom.clear();
    m_excludeFrom.clear();
    m_rsrcForkFolder.clear();
    const bool keep = AppPaths::infoPlistValue(QStringLiteral("g_TmpNotClear")).toBool();
    if (!keep) {
        for (const TmpFile& t : m_tmpFiles) {
            struct stat st
            {
            };
            const QByteArray p = NameCodec::encode(t.path);
            if (t.createdHere && ::lstat(p.constData(), &st) == 0 && !S_ISDIR(st.st_mode))
                ::unlink(p.constData());
        }
    }
    m_tmpFiles.clear();
}

// ---- items ----

CBackupItem* CBackup::addItemFromDisk(const QString& path, quint32 flags)
{
    CBackupItem* item = insertNewItem(path, nullptr);
    if (!item)
        return nullptr;
    if (flags)
        item->setFlags(flags);
    item->refreshFromDisk(this, false, false, false);
    item->setInListForBackup(false);
    item->openHistoryAtIndex(getNextArchiveIndex());
    m_treeChanged = true;
    m_iBackup->registerExternalChange(5);
    return item;
}

int CBackup::collectExcludedItemsToStream(FILE* file, bool incremental, bool recurse)
{
    int lines = 0;
    if (file && std::fputs("/private/tmp\n", file) >= 0)
        ++lines;
    TreeWalk walk(this);
    return lines + CBackupItemsContainer::collectExcludedItemsToStream(file, incremental, recurse);
}

void CBackup::refreshFromDisk(CBackup* project, bool addSubItems, bool skipExcluded, bool resetLocated)
{
    TreeWalk walk(this);
    const int topLevel = count();
    CBackupItemsContainer::refreshFromDisk(project ? project : this, addSubItems, skipExcluded, resetLocated);
    if (count() != topLevel)
        m_treeChanged = true;
}

void CBackup::clearLastBackupDate()
{
    CBackupItemsContainer::clearLastBackupDate();
    m_lastBuiltDate = QDateTime();
}

void CBackup::countLoadProgress()
{
    ++m_progressCounter;
    const QString format = m_iBackup->progressFormat();
    if (format.isEmpty())
        return;
    const qint64 now = Clock::current().monotonicMs();
    if (now - m_lastProgressMs < 31 * 1000 / 60)
        return;
    m_lastProgressMs = now;
    m_iBackup->processMessage(format.arg(m_progressCounter), 16417, m_iBackup.get());
    m_iBackup->setIndicatorPosition(1.0, true);
}

// ---- duplication ----

CBackup* CBackup::duplicateProject()
{
    ICoordinator& coordinator = ICoordinator::shared();
    const QString base = m_name + QStringLiteral("-copy");
    QString name = base;
    for (long i = 1; !coordinator.isUniqueName(name, nullptr); ++i)
        name = QStringLiteral("%1%2").arg(base).arg(i);
    CBackup* copy = IArchiveContainer::shared().addNewBackup(name);
    if (!copy)
        return nullptr;
    copy->m_UUID = generateUUID();
    copy->m_fileName = QString();
    copy->setName(name);
    copy->setUseAdminPrivileges(m_useAdmin);
    copy->setColor(m_color);
    std::unique_ptr<ILocation> location(ILocation::createCopy(*m_location));
    copy->m_location.reset(location.release());
    copy->m_destPath = m_destPath;
    copy->m_destDeviceName = m_destDeviceName;
    copy->m_destDeviceType = m_destDeviceType;
    copy->setUseCompression(m_useCompression);
    copy->setBackupMethod(m_backupMethod);
    copy->setCryptMethod(m_cryptMethod);
    copy->setPasswordDigest(m_digest);
    copy->setBackupSizeLimit(m_backupSizeLimit);
    copy->setFilterFlags(m_filterFlags & 0x1F);
    copy->setExcludePattern(m_excludePattern);
    if (m_useSchedule) {
        copy->setScheduleIntervalType(m_schedIntervalType);
        copy->setScheduleIntervalMinutes(m_schedMinutes);
        copy->setScheduleHour(m_schedHH);
        copy->setScheduleMinute(m_schedMM);
        copy->setScheduleWeekDays(m_schedWeekDays);
        copy->setScheduleMonthDay(m_schedMonthDay);
    }
    if (copy->m_passwordInKeychain != m_passwordInKeychain && !m_passwordInKeychain)
        ProjectKeychain::remove(copy->m_name, copy->m_UUID);
    copy->setPasswordInKeychain(m_passwordInKeychain);
    copy->m_iBackup->setExcludePathList(m_iBackup->excludePathList());
    for (const auto& item : m_items) {
        if (item->isInListForBackup())
            continue;
        const QString path = item->getAbsolutePath();
        if (!pathExists(path)) {
            IShellServices::shared().sendTextInfo(
                QCoreApplication::translate("Localizable", "File Adding Error: file <%1> was not found.")
                    .arg(path),
                1, 4, nullptr);
            continue;
        }
        copy->addItemFromDisk(path, item->flags());
    }
    coordinator.fullReloadBackupData();
    copy->save();
    return copy;
}

// ---- comparisons ----

bool CBackup::operator==(const CBackup& o) const
{
    return !m_name.isNull() && !o.m_name.isNull() && m_name.compare(o.m_name, Qt::CaseInsensitive) == 0;
}
bool CBackup::operator!=(const CBackup& o) const
{
    return !(*this == o);
}
bool CBackup::operator<(const CBackup& o) const
{
    return !m_name.isNull() && !o.m_name.isNull() && m_name.compare(o.m_name, Qt::CaseInsensitive) < 0;
}
bool CBackup::operator>(const CBackup& o) const
{
    return !m_name.isNull() && !o.m_name.isNull() && m_name.compare(o.m_name, Qt::CaseInsensitive) > 0;
}
bool CBackup::lessFunc(const CBackup* a, const CBackup* b)
{
    return m_nSortOrder == 1 ? *b < *a : *a < *b;
}

void CBackup::stopTar(bool deleteTmp, bool stopEngine, const QString& archivePath, int operation,
    quint8 endStatus, bool discard)
{
    if (stopEngine && m_iBackup)
        m_iBackup->stopTar();
    if (!m_folderForRestore.isEmpty())
        IPathUtil::fixOwnerForDirectory(m_folderForRestore);
    m_nTarRunning = std::max(0, m_nTarRunning - 1);
    if (archivePath.isEmpty()) {
        if (deleteTmp)
            deleteTmpFiles();
        return;
    }
    bool removeTmp = deleteTmp;
    if (operation == CBackupTaskDesc::OpBuild) {
        postBuildProcessing(archivePath, endStatus, discard);
        removeTmp = true;
    } else if (operation == CBackupTaskDesc::OpRestore) {
        removeTmp = postRestoreProcessing(m_iBackup->finishedTask()) && deleteTmp;
    }
    // The archive queue goes on with its next project once this end has unwound.
    if (m_nTarRunning == 0 && (!m_iBackup || m_iBackup->cmdVectorSize() == 0))
        runOnMain([] { IArchiveContainer::shared().processNext(); });
    if (removeTmp)
        deleteTmpFiles();
}

// ---- dictionary form ----

void CBackup::saveToDict(QVariantMap& dict) const
{
    if (!m_name.isNull())
        dict.insert(QStringLiteral("Name"), m_name);
    QVariantMap options;
    options.insert(QStringLiteral("BackupMethod"), int(m_backupMethod));
    options.insert(QStringLiteral("UseCompression"), m_useCompression);
    options.insert(QStringLiteral("BackupSizeLimit"), quint64(m_backupSizeLimit));
    dict.insert(QStringLiteral("Options"), options);
    QVariantMap filters;
    filters.insert(QStringLiteral("ExcludeInvisible"), bool(m_filterFlags & 0x1));
    filters.insert(QStringLiteral("ExcludeFinderData"), bool(m_filterFlags & 0x2));
    filters.insert(QStringLiteral("ExcludeApplications"), bool(m_filterFlags & 0x4));
    filters.insert(QStringLiteral("ExcludeAliases"), bool(m_filterFlags & 0x8));
    filters.insert(QStringLiteral("ExcludeByPattern"), bool(m_filterFlags & 0x10));
    if (!m_excludePattern.isNull())
        filters.insert(QStringLiteral("ExcludePattern"), m_excludePattern);
    dict.insert(QStringLiteral("Filters"), filters);
    QVariantMap schedule;
    schedule.insert(QStringLiteral("UseScheduled"), m_useSchedule);
    schedule.insert(QStringLiteral("ScheduleIntervalType"), int(m_schedIntervalType));
    schedule.insert(QStringLiteral("TimeHH"), int(m_schedHH));
    schedule.insert(QStringLiteral("TimeMM"), int(m_schedMM));
    schedule.insert(QStringLiteral("WeekDay"), int(m_schedWeekDays));
    schedule.insert(QStringLiteral("MonthDay"), int(m_schedMonthDay));
    dict.insert(QStringLiteral("Schedule"), schedule);
    if (m_lastBuiltDate.isValid())
        dict.insert(QStringLiteral("LastBuiltDate"), m_lastBuiltDate);
    if (!m_selectedArchive.isNull())
        dict.insert(QStringLiteral("SelectedArchive"), m_selectedArchive);
    if (!m_archives.empty()) {
        QVariantMap names;
        for (size_t i = 0; i < m_archives.size(); ++i)
            names.insert(QStringLiteral("FN%1").arg(i), m_archives[i].fileName);
        dict.insert(QStringLiteral("ArchiveNames"), names);
    }
    CBackupItemsContainer::saveToDict(dict);
}

namespace {

bool isYes(const QVariant& v)
{
    return PlistValue::isNumber(v) || v.typeId() == QMetaType::Bool ? v.toDouble() == 1.0 : false;
}

} // namespace

void CBackup::loadFromDict(const QVariantMap& dict)
{
    const auto str
        = [&](const QVariantMap& m, const char* key, const std::function<void(const QString&)>& set) {
              const QVariant v = m.value(QLatin1String(key));
              if (v.typeId() == QMetaType::QString)
                  set(v.toString());
          };
    str(dict, "Name", [this](const QString& s) { setName(s); });
    const QVariantMap location = PlistValue::dict(dict, QStringLiteral("BackupLocation"));
    str(location, "Folder", [this](const QString& s) { setDestPath(s); });

    const QVariantMap options = PlistValue::dict(dict, QStringLiteral("Options"));
    if (PlistValue::isNumber(options.value(QStringLiteral("BackupMethod"))))
        setBackupMethod(quint32(options.value(QStringLiteral("BackupMethod")).toInt()));
    const QVariant compression = options.value(QStringLiteral("UseCompression"));
    if (PlistValue::isNumber(compression) || compression.typeId() == QMetaType::Bool)
        setUseCompression(isYes(compression)); // a stored 2 is not YES: compression off
    if (PlistValue::isNumber(options.value(QStringLiteral("BackupSizeLimit"))))
        setBackupSizeLimit(options.value(QStringLiteral("BackupSizeLimit")).toULongLong());

    const QVariantMap filters = PlistValue::dict(dict, QStringLiteral("Filters"));
    const char* filterKeys[] = { "ExcludeInvisible", "ExcludeFinderData", "ExcludeApplications",
        "ExcludeAliases", "ExcludeByPattern" };
    quint32 flags = m_filterFlags;
    for (int bit = 0; bit < 5; ++bit) {
        const QVariant v = filters.value(QLatin1String(filterKeys[bit]));
        if (PlistValue::isNumber(v) || v.typeId() == QMetaType::Bool)
            flags = isYes(v) ? (flags | (1u << bit)) : (flags & ~(1u << bit));
    }
    setFilterFlags(flags);
    str(filters, "ExcludePattern", [this](const QString& s) { setExcludePattern(s); });

    const QVariantMap schedule = PlistValue::dict(dict, QStringLiteral("Schedule"));
    const QVariant use = schedule.value(QStringLiteral("UseScheduled"));
    if (PlistValue::isNumber(use) || use.typeId() == QMetaType::Bool)
        setUseSchedule(isYes(use));
    const auto num16 = [&](const char* key, const std::function<void(quint16)>& set) {
        const QVariant v = schedule.value(QLatin1String(key));
        if (PlistValue::isNumber(v))
            set(quint16(v.toInt()));
    };
    if (PlistValue::isNumber(schedule.value(QStringLiteral("ScheduleIntervalType"))))
        setScheduleIntervalType(quint32(schedule.value(QStringLiteral("ScheduleIntervalType")).toInt()));
    num16("TimeHH", [this](quint16 v) { setScheduleHour(v); });
    num16("TimeMM", [this](quint16 v) { setScheduleMinute(v); });
    num16("WeekDay", [this](quint16 v) { setScheduleWeekDays(v); });
    num16("MonthDay", [this](quint16 v) { setScheduleMonthDay(v); });

    if (dict.value(QStringLiteral("LastBuiltDate")).typeId() == QMetaType::QDateTime)
        setLastBuiltDate(dict.value(QStringLiteral("LastBuiltDate")).toDateTime());
    str(dict, "SelectedArchive", [this](const QString& s) { setSelectedArchive(s); });

    // Archive names in the order of their numbers (FN10 after FN9), appended only: loading
    // never deletes an archive.
    const QVariantMap names = PlistValue::dict(dict, QStringLiteral("ArchiveNames"));
    std::vector<std::pair<qint64, QString>> ordered;
    for (auto it = names.cbegin(); it != names.cend(); ++it) {
        if (it.value().typeId() != QMetaType::QString || !it.key().startsWith(QLatin1String("FN")))
            continue;
        bool ok = false;
        const qint64 n = it.key().mid(2).toLongLong(&ok);
        if (ok)
            ordered.emplace_back(n, it.value().toString());
    }
    std::sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [n, name] : ordered)
        addArchNameLoading(name);

    CBackupItemsContainer::loadFromDict(dict);
}
