#include "snapshot/IBackup3.h"

#include "platform/Clock.h"
#include "projects/ILocation.h"
#include "projects/ProjectColor.h"
#include "projects/ScheduleDates.h"
#include "snapshot/B3Places.h"
#include "snapshot/IBackup3Container.h"
#include "snapshot/IBackup3Controller.h"
#include "utilities/CommonFunctions.h"
#include "utilities/IShellServices.h"
#include "utilities/LogOptions.h"

#include <QCoreApplication>
#include <QFile>

IBackup3::IBackup3()
    : m_name(defaultName())
    , m_color(ProjectColor::defaultColor())
{ }

IBackup3::~IBackup3()
{
    removeExcludesTmpFileNameCustom(true, true);
}

QString IBackup3::defaultName()
{
    return QCoreApplication::translate("Localizable", "New backup3 project");
}

// ---- Setters that mark the project modified ----------------------------------------------------

void IBackup3::setName(const QString& name)
{
    setMarked(m_name, name);
}

void IBackup3::setFileName(const QString& fileName)
{
    setMarked(m_fileName, fileName);
}

void IBackup3::setProjectBackupFolder(const QString& folder)
{
    if (m_projectBackupFolder == folder && m_projectBackupFolder.isNull() == folder.isNull())
        return;
    m_projectBackupFolder = folder;
    m_bModified = true;
}

void IBackup3::setColor(const QColor& color)
{
    if (m_color == color)
        return;
    m_color = color;
    m_colorData.clear();
    m_bModified = true;
}

void IBackup3::setBackup3Type(int type)
{
    setMarked(m_backup3Type, type);
}

void IBackup3::setDestLocation(std::shared_ptr<ILocation> location)
{
    if (m_destLocation != location) {
        m_destLocation = std::move(location);
        m_bModified = true;
    }
    tellContainer(ChangeDestination);
}

void IBackup3::setSrcLocations(const QList<std::shared_ptr<ILocation>>& locations)
{
    m_srcLocations = locations;
}

ILocation* IBackup3::sourceLocationForPass(long pass) const
{
    if (pass < 0 || pass >= m_srcLocations.size())
        return nullptr;
    return m_srcLocations.at(pass).get();
}

ILocation* IBackup3::destLocationForPass(long) const
{
    return m_destLocation.get();
}

bool IBackup3::deleteSrcLocationByIndex(long index)
{
    if (index < 0 || index >= m_srcLocations.size())
        return false;
    m_srcLocations.removeAt(index);
    return true;
}

void IBackup3::setOptions(quint64 options)
{
    setMarked(m_options, options);
}

void IBackup3::setExcludePattern(const QString& pattern)
{
    setMarked(m_nsExcludePattern, pattern);
}

void IBackup3::setIncludePattern(const QString& pattern)
{
    setMarked(m_nsIncludePattern, pattern);
}

void IBackup3::setScheduled(bool flag)
{
    setMarked(m_bScheduled, flag);
}

void IBackup3::setScheduleIntervalType(int type)
{
    setMarked(m_ScheduleIntervalType, type);
}

void IBackup3::setScheduleTimeHH(qint16 hh)
{
    setMarked(m_nScheduleTimeHH, hh);
}

void IBackup3::setScheduleTimeMM(qint16 mm)
{
    setMarked(m_nScheduleTimeMM, mm);
}

void IBackup3::setScheduleTimeHHMM(qint16 hh, qint16 mm)
{
    setScheduleTimeHH(hh);
    setScheduleTimeMM(mm);
}

void IBackup3::setScheduleTimeInterval(qint16 minutes)
{
    setMarked(m_nScheduleTimeInterval, minutes);
}

void IBackup3::setScheduleWeekDay(qint16 mask)
{
    setMarked(m_nScheduleWeekDay, mask);
}

void IBackup3::setScheduleMonthDay(qint16 day)
{
    setMarked(m_nScheduleMonthDay, day);
}

void IBackup3::setNextProcessDate(const QDateTime& date)
{
    setMarked(m_nextProcessDate, date);
}

void IBackup3::setLastProcessDate(const QDateTime& date)
{
    setMarked(m_lastProcessDate, date);
}

void IBackup3::setLastProcessFolder(const QString& folder)
{
    setMarked(m_lastProcessFolder, folder);
}

void IBackup3::clearLastProcessData()
{
    setLastProcessFolder(QString());
    setLastProcessDate(QDateTime());
}

void IBackup3::setBackupTargetType(int type)
{
    setMarked(m_backupTargetType, type);
}

void IBackup3::setBDIPasswordInKeychain(bool flag)
{
    setMarked(m_BDIPasswordInKeychain, flag);
}

void IBackup3::setBDILastWorkingState(int code, double data)
{
    if (m_BDILastWorkingState.code == code && m_BDILastWorkingState.data == data)
        return;
    if (code == 8) {
        // code 8 carries the new custom maximum size and leaves the state as it was
        m_DIMaxSizeCustomValue = data;
    } else {
        m_BDILastWorkingState = BDIWorkingState { code, data };
    }
    m_bModified = true;
}

QDateTime IBackup3::computeNextProcessDate(const QDateTime& now) const
{
    return nextProcessDate(now, CBSchedIntervalType(m_ScheduleIntervalType), unsigned(m_nScheduleMonthDay),
        m_nScheduleWeekDay, unsigned(m_nScheduleTimeHH), unsigned(m_nScheduleTimeMM),
        unsigned(m_nScheduleTimeInterval));
}

void IBackup3::setToDefault()
{
    m_options = 0;
    m_exclude = 0;
    m_nsExcludePattern.clear();
    m_bScheduled = false;
    m_ScheduleIntervalType = 2;
    m_nScheduleTimeHH = 18;
    m_nScheduleTimeMM = 30;
    m_nScheduleTimeInterval = 240;
    m_nScheduleWeekDay = 31;
    m_nScheduleMonthDay = 1;
    m_processOnMount = false;
    m_color = ProjectColor::defaultColor();
    m_colorData.clear();
    m_nextProcessDate = QDateTime();
    m_lastProcessFailed = false;
    m_lastProcessDate = QDateTime();
    m_lastProcessFolder = QString();
    m_lastSelectedPath = QString();
    m_tagForLocations = 1;
    m_backupTargetType = 0;
    m_BDIPasswordInKeychain = false;
    m_BDILastWorkingState = BDIWorkingState();
    m_DIMaxSizeType = 0;
    m_DIMaxSizeCustomValue = 0.0;
    m_originalBDILocation.reset();
    removeExcludesTmpFileNameCustom(true, true);
    m_BDIDict.clear();
    setDestLocation(nullptr);
    m_bModified = true;
}

// ---- Exclusion list ----------------------------------------------------------------------------

QString IBackup3::excludePathAtIndex(qsizetype i) const
{
    if (!m_excludePathList || i < 0 || i >= m_excludePathList->size())
        return QString();
    return m_excludePathList->at(i);
}

void IBackup3::addPathToExcludePathList(const QString& path)
{
    if (path.isEmpty())
        return;
    if (!m_excludePathList)
        m_excludePathList = QStringList();
    if (m_excludePathList->contains(path))
        return;
    m_excludePathList->append(path);
    m_bModified = true;
}

bool IBackup3::isPathInExcludePathList(const QString& path) const
{
    return m_excludePathList && m_excludePathList->contains(path);
}

bool IBackup3::isPathChildInExcludePathList(const QString& path) const
{
    if (!m_excludePathList)
        return false;
    const QString prefix = path + QLatin1Char('/');
    for (const QString& entry : *m_excludePathList)
        if (entry.startsWith(prefix))
            return true;
    return false;
}

void IBackup3::removePathFromExcludePathList(const QString& path)
{
    if (m_excludePathList && m_excludePathList->removeOne(path))
        m_bModified = true;
}

void IBackup3::removePathesFromExcludePathListWithPrefix(const QString& prefix)
{
    if (!m_excludePathList)
        return;
    for (qsizetype i = 0; i < m_excludePathList->size(); ++i) {
        if (m_excludePathList->at(i).startsWith(prefix)) {
            m_excludePathList->removeAt(i);
            m_bModified = true;
            return;
        }
    }
}

void IBackup3::cleanEaxcludePathList()
{
    if (!m_excludePathList)
        m_excludePathList = QStringList();
}

// ---- Restore request ---------------------------------------------------------------------------

bool IBackup3::isNotUniqueRestoreFirstFolder(const QString& name) const
{
    return B3Places::isNotUniqueRestoreFirstFolder(m_restoreData, name);
}

QString IBackup3::restoreSrcFolderPathForPass(long pass) const
{
    if (pass < 0 || pass >= m_restoreData.size())
        return QString();
    const B3RestoreItem& item = m_restoreData.at(pass);
    if (!item.SrcLocation || item.ArchivePath.isNull())
        return QString();
    return item.ArchivePath;
}

// ---- Run state ---------------------------------------------------------------------------------

void IBackup3::tellContainer(int change)
{
    m_lastStateChange = change;
    if (IBackup3Container* container = backup3Container())
        container->eventChangedProjectStatus(this);
}

void IBackup3::collectIndicator()
{
    IShellServices::shared().DIIProcessIndicatorPositionCollect(this);
}

void IBackup3::setInState(int code)
{
    const int previous = m_currentOperation;
    m_currentOperation = code;
    m_inProcess = code != 0;
    if (previous == code)
        return;
    m_buttonState = 2;
    if (code == 0) {
        m_buttonState = 1;
        setIndicatorPositionInZero();
    }
    tellContainer(ChangeOperation);
    tellContainer(ChangeButton);
    collectIndicator();
}

void IBackup3::setInProcess(bool inProcess, int operation)
{
    const bool previousFlag = m_inProcess;
    const int previous = m_currentOperation;
    m_currentOperation = operation;
    m_inProcess = inProcess;
    if (previousFlag == inProcess && previous == operation)
        return;
    m_buttonState = 2;
    if (!inProcess) {
        m_indicatorPosition = 0;
        mainButtonState();
    }
    tellContainer(ChangeOperation);
    if (isCurrent())
        tellContainer(ChangeButton);
}

int IBackup3::mainButtonState() const
{
    if (m_buttonState == 2 && isInProcess())
        return 2;
    m_buttonState = isReady() ? 1 : 0;
    return m_buttonState;
}

void IBackup3::setMainButtonState(int state)
{
    if (m_buttonState == state)
        return;
    m_buttonState = state;
    if (state == 0)
        m_indicatorPosition = 0;
    if (isCurrent())
        tellContainer(ChangeButton);
    collectIndicator();
}

double IBackup3::indicatorPositionForGlobal() const
{
    const double p = m_indicatorPosition.load();
    return (p < 0 || p > 100) ? -1.0 : p;
}

void IBackup3::setIndicatorPosition(double position)
{
    const double old = m_indicatorPosition.load();
    if (old != 0 && old > position)
        return;
    m_indicatorPosition = position;
    collectIndicator();
    if (old == position)
        return;
    if (isSelected() || m_externalRestore)
        tellContainer(ChangeStatus);
}

void IBackup3::setIndicatorPosition(double position, bool showNow)
{
    const double old = m_indicatorPosition.load();
    if (old != 0 && old > position)
        return;
    m_indicatorPosition = position;
    collectIndicator();
    if (!showNow || old == position)
        return;
    if (isSelected() || m_externalRestore) {
        m_lastStateChange = ChangeStatus;
        IBackup3Controller::shared().validateProcessIndicator();
    }
}

void IBackup3::setIndicatorPositionInZero()
{
    m_indicatorPosition = 0;
    m_lastStateChange = ChangeStatus;
}

void IBackup3::setFullSize(double units)
{
    m_fullNumberOfUnits = units;
    m_processedUnits = 0;
    m_indicatorPosition = 0;
}

void IBackup3::setSelected(bool flag)
{
    const bool changed = m_selected != flag;
    m_selected = flag;
    if (changed && flag)
        m_lastStateChange = ChangeCurrent;
}

bool IBackup3::isSelected() const
{
    IBackup3Container* container = backup3Container();
    if (!container)
        return false;
    const std::shared_ptr<IBackup3> current = container->currentBackup3();
    return current.get() == this;
}

QString IBackup3::lastStatusString() const
{
    return m_textInfo.text();
}

void IBackup3::storeStatus(const QByteArray& utf8)
{
    m_textInfo.set(utf8);
}

void IBackup3::setUTF8StatusString(const char* text)
{
    storeStatus(text ? QByteArray(text) : QByteArray());
}

void IBackup3::setLastStatusString(const QString& text)
{
    storeStatus(text.toUtf8());
    if (isCurrent())
        tellContainer(ChangeStatus);
}

void IBackup3::registerExternalChange(int code)
{
    if (code == ChangeDestination && m_buttonState != 2)
        mainButtonState();
    tellContainer(code);
}

void IBackup3::processMessage(const LogText& text, quint64 options, QObject* sender)
{
    QByteArray utf8;
    if (options & LogOption::Utf8)
        utf8 = text.toUtf8();
    else if (options & LogOption::String)
        utf8 = text.toUtf8();
    else
        return;
    // rsync's per-file progress lines are not log texts
    if (utf8.contains("to-chk=") || utf8.contains("to-check="))
        return;
    if (options & LogOption::Status) {
        storeStatus(utf8);
        m_lastStateChange = ChangeStatus;
        if ((options & LogOption::RefreshNow) && QVMainThread() && isSelected())
            IBackup3Controller::shared().validateStatusString();
    }
    if (options & (LogOption::Window | LogOption::RunLog))
        IShellServices::shared().processMessage(text, options, this);
    Q_UNUSED(sender);
}

// Fills the "%@" places of a work-message format in turn; the texts are taken as they are.
static QString fillWorkFormat(const QString& format, const QStringList& texts)
{
    QString out;
    qsizetype from = 0, n = 0;
    for (qsizetype at = format.indexOf(QLatin1String("%@")); at >= 0;
         at = format.indexOf(QLatin1String("%@"), from)) {
        out += format.mid(from, at - from);
        out += n < texts.size() ? texts.at(n) : QString();
        ++n;
        from = at + 2;
    }
    return out + format.mid(from);
}

void IBackup3::workMessage(int code, const QString& info)
{
    const QString format = workMessageString(code);
    processMessage(info.isNull() ? format : fillWorkFormat(format, { info }), LogWord::WindowPrefixed, this);
}

void IBackup3::workMessage2(int code, const QString& info, const QString& info2)
{
    const QString format = workMessageString(code);
    processMessage(
        info.isNull() ? format : fillWorkFormat(format, { info, info2 }), LogWord::WindowPrefixed, this);
}

void IBackup3::sendTextInfo(const QString& text, qint32 type, quint8 target, QObject*)
{
    if (target & tpStatus)
        setLastStatusString(text);
    IBackup3Controller::shared().sendTextInfo(text, type, target, this);
}

// ---- Due tests ---------------------------------------------------------------------------------

bool IBackup3::isTimeToProcessDate(const QDateTime& now, int, int, int, int)
{
    return isScheduledRunDue(
        now, m_bScheduled, isScheduleProcessStartIfLate(), m_nextProcessDate,
        [this](const QDateTime& from) { return computeNextProcessDate(from); },
        [this](const QDateTime& date) { setNextProcessDate(date); });
}

IBackup3Container* IBackup3::backup3Container() const
{
    if (IShellServices::shared().isWindowClosing())
        return nullptr;
    return IBackup3Container::shared();
}

// ---- Duplicate ---------------------------------------------------------------------------------

std::shared_ptr<IBackup3> IBackup3::duplicateProject()
{
    IBackup3Container* container = backup3Container();
    if (m_name.isEmpty() || !container)
        return nullptr;
    const QString base = m_name + QStringLiteral("-copy");
    QString name = base;
    for (long n = 1; !container->isUniqueName(name, nullptr); ++n)
        name = QStringLiteral("%1%2").arg(base).arg(n);
    const std::shared_ptr<IBackup3> copy = container->createNewBackup3(name);
    if (!copy)
        return nullptr;
    copy->setUseAdminPrivileges(isUseAdminPrivilegesForPass(-1));
    copy->setColor(m_color);
    // Places are copied, never shared: run marks and mounts of one project must not reach the other.
    if (m_destLocation)
        copy->setDestLocation(std::shared_ptr<ILocation>(ILocation::createCopy(*m_destLocation)));
    copy->setBackupTargetType(m_backupTargetType);
    if (m_backupTargetType != 0) {
        copy->setDIMaxSizeType(m_DIMaxSizeType);
        copy->setDIMaxSizeCustomValue(m_DIMaxSizeCustomValue);
    }
    copy->setFullAutomount(isFullAutomount());
    copy->setOptionDelete(isOptionDelete());
    copy->setOptionConsiderModDate(isOptionConsiderModDate());
    if (m_bScheduled) {
        copy->setScheduleMonthDay(m_nScheduleMonthDay);
        copy->setScheduleWeekDay(m_nScheduleWeekDay);
        copy->setScheduleTimeHHMM(m_nScheduleTimeHH, m_nScheduleTimeMM);
        copy->setScheduleIntervalType(m_ScheduleIntervalType);
        copy->setScheduleTimeInterval(m_nScheduleTimeInterval);
    }
    copy->setExcludeByPattern(isExcludeByPattern());
    copy->setExcludePattern(m_nsExcludePattern);
    copy->setExcludeInvisible(isExcludeInvisible());
    copy->setExcludeFinderData(isExcludeFinderData());
    copy->setExcludeApplications(isExcludeApplications());
    copy->setExcludeAliases(isExcludeAliases());
    copy->setExcludePathList(m_excludePathList);
    copy->setBackupCuttingCount(m_cuttingCount);
    copy->setBackupCuttingType(m_cuttingType);
    copy->setBackupCuttingCountItem(m_cuttingCountItem);
    QList<std::shared_ptr<ILocation>> sources;
    for (const auto& s : m_srcLocations)
        if (s)
            sources.append(std::shared_ptr<ILocation>(ILocation::createCopy(*s))); // keeps the tag
    copy->setSrcLocations(sources);
    // The copy's sources keep their tags, so its counter must cover them.
    copy->raiseTagCounterToSources();
    return copy;
}
