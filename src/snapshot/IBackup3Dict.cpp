// The stored dictionary of a snapshot-backup project.

#include "platform/PlistBridge.h"
#include "projects/ProjectColor.h"
#include "snapshot/B3DictKeys.h"
#include "snapshot/B3RestoreItem.h"
#include "snapshot/IBackup3.h"

using namespace B3DictKeys;

namespace {

bool isString(const QVariantMap& d, const QString& key)
{
    return d.value(key).typeId() == QMetaType::QString;
}

bool isNumber(const QVariantMap& d, const QString& key)
{
    const QVariant v = d.value(key);
    return PlistValue::isNumber(v) || v.typeId() == QMetaType::Bool;
}

bool boolOf(const QVariantMap& d, const QString& key)
{
    const QVariant v = d.value(key);
    if (v.typeId() == QMetaType::Bool)
        return v.toBool();
    return PlistValue::isInteger(v) ? v.toLongLong() != 0 : v.toDouble() != 0;
}

qint64 intOf(const QVariantMap& d, const QString& key)
{
    const QVariant v = d.value(key);
    if (v.typeId() == QMetaType::Bool)
        return v.toBool() ? 1 : 0;
    return PlistValue::isInteger(v) ? v.toLongLong() : qint64(v.toDouble());
}

// A stored name that becomes a path component: one component or nothing.
QString componentOf(const QVariantMap& d, const QString& key)
{
    if (!isString(d, key))
        return QString();
    const QString v = d.value(key).toString();
    return B3RestoreItem::isSinglePathComponent(v) ? v : QString();
}

} // namespace

void IBackup3::saveToDict(QVariantMap& dict) const
{
    dict.insert(cnsB3NameKey, m_name);
    dict.insert(cnsB3FileNameKey, m_fileName);
    dict.insert(cnsB3TagForSrcLocations, qint64(m_tagForLocations));
    if (m_lastProcessDate.isValid())
        dict.insert(cnsB3LastDateKey, m_lastProcessDate.toUTC());
    if (m_nextProcessDate.isValid())
        dict.insert(cnsB3NextDateKey, m_nextProcessDate.toUTC());
    if (!m_lastProcessFolder.isNull())
        dict.insert(cnsB3LastFolderKey, m_lastProcessFolder);
    saveLocationsToDict(dict);
    if (!m_projectBackupFolder.isNull())
        dict.insert(cnsB3ProjectBackupFolder, m_projectBackupFolder);
    dict.insert(cnsB3NewForDestLocationKey, m_targetChanged);
    if (!m_UUID.isNull())
        dict.insert(cnsB3UUIDKey, m_UUID);
    dict.insert(cnsB3OptionsKey, qint64(m_options));
    dict.insert(cnsB3ColorKey, m_colorData.isEmpty() ? ProjectColor::encode(m_color) : m_colorData);

    QVariantMap filters;
    filters.insert(cnsExcludeInvisible, isExcludeInvisible());
    filters.insert(cnsExcludeFinderData, isExcludeFinderData());
    filters.insert(cnsExcludeApplications, isExcludeApplications());
    filters.insert(cnsExcludeAliases, isExcludeAliases());
    filters.insert(cnsExcludeByPattern, isExcludeByPattern());
    filters.insert(cnsIncludeByPattern, isIncludeByPattern());
    filters.insert(cnsExcludeExtAttrs, qint64(extendedAttrsProcessType()));
    if (!m_nsExcludePattern.isNull())
        filters.insert(cnsExcludePattern, m_nsExcludePattern);
    if (!m_nsIncludePattern.isNull())
        filters.insert(cnsIncludePattern, m_nsIncludePattern);
    dict.insert(cnsFilters, filters);

    if (m_excludePathList && !m_excludePathList->isEmpty())
        dict.insert(cnsB3ExcludePathList, QVariant(*m_excludePathList).toList());

    QVariantMap schedule;
    schedule.insert(cnsUseScheduled, m_bScheduled);
    schedule.insert(cnsScheduleIntervalType, qint64(m_ScheduleIntervalType));
    schedule.insert(cnsTimeHH, qint64(m_nScheduleTimeHH));
    schedule.insert(cnsTimeMM, qint64(m_nScheduleTimeMM));
    schedule.insert(cnsWeekDay, qint64(m_nScheduleWeekDay));
    schedule.insert(cnsMonthDay, qint64(m_nScheduleMonthDay));
    schedule.insert(cnsTimeInterval, qint64(m_nScheduleTimeInterval));
    schedule.insert(cnsProcessOnMount, m_processOnMount);
    dict.insert(cnsSchedule, schedule);

    dict.insert(cnsB3LastProcessFailed, m_lastProcessFailed);
    dict.insert(cnsUseAdminPrivileges, isUseAdminPrivilegesForPass(-1));
    dict.insert(cnsB3Type, qint64(m_backup3Type));
    dict.insert(cnsBackupCuttingNumber, qint64(m_cuttingCount));
    dict.insert(cnsBackupCuttingCountItem, qint64(m_cuttingCountItem));
    dict.insert(cnsBackupCuttingType, qint64(m_cuttingType));
    if (!m_BDIDict.isEmpty())
        dict.insert(cnsBackupDiskImage, m_BDIDict);
    dict.insert(cnsUseDiskImage, qint64(m_backupTargetType));
    dict.insert(cnsDiskImagePasswordInKeychain, m_BDIPasswordInKeychain);
    dict.insert(cnsDiskImageMaxSizeType, qint64(m_DIMaxSizeType));
    dict.insert(cnsDiskImageMaxSizeCustomValue, m_DIMaxSizeCustomValue);

    // the project base's keys
    IProject::saveToDict(dict);
}

bool IBackup3::loadFromDict(const QVariantMap& dict, int scheme)
{
    const bool hasName = isString(dict, cnsB3NameKey);
    if (hasName)
        setName(dict.value(cnsB3NameKey).toString());
    if (isNumber(dict, cnsB3TagForSrcLocations))
        m_tagForLocations = long(intOf(dict, cnsB3TagForSrcLocations));
    if (dict.value(cnsB3LastDateKey).typeId() == QMetaType::QDateTime)
        setLastProcessDate(dict.value(cnsB3LastDateKey).toDateTime());
    if (dict.value(cnsB3NextDateKey).typeId() == QMetaType::QDateTime)
        setNextProcessDate(dict.value(cnsB3NextDateKey).toDateTime());
    // The last version folder becomes a path component (the hard-link reference of the next run).
    const QString lastFolder = componentOf(dict, cnsB3LastFolderKey);
    if (!lastFolder.isNull())
        setLastProcessFolder(lastFolder);
    if (isNumber(dict, cnsB3FullAutomount))
        setFullAutomount(boolOf(dict, cnsB3FullAutomount));
    if (isString(dict, cnsB3UUIDKey))
        setUUID(dict.value(cnsB3UUIDKey).toString());
    // The file name becomes the project folder: one component, else the sanitised default.
    const QString fileName = componentOf(dict, cnsB3FileNameKey);
    setFileName(fileName.isNull() ? defaultFileName(m_name, m_UUID) : fileName);
    if (isNumber(dict, cnsB3NewForDestLocationKey))
        setTargetChanged(boolOf(dict, cnsB3NewForDestLocationKey));
    const QString projectFolder = componentOf(dict, cnsB3ProjectBackupFolder);
    if (!projectFolder.isNull())
        setProjectBackupFolder(projectFolder);
    loadLocationsFromDict(dict, scheme);
    if (isNumber(dict, cnsB3OptionsKey))
        setOptions(quint64(intOf(dict, cnsB3OptionsKey)));
    if (dict.value(cnsB3ColorKey).typeId() == QMetaType::QByteArray) {
        const QByteArray data = dict.value(cnsB3ColorKey).toByteArray();
        bool ok = false;
        setColor(ProjectColor::decode(data, &ok));
        if (ok)
            m_colorData = data;
    }
    setBackup3Type(-1);

    const QVariant filtersValue = dict.value(cnsFilters);
    if (filtersValue.typeId() == QMetaType::QVariantMap) {
        const QVariantMap f = filtersValue.toMap();
        if (isNumber(f, cnsExcludeInvisible))
            setExcludeInvisible(boolOf(f, cnsExcludeInvisible));
        if (isNumber(f, cnsExcludeFinderData))
            setExcludeFinderData(boolOf(f, cnsExcludeFinderData));
        if (isNumber(f, cnsExcludeApplications))
            setExcludeApplications(boolOf(f, cnsExcludeApplications));
        if (isNumber(f, cnsExcludeAliases))
            setExcludeAliases(boolOf(f, cnsExcludeAliases));
        if (isNumber(f, cnsExcludeByPattern))
            setExcludeByPattern(boolOf(f, cnsExcludeByPattern));
        if (isNumber(f, cnsIncludeByPattern))
            setIncludeByPattern(boolOf(f, cnsIncludeByPattern));
        if (isNumber(f, cnsExcludeExtAttrs))
            setExtendedAttrsProcessType(int(intOf(f, cnsExcludeExtAttrs)));
        if (isString(f, cnsExcludePattern))
            setExcludePattern(f.value(cnsExcludePattern).toString());
        if (isString(f, cnsIncludePattern))
            setIncludePattern(f.value(cnsIncludePattern).toString());
    }

    const QVariant scheduleValue = dict.value(cnsSchedule);
    if (scheduleValue.typeId() == QMetaType::QVariantMap) {
        const QVariantMap s = scheduleValue.toMap();
        if (isNumber(s, cnsUseScheduled))
            setScheduled(boolOf(s, cnsUseScheduled));
        if (isNumber(s, cnsScheduleIntervalType))
            setScheduleIntervalType(int(intOf(s, cnsScheduleIntervalType)));
        if (isNumber(s, cnsTimeHH))
            setScheduleTimeHH(qint16(intOf(s, cnsTimeHH)));
        if (isNumber(s, cnsTimeMM))
            setScheduleTimeMM(qint16(intOf(s, cnsTimeMM)));
        if (isNumber(s, cnsWeekDay))
            setScheduleWeekDay(qint16(intOf(s, cnsWeekDay)));
        if (isNumber(s, cnsMonthDay))
            setScheduleMonthDay(qint16(intOf(s, cnsMonthDay)));
        if (isNumber(s, cnsTimeInterval))
            setScheduleTimeInterval(qint16(intOf(s, cnsTimeInterval)));
        if (isNumber(s, cnsProcessOnMount))
            setProcessOnMount(boolOf(s, cnsProcessOnMount));
        // These keys sit outside "Schedule" but are read only with it, as lists have always been.
        if (isNumber(dict, cnsUseAdminPrivileges))
            setUseAdminPrivileges(boolOf(dict, cnsUseAdminPrivileges));
        if (isNumber(dict, cnsB3LastProcessFailed))
            setLastProcessFailed(boolOf(dict, cnsB3LastProcessFailed));
        if (isNumber(dict, cnsBackupCuttingNumber))
            setBackupCuttingCount(long(intOf(dict, cnsBackupCuttingNumber)));
        setBackupCuttingType(
            isNumber(dict, cnsBackupCuttingType) ? int(intOf(dict, cnsBackupCuttingType)) : 0);
        setBackupCuttingCountItem(
            isNumber(dict, cnsBackupCuttingCountItem) ? int(intOf(dict, cnsBackupCuttingCountItem)) : 0);
    }
    // A value that is not an array loads as no list.
    const QVariant excludes = dict.value(cnsB3ExcludePathList);
    if (excludes.typeId() == QMetaType::QVariantList) {
        QStringList list;
        for (const QVariant& v : excludes.toList())
            if (v.typeId() == QMetaType::QString && !v.toString().isEmpty() && !list.contains(v.toString()))
                list.append(v.toString());
        setExcludePathList(list);
    }

    if (dict.value(cnsBackupDiskImage).typeId() == QMetaType::QVariantMap)
        setBDIDict(dict.value(cnsBackupDiskImage).toMap());
    if (isNumber(dict, cnsUseDiskImage)) {
        const qint64 kind = intOf(dict, cnsUseDiskImage);
        if (kind >= 0 && kind <= 2)
            setBackupTargetType(int(kind));
    }
    if (isNumber(dict, cnsDiskImagePasswordInKeychain))
        setBDIPasswordInKeychain(boolOf(dict, cnsDiskImagePasswordInKeychain));
    if (isNumber(dict, cnsDiskImageMaxSizeType))
        setDIMaxSizeType(int(intOf(dict, cnsDiskImageMaxSizeType)));
    if (isNumber(dict, cnsDiskImageMaxSizeCustomValue))
        setDIMaxSizeCustomValue(dict.value(cnsDiskImageMaxSizeCustomValue).toDouble());

    // the project base's keys: an absent start-if-late key means YES
    IProject::loadFromDict(dict);

    // A loaded source must never share its tag with a source added later.
    raiseTagCounterToSources();
    return hasName;
}
